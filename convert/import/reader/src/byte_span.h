// A bounded big-endian byte reader with a sticky error: reading past the end
// gives zeros and sets the error, which the caller checks once per atom.
#pragma once

#include <cstddef>
#include <cstdint>

namespace v2reader {

struct ByteSpan {
  const uint8_t* p = nullptr;
  const uint8_t* end = nullptr;
  bool error = false;

  ByteSpan() = default;
  ByteSpan(const uint8_t* data, size_t n) : p(data), end(data + n) {}

  size_t Remaining() const { return static_cast<size_t>(end - p); }
  bool Has(size_t n) const { return Remaining() >= n; }
  bool Skip(size_t n) {
    if (!Has(n)) {
      error = true;
      p = end;
      return false;
    }
    p += n;
    return true;
  }
  uint64_t Read(int bytes) {
    if (!Has(size_t(bytes))) {
      error = true;
      p = end;
      return 0;
    }
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v = v << 8 | *p++;
    return v;
  }
  uint8_t U8() { return static_cast<uint8_t>(Read(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Read(2)); }
  uint32_t U24() { return static_cast<uint32_t>(Read(3)); }
  uint32_t U32() { return static_cast<uint32_t>(Read(4)); }
  uint64_t U64() { return Read(8); }
  // The first n bytes as a span of their own; this one moves behind them.
  ByteSpan Take(size_t n) {
    ByteSpan s;
    if (!Has(n)) {
      error = true;
      s.error = true;
      p = end;
      return s;
    }
    s.p = p;
    s.end = p + n;
    p += n;
    return s;
  }
};

}  // namespace v2reader
