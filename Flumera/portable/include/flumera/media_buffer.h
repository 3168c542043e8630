// The host's media buffers as the outputs read them: the access unit's
// bytes, then (last inside the counted length) a tag naming the heap, and
// behind the counted length big-endian time words.
#pragma once

#include <cstddef>
#include <cstdint>

namespace flumera {

constexpr uint8_t kVideoTag = 255;
constexpr uint8_t kAudioTag = 238;

// Words behind the counted length: video time stamp, duration; audio time
// stamp, duration, ordering time, end time (all milliseconds).
constexpr size_t kVideoTrailerBytes = 8;
constexpr size_t kAudioTrailerBytes = 16;

struct MediaTimes {
  uint32_t stamp = 0, duration = 0;
  uint32_t order = 0;  // the time the buffer is ordered by
  uint32_t end = 0;    // the time it ends
};

// Reads the trailer of a buffer whose counted length is `length` (tag
// included); `length` >= 1 and the trailer must lie inside the allocation,
// which the caller checks.
MediaTimes ReadTimes(const uint8_t* buffer, size_t length);
size_t TrailerBytes(uint8_t tag);

// Video: the flags byte is the byte before the tag.
// The RTP unit header byte made from the flags.
inline uint8_t VideoHeaderByte(uint8_t f) { return uint8_t(((f >> 5) & 6) | (f & 0x31)); }
// A base-layer unit has none of the bits 0x0E.
inline bool IsBaseLayer(uint8_t f) { return (f & 0x0E) == 0; }
// A key frame has neither 0x10 nor 0x20.
inline bool IsKeyFrame(uint8_t f) { return (f & 0x30) == 0; }
// The sync flags the archive hands the file writer.
inline uint32_t ArchiveSyncFlags(uint8_t f) {
  return ((uint32_t((f & 0x30) | (f >> 4))) >> 2) | ((uint32_t((f & 0x0E) | (f << 4)) & 0xFF) << 3);
}

// The bits of an AMR frame's last byte that its frame type fills (types 0-11;
// others keep the whole byte).
uint8_t AmrLastByteMask(uint8_t frameType);

// Encoded-audio packets (codec type, stream id, frame count, then per frame a
// 16-bit little-endian length and the frame bytes), walked within the
// buffer's bounds.
struct AudioFrame {
  const uint8_t* data;
  uint32_t length;
};
struct AudioPacket {
  uint8_t codec = 0, streamId = 0, frameCount = 0;
  AudioFrame frames[255];
  int count = 0;  // frames that lie inside the buffer
};
// Reads the packet at *offset and moves the offset past it. false when no
// packet header fits; frames that would run past `length` are not counted
// (and end the walk).
bool NextAudioPacket(const uint8_t* buffer, size_t length, size_t* offset, AudioPacket* out);

}  // namespace flumera
