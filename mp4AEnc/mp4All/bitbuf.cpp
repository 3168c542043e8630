#include "mp4aenc/bitbuf.h"

#include <cstdlib>
#include <cstring>

namespace {

const char kModule[] = "mp4AEnc/mp4All/bitbuf";

long wrap(long position, long capacity) {
  position %= capacity;
  return position < 0 ? position + capacity : position;
}

void put_bit(BitBuffer* b, long position, uint32_t bit) {
  uint32_t& word = b->words[position >> 5];
  const uint32_t mask = 1u << (position & 31);
  word = bit ? (word | mask) : (word & ~mask);
}

uint32_t get_bit(const BitBuffer* b, long position) {
  return (b->words[position >> 5] >> (position & 31)) & 1u;
}

void crc_bit(BitBuffer* b, uint32_t bit) {
  const uint32_t top = (b->crcRegister & b->crcTopMask) ? 1u : 0u;
  b->crcRegister <<= 1;
  if (top != bit) b->crcRegister ^= b->crcPolynomial;
  // Keep the register as wide as the polynomial's top bit.
  if (b->crcTopMask) b->crcRegister &= (b->crcTopMask << 1) - 1;
}

// Writes without touching the CRC.
void raw_write(BitBuffer* b, uint32_t value, int n) {
  for (int i = n - 1; i >= 0; --i) {
    put_bit(b, b->writePos, (value >> i) & 1u);
    b->writePos = b->writePos + 1 == b->capacity ? 0 : b->writePos + 1;
  }
  b->fill += n;
  b->written += n;
}

// Stream position of the write end.
int64_t write_end(const BitBuffer* b) { return b->consumed + b->fill; }

BitBufferRegion& region_at(BitBuffer* b, int i) { return b->regions[(b->regionHead + i) % kBitBufferRegions]; }

// Forgets regions whose bits were read.
void drop_read_regions(BitBuffer* b) {
  while (b->regionCount > 0 && b->regions[b->regionHead].start < b->consumed) {
    b->regionHead = (b->regionHead + 1) % kBitBufferRegions;
    --b->regionCount;
  }
}

// Forgets regions past the write end (bits taken back).
void drop_unwritten_regions(BitBuffer* b) {
  while (b->regionCount > 0 && region_at(b, b->regionCount - 1).start >= write_end(b)) --b->regionCount;
  for (int i = 0; i < b->regionCount; ++i) {
    BitBufferRegion& r = region_at(b, i);
    if (r.end > write_end(b)) r.end = write_end(b);
  }
}

void add_region(BitBuffer* b, const BitBufferRegion& r) {
  drop_read_regions(b);
  // A buffer nobody reads regions from (the drained output of format 0)
  // keeps the newest ones.
  if (b->regionCount == kBitBufferRegions) {
    b->regionHead = (b->regionHead + 1) % kBitBufferRegions;
    --b->regionCount;
  }
  region_at(b, b->regionCount++) = r;
}

}  // namespace

BitBuffer* bitbuf_create(long capacityBits) {
  if (capacityBits <= 0) return nullptr;
  auto* b = static_cast<BitBuffer*>(std::calloc(1, sizeof(BitBuffer)));
  if (!b) return nullptr;
  const size_t words = size_t((capacityBits + 31) / 32);
  b->words = static_cast<uint32_t*>(std::calloc(words, sizeof(uint32_t)));
  if (!b->words) {
    std::free(b);
    return nullptr;
  }
  b->capacity = capacityBits;
  b->crcPolynomial = 0x8005;
  b->crcTopMask = 0x8000;
  return b;
}

void bitbuf_free(BitBuffer* buffer) {
  if (!buffer) return;
  std::free(buffer->words);
  std::free(buffer);
}

void bitbuf_reset(BitBuffer* b) {
  if (!b) return;
  b->readPos = b->writePos = b->fill = 0;
  b->written = b->consumed = 0;
  b->regionHead = b->regionCount = 0;
  b->overflow = 0;
  b->crcOn = b->crcAll = 0;
  b->crcBitsLeft = 0;
  b->reserveBits = 0;
  b->frameHead = b->frameCount = 0;
}

