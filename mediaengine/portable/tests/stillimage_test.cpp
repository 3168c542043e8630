// BMP reading and writing, the picture the engine keeps, and the row and
// pixel routines.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "mediaengine/stillimage.h"

using namespace mediaengine;

namespace {

struct BmpSpec {
  int width = 4;
  int height = 2;
  int bits = 24;
  uint32_t compression = 0;
  uint32_t colorsUsed = 0;
  std::vector<uint32_t> palette;  // 0x00RRGGBB
  // Byte of file row r (0 = bottom) at column byte i.
  std::function<uint8_t(int r, int i)> byte = [](int r, int i) { return uint8_t(r * 16 + i); };
};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

std::vector<uint8_t> MakeBmp(const BmpSpec& s) {
  const size_t rowBytes = (size_t(s.width) * size_t(s.bits) + 7) / 8, fileRow = (rowBytes + 3) / 4 * 4;
  std::vector<uint8_t> out = {'B', 'M'};
  const uint32_t offset = uint32_t(54 + 4 * s.palette.size());
  Put32(out, uint32_t(offset + fileRow * size_t(s.height)));
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, 40);
  Put32(out, uint32_t(s.width));
  Put32(out, uint32_t(s.height));
  out.push_back(1), out.push_back(0);
  out.push_back(uint8_t(s.bits)), out.push_back(0);
  Put32(out, s.compression);
  for (int i = 0; i < 3; ++i) Put32(out, 0);
  Put32(out, s.colorsUsed);
  Put32(out, 0);
  for (uint32_t c : s.palette) Put32(out, c);
  for (int r = 0; r < s.height; ++r)
    for (size_t i = 0; i < fileRow; ++i) out.push_back(i < rowBytes ? s.byte(r, int(i)) : 0);
  return out;
}

TEST(StillImageNames, KindByExtension) {
  EXPECT_EQ(ImageKindFromName("C:\\pictures\\Still.JPG"), ImageKind::Jpeg);
  EXPECT_EQ(ImageKindFromName("a.jpeg"), ImageKind::Jpeg);
  EXPECT_EQ(ImageKindFromName("a.b.Bmp"), ImageKind::Bmp);
  EXPECT_EQ(ImageKindFromName("a.gif"), ImageKind::Invalid);
  EXPECT_EQ(ImageKindFromName("noextension"), ImageKind::Invalid);
}

TEST(ReadBmp, TwentyFourBitRowsComeTopDown) {
  BmpSpec s;
  s.width = 3, s.height = 2;
  std::vector<uint8_t> file = MakeBmp(s);
  BmpImage image;
  std::string error;
  ASSERT_TRUE(ReadBmp(file.data(), file.size(), &image, &error)) << error;
  ASSERT_EQ(image.rows.size(), 18u);
  EXPECT_EQ(image.rows[0], 16) << "the file's second row is the top";
  EXPECT_EQ(image.rows[8], 16 + 8);
  EXPECT_EQ(image.rows[9], 0);
  EXPECT_EQ(image.rows[17], 8);
}

TEST(ReadBmp, PaletteDepthsMostSignificantBitsFirst) {
  const std::vector<uint32_t> palette = {0x000000, 0x112233, 0x445566, 0x778899};
  struct {
    int bits;
    uint8_t firstByte;
    std::vector<int> indexes;  // of the first pixels
  } cases[] = {
      {1, 0b10100000, {1, 0, 1, 0}},
      {4, 0x31, {3, 1}},
      {8, 0x02, {2}},
  };
  for (const auto& c : cases) {
    BmpSpec s;
    s.width = int(c.indexes.size()), s.height = 1, s.bits = c.bits;
    s.palette.assign(palette.begin(), palette.begin() + std::min(4, 1 << c.bits));
    s.colorsUsed = uint32_t(s.palette.size());
    s.byte = [&](int, int i) { return i == 0 ? c.firstByte : uint8_t(0); };
    std::vector<uint8_t> file = MakeBmp(s);
    BmpImage image;
    std::string error;
    ASSERT_TRUE(ReadBmp(file.data(), file.size(), &image, &error)) << c.bits << ": " << error;
    for (size_t x = 0; x < c.indexes.size(); ++x) {
      uint32_t colour = palette[size_t(c.indexes[x])];
      EXPECT_EQ(image.rows[3 * x], uint8_t(colour)) << c.bits << " bits, pixel " << x;
      EXPECT_EQ(image.rows[3 * x + 2], uint8_t(colour >> 16));
    }
  }
}

