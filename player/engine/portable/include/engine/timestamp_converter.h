// Follows a 32-bit media time stamp in its own timescale, counting wraps,
// and converts the last accepted value into other units.
#pragma once

#include <cstdint>

struct TimestampConverter {
  uint32_t timescale = 1;  // units per second; never 0
  uint32_t last = 0;       // last accepted time stamp
  uint32_t wraps = 0;      // forward wrap-arounds seen, modulo timescale

  // Accepts t when it moves forward by less than 2^31 (wrapping past 0 counts
  // a wrap); a step back or a jump of 2^31 or more is rejected.
  bool Update(uint32_t t);
  // The last accepted stamp in the given units: the low word is the value,
  // the high word carries the wrap count. Callers use the low word.
  uint64_t ToUnits(uint32_t unitsPerSecond) const;
};
