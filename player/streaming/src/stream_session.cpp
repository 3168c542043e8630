#include "streaming/stream_session.h"

#include <cstring>
#include <new>

#include "streaming/text_util.h"

namespace streaming {

namespace {
constexpr char kStillImageName[] = "X-MP4V-IMAGE";
constexpr uint32_t kStillBuffered = 32767;
constexpr uint32_t kVideoSlots = 1024;
constexpr uint32_t kSpeechSlots = 256;

template <class T>
std::unique_ptr<T> Make(bool& ok) {
  std::unique_ptr<T> p(new (std::nothrow) T);
  if (!p) ok = false;
  return p;
}
}  // namespace

uint64_t PacketBufferBytes(uint32_t bufferMs, uint64_t totalBandwidth) {
  const uint64_t seconds = bufferMs / 1000;
  // A description without b=AS says nothing of its rate: the ring is made
  // for 2 Mbit/s rather than overwriting what was not read yet.
  const uint64_t perSecond = totalBandwidth == 0 ? kUnknownRateBytes : totalBandwidth <= 64000 ? 8000 : totalBandwidth / 8;
  return perSecond * seconds + 4096;
}

StreamSession::StreamSession(bool* ok, void (*tooLarge)(void*), void* tooLargeContext) {
  bool made = true;
  scheduler_ = Make<TaskScheduler>(made);
  CreateStreamClock();
  sockets_ = Make<SocketLayer>(made);
  if (sockets_) {
    rtp_.reset(new (std::nothrow) RtpSession(sockets_.get()));
    if (!rtp_) made = false;
    else rtp_->SetTooLargeCallback(tooLarge, tooLargeContext);
  }
  if (scheduler_ && rtp_) {
    bool clientOk = false;
    client_.reset(new (std::nothrow) RtspClient(sockets_.get(), scheduler_.get(), rtp_.get(), clientOk));
    if (!client_ || !clientOk) made = false;
  } else {
    made = false;
  }
  if (client_) {
    media_.reset(new (std::nothrow) MediaDataTask(client_.get(), rtp_.get(), sockets_.get()));
    if (!media_) made = false;
  }
  if (rtp_) rtp_->SetLock(&lock_);
  if (ok) *ok = made;
}

StreamSession::~StreamSession() {
  media_.reset();
  // The client ends its presentations while the reception still exists.
  client_.reset();
  rtp_.reset();
  sockets_.reset();
  DestroyStreamClock();
  scheduler_.reset();
}

uint32_t StreamSession::Start() {
  {
    std::lock_guard<std::mutex> hold(runLock_);
    if (stopPending_) {
      stopPending_ = false;
      return 1;
    }
    if (running_ || !media_) return 0;
    mediaTask_ = scheduler_->AddTask(&MediaDataTask::RunTask, media_.get(), +1);
    rtspTask_ = scheduler_->AddTask(&RtspClient::RunTask, client_.get(), -1);
    rtpTask_ = scheduler_->AddTask([](void* rtp) { static_cast<RtpSession*>(rtp)->Run(); }, rtp_.get(), -1);
    if (!mediaTask_ || !rtspTask_ || !rtpTask_) {
      for (uint32_t* id : {&mediaTask_, &rtspTask_, &rtpTask_}) {
        if (*id) scheduler_->RemoveTask(*id);
        *id = 0;
      }
      return 0;
    }
    running_ = true;
  }
  sockets_->SetFailed(false);
  sockets_->Startup();
  scheduler_->Run(0);
  sockets_->Cleanup();
  {
    std::lock_guard<std::mutex> hold(runLock_);
    running_ = false;
    stopPending_ = false;
  }
  return sockets_->failed() ? uint32_t(kResultSocketFailure) : 1u;
}

uint32_t StreamSession::Stop() {
  std::lock_guard<std::mutex> hold(runLock_);
  stopPending_ = true;
  if (!running_) return 1;
  for (uint32_t* id : {&mediaTask_, &rtspTask_, &rtpTask_}) {
    if (*id) scheduler_->RemoveTask(*id);
    *id = 0;
  }
  // The loop has not reset its flag yet when Start just began: Run keeps a
  // stop that came before it.
  scheduler_->Stop();
  return 1;
}

uint32_t StreamSession::SetClientInfo(const char* userAgent, const char* userNetwork, const char* deviceInfo) {
  const char* texts[kRequestTextCount] = {};
  for (uint32_t i = 0; i < kRequestTextCount; ++i) texts[i] = client_->HeaderValue(i);
  texts[0] = userAgent;
  texts[1] = userNetwork;
  texts[2] = deviceInfo;
  client_->SetHeaderValues(texts);
  return 1;
}

uint32_t StreamSession::SetAccessInfo(const char* user, const char* authentication, const char* expiration,
                                      const char* application, const char* extra, const char* signature) {
  const char* texts[kRequestTextCount] = {};
  for (uint32_t i = 0; i < kRequestTextCount; ++i) texts[i] = client_->HeaderValue(i);
  texts[4] = user;
  texts[5] = authentication;
  texts[6] = expiration;
  texts[7] = application;
  texts[8] = extra;
  texts[9] = signature;
  client_->SetHeaderValues(texts);
  return 1;
}

void StreamSession::ClearSlot(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return;
  slots_[presentation] = Slot{};
}

uint32_t StreamSession::Describe(int32_t* presentation, const char* url) {
  int32_t id = -1;
  const int32_t rc = client_->StartDescribe(id, url, nullptr, nullptr);
  if (presentation) *presentation = id;
  // Slots go by the client's id and count only what was described.
  if (rc == 1 && id >= 0 && id < kSessionSlots) {
    ClearSlot(id);
    if (openCount_ < kSessionSlots) ++openCount_;
  } else if (id >= 0 && id < kSessionSlots && !client_->FindPresentation(id)) {
    ClearSlot(id);
  }
  return uint32_t(rc);
}

uint32_t StreamSession::DescribeW(int32_t* presentation, const char16_t* url) {
  char narrow[kBaseUrlSize];
  uint32_t units = 0;
  while (url && url[units]) ++units;
  if (!url || units == 0) return kResultHostNotFound;
  // A URL that does not fit is refused, never cut.
  const uint32_t n = Utf16ToUtf8(url, units, narrow, sizeof narrow);
  if (n == 0 || n >= sizeof narrow) return kResultHostNotFound;
  narrow[n] = 0;
  return Describe(presentation, narrow);
}

void StreamSession::GetSdpText(int32_t presentation, uint32_t* length, const char** text) {
  const char* t = nullptr;
  uint32_t n = 0;
  if (client_->GetSdpText(presentation, t, n) == 0) return;
  if (length) *length = n;
  if (text) *text = t;
}

SdpSessionDescription* StreamSession::Session(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return nullptr;
  return client_->GetSessionDescription(presentation);
}

SdpMediaDescription* StreamSession::Media(int32_t presentation, int32_t media) {
  if (media < 0 || media >= client_->GetMediaCount(presentation) || media >= int32_t(kMaxSdpMedia)) return nullptr;
  SdpMediaDescription* const* list = client_->GetMediaList(presentation);
  return list ? list[media] : nullptr;
}

bool StreamSession::IsStill(const SdpMediaDescription* media) {
  return media && std::strncmp(RefStringText(media->encodingName), kStillImageName, 12) == 0;
}

int32_t StreamSession::Track(int32_t presentation, int32_t media) const {
  if (presentation < 0 || presentation >= kSessionSlots || media < 0 || media >= kSessionMediaLimit) return -1;
  const int32_t t = slots_[presentation].trackOf[media];
  return t >= 0 && t < int32_t(kClientTrackCount) ? t : -1;
}

int32_t StreamSession::TrackOf(int32_t presentation, int32_t media) const { return Track(presentation, media); }

int32_t StreamSession::GetMediaCount(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return -1;
  return client_->GetMediaCount(presentation);
}

const char* StreamSession::GetMediaCodecName(int32_t presentation, int32_t media) {
  SdpMediaDescription* m = Media(presentation, media);
  return m ? Text(m->encodingName) : nullptr;
}

int32_t StreamSession::GetMediaBandwidth(int32_t presentation, int32_t media) {
  SdpMediaDescription* m = Media(presentation, media);
  return m ? m->bandwidth : -1;
}

uint32_t StreamSession::GetMediaClockRate(int32_t presentation, int32_t media) {
  SdpMediaDescription* m = Media(presentation, media);
  return m && m->clockRate > 0 ? uint32_t(m->clockRate) : 0;
}

int32_t StreamSession::GetMediaDependsOn(int32_t presentation, int32_t media) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  if (media < 0 || media >= GetMediaCount(presentation)) return kSessionBadMedia;
  SdpMediaDescription* m = Media(presentation, media);
  return m ? m->dependsOnTrack : -1;
}

