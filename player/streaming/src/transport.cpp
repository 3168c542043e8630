#include "streaming/transport.h"

#include <cstring>

#include "streaming/text_util.h"
#include "text_writer.h"

namespace streaming {

namespace {

// The received word counts as the expected one when it is a prefix of it.
bool wordPrefixOf(const char* p, const char* end, const RtspToken& word) {
  auto n = uint32_t(end - p);
  return n <= word.length && std::memcmp(p, word.text, n) == 0;
}

bool startsWith(const char* p, const char* end, const RtspToken& key) {
  return uint32_t(end - p) >= key.length && std::memcmp(p, key.text, key.length) == 0;
}

bool prefixNoCase(const char* p, const char* end, const RtspToken& word) {
  auto n = uint32_t(end - p);
  if (n > word.length) return false;
  return TokenEqualsNoCase(RtspToken{p, n, 0}, RtspToken{word.text, n, 0});
}

const char* findAny(const char* p, const char* end, const char* set) {
  while (p < end && (*p == 0 || !std::strchr(set, *p))) ++p;
  return p;
}

// "n" or "n-m", each at most max; a single n stands for n, n+1 and must be
// below max.
bool parsePair(const char* p, const char* end, uint32_t max, uint16_t out[2]) {
  uint32_t a, b;
  const char* q = ReadDecimal(p, end, a);
  if (!q || a > max) return false;
  if (q == end) {
    if (a >= max) return false;
    out[0] = uint16_t(a);
    out[1] = uint16_t(a + 1);
    return true;
  }
  if (*q != '-') return false;
  const char* r = ReadDecimal(q + 1, end, b);
  if (!r || r != end || b > max) return false;
  out[0] = uint16_t(a);
  out[1] = uint16_t(b);
  return true;
}

bool parseWhole(const char* p, const char* end, uint32_t max, uint32_t& out) {
  return ReadDecimal(p, end, out) == end && out <= max;
}

void parseMode(const char* p, const char* end, uint32_t& mode) {
  mode = 0;
  if (p < end && *p == '"') {
    ++p;
    if (end > p && end[-1] == '"') --end;
  }
  while (p < end) {
    const char* item = SkipBlanks(p, end);
    const char* e = findAny(item, end, ",");
    const char* t = e;
    while (t > item && IsBlank(t[-1])) --t;
    // Our own composer writes the words in lower case, so they are matched
    // without regard to case.
    if (t > item) {
      if (prefixNoCase(item, t, vocab::kModePlay)) mode |= 1;
      if (prefixNoCase(item, t, vocab::kModeRecord)) mode |= 2;
    }
    p = e < end ? e + 1 : e;
  }
}

bool parseParameter(const char* p, const char* end, TransportSpec& s) {
  if (wordPrefixOf(p, end, vocab::kUnicast)) {
    s.hasDelivery = true;
    s.delivery = 0;
    return true;
  }
  if (wordPrefixOf(p, end, vocab::kMulticast)) {
    s.hasDelivery = true;
    s.delivery = 1;
    return true;
  }
  if (wordPrefixOf(p, end, vocab::kAppend)) {
    s.append = true;
    return true;
  }
  if (startsWith(p, end, vocab::kDestination)) {
    const char* eq = findAny(p + vocab::kDestination.length, end, "=");
    if (eq == end) return true;
    const char* v = SkipBlanks(eq + 1, end);
    const char* e = FindTokenEnd(v, end);
    if (e > v) s.destination = MakeToken(v, uint32_t(e - v));
    return true;
  }
  if (startsWith(p, end, vocab::kInterleaved)) {
    s.hasInterleaved = parsePair(p + vocab::kInterleaved.length, end, 255, s.interleaved);
    return s.hasInterleaved;
  }
  if (startsWith(p, end, vocab::kClientPort)) {
    s.hasClientPort = parsePair(p + vocab::kClientPort.length, end, 65535, s.clientPort);
    return s.hasClientPort;
  }
  if (startsWith(p, end, vocab::kServerPort)) {
    s.hasServerPort = parsePair(p + vocab::kServerPort.length, end, 65535, s.serverPort);
    return s.hasServerPort;
  }
  if (startsWith(p, end, vocab::kTtl)) {
    uint32_t v;
    if (!parseWhole(p + vocab::kTtl.length, end, 255, v)) return false;
    s.hasTtl = true;
    s.ttl = uint16_t(v);
    return true;
  }
  if (startsWith(p, end, vocab::kMode)) {
    // Our composer writes one "mode=" per method, so a repeated key adds
    // to the bits of the first.
    uint32_t bits = 0;
    parseMode(p + vocab::kMode.length, end, bits);
    s.mode = s.hasMode ? s.mode | bits : bits;
    s.hasMode = true;
    return true;
  }
  if (startsWith(p, end, vocab::kPort)) {
    s.hasPort = parsePair(p + vocab::kPort.length, end, 65535, s.port);
    return s.hasPort;
  }
  if (startsWith(p, end, vocab::kLayers)) {
    uint32_t v;
    if (!parseWhole(p + vocab::kLayers.length, end, 0x7FFFFFFF, v)) return false;
    s.hasLayers = true;
    s.layers = int32_t(v);
    return true;
  }
  if (startsWith(p, end, vocab::kSsrc)) {
    const char* v = p + vocab::kSsrc.length;
    if (v == end || !ParseUnsigned(v, 'x', uint32_t(end - v), s.ssrc)) return false;
    s.hasSsrc = true;
    return true;
  }
  return true;  // any other parameter is ignored
}

void parseIdentifier(const char* p, const char* end, TransportSpec& s) {
  const char* slash = findAny(p, end, "/");
  s.hasProtocol = true;
  s.protocol = wordPrefixOf(p, slash, vocab::kRtp) ? 0 : 1;
  if (slash == end) return;
  p = slash + 1;
  slash = findAny(p, end, "/");
  s.hasProfile = true;
  s.profile = wordPrefixOf(p, slash, vocab::kAvp) ? 0 : 1;
  if (slash == end) return;
  p = slash + 1;
  auto n = uint32_t(end - p);
  RtspToken lower{p, n, 0};
  if (TokenEqualsExact(lower, vocab::kUdp)) {
    s.hasLower = true;
    s.lower = 0;
  } else if (TokenEqualsExact(lower, vocab::kTcp)) {
    s.hasLower = true;
    s.lower = 1;
  } else {
    s.profile = 1;
  }
}

bool parseOneTransport(const char* p, const char* end, TransportSpec& s) {
  p = SkipWhiteSpace(p, end);
  const char* semi = findAny(p, end, ";");
  const char* idEnd = semi;
  while (idEnd > p && IsWhiteSpace(idEnd[-1])) --idEnd;
  parseIdentifier(p, idEnd, s);
  p = semi;
  while (p < end) {
    const char* param = SkipWhiteSpace(p + 1, end);
    const char* e = findAny(param, end, ";");
    const char* t = e;
    while (t > param && IsWhiteSpace(t[-1])) --t;
    if (t > param && !parseParameter(param, t, s)) return false;
    p = e;
  }
  return true;
}

}  // namespace

bool ParseTransport(const char* text, uint32_t length, TransportSpec* transports, uint32_t& count) {
  const char* p = text;
  const char* end = text + length;
  while (true) {
    p = SkipWhiteSpace(p, end);
    if (p < end && *p == ',') p = SkipWhiteSpace(p + 1, end);
    if (p >= end) return true;
    if (count >= kMaxTransports) return false;
    // A quoted part may hold commas.
    const char* comma = findAny(p, end, ",");
    const char* quote = findAny(p, end, "\"");
    if (quote < comma) {
      const char* close = findAny(quote + 1, end, "\"");
      comma = close < end ? findAny(close + 1, end, ",") : end;
    }
    TransportSpec& s = transports[count++];
    s = TransportSpec{};
    if (!parseOneTransport(p, comma, s)) return false;
    p = comma;
  }
}

bool ParseRtpInfo(char* text, uint32_t length, RtpInfoEntry* entries, uint32_t& count) {
  static const RtspToken kUrl = MakeToken("url");
  static const RtspToken kSeq = MakeToken("seq");
  static const RtspToken kRtptime = MakeToken("rtptime");
  static const char kSeparators[] = "; \t,";
  char* p = text;
  char* end = text + length;
  while (true) {
    while (p < end && IsWhiteSpace(*p)) ++p;
    if (p < end && *p == ',') ++p;
    while (p < end && IsWhiteSpace(*p)) ++p;
    if (p >= end) return true;
    if (count >= kMaxRtpInfoEntries) return false;
    RtpInfoEntry& entry = entries[count++];
    entry = RtpInfoEntry{};
    while (true) {
      while (p < end && (*p == ';' || IsBlank(*p))) ++p;
      if (p >= end || *p == ',') break;
      char* name = p;
      char* nameEnd = const_cast<char*>(findAny(p, end, "=; \t,"));
      if (nameEnd == end || *nameEnd != '=') {
        // A parameter without '=' ends the entry.
        p = const_cast<char*>(findAny(nameEnd, end, ","));
        break;
      }
      RtspToken n{name, uint32_t(nameEnd - name), 0};
      char* value = nameEnd + 1;
      char* valueEnd = const_cast<char*>(findAny(value, end, kSeparators));
      char delimiter = valueEnd < end ? *valueEnd : 0;
      auto valueLength = uint32_t(valueEnd - value);
      if (TokenEqualsNoCase(n, kUrl)) {
        if (valueEnd < end) *valueEnd = 0;
        entry.hasUrl = true;
        entry.url = RtspToken{value, valueLength, 0};
      } else if (TokenEqualsNoCase(n, kSeq)) {
        uint32_t v;
        if (valueLength == 0 || !ParseUnsigned(value, 'd', valueLength, v) || v > 0xFFFF) return false;
        entry.hasSeq = true;
        entry.seq = uint16_t(v);
      } else if (TokenEqualsNoCase(n, kRtptime)) {
        if (valueLength == 0 || !ParseUnsigned(value, 'd', valueLength, entry.rtptime)) return false;
        entry.hasRtptime = true;
      } else {
        return false;
      }
      p = valueEnd < end ? valueEnd + 1 : valueEnd;
      if (delimiter == ',') break;
    }
  }
}

bool ComposeTransportSpec(TextWriter& w, const TransportSpec& s) {
  if (s.hasProtocol && s.protocol == 0) w.Append("RTP");
  if (s.hasProfile && s.profile == 0) w.Append("/AVP");
  if (s.hasLower) w.Append(s.lower == 0 ? "/UDP" : "/TCP");
  if (s.hasDelivery) w.Append(s.delivery == 0 ? ";unicast" : ";multicast");
  if (!s.destination.empty()) {
    w.Append(";");
    w.Append(vocab::kDestination.text, vocab::kDestination.length);
    w.Append("=");
    w.Append(s.destination.text, s.destination.length);
  }
  if (s.hasInterleaved) w.Format(";interleaved=%u-%u", unsigned(s.interleaved[0]), unsigned(s.interleaved[1]));
  if (s.hasClientPort) w.Format(";client_port=%u-%u", unsigned(s.clientPort[0]), unsigned(s.clientPort[1]));
  if (s.hasServerPort) w.Format(";server_port=%u-%u", unsigned(s.serverPort[0]), unsigned(s.serverPort[1]));
  if (s.hasMode) {
    if (s.mode & 1) w.Append(";mode=play");
    if (s.mode & 2) {
      w.Append(";mode=record");
      if (s.append) w.Append(";append");
    }
  }
  if (s.hasTtl) w.Format(";ttl=%u", unsigned(s.ttl));
  if (s.hasLayers) w.Format(";layers=%d", int(s.layers));
  if (s.hasSsrc) w.Format(";ssrc=%.8x", unsigned(s.ssrc));
  return w.ok();
}

}  // namespace streaming
