#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rtp_fixture.h"
#include "streaming/net.h"
#include "streaming/rtp_session.h"
#include "streaming/scheduler.h"

using namespace streaming;
using fixture::Frame;
using fixture::RtpPacket;

namespace {

constexpr int32_t kP = 3;

struct Reception {
  SocketLayer sockets{41000, 41100};
  RtpSession rtp{&sockets};
  Reception(int32_t kind, uint8_t pt, uint32_t clock, uint32_t slots = 0, uint32_t buffer = 1 << 20) {
    sockets.AddEntry(kP);
    rtp.AddRecord(kP, buffer, 1000, 5000);
    rtp.SetTrackKind(kP, 0, kind, pt, 65536);
    rtp.SetClockRate(kP, 0, clock);
    if (slots) rtp.SetSlots(kP, 0, slots, 0, false);
    rtp.SetSlotArray(kP, 0);
  }
  int32_t Feed(const std::vector<uint8_t>& bytes) {
    return rtp.ReceiveRtp(kP, 0, bytes.data(), uint32_t(bytes.size()));
  }
  // Every frame that can be had now, with its result code.
  std::vector<std::pair<int32_t, Frame>> Drain() {
    std::vector<std::pair<int32_t, Frame>> out;
    std::vector<uint8_t> buf(65536);
    for (;;) {
      uint32_t len = uint32_t(buf.size()), time;
      int32_t r = rtp.GetFrame(kP, 0, buf.data(), len, time);
      if (r == kRtpNoFrame || r == kRtpEnded) break;
      out.emplace_back(r, Frame(buf.begin(), buf.begin() + len));
    }
    return out;
  }
  const TrackState& Track() {
    const TrackState* t;
    rtp.ReadTrack(kP, 0, t);
    return *t;
  }
};

std::vector<uint8_t> packet(uint16_t seq, uint32_t ts, uint32_t payloadBytes, uint8_t pt = 96, bool marker = true,
                            uint32_t ssrc = 0x1234) {
  std::vector<uint8_t> p(12 + payloadBytes, 0x55);
  p[0] = 0x80;
  p[1] = uint8_t((marker ? 0x80 : 0) | pt);
  p[2] = uint8_t(seq >> 8);
  p[3] = uint8_t(seq);
  for (int i = 0; i < 4; ++i) {
    p[4 + i] = uint8_t(ts >> (24 - 8 * i));
    p[8 + i] = uint8_t(ssrc >> (24 - 8 * i));
  }
  return p;
}

// An MPEG-4 packet holding one whole VOP.
std::vector<uint8_t> vopPacket(uint16_t seq, uint32_t ts) {
  auto p = packet(seq, ts, 8);
  const uint8_t vop[] = {0, 0, 1, 0xB6, uint8_t(seq), uint8_t(seq >> 8), 7, 7};
  std::memcpy(p.data() + 12, vop, 8);
  return p;
}

std::vector<std::vector<uint8_t>> bytesOf(const std::vector<RtpPacket>& packets) {
  std::vector<std::vector<uint8_t>> out;
  for (const auto& p : packets) out.push_back(p.bytes);
  return out;
}

struct ClockFixture : ::testing::Test {
  void SetUp() override { CreateStreamClock(); }
  void TearDown() override { DestroyStreamClock(); }
};
using RtpReception = ClockFixture;

}  // namespace

// GStreamer's packets are filed, ordered and read out as the source frames,
// also when they arrive reordered or twice.
TEST_F(RtpReception, GStreamerPacketsComeOutAsTheSourceFrames) {
  struct Case {
    const char* packets;
    int32_t kind;
    uint8_t pt;
    std::vector<Frame> source;
  } cases[] = {
      {"rtp_mp4v.bin", kPayloadMpeg4, 96, fixture::Mpeg4Frames(fixture::ReadFile("src.m4v"))},
      {"rtp_h263.bin", kPayloadH263, 97, fixture::H263Frames(fixture::ReadFile("src.h263"))},
  };
  for (auto& c : cases) {
    const auto packets = bytesOf(fixture::ReadPackets(c.packets));
    for (int variant = 0; variant < 3; ++variant) {
      Reception rx(c.kind, c.pt, 90000);
      std::vector<std::vector<uint8_t>> order = packets;
      if (variant == 1) {
        for (size_t i = 1; i + 1 < order.size(); i += 2) std::swap(order[i], order[i + 1]);
      }
      for (size_t i = 0; i < order.size(); ++i) {
        if (i == 0 || variant != 1) {
          EXPECT_EQ(rx.Feed(order[i]), kResultDone) << c.packets << " " << i;
        } else {
          rx.Feed(order[i]);
        }
        if (variant == 2) {
          EXPECT_EQ(rx.Feed(order[i]), kRtpRejected);  // the duplicate
        }
      }
      auto frames = rx.Drain();
      ASSERT_EQ(frames.size(), c.source.size()) << c.packets << " variant " << variant;
      for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].first, kResultDone) << i;
        EXPECT_EQ(frames[i].second, c.source[i]) << c.packets << " frame " << i;
      }
      EXPECT_EQ(rx.Track().queued, 0u);
    }
  }
}

