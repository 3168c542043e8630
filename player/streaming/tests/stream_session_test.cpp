// The streaming session against GStreamer's RTSP server (the /av mount
// serves tests/data/src.m4v and src.amr) and the scripted server of
// tests/rtsp_peers.py: the whole cycle with the frames compared with their
// sources, Stop ending Start from another thread, and the selection, buffer
// and range rules.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "rtp_fixture.h"
#include "rtsp_peer_support.h"
#include "streaming/stream_session.h"

using namespace streaming;

namespace {

using Frame = std::vector<uint8_t>;
constexpr uint32_t kAmrBytes[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, 0, 0, 0, 0, 0, 0, 0};

// Speech frames as [header][speech] of the storage format, from a file.
std::vector<Frame> StoredAmrFrames(const std::string& file) {
  std::vector<Frame> frames;
  size_t at = 6;  // "#!AMR\n"
  while (at < file.size()) {
    const uint8_t head = uint8_t(file[at]);
    const size_t n = 1 + kAmrBytes[(head >> 3) & 15];
    if (at + n > file.size()) break;
    frames.emplace_back(file.begin() + long(at), file.begin() + long(at + n));
    at += n;
  }
  return frames;
}

// The same from what the session delivers: [count][entries][speech].
void AppendTocFrames(const uint8_t* data, uint32_t length, std::vector<Frame>& out) {
  if (length < 1) return;
  const uint32_t count = data[0];
  uint32_t speech = 1 + count;
  for (uint32_t i = 0; i < count && 1 + i < length; ++i) {
    const uint8_t entry = data[1 + i] & 0x7F;
    const uint32_t n = kAmrBytes[(entry >> 3) & 15];
    if (speech + n > length) return;
    Frame f{entry};
    f.insert(f.end(), data + speech, data + speech + n);
    out.push_back(f);
    speech += n;
  }
}

// A session whose Start runs in its own thread, as the stream source's
// session thread runs it.
struct Running {
  Running() {
    session.SetTimeoutsForTest(4000, 2000, 100);
    session.SetClientInfo("Orlomer test", "LAN", "176x144");
    thread = std::thread([this] { started = session.Start(); });
  }
  ~Running() {
    if (thread.joinable()) Stop();
  }
  // Stop from this thread; the time Start took to return.
  std::chrono::milliseconds Stop() {
    const auto t0 = std::chrono::steady_clock::now();
    session.Stop();
    thread.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0);
  }
  int32_t Describe(const std::string& url) {
    std::u16string wide(url.begin(), url.end());
    int32_t id = -1;
    const uint32_t rc = session.DescribeW(&id, wide.c_str());
    EXPECT_EQ(rc, 1u) << url;
    return rc == 1 ? id : -1;
  }
  streaming::StreamSession session;
  std::atomic<uint32_t> started{0xFFFFFFFF};
  std::thread thread;
};

}  // namespace