int bitbuf_write_bits(BitBuffer* b, uint32_t value, int n) {
  if (!b || n < 0 || n > 32) return -1;
  if (n == 0) return 0;
  if (b->fill + n > b->capacity) {
    b->overflow = 1;
    return -1;
  }
  if (n < 32) value &= (1u << n) - 1;
  if (b->crcOn) {
    for (int i = n - 1; i >= 0; --i) {
      if (b->crcAll) {
        crc_bit(b, (value >> i) & 1u);
      } else if (b->crcBitsLeft > 0) {
        crc_bit(b, (value >> i) & 1u);
        --b->crcBitsLeft;
      }
    }
  }
  raw_write(b, value, n);
  return 0;
}

int bitbuf_read_bits(BitBuffer* b, int n, uint32_t* value) {
  if (!b || !value || n < 0 || n > 32 || n > b->fill) return -1;
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    v = (v << 1) | get_bit(b, b->readPos);
    b->readPos = b->readPos + 1 == b->capacity ? 0 : b->readPos + 1;
  }
  b->fill -= n;
  b->consumed += n;
  *value = v;
  return 0;
}

long bitbuf_bit_count(const BitBuffer* b) { return b ? b->fill : 0; }

int64_t bitbuf_bit_position(const BitBuffer* b) { return b ? b->written : 0; }

int bitbuf_advance_read(BitBuffer* b, long bits) {
  if (!b || bits > b->fill || b->fill - bits > b->capacity) return -1;
  b->readPos = wrap(b->readPos + bits, b->capacity);
  b->fill -= bits;
  b->consumed += bits;
  return 0;
}

int bitbuf_advance_write(BitBuffer* b, long bits) {
  if (!b || b->fill + bits < 0 || b->fill + bits > b->capacity) return -1;
  b->writePos = wrap(b->writePos + bits, b->capacity);
  b->fill += bits;
  if (bits > 0) b->written += bits;
  if (bits < 0) drop_unwritten_regions(b);
  return 0;
}

int bitbuf_copy_from(BitBuffer* dst, BitBuffer* src, long n) {
  if (!dst || !src || n < 0 || n > src->fill || dst->fill + n > dst->capacity) return -1;
  drop_read_regions(src);
  const int64_t from = src->consumed, to = dst->consumed + dst->fill;
  for (int i = 0; i < src->regionCount; ++i) {
    BitBufferRegion r = region_at(src, i);
    if (r.start >= from + n) break;
    r.start += to - from;
    if (r.end >= 0) r.end = (r.end > from + n ? from + n : r.end) + to - from;
    add_region(dst, r);
  }
  while (n > 0) {
    const int piece = n > 32 ? 32 : int(n);
    uint32_t v = 0;
    bitbuf_read_bits(src, piece, &v);
    bitbuf_write_bits(dst, v, piece);
    n -= piece;
  }
  return 0;
}

ErrorRecord* bitbuf_push_count(BitBuffer* b, long bits) {
  if (!b) return error_create(kModule, __LINE__, nullptr, "null pointer");
  // The encoder drains every frame before the next one; a full queue means
  // a caller that does not, and the frame is refused rather than lost later.
  if (b->frameCount >= kBitBufferFrameQueue)
    return error_create(kModule, __LINE__, nullptr, "frame length queue full (%d frames pending)",
                        b->frameCount);
  b->frameLengths[(b->frameHead + b->frameCount) % kBitBufferFrameQueue] = bits;
  ++b->frameCount;
  return nullptr;
}

ErrorRecord* bitbuf_pop_count(BitBuffer* b, long* bits) {
  if (!b || !bits) return error_create(kModule, __LINE__, nullptr, "null pointer");
  if (b->frameCount == 0) return error_create(kModule, __LINE__, nullptr, "frame length queue empty");
  *bits = b->frameLengths[b->frameHead];
  b->frameHead = (b->frameHead + 1) % kBitBufferFrameQueue;
  --b->frameCount;
  return nullptr;
}

int bitbuf_pending_frames(const BitBuffer* b) { return b ? b->frameCount : 0; }

