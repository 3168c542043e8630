#include <cstring>

#include "streaming/rtsp_message.h"
#include "streaming/text_util.h"

namespace streaming {

void RtspMessage::Clear() {
  headerText[0] = 0;
  headerStart = 0;
  headerTextLength = 0;
  for (auto& s : slots) s = HeaderSlot{};
  headerCount = 0;
  kind = kNoKind;
  method = kMethodNone;
  status = 0;
  methodWord = reasonPhrase = RtspToken{};
  hasCSeq = hasBuffersize = hasRange = hasSession = false;
  cseq = buffersize = 0;
  transportCount = 0;
  range = RangeValue{};
  session = RtspToken{};
  rtpInfoCount = 0;
  hasContentType = hasContentBase = hasContentLength = false;
  hasUserAgent = hasAccept = hasRequire = false;
  contentType = contentBase = userAgent = accept = require = RtspToken{};
  contentLength = 0;
  requestUri = RtspToken{};
  headerLines = headersParsed = 0;
  uriPath = lastSegment = RtspToken{};
  channelText[0] = channelText[1] = 0;
  output[0] = 0;
  outputLength = 0;
}

void RtspMessage::Reset() {
  Clear();
  parseError = kParseOk;
  protocolVersion = RtspToken{};
}

const RtspToken* RtspMessage::FindHeader(const RtspToken& name) const {
  uint16_t hash = name.hash;
  if (hash == 0 && name.length) hash = HashBytes(name.text, name.length);
  RtspToken key{name.text, name.length, hash};
  for (uint32_t i = 0; i < headerCount; ++i) {
    if (TokenMatches(slots[i].name, key)) return &slots[i].value;
  }
  return nullptr;
}

namespace {

bool isLineEnd(char c) { return c == '\r' || c == '\n'; }

// Every line end followed by a space or a tab becomes, with all the blanks
// behind it, one space. Returns the new length.
uint32_t unfold(char* t, uint32_t n) {
  uint32_t j = 0;
  for (uint32_t i = 0; i < n;) {
    if (isLineEnd(t[i])) {
      uint32_t k = i + ((t[i] == '\r' && i + 1 < n && t[i + 1] == '\n') ? 2 : 1);
      if (k < n && IsBlank(t[k])) {
        while (k < n && IsBlank(t[k])) ++k;
        t[j++] = ' ';
        i = k;
        continue;
      }
      while (i < k) t[j++] = t[i++];
      continue;
    }
    t[j++] = t[i++];
  }
  t[j] = 0;
  return j;
}

RtspToken trimmed(char* p, char* e) {
  while (p < e && IsWhiteSpace(*p)) ++p;
  while (e > p && IsWhiteSpace(e[-1])) --e;
  *e = 0;
  return MakeToken(p, uint32_t(e - p));
}

bool parseInt32(const RtspToken& v, int32_t& out) {
  uint32_t u;
  if (v.length == 0 || !ParseUnsigned(v.text, 'd', v.length, u) || u > 0x7FFFFFFF) return false;
  out = int32_t(u);
  return true;
}

bool validUri(const RtspToken& uri) {
  if (uri.length == 1) return uri.text[0] == '*';
  const char* colon = static_cast<const char*>(std::memchr(uri.text, ':', uri.length));
  if (!colon || colon == uri.text) return false;
  auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (!letter(uri.text[0])) return false;
  for (const char* p = uri.text + 1; p < colon; ++p) {
    char c = *p;
    if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

}  // namespace

void RtspMessage::ParseHeaderCopy(uint32_t copiedLength) {
  const uint32_t before = copiedLength;
  uint32_t n = unfold(headerText, copiedLength);
  headerTextLength -= before - n;
  char* t = headerText;

  // Start line.
  uint32_t p = 0;
  if (p < n && t[p] == '\r') ++p;
  if (p < n && t[p] == '\n') ++p;
  if (p >= n) return SetError(kParseMalformed);
  uint32_t e = p;
  while (e < n && !isLineEnd(t[e])) ++e;
  if (e >= n) return SetError(kParseMalformed);
  uint32_t next = e + ((t[e] == '\r' && e + 1 < n && t[e + 1] == '\n') ? 2 : 1);
  for (uint32_t i = e; i < next; ++i) t[i] = 0;
  headerStart = next;

  uint32_t wordStart[4] = {}, wordEnd[4] = {};
  uint32_t words = 0;
  for (uint32_t i = p; i < e;) {
    while (i < e && IsBlank(t[i])) ++i;
    if (i >= e) break;
    uint32_t s = i;
    while (i < e && !IsBlank(t[i])) ++i;
    if (words < 4) {
      wordStart[words] = s;
      wordEnd[words] = i;
    }
    ++words;
  }
  if (words < 3) return SetError(kParseMalformed);
  auto word = [&](int w) { return MakeToken(t + wordStart[w], wordEnd[w] - wordStart[w]); };

  if (wordEnd[0] - wordStart[0] >= 5 && std::memcmp(t + wordStart[0], "RTSP/", 5) == 0) {
    kind = kResponse;
    protocolVersion = word(0);
    t[wordEnd[0]] = 0;
    if (!TokenEqualsExact(protocolVersion, vocab::kRtsp10)) return SetError(kParseBadVersion);
    RtspToken code = word(1);
    t[wordEnd[1]] = 0;
    uint32_t v;
    if (!ParseUnsigned(code.text, 'd', code.length, v) || v > 0xFFFF) return SetError(kParseMalformed);
    status = uint16_t(v);
    uint32_t r = e;
    while (r > wordStart[2] && IsBlank(t[r - 1])) --r;
    t[r] = 0;
    reasonPhrase = MakeToken(t + wordStart[2], r - wordStart[2]);
  } else {
    kind = kRequest;
    if (words != 3) return SetError(kParseMalformed);
    methodWord = word(0);
    requestUri = word(1);
    protocolVersion = word(2);
    for (int w = 0; w < 3; ++w) t[wordEnd[w]] = 0;
    method = kMethodNone;
    for (int32_t m = kMethodDescribe; m <= kMethodEndOfStream; ++m) {
      if (TokenEqualsExact(methodWord, vocab::kMethodTable[m].token)) method = m;
    }
    if (!TokenEqualsExact(protocolVersion, vocab::kRtsp10)) return SetError(kParseBadVersion);
    if (!validUri(requestUri)) return SetError(kParseMalformed);
    const char* u = requestUri.text;
    uint32_t len = requestUri.length;
    for (uint32_t i = 0; i < len; ++i) {
      if (u[i] != '/') continue;
      if (i + 1 < len && u[i + 1] == '/') {
        ++i;
        continue;
      }
      uriPath = MakeToken(u + i + 1, len - i - 1);
      uint32_t last = 0;
      for (uint32_t k = 0; k < uriPath.length; ++k) {
        if (uriPath.text[k] == '/' || uriPath.text[k] == ';') last = k + 1;
      }
      lastSegment = MakeToken(uriPath.text + last, uriPath.length - last);
      break;
    }
  }

  // Header lines: the blank line's own line end is not a line.
  uint32_t end = n;
  if (end > headerStart && t[end - 1] == '\n') {
    --end;
    if (end > headerStart && t[end - 1] == '\r') --end;
  } else if (end > headerStart && t[end - 1] == '\r') {
    --end;
  }
  uint32_t lines = 0;
  for (uint32_t i = headerStart; i < end; ++i) {
    if (t[i] == '\n' || (t[i] == '\r' && (i + 1 >= end || t[i + 1] != '\n'))) ++lines;
  }
  headerLines = lines;

  uint32_t pos = headerStart;
  while (pos < end && headerCount < kMaxHeaderSlots) {
    uint32_t le = pos;
    while (le < end && t[le] != '\n' && t[le] != '\r' && t[le] != 0) ++le;
    uint32_t after = le < end ? le + 1 : le;
    if (le < end && t[le] == '\r' && after < end && t[after] == '\n') ++after;
    for (uint32_t i = le; i < after; ++i) t[i] = 0;
    t[le] = 0;
    HeaderSlot& slot = slots[headerCount++];
    char* line = t + pos;
    char* colon = static_cast<char*>(std::memchr(line, ':', le - pos));
    pos = after;
    if (!colon) {
      slot.name = trimmed(line, t + le);
      SetError(kParseMalformed);
      continue;
    }
    slot.value = trimmed(colon + 1, t + le);
    slot.name = trimmed(line, colon);
    const RtspToken& name = slot.name;
    const RtspToken& value = slot.value;
    if (TokenMatches(name, vocab::kSession)) {
      hasSession = true;
      session = value;
    } else if (TokenMatches(name, vocab::kCSeq)) {
      hasCSeq = parseInt32(value, cseq);
      if (!hasCSeq) SetError(kParseMalformed);
    } else if (TokenMatches(name, vocab::kBuffersize)) {
      hasBuffersize = parseInt32(value, buffersize);
      if (!hasBuffersize) SetError(kParseMalformed);
    } else if (TokenMatches(name, vocab::kContentType)) {
      hasContentType = true;
      contentType = value;
    } else if (TokenMatches(name, vocab::kContentBase)) {
      hasContentBase = true;
      contentBase = value;
    } else if (TokenMatches(name, vocab::kContentLength)) {
      int32_t length = 0;
      if (!parseInt32(value, length) || uint32_t(length) > kMaxBodyLength) {
        hasContentLength = false;
        SetError(kParseMalformed);
      } else if (hasContentLength && length != contentLength) {
        // Differing lengths leave the message's end in doubt, as in HTTP:
        // malformed, and the first stays, the one the reader consumed.
        SetError(kParseMalformed);
      } else {
        hasContentLength = true;
        contentLength = length;
      }
    } else if (TokenMatches(name, vocab::kUserAgent)) {
      hasUserAgent = true;
      userAgent = value;
    } else if (TokenMatches(name, vocab::kAccept)) {
      hasAccept = true;
      accept = value;
    } else if (TokenMatches(name, vocab::kRequire)) {
      hasRequire = true;
      require = value;
    } else if (TokenMatches(name, vocab::kRtpInfo)) {
      rtpInfoCount = 0;
      if (!ParseRtpInfo(const_cast<char*>(value.text), value.length, rtpInfo, rtpInfoCount))
        SetError(kParseMalformed);
    } else if (TokenMatches(name, vocab::kRange)) {
      hasRange = true;
      ParseRange(value.text, value.length, range);
    } else if (TokenMatches(name, vocab::kTransport)) {
      transportCount = 0;
      if (!ParseTransport(value.text, value.length, transports, transportCount))
        SetError(kParseMalformed);
    }
  }
  headersParsed = headerCount;
  if (headersParsed != headerLines) SetError(kParseTooManyHeaders);
}

}  // namespace streaming