TEST(StreamSessionGstreamer, FullCycleDeliversTheSourceFrames) {
  const auto sourceVideo = fixture::Mpeg4Frames(fixture::ReadFile("src.m4v"));
  const auto sourceSpeech = StoredAmrFrames(fixture::ReadFile("src.amr"));
  ASSERT_GT(sourceVideo.size(), 5u);
  ASSERT_GT(sourceSpeech.size(), 5u);

  Running r;
  const int32_t id = r.Describe(peers::Url("gst", "av"));
  ASSERT_EQ(id, 0);
  EXPECT_EQ(r.session.OpenCount(), 1);
  ASSERT_EQ(r.session.GetMediaCount(id), 2);
  // GStreamer names its address per media only: the player may play it.
  EXPECT_STREQ(r.session.GetConnectionAddress(id), "");
  int32_t video = -1, audio = -1;
  for (int32_t m = 0; m < 2; ++m) {
    const std::string name = r.session.GetMediaCodecName(id, m);
    (name == "MP4V-ES" ? video : audio) = m;
  }
  ASSERT_GE(video, 0);
  ASSERT_EQ(std::string(r.session.GetMediaCodecName(id, audio)), "AMR");
  EXPECT_EQ(r.session.GetMediaClockRate(id, video), 90000u);
  EXPECT_EQ(r.session.GetMediaClockRate(id, audio), 8000u);
  // Not selected yet: no configuration, no track.
  const uint8_t* config = nullptr;
  uint32_t configSize = 0;
  EXPECT_EQ(r.session.GetMediaConfig(id, video, &config, &configSize), uint32_t(kSessionBadMedia));

  ASSERT_EQ(r.session.SelectMedia(id, video), 1u);
  ASSERT_EQ(r.session.SelectMedia(id, audio), 1u);
  EXPECT_EQ(r.session.TrackOf(id, video), 0);
  EXPECT_EQ(r.session.TrackOf(id, audio), 1);
  ASSERT_EQ(r.session.SetupMedia(id, video, 60000, 0, nullptr), 1u);
  ASSERT_EQ(r.session.SetupMedia(id, audio, 1000, 0, nullptr), 1u);
  // The decoder configuration comes from the description's config=.
  ASSERT_EQ(r.session.GetMediaConfig(id, video, &config, &configSize), 1u);
  ASSERT_GT(configSize, 4u);
  EXPECT_EQ(0, std::memcmp(config, "\x00\x00\x01", 3));
  uint32_t preroll = 0;
  ASSERT_EQ(r.session.SetBufferTime(id, &preroll), 1u);
  EXPECT_EQ(preroll, 7000u);  // GStreamer names none
  ASSERT_EQ(r.session.CreateTrackReceivers(id, 2 * preroll), 1u);
  ASSERT_EQ(r.session.Play(id, 0, 0x7FFFFFFF, 0, nullptr), 1u);

  std::vector<Frame> gotVideo, gotSpeech;
  std::vector<uint8_t> buffer(60000);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while ((gotVideo.size() < sourceVideo.size() || gotSpeech.size() < sourceSpeech.size()) &&
         std::chrono::steady_clock::now() < deadline) {
    bool any = false;
    for (int32_t m : {video, audio}) {
      uint32_t length = uint32_t(buffer.size()), time = 0;
      const uint32_t rc = r.session.GetNextFrame(id, m, buffer.data(), &length, &time);
      if (rc == 1 || rc == 11) {
        any = true;
        if (m == video) gotVideo.emplace_back(buffer.begin(), buffer.begin() + length);
        else AppendTocFrames(buffer.data(), length, gotSpeech);
      } else {
        EXPECT_TRUE(rc == 12 || rc == 22) << "media " << m << " result " << rc;
      }
    }
    if (!any) platform::sleepMs(5);
  }
  EXPECT_GT(r.session.GetPacketsReceived(id, video), 0u);
  ASSERT_EQ(gotVideo.size(), sourceVideo.size());
  for (size_t i = 0; i < gotVideo.size(); ++i) EXPECT_TRUE(gotVideo[i] == sourceVideo[i]) << "picture " << i;
  ASSERT_EQ(gotSpeech.size(), sourceSpeech.size());
  for (size_t i = 0; i < gotSpeech.size(); ++i) EXPECT_TRUE(gotSpeech[i] == sourceSpeech[i]) << "speech frame " << i;
  // The mount's range is open ("npt=0-"): the server's RTCP BYE ends each
  // media once its frames are read.
  for (int32_t m : {video, audio}) {
    uint32_t rc = 12;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (rc == 12 && std::chrono::steady_clock::now() < until) {
      uint32_t length = uint32_t(buffer.size()), time = 0;
      rc = r.session.GetNextFrame(id, m, buffer.data(), &length, &time);
      if (rc == 12) platform::sleepMs(20);
    }
    EXPECT_EQ(rc, 22u) << "media " << m;
  }
  EXPECT_EQ(r.session.Pause(id), 1u);
  EXPECT_EQ(r.session.Resume(id), 1u);

  EXPECT_EQ(r.session.CloseTrackReceivers(id), 1u);
  EXPECT_EQ(r.session.Teardown(id), 1u);
  EXPECT_EQ(r.session.OpenCount(), 0);
  // Teardown of what is gone lowers nothing below 0.
  r.session.Teardown(id);
  EXPECT_EQ(r.session.OpenCount(), 0);
  EXPECT_LT(r.Stop().count(), 2000);
  EXPECT_EQ(r.started, 1u);
}

TEST(StreamSessionStop, EndsStartInBoundedTimeAndTheSessionStartsAgain) {
  streaming::StreamSession session;
  // A Stop before Start is kept: that Start returns at once.
  session.Stop();
  EXPECT_EQ(session.Start(), 1u);
  for (int round = 0; round < 3; ++round) {
    std::atomic<uint32_t> result{0xFFFFFFFF};
    std::thread t([&] { result = session.Start(); });
    if (round > 0) platform::sleepMs(50);  // round 0 stops as Start begins
    const auto t0 = std::chrono::steady_clock::now();
    session.Stop();
    t.join();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2)) << round;
    EXPECT_EQ(result, 1u) << round;
  }
}

