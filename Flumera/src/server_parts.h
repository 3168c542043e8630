// The controller's parts: one RTSP listener per port with the client
// records, the two UDP side channels, the client monitor and the three
// outputs (UDP/RTP sender, TCP sender, archive).
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "fileformat/mp4_writer_api.h"
#include "flumera/athread.h"
#include "flumera/kr_flumera.h"
#include "flumera/msg_data_list.h"
#include "flumera/rtp_packetizer.h"
#include "flumera/rtsp_request.h"


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

// Client status.
enum ClientStatus {
  kClientCreated = -1,
  kClientConnected = 0,
  kClientAwaitingVerdict = 1,
  kClientAwaitingRegistration = 2,
  kClientSetUp = 3,
  kClientPlaying = 4,
  kClientPaused = 6,
};

// Framed media bytes shared by every client they go to.
struct MediaBlock {
  std::vector<uint8_t> bytes;
  uint32_t start = 0, end = 0;  // milliseconds
  bool video = false, key = false;
  int layer = 0;
};

// One per RTSP connection; owned by the all-clients list.
struct DESTLISTITEM {
  DESTLISTITEM();
  ~DESTLISTITEM();
  DESTLISTITEM(const DESTLISTITEM&) = delete;
  DESTLISTITEM& operator=(const DESTLISTITEM&) = delete;
  // Sends the whole text on the connection under the send lock (the socket
  // is non-blocking: waits a bounded time for room). false when it failed.
  bool Send(const std::string& text);
  // Pushes the block in flight as far as the connection takes it without
  // waiting; true when nothing of it is left. Under the send lock.
  bool SendPartial();

  int kind = 0;  // 0 new, 1 media framed in the connection, 2 device (UDP)
  unsigned long inactivity = 0;  // milliseconds
  int status = kClientCreated;
  SOCKET socket = INVALID_SOCKET;
  CRITICAL_SECTION* sendLock;
  SOCKET udpSocket = INVALID_SOCKET;
  sockaddr_in udpAddress = {};
  sockaddr_in peer = {};
  long setupCSeq = -1;
  std::string setupLine;  // first line of its SETUP
  std::string transport;  // its Transport line
  std::string cseqLine;   // CSeq line of a SETUP that waits for its answer
  unsigned clientPort1 = 0, clientPort2 = 0;
  short listener = 0;
  unsigned long id = 0;
  long priority = 20;
  bool counted = false;  // raised its listener's admitted count
  flumera::RequestReader reader;
  // Media bytes in flight: a "$" frame is never cut by a reply.
  std::shared_ptr<MediaBlock> partial;
  size_t partialOffset = 0;
  bool broken = false;  // a send failed: the connection is lost
};

// The three client lists, all under one lock (the all-clients lock); the
// admitted lists point at records of the all-clients list.
class ClientLists {
 public:
  ClientLists();
  ~ClientLists();
  void Lock() { EnterCriticalSection(&lock_); }
  void Unlock() { LeaveCriticalSection(&lock_); }
  // Under the lock:
  DESTLISTITEM* Find(unsigned long id);
  void RemoveFromAdmitted(DESTLISTITEM* c);
  // Takes the record out of every list (not freed).
  void Remove(DESTLISTITEM* c);

  std::vector<DESTLISTITEM*> all, framed, device;

 private:
  CRITICAL_SECTION lock_;
};

class PollingThread : public AThread {
 public:
  PollingThread(KRFlumera& owner, unsigned long intervalMs) : owner_(owner), interval_(intervalMs) {}
  bool Start();
  void Stop() { Terminate(); }
  void SetInterval(unsigned long ms) { interval_ = ms; }

 protected:
  KRFlumera& owner_;
  unsigned long interval_;
};

// One per RTSP port: accepts connections, reads requests and answers them.
class RtspListener : public PollingThread {
 public:
  static constexpr int kMaxClients = 64;
  RtspListener(KRFlumera& owner, int index) : PollingThread(owner, 0), index_(short(index)) {}
  int OpenSocket(unsigned short port) {
    port_ = port;
    return socket_.Open(SOCK_STREAM, port);
  }
  int SocketError() const { return socket_.LastError(); }
  // Ends the thread, closes the listening socket and resets the counts.
  void Close();
  unsigned short Port() const { return port_; }
  bool TimeOutHandler() override;

  volatile long admitted = 0;
  volatile long playing = 0;

