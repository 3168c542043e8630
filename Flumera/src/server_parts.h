// The controller's parts that later stages fill in: one RTSP listener per
// port, the two UDP side channels, the client monitor and the three outputs.
// Here they hold their sockets, threads and queues and stop cleanly; the
// RTSP dialogue, the UDP registration and the senders plug in behind them.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include "flumera/athread.h"
#include "flumera/msg_data_list.h"

class KRFlumera;

// Socket opening shared by every socket of the server: 0 success, 3 no
// socket, 4 bind failed, 5 listen failed (a half-made socket is closed).
enum SocketOpenResult { kSocketOk = 0, kSocketNone = 3, kSocketBind = 4, kSocketListen = 5 };

class NetSocket {
 public:
  ~NetSocket() { Close(); }
  int Open(int type, unsigned short port);
  void Close();
  SOCKET Handle() const { return socket_; }
  int LastError() const { return error_; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
  int error_ = 0;
};

// A server thread that polls (time-out handler) until the controller stops.
class PollingThread : public AThread {
 public:
  PollingThread(KRFlumera& owner, unsigned long intervalMs) : owner_(owner), interval_(intervalMs) {}
  bool Start();
  void Stop() { Terminate(); }
  void SetInterval(unsigned long ms) { interval_ = ms; }
  bool TimeOutHandler() override;

 protected:
  KRFlumera& owner_;
  unsigned long interval_;
};

// One per RTSP port.
class RtspListener : public PollingThread {
 public:
  RtspListener(KRFlumera& owner, int index) : PollingThread(owner, 500), index_(index) {}
  int OpenSocket(unsigned short port) {
    port_ = port;
    return socket_.Open(SOCK_STREAM, port);
  }
  int SocketError() const { return socket_.LastError(); }
  // Ends the thread, closes the listening socket and resets the counts.
  void Close();
  unsigned short Port() const { return port_; }

  volatile long admitted = 0;
  long playing = 0;

 private:
  NetSocket socket_;
  unsigned short port_ = 0;
  int index_;
};

class UdpChannel : public PollingThread {
 public:
  explicit UdpChannel(KRFlumera& owner) : PollingThread(owner, 500) {}
  int OpenSocket(unsigned short port) { return socket_.Open(SOCK_DGRAM, port); }
  int SocketError() const { return socket_.LastError(); }
  void Close() {
    Stop();
    socket_.Close();
  }

 private:
  NetSocket socket_;
};

// An output (UDP/RTP sender, TCP sender, archive): while running it owns the
// media items handed to it; stopping frees what it still holds.
class MediaOutput {
 public:
  explicit MediaOutput(KRFlumera& owner) : owner_(owner) {}
  ~MediaOutput();
  void Open() {}
  void Start() { running_ = true; }
  void Stop();
  bool IsRunning() const { return running_; }
  void Take(MsgItem* item) { queue_.Insert(item); }
  int Queued() { return queue_.GetCount(); }

 private:
  KRFlumera& owner_;
  bool running_ = false;
  MsgDataList queue_;
};

class ServerParts {
 public:
  ServerParts(KRFlumera& owner, int listenerCount);
  ~ServerParts();
  ServerParts(const ServerParts&) = delete;
  ServerParts& operator=(const ServerParts&) = delete;

  int listenerCount;
  RtspListener** listeners;
  UdpChannel udp1, udp2;
  PollingThread monitor;
  MediaOutput rtpSender, tcpSender, archive;
};