double StreamSession::GetMediaFrameRate(int32_t presentation, int32_t media) {
  if (presentation < 0 || presentation >= kSessionSlots) return -1.0;
  SdpMediaDescription* m = Media(presentation, media);
  return m ? m->GetFrameRate() : -1.0;
}

uint32_t StreamSession::GetMediaConfig(int32_t presentation, int32_t media, const uint8_t** data, uint32_t* size) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  SdpMediaDescription* m = Media(presentation, media);
  if (IsStill(m)) {
    if (data) *data = client_->GetStillImageData(presentation);
    if (size) *size = client_->GetStillImageLength(presentation);
    return 1;
  }
  if (!m || Track(presentation, media) < 0) return kSessionBadMedia;
  if (data) *data = m->GetConfigBytes();
  if (size) *size = m->GetConfigLength();
  return 1;
}

int32_t StreamSession::GetRangeStart(int32_t presentation) {
  uint32_t start = 0, end = 0;
  if (presentation < 0 || presentation >= kSessionSlots) return -1;
  return client_->GetSessionRangeMs(presentation, start, end) == 0 ? int32_t(start) : -1;
}

int32_t StreamSession::GetRangeEnd(int32_t presentation) {
  uint32_t start = 0, end = 0;
  if (presentation < 0 || presentation >= kSessionSlots) return -1;
  return client_->GetSessionRangeMs(presentation, start, end) == 0 ? int32_t(end) : -1;
}

