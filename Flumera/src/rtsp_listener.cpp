// The RTSP server: one listener thread per port, the client records and the
// answers to DESCRIBE, SETUP, PLAY, PAUSE/TEARDOWN and GET_PARAMETER.
// One select covers the listening socket and up to 64 connections.
#define FD_SETSIZE 128
#include <winsock2.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "flumera/kr_flumera.h"
#include "flumera/sdp_text.h"
#include "server_parts.h"

using flumera::RtspMethod;

// ------------------------------------------------------------ sockets

int NetSocket::Open(int type, unsigned short port) {
  Close();
  socket_ = ::socket(AF_INET, type, 0);
  if (socket_ == INVALID_SOCKET) {
    error_ = WSAGetLastError();
    return kSocketNone;
  }
  sockaddr_in addr = {};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  addr.sin_port = htons(port);
  int result = kSocketOk;
  if (::bind(socket_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == SOCKET_ERROR) {
    result = kSocketBind;
  } else if (type == SOCK_STREAM && ::listen(socket_, 0x7fffffff) == SOCKET_ERROR) {
    result = kSocketListen;
  }
  if (result != kSocketOk) {
    error_ = WSAGetLastError();
    Close();
  }
  return result;
}

void NetSocket::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

bool PollingThread::Start() { return Run(0, nullptr, nullptr, interval_); }

// ------------------------------------------------------------ clients

DESTLISTITEM::DESTLISTITEM() : sendLock(new CRITICAL_SECTION) { InitializeCriticalSection(sendLock); }

DESTLISTITEM::~DESTLISTITEM() {
  if (socket != INVALID_SOCKET) {
    shutdown(socket, SD_BOTH);
    closesocket(socket);
  }
  DeleteCriticalSection(sendLock);
  delete sendLock;
}

namespace {

// Waits until the socket takes more bytes; false after `ms`.
bool WaitWritable(SOCKET s, DWORD ms) {
  fd_set w;
  FD_ZERO(&w);
  FD_SET(s, &w);
  timeval tv = {long(ms / 1000), long(ms % 1000) * 1000};
  return select(0, nullptr, &w, nullptr, &tv) == 1;
}

// Sends everything, waiting for room at most `ms` in all.
bool SendAll(SOCKET s, const char* data, size_t n, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  while (n > 0) {
    const int sent = send(s, data, int(std::min<size_t>(n, 0x7FFFFFFF)), 0);
    if (sent > 0) {
      data += sent, n -= size_t(sent);
      continue;
    }
    if (sent == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) return false;
    const DWORD now = GetTickCount();
    if (int(until - now) <= 0 || !WaitWritable(s, until - now)) return false;
  }
  return true;
}

constexpr DWORD kReplyWaitMs = 2000;

}  // namespace

bool DESTLISTITEM::SendPartial() {
  while (partial && !broken) {
    const std::vector<uint8_t>& b = partial->bytes;
    if (partialOffset >= b.size()) {
      partial.reset();
      partialOffset = 0;
      break;
    }
    const int sent = send(socket, reinterpret_cast<const char*>(b.data() + partialOffset),
                          int(std::min<size_t>(b.size() - partialOffset, 0x7FFFFFFF)), 0);
    if (sent > 0) {
      partialOffset += size_t(sent);
    } else if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      return false;
    } else {
      broken = true;
    }
  }
  return !partial || broken;
}

bool DESTLISTITEM::Send(const std::string& text) {
  EnterCriticalSection(sendLock);
  // Media bytes in flight go first, so the reply never lands inside a frame.
  const DWORD until = GetTickCount() + kReplyWaitMs;
  while (!SendPartial() && int(until - GetTickCount()) > 0) WaitWritable(socket, 20);
  bool ok = !partial && !broken && SendAll(socket, text.data(), text.size(), kReplyWaitMs);
  if (!ok) broken = true;
  LeaveCriticalSection(sendLock);
  return ok;
}

ClientLists::ClientLists() { InitializeCriticalSection(&lock_); }

