#include "streaming/range.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "streaming/text_util.h"
#include "text_writer.h"

namespace streaming {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly two digits at p, at most max.
bool twoDigits(const char* p, const char* end, uint32_t max, uint8_t& out) {
  if (end - p < 2 || !isDigit(p[0]) || !isDigit(p[1])) return false;
  uint32_t v = uint32_t(p[0] - '0') * 10 + uint32_t(p[1] - '0');
  if (v > max) return false;
  out = uint8_t(v);
  return true;
}

// Digits [p, end) as a whole number; at least one digit.
bool digitsValue(const char* p, const char* end, uint32_t& out) {
  return end > p && ParseUnsigned(p, 'd', uint32_t(end - p), out);
}

// "." followed by digits, read as a number below 1; at most 11 characters
// are taken, the rest must still be digits.
bool readFraction(const char* p, const char* end, double& out) {
  if (p >= end || *p != '.') return false;
  for (const char* q = p + 1; q < end; ++q) {
    if (!isDigit(*q)) return false;
  }
  char tmp[16] = "0";
  size_t n = size_t(end - p) < 11 ? size_t(end - p) : 11;
  std::memcpy(tmp + 1, p, n);
  tmp[n + 1] = 0;
  out = std::strtod(tmp, nullptr);
  return true;
}

const char* find(const char* p, const char* end, char c) {
  while (p < end && *p != c) ++p;
  return p;
}

bool prefixOf(const char* name, uint32_t n, const char* word) {
  uint32_t w = uint32_t(std::strlen(word));
  return n <= w && std::memcmp(name, word, n) == 0;
}

bool parseTime(const char* p, const char* end, int32_t format, RangeTime& out) {
  auto n = uint32_t(end - p);
  switch (format) {
    case kRangeNpt:
      return ParseNptTime(p, n, out.npt);
    case kRangeClock:
      return ParseClockTime(p, n, out.clock);
    default:
      return ParseSmpteTime(p, n, format, out.smpte);
  }
}

const char* unitPrefix(int32_t format) {
  static const char* const kPrefix[] = {"npt=", "smpte=", "smpte-25=", "smpte-30-drop=", "clock="};
  return kPrefix[format];
}

// The part of "%0.6f" from the '.' on; a fraction that rounds up to 1 keeps
// the largest printable fraction rather than wrapping to ".000000".
bool appendFraction(TextWriter& w, double f) {
  if (!(f > 0)) return true;
  if (f >= 1) return false;
  char tmp[32];
  std::snprintf(tmp, sizeof tmp, "%0.6f", f);
  if (tmp[0] != '0') return w.Append(".999999");
  return w.Append(tmp + 1, 7);
}

bool composeTime(TextWriter& w, const RangeTime& t, int32_t format) {
  switch (format) {
    case kRangeNpt: {
      const NptTime& n = t.npt;
      if (n.kind == 0) return w.Append("now");
      if (n.value >= 1000000000u) return false;  // ten digits do not fit the field
      if (n.kind == 1) {
        w.Format("%u", n.value);
      } else {
        w.Format("%u:%02u:%02u", n.value, unsigned(n.minutes), unsigned(n.seconds));
      }
      return appendFraction(w, n.fraction) && w.ok();
    }
    case kRangeClock: {
      const ClockTime& c = t.clock;
      w.Format("%04u%02u%02uT%02u%02u%02u", unsigned(c.year), unsigned(c.month), unsigned(c.day),
               unsigned(c.hour), unsigned(c.minute), unsigned(c.second));
      return appendFraction(w, c.fraction) && w.Append("Z");
    }
    default: {
      const SmpteTime& s = t.smpte;
      w.Format("%02u:%02u:%02u", unsigned(s.hours), unsigned(s.minutes), unsigned(s.seconds));
      // Frames are written with subframes too, else the text would not
      // parse back.
      if (s.frames != 0 || s.subframes != 0) w.Format(":%02u", unsigned(s.frames));
      if (s.subframes != 0) w.Format(".%02u", unsigned(s.subframes));
      return w.ok();
    }
  }
}

bool composeWithHead(char* buffer, uint32_t size, const RangeValue& v, uint32_t& length,
                     const char* head) {
  TextWriter w(buffer, size);
  bool ok = (v.hasStart || v.hasEnd) && v.format >= 0 && v.format <= kRangeClock &&
            w.Append(head) && w.Append(unitPrefix(v.format)) &&
            (!v.hasStart || composeTime(w, v.start, v.format)) && w.Append("-") &&
            (!v.hasEnd || composeTime(w, v.end, v.format)) && w.Append("\r\n");
  length = w.length();
  w.Terminate();
  return ok;
}

uint32_t timeTextBound(const RangeTime& t, int32_t format) {
  switch (format) {
    case kRangeNpt: {
      const NptTime& n = t.npt;
      uint32_t b;
      if (n.kind == 0) return 3;
      uint32_t digits = n.value < 1000 ? 3 : n.value < 1000000 ? 6 : 10;
      b = n.kind == 1 ? digits : digits + 6;
      return n.fraction > 0 ? b + 7 : b;
    }
    case kRangeClock:
      return t.clock.fraction > 0 ? 23 : 16;
    default:
      if (t.smpte.subframes) return 14;
      return t.smpte.frames ? 11 : 8;
  }
}

}  // namespace

