// The coding tools' stages: mid/side, intensity, noise substitution,
// loudness cut and super starving on the model's records, in the order the
// tool driver calls them.
#include "mp4aenc/tool_stages.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/band_reduce.h"
#include "mp4aenc/intensity.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/pns.h"
#include "mp4aenc/scf_est.h"
#include "mp4aenc/thr_blocks.h"
#include "mp4aenc/toolmain.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/tool_stages";

const AacChannelElement& element_of(const AacToolContext* ctx) { return ctx->core->map->elements[ctx->element]; }

// The channel's entropy over its groups and bands, as the tool control sums it.
void resum_pe(AacCore* core, int channel, const PsyOut& o) {
  if (!core->tools) return;
  float pe = 0.0f;
  for (int g = 0; g < o.groups; ++g)
    for (int b = 0; b < o.bandsPerWindow; ++b) {
      float bandPe = 0.0f;
      core->stages->band_pe(o.energy[g * kPsyMaxBands + b], o.threshold[g * kPsyMaxBands + b], o.bandWidths[b],
                            &bandPe);
      pe += bandPe;
    }
  core->tools->pe[channel] = pe;
}

// Mid/side: decided on the pair's records before the loops quantise them.
struct MsStage {
  MsState* ms;
  PsyOut mid, side;
};

ErrorRecord* ms_create(void** s, const AacToolContext* ctx) {
  auto* st = static_cast<MsStage*>(std::calloc(1, sizeof(MsStage)));
  if (!st) return error_create(kModule, __LINE__, nullptr, "out of memory");
  const AacToolControl* c = ctx->control;
  ErrorRecord* err = MsStereoInit(&st->ms, c ? c->msDebug : 0, c ? c->noMsMask : 0);
  if (err) {
    std::free(st);
    return error_add_trace(kModule, __LINE__, "ms_create", err);
  }
  *s = st;
  return nullptr;
}

ErrorRecord* ms_frame(void* s, const AacToolContext* ctx) {
  auto* st = static_cast<MsStage*>(s);
  PsyMain* psy = aac_inner_psy(ctx->core);
  const AacChannelElement& el = element_of(ctx);
  PsyOut& l = psy->chan[el.first].out;
  PsyOut& r = psy->chan[el.second].out;
  if (!l.commonWindow || !r.commonWindow) return nullptr;
  st->mid = l;
  st->side = r;
  MsFillMidSide(&l, &r, &st->mid, &st->side);
  ErrorRecord* err = MsStereoDecide(st->ms, &l, &r, &st->mid, &st->side, 0);
  if (err) return error_add_trace(kModule, __LINE__, "ms_frame", err);
  resum_pe(ctx->core, el.first, l);
  resum_pe(ctx->core, el.second, r);
  return nullptr;
}

void ms_free(void* s) {
  auto* st = static_cast<MsStage*>(s);
  MsStereoFree(&st->ms);
  std::free(st);
}

// Intensity: phase 0 keeps the block types and analyses the pair as left
// and right; phase 1, after mid/side, decides the border and applies it.
ErrorRecord* is_create(void** s, const AacToolContext* ctx) {
  PsyMain* psy = aac_inner_psy(ctx->core);
  const SfbParamSet& l = *psy->conf->longParam->sfb;
  const SfbParamSet& sh = *psy->conf->shortParam->sfb;
  const long pairBitrate = ctx->core->bitrate * 2 / (ctx->core->channels > 0 ? ctx->core->channels : 1);
  IsState* st = nullptr;
  ErrorRecord* err = IntensityInit(&st, float(ctx->core->sampleRate), pairBitrate, ctx->core->frameLength, l.offsets,
                                   l.numBands, sh.offsets, sh.numBands);
  if (err) return error_add_trace(kModule, __LINE__, "is_create", err);
  *s = st;
  return nullptr;
}

