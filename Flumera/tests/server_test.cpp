// The RTSP server, senders and UDP side channels under a host of our own,
// driven only through Flumera.dll's exports and queues; players are a
// plain Winsock client and the python client of the dialect.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "server_host.h"

using namespace flumera_test;

namespace {

struct Winsock {
  Winsock() {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
  }
  ~Winsock() { WSACleanup(); }
} winsock;

const std::string kSource = SUITE_TEST_DATA_DIR;
const std::string kClient = kSource + "/tests/rtsp_client.py";

std::string Url(unsigned short port, const char* path = "live") {
  return "rtsp://127.0.0.1:" + std::to_string(port) + "/" + path;
}

struct Clip {
  Bytes config;
  std::vector<Bytes> units;
  std::vector<bool> keys;
  Clip() { SplitVideo(ReadFile(kSource + "/tests/data/clip.m4v"), &config, &units, &keys); }
};

const Clip& TheClip() {
  static Clip clip;
  return clip;
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
  const std::string out = WorkDirUnix() + "/peer_receive";
  std::remove((out + "/done").c_str());
  ASSERT_TRUE(StartProgram("/usr/bin/python3 " + kClient + " receive " + Url(h.rtspPort) + " --out " + out +
                           " --ffmpeg --timeout 60 --done " + out + "/done"));
  Message m;
  ASSERT_TRUE(h.WaitFor(KRM_CLIENT_PLAYING, &m, 20000)) << "the client did not play";
  EXPECT_EQ(m.extra, 0u);  // primed: the host is to send Play (it does)
  ASSERT_TRUE(h.WaitFor(KRM_PLAY_REPLY, &m, 5000));
  ASSERT_EQ(m.extra, 0u);
  const std::vector<Bytes> amr = AmrFrames(100);
  FeedClip(h, amr);
  Sleep(1000);  // let the sender drain before the end notice
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

}  // namespace
