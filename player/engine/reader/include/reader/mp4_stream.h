// Big-endian input routines over a buffered file stream. Every read sets its
// outputs to 0 first and returns false when fewer bytes than asked were
// available; peeks restore the position.
#pragma once

#include <cstdint>
#include <cstdio>

#include "reader/shared_wide_string.h"

namespace reader {

constexpr uint32_t FourCC(const char (&s)[5]) {
  return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

class Mp4Stream {
 public:
  // Measures the file; the stream stays owned by the caller.
  explicit Mp4Stream(std::FILE* file);

  uint64_t size() const { return size_; }
  uint64_t tell() const { return pos_; }
  // Moves to pos; false (position unchanged) beyond the end of the file.
  bool Seek(uint64_t pos);
  // Moves to pos when it lies inside limit and the file.
  bool SeekWithin(uint64_t pos, uint64_t limit) { return pos <= limit && Seek(pos); }

  bool ReadByte(uint8_t& v);
  bool ReadTwoBytes(uint8_t& a, uint8_t& b);
  bool ReadU16(uint16_t& v);
  bool ReadTwoU16(uint16_t& a, uint16_t& b);
  bool ReadU24(uint32_t& v);
  bool ReadU32(uint32_t& v);
  bool ReadAtomHeader(uint32_t& size, uint32_t& type);
  bool ReadU64(uint32_t& high, uint32_t& low);
  bool ReadBytes(void* out, uint32_t n);
  // Text up to and including a 0 byte, at most 257 bytes and never past limit;
  // keeps at most 256 units. Null when nothing could be read or no memory.
  SharedWideString* ReadUtf8Text(uint64_t limit);
  // Big-endian units up to and including a 0 unit, at most maxUnits and
  // never past limit. Null on a short read or no memory.
  SharedWideString* ReadUtf16Text(uint64_t limit, uint32_t maxUnits = 256);

  bool PeekByte(uint8_t& v);
  bool PeekU32(uint32_t& v);
  // Reads n words and returns the last; n = 0 reads nothing and gives 0.
  uint32_t PeekNthU32(uint32_t n);
  // The type of the atom header at the position when it is a type the reader
  // knows and the full header lies inside limit and the file; else 0.
  uint32_t PeekAtomType(uint64_t limit);

 private:
  bool Raw(uint8_t* out, uint32_t n);
  std::FILE* file_;
  uint64_t size_ = 0;
  uint64_t pos_ = 0;
};

bool IsKnownAtomType(uint32_t type);
// Keeps a known handler type; anything else becomes 10 (unknown handler).
uint32_t CheckHandlerType(uint32_t type);
// Bytes of a descriptor size field for a payload of n bytes; 0 when too large.
uint32_t DescriptorSizeFieldLength(uint64_t n);

}  // namespace reader
