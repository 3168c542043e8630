// Intensity stereo: analysis, border decision and application per pair.
#include "mp4aenc/intensity.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/numutil.h"
#include "mp4aenc/param.h"
#include "mp4aenc/tool_params.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/intensity";

int slot(const PsyOut* o, int g, int b) { return g * o->bandsPerWindow + b; }

// Calls f(band, flag index, state slot, first line, width) for the bands
// from `from` to the coded top of every group (grouped line order).
template <class F>
void for_bands(const PsyOut* o, int from, F f) {
  psy_for_each_band(o, [&](int g, int b, int start, int width) {
    if (b >= from && b < o->maxSfb && slot(o, g, b) < kIsBands) f(b, g * kPsyMaxBands + b, slot(o, g, b), start, width);
  });
}

void reset_band(IsState* s, int k) {
  s->position[k] = kIsNoPosition;
  s->outOfPhase[k] = 0;
  s->isOn[k] = 0;
}

ErrorRecord* border_params(IsBorderParams* out, int mode, long pairBitrate, float sampleRate, int frameLength,
                           float isf, const int* offsets, int nBands) {
  IsParam p{};
  ErrorRecord* err = is_param_lookup(&p, mode, unsigned(pairBitrate), sampleRate);
  if (err) return err;
  const float meanBits = float(pairBitrate) * float(frameLength) / sampleRate;
  out->peAllowance = (meanBits - float(p.w0)) * p.w1;
  if (out->peAllowance < 0.0f) out->peAllowance = 0.0f;
  const float minFreq = isf < FLT_MAX ? isf : p.f0, defFreq = isf < FLT_MAX ? isf : p.f1;
  out->minBorder = freq_to_band_nearest(minFreq, sampleRate, nBands, offsets);
  out->defBorder = freq_to_band_nearest(defFreq, sampleRate, nBands, offsets);
  out->weight = p.w4;
  out->hysteresis = p.w5;
  out->peToBits = p.w1 > 0.0f ? 1.0f / p.w1 : 0.0f;
  return nullptr;
}

// The band entropy of lines against a threshold (0 without a threshold).
float band_pe(const float* lines, int width, float threshold) { return MsBandPe(lines, width, threshold); }

}  // namespace

ErrorRecord* IntensityInit(IsState** out, float sampleRate, long pairBitrate, int frameLength, const int* longOffsets,
                           int nLongBands, const int* shortOffsets, int nShortBands) {
  *out = nullptr;
  auto* s = static_cast<IsState*>(std::calloc(1, sizeof(IsState)));
  if (!s) return error_create(kModule, __LINE__, nullptr, "out of memory");
  for (int k = 0; k < kIsBands; ++k) {
    s->position[k] = kIsNoPosition;
    s->threshold[k] = 1.0f;
  }
  int isb = 0, ism1 = 0, ism2 = 0;
  float isf = FLT_MAX;
  param_get_int("isb", 0, 120, "Intensity border sfb", "Intensity coding will be applied starting with this sfb", &isb);
  param_get_int("ism1", 0, 2147483647, "Intensity mask for sfbs",
                "Intensity coding will be applied to sfbs from nIsStartSfb on if bitmask indicates it", &ism1);
  param_get_int("ism2", 0, 2147483647, "Intensity mask for sfbs",
                "Intensity coding will be applied to sfbs from nIsStartSfb on if bitmask indicates it", &ism2);
  param_get_float_vector("isf", 1, 0.0f, 24000.0f, "IS border frequency",
                         "IS will be applied on all scfb above this frequency", &isf);
  param_get_int("isMode", 0, 2, "IS evaluation mode", nullptr, &s->isMode);
  param_get_flag("iso", "IS out-of-phase detection", nullptr, &s->iso);
  param_get_flag("ict", "IS conformance test", nullptr, &s->ict);
  // The forced bands: ism1 from isb up, ism2 where ism1 ended.
  int band = isb;
  for (unsigned m = unsigned(ism1); m && band < kIsBands; m >>= 1, ++band) s->forced[band] = m & 1u;
  for (unsigned m = unsigned(ism2); m && band < kIsBands; m >>= 1, ++band) s->forced[band] = m & 1u;
  s->firstForced = kIsBands;
  for (int b = kIsBands - 1; b >= 0; --b)
    if (s->forced[b]) s->firstForced = b;
  ErrorRecord* err = border_params(&s->longBorder, 0, pairBitrate, sampleRate, frameLength, isf, longOffsets,
                                   nLongBands);
  if (!err)
    err = border_params(&s->shortBorder, 2, pairBitrate, sampleRate, frameLength, isf, shortOffsets, nShortBands);
  if (err) {
    std::free(s);
    return error_add_trace(kModule, __LINE__, "IntensityInit", err);
  }
  s->lastBorder = s->longBorder.defBorder;
  *out = s;
  return nullptr;
}

