// The local file source over files our writer makes: opening by name,
// the track table and its version gate, track selection, positioning, the
// audio groups with their header bytes, video units, and the statuses and
// texts the engine sees.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/player_ids.h"
#include "file_source.h"
#include "source_test_support.h"

using namespace source_test;

namespace {

struct Opened {
  RecordingHost host;
  std::unique_ptr<FileSource> source;
  std::vector<TrackEntry> tracks;
  int32_t count = 0;
};

std::unique_ptr<Opened> OpenClip(const std::filesystem::path& path, bool selectAll = true) {
  auto o = std::make_unique<Opened>();
  o->source = std::make_unique<FileSource>(nullptr, &o->host);
  EXPECT_EQ(o->source->Open(path.u16string().c_str(), nullptr), 0u);
  TrackEntry* t = o->source->GetTrackList(&o->count);
  for (int32_t i = 0; i < o->count; ++i) o->tracks.push_back(t[i]);
  if (selectAll)
    for (const TrackEntry& e : o->tracks) o->source->SelectTrack(e.trackId);
  return o;
}

std::u16string Codec(const TrackEntry& t) { return t.codecName; }

struct Group {
  uint32_t status;
  uint32_t timestamp;
  std::vector<uint8_t> bytes;
};

Group NextGroup(FileSource& s, uint32_t capacity = 4096) {
  std::vector<uint8_t> buffer(capacity, 0xEE);
  Group g{};
  uint32_t length = 0xDEAD;
  g.status = s.GetAudioFrame(buffer.data(), capacity, 0, &g.timestamp, &length);
  EXPECT_LE(length, capacity);
  g.bytes.assign(buffer.begin(), buffer.begin() + (length <= capacity ? length : 0));
  return g;
}

class FileSourceTest : public ::testing::Test {
 protected:
  std::filesystem::path dir = ScratchDir();
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::filesystem::path Clip(const std::string& name, const FileSpec& spec) {
    WriteClip(dir / name, spec);
    return dir / name;
  }
};

}  // namespace

TEST_F(FileSourceTest, OpensOnlyNamesEndingInMp4) {
  const auto clip = Clip("clip.mp4", {{{TrackSpec::kAmr, 5}}});
  struct Case {
    std::string name;
    bool opens;
  } cases[] = {
      {"clip.mp4", true},         {"UPPER.MP4", true},         {"Mixed.Mp4", true},
      {"clip.mp4.bak", false},    {"a.mp4.b.mp4", false},      {"clip.tmp", false},
      {"clipmp4", false},
  };
  for (const Case& c : cases) {
    if (c.name != "clip.mp4") std::filesystem::copy_file(clip, dir / c.name);
    RecordingHost host;
    FileSource source(nullptr, &host);
    const std::u16string path = (dir / c.name).u16string();
    const uint32_t rc = source.Open(path.c_str(), nullptr);
    EXPECT_EQ(rc, c.opens ? 0u : 13u) << c.name;
    if (c.opens) {
      EXPECT_TRUE(host.errors.empty()) << c.name;
      EXPECT_EQ(host.openResults, std::vector<uint32_t>{0}) << c.name;
      EXPECT_EQ(source.GetSourceType(), 1u);
    } else {
      ASSERT_EQ(host.errors.size(), 1u) << c.name;
      EXPECT_EQ(host.errors[0].first, ids::kMsgUnableToPlayClip);
      EXPECT_EQ(host.errors[0].second, path);
      EXPECT_TRUE(host.openResults.empty());
    }
  }
}

