#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "video/postfilter.h"

namespace {

// A coded picture with its quantisers and block flags.
struct Picture {
  int w, h, mbCount;
  std::vector<uint8_t> yuv;  // Y, U, V packed
  std::vector<int32_t> quant;
  std::vector<uint8_t> flags, otherFlags;
  Picture(int width, int height, int qp, uint8_t flag)
      : w(width), h(height), mbCount(width / 16 * (height / 16)),
        yuv(size_t(width) * height * 3 / 2, 128), quant(mbCount, qp),
        flags(6 * mbCount, flag), otherFlags(6 * mbCount, 0) {}
  uint8_t& Y(int x, int y) { return yuv[size_t(y) * w + x]; }
  void FillLuma(int x0, int y0, int x1, int y1, uint8_t v) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) Y(x, y) = v;
  }
  void Noise(uint32_t seed) {
    for (auto& b : yuv) seed = seed * 1664525u + 1013904223u, b = uint8_t(seed >> 24);
  }
  std::vector<uint8_t> Filter(int mode) {
    uint8_t* arrays[2] = {flags.data(), otherFlags.data()};
    PostFilterInput in{{yuv.data(), yuv.data() + w * h, yuv.data() + w * h * 5 / 4}, w, h, quant.data(), arrays};
    std::vector<uint8_t> out(yuv.size(), 0xEE);
    EXPECT_EQ(vdec_postfilter(in, out.data(), mode), 1);
    exchanged = arrays[0] == otherFlags.data() && arrays[1] == flags.data();
    return out;
  }
  bool exchanged = false;
};

TEST(PostFilter, ModeZeroCopiesAndSourceIsNeverWritten) {
  for (int mode : {0, 1, 2, 3}) {
    Picture p(48, 32, 12, kBlockFlatHorizontal | kBlockFlatVertical | kBlockTextured);
    // Flat blocks with small steps between them and two outliers in each.
    p.Noise(7);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 48; ++x) p.Y(x, y) = uint8_t(60 + (x / 8 + y / 8) * 5);
    for (int by = 0; by < 4; ++by)
      for (int bx = 0; bx < 6; ++bx) p.Y(bx * 8 + 3, by * 8 + 3) += 7, p.Y(bx * 8 + 7, by * 8 + 7) += 20;
    const std::vector<uint8_t> before = p.yuv;
    auto out = p.Filter(mode);
    EXPECT_EQ(p.yuv, before) << mode;  // the decoder's picture stays as it was
    if (mode == 0) {
      EXPECT_EQ(out, before);
      EXPECT_FALSE(p.exchanged);
    } else {
      EXPECT_NE(out, before) << mode;
      EXPECT_TRUE(p.exchanged) << mode;
    }
  }
}

TEST(PostFilter, RefusesSizesThatAreNotWholeMacroblocks) {
  std::vector<uint8_t> plane(40 * 40 * 2), flags(64);
  std::vector<int32_t> quant(16, 4);
  uint8_t* arrays[2] = {flags.data(), flags.data()};
  PostFilterInput in{{plane.data(), plane.data(), plane.data()}, 40, 40, quant.data(), arrays};
  std::vector<uint8_t> out(40 * 40 * 3 / 2);
  EXPECT_EQ(vdec_postfilter(in, out.data(), 1), 0);
}

