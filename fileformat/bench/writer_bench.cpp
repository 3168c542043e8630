// Writer throughput: samples per second through AddSample, MB/s of
// WriteToFile next to a plain copy of the same bytes, and the memory a
// one-hour AMR plus QCIF recording keeps while it runs.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "fileformat/mp4_file_writer.h"
#include "fileformat/render.h"
#include "platform/os.h"

using namespace fileformat;

namespace {

std::unique_ptr<MP4WriterApi> makeWriter(uint32_t* video, uint32_t* audio) {
  auto w = MP4FileWriter::Create(3, 2, u"bench", u"0", 0, 0);
  *video = w->AddTrack(fourcc("vide"), 1);
  *audio = w->AddTrack(fourcc("soun"), 1);
  w->SetMediaTimeScale(*video, 1000);
  w->SetMediaTimeScale(*audio, 1000);
  return w;
}

// Resident memory of the process in KiB (Linux), 0 elsewhere.
long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    std::getline(status, key);
  }
  return 0;
}

void BM_AddSample(benchmark::State& state) {
  uint32_t video, audio;
  auto w = makeWriter(&video, &audio);
  std::vector<uint8_t> frame(32, 0x3C);
  uint32_t t = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(w->AddSample(audio, frame.data(), 32, t, 7));
    t += 20;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AddSample);

constexpr uint32_t kFrameBytes = 4000;
constexpr uint32_t kFrames = 5000;  // 20 MB

void BM_WriteToFile(benchmark::State& state) {
  std::vector<uint8_t> frame(kFrameBytes, 0x11);
  for (auto _ : state) {
    state.PauseTiming();
    uint32_t video, audio;
    auto w = makeWriter(&video, &audio);
    for (uint32_t i = 0; i < kFrames; ++i) w->AddSample(video, frame.data(), kFrameBytes, i * 66, i % 15 ? 4 : 0);
    state.ResumeTiming();
    benchmark::DoNotOptimize(w->WriteToFile(u"bench_out.mp4"));
  }
  platform::deleteFile(u"bench_out.mp4");
  state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * kFrameBytes);
}
BENCHMARK(BM_WriteToFile)->Unit(benchmark::kMillisecond);

void BM_PlainCopy(benchmark::State& state) {
  {
    std::vector<uint8_t> frame(kFrameBytes, 0x11);
    std::FILE* f = std::fopen("bench_in.bin", "wb");
    for (uint32_t i = 0; i < kFrames; ++i) std::fwrite(frame.data(), 1, kFrameBytes, f);
    std::fclose(f);
  }
  std::vector<char> buf(1 << 16);
  for (auto _ : state) {
    std::FILE* in = std::fopen("bench_in.bin", "rb");
    std::FILE* out = std::fopen("bench_copy.bin", "wb");
    size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), in)) > 0) std::fwrite(buf.data(), 1, n, out);
    std::fclose(in);
    std::fclose(out);
  }
  std::remove("bench_in.bin");
  std::remove("bench_copy.bin");
  state.SetBytesProcessed(int64_t(state.iterations()) * kFrames * kFrameBytes);
}
BENCHMARK(BM_PlainCopy)->Unit(benchmark::kMillisecond);

// One hour: AMR 12.2 every 20 ms and QCIF video at 15 frames a second.
void BM_OneHourAmrQcifMemory(benchmark::State& state) {
  for (auto _ : state) {
    long before = residentKiB();
    uint32_t video, audio;
    auto w = makeWriter(&video, &audio);
    std::vector<uint8_t> amr(31, 0x55), vop(1500, 0x22);
    uint32_t samples = 0;
    for (uint32_t ms = 0; ms < 3600 * 1000; ms += 20) {
      w->AddSample(audio, amr.data(), 31, ms, 7);
      ++samples;
      uint32_t slot = (ms / 20) % 10;
      if (slot == 0 || slot == 3 || slot == 7) {
        // 15 frames a second, sizes varying as an encoder's do
        w->AddSample(video, vop.data(), 1000 + (ms / 20) % 500, ms, (ms / 20) % 150 ? 4 : 0);
        ++samples;
      }
    }
    state.counters["samples"] = samples;
    state.counters["resident_KiB_growth"] = double(residentKiB() - before);
  }
}
BENCHMARK(BM_OneHourAmrQcifMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
