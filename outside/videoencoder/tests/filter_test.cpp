// The video encoder filter under Wine: its interfaces in the slots the
// engine calls, in the engine's order; a graph from a pattern source through
// the encoder, whose samples our decoder turns back into the preview's
// pictures exactly; and the still picture.
#include <windows.h>
#include <control.h>
#include <objbase.h>
#include <strmif.h>
#include <amvideo.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "push_sources.h"
#include "video/vdec.h"
#include "videoenc/convert.h"
#include "videoencoder/interfaces.h"

// The test program is no COM server; the base layer wants the templates.
CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

// Calls slot `method` after IUnknown's three, as a caller built against
// another header would.
template <typename... A>
HRESULT callSlot(IUnknown* itf, int method, A... args) {
  using Fn = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, A...);
  void** vtable = *reinterpret_cast<void***>(itf);
  return reinterpret_cast<Fn>(vtable[3 + method - 1])(itf, args...);
}

struct Com {
  Com() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
  ~Com() { CoUninitialize(); }
};

IBaseFilter* newEncoder() {
  IBaseFilter* f = nullptr;
  EXPECT_EQ(CreateFromDll(VIDENC_DLL, CLSID_KRVideoEncoder, IID_IBaseFilter, reinterpret_cast<void**>(&f)), S_OK);
  return f;
}

TEST(VideoEncoderFilter, TakesTheEnginesCallsInOrderInTheirSlots) {
  Com com;
  IBaseFilter* f = newEncoder();
  ASSERT_TRUE(f);
  IUnknown* cfg = nullptr;
  ASSERT_EQ(f->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg)), S_OK);
  // CommitVideoEncoderSettings: 4, 5, 12, 4, 6, 8, 10, 14, 28; then 35 and 34.
  long w = 177, h = 143;
  EXPECT_EQ(callSlot(cfg, 4, &w, &h), S_OK);
  EXPECT_EQ(w, 176);  // even sizes only
  EXPECT_EQ(h, 142);
  w = h = 0;
  EXPECT_EQ(callSlot(cfg, 5, &w, &h), S_OK);
  EXPECT_EQ(w, 176);
  long layers = 2;
  EXPECT_EQ(callSlot(cfg, 12, &layers), VIDENC_E_ONE_LAYER);
  EXPECT_EQ(layers, 1);
  w = 176;
  h = 144;
  EXPECT_EQ(callSlot(cfg, 4, &w, &h), S_OK);
  float source = 100.0f;
  EXPECT_EQ(callSlot(cfg, 6, &source), S_OK);
  EXPECT_EQ(source, 60.0f);  // written back within range
  float rate = 10.0f;
  EXPECT_EQ(callSlot(cfg, 8, 0L, &rate), S_OK);
  EXPECT_EQ(callSlot(cfg, 8, 1L, &rate), VIDENC_E_ONE_LAYER);
  long bitRate = 48000;
  EXPECT_EQ(callSlot(cfg, 10, 0L, &bitRate), S_OK);
  long interval = -1;
  EXPECT_EQ(callSlot(cfg, 14, &interval), S_OK);
  EXPECT_EQ(callSlot(cfg, 28, 1L), S_OK);
  EXPECT_EQ(callSlot(cfg, 16, 3L), S_OK);
  EXPECT_EQ(callSlot(cfg, 18, 2L), S_OK);
  BYTE config[50];
  long size = 50;
  EXPECT_EQ(callSlot(cfg, 35, 0L, config, &size), S_OK);
  EXPECT_GT(size, 20);
  EXPECT_LE(size, 50);
  VideoDecoder dec;
  int dw = 0, dh = 0;
  ASSERT_EQ(vdec_create_get_size(&dec, config, size, &dw, &dh), 1);
  vdec_destroy(&dec);
  EXPECT_EQ(dw, 176);
  EXPECT_EQ(dh, 144);
  long small = 10;
  EXPECT_EQ(callSlot(cfg, 35, 0L, config, &small), VIDENC_E_BUFFER_TOO_SMALL);
  long further = 0;
  EXPECT_EQ(callSlot(cfg, 34, &further), S_OK);
  EXPECT_GT(further, 0);
  // Slots the engine does not call.
  for (int m : {2, 3, 7, 9, 11, 13, 15, 17, 19, 20, 27, 29, 33}) EXPECT_EQ(callSlot(cfg, m), E_NOTIMPL) << m;
  cfg->Release();

  IUnknown* stats = nullptr;
  ASSERT_EQ(f->QueryInterface(IID_IVidEncStats, reinterpret_cast<void**>(&stats)), S_OK);
  // The engine's order: second, first, fifth, third, eighth.
  long a = -1, b = -1;
  EXPECT_EQ(callSlot(stats, 2, &a, &b), S_OK);
  EXPECT_EQ(b, 48000);
  ULONG frames = 7;
  EXPECT_EQ(callSlot(stats, 1, &frames), S_OK);
  EXPECT_EQ(frames, 0u);
  ULONG kb = 1, intra = 1;
  EXPECT_EQ(callSlot(stats, 5, -1L, &kb, &intra), S_OK);
  long qp = -1;
  EXPECT_EQ(callSlot(stats, 3, -1L, &qp), S_OK);
  ULONG dropped = 9;
  EXPECT_EQ(callSlot(stats, 8, &dropped), S_OK);
  EXPECT_EQ(dropped, 0u);
  stats->Release();
  f->Release();
}

