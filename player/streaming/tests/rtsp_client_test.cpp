// The RTSP client against GStreamer's RTSP server and a scripted server of
// the dialect (tests/rtsp_peers.py, started for the whole run by a CTest
// fixture).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "rtsp_peer_support.h"
#include "streaming/rtsp_client.h"

using namespace streaming;

namespace {

using peers::ReadFile;
using peers::PeerPort;

// The requests the scripted server read on a path, oldest first.
std::vector<std::string> ScriptedLog(const std::string& path) {
  std::vector<std::string> requests;
  const std::string text = ReadFile("rtsp_peers/" + path + ".log");
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n\r\n", at);
    if (end == std::string::npos) break;
    requests.push_back(text.substr(at, end - at + 2));
    at = end + 4;
  }
  return requests;
}

std::string LastRequest(const std::string& path, const char* method) {
  const auto log = ScriptedLog(path);
  for (auto it = log.rbegin(); it != log.rend(); ++it) {
    if (it->rfind(method, 0) == 0) return *it;
  }
  return "";
}

std::string HeaderLine(const std::string& request, const char* name) {
  const std::string key = std::string("\r\n") + name + ": ";
  const size_t at = request.find(key);
  if (at == std::string::npos) return "";
  const size_t start = at + key.size();
  return request.substr(start, request.find("\r\n", start) - start);
}

class TestClient : public RtspClient {
 public:
  using RtspClient::RtspClient;
  using RtspClient::LowestFreeId;
};

// A streaming session's worth of parts with the scheduler running in its own
// thread, as the session thread runs it.
struct Session {
  Session() {
    CreateStreamClock();
    sockets.Startup();
    sockets.SetProbeInterval(100);
    client.SetTimeoutsForTest(4000, 2000);
    scheduler.AddTask(&RtspClient::RunTask, &client, -1);
    scheduler.AddTask(&MediaDataTask::RunTask, &media, 0);
    thread = std::thread([this] { scheduler.Run(0); });
  }
  ~Session() {
    // A test that stopped early leaves no server sending to our ports.
    client.SetTimeoutsForTest(500, 500);
    for (int32_t id = 0; id < 2; ++id) {
      if (client.FindPresentation(id)) client.StartTeardown(id, nullptr, nullptr);
    }
    scheduler.Stop();
    thread.join();
    sockets.Cleanup();
    DestroyStreamClock();
  }

  // Ready, with reception records for the presentation's track 0.
  int32_t Open(const std::string& url, uint32_t clockRate = 8000) {
    // The scripted server's log of this path starts anew.
    std::remove(("rtsp_peers/" + url.substr(url.rfind('/') + 1) + ".log").c_str());
    int32_t id = -1;
    int32_t rc = client.StartDescribe(id, url.c_str(), nullptr, nullptr);
    EXPECT_EQ(rc, 1) << url;
    if (rc != 1) return -1;
    for (int32_t m = 0; m < client.GetMediaCount(id); ++m) {
      const char* control = RefStringText(client.GetMediaList(id)[m]->control);
      rc = client.StartSetup(id, m, m, control, nullptr, nullptr);
      EXPECT_EQ(rc, 1) << url << " media " << m;
      if (rc != 1) return -1;
    }
    rtp.AddRecord(id, 1 << 16, 1000, 5000);
    rtp.SetTrackKind(id, 0, kPayloadMpeg4, 96, 1 << 16);
    rtp.SetClockRate(id, 0, clockRate);
    rtp.SetSlotArray(id, 0);
    client.SetTrackMap(id, trackMap);
    return id;
  }

  SocketLayer sockets;
  TaskScheduler scheduler;
  RtpSession rtp{&sockets};
  bool ok = false;
  TestClient client{&sockets, &scheduler, &rtp, ok};
  MediaDataTask media{&client, &rtp, &sockets};
  const int32_t trackMap[2] = {0, -1};
  std::thread thread;
};

using peers::Url;

}  // namespace