ErrorRecord* is_frame(void* s, const AacToolContext* ctx) {
  auto* st = static_cast<IsState*>(s);
  PsyMain* psy = aac_inner_psy(ctx->core);
  const AacChannelElement& el = element_of(ctx);
  PsyChan& lc = psy->chan[el.first];
  PsyChan& rc = psy->chan[el.second];
  PsyOut& l = lc.out;
  PsyOut& r = rc.out;
  const bool common = l.commonWindow && r.commonWindow;
  const IsBorderParams* border = IntensityBorderParams(st, l.blockType);
  if (ctx->phase == 0) {
    IntensityBlockSwitch(st, l.blockType, common);
    if (!common || !lc.longSpectra || !rc.longSpectra) return nullptr;
    const float* ls[8] = {};
    const float* rs[8] = {};
    const int n = psy->nShort;
    int lines = psy->frameLength;
    if (l.blockType == 2) {
      lines /= n;
      for (int w = 0; w < n && w < 8; ++w) {
        // The coded frame's short windows, as the model reads them.
        ls[w] = fifo_get(lc.shortSpectra, n / 2 + 2 * n - 1 - w);
        rs[w] = fifo_get(rc.shortSpectra, n / 2 + 2 * n - 1 - w);
        if (!ls[w] || !rs[w]) return nullptr;
      }
    } else {
      ls[0] = fifo_get(lc.longSpectra, 0);
      rs[0] = fifo_get(rc.longSpectra, 0);
      if (!ls[0] || !rs[0]) return nullptr;
    }
    IntensityAnalyse(st, lines, ls, rs, &l, &r, border);
    return nullptr;
  }
  if (!common) return nullptr;
  // The reservoir's fill against what it can hold.
  AacCore* core = ctx->core;
  const double average = double(core->bitrate) * core->frameLength / double(core->sampleRate);
  const double room = 6144.0 * core->channels - average;
  double load = room > 0.0 ? double(core->stages->bitmux_reservoir_fill(core->bitmux)) / room : 0.0;
  load = load < 0.0 ? 0.0 : load > 1.0 ? 1.0 : load;
  const float workload = ctx->control ? ctx->control->channelWorkload[el.first] : 0.0f;
  float bitSave = 0.0f;
  ErrorRecord* err = IntensityBorder(st, st->peLeft, st->peRight, &l, border, float(load), workload, &bitSave);
  if (err) return error_add_trace(kModule, __LINE__, "is_frame", err);
  const AacToolElement& te = ctx->control->elements[ctx->element];
  IntensityApply(st, &l, &r, te.ms ? static_cast<MsStage*>(te.ms)->ms : nullptr);
  resum_pe(core, el.first, l);
  resum_pe(core, el.second, r);
  return nullptr;
}

void is_free(void* s) { IntensityFree(static_cast<IsState*>(s)); }

// Noise substitution, one state per channel.
struct PnsStage {
  PnsState* pns;
  PsyOut mid, side;  // the pair's mid energies for the correlation
  float tonality[kPsyMaxBands];
  float longPower[1024], shortPower[16 * 128];
};

PnsBands bands_of(const PsyParam& p, long bitrate) {
  return {p.sampleRate, p.bandwidth, bitrate, p.sfb->numBands, p.sfb->offsets};
}

ErrorRecord* pns_create(void** s, const AacToolContext* ctx) {
  auto* st = static_cast<PnsStage*>(std::calloc(1, sizeof(PnsStage)));
  if (!st) return error_create(kModule, __LINE__, nullptr, "out of memory");
  PsyMain* psy = aac_inner_psy(ctx->core);
  const long bitrate = ctx->core->bitrate / ctx->core->channels;
  const PnsBands lb = bands_of(*psy->conf->longParam, bitrate), sb = bands_of(*psy->conf->shortParam, bitrate);
  // Detection on long blocks, per scale-factor band.
  ErrorRecord* err = PnsInit(&st->pns, &lb, &sb, ctx->core->frameLength, ctx->core->objectType, 2, 1, 0);
  if (err) {
    std::free(st);
    return error_add_trace(kModule, __LINE__, "pns_create", err);
  }
  *s = st;
  return nullptr;
}

