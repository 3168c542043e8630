#include "source.h"

#include <amvideo.h>
#include <mmreg.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "dshow/helpers.h"
#include "dshow/log.h"

namespace {

constexpr const char* kLog = "custom source";
constexpr LONG kMaxCount = 1024;
constexpr LONG kMaxSize = 64 << 20;

bool Supported(const AM_MEDIA_TYPE* mt) {
  if (!mt->pbFormat) return false;
  if (IsEqualGUID(mt->majortype, MEDIATYPE_Video))
    return IsEqualGUID(mt->formattype, FORMAT_VideoInfo) && mt->cbFormat >= sizeof(VIDEOINFOHEADER);
  if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio))
    return IsEqualGUID(mt->formattype, FORMAT_WaveFormatEx) && mt->cbFormat >= sizeof(WAVEFORMATEX);
  return false;
}

}  // namespace

class CKRCustomSource::Pin : public CBaseOutputPin {
 public:
  Pin(CKRCustomSource* f, HRESULT* hr) : CBaseOutputPin("custom source pin", f, &f->lock_, hr, L"Out"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return owner_->typeSet_ && owner_->type_ == *mt ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0 || !owner_->typeSet_) return VFW_S_NO_MORE_ITEMS;
    *mt = owner_->type_;
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return RequestBuffers(allocator, request, std::max(owner_->poolCount_, 1L), std::max(owner_->poolSize_, 1L));
  }
  HRESULT Active() override {
    HRESULT hr = CBaseOutputPin::Active();
    if (SUCCEEDED(hr)) owner_->StartThread();
    return hr;
  }
  HRESULT Inactive() override {
    HRESULT hr = CBaseOutputPin::Inactive();  // a delivery waiting for a buffer returns
    owner_->StopThread();
    return hr;
  }

 private:
  CKRCustomSource* owner_;
};

CUnknown* WINAPI CKRCustomSource::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CKRCustomSource(outer, hr);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CKRCustomSource::CKRCustomSource(LPUNKNOWN outer, HRESULT* hr)
    : CBaseFilter("custom source", outer, &lock_, CLSID_KRCustomSource) {
  HRESULT h = S_OK;
  pin_ = new (std::nothrow) Pin(this, &h);
  wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!pin_ || !wake_ || !stop_) h = E_OUTOFMEMORY;
  if (hr) *hr = h;
  FilterLog(kLog, "created");
}

CKRCustomSource::~CKRCustomSource() {
  StopThread();
  delete pin_;
  if (wake_) CloseHandle(wake_);
  if (stop_) CloseHandle(stop_);
  FilterLog(kLog, "destroyed after %ld buffers", delivered_);
}

STDMETHODIMP CKRCustomSource::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IKRCustomSource)) return GetInterface(static_cast<IKRCustomSource*>(this), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CKRCustomSource::GetPin(int n) { return n == 0 ? pin_ : nullptr; }

STDMETHODIMP CKRCustomSource::SetOutputType(const BYTE* description, const AM_MEDIA_TYPE* type) {
  if (!description || !type) return KRCS_E_NULL_ARGUMENT;
  if (!Supported(type)) {
    FilterLog(kLog, "media type refused");
    return KRCS_E_TYPE_NOT_SUPPORTED;
  }
  CAutoLock lock(&lock_);
  CAutoLock queued(&queueLock_);
  const CMediaType wanted(*type);
  if (pin_->IsConnected() && !(pin_->CurrentMediaType() == wanted)) return KRCS_E_TYPE_CONNECTED;
  type_ = wanted;
  typeSet_ = true;
  std::memcpy(description_, description, sizeof description_);
  // The name, for the log only: at most 255 characters of it.
  char name[256] = {};
  for (int i = 0; i < 255; ++i) {
    const unsigned c = description_[2 * i] | unsigned(description_[2 * i + 1]) << 8;
    if (!c) break;
    name[i] = c < 128 ? char(c) : '?';
  }
  FilterLog(kLog, "stream \"%s\": %s", name, IsEqualGUID(type->majortype, MEDIATYPE_Video) ? "video" : "audio");
  return S_OK;
}

STDMETHODIMP CKRCustomSource::SetPool(LONG count, LONG size) {
  if (count < 1 || count > kMaxCount) return KRCS_E_BAD_BUFFER_COUNT;
  if (size <= 0 || size > kMaxSize) return KRCS_E_BAD_BUFFER_SIZE;
  CAutoLock lock(&lock_);
  if (IsActive()) return KRCS_E_ACTIVE;
  CAutoLock queued(&queueLock_);
  poolCount_ = count;
  poolSize_ = size;
  queue_.clear();
  endQueued_ = false;
  downstream_ = S_OK;
  FilterLog(kLog, "pool of %ld buffers of %ld bytes", long(count), long(size));
  return S_OK;
}

STDMETHODIMP CKRCustomSource::SetBuffer(LONG_PTR data, LONG length, LONG startMs, LONG stopMs) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(data);
  const bool end = !bytes && length == 0;
  if (!end) {
    if (length < 0 || (length == 0 && bytes)) return KRCS_E_BAD_LENGTH;
    if (!bytes) return KRCS_E_NULL_BUFFER;
    if (startMs < 0 || stopMs < startMs) return KRCS_E_BAD_TIMES;
  }
  CAutoLock queued(&queueLock_);
  if (!Configured()) return KRCS_E_NOT_CONFIGURED;
  if (endQueued_ || FAILED(downstream_)) return KRCS_E_STREAM_OVER;
  if (!end && length > poolSize_) return KRCS_E_BUFFER_TOO_LARGE;
  if (!end && LONG(queue_.size()) >= poolCount_) return KRCS_E_QUEUE_FULL;
  Buffer b;
  b.end = end;
  b.start = REFERENCE_TIME(startMs) * 10000;
  b.stop = REFERENCE_TIME(stopMs) * 10000;
  if (!end) b.bytes.assign(bytes, bytes + length);
  queue_.push_back(std::move(b));
  endQueued_ = end;
  SetEvent(wake_);
  return S_OK;
}

