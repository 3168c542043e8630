// Mid/side decision by perceptual entropy and the M/S transforms.
#include "mp4aenc/ms_stereo.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/param.h"
#include "mp4aenc/scf_est.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/ms_stereo";

// Calls f(index, first line, width) for every coded band of every group.
template <class F>
void for_bands(const PsyOut* o, int from, F f) {
  int groupStart = 0, offset = 0;
  for (int g = 0; g < o->groups; ++g) {
    const int len = o->groupLength[g];
    offset = 0;
    for (int b = 0; b < o->bandsPerWindow; ++b) {
      if (b >= from && b < o->maxSfb) f(g * kPsyMaxBands + b, groupStart + len * offset, len * o->bandWidths[b]);
      offset += o->bandWidths[b];
    }
    groupStart += len * offset;
  }
}

float energy_of(const float* x, int n) {
  double e = 0.0;
  for (int i = 0; i < n; ++i) e += double(x[i]) * x[i];
  return float(e);
}

template <bool kForward>
void transform(const int* flags, int groups, const int* groupLength, int bands, int maxSfb, const int* offsets,
               float* a, float* b) {
  int groupStart = 0;
  for (int g = 0; g < groups; ++g) {
    const int len = groupLength[g];
    for (int s = 0; s < maxSfb; ++s) {
      if (!(flags[g * kPsyMaxBands + s] & kJsMs)) continue;
      for (int i = groupStart + len * offsets[s]; i < groupStart + len * offsets[s + 1]; ++i) {
        const float x = a[i], y = b[i];
        a[i] = kForward ? (x + y) * 0.5f : x + y;
        b[i] = kForward ? (x - y) * 0.5f : x - y;
      }
    }
    groupStart += len * offsets[bands];
  }
}

}  // namespace

