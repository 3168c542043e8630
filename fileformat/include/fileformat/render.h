// Big-endian rendering of atom and descriptor fields to a byte stream.
// Every function writes nothing once the stream has failed, so a renderer can
// run to the end and the caller checks the stream once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string_view>

namespace fileformat {

void writeU32(std::ostream& out, uint32_t v);
void writeU24(std::ostream& out, uint32_t v);
void writeU16(std::ostream& out, uint32_t v);
void writeU8(std::ostream& out, uint32_t v);
void writeString(std::ostream& out, std::string_view s);
void writeStringZ(std::ostream& out, std::string_view s);
void writeWideString(std::ostream& out, std::u16string_view s);
void writeWideStringZ(std::ostream& out, std::u16string_view s);
void writeBytes(std::ostream& out, size_t n, const uint8_t* buf);
// Reads n bytes; bytes past the end of the input are zero. Returns false
// when the input ran out.
bool readBytes(std::istream& in, size_t n, uint8_t* buf);
// Text dumps: "0x" and the value in hex, leaving the stream in decimal.
void writeHexByte(std::ostream& out, uint8_t b);

// Four-character code as a 32-bit value, first character most significant.
constexpr uint32_t fourcc(std::string_view s) {
  return s.size() != 4 ? 0 : (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
         (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

// Local wall-clock time as whole seconds since 1904-01-01 00:00, the epoch of
// the movie, track and media header times (players show local time).
uint32_t currentTime1904();

// Units of a time scale for a time in milliseconds, rounded to the nearest
// unit and saturated at 32 bits. Integers give what a float computation gives
// at the writer's scales, without its drift on long recordings.
uint32_t msToUnits(uint32_t ms, uint32_t timeScale);
// Milliseconds for a time in units of a time scale (truncated, saturated);
// 0 for a time scale of 0.
uint32_t unitsToMs(uint32_t units, uint32_t timeScale);
// a + b, saturated at 32 bits: durations never wrap.
uint32_t saturatingAdd(uint32_t a, uint32_t b);

// Bytes of a descriptor's size field for a payload of that many bytes.
uint32_t sizeFieldLength(uint32_t payloadSize);

}  // namespace fileformat
