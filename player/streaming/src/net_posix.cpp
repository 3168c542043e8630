// POSIX sockets for the native build.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

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

Result fromErrno() {
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINPROGRESS) return kWouldBlock;
  return kFailed;
}
}  // namespace

bool Startup() { return true; }
void Cleanup() {}

Socket OpenTcp() {
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  return s < 0 ? kNoSocket : s;
}

Socket OpenUdp() {
  int s = ::socket(AF_INET, SOCK_DGRAM, 0);
  return s < 0 ? kNoSocket : s;
}

bool SetNonBlocking(Socket s) {
  int flags = ::fcntl(int(s), F_GETFL, 0);
  return flags >= 0 && ::fcntl(int(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool Resolve(const char* host, uint32_t& out) {
  in_addr a{};
  if (::inet_pton(AF_INET, host, &a) == 1) {
    out = a.s_addr;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* res = nullptr;
  if (::getaddrinfo(host, nullptr, &hints, &res) != 0 || !res) return false;
  out = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(res);
  return true;
}

Result Connect(Socket s, uint32_t addr, uint16_t port) {
  sockaddr_in a = address(addr, port);
  if (::connect(int(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return kOk;
  return fromErrno();
}

Result PollConnect(Socket s, uint32_t waitMicroseconds) {
  fd_set w;
  FD_ZERO(&w);
  FD_SET(int(s), &w);
  timeval tv{time_t(waitMicroseconds / 1000000), suseconds_t(waitMicroseconds % 1000000)};
  int n = ::select(int(s) + 1, nullptr, &w, nullptr, &tv);
  if (n < 0) return kFailed;
  if (n == 0) return kWouldBlock;
  int error = 0;
  socklen_t len = sizeof error;
  if (::getsockopt(int(s), SOL_SOCKET, SO_ERROR, &error, &len) != 0 || error != 0) return kFailed;
  return kOk;
}

bool Bind(Socket s, uint16_t port) {
  sockaddr_in a = address(htonl(INADDR_ANY), port);
  return ::bind(int(s), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

uint16_t LocalPort(Socket s) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(int(s), reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

int32_t Send(Socket s, const void* data, uint32_t length, Result& result) {
  ssize_t n = ::send(int(s), data, length, MSG_NOSIGNAL);
  result = n < 0 ? fromErrno() : kOk;
  return n < 0 ? -1 : int32_t(n);
}

int32_t SendTo(Socket s, const void* data, uint32_t length, uint32_t addr, uint16_t port, Result& result) {
  sockaddr_in a = address(addr, port);
  ssize_t n = ::sendto(int(s), data, length, 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
  result = n < 0 ? fromErrno() : kOk;
  return n < 0 ? -1 : int32_t(n);
}

int32_t Recv(Socket s, void* data, uint32_t length, Result& result) {
  ssize_t n = ::recv(int(s), data, length, 0);
  result = n < 0 ? fromErrno() : n == 0 ? kClosed : kOk;
  return n < 0 ? -1 : int32_t(n);
}

int32_t RecvFrom(Socket s, void* data, uint32_t length, Result& result) {
  ssize_t n = ::recv(int(s), data, length, MSG_TRUNC);
  if (n < 0) {
    result = fromErrno();
    return -1;
  }
  if (size_t(n) > length) {
    result = kTooLarge;
    return int32_t(length);
  }
  result = kOk;
  return int32_t(n);
}

int32_t SelectReadable(const Socket* sockets, uint32_t count, uint32_t waitMicroseconds, bool* readable) {
  fd_set r;
  FD_ZERO(&r);
  int top = -1;
  for (uint32_t i = 0; i < count; ++i) {
    if (sockets[i] < 0 || sockets[i] >= FD_SETSIZE) return -1;
    FD_SET(int(sockets[i]), &r);
    if (int(sockets[i]) > top) top = int(sockets[i]);
  }
  timeval tv{time_t(waitMicroseconds / 1000000), suseconds_t(waitMicroseconds % 1000000)};
  int n = ::select(top + 1, &r, nullptr, nullptr, &tv);
  if (n < 0) return -1;
  for (uint32_t i = 0; i < count; ++i) readable[i] = FD_ISSET(int(sockets[i]), &r);
  return n;
}

void Close(Socket s) {
  if (s == kNoSocket) return;
  ::shutdown(int(s), SHUT_RDWR);
  ::close(int(s));
}

}  // namespace streaming::net
