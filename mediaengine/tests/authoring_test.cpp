// The authoring chain on Wine's graph manager: the stand-in filters
// registered in the test prefix (copied beside this program), doubles put in
// their place through the process's class table where a test needs to see
// or break a filter, and one run from test sources to an MP4 file.
#include "doubles.h"  // first: it wants winsock2 before windows.h

#include <gtest/gtest.h>

#include <evcode.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "mediaengine/server.h"
#include "mediaengine/stillimage.h"
#include "mediaengine/trace.h"
#include "peers.h"
#include "push_sources.h"
#include "streammux/mux_format.h"
#include "test_filters.h"
#include "test_util.h"
#include "videoencoder/interfaces.h"

using namespace mediaengine;

namespace {

// The stand-ins and the audio encoder filter, registered once per run.
void RegisterFilters() {
  static bool done = false;
  if (done) return;
  for (const char* dll : {"KRVideoEncoder.dll", "KRStreamMux.dll", "KRStreamer.dll", "KRFrameGrabber.dll",
                          "Tonquill.dll"}) {
    const CommandResult r = RunCommand("regsvr32.exe /s \"" + TestDir() + dll + "\"");
    ASSERT_EQ(r.exitCode, 0u) << dll << ": " << r.output;
  }
  done = true;
}

std::string LogPath(const char* name) { return TestDir() + name; }

std::vector<std::string> LogLines(const std::string& path, const char* prefix) {
  std::vector<std::string> lines;
  const std::string text = ReadWholeFile(path);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t p = line.find(prefix);
    if (p != std::string::npos) lines.push_back(line.substr(p + std::strlen(prefix)));
    at = end + 1;
  }
  return lines;
}

class AuthoringTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterFilters(); }
  void SetUp() override {
    ASSERT_EQ(com_.Result(), S_OK);
    ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown_)), S_OK);
    engine_ = static_cast<COKRMedia*>(unknown_);
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  }
  void TearDown() override {
    unknown_->Release();
    EXPECT_EQ(ModuleObjectCount(), 0);
    SetEnvironmentVariableA("KR_FILTER_LOG", nullptr);
  }
  template <class Change>
  void Records(Change change) {
    IKRMediaConfig* config = nullptr;
    ASSERT_EQ(unknown_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
    KRVideoEncoderConfig video;
    KRAudioEncoderConfig audio;
    KROutputConfig output;
    config->GetConfigVideoEncoder(&video);
    config->GetConfigAudioEncoder(&audio);
    config->GetConfigOutput(&output);
    change(video, audio, output);
    EXPECT_EQ(config->ConfigVideoEncoder(&video), S_OK);
    config->ConfigAudioEncoder(&audio);
    config->ConfigOutput(&output);
    config->Release();
  }
  KRVideoEncoderConfig Video() {
    IKRMediaConfig* config = nullptr;
    KRVideoEncoderConfig video = {};
    if (SUCCEEDED(unknown_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)))) {
      config->GetConfigVideoEncoder(&video);
      config->Release();
    }
    return video;
  }
  bool InGraph(LPCWSTR name) {
    IBaseFilter* f = nullptr;
    if (FAILED(engine_->Graph()->FindFilterByName(name, &f)) || !f) return false;
    f->Release();
    return true;
  }
  ComScope com_;
  IUnknown* unknown_ = nullptr;
  COKRMedia* engine_ = nullptr;
};

TEST_F(AuthoringTest, TheMediaChooseTheEncoders) {
  struct {
    LONG media;
    bool video, audio;
  } cases[] = {{1, false, true}, {2, true, false}, {3, true, true}, {5, true, true}, {4, false, false}};
  for (const auto& c : cases) {
    StreamerDouble* streamer = nullptr;
    ClassOverride useDouble(CLSID_KRStreamer, [&](IUnknown** o) { return MakeFilter(&streamer, o); });
    ASSERT_EQ(useDouble.Result(), S_OK);
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    Records([&](auto&, auto&, KROutputConfig& o) { o.streamType = c.media == 4 ? 3 : c.media; });
    EXPECT_EQ(engine_->CreateKRFilters(c.media, 0), S_OK) << c.media;
    EXPECT_EQ(InGraph(L"Video encoder"), c.video) << c.media;
    EXPECT_EQ(InGraph(L"Audio encoder"), c.audio) << c.media;
    EXPECT_EQ(engine_->VideoEncoder() != nullptr, c.video) << c.media;
    EXPECT_EQ(engine_->AudioEncoder() != nullptr, c.audio) << c.media;
    EXPECT_TRUE(InGraph(L"KRStreamer filter"));
    EXPECT_TRUE(InGraph(L"KRStreamMux filter"));
    ASSERT_NE(streamer, nullptr);
    EXPECT_FALSE(streamer->calls.empty()) << "the output settings are committed";
    // A new graph forgets the filters of the last one.
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    streamer->NonDelegatingRelease();
  }
}

