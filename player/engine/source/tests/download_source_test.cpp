// The download source over a scripted HTTP client and a recording host: the
// early-start rule, audio only waiting for completion, a time-out keeping
// both files with Resume and Clear enabled, failures clearing them, the free
// storage sent, access texts bounded, and the result-to-message tables.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "download_source.h"
#include "engine/player_ids.h"
#include "source_test_support.h"
#include "streaming/client_services.h"

using namespace source_test;

namespace {

// Answers as the test sets; DownloadMedia writes the clip as the data file
// and then waits for the test's result (or an abort).
class ScriptedClient : public HttpDownload {
 public:
  int32_t FetchDescription(const streaming::DownloadRequest& r) override {
    request = r;
    return describeResult;
  }
  int32_t DownloadMedia(const streaming::TrackRequest& t) override {
    tracks = t;
    if (!clip.empty()) {
      std::error_code ec;
      std::filesystem::remove(dataFile, ec);
      std::filesystem::copy_file(clip, dataFile);
    }
    std::unique_lock<std::mutex> hold(lock);
    mediaStarted = true;
    changed.notify_all();
    changed.wait(hold, [&] { return mediaResult >= 0 || aborted; });
    return aborted ? 25 : mediaResult;
  }
  void Finish(int32_t result) {
    std::lock_guard<std::mutex> hold(lock);
    mediaResult = result;
    changed.notify_all();
  }
  bool WaitStarted() {
    std::unique_lock<std::mutex> hold(lock);
    return changed.wait_for(hold, std::chrono::seconds(10), [&] { return mediaStarted; });
  }
  int32_t Abort() override {
    std::lock_guard<std::mutex> hold(lock);
    aborted = true;
    changed.notify_all();
    return 0;
  }
  void Shutdown() override { Abort(); }
  void CloseAll() override { ++closed; }
  int32_t GetClipInfo(streaming::DownloadClipInfo* out) override {
    *out = info;
    return 0;
  }
  int32_t GetPlaybackTime(int32_t* out) override {
    *out = playbackTime;
    return 0;
  }
  int32_t GetDownloadRate(float* out) override {
    *out = rate;
    return 0;
  }
  int32_t GetContentLength(int32_t* out) override {
    *out = 400000;
    return 0;
  }
  int32_t GetRemainingBytes(int32_t* out) override {
    *out = remaining;
    return 0;
  }
  int32_t GetStateFlags(uint32_t* out) override {
    *out = 0;
    return 0;
  }
  int32_t GetStoredValue(uint32_t* out) override {
    *out = storedValue;
    return 0;
  }
  int32_t GetServerMessage(const char** out) override {
    *out = serverMessage.empty() ? nullptr : serverMessage.c_str();
    return 0;
  }