// Missing arrays are refused with 0 where the mode needs them, leaving the
// output and the flag arrays as they were; an unknown mode is mode 0 in every
// respect (a copy, and the flag arrays stay where they are).
TEST(PostFilter, MissingArraysAndUnknownModes) {
  enum Missing { kNothing, kQuant, kFlagArrays, kFirstFlags, kOutput, kPlane };
  struct Case { Missing missing; int mode; int result; };
  const Case cases[] = {
      {kQuant, 1, 0}, {kQuant, 2, 0}, {kQuant, 3, 0}, {kQuant, 0, 1},
      {kFlagArrays, 0, 0}, {kFlagArrays, 1, 0}, {kFlagArrays, 2, 0}, {kFlagArrays, 3, 0},
      {kFirstFlags, 1, 0}, {kFirstFlags, 3, 0}, {kFirstFlags, 0, 1}, {kFirstFlags, 2, 1},
      {kOutput, 0, 0}, {kPlane, 3, 0},
      {kNothing, 4, 1}, {kNothing, 5, 1}, {kNothing, 7, 1}, {kNothing, -1, 1}, {kNothing, 255, 1},
      {kQuant, 4, 1}, {kFirstFlags, 7, 1},
  };
  for (const Case& c : cases) {
    Picture p(48, 32, 12, kBlockFlatHorizontal | kBlockFlatVertical | kBlockTextured);
    p.Noise(3);
    const std::vector<uint8_t> flagsBefore = p.flags;
    uint8_t* arrays[2] = {c.missing == kFirstFlags ? nullptr : p.flags.data(), p.otherFlags.data()};
    uint8_t* const arraysBefore[2] = {arrays[0], arrays[1]};
    PostFilterInput in{{p.yuv.data(), p.yuv.data() + p.w * p.h, p.yuv.data() + p.w * p.h * 5 / 4},
                       p.w, p.h, c.missing == kQuant ? nullptr : p.quant.data(),
                       c.missing == kFlagArrays ? nullptr : arrays};
    if (c.missing == kPlane) in.planes[1] = nullptr;
    std::vector<uint8_t> out(p.yuv.size(), 0xEE);
    EXPECT_EQ(vdec_postfilter(in, c.missing == kOutput ? nullptr : out.data(), c.mode), c.result)
        << "missing " << c.missing << " mode " << c.mode;
    // Refused: nothing written. Accepted here: mode 0 or an unknown mode, or
    // deringing without flags, which reads none.
    const bool copies = c.result == 1 && !(c.mode == 2);
    if (c.result == 0) {
      EXPECT_EQ(out, std::vector<uint8_t>(out.size(), 0xEE)) << c.missing << " " << c.mode;
    } else if (copies) {
      EXPECT_EQ(out, p.yuv) << c.missing << " " << c.mode;
    }
    const bool swapped = c.result == 1 && c.mode == 2;
    EXPECT_EQ(arrays[0], swapped ? arraysBefore[1] : arraysBefore[0]) << c.missing << " " << c.mode;
    EXPECT_EQ(arrays[1], swapped ? arraysBefore[0] : arraysBefore[1]) << c.missing << " " << c.mode;
    EXPECT_EQ(p.flags, flagsBefore) << c.missing << " " << c.mode;
  }
}

// Deblocking of one edge between two macroblock rows (or columns) with a step.
TEST(PostFilter, DeblockingStrongAndWeakModes) {
  struct Case {
    bool flat;
    int qp, step;
    int want[6];  // the three pixels before the edge, then the three after
  };
  const Case cases[] = {
      {true, 10, 6, {101, 102, 103, 103, 104, 105}},
      {true, 2, 6, {100, 100, 100, 106, 106, 106}},  // 6 >= 2 QP: left alone
      {true, 10, 12, {102, 103, 106, 106, 109, 110}},
      {false, 10, 6, {100, 101, 103, 103, 105, 106}},
      {false, 5, 6, {100, 100, 100, 106, 106, 106}},  // 6 >= QP
      {false, 10, 12, {100, 100, 100, 112, 112, 112}},
  };
  for (const Case& c : cases) {
    for (bool horizontal : {true, false}) {
      const uint8_t flat = c.flat ? kBlockFlatHorizontal | kBlockFlatVertical : 0;
      Picture p(32, 32, c.qp, flat);
      p.FillLuma(0, 0, 32, 32, 100);
      if (horizontal) {
        p.FillLuma(0, 16, 32, 32, uint8_t(100 + c.step));
      } else {
        p.FillLuma(16, 0, 32, 32, uint8_t(100 + c.step));
      }
      auto out = p.Filter(VDEC_POSTFILTER_DEBLOCK);
      for (int k = 0; k < 6; ++k) {
        const int at = 13 + k;
        const int x = horizontal ? 5 : at, y = horizontal ? at : 5;
        EXPECT_EQ(out[size_t(y) * 32 + x], c.want[k])
            << "flat " << c.flat << " qp " << c.qp << " step " << c.step << " horizontal " << horizontal
            << " pixel " << k;
      }
      // The picture's borders and the edges without a step stay.
      EXPECT_EQ(out[0], 100);
      EXPECT_EQ(out[8 * 32 + 2], 100);
    }
  }
}

