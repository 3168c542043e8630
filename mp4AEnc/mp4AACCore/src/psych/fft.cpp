#include "mp4aenc/fft.h"

#include <cmath>
#include <cstdint>

#include "mp4aenc/vecmath.h"

namespace {

constexpr int kMaxFactors = 11;
constexpr int kMaxOddFactor = 23;
constexpr int kMaxSquareFree = 210;
// Lengths up to this size reorder through an index table on the stack.
constexpr int kPermutationTable = 4096;
constexpr long double kPi = 3.141592653589793238462643383279502884L;

// Factor list with the square factors standing symmetrically at both ends
// and the square-free part in the middle (512 gives 4, 4, 2, 4, 4). Answers
// the count, or 0 when the length is outside the engine's limits.
int factorise(int n, int* factors) {
  int list[2 * kMaxFactors + 2];
  int m = 0;
  int k = n;
  auto record = [&](int f) {
    if (m < int(sizeof list / sizeof list[0])) list[m] = f;
    ++m;
  };
  while (k % 16 == 0) {
    record(4);
    k /= 16;
  }
  for (int j = 3; j * j <= k; j += 2)
    while (k % (j * j) == 0) {
      record(j);
      k /= j * j;
    }
  int squares;
  if (k <= 4) {
    squares = m;
    if (k != 1) record(k);
  } else {
    if (k % 4 == 0) {
      record(2);
      k /= 4;
    }
    squares = m;
    for (int j = 2; j <= k; j = (j + 1) / 2 * 2 + 1)
      if (k % j == 0) {
        record(j);
        k /= j;
      }
  }
  for (int j = squares; j > 0 && m <= kMaxFactors; --j) record(list[j - 1]);
  if (m > kMaxFactors) return 0;
  int squareFree = 1;
  for (int i = squares; i < m - squares; ++i) squareFree *= list[i];
  if (squareFree > kMaxSquareFree) return 0;
  for (int i = 0; i < m; ++i) {
    if (list[i] > kMaxOddFactor) return 0;
    factors[i] = list[i];
  }
  return m;
}

struct Cplx {
  double re, im;
};

// One decimation-in-frequency pass of radix p over spans of `span` values:
// p-point DFTs of values sub apart, then twiddles exp(sign*i*2*pi*j*q/span).
void pass(float* re, float* im, int inc, int n, int span, int p, int sign) {
  const int sub = span / p;
  // Roots of unity of the general odd radices, once per pass.
  double rootCos[kMaxOddFactor], rootSin[kMaxOddFactor];
  if (p > 4)
    for (int q = 0; q < p; ++q) {
      double a = 2.0 * double(kPi) * q / p;
      rootCos[q] = std::cos(a);
      rootSin[q] = sign * std::sin(a);
    }
  // The twiddle of j advances by a rotation carried in extended precision;
  // its powers for the p outputs are formed from it.
  const double stepAngle = sign * 2.0 * double(kPi) / span;
  const long double stepCos = std::cos(stepAngle), stepSin = std::sin(stepAngle);
  long double wc = 1.0L, ws = 0.0L;
  const double s = sign;
  for (int j = 0; j < sub; ++j) {
    Cplx tw[kMaxOddFactor];
    tw[0] = {1.0, 0.0};
    const Cplx w1 = {double(wc), double(ws)};
    for (int q = 1; q < p; ++q)
      tw[q] = {tw[q - 1].re * w1.re - tw[q - 1].im * w1.im, tw[q - 1].re * w1.im + tw[q - 1].im * w1.re};
    for (int b = j; b < n; b += span) {
      Cplx x[kMaxOddFactor], y[kMaxOddFactor];
      for (int k = 0; k < p; ++k) {
        long at = long(b + k * sub) * inc;
        x[k] = {re[at], im[at]};
      }
      if (p == 2) {
        y[0] = {x[0].re + x[1].re, x[0].im + x[1].im};
        y[1] = {x[0].re - x[1].re, x[0].im - x[1].im};
      } else if (p == 4) {
        Cplx a = {x[0].re + x[2].re, x[0].im + x[2].im};
        Cplx c = {x[1].re + x[3].re, x[1].im + x[3].im};
        Cplx d = {x[0].re - x[2].re, x[0].im - x[2].im};
        Cplx e = {x[1].re - x[3].re, x[1].im - x[3].im};
        // sign * i * e
        Cplx ie = {-s * e.im, s * e.re};
        y[0] = {a.re + c.re, a.im + c.im};
        y[2] = {a.re - c.re, a.im - c.im};
        y[1] = {d.re + ie.re, d.im + ie.im};
        y[3] = {d.re - ie.re, d.im - ie.im};
      } else if (p == 3) {
        const double r3 = 0.8660254037844386 * s;
        Cplx t = {x[1].re + x[2].re, x[1].im + x[2].im};
        Cplx m = {x[0].re - 0.5 * t.re, x[0].im - 0.5 * t.im};
        Cplx d = {r3 * (x[1].re - x[2].re), r3 * (x[1].im - x[2].im)};
        y[0] = {x[0].re + t.re, x[0].im + t.im};
        y[1] = {m.re - d.im, m.im + d.re};
        y[2] = {m.re + d.im, m.im - d.re};
      } else {
        for (int q = 0; q < p; ++q) {
          double sr = 0.0, si = 0.0;
          for (int k = 0; k < p; ++k) {
            int r = (k * q) % p;
            sr += x[k].re * rootCos[r] - x[k].im * rootSin[r];
            si += x[k].re * rootSin[r] + x[k].im * rootCos[r];
          }
          y[q] = {sr, si};
        }
      }
      for (int q = 0; q < p; ++q) {
        long at = long(b + q * sub) * inc;
        re[at] = float(y[q].re * tw[q].re - y[q].im * tw[q].im);
        im[at] = float(y[q].re * tw[q].im + y[q].im * tw[q].re);
      }
    }
    long double c = wc * stepCos - ws * stepSin;
    ws = wc * stepSin + ws * stepCos;
    wc = c;
  }
}

// Where the passes left X(k): its mixed-radix digits (first factor least
// significant) reversed.
int position(int k, const int* factors, int m, int n) {
  int pos = 0, span = n;
  for (int i = 0; i < m; ++i) {
    span /= factors[i];
    pos += (k % factors[i]) * span;
    k /= factors[i];
  }
  return pos;
}

// Counts k = 0, 1, 2, ... in mixed radix (first factor least significant)
// and keeps the position of X(k) alongside.
struct ReversedCounter {
  int digit[kMaxFactors] = {}, weight[kMaxFactors];
  const int* factors;
  int m;
  int pos = 0;
  ReversedCounter(const int* f, int count, int n) : factors(f), m(count) {
    for (int i = 0, span = n; i < m; ++i) weight[i] = span /= factors[i];
  }
  void next() {
    for (int i = 0; i < m; ++i) {
      pos += weight[i];
      if (++digit[i] < factors[i]) break;
      pos -= weight[i] * factors[i];
      digit[i] = 0;
    }
  }
};

// Moves the cycle that starts at `start`: slot k takes the value of slot
// source(k).
template <typename Source>
void move_cycle(float* re, float* im, int inc, int start, Source source) {
  long s = long(start) * inc;
  float keepRe = re[s], keepIm = im[s];
  for (int cur = start;;) {
    int next = source(cur);
    long c = long(cur) * inc;
    if (next == start) {
      re[c] = keepRe;
      im[c] = keepIm;
      return;
    }
    long x = long(next) * inc;
    re[c] = re[x];
    im[c] = im[x];
    cur = next;
  }
}

// Puts every value in natural order without a work array of length n. With a
// palindromic factor list the digit reversal is its own inverse, so pairs
// are swapped; otherwise the permutation's cycles are followed, through an
// index table on the stack where the length allows.
void reorder(float* re, float* im, int inc, int n, const int* factors, int m) {
  bool palindrome = true;
  for (int i = 0; i < m / 2; ++i) palindrome = palindrome && factors[i] == factors[m - 1 - i];
  ReversedCounter counter(factors, m, n);
  if (palindrome) {
    for (int k = 0; k < n; ++k, counter.next())
      if (counter.pos > k) move_cycle(re, im, inc, k, [&](int cur) { return cur == k ? counter.pos : k; });
    return;
  }
  if (n <= kPermutationTable) {
    // The top bit marks slots already placed.
    uint16_t source[kPermutationTable];
    for (int k = 0; k < n; ++k, counter.next()) source[k] = uint16_t(counter.pos);
    const uint16_t placed = 0x8000;
    for (int start = 0; start < n; ++start) {
      if (source[start] & placed) continue;
      move_cycle(re, im, inc, start, [&](int cur) {
        int next = source[cur] & ~placed;
        source[cur] |= placed;
        return next;
      });
    }
    return;
  }
  for (int start = 1; start < n; ++start) {
    int t = position(start, factors, m, n);
    while (t > start) t = position(t, factors, m, n);
    if (t < start) continue;  // this cycle was moved from a smaller index
    move_cycle(re, im, inc, start, [&](int cur) { return position(cur, factors, m, n); });
  }
}

void transform_1d(float* re, float* im, int inc, int n, int sign, const int* factors, int m) {
  int span = n;
  for (int i = 0; i < m; ++i) {
    pass(re, im, inc, n, span, factors[i], sign);
    span /= factors[i];
  }
  reorder(re, im, inc, n, factors, m);
}

// (sin, cos) of a running angle advanced by a fixed step.
struct Rotor {
  long double c, s, stepC, stepS;
  Rotor(long double start, long double step)
      : c(std::cos(double(start))),
        s(std::sin(double(start))),
        stepC(std::cos(double(step))),
        stepS(std::sin(double(step))) {}
  void advance() {
    long double nc = c * stepC - s * stepS;
    s = c * stepS + s * stepC;
    c = nc;
  }
};

// The split butterfly shared by the real FFT and the odd-frequency DFT: it
// turns the half-length transform's values at a mirrored pair of slots into
// the two wanted spectral values, with (s, c) the pair's angle.
void split_pair(float* first, float* second, double s, double c) {
  double mean = (double(second[0]) + first[0]) / 2, g = second[0] - mean;
  double h = (double(second[1]) + first[1]) / 2;
  double l = s * g + c * h;
  double g2 = c * g - s * h, h2 = h - second[1];
  first[0] = float(mean + l);
  second[0] = float(mean - l);
  first[1] = float(g2 + h2);
  second[1] = float(g2 - h2);
}

// Multiplies count complex values by exp(-i * angle), the angle advanced by
// the rotor.
void rotate_back(float* block, int count, Rotor w) {
  for (int k = 0; k < count; ++k, w.advance()) {
    double re = block[2 * k], im = block[2 * k + 1];
    double c = double(w.c), s = double(w.s);
    block[2 * k] = float(re * c + im * s);
    block[2 * k + 1] = float(im * c - re * s);
  }
}

}  // namespace