PnsStage* other_pns(const AacToolContext* ctx) {
  const AacToolElement& el = ctx->control->elements[ctx->element];
  return static_cast<PnsStage*>(el.pns[ctx->channel == el.element.first ? 1 : 0]);
}

// The per-band measure from the model's spectra and tonality.
void measure(PnsStage* st, PsyMain* psy, int channel) {
  PsyChan& c = psy->chan[channel];
  PnsState* s = st->pns;
  std::memset(s->measure, 0, sizeof s->measure);
  if (c.blockType == 2 || !c.longSpectra || !c.shortSpectra) return;
  const PsyParam& p = *psy->conf->longParam;
  const SfbParamSet& sfb = *p.sfb;
  const float* longSpec = fifo_get(c.longSpectra, 0);
  if (!longSpec) return;
  for (int k = 0; k < sfb.lines; ++k) st->longPower[k] = longSpec[2 * k] * longSpec[2 * k] + longSpec[2 * k + 1] * longSpec[2 * k + 1];
  const int n = psy->nShort;
  for (int w = 0; w < 2 * n && w < 16; ++w) {
    const float* sh = fifo_get(c.shortSpectra, 2 * n - 1 - w);  // newest last
    for (int k = 0; k < 128; ++k)
      st->shortPower[w * 128 + k] = sh ? sh[2 * k] * sh[2 * k] + sh[2 * k + 1] * sh[2 * k + 1] : 0.0f;
  }
  // Scale-factor bands, or the uniform bands whose measures the
  // scale-factor bands then take.
  int edges[kPnsUniformBands + 1];
  const bool uniform = s->bandMode != 0;
  if (uniform) pns_uniform_edges(sfb.lines, edges);
  const int nBands = uniform ? kPnsUniformBands : sfb.numBands;
  const int* offsets = uniform ? edges : sfb.offsets;
  // Band tonality: the partitions' tonality averaged over each band.
  const CbParam* cb = psy->conf->longCb;
  const float scale = float(cb->endLine) / float(sfb.lines);
  float ones[kMaxPartitions], weight[kPsyMaxBands];
  for (int i = 0; i < cb->count; ++i) ones[i] = 1.0f;
  band_from_partitions(c.thr->longBlock.tonality, cb, offsets, nBands, scale, st->tonality);
  band_from_partitions(ones, cb, offsets, nBands, scale, weight);
  for (int b = 0; b < nBands; ++b) st->tonality[b] = weight[b] > 0.0f ? st->tonality[b] / weight[b] : 0.0f;
  if (!uniform) {
    pns_noise_detection(s->history, st->shortPower, st->longPower, nBands, offsets, s->measure, &s->longParam,
                        st->tonality, n);
  } else {
    // The first noise band counts in uniform bands here.
    const int16_t start = s->longParam.startSfbLong;
    s->longParam.startSfbLong =
        int16_t(start < sfb.numBands ? kPnsUniformBands * sfb.offsets[start] / sfb.lines : kPnsUniformBands);
    float measures[kPnsUniformBands];
    pns_noise_detection(s->history, st->shortPower, st->longPower, nBands, offsets, measures, &s->longParam,
                        st->tonality, n);
    s->longParam.startSfbLong = start;
    pns_measure_from_uniform(measures, sfb.numBands, sfb.offsets, sfb.lines, s->measure);
  }
  // A strong TNS filter says the band is not noise.
  const PnsParam& pp = s->longParam;
  if (pp.useTnsGainThr && c.tns && c.tns->active) {
    const TnsWindow& w = c.tns->window[0];
    for (int f = 0; f < w.nFilters; ++f)
      if (w.predictionGain >= pp.tnsGainThr && w.filter[f].order > 3) std::memset(s->measure, 0, sizeof s->measure);
  }
}

