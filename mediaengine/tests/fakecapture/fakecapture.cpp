// The fake camera and microphone. The camera has a capture pin and, when
// asked, a preview pin (categories through IKsPropertySet); the capture pin
// has IAMStreamConfig and IAMDroppedFrames and pushes a moving pattern in
// RGB24 at the format's frame rate while the graph runs, leaving out every
// eighth frame as dropped. The microphone pushes 8 kHz 16-bit stereo PCM in
// 20 ms buffers and offers a clock of its own.
#include "fakecapture.h"

#include <strmif.h>
#include <amvideo.h>
#include <mmreg.h>
#include <vfwmsgs.h>
#include <uuids.h>

#include <cmath>
#include <cstring>
#include <new>

#include "dshow/base.h"
#include "dshow/helpers.h"

namespace {

SRWLOCK settingsLock = SRWLOCK_INIT;
// Until a test says otherwise: four sizes up to 640 x 480, a preview pin,
// an adjustable clock.
FakeCaptureSettings settings = {4, {{160, 120}, {176, 144}, {320, 240}, {640, 480}}, 0, {}, {160, 120}, TRUE, TRUE};
FakeCaptureLog captureLog = {};

FakeCaptureSettings Settings() {
  AcquireSRWLockShared(&settingsLock);
  FakeCaptureSettings s = settings;
  ReleaseSRWLockShared(&settingsLock);
  return s;
}

template <class F>
void WithLog(F f) {
  AcquireSRWLockExclusive(&settingsLock);
  f(captureLog);
  ReleaseSRWLockExclusive(&settingsLock);
}

constexpr REFERENCE_TIME kDefaultInterval = 666666;  // 15 pictures a second

CMediaType Rgb24(int width, int height, REFERENCE_TIME interval) {
  VIDEOINFOHEADER vih = {};
  vih.AvgTimePerFrame = interval;
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = width;
  vih.bmiHeader.biHeight = height;
  vih.bmiHeader.biPlanes = 1;
  vih.bmiHeader.biBitCount = 24;
  vih.bmiHeader.biCompression = BI_RGB;
  vih.bmiHeader.biSizeImage = DWORD(((width * 3 + 3) & ~3) * height);
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&MEDIASUBTYPE_RGB24);
  mt.SetFormatType(&FORMAT_VideoInfo);
  mt.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih);
  mt.SetSampleSize(vih.bmiHeader.biSizeImage);
  return mt;
}

const VIDEOINFOHEADER* Vih(const AM_MEDIA_TYPE* mt) {
  if (!mt || !IsEqualGUID(mt->majortype, MEDIATYPE_Video) || !IsEqualGUID(mt->formattype, FORMAT_VideoInfo) ||
      mt->cbFormat < sizeof(VIDEOINFOHEADER) || !mt->pbFormat)
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
}

bool Accepted(const FakeCaptureSettings& s, LONG width, LONG height) {
  const int n = s.acceptCount ? s.acceptCount : s.capabilityCount;
  const SIZE* list = s.acceptCount ? s.accept : s.capabilities;
  for (int i = 0; i < n; ++i)
    if (list[i].cx == width && list[i].cy == height) return true;
  return false;
}

// A pin that reports its category through IKsPropertySet.
class CategoryPin : public CBaseOutputPin, public IKsPropertySet {
 public:
  CategoryPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name, const GUID& category)
      : CBaseOutputPin("fake capture pin", filter, lock, hr, name), category_(category) {}
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return NonDelegatingQueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return CBasePin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return CBasePin::Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IKsPropertySet)) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    return CBaseOutputPin::NonDelegatingQueryInterface(riid, ppv);
  }
  // IKsPropertySet: only the pin category, read-only.
  STDMETHODIMP Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_PROP_ID_UNSUPPORTED; }
  STDMETHODIMP Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size, DWORD* returned) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data && !returned) return E_POINTER;
    if (returned) *returned = sizeof(GUID);
    if (!data) return S_OK;
    if (size < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = category_;
    return S_OK;
  }
  STDMETHODIMP QuerySupported(REFGUID set, DWORD id, DWORD* support) override {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
  }

 private:
  GUID category_;
};

