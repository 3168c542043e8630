// Temporal noise shaping: decision, quantisation, filtering and threshold
// factors per channel. Every setting lives in the channel's state, so two
// encoders never share one.
#include "mp4aenc/tns.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp4aenc/param.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/tns";
static const double kPi = 3.14159265358979323846;

namespace {

void lag_window(float* w, float sampleRate, float ms, int lines) {
  const double c = sampleRate * ms * 0.003141593 / lines;
  for (int i = 0; i <= kTnsMaxOrderAny; ++i) {
    const double x = c * (i + 0.5);
    w[i] = float(std::exp(-0.5 * x * x));
  }
}

// First band whose lower edge lies at or above f.
int band_of(float f, float sampleRate, const int* offsets, int nBands) {
  const int lines = offsets[nBands];
  for (int b = 0; b < nBands; ++b)
    if (sampleRate * offsets[b] / (2.0f * lines) >= f) return b;
  return nBands;
}

// Levinson-Durbin: reflection coefficients k[1..p] of the whitening filter
// x[n] + sum a_i x[n-i]; answers the final prediction error.
double levinson(const double* r, int p, float* k) {
  double a[kTnsMaxOrderAny + 1] = {0}, tmp[kTnsMaxOrderAny + 1];
  double e = r[0];
  for (int m = 1; m <= p; ++m) {
    if (!(e > 0.0)) {
      for (int j = m; j <= p; ++j) k[j] = 0.0f;
      break;
    }
    double acc = r[m];
    for (int i = 1; i < m; ++i) acc += a[i] * r[m - i];
    const double km = -acc / e;
    std::memcpy(tmp, a, sizeof a);
    for (int i = 1; i < m; ++i) a[i] = tmp[i] + km * tmp[m - i];
    a[m] = km;
    k[m] = float(km);
    e *= 1.0 - km * km;
  }
  return e;
}

// The lines of one window: all of a long block, every nShort-th line of an
// eight-short one.
void gather(const float* spectrum, int window, int nWindows, int lines, float* x) {
  for (int k = 0; k < lines; ++k) x[k] = spectrum[k * nWindows + window];
}
void scatter(const float* x, int window, int nWindows, int lines, float* spectrum) {
  for (int k = 0; k < lines; ++k) spectrum[k * nWindows + window] = x[k];
}

void all_zero(float* x, int lo, int hi, const TnsFilter& f) {
  if (hi <= lo || f.order <= 0) return;
  std::vector<float> in(x + lo, x + hi);
  const int n = hi - lo;
  for (int m = 0; m < n; ++m) {
    double y = in[size_t(m)];
    for (int i = 1; i <= f.order; ++i) {
      const int src = f.direction ? m + i : m - i;
      if (src < 0 || src >= n) break;
      y += double(f.a[i]) * in[size_t(src)];
    }
    x[lo + m] = float(y);
  }
}

void all_pole(float* x, int lo, int hi, const TnsFilter& f) {
  if (hi <= lo || f.order <= 0) return;
  const int n = hi - lo;
  for (int step = 0; step < n; ++step) {
    const int m = f.direction ? n - 1 - step : step;
    double y = x[lo + m];
    for (int i = 1; i <= f.order; ++i) {
      const int src = f.direction ? m + i : m - i;
      if (src < 0 || src >= n) break;
      y -= double(f.a[i]) * x[lo + src];
    }
    x[lo + m] = float(y);
  }
}

void band_energies(const float* x, const int* offsets, int nBands, double* out) {
  for (int b = 0; b < nBands; ++b) {
    double e = 0.0;
    for (int k = offsets[b]; k < offsets[b + 1]; ++k) e += double(x[k]) * x[k];
    out[b] = e;
  }
}

}  // namespace

float tns_quantise_coefficient(float k, int resolution, int16_t* index) {
  const double half = double(1 << (resolution - 1));
  const double q = (k >= 0.0f ? half - 0.5 : half + 0.5) / (kPi / 2.0);
  const double v = std::asin(double(k)) * q;
  const int i = int(v >= 0.0 ? std::floor(v + 0.5) : std::ceil(v - 0.5));
  *index = int16_t(i);
  const double qi = (i >= 0 ? half - 0.5 : half + 0.5) / (kPi / 2.0);
  return float(std::sin(i / qi));
}

