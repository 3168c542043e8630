#include "streaming/rtsp_token.h"

#include <cstring>

namespace streaming {

void HashToken(RtspToken& token) { token.hash = HashBytes(token.text, token.length); }

bool TokenEqualsExact(const RtspToken& a, const RtspToken& b) {
  return a.length == b.length && (a.length == 0 || std::memcmp(a.text, b.text, a.length) == 0);
}

bool TokenEqualsNoCase(const RtspToken& a, const RtspToken& b) {
  if (a.length != b.length) return false;
  for (uint32_t i = 0; i < a.length; ++i) {
    if (((static_cast<uint8_t>(a.text[i]) ^ static_cast<uint8_t>(b.text[i])) | 0x20) != 0x20) return false;
  }
  return true;
}

bool TokenMatches(const RtspToken& a, const RtspToken& b) {
  return a.hash == b.hash && TokenEqualsNoCase(a, b);
}

namespace vocab {
const RtspMethodEntry kMethodTable[11] = {
    {kMethodNone, MakeToken("")},
    {kMethodDescribe, MakeToken("DESCRIBE")},
    {kMethodGetParameter, MakeToken("GET_PARAMETER")},
    {kMethodOptions, MakeToken("OPTIONS")},
    {kMethodPause, MakeToken("PAUSE")},
    {kMethodPlay, MakeToken("PLAY")},
    {kMethodSetup, MakeToken("SETUP")},
    {kMethodRecord, MakeToken("RECORD")},
    {kMethodTeardown, MakeToken("TEARDOWN")},
    {kMethodEndOfStream, MakeToken("END_OF_STREAM")},
    {kMethodFrame, MakeToken("$")},
};
}  // namespace vocab

bool MethodToken(int32_t code, RtspToken& out) {
  for (const auto& row : vocab::kMethodTable) {
    if (row.code == code) {
      out = row.token;
      return true;
    }
  }
  return false;
}

namespace {
struct StatusRow {
  uint16_t code;
  RtspToken phrase;
};

// 480 is this dialect's own code for "Unsupported Client"; 409, 451 to 453
// have no phrase.
constexpr StatusRow kStatusTable[] = {
    {100, MakeToken("Continue")},
    {200, MakeToken("OK")},
    {201, MakeToken("Created")},
    {250, MakeToken("Low on Storage Space")},
    {300, MakeToken("Multiple Choices")},
    {301, MakeToken("Moved Permanently")},
    {302, MakeToken("Moved Temporarily")},
    {303, MakeToken("See Other")},
    {304, MakeToken("Not Modified")},
    {305, MakeToken("Use Proxy")},
    {400, MakeToken("Bad Request")},
    {401, MakeToken("Unauthorized")},
    {402, MakeToken("Payment Required")},
    {403, MakeToken("Forbidden")},
    {404, MakeToken("Not Found")},
    {405, MakeToken("Method Not Allowed")},
    {406, MakeToken("Not Acceptable")},
    {407, MakeToken("Proxy Authentication Required")},
    {408, MakeToken("Request Time-out")},
    {410, MakeToken("Gone")},
    {411, MakeToken("Length Required")},
    {412, MakeToken("Precondition Failed")},
    {413, MakeToken("Request Entity Too Large")},
    {414, MakeToken("Request-URI Too Large")},
    {415, MakeToken("Unsupported Media Type")},
    {454, MakeToken("Session Not Found")},
    {455, MakeToken("Method Not Valid In This State")},
    {456, MakeToken("Header Field Not Valid For Resource")},
    {457, MakeToken("Invalid Range")},
    {458, MakeToken("Parameter Is Read-Only")},
    {459, MakeToken("Aggregate Operation Not Allowed")},
    {460, MakeToken("Only Aggregate Operation Allowed")},
    {461, MakeToken("Unsupported Transport")},
    {462, MakeToken("Destination Unreachable")},
    {480, MakeToken("Unsupported Client")},
    {500, MakeToken("Internal Server Error")},
    {501, MakeToken("Not Implemented")},
    {502, MakeToken("Bad Gateway")},
    {503, MakeToken("Service Unavailable")},
    {504, MakeToken("Gateway Timeout")},
    {505, MakeToken("RTSP Version Not Supported")},
    {551, MakeToken("Option Not Supported")},
};
}  // namespace

RtspToken StatusPhrase(uint32_t status) {
  for (const auto& row : kStatusTable) {
    if (row.code == status) return row.phrase;
  }
  return RtspToken{};
}

}  // namespace streaming
