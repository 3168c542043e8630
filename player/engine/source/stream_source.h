// The media source of an RTSP presentation (kind 2): the streaming session
// describes it, sets up one RTP receiver per chosen media and rebuilds
// frames; this source holds playback back until enough is buffered (the
// preroll), buffers again when a queue runs dry, paces video against the
// player clock (audio drives that clock and is not paced) and turns the
// session's results into the player's messages.
//
// Threads: the session thread runs the whole streaming client (Start until
// Stop); the describe thread runs DESCRIBE once; the engine's thread makes
// the control calls; the audio and video threads pull frames. They share
// atomic flag words polled in 40 and 50 ms sleeps; the session guards its
// queues itself. Every thread of its own is joined before the source goes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "media_source.h"
#include "source_host.h"
#include "streaming/client_services.h"
#include "streaming/rtp_session.h"

// What a stream source needs of the player beyond a file source's.
class StreamHost : public SourceHost {
 public:
  virtual bool ReadSettingDword(uint32_t id, uint32_t* value) = 0;
  virtual void SetPlayerState(uint32_t state, bool alsoEngine) = 0;
  // The engine's end-of-part notice (4 audio, 2 video).
  virtual uint32_t Notify(uint32_t part) = 0;
  // The dial-up connection check: false when the network is gone.
  virtual bool ConnectionUp() = 0;
  // The buffering percentage shown while the queue fills.
  virtual void SetBufferLevel(uint32_t percent) = 0;
  // Free bytes of the current drive; false when they cannot be found.
  virtual bool FreeStorage(uint64_t* bytes) = 0;
  // The waits of the buffering and pacing loops (tests advance their tick).
  virtual void Sleep(uint32_t ms) = 0;
  virtual std::string UserAgent() = 0;
  virtual std::string UserNetwork() = 0;
  virtual std::string DeviceInfo() = 0;
  virtual StreamSession* NewSession() = 0;
};

class StreamSource : public MediaSource {
 public:
  static constexpr uint32_t kRebufferLimitMs = 30000;
  static constexpr uint32_t kPaceWindowMs = 500;
  static constexpr uint32_t kPaceStepMs = 50;

  StreamSource(PlayerContext* context, StreamHost* host);
  ~StreamSource() override;

  uint32_t Open(const char16_t* location, const ClipAccessInfo* access) override;
  uint32_t Close() override;
  uint32_t SetPlayRange(uint32_t startMs, uint32_t endMs) override;
  uint32_t Pause() override;
  uint32_t Resume(int32_t positionMs) override;
  uint32_t Finish() override;
  const uint8_t* GetVideoConfig(uint32_t layer, uint32_t* size) override;
  uint32_t GetAudioFrame(uint8_t* buffer, uint32_t capacity, uint32_t ignored, uint32_t* timestamp,
                         uint32_t* length) override;
  uint32_t GetVideoFrame(uint8_t* buffer, uint32_t capacity, uint32_t layer, uint32_t* timestampMs,
                         uint32_t* length) override;
  uint32_t GetMaxAudioFrameSize() override { return 1000; }
  uint32_t GetMaxVideoFrameSize(uint32_t) override { return 60000; }
  TrackEntry* GetTrackList(int32_t* count) override;
  uint32_t SelectTrack(uint32_t trackId) override;
  uint32_t SetMaxBufferedData(uint32_t ms) override {
    maxBufferedDataMs = ms;
    return 0;
  }
  uint32_t GetMaxBufferedData() override { return maxBufferedDataMs; }
  uint32_t GetBufferLevel() override;
  uint32_t GetTrackStatistic() override;
  float GetContentVersion(uint32_t trackId) override;
  uint32_t IsBuffering() override { return buffering; }
  const ClipAccessInfo* GetAccessInfo() override { return &accessInfo; }
  uint32_t SetAudioTrack(uint32_t trackId) override;
  uint32_t IsLive() override;
  uint32_t ConvertTime(uint32_t kind, uint32_t unitsPerSecond, uint32_t timestamp) override;

  int32_t Presentation() const { return presentation; }
  // Both threads of its own have ended (tests wait on it).
  bool Idle() const { return !sessionRunning && !describeRunning; }
  bool Ended() const { return ended != 0; }

 private:
  uint32_t StartConnect();
  void SessionThread();
  void DescribeThread();
  // fatal: Finish first. messageId < 1 reports the server's status.
  void ReportError(bool fatal, uint32_t messageId);
  // Fills the queue of a media; false after the time-out.
  bool Rebuffer(int32_t media, bool video);
  uint32_t TimeOut(bool fatal);
  void Pace(int32_t media, streaming::TimestampConverter* converter);
  // The frame results shared by audio and video: 0 a frame; else the
  // status to return (nonzero).
  uint32_t FrameFailure(uint32_t rc, bool video);
  void StopSession();
  void JoinSession();
  void SetClipText(ClipText which, const char* utf8);
  uint32_t NowMs() { return host->GetPosition(); }

  StreamHost* host;
  std::unique_ptr<StreamSession> session;
  int32_t presentation = -1;
  std::thread sessionThread, describeThread;
  std::atomic<bool> sessionRunning{false}, describeRunning{false};
  uint32_t maxBufferedDataMs = 0;
  uint32_t hasAudioMedia = 0;
  uint32_t totalBandwidth = 0;
  // Flag words written by one thread and polled by the others.
  std::atomic<uint32_t> buffering{0}, startPending{0}, ended{0}, endAfterPause{0}, sessionEnded{0},
      videoRebase{0};
  int32_t lastVideoTimestampMs = -1;
  std::unique_ptr<streaming::TimestampConverter> converter[3];
  uint8_t h263Config[12] = {};
};
