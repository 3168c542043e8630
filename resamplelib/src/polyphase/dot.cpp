// The reference dot product, the SSE2 one and the run-time choice.
#include "dot.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

void dot_plain(const float* coef, const float* x, int count, int channels, float* out) {
  // Per channel, four partial sums keep the loop from waiting on one adder.
  for (int c = 0; c < channels; ++c) {
    double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    int k = c;
    for (; k + 3 * channels < count; k += 4 * channels) {
      s0 += double(coef[k]) * x[k];
      s1 += double(coef[k + channels]) * x[k + channels];
      s2 += double(coef[k + 2 * channels]) * x[k + 2 * channels];
      s3 += double(coef[k + 3 * channels]) * x[k + 3 * channels];
    }
    for (; k < count; k += channels) s0 += double(coef[k]) * x[k];
    out[c] = float((s0 + s1) + (s2 + s3));
  }
}

#if defined(__SSE2__)

namespace {

// Lane j of the accumulated sums belongs to channel j % channels.
void add_lanes(const float* lanes, int width, int channels, float* out) {
  for (int c = 0; c < channels; ++c) out[c] = 0.0f;
  for (int j = 0; j < width; ++j) out[j % channels] += lanes[j];
}

}  // namespace

void dot_sse2(const float* coef, const float* x, int count, int channels, float* out) {
  __m128 a0 = _mm_setzero_ps(), a1 = a0, a2 = a0, a3 = a0;
  int k = 0;
  for (; k + 16 <= count; k += 16) {
    a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(coef + k), _mm_loadu_ps(x + k)));
    a1 = _mm_add_ps(a1, _mm_mul_ps(_mm_loadu_ps(coef + k + 4), _mm_loadu_ps(x + k + 4)));
    a2 = _mm_add_ps(a2, _mm_mul_ps(_mm_loadu_ps(coef + k + 8), _mm_loadu_ps(x + k + 8)));
    a3 = _mm_add_ps(a3, _mm_mul_ps(_mm_loadu_ps(coef + k + 12), _mm_loadu_ps(x + k + 12)));
  }
  for (; k + 4 <= count; k += 4) a0 = _mm_add_ps(a0, _mm_mul_ps(_mm_loadu_ps(coef + k), _mm_loadu_ps(x + k)));
  const __m128 four = _mm_add_ps(_mm_add_ps(a0, a1), _mm_add_ps(a2, a3));
  if (k == count) {
    dot_fold4(four, channels, out);
    return;
  }
  float lanes[4];
  _mm_storeu_ps(lanes, four);
  // The tail starts on a multiple of 4, so its channel pattern continues.
  for (int j = 0; k < count; ++k, ++j) lanes[j] += coef[k] * x[k];
  add_lanes(lanes, 4, channels, out);
}

void dot8_sse2(const float* coef, const float* x, int span, float* out) {
  __m128 lo0 = _mm_setzero_ps(), hi0 = lo0, lo1 = lo0, hi1 = lo0;
  for (int k = 0; k < span; k += 2, coef += 16) {
    const __m128 x0 = _mm_set1_ps(x[k]), x1 = _mm_set1_ps(x[k + 1]);
    lo0 = _mm_add_ps(lo0, _mm_mul_ps(_mm_loadu_ps(coef), x0));
    hi0 = _mm_add_ps(hi0, _mm_mul_ps(_mm_loadu_ps(coef + 4), x0));
    lo1 = _mm_add_ps(lo1, _mm_mul_ps(_mm_loadu_ps(coef + 8), x1));
    hi1 = _mm_add_ps(hi1, _mm_mul_ps(_mm_loadu_ps(coef + 12), x1));
  }
  _mm_storeu_ps(out, _mm_add_ps(lo0, lo1));
  _mm_storeu_ps(out + 4, _mm_add_ps(hi0, hi1));
}

#else

void dot8_sse2(const float* coef, const float* x, int span, float* out) {
  for (int l = 0; l < 8; ++l) {
    double sum = 0;
    for (int k = 0; k < span; ++k) sum += double(coef[8 * k + l]) * x[k];
    out[l] = float(sum);
  }
}

void dot_sse2(const float* coef, const float* x, int count, int channels, float* out) {
  dot_plain(coef, x, count, channels, out);
}

#endif

#if !defined(__x86_64__) && !defined(__i386__)
void dot_avx2(const float* coef, const float* x, int count, int channels, float* out) {
  dot_plain(coef, x, count, channels, out);
}
#endif

namespace {

bool has_avx2() {
#if defined(__x86_64__) || defined(__i386__)
  // libgcc checks that the system saves the wide registers too.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

}  // namespace

ResampleKernel dot_kernel_choose(int channels, ResampleKernel wanted) {
  if (channels != 1 && channels != 2 && channels != 4) return RESAMPLE_KERNEL_PLAIN;
  if (wanted >= RESAMPLE_KERNEL_AVX2 && has_avx2()) return RESAMPLE_KERNEL_AVX2;
#if defined(__SSE2__)
  if (wanted >= RESAMPLE_KERNEL_SSE2) return RESAMPLE_KERNEL_SSE2;
#endif
  return RESAMPLE_KERNEL_PLAIN;
}

DotKernel dot_kernel(ResampleKernel kernel) {
  switch (kernel) {
    case RESAMPLE_KERNEL_AVX2: return dot_avx2;
    case RESAMPLE_KERNEL_SSE2: return dot_sse2;
    default: return dot_plain;
  }
}

Dot8Kernel dot8_kernel(ResampleKernel kernel) {
  switch (kernel) {
    case RESAMPLE_KERNEL_AVX2: return dot8_avx2;
    case RESAMPLE_KERNEL_SSE2: return dot8_sse2;
    default: return nullptr;
  }
}
