// The playout thread on a clock the test controls: which pictures are shown,
// held or skipped, and when the thread ends. Streams are ffmpeg's, decoded
// by the real decoder; the source plays a script of their units.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "engine/player_ids.h"
#include "player_fixture.h"
#include "video/vdec.h"
#include "video_units.h"

namespace {

constexpr uint32_t kStep = 67;  // 15 pictures a second

// A player whose engine plays, with the test's clock behind its context.
struct Rig {
  TestPlayer player;
  explicit Rig(uint32_t debug = 0) {
    if (debug) player.shell.dwords[u"Debug"] = debug;
    player.Init();
    player.engine()->SetState(kStatePlaying);
  }
  PlayerContext* context() { return player.context(); }
  ManualClock* clock() { return player.parts.clock; }
};

std::vector<int32_t> Times(const std::vector<ClockedPlayout::Shown>& shown) {
  std::vector<int32_t> t;
  for (const auto& s : shown) t.push_back(s.timestamp);
  return t;
}

// The time stamps base + i * kStep for i in [first, end).
std::vector<int32_t> Steps(uint32_t first, uint32_t end, uint32_t base = 1000) {
  std::vector<int32_t> t;
  for (uint32_t i = first; i < end; ++i) t.push_back(int32_t(base + i * kStep));
  return t;
}

const UnitStream& Mpeg4() {
  static const UnitStream s = FixtureStream("qcif.m4v");
  return s;
}

}  // namespace

TEST(VideoPlayout, FixtureStreamsAreCutIntoUnits) {
  ASSERT_FALSE(Mpeg4().config.empty());
  ASSERT_EQ(Mpeg4().units.size(), 20u);
  EXPECT_EQ(vdec_frame_type(Mpeg4().units[10].data(), int32_t(Mpeg4().units[10].size())), 0);  // GOV + intra
  EXPECT_EQ(vdec_frame_type(Mpeg4().units[3].data(), int32_t(Mpeg4().units[3].size())), 1);
  EXPECT_EQ(FixtureStream("qcif.h263").units.size(), 12u);
}

// Late pictures are decoded but not shown; early ones are held until due.
TEST(VideoPlayout, LateSkippedEarlyHeldTable) {
  struct Case {
    const char* what;
    int32_t lateness;  // of the second picture; positive = early
    bool shown;
    uint32_t clockWhenShown;
    std::vector<uint32_t> waits;
    uint32_t skipped, held;
  };
  const uint32_t t1 = 1000 + kStep;
  const Case cases[] = {
      {"121 ms late is skipped", -121, false, 0, {}, 1, 0},
      {"120 ms late is drawn at once", -120, true, t1 + 120, {}, 0, 0},
      {"on time", 0, true, t1, {}, 0, 0},
      {"49 ms early is drawn at once", 49, true, t1 - 49, {}, 0, 0},
      {"50 ms early is held 50 ms", 50, true, t1, {50}, 0, 1},
      {"180 ms early is held in 50 ms slices", 180, true, t1, {50, 50, 50, 30}, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig rig;
    ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
    source.script[0] = {{0, kFrameDelivered, 1000, 0}, {1, kFrameDelivered, t1, c.lateness}};
    ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
    ASSERT_TRUE(playout.PlayToEnd());
    std::vector<int32_t> want = {1000};
    if (c.shown) want.push_back(int32_t(t1));
    EXPECT_EQ(Times(playout.shown), want);
    if (c.shown) {
      EXPECT_EQ(playout.shown.back().clock, c.clockWhenShown);
    }
    EXPECT_EQ(playout.waits, c.waits);
    const auto n = playout.GetCounters();
    EXPECT_EQ(n.skipped, c.skipped);
    EXPECT_EQ(n.held, c.held);
    EXPECT_EQ(n.presented, c.shown ? 2u : 1u);
    EXPECT_EQ(n.iterations, 3u);  // two pictures and the end
    // A skipped picture is reported as skipped; shown ones as shown.
    EXPECT_EQ(source.statistics.back(), std::to_string(t1) + (c.shown ? " 0 0" : " 1 0"));
  }
}

TEST(VideoPlayout, FirstIterationDrawsHoweverLate) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.script[0] = {{0, kFrameDelivered, 1000, -5000}, {1, kFrameDelivered, 1067, -5000}};
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_EQ(Times(playout.shown), std::vector<int32_t>{1000});
  EXPECT_EQ(playout.GetCounters().skipped, 1u);
  EXPECT_TRUE(rig.player.observer.Has("SetVideoGeometry 176 144 0"));
}