TEST_F(FileSourceTest, UnreadableFilesAreRefusedWithTheirName) {
  {
    std::FILE* f = std::fopen((dir / "junk.mp4").string().c_str(), "wb");
    std::fputs("this is not an MP4 file at all", f);
    std::fclose(f);
  }
  for (const char* name : {"missing.mp4", "junk.mp4"}) {
    RecordingHost host;
    FileSource source(nullptr, &host);
    const std::u16string path = (dir / name).u16string();
    EXPECT_EQ(source.Open(path.c_str(), nullptr), 13u) << name;
    ASSERT_EQ(host.errors.size(), 1u);
    EXPECT_EQ(host.errors[0], std::make_pair(ids::kMsgUnableToPlayClip, path));
    int32_t count = 0;
    source.GetTrackList(&count);
    EXPECT_EQ(count, -1);
  }
}

TEST_F(FileSourceTest, ClipTextsAndDuration) {
  FileSpec spec{{{TrackSpec::kAmr, 50}}};
  auto o = OpenClip(Clip("a.mp4", spec));
  EXPECT_EQ(std::u16string(o->source->GetTitle()), u"Clip title");
  EXPECT_EQ(std::u16string(o->source->GetClipText(MediaSource::kAuthor)), u"Author");
  EXPECT_EQ(o->source->GetDuration(), 1000u);
  uint32_t s = 1, e = 1;
  o->source->GetPlayRange(&s, &e);
  EXPECT_EQ(s, 0u);
  EXPECT_EQ(e, 1000u);

  spec.title.clear();
  auto untitled = OpenClip(Clip("b.mp4", spec));
  EXPECT_EQ(std::u16string(untitled->source->GetTitle()), u"Untitled");
}

TEST_F(FileSourceTest, TrackTableAndContentVersionGate) {
  FileSpec spec{{{TrackSpec::kAac, 10, 64}, {TrackSpec::kVideo, 10, 66}}};
  auto plain = OpenClip(Clip("plain.mp4", spec), false);
  ASSERT_EQ(plain->count, 2);
  EXPECT_EQ(Codec(plain->tracks[0]), u"AAC");
  EXPECT_EQ(plain->tracks[0].flags, 12200u | kTrackAac | kTrackPlayableVersion);
  EXPECT_EQ(Codec(plain->tracks[1]), u"MP4V-ES");
  EXPECT_EQ(plain->tracks[1].flags, 64000u | kTrackPlayableVersion);
  EXPECT_EQ(plain->tracks[0].selected, 0u);

  // With a content version text the check is on; a 3.x file passes it.
  FileSpec v = spec;
  v.versionText = u"3.0";
  auto versioned = OpenClip(Clip("v3.mp4", v), false);
  ASSERT_EQ(versioned->count, 2);
  EXPECT_TRUE(versioned->tracks[1].flags & kTrackPlayableVersion);
  // Files of another major are refused by the reader already, as a file
  // that cannot be played.
  for (uint8_t major : {2, 4}) {
    v.contentMajor = major;
    const auto path = Clip("v" + std::to_string(major) + ".mp4", v);
    RecordingHost host;
    FileSource source(nullptr, &host);
    EXPECT_EQ(source.Open(path.u16string().c_str(), nullptr), 13u) << int(major);
  }
}

TEST_F(FileSourceTest, SelectionSetsContentAndIgnoresASecondBaseLayer) {
  FileSpec spec{{{TrackSpec::kAmr, 10}, {TrackSpec::kVideo, 10, 66}, {TrackSpec::kVideo, 10, 66}}};
  auto o = OpenClip(Clip("two.mp4", spec));
  ASSERT_EQ(o->count, 3);
  EXPECT_EQ(o->source->GetContentFlags(), kContentAudio | kContentVideo);
  EXPECT_EQ(o->source->GetVideoLayerCount(), 1u);
  EXPECT_EQ(o->source->videoTrackId[0], static_cast<int32_t>(o->tracks[1].trackId));
  EXPECT_EQ(o->source->videoTrackId[1], -1);
  EXPECT_EQ(o->source->audioTrackId, static_cast<int32_t>(o->tracks[0].trackId));
  EXPECT_EQ(o->source->FindTrack(o->tracks[2].trackId)->selected, 1u);
  // A new list resets the selection.
  int32_t count = 0;
  o->source->GetTrackList(&count);
  EXPECT_EQ(o->source->GetContentFlags(), 0u);
  EXPECT_EQ(o->source->audioTrackId, -1);
}