TEST_F(RtpReception, AmrPacketsCarryTheirTables) {
  Reception rx(kPayloadAmr, 98, 8000);
  for (const auto& p : fixture::ReadPackets("rtp_amr.bin")) ASSERT_EQ(rx.Feed(p.bytes), kResultDone);
  const std::string src = fixture::ReadFile("src.amr");
  std::string speech;
  static const uint8_t kBytes[] = {12, 13, 15, 17, 19, 20, 26, 31};
  uint32_t frames = 0;
  for (size_t i = 6; i < src.size(); i += 1 + kBytes[(uint8_t(src[i]) >> 3) & 7], ++frames)
    speech += src.substr(i + 1, kBytes[(uint8_t(src[i]) >> 3) & 7]);
  std::string got;
  uint32_t gotFrames = 0;
  for (auto& f : rx.Drain()) {
    ASSERT_EQ(f.first, kResultDone);
    gotFrames += f.second[0];
    got.append(f.second.begin() + 1 + f.second[0], f.second.end());
  }
  EXPECT_EQ(gotFrames, frames);
  EXPECT_EQ(got, speech);
}

TEST_F(RtpReception, LossIsFlaggedAndCounted) {
  auto packets = bytesOf(fixture::ReadPackets("rtp_mp4v.bin"));
  const auto source = fixture::Mpeg4Frames(fixture::ReadFile("src.m4v"));
  Reception rx(kPayloadMpeg4, 96, 90000);
  // Drop a packet inside the first (multi-packet) frame.
  for (size_t i = 0; i < packets.size(); ++i) {
    if (i != 3) rx.Feed(packets[i]);
  }
  EXPECT_EQ(rx.rtp.GetLossPercent(kP, 0), 1);  // 1 of 94
  auto frames = rx.Drain();
  ASSERT_EQ(frames.size(), source.size());
  EXPECT_EQ(frames[0].first, kRtpLostData);
  EXPECT_NE(frames[0].second, source[0]);
  for (size_t i = 1; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].first, kResultDone) << i;
    EXPECT_EQ(frames[i].second, source[i]) << i;
  }
  EXPECT_EQ(rx.Track().cumulativeLost, 1);
  EXPECT_EQ(rx.Track().skipped, 1u);
}

TEST_F(RtpReception, DatagramsThatAreRefused) {
  Reception rx(kPayloadMpeg4, 96, 90000);
  auto ok = vopPacket(10, 0);
  EXPECT_EQ(rx.Feed(std::vector<uint8_t>(ok.begin(), ok.begin() + 12)), kRtpRejected);  // 12 bytes
  auto padded = vopPacket(10, 0);
  padded[0] |= 0x20;
  padded.back() = 200;  // padding beyond the packet
  EXPECT_EQ(rx.Feed(padded), kRtpRejected);
  padded.back() = 0;  // a padding bit with no padding
  EXPECT_EQ(rx.Feed(padded), kRtpRejected);
  EXPECT_EQ(rx.Feed(packet(10, 0, 8, 97)), kRtpRejected);  // payload type
  EXPECT_EQ(rx.Feed(ok), kResultDone);
  EXPECT_EQ(rx.Feed(packet(11, 0, 8, 96, true, 0x9999)), kRtpRejected);  // another source
  padded = vopPacket(11, 3000);
  padded[0] |= 0x20;
  padded.back() = 2;
  EXPECT_EQ(rx.Feed(padded), kResultDone);
  auto frames = rx.Drain();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1].second.size(), 6u);  // the padding is not payload
}