ErrorRecord* pns_frame(void* s, const AacToolContext* ctx) {
  auto* st = static_cast<PnsStage*>(s);
  PsyMain* psy = aac_inner_psy(ctx->core);
  PsyOut& o = psy->chan[ctx->channel].out;
  const AacChannelElement& el = element_of(ctx);
  PnsStage* other = el.kind == kAacPair ? other_pns(ctx) : nullptr;
  const bool first = el.kind != kAacPair || ctx->channel == el.first;
  if (ctx->phase == 0) {
    if (other && first && o.commonWindow) {
      PsyOut& r = psy->chan[el.second].out;
      st->mid = o;
      st->side = r;
      MsFillMidSide(&o, &r, &st->mid, &st->side);
      PnsCorrelation(&o, &r, &st->mid, st->pns, other->pns);
    }
    measure(st, psy, ctx->channel);
    PnsDetect(st->pns, &o, nullptr);
    return nullptr;
  }
  if (other && first) {
    const AacToolElement& te = ctx->control->elements[ctx->element];
    auto* ms = static_cast<MsStage*>(te.ms);
    PnsPair(&o, &psy->chan[el.second].out, st->pns, other->pns, ms ? ms->ms->mask : nullptr);
  }
  PnsSubstitute(st->pns, &o, nullptr, 0);
  // Long-term prediction does not mark noise bands.
  for (int i = 0; i < 8 * kPsyMaxBands; ++i)
    if (o.jsFlags[i] & kJsPns) o.jsFlags[i] &= ~kJsLtp;
  resum_pe(ctx->core, ctx->channel, o);
  return nullptr;
}

void pns_free(void* s) {
  auto* st = static_cast<PnsStage*>(s);
  PnsFree(st->pns);
  std::free(st);
}

// Loudness cut, one state per channel; band loudness from the model's
// loudness functions at each band's centre.
ErrorRecord* ldns_create(void** s, const AacToolContext* ctx) {
  const AacToolControl* c = ctx->control;
  LdnsCutState* st = nullptr;
  ErrorRecord* err = LdnsCutInit(&st, c ? c->ldnsMin : 0.02f, c ? c->ldnsMax : 0.08f, c ? c->ldnsAvg : 0.4f);
  if (err) return error_add_trace(kModule, __LINE__, "ldns_create", err);
  *s = st;
  return nullptr;
}

ErrorRecord* ldns_frame(void* s, const AacToolContext* ctx) {
  PsyMain* psy = aac_inner_psy(ctx->core);
  PsyOut& o = psy->chan[ctx->channel].out;
  const float rate = float(ctx->core->sampleRate);
  const int lines = o.blockType == 2 ? 128 : 1024;
  float loudness[8 * kPsyMaxBands] = {};
  int offset = 0;
  for (int b = 0; b < o.bandsPerWindow; ++b) {
    const float f = rate * (float(offset) + float(o.bandWidths[b] / 2)) / (2.0f * float(lines));
    offset += o.bandWidths[b];
    const float quiet = threshold_in_quiet(f), index = loudness_index(f), k = loudness_constant(quiet, index);
    for (int g = 0; g < o.groups; ++g)
      loudness[g * kPsyMaxBands + b] = specific_loudness(quiet, index, k, o.energy[g * kPsyMaxBands + b]);
  }
  const float workload = ctx->control ? ctx->control->channelWorkload[ctx->channel] : 0.0f;
  LdnsCutFrame(&o, loudness, nullptr, workload, static_cast<LdnsCutState*>(s));
  resum_pe(ctx->core, ctx->channel, o);
  return nullptr;
}

void ldns_free(void* s) { LdnsCutFree(static_cast<LdnsCutState*>(s)); }

