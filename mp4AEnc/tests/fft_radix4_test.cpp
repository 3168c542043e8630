#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "mp4aenc/fft_radix4.h"

namespace {

using cd = std::complex<double>;
const int N = kRadix4Length;

std::vector<float> noise(unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(N);
  for (float& x : v) x = d(gen);
  return v;
}

std::vector<cd> dft(const std::vector<float>& x) {
  std::vector<cd> X(N / 2 + 1), root(N);
  for (int i = 0; i < N; ++i) root[i] = std::polar(1.0, -2 * 3.14159265358979323846 * i / N);
  for (int k = 0; k <= N / 2; ++k)
    for (int j = 0; j < N; ++j) X[k] += double(x[j]) * root[(j * k) % N];
  return X;
}

TEST(FftRadix4Test, ForwardTransformMatchesDftInThePackedLayout) {
  std::vector<float> x = noise(1), packed = x;
  fft_radix4_dif(packed.data());
  std::vector<cd> X = dft(x);
  EXPECT_NEAR(packed[0], X[0].real(), 1e-3);
  EXPECT_NEAR(packed[1], X[N / 2].real(), 1e-3);
  EXPECT_EQ(radix4_bin(2), 256);
  EXPECT_EQ(radix4_partner(2), 3);
  EXPECT_EQ(radix4_bin(4), 128);
  EXPECT_EQ(radix4_partner(4), 7);
  EXPECT_EQ(radix4_bin(6), 384);
  EXPECT_EQ(radix4_partner(6), 5);
  std::vector<bool> seen(N / 2, false);
  for (int j = 2; j < N; j += 2) {
    int k = radix4_bin(j), p = radix4_partner(j);
    ASSERT_TRUE(k > 0 && k < N / 2 && !seen[k]) << j;
    seen[k] = true;
    ASSERT_TRUE(p > 2 && p < N && p % 2 == 1) << j;
    EXPECT_NEAR(packed[j], X[k].real(), 1e-3) << "position " << j;
    EXPECT_NEAR(packed[p], -X[k].imag(), 1e-3) << "position " << p;
  }
}

TEST(FftRadix4Test, ImpulseConstantAndAlternatingSum) {
  std::vector<float> impulse(N, 0.0f);
  impulse[0] = 1.0f;
  fft_radix4_dif(impulse.data());
  for (int j = 0; j < N; ++j) EXPECT_NEAR(impulse[j], (j < 2 || j % 2 == 0) ? 1.0f : 0.0f, 1e-6) << j;
  std::vector<float> constant(N, 0.5f);
  fft_radix4_dif(constant.data());
  EXPECT_NEAR(constant[0], 512.0f, 1e-3);
  for (int j = 1; j < N; ++j) EXPECT_NEAR(constant[j], 0.0f, 1e-4) << j;
  std::vector<float> x = noise(2), y = x;
  fft_radix4_dif(y.data());
  double alternating = 0;
  for (int j = 0; j < N; ++j) alternating += (j % 2 ? -1 : 1) * double(x[j]);
  EXPECT_NEAR(y[1], alternating, 1e-3);
}

TEST(FftRadix4Test, InverseRestoresTimesN) {
  std::vector<float> x = noise(3), y = x;
  fft_radix4_dif(y.data());
  fft_radix4_dit(y.data());
  for (int j = 0; j < N; ++j) ASSERT_NEAR(y[j], N * x[j], 2e-3) << j;
}

TEST(FftRadix4Test, BinProductIsCircularConvolution) {
  std::vector<float> x = noise(4), h(N, 0.0f);
  for (int j = 0; j < 31; ++j) h[j] = std::sin(0.3f * j) / (j + 1);
  std::vector<float> X = x, H = h, Y(N);
  fft_radix4_dif(X.data());
  fft_radix4_dif(H.data());
  radix4_multiply(X.data(), H.data(), Y.data());
  fft_radix4_dit(Y.data());
  for (int n = 0; n < N; ++n) {
    double want = 0;
    for (int j = 0; j < 31; ++j) want += h[j] * x[(n - j + N) % N];
    ASSERT_NEAR(Y[n] / N, want, 1e-4) << n;
  }
}

}  // namespace
