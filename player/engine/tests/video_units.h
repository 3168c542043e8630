// Helpers of the video output tests: ffmpeg-made streams cut into access
// units, a media source that plays a script of units, a playout thread on
// the test's own clock, and pixels read back from a window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "fakes.h"
#include "media_source.h"
#include "video_playout_thread.h"

using Bytes = std::vector<uint8_t>;

Bytes ReadFileBytes(const std::string& path);

// An elementary stream in access units, with its configuration headers
// (empty for H.263).
struct UnitStream {
  Bytes config;
  std::vector<Bytes> units;
};
// MPEG-4: each unit from a GOV or VOP start to the next VOP that follows.
UnitStream SplitMpeg4(const Bytes& stream);
// H.263: at each picture start code.
UnitStream SplitH263(const Bytes& stream);
UnitStream FixtureStream(const char* name);

// One answer of ScriptedSource::GetVideoFrame.
struct ScriptStep {
  int unit;          // index into the stream's units; -1 = no bytes
  uint32_t status;   // frame status
  uint32_t timeMs;   // the unit's time stamp
  int32_t lateness;  // the clock is set to timeMs - lateness when it is read out
};

// Plays one script per layer; past its end a layer answers 28.
class ScriptedSource : public MediaSource {
 public:
  ScriptedSource(PlayerContext* c, ManualClock* clock, const UnitStream* stream, uint32_t layers = 1);
  uint32_t Open(const char16_t*, const ClipAccessInfo*) override { return 0; }
  uint32_t SetPlayRange(uint32_t, uint32_t) override { return 0; }
  uint32_t Pause() override { return 0; }
  uint32_t Resume(int32_t) override { return 0; }
  uint32_t Finish() override { return 0; }
  const uint8_t* GetVideoConfig(uint32_t layer, uint32_t* size) override;
  uint32_t GetAudioFrame(uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override { return kFrameEndOfMedia; }
  uint32_t GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer, uint32_t* timestampMs,
                         uint32_t* length) override;
  uint32_t GetMaxAudioFrameSize() override { return 0; }
  uint32_t GetMaxVideoFrameSize(uint32_t) override { return maxFrameSize; }
  TrackEntry* GetTrackList(int32_t* count) override {
    *count = 0;
    return tracks;
  }
  uint32_t SelectTrack(uint32_t) override { return 0; }
  uint32_t GetBufferLevel() override { return 0; }
  float GetContentVersion(uint32_t) override { return 3.0f; }
  uint32_t IsLive() override { return live; }
  void ReportStatistics(uint32_t now, uint32_t t, uint32_t layer, uint32_t skipped, uint32_t notNewer) override;

  std::vector<ScriptStep> script[2];
  uint32_t live = 0;
  uint32_t maxFrameSize = 0;
  // Called after each read of a layer with the number of reads so far.
  std::function<void(uint32_t layer, uint32_t reads)> onRead;
  Bytes configOverride;  // given instead of the stream's configuration when set
  bool useOverride = false;
  // What it was asked.
  std::mutex lock;
  uint32_t reads[2] = {};
  std::vector<std::string> statistics;  // "t skipped notNewer"

 private:
  ManualClock* clock;
  const UnitStream* stream;
  size_t next[2] = {};
};

// The playout thread with its pauses run on the test clock: a wait of n ms
// moves the clock n ms on at once.
class ClockedPlayout : public VideoPlayoutThread {
 public:
  struct Shown {
    int32_t timestamp;
    uint32_t clock;
  };
  ClockedPlayout(PlayerContext* c, MediaSource* s, PlayerShellServices* sh, ManualClock* clock)
      : VideoPlayoutThread(c, s, sh), clock(clock) {}
  ~ClockedPlayout() override;
  uint32_t RenderFrame(const uint8_t* const planes[3], int32_t left, int32_t top, const DisplayFormat& source,
                       uint32_t mode) override;
  // Starts the thread and waits for it to end on its own.
  bool PlayToEnd(DWORD limitMs = 20000);

  std::vector<Shown> shown;
  std::vector<uint32_t> waits;
  // Called after each pause with the number of pauses so far.
  std::function<void(size_t)> onWait;

 protected:
  void Wait(uint32_t ms) override;

 private:
  ManualClock* clock;
};

// A window of the shell's shape: a top-level window with the video control
// 501 (or without it).
class VideoWindow {
 public:
  VideoWindow(int controlWidth, int controlHeight, bool withControl = true);
  ~VideoWindow();
  HWND hwnd = nullptr;
  HWND control = nullptr;
};

// The on-screen pixels of a window's client area as 24-bit BGR rows.
struct Pixels {
  int width = 0, height = 0;
  Bytes bgr;
  const uint8_t* At(int x, int y) const { return &bgr[(size_t(y) * width + x) * 3]; }
};
Pixels ReadWindow(HWND window, int width, int height);

// A 4:2:0 picture of the given size with coloured bands and a gradient, in
// planes of pitch `pitch`.
struct YuvPicture {
  int width, height, pitch, rows;
  Bytes data;
  const uint8_t* planes[3];
  DisplayFormat format;
};
YuvPicture MakePicture(int width, int height);
// The picture as the 24-bit converter gives it, packed BGR rows.
Bytes Convert24(const YuvPicture& picture);