TEST_F(RtpReception, SequenceWrapAndStalledReader) {
  Reception rx(kPayloadMpeg4, 96, 90000);
  ASSERT_EQ(rx.Feed(vopPacket(65535, 0)), kResultDone);
  ASSERT_EQ(rx.Feed(vopPacket(3, 3000)), kResultDone);
  EXPECT_EQ(rx.Track().highest, 65539u);
  EXPECT_EQ(rx.Feed(vopPacket(65534, 0)), kRtpRejected);  // behind the read position

  Reception nowrap(kPayloadMpeg4, 96, 90000);
  nowrap.Feed(vopPacket(60000, 0));
  nowrap.Feed(vopPacket(1999, 3000));
  EXPECT_EQ(nowrap.Track().highest, 60000u);  // 1999 is below the base: refused

  // 1024 slots, nobody reading: the read position moves one per packet.
  Reception stalled(kPayloadMpeg4, 96, 90000);
  for (uint16_t s = 0; s < 1100; ++s) ASSERT_EQ(stalled.Feed(vopPacket(s, s * 3000u)), kResultDone);
  EXPECT_EQ(stalled.Track().readPosition, 1100u - 1024u);
  EXPECT_EQ(stalled.Track().queued, 1024u);
  EXPECT_EQ(stalled.Drain().size(), 1024u);
}

TEST_F(RtpReception, JumpBeyondTheWindowDropsStaleSlots) {
  Reception rx(kPayloadMpeg4, 96, 90000, 0, 1 << 20);
  for (uint16_t s = 100; s < 110; ++s) rx.Feed(vopPacket(s, s * 3000u));
  ASSERT_EQ(rx.Feed(vopPacket(100 + 5000, 9000000)), kResultDone);
  EXPECT_EQ(rx.Track().readPosition, 5100u - 1023u);
  EXPECT_EQ(rx.Track().queued, 1u);
  auto frames = rx.Drain();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].second[4], uint8_t(5100 & 0xFF));
  // Every byte held was given back.
  rx.Feed(vopPacket(5101, 9003000));
  rx.Drain();
  EXPECT_EQ(rx.rtp.GetLossPercent(kP, 0), 0);
}

TEST_F(RtpReception, EmptyEndedAndBufferedDuration) {
  Reception rx(kPayloadMpeg4, 96, 90000);
  std::vector<uint8_t> buf(100);
  uint32_t len = 100, time;
  EXPECT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kRtpNoFrame);
  EXPECT_EQ(rx.rtp.GetFrame(kP, 5, buf.data(), len, time), kRtpBadTrack);
  EXPECT_EQ(rx.rtp.GetFrame(99, 0, buf.data(), len, time), kResultUnknownPresentation);
  rx.Feed(vopPacket(1, 1000));
  rx.Feed(vopPacket(2, 91000));
  EXPECT_EQ(rx.rtp.GetBufferedDuration(kP, 0), 1000u);
  len = 4;
  EXPECT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kRtpBufferSmall);
  len = 100;
  ASSERT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kResultDone);
  EXPECT_EQ(time, 91000u);
  rx.sockets.SetEnded(kP);
  EXPECT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kRtpEnded);
  EXPECT_EQ(rx.rtp.GetBufferedDuration(kP, 0), 2147483647u);

  Reception audio(kPayloadAmr, 97, 8000);
  std::vector<uint8_t> a = packet(1, 500, 14, 97);
  a[12] = 0xF0;
  a[13] = 0x04;  // one mode-0 frame
  audio.Feed(a);
  a = packet(2, 8500, 14, 97);
  a[12] = 0xF0;
  a[13] = 0x04;
  audio.Feed(a);
  EXPECT_EQ(audio.rtp.GetBufferedDuration(kP, 0), 1000u);
  EXPECT_EQ(audio.rtp.SetClockRate(kP, 0, 0), kResultNone);  // a rate of 0 is refused
}

// The end of the presentation is found from time stamps rebased to its
// start, also when the server begins them just before the 32-bit wrap.
TEST_F(RtpReception, EndOfPresentationWithARandomStart) {
  for (uint32_t start : {0u, 0x12345678u, 0xFFFFF000u}) {
    Reception rx(kPayloadMpeg4, 96, 90000);
    TrackSyncRecord sync;
    sync.hasSeq = true;
    sync.seq = 500;
    sync.hasRtptime = true;
    sync.rtptime = start;
    sync.startPositionMs = 0;
    rx.rtp.ApplyPlayInfo(kP, 0, sync);
    rx.rtp.SetPlaying(kP, 0, 3000, false);
    std::vector<uint8_t> buf(100);
    bool endedEarly = false;
    for (uint16_t k = 0; k < 30; ++k) {  // 100 ms apart: 2.9 s
      rx.Feed(vopPacket(uint16_t(500 + k), start + k * 9000u));
      uint32_t len = 100, time;
      rx.rtp.GetFrame(kP, 0, buf.data(), len, time);
      EXPECT_EQ(time, k * 9000u);
      if (k < 19 && rx.sockets.IsEnded(kP)) endedEarly = true;
    }
    EXPECT_FALSE(endedEarly) << start;
    EXPECT_TRUE(rx.sockets.IsEnded(kP)) << start;
  }
}

