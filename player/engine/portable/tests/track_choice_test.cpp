#include <gtest/gtest.h>

#include <vector>

#include "engine/track_choice.h"

namespace {

TrackEntry Row(uint32_t id, std::u16string_view codec, uint32_t bitrate, bool playable = true) {
  TrackEntry e{};
  e.trackId = id;
  codec.copy(e.codecName, 31);
  e.bitrate = bitrate;
  e.flags = bitrate | (codec == u"AAC" ? kTrackAac : 0) | (playable ? kTrackPlayableVersion : 0);
  return e;
}

const CodecAvailability kAll[3] = {{u"AMR", true}, {u"EVRC", true}, {u"AAC", true}};

}  // namespace

TEST(TrackChoice, AacOutranksRicherAmrThroughItsBit) {
  std::vector<TrackEntry> rows = {Row(1, u"AMR", 60000), Row(2, u"AAC", 24000), Row(3, u"MP4V-ES", 80000)};
  TrackChoice c = ChooseTracks(rows.data(), 3, kAll, 3, u"");
  EXPECT_EQ(c.audio, 1);
  ASSERT_EQ(c.layers, std::vector<int>{2});
  EXPECT_NE(rows[0].flags & kTrackDecoderPresent, 0u);
  EXPECT_NE(rows[1].flags & kTrackDecoderPresent, 0u);
  EXPECT_EQ(rows[2].flags & kTrackDecoderPresent, 0u);
}

TEST(TrackChoice, EqualRowsFirstWinsAndMissingDecoderLoses) {
  std::vector<TrackEntry> rows = {Row(1, u"AMR", 12200), Row(2, u"AMR", 12200)};
  EXPECT_EQ(ChooseTracks(rows.data(), 2, kAll, 3, u"").audio, 0);

  const CodecAvailability noAmr[3] = {{u"AMR", false}, {u"EVRC", true}, {u"AAC", true}};
  rows = {Row(1, u"AMR", 12200), Row(2, u"EVRC", 8000)};
  EXPECT_EQ(ChooseTracks(rows.data(), 2, noAmr, 3, u"").audio, 1);
  EXPECT_EQ(rows[0].flags & kTrackDecoderPresent, 0u);
  // The short name must match exactly, case included.
  rows = {Row(1, u"amr", 12200)};
  ChooseTracks(rows.data(), 1, kAll, 3, u"");
  EXPECT_EQ(rows[0].flags & kTrackDecoderPresent, 0u);
}

TEST(TrackChoice, PreferredCodecWinsOrIsReportedMissing) {
  std::vector<TrackEntry> rows = {Row(1, u"AAC", 64000), Row(2, u"AMR", 12200)};
  TrackChoice c = ChooseTracks(rows.data(), 2, kAll, 3, u"AMR");
  EXPECT_TRUE(c.preferredFound);
  EXPECT_EQ(c.audio, 1);
  EXPECT_NE(rows[1].flags & kTrackPreferred, 0u);

  rows = {Row(1, u"AAC", 64000), Row(2, u"AMR", 12200)};
  c = ChooseTracks(rows.data(), 2, kAll, 3, u"EVRC");
  EXPECT_FALSE(c.preferredFound);
}

TEST(TrackChoice, VideoLayersThenTheLastH263) {
  std::vector<TrackEntry> rows = {Row(1, u"H263-1998", 40000), Row(2, u"MP4V-ES", 50000),
                                  Row(3, u"X-MP4V-IMAGE", 0), Row(4, u"H263-2000", 40000),
                                  Row(5, u"MP4V-ES", 30000)};
  TrackChoice c = ChooseTracks(rows.data(), 5, kAll, 3, u"");
  EXPECT_EQ(c.audio, -1);
  EXPECT_EQ(c.mpeg4Layers, 3u);
  EXPECT_EQ(c.layers, (std::vector<int>{1, 2, 4, 3}));
}

TEST(TrackChoice, CountIsBoundedByTheTable) {
  std::vector<TrackEntry> rows(10, Row(1, u"AMR", 100));
  rows[9] = Row(10, u"AMR", 200);
  EXPECT_EQ(ChooseTracks(rows.data(), 50, kAll, 3, u"").audio, 9);
}
