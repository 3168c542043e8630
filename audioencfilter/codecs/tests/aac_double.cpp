#include "aac_double.h"

#include <cstring>

AacDouble* AacDouble::current = nullptr;

namespace {

struct BitBufferDouble {
  uint32_t pending = 0;  // bytes of the one pending frame
  uint8_t fill = 0;
};
BitBufferDouble g_buffer;
int g_encoder;
int g_writer;
int g_map;

int open(void** encoder, int objectType, int sampleRate, const int* bitrates, int* frameLength, void** map,
         const int* channels, const char* coreName, const int* offsets, const int* strides, AacLayerInfo* info) {
  AacDouble& d = *AacDouble::current;
  d.objectType = objectType;
  d.sampleRate = sampleRate;
  d.bitrate = bitrates[0];
  d.channels = channels[0];
  d.coreName = coreName;
  d.offsets.assign(offsets, offsets + channels[0]);
  d.strides.assign(strides, strides + channels[0]);
  *encoder = &g_encoder;
  *frameLength = 1024;
  // The library opens only LC, LTP and scalable.
  if (d.failOpen || (objectType != 2 && objectType != 4 && objectType != 6)) return 1;
  *map = &g_map;
  info[0].words[0] = sampleRate;
  return 0;
}
int paramCtl(void*, int count, const int* keys, int* const* values) {
  for (int i = 0; i < count; ++i)
    if (*values[i] == 1) AacDouble::current->keys.push_back(keys[i]);
  return 0;
}
int bitstreamOpen(void** writer, int format, const AacLayerInfo*, void*) {
  AacDouble::current->bitstreamFormat = format;
  *writer = &g_writer;
  return 0;
}
void setOption(void*, void* writer) { AacDouble::current->optionSet = writer == &g_writer; }
int printUsed() {
  AacDouble::current->printed = true;
  return 0;
}
int encodeFrame(void*, const float* samples, void* layers[9]) {
  AacDouble& d = *AacDouble::current;
  if (d.failEncode) return 1;
  if (d.encodeCalls++ == 0) d.firstFrame.assign(samples, samples + 1024 * d.channels);
  g_buffer.pending = d.frameBytes;
  g_buffer.fill = uint8_t(d.encodeCalls);
  layers[0] = &g_buffer;
  for (int i = 1; i < 9; ++i) layers[i] = nullptr;
  return 0;
}
int drainFrame(void* buffer, uint8_t* out, uint32_t* bytes) {
  auto* b = static_cast<BitBufferDouble*>(buffer);
  *bytes = b->pending;
  std::memset(out, b->fill, b->pending);
  b->pending = 0;
  return 0;
}
int bitstreamWrite(void*, void**, uint8_t*, uint32_t* bytes) {
  *bytes = 0;
  return 1;
}
int close(void*, void*) {
  AacDouble::current->closed = true;
  return 0;
}
void bitstreamClose(void*) { AacDouble::current->writerClosed = true; }

}  // namespace

const AacLibrary AacDouble::table = {open,        paramCtl,   bitstreamOpen,  setOption, printUsed,
                                     encodeFrame, drainFrame, bitstreamWrite, close,     bitstreamClose};
