// Dot products over the polyphase taps of the windowed-sinc engine. The
// coefficients come expanded per channel (each repeated `channels` times),
// so one walk over interleaved history frames serves every channel:
// out[c] = sum of coef[k] * x[k] over k < count with k % channels == c.
#pragma once

#include "resamplelib/resample.h"

using DotKernel = void (*)(const float* coef, const float* x, int count, int channels, float* out);

// The reference: one tap at a time, summed in double.
void dot_plain(const float* coef, const float* x, int count, int channels, float* out);
// SSE2 and AVX2 take 1, 2 or 4 channels (their lanes repeat the channel
// pattern); count is a multiple of channels.
void dot_sse2(const float* coef, const float* x, int count, int channels, float* out);
void dot_avx2(const float* coef, const float* x, int count, int channels, float* out);

// Eight sums at once over interleaved rows: out[l] = sum of
// coef[8 k + l] * x[k] for k < span (a multiple of four).
void dot8_sse2(const float* coef, const float* x, int span, float* out);
void dot8_avx2(const float* coef, const float* x, int span, float* out);

// The fastest kernel this processor runs for the channel count, or the one
// asked for when the processor has it (else the next slower one).
#if defined(__SSE2__) || defined(__x86_64__)
#include <emmintrin.h>
// Four lanes summed per channel (lane j belongs to channel j % channels):
// shuffles, not a store and a division per lane. Static: the AVX2 file
// builds its own copy, which must not stand in for the SSE2 one.
static inline void dot_fold4(__m128 four, int channels, float* out) {
  if (channels == 4) {
    _mm_storeu_ps(out, four);
    return;
  }
  const __m128 two = _mm_add_ps(four, _mm_movehl_ps(four, four));  // lanes 0+2, 1+3
  if (channels == 2) {
    out[0] = _mm_cvtss_f32(two);
    out[1] = _mm_cvtss_f32(_mm_shuffle_ps(two, two, 1));
  } else {
    out[0] = _mm_cvtss_f32(_mm_add_ss(two, _mm_shuffle_ps(two, two, 1)));
  }
}
#endif

ResampleKernel dot_kernel_choose(int channels, ResampleKernel wanted);
DotKernel dot_kernel(ResampleKernel kernel);
using Dot8Kernel = void (*)(const float* coef, const float* x, int span, float* out);
// The eight-sum kernel of a SIMD kernel; null for the plain loop.
Dot8Kernel dot8_kernel(ResampleKernel kernel);
