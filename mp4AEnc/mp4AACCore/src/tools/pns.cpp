// Perceptual noise substitution: detection, pair resolution, substitution.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/param.h"
#include "mp4aenc/pns.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/pns";

int band_index(const PsyOut*, int g, int b) { return g * kPsyMaxBands + b; }
// The noise state keeps one value per coded band of all groups.
int slot(const PsyOut* o, int g, int b) { return g * o->bandsPerWindow + b; }

// Calls f(band, flag index, noise slot, first line, width, windows) for
// every band of every group of the record (grouped line order).
template <class F>
void walk(const PsyOut* o, F f) {
  int groupStart = 0;
  for (int g = 0; g < o->groups; ++g) {
    const int len = o->groupLength[g];
    int offset = 0;
    for (int b = 0; b < o->bandsPerWindow; ++b) {
      f(b, band_index(o, g, b), slot(o, g, b), groupStart + len * offset, len * o->bandWidths[b], len);
      offset += o->bandWidths[b];
    }
    groupStart += len * offset;
  }
}

}  // namespace

ErrorRecord* PnsInit(PnsState** out, const PnsBands* lb, const PnsBands* sb, int /*frameLength*/, int aot,
                     int pnsModeDefault, int blocktypeModeDefault, int bandModeDefault) {
  *out = nullptr;
  auto* s = static_cast<PnsState*>(std::calloc(1, sizeof(PnsState)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->pnsMode = pnsModeDefault;
  s->blocktypeMode = blocktypeModeDefault;
  s->bandMode = bandModeDefault;
  param_get_int("pnsMode", 0, 3, "PNS Mode:  0: Dummy1,  1: Dummy2,  2: Detection, 3: Detection + avoid holes", nullptr,
                &s->pnsMode);
  param_get_int_vector("pnsBlocktypeMode", 1, 0, 3, "PNS Mode:  blocktype mode (bits 0x1:long, 0x2: short)", nullptr,
                       &s->blocktypeMode);
  param_get_int_vector("pnsBandMode", 1, 1, 2, "PNSBandMode:  0: sfb,  1: Polyphase bands", nullptr, &s->bandMode);
  s->corrMinEnergy = 1e-10f;
  s->corrThreshold = 0.6f;
  for (int& v : s->value) v = kPnsNoValue;
  ErrorRecord* err = pns_param_create(&s->longParam, lb, sb, 0, 0, aot);
  if (!err) err = pns_param_create(&s->shortParam, lb, sb, 0, 0, aot);
  if (err) {
    std::free(s);
    return error_add_trace(kModule, __LINE__, "PnsInit", err);
  }
  *out = s;
  return nullptr;
}

void PnsFree(PnsState* s) { std::free(s); }

void pns_uniform_edges(int lines, int* edges) {
  for (int i = 0; i <= kPnsUniformBands; ++i) edges[i] = i * lines / kPnsUniformBands;
}

void pns_measure_from_uniform(const float* uniform, int nBands, const int* offsets, int lines, float* measure) {
  for (int b = 0; b < nBands; ++b) {
    float m = 1.0f;
    for (int k = offsets[b]; k < offsets[b + 1] && lines > 0; ++k) {
      const int u = kPnsUniformBands * k / lines;
      if (u < kPnsUniformBands && uniform[u] < m) m = uniform[u];
    }
    measure[b] = m;
  }
}

void PnsCorrelation(const PsyOut* l, const PsyOut* r, const PsyOut* m, PnsState* sl, PnsState* sr) {
  for (int g = 0; g < l->groups; ++g)
    for (int b = 0; b < l->bandsPerWindow; ++b) {
      const int i = band_index(l, g, b), k = slot(l, g, b);
      if (k >= kPnsBands) continue;
      const float eL = l->energy[i], eR = r->energy[i], eM = m->energy[i];
      const float c = std::sqrt(eL * eR);
      const float corr = c >= 1e-10f ? (4.0f * eM - eL - eR) * 0.5f / c : 0.0f;
      sl->correlation[k] = sr->correlation[k] = corr;
    }
}

void PnsDetect(PnsState* s, PsyOut* o, int* allowed) {
  for (int& v : s->value) v = kPnsNoValue;
  const bool isShort = o->blockType == 2;
  if (!(s->blocktypeMode & (isShort ? 0x2 : 0x1))) return;
  const PnsParam& p = isShort ? s->shortParam : s->longParam;
  const int start = isShort ? p.startSfbShort : p.startSfbLong;
  walk(o, [&](int b, int i, int k, int from, int width, int len) {
    if (k >= kPnsBands) return;
    // The noise level is the coded spectrum's: energy per window of the lines.
    double e = 0.0;
    for (int n = from; n < from + width; ++n) e += double(o->spectrum[n]) * o->spectrum[n];
    s->energyPerWindow[k] = float(e / len);
    if (b >= o->maxSfb) return;
    bool mark = false;
    if (s->pnsMode == 0) {
      mark = true;
      if (allowed && allowed[k] == 0) allowed[k] = 1;
    } else if (b >= start && s->measure[k] > 0.5f &&
               (s->pnsMode == 1 || o->energy[i] > 1.5f * o->threshold[i])) {
      mark = !allowed || allowed[k] == 1;
    }
    if (mark && !(o->jsFlags[i] & kJsLtp)) o->jsFlags[i] |= kJsPns;
  });
  if (s->pnsMode != 3) return;
  // Fill single holes between noise bands, then drop isolated ones.
  for (int pass = 0; pass < 2; ++pass)
    for (int g = 0; g < o->groups; ++g) {
      const int n = o->maxSfb;
      int* f = o->jsFlags + g * kPsyMaxBands;
      int before[kPsyMaxBands];
      for (int b = 0; b < n; ++b) before[b] = f[b] & kJsPns;
      for (int b = 0; b < n; ++b) {
        const bool left = b > 0 && before[b - 1], right = b + 1 < n && before[b + 1];
        const bool both = (b == 0 || left) && (b + 1 == n || right) && (left || right);
        const int k = slot(o, g, b);
        if (pass == 0 && !before[b] && s->measure[k] > 0.5f && both && !(f[b] & kJsLtp)) f[b] |= kJsPns;
        if (pass == 1 && before[b] && !left && !right) f[b] &= ~kJsPns;
      }
    }
}

void PnsPair(PsyOut* l, PsyOut* r, PnsState* sl, PnsState* sr, int* msMask) {
  for (int g = 0; g < l->groups; ++g)
    for (int b = 0; b < l->maxSfb; ++b) {
      const int i = band_index(l, g, b), k = slot(l, g, b);
      if (k >= kPnsBands) continue;
      if (msMask) msMask[i] &= ~kJsPnsCorrelated;
      int& fl = l->jsFlags[i];
      int& fr = r->jsFlags[i];
      const bool both = (fl & kJsPns) && (fr & kJsPns);
      const bool correlated = sl->correlation[k] > sl->corrThreshold;
      if (fl & kJsMs) {
        if (both) {
          fl &= ~kJsMs, fr &= ~kJsMs;
          if (msMask) msMask[i] &= ~kJsMs;
          if (correlated) {
            fl |= kJsPnsCorrelated;
            if (msMask) msMask[i] |= kJsPnsCorrelated;
          }
        } else {
          fl &= ~kJsPns, fr &= ~kJsPns;
        }
      } else if (fl & kJsIntensity) {
        fr &= ~kJsPns;
      } else if (both && correlated) {
        fl |= kJsPnsCorrelated;
        if (msMask) msMask[i] |= kJsPnsCorrelated;
      }
    }
  (void)sr;
}

void PnsSubstitute(PnsState* s, PsyOut* o, PnsPrevious* previous, int startBand) {
  if (previous && startBand == 0) std::memset(previous, 0, sizeof *previous);
  int last = kPnsNoValue;
  walk(o, [&](int b, int i, int k, int from, int width, int) {
    if (k >= kPnsBands || b >= o->maxSfb || !(o->jsFlags[i] & kJsPns)) return;
    const bool substitute = !previous || previous->substituted[k] || b >= startBand;
    if (!substitute) {
      o->jsFlags[i] &= ~kJsPns;
      previous->substituted[k] = 0;
      return;
    }
    const float e = s->energyPerWindow[k];
    int v = e > 0.0f ? int(2.0 * std::log2(double(e)) + 0.5) : 0;
    if (previous) {
      if (b < startBand && previous->value[k] == v) o->jsFlags[i] &= ~kJsPns;
      else previous->value[k] = v, previous->substituted[k] = 1;
    }
    // Neighbouring noise values differ by at most 60 (the code's range).
    if (last != kPnsNoValue) v = v < last - 60 ? last - 60 : v > last + 60 ? last + 60 : v;
    if (o->jsFlags[i] & kJsPns) last = v;
    s->value[k] = v;
    std::memset(o->spectrum + from, 0, sizeof(float) * size_t(width));
    o->energy[i] = 0.0f;
  });
}
