// The request cycle and the RTSP task of the client.
#include "streaming/rtsp_client.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/os.h"

namespace streaming {

namespace {

constexpr RtspToken kServer = MakeToken("Server");
constexpr RtspToken kLocation = MakeToken("Location");
constexpr RtspToken kContentLocation = MakeToken("Content-Location");
constexpr RtspToken kRtcpInterval = MakeToken("RTCP-Interval");
constexpr uint32_t kLocationMax = 255;

// Copies a token into a fixed field; false (nothing written) when it is
// longer than max: over-long values are ignored, never cut.
bool CopyWhole(const RtspToken& t, char* out, uint32_t max) {
  if (t.length > max) return false;
  std::memcpy(out, t.text, t.length);
  out[t.length] = 0;
  return true;
}

int32_t TokenDecimal(const RtspToken& t) {
  char text[16];
  const uint32_t n = t.length < sizeof text - 1 ? t.length : sizeof text - 1;
  std::memcpy(text, t.text, n);
  text[n] = 0;
  return std::atoi(text);
}

bool StartsWith(const char* text, uint32_t length, const char* prefix, uint32_t prefixLength) {
  return length >= prefixLength && std::memcmp(text, prefix, prefixLength) == 0;
}

}  // namespace

bool JoinControlUrl(const char* base, const char* control, char* out, uint32_t size) {
  const size_t b = std::strlen(base);
  const bool baseSlash = b && base[b - 1] == '/';
  const bool controlSlash = control[0] == '/';
  const char* rest = control;
  const char* middle = "";
  if (baseSlash && controlSlash) {
    rest = control + 1;
  } else if (!baseSlash && !controlSlash) {
    middle = "/";
  }
  const int n = std::snprintf(out, size, "%s%s%s", base, middle, rest);
  return n >= 0 && uint32_t(n) < size;
}

RtspClient::RtspClient(SocketLayer* sockets, TaskScheduler* scheduler, RtpSession* rtp, bool& ok)
    : sockets_(sockets), scheduler_(scheduler), rtp_(rtp) {
  ok = true;
}

RtspClient::~RtspClient() {
  // Presentations belong to TEARDOWN; whatever is left goes with the client.
  while (list_) {
    RtspPresentation* p = list_;
    list_ = p->next;
    FreePresentationParts(*p);
    delete p;
  }
  std::free(redirectUrl_);
}

int32_t RtspClient::SetHeaderValues(const char* const texts[kRequestTextCount]) {
  const bool authentication = texts[5] != nullptr;
  for (uint32_t i = 0; i < kRequestTextCount; ++i) {
    if (texts[i]) {
      std::snprintf(texts_[i], kRequestTextSize, "%s", texts[i]);
    } else if (!(authentication && i < 3)) {
      texts_[i][0] = 0;
    }
  }
  return 1;
}

RtspPresentation* RtspClient::FindPresentation(int32_t id) {
  for (RtspPresentation* p = list_; p; p = p->next) {
    if (p->id == id) return p;
  }
  return nullptr;
}

int32_t RtspClient::LowestFreeId() const {
  for (int32_t id = 0; id < 2; ++id) {
    bool taken = reserved_[id];
    for (const RtspPresentation* p = list_; p; p = p->next) taken |= p->id == id;
    if (!taken) return id;
  }
  return -1;
}

void RtspClient::LinkPresentation(RtspPresentation* p) {
  std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
  p->next = nullptr;
  RtspPresentation** tail = &list_;
  while (*tail) tail = &(*tail)->next;
  *tail = p;
  ++presentationCount_;
}

void RtspClient::UnlinkPresentation(RtspPresentation* p) {
  std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
  for (RtspPresentation** q = &list_; *q; q = &(*q)->next) {
    if (*q == p) {
      *q = p->next;
      --presentationCount_;
      return;
    }
  }
}

void RtspClient::FreePresentationParts(RtspPresentation& p) {
  delete[] p.sdpText;
  p.sdpText = nullptr;
  delete[] p.stillImage;
  p.stillImage = nullptr;
  p.stillImageValid = false;
  delete[] p.serverMessage;
  p.serverMessage = nullptr;
  delete p.description;
  p.description = nullptr;
}

// ---- receive link -------------------------------------------------------

int32_t RtspClient::GetReceiveWindow(int32_t id, uint8_t*& window, uint32_t& length) {
  RtspPresentation* p = FindPresentation(id);
  if (!p) return 0;
  if (p->lastEvent != kEventNeedBytes) return kResultPending;
  if (!p->reader.GetReceiveWindow(window, length)) return 0;
  p->messageBegun = false;
  return 1;
}

void RtspClient::CommitReceived(int32_t id, uint32_t bytes) {
  if (RtspPresentation* p = FindPresentation(id)) p->reader.Commit(bytes);
}

// ---- the RTSP task ------------------------------------------------------

int32_t RtspClient::Run() {
  std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
  if (!list_) return 1;
  for (RtspPresentation* p = list_; p; p = p->next) {
    p->lastEvent = p->reader.Step();
    switch (p->lastEvent) {
      case kEventIdle:
        p->response.Reset();
        p->reader.Begin(p->response);
        p->messageBegun = true;
        break;
      case kEventHeader:
        OnHeader(*p);
        break;
      case kEventBodyPending:
        OnBodyPending(*p);
        break;
      case kEventBodyComplete:
        OnBodyComplete(*p);
        break;
      case kEventHeaderTooLong:
        HandleResponse(p->id, p->state, p->request.method, p->response.status / 100 - 2, 0);
        p->result = 0;
        break;
      default:
        break;
    }
  }
  return 1;
}

void RtspClient::OnHeader(RtspPresentation& p) {
  RtspMessage& m = p.response;
  if (m.parseError != kParseOk) {
    p.result = 0;
    p.responseComplete = true;
    return;
  }
  HandleResponse(p.id, p.state, p.request.method, m.status / 100 - 2, m.cseq);
  if (m.kind == kRequest && m.method == kMethodEndOfStream) {
    sockets_->SetEnded(p.id);
    if (rtp_) rtp_->RequestReportNow(p.id);
  }
  const bool body = m.hasContentLength && m.contentLength > 0;
  if (m.kind == kResponse && m.status == 200) {
    p.result = 1;
    ++p.cseq;
    if (m.hasSession && !p.sessionText[0]) {
      const uint32_t n = m.session.length < kSessionTextSize - 1 ? m.session.length : kSessionTextSize - 1;
      std::memcpy(p.sessionText, m.session.text, n);
      p.sessionText[n] = 0;
      p.sessionKnown = true;
    }
    if (m.hasBuffersize) p.bufferTime = m.buffersize;
    p.answerHasRange = m.hasRange;
    p.answerRange = m.range;
    p.answerHasTransport = m.transportCount > 0;
    if (p.answerHasTransport) p.answerTransport = m.transports[0];
    delete[] p.serverMessage;
    p.serverMessage = nullptr;
    p.lastStatus = lastStatus_ = 200;
    const uint32_t n = m.reasonPhrase.length < sizeof lastMessage_ - 1 ? m.reasonPhrase.length : sizeof lastMessage_ - 1;
    std::memcpy(lastMessage_, m.reasonPhrase.text, n);
    lastMessage_[n] = 0;
    ApplyRtpInfo(p);
    ApplyRtcpIntervalAndSsrc(p);
    if (const RtspToken* server = m.FindHeader(kServer)) {
      if (StartsWith(server->text, server->length, "KRSS", 4)) p.serverIsKrss = true;
    }
    if (redirectPending_) {
      std::free(redirectUrl_);
      redirectUrl_ = nullptr;
      redirectPending_ = false;
    }
    if (!body) p.responseComplete = true;
    return;
  }
  // A failed answer, or a request from the server (END_OF_STREAM).
  const int32_t status = m.kind == kResponse ? m.status : 0;
  p.lastStatus = lastStatus_ = status;
  if (status >= 300 && status <= 399) {
    const RtspToken* location = m.FindHeader(kLocation);
    char* copy = nullptr;
    if (location && location->length <= kLocationMax) {
      copy = static_cast<char*>(std::malloc(location->length + 1));
      if (copy) CopyWhole(*location, copy, kLocationMax);
    }
    if (copy) {
      std::free(redirectUrl_);
      redirectUrl_ = copy;
      redirectPending_ = true;
    } else {
      redirectPending_ = false;
    }
  } else if (redirectPending_) {
    std::free(redirectUrl_);
    redirectUrl_ = nullptr;
    redirectPending_ = false;
  }
  if (!body) {
    p.responseComplete = true;
    p.result = 0;
  }
}

void RtspClient::OnBodyPending(RtspPresentation& p) {
  RtspMessage& m = p.response;
  // The reader checked the length against its limit; +1 cannot wrap.
  const uint32_t length = p.reader.bodyLength();
  if (m.status != 200) {
    delete[] p.serverMessage;
    p.serverMessage = new (std::nothrow) char[length + 1];
    if (!p.serverMessage) {
      p.result = kResultNoMemory;
      return;
    }
    p.serverMessage[length] = 0;
    const BodyFragment f{length, reinterpret_cast<uint8_t*>(p.serverMessage)};
    p.result = p.reader.SetBodyTarget(&f, 1) ? 1 : 0;
    return;
  }
  if (p.request.method == kMethodDescribe) {
    const RtspToken* base = m.hasContentBase ? &m.contentBase : m.FindHeader(kContentLocation);
    if (base && CopyWhole(*base, p.baseUrl, kBaseUrlSize - 1)) p.contentBaseSet = true;
    delete[] p.sdpText;
    p.sdpText = new (std::nothrow) char[length + 1];
    if (!p.sdpText) {
      p.result = kResultNoMemory;
      return;
    }
    p.sdpText[length] = 0;
    p.sdpLength = length;
    const BodyFragment f{length, reinterpret_cast<uint8_t*>(p.sdpText)};
    p.result = p.reader.SetBodyTarget(&f, 1) ? 1 : 0;
  } else if (p.request.method == kMethodGetParameter) {
    delete[] p.stillImage;
    p.stillImage = new (std::nothrow) uint8_t[length ? length : 1];
    if (!p.stillImage) {
      p.result = kResultNoMemory;
      return;
    }
    p.stillImageLength = length;
    const BodyFragment f{length, p.stillImage};
    p.result = p.reader.SetBodyTarget(&f, 1) ? 1 : 0;
  } else {
    // A body nobody keeps is read into nothing.
    p.result = p.reader.SetBodyTarget(nullptr, 0) ? 1 : 0;
  }
}

void RtspClient::OnBodyComplete(RtspPresentation& p) {
  RtspMessage& m = p.response;
  if (m.status == 200 && p.request.method == kMethodDescribe) {
    if (!p.description) p.description = new (std::nothrow) SdpSessionDescription;
    if (!p.description) {
      p.result = kResultNoMemory;
    } else {
      InitSessionDescription(*p.description);
      const int32_t rc = ParseSdp(p.sdpParser, p.sdpText, p.sdpLength, *p.description);
      p.descriptionParsed = rc == 0;
      p.result = p.descriptionParsed ? 1 : kResultBadSdp;
    }
    p.responseComplete = true;
    return;
  }
  if (m.status == 200 && p.request.method == kMethodGetParameter) {
    p.stillImageValid = true;
    p.result = 1;
    p.responseComplete = true;
    return;
  }
  if (p.request.method == kMethodGetParameter) p.stillImageValid = false;
  if (m.status != 200) {
    lastStatus_ = m.status;
    if (p.serverMessage) {
      const uint32_t max = p.reader.bodyLength() >= 256 ? 254 : 255;
      std::snprintf(lastMessage_, sizeof lastMessage_, "%.*s", int(max), p.serverMessage);
    }
    p.result = 0;
  }
  p.responseComplete = true;
}

void RtspClient::ApplyRtpInfo(RtspPresentation& p) {
  RtspMessage& m = p.response;
  if (!p.description || !p.trackMap) return;
  const int32_t count = GetMediaCount(p.id);
  for (uint32_t e = 0; e < m.rtpInfoCount; ++e) {
    const RtpInfoEntry& info = m.rtpInfo[e];
    if (!info.hasUrl) continue;
    for (int32_t i = 0; i < count; ++i) {
      SdpMediaDescription* media = p.description->media[i];
      if (!media) continue;
      const char* control = RefStringText(media->control);
      bool match = std::strncmp(control, info.url.text, info.url.length) == 0 &&
                   std::strlen(control) >= info.url.length;
      if (!match && StartsWith(info.url.text, info.url.length, "rtsp", 4) &&
          std::strlen(p.baseUrl) < kBaseUrlSize) {
        char joined[2 * kBaseUrlSize];
        if (JoinControlUrl(p.baseUrl, control, joined, sizeof joined)) {
          const size_t n = std::strlen(joined);
          match = n <= info.url.length && std::memcmp(info.url.text, joined, n) == 0;
        }
      }
      if (!match) continue;
      const int32_t t = p.trackMap[i];
      if (t < 0 || t >= int32_t(kClientTrackCount)) continue;
      ClientTrackSync& s = p.tracks[t];
      s.seqPresent = info.hasSeq;
      s.seq = info.seq;
      s.rtptimePresent = info.hasRtptime;
      s.rtptime = info.rtptime;
      s.clockRate = uint32_t(media->clockRate);
    }
  }
}

void RtspClient::ApplyRtcpIntervalAndSsrc(RtspPresentation& p) {
  if (!p.trackMap) return;
  const RtspToken* interval = p.response.FindHeader(kRtcpInterval);
  const int32_t count = GetMediaCount(p.id);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t t = p.trackMap[i];
    if (t < 0 || t >= int32_t(kClientTrackCount)) continue;
    if (interval) p.tracks[t].rtcpInterval = TokenDecimal(*interval);
    if (p.request.method == kMethodPlay && p.ssrcLearned[t]) {
      p.tracks[t].ssrc = p.learnedSsrc[t];
      p.tracks[t].ssrcPresent = true;
    }
  }
}