void CKRCustomSource::StartThread() {
  if (thread_) return;
  ResetEvent(stop_);
  thread_ = CreateThread(nullptr, 0, ThreadProc, this, 0, nullptr);
}

void CKRCustomSource::StopThread() {
  if (!thread_) return;
  SetEvent(stop_);
  WaitForSingleObject(thread_, INFINITE);
  CloseHandle(thread_);
  thread_ = nullptr;
  // What was not delivered goes with the run.
  CAutoLock queued(&queueLock_);
  if (!queue_.empty()) FilterLog(kLog, "stopped with %ld buffers undelivered", long(queue_.size()));
  queue_.clear();
}

DWORD WINAPI CKRCustomSource::ThreadProc(void* self) {
  static_cast<CKRCustomSource*>(self)->Deliver();
  return 0;
}

void CKRCustomSource::Deliver() {
  const HANDLE waits[2] = {stop_, wake_};
  for (;;) {
    Buffer* next = nullptr;
    {
      CAutoLock queued(&queueLock_);
      if (!queue_.empty()) next = &queue_.front();  // stays put: only this thread pops
    }
    if (!next) {
      if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return;
      continue;
    }
    if (WaitForSingleObject(stop_, 0) == WAIT_OBJECT_0) return;
    if (next->end) {
      pin_->DeliverEndOfStream();
      FilterLog(kLog, "end of stream after %ld buffers", delivered_);
      {
        CAutoLock queued(&queueLock_);
        queue_.pop_front();
      }
      WaitForSingleObject(stop_, INFINITE);
      return;
    }
    IMediaSample* sample = nullptr;
    HRESULT hr = pin_->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
    if (SUCCEEDED(hr)) {
      BYTE* to = nullptr;
      sample->GetPointer(&to);
      const long length = long(next->bytes.size());
      if (sample->GetSize() < length) {
        hr = VFW_E_BUFFER_OVERFLOW;
      } else {
        std::memcpy(to, next->bytes.data(), next->bytes.size());
        sample->SetActualDataLength(length);
        sample->SetTime(&next->start, &next->stop);
        sample->SetSyncPoint(TRUE);
        sample->SetDiscontinuity(delivered_ == 0);
        hr = pin_->Deliver(sample);
      }
      sample->Release();
    }
    CAutoLock queued(&queueLock_);
    queue_.pop_front();
    if (hr != S_OK) {
      // Downstream takes no more: later buffers are refused, not lost quietly.
      downstream_ = FAILED(hr) ? hr : VFW_E_WRONG_STATE;
      queue_.clear();
      FilterLog(kLog, "downstream refused buffer %ld (0x%08lx)", delivered_, static_cast<unsigned long>(hr));
      return;
    }
    ++delivered_;
  }
}
