#include "flumera/media_buffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace flumera {
namespace {

TEST(MediaBuffer, TrailerTimes) {
  std::vector<uint8_t> v = {1, 2, 0x10, kVideoTag, 0, 0, 0x01, 0x00, 0, 0, 0, 66};
  MediaTimes t = ReadTimes(v.data(), 4);
  EXPECT_EQ(t.stamp, 256u);
  EXPECT_EQ(t.end, 322u);
  EXPECT_EQ(t.order, 256u);
  std::vector<uint8_t> a = {9, kAudioTag, 0, 0, 0, 40, 0, 0, 0, 20, 0, 0, 0, 30, 0, 0, 0, 80};
  t = ReadTimes(a.data(), 2);
  EXPECT_EQ(t.stamp, 40u);
  EXPECT_EQ(t.duration, 20u);
  EXPECT_EQ(t.order, 30u);
  EXPECT_EQ(t.end, 80u);
  EXPECT_EQ(TrailerBytes(kVideoTag), 8u);
  EXPECT_EQ(TrailerBytes(kAudioTag), 16u);
  EXPECT_EQ(TrailerBytes(0), 0u);
}

TEST(MediaBuffer, VideoFlags) {
  const struct { uint8_t f; uint8_t header; bool base, key; uint32_t sync; } cases[] = {
      {0x00, 0x00, true, true, 0x00},   {0x10, 0x10, true, false, 0x04},
      {0x20, 0x20, true, false, 0x08},  {0x01, 0x01, true, true, 0x80},
      {0x02, 0x00, false, true, 0x110}, {0xC0, 0x06, true, true, 0x03},
  };
  for (auto& c : cases) {
    EXPECT_EQ(VideoHeaderByte(c.f), c.header) << int(c.f);
    EXPECT_EQ(IsBaseLayer(c.f), c.base) << int(c.f);
    EXPECT_EQ(IsKeyFrame(c.f), c.key) << int(c.f);
    EXPECT_EQ(ArchiveSyncFlags(c.f), c.sync) << int(c.f);
  }
}

TEST(MediaBuffer, AmrMasks) {
  const uint8_t expected[16] = {0xFE, 0xFE, 0xFC, 0xFC, 0xF0, 0xFE, 0xF0, 0xF0, 0xFE, 0xE0, 0xFC, 0xF8, 0xFF, 0xFF, 0xFF, 0xFF};
  for (uint8_t t = 0; t < 16; ++t) EXPECT_EQ(AmrLastByteMask(t), expected[t]) << int(t);
}

TEST(MediaBuffer, AudioPacketsStayInsideTheBuffer) {
  // Two packets: three frames, then one.
  std::vector<uint8_t> b = {1, 0, 3, 2, 0, 7, 0xAA, 1, 0, 7, 3, 0, 7, 1, 2,  // packet 1
                            1, 1, 1, 1, 0, 4, kAudioTag};
  size_t at = 0;
  AudioPacket p;
  ASSERT_TRUE(NextAudioPacket(b.data(), b.size() - 1, &at, &p));
  EXPECT_EQ(p.streamId, 0);
  ASSERT_EQ(p.count, 3);
  EXPECT_EQ(p.frames[0].length, 2u);
  EXPECT_EQ(p.frames[0].data[1], 0xAA);
  EXPECT_EQ(p.frames[2].length, 3u);
  ASSERT_TRUE(NextAudioPacket(b.data(), b.size() - 1, &at, &p));
  EXPECT_EQ(p.streamId, 1);
  ASSERT_EQ(p.count, 1);
  EXPECT_EQ(p.frames[0].data[0], 4);
  EXPECT_FALSE(NextAudioPacket(b.data(), b.size() - 1, &at, &p));
  // A frame length running past the buffer: the frames before it only, and
  // the walk ends.
  std::vector<uint8_t> cut = {1, 0, 2, 1, 0, 5, 0xFF, 0xFF, 1, kAudioTag};
  at = 0;
  ASSERT_TRUE(NextAudioPacket(cut.data(), cut.size() - 1, &at, &p));
  EXPECT_EQ(p.count, 1);
  EXPECT_EQ(at, cut.size() - 1);
  EXPECT_FALSE(NextAudioPacket(cut.data(), cut.size() - 1, &at, &p));
  at = 0;
  EXPECT_FALSE(NextAudioPacket(cut.data(), 2, &at, &p));
}

}  // namespace
}  // namespace flumera