void IntensityFree(IsState* s) { std::free(s); }

const IsBorderParams* IntensityBorderParams(const IsState* s, int blockType) {
  return blockType == 2 ? &s->shortBorder : &s->longBorder;
}

void IntensityBlockSwitch(IsState* s, int blockType, int commonWindow) {
  if (s->prevBlockType == 1 || blockType == 3 || !commonWindow) {
    for (int k = 0; k < kIsBands; ++k) reset_band(s, k);
    s->sameCount = 0;
  }
  if (s->prevBlockType == 1) s->lastBorder = s->shortBorder.defBorder;
  if (blockType == 3) s->lastBorder = s->longBorder.defBorder;
  s->prevBlockType = blockType;
}

void IntensityAnalyse(IsState* s, int nLines, const float* const* ls, const float* const* rs, const PsyOut* left,
                      const PsyOut* right, const IsBorderParams* border) {
  std::memset(s->spectrum, 0, sizeof s->spectrum);
  const int first = s->firstForced < border->minBorder ? s->firstForced : border->minBorder;
  int w0 = 0, groupStart = 0;
  for (int g = 0; g < left->groups; ++g) {
    const int len = left->groupLength[g];
    int offset = 0;
    for (int b = 0; b < left->bandsPerWindow; ++b) {
      const int width = left->bandWidths[b], k = slot(left, g, b), i = g * kPsyMaxBands + b;
      const int start = groupStart + len * offset, lines = len * width;
      offset += width;
      if (b < first || b >= left->maxSfb || k >= kIsBands) continue;
      // 1. Energies of the analysis spectra over the group's windows.
      double eL = 0.0, eR = 0.0, eS = 0.0;
      for (int w = w0; w < w0 + len; ++w)
        for (int j = offset - width; j < offset && j < nLines; ++j) {
          const float lr = ls[w][2 * j], li = ls[w][2 * j + 1], rr = rs[w][2 * j], ri = rs[w][2 * j + 1];
          eL += double(lr) * lr + double(li) * li;
          eR += double(rr) * rr + double(ri) * ri;
          eS += double(lr + rr) * (lr + rr) + double(li + ri) * (li + ri);
        }
      // 2. Position by the energy ratio.
      int pos = int(std::lround(2.0 * std::log2((eL + 0.001) / (eR + 0.001))));
      pos = pos < -30 ? -30 : pos > 30 ? 30 : pos;
      s->position[k] = pos;
      // 3. Phase: the sum much weaker than the difference.
      int outOfPhase = 0;
      if (s->iso) {
        const double c = (eS + 0.001) / (2.0 * (eL + eR) - eS + 0.001);
        if (s->isOn[k]) outOfPhase = s->outOfPhase[k] ? !(c > 4.0) : c < 0.25;
        else outOfPhase = c < 0.25;
      }
      if (s->ict) {
        if (++s->ictCounter > 10000) s->ictCounter = 10;
        outOfPhase = s->ictCounter % 5 != 0;
      }
      s->outOfPhase[k] = outOfPhase;
      // 4. Gain that gives the left channel its own energy back.
      if (outOfPhase) eS = eL;
      const double sc = std::exp2(double(pos) / 2.0);
      const double gain = sc > 1.0 ? std::sqrt(eL / (eS + FLT_MIN)) : std::sqrt(sc * eR / (eS + FLT_MIN));
      s->gain[k] = float(gain);
      // 5. The intensity spectrum from the MDCT lines.
      double lineEnergy = 0.0, pairLines = 0.0;
      for (int j = start; j < start + lines; ++j) {
        const float x = outOfPhase ? left->spectrum[j] : left->spectrum[j] + right->spectrum[j];
        s->spectrum[j] = float(gain * x);
        lineEnergy += double(s->spectrum[j]) * s->spectrum[j];
        pairLines += double(left->spectrum[j]) * left->spectrum[j] + double(right->spectrum[j]) * right->spectrum[j];
      }
      // Energies and thresholds are on the model's scale: the pair's ratio
      // of model energy to line energy carries over.
      const double scale = pairLines > 0.0 ? (double(left->energy[i]) + right->energy[i]) / pairLines : 1.0;
      s->energy[k] = float(lineEnergy * scale);
      // 6. Threshold: the stricter of the two channels' ratios.
      const float rl = left->threshold[i] / (left->energy[i] + FLT_MIN);
      const float rr = right->threshold[i] / (right->energy[i] + FLT_MIN);
      s->threshold[k] = s->energy[k] * (rl < rr ? rl : rr);
      if (s->threshold[k] <= 0.0f) s->threshold[k] = 1.0f;
      s->peLeft[k] = band_pe(left->spectrum + start, lines, left->threshold[i]);
      s->peRight[k] = band_pe(right->spectrum + start, lines, right->threshold[i]);
    }
    w0 += len;
    groupStart += len * offset;
  }
}

