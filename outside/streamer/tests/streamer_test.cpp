// The streamer under Wine. The engine's parameters fill the live server's
// records as the README's table says; each server message gives its graph
// event; a graph from our sources through the video encoder and the
// multiplexer into the streamer records an MP4 file that our reader lists
// and ffmpeg decodes; the SDP reaches the server's python client; a port in
// use is reported.
#include <winsock2.h>
#include <windows.h>
#include <control.h>
#include <evcode.h>
#include <objbase.h>
#include <strmif.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "events.h"
#include "push_sources.h"
#include "session_builder.h"
#include "streammux/mux_format.h"
#include "streamer/streamer.h"
#include "videoencoder/interfaces.h"

CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

// ---------------------------------------------------------------- helpers

bool underWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string unixPath(const std::string& p) {
  std::string out = p.size() >= 2 && p[1] == ':' ? p.substr(2) : p;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string windowsPath(const std::string& unix) {
  std::string out = "Z:" + unix;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string workDir() {
  char dir[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, dir);
  return dir;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool waitForFile(const std::string& path, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  while (int(until - GetTickCount()) > 0) {
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
      return true;
    }
    Sleep(50);
  }
  return false;
}

// A program of the host (a unix path) run through the shell, bounded; its
// output and exit code.
struct Ran {
  int exitCode = -1;
  std::string output;
};
Ran runUnix(const std::string& command, const std::string& tag, DWORD ms = 60000) {
  const std::string dir = unixPath(workDir());
  const std::string out = dir + "/" + tag + ".out", done = dir + "/" + tag + ".done";
  std::remove(windowsPath(out).c_str());
  std::remove(windowsPath(done).c_str());
  std::string cmd = "/bin/sh -c \"" + command + " >" + out + " 2>&1; echo $? >" + done + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  Ran r;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return r;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (!waitForFile(windowsPath(done), ms)) return r;
  Sleep(100);
  r.exitCode = std::atoi(readFile(windowsPath(done)).c_str());
  r.output = readFile(windowsPath(out));
  return r;
}

// A Windows program of ours, its standard output captured.
Ran runWindows(const std::string& exe, const std::string& args, const std::string& tag) {
  const std::string outPath = tag + ".out";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + exe + "\" " + args;
  Ran r;
  if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    r.exitCode = int(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  r.output = readFile(outPath);
  return r;
}

unsigned short freePort() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  closesocket(s);
  return ntohs(a.sin_port);
}

struct Winsock {
  Winsock() {
    WSADATA d;
    WSAStartup(MAKEWORD(2, 2), &d);
  }
  ~Winsock() { WSACleanup(); }
};

// The engine's 96-byte stream table entry.
void entry(unsigned char* e, uint32_t kind, uint32_t bitRate, uint32_t rate, uint16_t version,
           const std::vector<unsigned char>& config, uint32_t id) {
  std::memset(e, 0, 96);
  auto put32 = [](unsigned char* p, uint32_t v) { std::memcpy(p, &v, 4); };
  put32(e, kind);
  put32(e + 8, bitRate);
  put32(e + 12, rate);
  std::memcpy(e + 16, &version, 2);
  const uint16_t n = uint16_t(config.size());
  std::memcpy(e + 18, &n, 2);
  if (n) std::memcpy(e + 20, config.data(), n);
  put32(e + 84, id);
}

// The engine's side of a commit: CommitOutputSettings' parameters in their
// order, then (stream types 2 and 3) CommitEncodingParamToOutput's.
struct EngineCommit {
  long mediaOutput = 4;  // the coded parameter 31
  long streamType = 3;
  long rtspPort = 7070;
  std::wstring file, title = L"Kestrune test clip", author = L"Ada", copyright = L"(c) test",
                     description = L"a pattern", rating = L"G", version = L"Content V3.0 Scrivel V3.0 Build 113";
  long width = 176, height = 144;
  float rate0 = 15.0f, rate1 = 0.0f;
  long interval = 10;
  long videoRate = 64000;
  std::vector<unsigned char> videoConfig;
  long securityCheck = 0;  // the output record's value at byte 44
  // The table the engine keeps alive while it lives.
  unsigned char table[7 * 96] = {};
  struct {
    unsigned char* entries;
    ULONG count;
  } tableRecord{table, 0};
  KRDecoderConfigRecord layers = {};

  void Commit(IKRStreamerControl* c) {
    auto text = [&](ULONG id, const std::wstring& t) { c->SetParam(id, LONG_PTR(t.c_str()), ULONG(t.size() * 2)); };
    c->OpenBatch();
    c->SetParam(5, securityCheck, 0);
    c->SetParam(6, securityCheck, 0);
    c->SetParam(37, 60 * 1000, 0);
    c->SetParam(38, 60, 0);
    c->SetParam(39, 1, 0);
    c->SetParam(49, 1, 0);
    c->SetParam(7, rtspPort, 0);
    c->SetParam(8, 0, 0);
    c->SetParam(9, 0, 0);
    text(10, file);
    text(36, L"");
    text(12, version);
    text(13, title);
    text(14, description);
    text(15, author);
    text(16, copyright);
    text(17, rating);
    c->SetParam(18, width, 0);
    c->SetParam(19, height, 0);
    c->SetParam(31, mediaOutput, 0);
    c->SetParam(23, streamType, 0);
    c->SetParam(24, 0, 0);
    c->SetParam(27, LONG_PTR(&rate0), 0);
    c->SetParam(28, LONG_PTR(&rate1), 0);
    c->SetParam(42, 0, 0);
    c->SetParam(43, 0, 0);
    c->SetParam(44, 0x300, 0);
    c->SetParam(45, 0, 0);
    c->SetParam(46, 0, 0);
    c->SetParam(47, interval, 0);
    entry(table, 1, ULONG(videoRate), 0, 0x300, {}, 120);
    entry(table + 96, 3, 12200, 8000, 0x300, {7}, 1);
    tableRecord.count = streamType == 2 ? 1 : 2;
    c->SetParam(48, LONG_PTR(&tableRecord), 0);
    c->SetParam(49, 2, 0);
    layers.layerCount = 1;
    layers.size[0] = ULONG(videoConfig.size());
    layers.data[0] = videoConfig.data();
    c->SetParam(40, LONG_PTR(&layers), 0);
    c->SetParam(41, 16384, 0);
  }
};

// ---------------------------------------------------------------- mapping

TEST(StreamerRecords, TheEnginesParametersFillTheServersRecords) {
  SessionBuilder b;
  struct Cap : IKRStreamerControl {  // feeds the builder through the engine's order
    SessionBuilder* b;
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
    STDMETHODIMP SetParam(ULONG id, LONG_PTR v, ULONG s) override { return b->SetParam(id, v, s); }
    STDMETHODIMP OpenBatch() override { return S_OK; }
    STDMETHODIMP ApplyBatch() override { return S_OK; }
    STDMETHODIMP SetPauseState(long) override { return S_OK; }
    STDMETHODIMP Grant(ULONG, BYTE) override { return S_OK; }
  } cap;
  cap.b = &b;
  EngineCommit e;
  e.file = L"C:\\clips\\out.mp4";
  e.mediaOutput = 4 + 1;  // UDP/RTP and the file
  e.rtspPort = 8554;
  e.videoConfig = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB5, 9};
  e.securityCheck = 1;
  e.Commit(&cap);
  EXPECT_EQ(b.SetParam(99, 1, 0), S_FALSE);  // unknown: ignored
  EXPECT_EQ(b.SetParam(27, 0, 0), E_POINTER);

  SessionRecords r;
  b.Build(&r);
  const _tagSESSIONINFO& s = r.session;
  EXPECT_EQ(s.rtspPorts[0], 8554u);
  EXPECT_EQ(std::wstring(s.outputFileName), e.file);
  EXPECT_EQ(std::wstring(s.title), e.title);
  EXPECT_EQ(std::wstring(s.information), e.description);
  EXPECT_EQ(std::wstring(s.author), e.author);
  EXPECT_EQ(std::wstring(s.copyright), e.copyright);
  EXPECT_EQ(std::wstring(s.rating), e.rating);
  EXPECT_EQ(std::wstring(s.version), e.version);
  EXPECT_EQ(std::wstring(s.archiveName), L"");
  EXPECT_EQ(s.frameWidth, 176);
  EXPECT_EQ(s.frameHeight, 144);
  EXPECT_EQ(s.frameRateBase, 15.0f);
  EXPECT_EQ(s.outputMask, 5u);
  EXPECT_EQ(s.mediaMask, 3u);
  EXPECT_EQ(s.secondLayer, 0u);
  EXPECT_EQ(s.iFrameInterval, 10);
  EXPECT_EQ(s.decodeBufferSize, 16384u);
  EXPECT_EQ(s.versionMajor, 3);
  EXPECT_EQ(s.versionMinor, 0);
  // The security check makes framed and device clients wait for the host;
  // the listener leaves room for device clients beside the framed ones.
  EXPECT_EQ(r.product.admissionFlags, 0x0101u);
  EXPECT_GT(r.product.listenerPorts * r.product.maxClientsPerListener, r.product.maxFramedClients);
  EXPECT_EQ(r.system.silenceMs, 60000u);
  EXPECT_EQ(r.system.monitorInterval, 60000u);
  EXPECT_EQ(r.system.monitorCount, 1u);
  ASSERT_EQ(s.trackTable, &r.table);
  ASSERT_EQ(r.table.count, 2u);
  const KRTrackRecord& v = r.tracks[0];
  EXPECT_EQ(v.kind, 1u);
  EXPECT_EQ(v.bitRate, 64000u);
  EXPECT_EQ(v.payloadNumber, 120u);
  EXPECT_EQ(v.versionMajor, 3);
  ASSERT_EQ(v.configLength, e.videoConfig.size());  // from parameter 40
  EXPECT_EQ(std::memcmp(v.config, e.videoConfig.data(), v.configLength), 0);
  const KRTrackRecord& a = r.tracks[1];
  EXPECT_EQ(a.kind, 3u);
  EXPECT_EQ(a.bitRate, 12200u);
  EXPECT_EQ(a.audioTimeScale, 8000u);
  EXPECT_EQ(a.payloadNumber, 1u);  // the packets' stream id 0, plus one
  ASSERT_EQ(a.configLength, 1);
  EXPECT_EQ(a.config[0], 7);

  // Stream types to media masks.
  const long types[][2] = {{1, 1}, {2, 2}, {3, 3}, {5, 5}, {9, 0}};
  for (const auto& t : types) {
    b.SetParam(23, t[0], 0);
    b.Build(&r);
    EXPECT_EQ(r.session.mediaMask, unsigned(t[1])) << t[0];
  }
}

TEST(StreamerEvents, EachMessageGivesItsEvent) {
  struct K {
    int type;
    unsigned long extra;
    std::vector<long> codes;
    LONG_PTR p1, p2;
    GraphEvent::Block block;
  };
  const K cases[] = {
      {KRM_CLIENT_PLAYING, 0, {EC_KR_CONNECTED}, 0, 0, GraphEvent::kNone},
      {KRM_CLIENT_PLAYING, 1, {EC_KR_CONNECTED, EC_KR_CUSTOM_3}, 0, 0, GraphEvent::kNone},
      {KRM_NO_CLIENTS, 0, {EC_KR_CONNECTION_PAUSED}, 0, 0, GraphEvent::kNone},
      {KRM_PAUSED_BY_CLIENT, 0, {EC_KR_CUSTOM_2}, 0, 0, GraphEvent::kNone},
      {KRM_ADMISSION, 0, {EC_KR_SECURITY_CHECK}, 0, 0, GraphEvent::kRecord},
      {KRM_CLIENT_NOTICE, 0, {EC_KR_CLIENT_STATUS}, 0, 0, GraphEvent::kRecord},
      {KRM_PORT_FAILURE, 7070, {EC_KR_PORT_ERROR}, 0, 0, GraphEvent::kPortText},
      {KRM_ARCHIVE_SAMPLE_FAILED, 0, {EC_KR_ERROR}, 4, LONG_PTR(0x800A1389), GraphEvent::kNone},
      {KRM_ARCHIVE_DONE, 1, {EC_KR_STOPPED}, 0, 0, GraphEvent::kNone},
      {KRM_ARCHIVE_DONE, 0, {EC_KR_ERROR}, 4, LONG_PTR(0x800A138A), GraphEvent::kNone},
      {KRM_PRIME_REPLY, 0, {}, 0, 0, GraphEvent::kNone},
  };
  for (const K& k : cases) {
    GraphEvent ev[2];
    const int n = EventsFor(k.type, k.extra, ev);
    ASSERT_EQ(n, int(k.codes.size())) << k.type;
    for (int i = 0; i < n; ++i) EXPECT_EQ(ev[i].code, k.codes[size_t(i)]) << k.type;
    if (n) {
      EXPECT_EQ(ev[0].block, k.block) << k.type;
      if (k.block == GraphEvent::kNone && k.codes[0] == EC_KR_ERROR) {
        EXPECT_EQ(ev[0].p1, k.p1);
        EXPECT_EQ(long(ev[0].p2), long(k.p2));
      }
    }
  }
}

// ---------------------------------------------------------------- graphs

struct Graph {
  IGraphBuilder* graph = nullptr;
  IMediaControl* control = nullptr;
  IMediaEventEx* events = nullptr;
  IBaseFilter *enc = nullptr, *mux = nullptr, *streamer = nullptr;
  IKRStreamerControl* ctl = nullptr;
  TestVideoSource* video = nullptr;
  TestAmrSource* audio = nullptr;
  std::vector<IPin*> pins;

  IPin* pin(IBaseFilter* f, const wchar_t* id) {
    IPin* p = nullptr;
    f->FindPin(id, &p);
    if (p) pins.push_back(p);
    return p;
  }

  bool Build(int frames, int packets) {
    if (CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         reinterpret_cast<void**>(&graph)) != S_OK)
      return false;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
    if (CreateFromDll(VIDENC_DLL, CLSID_KRVideoEncoder, IID_IBaseFilter, reinterpret_cast<void**>(&enc)) != S_OK ||
        CreateFromDll(MUX_DLL, CLSID_KRStreamMux, IID_IBaseFilter, reinterpret_cast<void**>(&mux)) != S_OK ||
        CreateFromDll(STREAMER_DLL, CLSID_KRStreamer, IID_IBaseFilter, reinterpret_cast<void**>(&streamer)) != S_OK)
      return false;
    streamer->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&ctl));
    video = new TestVideoSource(176, 144, MEDIASUBTYPE_RGB24, frames, 15.0);
    audio = new TestAmrSource(7, 3, packets, 0);
    video->NonDelegatingAddRef();
    audio->NonDelegatingAddRef();
    graph->AddFilter(video, L"video");
    graph->AddFilter(audio, L"audio");
    graph->AddFilter(enc, L"Video encoder");
    graph->AddFilter(mux, L"KRStreamMux filter");
    graph->AddFilter(streamer, L"KRStreamer filter");
    IVidEncCfg* cfg = nullptr;
    enc->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg));
    long w = 176, h = 144, interval = 10, rate = 64000;
    float fps = 15.0f;
    cfg->SetFrameSize(&w, &h);
    cfg->SetSourceFrameRate(&fps);
    cfg->SetLayerFrameRate(0, &fps);
    cfg->SetLayerBitRate(0, &rate);
    cfg->SetIFrameInterval(&interval);
    cfg->Release();
    return graph->ConnectDirect(video->GetPin(0), pin(enc, L"Video in"), nullptr) == S_OK &&
           graph->ConnectDirect(pin(enc, L"Video out"), pin(mux, L"Video in"), nullptr) == S_OK &&
           graph->ConnectDirect(audio->GetPin(0), pin(mux, L"Audio in"), nullptr) == S_OK &&
           graph->ConnectDirect(pin(mux, L"Output"), pin(streamer, L"KRStreamer Input"), nullptr) == S_OK;
  }

  std::vector<unsigned char> VideoConfig() {
    IVidEncCfg* cfg = nullptr;
    enc->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg));
    BYTE buf[50];
    long size = 50;
    cfg->GetDecoderConfig(0, buf, &size);
    long further = 0;
    cfg->GetDecodeBufferSize(&further);
    cfg->Release();
    return std::vector<unsigned char>(buf, buf + size);
  }

  // The next event of code (others are skipped), with its parameters.
  bool WaitEvent(long code, DWORD ms, LONG_PTR* p1 = nullptr, LONG_PTR* p2 = nullptr, std::string* block = nullptr) {
    const DWORD until = GetTickCount() + ms;
    while (int(until - GetTickCount()) > 0) {
      long c;
      LONG_PTR a, b;
      if (events->GetEvent(&c, &a, &b, 100) != S_OK) continue;
      const bool hit = c == code;
      if (hit) {
        if (p1) *p1 = a;
        if (p2) *p2 = b;
        if (block && a && b > 0) block->assign(reinterpret_cast<const char*>(a), size_t(b));
      }
      events->FreeEventParams(c, a, b);
      if (hit) return true;
    }
    return false;
  }

  ~Graph() {
    if (control) control->Stop();
    for (IPin* p : pins) p->Release();
    if (ctl) ctl->Release();
    if (events) events->Release();
    if (control) control->Release();
    if (graph) graph->Release();
    for (IBaseFilter* f : {enc, mux, streamer})
      if (f) f->Release();
    if (video) video->NonDelegatingRelease();
    if (audio) audio->NonDelegatingRelease();
  }
};