bool ParseNptTime(const char* text, uint32_t length, NptTime& out) {
  const char* end = text + length;
  if (length == 3 && std::memcmp(text, "now", 3) == 0) {
    out = NptTime{};
    return true;
  }
  NptTime t;
  const char* colon = find(text, end, ':');
  const char* p;
  if (colon == end) {
    t.kind = 1;
    p = find(text, end, '.');
    if (!digitsValue(text, p, t.value)) return false;
  } else {
    t.kind = 2;
    if (!digitsValue(text, colon, t.value)) return false;
    p = colon + 1;
    if (!twoDigits(p, end, 59, t.minutes) || end - p < 3 || p[2] != ':') return false;
    p += 3;
    if (!twoDigits(p, end, 59, t.seconds)) return false;
    p += 2;
  }
  if (p < end) {
    double f;
    if (!readFraction(p, end, f)) return false;
    t.fraction = float(f);
  }
  out = t;
  return true;
}

bool ParseSmpteTime(const char* text, uint32_t length, int32_t format, SmpteTime& out) {
  const char* p = text;
  const char* end = text + length;
  SmpteTime t;
  if (!twoDigits(p, end, 99, t.hours) || end - p < 3 || p[2] != ':') return false;
  p += 3;
  if (!twoDigits(p, end, 59, t.minutes) || end - p < 3 || p[2] != ':') return false;
  p += 3;
  if (!twoDigits(p, end, 59, t.seconds)) return false;
  p += 2;
  if (p < end) {
    if (*p != ':' || !twoDigits(p + 1, end, format == kRangeSmpte25 ? 25 : 30, t.frames)) return false;
    p += 3;
    if (p < end) {
      if (*p != '.' || !twoDigits(p + 1, end, 99, t.subframes)) return false;
      p += 3;
    }
  }
  if (p != end) return false;
  out = t;
  return true;
}

bool ParseClockTime(const char* text, uint32_t length, ClockTime& out) {
  const char* end = text + length;
  if (length < 16 || text[8] != 'T' || (text[15] != 'Z' && text[15] != '.')) return false;
  for (int i = 0; i < 15; ++i) {
    if (i != 8 && !isDigit(text[i])) return false;
  }
  auto num = [&](int at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v * 10 + uint32_t(text[at + i] - '0');
    return v;
  };
  ClockTime c;
  c.year = uint16_t(num(0, 4));
  uint32_t month = num(4, 2), day = num(6, 2), hour = num(9, 2), minute = num(11, 2),
           second = num(13, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59)
    return false;
  c.month = uint8_t(month);
  c.day = uint8_t(day);
  c.hour = uint8_t(hour);
  c.minute = uint8_t(minute);
  c.second = uint8_t(second);
  const char* p = text + 15;
  if (*p == '.') {
    const char* z = find(p, end, 'Z');
    if (z == end || !readFraction(p, z, c.fraction)) return false;
    p = z;
  }
  if (p + 1 != end) return false;  // 'Z' must end the time
  out = c;
  return true;
}

