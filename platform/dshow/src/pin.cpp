// Base pins: connection and media-type agreement, the input pin's sample
// and allocator handling, the output pin's allocator choice and delivery.
#include <cwchar>
#include <new>

#include "dshow/base.h"

namespace {


// Enumerates a pin's preferred media types; holds a reference on the pin.
class CEnumMediaTypes : public CSingleInterface<IEnumMediaTypes, &IID_IEnumMediaTypes> {
 public:
  CEnumMediaTypes(CBasePin* pin, ULONG position) : CSingleInterface("CEnumMediaTypes"), m_pPin(pin), m_pos(position) {
    m_pPin->AddRef();
  }
  ~CEnumMediaTypes() override { m_pPin->Release(); }
  STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
    if (!types || (count > 1 && !fetched)) return E_POINTER;
    ULONG got = 0;
    while (got < count) {
      CMediaType mt;
      if (m_pPin->GetMediaType(static_cast<int>(m_pos), &mt) != S_OK) break;
      ++m_pos;
      types[got] = CreateMediaType(&mt);
      if (!types[got]) break;
      ++got;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    m_pos += count;
    CMediaType mt;
    return m_pPin->GetMediaType(static_cast<int>(m_pos) - 1, &mt) == S_OK ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumMediaTypes** e) override {
    if (!e) return E_POINTER;
    *e = new CEnumMediaTypes(m_pPin, m_pos);
    return S_OK;
  }

 private:
  CBasePin* m_pPin;
  ULONG m_pos;
};

}  // namespace

// ---- CBasePin ----

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT*, LPCWSTR name,
                   PIN_DIRECTION dir)
    : CUnknown(objectName, nullptr), m_pName(CopyWideString(name)), m_Connected(nullptr), m_dir(dir), m_pLock(lock),
      m_pFilter(filter), m_tStart(0), m_tStop(MAXLONGLONG), m_dRate(1.0) {}

CBasePin::~CBasePin() {
  if (m_Connected) m_Connected->Release();
  delete[] m_pName;
}

STDMETHODIMP_(ULONG) CBasePin::AddRef() { return m_pFilter->AddRef(); }
STDMETHODIMP_(ULONG) CBasePin::Release() { return m_pFilter->Release(); }

STDMETHODIMP CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IPin) || IsEqualIID(riid, IID_IUnknown)) return GetInterface(static_cast<IPin*>(this), ppv);
  if (IsEqualIID(riid, IID_IQualityControl)) return GetInterface(static_cast<IQualityControl*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT CBasePin::SetMediaType(const CMediaType* mt) {
  m_mt = *mt;
  return S_OK;
}

HRESULT CBasePin::GetMediaType(int position, CMediaType*) { return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS; }

HRESULT CBasePin::CheckConnect(IPin* pin) {
  PIN_DIRECTION dir;
  HRESULT hr = pin->QueryDirection(&dir);
  if (FAILED(hr)) return hr;
  return dir == m_dir ? VFW_E_INVALID_DIRECTION : S_OK;
}

void CBasePin::ClearConnection() {
  if (m_Connected) {
    m_Connected->Release();
    m_Connected = nullptr;
  }
}

HRESULT CBasePin::AttemptConnection(IPin* receive, const CMediaType* mt) {
  HRESULT hr = CheckConnect(receive);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  hr = CheckMediaType(mt);
  if (hr != S_OK) {
    BreakConnect();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  m_Connected = receive;
  m_Connected->AddRef();
  hr = SetMediaType(mt);
  if (SUCCEEDED(hr)) hr = receive->ReceiveConnection(static_cast<IPin*>(this), mt);
  if (SUCCEEDED(hr)) {
    hr = CompleteConnect(receive);
    if (SUCCEEDED(hr)) return hr;
    receive->Disconnect();
  }
  ClearConnection();
  BreakConnect();
  return hr;
}

HRESULT CBasePin::TryMediaTypes(IPin* receive, const CMediaType* partial, IEnumMediaTypes* e) {
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  e->Reset();
  for (;;) {
    AM_MEDIA_TYPE* t = nullptr;
    ULONG got = 0;
    if (e->Next(1, &t, &got) != S_OK || got != 1) break;
    CMediaType mt(*t);
    DeleteMediaType(t);
    if (partial && !mt.MatchesPartial(partial)) continue;
    HRESULT hr = AttemptConnection(receive, &mt);
    if (SUCCEEDED(hr)) return hr;
    last = hr;
  }
  return last;
}

HRESULT CBasePin::AgreeMediaType(IPin* receive, const CMediaType* partial) {
  if (partial && !partial->IsPartiallySpecified()) return AttemptConnection(receive, partial);
  HRESULT last = VFW_E_NO_ACCEPTABLE_TYPES;
  // Our own types first, then the peer's.
  for (int pass = 0; pass < 2; ++pass) {
    IEnumMediaTypes* e = nullptr;
    HRESULT hr = pass == 0 ? EnumMediaTypes(&e) : receive->EnumMediaTypes(&e);
    if (FAILED(hr) || !e) continue;
    hr = TryMediaTypes(receive, partial, e);
    e->Release();
    if (SUCCEEDED(hr)) return hr;
    last = hr;
  }
  return last;
}

STDMETHODIMP CBasePin::Connect(IPin* receive, const AM_MEDIA_TYPE* mt) {
  if (!receive) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  if (mt) {
    CMediaType partial(*mt);
    return AgreeMediaType(receive, &partial);
  }
  return AgreeMediaType(receive, nullptr);
}

STDMETHODIMP CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* pmt) {
  if (!connector || !pmt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (m_Connected) return VFW_E_ALREADY_CONNECTED;
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  HRESULT hr = CheckConnect(connector);
  if (FAILED(hr)) {
    BreakConnect();
    return hr;
  }
  CMediaType mt(*pmt);
  hr = CheckMediaType(&mt);
  if (hr != S_OK) {
    BreakConnect();
    return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  }
  m_Connected = connector;
  m_Connected->AddRef();
  hr = SetMediaType(&mt);
  if (SUCCEEDED(hr)) hr = CompleteConnect(connector);
  if (FAILED(hr)) {
    ClearConnection();
    BreakConnect();
  }
  return hr;
}

STDMETHODIMP CBasePin::Disconnect() {
  CAutoLock lock(m_pLock);
  if (!m_pFilter->IsStopped()) return VFW_E_NOT_STOPPED;
  if (!m_Connected) return S_FALSE;
  HRESULT hr = BreakConnect();
  if (FAILED(hr)) return hr;
  ClearConnection();
  m_mt.InitMediaType();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = m_Connected;
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  m_Connected->AddRef();
  return S_OK;
}

STDMETHODIMP CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_Connected) {
    ZeroMemory(mt, sizeof *mt);
    return VFW_E_NOT_CONNECTED;
  }
  return CopyMediaType(mt, &m_mt);
}

