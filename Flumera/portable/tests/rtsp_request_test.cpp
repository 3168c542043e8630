#include "flumera/rtsp_request.h"

#include <gtest/gtest.h>

#include <string>

namespace flumera {
namespace {

TEST(RequestReader, GathersUpToTheBlankLineAndKeepsTheRest) {
  RequestReader r;
  const std::string two = "PLAY rtsp://h/live RTSP/1.0\r\nCSeq: 4\r\n\r\nPAUSE rtsp://h/live RTSP/1.0\r\nCS";
  std::string_view req;
  // Byte by byte: nothing is complete before the blank line.
  for (size_t i = 0; i < two.size(); ++i) {
    ASSERT_EQ(r.Append(two.data() + i, 1), 1u);
    const bool complete = r.Next(&req) == RequestReader::kComplete;
    EXPECT_EQ(complete, i >= 39) << i;
    if (complete) break;
  }
  EXPECT_EQ(req, "PLAY rtsp://h/live RTSP/1.0\r\nCSeq: 4\r\n\r\n");
  r.Consume();
  r.Append(two.data() + 40, two.size() - 40);
  EXPECT_EQ(r.Next(&req), RequestReader::kNeedMore);
  r.Append("eq: 5\r\n\r\n", 9);
  ASSERT_EQ(r.Next(&req), RequestReader::kComplete);
  EXPECT_EQ(MethodOf(req), RtspMethod::kPause);
  EXPECT_EQ(ReadCSeq(req), 5);
  r.Consume();
  EXPECT_EQ(r.Pending(), 0u);
}

TEST(RequestReader, OverLongRequestIsRefusedWhole) {
  RequestReader r;
  const std::string junk(RequestReader::kMaxRequest + 100, 'x');
  EXPECT_EQ(r.Append(junk.data(), junk.size()), RequestReader::kMaxRequest);  // bounded
  std::string_view req;
  EXPECT_EQ(r.Next(&req), RequestReader::kTooLong);
  r.Consume();
  EXPECT_EQ(r.Pending(), 0u);
}

TEST(RtspRequest, MethodsByPrefix) {
  const struct { const char* text; RtspMethod m; } cases[] = {
      {"DESCRIBE rtsp://a/live RTSP/1.0", RtspMethod::kDescribe}, {"SETUP x", RtspMethod::kSetup},
      {"PLAY x", RtspMethod::kPlay},          {"PAUSE x", RtspMethod::kPause},
      {"TEARDOWN x", RtspMethod::kTeardown},  {"GET_PARAMETER x", RtspMethod::kGetParameter},
      {"OPTIONS * RTSP/1.0", RtspMethod::kOther}, {"describe x", RtspMethod::kOther},
      {"PLAYX", RtspMethod::kOther},          {"", RtspMethod::kOther},
  };
  for (auto& c : cases) EXPECT_EQ(MethodOf(c.text), c.m) << c.text;
}

TEST(RtspRequest, HeaderReaders) {
  const std::string r =
      "SETUP rtsp://10.0.0.1:554/live/a RTSP/1.0\r\nCSeq: 17\r\nSession: 1234567\r\n"
      "Transport: RTP/AVP;unicast;client_port=7000-7001\r\nID: phone 42\r\nx: y\r\n\r\n";
  EXPECT_EQ(ReadCSeq(r), 17);
  EXPECT_EQ(HeaderLine(r, "CSeq:"), "CSeq: 17");
  EXPECT_EQ(HeaderLine(r, "Transport:"), "Transport: RTP/AVP;unicast;client_port=7000-7001");
  unsigned a = 0, b = 0;
  ASSERT_TRUE(ReadClientPorts(r, &a, &b));
  EXPECT_EQ(a, 7000u);
  EXPECT_EQ(b, 7001u);
  unsigned long s = 0;
  ASSERT_TRUE(ReadSession(r, &s));
  EXPECT_EQ(s, 1234567u);
  EXPECT_EQ(FirstLine(r), "SETUP rtsp://10.0.0.1:554/live/a RTSP/1.0");
  EXPECT_EQ(IdentificationText(r), "ID: phone 42\r\nx: y\r\n\r\n");
  EXPECT_EQ(IdentificationText(r, 8), "ID: pho");  // cut to the field, with room for its zero
  EXPECT_TRUE(IsLivePath(r));
  // Missing headers, a header without its CR.
  EXPECT_EQ(ReadCSeq("PLAY x RTSP/1.0\r\n\r\n"), -1);
  EXPECT_EQ(ReadCSeq("PLAY x RTSP/1.0\r\nCSeq: 3"), -1);
  EXPECT_EQ(ReadCSeq("PLAY x\r\nCSeq: -2\r\n\r\n"), -2);
  EXPECT_EQ(ReadCSeq("PLAY x\r\nCSeq: 99999999999\r\n\r\n"), 0x7FFFFFFF);  // saturates
  EXPECT_FALSE(ReadSession("PLAY x\r\n\r\n", &s));
  EXPECT_FALSE(ReadClientPorts("SETUP x\r\n\r\n", &a, &b));
  EXPECT_EQ(IdentificationText("DESCRIBE x\r\n\r\n"), "");
  EXPECT_EQ(HeaderLine("x\r\nCSeq: 1", "CSeq:"), "");
  EXPECT_EQ(FirstLine(std::string(3000, 'a')).size(), 512u);
}

TEST(RtspRequest, LivePaths) {
  const struct { const char* url; bool live; } cases[] = {
      {"DESCRIBE rtsp://127.0.0.1:5540/live RTSP/1.0\r\n", true},
      {"DESCRIBE rtsp://127.0.0.1/Live/x RTSP/1.0\r\n", true},
      {"DESCRIBE rtsp://h/LIVE RTSP/1.0\r\n", true},
      {"DESCRIBE rtsp://h/archive RTSP/1.0\r\n", false},
      {"DESCRIBE rtsp://h/lIVE RTSP/1.0\r\n", false},
      {"DESCRIBE rtsp://h RTSP/1.0\r\n", false},
      {"DESCRIBE http://h/live RTSP/1.0\r\n", false},
  };
  for (auto& c : cases) EXPECT_EQ(IsLivePath(c.url), c.live) << c.url;
}

TEST(RtspRequest, Replies) {
  const std::string withCSeq = "OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n\r\n";
  EXPECT_EQ(ErrorReply(400, withCSeq), "RTSP/1.0 400 Bad Request\r\nCSeq: 2\r\n\r\n");
  EXPECT_EQ(ErrorReply(404, withCSeq), "RTSP/1.0 400 Bad Request\r\nCSeq: 2\r\n\r\n");
  EXPECT_EQ(ErrorReply(503, withCSeq), "RTSP/1.0 503 Service Unavailable\r\nCSeq: 2\r\n\r\n");
  EXPECT_EQ(ErrorReply(400, "OPTIONS * RTSP/1.0\r\n\r\n"), "RTSP/1.0 400 Bad Request\r\n");
  const std::string setup =
      "SETUP rtsp://h/live RTSP/1.0\r\nCSeq: 3\r\nTransport: RTP/AVP;unicast;client_port=7000-7001\r\n\r\n";
  SetupReplyInfo info;
  info.session = 4711;
  info.serverPort1 = info.serverPort2 = 5540;
  EXPECT_EQ(SetupReplyText(setup, info),
            "RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 4711\r\n"
            "Transport: RTP/AVP;unicast;client_port=7000-7001;server_port=5540-5540\r\n\r\n");
  info.serverPort1 = 6000;
  info.serverPort2 = 6001;
  info.maxPacketSize = 1024;
  info.rtcpInterval = 500;
  EXPECT_EQ(SetupReplyNumbers(9, 7000, 7001, info),
            "RTSP/1.0 200 OK\r\nCSeq: 9\r\nSession: 4711\r\nVersion: 2.0\r\nMax_packet_size: 1024\r\n"
            "RTCP-Interval: 500\r\nTransport:RTP/AVP;unicast;client_port=7000-7001;server_port=6000-6001\r\n\r\n");
  EXPECT_EQ(RefusalReply(9), "RTSP/1.0 401 FAILED\r\nCSeq: 9\r\n\r\n");
  EXPECT_EQ(OkReply("PLAY x\r\nCSeq: 5\r\n\r\n", "Session:12\r\n"), "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession:12\r\n\r\n");
  EXPECT_EQ(EndOfStreamNotice("SETUP rtsp://h/live RTSP/1.0", 12),
            "END_OF_STREAM rtsp://h/live RTSP/1.0\r\nCSeq: 0\r\nSession: 12\r\n\r\n");
}

}  // namespace
}  // namespace flumera
