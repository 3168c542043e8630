// 44.1 kHz stereo to 8 kHz mono as a codec object runs it (downmix, then the
// windowed-sinc converter), as a multiple of real time, next to ffmpeg's
// aresample (default and soxr) on the same input in the same run.
#include <benchmark/benchmark.h>

#include <vector>

#include "../tests/signal.h"

namespace {

constexpr double kSeconds = 120.0;

const std::vector<int16_t>& input() {
  static const std::vector<int16_t> v = stereo_tones(44100, kSeconds, {250, 1000, 2200, 3300}, 6000);
  return v;
}

void BM_OurChain(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(convert_chain(input(), 44100, 8000, 160));
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
  // Alias rejection of a 6 kHz tone (it would fold to 2 kHz).
  state.counters["alias_dB"] = alias_rejection_db(6000.0);
}
BENCHMARK(BM_OurChain)->Unit(benchmark::kMillisecond);

void ffmpeg_run(benchmark::State& state, const char* filter) {
  std::vector<int16_t> out;
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