 private:
  void AcceptClients(int room);
  void ProcessRequest(DESTLISTITEM* c);
  void Dispatch(std::string_view request, DESTLISTITEM* c);
  void OnDescribe(std::string_view r, DESTLISTITEM* c);
  void OnSetup(std::string_view r, DESTLISTITEM* c);
  void OnPlay(std::string_view r, DESTLISTITEM* c);
  void OnPause(std::string_view r, DESTLISTITEM* c);
  void OnGetParameter(std::string_view r, DESTLISTITEM* c);
  void SendError(int code, std::string_view r, DESTLISTITEM* c);
  // Refusal of a wrong session: 400, the count lowered, the client dropped.
  void RefuseSession(std::string_view r, DESTLISTITEM* c);
  void AgeClients(unsigned long elapsed);

  NetSocket socket_;
  unsigned short port_ = 0;
  short index_;
  DWORD lastPass_ = 0;
};

// Drops a client (under the all-clients lock): out of every list, its
// registration gone, its listener's count lowered, socket closed, freed.
void DropClient(KRFlumera& owner, DESTLISTITEM* c);
// Sends message 12 and returns the controller to `state` when no admitted
// client is left; the UDP/RTP sender starts afresh. Under the lock.
void CheckNoClients(KRFlumera& owner, int state);
// The 292-byte client record of messages 6 and 14.
unsigned char* MakeClientRecord(unsigned long word, const sockaddr_in& peer, const std::string& id);
// The SDP of the live session (UTF-8 texts), and its total bit rate stored.
std::string BuildSdpReply(KRFlumera& owner, long cseq, bool withBody);

// An output thread: its data queue, data event and handler.
class StreamOutput : public AThread {
 public:
  explicit StreamOutput(KRFlumera& owner);
  ~StreamOutput() override;
  virtual void Open();
  virtual bool IsOpen() { return opened_; }
  virtual void Finish();
  virtual void Start();
  virtual bool Accept(MsgItem* item);
  virtual bool DataHandler() = 0;
  // Ends the thread and finishes what was opened.
  void Stop();
  // Queues the item when Accept agrees (else Accept has freed it).
  void Post(MsgItem* item);
  bool IsRunning() { return IsActive(); }

 protected:
  bool OnData() { return DataHandler(); }
  void ReleaseQueued();
  void FreeItem(MsgItem* item);

  KRFlumera& owner_;
  MsgDataList queue_;
  HANDLE dataEvent_ = nullptr;
  unsigned long waitTimeout_ = INFINITE;
  CRITICAL_SECTION outLock_;
  bool opened_ = false;
};

// Packetizes media as RTP and sends them "$"-framed in the RTSP connection
// of every admitted kind-1 client, each client with its own unsent bytes.
class UdpRtpSender : public StreamOutput {
 public:
  static constexpr uint32_t kLateMs = 4000;
  static constexpr DWORD kRetryMs = 10;
  static constexpr DWORD kFinishFlushMs = 3000;
  explicit UdpRtpSender(KRFlumera& owner);
  ~UdpRtpSender() override;
  void Open() override;
  void Start() override;
  bool Accept(MsgItem* item) override;
  bool DataHandler() override;
  bool TimeOutHandler() override;
  void Finish() override;
  // Forgets every client's state and the packetizers' progress: after the
  // last client left.
  void Reopen();

  struct ClientState;

 private:
  void MakePacketizers();
  void DeletePacketizers();
  void StartAfresh();
  void SendVideo(const uint8_t* data, int length, uint32_t stamp);
  void SendAudio(const uint8_t* data, int length, uint32_t stamp, uint32_t duration);
  std::shared_ptr<MediaBlock> TakeBlock(flumera::RtpPacketizer& p);
  // Whether a client still needs the layer's decoder configuration.
  bool AnyNeedsConfig(int layer);
  void Deliver(const std::shared_ptr<MediaBlock>& plain, const std::shared_ptr<MediaBlock>& withConfig);
  // Sends what every client has pending; under the all-clients lock.
  void Pump();
  void Flush(ClientState& s, DESTLISTITEM* c);
  ClientState& StateOf(unsigned long id);
  void ForgetGoneClients();

  CRITICAL_SECTION sendLock_;
  flumera::PacketAllocator allocator_;
  std::unique_ptr<flumera::RtpPacketizer> packetizers_[8];
  std::vector<std::unique_ptr<ClientState>> clients_;
  bool hasVideo_ = false;
  volatile LONG reopen_ = 0;
};

// Serves kind-2 clients their end notice; they get no media.
class TcpSender : public StreamOutput {
 public:
  explicit TcpSender(KRFlumera& owner) : StreamOutput(owner) {}
  void Open() override;
  bool Accept(MsgItem* item) override;
  bool DataHandler() override { return true; }
  void Finish() override;