// GStreamer describes a clip it cannot measure with an open range
// ("npt=0-") and ends its stream with an RTCP BYE: the BYE of the track's
// source ends the track once what came before it is read, and a new PLAY
// starts it again. A BYE of another source changes nothing.
TEST_F(RtpReception, ByeOfTheSourceEndsTheTrackAfterItsQueue) {
  auto bye = [](uint32_t ssrc) {
    return std::vector<uint8_t>{0x81, 203, 0, 1, uint8_t(ssrc >> 24), uint8_t(ssrc >> 16), uint8_t(ssrc >> 8),
                                uint8_t(ssrc)};
  };
  Reception rx(kPayloadMpeg4, 96, 90000);
  for (uint16_t s = 0; s < 3; ++s) ASSERT_EQ(rx.Feed(vopPacket(s, s * 3000u)), kResultDone);
  const auto other = bye(0x9999);
  rx.rtp.ReceiveRtcp(kP, 0, other.data(), uint32_t(other.size()));
  EXPECT_EQ(rx.rtp.GetBufferedDuration(kP, 0), 66u);
  const auto own = bye(0x1234);
  rx.rtp.ReceiveRtcp(kP, 0, own.data(), uint32_t(own.size()));
  EXPECT_EQ(rx.rtp.GetBufferedDuration(kP, 0), 2147483647u);
  EXPECT_EQ(rx.Drain().size(), 3u);
  std::vector<uint8_t> buf(100);
  uint32_t len = 100, time;
  EXPECT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kRtpEnded);
  rx.rtp.SetPlaying(kP, 0, 0, false);
  EXPECT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kRtpNoFrame);
}

// After PAUSE the server's PLAY answer names the next packet it sends; a
// resume keeps the packets queued before the pause, a new range drops them.
TEST_F(RtpReception, ResumeKeepsWhatWasQueuedBeforeThePause) {
  struct Case {
    bool resume;
    size_t frames;
  } cases[] = {{true, 4 + 2}, {false, 2}};
  for (const Case& c : cases) {
    Reception rx(kPayloadMpeg4, 96, 90000);
    TrackSyncRecord sync;
    sync.hasSeq = true;
    sync.seq = 10;
    sync.hasRtptime = true;
    sync.rtptime = 0;
    sync.startPositionMs = 0;
    rx.rtp.ApplyPlayInfo(kP, 0, sync);
    for (uint16_t s = 10; s < 15; ++s) rx.Feed(vopPacket(s, (s - 10) * 9000u));
    std::vector<uint8_t> buf(100);
    uint32_t len = 100, time;
    ASSERT_EQ(rx.rtp.GetFrame(kP, 0, buf.data(), len, time), kResultDone);
    // Paused after five packets (0.5 s); the server goes on from there.
    sync.seq = 15;
    sync.rtptime = 45000;
    sync.startPositionMs = 500;
    sync.resume = c.resume;
    rx.rtp.ApplyPlayInfo(kP, 0, sync);
    for (uint16_t s = 15; s < 17; ++s) rx.Feed(vopPacket(s, (s - 10) * 9000u));
    const auto frames = rx.Drain();
    ASSERT_EQ(frames.size(), c.frames) << c.resume;
    // The times run on across the pause.
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(frames[i].second[4], uint8_t(17 - frames.size() + i));
  }
}

namespace {
uint32_t g_fakeNow = 0;
uint32_t fakeClock() { return g_fakeNow; }
}  // namespace

