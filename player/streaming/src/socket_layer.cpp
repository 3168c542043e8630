#include "streaming/socket_layer.h"

#include <mutex>

#include "streaming/scheduler.h"

namespace streaming {

SocketLayer::SocketLayer(uint16_t firstPort, uint16_t endPort) : nextPort_(firstPort), endPort_(endPort) {}

SocketLayer::~SocketLayer() {
  while (!entries_.empty()) CloseEntry(entries_.front()->id);
}

int32_t SocketLayer::Startup() { return net::Startup() ? kResultDone : kResultSocketFailure; }

int32_t SocketLayer::Cleanup() {
  net::Cleanup();
  return kResultDone;
}

PresentationSockets* SocketLayer::FindEntry(int32_t presentation) {
  for (auto& e : entries_) {
    if (e->id == presentation) return e.get();
  }
  return nullptr;
}

PresentationSockets* SocketLayer::AddEntry(int32_t presentation) {
  std::lock_guard<std::mutex> guard(entriesLock_);
  entries_.push_back(std::make_unique<PresentationSockets>());
  entries_.back()->id = presentation;
  return entries_.back().get();
}

bool SocketLayer::AddPoll(net::Socket* socket, PresentationSockets* entry, uint32_t stream, int32_t kind) {
  if (pollCount_ >= kPollTableSize) return false;  // the table has twelve places
  poll_[pollCount_++] = PollEntry{socket, entry, stream, kind};
  return true;
}

void SocketLayer::RemovePoll(const net::Socket* socket) {
  for (uint32_t i = 0; i < pollCount_; ++i) {
    if (poll_[i].socket != socket) continue;
    for (uint32_t k = i + 1; k < pollCount_; ++k) poll_[k - 1] = poll_[k];
    --pollCount_;
    return;
  }
}

bool SocketLayer::RemoveEntry(int32_t presentation) {
  std::lock_guard<std::mutex> guard(entriesLock_);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if ((*it)->id != presentation) continue;
    PresentationSockets* e = it->get();
    uint32_t j = 0;
    for (uint32_t i = 0; i < pollCount_; ++i) {
      if (poll_[i].entry != e) poll_[j++] = poll_[i];
    }
    pollCount_ = j;
    for (uint32_t s = 0; s < kMaxStreams; ++s) {
      CloseSocket(e->rtp[s]);
      CloseSocket(e->rtcp[s]);
    }
    entries_.erase(it);
    return true;
  }
  return false;
}

int32_t SocketLayer::ConnectTcp(int32_t presentation, const char* host, uint16_t port) {
  if (PresentationSockets* e = FindEntry(presentation)) {
    if (e->connected) return kResultDone;
    switch (net::PollConnect(e->tcp, 4 * waitBase_)) {
      case net::kOk:
        // The place was reserved when the connect started.
        e->connected = true;
        if (pollCount_ < kPollTableSize && poll_[pollCount_].entry == e) ++pollCount_;
        return kResultDone;
      case net::kWouldBlock:
        return kResultPending;
      default:
        return kResultSocketFailure;
    }
  }
  if (pollCount_ >= kPollTableSize) return kResultSocketFailure;
  net::Socket s = net::OpenTcp();
  if (s == net::kNoSocket) return kResultSocketFailure;
  if (!net::SetNonBlocking(s)) {
    CloseSocket(s);
    return kResultSocketFailure;
  }
  uint32_t address = 0;
  if (!net::Resolve(host, address)) {
    CloseSocket(s);
    return kResultHostNotFound;
  }
  net::Result r = net::Connect(s, address, port);
  if (r != net::kOk && r != net::kWouldBlock) {
    CloseSocket(s);
    return kResultSocketFailure;
  }
  PresentationSockets* e = AddEntry(presentation);
  e->serverAddress = address;
  e->tcp = s;
  poll_[pollCount_] = PollEntry{&e->tcp, e, 0, kSocketTcp};
  return kResultPending;
}

