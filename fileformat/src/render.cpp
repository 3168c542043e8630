#include "fileformat/render.h"

#include <algorithm>
#include <limits>

#include "platform/os.h"

namespace fileformat {

namespace {
inline void put(std::ostream& out, uint32_t byte) { out.put(static_cast<char>(byte & 0xFF)); }
}  // namespace

void writeU32(std::ostream& out, uint32_t v) {
  if (out.fail()) return;
  put(out, v >> 24);
  put(out, v >> 16);
  put(out, v >> 8);
  put(out, v);
}

void writeU24(std::ostream& out, uint32_t v) {
  if (out.fail()) return;
  put(out, v >> 16);
  put(out, v >> 8);
  put(out, v);
}

void writeU16(std::ostream& out, uint32_t v) {
  if (out.fail()) return;
  put(out, v >> 8);
  put(out, v);
}

void writeU8(std::ostream& out, uint32_t v) {
  if (out.fail()) return;
  put(out, v);
}

void writeString(std::ostream& out, std::string_view s) {
  for (char c : s) {
    if (out.fail()) return;
    out.put(c);
  }
}

void writeStringZ(std::ostream& out, std::string_view s) {
  writeString(out, s);
  writeU8(out, 0);
}

void writeWideString(std::ostream& out, std::u16string_view s) {
  for (char16_t c : s) writeU16(out, c);
}

void writeWideStringZ(std::ostream& out, std::u16string_view s) {
  writeWideString(out, s);
  writeU16(out, 0);
}

void writeBytes(std::ostream& out, size_t n, const uint8_t* buf) {
  if (out.fail() || n == 0) return;
  out.write(reinterpret_cast<const char*>(buf), static_cast<std::streamsize>(n));
}

bool readBytes(std::istream& in, size_t n, uint8_t* buf) {
  bool ok = true;
  for (size_t i = 0; i < n; ++i) {
    int c = ok ? in.get() : std::istream::traits_type::eof();
    if (c == std::istream::traits_type::eof()) {
      ok = false;
      buf[i] = 0;
    } else {
      buf[i] = static_cast<uint8_t>(c);
    }
  }
  return ok;
}

void writeHexByte(std::ostream& out, uint8_t b) {
  if (out.fail()) return;
  out << "0x" << std::hex << unsigned(b) << std::dec;
}

uint32_t currentTime1904() {
  // 1601-01-01 to 1904-01-01 in seconds.
  constexpr uint64_t kEpoch1904 = 9561628800ULL;
  uint64_t seconds = platform::localFileTime() / 10000000ULL;
  return static_cast<uint32_t>(seconds - kEpoch1904);
}

uint32_t msToUnits(uint32_t ms, uint32_t timeScale) {
  uint64_t units = (uint64_t(timeScale) * ms + 500) / 1000;
  return static_cast<uint32_t>(std::min<uint64_t>(units, std::numeric_limits<uint32_t>::max()));
}

uint32_t unitsToMs(uint32_t units, uint32_t timeScale) {
  if (timeScale == 0) return 0;
  uint64_t ms = uint64_t(units) * 1000 / timeScale;
  return static_cast<uint32_t>(std::min<uint64_t>(ms, std::numeric_limits<uint32_t>::max()));
}

uint32_t saturatingAdd(uint32_t a, uint32_t b) {
  uint64_t s = uint64_t(a) + b;
  return static_cast<uint32_t>(std::min<uint64_t>(s, std::numeric_limits<uint32_t>::max()));
}

uint32_t sizeFieldLength(uint32_t payloadSize) {
  if (payloadSize < 0x80) return 1;
  if (payloadSize < 0x4000) return 2;
  if (payloadSize < 0x200000) return 3;
  return 4;
}

}  // namespace fileformat
