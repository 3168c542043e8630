// Motion compensation on a known reference: edges, rounding control, the
// chroma vector of four-vector macroblocks, not-coded copies.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "motion.h"

using namespace vdec;

namespace {

struct Fixture {
  VideoDecoder dec{};
  VideoDecoderState* st = nullptr;
  Fixture() {
    EXPECT_EQ(vdec_create_single(&dec, 176, 144), 1);
    st = dec.state;
    st->vol0 = st->vol[0];
    st->predFrom = st->ref;
    std::mt19937 rng(5);
    for (int i = 0; i < 176 * 144 * 3 / 2; ++i) st->ref->y[i] = uint8_t(rng());
  }
  ~Fixture() { vdec_destroy(&dec); }
  uint8_t ref(int x, int y) const { return st->ref->y[y * 176 + x]; }
  uint8_t cur(int x, int y) const { return st->cur->y[y * 176 + x]; }
  uint8_t refU(int x, int y) const { return st->ref->u[y * 88 + x]; }
  uint8_t curU(int x, int y) const { return st->cur->u[y * 88 + x]; }
  void setFour(int mb, const int (&vx)[4], const int (&vy)[4]) {
    const int stride = 2 * 11;
    const int base = (mb / 11) * 2 * stride + (mb % 11) * 2;
    for (int b = 0; b < 4; ++b) {
      st->mvx[base + (b >> 1) * stride + (b & 1)] = int16_t(vx[b]);
      st->mvy[base + (b >> 1) * stride + (b & 1)] = int16_t(vy[b]);
    }
  }
};

}  // namespace

TEST(MotionCompensation, VectorLeftOfThePictureRepeatsTheFirstColumn) {
  Fixture f;
  setMacroblockVectors(f.st, 11, -40, 0);  // row 1, column 0
  motionCompensate(f.st, 11, 0, false);
  for (int y = 16; y < 32; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(f.cur(x, y), f.ref(0, y)) << x << "," << y;
}

TEST(MotionCompensation, RoundingControlOnDiagonalHalfPel) {
  Fixture a, b;
  a.st->cur->vop_rounding_type = 0;
  b.st->cur->vop_rounding_type = 1;
  for (Fixture* f : {&a, &b}) {
    setMacroblockVectors(f->st, 12, 1, 1);
    motionCompensate(f->st, 12, 0, false);
  }
  int differ = 0;
  for (int y = 16; y < 32; ++y)
    for (int x = 16; x < 32; ++x) {
      const int s = a.ref(x, y) + a.ref(x + 1, y) + a.ref(x, y + 1) + a.ref(x + 1, y + 1);
      ASSERT_EQ(a.cur(x, y), (s + 2) >> 2);
      ASSERT_EQ(b.cur(x, y), (s + 1) >> 2);
      differ += a.cur(x, y) != b.cur(x, y);
      EXPECT_EQ(a.cur(x, y) != b.cur(x, y), s % 4 == 2);
    }
  EXPECT_GT(differ, 0);
}

TEST(MotionCompensation, FourVectorChromaRounding) {
  struct Case {
    int vx[4];
    int chroma;  // chroma vector component in half-pels
  };
  for (const Case& c : {Case{{4, 3, 3, 3}, 1}, Case{{8, 8, 7, 7}, 4}, Case{{-8, -8, -7, -7}, -4}}) {
    Fixture f;
    const int mb = 12;  // column 1, row 1: chroma block at (8, 8)
    f.setFour(mb, c.vx, {0, 0, 0, 0});
    motionCompensate(f.st, mb, 0, true);
    for (int y = 8; y < 16; ++y)
      for (int x = 8; x < 16; ++x) {
        const int sx = x + (c.chroma >> 1);
        const int expect = (c.chroma & 1) ? (f.refU(sx, y) + f.refU(sx + 1, y) + 1) >> 1 : f.refU(sx, y);
        ASSERT_EQ(f.curU(x, y), expect) << "sum " << c.vx[0] + c.vx[1] + c.vx[2] + c.vx[3];
      }
  }
}

TEST(MotionCompensation, NotCodedCopiesTheReference) {
  Fixture f;
  f.st->packet = 0;
  reconstructNotCoded(f.st, 50);
  const int mbx = 50 % 11, mby = 50 / 11;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x)
      ASSERT_EQ(f.cur(16 * mbx + x, 16 * mby + y), f.ref(16 * mbx + x, 16 * mby + y));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(f.curU(8 * mbx + x, 8 * mby + y), f.refU(8 * mbx + x, 8 * mby + y));
}

// The vector interpolation and residual add agree with the plain loops for
// every half-pel mode, rounding and block size, residuals beyond 16 bits
// included.
TEST(MotionCompensation, VectorPathsMatchPlainLoops) {
  std::mt19937 rng(11);
  const int ss = 40;  // source stride wider than a block and its extra column
  std::vector<uint8_t> src(size_t(ss) * 17);
  for (int round = 0; round < 200; ++round) {
    for (uint8_t& v : src) v = uint8_t(rng() % 4 == 0 ? 255 * (rng() & 1) : rng());
    for (int size : {8, 16})
      for (int mode = 0; mode < 4; ++mode)
        for (int rounding = 0; rounding < 2; ++rounding) {
          uint8_t a[16 * 24], b[16 * 24];
          std::memset(a, 7, sizeof a);
          std::memset(b, 7, sizeof b);
          interpolate(a, 24, src.data(), ss, size, mode, rounding);
          interpolatePlain(b, 24, src.data(), ss, size, mode, rounding);
          ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << size << " " << mode << " " << rounding;
        }
    int32_t res[64];
    const int32_t extremes[] = {-70000, -32769, -32768, -256, -255, -1, 0, 1, 255, 256, 32767, 32768, 70000};
    for (int32_t& r : res) r = rng() % 3 ? int32_t(rng() % 600) - 300 : extremes[rng() % 13];
    uint8_t a[8 * 12], b[8 * 12];
    for (uint8_t& v : a) v = uint8_t(rng());
    std::memcpy(b, a, sizeof a);
    addResidual(a, 12, res);
    addResidualPlain(b, 12, res);
    ASSERT_EQ(0, std::memcmp(a, b, sizeof a)) << round;
  }
}
