#include "push_sources.h"

#include <amvideo.h>
#include <evcode.h>
#include <mmreg.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "amrenc/amrenc.h"
#include "dshow/helpers.h"
#include "audioencfilter/guids.h"

// ---- push source ----

class TestPushSource::Pin : public CBaseOutputPin {
 public:
  Pin(TestPushSource* f, HRESULT* hr) : CBaseOutputPin("test push pin", f, &f->lock_, hr, L"Out"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override { return owner_->type_ == *mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED; }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    *mt = owner_->type_;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return RequestBuffers(allocator, request, 4, owner_->bufferSize_);
  }
  HRESULT Active() override {
    HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr)) owner_->StartThread();
    return hr;
  }
  HRESULT Inactive() override {
    HRESULT hr = CBaseOutputPin::Inactive();  // a push blocked in GetDeliveryBuffer returns
    owner_->StopThread();
    return hr;
  }

 private:
  TestPushSource* owner_;
};

TestPushSource::TestPushSource(const char* name, REFCLSID clsid, const CMediaType& type, long bufferSize, int count)
    : CBaseFilter(name, nullptr, &lock_, clsid), type_(type), bufferSize_(bufferSize), count_(count) {
  HRESULT hr = S_OK;
  pin_ = new Pin(this, &hr);
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TestPushSource::~TestPushSource() {
  StopThread();
  delete pin_;
  CloseHandle(stopEvent_);
}

CBasePin* TestPushSource::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

void TestPushSource::StartThread() {
  if (thread_) return;
  ResetEvent(stopEvent_);
  finished_ = false;
  thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

void TestPushSource::StopThread() {
  if (!thread_) return;
  SetEvent(stopEvent_);
  WaitForSingleObject(thread_, 10000);
  CloseHandle(thread_);
  thread_ = nullptr;
}

bool TestPushSource::WaitFinished(DWORD ms) {
  const DWORD start = GetTickCount();
  while (!finished_ && GetTickCount() - start < ms) Sleep(5);
  return finished_;
}

DWORD WINAPI TestPushSource::ThreadProc(void* self) {
  static_cast<TestPushSource*>(self)->Push();
  return 0;
}

void TestPushSource::Push() {
  for (int i = 0; i < count_; ++i) {
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) break;
    IMediaSample* sample = nullptr;
    if (FAILED(pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) break;
    const bool ok = Fill(i, sample);
    HRESULT hr = ok ? pin_->Deliver(sample) : S_FALSE;
    sample->Release();
    lastResult_ = hr;
    if (hr != S_OK) break;
    ++delivered_;
  }
  pin_->DeliverEndOfStream();
  finished_ = true;
}

// ---- video pattern ----

namespace {

CMediaType videoType(int w, int h, const GUID& subtype) {
  const bool rgb = IsEqualGUID(subtype, MEDIASUBTYPE_RGB24);
  VIDEOINFOHEADER vih = {};
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = w;
  vih.bmiHeader.biHeight = h;
  vih.bmiHeader.biPlanes = rgb ? 1 : 3;
  vih.bmiHeader.biBitCount = rgb ? 24 : 12;
  vih.bmiHeader.biCompression = rgb ? BI_RGB : MAKEFOURCC('I', '4', '2', '0');
  vih.bmiHeader.biSizeImage = rgb ? DWORD(((w * 3 + 3) & ~3) * h) : DWORD(w * h * 3 / 2);
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Video);
  mt.SetSubtype(&subtype);
  mt.SetFormatType(&FORMAT_VideoInfo);
  mt.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih);
  mt.SetSampleSize(vih.bmiHeader.biSizeImage);
  return mt;
}

// {5C1A0D03-2F6B-4E39-9A57-6B1D0C6E1A01}
const GUID CLSID_TestVideoSource = {0x5C1A0D03, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};
// {5C1A0D04-2F6B-4E39-9A57-6B1D0C6E1A01}
const GUID CLSID_TestAmrSource = {0x5C1A0D04, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};
// {5C1A0D05-2F6B-4E39-9A57-6B1D0C6E1A01}
const GUID CLSID_TestCaptureSink = {0x5C1A0D05, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};

inline unsigned char clip(int v) { return static_cast<unsigned char>(std::clamp(v, 0, 255)); }

}  // namespace

