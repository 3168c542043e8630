// The inner encoder built into this library: the psychoacoustic model
// driver, the quantisation loops and the bitstream encoder behind the core's
// stage table, and the internal decoder. The coding tools' stages are in
// tools/tool_stages.cpp and tools/ltp_stage.cpp.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "mp4aenc/aaccore.h"
#include "mp4aenc/bitmux.h"
#include "mp4aenc/loops.h"
#include "mp4aenc/tf_int_dec.h"
#include "mp4aenc/tool_stages.h"
#include "mp4aenc/psymain.h"
#include "mp4aenc/scalable.h"
#include "mp4aenc/toolmain.h"
#include "mp4aenc/window.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/inner_stages";

struct Psy {
  PsyMain* main;
  WindowShapes shapes;
  AacPsyChannel channel[kAacMaxChannels];
  float energy[kAacMaxChannels][kAacMaxGroupBands], threshold[kAacMaxChannels][kAacMaxGroupBands];
  float smoothed[kAacMaxChannels];
  const PsyOut* out[kAacMaxChannels];
};


// The internal decoder, and the file its output goes to when "decOf" names one.
struct Tfdec {
  TfIntDec* dec;
  TfdecFile* file;
  float* interleaved;  // a frame of all channels, for the file
};

void tfdec_free(void* s) {
  auto* t = static_cast<Tfdec*>(s);
  if (!t) return;
  tf_int_dec_free(t->dec);
  tfdec_file_close(t->file);
  std::free(t->interleaved);
  std::free(t);
}

void add_prediction(const void* core, int channel, float* spectrum) {
  aac_ltp_add_prediction(static_cast<const AacCore*>(core), channel, spectrum);
}

