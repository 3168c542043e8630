#include "flumera/media_buffer.h"

#include "flumera/access_unit_list.h"

namespace flumera {

size_t TrailerBytes(uint8_t tag) {
  return tag == kVideoTag ? kVideoTrailerBytes : tag == kAudioTag ? kAudioTrailerBytes : 0;
}

MediaTimes ReadTimes(const uint8_t* buffer, size_t length) {
  MediaTimes t;
  const uint8_t tag = buffer[length - 1];
  const uint8_t* w = buffer + length;
  if (tag == kVideoTag) {
    t.stamp = GetBe32(w);
    t.duration = GetBe32(w + 4);
    t.order = t.stamp;
    t.end = t.stamp + t.duration;
  } else if (tag == kAudioTag) {
    t.stamp = GetBe32(w);
    t.duration = GetBe32(w + 4);
    t.order = GetBe32(w + 8);
    t.end = GetBe32(w + 12);
  }
  return t;
}

uint8_t AmrLastByteMask(uint8_t type) {
  static const uint8_t kMasks[12] = {0xFE, 0xFE, 0xFC, 0xFC, 0xF0, 0xFE, 0xF0, 0xF0, 0xFE, 0xE0, 0xFC, 0xF8};
  return type < 12 ? kMasks[type] : 0xFF;
}

bool NextAudioPacket(const uint8_t* buffer, size_t length, size_t* offset, AudioPacket* out) {
  size_t at = *offset;
  if (at + 3 > length) return false;
  out->codec = buffer[at];
  out->streamId = buffer[at + 1];
  out->frameCount = buffer[at + 2];
  out->count = 0;
  at += 3;
  for (int i = 0; i < out->frameCount; ++i) {
    if (at + 2 > length) break;
    const uint32_t n = uint32_t(buffer[at]) | uint32_t(buffer[at + 1]) << 8;
    if (n > length - at - 2) break;  // a frame longer than what is left
    out->frames[out->count++] = {buffer + at + 2, n};
    at += 2 + n;
  }
  // A cut packet ends the walk: nothing behind it can be trusted.
  *offset = out->count == out->frameCount ? at : length;
  return true;
}

}  // namespace flumera
