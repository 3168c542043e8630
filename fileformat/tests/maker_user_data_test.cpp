// The maker's user-data atoms: krmm, cver, rand, dnld, rqmt, krti/krsi/krmi.
#include <gtest/gtest.h>

#include <sstream>

#include "fileformat/maker_user_data_atoms.h"
#include "fileformat/render.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::be32;
using test::Bytes;
using test::hexBytes;

TEST(KRUserData, DefaultsAndTexts) {
  KRUserDataAtom krmm;
  Bytes b = test::render(krmm);
  ASSERT_EQ(b.size(), 92u);
  EXPECT_EQ(Bytes(b.begin() + 8, b.begin() + 12), hexBytes("0043 006f"));  // "Co"
  EXPECT_EQ(Bytes(b.begin() + 78, b.end()), hexBytes("0000 0000 0000 0000 0000 0000 0000"));
  krmm.SetString2(u"T\u00e9");
  EXPECT_EQ(krmm.size(), 96u);
  Bytes t = test::render(krmm);
  EXPECT_EQ(Bytes(t.begin() + 80, t.begin() + 86), hexBytes("0054 00e9 0000"));
}

TEST(MakerAtoms, SmallLayouts) {
  ContentVersionAtom cver;
  cver.SetVersion(3, 0);
  EXPECT_EQ(test::render(cver), hexBytes("00000010 63766572 00000000 03000000"));
  DownloadAtom dnld;
  dnld.SetDownloadFlag(true);
  EXPECT_EQ(test::render(dnld), hexBytes("00000010 646e6c64 81000000 00000000"));
  dnld.SetDownloadFlag(false);
  EXPECT_EQ(test::render(dnld)[8], 0x01);
  RandomAccessAtom rand;
  rand.setValue(7);
  EXPECT_EQ(test::render(rand), hexBytes("00000010 72616e64 00000000 07000000"));
  RequirementsAtom rqmt;
  rqmt.setRequirement1(1);
  rqmt.setRequirement2(2);
  EXPECT_EQ(test::render(rqmt), hexBytes("00000010 72716d74 00000000 01020000"));
}

TEST(SessionInfo, DurationsAndLookups) {
  TrackInfoAtom krti;
  SessionInfoAtom* krsi = krti.session();
  for (uint32_t t : {0u, 1000u, 2000u}) krsi->UpdateDuration(t, 1000);
  krsi->UpdateDuration(500, 1000);  // an earlier stamp changes nothing
  krsi->UpdateDuration(9000, 0);    // no time scale, no change
  EXPECT_EQ(be32(test::render(*krsi), 12), 3000u);
  EXPECT_EQ(krsi->FindMediaInfo(4), nullptr);

  krsi->AddMediaInfo(std::make_unique<VideoMediaInfoAtom>(3, 1));
  krsi->AddMediaInfo(std::make_unique<AudioMediaInfoAtom>(4, 3));
  EXPECT_EQ(krsi->size(), 12u + 20 + 92 + 88);
  EXPECT_EQ(krti.size(), 8u + krsi->size());
  MediaInfoAtom* video = krsi->FindMediaInfo(3);
  ASSERT_NE(video, nullptr);
  uint8_t config[5] = {1, 2, 3, 4, 5};
  video->setConfig(config, 5);
  EXPECT_EQ(krti.size(), 8u + 12 + 20 + 97 + 88);
  test::expectSizesCurrent(krti);

  // Media info durations follow every stamp, even one that goes back.
  for (uint32_t t : {0u, 2000u, 4000u}) video->UpdateDuration(t, 2000);
  EXPECT_EQ(video->writtenDuration(), 3000u);
}

TEST(MediaInfo, FieldsAndPatches) {
  VideoMediaInfoAtom krmi(5, 2);
  krmi.setTimeScale(1000);
  krmi.setBitrate(64000);
  krmi.setParameters(176, 144, 0x0F00, 9);
  krmi.setDependsOn(3);
  std::ostringstream out;
  out << "pad";
  krmi.render(out);
  krmi.PatchFirstValue(out, 0x11111111);
  krmi.PatchSecondValue(out, 0x22222222);
  std::string s = out.str();
  Bytes b(s.begin() + 3, s.end());
  ASSERT_EQ(b.size(), 92u);
  std::vector<uint32_t> fields;
  for (size_t i = 12; i < b.size(); i += 4) fields.push_back(be32(b, i));
  EXPECT_EQ(fields, (std::vector<uint32_t>{fourcc("vide"), 0x11111111, 0x22222222, 2, 0, 10,
                                           64000, 1000, 5, 0, 1, 0, 1, 0, 0, 176, 144, 0x0F00,
                                           9, 3}));
  EXPECT_EQ(test::render(AudioMediaInfoAtom(1, 1)).size(), 88u);
}

}  // namespace
}  // namespace fileformat