// A thread that runs `Tick` until told to stop; the filters' pushes.
class Pusher {
 public:
  ~Pusher() { Stop(); }
  template <class F>
  void Start(F* owner) {
    if (thread_) return;
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    owner_ = owner;
    tick_ = [](void* o) { return static_cast<F*>(o)->Tick(); };
    thread_ = CreateThread(nullptr, 0, Proc, this, 0, nullptr);
  }
  void Stop() {
    if (!thread_) return;
    SetEvent(stop_);
    WaitForSingleObject(thread_, 10000);
    CloseHandle(thread_);
    CloseHandle(stop_);
    thread_ = nullptr;
  }
  // Waits up to ms; false when asked to stop.
  bool Wait(DWORD ms) { return WaitForSingleObject(stop_, ms) != WAIT_OBJECT_0; }

 private:
  static DWORD WINAPI Proc(void* self) {
    auto* p = static_cast<Pusher*>(self);
    while (p->tick_(p->owner_)) {
    }
    return 0;
  }
  HANDLE thread_ = nullptr;
  HANDLE stop_ = nullptr;
  void* owner_ = nullptr;
  bool (*tick_)(void*) = nullptr;
};

// ---- camera ----------------------------------------------------------------

class FakeCamera;

class VideoPin : public CategoryPin, public IAMStreamConfig, public IAMDroppedFrames {
 public:
  VideoPin(FakeCamera* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name, const GUID& category, bool capture);
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { return NonDelegatingQueryInterface(riid, ppv); }
  STDMETHODIMP_(ULONG) AddRef() override { return CBasePin::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return CBasePin::Release(); }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (IsEqualIID(riid, IID_IAMStreamConfig)) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    if (capture_ && IsEqualIID(riid, IID_IAMDroppedFrames))
      return GetInterface(static_cast<IAMDroppedFrames*>(this), ppv);
    return CategoryPin::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT CheckMediaType(const CMediaType* mt) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT SetMediaType(const CMediaType* mt) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return RequestBuffers(allocator, request, 4, LONG(current_.lSampleSize));
  }

  // IAMStreamConfig
  STDMETHODIMP SetFormat(AM_MEDIA_TYPE* mt) override;
  STDMETHODIMP GetFormat(AM_MEDIA_TYPE** mt) override;
  STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
  STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) override;
  // IAMDroppedFrames
  STDMETHODIMP GetNumDropped(LONG* n) override {
    if (!n) return E_POINTER;
    *n = dropped_;
    return S_OK;
  }
  STDMETHODIMP GetNumNotDropped(LONG* n) override {
    if (!n) return E_POINTER;
    *n = delivered_;
    return S_OK;
  }
  STDMETHODIMP GetDroppedInfo(LONG, LONG*, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAverageFrameSize(LONG* bytes) override {
    if (!bytes) return E_POINTER;
    *bytes = LONG(current_.lSampleSize);
    return S_OK;
  }

  // One picture of frame `index` delivered when connected; counts it.
  void Push(int index, REFERENCE_TIME start, REFERENCE_TIME stop, bool drop);
  REFERENCE_TIME Interval() const {
    const VIDEOINFOHEADER* v = Vih(&current_);
    return v && v->AvgTimePerFrame > 0 ? v->AvgTimePerFrame : kDefaultInterval;
  }
  void ResetCounts() {
    dropped_ = 0;
    delivered_ = 0;
  }

 private:
  bool capture_;
  CMediaType current_;
  volatile LONG dropped_ = 0;
  volatile LONG delivered_ = 0;
};

class FakeCamera : public CBaseFilter {
 public:
  static CUnknown* WINAPI Create(LPUNKNOWN outer, HRESULT* hr) {
    auto* f = new (std::nothrow) FakeCamera(outer, hr);
    if (!f && hr) *hr = E_OUTOFMEMORY;
    return f;
  }
  FakeCamera(LPUNKNOWN outer, HRESULT* hr) : CBaseFilter("fake camera", outer, &lock_, CLSID_FakeVideoCapture) {
    const FakeCaptureSettings s = Settings();
    capture_ = new VideoPin(this, &lock_, hr, L"Capture", PIN_CATEGORY_CAPTURE, true);
    if (s.previewPin) preview_ = new VideoPin(this, &lock_, hr, L"Preview", PIN_CATEGORY_PREVIEW, false);
  }
  ~FakeCamera() override {
    pusher_.Stop();
    delete capture_;
    delete preview_;
  }
  int GetPinCount() override { return preview_ ? 2 : 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? capture_ : n == 1 ? preview_ : nullptr; }