TestVideoSource::TestVideoSource(int width, int height, const GUID& subtype, int frames, double fps)
    : TestPushSource("test video source", CLSID_TestVideoSource, videoType(width, height, subtype),
                     ((width * 3 + 3) & ~3) * height, frames),
      width_(width), height_(height), rgb_(IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)), fps_(fps) {}

void TestVideoSource::Pattern(int w, int h, int i, unsigned char* yuv) {
  unsigned char* y = yuv;
  unsigned char* u = yuv + w * h;
  unsigned char* v = u + w * h / 4;
  const int bx = (i * 3) % std::max(1, w - 24), by = (i * 2) % std::max(1, h - 24);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) {
      const bool box = c >= bx && c < bx + 24 && r >= by && r < by + 24;
      y[r * w + c] = box ? 220 : clip(40 + ((c + 2 * i) * 160) / w + ((r * 40) / h));
    }
  for (int r = 0; r < h / 2; ++r)
    for (int c = 0; c < w / 2; ++c) {
      u[r * (w / 2) + c] = clip(128 + ((c - i) % 64) - 32);
      v[r * (w / 2) + c] = clip(100 + (r * 60) / (h / 2));
    }
}

bool TestVideoSource::Fill(int index, IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  std::vector<unsigned char> yuv(size_t(width_) * height_ * 3 / 2);
  Pattern(width_, height_, index, yuv.data());
  long length = long(yuv.size());
  if (rgb_) {
    // BT.601 studio range back to BGR, bottom-up rows.
    const int stride = (width_ * 3 + 3) & ~3;
    const unsigned char* py = yuv.data();
    const unsigned char* pu = py + width_ * height_;
    const unsigned char* pv = pu + width_ * height_ / 4;
    for (int r = 0; r < height_; ++r) {
      BYTE* d = data + size_t(height_ - 1 - r) * stride;
      for (int c = 0; c < width_; ++c, d += 3) {
        const int C = 298 * (py[r * width_ + c] - 16), D = pu[(r / 2) * (width_ / 2) + c / 2] - 128,
                  E = pv[(r / 2) * (width_ / 2) + c / 2] - 128;
        d[0] = clip((C + 516 * D + 128) >> 8);
        d[1] = clip((C - 100 * D - 208 * E + 128) >> 8);
        d[2] = clip((C + 409 * E + 128) >> 8);
      }
    }
    length = stride * height_;
  } else {
    std::memcpy(data, yuv.data(), yuv.size());
  }
  sample->SetActualDataLength(length);
  REFERENCE_TIME start = REFERENCE_TIME(index * 10000000.0 / fps_), stop = REFERENCE_TIME((index + 1) * 10000000.0 / fps_);
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  return true;
}

// ---- AMR packets ----

namespace {

CMediaType amrType() {
  WAVEFORMATEX wf = {};
  wf.wFormatTag = WAVE_FORMAT_KRENCODED;
  wf.nChannels = 1;
  wf.nSamplesPerSec = 8000;
  wf.nAvgBytesPerSec = 1600;
  wf.nBlockAlign = 1;
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_KREncodedAudio);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.SetFormat(reinterpret_cast<BYTE*>(&wf), sizeof wf);
  mt.SetVariableSize();
  return mt;
}

}  // namespace

TestAmrSource::TestAmrSource(int mode, int framesPerPacket, int packets, int streamId)
    : TestPushSource("test AMR source", CLSID_TestAmrSource, amrType(), 3 + framesPerPacket * 40, packets),
      mode_(mode), framesPerPacket_(framesPerPacket), streamId_(streamId) {
  amr_enc_init(&amr_, 0, "test");
}

TestAmrSource::~TestAmrSource() { amr_enc_exit(&amr_); }

