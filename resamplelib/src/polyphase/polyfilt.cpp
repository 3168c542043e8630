// Kaiser FIR design and the FFT fast-convolution filters.
#include <cmath>
#include <cstdlib>

#include "mp4aenc/fft_radix4.h"
#include "engines.h"
#include "resamplelib/polyphase.h"
#include "resamplelib/resample.h"

static const char kModule[] = "resamplelib/src/polyphase/polyfilt";
static const char kFastConv[] = "resamplelib/src/polyphase/fastconv";
static const double kPi = 3.14159265358979323846;

int rate_gcd(int a, int b) {
  while (b) {
    int r = a % b;
    a = b;
    b = r;
  }
  return a;
}

void resample_design(FilterDesign* d, int inputRate, int outputRate) {
  const int g = rate_gcd(inputRate, outputRate);
  const double lowerNyquist = (inputRate < outputRate ? inputRate : outputRate) / 2.0;
  const double common = double(inputRate) * outputRate / g;
  d->gain = 1.0;
  d->attenuation = 80;
  d->cutoff = lowerNyquist / common;
  // From 0.1 to 0.07 of the cut-off as the lower Nyquist frequency passes 18 kHz.
  d->transition = d->cutoff * (0.1 - 0.03 * (std::atan((lowerNyquist / 2 - 9000) * 0.004) / kPi + 0.5));
  polyfilt_design(d);
}

void polyfilt_design(FilterDesign* d) {
  const double a = d->attenuation;
  if (d->taps <= 0) d->taps = int((a - 7.95) / (14.36 * 1.66 * d->transition)) + 1;
  else if (d->taps > 1) d->transition = (a - 7.95) / (14.36 * 1.66 * (d->taps - 1));
  if (a > 50 && a <= 140) d->beta = 0.1102 * (a - 8.7);
  else if (a >= 25 && a <= 50) d->beta = 0.5842 * std::pow(a - 21, 0.4) + 0.07886 * (a - 21);
  else d->beta = 0.0;
}

void polyfilt_window(const FilterDesign* d, double* w) {
  const int n = d->taps;
  const double i0 = bessel_i0(d->beta);
  if (n == 1) {
    w[0] = 1.0;
    return;
  }
  for (int k = 0; k < n; ++k) {
    // Position from -1 to 1; odd and even lengths alike through (n - 1) / 2.
    double r = (2.0 * k - (n - 1)) / (n - 1);
    double arg = 1.0 - r * r - 4e-16;
    w[k] = bessel_i0(d->beta * std::sqrt(arg > 0.0 ? arg : 0.0)) / i0;
  }
}

ErrorRecord* polyfilt_sinc(FilterDesign* d) {
  if (d->taps < 1 || !d->coefficients)
    return error_create(kModule, __LINE__, nullptr, "Invalid input parameters");
  double* w = static_cast<double*>(std::malloc(sizeof(double) * size_t(d->taps)));
  if (!w) return error_create(kModule, __LINE__, nullptr, "out of memory !");
  polyfilt_window(d, w);
  const double fc = d->cutoff - 0.83 * d->transition;
  double sum = 0.0;
  for (int k = 0; k < d->taps; ++k) {
    double i = k - (d->taps - 1) / 2.0;
    double h = i == 0.0 ? 2 * kPi * fc : std::sin(2 * kPi * fc * i) / i;
    d->coefficients[k] = h * w[k];
    sum += d->coefficients[k];
  }
  std::free(w);
  for (int k = 0; k < d->taps; ++k) d->coefficients[k] *= d->gain / sum;
  return nullptr;
}

ErrorRecord* fastconv_create(FastConvFilter** out, const float* coefficients, int count,
                             int transformSize) {
  *out = nullptr;
  if (count < 2) return error_create(kFastConv, __LINE__, nullptr, "invalid number of filter coefficients");
  if (transformSize != 0 && (transformSize != kRadix4Length || count > transformSize))
    return error_create(kFastConv, __LINE__, nullptr, "Invalid input parameters");
  auto* f = static_cast<FastConvFilter*>(std::calloc(1, sizeof(FastConvFilter)));
  const int length = transformSize ? transformSize : count;
  if (f) f->data = static_cast<float*>(std::calloc(size_t(length), sizeof(float)));
  if (!f || !f->data) {
    fastconv_free(f);
    return error_create(kFastConv, __LINE__, nullptr, "out of memory");
  }
  f->length = length;
  for (int i = 0; i < count; ++i) f->data[i] = coefficients[i];
  if (transformSize) fft_radix4_dif(f->data);
  *out = f;
  return nullptr;
}

void fastconv_free(FastConvFilter* f) {
  if (!f) return;
  std::free(f->data);
  std::free(f);
}

ErrorRecord* fastconv_buffer_create(FastConvBuffer** out, int size) {
  *out = nullptr;
  if (size <= 0) return error_create(kFastConv, __LINE__, nullptr, "Invalid input parameters");
  auto* b = static_cast<FastConvBuffer*>(std::calloc(1, sizeof(FastConvBuffer)));
  if (b) b->data = static_cast<float*>(std::calloc(size_t(size), sizeof(float)));
  if (!b || !b->data) {
    fastconv_buffer_free(b);
    return error_create(kFastConv, __LINE__, nullptr, "out of memory");
  }
  b->size = size;
  *out = b;
  return nullptr;
}

void fastconv_buffer_free(FastConvBuffer* b) {
  if (!b) return;
  std::free(b->data);
  std::free(b);
}
