// The RTSP server, senders and UDP side channels under a host of our own,
// driven only through Flumera.dll's exports and queues; players are a
// plain Winsock client and the python client of the dialect.
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "server_host.h"

using namespace flumera_test;

namespace {

WinsockScope winsock;

const std::string kSource = SUITE_TEST_DATA_DIR;
const std::string kClient = kSource + "/tests/rtsp_client.py";

std::string Url(unsigned short port, const char* path = "live") {
  return "rtsp://127.0.0.1:" + std::to_string(port) + "/" + path;
}


// Feeds the clip at 15 frames per second of media time and 100 ms AMR
// buffers (five frames), interleaved by time, without waiting.
void FeedClip(Host& h, const std::vector<Bytes>& amr) {
  const Clip& clip = TheClip();
  size_t v = 0, a = 0;
  while (v < clip.units.size() || a < amr.size()) {
    const uint32_t vt = uint32_t(v * 1000 / 15), at = uint32_t(a * 20);
    if (v < clip.units.size() && (a >= amr.size() || vt <= at)) {
      h.FeedVideo(clip.units[v], clip.keys[v] ? 0x00 : 0x10, vt, 66);
      ++v;
    } else {
      const size_t n = std::min<size_t>(5, amr.size() - a);
      h.FeedAmr(std::vector<Bytes>(amr.begin() + std::ptrdiff_t(a), amr.begin() + std::ptrdiff_t(a + n)), at, 20);
      a += n;
    }
    Sleep(2);
  }
}

// ------------------------------------------------------------ python peer

TEST(Server, PythonClientRebuildsTheFedUnits) {
  if (!UnderWine()) GTEST_SKIP() << "the python peer is started through Wine";
  SessionSetup setup;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_NE(h.server, nullptr);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const std::string out = WorkDirUnix() + "/" + ScratchDir("peer_receive");
  std::remove((out + "/done").c_str());
  std::remove((out + "/last").c_str());
  const uint32_t last = uint32_t((TheClip().units.size() - 1) * 1000 / 15);
  ASSERT_TRUE(StartProgram("/usr/bin/python3 " + kClient + " receive " + Url(h.rtspPort) + " --out " + out +
                           " --ffmpeg --timeout 60 --last-ts " + std::to_string(last) + " --done " + out + "/done"));
  Message m;
  ASSERT_TRUE(h.WaitFor(KRM_CLIENT_PLAYING, &m, 20000)) << "the client did not play";
  EXPECT_EQ(m.extra, 0u);  // primed: the host is to send Play (it does)
  ASSERT_TRUE(h.WaitFor(KRM_PLAY_REPLY, &m, 5000));
  ASSERT_EQ(m.extra, 0u);
  const std::vector<Bytes> amr = AmrFrames(100);
  FeedClip(h, amr);
  // Stop drops what the sender still holds: it comes once the last unit
  // (the last one fed) has reached the client.
  EXPECT_TRUE(WaitForFile(out + "/last", 30000));
  ASSERT_EQ(h.Request(KRM_STOP), 0);
  ASSERT_TRUE(WaitForFile(out + "/done", 90000)) << "the python client did not finish";
  EXPECT_EQ(ReadText(out + "/done"), "0\n");
  const std::string result = ReadText(out + "/result.json");
  EXPECT_NE(result.find("\"end_of_stream\": true"), std::string::npos) << result;
  EXPECT_NE(result.find("\"sequences_in_order\": true"), std::string::npos) << result;
  EXPECT_NE(result.find("\"ssrcs\": [\n  0\n ]"), std::string::npos) << result;
  EXPECT_NE(result.find("\"video_decodes\": true"), std::string::npos) << result;
  EXPECT_NE(result.find("\"amr_decodes\": true"), std::string::npos) << result;
  // The units byte for byte: the first carries the decoder configuration.
  Bytes expected = TheClip().config;
  for (const Bytes& u : TheClip().units) expected.insert(expected.end(), u.begin(), u.end());
  const Bytes video = ReadFile(out + "/video.m4v");
  EXPECT_EQ(video.size(), expected.size());
  EXPECT_TRUE(video == expected);
  Bytes amrFile = {'#', '!', 'A', 'M', 'R', '\n'};
  for (const Bytes& f : amr) amrFile.insert(amrFile.end(), f.begin(), f.end());
  const Bytes audio = ReadFile(out + "/audio.amr");
  EXPECT_EQ(audio.size(), amrFile.size());
  EXPECT_TRUE(audio == amrFile);
}

// ------------------------------------------------------------ many clients

int ThreadsOfThisProcess() {
  HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 e = {};
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e)) n += e.th32OwnerProcessID == GetCurrentProcessId();
  CloseHandle(snap);
  return n;
}