  STDMETHODIMP Run(REFERENCE_TIME start) override {
    HRESULT hr = CBaseFilter::Run(start);
    if (SUCCEEDED(hr)) {
      WithLog([](FakeCaptureLog& log) { ++log.cameraRuns; });
      frame_ = 0;
      capture_->ResetCounts();
      pusher_.Start(this);
    }
    return hr;
  }
  STDMETHODIMP Pause() override {
    pusher_.Stop();
    return CBaseFilter::Pause();
  }
  // A live source has nothing to cue while paused, as real capture filters
  // tell the graph: its renderers must not wait for a first picture.
  STDMETHODIMP GetState(DWORD ms, FILTER_STATE* state) override {
    const HRESULT hr = CBaseFilter::GetState(ms, state);
    return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
  }
  STDMETHODIMP Stop() override {
    pusher_.Stop();
    return CBaseFilter::Stop();
  }

  bool Tick() {
    const REFERENCE_TIME interval = capture_->Interval();
    if (!pusher_.Wait(DWORD(interval / 10000))) return false;
    const REFERENCE_TIME start = frame_ * interval;
    // Every eighth picture is lost, as a busy camera loses some.
    const bool drop = frame_ % 8 == 7;
    WithLog([](FakeCaptureLog& log) { ++log.picturesOffered; });
    capture_->Push(frame_, start, start + interval, drop);
    if (preview_) preview_->Push(frame_, start, start + interval, false);
    ++frame_;
    return true;
  }

 private:
  CCritSec lock_;
  VideoPin* capture_ = nullptr;
  VideoPin* preview_ = nullptr;
  Pusher pusher_;
  int frame_ = 0;
};

VideoPin::VideoPin(FakeCamera* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name, const GUID& category, bool capture)
    : CategoryPin(filter, lock, hr, name, category), capture_(capture) {
  const FakeCaptureSettings s = Settings();
  current_ = Rgb24(s.initial.cx, s.initial.cy, kDefaultInterval);
}

HRESULT VideoPin::CheckMediaType(const CMediaType* mt) {
  const VIDEOINFOHEADER* v = Vih(mt);
  if (!v || !IsEqualGUID(mt->subtype, MEDIASUBTYPE_RGB24)) return VFW_E_TYPE_NOT_ACCEPTED;
  return v->bmiHeader.biWidth == Vih(&current_)->bmiHeader.biWidth &&
                 v->bmiHeader.biHeight == Vih(&current_)->bmiHeader.biHeight
             ? S_OK
             : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT VideoPin::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  *mt = current_;
  return S_OK;
}

HRESULT VideoPin::SetMediaType(const CMediaType* mt) {
  HRESULT hr = CBasePin::SetMediaType(mt);
  if (SUCCEEDED(hr)) current_ = *mt;
  return hr;
}

STDMETHODIMP VideoPin::SetFormat(AM_MEDIA_TYPE* mt) {
  const VIDEOINFOHEADER* v = Vih(mt);
  if (!v) return VFW_E_INVALIDMEDIATYPE;
  WithLog([&](FakeCaptureLog& log) {
    ++log.setFormatCalls;
    log.lastSetFormat = {v->bmiHeader.biWidth, v->bmiHeader.biHeight};
  });
  CAutoLock l(m_pLock);
  if (IsConnected()) return VFW_E_ALREADY_CONNECTED;
  if (!Accepted(Settings(), v->bmiHeader.biWidth, v->bmiHeader.biHeight)) return VFW_E_INVALIDMEDIATYPE;
  if (v->bmiHeader.biBitCount != 24) return VFW_E_INVALIDMEDIATYPE;
  current_ = Rgb24(v->bmiHeader.biWidth, v->bmiHeader.biHeight,
                   v->AvgTimePerFrame > 0 ? v->AvgTimePerFrame : kDefaultInterval);
  return S_OK;
}

