// Threshold stage of one channel.
#include "mp4aenc/thr_chan.h"

#include <cmath>
#include <cstdlib>

#include "mp4aenc/param.h"
#include "mp4aenc/thr_blocks.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/thr_chan";

static int short_slot(int nShort, int w) { return nShort / 2 + 2 * nShort - 1 - w; }

ErrorRecord* thr_chan_create(ThrChan** out, const PsyConf* conf, int nShort) {
  *out = nullptr;
  if (!conf || !conf->longCb || !conf->shortCb || !conf->longParam || !conf->shortParam)
    return error_create(kModule, __LINE__, nullptr, "GetPsyBlockParam() failed");
  if (!conf->longAd || !conf->shortAd)
    return error_create(kModule, __LINE__, nullptr, "GetAdaptBlockParam() failed");
  auto* t = static_cast<ThrChan*>(std::calloc(1, sizeof(ThrChan)));
  if (!t) return error_create(kModule, __LINE__, nullptr, "out of memory");
  t->conf = conf;
  t->nShort = nShort;
  param_get_flag("preNoTone", "preecho threshold calc. based only on NMT",
                 "to fill the preecho fifos a separate threshold calculation without tonality is "
                 "used",
                 &t->preNoTone);
  param_get_flag("preTns", "preecho threshold calc. based on TNS activity",
                 "for the bands where tns is active the preecho level is reduced", &t->preTns);
  param_get_flag("tmld", "use temporal masking level difference for long blocks",
                 "weight threshold with minEnergy(t)/avgEnergy(t)", &t->tmld);
  param_get_flag("noPreStop", "no preecho control for stop blocks", nullptr, &t->noPreStop);
  ErrorRecord* err = fifo_create(&t->preEchoLong, 3, conf->longCb->count);
  if (!err) err = fifo_create(&t->preEchoShort, 3, conf->shortCb->count);
  if (err) {
    thr_chan_delete(t);
    return error_add_trace(kModule, __LINE__, nullptr, err);
  }
  for (int i = 0; i < 3; ++i) {
    fifo_push(t->preEchoLong, conf->longCb->quiet);
    fifo_push(t->preEchoShort, conf->shortCb->quiet);
  }
  *out = t;
  return nullptr;
}

void thr_chan_delete(ThrChan* thr) {
  if (!thr) return;
  fifo_free(thr->preEchoLong);
  fifo_free(thr->preEchoShort);
  std::free(thr);
}

void thr_chan_fft(ThrChan* t, const FloatFifo* longSpectra, const FloatFifo* shortSpectra) {
  const PsyParam& lp = *t->conf->longParam;
  const PsyParam& sp = *t->conf->shortParam;
  const float def = t->conf->longCb->chaosDefault[0];
  // Method 0: the unpredictability of ISO/IEC 13818-7.
  CalculateChaosMeasure(fifo_get(longSpectra, 2), fifo_get(longSpectra, 1),
                        fifo_get(longSpectra, 0), lp.lines, lp.limitLine[0], def, 0, t->chaosLong);
  const float* rows[8];
  for (int w = 0; w < t->nShort; ++w) {
    const int slot = short_slot(t->nShort, w);
    CalculateChaosMeasure(fifo_get(shortSpectra, slot + 2), fifo_get(shortSpectra, slot + 1),
                          fifo_get(shortSpectra, slot), sp.lines, sp.limitLine[0], def, 0,
                          t->chaosShort[w]);
    rows[w] = t->chaosShort[w];
  }
  // A line that is unpredictable within the frame is not tonal for the
  // whole block either.
  short_threshold_cap(t->chaosLong, rows, lp.limitLine[0], t->nShort, 0, lp.lines / sp.lines);
  if (lp.thr->chaosLimit < 1.0f) clamp_to_one(t->chaosLong, lp.limitLine[2], lp.lines, lp.thr->chaosLimit);
  if (sp.thr->chaosLimit < 1.0f)
    for (int w = 0; w < t->nShort; ++w)
      clamp_to_one(t->chaosShort[w], sp.limitLine[2], sp.lines, sp.thr->chaosLimit);
}

static void block_threshold(ThrChan* t, ThrBlock& b, const float* spectrum, const float* chaos,
                            const CbParam* cb, const ThrParamSet* thr, FloatFifo* preEcho,
                            const float* quiet, bool preEchoControl) {
  const int n = cb->count;
  partition_energy(spectrum, chaos, n, cb->countChaos, cb->width, cb->chaosDefault, b.energy,
                   b.weighted);
  partition_spread(b.energy, b.weighted, n, cb, b.spread, b.spreadWeighted);
  partition_log_ratio(b.spread, b.spreadWeighted, n, b.tonality);
  SmrState st{cb, thr, quiet};
  float fixed[kMaxPartitions];
  if (t->preNoTone) {
    smr_fixed(&st, b.spread, thr->nmtScalar, fixed);
  }
  smr_from_tonality(&st, b.tonality, b.spread, thr->nmtScalar, b.threshold);
  fifo_push(preEcho, t->preNoTone ? fixed : b.threshold);
  if (!preEchoControl) return;
  // Against the block before: slot 1 (slot 0 is the one just pushed).
  const float* previous = fifo_get(preEcho, 1);
  pre_echo_limit(b.threshold, previous, thr->preEchoFactor, thr->preEchoQuietFactor, quiet,
                 thr->preEchoLowFactor, n, b.threshold);
}

void thr_chan_threshold(ThrChan* t, const FloatFifo* longSpectra, const FloatFifo* shortSpectra,
                        const TnsInfo* tns, int blockType) {
  const PsyConf& c = *t->conf;
  float quiet[kMaxPartitions];
  for (int i = 0; i < c.longCb->count; ++i) quiet[i] = c.longCb->quiet[i];
  (void)tns;  // "preTns" lowering of the quiet copy is not applied here
  const bool control = !(blockType == 3 && t->noPreStop);
  block_threshold(t, t->longBlock, fifo_get(longSpectra, 0), t->chaosLong, c.longCb,
                  c.longParam->thr, t->preEchoLong, quiet, control);
  for (int w = 0; w < t->nShort; ++w) {
    block_threshold(t, t->shortBlock[w], fifo_get(shortSpectra, short_slot(t->nShort, w)),
                    t->chaosShort[w], c.shortCb, c.shortParam->thr, t->preEchoShort,
                    c.shortCb->quiet, true);
  }
}

void thr_chan_after_tns(ThrChan* t, const TnsInfo* tns, int blockType) {
  const PsyConf& c = *t->conf;
  const bool isShort = blockType == 2;
  const SfbParamSet& sfb = isShort ? *c.shortParam->sfb : *c.longParam->sfb;
  const CbParam* cb = isShort ? c.shortCb : c.longCb;
  const float scale = float(cb->endLine) / float(sfb.lines);
  const int windows = isShort ? t->nShort : 1;
  for (int w = 0; w < windows; ++w) {
    const ThrBlock& b = isShort ? t->shortBlock[w] : t->longBlock;
    band_from_partitions(b.energy, cb, sfb.offsets, sfb.numBands, scale, t->bandEnergy[w]);
    band_from_partitions(b.threshold, cb, sfb.offsets, sfb.numBands, scale, t->bandThreshold[w]);
    if (tns && tns->active) tns_apply_to_thresholds(tns, w, sfb.numBands, t->bandThreshold[w]);
  }
}
