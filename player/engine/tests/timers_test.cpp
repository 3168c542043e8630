#include <string>

#include "engine/player_ids.h"
#include "player_fixture.h"

namespace {

// The logo resource's own pixel rows.
const uint8_t* LogoResourcePixels(size_t* bytes) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  HRSRC r = FindResourceW(instance, MAKEINTRESOURCEW(305), reinterpret_cast<LPCWSTR>(RT_BITMAP));
  if (!r) return nullptr;
  const auto* h = static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(instance, r)));
  *bytes = static_cast<size_t>((h->biWidth * 3 + 3) / 4 * 4) * h->biHeight;
  return reinterpret_cast<const uint8_t*>(h) + h->biSize;
}

void OpenFileAndRange(TestPlayer& p) {
  p.parts.configure = [](FakeSource* s) { s->contentOnPlay = kContentAudio | kContentVideo; };
  p.Init();
  ASSERT_EQ(p.controller->Open(u"c:\\a.mp4"), 0u);
  ASSERT_EQ(p.engine()->PlayRange(0, kPlayToEnd), 0u);
}

}  // namespace

TEST(StartupTimer, FadeHoldAndHandOverToPlay) {
  TestPlayer p;
  OpenFileAndRange(p);
  PlayerEngine* e = p.engine();
  ASSERT_TRUE(e->StartupTimerRunning());
  EXPECT_TRUE(p.observer.Has("SetVideoGeometry 192 144 1"));
  size_t bytes = 0;
  const uint8_t* pixels = LogoResourcePixels(&bytes);
  ASSERT_NE(pixels, nullptr);
  ASSERT_NE(e->LogoBits(), nullptr);
  // Twenty steps of 5 %.
  for (uint32_t step = 1; step <= 20; ++step) {
    e->OnStartupTick();
    EXPECT_EQ(e->LogoLevel(), step * 5);
    EXPECT_EQ(e->LogoPhase(), 1u);
    if (step == 10) {
      for (size_t i = 0; i < bytes; i += 97)
        ASSERT_EQ(e->LogoBits()[i], (pixels[i] * 128) >> 8) << i;  // level 50: factor 128
    }
  }
  for (size_t i = 0; i < bytes; i += 89) ASSERT_EQ(e->LogoBits()[i], pixels[i]) << i;
  e->OnStartupTick();  // past 100: hold
  EXPECT_EQ(e->LogoPhase(), 2u);
  EXPECT_EQ(e->LogoLevel(), 0u);
  e->OnStartupTick();
  EXPECT_EQ(e->LogoPhase(), 3u);
  EXPECT_FALSE(p.observer.Has("SetPosition 0"));
  e->OnStartupTick();
  EXPECT_EQ(e->LogoPhase(), 4u);
  EXPECT_TRUE(p.observer.Has("SetPosition 0"));
  EXPECT_EQ(e->GetState(), kStateOpened);
  e->OnStartupTick();  // buffered: plays
  EXPECT_FALSE(e->StartupTimerRunning());
  EXPECT_EQ(e->GetState(), kStatePlaying);
  EXPECT_TRUE(InOrder(p.observer.Calls(), {"ShowStatusText 60126", "ShowStatusText 60135"}));
}

TEST(StartupTimer, StreamBufferingPercentAndTimeLimits) {
  struct Case {
    uint32_t maxBuffered, buffered, statistic, extraTicks;
    std::vector<std::string> calls;
    bool stopped;
  };
  const Case cases[] = {
      // Unset maximum: the target is 7000 ms.
      {0, 3500, 0, 0, {"SetBufferLevel 50"}, false},
      {10000, 9000, 0, 0, {"SetBufferLevel 90"}, false},
      {4000, 9000, 0, 0, {"SetBufferLevel 100"}, false},
      // Nearly full while the loss is high: too little bandwidth.
      {7000, 6000, 30, 0, {"SetPlayerState 7", "ShowStatusText 60126", "ShowError 50061"}, true},
      // 90 s without starting.
      {7000, 100, 0, 90001, {"SetPlayerState 7", "ShowStatusText 60126", "ShowError 50061"}, true},
  };
  for (const Case& c : cases) {
    TestPlayer p;
    p.Init();
    ASSERT_EQ(p.controller->Open(u"rtsp://server/clip"), 0u);
    FakeSource* s = p.parts.source;
    s->maxBuffered = c.maxBuffered;
    s->bufferLevel = c.buffered;
    s->trackStatistic = c.statistic;
    p.engine()->PlayRange(0, kPlayToEnd);
    ASSERT_TRUE(p.engine()->StartupTimerRunning());
    p.observer.Clear();
    p.parts.ticks += c.extraTicks;
    p.engine()->OnStartupTick();
    EXPECT_EQ(p.observer.Calls(), c.calls) << c.buffered;
    EXPECT_EQ(p.engine()->GetState() == kStateStopped, c.stopped) << c.buffered;
    EXPECT_EQ(p.engine()->StartupTimerRunning(), !c.stopped) << c.buffered;
  }
}

TEST(StartupTimer, StreamWaitsForItsBufferBeforeTheLogo) {
  TestPlayer p;
  p.Init();
  p.controller->Open(u"rtsp://server/clip");
  FakeSource* s = p.parts.source;
  s->bufferLevel = 1000;
  p.engine()->PlayRange(0, kPlayToEnd);
  for (int i = 0; i < 5; ++i) p.engine()->OnStartupTick();
  EXPECT_EQ(p.engine()->LogoLevel(), 0u);  // still waiting: nothing drawn
  s->bufferLevel = 5500;                   // above target - 2000
  p.engine()->OnStartupTick();
  EXPECT_EQ(p.engine()->LogoLevel(), 5u);
  // The hand-over waits until the buffer is full.
  for (int i = 0; i < 30; ++i) p.engine()->OnStartupTick();
  EXPECT_EQ(p.engine()->LogoPhase(), 4u);
  EXPECT_EQ(p.engine()->GetState(), kStateOpened);
  s->bufferLevel = 7000;
  p.engine()->OnStartupTick();
  EXPECT_EQ(p.engine()->GetState(), kStatePlaying);
  EXPECT_TRUE(p.observer.Has("ShowStatusText 60136"));
}

