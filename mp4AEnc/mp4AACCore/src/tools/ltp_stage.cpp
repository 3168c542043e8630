// Long-term prediction and the predictor stub on the core's stage table:
// the per-channel analysis on the model's record, the frame's flags for
// the writer and the internal decoder, and the history they keep.
#include <cstdlib>
#include <cstring>

#include "mp4aenc/loops.h"
#include "mp4aenc/lt_pred.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/prediction.h"
#include "mp4aenc/tool_stages.h"
#include "mp4aenc/toolmain.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/ltp_stage";

ErrorRecord* ltp_create(void** s, const AacToolContext* ctx) {
  const AudioObject object = {1, ctx->core->objectType};
  LtpState* st = nullptr;
  // One lag per frame, no resets, unless the settings say otherwise.
  ErrorRecord* err = LtpInit(&st, ctx->core->frameLength, 1, 0, &object);
  if (err) return error_add_trace(kModule, __LINE__, "ltp_create", err);
  *s = st;
  return nullptr;
}

ErrorRecord* ltp_frame(void* s, const AacToolContext* ctx) {
  auto* st = static_cast<LtpState*>(s);
  PsyMain* psy = aac_inner_psy(ctx->core);
  PsyChan& c = psy->chan[ctx->channel];
  PsyOut& o = c.out;
  ErrorRecord* err =
      LtpFrame(st, c.tns, c.ring, o.window ? o.window->coefficients : nullptr, o.bandsPerWindow, o.bandWidths,
               o.threshold, o.spectrum, nullptr, o.blockType, psy->frameLength, psy->nShort, nullptr);
  if (err) return error_add_trace(kModule, __LINE__, "ltp_frame", err);
  if (!st->info.dataPresent) return nullptr;
  // The used bands carry the residual. The model's energies stay those of
  // the signal: the loops code the residual as finely as they would have
  // coded the band, so what prediction saves becomes precision.
  for (int b = 0; b < st->info.numBands; ++b)
    if (st->info.used[b]) o.jsFlags[b] |= kJsLtp;
  return nullptr;
}

// After the frame is written: the frame's slot of the band-flag history.
ErrorRecord* ltp_update(void* s, const AacToolContext* ctx) {
  auto* st = static_cast<LtpState*>(s);
  const AacChannelResult* r = aac_inner_result(ctx->core, ctx->channel);
  if (!r) return nullptr;
  int* slot = st->flagHistory[0];
  std::memset(slot, 0, sizeof st->flagHistory[0]);
  if (r->blockType != 2) {
    for (int b = 0; b < r->maxSfb && b < kLtpFlagBands; ++b) slot[b] = aac_band_not_predictable(r, 0, b);
    return nullptr;
  }
  // Short windows: a long band is marked where a marked short band's lines
  // (eight long lines each) reach into it.
  const SfbParamSet& longBands = *aac_inner_psy(ctx->core)->conf->longParam->sfb;
  for (int g = 0; g < r->groups; ++g)
    for (int sb = 0; sb < r->maxSfb; ++sb) {
      if (!aac_band_not_predictable(r, g, sb)) continue;
      const int lo = 8 * r->bandOffset[sb], hi = 8 * r->bandOffset[sb + 1];
      for (int b = 0; b < longBands.numBands && b < kLtpFlagBands; ++b)
        if (longBands.offsets[b] < hi && longBands.offsets[b + 1] > lo) slot[b] = 1;
    }
  return nullptr;
}

void ltp_free(void* s) {
  LtpFree(static_cast<LtpState*>(s));
}

ErrorRecord* pred_create(void** s, const AacToolContext* ctx) {
  const AacToolControl* c = ctx->control;
  return PredictionInit(s, ctx->core->samplingIndex, c ? c->predDelay : 8);
}
ErrorRecord* pred_frame(void* s, const AacToolContext* ctx) {
  return PredictionFrame(s, &aac_inner_psy(ctx->core)->chan[ctx->channel].out);
}
void pred_free(void*) {}

LtpState* ltp_of(const AacCore* core, int channel) {
  if (!core || !core->tools || core->stages->ltp.create != ltp_create) return nullptr;
  for (int e = 0; e < core->tools->elementCount; ++e) {
    const AacToolElement& el = core->tools->elements[e];
    if (el.element.first == channel) return static_cast<LtpState*>(el.ltp[0]);
    if (el.element.kind == kAacPair && el.element.second == channel) return static_cast<LtpState*>(el.ltp[1]);
  }
  return nullptr;
}

}  // namespace

const AacToolStage kAacLtpStage = {ltp_create, ltp_frame, ltp_update, ltp_free};
const AacToolStage kAacPredStage = {pred_create, pred_frame, nullptr, pred_free};

bool aac_band_not_predictable(const AacChannelResult* r, int g, int b) {
  const int i = g * kPsyMaxBands + b;
  return r->book[i] > 11 || (r->jsFlags[i] & (kJsPns | kJsIntensity)) != 0;
}

const LtpSideInfo* aac_ltp_finalise(const AacCore* core, int channel, AacChannelResult* r) {
  LtpState* st = ltp_of(core, channel);
  if (!st) return nullptr;
  LtpSideInfo& info = st->info;
  int any = 0;
  for (int b = 0; b < info.numBands; ++b) {
    if (b >= r->maxSfb || aac_band_not_predictable(r, 0, b)) info.used[b] = 0;
    if (info.used[b])
      r->jsFlags[b] |= kJsLtp;
    else
      r->jsFlags[b] &= ~kJsLtp;
    any |= info.used[b];
  }
  if (!any) info.dataPresent = 0;
  return &info;
}

long aac_ltp_side_bits(const AacCore* core, int channel) {
  const LtpState* st = ltp_of(core, channel);
  return st ? 1 + (st->info.dataPresent ? st->info.sideBits : 0) : 0;
}

void aac_ltp_add_prediction(const AacCore* core, int channel, float* spectrum) {
  const LtpState* st = ltp_of(core, channel);
  const PsyOut& o = aac_inner_psy(const_cast<AacCore*>(core))->chan[channel].out;
  if (st && o.blockType != 2) LtpAddPrediction(st, spectrum, o.bandWidths);
}

void aac_ltp_update_history(const AacCore* core, int channel, const float* full, const float* overlap) {
  if (LtpState* st = ltp_of(core, channel)) LtpUpdateHistory(st, full, overlap);
}