TEST_F(FileSourceTest, AmrGroupsCarryTheirHeaderBytes) {
  FileSpec spec{{{TrackSpec::kAmr, 23, 20, 7}}};
  auto o = OpenClip(Clip("amr.mp4", spec));
  EXPECT_EQ(o->source->SetAudioTrack(o->tracks[0].trackId), 1000u);
  ASSERT_EQ(o->source->SetPlayRange(0, kPlayToEnd), 0u);
  const uint32_t frame = AmrBytes(7);
  const uint32_t sizes[] = {10, 10, 3};
  uint32_t sample = 0;
  for (uint32_t n : sizes) {
    const Group g = NextGroup(*o->source);
    ASSERT_EQ(g.status, kFrameDelivered);
    EXPECT_EQ(g.timestamp, sample * 20);
    ASSERT_EQ(g.bytes.size(), 1 + n + n * frame);
    EXPECT_EQ(g.bytes[0], n);
    for (uint32_t i = 0; i < n; ++i) EXPECT_EQ(g.bytes[1 + i], i + 1 < n ? 0xBC : 0x3C) << i;
    for (uint32_t i = 0; i < n; ++i) {
      const auto want = Payload(0, sample + i, frame);
      // The writer clears the unused bits of the last byte of a stored frame.
      EXPECT_TRUE(std::equal(want.begin(), want.end() - 1, g.bytes.begin() + 1 + n + i * frame)) << i;
    }
    sample += n;
  }
  const Group end = NextGroup(*o->source);
  EXPECT_EQ(end.status, kFrameEndOfMedia);
  EXPECT_TRUE(end.bytes.empty());
  EXPECT_EQ(o->host.statusTexts, std::vector<uint32_t>{ids::kStatusPlaying});
}

TEST_F(FileSourceTest, ThreeAmrFramesOfModeSevenGiveTheHeaderOfTheExample) {
  auto o = OpenClip(Clip("three.mp4", {{{TrackSpec::kAmr, 3, 20, 7}}}));
  o->source->SetAudioTrack(o->tracks[0].trackId);
  o->source->SetPlayRange(0, kPlayToEnd);
  const Group g = NextGroup(*o->source);
  ASSERT_GE(g.bytes.size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(g.bytes.begin(), g.bytes.begin() + 4), (std::vector<uint8_t>{3, 0xBC, 0xBC, 0x3C}));
}

TEST_F(FileSourceTest, EvrcAndAacHeaderBytes) {
  auto evrc = OpenClip(Clip("evrc.mp4", {{{TrackSpec::kEvrc, 2, 20, 4}}}));
  evrc->source->SetAudioTrack(evrc->tracks[0].trackId);
  evrc->source->SetPlayRange(0, kPlayToEnd);
  Group g = NextGroup(*evrc->source);
  ASSERT_EQ(g.bytes.size(), 3u + 2 * EvrcBytes(4));
  EXPECT_EQ(g.bytes[1], 0xA4);
  EXPECT_EQ(g.bytes[2], 0x84);

  // AAC: the counted header bytes are zeros, then the samples.
  auto aac = OpenClip(Clip("aac.mp4", {{{TrackSpec::kAac, 4, 64}}}));
  aac->source->SetAudioTrack(aac->tracks[0].trackId);
  aac->source->SetPlayRange(0, kPlayToEnd);
  g = NextGroup(*aac->source);
  ASSERT_EQ(g.bytes[0], 4);
  EXPECT_EQ(std::vector<uint8_t>(g.bytes.begin() + 1, g.bytes.begin() + 5), std::vector<uint8_t>(4, 0));
  const auto first = Payload(0, 0, 60);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), g.bytes.begin() + 5));
  uint32_t size = 0;
  const uint8_t* asc = aac->source->GetAudioConfig(aac->tracks[0].trackId, &size);
  ASSERT_EQ(size, 2u);
  EXPECT_EQ(asc[0], 0x14);
  EXPECT_EQ(asc[1], 0x08);
}