TEST_F(AuthoringTest, AFailedCreationLeavesNoHalfChain) {
  struct {
    const char* name;
    const CLSID* broken;
    HRESULT result;
  } cases[] = {{"no multiplexer", &CLSID_KRStreamMux, KRM_E_CREATE_MUX},
               {"no streamer", &CLSID_KRStreamer, KRM_E_CREATE_STREAMER},
               {"no audio encoder", &CLSID_KRAudEncFlt, KRM_E_CREATE_AUDIO_ENCODER},
               {"no video encoder", &CLSID_KRVideoEncoder, KRM_E_CREATE_VIDEO_ENCODER}};
  for (const auto& c : cases) {
    ClassOverride broken(*c.broken, [](IUnknown**) { return REGDB_E_CLASSNOTREG; });
    StreamerDouble* streamer = nullptr;
    std::unique_ptr<ClassOverride> useDouble;
    if (c.broken != &CLSID_KRStreamer)
      useDouble = std::make_unique<ClassOverride>(CLSID_KRStreamer,
                                                  [&](IUnknown** o) { return MakeFilter(&streamer, o); });
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    EXPECT_EQ(engine_->CreateKRFilters(3, 0), c.result) << c.name;
    for (LPCWSTR name : {L"Video encoder", L"Audio encoder", L"KRStreamer filter", L"KRStreamMux filter"})
      EXPECT_FALSE(InGraph(name)) << c.name;
    EXPECT_EQ(engine_->VideoEncoder(), nullptr);
    EXPECT_EQ(engine_->AudioEncoder(), nullptr);
    EXPECT_EQ(engine_->Streamer(), nullptr);
    EXPECT_EQ(engine_->Multiplexer(), nullptr);
    if (streamer) streamer->NonDelegatingRelease();
  }
}

TEST_F(AuthoringTest, ConnectionsOfTheChain) {
  // Neither encoder: the multiplexer still joins the streamer.
  Records([](auto&, auto&, KROutputConfig& o) { o.streamType = 3; });
  ASSERT_EQ(engine_->CreateKRFilters(4, 0), S_OK);
  EXPECT_EQ(engine_->ConnectToOutput(nullptr, nullptr), S_OK);
  IPin* muxOut = nullptr;
  ASSERT_EQ(engine_->Multiplexer()->FindPin(L"Output", &muxOut), S_OK);
  IPin* to = nullptr;
  EXPECT_EQ(muxOut->ConnectedTo(&to), S_OK);
  if (to) to->Release();
  muxOut->Release();

  // A source whose downstream filter has only video pins: -2.
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  StreamerDouble* streamer = nullptr;
  ClassOverride useDouble(CLSID_KRStreamer, [&](IUnknown** o) { return MakeFilter(&streamer, o); });
  ASSERT_EQ(engine_->CreateKRFilters(3, 0), S_OK);
  auto* source = new TestVideoSource(176, 144, MEDIASUBTYPE_RGB24, 10, 15.0);
  source->NonDelegatingAddRef();
  ASSERT_EQ(engine_->Graph()->AddFilter(source, L"Pictures"), S_OK);
  ASSERT_EQ(engine_->Graph()->ConnectPinsByIndex(source, engine_->VideoEncoder(), 1, 1), S_OK);
  EXPECT_EQ(engine_->ConnectSourceToAudioEnc(source), -2);
  // An unconnected source gives the connection lookup's failure.
  auto* lone = new TestPcmSource(8000, 2, 5);
  lone->NonDelegatingAddRef();
  ASSERT_EQ(engine_->Graph()->AddFilter(lone, L"Lone"), S_OK);
  EXPECT_EQ(engine_->ConnectSourceToAudioEnc(lone), VFW_E_NOT_CONNECTED);
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  source->NonDelegatingRelease();
  lone->NonDelegatingRelease();
  streamer->NonDelegatingRelease();
}