int32_t RtspClient::HandleResponse(int32_t id, int32_t, int32_t method, int32_t statusClass, int32_t) {
  RtspPresentation* p = FindPresentation(id);
  if (!p) return 0;
  int32_t methodClass;
  switch (method) {
    case kMethodPause: methodClass = 0; break;
    case kMethodPlay: methodClass = 1; break;
    case kMethodSetup: methodClass = 2; break;
    case kMethodTeardown: methodClass = 3; break;
    default: methodClass = 4; break;
  }
  if (statusClass != 0 || methodClass == 4) return 1;
  static const int8_t kNext[4][4] = {
      // PAUSE, PLAY, SETUP, TEARDOWN
      {kStateInit, kStateInit, kStateReady, kStateInit},
      {kStateReady, kStatePlaying, kStateReady, kStateInit},
      {kStateReady, kStatePlaying, kStatePlaying, kStateInit},
      {kStateReady, kStateRecording, kStateRecording, kStateInit},
  };
  if (p->state >= 0 && p->state < 4) p->state = kNext[p->state][methodClass];
  return 1;
}

// ---- the request cycle --------------------------------------------------

void RtspClient::TaskEntry(void* context) {
  auto* r = static_cast<RtspRequest*>(context);
  (r->client->*r->function)(*r);
}

