#include "server_host.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "amrenc/amrenc.h"

namespace flumera_test {

unsigned short FreePort(int type) {
  SOCKET s = socket(AF_INET, type, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_ANY);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void SplitVideo(const Bytes& es, Bytes* config, std::vector<Bytes>* units, std::vector<bool>* keys) {
  auto code = [&](size_t i) { return es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 ? int(es[i + 3]) : -1; };
  // The configuration: everything before the first group or picture header.
  size_t start = 0;
  while (start + 4 <= es.size() && code(start) != 0xB3 && code(start) != 0xB6) ++start;
  config->assign(es.begin(), es.begin() + std::ptrdiff_t(start));
  size_t i = start;
  while (i + 4 <= es.size()) {
    // A unit: optional group header, then a picture up to the next header.
    size_t vop = i;
    while (vop + 4 <= es.size() && code(vop) != 0xB6) ++vop;
    if (vop + 4 > es.size()) break;
    size_t end = vop + 4;
    while (end + 4 <= es.size() && code(end) != 0xB6 && code(end) != 0xB3) ++end;
    if (end + 4 > es.size()) end = es.size();
    units->emplace_back(es.begin() + std::ptrdiff_t(i), es.begin() + std::ptrdiff_t(end));
    keys->push_back((es[vop + 4] >> 6) == 0);
    i = end;
  }
}

const Clip& TheClip() {
  static const Clip clip = [] {
    Clip c;
    SplitVideo(ReadFile(std::string(SUITE_TEST_DATA_DIR) + "/tests/data/clip.m4v"), &c.config, &c.units, &c.keys);
    return c;
  }();
  return clip;
}

std::vector<Bytes> AmrFrames(int frames) {
  AmrEncState* st = nullptr;
  amr_enc_init(&st, 0, "test");
  std::vector<Bytes> out;
  unsigned seed = 1;
  for (int k = 0; k < frames; ++k) {
    int16_t pcm[AMR_FRAME_SAMPLES];
    for (int n = 0; n < AMR_FRAME_SAMPLES; ++n) {
      const double t = (k * AMR_FRAME_SAMPLES + n) / 8000.0;
      seed = seed * 1103515245u + 12345u;
      const double v = 6000 * std::sin(2 * 3.14159265 * 180 * t) * (0.6 + 0.4 * std::sin(2 * 3.14159265 * 3 * t)) +
                       2000 * std::sin(2 * 3.14159265 * 720 * t) + double(int(seed >> 16) % 600 - 300);
      pcm[n] = int16_t(v);
    }
    uint8_t if2[AMR_OUT_BYTES];
    int used = -1;
    amr_enc_frame(st, AMR_MR122, pcm, if2, &used);
    uint8_t storage[32];
    const int n = amr_if2_to_storage(if2, storage);
    out.emplace_back(storage, storage + n);
  }
  amr_enc_exit(&st);
  return out;
}

// ------------------------------------------------------------ host

Host::Host(const SessionSetup& setup) {
  event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  session = static_cast<_tagSESSIONINFO*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(_tagSESSIONINFO)));
  rtspPort = FreePort(SOCK_STREAM);
  udp1 = FreePort(SOCK_DGRAM);
  udp2 = FreePort(SOCK_DGRAM);
  session->rtspPorts[0] = rtspPort;
  session->udpPort1 = udp1;
  session->udpPort2 = udp2;
  session->appQueue = &replies_;
  session->appEvent = event_;
  wcsncpy(session->outputFileName, setup.outputFile.c_str(), MAX_PATH - 1);
  wcsncpy(session->archiveName, setup.archiveName.c_str(), MAX_PATH - 1);
  wcscpy(session->version, L"Content V1.0");
  wcscpy(session->title, L"Live test");
  wcscpy(session->author, L"Kestrune");
  session->frameWidth = 176;
  session->frameHeight = 144;
  session->frameRateBase = 15;
  session->outputMask = setup.outputMask;
  session->mediaMask = setup.mediaMask;
  session->videoOnlyAllowed = 1;
  session->iFrameInterval = 15;
  session->decodeBufferSize = 16384;
  session->versionMajor = 3;
  session->randomAccessFlag = 1;
  int n = 0;
  if (setup.mediaMask & 2) {
    KRTrackRecord& v = tracks_[n++];
    v.kind = 1;
    v.bitRate = 64000;
    v.versionMajor = 3;
    v.randomAccess = 1;
    v.configLength = uint16_t(std::min<size_t>(setup.videoConfig.size(), sizeof v.config));
    std::memcpy(v.config, setup.videoConfig.data(), v.configLength);
    v.payloadNumber = 96;
  }
  if ((setup.mediaMask & 1) && setup.amr) {
    KRTrackRecord& a = tracks_[n++];
    a.kind = 3;
    a.bitRate = 12200;
    a.versionMajor = 3;
    a.audioTimeScale = 8000;
    a.configLength = 1;
    a.config[0] = 7;
    a.payloadNumber = 2;  // stream id 1, payload type 97
  }
  if ((setup.mediaMask & 1) && setup.aac) {
    KRTrackRecord& a = tracks_[n++];
    a.kind = 5;
    a.bitRate = 32000;
    a.versionMajor = 3;
    a.configLength = 2;
    a.config[0] = 0x14;
    a.config[1] = 0x08;
    a.payloadNumber = 3;  // stream id 2
  }
  table_.tracks = tracks_;
  table_.count = unsigned(n);
  session->trackTable = &table_;
  CreateKRStreamInstance(&setup.product, &setup.system, &server);
  pump_ = std::thread([this] { Pump(); });
}

