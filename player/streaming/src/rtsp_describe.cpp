// DESCRIBE (URL, connection, identification headers, redirects on the open
// connection) and SETUP (the track's UDP pair, Transport, session token;
// the still image by GET_PARAMETER) on the client's request cycle.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>

#include "streaming/rtsp_client.h"
#include "streaming/text_util.h"

namespace streaming {

namespace {

constexpr RtspToken kUserNetwork = MakeToken("User-Network");
constexpr RtspToken kDeviceInfo = MakeToken("DeviceInfo");
constexpr RtspToken kId = MakeToken("ID");
constexpr RtspToken kExpiration = MakeToken("Expiration");
constexpr RtspToken kApplicationString = MakeToken("Application-Specific-String");
constexpr RtspToken kVerification = MakeToken("Verification");
constexpr RtspToken kBlocksize = MakeToken("Blocksize");
constexpr uint32_t kMaxRedirects = 5;
constexpr char kStillImage[] = "X-MP4V-IMAGE";
constexpr char kStillImageBody[] = "Image\r\n";

enum TextIndex : uint32_t {
  kTextUserAgent = 0,
  kTextUserNetwork = 1,
  kTextDeviceInfo = 2,
  kTextUser = 4,
  kTextAuthentication = 5,
  kTextExpiration = 6,
  kTextApplication = 7,
  kTextFiller = 8,
  kTextSignature = 9,
};

bool CopyBaseUrl(RtspPresentation& p, const char* url) {
  const size_t n = std::strlen(url);
  if (n >= sizeof p.baseUrl) return false;
  std::memcpy(p.baseUrl, url, n + 1);
  return true;
}

uint8_t Nibble(char c) { return uint8_t(c <= '9' ? c - '0' : c - 'A'); }

}  // namespace

void PackSessionToken(const char* session, uint8_t token[8]) {
  std::memset(token, 0, 8);
  const size_t pairs = std::strlen(session) / 2;
  for (size_t i = 0; i < 8 && i < pairs; ++i)
    token[i] = uint8_t((Nibble(session[2 * i]) << 4) | (Nibble(session[2 * i + 1]) & 0x0F));
}

int32_t RtspClient::ParseUrl(const char* url) {
  const size_t length = std::strlen(url);
  if (length >= sizeof urlBuffer_) return kResultHostNotFound;
  const char* host = std::strstr(url, "//");
  if (!host) return kResultHostNotFound;
  host += 2;
  const char* slash = std::strchr(host, '/');
  if (!slash || !slash[1]) return kResultHostNotFound;
  const char* colon = static_cast<const char*>(std::memchr(host, ':', size_t(slash - host)));
  const char* hostEnd = colon ? colon : slash;
  const size_t hostLength = size_t(hostEnd - host);
  const size_t pathLength = std::strlen(slash + 1);
  if (hostLength == 0 || hostLength > 127 || pathLength > 127) return kResultHostNotFound;
  int port = 554;
  if (colon && std::sscanf(colon + 1, "%d", &port) != 1) return kResultHostNotFound;
  char16_t path[128];
  if (Utf8ToUtf16(slash + 1, uint32_t(pathLength), path, 128) == 0) return kResultHostNotFound;
  std::memcpy(host_, host, hostLength);
  host_[hostLength] = 0;
  port_ = port;
  std::memcpy(path_, path, sizeof path_);
  return 1;
}

bool RtspClient::AddIdentityHeaders(RtspMessage& m) {
  char value[512];
  auto add = [&](const RtspToken& name, const char* text) {
    return !text[0] || m.SetHeaderText(name, text);
  };
  auto pair = [&](const RtspToken& name, const char* a, const char* first, const char* b, const char* second) {
    if (!first[0] || !second[0]) return true;
    const int n = std::snprintf(value, sizeof value, "%s%s%s%s", a, first, b, second);
    // Too long for the value buffer: left out rather than cut.
    return n < 0 || size_t(n) >= sizeof value || m.SetHeaderText(name, value);
  };
  return add(kUserNetwork, texts_[kTextUserNetwork]) && add(kDeviceInfo, texts_[kTextDeviceInfo]) &&
         pair(kId, "user=", texts_[kTextUser], ";authentication=", texts_[kTextAuthentication]) &&
         add(kExpiration, texts_[kTextExpiration]) && add(kApplicationString, texts_[kTextApplication]) &&
         pair(kVerification, "filler=", texts_[kTextFiller], ";signature=", texts_[kTextSignature]);
}

void RtspClient::ClearForDescribe(RtspPresentation& p) {
  p.stillImageValid = false;
  p.messageBegun = false;
  p.descriptionParsed = false;
  p.bufferTime = 0;
  p.responseComplete = false;
  p.contentBaseSet = false;
  p.sessionKnown = false;
  p.serverIsKrss = false;
  p.lastEvent = kEventIdle;
  p.lastStatus = 0;
  delete[] p.serverMessage;
  p.serverMessage = nullptr;
}

void RtspClient::DiscardPresentation(RtspPresentation* p) {
  std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
  sockets_->CloseEntry(p->id);
  UnlinkPresentation(p);
  if (p->id >= 0 && p->id < 2) reserved_[p->id] = false;
  FreePresentationParts(*p);
  delete p;
}

int32_t RtspClient::StartDescribe(int32_t& id, const char* url, CompletionCallback callback,
                                  RequestCompletion* block) {
  RtspPresentation* p;
  RtspRequest* r;
  {
    std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
    const int32_t free = LowestFreeId();
    if (free < 0) return kResultTwoPresentations;
    // A URL the fields cannot hold is refused before anything is sent.
    if (std::strlen(url) >= sizeof urlBuffer_ || std::strlen(url) >= kBaseUrlSize) return kResultHostNotFound;
    p = new (std::nothrow) RtspPresentation;
    r = new (std::nothrow) RtspRequest;
    if (!p || !r) {
      delete p;
      delete r;
      return kResultNoMemory;
    }
    std::snprintf(urlBuffer_, sizeof urlBuffer_, "%s", url);
    p->id = free;
    reserved_[free] = true;
    id = free;
    r->presentation = free;
    r->created = p;
    r->function = &RtspClient::StepDescribe;
  }
  const int32_t rc = StartRequest(r, callback, block, requestTimeout_);
  if (callback) return rc;
  if (rc != 1) {
    DiscardPresentation(p);
  } else {
    std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
    reserved_[id] = false;
    redirectCount_ = 0;
  }
  return rc;
}

int32_t RtspClient::StepDescribe(RtspRequest& r) {
  RtspPresentation& p = *r.created;
  // Completes the request; in the asynchronous form the presentation stays
  // only when it was described (the synchronous starter decides itself).
  auto done = [&](int32_t result, int32_t value) {
    const bool async = r.callback != nullptr;
    p.result = result;
    Complete(r, &p, result);  // frees the record in the asynchronous form
    if (async) {
      if (result == 1) {
        std::lock_guard<std::recursive_mutex> guard(scheduler_->lock());
        reserved_[p.id] = false;
      } else {
        DiscardPresentation(&p);
      }
    }
    return value;
  };
  switch (r.step) {
    case 1: {
      const int32_t rc = ParseUrl(urlBuffer_);
      if (rc != 1) return done(rc, -1);
      p.description = new (std::nothrow) SdpSessionDescription;
      if (!p.description) return done(kResultNoMemory, -1);
      InitSessionDescription(*p.description);
      ClearForDescribe(p);
      if (!CopyBaseUrl(p, urlBuffer_)) return done(kResultHostNotFound, -1);
      r.step = 2;
      return 0;
    }
    case 2: {
      const int32_t rc = sockets_->ConnectTcp(p.id, host_, uint16_t(port_));
      if (rc == kResultHostNotFound) return done(rc, 1);
      if (rc != kResultDone) {
        const bool timedOut = int64_t(GetStreamClockTime() - r.startTime) > int64_t(r.block.timeoutMs);
        if (timedOut || abortMarks_[p.id]) return done(rc, 1);
        p.result = rc;
        return 0;
      }
      LinkPresentation(&p);
      r.step = 3;
      [[fallthrough]];
    }
    case 3: {
      RtspMessage& m = p.request;
      m.BeginCompose();
      m.kind = kRequest;
      m.method = kMethodDescribe;
      m.hasCSeq = true;
      m.cseq = p.cseq;
      m.hasAccept = true;
      m.accept = MakeToken("application/sdp");
      m.hasUserAgent = true;
      m.userAgent = MakeToken(texts_[kTextUserAgent]);
      p.responseComplete = false;
      if (!m.SetRequestUri(p.baseUrl) || !AddIdentityHeaders(m) || !SendRequest(p)) return done(0, 1);
      r.step = 4;
      [[fallthrough]];
    }
    default: {
      const int32_t w = WaitCheck(r, p, true);
      if (w == 0) return 0;
      if (w == 1 && !r.block.timedOut && redirectPending_ && redirectCount_ < int32_t(kMaxRedirects)) {
        // Followed on the open connection: no new connection to its host.
        if (ParseUrl(redirectUrl_) != 1) return done(kResultHostNotFound, -1);
        ++redirectCount_;
        redirectPending_ = false;
        ClearForDescribe(p);
        if (!CopyBaseUrl(p, redirectUrl_)) return done(kResultHostNotFound, -1);
        r.step = 3;
        return 0;
      }
      return done(w == 2 ? 0 : p.result, 1);
    }
  }
}

int32_t RtspClient::StartSetup(int32_t id, int32_t track, int32_t media, const char*, CompletionCallback callback,
                               RequestCompletion* block) {
  if (!FindPresentation(id)) return 0;
  if (track < 0 || track >= int32_t(kClientTrackCount)) return kResultBadStream;
  auto* r = new (std::nothrow) RtspRequest;
  if (!r) return kResultNoMemory;
  r->presentation = id;
  r->track = track;
  r->media = media;
  r->function = &RtspClient::StepSetup;
  return StartRequest(r, callback, block, requestTimeout_);
}

int32_t RtspClient::StepSetup(RtspRequest& r) {
  RtspPresentation* p = FindPresentation(r.presentation);
  if (!p) return GoneStep(r);
  if (r.step == 1) {
    r.rtpPort = r.rtcpPort = 0;
    const SdpMediaDescription* media =
        p->description && r.media >= 0 && r.media < int32_t(kMaxSdpMedia) ? p->description->media[r.media]
                                                                           : nullptr;
    const bool still = media && std::strncmp(RefStringText(media->encodingName), kStillImage, 12) == 0;
    if (!still && (sockets_->OpenRtpSocket(p->id, uint32_t(r.track), r.rtpPort) != kResultDone ||
                   sockets_->GetRtcpPort(p->id, uint32_t(r.track), r.rtcpPort) != kResultDone)) {
      p->result = 0;
      Complete(r, p, 0);
      return -1;
    }
    RtspMessage& m = p->request;
    m.BeginCompose();
    m.kind = kRequest;
    m.hasCSeq = true;
    m.cseq = p->cseq;
    char session[kSessionTextSize];
    if (p->sessionKnown) {
      SessionValue(*p, session, sizeof session);
      m.hasSession = true;
      m.session = MakeToken(session);
    }
    bool ok;
    if (still) {
      m.method = kMethodGetParameter;
      m.hasContentType = true;
      m.contentType = MakeToken("text/parameters");
      m.hasContentLength = true;
      m.contentLength = int32_t(sizeof kStillImageBody - 1);
      m.hasAccept = true;
      m.accept = MakeToken(kStillImage);
      ok = m.SetRequestUri(p->baseUrl);
    } else {
      m.method = kMethodSetup;
      m.hasUserAgent = true;
      m.userAgent = MakeToken(texts_[kTextUserAgent]);
      TransportSpec& t = m.transports[m.transportCount++];
      t.hasProtocol = t.hasProfile = t.hasDelivery = t.hasClientPort = true;
      t.clientPort[0] = r.rtpPort;
      t.clientPort[1] = r.rtcpPort;
      const char* control = media ? RefStringText(media->control) : "";
      char uri[kBaseUrlSize * 2];
      if (std::strstr(control, "rtsp")) {
        ok = m.SetRequestUri(control);
      } else {
        ok = JoinControlUrl(p->baseUrl, control, uri, sizeof uri) && m.SetRequestUri(uri);
      }
      ok = ok && m.SetHeaderText(kBlocksize, "1400") && AddIdentityHeaders(m);
    }
    p->responseComplete = false;
    p->answerHasTransport = false;
    ok = ok && SendRequest(*p);
    if (ok && still) ok = sockets_->Send(p->id, kStillImageBody, sizeof kStillImageBody - 1) == kResultDone;
    if (!ok) {
      p->result = 0;
      Complete(r, p, 0);
      return 1;
    }
    r.step = 2;
    return 0;
  }
  // SETUP waits out an abort mark like any answer.
  const int32_t w = WaitCheck(r, *p, false);
  if (w == 0) return 0;
  if (p->id >= 0 && p->id < 2 && abortMarks_[p->id]) p->result = 0;
  if (p->responseComplete && !r.block.timedOut && p->result == 1) {
    PackSessionToken(p->sessionText, p->sessionToken);
    if (p->answerHasTransport && p->answerTransport.hasServerPort)
      sockets_->SetServerPorts(p->id, uint32_t(r.track), p->answerTransport.serverPort[0],
                               p->answerTransport.serverPort[1]);
  }
  if (p->answerHasTransport && p->answerTransport.hasSsrc) {
    p->learnedSsrc[r.track] = p->answerTransport.ssrc;
    p->ssrcLearned[r.track] = true;
  }
  Complete(r, p, p->result);
  return 1;
}

}  // namespace streaming
