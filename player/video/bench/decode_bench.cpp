// Decoding speed on streams ffmpeg makes at start-up, next to ffmpeg's own
// single-threaded decoder on the same streams (its user time, as reported
// by -benchmark). Counters: pictures per second.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "peer.h"
#include "video/vdec.h"

using namespace vdectest;

namespace {

struct Stream {
  Clip clip;
  std::vector<uint8_t> config;
  std::vector<std::vector<uint8_t>> units;
  bool shortHeader = false;
};

const Stream& stream(const std::string& key, const std::string& args, int w, int h, int frames,
                     const std::string& format) {
  static std::map<std::string, Stream> cache;
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Stream s;
  s.clip = makeClip(args, w, h, frames, format);
  s.shortHeader = format == "h263";
  s.units = s.shortHeader ? splitH263(s.clip.stream) : splitMpeg4(s.clip.stream, &s.config);
  return cache.emplace(key, std::move(s)).first->second;
}

void decodeAll(benchmark::State& state, const Stream& s) {
  if (s.units.empty()) {
    state.SkipWithError("ffmpeg could not make the stream");
    return;
  }
  std::vector<uint8_t> buf;
  int64_t pictures = 0;
  for (auto _ : state) {
    VideoDecoder dec;
    if (s.shortHeader) {
      vdec_create_single(&dec, s.clip.width, s.clip.height);
    } else {
      const uint8_t* cfg[1] = {s.config.data()};
      const int32_t sizes[1] = {int32_t(s.config.size())};
      vdec_create(&dec, cfg, sizes, 1);
    }
    for (const auto& u : s.units) {
      buf.assign(u.begin(), u.end());
      uint8_t* in[1] = {buf.data()};
      int32_t ts[1] = {-1};
      int32_t size[1] = {int32_t(buf.size())};
      pictures += vdec_decode_frame(&dec, in, ts, size, nullptr);
    }
    benchmark::DoNotOptimize(vdec_get_output_frame(&dec));
    vdec_destroy(&dec);
  }
  state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
}

// ffmpeg -threads 1 on the same stream; its own user-time figure.
void ffmpegDecode(benchmark::State& state, const Stream& s) {
  if (s.units.empty()) {
    state.SkipWithError("ffmpeg could not make the stream");
    return;
  }
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("vdec-bench-" + std::to_string(::getpid()) + (s.shortHeader ? ".h263" : ".m4v")))
                               .string();
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(s.clip.stream.data()), std::streamsize(s.clip.stream.size()));
  }
  double utime = 0;
  int runs = 0;
  for (auto _ : state) {
    // Ten passes over the stream, so that start-up weighs little.
    const std::string cmd =
        "ffmpeg -nostdin -threads 1 -benchmark -stream_loop 9 -i " + path + " -f null - 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    char line[512];
    while (p && std::fgets(line, sizeof line, p)) {
      const char* u = std::strstr(line, "utime=");
      if (u) utime += std::atof(u + 6);
    }
    if (p) pclose(p);
    ++runs;
  }
  std::remove(path.c_str());
  state.counters["pictures/s"] = utime > 0 ? 10.0 * double(runs) * double(s.units.size()) / utime : 0;
}

const char* kIntra = "-c:v mpeg4 -g 1 -bf 0 -qscale:v 4";
const char* kIntraH263 = "-c:v h263 -g 1 -qscale:v 4";
const char* kPredicted = "-c:v mpeg4 -g 300 -bf 0 -qscale:v 4 -flags +mv4";

}  // namespace

static void IntraQcif(benchmark::State& st) { decodeAll(st, stream("iq", kIntra, 176, 144, 100, "m4v")); }
static void IntraCif(benchmark::State& st) { decodeAll(st, stream("ic", kIntra, 352, 288, 100, "m4v")); }
static void IntraQcifH263(benchmark::State& st) {
  decodeAll(st, stream("hq", kIntraH263, 176, 144, 100, "h263"));
}
static void FfmpegIntraQcif(benchmark::State& st) { ffmpegDecode(st, stream("iq", kIntra, 176, 144, 100, "m4v")); }
static void FfmpegIntraCif(benchmark::State& st) { ffmpegDecode(st, stream("ic", kIntra, 352, 288, 100, "m4v")); }
static void FfmpegIntraQcifH263(benchmark::State& st) {
  ffmpegDecode(st, stream("hq", kIntraH263, 176, 144, 100, "h263"));
}
BENCHMARK(IntraQcif)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegIntraQcif)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(IntraCif)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegIntraCif)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(IntraQcifH263)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegIntraQcifH263)->Unit(benchmark::kMillisecond)->Iterations(5);

static void PredictedQcif(benchmark::State& st) {
  decodeAll(st, stream("pq", kPredicted, 176, 144, 300, "m4v"));
}
static void PredictedCif(benchmark::State& st) {
  decodeAll(st, stream("pc", kPredicted, 352, 288, 300, "m4v"));
}
static void FfmpegPredictedQcif(benchmark::State& st) {
  ffmpegDecode(st, stream("pq", kPredicted, 176, 144, 300, "m4v"));
}
static void FfmpegPredictedCif(benchmark::State& st) {
  ffmpegDecode(st, stream("pc", kPredicted, 352, 288, 300, "m4v"));
}
BENCHMARK(PredictedQcif)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegPredictedQcif)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(PredictedCif)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegPredictedCif)->Unit(benchmark::kMillisecond)->Iterations(5);