Host::~Host() {
  Release();
  {
    std::lock_guard<std::mutex> l(mutex_);
    stop_ = true;
  }
  SetEvent(event_);
  pump_.join();
  while (MsgItem* item = replies_.Pop()) {
    if (item->data) HeapFree(GetProcessHeap(), 0, item->data);
    FreeMsgItem(item);
  }
  HeapFree(GetProcessHeap(), 0, session);
  CloseHandle(event_);
}

void Host::Release() {
  if (server) ReleaseKRStream(server);
  server = nullptr;
}

void Host::Pump() {
  for (;;) {
    WaitForSingleObject(event_, 50);
    std::unique_lock<std::mutex> l(mutex_);
    if (stop_) return;
    while (MsgItem* item = replies_.Pop()) {
      Message m;
      m.type = item->type;
      m.extra = item->extra;
      m.length = item->length;
      if (item->data && item->length > 0) m.data.assign(item->data, item->data + item->length);
      if (item->data) HeapFree(GetProcessHeap(), 0, item->data);
      FreeMsgItem(item);
      // As the streamer filter does: a client that plays while the
      // controller is primed or paused gets the controller playing.
      if (m.type == KRM_CLIENT_PLAYING && m.extra == 0 && autoPlay && server)
        server->SendMsgToMe(KRM_PLAY, 0, nullptr, 0, 0);
      messages_.push_back(std::move(m));
      taken_.push_back(false);
    }
    changed_.notify_all();
  }
}

void Host::Send(KRStreamMsgTypes type, unsigned long extra, int length) {
  server->SendMsgToMe(type, 0, type == KRM_PRIME ? reinterpret_cast<unsigned char*>(session) : nullptr, length, extra);
}

bool Host::WaitFor(int type, Message* out, DWORD ms, const std::function<bool(const Message&)>& pred) {
  std::unique_lock<std::mutex> l(mutex_);
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  for (;;) {
    for (size_t i = 0; i < messages_.size(); ++i) {
      if (!taken_[i] && messages_[i].type == type && (!pred || pred(messages_[i]))) {
        taken_[i] = true;
        if (out) *out = messages_[i];
        return true;
      }
    }
    if (changed_.wait_until(l, until) == std::cv_status::timeout) return false;
  }
}

int Host::Count(int type) {
  std::lock_guard<std::mutex> l(mutex_);
  int n = 0;
  for (const Message& m : messages_) n += m.type == type;
  return n;
}

long Host::Request(KRStreamMsgTypes type) {
  Send(type);
  Message m;
  if (!WaitFor(type + 5, &m, 10000)) return -1;
  return long(m.extra);
}

namespace {
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
}  // namespace

void Host::FeedVideo(const Bytes& unit, uint8_t flags, uint32_t stamp, uint32_t duration) {
  const size_t length = unit.size() + 2;
  uint8_t* p = server->GetVideoMem(static_cast<unsigned long>(length + 8));
  std::memcpy(p, unit.data(), unit.size());
  p[length - 2] = flags;
  p[length - 1] = kVideoBufferTag;
  PutBe32(p + length, stamp);
  PutBe32(p + length + 4, duration);
  server->SendMsgToMe(KRM_MEDIA_DATA, 0, p, int(length), 0);
}

void Host::FeedAmr(const std::vector<Bytes>& frames, uint32_t stamp, uint32_t frameMs) {
  Bytes b = {1, 1, uint8_t(frames.size())};  // codec, stream id 1, count
  for (const Bytes& f : frames) {
    const size_t n = f.size();  // the frame-type byte and the speech bytes
    b.push_back(uint8_t(n)), b.push_back(uint8_t(n >> 8));
    b.push_back(uint8_t((f[0] >> 3) & 0x0F));
    b.insert(b.end(), f.begin() + 1, f.end());
  }
  FeedAudioPackets(b, stamp, frameMs, uint32_t(frames.size()));
}

void Host::FeedAudioPackets(const Bytes& packets, uint32_t stamp, uint32_t frameMs, uint32_t frames) {
  Bytes b = packets;
  b.push_back(kAudioBufferTag);
  const size_t length = b.size();
  uint8_t* p = server->GetAudioMem(int(length + 16));
  std::memcpy(p, b.data(), length);
  const uint32_t end = stamp + frameMs * frames;
  PutBe32(p + length, stamp);
  PutBe32(p + length + 4, frameMs);
  PutBe32(p + length + 8, stamp);
  PutBe32(p + length + 12, end);
  server->SendMsgToMe(KRM_MEDIA_DATA, 0, p, int(length), 0);
}

