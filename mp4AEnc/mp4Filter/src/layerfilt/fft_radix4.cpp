#include "mp4aenc/fft_radix4.h"

#include <array>

namespace {

// Twiddles for group index i = 2k + 2: theta_i = 2*pi*(2*rev_{m-1}((i - 2^m)/2)
// + 1) / 2^(m+3) with 2^m <= i < 2^(m+1). Built at compile time so that no
// trigonometric call runs and no table is written at run time.
constexpr int kEntries = 127;

constexpr double taylor_sin(double x) {
  double term = x, sum = x;
  for (int k = 1; k < 30; ++k) {
    term *= -x * x / ((2 * k) * (2 * k + 1));
    sum += term;
  }
  return sum;
}
constexpr double taylor_cos(double x) {
  double term = 1.0, sum = 1.0;
  for (int k = 1; k < 30; ++k) {
    term *= -x * x / ((2 * k - 1) * (2 * k));
    sum += term;
  }
  return sum;
}
constexpr int reverse_bits(int v, int bits) {
  int r = 0;
  for (int b = 0; b < bits; ++b) r |= ((v >> b) & 1) << (bits - 1 - b);
  return r;
}
constexpr int top_bit(int i) {
  int m = 0;
  while ((2 << m) <= i) ++m;
  return m;
}

struct Twiddles {
  std::array<float, kEntries> c{}, s{};
};

constexpr Twiddles make_twiddles() {
  Twiddles t;
  constexpr double pi = 3.14159265358979323846;
  for (int k = 0; k < kEntries; ++k) {
    int i = 2 * k + 2;
    int m = top_bit(i);
    double theta = 2.0 * pi * (2 * reverse_bits((i - (1 << m)) / 2, m - 1) + 1) / double(1 << (m + 3));
    t.c[k] = float(taylor_cos(theta));
    t.s[k] = float(taylor_sin(theta));
  }
  return t;
}

constexpr Twiddles kTwiddle = make_twiddles();
constexpr float kSqrtHalf = 0.7071067811865476f;
constexpr float kSqrt2 = 1.4142135623730951f;

constexpr int partner(int i) {
  int m = top_bit(i);
  return 3 * (1 << m) - 1 - i;
}

void forward_pass(float* x, int q, int groups) {
  // Group 0.
  for (int t = 0; t < q; ++t) {
    float x0 = x[t], x1 = x[q + t], x2 = x[2 * q + t], x3 = x[3 * q + t];
    float a = x0 + x2, b = x1 + x3;
    x[t] = a + b;
    x[q + t] = a - b;
    x[2 * q + t] = x0 - x2;
    x[3 * q + t] = x1 - x3;
  }
  if (groups < 4) return;
  // Group 1.
  float* g = x + 4 * q;
  for (int t = 0; t < q; ++t) {
    float q0 = g[t], q1 = g[q + t], q2 = g[2 * q + t], q3 = g[3 * q + t];
    float a = (q1 + q3) * kSqrtHalf, b = (q1 - q3) * kSqrtHalf;
    g[3 * q + t] = a + q2;
    g[q + t] = a - q2;
    g[2 * q + t] = q0 - b;
    g[t] = q0 + b;
  }
  // Pairs (i, h) of the remaining groups.
  for (int i = 2; i <= groups - 2; i += 2) {
    int h = partner(i);
    float c1 = kTwiddle.c[i / 2 - 1], s1 = kTwiddle.s[i / 2 - 1];
    float c2 = c1 * c1 - s1 * s1, s2 = 2 * c1 * s1;
    float c3 = c1 * c2 - s1 * s2, s3 = s1 * c2 + c1 * s2;
    float* A = x + 4 * q * i;
    float* B = x + 4 * q * h;
    for (int t = 0; t < q; ++t) {
      float A0 = A[t], A1 = A[q + t], A2 = A[2 * q + t], A3 = A[3 * q + t];
      float B0 = B[t], B1 = B[q + t], B2 = B[2 * q + t], B3 = B[3 * q + t];
      float F = c1 * A1 - s1 * B1, E = c1 * B1 + s1 * A1;
      float H = c3 * A3 - s3 * B3, Gv = c3 * B3 + s3 * A3;
      float L = c2 * A2 - s2 * B2, K = c2 * B2 + s2 * A2;
      float M = A0 + L, J = A0 - L, O = B0 + K, Kp = B0 - K, I = F + H, N = Gv + E;
      A[t] = I + M;
      B[2 * q + t] = M - I;
      A[q + t] = N - O;
      B[3 * q + t] = N + O;
      A[2 * q + t] = J - (E - Gv);
      B[t] = J + (E - Gv);
      B[q + t] = (F - H) + Kp;
      A[3 * q + t] = (F - H) - Kp;
    }
  }
}

void inverse_pass(float* x, int q, int groups) {
  // Group 0.
  for (int t = 0; t < q; ++t) {
    float x0 = x[t], x1 = x[q + t], x2 = x[2 * q + t], x3 = x[3 * q + t];
    x[t] = x0 + x1 + 2 * x2;
    x[2 * q + t] = x0 + x1 - 2 * x2;
    x[q + t] = (x0 - x1) + 2 * x3;
    x[3 * q + t] = (x0 - x1) - 2 * x3;
  }
  if (groups < 4) return;
  // Group 1.
  float* g = x + 4 * q;
  for (int t = 0; t < q; ++t) {
    float q0 = g[t], q1 = g[q + t], q2 = g[2 * q + t], q3 = g[3 * q + t];
    float u = q1 + q3;
    g[t] = 2 * (q2 + q0);
    g[2 * q + t] = 2 * (q3 - q1);
    g[q + t] = (q0 - q2 + u) * kSqrt2;
    g[3 * q + t] = (u - (q0 - q2)) * kSqrt2;
  }
  for (int i = 2; i <= groups - 2; i += 2) {
    int h = partner(i);
    float c1 = kTwiddle.c[i / 2 - 1], s1 = -kTwiddle.s[i / 2 - 1];
    float c2 = c1 * c1 - s1 * s1, s2 = 2 * c1 * s1;
    float c3 = c1 * c2 - s1 * s2, s3 = s1 * c2 + c1 * s2;
    float* A = x + 4 * q * i;
    float* B = x + 4 * q * h;
    for (int t = 0; t < q; ++t) {
      float A0 = A[t], A1 = A[q + t], A2 = A[2 * q + t], A3 = A[3 * q + t];
      float B0 = B[t], B1 = B[q + t], B2 = B[2 * q + t], B3 = B[3 * q + t];
      A[t] = (A0 + B2) + (A2 + B0);
      B[t] = (B1 - A3) + (B3 - A1);
      float M = (B1 + A3) + (A0 - B2), O = (B0 - A2) + (B3 + A1);
      A[q + t] = c1 * M - s1 * O;
      B[q + t] = c1 * O + s1 * M;
      float F2 = (A0 + B2) - (A2 + B0), J2 = (B3 - A1) - (B1 - A3);
      A[2 * q + t] = c2 * F2 - s2 * J2;
      B[2 * q + t] = c2 * J2 + s2 * F2;
      float L2 = (A0 - B2) - (B1 + A3), N2 = (B3 + A1) - (B0 - A2);
      A[3 * q + t] = c3 * L2 - s3 * N2;
      B[3 * q + t] = c3 * N2 + s3 * L2;
    }
  }
}

}  // namespace

void fft_radix4_dif(float* data) {
  for (int q = 256; q >= 1; q /= 4) forward_pass(data, q, kRadix4Length / q / 4);
}

void fft_radix4_dit(float* data) {
  for (int q = 1; q <= 256; q *= 4) inverse_pass(data, q, kRadix4Length / q / 4);
}

int radix4_partner(int j) { return partner(j); }
int radix4_bin(int j) { return reverse_bits(j / 2, 9); }

void radix4_multiply(const float* a, const float* b, float* out) {
  out[0] = a[0] * b[0];
  out[1] = a[1] * b[1];
  for (int j = 2; j < kRadix4Length; j += 2) {
    int p = partner(j);
    float ar = a[j], ai = a[p], br = b[j], bi = b[p];
    // Both partners hold -Im; the product of two conjugates is the conjugate
    // of the product, so the same formula keeps the layout.
    out[j] = ar * br - ai * bi;
    out[p] = ar * bi + ai * br;
  }
}
