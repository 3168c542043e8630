// A host of our own: drives Flumera.dll only through its exports and the
// message queues, as the streamer filter does.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "flumera/kr_flumera.h"

namespace {

struct Winsock {
  Winsock() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
  }
  ~Winsock() { WSACleanup(); }
} winsock;

int ThreadsOfThisProcess() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 e = {};
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e)) n += e.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snap);
  return n;
}

// A socket holding a port (listening for TCP), or a port found free.
struct PortHolder {
  SOCKET s = INVALID_SOCKET;
  unsigned short port = 0;
  explicit PortHolder(int type, bool keep = true) {
    s = socket(AF_INET, type, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (type == SOCK_STREAM) listen(s, 1);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    if (!keep) Release();
  }
  void Release() {
    if (s != INVALID_SOCKET) closesocket(s);
    s = INVALID_SOCKET;
  }
  ~PortHolder() { Release(); }
};

bool CanConnect(unsigned short port) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  closesocket(s);
  return ok;
}

struct Message {
  int type = 0;
  unsigned long extra = 0;
};

class Host {
 public:
  explicit Host(unsigned long outputMask = 0, unsigned long listeners = 1) {
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    session = static_cast<_tagSESSIONINFO*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(_tagSESSIONINFO)));
    session->appQueue = &replies_;
    session->appEvent = event_;
    session->outputMask = outputMask;
    const _tagPRODUCTCONFIGINFO product = {4, listeners, 4, 1, 0};
    const _tagSYSTEMPARAMETERS system = {2, 2, 5000, 500, 10};
    created = CreateKRStreamInstance(&product, &system, &server);
  }
  ~Host() {
    Release();
    while (MsgItem* item = replies_.Pop()) FreeMsgItem(item);
    HeapFree(GetProcessHeap(), 0, session);
    CloseHandle(event_);
  }
  void Release() {
    if (server) ReleaseKRStream(server);
    server = nullptr;
  }
  // The next message from the server, waiting at most `ms`.
  bool Next(Message& m, DWORD ms = 5000) {
    const DWORD until = GetTickCount() + ms;
    for (;;) {
      if (MsgItem* item = replies_.Pop()) {
        m.type = item->type;
        m.extra = item->extra;
        if (item->data) HeapFree(GetProcessHeap(), 0, item->data);
        FreeMsgItem(item);
        return true;
      }
      const DWORD now = GetTickCount();
      if (int(until - now) <= 0) return false;
      WaitForSingleObject(event_, until - now);
    }
  }
  void Send(KRStreamMsgTypes type) {
    server->SendMsgToMe(type, 0, type == KRM_PRIME ? reinterpret_cast<unsigned char*>(session) : nullptr, 0, 0);
  }
  // Sends a request and returns its reply code (-1: no reply).
  long Request(KRStreamMsgTypes type) {
    Send(type);
    Message m;
    if (!Next(m)) return -1;
    EXPECT_EQ(m.type, type + 5);
    return long(m.extra);
  }

  KRFlumera* server = nullptr;
  int created = -1;
  _tagSESSIONINFO* session;

 private:
  MsgDataList replies_;
  HANDLE event_;
};

// ------------------------------------------------------------ queue

MsgItem* Item(long priority, unsigned long tag) {
  MsgItem* i = AllocMsgItem();
  i->priority = priority;
  i->extra = tag;
  return i;
}

TEST(MsgDataList, HigherPriorityFirstEqualInArrivalOrder) {
  MsgDataList q;
  EXPECT_EQ(q.Pop(), nullptr);
  EXPECT_EQ(q.GetCount(), 0);
  const long priorities[] = {1, 3, 3, 2};
  for (unsigned long i = 0; i < 4; ++i) q.Insert(Item(priorities[i], i));
  EXPECT_EQ(q.GetCount(), 4);
  std::vector<unsigned long> order;
  while (MsgItem* i = q.Pop()) order.push_back(i->extra), FreeMsgItem(i);
  EXPECT_EQ(order, (std::vector<unsigned long>{1, 2, 3, 0}));
  EXPECT_EQ(q.GetCount(), 0);
}