void Host::FeedAac(const Bytes& frame, uint32_t stamp, uint32_t duration) {
  Bytes b = {3, 2, 1, uint8_t(frame.size()), uint8_t(frame.size() >> 8)};
  b.insert(b.end(), frame.begin(), frame.end());
  b.push_back(kAudioBufferTag);
  const size_t length = b.size();
  uint8_t* p = server->GetAudioMem(int(length + 16));
  std::memcpy(p, b.data(), length);
  PutBe32(p + length, stamp);
  PutBe32(p + length + 4, duration);
  PutBe32(p + length + 8, stamp);
  PutBe32(p + length + 12, stamp + duration);
  server->SendMsgToMe(KRM_MEDIA_DATA, 0, p, int(length), 0);
}

// ------------------------------------------------------------ client

Client::Client(unsigned short port) {
  s_ = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  if (connect(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    closesocket(s_);
    s_ = INVALID_SOCKET;
  }
}

Client::~Client() {
  if (s_ != INVALID_SOCKET) closesocket(s_);
}

void Client::SendText(const std::string& text) { send(s_, text.data(), int(text.size()), 0); }

namespace {
bool Readable(SOCKET s, DWORD ms) {
  fd_set r;
  FD_ZERO(&r);
  FD_SET(s, &r);
  timeval tv = {long(ms / 1000), long(ms % 1000) * 1000};
  return select(0, &r, nullptr, nullptr, &tv) == 1;
}
}  // namespace

std::string Client::Reply(DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  for (;;) {
    const size_t end = pending_.find("\r\n\r\n");
    if (end != std::string::npos) {
      size_t length = 0;
      const size_t cl = pending_.find("Content-Length:");
      if (cl != std::string::npos && cl < end) length = size_t(std::atoi(pending_.c_str() + cl + 15));
      if (pending_.size() >= end + 4 + length) {
        std::string reply = pending_.substr(0, end + 4 + length);
        pending_.erase(0, end + 4 + length);
        return reply;
      }
    }
    const DWORD now = GetTickCount();
    if (int(until - now) <= 0 || !Readable(s_, until - now)) {
      // A status line alone (a reply without headers) is a whole reply too.
      std::string rest;
      rest.swap(pending_);
      return rest;
    }
    char buf[4096];
    const int n = recv(s_, buf, sizeof buf, 0);
    if (n <= 0) {
      std::string rest;
      rest.swap(pending_);
      return rest;
    }
    pending_.append(buf, size_t(n));
  }
}

bool Client::ReadExact(std::string* out, size_t n, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  while (pending_.size() < n) {
    const DWORD now = GetTickCount();
    if (int(until - now) <= 0 || !Readable(s_, until - now)) return false;
    char buf[8192];
    const int got = recv(s_, buf, sizeof buf, 0);
    if (got <= 0) return false;
    pending_.append(buf, size_t(got));
  }
  out->assign(pending_, 0, n);
  pending_.erase(0, n);
  return true;
}

bool Client::ReadPacket(std::string* packet, DWORD ms) {
  std::string head;
  for (;;) {
    if (!ReadExact(&head, 1, ms)) return false;
    if (head[0] == '$') break;
    // A text message: up to its blank line.
    std::string rest;
    pending_.insert(0, head);
    if (Reply(ms).empty()) return false;
  }
  if (!ReadExact(&head, 3, ms)) return false;
  const size_t length = size_t(uint8_t(head[1])) << 8 | uint8_t(head[2]);
  return ReadExact(packet, length, ms);
}

bool Client::Closed(DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  for (;;) {
    const DWORD now = GetTickCount();
    if (int(until - now) <= 0 || !Readable(s_, until - now)) return false;
    char buf[4096];
    const int n = recv(s_, buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

std::string Request(const char* method, const std::string& url, int cseq, const std::string& headers) {
  char b[64];
  std::snprintf(b, sizeof b, "CSeq: %d\r\n", cseq);
  return std::string(method) + " " + url + " RTSP/1.0\r\n" + b + headers + "\r\n";
}

// ------------------------------------------------------------ peers

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string UnixPath(const std::string& p) {
  std::string out = p.size() >= 2 && (p[1] == ':') ? p.substr(2) : p;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string WorkDirUnix() {
  char dir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, dir);
  return UnixPath(dir);
}

std::string ScratchDir(const std::string& name) {
  const std::string dir = name + "_" + std::to_string(GetCurrentProcessId());
  CreateDirectoryA(dir.c_str(), nullptr);
  return dir;
}

bool StartProgram(const std::string& commandLine) {
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  std::string cmd = commandLine;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return true;
}

bool WaitForFile(const std::string& unixPath, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  while (int(until - GetTickCount()) > 0) {
    if (FILE* f = std::fopen(unixPath.c_str(), "rb")) {
      std::fclose(f);
      return true;
    }
    Sleep(50);
  }
  return false;
}

std::string ReadText(const std::string& unixPath) {
  const Bytes b = ReadFile(unixPath);
  return std::string(b.begin(), b.end());
}

}  // namespace flumera_test