TEST(ReadBmp, IndexBeyondThePaletteIsBlack) {
  BmpSpec s;
  s.width = 2, s.height = 1, s.bits = 8, s.colorsUsed = 2, s.palette = {0xFFFFFF, 0xFFFFFF};
  s.byte = [](int, int i) { return uint8_t(i == 0 ? 1 : 200); };
  std::vector<uint8_t> file = MakeBmp(s);
  BmpImage image;
  std::string error;
  ASSERT_TRUE(ReadBmp(file.data(), file.size(), &image, &error)) << error;
  EXPECT_EQ(image.rows, (std::vector<uint8_t>{255, 255, 255, 0, 0, 0}));
}

TEST(ReadBmp, Refusals) {
  auto with = [](std::function<void(BmpSpec&)> change) {
    BmpSpec s;
    change(s);
    return MakeBmp(s);
  };
  std::vector<uint8_t> truncated = with([](BmpSpec&) {});
  truncated.resize(truncated.size() - 5);
  // 8000 x 8000 claimed by a file of one small picture.
  std::vector<uint8_t> hugeInTinyFile = with([](BmpSpec&) {});
  for (int at : {18, 22}) hugeInTinyFile[size_t(at)] = 0x40, hugeInTinyFile[size_t(at) + 1] = 0x1F;
  std::vector<uint8_t> notBmp = with([](BmpSpec&) {});
  notBmp[1] = 'A';
  struct {
    const char* name;
    std::vector<uint8_t> file;
    const char* error;
  } cases[] = {
      {"run-length", with([](BmpSpec& s) { s.bits = 8, s.compression = 1, s.palette = {0}; }),
       "This is a compressed file."},
      {"32 bits", with([](BmpSpec& s) { s.bits = 32; }), "Unsupported bit count"},
      {"no magic", notBmp, "Not a valid BMP File"},
      {"short header", std::vector<uint8_t>(notBmp.begin(), notBmp.begin() + 30), "Not a valid BMP File"},
      {"truncated rows", truncated, "Read Error"},
      {"huge picture in a tiny file", hugeInTinyFile, "Read Error"},
      {"too large a side", with([](BmpSpec& s) { s.width = 20000, s.height = 1; }), "Unsupported image size"},
      {"too many pixels", with([](BmpSpec& s) { s.width = 16384, s.height = 4097, s.bits = 1, s.palette = {0, 0}; }),
       "Unsupported image size"},
      {"negative height", with([](BmpSpec& s) { s.height = -2; }), "Unsupported image size"},
      {"zero width", with([](BmpSpec& s) { s.width = 0; }), "Unsupported image size"},
      {"more colours than the depth holds", with([](BmpSpec& s) { s.bits = 1, s.colorsUsed = 3, s.palette = {0, 0, 0}; }),
       "Corrupt palette"},
      {"palette cut short", with([](BmpSpec& s) { s.bits = 8, s.colorsUsed = 0, s.palette = {0}; }), "Read Error!"},
  };
  for (const auto& c : cases) {
    BmpImage image;
    std::string error;
    EXPECT_FALSE(ReadBmp(c.file.data(), c.file.size(), &image, &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_TRUE(image.rows.empty()) << c.name;
  }
}

TEST(LoadBmpPicture, SizesPaddingAndScaling) {
  struct {
    int width, height, bits;
    int headerWidth, headerHeight;
    size_t rowBytes;
  } cases[] = {
      {175, 2, 24, 176, 2, 528},      // the padding holds a whole pixel
      {174, 2, 24, 174, 2, 524},
      {2000, 900, 24, 1280, 900, 3840},
      {1280, 1024, 24, 1280, 1024, 3840},  // not scaled
      {8, 1100, 24, 8, 1024, 24},
      {3, 2, 16, 4, 2, 12},      // 9 bytes padded to 12 hold a fourth pixel
  };
  for (const auto& c : cases) {
    BmpSpec s;
    s.width = c.width, s.height = c.height, s.bits = c.bits;
    s.byte = [](int, int) { return uint8_t(77); };
    std::vector<uint8_t> file = MakeBmp(s);
    StillPicture picture;
    std::string error;
    ASSERT_TRUE(LoadBmpPicture(file.data(), file.size(), &picture, &error)) << c.width << ": " << error;
    EXPECT_EQ(picture.header.width, c.headerWidth) << c.width << " x " << c.height;
    EXPECT_EQ(picture.header.height, c.headerHeight);
    EXPECT_EQ(picture.header.bitCount, 24);
    EXPECT_EQ(RowSize24(picture.header.width), c.rowBytes);
    EXPECT_EQ(picture.header.imageSize, c.rowBytes * size_t(c.headerHeight));
    ASSERT_EQ(picture.pixels.size(), picture.header.imageSize);
    uint8_t expected = c.bits == 16 ? 0 : 77;  // 16-bit pictures are black
    EXPECT_EQ(picture.pixels[0], expected);
    EXPECT_EQ(picture.pixels[picture.pixels.size() / 2], expected);
  }
}

TEST(WriteBmp, ReadsBackAsItWasWritten) {
  const int width = 5, height = 3;
  std::vector<uint8_t> pixels(RowSize24(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = (i % RowSize24(width)) < width * 3 ? uint8_t(i * 7) : 0;
  std::vector<uint8_t> file = WriteBmp(pixels.data(), width, height);
  ASSERT_EQ(file.size(), 54 + pixels.size());
  EXPECT_EQ(file[2] | file[3] << 8, int(file.size()));
  EXPECT_EQ(file[10], 54);
  EXPECT_EQ(file[14], 40);
  EXPECT_EQ(file[28], 24);
  StillPicture picture;
  std::string error;
  ASSERT_TRUE(LoadBmpPicture(file.data(), file.size(), &picture, &error)) << error;
  EXPECT_EQ(picture.pixels, pixels);
}

TEST(Rows, FlipAndPad) {
  std::vector<uint8_t> packed = {1, 2, 3, 4, 5, 6, 7, 8, 9};  // 1 x 3
  std::vector<uint8_t> padded(12);
  PadRows(packed.data(), 1, 3, padded.data());
  EXPECT_EQ(padded, (std::vector<uint8_t>{1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0}));
  FlipRows(padded.data(), 1, 3);
  EXPECT_EQ(padded, (std::vector<uint8_t>{7, 8, 9, 0, 4, 5, 6, 0, 1, 2, 3, 0})) << "the middle row stays";
  FlipRows(padded.data(), 1, 0);
  FlipRows(padded.data(), 1, -1);
  EXPECT_EQ(padded[0], 7);
}

TEST(Rows, ScaleDownAveragesEachBox) {
  // 4 x 2 to 2 x 1: each destination pixel averages a 2 x 2 box.
  const int sw = 4, sh = 2;
  std::vector<uint8_t> source(RowSize24(sw) * sh);
  const uint8_t blue[2][4] = {{10, 20, 100, 101}, {30, 41, 102, 103}};
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) source[size_t(y) * RowSize24(sw) + size_t(x) * 3] = blue[y][x];
  std::vector<uint8_t> out(RowSize24(2), 0xEE);
  ScaleDown(source.data(), sw, sh, out.data(), 2, 1);
  EXPECT_EQ(out[0], (10 + 20 + 30 + 41) / 4);
  EXPECT_EQ(out[3], (100 + 101 + 102 + 103) / 4);
  EXPECT_EQ(out[6], 0) << "the row's padding is cleared";
}

TEST(Yuv420ToRgb24, Vectors) {
  struct {
    uint8_t y, u, v;
    uint8_t b, g, r;
  } cases[] = {
      {16, 128, 128, 0, 0, 0},        // black
      {235, 128, 128, 254, 254, 254},  // (149 x 235 - 2384) >> 7 = 254
      {128, 255, 128, 255, 81, 130},  // Y' 130, B clamps, G - 50 x 127 / 128
      {128, 128, 0, 130, 234, 0},     // G + 13 x 128 / 16 = 104; R clamps at 0
      {0, 0, 255, 0, 0, 183},         // Y' -19; B, G clamp; R -19 + 202
  };
  for (const auto& c : cases) {
    // A 2 x 2 picture of one colour: one chroma sample.
    uint8_t y[4] = {c.y, c.y, c.y, c.y};
    uint8_t out[12];
    Yuv420ToRgb24(y, &c.u, &c.v, out, 2, 2);
    for (int p = 0; p < 4; ++p) {
      EXPECT_EQ(out[3 * p], c.b) << int(c.y) << "," << int(c.u) << "," << int(c.v);
      EXPECT_EQ(out[3 * p + 1], c.g);
      EXPECT_EQ(out[3 * p + 2], c.r);
    }
  }
  // Each chroma sample serves two columns and two rows.
  uint8_t y[8] = {100, 100, 100, 100, 100, 100, 100, 100};  // 4 x 2
  uint8_t u[2] = {128, 200}, v[2] = {128, 128};
  uint8_t out[24];
  Yuv420ToRgb24(y, u, v, out, 4, 2);
  EXPECT_EQ(out[0], out[3]);
  EXPECT_NE(out[3], out[6]);
  EXPECT_EQ(out[6], out[12 + 9]);
}

}  // namespace
