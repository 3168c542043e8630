// The psychoacoustic model driver: the order of the model's services within
// a frame and the decisions between them.
#include "mp4aenc/psymain.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/common.h"
#include "mp4aenc/param.h"
#include "mp4aenc/psy_rules.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/psymain";

static int coded_bands(const PsyParam& p) {
  int n = 0;
  while (n < p.sfb->numBands && p.sfb->offsets[n] < p.codedLines) ++n;
  return n;
}

static ErrorRecord* chan_create(PsyMain* psy, PsyChan& c, int lfe, int tnsOn, float sampleRate,
                                int bitratePerChannel, int channelMode, int aot,
                                const WindowShapes& ws) {
  const int L = psy->frameLength, n = psy->nShort, S = 2 * L / n;
  c.lfe = lfe;
  c.longOffset = -(L + S / 4);
  c.ring = CreateFloatModuloBuffer(unsigned(L / (2 * n) + 3 * L));
  if (!c.ring) return error_create(kModule, __LINE__, nullptr, "CreateFloatModuloBuffer failed");
  if (fifo_create(&c.longSpectra, 3, 2 * L) || fifo_create(&c.shortSpectra, 3 * n, S))
    return error_create(kModule, __LINE__, nullptr, "CreateFloatFifoBuffer failed");
  for (int i = 0; i < 3; ++i) fifo_push_zero(c.longSpectra);
  for (int i = 0; i < 3 * n; ++i) fifo_push_zero(c.shortSpectra);
  const int left[4] = {ws.longLeft, ws.startLeft, ws.shortLeft, ws.stopLeft};
  const int right[4] = {ws.longRight, ws.startRight, ws.shortRight, ws.stopRight};
  for (int s = 0; s < 4; ++s)
    if (ErrorRecord* err = window_create(&c.windows[s], s == 2 ? S : 2 * L, s, left[s], right[s], 1, n))
      return error_add_trace(kModule, __LINE__, nullptr, err);
  if (!lfe)
    if (ErrorRecord* err = sw_cont_create(&c.sw, psy->conf, n, 0))
      return error_add_trace(kModule, __LINE__, nullptr, err);
  if (ErrorRecord* err = thr_chan_create(&c.thr, psy->conf, n))
    return error_add_trace(kModule, __LINE__, nullptr, err);
  if (tnsOn)
    if (ErrorRecord* err = tns_create(&c.tns, sampleRate, bitratePerChannel, channelMode, 0,
                                      AudioObject{1, aot}, L, n))
      return error_add_trace(kModule, __LINE__, nullptr, err);
  c.out.windowShape = ws.longRight;
  return nullptr;
}

