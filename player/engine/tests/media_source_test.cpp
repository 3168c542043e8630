#include <gtest/gtest.h>

#include "media_source.h"

namespace {

// Implements only what every kind must; everything else is the base's.
class BareSource : public MediaSource {
 public:
  BareSource() : MediaSource(nullptr) { kind = 1; }
  uint32_t Open(const char16_t*, const ClipAccessInfo*) override { return 0; }
  uint32_t SetPlayRange(uint32_t s, uint32_t e) override {
    playStartMs = s;
    playEndMs = e == kPlayToEnd ? durationMs : e;
    return 0;
  }
  uint32_t Pause() override { return 0; }
  uint32_t Resume(int32_t) override { return 0; }
  uint32_t Finish() override { return 0; }
  const uint8_t* GetVideoConfig(uint32_t, uint32_t* size) override {
    *size = 0;
    return nullptr;
  }
  uint32_t GetAudioFrame(uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override { return kFrameNone; }
  uint32_t GetVideoFrame(uint8_t*, uint32_t, uint32_t, uint32_t*, uint32_t*) override { return kFrameNone; }
  uint32_t GetMaxAudioFrameSize() override { return 0; }
  uint32_t GetMaxVideoFrameSize(uint32_t) override { return 0; }
  TrackEntry* GetTrackList(int32_t* count) override {
    *count = static_cast<int32_t>(trackCount);
    return tracks;
  }
  uint32_t SelectTrack(uint32_t) override { return 0; }
  uint32_t GetBufferLevel() override { return 0; }
  float GetContentVersion(uint32_t) override { return 3.0f; }
};

}  // namespace

TEST(MediaSource, BaseDefaults) {
  BareSource s;
  s.durationMs = 12000;
  s.SetPlayRange(500, kPlayToEnd);
  uint32_t start = 0, end = 0;
  EXPECT_EQ(s.GetPlayRange(&start, &end), 0u);
  EXPECT_EQ(start, 500u);
  EXPECT_EQ(end, 12000u);
  EXPECT_EQ(s.GetRate(), 1.0f);
  EXPECT_EQ(s.GetMaxBufferedData(), 0u);
  EXPECT_EQ(s.SetMaxBufferedData(9000), 0u);
  EXPECT_EQ(s.IsLive(), 0u);
  EXPECT_EQ(s.IsBuffering(), 0u);
  EXPECT_EQ(s.GetAccessInfo(), nullptr);
  EXPECT_EQ(s.Close(), 0u);
  EXPECT_EQ(s.Suspend(), 0u);
  EXPECT_EQ(s.GetDownloadInfo(), 0u);
  int32_t remaining = 5;
  EXPECT_EQ(s.GetDownloadProgress(&remaining), 0u);
  EXPECT_EQ(remaining, 0);
  uint32_t size = 7;
  EXPECT_EQ(s.GetAudioConfig(1, &size), nullptr);
  EXPECT_EQ(size, 0u);
  s.audioTimescale = 8000;
  EXPECT_EQ(s.SetAudioTrack(3), 8000u);
  s.videoTimescale[1] = 30;
  EXPECT_EQ(s.GetVideoTimescaleMs(1), 30000u);
  EXPECT_EQ(s.GetSourceType(), 1u);
}

TEST(MediaSource, ConvertTimeByKind) {
  BareSource s;
  s.audioTimescale = 8000;
  s.videoTimescale[0] = 90000;
  s.videoTimescale[1] = 1000;
  struct Case {
    uint32_t kind, units, stamp, want;
  };
  const Case cases[] = {
      {0, 1000, 16000, 2000},
      {1, 1000, 90000, 1000},
      {2, 1000, 1234, 1234},
      {1, 1000, 0xFFFFFFFFu, static_cast<uint32_t>(0xFFFFFFFFull * 1000 / 90000)},  // 64-bit product
      {3, 1000, 5000, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(s.ConvertTime(c.kind, c.units, c.stamp), c.want) << c.kind;
  s.audioTimescale = 0;  // no audio track: no division by zero
  EXPECT_EQ(s.ConvertTime(0, 1000, 5000), 0u);
}

TEST(MediaSource, FindTrackAmongTheTableOnly) {
  BareSource s;
  for (uint32_t i = 0; i < kMaxTracks; ++i) s.tracks[i].trackId = i + 1;
  s.trackCount = 3;
  EXPECT_EQ(s.FindTrack(2), &s.tracks[1]);
  EXPECT_EQ(s.FindTrack(5), nullptr);  // beyond the tracks the clip has
  EXPECT_EQ(s.FindTrack(0), nullptr);
  s.trackCount = kMaxTracks;
  EXPECT_EQ(s.FindTrack(10), &s.tracks[9]);
  EXPECT_EQ(s.FindTrack(11), nullptr);
}

TEST(MediaSource, LocationAndAccessRecordAreCopiedBounded) {
  BareSource s;
  ClipAccessInfo info{};
  info.present = 1;
  info.startMs = 1234;
  EXPECT_TRUE(s.StoreLocation(u"c:\\a.mp4", &info));
  EXPECT_EQ(s.accessInfo.startMs, 1234u);
  EXPECT_TRUE(s.StoreLocation(u"c:\\b.mp4", nullptr));
  EXPECT_EQ(s.accessInfo.present, 0u);  // zeroed without a record
  const std::u16string tooLong(256, u'x');
  EXPECT_FALSE(s.StoreLocation(tooLong.c_str(), nullptr));
  EXPECT_EQ(std::u16string(s.location), u"c:\\b.mp4");
}
