// Megapixels per second of each colour converter and of the post-filter
// modes, on a CIF picture.
#include <benchmark/benchmark.h>

#include <vector>

#include "video/colour.h"
#include "video/postfilter.h"

namespace {

constexpr int kW = 352, kH = 288;

std::vector<uint8_t> TestPicture() {
  std::vector<uint8_t> yuv(kW * kH * 3 / 2);
  uint32_t s = 1;
  for (size_t i = 0; i < yuv.size(); ++i) {
    s = s * 1664525u + 1013904223u;
    yuv[i] = uint8_t(((i % kW) / 8 * 13) + (s >> 28));
  }
  return yuv;
}

void Converter(benchmark::State& state) {
  const int bits = int(state.range(0));
  auto yuv = TestPicture();
  const uint8_t* planes[3] = {yuv.data(), yuv.data() + kW * kH, yuv.data() + kW * kH * 5 / 4};
  DisplayFormat src{12, kH, kW, 0, 0, kDisplayKindPlanarYuv420, kW, kH, 0, 0, 0, 0, nullptr, 0};
  std::vector<uint8_t> palette(1024);
  DisplayFormat dst{bits, kH, kW, 0, 0, kDisplayKindPackedRgb, kW, kH, 0, 0xF800, 0x7E0, 0x1F,
                    bits == 8 ? palette.data() : nullptr, bits == 8 ? 256u : 0u};
  std::vector<uint8_t> out(size_t(kW) * kH * 4);
  ColorConverterHolder holder;
  holder.Select(dst);
  for (auto _ : state) {
    holder.Convert(planes, out.data(), 0, 0, dst, src, kConvertModePacked4);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(double(kW) * kH * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(Converter)->Arg(4)->Arg(8)->Arg(12)->Arg(16)->Arg(24)->Arg(32);

void PostFilter(benchmark::State& state) {
  auto yuv = TestPicture();
  const int mbCount = kW / 16 * (kH / 16);
  std::vector<int32_t> quant(mbCount, 10);
  std::vector<uint8_t> flags(6 * mbCount), other(6 * mbCount);
  for (size_t i = 0; i < flags.size(); ++i) flags[i] = other[i] = uint8_t(i % 8);
  std::vector<uint8_t> out(yuv.size());
  uint8_t* arrays[2] = {flags.data(), other.data()};
  PostFilterInput in{{yuv.data(), yuv.data() + kW * kH, yuv.data() + kW * kH * 5 / 4}, kW, kH, quant.data(), arrays};
  for (auto _ : state) {
    vdec_postfilter(in, out.data(), int(state.range(0)));
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["MP/s"] = benchmark::Counter(double(kW) * kH * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
}
BENCHMARK(PostFilter)->Arg(0)->Arg(1)->Arg(2)->Arg(3);

}  // namespace
