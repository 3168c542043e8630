// medlark_road_bench AVI FRAMES SECONDS: the file road's speed under Wine.
// 1. The AVI through the engine into an MP4 file (as the control drives it):
//    seconds of input per second of wall time.
// 2. The same pictures (FRAMES: the AVI's raw BGR24 pictures, top-down)
//    through the video encoder alone, fed by the custom source and
//    configured as the engine configures it: the encoder's share of the road.
// road_bench.sh makes the inputs and times ffmpeg's MPEG-4 encoder beside it.
#include "encode_host.h"  // first: it brings windows.h

#include <amvideo.h>
#include <control.h>
#include <uuids.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "customsource/customsource.h"
#include "push_sources.h"
#include "videoencoder/interfaces.h"

CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

constexpr int kWidth = 176, kHeight = 144, kRow = kWidth * 3, kFrame = kRow * kHeight;

std::wstring Full(const char* s) {
  wchar_t buf[MAX_PATH] = {}, full[MAX_PATH] = {};
  MultiByteToWideChar(CP_ACP, 0, s, -1, buf, MAX_PATH);
  GetFullPathNameW(buf, MAX_PATH, full, nullptr);
  return full;
}

// The process's processor seconds (user and kernel), robust on a busy machine.
double Cpu() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto secs = [](const FILETIME& t) { return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7; };
  return secs(kernel) + secs(user);
}

double Now() {
  LARGE_INTEGER f, c;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&c);
  return double(c.QuadPart) / double(f.QuadPart);
}

