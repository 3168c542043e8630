// mvhd, ftyp and udta: layouts, duration keeping and track identifiers.
#include <gtest/gtest.h>

#include "fileformat/file_type_atom.h"
#include "fileformat/movie_header_atom.h"
#include "fileformat/render.h"
#include "fileformat/user_data_atom.h"
#include "platform/os.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::be32;
using test::Bytes;
using test::hexBytes;

// Days from 1904-01-01 to the given civil date (proleptic Gregorian).
int64_t daysSince1904(int y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 24107;  // 1904-01-01 is 24107 days before 1970
}

TEST(MovieHeader, RendersIdentityLayoutIn108Bytes) {
  MovieHeaderAtom mvhd;
  Bytes b = test::render(mvhd);
  ASSERT_EQ(b.size(), 108u);
  EXPECT_EQ(mvhd.size(), 108u);
  uint32_t t = mvhd.creationTime();
  Bytes expected = hexBytes(
      "0000006c 6d766864 00000000"
      "00000000 00000000 000003e8 00000000"
      "00010000 0100 0000 00000000 00000000"
      "00010000 00000000 00000000 00000000 00010000 00000000 00000000 00000000 40000000"
      "00000000 00000000 00000000 00000000 00000000 00000000"
      "00000001");
  for (int i = 0; i < 4; ++i) {
    expected[12 + i] = static_cast<uint8_t>(t >> (24 - 8 * i));
    expected[16 + i] = expected[12 + i];
  }
  EXPECT_EQ(b, expected) << test::hexOf(b);
}

TEST(MovieHeader, TimesAreLocalSecondsSince1904) {
  platform::LocalTime lt = platform::localTime();
  int64_t expected = daysSince1904(lt.year, lt.month, lt.day) * 86400 + lt.hour * 3600 +
                     lt.minute * 60 + lt.second;
  MovieHeaderAtom mvhd;
  EXPECT_NEAR(static_cast<double>(mvhd.creationTime()), static_cast<double>(expected), 2.0);
}

TEST(MovieHeader, DurationIsLastStampPlusLastGap) {
  struct Case {
    std::vector<uint32_t> stamps;
    uint32_t duration;
  } cases[] = {
      {{}, 0},
      {{0}, 0},
      {{0, 40, 80, 120}, 160},
      {{0, 40, 80, 20, 120}, 160},  // a late small stamp changes nothing
      {{0, 40, 100, 90}, 160},
      {{100}, 200},
      {{0, 1000, 4294967295u}, 4294967295u},  // never wraps
  };
  for (const auto& c : cases) {
    MovieHeaderAtom mvhd;
    for (uint32_t s : c.stamps) mvhd.UpdateDuration(s);
    EXPECT_EQ(be32(test::render(mvhd), 24), c.duration) << c.stamps.size();
  }
}

TEST(MovieHeader, NextTrackIdFollowsLastIssued) {
  MovieHeaderAtom mvhd;
  EXPECT_EQ(mvhd.GetNextTrackID(), 1u);
  EXPECT_EQ(mvhd.GetNextTrackID(), 2u);
  EXPECT_EQ(be32(test::render(mvhd), 104), 3u);
}

TEST(FileType, SixteenBytesWithoutCompatibleBrands) {
  FileTypeAtom ftyp;
  ftyp.SetMajorBrand(fourcc("wmf "));
  ftyp.SetMinorVersion(0x00010001);
  EXPECT_EQ(ftyp.size(), 16u);
  EXPECT_EQ(test::render(ftyp), hexBytes("00000010 66747970 776d6620 00010001"));
}

TEST(UserData, EmptyIsEightAndChildrenRenderInOrder) {
  UserDataAtom udta;
  EXPECT_EQ(test::render(udta), hexBytes("00000008 75647461"));
  auto a = std::make_unique<FileTypeAtom>();
  a->SetMajorBrand(1);
  auto b = std::make_unique<FileTypeAtom>();
  b->SetMajorBrand(2);
  udta.AddAtom(std::move(a));
  udta.AddAtom(std::move(b));
  Bytes r = test::render(udta);
  ASSERT_EQ(r.size(), 40u);
  EXPECT_EQ(udta.size(), 40u);
  EXPECT_EQ(be32(r, 16), 1u);
  EXPECT_EQ(be32(r, 32), 2u);
}

}  // namespace
}  // namespace fileformat
