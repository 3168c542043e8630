// This file alone is built for AVX2 and FMA; it runs only where the
// processor has them.
#include "decimator_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

void decimate_avx2(const DecimatorBranches& b, int count, float* y) {
  int j = 0;
  // 32 outputs at a time: four independent sums hide the FMA latency.
  for (; j + 32 <= count; j += 32) {
    __m256 a0 = _mm256_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
    for (int i = 0; i < b.evenCount; ++i) {
      const __m256 c = _mm256_set1_ps(b.evenTaps[i]);
      const float* x = b.even + j + b.evenAt[i];
      a0 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x), a0);
      a1 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + 8), a1);
      a2 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + 16), a2);
      a3 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + 24), a3);
    }
    for (int i = 0; i < b.oddCount; ++i) {
      const __m256 c = _mm256_set1_ps(b.oddTaps[i]);
      const float* x = b.odd + j + b.oddAt[i];
      a0 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x), a0);
      a1 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + 8), a1);
      a2 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + 16), a2);
      a3 = _mm256_fmadd_ps(c, _mm256_loadu_ps(x + 24), a3);
    }
    _mm256_storeu_ps(y + j, a0);
    _mm256_storeu_ps(y + j + 8, a1);
    _mm256_storeu_ps(y + j + 16, a2);
    _mm256_storeu_ps(y + j + 24, a3);
  }
  _mm256_zeroupper();
  decimate_plain(b, j, count, y);
}

#else

void decimate_avx2(const DecimatorBranches& b, int count, float* y) { decimate_plain(b, 0, count, y); }

#endif
