// The stream source over a scripted streaming session and a host whose
// clock moves only when the source sleeps: the preroll rules, the
// re-buffering time-out, the pacing, the track table and the clip texts.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/player_ids.h"
#include "stream_source.h"

namespace {

struct Media {
  std::string name;
  int32_t bandwidth = 0;
  uint32_t clockRate = 8000;
};

struct QueuedFrame {
  uint32_t timestamp;
  std::vector<uint8_t> bytes;
};

// Answers as the test sets; Start runs until Stop, as the real one does.
class ScriptedSession : public StreamSession {
 public:
  uint32_t Start() override {
    std::unique_lock<std::mutex> hold(lock);
    changed.wait(hold, [&] { return stopped; });
    stopped = false;
    return 1;
  }
  uint32_t Stop() override {
    std::lock_guard<std::mutex> hold(lock);
    stopped = true;
    ++stops;
    changed.notify_all();
    return 1;
  }
  uint32_t SetClientInfo(const char*, const char*, const char*) override { return 1; }
  uint32_t SetAccessInfo(const char*, const char*, const char*, const char*, const char*, const char*) override {
    return 1;
  }
  uint32_t DescribeW(int32_t* p, const char16_t*) override {
    *p = 0;
    return 1;
  }
  void GetSdpText(int32_t, uint32_t* length, const char** text) override {
    *length = 0;
    *text = "";
  }
  int32_t GetMediaCount(int32_t) override { return int32_t(media.size()); }
  const char* GetMediaCodecName(int32_t, int32_t m) override { return media.at(size_t(m)).name.c_str(); }
  int32_t GetMediaBandwidth(int32_t, int32_t m) override { return media.at(size_t(m)).bandwidth; }
  uint32_t GetMediaClockRate(int32_t, int32_t m) override { return media.at(size_t(m)).clockRate; }
  int32_t GetMediaDependsOn(int32_t, int32_t) override { return -1; }
  double GetMediaFrameRate(int32_t, int32_t) override { return 15.0; }
  uint32_t GetMediaConfig(int32_t, int32_t, const uint8_t**, uint32_t*) override { return 1; }
  int32_t GetRangeEnd(int32_t) override { return rangeEnd; }
  const char* GetTitle(int32_t) override { return "Session name"; }
  const char* GetDescription(int32_t) override { return "Session information"; }
  const char* GetAuthor(int32_t) override { return "The author"; }
  const char* GetCopyright(int32_t) override { return "The holder"; }
  const char* GetCopyrightNotice(int32_t) override { return "The holder"; }
  const char* GetRating(int32_t) override { return "Not Rated"; }
  uint32_t SelectMedia(int32_t, int32_t) override { return 1; }
  uint32_t SetupMedia(int32_t, int32_t m, uint32_t value, uint32_t, void*) override {
    receiverValues[m] = value;
    return 1;
  }
  uint32_t SetBufferTime(int32_t, uint32_t* ms) override {
    if (*ms == 0) *ms = presentationPreroll;
    return 1;
  }
  uint32_t CreateTrackReceivers(int32_t, uint32_t bufferMs) override {
    receiverBufferMs = bufferMs;
    return 1;
  }
  uint32_t CloseTrackReceivers(int32_t) override { return 1; }
  uint32_t Play(int32_t, uint32_t, uint32_t endMs, uint32_t, void*) override {
    playEnd = endMs;
    return 1;
  }
  uint32_t Pause(int32_t) override { return 1; }
  uint32_t Resume(int32_t) override { return 1; }
  uint32_t PauseIfPlaying(int32_t) override { return 1; }
  uint32_t Teardown(int32_t) override { return 1; }
  uint32_t GetBufferedDuration(int32_t, int32_t) override { return buffered; }
  uint32_t GetLossPercent(int32_t, int32_t) override { return loss; }
  uint32_t GetPacketsReceived(int32_t, int32_t) override { return 0; }
  uint32_t PeekNextFrame(int32_t, int32_t, uint32_t* timestamp, uint32_t* size) override {
    std::lock_guard<std::mutex> hold(lock);
    ++peeks;
    if (frames.empty()) return 12;
    *timestamp = frames.front().timestamp;
    *size = 0;
    return 23;
  }
  uint32_t GetNextFrame(int32_t, int32_t, uint8_t* buffer, uint32_t* length, uint32_t* timestamp) override {
    std::lock_guard<std::mutex> hold(lock);
    if (frames.empty()) return endResult;
    const QueuedFrame f = frames.front();
    frames.pop_front();
    std::memcpy(buffer, f.bytes.data(), f.bytes.size());
    *length = uint32_t(f.bytes.size());
    *timestamp = f.timestamp;
    return 1;
  }
  void GetLastStatus(int32_t, uint32_t* status, const char** reason) override {
    *status = 200;
    *reason = "OK";
  }
  const char* GetConnectionAddress(int32_t) override { return ""; }
  void GetContentVersion(int32_t, uint8_t* major, uint8_t* minor) override {
    *major = 0;
    *minor = 0;
  }
  uint32_t GetH263Params(int32_t, int32_t, uint32_t*, uint32_t*) override { return 0; }
  uint32_t ResetPresentation(int32_t) override { return 1; }

