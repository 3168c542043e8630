#include <cstring>
#include <new>

#include "writer.h"

namespace {

const char kModule[] = "mp4AEnc/mp4BitstreamWriter/mp4bitstreamwriter/src/bitstream";

// Room for one framing of every layer: the largest AAC frame is 6144 bits
// per channel, 8 channels, plus headers.
constexpr long kOutputBits = 8 * 6144 * 9 + 8192;

ErrorRecord* unsupported(int format, int line) {
  return error_create(kModule, line, nullptr, format == 3 ? "File format not yet supported" : "File format not supported");
}

void put_bits(uint8_t* bytes, int* bit, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i, ++*bit)
    if ((value >> i) & 1u) bytes[*bit / 8] |= uint8_t(0x80 >> (*bit % 8));
}

}  // namespace

ErrorRecord* mp4_audio_header_fill(Mp4AudioHeader* h, int objectType, long sampleRate, int channels,
                                   int frameLength) {
  if (!h) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (channels < 0 || channels == 7 || channels > 8)
    return error_create(kModule, __LINE__, nullptr, "Invalid channel number");
  std::memset(h, 0, sizeof *h);
  int bit = 0;
  put_bits(h->bytes, &bit, uint32_t(objectType), 5);
  const int index = aac_sampling_index(sampleRate);
  if (index >= 0) {
    put_bits(h->bytes, &bit, uint32_t(index), 4);
  } else {
    put_bits(h->bytes, &bit, 15, 4);
    put_bits(h->bytes, &bit, uint32_t(sampleRate), 24);
  }
  put_bits(h->bytes, &bit, uint32_t(channels == 8 ? 7 : channels), 4);
  // GASpecificConfig: frame length flag, depends on core coder, extension.
  put_bits(h->bytes, &bit, frameLength == 960 ? 1u : 0u, 1);
  put_bits(h->bytes, &bit, 0, 1);
  put_bits(h->bytes, &bit, 0, 1);
  h->bits = bit;
  h->objectType = objectType;
  h->sampleRate = sampleRate;
  h->channels = channels;
  return nullptr;
}

ErrorRecord* writer_take_frame(Mp4BitstreamWriter* w, BitBuffer* in, const char* module, int line,
                               const char* unaligned, long* bits) {
  if (!in || bitbuf_pending_frames(in) == 0) return error_create(module, line, nullptr, "no frame pending");
  const long length = in->frameLengths[in->frameHead];
  if (length % 8) return error_create(module, line, nullptr, "%s", unaligned);
  if (length > bitbuf_bit_count(in)) return error_create(module, line, nullptr, "frame longer than the bits held");
  if (bitbuf_bit_count(w->out) + length > w->out->capacity)
    return error_create(module, line, nullptr, "frame of %ld bits does not fit", length);
  long popped = 0;
  bitbuf_pop_count(in, &popped);
  bitbuf_copy_from(w->out, in, length);
  *bits = length;
  return nullptr;
}

ErrorRecord* writer_flush(Mp4BitstreamWriter* w, uint8_t* out, uint32_t capacity, uint32_t* bytes,
                          const char* module, int line) {
  const long bits = bitbuf_bit_count(w->out);
  const uint32_t n = uint32_t((bits + 7) / 8);
  if (!out || n > capacity) {
    bitbuf_reset(w->out);
    return error_create(module, line, nullptr, "output of %u bytes does not fit in %u", n, capacity);
  }
  uint32_t i = 0;
  for (long left = bits; left > 0; left -= 8) {
    const int take = left >= 8 ? 8 : int(left);
    uint32_t v = 0;
    bitbuf_read_bits(w->out, take, &v);
    out[i++] = uint8_t(v << (8 - take));
  }
  bitbuf_reset(w->out);
  *bytes += n;
  return nullptr;
}