TEST_F(AuthoringTest, AudioStreamsTakeIdsInRecordOrder) {
  struct {
    const char* name;
    std::vector<KRAudioStreamEntry> entries;
    HRESULT aacAnswer;
    HRESULT result;
    std::vector<std::string> calls;
  } cases[] = {
      {"AAC on, AMR off, EVRC on",
       {{2, 1, 16000, 24000, 2}, {0, 0, 8000, 12200, 1}, {1, 1, 8000, 9200, 1}},
       S_OK,
       S_OK,
       {"reset", "AAC id 0 24000", "EVRC id 1 9200"}},
      {"AMR then EVRC", {{0, 1, 8000, 12200, 1}, {1, 1, 8000, 9200, 1}}, S_OK, S_OK,
       {"reset", "AMR id 0 12200", "EVRC id 1 9200"}},
      {"a busy AAC encoder stops the commit",
       {{2, 1, 16000, 24000, 2}, {0, 1, 8000, 12200, 1}},
       AUDENC_E_AAC_BUSY,
       AUDENC_E_AAC_BUSY,
       {"reset", "AAC id 0 24000"}},
  };
  for (const auto& c : cases) {
    AudioEncoderDouble* encoder = nullptr;
    ClassOverride useDouble(CLSID_KRAudEncFlt, [&](IUnknown** o) {
      HRESULT hr = MakeFilter(&encoder, o);
      encoder->aacAnswer = c.aacAnswer;
      return hr;
    });
    StreamerDouble* streamer = nullptr;
    ClassOverride useStreamer(CLSID_KRStreamer, [&](IUnknown** o) { return MakeFilter(&streamer, o); });
    Records([&](auto&, KRAudioEncoderConfig& a, KROutputConfig& o) {
      a = {};
      for (int i = 0; i < kAudioStreamEntries; ++i) a.stream[i].codec = -1;
      for (size_t i = 0; i < c.entries.size(); ++i) a.stream[i] = c.entries[i];
      o.streamType = 1;
    });
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    EXPECT_EQ(engine_->CreateKRFilters(1, 0), c.result) << c.name;
    ASSERT_NE(encoder, nullptr);
    EXPECT_EQ(encoder->calls, c.calls) << c.name;
    if (c.result == AUDENC_E_AAC_BUSY) {
      EXPECT_NE(LastTrace().find("Only one instance of the AAC encoder allowed"), std::string::npos);
      EXPECT_EQ(streamer, nullptr) << "the chain stops before the streamer";
    }
    if (c.result == S_OK && c.entries[0].codec == 2) {
      // The filter's rates go back to the record.
      IKRMediaConfig* config = nullptr;
      ASSERT_EQ(unknown_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
      KRAudioEncoderConfig a;
      config->GetConfigAudioEncoder(&a);
      config->Release();
      EXPECT_EQ(a.stream[0].samplingRate, 16000);
      EXPECT_EQ(a.stream[0].channels, 1);
    }
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    encoder->NonDelegatingRelease();
    if (streamer) streamer->NonDelegatingRelease();
  }
}

TEST_F(AuthoringTest, TheStreamTableWithTheAacEncodersConfiguration) {
  AudioEncoderDouble* encoder = nullptr;
  ClassOverride useDouble(CLSID_KRAudEncFlt, [&](IUnknown** o) { return MakeFilter(&encoder, o); });
  StreamerDouble* streamer = nullptr;
  ClassOverride useStreamer(CLSID_KRStreamer, [&](IUnknown** o) { return MakeFilter(&streamer, o); });
  Records([](KRVideoEncoderConfig& v, KRAudioEncoderConfig& a, KROutputConfig& o) {
    v.layers = 2;
    v.frameRate[1] = 10.0f;
    a = {};
    for (int i = 0; i < kAudioStreamEntries; ++i) a.stream[i].codec = -1;
    a.stream[0] = {2, 1, 16000, 24000, 2};
    a.stream[1] = {0, 1, 8000, 12200, 1};
    o.streamType = 3;
    o.enhancementLayers = 1;
  });
  ASSERT_EQ(engine_->CreateKRFilters(3, 0), S_OK);
  ASSERT_NE(streamer, nullptr);
  const StreamerDouble::Call* table = streamer->Find(48);
  ASSERT_NE(table, nullptr);
  struct Header {
    BYTE* first;
    LONG count;
  } header;
  ASSERT_EQ(table->block.size(), sizeof header);
  std::memcpy(&header, table->block.data(), sizeof header);
  ASSERT_EQ(header.count, 4);
  auto u32 = [&](int entry, int at) {
    uint32_t v;
    std::memcpy(&v, header.first + entry * 96 + at, 4);
    return v;
  };
  const uint32_t kinds[] = {1, 2, 5, 3}, ids[] = {120, 121, 1, 2};
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(u32(e, 0), kinds[e]) << e;
    EXPECT_EQ(u32(e, 84), ids[e]) << e;
  }
  // The AAC entry carries the filter's configuration and its length.
  EXPECT_EQ(header.first[2 * 96 + 18], sizeof AudioEncoderDouble::kAacConfig);
  EXPECT_EQ(std::memcmp(header.first + 2 * 96 + 20, AudioEncoderDouble::kAacConfig, 2), 0);
  EXPECT_EQ(header.first[3 * 96 + 18], 1);
  EXPECT_EQ(header.first[3 * 96 + 20], 7);
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  encoder->NonDelegatingRelease();
  streamer->NonDelegatingRelease();
}

