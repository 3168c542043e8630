// PNS parameter sets by operating point, and the per-band noise measure.
#include <cmath>
#include <cstring>

#include "mp4aenc/numutil.h"
#include "mp4aenc/param.h"
#include "mp4aenc/pns.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/pnsparam";

struct Row {
  unsigned minBitrate, maxBitrate;
  float minBandwidth, maxBandwidth;
  PnsParam p;
};

// startSfbLong, startSfbShort, refHomogen, refPowDist, refSfm, refPsychTon,
// refGlobTon, tnsGainThr; minSfbWidth, shDftGroup, smoothLE, useHomogen,
// usePowDist, useSfm, usePsychTon, useGlobTon, useTnsGainThr.
#define PNS_DEFAULT 24, 5, 7, 0.03f, 0.3f, 0.1f, 0.0f, 1.1f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}
#define PNS_LOW_DELAY 4, 4, 7, 0.02f, 0.3f, 0.1f, 0.0f, 1.1f, 8, 1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, {0, 0, 0}

const Row kTables[6][4] = {
    {{8000, 31999, 0, 12999, {PNS_DEFAULT}},
     {8000, 31999, 13000, 24000, {PNS_DEFAULT}},
     {32000, 48000, 0, 12999, {PNS_DEFAULT}},
     {32000, 192000, 13000, 48000, {PNS_DEFAULT}}},
    {{8000, 31999, 0, 12999, {24, 5, 6, 0.04f, 0.3f, 0.05f, 0, 1.05f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {8000, 31999, 13000, 24000, {24, 5, 6, 0.04f, 0.3f, 0.05f, 0, 1.05f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 0, 12999, {24, 5, 6, 0.04f, 0.4f, 0.05f, 0, 1.05f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 13000, 24000, {24, 5, 6, 0.04f, 0.4f, 0.05f, 0, 1.05f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}}},
    {{8000, 31999, 0, 12999, {24, 5, 8, 0.02f, 0.2f, 0.2f, 0, 1.2f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {8000, 31999, 13000, 24000, {24, 5, 8, 0.02f, 0.2f, 0.2f, 0, 1.2f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 0, 12999, {24, 5, 8, 0.02f, 0.2f, 0.2f, 0, 1.2f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 13000, 24000, {24, 5, 8, 0.02f, 0.2f, 0.2f, 0, 1.2f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}}},
    {{8000, 31999, 0, 12999, {35, 10, 9, 0.01f, 0.1f, 0.3f, 0, 1.3f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {8000, 31999, 13000, 24000, {35, 10, 9, 0.01f, 0.1f, 0.3f, 0, 1.3f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 0, 12999, {35, 10, 9, 0.01f, 0.1f, 0.3f, 0, 1.3f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 13000, 24000, {35, 10, 9, 0.01f, 0.1f, 0.3f, 0, 1.3f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}}},
    {{8000, 31999, 0, 12999, {PNS_DEFAULT}},
     {8000, 31999, 13000, 32000, {PNS_DEFAULT}},
     {32000, 48000, 0, 12999, {34, 9, 25, 0, 0.3f, 0.3f, 0.15f, 1.5f, 16, 1, 1, 1, 0, 1, 1, 2, 1, 0, 0, 0, {0, 0, 0}}},
     {32000, 48000, 13000, 32000, {34, 9, 10, 0.01f, 0.2f, 0.6f, 0.2f, 1.2f, 16, 1, 1, 1, 1, 1, 1, 2, 1, 0, 0, 0, {0, 0, 0}}}},
    {{8000, 30999, 0, 12999, {35, 10, 14, 0.03f, 0.3f, 0.1f, 0.12f, 1.1f, 16, 1, 1, 1, 1, 0, 1, 1, 1, 0, 0, 0, {0, 0, 0}}},
     {8000, 30999, 13000, 32000, {PNS_DEFAULT}},
     {31000, 48000, 0, 12999, {PNS_DEFAULT}},
     {31000, 48000, 13000, 32000, {39, 11, 13, 0.03f, 0.3f, 0.1f, 0, 1.1f, 16, 1, 1, 1, 1, 0, 1, 0, 1, 0, 0, 0, {0, 0, 0}}}},
};

// The third row's values as written leave out one field; read one field
// later they fit every range: its start in short blocks is taken as the
// other rows' 4, refGlobTon 0 and minSfbWidth 8. Only object type 23 reads it.
const Row kLowDelay[6] = {
    {8000, 39999, 0, 13999, {PNS_LOW_DELAY}},
    {40000, 55999, 0, 12999, {PNS_LOW_DELAY}},
    {40000, 55999, 13000, 24000, {4, 4, 7, 0.005f, 0.3f, 0.3f, 0, 1.1f, 8, 1, 1, 1, 1, 0, 1, 0, 0, 0, 0, 0, {0, 0, 0}}},
    {56000, 63999, 0, 12999, {PNS_LOW_DELAY}},
    {56000, 63999, 13000, 24000, {PNS_LOW_DELAY}},
    {64000, 320000, 0, 24000, {PNS_LOW_DELAY}},
};

}  // namespace

float ramp(float value, float reference, float low, float high) {
  if (!(reference > 0.0f)) return 1.0f;
  const float r = value / reference;
  if (r < low) return 1.0f;
  if (r > high) return 0.0f;
  return (high - r) / (high - low);
}

double pns_flatness(const float* e, int n) {
  long double sum = 0.0L, logSum = 0.0L;
  for (int i = 0; i < n; ++i) sum += (long double)e[i] * 1e-10L;
  if (sum <= 0.0L || n <= 0) return 0.0;
  for (int i = 0; i < n; ++i) {
    const long double v = (long double)e[i] * 1e-10L;
    if (v <= 0.0L) return 0.0;  // a zero line makes the geometric mean 0
    logSum += std::log(v);
  }
  return double(std::exp(logSum / n) / (sum / n));
}

ErrorRecord* pns_param_create(PnsParam* p, const PnsBands* lb, const PnsBands* sb, int value1, int value2,
                              int aot) {
  std::memset(p, 0, sizeof *p);
  const bool lowDelay = aot == 23;
  int table = 1;
  param_get_int("pns-infoTabNr", 1, lowDelay ? 1 : 6, "number of PNS info table",
                "1: DEFAULT\n2: raised PNS ratio\n3: reduced PNS ration\n4: PNS only in upper scale factor bands", &table);
  const Row* rows = lowDelay ? kLowDelay : kTables[table - 1];
  const int nRows = lowDelay ? 6 : 4;
  bool matched = false;
  for (int i = 0; i < nRows; ++i) {
    const Row& r = rows[i];
    const unsigned br = unsigned(lb->bitrate);
    if (br >= r.minBitrate && br <= r.maxBitrate && lb->bandwidth >= r.minBandwidth &&
        lb->bandwidth <= r.maxBandwidth) {
      *p = r.p;  // the last match wins
      matched = true;
    }
  }
  int startLong = -1, startShort = -1;
  float freqLong = -1.0f, freqShort = -1.0f;
  param_get_int("pns-startSfb", 0, 50, "PNS start scale factor band (long blocks)", nullptr, &startLong);
  param_get_float("pns-startFreq", 0.0f, 48000.0f, "PNS start frequency (long blocks)", nullptr, &freqLong);
  if (startLong >= 0 && freqLong >= 0.0f)
    return error_create(kModule, __LINE__, nullptr, "The pns-startSfb and pns-startFreq switches must not be used together!");
  param_get_int("pns-startSfb_s", 0, 50, "PNS start scale factor band (short blocks)", nullptr, &startShort);
  param_get_float("pns-startFreq_s", 0.0f, 48000.0f, "PNS start frequency (short blocks)", nullptr, &freqShort);
  if (startShort >= 0 && freqShort >= 0.0f)
    return error_create(kModule, __LINE__, nullptr, "Switches pns-startSfb_s and pns-startFreq_s must not be used together!");
  if (freqLong >= 0.0f) startLong = freq_to_band_nearest(freqLong, lb->sampleRate, lb->nBands, lb->offsets);
  if (freqShort >= 0.0f) startShort = freq_to_band_nearest(freqShort, sb->sampleRate, sb->nBands, sb->offsets);
  if (startLong >= 0) p->startSfbLong = int16_t(startLong);
  if (startShort >= 0) p->startSfbShort = int16_t(startShort);
  param_get_float("pns-refHomogen", 0.0f, 50.0f, "PNS: Hogogeneity Measure Reference", nullptr, &p->refHomogen);
  param_get_float("pns-refPowDist", 0.0f, 1.0f, "PNS: Power Distribution Measure Reference", nullptr, &p->refPowDist);
  param_get_float("pns-refSfm", 0.0f, 2.0f, "PNS: SFM Measure Reference", nullptr, &p->refSfm);
  param_get_float("pns-refPsychTon", 0.0f, 1.0f, "PNS: Tonality Measure Reference", nullptr, &p->refPsychTon);
  param_get_float("pns-refGlobTon", 0.0f, 1.0f, "PNS: Gobal Tonality Measure", nullptr, &p->refGlobTon);
  param_get_float("pns-tnsGainThr", 1.0f, 100.0f, "PNS: TNS Gain Threshold", nullptr, &p->tnsGainThr);
  param_get_int("pns-minSfbWidth", 4, 64, "PNS: Minimum SFB Width", nullptr, &p->minSfbWidth);
  param_get_int("pns-shDftGroup", 1, 3, "PNS: Short DFT Grouping", nullptr, &p->shDftGroup);
  param_get_int("pns-smoothLE", 0, 1, "PNS: do preprocessing of long energies", nullptr, &p->smoothLE);
  param_get_int("pns-useHomogen", 0, 1, "PNS: use Homogeneity Measure", nullptr, &p->useHomogen);
  param_get_int("pns-usePowDist", 0, 1, "PNS: use Power Distribution Measure", nullptr, &p->usePowDist);
  param_get_int("pns-useSfm", 0, 1, "PNS: use Spectral Flatness Measure", nullptr, &p->useSfm);
  param_get_int("pns-usePsychTon", 0, 1, "PNS: use Tonality Measure", nullptr, &p->usePsychTon);
  param_get_int("pns-useGlobTon", 0, 2,
                "PNS: use global Tonality Measure: do not use 0; squared criterion 1; cubic criterion 2", nullptr,
                &p->useGlobTon);
  param_get_int("pns-useTnsGainThr", 0, 1, "PNS: use TNS Gain Threshold Criterion", nullptr, &p->useTnsGainThr);
  p->sampleRate = int32_t(std::lround(lb->sampleRate));
  p->value1 = value1, p->value2 = value2;
  std::memset(p->counters, 0, sizeof p->counters);
  if (!matched)
    return error_create(kModule, __LINE__, nullptr, "no PNS parameter set for given bitrate/bandwidth combination");
  return nullptr;
}

namespace {
inline int nearest(double v) { return int(std::floor(v + 0.5)); }
}  // namespace

void pns_noise_detection(float* history, const float* shortEnergy, const float* longEnergy, int nBands,
                         const int* offsets, float* noise, PnsParam* p, const float* tonality, int b) {
  const int lines = offsets[nBands];
  const int windows = 2 * b, groups = windows / (p->shDftGroup > 0 ? p->shDftGroup : 1);
  // 1. Short-window energies around each band's centre, summed in groups.
  float shortBand[16][kPsyMaxBands] = {};
  for (int w = 0; w < windows && w < 16; ++w)
    for (int k = p->startSfbLong; k < nBands && k < kPsyMaxBands; ++k) {
      const double c = (offsets[k] + offsets[k + 1]) * 0.5 / b;
      int hi = nearest(1.1 * c);
      if (hi > lines / b) hi = lines / b;
      float sum = 0.0f;
      for (int i = nearest(0.9 * c); i < hi; ++i) sum += shortEnergy[w * 128 + i];
      shortBand[w / p->shDftGroup][k] += sum;
    }
  // 3. Smoothed long energies.
  if (p->smoothLE)
    for (int i = 0; i < lines; ++i) history[i] = 0.5f * longEnergy[i] + 0.5f * history[i];
  const float* le = p->smoothLE ? history : longEnergy;
  for (int i = 0; i < nBands; ++i) {
    const int lo = offsets[i], width = offsets[i + 1] - lo;
    float m = 1.0f;
    if (i < p->startSfbLong || width < p->minSfbWidth) {
      noise[i] = 0.0f;
      continue;
    }
    if (p->usePsychTon) m = std::fmin(m, ramp(tonality[i], p->refPsychTon, 0.9f, 1.1f));
    const float freq = float(lo) * float(p->sampleRate) / (2.0f * float(lines));
    if (p->useSfm && freq < 12000.0f)
      m = std::fmin(m, 1.0f - ramp(float(pns_flatness(le + lo, width)), p->refSfm, 0.33333f, 1.66667f));
    if (p->useHomogen && groups > 0) {
      float lo2 = shortBand[0][i], hi2 = shortBand[0][i];
      for (int g = 1; g < groups && g < 16; ++g) lo2 = std::fmin(lo2, shortBand[g][i]), hi2 = std::fmax(hi2, shortBand[g][i]);
      float f = (float(lo) + width * 0.5f) * float(p->sampleRate) / (2.0f * float(lines));
      if (f > 12000.0f) f = 12000.0f;
      const float e = float(std::pow(f / 12000.0f, -1.3f)) * p->refHomogen * lo2;
      if (hi2 > e) ++p->counters[1];
      m = std::fmin(m, ramp(hi2, e, -3.0f, 5.0f));
    }
    if (p->usePowDist) {
      float q[4] = {0, 0, 0, 0};
      for (int k = 0; k < width; ++k) q[k * 4 / width] += le[lo + k];
      const float big = std::fmax(std::fmax(q[0], q[1]), std::fmax(q[2], q[3]));
      const float small = std::fmin(std::fmin(q[0], q[1]), std::fmin(q[2], q[3]));
      const float e = float(std::pow(p->refPowDist, width / 32.0f)) * big;
      if (small < e) ++p->counters[2];
      m = std::fmin(m, ramp(e, small, 0.99f, 1.01f));
    }
    noise[i] = m;
  }
  // 6. Global tonality.
  if (p->useGlobTon && nBands > 0) {
    double g = 0.0;
    for (int i = 0; i < nBands; ++i) {
      const double t = tonality[i];
      g += p->useGlobTon == 1 ? (t + 0.5) * (t + 0.5) - 0.25 : t * (t * t - 1.5 * t + 1.5);
    }
    g /= p->useGlobTon == 1 ? 2.0 * nBands : nBands;
    if (g > p->refGlobTon)
      for (int i = 0; i < nBands; ++i) noise[i] = 0.0f;
  }
}
