#include "chunk.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace audiolib {

const ChunkLayout kWaveLayout = {
    {"RIFF", "RIFX", "fmt ", "fmt", "fmt", "fact", "data"},
    {
        {{5, kFourCC}},
        {{5, kFourCC}},
        {{1, kInt16}, {6, kInt16}, {7, kCount32}, {2, kCount32}, {3, kInt16}, {8, kInt16}, {9, kInt16}},
        {{10, kInt16}, {11, kCount32}, {12, kInt16}, {13, kInt16}, {14, kInt16}},
        {{10, kInt16}, {11, kCount32}, {15, kInt16}, {16, kInt16}, {17, kInt16}, {14, kInt16}},
        {{4, kCount32}},
        {},
    },
};

const ChunkLayout kAiffLayout = {
    {"FORM", "FVER", "COMM", "COMM", "SSND"},
    {
        {{10, kFourCC}},
        {{5, kUint32}},
        {{1, kInt16}, {2, kUint32}, {3, kInt16}, {4, kExtended}},
        {{1, kInt16}, {2, kUint32}, {3, kInt16}, {4, kExtended}, {8, kFourCC}, {9, kPString}},
        {{6, kUint32}, {7, kUint32}},
    },
};

double extended_to_double(const uint8_t b[10]) {
  const int exponent = ((b[0] & 0x7f) << 8) | b[1];
  uint64_t mantissa = 0;
  for (int i = 0; i < 8; ++i) mantissa = (mantissa << 8) | b[2 + i];
  if (exponent == 0x7fff) return 0.0;  // infinity or NaN: no usable value
  const double v = std::ldexp(double(mantissa), exponent - 16383 - 63);
  return (b[0] & 0x80) ? -v : v;
}

void double_to_extended(double value, uint8_t b[10]) {
  std::memset(b, 0, 10);
  if (value == 0.0 || !std::isfinite(value)) return;
  const bool negative = value < 0;
  int e = 0;
  const double m = std::frexp(std::fabs(value), &e);  // m in [0.5, 1)
  const int exponent = e - 1 + 16383;
  const uint64_t mantissa = uint64_t(std::ldexp(m, 64));
  b[0] = uint8_t((negative ? 0x80 : 0) | ((exponent >> 8) & 0x7f));
  b[1] = uint8_t(exponent);
  for (int i = 0; i < 8; ++i) b[2 + i] = uint8_t(mantissa >> (56 - 8 * i));
}

namespace {

int field_size(int type) {
  switch (type) {
    case kInt16:
    case kUint16:
      return 2;
    case kExtended:
      return 10;
    default:
      return 4;
  }
}

// Bytes a string field takes: count byte and characters, padded to even.
int64_t string_size(size_t count) { return int64_t((count + 2) & ~size_t(1)); }

int find_index(const ChunkLayout& layout, const char id[4]) {
  for (int i = 0; i < 10; ++i)
    if (std::strlen(layout.ids[i]) == 4 && std::memcmp(layout.ids[i], id, 4) == 0) return i;
  return -1;
}

}  // namespace

int64_t ChunkInStream::read(void* buffer, int64_t n) {
  const int64_t got = inner_->read(buffer, std::min(n, size_ - consumed_));
  consumed_ += got;
  return got;
}

int64_t ChunkInStream::skip(int64_t n) {
  const int64_t moved = inner_->skip(std::min(n, ((size_ + 1) & ~int64_t(1)) - consumed_));
  consumed_ += moved;
  return moved;
}

std::string ChunkParser::text(const std::vector<FieldValue>& values, int id) {
  for (const FieldValue& v : values)
    if (v.id == id) return v.text;
  return {};
}

int ChunkParser::nextChunk(bool container) {
  for (;;) {
    if (current_) {
      current_->skipRest();
      current_.reset();
    }
    uint8_t head[8];
    const int64_t got = in_->read(head, 8);
    if (got == 0) return kEndOfInput;
    if (got < 8) au_throw(6);
    const int64_t size = get_bytes(head + 4, 4, little_);
    current_ = std::make_unique<ChunkInStream>(in_, container ? INT64_MAX / 2 : size);
    const int index = find_index(layout_, reinterpret_cast<const char*>(head));
    if (index >= 0) return index;
  }
}

