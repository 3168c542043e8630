#include "media_source.h"

#include <cstring>

MediaSource::MediaSource(PlayerContext* ctx) : context(ctx) {}

MediaSource::~MediaSource() = default;

uint32_t MediaSource::Close() { return 0; }

const uint8_t* MediaSource::GetAudioConfig(uint32_t, uint32_t* size) {
  if (size) *size = 0;
  return nullptr;
}

uint32_t MediaSource::SetAudioTrack(uint32_t) { return audioTimescale; }

uint32_t MediaSource::GetVideoTimescaleMs(uint32_t layer) {
  return layer < 2 ? videoTimescale[layer] * 1000 : 0;
}

uint32_t MediaSource::GetPlayRange(uint32_t* startMs, uint32_t* endMs) {
  if (startMs) *startMs = playStartMs;
  if (endMs) *endMs = playEndMs;
  return 0;
}

uint32_t MediaSource::ConvertTime(uint32_t which, uint32_t unitsPerSecond, uint32_t timestamp) {
  uint32_t timescale = 0;
  switch (which) {
    case 0: timescale = audioTimescale; break;
    case 1: timescale = videoTimescale[0]; break;
    case 2: timescale = videoTimescale[1]; break;
    default: return 0;
  }
  if (timescale == 0) return 0;  // no track of that kind selected
  const int64_t product = static_cast<int64_t>(timestamp) * unitsPerSecond;
  return static_cast<uint32_t>(product / static_cast<int64_t>(timescale));
}

uint32_t MediaSource::GetDownloadProgress(int32_t* out) {
  if (out) *out = 0;
  return 0;
}

TrackEntry* MediaSource::FindTrack(uint32_t trackId) {
  for (uint32_t i = 0; i < trackCount && i < kMaxTracks; ++i)
    if (tracks[i].trackId == trackId) return &tracks[i];
  return nullptr;
}

bool MediaSource::StoreLocation(const char16_t* text, const ClipAccessInfo* access) {
  size_t n = 0;
  while (text && text[n]) ++n;
  if (n >= kTextUnits) return false;
  std::memcpy(location, text, n * sizeof(char16_t));
  location[n] = 0;
  if (access)
    accessInfo = *access;
  else
    accessInfo = ClipAccessInfo{};
  return true;
}
