// Super starving: from a start band up, each band keeps only its strongest
// adjacent line pairs; its energy follows what is left.
#include <cmath>
#include <cstring>

#include "mp4aenc/band_reduce.h"
#include "mp4aenc/numutil.h"
#include "mp4aenc/param.h"

namespace {
const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/superstarv";

void defaults(SuperStarvState* s) {
  std::memset(s, 0, sizeof *s);
  s->minSfb = s->minSfbShort = 200;
  s->numLin = s->numLinShort = 32;
}

}  // namespace

// The picks of one band: min(keep, width - 1) lines, taken as adjacent
// pairs (a pair of lines neither of which is taken), the strongest pair
// first; a pick that finds no free pair takes line 0. With removeBelow a
// picked line is kept only when its energy reaches the threshold. Answers
// the picks made.
int superstarv_band(const float* x, int width, int keep, float threshold, int removeBelow, unsigned char* chosen) {
  unsigned char taken[1024] = {0};
  const int want = keep < width - 1 ? keep : width - 1;
  int picks = 0;
  for (int count = 0; count < want; count += 2, ++picks) {
    int best = -1;
    float bestSum = -1.0f;
    for (int i = 0; i + 1 < width; ++i) {
      if (taken[i] || taken[i + 1]) continue;
      const float sum = std::fabs(x[i]) + std::fabs(x[i + 1]);
      if (sum > bestSum) bestSum = sum, best = i;
    }
    const int lines = best < 0 ? 1 : 2;
    if (best < 0) best = 0;
    for (int i = best; i < best + lines; ++i) {
      taken[i] = 1;
      if (!removeBelow || x[i] * x[i] >= threshold) chosen[i] = 1;
    }
  }
  return picks;
}

ErrorRecord* SuperStarvInit(SuperStarvState* s, float sampleRate, int nLong, const int* longOffsets, int nShort,
                            const int* shortOffsets) {
  defaults(s);
  param_get_int("sst-minSfb", 0, 50, "super starving min sfb", nullptr, &s->minSfb);
  param_get_float("sst-minFreqLong", 0.0f, 48000.0f, "lower start frequency for super starving(Long blocks)", nullptr,
                  &s->minFreqLong);
  if (s->minFreqLong != 0.0f) s->minSfb = freq_to_band_nearest(s->minFreqLong, sampleRate, nLong, longOffsets);
  param_get_int("sst-minSfbSh", 0, 50, "super starving min sfb", nullptr, &s->minSfbShort);
  param_get_float("sst-minFreqShort", 0.0f, 48000.0f, "lower start frequency for super starving(short blocks)",
                  nullptr, &s->minFreqShort);
  if (s->minFreqShort != 0.0f)
    s->minSfbShort = freq_to_band_nearest(s->minFreqShort, sampleRate, nShort, shortOffsets);
  param_get_int("sst-numLin", 0, 50, "super starving number of remaining lines", nullptr, &s->numLin);
  param_get_int("sst-numLinSh", 0, 50, "super starving number of remaining lines", nullptr, &s->numLinShort);
  param_get_flag("sst-removeEnBelowThres", "remove all Energy values below thresholds", nullptr,
                 &s->removeEnBelowThres);
  s->enabled = s->minSfb != 200 || s->minSfbShort != 200;
  if (s->numLin % 2 || s->numLinShort % 2) {
    defaults(s);
    return error_create(kModule, __LINE__, nullptr,
                        "wrong parameter for sst-numLin or sst-numLinSh: Disabling superstarving !!!");
  }
  return nullptr;
}

void SuperStarvFrame(SuperStarvState* s, PsyOut* first, PsyOut* second, int shareLines) {
  if (!s->enabled) return;
  PsyOut* records[2] = {first, second};
  for (int r = 0; r < 2; ++r) {
    PsyOut* o = records[r];
    if (!o) continue;
    const bool isShort = o->blockType == 2;
    const int start = isShort ? s->minSfbShort : s->minSfb;
    if (r == 0 || !shareLines) std::memset(s->chosen, 0, sizeof s->chosen);
    int groupStart = 0;
    for (int g = 0; g < o->groups; ++g) {
      const int len = o->groupLength[g];
      int offset = 0;
      for (int b = 0; b < o->bandsPerWindow; ++b) {
        const int from = groupStart + len * offset, width = len * o->bandWidths[b];
        offset += o->bandWidths[b];
        if (b < start || b >= o->maxSfb) continue;
        float* x = o->spectrum + from;
        unsigned char* chosen = s->chosen + from;
        const int i = g * kPsyMaxBands + b;
        if (r == 0 || !shareLines)
          superstarv_band(x, width, isShort ? s->numLinShort * len : s->numLin, o->threshold[i],
                          s->removeEnBelowThres, chosen);
        double e0 = 0.0, e1 = 0.0;
        for (int k = 0; k < width; ++k) {
          e0 += double(x[k]) * x[k];
          if (!chosen[k]) x[k] = 0.0f;
          e1 += double(x[k]) * x[k];
        }
        if (e0 != 0.0) o->energy[i] = float(o->energy[i] * (e1 / e0));
      }
      groupStart += len * offset;
    }
  }
}
