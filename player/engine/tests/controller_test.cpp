#include <string>
#include <thread>

#include "engine/player_ids.h"
#include "platform/os.h"
#include "player_fixture.h"

namespace {

std::string U8(const std::u16string& s) { return platform::utf16ToUtf8(s); }

}  // namespace

TEST(Controller, CommandLineOptionsAndSourceKinds) {
  struct Case {
    std::u16string line;
    uint32_t result;
    std::vector<uint32_t> kinds;       // sources made
    uint32_t playCount;
    std::vector<std::string> calls;    // observer lines, in order
  };
  const Case cases[] = {
      {u"c:\\clips\\a.mp4 -L", 0, {1}, 10100,
       {"Attach", "SetRepeat 1", "ShowMessageText 1 c:\\clips\\a.mp4", "EnableCommand 41102 1"}},
      {u"a.mp4 -N0", 0, {1}, 0, {"ShowMessageText 1 a.mp4"}},
      {u"a.mp4 -N250", 0, {1}, 100, {"SetRepeat 1"}},
      {u"a.mp4 -V150", 0, {1}, 0, {"SetIndicator 100"}},
      {u"a.mp4 -X", 0, {1}, 0,
       {"EnableCommand 41100 0", "EnableCommand 40034 0", "EnableCommand 41127 0", "EnableCommand 41126 0"}},
      {u"a.mp4 -Q", kBadCommandLine, {}, 0, {"ShowError 50048"}},
      {u"\"C:\\My Clips\\Big Show.MP4\" -L", 0, {1}, 10100, {"ShowMessageText 1 C:\\My Clips\\Big Show.MP4"}},
      {u"rtsp://host/clip", 0, {2}, 0,
       {"ShowMessageText 2 rtsp://host/clip", "SetPlayerState 1", "ShowStatusText 60131"}},
      {u"FILE://c:/a.mp4", 0, {1}, 0, {"ShowMessageText 1 FILE://c:/a.mp4"}},
      {u"http://host/a.mp4", kUnsupported, {}, 0, {"ShowError 50415"}},
      // On the command line the name ends at ".MP4": ".bak" is no option.
      {u"c:\\clips\\a.mp4.bak", kBadCommandLine, {}, 0, {"ShowError 50048"}},
      {u"c:\\" + std::u16string(300, u'x') + u".mp4", kBadCommandLine, {}, 0, {"ShowError 50048"}},
  };
  for (const Case& c : cases) {
    TestPlayer p;
    EXPECT_EQ(p.Init(c.line.c_str()), c.result) << U8(c.line);
    EXPECT_EQ(p.parts.kinds, c.kinds) << U8(c.line);
    EXPECT_EQ(p.controller->Session()->entryInfo.playCount, c.playCount) << U8(c.line);
    EXPECT_TRUE(InOrder(p.observer.Calls(), c.calls)) << U8(c.line);
    if (c.result != 0) {
      EXPECT_FALSE(p.observer.Has("EnableCommand 41102 1")) << U8(c.line);
    }
  }
}

TEST(Controller, VolumeOptionReachesTheAudioAtPlay) {
  TestPlayer p;
  p.parts.configure = AmrAndVideoFile;
  p.Init(u"a.mp4 -V0");  // 0 mutes
  p.FinishStartup();
  ASSERT_NE(p.parts.audio, nullptr);
  ASSERT_FALSE(p.parts.audio->volumes.empty());
  EXPECT_EQ(p.parts.audio->volumes.back(), 0u);
  p.controller->SetVolume(70);
  EXPECT_EQ(p.parts.audio->volumes.back(), 70u);
}

TEST(Controller, AnAddressNotEndingInMp4IsAClipDescriptor) {
  TestPlayer p;
  p.Init();
  EXPECT_EQ(p.controller->Open(u"c:\\clips\\a.mp4.bak"), kUnsupported);  // unreadable descriptor
  EXPECT_EQ(p.shell.clipFilesMade, 1);
  EXPECT_TRUE(p.parts.kinds.empty());
  EXPECT_TRUE(InOrder(p.observer.Calls(), {"SetPlayerState 7", "ShowError 50049 c:\\clips\\a.mp4.bak"}));
  EXPECT_EQ(p.controller->Open(u"\"\"c:\\clips\\b.mp4\"\""), 0u);  // quotes peeled
  EXPECT_EQ(p.parts.kinds, std::vector<uint32_t>{1});
  EXPECT_EQ(Narrow(p.parts.source->location), "c:\\clips\\b.mp4");
}