int fft_mixed_radix(float* re, float* im, int nTotal, int n, int nSpan, int signAndStride) {
  if (n < 2 || signAndStride == 0 || nSpan < n || nSpan % n != 0 || nTotal < nSpan ||
      nTotal % nSpan != 0)
    return 0;
  int factors[kMaxFactors];
  int m = factorise(n, factors);
  if (m == 0) return 0;
  const int sign = signAndStride > 0 ? 1 : -1;
  const int stride = signAndStride > 0 ? signAndStride : -signAndStride;
  const int inner = nSpan / n;
  for (int block = 0; block < nTotal; block += nSpan)
    for (int j = 0; j < inner; ++j) {
      long at = long(block + j) * stride;
      transform_1d(re + at, im + at, stride * inner, n, sign, factors, m);
    }
  return 1;
}

int fft_complex(float* data, int n, int sign) {
  return fft_mixed_radix(data, data + 1, n, n, n, 2 * sign);
}

int fft_complex_split(float* re, float* im, int n, int signAndStride) {
  return fft_mixed_radix(re, im, n, n, n, signAndStride);
}

int fft_complex_split_copy(const float* reIn, const float* imIn, float* reOut, float* imOut,
                           int n, int signAndStride) {
  vec_copy(reIn, reOut, n);
  vec_copy(imIn, imOut, n);
  return fft_complex_split(reOut, imOut, n, signAndStride);
}

