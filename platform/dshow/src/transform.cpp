// The transform filter and its two pins. The streaming lock (m_csReceive)
// is held for each sample and by Stop, so stopping waits for a sample in
// progress.
#include <new>

#include "dshow/base.h"

// ---- input pin ----

CTransformInputPin::CTransformInputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name)
    : CBaseInputPin(objectName, filter, &filter->m_csFilter, hr, name), m_pTransformFilter(filter) {}

STDMETHODIMP CTransformInputPin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(3 * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  lstrcpyW(*id, L"In");
  return S_OK;
}

HRESULT CTransformInputPin::CheckConnect(IPin* pin) {
  HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_INPUT, pin);
  return FAILED(hr) ? hr : CBaseInputPin::CheckConnect(pin);
}

HRESULT CTransformInputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_INPUT);
  return CBaseInputPin::BreakConnect();
}

HRESULT CTransformInputPin::CompleteConnect(IPin* receive) {
  HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_INPUT, receive);
  return FAILED(hr) ? hr : CBaseInputPin::CompleteConnect(receive);
}

HRESULT CTransformInputPin::CheckMediaType(const CMediaType* mt) {
  HRESULT hr = m_pTransformFilter->CheckInputType(mt);
  if (hr != S_OK) return hr;
  // A new input type must still suit a connected output.
  CTransformOutputPin* out = m_pTransformFilter->m_pOutput;
  if (out && out->IsConnected()) return m_pTransformFilter->CheckTransform(mt, &out->CurrentMediaType());
  return S_OK;
}

HRESULT CTransformInputPin::SetMediaType(const CMediaType* mt) {
  HRESULT hr = CBasePin::SetMediaType(mt);
  return FAILED(hr) ? hr : m_pTransformFilter->SetMediaType(PINDIR_INPUT, mt);
}

HRESULT CTransformInputPin::CheckStreaming() {
  if (!m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  return CBaseInputPin::CheckStreaming();
}

STDMETHODIMP CTransformInputPin::Receive(IMediaSample* sample) {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CBaseInputPin::Receive(sample);
  if (hr != S_OK) return hr;
  return m_pTransformFilter->Receive(sample);
}

STDMETHODIMP CTransformInputPin::EndOfStream() {
  CAutoLock lock(&m_pTransformFilter->m_csReceive);
  HRESULT hr = CheckStreaming();
  return hr == S_OK ? m_pTransformFilter->EndOfStream() : hr;
}

STDMETHODIMP CTransformInputPin::BeginFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = CBaseInputPin::BeginFlush();
  return FAILED(hr) ? hr : m_pTransformFilter->BeginFlush();
}

STDMETHODIMP CTransformInputPin::EndFlush() {
  CAutoLock lock(&m_pTransformFilter->m_csFilter);
  if (!IsConnected() || !m_pTransformFilter->m_pOutput->IsConnected()) return VFW_E_NOT_CONNECTED;
  HRESULT hr = m_pTransformFilter->EndFlush();
  return FAILED(hr) ? hr : CBaseInputPin::EndFlush();
}

STDMETHODIMP CTransformInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  CBasePin::NewSegment(start, stop, rate);
  return m_pTransformFilter->NewSegment(start, stop, rate);
}

// ---- output pin ----

CTransformOutputPin::CTransformOutputPin(const char* objectName, CTransformFilter* filter, HRESULT* hr, LPCWSTR name)
    : CBaseOutputPin(objectName, filter, &filter->m_csFilter, hr, name), m_pTransformFilter(filter) {}

STDMETHODIMP CTransformOutputPin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(4 * sizeof(WCHAR)));
  if (!*id) return E_OUTOFMEMORY;
  lstrcpyW(*id, L"Out");
  return S_OK;
}

HRESULT CTransformOutputPin::CheckConnect(IPin* pin) {
  // The output type depends on the input: connect the input first.
  if (!m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
  HRESULT hr = m_pTransformFilter->CheckConnect(PINDIR_OUTPUT, pin);
  return FAILED(hr) ? hr : CBaseOutputPin::CheckConnect(pin);
}

HRESULT CTransformOutputPin::BreakConnect() {
  m_pTransformFilter->BreakConnect(PINDIR_OUTPUT);
  return CBaseOutputPin::BreakConnect();
}

HRESULT CTransformOutputPin::CompleteConnect(IPin* receive) {
  HRESULT hr = m_pTransformFilter->CompleteConnect(PINDIR_OUTPUT, receive);
  return FAILED(hr) ? hr : CBaseOutputPin::CompleteConnect(receive);
}

HRESULT CTransformOutputPin::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  return m_pTransformFilter->DecideBufferSize(allocator, request);
}

HRESULT CTransformOutputPin::CheckMediaType(const CMediaType* mt) {
  if (!m_pTransformFilter->m_pInput->IsConnected()) return E_INVALIDARG;
  return m_pTransformFilter->CheckTransform(&m_pTransformFilter->m_pInput->CurrentMediaType(), mt);
}

HRESULT CTransformOutputPin::SetMediaType(const CMediaType* mt) {
  HRESULT hr = CBasePin::SetMediaType(mt);
  return FAILED(hr) ? hr : m_pTransformFilter->SetMediaType(PINDIR_OUTPUT, mt);
}

HRESULT CTransformOutputPin::GetMediaType(int position, CMediaType* mt) {
  // No output type can be offered before the input is connected.
  if (!m_pTransformFilter->m_pInput->IsConnected()) return E_UNEXPECTED;
  return m_pTransformFilter->GetMediaType(position, mt);
}

