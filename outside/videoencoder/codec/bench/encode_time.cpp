// encode_time YUV WIDTH HEIGHT BITRATE [PASSES]: encodes a yuv420p file at 25
// pictures per second the given number of times and prints pictures per
// second, the mean PSNR-Y of the reconstruction and the bit rate reached. A
// plain program, so that the Windows builds can be timed under Wine too.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "videoenc/venc.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: encode_time YUV WIDTH HEIGHT BITRATE [PASSES]\n");
    return 2;
  }
  const int w = std::atoi(argv[2]), h = std::atoi(argv[3]), rate = std::atoi(argv[4]);
  const int passes = argc > 5 ? std::atoi(argv[5]) : 3;
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f || w <= 0 || h <= 0) return 1;
  std::vector<unsigned char> yuv;
  unsigned char buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) yuv.insert(yuv.end(), buf, buf + n);
  std::fclose(f);
  const size_t frameBytes = size_t(w) * h * 3 / 2;
  const int frames = int(yuv.size() / frameBytes);
  if (!frames) return 1;

  VencSettings s{};
  s.width = w;
  s.height = h;
  s.bitRate = rate;
  s.frameRate = 25;
  s.intraInterval = 50;
  s.quantiser = 8;
  s.searchRange = 15;
  double seconds = 0, psnr = 0;
  size_t bytes = 0;
  for (int p = 0; p < passes; ++p) {
    VideoEncoder enc;
    if (!venc_create(&enc, &s)) return 1;
    std::vector<unsigned char> out(size_t(venc_max_frame_bytes(&enc)));
    bytes = 0;
    psnr = 0;
    for (int i = 0; i < frames; ++i) {
      const unsigned char* y = yuv.data() + size_t(i) * frameBytes;
      const VencPicture pic{y, y + size_t(w) * h, y + size_t(w) * h * 5 / 4, w, w / 2};
      const auto t0 = std::chrono::steady_clock::now();
      const int got = venc_encode(&enc, &pic, uint32_t(i * 40), 0, out.data(), int32_t(out.size()), nullptr);
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
      if (got <= 0) return 1;
      bytes += size_t(got);
      int cw, ch;
      const unsigned char* r = venc_reconstruction(&enc, &cw, &ch);
      double se = 0;
      for (int row = 0; row < h; ++row)
        for (int c = 0; c < w; ++c) {
          const double d = double(y[size_t(row) * w + c]) - r[size_t(row) * cw + c];
          se += d * d;
        }
      psnr += se ? 10 * std::log10(255.0 * 255.0 * w * h / se) : 99;
    }
    venc_destroy(&enc);
  }
  std::printf("%dx%d %d pictures x %d: %.1f pictures/s, PSNR-Y %.2f dB, %.1f kbit/s\n", w, h, frames, passes,
              frames * passes / seconds, psnr / frames, bytes * 8.0 / (frames / 25.0) / 1000);
  return 0;
}
