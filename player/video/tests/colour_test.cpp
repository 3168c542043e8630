#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "video/colour.h"

namespace {

// A planar YUV 4:2:0 picture in a buffer whose rows may be longer than the
// picture (the decoder's frames are padded to multiples of 16).
struct Picture {
  int width, height, stride;
  std::vector<uint8_t> y, u, v;
  Picture(int w, int h, int s = 0) : width(w), height(h), stride(s ? s : w) {
    y.assign(size_t(stride) * h, 0);
    u.assign(size_t((stride + 1) / 2) * ((h + 1) / 2), 128);
    v.assign(u.size(), 128);
  }
  int cstride() const { return (stride + 1) / 2; }
  uint8_t& Y(int c, int r) { return y[size_t(r) * stride + c]; }
  uint8_t& U(int c, int r) { return u[size_t(r) * cstride() + c]; }
  uint8_t& V(int c, int r) { return v[size_t(r) * cstride() + c]; }
  const uint8_t* planes[3];
  const uint8_t* const* Planes() {
    planes[0] = y.data(), planes[1] = u.data(), planes[2] = v.data();
    return planes;
  }
  DisplayFormat Format() const {
    DisplayFormat f{};
    f.bitsPerPixel = 12, f.width = width, f.height = height, f.kind = kDisplayKindPlanarYuv420;
    f.pitch = stride, f.rows = height;
    return f;
  }
  // Random luma and chroma within the video range (the peer's fixed point
  // wraps around far outside it); chroma random per tile of 32 x 32 pixels,
  // because the peer interpolates chroma where we repeat it, so comparisons
  // keep away from the inner tile borders.
  static constexpr int kTile = 32, kMargin = 6;
  void FillTestPattern(uint32_t seed) {
    uint32_t s = seed;
    auto next = [&s] { return s = s * 1664525u + 1013904223u, uint8_t(16 + (s >> 24) * 220 / 256); };
    for (int r = 0; r < height; ++r)
      for (int c = 0; c < width; ++c) Y(c, r) = next();
    std::vector<uint8_t> tileU, tileV;
    for (int i = 0; i < 64 * 64; ++i) tileU.push_back(next()), tileV.push_back(next());
    for (int r = 0; r < (height + 1) / 2; ++r)
      for (int c = 0; c < (width + 1) / 2; ++c) {
        const int tile = (r * 2 / kTile) * 64 + c * 2 / kTile;
        U(c, r) = tileU[tile], V(c, r) = tileV[tile];
      }
  }
  // Away from the inner tile borders, where the chroma of a pixel is its tile's.
  bool InsideTile(int c, int r) const {
    auto inside = [](int p, int size) {
      const int t = p % kTile;
      const bool lastTile = (p / kTile + 1) * kTile >= size;
      return (t >= kMargin || p < kTile) && (t < kTile - kMargin || lastTile);
    };
    return inside(c, width) && inside(r, height);
  }
};

DisplayFormat Surface(int bits, int width, int height, uint32_t r = 0, uint32_t g = 0,
                      uint32_t b = 0) {
  DisplayFormat f{};
  f.bitsPerPixel = bits, f.width = width, f.height = height, f.kind = kDisplayKindPackedRgb;
  f.pitch = width, f.rows = height, f.redMask = r, f.greenMask = g, f.blueMask = b;
  return f;
}

// Exactly the surface's bytes: 4-bit rows start on their own byte.
size_t SurfaceBytes(const DisplayFormat& f) {
  if (f.bitsPerPixel == 4) return (size_t(f.pitch) + 1) / 2 * f.rows;
  const int bits = f.bitsPerPixel == 12 ? 16 : f.bitsPerPixel;  // 12-bit pixels take 16 bits
  return size_t(f.pitch) * f.rows * bits / 8;
}

// Converts `pic` with a freshly selected converter for `dest`.
std::vector<uint8_t> ConvertWith(Picture& pic, DisplayFormat dest, uint32_t mode = kConvertModePacked4) {
  ColorConverterHolder holder;
  EXPECT_EQ(holder.Select(dest), 1);
  std::vector<uint8_t> out(SurfaceBytes(dest), 0xEE);
  EXPECT_EQ(holder.Convert(pic.Planes(), out.data(), 0, 0, dest, pic.Format(), mode), 1);
  return out;
}

std::array<int, 3> Rgb24(int Y, int U, int V) {
  Picture p(2, 2);
  for (int i = 0; i < 4; ++i) p.y[i] = uint8_t(Y);
  p.u[0] = uint8_t(U), p.v[0] = uint8_t(V);
  auto out = ConvertWith(p, Surface(24, 2, 2));
  return {out[2], out[1], out[0]};  // stored blue, green, red
}

TEST(Colour, RgbVectors) {
  struct Case { int y, u, v, r, g, b; };
  const Case cases[] = {
      {16, 128, 128, 0, 0, 0},
      {235, 128, 128, 254, 254, 254},
      {81, 90, 240, 253, 0, 0},
      {255, 128, 128, 255, 255, 255},
      {0, 0, 0, 0, 135, 0},  // clipped on both sides
  };
  for (const Case& c : cases) {
    auto rgb = Rgb24(c.y, c.u, c.v);
    EXPECT_EQ(rgb, (std::array<int, 3>{c.r, c.g, c.b})) << c.y << " " << c.u << " " << c.v;
  }
}

TEST(Colour, ThirtyTwoBitsAddZeroByteToTwentyFour) {
  Picture p(37, 11);
  p.FillTestPattern(3);
  auto rgb = ConvertWith(p, Surface(24, 37, 11));
  auto rgb0 = ConvertWith(p, Surface(32, 37, 11));
  for (size_t i = 0; i < size_t(37 * 11); ++i) {
    for (int k = 0; k < 3; ++k) ASSERT_EQ(rgb0[i * 4 + k], rgb[i * 3 + k]) << i;
    ASSERT_EQ(rgb0[i * 4 + 3], 0) << i;
  }
}

// The 16-bit pixel is the 24-bit colour cut to the masks' widths.
TEST(Colour, MaskPackings) {
  struct Case { int bits; uint32_t r, g, b; };
  const Case cases[] = {{16, 0xF800, 0x7E0, 0x1F}, {16, 0x7C00, 0x3E0, 0x1F}, {12, 0xF00, 0xF0, 0xF}};
  Picture p(33, 9);
  p.FillTestPattern(5);
  auto rgb = ConvertWith(p, Surface(24, 33, 9));
  for (const Case& c : cases) {
    auto out = ConvertWith(p, Surface(c.bits, 33, 9, c.r, c.g, c.b));
    auto pack = [](int v, uint32_t mask) {
      int s = 0, b = 0;
      while (!(mask >> s & 1)) ++s;
      while (mask >> (s + b) & 1) ++b;
      return uint32_t(v >> (8 - b)) << s;
    };
    for (size_t i = 0; i < size_t(33 * 9); ++i) {
      const uint32_t want = pack(rgb[i * 3 + 2], c.r) | pack(rgb[i * 3 + 1], c.g) | pack(rgb[i * 3], c.b);
      ASSERT_EQ(out[i * 2] | out[i * 2 + 1] << 8, want) << c.bits << " " << std::hex << c.r << " at " << i;
    }
  }
}

TEST(Colour, Rgb565Vectors) {
  ColorConverter16 converter(Surface(16, 2, 2, 0xF800, 0x7E0, 0x1F));
  EXPECT_EQ(converter.Pixel(255, 255, 255), 0xFFFF);
  EXPECT_EQ(converter.Pixel(8, 4, 8), 0x0821);
  EXPECT_EQ(converter.Pixel(7, 3, 7), 0x0000);
}

TEST(Colour, PaletteOfTheEightBitConverter) {
  std::vector<uint8_t> buffer(1024, 0xAB);
  DisplayFormat dest = Surface(8, 8, 8, 0xFF, 0xFF00, 0xFF0000);
  dest.palette = buffer.data(), dest.paletteSize = 256;
  ColorConverterHolder holder;
  ASSERT_EQ(holder.Select(dest), 1);
  EXPECT_EQ(holder.converter()->palette(), buffer);
  // Entry 0x55: luma level 5, u = v = -16.
  EXPECT_EQ(buffer[0x55 * 4 + 0], 58);
  EXPECT_EQ(buffer[0x55 * 4 + 1], 103);
  EXPECT_EQ(buffer[0x55 * 4 + 2], 52);
  EXPECT_EQ(buffer[0x55 * 4 + 3], 0);
  for (int n = 0; n < 256; ++n) {
    if (n >= 16 && n < 240) continue;
    for (int k = 0; k < 4; ++k) ASSERT_EQ(buffer[n * 4 + k], 0) << n;
  }
}

TEST(Colour, EightBitOrderedDitherOnFlatGrey) {
  Picture p(10, 7);  // not a multiple of 4: the dither stops at the picture's edge
  std::fill(p.y.begin(), p.y.end(), 128);
  DisplayFormat dest = Surface(8, 12, 8);
  auto out = ConvertWith(p, dest);
  const int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  for (int r = 0; r < 8; ++r)
    for (int c = 0; c < 12; ++c) {
      const uint8_t got = out[size_t(r) * 12 + c];
      if (r >= 7 || c >= 10) {
        EXPECT_EQ(got, 0xEE) << r << "," << c;  // outside the picture: untouched
      } else {
        // luma 112 or 128 in the high nibble, chroma levels 1 or 2
        EXPECT_EQ(got, bayer[r & 3][c & 3] < 8 ? 0x75 : 0x8A) << r << "," << c;
      }
    }
}

TEST(Colour, FourBitErrorDiffusionOnFlatArea) {
  Picture p(16, 8);
  std::fill(p.y.begin(), p.y.end(), 0x88);
  DisplayFormat dest = Surface(4, 16, 8);
  auto packed = ConvertWith(p, dest);
  for (int c = 0; c < 8; ++c) EXPECT_EQ(packed[c], 0x88) << c;  // first row stays at level 8
  int lifted = 0;
  for (size_t i = 8; i < 64; ++i) {
    for (int nib : {int(packed[i] >> 4), int(packed[i] & 15)}) {
      EXPECT_TRUE(nib == 8 || nib == 9) << i;
      lifted += nib == 9;
    }
  }
  EXPECT_GT(lifted, 0);
  EXPECT_LT(lifted, 64);  // scattered, not a whole-area shift
  // Without the packing bit every pixel is a byte holding the inverted level.
  ColorConverterHolder holder;
  holder.Select(dest);
  std::vector<uint8_t> out(16 * 8, 0xEE);
  ASSERT_EQ(holder.Convert(p.Planes(), out.data(), 0, 0, dest, p.Format(), 0), 1);
  for (size_t i = 0; i < out.size(); ++i) {
    const int level = (i % 2 == 0 ? packed[i / 2] >> 4 : packed[i / 2] & 15);
    EXPECT_EQ(out[i], 15 - level) << i;
  }
}

TEST(Colour, FourBitOddWidthKeepsRowsApart) {
  // An odd width leaves the last low nibble of each row as it was instead of
  // borrowing the next row's first pixel.
  Picture p(5, 3);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 5; ++c) p.Y(c, r) = uint8_t(r == 1 ? 0xF0 : 0x10);
  DisplayFormat dest = Surface(4, 6, 3);
  auto out = ConvertWith(p, dest);
  EXPECT_EQ(out[2], 0x1E);
  EXPECT_EQ(out[3], 0xFF);  // row 1 starts at byte 3
  EXPECT_EQ(out[5], 0xFE);
}