bool ParseRange(const char* text, uint32_t length, RangeValue& out) {
  out.format = kRangeNotParsed;
  const char* end = text + length;
  const char* p = SkipWhiteSpace(text, end);
  if (p == end) return false;
  const char* name = p;
  while (p < end && *p != '=' && !IsBlank(*p)) ++p;
  auto n = uint32_t(p - name);
  int32_t format;
  if (prefixOf(name, n, "smpte") || prefixOf(name, n, "smpte-25") || prefixOf(name, n, "smpte-30-drop")) {
    if (n == 13 && std::memcmp(name, "smpte-30-drop", 13) == 0) {
      format = kRangeSmpte30Drop;
    } else if (n == 8 && std::memcmp(name, "smpte-25", 8) == 0) {
      format = kRangeSmpte25;
    } else {
      format = kRangeSmpte;
    }
  } else if (prefixOf(name, n, "npt")) {
    format = kRangeNpt;
  } else if (prefixOf(name, n, "clock")) {
    format = kRangeClock;
  } else {
    out.format = kRangeUnknownUnit;
    out.hasStart = out.hasEnd = false;
    return false;
  }
  p = find(p, end, '=');
  if (p == end) return false;
  p = SkipBlanks(p + 1, end);
  if (p == end) return false;
  const char* dash = find(p, end, '-');
  if (dash == end) return false;
  RangeValue v;
  const char* startEnd = dash;
  while (startEnd > p && IsWhiteSpace(startEnd[-1])) --startEnd;
  if (startEnd > p) {
    if (!parseTime(p, startEnd, format, v.start)) return false;
    v.hasStart = true;
  }
  p = SkipWhiteSpace(dash + 1, end);
  if (p < end) {
    const char* e = FindTokenEnd(p, end);
    if (!parseTime(p, e, format, v.end)) return false;
    v.hasEnd = true;
  }
  v.format = format;
  out = v;
  return true;
}

bool ComposeRange(char* buffer, uint32_t size, const RangeValue& value, uint32_t& length) {
  return composeWithHead(buffer, size, value, length, "");
}

bool ComposeRangeHeader(char* buffer, uint32_t size, const RangeValue& value, uint32_t& length) {
  length = 0;
  if (value.format == kRangeUnknownUnit || value.format == kRangeNotParsed) return true;
  return composeWithHead(buffer, size, value, length, "Range: ");
}

bool ComposeSdpRange(char* buffer, uint32_t size, const RangeValue& value, uint32_t& length) {
  length = 0;
  if (value.format == kRangeUnknownUnit || value.format == kRangeNotParsed) return true;
  return composeWithHead(buffer, size, value, length, "a=range:");
}

uint32_t GetRangeTextLength(const RangeValue& value) {
  if ((!value.hasStart && !value.hasEnd) || value.format < 0 || value.format > kRangeClock) return 0;
  static const uint32_t kHead[] = {12, 14, 17, 22, 14};
  uint32_t n = kHead[value.format] + 1 + 2;
  if (value.hasStart) n += timeTextBound(value.start, value.format);
  if (value.hasEnd) n += timeTextBound(value.end, value.format);
  return n;
}

namespace {
bool timeToMs(const RangeTime& time, int32_t format, uint32_t& ms) {
  uint64_t v;
  if (format == kRangeNpt) {
    const NptTime& n = time.npt;
    if (n.kind == 0) {
      ms = 0;
      return true;
    }
    uint64_t s = n.kind == 1 ? n.value : (uint64_t(n.value) * 60 + n.minutes) * 60 + n.seconds;
    v = s * 1000 + uint64_t(double(n.fraction) * 1000.0);
  } else {
    const SmpteTime& s = time.smpte;
    v = ((uint64_t(s.hours) * 60 + s.minutes) * 60 + s.seconds) * 1000;
  }
  if (v > 0xFFFFFFFFu) return false;
  ms = uint32_t(v);
  return true;
}
}  // namespace

int32_t RangeToMilliseconds(const RangeValue& value, uint32_t& startMs, uint32_t& endMs) {
  startMs = endMs = 0;
  switch (value.format) {
    case kRangeClock:
      return 0;
    case kRangeNpt:
    case kRangeSmpte:
    case kRangeSmpte25:
    case kRangeSmpte30Drop: {
      uint32_t s = 0, e = 0;
      if ((value.hasStart && !timeToMs(value.start, value.format, s)) ||
          (value.hasEnd && !timeToMs(value.end, value.format, e)))
        return -1;
      startMs = s;
      endMs = e;
      return 0;
    }
    default:
      return -1;
  }
}

bool FormatHttpDate(char* buffer, uint32_t size, uint32_t& length) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  length = 0;
  std::time_t now = std::time(nullptr);
  std::tm tm{};
#ifdef _WIN32
  if (gmtime_s(&tm, &now) != 0) return false;
#else
  if (!gmtime_r(&now, &tm)) return false;
#endif
  if (tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_mon < 0 || tm.tm_mon > 11) return false;
  int n = std::snprintf(buffer, size, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                        tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                        tm.tm_sec);
  if (n < 0 || uint32_t(n) >= size) return false;
  length = uint32_t(n);
  return true;
}

}  // namespace streaming
