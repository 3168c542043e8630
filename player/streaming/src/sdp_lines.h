// Line and token scanning shared by the session and media parsers.
#pragma once

#include <cstdint>
#include <cstring>

#include "streaming/ref_string.h"
#include "streaming/text_util.h"

namespace streaming::sdp {

struct Line {
  const char* start;
  const char* end;
};

// Blank lines and leading white space are skipped; a line runs to CR, LF or
// the end.
inline bool NextLine(const char*& p, const char* end, Line& line) {
  p = SkipWhiteSpace(p, end);
  if (p >= end) return false;
  line.start = p;
  line.end = FindLineEnd(p, end);
  p = line.end;
  return true;
}

inline bool StartsWith(const Line& line, const char* prefix) {
  size_t n = std::strlen(prefix);
  return size_t(line.end - line.start) >= n && std::memcmp(line.start, prefix, n) == 0;
}

// The next token after blanks: [start, end) or empty at the line end.
inline bool NextToken(const char*& p, const char* end, const char*& tokenStart, const char*& tokenEnd) {
  tokenStart = SkipBlanks(p, end);
  tokenEnd = FindTokenEnd(tokenStart, end);
  p = tokenEnd;
  return tokenEnd > tokenStart;
}

// Decimal digits only, 32 bits; an empty text gives 0.
inline bool Decimal(const char* p, const char* e, uint32_t& v) {
  return ParseUnsigned(p, 'd', uint32_t(e - p), v);
}

inline bool DecimalInt(const char* p, const char* e, int32_t& v) {
  uint32_t u;
  if (!Decimal(p, e, u) || u > 0x7FFFFFFF) return false;
  v = int32_t(u);
  return true;
}

// The parser's own handle is made and released, so the field ends as the
// record's only owner. A failed allocation leaves the field null.
inline void SetText(RefString*& field, const char* p, const char* e) {
  RefString* tmp = RefStringNew(p, uint32_t(e - p));
  RefStringShare(field, tmp);
  RefStringRelease(tmp);
}

// The rest of a line after a prefix and its blanks; false when empty.
inline bool Rest(const Line& line, size_t prefixLength, const char*& start) {
  start = SkipBlanks(line.start + prefixLength, line.end);
  return start < line.end;
}

}  // namespace streaming::sdp