int32_t RtspClient::StartRequest(RtspRequest* r, CompletionCallback callback, RequestCompletion* block,
                                 int32_t syncTimeoutMs) {
  r->client = this;
  r->startTime = GetStreamClockTime();
  if (callback) {
    r->callback = callback;
    if (block) r->block = *block;
    // Under the lock, so the task cannot run (and complete) before its id
    // is known to it.
    std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
    r->taskId = scheduler_->AddTask(&RtspClient::TaskEntry, r, -1);
    if (!r->taskId) {
      delete r;
      return 0;
    }
    return 1;
  }
  r->block.timeoutMs = syncTimeoutMs;
  int32_t rc;
  int32_t result;
  for (;;) {
    {
      // The step runs under the scheduler's lock, so the RTSP task never
      // sees a presentation half changed or freed.
      std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
      rc = (this->*r->function)(*r);
      if (rc != 0) {
        // TEARDOWN (and a request whose presentation went) answer through
        // the block: the presentation is gone.
        const RtspPresentation* p = rc == -1 ? nullptr : FindPresentation(r->presentation);
        result = p ? p->result : r->block.result;
        break;
      }
    }
    platform::sleepMs(5);
  }
  if (block) *block = r->block;
  delete r;
  return result;
}

int32_t RtspClient::GoneStep(RtspRequest& r) {
  r.block.presentation = r.presentation;
  r.block.result = 0;
  r.block.status = 0;
  r.block.serverMessage = nullptr;
  r.block.timedOut = 0;
  if (r.callback) {
    r.callback(&r.block);
    scheduler_->RemoveTask(r.taskId);
    delete &r;
  }
  return -1;
}

