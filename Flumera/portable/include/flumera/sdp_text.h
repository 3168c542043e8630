// The SDP description of a live session as the server announces it in its
// DESCRIBE reply, and the reply around it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace flumera {

struct SdpTrack {
  uint32_t kind = 0;  // 1, 2 video base and second layer; 3 AMR; 4 EVRC; 5 AAC
  uint32_t bitRate = 0;
  uint8_t versionMajor = 0, versionMinor = 0;
  std::vector<uint8_t> config;  // decoder configuration
  uint32_t payloadNumber = 0;
};

struct SdpSession {
  // UTF-8 texts.
  std::string title, information, version, author, copyright, rating;
  uint8_t versionMajor = 0, versionMinor = 0;
  uint32_t mediaMask = 0;  // bit 0 audio, bit 1 MPEG-4 video, bit 2 still image
  bool secondLayer = false;
  bool videoOnlyAllowed = false;
  float frameRateBase = 0, frameRateSecond = 0;
  int iFrameInterval = 0;
  long width = 0, height = 0;
  uint32_t decodeBufferSize = 0;
  std::vector<SdpTrack> tracks;
};

// The session's total bit rate: the tracks' rates added, except that a
// second video layer's rate (which includes the base layer's) replaces the
// sum so far.
uint32_t TotalBitRate(const SdpSession& s);
std::string BuildSdpBody(const SdpSession& s);
// The DESCRIBE reply: status, CSeq, content type; with a body its length and
// the body, else an empty body with length 0.
std::string BuildDescribeReply(long cseq, const std::string& body);

// A text cut to at most `limit` bytes without splitting a UTF-8 sequence.
std::string CutUtf8(const std::string& text, size_t limit);

}  // namespace flumera