struct ComScope {
  ComScope() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~ComScope() { CoUninitialize(); }
};

TEST(StreamerGraph, RecordsAFileOurReaderListsAndFfmpegDecodes) {
  ComScope com;
  Winsock ws;
  const std::string file = workDir() + "\\streamer-graph.mp4";
  std::remove(file.c_str());
  {
    Graph g;
    ASSERT_TRUE(g.Build(45, 50));  // 3 s of video at 15/s, 3 s of AMR
    EngineCommit e;
    e.file = std::wstring(file.begin(), file.end());
    e.mediaOutput = 4;  // file only
    e.rtspPort = freePort();
    e.videoConfig = g.VideoConfig();
    e.Commit(g.ctl);
    ASSERT_EQ(g.ctl->ApplyBatch(), S_OK);
    ASSERT_TRUE(SUCCEEDED(g.control->Run()));
    EXPECT_TRUE(g.video->WaitFinished(60000));
    EXPECT_TRUE(g.audio->WaitFinished(60000));
    EXPECT_TRUE(g.WaitEvent(EC_COMPLETE, 30000));
    Sleep(500);  // the server's outputs take the last buffers
    g.control->Stop();
    // The archive is written at Stop: EC_KR_STOPPED.
    EXPECT_TRUE(g.WaitEvent(EC_KR_STOPPED, 20000));
  }
  ASSERT_TRUE(waitForFile(file, 5000));

  const Ran info = runWindows(windowsPath(MP4INFO_EXE), "\"" + file + "\"", "mp4info");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  // One sample per picture; the AMR packets' frames one sample each (the
  // server's archive drops what it still holds back for interleaving at Stop,
  // at most one packet of 3 frames).
  EXPECT_NE(info.output.find("MP4V-ES, time scale 1000, media duration 3000, 45 samples"), std::string::npos)
      << info.output;
  const size_t amr = info.output.find("AMR, time scale 1000");
  ASSERT_NE(amr, std::string::npos) << info.output;
  const size_t comma = info.output.find(", ", info.output.find("media duration", amr) + 1);
  const int amrSamples = std::atoi(info.output.c_str() + comma + 2);
  EXPECT_GE(amrSamples, 147) << info.output;
  EXPECT_LE(amrSamples, 150) << info.output;
  EXPECT_NE(info.output.find("Kestrune test clip"), std::string::npos) << info.output;

  if (!underWine()) GTEST_SKIP() << "ffmpeg is started through Wine";
  const Ran ff = runUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -i " + unixPath(file) +
                             " -map 0:v -f framecrc -", "ffmpeg");
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  size_t frames = 0;
  for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
  EXPECT_EQ(frames, 45u) << ff.output;
  // The intra pictures (every 10th) are the sync samples: ffmpeg flags the
  // others' packets F=0x0.
  const Ran copy = runUnix("/usr/bin/ffmpeg -nostdin -v error -i " + unixPath(file) + " -map 0:v -c copy -f framecrc -",
                           "ffmpeg-copy");
  EXPECT_EQ(copy.exitCode, 0) << copy.output;
  std::vector<bool> sync;
  for (size_t p = copy.output.find("\n0,"); p != std::string::npos; p = copy.output.find("\n0,", p + 1)) {
    const size_t end = copy.output.find('\n', p + 1);
    sync.push_back(copy.output.substr(p, end - p).find("F=") == std::string::npos);
  }
  ASSERT_EQ(sync.size(), 45u) << copy.output;
  for (size_t i = 0; i < sync.size(); ++i) EXPECT_EQ(sync[i], i % 10 == 0) << i;
}