// The picture drawn at every position of surfaces with odd and even pitches,
// packed and one byte per pixel, into buffers of exactly the surface's size:
// each pixel lands in its own nibble (or byte) and nothing else changes.
TEST(Colour, FourBitOddPitchesAndPositions) {
  // Levels on multiples of 16 leave no error to diffuse.
  struct Size { int w, h; };
  for (const Size pic : {Size{1, 1}, Size{2, 2}, Size{3, 2}, Size{5, 3}}) {
    Picture p(pic.w, pic.h);
    for (int r = 0; r < pic.h; ++r)
      for (int c = 0; c < pic.w; ++c) p.Y(c, r) = uint8_t((r * pic.w + c + 1) << 4);
    for (int pitch = pic.w; pitch <= pic.w + 3; ++pitch) {
      const int rows = pic.h + 1;
      for (int y = 0; y + pic.h <= rows; ++y)
        for (int x = 0; x + pic.w <= pitch; ++x)
          for (bool packed : {true, false}) {
            DisplayFormat dest = Surface(4, pitch, rows);
            ColorConverterHolder holder;
            ASSERT_EQ(holder.Select(dest), 1);
            const size_t rowBytes = packed ? (size_t(pitch) + 1) / 2 : size_t(pitch);
            std::vector<uint8_t> out(rowBytes * rows, 0xA5);  // exact size, for ASan
            ASSERT_EQ(holder.Convert(p.Planes(), out.data(), x, y, dest, p.Format(),
                                     packed ? kConvertModePacked4 : 0), 1);
            for (int r = 0; r < rows; ++r)
              for (int c = 0; c < (packed ? int(rowBytes) * 2 : pitch); ++c) {
                const bool inside = r >= y && r < y + pic.h && c >= x && c < x + pic.w;
                const int level = inside ? (r - y) * pic.w + (c - x) + 1 : -1;
                int got, want;
                if (packed) {
                  const uint8_t b = out[size_t(r) * rowBytes + size_t(c) / 2];
                  got = c % 2 ? b & 15 : b >> 4;
                  want = inside ? level : (c % 2 ? 0x5 : 0xA);
                } else {
                  got = out[size_t(r) * pitch + c];
                  want = inside ? 15 - level : 0xA5;
                }
                ASSERT_EQ(got, want) << pic.w << "x" << pic.h << " pitch " << pitch << " at " << x << "," << y
                                     << " packed " << packed << ", pixel " << c << "," << r;
              }
          }
    }
  }
}

