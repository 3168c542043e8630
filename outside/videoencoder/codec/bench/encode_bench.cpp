// Encoding speed and quality on sequences ffmpeg makes at start-up, next to
// ffmpeg's own single-threaded MPEG-4 encoder at the same bit rate (its user
// time, as reported by -benchmark). Counters: pictures per second, PSNR-Y of
// the decoded pictures against the source, and the bit rate reached.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "sequences.h"

using namespace venctest;

namespace {

constexpr int kFrames = 150;

const Sequence& sequence(int w, int h) {
  static std::map<int, Sequence> cache;
  auto it = cache.find(w);
  if (it != cache.end()) return it->second;
  return cache.emplace(w, makeSequence("testsrc2", w, h, kFrames, "scroll=h=0.002")).first->second;
}

double meanPsnrY(const Sequence& s, const uint8_t* pictures, size_t stride) {
  double sum = 0;
  for (int i = 0; i < s.frames(); ++i)
    sum += psnr(s.frame(i), pictures + size_t(i) * stride, size_t(s.width) * s.height);
  return sum / s.frames();
}

void ours(benchmark::State& state, int w, int h, int bitRate) {
  const Sequence& s = sequence(w, h);
  if (!s.frames()) {
    state.SkipWithError("ffmpeg could not make the sequence");
    return;
  }
  VencSettings st{};
  st.width = w;
  st.height = h;
  st.bitRate = bitRate;
  st.frameRate = 25;
  st.intraInterval = 50;
  st.quantiser = 8;
  st.searchRange = 15;
  Encoded e;
  int64_t pictures = 0;
  for (auto _ : state) {
    e = encode(s, st);
    pictures += s.frames();
  }
  size_t bytes = 0;
  for (const auto& u : e.units) bytes += u.size();
  std::vector<uint8_t> all;
  for (const auto& r : e.recon) all.insert(all.end(), r.begin(), r.end());
  state.counters["pictures/s"] = benchmark::Counter(double(pictures), benchmark::Counter::kIsRate);
  state.counters["psnrY"] = meanPsnrY(s, all.data(), s.frameBytes());
  state.counters["kbit/s"] = bytes * 8.0 / (s.frames() / 25.0) / 1000;
}

void ffmpegEncoder(benchmark::State& state, int w, int h, int bitRate) {
  const Sequence& s = sequence(w, h);
  if (!s.frames()) {
    state.SkipWithError("ffmpeg could not make the sequence");
    return;
  }
  namespace fs = std::filesystem;
  const std::string base = (fs::temp_directory_path() / ("venc-bench-" + std::to_string(::getpid()))).string();
  const std::string raw = base + ".yuv", es = base + ".m4v", dec = base + "-dec.yuv";
  {
    std::ofstream f(raw, std::ios::binary);
    f.write(reinterpret_cast<const char*>(s.yuv.data()), std::streamsize(s.yuv.size()));
  }
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", w, h);
  double utime = 0;
  int runs = 0;
  for (auto _ : state) {
    const std::string cmd = "ffmpeg -nostdin -y -threads 1 -benchmark -f rawvideo -pix_fmt yuv420p -s " +
                            std::string(size) + " -r 25 -i " + raw + " -c:v mpeg4 -threads 1 -bf 0 -g 50 -b:v " +
                            std::to_string(bitRate) + " -f m4v " + es + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    char line[512];
    while (p && std::fgets(line, sizeof line, p)) {
      const char* u = std::strstr(line, "utime=");
      if (u) utime += std::atof(u + 6);
    }
    if (p) pclose(p);
    ++runs;
  }
  const std::string d = "ffmpeg -nostdin -v error -y -threads 1 -i " + es + " -f rawvideo -pix_fmt yuv420p " + dec;
  if (std::system(d.c_str()) == 0) {
    std::ifstream f(dec, std::ios::binary);
    const std::vector<uint8_t> yuv((std::istreambuf_iterator<char>(f)), {});
    if (yuv.size() == s.yuv.size()) state.counters["psnrY"] = meanPsnrY(s, yuv.data(), s.frameBytes());
  }
  state.counters["kbit/s"] = double(fs::file_size(es)) * 8.0 / (s.frames() / 25.0) / 1000;
  state.counters["pictures/s"] = utime > 0 ? double(runs) * s.frames() / utime : 0;
  for (const std::string& f : {raw, es, dec}) std::remove(f.c_str());
}

}  // namespace

static void OursQcif(benchmark::State& st) { ours(st, 176, 144, 128000); }
static void FfmpegQcif(benchmark::State& st) { ffmpegEncoder(st, 176, 144, 128000); }
static void OursCif(benchmark::State& st) { ours(st, 352, 288, 512000); }
static void FfmpegCif(benchmark::State& st) { ffmpegEncoder(st, 352, 288, 512000); }
BENCHMARK(OursQcif)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegQcif)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(OursCif)->Unit(benchmark::kMillisecond);
BENCHMARK(FfmpegCif)->Unit(benchmark::kMillisecond)->Iterations(5);
