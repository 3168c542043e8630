#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "streaming/rtsp_message.h"

using namespace streaming;

namespace {

// What the caller of the reader sees of one message.
struct Seen {
  int32_t event = 0;  // 2 or 5
  int32_t kind = 0, method = 0, status = 0, parseError = 0;
  int32_t cseq = -1;
  int32_t contentLength = -1;  // as recorded; -1 without one
  std::string session, reason, contentType, body;
  uint32_t slots = 0, transports = 0, rtpInfo = 0;
  bool operator==(const Seen&) const = default;
};

std::string text(const RtspToken& t) { return std::string(t.text, t.length); }

// Feeds the stream in chunks of the given sizes (the last size repeats) and
// collects every message with its body.
std::vector<Seen> readAll(const std::string& stream, std::vector<uint32_t> chunks) {
  RtspReader reader;
  auto msg = std::make_unique<RtspMessage>();
  std::vector<Seen> out;
  std::vector<uint8_t> body;
  BodyFragment frag[2];
  size_t pos = 0, chunk = 0;
  for (int guard = 0; guard < 1000000; ++guard) {
    int32_t ev = reader.Step();
    if (ev == kEventIdle) {
      msg->Reset();
      reader.Begin(*msg);
    } else if (ev == kEventNeedBytes) {
      if (pos >= stream.size()) break;
      uint8_t* win;
      uint32_t len;
      if (!reader.GetReceiveWindow(win, len)) break;
      uint32_t want = chunks[chunk < chunks.size() ? chunk : chunks.size() - 1];
      ++chunk;
      uint32_t n = uint32_t(std::min<size_t>({len, want, stream.size() - pos}));
      std::memcpy(win, stream.data() + pos, n);
      pos += n;
      reader.Commit(n);
    } else if (ev == kEventHeader || ev == kEventHeaderTooLong) {
      Seen s;
      s.event = ev;
      s.kind = msg->kind;
      s.method = msg->method;
      s.status = msg->status;
      s.parseError = msg->parseError;
      s.cseq = msg->hasCSeq ? msg->cseq : -1;
      s.contentLength = msg->hasContentLength ? msg->contentLength : -1;
      s.session = text(msg->session);
      s.reason = text(msg->reasonPhrase);
      s.contentType = text(msg->contentType);
      s.slots = msg->headerCount;
      s.transports = msg->transportCount;
      s.rtpInfo = msg->rtpInfoCount;
      out.push_back(s);
      body.assign(reader.bodyLength(), 0);
    } else if (ev == kEventBodyPending) {
      // Two fragments, to cross a fragment border too.
      uint32_t half = uint32_t(body.size() / 2);
      frag[0] = {half, body.data()};
      frag[1] = {uint32_t(body.size()) - half, body.data() + half};
      reader.SetBodyTarget(frag, 2);
    } else if (ev == kEventBodyComplete) {
      out.back().body.assign(body.begin(), body.end());
    } else {
      ADD_FAILURE() << "event " << ev;
      break;
    }
  }
  return out;
}

std::string fixture(const char* name) {
  std::ifstream f(std::string(SUITE_TEST_DATA_DIR) + "/tests/data/" + name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

}  // namespace

// The answers of GStreamer's RTSP server to a whole session, captured once.
TEST(RtspReader, GStreamerSessionParsesTheSameAtEverySplit) {
  const std::string stream = fixture("gst_rtsp_session.bin");
  ASSERT_GT(stream.size(), 1000u);
  auto whole = readAll(stream, {RtspReader::kBufferSize});
  ASSERT_EQ(whole.size(), 6u);
  for (size_t i = 0; i < whole.size(); ++i) {
    EXPECT_EQ(whole[i].event, kEventHeader);
    EXPECT_EQ(whole[i].kind, kResponse);
    EXPECT_EQ(whole[i].status, 200);
    EXPECT_EQ(whole[i].reason, "OK");
    EXPECT_EQ(whole[i].parseError, 0) << i;
    EXPECT_EQ(whole[i].cseq, int32_t(i + 1));
  }
  EXPECT_EQ(whole[1].body.substr(0, 5), "v=0\r\n");
  EXPECT_EQ(whole[1].body.size(), 806u);  // its Content-Length
  EXPECT_EQ(whole[2].transports, 1u);
  EXPECT_EQ(whole[4].rtpInfo, 2u);
  EXPECT_FALSE(whole[2].session.empty());
  // Split once at every position, and in single bytes.
  for (uint32_t split = 1; split < stream.size(); split += 1) {
    auto parts = readAll(stream, {split, RtspReader::kBufferSize});
    ASSERT_EQ(parts, whole) << "split at " << split;
  }
  EXPECT_EQ(readAll(stream, {1}), whole);
}

TEST(RtspReader, StartLinesAndHeaderLines) {
  struct Case {
    const char* text;
    int32_t kind, method, status, parseError;
    uint32_t slots;
  } cases[] = {
      {"RTSP/1.0 200 OK\r\n\r\n", kResponse, 0, 200, 0, 0},
      {"RTSP/1.1 200 OK\r\nCSeq: 1\r\n\r\n", kResponse, 0, 0, kParseBadVersion, 0},
      {"DESCRIBE rtsp://h/clip RTSP/1.0 extra\r\n\r\n", kRequest, 0, 0, kParseMalformed, 0},
      {"describe rtsp://h/clip RTSP/1.0\r\nCSeq: 2\r\n\r\n", kRequest, kMethodNone, 0, 0, 1},
      {"OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n\r\n", kRequest, kMethodOptions, 0, 0, 1},
      {"PLAY 1tsp://h/clip RTSP/1.0\r\n\r\n", kRequest, kMethodPlay, 0, kParseMalformed, 0},
      {"PLAY ? RTSP/1.0\r\n\r\n", kRequest, kMethodPlay, 0, kParseMalformed, 0},
      {"RTSP/1.0 200 OK\r\nCSeq 7\r\n\r\n", kResponse, 0, 200, kParseMalformed, 1},
      {"RTSP/1.0 200 OK\r\nCSeq: 9999999999\r\n\r\n", kResponse, 0, 200, kParseMalformed, 1},
      {"RTSP/1.0 200 OK\r\nContent-Length: 2000000\r\n\r\n", kResponse, 0, 200, kParseMalformed, 1},
      {"RTSP/1.0 200 OK\r\nContent-Length: 0\r\ncontent-length: 7\r\n\r\n", kResponse, 0, 200, kParseMalformed, 2},
      {"RTSP/1.0 200 OK\r\nContent-Length: 0\r\nContent-Length: 0\r\n\r\n", kResponse, 0, 200, 0, 2},
      {"RTSP/1.0 99999 OK\r\n\r\n", kResponse, 0, 0, kParseMalformed, 0},
      {"RTSP/1.0 200 OK\n\n", kResponse, 0, 200, 0, 0},
      {"RTSP/1.0 200 OK\rCSeq: 3\r\r", kResponse, 0, 200, 0, 1},
  };
  for (const auto& c : cases) {
    auto seen = readAll(c.text, {4000});
    ASSERT_EQ(seen.size(), 1u) << c.text;
    EXPECT_EQ(seen[0].kind, c.kind) << c.text;
    EXPECT_EQ(seen[0].method, c.method) << c.text;
    EXPECT_EQ(seen[0].status, c.status) << c.text;
    EXPECT_EQ(seen[0].parseError, c.parseError) << c.text;
    EXPECT_EQ(seen[0].slots, c.slots) << c.text;
  }
}

TEST(RtspReader, RequestFieldsFoldedLinesAndSpaces) {
  RtspReader reader;
  RtspMessage m;
  std::string s =
      "SETUP rtsp://host:554/clip/track1 RTSP/1.0\r\n"
      "Cseq:   7  \r\n"
      "Transport: RTP/AVP;unicast;\r\n"
      " \t client_port=7000-7001\r\n"
      "Range: npt=0-\r\n"
      "X-Own: a:b\r\n\r\n";
  ASSERT_EQ(reader.Step(), kEventIdle);
  reader.Begin(m);
  uint8_t* win;
  uint32_t len;
  ASSERT_TRUE(reader.GetReceiveWindow(win, len));
  std::memcpy(win, s.data(), s.size());
  ASSERT_TRUE(reader.Commit(uint32_t(s.size())));
  ASSERT_EQ(reader.Step(), kEventHeader);
  EXPECT_EQ(m.parseError, 0);
  EXPECT_EQ(m.method, kMethodSetup);
  EXPECT_EQ(m.cseq, 7);
  EXPECT_EQ(text(m.uriPath), "clip/track1");
  EXPECT_EQ(text(m.lastSegment), "track1");
  ASSERT_EQ(m.transportCount, 1u);
  EXPECT_EQ(m.transports[0].clientPort[0], 7000);
  EXPECT_EQ(text(*m.FindHeader(MakeToken("transport"))), "RTP/AVP;unicast; client_port=7000-7001");
  EXPECT_TRUE(m.hasRange);
  EXPECT_EQ(m.range.format, kRangeNpt);
  EXPECT_EQ(text(*m.FindHeader(MakeToken("x-own"))), "a:b");
  EXPECT_EQ(m.FindHeader(MakeToken("Missing")), nullptr);
  EXPECT_EQ(reader.Step(), kEventIdle);
}

TEST(RtspReader, TwentyOneHeaderLinesFillTwentySlots) {
  std::string s = "RTSP/1.0 200 OK\r\n";
  for (int i = 0; i < 21; ++i) s += "X-H" + std::to_string(i) + ": v\r\n";
  s += "\r\nRTSP/1.0 404 Not Found\r\nCSeq: 3\r\n\r\n";
  auto seen = readAll(s, {4000});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].parseError, kParseTooManyHeaders);
  EXPECT_EQ(seen[0].slots, 20u);
  EXPECT_EQ(seen[1].status, 404);
  EXPECT_EQ(seen[1].reason, "Not Found");
}

