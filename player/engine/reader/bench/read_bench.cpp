// Opening a clip and reading every sample of it: the cost must grow linearly
// with the clip's length (one-minute steps up to an hour).
#include <benchmark/benchmark.h>

#include <memory>

#include "../tests/fixture.h"
#include "reader/mp4_file.h"

using namespace fixture;
using reader::Mp4File;

namespace {

constexpr uint32_t kAudioSize = 32, kVideoSize = 600, kPerChunk = 10;

// A track of n equal samples in chunks of kPerChunk, stored from offset at.
Bytes Track(uint32_t id, bool video, uint32_t n, uint32_t at) {
  const uint32_t size = video ? kVideoSize : kAudioSize;
  Bytes dc;
  dc.u8(video ? 0x20 : 0x40).u8(((video ? 4 : 5) << 2) | 1).u24(size).u32(0).u32(0);
  dc.u8(5).u8(2).u16(0x1588);
  Bytes es;
  es.u16(0).u8(0).add(Desc(4, dc)).add(Desc(6, Bytes().u8(2)));
  Bytes entry;
  entry.zeros(6).u16(1);
  if (video)
    entry.zeros(16).u16(176).u16(144).u32(0x00480000).u32(0x00480000).u32(0).u16(1).zeros(32).u16(24).u16(0xFFFF);
  else
    entry.zeros(8).u16(1).u16(16).u32(0).u16(8000).u16(0);
  entry.add(Full("esds", 0, 0, Desc(3, es)));
  Bytes stsz;
  stsz.u32(0).u32(n);
  for (uint32_t i = 0; i < n; ++i) stsz.u32(size);
  const uint32_t chunks = (n + kPerChunk - 1) / kPerChunk;
  Bytes stco;
  stco.u32(chunks);
  for (uint32_t c = 0; c < chunks; ++c) stco.u32(at + c * kPerChunk * size);
  Bytes stss;
  stss.u32((n + 14) / 15);
  for (uint32_t i = 0; i < n; i += 15) stss.u32(i + 1);
  Bytes stbl;
  stbl.add(Full("stsd", 0, 0, Bytes().u32(1).add(Atom(video ? "mp4v" : "mp4a", entry))));
  stbl.add(Full("stts", 0, 0, Bytes().u32(1).u32(n).u32(video ? 200 : 160)));
  stbl.add(Full("stsc", 0, 0, Bytes().u32(1).u32(1).u32(kPerChunk).u32(1)));
  stbl.add(Full("stsz", 0, 0, stsz)).add(Full("stco", 0, 0, stco));
  if (video) stbl.add(Full("stss", 0, 0, stss));
  Bytes minf;
  minf.add(video ? Full("vmhd", 0, 1, Bytes().u64(0)) : Full("smhd", 0, 0, Bytes().u32(0)));
  minf.add(Atom("dinf", Full("dref", 0, 0, Bytes().u32(1).add(Full("url ", 0, 1, Bytes())))));
  minf.add(Atom("stbl", stbl));
  Bytes tkhd;
  tkhd.u32(0).u32(0).u32(id).u32(0).u32(0).u32(0).u32(0).u32(0).u16(video ? 0 : 0x100).u16(0).zeros(36).u32(0).u32(0);
  Bytes mdia;
  mdia.add(Full("mdhd", 0, 0, Bytes().u32(0).u32(0).u32(video ? 3000 : 8000).u32(0).u16(0).u16(0)));
  mdia.add(Full("hdlr", 0, 0, Bytes().u32(0).fourcc(video ? "vide" : "soun").zeros(12).u8(0)));
  mdia.add(Atom("minf", minf));
  return Atom("trak", Bytes().add(Full("tkhd", 0, 1, tkhd)).add(Atom("mdia", mdia)));
}

// minutes of 50 audio frames and 15 video frames a second.
std::vector<uint8_t> Clip(uint32_t minutes) {
  const uint32_t na = minutes * 60 * 50, nv = minutes * 60 * 15;
  Bytes file;
  const uint32_t payload = 8;
  const uint64_t dataSize = uint64_t(na) * kAudioSize + uint64_t(nv) * kVideoSize;
  file.u32(uint32_t(dataSize + 8)).fourcc("mdat").zeros(dataSize);
  Bytes mvhd;
  mvhd.u32(0).u32(0).u32(1000).u32(minutes * 60000).zeros(76).u32(3);
  Bytes moov;
  moov.add(Full("mvhd", 0, 0, mvhd));
  moov.add(Track(1, false, na, payload)).add(Track(2, true, nv, payload + na * kAudioSize));
  file.add(Atom("moov", moov));
  return file.b;
}

void OpenAndReadAll(benchmark::State& state) {
  const uint32_t minutes = uint32_t(state.range(0));
  TempFile file(Clip(minutes), "bench");
  std::vector<uint8_t> buf(4096);
  uint64_t samples = 0;
  for (auto _ : state) {
    reader::SharedWideString* path = file.Wide();
    std::unique_ptr<Mp4File> f(Mp4File::OpenFile(path));
    path->Release();
    if (!f || !f->ok()) {
      state.SkipWithError("clip does not open");
      return;
    }
    for (uint32_t id : {1u, 2u})
      while (f->ReadSample(id, buf.data(), uint32_t(buf.size()), nullptr) > 0) ++samples;
  }
  state.SetComplexityN(state.range(0));
  state.counters["samples"] = benchmark::Counter(double(samples), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(OpenAndReadAll)->Arg(1)->Arg(4)->Arg(15)->Arg(60)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
