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

// Twiddles of group i and their double and triple angles; the inverse uses
// the conjugates.
struct GroupTwiddles {
  float c1, s1, c2, s2, c3, s3;
  GroupTwiddles(int i, bool conjugate)
      : c1(kTwiddle.c[i / 2 - 1]), s1(conjugate ? -kTwiddle.s[i / 2 - 1] : kTwiddle.s[i / 2 - 1]) {
    c2 = c1 * c1 - s1 * s1;
    s2 = 2 * c1 * s1;
    c3 = c1 * c2 - s1 * s2;
    s3 = s1 * c2 + c1 * s2;
  }
};

constexpr int partner(int i) {
  int m = top_bit(i);
  return 3 * (1 << m) - 1 - i;
}

// Runs a butterfly over every pair of groups (i, h) of a pass, at each index
// t of their quarters: a and b hold the four quarter values of i and h.
template <typename Butterfly>
void for_each_pair(float* x, int q, int groups, bool conjugate, Butterfly butterfly) {
  for (int i = 2; i <= groups - 2; i += 2) {
    const GroupTwiddles w(i, conjugate);
    float* A = x + 4 * q * i;
    float* B = x + 4 * q * partner(i);
    for (int t = 0; t < q; ++t) {
      float a[4] = {A[t], A[q + t], A[2 * q + t], A[3 * q + t]};
      float b[4] = {B[t], B[q + t], B[2 * q + t], B[3 * q + t]};
      butterfly(w, a, b);
      for (int k = 0; k < 4; ++k) {
        A[k * q + t] = a[k];
        B[k * q + t] = b[k];
      }
    }
  }
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
  for_each_pair(x, q, groups, false, [](const GroupTwiddles& w, float* a, float* b) {
    const float A0 = a[0], A1 = a[1], A2 = a[2], A3 = a[3];
    const float B0 = b[0], B1 = b[1], B2 = b[2], B3 = b[3];
    float F = w.c1 * A1 - w.s1 * B1, E = w.c1 * B1 + w.s1 * A1;
    float H = w.c3 * A3 - w.s3 * B3, Gv = w.c3 * B3 + w.s3 * A3;
    float L = w.c2 * A2 - w.s2 * B2, K = w.c2 * B2 + w.s2 * A2;
    float M = A0 + L, J = A0 - L, O = B0 + K, Kp = B0 - K, I = F + H, N = Gv + E;
    a[0] = I + M;
    b[2] = M - I;
    a[1] = N - O;
    b[3] = N + O;
    a[2] = J - (E - Gv);
    b[0] = J + (E - Gv);
    b[1] = (F - H) + Kp;
    a[3] = (F - H) - Kp;
  });
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
  for_each_pair(x, q, groups, true, [](const GroupTwiddles& w, float* a, float* b) {
    const float A0 = a[0], A1 = a[1], A2 = a[2], A3 = a[3];
    const float B0 = b[0], B1 = b[1], B2 = b[2], B3 = b[3];
    a[0] = (A0 + B2) + (A2 + B0);
    b[0] = (B1 - A3) + (B3 - A1);
    float M = (B1 + A3) + (A0 - B2), O = (B0 - A2) + (B3 + A1);
    a[1] = w.c1 * M - w.s1 * O;
    b[1] = w.c1 * O + w.s1 * M;
    float F2 = (A0 + B2) - (A2 + B0), J2 = (B3 - A1) - (B1 - A3);
    a[2] = w.c2 * F2 - w.s2 * J2;
    b[2] = w.c2 * J2 + w.s2 * F2;
    float L2 = (A0 - B2) - (B1 + A3), N2 = (B3 + A1) - (B0 - A2);
    a[3] = w.c3 * L2 - w.s3 * N2;
    b[3] = w.c3 * N2 + w.s3 * L2;
  });
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