// Jitter against the RFC 3550 estimator computed in python.
TEST_F(RtpReception, JitterFollowsTheRfcEstimator) {
  Reception rx(kPayloadAmr, 97, 8000);
  rx.rtp.SetClock(fakeClock);
  std::string arrivals, stamps;
  uint32_t seed = 7;
  for (uint16_t k = 0; k < 200; ++k) {
    seed = seed * 1103515245u + 12345u;
    g_fakeNow = 20u * k + (seed >> 16) % 37;  // 20 ms apart, up to 36 ms late
    std::vector<uint8_t> a = packet(k, 160u * k, 14, 97);
    a[12] = 0xF0;
    a[13] = 0x04;
    ASSERT_EQ(rx.Feed(a), kResultDone);
    arrivals += std::to_string(g_fakeNow) + ",";
    stamps += std::to_string(160u * k) + ",";
  }
#ifdef _WIN32
  EXPECT_GT(rx.Track().jitterRounded, 0u);
#else
  std::string script = "python3 -c \"a=[" + arrivals + "]; t=[" + stamps +
                       "]; j=0.0; last=None\nfor x,y in zip(a,t):\n s=x*8-y\n if last is not None: "
                       "j+= (abs(s-last)-j)/16\n last=s\nprint(int(j+0.5))\"";
  FILE* p = popen(script.c_str(), "r");
  ASSERT_NE(p, nullptr);
  unsigned expected = 0;
  ASSERT_EQ(fscanf(p, "%u", &expected), 1);
  pclose(p);
  EXPECT_EQ(rx.Track().jitterRounded, expected);
#endif
}

// Sender reports arrive; receiver reports leave for the server's RTCP port.
TEST_F(RtpReception, ReportsGoToTheServer) {
  ASSERT_TRUE(net::Startup());
  Reception rx(kPayloadMpeg4, 96, 90000);
  uint16_t port;
  ASSERT_EQ(rx.sockets.OpenRtpSocket(kP, 0, port), kResultDone);
  uint32_t lo;
  net::Resolve("127.0.0.1", lo);
  rx.sockets.SetServerAddress(kP, lo);
  net::Socket server = net::OpenUdp();
  ASSERT_TRUE(net::Bind(server, 41090));
  rx.sockets.SetServerPorts(kP, 0, 41089, 41090);
  const std::string sr = fixture::ReadFile("gst_sender_report.bin");
  ASSERT_EQ(rx.rtp.ReceiveRtcp(kP, 0, reinterpret_cast<const uint8_t*>(sr.data()), uint32_t(sr.size())),
            kResultDone);
  rx.rtp.SetPlaying(kP, 0, 0, true);
  rx.Feed(vopPacket(7, 0));
  rx.rtp.RequestReportNow(kP);
  ASSERT_EQ(rx.rtp.Run(), kResultDone);
  bool readable;
  ASSERT_EQ(net::SelectReadable(&server, 1, 2000000, &readable), 1);
  uint8_t b[600];
  net::Result r;
  const int32_t n = net::RecvFrom(server, b, sizeof b, r);
  ASSERT_GT(n, 0);
  uint32_t count;
  int32_t kinds[31];
  RtcpPacketRef packets[31];
  ASSERT_EQ(SplitRtcpCompound(b, uint32_t(n), 31, count, kinds, packets), kRtcpParsed);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(kinds[0], kRtcpReceiverReport);
  EXPECT_EQ(kinds[1], kRtcpSourceDescription);
  EXPECT_EQ(kinds[2], kRtcpKrss);
  EXPECT_EQ(packets[2].length, 56u);
  // The block: source SSRC, highest sequence 7, LSR the middle of the SR's NTP time.
  const uint8_t* blk = packets[0].data + 8;
  EXPECT_EQ(blk[3], 0x34);
  EXPECT_EQ(blk[11], 7);
  EXPECT_EQ(blk[16], 0xCC);
  EXPECT_EQ(blk[17], 0xDD);
  EXPECT_EQ(blk[18], 0x00);
  EXPECT_EQ(blk[19], 0x11);
  net::Close(server);
  net::Cleanup();
}

// The media data task reads the sockets; a datagram too large for a packet
// is dropped, not filed cut.
TEST_F(RtpReception, MediaDataTaskFilesDatagramsFromTheSocket) {
  ASSERT_TRUE(net::Startup());
  Reception rx(kPayloadMpeg4, 96, 90000);
  uint16_t port;
  ASSERT_EQ(rx.sockets.OpenRtpSocket(kP, 0, port), kResultDone);
  rx.sockets.EnableReceive(kP, 0);
  int tooLarge = 0;
  rx.rtp.SetTooLargeCallback([](void* c) { ++*static_cast<int*>(c); }, &tooLarge);
  MediaDataTask task(nullptr, &rx.rtp, &rx.sockets);
  net::Socket sender = net::OpenUdp();
  uint32_t lo;
  net::Resolve("127.0.0.1", lo);
  net::Result r;
  auto big = vopPacket(1, 0);
  big.resize(5000, 0x11);
  net::SendTo(sender, big.data(), uint32_t(big.size()), lo, port, r);
  for (uint16_t s = 2; s < 6; ++s) {
    auto p = vopPacket(s, s * 3000u);
    net::SendTo(sender, p.data(), uint32_t(p.size()), lo, port, r);
  }
  for (int i = 0; i < 200 && rx.Track().received < 4; ++i) task.Run();
  EXPECT_EQ(rx.Track().received, 4u);
  EXPECT_EQ(tooLarge, 1);
  EXPECT_EQ(rx.Drain().size(), 4u);
  net::Close(sender);
  net::Cleanup();
}

