#include "mp4aenc/toolmain.h"

#include <cmath>
#include <cstdlib>

#include "mp4aenc/param.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACCore/src/tools/toolmain";
const double kPi = 3.14159265358979323846;

// Creates one tool through its stage; a stage the inner encoder does not
// have is a failure naming it.
ErrorRecord* create_tool(const AacToolStage& stage, const char* name, void** state, AacCore* core,
                         int element, int channel, const AacToolControl* control = nullptr) {
  if (!stage.create)
    return error_create(kModule, __LINE__, nullptr, "AAC core stage %s_create is not built", name);
  const AacToolContext context = {core, element, channel, 0, control, 0};
  return stage.create(state, &context);
}

ErrorRecord* run_tool(const AacToolStage& stage, const char* name, void* state, AacCore* core, int element,
                      int channel, int joint, int phase = 0) {
  if (!state) return nullptr;
  if (!stage.frame) return error_create(kModule, __LINE__, nullptr, "AAC core stage %s_frame is not built", name);
  const AacToolContext context = {core, element, channel, joint, core->tools, phase};
  return stage.frame(state, &context);
}

ErrorRecord* update_tool(const AacToolStage& stage, void* state, AacCore* core, int element, int channel) {
  if (!state || !stage.update) return nullptr;
  const AacToolContext context = {core, element, channel, 0, core->tools, 0};
  return stage.update(state, &context);
}

void free_tool(const AacToolStage& stage, void*& state) {
  if (state && stage.free) stage.free(state);
  state = nullptr;
}

// This system has no backward-adaptive predictor: without a stage for it,
// switching it on fails.
ErrorRecord* create_prediction(AacToolControl* c, void** state, AacCore* core, int element, int channel) {
  if (!c->stages->pred.create)
    return error_create(kModule, __LINE__, nullptr, "no prediction tool available");
  return create_tool(c->stages->pred, "pred", state, core, element, channel);
}

// The single-channel steps: loudness cut, prediction, long-term prediction,
// noise substitution, each when switched on.
ErrorRecord* create_channel_tools(AacToolControl* c, AacCore* core, int e, int slot, int channel,
                                  const AacToolSwitches& sw) {
  AacToolElement& el = c->elements[e];
  const AacCoreStages& s = *c->stages;
  ErrorRecord* err = nullptr;
  if (c->cutLdns) err = create_tool(s.ldns, "ldns", &el.ldns[slot], core, e, channel, c);
  if (!err && sw.prediction) err = create_prediction(c, &el.pred[slot], core, e, channel);
  if (!err && sw.ltp) err = create_tool(s.ltp, "ltp", &el.ltp[slot], core, e, channel);
  if (!err && sw.pns) err = create_tool(s.pns, "pns", &el.pns[slot], core, e, channel, c);
  return err;
}

}  // namespace

float tool_workload_update(float workload, long workCounter, float frameTime) {
  const double penalty = 0.01 * std::log10(double(workCounter) + 1.0) - 0.1 * double(frameTime);
  const double t = std::tan(double(workload) * kPi / 2.0) + penalty;
  return float(std::atan(t > 0.0 ? t : 0.0) * 2.0 / kPi);
}

float tool_smooth_pe(float smoothed, float total) {
  return total > smoothed ? 0.9f * smoothed + 0.1f * total : 0.97f * smoothed + 0.03f * total;
}