TEST(MsgDataList, ManyProducersOneConsumerLoseNothing) {
  MsgDataList q;
  constexpr int kProducers = 4, kEach = 5000;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p)
    producers.emplace_back([&q, p] {
      for (int i = 0; i < kEach; ++i) q.Insert(Item((i * 7 + p) % 5, unsigned(p * kEach + i)));
    });
  std::vector<int> seen(kProducers * kEach, 0);
  int got = 0;
  const DWORD until = GetTickCount() + 20000;
  while (got < kProducers * kEach && int(until - GetTickCount()) > 0) {
    if (MsgItem* i = q.Pop()) {
      ++seen[i->extra];
      ++got;
      FreeMsgItem(i);
    }
  }
  for (auto& t : producers) t.join();
  EXPECT_EQ(got, kProducers * kEach);
  EXPECT_EQ(q.GetCount(), 0);
  for (size_t i = 0; i < seen.size(); ++i) ASSERT_EQ(seen[i], 1) << i;
}

// ------------------------------------------------------------ thread

class CountingThread : public AThread {
 public:
  std::atomic<int> timeouts{0}, events{0};
  std::atomic<bool> finished{false};
  DWORD lingerMs = 0;
  bool OnEvent() {
    ++events;
    return true;
  }
  bool TimeOutHandler() override {
    ++timeouts;
    return true;
  }
  bool TerminateHandler() override {
    Sleep(lingerMs);
    finished = true;
    return false;
  }
};

TEST(AThread, WaitsOnEventsAndTimeOuts) {
  CountingThread t;
  t.Terminate();  // never started: returns at once
  EXPECT_FALSE(t.IsActive());
  HANDLE* events = static_cast<HANDLE*>(HeapAlloc(GetProcessHeap(), 0, sizeof(HANDLE)));
  auto* handlers = static_cast<AThread::Handler*>(HeapAlloc(GetProcessHeap(), 0, sizeof(AThread::Handler)));
  HANDLE e = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  events[0] = e;
  handlers[0] = static_cast<AThread::Handler>(&CountingThread::OnEvent);
  ASSERT_TRUE(t.Run(1, events, handlers, 10));
  EXPECT_TRUE(t.IsActive());
  SetEvent(e);
  for (int i = 0; i < 200 && (t.events == 0 || t.timeouts < 2); ++i) Sleep(10);
  EXPECT_EQ(t.events, 1);  // the event was reset before its handler ran
  EXPECT_GE(t.timeouts, 2);
  t.Terminate();
  EXPECT_TRUE(t.finished);
  EXPECT_FALSE(t.IsActive());
}

TEST(AThread, DefaultTimeOutEndsTheThread) {
  AThread t;
  ASSERT_TRUE(t.Run(0, nullptr, nullptr, 100));  // 100 / 20: five time-outs
  for (int i = 0; i < 300 && t.IsActive(); ++i) Sleep(10);
  EXPECT_FALSE(t.IsActive());
}

TEST(AThread, ThreadOutlastingTheBoundIsWaitedFor) {
  CountingThread t;
  t.lingerMs = AThread::kTerminateWaitMs + 500;
  ASSERT_TRUE(t.Run(0, nullptr, nullptr, INFINITE));
  t.Terminate();
  EXPECT_TRUE(t.finished);  // never closed and forgotten while it ran
  EXPECT_FALSE(t.IsActive());
}

// ------------------------------------------------------------ controller

TEST(Controller, FactoryChecksItsRecords) {
  _tagPRODUCTCONFIGINFO product = {4, 1, 4, 1, 0};
  _tagSYSTEMPARAMETERS badVersion = {9, 9, 5000, 500, 10};
  KRFlumera* server = reinterpret_cast<KRFlumera*>(1);
  EXPECT_EQ(CreateKRStreamInstance(&product, &badVersion, &server), 2);
  EXPECT_EQ(server, nullptr);
  product.listenerPorts = kMaxListenerPorts + 1;
  const _tagSYSTEMPARAMETERS system = {2, 2, 5000, 500, 10};
  EXPECT_EQ(CreateKRStreamInstance(&product, &system, &server), 3);
  EXPECT_EQ(server, nullptr);
}

enum { kSet5 = 5 };

