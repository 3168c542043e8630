#include <thread>

#include "engine/player_ids.h"
#include "player_fixture.h"

namespace {

// Opens a file clip with the given content and plays it through the
// start-up sequence.
void PlayFile(TestPlayer& p, uint32_t content) {
  static uint32_t wanted;
  wanted = content;
  p.parts.configure = [](FakeSource* s) { s->contentOnPlay = wanted; };
  p.Init();
  ASSERT_EQ(p.controller->Open(u"c:\\a.mp4"), 0u);
  p.controller->Status()->clipActive = 1;
  ASSERT_EQ(p.engine()->PlayRange(1500, kPlayToEnd), 0u);
  p.FinishStartup();
}

}  // namespace

TEST(Engine, PlayStartsThePartsTheContentNeeds) {
  struct Case {
    uint32_t content;
    uint32_t running;
    int audioStarts, videoStarts;
    uint32_t clockVideoOnly;
    uint32_t clockTime;  // set to the start only when free-running
    bool noVideoGeometry;
  };
  const Case cases[] = {
      {kContentAudio, 1 | 4 * 0, 1, 0, 0, 0, true},
      {kContentVideo, 2, 0, 1, 1, 1500, false},
      {kContentAudio | kContentVideo, 3, 1, 1, 0, 0, false},
      {kContentAudio | kContentStill, 3, 1, 1, 0, 0, false},
  };
  for (const Case& c : cases) {
    TestPlayer p;
    PlayFile(p, c.content);
    EXPECT_EQ(p.engine()->GetState(), kStatePlaying) << c.content;
    EXPECT_EQ(p.engine()->Running(), c.running) << c.content;
    EXPECT_EQ(p.parts.audio->starts, c.audioStarts) << c.content;
    EXPECT_EQ(p.parts.video->starts, c.videoStarts) << c.content;
    EXPECT_TRUE(p.parts.clock->started) << c.content;
    EXPECT_EQ(p.parts.clock->videoOnly, c.clockVideoOnly) << c.content;
    EXPECT_EQ(p.parts.clock->now, c.clockTime) << c.content;
    EXPECT_EQ(p.observer.Has("SetVideoGeometry 0 0 0"), c.noVideoGeometry) << c.content;
    if (c.audioStarts) {
      EXPECT_EQ(p.parts.audio->ranges.back(), std::make_pair(1500u, kPlayToEnd));
    }
    EXPECT_TRUE(p.engine()->WatchTimerRunning()) << c.content;
  }
}

TEST(Engine, StatesThroughPauseSeekResumeAndStop) {
  TestPlayer p;
  PlayFile(p, kContentAudio | kContentVideo);
  PlayerEngine* e = p.engine();
  FakeSource* s = p.parts.source;

  EXPECT_EQ(e->Pause(), 0u);
  EXPECT_EQ(e->GetState(), kStatePaused);
  EXPECT_EQ(s->pauses, 1);
  EXPECT_EQ(p.parts.audio->pauses, 1);
  EXPECT_EQ(p.parts.video->pauses, 1);
  EXPECT_EQ(e->ResumeAt(-1), 0u);
  EXPECT_EQ(e->GetState(), kStatePlaying);
  EXPECT_EQ(s->resumes, std::vector<int32_t>{-1});
  EXPECT_TRUE(p.parts.audio->ranges.size() == 1);  // no new range for "where paused"

  // A seek while playing pauses and resumes at the new place; no reopen.
  EXPECT_EQ(p.controller->Seek(4000), 0u);
  EXPECT_EQ(e->GetState(), kStatePlaying);
  EXPECT_EQ(s->opens, 1);
  EXPECT_EQ(s->resumes.back(), 4000);
  EXPECT_EQ(p.parts.video->resumes.back(), 4000);
  EXPECT_EQ(p.parts.audio->ranges.back(), std::make_pair(4000u, kPlayToEnd));

  EXPECT_EQ(e->Stop(true), 0u);
  EXPECT_EQ(e->GetState(), kStateStopped);
  EXPECT_EQ(s->finishes, 1);
  EXPECT_EQ(p.parts.audio->stops, 1);
  EXPECT_EQ(p.parts.video->stops, 1);
  EXPECT_EQ(e->Stop(true), 0u);  // already stopped: nothing more
  EXPECT_EQ(s->finishes, 1);
  EXPECT_EQ(e->Pause(), 0u);
  EXPECT_EQ(e->GetState(), kStateStopped);
}

