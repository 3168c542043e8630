#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "streaming/net.h"
#include "streaming/scheduler.h"
#include "streaming/socket_layer.h"

using namespace streaming;

namespace {
uint32_t loopback() {
  uint32_t a = 0;
  net::Resolve("127.0.0.1", a);
  return a;
}

// A port range of our own per run, so parallel runs do not meet.
uint16_t freshBase() {
  static uint16_t next = uint16_t(30000 + (GetStreamClockTime() + uint32_t(std::rand())) % 2000 * 10);
  next = uint16_t(next + 40);
  return next;
}

struct SocketFixture : ::testing::Test {
  void SetUp() override {
    CreateStreamClock();
    ASSERT_TRUE(net::Startup());
  }
  void TearDown() override {
    net::Cleanup();
    DestroyStreamClock();
  }
};
using Sockets = SocketFixture;

int32_t connectUntilDone(SocketLayer& s, int32_t p, uint16_t port) {
  int32_t r = kResultPending;
  for (int i = 0; i < 200 && r == kResultPending; ++i) r = s.ConnectTcp(p, "127.0.0.1", port);
  return r;
}
}  // namespace

TEST_F(Sockets, RefusedConnectFailsAtOnce) {
  SocketLayer s;
  // Nothing listens on port 1 of the loopback.
  const uint32_t before = GetStreamClockTime();
  EXPECT_EQ(connectUntilDone(s, 1, 1), kResultSocketFailure);
  EXPECT_LT(GetStreamClockTime() - before, 2000u);
  EXPECT_EQ(s.ConnectTcp(2, "no.such.host.invalid", 554), kResultHostNotFound);
}

TEST_F(Sockets, ConnectsToAListener) {
#ifdef _WIN32
  GTEST_SKIP() << "the python listener runs in the native build";
#else
  FILE* peer = popen(
      "timeout 10 python3 -c \"import socket,sys,time; s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen(1);"
      "print(s.getsockname()[1], flush=True); c,_=s.accept(); c.sendall(c.recv(64)); time.sleep(1)\"",
      "r");
  ASSERT_NE(peer, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(peer, "%d", &port), 1);
  SocketLayer s;
  ASSERT_EQ(connectUntilDone(s, 7, uint16_t(port)), kResultDone);
  EXPECT_EQ(s.PollCount(), 1u);
  EXPECT_EQ(s.Poll(0).kind, kSocketTcp);
  EXPECT_EQ(s.Send(7, "OPTIONS", 7), kResultDone);
  net::Socket tcp = *s.Poll(0).socket;
  bool readable = false;
  ASSERT_EQ(net::SelectReadable(&tcp, 1, 2000000, &readable), 1);
  char echo[16];
  net::Result r;
  EXPECT_EQ(net::Recv(tcp, echo, sizeof echo, r), 7);
  EXPECT_EQ(s.Send(8, "x", 1), kResultUnknownPresentation);
  EXPECT_EQ(s.CloseEntry(7), kResultDone);
  EXPECT_EQ(s.PollCount(), 0u);
  pclose(peer);
#endif
}

TEST_F(Sockets, PortPairsAndThePollTableLimit) {
  const uint16_t base = freshBase();
  SocketLayer s(base, uint16_t(base + 40));
  // The first port is taken: the pair moves on and its RTP port is odd.
  net::Socket blocker = net::OpenUdp();
  ASSERT_TRUE(net::Bind(blocker, base));
  s.AddEntry(1);
  uint16_t rtp = 0, rtcp = 0;
  ASSERT_EQ(s.OpenRtpSocket(1, 0, rtp), kResultDone);
  ASSERT_EQ(s.GetRtcpPort(1, 0, rtcp), kResultDone);
  EXPECT_EQ(rtp, base + 1);
  EXPECT_EQ(rtcp, base + 2);
  for (uint32_t j = 1; j < 4; ++j) ASSERT_EQ(s.OpenRtpSocket(1, j, rtp), kResultDone);
  EXPECT_EQ(s.GetStreamCount(1), 4u);
  EXPECT_EQ(s.PollCount(), 8u);
  s.AddEntry(2);
  ASSERT_EQ(s.OpenRtpSocket(2, 0, rtp), kResultDone);
  ASSERT_EQ(s.OpenRtpSocket(2, 1, rtp), kResultDone);
  EXPECT_EQ(s.PollCount(), 12u);
  EXPECT_EQ(s.OpenRtpSocket(2, 2, rtp), kResultSocketFailure);  // no thirteenth place
  EXPECT_EQ(s.OpenRtpSocket(9, 0, rtp), kResultUnknownPresentation);
  EXPECT_EQ(s.CloseRtpSocket(2, 3), kResultBadStream);
  EXPECT_EQ(s.CloseRtpSocket(2, 1), kResultDone);
  EXPECT_EQ(s.PollCount(), 11u);
  // A server RTCP port of 0: nothing is sent, and that is success.
  EXPECT_EQ(s.SendToRtcp(1, 0, "x", 1), kResultDone);
  EXPECT_EQ(s.CloseEntry(1), kResultDone);
  EXPECT_EQ(s.PollCount(), 3u);
  net::Close(blocker);
}

