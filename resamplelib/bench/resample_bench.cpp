// 44.1 kHz stereo to 8 kHz mono as a codec object runs it (downmix, then the
// windowed-sinc converter), as a multiple of real time, next to ffmpeg's
// aresample (default and soxr) on the same input in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "resamplelib/resample.h"

#include "../tests/signal.h"

namespace {

constexpr double kSeconds = 120.0;

const std::vector<int16_t>& input() {
  static const std::vector<int16_t> v = stereo_tones(44100, kSeconds, {250, 1000, 2200, 3300}, 6000);
  return v;
}

void BM_OurChain(benchmark::State& state) {
  input();  // made outside the timed loop
  for (auto _ : state) benchmark::DoNotOptimize(convert_chain(input(), 44100, 8000, 160));
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
  // Alias rejection of a 6 kHz tone (it would fold to 2 kHz).
  state.counters["alias_dB"] = alias_rejection_db(6000.0);
}
BENCHMARK(BM_OurChain)->Unit(benchmark::kMillisecond);

// The converter alone on float samples: 44.1 kHz to 8 kHz mono (the speech
// codecs) and 44.1 kHz to 48 kHz stereo (an AAC stream).
void BM_SincEngine(benchmark::State& state) {
  const int outRate = int(state.range(0)), channels = int(state.range(1));
  std::vector<float> in(size_t(44100 * 10 * channels));
  for (size_t i = 0; i < in.size(); ++i) in[i] = float(1000.0 * std::sin(0.01 * double(i)));
  for (auto _ : state) {
    ResamplerState* s = nullptr;
    resample_open(&s, 44100, outRate, channels, 1024 * channels, 1024 * channels, 2, 1, nullptr);
    benchmark::DoNotOptimize(resample_all(s, in, false));
    resample_close(s);
  }
  state.counters["x_realtime"] = benchmark::Counter(10.0, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_SincEngine)->Args({8000, 1})->Args({48000, 2})->Unit(benchmark::kMillisecond);

void ffmpeg_run(benchmark::State& state, const char* filter) {
  std::vector<int16_t> out;
  input();
  for (auto _ : state) {
    double seconds = 0;
    if (!ffmpeg_convert(input(), 44100, filter, &out, &seconds)) {
      state.SkipWithError("ffmpeg not reachable");
      return;
    }
    state.SetIterationTime(seconds);
  }
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_FfmpegAresampleDefault(benchmark::State& state) {
  ffmpeg_run(state, "pan=mono|c0=0.5*c0+0.5*c1,aresample=8000");
}
BENCHMARK(BM_FfmpegAresampleDefault)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_FfmpegAresampleSoxr(benchmark::State& state) {
  ffmpeg_run(state, "pan=mono|c0=0.5*c0+0.5*c1,aresample=8000:resampler=soxr");
}
BENCHMARK(BM_FfmpegAresampleSoxr)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// The same ffmpeg run without resampling: what decoding, mixing and file
// I/O cost inside ffmpeg, to read the two figures above against.
void BM_FfmpegBaseline(benchmark::State& state) { ffmpeg_run(state, "pan=mono|c0=0.5*c0+0.5*c1"); }
BENCHMARK(BM_FfmpegBaseline)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
