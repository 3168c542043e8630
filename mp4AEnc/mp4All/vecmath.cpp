#include "mp4aenc/vecmath.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "mp4aenc/numutil.h"

namespace {

// One loop shape for every member: ascending element order, which fixes the
// result when input and output overlap. Written plainly so the compiler can
// vectorise the contiguous forms.
template <typename T, typename F>
inline void binary(const T* x, int xs, const T* y, int ys, T* out, int os, int n, F f) {
  for (int i = 0; i < n; ++i) out[i * os] = f(x[i * xs], y[i * ys]);
}
template <typename T, typename F>
inline void binary(const T* x, const T* y, T* out, int n, F f) {
  for (int i = 0; i < n; ++i) out[i] = f(x[i], y[i]);
}
template <typename T, typename F>
inline void unary(const T* in, int is, T* out, int os, int n, F f) {
  for (int i = 0; i < n; ++i) out[i * os] = f(in[i * is]);
}
template <typename T, typename F>
inline void unary(const T* in, T* out, int n, F f) {
  for (int i = 0; i < n; ++i) out[i] = f(in[i]);
}

// Integer arithmetic that wraps instead of overflowing.
inline int32_t wrap(uint32_t v) {
  int32_t r;
  std::memcpy(&r, &v, sizeof r);
  return r;
}
inline int32_t iadd(int32_t a, int32_t b) { return wrap(uint32_t(a) + uint32_t(b)); }
inline int32_t isub(int32_t a, int32_t b) { return wrap(uint32_t(a) - uint32_t(b)); }
inline int32_t imul(int32_t a, int32_t b) { return wrap(uint32_t(a) * uint32_t(b)); }
inline int32_t idiv(int32_t a, int32_t b) {
  if (b == 0) return 0;
  if (b == -1) return wrap(0u - uint32_t(a));
  return a / b;
}
inline int32_t iabs(int32_t a) { return a < 0 ? wrap(0u - uint32_t(a)) : a; }

// Copies move 32-bit words, never float values, so that any bit pattern
// (signalling NaNs included) survives on an x87 build.
inline void copy_words(const void* in, int is, void* out, int os, int n) {
  const auto* src = static_cast<const unsigned char*>(in);
  auto* dst = static_cast<unsigned char*>(out);
  for (int i = 0; i < n; ++i) {
    uint32_t w;
    std::memcpy(&w, src + std::ptrdiff_t(i) * is * 4, 4);
    std::memcpy(dst + std::ptrdiff_t(i) * os * 4, &w, 4);
  }
}

inline float fmin_c(float x, float y) { return y < x ? y : x; }
inline float fmin_s(float x, float y) { return x <= y ? x : y; }
inline float fmax_c(float x, float y) { return x >= y ? x : y; }
inline float fmax_s(float x, float y) { return y > x ? y : x; }

}  // namespace

#define BINARY_MEMBER(name, T, expr)                                                  \
  void name(const T* x, const T* y, T* out, int n) {                                 \
    binary(x, y, out, n, [](T a, T b) -> T { return expr; });                          \
  }                                                                                    \
  void name##_strided(const T* x, int xs, const T* y, int ys, T* out, int os, int n) { \
    binary(x, xs, y, ys, out, os, n, [](T a, T b) -> T { return expr; });             \
  }
#define UNARY_MEMBER(name, T, expr)                                                    \
  void name(const T* in, T* out, int n) {                                              \
    unary(in, out, n, [](T a) -> T { return expr; });                                  \
  }                                                                                    \
  void name##_strided(const T* in, int is, T* out, int os, int n) {                    \
    unary(in, is, out, os, n, [](T a) -> T { return expr; });                          \
  }
#define SCALAR_MEMBER(name, T, expr)                                                   \
  void name(T s, const T* in, T* out, int n) {                                         \
    unary(in, out, n, [s](T a) -> T { return expr; });                                 \
  }                                                                                    \
  void name##_strided(T s, const T* in, int is, T* out, int os, int n) {               \
    unary(in, is, out, os, n, [s](T a) -> T { return expr; });                         \
  }
#define SCALAR2_MEMBER(name, T, expr)                                                  \
  void name(T lo, T hi, const T* in, T* out, int n) {                                  \
    unary(in, out, n, [lo, hi](T a) -> T { return expr; });                            \
  }                                                                                    \
  void name##_strided(T lo, T hi, const T* in, int is, T* out, int os, int n) {        \
    unary(in, is, out, os, n, [lo, hi](T a) -> T { return expr; });                    \
  }

BINARY_MEMBER(vec_add, float, a + b)
BINARY_MEMBER(vec_sub, float, a - b)
BINARY_MEMBER(vec_mul, float, a * b)
BINARY_MEMBER(vec_div, float, a / b)
BINARY_MEMBER(ivec_add, int32_t, iadd(a, b))
BINARY_MEMBER(ivec_sub, int32_t, isub(a, b))
BINARY_MEMBER(ivec_mul, int32_t, imul(a, b))
BINARY_MEMBER(ivec_div, int32_t, idiv(a, b))
BINARY_MEMBER(ivec_min, int32_t, b < a ? b : a)
BINARY_MEMBER(ivec_max, int32_t, b > a ? b : a)