TEST(RtspClientGstreamer, PlayPauseResumeTeardown) {
  Session s;
  const int32_t id = s.Open(Url("gst", "test"), 90000);
  ASSERT_GE(id, 0);
  EXPECT_EQ(s.client.GetState(id), kStateReady);

  ASSERT_EQ(s.client.StartPlay(id, 0, -1, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.GetState(id), kStatePlaying);
  // A reader thread takes frames while this thread makes requests and the
  // session thread runs the tasks (the ThreadSanitizer run uses this test).
  s.rtp.SetPlaying(id, GetStreamClockTime(), 0, false);
  std::atomic<int> frames{0};
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    std::vector<uint8_t> frame(1 << 16);
    while (!stop) {
      uint32_t length = uint32_t(frame.size()), time = 0;
      const int32_t rc = s.rtp.GetFrame(id, 0, frame.data(), length, time);
      if ((rc == 1 || rc == kRtpLostData) && length) frames.fetch_add(1);
      platform::sleepMs(2);
    }
  });
  struct Join {
    std::atomic<bool>& stop;
    std::thread& thread;
    ~Join() {
      stop = true;
      thread.join();
    }
  } join{stop, reader};
  for (int i = 0; i < 300 && frames == 0; ++i) platform::sleepMs(10);
  EXPECT_GT(frames, 0) << "no frame of GStreamer's stream arrived";
  // GStreamer's session carries ";timeout=60", which is never sent back.
  const RtspPresentation* p = s.client.FindPresentation(id);
  ASSERT_NE(std::strstr(p->sessionText, ";timeout="), nullptr) << p->sessionText;
  const std::string play(p->request.composedText(), p->request.composedLength());
  const std::string sessionSent = HeaderLine(play, "Session");
  EXPECT_EQ(sessionSent, std::string(p->sessionText).substr(0, std::strcspn(p->sessionText, ";")));
  // The answer's RTP-Info reached track 0 and the reception: the server's
  // payloader starts at the sequence number and time its launch line sets.
  const ClientTrackSync* sync = s.client.GetTrackSync(id, 0);
  EXPECT_TRUE(sync->seqPresent && sync->rtptimePresent);
  EXPECT_EQ(sync->seq, 4321);
  EXPECT_EQ(sync->rtptime, 123456789u);
  EXPECT_EQ(sync->clockRate, 90000u);
  const TrackState* track = nullptr;
  ASSERT_TRUE(s.rtp.ReadTrack(id, 0, track));
  EXPECT_TRUE(track->infoSeq);
  EXPECT_EQ(track->infoSeqValue, sync->seq);
  EXPECT_EQ(track->infoTimestampValue, sync->rtptime);

  EXPECT_EQ(s.client.StartPause(id, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.GetState(id), kStateReady);
  EXPECT_EQ(s.client.StartResume(id, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.GetState(id), kStatePlaying);
  const std::string resume(p->request.composedText(), p->request.composedLength());
  EXPECT_EQ(HeaderLine(resume, "Range"), "") << resume;
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.FindPresentation(id), nullptr);
  EXPECT_EQ(s.client.GetPresentationCount(), 0);
}

// What PLAY sends: the Range cases, and the dialect's RTT and Buffersize
// towards a server that named itself KRSS.
TEST(RtspClientScripted, PlayHeaders) {
  struct Case {
    const char* path;
    int32_t start, end;
    const char* range;
    bool rtt, buffersize;
  } cases[] = {
      {"norange.a", 12500, 0, "npt=12.500000-", false, false},
      {"plain.a", 0, 30000, "npt=0.000000-30.000000", false, false},
      {"plain.b", 0, 0, "npt=0.0-", false, false},
      {"plain.c", -1, -1, "", false, false},
      {"krss.a", 5000, 60000, "npt=5.000000-", true, true},
      {"krss-notimeout.a", 0, -1, "npt=0.000000-", true, false},
  };
  Session s;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const int32_t id = s.Open(Url("scripted", c.path));
    ASSERT_GE(id, 0);
    s.rtp.SetBufferTime(id, 4000);
    ASSERT_EQ(s.client.StartPlay(id, c.start, c.end, nullptr, nullptr), 1);
    const std::string play = LastRequest(c.path, "PLAY");
    EXPECT_EQ(HeaderLine(play, "Range"), c.range);
    EXPECT_EQ(HeaderLine(play, "RTT").empty(), !c.rtt) << play;
    if (c.rtt) {
      EXPECT_EQ(HeaderLine(play, "RTT").rfind("0 ", 0), 0u) << "stream 0's first probe answered";
    }
    EXPECT_EQ(HeaderLine(play, "Buffersize"), c.buffersize ? "4000" : "");
    // Headers in the dialect's order.
    EXPECT_LT(play.find("CSeq:"), play.find("Session:"));
    if (c.rtt && c.buffersize) {
      EXPECT_LT(play.find("RTT:"), play.find("Buffersize:"));
    }
    EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), 1);
  }
}

