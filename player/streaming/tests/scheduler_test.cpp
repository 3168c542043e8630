#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "streaming/scheduler.h"

using namespace streaming;

namespace {
struct Counter {
  std::atomic<uint32_t> runs{0};
};
void count(void* c) { ++static_cast<Counter*>(c)->runs; }

struct ClockFixture : ::testing::Test {
  void SetUp() override { CreateStreamClock(); }
  void TearDown() override { DestroyStreamClock(); }
};
using Scheduler = ClockFixture;
}  // namespace

TEST_F(Scheduler, PassRatiosAndTimeLimit) {
  TaskScheduler s;
  Counter high, normal, low;
  EXPECT_NE(s.AddTask(count, &high, 5), 0u);   // clamped to +1
  EXPECT_NE(s.AddTask(count, &normal, 0), 0u);
  EXPECT_NE(s.AddTask(count, &low, -7), 0u);  // clamped to -1
  const uint32_t start = GetStreamClockTime();
  ASSERT_TRUE(s.Run(30));
  EXPECT_GE(GetStreamClockTime() - start, 30u);
  // Per pass +1 runs twice, 0 on odd passes, -1 on every fourth pass.
  const uint32_t passes = high.runs / 2;
  ASSERT_GT(passes, 8u);
  EXPECT_EQ(high.runs % 2, 0u);
  EXPECT_EQ(normal.runs, (passes + 1) / 2);
  EXPECT_EQ(low.runs, passes / 4);
}

TEST_F(Scheduler, RemovedTasksStopAndStopEndsAnUnlimitedRun) {
  TaskScheduler s;
  Counter a, b, late;
  const uint32_t ida = s.AddTask(count, &a, 1);
  s.AddTask(count, &b, 1);
  EXPECT_TRUE(s.RemoveTask(ida));
  EXPECT_FALSE(s.RemoveTask(999));
  // Removal and Stop come from another thread while the loop runs.
  std::thread other([&] {
    while (b.runs < 100) std::this_thread::yield();
    // The loop may run it before it is removed: its own counter.
    s.RemoveTask(s.AddTask(count, &late, 0));
    s.Stop();
  });
  ASSERT_TRUE(s.Run(0));
  other.join();
  EXPECT_EQ(a.runs, 0u);
  EXPECT_GE(b.runs, 100u);
}

TEST_F(Scheduler, TasksMayAddTasks) {
  TaskScheduler s;
  struct Ctx {
    TaskScheduler* s;
    Counter child;
    bool added = false;
  } ctx{&s, {}, false};
  s.AddTask(
      [](void* p) {
        auto* c = static_cast<Ctx*>(p);
        if (!c->added) c->added = c->s->AddTask(count, &c->child, 1) != 0;
      },
      &ctx, 1);
  s.Run(5);
  EXPECT_TRUE(ctx.added);
  EXPECT_GT(ctx.child.runs, 0u);
}

TEST(StreamClock, WithoutAClockTimeIsZero) {
  DestroyStreamClock();
  EXPECT_EQ(GetStreamClockTime(), 0u);
  CreateStreamClock();
  EXPECT_LT(GetStreamClockTime(), 1000u);
  DestroyStreamClock();
  streaming::TickClock c;
  // The engine drives the clock through its own interface.
  ::TickClock& engineView = c;
  engineView.StartWallClock(1);
  engineView.SetTime(5000);
  EXPECT_GE(engineView.GetTime(), 5000u);
  EXPECT_LT(engineView.GetTime(), 6000u);
  float r1, r2;
  c.GetRates(r1, r2);
  EXPECT_EQ(r1, 1.0f);
}

TEST(TimeTexts, DatesAndConversions) {
  // 1996-11-08 14:23:00 UTC was a Friday.
  const uint64_t t = UnixToFileTime(847462980, 250);
  char out[40];
  FormatGmtDate(t, sizeof out, out);
  EXPECT_STREQ(out, "Fri, 08 Nov 1996 14:23:00 GMT");
  FormatGmtDate(t, 10, out);
  EXPECT_STREQ(out, "");
  FormatGmtDate(UnixToFileTime(951782400, 0), sizeof out, out);  // a leap day
  EXPECT_STREQ(out, "Tue, 29 Feb 2000 00:00:00 GMT");
  uint32_t s, us;
  ASSERT_TRUE(FileTimeToUnix(t, s, us));
  EXPECT_EQ(s, 847462980u);
  EXPECT_EQ(us, 250u);
  EXPECT_FALSE(FileTimeToUnix(1000, s, us));
  EXPECT_EQ(FileTimeToNtp(UnixToFileTime(0, 0)), 2208988800ull << 32);
  EXPECT_EQ(DayOfWeek(1996, 11, 8), 5);
  EXPECT_EQ(DayOfWeek(2000, 13, 1), 0);
  ASSERT_TRUE(IsoToCtimeDate("19961108T142300", out, sizeof out));
  EXPECT_STREQ(out, "Fri Nov  8 14:23:00 1996");
  ASSERT_TRUE(CtimeToIsoDate("Fri Nov  8 14:23:00 1996", out, sizeof out));
  EXPECT_STREQ(out, "19961108T142300.000Z");
  EXPECT_FALSE(IsoToCtimeDate("1996-11-08", out, sizeof out));
}
