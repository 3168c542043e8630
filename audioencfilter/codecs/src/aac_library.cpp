#include "audioencfilter/aac_library.h"

#include <cstdio>
#include <cstdlib>

#include "audioencfilter/aac_codec.h"
#include "mp4aenc/mp4aenc.h"
#include "mp4aenc/param.h"

namespace {

// The library answers error records; the codec object wants 0 or not. The
// record's text goes to the standard error stream, where the library puts
// its messages.
int Result(ErrorRecord* err) {
  if (!err) return 0;
  std::fprintf(stderr, "AAC library: %s (%s, line %d)\n", err->message, err->file, err->line);
  error_free(err);
  return 1;
}

struct Encoder {
  Mp4AEncHandle* handle;
  LayerInfo info[kMp4Layers];
};

int Open(void** encoder, int objectType, int sampleRate, const int* layerBitrates, int* frameLength,
         void** channelMap, const int* layerChannels, const char* coreName, const int* offsets, const int* strides,
         AacLayerInfo* layerInfo) {
  auto* e = static_cast<Encoder*>(std::calloc(1, sizeof(Encoder)));
  *encoder = e;
  if (!e) return 1;
  // The codec object codes one layer.
  long bitrates[kMp4Layers] = {layerBitrates[0]};
  auto** map = reinterpret_cast<AacChannelMap**>(channelMap);
  const int r = Result(mp4aenc_open(&e->handle, objectType, sampleRate, bitrates, frameLength, 0, map, 1, 0,
                                    layerChannels, 0, coreName, offsets, strides, e->info));
  // The caller's records have no room for the header pointer; it never
  // reads it.
  for (int l = 0; l < kMp4Layers; ++l) {
    const LayerInfo& i = e->info[l];
    layerInfo[l].words[0] = i.sampleRate;
    layerInfo[l].words[1] = i.bitrate;
    layerInfo[l].words[2] = i.frameLength;
    layerInfo[l].words[3] = i.bitsPerFrame;
    layerInfo[l].words[5] = i.objectType;
  }
  return r;
}

int ParamCtl(void* encoder, int count, const int* keys, int* const* values) {
  return Result(mp4aenc_param_ctl(static_cast<Encoder*>(encoder)->handle, count, keys, values, 0));
}

int BitstreamOpen(void** writer, int format, const AacLayerInfo* layerInfo, void* channelMap) {
  *writer = nullptr;
  const auto* map = static_cast<const AacChannelMap*>(channelMap);
  // The layer records come back without their header: rebuilt from the
  // words and the map for the formats that write one.
  Mp4AudioHeader header = {};
  LayerInfo info[kMp4Layers] = {};
  const AacLayerInfo& l = layerInfo[0];
  info[0] = {l.words[0], l.words[1], l.words[2], l.words[3], 0, l.words[5], nullptr};
  if (format != 0 && map) {
    if (Result(mp4_audio_header_fill(&header, l.words[5], l.words[0], map->header.channels, l.words[2])))
      return 1;
    info[0].header = &header;
  }
  Mp4BitstreamSetup setup = {};
  setup.layers = info;
  setup.map = map;
  Mp4BitstreamWriter* w = nullptr;
  const int r = Result(mp4aenc_bitstream_open(&w, &setup, format));
  if (r) {
    mp4aenc_bitstream_close(w);
    return r;
  }
  *writer = w;
  return 0;
}

void SetOption(void* encoder, void* writer) {
  Result(mp4aenc_set_option(static_cast<Encoder*>(encoder)->handle, static_cast<Mp4BitstreamWriter*>(writer)));
}

int PrintUsed() { return param_print_used(); }

int EncodeFrame(void* encoder, const float* samples, void* layers[9]) {
  BitBuffer* out[kMp4Layers] = {};
  const int r = Result(mp4aenc_encode_frame(static_cast<Encoder*>(encoder)->handle, samples, out, nullptr, 0, 0));
  for (int l = 0; l < kMp4Layers; ++l) layers[l] = out[l];
  return r;
}

int DrainFrame(void* bitBuffer, uint8_t* out, uint32_t* bytes) {
  return Result(bitbuf_copy_bytes(static_cast<BitBuffer*>(bitBuffer), bytes, out));
}

int BitstreamWrite(void* writer, void* layers[9], uint8_t* out, uint32_t* bytes) {
  BitBuffer* in[kMp4Layers] = {};
  for (int l = 0; l < kMp4Layers; ++l) in[l] = static_cast<BitBuffer*>(layers[l]);
  // The codec object's area holds one frame beyond its capacity.
  return Result(mp4aenc_bitstream_write(static_cast<Mp4BitstreamWriter*>(writer), in, nullptr, out,
                                        kAacMaxFrameBytes, bytes));
}

int Close(void* encoder, void* channelMap) {
  auto* e = static_cast<Encoder*>(encoder);
  const int r = Result(mp4aenc_close(e ? e->handle : nullptr, static_cast<AacChannelMap*>(channelMap), 0));
  std::free(e);
  return r;
}

void BitstreamClose(void* writer) { Result(mp4aenc_bitstream_close(static_cast<Mp4BitstreamWriter*>(writer))); }

const AacLibrary kMp4AEnc = {Open,        ParamCtl,   BitstreamOpen,  SetOption, PrintUsed,
                             EncodeFrame, DrainFrame, BitstreamWrite, Close,     BitstreamClose};

// The AAC encoder library (null given back to UseAacLibrary restores it).
const AacLibrary* g_library = &kMp4AEnc;

}  // namespace

const AacLibrary* AacLibraryInProduct() { return g_library; }

void UseAacLibrary(const AacLibrary* library) { g_library = library ? library : &kMp4AEnc; }
