// Element-wise operations on caller-owned arrays of 32-bit floats and
// integers. Lengths and strides count elements; a stride may be 0 (the same
// element every time) or negative. Elements are written in ascending order,
// so overlapping input and output behave as a plain forward loop. n <= 0 does
// nothing. Reductions accumulate in double and answer the double.
#pragma once

#include <cstdint>

// Two operands: out[i] = x[i] op y[i].
#define MP4AENC_BINARY(name, T)                                              \
  void name(const T* x, const T* y, T* out, int n);                          \
  void name##_strided(const T* x, int xs, const T* y, int ys, T* out, int os, \
                      int n);
// One operand: out[i] = f(in[i]).
#define MP4AENC_UNARY(name, T)                        \
  void name(const T* in, T* out, int n);              \
  void name##_strided(const T* in, int is, T* out, int os, int n);
// One scalar, then one operand: out[i] = f(s, in[i]).
#define MP4AENC_SCALAR(name, T)                       \
  void name(T s, const T* in, T* out, int n);         \
  void name##_strided(T s, const T* in, int is, T* out, int os, int n);
// Two scalars, then one operand.
#define MP4AENC_SCALAR2(name, T)                      \
  void name(T a, T b, const T* in, T* out, int n);    \
  void name##_strided(T a, T b, const T* in, int is, T* out, int os, int n);

MP4AENC_BINARY(vec_add, float)
MP4AENC_BINARY(vec_sub, float)
MP4AENC_BINARY(vec_mul, float)
MP4AENC_BINARY(vec_div, float)
// Ties give x. With a NaN the contiguous minimum gives x and the strided one
// y; the contiguous maximum gives y and the strided one x.
MP4AENC_BINARY(vec_min, float)
MP4AENC_BINARY(vec_max, float)
MP4AENC_SCALAR(vec_scale, float)

MP4AENC_BINARY(ivec_add, int32_t)  // wrapping
MP4AENC_BINARY(ivec_sub, int32_t)  // wrapping
MP4AENC_BINARY(ivec_mul, int32_t)  // low 32 bits
// Truncated toward zero; a zero divisor gives 0 and INT32_MIN / -1 wraps to
// INT32_MIN instead of trapping.
MP4AENC_BINARY(ivec_div, int32_t)
MP4AENC_SCALAR(ivec_scale, int32_t)
MP4AENC_BINARY(ivec_min, int32_t)
MP4AENC_BINARY(ivec_max, int32_t)

// Copies are bit-exact forward word copies (any 32-bit data).
MP4AENC_UNARY(vec_copy, float)
MP4AENC_UNARY(ivec_copy, int32_t)
MP4AENC_UNARY(vec_abs, float)
MP4AENC_UNARY(ivec_abs, int32_t)  // INT32_MIN stays INT32_MIN
MP4AENC_UNARY(vec_sign, float)    // 1.0 for in >= 0 (also -0.0), else -1.0
MP4AENC_UNARY(ivec_sign, int32_t) // -1 below 0, else 1
MP4AENC_UNARY(vec_floor, float)
MP4AENC_UNARY(vec_ceil, float)
MP4AENC_UNARY(vec_round, float)   // floor(in + 0.5): -2.5 gives -2
MP4AENC_UNARY(vec_trunc, float)
MP4AENC_UNARY(vec_sin, float)
MP4AENC_UNARY(vec_cos, float)
MP4AENC_UNARY(vec_exp, float)
MP4AENC_UNARY(vec_log, float)
MP4AENC_UNARY(vec_log2, float)    // ln(in) * 1.442695f
MP4AENC_UNARY(vec_log10, float)   // ln(in) * 0.4342945f
MP4AENC_UNARY(vec_sqrt, float)
MP4AENC_SCALAR(vec_pow, float)    // (power, in, out): in to the power

// lo when not (in >= lo) (so NaN gives lo), else hi when in > hi, else in.
MP4AENC_SCALAR2(vec_clip, float)
// lo when in < lo, else the smaller of hi and in.
MP4AENC_SCALAR2(ivec_clip, int32_t)
// a * ln(b * in)
MP4AENC_SCALAR2(vec_scaled_log, float)

#undef MP4AENC_BINARY
#undef MP4AENC_UNARY
#undef MP4AENC_SCALAR
#undef MP4AENC_SCALAR2

double vec_dot(const float* x, const float* y, int n);
double vec_dot_strided(const float* x, int xs, const float* y, int ys, int n);
double vec_dist2(const float* x, const float* y, int n);  // 0 for n <= 0
double vec_dist2_strided(const float* x, int xs, const float* y, int ys, int n);
double vec_energy(const float* x, int n);
// out[i] = re^2 + im^2 of the i-th interleaved (re, im) pair.
void vec_cplx_mag2(const float* pairs, float* out, int n);

// Overlapping areas allowed (memmove).
void vec_move(const float* in, float* out, int n);

void vec_fill(float value, float* out, int n);
void vec_fill_strided(float value, float* out, int os, int n);
void ivec_fill(int32_t value, int32_t* out, int n);
void ivec_fill_strided(int32_t value, int32_t* out, int os, int n);
void vec_scale_in_place(float s, float* x, int n);
void ivec_scale_in_place(int32_t s, int32_t* x, int n);

// The encoder's random generator (numutil.h): uniform values in [0, 1).
void vec_random_fill(float* out, int n);
void vec_random_doubles(double* out, int n);
// Seeds with seed mod 31328; a result of 0 keeps the previous seed.
void vec_random_seed(int seed);