STDMETHODIMP VideoPin::GetFormat(AM_MEDIA_TYPE** mt) {
  if (!mt) return E_POINTER;
  *mt = CreateMediaType(&current_);
  return *mt ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP VideoPin::GetNumberOfCapabilities(int* count, int* size) {
  if (!count || !size) return E_POINTER;
  *count = Settings().capabilityCount;
  *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
  return S_OK;
}

STDMETHODIMP VideoPin::GetStreamCaps(int index, AM_MEDIA_TYPE** mt, BYTE* caps) {
  if (!mt || !caps) return E_POINTER;
  const FakeCaptureSettings s = Settings();
  if (index < 0 || index >= s.capabilityCount) return S_FALSE;
  const SIZE size = s.capabilities[index];
  CMediaType type = Rgb24(size.cx, size.cy, kDefaultInterval);
  *mt = CreateMediaType(&type);
  if (!*mt) return E_OUTOFMEMORY;
  VIDEO_STREAM_CONFIG_CAPS c = {};
  c.guid = FORMAT_VideoInfo;
  c.InputSize = size;
  c.MinCroppingSize = c.MaxCroppingSize = size;
  c.MinOutputSize = c.MaxOutputSize = size;
  // 30 pictures a second at most, 1 at least.
  c.MinFrameInterval = 333333;
  c.MaxFrameInterval = 10000000;
  c.MinBitsPerSecond = c.MaxBitsPerSecond = LONG(type.lSampleSize * 8 * 30);
  std::memcpy(caps, &c, sizeof c);
  return S_OK;
}

void VideoPin::Push(int index, REFERENCE_TIME start, REFERENCE_TIME stop, bool drop) {
  if (!IsConnected()) return;
  if (drop) {
    InterlockedIncrement(&dropped_);
    return;
  }
  IMediaSample* sample = nullptr;
  if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return;
  const VIDEOINFOHEADER* v = Vih(&current_);
  const int w = v->bmiHeader.biWidth, h = v->bmiHeader.biHeight;
  const int stride = (w * 3 + 3) & ~3;
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  if (sample->GetSize() >= stride * h) {
    for (int y = 0; y < h; ++y) {
      BYTE* row = data + (h - 1 - y) * stride;  // bottom-up
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) row[x * 3 + c] = FakeCapturePixel(x, y, c, index);
    }
    sample->SetActualDataLength(stride * h);
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    if (Deliver(sample) == S_OK) InterlockedIncrement(&delivered_);
  }
  sample->Release();
}

// ---- microphone --------------------------------------------------------------

// The microphone's clock: the system clock's time moved by the delta that
// IAMClockAdjust sets (advise times are moved back for the inner clock).
class FakeClock : public IReferenceClock, public IAMClockAdjust {
 public:
  explicit FakeClock(bool adjust) : adjust_(adjust) {
    CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                     reinterpret_cast<void**>(&inner_));
  }
  virtual ~FakeClock() {
    if (inner_) inner_->Release();
  }
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IReferenceClock))
      *ppv = static_cast<IReferenceClock*>(this);
    else if (adjust_ && IsEqualIID(riid, IID_IAMClockAdjust))
      *ppv = static_cast<IAMClockAdjust*>(this);
    else
      return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return ULONG(n);
  }
  STDMETHODIMP GetTime(REFERENCE_TIME* time) override {
    if (!inner_) return E_FAIL;
    HRESULT hr = inner_->GetTime(time);
    if (SUCCEEDED(hr)) *time += delta_;
    return hr;
  }
  STDMETHODIMP AdviseTime(REFERENCE_TIME base, REFERENCE_TIME stream, HEVENT event, DWORD_PTR* cookie) override {
    return inner_ ? inner_->AdviseTime(base - delta_, stream, event, cookie) : E_FAIL;
  }
  STDMETHODIMP AdvisePeriodic(REFERENCE_TIME start, REFERENCE_TIME period, HSEMAPHORE sem,
                              DWORD_PTR* cookie) override {
    return inner_ ? inner_->AdvisePeriodic(start - delta_, period, sem, cookie) : E_FAIL;
  }
  STDMETHODIMP Unadvise(DWORD_PTR cookie) override { return inner_ ? inner_->Unadvise(cookie) : E_FAIL; }
  STDMETHODIMP SetClockDelta(REFERENCE_TIME delta) override {
    delta_ += delta;
    WithLog([&](FakeCaptureLog& log) {
      log.clockDelta = delta;
      ++log.clockDeltaCalls;
    });
    return S_OK;
  }

 private:
  volatile LONG refs_ = 1;
  bool adjust_;
  IReferenceClock* inner_ = nullptr;
  REFERENCE_TIME delta_ = 0;
};

constexpr int kRate = 8000, kChannels = 2, kFrameBytes = 4, kBufferFrames = kRate / 50;

class FakeMicrophone;

