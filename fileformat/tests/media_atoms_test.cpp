// Track-level atoms: mdhd, hdlr, media headers, dinf, elst, tkhd, edts, tref,
// iods and the maker's media atoms.
#include <gtest/gtest.h>

#include "fileformat/data_information_atom.h"
#include "fileformat/edit_atom.h"
#include "fileformat/handler_atom.h"
#include "fileformat/maker_media_atoms.h"
#include "fileformat/media_atom.h"
#include "fileformat/media_header_atom.h"
#include "fileformat/media_info_header_atom.h"
#include "fileformat/render.h"
#include "fileformat/track_header_atom.h"
#include "fileformat/track_reference_atom.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::be32;
using test::Bytes;
using test::hexBytes;

TEST(Handler, NamesBySizeAndType) {
  const struct {
    const char* type;
    const char* name;
    uint32_t size;
  } cases[] = {
      {"odsm", "ODHandler", 42},       {"krts", "UNKNOWNHandler", 47},
      {"vide", "VideoHandler", 45},    {"mjsm", "Mpeg-JHandler", 46},
      {"sdsm", "SceneDescHandler", 49}, {"hint", "HintHandler", 44},
  };
  for (const auto& c : cases) {
    HandlerAtom h(fourcc(c.type));
    Bytes b = test::render(h);
    ASSERT_EQ(b.size(), c.size) << c.type;
    EXPECT_EQ(h.size(), c.size);
    EXPECT_EQ(be32(b, 16), fourcc(c.type));
    EXPECT_EQ(std::string(b.begin() + 32, b.end() - 1), c.name);
    EXPECT_EQ(b.back(), 0);
  }
}

TEST(DataInformation, FreshDinfHoldsOneSelfContainedUrl) {
  DataInformationAtom dinf;
  EXPECT_EQ(test::render(dinf), hexBytes("00000024 64696e66 0000001c 64726566 00000000 00000001"
                                         "0000000c 75726c20 00000001"));
  dinf.dref()->AddEntry(std::make_unique<DataEntryUrlAtom>(0, "a"));
  EXPECT_EQ(dinf.size(), 36u + 14u);
  test::expectSizesCurrent(dinf);
  EXPECT_EQ(be32(test::render(dinf), 20), 2u);
}

TEST(MediaHeaders, FixedLayouts) {
  EXPECT_EQ(test::render(VideoMediaHeaderAtom()),
            hexBytes("00000014 766d6864 00000001 00000000 00000000"));
  EXPECT_EQ(test::render(SoundMediaHeaderAtom()), hexBytes("00000010 736d6864 00000000 00000000"));
  EXPECT_EQ(test::render(HintMediaHeaderAtom()).size(), 28u);
  EXPECT_EQ(test::render(MpegMediaHeaderAtom(fourcc("odsm"))), hexBytes("0000000c 6e6d6864 00000000"));
  EXPECT_EQ(MediaInfoHeaderAtom::forHandler(fourcc("hint"))->type(), fourcc("hmhd"));
  EXPECT_EQ(MediaInfoHeaderAtom::forHandler(fourcc("sdsm"))->type(), fourcc("nmhd"));
}

TEST(MediaHeader, DurationIsLastTimePlusLastGap) {
  MediaHeaderAtom mdhd;
  mdhd.SetDuration(0);
  mdhd.SetDuration(100);
  mdhd.SetDuration(200);
  Bytes b = test::render(mdhd);
  ASSERT_EQ(b.size(), 32u);
  EXPECT_EQ(be32(b, 20), 1000u);
  EXPECT_EQ(be32(b, 24), 300u);
  mdhd.SetDuration(150);  // a stamp that went back shortens without wrapping
  EXPECT_EQ(mdhd.writtenDuration(), 100u);
}

TEST(EditList, OneEntryIs28Bytes) {
  EditListAtom elst;
  elst.AddEntry(500, 0xFFFFFFFF, 1);
  EXPECT_EQ(test::render(elst),
            hexBytes("0000001c 656c7374 00000000 00000001 000001f4 ffffffff 0001 0000"));
}

TEST(Edit, CountsTheListFromTheFirstEdit) {
  EditAtom edts;
  EXPECT_EQ(test::render(edts), hexBytes("00000008 65647473"));
  edts.addEmptyEdit(500);
  edts.addEdit(1000, 0, 1);
  EXPECT_EQ(edts.size(), 8u + 16u + 24u);
  test::expectSizesCurrent(edts);
}

