// The audio path's arithmetic on the values the player must reproduce.
#include "engine/audio_timing.h"

#include <gtest/gtest.h>

using namespace audio_timing;

TEST(AudioTiming, BuffersHoldWholeSampleFrames) {
  struct Case {
    uint32_t rate, channels, bits, ms, bytes;
  } cases[] = {
      {8000, 1, 16, 200, 3200},    {44100, 2, 16, 500, 88200}, {16000, 1, 16, 500, 16000},
      {11025, 1, 16, 500, 11024},  {11025, 2, 16, 500, 22048}, {22050, 1, 8, 500, 11025},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BufferBytes(c.rate, c.channels, c.bits, c.ms), c.bytes) << c.rate << " " << c.channels;
    EXPECT_EQ(BufferBytes(c.rate, c.channels, c.bits, c.ms) % (c.bits / 8 * c.channels), 0u);
  }
  EXPECT_EQ(BufferMs(8000), 200u);
  EXPECT_EQ(BufferMs(0), 200u);
  EXPECT_EQ(BufferMs(16000), 500u);
}

TEST(AudioTiming, PositionsAndWindowsInTrackUnits) {
  EXPECT_EQ(DecodePosition(10000, 400, 8000), 83200u);
  EXPECT_EQ(WindowUnits(350, 8000), 2800u);
  EXPECT_EQ(WindowUnits(250, 8000), 2000u);
  EXPECT_EQ(MsToUnits(1500, 1000), 1500u);
  EXPECT_EQ(MsToUnits(kOpenEnd, 8000), kOpenEnd);
  EXPECT_EQ(UnitsToMs(83200, 8000), 10400);
  EXPECT_EQ(UnitsToMs(-8000, 8000), -1000);
}

TEST(AudioTiming, PlayedBuffersSetTheClock) {
  // Buffer 7 after a resynchronisation at 5 with base 2000 and 200 ms buffers.
  EXPECT_EQ(ClockAfterBuffer(7, 5, 2000, 3200, 16000), 2600);
  EXPECT_EQ(ClockAfterBuffer(5, 5, 2000, 3200, 16000), 2200);
  EXPECT_EQ(ClockAfterBuffer(4, 5, 2000, 3200, 16000), -1);  // before it: no change
  // 11025 Hz mono: 11024-byte buffers are 499.95 ms; 120 of them do not
  // gain the 6 ms that whole 500 ms steps would.
  EXPECT_EQ(ClockAfterBuffer(119, 0, 0, 11024, 22050), 59994);
}

TEST(AudioTiming, FiveBufferRuleOverSourceStatuses) {
  struct Case {
    uint32_t source, mapped, sleep;
  } cases[] = {{0, 0, 0}, {4, 0, 0}, {38, 0, 0}, {1, 3, 0}, {28, 3, 0}, {5, 1, 0}, {26, 4, 20}};
  for (const Case& c : cases) {
    uint32_t sleep = 99;
    const uint32_t mapped = MapFrameStatus(c.source, &sleep);
    EXPECT_EQ(mapped, c.mapped) << c.source;
    EXPECT_EQ(sleep, c.sleep) << c.source;
    // Within five buffers of the resynchronisation every read is 1.
    for (uint32_t queued = 10; queued < 15; ++queued) EXPECT_EQ(ReadResult(mapped, queued, 10), 1u) << c.source;
    EXPECT_EQ(ReadResult(mapped, 15, 10), mapped) << c.source;
  }
}

TEST(AudioTiming, DeviceFormatAndVolume) {
  EXPECT_EQ(VolumeWord(40), 0x66666666u);
  EXPECT_EQ(VolumeWord(100), 0xFFFFFFFFu);
  EXPECT_EQ(VolumeWord(0), 0u);
  struct Case {
    uint32_t channels, rate, bits;
    bool ok;
  } cases[] = {{1, 11025, 16, true}, {2, 8000, 8, true},  {1, 7999, 16, false},
               {3, 8000, 16, false}, {1, 8000, 12, false}, {1, 8000, 0, false}};
  for (const Case& c : cases) EXPECT_EQ(FormatAcceptable(c.channels, c.rate, c.bits), c.ok) << c.channels << c.rate << c.bits;
}