long SummaryValue(const std::string& summary, const std::string& key) {
  const size_t at = summary.find("\n" + key + " ");
  const size_t first = summary.compare(0, key.size() + 1, key + " ") == 0 ? 0 : std::string::npos;
  if (at == std::string::npos && first == std::string::npos) return -999999;
  return long(std::atof(summary.c_str() + (first == 0 ? key.size() + 1 : at + key.size() + 2)));
}

// Real-time feeding of the clip `loops` times (15 frames per second).
void FeedLive(Host& h, int loops) {
  const Clip& clip = TheClip();
  const DWORD start = GetTickCount();
  for (int l = 0; l < loops; ++l) {
    for (size_t v = 0; v < clip.units.size(); ++v) {
      const uint32_t t = uint32_t((l * clip.units.size() + v) * 1000 / 15);
      while (int(GetTickCount() - start) < int(t)) Sleep(2);
      h.FeedVideo(clip.units[v], clip.keys[v] ? 0x00 : 0x10, t, 66);
    }
  }
}

TEST(Server, SixtyFourClientsAndOneSlowReader) {
  if (!UnderWine()) GTEST_SKIP() << "the python peer is started through Wine";
  SessionSetup setup;
  setup.product = {64, 1, 64, 1, 0};
  setup.mediaMask = 2;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  const int threadsBefore = ThreadsOfThisProcess();  // the host's and the controller's
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const std::string out = WorkDirUnix() + "/" + ScratchDir("peer_many");
  std::remove((out + "/done").c_str());
  std::remove((out + "/many_ready").c_str());
  std::remove((out + "/many_last").c_str());
  const uint32_t last = uint32_t((TheClip().units.size() * 3 - 1) * 1000 / 15);
  ASSERT_TRUE(StartProgram("/usr/bin/python3 " + kClient + " many " + Url(h.rtspPort) + " --clients 64 --slow 0 --out " +
                           out + " --timeout 90 --last-ts " + std::to_string(last) + " --done " + out + "/done"));
  ASSERT_TRUE(WaitForFile(out + "/many_ready", 30000)) << "the clients did not all play";
  Message m;
  ASSERT_TRUE(h.WaitFor(KRM_PLAY_REPLY, &m, 5000, [](const Message& r) { return r.extra == 0; }));
  FeedLive(h, 3);
  // Stop drops what the sender still holds: it comes once the last unit is out.
  EXPECT_TRUE(WaitForFile(out + "/many_last", 30000));
  Sleep(500);
  ASSERT_EQ(h.Request(KRM_STOP), 0);
  // Every thread of the session has ended (the system may take a moment to
  // take them off its list).
  int threads = ThreadsOfThisProcess();
  for (int i = 0; i < 100 && threads > threadsBefore; ++i) Sleep(10), threads = ThreadsOfThisProcess();
  EXPECT_LE(threads, threadsBefore);
  ASSERT_TRUE(WaitForFile(out + "/done", 60000));
  const std::string summary = ReadText(out + "/many_summary.txt");
  const long units = long(TheClip().units.size() * 3);
  EXPECT_EQ(SummaryValue(summary, "errors"), 0) << summary;
  EXPECT_EQ(SummaryValue(summary, "fast_units_min"), units) << summary;
  EXPECT_EQ(SummaryValue(summary, "fast_in_order"), 1) << summary;
  EXPECT_EQ(SummaryValue(summary, "fast_eos"), 1) << summary;  // the end notice reached every other client
  EXPECT_EQ(SummaryValue(summary, "slow_in_order"), 1) << summary;
  // The slow reader fell seconds behind and skipped ahead; the others did
  // not wait for it.
  EXPECT_LT(SummaryValue(summary, "slow_units"), units) << summary;
  EXPECT_GT(SummaryValue(summary, "slow_max_ms"), 1000) << summary;
  EXPECT_LT(SummaryValue(summary, "fast_p99_ms"), 1000) << summary;
}