TEST(VideoPlayout, StillImageShownOnceThenTheThreadEnds) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.contentFlags = kContentStill;
  for (uint32_t i = 0; i < 5; ++i) source.script[0].push_back({int(i), kFrameDelivered, 1000 + i * kStep, 0});
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_EQ(Times(playout.shown), std::vector<int32_t>{1000});
  EXPECT_EQ(source.reads[0], 1u);
}

TEST(VideoPlayout, AudioOnlyContentShowsNothing) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.contentFlags = kContentAudio;
  source.script[0] = {{0, kFrameDelivered, 1000, 0}};
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_TRUE(playout.shown.empty());
  EXPECT_EQ(source.reads[0], 0u);
}

TEST(VideoPlayout, LiveVideoWaitsForTheFirstBaseIntraPicture) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.live = 1;
  for (uint32_t i = 3; i < 14; ++i) source.script[0].push_back({int(i), kFrameDelivered, 1000 + i * kStep, 0});
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  // Units 3 to 9 are predicted pictures; 10 is the next intra picture.
  EXPECT_EQ(Times(playout.shown), Steps(10, 14));
}

// Status 4 units (before the play start) are decoded as references but never
// shown: the first picture shown is what a decode of every unit gives.
TEST(VideoPlayout, UnitsBeforeThePlayStartAreDecodedButNotShown) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  for (uint32_t i = 0; i < 5; ++i)
    source.script[0].push_back({int(i), i < 3 ? uint32_t(kFrameBeforeStart) : uint32_t(kFrameDelivered), 1000 + i * kStep, 0});

  struct Recording : ClockedPlayout {
    using ClockedPlayout::ClockedPlayout;
    uint32_t RenderFrame(const uint8_t* const p[3], int32_t l, int32_t t, const DisplayFormat& f, uint32_t m) override {
      firstRows.emplace_back(p[0], p[0] + 176 * 16);
      return ClockedPlayout::RenderFrame(p, l, t, f, m);
    }
    std::vector<Bytes> firstRows;
  } playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_EQ(Times(playout.shown), (std::vector<int32_t>{int32_t(1000 + 3 * kStep), int32_t(1000 + 4 * kStep)}));
  EXPECT_EQ(playout.GetCounters().iterations, 6u);

  // The same units straight through the decoder.
  VideoDecoder dec = {};
  const uint8_t* cfg[1] = {Mpeg4().config.data()};
  const int32_t sizes[1] = {int32_t(Mpeg4().config.size())};
  ASSERT_EQ(vdec_create(&dec, cfg, sizes, 1), 1);
  for (int i = 0; i < 4; ++i) {
    Bytes unit = Mpeg4().units[i];
    uint8_t* in[1] = {unit.data()};
    int32_t ts[1] = {-1}, n[1] = {int32_t(unit.size())};
    ASSERT_EQ(vdec_decode_frame(&dec, in, ts, n, nullptr), 1);
  }
  const uint8_t* y = vdec_get_output_frame(&dec);
  ASSERT_FALSE(playout.firstRows.empty());
  EXPECT_EQ(playout.firstRows[0], Bytes(y, y + 176 * 16));
  vdec_destroy(&dec);
}

TEST(VideoPlayout, TwoLayersEndWhenTheBaseEndsAndTheEnhancementHasNothing) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4(), 2);
  source.script[0] = {{0, kFrameDelivered, 1000, 0}, {1, kFrameDelivered, 1000 + kStep, 0}};
  for (int i = 0; i < 50; ++i) source.script[1].push_back({-1, kFrameLater, 0, 0});
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_EQ(Times(playout.shown), (std::vector<int32_t>{1000, int32_t(1000 + kStep)}));
  EXPECT_EQ(source.reads[1], 3u);  // one 26 per picture, and the one that ends it
  EXPECT_EQ(playout.GetCounters().iterations, 3u);
}

