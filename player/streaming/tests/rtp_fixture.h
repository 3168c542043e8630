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

using Frame = std::vector<uint8_t>;

// The MPEG-4 stream cut as the payloader was fed (tests/capture_gst_media.py:
// a buffer ends at the start code behind a VOP's own), without the
// configuration headers that the payloader carries in the SDP instead: each
// frame starts at its GOV or VOP.
inline std::vector<Frame> Mpeg4Frames(const std::string& data) {
  auto p = reinterpret_cast<const uint8_t*>(data.data());
  std::vector<size_t> starts;
  for (size_t i = 0; i + 4 <= data.size(); ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1) starts.push_back(i);
  }
  std::vector<size_t> cuts = {0};
  for (size_t k = 0; k + 1 < starts.size(); ++k) {
    if (p[starts[k] + 3] == 0xB6) cuts.push_back(starts[k + 1]);
  }
  cuts.push_back(data.size());
  std::vector<Frame> frames;
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    size_t s = cuts[k];
    while (s + 4 <= cuts[k + 1] &&
           !(p[s] == 0 && p[s + 1] == 0 && p[s + 2] == 1 && (p[s + 3] == 0xB3 || p[s + 3] == 0xB6)))
      ++s;
    frames.emplace_back(p + s, p + cuts[k + 1]);
  }
  return frames;
}

// H.263 pictures: from one picture start code to the next.
inline std::vector<Frame> H263Frames(const std::string& data) {
  auto p = reinterpret_cast<const uint8_t*>(data.data());
  std::vector<size_t> pics;
  for (size_t i = 0; i + 3 <= data.size(); ++i) {
    if (p[i] == 0 && p[i + 1] == 0 && (p[i + 2] & 0xFC) == 0x80) pics.push_back(i);
  }
  pics.push_back(data.size());
  std::vector<Frame> frames;
  for (size_t k = 0; k + 1 < pics.size(); ++k) frames.emplace_back(p + pics[k], p + pics[k + 1]);
  return frames;
}

}  // namespace fixture
