// Scalable difference control: its set-up by sample rate and the per-band
// choice between the full spectrum and the difference to the layer below.
// It serves only the layered coder of object type 6.
#include <cfloat>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/band_reduce.h"
#include "mp4aenc/param.h"
#include "mp4aenc/scf_est.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/diffctrl";

struct Row {
  long rate;
  int units, value2, value3;
  int units6, value2of6, value3of6;  // core type 6; 0: no row
};
const Row kRows[] = {
    {96000, 4, 8, 2, 6, 20, 5},    {88200, 4, 8, 2, 6, 20, 5},    {64000, 5, 13, 4, 6, 24, 6},
    {48000, 5, 18, 5, 7, 36, 7},   {44100, 5, 18, 5, 7, 36, 7},   {32000, 6, 26, 6, 8, 60, 9},
    {24000, 8, 36, 8, 10, 76, 12}, {22050, 8, 36, 8, 10, 76, 12}, {16000, 8, 54, 11, 10, 120, 15},
    {12000, 10, 104, 14, 0, 0, 0}, {11025, 10, 104, 14, 0, 0, 0}, {8000, 9, 104, 14, 0, 0, 0},
};

}  // namespace

bool diff_ctrl_table(long sampleRate, int coreType, int* units, int* value2, int* value3) {
  for (const Row& r : kRows) {
    if (r.rate != sampleRate) continue;
    if (coreType == 6) {
      if (!r.units6) return false;
      *units = r.units6, *value2 = r.value2of6, *value3 = r.value3of6;
    } else {
      *units = r.units, *value2 = r.value2, *value3 = r.value3;
    }
    return true;
  }
  return false;
}

