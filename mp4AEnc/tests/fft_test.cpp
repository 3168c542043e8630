#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mp4aenc/fft.h"

namespace {

using cd = std::complex<double>;
const double kPi = 3.14159265358979323846;

std::vector<float> noise(int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(gen);
  return v;
}

// Plain O(n^2) DFT with the library's sign convention.
std::vector<cd> dft(const std::vector<cd>& x, int sign) {
  const size_t n = x.size();
  std::vector<cd> X(n), root(n);
  for (size_t i = 0; i < n; ++i) root[i] = std::polar(1.0, sign * 2 * kPi * double(i) / double(n));
  for (size_t k = 0; k < n; ++k)
    for (size_t j = 0; j < n; ++j) X[k] += x[j] * root[(j * k) % n];
  return X;
}

// Largest error relative to the largest reference magnitude.
double relative_error(const std::vector<cd>& got, const std::vector<cd>& want) {
  double err = 0, peak = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    err = std::max(err, std::abs(got[i] - want[i]));
    peak = std::max(peak, std::abs(want[i]));
  }
  return err / peak;
}

TEST(FftComplexTest, MatchesDirectDftForEverySupportedLength) {
  const int lengths[] = {2,  3,  4,   5,   6,   7,   8,   9,   11,  12,  15,  16,  18,  23,  25,  32,   36,
                         46, 49, 60,  64,  100, 128, 210, 256, 420, 441, 480, 512, 529, 960, 1024, 2048};
  for (int n : lengths) {
    for (int sign : {-1, 1}) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " sign=" << sign);
      std::vector<float> data = noise(2 * n, unsigned(n));
      std::vector<cd> x(n);
      for (int j = 0; j < n; ++j) x[j] = {data[2 * j], data[2 * j + 1]};
      ASSERT_EQ(fft_complex(data.data(), n, sign), 1);
      std::vector<cd> got(n);
      for (int k = 0; k < n; ++k) got[k] = {data[2 * k], data[2 * k + 1]};
      EXPECT_LT(relative_error(got, dft(x, sign)), 2e-6);
    }
  }
}

TEST(FftComplexTest, LongLengthWithMixedSquareFreePart) {
  // 7680 = 16 * 16 * 30: factors 4 4 2 3 5 4 4, beyond the index table.
  const int n = 7680;
  std::vector<float> data = noise(2 * n, 21), x = data;
  ASSERT_EQ(fft_complex(data.data(), n, -1), 1);
  for (int k = 0; k < n; k += 97) {
    cd want = 0;
    for (int j = 0; j < n; ++j)
      want += cd(x[2 * j], x[2 * j + 1]) * std::polar(1.0, -2 * kPi * double((long(j) * k) % n) / n);
    EXPECT_LT(std::abs(cd(data[2 * k], data[2 * k + 1]) - want), 2e-3) << k;
  }
}

TEST(FftComplexTest, RefusesLengthsOutsideItsLimitsWithoutTouchingData) {
  // 1 point, prime 29, 31^2, square-free part 11*23 = 253 above 210.
  for (int n : {1, 29, 58, 961, 253}) {
    SCOPED_TRACE(n);
    std::vector<float> data = noise(2 * n, 5), before = data;
    EXPECT_EQ(fft_complex(data.data(), n, -1), 0);
    EXPECT_EQ(data, before);
  }
  // 2^24: 4 x 6 factors of 16 plus their mirror images: more than 11.
  float dummy[2] = {};
  EXPECT_EQ(fft_mixed_radix(dummy, dummy + 1, 1 << 24, 1 << 24, 1 << 24, 2), 0);
}

TEST(FftComplexTest, ForwardThenInverseScalesByN) {
  for (int n : {960, 1024, 15}) {
    std::vector<float> data = noise(2 * n, 9), original = data;
    fft_complex(data.data(), n, -1);
    fft_complex(data.data(), n, 1);
    for (int i = 0; i < 2 * n; ++i) ASSERT_NEAR(data[i], n * original[i], 2e-4 * n) << n;
  }
}