bool RtspClient::SendRequest(RtspPresentation& p) {
  if (!p.request.Compose()) return false;
  return sockets_->Send(p.id, p.request.composedText(), p.request.composedLength()) == kResultDone;
}

int32_t RtspClient::WaitCheck(RtspRequest& r, RtspPresentation& p, bool abortCounts) {
  const uint32_t elapsed = GetStreamClockTime() - r.startTime;
  const bool timedOut = int64_t(elapsed) > int64_t(r.block.timeoutMs);
  const bool aborted = abortCounts && p.id >= 0 && p.id < 2 && abortMarks_[p.id];
  if (aborted) {
    p.result = 0;
    if (!p.responseComplete && !timedOut) return 2;
    return 1;
  }
  if (!p.responseComplete && !timedOut) return 0;
  if (timedOut && !p.responseComplete) {
    p.result = kResultTimeout;
    p.lastStatus = 408;
    r.block.timedOut = 1;
  }
  return 1;
}

void RtspClient::Complete(RtspRequest& r, const RtspPresentation* p, int32_t result) {
  CompleteWith(r, result, p ? p->lastStatus : 0, p ? p->serverMessage : nullptr);
}

void RtspClient::CompleteWith(RtspRequest& r, int32_t result, int32_t status, const char* message) {
  r.block.presentation = r.presentation;
  r.block.result = result;
  r.block.status = status;
  r.block.serverMessage = message;
  if (r.callback) {
    r.callback(&r.block);
    scheduler_->RemoveTask(r.taskId);
    delete &r;
  }
}

