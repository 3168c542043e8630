// The bitstream writer's state, shared by its format modules.
#pragma once

#include <cstdint>
#include <vector>

#include "mp4aenc/bitstream.h"
#include "mp4aenc/prconfig.h"

struct IsoMp4Calls;
struct Mp4FileState;

struct Mp4BitstreamWriter {
  int format = 0;
  LayerInfo layers[kMp4Layers] = {};
  Mp4AudioHeader headers[kMp4Layers] = {};
  bool hasHeader[kMp4Layers] = {};
  int layerCount = 0;  // layers with a header
  AacChannelMap map = {};
  bool hasMap = false;
  BitBuffer* out = nullptr;  // framing of one write

  // ADTS
  int crc = 0, blocks = 1, privateBit = 0, originalCopy = 0, home = 0;
  bool copyright = false;
  uint8_t copyrightId[9] = {};
  int copyrightBit = 0;  // next bit of the 72-bit id
  ProgramConfig pce = {};
  bool usePce = false;
  int channelConfiguration = 0;
  int blockCount = 0;                // blocks of the group being built
  std::vector<uint8_t> group;        // bytes of that group so far
  // ADIF
  bool adifHeaderDone = false;
  int variableRate = 0;
  // LATM
  long latmFrames = 0;
  // MP4
  Mp4FileState* file = nullptr;
};

// Copies the oldest pending frame of `in` into the writer's buffer, failing
// with `unaligned` (and taking nothing) when its length is not whole bytes.
ErrorRecord* writer_take_frame(Mp4BitstreamWriter* w, BitBuffer* in, const char* module, int line,
                               const char* unaligned, long* bits);
// Moves the writer's buffer out as bytes; fails when they exceed capacity.
ErrorRecord* writer_flush(Mp4BitstreamWriter* w, uint8_t* out, uint32_t capacity, uint32_t* bytes,
                          const char* module, int line);

ErrorRecord* adts_open(Mp4BitstreamWriter* w, const Mp4BitstreamSetup* setup);
ErrorRecord* adts_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], const long* values, uint8_t* out,
                        uint32_t capacity, uint32_t* bytes);
long adts_header_bits(const Mp4BitstreamWriter* w);

ErrorRecord* adif_open(Mp4BitstreamWriter* w, const Mp4BitstreamSetup* setup);
ErrorRecord* adif_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], uint8_t* out, uint32_t capacity,
                        uint32_t* bytes);

ErrorRecord* latm_open(Mp4BitstreamWriter* w);
ErrorRecord* latm_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], uint8_t* out, uint32_t capacity,
                        uint32_t* bytes);
long latm_overhead_bits(const Mp4BitstreamWriter* w, long frameBits);
constexpr long kLatmConfigPeriod = 8;

ErrorRecord* mp4file_open(Mp4BitstreamWriter* w, const char* fileName);
ErrorRecord* mp4file_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers]);
ErrorRecord* mp4file_close(Mp4BitstreamWriter* w);