ErrorRecord* IntensityBorder(IsState* s, const float* peL, const float* peR, const PsyOut* left,
                             const IsBorderParams* bp, float loadPe, float workload, float* bitSave) {
  if (s->isMode < 0 || s->isMode > 2) return error_create(kModule, __LINE__, nullptr, "unknown IS evaluation method");
  s->bitSave = 0.0f;
  // Every band already mid/side: no intensity.
  bool allMs = true;
  for_bands(left, 0, [&](int, int i, int, int, int) { allMs = allMs && (left->jsFlags[i] & kJsMs); });
  const int top = left->maxSfb;  // bands below it are coded
  float save[kPsyMaxBands] = {};
  int groupStart = 0;
  for (int g = 0; g < left->groups; ++g) {
    int border = top, regionEnd = top;
    if (!allMs && bp->minBorder < top) {
      // 1. What coding each band as intensity saves.
      int offset = 0;
      for (int b = 0; b < top; ++b) {
        const int width = left->groupLength[g] * left->bandWidths[b], k = slot(left, g, b);
        save[b] = 0.0f;
        if (b >= bp->minBorder && k < kIsBands) {
          s->pe[k] = band_pe(s->spectrum + groupStart + offset, width, s->threshold[k]);
          save[b] = peL[k] + peR[k] - s->pe[k];
        }
        offset += width;
      }
      const float groups = float(left->groups);
      if (s->isMode == 2) {
        // 4. A region of bands that save; none below a total of 10.
        int high = -1;
        for (int b = top - 1; b >= bp->minBorder && high < 0; --b)
          if (save[b] >= 5.0f) high = b;
        if (high >= 0) {
          regionEnd = high == top - 2 ? top : high + 1;
          int start = regionEnd, since = 0;
          float acc = 0.0f, total = 0.0f;
          for (int b = regionEnd - 1; b >= bp->minBorder; --b) {
            acc += save[b];
            ++since;
            if (acc > 5.0f * float(since)) {
              start = b;
              total += acc;
              acc = 0.0f;
              since = 0;
            }
          }
          border = start;
          if (total < 10.0f) border = regionEnd = top;
          else s->bitSave += total * bp->peToBits;
        }
      } else {
        if (s->isMode == 0) {
          // 2. The entropy the group asks for against what the frame allows.
          float requPe = 0.0f;
          for (int b = 0; b < top; ++b) {
            const int k = slot(left, g, b);
            if (k < kIsBands) requPe += peL[k] + peR[k];
          }
          float corr = requPe - (loadPe - 0.5f) * 300.0f / groups;
          const float avail = bp->peAllowance / groups;
          if (corr > avail && avail > 0.0f) {
            corr = avail * (1.0f + std::atan((corr - avail) / avail) * bp->weight);
            int b = top - 1;
            for (; b > bp->minBorder; --b) {
              corr -= save[b];
              if (corr <= avail) break;
            }
            border = b;
          }
          if (border > bp->defBorder) border = bp->defBorder;
          const int moved = border > s->lastBorder ? border - s->lastBorder : s->lastBorder - border;
          if (moved <= bp->hysteresis && s->sameCount < 5) border = s->lastBorder;
        } else {
          // 3. By the workload alone.
          border = bp->defBorder - int(std::lround(float(bp->defBorder - bp->minBorder) * workload));
        }
        if (border < bp->minBorder) border = bp->minBorder;
        if (border > top) border = top;
        // 6. One channel nearly silent above the border: not below the default.
        float pL = 0.0f, pR = 0.0f, saving = 0.0f;
        for (int b = border; b < top; ++b) {
          const int k = slot(left, g, b);
          if (k < kIsBands) pL += peL[k], pR += peR[k];
        }
        const float ratio = pR / (pL + 0.001f) < pL / (pR + 0.001f) ? pR / (pL + 0.001f) : pL / (pR + 0.001f);
        if (ratio < 0.1f && border < bp->defBorder) border = bp->defBorder < top ? bp->defBorder : top;
        for (int b = border; b < top; ++b) saving += save[b];
        if (saving < 5.0f * float(top - border)) border = top;
        if (border == s->lastBorder) ++s->sameCount;
        else s->sameCount = 0;
        s->lastBorder = border;
        if (border < top) s->bitSave += saving * bp->peToBits;
      }
    }
    // 7. The bands from the border to the region's end, and the forced ones
    // (unless every band is mid/side).
    for (int b = 0; b < left->bandsPerWindow; ++b) {
      const int k = slot(left, g, b);
      if (k >= kIsBands) continue;
      const bool coded = b < top && s->position[k] != kIsNoPosition;
      s->isOn[k] = coded && ((b >= border && b < regionEnd) || (s->forced[b] && !allMs));
    }
    for (int b = 0; b < left->bandsPerWindow; ++b) groupStart += left->groupLength[g] * left->bandWidths[b];
  }
  if (bitSave) *bitSave += s->bitSave;
  return nullptr;
}