TEST(RtspClientScripted, KrssSessionRules) {
  Session s;
  // "Buffersize" of the SETUP answer, the Session value without its timeout.
  const int32_t id = s.Open(Url("scripted", "krss.b"));
  ASSERT_GE(id, 0);
  EXPECT_TRUE(s.client.IsKrssServer(id));
  EXPECT_EQ(s.client.GetBufferTime(id), 3000);
  ASSERT_EQ(s.client.StartPlay(id, 0, -1, nullptr, nullptr), 1);
  EXPECT_EQ(HeaderLine(LastRequest("krss.b", "PLAY"), "Session"), "SKRSS.B");
  const ClientTrackSync* sync = s.client.GetTrackSync(id, 0);
  EXPECT_EQ(sync->rtcpInterval, 2500);
  EXPECT_TRUE(sync->ssrcPresent);
  EXPECT_EQ(sync->ssrc, 0x1234ABCDu);
  EXPECT_EQ(sync->seq, 1000);
  EXPECT_EQ(sync->rtptime, 555555u);
  EXPECT_EQ(sync->startPosition, 12500u * 8);  // the answer's npt=12.5 at 8000 Hz
  EXPECT_TRUE(s.client.IsKrssServer(id));

  // Without "timeout" in the session the flag goes at the first PLAY; the
  // next PLAY probes with it clear and sends neither header.
  const int32_t other = s.Open(Url("scripted", "krss-notimeout.b"));
  ASSERT_GE(other, 0);
  EXPECT_TRUE(s.client.IsKrssServer(other));
  ASSERT_EQ(s.client.StartPlay(other, 0, -1, nullptr, nullptr), 1);
  EXPECT_FALSE(s.client.IsKrssServer(other));
  EXPECT_EQ(HeaderLine(LastRequest("krss-notimeout.b", "PLAY"), "Session"), "KRSS0001");
  ASSERT_EQ(s.client.StartPlay(other, 0, -1, nullptr, nullptr), 1);
  const std::string second = LastRequest("krss-notimeout.b", "PLAY");
  EXPECT_EQ(HeaderLine(second, "RTT"), "");
  EXPECT_EQ(HeaderLine(second, "Buffersize"), "");

  // A 40-character Session is kept at 31.
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), 1);
  const int32_t longId = s.Open(Url("scripted", "longsession.a"));
  ASSERT_GE(longId, 0);
  EXPECT_EQ(std::string(s.client.FindPresentation(longId)->sessionText), std::string(31, 'L'));
  EXPECT_EQ(HeaderLine(LastRequest("longsession.a", "SETUP"), "Session"), "");
}