TEST(TrackHeader, DefaultsByHandler) {
  TrackHeaderAtom soun(fourcc("soun"), 3);
  Bytes s = test::render(soun);
  ASSERT_EQ(s.size(), 92u);
  EXPECT_EQ(be32(s, 8), 0x00000001u);  // version 0, flags 1
  EXPECT_EQ(be32(s, 20), 3u);
  EXPECT_EQ(Bytes(s.begin() + 44, s.begin() + 46), hexBytes("0100"));
  EXPECT_EQ(be32(s, 84), 0u);
  EXPECT_EQ(be32(s, 88), 0u);
  Bytes v = test::render(TrackHeaderAtom(fourcc("vide"), 4));
  EXPECT_EQ(Bytes(v.begin() + 44, v.begin() + 46), hexBytes("0000"));
  EXPECT_EQ(Bytes(v.begin() + 84, v.end()), hexBytes("01400000 00f00000"));
  EXPECT_EQ(be32(v, 48), 0x00010000u);
  EXPECT_EQ(be32(v, 80), 0x40000000u);
}

TEST(TrackHeader, DurationFollowsMilliseconds) {
  TrackHeaderAtom a(fourcc("vide"), 1);
  a.setMovieTimeScale(1000);
  for (uint32_t ms : {40u, 80u, 120u}) a.setDurationMs(ms);
  EXPECT_EQ(be32(test::render(a), 28), 160u);
  TrackHeaderAtom b(fourcc("vide"), 1);
  b.setMovieTimeScale(600);
  b.setDurationMs(1000);
  EXPECT_EQ(be32(test::render(b), 28), 1200u);
}

TEST(TrackReference, DpndWithTwoIds) {
  TrackReferenceAtom tref(fourcc("dpnd"));
  EXPECT_EQ(tref.references()->addTrackId(1), 1u);
  EXPECT_EQ(tref.references()->addTrackId(3), 2u);
  EXPECT_EQ(test::render(tref), hexBytes("00000018 74726566 00000010 64706e64 00000001 00000003"));
  EXPECT_EQ(tref.references()->trackId(5), 0u);
  EXPECT_EQ(tref.references()->trackId(1), 3u);
}

TEST(MakerMediaAtoms, FixedLayouts) {
  WMFMediaAtom wmfm;
  wmfm.setMediaValue(0x11223344);
  EXPECT_EQ(test::render(wmfm), hexBytes("00000014 776d666d 00000000 00000001 44332211"));
  WMFSessionAtom wmfs;
  wmfs.value1 = wmfs.value2 = 1;
  EXPECT_EQ(test::render(wmfs), hexBytes("00000018 776d6673 00000000 00000001 00000001 00000001"));
  VideoInformationAtom vinf;
  vinf.setValues(0x0F00, 7);
  EXPECT_EQ(test::render(vinf), hexBytes("00000010 76696e66 00000000 0f00 0007"));
  ObjectDescriptorAtom iods;
  EXPECT_EQ(iods.descriptor()->payloadSize(), 7u);
  EXPECT_EQ(iods.size(), 21u);
  iods.descriptor()->AddDescriptor(std::make_unique<ESIDIncDescriptor>(1));
  EXPECT_EQ(iods.size(), 27u);
  test::expectSizesCurrent(iods);
}

TEST(MediaAtom, ChildrenInOrderAndDurationsFollowSamples) {
  MediaAtom mdia(fourcc("vide"), 1, 0);
  ASSERT_EQ(mdia.childCount(), 3u);
  EXPECT_EQ(mdia.child(0)->type(), fourcc("mdhd"));
  EXPECT_EQ(mdia.child(1)->type(), fourcc("hdlr"));
  const Atom* minf = mdia.child(2);
  ASSERT_EQ(minf->childCount(), 3u);
  EXPECT_EQ(minf->child(0)->type(), fourcc("vmhd"));
  EXPECT_EQ(minf->child(1)->type(), fourcc("dinf"));
  EXPECT_EQ(minf->child(2)->type(), fourcc("stbl"));
  uint8_t data[10] = {};
  for (uint32_t t : {0u, 40u, 80u}) mdia.addSample(fourcc("vide"), data, 10, t, 0);
  EXPECT_EQ(mdia.mdhd()->writtenDuration(), 120u);
  test::expectSizesCurrent(mdia);
  EXPECT_EQ(MediaAtom(fourcc("soun"), 3, 0).minf()->mediaHeader()->type(), fourcc("smhd"));
}

}  // namespace
}  // namespace fileformat