ErrorRecord* psymain_create(PsyMain** out, int nChannels, int framePeriod, int frameLength,
                            float sampleRate, int bitrate, float bandwidth,
                            const AacChannelMap* map, int audioObjectType) {
  *out = nullptr;
  if (nChannels > kAacMaxChannels)
    return error_create(kModule, __LINE__, nullptr, "number of channels too large");
  if (nChannels < 1 || !map || frameLength != 1024)
    return error_create(kModule, __LINE__, nullptr, "invalid function parameters");
  if (audioObjectType == 3)
    return error_create(kModule, __LINE__, nullptr, "SSR is not supported");
  auto* psy = static_cast<PsyMain*>(std::calloc(1, sizeof(PsyMain)));
  if (!psy) return error_create(kModule, __LINE__, nullptr, "out of memory");
  psy->channels = nChannels;
  psy->frameLength = frameLength;
  psy->framePeriod = framePeriod > 0 ? framePeriod : 1;
  psy->nShort = (audioObjectType == 5 || audioObjectType == 23) ? 4 : 8;
  param_get_flag("env", "generate env info", "Note: no standard aac extension", &psy->env);
  param_get_flag("dynBW", "enable dynamic bandwidth", "Note: no standard aac extension",
                 &psy->dynBW);
  bool anyPair = false;
  for (int e = 0; e < map->header.elementCount; ++e) anyPair |= map->elements[e].kind == kAacPair;
  const int mode = anyPair ? kModePair : kModeSingle;
  const int perChannel = bitrate / nChannels;
  ErrorRecord* err = psy_conf_create(&psy->conf, frameLength, sampleRate, perChannel, bandwidth,
                                     mode, audioObjectType);
  WindowShapes ws{};
  const int defaults[2] = {1, 0};
  if (!err) err = window_shapes_read(&ws, 0, defaults);
  for (int e = 0; !err && e < map->header.elementCount; ++e) {
    const AacChannelElement& el = map->elements[e];
    const int count = el.kind == kAacPair ? 2 : 1;
    for (int k = 0; k < count && !err; ++k) {
      const int ch = k ? el.second : el.first;
      if (ch < 0 || ch >= nChannels) {
        err = error_create(kModule, __LINE__, nullptr, "invalid function parameters");
        break;
      }
      const int tnsOn = k ? el.right.tns : el.left.tns;
      err = chan_create(psy, psy->chan[ch], el.kind == kAacLfe, tnsOn, sampleRate, perChannel,
                        mode, audioObjectType, ws);
    }
    if (!err && el.kind == kAacPair) {
      // A pair decides its common window per frame and shares one
      // block-switching group.
      PsyPair& p = psy->pair[psy->pairs++];
      p.left = el.first;
      p.right = el.second;
      p.decide = 1;
      p.msAllowed = el.ms;
      p.isAllowed = el.intensity;
    }
  }
  if (err) {
    psymain_delete(psy);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  *out = psy;
  return nullptr;
}

void psymain_delete(PsyMain* psy) {
  if (!psy) return;
  for (PsyChan& c : psy->chan) {
    FreeFloatModuloBuffer(c.ring);
    fifo_free(c.longSpectra);
    fifo_free(c.shortSpectra);
    for (WindowObject* w : c.windows) object_free(w);
    sw_cont_free(c.sw);
    thr_chan_delete(c.thr);
    tns_delete(c.tns);
  }
  psy_conf_delete(psy->conf);
  std::free(psy);
}

static void fill_out(PsyMain* psy, PsyChan& c) {
  const PsyConf& conf = *psy->conf;
  const bool isShort = c.blockType == 2;
  const PsyParam& p = isShort ? *conf.shortParam : *conf.longParam;
  const SfbParamSet& sfb = *p.sfb;
  PsyOut& o = c.out;
  o.blockType = c.blockType;
  o.window = c.windows[c.blockType];
  o.bandsPerWindow = sfb.numBands;
  o.bandWidths = sfb.widths;
  o.commonWindow = 0;
  std::memset(o.jsFlags, 0, sizeof o.jsFlags);
  if (isShort) {
    o.groups = c.sw->grouping.count;
    for (int g = 0; g < o.groups; ++g) o.groupLength[g] = c.sw->grouping.lengths[g];
  } else {
    o.groups = 1;
    o.groupLength[0] = 1;
  }
  std::memset(o.spectrum, 0, sizeof o.spectrum);
  int w0 = 0, pos = 0, maxSfb = 0;
  for (int g = 0; g < o.groups; ++g) {
    for (int b = 0; b < sfb.numBands; ++b) {
      double e = 0.0, t = 0.0;
      for (int w = w0; w < w0 + o.groupLength[g]; ++w) {
        e += c.thr->bandEnergy[w][b];
        t += c.thr->bandThreshold[w][b];
        for (int k = sfb.offsets[b]; k < sfb.offsets[b + 1]; ++k, ++pos) {
          // Nothing above the lowpass line is coded.
          const float v = k < p.codedLines ? c.mdct[isShort ? k * psy->nShort + w : k] : 0.0f;
          o.spectrum[pos] = v;
          if (v != 0.0f && b + 1 > maxSfb) maxSfb = b + 1;
        }
      }
      o.energy[g * kPsyMaxBands + b] = float(e);
      o.threshold[g * kPsyMaxBands + b] = float(t);
    }
    w0 += o.groupLength[g];
  }
  o.maxSfb = maxSfb;
}

void psymain_frame(PsyMain* psy, const float* pcm) {
  const int L = psy->frameLength, n = psy->nShort, S = 2 * L / n;
  psy->frame = (psy->frame + 1) % psy->framePeriod;
  float* block = psy->work;
  // Short blocks, block-switching proposals.
  for (int ch = 0; ch < psy->channels; ++ch) {
    PsyChan& c = psy->chan[ch];
    if (!c.ring) continue;
    FloatModuloBufferLookBack(c.ring, psy->longInput[ch], unsigned(2 * L), unsigned(L - c.longOffset));
    FloatModuloBufferWrite(c.ring, pcm + size_t(ch) * size_t(L), unsigned(L));
    c.proposal = 0;
    if (c.lfe) continue;
    for (int i = 0; i < n; ++i) {
      const int offset = i * L / n - L;
      FloatModuloBufferLookBack(c.ring, block, unsigned(S), unsigned(S / 2 - offset));
      window_apply(c.windows[2], block);
      dft_mdct_phase(block, S);
      fifo_push(c.shortSpectra, block);
    }
    lowPeRatioHist(c.sw, c.shortSpectra, &c.proposal, n);
    c.blockType = c.proposal;
  }
  // Pairs share one block type; then their common window.
  for (int k = 0; k < psy->pairs; ++k) {
    PsyPair& p = psy->pair[k];
    PsyChan &l = psy->chan[p.left], &r = psy->chan[p.right];
    const int merged = psy_merge_block_type(psy_merge_block_type(0, l.proposal), r.proposal);
    l.blockType = r.blockType = merged;
    p.lastCorrelation = p.correlation;
    const float* ls[8];
    const float* rs[8];
    for (int i = 0; i < n; ++i) ls[i] = fifo_get(l.shortSpectra, i), rs[i] = fifo_get(r.shortSpectra, i);
    p.correlation = psy_pair_correlation(ls, rs, n, S / 2);
    if (p.decide)
      p.commonWindow = psy_common_window(p.correlation, &l.blockType, &r.blockType,
                                         l.sw->lastSequence, r.sw->lastSequence, l.sw->attack,
                                         r.sw->attack);
    if (l.blockType == 2 && r.blockType == 2) {
      SwGrouping* both[2] = {&l.sw->grouping, &r.sw->grouping};
      psy_unify_groupings(both, 2);
    }
  }
  for (int ch = 0; ch < psy->channels; ++ch) {
    PsyChan& c = psy->chan[ch];
    if (!c.ring) continue;
    if (c.sw) c.sw->lastSequence = c.blockType;
    // The long block, with the window of its type (eight-short frames use
    // the long window: that transform feeds only the long-block analysis).
    std::memcpy(block, psy->longInput[ch], sizeof(float) * size_t(2 * L));
    window_apply(c.windows[c.blockType == 2 ? 0 : c.blockType], block);
    dft_mdct_phase(block, 2 * L);
    fifo_push(c.longSpectra, block);
    if (c.blockType == 2) {
      for (int w = 0; w < n; ++w) {
        const float* s = fifo_get(c.shortSpectra, n / 2 + 2 * n - 1 - w);
        for (int k = 0; k < S / 2; ++k) c.mdct[k * n + w] = 2.0f * s[2 * k];
      }
    } else {
      const float* s = fifo_get(c.longSpectra, 0);
      for (int k = 0; k < L; ++k) c.mdct[k] = 2.0f * s[2 * k];
    }
    if (c.lfe)
      for (int k = 13; k < L; ++k) c.mdct[k] = 0.0f;
    if (c.tns) {
      const PsyParam& p = c.blockType == 2 ? *psy->conf->shortParam : *psy->conf->longParam;
      tns_analyse(c.tns, c.mdct, p.sfb->offsets, p.sfb->numBands, c.blockType, 4, coded_bands(p), 0);
    }
  }
  for (int k = 0; k < psy->pairs; ++k) {
    const PsyPair& p = psy->pair[k];
    PsyChan &l = psy->chan[p.left], &r = psy->chan[p.right];
    if (p.commonWindow && p.msAllowed && l.tns && r.tns && std::fabs(p.lastCorrelation) > 0.6f)
      tns_sync(l.tns, r.tns, l.mdct, r.mdct, L);
  }
  for (int ch = 0; ch < psy->channels; ++ch) {
    PsyChan& c = psy->chan[ch];
    if (!c.ring) continue;
    const PsyParam& p = c.blockType == 2 ? *psy->conf->shortParam : *psy->conf->longParam;
    if (c.tns) tns_filter(c.tns, c.mdct, p.sfb->offsets, p.sfb->numBands, c.blockType);
    thr_chan_fft(c.thr, c.longSpectra, c.shortSpectra);
    thr_chan_threshold(c.thr, c.longSpectra, c.shortSpectra, c.tns, c.blockType);
    op_counter_stub();
    thr_chan_after_tns(c.thr, c.tns, c.blockType);
    fill_out(psy, c);
  }
  for (int k = 0; k < psy->pairs; ++k) {
    const PsyPair& p = psy->pair[k];
    if (!p.commonWindow) continue;
    PsyOut &l = psy->chan[p.left].out, &r = psy->chan[p.right].out;
    l.commonWindow = r.commonWindow = 1;
    sync_max_sfb(&l.maxSfb, &r.maxSfb);
  }
}