  int32_t describeResult = 0;
  streaming::DownloadClipInfo info{};
  streaming::DownloadRequest request{};
  streaming::TrackRequest tracks{};
  std::filesystem::path clip, dataFile;
  std::mutex lock;
  std::condition_variable changed;
  bool mediaStarted = false, aborted = false;
  int32_t mediaResult = -1;
  std::atomic<int> closed{0};
  // Set by the test while the source's threads read them.
  std::atomic<int32_t> playbackTime{0}, remaining{0};
  std::atomic<float> rate{0};
  std::atomic<uint32_t> storedValue{0};
  std::string serverMessage;  // set before the result that reads it
};

class Host : public DownloadHost {
 public:
  uint32_t GetEngineState() override { return engineState; }
  void ReportError(uint32_t id, const char16_t* argument) override {
    std::lock_guard<std::mutex> hold(lock);
    errors.push_back({id, argument ? argument : u""});
  }
  void SetStatusText(uint32_t id) override {
    std::lock_guard<std::mutex> hold(lock);
    statusTexts.push_back(id);
  }
  void SetPosition(uint32_t) override {}
  uint32_t GetPosition() override { return 0; }
  void OpenResult(uint32_t code) override {
    std::lock_guard<std::mutex> hold(lock);
    openResults.push_back(code);
  }
  void Log(const char16_t*) override {}
  void LoadText(uint32_t id, char16_t* buffer, uint32_t units) override {
    const std::u16string text = id == ids::kStrVersion ? u"3.0" : u"Untitled";
    std::u16string(text).copy(buffer, units - 1);
    buffer[std::min<size_t>(text.size(), units - 1)] = 0;
  }
  uint32_t GetSettingsVersion() override { return 0x300; }
  bool ReadSettingDword(uint32_t id, uint32_t* v) override {
    std::lock_guard<std::mutex> hold(lock);
    auto it = dwords.find(id);
    if (it == dwords.end()) return false;
    *v = it->second;
    return true;
  }
  bool ReadSettingString(uint32_t id, char16_t* buffer) override {
    std::lock_guard<std::mutex> hold(lock);
    auto it = strings.find(id);
    if (it == strings.end()) return false;
    it->second.copy(buffer, 255);
    buffer[std::min<size_t>(it->second.size(), 255)] = 0;
    return true;
  }
  void WriteSettingDword(uint32_t id, uint32_t v) override {
    std::lock_guard<std::mutex> hold(lock);
    dwords[id] = v;
  }
  void WriteSettingString(uint32_t id, const char16_t* t) override {
    std::lock_guard<std::mutex> hold(lock);
    strings[id] = t;
  }
  void EnableCommand(uint32_t id, uint32_t on) override {
    std::lock_guard<std::mutex> hold(lock);
    commands[id] = on;
  }
  void SetPlayerState(uint32_t state, bool) override {
    std::lock_guard<std::mutex> hold(lock);
    playerStates.push_back(state);
  }
  uint32_t Notify(uint32_t part) override {
    notices += part == 4;
    return 0;
  }
  uint32_t SelectCodec(const char16_t* codec, uint32_t, uint32_t, uint32_t) override {
    std::lock_guard<std::mutex> hold(lock);
    codecs.push_back(codec);
    return 0;
  }
  uint32_t Play(int32_t) override {
    ++plays;
    return 0;
  }
  void SetText(const char16_t*) override {}
  void DownloadFinished() override { ++finished; }
  void GetEntryInfo(uint32_t* ready, uint32_t* flags) override {
    *ready = playWhenReady;
    *flags = 2;
  }
  std::string UserAgent() override { return "WMF/1.1,Orlomer 3.0,ENGL"; }
  std::string UserNetwork() override { return "UNKNOWN"; }
  std::string DeviceInfo() override { return "OS=WINNT"; }
  bool FreeStorage(const char16_t*, uint64_t* bytes) override {
    *bytes = freeBytes;
    return freeKnown;
  }
  HttpDownload* NewHttpDownload() override {
    client = new ScriptedClient;
    client->describeResult = describeResult;
    client->clip = clip;
    client->dataFile = dataFile;
    client->info = info;
    return client;
  }

  // The download thread reports open results while the test waits for them.
  size_t OpenCount() {
    std::lock_guard<std::mutex> hold(lock);
    return openResults.size();
  }
  uint32_t FirstOpenResult() {
    std::lock_guard<std::mutex> hold(lock);
    return openResults.empty() ? ~0u : openResults[0];
  }
  void ClearOpenResults() {
    std::lock_guard<std::mutex> hold(lock);
    openResults.clear();
  }