ErrorRecord* DiffCtrlInit(DiffCtrlState** out, int /*value*/, int coreType, long sampleRate, int frameLength,
                          int monoLayer) {
  *out = nullptr;
  int units = 0, v2 = 0, v3 = 0;
  if (!diff_ctrl_table(sampleRate, coreType, &units, &v2, &v3))
    return error_create(kModule, __LINE__, nullptr, "unsupported diff control sample rate");
  auto* s = static_cast<DiffCtrlState*>(std::calloc(1, sizeof(DiffCtrlState)));
  if (s) {
    s->core = static_cast<float*>(std::calloc(size_t(frameLength), sizeof(float)));
    s->work = static_cast<float*>(std::calloc(size_t(frameLength), sizeof(float)));
    if (monoLayer) s->mono = static_cast<float*>(std::calloc(size_t(frameLength), sizeof(float)));
  }
  if (!s || !s->core || !s->work || (monoLayer && !s->mono)) {
    DiffCtrlFree(s);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  s->frameLength = frameLength;
  for (int& f : s->flags) f = 1;
  // The mono-layer mode works in units of four bands, each marked (1, 1).
  s->units = monoLayer ? 4 * units : units;
  s->unitValue2 = v2, s->unitValue3 = v3;
  for (int u = 0; u < s->units && u < 40; ++u) s->unitMark[2 * u] = 1, s->unitMark[2 * u + 1] = monoLayer ? 1 : 2;
  param_get_int("DiffCtrlLo", 0, 2, "0 PE controlled (def.)  1 All Flags on (=simulcast) 2 All Flags off ; for long blocks",
                nullptr, &s->modeLong);
  param_get_int("DiffCtrlSh", 0, 2,
                "0 PE controlled (def.)  1 All Flags on (=simulcast) 2 All Flags off ; for short blocks", nullptr,
                &s->modeShort);
  *out = s;
  return nullptr;
}

void DiffCtrlFree(DiffCtrlState* s) {
  if (!s) return;
  std::free(s->core);
  std::free(s->work);
  std::free(s->mono);
  std::free(s);
}

namespace {

// Calls f(group, band, flag index, first line, width) for the bands of
// every group below `to`.
template <class F>
void for_bands(const PsyOut* o, int to, F f) {
  psy_for_each_band(o, [&](int g, int b, int start, int width) {
    if (b < to) f(g, b, g * kPsyMaxBands + b, start, width);
  });
}

float band_pe(const float* lines, int width, float threshold) {
  float pe = 0.0f;
  if (threshold > FLT_MIN && width > 0) pe_calc(lines, threshold, width, &pe);
  return pe;
}

}  // namespace

void DiffCtrlPrepare(DiffCtrlState* s, PsyOut* channel, int clearCore, int nBands, int n) {
  if (clearCore) {
    std::memset(s->core, 0, sizeof(float) * size_t(s->frameLength));
    return;
  }
  const int lines = n < s->frameLength ? n : s->frameLength;
  for_bands(channel, nBands, [&](int, int, int, int start, int width) {
    for (int k = start; k < start + width && k < lines; ++k) channel->spectrum[k] -= s->core[k];
  });
}

void DiffCtrlAddCore(DiffCtrlState* s, const float* spectrum, const PsyOut* channel) {
  for_bands(channel, channel->maxSfb, [&](int, int, int, int start, int width) {
    for (int k = start; k < start + width && k < s->frameLength; ++k) s->core[k] += spectrum[k];
  });
}

namespace {

// The decision over units of `unit` bands (0: a whole group), from
// startBand to the coded top within the region; flag 1 codes the full
// spectrum, 0 the difference to the layer below.
void decide(DiffCtrlState* s, PsyOut* channel, float* mono, int startBand, int unit, bool keepFlags) {
  const bool isShort = channel->blockType == 2;
  const int mode = isShort ? s->modeShort : s->modeLong;
  int top = channel->maxSfb < s->unitValue2 ? channel->maxSfb : s->unitValue2;
  if (top > channel->bandsPerWindow) top = channel->bandsPerWindow;
  float origPe[8 * kPsyMaxBands] = {}, diffPe[8 * kPsyMaxBands] = {};
  // 1. The difference and both entropies per band.
  for_bands(channel, top, [&](int, int b, int i, int start, int width) {
    if (b < startBand) return;
    for (int k = start; k < start + width; ++k) s->work[k] = channel->spectrum[k] - s->core[k];
    origPe[i] = band_pe(channel->spectrum + start, width, channel->threshold[i]);
    diffPe[i] = band_pe(s->work + start, width, channel->threshold[i]);
  });
  // 2-3. Flags per unit: the difference when it needs less entropy.
  const int stride = channel->bandsPerWindow;
  for (int g = 0; g < channel->groups && !keepFlags; ++g)
    for (int b = startBand; b < stride && g * stride + b < 120;) {
      const int end = b >= top ? b + 1 : unit ? (b + unit < top ? b + unit : top) : top;
      float sumOrig = 0.0f, sumDiff = 0.0f;
      for (int u = b; u < end; ++u) sumOrig += origPe[g * kPsyMaxBands + u], sumDiff += diffPe[g * kPsyMaxBands + u];
      const int flag = b >= top || mode == 1 ? 1 : mode == 2 ? 0 : sumDiff >= sumOrig ? 1 : 0;
      for (int u = b; u < end && g * stride + u < 120; ++u) s->flags[g * stride + u] = flag;
      b = end;
    }
  // 4-5. The coded spectrum, the mono-layer spectrum and the marks.
  for_bands(channel, stride, [&](int g, int b, int i, int start, int width) {
    const int k = g * stride + b;
    if (k >= 120) return;
    const int flag = b >= startBand && b < top ? s->flags[k] : 1;
    if (b >= channel->maxSfb) std::memset(channel->spectrum + start, 0, sizeof(float) * size_t(width));
    if (flag) {
      if (mono) std::memset(mono + start, 0, sizeof(float) * size_t(width));
    } else {
      std::memcpy(channel->spectrum + start, s->work + start, sizeof(float) * size_t(width));
      if (mono) std::memcpy(mono + start, s->core + start, sizeof(float) * size_t(width));
    }
    s->pe[k] = flag ? origPe[i] : diffPe[i];
    s->bandMark[2 * k] = flag;
    s->bandMark[2 * k + 1] = 1;
  });
}

}  // namespace

void DiffCtrlDecide(DiffCtrlState* s, PsyOut* channel, float* mono, int startBand, int notFirstLayer) {
  const bool isShort = channel->blockType == 2;
  decide(s, channel, mono, startBand, isShort ? 0 : 1, isShort && notFirstLayer);
}

void DiffCtrlDecideMono(DiffCtrlState* s, PsyOut* channel, int nBands, int coreKind) {
  // Without a core below, every band is coded in full.
  if (!coreKind) std::memset(s->core, 0, sizeof(float) * size_t(s->frameLength));
  const int keep = s->unitValue2;
  s->unitValue2 = nBands < keep ? nBands : keep;
  decide(s, channel, s->mono, 0, 4, false);
  s->unitValue2 = keep;
}
