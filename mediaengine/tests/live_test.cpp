// Capture devices and the live source under Wine, with the fake camera and
// microphone of KRFakeCapture.dll registered by the filter mapper in the
// video and audio input categories of this program's own prefix. Engines
// come from Medlark.dll by ProgID where the test is about what a host sees,
// and from the linked engine where it reads the engine's own state.
#include "encode_host.h"  // first: it brings windows.h

#include <gtest/gtest.h>

#include <evcode.h>
#include <strmif.h>
#include <uuids.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fakecapture.h"
#include "framegrabber/grabber.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "mediaengine/server.h"
#include "mediaengine/trace.h"
#include "peers.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

constexpr LONG kGraphNotify = 0x5F4;
constexpr LONG kSecurityCheck = 32774;

[[maybe_unused]] std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }
std::string Dir() { return TestDir() + "live\\"; }

FakeCaptureConfigureFn configureFake = nullptr;
FakeCaptureReadLogFn readFakeLog = nullptr;

std::wstring CameraName(int n) { return L"Kestrune fake camera " + std::to_wstring(n); }
std::wstring MicrophoneName(int n) { return L"Kestrune fake microphone " + std::to_wstring(n); }

// Our devices in the prefix: cameras 0 (whose friendly name is taken away
// after registration) to `cameras`, microphones 1 to `microphones`.
void RegisterDevices(int cameras, int microphones) {
  IFilterMapper2* mapper = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                             reinterpret_cast<void**>(&mapper)),
            S_OK);
  for (int n = 0; n <= 9; ++n) {
    mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, CameraName(n).c_str(), CLSID_FakeVideoCapture);
    mapper->UnregisterFilter(&CLSID_AudioInputDeviceCategory, MicrophoneName(n).c_str(), CLSID_FakeAudioCapture);
  }
  REGFILTER2 data = {};
  data.dwVersion = 1;
  data.dwMerit = MERIT_DO_NOT_USE;
  for (int n = 0; n <= cameras && cameras > 0; ++n)
    ASSERT_EQ(mapper->RegisterFilter(CLSID_FakeVideoCapture, CameraName(n).c_str(), nullptr,
                                     &CLSID_VideoInputDeviceCategory, CameraName(n).c_str(), &data),
              S_OK);
  for (int n = 1; n <= microphones; ++n)
    ASSERT_EQ(mapper->RegisterFilter(CLSID_FakeAudioCapture, MicrophoneName(n).c_str(), nullptr,
                                     &CLSID_AudioInputDeviceCategory, MicrophoneName(n).c_str(), &data),
              S_OK);
  mapper->Release();
  if (cameras > 0) {
    const std::wstring key = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\" + CameraName(0);
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(k, L"FriendlyName"), ERROR_SUCCESS);
    RegCloseKey(k);
  }
}

// The names the system's device enumerator lists for a category.
std::vector<std::wstring> Listed(REFCLSID category) {
  std::vector<std::wstring> names;
  ICreateDevEnum* devices = nullptr;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(&devices))))
    return names;
  IEnumMoniker* monikers = nullptr;
  if (devices->CreateClassEnumerator(category, &monikers, 0) == S_OK && monikers) {
    IMoniker* moniker = nullptr;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
      IPropertyBag* bag = nullptr;
      std::wstring name = L"(no property bag)";
      if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
        VARIANT v;
        VariantInit(&v);
        name = SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR ? v.bstrVal : L"(no name)";
        VariantClear(&v);
        bag->Release();
      }
      names.push_back(name);
      moniker->Release();
    }
    monikers->Release();
  }
  devices->Release();
  return names;
}

FakeCaptureSettings DefaultFake() {
  FakeCaptureSettings s = {};
  s.capabilityCount = 4;
  s.capabilities[0] = {160, 120};
  s.capabilities[1] = {176, 144};
  s.capabilities[2] = {320, 240};
  s.capabilities[3] = {640, 480};
  s.initial = {176, 144};
  s.previewPin = TRUE;
  s.clockAdjust = TRUE;
  return s;
}

FakeCaptureLog ReadLog(bool clear) {
  FakeCaptureLog log = {};
  readFakeLog(&log, clear ? TRUE : FALSE);
  return log;
}

template <class I>
I* Query(IUnknown* unknown, REFIID iid) {
  I* out = nullptr;
  EXPECT_EQ(unknown->QueryInterface(iid, reinterpret_cast<void**>(&out)), S_OK);
  return out;
}

IUnknown* EngineByProgId() {
  CLSID clsid;
  IUnknown* engine = nullptr;
  if (FAILED(CLSIDFromProgID(L"KRMedia.KRMedia.1", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&engine))))
    return nullptr;
  return engine;
}

[[maybe_unused]] IUnknown* LinkedEngine() {
  IUnknown* engine = nullptr;
  EXPECT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine)), S_OK);
  return engine;
}

// Index of a name in the class's device list through GetDeviceNames, or -1.
LONG DeviceIndex(IGenFromLive* live, LONG kind, const std::wstring& name) {
  WCHAR* names[5] = {};
  LONG count = 0;
  if (live->GetDeviceNames(kind, names, &count) != S_OK) return -1;
  for (LONG i = 0; i < count; ++i)
    if (name == names[i]) return i;
  return -1;
}

class LiveTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // COM stays initialised for the run: the graphs' threads end after the
    // graphs are gone.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::string> failed =
        RegisterCompanions({"Medlark.dll", "KRVideoEncoder.dll", "KRStreamMux.dll", "KRStreamer.dll",
                            "KRFrameGrabber.dll", "Tonquill.dll", "KRPropertiesFile.dll", "KRFakeCapture.dll"});
    ASSERT_TRUE(failed.empty()) << failed[0] << " did not register";
    HMODULE fake = LoadLibraryA((TestDir() + "KRFakeCapture.dll").c_str());
    ASSERT_NE(fake, nullptr);
    configureFake = reinterpret_cast<FakeCaptureConfigureFn>(
        reinterpret_cast<void*>(GetProcAddress(fake, "FakeCaptureConfigure")));
    readFakeLog =
        reinterpret_cast<FakeCaptureReadLogFn>(reinterpret_cast<void*>(GetProcAddress(fake, "FakeCaptureReadLog")));
    ASSERT_NE(configureFake, nullptr);
    ASSERT_NE(readFakeLog, nullptr);
    CreateDirectoryA(Dir().c_str(), nullptr);
  }
  void SetUp() override {
    const FakeCaptureSettings s = DefaultFake();
    configureFake(&s);
    ReadLog(true);
    RegisterDevices(7, 2);
  }
};

// ---- the probe: what Wine's device enumerator and capture graph builder do ----

