#include "streaming/download_files.h"

#include <cstring>

#include "streaming/text_util.h"

namespace streaming {

namespace {

// Little-endian field writer and reader over a fixed record.
struct Put {
  uint8_t* out;
  uint32_t at = 0;
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
    at += 4;
  }
  void bytes(const char* s, uint32_t n) {
    std::memcpy(out + at, s, n);
    at += n;
  }
  void wide(const char16_t* s, uint32_t units) {
    for (uint32_t i = 0; i < units; ++i) {
      out[at + 2 * i] = uint8_t(s[i]);
      out[at + 2 * i + 1] = uint8_t(s[i] >> 8);
    }
    at += 2 * units;
  }
};

struct Get {
  const uint8_t* in;
  uint32_t at = 0;
  uint32_t u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= uint32_t(in[at + i]) << (8 * i);
    at += 4;
    return v;
  }
  // Texts read from a file are terminated whatever the file held.
  void bytes(char* s, uint32_t n) {
    std::memcpy(s, in + at, n);
    s[n - 1] = 0;
    at += n;
  }
  void wide(char16_t* s, uint32_t units) {
    for (uint32_t i = 0; i < units; ++i) s[i] = char16_t(in[at + 2 * i] | (in[at + 2 * i + 1] << 8));
    s[units - 1] = 0;
    at += 2 * units;
  }
};

template <size_t N>
constexpr uint32_t Units(const char16_t (&)[N]) {
  return N;
}
template <size_t N>
constexpr uint32_t Units(const char (&)[N]) {
  return N;
}

uint32_t WideLength(const char16_t* s) {
  uint32_t n = 0;
  while (s[n]) ++n;
  return n;
}

bool MakeName(const char16_t* base, const char16_t* extension, char16_t* out) {
  const uint32_t b = WideLength(base), e = WideLength(extension);
  if (b + e + 1 > DownloadFiles::kNameUnits) {
    out[0] = 0;
    return false;
  }
  std::memcpy(out, base, b * sizeof(char16_t));
  std::memcpy(out + b, extension, (e + 1) * sizeof(char16_t));
  return true;
}

}  // namespace

void WriteDownloadRequest(const DownloadRequest& r, uint8_t out[DownloadRequest::kSize]) {
  Put p{out};
  p.u32(r.resume);
  p.wide(r.url, Units(r.url));
  p.wide(r.host, Units(r.host));
  p.wide(r.port, Units(r.port));
  p.wide(r.basePath, Units(r.basePath));
  p.bytes(r.version, Units(r.version));
  p.bytes(r.userAgent, Units(r.userAgent));
  p.bytes(r.userNetwork, Units(r.userNetwork));
  p.bytes(r.deviceInfo, Units(r.deviceInfo));
  p.bytes(r.user, Units(r.user));
  p.bytes(r.authentication, Units(r.authentication));
  p.bytes(r.expiration, Units(r.expiration));
  p.bytes(r.application, Units(r.application));
  p.bytes(r.filler, Units(r.filler));
  p.bytes(r.signature, Units(r.signature));
  p.u32(uint32_t(r.idleLimit));
  p.u32(uint32_t(r.startMs));
  p.u32(r.storageSize);
  p.u32(r.stateFlags);
}

void ReadDownloadRequest(const uint8_t in[DownloadRequest::kSize], DownloadRequest& r) {
  Get g{in};
  r.resume = g.u32();
  g.wide(r.url, Units(r.url));
  g.wide(r.host, Units(r.host));
  g.wide(r.port, Units(r.port));
  g.wide(r.basePath, Units(r.basePath));
  g.bytes(r.version, Units(r.version));
  g.bytes(r.userAgent, Units(r.userAgent));
  g.bytes(r.userNetwork, Units(r.userNetwork));
  g.bytes(r.deviceInfo, Units(r.deviceInfo));
  g.bytes(r.user, Units(r.user));
  g.bytes(r.authentication, Units(r.authentication));
  g.bytes(r.expiration, Units(r.expiration));
  g.bytes(r.application, Units(r.application));
  g.bytes(r.filler, Units(r.filler));
  g.bytes(r.signature, Units(r.signature));
  r.idleLimit = int32_t(g.u32());
  r.startMs = int32_t(g.u32());
  r.storageSize = g.u32();
  r.stateFlags = g.u32();
}

void WriteTrackRequest(const TrackRequest& r, uint8_t out[TrackRequest::kSize]) {
  Put p{out};
  p.wide(r.clip, Units(r.clip));
  p.bytes(r.date, Units(r.date));
  for (uint32_t id : r.trackIds) p.u32(id);
  p.u32(r.trackCount);
  p.u32(r.carried);
  p.u32(r.storedValue);
}

void ReadTrackRequest(const uint8_t in[TrackRequest::kSize], TrackRequest& r) {
  Get g{in};
  g.wide(r.clip, Units(r.clip));
  g.bytes(r.date, Units(r.date));
  for (uint32_t& id : r.trackIds) id = g.u32();
  r.trackCount = g.u32();
  // A count from a file never reaches past the list.
  if (r.trackCount > TrackRequest::kMaxTracks) r.trackCount = TrackRequest::kMaxTracks;
  r.carried = g.u32();
  r.storedValue = g.u32();
}

