// The settings model: source checks, the encoding size fit, the commit,
// audio entries, bandwidth and stream type rules, the output file, against
// a scripted host.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "ctlvane/settings.h"

namespace ctlvane {
namespace {

using mediaengine::KRAudioStreamEntry;

constexpr HResult H(uint32_t code) { return static_cast<HResult>(code); }

std::u16string U(const char* text) { return std::u16string(text, text + strlen(text)); }

std::u16string Record(const mediaengine::RecordText& text) {
  return std::u16string(text, static_cast<size_t>(mediaengine::BoundedTextLength(text)));
}

void Put(mediaengine::RecordText& to, const char* text) {
  std::u16string u = U(text);
  std::copy(u.begin(), u.end(), to);
  to[u.size()] = 0;
}

// Scripted answers of the engine, the file system and the user.
struct FakeHost : SettingsHost {
  std::map<std::u16string, SourceInfo> files;
  std::map<int, std::vector<Size>> devices;
  std::set<int> audioDevices;
  std::map<std::u16string, Size> images;
  std::map<std::u16string, int> createFailures;
  std::vector<HResult> reports;
  std::vector<std::vector<Message>> shown;
  std::vector<unsigned> captions;
  int capabilityCalls = 0;

  bool FileInfo(std::u16string_view path, SourceInfo* info) override {
    auto f = files.find(std::u16string(path));
    if (f == files.end()) return false;
    *info = f->second;
    return true;
  }
  bool CaptureSizes(int device, std::vector<Size>* sizes) override {
    ++capabilityCalls;
    auto d = devices.find(device);
    if (d == devices.end()) return false;
    *sizes = d->second;
    return true;
  }
  bool SelectAudioDevice(int device) override { return audioDevices.count(device) != 0; }
  bool StillImageSize(std::u16string_view path, Size* size) override {
    auto i = images.find(std::u16string(path));
    if (i == images.end()) return false;
    *size = i->second;
    return true;
  }
  int TrialCreate(std::u16string_view path) override {
    auto f = createFailures.find(std::u16string(path));
    return f == createFailures.end() ? 0 : f->second;
  }
  void Report(HResult code) override { reports.push_back(code); }
  void Show(const std::vector<Message>& lines, unsigned caption, bool) override {
    shown.push_back(lines);
    captions.push_back(caption);
  }
};

SourceInfo File(const char* name, int w, int h, int audio = 1, int video = 1) {
  SourceInfo s;
  s.fileName = U(name);
  s.width = w;
  s.height = h;
  s.frameRate = 15;
  s.audioStreams = audio;
  s.videoStreams = video;
  return s;
}

// A model with the engine's defaults and an encoding size, as committed.
SettingsModel Model(int kind, int streamType, Size encoding) {
  SettingsModel m;
  mediaengine::ResetToDefaults(m.committed);
  m.committed.application.liveSource = kind;
  m.committed.output.streamType = streamType;
  m.committed.video.width = m.committed.output.width = encoding.width;
  m.committed.video.height = m.committed.output.height = encoding.height;
  m.ReloadWorkingSettings();
  return m;
}

std::vector<int64_t> Numbers(const Message& m) {
  std::vector<int64_t> n;
  for (const MessageArg& a : m.args)
    if (const auto* i = std::get_if<int64_t>(&a)) n.push_back(*i);
  return n;
}

TEST(SourceChecks, DimensionsOfAMediaFile) {
  struct Case {
    int w, h, videoStreams;
    int result;
    unsigned message;
    std::vector<int64_t> args;
  } const cases[] = {
      {800, 600, 1, 1, kMsgNone, {}},
      {801, 600, 1, 0, kMsgSourceTooLarge, {800, 600}},
      {800, 601, 1, 0, kMsgSourceTooLarge, {800, 600}},
      {128, 128, 1, 1, kMsgNone, {}},  // square passes
      {96, 128, 1, 0, kMsgWidthBelowHeight, {}},
      {128, 95, 1, 0, kMsgSourceTooSmall, {128, 96}},
      {127, 96, 1, 0, kMsgSourceTooSmall, {128, 96}},
      {0, 0, 0, 1, kMsgNone, {}},  // an audio file has no picture to check
  };
  for (const Case& c : cases) {
    Message m;
    EXPECT_EQ(CheckSourceDimensions(File("a.avi", c.w, c.h, 1, c.videoStreams), &m), c.result) << c.w << "x" << c.h;
    EXPECT_EQ(m.id, c.message) << c.w << "x" << c.h;
    EXPECT_EQ(Numbers(m), c.args) << c.w << "x" << c.h;
  }
}

TEST(SourceChecks, FileNameExtensionsAreMatchedExactly) {
  struct Case {
    const char* name;
    bool media, image;
  } const cases[] = {
      {"C:\\v\\a.avi", true, false}, {"a.AVI", true, false}, {"a.Avi", false, false}, {"a.mpeg", true, false},
      {"a.MPEG", true, false},       {"a.qt", true, false},  {"a.mov", true, false},  {"a.mp4", false, false},
      {"a.jpeg", false, true},       {"a.BMP", false, true}, {"a.Jpg", false, false}, {"avi", false, false},
  };
  for (const Case& c : cases) {
    Message m;
    EXPECT_EQ(IsMediaFileName(U(c.name), &m), c.media) << c.name;
    if (!c.media) { EXPECT_EQ(m.id, kMsgUnsupportedFormat); }
    m = {};
    EXPECT_EQ(IsStillImageName(U(c.name), &m), c.image) << c.name;
    if (!c.image) { EXPECT_EQ(m.id, kMsgNotAnImage); }
  }
  EXPECT_TRUE(IsProfileFileName(u"x.KRP"));
  EXPECT_FALSE(IsProfileFileName(u"x.Krp"));
}

TEST(EncodingSize, FitsTheSource) {
  struct Case {
    const char* what;
    int kind, streamType;
    bool still;
    Size encoding, source, wanted, result;
    unsigned message;
  } const cases[] = {
      // The wanted 128 x 96 fits the picture, so the picture's own size is taken.
      {"file smaller", kMediaFileSource, 3, false, {176, 144}, {160, 120}, {128, 96}, {160, 120}, kMsgEncodingSizeChanged},
      {"file larger", kMediaFileSource, 3, false, {176, 144}, {320, 240}, {128, 96}, {176, 144}, kMsgNone},
      {"wanted too big", kMediaFileSource, 2, false, {352, 288}, {320, 240}, {352, 288}, {128, 96},
       kMsgEncodingSizeChanged},
      {"audio only", kMediaFileSource, 1, false, {352, 288}, {160, 120}, {128, 96}, {352, 288}, kMsgNone},
      {"still image", kMediaFileSource, 5, true, {352, 288}, {200, 150}, {176, 144}, {176, 144},
       kMsgEncodingSizeChanged},
      {"still too small", kMediaFileSource, 5, true, {352, 288}, {200, 150}, {320, 240}, {128, 96},
       kMsgEncodingSizeChanged},
  };
  for (const Case& c : cases) {
    SettingsModel m = Model(c.kind, c.streamType, c.encoding);
    m.workingSource = File("clip.avi", c.source.width, c.source.height);
    m.workingSourceKnown = true;
    if (c.still) m.stillImage = c.source;
    Message msg;
    EXPECT_EQ(m.FitEncodingSize(c.kind, c.still, c.wanted, &msg), !(c.result == c.encoding)) << c.what;
    EXPECT_EQ((Size{m.working.video.width, m.working.video.height}), c.result) << c.what;
    EXPECT_EQ((Size{m.working.output.width, m.working.output.height}), c.result) << c.what;
    EXPECT_EQ(msg.id, c.message) << c.what;
    if (c.message) { EXPECT_EQ(Numbers(msg), (std::vector<int64_t>{c.result.width, c.result.height})) << c.what; }
  }
}

TEST(EncodingSize, CaptureDeviceLargestSizeAndCommitChoice) {
  FakeHost host;
  host.devices[0] = {{160, 120}, {176, 144}, {352, 288}};
  SettingsModel m = Model(kCaptureSource, kAudioVideo, {176, 144});
  ASSERT_TRUE(m.BuildCaptureSizeList(host, 0));
  EXPECT_EQ(m.LargestCaptureSize(), (Size{352, 288}));
  ASSERT_TRUE(m.BuildCaptureSizeList(host, 0));
  EXPECT_EQ(host.capabilityCalls, 1);  // asked once per device
  Message msg;
  EXPECT_FALSE(m.FitEncodingSize(kCaptureSource, false, kFallbackSize, &msg));
  EXPECT_EQ((std::vector<Size>{{128, 96}, {160, 112}, {160, 120}, {176, 144}, {192, 144}, {320, 224}, {320, 240},
                               {352, 288}}),
            m.EncodingSizeList());
  m.CommitSettings(host);
  EXPECT_EQ(m.captureSize, (Size{176, 144}));

  struct Case {
    std::vector<Size> sizes;
    Size encoding, chosen;
  } const cases[] = {
      {{{352, 288}, {176, 144}, {160, 120}}, {160, 120}, {160, 120}},  // a later, smaller size wins
      {{{160, 120}, {176, 144}, {352, 288}}, {170, 130}, {176, 144}},
      {{{160, 120}, {176, 144}}, {320, 240}, {0, 0}},  // none holds the encoding size
      {{{320, 200}, {200, 240}, {640, 480}}, {160, 120}, {320, 200}},  // smaller in one dimension only
  };
  for (const Case& c : cases) {
    host.devices[0] = c.sizes;
    SettingsModel n = Model(kCaptureSource, kVideoOnly, c.encoding);
    n.BuildCaptureSizeList(host, 0);
    n.CommitSettings(host);
    EXPECT_EQ(n.captureSize, c.chosen) << c.encoding.width;
  }
}

TEST(EncodingSize, CaptureWithoutSizesSaysTheCameraMayBeUnplugged) {
  FakeHost host;
  host.devices[0] = {};
  SettingsModel m = Model(kCaptureSource, kAudioVideo, {176, 144});
  m.BuildCaptureSizeList(host, 0);
  Message msg;
  EXPECT_TRUE(m.FitEncodingSize(kCaptureSource, false, kFallbackSize, &msg));
  EXPECT_EQ(msg.id, kMsgCameraNotPluggedIn);
  EXPECT_TRUE(m.EncodingSizeList().empty());
}

TEST(Commit, StillImageStreamWithoutImageRunsAudioOnly) {
  FakeHost host;
  SettingsModel m = Model(kMediaFileSource, kStillWithAudio, {176, 144});
  m.CommitSettings(host);
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.shown[0][0].id, kMsgStillImageMissing);
  EXPECT_EQ(m.committed.output.streamType, kAudioOnly);