// The clock underneath runs on while paused; media time stands still and
// resumes where it stopped (or where a seek put it, or where the audio last
// reported while paused).
TEST(Engine, MediaTimeStandsStillWhilePaused) {
  for (uint32_t content : {uint32_t(kContentVideo), uint32_t(kContentAudio | kContentVideo)}) {
    TestPlayer p;
    PlayFile(p, content);
    PlayerEngine* e = p.engine();
    ManualClock* clock = p.parts.clock;
    PlayerContext* c = p.context();
    clock->now = 2000;
    ASSERT_EQ(e->Pause(), 0u);
    clock->now = 9000;  // seven seconds in pause
    EXPECT_EQ(c->GetPosition(), 2000u) << content;
    ASSERT_EQ(e->ResumeAt(-1), 0u);
    EXPECT_EQ(c->GetPosition(), 2000u) << content;
    clock->now += 500;
    EXPECT_EQ(c->GetPosition(), 2500u) << content;

    ASSERT_EQ(e->Pause(), 0u);
    c->SetPosition(2600);  // the audio's last report
    clock->now = 20000;
    EXPECT_EQ(c->GetPosition(), 2600u) << content;
    ASSERT_EQ(e->ResumeAt(-1), 0u);
    EXPECT_EQ(c->GetPosition(), 2600u) << content;

    ASSERT_EQ(p.controller->Seek(4000), 0u);  // pauses and resumes there
    EXPECT_EQ(c->GetPosition(), 4000u) << content;

    // Stopped while paused, played again: no hold left over.
    ASSERT_EQ(e->Pause(), 0u);
    ASSERT_EQ(e->Stop(false), 0u);
    ASSERT_EQ(e->PlayRange(0, kPlayToEnd), 0u);
    clock->now = 777;
    EXPECT_EQ(c->GetPosition(), 777u) << content;
  }
}

TEST(Engine, ResumeFailuresAndPositionsPastTheEnd) {
  TestPlayer p;
  PlayFile(p, kContentAudio);
  PlayerEngine* e = p.engine();
  ASSERT_EQ(e->Pause(), 0u);
  EXPECT_EQ(e->ResumeAt(10000), 0u);  // at the duration: stops
  EXPECT_EQ(e->GetState(), kStateStopped);

  TestPlayer q;
  PlayFile(q, kContentAudio);
  ASSERT_EQ(q.engine()->Pause(), 0u);
  q.parts.source->resumeResult = kResumeFailed;
  EXPECT_EQ(q.engine()->ResumeAt(2000), kResumeFailed);
  EXPECT_EQ(q.engine()->GetState(), kStateNotOpened);
  EXPECT_EQ(q.parts.source->finishes, 1);
}

TEST(Engine, AudioDeviceOrThreadFailureStopsWithItsCode) {
  TestPlayer p;
  p.parts.configure = [](FakeSource* s) { s->contentOnPlay = kContentAudio | kContentVideo; };
  p.Init();
  p.controller->Open(u"c:\\a.mp4");
  p.parts.audio->openResult = kCannotPlay;
  p.engine()->PlayRange(0, kPlayToEnd);
  p.FinishStartup();
  EXPECT_EQ(p.engine()->GetState(), kStateStopped);
  EXPECT_EQ(p.parts.source->finishes, 1);
  EXPECT_EQ(p.parts.video->starts, 0);
  EXPECT_EQ(p.engine()->Play(-1), kCannotPlay);

  TestPlayer q;
  q.parts.configure = [](FakeSource* s) { s->contentOnPlay = kContentVideo; };
  q.Init();
  q.controller->Open(u"c:\\a.mp4");
  q.parts.video->startResult = kThreadNotCreated;
  q.engine()->PlayRange(0, kPlayToEnd);
  q.FinishStartup();
  EXPECT_EQ(q.engine()->GetState(), kStateStopped);
}

TEST(Engine, EndReportsClearRunningBitsAndTheLastEndsTheClip) {
  TestPlayer p;
  PlayFile(p, kContentAudio | kContentVideo);
  PlayerEngine* e = p.engine();
  EXPECT_EQ(e->OnSourceEnd(1), 0u);
  EXPECT_EQ(e->Running(), 2u);
  EXPECT_EQ(e->GetState(), kStatePlaying);
  EXPECT_EQ(e->OnSourceEnd(2), 0u);
  EXPECT_EQ(e->GetState(), kStateStopped);
  EXPECT_EQ(p.parts.source->closes, 0);  // closed from the message loop
  PumpUntil([&] { return p.observer.Has("OnClipEnd"); }, 2000);
  EXPECT_EQ(p.parts.source->closes, 1);
  EXPECT_FALSE(e->WatchTimerRunning());
}

TEST(Engine, StaleEndReportOfAnEarlierClipIsIgnored) {
  TestPlayer p;
  PlayFile(p, kContentAudio | kContentVideo);
  p.engine()->OnSourceEnd(1);
  p.engine()->OnSourceEnd(2);  // posted, not yet run
  p.controller->Open(u"c:\\b.mp4");
  PumpPending();
  EXPECT_FALSE(p.observer.Has("OnClipEnd"));
  EXPECT_EQ(p.parts.source->closes, 0);
}

