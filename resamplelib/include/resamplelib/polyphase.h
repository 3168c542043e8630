// The rest of the conversion library: Kaiser FIR design, FFT fast
// convolution over the 1024-point radix-4 transform, the rational-ratio
// polyphase converter (mode 1), the integer-factor down-sampler of the
// scalable AAC core and the small interpolation kernels (modes 3 and 4).
// Failures are the AAC library's ErrorRecords.
#pragma once

#include "mp4aenc/error.h"

// A FIR design: gain, Kaiser beta, cut-off and transition width (both in
// cycles per sample of the working rate), stop-band attenuation (dB) and
// taps. coefficients is the caller's buffer of at least `taps` doubles.
struct FilterDesign {
  double gain;
  double* coefficients;
  double beta;
  double cutoff;
  double transition;
  int attenuation;
  int taps;
};

// Mode 1 design from the rates (working rate: their least common multiple):
// 80 dB, transition 0.1 to 0.07 of the cut-off. Taps are computed when
// design->taps is 0.
void resample_design(FilterDesign* design, int inputRate, int outputRate);
// Taps (when 0) or transition (when taps are given) from the Kaiser
// formulas, and beta.
void polyfilt_design(FilterDesign* design);
// Symmetric Kaiser window over the taps, normalised by I0(beta).
void polyfilt_window(const FilterDesign* design, double* window);
// Windowed sinc into design->coefficients, scaled so the taps sum to the
// gain. Answers an error record when the window cannot be allocated.
ErrorRecord* polyfilt_sinc(FilterDesign* design);

// A filter for fast convolution: the coefficients zero-padded to the
// transform size and transformed (packed radix-4 layout), or, with transform
// size 0, the plain coefficients for direct-form filtering.
struct FastConvFilter {
  int length;
  float* data;
};
struct FastConvBuffer {
  int size;
  float* data;
};
ErrorRecord* fastconv_create(FastConvFilter** out, const float* coefficients, int count,
                             int transformSize);
void fastconv_free(FastConvFilter* filter);
ErrorRecord* fastconv_buffer_create(FastConvBuffer** out, int size);
void fastconv_buffer_free(FastConvBuffer* buffer);

// Mode 1: output rate / input rate = L / M after reducing by their gcd;
// L * M must stay below 256. One call consumes inputFrames() frames and
// produces outputFrames() frames of interleaved floats.
struct PolyphaseConverter;
ErrorRecord* polyphase_create(PolyphaseConverter** out, int inputRate, int outputRate, int channels);
void polyphase_free(PolyphaseConverter* conv);
int polyphase_input_frames(const PolyphaseConverter* conv);
int polyphase_output_frames(const PolyphaseConverter* conv);
void polyphase_process(PolyphaseConverter* conv, const float* in, float* out);
// The designed filter at the working rate (for inspection), its taps, L, M.
const double* polyphase_filter(const PolyphaseConverter* conv, int* taps, int* up, int* down);

// Integer-factor down-sampler: count inputs (a multiple of the factor) give
// count / factor outputs; y[n] = sum_k h[k] x[n*factor - k].
struct DownSampler;
// cutoff in cycles per input sample; *delay receives (taps - 1) / 2.
ErrorRecord* downsamp_create(DownSampler** out, int factor, int blockLength, double cutoff, int* delay);
void downsamp_free(DownSampler* ds);
ErrorRecord* downsamp_process(DownSampler* ds, const float* in, int count, float* out);
const double* downsamp_filter(const DownSampler* ds, int* taps);

// Interpolation kernels at fractional position x (0 <= x < 1) between
// samples s[0], s[stride], s[2*stride], s[3*stride]. Family 1: type 0 or 2
// nearest, type 1 linear. Family 0: type 2 three-point quadratic, type 3
// four-point cubic B-spline. Answers 0 for a combination without a kernel.
float interp_kernel(int family, int type, double x, const float* s, int stride);

struct Interpolator;
// Family 0 for mode 3, 1 for mode 4.
ErrorRecord* interp_create(Interpolator** out, int family, int type, int channels, int inputRate,
                           int outputRate);
void interp_free(Interpolator* ip);
void interp_set_rates(Interpolator* ip, int inputRate, int outputRate);
// Steps through `frames` input frames by inputRate / outputRate, keeping the
// position across calls; answers the output frames written (at most
// outCapacity; input left when the output is full is dropped, so give room
// for frames * outputRate / inputRate + 1). The kernel looks up to three
// frames ahead, so the last frames of a call are used in the next one.
int interp_process(Interpolator* ip, const float* in, int frames, float* out, int outCapacity);