// ------------------------------------------------------------ joining late

std::string SetupAndPlay(Client& c, const Host& h) {
  const std::string url = "rtsp://127.0.0.1/live";
  c.SendText(Request("SETUP", url, 1, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\n"));
  std::string reply = c.Reply();
  c.SendText(Request("PLAY", url, 2, "Session: " + std::to_string(h.session->sessionNumber) + "\r\n"));
  return reply + c.Reply();
}

// The unit a video packet carries whole (one table entry: word and size).
Bytes UnitOf(const std::string& packet) {
  if (packet.size() < 20) return {};
  const uint8_t* p = reinterpret_cast<const uint8_t*>(packet.data());
  const uint32_t size = uint32_t(p[16]) << 24 | uint32_t(p[17]) << 16 | uint32_t(p[18]) << 8 | p[19];
  return Bytes(p + 20, p + 20 + std::min<size_t>(size, packet.size() - 20));
}

TEST(Server, LateJoinerStartsWithTheConfigurationAndAKeyFrame) {
  SessionSetup setup;
  setup.mediaMask = 2;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const Clip& clip = TheClip();
  ASSERT_TRUE(clip.keys[0] && clip.keys[15] && !clip.keys[6]);
  Client early(h.rtspPort);
  ASSERT_NE(SetupAndPlay(early, h).find("Session:"), std::string::npos);
  Message m;
  ASSERT_TRUE(h.WaitFor(KRM_PLAY_REPLY, &m, 5000));
  for (size_t v = 0; v < 6; ++v) h.FeedVideo(clip.units[v], clip.keys[v] ? 0 : 0x10, uint32_t(v * 66), 66);
  std::string packet;
  ASSERT_TRUE(early.ReadPacket(&packet));
  Bytes first = clip.config;
  first.insert(first.end(), clip.units[0].begin(), clip.units[0].end());
  EXPECT_TRUE(UnitOf(packet) == first);
  for (size_t v = 1; v < 6; ++v) {
    ASSERT_TRUE(early.ReadPacket(&packet));
    EXPECT_TRUE(UnitOf(packet) == clip.units[v]) << v;
  }
  // Mid-picture-group: the newcomer waits for the next key frame and gets
  // the configuration in front of it; the first client goes on as before.
  Client late(h.rtspPort);
  ASSERT_NE(SetupAndPlay(late, h).find("Session:"), std::string::npos);
  for (size_t v = 6; v < 20; ++v) h.FeedVideo(clip.units[v], clip.keys[v] ? 0 : 0x10, uint32_t(v * 66), 66);
  ASSERT_TRUE(late.ReadPacket(&packet));
  first = clip.config;
  first.insert(first.end(), clip.units[15].begin(), clip.units[15].end());
  EXPECT_TRUE(UnitOf(packet) == first);
  ASSERT_TRUE(late.ReadPacket(&packet));
  EXPECT_TRUE(UnitOf(packet) == clip.units[16]);
  for (size_t v = 6; v < 20; ++v) {
    ASSERT_TRUE(early.ReadPacket(&packet));
    EXPECT_TRUE(UnitOf(packet) == clip.units[v]) << v;
  }
}

// A silent set-up client is dropped alone; a client's PAUSE pauses the
// controller, and the last client's departure returns it to Prime.
TEST(Server, IdleClientGoesAloneAndPauseEndsTheLastClient) {
  SessionSetup setup;
  setup.mediaMask = 2;
  setup.system.silenceMs = 1000;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  Client playing(h.rtspPort), idle(h.rtspPort);
  ASSERT_NE(SetupAndPlay(playing, h).find("Session:"), std::string::npos);
  Message m;
  ASSERT_TRUE(h.WaitFor(KRM_PLAY_REPLY, &m, 5000));
  idle.SendText(Request("SETUP", "rtsp://127.0.0.1/live", 1, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\n"));
  EXPECT_EQ(idle.Reply().substr(0, 15), "RTSP/1.0 200 OK");
  EXPECT_TRUE(idle.Closed(4000));
  EXPECT_FALSE(playing.Closed(300));
  EXPECT_EQ(h.server->GetCurState(), KRS_PLAY);
  EXPECT_EQ(h.Count(KRM_NO_CLIENTS), 0);
  playing.SendText(Request("PAUSE", "rtsp://127.0.0.1/live", 3, "Session: " + std::to_string(h.session->sessionNumber) + "\r\n"));
  EXPECT_EQ(playing.Reply(), "RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n");
  EXPECT_TRUE(h.WaitFor(KRM_PAUSED_BY_CLIENT, &m, 3000));
  EXPECT_TRUE(playing.Closed(3000));  // paused clients leave at the next pass
  EXPECT_TRUE(h.WaitFor(KRM_NO_CLIENTS, &m, 3000));
  EXPECT_EQ(h.server->GetCurState(), KRS_PRIME);
}

// ------------------------------------------------------------ requests

std::string Substitute(std::string text, unsigned long session) {
  for (size_t at; (at = text.find("{S}")) != std::string::npos;) text.replace(at, 3, std::to_string(session));
  for (size_t at; (at = text.find("{W}")) != std::string::npos;) text.replace(at, 3, std::to_string(session + 1));
  return text;
}

// Each case: requests on one connection; the last one's reply and whether
// the server then closes the connection.
TEST(Server, RequestTable) {
  struct Case {
    const char* name;
    std::vector<std::string> before;  // answered with 200 first
    std::string request;
    std::string reply;  // expected prefix
    bool closes;
  };
  const std::string live = "rtsp://127.0.0.1/live";
  const std::string setup = Request("SETUP", live, 2, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\n");
  const Case cases[] = {
      {"OPTIONS", {}, Request("OPTIONS", "*", 1), "RTSP/1.0 400 Bad Request\r\nCSeq: 1\r\n\r\n", false},
      {"archive path", {}, Request("DESCRIBE", "rtsp://127.0.0.1/archive", 3),
       "RTSP/1.0 400 Bad Request\r\nCSeq: 3\r\n\r\n", true},
      {"player refused", {}, Request("DESCRIBE", live, 4, "User-Agent: WMF/1.1,Orlomer 3.0,ENGL\r\n"),
       "RTSP/1.0 400 Bad Request\r\nCSeq: 4\r\n", true},
      {"describe live", {}, Request("DESCRIBE", live, 5), "RTSP/1.0 200 OK\r\nCSeq:5\r\nContent-Type:application/sdp\r\n"
       "Content-Length: ", false},
      {"no CSeq", {}, "DESCRIBE " + live + " RTSP/1.0\r\n\r\n", "RTSP/1.0 400 Bad Request\r\n", true},
      {"over-long", {}, "DESCRIBE " + live + " RTSP/1.0\r\nX: " + std::string(3000, 'x'),
       "RTSP/1.0 400 Bad Request\r\n", true},
      {"wrong session", {setup}, Request("PLAY", live, 6, "Session: {W}\r\n"),
       "RTSP/1.0 400 Bad Request\r\nCSeq: 6\r\n\r\n", true},
      {"play", {setup}, Request("PLAY", live, 7, "Session: {S}\r\n"), "RTSP/1.0 200 OK\r\nCSeq: 7\r\nSession:{S}\r\n\r\n",
       false},
      {"second setup", {setup}, setup, "RTSP/1.0 400 Bad Request\r\nCSeq: 2\r\n\r\n", false},
      {"image", {}, Request("GET_PARAMETER", live, 8, "Session: {S}\r\n"),
       "RTSP/1.0 200 OK\r\nCSeq: 8\r\nSession: {S}\r\nContent-Type: image/x-kr-mp4\r\nContent-Length: 7\r\n\r\n"
       "HDRIMG!", false},
  };
  SessionSetup setup4;
  setup4.videoConfig = TheClip().config;
  setup4.mediaMask = 7;
  Host h(setup4);
  unsigned char image[4] = {'I', 'M', 'G', '!'};
  h.session->stillImage = image;
  h.session->stillImageLength = 4;
  std::memcpy(h.session->stillHeader, "HDR", 3);
  h.session->stillHeaderLength = 3;
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const unsigned long session = h.session->sessionNumber;
  for (const Case& c : cases) {
    Client client(h.rtspPort);
    ASSERT_TRUE(client.Connected()) << c.name;
    for (const std::string& b : c.before) {
      client.SendText(Substitute(b, session));
      EXPECT_EQ(client.Reply().substr(0, 15), "RTSP/1.0 200 OK") << c.name;
    }
    client.SendText(Substitute(c.request, session));
    const std::string reply = client.Reply();
    const std::string expected = Substitute(c.reply, session);
    EXPECT_EQ(reply.substr(0, expected.size()), expected) << c.name;
    EXPECT_EQ(client.Closed(c.closes ? 3000 : 300), c.closes) << c.name;
  }
  EXPECT_EQ(h.Request(KRM_STOP), 0);
}

TEST(Server, SetupBeyondTheListenersLimitGets503) {
  SessionSetup setup;
  setup.product.maxClientsPerListener = 1;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const std::string req = Request("SETUP", "rtsp://127.0.0.1/live", 1, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\n");
  Client first(h.rtspPort), second(h.rtspPort);
  first.SendText(req);
  EXPECT_EQ(first.Reply().substr(0, 15), "RTSP/1.0 200 OK");
  second.SendText(req);
  EXPECT_EQ(second.Reply(), "RTSP/1.0 503 Service Unavailable\r\nCSeq: 1\r\n\r\n");
  EXPECT_TRUE(second.Closed());
  EXPECT_FALSE(first.Closed(300));
}

// ------------------------------------------------------------ admission

std::string RecordText(const Message& m, size_t at, size_t size) {
  if (m.data.size() < at + size) return {};
  return std::string(reinterpret_cast<const char*>(m.data.data() + at), strnlen(reinterpret_cast<const char*>(m.data.data() + at), size));
}
unsigned long RecordWord(const Message& m) {
  unsigned long w = 0;
  if (m.data.size() >= 4) std::memcpy(&w, m.data.data(), 4);
  return w;
}

struct Udp {
  SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
  ~Udp() { closesocket(s); }
  // Sends `n` bytes to the port and returns the answer ("" without one).
  std::string Exchange(unsigned short port, const std::string& datagram) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    sendto(s, datagram.data(), int(datagram.size()), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    fd_set r;
    FD_ZERO(&r);
    FD_SET(s, &r);
    timeval tv = {2, 0};
    if (select(0, &r, nullptr, nullptr, &tv) != 1) return {};
    char buf[64];
    const int n = recv(s, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
  }
};

TEST(Server, DeviceClientsAreAdmittedByTheHost) {
  SessionSetup setup;
  setup.product = {4, 1, 2, 3, 0x0100};  // both kinds; the host decides on devices
  setup.system = {2, 2, 1500, 200, 5};
  setup.outputMask = 3;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const std::string device =
      Request("SETUP", "rtsp://127.0.0.1/live", 1,
              "Transport: RTP/AVP;unicast;client_port=7000-7001\r\nDevice: phone\r\nID: handset-1\r\n");
  struct Case {
    bool admit;
    std::string reply;
    bool closes;
  };
  const Case cases[] = {
      {true,
       "RTSP/1.0 200 OK\r\nCSeq: 1\r\nSession: {S}\r\nVersion: 2.0\r\nMax_packet_size: 1024\r\nRTCP-Interval: 200\r\n"
       "Transport:RTP/AVP;unicast;client_port=7000-7001;server_port=" +
           std::to_string(h.udp1) + "-" + std::to_string(h.udp2) + "\r\n\r\n",
       false},
      {false, "RTSP/1.0 401 FAILED\r\nCSeq: 1\r\n\r\n", true},
  };
  std::vector<std::unique_ptr<Client>> kept;
  for (const Case& c : cases) {
    auto client = std::make_unique<Client>(h.rtspPort);
    client->SendText(device);
    Message m;
    ASSERT_TRUE(h.WaitFor(KRM_ADMISSION, &m, 5000));
    ASSERT_EQ(m.length, 292);
    ASSERT_EQ(m.data.size(), 292u);
    EXPECT_EQ(RecordText(m, 4, 32), "127.0.0.1");
    EXPECT_EQ(RecordText(m, 36, 256), "ID: handset-1\r\n\r\n");
    EXPECT_EQ(client->Reply(300), "");  // the answer waits for the verdict
    h.server->SendMsgToMe(KRM_ADMISSION, 0, nullptr, int(RecordWord(m)), c.admit ? 1 : 0);
    EXPECT_EQ(client->Reply(), Substitute(c.reply, h.session->sessionNumber));
    EXPECT_EQ(client->Closed(c.closes ? 3000 : 300), c.closes);
    kept.push_back(std::move(client));
  }
  // The admitted device registers: the first 8 bytes come back, or all of
  // a shorter datagram.
  Udp udp;
  EXPECT_EQ(udp.Exchange(h.udp1, "0123456789abcdef"), "01234567");
  EXPECT_EQ(udp.Exchange(h.udp1, "vwxyz"), "vwxyz");
  // Silent past the limit: dropped by the monitor, the host told why.
  Message m;
  ASSERT_TRUE(h.WaitFor(KRM_CLIENT_NOTICE, &m, 6000));
  EXPECT_EQ(RecordWord(m), 2u);
  EXPECT_EQ(RecordText(m, 4, 32), "127.0.0.1");
  EXPECT_TRUE(kept[0]->Closed());
  EXPECT_EQ(h.Request(KRM_STOP), 0);
}

// Framed clients held by the low byte are offered to the host as devices
// are; the verdict answers the held SETUP.
TEST(Server, HeldFramedClientsAreAdmittedByTheHost) {
  SessionSetup setup;
  setup.product = {4, 1, 2, 3, 0x0001};
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const std::string url = "rtsp://127.0.0.1/live";
  const std::string setupText =
      Request("SETUP", url, 1, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\nID: player-1\r\n");
  const std::string port = std::to_string(h.rtspPort);
  const struct {
    bool admit;
    std::string reply;
  } cases[] = {
      {true, "RTSP/1.0 200 OK\r\nCSeq: 1\r\nSession: {S}\r\nTransport: RTP/AVP;unicast;client_port=7000-7001;server_port=" +
                 port + "-" + port + "\r\n\r\n"},
      {false, "RTSP/1.0 401 FAILED\r\nCSeq: 1\r\n\r\n"},
  };
  for (const auto& c : cases) {
    Client client(h.rtspPort);
    client.SendText(setupText);
    Message m;
    ASSERT_TRUE(h.WaitFor(KRM_ADMISSION, &m, 5000));
    EXPECT_EQ(RecordText(m, 4, 32), "127.0.0.1");
    EXPECT_EQ(RecordText(m, 36, 256), "ID: player-1\r\n\r\n");
    EXPECT_EQ(client.Reply(300), "");  // held for the verdict
    h.server->SendMsgToMe(KRM_ADMISSION, 0, nullptr, int(RecordWord(m)), c.admit ? 1 : 0);
    EXPECT_EQ(client.Reply(), Substitute(c.reply, h.session->sessionNumber));
    if (c.admit) {
      client.SendText(Request("PLAY", url, 2, "Session: " + std::to_string(h.session->sessionNumber) + "\r\n"));
      EXPECT_EQ(client.Reply().substr(0, 15), "RTSP/1.0 200 OK") << "the admitted client plays";
    } else {
      EXPECT_TRUE(client.Closed());
    }
  }
  EXPECT_EQ(h.Request(KRM_STOP), 0);
}

// Stop sends every client its end notice: a device client through the TCP
// sender, a framed one through the UDP/RTP sender.
TEST(Server, StopSendsEveryClientItsEndNotice) {
  SessionSetup setup;
  setup.product = {4, 1, 2, 3, 0};  // both kinds, no verdicts
  setup.outputMask = 3;
  setup.videoConfig = TheClip().config;
  Host h(setup);
  ASSERT_EQ(h.Request(KRM_PRIME), 0);
  const std::string url = "rtsp://127.0.0.1/live";
  Client device(h.rtspPort), framed(h.rtspPort);
  device.SendText(Request("SETUP", url, 1, "Transport: RTP/AVP;unicast;client_port=7000-7001\r\nDevice: phone\r\n"));
  EXPECT_NE(device.Reply().find("Max_packet_size: 1024"), std::string::npos);
  ASSERT_NE(SetupAndPlay(framed, h).find("Session:"), std::string::npos);
  ASSERT_EQ(h.Request(KRM_STOP), 0);
  const std::string notice = "END_OF_STREAM " + url + " RTSP/1.0\r\nCSeq: 0\r\nSession: " +
                             std::to_string(h.session->sessionNumber) + "\r\n\r\n";
  EXPECT_EQ(device.Reply(), notice);
  EXPECT_EQ(framed.Reply(), notice);
  EXPECT_TRUE(device.Closed());
  EXPECT_TRUE(framed.Closed());
}

}  // namespace