TEST_F(FileSourceTest, GroupsAreBoundedByTheBuffer) {
  auto o = OpenClip(Clip("amr.mp4", {{{TrackSpec::kAmr, 12, 20, 7}}}));
  o->source->SetAudioTrack(o->tracks[0].trackId);
  o->source->SetPlayRange(0, kPlayToEnd);
  const uint32_t frame = AmrBytes(7);  // 31
  // Room for two samples and a half: two go, the third waits.
  Group g = NextGroup(*o->source, 1 + 2 * (1 + frame) + 16);
  ASSERT_EQ(g.status, kFrameDelivered);
  EXPECT_EQ(g.bytes[0], 2);
  EXPECT_EQ(g.bytes.size(), 1 + 2 * (1 + frame));
  EXPECT_EQ(g.bytes[2], 0x3C);  // the last of its group
  // Too small for one: nothing is taken, and the next read gets it.
  g = NextGroup(*o->source, frame);
  EXPECT_EQ(g.status, kFrameNone);
  EXPECT_TRUE(g.bytes.empty());
  g = NextGroup(*o->source);
  EXPECT_EQ(g.timestamp, 40u);
  EXPECT_EQ(g.bytes[0], 10);
}

TEST_F(FileSourceTest, PositioningStatusesAndTheEndOfTheRange) {
  FileSpec spec{{{TrackSpec::kAmr, 100, 20, 7}, {TrackSpec::kVideo, 30, 66}}};
  auto o = OpenClip(Clip("av.mp4", spec));
  o->source->SetAudioTrack(o->tracks[0].trackId);
  o->host.state = kStatePaused;
  // Video sync samples every 5th at 66 ms steps: the nearest before 700 is 660.
  ASSERT_EQ(o->source->SetPlayRange(700, 1200), 0u);
  EXPECT_EQ(o->host.position, 660u);
  EXPECT_EQ(o->host.statusTexts, std::vector<uint32_t>{ids::kStatusPositioning});
  std::vector<uint32_t> statuses;
  for (;;) {
    const Group g = NextGroup(*o->source);
    const uint32_t tMs = g.timestamp;
    statuses.push_back(g.status);
    if (g.status == kFrameEndOfMedia) break;
    if (g.status == kFrameBeforeStart) {
      EXPECT_LT(tMs, 700u);
    } else if (g.status == kFrameDelivered) {
      EXPECT_GE(tMs, 700u);
    }
  }
  // 660, 680 before the start; then groups up to 1200, then the end.
  EXPECT_EQ(statuses.front(), kFrameBeforeStart);
  EXPECT_EQ(statuses.back(), kFrameEndOfMedia);
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), kFrameDelivered), statuses.end());
  EXPECT_EQ(o->host.statusTexts.back(), ids::kStatusPlaying);
  EXPECT_EQ(o->source->playing, 1u);
}

TEST_F(FileSourceTest, StopsDeliveringOnceTheEngineStops) {
  auto o = OpenClip(Clip("amr.mp4", {{{TrackSpec::kAmr, 30}}}));
  o->source->SetAudioTrack(o->tracks[0].trackId);
  o->source->SetPlayRange(0, kPlayToEnd);
  EXPECT_EQ(NextGroup(*o->source).status, kFrameDelivered);
  o->host.state = kStateStopping;
  EXPECT_EQ(NextGroup(*o->source).status, kFrameEndOfMedia);
}

