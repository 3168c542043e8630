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

// The fastest kernel this processor runs for the channel count, or the one
// asked for when the processor has it (else the next slower one).
ResampleKernel dot_kernel_choose(int channels, ResampleKernel wanted);
DotKernel dot_kernel(ResampleKernel kernel);