ClientLists::~ClientLists() {
  for (DESTLISTITEM* c : all) delete c;
  DeleteCriticalSection(&lock_);
}

DESTLISTITEM* ClientLists::Find(unsigned long id) {
  for (DESTLISTITEM* c : all)
    if (c->id == id) return c;
  return nullptr;
}

void ClientLists::RemoveFromAdmitted(DESTLISTITEM* c) {
  framed.erase(std::remove(framed.begin(), framed.end(), c), framed.end());
  device.erase(std::remove(device.begin(), device.end(), c), device.end());
}

void ClientLists::Remove(DESTLISTITEM* c) {
  RemoveFromAdmitted(c);
  all.erase(std::remove(all.begin(), all.end(), c), all.end());
}

unsigned char* MakeClientRecord(unsigned long word, const sockaddr_in& peer, const std::string& id) {
  auto* r = static_cast<unsigned char*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, 292));
  if (!r) return nullptr;
  std::memcpy(r, &word, 4);
  const unsigned char* a = reinterpret_cast<const unsigned char*>(&peer.sin_addr);
  std::snprintf(reinterpret_cast<char*>(r + 4), 32, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
  std::memcpy(r + 36, id.data(), std::min<size_t>(id.size(), 255));
  return r;
}

namespace {
void Notice(KRFlumera& owner, unsigned long reason, const DESTLISTITEM* c) {
  if (unsigned char* r = MakeClientRecord(reason, c->peer, std::string()))
    owner.SendMsgToApp(KRM_CLIENT_NOTICE, r, 292, 0);
}

// The host decides on the client (message 6); its SETUP waits for the verdict.
void AskHost(KRFlumera& owner, std::string_view request, DESTLISTITEM* c) {
  if (unsigned char* record = MakeClientRecord(c->id, c->peer, flumera::IdentificationText(request)))
    owner.SendMsgToApp(KRM_ADMISSION, record, 292, 0);
  c->status = kClientAwaitingVerdict;
}
}  // namespace

void DropClient(KRFlumera& owner, DESTLISTITEM* c) {
  ServerParts& parts = *owner.Parts();
  parts.clients.Remove(c);
  if (c->kind == 2) parts.udp1.Unregister(c->id);
  if (c->counted && c->listener >= 0 && c->listener < parts.listenerCount)
    InterlockedDecrement(&parts.listeners[c->listener]->admitted);
  delete c;
}

void CheckNoClients(KRFlumera& owner, int state) {
  ServerParts& parts = *owner.Parts();
  if (parts.AdmittedTotal() != 0) return;
  const KRStreamStates now = owner.GetCurState();
  if (now != KRS_PRIME && now != KRS_PLAY && now != KRS_PAUSE) return;
  if (state == KRS_PAUSE && now == KRS_PAUSE) return;  // the monitor's rule
  parts.rtpSender.Reopen();
  // The host reads the state when the message arrives: move first.
  owner.MoveState(static_cast<KRStreamStates>(state));
  owner.SendMsgToApp(KRM_NO_CLIENTS, nullptr, 0, 0);
}

// ------------------------------------------------------------ SDP

namespace {
std::string Utf8(const wchar_t* text, size_t capacity) {
  const size_t n = wcsnlen(text, capacity);
  if (n == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, int(n), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(bytes > 0 ? bytes : 0), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, int(n), &out[0], bytes, nullptr, nullptr);
  return flumera::CutUtf8(out, 1024);
}
}  // namespace