void tns_quantise_filter(TnsFilter* f, float crit) {
  float k[kTnsMaxOrderAny + 1] = {0};
  for (int i = 1; i <= f->order; ++i)
    k[i] = tns_quantise_coefficient(f->reflection[i], f->resolution, &f->index[i]);
  while (f->order > 0 && std::fabs(k[f->order]) <= 0.1f) --f->order;
  if (crit > 0.0f && f->order > 0) {
    double logProd = 0.0, best = 0.0;
    int bestOrder = 0;
    for (int i = 1; i <= f->order; ++i) {
      logProd += std::log(1.0 - double(k[i]) * k[i]);
      const double cost = logProd + crit * i;
      if (cost < best) best = cost, bestOrder = i;
    }
    f->order = bestOrder;
  }
  double prod = 1.0;
  double a[kTnsMaxOrderAny + 1] = {0}, tmp[kTnsMaxOrderAny + 1];
  for (int m = 1; m <= f->order; ++m) {
    prod *= 1.0 - double(k[m]) * k[m];
    std::memcpy(tmp, a, sizeof a);
    for (int i = 1; i < m; ++i) a[i] = tmp[i] + k[m] * tmp[m - i];
    a[m] = k[m];
  }
  for (int i = 0; i <= kTnsMaxOrderAny; ++i) f->a[i] = float(a[i]);
  f->quantGain = float(1.0 / prod);
}