// One outlier below the threshold is pulled toward its flat surroundings,
// limited to QP / 4 + 4; a macroblock whose largest range is 15 is left.
TEST(PostFilter, DeringingByMacroblockRange) {
  struct Case { int range, qp, want; };
  const Case cases[] = {{15, 8, 107}, {16, 8, 102}, {16, 1, 103}, {40, 8, 102}};
  for (const Case& c : cases) {
    Picture p(32, 32, c.qp, 0);
    p.FillLuma(0, 0, 32, 32, 100);
    p.Y(3, 3) = 107;
    p.Y(7, 7) = uint8_t(100 + c.range);
    auto out = p.Filter(VDEC_POSTFILTER_DERING);
    EXPECT_EQ(out[3 * 32 + 3], c.want) << "range " << c.range << " qp " << c.qp;
    EXPECT_EQ(out[7 * 32 + 7], 100 + c.range);  // on the other side of the threshold
  }
}

// Chroma blocks are deringed on their own once their range reaches 4.
TEST(PostFilter, ChromaDeringingFromARangeOfFour) {
  for (auto [range, want] : {std::pair{3, 101}, std::pair{4, 100}}) {
    Picture p(32, 32, 8, 0);
    uint8_t* v = p.yuv.data() + 32 * 32 * 5 / 4;
    std::fill(v, v + 256, 100);
    v[2 * 16 + 2] = uint8_t(100 + range);  // sets the block's range
    v[5 * 16 + 5] = 101;                   // below the threshold of 102
    auto out = p.Filter(VDEC_POSTFILTER_DERING);
    EXPECT_EQ(out[32 * 32 * 5 / 4 + 5 * 16 + 5], want) << range;
    EXPECT_EQ(out[32 * 32 * 5 / 4 + 2 * 16 + 2], 100 + range);
  }
}

TEST(PostFilter, CombinedPassSmoothsFlatEdgesAndMarksThem) {
  Picture p(32, 32, 10, kBlockFlatHorizontal | kBlockFlatVertical);
  p.FillLuma(0, 0, 32, 32, 100);
  p.FillLuma(0, 16, 32, 32, 106);
  auto out = p.Filter(VDEC_POSTFILTER_DEBLOCK | VDEC_POSTFILTER_DERING);
  std::vector<int> column;
  for (int y = 10; y < 22; ++y) column.push_back(out[size_t(y) * 32 + 5]);
  // Six pixels around the edge move, monotonically; the rest stay.
  const std::vector<int> want = {100, 100, 100, 101, 102, 102, 104, 105, 105, 106, 106, 106};
  EXPECT_EQ(column, want);
  // Luma blocks 8..11 lie below the smoothed macroblock edge.
  for (int b = 8; b < 12; ++b) EXPECT_TRUE(p.flags[b] & kBlockSmoothedAbove) << b;
  EXPECT_FALSE(p.flags[4] & kBlockSmoothedAbove);
  // Below 4 < |d| nothing is smoothed.
  Picture q(32, 32, 10, kBlockFlatHorizontal | kBlockFlatVertical);
  q.FillLuma(0, 0, 32, 32, 100);
  q.FillLuma(0, 16, 32, 32, 104);
  auto same = q.yuv;
  EXPECT_EQ(q.Filter(3), same);
}

TEST(PostFilter, CombinedPassDefaultModeOnTexturedEdges) {
  // A step of 20 between blocks that are not flat: a0 = 2 (p1 - q1) + 5 (q0 - p0)
  // = 60, m = 0, d = (5 * 60 + 32) >> 6 = 5 (within half the step).
  struct Case { int qp, p0, q0; };
  const Case cases[] = {{10, 105, 115}, {8, 105, 115}, {7, 100, 120} /* |a0| >= 8 QP */};
  for (const Case& c : cases) {
    Picture p(32, 32, c.qp, 0);
    p.FillLuma(0, 0, 32, 32, 100);
    p.FillLuma(0, 16, 32, 32, 120);
    auto out = p.Filter(3);
    EXPECT_EQ(out[15 * 32 + 5], c.p0) << c.qp;
    EXPECT_EQ(out[16 * 32 + 5], c.q0) << c.qp;
    EXPECT_EQ(out[14 * 32 + 5], 100);
    EXPECT_EQ(out[17 * 32 + 5], 120);
  }
}

TEST(PostFilter, CombinedPassDeringsTexturedBlocksOnly) {
  for (uint8_t flag : {uint8_t(0), kBlockTextured}) {
    Picture p(32, 32, 8, flag);
    p.FillLuma(0, 0, 32, 32, 100);
    p.Y(3, 3) = 107;
    p.Y(7, 7) = 120;
    auto out = p.Filter(3);
    EXPECT_EQ(out[3 * 32 + 3], flag ? 102 : 107) << int(flag);
  }
}

}  // namespace

