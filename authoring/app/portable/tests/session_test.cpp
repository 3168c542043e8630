// The session model: the record's reset values, copy, the three compare
// widths, bounded texts, file titles, the session object against a
// recording encoder view, and the snapshot orders.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "scrivel/session_settings.h"
#include "scrivel/setting_items.h"

namespace scrivel {
namespace {

using Text = std::u16string;

TEST(SessionSettings, ResetGivesTheDefaults) {
  CSessionSettings r;
  r.baseBitRate = 1;
  r.SetClipText(kClipTitle, u"x");
  r.portNumber[0] = 1;
  r.Reset();
  EXPECT_EQ(r.baseBitRate, 18290);
  EXPECT_EQ(r.enBitRate, 18290);
  EXPECT_EQ(r.nLayers, 1);
  EXPECT_EQ(r.encWidth, 128);
  EXPECT_EQ(r.encHeight, 96);
  EXPECT_EQ(r.iFrameInterval, 10);
  EXPECT_EQ(r.bandwidth, 23040);
  EXPECT_EQ(r.streamOut, 3);
  const mediaengine::KRAudioStreamEntry amr{0, 1, 8000, 4750, 1}, evrc{1, 0, 8000, 9200, 1};
  for (const auto& [i, want] : {std::pair{0, amr}, std::pair{1, evrc}, std::pair{2, mediaengine::KRAudioStreamEntry{-1, 0, 0, 0, 0}},
                                std::pair{4, mediaengine::KRAudioStreamEntry{-1, 0, 0, 0, 0}}}) {
    const auto& e = r.audio.stream[i];
    EXPECT_EQ(std::tuple(e.codec, e.enabled, e.samplingRate, e.bitRate, e.channels),
              std::tuple(want.codec, want.enabled, want.samplingRate, want.bitRate, want.channels))
        << "entry " << i;
  }
  EXPECT_EQ(std::tuple(r.bEncodeDownloadOnly, r.bMultiplePass, r.bEnableFixedIFrame, r.bClientNoAudio,
                       r.bEnableVideoRandomPositioning, r.bEnableRandomPositioning),
            std::tuple(0, 0, 1, 1, 1, 1));
  EXPECT_EQ(r.liveCapture, 1);
  EXPECT_EQ(std::tuple(r.sourceWidth, r.sourceHeight, r.sourceFrameSize), std::tuple(128, 96, 18432));
  EXPECT_EQ(std::tuple(r.portNumber[0], r.portNumber[1], r.portNumber[2]), std::tuple(7000, 0, 0));
  EXPECT_EQ(std::tuple(r.maxSize, r.maxDuration, r.unitDuration, r.encoding), std::tuple(0, 0.0f, 1, 0));
  EXPECT_EQ(CSessionSettings::Text(r.clip[kClipTitle]), u"Untitled");
  EXPECT_EQ(CSessionSettings::Text(r.clip[kClipRating]), u"");
  EXPECT_EQ(CSessionSettings::Text(r.sessionName), u"");
  EXPECT_EQ(r.contentVersion, 30);
}

TEST(SessionSettings, CopyTakesEveryFieldThroughTheVirtualCopy) {
  CSessionSettings from;
  from.baseFrameRate = 7.5f;
  from.audio.stream[4] = {2, 1, 48000, 64000, 2};
  from.SetClipText(kClipDescription, u"desc");
  from.SetStillImageFile(u"C:\\a.bmp");
  from.portNumber[2] = 9;
  from.fileHasVideo = 1;
  from.contentVersion = 21;
  CSessionSettings to;
  CSessionSettings& base = to;
  base.Copy(from);
  EXPECT_EQ(to.CompareWhole(from), 0);
  EXPECT_EQ(to.baseFrameRate, 7.5f);
  EXPECT_EQ(to.audio.stream[4].bitRate, 64000);
  EXPECT_EQ(CSessionSettings::Text(to.clip[kClipDescription]), u"desc");
  EXPECT_EQ(CSessionSettings::Text(to.stillImageFile), u"C:\\a.bmp");
  EXPECT_EQ(to.portNumber[2], 9);
  EXPECT_EQ(to.fileHasVideo, 1);
}

TEST(SessionSettings, CompareWidths) {
  using Change = std::function<void(CSessionSettings&)>;
  auto fileSource = [](CSessionSettings& r) { r.liveCapture = 0; };
  auto stillSource = [](CSessionSettings& r) { r.streamOut = kStillImageStream; };
  struct Case {
    const char* what;
    Change setup;  // applied to both records
    Change change;  // applied to the second
    int codecs, texts, whole;
  } const cases[] = {
      {"base bit rate", {}, [](auto& r) { r.baseBitRate = 1; }, 1, 1, 1},
      {"enhancement frame rate", {}, [](auto& r) { r.enFrameRate = 5; }, 1, 1, 1},
      {"fifth audio entry", {}, [](auto& r) { r.audio.stream[4].channels = 2; }, 1, 1, 1},
      {"stream type", {}, [](auto& r) { r.streamOut = 2; }, 1, 1, 1},
      {"clip author", {}, [](auto& r) { r.SetClipText(kClipAuthor, u"me"); }, 0, 1, 1},
      {"profile name", {}, [](auto& r) { r.SetProfileName(u"p"); }, 0, 1, 1},
      {"live: device index", {}, [](auto& r) { r.videoDeviceIndex = 1; }, 0, 0, 1},
      {"live: audio index", {}, [](auto& r) { r.audioDeviceIndex = kNoAudioDevice; }, 0, 0, 1},
      {"live: input file", {}, [](auto& r) { r.SetInputFile(u"C:\\b.avi"); }, 0, 0, 0},
      {"file: input file", fileSource, [](auto& r) { r.SetInputFile(u"C:\\b.avi"); }, 0, 0, 1},
      {"file: device index", fileSource, [](auto& r) { r.videoDeviceIndex = 1; }, 0, 0, 0},
      {"live flag", {}, [](auto& r) { r.liveCapture = 0; }, 0, 0, 1},
      {"still source: image", stillSource, [](auto& r) { r.SetStillImageFile(u"b.bmp"); }, 0, 0, 1},
      {"other source: image", {}, [](auto& r) { r.SetStillImageFile(u"b.bmp"); }, 0, 0, 0},
      {"output file", {}, [](auto& r) { r.SetOutputFileName(u"o.mp4"); }, 0, 0, 1},
      {"content version", {}, [](auto& r) { r.contentVersion = 20; }, 0, 0, 1},
      {"maximum size", {}, [](auto& r) { r.maxSize = 100; }, 0, 0, 1},
      {"port", {}, [](auto& r) { r.portNumber[1] = 7001; }, 0, 0, 1},
      {"download only", {}, [](auto& r) { r.bEncodeDownloadOnly = 1; }, 0, 0, 1},
      {"session name", {}, [](auto& r) { r.SetSessionName(u"s"); }, 0, 0, 0},
      {"capture size", {}, [](auto& r) { r.capWidth = 320; }, 0, 0, 0},
      {"encoding mark", {}, [](auto& r) { r.encoding = 1; }, 0, 0, 0},
  };
  for (const Case& c : cases) {
    CSessionSettings a, b;
    if (c.setup) {
      c.setup(a);
      c.setup(b);
    }
    c.change(b);
    EXPECT_EQ(a.CompareCodecs(b), c.codecs) << c.what;
    EXPECT_EQ(a.CompareWithTexts(b), c.texts) << c.what;
    EXPECT_EQ(a.CompareWhole(b), c.whole) << c.what;
  }
}

TEST(SessionSettings, TextsStayInsideTheirFields) {
  CSessionSettings r;
  r.SetSessionPath(u"after");
  const Text long300(300, u'a');
  EXPECT_FALSE(r.SetProfileName(long300));
  EXPECT_EQ(CSessionSettings::Text(r.profileName), Text(255, u'a'));
  EXPECT_EQ(r.profileName[255], u'\0');
  EXPECT_EQ(CSessionSettings::Text(r.sessionPath), u"after");
  EXPECT_TRUE(r.SetProfileName(Text(255, u'b')));

  // Clip texts hold 256 characters; the next clip text is untouched.
  r.SetClipText(kClipCopyright, u"next");
  EXPECT_TRUE(r.SetClipText(kClipAuthor, Text(256, u'c')));
  EXPECT_EQ(CSessionSettings::Text(r.clip[kClipAuthor]).size(), 256u);
  EXPECT_FALSE(r.SetClipText(kClipAuthor, Text(257, u'c')));
  EXPECT_EQ(CSessionSettings::Text(r.clip[kClipAuthor]), Text(256, u'c'));
  EXPECT_EQ(CSessionSettings::Text(r.clip[kClipCopyright]), u"next");
  EXPECT_FALSE(r.SetClipText(static_cast<ClipTextIndex>(5), u"x"));

  // A field filled without a terminator is still read within its bounds.
  std::fill(std::begin(r.inputFile), std::end(r.inputFile), u'z');
  EXPECT_EQ(CSessionSettings::Text(r.inputFile).size(), 256u);
}

TEST(SessionSettings, FileTitle) {
  const std::pair<Text, Text> cases[] = {
      {u"C:\\clips\\news.krs", u"news"},
      {u"news.krs", u"news"},
      {u"C:\\my clips\\a.b.krp", u"a.b"},
      {u"C:\\clips\\.krs", u""},
      {u"C:\\clips\\abc", u""},  // shorter than an extension
      {u"ab", u""},
      {u"", u""},
      {u"C:\\clips\\", u""},
  };
  for (const auto& [path, title] : cases) EXPECT_EQ(FileTitle(path), title) << std::string(path.begin(), path.end());
}

// The encoder view as the session sees it, recording what it is asked.
class RecordingView : public SessionHost {
 public:
  bool running = false, busy = false, started = false;
  int answer = 1;
  std::function<void(CSessionSettings&)> edit;
  std::vector<std::string> calls;
  const CSession* session = nullptr;
  bool applyingDuringEdit = false;