std::string BuildSdpReply(KRFlumera& owner, long cseq, bool withBody) {
  _tagSESSIONINFO* s = owner.GetSessionInfo();
  flumera::SdpSession d;
  d.title = Utf8(s->title, 256);
  d.information = Utf8(s->information, 256);
  d.version = Utf8(s->version, 256);
  d.author = Utf8(s->author, 256);
  d.copyright = Utf8(s->copyright, 256);
  d.rating = Utf8(s->rating, 256);
  d.versionMajor = s->versionMajor;
  d.versionMinor = s->versionMinor;
  d.mediaMask = s->mediaMask;
  d.secondLayer = s->secondLayer != 0;
  d.videoOnlyAllowed = s->videoOnlyAllowed != 0;
  d.frameRateBase = s->frameRateBase;
  d.frameRateSecond = s->frameRateSecond;
  d.iFrameInterval = s->iFrameInterval;
  d.width = s->frameWidth;
  d.height = s->frameHeight;
  d.decodeBufferSize = s->decodeBufferSize;
  const KRTrackTable* table = s->trackTable;
  for (unsigned long i = 0; table && table->tracks && i < table->count && i < kMaxTracks; ++i) {
    const KRTrackRecord& r = table->tracks[i];
    flumera::SdpTrack t;
    t.kind = r.kind;
    t.bitRate = r.bitRate;
    t.versionMajor = r.versionMajor;
    t.versionMinor = r.versionMinor;
    t.config.assign(r.config, r.config + std::min<size_t>(r.configLength, sizeof r.config));
    t.payloadNumber = r.payloadNumber;
    d.tracks.push_back(std::move(t));
  }
  s->totalBitRate = flumera::TotalBitRate(d);
  return flumera::BuildDescribeReply(cseq, withBody ? flumera::BuildSdpBody(d) : std::string());
}

// ------------------------------------------------------------ listener

void RtspListener::Close() {
  Stop();
  socket_.Close();
  InterlockedExchange(&admitted, 0);
  InterlockedExchange(&playing, 0);
}

bool RtspListener::TimeOutHandler() {
  if (owner_.GetCurState() == KRS_STOPALL) return false;
  ServerParts& parts = *owner_.Parts();
  ClientLists& lists = parts.clients;

  // One wait for the listening socket and every connection of this port.
  fd_set read;
  FD_ZERO(&read);
  FD_SET(socket_.Handle(), &read);
  int connected = 0;
  lists.Lock();
  for (DESTLISTITEM* c : lists.all) {
    if (c->listener != index_) continue;
    ++connected;
    if (read.fd_count < FD_SETSIZE) FD_SET(c->socket, &read);
  }
  lists.Unlock();
  timeval tv = {0, 500 * 1000};
  const int ready = select(0, &read, nullptr, nullptr, &tv);
  if (owner_.GetCurState() == KRS_STOPALL) return false;
  if (ready > 0 && FD_ISSET(socket_.Handle(), &read)) AcceptClients(kMaxClients - connected);

  lists.Lock();
  if (ready > 0) {
    // Records may leave while requests are handled: walk a copy by identifier.
    std::vector<unsigned long> ids;
    for (DESTLISTITEM* c : lists.all)
      if (c->listener == index_ && FD_ISSET(c->socket, &read)) ids.push_back(c->id);
    for (unsigned long id : ids)
      if (DESTLISTITEM* c = lists.Find(id)) ProcessRequest(c);
  }
  const DWORD now = GetTickCount();
  AgeClients(lastPass_ == 0 ? 0 : now - lastPass_);
  lastPass_ = now;
  lists.Unlock();
  return true;
}

void RtspListener::AcceptClients(int room) {
  if (room <= 0) {
    // Full: take the connection and close it, so it does not wait for ever.
    SOCKET s = accept(socket_.Handle(), nullptr, nullptr);
    if (s != INVALID_SOCKET) closesocket(s);
    return;
  }
  sockaddr_in peer = {};
  int len = sizeof peer;
  SOCKET s = accept(socket_.Handle(), reinterpret_cast<sockaddr*>(&peer), &len);
  if (s == INVALID_SOCKET) return;
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  BOOL noDelay = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
  auto* c = new DESTLISTITEM;
  c->socket = s;
  c->peer = peer;
  c->status = kClientConnected;
  c->listener = index_;
  c->id = owner_.NextClientId();
  ClientLists& lists = owner_.Parts()->clients;
  lists.Lock();
  lists.all.push_back(c);
  lists.Unlock();
}