std::vector<FieldValue> ChunkParser::readFields(int index, int endAction) {
  std::vector<FieldValue> values;
  if (!current_) au_throw(8);
  if (index >= 0 && index < 10) {
    for (const ChunkField* f = layout_.fields[index]; f->id != 0; ++f) {
      FieldValue v;
      v.id = f->id;
      uint8_t b[256];
      // A chunk shorter than its list (a 16-byte "fmt ") ends it; the
      // fields not there read as zero.
      if (current_->size() - current_->consumed() < (f->type == kPString ? 2 : field_size(f->type))) break;
      if (f->type == kPString) {
        if (current_->read(b, 1) != 1) au_throw(6);
        const int count = b[0];
        const int64_t rest = string_size(size_t(count)) - 1;
        if (current_->read(b, rest) != rest) au_throw(6);
        v.text.assign(reinterpret_cast<const char*>(b), size_t(count));
      } else {
        const int n = field_size(f->type);
        if (current_->read(b, n) != n) au_throw(6);
        switch (f->type) {
          case kInt16:
            v.number = int16_t(get_bytes(b, 2, little_));
            break;
          case kUint16:
            v.number = get_bytes(b, 2, little_);
            break;
          case kCount32:
            v.number = get_bytes(b, 4, little_) & 0x7fffffffu;
            break;
          case kUint32:
            v.number = get_bytes(b, 4, little_);
            break;
          case kExtended:
            v.real = extended_to_double(b);
            v.number = std::isfinite(v.real) && v.real >= 0 && v.real < 2147483647.0 ? int64_t(v.real) : 0;
            break;
          case kFourCC:
            v.text.assign(reinterpret_cast<const char*>(b), 4);
            break;
        }
      }
      values.push_back(v);
    }
  }
  if (endAction == kClose) {
    current_->skipRest();
    current_.reset();
  }
  return values;
}

ChunkWriter::ChunkWriter(ByteOutStream* out, const ChunkLayout& layout, bool littleEndian)
    : out_(out), layout_(layout), little_(littleEndian) {
  if (!out_->seekable()) au_throw(5);
  levels_.push_back({-1, {}});
}

void ChunkWriter::put(const void* bytes, int64_t n) {
  if (out_->write(bytes, n) != n) au_throw(7);
}

void ChunkWriter::writeField(const ChunkField& f, const FieldSet* value) {
  uint8_t b[256] = {};
  if (f.type == kPString) {
    const char* text = value && value->text ? value->text : "";
    const size_t count = std::min<size_t>(std::strlen(text), 255);
    b[0] = uint8_t(count);
    std::memcpy(b + 1, text, count);
    put(b, string_size(count));
    return;
  }
  const int n = field_size(f.type);
  if (value) {
    if (f.type == kFourCC)
      std::memcpy(b, value->text ? value->text : "    ", 4);
    else if (f.type == kExtended)
      double_to_extended(double(value->number), b);
    else
      put_bytes(b, uint32_t(value->number), n, little_);
  }
  put(b, n);
}

void ChunkWriter::writeChunk(int index, std::initializer_list<FieldSet> values, int action) {
  if (index == kClose) {
    if (openStart_ < 0) au_throw(8);
    closeChunk(openStart_);
    openStart_ = -1;
    return;
  }
  if (index == kEndLevel) {
    if (openStart_ >= 0) au_throw(8);  // a chunk of the level is still open
    if (levels_.size() < 2) au_throw(8);
    const int64_t start = levels_.back().containerStart;
    levels_.pop_back();
    closeChunk(start);
    return;
  }
  // A field list may not end by leaving the nesting level: that would close
  // a container whose chunk is still being written.
  if (index < 0 || index >= 10 || action == kEndLevel || action >= 0) au_throw(8);
  if (openStart_ < 0) {
    put(layout_.ids[index], 4);
    const uint8_t zero[4] = {};
    put(zero, 4);
    openStart_ = out_->tell();
    levels_.back().chunks.push_back({index, openStart_});
  }
  for (const ChunkField* f = layout_.fields[index]; f->id != 0; ++f) {
    const FieldSet* named = nullptr;
    for (const FieldSet& v : values)
      if (v.id == f->id) named = &v;
    writeField(*f, named);
  }
  if (action == kClose) {
    closeChunk(openStart_);
    openStart_ = -1;
  } else if (action == kContainer) {
    levels_.push_back({openStart_, {}});
    openStart_ = -1;
  }
}

void ChunkWriter::closeChunk(int64_t dataStart) {
  const int64_t end = out_->tell();
  const int64_t length = end - dataStart;
  int64_t after = end;
  if (length & 1) {
    // The pad byte belongs to the chunk: the next chunk starts on an even
    // offset and the container's size counts it.
    const uint8_t zero = 0;
    put(&zero, 1);
    after = end + 1;
  }
  uint8_t size[4];
  put_bytes(size, uint32_t(length), 4, little_);
  if (out_->seek(dataStart - 4) < 0) au_throw(5);
  put(size, 4);
  if (out_->seek(after) < 0) au_throw(5);
}

void ChunkWriter::patchField(int index, int fieldId, int64_t value) {
  for (const Written& w : levels_.back().chunks) {
    if (w.index != index) continue;
    int64_t offset = 0;
    for (const ChunkField* f = layout_.fields[index]; f->id != 0; ++f) {
      if (f->id == fieldId) {
        const int64_t here = out_->tell();
        if (out_->seek(w.dataStart + offset) < 0) au_throw(5);
        const FieldSet v{fieldId, value, nullptr};
        writeField(*f, &v);
        if (out_->seek(here) < 0) au_throw(5);
        return;
      }
      // Patched chunks hold no strings before their numbers; an empty one is 2 bytes.
      offset += f->type == kPString ? 2 : field_size(f->type);
    }
  }
  au_throw(8);
}

int64_t ChunkWriter::openLength() { return openStart_ < 0 ? 0 : out_->tell() - openStart_; }

}  // namespace audiolib