  std::mutex lock;
  std::condition_variable changed;
  bool stopped = false;
  int stops = 0;
  std::vector<Media> media;
  int32_t rangeEnd = 60000;
  uint32_t presentationPreroll = 7000;
  uint32_t receiverBufferMs = 0;
  uint32_t playEnd = 0;
  uint32_t buffered = 0;
  uint32_t loss = 0;
  uint32_t endResult = 12;
  int peeks = 0;
  std::map<int32_t, uint32_t> receiverValues;
  std::deque<QueuedFrame> frames;
};

// The clock moves only in Sleep.
class TickHost : public StreamHost {
 public:
  uint32_t GetEngineState() override { return state; }
  void ReportError(uint32_t id, const char16_t*) override {
    std::lock_guard<std::mutex> hold(lock);
    errors.push_back(id);
  }
  void SetStatusText(uint32_t id) override {
    std::lock_guard<std::mutex> hold(lock);
    statusTexts.push_back(id);
  }
  void SetPosition(uint32_t ms) override { now = ms; }
  uint32_t GetPosition() override { return now; }
  void OpenResult(uint32_t code) override {
    std::lock_guard<std::mutex> hold(lock);
    openResults.push_back(code);
    changed.notify_all();
  }
  void Log(const char16_t*) override {}
  void LoadText(uint32_t, char16_t* buffer, uint32_t) override { buffer[0] = 0; }
  uint32_t GetSettingsVersion() override { return 0x300; }
  bool ReadSettingDword(uint32_t id, uint32_t* v) override {
    if (id != ids::kSetMaximumBufferedData || !haveSetting) return false;
    *v = setting;
    return true;
  }
  void SetPlayerState(uint32_t, bool) override {}
  uint32_t Notify(uint32_t part) override {
    notified.push_back(part);
    return 0;
  }
  bool ConnectionUp() override { return true; }
  void SetBufferLevel(uint32_t percent) override { levels.push_back(percent); }
  bool FreeStorage(uint64_t* bytes) override {
    *bytes = freeBytes;
    return true;
  }
  void Sleep(uint32_t ms) override {
    now += ms;
    slept += ms;
    if (onSleep) onSleep();
  }
  std::string UserAgent() override { return "Orlomer"; }
  std::string UserNetwork() override { return "LAN"; }
  std::string DeviceInfo() override { return "test"; }
  StreamSession* NewSession() override { return session; }

  bool WaitOpened() {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::seconds(10), [&] { return !openResults.empty(); });
  }

  std::mutex lock;
  std::condition_variable changed;
  ScriptedSession* session = new ScriptedSession;
  volatile uint32_t state = kStateOpened;
  uint32_t now = 0;
  uint32_t slept = 0;
  bool haveSetting = false;
  uint32_t setting = 0;
  uint64_t freeBytes = 1ull << 40;
  std::function<void()> onSleep;
  std::vector<uint32_t> errors, statusTexts, openResults, notified, levels;
};

// A source described and opened over the scripted session.
struct Opened {
  explicit Opened(std::vector<Media> media, void (*tune)(TickHost&) = nullptr) {
    host.session->media = std::move(media);
    if (tune) tune(host);
    source = std::make_unique<StreamSource>(nullptr, &host);
    EXPECT_EQ(source->Open(u"rtsp://127.0.0.1/clip", nullptr), 0u);
    EXPECT_TRUE(host.WaitOpened());
    EXPECT_EQ(host.openResults.at(0), 0u);
  }
  // Tracks chosen and the play range set, as the engine does before it plays.
  void Play(std::initializer_list<uint32_t> ids) {
    int32_t count = 0;
    source->GetTrackList(&count);
    for (uint32_t id : ids) ASSERT_EQ(source->SelectTrack(id), 0u) << id;
    ASSERT_EQ(source->SetPlayRange(0, kPlayToEnd), 0u);
    host.state = kStatePlaying;
  }
  ~Opened() {
    host.state = kStateStopped;
    source.reset();
  }
  TickHost host;
  std::unique_ptr<StreamSource> source;
};

