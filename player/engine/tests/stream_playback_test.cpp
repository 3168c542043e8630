// An RTSP stream through the real player: controller, session, engine and
// the program's parts (the stream source over the streaming session, the
// audio binding with the stand-in decoders, waveOut, the video thread in a
// visible window). GStreamer's RTSP server of the streaming tests (their
// fixture starts it) serves twelve seconds of MPEG-4 video and AMR on its
// /play mount. The player prerolls, is paused and resumed, and plays to the
// clip's end; the decoder's frame log must hold exactly the served speech
// frames, and a picture on the screen must be one of the served ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "end_to_end_parts.h"
#include "engine/player_ids.h"
#include "expected_pictures.h"
#include "fakes.h"
#include "player_context.h"
#include "player_controller.h"
#include "player_engine.h"
#include "video_units.h"

namespace {

const std::filesystem::path kPeers = RTSP_PEERS_DIR;
constexpr uint32_t kAmrBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

uint32_t Adler32(const uint8_t* p, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return b << 16 | a;
}

// A speech frame of the served storage file: its header byte and speech.
struct SpeechFrame {
  uint8_t head;
  std::string speech;
};

std::vector<SpeechFrame> ServedSpeech(const std::string& file) {
  std::vector<SpeechFrame> frames;
  size_t at = 6;  // "#!AMR\n"
  while (at < file.size()) {
    const uint8_t head = uint8_t(file[at]);
    const size_t n = kAmrBytes[(head >> 3) & 15];
    if (at + 1 + n > file.size()) break;
    frames.push_back({head, file.substr(at + 1, n)});
    at += 1 + n;
  }
  return frames;
}

// One group the stand-in decoder logged: header bytes and payload checksum.
struct LoggedGroup {
  uint32_t n = 0, hash = 0;
  std::string head;
};

std::vector<LoggedGroup> LoggedGroups(const std::filesystem::path& log) {
  std::ifstream in(log);
  std::vector<LoggedGroup> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("frame ", 0) != 0) continue;
    LoggedGroup g;
    unsigned buffer = 0, status = 0, t = 0, len = 0;
    char head[32] = {};
    if (std::sscanf(line.c_str(), "frame buffer=%u status=%u t=%u len=%u n=%u head=%31s hash=%x", &buffer, &status,
                    &t, &len, &g.n, head, &g.hash) == 7) {
      g.head = head;
      out.push_back(g);
    } else {
      ADD_FAILURE() << "unreadable frame line: " << line;
    }
  }
  return out;
}

std::u16string PlayUrl() {
  const std::string port = ReadFile(kPeers / "gst.port");
  const std::string url = "rtsp://127.0.0.1:" + port.substr(0, port.find('\n')) + "/play";
  return std::u16string(url.begin(), url.end());
}

}  // namespace