TEST_F(LiveTest, WinesDeviceEnumeratorListsTheFakesAndQcapFindsTheirPins) {
  const std::vector<std::wstring> video = Listed(CLSID_VideoInputDeviceCategory);
  const std::vector<std::wstring> audio = Listed(CLSID_AudioInputDeviceCategory);
  for (const auto& n : video) std::printf("video input: %s\n", Narrow(n).c_str());
  for (const auto& n : audio) std::printf("audio input: %s\n", Narrow(n).c_str());
  // Registry order, the nameless one first.
  std::vector<std::wstring> expected = {L"(no name)"};
  for (int n = 1; n <= 7; ++n) expected.push_back(CameraName(n));
  EXPECT_EQ(video, expected);
  int microphones = 0;
  for (const auto& n : audio) microphones += n.rfind(L"Kestrune fake microphone", 0) == 0;
  EXPECT_EQ(microphones, 2);

  // The camera bound from its moniker, in a graph with the capture graph
  // builder: the builder finds its capture pin's stream configuration and
  // its preview pin.
  IGraphBuilder* graph = nullptr;
  ICaptureGraphBuilder2* builder = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                             reinterpret_cast<void**>(&builder)),
            S_OK);
  builder->SetFiltergraph(graph);
  IBaseFilter* camera = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FakeVideoCapture, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&camera)),
            S_OK);
  ASSERT_EQ(graph->AddFilter(camera, L"Video capture"), S_OK);
  IAMStreamConfig* config = nullptr;
  EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, camera, IID_IAMStreamConfig,
                                   reinterpret_cast<void**>(&config)),
            S_OK);
  if (config) {
    int count = 0, size = 0;
    EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 4);
    config->Release();
  }
  IPin* preview = nullptr;
  EXPECT_EQ(builder->FindPin(camera, PINDIR_OUTPUT, &PIN_CATEGORY_PREVIEW, nullptr, FALSE, 0, &preview), S_OK);
  if (preview) preview->Release();
  IAMDroppedFrames* dropped = nullptr;
  EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, camera, IID_IAMDroppedFrames,
                                   reinterpret_cast<void**>(&dropped)),
            S_OK);
  if (dropped) dropped->Release();
  // What Wine lacks: no driver dialogs, tuner or crossbar on the way.
  for (REFIID iid : {IID_IAMVfwCaptureDialogs, IID_IAMTVTuner, IID_IAMCrossbar}) {
    IUnknown* none = nullptr;
    EXPECT_NE(builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, camera, iid, reinterpret_cast<void**>(&none)),
              S_OK);
    if (none) none->Release();
  }
  IReferenceClock* system = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                             reinterpret_cast<void**>(&system)),
            S_OK);
  IAMClockAdjust* adjust = nullptr;
  EXPECT_EQ(system->QueryInterface(IID_IAMClockAdjust, reinterpret_cast<void**>(&adjust)), E_NOINTERFACE)
      << "Wine's system clock has no IAMClockAdjust";
  if (adjust) adjust->Release();
  system->Release();
  graph->RemoveFilter(camera);
  camera->Release();
  builder->Release();
  graph->Release();
}

// ---- the capture manager ----------------------------------------------------------