int32_t SocketLayer::OpenUdpPair(PresentationSockets& e, uint32_t j) {
  net::Socket rtp = net::OpenUdp();
  net::Socket rtcp = net::OpenUdp();
  if (rtp == net::kNoSocket || rtcp == net::kNoSocket || pollCount_ + 2 > kPollTableSize) {
    CloseSocket(rtp);
    CloseSocket(rtcp);
    return kResultSocketFailure;
  }
  e.rtp[j] = rtp;
  e.rtcp[j] = rtcp;
  while (nextPort_ < endPort_) {
    const uint16_t rtpPort = nextPort_++;
    if (!net::Bind(e.rtp[j], rtpPort)) continue;
    if (nextPort_ < endPort_) {
      const uint16_t rtcpPort = nextPort_++;
      if (net::Bind(e.rtcp[j], rtcpPort)) {
        e.clientRtpPort[j] = rtpPort;
        e.clientRtcpPort[j] = rtcpPort;
        net::SetNonBlocking(e.rtp[j]);
        net::SetNonBlocking(e.rtcp[j]);
        AddPoll(&e.rtp[j], &e, j, kSocketRtp);
        AddPoll(&e.rtcp[j], &e, j, kSocketRtcp);
        return kResultDone;
      }
    }
    // The RTP socket is bound already: a fresh one for the next port.
    CloseSocket(e.rtp[j]);
    e.rtp[j] = net::OpenUdp();
    if (e.rtp[j] == net::kNoSocket) break;
  }
  CloseSocket(e.rtp[j]);
  CloseSocket(e.rtcp[j]);
  e.rtp[j] = e.rtcp[j] = net::kNoSocket;
  return kResultNone;
}

int32_t SocketLayer::OpenRtpSocket(int32_t presentation, uint32_t stream, uint16_t& port) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  if (stream >= kMaxStreams) return kResultBadStream;
  if (!IsValidSocket(e->rtp[stream])) {
    if (OpenUdpPair(*e, stream) != kResultDone) return kResultSocketFailure;
    ++e->streamCount;
  }
  port = e->clientRtpPort[stream];
  return kResultDone;
}

int32_t SocketLayer::GetRtcpPort(int32_t presentation, uint32_t stream, uint16_t& port) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  if (stream >= kMaxStreams) return kResultBadStream;
  if (!IsValidSocket(e->rtp[stream]) && OpenUdpPair(*e, stream) != kResultDone) return kResultSocketFailure;
  port = e->clientRtcpPort[stream];
  return kResultDone;
}

int32_t SocketLayer::CloseEntry(int32_t presentation) {
  PresentationSockets* e = FindEntry(presentation);
  if (e) {
    RemovePoll(&e->tcp);
    CloseSocket(e->tcp);
    e->tcp = net::kNoSocket;
  }
  return RemoveEntry(presentation) && e ? kResultDone : kResultUnknownPresentation;
}

int32_t SocketLayer::CloseUdp(int32_t presentation, uint32_t stream, bool rtcp) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  if (stream >= e->streamCount || stream >= kMaxStreams) return kResultBadStream;
  net::Socket& s = rtcp ? e->rtcp[stream] : e->rtp[stream];
  RemovePoll(&s);
  CloseSocket(s);
  s = net::kNoSocket;
  return kResultDone;
}

int32_t SocketLayer::CloseRtpSocket(int32_t presentation, uint32_t stream) {
  return CloseUdp(presentation, stream, false);
}

int32_t SocketLayer::CloseRtcpSocket(int32_t presentation, uint32_t stream) {
  return CloseUdp(presentation, stream, true);
}

int32_t SocketLayer::Send(int32_t presentation, const void* data, uint32_t length) {
  if (failed()) return kResultSocketFailure;
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  net::Result r;
  if (net::Send(e->tcp, data, length, r) != int32_t(length)) return kResultSocketFailure;
  return kResultDone;
}

int32_t SocketLayer::SendTo(int32_t presentation, uint32_t stream, const void* data, uint32_t length) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  if (stream >= e->streamCount || stream >= kMaxStreams) return kResultNone;
  net::Result r;
  if (net::SendTo(e->rtp[stream], data, length, e->serverAddress, e->serverRtpPort[stream], r) != int32_t(length))
    return kResultSocketFailure;
  return kResultDone;
}

int32_t SocketLayer::SendToRtcp(int32_t presentation, uint32_t stream, const void* data, uint32_t length) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  if (stream >= e->streamCount || stream >= kMaxStreams) return kResultNone;
  if (e->serverRtcpPort[stream] == 0) return kResultDone;
  net::Result r;
  if (net::SendTo(e->rtcp[stream], data, length, e->serverAddress, e->serverRtcpPort[stream], r) != int32_t(length))
    return kResultSocketFailure;
  return kResultDone;
}

