// The AVX2 dot product; this file alone is built for AVX2 and FMA, and is
// called only where the processor has them.
#include "dot.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

void dot_avx2(const float* coef, const float* x, int count, int channels, float* out) {
  __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
  int k = 0;
  for (; k + 32 <= count; k += 32) {
    a0 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + k), _mm256_loadu_ps(x + k), a0);
    a1 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + k + 8), _mm256_loadu_ps(x + k + 8), a1);
    a2 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + k + 16), _mm256_loadu_ps(x + k + 16), a2);
    a3 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + k + 24), _mm256_loadu_ps(x + k + 24), a3);
  }
  for (; k + 8 <= count; k += 8) a0 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + k), _mm256_loadu_ps(x + k), a0);
  const __m256 sum = _mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_add_ps(a2, a3));
  // Eight lanes fold to four with the channel pattern kept (8 and 4 are
  // multiples of every channel count taken); no 32-byte value goes to the
  // stack, whose alignment 64-bit Windows compilers do not keep for it.
  __m128 four = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
  if (k + 4 <= count) {
    four = _mm_fmadd_ps(_mm_loadu_ps(coef + k), _mm_loadu_ps(x + k), four);
    k += 4;
  }
  if (k == count) {
    dot_fold4(four, channels, out);
  } else {
    float lanes[4];
    _mm_storeu_ps(lanes, four);
    for (int j = 0; k < count; ++k, ++j) lanes[j] += coef[k] * x[k];
    for (int c = 0; c < channels; ++c) out[c] = 0.0f;
    for (int j = 0; j < 4; ++j) out[j % channels] += lanes[j];
  }
  _mm256_zeroupper();
}

void dot8_avx2(const float* coef, const float* x, int span, float* out) {
  // Four sums in flight hide the FMA latency.
  __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
  for (int k = 0; k < span; k += 4, coef += 32) {
    a0 = _mm256_fmadd_ps(_mm256_loadu_ps(coef), _mm256_broadcast_ss(x + k), a0);
    a1 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + 8), _mm256_broadcast_ss(x + k + 1), a1);
    a2 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + 16), _mm256_broadcast_ss(x + k + 2), a2);
    a3 = _mm256_fmadd_ps(_mm256_loadu_ps(coef + 24), _mm256_broadcast_ss(x + k + 3), a3);
  }
  _mm256_storeu_ps(out, _mm256_add_ps(_mm256_add_ps(a0, a1), _mm256_add_ps(a2, a3)));
  _mm256_zeroupper();
}

#endif