class AudioPin : public CategoryPin {
 public:
  AudioPin(CBaseFilter* filter, CCritSec* lock, HRESULT* hr)
      : CategoryPin(filter, lock, hr, L"Capture", PIN_CATEGORY_CAPTURE) {
    WAVEFORMATEX wf = {};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = kChannels;
    wf.nSamplesPerSec = kRate;
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = kFrameBytes;
    wf.nAvgBytesPerSec = kRate * kFrameBytes;
    type_.SetType(&MEDIATYPE_Audio);
    type_.SetSubtype(&MEDIASUBTYPE_PCM);
    type_.SetFormatType(&FORMAT_WaveFormatEx);
    type_.SetFormat(reinterpret_cast<BYTE*>(&wf), sizeof wf);
    type_.SetSampleSize(kFrameBytes);
  }
  HRESULT CheckMediaType(const CMediaType* mt) override { return type_ == *mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = type_;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return RequestBuffers(allocator, request, 8, kBufferFrames * kFrameBytes);
  }
  // One 20 ms buffer of a 440 Hz tone, left and right apart in phase.
  void Push(LONGLONG firstFrame) {
    if (!IsConnected()) return;
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) return;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    auto* pcm = reinterpret_cast<short*>(data);
    for (int i = 0; i < kBufferFrames; ++i) {
      const double t = double(firstFrame + i) / kRate;
      pcm[2 * i] = short(8000 * std::sin(2 * 3.14159265358979 * 440 * t));
      pcm[2 * i + 1] = short(8000 * std::cos(2 * 3.14159265358979 * 440 * t));
    }
    sample->SetActualDataLength(kBufferFrames * kFrameBytes);
    REFERENCE_TIME start = firstFrame * 10000000 / kRate;
    REFERENCE_TIME stop = (firstFrame + kBufferFrames) * 10000000 / kRate;
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    Deliver(sample);
    sample->Release();
  }

 private:
  CMediaType type_;
};

class FakeMicrophone : public CBaseFilter {
 public:
  static CUnknown* WINAPI Create(LPUNKNOWN outer, HRESULT* hr) {
    auto* f = new (std::nothrow) FakeMicrophone(outer, hr);
    if (!f && hr) *hr = E_OUTOFMEMORY;
    return f;
  }
  FakeMicrophone(LPUNKNOWN outer, HRESULT* hr)
      : CBaseFilter("fake microphone", outer, &lock_, CLSID_FakeAudioCapture),
        clock_(new FakeClock(Settings().clockAdjust != FALSE)) {
    pin_ = new AudioPin(this, &lock_, hr);
  }
  ~FakeMicrophone() override {
    pusher_.Stop();
    delete pin_;
    clock_->Release();
  }
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    // Its own clock, as a sound card's capture filter offers one.
    if (IsEqualIID(riid, IID_IReferenceClock)) {
      if (!ppv) return E_POINTER;
      return clock_->QueryInterface(riid, ppv);
    }
    return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
  }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }
  STDMETHODIMP Run(REFERENCE_TIME start) override {
    HRESULT hr = CBaseFilter::Run(start);
    if (SUCCEEDED(hr)) {
      frames_ = 0;
      pusher_.Start(this);
    }
    return hr;
  }
  STDMETHODIMP Pause() override {
    pusher_.Stop();
    return CBaseFilter::Pause();
  }
  // A live source has nothing to cue while paused, as real capture filters
  // tell the graph: its renderers must not wait for a first picture.
  STDMETHODIMP GetState(DWORD ms, FILTER_STATE* state) override {
    const HRESULT hr = CBaseFilter::GetState(ms, state);
    return hr == S_OK && *state == State_Paused ? VFW_S_CANT_CUE : hr;
  }
  STDMETHODIMP Stop() override {
    pusher_.Stop();
    return CBaseFilter::Stop();
  }
  bool Tick() {
    if (!pusher_.Wait(20)) return false;
    pin_->Push(frames_);
    frames_ += kBufferFrames;
    return true;
  }

 private:
  CCritSec lock_;
  AudioPin* pin_ = nullptr;
  FakeClock* clock_;
  Pusher pusher_;
  LONGLONG frames_ = 0;
};

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"Fake camera (tests)", &CLSID_FakeVideoCapture, FakeCamera::Create, nullptr, nullptr},
    {L"Fake microphone (tests)", &CLSID_FakeAudioCapture, FakeMicrophone::Create, nullptr, nullptr},
};
int g_cTemplates = sizeof(g_Templates) / sizeof(g_Templates[0]);

STDAPI DllRegisterServer() { return AMovieDllRegisterServer2(TRUE); }
STDAPI DllUnregisterServer() { return AMovieDllRegisterServer2(FALSE); }

extern "C" void WINAPI FakeCaptureConfigure(const FakeCaptureSettings* s) {
  AcquireSRWLockExclusive(&settingsLock);
  settings = *s;
  ReleaseSRWLockExclusive(&settingsLock);
}

extern "C" void WINAPI FakeCaptureReadLog(FakeCaptureLog* log, BOOL clear) {
  WithLog([&](FakeCaptureLog& l) {
    *log = l;
    if (clear) l = {};
  });
}
