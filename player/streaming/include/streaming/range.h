// The Range value shared by RTSP's Range header and SDP's a=range: a unit,
// "=", an optional start, "-", an optional end.
#pragma once

#include <cstdint>

namespace streaming {

enum RangeFormat : int32_t {
  kRangeNpt = 0,
  kRangeSmpte = 1,
  kRangeSmpte25 = 2,
  kRangeSmpte30Drop = 3,
  kRangeClock = 4,
  kRangeUnknownUnit = 5,
  kRangeNotParsed = 6,
};

struct NptTime {
  int32_t kind = 0;        // 0 "now", 1 seconds, 2 hours:minutes:seconds
  uint32_t value = 0;      // seconds (kind 1) or hours (kind 2)
  uint8_t minutes = 0;
  uint8_t seconds = 0;
  float fraction = 0;      // 0 to below 1
};

struct SmpteTime {
  uint8_t hours = 0, minutes = 0, seconds = 0, frames = 0, subframes = 0;
};

struct ClockTime {
  uint16_t year = 0;
  uint8_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
  double fraction = 0;
};

// One time of a range; which member counts follows from the format.
struct RangeTime {
  NptTime npt;
  SmpteTime smpte;
  ClockTime clock;
};

struct RangeValue {
  int32_t format = kRangeNotParsed;
  bool hasStart = false;
  RangeTime start;
  bool hasEnd = false;
  RangeTime end;
};

bool ParseRange(const char* text, uint32_t length, RangeValue& out);
bool ParseNptTime(const char* text, uint32_t length, NptTime& out);
bool ParseSmpteTime(const char* text, uint32_t length, int32_t format, SmpteTime& out);
bool ParseClockTime(const char* text, uint32_t length, ClockTime& out);

// Each writes at most size bytes (no terminator counted in length) and
// returns false when the value cannot be written or does not fit; length
// then holds what was written before.
bool ComposeRange(char* buffer, uint32_t size, const RangeValue& value, uint32_t& length);
bool ComposeRangeHeader(char* buffer, uint32_t size, const RangeValue& value, uint32_t& length);
bool ComposeSdpRange(char* buffer, uint32_t size, const RangeValue& value, uint32_t& length);
// An upper bound of the "a=range:" line with CR LF; 0 when there is nothing
// to write.
uint32_t GetRangeTextLength(const RangeValue& value);

// Start and end of a range in ms into the presentation: 0, or -1 (both 0)
// for an unknown or unparsed unit or a time beyond 32 bits. "now", the clock
// unit and absent ends give 0; SMPTE frames are ignored.
int32_t RangeToMilliseconds(const RangeValue& value, uint32_t& startMs, uint32_t& endMs);

// "%s, %02d %s %04d %02d:%02d:%02d GMT" for the current UTC time; false when
// the time cannot be had or size is below 30.
bool FormatHttpDate(char* buffer, uint32_t size, uint32_t& length);

}  // namespace streaming