void RtspClient::Drop(RtspRequest& r) {
  if (r.callback) {
    scheduler_->RemoveTask(r.taskId);
    delete &r;
  }
}

bool RtspClient::AggregateUrl(RtspPresentation& p, char* out, uint32_t size) const {
  const char* control = p.description ? RefStringText(p.description->sessionControl) : "";
  bool ok;
  if (p.contentBaseSet && control[0] && control[0] != '*') {
    ok = JoinControlUrl(p.baseUrl, control, out, size);
  } else {
    ok = std::snprintf(out, size, "%s", p.baseUrl) < int(size);
  }
  const size_t n = std::strlen(out);
  if (n && out[n - 1] == '/') out[n - 1] = 0;
  return ok;
}

uint32_t RtspClient::SessionValue(const RtspPresentation& p, char* out, uint32_t size) {
  std::snprintf(out, size, "%s", p.sessionText);
  if (std::strstr(out, "timeout")) {
    if (char* semi = std::strchr(out, ';')) *semi = 0;
  }
  return uint32_t(std::strlen(out));
}

// ---- lookups ------------------------------------------------------------

int32_t RtspClient::GetState(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p ? p->state : -1;
}

const ClientTrackSync* RtspClient::GetTrackSync(int32_t id, uint32_t track) {
  RtspPresentation* p = FindPresentation(id);
  return p && track < kClientTrackCount ? &p->tracks[track] : nullptr;
}

bool RtspClient::SetTrackMap(int32_t id, const int32_t* map) {
  RtspPresentation* p = FindPresentation(id);
  if (!p) return false;
  p->trackMap = map;
  return true;
}

int32_t RtspClient::GetMediaCount(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  if (!p) return -1;
  if (!p->descriptionParsed || !p->description) return 0;
  const int32_t n = p->description->mediaCount;
  return p->sdpParser.mediaLimit > 0 && p->sdpParser.mediaLimit < n ? p->sdpParser.mediaLimit : n;
}

int32_t RtspClient::SetMediaLimit(int32_t id, int32_t limit) {
  RtspPresentation* p = FindPresentation(id);
  if (!p) return -1;
  p->sdpParser.mediaLimit = limit;
  return limit;
}

SdpSessionDescription* RtspClient::GetSessionDescription(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p ? p->description : nullptr;
}

SdpMediaDescription* const* RtspClient::GetMediaList(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p && p->description ? p->description->media : nullptr;
}

int32_t RtspClient::GetBufferTime(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return !p || p->bufferTime < 1 ? int32_t(kDefaultBufferTimeMs) : p->bufferTime;
}

int32_t RtspClient::GetLastStatus(int32_t id, int32_t& status, const char*& message) {
  if (RtspPresentation* p = FindPresentation(id)) {
    status = p->lastStatus;
    message = p->serverMessage;
    return 1;
  }
  status = lastStatus_;
  message = lastMessage_;
  return 0;
}

uint32_t RtspClient::GetSdpText(int32_t id, const char*& text, uint32_t& length) {
  RtspPresentation* p = FindPresentation(id);
  if (!p) return 0;
  text = p->sdpText;
  length = p->sdpLength;
  return p->sdpLength;
}

bool RtspClient::IsKrssServer(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p && p->serverIsKrss;
}

