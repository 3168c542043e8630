#include "mux.h"

#include <strmif.h>
#include <amvideo.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "audioencfilter/guids.h"
#include "dshow/helpers.h"
#include "dshow/log.h"
#include "videoencoder/interfaces.h"

namespace {
constexpr const char* kLog = "stream mux";
constexpr long kMinBuffer = 64 * 1024;
}  // namespace

class CKRStreamMux::InputPin : public CBaseInputPin {
 public:
  InputPin(CKRStreamMux* f, HRESULT* hr, LPCWSTR name, uint8_t kind)
      : CBaseInputPin("mux input", f, &f->m_csFilter, hr, name), owner_(f), kind_(kind) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    if (kind_ == streammux::kKindVideo)
      return IsEqualGUID(*mt->Type(), MEDIATYPE_Video) && IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_KRMP4V)
                 ? S_OK
                 : VFW_E_TYPE_NOT_ACCEPTED;
    return IsEqualGUID(*mt->Type(), MEDIATYPE_Audio) && IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_KREncodedAudio)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  STDMETHODIMP Receive(IMediaSample* sample) override {
    HRESULT hr = CBaseInputPin::Receive(sample);
    if (hr != S_OK) return hr;
    return owner_->Forward(kind_, sample);
  }
  STDMETHODIMP EndOfStream() override {
    HRESULT hr = CheckStreaming();
    return hr == S_OK ? owner_->InputEnded(kind_) : hr;
  }
  STDMETHODIMP BeginFlush() override;
  STDMETHODIMP EndFlush() override;

 private:
  CKRStreamMux* owner_;
  uint8_t kind_;
};

class CKRStreamMux::OutputPin : public CBaseOutputPin {
 public:
  OutputPin(CKRStreamMux* f, HRESULT* hr) : CBaseOutputPin("mux output", f, &f->m_csFilter, hr, L"Output"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    return IsEqualGUID(*mt->Type(), MEDIATYPE_Stream) && IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_KRMuxStream)
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    mt->SetType(&MEDIATYPE_Stream);
    mt->SetSubtype(&MEDIASUBTYPE_KRMuxStream);
    mt->SetFormatType(&GUID_NULL);
    mt->SetVariableSize();
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    return RequestBuffers(allocator, request, 8, owner_->OutputBufferSize());
  }

 private:
  CKRStreamMux* owner_;
};

STDMETHODIMP CKRStreamMux::InputPin::BeginFlush() {
  HRESULT hr = CBaseInputPin::BeginFlush();
  if (FAILED(hr)) return hr;
  return owner_->m_pOutput->IsConnected() ? owner_->m_pOutput->DeliverBeginFlush() : S_OK;
}

STDMETHODIMP CKRStreamMux::InputPin::EndFlush() {
  HRESULT hr = owner_->m_pOutput->IsConnected() ? owner_->m_pOutput->DeliverEndFlush() : S_OK;
  return FAILED(hr) ? hr : CBaseInputPin::EndFlush();
}

CUnknown* WINAPI CKRStreamMux::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CKRStreamMux(outer, hr);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CKRStreamMux::CKRStreamMux(LPUNKNOWN outer, HRESULT* hr)
    : CBaseFilter("stream mux", outer, &m_csFilter, CLSID_KRStreamMux) {
  HRESULT h = S_OK;
  m_pVideo = new (std::nothrow) InputPin(this, &h, L"Video in", streammux::kKindVideo);
  m_pAudio = new (std::nothrow) InputPin(this, &h, L"Audio in", streammux::kKindAudio);
  m_pOutput = new (std::nothrow) OutputPin(this, &h);
  if (!m_pVideo || !m_pAudio || !m_pOutput) h = E_OUTOFMEMORY;
  InitializeCriticalSection(&m_csOrder);
  InitializeConditionVariable(&m_turn);
  if (hr) *hr = h;
  FilterLog(kLog, "created");
}

CKRStreamMux::~CKRStreamMux() {
  DeleteCriticalSection(&m_csOrder);
  delete m_pVideo;
  delete m_pAudio;
  delete m_pOutput;
  FilterLog(kLog, "destroyed");
}

CBasePin* CKRStreamMux::GetPin(int n) {
  switch (n) {
    case 0: return m_pVideo;
    case 1: return m_pAudio;
    case 2: return m_pOutput;
    default: return nullptr;
  }
}

STDMETHODIMP CKRStreamMux::Pause() {
  CAutoLock lock(&m_csFilter);
  if (IsStopped()) {
    CAutoLock deliver(&m_csDeliver);
    m_eosSent = false;
    m_videoCount = m_audioCount = 0;
    EnterCriticalSection(&m_csOrder);
    m_stopping = false;
    m_pending[0] = m_pending[1] = m_ended[0] = m_ended[1] = false;
    LeaveCriticalSection(&m_csOrder);
  }
  return CBaseFilter::Pause();
}

STDMETHODIMP CKRStreamMux::Stop() {
  CAutoLock lock(&m_csFilter);
  EnterCriticalSection(&m_csOrder);
  m_stopping = true;  // samples held for their turn go now
  LeaveCriticalSection(&m_csOrder);
  WakeAllConditionVariable(&m_turn);
  // Decommit the output first: a delivery waiting for a buffer returns.
  if (m_pOutput->IsConnected()) m_pOutput->Inactive();
  HRESULT hr = CBaseFilter::Stop();
  FilterLog(kLog, "stop: %ld video and %ld audio samples forwarded", m_videoCount, m_audioCount);
  return hr;
}