STDMETHODIMP CBasePin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = m_pFilter;
  if (m_pFilter) m_pFilter->AddRef();
  lstrcpynW(info->achName, m_pName, MAX_PIN_NAME);
  info->dir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryDirection(PIN_DIRECTION* dir) {
  if (!dir) return E_POINTER;
  *dir = m_dir;
  return S_OK;
}

STDMETHODIMP CBasePin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  size_t bytes = (wcslen(m_pName) + 1) * sizeof(WCHAR);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  memcpy(*id, m_pName, bytes);
  return S_OK;
}

STDMETHODIMP CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
  if (!pmt) return E_POINTER;
  CMediaType mt(*pmt);
  HRESULT hr = CheckMediaType(&mt);
  return SUCCEEDED(hr) && hr != S_FALSE ? S_OK : S_FALSE;
}

STDMETHODIMP CBasePin::EnumMediaTypes(IEnumMediaTypes** e) {
  if (!e) return E_POINTER;
  *e = new (std::nothrow) CEnumMediaTypes(this, 0);
  return *e ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBasePin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

STDMETHODIMP CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  m_tStart = start;
  m_tStop = stop;
  m_dRate = rate;
  return S_OK;
}

// ---- CBaseInputPin ----

CBaseInputPin::CBaseInputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr, LPCWSTR name)
    : CBasePin(objectName, filter, lock, hr, name, PINDIR_INPUT), m_pAllocator(nullptr), m_bReadOnly(FALSE),
      m_bFlushing(FALSE), m_bRunTimeError(FALSE), m_SampleProps() {}

CBaseInputPin::~CBaseInputPin() {
  if (m_pAllocator) m_pAllocator->Release();
}

STDMETHODIMP CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (ppv && IsEqualIID(riid, IID_IMemInputPin)) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
  return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  if (!m_pAllocator) {
    HRESULT hr = S_OK;
    auto* a = new (std::nothrow) CMemAllocator("input pin allocator", nullptr, &hr);
    if (!a) return E_OUTOFMEMORY;
    a->NonDelegatingAddRef();
    m_pAllocator = a;
  }
  *allocator = m_pAllocator;
  m_pAllocator->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
  if (!allocator) return E_POINTER;
  CAutoLock lock(m_pLock);
  allocator->AddRef();
  if (m_pAllocator) m_pAllocator->Release();
  m_pAllocator = allocator;
  m_bReadOnly = readOnly;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) { return E_NOTIMPL; }