bool TestAmrSource::Fill(int index, IMediaSample* sample) {
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  BYTE* p = data;
  *p++ = 0;  // GSM-AMR
  *p++ = BYTE(streamId_);
  *p++ = BYTE(framesPerPacket_);
  for (int f = 0; f < framesPerPacket_; ++f) {
    // A voiced sound: a falling pitch with its harmonics under a slow swell.
    int16_t speech[AMR_FRAME_SAMPLES];
    for (int s = 0; s < AMR_FRAME_SAMPLES; ++s, ++sampleIndex_) {
      const double t = sampleIndex_ / 8000.0;
      const double pitch = 140 + 30 * std::sin(2 * 3.14159265 * 0.5 * t);
      const double env = 0.6 + 0.4 * std::sin(2 * 3.14159265 * 2 * t);
      double v = 0;
      for (int k = 1; k <= 5; ++k) v += std::sin(2 * 3.14159265 * pitch * k * t) / k;
      speech[s] = int16_t(5000 * env * v);
    }
    uint8_t if2[AMR_OUT_BYTES], storage[AMR_OUT_BYTES];
    int used = -1;
    if (amr_enc_frame(amr_, mode_, speech, if2, &used) != 0) return false;
    const int n = amr_if2_to_storage(if2, storage);  // header byte, then the speech bits
    if (n < 1) return false;
    p[0] = BYTE(n & 0xFF);
    p[1] = BYTE(n >> 8);
    p[2] = BYTE(used);  // the frame type byte in place of the storage header
    std::memcpy(p + 3, storage + 1, size_t(n - 1));
    p += 2 + n;
  }
  sample->SetActualDataLength(long(p - data));
  REFERENCE_TIME start = REFERENCE_TIME(index) * framesPerPacket_ * 200000, stop = start + framesPerPacket_ * 200000;
  sample->SetTime(&start, &stop);
  sample->SetSyncPoint(TRUE);
  return true;
}

// ---- capture sink ----

class TestCaptureSink::Pin : public CBaseInputPin {
 public:
  Pin(TestCaptureSink* f, HRESULT* hr) : CBaseInputPin("test capture pin", f, &f->lock_, hr, L"In"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return IsEqualGUID(*mt->Type(), owner_->major_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    Sample s;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    s.bytes.assign(data, data + sample->GetActualDataLength());
    s.timed = SUCCEEDED(sample->GetTime(&s.start, &s.stop));
    s.sync = sample->IsSyncPoint() == S_OK;
    CAutoLock lock(&owner_->samplesLock_);
    owner_->samples_.push_back(std::move(s));
    return S_OK;
  }
  STDMETHODIMP EndOfStream() override {
    ++owner_->endOfStreams_;
    owner_->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
  }
  STDMETHODIMP BeginFlush() override { return CBaseInputPin::BeginFlush(); }
  STDMETHODIMP EndFlush() override { return CBaseInputPin::EndFlush(); }

 private:
  TestCaptureSink* owner_;
};

TestCaptureSink::TestCaptureSink(const GUID& majorType)
    : CBaseFilter("test capture sink", nullptr, &lock_, CLSID_TestCaptureSink), major_(majorType) {
  HRESULT hr = S_OK;
  pin_ = new Pin(this, &hr);
}

TestCaptureSink::~TestCaptureSink() { delete pin_; }

CBasePin* TestCaptureSink::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

std::vector<TestCaptureSink::Sample> TestCaptureSink::Samples() {
  CAutoLock lock(&samplesLock_);
  return samples_;
}

CMediaType TestCaptureSink::ConnectedType() { return pin_->CurrentMediaType(); }

bool TestCaptureSink::WaitEndOfStream(DWORD ms) {
  const DWORD start = GetTickCount();
  while (!endOfStreams_ && GetTickCount() - start < ms) Sleep(5);
  return endOfStreams_ > 0;
}

HRESULT CreateFromDll(const char* dll, REFCLSID clsid, REFIID iid, void** out) {
  HMODULE m = LoadLibraryA(dll);
  if (!m) return HRESULT_FROM_WIN32(GetLastError());
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  auto get = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(m, "DllGetClassObject")));
  if (!get) return E_NOINTERFACE;
  IClassFactory* factory = nullptr;
  HRESULT hr = get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, iid, out);
  factory->Release();
  return hr;
}