struct GraphCase {
  const char* name;
  int srcW, srcH;
  bool rgb;
  double srcFps;
  int frames;
  long encW, encH;
  float layerFps;
  long interval;
  int expectedPictures;
};

class VideoEncoderGraph : public ::testing::TestWithParam<GraphCase> {};

TEST_P(VideoEncoderGraph, OurDecoderTurnsTheSamplesIntoThePreviewPictures) {
  const GraphCase& c = GetParam();
  Com com;
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  IBaseFilter* enc = newEncoder();
  ASSERT_TRUE(enc);
  auto* source = new TestVideoSource(c.srcW, c.srcH, c.rgb ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_KRI420, c.frames, c.srcFps);
  auto* sink = new TestCaptureSink(MEDIATYPE_Video);
  auto* preview = new TestCaptureSink(MEDIATYPE_Video);
  source->NonDelegatingAddRef();
  sink->NonDelegatingAddRef();
  preview->NonDelegatingAddRef();
  ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
  ASSERT_EQ(graph->AddFilter(enc, L"Video encoder"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
  ASSERT_EQ(graph->AddFilter(preview, L"preview"), S_OK);

  IVidEncCfg* cfg = nullptr;
  ASSERT_EQ(enc->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg)), S_OK);
  long w = c.encW, h = c.encH, bitRate = 96000, interval = c.interval;
  float src = float(c.srcFps), layer = c.layerFps;
  cfg->SetFrameSize(&w, &h);
  cfg->SetSourceFrameRate(&src);
  cfg->SetLayerFrameRate(0, &layer);
  cfg->SetLayerBitRate(0, &bitRate);
  cfg->SetIFrameInterval(&interval);

  IPin *in = nullptr, *out = nullptr, *pv = nullptr;
  ASSERT_EQ(enc->FindPin(L"Video in", &in), S_OK);
  ASSERT_EQ(enc->FindPin(L"Video out", &out), S_OK);
  ASSERT_EQ(enc->FindPin(L"Video preview", &pv), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(out, sink->GetPin(0), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(pv, preview->GetPin(0), nullptr), S_OK);

  IMediaControl* control = nullptr;
  ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(source->WaitFinished(60000));
  EXPECT_TRUE(sink->WaitEndOfStream(10000));
  EXPECT_TRUE(preview->WaitEndOfStream(10000));

  IVidEncStats* stats = nullptr;
  ASSERT_EQ(enc->QueryInterface(IID_IVidEncStats, reinterpret_cast<void**>(&stats)), S_OK);
  ULONG frames = 0, dropped = 0;
  stats->GetFrameCount(&frames);
  stats->GetDroppedFrames(&dropped);
  EXPECT_EQ(int(frames), c.expectedPictures);
  EXPECT_EQ(int(frames + dropped), c.frames);
  stats->Release();
  control->Stop();

  // The configuration travels in the connection's format block.
  const CMediaType mt = sink->ConnectedType();
  ASSERT_GT(mt.FormatLength(), sizeof(VIDEOINFOHEADER));
  const BYTE* config = mt.Format() + sizeof(VIDEOINFOHEADER);
  const int32_t configSize = int32_t(mt.FormatLength() - sizeof(VIDEOINFOHEADER));
  const auto samples = sink->Samples();
  const auto pictures = preview->Samples();
  ASSERT_EQ(int(samples.size()), c.expectedPictures);
  ASSERT_EQ(pictures.size(), samples.size());

  VideoDecoder dec;
  const uint8_t* cfgs[1] = {config};
  ASSERT_EQ(vdec_create(&dec, cfgs, &configSize, 1), 1);
  const size_t ySize = size_t(w) * h;
  std::vector<uint8_t> yuv(ySize * 3 / 2);
  const long stride = (w * 3 + 3) & ~3L;
  std::vector<uint8_t> rgb(size_t(stride) * h);
  for (size_t i = 0; i < samples.size(); ++i) {
    EXPECT_EQ(samples[i].sync, c.interval > 0 ? i % size_t(c.interval) == 0 : i == 0) << i;
    std::vector<uint8_t> buf(samples[i].bytes);
    uint8_t* inp[1] = {buf.data()};
    int32_t ts[1] = {-1}, sz[1] = {int32_t(buf.size())};
    ASSERT_EQ(vdec_decode_frame(&dec, inp, ts, sz, yuv.data()), 1) << i;
    EXPECT_EQ(vdec_is_intra(&dec), samples[i].sync ? 1 : 0) << i;
    venc_yuv420_to_bgr24(ConstYuvPlanes{yuv.data(), yuv.data() + ySize, yuv.data() + ySize * 5 / 4, int32_t(w),
                                        int32_t(w / 2), int32_t(w), int32_t(h)},
                         rgb.data(), stride, true);
    ASSERT_EQ(pictures[i].bytes.size(), rgb.size());
    EXPECT_EQ(std::memcmp(pictures[i].bytes.data(), rgb.data(), rgb.size()), 0) << i;
    EXPECT_EQ(samples[i].start, pictures[i].start);
  }
  vdec_destroy(&dec);

  cfg->Release();
  control->Release();
  in->Release();
  out->Release();
  pv->Release();
  graph->Release();
  enc->Release();
  source->NonDelegatingRelease();
  sink->NonDelegatingRelease();
  preview->NonDelegatingRelease();
}

const GraphCase kGraphs[] = {
    // RGB24 at 320 x 240 and 30/s into 176 x 144 at 15/s: every other picture.
    {"rgb_scaled_half_rate", 320, 240, true, 30.0, 40, 176, 144, 15.0f, 5, 20},
    // I420 at the encoding size, every picture, the first intra only.
    {"i420_same_size", 160, 120, false, 15.0, 24, 160, 120, 15.0f, -1, 24},
};
INSTANTIATE_TEST_SUITE_P(Cases, VideoEncoderGraph, ::testing::ValuesIn(kGraphs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VideoEncoderFilter, StillPictureDecodesToItsReconstruction) {
  Com com;
  IBaseFilter* f = newEncoder();
  ASSERT_TRUE(f);
  IVidEncCfg* cfg = nullptr;
  IVidEncTool* tool = nullptr;
  ASSERT_EQ(f->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg)), S_OK);
  ASSERT_EQ(f->QueryInterface(IID_IVidEncTool, reinterpret_cast<void**>(&tool)), S_OK);
  // ConfigStillImage's order: 1, 12, 4, 6, 8, 10, 14, then the tool's 1.
  long major = 0, minor = 0, layers = 1, w = 128, h = 96, bitRate = 30000, interval = 1;
  float one = 1.0f;
  EXPECT_EQ(cfg->ResetEncoder(&major, &minor), S_OK);
  EXPECT_EQ(major, 1);
  cfg->SetLayerCount(&layers);
  cfg->SetFrameSize(&w, &h);
  cfg->SetSourceFrameRate(&one);
  cfg->SetLayerFrameRate(0, &one);
  cfg->SetLayerBitRate(0, &bitRate);
  cfg->SetIFrameInterval(&interval);
  std::vector<BYTE> bgr(size_t(w) * h * 3);
  for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = BYTE((i * 13) ^ (i / 384));
  BYTE* frame = nullptr;
  BYTE* recon = nullptr;
  long length = 0;
  BYTE config[50];
  long configSize = 50;
  ASSERT_EQ(callSlot(static_cast<IUnknown*>(tool), 1, 2L, static_cast<const BYTE*>(bgr.data()), &frame, &length, &recon,
                     config, &configSize),
            S_OK);
  ASSERT_TRUE(frame && recon);
  EXPECT_EQ(vdec_frame_type(frame, length), 0);  // intra
  VideoDecoder dec;
  const uint8_t* cfgs[1] = {config};
  const int32_t cs = configSize;
  ASSERT_EQ(vdec_create(&dec, cfgs, &cs, 1), 1);
  std::vector<uint8_t> buf(frame, frame + length), yuv(size_t(w) * h * 3 / 2);
  uint8_t* inp[1] = {buf.data()};
  int32_t ts[1] = {-1}, sz[1] = {int32_t(length)};
  ASSERT_EQ(vdec_decode_frame(&dec, inp, ts, sz, yuv.data()), 1);
  vdec_destroy(&dec);
  EXPECT_EQ(std::memcmp(yuv.data(), recon, yuv.size()), 0);
  // A mode it does not know is refused.
  EXPECT_EQ(tool->EncodeStill(7, bgr.data(), &frame, &length, &recon, config, &configSize), E_INVALIDARG);
  tool->Release();
  cfg->Release();
  f->Release();
}

}  // namespace
