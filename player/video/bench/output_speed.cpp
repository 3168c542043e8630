// output_speed FILE.yuv WIDTH HEIGHT [PASSES [plain]]: megapixels per second
// of each colour converter and post-filter mode over the decoded pictures of
// a raw YUV 4:2:0 file; "plain" times the reference loops instead of the
// vector paths. A plain program, so the Windows builds can be timed too;
// bench/output_bench.sh runs it beside swscale and libpostproc.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "video/colour.h"
#include "video/postfilter.h"

namespace {

// Block flags as the block decoders would leave them for these pixels: flat
// across a direction when the block's first row (column) does not change.
std::vector<uint8_t> FlagsOf(const uint8_t* yuv, int w, int h) {
  std::vector<uint8_t> flags;
  const uint8_t* planes[3] = {yuv, yuv + size_t(w) * h, yuv + size_t(w) * h * 5 / 4};
  for (int p = 0; p < 3; ++p) {
    const int pw = p ? w / 2 : w, ph = p ? h / 2 : h;
    for (int by = 0; by < ph / 8; ++by)
      for (int bx = 0; bx < pw / 8; ++bx) {
        const uint8_t* b = planes[p] + size_t(by * 8) * pw + bx * 8;
        bool rowFlat = true, colFlat = true;
        for (int i = 1; i < 8; ++i) rowFlat &= b[i] == b[0], colFlat &= b[size_t(i) * pw] == b[0];
        flags.push_back(uint8_t((rowFlat ? kBlockFlatHorizontal : 0) | (colFlat ? kBlockFlatVertical : 0) |
                                (rowFlat && colFlat ? 0 : kBlockTextured)));
      }
  }
  return flags;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: output_speed FILE.yuv WIDTH HEIGHT [PASSES [plain]]\n");
    return 2;
  }
  const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
  const int passes = argc > 4 ? std::atoi(argv[4]) : 10;
  const bool plain = argc > 5 && std::string(argv[5]) == "plain";
  vdec_postfilter_plain(plain);
  std::ifstream f(argv[1], std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  const size_t frameBytes = size_t(w) * h * 3 / 2;
  if (w <= 0 || h <= 0 || passes < 1 || data.size() < frameBytes) {
    std::fprintf(stderr, "output_speed: cannot read %s at %dx%d\n", argv[1], w, h);
    return 1;
  }
  const size_t frames = data.size() / frameBytes;
  const double megapixels = double(w) * h * double(frames) * passes / 1e6;
  std::vector<uint8_t> out(size_t(w) * h * 4);
  auto timed = [&](const char* name, auto&& work) {
    const auto start = std::chrono::steady_clock::now();
    for (int p = 0; p < passes; ++p)
      for (size_t i = 0; i < frames; ++i) work(data.data() + i * frameBytes);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-10s %8.0f MP/s\n", name, megapixels / s);
  };

  std::vector<uint8_t> palette(1024);
  for (int bits : {4, 8, 16, 24, 32}) {
    const DisplayFormat src{12, h, w, 0, 0, kDisplayKindPlanarYuv420, w, h, 0, 0, 0, 0, nullptr, 0};
    const DisplayFormat dst{bits, h, w, 0, 0, kDisplayKindPackedRgb, w, h, 0, 0xF800, 0x7E0, 0x1F,
                            bits == 8 ? palette.data() : nullptr, bits == 8 ? 256u : 0u};
    ColorConverterHolder holder;
    holder.Select(dst);
    holder.converter()->UsePlainPath(plain);
    const std::string name = "convert" + std::to_string(bits);
    timed(name.c_str(), [&](const uint8_t* yuv) {
      const uint8_t* planes[3] = {yuv, yuv + size_t(w) * h, yuv + size_t(w) * h * 5 / 4};
      holder.Convert(planes, out.data(), 0, 0, dst, src, kConvertModePacked4);
    });
  }

  // Flags and quantisers per picture, made before timing.
  std::vector<std::vector<uint8_t>> flags;
  for (size_t i = 0; i < frames; ++i) flags.push_back(FlagsOf(data.data() + i * frameBytes, w, h));
  const std::vector<int32_t> quant(size_t(w / 16) * (h / 16), 6);
  std::vector<uint8_t> spare(flags[0].size()), filtered(frameBytes);
  for (int mode : {1, 2, 3}) {
    size_t n = 0;
    const std::string name = "filter" + std::to_string(mode);
    timed(name.c_str(), [&](const uint8_t* yuv) {
      uint8_t* arrays[2] = {flags[n++ % frames].data(), spare.data()};
      PostFilterInput in{{yuv, yuv + size_t(w) * h, yuv + size_t(w) * h * 5 / 4}, w, h, quant.data(), arrays};
      vdec_postfilter(in, filtered.data(), mode);
    });
  }
  return 0;
}
