// The few socket calls the streaming client makes, behind our own names so
// that the socket layer and RTP reception build natively as well as for
// Windows (net_posix.cpp / net_win32.cpp). IPv4 only.
#pragma once

#include <cstdint>

namespace streaming::net {

using Socket = intptr_t;
constexpr Socket kNoSocket = -1;

enum Result : int32_t {
  kOk = 0,
  kWouldBlock = 1,  // non-blocking operation under way
  kTooLarge = 2,    // datagram larger than the buffer; it was cut
  kClosed = 3,      // the peer closed the connection
  kFailed = 4,
};

bool Startup();
void Cleanup();

Socket OpenTcp();
Socket OpenUdp();
bool SetNonBlocking(Socket s);
// Dotted text or a host name; the address in network byte order.
bool Resolve(const char* host, uint32_t& address);
Result Connect(Socket s, uint32_t address, uint16_t port);
// After Connect said kWouldBlock: kOk connected, kWouldBlock still pending,
// kFailed refused or unreachable (known at once, not at a time-out).
Result PollConnect(Socket s, uint32_t waitMicroseconds);
bool Bind(Socket s, uint16_t port);  // INADDR_ANY
uint16_t LocalPort(Socket s);

// Each returns the byte count, or -1 with the reason in 'result'.
int32_t Send(Socket s, const void* data, uint32_t length, Result& result);
int32_t SendTo(Socket s, const void* data, uint32_t length, uint32_t address, uint16_t port, Result& result);
int32_t Recv(Socket s, void* data, uint32_t length, Result& result);
// A datagram larger than length gives length bytes and kTooLarge.
int32_t RecvFrom(Socket s, void* data, uint32_t length, Result& result);

// Waits up to waitMicroseconds; readable[i] is set for each readable socket.
// Returns the number readable, or -1 on failure.
int32_t SelectReadable(const Socket* sockets, uint32_t count, uint32_t waitMicroseconds, bool* readable);

void Close(Socket s);  // shut down both ways, then close

}  // namespace streaming::net
