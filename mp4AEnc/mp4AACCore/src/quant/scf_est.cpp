// Starting estimates of the quantisation loops, the scalefactor difference
// rule, perceptual entropy and the loudness model.
#include "mp4aenc/scf_est.h"

#include <cfloat>
#include <cmath>

static const char kModule[] = "mp4AEnc/mp4AACCore/src/quant/scf_est";

ErrorRecord* pe_calc(const float* lines, float thr, int width, float* peOut) {
  if (!(thr > FLT_MIN)) return error_create(kModule, __LINE__, nullptr, " threshold <= FLT_MIN");
  if (width <= 0) return error_create(kModule, __LINE__, nullptr, " zero sfb width");
  int count = 0;
  double product = 1.0;
  for (int k = 0; k < width; ++k) {
    const double e = double(width) * lines[k] * lines[k] / thr;
    if (e > 1.0) {
      ++count;
      if (product > 1e290) product = 1e290;
      product *= e < 1e9 ? e : 1e9;
    }
  }
  *peOut = float(count + 0.5 * std::log2(product));
  return nullptr;
}

int global_gain_estimate(int nBands, const float* peaks, int useSpread) {
  double m = 0.0, sum = 0.0;
  for (int b = 0; b < nBands; ++b) {
    if (peaks[b] > m) m = peaks[b];
    sum += peaks[b];
  }
  if (m <= 0.0) return 0;
  double g = std::log(m) * 7.6943736 - 69.3324;
  if (useSpread) g += (1.0 - m / sum) * 35.0;
  return int(std::ceil(g > 0.0 ? g : 0.0));
}

void scf_estimate(int nBands, const float* threshold, const float* energy, const int* widths,
                  const float* values, int globalGain, int* scfOut, int* flagsOut,
                  int* roundedOut) {
  int line = 0;
  for (int b = 0; b < nBands; ++b) {
    double s = 1e-10;
    for (int k = 0; k < widths[b]; ++k, ++line) s += std::sqrt(double(values[line]));
    const double h = std::log10(s);
    double o = globalGain;
    if (energy[b] >= threshold[b] && h > 0.0)
      o = (std::log10(double(threshold[b]) + 0.00001) + 0.8293038 - h) * 8.8585 - 15.0;
    const double d = globalGain - o;
    int scf = int(d);
    if (scf < 0) scf = 0;
    if (scf > 20) scf = 20;
    scfOut[b] = scf;
    flagsOut[b] = scf != 0;
    roundedOut[b] = int(std::floor(d + 0.5));
  }
}

void quantise_prepare(const float* in, float* absOut, int* signOut, float* powOut, int count) {
  for (int i = 0; i < count; ++i) {
    const float a = std::fabs(in[i]);
    absOut[i] = a;
    signOut[i] = in[i] > 0.0f ? 1 : (in[i] < 0.0f ? -1 : 0);
    powOut[i] = float(std::sqrt(double(a)) * std::sqrt(std::sqrt(double(a))));
  }
}

int scf_difference_ok(int nBands, const float* bandEnergy, const int* scalefactors) {
  int last = -1;
  for (int b = 0; b < nBands; ++b) {
    if (!(bandEnergy[b] > 0.0f)) continue;
    if (last >= 0 && std::abs(scalefactors[b] - scalefactors[last]) > kScfMaxDifference) return 0;
    last = b;
  }
  return 1;
}

void amplification_steps(int nBands, const float* ratios, float minRatio, int* out) {
  for (int b = 0; b < nBands; ++b) {
    if (ratios[b] >= minRatio && ratios[b] > 0.0f) {
      const int step = int(2.0 * std::log2(double(ratios[b])));
      out[b] = step > 1 ? step : 1;
    } else {
      out[b] = 0;
    }
  }
}

int scf_amplify(int nBands, const float* bandEnergy, const int* steps, int maxStep,
                int* scalefactors, int* globalGain) {
  int largest = 0;
  for (int b = 0; b < nBands; ++b) {
    const int add = steps[b] < maxStep ? steps[b] : maxStep;
    scalefactors[b] += add;
    if (add > largest) largest = add;
  }
  if (!scf_difference_ok(nBands, bandEnergy, scalefactors)) {
    for (int b = 0; b < nBands; ++b) scalefactors[b] -= steps[b] < maxStep ? steps[b] : maxStep;
    *globalGain -= largest;
  }
  return largest;
}

float threshold_in_quiet(float f) {
  const double k = (f > 24000.0f ? 24000.0 : double(f)) / 1000.0;
  const double db = 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) +
                    0.001 * k * k * k * k;
  return float(std::pow(10.0, db / 10.0));
}

float loudness_index(float f) {
  const double x = f;
  return float(std::pow(10.0, (-2.0 - 2.05 * std::atan(0.004 * x) -
                               0.75 * std::atan(2.56e-6 * x * x)) / 10.0));
}

float loudness_constant(float thrQuiet, float index) {
  return float(0.9 * std::pow(0.0001 * thrQuiet / index, 0.23));
}

float specific_loudness(float thrQuiet, float index, float constant, float energy) {
  const double n = constant * (std::pow(1.0 - index + index * double(energy) / thrQuiet, 0.23) - 1.0);
  return n > 0.0 ? float(n) : 0.0f;
}

void rel_band_weight(int n, const float* values, const float* factors, const float* energies,
                     int type, float* out) {
  for (int i = 0; i < n; ++i) {
    switch (type) {
      case 0:
        out[i] = values[i] * factors[i];
        break;
      case 1:
        out[i] = energies[i] * 9.876543e-6f * 0.253125f + values[i] * factors[i] * 0.5f;
        break;
      default:
        out[i] = 2.0f * energies[i];
        break;
    }
    if (values[i] == 0.0f) out[i] = 1.0f;
  }
}

void band_energy_strided(const float* spectrum, int step, int nBands, const int* widths,
                         float* out) {
  int pos = 0;
  for (int b = 0; b < nBands; ++b) {
    double e = 0.0;
    for (int k = 0; k < widths[b]; ++k, pos += step) e += double(spectrum[pos]) * spectrum[pos];
    out[b] = float(e);
  }
}

int op_hook(void) { return 1; }
