// PLAY (with the probe towards a KRSS server and the npt range), PAUSE and
// TEARDOWN on the client's request cycle.
#include <cstdio>
#include <cstring>
#include <new>

#include "streaming/rtsp_client.h"

namespace streaming {

namespace {
constexpr RtspToken kRtt = MakeToken("RTT");
constexpr RtspToken kConnection = MakeToken("Connection");
constexpr uint32_t kUrlSize = 512;
}  // namespace

// Starts composing a request of the presentation: method, CSeq, aggregate
// URI and Session.
static bool BeginRequest(RtspPresentation& p, int32_t method, const char* uri, const char* session) {
  RtspMessage& m = p.request;
  m.BeginCompose();
  m.kind = kRequest;
  m.method = method;
  m.hasCSeq = true;
  m.cseq = p.cseq;
  if (!m.SetRequestUri(uri)) return false;
  m.hasSession = true;
  m.session = MakeToken(session);
  return true;
}

int32_t RtspClient::StartPlay(int32_t id, int32_t startMs, int32_t endMs, CompletionCallback callback,
                              RequestCompletion* block) {
  if (!FindPresentation(id)) return 0;
  auto* r = new (std::nothrow) RtspRequest;
  if (!r) return kResultNoMemory;
  r->presentation = id;
  r->rangeStartMs = startMs;
  r->rangeEndMs = endMs;
  r->function = &RtspClient::StepPlay;
  return StartRequest(r, callback, block, requestTimeout_);
}

int32_t RtspClient::StartResume(int32_t id, CompletionCallback callback, RequestCompletion* block) {
  if (!FindPresentation(id)) return 0;
  auto* r = new (std::nothrow) RtspRequest;
  if (!r) return kResultNoMemory;
  r->presentation = id;
  r->step = 2;  // no probe, no range
  r->function = &RtspClient::StepPlay;
  return StartRequest(r, callback, block, requestTimeout_);
}

int32_t RtspClient::StartPause(int32_t id, CompletionCallback callback, RequestCompletion* block) {
  if (!FindPresentation(id)) return 0;
  auto* r = new (std::nothrow) RtspRequest;
  if (!r) return kResultNoMemory;
  r->presentation = id;
  r->function = &RtspClient::StepPause;
  return StartRequest(r, callback, block, requestTimeout_);
}

int32_t RtspClient::StartPauseIfPlaying(int32_t id, CompletionCallback callback, RequestCompletion* block) {
  RtspPresentation* p;
  {
    std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
    p = FindPresentation(id);
    if (!p) {
      // Its DESCRIBE may still be connecting: it and what follows end.
      if (id >= 0 && id < 2) abortMarks_[id] = 1;
      return kResultUnknownPresentation;
    }
    p->responseComplete = false;
    if (p->state != kStatePlaying && p->state != kStateRecording) return 1;
  }
  return StartPause(id, callback, block);
}

int32_t RtspClient::StartTeardown(int32_t id, CompletionCallback callback, RequestCompletion* block) {
  if (!FindPresentation(id)) return kResultUnknownPresentation;
  auto* r = new (std::nothrow) RtspRequest;
  if (!r) return kResultNoMemory;
  r->presentation = id;
  r->function = &RtspClient::StepTeardown;
  return StartRequest(r, callback, block, teardownTimeout_);
}

// ---- PLAY ---------------------------------------------------------------

int32_t RtspClient::StepPlay(RtspRequest& r) {
  RtspPresentation* p = FindPresentation(r.presentation);
  if (!p) return GoneStep(r);
  switch (r.step) {
    case 1: {
      const int32_t answer = sockets_->Probe(p->id, p->serverIsKrss);
      p->result = answer;
      if (answer == kResultPending) return 0;
      if (p->serverIsKrss) {
        if (PresentationSockets* e = sockets_->FindEntry(p->id)) {
          // The sequence number of stream 0's answered probe.
          p->probeNumber = e->probeSequence[0] ? int32_t(e->probeSequence[0]) - 1 : 0;
          p->probeRoundTrip = int32_t(e->roundTrip[0]);
        }
        r.sendRtt = answer == kResultDone;
      }
      r.step = 2;
      return 0;
    }
    case 2:
      return PlaySend(r, *p);
    default: {
      const int32_t w = WaitCheck(r, *p, true);
      if (w == 0) return 0;
      if (w == 2) {
        Drop(r);
        return 1;
      }
      PlayFinish(r, *p);
      Complete(r, p, p->result);
      return 1;
    }
  }
}

int32_t RtspClient::PlaySend(RtspRequest& r, RtspPresentation& p) {
  p.responseComplete = false;
  char session[kSessionTextSize];
  SessionValue(p, session, sizeof session);
  if (!std::strstr(p.sessionText, "timeout")) p.serverIsKrss = false;
  char uri[kUrlSize];
  bool ok = AggregateUrl(p, uri, sizeof uri) && BeginRequest(p, kMethodPlay, uri, session);
  char range[64];
  if (ok && r.rangeStartMs >= 0) {
    uint32_t dStart = 0, d = 0;
    if (GetSessionRangeMs(p.id, dStart, d) != 0) d = 0;
    const double s = r.rangeStartMs / 1000.0;
    if (r.rangeEndMs >= 0 && uint32_t(r.rangeEndMs) >= d) {
      std::snprintf(range, sizeof range, "npt=%f-", s);
    } else if (r.rangeEndMs == 0) {
      std::snprintf(range, sizeof range, "npt=0.0-");
    } else if (r.rangeEndMs > 0) {
      std::snprintf(range, sizeof range, "npt=%f-%f", s, r.rangeEndMs / 1000.0);
    } else {
      // A negative end before the range's end: an open range from the start.
      std::snprintf(range, sizeof range, "npt=%f-", s);
    }
    ok = p.request.SetHeaderText(vocab::kRange, range);
  }
  if (ok && r.sendRtt) {
    char rtt[32];
    std::snprintf(rtt, sizeof rtt, "%d %d", p.probeNumber, p.probeRoundTrip);
    ok = p.request.SetHeaderText(kRtt, rtt);
  }
  if (ok && p.serverIsKrss) {
    char buffer[16];
    uint32_t ms = 0;
    if (rtp_) rtp_->GetBufferTime(p.id, ms);
    std::snprintf(buffer, sizeof buffer, "%d", int32_t(ms));
    ok = p.request.SetHeaderText(vocab::kBuffersize, buffer);
  }
  if (!ok || !p.request.Compose()) {
    p.result = 0;
    Complete(r, &p, 0);
    return 1;
  }
  if (sockets_->Send(p.id, p.request.composedText(), p.request.composedLength()) != kResultDone) {
    p.lastStatus = 408;
    p.result = 0;
    Complete(r, &p, 0);
    return 1;
  }
  r.step = 3;
  return 0;
}

void RtspClient::PlayFinish(RtspRequest& r, RtspPresentation& p) {
  uint32_t startMs = 0, endMs = 0;
  const bool converted = p.result == 1 && p.answerHasRange &&
                         RangeToMilliseconds(p.answerRange, startMs, endMs) == 0;
  const uint32_t tracks = rtp_ ? rtp_->GetTrackCount(p.id) : 0;
  for (uint32_t t = 0; t < tracks && t < kClientTrackCount; ++t) {
    ClientTrackSync& s = p.tracks[t];
    TrackSyncRecord sync;
    if (converted) {
      const uint32_t rate = s.clockRate;
      s.startPosition = rate >= 1000 ? (rate / 1000) * startMs : (rate * startMs) / 1000;
      sync.startPositionMs = int32_t(startMs);
    }
    // The reception keeps the session text's first 16 bytes.
    std::memcpy(sync.playWords, p.sessionText, sizeof sync.playWords);
    sync.rtcpIntervalMs = s.rtcpInterval > 0 ? uint32_t(s.rtcpInterval) : 0;
    sync.hasSeq = s.seqPresent;
    sync.seq = s.seq;
    sync.hasRtptime = s.rtptimePresent;
    sync.rtptime = s.rtptime;
    sync.resume = r.rangeStartMs < 0;
    rtp_->ApplyPlayInfo(p.id, t, sync);
  }
  if (p.result == 1) sockets_->ClearEnded(p.id);
}

// ---- PAUSE --------------------------------------------------------------

int32_t RtspClient::StepPause(RtspRequest& r) {
  RtspPresentation* p = FindPresentation(r.presentation);
  if (!p) return GoneStep(r);
  if (r.step == 1) {
    p->responseComplete = false;
    char session[kSessionTextSize];
    SessionValue(*p, session, sizeof session);
    char uri[kUrlSize];
    if (!AggregateUrl(*p, uri, sizeof uri) || !BeginRequest(*p, kMethodPause, uri, session) || !SendRequest(*p)) {
      p->result = 0;
      Complete(r, p, 0);
      return 1;
    }
    r.step = 2;
    return 0;
  }
  const int32_t w = WaitCheck(r, *p, true);
  if (w == 0) return 0;
  if (w == 2) {
    Drop(r);
    return 1;
  }
  Complete(r, p, p->result);
  return 1;
}

// ---- TEARDOWN -----------------------------------------------------------

int32_t RtspClient::StepTeardown(RtspRequest& r) {
  RtspPresentation* p = FindPresentation(r.presentation);
  if (!p) return GoneStep(r);
  if (r.step == 1) {
    p->result = 1;
    p->responseComplete = false;
    char session[kSessionTextSize];
    SessionValue(*p, session, sizeof session);
    char uri[kUrlSize];
    if (!AggregateUrl(*p, uri, sizeof uri) || !BeginRequest(*p, kMethodTeardown, uri, session) ||
        !p->request.SetHeaderText(kConnection, "close") || !SendRequest(*p)) {
      p->result = 0;
      Complete(r, p, 0);
      return 1;
    }
    r.step = 2;
    return 0;
  }
  const int32_t w = WaitCheck(r, *p, false);
  if (w == 0) return 0;
  // Whatever the answer, the presentation ends here.
  const uint32_t streams = sockets_->GetStreamCount(p->id);
  for (uint32_t j = 0; j < streams; ++j) {
    sockets_->CloseRtpSocket(p->id, j);
    sockets_->CloseRtcpSocket(p->id, j);
  }
  sockets_->CloseEntry(p->id);
  FreePresentationParts(*p);
  UnlinkPresentation(p);
  const int32_t result = p->result;
  const int32_t status = p->lastStatus;
  delete p;
  CompleteWith(r, result, status, nullptr);
  return 1;
}

}  // namespace streaming
