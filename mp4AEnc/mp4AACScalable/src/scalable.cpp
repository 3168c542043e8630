#include "mp4aenc/scalable.h"

#include <cstdlib>
#include <cstring>

#include "mp4aenc/chanmap.h"
#include "mp4aenc/state_table.h"

namespace {

const char kModule[] = "mp4AEnc/mp4AACScalable/src/scalable";

// The core layer named by `name`; none for "NO_CORE". No core coder is
// supplied in this system, so every real core answers its message.
ErrorRecord* select_core(const char* name, const ScalableSetup* s) {
  if (std::strstr(name, "NO_CORE")) {
    if (s->firstAacLayer > 0 && s->bitrates[0] != 0)
      return error_create(kModule, __LINE__, nullptr, "no core but corebitrate not zero ");
    return nullptr;
  }
  if (std::strstr(name, "CELP")) return error_add_trace(kModule, __LINE__, "core", celp_core_create());
  if (std::strstr(name, "TVQ") || std::strstr(name, "TwinVQ"))
    return error_add_trace(kModule, __LINE__, "core", tvq_core_create());
  if (std::strstr(name, "AMR")) return error_add_trace(kModule, __LINE__, "core", amr_core_create());
  if (std::strstr(name, "HVXC")) return error_create(kModule, __LINE__, nullptr, "this core is not supported: %s", name);
  return error_create(kModule, __LINE__, nullptr, "Unknown core codec");
}

}  // namespace

ErrorRecord* scalable_open(ScalableCoder** out, const ScalableSetup* s) {
  *out = nullptr;
  if (s->layerCount > kScalableMaxLayers)
    return error_create(kModule, __LINE__, nullptr, "number of AAC layers too large");
  if (s->layerCount < 1 || s->firstAacLayer < 0 || s->firstAacLayer >= s->layerCount)
    return error_create(kModule, __LINE__, nullptr, "invalid layer settings");
  ErrorRecord* err = select_core(s->coreName ? s->coreName : "", s);
  if (err) return error_add_trace(kModule, __LINE__, "scalable_open", err);
  auto* c = static_cast<ScalableCoder*>(std::calloc(1, sizeof(ScalableCoder)));
  if (!c) return error_create(kModule, __LINE__, nullptr, "out of memory");
  c->layerCount = s->layerCount;
  c->firstAacLayer = s->firstAacLayer;
  c->frameLength = s->frameLength;
  // Each AAC layer codes its share of the total bitrate with its own core.
  for (int l = s->firstAacLayer; l < s->layerCount && !err; ++l) {
    c->maps[l] = static_cast<AacChannelMap*>(std::calloc(1, sizeof(AacChannelMap)));
    if (!c->maps[l]) {
      err = error_create(kModule, __LINE__, nullptr, "out of memory");
      break;
    }
    err = aac_channel_map_build(c->maps[l], s->channels[l], 0);
    if (err) break;
    const long share = l > s->firstAacLayer ? s->bitrates[l] - s->bitrates[l - 1] : s->bitrates[l];
    const AacCoreSetup setup = {c->maps[l], share, s->sampleRate, s->frameLength, 2, s->offsets, s->strides};
    err = aac_core_create(&c->layers[l], &setup);
    if (!err) err = state_table_build(&c->layers[l]->state, c->layers[l]);
  }
  if (!err) {
    const int top = s->channels[s->layerCount - 1];
    err = fft_buffer_create(&c->filterFft, s->frameLength <= 1024 ? s->frameLength : 1024,
                            top < kFftBufferMaxChannels ? top : kFftBufferMaxChannels);
  }
  if (!err) err = out_buffer_create(&c->filterOut, 2 * s->frameLength);
  if (err) {
    scalable_free(c);
    return error_add_trace(kModule, __LINE__, "scalable_open", err);
  }
  *out = c;
  return nullptr;
}

ErrorRecord* scalable_encode_frame(ScalableCoder*, const float*) {
  // The layered frame syntax is left open and nothing here reads type 6:
  // refused plainly rather than writing frames no decoder could check.
  ErrorRecord* err = error_create(kModule, __LINE__, nullptr, "WriteBitstreamScal() failed");
  return error_add_trace(kModule, __LINE__, "layered frame writing is not built", err);
}