const char* StreamSession::GetTitle(int32_t presentation) {
  SdpSessionDescription* s = Session(presentation);
  return s ? Text(s->sessionName) : nullptr;
}
const char* StreamSession::GetDescription(int32_t presentation) {
  SdpSessionDescription* s = Session(presentation);
  return s ? Text(s->sessionInformation) : nullptr;
}
const char* StreamSession::GetAuthor(int32_t presentation) {
  SdpSessionDescription* s = Session(presentation);
  return s ? Text(s->author) : nullptr;
}
const char* StreamSession::GetCopyright(int32_t presentation) {
  SdpSessionDescription* s = Session(presentation);
  return s ? Text(s->copyright) : nullptr;
}
const char* StreamSession::GetRating(int32_t presentation) {
  SdpSessionDescription* s = Session(presentation);
  return s ? Text(s->rating) : nullptr;
}

uint32_t StreamSession::SelectMedia(int32_t presentation, int32_t media) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  if (client_->SetMediaLimit(presentation, kSessionMediaLimit) < 0) return kSessionBadPresentation;
  Slot& slot = slots_[presentation];
  slot.mediaCount = client_->GetMediaCount(presentation);
  SdpMediaDescription* m = Media(presentation, media);
  if (!m || media >= kSessionMediaLimit) return kSessionBadMedia;
  if (IsStill(m)) return 1;
  if (slot.trackOf[media] >= 0) return 1;  // already selected: keeps its number
  if (slot.nextTrack >= int32_t(kClientTrackCount)) return kSessionBadTrack;
  slot.trackOf[media] = slot.nextTrack++;
  client_->SetTrackMap(presentation, slot.trackOf);
  return 1;
}

uint32_t StreamSession::SetupMedia(int32_t presentation, int32_t media, uint32_t maxFrameSize, uint32_t,
                                   void* completion) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  SdpMediaDescription* m = Media(presentation, media);
  const bool still = IsStill(m);
  const int32_t track = still ? 0 : Track(presentation, media);
  if (!m || track < 0) return kSessionBadMedia;
  if (!still) slots_[presentation].maxFrameSize[track] = maxFrameSize;
  auto* async = static_cast<SessionCompletion*>(completion);
  return uint32_t(client_->StartSetup(presentation, track, media, RefStringText(m->control),
                                      async ? async->callback : nullptr, async ? &async->block : nullptr));
}

uint32_t StreamSession::SetBufferTime(int32_t presentation, uint32_t* prerollMs) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  if (prerollMs && *prerollMs == 0) *prerollMs = uint32_t(client_->GetBufferTime(presentation));
  slots_[presentation].bufferTimeMs = prerollMs ? *prerollMs : 0;
  return 1;
}

