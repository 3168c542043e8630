// MB/s of writing and reading 16- and 24-bit stereo WAVE through the front
// (float samples), next to a plain copy of the same bytes with fread/fwrite
// in the same run.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audiolib/audiofile.h"

namespace {

constexpr int kRate = 48000, kChannels = 2, kSeconds = 20;

const std::vector<float>& signal() {
  static const std::vector<float> v = [] {
    std::vector<float> s(size_t(kRate) * kSeconds * kChannels);
    for (size_t i = 0; i < s.size(); ++i) s[i] = float(0.5 * std::sin(double(i) * 0.01));
    return s;
  }();
  return v;
}

std::string path(int bits) { return "/tmp/audiolib_bench_" + std::to_string(bits) + ".wav"; }

void write_wave(int bits) {
  AudioFileFormat f{};
  f.valid = 1;
  f.bitsPerSample = bits;
  f.sampleRate = kRate;
  f.channels = kChannels;
  f.scale = 1.0;
  int type = AUDIOFILE_WAVE;
  AudioFileHandle* h = nullptr;
  if (audiofile_open(&h, path(bits).c_str(), AUDIOFILE_WRITE, &type, &f) != 0) return;
  const auto& s = signal();
  for (size_t i = 0; i < s.size(); i += 4096)
    audiofile_write(h, s.data() + i, int(std::min<size_t>(4096, s.size() - i)), nullptr);
  audiofile_close(h);
}

int64_t file_bytes(int bits) { return int64_t(signal().size()) * (bits / 8); }

void BM_WriteWave(benchmark::State& state) {
  const int bits = int(state.range(0));
  for (auto _ : state) write_wave(bits);
  state.SetBytesProcessed(state.iterations() * file_bytes(bits));
}
BENCHMARK(BM_WriteWave)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);

void BM_ReadWave(benchmark::State& state) {
  const int bits = int(state.range(0));
  write_wave(bits);
  std::vector<float> buf(4096);
  for (auto _ : state) {
    AudioFileFormat f{};
    int type = 0;
    AudioFileHandle* h = nullptr;
    if (audiofile_open(&h, path(bits).c_str(), AUDIOFILE_READ, &type, &f) != 0) {
      state.SkipWithError("open failed");
      return;
    }
    for (int got = 0; audiofile_read(h, buf.data(), 4096, &got) == 0 && got > 0;) benchmark::DoNotOptimize(buf.data());
    audiofile_close(h);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes(bits));
}
BENCHMARK(BM_ReadWave)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);

// The floor: the same file's bytes copied with stdio, no sample work.
void BM_PlainCopy(benchmark::State& state) {
  const int bits = int(state.range(0));
  write_wave(bits);
  std::vector<char> buf(1 << 16);
  const std::string copy = path(bits) + ".copy";
  for (auto _ : state) {
    FILE* in = fopen(path(bits).c_str(), "rb");
    FILE* out = fopen(copy.c_str(), "wb");
    for (size_t n; (n = fread(buf.data(), 1, buf.size(), in)) > 0;) fwrite(buf.data(), 1, n, out);
    fclose(in);
    fclose(out);
  }
  state.SetBytesProcessed(state.iterations() * file_bytes(bits));
}
BENCHMARK(BM_PlainCopy)->Arg(16)->Arg(24)->Unit(benchmark::kMillisecond);

}  // namespace