TEST(RtspReader, InterleavedFramesBetweenMessages) {
  std::string s = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 3\r\n\r\nabc";
  s += std::string("$\x01\x01\x00", 4) + std::string(256, 'x');
  s += std::string("$\x00\x00\x02", 4) + "yz";
  s += "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n";
  for (uint32_t chunk : {1u, 2u, 3u, 7u, 4000u}) {
    auto seen = readAll(s, {chunk});
    ASSERT_EQ(seen.size(), 4u) << chunk;
    EXPECT_EQ(seen[0].body, "abc");
    EXPECT_EQ(seen[1].method, kMethodFrame);
    EXPECT_EQ(seen[1].contentType, "\x01");
    EXPECT_EQ(seen[1].body, std::string(256, 'x'));
    EXPECT_EQ(seen[2].contentType, "");  // channel 0
    EXPECT_EQ(seen[2].body, "yz");
    EXPECT_EQ(seen[3].cseq, 2);
  }
}

TEST(RtspReader, JunkRunIsDroppedAndTheNextMessageRead) {
  std::string s(4000, 'j');
  s += "\r\n\r\nRTSP/1.0 200 OK\r\nCSeq: 5\r\n\r\n";
  for (uint32_t chunk : {1u, 999u, 4000u}) {
    auto seen = readAll(s, {chunk});
    ASSERT_EQ(seen.size(), 2u) << chunk;
    EXPECT_EQ(seen[0].event, kEventHeaderTooLong);
    EXPECT_EQ(seen[1].event, kEventHeader);
    EXPECT_EQ(seen[1].cseq, 5);
  }
}