uint32_t StreamSession::CreateTrackReceivers(int32_t presentation, uint32_t bufferMs) {
  if (presentation < 0 || presentation >= kSessionSlots || !client_->FindPresentation(presentation))
    return kSessionBadPresentation;
  Slot& slot = slots_[presentation];
  const int32_t count = client_->GetMediaCount(presentation);
  uint64_t bandwidth = 0;
  for (int32_t i = 0; i < count; ++i) {
    if (SdpMediaDescription* m = Media(presentation, i))
      if (m->bandwidth > 0) bandwidth += uint64_t(m->bandwidth);
  }
  const uint64_t bytes = PacketBufferBytes(bufferMs, bandwidth);
  if (bytes > kPacketBufferCap) return kSessionNoMemory;
  // Below this the server is asked to send faster, above it slower.
  const uint32_t low = slot.bufferTimeMs / 4;
  const uint32_t high = bufferMs > low ? bufferMs - low : bufferMs;
  rtp_->RemoveRecord(presentation);
  if (rtp_->AddRecord(presentation, uint32_t(bytes), low, high) != kResultDone) return kSessionNoMemory;
  rtp_->SetBufferTime(presentation, slot.bufferTimeMs);
  slot.receivers = true;
  const RtspPresentation* p = client_->FindPresentation(presentation);
  for (int32_t i = 0; i < count && i < kSessionMediaLimit; ++i) {
    const int32_t t = Track(presentation, i);
    if (t < 0) continue;
    SdpMediaDescription* m = Media(presentation, i);
    const char* name = RefStringText(m->encodingName);
    int32_t kind;
    uint32_t slotCount;
    if (std::strcmp(name, "MP4V-ES") == 0) {
      kind = kPayloadMpeg4;
      slotCount = kVideoSlots;
    } else if (std::strcmp(name, "H263-1998") == 0 || std::strcmp(name, "H263-2000") == 0) {
      kind = kPayloadH263;
      slotCount = kVideoSlots;
    } else if (std::strcmp(name, "AMR") == 0) {
      kind = kPayloadAmr;
      slotCount = kSpeechSlots;
    } else if (std::strcmp(name, "EVRC") == 0) {
      kind = kPayloadEvrc;
      slotCount = kSpeechSlots;
    } else {
      return kSessionUnsupportedCodec;
    }
    const uint32_t capacity = slot.maxFrameSize[t] ? slot.maxFrameSize[t] : 60000;
    const bool fixed = p && p->ssrcLearned[t];
    const uint32_t ssrc = fixed ? p->learnedSsrc[t] : 0;
    int32_t rc = rtp_->SetTrackKind(presentation, uint32_t(t), kind, uint8_t(m->payloadType), capacity);
    if (rc == kResultDone) rc = rtp_->SetClockRate(presentation, uint32_t(t), GetMediaClockRate(presentation, i));
    if (rc == kResultDone) rc = rtp_->SetSlots(presentation, uint32_t(t), slotCount, ssrc, fixed);
    if (rc == kResultDone) {
      sockets_->SetProbeToken(presentation, uint32_t(t), ssrc);
      rc = rtp_->SetSlotArray(presentation, uint32_t(t));
    }
    if (rc != kResultDone) return uint32_t(rc);
  }
  return 1;
}

uint32_t StreamSession::CloseTrackReceivers(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  slots_[presentation].receivers = false;
  return uint32_t(rtp_->RemoveRecord(presentation));
}

uint32_t StreamSession::Play(int32_t presentation, uint32_t startMs, uint32_t endMs, uint32_t, void* completion) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  uint32_t start = GetStreamClockTime();
  if (PresentationSockets* e = sockets_->FindEntry(presentation))
    if (e->startTime) start = e->startTime;
  // The end is the smaller of the description's and the request's.
  int32_t end = GetRangeEnd(presentation);
  if (end < 0 || (endMs <= 0x7FFFFFFFu && int32_t(endMs) < end)) end = int32_t(endMs);
  if (end == -1) end = 0;
  rtp_->SetPlaying(presentation, start, uint32_t(end), client_->IsKrssServer(presentation));
  rtp_->SetPaused(presentation, false);
  sockets_->ClearEnded(presentation);
  auto* async = static_cast<SessionCompletion*>(completion);
  const int32_t endArg = endMs >= 0x7FFFFFFFu ? -1 : int32_t(endMs);
  return uint32_t(client_->StartPlay(presentation, int32_t(startMs), endArg, async ? async->callback : nullptr,
                                     async ? &async->block : nullptr));
}

uint32_t StreamSession::Pause(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  rtp_->SetPaused(presentation, true);
  return uint32_t(client_->StartPause(presentation, nullptr, nullptr));
}

uint32_t StreamSession::Resume(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  rtp_->SetPaused(presentation, false);
  return uint32_t(client_->StartResume(presentation, nullptr, nullptr));
}

uint32_t StreamSession::PauseIfPlaying(int32_t presentation) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  return uint32_t(client_->StartPauseIfPlaying(presentation, nullptr, nullptr));
}