namespace {

// Writes one value into entry `index` of `group` of layer l's table.
ErrorRecord* write_entry(ScalableCoder* c, int l, int group, int index, int value, int* writes) {
  StateTable* t = c->layers[l]->state;
  const int op = state_table_operation(t, group, index);
  if (op < 0)
    return error_create(kModule, __LINE__, nullptr, "layer %d has no state entry %d in group 0x%x", l, index, group);
  ErrorRecord* err = state_table_write(t, state_id(op, group, index), &value, 1);
  if (err) return error_add_trace(kModule, __LINE__, "write_entry", err);
  ++*writes;
  return nullptr;
}

// One key on layer l. Classes: 0x10000 an entry of every element, 0x20000
// an entry of every channel of every element (once for a single element,
// twice for a pair), 0x30000 a shared entry; the low byte names the entry.
// 0x300000 switches a tool of the layer in bits 8-15 (low byte: the tool,
// as the AAC keys number them).
ErrorRecord* key_on_layer(ScalableCoder* c, int l, int key, int value, int* writes) {
  const AacChannelMap* m = c->maps[l];
  const int index = key & 0xFF;
  ErrorRecord* err = nullptr;
  switch (key & 0x0FFF0000) {
    case 0x10000:
      for (int e = 0; e < m->header.elementCount && !err; ++e)
        err = write_entry(c, l, kStateGroupElement + e, index, value, writes);
      return err;
    case 0x20000:
      for (int e = 0; e < m->header.elementCount && !err; ++e) {
        const AacChannelElement& el = m->elements[e];
        err = write_entry(c, l, kStateGroupTools + el.first, index, value, writes);
        if (!err && el.kind == kAacPair) err = write_entry(c, l, kStateGroupTools + el.second, index, value, writes);
      }
      return err;
    case 0x30000: return write_entry(c, l, kStateGroupShared, index, value, writes);
    case 0x300000: {
      if (((key >> 8) & 0xFF) != l) return nullptr;
      static const int kChannelEntry[4] = {kStateTns, kStatePns, kStatePrediction, kStateLtp};
      const int on = value == 1;
      if (index < 4) {
        for (int ch = 0; ch < m->header.channels && !err; ++ch)
          err = write_entry(c, l, kStateGroupTools + ch, kChannelEntry[index], on, writes);
      } else if (index < 6) {
        for (int e = 0; e < m->header.elementCount && !err; ++e)
          if (m->elements[e].kind == kAacPair)
            err = write_entry(c, l, kStateGroupElement + e, index == 4 ? 3 : 4, on, writes);
      } else {
        err = error_create(kModule, __LINE__, nullptr, "unknown tool key 0x%x", key);
      }
      return err;
    }
    default: return error_create(kModule, __LINE__, nullptr, "unknown parameter key 0x%x", key);
  }
}

}  // namespace

ErrorRecord* scalable_param_ctl(ScalableCoder* c, int count, const int* keys, int* const* values, int* writes) {
  int done = 0;
  if (writes) *writes = 0;
  if (!c || count < 0 || (count > 0 && (!keys || !values)))
    return error_create(kModule, __LINE__, nullptr, "null pointer");
  for (int i = 0; i < count; ++i) {
    if ((keys[i] & 0x0FFF0000) == 0x300000) {
      const int layer = (keys[i] >> 8) & 0xFF;
      if (layer < c->firstAacLayer || layer >= c->layerCount)
        return error_create(kModule, __LINE__, nullptr, "no AAC layer %d", layer);
    }
    for (int l = c->firstAacLayer; l < c->layerCount; ++l) {
      ErrorRecord* err = key_on_layer(c, l, keys[i], values[i] ? *values[i] : 0, &done);
      if (err) return error_add_trace(kModule, __LINE__, "scalable_param_ctl", err);
    }
  }
  if (writes) *writes = done;
  return nullptr;
}

void scalable_free(ScalableCoder* c) {
  if (!c) return;
  for (int l = 0; l < kScalableMaxLayers; ++l) {
    aac_core_free(c->layers[l]);
    std::free(c->maps[l]);
  }
  fft_buffer_free(c->filterFft);
  out_buffer_free(c->filterOut);
  std::free(c);
}