 private:
  DWORD startTick_ = 0;
};

// The sample handed to the recorder.
struct ArchiveSample {
  bool video = false;
  const uint8_t* data = nullptr;
  uint32_t size = 0;
  uint32_t time = 0;
  uint32_t duration = 0;
  uint32_t number = 0;
  uint32_t syncFlags = 0;
};

// Owns the archive file, written through the MP4 file writer.
class ArchiveRecorder {
 public:
  // How writers are made (tests put a writer of their own in between).
  typedef std::unique_ptr<fileformat::MP4WriterApi> (*WriterFactory)(uint32_t presentationKind, uint32_t videoHintMode,
                                                                    std::u16string baseName, std::u16string tag);
  static void SetWriterFactory(WriterFactory f);

  explicit ArchiveRecorder(KRFlumera& owner) : owner_(owner) {}
  virtual ~ArchiveRecorder();
  virtual bool Create();
  virtual void AddSample(const ArchiveSample& s);
  virtual void Close();
  bool HasFile() const { return writer_ != nullptr; }
  uint32_t SampleCount() const { return count_; }

 private:
  void AddAudio(const ArchiveSample& s);
  bool Add(uint32_t track, const uint8_t* data, uint32_t size, uint32_t time, uint32_t flag);
  void AddTrack(const KRTrackRecord& r, const KRTrackRecord* before);

  KRFlumera& owner_;
  std::unique_ptr<fileformat::MP4WriterApi> writer_;
  uint32_t count_ = 0;
  bool failed_ = false;
  long baseTrack_ = -1;
  // Track identifiers by track-table index (the host's records stay as
  // they are).
  std::vector<uint32_t> trackIds_;
};

// Orders the media buffers into samples for the recorder.
class ArchiveOutput : public StreamOutput {
 public:
  explicit ArchiveOutput(KRFlumera& owner) : StreamOutput(owner) {}
  ~ArchiveOutput() override;
  void Open() override;
  bool DataHandler() override;
  void Finish() override;

 private:
  void Add(MsgItem* item);
  void Hold(MsgItem* item);
  void ReleaseHeldBelow(uint32_t time);

  std::unique_ptr<ArchiveRecorder> recorder_;
  uint32_t videoNumber_ = 0, audioNumber_ = 0;
  uint32_t releaseTime_ = 0xFFFFFFFFu;  // none yet
  uint8_t heldTag_ = 0;
  std::vector<MsgItem*> held_;  // in arrival order
};

// First UDP port: a kind-2 client's registration datagram.
class UdpRegisterThread : public PollingThread {
 public:
  explicit UdpRegisterThread(KRFlumera& owner);
  ~UdpRegisterThread() override;
  int OpenSocket(unsigned short port) { return socket_.Open(SOCK_DGRAM, port); }
  int SocketError() const { return socket_.LastError(); }
  void Close();
  // Called under the all-clients lock (lock order: all-clients, then this).
  void Register(DESTLISTITEM* c);
  void Unregister(unsigned long id);
  bool TimeOutHandler() override;

 private:
  struct Entry {
    unsigned long id;
    unsigned long address;  // IPv4, network order
  };
  NetSocket socket_;
  CRITICAL_SECTION lock_;
  std::vector<Entry> pending_;
};

// Second UDP port: keep-alive datagrams reset the sender's inactivity.
class UdpKeepAliveThread : public PollingThread {
 public:
  explicit UdpKeepAliveThread(KRFlumera& owner) : PollingThread(owner, 500) {}
  int OpenSocket(unsigned short port) { return socket_.Open(SOCK_DGRAM, port); }
  int SocketError() const { return socket_.LastError(); }
  void Close() {
    Stop();
    socket_.Close();
  }
  bool TimeOutHandler() override;

 private:
  NetSocket socket_;
};

// Ages every client and drops the silent ones.
class ClientMonitor : public PollingThread {
 public:
  explicit ClientMonitor(KRFlumera& owner) : PollingThread(owner, 500) {}
  bool TimeOutHandler() override;
};

class ServerParts {
 public:
  ServerParts(KRFlumera& owner, int listenerCount);
  ~ServerParts();
  ServerParts(const ServerParts&) = delete;
  ServerParts& operator=(const ServerParts&) = delete;
  long AdmittedTotal();

  int listenerCount;
  RtspListener** listeners;
  ClientLists clients;
  UdpRegisterThread udp1;
  UdpKeepAliveThread udp2;
  ClientMonitor monitor;
  UdpRtpSender rtpSender;
  TcpSender tcpSender;
  ArchiveOutput archive;
};
