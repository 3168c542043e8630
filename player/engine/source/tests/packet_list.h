// The packets ffprobe lists for a stream (`-show_entries
// packet=pts,size,data_hash -show_data_hash adler32 -of default=nw=1`), and
// the Adler-32 sum it prints, so that a test can hold what our reader hands
// out against what ffmpeg reads from the same file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <istream>
#include <string>
#include <vector>

namespace source_test {

struct Packet {
  int64_t pts = 0;
  uint32_t size = 0;
  uint32_t adler = 0;
};

inline uint32_t Adler32(const uint8_t* data, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + data[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// The sum of a followed by b (b of lengthB bytes), as zlib combines them.
inline uint32_t Adler32Combine(uint32_t a, uint32_t b, uint64_t lengthB) {
  const uint32_t base = 65521;
  const uint32_t rem = static_cast<uint32_t>(lengthB % base);
  uint64_t sum1 = a & 0xFFFF;
  uint64_t sum2 = (uint64_t(rem) * sum1) % base;
  sum1 += (b & 0xFFFF) + base - 1;
  sum2 += ((a >> 16) & 0xFFFF) + ((b >> 16) & 0xFFFF) + base - rem;
  if (sum1 >= base) sum1 -= base;
  if (sum1 >= base) sum1 -= base;
  if (sum2 >= uint64_t(base) << 1) sum2 -= uint64_t(base) << 1;
  if (sum2 >= base) sum2 -= base;
  return static_cast<uint32_t>(sum1 | (sum2 << 16));
}

inline std::vector<Packet> ParsePackets(std::istream& in) {
  std::vector<Packet> out;
  Packet p;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("pts=", 0) == 0) p.pts = std::strtoll(line.c_str() + 4, nullptr, 10);
    if (line.rfind("size=", 0) == 0) p.size = static_cast<uint32_t>(std::strtoul(line.c_str() + 5, nullptr, 10));
    if (line.rfind("data_hash=adler32:", 0) == 0) {
      p.adler = static_cast<uint32_t>(std::strtoul(line.c_str() + 18, nullptr, 16));
      out.push_back(p);
      p = Packet{};
    }
  }
  return out;
}

// ffmpeg's framecrc lines ("stream, dts, pts, duration, size, 0xADLER"),
// whose Adler-32 starts from 0 instead of 1: turned into the usual sum.
inline std::vector<Packet> ParseFrameCrc(std::istream& in) {
  std::vector<Packet> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    long long stream = 0, dts = 0, pts = 0, duration = 0, size = 0;
    unsigned long crc = 0;
    if (std::sscanf(line.c_str(), "%lld, %lld, %lld, %lld, %lld, 0x%lx", &stream, &dts, &pts, &duration, &size, &crc) != 6)
      continue;
    Packet p;
    p.pts = pts;
    p.size = static_cast<uint32_t>(size);
    const uint32_t a = static_cast<uint32_t>(((crc & 0xFFFF) + 1) % 65521);
    const uint32_t b = static_cast<uint32_t>(((crc >> 16) + static_cast<uint64_t>(size)) % 65521);
    p.adler = (b << 16) | a;
    out.push_back(p);
  }
  return out;
}

}  // namespace source_test