TEST_F(AuthoringTest, VideoSettingsReachTheEncoderInOrder) {
  struct {
    const char* name;
    int height;
    uint16_t fixedIFrame;
    uint16_t downloadOnly;
    std::vector<std::string> log;
    int heightAfter;
  } cases[] = {
      {"fixed interval", 144, 1, 0,
       {"frame size 176x144 -> 176x144", "frame size 176x144 -> 176x144", "source frame rate 15.000 -> 15.000",
        "layer 0 frame rate 15.000", "layer 0 bit rate 64000", "I-frame interval 12", "full search 0"},
       144},
      {"no fixed interval, download only, a size the encoder rounds", 143, 0, 1,
       {"frame size 176x143 -> 176x142", "rate mode 3", "packet mode 2 kept (every picture is one packet)",
        "frame size 176x142 -> 176x142", "source frame rate 15.000 -> 15.000", "layer 0 frame rate 15.000",
        "layer 0 bit rate 64000", "I-frame interval -1", "full search 0"},
       142},
  };
  for (const auto& c : cases) {
    const std::string log = LogPath("venc-commit.log");
    std::remove(log.c_str());
    SetEnvironmentVariableA("KR_FILTER_LOG", log.c_str());
    Records([&](KRVideoEncoderConfig& v, auto&, KROutputConfig& o) {
      v.width = 176;
      v.height = c.height;
      v.sourceFrameRate = 15.0f;
      v.frameRate[0] = 15.0f;
      v.bitRate[0] = 64000;
      v.fixedIFrameInterval = c.fixedIFrame;
      v.iFrameInterval = 12;
      o.downloadOnly = c.downloadOnly;
      o.streamType = 2;
    });
    StreamerDouble* streamer = nullptr;
    ClassOverride useStreamer(CLSID_KRStreamer, [&](IUnknown** o) { return MakeFilter(&streamer, o); });
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    ASSERT_EQ(engine_->CreateKRFilters(2, 0), S_OK);
    EXPECT_EQ(engine_->CommitVideoEncoderSettings(), S_OK) << c.name;
    EXPECT_FLOAT_EQ(engine_->SourceFrameRate(), 15.0f);
    std::vector<std::string> lines;
    for (const std::string& l : LogLines(log, "video encoder: "))
      if (l != "created") lines.push_back(l);
    EXPECT_EQ(lines, c.log) << c.name;
    // A size the encoder changed changes only the size in the record.
    const KRVideoEncoderConfig after = Video();
    EXPECT_EQ(after.height, c.heightAfter) << c.name;
    EXPECT_EQ(after.width, 176);
    EXPECT_EQ(after.fixedIFrameInterval, c.fixedIFrame) << c.name;
    EXPECT_EQ(after.iFrameInterval, 12) << c.name;

    // The layer's decoder configuration closes the batch.
    streamer->calls.clear();
    EXPECT_EQ(engine_->CommitEncodingParamToOutput(), S_OK);
    EXPECT_EQ(streamer->Ids(), (std::vector<ULONG>{40, 41, 1000})) << c.name;
    ASSERT_EQ(streamer->layerConfigs.size(), 1u);
    const std::vector<BYTE>& config = streamer->layerConfigs[0];
    ASSERT_GE(config.size(), 4u);
    EXPECT_EQ(config[0], 0);
    EXPECT_EQ(config[1], 0);
    EXPECT_EQ(config[2], 1);
    EXPECT_EQ(config[3], 0xB0) << "starts with the visual object sequence";
    EXPECT_GT(streamer->Find(41)->value, 0);
    ASSERT_EQ(engine_->CreateGraph(0), S_OK);
    streamer->NonDelegatingRelease();
  }
}