TEST(FftComplexTest, SplitAndMultiDimensionalForms) {
  const int n = 12;
  std::vector<float> inter = noise(2 * n, 3), re(n), im(n), reOut(n), imOut(n);
  for (int i = 0; i < n; ++i) re[i] = inter[2 * i], im[i] = inter[2 * i + 1];
  fft_complex_split_copy(re.data(), im.data(), reOut.data(), imOut.data(), n, -1);
  fft_complex(inter.data(), n, -1);
  for (int i = 0; i < n; ++i) {
    EXPECT_FLOAT_EQ(reOut[i], inter[2 * i]);
    EXPECT_FLOAT_EQ(imOut[i], inter[2 * i + 1]);
  }
  // A 4 x 6 array (6 fastest): transforming the slow dimension of length 4
  // is a length-4 DFT down every column.
  const int rows = 4, cols = 6;
  std::vector<float> r = noise(rows * cols, 4), i2 = noise(rows * cols, 6);
  std::vector<float> r0 = r, i0 = i2;
  ASSERT_EQ(fft_mixed_radix(r.data(), i2.data(), rows * cols, rows, rows * cols, -1), 1);
  for (int c = 0; c < cols; ++c) {
    std::vector<cd> col(rows);
    for (int k = 0; k < rows; ++k) col[k] = {r0[k * cols + c], i0[k * cols + c]};
    std::vector<cd> want = dft(col, -1);
    for (int k = 0; k < rows; ++k) {
      EXPECT_NEAR(r[k * cols + c], want[k].real(), 1e-5);
      EXPECT_NEAR(i2[k * cols + c], want[k].imag(), 1e-5);
    }
  }
}

TEST(RealTransformsTest, RealFftMatchesDft) {
  for (int n : {4, 8, 64, 256, 480, 960, 1024, 2048}) {
    SCOPED_TRACE(n);
    std::vector<float> x = noise(n, unsigned(n) + 1), block = x;
    ASSERT_EQ(fft_real(block.data(), n), 1);
    std::vector<cd> xc(x.begin(), x.end());
    std::vector<cd> X = dft(xc, -1);
    std::vector<cd> got(n / 2), want(X.begin(), X.begin() + n / 2);
    for (int k = 0; k < n / 2; ++k) got[k] = {block[2 * k], block[2 * k + 1]};
    EXPECT_LT(relative_error(got, want), 2e-6);
    EXPECT_EQ(block[1], 0.0f);  // the Nyquist value is not kept
  }
  float four[4] = {1, 2, 3, 4};
  fft_real(four, 4);
  EXPECT_EQ(four[0], 10.0f);
  EXPECT_EQ(four[1], 0.0f);
  EXPECT_EQ(four[2], -2.0f);  // X(1) = -2 + 2i
  EXPECT_EQ(four[3], 2.0f);
}

TEST(RealTransformsTest, OddFrequencyDftAndMdctMatchTheirFormulas) {
  for (int n : {16, 256, 480, 960, 2048}) {
    SCOPED_TRACE(n);
    std::vector<float> x = noise(n, unsigned(n) + 2), odd = x, mdct = x;
    dft_odd_frequency(odd.data(), n);
    dft_mdct_phase(mdct.data(), n);
    const double n0 = n / 4.0 + 0.5;
    double peak = 0, errOdd = 0, errMdct = 0;
    for (int k = 0; k < n / 2; ++k) {
      cd want = 0;
      double wantMdct = 0;
      for (int j = 0; j < n; ++j) {
        want += double(x[j]) * std::polar(1.0, -2 * kPi * j * (k + 0.5) / n);
        wantMdct += x[j] * std::cos(2 * kPi / n * (j + n0) * (k + 0.5));
      }
      peak = std::max(peak, std::abs(want));
      errOdd = std::max(errOdd, std::abs(cd(odd[2 * k], odd[2 * k + 1]) - want));
      errMdct = std::max(errMdct, std::abs(mdct[2 * k] - wantMdct));
    }
    EXPECT_LT(errOdd / peak, 2e-6);
    EXPECT_LT(errMdct / peak, 2e-6);
  }
}

