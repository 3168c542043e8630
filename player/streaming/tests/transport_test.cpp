#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../src/text_writer.h"
#include "streaming/transport.h"

using namespace streaming;

namespace {
struct Parsed {
  std::string text;  // the parsed transports point into it
  bool ok;
  uint32_t count = 0;
  TransportSpec transports[kMaxTransports];
};

std::unique_ptr<Parsed> parse(const std::string& text) {
  auto p = std::make_unique<Parsed>();
  p->text = text;
  p->ok = ParseTransport(p->text.data(), uint32_t(p->text.size()), p->transports, p->count);
  return p;
}

std::string compose(const TransportSpec& s) {
  char buf[256];
  TextWriter w(buf, sizeof buf);
  EXPECT_TRUE(ComposeTransportSpec(w, s));
  return std::string(buf, w.length());
}
}  // namespace

TEST(Transport, ParsesTheDialectsCases) {
  auto p = parse("RTP/AVP;unicast;client_port=7000-7001");
  ASSERT_TRUE(p->ok);
  ASSERT_EQ(p->count, 1u);
  const TransportSpec& s = p->transports[0];
  EXPECT_TRUE(s.hasProtocol && s.protocol == 0 && s.hasProfile && s.profile == 0);
  EXPECT_FALSE(s.hasLower);
  EXPECT_TRUE(s.hasDelivery && s.delivery == 0);
  EXPECT_TRUE(s.hasClientPort && s.clientPort[0] == 7000 && s.clientPort[1] == 7001);

  p = parse("RTP/AVP/TCP;interleaved=0-1");
  EXPECT_TRUE(p->ok && p->transports[0].hasLower && p->transports[0].lower == 1);
  EXPECT_EQ(p->transports[0].interleaved[1], 1);
  p = parse("RTP/AVP/TCP;interleaved=4");
  EXPECT_TRUE(p->ok && p->transports[0].interleaved[0] == 4 && p->transports[0].interleaved[1] == 5);

  p = parse("RTP/AVP/SCTP;unicast");
  EXPECT_TRUE(p->ok && !p->transports[0].hasLower && p->transports[0].profile == 1);

  p = parse("RTP/AVP;mode=\"PLAY,RECORD\";ssrc=1A2B3C4D;ttl=16;layers=3;destination= 10.0.0.1 ");
  ASSERT_TRUE(p->ok);
  EXPECT_EQ(p->transports[0].mode, 3u);
  EXPECT_EQ(p->transports[0].ssrc, 0x1A2B3C4Du);
  EXPECT_EQ(p->transports[0].ttl, 16);
  EXPECT_EQ(p->transports[0].layers, 3);
  EXPECT_EQ(std::string(p->transports[0].destination.text, p->transports[0].destination.length), "10.0.0.1");
  p = parse("RTP/AVP;mode=PLAY");
  EXPECT_EQ(p->transports[0].mode, 1u);
  // The quoted mode list holds a comma that does not end the transport.
  p = parse("RTP/AVP;mode=\"PLAY,RECORD\",RTP/AVP/TCP;interleaved=2-3");
  ASSERT_TRUE(p->ok);
  EXPECT_EQ(p->count, 2u);
  EXPECT_EQ(p->transports[1].interleaved[0], 2);
}

TEST(Transport, LimitsAreParseErrors) {
  const char* bad[] = {"RTP/AVP;interleaved=255", "RTP/AVP;client_port=65535",
                       "RTP/AVP;client_port=70000-70001", "RTP/AVP;ttl=256", "RTP/AVP;ssrc=xyz",
                       "RTP/AVP;ssrc=123456789", "RTP/AVP;server_port=1-2-3", "RTP/AVP;layers=99999999999"};
  for (const char* b : bad) EXPECT_FALSE(parse(b)->ok) << b;
  auto p = parse("RTP/AVP,RTP/AVP,RTP/AVP,RTP/AVP,RTP/AVP,RTP/AVP");
  EXPECT_FALSE(p->ok);
  EXPECT_EQ(p->count, 5u);
  // The transport that failed keeps the fields read before the error.
  p = parse("RTP/AVP;client_port=7000-7001;ttl=999");
  EXPECT_FALSE(p->ok);
  EXPECT_EQ(p->count, 1u);
  EXPECT_TRUE(p->transports[0].hasClientPort);
}

TEST(Transport, ComposesInTheDialectsOrder) {
  TransportSpec s;
  s.hasProtocol = s.hasProfile = s.hasLower = s.hasDelivery = s.hasClientPort = true;
  s.clientPort[0] = 7000;
  s.clientPort[1] = 7001;
  EXPECT_EQ(compose(s), "RTP/AVP/UDP;unicast;client_port=7000-7001");
  s.hasMode = true;
  s.mode = 3;
  s.append = true;
  s.hasSsrc = true;
  s.ssrc = 0xAB;
  s.hasPort = true;  // parsed, never written
  EXPECT_EQ(compose(s), "RTP/AVP/UDP;unicast;client_port=7000-7001;mode=play;mode=record;append;ssrc=000000ab");
  // And what we write parses back to the same fields.
  auto p = parse(compose(s));
  ASSERT_TRUE(p->ok);
  EXPECT_EQ(p->transports[0].mode, 3u);
  EXPECT_EQ(p->transports[0].ssrc, 0xABu);
  EXPECT_TRUE(p->transports[0].append);
}

TEST(RtpInfo, EntriesAndErrors) {
  std::string text = "URL=rtsp://h/clip/stream=0;Seq=1544;rtptime=4285507594, url=rtsp://h/clip/stream=1;seq=18873";
  RtpInfoEntry e[kMaxRtpInfoEntries];
  uint32_t count = 0;
  ASSERT_TRUE(ParseRtpInfo(text.data(), uint32_t(text.size()), e, count));
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::string(e[0].url.text, e[0].url.length), "rtsp://h/clip/stream=0");
  EXPECT_EQ(e[0].seq, 1544);
  EXPECT_EQ(e[0].rtptime, 4285507594u);
  EXPECT_TRUE(e[1].hasSeq);
  EXPECT_FALSE(e[1].hasRtptime);
  EXPECT_EQ(std::string(e[1].url.text), "rtsp://h/clip/stream=1");

  for (std::string bad : {"url=a;ssrc=1", "url=a;seq=65536", "url=a;rtptime=4294967296", "url=a;seq="}) {
    count = 0;
    EXPECT_FALSE(ParseRtpInfo(bad.data(), uint32_t(bad.size()), e, count)) << bad;
  }
  std::string eleven;
  for (int i = 0; i < 11; ++i) eleven += "url=x,";
  count = 0;
  EXPECT_FALSE(ParseRtpInfo(eleven.data(), uint32_t(eleven.size()), e, count));
  EXPECT_EQ(count, 10u);
}
