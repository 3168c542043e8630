// Window shapes: sine, Kaiser-Bessel-derived, zero-padded sine and squared
// sine, as rising halves that the window objects mirror and join.
#include <cmath>
#include <vector>

#include "aac_psy_tables.h"
#include "mp4aenc/filterbank.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/calcwindow";
static const double kPi = 3.14159265358979323846;

double aac_bessel_i0(double x) {
  const double half = x / 2.0;
  double sum = 1.0;
  double term = 1.0;
  for (int k = 1;; ++k) {
    const double f = half / k;
    term *= f * f;
    sum += term;  // the term that fails the test still counts
    if (term < 1e-41 * sum) break;
  }
  return sum;
}

void kbd_window_init(double* out, double alpha, int N) {
  const int half = N / 2;
  if (half < 1) return;
  const double a = alpha * kPi;
  const double scale = 1.0 / aac_bessel_i0(a);
  std::vector<double> v(static_cast<size_t>(half));
  double total = scale;  // the term of j = half, where the argument is 0
  for (int j = 0; j < half; ++j) {
    const double g = 2.0 * j / half;
    v[size_t(j)] = scale * aac_bessel_i0(a * std::sqrt(g * (2.0 - g)));
    total += v[size_t(j)];
  }
  double running = 0.0;
  for (int j = 0; j < half; ++j) {
    running += v[size_t(j)];
    out[j] = std::sqrt(running / total);
  }
}

static void sine_half(float* out, int N) {
  for (int i = 0; i < N / 2; ++i) out[i] = float(std::sin(kPi / N * (i + 0.5)));
}

// The standard's tables hold the two KBD windows the filterbank uses; any
// other length is computed.
static void kbd_half(float* out, int N, double alpha, int useTable) {
  const int half = N / 2;
  if (useTable && alpha == 4.0 && N == 2048) {
    for (int i = 0; i < half; ++i) out[i] = float(kKbdLongTable[i]);
    return;
  }
  if (useTable && alpha == 6.0 && N == 256) {
    for (int i = 0; i < half; ++i) out[i] = float(kKbdShortTable[i]);
    return;
  }
  std::vector<double> w(static_cast<size_t>(half));
  kbd_window_init(w.data(), alpha, N);
  for (int i = 0; i < half; ++i) out[i] = float(w[size_t(i)]);
}

static ErrorRecord* invalid_shape(int line) {
  return error_create(kModule, line, nullptr, "CalculateWindow() called with invalid window shape");
}

ErrorRecord* CalculateWindow(float* out, int N, int shape, int useTable) {
  if (shape < 0 || shape > 3) return invalid_shape(__LINE__);
  if (N < 2) return nullptr;
  const int half = N / 2;
  switch (shape) {
    case kShapeSine:
      sine_half(out, N);
      break;
    case kShapeKbd:
      kbd_half(out, N, 4.0, useTable);
      break;
    case kShapeZpw: {
      const int zeros = 3 * N / 16, rise = N / 8;
      for (int i = 0; i < zeros; ++i) out[i] = 0.0f;
      sine_half(out + zeros, N / 4);
      for (int i = zeros + rise; i < half; ++i) out[i] = 1.0f;
      break;
    }
    default:
      sine_half(out, N);
      for (int i = 0; i < half; ++i) out[i] *= out[i];
      break;
  }
  return nullptr;
}

ErrorRecord* CalculateShortWindow(float* out, int N, int shape, int useTable) {
  if (shape != kShapeSine && shape != kShapeKbd && shape != kShapeSineSquared)
    return invalid_shape(__LINE__);
  if (N < 2) return nullptr;
  if (shape == kShapeKbd) {
    kbd_half(out, N, 6.0, useTable);
    return nullptr;
  }
  return CalculateWindow(out, N, shape, useTable);
}

ErrorRecord* CalculateTransitionWindow(float* out, int N, int shape, int useTable, int nShort) {
  if (shape != kShapeSine && shape != kShapeKbd && shape != kShapeSineSquared)
    return invalid_shape(__LINE__);
  if (N < 2 || nShort < 1) return nullptr;
  const int half = N / 2;
  // The same fractions for every shape: fixing KBD at the eight-window
  // fractions would overrun the rising part with four short windows.
  const int zeros = N * (nShort - 1) / (4 * nShort);
  const int shortLength = N / nShort;
  for (int i = 0; i < zeros; ++i) out[i] = 0.0f;
  ErrorRecord* err = CalculateShortWindow(out + zeros, shortLength, shape, useTable);
  if (err) return err;
  for (int i = zeros + shortLength / 2; i < half; ++i) out[i] = 1.0f;
  return nullptr;
}