TEST(WindowTimers, RealTimersStartPlaybackAndReportThePosition) {
  TestPlayer p;
  OpenFileAndRange(p);
  EXPECT_EQ(GetWindowLongPtrW(p.window.hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(p.engine()));
  // 20 x 25 ms of fade, 1500 ms hold, 30 ms, then the first 1500 ms tick.
  ASSERT_TRUE(PumpUntil([&] { return p.engine()->GetState() == kStatePlaying; }, 15000));
  p.parts.source->highestTimeMs = 2345;
  ASSERT_TRUE(PumpUntil([&] { return p.observer.Calls("SetPosition 2345").size() >= 2; }, 5000));
  p.engine()->Stop(true);
  p.observer.Clear();
  PumpUntil([] { return false; }, 500);
  EXPECT_TRUE(p.observer.Calls("SetPosition").empty());
}

TEST(WatchTimer, DownloadPausesWhenPlaybackCatchesUpAndResumesWhenAhead) {
  TestPlayer p;
  p.Init();
  p.shell.dwords[u"Restart"] = 1;
  p.shell.strings[u"LastDownload"] = u"http://server/clip.mp4";
  ASSERT_EQ(p.controller->Open(u"http://server/clip.mp4"), 0u);
  FakeSource* s = p.parts.source;
  s->contentOnPlay = kContentAudio;
  s->downloadTotal = 1000;
  ASSERT_EQ(p.engine()->PlayRange(0, kPlayToEnd), 0u);
  EXPECT_TRUE(p.engine()->WatchTimerRunning());
  EXPECT_FALSE(p.engine()->StartupTimerRunning());
  ASSERT_EQ(p.context()->Play(-1), 0u);
  ASSERT_EQ(p.engine()->GetState(), kStatePlaying);

  struct Step {
    uint32_t position;
    int32_t remaining;
    uint32_t state;
    const char* call;  // last observer line, or null
  };
  const Step steps[] = {
      {5000, 400, kStatePlaying, "SetProgress 400"},   // 60 % here, 50 % played
      {5000, 480, kStatePaused, "ShowStatusText 60137"},  // within 4 %: pause
      {5000, 320, kStatePaused, "SetProgress 320"},    // 68 %: not yet 20 % ahead
      {5000, 250, kStatePlaying, "ShowStatusText 60136"},  // 75 %: resume
      {8000, 0, kStatePlaying, "SetPosition 8000"},    // complete
  };
  for (const Step& st : steps) {
    s->highestTimeMs = st.position;
    s->downloadRemaining = st.remaining;
    p.engine()->OnWatchTick();
    EXPECT_EQ(p.engine()->GetState(), st.state) << st.remaining;
    EXPECT_EQ(p.observer.Calls().back(), st.call) << st.remaining;
  }
  // A pause the user made is never resumed by the watch.
  p.controller->Pause();
  s->downloadRemaining = 0;
  p.engine()->OnWatchTick();
  EXPECT_EQ(p.engine()->GetState(), kStatePaused);
}

TEST(DownloadLock, HeldAcrossProcesses) {
  char16_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, reinterpret_cast<LPWSTR>(temp));
  const std::u16string folder = std::u16string(temp) + u"orlomer-lock-" +
                                std::u16string(1, static_cast<char16_t>(u'a' + GetCurrentProcessId() % 26)) + u"\\";
  CreateDirectoryW(reinterpret_cast<LPCWSTR>(folder.c_str()), nullptr);
  const std::u16string lockPath = folder + u"krdl.lck";

  TestPlayer p;
  p.shell.strings[u"FilePath"] = folder;
  p.Init();
  PlayerEngine* e = p.engine();
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"OrlomerLockReady");
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"OrlomerLockRelease");
  auto runHolder = [&](PROCESS_INFORMATION* pi) {
    std::wstring cmd = L"\"" LOCK_HOLDER_EXE "\" \"" + std::wstring(reinterpret_cast<const wchar_t*>(lockPath.c_str())) +
                       L"\" OrlomerLockReady OrlomerLockRelease";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, pi) != 0;
  };

  // Another player holds the lock: this one cannot take it.
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(runHolder(&pi));
  ASSERT_EQ(WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(e->IsDownloadLocked(), 1u);
  EXPECT_EQ(e->CreateDownloadLock(), 0u);
  SetEvent(release);
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  DWORD code = 99;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  // This player holds it: the other cannot open it.
  ResetEvent(ready);
  ResetEvent(release);
  ASSERT_EQ(e->CreateDownloadLock(), 1u);
  ASSERT_TRUE(runHolder(&pi));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 10000), WAIT_OBJECT_0);
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 1u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  // Released: the file is gone.
  EXPECT_EQ(e->ReleaseDownloadLock(), 1u);
  EXPECT_EQ(GetFileAttributesW(reinterpret_cast<LPCWSTR>(lockPath.c_str())), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(e->ReleaseDownloadLock(), 0u);
  CloseHandle(ready);
  CloseHandle(release);
  RemoveDirectoryW(reinterpret_cast<LPCWSTR>(folder.c_str()));
}
