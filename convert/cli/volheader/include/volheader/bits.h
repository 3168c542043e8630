// Most-significant-bit-first bit reading and writing for video headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace volheader {

// Reads a byte range. A read past its end yields zeros and sets the sticky
// error, which the caller checks once per header.
class BitReader {
 public:
  BitReader(const uint8_t* data, size_t length) : data_(data), length_(length) {}
  uint32_t Show(int n) const;  // n up to 32, nothing consumed
  void Skip(size_t n);
  uint32_t Read(int n);
  uint32_t Read1() { return Read(1); }
  void ByteAlign();
  // Skips a 32-bit start code, then bytes up to the next start-code prefix.
  void SkipUserData();
  size_t Consumed() const { return position_; }
  bool Error() const { return error_; }

 private:
  const uint8_t* data_;
  size_t length_;
  size_t position_ = 0;  // in bits
  bool error_ = false;
};

// Writes into a buffer of fixed capacity; a write that would come within 4
// bytes of the end is skipped and reported as full (1).
class BitBuffer {
 public:
  explicit BitBuffer(size_t capacity) : bytes_(capacity, 0) {}
  int Put(uint32_t value, int n);  // n up to 32
  int Put1(uint32_t bit) { return Put(bit & 1, 1); }
  // Next-start-code alignment: a 0 bit, then 1 bits to the byte boundary.
  int Stuffing();
  size_t ByteCount() const { return count_ + (bit_ ? 1 : 0); }
  const uint8_t* Data() const { return bytes_.data(); }

 private:
  std::vector<uint8_t> bytes_;
  size_t count_ = 0;  // complete bytes
  int bit_ = 0;       // bits used in the current byte
};

}  // namespace volheader
