// The psychoacoustic configuration of an encoder instance and the table
// lookups behind its parameter sets.
#include "mp4aenc/psy_conf.h"

#include <cstdlib>
#include <cstring>

#include "aac_psy_tables.h"
#include "mp4aenc/param.h"
#include "psy_tables.h"

static const char kModule[] = "mp4AEnc/mp4AACCore/src/psych/psy_conf";

static float bandwidth_from(const BandwidthRow* rows, int count, int blockType, int bitrate,
                            float sampleRate, int channelMode, int highBw, float highBwFac) {
  if (blockType < 0 || blockType > 3 || !rows) return 0.0f;
  for (int i = 0; i < count; ++i) {
    const BandwidthRow& r = rows[i];
    if (r.channelMode != channelMode || bitrate < r.minBitrate || bitrate > r.maxBitrate ||
        sampleRate < r.minRate || sampleRate > r.maxRate)
      continue;
    const bool isShort = blockType == 2;
    if (highBw)
      return (isShort ? r.shortHighBw : r.longHighBw) * (1.0f + 0.01f * highBwFac);
    return isShort ? r.shortBw : r.longBw;
  }
  return 0.0f;
}

float bandwidth_lookup_low_delay(int blockType, int bitrate, float sampleRate, int channelMode) {
  return bandwidth_from(kBandwidthRowsLowDelay, kBandwidthRowCountLowDelay, blockType, bitrate,
                        sampleRate, channelMode, 0, 0.0f);
}

float bandwidth_lookup(int blockType, int bitrate, float sampleRate, int channelMode, int highBw,
                       float highBwFac) {
  return bandwidth_from(kBandwidthRows, kBandwidthRowCount, blockType, bitrate, sampleRate,
                        channelMode, highBw, highBwFac);
}

static ThrParamSet* thr_from(const ThrRow* rows, int count, int blockType, int bitrate,
                             int channelMode, int complexMdct, int variant) {
  if (blockType < 0 || blockType > 3 || !rows) return nullptr;
  for (int i = 0; i < count; ++i) {
    const ThrRow& r = rows[i];
    if (bitrate < r.minBitrate || bitrate > r.maxBitrate) continue;
    const int v = variant == 0 ? 0 : (channelMode == 0 ? 1 : 2);
    const ThrParamSet& set = blockType == 2 ? r.shortSets[v] : r.longSets[v];
    auto* copy = static_cast<ThrParamSet*>(std::malloc(sizeof(ThrParamSet)));
    if (!copy) return nullptr;
    *copy = set;
    if (complexMdct) copy->chaosLimit = -1.0f;
    return copy;
  }
  return nullptr;
}

ThrParamSet* thr_param_lookup_low_delay(int blockType, int bitrate, int channelMode,
                                        int complexMdct) {
  return thr_from(kThrRowsLowDelay, kThrRowCountLowDelay, blockType, bitrate, channelMode,
                  complexMdct, 0);
}

ThrParamSet* thr_param_lookup(int blockType, int bitrate, int channelMode, int complexMdct,
                              int variant) {
  return thr_from(kThrRows, kThrRowCount, blockType, bitrate, channelMode, complexMdct, variant);
}

SfbParamSet* sfbOffsetFreq(int blockType, float sampleRate, int frameLength) {
  if (blockType < 0 || blockType > 3) return nullptr;
  // Only frame length 1024 has band tables here; 960, 480 and 512 find none.
  if (frameLength != 1024) return nullptr;
  for (const SwbRateTable* t = kSwbTables1024; t->sampleRate != 0; ++t) {
    if (float(t->sampleRate) != sampleRate) continue;
    auto* set = static_cast<SfbParamSet*>(std::calloc(1, sizeof(SfbParamSet)));
    if (!set) return nullptr;
    const bool isShort = blockType == 2;
    const int n = isShort ? t->numShort : t->numLong;
    const int* offsets = isShort ? t->shortOffsets : t->longOffsets;
    set->sampleRate = sampleRate;
    set->numBands = n;
    for (int i = 0; i <= n; ++i) set->offsets[i] = offsets[i];
    for (int i = 0; i < n; ++i) set->widths[i] = offsets[i + 1] - offsets[i];
    set->lines = offsets[n];
    return set;
  }
  return nullptr;
}

