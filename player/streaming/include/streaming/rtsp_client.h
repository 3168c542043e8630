// The control-connection side of the streaming client: up to two
// presentations, each with its TCP connection, reader and message records;
// the request cycle every RTSP request runs on (synchronous in the caller's
// thread, or as a scheduler task with a callback); PLAY, PAUSE and TEARDOWN;
// and the lookups the stream session and stream source make.
#pragma once

#include <cstdint>

#include "streaming/rtp_session.h"
#include "streaming/rtsp_message.h"
#include "streaming/scheduler.h"
#include "streaming/sdp.h"
#include "streaming/socket_layer.h"

namespace streaming {

enum PresentationState : int32_t { kStateInit = 0, kStateReady = 1, kStatePlaying = 2, kStateRecording = 3 };

// Result codes of the client beyond the socket layer's.
enum RtspClientResult : int32_t {
  kResultBadSdp = 3,
  kResultTwoPresentations = 10,
  kResultCut = 11,
  kResultTimeout = 15,
  kResultNoMemory = 18,
};

// The block a request's callback receives; the caller's word comes back
// untouched.
struct RequestCompletion {
  int32_t timeoutMs = 0;
  int32_t presentation = 0;
  int32_t result = 0;
  int32_t status = 0;
  const char* serverMessage = nullptr;
  uint8_t timedOut = 0;
  uintptr_t callerWord = 0;
};
using CompletionCallback = void (*)(RequestCompletion* block);

constexpr uint32_t kRequestTextCount = 10;
constexpr uint32_t kRequestTextSize = 256;
constexpr uint32_t kBaseUrlSize = 256;
constexpr uint32_t kSessionTextSize = 32;
constexpr uint32_t kClientTrackCount = 4;
constexpr uint32_t kDefaultBufferTimeMs = 7000;

// What the answers of one presentation's server carried, per track.
struct ClientTrackSync {
  uint32_t ssrc = 0;
  uint16_t seq = 0;
  uint32_t rtptime = 0;
  uint32_t startPosition = 0;  // the answer's range start in RTP units
  bool ssrcPresent = false;
  bool seqPresent = false;
  bool rtptimePresent = false;
  uint32_t clockRate = 0;
  int32_t rtcpInterval = 0;
};

struct RtspPresentation {
  RtspPresentation() = default;
  RtspPresentation(const RtspPresentation&) = delete;
  RtspPresentation& operator=(const RtspPresentation&) = delete;

  int32_t id = 0;
  char sessionText[kSessionTextSize] = {};
  uint8_t sessionToken[8] = {};
  int32_t state = kStateInit;
  int32_t cseq = 0;
  SdpParser sdpParser;
  RtspReader reader;
  RtspMessage response;
  RtspMessage request;
  char* sdpText = nullptr;
  uint32_t sdpLength = 0;
  uint8_t* stillImage = nullptr;
  uint32_t stillImageLength = 0;
  bool stillImageValid = false;
  bool responseComplete = false;
  bool messageBegun = false;
  bool descriptionParsed = false;
  bool serverIsKrss = false;
  bool contentBaseSet = false;
  bool sessionKnown = false;
  int32_t lastStatus = 0;
  char* serverMessage = nullptr;
  RtspPresentation* next = nullptr;
  int32_t bufferTime = 0;
  const int32_t* trackMap = nullptr;  // per media index: track 0..3 or -1
  ClientTrackSync tracks[kClientTrackCount];
  uint32_t learnedSsrc[kClientTrackCount] = {};  // per track, from SETUP
  bool ssrcLearned[kClientTrackCount] = {};
  int32_t result = 0;
  int32_t probeNumber = 0;
  int32_t probeRoundTrip = 0;
  char baseUrl[kBaseUrlSize] = {};
  int32_t lastEvent = kEventIdle;
  // The Range and first Transport of the last 200 answer: the record is
  // reused for the next message before a request's wait step reads it.
  bool answerHasRange = false;
  RangeValue answerRange;
  bool answerHasTransport = false;
  TransportSpec answerTransport;
  SdpSessionDescription* description = nullptr;
};

class RtspClient : public RtspReceiveSink {
 public:
  RtspClient(SocketLayer* sockets, TaskScheduler* scheduler, RtpSession* rtp, bool& ok);
  ~RtspClient() override;
  RtspClient(const RtspClient&) = delete;
  RtspClient& operator=(const RtspClient&) = delete;