namespace {

// The real-input transforms take any even length of at least 4 whose half
// the complex engine can transform; the check comes before anything is
// written, so a refused block is left as it was.
bool real_length_ok(const float* block, int n) {
  int factors[kMaxFactors];
  return block && n >= 4 && n % 2 == 0 && factorise(n / 2, factors) != 0;
}

}  // namespace

int fft_real(float* block, int n) {
  if (!real_length_ok(block, n)) return 0;
  const int m = n / 2;
  fft_complex(block, m, -1);
  float* z = block;
  z[0] = z[0] + z[1];
  z[1] = 0.0f;
  Rotor w(2.0L * kPi / n, 2.0L * kPi / n);
  // Slots k and m - k pair up; an odd m leaves no slot unpaired.
  for (int k = 1; 2 * k < m; ++k, w.advance()) split_pair(z + 2 * k, z + 2 * (m - k), double(w.s), double(w.c));
  // The half-length transform leaves the conjugate of X(n/4) in its slot.
  if (m % 2 == 0) z[2 * (m / 2) + 1] = -z[2 * (m / 2) + 1];
  return 1;
}

int dft_odd_frequency(float* block, int n) {
  if (!real_length_ok(block, n)) return 0;
  const int half = n / 2;
  rotate_back(block, half, Rotor(0.0L, 2.0L * kPi / n));
  fft_complex(block, half, -1);
  Rotor post(kPi / n, 2.0L * kPi / n);
  for (int j = 0; 2 * j < half - 1; ++j, post.advance())
    split_pair(block + 2 * j, block + 2 * (half - 1 - j), double(post.s), double(post.c));
  // An odd half leaves the middle slot paired with itself, at the angle
  // pi / 2: its value is the conjugate of what the transform gave.
  if (half % 2) block[half] = -block[half];
  return 1;
}

int dft_mdct_phase(float* block, int n) {
  if (!dft_odd_frequency(block, n)) return 0;
  const long double phi = (n / 4.0L + 0.5L) * kPi / n;
  rotate_back(block, n / 2, Rotor(phi, 2.0L * phi));
  return 1;
}