TEST(Controller, HttpOpensOnlyTheSuspendedDownload) {
  TestPlayer p;
  p.Init();
  p.shell.dwords[u"Restart"] = 1;
  p.shell.strings[u"LastDownload"] = u"http://server/clip.mp4";
  EXPECT_EQ(p.controller->Open(u"http://server/other.mp4"), kUnsupported);
  EXPECT_TRUE(p.parts.kinds.empty());
  EXPECT_EQ(p.controller->Open(u"HTTP://SERVER/CLIP.MP4"), 0u);
  EXPECT_EQ(p.parts.kinds, std::vector<uint32_t>{3});
  p.shell.dwords[u"Restart"] = 0;
  EXPECT_EQ(p.controller->Open(u"http://server/clip.mp4"), kUnsupported);
}

TEST(Controller, OverlongAddressIsRefusedWithTheClipMessage) {
  TestPlayer p;
  p.Init();
  const std::u16string address = u"rtsp://" + std::u16string(400, u'a');
  EXPECT_EQ(p.controller->Open(address.c_str()), kUnsupported);
  EXPECT_TRUE(p.parts.kinds.empty());
  EXPECT_TRUE(InOrder(p.observer.Calls(), {"SetPlayerState 7", "ShowError 50049 " + U8(address)}));
}

TEST(Controller, TrackChoiceRefusals) {
  struct Case {
    const char* name;
    void (*configure)(FakeSource*);
    const char16_t* commandLine;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"three MPEG-4 layers",
       [](FakeSource* s) {
         s->signalOnOpen = true;
         s->AddTrack(1, u"MP4V-ES", 1);
         s->AddTrack(2, u"MP4V-ES", 1);
         s->AddTrack(3, u"MP4V-ES", 1);
       },
       u"a.mp4", {"SetPlayerState 7", "ShowError 50415"}},
      {"preferred codec missing",
       [](FakeSource* s) {
         s->signalOnOpen = true;
         s->AddTrack(1, u"AMR", 12200);
       },
       u"a.mp4 -AEVRC", {"SetPlayerState 7", "ShowError 50070"}},
      {"unsupported clip",
       [](FakeSource* s) {
         s->signalOnOpen = true;
         s->listCount = -2;
       },
       u"a.mp4", {"ShowError 50415"}},
      {"player too old",
       [](FakeSource* s) {
         s->signalOnOpen = true;
         s->listCount = -1;
       },
       u"a.mp4", {"ShowError 50060"}},
  };
  for (const Case& c : cases) {
    TestPlayer p;
    p.parts.configure = c.configure;
    p.Init(c.commandLine);
    EXPECT_TRUE(InOrder(p.observer.Calls(), c.calls)) << c.name;
    EXPECT_TRUE(p.parts.source->selected.empty()) << c.name;
    EXPECT_FALSE(p.engine()->StartupTimerRunning()) << c.name;
  }
}

TEST(Controller, SelectsTheBestAudioThenTheVideoLayers) {
  TestPlayer p;
  p.Init();
  // The test folder carries the three stand-in decoder libraries.
  ASSERT_EQ(p.engine()->GetCodecEntry(0).available, 1u);
  ASSERT_EQ(p.engine()->GetCodecEntry(1).available, 1u);
  ASSERT_EQ(p.engine()->GetCodecEntry(2).available, 1u);
  p.parts.configure = [](FakeSource* s) {
    s->signalOnOpen = true;
    s->AddTrack(11, u"AMR", 60000);
    s->AddTrack(12, u"EVRC", 8000);
    s->AddTrack(13, u"AAC", 24000);  // outranks the richer AMR through its bit
    s->AddTrack(14, u"H263-2000", 40000);
    s->AddTrack(15, u"MP4V-ES", 64000);
  };
  p.controller->OpenCommandLine(u"a.mp4");
  EXPECT_EQ(p.parts.source->selected, (std::vector<uint32_t>{13, 15, 14}));
  EXPECT_EQ(p.parts.audio->codecs, std::vector<std::string>{"AAC"});
  EXPECT_TRUE(InOrder(p.shell.LogLines(), {"Select track: AAC\n", "Bitrate: 24000\n",
                                           "Select track: MP4V-ES\n", "Bitrate: 64000\n",
                                           "Select track: H263-2000\n"}));
  // An EVRC preference cannot be played without its decoder: no audio. The
  // EVRC library is hidden while the engine probes.
  wchar_t dll[MAX_PATH] = {}, hidden[MAX_PATH + 8] = {};
  GetModuleFileNameW(nullptr, dll, MAX_PATH);
  wcscpy(wcsrchr(dll, L'\\') + 1, L"krevrc.dll");
  wcscpy(hidden, dll);
  wcscat(hidden, L".hidden");
  ASSERT_TRUE(MoveFileW(dll, hidden));
  TestPlayer q;
  q.parts.configure = [](FakeSource* s) {
    s->signalOnOpen = true;
    s->AddTrack(1, u"EVRC", 8000);
    s->AddTrack(2, u"MP4V-ES", 64000);
  };
  q.Init(u"a.mp4 -AEVRC");
  ASSERT_TRUE(MoveFileW(hidden, dll));
  EXPECT_EQ(q.engine()->GetCodecEntry(1).available, 0u);
  EXPECT_EQ(q.parts.source->selected, std::vector<uint32_t>{2});
}

