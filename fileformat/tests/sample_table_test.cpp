// Sample tables: chunking, time-to-sample, sizes, sync samples, read-back.
#include <gtest/gtest.h>

#include <random>

#include "fileformat/render.h"
#include "fileformat/sample_table_atom.h"
#include "platform/os.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::be32;
using test::Bytes;
using test::hexBytes;

using Runs = std::vector<std::array<uint32_t, 3>>;

// stsc as written: (first chunk from 1, samples per chunk, description).
Runs writtenRuns(const SampleToChunkAtom& stsc) {
  Bytes b = test::render(stsc);
  Runs r;
  for (uint32_t i = 0; i < be32(b, 12); ++i)
    r.push_back({be32(b, 16 + 12 * i), be32(b, 20 + 12 * i), be32(b, 24 + 12 * i)});
  return r;
}

std::unique_ptr<SampleTableAtom> tableWith(const char* handler, const std::vector<uint32_t>& sizes) {
  auto stbl = std::make_unique<SampleTableAtom>(fourcc(handler), 3, 0);
  std::vector<uint8_t> data(65536);
  uint32_t t = 0;
  for (uint32_t s : sizes) {
    stbl->addSample(fourcc(handler), data.data(), s, t, 0);
    t += 20;
  }
  return stbl;
}

TEST(SampleToChunk, ChunkLimits) {
  const struct {
    std::vector<uint32_t> sizes;
    Runs runs;
  } cases[] = {
      {std::vector<uint32_t>(25, 400), {{1, 20, 1}, {2, 5, 1}}},
      {std::vector<uint32_t>(7, 3000), {{1, 3, 1}, {3, 1, 1}}},
      {{5120, 5120, 1}, {{1, 2, 1}, {2, 1, 1}}},  // exactly 10240 bytes fit
      {{20000, 10}, {{1, 1, 1}, {2, 1, 1}}},       // a large sample alone
      {std::vector<uint32_t>(60, 10), {{1, 20, 1}, {3, 20, 1}}},
      {std::vector<uint32_t>(45, 10), {{1, 20, 1}, {3, 5, 1}}},
  };
  for (const auto& c : cases) {
    auto stbl = tableWith("soun", c.sizes);
    EXPECT_EQ(writtenRuns(*stbl->stsc()), c.runs) << c.sizes.size() << "x" << c.sizes[0];
  }
  SampleToChunkAtom alt(fourcc("soun"));
  for (uint32_t idx : {1u, 2u, 1u}) EXPECT_TRUE(alt.add(idx, 10));
  EXPECT_EQ(writtenRuns(alt), (Runs{{1, 1, 1}, {2, 1, 2}, {3, 1, 1}}));
  // Systems tracks have no byte limit.
  SampleToChunkAtom sdsm(fourcc("sdsm"));
  EXPECT_TRUE(sdsm.add(1, 20000));
  EXPECT_FALSE(sdsm.add(1, 20000));
}

TEST(SampleToChunk, LookupsWalkTheRuns) {
  auto stbl = tableWith("soun", std::vector<uint32_t>(45, 10));
  const SampleToChunkAtom& stsc = *stbl->stsc();
  EXPECT_EQ(stsc.chunkOfSample(0), 0u);
  EXPECT_EQ(stsc.chunkOfSample(19), 0u);
  EXPECT_EQ(stsc.chunkOfSample(20), 1u);
  EXPECT_EQ(stsc.chunkOfSample(44), 2u);
  EXPECT_EQ(stsc.firstSampleOfChunk(2), 40u);
  EXPECT_EQ(stbl->stco()->offsetOf(2), 400);
  EXPECT_EQ(stbl->stco()->offsetOf(3), -1);
}