TEST(RtspReader, OverLongHeaderKeepsTheStreamInStep) {
  std::string s = "RTSP/1.0 200 OK\r\nContent-Length: 4\r\nX-Long: " + std::string(1200, 'a') + "\r\n\r\nbody";
  s += "RTSP/1.0 200 OK\r\nCSeq: 8\r\n\r\n";
  auto seen = readAll(s, {4000});
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].event, kEventHeaderTooLong);
  EXPECT_EQ(seen[0].parseError, kParseHeaderTooLong);
  EXPECT_EQ(seen[0].body, "body");
  EXPECT_EQ(seen[1].cseq, 8);
}

TEST(RtspReader, DiscardedBodyAndShortFragments) {
  RtspReader reader;
  RtspMessage m;
  std::string s = "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789RTSP/1.0 200 OK\r\nCSeq: 4\r\n\r\n";
  reader.Step();
  reader.Begin(m);
  uint8_t* win;
  uint32_t len;
  reader.GetReceiveWindow(win, len);
  std::memcpy(win, s.data(), 40);  // header and part of the body
  reader.Commit(40);
  ASSERT_EQ(reader.Step(), kEventHeader);
  ASSERT_EQ(reader.Step(), kEventBodyPending);
  ASSERT_TRUE(reader.SetBodyTarget(nullptr, 0));
  ASSERT_EQ(reader.Step(), kEventNeedBytes);
  ASSERT_TRUE(reader.GetReceiveWindow(win, len));
  EXPECT_EQ(len, RtspReader::kBufferSize);
  std::memcpy(win, s.data() + 40, s.size() - 40);
  reader.Commit(uint32_t(s.size() - 40));
  ASSERT_EQ(reader.Step(), kEventIdle);
  m.Reset();
  reader.Begin(m);
  ASSERT_EQ(reader.Step(), kEventHeader);
  EXPECT_EQ(m.cseq, 4);
  EXPECT_FALSE(reader.Commit(1));  // no window was handed out

  // Fragments shorter than the body fail instead of writing past them.
  RtspReader r2;
  RtspMessage m2;
  r2.Step();
  r2.Begin(m2);
  r2.GetReceiveWindow(win, len);
  std::string t = "RTSP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n0123456789";
  std::memcpy(win, t.data(), t.size());
  r2.Commit(uint32_t(t.size()));
  r2.Step();
  r2.Step();
  uint8_t small[4];
  BodyFragment f{4, small};
  r2.SetBodyTarget(&f, 1);
  EXPECT_EQ(r2.Step(), kEventFailed);
}