TEST_F(AuthoringTest, TheStillImageIsCodedOnceAndTheEncoderGoes) {
  // A 175 x 100 picture (the engine pads it to 176).
  const int w = 175, h = 100;
  std::vector<uint8_t> rows(RowSize24(w) * h);
  for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(i * 7);
  const std::vector<uint8_t> bmp = WriteBmp(rows.data(), w, h);
  const std::string path = TestDir() + "still-commit.bmp";
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bmp.data(), 1, bmp.size(), f);
  std::fclose(f);

  const std::string log = LogPath("venc-still.log");
  std::remove(log.c_str());
  SetEnvironmentVariableA("KR_FILTER_LOG", log.c_str());
  Records([&](auto&, auto&, KROutputConfig& o) {
    o.streamType = 5;
    std::u16string name(path.begin(), path.end());
    std::memcpy(o.stillImageFileName, name.c_str(), (name.size() + 1) * 2);
  });
  StreamerDouble* streamer = nullptr;
  ClassOverride useStreamer(CLSID_KRStreamer, [&](IUnknown** o) { return MakeFilter(&streamer, o); });
  ASSERT_EQ(engine_->CreateKRFilters(5, 0), S_OK);
  streamer->calls.clear();
  EXPECT_EQ(engine_->ConfigStillImage(), S_OK);
  EXPECT_EQ(streamer->Ids(), (std::vector<ULONG>{34, 35, 1000}));
  const StreamerDouble::Call* frame = streamer->Find(34);
  const StreamerDouble::Call* config = streamer->Find(35);
  ASSERT_GE(frame->block.size(), 5u);
  EXPECT_EQ(frame->block[3], 0xB6) << "a picture";
  EXPECT_EQ(frame->block[4] >> 6, 0) << "coded intra";
  ASSERT_GE(config->block.size(), 4u);
  EXPECT_EQ(config->block[3], 0xB0);
  EXPECT_EQ(engine_->VideoEncoder(), nullptr);
  EXPECT_FALSE(InGraph(L"Video encoder"));
  EXPECT_EQ(engine_->StillHeader().biWidth, 176);
  EXPECT_EQ(engine_->StillHeader().biHeight, 100);
  EXPECT_EQ(engine_->StillPixels().size(), size_t(RowSize24(176) * 100));
  int stills = 0;
  for (const std::string& l : LogLines(log, "video encoder: ")) stills += l.rfind("still picture", 0) == 0;
  EXPECT_EQ(stills, 1);

  // A missing image: the load's failure, the streamer untouched.
  streamer->calls.clear();
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  Records([&](auto&, auto&, KROutputConfig& o) { std::memcpy(o.stillImageFileName, u"Z:\\no\\such.bmp", 30); });
  ASSERT_EQ(engine_->CreateKRFilters(5, 0), S_OK);
  streamer->calls.clear();
  EXPECT_EQ(engine_->ConfigStillImage(), KRM_E_INVALID_FILE_NAME);
  EXPECT_TRUE(streamer->calls.empty());
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  streamer->NonDelegatingRelease();
}