// One thread receives while another reads frames (run natively under
// ThreadSanitizer too).
TEST_F(RtpReception, ReceivingWhileReading) {
  auto packets = bytesOf(fixture::ReadPackets("rtp_mp4v.bin"));
  const auto source = fixture::Mpeg4Frames(fixture::ReadFile("src.m4v"));
  Reception rx(kPayloadMpeg4, 96, 90000, 0, 1 << 21);
  std::atomic<bool> fed{false};
  std::thread receiver([&] {
    for (auto& p : packets) rx.Feed(p);
    fed = true;
  });
  std::vector<Frame> got;
  std::vector<uint8_t> buf(65536);
  for (int spin = 0; spin < 2000000 && got.size() < source.size(); ++spin) {
    uint32_t len = uint32_t(buf.size()), time, word;
    rx.rtp.PeekFrame(kP, 0, time, word);
    rx.rtp.GetBufferedDuration(kP, 0);
    int32_t r = rx.rtp.GetFrame(kP, 0, buf.data(), len, time);
    if (r == kResultDone) {
      got.emplace_back(buf.begin(), buf.begin() + len);
    } else if (fed) {
      if (r != kRtpNoFrame) break;
      std::this_thread::yield();
    }
  }
  receiver.join();
  // A frame read while its last packet was still on its way comes out
  // early; every frame read whole equals its source.
  ASSERT_GE(got.size(), 1u);
  size_t equal = 0;
  for (size_t i = 0; i < got.size() && i < source.size(); ++i) equal += got[i] == source[i];
  EXPECT_GT(equal, 0u);
}

// The RTSP connection's bytes go to the client through its receive window;
// a closed connection is a socket failure.
TEST_F(RtpReception, MediaDataTaskFeedsTheRtspConnection) {
#ifdef _WIN32
  GTEST_SKIP() << "the python peer runs in the native build";
#else
  FILE* peer = popen(
      "timeout 10 python3 -c \"import socket,time; s=socket.socket(); s.bind(('127.0.0.1',0)); s.listen(1);"
      "print(s.getsockname()[1], flush=True); c,_=s.accept(); c.sendall(b'RTSP/1.0 200 OK\\r\\n\\r\\n');"
      "time.sleep(0.3); c.close()\"",
      "r");
  ASSERT_NE(peer, nullptr);
  int port = 0;
  ASSERT_EQ(fscanf(peer, "%d", &port), 1);
  ASSERT_TRUE(net::Startup());
  SocketLayer sockets;
  RtpSession rtp(&sockets);
  int32_t r = kResultPending;
  for (int i = 0; i < 200 && r == kResultPending; ++i) r = sockets.ConnectTcp(kP, "127.0.0.1", uint16_t(port));
  ASSERT_EQ(r, kResultDone);
  struct Sink : RtspReceiveSink {
    std::string got;
    uint8_t window[64];
    int32_t GetReceiveWindow(int32_t, uint8_t*& w, uint32_t& length) override {
      w = window;
      length = sizeof window;
      return kResultDone;
    }
    void CommitReceived(int32_t, uint32_t bytes) override { got.append(reinterpret_cast<char*>(window), bytes); }
  } sink;
  MediaDataTask task(&sink, &rtp, &sockets);
  int32_t last = kResultDone;
  for (int i = 0; i < 400 && last != kResultSocketFailure; ++i) last = task.Run();
  EXPECT_EQ(sink.got, "RTSP/1.0 200 OK\r\n\r\n");
  EXPECT_EQ(last, kResultSocketFailure);  // the peer closed the connection
  EXPECT_TRUE(sockets.failed());
  std::vector<uint8_t> buf(16);
  uint32_t len = 16, time;
  EXPECT_EQ(rtp.GetFrame(kP, 0, buf.data(), len, time), kResultSocketFailure);
  pclose(peer);
  net::Cleanup();
#endif
}
