// The AAC encoder library's entry layer: open an encoder for an MPEG-4
// audio object type, feed one frame of float samples per call, close. The
// output formats are the bitstream writer's (mp4aenc/bitstream.h). Every
// call answers an ErrorRecord: null is success.
#pragma once

#include <cstdint>

#include "mp4aenc/aaccore.h"
#include "mp4aenc/bitstream.h"
#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"

struct Mp4AEncHandle {
  int32_t objectType;
  void* coder;          // AacCore for types 2 and 4
  int32_t layers;
  int32_t layerIndex;   // 0 after open
  Mp4AudioHeader header;  // layer 0's, pointed to by LayerInfo[0].header
};

// Tool keys of mp4aenc_param_ctl (the low byte counts).
enum Mp4AEncToolKey {
  kToolTns = 0,
  kToolPns = 1,
  kToolPrediction = 2,
  kToolLtp = 3,
  kToolMidSide = 4,
  kToolIntensity = 5,
};

// Opens an encoder. Object types 2 (LC), 4 (LTP) and 6 (scalable; not built
// here) are accepted; *handle is stored even when opening fails and must
// then only be closed. A null *map is built from channels[0] and stored.
// The frame length becomes 960 when the core name contains "CELP" or "AMR",
// else 1024. With "NO_CORE" in the name a first bitrate of 0 becomes
// 128000. Layer bitrates and channel counts must not decrease.
ErrorRecord* mp4aenc_open(Mp4AEncHandle** handle, int objectType, long sampleRate, long* bitrates,
                          int* frameLength, int reserved, AacChannelMap** map, int layerCount, int firstAacLayer,
                          const int* channels, int reserved2, const char* coreName, const int* offsets,
                          const int* strides, LayerInfo* layerInfo);
// One frame. out[0] becomes the core's bit buffer, holding one more pending
// frame; out[1..8] are cleared. *sideValue (when given) receives the
// multiplexer's side value.
ErrorRecord* mp4aenc_encode_frame(Mp4AEncHandle* handle, const float* samples, BitBuffer* out[kMp4Layers],
                                  long* sideValue, int reserved, int flag);
// Hands the writer to the core for the header bits of its budget.
ErrorRecord* mp4aenc_set_option(Mp4AEncHandle* handle, const Mp4BitstreamWriter* writer);
// Switches tools on every element (value 1 on, anything else off), then
// rebuilds what depends on them. A rebuild that fails leaves the switches
// and the tools as they were.
ErrorRecord* mp4aenc_param_ctl(Mp4AEncHandle* handle, int count, const int* keys, int* const* values,
                               int reserved);
// Frees the coder, the map (types 2 and 4; pass the one open built) and the
// handle. Null is accepted.
ErrorRecord* mp4aenc_close(Mp4AEncHandle* handle, AacChannelMap* map, int reserved);