ErrorRecord* tns_create(TnsInfo** out, float sampleRate, int bitratePerChannel, int channelMode,
                        int enhancement, AudioObject profile, int frameLength, int nShort) {
  *out = nullptr;
  if (profile.mpeg4 != 0 && profile.mpeg4 != 1)
    return error_create(kModule, __LINE__, nullptr, "invalid MPEG flag %d", profile.mpeg4);
  if (frameLength <= 0 || nShort < 1 || nShort > 8)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  auto* s = static_cast<TnsInfo*>(std::calloc(1, sizeof(TnsInfo)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->sampleRate = sampleRate;
  s->object = profile;
  s->frameLength = frameLength;
  s->nShort = nShort;
  s->enabled = 1;
  s->longRecord = {20, 2.5f, 3, 1275, 1275};
  s->shortRecord = {7, 2.5f, 1, 2750, 0};
  // Until a row is found, the defaults of the middle rates.
  s->param = {15, 0, 3, 0.5f, 1.5f, 0.1f, 1.41f, 2500, 16000, 1.41f, 3750, 16000};
  tns_param_lookup(channelMode, unsigned(bitratePerChannel), &s->param, profile);

  // Order limit: 20 for MPEG-4 at 32 kHz or below, else 12; then never above
  // what the object type's streams may carry (LC and LTP: 12 long, 7 short).
  s->orderLimitLong = profile.mpeg4 && sampleRate <= 32000.0f ? 20 : 12;
  s->orderLimitShort = 7;
  int tableLong = 0, tableShort = 0;
  tns_max_order(profile, &tableLong, &tableShort);
  if (s->orderLimitLong > tableLong) s->orderLimitLong = tableLong;
  if (s->orderLimitShort > tableShort) s->orderLimitShort = tableShort;

  const int nyquist = int(sampleRate / 2);
  const bool e = enhancement != 0;
  param_get_float("tnthr", 1.0f, 10.0f, "TNS prediction gain threshold", nullptr,
                  &s->param.gainThresholdLong);
  param_get_float("tnthr_s", 1.0f, 10.0f, "TNS prediction gain threshold short", nullptr,
                  &s->param.gainThresholdShort);
  param_get_int("tnlpcb", 1, 2500, "start frequency for lpc calculation", nullptr,
                &s->param.lpcStartLong);
  param_get_int("tnlpcb_s", 1, 3750, "start frequency for lpc calculation short", nullptr,
                &s->param.lpcStartShort);
  param_get_int("tnp", 0, 1, "TNS debug output level", nullptr, &s->debugLevel);
  param_get_int(e ? "tnoE" : "tno", 0, 31, "Order of TNS filter for long blocks", nullptr,
                &s->param.order);
  param_get_int(e ? "tnaE" : "tna", 0, nyquist, "Start frequency of TNS filter for long blocks [Hz]",
                nullptr, &s->longRecord.startFreq);
  param_get_int(e ? "tna_sE" : "tna_s", 0, nyquist,
                "Start frequency of TNS filter for short blocks [Hz]", nullptr,
                &s->shortRecord.startFreq);
  param_get_int(e ? "tnsSplitE" : "tnsSplit", 0, nyquist,
                "Split frequency of TNS filter for long blocks [Hz]", nullptr,
                &s->longRecord.splitFreq);
  param_get_int(e ? "tndE" : "tnd", 0, 1, "Direction of TNS filtering (0:up, 1:down)", nullptr,
                &s->param.direction);
  s->resolution = -1;
  param_get_int("tnr", 0, 4, "TNS coefficient resolution (0-2:auto, 3,4 bits)", nullptr,
                &s->resolution);
  s->blockTypeMode = 3;
  param_get_int("tnb", 0, 3, "TNS blocktype mode (bits 0x1:long, 0x2: short)", nullptr,
                &s->blockTypeMode);
  param_get_int(e ? "tnmE" : "tnm", 0, 7,
                "TNS masking thresh. options (bits 0x1:low, 0x2: hi, 0x4: pred. gain)", nullptr,
                &s->param.maskOptions);
  param_get_float(e ? "tntE" : "tnt", 0.0f, 100.0f, "TNS max. time resolution for long blocks [ms]",
                  nullptr, &s->param.maxTimeLong);
  param_get_float(e ? "tnt_sE" : "tnt_s", 0.0f, 100.0f,
                  "TNS max. time resolution for short blocks [ms]", nullptr,
                  &s->param.maxTimeShort);
  param_get_float(e ? "tnt2E" : "tnt2", 0.0f, 100.0f,
                  "TNS max. 2nd time resolution for long blocks [ms]", nullptr,
                  &s->param.maxTime2Long);
  int noSync = 0;
  param_get_flag("notnssync", "do not sync TNS in case of correlated channel pairs", nullptr,
                 &noSync);
  s->sync = !noSync;
  param_get_flag("tnsra", "tns range analysis", "check the tns range dependent on tns gain per band",
                 &s->rangeAnalysis);
  if (s->rangeAnalysis && s->param.direction == 0) s->param.direction = 1;
  param_get_float("tnsCrit", 0.0f, 100.0f, "inform factor ", nullptr, &s->crit);

  lag_window(s->lagLong, sampleRate, s->param.maxTimeLong, frameLength);
  lag_window(s->lagLong2, sampleRate, s->param.maxTime2Long, frameLength);
  lag_window(s->lagShort, sampleRate, s->param.maxTimeShort, frameLength / nShort);
  *out = s;
  return nullptr;
}

void tns_delete(TnsInfo* state) { std::free(state); }

ErrorRecord* tns_duplicate(TnsInfo* dst, const TnsInfo* src) {
  if (!dst && !src) return nullptr;
  if (!dst || !src) return error_create(kModule, __LINE__, nullptr, "one INVALID HANDLE");
  *dst = *src;
  return nullptr;
}

void tns_analyse(TnsInfo* s, const float* spectrum, const int* offsets, int nBands, int blockType,
                 int resolutionHint, int codedBands, int layerFlag) {
  const bool isShort = blockType == 2;
  s->nWindows = isShort ? s->nShort : 1;
  s->active = 0;
  for (int w = 0; w < 8; ++w) {
    s->window[w].nFilters = 0;
    for (float& f : s->window[w].factors) f = 1.0f;
  }
  if (!(s->blockTypeMode & (isShort ? 2 : 1)) || !s->enabled) return;
  const TnsBandRecord& rec = isShort ? s->shortRecord : s->longRecord;
  const int lines = offsets[nBands];
  int limit = isShort ? s->orderLimitShort : s->orderLimitLong;
  int order = std::min(isShort ? rec.maxOrder : s->param.order, rec.maxOrder);
  order = std::min(order, limit);
  if (order < 1 || lines > 1024) return;

  int maxLong = -1, maxShort = -1;
  tns_max_bands(int(s->sampleRate), s->object, s->frameLength, &maxLong, &maxShort);
  int top = isShort ? maxShort : maxLong;
  if (top < 0 || top > nBands) top = nBands;
  if (!layerFlag && top > codedBands) top = codedBands;
  const float fs = s->sampleRate;
  const int lpcLo = band_of(float(isShort ? s->param.lpcStartShort : s->param.lpcStartLong), fs,
                            offsets, nBands);
  int lpcHi = band_of(float(isShort ? s->param.lpcStopShort : s->param.lpcStopLong), fs, offsets,
                      nBands);
  if (lpcHi > codedBands) lpcHi = codedBands;
  const int start = std::min(band_of(float(rec.startFreq), fs, offsets, nBands), top);
  const int split = band_of(float(rec.splitFreq), fs, offsets, nBands);
  const int resolutionChoice = s->resolution >= 0 ? s->resolution : resolutionHint;
  const float threshold = isShort ? s->param.gainThresholdShort : s->param.gainThresholdLong;

  std::vector<float> x(static_cast<size_t>(lines)), env(static_cast<size_t>(lines));
  for (int w = 0; w < s->nWindows; ++w) {
    TnsWindow& win = s->window[w];
    win.topBand = top;
    win.predictionGain = 1.0f;
    if (start >= top || lpcHi <= lpcLo) continue;
    gather(spectrum, w, s->nWindows, lines, x.data());
    float peak = 0.0f;
    for (int k = 0; k < lines; ++k) {
      env[size_t(k)] = std::fabs(x[size_t(k)]);
      peak = std::max(peak, env[size_t(k)]);
    }
    for (int pass = 0; pass < 3; ++pass) {
      float y = env[0];
      for (int k = 0; k < lines; ++k) y = env[size_t(k)] = 0.15f * env[size_t(k)] + 0.85f * y;
      y = env[size_t(lines - 1)];
      for (int k = lines - 1; k >= 0; --k) y = env[size_t(k)] = 0.15f * env[size_t(k)] + 0.85f * y;
    }
    for (int k = 0; k < lines; ++k) {
      const float e = std::max(env[size_t(k)], 0.001f * peak);
      x[size_t(k)] /= e + 1e-30f;
    }
    const int lo = offsets[lpcLo], hi = offsets[lpcHi];
    double r[kTnsMaxOrderAny + 1] = {0};
    for (int i = 0; i <= order; ++i)
      for (int k = lo; k + i < hi; ++k) r[i] += double(x[size_t(k)]) * x[size_t(k + i)];
    auto solve = [&](const float* lag, TnsFilter& f) {
      double rw[kTnsMaxOrderAny + 1] = {0};
      for (int i = 0; i <= order; ++i) rw[i] = r[i] * lag[i];
      const double err = levinson(rw, order, f.reflection);
      f.gain = float((rw[0] + 1e-30) / (err + 1e-30));
      f.order = order;
      f.direction = s->param.direction;
    };
    TnsFilter first{}, second{};
    solve(isShort ? s->lagShort : s->lagLong, first);
    win.predictionGain = first.gain;
    if (first.gain < threshold) continue;
    int res = resolutionChoice;
    if (res < 3) res = isShort ? 4 : (first.gain > rec.gainLimit ? 4 : 3);
    first.resolution = res;
    s->active = 1;
    if (!isShort && split > start && split < top && rec.nFilters > 1) {
      solve(s->lagLong2, second);
      second.resolution = res;
      first.startBand = split;
      first.stopBand = top;
      second.startBand = start;
      second.stopBand = split;
      win.filter[0] = first;
      win.filter[1] = second;
      win.nFilters = 2;
    } else {
      first.startBand = start;
      first.stopBand = top;
      win.filter[0] = first;
      win.nFilters = 1;
    }
  }
}

void tns_sync(TnsInfo* left, TnsInfo* right, const float* specLeft, const float* specRight,
              int frameLength) {
  if (!left->sync || !right->sync) return;
  double el = 0.0, er = 0.0;
  for (int k = 0; k < frameLength; ++k) {
    el += double(specLeft[k]) * specLeft[k];
    er += double(specRight[k]) * specRight[k];
  }
  const TnsInfo* src = er > el ? right : left;
  TnsInfo* dst = er > el ? left : right;
  dst->active = src->active;
  dst->nWindows = src->nWindows;
  std::memcpy(dst->window, src->window, sizeof dst->window);
}

void tns_filter(TnsInfo* s, float* spectrum, const int* offsets, int nBands, int blockType) {
  if (!s->active) return;
  const int lines = offsets[nBands];
  const float fs = s->sampleRate;
  std::vector<float> x(static_cast<size_t>(lines)), orig(static_cast<size_t>(lines));
  std::vector<double> before(static_cast<size_t>(nBands)), after(static_cast<size_t>(nBands));
  const int n = blockType == 2 ? s->nWindows : 1;
  for (int w = 0; w < n; ++w) {
    TnsWindow& win = s->window[w];
    if (!win.nFilters) continue;
    gather(spectrum, w, n, lines, x.data());
    orig = x;
    band_energies(x.data(), offsets, nBands, before.data());
    int kept = 0;
    for (int i = 0; i < win.nFilters; ++i) {
      TnsFilter& f = win.filter[i];
      tns_quantise_filter(&f, s->crit);
      if (f.order > 0) win.filter[kept++] = f;
    }
    win.nFilters = kept;
    for (int i = 0; i < kept; ++i)
      all_zero(x.data(), offsets[win.filter[i].startBand], offsets[win.filter[i].stopBand],
               win.filter[i]);
    band_energies(x.data(), offsets, nBands, after.data());
    if (s->rangeAnalysis && kept) {
      // Move the lowest filter's start behind the bands where filtering loses.
      TnsFilter& f = win.filter[kept - 1];
      int best = f.startBand;
      double bestGain = -1.0;
      for (int b = f.startBand; b < f.stopBand; ++b) {
        const double g = (before[size_t(b)] + 1e-20) / (after[size_t(b)] + 1e-20);
        if (g > bestGain) bestGain = g, best = b;
      }
      double sum = 0.0, lowest = 0.0;
      int newStart = f.startBand;
      for (int b = f.startBand; b < best; ++b) {
        sum += std::log((before[size_t(b)] + 1e-20) / (after[size_t(b)] + 1e-20) + 1e-6);
        if (sum < lowest) lowest = sum, newStart = b + 1;
      }
      if (newStart != f.startBand) {
        // Filter again over the shorter range, so that the decoder's filter
        // (which starts at the new band) undoes it exactly.
        for (int k = offsets[f.startBand]; k < offsets[f.stopBand]; ++k) x[size_t(k)] = orig[size_t(k)];
        f.startBand = newStart;
        all_zero(x.data(), offsets[f.startBand], offsets[f.stopBand], f);
        band_energies(x.data(), offsets, nBands, after.data());
      }
    }
    scatter(x.data(), w, n, lines, spectrum);
    // Threshold factors.
    if (!kept) continue;
    const int startBand = win.filter[kept - 1].startBand;
    const int opts = s->param.maskOptions;
    if (opts & 1)
      for (int b = band_of(380.0f, fs, offsets, nBands); b < startBand; ++b) win.factors[b] = 0.25f;
    if (opts & 2)
      for (int b = std::max(band_of(2600.0f, fs, offsets, nBands), startBand); b < win.topBand; ++b)
        win.factors[b] = 1.67f;
    if (opts & 4)
      for (int i = 0; i < kept; ++i)
        for (int b = win.filter[i].startBand; b < win.filter[i].stopBand; ++b)
          win.factors[b] /= win.filter[i].quantGain;
  }
}

namespace {
// The decided filters of every window over their ranges.
void each_filter(const TnsInfo* s, float* spectrum, const int* offsets, int nBands, int blockType,
                 void (*filter)(float*, int, int, const TnsFilter&)) {
  if (!s->active) return;
  const int lines = offsets[nBands];
  std::vector<float> x(static_cast<size_t>(lines));
  const int n = blockType == 2 ? s->nWindows : 1;
  for (int w = 0; w < n; ++w) {
    const TnsWindow& win = s->window[w];
    if (!win.nFilters) continue;
    gather(spectrum, w, n, lines, x.data());
    for (int i = 0; i < win.nFilters; ++i)
      filter(x.data(), offsets[win.filter[i].startBand], offsets[win.filter[i].stopBand], win.filter[i]);
    scatter(x.data(), w, n, lines, spectrum);
  }
}
}  // namespace

void tns_inverse_filter(const TnsInfo* s, float* spectrum, const int* offsets, int nBands,
                        int blockType) {
  each_filter(s, spectrum, offsets, nBands, blockType, all_pole);
}

void tns_apply_filter(const TnsInfo* s, float* spectrum, const int* offsets, int nBands, int blockType) {
  each_filter(s, spectrum, offsets, nBands, blockType, all_zero);
}

void tns_apply_to_thresholds(const TnsInfo* s, int window, int nBands, float* thresholds) {
  for (int b = 0; b < nBands && b < kTnsMaxBandsAny; ++b)
    thresholds[b] *= s->window[window].factors[b];
}
