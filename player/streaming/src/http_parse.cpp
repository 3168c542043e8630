// The download dialect's header checks: pure functions over received bytes,
// so that the fuzzer reaches them without a connection.
#include <cstring>

#include "streaming/http_download.h"

namespace streaming {

namespace {

// In the order the answer is searched; code = index + 7.
const char* const kStatusTexts[] = {
    "400 Bad Request",        "403 Forbidden",           "404 Not Found",
    "409 Conflict",           "405 Method Not Allowed",  "412 Precondition Failed",
    "415 Unsupported Media Type", "416 Requested Range Not Satisfiable",
    "500 Internal Server Error",  "501 Method Not Supported", "503 Service Unavailable",
    "505 HTTP Version Not Supported",
};

}  // namespace

const char* HttpStatusText(int32_t code) {
  if (code < kHttpBadRequest || code > kHttpVersionNotSupported) return nullptr;
  return kStatusTexts[code - kHttpBadRequest];
}

const char* FindText(const char* text, uint32_t length, const char* needle) {
  const size_t n = std::strlen(needle);
  if (n == 0 || n > length) return nullptr;
  const char* last = text + (length - n);
  for (const char* p = text; p <= last; ++p) {
    p = static_cast<const char*>(std::memchr(p, needle[0], size_t(last - p) + 1));
    if (!p) return nullptr;
    if (std::memcmp(p, needle, n) == 0) return p;
  }
  return nullptr;
}

bool NumberAfter(const char* text, uint32_t length, const char* needle, uint32_t& value) {
  const char* at = FindText(text, length, needle);
  if (!at) return false;
  at += std::strlen(needle);
  const char* end = text + length;
  uint64_t v = 0;
  const char* p = at;
  for (; p < end && *p >= '0' && *p <= '9'; ++p) {
    v = v * 10 + uint32_t(*p - '0');
    if (v > 0xFFFFFFFFu) return false;
  }
  if (p == at) return false;
  value = uint32_t(v);
  return true;
}

uint32_t HeaderLength(const char* text, uint32_t length) {
  const char* blank = FindText(text, length, "\r\n\r\n");
  return blank ? uint32_t(blank - text) + 4 : 0;
}

int32_t ClassifyHeader(const char* text, uint32_t length) {
  // A body behind the header may hold any bytes; it is not searched.
  const uint32_t header = HeaderLength(text, length);
  const uint32_t searched = header ? header : length;
  for (int32_t code = kHttpBadRequest; code <= kHttpVersionNotSupported; ++code)
    if (FindText(text, searched, HttpStatusText(code))) return code;
  return header ? kHttpHeaderComplete : 0;
}

bool ParseBoundary(const char* header, uint32_t length, char* delimiter, uint32_t size) {
  const char* at = FindText(header, length, "boundary=");
  if (!at || size < 4) return false;
  at += 9;
  const char* end = header + length;
  const char* stop;
  if (at < end && *at == '"') {
    ++at;
    stop = static_cast<const char*>(std::memchr(at, '"', size_t(end - at)));
  } else {
    stop = static_cast<const char*>(std::memchr(at, '\r', size_t(end - at)));
  }
  if (!stop || stop == at || uint32_t(stop - at) + 3 > size) return false;
  delimiter[0] = delimiter[1] = '-';
  std::memcpy(delimiter + 2, at, size_t(stop - at));
  delimiter[stop - at + 2] = 0;
  return true;
}

int32_t ParsePartHeader(const char* text, uint32_t length, const char* delimiter, uint32_t total,
                        PartHeader& part) {
  const uint32_t header = HeaderLength(text, length);
  const uint32_t searched = header ? header : length;
  if (!FindText(text, searched, "Content-Type: application/x-mp4;") ||
      !FindText(text, searched, delimiter))
    return kHttpUnexpected;
  uint32_t first = 0, last = 0, time = 0;
  if (!NumberAfter(text, searched, "Content-Range: bytes ", first) ||
      !NumberAfter(text, searched, "playbackTime=", time))
    return kHttpUnexpected;
  const char* range = FindText(text, searched, "Content-Range: bytes ") + 21;
  const char* dash = static_cast<const char*>(std::memchr(range, '-', size_t(text + searched - range)));
  if (!dash || !NumberAfter(dash, uint32_t(text + searched - dash), "-", last)) return kHttpUnexpected;
  // A part must lie inside the download; anything else would write outside
  // the data file or count bytes that never came.
  if (first > last || last >= total) return kHttpUnexpected;
  part.first = first;
  part.last = last;
  part.playbackTimeMs = time;
  part.headerLength = header;
  return kHttpHeaderComplete;
}

}  // namespace streaming