  std::mutex lock;
  std::atomic<uint32_t> engineState{1};
  std::vector<std::pair<uint32_t, std::u16string>> errors;
  std::vector<uint32_t> statusTexts, openResults, playerStates;
  std::map<uint32_t, uint32_t> dwords, commands;
  std::map<uint32_t, std::u16string> strings;
  std::vector<std::u16string> codecs;
  std::atomic<int> notices{0}, plays{0}, finished{0};
  uint32_t playWhenReady = 0;
  int32_t describeResult = 0;
  uint64_t freeBytes = 1000000;
  bool freeKnown = true;
  ScriptedClient* client = nullptr;  // owned by the source
  std::filesystem::path clip, dataFile;
  streaming::DownloadClipInfo info{};
};

void AddMedia(streaming::DownloadClipInfo& info, const char* codec, uint32_t track, uint32_t bandwidth) {
  auto& m = info.media[info.mediaCount++];
  std::strcpy(m.encodingName, codec);
  m.trackNumber = track;
  m.bandwidth = bandwidth;
}

template <typename F>
bool WaitFor(F done) {
  for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

class DownloadSourceTest : public ::testing::Test {
 protected:
  std::filesystem::path dir = ScratchDir();
  Host host;
  std::unique_ptr<DownloadSource> source;

  void SetUp() override {
    host.strings[ids::kSetFilePath] = (dir / "").u16string();
    host.clip = dir / "clip.mp4";
    host.dataFile = dir / "krdl.tmp";
    WriteClip(host.clip, FileSpec({{TrackSpec::kAac, 200, 64}, {TrackSpec::kVideo, 200, 64}}));
    host.info.rangeEndMs = 20000;
    std::strcpy(host.info.sessionName, "Title");
    std::strcpy(host.info.creationDate, "20261210T120000");
  }
  void TearDown() override {
    source.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  // Opens, takes the description, selects the listed tracks, starts the
  // media request and waits until the client is inside it.
  void StartDownload(std::vector<uint32_t> select, uint32_t end = kPlayToEnd) {
    source = std::make_unique<DownloadSource>(nullptr, &host);
    ASSERT_EQ(source->Open(u"http://127.0.0.1:9300/clip.mp4", nullptr), 0u);
    ASSERT_TRUE(WaitFor([&] { return host.OpenCount() > 0; }));
    EXPECT_EQ(host.FirstOpenResult(), 0u);
    int32_t count = 0;
    source->GetTrackList(&count);
    for (uint32_t id : select) source->SelectTrack(id);
    ASSERT_EQ(source->SetPlayRange(0, end), 0u);
    ASSERT_TRUE(host.client->WaitStarted());
    ASSERT_TRUE(WaitFor([&] { return source->DownloadState() == DownloadSource::kDownloading; }));
  }
};

}  // namespace

TEST(DownloadMessages, ResultsToMessages) {
  // Where the two pieces differ, 9 is a missing file, 10 a refusal, 22 a
  // local file failure.
  const struct {
    int32_t result;
    uint32_t describe, media;
  } cases[] = {
      {1, 50451, 50451},  {2, 50053, 51202},  {3, 50053, 51202},  {4, 50053, 51202}, {5, 50053, 51202},
      {6, 50451, 50451},  {7, 50451, 50451},  {8, 50451, 50451},  {9, 50404, 50404}, {10, 50451, 50451},
      {11, 50451, 50451}, {12, 50451, 50451}, {13, 50415, 50415}, {14, 50451, 50451}, {15, 50451, 50451},
      {16, 50451, 50451}, {17, 50451, 50451}, {18, 50451, 50451}, {19, 50053, 0},     {20, 50451, 50451},
      {21, 50053, 51202}, {22, 50072, 50072}, {23, 50408, 50408}, {24, 50250, 50250}, {25, 50053, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DownloadDescriptionMessage(c.result), c.describe) << c.result;
    EXPECT_EQ(DownloadMediaMessage(c.result), c.media) << c.result;
  }
}

TEST_F(DownloadSourceTest, RequestCarriesStorageVersionAndBoundedAccessTexts) {
  const struct {
    uint64_t free;
    bool known;
    uint32_t sent;
  } cases[] = {{1000, true, 1000}, {0x80000000ull, true, 0}, {5000000000ull, true, 0x7FFFFFFF},
               {1, false, 0x7FFFFFFF}};
  for (const auto& c : cases) {
    host.freeBytes = c.free;
    host.freeKnown = c.known;
    host.ClearOpenResults();
    ClipAccessInfo access{};
    std::memset(access.user, 'u', sizeof access.user);  // not terminated inside its field
    std::strcpy(access.signature, "sig");
    auto s = std::make_unique<DownloadSource>(nullptr, &host);
    ASSERT_EQ(s->Open(u"http://127.0.0.1:9300/clip.mp4", &access), 0u);
    ASSERT_TRUE(WaitFor([&] { return host.OpenCount() > 0; }));
    const auto& r = host.client->request;
    EXPECT_EQ(r.storageSize, c.sent) << c.free;
    EXPECT_STREQ(r.version, "3.0");
    EXPECT_STREQ(r.userAgent, "WMF/1.1,Orlomer 3.0,ENGL");
    EXPECT_EQ(std::strlen(r.user), sizeof r.user - 1);
    EXPECT_STREQ(r.signature, "sig");
    EXPECT_EQ(r.idleLimit, 30);
    EXPECT_EQ(r.stateFlags, 2u);
    EXPECT_EQ(std::u16string(r.basePath), (dir / "krdl").u16string());
  }
}

TEST_F(DownloadSourceTest, EarlyStartRule) {
  const struct {
    const char* name;
    int overhead;  // -1: setting absent (10)
    int32_t remaining, knownMs;
    float rate;
    bool starts;
  } cases[] = {
      {"below 90% of duration x rate", -1, 170000, 6000, 10.0f, true},
      {"above it", -1, 190000, 6000, 10.0f, false},
      {"only 5000 ms known", -1, 170000, 5000, 10.0f, false},
      {"overhead 50", 50, 170000, 6000, 10.0f, false},
      {"overhead 50, little left", 50, 90000, 6000, 10.0f, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.overhead >= 0) host.dwords[ids::kSetMinimumOverhead] = uint32_t(c.overhead);
    else host.dwords.erase(ids::kSetMinimumOverhead);
    host.dwords.erase(ids::kSetRestart);
    host.plays = 0;
    host.info.mediaCount = 0;
    AddMedia(host.info, "AAC", 1, 24000);
    AddMedia(host.info, "MP4V-ES", 2, 64000);
    StartDownload({1, 2});
    EXPECT_EQ(host.client->tracks.trackCount, 2u);
    EXPECT_EQ(host.client->tracks.storedValue, 3u);
    EXPECT_STREQ(host.client->tracks.date, "20261210T120000");
    host.client->remaining = c.remaining;
    host.client->playbackTime = c.knownMs;
    host.client->rate = c.rate;
    int32_t bytes = 0;
    source->GetDownloadProgress(&bytes);
    EXPECT_EQ(bytes, c.remaining);
    EXPECT_EQ(host.plays > 0, c.starts);
    if (c.starts) {
      EXPECT_EQ(host.codecs.back(), u"AAC");
      EXPECT_EQ(source->GetContentFlags(), 3u);  // the partial file's tracks
    }
    host.client->Finish(19);
    ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
    EXPECT_EQ(host.plays.load(), 1);  // started now if not before
    EXPECT_EQ(host.dwords[ids::kSetRestart], 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "krdl.dat"));
    source.reset();
  }
}

TEST_F(DownloadSourceTest, AudioOnlyWaitsForCompletion) {
  host.playWhenReady = 1;
  AddMedia(host.info, "AAC", 1, 24000);
  // The player asks for the range before the duration is known (end 0).
  StartDownload({1}, 0);
  host.client->remaining = 1000;
  host.client->playbackTime = 9000;
  host.client->rate = 50.0f;
  int32_t bytes = 0;
  source->GetDownloadProgress(&bytes);
  source->GetDownloadProgress(&bytes);
  EXPECT_EQ(host.plays.load(), 0);
  // The early notice, once: playing then paused, "Ready".
  const std::vector<uint32_t> states(host.playerStates.end() - 2, host.playerStates.end());
  EXPECT_EQ(states, (std::vector<uint32_t>{kPlayerPlaying, kPlayerPaused}));
  EXPECT_EQ(std::count(host.statusTexts.begin(), host.statusTexts.end(), ids::kStatusReady), 1);
  host.client->Finish(19);
  ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
  EXPECT_EQ(host.plays.load(), 1);
  EXPECT_EQ(host.finished.load(), 1);
  // Played to the file's end, not to 0.
  uint32_t start = 1, end = 0;
  source->GetPlayRange(&start, &end);
  EXPECT_EQ(start, 0u);
  EXPECT_EQ(end, source->GetDuration());
  EXPECT_GT(end, 10000u);
}

TEST_F(DownloadSourceTest, TimeOutKeepsBothFilesForResume) {
  AddMedia(host.info, "MP4V-ES", 2, 64000);
  StartDownload({2});
  host.client->Finish(23);
  ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
  EXPECT_EQ(source->DownloadState(), uint32_t(DownloadSource::kSuspended));
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].first, ids::kMsgTimedOut);
  EXPECT_EQ(host.commands[ids::kCmdResumeClip], 1u);
  EXPECT_EQ(host.commands[ids::kCmdClearClip], 1u);
  EXPECT_EQ(host.commands[ids::kCmdSuspendClip], 0u);
  EXPECT_EQ(host.dwords[ids::kSetRestart], 1u);
  EXPECT_EQ(host.strings[ids::kSetInstance], (dir / "krdl").u16string());
  EXPECT_EQ(host.strings[ids::kSetLastDownload], u"http://127.0.0.1:9300/clip.mp4");
  EXPECT_EQ(host.strings[ids::kSetLastTitle], u"Title");
  EXPECT_TRUE(std::filesystem::exists(dir / "krdl.tmp"));
  source.reset();  // "Restart" set: the files stay after the source goes
  EXPECT_TRUE(std::filesystem::exists(dir / "krdl.tmp"));

  // Resumed by a new source: the saved instance, the resume flag, no track
  // choice, the stored content flags.
  host.client = nullptr;
  source = std::make_unique<DownloadSource>(nullptr, &host);
  host.ClearOpenResults();
  ASSERT_EQ(source->Open(u"http://127.0.0.1:9300/clip.mp4", nullptr), 0u);
  ASSERT_TRUE(WaitFor([&] { return host.OpenCount() > 0; }));
  EXPECT_EQ(host.client->request.resume, 1u);
  EXPECT_EQ(std::u16string(host.client->request.basePath), (dir / "krdl").u16string());
  host.client->storedValue = 2;
  int32_t count = -1;
  source->GetTrackList(&count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(source->GetContentFlags(), 2u);
  ASSERT_EQ(source->SetPlayRange(0, kPlayToEnd), 0u);
  ASSERT_TRUE(host.client->WaitStarted());
  host.client->Finish(19);
  ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
  EXPECT_GE(host.plays.load(), 1);
}