HRESULT CBaseInputPin::CheckStreaming() {
  if (m_pFilter->IsStopped()) return VFW_E_WRONG_STATE;
  if (m_bFlushing) return S_FALSE;
  if (m_bRunTimeError) return VFW_E_RUNTIME_ERROR;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  HRESULT hr = CheckStreaming();
  if (hr != S_OK) return hr;
  IMediaSample2* s2 = nullptr;
  if (SUCCEEDED(sample->QueryInterface(IID_IMediaSample2, reinterpret_cast<void**>(&s2)))) {
    hr = s2->GetProperties(sizeof m_SampleProps, reinterpret_cast<BYTE*>(&m_SampleProps));
    s2->Release();
    if (FAILED(hr)) return hr;
  } else {
    ZeroMemory(&m_SampleProps, sizeof m_SampleProps);
    m_SampleProps.cbData = sizeof m_SampleProps;
    m_SampleProps.lActual = sample->GetActualDataLength();
    sample->GetPointer(&m_SampleProps.pbBuffer);
    m_SampleProps.cbBuffer = sample->GetSize();
  }
  return S_OK;
}

STDMETHODIMP CBaseInputPin::ReceiveMultiple(IMediaSample** samples, long n, long* processed) {
  if (!samples || !processed) return E_POINTER;
  HRESULT hr = S_OK;
  *processed = 0;
  while (n-- > 0) {
    hr = Receive(samples[*processed]);
    if (hr != S_OK) break;
    ++*processed;
  }
  return hr;
}

STDMETHODIMP CBaseInputPin::BeginFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = TRUE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndFlush() {
  CAutoLock lock(m_pLock);
  m_bFlushing = FALSE;
  m_bRunTimeError = FALSE;
  return S_OK;
}

STDMETHODIMP CBaseInputPin::EndOfStream() { return CheckStreaming(); }

HRESULT CBaseInputPin::BreakConnect() {
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
  m_bRunTimeError = FALSE;
  m_bFlushing = FALSE;
  return m_pAllocator ? m_pAllocator->Decommit() : VFW_E_NO_ALLOCATOR;
}

// ---- CBaseOutputPin ----

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritSec* lock, HRESULT* hr,
                               LPCWSTR name)
    : CBasePin(objectName, filter, lock, hr, name, PINDIR_OUTPUT), m_pAllocator(nullptr), m_pInputPin(nullptr) {}

CBaseOutputPin::~CBaseOutputPin() {
  if (m_pAllocator) m_pAllocator->Release();
  if (m_pInputPin) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pin) {
  HRESULT hr = CBasePin::CheckConnect(pin);
  if (FAILED(hr)) return hr;
  IMemInputPin* mem = nullptr;
  hr = pin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&mem));
  if (FAILED(hr)) return E_NOINTERFACE;
  if (m_pInputPin) m_pInputPin->Release();
  m_pInputPin = mem;
  return S_OK;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin*) {
  if (!m_pInputPin) return E_UNEXPECTED;
  return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::BreakConnect() {
  if (m_pAllocator) {
    m_pAllocator->Decommit();
    m_pAllocator->Release();
    m_pAllocator = nullptr;
  }
  if (m_pInputPin) {
    m_pInputPin->Release();
    m_pInputPin = nullptr;
  }
  return S_OK;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** allocator) {
  HRESULT hr = S_OK;
  auto* a = new (std::nothrow) CMemAllocator("output pin allocator", nullptr, &hr);
  if (!a) return E_OUTOFMEMORY;
  a->NonDelegatingAddRef();
  *allocator = a;
  return S_OK;
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pin, IMemAllocator** allocator) {
  *allocator = nullptr;
  ALLOCATOR_PROPERTIES props = {};
  pin->GetAllocatorRequirements(&props);
  if (props.cbAlign == 0) props.cbAlign = 1;
  // The downstream pin's allocator first, then one of our own.
  HRESULT hr = pin->GetAllocator(allocator);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*allocator, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*allocator, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  hr = InitAllocator(allocator);
  if (SUCCEEDED(hr)) {
    hr = DecideBufferSize(*allocator, &props);
    if (SUCCEEDED(hr)) {
      hr = pin->NotifyAllocator(*allocator, FALSE);
      if (SUCCEEDED(hr)) return S_OK;
    }
  }
  if (*allocator) {
    (*allocator)->Release();
    *allocator = nullptr;
  }
  return hr;
}

HRESULT CBaseOutputPin::Active() { return m_pAllocator ? m_pAllocator->Commit() : VFW_E_NO_ALLOCATOR; }
HRESULT CBaseOutputPin::Inactive() { return m_pAllocator ? m_pAllocator->Decommit() : VFW_E_NO_ALLOCATOR; }

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                          DWORD flags) {
  if (!m_pAllocator) return VFW_E_NO_ALLOCATOR;
  return m_pAllocator->GetBuffer(sample, start, stop, flags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* sample) {
  if (!m_pInputPin) return VFW_E_NOT_CONNECTED;
  return m_pInputPin->Receive(sample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
  if (!m_Connected) return VFW_E_NOT_CONNECTED;
  return m_Connected->NewSegment(start, stop, rate);
}