ErrorRecord* tool_control_create(AacToolControl** out, AacCore* core) {
  if (!out || !core || !core->map || !core->stages)
    return error_create(kModule, __LINE__, nullptr, "invalid procedure parameters");
  *out = nullptr;
  auto* c = static_cast<AacToolControl*>(std::calloc(1, sizeof(AacToolControl)));
  if (!c) return error_create(kModule, __LINE__, nullptr, "out of memory");
  c->stages = core->stages;
  c->channels = core->channels;
  c->elementCount = core->map->header.elementCount;
  c->samplingIndex = core->samplingIndex;
  c->predDelay = 8;
  param_get_int("pred_delay", 0, 8, "frames between two consecutive prediction resets", nullptr, &c->predDelay);
  param_get_flag("cutLdns", "cut bands by loudness", nullptr, &c->cutLdns);
  c->ldnsMin = 0.02f;
  c->ldnsMax = 0.08f;
  c->ldnsAvg = 0.4f;
  if (c->cutLdns) {
    param_get_float("ldnsMin", 0.0f, 1.0f, nullptr, nullptr, &c->ldnsMin);
    param_get_float("ldnsMax", 0.0f, 1.0f, nullptr, nullptr, &c->ldnsMax);
    param_get_float("ldnsAvg", 0.0f, 1.0f, nullptr, nullptr, &c->ldnsAvg);
  }

  ErrorRecord* err = nullptr;
  if (aac_sampling_index(core->sampleRate) < 0)
    err = error_create(kModule, __LINE__, nullptr, "wrong sample frequency");
  const AacCoreStages& s = *c->stages;
  for (int e = 0; e < c->elementCount && !err; ++e) {
    AacToolElement& el = c->elements[e];
    el.element = core->map->elements[e];
    const AacChannelElement& me = el.element;
    err = create_tool(s.superstarv, "superstarv", &el.superstarv, core, e, -1, c);
    if (err) break;
    switch (me.kind) {
      case kAacSingle:
      case kAacCoupling:
      case kAacLfe:
        err = create_channel_tools(c, core, e, 0, me.first, me.left);
        break;
      case kAacPair:
        if (me.left.prediction != me.right.prediction) {
          err = error_create(kModule, __LINE__, nullptr, "wrong predictor on/off initialization");
          break;
        }
        for (int slot = 0; slot < 2 && !err; ++slot) {
          const int channel = slot ? me.second : me.first;
          if (c->cutLdns) err = create_tool(s.ldns, "ldns", &el.ldns[slot], core, e, channel, c);
          if (!err && (slot ? me.right : me.left).prediction)
            err = create_prediction(c, &el.pred[slot], core, e, channel);
        }
        if (!err && me.ms) {
          param_get_int("msDeb", 0, 2, "0: no debug 1: all sfb ms on 2: half of sfb ms on", nullptr, &c->msDebug);
          param_get_flag("no-ms-mask", "no mid/side mask", nullptr, &c->noMsMask);
          err = create_tool(s.ms, "ms", &el.ms, core, e, -1, c);
        }
        if (!err && me.intensity) err = create_tool(s.is, "is", &el.is, core, e, -1, c);
        for (int slot = 0; slot < 2 && !err; ++slot) {
          const int channel = slot ? me.second : me.first;
          const AacToolSwitches& sw = slot ? me.right : me.left;
          if (sw.ltp) err = create_tool(s.ltp, "ltp", &el.ltp[slot], core, e, channel);
          if (!err && sw.pns) err = create_tool(s.pns, "pns", &el.pns[slot], core, e, channel, c);
        }
        break;
      default:
        err = error_create(kModule, __LINE__, nullptr, "unhandled element type");
    }
  }
  if (err) {
    tool_control_free(c);
    return error_add_trace(kModule, __LINE__, "tool_control_create", err);
  }
  *out = c;
  return nullptr;
}

