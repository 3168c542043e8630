// The words of the stream control dialect, each once, with a
// case-insensitive 16-bit hash that lookups compare first.
#pragma once

#include <cstdint>

namespace streaming {

// Only the last six characters or so reach the hash, so words that share
// their tail collide ("client_port=" and "server_port="): a hash match is a
// filter, every lookup then compares length and bytes.
constexpr uint16_t HashBytes(const char* text, uint32_t length) {
  uint16_t h = 0;
  for (uint32_t i = 0; i < length; ++i) {
    auto s = static_cast<int8_t>(static_cast<uint8_t>(text[i]) | 0x20);
    h = static_cast<uint16_t>((h << 3) + static_cast<uint16_t>(static_cast<int16_t>(s)));
  }
  return h;
}

// A word of the vocabulary, or any slice of text inside a message.
struct RtspToken {
  const char* text = "";
  uint32_t length = 0;
  uint16_t hash = 0;

  bool empty() const { return length == 0; }
};

constexpr uint32_t LiteralLength(const char* s) {
  uint32_t n = 0;
  while (s[n]) ++n;
  return n;
}

constexpr RtspToken MakeToken(const char* word) {
  return RtspToken{word, LiteralLength(word), HashBytes(word, LiteralLength(word))};
}

inline RtspToken MakeToken(const char* text, uint32_t length) {
  return RtspToken{text, length, HashBytes(text, length)};
}

// Stores the hash of the token's bytes in the token.
void HashToken(RtspToken& token);
// Equal length and identical bytes: method names and the protocol version.
bool TokenEqualsExact(const RtspToken& a, const RtspToken& b);
// Equal length and bytes that differ at most in bit 0x20: header names.
bool TokenEqualsNoCase(const RtspToken& a, const RtspToken& b);
// Hash first, then the case-insensitive comparison.
bool TokenMatches(const RtspToken& a, const RtspToken& b);

enum RtspMethod : int32_t {
  kMethodNone = 0,
  kMethodDescribe = 1,
  kMethodGetParameter = 2,
  kMethodOptions = 3,
  kMethodPause = 4,
  kMethodPlay = 5,
  kMethodSetup = 6,
  kMethodRecord = 7,
  kMethodTeardown = 8,
  kMethodEndOfStream = 9,
  kMethodFrame = 10,  // '$': a binary frame interleaved in the connection
};

struct RtspMethodEntry {
  int32_t code;
  RtspToken token;
};

namespace vocab {
inline constexpr RtspToken kRtsp10 = MakeToken("RTSP/1.0");

inline constexpr RtspToken kSession = MakeToken("Session");
inline constexpr RtspToken kCSeq = MakeToken("CSeq");
inline constexpr RtspToken kContentBase = MakeToken("Content-Base");
inline constexpr RtspToken kContentType = MakeToken("Content-Type");
inline constexpr RtspToken kContentLength = MakeToken("Content-Length");
inline constexpr RtspToken kUserAgent = MakeToken("User-Agent");
inline constexpr RtspToken kAccept = MakeToken("Accept");
inline constexpr RtspToken kRequire = MakeToken("Require");
inline constexpr RtspToken kRange = MakeToken("Range");
inline constexpr RtspToken kTransport = MakeToken("Transport");
inline constexpr RtspToken kRtpInfo = MakeToken("RTP-Info");
inline constexpr RtspToken kBuffersize = MakeToken("Buffersize");

inline constexpr RtspToken kInterleaved = MakeToken("interleaved=");
inline constexpr RtspToken kClientPort = MakeToken("client_port=");
inline constexpr RtspToken kServerPort = MakeToken("server_port=");
inline constexpr RtspToken kTtl = MakeToken("ttl=");
inline constexpr RtspToken kMode = MakeToken("mode=");
inline constexpr RtspToken kPort = MakeToken("port=");
inline constexpr RtspToken kLayers = MakeToken("layers=");
inline constexpr RtspToken kSsrc = MakeToken("ssrc=");
inline constexpr RtspToken kDestination = MakeToken("destination");

inline constexpr RtspToken kRtp = MakeToken("RTP");
inline constexpr RtspToken kAvp = MakeToken("AVP");
inline constexpr RtspToken kUdp = MakeToken("UDP");
inline constexpr RtspToken kTcp = MakeToken("TCP");
inline constexpr RtspToken kUnicast = MakeToken("unicast");
inline constexpr RtspToken kMulticast = MakeToken("multicast");
inline constexpr RtspToken kAppend = MakeToken("append");
inline constexpr RtspToken kModePlay = MakeToken("PLAY");
inline constexpr RtspToken kModeRecord = MakeToken("RECORD");

// Phrases of the vocabulary without a status code.
inline constexpr RtspToken kParameterNotUnderstood = MakeToken("Parameter Not Understood");
inline constexpr RtspToken kConferenceNotFound = MakeToken("Conference Not Found");
inline constexpr RtspToken kNotEnoughBandwidth = MakeToken("Not Enough Bandwidth");

// The 11 methods in code order; row 0 is the empty word.
extern const RtspMethodEntry kMethodTable[11];
}  // namespace vocab

// The method's word by code; false for a code outside the table.
bool MethodToken(int32_t code, RtspToken& out);
// The phrase paired with a status code; an empty token when it has none.
RtspToken StatusPhrase(uint32_t status);

}  // namespace streaming