// The NaN behaviour differs between the two forms; callers rely on each.
void vec_min(const float* x, const float* y, float* out, int n) { binary(x, y, out, n, fmin_c); }
void vec_min_strided(const float* x, int xs, const float* y, int ys, float* out, int os, int n) {
  binary(x, xs, y, ys, out, os, n, fmin_s);
}
void vec_max(const float* x, const float* y, float* out, int n) { binary(x, y, out, n, fmax_c); }
void vec_max_strided(const float* x, int xs, const float* y, int ys, float* out, int os, int n) {
  binary(x, xs, y, ys, out, os, n, fmax_s);
}

SCALAR_MEMBER(vec_scale, float, s * a)
SCALAR_MEMBER(ivec_scale, int32_t, imul(s, a))
SCALAR_MEMBER(vec_pow, float, float(std::pow(double(a), double(s))))

void vec_copy(const float* in, float* out, int n) { copy_words(in, 1, out, 1, n); }
void vec_copy_strided(const float* in, int is, float* out, int os, int n) {
  copy_words(in, is, out, os, n);
}
void ivec_copy(const int32_t* in, int32_t* out, int n) { copy_words(in, 1, out, 1, n); }
void ivec_copy_strided(const int32_t* in, int is, int32_t* out, int os, int n) {
  copy_words(in, is, out, os, n);
}

UNARY_MEMBER(vec_abs, float, std::fabs(a))
UNARY_MEMBER(ivec_abs, int32_t, iabs(a))
UNARY_MEMBER(vec_sign, float, a >= 0.0f ? 1.0f : -1.0f)
UNARY_MEMBER(ivec_sign, int32_t, a < 0 ? -1 : 1)
UNARY_MEMBER(vec_floor, float, std::floor(a))
UNARY_MEMBER(vec_ceil, float, std::ceil(a))
UNARY_MEMBER(vec_round, float, float(std::floor(double(a) + 0.5)))
UNARY_MEMBER(vec_trunc, float, a >= 0.0f ? std::floor(a) : -std::floor(-a))
UNARY_MEMBER(vec_sin, float, float(std::sin(double(a))))
UNARY_MEMBER(vec_cos, float, float(std::cos(double(a))))
UNARY_MEMBER(vec_exp, float, float(std::exp(double(a))))
UNARY_MEMBER(vec_log, float, float(std::log(double(a))))
UNARY_MEMBER(vec_log2, float, float(std::log(double(a)) * double(1.442695f)))
UNARY_MEMBER(vec_log10, float, float(std::log(double(a)) * double(0.4342945f)))
UNARY_MEMBER(vec_sqrt, float, float(std::sqrt(double(a))))

SCALAR2_MEMBER(vec_clip, float, !(a >= lo) ? lo : (a > hi ? hi : a))
SCALAR2_MEMBER(ivec_clip, int32_t, a < lo ? lo : (hi < a ? hi : a))
SCALAR2_MEMBER(vec_scaled_log, float, float(double(lo) * std::log(double(hi) * double(a))))

double vec_dot(const float* x, const float* y, int n) { return vec_dot_strided(x, 1, y, 1, n); }
double vec_dot_strided(const float* x, int xs, const float* y, int ys, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) sum += double(x[i * xs]) * double(y[i * ys]);
  return sum;
}
double vec_dist2(const float* x, const float* y, int n) { return vec_dist2_strided(x, 1, y, 1, n); }
double vec_dist2_strided(const float* x, int xs, const float* y, int ys, int n) {
  double sum = 0.0;
  for (int i = 0; i < n; ++i) {
    double d = double(x[i * xs]) - double(y[i * ys]);
    sum += d * d;
  }
  return sum;
}
double vec_energy(const float* x, int n) { return vec_dot_strided(x, 1, x, 1, n); }

void vec_cplx_mag2(const float* pairs, float* out, int n) {
  for (int i = 0; i < n; ++i) {
    double re = pairs[2 * i], im = pairs[2 * i + 1];
    out[i] = float(re * re + im * im);
  }
}

void vec_move(const float* in, float* out, int n) {
  if (n > 0) std::memmove(out, in, size_t(n) * sizeof(float));
}

void vec_fill(float value, float* out, int n) { vec_fill_strided(value, out, 1, n); }
void vec_fill_strided(float value, float* out, int os, int n) {
  for (int i = 0; i < n; ++i) copy_words(&value, 0, out + std::ptrdiff_t(i) * os, 0, 1);
}
void ivec_fill(int32_t value, int32_t* out, int n) { ivec_fill_strided(value, out, 1, n); }
void ivec_fill_strided(int32_t value, int32_t* out, int os, int n) {
  for (int i = 0; i < n; ++i) out[std::ptrdiff_t(i) * os] = value;
}
void vec_scale_in_place(float s, float* x, int n) {
  for (int i = 0; i < n; ++i) x[i] = s * x[i];
}
void ivec_scale_in_place(int32_t s, int32_t* x, int n) {
  for (int i = 0; i < n; ++i) x[i] = imul(s, x[i]);
}

void vec_random_fill(float* out, int n) {
  // Drawn in batches of ten doubles, each rounded to float.
  double batch[10];
  for (int done = 0; done < n;) {
    int k = n - done < 10 ? n - done : 10;
    random_fill(k, batch);
    for (int i = 0; i < k; ++i) {
      // A double just below 1 would round up to 1.0f and leave [0, 1).
      float f = float(batch[i]);
      out[done + i] = f < 1.0f ? f : 0.99999994f;
    }
    done += k;
  }
}
void vec_random_doubles(double* out, int n) {
  if (n > 0) random_fill(n, out);
}
void vec_random_seed(int seed) {
  int s = seed % 31328;
  if (s < 0) s += 31328;
  random_seed(s);
}
