// Partition energies, spreading, tonality, signal-to-mask ratios, pre-echo
// limits and the mapping from partitions onto scale-factor bands.
#include <algorithm>
#include <cmath>

#include "mp4aenc/thr_blocks.h"

void partition_energy(const float* spectrum, const float* chaos, int nAll, int nFirst,
                      const int* widths, const float* defaultChaos, float* energyOut,
                      float* weightedOut) {
  int line = 0;
  for (int p = 0; p < nAll; ++p) {
    double e = 0.0, w = 0.0;
    for (int k = 0; k < widths[p]; ++k, ++line) {
      const double x = double(spectrum[2 * line]) * spectrum[2 * line] +
                       double(spectrum[2 * line + 1]) * spectrum[2 * line + 1];
      e += x;
      if (p < nFirst) w += x * chaos[line];
    }
    energyOut[p] = float(e);
    weightedOut[p] = p < nFirst ? float(w) : float(e * defaultChaos[p]);
  }
}

void partition_spread(const float* energy, const float* weighted, int n, const CbParam* cb,
                      float* spreadOut, float* spreadWeightedOut) {
  for (int i = 0; i < n; ++i) {
    const float* row = cb->spreadValues + cb->spreadStart[i];
    const int first = cb->spreadFirst[i];
    double s = 0.0, sw = 0.0;
    for (int j = 0; j < cb->spreadCount[i]; ++j) {
      s += double(row[j]) * energy[first + j];
      if (weighted) sw += double(row[j]) * weighted[first + j];
    }
    spreadOut[i] = float(s);
    if (weighted && spreadWeightedOut) spreadWeightedOut[i] = float(sw);
  }
}

void partition_log_ratio(const float* energy, const float* weighted, int n, float* out) {
  for (int i = 0; i < n; ++i) {
    double r = energy[i] > 0.0f ? double(weighted[i]) / energy[i] : 0.5;
    if (!(r >= 0.05)) r = 0.05;  // NaN counts as the tonal end, as the clip does
    if (r > 0.5) r = 0.5;
    out[i] = float(-std::log10(2.0 * r));
  }
}

// The threshold of a partition for a given SNR.
static void threshold_for(const SmrState* st, int i, double snr, const float* energy,
                          float* threshold) {
  const CbParam& cb = *st->cb;
  const double factor = i < cb.countSnr ? std::exp(-0.23025851 * snr)
                                        : double(st->thr->pastCountedFactor);
  const double t = double(energy[i]) * cb.norm[i] * factor;
  threshold[i] = float(std::max(t, double(st->quiet[i])));
}

void smr_from_tonality(const SmrState* st, const float* tonality, const float* energy, float nmt,
                       float* threshold) {
  const CbParam& cb = *st->cb;
  const bool perPartition = st->thr->snrPerPartition != 0;
  for (int i = 0; i < cb.count; ++i) {
    const double t = tonality[i];
    const double tmn = perPartition ? cb.tmn[i] : st->thr->tmnScalar;
    const double nmtValue = perPartition ? cb.nmt[i] : nmt;
    const double snr = std::max(double(cb.minSnr[i]), (1.0 - t) * nmtValue + t * tmn);
    threshold_for(st, i, snr, energy, threshold);
  }
}

void smr_fixed(const SmrState* st, const float* energy, float nmt, float* threshold) {
  const CbParam& cb = *st->cb;
  const bool perPartition = st->thr->snrPerPartition != 0;
  for (int i = 0; i < cb.count; ++i) {
    const double nmtValue = perPartition ? cb.nmt[i] : nmt;
    threshold_for(st, i, std::max(nmtValue, double(cb.minSnr[i])), energy, threshold);
  }
}

void pre_echo_limit(const float* nb, const float* previous, float factor, float quietFactor,
                    const float* quiet, float lowFactor, int n, float* out) {
  for (int i = 0; i < n; ++i) {
    const float capped = std::min({nb[i], previous[i] * factor, quietFactor * quiet[i]});
    out[i] = std::max(lowFactor * nb[i], capped);
  }
}