TEST(Controller, OpenResultCodesGiveTheirMessages) {
  struct Case {
    uint32_t code;
    std::string call;  // empty: no message
  };
  const Case cases[] = {{14, "ShowError 50250"}, {15, "ShowError 50049 c:\\a.mp4"}, {17, "ShowError 50404"},
                        {18, "ShowError 50451"}, {35, "ShowError 50451"},          {19, "ShowError 50408"},
                        {25, "ShowError 50462"}, {40, ""},                         {3, ""}};
  for (const Case& c : cases) {
    TestPlayer p;
    p.Init(u"c:\\a.mp4");
    p.observer.Clear();
    p.context()->OpenComplete(c.code);
    EXPECT_EQ(p.engine()->GetState(), kStateNotOpened) << c.code;
    EXPECT_EQ(p.observer.Calls("SetPlayerState"), std::vector<std::string>{"SetPlayerState 7"}) << c.code;
    const auto errors = p.observer.Calls("ShowError");
    if (c.call.empty())
      EXPECT_TRUE(errors.empty()) << c.code;
    else
      EXPECT_EQ(errors, std::vector<std::string>{c.call}) << c.code;
  }
}

TEST(Controller, AFileClipReportsInOrderAndEndsOnTheUiThread) {
  TestPlayer p;
  p.parts.configure = AmrAndVideoFile;
  ASSERT_EQ(p.Init(u"c:\\a.mp4"), 0u);
  EXPECT_TRUE(p.engine()->StartupTimerRunning());
  p.FinishStartup();
  ASSERT_EQ(p.engine()->GetState(), kStatePlaying);

  // The threads report their ends from a worker; the step runs here.
  std::thread worker([&] {
    p.context()->StreamFinished(1);
    p.context()->StreamFinished(2);
  });
  worker.join();
  EXPECT_FALSE(p.observer.Has("OnClipEnd"));
  ASSERT_TRUE(PumpUntil([&] { return p.observer.Has("OnClipEnd"); }, 2000));
  EXPECT_EQ(p.observer.clipEndThread.load(), GetCurrentThreadId());
  EXPECT_EQ(p.parts.source->closes, 1);

  EXPECT_TRUE(InOrder(p.observer.Calls(),
                      {"Attach", "ShowMessageText 1 c:\\a.mp4", "SetVideoGeometry 192 144 1", "SetText Test Clip",
                       "EnableCommand 41101 1", "SetProgressRecord 0 10000", "SetPlayerState 2",
                       "EnableCommand 41102 1", "SetPosition 0", "ShowStatusText 60126",
                       "ShowStatusText 60135", "OnClipEnd", "SetPlayerState 6", "ShowStatusText 60135"}));
  EXPECT_TRUE(InOrder(p.shell.LogLines(),
                      {"\n", "URL: c:\\a.mp4\n", "Select track: AMR\n", "Bitrate: 12200\n", "PLAY\n",
                       "Title: Test Clip\n", "Description: \n", "Copyright: \n", "Rating: \n",
                       "Author: An author\n", "Type: 3\n", "Duration: 10000\n", "Zoom: 1\n", "CLIP END\n"}));
  EXPECT_EQ(p.controller->StartMs(), 0u);
}

