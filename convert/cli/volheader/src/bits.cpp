#include "volheader/bits.h"

namespace volheader {

uint32_t BitReader::Show(int n) const {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i) {
    size_t p = position_ + size_t(i);
    uint32_t bit = p / 8 < length_ ? (data_[p / 8] >> (7 - p % 8)) & 1 : 0;
    v = v << 1 | bit;
  }
  return v;
}

void BitReader::Skip(size_t n) {
  position_ += n;
  if (position_ > length_ * 8) {
    error_ = true;
    position_ = length_ * 8;
  }
}

uint32_t BitReader::Read(int n) {
  if (position_ + size_t(n) > length_ * 8) {
    error_ = true;
    position_ = length_ * 8;
    return 0;
  }
  uint32_t v = Show(n);
  position_ += size_t(n);
  return v;
}

void BitReader::ByteAlign() { Skip((8 - position_ % 8) % 8); }

void BitReader::SkipUserData() {
  Skip(32);
  ByteAlign();
  while (!error_ && Show(24) != 0x000001) Skip(8);
}

int BitBuffer::Put(uint32_t value, int n) {
  if (count_ + 4 >= bytes_.size()) return 1;
  for (int i = n - 1; i >= 0; --i) {
    if (bit_ == 0) bytes_[count_] = 0;
    bytes_[count_] |= uint8_t(((value >> i) & 1) << (7 - bit_));
    if (++bit_ == 8) {
      bit_ = 0;
      ++count_;
    }
  }
  return 0;
}

int BitBuffer::Stuffing() {
  int full = Put(0, 1);
  while (!full && bit_ != 0) full = Put(1, 1);
  return full;
}

}  // namespace volheader