// Super starving, one state per element (off unless its settings start it).
ErrorRecord* superstarv_create(void** s, const AacToolContext* ctx) {
  auto* st = static_cast<SuperStarvState*>(std::calloc(1, sizeof(SuperStarvState)));
  if (!st) return error_create(kModule, __LINE__, nullptr, "out of memory");
  PsyMain* psy = aac_inner_psy(ctx->core);
  const SfbParamSet& l = *psy->conf->longParam->sfb;
  const SfbParamSet& sh = *psy->conf->shortParam->sfb;
  ErrorRecord* err = SuperStarvInit(st, float(ctx->core->sampleRate), l.numBands, l.offsets, sh.numBands, sh.offsets);
  if (err) {
    std::free(st);
    return error_add_trace(kModule, __LINE__, "superstarv_create", err);
  }
  *s = st;
  return nullptr;
}

ErrorRecord* superstarv_frame(void* s, const AacToolContext* ctx) {
  auto* st = static_cast<SuperStarvState*>(s);
  if (!st->enabled) return nullptr;
  PsyMain* psy = aac_inner_psy(ctx->core);
  const AacChannelElement& el = element_of(ctx);
  PsyOut& a = psy->chan[el.first].out;
  PsyOut* b = el.kind == kAacPair ? &psy->chan[el.second].out : nullptr;
  int ms = 0;
  for (int i = 0; b && i < 8 * kPsyMaxBands; ++i) ms |= a.jsFlags[i] & kJsMs;
  SuperStarvFrame(st, &a, b, ms != 0);
  resum_pe(ctx->core, el.first, a);
  if (b) resum_pe(ctx->core, el.second, *b);
  return nullptr;
}

void superstarv_free(void* s) { std::free(s); }

}  // namespace

const AacToolStage kAacMsStage = {ms_create, ms_frame, nullptr, ms_free};
const AacToolStage kAacIsStage = {is_create, is_frame, nullptr, is_free};
const AacToolStage kAacPnsStage = {pns_create, pns_frame, nullptr, pns_free};
const AacToolStage kAacLdnsStage = {ldns_create, ldns_frame, nullptr, ldns_free};
const AacToolStage kAacSuperStarvStage = {superstarv_create, superstarv_frame, nullptr, superstarv_free};

bool aac_pns_value(const AacCore* core, int channel, int g, int b, int* value) {
  if (!core || !core->tools) return false;
  for (int e = 0; e < core->tools->elementCount; ++e) {
    const AacToolElement& el = core->tools->elements[e];
    const int slot = el.element.first == channel ? 0 : el.element.kind == kAacPair && el.element.second == channel ? 1 : -1;
    if (slot < 0 || !el.pns[slot] || core->stages->pns.create != kAacPnsStage.create) continue;
    const PnsState* s = static_cast<const PnsStage*>(el.pns[slot])->pns;
    PsyMain* psy = aac_inner_psy(const_cast<AacCore*>(core));
    const int k = g * psy->chan[channel].out.bandsPerWindow + b;
    if (k >= kPnsBands || s->value[k] == kPnsNoValue) return false;
    *value = s->value[k];
    return true;
  }
  return false;
}

bool aac_is_position(const AacCore* core, int channel, int g, int b, int* position, int* outOfPhase) {
  if (!core || !core->tools || core->stages->is.create != kAacIsStage.create) return false;
  for (int e = 0; e < core->tools->elementCount; ++e) {
    const AacToolElement& el = core->tools->elements[e];
    if (el.element.kind != kAacPair || el.element.second != channel || !el.is) continue;
    const IsState* s = static_cast<const IsState*>(el.is);
    PsyMain* psy = aac_inner_psy(const_cast<AacCore*>(core));
    const int k = g * psy->chan[channel].out.bandsPerWindow + b;
    if (k >= kIsBands || !s->isOn[k] || s->position[k] == kIsNoPosition) return false;
    *position = s->position[k];
    *outOfPhase = s->outOfPhase[k];
    return true;
  }
  return false;
}