ErrorRecord* MsStereoInit(MsState** out, int debugMode, int noMsMask) {
  *out = nullptr;
  auto* s = static_cast<MsState*>(std::calloc(1, sizeof(MsState)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  s->scale = 0.5f;
  s->msFac = 1.0f;
  s->debug = debugMode;
  s->maskFeature = !noMsMask;
  param_get_float_vector("msFac", 1, 0.0f, 10000.0f, "prefer MS  factor, bigger means more MS , default: 1 ",
                         nullptr, &s->msFac);
  param_get_flag("isms", "use MS for IS coded Sfbs", nullptr, &s->isms);
  *out = s;
  return nullptr;
}

ErrorRecord* MsStereoFree(MsState** handle) {
  if (!handle || !*handle) return error_create(kModule, __LINE__, nullptr, "tried to free a zero handle");
  std::free(*handle);
  *handle = nullptr;
  return nullptr;
}

float MsBandPe(const float* lines, int width, float threshold) {
  float pe = 0.0f;
  if (threshold > FLT_MIN && width > 0) pe_calc(lines, threshold, width, &pe);
  return pe;
}

void MsFillMidSide(const PsyOut* l, const PsyOut* r, PsyOut* mid, PsyOut* side) {
  for (int i = 0; i < 1024; ++i) {
    mid->spectrum[i] = (l->spectrum[i] + r->spectrum[i]) * 0.5f;
    side->spectrum[i] = (l->spectrum[i] - r->spectrum[i]) * 0.5f;
  }
  for_bands(l, 0, [&](int i, int start, int width) {
    // Band energies on the model's scale: the pair's ratio of model energy
    // to line energy carries over to mid and side.
    const float lines = energy_of(l->spectrum + start, width) + energy_of(r->spectrum + start, width);
    const float k = lines > 0.0f ? (l->energy[i] + r->energy[i]) / lines : 0.0f;
    const float eM = k * energy_of(mid->spectrum + start, width), eS = k * energy_of(side->spectrum + start, width);
    float t = l->threshold[i] < r->threshold[i] ? l->threshold[i] : r->threshold[i];
    const float lo = (eM < eS ? eM : eS) + FLT_MIN, hi = (eM < eS ? eS : eM) + FLT_MIN;
    if (lo - t > 0.0f) t *= std::sqrt(1.0f / (lo / hi + 1.0f));
    mid->energy[i] = eM;
    side->energy[i] = eS;
    mid->threshold[i] = side->threshold[i] = t;
  });
}

ErrorRecord* MsStereoDecide(MsState* s, PsyOut* left, PsyOut* right, const PsyOut* mid, const PsyOut* side,
                            int startBand) {
  if (!s || !left || !right || !mid || !side)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  const int stride = kPsyMaxBands;
  // 1. Bands below the start keep the last decision.
  for (int g = 0; g < left->groups; ++g)
    for (int b = 0; b < startBand && b < left->maxSfb; ++b) {
      left->jsFlags[g * stride + b] |= s->mask[g * stride + b];
      right->jsFlags[g * stride + b] |= s->mask[g * stride + b] & kJsMs;
    }
  // 2-4. The decision.
  float sumGain = 0.0f, sumLoss = 0.0f;
  int n = 0;
  for_bands(left, startBand, [&](int i, int start, int width) {
    ++n;
    bool ms = false;
    switch (s->debug) {
      case 1: ms = true; break;
      case 2: ms = (i % stride + (i / stride) * left->bandsPerWindow) % 2 == 1; break;
      default: {
        const float peL = MsBandPe(left->spectrum + start, width, left->threshold[i]);
        const float peR = MsBandPe(right->spectrum + start, width, right->threshold[i]);
        const float peM = MsBandPe(mid->spectrum + start, width, mid->threshold[i]);
        const float peS = MsBandPe(side->spectrum + start, width, side->threshold[i]);
        const float gain = (peL + peR) * s->msFac - peM - peS;
        ms = gain >= 0.0f;
        if (ms) sumGain += gain;
        else sumLoss -= gain;
      }
    }
    left->jsFlags[i] = ms ? left->jsFlags[i] | kJsMs : left->jsFlags[i] & ~kJsMs;
  });
  s->sumGain = sumGain, s->sumLoss = sumLoss;
  if (s->debug == 0 && s->maskFeature && n > 0) {
    int all = -1;
    if (sumLoss < 0.75f * float(n)) all = 1;
    else if (sumGain != 0.0f && sumGain < 0.75f * float(n)) all = 0;
    if (all >= 0)
      for_bands(left, startBand, [&](int i, int, int) {
        left->jsFlags[i] = all ? left->jsFlags[i] | kJsMs : left->jsFlags[i] & ~kJsMs;
      });
  }
  // 5-6. Intensity bands and the mask; the kept M/S bands take mid and side.
  for_bands(left, startBand, [&](int i, int start, int width) {
    int& f = left->jsFlags[i];
    if (s->isms && (f & kJsIntensity) && (f & kJsMs)) f |= kJsMsOnIntensity;
    else f &= ~kJsMsOnIntensity;
    if (f & kJsIntensity) f &= ~kJsMs;
    s->mask[i] = (s->mask[i] & ~(kJsMs | kJsMsOnIntensity)) | (f & (kJsMs | kJsMsOnIntensity));
    if ((s->mask[i] & kJsMs) && !(s->mask[i] & (kJsPnsCorrelated | kJsMsOnIntensity))) {
      std::memcpy(left->spectrum + start, mid->spectrum + start, sizeof(float) * size_t(width));
      std::memcpy(right->spectrum + start, side->spectrum + start, sizeof(float) * size_t(width));
      left->energy[i] = mid->energy[i], left->threshold[i] = mid->threshold[i];
      right->energy[i] = side->energy[i], right->threshold[i] = side->threshold[i];
    } else {
      f &= ~kJsMs;
    }
    right->jsFlags[i] = (right->jsFlags[i] & ~kJsMs) | (f & kJsMs);
  });
  return nullptr;
}

void MsForward(const int* flags, int groups, const int* groupLength, int bands, int maxSfb, const int* offsets,
               float* a, float* b) {
  transform<true>(flags, groups, groupLength, bands, maxSfb, offsets, a, b);
}

void MsInverse(const int* flags, int groups, const int* groupLength, int bands, int maxSfb, const int* offsets,
               float* a, float* b) {
  transform<false>(flags, groups, groupLength, bands, maxSfb, offsets, a, b);
}