ErrorRecord* tfdec_create(void** s, AacCore* core) {
  auto* t = static_cast<Tfdec*>(std::calloc(1, sizeof(Tfdec)));
  if (!t) return error_create(kModule, __LINE__, nullptr, "out of memory");
  ErrorRecord* err = tf_int_dec_create(&t->dec, core->channels, core->frameLength, core->sampleRate);
  if (!err) tf_int_dec_set_prediction(t->dec, add_prediction, core);
  if (!err) err = tfdec_file_open(&t->file, core->channels, core->sampleRate);
  if (!err && t->file) {
    t->interleaved = static_cast<float*>(std::calloc(size_t(core->channels) * size_t(core->frameLength), sizeof(float)));
    if (!t->interleaved) err = error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  if (err) {
    tfdec_free(t);
    return error_add_trace(kModule, __LINE__, "tfdec_create", err);
  }
  *s = t;
  return nullptr;
}
ErrorRecord* tfdec_frame(void* s, AacCore* core);

ErrorRecord* psy_create(void** s, AacCore* core) {
  auto* p = static_cast<Psy*>(std::calloc(1, sizeof(Psy)));
  if (!p) return error_create(kModule, __LINE__, nullptr, "out of memory");
  const int defaults[2] = {1, 0};
  ErrorRecord* err = window_shapes_read(&p->shapes, 0, defaults);
  if (!err)
    err = psymain_create(&p->main, core->channels, 1, core->frameLength, float(core->sampleRate),
                         int(core->bitrate), 0.0f, core->map, core->objectType);
  if (err) {
    std::free(p);
    return error_add_trace(kModule, __LINE__, "psy_create", err);
  }
  *s = p;
  return nullptr;
}

int tns_top(const TnsInfo* t, int blockType) {
  if (!t || !t->active) return 0;
  int top = 0;
  for (int w = 0; w < (blockType == 2 ? 8 : 1); ++w)
    for (int f = 0; f < t->window[w].nFilters; ++f) top = top > t->window[w].filter[f].stopBand ? top : t->window[w].filter[f].stopBand;
  return top;
}

ErrorRecord* psy_analyse(void* s, AacCore* core) {
  auto* p = static_cast<Psy*>(s);
  psymain_frame(p->main, core->work);
  PsyMain& m = *p->main;
  for (int c = 0; c < core->channels; ++c) {
    PsyChan& ch = m.chan[c];
    PsyOut& o = ch.out;
    // The window shape sent is the right half's of this frame's window.
    const int right[4] = {p->shapes.longRight, p->shapes.startRight, p->shapes.shortRight, p->shapes.stopRight};
    o.windowShape = right[o.blockType & 3] == 0 ? 0 : 1;
    // A decoder filters TNS up to max_sfb: the coded bands reach the filters' top.
    const int top = tns_top(ch.tns, o.blockType);
    if (o.maxSfb < top) o.maxSfb = top;
  }
  for (int k = 0; k < m.pairs; ++k) {
    PsyOut &l = m.chan[m.pair[k].left].out, &r = m.chan[m.pair[k].right].out;
    if (l.commonWindow && r.commonWindow) l.maxSfb = r.maxSfb = l.maxSfb > r.maxSfb ? l.maxSfb : r.maxSfb;
  }
  for (int c = 0; c < core->channels; ++c) {
    const PsyOut& o = m.chan[c].out;
    p->out[c] = &o;
    AacPsyChannel& pc = p->channel[c];
    pc.blockType = o.blockType;
    pc.groups = o.groups;
    pc.bands = o.bandsPerWindow;
    for (int g = 0; g < o.groups; ++g)
      for (int b = 0; b < o.bandsPerWindow; ++b) {
        p->energy[c][g * o.bandsPerWindow + b] = o.energy[g * kPsyMaxBands + b];
        p->threshold[c][g * o.bandsPerWindow + b] = o.threshold[g * kPsyMaxBands + b];
      }
    pc.energy = p->energy[c];
    pc.threshold = p->threshold[c];
    pc.width = o.bandWidths;
    pc.workCounter = 0;
    pc.smoothedPe = &p->smoothed[c];
    pc.midEnergy = pc.sideEnergy = 0.0f;
  }
  return nullptr;
}

float psy_frame_time(void*) { return 0.0f; }
const AacPsyChannel* psy_channel(void* s, int c) {
  auto* p = static_cast<Psy*>(s);
  return c >= 0 && c < p->main->channels ? &p->channel[c] : nullptr;
}
void psy_lowpass(void* s, float* l, float* sh) {
  auto* p = static_cast<Psy*>(s);
  *l = p->main->conf->longParam->bandwidth;
  *sh = p->main->conf->shortParam->bandwidth;
}
ErrorRecord* band_pe(float energy, float threshold, int width, float* pe) {
  if (!(threshold > 1e-30f)) {
    *pe = 0.0f;
    return nullptr;
  }
  *pe = energy > threshold ? float(width) * std::log2(energy / threshold) : 0.0f;
  return nullptr;
}
void psy_free(void* s) {
  auto* p = static_cast<Psy*>(s);
  psymain_delete(p->main);
  std::free(p);
}

ErrorRecord* loops_create(void** s, AacCore* core) {
  const AacLoopsSetup setup = {core->channels, core->map, core->sampleRate, core->frameLength};
  AacLoops* l = nullptr;
  ErrorRecord* err = aac_loops_create(&l, &setup);
  if (err) return error_add_trace(kModule, __LINE__, "loops_create", err);
  *s = l;
  return nullptr;
}

struct Mux {
  AacBitmux* mux;
  long granted[kAacMaxChannels];
  AacChannelResult* results;  // with the TNS records attached
};

ErrorRecord* loops_outer(void* s, AacCore* core, const AacFrameBudget*) {
  auto* psy = static_cast<Psy*>(core->psy);
  auto* mux = static_cast<Mux*>(core->bitmux);
  ErrorRecord* err = aac_loops_frame(static_cast<AacLoops*>(s), psy->out, mux->granted);
  return err ? error_add_trace(kModule, __LINE__, "loops_outer", err) : nullptr;
}
void loops_free(void* s) { aac_loops_free(static_cast<AacLoops*>(s)); }

ErrorRecord* bitmux_create(void** s, AacCore* core, const AacBitmuxSetup* setup) {
  auto* m = static_cast<Mux*>(std::calloc(1, sizeof(Mux)));
  if (!m) return error_create(kModule, __LINE__, nullptr, "out of memory");
  m->results = static_cast<AacChannelResult*>(std::calloc(size_t(core->channels), sizeof(AacChannelResult)));
  const AacBitmuxConfig config = {setup->map, core->channels, setup->sampleRate, setup->bitrate,
                                  setup->frameLength, setup->reservoirFactor, setup->framing, setup->streamType};
  ErrorRecord* err = m->results ? aac_bitmux_create(&m->mux, &config)
                                : error_create(kModule, __LINE__, nullptr, "out of memory");
  if (err) {
    std::free(m->results);
    std::free(m);
    return error_add_trace(kModule, __LINE__, "bitmux_create", err);
  }
  *s = m;
  return nullptr;
}
BitBuffer* bitmux_buffer(void* s) { return aac_bitmux_buffer(static_cast<Mux*>(s)->mux); }
long bitmux_reservoir_fill(void* s) { return aac_bitmux_fill(static_cast<Mux*>(s)->mux); }
int bitmux_hyperframing(void*) { return 0; }
ErrorRecord* hyperframe_encode(void*, AacCore*) {
  return error_create(kModule, __LINE__, nullptr, "hyper framing is not built into this encoder");
}
ErrorRecord* bitmux_start_frame(void*, AacCore*) { return nullptr; }
ErrorRecord* bitmux_prepare_frame(void* s, AacCore* core, const AacFrameBudget* budget) {
  auto* m = static_cast<Mux*>(s);
  auto* psy = static_cast<Psy*>(core->psy);
  int blockType[kAacMaxChannels];
  const TnsInfo* tns[kAacMaxChannels];
  for (int c = 0; c < core->channels; ++c) {
    blockType[c] = psy->out[c]->blockType;
    tns[c] = psy->main->chan[c].tns;
  }
  long toolBits[kAacMaxChannels];
  for (int c = 0; c < core->channels; ++c) toolBits[c] = aac_ltp_side_bits(core, c);
  ErrorRecord* err =
      aac_bitmux_allocate(m->mux, core->tools->pe, blockType, tns, budget->headerBits, m->granted, toolBits);
  return err ? error_add_trace(kModule, __LINE__, "bitmux_prepare_frame", err) : nullptr;
}
struct NoiseOf {
  const AacCore* core;
  int channel;
};
bool noise_value(const void* arg, int g, int b, int* v) {
  const auto* of = static_cast<const NoiseOf*>(arg);
  return aac_pns_value(of->core, of->channel, g, b, v);
}
bool intensity_position(const void* arg, int g, int b, int* pos, int* outOfPhase) {
  const auto* of = static_cast<const NoiseOf*>(arg);
  return aac_is_position(of->core, of->channel, g, b, pos, outOfPhase);
}

ErrorRecord* bitmux_update_reservoir(void* s, AacCore* core, const AacFrameBudget*) {
  auto* m = static_cast<Mux*>(s);
  auto* psy = static_cast<Psy*>(core->psy);
  const AacChannelResult* results[kAacMaxChannels];
  for (int c = 0; c < core->channels; ++c) {
    m->results[c] = *aac_loops_result(static_cast<AacLoops*>(core->loops), c);
    m->results[c].windowShape = psy->out[c]->windowShape;
    m->results[c].tns = psy->main->chan[c].tns;
    std::memcpy(m->results[c].jsFlags, psy->out[c]->jsFlags, sizeof m->results[c].jsFlags);
    const NoiseOf of = {core, c};
    aac_mark_noise_bands(&m->results[c], noise_value, &of);
    m->results[c].ltp = aac_ltp_finalise(core, c, &m->results[c]);
    results[c] = &m->results[c];
  }
  for (int e = 0; e < core->map->header.elementCount; ++e) {
    const AacChannelElement& el = core->map->elements[e];
    if (el.kind != kAacPair || !m->results[el.first].commonWindow) continue;
    const NoiseOf of = {core, el.second};
    aac_mark_intensity_bands(&m->results[el.second], &m->results[el.first], intensity_position, &of);
  }
  ErrorRecord* err = aac_bitmux_update(m->mux, results);
  return err ? error_add_trace(kModule, __LINE__, "bitmux_update_reservoir", err) : nullptr;
}
// The internal decoder rebuilds the written frame.
ErrorRecord* tfdec_frame(void* s, AacCore* core) {
  auto* m = static_cast<Mux*>(core->bitmux);
  auto* psy = static_cast<Psy*>(core->psy);
  const AacChannelResult* results[kAacMaxChannels];
  const TnsInfo* tns[kAacMaxChannels];
  for (int c = 0; c < core->channels; ++c) results[c] = &m->results[c], tns[c] = psy->main->chan[c].tns;
  auto* t = static_cast<Tfdec*>(s);
  ErrorRecord* err = tf_int_dec_frame(t->dec, core->map, results, tns);
  // Long-term prediction's history is the decoder's output.
  for (int c = 0; !err && c < core->channels; ++c)
    aac_ltp_update_history(core, c, tf_int_dec_output(t->dec, c), tf_int_dec_overlap(t->dec, c));
  if (!err && t->file) {
    const int n = core->frameLength, channels = core->channels;
    for (int c = 0; c < channels; ++c) {
      const float* out = tf_int_dec_output(t->dec, c);
      for (int i = 0; i < n; ++i) t->interleaved[size_t(i) * size_t(channels) + size_t(c)] = out[i];
    }
    err = tfdec_file_write(t->file, t->interleaved, n * channels);
  }
  return err ? error_add_trace(kModule, __LINE__, "tfdec_frame", err) : nullptr;
}

ErrorRecord* bitmux_write_frame(void* s, AacCore*, const AacFrameBudget*) {
  ErrorRecord* err = aac_bitmux_write(static_cast<Mux*>(s)->mux);
  return err ? error_add_trace(kModule, __LINE__, "bitmux_write_frame", err) : nullptr;
}
// The reservoir fill: what ADTS reports as buffer fullness.
long bitmux_side_value(void* s) { return aac_bitmux_fill(static_cast<Mux*>(s)->mux); }
void bitmux_free(void* s) {
  auto* m = static_cast<Mux*>(s);
  aac_bitmux_free(m->mux);
  std::free(m->results);
  std::free(m);
}

AacCoreStages make_stages() {
  AacCoreStages s{};
  s.name = "AAC-LC";
  s.tfdec_create = tfdec_create;
  s.tfdec_frame = tfdec_frame;
  s.tfdec_free = tfdec_free;
  s.psy_create = psy_create;
  s.psy_analyse = psy_analyse;
  s.psy_frame_time = psy_frame_time;
  s.psy_channel = psy_channel;
  s.psy_lowpass = psy_lowpass;
  s.band_pe = band_pe;
  s.psy_free = psy_free;
  s.loops_create = loops_create;
  s.loops_outer = loops_outer;
  s.loops_free = loops_free;
  s.bitmux_create = bitmux_create;
  s.bitmux_buffer = bitmux_buffer;
  s.bitmux_reservoir_fill = bitmux_reservoir_fill;
  s.bitmux_hyperframing = bitmux_hyperframing;
  s.hyperframe_encode = hyperframe_encode;
  s.bitmux_start_frame = bitmux_start_frame;
  s.bitmux_prepare_frame = bitmux_prepare_frame;
  s.bitmux_update_reservoir = bitmux_update_reservoir;
  s.bitmux_write_frame = bitmux_write_frame;
  s.bitmux_side_value = bitmux_side_value;
  s.bitmux_free = bitmux_free;
  s.is = kAacIsStage;
  s.ltp = kAacLtpStage;
  s.pred = kAacPredStage;
  s.ms = kAacMsStage;
  s.pns = kAacPnsStage;
  s.ldns = kAacLdnsStage;
  s.superstarv = kAacSuperStarvStage;
  return s;
}

const AacCoreStages kInner = make_stages();

}  // namespace

const AacCoreStages* aac_inner_encoder_stages(void) { return &kInner; }

PsyMain* aac_inner_psy(AacCore* core) { return static_cast<Psy*>(core->psy)->main; }

const TfIntDec* aac_inner_decoder(const AacCore* core) {
  return core && core->stages->tfdec_create == tfdec_create && core->tfdec ? static_cast<const Tfdec*>(core->tfdec)->dec
                                                                           : nullptr;
}

const AacChannelResult* aac_inner_result(const AacCore* core, int channel) {
  if (!core || core->stages->bitmux_create != bitmux_create || channel < 0 || channel >= core->channels) return nullptr;
  return &static_cast<const Mux*>(core->bitmux)->results[channel];
}
