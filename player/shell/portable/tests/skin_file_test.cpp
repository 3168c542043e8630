#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "shell/portable/skin_file.h"

namespace shell {
namespace {

// Writes skin records byte by byte, little-endian.
class SkinBuilder {
 public:
  SkinBuilder& Header(uint32_t elements, uint16_t magic = kSkinMagic, uint16_t version = kSkinVersion,
                      uint16_t third = 0) {
    U16(magic);
    U16(0);
    U16(third);
    U16(version);
    U32(elements);
    Zeros(256);
    U32(10 | 20u << 16);   // video at (10, 20)
    U32(192 | 144u << 16);  // 192 x 144
    return *this;
  }
  SkinBuilder& Element(uint32_t images, uint32_t x = 1, uint32_t y = 2, uint32_t w = 3, uint32_t h = 4) {
    U32(7);
    U32(x | y << 16);
    U32(w | h << 16);
    U32(images);
    U32(0);
    Zeros(256);
    return *this;
  }
  // Pixels are filled with 1, 2, 3, ...; padding follows unless cut.
  SkinBuilder& Image(uint32_t bits, uint32_t w, uint32_t h, bool pad = true) {
    U32(0);
    U32(bits);
    U32(5 | 6u << 16);
    U32(w | h << 16);
    if (bits == 8)
      for (int i = 0; i < 256; ++i) {
        bytes.push_back(static_cast<uint8_t>(i));
        bytes.push_back(static_cast<uint8_t>(255 - i));
        bytes.push_back(0x40);
        bytes.push_back(0);
      }
    const size_t n = size_t{bits} * w * h / 8;
    for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(i + 1));
    if (pad && n % 4) Zeros(4 - n % 4);
    return *this;
  }
  // A skin with the player's eleven elements; tweak changes one image size.
  SkinBuilder& PlayerSkin(int skipElement = -1, int sliderThumbHeight = 8) {
    Header(skipElement >= 0 ? 10 : 11);
    for (int e = 0; e < 11; ++e) {
      if (e == skipElement) continue;
      Element(static_cast<uint32_t>(kPlayerSkinImages[e]));
      for (int j = 0; j < kPlayerSkinImages[e]; ++j) {
        if (e == 4) Image(8, 10, j == 0 ? 96 : static_cast<uint32_t>(sliderThumbHeight));
        else Image(24, 2, 2);
      }
    }
    return *this;
  }
  void U16(uint16_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Zeros(size_t n) { bytes.insert(bytes.end(), n, 0); }
  std::vector<uint8_t> bytes;
};

SkinResult Parse(const std::vector<uint8_t>& b, SkinFile* out) { return ParseSkin(b.data(), b.size(), out); }

TEST(SkinFile, LayoutTable) {
  struct Case {
    const char* what;
    std::function<void(SkinBuilder&)> build;
    SkinResult want;
  };
  const Case cases[] = {
      {"no elements", [](SkinBuilder& b) { b.Header(0); }, SkinResult::kOk},
      {"3 x 1 at 24 bits: 9 bytes and 3 of padding",
       [](SkinBuilder& b) { b.Header(1).Element(2).Image(24, 3, 1).Image(24, 1, 1); }, SkinResult::kOk},
      {"4 x 1 at 24 bits: no padding", [](SkinBuilder& b) { b.Header(1).Element(2).Image(24, 4, 1).Image(24, 1, 1); },
       SkinResult::kOk},
      {"8 bits with palette", [](SkinBuilder& b) { b.Header(1).Element(1).Image(8, 3, 2); }, SkinResult::kOk},
      {"third header word 1 still loads", [](SkinBuilder& b) { b.Header(0, kSkinMagic, kSkinVersion, 1); },
       SkinResult::kOk},
      {"width 0", [](SkinBuilder& b) { b.Header(1).Element(1).Image(24, 0, 5); }, SkinResult::kZeroSize},
      {"height 0", [](SkinBuilder& b) { b.Header(1).Element(1).Image(24, 5, 0); }, SkinResult::kZeroSize},
      {"16 bits per pixel", [](SkinBuilder& b) { b.Header(1).Element(1).Image(16, 2, 2); }, SkinResult::kBadDepth},
      {"bad magic", [](SkinBuilder& b) { b.Header(0, 0xE0E1); }, SkinResult::kBadMagic},
      {"bad version", [](SkinBuilder& b) { b.Header(0, kSkinMagic, 0x0200); }, SkinResult::kBadVersion},
      {"cut header", [](SkinBuilder& b) { b.Header(0).bytes.resize(100); }, SkinResult::kTruncated},
      {"element count beyond the file", [](SkinBuilder& b) { b.Header(2).Element(0); }, SkinResult::kBadCount},
      {"huge element count", [](SkinBuilder& b) { b.Header(0x7FFFFFFF).Element(0); }, SkinResult::kBadCount},
      {"image count beyond the file", [](SkinBuilder& b) { b.Header(1).Element(1000000); }, SkinResult::kBadCount},
      {"cut pixels", [](SkinBuilder& b) { b.Header(1).Element(1).Image(24, 4, 4).bytes.resize(b.bytes.size() - 1); },
       SkinResult::kTruncated},
      {"cut palette", [](SkinBuilder& b) { b.Header(1).Element(1).Image(8, 1, 1).bytes.resize(276 + 276 + 16 + 500); },
       SkinResult::kTruncated},
      {"pixels larger than the file (65535 x 65535)",
       [](SkinBuilder& b) {
         b.Header(1).Element(1);
         b.U32(0);
         b.U32(24);
         b.U32(0);
         b.U32(0xFFFFFFFF);
       },
       SkinResult::kTruncated},
  };
  for (const Case& c : cases) {
    SkinBuilder b;
    c.build(b);
    SkinFile skin;
    EXPECT_EQ(Parse(b.bytes, &skin), c.want) << c.what << ": " << SkinResultName(Parse(b.bytes, &skin));
  }
}

TEST(SkinFile, FieldsAndPadding) {
  SkinBuilder b;
  b.Header(2).Element(2, 11, 12, 13, 14).Image(24, 3, 1).Image(24, 4, 1).Element(1).Image(8, 3, 2);
  SkinFile skin;
  ASSERT_EQ(Parse(b.bytes, &skin), SkinResult::kOk);
  EXPECT_EQ(skin.magic, kSkinMagic);
  EXPECT_EQ(skin.version, kSkinVersion);
  EXPECT_EQ(skin.elementCount, 2);
  EXPECT_EQ(skin.videoLeft, 10);
  EXPECT_EQ(skin.videoTop, 20);
  EXPECT_EQ(skin.videoRight, 202);
  EXPECT_EQ(skin.videoBottom, 164);
  ASSERT_EQ(skin.elements.size(), 2u);
  const SkinElement& e = skin.elements[0];
  EXPECT_EQ(e.type, 7u);
  EXPECT_EQ(e.x, 11u);
  EXPECT_EQ(e.y, 12u);
  EXPECT_EQ(e.width, 13u);
  EXPECT_EQ(e.height, 14u);
  ASSERT_EQ(e.images.size(), 2u);
  EXPECT_EQ(e.images[0].pixels.size(), 9u);
  EXPECT_EQ(e.images[1].pixels.size(), 12u);
  // The second image starts after 3 bytes of padding: its first pixel byte is 1.
  EXPECT_EQ(e.images[1].pixels[0], 1);
  EXPECT_EQ(e.images[1].x, 5u);
  EXPECT_EQ(e.images[1].y, 6u);
  const SkinImage& indexed = skin.elements[1].images[0];
  EXPECT_EQ(indexed.bitsPerPixel, 8u);
  ASSERT_EQ(indexed.palette.size(), 1024u);
  EXPECT_EQ(indexed.palette[4 * 3 + 0], 3);
  EXPECT_EQ(indexed.palette[4 * 3 + 1], 252);
  EXPECT_EQ(indexed.pixels.size(), 6u);
  EXPECT_EQ(indexed.pixels[5], 6);
  // Every byte counted: the file ends exactly after the last padding.
  EXPECT_EQ(b.bytes.size(), 276u + 2 * 276 + (16 + 12) + (16 + 12) + (16 + 1024 + 8));
}

TEST(SkinFile, PlayerElementsAllThere) {
  SkinFile skin;
  SkinBuilder full;
  full.PlayerSkin();
  ASSERT_EQ(Parse(full.bytes, &skin), SkinResult::kOk);
  EXPECT_EQ(CheckPlayerSkin(skin), SkinResult::kOk);
  for (int e = 0; e < 11; ++e) {
    SkinBuilder b;
    b.PlayerSkin(e);
    SkinFile missing;
    ASSERT_EQ(Parse(b.bytes, &missing), SkinResult::kOk) << e;
    int which = -1;
    EXPECT_NE(CheckPlayerSkin(missing, &which), SkinResult::kOk) << e;
  }
  // One image short in each element.
  for (int e = 0; e < 11; ++e) {
    SkinFile fewer = skin;
    fewer.elements[static_cast<size_t>(e)].images.pop_back();
    int which = -1;
    EXPECT_EQ(CheckPlayerSkin(fewer, &which), SkinResult::kMissingElement) << e;
    EXPECT_EQ(which, e);
  }
  SkinBuilder flat;
  flat.PlayerSkin(-1, 96);  // thumb as tall as the track
  SkinFile bad;
  ASSERT_EQ(Parse(flat.bytes, &bad), SkinResult::kOk);
  EXPECT_EQ(CheckPlayerSkin(bad), SkinResult::kBadSlider);
}

TEST(SkinFile, EveryPrefixOfAGoodSkinFailsCleanly) {
  SkinBuilder b;
  b.PlayerSkin();
  // Each cut inside a record fails; the header and element records are
  // checked against what is left before anything is allocated.
  for (size_t cut = 0; cut + 3 < b.bytes.size(); cut += 7) {
    SkinFile skin;
    const SkinResult r = ParseSkin(b.bytes.data(), cut, &skin);
    EXPECT_NE(r, SkinResult::kOk) << cut;
  }
}

TEST(SkinFile, TheBuiltSkinLoads) {
  std::FILE* f = std::fopen(SKIN_FILE, "rb");
  ASSERT_NE(f, nullptr) << SKIN_FILE;
  std::vector<uint8_t> bytes;
  uint8_t buffer[65536];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  SkinFile skin;
  ASSERT_EQ(Parse(bytes, &skin), SkinResult::kOk);
  EXPECT_EQ(CheckPlayerSkin(skin), SkinResult::kOk);
  EXPECT_EQ(skin.elements[0].images[0].width, 240u);
  EXPECT_EQ(skin.elements[4].images[0].bitsPerPixel, 8u);  // both depths are used
  EXPECT_EQ(skin.elements[0].images[0].bitsPerPixel, 24u);
  EXPECT_EQ(skin.videoRight - skin.videoLeft, 192);
  EXPECT_EQ(skin.videoBottom - skin.videoTop, 144);
}

}  // namespace
}  // namespace shell