int32_t RtspClient::GetContentVersion(int32_t id, uint8_t& major, uint8_t& minor) {
  major = minor = 0;
  RtspPresentation* p = FindPresentation(id);
  if (!p || !p->description) return 0;
  major = uint8_t(p->description->contentVersion >> 8);
  minor = uint8_t(p->description->contentVersion & 0xFF);
  return 1;
}

int32_t RtspClient::GetSessionRangeMs(int32_t id, uint32_t& startMs, uint32_t& endMs) {
  startMs = endMs = 0;
  RtspPresentation* p = FindPresentation(id);
  if (!p || !p->description) return -1;
  if (RangeToMilliseconds(p->description->range, startMs, endMs) != 0) {
    startMs = endMs = 0;
    return -1;
  }
  return 0;
}

int32_t RtspClient::GetMediaRangeMs(int32_t id, int32_t media, uint32_t& startMs, uint32_t& endMs) {
  startMs = endMs = 0;
  RtspPresentation* p = FindPresentation(id);
  if (!p || !p->description || media < 0 || media >= int32_t(kMaxSdpMedia) || !p->description->media[media])
    return -1;
  if (RangeToMilliseconds(p->description->media[media]->range, startMs, endMs) != 0) {
    startMs = endMs = 0;
    return -1;
  }
  return 0;
}

const char* RtspClient::GetConnectionAddress(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p && p->description && p->description->connectionAddress ? p->description->connectionAddress->text
                                                                   : nullptr;
}

const uint8_t* RtspClient::GetStillImageData(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p && p->stillImageValid ? p->stillImage : nullptr;
}

uint32_t RtspClient::GetStillImageLength(int32_t id) {
  RtspPresentation* p = FindPresentation(id);
  return p && p->stillImageValid ? p->stillImageLength : 0;
}

int32_t RtspClient::GetStillImageFrame(int32_t id, uint8_t* buffer, uint32_t& length, uint32_t& time) {
  time = 0;
  RtspPresentation* p = FindPresentation(id);
  if (!p) {
    length = 0;
    return 0;
  }
  const uint32_t size = p->stillImageValid ? p->stillImageLength : 0;
  const uint32_t n = length < size ? length : size;
  if (n) std::memcpy(buffer, p->stillImage, n);
  if (length > size) {
    length = size;
    return 1;
  }
  return kResultCut;
}

int32_t RtspClient::GetH263Params(int32_t id, int32_t media, uint32_t& first, uint32_t& second) {
  first = second = 0;
  RtspPresentation* p = FindPresentation(id);
  if (!p || !p->description || media < 0 || media >= int32_t(kMaxSdpMedia)) return 0;
  const SdpMediaDescription* m = p->description->media[media];
  if (!m) return 0;
  const char* name = RefStringText(m->encodingName);
  if (std::strncmp(name, "H263-2000", 9) != 0 && std::strncmp(name, "H263-1998", 9) != 0) return 0;
  first = uint32_t(m->GetCodecProfile());
  second = uint32_t(m->GetCodecLevel());
  if (first == 0xFFFFFFFFu) return 0;
  return second != 0xFFFFFFFFu ? 1 : 0;
}

void InitSessionDescription(SdpSessionDescription& s) {
  char number[24];
  RefStringAssign(s.originUserName, "-");
  const uint64_t ntp = FileTimeToNtp(NowFileTime());
  std::snprintf(number, sizeof number, "%llu", static_cast<unsigned long long>(ntp));
  RefStringAssign(s.originSessionIdText, number);
  RefStringAssign(s.originNetworkType, "IP");
  RefStringAssign(s.originAddressType, "IP4");
  RefStringAssign(s.originAddress, "0.0.0.0");
  RefStringAssign(s.sessionName, "N/A");
  RefStringAssign(s.sessionInformation, "N/A");
  RefStringAssign(s.connectionNetworkType, "IP");
  RefStringAssign(s.connectionAddressType, "IP4");
  RefStringAssign(s.connectionAddress, "0.0.0.0");
  RefStringAssign(s.rating, "Not Rated");
  s.startTime = s.stopTime = 0;
  s.range = RangeValue{};
  RefStringAssign(s.wmfVersion, "1.0");
  s.allowRecord = false;
  s.randomAccessDenied = false;
  s.videoOnlyValue = 2;
  RefStringAssign(s.sessionControl, "*");
  s.contentVersion = 0;
  RefStringAssign(s.creationDate, "20000101T000000.000Z");
}

}  // namespace streaming
