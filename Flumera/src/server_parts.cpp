#include "server_parts.h"

#include "flumera/kr_flumera.h"

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

bool PollingThread::TimeOutHandler() { return owner_.GetCurState() != KRS_STOPALL; }

void RtspListener::Close() {
  Stop();
  socket_.Close();
  InterlockedExchange(&admitted, 0);
  playing = 0;
}

MediaOutput::~MediaOutput() { Stop(); }

void MediaOutput::Stop() {
  running_ = false;
  while (MsgItem* item = queue_.Pop()) {
    owner_.FreeMediaBuffer(item->data, item->length);
    FreeMsgItem(item);
  }
}

ServerParts::ServerParts(KRFlumera& owner, int count)
    : listenerCount(count), listeners(new RtspListener*[count > 0 ? count : 1]), udp1(owner), udp2(owner),
      monitor(owner, 500), rtpSender(owner), tcpSender(owner), archive(owner) {
  for (int i = 0; i < count; ++i) listeners[i] = new RtspListener(owner, i);
}

ServerParts::~ServerParts() {
  for (int i = 0; i < listenerCount; ++i) delete listeners[i];
  delete[] listeners;
}
