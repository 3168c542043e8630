#include "mp4aenc/scalable.h"

#include <cstdlib>
#include <cstring>

#include "mp4aenc/chanmap.h"

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
