#include <cstring>

#include "streaming/rtsp_message.h"
#include "text_writer.h"

namespace streaming {

namespace {
// The Date line needs its text and CR LF; "Date: " plus 29 characters of
// date plus CR LF come to 37.
constexpr uint32_t kDateLineRoom = 37;

void line(TextWriter& w, const char* name, const RtspToken& value) {
  w.Append(name);
  w.Append(value.text, value.length);
  w.Append("\r\n");
}
}  // namespace

void RtspMessage::BeginCompose() {
  Clear();
  parseError = kParseOk;
}

bool RtspMessage::SetHeader(const RtspToken& name, const char* value, uint32_t length) {
  for (uint32_t i = 0; i < headerCount; ++i) {
    if (!TokenMatches(slots[i].name, MakeToken(name.text, name.length))) continue;
    if (headerTextLength + length + 1 > kMaxHeaderText) return false;
    char* v = headerText + headerTextLength;
    std::memcpy(v, value, length);
    v[length] = 0;
    headerTextLength += length + 1;
    slots[i].value = RtspToken{v, length, 0};
    return true;
  }
  if (headerCount >= kMaxHeaderSlots || headerTextLength + name.length + length + 2 > kMaxHeaderText)
    return false;
  char* n = headerText + headerTextLength;
  std::memcpy(n, name.text, name.length);
  n[name.length] = 0;
  char* v = n + name.length + 1;
  std::memcpy(v, value, length);
  v[length] = 0;
  headerTextLength += name.length + length + 2;
  slots[headerCount++] = HeaderSlot{MakeToken(n, name.length), RtspToken{v, length, 0}};
  return true;
}

bool RtspMessage::SetHeaderText(const RtspToken& name, const char* value) {
  return SetHeader(name, value, uint32_t(std::strlen(value)));
}

bool RtspMessage::SetRequestUri(const char* uri) {
  const uint32_t n = uint32_t(std::strlen(uri));
  if (n + 1 > kMaxHeaderText - headerTextLength) return false;
  char* copy = headerText + headerTextLength;
  std::memcpy(copy, uri, n + 1);
  headerTextLength += n + 1;
  requestUri = MakeToken(copy, n);
  return true;
}

bool RtspMessage::Compose() {
  TextWriter w(output, kMaxHeaderText);
  outputLength = 0;
  output[0] = 0;
  if (kind == kRequest && method == kMethodFrame) {
    if (contentLength < 0 || contentLength > 0xFFFF) return false;
    char header[4] = {'$', contentType.length ? contentType.text[0] : char(0),
                      char((contentLength >> 8) & 0xFF), char(contentLength & 0xFF)};
    w.Append(header, 4);
    outputLength = w.length();
    return true;
  }
  if (kind == kRequest) {
    RtspToken word;
    if (!MethodToken(method, word)) return false;
    w.Append(word.text, word.length);
    w.Append(" ");
    w.Append(requestUri.text, requestUri.length);
    w.Append(" RTSP/1.0");
  } else if (kind == kResponse) {
    w.Format("RTSP/1.0 %u ", unsigned(status));
    const RtspToken phrase = reasonPhrase.empty() ? StatusPhrase(status) : reasonPhrase;
    w.Append(phrase.text, phrase.length);
  } else {
    return false;
  }
  w.Append("\r\n");
  if (hasCSeq) {
    w.Format("CSeq: %d\r\n", int(cseq));
  } else {
    w.Append("CSeq: \r\n");
  }
  if (kind == kResponse) {
    if (w.room() < kDateLineRoom) return false;
    char date[40];
    uint32_t dateLength;
    if (FormatHttpDate(date, sizeof date, dateLength)) {
      w.Append("Date: ");
      w.Append(date, dateLength);
      w.Append("\r\n");
    }
  }
  if (hasBuffersize) w.Format("Buffersize: %d\r\n", int(buffersize));
  if (hasSession) line(w, "Session: ", session);
  if (hasUserAgent) line(w, "User-Agent: ", userAgent);
  if (hasAccept) line(w, "Accept: ", accept);
  if (hasRequire) line(w, "Require: ", require);
  if (hasContentType) line(w, "Content-Type: ", contentType);
  if (hasContentBase) line(w, "Content-Base: ", contentBase);
  if (hasContentLength) w.Format("Content-Length: %d\r\n", int(contentLength));
  if (transportCount > 0) {
    w.Append("Transport: ");
    for (uint32_t i = 0; i < transportCount && i < kMaxTransports; ++i) {
      if (i > 0) w.Append(",\r\n  ");
      ComposeTransportSpec(w, transports[i]);
    }
    w.Append("\r\n");
  }
  if (hasRange && w.ok()) {
    uint32_t n = 0;
    if (!ComposeRangeHeader(w.end(), w.room(), range, n)) return false;
    w.Advance(n);
  }
  if (rtpInfoCount > 0) {
    w.Append("RTP-Info: ");
    for (uint32_t i = 0; i < rtpInfoCount && i < kMaxRtpInfoEntries; ++i) {
      const RtpInfoEntry& e = rtpInfo[i];
      if (i > 0) w.Append(",\r\n  ");
      bool any = false;
      if (e.hasUrl) {
        w.Append("url=");
        w.Append(e.url.text, e.url.length);
        any = true;
      }
      if (e.hasSeq) {
        w.Format("%sseq=%u", any ? ";" : "", unsigned(e.seq));
        any = true;
      }
      if (e.hasRtptime) w.Format("%srtptime=%u", any ? ";" : "", unsigned(e.rtptime));
    }
    w.Append("\r\n");
  }
  for (uint32_t i = 0; i < headerCount; ++i) {
    w.Append(slots[i].name.text, slots[i].name.length);
    line(w, ": ", slots[i].value);
  }
  w.Append("\r\n");
  // Every line is bounded by the area: a record that does not fit fails.
  if (!w.ok()) return false;
  w.Terminate();
  outputLength = w.length();
  return true;
}

}  // namespace streaming