TEST(StreamSessionScripted, SelectionLimitsAndReceivers) {
  Running r;
  const int32_t id = r.Describe(peers::Url("scripted", "many"));
  ASSERT_GE(id, 0);
  EXPECT_EQ(std::string(r.session.GetTitle(id)), "many");
  EXPECT_EQ(std::string(r.session.GetDescription(id)), "Eleven media");
  EXPECT_EQ(std::string(r.session.GetAuthor(id)), "The author");
  EXPECT_EQ(std::string(r.session.GetCopyright(id)), "The holder");
  EXPECT_EQ(r.session.GetMediaCount(id), 11);
  // Selection keeps the first eight media, and four tracks.
  EXPECT_EQ(r.session.SelectMedia(id, 9), uint32_t(kSessionBadMedia));
  EXPECT_EQ(r.session.GetMediaCount(id), 8);
  for (int32_t m = 1; m <= 4; ++m) EXPECT_EQ(r.session.SelectMedia(id, m), 1u) << m;
  EXPECT_EQ(r.session.SelectMedia(id, 5), uint32_t(kSessionBadTrack));
  EXPECT_EQ(r.session.TrackOf(id, 5), -1);
  EXPECT_EQ(r.session.SetupMedia(id, 5, 1000, 0, nullptr), uint32_t(kSessionBadMedia));
  for (int32_t m = 1; m <= 4; ++m) EXPECT_EQ(r.session.SetupMedia(id, m, 1000, 0, nullptr), 1u) << m;
  // Range checks come first.
  struct Case {
    int32_t presentation, media;
    uint32_t next;
  } cases[] = {{2, 1, kSessionBadPresentation}, {-1, 1, kSessionBadPresentation}, {id, 6, kSessionBadTrack},
               {id, 8, kSessionBadTrack}, {id, -1, kSessionBadTrack}};
  for (const Case& c : cases) {
    uint8_t b[8];
    uint32_t length = sizeof b, time = 0;
    EXPECT_EQ(r.session.GetNextFrame(c.presentation, c.media, b, &length, &time), c.next)
        << c.presentation << "/" << c.media;
    EXPECT_EQ(r.session.GetBufferedDuration(c.presentation, c.media), 0u);
  }
  // A buffer beyond the cap is refused; the media the client cannot
  // receive ends the receivers with 9.
  uint32_t preroll = 0;
  r.session.SetBufferTime(id, &preroll);
  EXPECT_EQ(r.session.CreateTrackReceivers(id, 0xFFFFFFFFu), uint32_t(kSessionNoMemory));
  EXPECT_EQ(r.session.CreateTrackReceivers(id, 2 * preroll), 1u);
  EXPECT_EQ(r.session.SelectMedia(id, 0), uint32_t(kSessionBadTrack));
  EXPECT_EQ(r.session.Teardown(id), 1u);
  const int32_t again = r.Describe(peers::Url("scripted", "many"));
  ASSERT_EQ(r.session.SelectMedia(again, 0), 1u);
  ASSERT_EQ(r.session.SetupMedia(again, 0, 1000, 0, nullptr), 1u);
  EXPECT_EQ(r.session.CreateTrackReceivers(again, 14000), uint32_t(kSessionUnsupportedCodec));
  EXPECT_EQ(r.session.Teardown(again), 1u);
}

TEST(StreamSessionScripted, StillImageTakesNoTrack) {
  Running r;
  const int32_t id = r.Describe(peers::Url("scripted", "still"));
  ASSERT_GE(id, 0);
  ASSERT_EQ(r.session.SelectMedia(id, 0), 1u);
  EXPECT_EQ(r.session.TrackOf(id, 0), -1);
  ASSERT_EQ(r.session.SetupMedia(id, 0, 0, 0, nullptr), 1u);
  EXPECT_EQ(r.session.GetBufferedDuration(id, 0), 32767u);
  uint32_t time = 1, word = 1;
  EXPECT_EQ(r.session.PeekNextFrame(id, 0, &time, &word), 1u);
  EXPECT_EQ(time, 0u);
  std::vector<uint8_t> image(4096);
  uint32_t length = uint32_t(image.size());
  EXPECT_EQ(r.session.GetNextFrame(id, 0, image.data(), &length, &time), 1u);
  ASSERT_EQ(length, 768u);
  for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(image[i], uint8_t(i & 255)) << i;
  EXPECT_EQ(r.session.Teardown(id), 1u);
}

TEST(StreamSessionBuffer, PacketBufferSizes) {
  struct Case {
    uint32_t bufferMs;
    uint64_t bandwidth;
    uint64_t bytes;
  } cases[] = {
      {14000, 64000, 14 * 8000 + 4096},
      {14000, 128000, 16000 * 14 + 4096},
      {999, 1000000, 4096},  // whole seconds only
      {14000, 0, 250000 * 14 + 4096},  // no b=AS: room for 2 Mbit/s
      {0xFFFFFFFFu, 4000000000ull, 500000000ull * 4294967ull + 4096},  // no 32-bit wrap
  };
  for (const Case& c : cases) EXPECT_EQ(PacketBufferBytes(c.bufferMs, c.bandwidth), c.bytes) << c.bufferMs;
}
