#include "file_source.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "engine/player_ids.h"
#include "platform/os.h"
#include "reader/mp4_error.h"
#include "reader/mp4_file.h"
#include "source_host.h"

using reader::Mp4File;
using reader::SampleRequest;
using reader::SharedWideString;

namespace {

constexpr int32_t kObjectAmr = 0xD0;
constexpr int32_t kObjectEvrc = 0xD1;
constexpr int32_t kObjectH263 = 0xC0;
constexpr uint32_t kPlayerMajor = 3;

void CopyInto(char16_t* dst, uint32_t units, std::u16string_view src) {
  const size_t n = src.size() < units - 1 ? src.size() : units - 1;
  std::memcpy(dst, src.data(), n * sizeof(char16_t));
  dst[n] = 0;
}

// Takes over the reference.
void CopyText(char16_t* dst, SharedWideString* s) {
  CopyInto(dst, MediaSource::kTextUnits, s ? s->view() : std::u16string_view());
  reader::ReleaseText(s);
}

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; }

std::u16string_view Name(SharedWideString* s, char16_t (&out)[32]) {
  CopyInto(out, 32, s ? s->view() : std::u16string_view());
  reader::ReleaseText(s);
  return out;
}

bool IsAudio(std::u16string_view n) { return n == u"AMR" || n == u"EVRC" || n == u"AAC"; }
bool IsVideo(std::u16string_view n) { return n == u"MP4V-ES" || n == u"H263-2000" || n == u"H263-1998"; }

const reader::DecoderSpecificInfo* DescriptionInfo(Mp4File* f, uint32_t track, uint32_t index) {
  const reader::Mp4SampleEntry* e = f->GetSampleDescription(track, index);
  return e ? e->Dsi() : nullptr;
}

}  // namespace

FileSource::FileSource(PlayerContext* ctx, SourceHost* h) : MediaSource(ctx), host(h) { kind = kSourceFile; }

FileSource::~FileSource() {
  if (host->GetEngineState() < kStateStopping) Finish();
  delete mp4;
  mp4 = nullptr;
}

const char16_t* FileSource::Extension() const { return u".MP4"; }

void FileSource::Logf(const char* format, int value) {
  char line[96];
  std::snprintf(line, sizeof(line), format, value);
  host->Log(platform::utf8ToUtf16(line).c_str());
}

void FileSource::Logf(const char* format, int a, int b) {
  char line[96];
  std::snprintf(line, sizeof(line), format, a, b);
  host->Log(platform::utf8ToUtf16(line).c_str());
}

uint32_t FileSource::Open(const char16_t* path, const ClipAccessInfo* access) {
  std::memset(selectionOrder, 0, sizeof(selectionOrder));
  std::memset(tracks, 0, sizeof(tracks));
  trackCount = 0;
  std::memset(receiveStats, 0, sizeof(receiveStats));
  highestTimeMs = 0;
  videoOnly = 0;
  audioTrackCount = 0;
  seekPending = 0;
  delete mp4;
  mp4 = nullptr;
  std::memset(clipTexts, 0, sizeof(clipTexts));

  const std::u16string_view given = path ? std::u16string_view(path) : std::u16string_view();
  auto refuse = [&] {
    const std::u16string text(given);
    host->ReportError(ids::kMsgUnableToPlayClip, text.c_str());
    return static_cast<uint32_t>(kFileNotOpened);
  };
  if (!StoreLocation(path, access)) return refuse();

  // The first occurrence of the ending must be the end of the name.
  std::u16string upper(given);
  for (char16_t& c : upper) c = Upper(c);
  const size_t at = upper.find(Extension());
  if (at == std::u16string::npos || at + 4 != upper.size()) return refuse();

  SharedWideString* name = SharedWideString::Create(given);
  mp4 = name ? Mp4File::OpenFile(name) : nullptr;
  reader::ReleaseText(name);
  if (!mp4 || !mp4->ok()) {
    delete mp4;
    mp4 = nullptr;
    return refuse();
  }

  durationMs = mp4->GetDuration();
  playEndMs = durationMs;
  playStartMs = 0;
  contentFlags = mp4->GetFileKind();

  CopyText(clipTexts[kTitle], mp4->GetKrmmText2());
  CopyText(clipTexts[kDescription], mp4->GetKrmmText5());
  CopyText(clipTexts[kCopyright], mp4->GetKrmmText4());
  CopyText(clipTexts[kAuthor], mp4->GetKrmmText3());
  CopyText(clipTexts[kVersionText], mp4->GetKrmmText1());
  CopyText(clipTexts[kRating], mp4->GetKrmmText6());
  if (clipTexts[kTitle][0] == 0) host->LoadText(ids::kStrUntitled, clipTexts[kTitle], kTextUnits);

  if (kind == kSourceFile) host->OpenResult(kOk);
  return kOk;
}

