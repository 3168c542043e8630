// Threshold-calculation partitions of about one third of a Bark, with their
// quiet thresholds, masking parameters and the spreading function.
#include <cmath>
#include <cstdlib>
#include <vector>

#include "mp4aenc/psy_conf.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/cb_param";
static const float kThird = 0.33333334f;

float bark(int n, int k, float sampleRate) {
  const double f = sampleRate / 2.0 * k / n;
  const double a = std::atan(f / 7500.0);
  return float(13.3 * std::atan(0.00076 * f) + 3.5 * a * a);
}

float cb_spreading(int j, int i, const float* barks, int noLower, int noMasking, float lowerSlope,
                   float upperSlope) {
  double dz = double(barks[i]) - barks[j];
  if (dz >= 0.0) {
    dz *= upperSlope;
  } else {
    if (noLower) return 0.0f;
    dz *= lowerSlope;
  }
  double x = 0.0;
  if (!noMasking && dz >= 0.5 && dz <= 2.5) {
    const double u = dz - 0.5;
    x = 8.0 * (u * u - 2.0 * u);
  }
  const double v = dz + 0.474;
  const double y = 15.811 + 7.5 * v - 17.5 * std::sqrt(1.0 + v * v);
  if (y <= -100.0) return 0.0f;
  return float(std::pow(10.0, (x + y) / 10.0));
}

int cb_first_narrow(const float* barks, int count) {
  int n = 0;
  while (n + 1 < count && barks[n + 1] - barks[n] > 0.333f) ++n;
  return n;
}

void cb_map_lines(int count, float scale, const int* offsets, const int* partitionOffsets,
                  int* out) {
  for (int e = 0; e < count; ++e) {
    const float target = scale * offsets[e];
    int p = 0;
    while (float(partitionOffsets[p]) < target && partitionOffsets[p + 1] > partitionOffsets[p]) ++p;
    out[e] = p;
  }
}

// Adds partition [start, end); false when the table is full.
static bool add_partition(CbParam* t, int n, float fs, int start, int end) {
  if (t->count >= kMaxPartitions) return false;
  const int i = t->count++;
  t->first[i] = start;
  t->width[i] = end - start;
  float centre = end - start == 1 ? bark(n, start, fs)
                                  : 0.5f * (bark(n, start, fs) + bark(n, end, fs));
  t->centre[i] = centre > 24.0f ? 24.0f : centre;
  return true;
}

static void partitions_by_lines(CbParam* t, int n, float fs) {
  int start = 0;
  float z0 = bark(n, 0, fs);
  for (int k = 1; k < n; ++k) {
    if (bark(n, k, fs) - z0 > kThird) {
      if (t->count == kMaxPartitions - 1) break;  // the last one takes the rest
      add_partition(t, n, fs, start, k);
      start = k;
      z0 = bark(n, k, fs);
    }
  }
  add_partition(t, n, fs, start, n);
}

static bool partitions_by_bands(CbParam* t, int n, float fs, const SfbParamSet* sfb) {
  const double scale = double(n) / sfb->lines;
  int b = 0;
  while (b < sfb->numBands) {
    const int g = int(sfb->offsets[b] * scale);
    int h = int(sfb->offsets[b + 1] * scale);
    const float width = bark(n, h, fs) - bark(n, g, fs);
    if (width >= 0.333f) {
      const int lines = h - g;
      int j = 2;
      while (j < lines && !(lines % j == 0 && (lines / j == 1 || width / j <= 0.333f))) ++j;
      if (j > lines) j = lines;
      const int step = lines / j;
      for (int p = 0; p < j; ++p)
        if (!add_partition(t, n, fs, g + p * step, p + 1 == j ? h : g + (p + 1) * step))
          return false;
      ++b;
      continue;
    }
    // Narrower than a third of a Bark: merge with the bands after it.
    int e = b + 1;
    while (e < sfb->numBands && bark(n, h, fs) - bark(n, g, fs) < 0.333f) {
      ++e;
      h = int(sfb->offsets[e] * scale);
    }
    if (!add_partition(t, n, fs, g, h)) return false;
    b = e;
  }
  return true;
}

