// The framing header ahead of each frame (framing mode 2): sync, channel
// bit, frame length, a 5-bit counter and a CRC-16 over every bit of the frame.
#include <cstdlib>

#include "mp4aenc/bitmux.h"

namespace {
const char kModule[] = "mp4AEnc/mp4bitmux/src/framing";
}

ErrorRecord* aac_framing_create(AacFramingHeader** out) {
  *out = static_cast<AacFramingHeader*>(std::calloc(1, sizeof(AacFramingHeader)));
  if (!*out) return error_create(kModule, __LINE__, nullptr, "out of memory");
  (*out)->protection = 1;
  return nullptr;
}

void aac_framing_free(AacFramingHeader* h) { std::free(h); }

long aac_framing_bits(const AacFramingHeader* h) { return h ? 48 : 0; }

ErrorRecord* aac_framing_write(AacFramingHeader* h, BitBuffer* b, long frameBytes, int samplingIndex, int channels) {
  if (channels != 1 && channels != 2) return error_create(kModule, __LINE__, nullptr, "invalid nr Channels");
  if (h->protection) {
    bitbuf_crc_enable(b, 1);
    bitbuf_crc_set_polynomial(b, 0x8005, 0x8000);
    bitbuf_crc_set_register(b, 0xFFFFFFFFu);
    bitbuf_crc_all_bits(b, 1);
  }
  h->start = bitbuf_bit_position(b);
  bitbuf_write_bits(b, 0xFFF, 12);
  bitbuf_write_bits(b, channels == 2 ? 1u : 0u, 1);
  bitbuf_write_bits(b, uint32_t(frameBytes) & 0x1FFFu, 13);
  bitbuf_write_bits(b, uint32_t(h->counter), 5);
  if (h->protection) bitbuf_crc_reserve(b, 16);
  bitbuf_write_bits(b, samplingIndex < 5 ? 1u : 0u, 1);
  h->counter = (h->counter + 1) % 32;
  return nullptr;
}

int aac_framing_close(AacFramingHeader* h, BitBuffer* b) {
  if (!h || !h->protection) return 1;
  bitbuf_crc_store(b);
  bitbuf_crc_all_bits(b, 0);
  bitbuf_crc_enable(b, 0);
  return 1;
}