ErrorRecord* bitbuf_copy_bytes(BitBuffer* b, uint32_t* bytes, uint8_t* out) {
  if (bytes) *bytes = 0;
  if (!b || b->frameCount == 0) return nullptr;
  if (!bytes || !out) return error_create(kModule, __LINE__, nullptr, "null pointer");
  const long length = b->frameLengths[b->frameHead];
  if (length < 0 || length > b->fill)
    return error_create(kModule, __LINE__, nullptr, "frame of %ld bits but %ld bits held", length, b->fill);
  long bits = 0;
  bitbuf_pop_count(b, &bits);
  uint32_t n = 0;
  for (; bits >= 8; bits -= 8) {
    uint32_t v = 0;
    bitbuf_read_bits(b, 8, &v);
    out[n++] = uint8_t(v);
  }
  if (bits > 0) {
    uint32_t v = 0;
    bitbuf_read_bits(b, int(bits), &v);
    out[n++] = uint8_t(v << (8 - bits));
  }
  *bytes = n;
  return nullptr;
}

void bitbuf_crc_set_register(BitBuffer* b, uint32_t value) {
  if (!b) return;
  b->crcRegister = value;
  if (b->crcTopMask) b->crcRegister &= (b->crcTopMask << 1) - 1;
}

uint32_t bitbuf_crc_register(const BitBuffer* b) { return b ? b->crcRegister : 0; }

void bitbuf_crc_set_polynomial(BitBuffer* b, uint32_t polynomial, uint32_t topMask) {
  if (!b) return;
  b->crcPolynomial = polynomial;
  b->crcTopMask = topMask;
}

void bitbuf_crc_enable(BitBuffer* b, int on) {
  if (!b) return;
  b->crcOn = on != 0;
  if (!on) b->crcBitsLeft = 0;
}

void bitbuf_crc_all_bits(BitBuffer* b, int on) {
  if (b) b->crcAll = on != 0;
}

void bitbuf_crc_set_region(BitBuffer* b, long bits) {
  if (!b || bits <= 0) return;
  add_region(b, BitBufferRegion{write_end(b), -1, bits});
  if (b->crcOn) b->crcBitsLeft = bits;
}

void bitbuf_crc_close_region(BitBuffer* b) {
  if (!b) return;
  if (b->regionCount > 0) {
    BitBufferRegion& r = region_at(b, b->regionCount - 1);
    if (r.end < 0) r.end = write_end(b);
  }
  if (!b->crcOn || b->crcAll) return;
  for (; b->crcBitsLeft > 0; --b->crcBitsLeft) crc_bit(b, 0);
}

int bitbuf_region_count(const BitBuffer* b) {
  if (!b) return 0;
  int n = 0;
  for (int i = 0; i < b->regionCount; ++i)
    if (b->regions[(b->regionHead + i) % kBitBufferRegions].start >= b->consumed) ++n;
  return n;
}

int bitbuf_crc_feed_regions(BitBuffer* b) {
  if (!b) return 0;
  drop_read_regions(b);
  for (int i = 0; i < b->regionCount; ++i) {
    const BitBufferRegion& r = region_at(b, i);
    // An open region ends where the bits do.
    const int64_t end = r.end < 0 ? write_end(b) : r.end;
    int64_t p = r.start;
    for (; p < end && p < r.start + r.limit; ++p) crc_bit(b, get_bit(b, wrap(b->readPos + long(p - b->consumed), b->capacity)));
    for (; p < r.start + r.limit; ++p) crc_bit(b, 0);
  }
  return b->regionCount;
}

int bitbuf_crc_reserve(BitBuffer* b, int bits) {
  if (!b || bits <= 0 || bits > 32 || b->fill + bits > b->capacity) return -1;
  b->reservePos = b->writePos;
  b->reserveBits = bits;
  raw_write(b, 0, bits);
  return 0;
}

int bitbuf_crc_store(BitBuffer* b) {
  if (!b || b->reserveBits == 0) return -1;
  long position = b->reservePos;
  for (int i = b->reserveBits - 1; i >= 0; --i) {
    put_bit(b, position, (b->crcRegister >> i) & 1u);
    position = position + 1 == b->capacity ? 0 : position + 1;
  }
  b->reserveBits = 0;
  return 0;
}