TrackEntry* FileSource::GetTrackList(int32_t* count) {
  audioTrackId = -1;
  videoTrackId[0] = videoTrackId[1] = -1;
  audioTrackCount = videoLayerCount = 0;
  contentFlags = 0;
  if (!mp4) {
    *count = -1;
    return tracks;
  }
  const bool versioned = clipTexts[kVersionText][0] != 0;
  const uint32_t major = static_cast<uint32_t>(mp4->GetContentVersion() >> 8);
  if (versioned && major != (host->GetSettingsVersion() >> 8)) {
    *count = major == 0 ? -2 : -static_cast<int32_t>(major);
    return tracks;
  }
  // The table has ten rows; further tracks are not offered.
  uint32_t ids[kMaxTracks] = {};
  trackCount = mp4->GetTrackIds(ids, kMaxTracks);
  if (trackCount > kMaxTracks) trackCount = kMaxTracks;
  for (uint32_t i = 0; i < trackCount; ++i) {
    TrackEntry& t = tracks[i];
    t = TrackEntry{};
    t.trackId = ids[i];
    selectionOrder[i] = 0;
    char16_t name[32];
    const std::u16string_view codec = Name(mp4->GetTrackCodecName(ids[i]), name);
    CopyInto(t.codecName, 32, codec);
    t.bitrate = t.flags = mp4->GetTrackBitrate(ids[i]);
    if (codec == u"AAC") t.flags |= kTrackAac;
    const int16_t trackVersion = static_cast<int16_t>(mp4->GetTrackContentVersion(ids[i]));
    if ((trackVersion >> 8) == static_cast<int16_t>(kPlayerMajor) || !versioned) t.flags |= kTrackPlayableVersion;
  }
  *count = static_cast<int32_t>(trackCount);
  return tracks;
}

uint32_t FileSource::SelectTrack(uint32_t id) {
  TrackEntry* t = FindTrack(id);
  if (!t || !mp4) return kOk;
  t->selected = 1;
  const std::u16string_view codec(t->codecName);
  const uint32_t slot = audioTrackCount + videoLayerCount;
  if (IsAudio(codec)) {
    if (slot >= kMaxTracks) return kOk;
    audioTrackId = static_cast<int32_t>(id);
    contentFlags |= kContentAudio;
    selectionOrder[slot] = id;
    audioTrackCount += 1;
  } else if (IsVideo(codec)) {
    if (videoLayerCount >= 2 || slot >= kMaxTracks) return kOk;
    videoTimescale[videoLayerCount] = static_cast<uint32_t>(mp4->GetMediaTimescale(id));
    if (mp4->GetTrackDependency(id) == 0) {
      if (videoTrackId[0] >= 0) return kOk;  // one base layer only
      videoTrackId[0] = static_cast<int32_t>(id);
    } else {
      videoTrackId[1] = static_cast<int32_t>(id);
    }
    selectionOrder[slot] = id;
    contentFlags |= kContentVideo;
    videoLayerCount += 1;
  } else if (codec == u"X-MP4V-IMAGE") {
    if (slot >= kMaxTracks) return kOk;
    videoTimescale[0] = static_cast<uint32_t>(mp4->GetMediaTimescale(id));
    videoTrackId[0] = static_cast<int32_t>(id);
    selectionOrder[slot] = id;
    videoLayerCount = 1;
    contentFlags |= kContentStill;
  }
  return kOk;
}