#include "shell/portable/skin_controls.h"

namespace shell {
namespace {

TEST(SkinControls, TimeTextTable) {
  struct Case {
    uint32_t position, duration;
    const char16_t* want;
  };
  const Case cases[] = {
      {65, 300, u"1:05/5:00"},        {65, 600, u"01:05/10:00"},   {65, 3900, u"0:01:05/1:05:00"},
      {0, 0, u"0:00/0:00"},           {5, 59, u"0:05/0:59"},       {0, 60, u"0:00/1:00"},
      {599, 600, u"09:59/10:00"},     {3600, 7200, u"1:00:00/2:00:00"}, {61, 3605, u"0:01:01/1:00:05"},
      {36000, 36001, u"10:00:00/10:00:01"},
  };
  for (const Case& c : cases) {
    const std::u16string got = FormatTimeText(c.position, c.duration);
    EXPECT_EQ(got, c.want) << c.position << " of " << c.duration << ": "
                           << std::string(got.begin(), got.end());
  }
}

TEST(SkinControls, SeekPositions) {
  // Bar from x 5, 190 wide, 60 s.
  EXPECT_EQ(SeekPositionAt(5, 5, 190, 60000), 0);
  EXPECT_EQ(SeekPositionAt(100, 5, 190, 60000), 30000);
  EXPECT_EQ(SeekPositionAt(195, 5, 190, 60000), 60000);
  EXPECT_EQ(SeekPositionAt(400, 5, 190, 60000), 60000);  // past the right end: the duration
  EXPECT_EQ(SeekPositionAt(-3, 5, 190, 60000), 0);      // a negative x: 0
  EXPECT_EQ(SeekPositionAt(2, 5, 190, 60000), 0);
  EXPECT_EQ(SeekPositionAt(100, 5, 190, 0), 0);
  EXPECT_EQ(SeekXOf(30000, 5, 190, 60000), 100);
  EXPECT_EQ(SeekXOf(123, 5, 190, 0), 5);  // no duration: an empty bar
}

TEST(SkinControls, VolumeThumb) {
  const VolumeTrack track{15, 84, 8};
  EXPECT_EQ(track.Usable(), 61);
  EXPECT_EQ(track.ThumbTopFor(100), 15);
  EXPECT_EQ(track.ValueAt(15), 100);
  EXPECT_EQ(track.ThumbTopFor(0), 84 - 8);
  EXPECT_EQ(track.ValueAt(76), 0);
  EXPECT_EQ(track.ThumbTopFor(50), 45);
  EXPECT_EQ(track.ValueAt(45), 51);
}

}  // namespace
}  // namespace shell
