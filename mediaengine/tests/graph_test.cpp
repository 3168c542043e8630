// The engine's graph life and event delivery on Wine's graph manager, with
// the platform's test filters and a streamer double that records its calls.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dshow/base.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "mediaengine/server.h"
#include "doubles.h"
#include "test_filters.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

class GraphTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(com_.Result(), S_OK);
    ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&unknown_)), S_OK);
    engine_ = static_cast<COKRMedia*>(unknown_);
  }
  void TearDown() override {
    unknown_->Release();
    EXPECT_EQ(ModuleObjectCount(), 0);
  }
  // Raises an event as a filter would.
  void Notify(LONG code, LONG_PTR p1, LONG_PTR p2) {
    IMediaEventSink* sink = nullptr;
    ASSERT_EQ(engine_->Graph()->QueryGraph(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)), S_OK);
    sink->Notify(code, p1, p2);
    sink->Release();
  }
  template <class Change>
  void ChangeConfig(Change change) {
    IKRMediaConfig* config = nullptr;
    ASSERT_EQ(unknown_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
    change(config);
    config->Release();
  }
  void SetOutputType(LONG type) {
    IKRMediaConfig* config = nullptr;
    ASSERT_EQ(unknown_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
    KROutputConfig output;
    config->GetConfigOutput(&output);
    output.mediaOutputType = type;
    output.fileOutput = 1;
    config->ConfigOutput(&output);
    config->Release();
  }
  ComScope com_;
  IUnknown* unknown_ = nullptr;
  COKRMedia* engine_ = nullptr;
};

TEST_F(GraphTest, WithoutAGraph) {
  LONG code;
  LONG_PTR p1, p2;
  EXPECT_EQ(engine_->GetDSEvent(&code, &p1, &p2), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(engine_->DestroyGraph(), E_FAIL);
  EXPECT_EQ(engine_->StartGraph(), S_OK);
  EXPECT_EQ(engine_->StopGraph(0), S_OK);
  double seconds = -1;
  EXPECT_EQ(engine_->GetCurrentMediaTime(&seconds), S_OK);
  EXPECT_EQ(seconds, 0.0);
}

TEST_F(GraphTest, EventsAreDeliveredAndBlocksCopied) {
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  HWND window = CreateWindowExW(0, L"STATIC", L"events", 0, 0, 0, 1, 1, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_EQ(engine_->Graph()->SetNotifyWindow(window, 0x5F4), S_OK);
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  DWORD before = GetTickCount();
  EXPECT_EQ(engine_->GetDSEvent(&code, &p1, &p2), E_ABORT);
  EXPECT_LT(GetTickCount() - before, 2000u) << "the wait is bounded";
  EXPECT_EQ(code, 0);

  BYTE block[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  Notify(32774, reinterpret_cast<LONG_PTR>(block), sizeof block);
  Notify(32776, reinterpret_cast<LONG_PTR>(block), 0);
  Notify(32775, 0, 8);
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, window, 0x5F4, 0x5F4, PM_REMOVE)) << "the window hears of pending events";

  ASSERT_EQ(engine_->GetDSEvent(&code, &p1, &p2), S_OK);
  EXPECT_EQ(code, 32774);
  EXPECT_NE(p1, reinterpret_cast<LONG_PTR>(block)) << "a copy";
  EXPECT_EQ(p2, 12);
  block[0] = 99;  // the filter's block changes; the copy does not
  EXPECT_EQ(reinterpret_cast<BYTE*>(p1)[0], 1);
  EXPECT_EQ(reinterpret_cast<BYTE*>(p1)[11], 12);
  EXPECT_EQ(engine_->FreeDSEvent(code, p1, p2), S_OK);

  ASSERT_EQ(engine_->GetDSEvent(&code, &p1, &p2), S_OK);
  EXPECT_EQ(code, 32776);
  EXPECT_EQ(p1, reinterpret_cast<LONG_PTR>(block)) << "length 0: passed as it came";
  EXPECT_EQ(engine_->FreeDSEvent(code, p1, p2), S_OK) << "and not freed";

  ASSERT_EQ(engine_->GetDSEvent(&code, &p1, &p2), S_OK);
  EXPECT_EQ(code, 32775);
  EXPECT_EQ(p1, 0) << "never copied from null";
  EXPECT_EQ(engine_->FreeDSEvent(code, p1, p2), E_FAIL);
  EXPECT_EQ(engine_->GetDSEvent(&code, &p1, &p2), E_ABORT);

  HANDLE event = nullptr;
  EXPECT_EQ(engine_->GetDSEventHandle(&event), S_OK);
  EXPECT_NE(event, nullptr);
  DestroyWindow(window);
}

TEST_F(GraphTest, FlushDiscardsPendingEvents) {
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  for (int i = 0; i < 3; ++i) Notify(32772, i, 0);
  LONG count = 0;
  EXPECT_EQ(engine_->FlushEvent(&count), S_OK);
  EXPECT_EQ(count, 3);
  LONG code;
  LONG_PTR p1, p2;
  EXPECT_EQ(engine_->GetDSEvent(&code, &p1, &p2), E_ABORT);
}

TEST_F(GraphTest, StartStopAndTheStreamer) {
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  TestPcmSource* source = new TestPcmSource(8000, 1, 1000);
  TestSink* sink = new TestSink(MEDIATYPE_Audio);
  source->NonDelegatingAddRef();
  sink->NonDelegatingAddRef();
  CCustomGraph* graph = engine_->Graph();
  ASSERT_EQ(graph->AddFilter(source, L"Source"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink, L"Sink"), S_OK);
  ASSERT_EQ(graph->ConnectByPinIds(source, sink, L"Out", L"In"), S_OK);

  EXPECT_EQ(engine_->StartGraph(), S_OK);
  EXPECT_EQ(engine_->GraphState(), 0) << "only a built, stopped graph starts";
  engine_->SetGraphState(1);
  EXPECT_TRUE(SUCCEEDED(engine_->StartGraph()));
  EXPECT_EQ(engine_->GraphState(), 3);
  EXPECT_EQ(engine_->StartGraph(), S_OK) << "a running graph is left alone";

  // Stopping the graph only leaves events and the streamer alone.
  Notify(32772, 0, 0);
  EXPECT_EQ(engine_->StopGraph(-1), S_OK);
  EXPECT_EQ(engine_->GraphState(), 1);
  LONG code;
  LONG_PTR p1, p2;
  bool kept = false;  // among the graph's own events (clock changes)
  while (engine_->GetDSEvent(&code, &p1, &p2) == S_OK) kept = kept || code == 32772;
  EXPECT_TRUE(kept);

  EXPECT_EQ(engine_->StopGraph(1), KRM_E_CREATE_STREAMER) << "mode 1 needs a streamer";
  StreamerDouble* streamer = new StreamerDouble();
  streamer->NonDelegatingAddRef();
  engine_->SetStreamer(streamer);
  SetOutputType(1);
  EXPECT_EQ(engine_->StopGraph(1), S_OK);
  EXPECT_TRUE(engine_->RunPending());
  EXPECT_TRUE(streamer->pauseStates.empty()) << "a file-only output has no clients to keep";
  EXPECT_EQ(engine_->StopGraph(0), S_OK);
  EXPECT_FALSE(engine_->RunPending());
  SetOutputType(4);
  EXPECT_EQ(engine_->StopGraph(1), S_OK);
  EXPECT_EQ(engine_->StopGraph(0), S_OK);
  EXPECT_EQ(streamer->pauseStates, (std::vector<long>{1, 0}));

  // A new graph starts empty, and forgets the streamer.
  ASSERT_EQ(engine_->CreateGraph(0), S_OK);
  IBaseFilter* found = nullptr;
  EXPECT_TRUE(FAILED(graph->FindFilterByName(L"Source", &found)));
  EXPECT_EQ(engine_->StopGraph(1), KRM_E_CREATE_STREAMER);
  streamer->NonDelegatingRelease();
  source->NonDelegatingRelease();
  sink->NonDelegatingRelease();
}

TEST_F(GraphTest, OutputSettingsReachTheStreamerInOrder) {
  struct {
    const char* name;
    int32_t streamType;
    uint16_t randomPositioning;
    uint16_t fixedIFrame;
    uint16_t clientNoAudio;
    int32_t contentVersion;
    HRESULT result;
    std::vector<ULONG> ids;  // empty: the streamer is not touched
    LONG_PTR param43, param45, param47;
    int tableEntries;
  } cases[] = {
      {"audio only, applied here", 1, 1, 1, 1, 30, S_OK,
       {0, 5, 6, 37, 38, 39, 49, 7, 8, 9, 10, 36, 12, 13, 14, 15, 16, 17, 18, 19, 31, 23, 24, 27, 28, 42, 43, 44, 45,
        46, 47, 48, 49, 1000},
       0, 1, 10, 1},
      {"video and audio, applied later", 3, 0, 0, 0, 30, S_OK,
       {0, 5, 6, 37, 38, 39, 49, 7, 8, 9, 10, 36, 12, 13, 14, 15, 16, 17, 18, 19, 31, 23, 24, 27, 28, 42, 43, 44, 45,
        46, 47, 48, 49},
       1, 0, -1, 2},
      // Video only: no audio entries, and players without audio are welcome.
      {"video only, applied later", 2, 1, 1, 0, 30, S_OK,
       {0, 5, 6, 37, 38, 39, 49, 7, 8, 9, 10, 36, 12, 13, 14, 15, 16, 17, 18, 19, 31, 23, 24, 27, 28, 42, 43, 44, 45,
        46, 47, 48, 49},
       0, 1, 10, 1},
      // A still image: no video entries; the still-image commit applies.
      {"still image, applied later", 5, 0, 1, 1, 30, S_OK,
       {0, 5, 6, 37, 38, 39, 49, 7, 8, 9, 10, 36, 12, 13, 14, 15, 16, 17, 18, 19, 31, 23, 24, 27, 28, 42, 43, 44, 45,
        46, 47, 48, 49},
       1, 1, 10, 1},
  };
  StreamerDouble* streamer = new StreamerDouble();
  streamer->NonDelegatingAddRef();
  engine_->SetStreamer(streamer);
  for (const auto& c : cases) {
    streamer->calls.clear();
    ChangeConfig([&](IKRMediaConfig* config) {
      KROutputConfig output;
      config->GetConfigOutput(&output);
      output.streamType = c.streamType;
      output.randomPositioning = c.randomPositioning;
      output.clientNoAudio = c.clientNoAudio;
      output.contentVersion = c.contentVersion;
      config->ConfigOutput(&output);
      KRVideoEncoderConfig video;
      config->GetConfigVideoEncoder(&video);
      video.fixedIFrameInterval = c.fixedIFrame;
      config->ConfigVideoEncoder(&video);
    });
    EXPECT_EQ(engine_->CommitOutputSettings(), c.result) << c.name;
    std::vector<ULONG> ids;
    for (const auto& call : streamer->calls) ids.push_back(call.id);
    EXPECT_EQ(ids, c.ids) << c.name;
    ASSERT_NE(streamer->Find(12), nullptr);
    EXPECT_EQ(streamer->Find(12)->text, u"Content V3.0 Scrivel V3.0 Build 113") << c.name;
    EXPECT_EQ(streamer->Find(13)->text, u"Kestrune Corp.");
    EXPECT_EQ(streamer->Find(43)->value, c.param43) << c.name;
    EXPECT_EQ(streamer->Find(45)->value, c.param45) << c.name;
    EXPECT_EQ(streamer->Find(47)->value, c.param47) << c.name;
    EXPECT_EQ(streamer->Find(44)->value, 0x300);
    EXPECT_EQ(streamer->Find(31)->value, 4) << "file output type 1";
    EXPECT_EQ(streamer->Find(37)->value, 60000);
    const auto& table = streamer->Find(48)->block;
    ASSERT_EQ(table.size(), sizeof(void*) * 2);
    LONG count;
    std::memcpy(&count, table.data() + sizeof(void*), sizeof count);
    EXPECT_EQ(count, c.tableEntries) << c.name;
  }
  streamer->NonDelegatingRelease();
}

TEST_F(GraphTest, CommitWithoutStreamer) {
  EXPECT_EQ(engine_->CommitOutputSettings(), KRM_E_CREATE_STREAMER);
}

}  // namespace