TEST_F(FileSourceTest, StillImageOnlyAndVideoOnlySelections) {
  // Audio in the file but only video selected, from the start: the notice,
  // and video delivers without waiting for audio.
  FileSpec spec{{{TrackSpec::kAmr, 10}, {TrackSpec::kVideo, 4, 66}}};
  auto o = OpenClip(Clip("av.mp4", spec), false);
  o->source->SelectTrack(o->tracks[1].trackId);
  ASSERT_EQ(o->source->SetPlayRange(0, kPlayToEnd), 0u);
  ASSERT_EQ(o->host.errors.size(), 1u);
  EXPECT_EQ(o->host.errors[0].first, ids::kMsgVideoOnly);
  EXPECT_EQ(o->source->videoOnly, 1u);
  std::vector<uint8_t> buffer(o->source->GetMaxVideoFrameSize(0));
  uint32_t ts = 0, length = 0, units = 0;
  while (o->source->GetVideoFrame(buffer.data(), uint32_t(buffer.size()), 0, &ts, &length) == kFrameDelivered) {
    EXPECT_EQ(ts, units * 66);
    const auto want = Payload(1, units, 300 + units % 50);
    ASSERT_EQ(length, want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), buffer.begin()));
    ++units;
  }
  EXPECT_EQ(units, 4u);
  EXPECT_EQ(o->source->GetHighestTime(), 198u);

  // A still image alone cannot play.
  RecordingHost host;
  FileSource still(nullptr, &host);
  still.contentFlags = kContentStill;
  EXPECT_EQ(still.SetPlayRange(0, kPlayToEnd), 23u);
  ASSERT_EQ(host.errors.size(), 1u);
  EXPECT_EQ(host.errors[0].first, ids::kMsgCannotPlayAudio);
}

TEST_F(FileSourceTest, VideoUnitTooLargeForTheBufferIsNotConsumed) {
  FileSpec spec{{{TrackSpec::kVideo, 3, 66}}};
  auto o = OpenClip(Clip("v.mp4", spec));
  o->source->SetPlayRange(0, kPlayToEnd);
  std::vector<uint8_t> buffer(1000);
  uint32_t ts = 0, length = 77;
  EXPECT_EQ(o->source->GetVideoFrame(buffer.data(), 100, 0, &ts, &length), kFrameNone);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(o->source->GetVideoFrame(buffer.data(), 1000, 0, &ts, &length), kFrameDelivered);
  EXPECT_EQ(length, 300u);
  EXPECT_EQ(ts, 0u);
}

TEST_F(FileSourceTest, PauseAndResumeWherePaused) {
  auto o = OpenClip(Clip("amr.mp4", {{{TrackSpec::kAmr, 30}}}));
  o->source->SetAudioTrack(o->tracks[0].trackId);
  o->source->SetPlayRange(0, kPlayToEnd);
  NextGroup(*o->source);
  o->host.state = kStatePlaying;
  o->host.position = 4321;
  o->source->Pause();
  o->host.position = 9999;
  EXPECT_EQ(o->source->Resume(-1), 0u);
  EXPECT_EQ(o->host.position, 4321u);
  EXPECT_EQ(o->source->playing, 0u);
  EXPECT_EQ(o->host.statusTexts.back(), ids::kStatusPlaying);
  // With a position: a seek, delivered from that time on.
  o->source->Resume(400);
  EXPECT_EQ(o->source->SeekPending(), 1u);
  const Group g = NextGroup(*o->source);
  EXPECT_EQ(g.timestamp, 400u);
  EXPECT_EQ(g.status, kFrameDelivered);
  EXPECT_EQ(o->source->SeekPending(), 0u);
}

TEST_F(FileSourceTest, FinishLogsTheLastTimeStamps) {
  auto o = OpenClip(Clip("amr.mp4", {{{TrackSpec::kAmr, 15}}}));
  o->source->SetAudioTrack(o->tracks[0].trackId);
  o->source->SetPlayRange(0, kPlayToEnd);
  while (NextGroup(*o->source).status == kFrameDelivered) {
  }
  o->source->Finish();
  const auto& log = o->host.log;
  EXPECT_NE(std::find(log.begin(), log.end(), "First audio timestamp: 0\n"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "Last audio timestamp: 200\n"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "Last video[0] timestamp: -1\n"), log.end());
}