TEST(StreamerGraph, ThePythonClientGetsTheSdp) {
  if (!underWine()) GTEST_SKIP() << "the python client is started through Wine";
  ComScope com;
  Winsock ws;
  Graph g;
  ASSERT_TRUE(g.Build(10, 10));
  EngineCommit e;
  e.mediaOutput = 1;  // UDP/RTP
  e.rtspPort = freePort();
  e.videoConfig = g.VideoConfig();
  e.Commit(g.ctl);
  ASSERT_EQ(g.ctl->ApplyBatch(), S_OK);
  const Ran sdp = runUnix("/usr/bin/python3 " + std::string(RTSP_CLIENT) + " describe rtsp://127.0.0.1:" +
                              std::to_string(e.rtspPort) + "/live --timeout 20",
                          "sdp");
  EXPECT_EQ(sdp.exitCode, 0) << sdp.output;
  std::string hex;
  for (unsigned char c : e.videoConfig) {
    char b[3];
    std::snprintf(b, sizeof b, "%02x", c);
    hex += b;
  }
  for (const std::string& line :
       {std::string("s=Kestrune test clip"), std::string("a=author:Ada"), std::string("a=version:Content V3.0"),
        std::string("a=content_version:3.0"), std::string("m=video 0 RTSP/KRP 120"),
        std::string("a=rtpmap:120 KRMP4V-ES/1000"), std::string("a=I_frame_interval:10"),
        "config=" + hex + ";framesize=176-144;decode_buf=16384", std::string("m=audio 0 RTSP/KRP 96"),
        std::string("a=rtpmap:96 AMR/8000")})
    EXPECT_NE(sdp.output.find(line), std::string::npos) << line << "\n" << sdp.output;
}

