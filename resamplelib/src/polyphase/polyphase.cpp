// Mode 1: rational-ratio polyphase conversion by 1024-point fast convolution.
//
// With L = output / gcd and M = input / gcd, the filter h runs at the common
// rate: y[n] = L * sum_i h[nM - iL] x[i]. Writing n = qL + b and i = rM + a,
// output stream b of the gcd rate is the sum over the M input streams a of
// (g_p * x_a)[q + s], where g_p[j] = h[p + jLM] is one of the L * M phases and
// bM - aL = p + s * LM (s is 0 or -1; -1 becomes one leading zero tap).
#include <cstdlib>
#include <cstring>

#include "mp4aenc/fft_radix4.h"
#include "engines.h"
#include "resamplelib/polyphase.h"

static const char kModule[] = "resamplelib/src/polyphase/resample";

struct PolyphaseConverter {
  int up, down, channels;
  int taps;
  int phaseLength;  // longest pair filter (phase taps plus the shift)
  int block;        // frames of each stream per call
  double* h;
  FastConvFilter** pair;  // [b * down + a]
  float* spectra;         // down spectra of 1024
  float* work;
  float* tails;           // [channel][b][phaseLength - 1]
};

void polyphase_free(PolyphaseConverter* c) {
  if (!c) return;
  if (c->pair)
    for (int i = 0; i < c->up * c->down; ++i) fastconv_free(c->pair[i]);
  std::free(c->pair);
  std::free(c->h);
  std::free(c->spectra);
  std::free(c->work);
  std::free(c->tails);
  std::free(c);
}

ErrorRecord* polyphase_create(PolyphaseConverter** out, int inputRate, int outputRate, int channels) {
  *out = nullptr;
  if (inputRate <= 0 || outputRate <= 0 || channels <= 0)
    return error_create(kModule, __LINE__, nullptr, "Invalid input parameters");
  const int g = rate_gcd(inputRate, outputRate);
  const int up = outputRate / g, down = inputRate / g;
  // Every pair of input and output stream has its own phase filter; beyond
  // 255 of them the converter is not meant to run.
  if (up * down >= 256) return error_create(kModule, __LINE__, nullptr, "Invalid input parameters");

  auto* c = static_cast<PolyphaseConverter*>(std::calloc(1, sizeof(PolyphaseConverter)));
  if (!c) return error_create(kModule, __LINE__, nullptr, "out of memory");
  c->up = up;
  c->down = down;
  c->channels = channels;
  FilterDesign d{};
  resample_design(&d, inputRate, outputRate);
  const int lm = up * down;
  int e = d.taps / lm;
  if (e > 1014) {
    polyphase_free(c);
    return error_create(kModule, __LINE__, nullptr, "Filter length exceeds transformation size !");
  }
  if (d.taps % lm) ++e;
  c->taps = d.taps;
  c->phaseLength = e + 1;
  c->block = kRadix4Length - e;
  c->h = static_cast<double*>(std::calloc(size_t(d.taps), sizeof(double)));
  c->pair = static_cast<FastConvFilter**>(std::calloc(size_t(lm), sizeof(FastConvFilter*)));
  c->spectra = static_cast<float*>(std::malloc(sizeof(float) * size_t(down) * kRadix4Length));
  c->work = static_cast<float*>(std::malloc(sizeof(float) * kRadix4Length));
  c->tails = static_cast<float*>(std::calloc(size_t(channels) * size_t(up) * size_t(e), sizeof(float)));
  if (!c->h || !c->pair || !c->spectra || !c->work || !c->tails) {
    polyphase_free(c);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  d.coefficients = c->h;
  if (ErrorRecord* err = polyfilt_sinc(&d)) {
    polyphase_free(c);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  // Pair filters, scaled by L for the inserted zeros and by 1/1024 for the
  // unscaled transforms.
  const float scale = float(up) / kRadix4Length;
  float taps[kRadix4Length];
  for (int b = 0; b < up; ++b)
    for (int a = 0; a < down; ++a) {
      const int dist = b * down - a * up;
      const int p = ((dist % lm) + lm) % lm;
      const int shift = p == dist ? 0 : 1;
      std::memset(taps, 0, sizeof taps);
      for (int j = 0; p + j * lm < d.taps; ++j) taps[j + shift] = float(c->h[p + j * lm]) * scale;
      ErrorRecord* err = fastconv_create(&c->pair[b * down + a], taps, c->phaseLength > 1 ? c->phaseLength : 2,
                                         kRadix4Length);
      if (err) {
        polyphase_free(c);
        return error_add_trace(kModule, __LINE__, nullptr, err);
      }
    }
  *out = c;
  return nullptr;
}

int polyphase_input_frames(const PolyphaseConverter* c) { return c->down * c->block; }
int polyphase_output_frames(const PolyphaseConverter* c) { return c->up * c->block; }

const double* polyphase_filter(const PolyphaseConverter* c, int* taps, int* up, int* down) {
  *taps = c->taps;
  *up = c->up;
  *down = c->down;
  return c->h;
}

void polyphase_process(PolyphaseConverter* c, const float* in, float* out) {
  const int ch = c->channels, B = c->block, tail = c->phaseLength - 1;
  for (int channel = 0; channel < ch; ++channel) {
    // One transform per input stream.
    for (int a = 0; a < c->down; ++a) {
      float* x = c->spectra + size_t(a) * kRadix4Length;
      for (int r = 0; r < B; ++r) x[r] = in[size_t(r * c->down + a) * ch + channel];
      std::memset(x + B, 0, sizeof(float) * size_t(kRadix4Length - B));
      fft_radix4_dif(x);
    }
    for (int b = 0; b < c->up; ++b) {
      float* acc = c->work;
      std::memset(acc, 0, sizeof(float) * kRadix4Length);
      float product[kRadix4Length];
      for (int a = 0; a < c->down; ++a) {
        radix4_multiply(c->spectra + size_t(a) * kRadix4Length, c->pair[b * c->down + a]->data, product);
        for (int k = 0; k < kRadix4Length; ++k) acc[k] += product[k];
      }
      fft_radix4_dit(acc);
      // Overlap-add: the previous block's tail first, then keep this one's.
      float* t = c->tails + (size_t(channel) * c->up + b) * size_t(tail);
      for (int k = 0; k < tail; ++k) acc[k] += t[k];
      for (int q = 0; q < B; ++q) out[size_t(q * c->up + b) * ch + channel] = acc[q];
      std::memcpy(t, acc + B, sizeof(float) * size_t(tail));
    }
  }
}
