// The bitstream writer: turns the frames pending in the per-layer bit
// buffers into one stream format.
//   0 none (the caller drains the buffers), 1 ADIF, 2 ADTS, 3 refused,
//   4 LATM/LOAS, 5 audio-only MP4 file (through libisomp4), other refused.
#pragma once

#include <cstdint>

#include "mp4aenc/bitbuf.h"
#include "mp4aenc/chanmap.h"
#include "mp4aenc/error.h"

constexpr int kMp4Layers = 9;

// A layer's AudioSpecificConfig: object type, sampling frequency index (or
// 15 and the rate), channel configuration, GASpecificConfig.
struct Mp4AudioHeader {
  uint8_t bytes[16];
  int bits;
  int objectType;
  long sampleRate;
  int channels;
};

// One entry per layer, written by the encoder at open.
struct LayerInfo {
  int32_t sampleRate;
  int32_t bitrate;
  int32_t frameLength;
  int32_t bitsPerFrame;  // bitrate x frame length / sample rate
  int32_t reserved;
  int32_t objectType;    // written into stream headers
  Mp4AudioHeader* header;  // valid until the encoder is closed
};

// Fills the header from rate, channel count (8 is written as 7; 7, more than
// 8 or fewer than 0 fail with "Invalid channel number") and object type.
ErrorRecord* mp4_audio_header_fill(Mp4AudioHeader* header, int objectType, long sampleRate, int channels,
                                   int frameLength);

// What the writer is opened with: the encoder's layers and map, the output
// file (formats 1, 2, 4 write bytes to the caller; 5 writes the file at
// close) and the ADTS/ADIF options.
struct Mp4BitstreamSetup {
  const char* fileName;         // format 5
  const LayerInfo* layers;      // 9 entries
  const AacChannelMap* map;
  // ADTS
  int crc;                      // protection on
  int blocksPerFrame;           // 1 to 4 (0 = 1)
  int privateBit, originalCopy, home;
  const char* speakers;         // 'F', 'S', 'B' per channel: adds a program configuration
  int matrixMixdown;            // with speakers: 5 or 6 channels only
  int matrixIndex, pseudoSurround;
  const uint8_t* copyrightId;   // 9 bytes (72 bits), or null
  // ADIF
  int variableRate;
};

struct Mp4BitstreamWriter;

// Every failure is a record. For formats 3 and 6 and up the handle is still
// returned (format recorded; writes fail the same way) and must be closed.
ErrorRecord* mp4aenc_bitstream_open(Mp4BitstreamWriter** writer, const Mp4BitstreamSetup* setup, int format);
// Writes what is pending in the layers' buffers (formats 1, 2 and 4 at most
// `capacity` bytes to out; format 0 nothing). layerValues[l], when given, is
// layer l's reservoir fill in bits (the ADTS buffer fullness).
ErrorRecord* mp4aenc_bitstream_write(Mp4BitstreamWriter* writer, BitBuffer* layers[kMp4Layers],
                                     const long* layerValues, uint8_t* out, uint32_t capacity, uint32_t* bytes);
// Finishes (format 5: writes the file) and frees. Null is accepted.
ErrorRecord* mp4aenc_bitstream_close(Mp4BitstreamWriter* writer);
int mp4aenc_bitstream_format(const Mp4BitstreamWriter* writer);

// Header bits per frame: ADTS 56 or 72, LATM the multiplex overhead of an
// average frame, else 0.
long header_bits(const Mp4BitstreamWriter* writer);
// LATM: the overhead for a frame of that many bits; 0 for other formats.
long header_bits_for_length(const Mp4BitstreamWriter* writer, long frameBits);
// LATM: frames between two repeats of the stream configuration; else 0.
long header_latm_config_period(const Mp4BitstreamWriter* writer);