void RtspListener::AgeClients(unsigned long elapsed) {
  ServerParts& parts = *owner_.Parts();
  const unsigned long silence = owner_.GetSystemParameters()->silenceMs;
  const bool monitored = (owner_.GetSessionInfo()->outputMask & 2) != 0;
  bool droppedAdmitted = false;
  std::vector<DESTLISTITEM*> drop;
  for (DESTLISTITEM* c : parts.clients.all) {
    if (c->listener != index_) continue;
    if (c->broken) {
      drop.push_back(c);
    } else if (c->status == kClientSetUp || (c->status == kClientConnected && !monitored)) {
      // Without the client monitor nobody else ages a silent connection.
      c->inactivity += elapsed;
      if (c->inactivity >= silence) drop.push_back(c);
    } else if (c->status == kClientPaused) {
      drop.push_back(c);
    }
  }
  for (DESTLISTITEM* c : drop) {
    droppedAdmitted |= c->counted;
    // The host hears of every device client that goes, whichever thread
    // found it silent first.
    if (c->kind == 2 && c->status != kClientPaused) Notice(owner_, c->broken ? 1 : 2, c);
    DropClient(owner_, c);
  }
  // Only this client goes; the others stay served.
  if (droppedAdmitted) CheckNoClients(owner_, KRS_PRIME);
}

void RtspListener::ProcessRequest(DESTLISTITEM* c) {
  char buf[flumera::RequestReader::kMaxRequest];
  const size_t room = flumera::RequestReader::kMaxRequest - c->reader.Pending();
  const int n = recv(c->socket, buf, int(room == 0 ? 1 : room), 0);
  if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
  if (n <= 0) {
    if (c->kind == 2) Notice(owner_, 1, c);
    const bool admitted = c->counted;
    DropClient(owner_, c);
    if (admitted) CheckNoClients(owner_, KRS_PRIME);
    return;
  }
  const unsigned long id = c->id;
  c->reader.Append(buf, size_t(n));
  ClientLists& lists = owner_.Parts()->clients;
  for (;;) {
    std::string_view request;
    const auto r = c->reader.Next(&request);
    if (r == flumera::RequestReader::kNeedMore) return;
    if (r == flumera::RequestReader::kTooLong) {
      // No end in sight: nothing behind it can be read as a request.
      c->Send(flumera::ErrorReply(400, std::string_view()));
      const bool admitted = c->counted;
      DropClient(owner_, c);
      if (admitted) CheckNoClients(owner_, KRS_PRIME);
      return;
    }
    const std::string text(request);
    c->reader.Consume();
    Dispatch(text, c);
    if (lists.Find(id) != c) return;  // the request ended the client
  }
}

void RtspListener::Dispatch(std::string_view r, DESTLISTITEM* c) {
  switch (flumera::MethodOf(r)) {
    case RtspMethod::kDescribe: OnDescribe(r, c); break;
    case RtspMethod::kSetup: OnSetup(r, c); break;
    case RtspMethod::kPlay: OnPlay(r, c); break;
    case RtspMethod::kPause:
    case RtspMethod::kTeardown: OnPause(r, c); break;
    case RtspMethod::kGetParameter: OnGetParameter(r, c); break;
    default: SendError(400, r, c); break;
  }
}

void RtspListener::SendError(int code, std::string_view r, DESTLISTITEM* c) { c->Send(flumera::ErrorReply(code, r)); }

void RtspListener::RefuseSession(std::string_view r, DESTLISTITEM* c) {
  SendError(400, r, c);
  const bool admitted = c->counted;
  DropClient(owner_, c);
  if (admitted) CheckNoClients(owner_, KRS_PRIME);
}

