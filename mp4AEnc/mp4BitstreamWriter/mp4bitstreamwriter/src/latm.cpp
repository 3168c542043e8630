// LATM in LOAS sync frames: AudioMuxVersion 0, one program and one layer,
// frame length type 0. The stream configuration goes with the first frame
// and then every kLatmConfigPeriod frames, so that a decoder can join.
#include "writer.h"

namespace {

const char kModule[] = "mp4AEnc/mp4BitstreamWriter/mp4bitstreamwriter/src/latm";

long config_bits(const Mp4BitstreamWriter* w) {
  // version, same time framing, subframes, programs, layers, config, frame
  // length type, buffer fullness, other data, crc
  return 1 + 1 + 6 + 4 + 3 + w->headers[0].bits + 3 + 8 + 1 + 1;
}

}  // namespace

ErrorRecord* latm_open(Mp4BitstreamWriter* w) {
  if (w->headers[0].bits <= 0) return error_create(kModule, __LINE__, nullptr, "no audio header for layer 0");
  return nullptr;
}

long latm_overhead_bits(const Mp4BitstreamWriter* w, long frameBits) {
  const long payloadBytes = (frameBits + 7) / 8;
  long bits = 11 + 13 + 1 + 8 * (payloadBytes / 255 + 1);
  if (w->latmFrames % kLatmConfigPeriod == 0) bits += config_bits(w);
  return bits + 7;  // the closing byte alignment at most
}

ErrorRecord* latm_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], uint8_t* out, uint32_t capacity,
                        uint32_t* bytes) {
  BitBuffer* in = layers[0];
  if (!in) return nullptr;
  uint32_t written = 0;
  while (bitbuf_pending_frames(in) > 0) {
    const long length = in->frameLengths[in->frameHead];
    if (length % 8) return error_create(kModule, __LINE__, nullptr, "LATM byte allignment error");
    const bool config = w->latmFrames % kLatmConfigPeriod == 0;
    const long total = (latm_overhead_bits(w, length) + length) / 8;
    if (total - 3 > 8191) return error_create(kModule, __LINE__, nullptr, "frame too long for a LOAS sync frame");
    if (!out || written + uint32_t(total) > capacity)
      return error_create(kModule, __LINE__, nullptr, "output does not fit in %u bytes", capacity);
    BitBuffer* o = w->out;
    bitbuf_reset(o);
    bitbuf_write_bits(o, 0x2B7, 11);
    bitbuf_write_bits(o, 0, 13);  // patched below
    bitbuf_write_bits(o, config ? 0 : 1, 1);  // useSameStreamMux
    if (config) {
      bitbuf_write_bits(o, 0, 1);  // audioMuxVersion
      bitbuf_write_bits(o, 1, 1);  // allStreamsSameTimeFraming
      bitbuf_write_bits(o, 0, 6);  // numSubFrames - 1
      bitbuf_write_bits(o, 0, 4);  // numProgram - 1
      bitbuf_write_bits(o, 0, 3);  // numLayer - 1
      const Mp4AudioHeader& h = w->headers[0];
      for (int b = 0; b < h.bits; b += 8) {
        const int n = h.bits - b < 8 ? h.bits - b : 8;
        bitbuf_write_bits(o, uint32_t(h.bytes[b / 8] >> (8 - n)), n);
      }
      bitbuf_write_bits(o, 0, 3);     // frameLengthType
      bitbuf_write_bits(o, 0xFF, 8);  // latmBufferFullness: variable rate
      bitbuf_write_bits(o, 0, 1);     // otherDataPresent
      bitbuf_write_bits(o, 0, 1);     // crcCheckPresent
    }
    for (long left = length / 8; ; left -= 255) {
      bitbuf_write_bits(o, uint32_t(left >= 255 ? 255 : left), 8);
      if (left < 255) break;
    }
    long taken = 0;
    ErrorRecord* err = writer_take_frame(w, in, kModule, __LINE__, "LATM byte allignment error", &taken);
    if (err) {
      bitbuf_reset(o);
      return err;
    }
    const long pad = (8 - bitbuf_bit_count(o) % 8) % 8;
    bitbuf_write_bits(o, 0, int(pad));
    const uint32_t frameBytes = uint32_t(bitbuf_bit_count(o) / 8);
    uint32_t n = 0;
    err = writer_flush(w, out + written, capacity - written, &n, kModule, __LINE__);
    if (err) return err;
    // audioMuxLengthBytes: what follows the 3-byte sync header.
    const uint32_t muxBytes = frameBytes - 3;
    out[written + 1] = uint8_t((out[written + 1] & 0xE0) | (muxBytes >> 8));
    out[written + 2] = uint8_t(muxBytes);
    written += n;
    *bytes = written;
    ++w->latmFrames;
  }
  return nullptr;
}