  // User-Agent, User-Network, DeviceInfo, spare, user, authentication,
  // expiration, application, filler, signature; each may be null.
  int32_t SetHeaderValues(const char* const texts[kRequestTextCount]);
  const char* HeaderValue(uint32_t i) const { return i < kRequestTextCount ? texts_[i] : ""; }

  // The RTSP task: one pass over every presentation's connection.
  int32_t Run();
  static void RunTask(void* self) { static_cast<RtspClient*>(self)->Run(); }
  int32_t HandleResponse(int32_t presentation, int32_t state, int32_t method, int32_t statusClass, int32_t cseq);

  // The media data task's way in: 1 with a window, 21 while the reader has
  // an event pending, 0 for an unknown presentation.
  int32_t GetReceiveWindow(int32_t presentation, uint8_t*& window, uint32_t& length) override;
  void CommitReceived(int32_t presentation, uint32_t bytes) override;

  // 1, or 2 for a URL without "//", without a path, or too long for the
  // client's fields (nothing is cut).
  int32_t ParseUrl(const char* url);
  const char* Host() const { return host_; }
  int32_t Port() const { return port_; }
  const char16_t* Path() const { return path_; }

  // Requests. Without a callback they run in the caller's thread and answer
  // the presentation's result; with one they are queued (1) and the
  // callback gets a copy of the block.
  // The new id is written to the caller before the request runs.
  int32_t StartDescribe(int32_t& presentation, const char* url, CompletionCallback callback,
                        RequestCompletion* block);
  int32_t StartSetup(int32_t presentation, int32_t track, int32_t media, const char* control,
                     CompletionCallback callback, RequestCompletion* block);
  int32_t StartPlay(int32_t presentation, int32_t startMs, int32_t endMs, CompletionCallback callback,
                    RequestCompletion* block);
  int32_t StartResume(int32_t presentation, CompletionCallback callback, RequestCompletion* block);
  int32_t StartPause(int32_t presentation, CompletionCallback callback, RequestCompletion* block);
  int32_t StartPauseIfPlaying(int32_t presentation, CompletionCallback callback, RequestCompletion* block);
  int32_t StartTeardown(int32_t presentation, CompletionCallback callback, RequestCompletion* block);

  // Lookups.
  RtspPresentation* FindPresentation(int32_t presentation);
  int32_t GetPresentationCount() const { return presentationCount_; }
  int32_t GetMediaCount(int32_t presentation);
  int32_t SetMediaLimit(int32_t presentation, int32_t limit);
  SdpSessionDescription* GetSessionDescription(int32_t presentation);
  SdpMediaDescription* const* GetMediaList(int32_t presentation);
  int32_t GetBufferTime(int32_t presentation);
  int32_t GetLastStatus(int32_t presentation, int32_t& status, const char*& message);
  uint32_t GetSdpText(int32_t presentation, const char*& text, uint32_t& length);
  bool IsKrssServer(int32_t presentation);
  int32_t GetContentVersion(int32_t presentation, uint8_t& major, uint8_t& minor);
  int32_t GetSessionRangeMs(int32_t presentation, uint32_t& startMs, uint32_t& endMs);
  int32_t GetMediaRangeMs(int32_t presentation, int32_t media, uint32_t& startMs, uint32_t& endMs);
  const char* GetConnectionAddress(int32_t presentation);
  const uint8_t* GetStillImageData(int32_t presentation);
  uint32_t GetStillImageLength(int32_t presentation);
  int32_t GetStillImageFrame(int32_t presentation, uint8_t* buffer, uint32_t& length, uint32_t& time);
  int32_t GetH263Params(int32_t presentation, int32_t media, uint32_t& first, uint32_t& second);
  int32_t GetState(int32_t presentation);
  const ClientTrackSync* GetTrackSync(int32_t presentation, uint32_t track);
  // The session's track number per media index (the stream session's table).
  bool SetTrackMap(int32_t presentation, const int32_t* map);

  // Tests shorten the fixed time-outs (15000 and 3750 ms).
  void SetTimeoutsForTest(int32_t requestMs, int32_t teardownMs) {
    requestTimeout_ = requestMs;
    teardownTimeout_ = teardownMs;
  }

 protected:
  struct RtspRequest;
  using StepFunction = int32_t (RtspClient::*)(RtspRequest& request);
  struct RtspRequest {
    int32_t presentation = 0;
    CompletionCallback callback = nullptr;
    RequestCompletion block;
    uint32_t taskId = 0;
    uint32_t startTime = 0;
    RtspClient* client = nullptr;
    uint8_t step = 1;
    StepFunction function = nullptr;
    int32_t rangeStartMs = -1;
    int32_t rangeEndMs = -1;
    bool sendRtt = false;
    RtspPresentation* created = nullptr;  // DESCRIBE: not in the list until connected
    int32_t track = 0;
    int32_t media = 0;
    uint16_t rtpPort = 0;
    uint16_t rtcpPort = 0;
  };