ErrorRecord* psy_conf_create(PsyConf** out, int frameLength, float sampleRate,
                             int bitratePerChannel, float bandwidth, int channelMode,
                             int audioObjectType) {
  *out = nullptr;
  auto* c = static_cast<PsyConf*>(std::calloc(1, sizeof(PsyConf)));
  if (!c) return error_create(kModule, __LINE__, nullptr, "out of memory");
  param_get_flag("lp-adjust", "enable adjustment of lowpass frequency",
                 "the lowpass frequencies for short and long are adjustedto the nearest sfb-border",
                 &c->lpAdjust);
  param_get_flag("nobmax", "disable bmax", "the bmax values for short and long are set to 0",
                 &c->noBmax);
  int noCmdct = 0;
  param_get_flag("noCmdct", "do not use complex mdct", nullptr, &noCmdct);
  c->complexMdct = noCmdct ? 0 : 1;
  param_get_flag("highBw",
                 "use different parameter set optimized for more bandwith but also more artefacts",
                 nullptr, &c->highBw);
  c->highBwFac = 0.0f;
  param_get_float("highBwFac", 0.0f, 100.0f,
                  "set the additional bandwith between 0..100 % ; default: 0", nullptr,
                  &c->highBwFac);
  c->cst = 0;
  param_get_int("cst", 0, 2, "check short thresholds with low spectral rsolution",
                "the short thresholds (ratios) of cbs with low spectral\nresolution will be "
                "compared to the long cb ratios,\nthe minimum ratio of both will then be used",
                &c->cst);
  c->nShort = (audioObjectType == 5 || audioObjectType == 23) ? 4 : 8;

  ErrorRecord* err = nullptr;
  int line = 0;
  if ((err = psyparam_create(&c->longParam, 2 * frameLength, frameLength, sampleRate,
                             bitratePerChannel, bandwidth, channelMode, 0, c->complexMdct,
                             audioObjectType))) {
    line = __LINE__;
  } else if ((err = psyparam_create(&c->shortParam, 2 * frameLength / c->nShort, frameLength,
                                    sampleRate, bitratePerChannel, bandwidth, channelMode, 2,
                                    c->complexMdct, audioObjectType))) {
    line = __LINE__;
  } else if ((err = cb_param_create(&c->longCb, c->longParam, 0, 0))) {
    line = __LINE__;
  } else if ((err = cb_param_create(&c->shortCb, c->shortParam, 0, 0))) {
    line = __LINE__;
  } else if (!(c->shortToLong = static_cast<int*>(std::calloc(kMaxPartitions, sizeof(int))))) {
    err = error_create(kModule, __LINE__, nullptr, "out of memory");
  } else if ((err = ad_param_create(&c->longAd, c->longParam, c->longCb))) {
    line = __LINE__;
  } else if ((err = ad_param_create(&c->shortAd, c->shortParam, c->shortCb))) {
    line = __LINE__;
  }
  if (err) {
    psy_conf_delete(c);
    return line ? error_add_trace(kModule, line, nullptr, err) : err;
  }
  // Each short partition maps to the long partition at the same frequency.
  cb_map_lines(c->shortCb->count, float(c->nShort), c->shortCb->first, c->longAd->partOffset,
               c->shortToLong);
  c->srClass = sampleRate > 24000.0f ? 0 : (sampleRate > 12000.0f ? 1 : 2);
  *out = c;
  return nullptr;
}

void psy_conf_delete(PsyConf* conf) {
  if (!conf) return;
  psyparam_free(conf->longParam);
  psyparam_free(conf->shortParam);
  cb_param_free(conf->longCb);
  cb_param_free(conf->shortCb);
  std::free(conf->shortToLong);
  ad_param_free(conf->longAd);
  ad_param_free(conf->shortAd);
  std::free(conf);
}

const CbParam* psy_conf_cb(const PsyConf* conf, int blockType) {
  if (blockType < 0 || blockType > 3) return nullptr;
  return blockType == 2 ? conf->shortCb : conf->longCb;
}

void psy_conf_cb_pair(const PsyConf* conf, const CbParam** longCb, const CbParam** shortCb) {
  *longCb = conf->longCb;
  *shortCb = conf->shortCb;
}

void psy_conf_param_pair(const PsyConf* conf, const PsyParam** longParam,
                         const PsyParam** shortParam) {
  *longParam = conf->longParam;
  *shortParam = conf->shortParam;
}

void psy_conf_ad_pair(const PsyConf* conf, const AdParam** longAd, const AdParam** shortAd) {
  *longAd = conf->longAd;
  *shortAd = conf->shortAd;
}