// Each request in each state: the reply code and the state it leaves.
TEST(Controller, ReplyCodesByState) {
  struct Case { int state; KRStreamMsgTypes request; long reply; int after; };
  const Case cases[] = {
      {KRS_ERROR, KRM_PRIME, 100, KRS_ERROR},   {KRS_ERROR, KRM_PLAY, 100, KRS_ERROR},
      {KRS_ERROR, KRM_STOP, 100, KRS_ERROR},    {KRS_ERROR, KRM_PAUSE, 0, KRS_ERROR},
      {KRS_CONFIG, KRM_PRIME, 0, KRS_PRIME},    {KRS_CONFIG, KRM_PLAY, 100, KRS_CONFIG},
      {KRS_CONFIG, KRM_STOP, 0, KRS_CONFIG},    {KRS_CONFIG, KRM_PAUSE, 0, KRS_CONFIG},
      {KRS_PRIME, KRM_PRIME, 100, KRS_PRIME},   {KRS_PRIME, KRM_PLAY, 0, KRS_PLAY},
      {KRS_PRIME, KRM_STOP, 0, KRS_CONFIG},     {KRS_PRIME, KRM_PAUSE, 0, KRS_PRIME},
      {KRS_PLAY, KRM_PRIME, 100, KRS_PLAY},     {KRS_PLAY, KRM_PLAY, 100, KRS_PLAY},
      {KRS_PLAY, KRM_STOP, 0, KRS_CONFIG},      {KRS_PLAY, KRM_PAUSE, 0, KRS_PAUSE},
      {KRS_PAUSE, KRM_PRIME, 100, KRS_PAUSE},   {KRS_PAUSE, KRM_PLAY, 0, KRS_PLAY},
      {KRS_PAUSE, KRM_STOP, 0, KRS_CONFIG},     {KRS_PAUSE, KRM_PAUSE, 0, KRS_PAUSE},
      {kSet5, KRM_PRIME, 0, kSet5},             {kSet5, KRM_PLAY, 0, kSet5},
      {kSet5, KRM_STOP, 0, kSet5},              {kSet5, KRM_PAUSE, 0, kSet5},
  };
  for (const Case& c : cases) {
    PortHolder taken(SOCK_STREAM);
    Host h(c.state == KRS_ERROR ? 1 : 0);
    ASSERT_EQ(h.created, 0);
    ASSERT_NE(h.server, nullptr);
    h.session->rtspPorts[0] = taken.port;
    if (c.state == KRS_ERROR) {
      h.Send(KRM_PRIME);
      Message m;
      ASSERT_TRUE(h.Next(m));  // the port failure
      ASSERT_TRUE(h.Next(m));
      ASSERT_EQ(m.extra, 102u);
    } else if (c.state == KRS_CONFIG) {
      ASSERT_EQ(h.Request(KRM_PRIME), 0);  // names the reply queue
      ASSERT_EQ(h.Request(KRM_STOP), 0);
    } else if (c.state == kSet5) {
      ASSERT_EQ(h.Request(KRM_PRIME), 0);
      h.server->SetCurState(KRS_STOPALL);
    } else {
      ASSERT_EQ(h.Request(KRM_PRIME), 0);
      if (c.state >= KRS_PLAY) {
        ASSERT_EQ(h.Request(KRM_PLAY), 0);
      }
      if (c.state == KRS_PAUSE) {
        ASSERT_EQ(h.Request(KRM_PAUSE), 0);
      }
    }
    ASSERT_EQ(int(h.server->GetCurState()), c.state);
    EXPECT_EQ(h.Request(c.request), c.reply) << "state " << c.state << " request " << c.request;
    EXPECT_EQ(int(h.server->GetCurState()), c.after) << "state " << c.state << " request " << c.request;
    if (c.state == kSet5) h.server->SetCurState(KRS_PRIME);
  }
}

TEST(Controller, PortInUseIsReportedAndLeavesNoThread) {
  struct Case { unsigned long mask; int busy; long line; };
  const Case cases[] = {{1, 0, 903}, {2, 1, 923}, {2, 2, 932}};
  for (const Case& c : cases) {
    PortHolder rtsp(SOCK_STREAM, c.busy == 0), udp1(SOCK_DGRAM, c.busy == 1), udp2(SOCK_DGRAM, c.busy == 2);
    Host h(c.mask);
    ASSERT_NE(h.server, nullptr);
    h.session->rtspPorts[0] = rtsp.port;
    h.session->udpPort1 = udp1.port;
    h.session->udpPort2 = udp2.port;
    const unsigned short busyPort = c.busy == 0 ? rtsp.port : c.busy == 1 ? udp1.port : udp2.port;
    const int threadsBefore = ThreadsOfThisProcess();
    h.Send(KRM_PRIME);
    Message m;
    ASSERT_TRUE(h.Next(m));
    EXPECT_EQ(m.type, KRM_PORT_FAILURE);
    EXPECT_EQ(m.extra, busyPort);
    ASSERT_TRUE(h.Next(m));
    EXPECT_EQ(m.type, KRM_PRIME_REPLY);
    EXPECT_EQ(m.extra, 102u);
    EXPECT_EQ(h.server->GetCurState(), KRS_ERROR);
    ASSERT_NE(h.server->GetException(), nullptr);
    EXPECT_EQ(h.server->GetException()->line, c.line);
    // Threads that were started have ended (allow the system a moment to
    // take ended threads off its list).
    int threads = ThreadsOfThisProcess();
    for (int i = 0; i < 100 && threads > threadsBefore; ++i) Sleep(10), threads = ThreadsOfThisProcess();
    EXPECT_LE(threads, threadsBefore);
    // Releasing after the failed Prime returns promptly.
    const DWORD start = GetTickCount();
    h.Release();
    EXPECT_LT(GetTickCount() - start, 3000u);
  }
}

