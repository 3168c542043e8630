#include "engine/timestamp_converter.h"

bool TimestampConverter::Update(uint32_t t) {
  const uint32_t d = t - last;
  if (d >= 0x80000000u) return false;  // backwards, or a jump too far ahead
  if (t < last) {
    ++wraps;
    if (wraps >= timescale) wraps = 0;
  }
  last = t;
  return true;
}

uint64_t TimestampConverter::ToUnits(uint32_t unitsPerSecond) const {
  if (timescale == 0) return 0;
  const uint64_t low = static_cast<uint64_t>(last) * unitsPerSecond / timescale;
  return (static_cast<uint64_t>(wraps) << 32) | static_cast<uint32_t>(low);
}