TEST(RtspClientScripted, FailedAnswersAndServerRequests) {
  Session s;
  int32_t status = 0;
  const char* message = nullptr;

  const int32_t refused = s.Open(Url("scripted", "unsupported.a"));
  ASSERT_GE(refused, 0);
  EXPECT_EQ(s.client.StartPlay(refused, 0, -1, nullptr, nullptr), 0);
  EXPECT_EQ(s.client.GetState(refused), kStateReady);
  EXPECT_EQ(s.client.GetLastStatus(refused, status, message), 1);
  EXPECT_EQ(status, 480);
  ASSERT_NE(message, nullptr);
  EXPECT_STREQ(message, "Orlomer is not served here");
  EXPECT_EQ(s.client.StartTeardown(refused, nullptr, nullptr), 1);
  // Unknown presentation: the client's own status and message.
  EXPECT_EQ(s.client.GetLastStatus(7, status, message), 0);
  EXPECT_EQ(status, 200);  // the TEARDOWN's answer

  // 3xx with "Location" keeps the target; without one, or with one too long
  // to hold, nothing is pending.
  const int32_t moved = s.Open(Url("scripted", "redirect.a"));
  ASSERT_GE(moved, 0);
  EXPECT_EQ(s.client.StartPlay(moved, 0, -1, nullptr, nullptr), 0);
  EXPECT_TRUE(s.client.RedirectPending());
  EXPECT_STREQ(s.client.RedirectUrl(), "rtsp://127.0.0.1:1/elsewhere");
  const int32_t noLocation = s.Open(Url("scripted", "redirect-noloc.a"));
  ASSERT_GE(noLocation, 0);
  EXPECT_EQ(noLocation, 1 - moved);
  EXPECT_EQ(s.client.StartPlay(noLocation, 0, -1, nullptr, nullptr), 0);
  EXPECT_FALSE(s.client.RedirectPending());
  EXPECT_EQ(s.client.StartTeardown(noLocation, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.StartPlay(moved, 0, -1, nullptr, nullptr), 0);
  EXPECT_TRUE(s.client.RedirectPending());
  EXPECT_EQ(s.client.StartTeardown(moved, nullptr, nullptr), 1);
  const int32_t tooLong = s.Open(Url("scripted", "redirect-long.a"));
  ASSERT_GE(tooLong, 0);
  EXPECT_EQ(s.client.StartPlay(tooLong, 0, -1, nullptr, nullptr), 0);
  EXPECT_FALSE(s.client.RedirectPending());
  EXPECT_EQ(s.client.StartTeardown(tooLong, nullptr, nullptr), 1);

  // PAUSE refused: the state stays.
  const int32_t paused = s.Open(Url("scripted", "pause500.a"));
  ASSERT_GE(paused, 0);
  ASSERT_EQ(s.client.StartPlay(paused, 0, -1, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.StartPause(paused, nullptr, nullptr), 0);
  EXPECT_EQ(s.client.GetState(paused), kStatePlaying);
  EXPECT_EQ(s.client.StartTeardown(paused, nullptr, nullptr), 1);

  // END_OF_STREAM from the server: the entry ends, the state stays.
  const int32_t ending = s.Open(Url("scripted", "eos.a"));
  ASSERT_GE(ending, 0);
  ASSERT_EQ(s.client.StartPlay(ending, 0, -1, nullptr, nullptr), 1);
  for (int i = 0; i < 300 && !s.sockets.IsEnded(ending); ++i) platform::sleepMs(10);
  EXPECT_TRUE(s.sockets.IsEnded(ending));
  EXPECT_EQ(s.client.GetState(ending), kStatePlaying);
  EXPECT_EQ(s.client.StartTeardown(ending, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.GetPresentationCount(), 0);
}

TEST(RtspClientScripted, SilenceTimesOut) {
  Session s;
  s.client.SetTimeoutsForTest(600, 3750);  // TEARDOWN keeps its real 3750 ms
  const int32_t id = s.Open(Url("scripted", "silent.a"));
  ASSERT_GE(id, 0);
  EXPECT_EQ(s.client.StartPlay(id, 0, -1, nullptr, nullptr), kResultTimeout);
  int32_t status = 0;
  const char* message = nullptr;
  s.client.GetLastStatus(id, status, message);
  EXPECT_EQ(status, 408);
  EXPECT_EQ(s.client.GetPresentationCount(), 1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), kResultTimeout);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(ms, 3750);
  EXPECT_EQ(s.client.FindPresentation(id), nullptr);
  EXPECT_EQ(s.client.GetPresentationCount(), 0);
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), kResultUnknownPresentation);
}

TEST(RtspClientScripted, AsynchronousRequestsAndPauseIfPlaying) {
  Session s;
  const int32_t id = s.Open(Url("scripted", "plain.async"));
  ASSERT_GE(id, 0);
  // On a Ready presentation nothing is sent.
  EXPECT_EQ(s.client.StartPauseIfPlaying(id, nullptr, nullptr), 1);
  EXPECT_EQ(LastRequest("plain.async", "PAUSE"), "");

  static std::atomic<int> calls{0};
  static RequestCompletion got;
  calls = 0;
  RequestCompletion block;
  block.callerWord = 0xC0FFEE;
  auto callback = [](RequestCompletion* b) {
    got = *b;
    calls.fetch_add(1);
  };
  EXPECT_EQ(s.client.StartPlay(id, 0, -1, callback, &block), 1);
  for (int i = 0; i < 400 && calls == 0; ++i) platform::sleepMs(10);
  ASSERT_EQ(calls, 1);
  EXPECT_EQ(got.presentation, id);
  EXPECT_EQ(got.result, 1);
  EXPECT_EQ(got.status, 200);
  EXPECT_EQ(got.timedOut, 0);
  EXPECT_EQ(got.callerWord, 0xC0FFEEu);
  EXPECT_EQ(s.client.GetState(id), kStatePlaying);

  EXPECT_EQ(s.client.StartPauseIfPlaying(id, nullptr, nullptr), 1);
  EXPECT_NE(LastRequest("plain.async", "PAUSE"), "");
  EXPECT_EQ(s.client.GetState(id), kStateReady);
  // An id whose DESCRIBE is still connecting is marked aborted.
  EXPECT_EQ(s.client.StartPauseIfPlaying(1 - id, nullptr, nullptr), kResultUnknownPresentation);
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), 1);
}

