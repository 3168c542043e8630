#include "silent_stages.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>

SilentStagesKnobs g_silent;
std::vector<std::string> g_silentLog;

namespace {

const char kModule[] = "mp4AEnc/tests/silent_stages";

AacFrameBudget g_lastBudget;

void Log(const std::string& s) { g_silentLog.push_back(s); }

struct Psy {
  AacPsyChannel channels[kAacMaxChannels];
  float energy[kAacMaxChannels], threshold[kAacMaxChannels], smoothed[kAacMaxChannels];
  int width = 1;
  int count = 0;
};

struct Mux {
  BitBuffer* buffer = nullptr;
  long frames = 0;
};

int g_token;  // state of the stages that keep none

ErrorRecord* tfdec_create(void** s, AacCore*) {
  Log("tfdec_create");
  *s = &g_token;
  return nullptr;
}
ErrorRecord* tfdec_frame(void*, AacCore*) {
  Log("tfdec_frame");
  return nullptr;
}
void no_free(void*) {}

ErrorRecord* psy_create(void** s, AacCore* core) {
  Log("psy_create");
  auto* p = new Psy();  // zeroed: the smoothed figures start at 0
  p->count = core->channels;
  *s = p;
  return nullptr;
}
ErrorRecord* psy_analyse(void* s, AacCore*) {
  Log("psy_analyse");
  auto* p = static_cast<Psy*>(s);
  for (int c = 0; c < p->count; ++c) {
    p->energy[c] = g_silent.energy;
    p->threshold[c] = g_silent.threshold;
    AacPsyChannel& ch = p->channels[c];
    ch = {};
    ch.groups = 1;
    ch.bands = 1;
    ch.energy = &p->energy[c];
    ch.threshold = &p->threshold[c];
    ch.width = &p->width;
    ch.workCounter = g_silent.workCounter;
    ch.smoothedPe = &p->smoothed[c];
  }
  return nullptr;
}
float psy_frame_time(void*) { return g_silent.frameTime; }
const AacPsyChannel* psy_channel(void* s, int c) {
  auto* p = static_cast<Psy*>(s);
  return c >= 0 && c < p->count ? &p->channels[c] : nullptr;
}
void psy_lowpass(void*, float* l, float* s) {
  *l = 16000.0f;
  *s = g_silent.lowpassShort;
}
ErrorRecord* band_pe(float energy, float threshold, int width, float* pe) {
  if (threshold <= FLT_MIN) return error_create(kModule, __LINE__, nullptr, "threshold <= FLT_MIN");
  *pe = energy > threshold ? float(width) * std::log2(energy / threshold) : 0.0f;
  return nullptr;
}
void psy_free(void* s) { delete static_cast<Psy*>(s); }

ErrorRecord* loops_create(void** s, AacCore*) {
  Log("loops_create");
  *s = &g_token;
  return nullptr;
}
ErrorRecord* loops_outer(void*, AacCore*, const AacFrameBudget*) {
  Log("loops_outer");
  return nullptr;
}

ErrorRecord* bitmux_create(void** s, AacCore* core, const AacBitmuxSetup* setup) {
  Log("bitmux_create " + std::to_string(int(setup->reservoirFactor)));
  auto* m = new Mux;
  m->buffer = bitbuf_create(long(core->channels) * 6144 * 20 + 1024);
  *s = m;
  return nullptr;
}
BitBuffer* bitmux_buffer(void* s) { return static_cast<Mux*>(s)->buffer; }
long bitmux_reservoir_fill(void*) { return g_silent.reservoirFill; }
int bitmux_hyperframing(void*) { return 0; }
ErrorRecord* hyperframe_encode(void*, AacCore*) {
  return error_create(kModule, __LINE__, nullptr, "no hyperframing in the double");
}
ErrorRecord* bitmux_start_frame(void*, AacCore*) {
  Log("bitmux_start_frame");
  return nullptr;
}
ErrorRecord* bitmux_prepare_frame(void*, AacCore*, const AacFrameBudget* b) {
  Log("bitmux_prepare_frame");
  g_lastBudget = *b;
  return nullptr;
}
ErrorRecord* bitmux_update_reservoir(void*, AacCore*, const AacFrameBudget*) {
  Log("bitmux_update_reservoir");
  return nullptr;
}

// An individual channel stream with no bands.
void silent_ics(BitBuffer* b) {
  bitbuf_write_bits(b, 100, 8);  // global_gain
  bitbuf_write_bits(b, 0, 1);    // ics_reserved_bit
  bitbuf_write_bits(b, 0, 2);    // window_sequence: long
  bitbuf_write_bits(b, 0, 1);    // window_shape
  bitbuf_write_bits(b, 0, 6);    // max_sfb
  bitbuf_write_bits(b, 0, 1);    // predictor_data_present
  bitbuf_write_bits(b, 0, 1);    // pulse_data_present
  bitbuf_write_bits(b, 0, 1);    // tns_data_present
  bitbuf_write_bits(b, 0, 1);    // gain_control_data_present
}

ErrorRecord* bitmux_write_frame(void* s, AacCore* core, const AacFrameBudget*) {
  Log("bitmux_write_frame");
  auto* m = static_cast<Mux*>(s);
  BitBuffer* b = m->buffer;
  const int64_t start = bitbuf_bit_position(b);
  for (int e = 0; e < core->map->header.elementCount; ++e) {
    const AacChannelElement& el = core->map->elements[e];
    bitbuf_write_bits(b, uint32_t(el.kind == kAacLfe ? 3 : el.kind == kAacPair ? 1 : 0), 3);
    bitbuf_write_bits(b, uint32_t(el.tag), 4);
    if (el.kind == kAacPair) bitbuf_write_bits(b, 0, 1);  // common_window
    silent_ics(b);
    if (el.kind == kAacPair) silent_ics(b);
  }
  bitbuf_write_bits(b, 7, 3);  // END
  const long bits = long(bitbuf_bit_position(b) - start);
  bitbuf_write_bits(b, 0, int((8 - bits % 8) % 8));
  if (b->overflow) return error_create(kModule, __LINE__, nullptr, "bit buffer full");
  ErrorRecord* err = bitbuf_push_count(b, long(bitbuf_bit_position(b) - start));
  if (err) {
    bitbuf_advance_write(b, -long(bitbuf_bit_position(b) - start));
    return err;
  }
  ++m->frames;
  return nullptr;
}
long bitmux_side_value(void* s) { return static_cast<Mux*>(s)->frames; }
void bitmux_free(void* s) {
  auto* m = static_cast<Mux*>(s);
  bitbuf_free(m->buffer);
  delete m;
}

// Tools: each logs its calls with element and channel.
template <int Tool>
struct ToolDouble {
  static const char* Name() {
    static const char* const names[] = {"superstarv", "ldns", "pred", "ltp", "pns", "is", "ms"};
    return names[Tool];
  }
  static std::string Where(const AacToolContext* c) {
    return " " + std::to_string(c->element) + " " + std::to_string(c->channel) + (c->joint ? " joint" : "");
  }
  static ErrorRecord* Create(void** s, const AacToolContext* c) {
    if (g_silent.logTools) Log(std::string(Name()) + "_create" + Where(c));
    *s = &g_token;
    return nullptr;
  }
  static ErrorRecord* Frame(void*, const AacToolContext* c) {
    if (g_silent.logTools) Log(std::string(Name()) + "_frame" + Where(c));
    return nullptr;
  }
  static ErrorRecord* Update(void*, const AacToolContext* c) {
    if (g_silent.logTools) Log(std::string(Name()) + "_update" + Where(c));
    return nullptr;
  }
  static constexpr AacToolStage kStage = {Create, Frame, Update, no_free};
};

AacCoreStages MakeStages() {
  AacCoreStages s{};
  s.name = "silent double";
  s.tfdec_create = tfdec_create;
  s.tfdec_frame = tfdec_frame;
  s.tfdec_free = no_free;
  s.psy_create = psy_create;
  s.psy_analyse = psy_analyse;
  s.psy_frame_time = psy_frame_time;
  s.psy_channel = psy_channel;
  s.psy_lowpass = psy_lowpass;
  s.band_pe = band_pe;
  s.psy_free = psy_free;
  s.loops_create = loops_create;
  s.loops_outer = loops_outer;
  s.loops_free = no_free;
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
  s.superstarv = ToolDouble<0>::kStage;
  s.ldns = ToolDouble<1>::kStage;
  // No prediction stage: this system has no predictor.
  s.ltp = ToolDouble<3>::kStage;
  s.pns = ToolDouble<4>::kStage;
  s.is = ToolDouble<5>::kStage;
  s.ms = ToolDouble<6>::kStage;
  return s;
}

const AacCoreStages kStages = MakeStages();

}  // namespace

const AacCoreStages* SilentStages() { return &kStages; }

void SilentStagesReset() {
  g_silent = SilentStagesKnobs();
  g_silentLog.clear();
  g_lastBudget = {};
}

AacFrameBudget SilentLastBudget() { return g_lastBudget; }
