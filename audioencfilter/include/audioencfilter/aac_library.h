// The calls the AAC codec object makes into the AAC encoder library, as one
// table, bound to the mp4aenc_* calls. When the library's open fails the AAC
// codec object refuses to initialise (the filter reports AUDENC_E_AAC_INIT).
// Tests hand the codec object a double. Portable.
#pragma once

#include <cstdint>

struct AacLayerInfo {
  int32_t words[7];  // rate, bitrate, frame length, bits per frame, -, object type, header record
};

struct AacLibrary {
  // 0 on success. *encoder is set even on failure (and then not used).
  int (*open)(void** encoder, int objectType, int sampleRate, const int* layerBitrates, int* frameLength,
              void** channelMap, const int* layerChannels, const char* coreName, const int* offsets,
              const int* strides, AacLayerInfo* layerInfo);
  // One tool switch per entry (the key's low byte names the tool); 0 on success.
  int (*paramCtl)(void* encoder, int count, const int* keys, int* const* values);
  // 0 on success; format 0 writes nothing.
  int (*bitstreamOpen)(void** writer, int format, const AacLayerInfo* layerInfo, void* channelMap);
  void (*setOption)(void* encoder, void* writer);
  int (*printUsed)();
  // One frame of float samples; layers[0] receives the core's bit buffer.
  int (*encodeFrame)(void* encoder, const float* samples, void* layers[9]);
  // Moves one pending frame of the bit buffer out as bytes; *bytes 0 when none.
  int (*drainFrame)(void* bitBuffer, uint8_t* out, uint32_t* bytes);
  // One framed access unit for formats other than 0.
  int (*bitstreamWrite)(void* writer, void* layers[9], uint8_t* out, uint32_t* bytes);
  int (*close)(void* encoder, void* channelMap);
  void (*bitstreamClose)(void* writer);
};

// The library the product's AAC codec object uses.
const AacLibrary* AacLibraryInProduct();
// Replaces the table for codec objects created from now on (tests that run
// the filter in-process over a double of the library); null restores the
// library.
void UseAacLibrary(const AacLibrary* library);
