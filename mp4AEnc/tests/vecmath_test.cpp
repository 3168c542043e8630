#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "mp4aenc/vecmath.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const std::vector<float> kX = {1.5f, -0.0f, 0.0f, kNaN, 2.0f, -3.25f, kInf, 1e-40f, -2.5f};
const std::vector<float> kY = {0.5f, 0.0f, -0.0f, 1.0f, kNaN, -3.25f, 2.0f, 3.0f, 4.0f};

uint32_t bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

// Same value, same sign of zero, NaN matches NaN.
void expect_same(float got, float want, size_t i) {
  if (std::isnan(want)) {
    EXPECT_TRUE(std::isnan(got)) << "element " << i;
  } else {
    EXPECT_EQ(bits(got), bits(want)) << "element " << i << ": " << got << " vs " << want;
  }
}

using Binary = void (*)(const float*, const float*, float*, int);
using BinaryStrided = void (*)(const float*, int, const float*, int, float*, int, int);

TEST(VecMathTest, BinaryMembersMatchPlainLoops) {
  struct Case {
    const char* name;
    Binary contiguous;
    BinaryStrided strided;
    float (*plain)(float, float);
    float (*plainStrided)(float, float);
  } cases[] = {
      {"add", vec_add, vec_add_strided, [](float a, float b) { return a + b; }, nullptr},
      {"sub", vec_sub, vec_sub_strided, [](float a, float b) { return a - b; }, nullptr},
      {"mul", vec_mul, vec_mul_strided, [](float a, float b) { return a * b; }, nullptr},
      {"div", vec_div, vec_div_strided, [](float a, float b) { return a / b; }, nullptr},
      // min: ties give x; NaN gives x (contiguous) or y (strided).
      {"min", vec_min, vec_min_strided,
       [](float a, float b) { return std::isnan(a) || std::isnan(b) ? a : (b < a ? b : a); },
       [](float a, float b) { return std::isnan(a) || std::isnan(b) ? b : (b < a ? b : a); }},
      {"max", vec_max, vec_max_strided,
       [](float a, float b) { return std::isnan(a) || std::isnan(b) ? b : (b > a ? b : a); },
       [](float a, float b) { return std::isnan(a) || std::isnan(b) ? a : (b > a ? b : a); }},
  };
  const int n = int(kX.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> out(n);
    c.contiguous(kX.data(), kY.data(), out.data(), n);
    for (int i = 0; i < n; ++i) expect_same(out[i], c.plain(kX[i], kY[i]), i);
    // Reversed x (negative stride), y repeated (stride 0), output every 2nd.
    auto plainS = c.plainStrided ? c.plainStrided : c.plain;
    std::vector<float> outS(2 * n, 42.0f);
    c.strided(kX.data() + n - 1, -1, kY.data() + 4, 0, outS.data(), 2, n);
    for (int i = 0; i < n; ++i) {
      expect_same(outS[2 * i], plainS(kX[n - 1 - i], kY[4]), i);
      EXPECT_EQ(outS[2 * i + 1], 42.0f);
    }
  }
}

TEST(VecMathTest, UnaryAndScalarMembersMatchPlainLoops) {
  const std::vector<float> in = {-2.5f, 2.5f, -2.7f, 2.7f, -0.0f, 0.0f, kNaN, 0.49999997f, 1e10f, -1e-40f};
  struct Case {
    const char* name;
    void (*f)(const float*, float*, int);
    float (*plain)(float);
  } cases[] = {
      {"abs", vec_abs, [](float a) { return std::fabs(a); }},
      {"sign", vec_sign, [](float a) { return a >= 0.0f ? 1.0f : -1.0f; }},
      {"floor", vec_floor, [](float a) { return std::floor(a); }},
      {"ceil", vec_ceil, [](float a) { return std::ceil(a); }},
      {"round", vec_round, [](float a) { return float(std::floor(double(a) + 0.5)); }},
      {"trunc", vec_trunc, [](float a) { return std::trunc(a); }},
      {"sqrt", vec_sqrt, [](float a) { return float(std::sqrt(double(a))); }},
      {"exp", vec_exp, [](float a) { return float(std::exp(double(a))); }},
      {"log", vec_log, [](float a) { return float(std::log(double(a))); }},
      {"log2", vec_log2, [](float a) { return float(std::log(double(a)) * double(1.442695f)); }},
      {"log10", vec_log10, [](float a) { return float(std::log(double(a)) * double(0.4342945f)); }},
      {"sin", vec_sin, [](float a) { return float(std::sin(double(a))); }},
      {"cos", vec_cos, [](float a) { return float(std::cos(double(a))); }},
  };
  const int n = int(in.size());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> out(n);
    c.f(in.data(), out.data(), n);
    for (int i = 0; i < n; ++i) expect_same(out[i], c.plain(in[i]), i);
  }
  // The values the rounding rules are known by.
  float r[4], src[4] = {-2.5f, 2.5f, -2.7f, -0.0f};
  vec_round(src, r, 2);
  EXPECT_EQ(r[0], -2.0f);
  EXPECT_EQ(r[1], 3.0f);
  vec_trunc(src + 2, r, 1);
  EXPECT_EQ(r[0], -2.0f);
  vec_sign(src + 3, r, 1);
  EXPECT_EQ(r[0], 1.0f);

  std::vector<float> out(n);
  vec_clip(-1.0f, 1.0f, in.data(), out.data(), n);
  for (int i = 0; i < n; ++i)
    expect_same(out[i], !(in[i] >= -1.0f) ? -1.0f : (in[i] > 1.0f ? 1.0f : in[i]), i);
  EXPECT_EQ(out[6], -1.0f);  // NaN gives lo
  vec_scaled_log(2.0f, 3.0f, in.data(), out.data(), n);
  for (int i = 0; i < n; ++i) expect_same(out[i], float(2.0 * std::log(3.0 * in[i])), i);
  vec_pow(0.75f, in.data(), out.data(), n);
  for (int i = 0; i < n; ++i) expect_same(out[i], float(std::pow(double(in[i]), 0.75)), i);
  vec_scale(-2.0f, in.data(), out.data(), n);
  for (int i = 0; i < n; ++i) expect_same(out[i], -2.0f * in[i], i);
}