uint32_t FileSource::SetPlayRange(uint32_t start, uint32_t end) {
  if (end == kPlayToEnd) end = durationMs;
  playEndMs = end;
  playStartMs = start;
  inRange = 1;
  playing = 0;
  if (contentFlags == kContentStill) {
    host->ReportError(ids::kMsgCannotPlayAudio, nullptr);
    return kCannotPlay;
  }
  if (start != 0 && host->GetEngineState() != kStateOpened) host->SetStatusText(ids::kStatusPositioning);
  if (videoTrackId[0] < 0) {
    videoLayerCount = 0;
    contentFlags &= ~kContentVideo;
  }
  receiveStats[0] = receiveStats[1] = receiveStats[2] = 0;
  highestTimeMs = start;
  videoOnly = contentFlags == kContentVideo;
  lastTimestampMs[0] = lastTimestampMs[1] = lastTimestampMs[2] = -1;
  if (!mp4) return kOk;

  uint32_t position = 0;
  const bool noAudio = contentFlags == 0 || contentFlags == kContentVideo;
  if (noAudio && mp4->GetFileKind() != kContentVideo && start == 0) {
    host->ReportError(ids::kMsgVideoOnly, nullptr);
    mp4->ResetTracks();
  } else if (start != 0) {
    const uint32_t n = contentFlags == (kContentAudio | kContentStill) ? audioTrackCount
                                                                        : audioTrackCount + videoLayerCount;
    position = mp4->SeekTracks(start, n, selectionOrder);
  } else {
    mp4->ResetTracks();
  }
  host->SetPosition(position);
  if (contentFlags == kContentAudio) return kOk;

  if (videoTrackId[0] >= 0) {
    const uint32_t base = static_cast<uint32_t>(videoTrackId[0]);
    iFrameIntervalMs = mp4->GetTrackIFrameInterval(base) & 0xFFFF;
    Logf("I-frame interval: %d\n", static_cast<int>(iFrameIntervalMs));
    Logf("Nearest I-frame: %d\n", static_cast<int>(position));
    for (int layer = 0; layer < 2; ++layer)
      if (videoTrackId[layer] >= 0)
        Logf("Frame rate[%d]: %d\n", layer,
             static_cast<int>(mp4->GetTrackFrameRate(static_cast<uint32_t>(videoTrackId[layer]))));
  }
  return kOk;
}

uint32_t FileSource::Pause() {
  if (host->GetEngineState() == kStatePlaying) pausePositionMs = host->GetPosition();
  return kOk;
}

uint32_t FileSource::Resume(int32_t position) {
  if (position < 0) {
    host->SetPosition(pausePositionMs);
    playing = 0;
    host->SetStatusText(ids::kStatusPlaying);
    return kOk;
  }
  seekPending = 1;
  return SetPlayRange(static_cast<uint32_t>(position), kPlayToEnd);
}

uint32_t FileSource::Finish() {
  if (kind == kSourceDownload) {
    delete mp4;
    mp4 = nullptr;
  }
  Logf("Last audio timestamp: %d\n", lastTimestampMs[0]);
  Logf("Last video[0] timestamp: %d\n", lastTimestampMs[1]);
  Logf("Last video[1] timestamp: %d\n", lastTimestampMs[2]);
  return kOk;
}

uint32_t FileSource::DeliveryStatus(uint32_t t) {
  if (highestTimeMs < t && !seekPending)
    highestTimeMs = t;
  else if (t == 0 && seekPending)
    playing = 0;
  if (host->GetEngineState() >= kStateStopping) return kFrameEndOfMedia;
  if (t < playStartMs) {
    playing = 0;
    inRange = 0;
    host->SetStatusText(ids::kStatusPositioning);
    return kFrameBeforeStart;
  }
  if (!inRange) {
    inRange = 1;
    playing = 0;
  }
  if (!playing) {
    seekPending = 0;
    playing = 1;
    host->SetStatusText(ids::kStatusPlaying);
  }
  if (t > playEndMs && t >= 1) {
    if (!videoOnly) Finish();
    return kFrameEndOfMedia;
  }
  return kFrameDelivered;
}