void IntensityApply(IsState* s, PsyOut* left, PsyOut* right, MsState* ms) {
  bool seen[kIsBands] = {};
  for_bands(left, 0, [&](int, int i, int k, int start, int width) {
    seen[k] = true;
    if (s->isOn[k]) {
      // No prediction either: a decoder would add it to a spectrum the
      // prediction was not taken from.
      left->jsFlags[i] = (left->jsFlags[i] | kJsIntensity) & ~(kJsMs | kJsCleared | kJsLtp);
      right->jsFlags[i] = (right->jsFlags[i] | kJsIntensity) & ~(kJsMs | kJsCleared | kJsLtp);
      std::memcpy(left->spectrum + start, s->spectrum + start, sizeof(float) * size_t(width));
      std::memset(right->spectrum + start, 0, sizeof(float) * size_t(width));
      left->energy[i] = s->energy[k];
      left->threshold[i] = s->threshold[k];
      right->energy[i] = 0.0f;
      right->threshold[i] = 1.0f;
      return;
    }
    // Not intensity: its mid/side (if any) stands as decided; a mark for
    // mid/side on an intensity band has nothing to apply to.
    if (ms) ms->mask[i] &= ~kJsMsOnIntensity;
    left->jsFlags[i] &= ~(kJsIntensity | kJsMsOnIntensity);
    right->jsFlags[i] &= ~(kJsIntensity | kJsMsOnIntensity);
    reset_band(s, k);
  });
  for (int k = 0; k < kIsBands; ++k)
    if (!seen[k]) reset_band(s, k);
}
