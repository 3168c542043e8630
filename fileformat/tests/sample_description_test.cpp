// stsd and its sample entries.
#include <gtest/gtest.h>

#include "fileformat/decoder_specific_info.h"
#include "fileformat/render.h"
#include "fileformat/sample_description_atom.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::be32;
using test::Bytes;
using test::hexBytes;

const AmrDecoderSpecificInfo* amrOf(const SampleDescriptionAtom& stsd, size_t i) {
  return dynamic_cast<const AmrDecoderSpecificInfo*>(stsd.entry(i)->firstDecoderSpecificInfo());
}

TEST(SampleDescription, AmrModesMakeEntries) {
  SampleDescriptionAtom stsd(fourcc("soun"), 1, 0);
  EXPECT_EQ(stsd.entryCount(), 0u);
  std::vector<uint32_t> indexes;
  const std::pair<uint8_t, uint32_t> samples[] = {{7, 32}, {0x17, 40}, {5, 21}, {7, 50}};
  for (auto [flag, size] : samples) indexes.push_back(stsd.addSample(nullptr, size, flag));
  EXPECT_EQ(indexes, (std::vector<uint32_t>{1, 1, 2, 1}));
  ASSERT_EQ(stsd.entryCount(), 2u);
  EXPECT_EQ(amrOf(stsd, 0)->modeSet(), 0xA0);
  EXPECT_EQ(amrOf(stsd, 1)->modeSet(), 0xA0);
  EXPECT_EQ(amrOf(stsd, 1)->mode(), 5);
  EXPECT_EQ(stsd.entry(0)->decoderConfig()->avgBitrate, 12200u);
  EXPECT_EQ(stsd.entry(1)->decoderConfig()->maxBitrate, 7950u);
  EXPECT_EQ(stsd.entry(0)->decoderConfig()->bufferSize, 32u);  // the first sample's size
  EXPECT_EQ(stsd.entry(1)->decoderConfig()->bufferSize, 21u);
  test::expectSizesCurrent(stsd);
}

TEST(SampleDescription, AmrRateTableIsBounded) {
  EXPECT_EQ(SampleDescriptionAtom::amrRate(8), 2400u);
  for (uint32_t mode = 9; mode < 16; ++mode) EXPECT_EQ(SampleDescriptionAtom::amrRate(mode), 0u);
  SampleDescriptionAtom stsd(fourcc("soun"), 1, 0);
  EXPECT_EQ(stsd.addSample(nullptr, 1, 15), 1u);
  EXPECT_EQ(stsd.entry(0)->decoderConfig()->avgBitrate, 0u);
  EXPECT_EQ(amrOf(stsd, 0)->modeSet(), 0x8000);
}

TEST(SampleDescription, SecondModeKindUsesTheTrackBitrate) {
  SampleDescriptionAtom stsd(fourcc("soun"), 2, 0);
  stsd.setBitrate(9600);
  EXPECT_EQ(stsd.addSample(nullptr, 10, 4), 1u);
  EXPECT_EQ(stsd.addSample(nullptr, 10, 3), 2u);
  EXPECT_EQ(stsd.addSample(nullptr, 10, 4), 1u);
  EXPECT_EQ(stsd.entry(1)->decoderConfig()->avgBitrate, 9600u);
  Bytes b = test::render(*stsd.entry(1)->firstDecoderSpecificInfo());
  EXPECT_EQ(b, hexBytes("0508 6b726d6d 01 03 0000"));
}

TEST(SampleDescription, EntrySizesAroundTheirEsds) {
  const struct {
    const char* handler;
    uint32_t kind;
    uint32_t entryType;
    uint32_t fixed;
  } cases[] = {{"vide", 1, fourcc("mp4v"), 86},
               {"soun", 3, fourcc("mp4a"), 36},
               {"odsm", 0, fourcc("mp4s"), 16},
               {"m7sm", 0, fourcc("mp4s"), 16},
               {"krxx", 0, fourcc("mp4s"), 16}};
  for (const auto& c : cases) {
    SampleDescriptionAtom stsd(fourcc(c.handler), c.kind, 0);
    SampleEntry* e = stsd.entry(0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->type(), c.entryType);
    const Atom* esds = e->child(0);
    EXPECT_EQ(e->size(), c.fixed + esds->size()) << c.handler;
    EXPECT_EQ(stsd.size(), 16u + e->size());
    test::expectSizesCurrent(stsd);
  }
  EXPECT_EQ(SampleDescriptionAtom(fourcc("krxx"), 0, 0).streamCode(), 2u);
  // mp4s of an m7sm track carries stream type 6.
  SampleDescriptionAtom m7(fourcc("m7sm"), 0, 0);
  EXPECT_EQ(m7.entry(0)->decoderConfig()->streamType(), 6);
}