TEST(RtspClientLookups, StillImageBufferTimeAndIds) {
  SocketLayer sockets;
  TaskScheduler scheduler;
  RtpSession rtp(&sockets);
  bool ok = false;
  TestClient client(&sockets, &scheduler, &rtp, ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(client.GetBufferTime(0), 7000);
  EXPECT_EQ(client.GetMediaCount(0), -1);
  uint32_t start = 1, end = 1;
  EXPECT_EQ(client.GetSessionRangeMs(0, start, end), -1);
  EXPECT_EQ(start + end, 0u);
  EXPECT_EQ(client.LowestFreeId(), 0);

  // Tested on a presentation held outside the connection path.
  struct Held : TestClient {
    using TestClient::TestClient;
    void Hold(RtspPresentation* p) { LinkPresentation(p); }
    void Drop(RtspPresentation* p) { UnlinkPresentation(p); }
  };
  Held held(&sockets, &scheduler, &rtp, ok);
  RtspPresentation p;
  p.id = held.LowestFreeId();
  held.Hold(&p);
  EXPECT_EQ(held.LowestFreeId(), 1);
  uint8_t image[100];
  for (int i = 0; i < 100; ++i) image[i] = uint8_t(i);
  p.stillImage = image;
  p.stillImageLength = 100;
  p.stillImageValid = true;
  uint8_t out[101] = {};
  uint32_t length = 100, time = 5;
  EXPECT_EQ(held.GetStillImageFrame(0, out, length, time), kResultCut);
  EXPECT_EQ(length, 100u);
  EXPECT_EQ(time, 0u);
  EXPECT_EQ(std::memcmp(out, image, 100), 0);
  length = 101;
  EXPECT_EQ(held.GetStillImageFrame(0, out, length, time), 1);
  EXPECT_EQ(length, 100u);
  p.bufferTime = 3000;
  EXPECT_EQ(held.GetBufferTime(0), 3000);
  p.stillImage = nullptr;  // not ours to free
  p.stillImageValid = false;
  held.Drop(&p);
}

TEST(RtspClientDescribe, ParseUrl) {
  SocketLayer sockets;
  TaskScheduler scheduler;
  RtpSession rtp(&sockets);
  bool ok = false;
  RtspClient client(&sockets, &scheduler, &rtp, ok);
  struct Case {
    std::string url;
    int32_t result, port;
    const char* host;
  } cases[] = {
      {"rtsp://example.com/clip", 1, 554, "example.com"},
      {"rtsp://127.0.0.1:8554/a/b.mp4", 1, 8554, "127.0.0.1"},
      {"rtsp://example.com", 2, 0, ""},
      {"rtsp://example.com/", 2, 0, ""},
      {"example.com/clip", 2, 0, ""},
      {"rtsp://" + std::string(128, 'h') + "/clip", 2, 0, ""},
      {"rtsp://h/" + std::string(128, 'p'), 2, 0, ""},
      {"rtsp://h/" + std::string(600, 'p'), 2, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url.substr(0, 40));
    EXPECT_EQ(client.ParseUrl(c.url.c_str()), c.result);
    if (c.result == 1) {
      EXPECT_EQ(client.Port(), c.port);
      EXPECT_STREQ(client.Host(), c.host);
    }
  }
  EXPECT_EQ(client.Path()[0], u'a');
  uint8_t token[8];
  PackSessionToken("12345678", token);
  const uint8_t bcd[8] = {0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(token, bcd, 8), 0);
  PackSessionToken("A1B", token);  // 'A' is 0, not 10; the odd character is left
  EXPECT_EQ(token[0], 0x01);
  EXPECT_EQ(token[1], 0);
}

TEST(RtspClientDescribe, IdentityHeadersRedirectsAndLimits) {
  Session s;
  const char* texts[kRequestTextCount] = {"WMF/1.1,Orlomer 3.0,ENGL", "LAN", "caps", nullptr, "ann", "secret",
                                          "2027",                     "app", "fill", ""};
  s.client.SetHeaderValues(texts);
  int32_t first = s.Open(Url("scripted", "plain.identity"));
  ASSERT_GE(first, 0);
  const std::string describe = LastRequest("plain.identity", "DESCRIBE");
  EXPECT_EQ(HeaderLine(describe, "ID"), "user=ann;authentication=secret");
  EXPECT_EQ(HeaderLine(describe, "Verification"), "") << "no signature, no Verification";
  EXPECT_EQ(HeaderLine(describe, "User-Network"), "LAN");
  EXPECT_LT(describe.find("User-Agent:"), describe.find("Accept:"));
  EXPECT_LT(describe.find("DeviceInfo:"), describe.find("ID:"));
  EXPECT_LT(describe.find("Expiration:"), describe.find("Application-Specific-String:"));
  const std::string setup = LastRequest("plain.identity", "SETUP");
  EXPECT_EQ(HeaderLine(setup, "Blocksize"), "1400");
  EXPECT_EQ(HeaderLine(setup, "Transport").rfind("RTP/AVP;unicast;client_port=", 0), 0u);
  EXPECT_EQ(HeaderLine(setup, "Session"), "") << "the first SETUP knows no session";

  // A session of decimal digits packs as BCD; a 200 without Transport keeps
  // the server ports as they were.
  const int32_t second = s.Open(Url("scripted", "bcd.a"));
  ASSERT_GE(second, 0);
  const uint8_t bcd[8] = {0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0};
  EXPECT_EQ(std::memcmp(s.client.FindPresentation(second)->sessionToken, bcd, 8), 0);
  // A third presentation is refused and changes nothing.
  int32_t third = -1;
  EXPECT_EQ(s.client.StartDescribe(third, Url("scripted", "plain.third").c_str(), nullptr, nullptr),
            kResultTwoPresentations);
  EXPECT_EQ(s.client.GetPresentationCount(), 2);
  EXPECT_EQ(s.client.StartTeardown(second, nullptr, nullptr), 1);
  const int32_t bare = s.Open(Url("scripted", "notransport.a"));
  ASSERT_GE(bare, 0);
  EXPECT_EQ(s.sockets.FindEntry(bare)->serverRtpPort[0], 0);
  EXPECT_EQ(s.client.StartTeardown(bare, nullptr, nullptr), 1);
  EXPECT_EQ(s.client.StartTeardown(first, nullptr, nullptr), 1);

  // Five redirects are followed on the open connection, CSeq unchanged; the
  // sixth is not.
  int32_t id = -1;
  ASSERT_EQ(s.client.StartDescribe(id, Url("scripted", "redirects-5").c_str(), nullptr, nullptr), 1);
  for (int k = 5; k >= 0; --k) {
    const std::string request = LastRequest("redirects-" + std::to_string(k), "DESCRIBE");
    EXPECT_EQ(HeaderLine(request, "CSeq"), "0") << k;
  }
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), 1);
  for (int k = 0; k <= 6; ++k) std::remove(("rtsp_peers/redirects-" + std::to_string(k) + ".log").c_str());
  EXPECT_EQ(s.client.StartDescribe(id, Url("scripted", "redirects-6").c_str(), nullptr, nullptr), 0);
  EXPECT_EQ(LastRequest("redirects-0", "DESCRIBE"), "");
  EXPECT_EQ(s.client.GetPresentationCount(), 0);
  EXPECT_EQ(s.client.LowestFreeId(), 0);
}

TEST(RtspClientDescribe, StillImageByGetParameter) {
  Session s;
  int32_t id = -1;
  ASSERT_EQ(s.client.StartDescribe(id, Url("scripted", "still.a").c_str(), nullptr, nullptr), 1);
  ASSERT_EQ(s.client.GetMediaCount(id), 1);
  EXPECT_EQ(s.client.StartSetup(id, 0, 0, "image", nullptr, nullptr), 1);
  EXPECT_EQ(s.sockets.GetStreamCount(id), 0u) << "no UDP pair for the image";
  ASSERT_EQ(s.client.GetStillImageLength(id), 768u);
  const uint8_t* image = s.client.GetStillImageData(id);
  for (uint32_t i = 0; i < 768; ++i) ASSERT_EQ(image[i], uint8_t(i)) << i;
  const std::string request = LastRequest("still.a", "GET_PARAMETER");
  EXPECT_EQ(HeaderLine(request, "Accept"), "X-MP4V-IMAGE");
  EXPECT_EQ(HeaderLine(request, "Content-Length"), "7");
  EXPECT_EQ(s.client.StartTeardown(id, nullptr, nullptr), 1);
}