// The fault's own case: pitch 3, rows 12 3_ / 45 6_ (not 12 45 60).
TEST(Colour, FourBitPitchThreeRowsOnOwnBytes) {
  Picture p(3, 2);
  for (int i = 0; i < 6; ++i) p.y[i] = uint8_t((i + 1) << 4);
  DisplayFormat dest = Surface(4, 3, 2);
  auto out = ConvertWith(p, dest);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x12, 0x3E, 0x45, 0x6E}));
}

TEST(Colour, UnsupportedDepthLeavesNoConverter) {
  ColorConverterHolder holder;
  ASSERT_EQ(holder.Select(Surface(24, 4, 4)), 1);
  EXPECT_EQ(holder.Select(Surface(15, 4, 4)), 0);
  EXPECT_EQ(holder.converter(), nullptr);
  Picture p(4, 4);
  std::vector<uint8_t> out(64, 0xEE);
  DisplayFormat dest = Surface(15, 4, 4);
  EXPECT_EQ(holder.Convert(p.Planes(), out.data(), 0, 0, dest, p.Format(), 0), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(64, 0xEE));
}

TEST(Colour, RefusesWhatDoesNotFitOrIsNotYuv) {
  Picture p(8, 8);
  ColorConverterHolder holder;
  DisplayFormat dest = Surface(24, 8, 8);
  ASSERT_EQ(holder.Select(dest), 1);
  std::vector<uint8_t> out(SurfaceBytes(dest), 0xEE);
  DisplayFormat rgbSource = p.Format();
  rgbSource.kind = kDisplayKindPackedRgb;
  EXPECT_EQ(holder.Convert(p.Planes(), out.data(), 0, 0, dest, rgbSource, 0), 0);
  EXPECT_EQ(holder.Convert(p.Planes(), out.data(), 1, 0, dest, p.Format(), 0), 0);
  EXPECT_EQ(holder.Convert(p.Planes(), out.data(), 0, 1, dest, p.Format(), 0), 0);
  EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xEE));
}