// ---- filter ----

CTransformFilter::CTransformFilter(const char* name, LPUNKNOWN outer, REFCLSID clsid)
    : CBaseFilter(name, outer, &m_csFilter, clsid), m_bEOSDelivered(FALSE), m_bSampleSkipped(FALSE),
      m_bQualityChanged(FALSE), m_pInput(nullptr), m_pOutput(nullptr) {}

CTransformFilter::~CTransformFilter() {
  delete m_pInput;
  delete m_pOutput;
}

CBasePin* CTransformFilter::GetPin(int n) {
  if (!m_pInput) {
    HRESULT hr = S_OK;
    m_pInput = new (std::nothrow) CTransformInputPin("Transform input pin", this, &hr, L"XForm In");
    if (!m_pInput || FAILED(hr)) {
      delete m_pInput;
      m_pInput = nullptr;
      return nullptr;
    }
    m_pOutput = new (std::nothrow) CTransformOutputPin("Transform output pin", this, &hr, L"XForm Out");
    if (!m_pOutput || FAILED(hr)) {
      delete m_pInput;
      delete m_pOutput;
      m_pInput = nullptr;
      m_pOutput = nullptr;
      return nullptr;
    }
  }
  if (n == 0) return m_pInput;
  if (n == 1) return m_pOutput;
  return nullptr;
}

STDMETHODIMP CTransformFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin || !id) return E_POINTER;
  if (lstrcmpW(id, L"In") == 0) {
    *pin = GetPin(0);
  } else if (lstrcmpW(id, L"Out") == 0) {
    *pin = GetPin(1);
  } else {
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
  }
  if (!*pin) return E_OUTOFMEMORY;
  (*pin)->AddRef();
  return S_OK;
}

STDMETHODIMP CTransformFilter::Stop() {
  CAutoLock lock(&m_csFilter);
  if (m_State == State_Stopped) return NOERROR;
  if (!m_pInput || !m_pInput->IsConnected() || !m_pOutput->IsConnected()) {
    m_State = State_Stopped;
    m_bEOSDelivered = FALSE;
    return NOERROR;
  }
  // Decommit first so a blocked GetDeliveryBuffer returns (also one waiting
  // for a buffer that a downstream filter still holds), then wait for the
  // sample in progress.
  m_pInput->Inactive();
  if (m_pOutput->Allocator()) m_pOutput->Allocator()->Decommit();
  CAutoLock streaming(&m_csReceive);
  m_pOutput->Inactive();
  HRESULT hr = StopStreaming();
  if (SUCCEEDED(hr)) {
    m_State = State_Stopped;
    m_bEOSDelivered = FALSE;
  }
  return hr;
}

STDMETHODIMP CTransformFilter::Pause() {
  CAutoLock lock(&m_csFilter);
  HRESULT hr = NOERROR;
  if (m_State == State_Paused) {
    // nothing to do
  } else if (!m_pInput || !m_pInput->IsConnected()) {
    if (m_pOutput && !m_bEOSDelivered) {
      m_pOutput->DeliverEndOfStream();
      m_bEOSDelivered = TRUE;
    }
    m_State = State_Paused;
  } else if (!m_pOutput->IsConnected()) {
    m_State = State_Paused;
  } else {
    if (m_State == State_Stopped) {
      CAutoLock streaming(&m_csReceive);
      hr = StartStreaming();
    }
    if (SUCCEEDED(hr)) hr = CBaseFilter::Pause();
  }
  m_bSampleSkipped = FALSE;
  m_bQualityChanged = FALSE;
  return hr;
}

HRESULT CTransformFilter::Transform(IMediaSample*, IMediaSample*) { return E_UNEXPECTED; }

HRESULT CTransformFilter::InitializeOutputSample(IMediaSample* in, IMediaSample** out) {
  IMediaSample* sample = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  REFERENCE_TIME start, stop;
  if (SUCCEEDED(in->GetTime(&start, &stop))) sample->SetTime(&start, &stop);
  sample->SetSyncPoint(in->IsSyncPoint() == S_OK);
  sample->SetPreroll(in->IsPreroll() == S_OK);
  sample->SetDiscontinuity(in->IsDiscontinuity() == S_OK || m_bSampleSkipped);
  m_bSampleSkipped = FALSE;
  *out = sample;
  return S_OK;
}

HRESULT CTransformFilter::Receive(IMediaSample* sample) {
  IMediaSample* out = nullptr;
  HRESULT hr = InitializeOutputSample(sample, &out);
  if (FAILED(hr)) return hr;
  hr = Transform(sample, out);
  if (hr == S_OK) {
    hr = m_pOutput->Deliver(out);
  } else if (hr == S_FALSE) {
    // The transform dropped the sample: not an error upstream.
    m_bSampleSkipped = TRUE;
    hr = NOERROR;
  }
  out->Release();
  return hr;
}

HRESULT CTransformFilter::EndOfStream() { return m_pOutput->DeliverEndOfStream(); }
HRESULT CTransformFilter::BeginFlush() { return m_pOutput->DeliverBeginFlush(); }
HRESULT CTransformFilter::EndFlush() { return m_pOutput->DeliverEndFlush(); }
HRESULT CTransformFilter::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  return m_pOutput->DeliverNewSegment(start, stop, rate);
}