TEST(Engine, StreamStoppedWhileConnectingShowsNoReadyAndNoClipEnd) {
  TestPlayer p;
  p.Init();
  ASSERT_EQ(p.controller->Open(u"rtsp://server/live"), 0u);
  EXPECT_EQ(p.engine()->GetState(), kStateOpened);
  p.engine()->PlayRange(0, kPlayToEnd);  // running bit 2 for the source
  p.observer.Clear();
  p.controller->Stop();
  EXPECT_EQ(p.observer.Calls(), (std::vector<std::string>{"ShowStatusText 60126", "SetPlayerState 7"}));
  p.context()->StreamFinished(4);
  PumpPending();
  EXPECT_FALSE(p.observer.Has("OnClipEnd"));
  EXPECT_FALSE(p.observer.Has("ShowStatusText 60135"));
}

TEST(Engine, StreamWithoutNetworkGives27) {
  TestPlayer p;
  p.shell.connected = 0;
  p.Init();
  EXPECT_EQ(p.controller->Open(u"rtsp://server/clip"), kNoConnection);
  EXPECT_FALSE(p.observer.Has("ShowStatusText 60131"));
}

TEST(Engine, RepaintOnlyWhenTheVideoStandsStill) {
  TestPlayer p;
  PlayFile(p, kContentAudio | kContentVideo);
  EXPECT_EQ(p.engine()->Repaint(), 0u);
  EXPECT_EQ(p.parts.video->repaints, 0);
  p.engine()->Pause();
  p.engine()->Repaint();
  EXPECT_EQ(p.parts.video->repaints, 1);
  p.controller->SetDisplayMode(3);
  EXPECT_EQ(p.parts.video->mode, 3u);

  TestPlayer q;
  q.Init();
  EXPECT_EQ(q.engine()->Repaint(), kNoVideoThread);
}

TEST(Engine, ClipPropertiesComeFromSourceAndVideo) {
  TestPlayer p;
  PlayFile(p, kContentAudio | kContentVideo);
  ClipProperties* c = p.controller->GetClipProperties();
  EXPECT_EQ(c->contentFlags, 3u);
  EXPECT_EQ(c->sourceType, 1u);
  EXPECT_EQ(c->durationMs, 10000u);
  EXPECT_EQ(c->videoWidth, 176u);
  EXPECT_EQ(c->videoHeight, 144u);
  EXPECT_EQ(Narrow(c->title), "Test Clip");
  EXPECT_EQ(Narrow(p.controller->GetClipText(1)), "An author");
  EXPECT_EQ(p.controller->GetClipText(5), nullptr);
  p.controller->SetMaxBufferedData(9000);
  EXPECT_EQ(p.shell.dwords[u"MaximumBufferedData"], 9000u);
}

TEST(Engine, DownloadEntryWithAModeKeepsItsState) {
  TestPlayer p;
  char16_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, reinterpret_cast<LPWSTR>(temp));
  p.shell.strings[u"FilePath"] = temp;
  auto* file = new FakeClipFile;
  file->entries = {{u"http://server/clip.mp4", 3, 0, kPlayToEnd, 1}};
  p.shell.nextClipFile = file;
  p.parts.configure = [](FakeSource* s) { s->contentOnPlay = kContentAudio; };
  p.Init();
  ASSERT_EQ(p.controller->Open(u"c:\\download.krc"), 0u);
  ClipEntryInfo info{};
  p.context()->GetStatus(&info);
  EXPECT_EQ(info.entryMode, 1u);
  PlayerEngine* e = p.engine();
  ASSERT_EQ(e->PlayRange(0, kPlayToEnd), 0u);
  ASSERT_EQ(p.context()->Play(-1), 0u);
  EXPECT_EQ(e->Running(), 5u);

  // The download's own end keeps the state and runs no end-of-clip step.
  EXPECT_EQ(e->OnSourceEnd(1), 0u);
  EXPECT_EQ(e->OnSourceEnd(4), kNoConnection);
  EXPECT_EQ(e->GetState(), kStatePlaying);
  PumpPending();
  EXPECT_FALSE(p.observer.Has("OnClipEnd"));

  // Stopping without releasing the source stays in state 5.
  e->SetState(kStatePlaying);
  EXPECT_EQ(e->Stop(false), 0u);
  EXPECT_EQ(e->GetState(), kStateStopping);

  p.observer.Clear();
  p.controller->SuspendDownload();
  EXPECT_EQ(p.observer.Calls(), std::vector<std::string>{"SetPlayerState 7"});
  EXPECT_EQ(p.parts.source->suspends, 1);
}
