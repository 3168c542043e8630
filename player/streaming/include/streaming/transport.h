// The two structured header values of the dialect: Transport and RTP-Info.
#pragma once

#include <cstdint>

#include "streaming/rtsp_token.h"

namespace streaming {

class TextWriter;

constexpr uint32_t kMaxTransports = 5;
constexpr uint32_t kMaxRtpInfoEntries = 10;

// A field is used and written only with its present flag set.
struct TransportSpec {
  bool hasProtocol = false;
  int32_t protocol = 0;         // 0 "RTP", 1 any other word
  bool hasProfile = false;
  int32_t profile = 0;          // 0 "AVP", 1 any other word
  bool hasLower = false;
  int32_t lower = 0;            // 0 "UDP", 1 "TCP"
  bool hasDelivery = false;
  int32_t delivery = 0;         // 0 unicast, 1 multicast
  bool append = false;
  RtspToken destination;
  bool hasInterleaved = false;
  uint16_t interleaved[2] = {0, 0};
  bool hasTtl = false;
  uint16_t ttl = 0;
  bool hasPort = false;
  uint16_t port[2] = {0, 0};
  bool hasClientPort = false;
  uint16_t clientPort[2] = {0, 0};
  bool hasServerPort = false;
  uint16_t serverPort[2] = {0, 0};
  bool hasLayers = false;
  int32_t layers = 0;
  bool hasMode = false;
  uint32_t mode = 0;            // bit 0 PLAY, bit 1 RECORD
  bool hasSsrc = false;
  uint32_t ssrc = 0;
};

struct RtpInfoEntry {
  bool hasUrl = false;
  RtspToken url;
  bool hasSeq = false;
  uint16_t seq = 0;
  bool hasRtptime = false;
  uint32_t rtptime = 0;
};

// Parse a header value into the fixed records, appending to count. False on
// a syntax error or a limit reached; what was parsed before stays.
// The RTP-Info parse terminates url values in place, hence the mutable text.
bool ParseTransport(const char* text, uint32_t length, TransportSpec* transports, uint32_t& count);
bool ParseRtpInfo(char* text, uint32_t length, RtpInfoEntry* entries, uint32_t& count);

// Appends one transport in the dialect's order of parameters.
bool ComposeTransportSpec(TextWriter& w, const TransportSpec& transport);

}  // namespace streaming