  bool Running() const override { return running; }
  bool Busy() const override { return busy; }
  bool Started() const override { return started; }
  void StopPreview() override { calls.push_back("StopPreview"); }
  int EditSettings(int mode, std::u16string_view, CSessionSettings& r) override {
    calls.push_back("Edit " + std::to_string(mode));
    if (session) applyingDuringEdit = session->Applying();
    if (edit) edit(r);
    return answer;
  }
  int LoadSession(std::u16string_view, CSessionSettings& r) override {
    calls.push_back("LoadSession");
    if (edit) edit(r);
    return answer;
  }
  int SaveSession(std::u16string_view, CSessionSettings&) override {
    calls.push_back("SaveSession");
    return answer;
  }
  int LoadProfile(CSessionSettings&) override { return answer; }
  int SaveProfile(CSessionSettings&) override { return answer; }
  void StartRun(int kind, CSessionSettings& r) override {
    calls.push_back("StartRun " + std::to_string(kind) + " encoding " + std::to_string(r.encoding));
  }
  void StopRun(CSessionSettings&) override { calls.push_back("StopRun"); }
  void StartPreview(CSessionSettings&) override { calls.push_back("Preview"); }
  void SelectSummaryPanel(int panel) override { calls.push_back("Panel " + std::to_string(panel)); }
  bool StillImageInfo(std::u16string_view, int32_t* w, int32_t* h, int32_t* bits) override {
    *w = 320;
    *h = 240;
    *bits = 24;
    return answer == 1;
  }
};

TEST(Session, ApplyMarksModifiedOnlyOnADifference) {
  struct Case {
    const char* what;
    int answer;
    std::function<void(CSessionSettings&)> edit;
    bool modified;
    int32_t maxSizeAfter;
  } const cases[] = {
      {"accepted unchanged", 1, {}, false, 0},
      {"accepted with a new limit", 1, [](CSessionSettings& r) { r.maxSize = 500; }, true, 500},
      {"accepted, only derived values", 1, [](CSessionSettings& r) { r.fileWidth = 176; }, false, 0},
      {"cancelled after edits", 0, [](CSessionSettings& r) { r.maxSize = 500; }, false, 0},
  };
  for (const Case& c : cases) {
    RecordingView view;
    view.answer = c.answer;
    view.edit = c.edit;
    CSession session(CSessionSettings(), view);
    view.session = &session;
    EXPECT_TRUE(session.Applying()) << c.what;  // until the first apply ends
    EXPECT_EQ(session.Apply(6, u""), c.answer) << c.what;
    EXPECT_TRUE(view.applyingDuringEdit) << c.what;
    EXPECT_FALSE(session.Applying()) << c.what;
    EXPECT_EQ(session.Modified(), c.modified) << c.what;
    EXPECT_EQ(session.Settings().maxSize, c.maxSizeAfter) << c.what;
  }
}

TEST(Session, ApplyStopsARunningPreviewFirst) {
  RecordingView view;
  view.running = true;
  CSession session(CSessionSettings(), view);
  session.Apply(1, u"C:\\p.krp");
  EXPECT_EQ(view.calls, (std::vector<std::string>{"StopPreview", "Edit 1"}));
}

TEST(Session, LoadAndSaveTakeTheFilesNameAndTitle) {
  RecordingView view;
  view.edit = [](CSessionSettings& r) { r.encWidth = 176; };
  CSessionSettings start;
  start.encWidth = 320;
  CSession session(start, view);
  session.SetModified(true);
  EXPECT_EQ(session.LoadFromFile(u"C:\\jobs\\live news.krs"), 1);
  EXPECT_EQ(session.Settings().encWidth, 176);
  EXPECT_EQ(session.Name(), u"live news");
  EXPECT_EQ(session.Path(), u"C:\\jobs\\live news.krs");
  EXPECT_FALSE(session.Modified());

  view.answer = 0;
  view.edit = [](CSessionSettings& r) { r.encWidth = 999; };
  EXPECT_EQ(session.LoadFromFile(u"C:\\jobs\\other.krs"), 0);
  EXPECT_EQ(session.Settings().encWidth, 176);
  EXPECT_EQ(session.Name(), u"live news");

  view.answer = 1;
  session.SetModified(true);
  EXPECT_EQ(session.SaveToFile(u"D:\\x.krs"), 1);
  EXPECT_EQ(session.Name(), u"x");
  EXPECT_FALSE(session.Modified());
}

TEST(Session, RunsAndStillImageInformation) {
  RecordingView view;
  CSession session(CSessionSettings(), view);
  session.ToggleRun();
  view.started = true;
  session.ToggleRun();
  session.StartFirstKind();
  session.Preview();
  EXPECT_EQ(view.calls, (std::vector<std::string>{"StartRun 3 encoding 1", "Panel 9", "StopRun",
                                                  "StartRun 1 encoding 0", "Preview"}));
  EXPECT_EQ(session.Settings().encoding, 0);

  session.ReadStillImageInfo();
  EXPECT_EQ(std::tuple(session.Settings().stillImageWidth, session.Settings().stillImageHeight,
                       session.Settings().stillImageBits),
            std::tuple(320, 240, 24));
}

TEST(Session, BitRateTextOnlyWhileBusy) {
  RecordingView view;
  CSession session(CSessionSettings(), view);
  session.measured[0] = {0, 4750};
  session.measured[1] = {2, 12345};
  EXPECT_EQ(session.BitRateText(0), u"");
  view.busy = true;
  EXPECT_EQ(session.BitRateText(0), u"4.75");
  EXPECT_EQ(session.BitRateText(2), u"12.35");
  EXPECT_EQ(session.BitRateText(1), u"");
}

TEST(SettingItems, WholeSnapshotOrders) {
  struct Case {
    int32_t streamOut, layers;
    bool partial;
    std::vector<int> load, save;
  } const cases[] = {
      {3, 1, true, {0, 1, 2, 3, 5, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50},
       {0, 1, 2, 3, 5, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50}},
      {2, 2, false,
       {0, 1, 2, 3, 5, 4, 6, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50, 28, 15, 27, 16, 31, 30, 29, 41},
       {0, 1, 2, 3, 5, 4, 6, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50, 28, 15, 27, 16, 29, 30, 31, 41}},
      // Audio-only and still-image sessions push no video rates, but pull them.
      {1, 2, false,
       {0, 1, 2, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50, 28, 15, 27, 16, 31, 30, 29, 41},
       {0, 1, 2, 3, 5, 4, 6, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50, 28, 15, 27, 16, 29, 30, 31, 41}},
      {5, 1, true, {0, 1, 2, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50},
       {0, 1, 2, 3, 5, 7, 8, 9, 45, 46, 47, 48, 10, 40, 49, 50}},
  };
  for (const Case& c : cases) {
    CSessionSettings r;
    r.streamOut = c.streamOut;
    r.nLayers = c.layers;
    EXPECT_EQ(LoadAllItems(r, c.partial), c.load) << c.streamOut << "/" << c.layers << "/" << c.partial;
    EXPECT_EQ(SaveAllItems(r, c.partial), c.save) << c.streamOut << "/" << c.layers << "/" << c.partial;
  }
}

}  // namespace
}  // namespace scrivel
