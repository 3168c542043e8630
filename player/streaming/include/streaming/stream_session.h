// The streaming client as the player's stream source sees it: one object
// that owns the scheduler, the socket layer, the RTP session, the RTSP
// client and the media data task, runs them in the thread that calls Start,
// and answers per presentation (slot 0 or 1) and per media index.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "streaming/client_services.h"
#include "streaming/rtp_session.h"
#include "streaming/rtsp_client.h"
#include "streaming/scheduler.h"
#include "streaming/socket_layer.h"

namespace streaming {

// Result codes of the session beyond the client's.
enum SessionResult : uint32_t {
  kSessionBadPresentation = 5,
  kSessionBadTrack = 6,
  kSessionBadMedia = 7,
  kSessionUnsupportedCodec = 9,
  kSessionNoMemory = 18,
};

constexpr int32_t kSessionSlots = 2;
constexpr int32_t kSessionMediaLimit = 8;
// The packet buffer of one presentation never grows beyond this.
constexpr uint64_t kPacketBufferCap = 64ull << 20;

// The completion a caller hands to a request that should not block: the
// callback runs in the session thread with a copy of the block.
struct SessionCompletion {
  CompletionCallback callback = nullptr;
  RequestCompletion block;
};

// Packet buffer bytes for a buffering time and the summed b=AS bandwidths
// (bits per second): whole seconds x 8000 up to 64 kbit/s, else the
// bandwidth's bytes per second (2 Mbit/s when no media names one); plus
// 4096. Computed in 64 bits.
constexpr uint64_t kUnknownRateBytes = 250000;
uint64_t PacketBufferBytes(uint32_t bufferMs, uint64_t totalBandwidth);

class StreamSession : public ::StreamSession {
 public:
  // ok (may be null) is set when every part was made.
  explicit StreamSession(bool* ok = nullptr, void (*tooLarge)(void*) = nullptr, void* tooLargeContext = nullptr);
  ~StreamSession() override;
  StreamSession(const StreamSession&) = delete;
  StreamSession& operator=(const StreamSession&) = delete;

  uint32_t Start() override;
  uint32_t Stop() override;
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }

  uint32_t SetClientInfo(const char* userAgent, const char* userNetwork, const char* deviceInfo) override;
  uint32_t SetAccessInfo(const char* user, const char* authentication, const char* expiration,
                         const char* application, const char* extra, const char* signature) override;
  uint32_t Describe(int32_t* presentation, const char* url);
  uint32_t DescribeW(int32_t* presentation, const char16_t* url) override;
  void GetSdpText(int32_t presentation, uint32_t* length, const char** text) override;

  int32_t GetMediaCount(int32_t presentation) override;
  const char* GetMediaCodecName(int32_t presentation, int32_t media) override;
  int32_t GetMediaBandwidth(int32_t presentation, int32_t media) override;
  uint32_t GetMediaClockRate(int32_t presentation, int32_t media) override;
  int32_t GetMediaDependsOn(int32_t presentation, int32_t media) override;
  double GetMediaFrameRate(int32_t presentation, int32_t media) override;
  uint32_t GetMediaConfig(int32_t presentation, int32_t media, const uint8_t** data, uint32_t* size) override;
  int32_t GetRangeStart(int32_t presentation);
  int32_t GetRangeEnd(int32_t presentation) override;

  const char* GetTitle(int32_t presentation) override;
  const char* GetDescription(int32_t presentation) override;
  const char* GetAuthor(int32_t presentation) override;
  const char* GetCopyright(int32_t presentation) override;
  const char* GetCopyrightNotice(int32_t presentation) override { return GetCopyright(presentation); }
  const char* GetRating(int32_t presentation) override;

  uint32_t SelectMedia(int32_t presentation, int32_t media) override;
  // completion: null runs the request in the caller's thread; else a
  // SessionCompletion.
  uint32_t SetupMedia(int32_t presentation, int32_t media, uint32_t maxFrameSize, uint32_t reserved,
                      void* completion) override;
  uint32_t SetBufferTime(int32_t presentation, uint32_t* prerollMs) override;
  uint32_t CreateTrackReceivers(int32_t presentation, uint32_t bufferMs) override;
  uint32_t CloseTrackReceivers(int32_t presentation) override;

  uint32_t Play(int32_t presentation, uint32_t startMs, uint32_t endMs, uint32_t reserved,
                void* completion) override;
  uint32_t Pause(int32_t presentation) override;
  uint32_t Resume(int32_t presentation) override;
  uint32_t PauseIfPlaying(int32_t presentation) override;
  uint32_t Teardown(int32_t presentation) override;

  uint32_t GetBufferedDuration(int32_t presentation, int32_t media) override;
  uint32_t GetLossPercent(int32_t presentation, int32_t media) override;
  uint32_t GetPacketsReceived(int32_t presentation, int32_t media) override;
  uint32_t PeekNextFrame(int32_t presentation, int32_t media, uint32_t* timestamp, uint32_t* size) override;
  uint32_t GetNextFrame(int32_t presentation, int32_t media, uint8_t* buffer, uint32_t* length,
                        uint32_t* timestamp) override;
  void GetLastStatus(int32_t presentation, uint32_t* statusCode, const char** reason) override;

  const char* GetConnectionAddress(int32_t presentation) override;
  void GetContentVersion(int32_t presentation, uint8_t* major, uint8_t* minor) override;
  uint32_t GetH263Params(int32_t presentation, int32_t media, uint32_t* profile, uint32_t* level) override;
  uint32_t ResetPresentation(int32_t presentation) override;

  // The number of presentations counted open (0 to 2).
  int32_t OpenCount() const { return openCount_; }
  // The track number a media was given; -1 when not selected.
  int32_t TrackOf(int32_t presentation, int32_t media) const;
  RtspClient& Client() { return *client_; }
  RtpSession& Rtp() { return *rtp_; }
  SocketLayer& Sockets() { return *sockets_; }
  // Tests shorten the client's fixed time-outs and the probe interval.
  void SetTimeoutsForTest(int32_t requestMs, int32_t teardownMs, uint32_t probeMs);

 private:
  struct Slot {
    int32_t mediaCount = 0;
    int32_t nextTrack = 0;
    int32_t trackOf[kSessionMediaLimit] = {-1, -1, -1, -1, -1, -1, -1, -1};
    uint32_t maxFrameSize[kClientTrackCount] = {};
    uint32_t bufferTimeMs = 0;
    bool receivers = false;
  };
  static bool IsStill(const SdpMediaDescription* media);
  SdpSessionDescription* Session(int32_t presentation);
  SdpMediaDescription* Media(int32_t presentation, int32_t media);
  // The media's track number below 4, or -1 (bad range, not selected).
  int32_t Track(int32_t presentation, int32_t media) const;
  void ClearSlot(int32_t presentation);
  static const char* Text(const RefString* text) { return text ? text->text : nullptr; }

  std::unique_ptr<TaskScheduler> scheduler_;
  std::unique_ptr<SocketLayer> sockets_;
  std::unique_ptr<RtpSession> rtp_;
  std::unique_ptr<RtspClient> client_;
  std::unique_ptr<MediaDataTask> media_;
  uint32_t mediaTask_ = 0, rtspTask_ = 0, rtpTask_ = 0;
  std::atomic<int32_t> openCount_{0};
  Slot slots_[kSessionSlots];
  std::mutex lock_;
  // Start and Stop meet here: a Stop that comes while no Start runs is kept
  // for the next Start, which then returns at once.
  std::mutex runLock_;
  bool running_ = false;
  bool stopPending_ = false;
};

}  // namespace streaming