TEST(StreamerGraph, APlayerThatConnectsIsReportedAndReceivesTheStream) {
  if (!underWine()) GTEST_SKIP() << "the python client is started through Wine";
  ComScope com;
  Winsock ws;
  Graph g;
  ASSERT_TRUE(g.Build(45, 50));
  EngineCommit e;
  e.mediaOutput = 1;  // UDP/RTP: the engine primes and waits for a player
  e.rtspPort = freePort();
  e.videoConfig = g.VideoConfig();
  e.Commit(g.ctl);
  ASSERT_EQ(g.ctl->ApplyBatch(), S_OK);
  const std::string dir = unixPath(workDir()) + "/live-client";
  const std::string done = dir + ".done";
  std::remove(windowsPath(done).c_str());
  std::string cmd = "/usr/bin/python3 " + std::string(RTSP_CLIENT) + " receive rtsp://127.0.0.1:" +
                    std::to_string(e.rtspPort) + "/live --out " + dir + " --ffmpeg --timeout 60 --done " + done;
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  // The player's PLAY: EC_KR_CONNECTED; then the engine runs the graph.
  ASSERT_TRUE(g.WaitEvent(EC_KR_CONNECTED, 30000));
  ASSERT_TRUE(SUCCEEDED(g.control->Run()));
  EXPECT_TRUE(g.video->WaitFinished(60000));
  EXPECT_TRUE(g.audio->WaitFinished(60000));
  EXPECT_TRUE(g.WaitEvent(EC_COMPLETE, 30000));
  Sleep(1000);  // the sender's queue empties
  g.control->Stop();  // END_OF_STREAM to the player
  ASSERT_TRUE(waitForFile(windowsPath(done), 90000)) << "the python client did not finish";
  const std::string result = readFile(windowsPath(dir + "/result.json"));
  for (const char* want : {"\"video_units\": 45", "\"amr_frames\": 150", "\"end_of_stream\": true",
                           "\"video_decodes\": true", "\"amr_decodes\": true", "\"sequences_in_order\": true"})
    EXPECT_NE(result.find(want), std::string::npos) << want << "\n" << result;
}

TEST(StreamerGraph, APortInUseFailsThePrimeWithItsEvent) {
  ComScope com;
  Winsock ws;
  Graph g;
  ASSERT_TRUE(g.Build(5, 5));
  // Hold the port.
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_port = htons(freePort());
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(s, 1);
  EngineCommit e;
  e.mediaOutput = 1;
  e.rtspPort = ntohs(a.sin_port);
  e.videoConfig = g.VideoConfig();
  e.Commit(g.ctl);
  EXPECT_EQ(g.ctl->ApplyBatch(), E_FAIL);
  std::string text;
  LONG_PTR p2 = 0;
  EXPECT_TRUE(g.WaitEvent(EC_KR_PORT_ERROR, 5000, nullptr, &p2, &text));
  EXPECT_EQ(text, std::to_string(e.rtspPort) + std::string(1, '\0'));
  closesocket(s);
  // Grant without a server is refused; the pause state is taken.
  EXPECT_EQ(g.ctl->Grant(1, 1), E_UNEXPECTED);
  EXPECT_EQ(g.ctl->SetPauseState(1), S_OK);
}

}  // namespace
