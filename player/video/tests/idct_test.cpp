// The inverse transform: IEEE 1180 accuracy, its reduced variants against the
// full transform, and the saturating put.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "vdec_internal.h"

using namespace vdec;

namespace {

// The IEEE 1180 random generator (31-bit linear congruential), in 64-bit
// arithmetic so that it runs the same where long has 32 bits.
struct Rand1180 {
  int64_t seed = 1;
  long next(long lo, long hi) {
    seed = (seed * 1103515245 + 12345) & 0x7fffffff;
    const double x = double(seed & 0x7ffffffe) / double(0x7fffffff);
    return long(x * double(hi - lo + 1)) + lo;
  }
};

// Basis: k[u][x] = c(u) / 2 * cos((2x + 1) u pi / 16).
struct Basis {
  double k[8][8];
  Basis() {
    const double pi = 3.14159265358979323846;
    for (int u = 0; u < 8; ++u)
      for (int x = 0; x < 8; ++x)
        k[u][x] = (u ? 1.0 : std::sqrt(0.5)) / 2 * std::cos((2 * x + 1) * u * pi / 16);
  }
};
const Basis kBasis;

// Separable double-precision transforms: forward (pixels to coefficients) and
// the reference inverse.
void transform(const double in[64], double out[64], bool inverse) {
  double tmp[64];
  for (int r = 0; r < 8; ++r)
    for (int o = 0; o < 8; ++o) {
      double s = 0;
      for (int i = 0; i < 8; ++i)
        s += in[8 * r + i] * (inverse ? kBasis.k[i][o] : kBasis.k[o][i]);
      tmp[8 * r + o] = s;
    }
  for (int c = 0; c < 8; ++c)
    for (int o = 0; o < 8; ++o) {
      double s = 0;
      for (int i = 0; i < 8; ++i)
        s += tmp[8 * i + c] * (inverse ? kBasis.k[i][o] : kBasis.k[o][i]);
      out[8 * o + c] = s;
    }
}

void fillMap(BlockCoefs* b) {
  std::memset(b->map, 0, sizeof b->map);
  for (int i = 0; i < 64; ++i)
    if (b->c[i]) b->map[i & 7] |= uint8_t(0x80 >> (i >> 3));
  b->count = 64;
}

}  // namespace

// IEEE 1180-1990: 10000 blocks per range and sign; peak error 1, per-pixel
// mean square error 0.06, overall 0.02, per-pixel mean 0.015, overall 0.0015.
TEST(Idct, Ieee1180Accuracy) {
  struct Range {
    long lo, hi;
  };
  for (const Range rg : {Range{-256, 255}, Range{-5, 5}, Range{-300, 300}}) {
    for (int sign : {1, -1}) {
      Rand1180 rnd;
      double err[64] = {}, sq[64] = {};
      int peak = 0;
      const int blocks = 10000;
      for (int n = 0; n < blocks; ++n) {
        double pix[64], coef[64];
        // The 1180 procedure runs each range with both signs of the input.
        for (int i = 0; i < 64; ++i) pix[i] = double(rnd.next(rg.lo, rg.hi) * sign);
        transform(pix, coef, false);
        int32_t in[64];
        for (int i = 0; i < 64; ++i)
          in[i] = std::clamp(int32_t(std::lround(coef[i])), -2048, 2047);
        double inD[64], ref[64];
        for (int i = 0; i < 64; ++i) inD[i] = in[i];
        transform(inD, ref, true);
        BlockCoefs b;
        std::memcpy(b.c, in, sizeof in);
        fillMap(&b);
        idctInPlace(&b);
        for (int i = 0; i < 64; ++i) {
          const int r = std::clamp(int(std::lround(ref[i])), -256, 255);
          const int t = std::clamp(b.c[i], -256, 255);
          const int e = t - r;
          peak = std::max(peak, std::abs(e));
          err[i] += e;
          sq[i] += e * e;
        }
      }
      double totalErr = 0, totalSq = 0;
      for (int i = 0; i < 64; ++i) {
        EXPECT_LE(std::fabs(err[i]) / blocks, 0.015) << "pixel " << i;
        EXPECT_LE(sq[i] / blocks, 0.06) << "pixel " << i;
        totalErr += err[i];
        totalSq += sq[i];
      }
      EXPECT_LE(peak, 1);
      EXPECT_LE(std::fabs(totalErr) / (64.0 * blocks), 0.0015);
      EXPECT_LE(totalSq / (64.0 * blocks), 0.02);
    }
  }
}

// Every zero pattern the variants are chosen for gives the full transform's
// result, in place and through the saturating put, on the vector path and on
// the plain one.
TEST(Idct, ReducedVariantsEqualFullTransform) {
  Rand1180 rnd;
  for (int n = 0; n < 20000; ++n) {
    BlockCoefs b;
    std::memset(b.c, 0, sizeof b.c);
    // Non-zero values only in the top-left rows x cols corner, sparsely.
    const int rows = int(rnd.next(1, 8)), cols = int(rnd.next(1, 8));
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < cols; ++c)
        if (rnd.next(0, 3) == 0 || (r == 0 && c == 0)) b.c[8 * r + c] = int32_t(rnd.next(-2048, 2047));
    int32_t full[64];
    std::memcpy(full, b.c, sizeof full);
    idctFull(full);
    fillMap(&b);
    // The chosen path (vector where the processor has it) and the plain one.
    BlockCoefs put = b, plain = b, plainPut = b;
    idctInPlace(&b);
    idctInPlacePlain(&plain);
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(b.c[i], full[i]) << "block " << n << " pixel " << i;
      ASSERT_EQ(plain.c[i], full[i]) << "block " << n << " pixel " << i;
    }
    // Into a 16-wide picture, so that the stride is used and kept to.
    uint8_t pix[8 * 16], pixPlain[8 * 16];
    std::memset(pix, 77, sizeof pix);
    std::memset(pixPlain, 77, sizeof pixPlain);
    idctPut(&put, pix, 16);
    idctPutPlain(&plainPut, pixPlain, 16);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 16; ++c) {
        const int want = c < 8 ? std::clamp(full[8 * r + c], 0, 255) : 77;
        ASSERT_EQ(pix[16 * r + c], want) << n;
        ASSERT_EQ(pixPlain[16 * r + c], want) << n;
      }
  }
}

TEST(Idct, DcOnlyBlocks) {
  struct Case {
    int dc;
    uint8_t pixel;
  };
  for (const Case c : {Case{64, 8}, Case{-2048, 0}, Case{2047, 255}, Case{0, 0}}) {
    BlockCoefs b;
    std::memset(b.c, 0, sizeof b.c);
    b.c[0] = c.dc;
    fillMap(&b);
    uint8_t pix[64];
    idctPut(&b, pix, 8);
    for (uint8_t p : pix) EXPECT_EQ(p, c.pixel) << "DC " << c.dc;
  }
}