void RtspListener::OnDescribe(std::string_view r, DESTLISTITEM* c) {
  const _tagPRODUCTCONFIGINFO& product = *owner_.GetProdConfigInfo();
  const long cseq = flumera::ReadCSeq(r);
  bool ok = !flumera::Contains(r, "Orlomer");
  if (ok && c->kind == 0 && (product.clientKinds & 1)) c->kind = 1;
  if (ok) {
    if (c->kind == 1)
      ok = c->status == kClientConnected;
    else if (c->kind == 2)
      ok = c->status == kClientSetUp;
    else
      ok = false;  // a client this server offers nothing to
  }
  ok = ok && flumera::IsLivePath(r) && cseq >= 0;
  if (!ok) {
    // Every refusal ends the connection.
    RefuseSession(r, c);
    return;
  }
  c->Send(BuildSdpReply(owner_, cseq, c->kind == 1));
}

void RtspListener::OnSetup(std::string_view r, DESTLISTITEM* c) {
  KRFlumera& owner = owner_;
  ServerParts& parts = *owner.Parts();
  const _tagPRODUCTCONFIGINFO& product = *owner.GetProdConfigInfo();
  const _tagSESSIONINFO& session = *owner.GetSessionInfo();
  c->listener = index_;
  if (c->status != kClientConnected) {
    SendError(400, r, c);
    if (c->status != kClientSetUp && c->status != kClientPlaying) {
      const bool admitted = c->counted;
      DropClient(owner, c);
      if (admitted) CheckNoClients(owner, KRS_PRIME);
    }
    return;
  }
  const bool device = flumera::Contains(r, "Device:");
  if (static_cast<unsigned long>(admitted) >= product.maxClientsPerListener) {
    SendError(503, r, c);
    if (device) Notice(owner, 5, c);
    DropClient(owner, c);
    return;
  }
  c->setupLine = flumera::FirstLine(r);
  if (session.totalBitRate / 8 > 0) {
    const int size = int(std::min<unsigned long>(session.totalBitRate / 8, 0x7FFFFFFF));
    setsockopt(c->socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof size);
  }
  c->setupCSeq = flumera::ReadCSeq(r);
  c->cseqLine = flumera::HeaderLine(r, "CSeq:");
  c->transport = flumera::HeaderLine(r, "Transport:");
  flumera::ReadClientPorts(r, &c->clientPort1, &c->clientPort2);
  flumera::SetupReplyInfo info;
  info.session = session.sessionNumber;

  if (device) {
    if (!(product.clientKinds & 2)) {
      DropClient(owner, c);
      return;
    }
    const unsigned long most = product.listenerPorts * product.maxClientsPerListener - product.maxFramedClients;
    unsigned long devices = 0;
    for (DESTLISTITEM* d : parts.clients.all) devices += d->kind == 2 && d->counted;
    if (devices >= most) {
      Notice(owner, 5, c);
      return;
    }
    c->kind = 2;
    if ((product.admissionFlags >> 8) & 0xFF) {
      AskHost(owner, r, c);
      return;
    }
    owner.StartOutputsOnAdmission(true);
    info.serverPort1 = session.udpPort1;
    info.serverPort2 = session.udpPort2;
    info.maxPacketSize = 1024;
    info.rtcpInterval = owner.GetSystemParameters()->monitorInterval;
    c->Send(flumera::SetupReplyText(r, info));
    c->status = kClientAwaitingRegistration;
    parts.udp1.Register(c);
  } else {
    if (!(product.clientKinds & 1)) {
      SendError(503, r, c);
      return;
    }
    unsigned long framed = 0;
    for (DESTLISTITEM* d : parts.clients.all) framed += d->kind == 1 && d->counted;
    if (framed >= product.maxFramedClients) {
      SendError(503, r, c);
      DropClient(owner, c);
      return;
    }
    c->kind = 1;
    if (product.admissionFlags & 0xFF) {
      // A held SETUP is offered to the host as a device's is: held with
      // nobody asked, it would wait for a verdict that never comes.
      AskHost(owner, r, c);
      return;
    }
    owner.StartOutputsOnAdmission(false);
    info.serverPort1 = info.serverPort2 = port_;
    c->Send(flumera::SetupReplyText(r, info));
    c->status = kClientSetUp;
  }
  c->inactivity = 0;
  c->counted = true;
  InterlockedIncrement(&admitted);
}

