#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "sdp_lines.h"
#include "streaming/sdp.h"

namespace streaming {

using sdp::Line;

SdpMediaDescription::~SdpMediaDescription() {
  for (RefString** t : {&mediaType, &transport, &encodingName, &control, &dependsOnText}) RefStringRelease(*t);
}
SdpImageMedia::~SdpImageMedia() { RefStringRelease(imageText); }
SdpEvrcMedia::~SdpEvrcMedia() { RefStringRelease(language); }
SdpAmrMedia::~SdpAmrMedia() { RefStringRelease(language); }
SdpConfigAudioMedia::~SdpConfigAudioMedia() { RefStringRelease(language); }

namespace {
uint32_t len(const RefString* r) { return r ? r->length : 0; }

// Prefix and line end of each line, and room for a 10-digit number in each.
constexpr uint32_t kLineAllowance = 24;
}  // namespace

uint32_t SdpMediaDescription::CommonTextLength() const {
  // m=, a=rtpmap:, a=control:, b=AS:, a=content_version:, a=depends_on:,
  // a=random_access_denied and a=range: lines.
  RangeValue r = range;
  return 8 * kLineAllowance + len(mediaType) + len(transport) + len(encodingName) + len(control) +
         len(dependsOnText) + GetRangeTextLength(r);
}
uint32_t SdpMediaDescription::GetTextLength() const { return CommonTextLength(); }
uint32_t SdpImageMedia::GetTextLength() const { return imageText && imageText->length ? imageText->length + 44 : 42; }
uint32_t SdpMpeg4VideoMedia::GetTextLength() const {
  return CommonTextLength() + 4 * kLineAllowance + 2 * uint32_t(config.size()) + 64;
}
uint32_t SdpH263Media::GetTextLength() const { return CommonTextLength() + 2 * kLineAllowance + 64; }
uint32_t SdpEvrcMedia::GetTextLength() const { return CommonTextLength() + 2 * kLineAllowance + 64 + len(language); }
uint32_t SdpAmrMedia::GetTextLength() const { return CommonTextLength() + 3 * kLineAllowance + 160 + len(language); }
uint32_t SdpConfigAudioMedia::GetTextLength() const {
  return CommonTextLength() + 2 * kLineAllowance + 2 * uint32_t(config.size()) + 32 + len(language);
}

namespace {

// a=rtpmap:<pt> <name>/<clock>[/...]
int32_t parseRtpmap(const Line& line, SdpMediaDescription& m) {
  const char* p = line.start + 9;
  const char *t, *te;
  uint32_t pt;
  if (!sdp::NextToken(p, line.end, t, te) || !sdp::Decimal(t, te, pt)) return kSdpMediaSyntax;
  if (int32_t(pt) != m.payloadType) return kSdpPayloadMismatch;
  if (!sdp::NextToken(p, line.end, t, te)) return kSdpMediaSyntax;
  const char* slash = static_cast<const char*>(std::memchr(t, '/', size_t(te - t)));
  if (!slash || slash == t) return kSdpMediaSyntax;
  const char* c = slash + 1;
  const char* ce = static_cast<const char*>(std::memchr(c, '/', size_t(te - c)));
  if (!ce) ce = te;
  uint32_t clock;
  // A clock rate of 0 would later divide time stamps by zero.
  if (ce == c || !sdp::Decimal(c, ce, clock) || clock == 0 || clock > 0x7FFFFFFF) return kSdpMediaSyntax;
  sdp::SetText(m.encodingName, t, slash);
  m.clockRate = int32_t(clock);
  return kSdpOk;
}

// Major and the first decimal of the minor: "2.15" is 2.1.
int32_t parseMediaContentVersion(const char* p, const char* end, uint16_t& out) {
  p = SkipBlanks(p, end);
  const char* e = FindTokenEnd(p, end);
  if (e == p) return kSdpMediaSyntax;
  const char* dot = p;
  while (dot < e && *dot != '.') ++dot;
  uint32_t major, minor = 0;
  if (dot == p || !sdp::Decimal(p, dot, major)) return kSdpMediaSyntax;
  if (dot < e) {
    for (const char* d = dot + 1; d < e; ++d) {
      if (*d < '0' || *d > '9') return kSdpMediaSyntax;
    }
    if (dot + 1 < e) minor = uint32_t(dot[1] - '0');
  }
  out = uint16_t((major & 0xFF) << 8 | minor);
  return kSdpOk;
}

int32_t parseMediaLine(const Line& line, SdpMediaDescription& m) {
  const char c = line.start[0];
  if (c == 'b') {
    if (!sdp::StartsWith(line, "b=AS:")) return kSdpOk;
    const char *t, *te;
    const char* p = line.start + 5;
    uint32_t kbps;
    if (!sdp::NextToken(p, line.end, t, te) || !sdp::Decimal(t, te, kbps)) return kSdpMediaSyntax;
    // In 64 bits and capped: the value sizes buffers later.
    uint64_t bps = uint64_t(kbps) * 1000;
    m.bandwidth = bps > 0x7FFFFFFF ? 0x7FFFFFFF : int32_t(bps);
    return kSdpOk;
  }
  if (c == 'm') {
    if (line.end - line.start < 2 || line.start[1] != '=') return kSdpMediaSyntax;
    const char* p = line.start + 2;
    const char* t[4];
    const char* e[4];
    for (int i = 0; i < 4; ++i) {
      if (!sdp::NextToken(p, line.end, t[i], e[i])) return kSdpMediaSyntax;
    }
    sdp::SetText(m.mediaType, t[0], e[0]);
    sdp::SetText(m.transport, t[2], e[2]);
    if (!sdp::DecimalInt(t[1], e[1], m.port) || !sdp::DecimalInt(t[3], e[3], m.payloadType))
      return kSdpMediaSyntax;
    return kSdpOk;
  }
  if (c != 'a') return kSdpOk;
  if (line.end - line.start < 2 || line.start[1] != '=') return kSdpMediaSyntax;
  const char* v;
  if (sdp::StartsWith(line, "a=rtpmap:")) {
    if (int32_t r = parseRtpmap(line, m); r != kSdpOk) return r;
  }
  if (sdp::StartsWith(line, "a=control:")) {
    if (!sdp::Rest(line, 10, v)) return kSdpMediaSyntax;
    sdp::SetText(m.control, v, line.end);
  }
  if (sdp::StartsWith(line, "a=range:")) ParseRange(line.start + 8, uint32_t(line.end - line.start - 8), m.range);
  if (sdp::StartsWith(line, "a=content_version:")) {
    if (int32_t r = parseMediaContentVersion(line.start + 18, line.end, m.contentVersion); r != kSdpOk) return r;
  }
  if (sdp::StartsWith(line, "a=depends_on:")) {
    const char* rest = line.start + 13;
    sdp::SetText(m.dependsOnText, rest, line.end);
    if (const char* eq = static_cast<const char*>(std::memchr(rest, '=', size_t(line.end - rest)))) {
      const char* d = SkipBlanks(eq + 1, line.end);
      if (d < line.end && *d >= '0' && *d <= '9') m.dependsOnTrack = *d - '0';
    }
  }
  if (sdp::StartsWith(line, "a=random_access_denied")) m.randomAccessDenied = true;
  return kSdpOk;
}

// Walks every line of a section with a class's own handler after the common
// one; the handler sees only a= lines.
template <typename Handler>
int32_t walkSection(const char* text, uint32_t length, Handler&& handler) {
  const char* p = text;
  const char* end = text + length;
  Line line;
  while (sdp::NextLine(p, end, line)) {
    if (int32_t r = handler(line); r != kSdpOk) return r;
  }
  return kSdpOk;
}

// One fmtp parameter: its name (prefix-tested by the class) and the text
// behind its '=' up to the ';'.
struct FmtpParam {
  const char* start;
  const char* end;
  bool Is(const char* name) const {
    size_t n = std::strlen(name);
    return size_t(end - start) >= n && std::memcmp(start, name, n) == 0;
  }
  // Reads the decimal behind the '='; leaves the field unchanged otherwise.
  void Number(int32_t& field) const {
    const char* eq = static_cast<const char*>(std::memchr(start, '=', size_t(end - start)));
    if (!eq) return;
    const char* v = SkipBlanks(eq + 1, end);
    const char* e = end;
    while (e > v && IsWhiteSpace(e[-1])) --e;
    int32_t n;
    if (e > v && sdp::DecimalInt(v, e, n)) field = n;
  }
  void Value(const char*& v, const char*& e) const {
    const char* eq = static_cast<const char*>(std::memchr(start, '=', size_t(end - start)));
    v = eq ? eq + 1 : end;
    e = end;
    while (e > v && IsWhiteSpace(e[-1])) --e;
  }
};

template <typename ParamHandler>
int32_t parseFmtp(const Line& line, const SdpMediaDescription& m, ParamHandler&& handler) {
  const char* p = line.start + 7;
  const char *t, *te;
  uint32_t pt;
  if (!sdp::NextToken(p, line.end, t, te) || !sdp::Decimal(t, te, pt)) return kSdpMediaSyntax;
  if (int32_t(pt) != m.payloadType) return kSdpPayloadMismatch;
  p = SkipBlanks(p, line.end);
  bool first = true;
  while (p < line.end) {
    if (!first) {
      ++p;  // the ';'
      if (SkipBlanks(p, line.end) == line.end) return kSdpMediaSyntax;  // ';' and nothing behind
    }
    first = false;
    const char* s = SkipBlanks(p, line.end);
    const char* e = static_cast<const char*>(std::memchr(s, ';', size_t(line.end - s)));
    if (!e) e = line.end;
    if (int32_t r = handler(FmtpParam{s, e}); r != kSdpOk) return r;
    p = e;
  }
  return kSdpOk;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int32_t parseConfig(const FmtpParam& param, std::vector<uint8_t>& config) {
  const char *v, *e;
  param.Value(v, e);
  if ((e - v) % 2) return kSdpMediaSyntax;
  std::vector<uint8_t> bytes;
  bytes.reserve(size_t(e - v) / 2);
  for (const char* h = v; h < e; h += 2) {
    int hi = hexDigit(h[0]), lo = hexDigit(h[1]);
    if (hi < 0 || lo < 0) return kSdpMediaSyntax;
    bytes.push_back(uint8_t(hi << 4 | lo));
  }
  config.swap(bytes);
  return kSdpOk;
}

// width "-" height, split at the last '-'.
int32_t parseFrameSizeText(const char* v, const char* e, int32_t& width, int32_t& height) {
  const char* dash = nullptr;
  for (const char* q = v; q < e; ++q) {
    if (*q == '-') dash = q;
  }
  if (v == e || !dash) return kSdpBadFrameSize;
  int32_t w, h;
  if (!sdp::DecimalInt(v, dash, w) || !sdp::DecimalInt(dash + 1, e, h)) return kSdpMediaSyntax;
  width = w;
  height = h;
  return kSdpOk;
}

int32_t parseFrameSize(const FmtpParam& param, int32_t& width, int32_t& height) {
  const char *v, *e;
  param.Value(v, e);
  return parseFrameSizeText(v, e, width, height);
}

// "a=framesize:<pt> <width>-<height>", the attribute ffmpeg and 3GPP
// servers write in place of the fmtp parameter.
int32_t parseFrameSizeAttribute(const Line& line, const SdpMediaDescription& m, int32_t& width, int32_t& height) {
  const char* p = line.start + 12;
  const char *t, *te;
  uint32_t pt;
  if (!sdp::NextToken(p, line.end, t, te) || !sdp::Decimal(t, te, pt)) return kSdpMediaSyntax;
  if (int32_t(pt) != m.payloadType) return kSdpPayloadMismatch;
  if (!sdp::NextToken(p, line.end, t, te)) return kSdpBadFrameSize;
  return parseFrameSizeText(t, te, width, height);
}

int32_t parseLanguage(const Line& line, RefString*& language) {
  const char* v;
  if (!sdp::Rest(line, 7, v)) return kSdpMediaSyntax;
  sdp::SetText(language, v, line.end);
  return kSdpOk;
}

// Allocates the object, appends it (it stays even when its parse fails),
// runs the common lines and then the class's own.
template <typename Media, typename Own>
int32_t parseMedia(const char* text, uint32_t length, SdpSessionDescription& session, Own&& own) {
  if (session.mediaCount >= int32_t(kMaxSdpMedia)) return kSdpNoRoom;
  auto* m = new (std::nothrow) Media;
  if (!m) return kSdpNoRoom;
  session.media[session.mediaCount++] = m;
  if (int32_t r = ParseSdpMediaLine(text, *m, length); r != kSdpOk) return r;
  return walkSection(text, length, [&](const Line& line) { return own(line, *m); });
}

}  // namespace

int32_t ParseSdpMediaLine(const char* text, SdpMediaDescription& media, uint32_t length) {
  return walkSection(text, length, [&](const Line& line) { return parseMediaLine(line, media); });
}

int32_t SdpMpeg4VideoMediaParse(const char* text, uint32_t length, SdpSessionDescription& session) {
  return parseMedia<SdpMpeg4VideoMedia>(text, length, session, [](const Line& line, SdpMpeg4VideoMedia& m) {
    const char* v;
    if (sdp::StartsWith(line, "a=framerate:")) {
      if (!sdp::Rest(line, 12, v)) return int32_t(kSdpMediaSyntax);
      char tmp[32] = {};
      std::memcpy(tmp, v, std::min<size_t>(sizeof tmp - 1, size_t(line.end - v)));
      char* stop;
      double rate = std::strtod(tmp, &stop);
      if (stop == tmp) return int32_t(kSdpMediaSyntax);
      m.frameRate = rate;
      return int32_t(kSdpOk);
    }
    if (sdp::StartsWith(line, "a=framesize:")) return parseFrameSizeAttribute(line, m, m.frameWidth, m.frameHeight);
    if (sdp::StartsWith(line, "a=I_frame_interval:")) {
      const char *t, *te;
      const char* p = line.start + 19;
      int32_t n;
      if (!sdp::NextToken(p, line.end, t, te) || !sdp::DecimalInt(t, te, n)) return int32_t(kSdpMediaSyntax);
      m.iFrameInterval = n;
      return int32_t(kSdpOk);
    }
    if (!sdp::StartsWith(line, "a=fmtp:")) return int32_t(kSdpOk);
    return parseFmtp(line, m, [&](const FmtpParam& param) {
      if (param.Is("config=")) return parseConfig(param, m.config);
      if (param.Is("profile-level-id=")) param.Number(m.profileLevelId);
      if (param.Is("framesize=")) return parseFrameSize(param, m.frameWidth, m.frameHeight);
      if (param.Is("decode_buf=")) param.Number(m.decodeBuffer);
      return int32_t(kSdpOk);
    });
  });
}

int32_t SdpH263MediaParse(const char* text, uint32_t length, SdpSessionDescription& session) {
  return parseMedia<SdpH263Media>(text, length, session, [](const Line& line, SdpH263Media& m) {
    if (sdp::StartsWith(line, "a=framesize:")) return parseFrameSizeAttribute(line, m, m.frameWidth, m.frameHeight);
    if (!sdp::StartsWith(line, "a=fmtp:")) return int32_t(kSdpOk);
    return parseFmtp(line, m, [&](const FmtpParam& param) {
      if (param.Is("codec_profile=")) param.Number(m.codecProfile);
      if (param.Is("codec_level=")) param.Number(m.codecLevel);
      if (param.Is("framesize=")) return parseFrameSize(param, m.frameWidth, m.frameHeight);
      if (param.Is("decode_buf=")) param.Number(m.decodeBuffer);
      return int32_t(kSdpOk);
    });
  });
}

int32_t SdpEvrcMediaParse(const char* text, uint32_t length, SdpSessionDescription& session) {
  return parseMedia<SdpEvrcMedia>(text, length, session, [](const Line& line, SdpEvrcMedia& m) {
    if (sdp::StartsWith(line, "a=lang:")) return parseLanguage(line, m.language);
    if (!sdp::StartsWith(line, "a=fmtp:")) return int32_t(kSdpOk);
    return parseFmtp(line, m, [&](const FmtpParam& param) {
      if (param.Is("maxframes=")) param.Number(m.maxFrames);
      if (param.Is("maxbundles=")) param.Number(m.maxBundles);
      if (param.Is("ptime=")) param.Number(m.ptime);
      if (param.Is("decode_buf=")) param.Number(m.decodeBuffer);
      return int32_t(kSdpOk);
    });
  });
}

int32_t SdpAmrMediaParse(const char* text, uint32_t length, SdpSessionDescription& session) {
  return parseMedia<SdpAmrMedia>(text, length, session, [](const Line& line, SdpAmrMedia& m) {
    if (sdp::StartsWith(line, "a=lang:")) return parseLanguage(line, m.language);
    if (sdp::StartsWith(line, "a=X-allowrecord")) {
      m.allowRecord = true;
      return int32_t(kSdpOk);
    }
    if (!sdp::StartsWith(line, "a=fmtp:")) return int32_t(kSdpOk);
    return parseFmtp(line, m, [&](const FmtpParam& param) {
      if (param.Is("maxptime=")) param.Number(m.maxPtime);
      if (param.Is("interleaving=")) param.Number(m.interleaving);
      if (param.Is("mode-change-period=")) param.Number(m.modeChangePeriod);
      if (param.Is("decode_buf=")) param.Number(m.decodeBuffer);
      // The name alone sets these, whatever value follows.
      if (param.Is("crc")) m.crc = true;
      if (param.Is("robust-sorting")) m.robustSorting = true;
      if (param.Is("octet-align")) m.octetAlign = true;
      if (param.Is("mode-change-neighbor")) m.modeChangeNeighbour = true;
      if (param.Is("mode-set=")) {
        const char *v, *e;
        param.Value(v, e);
        while (v < e) {
          const char* c = static_cast<const char*>(std::memchr(v, ',', size_t(e - v)));
          if (!c) c = e;
          const char* a = SkipBlanks(v, c);
          const char* b = c;
          while (b > a && IsBlank(b[-1])) --b;
          uint32_t mode;
          if (b == a || !sdp::Decimal(a, b, mode)) return int32_t(kSdpMediaSyntax);
          // A mode listed twice is the same mode; modes above 7 have no bit.
          if (mode <= 7) m.modeSetMask |= 1u << mode;
          v = c < e ? c + 1 : e;
        }
      }
      return int32_t(kSdpOk);
    });
  });
}

int32_t SdpConfigAudioMediaParse(const char* text, uint32_t length, SdpSessionDescription& session) {
  return parseMedia<SdpConfigAudioMedia>(text, length, session, [](const Line& line, SdpConfigAudioMedia& m) {
    if (sdp::StartsWith(line, "a=lang:")) return parseLanguage(line, m.language);
    if (!sdp::StartsWith(line, "a=fmtp:")) return int32_t(kSdpOk);
    return parseFmtp(line, m, [&](const FmtpParam& param) {
      if (param.Is("config=")) return parseConfig(param, m.config);
      if (param.Is("decode_buf=")) param.Number(m.decodeBuffer);
      return int32_t(kSdpOk);
    });
  });
}

int32_t SdpImageMediaParse(const char*, uint32_t, SdpSessionDescription& session) {
  if (session.mediaCount >= int32_t(kMaxSdpMedia)) return kSdpNoRoom;
  auto* m = new (std::nothrow) SdpImageMedia;
  if (!m) return kSdpNoRoom;
  session.media[session.mediaCount++] = m;
  RefStringAssign(m->encodingName, "X-MP4V-IMAGE");
  return kSdpOk;
}

}  // namespace streaming
