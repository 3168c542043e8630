// Windows Sockets 2.2 for the player.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "streaming/net.h"

namespace streaming::net {

namespace {
sockaddr_in address(uint32_t addr, uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = addr;
  a.sin_port = htons(port);
  return a;
}

Result lastError() {
  const int e = WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINPROGRESS) return kWouldBlock;
  if (e == WSAEMSGSIZE) return kTooLarge;
  return kFailed;
}

SOCKET raw(Socket s) { return static_cast<SOCKET>(s); }
Socket wrap(SOCKET s) { return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s); }
}  // namespace

bool Startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void Cleanup() { WSACleanup(); }

Socket OpenTcp() { return wrap(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }
Socket OpenUdp() { return wrap(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)); }

bool SetNonBlocking(Socket s) {
  u_long on = 1;
  return ::ioctlsocket(raw(s), FIONBIO, &on) == 0;
}

bool Resolve(const char* host, uint32_t& out) {
  const unsigned long a = ::inet_addr(host);
  if (a != INADDR_NONE) {
    out = a;
    return true;
  }
  hostent* h = ::gethostbyname(host);
  if (!h || h->h_addrtype != AF_INET || !h->h_addr_list[0]) return false;
  std::memcpy(&out, h->h_addr_list[0], 4);
  return true;
}

Result Connect(Socket s, uint32_t addr, uint16_t port) {
  sockaddr_in a = address(addr, port);
  if (::connect(raw(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return kOk;
  return lastError();
}

Result PollConnect(Socket s, uint32_t waitMicroseconds) {
  fd_set w, e;
  FD_ZERO(&w);
  FD_ZERO(&e);
  FD_SET(raw(s), &w);
  FD_SET(raw(s), &e);
  timeval tv{long(waitMicroseconds / 1000000), long(waitMicroseconds % 1000000)};
  const int n = ::select(0, nullptr, &w, &e, &tv);
  if (n == SOCKET_ERROR) return kFailed;
  // A refused connect shows in the exception set at once.
  if (FD_ISSET(raw(s), &e)) return kFailed;
  return FD_ISSET(raw(s), &w) ? kOk : kWouldBlock;
}

bool Bind(Socket s, uint16_t port) {
  sockaddr_in a = address(htonl(INADDR_ANY), port);
  return ::bind(raw(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

uint16_t LocalPort(Socket s) {
  sockaddr_in a{};
  int len = sizeof a;
  if (::getsockname(raw(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

int32_t Send(Socket s, const void* data, uint32_t length, Result& result) {
  const int n = ::send(raw(s), static_cast<const char*>(data), int(length), 0);
  result = n == SOCKET_ERROR ? lastError() : kOk;
  return n == SOCKET_ERROR ? -1 : n;
}

int32_t SendTo(Socket s, const void* data, uint32_t length, uint32_t addr, uint16_t port, Result& result) {
  sockaddr_in a = address(addr, port);
  const int n = ::sendto(raw(s), static_cast<const char*>(data), int(length), 0, reinterpret_cast<sockaddr*>(&a),
                         sizeof a);
  result = n == SOCKET_ERROR ? lastError() : kOk;
  return n == SOCKET_ERROR ? -1 : n;
}

int32_t Recv(Socket s, void* data, uint32_t length, Result& result) {
  const int n = ::recv(raw(s), static_cast<char*>(data), int(length), 0);
  result = n == SOCKET_ERROR ? lastError() : n == 0 ? kClosed : kOk;
  return n == SOCKET_ERROR ? -1 : n;
}

int32_t RecvFrom(Socket s, void* data, uint32_t length, Result& result) {
  const int n = ::recvfrom(raw(s), static_cast<char*>(data), int(length), 0, nullptr, nullptr);
  if (n == SOCKET_ERROR) {
    result = lastError();
    // WSAEMSGSIZE: the buffer holds the first bytes of a longer datagram.
    return result == kTooLarge ? int32_t(length) : -1;
  }
  result = kOk;
  return n;
}

int32_t SelectReadable(const Socket* sockets, uint32_t count, uint32_t waitMicroseconds, bool* readable) {
  if (count > FD_SETSIZE) return -1;
  fd_set r;
  FD_ZERO(&r);
  for (uint32_t i = 0; i < count; ++i) FD_SET(raw(sockets[i]), &r);
  timeval tv{long(waitMicroseconds / 1000000), long(waitMicroseconds % 1000000)};
  const int n = ::select(0, &r, nullptr, nullptr, &tv);
  if (n == SOCKET_ERROR) return -1;
  for (uint32_t i = 0; i < count; ++i) readable[i] = FD_ISSET(raw(sockets[i]), &r) != 0;
  return n;
}

void Close(Socket s) {
  if (s == kNoSocket) return;
  ::shutdown(raw(s), SD_BOTH);
  ::closesocket(raw(s));
}

}  // namespace streaming::net