// Test sources through the whole chain into a file of the live server's
// archive; the events reach a window.
TEST_F(AuthoringTest, TestSourcesToAnMp4File) {
  const std::string file = TestDir() + "authoring-e2e.mp4";
  std::remove(file.c_str());
  Records([&](KRVideoEncoderConfig& v, KRAudioEncoderConfig& a, KROutputConfig& o) {
    v.width = 176;
    v.height = 144;
    v.sourceFrameRate = 15.0f;
    v.frameRate[0] = 15.0f;
    v.bitRate[0] = 64000;
    a.stream[0] = {0, 1, 8000, 12200, 1};
    a.stream[1].enabled = 0;
    o.streamType = 3;
    o.mediaOutputType = 1;
    std::u16string name(file.begin(), file.end());
    std::memcpy(o.outputFileName, name.c_str(), (name.size() + 1) * 2);
  });
  ASSERT_EQ(engine_->CreateKRFilters(3, 0), S_OK);
  auto* video = new TestVideoSource(176, 144, MEDIASUBTYPE_RGB24, 45, 15.0);
  auto* audio = new TestPcmSource(8000, 2, 150);
  video->NonDelegatingAddRef();
  audio->NonDelegatingAddRef();
  CCustomGraph* graph = engine_->Graph();
  ASSERT_EQ(graph->AddFilter(video, L"Pictures"), S_OK);
  ASSERT_EQ(graph->AddFilter(audio, L"Sound"), S_OK);
  ASSERT_EQ(graph->ConnectPinsByIndex(video, engine_->VideoEncoder(), 1, 1), S_OK);
  ASSERT_EQ(engine_->CommitVideoEncoderSettings(), S_OK);
  ASSERT_EQ(graph->ConnectByPinIds(audio, engine_->AudioEncoder(), L"Out", L"Audio in"), S_OK);
  ASSERT_EQ(engine_->ConnectToOutput(engine_->VideoEncoder(), engine_->AudioEncoder()), S_OK);
  ASSERT_EQ(engine_->CommitEncodingParamToOutput(), S_OK);

  HWND window = CreateWindowExW(0, L"STATIC", L"events", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_EQ(graph->SetNotifyWindow(window, 0x5F4), S_OK);
  engine_->SetGraphState(1);
  ASSERT_TRUE(SUCCEEDED(engine_->StartGraph()));
  // The control's part: on each 0x5F4, every pending event.
  auto pump = [&](LONG wanted, DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    int notices = 0;
    while (int(until - GetTickCount()) > 0) {
      MSG msg;
      if (!PeekMessageW(&msg, window, 0x5F4, 0x5F4, PM_REMOVE)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLPOSTMESSAGE);
        continue;
      }
      ++notices;
      LONG code;
      LONG_PTR p1, p2;
      while (engine_->GetDSEvent(&code, &p1, &p2) == S_OK) {
        engine_->FreeDSEvent(code, p1, p2);
        if (code == wanted) return notices;
      }
    }
    return -notices - 1;
  };
  EXPECT_GT(pump(EC_COMPLETE, 60000), 0) << "EC_COMPLETE by 0x5F4";
  EXPECT_EQ(engine_->StopGraph(0), S_OK);
  EXPECT_GT(pump(EC_KR_STOPPED, 20000), 0) << "the archive is written";
  DestroyWindow(window);
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  video->NonDelegatingRelease();
  audio->NonDelegatingRelease();

  ASSERT_TRUE(WaitForFile(file, 5000));
  const Ran info = RunWindows(TestDir() + "mp4info.exe", "\"" + file + "\"", "mp4info-e2e");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("content version 3.0"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("MP4V-ES, time scale 1000, media duration 3000, 45 samples"), std::string::npos)
      << info.output;
  EXPECT_NE(info.output.find("AMR, time scale"), std::string::npos) << info.output;
  if (!UnderWine()) GTEST_SKIP() << "ffmpeg is started through Wine";
  const Ran ff = RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -i " + UnixPath(file) + " -map 0:v -f framecrc -",
                         "ffmpeg-e2e");
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  size_t frames = 0;
  for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
  EXPECT_EQ(frames, 45u) << ff.output;
}

}  // namespace
