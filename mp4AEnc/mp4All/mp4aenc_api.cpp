#include "mp4aenc/mp4aenc.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "mp4aenc/scalable.h"
#include "mp4aenc/state_table.h"
#include "mp4aenc/toolmain.h"

namespace {

const char kModule[] = "mp4AEnc/mp4All/mp4aenc_api";

bool is_aac(int objectType) { return objectType == 2 || objectType == 4; }

// Object type 6: the scalable coder with its layers; each AAC layer's
// LayerInfo carries its share of the bitrate.
ErrorRecord* open_scalable(Mp4AEncHandle* h, long sampleRate, const long* bitrates, int frameLength, int layerCount,
                           int firstAacLayer, const int* channels, const char* coreName, const int* offsets,
                           const int* strides, LayerInfo* layerInfo) {
  const ScalableSetup setup = {sampleRate, bitrates, frameLength, layerCount, firstAacLayer,
                               channels,   coreName, offsets,     strides};
  ScalableCoder* coder = nullptr;
  ErrorRecord* err = scalable_open(&coder, &setup);
  if (err) return error_add_trace(kModule, __LINE__, "mp4aenc_open", err);
  h->coder = coder;
  for (int l = firstAacLayer; l < layerCount; ++l) {
    LayerInfo& info = layerInfo[l];
    info.sampleRate = int32_t(sampleRate);
    info.bitrate = int32_t(l > firstAacLayer ? bitrates[l] - bitrates[l - 1] : bitrates[l]);
    info.frameLength = frameLength;
    info.bitsPerFrame = int32_t((long long)info.bitrate * frameLength / sampleRate);
    info.objectType = 6;
    info.header = nullptr;  // no stream header is written for layered frames
  }
  return nullptr;
}

// Sets one switch of a tool on every element it applies to.
void set_switch(AacChannelMap* map, int tool, int on) {
  for (int e = 0; e < map->header.elementCount; ++e) {
    AacChannelElement& el = map->elements[e];
    const bool channelTool = el.kind == kAacSingle || el.kind == kAacPair || el.kind == kAacCoupling;
    if (tool == kToolMidSide || tool == kToolIntensity) {
      if (el.kind != kAacPair) continue;
      (tool == kToolMidSide ? el.ms : el.intensity) = on;
      continue;
    }
    if (!channelTool) continue;
    for (AacToolSwitches* sw : {&el.left, &el.right}) {
      switch (tool) {
        case kToolTns: sw->tns = on; break;
        case kToolPns: sw->pns = on; break;
        case kToolPrediction: sw->prediction = on; break;
        case kToolLtp: sw->ltp = on; break;
        default: break;
      }
    }
  }
}

}  // namespace

ErrorRecord* mp4aenc_open(Mp4AEncHandle** handle, int objectType, long sampleRate, long* bitrates,
                          int* frameLength, int /*reserved*/, AacChannelMap** map, int layerCount,
                          int firstAacLayer, const int* channels, int /*reserved2*/, const char* coreName,
                          const int* offsets, const int* strides, LayerInfo* layerInfo) {
  if (!handle) return error_create(kModule, __LINE__, nullptr, "null pointer");
  *handle = static_cast<Mp4AEncHandle*>(std::calloc(1, sizeof(Mp4AEncHandle)));
  if (!*handle) return error_create(kModule, __LINE__, nullptr, "out of memory");
  Mp4AEncHandle* h = *handle;
  h->objectType = objectType;
  h->layers = layerCount;
  h->layerIndex = 0;
  if (layerInfo)
    for (int l = 0; l < kMp4Layers; ++l) layerInfo[l].header = nullptr;
  if (!is_aac(objectType) && objectType != 6)
    return error_create(kModule, __LINE__, nullptr, "audio object type not supported!");
  if (!bitrates || !frameLength || !map || !channels || !offsets || !strides || !layerInfo)
    return error_create(kModule, __LINE__, nullptr, "null pointer");
  const char* name = coreName ? coreName : "";
  *frameLength = (std::strstr(name, "CELP") || std::strstr(name, "AMR")) ? 960 : 1024;

  const bool noCore = std::strstr(name, "NO_CORE") != nullptr;
  if (is_aac(objectType)) {
    if (noCore && bitrates[0] == 0) bitrates[0] = 128000;
  } else {
    if (noCore) {
      for (int l = 0; l < firstAacLayer && l < layerCount; ++l) bitrates[l] = 0;
    }
    if (bitrates[0] == 0) bitrates[0] = 24000;
  }
  // A scalable stream adds to each layer; a layer below the one before it
  // cannot be coded. Refused here rather than ending the process.
  for (int l = 1; l < layerCount && l < kMp4Layers; ++l)
    if (bitrates[l] < bitrates[l - 1] || channels[l] < channels[l - 1])
      return error_create(kModule, __LINE__, nullptr,
                          "layer %d has a lower bitrate or fewer channels than layer %d", l, l - 1);
  if (objectType == 6)
    return open_scalable(h, sampleRate, bitrates, *frameLength, layerCount, firstAacLayer, channels, name, offsets,
                         strides, layerInfo);

  if (!*map) {
    auto* built = static_cast<AacChannelMap*>(std::calloc(1, sizeof(AacChannelMap)));
    if (!built) return error_create(kModule, __LINE__, nullptr, "out of memory");
    ErrorRecord* err = aac_channel_map_build(built, channels[0], objectType == 4);
    if (err) {
      std::free(built);
      return error_add_trace(kModule, __LINE__, "mp4aenc_open", err);
    }
    *map = built;
  }
  ErrorRecord* err = mp4_audio_header_fill(&h->header, objectType, sampleRate, channels[0], *frameLength);
  if (err) return error_add_trace(kModule, __LINE__, "mp4aenc_open", err);

  const AacCoreSetup setup = {*map, bitrates[0], sampleRate, *frameLength, objectType, offsets, strides};
  AacCore* core = nullptr;
  err = aac_core_create(&core, &setup);
  if (err) return error_add_trace(kModule, __LINE__, "mp4aenc_open", err);
  h->coder = core;
  // The AAC path never reads it; it is there for the scalable coder's access.
  err = state_table_build(&core->state, core);
  if (err) return error_add_trace(kModule, __LINE__, "mp4aenc_open", err);

  LayerInfo& info = layerInfo[0];
  info.sampleRate = int32_t(sampleRate);
  info.bitrate = int32_t(bitrates[0]);
  info.frameLength = *frameLength;
  info.bitsPerFrame = int32_t((long long)bitrates[0] * *frameLength / sampleRate);
  info.objectType = objectType;
  info.header = &h->header;
  return nullptr;
}