static void partition_values(CbParam* t, const PsyParam* s, int noLowFreqQuiet) {
  const ThrParamSet& thr = *s->thr;
  const int n = s->lines;
  const float fs = s->sampleRate;
  for (int i = 0; i < t->count; ++i) {
    const int z = int(t->centre[i]);
    t->widthHz[i] = float(t->width[i] * double(fs) / (2.0 * n));
    t->quiet[i] = float(std::pow(10.0, (thr.quietDb[z] - thr.quietOffsetDb) / 10.0) *
                        t->width[i] * 16887.8);
    t->quietLow[i] = noLowFreqQuiet ? 0.0f : t->quiet[i];
    t->tmn[i] = thr.tmnDb[z];
    t->nmt[i] = thr.nmtDb[z];
    t->chaosDefault[i] = thr.chaosDefaultPct[z] * 0.01f;
    float v = thr.minSnrBase + thr.minSnrSlope * t->centre[i];
    if (thr.minSnrSlope > 0.0f ? v > thr.minSnrClamp : v < thr.minSnrClamp) v = thr.minSnrClamp;
    t->minSnr[i] = v;
  }
  for (int i = thr.minSnrFixedFirst; i >= 0 && i <= thr.minSnrFixedLast && i < t->count; ++i)
    t->minSnr[i] = thr.minSnrFixed;
  t->narrowCount = cb_first_narrow(t->centre, t->count);
  int end = 0;
  t->countChaos = t->countSnr = 0;
  for (int i = 0; i < t->count; ++i) {
    end += t->width[i];
    if (end <= s->limitLine[0]) t->countChaos = i + 1;
    if (end <= s->limitLine[1]) t->countSnr = i + 1;
  }
  t->endLine = end;
}

static bool spreading_matrix(CbParam* t, const ThrParamSet& thr) {
  const int n = t->count;
  std::vector<float> row(size_t(n) + 1);
  std::vector<float> values;
  values.reserve(size_t(n) * 16);
  for (int i = 0; i < n; ++i) {
    double sum = 0.0;
    int first = -1, count = 0;
    for (int j = 0; j < n; ++j) {
      row[size_t(j)] = cb_spreading(j, i, t->centre, thr.spreadNoLower, thr.spreadNoMasking,
                                    thr.spreadLowerSlope, thr.spreadUpperSlope);
      sum += row[size_t(j)];
      if (first < 0 && row[size_t(j)] > 0.00001f) first = j;
    }
    if (first >= 0)
      while (first + count < n && row[size_t(first + count)] >= 0.00001f) ++count;
    t->spreadFirst[i] = first < 0 ? 0 : first;
    t->spreadCount[i] = count;
    t->spreadStart[i] = int(values.size());
    for (int j = 0; j < count; ++j) values.push_back(row[size_t(first + j)]);
    t->norm[i] = sum > 0.0 ? float(1.0 / sum) : 0.0f;
  }
  t->spreadValues = static_cast<float*>(std::malloc(sizeof(float) * (values.size() + 1)));
  if (!t->spreadValues) return false;
  for (size_t k = 0; k < values.size(); ++k) t->spreadValues[k] = values[k];
  return true;
}

ErrorRecord* cb_param_create(CbParam** out, const PsyParam* setup, int fromBands,
                             int noLowFreqQuiet) {
  *out = nullptr;
  if (!setup || !setup->thr || !setup->sfb || setup->lines < 1)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  auto* t = static_cast<CbParam*>(std::calloc(1, sizeof(CbParam)));
  if (!t) return error_create(kModule, __LINE__, nullptr, "out of memory");
  if (fromBands) {
    if (!partitions_by_bands(t, setup->lines, setup->sampleRate, setup->sfb)) {
      cb_param_free(t);
      return error_add_trace(kModule, __LINE__, nullptr,
                             error_create(kModule, __LINE__, nullptr, "MAX_CB too small"));
    }
  } else {
    partitions_by_lines(t, setup->lines, setup->sampleRate);
  }
  partition_values(t, setup, noLowFreqQuiet);
  if (!spreading_matrix(t, *setup->thr)) {
    cb_param_free(t);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  *out = t;
  return nullptr;
}

void cb_param_free(CbParam* table) {
  if (!table) return;
  std::free(table->spreadValues);
  std::free(table);
}