uint32_t FileSource::GetAudioFrame(uint8_t* buffer, uint32_t capacity, uint32_t, uint32_t* timestamp,
                                   uint32_t* length) {
  *length = 0;
  if (!mp4 || audioTrackId < 0 || !buffer) return kFrameEndOfMedia;
  const uint32_t track = static_cast<uint32_t>(audioTrackId);

  SampleRequest request;
  uint32_t n = kMaxGroup;
  const int32_t peeked = mp4->PeekSamples(track, &n, &request);
  if (peeked == reader::READ_FAILED) host->ReportError(ids::kMsgClipCorrupted, nullptr);
  // The reader answers end of track with the samples that are left; they
  // are delivered too.
  if (peeked != reader::EVERYTHING_FINE && !(peeked == reader::END_OF_TRACK && n > 0)) n = 0;

  // The group is bounded by the buffer: a count byte, a header byte and
  // the bytes of each sample.
  uint64_t bytes = 1;
  uint32_t fit = 0;
  while (fit < n && bytes + 1 + request.slots[fit].size <= capacity) bytes += 1 + request.slots[fit++].size;
  if (n > 0 && fit == 0) return kFrameNone;  // not even one sample fits: nothing is consumed
  n = fit;

  uint32_t t = 0;
  if (n > 0) {
    const uint32_t ts = request.slots[0].timeStamp;
    *timestamp = ts;
    buffer[0] = static_cast<uint8_t>(n);
    // AAC has no header bytes, yet they are counted: they stay zero.
    std::memset(buffer + 1, 0, n);
    const int32_t type = mp4->GetObjectTypeIndication(track);
    for (uint32_t i = 0; i < n && (type == kObjectAmr || type == kObjectEvrc); ++i) {
      const reader::DecoderSpecificInfo* dsi = DescriptionInfo(mp4, track, request.slots[i].descriptionIndex);
      if (!dsi) break;
      const bool more = i + 1 < n;
      if (type == kObjectAmr)
        buffer[1 + i] = static_cast<uint8_t>((more ? 0x84 : 0x04) | ((dsi->mode & 15) << 3));
      else
        buffer[1 + i] = static_cast<uint8_t>((more ? 0xA0 : 0x80) | dsi->mode);
    }
    SampleRequest read;
    read.bufferCount = 1;
    read.buffers[0].capacity = static_cast<uint32_t>(bytes - 1 - n);
    read.buffers[0].data = buffer + 1 + n;
    uint32_t got = n;
    const int32_t r = mp4->ReadSamples(track, &got, &read);
    // The reader answers end of track when the group took the last samples.
    if ((r == reader::EVERYTHING_FINE || r == reader::END_OF_TRACK) && got == n)
      *length = static_cast<uint32_t>(bytes);
    t = audioTimescale ? static_cast<uint32_t>(static_cast<double>(ts) * 1000.0 / audioTimescale) : 0;
  }

  uint32_t status = kFrameEndOfMedia;
  if (*length != 0) status = DeliveryStatus(t);
  if (lastTimestampMs[0] < 0 && *length != 0) Logf("First audio timestamp: %d\n", static_cast<int>(t));
  if (status == kFrameEndOfMedia)
    Logf("Last audio timestamp: %d\n", *length != 0 ? static_cast<int>(t) : lastTimestampMs[0]);
  if (*length != 0) lastTimestampMs[0] = static_cast<int32_t>(t);
  return status;
}