std::u16string Text(const char16_t* t) { return t; }

}  // namespace

TEST(StreamSourceTracks, TableFlagsAndTexts) {
  std::vector<Media> media = {{"AAC", 64000}, {"AMR", 12200}, {"MP4V-ES", 128000, 90000}};
  for (int i = 0; i < 8; ++i) media.push_back({"AMR", 12200});  // eleven in all
  Opened o(media);
  int32_t count = 0;
  TrackEntry* rows = o.source->GetTrackList(&count);
  ASSERT_EQ(count, 10);  // the table's rows, never more
  EXPECT_EQ(rows[0].flags, 0u) << "AAC is not played from a stream";
  EXPECT_EQ(rows[1].flags, 12200u | kTrackPlayableVersion);
  EXPECT_EQ(rows[2].bitrate, 128000u);
  EXPECT_EQ(Text(rows[2].codecName), u"MP4V-ES");

  ASSERT_EQ(o.source->SelectTrack(1), 0u);
  ASSERT_EQ(o.source->SelectTrack(2), 0u);
  EXPECT_EQ(o.host.session->receiverValues[1], 1000u);
  EXPECT_EQ(o.host.session->receiverValues[2], 60000u);
  EXPECT_EQ(o.source->GetContentFlags(), uint32_t(kContentAudio | kContentVideo));
  ASSERT_EQ(o.source->SetPlayRange(0, kPlayToEnd), 0u);
  EXPECT_EQ(Text(o.source->GetClipText(MediaSource::kTitle)), u"Session name");
  EXPECT_EQ(Text(o.source->GetClipText(MediaSource::kDescription)), u"Session information");
  EXPECT_EQ(Text(o.source->GetClipText(MediaSource::kAuthor)), u"The author");
  EXPECT_EQ(Text(o.source->GetClipText(MediaSource::kCopyright)), u"The holder");
  EXPECT_EQ(Text(o.source->GetClipText(MediaSource::kRating)), u"Not Rated");
}

TEST(StreamSourcePreroll, SettingPresentationAndFreeStorage) {
  struct Case {
    bool haveSetting;
    uint32_t setting;
    uint64_t freeBytes;
    uint32_t result;
    uint32_t preroll;  // when played
    uint32_t error;
  } cases[] = {
      {false, 0, 1ull << 40, 0, 7000, 0},  // none: the presentation's value
      {true, 0, 1ull << 40, 0, 7000, 0},   // 0 as well
      {true, 3000, 1ull << 40, 0, 3000, 0},
      // 80 kbit/s is 10 bytes a ms: 20000 free bytes hold 2000 ms.
      {true, 3000, 20000, 0, 2000, 0},
      {true, 3000, 5000, 14, 0, ids::kMsgNoMemoryToPlay},  // 500 ms is too little
      {true, 3000, 0, 0, 1000, 0},                         // nothing computed becomes 1000
  };
  for (const Case& c : cases) {
    static const Case* current;
    current = &c;
    Opened o({{"AMR", 80000}}, [](TickHost& h) {
      h.haveSetting = current->haveSetting;
      h.setting = current->setting;
      h.freeBytes = current->freeBytes;
    });
    int32_t count = 0;
    o.source->GetTrackList(&count);
    ASSERT_EQ(o.source->SelectTrack(0), 0u);
    EXPECT_EQ(o.source->SetPlayRange(0, kPlayToEnd), c.result) << c.setting << "/" << c.freeBytes;
    if (c.result == 0) {
      EXPECT_EQ(o.source->GetMaxBufferedData(), c.preroll);
      EXPECT_EQ(o.host.session->receiverBufferMs, 2 * c.preroll);
      EXPECT_EQ(o.host.session->playEnd, 60000u);
      EXPECT_TRUE(o.host.errors.empty());
    } else {
      EXPECT_EQ(o.host.errors, std::vector<uint32_t>{c.error});
    }
  }
}

