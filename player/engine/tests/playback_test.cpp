// Whole clips through the real player: controller, session and engine over
// the program's parts (file source, audio binding with the stand-in decoder
// libraries, waveOut on PulseAudio's null sink, the video playout thread).
// The 60-second clips are made by tests/clips/make_clips.sh before this runs.
// Each plays to its end; the decoder's frame log must hold exactly the audio
// packets ffmpeg's demuxer lists, and the player clock must stay within 50 ms of the
// audio the device has played.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "audio_decoder_binding.h"
#include "fakes.h"
#include "packet_list.h"
#include "player_context.h"
#include "player_controller.h"
#include "player_engine.h"
#include "standard_parts.h"
#include "wave_out_device.h"

using namespace source_test;

namespace {

// The program's parts, keeping the latest audio path for the clock checks.
class PlaybackParts : public StandardEngineParts {
 public:
  explicit PlaybackParts(PlayerShellServices* s) : StandardEngineParts(s) {}
  AudioDecoder* NewAudioDecoder(PlayerContext* c, MediaSource* m) override {
    audio = static_cast<AudioDecoderBinding*>(StandardEngineParts::NewAudioDecoder(c, m));
    return audio;
  }
  AudioDecoderBinding* volatile audio = nullptr;
};

struct Sample {
  DWORD wall;
  double clock, heard;
};

// What the clock did against the audio heard (the device's played position)
// and against the wall clock, over the steady part of the play: from 2 s
// after the first buffer played until the last buffers drain.
struct Figures {
  std::vector<Sample> samples;
  uint32_t playedMs = 0;
  DWORD wallMs = 0;
  double offset = 0;     // median of clock - heard: the device's completion latency
  double worst = 0;      // largest distance from that offset
  double within50 = 0;   // share of samples within 50 ms of it
  double drift = 0;      // clock - heard, last tenth against the first (medians)
  double wallDrift = 0;  // clock against wall time over the same span
  double wallWorst = 0;

  void Compute() {
    if (samples.size() < 10) return;
    std::vector<double> errors;
    for (const Sample& s : samples) errors.push_back(s.clock - s.heard);
    std::vector<double> sorted = errors;
    std::sort(sorted.begin(), sorted.end());
    offset = sorted[sorted.size() / 2];
    size_t inside = 0;
    for (double e : errors) {
      worst = std::max(worst, std::fabs(e - offset));
      inside += std::fabs(e - offset) <= 50.0;
    }
    within50 = double(inside) / double(errors.size());
    // Medians of the first and last tenth: a stall on a loaded machine makes
    // a few samples run ahead, which would move a mean but is not drift.
    const size_t tenth = errors.size() / 10;
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    drift = median({errors.end() - tenth, errors.end()}) - median({errors.begin(), errors.begin() + tenth});
    for (const Sample& s : samples) {
      const double w = (s.clock - samples[0].clock) - double(s.wall - samples[0].wall);
      wallWorst = std::max(wallWorst, std::fabs(w));
      wallDrift = w;
    }
  }
};

std::string ClipDir() {
  const char* dir = std::getenv("PLAYBACK_CLIPS");
  return dir ? dir : PLAYBACK_CLIPS;
}

// Plays the clip to its end, sampling the clock against the device's
// played position every 100 ms.
Figures PlayToEnd(const std::string& clip, const std::filesystem::path& logPath) {
  SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", logPath.wstring().c_str());
  TestWindow window;
  FakeShell shell;
  PlaybackParts parts(&shell);
  RecordingObserver observer;
  Figures f;
  {
    PlayerController controller(&shell, &parts);
    controller.Init(window.hwnd, GetModuleHandleW(nullptr), &observer, nullptr);
    const std::u16string path = std::filesystem::path(clip).u16string();
    EXPECT_EQ(controller.OpenCommandLine(path.c_str()), 0u);
    PlayerEngine* engine = controller.Session()->Engine();
    const DWORD start = GetTickCount();
    DWORD firstPlayed = 0, nextSample = start;
    const bool ended = PumpUntil(
        [&] {
          for (const std::string& c : observer.Calls())
            if (c == "OnClipEnd") return true;
          AudioDecoderBinding* a = parts.audio;
          if (engine->GetState() != kStatePlaying || !a || !a->Device() || GetTickCount() < nextSample) return false;
          nextSample = GetTickCount() + 100;
          const uint32_t played = a->Device()->PlayedBytes();
          const uint32_t bps = a->Device()->BytesPerSecond();
          if (!bps || played < a->BufferBytes()) return false;
          const Sample s{GetTickCount(), double(engine->Context()->GetPosition()),
                         a->BaseTimeMs() + double(played) * 1000.0 / bps};
          f.playedMs = static_cast<uint32_t>(s.heard);
          if (!firstPlayed) firstPlayed = s.wall;
          // The steady part: past the start, while buffers are still queued.
          if (s.wall - firstPlayed >= 2000 && a->Device()->Outstanding() >= AudioDecoderBinding::kBufferCount)
            f.samples.push_back(s);
          if (std::getenv("PLAYBACK_TRACE"))
            std::printf("trace %lu clock %.0f heard %.1f outstanding %u queued %u\n", s.wall - start, s.clock, s.heard,
                        a->Device()->Outstanding(), a->BuffersQueued());
          return false;
        },
        90000);
    EXPECT_TRUE(ended) << "the clip did not play to its end";
    f.wallMs = GetTickCount() - start;
  }
  SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", nullptr);
  f.Compute();
  return f;
}

struct LogFrame {
  uint32_t t = 0, len = 0, n = 0, hash = 0;
};

std::vector<LogFrame> ReadFrames(const std::filesystem::path& log) {
  std::ifstream in(log);
  std::vector<LogFrame> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("frame ", 0) != 0) continue;
    LogFrame f;
    unsigned buffer = 0, status = 0;
    char head[32] = {};
    if (std::sscanf(line.c_str(), "frame buffer=%u status=%u t=%u len=%u n=%u head=%31s hash=%x", &buffer, &status,
                    &f.t, &f.len, &f.n, head, &f.hash) == 7)
      out.push_back(f);
    else
      ADD_FAILURE() << "unreadable frame line: " << line;
  }
  return out;
}

