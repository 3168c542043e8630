// The stream multiplexer under Wine: our pattern source through the video
// encoder into "Video in", AMR packets into "Audio in"; every sample comes
// out once, tagged with its kind, times and key flag, its bytes unchanged;
// the output merges the inputs in time order and ends when both have ended.
#include <windows.h>
#include <control.h>
#include <objbase.h>
#include <strmif.h>

#include <gtest/gtest.h>

#include <cstring>

#include "push_sources.h"
#include "streammux/mux_format.h"
#include "videoencoder/interfaces.h"

CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

TEST(MuxFormat, HeadersRoundTripAndLengthsAreBounded) {
  uint8_t buf[32] = {};
  streammux::SampleHeader h;
  h.kind = streammux::kKindAudio;
  h.flags = 0;
  h.startMs = 123456;
  h.durationMs = 60;
  h.length = 16;
  streammux::WriteHeader(buf, h);
  streammux::SampleHeader r;
  ASSERT_TRUE(streammux::ReadHeader(buf, sizeof buf, &r));
  EXPECT_EQ(r.startMs, 123456u);
  EXPECT_EQ(r.durationMs, 60u);
  EXPECT_EQ(r.length, 16u);
  EXPECT_FALSE(streammux::ReadHeader(buf, 31, &r));  // the payload runs past the bytes
  EXPECT_FALSE(streammux::ReadHeader(buf, 15, &r));
  buf[0] = 3;
  EXPECT_FALSE(streammux::ReadHeader(buf, sizeof buf, &r));
}

TEST(StreamMux, ForwardsEverySampleTaggedAndEndsWhenBothInputsEnd) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  IBaseFilter *enc = nullptr, *mux = nullptr;
  ASSERT_EQ(CreateFromDll(VIDENC_DLL, CLSID_KRVideoEncoder, IID_IBaseFilter, reinterpret_cast<void**>(&enc)), S_OK);
  ASSERT_EQ(CreateFromDll(MUX_DLL, CLSID_KRStreamMux, IID_IBaseFilter, reinterpret_cast<void**>(&mux)), S_OK);
  auto* video = new TestVideoSource(176, 144, MEDIASUBTYPE_RGB24, 30, 15.0);
  auto* audio = new TestAmrSource(7, 3, 25, 0);  // 12.2 kbit/s, 3 frames a packet: 1.5 s
  auto* sink = new TestCaptureSink(MEDIATYPE_Stream);
  for (CBaseFilter* f : std::initializer_list<CBaseFilter*>{video, audio, sink}) f->NonDelegatingAddRef();
  graph->AddFilter(video, L"video");
  graph->AddFilter(audio, L"audio");
  graph->AddFilter(enc, L"Video encoder");
  graph->AddFilter(mux, L"KRStreamMux filter");
  graph->AddFilter(sink, L"sink");
  IVidEncCfg* cfg = nullptr;
  ASSERT_EQ(enc->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg)), S_OK);
  long interval = 10;
  float rate = 15.0f;
  cfg->SetIFrameInterval(&interval);
  cfg->SetLayerFrameRate(0, &rate);
  cfg->Release();

  IPin *encIn = nullptr, *encOut = nullptr, *muxVideo = nullptr, *muxAudio = nullptr, *muxOut = nullptr;
  enc->FindPin(L"Video in", &encIn);
  enc->FindPin(L"Video out", &encOut);
  ASSERT_EQ(mux->FindPin(L"Video in", &muxVideo), S_OK);
  ASSERT_EQ(mux->FindPin(L"Audio in", &muxAudio), S_OK);
  ASSERT_EQ(mux->FindPin(L"Output", &muxOut), S_OK);
  ASSERT_EQ(graph->ConnectDirect(video->GetPin(0), encIn, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(encOut, muxVideo, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(audio->GetPin(0), muxAudio, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(muxOut, sink->GetPin(0), nullptr), S_OK);
  // The inputs take nothing but their own types.
  const CMediaType streamType = sink->ConnectedType();
  EXPECT_NE(muxVideo->QueryAccept(&streamType), S_OK);
  EXPECT_NE(muxAudio->QueryAccept(&streamType), S_OK);

  IMediaControl* control = nullptr;
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(video->WaitFinished(30000));
  EXPECT_TRUE(audio->WaitFinished(30000));
  EXPECT_TRUE(sink->WaitEndOfStream(10000));
  control->Stop();
  EXPECT_EQ(sink->EndOfStreams(), 1);

  int videoCount = 0, audioCount = 0;
  uint32_t last = 0;
  for (const auto& s : sink->Samples()) {
    streammux::SampleHeader h;
    ASSERT_TRUE(streammux::ReadHeader(s.bytes.data(), s.bytes.size(), &h));
    // The two inputs come out merged in time order.
    EXPECT_GE(h.startMs, last) << videoCount << " " << audioCount;
    last = h.startMs;
    ASSERT_EQ(h.length + streammux::kHeaderBytes, s.bytes.size());
    EXPECT_EQ(h.startMs, uint32_t(s.start / 10000));
    if (h.kind == streammux::kKindVideo) {
      // Intra pictures every 10 at 15 pictures per second.
      EXPECT_EQ(h.flags, videoCount % 10 == 0 ? streammux::kVideoKey : streammux::kVideoPredicted) << videoCount;
      EXPECT_EQ(h.startMs, uint32_t(videoCount * 1000 / 15)) << videoCount;
      EXPECT_EQ(s.bytes[streammux::kHeaderBytes + 3], 0xB6);  // a VOP start code
      ++videoCount;
    } else {
      EXPECT_EQ(h.startMs, uint32_t(audioCount * 60));
      EXPECT_EQ(h.durationMs, 60u);
      EXPECT_EQ(s.bytes[streammux::kHeaderBytes + 2], 3);  // frames in the packet
      EXPECT_EQ(s.bytes[streammux::kHeaderBytes + 5], 7);  // the first frame's type: 12.2 kbit/s
      ++audioCount;
    }
  }
  EXPECT_EQ(videoCount, 30);
  EXPECT_EQ(audioCount, 25);

  for (IUnknown* u : std::initializer_list<IUnknown*>{encIn, encOut, muxVideo, muxAudio, muxOut, control}) u->Release();
  graph->Release();
  enc->Release();
  mux->Release();
  for (CBaseFilter* f : std::initializer_list<CBaseFilter*>{video, audio, sink}) f->NonDelegatingRelease();
  CoUninitialize();
}

}  // namespace
