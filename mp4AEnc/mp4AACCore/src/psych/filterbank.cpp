// Synthesis filterbank: inverse MDCT through a quarter-length complex FFT,
// windowing and overlap-add for the four window sequences.
#include <cmath>

#include "mp4aenc/fft.h"
#include "mp4aenc/filterbank.h"

static const double kPi = 3.14159265358979323846;

static void rotate_pairs(float* x, int M) {
  for (int i = 0; i < M / 2; ++i) {
    const double phi = (i + 0.125) * kPi / M;
    const double c = std::cos(phi), s = std::sin(phi);
    const double re = x[2 * i], im = x[2 * i + 1];
    x[2 * i] = float(re * c - im * s);
    x[2 * i + 1] = float(re * s + im * c);
  }
}

void mdct_twiddle_fft(float* x, int M) {
  for (int i = 0; i < M / 4; ++i) {
    x[2 * i] = -x[2 * i];
    x[M / 2 + 2 * i] = -x[M / 2 + 2 * i];
    const float t = x[2 * i + 1];
    x[2 * i + 1] = x[M - 1 - 2 * i];
    x[M - 1 - 2 * i] = t;
  }
  rotate_pairs(x, M);
  fft_complex(x, M / 2, 1);
  rotate_pairs(x, M);
  for (int i = 0; i < M / 4; ++i) {
    x[2 * i] = -x[2 * i];
    x[M / 2 + 2 * i] = -x[M / 2 + 2 * i];
    const float t = x[2 * i + 1];
    x[2 * i + 1] = -x[M - 1 - 2 * i];
    x[M - 1 - 2 * i] = -t;
  }
}

void mdct_block_fft(const float* in, float* out, int N) {
  float y[2048];
  const int M = N / 2;
  for (int i = 0; i < M; ++i) y[i] = float(2.0 / N * in[i]);
  mdct_twiddle_fft(y, M);
  for (int j = 0; j < N / 4; ++j) {
    out[j] = y[N / 4 + j];
    out[N / 2 - 1 - j] = -y[N / 4 + j];
    out[3 * N / 4 + j] = -y[j];
    out[3 * N / 4 - 1 - j] = -y[j];
  }
}

void filterbank_window_frame(const float* spectrum, float* output, float* overlap,
                             unsigned windowSequence, int frameLength, int shortLength, int nShort,
                             const float* window) {
  const int L = frameLength, S = shortLength, P = (L - S) / 2;
  float t[4096];
  float A[4096];
  for (int i = 0; i < L; ++i) A[i] = overlap[i];
  if (windowSequence == kEightShort) {
    for (int k = 0; k < nShort; ++k) {
      mdct_block_fft(spectrum + k * S, t, 2 * S);
      for (int i = 0; i < 2 * S; ++i) t[i] *= window[i];
      float* a = A + P + k * S;
      for (int i = 0; i < S; ++i) a[i] += t[i];
      for (int i = 0; i < S; ++i) a[S + i] = t[S + i];
    }
    for (int i = 2 * L - P; i < 2 * L; ++i) A[i] = 0.0f;
  } else {
    mdct_block_fft(spectrum, t, 2 * L);
    for (int i = 0; i < 2 * L; ++i) t[i] *= window[i];
    if (windowSequence == kLongStop) {
      for (int i = P; i < P + S; ++i) A[i] += t[i];
      for (int i = P + S; i < L; ++i) A[i] = t[i];
    } else {
      for (int i = 0; i < L; ++i) A[i] += t[i];
    }
    for (int i = L; i < 2 * L; ++i) A[i] = t[i];
    if (windowSequence == kLongStart)
      for (int i = 2 * L - P; i < 2 * L; ++i) A[i] = 0.0f;
  }
  for (int i = 0; i < L; ++i) output[i] = A[i];
  for (int i = 0; i < L; ++i) overlap[i] = A[L + i];
}
