#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "mp4aenc/fft.h"
#include "mp4aenc/fft_radix4.h"

namespace {

std::vector<float> noise(int n) {
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(gen);
  return v;
}

// Each iteration transforms a fresh copy so the values stay bounded.
void BM_RealFftRadix4_1024(benchmark::State& state) {
  std::vector<float> src = noise(1024), work(1024);
  for (auto _ : state) {
    work = src;
    fft_radix4_dif(work.data());
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_RealFftRadix4_1024);

void BM_RealFftRadix4_RoundTrip(benchmark::State& state) {
  std::vector<float> src = noise(1024), work(1024);
  for (auto _ : state) {
    work = src;
    fft_radix4_dif(work.data());
    fft_radix4_dit(work.data());
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_RealFftRadix4_RoundTrip);

void BM_FftReal(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<float> src = noise(n), work(n);
  for (auto _ : state) {
    work = src;
    fft_real(work.data(), n);
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_FftReal)->Arg(256)->Arg(1024)->Arg(2048);

void BM_FftComplex(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<float> src = noise(2 * n), work(2 * n);
  for (auto _ : state) {
    work = src;
    fft_complex(work.data(), n, -1);
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_FftComplex)->Arg(480)->Arg(512)->Arg(960)->Arg(1024);

// The MDCT of a long block (2048 windowed samples) and a short one (256).
void BM_Mdct(benchmark::State& state) {
  const int n = int(state.range(0));
  std::vector<float> src = noise(n), work(n);
  for (auto _ : state) {
    work = src;
    dft_mdct_phase(work.data(), n);
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_Mdct)->Arg(256)->Arg(1920)->Arg(2048);

}  // namespace