// A picture whose width is not a multiple of 16 lies in the decoder's padded
// frame; every converter reads its rows with the frame's pitch and gives what
// the same picture packed at its own width gives.
TEST(Colour, PaddedSourceIsNotSheared) {
  for (int bits : {4, 8, 12, 16, 24, 32}) {
    for (auto [w, h] : {std::pair{170, 30}, std::pair{171, 29}}) {
      const int stride = (w + 15) / 16 * 16;
      Picture padded(w, h, stride), packed(w, h);
      packed.FillTestPattern(9);
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) padded.Y(c, r) = packed.Y(c, r);
      for (int r = 0; r < (h + 1) / 2; ++r)
        for (int c = 0; c < (w + 1) / 2; ++c)
          padded.U(c, r) = packed.U(c, r), padded.V(c, r) = packed.V(c, r);
      DisplayFormat dest = Surface(bits, w + 3, h, 0xF800, 0x7E0, 0x1F);
      EXPECT_EQ(ConvertWith(padded, dest), ConvertWith(packed, dest)) << bits << " bits, " << w << "x" << h;
    }
  }
}

TEST(Colour, WritesAtTheGivenPosition) {
  Picture p(6, 4);
  p.FillTestPattern(1);
  DisplayFormat small = Surface(24, 6, 4), big = Surface(24, 10, 9);
  auto alone = ConvertWith(p, small);
  ColorConverterHolder holder;
  ASSERT_EQ(holder.Select(big), 1);
  std::vector<uint8_t> out(SurfaceBytes(big), 0xEE);
  ASSERT_EQ(holder.Convert(p.Planes(), out.data(), 3, 5, big, p.Format(), 0), 1);
  for (int r = 0; r < 9; ++r)
    for (int c = 0; c < 10; ++c)
      for (int k = 0; k < 3; ++k) {
        const uint8_t got = out[(size_t(r) * 10 + c) * 3 + k];
        const bool inside = r >= 5 && c >= 3 && c < 9;
        ASSERT_EQ(got, inside ? alone[((r - 5) * 6 + c - 3) * 3 + k] : 0xEE) << r << "," << c;
      }
}

