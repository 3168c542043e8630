// 44.1 kHz stereo to 8 kHz mono as a codec object runs it (downmix, then the
// windowed-sinc converter), as a multiple of real time in processor time,
// next to ffmpeg's aresample (default and soxr) on the same input in the
// same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "resamplelib/pcm_frame_buffer.h"
#include "resamplelib/resample.h"

#include "../tests/signal.h"

namespace {

constexpr double kSeconds = 120.0;

const std::vector<int16_t>& input() {
  static const std::vector<int16_t> v = stereo_tones(44100, kSeconds, {250, 1000, 2200, 3300}, 6000);
  return v;
}

// The chain with each way of summing the taps: 0 the plain loop, 1 SSE2,
// 2 AVX2 (where the processor has it).
void BM_OurChain(benchmark::State& state) {
  const int kernel = int(state.range(0));
  input();  // made outside the timed loop
  for (auto _ : state) benchmark::DoNotOptimize(convert_chain(input(), 44100, 8000, 160, kernel));
  state.counters["x_realtime"] =
      benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
  // Worst rejection of a full-level tone above 4.4 kHz (it folds back).
  state.counters["alias_dB"] = std::min(worst_alias_rejection_db(4400, 5400, 20, kernel, nullptr),
                                        worst_alias_rejection_db(5400, 22000, 610, kernel, nullptr));
}
BENCHMARK(BM_OurChain)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The converter alone (halving stages, if any, and the windowed-sinc
// engine) on 16-bit samples as the codec objects give them, opened afresh
// each time: 44.1 kHz to 8 kHz mono (the speech codecs; compare with
// ffmpeg's converting-only figure, also 16-bit in and out) and 44.1 kHz to
// 48 kHz stereo (an AAC stream), fastest kernels.
void BM_RateConverter(benchmark::State& state) {
  const int outRate = int(state.range(0)), channels = int(state.range(1));
  std::vector<int16_t> in(size_t(44100 * kSeconds) * size_t(channels));
  for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(6000.0 * std::sin(0.01 * double(i)));
  std::vector<int16_t> frame(size_t(160 * channels));
  for (auto _ : state) {
    CRateConverter rate;
    rate.Open(44100, outRate, channels, 16, 160, outRate, 1);
    int sum = 0;
    for (size_t at = 0;;) {
      int needed = 0;
      rate.Needed(&needed);
      if (at + size_t(needed) > in.size()) break;
      PcmBlock input{reinterpret_cast<uint8_t*>(in.data() + at), uint32_t(2 * needed), 0, 0, 0};
      PcmBlock output{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
      rate.Process(&input, &output, uint32_t(2 * frame.size()));
      at += size_t(needed);
      if (output.length) sum += frame[0];
    }
    benchmark::DoNotOptimize(sum);
    rate.Close();
  }
  state.counters["x_realtime"] = benchmark::Counter(kSeconds, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RateConverter)->Args({8000, 1})->Args({48000, 2})->Unit(benchmark::kMillisecond);

// ffmpeg's processor time for the chain with and without its resampler,
// over the input played ten times; the difference of the medians is what
// converting alone costs it (reading, mixing and writing the files left
// out). Single runs of a process vary by tens of milliseconds on a shared
// machine, hence the long input and the medians.
double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

void ffmpeg_run(benchmark::State& state, const char* resampler) {
  const std::string mix = "pan=mono|c0=0.5*c0+0.5*c1";
  constexpr int kLoops = 10;
  std::vector<int16_t> out;
  input();
  std::vector<double> with, without;
  for (auto _ : state) {
    double w = 0, wo = 0;
    if (!ffmpeg_convert(input(), 44100, mix + ",aresample=8000" + resampler, &out, &w, kLoops) ||
        !ffmpeg_convert(input(), 44100, mix, &out, &wo, kLoops)) {
      state.SkipWithError("ffmpeg not reachable");
      return;
    }
    with.push_back(w);
    without.push_back(wo);
    state.SetIterationTime(std::max(w - wo, 1e-6) / kLoops);
  }
  const double converting = std::max(median(with) - median(without), 1e-6);
  state.counters["x_realtime"] = kSeconds * kLoops / converting;
  // The same figure with ffmpeg's file work counted.
  state.counters["x_realtime_whole"] = kSeconds * kLoops / median(with);
  state.counters["file_work_s"] = median(without) / kLoops;
  // Worst rejection of a full-level tone above 4.4 kHz, on its 16-bit
  // output (whose own rounding floor lies near 96 dB).
  double worst = 1e9;
  for (double f = 4400; f <= 6000; f += 100) {
    const std::vector<int16_t> tone = stereo_tones(44100, 2.0, {f}, 16000.0);
    if (!ffmpeg_convert(tone, 44100, mix + ",aresample=8000" + resampler, &out)) return;
    double energy = 0;
    for (size_t n = 1000; n + 1000 < out.size(); ++n) energy += double(out[n]) * out[n];
    const double rms = std::sqrt(energy / double(out.size() - 2000));
    worst = std::min(worst, 20.0 * std::log10(16000.0 / std::sqrt(2.0) / std::max(rms, 1e-3)));
  }
  state.counters["alias_dB"] = worst;
}

void BM_FfmpegAresampleDefault(benchmark::State& state) { ffmpeg_run(state, ""); }
BENCHMARK(BM_FfmpegAresampleDefault)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

void BM_FfmpegAresampleSoxr(benchmark::State& state) { ffmpeg_run(state, ":resampler=soxr"); }
BENCHMARK(BM_FfmpegAresampleSoxr)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(7);

}  // namespace