TEST(TimeToSample, EntriesAsWritten) {
  using E = std::vector<std::pair<uint32_t, uint32_t>>;
  const struct {
    const char* handler;
    std::vector<uint32_t> times;
    E entries;
  } cases[] = {
      {"vide", {0, 40, 80, 120}, {{4, 40}}},
      {"vide", {0, 40, 80, 100}, {{2, 40}, {2, 20}}},
      {"vide", {500}, {{1, 0}}},  // a lone sample still has its entry
      {"soun", {}, {}},
      {"odsm", {0}, {{1, 0}}},
      {"sdsm", {0, 10}, {{1, 0}}},
      {"vide", {0, 0}, {{2, 0}}},  // every sample counted, as in stsz
      {"hint", {0, 10}, {}},
  };
  for (const auto& c : cases) {
    TimeToSampleAtom stts(fourcc(c.handler));
    for (uint32_t t : c.times) stts.add(t);
    Bytes b = test::render(stts);
    ASSERT_EQ(b.size(), stts.size());
    E got;
    for (uint32_t i = 0; i < be32(b, 12); ++i) got.push_back({be32(b, 16 + 8 * i), be32(b, 20 + 8 * i)});
    EXPECT_EQ(got, c.entries) << c.handler << " " << c.times.size();
  }
  TimeToSampleAtom stts(fourcc("vide"));
  for (uint32_t t : {0u, 40u, 80u, 100u}) stts.add(t);
  EXPECT_EQ(stts.timeOfSample(3), 100u);
  EXPECT_EQ(stts.durationOfSample(3), 20);
  EXPECT_EQ(stts.durationOfSample(0), 0);
  EXPECT_EQ(stts.durationOfSample(5), -1);
  EXPECT_EQ(stts.sampleAtTime(41), 2);
  EXPECT_EQ(stts.sampleAtTime(80), 2);
  EXPECT_EQ(stts.sampleAtTime(500), -1);
}

TEST(SampleSize, CommonSizeUntilOneDiffers) {
  const struct {
    std::vector<uint32_t> sizes;
    const char* body;
  } cases[] = {
      {{100, 100, 100}, "00000064 00000003"},
      {{100, 100, 120}, "00000000 00000003 00000064 00000064 00000078"},
      {{0, 5}, "00000000 00000002 00000000 00000005"},
  };
  for (const auto& c : cases) {
    SampleSizeAtom stsz(fourcc("vide"));
    for (uint32_t s : c.sizes) stsz.add(s);
    Bytes b = test::render(stsz);
    EXPECT_EQ(Bytes(b.begin() + 12, b.end()), hexBytes(c.body));
    EXPECT_EQ(stsz.size(), b.size());
  }
  SampleSizeAtom other(fourcc("hint"));
  other.add(5);
  EXPECT_EQ(other.sampleCount(), 0u);
}

TEST(SyncSample, FlagBitsTwoAndThreeMarkNonSync) {
  SyncSampleAtom stss;
  for (uint32_t f : {0x00u, 0x04u, 0x01u, 0x08u, 0x10u}) stss.add(f);
  EXPECT_EQ(test::render(stss), hexBytes("0000001c 73747373 00000000 00000003 00000001 00000003 00000005"));
  EXPECT_EQ(stss.syncAtOrAfter(0), 0);
  EXPECT_EQ(stss.syncAtOrAfter(1), 2);
  EXPECT_EQ(stss.syncAtOrAfter(5), -1);
}

TEST(ChunkOffset, BaseAppliesOnce) {
  ChunkOffsetAtom stco(fourcc("soun"));
  stco.add(10, true);
  stco.add(10, false);
  stco.add(10, true);
  stco.applyBase(1000);
  stco.applyBase(1000);
  EXPECT_EQ(test::render(stco), hexBytes("00000018 7374636f 00000000 00000002 000003e8 000003fc"));
}

TEST(SampleTable, RenderOrderAndVideoRoute) {
  SampleTableAtom stbl(fourcc("vide"), 1, 0);
  uint8_t d[4] = {};
  stbl.addSample(fourcc("vide"), d, 4, 0, 0);
  stbl.addSample(fourcc("vide"), d, 4, 40, 0x04);
  stbl.addVideoSample(fourcc("vide"), d, 4, 80, 0);
  std::vector<uint32_t> order;
  for (size_t i = 0; i < stbl.childCount(); ++i) order.push_back(stbl.child(i)->type());
  EXPECT_EQ(order, (std::vector<uint32_t>{fourcc("stts"), fourcc("stsz"), fourcc("stco"),
                                          fourcc("stsc"), fourcc("stsd"), fourcc("stss")}));
  EXPECT_EQ(stbl.stss()->syncSamples(), (std::vector<uint32_t>{0, 2}));
  test::expectSizesCurrent(stbl);
  EXPECT_EQ(SampleTableAtom(fourcc("soun"), 3, 0).stss(), nullptr);
}