// ffmpeg's converter is the peer for the 24- and 32-bit output.
TEST(ColourPeer, MatchesFfmpegWithinTwo) {
#ifdef _WIN32
  GTEST_SKIP() << "ffmpeg is reached from the native build";
#else
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
  for (auto [w, h] : {std::pair{176, 144}, std::pair{175, 121}, std::pair{45, 23}}) {
    Picture p(w, h);
    p.FillTestPattern(uint32_t(w));
    const std::string in = "colour_peer.yuv", out = "colour_peer.bgr";
    {
      std::ofstream f(in, std::ios::binary);
      f.write(reinterpret_cast<const char*>(p.y.data()), std::streamsize(p.y.size()));
      f.write(reinterpret_cast<const char*>(p.u.data()), std::streamsize(p.u.size()));
      f.write(reinterpret_cast<const char*>(p.v.data()), std::streamsize(p.v.size()));
    }
    const std::string cmd = "ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s " + std::to_string(w) +
                            "x" + std::to_string(h) + " -i " + in +
                            " -sws_flags accurate_rnd+full_chroma_int -f rawvideo -pix_fmt bgr24 " + out;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream f(out, std::ios::binary);
    std::vector<uint8_t> peer((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    ASSERT_EQ(peer.size(), size_t(w) * h * 3);
    for (int bits : {24, 32}) {
      auto ours = ConvertWith(p, Surface(bits, w, h));
      const int step = bits / 8;
      int worst = 0;
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
          if (!p.InsideTile(c, r)) continue;
          const size_t i = size_t(r) * w + c;
          for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(ours[i * step + k] - peer[i * 3 + k]));
        }
      EXPECT_LE(worst, 2) << bits << " bits " << w << "x" << h;
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
  }
#endif
}

}  // namespace

namespace {

// The vector paths against the plain loops, on random pictures of the size
// table: odd widths and heights, a padded source pitch, and the picture
// placed at the surface's bottom-right corner; every byte equal, and nothing
// written outside the picture.
TEST(ColourFast, SameBytesAsThePlainLoops) {
  struct Size { int w, h, stride; };
  const Size sizes[] = {{1, 1, 0},  {2, 2, 0},   {15, 3, 0},  {16, 2, 0},   {17, 5, 0},  {31, 7, 0},
                        {33, 9, 48}, {47, 4, 0}, {176, 144, 0}, {171, 29, 176}, {352, 288, 0}, {355, 17, 368}};
  struct Format { int bits; uint32_t r, g, b; };
  const Format formats[] = {{32, 0, 0, 0},         {24, 0, 0, 0},        {16, 0xF800, 0x7E0, 0x1F},
                            {16, 0x7C00, 0x3E0, 0x1F}, {12, 0xF00, 0xF0, 0xF}, {16, 0x1F, 0x7E0, 0xF800}};
  uint32_t seed = 77;
  for (const Size& s : sizes) {
    Picture p(s.w, s.h, s.stride);
    for (auto* plane : {&p.y, &p.u, &p.v})
      for (auto& b : *plane) seed = seed * 1664525u + 1013904223u, b = uint8_t(seed >> 24);
    for (const Format& f : formats) {
      DisplayFormat dest = Surface(f.bits, s.w + 5, s.h + 3, f.r, f.g, f.b);
      // Plain loops, baseline vectors, and the best the processor has.
      std::vector<uint8_t> out[3];
      for (int path = 0; path < 3; ++path) {
        ColorConverterHolder holder;
        ASSERT_EQ(holder.Select(dest), 1);
        holder.converter()->UsePlainPath(path == 0);
        holder.converter()->UseBaselineVectors(path == 1);
        out[path].assign(SurfaceBytes(dest), 0xEE);
        ASSERT_EQ(holder.Convert(p.Planes(), out[path].data(), 5, 3, dest, p.Format(), 0), 1);
      }
      ASSERT_EQ(out[1], out[0]) << f.bits << " bits " << std::hex << f.r << std::dec << ", " << s.w << "x" << s.h;
      ASSERT_EQ(out[2], out[0]) << f.bits << " bits " << std::hex << f.r << std::dec << ", " << s.w << "x" << s.h;
      const int bpp = f.bits == 12 ? 2 : f.bits / 8;
      for (int r = 0; r < s.h + 3; ++r)
        for (int c = 0; c < s.w + 5; ++c)
          for (int k = 0; k < bpp && (r < 3 || c < 5); ++k)
            ASSERT_EQ(out[0][(size_t(r) * (s.w + 5) + c) * bpp + k], 0xEE) << r << "," << c;
    }
  }
}

}  // namespace
