// The filter in a Wine graph, as fast as the source can push: 60 s of PCM
// through two AMR streams (12.2 and 4.75 kbit/s) and EVRC (the Qpl.dll
// stand-in), as a multiple of real time in wall-clock time, in 20 ms and in
// 100 ms input samples.
//  - 8 kHz stereo through the registered Tonquill.dll;
//  - 48 kHz stereo through the filter object in this program, with the AAC
//    slot at 128 kbit/s on the library double (which encodes nothing; it
//    only makes the input 48 kHz, so the speech streams resample).
#include <windows.h>
#include <objbase.h>

#include <cstdio>

#include "aac_double.h"
#include "audioencfilter/filter.h"
#include "encoder_graph.h"

CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

constexpr int kSeconds = 60;

IBaseFilter* InProcessEncoder() {
  HRESULT hr = S_OK;
  CUnknown* object = CKRAudEncFlt::CreateInstance(nullptr, &hr);
  object->NonDelegatingAddRef();
  IBaseFilter* filter = nullptr;
  object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  object->NonDelegatingRelease();
  return filter;
}

// sampleMs: the length of each input sample (the per-sample cost of the
// graph under Wine shows at 20 ms).
double Run(IBaseFilter* filter, DWORD rate, bool aac, int sampleMs) {
  EncoderGraph g(filter, rate, 2, kSeconds * 1000 / sampleMs);
  g.Source()->SetSampleFrames(LONG(rate) * sampleMs / 1000);
  if (aac) {
    int r = 0, bitrate = 128000;
    short channels = 2;
    if (g.Config()->SetAAC(0, TRUE, 3, &r, &bitrate, &channels) != S_OK) return 0;
  }
  g.Config()->SetAMR(0, TRUE, 0, 0, 12200);
  g.Config()->SetAMR(1, TRUE, 1, 0, 4750);
  g.Config()->SetEVRC(0, TRUE, 2, 0, 9200);
  if (g.Connect() != S_OK) return 0;
  LARGE_INTEGER f, t0, t1;
  QueryPerformanceFrequency(&f);
  QueryPerformanceCounter(&t0);
  g.RunToEnd(600000);
  QueryPerformanceCounter(&t1);
  g.Stop();
  int amr = 0, evrc = 0;
  g.Stats()->GetAMRSamples(0, &amr);
  g.Stats()->GetEVRCSamples(0, &evrc);
  const double seconds = double(t1.QuadPart - t0.QuadPart) / double(f.QuadPart);
  std::printf("%5lu Hz stereo, %d s in %3d ms samples: %.2f s wall, %.0fx real time (AMR 0 %d frames, EVRC %d frames)\n",
              rate, kSeconds, sampleMs, seconds, kSeconds / seconds, amr, evrc);
  return kSeconds / seconds;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  AacDouble lib;
  AacDouble::current = &lib;
  UseAacLibrary(&AacDouble::table);
  for (int ms : {20, 100}) {
    Run(CreateRegisteredEncoder(), 8000, false, ms);
    Run(InProcessEncoder(), 48000, true, ms);
  }
  CoUninitialize();
  return 0;
}