long CKRStreamMux::OutputBufferSize() {
  // The largest video sample the encoder declares, with the header.
  long size = kMinBuffer;
  if (m_pVideo->IsConnected()) {
    const CMediaType& mt = m_pVideo->CurrentMediaType();
    size = std::max(size, long(mt.lSampleSize) + long(streammux::kHeaderBytes));
    if (const VIDEOINFOHEADER* vih = VideoInfoOf(&mt))
      size = std::max(size, long(vih->bmiHeader.biSizeImage) + long(streammux::kHeaderBytes));
  }
  return size;
}

void CKRStreamMux::WaitForTurn(int kind, uint32_t startMs) {
  const int other = 1 - kind;
  CBaseInputPin* otherPin = other == 0 ? static_cast<CBaseInputPin*>(m_pVideo) : m_pAudio;
  const DWORD since = GetTickCount();
  EnterCriticalSection(&m_csOrder);
  m_pending[kind] = true;
  m_pendingMs[kind] = startMs;
  WakeAllConditionVariable(&m_turn);
  // The earlier of two waiting samples goes first (video on a tie).
  while (!m_stopping && otherPin->IsConnected() && !m_ended[other] &&
         !(m_pending[other] && (m_pendingMs[other] > startMs || (m_pendingMs[other] == startMs && kind == 0))) &&
         GetTickCount() - since < 1000)
    SleepConditionVariableCS(&m_turn, &m_csOrder, 50);
  LeaveCriticalSection(&m_csOrder);
}

void CKRStreamMux::Done(int kind) {
  EnterCriticalSection(&m_csOrder);
  m_pending[kind] = false;
  LeaveCriticalSection(&m_csOrder);
  WakeAllConditionVariable(&m_turn);
}

HRESULT CKRStreamMux::Forward(uint8_t kind, IMediaSample* sample) {
  if (!m_pOutput->IsConnected()) return S_OK;  // nothing downstream: samples go nowhere
  REFERENCE_TIME start = 0, stop = 0;
  const HRESULT timed = sample->GetTime(&start, &stop);
  if (FAILED(timed)) start = stop = 0;
  if (timed == VFW_S_NO_STOP_TIME) stop = start;
  const int index = kind == streammux::kKindVideo ? 0 : 1;
  WaitForTurn(index, uint32_t(start / 10000));
  const HRESULT hr = DeliverSample(kind, sample, start, stop, SUCCEEDED(timed));
  Done(index);
  return hr;
}

HRESULT CKRStreamMux::DeliverSample(uint8_t kind, IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop,
                                    bool timed) {
  CAutoLock deliver(&m_csDeliver);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const long length = sample->GetActualDataLength();
  IMediaSample* out = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* dst = nullptr;
  out->GetPointer(&dst);
  if (!data || length < 0 || out->GetSize() < length + long(streammux::kHeaderBytes)) {
    FilterLog(kLog, "%s sample of %ld bytes does not fit a %ld-byte buffer: dropped",
              kind == streammux::kKindVideo ? "video" : "audio", length, out->GetSize());
    out->Release();
    return S_OK;
  }
  streammux::SampleHeader h;
  h.kind = kind;
  if (kind == streammux::kKindVideo)
    h.flags = sample->IsSyncPoint() == S_OK ? streammux::kVideoKey : streammux::kVideoPredicted;
  h.startMs = uint32_t(start / 10000);
  h.durationMs = uint32_t(std::max<REFERENCE_TIME>(stop - start, 0) / 10000);
  h.length = uint32_t(length);
  streammux::WriteHeader(dst, h);
  std::memcpy(dst + streammux::kHeaderBytes, data, size_t(length));
  out->SetActualDataLength(length + long(streammux::kHeaderBytes));
  if (timed) out->SetTime(&start, &stop);
  out->SetSyncPoint(sample->IsSyncPoint() == S_OK);
  const long n = kind == streammux::kKindVideo ? ++m_videoCount : ++m_audioCount;
  if (n == 1) FilterLog(kLog, "first %s sample: %ld bytes at %u ms", kind == streammux::kKindVideo ? "video" : "audio",
                        length, h.startMs);
  hr = m_pOutput->Deliver(out);
  out->Release();
  return hr;
}

HRESULT CKRStreamMux::InputEnded(uint8_t kind) {
  const int index = kind == streammux::kKindVideo ? 0 : 1;
  EnterCriticalSection(&m_csOrder);
  m_ended[index] = true;
  LeaveCriticalSection(&m_csOrder);
  WakeAllConditionVariable(&m_turn);
  CAutoLock deliver(&m_csDeliver);
  EnterCriticalSection(&m_csOrder);
  // The stream ends when every connected input has ended.
  const bool all = (!m_pVideo->IsConnected() || m_ended[0]) && (!m_pAudio->IsConnected() || m_ended[1]);
  LeaveCriticalSection(&m_csOrder);
  FilterLog(kLog, "end of %s stream", kind == streammux::kKindVideo ? "video" : "audio");
  if (!all || m_eosSent || !m_pOutput->IsConnected()) return S_OK;
  m_eosSent = true;
  return m_pOutput->DeliverEndOfStream();
}
