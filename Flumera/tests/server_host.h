// A host of our own for the server tests: a session record with its track
// table, the reply queue read by a thread of its own (which answers
// "client playing" with Play, as the streamer filter does), media buffers
// built as the streamer filter builds them, and a plain RTSP client.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "flumera/kr_flumera.h"

namespace flumera_test {

using Bytes = std::vector<uint8_t>;

struct Message {
  int type = 0;
  unsigned long extra = 0;
  int length = 0;
  Bytes data;  // the 292-byte client record of messages 6 and 14
};

// Winsock for the test program's own sockets, for its lifetime.
struct WinsockScope {
  WinsockScope() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
  }
  ~WinsockScope() { WSACleanup(); }
};

unsigned short FreePort(int type);
Bytes ReadFile(const std::string& path);
// The MPEG-4 clip cut into its decoder configuration and its units
// (VOPs with the headers in front of them).
void SplitVideo(const Bytes& es, Bytes* config, std::vector<Bytes>* units, std::vector<bool>* keys);
// The test clip (tests/data/clip.m4v) cut once.
struct Clip {
  Bytes config;
  std::vector<Bytes> units;
  std::vector<bool> keys;
};
const Clip& TheClip();
// `frames` AMR 12.2 frames of our coder as storage frames (header byte, speech).
std::vector<Bytes> AmrFrames(int frames);

struct SessionSetup {
  _tagPRODUCTCONFIGINFO product = {4, 1, 64, 1, 0};
  _tagSYSTEMPARAMETERS system = {2, 2, 5000, 500, 10};
  unsigned long outputMask = 1;
  unsigned long mediaMask = 3;
  Bytes videoConfig;
  bool amr = true, aac = false;
  std::wstring outputFile, archiveName;
};

class Host {
 public:
  explicit Host(const SessionSetup& setup);
  ~Host();
  void Release();

  void Send(KRStreamMsgTypes type, unsigned long extra = 0, int length = 0);
  // Sends a request and waits for its reply; its code, -1 without one.
  long Request(KRStreamMsgTypes type);
  // Waits for the first message of `type` not yet taken (matching `pred`).
  bool WaitFor(int type, Message* out, DWORD ms, const std::function<bool(const Message&)>& pred = nullptr);
  int Count(int type);

  void FeedVideo(const Bytes& unit, uint8_t flags, uint32_t stamp, uint32_t duration);
  // One encoded-audio packet of AMR frames (storage form: the header's
  // frame type becomes the frame's first byte).
  void FeedAmr(const std::vector<Bytes>& frames, uint32_t stamp, uint32_t frameMs);
  // One audio buffer of encoded-audio packets as they stand, `frames` frames
  // of `frameMs` from `stamp`.
  void FeedAudioPackets(const Bytes& packets, uint32_t stamp, uint32_t frameMs, uint32_t frames);
  void FeedAac(const Bytes& frame, uint32_t stamp, uint32_t duration);

  KRFlumera* server = nullptr;
  _tagSESSIONINFO* session = nullptr;
  bool autoPlay = true;
  unsigned short rtspPort = 0, udp1 = 0, udp2 = 0;

 private:
  void Pump();
  KRTrackRecord tracks_[4] = {};
  KRTrackTable table_ = {};
  MsgDataList replies_;
  HANDLE event_ = nullptr;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Message> messages_;
  std::vector<bool> taken_;
  bool stop_ = false;
  std::thread pump_;
};

// A plain RTSP client over Winsock.
class Client {
 public:
  explicit Client(unsigned short port);
  ~Client();
  bool Connected() const { return s_ != INVALID_SOCKET; }
  void SendText(const std::string& text);
  // The next reply (head and body); empty when none came within `ms`.
  std::string Reply(DWORD ms = 3000);
  // Exactly n bytes (false when they did not come within `ms`).
  bool ReadExact(std::string* out, size_t n, DWORD ms = 3000);
  // The next "$" frame's packet, skipping any text message before it.
  bool ReadPacket(std::string* packet, DWORD ms = 3000);
  // True when the server closed the connection within `ms`.
  bool Closed(DWORD ms = 3000);
  SOCKET Socket() const { return s_; }

 private:
  SOCKET s_ = INVALID_SOCKET;
  std::string pending_;
};

std::string Request(const char* method, const std::string& url, int cseq, const std::string& headers = "");

// Wine runs Linux programs too: a python peer started from the test.
bool UnderWine();
std::string UnixPath(const std::string& windowsPath);
std::string WorkDirUnix();
// A folder of the working directory for this process's peer files (made
// here; runs at the same time do not share one).
std::string ScratchDir(const std::string& name);
bool StartProgram(const std::string& commandLine);
// Waits for a file (written last by the peer); false after `ms`.
bool WaitForFile(const std::string& unixPath, DWORD ms);
std::string ReadText(const std::string& unixPath);

}  // namespace flumera_test