TEST(StreamSourceBuffering, ThirtySecondsWithoutDataEndTheStream) {
  Opened o({{"AMR", 12200}});
  o.Play({0});
  uint8_t buffer[1000];
  uint32_t ts = 0, length = 0;
  EXPECT_EQ(o.source->GetAudioFrame(buffer, sizeof buffer, 0, &ts, &length), uint32_t(kFrameEndOfMedia));
  EXPECT_EQ(o.host.slept, StreamSource::kRebufferLimitMs);
  EXPECT_EQ(o.host.errors, std::vector<uint32_t>{50412});
  EXPECT_GE(o.host.session->stops, 1);
  EXPECT_TRUE(o.source->Ended());
}

TEST(StreamSourceBuffering, PercentHeldAt99UntilFullWithLittleLoss) {
  Opened o({{"AMR", 12200}}, [](TickHost& h) {
    h.haveSetting = true;
    h.setting = 2000;
  });
  o.Play({0});
  // The first frames: the preroll fills, then the clock starts at the first.
  ScriptedSession& s = *o.host.session;
  s.frames = {{0, {1, 2, 3}}, {160, {4, 5}}};
  s.buffered = 3000;
  uint8_t buffer[1000];
  uint32_t ts = 0, length = 0;
  EXPECT_EQ(o.source->GetAudioFrame(buffer, sizeof buffer, 0, &ts, &length), uint32_t(kFrameClockStarted));
  EXPECT_EQ(length, 3u);
  // The queue runs dry: buffering again, with the loss too high at first.
  s.buffered = 0;
  s.loss = 40;
  int sleeps = 0;
  o.host.onSleep = [&] {
    ++sleeps;
    if (sleeps == 3) s.buffered = 2500;
    if (sleeps == 5) s.loss = 0;
  };
  EXPECT_EQ(o.source->GetAudioFrame(buffer, sizeof buffer, 0, &ts, &length), uint32_t(kFrameClockStarted));
  EXPECT_EQ(o.host.levels, (std::vector<uint32_t>{0, 0, 0, 99, 99, 100}));
  EXPECT_EQ(o.host.statusTexts.back(), ids::kStatusPlaying);
}

TEST(StreamSourcePacing, FramesDueWithinTheWindowWaitInSteps) {
  struct Case {
    uint32_t dueMs;  // after the clock
    uint32_t expectSleep;
  } cases[] = {{300, 300}, {20, 50}, {800, 0}, {0, 0}};
  for (const Case& c : cases) {
    Opened o({{"MP4V-ES", 128000, 90000}});
    o.Play({0});
    ScriptedSession& s = *o.host.session;
    s.buffered = 10000;
    s.frames = {{90, {1}}};  // the first picture starts the clock at 1 ms
    std::vector<uint8_t> buffer(60000);
    uint32_t ts = 0, length = 0;
    ASSERT_EQ(o.source->GetVideoFrame(buffer.data(), 60000, 0, &ts, &length), uint32_t(kFrameDelivered));
    ASSERT_EQ(o.host.now, 1u);
    s.frames = {{90 + c.dueMs * 90, {2}}};
    o.host.slept = 0;
    EXPECT_EQ(o.source->GetVideoFrame(buffer.data(), 60000, 0, &ts, &length), uint32_t(kFrameDelivered));
    EXPECT_EQ(o.host.slept, c.expectSleep) << c.dueMs;
    EXPECT_EQ(ts, 1 + c.dueMs);
  }
}

// Audio drives the clock: its frames are handed out as the decoder asks,
// ahead of the clock by the device's queue, never held back to it.
TEST(StreamSourcePacing, AudioIsNotHeldToTheClock) {
  Opened o({{"AMR", 12200}});
  o.Play({0});
  ScriptedSession& s = *o.host.session;
  s.buffered = 10000;
  s.frames = {{0, {1}}, {1600, {2}}, {3200, {3}}};  // 0, 200 and 400 ms
  uint8_t buffer[1000];
  uint32_t ts = 0, length = 0;
  ASSERT_EQ(o.source->GetAudioFrame(buffer, sizeof buffer, 0, &ts, &length), uint32_t(kFrameClockStarted));
  o.host.slept = 0;
  for (uint32_t due : {1600u, 3200u}) {
    EXPECT_EQ(o.source->GetAudioFrame(buffer, sizeof buffer, 0, &ts, &length), uint32_t(kFrameDelivered));
    EXPECT_EQ(ts, due);
  }
  EXPECT_EQ(o.host.slept, 0u);
}