ErrorRecord* mp4aenc_bitstream_open(Mp4BitstreamWriter** writer, const Mp4BitstreamSetup* setup, int format) {
  if (!writer) return error_create(kModule, __LINE__, nullptr, "null pointer");
  *writer = new (std::nothrow) Mp4BitstreamWriter;
  Mp4BitstreamWriter* w = *writer;
  if (!w) return error_create(kModule, __LINE__, nullptr, "out of memory");
  w->format = format;
  if (format == 0) return nullptr;
  if (format == 3 || format < 0 || format > 5) return unsupported(format, __LINE__);
  if (!setup || !setup->layers) return error_create(kModule, __LINE__, nullptr, "null pointer");
  for (int l = 0; l < kMp4Layers; ++l) {
    w->layers[l] = setup->layers[l];
    if (setup->layers[l].header) {
      w->headers[l] = *setup->layers[l].header;
      w->hasHeader[l] = true;
      w->layerCount = l + 1;
    }
    w->layers[l].header = nullptr;
  }
  if (w->layerCount == 0) return error_create(kModule, __LINE__, nullptr, "no layer with an audio header");
  if (setup->map) {
    w->map = *setup->map;
    w->map.header.elements = w->map.elements;
    w->hasMap = true;
  }
  w->out = bitbuf_create(kOutputBits);
  if (!w->out) return error_create(kModule, __LINE__, nullptr, "out of memory");
  ErrorRecord* err = nullptr;
  switch (format) {
    case 1: err = adif_open(w, setup); break;
    case 2: err = adts_open(w, setup); break;
    case 4: err = latm_open(w); break;
    case 5: err = mp4file_open(w, setup->fileName); break;
    default: break;
  }
  return err ? error_add_trace(kModule, __LINE__, "mp4aenc_bitstream_open", err) : nullptr;
}

ErrorRecord* mp4aenc_bitstream_write(Mp4BitstreamWriter* w, BitBuffer* layers[kMp4Layers], const long* values,
                                     uint8_t* out, uint32_t capacity, uint32_t* bytes) {
  if (bytes) *bytes = 0;
  if (!w || !bytes) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (w->format == 0) return nullptr;
  if (w->format == 3 || w->format < 0 || w->format > 5) return unsupported(w->format, __LINE__);
  if (!w->out) return error_create(kModule, __LINE__, nullptr, "writer not open");
  BitBuffer* none[kMp4Layers] = {};
  if (!layers) layers = none;
  ErrorRecord* err = nullptr;
  switch (w->format) {
    case 1: err = adif_write(w, layers, out, capacity, bytes); break;
    case 2: err = adts_write(w, layers, values, out, capacity, bytes); break;
    case 4: err = latm_write(w, layers, out, capacity, bytes); break;
    case 5: err = mp4file_write(w, layers); break;
    default: break;
  }
  return err ? error_add_trace(kModule, __LINE__, "mp4aenc_bitstream_write", err) : nullptr;
}

ErrorRecord* mp4aenc_bitstream_close(Mp4BitstreamWriter* w) {
  if (!w) return nullptr;
  ErrorRecord* err = nullptr;
  if (w->format == 5) err = mp4file_close(w);
  bitbuf_free(w->out);
  delete w;
  return err ? error_add_trace(kModule, __LINE__, "mp4aenc_bitstream_close", err) : nullptr;
}

int mp4aenc_bitstream_format(const Mp4BitstreamWriter* w) { return w ? w->format : -1; }

long header_bits(const Mp4BitstreamWriter* w) {
  if (!w) return 0;
  if (w->format == 2) return adts_header_bits(w);
  if (w->format == 4) return latm_overhead_bits(w, w->layers[0].bitsPerFrame);
  return 0;
}

long header_bits_for_length(const Mp4BitstreamWriter* w, long frameBits) {
  return w && w->format == 4 ? latm_overhead_bits(w, frameBits) : 0;
}

long header_latm_config_period(const Mp4BitstreamWriter* w) {
  return w && w->format == 4 ? kLatmConfigPeriod : 0;
}
