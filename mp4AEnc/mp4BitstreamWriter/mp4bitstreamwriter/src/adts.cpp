#include <cstring>

#include "writer.h"

namespace {

const char kModule[] = "mp4AEnc/mp4BitstreamWriter/mp4bitstreamwriter/src/adts";

// Bit offsets inside the 56-bit header.
constexpr int kLengthBit = 30;
constexpr int kBlocksBit = 54;

void patch(uint8_t* bytes, int bit, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i, ++bit) {
    const uint8_t mask = uint8_t(0x80 >> (bit % 8));
    bytes[bit / 8] = ((value >> i) & 1u) ? (bytes[bit / 8] | mask) : (bytes[bit / 8] & ~mask);
  }
}

}  // namespace

ErrorRecord* adts_open(Mp4BitstreamWriter* w, const Mp4BitstreamSetup* s) {
  const Mp4AudioHeader& h = w->headers[0];
  w->blocks = s->blocksPerFrame ? s->blocksPerFrame : 1;
  if (w->blocks < 1 || w->blocks > 4) return error_create(kModule, __LINE__, nullptr, "wrong number of blocks in frame");
  w->crc = s->crc != 0;
  if (w->crc && w->blocks > 1)
    return error_create(kModule, __LINE__, nullptr, "CRC check in combination with blocksPerFrame > 1 not supported");
  if (aac_sampling_index(h.sampleRate) < 0)
    return error_create(kModule, __LINE__, nullptr, "sample rate %ld has no index in an ADTS header", h.sampleRate);
  if (h.objectType < 1 || h.objectType > 4)
    return error_create(kModule, __LINE__, nullptr, "audio object type %d has no ADTS profile", h.objectType);
  w->privateBit = s->privateBit != 0;
  w->originalCopy = s->originalCopy != 0;
  w->home = s->home != 0;
  if (s->copyrightId) {
    w->copyright = true;
    std::memcpy(w->copyrightId, s->copyrightId, 9);
  }
  w->channelConfiguration = h.channels == 8 ? 7 : h.channels;
  if (s->matrixMixdown && !s->speakers)
    return error_create(kModule, __LINE__, nullptr, "Matrix mixdown needs a speaker string");
  if (s->speakers) {
    if (!w->hasMap) return error_create(kModule, __LINE__, nullptr, "null pointer");
    ErrorRecord* err = pce_from_speakers(&w->pce, &w->map, s->speakers);
    if (err) return error_add_trace(kModule, __LINE__, "adts_open", err);
    if (s->matrixMixdown) {
      if (h.channels != 5 && h.channels != 6)
        return error_create(kModule, __LINE__, nullptr, "Matrix mixdown is only for 5 or 6 channels allowed!");
      w->pce.matrixMixdown = 1;
      w->pce.matrixIndex = s->matrixIndex & 3;
      w->pce.pseudoSurround = s->pseudoSurround != 0;
    }
    w->pce.objectType = h.objectType - 1;
    w->pce.samplingIndex = aac_sampling_index(h.sampleRate);
    w->usePce = true;
    w->channelConfiguration = 0;
  }
  return nullptr;
}

long adts_header_bits(const Mp4BitstreamWriter* w) { return w->crc ? 72 : 56; }

