// Every socket of a streaming session: the RTSP connection of each
// presentation and one RTP/RTCP UDP pair per stream, in one poll table that
// the media data task reads; the probe exchange before PLAY.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "streaming/net.h"

namespace streaming {

constexpr uint32_t kMaxStreams = 4;
constexpr uint32_t kPollTableSize = 12;
constexpr uint32_t kProbeCount = 9;

enum SocketKind : int32_t { kSocketTcp = 0, kSocketRtp = 1, kSocketRtcp = 2 };

// Streaming client result codes used here.
enum StreamResult : int32_t {
  kResultNone = 0,
  kResultDone = 1,
  kResultHostNotFound = 2,
  kResultUnknownPresentation = 5,
  kResultBadStream = 6,
  kResultSocketFailure = 14,
  kResultPending = 21,
};

struct PresentationSockets {
  int32_t id = 0;
  net::Socket tcp = net::kNoSocket;
  bool connected = false;
  net::Socket rtp[kMaxStreams] = {net::kNoSocket, net::kNoSocket, net::kNoSocket, net::kNoSocket};
  net::Socket rtcp[kMaxStreams] = {net::kNoSocket, net::kNoSocket, net::kNoSocket, net::kNoSocket};
  uint32_t serverAddress = 0;  // network byte order
  uint16_t clientRtpPort[kMaxStreams] = {};
  uint16_t clientRtcpPort[kMaxStreams] = {};
  uint16_t serverRtpPort[kMaxStreams] = {};
  uint16_t serverRtcpPort[kMaxStreams] = {};
  bool receiveEnabled[kMaxStreams] = {};
  uint32_t probeToken[kMaxStreams] = {};
  uint32_t probeSequence[kMaxStreams] = {};
  uint32_t roundTrip[kMaxStreams] = {};
  uint32_t probeSent[kMaxStreams][kProbeCount] = {};
  bool probeAnswered[kMaxStreams] = {};
  uint32_t streamCount = 0;
  std::atomic<bool> ended{false};
  uint32_t startTime = 0;
};

struct PollEntry {
  net::Socket* socket;  // the handle word inside its presentation entry
  PresentationSockets* entry;
  uint32_t stream;
  int32_t kind;
};

class SocketLayer {
 public:
  explicit SocketLayer(uint16_t firstPort = 7000, uint16_t endPort = 8000);
  virtual ~SocketLayer();
  SocketLayer(const SocketLayer&) = delete;
  SocketLayer& operator=(const SocketLayer&) = delete;

  int32_t Startup();
  int32_t Cleanup();
  // Called until it stops answering 21: 1 connected, 2 host not found, 14
  // failure (a refused connect is known at once).
  int32_t ConnectTcp(int32_t presentation, const char* host, uint16_t port);
  int32_t OpenRtpSocket(int32_t presentation, uint32_t stream, uint16_t& port);
  int32_t GetRtcpPort(int32_t presentation, uint32_t stream, uint16_t& port);
  int32_t CloseEntry(int32_t presentation);
  int32_t CloseRtpSocket(int32_t presentation, uint32_t stream);
  int32_t CloseRtcpSocket(int32_t presentation, uint32_t stream);
  int32_t Send(int32_t presentation, const void* data, uint32_t length);
  int32_t SendTo(int32_t presentation, uint32_t stream, const void* data, uint32_t length);
  int32_t SendToRtcp(int32_t presentation, uint32_t stream, const void* data, uint32_t length);
  // 1 every stream answered (or probing off), 21 going on, 0 gave up.
  int32_t Probe(int32_t presentation, bool enabled);
  static bool IsValidSocket(net::Socket s) { return s != net::kNoSocket; }
  static void CloseSocket(net::Socket s) { net::Close(s); }

  PresentationSockets* AddEntry(int32_t presentation);
  bool RemoveEntry(int32_t presentation);
  PresentationSockets* FindEntry(int32_t presentation);
  uint32_t GetStreamCount(int32_t presentation);
  int32_t SetServerPorts(int32_t presentation, uint32_t stream, uint16_t rtpPort, uint16_t rtcpPort);
  int32_t SetServerAddress(int32_t presentation, uint32_t address);
  bool IsEnded(int32_t presentation);
  void SetEnded(int32_t presentation);
  void ClearEnded(int32_t presentation);
  void EnableReceive(int32_t presentation, uint32_t stream);
  void SetProbeToken(int32_t presentation, uint32_t stream, uint32_t token);
  // One second between probes; shorter in tests.
  void SetProbeInterval(uint32_t ms) { probeInterval_ = ms; }

  uint32_t PollCount() const { return pollCount_; }
  const PollEntry& Poll(uint32_t i) const { return poll_[i]; }
  bool failed() const { return failure_.load(); }
  void SetFailed(bool on) { failure_.store(on); }
  const std::vector<std::unique_ptr<PresentationSockets>>& entries() const { return entries_; }

 private:
  int32_t OpenUdpPair(PresentationSockets& entry, uint32_t stream);
  int32_t CloseUdp(int32_t presentation, uint32_t stream, bool rtcp);
  bool AddPoll(net::Socket* socket, PresentationSockets* entry, uint32_t stream, int32_t kind);
  void RemovePoll(const net::Socket* socket);

  // Entries are added and removed in the session thread; the lock keeps
  // IsEnded, which reader threads call, off a vector being changed.
  std::mutex entriesLock_;
  std::vector<std::unique_ptr<PresentationSockets>> entries_;
  PollEntry poll_[kPollTableSize] = {};
  uint32_t pollCount_ = 0;
  uint16_t nextPort_;
  uint16_t endPort_;
  uint32_t waitBase_ = 5000;
  uint32_t probeInterval_ = 1000;
  std::atomic<bool> failure_{false};
};

}  // namespace streaming