  SettingsModel n = Model(kMediaFileSource, kStillWithAudio, {176, 144});
  Put(n.working.output.stillImageFileName, "C:\\logo.bmp");
  n.CommitSettings(host);
  EXPECT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(n.committed.output.streamType, kStillWithAudio);
}

TEST(Commit, ReloadDropsPageEditsAndCommitKeepsThem) {
  FakeHost host;
  SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
  m.working.video.bitRate[0] = 777;
  m.ReloadWorkingSettings();
  EXPECT_NE(m.working.video.bitRate[0], 777);
  m.working.video.bitRate[0] = 777;
  m.workingSource = File("b.avi", 320, 240);
  m.workingSourceKnown = true;
  m.CommitSettings(host);
  EXPECT_EQ(m.committed.video.bitRate[0], 777);
  EXPECT_TRUE(m.sourceValid);
  EXPECT_EQ(m.source.width, 320);
}

TEST(AudioEntries, ConfigAudioCodecRules) {
  struct Case {
    int index, codec;
    bool enable;
    int sampling, bitRate;
    HResult result;
    bool reported;
  } const cases[] = {
      {0, 0, true, 8000, 12200, kOk, false},          {1, 0, true, 8000, 4750, kOk, false},
      {0, 0, true, 16000, 12200, kBadParameter, true}, {0, 0, true, 8000, 6700, kBadParameter, true},
      {0, 0, false, 16000, 6700, kOk, false},          {1, 1, true, 8000, 9200, kOk, false},
      {1, 1, true, 8000, 8000, kBadParameter, true},   {2, 2, true, 44100, 64000, kOk, false},
      {2, 2, true, 8000, 96000, kOk, false},           {2, 2, true, 44100, 48000, kBadParameter, true},
      {4, 3, true, 8000, 12200, kInvalidAudioCodec, false}, {4, -1, false, 0, 0, kInvalidAudioCodec, false},
      {5, 0, true, 8000, 12200, kBadParameter, true},  {-1, 0, true, 8000, 12200, kBadParameter, true},
  };
  for (const Case& c : cases) {
    FakeHost host;
    SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
    const auto before = m.working.audio;
    EXPECT_EQ(SettingsModel::ConfigAudioCodec(host, m.working.audio, c.index, AudioEntry{c.codec, c.enable, c.sampling, c.bitRate, 2}), c.result)
        << c.index << " " << c.codec << " " << c.bitRate;
    EXPECT_EQ(host.reports, c.reported ? std::vector<HResult>{c.result} : std::vector<HResult>{});
    if (c.result != kOk) {
      EXPECT_EQ(memcmp(&before, &m.working.audio, sizeof before), 0);
      continue;
    }
    AudioEntry back;
    ASSERT_EQ(SettingsModel::GetConfigAudioCodec(host, m.working.audio, c.index, &back), kOk);
    EXPECT_EQ(back.codec, c.codec);
    EXPECT_EQ(back.enabled, c.enable);
    EXPECT_EQ(m.working.audio.stream[c.index].enabled, c.enable ? 1 : 0);
    EXPECT_EQ(back.samplingRate, c.sampling);
    EXPECT_EQ(back.bitRate, c.bitRate);
    EXPECT_EQ(back.channels, 2);
  }
  FakeHost host;
  mediaengine::KRAudioEncoderConfig audio{};
  AudioEntry e;
  EXPECT_EQ(SettingsModel::GetConfigAudioCodec(host, audio, 5, &e), kBadParameter);
  EXPECT_EQ(SettingsModel::GetConfigAudioCodec(host, audio, -1, &e), kBadParameter);
  EXPECT_EQ(host.reports, (std::vector<HResult>{kBadParameter, kBadParameter}));
}

void SetAudio(SettingsModel& m, std::initializer_list<KRAudioStreamEntry> entries) {
  int i = 0;
  for (auto& s : m.working.audio.stream) s = KRAudioStreamEntry{-1, 0, 0, 0, 0};
  for (const auto& e : entries) m.working.audio.stream[i++] = e;
}

TEST(Bandwidth, CheckBandwidthRows) {
  const KRAudioStreamEntry amr{0, 1, 8000, 12200, 1}, evrc{1, 1, 8000, 9200, 1}, off{2, 0, 44100, 64000, 2};
  struct Case {
    int streamType;
    std::initializer_list<KRAudioStreamEntry> audio;
    uint32_t candidate;
    bool ok;
    unsigned message;
    uint32_t suggested;
  } const cases[] = {
      {3, {amr}, 13200, true, kMsgNone, 0},
      {3, {amr}, 13199, false, kMsgBandwidthTooLow, 13200},
      {3, {evrc, amr}, 10100, false, kMsgBandwidthTooLow, 10200},  // the first failing entry answers
      {3, {off}, 500, true, kMsgNone, 0},  // a disabled entry takes nothing
      {2, {}, 999, false, kMsgBandwidthTooLow, 1000},
      {2, {amr}, 1000, true, kMsgNone, 0},
      {1, {amr}, 12199, false, kMsgBandwidthBelowAudio, 12200},
      {1, {amr}, 12200, true, kMsgNone, 0},
      {5, {amr}, 8000, false, kMsgBandwidthBelowAudio, 12200},
  };
  for (const Case& c : cases) {
    SettingsModel m = Model(kMediaFileSource, c.streamType, {176, 144});
    SetAudio(m, c.audio);
    unsigned id = 99;
    uint32_t suggested = 0;
    EXPECT_EQ(m.CheckBandwidth(c.candidate, &id, &suggested), c.ok) << c.streamType << " " << c.candidate;
    EXPECT_EQ(id, c.message) << c.streamType << " " << c.candidate;
    if (!c.ok) { EXPECT_EQ(suggested, c.suggested) << c.streamType << " " << c.candidate; }
  }
}

TEST(Bandwidth, VideoBitRatesFollowTheBandwidth) {
  SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
  SetAudio(m, {{0, 1, 8000, 12200, 1}, {1, 1, 8000, 9200, 1}});
  m.working.video.layers = 1;
  m.SetBandwidth(50000);
  EXPECT_EQ(m.working.video.bitRate[0], 37800);
  EXPECT_EQ(m.working.video.bitRate[1], 37800);
  EXPECT_EQ(m.AvailableVideoBitRate(2), 12600);
  EXPECT_TRUE(m.AudioRateFitsBandwidth(49000));
  EXPECT_FALSE(m.AudioRateFitsBandwidth(49001));

  m.working.video.layers = 2;
  m.working.video.bitRate[0] = 5000;
  m.SetBandwidth(62200);  // layer 1 changes: layer 0 becomes a third of it
  EXPECT_EQ(m.working.video.bitRate[1], 50000);
  EXPECT_EQ(m.working.video.bitRate[0], 16666);
  m.working.video.bitRate[0] = 4000;
  m.SetBandwidth(62200);  // layer 1 unchanged: layer 0 keeps its own
  EXPECT_EQ(m.working.video.bitRate[0], 4000);
  EXPECT_EQ(m.working.output.layerBitRate[1], 50000u);

  m.working.output.streamType = kVideoOnly;
  m.SetBandwidth(1000);
  EXPECT_EQ(m.working.video.bitRate[1], 1000);
  m.working.output.streamType = kAudioVideo;
  m.SetBandwidth(5000);  // less than the audio: the engine's lowest rate
  EXPECT_EQ(m.working.video.bitRate[1], 1);
}

TEST(StreamType, AcceptStreamTypeRows) {
  struct Case {
    const char* what;
    int kind, audioStreams, videoStreams;
    int16_t audioDevice;
    int type, audioRate;
    bool ok;
    unsigned message;
  } const cases[] = {
      {"file a+v, 3", kMediaFileSource, 1, 1, 0, 3, 12200, true, kMsgNone},
      {"audio file, 1", kMediaFileSource, 1, 0, 0, 1, 12200, true, kMsgNone},
      {"audio file, 5", kMediaFileSource, 1, 0, 0, 5, 12200, true, kMsgNone},
      {"audio file, 2", kMediaFileSource, 1, 0, 0, 2, 0, false, kMsgCannotChangeStreamType},
      {"audio file, 3", kMediaFileSource, 1, 0, 0, 3, 12200, false, kMsgCannotChangeStreamType},
      {"video file, 1", kMediaFileSource, 0, 1, 0, 1, 12200, false, kMsgCannotChangeStreamType},
      {"video file, 2", kMediaFileSource, 0, 1, 0, 2, 0, true, kMsgNone},
      {"type 4", kMediaFileSource, 1, 1, 0, 4, 0, false, kMsgCannotChangeStreamType},
      {"capture, no audio, 3", kCaptureSource, 0, 0, kNoAudioDevice, 3, 12200, false, kMsgCannotChangeStreamType},
      {"capture, no audio, 2", kCaptureSource, 0, 0, kNoAudioDevice, 2, 0, true, kMsgNone},
      {"capture, audio, 1", kCaptureSource, 0, 0, 0, 1, 12200, true, kMsgNone},
      {"rate above bandwidth", kCaptureSource, 0, 0, 0, 3, 64000, true, kMsgAudioRateChanged},
  };
  for (const Case& c : cases) {
    SettingsModel m = Model(c.kind, kAudioVideo, {176, 144});
    m.workingSource = File("f.avi", 176, 144, c.audioStreams, c.videoStreams);
    m.workingSourceKnown = true;
    m.working.application.audioDeviceIndex = c.audioDevice;
    m.working.output.bandwidth = 23040;
    unsigned id = 99;
    EXPECT_EQ(m.AcceptStreamType(c.type, c.audioRate, &id), c.ok) << c.what;
    EXPECT_EQ(id, c.message) << c.what;
  }
}

TEST(StreamType, AdjustToTheSource) {
  struct Case {
    const char* what;
    int kind, audioStreams, videoStreams;
    int16_t audioDevice;
    int type, result;
    unsigned message;
  } const cases[] = {
      {"video file", kMediaFileSource, 0, 1, 0, 3, 2, kMsgVideoOnlyFile},
      {"audio file", kMediaFileSource, 1, 0, 0, 3, 1, kMsgAudioOnlyFile},
      {"audio file, still", kMediaFileSource, 1, 0, 0, 5, 5, kMsgNone},
      {"both", kMediaFileSource, 1, 1, 0, 3, 3, kMsgNone},
      {"capture without audio", kCaptureSource, 0, 0, kNoAudioDevice, 3, 2, kMsgNoAudioDevice},
      {"capture, video only", kCaptureSource, 0, 0, kNoAudioDevice, 2, 2, kMsgNone},
  };
  for (const Case& c : cases) {
    SettingsModel m = Model(c.kind, c.type, {176, 144});
    m.workingSource = File("C:\\m\\f.avi", 176, 144, c.audioStreams, c.videoStreams);
    m.workingSourceKnown = true;
    m.working.application.audioDeviceIndex = c.audioDevice;
    Message msg;
    m.AdjustStreamTypeToSource(&msg);
    EXPECT_EQ(m.working.output.streamType, c.result) << c.what;
    EXPECT_EQ(msg.id, c.message) << c.what;
    if (c.message == kMsgVideoOnlyFile) { EXPECT_EQ(std::get<std::u16string>(msg.args.at(0)), u"f.avi"); }
  }
}

TEST(OutputFile, FixOutputExtensionRows) {
  struct Case {
    int mediaOut;
    const char* name;
    bool ok;
    const char* fixed;
  } const cases[] = {
      {1, "C:\\out\\clip", true, "C:\\out\\clip.mp4"},
      {1, "C:\\out\\clip.MP4", true, "C:\\out\\clip.MP4"},
      {1, "C:\\out\\clip.mp4", true, "C:\\out\\clip.mp4"},
      {1, "C:\\out\\clip.avi", true, "C:\\out\\clip.avi.mp4"},
      {1, "C:\\out\\clip.Mp4", true, "C:\\out\\clip.Mp4.mp4"},
      {1, "C:\\my.dir\\clip", true, "C:\\my.dir\\clip.mp4"},  // a dot of the folder is no extension
      {1, "C:\\out\\", false, "C:\\out\\"},
      {1, "", false, ""},
      {4, "C:\\out\\clip", true, "C:\\out\\clip"},  // a stream keeps its name
  };
  for (const Case& c : cases) {
    std::u16string name = U(c.name);
    EXPECT_EQ(FixOutputExtension(c.mediaOut, &name), c.ok) << c.name;
    EXPECT_EQ(name, U(c.fixed)) << c.name;
  }
}

TEST(OutputFile, CheckAndValidate) {
  FakeHost host;
  host.createFailures[u"C:\\nowhere\\clip.mp4"] = 3;
  host.createFailures[u"C:\\ro\\clip.mp4"] = 5;
  struct Case {
    const char* name;
    bool ok;
    unsigned message, reason;
  } const cases[] = {
      {"C:\\out\\clip", true, kMsgNone, 0},
      {"C:\\nowhere\\clip", false, kMsgBadOutputFile, kMsgBadPath},
      {"C:\\ro\\clip.mp4", false, kMsgBadOutputFile, kMsgAccessDenied},
      {"C:\\out\\", false, kMsgBadOutputFile, kMsgBadPath},
      {"", false, kMsgTypeFileName, 0},
  };
  for (const Case& c : cases) {
    std::u16string name = U(c.name);
    Message m;
    EXPECT_EQ(SettingsModel::CheckOutputFile(host, kFileOutput, &name, &m), c.ok) << c.name;
    EXPECT_EQ(m.id, c.message) << c.name;
    if (c.reason) { EXPECT_EQ(std::get<Nested>(m.args.at(0)).id, c.reason) << c.name; }
  }
  std::u16string longName(252, u'a');
  Message m;
  EXPECT_FALSE(SettingsModel::CheckOutputFile(host, kFileOutput, &longName, &m));  // too long with ".mp4"
  EXPECT_EQ(m.id, kMsgOutputNameTooLong);

  SettingsModel model = Model(kMediaFileSource, kAudioVideo, {176, 144});
  Put(model.committed.output.outputFileName, "C:\\nowhere\\clip");
  EXPECT_EQ(model.ValidateOutputFile(host, &m), kInvalidFileName);
  EXPECT_EQ(host.reports, std::vector<HResult>{kInvalidFileName});
  model.committed.output.mediaOutputType = 4;
  model.committed.output.fileOutput = 0;
  EXPECT_EQ(model.ValidateOutputFile(host, &m), kOk);  // nothing goes to a file
  Put(model.committed.output.outputFileName, "C:\\out\\clip");
  model.committed.output.mediaOutputType = kFileOutput;
  EXPECT_EQ(model.ValidateOutputFile(host, &m), kOk);
  EXPECT_TRUE(m.Empty());
}

TEST(OutputFile, BuildOutputFileName) {
  SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
  Put(m.working.output.outputFileName, "C:\\out\\old.mp4");
  Put(m.working.application.profileName, "Factory Defaults");
  Put(m.working.application.inputFileName, "C:\\media\\clip.take1.avi");
  Message msg;
  ASSERT_TRUE(m.BuildOutputFileName(&msg));
  EXPECT_EQ(Record(m.working.output.outputFileName), u"C:\\out\\Factory Defaults_clip.take1.mp4");

  m.working.application.liveSource = kCaptureSource;
  Put(m.working.application.profileName, "Low: 56k/modem");  // no characters a file name cannot hold
  ASSERT_TRUE(m.BuildOutputFileName(&msg));
  EXPECT_EQ(Record(m.working.output.outputFileName), u"C:\\out\\Low_ 56k_modem_Live.mp4");

  Put(m.working.application.profileName, std::string(250, 'p').c_str());
  EXPECT_FALSE(m.BuildOutputFileName(&msg));
  EXPECT_EQ(msg.id, kMsgOutputNameTooLong);
  EXPECT_EQ(Record(m.working.output.outputFileName), u"C:\\out\\Low_ 56k_modem_Live.mp4");
}

TEST(Streaming, RestrictForStreamingRows) {
  const KRAudioStreamEntry aac{2, 1, 44100, 64000, 2}, amr{0, 1, 8000, 12200, 1}, evrc{1, 1, 8000, 9200, 1},
      off{1, 0, 8000, 9200, 1};
  struct Case {
    const char* what;
    int mediaOut;
    std::initializer_list<KRAudioStreamEntry> audio;
    uint16_t flags;
    bool changed;
    std::vector<int> enabled;
    int reports;
  } const cases[] = {
      {"file output", 1, {aac, amr}, 1, false, {1, 1, 0, 0, 0}, 0},
      {"aac disabled", 4, {aac, amr}, 0, true, {0, 1, 0, 0, 0}, 1},
      {"one enabled", 5, {amr, evrc}, 0, true, {1, 0, 0, 0, 0}, 0},
      {"flags cleared", 12, {amr, off}, 1, true, {1, 0, 0, 0, 0}, 0},
      {"already fit", 4, {off, amr}, 0, false, {0, 1, 0, 0, 0}, 0},
  };
  for (const Case& c : cases) {
    FakeHost host;
    SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
    SetAudio(m, c.audio);
    m.working.output.mediaOutputType = c.mediaOut;
    m.working.output.downloadOnly = m.working.output.randomPositioning = m.working.video.videoRandomPositioning = c.flags;
    EXPECT_EQ(m.RestrictForStreaming(host), c.changed) << c.what;
    std::vector<int> enabled;
    for (const auto& e : m.working.audio.stream) enabled.push_back(e.enabled);
    EXPECT_EQ(enabled, c.enabled) << c.what;
    EXPECT_EQ(host.reports, std::vector<HResult>(static_cast<size_t>(c.reports), kAacDisabledForStream)) << c.what;
    if (c.mediaOut != 1) {
      EXPECT_EQ(m.working.output.downloadOnly + m.working.output.randomPositioning +
                    m.working.video.videoRandomPositioning, 0) << c.what;
    }
  }
}

TEST(ValidateInputSource, MediaFileRows) {
  FakeHost host;
  host.files[u"C:\\m\\small.avi"] = File("C:\\m\\small.avi", 160, 120);
  host.files[u"C:\\m\\tall.avi"] = File("C:\\m\\tall.avi", 96, 128);
  host.files[u"C:\\m\\silent.avi"] = File("C:\\m\\silent.avi", 320, 240, 0, 1);
  struct Case {
    const char* file;
    HResult result;
    unsigned message;
    Size encoding;
    int streamType;
  } const cases[] = {
      {"C:\\m\\missing.avi", kValidateInputFailed, kMsgOpenInputFile, {176, 144}, 3},
      {"C:\\m\\tall.avi", kValidateInputFailed, kMsgWidthBelowHeight, {176, 144}, 3},
      {"C:\\m\\small.avi", kOk, kMsgEncodingSizeChanged, {160, 120}, 3},
      {"C:\\m\\silent.avi", kOk, kMsgVideoOnlyFile, {176, 144}, 2},
  };
  for (const Case& c : cases) {
    host.reports.clear();
    SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
    Put(m.committed.application.inputFileName, c.file);
    Put(m.committed.application.profileName, "P");
    Put(m.committed.output.outputFileName, "C:\\out\\x.mp4");
    Message msg;
    EXPECT_EQ(m.ValidateInputSource(host, &msg), c.result) << c.file;
    EXPECT_EQ(msg.id, c.message) << c.file;
    EXPECT_EQ(host.reports, c.result ? std::vector<HResult>{c.result} : std::vector<HResult>{}) << c.file;
    EXPECT_EQ((Size{m.committed.video.width, m.committed.video.height}), c.encoding) << c.file;
    EXPECT_EQ(m.committed.output.streamType, c.streamType) << c.file;
    if (c.result == kOk) {
      EXPECT_TRUE(m.sourceValid) << c.file;
      EXPECT_EQ(Record(m.committed.output.outputFileName).substr(0, 9), u"C:\\out\\P_") << c.file;
    }
  }
}

TEST(ValidateInputSource, StillImageAndCaptureRows) {
  FakeHost host;
  host.files[u"C:\\m\\a.wav"] = File("C:\\m\\a.wav", 0, 0, 1, 0);
  host.images[u"C:\\i\\logo.bmp"] = {200, 150};
  host.images[u"C:\\i\\tall.bmp"] = {100, 150};
  host.devices[0] = {{160, 120}, {176, 144}, {352, 288}};
  host.audioDevices = {0};
  struct Case {
    const char* what;
    int kind, streamType;
    const char* still;
    int16_t video, audio;
    HResult result;
    unsigned message;
    int finalType;
    std::vector<HResult> reports;
  } const cases[] = {
      {"still fits", kMediaFileSource, 5, "C:\\i\\logo.bmp", 0, 0, kOk, kMsgEncodingSizeChanged, 5, {}},
      {"still missing", kMediaFileSource, 5, "C:\\i\\gone.bmp", 0, 0, kValidateInputFailed, kMsgOpenStillImage, 5,
       {kValidateInputFailed}},
      {"still tall", kMediaFileSource, 5, "C:\\i\\tall.bmp", 0, 0, kValidateInputFailed, kMsgWidthBelowHeight, 5,
       {kValidateInputFailed}},
      {"capture", kCaptureSource, 3, "", 0, 0, kOk, kMsgNone, 3, {}},
      {"no such camera", kCaptureSource, 3, "", 2, 0, kValidateInputFailed, kMsgVideoDeviceUnavailable, 3,
       {kValidateInputFailed}},
      {"audio device gone, a+v", kCaptureSource, 3, "", 0, 3, kOk, kMsgNoAudioDevice, 2, {kNoAudioDeviceVideoOnly}},
      {"audio device gone, audio only", kCaptureSource, 1, "", 0, 3, kValidateInputFailed, kMsgNoAudioForAudioOnly, 1,
       {kValidateInputFailed}},
  };
  for (const Case& c : cases) {
    host.reports.clear();
    SettingsModel m = Model(c.kind, c.streamType, {352, 288});
    Put(m.committed.application.inputFileName, "C:\\m\\a.wav");
    Put(m.committed.output.stillImageFileName, c.still);
    m.committed.application.videoDeviceIndex = c.video;
    m.committed.application.audioDeviceIndex = c.audio;
    Message msg;
    EXPECT_EQ(m.ValidateInputSource(host, &msg), c.result) << c.what;
    EXPECT_EQ(msg.id, c.message) << c.what;
    EXPECT_EQ(host.reports, c.reports) << c.what;
    if (c.result == kOk) { EXPECT_EQ(m.committed.output.streamType, c.finalType) << c.what; }
  }
}

TEST(FrameRates, EncoderListAndSnapping) {
  const std::vector<int32_t> list = EncoderFrameRates(30.0f);
  ASSERT_GE(list.size(), 8u);
  EXPECT_EQ(std::vector<int32_t>(list.begin(), list.begin() + 8),
            (std::vector<int32_t>{3000, 1500, 1000, 750, 600, 500, 375, 300}));
  EXPECT_EQ(list.back(), 1);
  EXPECT_TRUE(EncoderFrameRates(0.0f).empty());
  struct Case {
    float rate, source, snapped;
  } const cases[] = {
      {16.5f, 30, 15}, {12, 30, 10}, {30, 30, 30}, {29.97f, 29.97f, 29.97f}, {35, 15, 15}, {5, 0, 5},
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(SnapFrameRate(c.rate, c.source), c.snapped) << c.rate << " " << c.source;

  SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
  m.workingSource = File("a.avi", 176, 144);  // 15 frames/s
  m.workingSourceKnown = true;
  m.working.video.layers = 1;
  m.working.video.frameRate[0] = 14;
  m.working.video.frameRate[1] = 14;
  m.SnapFrameRates();
  EXPECT_FLOAT_EQ(m.working.video.frameRate[0], 7.5f);
  EXPECT_FLOAT_EQ(m.working.output.layerFrameRate[0], 7.5f);
  EXPECT_FLOAT_EQ(m.working.video.frameRate[1], 14);  // a layer not in use is left
  EXPECT_EQ(m.SettingPageFrameRates().back(), 1500);
}

TEST(Limits, DurationLimitInSeconds) {
  struct Case {
    float duration;
    int unit;
    int64_t seconds;
  } const cases[] = {{30, 1, 30}, {2.5f, 2, 150}, {1.15f, 2, 69}, {1, 3, 3600}, {999.99f, 4, 86399135}, {5, 0, 77}};
  for (const Case& c : cases) {
    SettingsModel m;
    m.durationLimit = 77;
    m.SetDurationLimit(c.duration, c.unit);
    EXPECT_EQ(m.durationLimit, c.seconds) << c.duration << " " << c.unit;
  }
}

TEST(Pages, TransfersKeepTheirRules) {
  SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
  InputPageFields in = m.GetInputPage();
  in.stillImageFileName = u"C:\\i\\logo.bmp";
  m.SetInputPage(in);
  EXPECT_EQ(m.working.output.streamType, kStillWithAudio);
  in.stillImageFileName.clear();
  in.streamType = kStillWithAudio;
  m.SetInputPage(in);
  EXPECT_EQ(m.working.output.streamType, kAudioOnly);

  m.working.output.clientNoAudio = 1;
  m.working.output.bandwidth = 40000;
  CodecPageFields codec = m.GetCodecPage();
  codec.streamType = kVideoOnly;
  m.SetCodecPage(codec);
  EXPECT_EQ(m.working.output.clientNoAudio, 0);
  EXPECT_EQ(m.working.video.bitRate[1], 40000);

  OutputPageFields out = m.GetOutputPage();
  out.mediaOutputType = 4;
  out.maxDuration = 2;
  out.durationUnit = 2;
  m.SetOutputPage(out);
  EXPECT_EQ(m.working.output.fileOutput, 0);
  EXPECT_EQ(m.durationLimit, 120);
  out.mediaOutputType = 1;
  m.SetOutputPage(out);
  EXPECT_EQ(m.working.output.fileOutput, 1);

  m.SetClipText(kClipAuthor, u"Me");
  EXPECT_EQ(m.GetClipText(kClipAuthor), u"Me");
  EXPECT_EQ(m.GetClipText(kClipTitle), u"Kestrune Corp.");

  Message msg;
  EXPECT_FALSE(m.SetProfile(u"Web", u"C:\\p\\web.txt", &msg));
  Put(m.working.output.outputFileName, "C:\\out\\x.mp4");
  EXPECT_TRUE(m.SetProfile(u"Web", u"C:\\p\\web.krp", &msg));
  EXPECT_EQ(Record(m.working.output.outputFileName).substr(0, 11), u"C:\\out\\Web_");
  EXPECT_TRUE(SettingsModel::CheckPort(7999));
  EXPECT_FALSE(SettingsModel::CheckPort(8000));
  EXPECT_FALSE(SettingsModel::CheckMaxDuration(1000));
  EXPECT_FALSE(SettingsModel::CheckIFrameInterval(0));
}

TEST(Profiles, SavedFromTheWorkingSettingsAndAppliedWithTheirRules) {
  SettingsModel m = Model(kMediaFileSource, kAudioVideo, {176, 144});
  m.working.output.bandwidth = 56000;
  m.committed.output.bandwidth = 23040;
  uint32_t seen = 0;
  EXPECT_EQ(m.SaveWorkingAsProfile([&] {
    seen = m.committed.output.bandwidth;
    return 7;
  }), 7);
  EXPECT_EQ(seen, 56000u);
  EXPECT_EQ(m.committed.output.bandwidth, 23040u);
  EXPECT_EQ(m.working.output.bandwidth, 56000u);
  EXPECT_EQ(m.GetProfilePage().bandwidth, 56000u);

  // A streamed profile on an audio-only file: AAC off, stream type 1, the
  // notes shown once under "Changed Properties".
  FakeHost host;
  m.workingSource = File("C:\\m\\talk.wav", 0, 0, 1, 0);
  m.workingSourceKnown = true;
  m.working.output.mediaOutputType = 4;
  SetAudio(m, {{2, 1, 44100, 64000, 2}, {0, 1, 8000, 12200, 1}});
  m.ApplyProfileChanges(host);
  EXPECT_EQ(m.working.output.streamType, kAudioOnly);
  EXPECT_EQ(m.working.audio.stream[0].enabled, 0);
  EXPECT_EQ(host.reports, std::vector<HResult>{kAacDisabledForStream});
  ASSERT_EQ(host.shown.size(), 1u);
  EXPECT_EQ(host.captions, std::vector<unsigned>{kMsgChangedProperties});
  EXPECT_EQ(host.shown[0].at(0).id, kMsgAudioOnlyFile);

  // Stream type 5 stays only with an image of known size.
  SettingsModel still = Model(kMediaFileSource, kStillWithAudio, {176, 144});
  still.ApplyProfileChanges(host);
  EXPECT_EQ(still.working.output.streamType, kAudioOnly);
  still.working.output.streamType = kStillWithAudio;
  still.stillImage = {160, 120};
  still.ApplyProfileChanges(host);
  EXPECT_EQ(still.working.output.streamType, kStillWithAudio);
  EXPECT_EQ(still.working.video.width, 128) << "176 x 144 does not fit the image";
}

TEST(EncodingSize, RecheckAsksTheDeviceAgain) {
  FakeHost host;
  host.devices[0] = {{160, 120}};
  SettingsModel m = Model(kCaptureSource, kAudioVideo, {176, 144});
  ASSERT_TRUE(m.BuildCaptureSizeList(host, 0));
  host.devices[0] = {{320, 240}};
  Message msg;
  m.RecheckCaptureSize(host, &msg);
  EXPECT_EQ(host.capabilityCalls, 2);
  EXPECT_TRUE(msg.Empty()) << "176 x 144 fits the new largest size";
  EXPECT_EQ(m.LargestCaptureSize(), (Size{320, 240}));
}

TEST(Messages, FormatFillsConversionsAndNestedReasons) {
  const std::map<unsigned, std::u16string> table = {
      {kMsgEncodingSizeChanged, u"changed to %d x %d."},
      {kMsgBadOutputFile, u"%s  Please select another output file."},
      {kMsgBadPath, u"All or part of the path %s is invalid"},
      {kMsgAudioRateChanged, u"changed to %.2f %s."},
      {900, u"%3.2f|%ld|%s|100%%|%d"},
  };
  const StringLoader load = [&table](unsigned id) {
    auto t = table.find(id);
    return t == table.end() ? std::u16string() : t->second;
  };
  EXPECT_EQ(FormatText(Message{kMsgEncodingSizeChanged, {int64_t{160}, int64_t{120}}}, load),
            u"changed to 160 x 120.");
  EXPECT_EQ(FormatText(Message{kMsgBadOutputFile, {Nested{kMsgBadPath, u"C:\\x\\"}}}, load),
            u"All or part of the path C:\\x\\ is invalid  Please select another output file.");
  EXPECT_EQ(FormatText(Message{kMsgAudioRateChanged, {12.2, std::u16string(u"kbps")}}, load),
            u"changed to 12.20 kbps.");
  // Missing arguments stay empty; %% is a percent sign.
  EXPECT_EQ(FormatText(Message{900, {5.0, int64_t{65535}}}, load), u"5.00|65535||100%|");
  EXPECT_EQ(FileErrorTextId(2), unsigned{kMsgFileNotFound});
  EXPECT_EQ(FileErrorTextId(13), unsigned{kMsgDiskFull});
  EXPECT_EQ(FileErrorTextId(7), 0u);
  EXPECT_EQ(FileNamePart(u"C:\\a\\b.avi"), u"b.avi");
  EXPECT_EQ(FileNamePart(std::u16string(255, u'a')), u"");
}

}  // namespace
}  // namespace ctlvane
