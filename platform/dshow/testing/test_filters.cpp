#include "test_filters.h"

#include <evcode.h>
#include <mmreg.h>

#include <cmath>

// ---- source ----

class TestPcmSource::Pin : public CBaseOutputPin {
 public:
  Pin(TestPcmSource* f, HRESULT* hr) : CBaseOutputPin("test source pin", f, &f->lock_, hr, L"Out"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    CMediaType mine;
    GetMediaType(0, &mine);
    return mine == *mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    WAVEFORMATEX wf = {};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = owner_->channels_;
    wf.nSamplesPerSec = owner_->rate_;
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = static_cast<WORD>(2 * wf.nChannels);
    wf.nAvgBytesPerSec = wf.nSamplesPerSec * wf.nBlockAlign;
    mt->SetType(&MEDIATYPE_Audio);
    mt->SetSubtype(&MEDIASUBTYPE_PCM);
    mt->SetFormatType(&FORMAT_WaveFormatEx);
    mt->SetFormat(reinterpret_cast<BYTE*>(&wf), sizeof wf);
    mt->SetSampleSize(wf.nBlockAlign);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    request->cBuffers = 4;
    request->cbBuffer = static_cast<long>(owner_->SampleFrames() * 2 * owner_->channels_);
    ALLOCATOR_PROPERTIES actual;
    HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
  }
  HRESULT Active() override {
    HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr)) owner_->StartThread();
    return hr;
  }
  HRESULT Inactive() override {
    // Decommit first: a push blocked in GetDeliveryBuffer then returns.
    HRESULT hr = CBaseOutputPin::Inactive();
    owner_->StopThread();
    return hr;
  }

 private:
  TestPcmSource* owner_;
};

TestPcmSource::TestPcmSource(DWORD rate, WORD channels, int samples)
    : CBaseFilter("test PCM source", nullptr, &lock_, CLSID_TestPcmSource), rate_(rate), channels_(channels),
      samples_(samples) {
  HRESULT hr = S_OK;
  pin_ = new Pin(this, &hr);
  stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

TestPcmSource::~TestPcmSource() {
  StopThread();
  delete pin_;
  CloseHandle(stopEvent_);
}

CBasePin* TestPcmSource::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

STDMETHODIMP TestPcmSource::Stop() { return CBaseFilter::Stop(); }

void TestPcmSource::StartThread() {
  if (thread_) return;
  ResetEvent(stopEvent_);
  finished_ = false;
  thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

void TestPcmSource::StopThread() {
  if (!thread_) return;
  SetEvent(stopEvent_);
  WaitForSingleObject(thread_, 5000);
  CloseHandle(thread_);
  thread_ = nullptr;
}

bool TestPcmSource::WaitFinished(DWORD ms) {
  DWORD start = GetTickCount();
  while (!finished_ && GetTickCount() - start < ms) Sleep(5);
  return finished_;
}

DWORD WINAPI TestPcmSource::ThreadProc(void* self) {
  static_cast<TestPcmSource*>(self)->Push();
  return 0;
}

void TestPcmSource::Push() {
  const LONG frameSamples = SampleFrames();
  for (int i = 0; i < samples_; ++i) {
    if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) break;
    IMediaSample* sample = nullptr;
    if (FAILED(pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) break;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    auto* pcm = reinterpret_cast<short*>(data);
    for (LONG s = 0; s < frameSamples; ++s) {
      short v = static_cast<short>(6000 * std::sin(2 * 3.14159265 * 440 * (i * frameSamples + s) / rate_));
      for (WORD c = 0; c < channels_; ++c) pcm[s * channels_ + c] = v;
    }
    sample->SetActualDataLength(frameSamples * 2 * channels_);
    // Exact stamps of each sample's first and last sample frame.
    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(i) * frameSamples * 10000000 / rate_;
    REFERENCE_TIME stop = static_cast<REFERENCE_TIME>(i + 1) * frameSamples * 10000000 / rate_;
    if (i >= shiftFrom_) {
      start += shift_;
      stop += shift_;
    }
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    HRESULT hr = pin_->Deliver(sample);
    sample->Release();
    lastResult_ = hr;
    if (hr != S_OK) break;
    ++delivered_;
  }
  pin_->DeliverEndOfStream();
  finished_ = true;
}

// ---- sink ----

class TestSink::Pin : public CBaseInputPin {
 public:
  Pin(TestSink* f, HRESULT* hr) : CBaseInputPin("test sink pin", f, &f->lock_, hr, L"In"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return IsEqualGUID(*mt->Type(), owner_->major_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    const HRESULT answer = owner_->received_ + 1 == owner_->answerAt_ ? owner_->answer_ : S_OK;
    owner_->bytes_ += sample->GetActualDataLength();
    TestSink::Sample kept;
    BYTE* data = nullptr;
    if (SUCCEEDED(sample->GetPointer(&data)) && sample->GetActualDataLength() > 0)
      kept.data.assign(data, data + sample->GetActualDataLength());
    kept.hasTime = SUCCEEDED(sample->GetTime(&kept.start, &kept.stop));
    kept.hasMediaTime = SUCCEEDED(sample->GetMediaTime(&kept.mediaStart, &kept.mediaStop));
    {
      std::lock_guard<std::mutex> lock(owner_->samplesLock_);
      owner_->samples_.push_back(std::move(kept));
    }
    if (static_cast<int>(owner_->held_.size()) < owner_->hold_) {
      sample->AddRef();
      owner_->held_.push_back(sample);
    }
    ++owner_->received_;
    return answer;
  }
  HRESULT Inactive() override {
    owner_->ReleaseHeld();
    return CBaseInputPin::Inactive();
  }
  STDMETHODIMP EndOfStream() override {
    ++owner_->endOfStreams_;
    owner_->NotifyEvent(EC_COMPLETE, S_OK, 0);
    return S_OK;
  }
  STDMETHODIMP BeginFlush() override { return CBaseInputPin::BeginFlush(); }
  STDMETHODIMP EndFlush() override { return CBaseInputPin::EndFlush(); }

 private:
  TestSink* owner_;
};

TestSink::TestSink(const GUID& majorType)
    : CBaseFilter("test sink", nullptr, &lock_, CLSID_TestSink), major_(majorType) {
  HRESULT hr = S_OK;
  pin_ = new Pin(this, &hr);
}

TestSink::~TestSink() {
  ReleaseHeld();
  delete pin_;
}

void TestSink::ReleaseHeld() {
  for (IMediaSample* s : held_) s->Release();
  held_.clear();
}

CBasePin* TestSink::GetPin(int n) { return n == 0 ? pin_ : nullptr; }
