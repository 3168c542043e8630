// The arithmetic of the player's face: the time text, the seek bar's
// positions and the volume slider's thumb, all in integers as the controls
// use them.
#pragma once

#include <cstdint>
#include <string>

namespace shell {

// "position/duration" in whole seconds, the fields as wide as the duration
// needs: 65 of 300 s "1:05/5:00", of 600 s "01:05/10:00", of 3900 s
// "0:01:05/1:05:00"; 0 of 0 "0:00/0:00".
std::u16string FormatTimeText(uint32_t positionSeconds, uint32_t durationSeconds);

// The seek bar's position at x: (x - barLeft) x duration / barWidth in
// double precision truncated, 0 for a negative x or an empty bar, clamped to
// 0 ... duration.
int32_t SeekPositionAt(int32_t x, int32_t barLeft, int32_t barWidth, int32_t duration);
// The x a position is drawn at; the bar's left end for a duration of 0.
int32_t SeekXOf(int32_t position, int32_t barLeft, int32_t barWidth, int32_t duration);

// The volume slider: value 100 at the track's top, 0 at its bottom; the
// usable height is track bottom - 2 x (thumb / 2) - track top.
struct VolumeTrack {
  int32_t top, bottom, thumbHeight;
  int32_t Usable() const { return bottom - 2 * (thumbHeight / 2) - top; }
  int32_t ThumbTopFor(int32_t value) const;
  int32_t ValueAt(int32_t thumbTop) const;
};

}  // namespace shell