ErrorRecord* mp4aenc_encode_frame(Mp4AEncHandle* h, const float* samples, BitBuffer* out[kMp4Layers],
                                  long* sideValue, int /*reserved*/, int flag) {
  if (!h || !samples || !out) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (h->objectType == 6 && h->coder) {
    for (int l = 0; l < kMp4Layers; ++l) out[l] = nullptr;
    return error_add_trace(kModule, __LINE__, "mp4aenc_encode_frame",
                           scalable_encode_frame(static_cast<ScalableCoder*>(h->coder), samples));
  }
  if (!is_aac(h->objectType) || !h->coder)
    return error_create(kModule, __LINE__, nullptr, "encoder not open");
  auto* core = static_cast<AacCore*>(h->coder);
  for (int l = 0; l < kMp4Layers; ++l) out[l] = nullptr;
  out[0] = aac_core_buffer(core);
  ErrorRecord* err = aac_core_encode(core, samples, flag);
  if (sideValue) *sideValue = core->stages->bitmux_side_value(core->bitmux);
  return err ? error_add_trace(kModule, __LINE__, "mp4aenc_encode_frame", err) : nullptr;
}

ErrorRecord* mp4aenc_set_option(Mp4AEncHandle* h, const Mp4BitstreamWriter* writer) {
  if (h && is_aac(h->objectType) && h->coder) static_cast<AacCore*>(h->coder)->writer = writer;
  return nullptr;
}

ErrorRecord* mp4aenc_param_ctl(Mp4AEncHandle* h, int count, const int* keys, int* const* values, int /*reserved*/) {
  if (!h || count < 0 || (count > 0 && (!keys || !values)))
    return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (h->objectType == 6 && h->coder) {
    ErrorRecord* err = scalable_param_ctl(static_cast<ScalableCoder*>(h->coder), count, keys, values);
    return err ? error_add_trace(kModule, __LINE__, "mp4aenc_param_ctl", err) : nullptr;
  }
  if (!is_aac(h->objectType) || !h->coder) return error_create(kModule, __LINE__, nullptr, "encoder not open");
  auto* core = static_cast<AacCore*>(h->coder);
  auto* map = const_cast<AacChannelMap*>(core->map);
  const AacChannelMap before = *map;
  bool tns = false, tools = false;
  for (int i = 0; i < count; ++i) {
    const int tool = keys[i] & 0xFF;
    if (tool > kToolIntensity) return error_create(kModule, __LINE__, nullptr, "unknown tool key 0x%x", keys[i]);
    set_switch(map, tool, values[i] && *values[i] == 1);
    (tool == kToolTns ? tns : tools) = true;
  }
  map->header.elements = map->elements;
  // The model sets up noise shaping per channel: rebuilt with the new map.
  if (tns) {
    void* psy = nullptr;
    ErrorRecord* err = core->stages->psy_create(&psy, core);
    if (err) {
      *map = before;
      map->header.elements = map->elements;
      return error_add_trace(kModule, __LINE__, "mp4aenc_param_ctl", err);
    }
    core->stages->psy_free(core->psy);
    core->psy = psy;
  }
  if (tools) {
    AacToolControl* control = nullptr;
    ErrorRecord* err = tool_control_create(&control, core);
    if (err) {
      *map = before;
      map->header.elements = map->elements;
      return error_add_trace(kModule, __LINE__, "mp4aenc_param_ctl", err);
    }
    tool_control_free(core->tools);
    core->tools = control;
  }
  core->mapHeader = map->header;
  return nullptr;
}

ErrorRecord* mp4aenc_close(Mp4AEncHandle* h, AacChannelMap* map, int /*reserved*/) {
  if (!h) return nullptr;
  if (is_aac(h->objectType)) {
    aac_core_free(static_cast<AacCore*>(h->coder));
    std::free(map);
  } else if (h->objectType == 6) {
    scalable_free(static_cast<ScalableCoder*>(h->coder));
  }
  std::free(h);
  return nullptr;
}