ErrorRecord* tool_control_frame(AacToolControl* c, AacCore* core, float frameTime) {
  const AacCoreStages& s = *c->stages;
  if (!s.psy_channel || !s.band_pe)
    return error_create(kModule, __LINE__, nullptr, "AAC core stage psy_channel is not built");
  // 1. Workload from the first channel's analysis work.
  const AacPsyChannel* first = s.psy_channel(core->psy, 0);
  if (!first) return error_create(kModule, __LINE__, nullptr, "no analysis of channel 0");
  c->workload = tool_workload_update(c->workload, first->workCounter, frameTime);
  for (int ch = 0; ch < c->channels; ++ch) c->channelWorkload[ch] = c->workload;

  // 2. Perceptual entropy per channel over every window group and band.
  float total = 0.0f;
  for (int ch = 0; ch < c->channels; ++ch) {
    const AacPsyChannel* p = s.psy_channel(core->psy, ch);
    if (!p) return error_create(kModule, __LINE__, nullptr, "no analysis of channel %d", ch);
    float pe = 0.0f;
    for (int g = 0; g < p->groups; ++g)
      for (int b = 0; b < p->bands; ++b) {
        float bandPe = 0.0f;
        ErrorRecord* err = s.band_pe(p->energy[g * p->bands + b], p->threshold[g * p->bands + b], p->width[b],
                                     &bandPe);
        if (err) return error_add_trace(kModule, __LINE__, "tool_control_frame", err);
        pe += bandPe;
      }
    c->pe[ch] = pe;
    total += pe;
  }

  // 3. The element tools in map order.
  for (int e = 0; e < c->elementCount; ++e) {
    AacToolElement& el = c->elements[e];
    const AacChannelElement& me = el.element;
    ErrorRecord* err = nullptr;
    switch (me.kind) {
      case kAacSingle:
      case kAacCoupling:
        err = run_tool(s.ldns, "ldns", el.ldns[0], core, e, me.first, 0);
        if (!err) err = run_tool(s.pns, "pns", el.pns[0], core, e, me.first, 0, 0);
        if (!err) err = run_tool(s.ltp, "ltp", el.ltp[0], core, e, me.first, 0);
        if (!err) err = run_tool(s.pred, "pred", el.pred[0], core, e, me.first, 0);
        if (!err) err = run_tool(s.pns, "pns", el.pns[0], core, e, me.first, 0, 1);
        if (!err) err = run_tool(s.superstarv, "superstarv", el.superstarv, core, e, -1, 0);
        break;
      case kAacPair: {
        // Loudness cut, noise detection, intensity analysis (on the spectra
        // before prediction takes anything out of them), prediction,
        // mid/side, intensity border and application, then the pair's noise
        // resolution and substitution, super starving last.
        for (int slot = 0; slot < 2 && !err; ++slot)
          err = run_tool(s.ldns, "ldns", el.ldns[slot], core, e, slot ? me.second : me.first, 0);
        for (int slot = 0; slot < 2 && !err; ++slot)
          err = run_tool(s.pns, "pns", el.pns[slot], core, e, slot ? me.second : me.first, 0, 0);
        if (!err) err = run_tool(s.is, "is", el.is, core, e, -1, 0, 0);
        const int joint = el.ltp[0] && el.ltp[1];
        for (int slot = 0; slot < 2 && !err; ++slot)
          err = run_tool(s.ltp, "ltp", el.ltp[slot], core, e, slot ? me.second : me.first, joint);
        for (int slot = 0; slot < 2 && !err; ++slot)
          err = run_tool(s.pred, "pred", el.pred[slot], core, e, slot ? me.second : me.first, 0);
        if (!err) err = run_tool(s.ms, "ms", el.ms, core, e, -1, 0);
        if (!err) err = run_tool(s.is, "is", el.is, core, e, -1, 0, 1);
        for (int slot = 0; slot < 2 && !err; ++slot)
          err = run_tool(s.pns, "pns", el.pns[slot], core, e, slot ? me.second : me.first, 0, 1);
        if (!err) err = run_tool(s.superstarv, "superstarv", el.superstarv, core, e, -1, 0);
        break;
      }
      case kAacLfe:
        break;
      default:
        err = error_create(kModule, __LINE__, nullptr, "unhandled element type");
    }
    if (err) return error_add_trace(kModule, __LINE__, "tool_control_frame", err);
  }

  // 4. Smoothed total entropy; the first channel's figure stays at least 350.
  c->smoothedPe = tool_smooth_pe(c->smoothedPe, total);
  if (first->smoothedPe && *first->smoothedPe < 350.0f) *first->smoothedPe = 350.0f;
  return nullptr;
}

ErrorRecord* tool_control_post(AacToolControl* c, AacCore* core, int /*decoderWritesFile*/) {
  const AacCoreStages& s = *c->stages;
  for (int e = 0; e < c->elementCount; ++e) {
    AacToolElement& el = c->elements[e];
    for (int slot = 0; slot < el.element.channels && slot < 2; ++slot) {
      const int channel = slot ? el.element.second : el.element.first;
      ErrorRecord* err = update_tool(s.pred, el.pred[slot], core, e, channel);
      if (!err) err = update_tool(s.ltp, el.ltp[slot], core, e, channel);
      if (err) return error_add_trace(kModule, __LINE__, "tool_control_post", err);
    }
  }
  return nullptr;
}

void tool_control_free(AacToolControl* c) {
  if (!c) return;
  const AacCoreStages& s = *c->stages;
  for (int e = 0; e < kAacMaxElements; ++e) {
    AacToolElement& el = c->elements[e];
    for (int slot = 0; slot < 2; ++slot) {
      free_tool(s.ldns, el.ldns[slot]);
      free_tool(s.pred, el.pred[slot]);
      free_tool(s.ltp, el.ltp[slot]);
      free_tool(s.pns, el.pns[slot]);
    }
    free_tool(s.ms, el.ms);
    free_tool(s.is, el.is);
    free_tool(s.superstarv, el.superstarv);
  }
  std::free(c);
}