namespace {

// Chroma edges take the quantiser of the block below (or right of) them.
TEST(PostFilter, ChromaEdgesUseTheQuantiserOfTheBlockBelow) {
  for (auto [above, below, smoothed] : {std::tuple{2, 10, true}, std::tuple{10, 2, false}}) {
    Picture p(32, 32, above, kBlockFlatHorizontal | kBlockFlatVertical);
    p.quant[2] = p.quant[3] = below;  // the lower macroblock row
    uint8_t* u = p.yuv.data() + 32 * 32;
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) u[y * 16 + x] = uint8_t(y < 8 ? 100 : 106);
    auto out = p.Filter(VDEC_POSTFILTER_DEBLOCK);
    const uint8_t* ou = out.data() + 32 * 32;
    EXPECT_EQ(ou[7 * 16 + 3], smoothed ? 103 : 100) << above << "/" << below;
    EXPECT_EQ(ou[8 * 16 + 3], smoothed ? 103 : 106) << above << "/" << below;
  }
}

// In the combined pass a textured block whose edges were mostly smoothed
// already is not deringed.
TEST(PostFilter, CombinedPassSkipsDeringingOfMostlySmoothedBlocks) {
  const uint8_t flat = kBlockFlatHorizontal | kBlockFlatVertical;
  for (bool neighboursFlat : {true, false}) {
    Picture p(48, 48, 10, flat);
    p.FillLuma(0, 0, 48, 48, 100);
    p.FillLuma(16, 16, 24, 24, 106);  // luma block (2, 2): a step of 6 on each edge
    p.Y(16, 16) = 140;                // sets the block's range; too steep to smooth
    p.Y(19, 19) = 110;                // below the threshold, on a flat neighbourhood
    p.flags[2 * 6 + 2] |= kBlockTextured;
    if (!neighboursFlat) p.flags[1 * 6 + 2] = p.flags[2 * 6 + 1] = 0;  // above and left
    auto out = p.Filter(VDEC_POSTFILTER_DEBLOCK | VDEC_POSTFILTER_DERING);
    // Four smoothed edges: left alone; two: deringed ((4*110 + 12*106 + 8) >> 4).
    EXPECT_EQ(out[19 * 48 + 19], neighboursFlat ? 110 : 107) << neighboursFlat;
  }
}

}  // namespace

namespace {

// The vector paths against the plain loops, per mode, on pictures of several
// sizes: smooth gradients with blocky steps, outliers and noise, so that every
// filter branch is taken; random quantisers and flags.
TEST(PostFilterFast, SameBytesAsThePlainLoops) {
  struct Size { int w, h; };
  uint32_t seed = 5;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u, seed >> 16; };
  for (const Size s : {Size{16, 16}, Size{48, 32}, Size{176, 144}, Size{352, 288}, Size{64, 16}}) {
    for (int mode : {1, 2, 3}) {
      Picture p(s.w, s.h, 8, 0);
      const int cw = s.w / 2;
      for (size_t i = 0; i < p.yuv.size(); ++i) {
        const size_t j = i < size_t(s.w) * s.h ? i : (i - size_t(s.w) * s.h) % (size_t(cw) * s.h / 2);
        const int width = i < size_t(s.w) * s.h ? s.w : cw;
        const int x = int(j % width), y = int(j / width);
        int v = 40 + (x / 8) * 7 % 90 + (y / 8) * 11 % 70 + int(next() % 5);
        if (next() % 23 == 0) v += int(next() % 120);
        p.yuv[i] = uint8_t(std::min(v, 255));
      }
      for (auto& q : p.quant) q = int32_t(next() % 35);  // 0 and above 31 are clamped
      for (auto& f : p.flags) f = uint8_t(next() % 64);
      std::vector<uint8_t> out[2], flags[2];
      for (int plain = 0; plain < 2; ++plain) {
        Picture copy = p;
        vdec_postfilter_plain(plain != 0);
        out[plain] = copy.Filter(mode);
        flags[plain] = copy.flags;
      }
      vdec_postfilter_plain(false);
      EXPECT_EQ(out[0], out[1]) << s.w << "x" << s.h << " mode " << mode;
      EXPECT_EQ(flags[0], flags[1]) << s.w << "x" << s.h << " mode " << mode;
      EXPECT_NE(out[1], p.yuv) << s.w << "x" << s.h << " mode " << mode;  // the filter did work
    }
  }
}

}  // namespace
