// The packets ffprobe lists for a stream (`-show_entries
// packet=pts,size,data_hash -show_data_hash adler32 -of default=nw=1`), and
// the Adler-32 sum it prints, so that a test can hold what our reader hands
// out against what ffmpeg reads from the same file.
#pragma once

#include <cstdint>
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

}  // namespace source_test