TEST(SampleTable, HintTrackRecordsInsteadOfTables) {
  SampleTableAtom stbl(fourcc("hint"), 0, fourcc("krau"));
  uint8_t frame[3] = {0xF0, 1, 2};
  stbl.addSample(fourcc("soun"), frame, 3, 0, 0x07);
  EXPECT_EQ(frame[0], 0xF0);  // the caller's sample is not changed
  stbl.addVideoSample(fourcc("vide"), frame, 3, 40, 9);
  EXPECT_EQ(stbl.stsd()->hintEntry()->recordCount(), 2u);
  EXPECT_EQ(test::render(*stbl.stsd()->hintEntry())[21], 0x07);  // the record took the mode
  EXPECT_EQ(stbl.stsz()->sampleCount(), 0u);
  EXPECT_EQ(stbl.seekToHintRecord(0), 0);
  EXPECT_NE(stbl.hintRecordAtCurrent(), nullptr);
  EXPECT_EQ(stbl.hintRecordBeforeCurrent(), nullptr);
}

TEST(SampleTable, ReadsSamplesBackFromTheMediaFile) {
  // A media file: an 8-byte header, then the samples back to back.
  std::vector<uint32_t> sizes{150, 100, 40000, 60};
  SampleTableAtom stbl(fourcc("vide"), 1, 0);
  Bytes file(8, 0xEE);
  uint32_t t = 0;
  for (size_t i = 0; i < sizes.size(); ++i) {
    Bytes s(sizes[i], static_cast<uint8_t>(i + 1));
    stbl.addSample(fourcc("vide"), s.data(), sizes[i], t, i == 3 ? 0 : (i ? 0x04 : 0));
    file.insert(file.end(), s.begin(), s.end());
    t += 40;
  }
  std::string path = test::scratchPath("readback.mdat");
  test::writeFile(path, file);
  stbl.setMediaFile(platform::utf8ToUtf16(path), 8);

  uint8_t small[100];
  EXPECT_EQ(stbl.readSampleInto(0, small, 100), -150);
  EXPECT_EQ(stbl.readSampleInto(1, small, 100), 100);
  EXPECT_EQ(small[99], 2);
  EXPECT_EQ(stbl.readSampleInto(9, small, 100), 0);
  SampleBuffer* b = stbl.readSample(3);  // in the third chunk, after the large one
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->length, 60u);
  EXPECT_EQ(b->data()[0], 4);
  EXPECT_EQ(b->release(), 0);
  EXPECT_EQ(b->release(), -1);
  EXPECT_EQ(stbl.readSample(2), nullptr);  // larger than a read buffer: refused, not cut

  SampleBuffer* first = stbl.readNextSample();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->data()[149], 1);
  first->release();
  SampleBuffer* second = stbl.readNextSample();
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(stbl.currentTime(), 40u);
  second->release();

  SampleBuffer* sync = stbl.seekToTime(50);  // samples 1 and 2 are not sync samples
  ASSERT_NE(sync, nullptr);
  EXPECT_EQ(sync->data()[0], 4);
  EXPECT_EQ(stbl.currentTime(), 120u);
  sync->release();

  SampleTableAtom missing(fourcc("vide"), 1, 0);
  uint8_t d[4] = {};
  missing.addSample(fourcc("vide"), d, 4, 0, 0);
  missing.setMediaFile(u"no/such/file.mdat", 8);
  EXPECT_EQ(missing.readSample(0), nullptr);
}

TEST(SampleTable, RandomSamplesKeepEverySizeCurrent) {
  std::mt19937 rng(7);
  for (const char* handler : {"vide", "soun", "odsm"}) {
    SampleTableAtom stbl(fourcc(handler), 1, 0);
    std::vector<uint8_t> data(12000);
    uint32_t t = 0;
    for (int i = 0; i < 200; ++i) {
      uint32_t size = rng() % 3 ? 32 : rng() % 12000;
      t += rng() % 3 ? 20 : rng() % 100;
      stbl.addSample(fourcc(handler), data.data(), size, t, rng() % 16);
      ASSERT_NO_FATAL_FAILURE(test::expectSizesCurrent(stbl)) << handler << " " << i;
    }
  }
}

}  // namespace
}  // namespace fileformat
