// The summary panel's values from the session record, the Encoding tab's
// columns and the shortening of paths.
#include <gtest/gtest.h>

#include <string>

#include "scrivel/summary_format.h"

namespace scrivel {
namespace {


SummarySources Devices() {
  SummarySources s;
  s.audioDeviceNames = {u"Line In", u"Microphone"};
  s.videoDeviceNames = {u"Camera A", u"Camera B"};
  s.panelWidth = 400;
  return s;
}

TEST(SummaryPanel, EncodingColumnsFromHeaderLengths) {
  EXPECT_EQ(ColumnHeader(u"Video"), u"Video" + std::u16string(20, u' '));
  const EncodingColumns c = ComputeEncodingColumns();
  EXPECT_EQ(std::vector<int>({c.videoCodec, c.videoTarget, c.videoActual, c.videoUnit, c.audioCodec,
                              c.audioTarget, c.audioActual, c.audioUnit}),
            std::vector<int>({10, 90, 172, 224, 312, 392, 474, 529}));
  // Another measure moves every column but the first by its own rule.
  const EncodingColumns z = ComputeEncodingColumns(PanelTexts(), [](std::u16string_view) { return 0; });
  EXPECT_EQ(std::vector<int>({z.videoCodec, z.videoTarget, z.videoActual, z.videoUnit, z.audioCodec,
                              z.audioTarget, z.audioActual, z.audioUnit}),
            std::vector<int>({10, 40, 70, 70, 150, 180, 210, 265}));
  // Longer words of another language push the columns right.
  PanelTexts german;
  german.target = u"Zielwert";
  const EncodingColumns g = ComputeEncodingColumns(german);
  EXPECT_EQ(g.videoActual, 176);
  EXPECT_EQ(g.audioCodec, 316);
}

TEST(SummaryPanel, LimitsAndDestination) {
  struct Case {
    const char* what;
    int32_t maxSize;
    float maxDuration;
    int32_t unit;
    int32_t mediaOut;
    std::u16string sizeText, durationText, label, destination;
  } const cases[] = {
      {"no limits, streaming", 0, 0, 1, 0, u"--", u"--", u"Streaming:", u"Broadcast to KRServer on port 7000"},
      {"1.5 minutes", 250, 1.5f, kMinutes, 4, u"250 KB", u"00:01:30", u"Streaming:", u"Broadcast to KRServer on port 7000"},
      {"seconds", 65535, 59.9f, kSeconds, 1, u"65535 KB", u"00:00:59", u"Archive:", u"C:\\out\\clip.mp4"},
      {"hours to a day", 0, 24, kHours, 1, u"--", u"1:00:00:00", u"Archive:", u"C:\\out\\clip.mp4"},
      {"days", 0, 2.5f, kDays, 1, u"--", u"2:12:00:00", u"Archive:", u"C:\\out\\clip.mp4"},
      {"unknown unit counts seconds", 0, 90, 7, 1, u"--", u"00:01:30", u"Archive:", u"C:\\out\\clip.mp4"},
      {"negative limits", -1, -2, kMinutes, 12, u"--", u"--", u"Streaming:", u"Broadcast to KRServer on port 7000"},
  };
  for (const Case& c : cases) {
    CSessionSettings r;
    r.maxSize = c.maxSize;
    r.maxDuration = c.maxDuration;
    r.unitDuration = c.unit;
    r.mediaOut = c.mediaOut;
    r.SetOutputFileName(u"C:\\out\\clip.mp4");
    const SummaryValues v = FormatSummaryValues(r, Devices());
    EXPECT_EQ(v.MaxSizeText, c.sizeText) << c.what;
    EXPECT_EQ(v.MaxDurationText, c.durationText) << c.what;
    EXPECT_EQ(v.DestinationLabel, c.label) << c.what;
    EXPECT_EQ(v.Destination, c.destination) << c.what;
    EXPECT_EQ(v.DestinationShort, c.destination) << c.what;
  }
}

TEST(SummaryPanel, Sources) {
  struct Case {
    const char* what;
    std::function<void(CSessionSettings&)> set;
    std::u16string video, videoSize, frameRate, audio;
  } const cases[] = {
      {"live capture", [](auto&) {}, u"Camera A", u"320 x 240", u"15.00 fps", u"Line In"},
      {"live, no audio device", [](auto& r) { r.audioDeviceIndex = kNoAudioDevice; r.videoDeviceIndex = 1; },
       u"Camera B", u"320 x 240", u"15.00 fps", u"--"},
      {"live, audio only", [](auto& r) { r.streamOut = 1; r.audioDeviceIndex = 1; }, u"Camera A", u"", u"", u"Microphone"},
      {"live, index past the list", [](auto& r) { r.videoDeviceIndex = 4; r.audioDeviceIndex = 2; }, u"",
       u"320 x 240", u"15.00 fps", u""},
      {"live still image", [](auto& r) { r.streamOut = 5; }, u"C:\\img\\still.bmp", u"352 x 288", u"", u"Line In"},
      {"file with both", [](auto& r) { r.liveCapture = 0; r.fileHasAudio = r.fileHasVideo = 1; },
       u"C:\\in\\clip.avi", u"176 x 144", u"29.97 fps", u"C:\\in\\clip.avi"},
      {"file without video", [](auto& r) { r.liveCapture = 0; r.fileHasAudio = 1; }, u"None", u"", u"",
       u"C:\\in\\clip.avi"},
      {"file without audio, video only", [](auto& r) { r.liveCapture = 0; r.fileHasVideo = 1; r.streamOut = 2; },
       u"C:\\in\\clip.avi", u"176 x 144", u"29.97 fps", u"None"},
      {"file, still image replaces video", [](auto& r) { r.liveCapture = 0; r.fileHasAudio = r.fileHasVideo = 1; r.streamOut = 5; },
       u"C:\\img\\still.bmp", u"352 x 288", u"", u"C:\\in\\clip.avi"},
  };
  for (const Case& c : cases) {
    CSessionSettings r;
    r.capWidth = 320;
    r.capHeight = 240;
    r.captureFrameRate = 15;
    r.SetInputFile(u"C:\\in\\clip.avi");
    r.fileWidth = 176;
    r.fileHeight = 144;
    r.fileFrameRate = 29.97f;
    r.SetStillImageFile(u"C:\\img\\still.bmp");
    r.stillImageWidth = 352;
    r.stillImageHeight = 288;
    c.set(r);
    const SummaryValues v = FormatSummaryValues(r, Devices());
    EXPECT_EQ(v.VideoSource, c.video) << c.what;
    EXPECT_EQ(v.VideoSourceShort, c.video) << c.what;  // no compaction given
    EXPECT_EQ(v.VideoSize, c.videoSize) << c.what;
    EXPECT_EQ(v.FrameRate, c.frameRate) << c.what;
    EXPECT_EQ(v.AudioSource, c.audio) << c.what;
  }
}

TEST(SummaryPanel, Targets) {
  CSessionSettings one;
  one.baseBitRate = 23040;
  one.enBitRate = 64000;
  one.baseFrameRate = 7.5f;
  one.enFrameRate = 15;
  SummaryValues v = FormatSummaryValues(one, Devices());
  EXPECT_EQ(std::tuple(v.TargetCodec, v.TargetSize, v.TargetBitRate, v.TargetFrameRate),
            std::tuple(u"KR MP4", u"128 x 96", u"23.040", u"7.50"));
  ASSERT_EQ(v.AudioCount, 1);
  EXPECT_EQ(std::tuple(v.AudioCodecNames[0], v.AudioBitRates[0]), std::tuple(u"GSM_AMR", u"4.75"));

  CSessionSettings two = one;
  two.nLayers = 2;
  two.enBitRate = 23040;
  v = FormatSummaryValues(two, Devices());
  EXPECT_EQ(std::tuple(v.TargetBitRate, v.TargetFrameRate), std::tuple(u"23.040", u"15.00"));

  // Audio only: no video targets; still image: codec and size only.
  CSessionSettings audio = one;
  audio.streamOut = 1;
  v = FormatSummaryValues(audio, Devices());
  EXPECT_EQ(std::tuple(v.TargetCodec, v.TargetBitRate, v.AudioCount), std::tuple(u"", u"", 1));
  CSessionSettings still = one;
  still.streamOut = 5;
  v = FormatSummaryValues(still, Devices());
  EXPECT_EQ(std::tuple(v.TargetCodec, v.TargetSize, v.TargetBitRate, v.AudioCount),
            std::tuple(u"KR MP4", u"128 x 96", u"", 1));
  // Video only lists no audio.
  CSessionSettings video = one;
  video.streamOut = 2;
  EXPECT_EQ(FormatSummaryValues(video, Devices()).AudioCount, 0);
}

TEST(SummaryPanel, AudioListsHoldFourOfFiveEntries) {
  CSessionSettings r;
  r.audio.stream[0] = {2, 1, 48000, 96000, 2};
  r.audio.stream[1] = {1, 1, 8000, 9200, 1};
  r.audio.stream[2] = {0, 0, 8000, 12200, 1};  // not enabled
  r.audio.stream[3] = {7, 1, 8000, 5000, 1};   // unknown codec
  r.audio.stream[4] = {0, 1, 8000, 7950, 1};
  SummaryValues v = FormatSummaryValues(r, Devices());
  ASSERT_EQ(v.AudioCount, 4);
  EXPECT_EQ(v.AudioCodecNames, (std::array<std::u16string, 4>{u"AAC", u"EVRC", u"", u"GSM_AMR"}));
  EXPECT_EQ(v.AudioBitRates, (std::array<std::u16string, 4>{u"96.00", u"9.20", u"5.00", u"7.95"}));

  r.audio.stream[2].enabled = 1;  // five enabled: the fifth is not listed
  v = FormatSummaryValues(r, Devices());
  ASSERT_EQ(v.AudioCount, 4);
  EXPECT_EQ(v.AudioCodecNames, (std::array<std::u16string, 4>{u"AAC", u"EVRC", u"GSM_AMR", u""}));
}

// The shell's compaction, imitated: a path fits at 7 pixels a character;
// one that does not fit gets "..." in place of its middle, but only when
// it is long enough to keep its start and end (else the call fails).
bool Compact(std::u16string& path, int width) {
  const size_t fits = static_cast<size_t>(width / 7);
  if (path.size() <= fits) return true;
  if (fits < 12 || path.size() > 200) return false;
  const size_t keep = fits - 3;
  path = path.substr(0, keep / 2) + u"..." + path.substr(path.size() - (keep - keep / 2));
  return true;
}

TEST(SummaryPanel, PathsShortenedToTheWidth) {
  const std::u16string longPath = u"C:\\Documents and Settings\\editor\\My Clips\\2026\\news\\evening.avi";
  struct Case {
    const char* what;
    std::u16string path;
    int width;
    std::u16string shortened;
  } const cases[] = {
      {"fits", u"C:\\in\\clip.avi", 400, u"C:\\in\\clip.avi"},
      {"compacted", longPath, 210, u"C:\\Documents ...ws\\evening.avi"},
      // Too narrow to compact: cut a character at a time, never below two.
      {"too narrow", longPath, 35, u"C:\\Do"},
      {"nothing fits", longPath, 0, u"C:"},
      // Over 259 characters: only the first 259 are offered, then cut while it fails.
      {"very long", std::u16string(300, u'x'), 210, u"xxxxxxxxxxxxx...xxxxxxxxxxxxxx"},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortenPath(c.path, c.width, Compact), c.shortened) << c.what;

  CSessionSettings r;
  r.liveCapture = 0;
  r.fileHasAudio = r.fileHasVideo = 1;
  r.mediaOut = kFileOutput;
  r.SetInputFile(longPath);
  r.SetOutputFileName(longPath);
  SummarySources s = Devices();
  s.panelWidth = 233;  // 9/10 of it is 209
  s.compact = Compact;
  const SummaryValues v = FormatSummaryValues(r, s);
  EXPECT_EQ(v.VideoSource, longPath);
  // Sources are compacted to 9/10 of the panel's width, the destination to all of it.
  std::u16string at209 = longPath, at233 = longPath;
  ASSERT_TRUE(Compact(at209, 209) && Compact(at233, 233));
  EXPECT_NE(at209, at233);
  EXPECT_EQ(v.VideoSourceShort, at209);
  EXPECT_EQ(v.AudioSourceShort, at209);
  EXPECT_EQ(v.DestinationShort, at233);
  EXPECT_LE(v.DestinationShort.size() * 7, 233u);
}

}  // namespace
}  // namespace scrivel