TEST(SampleDescription, VisualAndAudioEntryBytes) {
  SampleDescriptionAtom vide(fourcc("vide"), 1, 0);
  Bytes v = test::render(*vide.entry(0));
  EXPECT_EQ(Bytes(v.begin() + 8, v.begin() + 16), hexBytes("000000000000 0001"));
  EXPECT_EQ(be32(v, 32), 0x014000F0u);
  EXPECT_EQ(be32(v, 36), 0x00480000u);
  EXPECT_EQ(Bytes(v.begin() + 48, v.begin() + 50), hexBytes("0001"));
  EXPECT_EQ(Bytes(v.begin() + 82, v.begin() + 86), hexBytes("0018 ffff"));
  EXPECT_EQ(be32(v, 90), fourcc("esds"));
  SampleDescriptionAtom soun(fourcc("soun"), 3, 0);
  Bytes a = test::render(*soun.entry(0));
  EXPECT_EQ(Bytes(a.begin() + 16, a.begin() + 36),
            hexBytes("00000000 00000000 0002 0010 00000000 00000000"));
}

TEST(SampleDescription, DecoderInfoRoutingAndRates) {
  uint8_t vol[] = {0, 0, 1, 0xB0, 1, 0xF5};
  SampleDescriptionAtom mp4v(fourcc("vide"), 1, 0);
  mp4v.addDecoderSpecificInfo(std::make_unique<DecoderSpecificInfo>(vol, 6));
  ASSERT_NE(mp4v.videoDecoderSpecificInfo(), nullptr);
  EXPECT_EQ(mp4v.videoDecoderSpecificInfo()->payloadSize(), 6u);
  mp4v.setBitrate(64000);
  mp4v.setBufferSize(9000);
  EXPECT_EQ(mp4v.averageBitrate(), 64000u);
  EXPECT_EQ(mp4v.bufferSize(), 9000u);
  EXPECT_EQ(mp4v.addSample(nullptr, 12000, 0), 1u);
  EXPECT_EQ(mp4v.bufferSize(), 12000u);

  SampleDescriptionAtom h263(fourcc("vide"), 2, 0);
  h263.addDecoderSpecificInfo(std::make_unique<DecoderSpecificInfo>(vol, 6));
  EXPECT_EQ(test::render(*h263.videoDecoderSpecificInfo()),
            hexBytes("050c 6b726d6d 00 00 0a 00 00b0 0090"));

  SampleDescriptionAtom amr(fourcc("soun"), 1, 0);
  amr.addDecoderSpecificInfo(std::make_unique<DecoderSpecificInfo>(vol, 6));
  EXPECT_EQ(amr.entryCount(), 0u);
  SampleDescriptionAtom aac(fourcc("soun"), 3, 0);
  aac.setBitrate(32000);
  EXPECT_EQ(aac.averageBitrate(), 32000u);
  EXPECT_EQ(SampleDescriptionAtom(fourcc("odsm"), 0, 0).bufferSize(), 0u);
}

TEST(SampleDescription, HintEntryCollectsRecords) {
  SampleDescriptionAtom stsd(fourcc("hint"), 0, fourcc("krts"));
  HintSampleEntry* hint = stsd.hintEntry();
  ASSERT_NE(hint, nullptr);
  EXPECT_EQ(hint->type(), fourcc("krts"));
  EXPECT_EQ(stsd.addSample(nullptr, 10, 0), 0u);
  hint->addVideoRecord(100, 0x12345, 0x00);
  hint->addVideoRecord(50, 40, 0x10);  // class 1
  hint->addVideoRecord(70, 80, 0x00);
  EXPECT_EQ(hint->size(), 68u);
  EXPECT_EQ(hint->indexOfClassZeroRecord(0), 0u);
  EXPECT_EQ(hint->indexOfClassZeroRecord(1), 2u);
  EXPECT_EQ(hint->indexOfClassZeroRecord(2), 3u);
  Bytes b = test::render(*hint);
  EXPECT_EQ(Bytes(b.begin() + 16, b.begin() + 36),
            hexBytes("00000003 01 00 0000 00002345 00000064 00000000"));
  EXPECT_EQ(be32(b, 48), 100u);  // the second record's offset
  EXPECT_EQ(stsd.hintRecordTablePosition(), 20u);
  uint8_t packed[16];
  EXPECT_EQ(hint->record(1)->serialize(packed), 9u);
  EXPECT_EQ(Bytes(packed, packed + 9), hexBytes("01 10 0028 00000032 00"));

  hint->addAudioRecord(0x3C, 20, 7);
  hint->addVideoRecord2(30, 9, 5);
  EXPECT_EQ(hint->size(), 68u + 16 + 14);
  Bytes all = test::render(*hint);
  EXPECT_EQ(Bytes(all.begin() + 68, all.end()),
            hexBytes("00 0c 0000 00000007 00000014 000000dc"
                     "02 00000000 00000009 0000001e 05"));
  EXPECT_EQ(hint->record(3)->serialize(packed), 8u);
  EXPECT_EQ(Bytes(packed, packed + 8), hexBytes("00 0007 00000014 00"));
}

}  // namespace
}  // namespace fileformat