int32_t SocketLayer::Probe(int32_t presentation, bool enabled) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  const uint32_t n = e->streamCount < kMaxStreams ? e->streamCount : kMaxStreams;
  auto enableAll = [&] {
    for (uint32_t j = 0; j < n; ++j) e->receiveEnabled[j] = true;
  };
  const uint32_t now = GetStreamClockTime();
  if (!enabled) {
    e->startTime = now;
    e->probeSent[0][0] = now;
    enableAll();
    return kResultDone;
  }
  for (uint32_t j = 0; j < n; ++j) {
    if (e->probeAnswered[j]) continue;
    uint32_t& seq = e->probeSequence[j];
    const bool due = seq == 0 || now - e->probeSent[j][seq - 1] > probeInterval_;
    if (!due) continue;
    if (seq >= kProbeCount) {
      // Nine probes went unanswered, the last one for a whole interval.
      seq = kProbeCount - 1;
      e->startTime = e->probeSent[0][e->probeSequence[0] < kProbeCount ? e->probeSequence[0] : kProbeCount - 1];
      enableAll();
      return kResultNone;
    }
    const uint8_t datagram[8] = {uint8_t(seq >> 24), uint8_t(seq >> 16), uint8_t(seq >> 8), uint8_t(seq),
                                 uint8_t(e->probeToken[j] >> 24), uint8_t(e->probeToken[j] >> 16),
                                 uint8_t(e->probeToken[j] >> 8), uint8_t(e->probeToken[j])};
    net::Result r;
    net::SendTo(e->rtp[j], datagram, 8, e->serverAddress, e->serverRtpPort[j], r);
    e->probeSent[j][seq] = now;
    ++seq;
  }
  net::Socket sockets[kMaxStreams];
  bool readable[kMaxStreams] = {};
  for (uint32_t j = 0; j < n; ++j) sockets[j] = e->rtp[j];
  if (n && net::SelectReadable(sockets, n, 2 * waitBase_, readable) > 0) {
    for (uint32_t j = 0; j < n; ++j) {
      if (!readable[j]) continue;
      uint8_t b[8];
      net::Result r;
      if (net::RecvFrom(e->rtp[j], b, sizeof b, r) != 8 || r != net::kOk) continue;
      const uint32_t echoed = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
      const uint32_t token = uint32_t(b[4]) << 24 | uint32_t(b[5]) << 16 | uint32_t(b[6]) << 8 | b[7];
      if (token != e->probeToken[j] || echoed >= e->probeSequence[j]) continue;
      e->probeAnswered[j] = true;
      e->roundTrip[j] = GetStreamClockTime() - e->probeSent[j][echoed];
      if (j == 0) e->startTime = e->probeSent[j][echoed];
      e->probeSequence[j] = echoed + 1;
    }
  }
  for (uint32_t j = 0; j < n; ++j) {
    if (!e->probeAnswered[j]) return kResultPending;
  }
  enableAll();
  return kResultDone;
}

uint32_t SocketLayer::GetStreamCount(int32_t presentation) {
  PresentationSockets* e = FindEntry(presentation);
  return e ? e->streamCount : 0;
}

int32_t SocketLayer::SetServerPorts(int32_t presentation, uint32_t stream, uint16_t rtpPort, uint16_t rtcpPort) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  if (stream >= kMaxStreams) return kResultBadStream;
  e->serverRtpPort[stream] = rtpPort;
  e->serverRtcpPort[stream] = rtcpPort;
  return kResultDone;
}

int32_t SocketLayer::SetServerAddress(int32_t presentation, uint32_t address) {
  PresentationSockets* e = FindEntry(presentation);
  if (!e) return kResultUnknownPresentation;
  e->serverAddress = address;
  return kResultDone;
}

bool SocketLayer::IsEnded(int32_t presentation) {
  // The player's reader threads ask while the session thread may add or
  // remove entries.
  std::lock_guard<std::mutex> guard(entriesLock_);
  PresentationSockets* e = FindEntry(presentation);
  return !e || e->ended.load();
}

void SocketLayer::SetEnded(int32_t presentation) {
  if (PresentationSockets* e = FindEntry(presentation)) e->ended = true;
}

void SocketLayer::ClearEnded(int32_t presentation) {
  if (PresentationSockets* e = FindEntry(presentation)) e->ended = false;
}

void SocketLayer::EnableReceive(int32_t presentation, uint32_t stream) {
  PresentationSockets* e = FindEntry(presentation);
  if (e && stream < kMaxStreams) e->receiveEnabled[stream] = true;
}

void SocketLayer::SetProbeToken(int32_t presentation, uint32_t stream, uint32_t token) {
  PresentationSockets* e = FindEntry(presentation);
  if (e && stream < kMaxStreams) e->probeToken[stream] = token;
}

}  // namespace streaming