void RtspListener::OnPlay(std::string_view r, DESTLISTITEM* c) {
  KRFlumera& owner = owner_;
  ServerParts& parts = *owner.Parts();
  const unsigned long number = owner.GetSessionInfo()->sessionNumber;
  unsigned long session = 0;
  if (!flumera::ReadSession(r, &session) || session != number) {
    RefuseSession(r, c);
    return;
  }
  char line[64];
  std::snprintf(line, sizeof line, "Session:%lu\r\n", number);
  if (c->status == kClientPaused) {
    c->status = kClientPlaying;
    c->inactivity = 0;
    owner.ResumeByClient();
    c->Send(flumera::OkReply(r, line));
    owner.SendMsgToApp(KRM_CLIENT_PLAYING, nullptr, 0, 1);
    return;
  }
  if (c->status != kClientSetUp) {
    SendError(400, r, c);
    return;
  }
  if (c->kind == 1) {
    parts.clients.framed.push_back(c);
  } else if (c->kind == 2) {
    parts.udp1.Unregister(c->id);
    parts.clients.device.push_back(c);
  } else {
    SendError(400, r, c);
    return;
  }
  c->Send(flumera::OkReply(r, line));
  c->status = kClientPlaying;
  c->inactivity = 0;
  const KRStreamStates state = owner.GetCurState();
  if (state == KRS_PRIME || state == KRS_PAUSE) {
    owner.SendMsgToApp(KRM_CLIENT_PLAYING, nullptr, 0, 0);
    InterlockedIncrement(&playing);
  }
}

void RtspListener::OnPause(std::string_view r, DESTLISTITEM* c) {
  KRFlumera& owner = owner_;
  unsigned long session = 0;
  if (!flumera::ReadSession(r, &session) || session != owner.GetSessionInfo()->sessionNumber) {
    RefuseSession(r, c);
    return;
  }
  if (flumera::HeaderLine(r, "CSeq:").empty()) {
    SendError(400, r, c);
    return;
  }
  c->Send(flumera::OkReply(r, ""));
  if (c->kind == 2) Notice(owner, 1, c);
  owner.MoveState(KRS_PAUSE);
  owner.SendMsgToApp(KRM_PAUSED_BY_CLIENT, nullptr, 0, 0);
  c->status = kClientPaused;
  c->inactivity = 0;
}

void RtspListener::OnGetParameter(std::string_view r, DESTLISTITEM* c) {
  const _tagSESSIONINFO& s = *owner_.GetSessionInfo();
  unsigned long session = 0;
  if (!flumera::ReadSession(r, &session) || session != s.sessionNumber) {
    RefuseSession(r, c);
    return;
  }
  if (flumera::HeaderLine(r, "CSeq:").empty()) {
    SendError(400, r, c);
    return;
  }
  char line[160];
  std::string headers;
  if (flumera::Contains(r, "Content-Type:")) {
    const time_t now = time(nullptr);
    std::string date = ctime(&now);
    while (!date.empty() && (date.back() == '\n' || date.back() == '\r')) date.pop_back();
    headers = "Date: " + date + "\r\n";
  } else {
    std::snprintf(line, sizeof line, "Session: %lu\r\n", s.sessionNumber);
    headers = line;
  }
  // The image header is a fixed 64-byte field of the session record.
  const size_t headerLength = std::min<size_t>(s.stillHeaderLength, sizeof s.stillHeader);
  const size_t imageLength = s.stillImage ? s.stillImageLength : 0;
  std::snprintf(line, sizeof line, "Content-Type: image/x-kr-mp4\r\nContent-Length: %u\r\n",
                unsigned(headerLength + imageLength));
  headers += line;
  std::string reply = flumera::OkReply(r, headers);
  reply.append(reinterpret_cast<const char*>(s.stillHeader), headerLength);
  if (imageLength) reply.append(reinterpret_cast<const char*>(s.stillImage), imageLength);
  c->Send(reply);
}