TEST(Controller, PlayCountRepeatsALocalFileAndStopEndsTheRepeats) {
  TestPlayer p;
  p.parts.configure = AmrAndVideoFile;
  p.Init(u"c:\\a.mp4 -N3");
  p.FinishStartup();
  p.EndClip();
  p.FinishStartup();
  EXPECT_EQ(p.parts.source->ranges.size(), 2u);  // played again from the start
  EXPECT_EQ(p.parts.source->ranges.back(), std::make_pair(0u, kPlayToEnd));
  p.EndClip();
  p.FinishStartup();
  EXPECT_EQ(p.parts.source->ranges.size(), 3u);
  p.EndClip();
  EXPECT_EQ(p.parts.source->ranges.size(), 3u);  // three plays in all
  EXPECT_TRUE(p.observer.Has("OnClipEnd"));

  TestPlayer q;
  q.parts.configure = AmrAndVideoFile;
  q.Init(u"c:\\a.mp4 -N3");
  q.FinishStartup();
  q.EndClip();
  q.FinishStartup();
  q.controller->Stop();
  EXPECT_EQ(q.engine()->GetState(), kStateStopped);
  q.EndClip();
  EXPECT_EQ(q.parts.source->ranges.size(), 2u);
}

TEST(Controller, DescriptorEntriesPlayInTurnThenTheWindowCloses) {
  TestPlayer p;
  auto* file = new FakeClipFile;
  file->entries = {{u"c:\\one.mp4", 1, 0, kPlayToEnd, 0}, {u"c:\\two.mp4", 1, 2000, 0x80001F40, 0}};
  file->exitWhenDone = 1;
  p.shell.nextClipFile = file;
  p.parts.configure = AmrAndVideoFile;
  ASSERT_EQ(p.Init(u"c:\\show.krc"), 0u);
  EXPECT_EQ(p.controller->GetOpenKind(), 2u);
  EXPECT_TRUE(InOrder(p.observer.Calls(), {"SetRepeat 0", "ShowMessageText 1 c:\\one.mp4"}));
  p.FinishStartup();
  p.EndClip();
  p.FinishStartup();
  ASSERT_EQ(p.parts.kinds.size(), 2u);
  EXPECT_EQ(Narrow(p.parts.source->location), "c:\\two.mp4");
  // The entry's range: bit 31 of the end is ignored.
  EXPECT_EQ(p.parts.source->ranges.front(), std::make_pair(2000u, 8000u));
  p.EndClip();
  PumpUntil([&] { return p.window.closeRequests > 0; }, 1000);
  EXPECT_EQ(p.window.closeRequests, 1);
  EXPECT_TRUE(InOrder(p.observer.Calls(), {"OnClipEnd", "SetPlayerState 6", "ShowStatusText 60135"}));
}

TEST(Controller, SecondDownloadWhileOneIsSuspendedAsksFirst) {
  char16_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, reinterpret_cast<LPWSTR>(temp));
  const std::u16string folder = std::u16string(temp);
  for (int answer : {IDNO, IDYES}) {
    TestPlayer p;
    p.shell.dwords[u"Restart"] = 1;
    p.shell.strings[u"FilePath"] = folder;
    p.shell.strings[u"LastTitle"] = std::u16string(120, u't');
    auto* file = new FakeClipFile;
    file->entries = {{u"http://server/clip.mp4", 3}};
    p.shell.nextClipFile = file;
    p.observer.answer = answer;
    p.Init();
    const uint32_t rc = p.controller->Open(u"c:\\download.krc");
    const std::string question = "ShowError 51301 " + std::string(100, 't') + "... style 4";
    EXPECT_TRUE(p.observer.Has(question)) << answer;
    if (answer == IDNO) {
      EXPECT_EQ(rc, 1u);
      EXPECT_TRUE(p.parts.kinds.empty());
      EXPECT_EQ(p.shell.dwords[u"Restart"], 1u);
    } else {
      EXPECT_EQ(rc, 0u);
      EXPECT_EQ(p.parts.kinds, std::vector<uint32_t>{3});
      EXPECT_EQ(p.shell.dwords[u"Restart"], 0u);
      EXPECT_TRUE(p.engine()->HoldsDownloadLock());
    }
  }
}
