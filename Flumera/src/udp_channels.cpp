// The UDP side channels of device (kind-2) clients and the client monitor.
#include <winsock2.h>

#include <algorithm>

#include "flumera/kr_flumera.h"
#include "server_parts.h"

namespace {

unsigned long Ipv4(const sockaddr_in& a) { return a.sin_addr.s_addr; }

// Reads one datagram (at most 16 bytes) when one is there within `ms`.
int ReadDatagram(SOCKET s, DWORD ms, char* buf, sockaddr_in* from) {
  fd_set read;
  FD_ZERO(&read);
  FD_SET(s, &read);
  timeval tv = {long(ms / 1000), long(ms % 1000) * 1000};
  if (select(0, &read, nullptr, nullptr, &tv) != 1) return -1;
  int len = sizeof *from;
  return recvfrom(s, buf, 16, 0, reinterpret_cast<sockaddr*>(from), &len);
}

}  // namespace

UdpRegisterThread::UdpRegisterThread(KRFlumera& owner) : PollingThread(owner, 10) { InitializeCriticalSection(&lock_); }

UdpRegisterThread::~UdpRegisterThread() {
  Terminate();
  DeleteCriticalSection(&lock_);
}

void UdpRegisterThread::Close() {
  Stop();
  socket_.Close();
  EnterCriticalSection(&lock_);
  pending_.clear();
  LeaveCriticalSection(&lock_);
}

void UdpRegisterThread::Register(DESTLISTITEM* c) {
  EnterCriticalSection(&lock_);
  pending_.push_back({c->id, Ipv4(c->peer)});
  LeaveCriticalSection(&lock_);
}

void UdpRegisterThread::Unregister(unsigned long id) {
  EnterCriticalSection(&lock_);
  pending_.erase(std::remove_if(pending_.begin(), pending_.end(), [id](const Entry& e) { return e.id == id; }),
                 pending_.end());
  LeaveCriticalSection(&lock_);
}

bool UdpRegisterThread::TimeOutHandler() {
  if (owner_.GetCurState() == KRS_STOPALL) return false;
  char buf[16];
  sockaddr_in from = {};
  const int n = ReadDatagram(socket_.Handle(), 20, buf, &from);
  if (n <= 0) return true;
  ClientLists& lists = owner_.Parts()->clients;
  // Lock order: all clients, then the registrations.
  lists.Lock();
  EnterCriticalSection(&lock_);
  for (auto it = pending_.begin(); it != pending_.end(); ++it) {
    if (it->address != Ipv4(from)) continue;
    DESTLISTITEM* c = lists.Find(it->id);
    if (c == nullptr) {
      pending_.erase(it);  // its client has gone
      break;
    }
    c->udpAddress = from;
    c->udpSocket = socket_.Handle();
    c->status = kClientSetUp;
    c->inactivity = 0;
    // The first 8 bytes come back (fewer when the datagram is shorter).
    sendto(socket_.Handle(), buf, std::min(n, 8), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    break;
  }
  LeaveCriticalSection(&lock_);
  lists.Unlock();
  return true;
}

bool UdpKeepAliveThread::TimeOutHandler() {
  if (owner_.GetCurState() == KRS_STOPALL) return false;
  ClientLists& lists = owner_.Parts()->clients;
  char buf[16];
  sockaddr_in from = {};
  while (ReadDatagram(socket_.Handle(), 0, buf, &from) >= 0) {
    lists.Lock();
    for (DESTLISTITEM* c : lists.all) {
      if (Ipv4(c->peer) == Ipv4(from)) {
        c->inactivity = 0;
        break;
      }
    }
    lists.Unlock();
  }
  return true;
}

bool ClientMonitor::TimeOutHandler() {
  if (owner_.GetCurState() == KRS_STOPALL) return false;
  ServerParts& parts = *owner_.Parts();
  const _tagSYSTEMPARAMETERS& sys = *owner_.GetSystemParameters();
  parts.clients.Lock();
  std::vector<DESTLISTITEM*> picked;
  for (DESTLISTITEM* c : parts.clients.all) {
    c->inactivity += interval_;
    if (c->status == kClientPlaying) {
      if (c->kind == 2 && c->inactivity > sys.monitorInterval * sys.monitorCount) picked.push_back(c);
    } else if (c->inactivity > sys.silenceMs) {
      picked.push_back(c);
    }
  }
  bool droppedAdmitted = false;
  for (DESTLISTITEM* c : picked) {
    if (c->kind == 2) {
      if (unsigned char* r = MakeClientRecord(2, c->peer, std::string()))
        owner_.SendMsgToApp(KRM_CLIENT_NOTICE, r, 292, 0);
    }
    droppedAdmitted |= c->counted;
    DropClient(owner_, c);
  }
  if (droppedAdmitted) CheckNoClients(owner_, KRS_PAUSE);
  parts.clients.Unlock();
  return true;
}