void CheckFramesEqualPackets(const std::filesystem::path& log, const std::string& packetList) {
  std::ifstream in(packetList);
  ASSERT_TRUE(in) << packetList;
  const std::vector<Packet> packets = ParseFrameCrc(in);
  ASSERT_GT(packets.size(), 100u);
  const std::vector<LogFrame> frames = ReadFrames(log);
  size_t next = 0;
  for (const LogFrame& f : frames) {
    ASSERT_LE(next + f.n, packets.size());
    EXPECT_EQ(int64_t(f.t), packets[next].pts - packets[0].pts) << "group at packet " << next;
    uint64_t bytes = 0;
    uint32_t hash = 1;
    for (uint32_t i = 0; i < f.n; ++i, ++next) {
      hash = Adler32Combine(hash, packets[next].adler, packets[next].size);
      bytes += packets[next].size;
    }
    EXPECT_EQ(f.len, 1 + f.n + bytes) << "group ending at packet " << next;
    EXPECT_EQ(f.hash, hash) << "group ending at packet " << next;
  }
  EXPECT_EQ(next, packets.size()) << "frames the decoder never received";
}

void PlayAndCheck(const std::string& name) {
  const std::filesystem::path dir = ClipDir();
  const std::filesystem::path clip = dir / (name + ".mp4");
  ASSERT_TRUE(std::filesystem::exists(clip)) << clip << " (made by tests/clips/make_clips.sh)";
  const std::filesystem::path log = dir / (name + ".decoder.log");
  std::error_code ec;
  std::filesystem::remove(log, ec);
  const Figures f = PlayToEnd(clip.string(), log);
  CheckFramesEqualPackets(log, (dir / (name + ".packets")).string());
  std::printf("%s: %.1f s of audio in %.1f s of play; %zu samples of the clock against the audio heard: "
              "offset %.1f ms (completion latency), %.1f %% within 50 ms of it, worst %.1f ms, drift %.1f ms; "
              "against the wall clock: drift %.1f ms, worst %.1f ms\n",
              name.c_str(), f.playedMs / 1000.0, f.wallMs / 1000.0, f.samples.size(), f.offset, 100.0 * f.within50, f.worst, f.drift,
              f.wallDrift, f.wallWorst);
  EXPECT_GT(f.samples.size(), 400u);
  EXPECT_GE(f.playedMs, 59500u);
  // The clock follows the audio heard: it never drifts from it, and it stays
  // within 50 ms of a constant offset (the time a completion takes to reach
  // the player). Between two completions it runs on its own, so while the
  // device stalls on a loaded machine it runs ahead until the next
  // completion; the share of samples within 50 ms is printed, and most of
  // them must be.
  EXPECT_GE(f.within50, 0.5);
  EXPECT_LE(std::fabs(f.drift), 50.0);
  EXPECT_LE(std::fabs(f.offset), 200.0);
}

}  // namespace

TEST(Playback, AacWithVideoPlaysToItsEnd) { PlayAndCheck("aac_clip"); }

TEST(Playback, AmrSpeechPlaysToItsEnd) { PlayAndCheck("amr_clip"); }