TEST_F(Sockets, ProbeAnsweredByAnEcho) {
  const uint16_t base = freshBase();
  SocketLayer s(base, uint16_t(base + 40));
  s.AddEntry(1);
  s.SetServerAddress(1, loopback());
  uint16_t rtp = 0;
  ASSERT_EQ(s.OpenRtpSocket(1, 0, rtp), kResultDone);
  s.SetProbeToken(1, 0, 0xCAFEF00D);
  net::Socket echo = net::OpenUdp();
  ASSERT_TRUE(net::Bind(echo, uint16_t(base + 30)));
  s.SetServerPorts(1, 0, uint16_t(base + 30), uint16_t(base + 31));
  std::atomic<bool> done{false};
  std::thread server([&] {
    uint8_t b[64];
    bool readable;
    while (!done) {
      if (net::SelectReadable(&echo, 1, 10000, &readable) != 1) continue;
      net::Result r;
      int32_t n = net::RecvFrom(echo, b, sizeof b, r);
      if (n > 0) net::SendTo(echo, b, uint32_t(n), loopback(), rtp, r);
    }
  });
  int32_t r = kResultPending;
  for (int i = 0; i < 500 && r == kResultPending; ++i) r = s.Probe(1, true);
  done = true;
  server.join();
  net::Close(echo);
  EXPECT_EQ(r, kResultDone);
  const PresentationSockets* e = s.FindEntry(1);
  EXPECT_TRUE(e->probeAnswered[0]);
  EXPECT_TRUE(e->receiveEnabled[0]);
  EXPECT_EQ(e->probeSequence[0], 1u);
}

TEST_F(Sockets, SilentServerGetsNineProbes) {
  const uint16_t base = freshBase();
  SocketLayer s(base, uint16_t(base + 40));
  s.SetProbeInterval(20);
  s.AddEntry(1);
  s.SetServerAddress(1, loopback());
  uint16_t rtp = 0;
  ASSERT_EQ(s.OpenRtpSocket(1, 0, rtp), kResultDone);
  net::Socket silent = net::OpenUdp();
  ASSERT_TRUE(net::Bind(silent, uint16_t(base + 30)));
  s.SetServerPorts(1, 0, uint16_t(base + 30), 0);
  int32_t r = kResultPending;
  for (int i = 0; i < 2000 && r == kResultPending; ++i) r = s.Probe(1, true);
  EXPECT_EQ(r, kResultNone);
  EXPECT_TRUE(s.FindEntry(1)->receiveEnabled[0]);
  uint32_t probes = 0;
  bool readable;
  while (net::SelectReadable(&silent, 1, 0, &readable) == 1) {
    uint8_t b[16];
    net::Result rr;
    ASSERT_EQ(net::RecvFrom(silent, b, sizeof b, rr), 8);
    EXPECT_EQ(b[3], probes);  // sequence numbers 0 to 8
    ++probes;
  }
  EXPECT_EQ(probes, kProbeCount);
  net::Close(silent);
  // Probing off: done at once.
  s.AddEntry(2);
  EXPECT_EQ(s.Probe(2, false), kResultDone);
}