// Whatever the header says about the body, the record carries the length the
// reader consumed, and the next message is read in step.
TEST(RtspReader, ContentLengthRecordedAsConsumed) {
  struct Case {
    const char* header;
    const char* body;
    int32_t parseError;
  } cases[] = {
      {"Content-Length: 4\r\nContent-Length: 4\r\n", "body", 0},
      {"Content-Length: 4\r\nCSeq: 3\r\nContent-Length: 10\r\n", "body", kParseMalformed},
      {"Content-Length: 10\r\nContent-Length: 4\r\n", "0123456789", kParseMalformed},
      {"Content-Length: 6\r\nContent-Length: x\r\n", "bodyxx", kParseMalformed},
      // The reader's length comes from the first "Content-Length" anywhere in
      // the header, here inside another header's name.
      {"X-Content-Length: 6\r\nContent-Length: 4\r\n", "bodyxx", kParseMalformed},
      {"X-Content-Length: 3\r\n", "abc", kParseMalformed},
  };
  for (const Case& c : cases) {
    const std::string message = std::string("RTSP/1.0 200 OK\r\n") + c.header + "\r\n" + c.body;
    for (uint32_t chunk : {1u, 7u, 4000u}) {
      SCOPED_TRACE(testing::Message() << c.header << " chunk " << chunk);
      auto seen = readAll(message + "RTSP/1.0 200 OK\r\nCSeq: 8\r\n\r\n", {chunk});
      ASSERT_EQ(seen.size(), 2u);
      EXPECT_EQ(seen[0].parseError, c.parseError);
      EXPECT_EQ(seen[0].body, c.body);
      EXPECT_EQ(seen[0].contentLength, int32_t(std::strlen(c.body)));
      EXPECT_EQ(seen[1].parseError, 0);
      EXPECT_EQ(seen[1].cseq, 8);
      EXPECT_EQ(seen[1].contentLength, -1);
    }
  }
}