TEST(VecMathTest, IntegerMembersWrapAndNeverTrap) {
  const int32_t mn = std::numeric_limits<int32_t>::min(), mx = std::numeric_limits<int32_t>::max();
  const int32_t x[] = {mx, mn, -7, 7, mn, 5};
  const int32_t y[] = {1, -1, 2, -2, -1, 0};
  int32_t out[6];
  ivec_add(x, y, out, 6);
  EXPECT_EQ(out[0], mn);
  ivec_sub(x, y, out, 6);
  EXPECT_EQ(out[1], mn + 1);
  ivec_mul(x, y, out, 6);
  EXPECT_EQ(out[0], mx);
  EXPECT_EQ(out[1], mn);  // low 32 bits of -INT32_MIN
  ivec_div(x, y, out, 6);
  EXPECT_EQ(out[2], -3);  // truncated toward zero
  EXPECT_EQ(out[3], -3);
  EXPECT_EQ(out[4], mn);
  EXPECT_EQ(out[5], 0);
  ivec_abs(x, out, 6);
  EXPECT_EQ(out[1], mn);
  EXPECT_EQ(out[2], 7);
  ivec_sign(x, out, 6);
  EXPECT_EQ(out[2], -1);
  EXPECT_EQ(out[3], 1);
  ivec_clip(-5, 5, x, out, 6);
  const int32_t clipped[] = {5, -5, -5, 5, -5, 5};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(out[i], clipped[i]);
  ivec_min_strided(x, 1, y, 0, out, 1, 3);  // y repeated
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], mn);
}

TEST(VecMathTest, CopiesAreForwardWordCopiesAndFillsAreBitPatterns) {
  // A signalling NaN survives the copy bit for bit.
  const uint32_t pattern[] = {0x7fa00001u, 0x80000000u, 0x12345678u, 0xffffffffu};
  float src[4], dst[4];
  std::memcpy(src, pattern, sizeof src);
  vec_copy(src, dst, 4);
  EXPECT_EQ(std::memcmp(src, dst, sizeof src), 0);
  // Forward copy onto itself one element up repeats the first element.
  float run[5] = {1, 2, 3, 4, 5};
  vec_copy(run, run + 1, 4);
  for (float v : run) EXPECT_EQ(v, 1.0f);
  float moved[5] = {1, 2, 3, 4, 5};
  vec_move(moved, moved + 1, 4);
  EXPECT_EQ(moved[4], 4.0f);
  float strided[6] = {};
  vec_copy_strided(src, 1, strided + 4, -2, 3);
  EXPECT_EQ(bits(strided[4]), pattern[0]);
  EXPECT_EQ(bits(strided[0]), pattern[2]);
  float out[3] = {1, 1, 1};
  vec_fill_strided(-0.0f, out, 0, 3);  // stride 0: one element written
  EXPECT_EQ(bits(out[0]), 0x80000000u);
  EXPECT_EQ(out[1], 1.0f);
  vec_fill(7.0f, out, -1);
  EXPECT_EQ(out[1], 1.0f);
}

TEST(VecMathTest, OutputStrideZeroKeepsTheLastResult) {
  const float x[] = {1, 2, 3}, y[] = {10, 20, 30};
  float out = 0;
  vec_add_strided(x, 1, y, 1, &out, 0, 3);
  EXPECT_EQ(out, 33.0f);
}

TEST(VecMathTest, ReductionsAccumulateInDouble) {
  const float x[] = {1e8f, 1.0f, -1e8f, 3.0f};
  const float y[] = {1.0f, 1.0f, 1.0f, 1.0f};
  EXPECT_EQ(vec_dot(x, y, 4), 4.0);  // a float sum would lose the 1
  EXPECT_EQ(vec_dot(x, y, 0), 0.0);
  EXPECT_EQ(vec_dot_strided(x + 3, -1, y, 0, 4), 4.0);
  EXPECT_EQ(vec_energy(x + 3, 1), 9.0);
  EXPECT_NEAR(vec_energy(x, 4), 2e16, 16.0);
  EXPECT_EQ(vec_dist2(x + 1, y, 1), 0.0);
  EXPECT_EQ(vec_dist2_strided(x, 1, y, 1, 0), 0.0);
  const float pairs[] = {3, 4, -1, 2};
  float mag[2];
  vec_cplx_mag2(pairs, mag, 2);
  EXPECT_EQ(mag[0], 25.0f);
  EXPECT_EQ(mag[1], 5.0f);
  float s[3] = {1, -2, 3};
  vec_scale_in_place(-0.5f, s, 3);
  EXPECT_EQ(s[1], 1.0f);
}

}  // namespace