TEST(StreamPlayback, PrerollsPausesResumesAndPlaysToTheEnd) {
  ASSERT_FALSE(ReadFile(kPeers / "gst.port").empty())
      << "GStreamer's RTSP server is not running (a CTest fixture): " << ReadFile(kPeers / "gst.error");
  const std::vector<SpeechFrame> served = ServedSpeech(ReadFile(kPeers / "play.amr"));
  ASSERT_GT(served.size(), 500u);
  const std::vector<e2e::Picture> pictures = e2e::ExpectedPictures((kPeers / "play.m4v").string(), 15);
  ASSERT_GT(pictures.size(), 150u);
  const std::filesystem::path log = std::filesystem::absolute("stream_playback.decoder.log");
  std::filesystem::remove(log);
  SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", log.wstring().c_str());

  VideoWindow window(320, 240);
  SetWindowPos(window.hwnd, HWND_TOPMOST, 40, 40, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
  UpdateWindow(window.hwnd);
  FakeShell shell;
  // A short preroll keeps the test short; the rules are the source tests'.
  shell.dwords[u"MaximumBufferedData"] = 2000;
  EndToEndParts parts(&shell);
  RecordingObserver observer;
  {
    PlayerController controller(&shell, &parts);
    controller.Init(window.hwnd, GetModuleHandleW(nullptr), &observer, nullptr);
    ASSERT_EQ(controller.Open(PlayUrl().c_str()), 0u);
    PlayerEngine* engine = controller.Session()->Engine();

    // The preroll: buffering is shown before playing begins.
    ASSERT_TRUE(PumpUntil([&] { return engine->GetState() == kStatePlaying && engine->GetHighestTime() > 3000; },
                          20000))
        << "no playback; state " << engine->GetState();
    EXPECT_TRUE(observer.Has("ShowStatusText " + std::to_string(ids::kStatusBuffering)));
    std::vector<std::string> levels = observer.Calls("SetBufferLevel");
    EXPECT_FALSE(levels.empty()) << "no buffering level shown";

    // A picture on the screen is one of the served ones (read again when
    // the read met a drawing half done).
    size_t same = 0;
    for (int attempt = 0; attempt < 5 && same == 0; ++attempt) {
      const e2e::Bytes shot = ReadWindow(window.control, 176, 144).bgr;
      for (const e2e::Picture& p : pictures) same += p.bgr == shot;
      if (same == 0) PumpUntil([] { return false; }, 30);
    }
    EXPECT_EQ(same, 1u) << "the video area shows none of the served pictures";

    // Paused, nothing more is read: the highest time read stands (a frame
    // in the audio thread's hands may still come).
    ASSERT_EQ(controller.Pause(), 0u);
    PumpUntil([] { return false; }, 300);
    const uint32_t pausedAt = engine->GetHighestTime();
    PumpUntil([] { return false; }, 1500);
    EXPECT_EQ(engine->GetState(), uint32_t(kStatePaused));
    EXPECT_LE(engine->GetHighestTime(), pausedAt + 100);
    ASSERT_EQ(controller.Play(0, kPlayToEnd), 0u);
    EXPECT_EQ(engine->GetState(), uint32_t(kStatePlaying));

    const bool ended = PumpUntil([&] { return observer.Has("OnClipEnd"); }, 40000);
    EXPECT_TRUE(ended) << "the stream did not play to its end";
    if (!ended || getenv("STREAM_PLAYBACK_TRACE"))
      for (const std::string& c : observer.Calls()) std::printf("observer: %s\n", c.c_str());
    EXPECT_GE(engine->GetHighestTime(), 11000);
    for (const std::string& c : observer.Calls("ShowError")) ADD_FAILURE() << c;
    controller.Stop();
    PumpUntil([&] { return parts.LastPlayed().ended; }, 5000);
  }
  SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", nullptr);

  const EndToEndParts::Played played = parts.LastPlayed();
  EXPECT_GT(played.counters.presented, 150u) << "skipped " << played.counters.skipped;
  EXPECT_EQ(played.counters.presented + played.counters.skipped, pictures.size());
  EXPECT_EQ(played.width, 176u);

  // Every served speech frame reached the decoder once, in order.
  size_t next = 0;
  for (const LoggedGroup& g : LoggedGroups(log)) {
    ASSERT_LE(next + g.n, served.size()) << "more speech than was served";
    std::string head, speech;
    for (uint32_t i = 0; i < g.n; ++i, ++next) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02X", served[next].head);
      head += hex;
      speech += served[next].speech;
    }
    EXPECT_EQ(g.head, head.substr(0, 20)) << "group ending at frame " << next;
    EXPECT_EQ(g.hash, Adler32(reinterpret_cast<const uint8_t*>(speech.data()), speech.size()))
        << "group ending at frame " << next;
  }
  EXPECT_EQ(next, served.size()) << "served speech frames the decoder never received";
  std::printf("presented %u pictures, skipped %u; %zu speech frames decoded\n", played.counters.presented,
              played.counters.skipped, next);
}