TEST(Controller, PrimeOpensTheListenersAndStopClosesThem) {
  PortHolder rtsp(SOCK_STREAM, false), udp1(SOCK_DGRAM, false), udp2(SOCK_DGRAM, false);
  Host h(3);
  h.session->rtspPorts[0] = rtsp.port;
  h.session->udpPort1 = udp1.port;
  h.session->udpPort2 = udp2.port;
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(h.Request(KRM_PRIME), 0) << round;
    EXPECT_GT(h.session->sessionNumber, 4096u);
    EXPECT_TRUE(CanConnect(rtsp.port));
    ASSERT_EQ(h.Request(KRM_STOP), 0);
    EXPECT_FALSE(CanConnect(rtsp.port));  // free again, so the next Prime can take it
  }
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  ASSERT_EQ(h.Request(KRM_PLAY), 0);
  const DWORD start = GetTickCount();
  h.Release();  // in Play: everything torn down
  EXPECT_LT(GetTickCount() - start, 3000u);
  EXPECT_FALSE(CanConnect(rtsp.port));
}

// Control messages queued back to back are all answered, in order.
TEST(Controller, EveryQueuedControlMessageIsHandled) {
  Host h(0);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  ASSERT_EQ(h.Request(KRM_STOP), 0);
  for (int i = 0; i < 30; ++i) h.Send(KRM_PRIME), h.Send(KRM_PLAY), h.Send(KRM_STOP);
  for (int i = 0; i < 90; ++i) {
    Message m;
    ASSERT_TRUE(h.Next(m)) << "reply " << i << " stranded";
    EXPECT_EQ(m.type, KRM_PRIME_REPLY + i % 3);
    EXPECT_EQ(m.extra, 0u);
  }
}

TEST(Controller, MediaBuffersGoBackToTheHeapTheirTagNames) {
  Host h(0);
  struct Case { bool video; int length; unsigned char tag; bool freed; };
  const Case cases[] = {
      {true, 100, kVideoBufferTag, true}, {false, 50, kAudioBufferTag, true},
      {true, 100, 0, false},              // names neither heap
      {false, 0, kAudioBufferTag, false},  // no room for a tag inside the length
  };
  for (const Case& c : cases) {
    unsigned char* p = c.video ? h.server->GetVideoMem(128) : h.server->GetAudioMem(128);
    ASSERT_NE(p, nullptr);
    if (c.length > 0) p[c.length - 1] = c.tag;
    EXPECT_EQ(h.server->FreeMediaBuffer(p, c.length), c.freed);
    if (!c.freed) c.video ? h.server->FreeVideoMem(p) : h.server->FreeAudioMem(p);
  }
  // Media outside Play and while stopping are freed, never queued.
  for (KRStreamStates s : {KRS_CONFIG, KRS_STOPALL}) {
    h.server->SetCurState(s);
    for (int i = 0; i < 50; ++i) {
      unsigned char* p = h.server->GetAudioMem(64);
      p[63] = kAudioBufferTag;
      h.server->SendMsgToMe(KRM_MEDIA_DATA, 0, p, 64, 0);
    }
  }
  h.server->SetCurState(KRS_CONFIG);
}

TEST(Controller, ClientIdentifiersAreCounters) {
  Host h(0);
  const unsigned long a = h.server->NextClientId(), b = h.server->NextClientId();
  EXPECT_NE(a, 0u);
  EXPECT_EQ(b, a + 1);
}

}  // namespace