uint32_t FileSource::GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer, uint32_t* timestampMs,
                                   uint32_t* length) {
  *length = 0;
  // Video waits for audio to start, unless it is the clock itself.
  while (!playing && !videoOnly && host->GetEngineState() < kStateStopping) platform::sleepMs(40);
  if (layer > 1 || !mp4 || videoTrackId[layer] < 0) return kFrameEndOfMedia;
  const uint32_t track = static_cast<uint32_t>(videoTrackId[layer]);
  const int32_t got = mp4->ReadSample(track, buffer, capacity, nullptr);
  // A negative answer is a buffer too small for the unit: nothing was read.
  if (got < 0) return kFrameNone;
  *length = static_cast<uint32_t>(got);
  uint32_t ts = mp4->GetLastSampleTime(track);
  if (videoTimescale[layer] > 0)
    ts = static_cast<uint32_t>(static_cast<uint64_t>(ts) * 1000 / videoTimescale[layer]);
  *timestampMs = ts;

  uint32_t status;
  if (*length == 0 || host->GetEngineState() >= kStateStopping) {
    status = kFrameEndOfMedia;
  } else if (ts < playStartMs && contentFlags != (kContentAudio | kContentStill)) {
    status = kFrameBeforeStart;
    if (videoOnly) {
      inRange = 0;
      host->SetStatusText(ids::kStatusPositioning);
    }
  } else if (videoOnly) {
    status = DeliveryStatus(ts);
  } else {
    status = kFrameDelivered;
  }
  const int slot = 1 + static_cast<int>(layer);
  if (lastTimestampMs[slot] < 0 && *length != 0) Logf("First video[%d] timestamp: %d\n", static_cast<int>(layer), static_cast<int>(ts));
  if (status == kFrameEndOfMedia)
    Logf("Last video[%d] timestamp: %d\n", static_cast<int>(layer),
         *length != 0 ? static_cast<int>(ts) : lastTimestampMs[slot]);
  if (*length != 0) lastTimestampMs[slot] = static_cast<int32_t>(ts);
  return status;
}

const uint8_t* FileSource::GetVideoConfig(uint32_t layer, uint32_t* size) {
  *size = 0;
  if (layer > 1 || !mp4 || videoTrackId[layer] < 0) return nullptr;
  const uint32_t track = static_cast<uint32_t>(videoTrackId[layer]);
  if (mp4->GetObjectTypeIndication(track) == kObjectH263) {
    std::memset(h263Config, 0, sizeof(h263Config));
    if (const reader::DecoderSpecificInfo* dsi = DescriptionInfo(mp4, track, 0)) {
      std::memcpy(h263Config, &dsi->word1, 2);
      std::memcpy(h263Config + 2, &dsi->word2, 2);
    }
    *size = sizeof(h263Config);
    return h263Config;
  }
  *size = mp4->GetDecoderSpecificInfoSize(track);
  return mp4->GetDecoderSpecificInfo(track);
}

uint32_t FileSource::GetMaxAudioFrameSize() {
  return mp4 && audioTrackId >= 0 ? mp4->GetMaxSampleSize(static_cast<uint32_t>(audioTrackId)) : 0;
}

uint32_t FileSource::GetMaxVideoFrameSize(uint32_t layer) {
  if (layer > 1 || !mp4 || videoTrackId[layer] < 0) return 0;
  return mp4->GetMaxSampleSize(static_cast<uint32_t>(videoTrackId[layer]));
}

uint32_t FileSource::GetBufferLevel() {
  uint32_t level = GetMaxAudioFrameSize();
  for (uint32_t layer = 0; layer < 2; ++layer)
    if (GetMaxVideoFrameSize(layer) > level) level = GetMaxVideoFrameSize(layer);
  return level;
}

float FileSource::GetContentVersion(uint32_t trackId) {
  if (!mp4) return 0.0f;
  return static_cast<float>(static_cast<int16_t>(mp4->GetTrackContentVersion(trackId))) / 256.0f;
}

const uint8_t* FileSource::GetAudioConfig(uint32_t trackId, uint32_t* size) {
  audioTrackId = static_cast<int32_t>(trackId);
  *size = mp4 ? mp4->GetDecoderSpecificInfoSize(trackId) : 0;
  return mp4 ? mp4->GetDecoderSpecificInfo(trackId) : nullptr;
}

uint32_t FileSource::SetAudioTrack(uint32_t trackId) {
  audioTrackId = static_cast<int32_t>(trackId);
  audioTimescale = mp4 ? static_cast<uint32_t>(mp4->GetMediaTimescale(trackId)) : 0;
  return audioTimescale;
}