TEST(RealTransformsTest, MdctWithSineWindowReconstructsPerfectly) {
  // Forward MDCT by the library, inverse by the direct formula, sine window
  // on both sides, 50% overlap-add: the middle blocks come back exactly.
  const int n = 256, hop = n / 2, blocks = 6;
  std::vector<float> signal = noise(hop * (blocks + 1), 11);
  std::vector<double> window(n), out(signal.size(), 0.0);
  for (int j = 0; j < n; ++j) window[j] = std::sin(kPi * (j + 0.5) / n);
  const double n0 = n / 4.0 + 0.5;
  for (int b = 0; b < blocks; ++b) {
    std::vector<float> block(n);
    for (int j = 0; j < n; ++j) block[j] = float(signal[b * hop + j] * window[j]);
    dft_mdct_phase(block.data(), n);
    for (int j = 0; j < n; ++j) {
      double y = 0;
      for (int k = 0; k < n / 2; ++k) y += block[2 * k] * std::cos(2 * kPi / n * (j + n0) * (k + 0.5));
      out[b * hop + j] += y * (4.0 / n) * window[j];
    }
  }
  for (int i = hop; i < hop * blocks; ++i) ASSERT_NEAR(out[i], signal[i], 2e-5) << i;
}

// Every length either matches the direct DFT or is refused with the block
// untouched: too short, odd, or a half the complex engine refuses (29, 31,
// and 286 whose square-free part is above 210). n = 6 and 10 have an odd
// half. Blocks are exactly n floats, so ASan sees any access past them.
TEST(RealTransformsTest, LengthTableAgainstDirectDftOrRefused) {
  struct Case {
    int n;
    bool done;
  } cases[] = {{0, false},   {1, false},   {2, false},   {4, true},    {6, true},
               {10, true},   {12, true},   {58, false},  {62, false},  {572, false},
               {840, true},  {960, true},  {1024, true}, {2048, true}, {7, false}};
  enum Transform { kReal, kOdd, kMdct };
  for (const Case& c : cases) {
    for (Transform t : {kReal, kOdd, kMdct}) {
      SCOPED_TRACE(testing::Message() << "n=" << c.n << " transform " << int(t));
      const std::vector<float> x = noise(c.n, unsigned(c.n) + 40);
      std::vector<float> block = x;
      float* data = c.n ? block.data() : nullptr;
      const int result = t == kReal ? fft_real(data, c.n) : t == kOdd ? dft_odd_frequency(data, c.n)
                                                                      : dft_mdct_phase(data, c.n);
      if (!c.done) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(block, x);
        continue;
      }
      ASSERT_EQ(result, 1);
      // Direct sums: X(k + offset) at time offset n0, k < n/2.
      const double offset = t == kReal ? 0.0 : 0.5, n0 = t == kMdct ? c.n / 4.0 + 0.5 : 0.0;
      double err = 0, peak = 0;
      for (int k = 0; k < c.n / 2; ++k) {
        cd want = 0;
        for (int j = 0; j < c.n; ++j) want += double(x[j]) * std::polar(1.0, -2 * kPi * (j + n0) * (k + offset) / c.n);
        cd got(block[2 * k], block[2 * k + 1]);
        if (t == kReal && k == 0) want = want.real();  // slot 0 keeps X(0) alone
        if (t == kMdct) got = got.real(), want = want.real();
        err = std::max(err, std::abs(got - want));
        peak = std::max(peak, std::abs(want));
      }
      EXPECT_LT(err / peak, 4e-6);
    }
  }
}

}  // namespace
