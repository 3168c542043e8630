#include <cstdlib>
#include <cstring>

#include "sdp_lines.h"
#include "streaming/sdp.h"

namespace streaming {

using sdp::Line;

SdpSessionDescription::~SdpSessionDescription() {
  for (RefString** t : {&originUserName, &originNetworkType, &originAddressType, &originAddress,
                        &sessionName, &sessionInformation, &connectionNetworkType,
                        &connectionAddressType, &connectionAddress, &versionText, &author, &copyright,
                        &rating, &wmfVersion, &sessionControl, &creationDate, &originSessionIdText,
                        &originSessionVersionText})
    RefStringRelease(*t);
  for (int32_t i = 0; i < mediaCount; ++i) delete media[i];
}

SdpCodecTable::~SdpCodecTable() {
  for (uint32_t i = 0; i < count; ++i) std::free(names[i]);
}

bool AddSdpCodec(SdpCodecTable& table, const char* name, uint32_t nameLength, SdpMediaParser parser) {
  if (table.count >= 8) return false;
  char* copy = static_cast<char*>(std::malloc(size_t(nameLength) + 1));
  if (!copy) return false;
  std::memcpy(copy, name, nameLength);
  copy[nameLength] = 0;
  table.names[table.count] = copy;
  table.parsers[table.count] = parser;
  ++table.count;
  return true;
}

bool BuildSdpCodecTable(SdpParser& parser) {
  if (parser.codecTable) return false;
  static const struct {
    const char* name;
    SdpMediaParser parser;
  } kCodecs[] = {{"AAC", SdpConfigAudioMediaParse},    {"AMR", SdpAmrMediaParse},
                 {"EVRC", SdpEvrcMediaParse},          {"H263-1998", SdpH263MediaParse},
                 {"H263-2000", SdpH263MediaParse},     {"MP4V-ES", SdpMpeg4VideoMediaParse},
                 {"KRMP4V-ES", SdpMpeg4VideoMediaParse}, {"X-MP4V-IMAGE", SdpImageMediaParse}};
  auto* table = new (std::nothrow) SdpCodecTable;
  if (!table) return false;
  for (const auto& c : kCodecs) {
    if (!AddSdpCodec(*table, c.name, uint32_t(std::strlen(c.name)), c.parser)) {
      delete table;
      return false;
    }
  }
  parser.codecTable = table;
  parser.tableMade = true;
  return true;
}

bool ParseSdpMediaHeader(SdpParser& parser, const char* line, const char* lineEnd, int32_t& payloadType) {
  if (lineEnd - line < 2 || line[0] != 'm' || line[1] != '=') return false;
  const char* p = line + 2;
  const char *t, *te;
  if (!sdp::NextToken(p, lineEnd, t, te)) return false;
  auto n = size_t(te - t);
  bool application = false;
  if (n <= 11 && std::memcmp(t, "application", n) == 0) {
    application = true;
  } else if (!(n <= 5 && (std::memcmp(t, "audio", n) == 0 || std::memcmp(t, "video", n) == 0))) {
    return false;
  }
  const char *port, *portEnd, *transport, *transportEnd, *format, *formatEnd;
  if (!sdp::NextToken(p, lineEnd, port, portEnd) || !sdp::NextToken(p, lineEnd, transport, transportEnd) ||
      !sdp::NextToken(p, lineEnd, format, formatEnd))
    return false;
  // One payload format per m= line: more make the media unacceptable.
  if (SkipBlanks(formatEnd, lineEnd) != lineEnd) return false;
  if (application) {
    parser.applicationMedia = true;
    return true;
  }
  uint32_t pt;
  if (!sdp::Decimal(format, formatEnd, pt) || pt > 127) return false;
  payloadType = int32_t(pt);
  return true;
}

namespace {

bool isSectionStart(const Line& l) { return sdp::StartsWith(l, "v=") || sdp::StartsWith(l, "m="); }

// Advances p over the lines that follow up to the next v= or m= line;
// returns the end of the last line taken.
const char* sectionEnd(const char*& p, const char* end, const char* lastLineEnd) {
  Line l;
  const char* q = p;
  while (sdp::NextLine(q, end, l) && !isSectionStart(l)) {
    lastLineEnd = l.end;
    p = q;
  }
  return lastLineEnd;
}

int32_t parseOrigin(const Line& line, SdpSessionDescription& s) {
  const char* p = line.start + 2;
  const char* t[6];
  const char* e[6];
  for (int i = 0; i < 6; ++i) {
    if (!sdp::NextToken(p, line.end, t[i], e[i])) return kSdpSessionSyntax;
  }
  sdp::SetText(s.originUserName, t[0], e[0]);
  // Ids of ten or more digits do not fit 32 bits; they are kept as text.
  struct {
    uint32_t& number;
    RefString*& text;
  } ids[] = {{s.originSessionId, s.originSessionIdText}, {s.originSessionVersion, s.originSessionVersionText}};
  for (int i = 0; i < 2; ++i) {
    const char* a = t[i + 1];
    const char* b = e[i + 1];
    if (b - a >= 10) {
      for (const char* c = a; c < b; ++c) {
        if (*c < '0' || *c > '9') return kSdpSessionSyntax;
      }
      sdp::SetText(ids[i].text, a, b);
    } else if (!sdp::Decimal(a, b, ids[i].number)) {
      return kSdpSessionSyntax;
    }
  }
  sdp::SetText(s.originNetworkType, t[3], e[3]);
  sdp::SetText(s.originAddressType, t[4], e[4]);
  sdp::SetText(s.originAddress, t[5], e[5]);
  return kSdpOk;
}

int32_t parseContentVersion(const char* p, const char* end, uint16_t& out) {
  p = SkipBlanks(p, end);
  if (p >= end) return kSdpSessionSyntax;
  const char* dot = p;
  while (dot < end && *dot != '.') ++dot;
  const char* majorEnd = dot;
  while (majorEnd > p && IsBlank(majorEnd[-1])) --majorEnd;
  uint32_t major, minor = 0;
  if (majorEnd == p || !sdp::Decimal(p, majorEnd, major) || major > 255) return kSdpSessionSyntax;
  if (dot < end) {
    const char *t, *te;
    const char* q = dot + 1;
    if (!sdp::NextToken(q, end, t, te) || !sdp::Decimal(t, te, minor) || minor > 255) return kSdpSessionSyntax;
  }
  out = uint16_t(major << 8 | minor);
  return kSdpOk;
}

int32_t parseSessionAttribute(const Line& line, SdpSessionDescription& s) {
  struct TextAttribute {
    const char* prefix;
    RefString* SdpSessionDescription::*field;
  };
  static const TextAttribute kTexts[] = {{"a=author:", &SdpSessionDescription::author},
                                         {"a=version:", &SdpSessionDescription::versionText},
                                         {"a=copyright:", &SdpSessionDescription::copyright},
                                         {"a=rating:", &SdpSessionDescription::rating}};
  const char* v;
  for (const auto& a : kTexts) {
    if (sdp::StartsWith(line, a.prefix)) {
      if (sdp::Rest(line, std::strlen(a.prefix), v)) sdp::SetText(s.*a.field, v, line.end);
      return kSdpOk;
    }
  }
  if (sdp::StartsWith(line, "a=range:")) {
    const char* r = line.start + 8;
    return ParseRange(r, uint32_t(line.end - r), s.range) ? kSdpOk : kSdpSessionSyntax;
  }
  if (sdp::StartsWith(line, "a=X-wmfversion:")) {
    if (sdp::Rest(line, 15, v)) sdp::SetText(s.wmfVersion, v, line.end);
    return kSdpOk;
  }
  if (sdp::StartsWith(line, "a=X-allowrecord")) {
    s.allowRecord = true;
    return kSdpOk;
  }
  if (sdp::StartsWith(line, "a=random_access_denied")) {
    s.randomAccessDenied = true;
    return kSdpOk;
  }
  if (sdp::StartsWith(line, "a=control:")) {
    if (sdp::Rest(line, 10, v)) sdp::SetText(s.sessionControl, v, line.end);
    return kSdpOk;
  }
  if (sdp::StartsWith(line, "a=content_version:")) return parseContentVersion(line.start + 18, line.end, s.contentVersion);
  if (sdp::StartsWith(line, "a=creation_date:")) {
    if (sdp::Rest(line, 16, v)) sdp::SetText(s.creationDate, v, line.end);
    return kSdpOk;
  }
  if (sdp::StartsWith(line, "a=video_only_allowed:true")) {
    s.videoOnlyValue = 0;
  } else if (sdp::StartsWith(line, "a=video_only_allowed:false")) {
    s.videoOnlyValue = 1;
  }
  return kSdpOk;
}

int32_t parseSessionLine(const Line& line, SdpSessionDescription& s) {
  char c = line.start[0];
  if (!std::strchr("vosicta", c) || c == 0) return kSdpOk;
  if (line.end - line.start < 2 || line.start[1] != '=') return kSdpSessionSyntax;
  const char* v;
  if (!sdp::Rest(line, 2, v)) return kSdpOk;  // nothing behind the prefix
  const char* p = line.start + 2;
  const char *t, *te;
  switch (c) {
    case 'v': {
      uint32_t version;
      if (!sdp::Decimal(v, line.end, version) || version > 0x7FFFFFFF) return kSdpSessionSyntax;
      s.version = int32_t(version);
      return kSdpOk;
    }
    case 'o':
      return parseOrigin(line, s);
    case 's':
      sdp::SetText(s.sessionName, v, line.end);
      return kSdpOk;
    case 'i':
      sdp::SetText(s.sessionInformation, v, line.end);
      return kSdpOk;
    case 'c': {
      const char* tt[3];
      const char* ee[3];
      for (int i = 0; i < 3; ++i) {
        if (!sdp::NextToken(p, line.end, tt[i], ee[i])) return kSdpSessionSyntax;
      }
      sdp::SetText(s.connectionNetworkType, tt[0], ee[0]);
      sdp::SetText(s.connectionAddressType, tt[1], ee[1]);
      sdp::SetText(s.connectionAddress, tt[2], ee[2]);
      return kSdpOk;
    }
    case 't': {
      uint32_t start, stop;
      if (!sdp::NextToken(p, line.end, t, te) || !sdp::Decimal(t, te, start) ||
          !sdp::NextToken(p, line.end, t, te) || !sdp::Decimal(t, te, stop))
        return kSdpSessionSyntax;
      s.startTime = start;
      s.stopTime = stop;
      return kSdpOk;
    }
    default:
      return parseSessionAttribute(line, s);
  }
}

}  // namespace

int32_t ParseSdpSessionLine(const char* text, uint32_t length, SdpSessionDescription& session) {
  const char* p = text;
  const char* end = text + length;
  Line line;
  while (sdp::NextLine(p, end, line)) {
    if (int32_t r = parseSessionLine(line, session); r != kSdpOk) return r;
  }
  return kSdpOk;
}

int32_t ParseSdp(SdpParser& parser, const char* text, uint32_t length, SdpSessionDescription& session) {
  if (length > kMaxSdpText) return kSdpNoRoom;
  const char* p = text;
  const char* end = text + length;
  bool sessionSeen = false, mediaSeen = false;
  Line line;
  while (sdp::NextLine(p, end, line)) {
    if (sdp::StartsWith(line, "v=")) {
      if (mediaSeen || sessionSeen) return kSdpStructure;
      const char* partEnd = sectionEnd(p, end, line.end);
      if (int32_t r = ParseSdpSessionLine(line.start, uint32_t(partEnd - line.start), session); r != kSdpOk)
        return r;
      sessionSeen = true;
      continue;
    }
    if (!sdp::StartsWith(line, "m=")) return kSdpNoRoom;
    mediaSeen = true;
    int32_t payloadType = -1;
    parser.applicationMedia = false;
    const bool acceptable = ParseSdpMediaHeader(parser, line.start, line.end, payloadType);
    const bool application = acceptable && parser.applicationMedia;
    // Walk the section, checking its rtpmap lines.
    int rtpmaps = 0;
    const char* name = nullptr;
    uint32_t nameLength = 0;
    const char* q = p;
    const char* lastEnd = line.end;
    Line l;
    while (sdp::NextLine(q, end, l) && !isSectionStart(l)) {
      lastEnd = l.end;
      p = q;
      if (!acceptable || application || !sdp::StartsWith(l, "a=rtpmap:")) continue;
      uint32_t pt;
      if (++rtpmaps > 1 || !ParseRtpmapHead(l.start, l.end, pt, name, nameLength) ||
          int32_t(pt) != payloadType)
        return kSdpMediaSyntax;
    }
    if (!sessionSeen) return kSdpStructure;
    if (!acceptable) continue;
    if (application) {
      name = "X-MP4V-IMAGE";
      nameLength = 12;
      parser.applicationMedia = false;
    } else if (rtpmaps != 1) {
      continue;
    }
    if (!parser.codecTable && !BuildSdpCodecTable(parser)) return kSdpNoRoom;
    const SdpCodecTable& table = *parser.codecTable;
    for (uint32_t i = 0; i < table.count; ++i) {
      if (std::strlen(table.names[i]) < nameLength || std::memcmp(table.names[i], name, nameLength) != 0)
        continue;
      if (int32_t r = table.parsers[i](line.start, uint32_t(lastEnd - line.start), session); r != kSdpOk)
        return r;
      break;
    }
  }
  return kSdpOk;
}

int32_t SdpRangeToMilliseconds(const RangeValue& range, uint32_t& startMs, uint32_t& endMs) {
  return RangeToMilliseconds(range, startMs, endMs);
}

namespace {
void copyCut(char (&out)[256], const RefString* text) {
  const char* t = RefStringText(text);
  size_t n = std::strlen(t);
  if (n > 255) n = 255;
  std::memcpy(out, t, n);
  out[n] = 0;
}
}  // namespace

int32_t ParseSdpIntoClipInfo(SdpParser& parser, const char* text, uint32_t length,
                             SdpSessionDescription& session, DownloadClipInfo& info) {
  int32_t r = ParseSdp(parser, text, length, session);
  if (r != kSdpOk) {
    info.mediaCount = 0;
    info.sessionName[0] = 0;
    info.creationDate[0] = 0;
    return r;
  }
  copyCut(info.sessionName, session.sessionName);
  copyCut(info.creationDate, session.creationDate);
  // The block has room for ten media; a longer description keeps its first ten.
  uint32_t count = uint32_t(session.mediaCount);
  if (count > DownloadClipInfo::kMaxMedia) count = DownloadClipInfo::kMaxMedia;
  info.mediaCount = count;
  SdpRangeToMilliseconds(session.range, info.rangeStartMs, info.rangeEndMs);
  info.contentMajor = uint8_t(session.contentVersion >> 8);
  info.contentMinor = uint8_t(session.contentVersion & 0xFF);
  for (uint32_t i = 0; i < count; ++i) {
    const SdpMediaDescription& m = *session.media[i];
    DownloadMediaRecord& rec = info.media[i];
    copyCut(rec.encodingName, m.encodingName);
    rec.bandwidth = uint32_t(m.bandwidth);
    rec.trackNumber = 0;
    const char* control = RefStringText(m.control);
    if (const char* eq = std::strchr(control, '=')) {
      const char* d = eq + 1;
      const char* e = d;
      while (*e >= '0' && *e <= '9') ++e;
      uint32_t track = 0;
      if (e > d && sdp::Decimal(d, e, track)) rec.trackNumber = track;
    }
    m.GetContentVersion(rec.contentMajor, rec.contentMinor);
    rec.padding[0] = rec.padding[1] = 0;
  }
  info.padding[0] = info.padding[1] = 0;
  return kSdpOk;
}

void WriteDownloadClipInfo(const DownloadClipInfo& info, uint8_t out[DownloadClipInfo::kSize]) {
  std::memset(out, 0, DownloadClipInfo::kSize);
  auto put32 = [&](uint32_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
  };
  for (uint32_t i = 0; i < DownloadClipInfo::kMaxMedia; ++i) {
    const DownloadMediaRecord& r = info.media[i];
    uint32_t at = i * 268;
    std::memcpy(out + at, r.encodingName, 256);
    put32(at + 256, r.bandwidth);
    put32(at + 260, r.trackNumber);
    out[at + 264] = r.contentMajor;
    out[at + 265] = r.contentMinor;
  }
  put32(2680, info.mediaCount);
  std::memcpy(out + 2684, info.sessionName, 256);
  std::memcpy(out + 2940, info.creationDate, 256);
  put32(3196, info.rangeStartMs);
  put32(3200, info.rangeEndMs);
  out[3204] = info.contentMajor;
  out[3205] = info.contentMinor;
}

}  // namespace streaming