TEST_F(LiveTest, SevenCamerasListFiveInOrderAndTheNamelessOneIsLeftOut) {
  IUnknown* engine = EngineByProgId();
  ASSERT_NE(engine, nullptr);
  IGenFromLive* live = Query<IGenFromLive>(engine, IID_IGenFromLive);
  ICapManager* manager = Query<ICapManager>(engine, IID_ICapManager);
  WCHAR* names[5] = {};
  LONG count = -1;
  ASSERT_EQ(manager->GetDeviceList(0, names, &count), S_OK);
  ASSERT_EQ(count, 5);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(std::wstring(names[i]), CameraName(i + 1)) << i;
  // The live source's GetDeviceNames is the same list.
  WCHAR* again[5] = {};
  LONG againCount = 0;
  EXPECT_EQ(live->GetDeviceNames(0, again, &againCount), S_OK);
  EXPECT_EQ(againCount, 5);
  EXPECT_EQ(std::wstring(again[4]), CameraName(5));
  EXPECT_EQ(live->GetDeviceNames(2, again, &againCount), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(live->GetDeviceNames(0, nullptr, &againCount), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(manager->GetDeviceList(2, names, &count), KRM_E_BAD_PARAMETER);
  EXPECT_GE(DeviceIndex(live, 1, MicrophoneName(1)), 0);
  manager->Release();
  live->Release();
  engine->Release();
}

TEST_F(LiveTest, SelectionTable) {
  IUnknown* engine = EngineByProgId();
  ASSERT_NE(engine, nullptr);
  IGenFromLive* live = Query<IGenFromLive>(engine, IID_IGenFromLive);
  ICapManager* m = Query<ICapManager>(engine, IID_ICapManager);
  const LONG mic = DeviceIndex(live, 1, MicrophoneName(1));
  ASSERT_GE(mic, 0);
  // Callers 901 and 902 are not engines: the manager takes any number.
  struct Step {
    const char* what;
    enum { kSelect, kRelease, kAvailable } op;
    LONG caller, deviceClass, index;
    HRESULT result;
    bool filter;     // a filter delivered
    LONG outIndex;   // for SelectAvailableDevice
  } steps[] = {
      {"A takes camera 0", Step::kSelect, 901, 0, 0, S_OK, true, 0},
      {"A asks again: its own, nothing bound", Step::kSelect, 901, 0, 0, S_OK, false, 0},
      {"B cannot have it", Step::kSelect, 902, 0, 0, KRM_E_VIDEO_DEVICE_NOT_AVAILABLE, false, 0},
      {"a negative index is 0", Step::kSelect, 902, 0, -3, KRM_E_VIDEO_DEVICE_NOT_AVAILABLE, false, 0},
      {"index 5 is past the table", Step::kSelect, 902, 0, 5, KRM_E_INVALID_DEVICE_ID, false, 0},
      {"B's first free camera is 1", Step::kAvailable, 902, 0, 0, S_OK, true, 1},
      {"A takes the microphone", Step::kSelect, 901, 1, mic, S_OK, true, 0},
      {"a microphone asked again is not available", Step::kSelect, 901, 1, mic, KRM_E_AUDIO_DEVICE_NOT_AVAILABLE,
       false, 0},
      {"class 2 is no class", Step::kAvailable, 901, 2, 0, KRM_E_AUDIO_DEVICE_NOT_AVAILABLE, false, -1},
      {"B does not own camera 0", Step::kRelease, 902, 0, 0, E_FAIL, false, 0},
      {"release outside the table", Step::kRelease, 901, 0, 5, KRM_E_INVALID_DEVICE_ID, false, 0},
      {"release below the table", Step::kRelease, 901, 0, -1, KRM_E_INVALID_DEVICE_ID, false, 0},
      {"A gives camera 0 back", Step::kRelease, 901, 0, 0, S_OK, false, 0},
      {"a free entry cannot be released", Step::kRelease, 901, 0, 0, E_FAIL, false, 0},
      {"now B can have it", Step::kSelect, 902, 0, 0, S_OK, true, 0},
      {"A gives the microphone back", Step::kRelease, 901, 1, mic, S_OK, false, 0},
      {"B gives camera 0 back", Step::kRelease, 902, 0, 0, S_OK, false, 0},
      {"B gives camera 1 back", Step::kRelease, 902, 0, 1, S_OK, false, 0},
  };
  for (const Step& s : steps) {
    IBaseFilter* filter = reinterpret_cast<IBaseFilter*>(1);
    LONG index = 99;
    HRESULT hr;
    if (s.op == Step::kSelect)
      hr = m->SelectDevice(s.caller, s.index, s.deviceClass, &filter);
    else if (s.op == Step::kAvailable)
      hr = m->SelectAvailableDevice(s.caller, s.deviceClass, &filter, &index);
    else
      hr = m->ReleaseDevice(s.caller, s.deviceClass, s.index);
    EXPECT_EQ(hr, s.result) << s.what;
    if (s.op == Step::kRelease) continue;
    EXPECT_EQ(filter != nullptr, s.filter) << s.what;
    if (s.op == Step::kAvailable) {
      EXPECT_EQ(index, s.outIndex) << s.what;
    }
    if (filter) filter->Release();
  }
  m->Release();
  live->Release();
  engine->Release();
}

TEST_F(LiveTest, NoCameraOrNoMicrophone) {
  // The manager lists devices when it is made: every engine has gone, so
  // the next one sees the prefix as it is now.
  RegisterDevices(0, 0);
  IUnknown* engine = EngineByProgId();
  ASSERT_NE(engine, nullptr);
  ICapManager* m = Query<ICapManager>(engine, IID_ICapManager);
  IBaseFilter* filter = nullptr;
  LONG index = 0;
  EXPECT_EQ(m->SelectAvailableDevice(1, 0, &filter, &index), KRM_E_NO_VIDEO_CAPTURE_DEVICE);
  EXPECT_EQ(m->SelectAvailableDevice(1, 1, &filter, &index), KRM_E_NO_VIDEO_CAPTURE_DEVICE);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(m->SelectDevice(1, 0, 0, &filter), KRM_E_NO_VIDEO_CAPTURE_DEVICE);
  IGenFromLive* live = Query<IGenFromLive>(engine, IID_IGenFromLive);
  EXPECT_EQ(live->StartPreview(1, 0), KRM_E_NO_VIDEO_CAPTURE_DEVICE);
  live->Release();
  m->Release();
  engine->Release();
  // Cameras, and no microphone of ours: whatever Wine lists for sound input
  // is no microphone this test can count on, so only the camera side is
  // checked here.
  RegisterDevices(2, 0);
  engine = EngineByProgId();
  m = Query<ICapManager>(engine, IID_ICapManager);
  EXPECT_EQ(m->SelectAvailableDevice(1, 0, &filter, &index), S_OK);
  EXPECT_EQ(index, 0);
  if (filter) filter->Release();
  EXPECT_EQ(m->ReleaseDevice(1, 0, 0), S_OK);
  m->Release();
  engine->Release();
}

TEST_F(LiveTest, TwoEnginesNeverShareACamera) {
  IUnknown* a = EngineByProgId();
  IUnknown* b = EngineByProgId();
  ASSERT_TRUE(a && b);
  IGenFromLive* la = Query<IGenFromLive>(a, IID_IGenFromLive);
  IGenFromLive* lb = Query<IGenFromLive>(b, IID_IGenFromLive);
  EXPECT_EQ(la->SelectDevice(0, 0), S_OK);
  EXPECT_EQ(la->SelectDevice(0, 0), S_OK) << "the index already selected";
  EXPECT_EQ(lb->SelectDevice(0, 0), KRM_E_VIDEO_DEVICE_NOT_AVAILABLE);
  EXPECT_EQ(lb->SelectDevice(5, 0), KRM_E_INVALID_DEVICE_ID);
  EXPECT_EQ(lb->SelectDevice(0, 2), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(lb->SelectDevice(1, 0), S_OK);
  // A moves to camera 2: camera 0 is free again, and B may take it.
  EXPECT_EQ(la->SelectDevice(2, 0), S_OK);
  EXPECT_EQ(lb->SelectDevice(0, 0), S_OK);
  EXPECT_EQ(la->SelectDevice(1, 0), S_OK) << "B let camera 1 go";
  // An engine that goes gives its devices back.
  la->Release();
  a->Release();
  IUnknown* c = EngineByProgId();
  IGenFromLive* lc = Query<IGenFromLive>(c, IID_IGenFromLive);
  EXPECT_EQ(lc->SelectDevice(2, 0), S_OK);
  EXPECT_EQ(lc->SelectDevice(0, 0), KRM_E_VIDEO_DEVICE_NOT_AVAILABLE) << "still B's";
  lc->Release();
  c->Release();
  lb->Release();
  b->Release();
}

// ---- the live source ----------------------------------------------------------------

// A linked engine with its interfaces, its records set for a capture run
// into `file` and an event window.
struct LiveRig {
  IUnknown* engine = nullptr;
  COKRMedia* media = nullptr;
  IKRMediaConfig* config = nullptr;
  IGenFromLive* live = nullptr;
  IKRStats* stats = nullptr;
  HWND window = nullptr;

  explicit LiveRig(bool byProgId = false) {
    engine = byProgId ? EngineByProgId() : LinkedEngine();
    if (!engine) return;
    media = byProgId ? nullptr : static_cast<COKRMedia*>(engine);
    config = Query<IKRMediaConfig>(engine, IID_IKRMediaConfig);
    live = Query<IGenFromLive>(engine, IID_IGenFromLive);
    stats = Query<IKRStats>(engine, IID_IKRStats);
    window = MakeEventWindow();
    config->SetEventWindow(window, kGraphNotify);
    live->SetPreviewType(0);
  }
  ~LiveRig() {
    if (live) live->Release();
    if (stats) stats->Release();
    if (config) config->Release();
    if (engine) engine->Release();
    if (window) DestroyWindow(window);
  }
  // The job's records; the microphone of ours, the capture at the job's size.
  HRESULT Prepare(const EncodeJob& job) {
    HRESULT hr = ApplyJob(config, job);
    if (FAILED(hr)) return hr;
    if (job.streamType != 2) {
      const LONG mic = DeviceIndex(live, 1, MicrophoneName(1));
      if (mic < 0) return E_FAIL;
      hr = live->SelectDevice(mic, 1);
      if (FAILED(hr)) return hr;
    }
    KRVideoCaptureConfig capture = {job.width, job.height, 24, job.sourceRate};
    return live->ConfigVideoCapture(&capture);
  }
  KRVideoCaptureConfig Capture() {
    KRVideoCaptureConfig c = {};
    live->GetConfigVideoCapture(&c);
    return c;
  }
  bool Pump(LONG wanted, DWORD ms, EncodeResult* r, const std::function<void()>& tick = nullptr) {
    EventCalls calls = {[this](LONG* c, LONG_PTR* a, LONG_PTR* b) { return live->GetDSEvent(c, a, b); },
                        [this](LONG c, LONG_PTR a, LONG_PTR b) { return live->FreeDSEvent(c, a, b); }};
    return PumpEvents(calls, window, wanted, ms, r, tick);
  }
  bool HasFilter(LPCWSTR name) {
    IBaseFilter* f = nullptr;
    if (FAILED(media->Graph()->FindFilterByName(name, &f)) || !f) return false;
    f->Release();
    return true;
  }
};

void DispatchFor(DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  while (int(until - GetTickCount()) > 0) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

EncodeJob CaptureJob(const std::string& file, LONG streamType) {
  EncodeJob job;
  job.output = Wide(file);
  job.streamType = streamType;
  job.width = 176;
  job.height = 144;
  job.sourceRate = 15.0f;
  job.layerRate = 15.0f;
  return job;
}

TEST_F(LiveTest, CaptureFormatRecordKeepsWhatIsValid) {
  LiveRig rig;
  ASSERT_NE(rig.engine, nullptr);
  KRVideoCaptureConfig c = rig.Capture();
  EXPECT_EQ(c.width, 160);
  EXPECT_EQ(c.height, 120);
  EXPECT_EQ(c.bitsPerPixel, 24);
  EXPECT_EQ(c.frameRate, 30.0f);
  struct {
    KRVideoCaptureConfig in, out;
  } cases[] = {
      {{2000, 100, 24, 30.0f}, {160, 120, 24, 30.0f}},  // the pair is refused together
      {{320, 240, 16, 15.0f}, {320, 240, 16, 15.0f}},
      {{320, 50, 8, 40.0f}, {320, 240, 8, 15.0f}},
      {{1280, 1024, 40, 0.0f}, {1280, 1024, 8, 15.0f}},
      {{79, 60, 32, 35.0f}, {1280, 1024, 32, 35.0f}},
  };
  for (const auto& k : cases) {
    KRVideoCaptureConfig in = k.in;
    EXPECT_EQ(rig.live->ConfigVideoCapture(&in), S_OK);
    c = rig.Capture();
    EXPECT_EQ(c.width, k.out.width) << k.in.width;
    EXPECT_EQ(c.height, k.out.height) << k.in.width;
    EXPECT_EQ(c.bitsPerPixel, k.out.bitsPerPixel) << k.in.width;
    EXPECT_EQ(c.frameRate, k.out.frameRate) << k.in.width;
  }
  EXPECT_EQ(rig.live->ConfigVideoCapture(nullptr), E_INVALIDARG);
  // 50 pictures a second are more than a capture takes: 35 everywhere.
  EXPECT_EQ(rig.media->LiveSource().UpdateCaptureSrcFrameRate(50.0f), S_OK);
  EXPECT_EQ(rig.Capture().frameRate, 35.0f);
  KRVideoEncoderConfig video;
  KROutputConfig output;
  rig.config->GetConfigVideoEncoder(&video);
  rig.config->GetConfigOutput(&output);
  EXPECT_EQ(video.sourceFrameRate, 35.0f);
  EXPECT_EQ(output.frameRate, 35.0f);
}

TEST_F(LiveTest, CapabilitiesFromTheDeviceOrByProbing) {
  struct Case {
    const char* what;
    std::vector<SIZE> capabilities, accept;
    int32_t probes;
    std::vector<std::pair<int, int>> sizes;
    float highest;
    LONG setFormats;  // the probes and the restore
  } cases[] = {
      {"listed sizes, the one beyond 1280 x 1024 left out", {{640, 480}, {1600, 1200}}, {}, 0, {{640, 480}}, 30.0f,
       0},
      {"none listed: nine probes and the format set back", {}, {{160, 120}, {320, 240}}, 0,
       {{160, 120}, {320, 240}}, 15.0f, 10},
      {"none listed, three probes asked for", {}, {{160, 120}, {320, 240}}, 3, {{160, 120}}, 15.0f, 4},
  };
  for (const Case& k : cases) {
    FakeCaptureSettings s = DefaultFake();
    s.capabilityCount = int(k.capabilities.size());
    for (size_t i = 0; i < k.capabilities.size(); ++i) s.capabilities[i] = k.capabilities[i];
    s.acceptCount = int(k.accept.size());
    for (size_t i = 0; i < k.accept.size(); ++i) s.accept[i] = k.accept[i];
    s.initial = {160, 120};
    configureFake(&s);
    ReadLog(true);
    // By ProgID: the sizes come from Medlark.dll's realloc and are freed
    // here, in another module, with the same runtime's free.
    LiveRig rig(true);
    ASSERT_NE(rig.engine, nullptr);
    KRVideoCaptureCapabilities caps = {k.probes, nullptr, -1.0f};
    ASSERT_EQ(rig.live->GetVideoCaptureCapabilities(&caps), S_OK) << k.what;
    ASSERT_EQ(caps.count, int32_t(k.sizes.size())) << k.what;
    for (size_t i = 0; i < k.sizes.size(); ++i) {
      EXPECT_EQ(caps.sizes[i][0], k.sizes[i].first) << k.what;
      EXPECT_EQ(caps.sizes[i][1], k.sizes[i].second) << k.what;
    }
    EXPECT_NEAR(caps.highestFrameRate, k.highest, 0.01) << k.what;
    const FakeCaptureLog log = ReadLog(true);
    EXPECT_EQ(log.setFormatCalls, k.setFormats) << k.what;
    if (k.setFormats) {
      EXPECT_EQ(log.lastSetFormat.cx, 160) << k.what;
      EXPECT_EQ(log.lastSetFormat.cy, 120) << k.what;
    }
    std::free(caps.sizes);
  }
  // A device that takes no size at all.
  FakeCaptureSettings s = DefaultFake();
  s.capabilityCount = 0;
  s.acceptCount = 1;
  s.accept[0] = {100, 100};
  configureFake(&s);
  LiveRig rig(true);
  KRVideoCaptureCapabilities caps = {0, nullptr, 0.0f};
  EXPECT_EQ(rig.live->GetVideoCaptureCapabilities(&caps), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(caps.count, 0);
  std::free(caps.sizes);
  EXPECT_EQ(rig.live->GetVideoCaptureCapabilities(nullptr), KRM_E_BAD_PARAMETER);
}

TEST_F(LiveTest, ARefusedCaptureSizeFallsBack) {
  struct Case {
    const char* what;
    bool encode;  // StartEncode (upward from the encoding size), else StartPreview (downward)
    int encodeWidth, encodeHeight;
    std::vector<SIZE> accept;
    HRESULT result;
    int width, height;  // the capture record afterwards
  } cases[] = {
      {"encode: the smallest fallback holding 176 x 144 that the device takes", true, 176, 144,
       {{320, 240}, {640, 480}}, KRM_E_CAPTURE_SIZE_CHANGED, 320, 240},
      {"encode: nothing at or above the encoding size", true, 176, 144, {{160, 120}},
       KRM_E_NO_VALID_CAPTURE_SIZE, 176, 144},
      {"encode: an encoding size above every fallback", true, 800, 600, {{160, 120}},
       KRM_E_NO_VALID_CAPTURE_SIZE, 176, 144},
      {"preview: the largest fallback the device takes", false, 176, 144, {{160, 120}, {320, 240}},
       KRM_E_CAPTURE_SIZE_CHANGED, 320, 240},
      {"preview: none at all", false, 176, 144, {{100, 100}}, KRM_E_SET_CAPTURE_SIZE, 176, 144},
  };
  for (const Case& k : cases) {
    FakeCaptureSettings s = DefaultFake();
    s.capabilityCount = 0;
    s.acceptCount = int(k.accept.size());
    for (size_t i = 0; i < k.accept.size(); ++i) s.accept[i] = k.accept[i];
    s.initial = k.accept[0];
    configureFake(&s);
    LiveRig rig;
    EncodeJob job = CaptureJob(Dir() + "fallback.mp4", 2);
    job.width = k.encodeWidth;
    job.height = k.encodeHeight;
    ASSERT_EQ(rig.Prepare(job), S_OK) << k.what;
    KRVideoCaptureConfig capture = {176, 144, 24, 30.0f};
    rig.live->ConfigVideoCapture(&capture);
    EXPECT_EQ(k.encode ? rig.live->StartEncode(1) : rig.live->StartPreview(1, 0), k.result) << k.what;
    const KRVideoCaptureConfig after = rig.Capture();
    EXPECT_EQ(after.width, k.width) << k.what;
    EXPECT_EQ(after.height, k.height) << k.what;
    // The encoding's 15 pictures a second were taken back: 30 again.
    EXPECT_EQ(after.frameRate, 30.0f) << k.what;
    KRVideoEncoderConfig video;
    rig.config->GetConfigVideoEncoder(&video);
    if (k.encode) {
      EXPECT_EQ(video.sourceFrameRate, 30.0f) << k.what;
    }
  }
}

TEST_F(LiveTest, StreamTypesAndPreviewTypesShapeTheGraph) {
  struct Case {
    const char* what;
    LONG streamType, previewType;
    BOOL previewPin;
    bool video, audio;
    LONG previewMode;
  } cases[] = {
      {"video and sound, capture preview", 3, 1, TRUE, true, true, 1},
      {"capture preview without a preview pin", 3, 1, FALSE, true, true, 0},
      {"video alone", 2, 0, TRUE, true, false, 0},
      {"sound alone", 1, 0, TRUE, false, true, 0},
  };
  for (const Case& k : cases) {
    FakeCaptureSettings s = DefaultFake();
    s.previewPin = k.previewPin;
    configureFake(&s);
    LiveRig rig;
    ASSERT_EQ(rig.Prepare(CaptureJob(Dir() + "shape.mp4", 3)), S_OK);
    // A preview first puts the camera in the graph.
    ASSERT_EQ(rig.live->StartPreview(1, 0), S_OK) << k.what;
    EXPECT_TRUE(rig.HasFilter(L"Video capture")) << k.what;
    KROutputConfig output;
    rig.config->GetConfigOutput(&output);
    output.streamType = k.streamType;
    rig.config->ConfigOutput(&output);
    rig.live->SetPreviewType(k.previewType);
    EXPECT_EQ(rig.live->StartEncode(0), S_OK) << k.what;
    EXPECT_EQ(rig.media->GraphState(), 1) << k.what << ": built, not run";
    EXPECT_EQ(rig.HasFilter(L"Video capture"), k.video) << k.what;
    EXPECT_EQ(rig.HasFilter(L"Audio capture"), k.audio) << k.what;
    EXPECT_EQ(rig.media->LiveSource().VideoCapture() != nullptr, k.video) << k.what;
    EXPECT_EQ(rig.media->PreviewMode(), k.previewMode) << k.what;
    if (!k.video) {
      // The camera went back to the manager: another engine may have it.
      LiveRig other;
      EXPECT_EQ(other.live->SelectDevice(0, 0), S_OK) << k.what;
    }
    EXPECT_EQ(rig.live->InitLive(), S_OK) << k.what;
    EXPECT_EQ(rig.live->InitLive(), KRM_E_LIVE_NOT_CONFIGURED) << k.what;
  }
}

TEST_F(LiveTest, PreviewGrabsTheCamerasPicture) {
  LiveRig rig;
  ASSERT_EQ(rig.Prepare(CaptureJob(Dir() + "preview.mp4", 3)), S_OK);
  LONG size = 0;
  BYTE* block = nullptr;
  EXPECT_EQ(rig.live->GetCurrentImage(&size, &block), KRM_E_LIVE_NOT_CONFIGURED);
  ASSERT_EQ(rig.live->StartPreview(1, 1), S_OK);
  EXPECT_EQ(rig.media->GraphState(), 3);
  HRESULT hr = E_FAIL;
  for (int i = 0; i < 60 && hr != S_OK; ++i) {
    // The video renderer's window is this thread's: its messages are pumped
    // here, as the control's window pumps them.
    DispatchFor(50);
    hr = rig.live->GetCurrentImage(&size, &block);
  }
  const FakeCaptureLog log = ReadLog(false);
  EXPECT_EQ(log.cameraRuns, 1);
  EXPECT_GT(log.picturesOffered, 0);
  ASSERT_EQ(hr, S_OK);
  ASSERT_GE(size, 40);
  BITMAPINFOHEADER header;
  std::memcpy(&header, block, sizeof header);
  EXPECT_EQ(header.biWidth, 176);
  EXPECT_EQ(header.biHeight, 144);
  EXPECT_EQ(header.biBitCount, 24);
  const int stride = 176 * 3;
  ASSERT_EQ(size, LONG(40 + stride * 144));
  // The picture is one of the camera's own frames, byte for byte.
  int frame = -1;
  for (int index = 0; index < 400 && frame < 0; ++index) {
    bool same = true;
    for (int y = 0; y < 144 && same; ++y)
      for (int x = 0; x < 176 && same; ++x)
        for (int c = 0; c < 3 && same; ++c)
          same = block[40 + (143 - y) * stride + x * 3 + c] == FakeCapturePixel(x, y, c, index);
    if (same) frame = index;
  }
  EXPECT_GE(frame, 0) << "the grabbed picture is none of the camera's";
  CoTaskMemFree(block);
  // A preview stops the graph only, and restarts without a rebuild.
  EXPECT_EQ(rig.live->Stop(0), S_OK);
  EXPECT_EQ(rig.media->GraphState(), 1);
  EXPECT_EQ(rig.live->GetCurrentImage(&size, &block), KRM_E_BAD_STATE);
  EXPECT_EQ(rig.live->StartPreview(0, 1), S_OK);
  EXPECT_EQ(rig.media->GraphState(), 3);
  EXPECT_EQ(rig.live->Stop(0), S_OK);
}

TEST_F(LiveTest, WhatWineLacksGivesItsCodes) {
  LiveRig rig;
  ASSERT_EQ(rig.Prepare(CaptureJob(Dir() + "dialogs.mp4", 3)), S_OK);
  // No driver dialogs (IAMVfwCaptureDialogs), no property pages on the fake
  // camera or its stream configurations, no TV tuner, no crossbar.
  for (LONG id : {1, 2, 4, 5, 6, 7, 8, 9})
    EXPECT_EQ(rig.live->DisplayVidCaptureDlg(id, rig.window), KRM_E_INTERFACE_NOT_FOUND) << id;
  for (LONG id : {0, 3, 10}) EXPECT_EQ(rig.live->DisplayVidCaptureDlg(id, rig.window), KRM_E_BAD_PARAMETER) << id;
  EXPECT_EQ(rig.live->DisplayVideoCaptureDlg(1, rig.window), KRM_E_INTERFACE_NOT_FOUND);
  EXPECT_EQ(rig.live->DisplayVideoCaptureDlg(5, rig.window), KRM_E_BAD_PARAMETER);
}

// A drift event raised in a running live graph, as the streamer raises it.
HRESULT DriftThroughTheEngine(LiveRig& rig, LONG_PTR driftMs) {
  IMediaEventSink* sink = nullptr;
  EXPECT_EQ(rig.media->Graph()->QueryGraph(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)), S_OK);
  if (!sink) return E_FAIL;
  LONG flushed = 0;
  rig.media->FlushEvent(&flushed);
  sink->Notify(32781, 0, driftMs);
  sink->Release();
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  HRESULT hr = E_ABORT;
  for (int i = 0; i < 20; ++i) {
    hr = rig.live->GetDSEvent(&code, &p1, &p2);
    if (hr != E_ABORT && code == 32781) break;
  }
  EXPECT_EQ(code, 32781);
  EXPECT_EQ(p2, driftMs);
  return hr;
}

TEST_F(LiveTest, AudioDriftAdjustsTheMicrophonesClock) {
  struct Case {
    const char* what;
    BOOL adjustable;
    LONG streamType;
    HRESULT result;
    LONGLONG delta;
  } cases[] = {
      {"the microphone's clock takes the delta", TRUE, 3, S_OK, -3000000},
      {"a clock without IAMClockAdjust", FALSE, 3, E_NOINTERFACE, 0},
      {"no microphone: Wine's system clock has none", TRUE, 2, E_NOINTERFACE, 0},
  };
  for (const Case& k : cases) {
    FakeCaptureSettings s = DefaultFake();
    s.clockAdjust = k.adjustable;
    configureFake(&s);
    ReadLog(true);
    LiveRig rig;
    const std::string file = Dir() + "drift.mp4";
    ASSERT_EQ(rig.Prepare(CaptureJob(file, k.streamType)), S_OK) << k.what;
    ASSERT_EQ(rig.live->StartEncode(1), S_OK) << k.what;
    EXPECT_EQ(DriftThroughTheEngine(rig, -300), k.result) << k.what;
    const FakeCaptureLog log = ReadLog(true);
    EXPECT_EQ(log.clockDelta, k.delta) << k.what;
    EXPECT_EQ(log.clockDeltaCalls, k.delta ? 1 : 0) << k.what;
    EXPECT_EQ(rig.live->Stop(0), S_OK);
    EncodeResult r;
    EXPECT_TRUE(rig.Pump(32778, 15000, &r)) << k.what << ": the file is written";
  }
}

// ---- runs from the fake devices ---------------------------------------------------------

// Our reader's view of a file, through mp4info.
Ran Info(const std::string& file, const char* tag) {
  return RunWindows(TestDir() + "mp4info.exe", "\"" + file + "\"", tag);
}

// Frames ffmpeg's own decoder takes from a file's video, strictly; -1 on
// any error.
int VideoFramesFfmpegDecodes(const std::string& file, const char* tag) {
  const Ran ff = RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -i " + UnixPath(file) + " -map 0:v -f framecrc -",
                         tag);
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  if (ff.exitCode != 0) return -1;
  int frames = 0;
  for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
  return frames;
}

// The AMR frames our reader reads from a file, decoded by ffmpeg; -1 on any
// error.
int AmrFramesFfmpegDecodes(const std::string& file, const char* tag) {
  const std::string amr = file + ".amr";
  const Ran dump = RunWindows(TestDir() + "mp4_amr_dump.exe", "\"" + file + "\" \"" + amr + "\"",
                              (std::string(tag) + "-dump").c_str());
  EXPECT_EQ(dump.exitCode, 0) << dump.output;
  const Ran ff =
      RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -f amr -i " + UnixPath(amr) + " -f framecrc -", tag);
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  if (ff.exitCode != 0) return -1;
  int frames = 0;
  for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
  return frames;
}

TEST_F(LiveTest, ACaptureRunWritesAFileAndReportsItsStatistics) {
  LiveRig rig(true);
  ASSERT_NE(rig.engine, nullptr);
  const std::string file = Dir() + "capture.mp4";
  std::remove(file.c_str());
  ASSERT_EQ(rig.Prepare(CaptureJob(file, 3)), S_OK);
  KRVideoCaptureStat capture = {};
  EXPECT_EQ(rig.stats->GetVideoCaptureStat(&capture), E_FAIL) << "no graph yet";
  ASSERT_EQ(rig.live->StartEncode(1), S_OK);
  EncodeResult r;
  rig.Pump(-1, 2500, &r);

  EXPECT_EQ(rig.stats->GetVideoCaptureStat(nullptr), E_INVALIDARG);
  ASSERT_EQ(rig.stats->GetVideoCaptureStat(&capture), S_OK);
  EXPECT_GE(capture.dropped, 1) << "the camera loses every eighth picture";
  EXPECT_GE(capture.notDropped, 10);
  EXPECT_EQ(capture.averageFrameSize, 176 * 144 * 3);
  EXPECT_EQ(capture.bytes, int64_t(capture.averageFrameSize) * capture.notDropped);

  // The intra counter runs modulo 1024: a record that last saw 1022 counts
  // the step to the encoder's value across the wrap.
  KRVideoEncoderStat encoder = {};
  encoder.word[3] = 1022;
  ASSERT_EQ(rig.stats->GetVideoEncoderStat(&encoder), S_OK);
  ASSERT_LT(encoder.word[3], 1022u);
  EXPECT_EQ(encoder.word[5], encoder.word[3] + 1024 - 1022);
  EXPECT_GT(encoder.word[7], 0u) << "pictures coded";
  EXPECT_EQ(encoder.word[4], encoder.word[2]) << "kilobytes since a record of 0";
  const KRVideoEncoderStat before = encoder;
  rig.Pump(-1, 800, &r);
  ASSERT_EQ(rig.stats->GetVideoEncoderStat(&encoder), S_OK);
  EXPECT_GE(encoder.word[7], before.word[7]);
  EXPECT_EQ(encoder.word[4], encoder.word[2] - before.word[2]);
  EXPECT_EQ(encoder.word[5], encoder.word[3] - before.word[3]);

  KRAudioCaptureStat input = {};
  ASSERT_EQ(rig.stats->GetAudioCaptureStat(&input), S_OK);
  EXPECT_GT(uint64_t(input.inputBytes[0]) * 1024 + input.inputBytes[1], 0u);
  EXPECT_GT(input.inputSamples, 0u);

  KRAudioEncoderStat coded;
  std::memset(&coded, 0x5A, sizeof coded);
  ASSERT_EQ(rig.stats->GetAudioEncoderStat(&coded), S_OK);
  EXPECT_EQ(coded.enabled, 1u);
  EXPECT_EQ(coded.entry[0].codec, 0);
  EXPECT_GT(coded.entry[0].bytes, 0u);
  EXPECT_GT(coded.entry[0].samples, 0u);
  for (int i : {1, 2, 3, 4}) EXPECT_EQ(coded.entry[i].codec, -1) << i;
  double seconds = -1;
  EXPECT_EQ(rig.stats->GetCurrentMediaTime(&seconds), S_OK);
  EXPECT_GE(seconds, 2.0);
  EXPECT_EQ(rig.stats->GetClientStatus(nullptr), S_OK);

  EXPECT_EQ(rig.live->Stop(0), S_OK);
  EXPECT_TRUE(rig.Pump(32778, 20000, &r)) << "the file is written";
  EXPECT_EQ(rig.stats->GetVideoCaptureStat(&capture), E_FAIL) << "stopped";
  EXPECT_EQ(rig.stats->GetVideoEncoderStat(&encoder), KRM_E_MUST_BE_PLAYING);
  EXPECT_EQ(rig.stats->GetAudioEncoderStat(&coded), KRM_E_MUST_BE_PLAYING);
  // The capture rate went back to what it was before the encoding.
  EXPECT_EQ(rig.Capture().frameRate, 15.0f);

  const Ran info = Info(file, "mp4info-capture");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("MP4V-ES"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("AMR, time scale"), std::string::npos) << info.output;
  // Every frame decodes (-xerror); how many there are depends on the load:
  // a quiet machine captures about 26 in the run, a loaded one 18.
  EXPECT_GE(VideoFramesFfmpegDecodes(file, "ffmpeg-capture-video"), 10);
  EXPECT_GE(AmrFramesFfmpegDecodes(file, "ffmpeg-capture-amr"), 50);
}

TEST_F(LiveTest, AudioEncoderStatisticsCountTheEnabledEntries) {
  LiveRig rig;
  ASSERT_EQ(rig.Prepare(CaptureJob(Dir() + "entries.mp4", 1)), S_OK);
  // GSM-AMR in entry 0 and EVRC in entry 2; entry 1 stays off.
  KRAudioEncoderConfig audio;
  rig.config->GetConfigAudioEncoder(&audio);
  audio.stream[2] = {1, 1, 8000, 9200, 1};
  ASSERT_EQ(rig.config->ConfigAudioEncoder(&audio), S_OK);
  ASSERT_EQ(rig.live->StartEncode(1), S_OK);
  EncodeResult r;
  rig.Pump(-1, 1500, &r);
  KRAudioEncoderStat coded;
  std::memset(&coded, 0x5A, sizeof coded);
  ASSERT_EQ(rig.stats->GetAudioEncoderStat(&coded), S_OK);
  EXPECT_EQ(coded.enabled, 2u);
  EXPECT_EQ(coded.entry[0].codec, 0);
  EXPECT_GT(coded.entry[0].bytes, 0u);
  EXPECT_EQ(coded.entry[1].codec, -1);
  EXPECT_EQ(coded.entry[2].codec, 1);
  EXPECT_GT(coded.entry[2].bytes, 0u);
  EXPECT_GT(coded.entry[2].samples, 0u);
  for (int i : {3, 4}) EXPECT_EQ(coded.entry[i].codec, -1) << i;
  // Counts the filter really gave: a record cleared first.
  std::memset(&coded, 0, sizeof coded);
  ASSERT_EQ(rig.stats->GetAudioEncoderStat(&coded), S_OK);
  EXPECT_GT(coded.entry[2].bytes, 0u) << "EVRC coded";
  KRVideoEncoderStat encoder = {};
  EXPECT_EQ(rig.stats->GetVideoEncoderStat(&encoder), S_OK) << "sound alone: the record as it was";
  EXPECT_EQ(encoder.word[7], 0u);
  EXPECT_EQ(rig.live->Stop(0), S_OK);
  EXPECT_TRUE(rig.Pump(32778, 15000, &r)) << "the file is written";
  // Both tracks in the file, each with its sample description.
  const Ran info = Info(Dir() + "entries.mp4", "mp4info-entries");
  EXPECT_EQ(info.exitCode, 0) << info.output;
  EXPECT_NE(info.output.find("AMR, time scale"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("EVRC"), std::string::npos) << info.output;
  // ffmpeg decodes the EVRC track (the second sound track), every frame.
  const Ran ff = RunUnix("/usr/bin/ffmpeg -nostdin -v error -xerror -i " + UnixPath(Dir() + "entries.mp4") +
                             " -map 0:a:1 -f framecrc -",
                         "ffmpeg-entries-evrc");
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  size_t frames = 0;
  for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
  EXPECT_GE(frames, 25u) << ff.output;
}

TEST_F(LiveTest, AFileGraphHasNoCaptureStatistics) {
  const std::string wav = Dir() + "speech.wav";
  const Ran made = RunUnix("/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i sine=frequency=440:sample_rate=8000 "
                           "-ac 2 -c:a pcm_s16le -t 2 " + UnixPath(wav),
                           "ffmpeg-speech");
  ASSERT_EQ(made.exitCode, 0) << made.output;
  LiveRig rig;
  IGenFromFile* source = Query<IGenFromFile>(rig.engine, IID_IGenFromFile);
  EncodeJob job = CaptureJob(Dir() + "speech.mp4", 1);
  ASSERT_EQ(ApplyJob(rig.config, job), S_OK);
  ASSERT_EQ(source->SetSourceFileName(Wide(wav).c_str()), S_OK);
  ASSERT_EQ(source->StartEncode(1), S_OK);
  KRVideoCaptureStat capture = {};
  EXPECT_EQ(rig.stats->GetVideoCaptureStat(&capture), E_FAIL);
  EXPECT_EQ(LastTrace(), "COKRMedia::GetVideoCaptureStat:The graph is not live !");
  LONG code;
  LONG_PTR p1, p2;
  EXPECT_EQ(rig.live->GetDSEvent(&code, &p1, &p2), KRM_E_WRONG_MODE);
  KRVideoEncoderStat encoder = {};
  EXPECT_EQ(rig.stats->GetVideoEncoderStat(&encoder), S_OK) << "no video encoder: the record as it was";
  EXPECT_EQ(encoder.word[7], 0u);
  EncodeResult r;
  EXPECT_TRUE(PumpEvents(source, rig.window, EC_COMPLETE, 20000, &r, nullptr));
  EXPECT_EQ(source->Stop(), S_OK);
  PumpEvents(source, rig.window, 32778, 20000, &r, nullptr);
  source->Release();
}

TEST_F(LiveTest, GrantWithoutAStreamerAndWhatTheStreamerIsGiven) {
  LiveRig rig;
  IGrantConnection* grant = Query<IGrantConnection>(rig.engine, IID_IGrantConnection);
  EXPECT_EQ(grant->GrantConnection(7, 1), KRM_E_INTERFACE_NOT_FOUND) << "no streamer in the graph";
  // A built live graph: the verdicts reach the streamer as 1 or 0.
  const std::string log = Dir() + "streamer.log";
  std::remove(log.c_str());
  SetEnvironmentVariableA("KR_FILTER_LOG", log.c_str());
  ASSERT_EQ(rig.Prepare(CaptureJob(Dir() + "grant.mp4", 3)), S_OK);
  ASSERT_EQ(rig.live->StartEncode(0), S_OK);
  EXPECT_EQ(grant->GrantConnection(7, 1), S_OK);
  EXPECT_EQ(grant->GrantConnection(8, 0), S_OK);
  EXPECT_EQ(grant->GrantConnection(9, 2), S_OK);
  SetEnvironmentVariableA("KR_FILTER_LOG", nullptr);
  const std::string written = ReadWholeFile(log);
  for (const char* line : {"grant client 7: 1", "grant client 8: 0", "grant client 9: 0"})
    EXPECT_NE(written.find(line), std::string::npos) << line << " in\n" << written;
  grant->Release();
}

// The record takes RTSP ports up to 7999: ones of this process's own.
LONG TestPort(int n) { return LONG(7100 + (GetCurrentProcessId() * 2 + DWORD(n)) % 800); }

// A host process started without waiting; its end is the done file.
std::string StartUnix(const std::string& command, const std::string& tag) {
  const std::string done = Dir() + tag + ".done";
  std::remove(done.c_str());
  std::string cmd = "/bin/sh -c \"" + command + " >" + UnixPath(Dir() + tag + ".out") + " 2>&1; echo $? >" +
                    UnixPath(done) + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return "";
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return done;
}

TEST_F(LiveTest, TheLiveRoadRunsWhenAPlayerConnects) {
  LiveRig rig(true);
  ASSERT_NE(rig.engine, nullptr);
  IKRMediaGraph* graph = Query<IKRMediaGraph>(rig.engine, IID_IKRMediaGraph);
  EncodeJob job = CaptureJob(Dir() + "road.mp4", 3);
  // 4: RTP framed in the players' connections, and the archive file.
  job.outputType = 4;
  job.rtspPort = TestPort(0);
  ASSERT_EQ(rig.Prepare(job), S_OK);
  ASSERT_EQ(rig.live->StartEncode(1), S_OK);
  LONG state = 0;
  EXPECT_EQ(graph->GetGraphState(&state), S_OK);
  EXPECT_EQ(state, 1) << "built, waiting for a player";

  // The server's own python client: DESCRIBE, SETUP, PLAY, then the units
  // until the stream ends, judged by ffmpeg.
  const std::string out = Dir() + "road";
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(job.rtspPort) + "/live";
  const std::string done =
      // The listener opens on the controller's thread: a moment first.
      StartUnix("sleep 1; /usr/bin/python3 " + std::string(SUITE_SOURCE_DIR) + "/Flumera/tests/rtsp_client.py receive " +
                    url + " --out " + UnixPath(out) + " --timeout 30 --ffmpeg",
                "road-client");
  ASSERT_FALSE(done.empty());
  EncodeResult r;
  ASSERT_TRUE(rig.Pump(32773, 20000, &r)) << "EC_KR_CONNECTED reaches the host's window";
  EXPECT_EQ(rig.live->StartEncode(1), S_OK) << "the second start runs the graph";
  EXPECT_EQ(graph->GetGraphState(&state), S_OK);
  EXPECT_EQ(state, 3);
  // A second player pauses: the host hears of it.
  const std::string script = Dir() + "pause.py";
  FILE* py = std::fopen(script.c_str(), "wb");
  ASSERT_NE(py, nullptr);
  std::fprintf(py,
               "import sys, time\nsys.path.insert(0, '%s/Flumera/tests')\nimport rtsp_client as r\n"
               "c = r.RtspClient('127.0.0.1', %ld)\nc.describe('%s')\nc.setup('%s')\nc.play('%s')\n"
               "time.sleep(1)\nprint(c.request('PAUSE', '%s')[0])\nc.close()\n",
               SUITE_SOURCE_DIR, long(job.rtspPort), url.c_str(), url.c_str(), url.c_str(), url.c_str());
  std::fclose(py);
  const std::string paused = StartUnix("/usr/bin/python3 " + UnixPath(script), "pause-client");
  EXPECT_TRUE(rig.Pump(32789, 15000, &r)) << "a player's PAUSE raises 32789";
  EXPECT_TRUE(WaitForFile(paused, 15000));
  EXPECT_EQ(ReadWholeFile(Dir() + "pause-client.out"), "200\n");
  rig.Pump(-1, 2000, &r);
  EXPECT_EQ(rig.live->Stop(0), S_OK);
  EXPECT_TRUE(WaitForFile(done, 40000)) << "the client ends";
  rig.Pump(32778, 20000, &r);
  const std::string result = ReadWholeFile(out + "\\result.json");
  std::printf("client: %s\n%s\n", result.c_str(), ReadWholeFile(Dir() + "road-client.out").c_str());
  EXPECT_NE(result.find("\"setup\": 200"), std::string::npos);
  EXPECT_NE(result.find("\"play\": 200"), std::string::npos);
  EXPECT_NE(result.find("\"video_decodes\": true"), std::string::npos);
  EXPECT_NE(result.find("\"amr_decodes\": true"), std::string::npos);
  EXPECT_EQ(result.find("\"video_units\": 0,"), std::string::npos);
  graph->Release();
}

// With the control's security check on (EnableSecurityCheck, the output
// record's value at byte 44), each client's SETUP waits for the host: 32774
// brings its record, GrantConnection's verdict answers it (1 admits, any
// other value refuses).
TEST_F(LiveTest, TheSecurityCheckAsksTheHostAboutEachClient) {
  LiveRig rig(true);
  ASSERT_NE(rig.engine, nullptr);
  IGrantConnection* grant = Query<IGrantConnection>(rig.engine, IID_IGrantConnection);
  // 5: framed players and device clients; no archive file.
  EncodeJob job = CaptureJob(Dir() + "check.mp4", 1);
  job.outputType = 5;
  job.rtspPort = TestPort(1);
  ASSERT_EQ(rig.Prepare(job), S_OK);
  KROutputConfig output;
  rig.config->GetConfigOutput(&output);
  output.fileOutput = 0;
  output.furtherValue1 = 1;
  ASSERT_EQ(rig.config->ConfigOutput(&output), S_OK);
  ASSERT_EQ(rig.live->StartEncode(1), S_OK);

  // Clients one after another, each SETUP's status printed as it comes;
  // the admitted ones stay connected to the end.
  struct Client {
    bool device;  // a "Device:" header
    const char* id;
    LONG verdict;
    const char* status;
  };
  const Client clients[] = {
      {true, "handset-1", 1, "200"},
      {true, "handset-2", 0, "401"},
      {true, "handset-3", 2, "401"},
      {false, "player-4", 1, "200"},
  };
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(job.rtspPort) + "/live";
  const std::string script = Dir() + "check.py";
  FILE* py = std::fopen(script.c_str(), "wb");
  ASSERT_NE(py, nullptr);
  std::fprintf(py, "import sys\nsys.path.insert(0, '%s/Flumera/tests')\nimport rtsp_client as r\nkept = []\n",
               SUITE_SOURCE_DIR);
  for (const Client& c : clients)
    std::fprintf(py,
                 "c = r.RtspClient('127.0.0.1', %ld, timeout=20)\n"
                 "status, head, _ = c.setup('%s', '%sID: %s\\r\\n')\nprint(status, flush=True)\nkept.append(c)\n",
                 long(job.rtspPort), url.c_str(), c.device ? "Device: phone\\r\\n" : "", c.id);
  std::fprintf(py, "for c in kept: c.close()\n");
  std::fclose(py);
  // The listener opens on the controller's thread: a moment first.
  const std::string done = StartUnix("sleep 1; /usr/bin/python3 " + UnixPath(script), "check-client");
  ASSERT_FALSE(done.empty());

  std::vector<std::string> records;
  EventCalls calls = {[&](LONG* code, LONG_PTR* p1, LONG_PTR* p2) {
                        const HRESULT hr = rig.live->GetDSEvent(code, p1, p2);
                        if (hr == S_OK && *code == kSecurityCheck && *p1)
                          records.emplace_back(reinterpret_cast<const char*>(*p1), size_t(*p2));
                        return hr;
                      },
                      [&](LONG code, LONG_PTR p1, LONG_PTR p2) { return rig.live->FreeDSEvent(code, p1, p2); }};
  for (const Client& c : clients) {
    EncodeResult r;
    records.clear();
    ASSERT_TRUE(PumpEvents(calls, rig.window, kSecurityCheck, 20000, &r, nullptr)) << c.id;
    ASSERT_EQ(records.size(), 1u);
    // {client id, address text in 32 bytes, the request's identification}.
    const std::string& record = records[0];
    ASSERT_EQ(record.size(), 292u);
    LONG id = 0;
    std::memcpy(&id, record.data(), 4);
    EXPECT_STREQ(record.c_str() + 4, "127.0.0.1");
    EXPECT_EQ(std::string(record.c_str() + 36), "ID: " + std::string(c.id) + "\r\n\r\n");
    EXPECT_EQ(grant->GrantConnection(id, c.verdict), S_OK);
  }
  EXPECT_TRUE(WaitForFile(done, 30000)) << "the clients end";
  std::string expected;
  for (const Client& c : clients) expected += std::string(c.status) + "\n";
  EXPECT_EQ(ReadWholeFile(Dir() + "check-client.out"), expected);
  EXPECT_EQ(rig.live->Stop(0), S_OK);
  grant->Release();
}

}  // namespace
