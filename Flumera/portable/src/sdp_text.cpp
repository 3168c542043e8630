#include "flumera/sdp_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace flumera {

namespace {

void Add(std::string& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Add(std::string& out, const char* format, ...) {
  char b[512];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(b, sizeof b, format, args);
  va_end(args);
  if (n > 0) out.append(b, size_t(n) < sizeof b ? size_t(n) : sizeof b - 1);
}

unsigned Kbits(uint32_t bits) { return unsigned((uint64_t(bits) + 999) / 1000); }

void AddText(std::string& out, const char* key, const std::string& value, bool always) {
  if (!always && value.empty()) return;
  out += key;
  out += value;
  out += "\r\n";
}

void AddHex(std::string& out, const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789abcdef";
  for (uint8_t b : bytes) out += kHex[b >> 4], out += kHex[b & 15];
}

bool IsVideo(const SdpTrack& t) { return t.kind == 1 || t.kind == 2; }

}  // namespace

std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t n = limit;
  while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
  return text.substr(0, n);
}

uint32_t TotalBitRate(const SdpSession& s) {
  uint64_t total = 0;
  for (size_t i = 0; i < s.tracks.size(); ++i) {
    if ((s.mediaMask & 2) && s.secondLayer && i == 1)
      total = s.tracks[1].bitRate;
    else
      total += s.tracks[i].bitRate;
  }
  return total > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(total);
}

std::string BuildSdpBody(const SdpSession& s) {
  std::string out;
  Add(out, "v=%u\r\n", 0u);
  AddText(out, "s=", s.title, true);
  AddText(out, "i=", s.information, false);
  AddText(out, "a=version:", s.version, true);
  AddText(out, "a=author:", s.author, false);
  Add(out, "a=content_version:%u.%u\r\n", s.versionMajor, s.versionMinor);
  AddText(out, "a=copyright:", s.copyright, false);
  AddText(out, "a=rating:", s.rating, false);
  // The leading blank is the dialect's own.
  Add(out, " b=AS:%u\r\n", Kbits(TotalBitRate(s)));
  Add(out, "t=%s\r\n", "0 0");
  if (s.mediaMask & 3) out += s.videoOnlyAllowed ? "a=video_only_allowed:true\r\n" : "a=video_only_allowed:false\r\n";

  const bool video = (s.mediaMask & 2) && !s.tracks.empty();
  if (video) {
    const int layers = s.secondLayer && s.tracks.size() > 1 ? 2 : 1;
    for (int l = 0; l < layers; ++l) {
      const SdpTrack& t = s.tracks[size_t(l)];
      const uint32_t rate = l == 0 ? t.bitRate : t.bitRate - std::min(t.bitRate, s.tracks[0].bitRate);
      Add(out, "m=video %u RTSP/KRP %u\r\n", 0u, unsigned(t.payloadNumber));
      Add(out, "a=rtpmap:%d KRMP4V-ES/%u\r\n", int(t.payloadNumber), 1000u);
      Add(out, "a=content_version:%u.%u\r\n", t.versionMajor, t.versionMinor);
      Add(out, "b=AS:%u\r\n", Kbits(rate));
      Add(out, "a=framerate:%f\r\n", double(l == 0 ? s.frameRateBase : s.frameRateSecond));
      Add(out, "a=I_frame_interval:%d\r\n", s.iFrameInterval);
      Add(out, "a=fmtp:%d profile-level-id=1;config=", int(t.payloadNumber));
      AddHex(out, t.config);
      if (l == 0)
        Add(out, ";framesize=%ld-%ld;decode_buf=%u\r\n", s.width, s.height, unsigned(s.decodeBufferSize));
      else
        out += "\r\n";
    }
  } else if (s.mediaMask & 4) {
    Add(out, "m=application %u RTSP/GET_PARAMETER IMAGE\r\n", 0u);
  }
  if (s.mediaMask & 1) {
    for (const SdpTrack& t : s.tracks) {
      if (IsVideo(t)) continue;
      const unsigned pt = unsigned(t.payloadNumber + 95);
      Add(out, "m=audio %u RTSP/KRP %u\r\n", 0u, pt);
      if (t.kind == 3) Add(out, "a=rtpmap:%u AMR/%u\r\n", pt, 8000u);
      if (t.kind == 4) Add(out, "a=rtpmap:%u EVRC/%u\r\n", pt, 8000u);
      Add(out, "a=content_version:%u.%u\r\n", t.versionMajor, t.versionMinor);
      Add(out, "b=AS:%u\r\n", Kbits(t.bitRate));
    }
  }
  return out;
}

std::string BuildDescribeReply(long cseq, const std::string& body) {
  std::string out;
  Add(out, "RTSP/1.0 %d OK\r\nCSeq:%ld\r\nContent-Type:application/sdp\r\n", 200, cseq);
  Add(out, "Content-Length: %u\r\n\r\n", unsigned(body.size()));
  return out + body;
}

}  // namespace flumera
