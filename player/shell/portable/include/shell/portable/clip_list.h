// The clip list file of the favourites and the history: records one after
// the other, no file header and no count, integers little-endian. A record:
//   0  1      kind (the caller's clip kind byte)
//   1  1      reserved, written 0, ignored when read
//   2  2      title length T in UTF-16 units
//   4  2      address length A in UTF-16 units
//   6  2T     title, UTF-16, no terminator
//   6+2T 2A   address, UTF-16, no terminator
// The list ends where a 6-byte header cannot be read whole.
#pragma once

#include <cstddef>
#include <cstdint>

namespace shell {

// Units of a title or address in memory, terminator included.
constexpr size_t kClipTextCapacity = 256;
constexpr size_t kClipTextMax = kClipTextCapacity - 1;
constexpr size_t kClipHeaderSize = 6;
// Records are moved back in chunks of at most this many bytes.
constexpr uint32_t kClipMoveChunk = 100;

struct ClipHeader {
  uint8_t kind;
  uint16_t titleUnits;
  uint16_t addressUnits;
};

void EncodeClipHeader(const ClipHeader& header, uint8_t out[kClipHeaderSize]);
ClipHeader DecodeClipHeader(const uint8_t in[kClipHeaderSize]);
// Bytes of the whole record.
uint32_t ClipRecordBytes(const ClipHeader& header);

// How many of the first `units` units of a text fit a record in memory:
// at most 255, one fewer when that cut would split a surrogate pair.
size_t KeptClipUnits(const char16_t* text, size_t units);

// The history's move to the front: record `from` goes to index 0 and the
// records before it move down by one. Works on any record type.
template <typename Record>
void MoveClipToFront(Record* records, int from) {
  if (from <= 0) return;
  Record moving = records[from];
  for (int i = from; i > 0; --i) records[i] = records[i - 1];
  records[0] = moving;
}

// The Media Buffer dialog's slider: 0 (default) or 1000..15000 in steps of
// 1000 against positions 0..14.
constexpr int32_t kMediaBufferPositions = 14;
constexpr int32_t kMediaBufferDefaultPosition = 6;
int32_t MediaBufferPosition(int32_t value);
int32_t MediaBufferValue(bool defaultSelected, int32_t position);

// The Clip Info dialog's scrolling in lines: the new position for a scroll
// request, bounded by 0 and total - visible.
enum class ScrollRequest { kLineUp, kLineDown, kPageUp, kPageDown, kThumb };
int32_t ClipInfoScroll(ScrollRequest request, int32_t position, int32_t thumb, int32_t visible,
                       int32_t total);

}  // namespace shell