uint32_t StreamSession::Teardown(int32_t presentation) {
  // The count goes down for an unknown presentation too, never below 0.
  if (openCount_ > 0) --openCount_;
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  const uint32_t rc = uint32_t(client_->StartTeardown(presentation, nullptr, nullptr));
  ClearSlot(presentation);
  return rc;
}

uint32_t StreamSession::GetBufferedDuration(int32_t presentation, int32_t media) {
  if (presentation < 0 || presentation >= kSessionSlots || media < 0 || media >= kSessionMediaLimit) return 0;
  if (IsStill(Media(presentation, media))) return kStillBuffered;
  const int32_t t = Track(presentation, media);
  if (t < 0) return 0;
  return rtp_->GetBufferedDuration(presentation, uint32_t(t));
}

uint32_t StreamSession::GetLossPercent(int32_t presentation, int32_t media) {
  const int32_t t = Track(presentation, media);
  if (t < 0) return 0;
  const int32_t loss = rtp_->GetLossPercent(presentation, uint32_t(t));
  return loss > 0 ? uint32_t(loss) : 0;
}

uint32_t StreamSession::GetPacketsReceived(int32_t presentation, int32_t media) {
  const int32_t t = Track(presentation, media);
  if (t < 0) return 0;
  std::lock_guard<std::mutex> hold(lock_);
  const TrackState* state = nullptr;
  return rtp_->ReadTrack(presentation, uint32_t(t), state) && state ? state->received : 0;
}

uint32_t StreamSession::PeekNextFrame(int32_t presentation, int32_t media, uint32_t* timestamp, uint32_t* size) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  if (IsStill(Media(presentation, media))) {
    if (timestamp) *timestamp = 0;
    if (size) *size = 0;
    return 1;
  }
  if (media < 0 || media >= GetMediaCount(presentation)) return kSessionBadTrack;
  const int32_t t = Track(presentation, media);
  if (t < 0) return kSessionBadTrack;
  uint32_t time = 0, word = 0;
  const int32_t rc = rtp_->PeekFrame(presentation, uint32_t(t), time, word);
  if (timestamp) *timestamp = time;
  if (size) *size = word;
  return uint32_t(rc);
}

uint32_t StreamSession::GetNextFrame(int32_t presentation, int32_t media, uint8_t* buffer, uint32_t* length,
                                     uint32_t* timestamp) {
  if (presentation < 0 || presentation >= kSessionSlots) return kSessionBadPresentation;
  if (!length || !timestamp) return 0;
  if (IsStill(Media(presentation, media)))
    return uint32_t(client_->GetStillImageFrame(presentation, buffer, *length, *timestamp));
  if (media < 0 || media >= GetMediaCount(presentation)) return kSessionBadTrack;
  const int32_t t = Track(presentation, media);
  if (t < 0) return kSessionBadTrack;
  return uint32_t(rtp_->GetFrame(presentation, uint32_t(t), buffer, *length, *timestamp));
}

void StreamSession::GetLastStatus(int32_t presentation, uint32_t* statusCode, const char** reason) {
  int32_t status = 0;
  const char* message = nullptr;
  client_->GetLastStatus(presentation, status, message);
  if (statusCode) *statusCode = uint32_t(status);
  if (reason) *reason = message;
}

const char* StreamSession::GetConnectionAddress(int32_t presentation) {
  // Empty when the description names no address at its session level (the
  // parser's default is the unspecified 0.0.0.0): the stream source takes
  // that as a server whose clips it can play.
  const char* a = client_->GetConnectionAddress(presentation);
  return a && std::strcmp(a, "0.0.0.0") != 0 ? a : "";
}

void StreamSession::GetContentVersion(int32_t presentation, uint8_t* major, uint8_t* minor) {
  uint8_t a = 0, b = 0;
  client_->GetContentVersion(presentation, a, b);
  if (major) *major = a;
  if (minor) *minor = b;
}

uint32_t StreamSession::GetH263Params(int32_t presentation, int32_t media, uint32_t* profile, uint32_t* level) {
  uint32_t a = 0, b = 0;
  const int32_t rc = client_->GetH263Params(presentation, media, a, b);
  if (profile) *profile = a;
  if (level) *level = b;
  return uint32_t(rc);
}

uint32_t StreamSession::ResetPresentation(int32_t presentation) {
  return uint32_t(rtp_->ResetPresentation(presentation));
}

void StreamSession::SetTimeoutsForTest(int32_t requestMs, int32_t teardownMs, uint32_t probeMs) {
  client_->SetTimeoutsForTest(requestMs, teardownMs);
  sockets_->SetProbeInterval(probeMs);
}

}  // namespace streaming
