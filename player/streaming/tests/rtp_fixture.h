// Reads the captured fixtures: whole files, and RTP packet records
// ([u32 big-endian length][packet]) with their headers picked apart.
#pragma once

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fixture {

inline std::string ReadFile(const std::string& name) {
  std::ifstream f(std::string(SUITE_TEST_DATA_DIR) + "/tests/data/" + name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

struct RtpPacket {
  std::vector<uint8_t> bytes;  // the whole datagram
  uint16_t seq = 0;
  uint32_t timestamp = 0;
  bool marker = false;
  uint32_t payloadOffset = 0;
  uint32_t payloadLength() const { return uint32_t(bytes.size()) - payloadOffset; }
};

inline std::vector<RtpPacket> ReadPackets(const std::string& name) {
  const std::string data = ReadFile(name);
  std::vector<RtpPacket> out;
  size_t i = 0;
  while (i + 4 <= data.size()) {
    auto b = [&](size_t k) { return uint8_t(data[k]); };
    uint32_t n = uint32_t(b(i)) << 24 | uint32_t(b(i + 1)) << 16 | uint32_t(b(i + 2)) << 8 | b(i + 3);
    RtpPacket p;
    p.bytes.assign(data.begin() + long(i + 4), data.begin() + long(i + 4 + n));
    p.marker = p.bytes[1] & 0x80;
    p.seq = uint16_t(p.bytes[2] << 8 | p.bytes[3]);
    p.timestamp = uint32_t(p.bytes[4]) << 24 | uint32_t(p.bytes[5]) << 16 | uint32_t(p.bytes[6]) << 8 | p.bytes[7];
    p.payloadOffset = 12 + 4 * (p.bytes[0] & 0x0F);
    out.push_back(std::move(p));
    i += 4 + n;
  }
  return out;
}

}  // namespace fixture
