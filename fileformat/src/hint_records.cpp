#include "fileformat/hint_records.h"

#include "fileformat/render.h"

namespace fileformat {

namespace {
size_t put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
  return 2;
}
size_t put32(uint8_t* p, uint32_t v) {
  put16(p, v >> 16);
  put16(p + 2, v);
  return 4;
}
}  // namespace

HintSampleRecord::HintSampleRecord(uint8_t flagByte, uint32_t time, uint32_t size, uint32_t offset)
    : HintRecord(offset), flagByte_(flagByte), time_(time & 0xFFFF), size_(size) {}

void HintSampleRecord::render(std::ostream& out) const {
  writeU8(out, 1);
  writeU8(out, flagByte_);
  writeU16(out, 0);
  writeU32(out, time_);
  writeU32(out, size_);
  writeU32(out, offset_);
}

size_t HintSampleRecord::serialize(uint8_t* buf) const {
  size_t n = 0;
  buf[n++] = 1;
  buf[n++] = flagByte_;
  n += put16(buf + n, time_);
  n += put32(buf + n, size_ & 0x7FFFFFFF);  // bit 31 is not part of the size
  buf[n++] = 0;
  return n;
}

HintAudioRecord::HintAudioRecord(uint8_t firstDataByte, uint16_t time, uint32_t size,
                                 uint32_t offset)
    : HintRecord(offset), mode_(firstDataByte & 0x0F), time_(time), size_(size) {}

void HintAudioRecord::render(std::ostream& out) const {
  writeU8(out, 0);
  writeU8(out, mode_);
  writeU16(out, 0);
  writeU32(out, time_);
  writeU32(out, size_);
  writeU32(out, offset_);
}

size_t HintAudioRecord::serialize(uint8_t* buf) const {
  size_t n = 0;
  buf[n++] = 0;
  n += put16(buf + n, time_);
  n += put32(buf + n, size_);
  buf[n++] = 0;
  return n;
}

HintVideoRecord2::HintVideoRecord2(uint32_t time, uint32_t size, uint8_t extra, uint32_t offset)
    : HintRecord(offset), time_(time), size_(size), extra_(extra) {}

void HintVideoRecord2::render(std::ostream& out) const {
  writeU8(out, 2);
  writeU32(out, 0);
  writeU32(out, time_);
  writeU32(out, size_);
  writeU8(out, extra_);
}

size_t HintVideoRecord2::serialize(uint8_t* buf) const {
  size_t n = 0;
  buf[n++] = 2;
  n += put32(buf + n, 0);
  n += put32(buf + n, time_);
  n += put32(buf + n, size_);
  buf[n++] = extra_;
  return n;
}

}  // namespace fileformat
