#include "shell/portable/clip_list.h"

#include <algorithm>

namespace shell {

void EncodeClipHeader(const ClipHeader& header, uint8_t out[kClipHeaderSize]) {
  out[0] = header.kind;
  out[1] = 0;
  out[2] = static_cast<uint8_t>(header.titleUnits & 0xFF);
  out[3] = static_cast<uint8_t>(header.titleUnits >> 8);
  out[4] = static_cast<uint8_t>(header.addressUnits & 0xFF);
  out[5] = static_cast<uint8_t>(header.addressUnits >> 8);
}

ClipHeader DecodeClipHeader(const uint8_t in[kClipHeaderSize]) {
  ClipHeader h;
  h.kind = in[0];
  h.titleUnits = static_cast<uint16_t>(in[2] | (in[3] << 8));
  h.addressUnits = static_cast<uint16_t>(in[4] | (in[5] << 8));
  return h;
}

uint32_t ClipRecordBytes(const ClipHeader& header) {
  return static_cast<uint32_t>(kClipHeaderSize) + 2u * header.titleUnits + 2u * header.addressUnits;
}

size_t KeptClipUnits(const char16_t* text, size_t units) {
  if (units <= kClipTextMax) return units;
  size_t kept = kClipTextMax;
  // A high surrogate whose partner falls behind the cut would stand alone.
  if (text && text[kept - 1] >= 0xD800 && text[kept - 1] <= 0xDBFF) --kept;
  return kept;
}

int32_t MediaBufferPosition(int32_t value) {
  if (value == 0) return kMediaBufferDefaultPosition;
  return std::clamp((value - 1000) / 1000, 0, kMediaBufferPositions);
}

int32_t MediaBufferValue(bool defaultSelected, int32_t position) {
  if (defaultSelected) return 0;
  return 1000 + 1000 * std::clamp(position, 0, kMediaBufferPositions);
}

int32_t ClipInfoScroll(ScrollRequest request, int32_t position, int32_t thumb, int32_t visible,
                       int32_t total) {
  const int32_t last = std::max(0, total - visible);
  int32_t next = position;
  switch (request) {
    case ScrollRequest::kLineUp:
      next = position - 1;
      break;
    case ScrollRequest::kLineDown:
      next = position + 1;
      break;
    case ScrollRequest::kPageUp:
      next = position - visible;
      break;
    case ScrollRequest::kPageDown:
      next = position + visible;
      break;
    case ScrollRequest::kThumb:
      next = thumb;
      break;
  }
  return std::clamp(next, 0, last);
}

}  // namespace shell
