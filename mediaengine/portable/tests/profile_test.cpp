// Profiles and sessions over an in-memory properties store that keeps the
// order of the keys and can be told to fail.
#include "mediaengine/profile.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "mediaengine/errors.h"

using namespace mediaengine;

namespace {

class MemoryStore : public PropertyStore {
 public:
  int32_t Put(const std::u16string& key, const std::u16string& value) override {
    if (key == failPut) return KRM_E_FORBIDDEN_IDENTIFIER;
    if (!set.count(key)) order.push_back(key);
    set[key] = value;
    return 0;
  }
  int32_t Get(const std::u16string& key, std::u16string* value) override {
    auto it = set.find(key);
    if (it == set.end()) return KRM_E_MISSING_IDENTIFIER;
    *value = it->second;
    return 0;
  }
  int32_t Save(const std::u16string& name) override {
    if (failSave) return KRM_E_CANNOT_CREATE_FILE;
    files[name] = {order, set};
    return 0;
  }
  int32_t Load(const std::u16string& name) override {
    auto it = files.find(name);
    if (it == files.end()) return KRM_E_CANNOT_OPEN_FILE;
    order = it->second.first;
    set = it->second.second;
    return 0;
  }
  int32_t Close() override {
    ++closes;
    order.clear();
    set.clear();
    return 0;
  }
  std::vector<std::u16string> order;
  std::map<std::u16string, std::u16string> set;
  std::map<std::u16string, std::pair<std::vector<std::u16string>, std::map<std::u16string, std::u16string>>> files;
  std::u16string failPut;
  bool failSave = false;
  int closes = 0;
  // Edits of a saved file.
  void Drop(const std::u16string& file, const std::u16string& key) { files[file].second.erase(key); }
  void Change(const std::u16string& file, const std::u16string& key, const std::u16string& v) {
    files[file].second[key] = v;
  }
};

const uint32_t kVersion[3] = {300, 0, 113};

KRSettingsRecords Defaults() {
  KRSettingsRecords r{};
  ResetToDefaults(r);
  return r;
}

void Set(RecordText& field, const char16_t* text) {
  size_t n = 0;
  for (; text[n]; ++n) field[n] = text[n];
  field[n] = 0;
}

KRSettingsRecords Sample() {
  KRSettingsRecords r = Defaults();
  r.video.width = 176;
  r.video.height = 144;
  r.video.layers = 2;
  r.video.bitRate[0] = 40000;
  r.video.bitRate[1] = 24000;
  r.video.frameRate[0] = 12.5f;
  r.video.frameRate[1] = 7.5f;
  r.video.iFrameInterval = 25;
  r.video.fixedIFrameInterval = 0;
  r.video.videoRandomPositioning = 1;
  r.video.fullSearch = 1;
  r.audio.stream[0] = {2, 1, 16000, 24000, 1};
  r.audio.stream[1] = {0, 0, 8000, 12200, 1};
  r.audio.stream[2] = {0, 1, 8000, 12200, 1};
  r.output.bandwidth = 64000;
  r.output.streamType = 3;
  r.output.mediaOutputType = 12;
  r.output.fileOutput = 1;
  r.output.rtspPort = 8554;
  r.output.rtpPort = 6970;
  r.output.rtcpPort = 6971;
  r.output.contentVersion = 21;
  r.output.downloadOnly = 1;
  r.output.randomPositioning = 0;
  r.output.clientNoAudio = 0;
  Set(r.output.title, u"A title = with signs \\ and more");
  Set(r.output.author, u"Author");
  Set(r.output.outputFileName, u"out.mp4");
  Set(r.output.stillImageFileName, u"still.bmp");
  Set(r.application.inputFileName, u"in.avi");
  Set(r.application.profileName, u"Profile");
  r.application.liveSource = 1;
  r.application.videoDeviceIndex = 2;
  r.application.audioDeviceIndex = 3;
  r.application.maxDuration = 90.25f;
  r.application.durationUnit = 2;
  r.application.maxSize = 40000;
  return r;
}

const FileProbe kAllOpen = [](const std::u16string&) { return true; };

TEST(Profile, KeysInWritingOrder) {
  MemoryStore store;
  const KRSettingsRecords r = Sample();
  store.failSave = false;
  ASSERT_EQ(SaveSession(store, r, kVersion, u"s.krs"), 0);
  const auto& order = store.files[u"s.krs"].first;
  const std::vector<std::u16string> expected = {
      u"FileInfo_Version", u"FileInfo_BuildNum", u"EncVideo_Width", u"EncVideo_Height", u"EncVideo_Layers",
      u"EncVideo_FrameInterval", u"EncVideo_BitrateLayer0", u"EncVideo_FramerateLayer0", u"EncVideo_BitrateLayer1",
      u"EncVideo_FramerateLayer1", u"EncAudio_AACInstances", u"EncAudio_AACBitRate", u"EncAudio_AACSampling",
      u"EncAudio_AACChannel", u"EncAudio_GSMAMRInstances", u"EncAudio_GSMAMRBitRate", u"EncAudio_GSMAMRSampling",
      u"EncAudio_GSMAMRChannel", u"Output_Bandwidth", u"Output_StreamType", u"UserStatus_ProfileName",
      u"UserStatus_ProfileDescription", u"EncVideo_EnableFixedFrame", u"Output_EnableDownloadOnly",
      u"Output_EnableRandomPositioning", u"Output_ClientNoAudio", u"EncVideo_EnableVideoRandomPosition",
      u"UserStatus_LiveSource", u"Output_ImageFileName", u"UserStatus_InputFileName", u"UserStatus_VideoDeviceID",
      u"UserStatus_AudioDeviceID", u"Output_Author", u"Output_Copyright", u"Output_Description", u"Output_Rating",
      u"Output_Title", u"Output_MediaOutType", u"Output_OutputFileName", u"Output_FileOut",
      u"UserStatus_MaxDuration", u"UserStatus_DurationUnit", u"UserStatus_MaxSize", u"UserStatus_PortNum_RTSP",
      u"UserStatus_PortNum_RTP", u"UserStatus_PortNum_RTCP", u"EncVideo_FullSearch", u"Output_ContentVersion"};
  EXPECT_EQ(order, expected);
  const auto& v = store.files[u"s.krs"].second;
  EXPECT_EQ(v.at(u"FileInfo_Version"), u"300.0");
  EXPECT_EQ(v.at(u"FileInfo_BuildNum"), u"113");
  EXPECT_EQ(v.at(u"EncVideo_FramerateLayer0"), u"12.500000");
  EXPECT_EQ(v.at(u"UserStatus_MaxSize"), u"-25536");
  EXPECT_EQ(v.at(u"EncAudio_AACInstances"), u"1");
  EXPECT_EQ(v.at(u"UserStatus_MaxDuration"), u"90.250000");
  EXPECT_EQ(store.closes, 1);
  EXPECT_TRUE(store.set.empty()) << "closed after the save";

  // One layer: only the keys ending in 0; a profile stops at its own keys.
  KRSettingsRecords one = r;
  one.video.layers = 1;
  ASSERT_EQ(SaveProfile(store, one, kVersion, u"p.krp"), 0);
  const auto& keys = store.files[u"p.krp"].second;
  EXPECT_EQ(keys.count(u"EncVideo_BitrateLayer0"), 1u);
  EXPECT_EQ(keys.count(u"EncVideo_BitrateLayer1"), 0u);
  EXPECT_EQ(keys.count(u"EncVideo_FramerateLayer1"), 0u);
  EXPECT_EQ(keys.count(u"UserStatus_LiveSource"), 0u);
  EXPECT_EQ(store.files[u"p.krp"].first.back(), u"EncVideo_EnableVideoRandomPosition");
}

TEST(Profile, RoundTripOfEveryRecord) {
  MemoryStore store;
  const KRSettingsRecords saved = Sample();
  ASSERT_EQ(SaveSession(store, saved, kVersion, u"s.krs"), 0);
  KRSettingsRecords back = Defaults();
  ASSERT_EQ(LoadSession(store, back, u"s.krs", kAllOpen), 0);
  const KRVideoEncoderConfig& v = back.video;
  EXPECT_EQ(v.width, 176);
  EXPECT_EQ(v.height, 144);
  EXPECT_EQ(v.layers, 2);
  EXPECT_EQ(v.bitRate[1], 24000);
  EXPECT_EQ(v.frameRate[0], 12.5f);
  EXPECT_EQ(v.frameRate[1], 7.5f);
  EXPECT_EQ(v.iFrameInterval, 25);
  EXPECT_EQ(v.fixedIFrameInterval, 0);
  EXPECT_EQ(v.fullSearch, 1);
  EXPECT_EQ(back.output.width, 176);
  EXPECT_EQ(back.output.enhancementLayers, 1u);
  EXPECT_EQ(back.output.layerBitRate[1], 24000u);
  EXPECT_EQ(back.output.layerFrameRate[0], 12.5f);
  // Audio: the codecs in their fixed order, each in the next entry.
  EXPECT_EQ(back.audio.stream[0].codec, 0);
  EXPECT_EQ(back.audio.stream[0].bitRate, 12200);
  EXPECT_EQ(back.audio.stream[1].codec, 2);
  EXPECT_EQ(back.audio.stream[1].bitRate, 24000);
  EXPECT_EQ(back.audio.stream[1].channels, 1);
  EXPECT_EQ(back.audio.stream[2].codec, -1);
  EXPECT_EQ(back.audio.stream[2].enabled, 0);
  const KROutputConfig& o = back.output;
  EXPECT_EQ(o.bandwidth, 64000u);
  EXPECT_EQ(o.mediaOutputType, 12);
  EXPECT_EQ(o.fileOutput, 1);
  EXPECT_EQ(o.rtspPort, 8554);
  EXPECT_EQ(o.rtcpPort, 6971u);
  EXPECT_EQ(o.contentVersion, 21);
  EXPECT_EQ(o.downloadOnly, 1);
  EXPECT_EQ(o.randomPositioning, 0);
  EXPECT_EQ(o.clientNoAudio, 0);
  EXPECT_EQ(std::u16string(o.title), u"A title = with signs \\ and more");
  EXPECT_EQ(std::u16string(o.outputFileName), u"out.mp4");
  EXPECT_EQ(std::u16string(o.stillImageFileName), u"still.bmp");
  const KRApplicationConfig& a = back.application;
  EXPECT_EQ(std::u16string(a.inputFileName), u"in.avi");
  EXPECT_EQ(std::u16string(a.profileName), u"Profile");
  EXPECT_EQ(a.liveSource, 1);
  EXPECT_EQ(a.videoDeviceIndex, 2);
  EXPECT_EQ(a.audioDeviceIndex, 3);
  EXPECT_EQ(a.maxDuration, 90.25f);
  EXPECT_EQ(a.durationUnit, 2);
  EXPECT_EQ(a.maxSize, 40000u) << "-25536 back into a field whose upper half was zero";
}

TEST(Profile, ReadingCases) {
  struct Case {
    const char* name;
    std::vector<std::u16string> drop;
    std::vector<std::pair<std::u16string, std::u16string>> change;
    bool session;
    int32_t result;
  };
  const Case cases[] = {
      {"no version: profile", {u"FileInfo_Version"}, {}, false, KRM_E_INVALID_PROFILE_FILE},
      {"no version: session", {u"FileInfo_Version"}, {}, true, KRM_E_INVALID_SESSION_FILE},
      {"no build", {u"FileInfo_BuildNum"}, {}, false, KRM_E_INVALID_PROFILE_FILE},
      {"no video random positioning", {u"EncVideo_EnableVideoRandomPosition"}, {}, false,
       KRM_E_MISSING_IDENTIFIER},
      {"no AMR group is not missing", {u"EncAudio_GSMAMRInstances"}, {}, false, 0},
      {"no RTSP port", {u"UserStatus_PortNum_RTSP"}, {}, true, KRM_E_MISSING_IDENTIFIER},
      {"three layers", {}, {{u"EncVideo_Layers", u"3"}}, false, 0},
      {"device index 40", {}, {{u"UserStatus_VideoDeviceID", u"40"}, {u"UserStatus_AudioDeviceID", u"-3"}}, true,
       0},
  };
  for (const Case& c : cases) {
    MemoryStore store;
    KRSettingsRecords saved = Sample();
    saved.video.fixedIFrameInterval = 1;
    ASSERT_EQ(SaveSession(store, saved, kVersion, u"f"), 0);
    for (const auto& k : c.drop) store.Drop(u"f", k);
    for (const auto& [k, v] : c.change) store.Change(u"f", k, v);
    KRSettingsRecords back = Defaults();
    back.video.videoRandomPositioning = 0;
    const int32_t r =
        c.session ? LoadSession(store, back, u"f", kAllOpen) : LoadProfile(store, back, u"f");
    EXPECT_EQ(r, c.result) << c.name;
    EXPECT_TRUE(store.set.empty()) << c.name << ": closed";
    const std::string name = c.name;
    if (name == "no video random positioning") {
      EXPECT_EQ(back.video.videoRandomPositioning, 1);
    }
    if (name == "no AMR group is not missing") {
      EXPECT_EQ(back.audio.stream[0].codec, 2);
      EXPECT_EQ(back.audio.stream[1].codec, -1);
    }
    if (name == "no RTSP port") {
      EXPECT_EQ(back.output.rtspPort, 7070);
    }
    if (name == "three layers") {
      EXPECT_EQ(back.video.layers, 2);
      EXPECT_EQ(back.output.enhancementLayers, 1u);
    }
    if (name == "device index 40") {
      EXPECT_EQ(back.application.videoDeviceIndex, 4);
      EXPECT_EQ(back.application.audioDeviceIndex, 0);
    }
  }
}

TEST(Profile, AnAacOnlyProfileFillsEntryZero) {
  MemoryStore store;
  KRSettingsRecords r = Defaults();
  for (KRAudioStreamEntry& e : r.audio.stream) e = {-1, 0, 0, 0, 0};
  r.audio.stream[3] = {2, 1, 22050, 32000, 2};
  ASSERT_EQ(SaveProfile(store, r, kVersion, u"aac.krp"), 0);
  KRSettingsRecords back = Defaults();
  ASSERT_EQ(LoadProfile(store, back, u"aac.krp"), 0);
  EXPECT_EQ(back.audio.stream[0].codec, 2);
  EXPECT_EQ(back.audio.stream[0].enabled, 1);
  EXPECT_EQ(back.audio.stream[0].samplingRate, 22050);
  EXPECT_EQ(back.audio.stream[0].bitRate, 32000);
  for (int i = 1; i < kAudioStreamEntries; ++i) {
    EXPECT_EQ(back.audio.stream[i].codec, -1) << i;
    EXPECT_EQ(back.audio.stream[i].enabled, 0) << i;
  }
  // A group without its values takes the codec's defaults.
  store.Drop(u"aac.krp", u"EncAudio_AACSampling");
  EXPECT_EQ(LoadProfile(store, back, u"aac.krp"), KRM_E_MISSING_IDENTIFIER);
  EXPECT_EQ(back.audio.stream[0].samplingRate, 11025);
}

TEST(Profile, FilesASessionNames) {
  MemoryStore store;
  ASSERT_EQ(SaveSession(store, Sample(), kVersion, u"s"), 0);
  struct {
    std::u16string missing;
    int32_t result;
  } cases[] = {{u"still.bmp", KRM_E_OPEN_STILL_IMAGE}, {u"in.avi", KRM_E_OPEN_INPUT_FILE}, {u"", 0}};
  for (const auto& c : cases) {
    KRSettingsRecords back = Defaults();
    const int32_t r = LoadSession(store, back, u"s", [&](const std::u16string& n) { return n != c.missing; });
    EXPECT_EQ(r, c.result);
    // The profile part and both names are stored before the check.
    EXPECT_EQ(back.video.width, 176);
    EXPECT_EQ(std::u16string(back.output.stillImageFileName), u"still.bmp");
    EXPECT_EQ(std::u16string(back.application.inputFileName), u"in.avi");
    EXPECT_TRUE(store.set.empty());
  }
  KRSettingsRecords back = Defaults();
  EXPECT_EQ(LoadSession(store, back, u"nothing", kAllOpen), KRM_E_INVALID_FILE_NAME);
  EXPECT_EQ(LoadProfile(store, back, u"nothing"), KRM_E_CANNOT_OPEN_FILE) << "the load's own code";
}

TEST(Profile, FailedWrites) {
  MemoryStore store;
  store.failPut = u"Output_StreamType";
  EXPECT_EQ(SaveProfile(store, Sample(), kVersion, u"p"), KRM_E_FORBIDDEN_IDENTIFIER);
  EXPECT_EQ(store.files.count(u"p"), 0u) << "nothing saved";
  EXPECT_TRUE(store.set.empty()) << "the keys already put do not reach the next file";
  store.failPut.clear();
  store.failSave = true;
  EXPECT_EQ(SaveProfile(store, Sample(), kVersion, u"p"), KRM_E_CANNOT_CREATE_FILE);
  EXPECT_EQ(SaveSession(store, Sample(), kVersion, u"s"), KRM_E_FUNCTION_FAILED);
  EXPECT_TRUE(store.set.empty());
}

TEST(Profile, FloatTexts) {
  EXPECT_EQ(FloatText(12.5f), u"12.500000");
  EXPECT_EQ(FloatText(0.0f), u"0.000000");
  EXPECT_EQ(FloatText(-3.25f), u"-3.250000");
  float v = 0;
  EXPECT_TRUE(ReadFloat(u" 7.5xyz", &v));
  EXPECT_EQ(v, 7.5f);
  EXPECT_FALSE(ReadFloat(u"abc", &v));
  EXPECT_FALSE(ReadFloat(u"", &v));
}

}  // namespace
