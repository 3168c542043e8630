// Large-file positioning and bounded big-endian reads from a C file.
#pragma once

#include <cstdint>
#include <cstdio>

namespace v2reader {

inline bool SeekTo(std::FILE* f, uint64_t position) {
  if (position > static_cast<uint64_t>(INT64_MAX)) return false;
#ifdef _WIN32
  return _fseeki64(f, static_cast<int64_t>(position), SEEK_SET) == 0;
#else
  return fseeko(f, static_cast<off_t>(position), SEEK_SET) == 0;
#endif
}

inline uint64_t LengthOf(std::FILE* f) {
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) != 0) return 0;
  int64_t n = _ftelli64(f);
#else
  if (fseeko(f, 0, SEEK_END) != 0) return 0;
  int64_t n = ftello(f);
#endif
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

constexpr uint32_t FourCC(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}

}  // namespace v2reader
