// Per frame and channel: analysis windowing, the forward transforms (one
// long block or eight short ones), the synthesis filterbank, and the block-
// switching and window-shape decisions. bench/psy_bench.sh runs it beside a
// numpy peer of the same transforms.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/psymain.h"
#include "mp4aenc/sw_cont.h"
#include "mp4aenc/window.h"

namespace {

std::vector<float> noise(size_t n) {
  std::mt19937 gen(1);
  std::normal_distribution<float> d(0.0f, 3000.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(gen);
  return v;
}

struct Windows {
  WindowObject* w[4] = {};
  Windows() {
    const int left[4] = {1, 1, 0, 0}, right[4] = {1, 0, 0, 1};
    for (int s = 0; s < 4; ++s) window_create(&w[s], s == 2 ? 256 : 2048, s, left[s], right[s], 1, 8);
  }
  ~Windows() {
    for (WindowObject* x : w) object_free(x);
  }
};

void BM_WindowLong(benchmark::State& state) {
  Windows win;
  std::vector<float> src = noise(2048), block(2048);
  for (auto _ : state) {
    std::memcpy(block.data(), src.data(), sizeof(float) * 2048);
    window_apply(win.w[0], block.data());
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_WindowLong);

void BM_MdctLong(benchmark::State& state) {
  Windows win;
  std::vector<float> src = noise(2048), block(2048);
  for (auto _ : state) {
    std::memcpy(block.data(), src.data(), sizeof(float) * 2048);
    window_apply(win.w[0], block.data());
    dft_mdct_phase(block.data(), 2048);
    benchmark::DoNotOptimize(block.data());
  }
}
BENCHMARK(BM_MdctLong);

void BM_MdctEightShort(benchmark::State& state) {
  Windows win;
  std::vector<float> src = noise(2048), block(256);
  for (auto _ : state) {
    for (int k = 0; k < 8; ++k) {
      std::memcpy(block.data(), src.data() + 448 + 128 * k, sizeof(float) * 256);
      window_apply(win.w[2], block.data());
      dft_mdct_phase(block.data(), 256);
      benchmark::DoNotOptimize(block.data());
    }
  }
}
BENCHMARK(BM_MdctEightShort);

void BM_SynthesisLong(benchmark::State& state) {
  Windows win;
  std::vector<float> spectrum = noise(1024), out(1024), overlap(1024, 0.0f);
  for (auto _ : state) {
    filterbank_window_frame(spectrum.data(), out.data(), overlap.data(), 0, 1024, 128, 8,
                            win.w[0]->coefficients);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_SynthesisLong);

void BM_SynthesisEightShort(benchmark::State& state) {
  Windows win;
  std::vector<float> spectrum = noise(1024), out(1024), overlap(1024, 0.0f);
  for (auto _ : state) {
    filterbank_window_frame(spectrum.data(), out.data(), overlap.data(), 2, 1024, 128, 8,
                            win.w[2]->coefficients);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_SynthesisEightShort);

// The decision only: the eight short spectra are pushed in advance.
void BM_BlockSwitching(benchmark::State& state) {
  PsyConf* conf = nullptr;
  psy_conf_create(&conf, 1024, 44100, 64000, 0.0f, 0, 2);
  SwCont* sw = nullptr;
  sw_cont_create(&sw, conf, 8, 0);
  FloatFifo* fifo = nullptr;
  fifo_create(&fifo, 24, 256);
  Windows win;
  std::vector<float> src = noise(8 * 1024), block(256);
  for (int k = 0; k < 24; ++k) {
    std::memcpy(block.data(), src.data() + 128 * k, sizeof(float) * 256);
    window_apply(win.w[2], block.data());
    dft_mdct_phase(block.data(), 256);
    fifo_push(fifo, block.data());
  }
  int seq = 0;
  for (auto _ : state) {
    lowPeRatioHist(sw, fifo, &seq, 8);
    benchmark::DoNotOptimize(seq);
  }
  fifo_free(fifo);
  sw_cont_free(sw);
  psy_conf_delete(conf);
}
BENCHMARK(BM_BlockSwitching);

void BM_WindowShapeAdaptation(benchmark::State& state) {
  PsyConf* conf = nullptr;
  psy_conf_create(&conf, 1024, 44100, 64000, 0.0f, 0, 2);
  WsAdapt* wsa = nullptr;
  WindowObject* w = nullptr;
  ws_adapt_create(&wsa, &w, 2048, 0, 0, conf, 8, 1);
  FloatFifo* fifo = nullptr;
  fifo_create(&fifo, 24, 256);
  std::vector<float> src = noise(24 * 256);
  for (int k = 0; k < 24; ++k) fifo_push(fifo, src.data() + 256 * k);
  for (auto _ : state) {
    winShapeHist(wsa, 0, fifo, &w, 8);
    benchmark::DoNotOptimize(w);
  }
  fifo_free(fifo);
  ws_adapt_free(wsa);
  psy_conf_delete(conf);
}
BENCHMARK(BM_WindowShapeAdaptation);

}  // namespace

namespace {

// The whole model on one stereo frame of noise with a click now and then.
void BM_PsymainStereo(benchmark::State& state) {
  const float rate = float(state.range(0));
  AacChannelMap map{};
  aac_channel_map_build(&map, 2, 0);
  PsyMain* psy = nullptr;
  psymain_create(&psy, 2, 1, 1024, rate, 128000, 0.0f, &map, 2);
  std::vector<float> pcm = noise(2 * 1024);
  long frames = 0;
  for (auto _ : state) {
    pcm[100] = (++frames % 8 == 0) ? 32767.0f : pcm[101];
    psymain_frame(psy, pcm.data());
    benchmark::DoNotOptimize(psy->chan[0].out.maxSfb);
  }
  state.counters["share_of_real_time_%"] = benchmark::Counter(
      double(state.iterations()) * 1024.0 / rate / 100.0,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  psymain_delete(psy);
}
BENCHMARK(BM_PsymainStereo)->Arg(44100)->Arg(48000);

}  // namespace