TEST_F(DownloadSourceTest, SuspendAbortsAndPlayRangeStartsOver) {
  AddMedia(host.info, "MP4V-ES", 2, 64000);
  StartDownload({2});
  source->Suspend();
  ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
  EXPECT_TRUE(host.client->aborted);
  EXPECT_EQ(source->DownloadState(), uint32_t(DownloadSource::kSuspended));
  EXPECT_EQ(host.commands[ids::kCmdResumeClip], 1u);
  EXPECT_TRUE(host.errors.empty());
  host.ClearOpenResults();
  EXPECT_EQ(source->SetPlayRange(0, kPlayToEnd), 0u);  // opens again, resuming
  ASSERT_TRUE(WaitFor([&] { return host.OpenCount() > 0; }));
  EXPECT_EQ(host.client->request.resume, 1u);
}

TEST_F(DownloadSourceTest, FailureClearsBothFilesAndTheRestartSetting) {
  AddMedia(host.info, "MP4V-ES", 2, 64000);
  StartDownload({2});
  host.client->serverMessage = "Clip withdrawn.";
  host.client->Finish(7);
  ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
  EXPECT_EQ(source->DownloadState(), uint32_t(DownloadSource::kFailed));
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].first, ids::kMsgInvalidParameter);
  EXPECT_EQ(host.errors[0].second, u"Clip withdrawn.");  // the server's own text
  EXPECT_EQ(host.dwords[ids::kSetRestart], 0u);
  EXPECT_FALSE(std::filesystem::exists(dir / "krdl.tmp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "krdl.dat"));
}

TEST_F(DownloadSourceTest, FailedDescriptionIsReported) {
  for (int32_t result : {9, 23, 5}) {
    SCOPED_TRACE(result);
    host.describeResult = result;
    host.errors.clear();
    host.ClearOpenResults();
    source = std::make_unique<DownloadSource>(nullptr, &host);
    ASSERT_EQ(source->Open(u"http://127.0.0.1:9300/clip.mp4", nullptr), 0u);
    ASSERT_TRUE(WaitFor([&] { return source->Idle(); }));
    EXPECT_EQ(host.OpenCount(), 0u);
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0].first, DownloadDescriptionMessage(result));
    EXPECT_FALSE(std::filesystem::exists(dir / "krdl.dat"));
  }
}
