// Opening a version-2 file whose one video track holds 100k samples: the
// whole parse (tables read, runs and size sums derived).
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/os.h"
#include "v2reader/mpeg4_file_v2_reader.h"

namespace {

void Put32(std::vector<uint8_t>& b, uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(uint8_t(v >> (8 * i)));
}
void Atom(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
  Put32(out, uint32_t(body.size() + 8));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), body.begin(), body.end());
}
std::vector<uint8_t> Full(std::vector<uint8_t> body) {
  body.insert(body.begin(), 4, 0);
  return body;
}

std::string MakeFile(uint32_t n) {
  std::vector<uint8_t> stts, stsz, stco, stsc, stss;
  Put32(stts, 1), Put32(stts, n), Put32(stts, 67);
  Put32(stsz, 0), Put32(stsz, n);
  for (uint32_t i = 0; i < n; ++i) Put32(stsz, 100 + i % 50);
  Put32(stco, n);
  uint64_t off = 16;
  for (uint32_t i = 0; i < n; ++i) Put32(stco, uint32_t(off)), off += 100 + i % 50;
  Put32(stsc, 1), Put32(stsc, 1), Put32(stsc, 1), Put32(stsc, 1);
  Put32(stss, n / 10);
  for (uint32_t i = 0; i < n / 10; ++i) Put32(stss, i * 10 + 1);
  std::vector<uint8_t> stbl, minf, mdia, trak, moov, file, hdlr(8, 0), mdhd(12, 0), tkhd(12, 0), mvhd(12, 0);
  Atom(stbl, "stts", Full(stts)), Atom(stbl, "stsz", Full(stsz)), Atom(stbl, "stco", Full(stco));
  Atom(stbl, "stsc", Full(stsc)), Atom(stbl, "stss", Full(stss));
  Atom(minf, "stbl", stbl);
  hdlr.insert(hdlr.end(), {'v', 'i', 'd', 'e'});
  hdlr.resize(hdlr.size() + 13);
  Put32(mdhd, 1000), Put32(mdhd, n * 67), Put32(mdhd, 0);
  Atom(mdia, "mdhd", mdhd), Atom(mdia, "hdlr", hdlr), Atom(mdia, "minf", minf);
  Put32(tkhd, 1), tkhd.resize(84);
  Atom(trak, "tkhd", tkhd), Atom(trak, "mdia", mdia);
  Put32(mvhd, 1000), Put32(mvhd, n * 67), mvhd.resize(100);
  Atom(moov, "iods", {0, 0, 0, 0, 0x10, 2, 0, 0x4F}), Atom(moov, "mvhd", mvhd), Atom(moov, "trak", trak);
  Atom(file, "mdat", std::vector<uint8_t>(size_t(off - 8), 0));
  Atom(file, "moov", moov);
  std::string path = "/tmp/v2reader_bench_" + std::to_string(getpid()) + ".mp4";
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  return path;
}

void BM_Open100kSamples(benchmark::State& state) {
  std::string path = MakeFile(100000);
  std::u16string wide = platform::utf8ToUtf16(path);
  for (auto _ : state) {
    auto r = v2reader::CMpeg4FileV2Reader::Open(wide);
    if (!r || !r->ok()) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(r.get());
  }
  std::remove(path.c_str());
}
BENCHMARK(BM_Open100kSamples)->Unit(benchmark::kMillisecond);

}  // namespace