  // Queues or runs a request whose record the caller allocated with new;
  // the record is freed when the request completes.
  int32_t StartRequest(RtspRequest* request, CompletionCallback callback, RequestCompletion* block,
                       int32_t syncTimeoutMs);
  // Step shapes shared by every kind.
  int32_t GoneStep(RtspRequest& request);
  bool SendRequest(RtspPresentation& p);
  // 0 keep waiting, 1 finished (result set), 2 finished by the abort mark
  // without the callback.
  int32_t WaitCheck(RtspRequest& request, RtspPresentation& p, bool abortCounts);
  // Fills the block, calls the callback, removes the task and frees the
  // record (asynchronous form).
  void Complete(RtspRequest& request, const RtspPresentation* p, int32_t result);
  void CompleteWith(RtspRequest& request, int32_t result, int32_t status, const char* message);
  // Ends a request without its callback (the abort mark).
  void Drop(RtspRequest& request);
  // The request URI of PLAY, PAUSE and TEARDOWN.
  bool AggregateUrl(RtspPresentation& p, char* out, uint32_t size) const;
  // The Session value as sent: cut at its first ';' when it has "timeout".
  static uint32_t SessionValue(const RtspPresentation& p, char* out, uint32_t size);
  // Links a presentation whose connection is up (under the scheduler lock).
  void LinkPresentation(RtspPresentation* p);
  void UnlinkPresentation(RtspPresentation* p);
  // Frees what the presentation owns (not the socket entry).
  static void FreePresentationParts(RtspPresentation& p);
  int32_t LowestFreeId() const;

  int32_t StepDescribe(RtspRequest& request);
  int32_t StepSetup(RtspRequest& request);
  int32_t StepPlay(RtspRequest& request);
  int32_t StepPause(RtspRequest& request);
  int32_t StepTeardown(RtspRequest& request);

  SocketLayer* sockets_;
  TaskScheduler* scheduler_;
  RtpSession* rtp_;
  RtspPresentation* list_ = nullptr;
  int32_t presentationCount_ = 0;
  char texts_[kRequestTextCount][kRequestTextSize] = {};
  uint8_t abortMarks_[2] = {};
  int32_t lastStatus_ = 0;
  char lastMessage_[256] = {};
  int32_t requestTimeout_ = 15000;
  int32_t teardownTimeout_ = 3750;

 private:
  static void TaskEntry(void* request);
  void OnHeader(RtspPresentation& p);
  void OnBodyPending(RtspPresentation& p);
  void OnBodyComplete(RtspPresentation& p);
  void ApplyRtpInfo(RtspPresentation& p);
  // The identification and access headers DESCRIBE and SETUP send.
  bool AddIdentityHeaders(RtspMessage& m);
  void ClearForDescribe(RtspPresentation& p);
  // Ends a presentation whose DESCRIBE failed: entry, list, memory.
  void DiscardPresentation(RtspPresentation* p);
  void ApplyRtcpIntervalAndSsrc(RtspPresentation& p);
  int32_t PlaySend(RtspRequest& request, RtspPresentation& p);
  void PlayFinish(RtspRequest& request, RtspPresentation& p);

  char host_[128] = {};
  int32_t port_ = 554;
  char16_t path_[128] = {};
  char urlBuffer_[512] = {};
  bool reserved_[2] = {};  // ids whose DESCRIBE is under way
  bool redirectPending_ = false;
  char* redirectUrl_ = nullptr;
  int32_t redirectCount_ = 0;

 public:
  bool RedirectPending() const { return redirectPending_; }
  const char* RedirectUrl() const { return redirectUrl_ ? redirectUrl_ : ""; }
};

// The session token: two characters per byte, each c - '0' up to '9' and
// c - 'A' beyond (decimal texts pack as BCD).
void PackSessionToken(const char* session, uint8_t token[8]);

// Joins a base URL and a control text with one '/' between them; false when
// the result does not fit.
bool JoinControlUrl(const char* base, const char* control, char* out, uint32_t size);
// A new session description's defaults (texts, origin with the current NTP
// time, range none, control "*", date).
void InitSessionDescription(SdpSessionDescription& session);

}  // namespace streaming
