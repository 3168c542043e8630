// The abstract source of compressed media that the engine plays from: a
// local file, an RTSP presentation or an HTTP download. The base keeps what
// all kinds share and the defaults of the operations not every kind needs.
#pragma once

#include <cstdint>

#include "engine/media_types.h"

class PlayerContext;

class MediaSource {
 public:
  static constexpr uint32_t kTextUnits = 256;
  enum ClipText { kTitle, kDescription, kCopyright, kAuthor, kVersionText, kRating, kExtraText };

  explicit MediaSource(PlayerContext* context);
  virtual ~MediaSource();
  MediaSource(const MediaSource&) = delete;
  MediaSource& operator=(const MediaSource&) = delete;

  // In the order the kinds rely on.
  virtual uint32_t Open(const char16_t* location, const ClipAccessInfo* access) = 0;
  virtual uint32_t Close();
  // endMs 0x7FFFFFFF = to the end; starts or restarts delivery.
  virtual uint32_t SetPlayRange(uint32_t startMs, uint32_t endMs) = 0;
  virtual uint32_t Pause() = 0;
  // Negative: where paused.
  virtual uint32_t Resume(int32_t positionMs) = 0;
  virtual uint32_t Finish() = 0;
  virtual const uint8_t* GetVideoConfig(uint32_t layer, uint32_t* size) = 0;
  virtual uint32_t GetAudioFrame(uint8_t* buffer, uint32_t capacity, uint32_t ignored,
                                 uint32_t* timestamp, uint32_t* length) = 0;
  virtual uint32_t GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer,
                                 uint32_t* timestampMs, uint32_t* length) = 0;
  virtual uint32_t GetMaxAudioFrameSize() = 0;
  virtual uint32_t GetMaxVideoFrameSize(uint32_t layer) = 0;
  virtual void Reserved12() {}
  // count is negative when the clip cannot be played (-2 unsupported).
  virtual TrackEntry* GetTrackList(int32_t* count) = 0;
  virtual uint32_t SelectTrack(uint32_t trackId) = 0;
  virtual uint32_t Reserved15(uint32_t) { return 0; }
  virtual uint32_t Reserved16() { return 0; }
  virtual uint32_t SetMaxBufferedData(uint32_t) { return 0; }
  virtual uint32_t GetMaxBufferedData() { return 0; }
  virtual uint32_t GetBufferLevel() = 0;
  virtual uint32_t GetTrackStatistic() { return 0; }
  // major + minor / 256
  virtual float GetContentVersion(uint32_t trackId) = 0;
  virtual float GetRate() { return 1.0f; }
  virtual uint32_t Reserved23(uint32_t, uint32_t, uint32_t) { return 0; }
  virtual uint32_t Suspend() { return 0; }
  virtual uint32_t Reserved25(uint32_t) { return 0; }
  virtual uint32_t Reserved26(uint32_t) { return 0; }
  virtual uint32_t IsBuffering() { return 0; }
  virtual const ClipAccessInfo* GetAccessInfo() { return nullptr; }
  virtual const uint8_t* GetAudioConfig(uint32_t trackId, uint32_t* size);
  // Audio units per second of the track.
  virtual uint32_t SetAudioTrack(uint32_t trackId);
  virtual uint32_t GetVideoTimescaleMs(uint32_t layer);
  virtual uint32_t GetPlayRange(uint32_t* startMs, uint32_t* endMs);
  virtual uint32_t IsLive() { return 0; }
  virtual void ReportStatistics(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
  // kind 0 audio, 1 video layer 0, 2 video layer 1.
  virtual uint32_t ConvertTime(uint32_t kind, uint32_t unitsPerSecond, uint32_t timestamp);
  // Total content length of a download, 0 otherwise.
  virtual uint32_t GetDownloadInfo() { return 0; }
  // Bytes still to come in out.
  virtual uint32_t GetDownloadProgress(int32_t* out);

  uint32_t GetVideoLayerCount() const { return videoLayerCount; }
  // The seven clip texts follow one another at 256-unit steps.
  const char16_t* GetTitle() const { return clipTexts[kTitle]; }
  const char16_t* GetClipText(ClipText which) const { return clipTexts[which]; }
  uint32_t GetContentFlags() const { return contentFlags; }
  uint32_t GetSourceType() const { return kind; }
  uint32_t GetDuration() const { return durationMs; }
  uint32_t GetHighestTime() const { return highestTimeMs; }
  const uint32_t* GetReceiveStats() const { return receiveStats; }
  // Among the first 10 entries; null when absent.
  TrackEntry* FindTrack(uint32_t trackId);
  // Hands the result of an asynchronous open to the context.
  void SignalOpenResult(uint32_t code);

  // Copies location and access record (zeroed when none); false when the
  // location does not fit.
  bool StoreLocation(const char16_t* location, const ClipAccessInfo* access);

 protected:
  PlayerContext* context;

 public:
  // Shared with the audio and video threads: plain words, one writer each.
  char16_t location[kTextUnits] = {};
  uint32_t kind = 0;
  uint32_t contentFlags = 0;
  uint32_t durationMs = 0;
  uint32_t audioTrackCount = 0;
  uint32_t videoLayerCount = 0;
  ClipAccessInfo accessInfo = {};
  char16_t clipTexts[7][kTextUnits] = {};
  uint32_t playStartMs = 0;
  uint32_t playEndMs = kPlayToEnd;
  uint32_t audioTimescale = 0;
  uint32_t videoTimescale[2] = {};
  uint32_t receiveStats[3] = {};
  volatile uint32_t highestTimeMs = 0;
  uint32_t videoOnly = 0;
  volatile uint32_t pausePositionMs = 0;
  uint32_t iFrameIntervalMs = 0;
  volatile uint32_t playing = 0;
  volatile uint32_t inRange = 0;
  uint32_t trackCount = 0;
  TrackEntry tracks[kMaxTracks] = {};
  uint32_t selectionOrder[kMaxTracks] = {};
  int32_t audioTrackId = -1;
  int32_t videoTrackId[2] = {-1, -1};
  int32_t lastTimestampMs[3] = {-1, -1, -1};
};