// One frame (and, with several blocks per frame, one block) per pending raw
// frame of layer 0. A group is handed out when its last block is in.
ErrorRecord* adts_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], const long* values, uint8_t* out,
                        uint32_t capacity, uint32_t* bytes) {
  BitBuffer* in = layers[0];
  // No buffer: hand out a group cut short (its block count is corrected).
  if (!in) {
    if (w->blockCount == 0) return nullptr;
    if (w->group.size() > capacity || !out)
      return error_create(kModule, __LINE__, nullptr, "output of %lu bytes does not fit",
                          static_cast<unsigned long>(w->group.size()));
    patch(w->group.data(), kBlocksBit, uint32_t(w->blockCount - 1), 2);
    std::memcpy(out, w->group.data(), w->group.size());
    *bytes = uint32_t(w->group.size());
    w->group.clear();
    w->blockCount = 0;
    return nullptr;
  }
  const Mp4AudioHeader& h = w->headers[0];
  uint32_t written = 0;
  while (bitbuf_pending_frames(in) > 0) {
    const long length = in->frameLengths[in->frameHead];
    if (length % 8) return error_create(kModule, __LINE__, nullptr, "ADTS stream not byte alligned");
    const bool first = w->blockCount == 0;
    const long pceBits = w->usePce && first ? 3 + pce_bits(&w->pce, (first ? adts_header_bits(w) : 0) + 3) : 0;
    // The element is followed by the frame, which must start on a byte.
    const long pcePad = (8 - pceBits % 8) % 8;
    if (pcePad) return error_create(kModule, __LINE__, nullptr, "ADTS stream not byte alligned");
    BitBuffer* o = w->out;
    bitbuf_reset(o);
    if (first) {
      const long frameBytes = adts_header_bits(w) / 8 + (pceBits + length) / 8;
      if (frameBytes > 8191) return error_create(kModule, __LINE__, nullptr, "frame of %ld bytes too long for ADTS", frameBytes);
      uint32_t fullness = 0x7FF;  // variable rate
      if (values) {
        const long channels = h.channels > 0 ? h.channels : 1;
        const long f = values[0] / (32 * channels);
        fullness = uint32_t(f < 0 ? 0 : f > 0x7FE ? 0x7FE : f);
      }
      int copyrightBit = 0, copyrightStart = 0;
      if (w->copyright) {
        copyrightStart = w->copyrightBit == 0;
        copyrightBit = (w->copyrightId[w->copyrightBit / 8] >> (7 - w->copyrightBit % 8)) & 1;
        w->copyrightBit = (w->copyrightBit + 1) % 72;
      }
      bitbuf_crc_enable(o, w->crc);
      bitbuf_crc_set_polynomial(o, 0x8005, 0x8000);
      bitbuf_crc_set_register(o, 0xFFFF);
      bitbuf_crc_all_bits(o, 1);
      bitbuf_write_bits(o, 0xFFF, 12);
      // MPEG-2 ids for the object types MPEG-2 AAC has; long-term prediction
      // exists only in MPEG-4, where profile 3 means it.
      bitbuf_write_bits(o, h.objectType == 4 ? 0 : 1, 1);
      bitbuf_write_bits(o, 0, 2);
      bitbuf_write_bits(o, w->crc ? 0 : 1, 1);
      bitbuf_write_bits(o, uint32_t(h.objectType - 1), 2);
      bitbuf_write_bits(o, uint32_t(aac_sampling_index(h.sampleRate)), 4);
      bitbuf_write_bits(o, uint32_t(w->privateBit), 1);
      bitbuf_write_bits(o, uint32_t(w->channelConfiguration), 3);
      bitbuf_write_bits(o, uint32_t(w->originalCopy), 1);
      bitbuf_write_bits(o, uint32_t(w->home), 1);
      bitbuf_write_bits(o, uint32_t(copyrightBit), 1);
      bitbuf_write_bits(o, uint32_t(copyrightStart), 1);
      bitbuf_write_bits(o, uint32_t(frameBytes), 13);
      bitbuf_write_bits(o, fullness, 11);
      bitbuf_write_bits(o, uint32_t(w->blocks - 1), 2);
      // The rest enters the CRC through its recorded regions: the whole
      // program configuration element (after its id), then the first 192
      // bits of each channel element from its instance tag and the first
      // 128 of a pair's second channel, as the multiplexer marked them.
      bitbuf_crc_all_bits(o, 0);
      bitbuf_crc_enable(o, 0);
      if (w->crc) bitbuf_crc_reserve(o, 16);
      if (pceBits) {
        bitbuf_write_bits(o, 5, 3);
        bitbuf_crc_set_region(o, pceBits - 3);
        pce_write(o, &w->pce, 0);
        bitbuf_crc_close_region(o);
      }
    }
    long taken = 0;
    ErrorRecord* err = writer_take_frame(w, in, kModule, __LINE__, "ADTS stream not byte alligned", &taken);
    if (err) {
      bitbuf_reset(o);
      return err;
    }
    if (w->crc) {
      bitbuf_crc_feed_regions(o);
      bitbuf_crc_store(o);
    }
    // Into the group being built.
    const size_t at = w->group.size();
    w->group.resize(at + size_t(bitbuf_bit_count(o) / 8));
    uint32_t n = 0;
    writer_flush(w, w->group.data() + at, uint32_t(w->group.size() - at), &n, kModule, __LINE__);
    ++w->blockCount;
    if (!first) {
      // The frame length covers every block.
      patch(w->group.data(), kLengthBit, uint32_t(w->group.size()), 13);
    }
    if (w->blockCount == w->blocks) {
      if (written + w->group.size() > capacity || !out) {
        w->group.clear();
        w->blockCount = 0;
        return error_create(kModule, __LINE__, nullptr, "output does not fit in %u bytes", capacity);
      }
      std::memcpy(out + written, w->group.data(), w->group.size());
      written += uint32_t(w->group.size());
      *bytes = written;
      w->group.clear();
      w->blockCount = 0;
    }
  }
  return nullptr;
}
