// Bit reader over one input buffer, most significant bit first. Reads past
// the end yield zero bits; the caller checks atEnd()/overrun() once per unit
// instead of after every read.
#pragma once

#include <cstdint>
#include <cstring>

struct BitReader {
  int layer = 0;
  const uint8_t* buf = nullptr;
  uint32_t size = 0;  // bytes
  uint32_t pos = 0;   // bits consumed since bind

  void init(int layerIndex) {
    layer = layerIndex;
    buf = nullptr;
    size = 0;
    pos = 0;
  }
  void bind(const uint8_t* data, uint32_t bytes) {
    buf = data;
    size = bytes;
    pos = 0;
  }

  uint32_t bitSize() const { return size * 8u; }
  uint32_t bitsLeft() const { return pos < bitSize() ? bitSize() - pos : 0; }
  // 3 when every bit has been consumed, else 0 (the searches' "end" result).
  int atEnd() const { return pos >= bitSize() ? 3 : 0; }
  bool overrun() const { return pos > bitSize(); }

  uint32_t peek32() const {
    const uint32_t byte = pos >> 3;
    uint64_t v;
    if (byte + 8 <= size) {
      std::memcpy(&v, buf + byte, 8);
      v = __builtin_bswap64(v);
    } else {
      v = 0;
      for (uint32_t i = 0; i < 8; ++i) v = (v << 8) | (byte + i < size ? buf[byte + i] : 0u);
    }
    return uint32_t((v << (pos & 7)) >> 32);
  }
  // n in 1..32.
  uint32_t peek(int n) const { return peek32() >> (32 - n); }
  uint32_t read(int n) {
    const uint32_t v = peek(n);
    pos += uint32_t(n);
    return v;
  }
  uint32_t read1() {
    const uint32_t byte = pos >> 3;
    const uint32_t v = byte < size ? (buf[byte] >> (7 - (pos & 7))) & 1u : 0u;
    ++pos;
    return v;
  }
  void skip(uint32_t n) { pos += n; }
  // Steps back n bits; 1 when fewer than n bits were consumed.
  int rewind(uint32_t n) {
    if (n > pos) return 1;
    pos -= n;
    return 0;
  }
  uint32_t position() const { return pos; }
  void setPosition(uint32_t p) { pos = p; }

  // Consumes 1 to 8 bits to the next byte boundary (8 when aligned).
  void nextStartCode() { pos += 8 - (pos & 7); }
  // Consumes 0 to 7 bits to the next byte boundary.
  void byteAlign() { pos = (pos + 7) & ~7u; }
  bool aligned() const { return (pos & 7) == 0; }
  // The n bits that begin after the 1 to 8 stuffing bits to the next boundary.
  uint32_t peekAligned(int n) const {
    BitReader r = *this;
    r.nextStartCode();
    return r.peek(n);
  }
  // 1 when the bits up to the next boundary (1 to 8 of them) are a 0 then ones.
  bool validStuffing() const {
    const int n = 8 - int(pos & 7);
    return peek(n) == (1u << (n - 1)) - 1u;
  }
};
