// The media source of a local MP4 content file (kind 1), read through the
// player's own MP4 reader. It lists the tracks by codec name, selects one
// audio track and up to two video layers (or one still image), positions them
// at a start time and hands out audio in groups of up to ten samples behind a
// made-up frame header, and video one unit at a time. The download source
// derives from it and plays the partial file (".TMP") the same way.
//
// Threads: control calls on the engine's thread, GetAudioFrame on the audio
// thread, GetVideoFrame on the video thread; the tracks are read
// independently, so no lock is taken.
#pragma once

#include <cstdint>

#include "media_source.h"

namespace reader {
class Mp4File;
}
class SourceHost;

class FileSource : public MediaSource {
 public:
  // Samples in one audio group.
  static constexpr uint32_t kMaxGroup = 10;

  // context is handed to the base only; every report goes through host.
  FileSource(PlayerContext* context, SourceHost* host);
  ~FileSource() override;

  uint32_t Open(const char16_t* location, const ClipAccessInfo* access) override;
  uint32_t SetPlayRange(uint32_t startMs, uint32_t endMs) override;
  uint32_t Pause() override;
  uint32_t Resume(int32_t positionMs) override;
  uint32_t Finish() override;
  const uint8_t* GetVideoConfig(uint32_t layer, uint32_t* size) override;
  uint32_t GetAudioFrame(uint8_t* buffer, uint32_t capacity, uint32_t ignored, uint32_t* timestamp,
                         uint32_t* length) override;
  uint32_t GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer, uint32_t* timestampMs,
                         uint32_t* length) override;
  uint32_t GetMaxAudioFrameSize() override;
  uint32_t GetMaxVideoFrameSize(uint32_t layer) override;
  TrackEntry* GetTrackList(int32_t* count) override;
  uint32_t SelectTrack(uint32_t trackId) override;
  uint32_t GetBufferLevel() override;
  float GetContentVersion(uint32_t trackId) override;
  const uint8_t* GetAudioConfig(uint32_t trackId, uint32_t* size) override;
  uint32_t SetAudioTrack(uint32_t trackId) override;

  reader::Mp4File* File() const { return mp4; }
  uint32_t SeekPending() const { return seekPending; }

 protected:
  // The file name's required ending: ".MP4" here, ".TMP" for a download.
  virtual const char16_t* Extension() const;
  void Logf(const char* format, int value);
  void Logf(const char* format, int a, int b);
  // Delivery bookkeeping shared by audio and, for video-only clips, video.
  uint32_t DeliveryStatus(uint32_t tMs);

  SourceHost* host;
  reader::Mp4File* mp4 = nullptr;
  volatile uint32_t seekPending = 0;
  uint8_t h263Config[12] = {};
};