void short_window_limit(int index, float value, float reference, float* const* windows,
                        const float* const* references) {
  const float ratio = value / (reference + 0.0001f);
  for (int w = 0; w < 8; ++w) {
    const float own = windows[w][index] / (references[w][index] + 0.0001f);
    if (ratio < own) windows[w][index] = ratio * references[w][index];
  }
}

void short_threshold_cap(float* values, const float* const* windows, int end, int nShort,
                         int first, int nWin) {
  for (int k = first; k < end; ++k) {
    double mean = 0.0;
    for (int w = 0; w < nShort; ++w) mean += windows[w][k / nWin];
    mean /= nShort;
    if (values[k] > mean) values[k] = float(mean);
  }
}

void clamp_to_one(float* values, int start, int end, float limit) {
  for (int k = start; k < end; ++k)
    if (values[k] > limit) values[k] = 1.0f;
}

void band_stationarity(const FloatFifo* history, int nBands, const int* widths, float x, int n,
                       float* out) {
  const int shortLines = n / 8;
  const double e = std::pow(10.0, -60.0 * (n / 8.0) / x);
  auto bandEnergy = [&](const float* slot, int start, int width) {
    double sum = 0.0;
    for (int l = start; l < start + width; ++l) {
      const int k = std::min((l + 4) / 8, shortLines - 1);
      sum += double(slot[2 * k]) * slot[2 * k] + double(slot[2 * k + 1]) * slot[2 * k + 1];
    }
    return sum;
  };
  int start = 0;
  for (int b = 0; b < nBands; ++b) {
    const float* base = fifo_get(history, 20);
    double prev = base ? bandEnergy(base, start, widths[b]) : 0.0;
    double smallest = 0.0, total = 0.0;
    for (int w = 0; w < 8; ++w) {
      const float* slot = fifo_get(history, 19 - w);
      double en = slot ? bandEnergy(slot, start, widths[b]) : 0.0;
      en = std::max(en, e * prev);
      prev = en;
      smallest = w == 0 ? en : std::min(smallest, en);
      total += en;
    }
    const double mean = total / 8.0;
    const double ratio = mean > 0.0 ? smallest / mean : 1.0;
    out[b] = float(std::min(2.0 * ratio, 1.0) * 0.9 + 0.1);
    start += widths[b];
  }
}

// Lines of partition p inside [lo, hi).
static double overlap(const CbParam& cb, int p, double lo, double hi) {
  const double a = std::max(lo, double(cb.first[p]));
  const double b = std::min(hi, double(cb.first[p] + cb.width[p]));
  return b > a ? b - a : 0.0;
}

void band_from_partitions(const float* values, const CbParam* cb, const int* bandOffsets,
                          int nBands, float scale, float* out) {
  for (int b = 0; b < nBands; ++b) {
    const double lo = bandOffsets[b] * double(scale), hi = bandOffsets[b + 1] * double(scale);
    double sum = 1e-7;
    for (int p = 0; p < cb->count; ++p) {
      const double o = overlap(*cb, p, lo, hi);
      if (o > 0.0) sum += values[p] * o / cb->width[p];
    }
    out[b] = float(sum);
  }
}

void band_min_ratio(const float* threshold, const CbParam* cb, const int* bandOffsets, int nBands,
                    float scale, float* out) {
  for (int b = 0; b < nBands; ++b) {
    const double lo = bandOffsets[b] * double(scale), hi = bandOffsets[b + 1] * double(scale);
    double best = -1.0;
    for (int p = 0; p < cb->count; ++p) {
      if (overlap(*cb, p, lo, hi) <= 0.0) continue;
      const double r = double(threshold[p]) / cb->width[p];
      if (best < 0.0 || r < best) best = r;
    }
    out[b] = float(best < 0.0 ? 0.0 : best);
  }
}