void ReadDownloadClipInfo(const uint8_t in[DownloadClipInfo::kSize], DownloadClipInfo& info) {
  Get g{in};
  for (DownloadMediaRecord& m : info.media) {
    g.bytes(m.encodingName, 256);
    m.bandwidth = g.u32();
    m.trackNumber = g.u32();
    m.contentMajor = in[g.at];
    m.contentMinor = in[g.at + 1];
    g.at += 4;
  }
  info.mediaCount = g.u32();
  if (info.mediaCount > DownloadClipInfo::kMaxMedia) info.mediaCount = DownloadClipInfo::kMaxMedia;
  g.bytes(info.sessionName, 256);
  g.bytes(info.creationDate, 256);
  info.rangeStartMs = g.u32();
  info.rangeEndMs = g.u32();
  info.contentMajor = in[g.at];
  info.contentMinor = in[g.at + 1];
}

bool DownloadFiles::SetBasePath(const char16_t* basePath) {
  const bool ok = MakeName(basePath, u".dat", stateName);
  return MakeName(basePath, u".tmp", dataName) && ok;
}

bool DownloadFiles::WriteAt(std::FILE* f, long offset, const void* bytes, size_t length) {
  if (!f || FileSeek(f, offset, SEEK_SET) != 0) return false;
  if (length && FileWrite(bytes, 1, length, f) != length) return false;
  return FileFlush(f) == 0;
}

bool DownloadFiles::CreateState(const DownloadRequest& request) {
  if (state) FileClose(state);
  state = stateName[0] ? OpenFileW(stateName, u"w+b") : nullptr;
  if (!state) return false;
  MarkFileHidden(stateName);
  uint8_t head[DownloadStateLayout::kTracks];
  Put p{head};
  p.u32(uint32_t(request.startMs));
  p.u32(request.storageSize);
  WriteDownloadRequest(request, head + DownloadStateLayout::kRequest);
  return WriteAt(state, 0, head, sizeof head);
}

bool DownloadFiles::OpenState(DownloadSavedState& saved) {
  if (state) FileClose(state);
  state = stateName[0] ? OpenFileW(stateName, u"r+b") : nullptr;
  if (!state) return false;
  static_assert(DownloadStateLayout::kEnd == 6156);
  uint8_t all[DownloadStateLayout::kEnd];
  if (FileSeek(state, 0, SEEK_SET) != 0) return false;
  const size_t n = FileRead(all, 1, sizeof all, state);
  Get g{all};
  if (n >= DownloadStateLayout::kReceived + 4) {
    saved.playbackTimeMs = int32_t(g.u32());
    saved.received = int32_t(g.u32());
  }
  if (n >= DownloadStateLayout::kTracks) ReadDownloadRequest(all + DownloadStateLayout::kRequest, saved.request);
  saved.haveTracks = n >= DownloadStateLayout::kClipInfo;
  saved.haveClipInfo = n >= DownloadStateLayout::kTotalLength;
  if (saved.haveTracks) ReadTrackRequest(all + DownloadStateLayout::kTracks, saved.tracks);
  if (saved.haveClipInfo) ReadDownloadClipInfo(all + DownloadStateLayout::kClipInfo, saved.clipInfo);
  if (n >= DownloadStateLayout::kEnd) {
    g.at = DownloadStateLayout::kTotalLength;
    saved.totalLength = int32_t(g.u32());
  }
  return true;
}

bool DownloadFiles::AppendTracks(const TrackRequest& tracks, const DownloadClipInfo& clipInfo) {
  uint8_t block[TrackRequest::kSize + DownloadClipInfo::kSize];
  WriteTrackRequest(tracks, block);
  WriteDownloadClipInfo(clipInfo, block + TrackRequest::kSize);
  return WriteAt(state, DownloadStateLayout::kTracks, block, sizeof block);
}

bool DownloadFiles::AppendTotalLength(int32_t total) {
  uint8_t word[4];
  Put{word}.u32(uint32_t(total));
  return WriteAt(state, DownloadStateLayout::kTotalLength, word, 4);
}

bool DownloadFiles::WriteProgress(int32_t playbackTimeMs, int32_t received) {
  uint8_t words[8];
  Put p{words};
  p.u32(uint32_t(playbackTimeMs));
  p.u32(uint32_t(received));
  return WriteAt(state, 0, words, 8);
}

bool DownloadFiles::OpenData(bool fresh, int32_t size) {
  if (data) FileClose(data);
  data = nullptr;
  if (!dataName[0]) return false;
  if (!fresh) data = OpenFileW(dataName, u"r+b");
  if (!data) {
    data = OpenFileW(dataName, u"w+b");
    if (!data) return false;
    MarkFileHidden(dataName);
  }
  if (fresh && size > 0) {
    // The final size from the start: one byte at the end, the rest sparse.
    const uint8_t zero = 0;
    if (!WriteAt(data, long(size) - 1, &zero, 1)) return false;
  }
  return true;
}

bool DownloadFiles::WriteData(uint32_t offset, const uint8_t* bytes, uint32_t length) {
  return WriteAt(data, long(offset), bytes, length);
}

void DownloadFiles::Close() {
  if (state) FileClose(state);
  if (data) FileClose(data);
  state = data = nullptr;
}

}  // namespace streaming