// "Frames Decoded" counts every iteration, also those that found no data.
TEST(VideoPlayout, DebugLinesCountEveryIteration) {
  Rig rig(3);
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.script[0] = {{0, kFrameDelivered, 1000, 0},
                      {-1, kFrameLater, 0, 0},
                      {-1, kFrameLater, 0, 0},
                      {1, kFrameDelivered, 1000 + kStep, -130}};
  ClockedPlayout playout(rig.context(), &source, &rig.player.shell, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_EQ(playout.waits, (std::vector<uint32_t>{200, 200}));
  const std::vector<std::string>& lines = rig.player.shell.debugLines;
  EXPECT_TRUE(InOrder(lines, {"5,56 C: 1000 ms V: 1000 ms D: 0 ms", "5,56 C: 1197 ms V: 1067 ms D: -130 ms",
                              "5,84 Frames Decoded: 5: Skipped: 1 Held: 0"}));
}

// H.263 whose 12-byte configuration has no width: the first unit tells the
// size and is then decoded first. With a width the configuration is used.
TEST(VideoPlayout, ShortHeaderSizeFromConfigurationOrFirstUnit) {
  const UnitStream h263 = FixtureStream("qcif.h263");
  ASSERT_GE(h263.units.size(), 4u);
  for (bool withSize : {false, true}) {
    SCOPED_TRACE(withSize);
    Rig rig;
    ScriptedSource source(rig.context(), rig.clock(), &h263);
    source.useOverride = true;
    source.configOverride.assign(12, 0);
    if (withSize) {
      const uint16_t words[2] = {176, 144};
      std::memcpy(source.configOverride.data(), words, sizeof(words));
    }
    for (uint32_t i = 0; i < 4; ++i) source.script[0].push_back({int(i), kFrameDelivered, 2000 + i * kStep, 0});
    ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
    ASSERT_TRUE(playout.PlayToEnd());
    uint32_t w = 0, h = 0;
    playout.GetVideoSize(&w, &h);
    EXPECT_EQ(w, 176u);
    EXPECT_EQ(h, 144u);
    EXPECT_TRUE(rig.player.observer.Has("SetVideoGeometry 176 144 0"));
    EXPECT_EQ(Times(playout.shown), Steps(0, 4, 2000));
  }
}

TEST(VideoPlayout, MissingConfigurationReportsACorruptClip) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.useOverride = true;  // an empty MPEG-4 configuration
  source.script[0] = {{0, kFrameDelivered, 1000, 0}};
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_TRUE(playout.shown.empty());
  EXPECT_EQ(rig.player.observer.Calls("ShowError"), std::vector<std::string>{"ShowError 51182"});
}

// A time stamp far ahead holds the picture, but the thread still ends
// promptly when the engine stops (real sleeps here, not the test clock).
TEST(VideoPlayout, StopEndsAHoldPromptly) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.script[0] = {{0, kFrameDelivered, 1000, 0}, {1, kFrameDelivered, 0x7FFF0000, 0x7FFF0000 - 1000}};
  VideoPlayoutThread playout(rig.context(), &source, nullptr);
  ASSERT_EQ(playout.Start(), 0u);
  for (int i = 0; i < 400 && playout.GetCounters().held == 0; ++i) Sleep(5);
  Sleep(100);
  EXPECT_FALSE(playout.ThreadEnded());
  rig.player.engine()->SetState(kStateStopping);
  const DWORD start = GetTickCount();
  EXPECT_EQ(playout.Stop(), 0u);
  EXPECT_LT(GetTickCount() - start, 500u);
  EXPECT_TRUE(playout.ThreadEnded());
  EXPECT_EQ(playout.GetCounters().presented, 1u);
}

// A seek while a picture is held: the picture is dropped, the decoder starts
// again and playing goes on from the next unit.
TEST(VideoPlayout, SeekDuringAHoldDropsTheHeldPicture) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  source.script[0] = {{0, kFrameDelivered, 1000, 0},
                      {1, kFrameDelivered, 60000, 59000},  // far ahead: held
                      {10, kFrameDelivered, 5000, 0}};     // the intra picture after the seek
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  playout.onWait = [&](size_t n) {
    if (n == 3) playout.Resume(5000);
  };
  ASSERT_TRUE(playout.PlayToEnd());
  EXPECT_EQ(Times(playout.shown), (std::vector<int32_t>{1000, 5000}));
  EXPECT_EQ(playout.waits.size(), 3u);
  EXPECT_EQ(playout.GetCounters().held, 1u);
}

// Pause holds the loop at its run event; Resume goes on where it stopped.
TEST(VideoPlayout, PauseHoldsTheLoopAndResumeGoesOn) {
  Rig rig;
  ScriptedSource source(rig.context(), rig.clock(), &Mpeg4());
  for (uint32_t i = 0; i < 3; ++i) source.script[0].push_back({int(i), kFrameDelivered, 1000 + i * kStep, 0});
  ClockedPlayout playout(rig.context(), &source, nullptr, rig.clock());
  // The engine pauses while the second picture is being read.
  source.onRead = [&](uint32_t, uint32_t n) {
    if (n == 2) playout.Pause();
  };
  ASSERT_EQ(playout.Start(), 0u);
  Sleep(700);  // more than one 500 ms slice of the run-event wait
  EXPECT_EQ(source.reads[0], 2u);
  EXPECT_FALSE(playout.ThreadEnded());
  EXPECT_EQ(playout.GetCounters().presented, 2u);
  playout.Resume(-1);
  for (int i = 0; i < 400 && !playout.ThreadEnded(); ++i) Sleep(5);
  EXPECT_TRUE(playout.ThreadEnded());
  EXPECT_EQ(playout.GetCounters().presented, 3u);
}