// Seconds for the video encoder to code the pictures, and its processor
// seconds; negative on failure.
double EncoderAlone(const std::vector<BYTE>& topDown, int frames, double* cpu) {
  IGraphBuilder* graph = nullptr;
  IBaseFilter *source = nullptr, *encoder = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph))) ||
      FAILED(CoCreateInstance(CLSID_KRCustomSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&source))) ||
      FAILED(CoCreateInstance(CLSID_KRVideoEncoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&encoder))))
    return -1;
  auto* sink = new TestCaptureSink(MEDIATYPE_Video);
  sink->NonDelegatingAddRef();
  graph->AddFilter(source, L"Custom source filter");
  graph->AddFilter(encoder, L"Video encoder");
  graph->AddFilter(sink, L"sink");
  VIDEOINFOHEADER vih = {};
  vih.AvgTimePerFrame = 10000000 / 15;
  vih.bmiHeader = {sizeof(BITMAPINFOHEADER), kWidth, kHeight, 1, 24, BI_RGB, kFrame, 0, 0, 0, 0};
  AM_MEDIA_TYPE mt = {};
  mt.majortype = MEDIATYPE_Video;
  mt.subtype = MEDIASUBTYPE_RGB24;
  mt.formattype = FORMAT_VideoInfo;
  mt.cbFormat = sizeof vih;
  mt.pbFormat = reinterpret_cast<BYTE*>(&vih);
  IKRCustomSource* feed = nullptr;
  IVidEncCfg* cfg = nullptr;
  source->QueryInterface(IID_IKRCustomSource, reinterpret_cast<void**>(&feed));
  encoder->QueryInterface(IID_IVidEncCfg, reinterpret_cast<void**>(&cfg));
  BYTE description[kCustomDescriptionBytes] = {};
  double seconds = -1;
  IPin *out = nullptr, *in = nullptr, *coded = nullptr;
  IMediaControl* control = nullptr;
  if (feed && cfg && SUCCEEDED(feed->SetPool(4, kFrame)) && SUCCEEDED(feed->SetOutputType(description, &mt)) &&
      SUCCEEDED(source->FindPin(L"Out", &out)) && SUCCEEDED(encoder->FindPin(L"Video in", &in)) &&
      SUCCEEDED(encoder->FindPin(L"Video out", &coded)) && SUCCEEDED(graph->ConnectDirect(out, in, nullptr)) &&
      SUCCEEDED(graph->ConnectDirect(coded, sink->GetPin(0), nullptr))) {
    // The engine's settings of the road: 176 x 144, 15/s, 64 kbit/s, one layer.
    long w = kWidth, h = kHeight, layers = 1, rate = 64000, interval = -1;
    float source15 = 15.0f, layer15 = 15.0f;
    cfg->SetFrameSize(&w, &h);
    cfg->SetLayerCount(&layers);
    cfg->SetSourceFrameRate(&source15);
    cfg->SetLayerFrameRate(0, &layer15);
    cfg->SetLayerBitRate(0, &rate);
    cfg->SetIFrameInterval(&interval);
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    std::vector<BYTE> picture(kFrame);
    const double begun = Now(), cpuBegun = Cpu();
    control->Run();
    for (int i = 0; i < frames; ++i) {
      const BYTE* top = topDown.data() + size_t(i) * kFrame;
      for (int r = 0; r < kHeight; ++r)
        std::memcpy(picture.data() + size_t(kHeight - 1 - r) * kRow, top + size_t(r) * kRow, kRow);
      while (feed->SetBuffer(reinterpret_cast<LONG_PTR>(picture.data()), kFrame, i * 1000 / 15,
                             (i + 1) * 1000 / 15) == KRCS_E_QUEUE_FULL)
        Sleep(0);
    }
    feed->SetBuffer(0, 0, 0, 0);
    if (sink->WaitEndOfStream(120000)) {
      seconds = Now() - begun;
      *cpu = Cpu() - cpuBegun;
    }
    control->Stop();
    if (int(sink->Samples().size()) != frames) seconds = -1;
  }
  for (IUnknown* u : std::initializer_list<IUnknown*>{control, coded, in, out, cfg, feed, encoder, source, graph})
    if (u) u->Release();
  sink->NonDelegatingRelease();
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: medlark_road_bench AVI FRAMES SECONDS\n");
    return 2;
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  for (const std::string& dll : RegisterCompanions({"Medlark.dll", "KRVideoEncoder.dll", "KRStreamMux.dll",
                                                    "KRStreamer.dll", "KRFrameGrabber.dll", "Tonquill.dll",
                                                    "KRCustomSource.dll"}))
    std::fprintf(stderr, "medlark_road_bench: could not register %s\n", dll.c_str());
  const double inputSeconds = std::atof(argv[3]);

  EncodeJob job;
  job.input = Full(argv[1]);
  job.output = Full("road_bench.mp4");
  EncodeResult r;
  const double begun = Now(), cpuBegun = Cpu();
  RunFileEncode(job, &r);
  const double road = Now() - begun, roadCpu = Cpu() - cpuBegun;
  if (FAILED(r.started) || !r.complete) {
    std::fprintf(stderr, "medlark_road_bench: the road failed (start 0x%08lx)\n",
                 static_cast<unsigned long>(r.started));
    return 1;
  }
  // From the start to the end of the stream (the archive's writing after
  // the stop is not input work).
  std::printf("road: %.1f s of input in %.2f s to the end of stream (%.2f s with the stop): %.2f s of input per s\n",
              inputSeconds, r.wallSeconds, road, inputSeconds / r.wallSeconds);
  std::printf("road: %.2f processor s with the stop: %.2f s of input per processor s\n", roadCpu,
              inputSeconds / roadCpu);

  FILE* f = std::fopen(argv[2], "rb");
  std::vector<BYTE> frames;
  if (f) {
    BYTE buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) frames.insert(frames.end(), buf, buf + n);
    std::fclose(f);
  }
  const int count = int(frames.size() / kFrame);
  double encoderCpu = 0;
  const double encoder = count ? EncoderAlone(frames, count, &encoderCpu) : -1;
  if (encoder < 0) {
    std::fprintf(stderr, "medlark_road_bench: the encoder alone did not code the %d pictures\n", count);
    return 1;
  }
  std::printf("video encoder alone: %d pictures in %.2f s (%.1f pictures/s), %.0f%% of the road's time\n", count,
              encoder, count / encoder, 100.0 * encoder / r.wallSeconds);
  std::printf("video encoder alone: %.2f processor s, %.0f%% of the road's processor time\n", encoderCpu,
              100.0 * encoderCpu / roadCpu);
  CoUninitialize();
  return 0;
}
