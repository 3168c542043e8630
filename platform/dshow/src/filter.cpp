// The base filter: state, clock, graph membership, events and pin lookup.
#include <evcode.h>

#include <cwchar>
#include <new>

#include "dshow/base.h"

namespace {


// Enumerates a filter's pins; holds a reference on the filter.
class CEnumPins : public CSingleInterface<IEnumPins, &IID_IEnumPins> {
 public:
  CEnumPins(CBaseFilter* filter, ULONG position)
      : CSingleInterface("CEnumPins"), m_pFilter(filter), m_pos(position), m_version(filter->GetPinVersion()) {
    m_pFilter->AddRef();
  }
  ~CEnumPins() override { m_pFilter->Release(); }
  STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
    if (!pins || (count > 1 && !fetched)) return E_POINTER;
    if (m_version != m_pFilter->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG got = 0;
    while (got < count && static_cast<int>(m_pos) < m_pFilter->GetPinCount()) {
      CBasePin* pin = m_pFilter->GetPin(static_cast<int>(m_pos++));
      if (!pin) break;
      pins[got] = pin;
      pin->AddRef();
      ++got;
    }
    if (fetched) *fetched = got;
    return got == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    if (m_version != m_pFilter->GetPinVersion()) return VFW_E_ENUM_OUT_OF_SYNC;
    ULONG total = static_cast<ULONG>(m_pFilter->GetPinCount());
    if (m_pos + count > total) {
      m_pos = total;
      return S_FALSE;
    }
    m_pos += count;
    return S_OK;
  }
  STDMETHODIMP Reset() override {
    m_version = m_pFilter->GetPinVersion();
    m_pos = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumPins** e) override {
    if (!e) return E_POINTER;
    *e = new CEnumPins(m_pFilter, m_pos);
    return S_OK;
  }

 private:
  CBaseFilter* m_pFilter;
  ULONG m_pos;
  LONG m_version;
};

}  // namespace

CBaseFilter::CBaseFilter(const char* name, LPUNKNOWN outer, CCritSec* lock, REFCLSID clsid)
    : CUnknown(name, outer), m_State(State_Stopped), m_pClock(nullptr), m_tStart(0), m_clsid(clsid),
      m_pLock(lock), m_pName(nullptr), m_pGraph(nullptr), m_pSink(nullptr), m_PinVersion(1) {}

CBaseFilter::~CBaseFilter() {
  delete[] m_pName;
  if (m_pClock) m_pClock->Release();
}

STDMETHODIMP CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IBaseFilter) || IsEqualIID(riid, IID_IMediaFilter) || IsEqualIID(riid, IID_IPersist)) {
    return GetInterface(static_cast<IBaseFilter*>(this), ppv);
  }
  if (IsEqualIID(riid, IID_IAMovieSetup)) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP CBaseFilter::GetClassID(CLSID* clsid) {
  if (!clsid) return E_POINTER;
  *clsid = m_clsid;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Stop() {
  CAutoLock lock(m_pLock);
  HRESULT hr = S_OK;
  if (m_State != State_Stopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      CBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        HRESULT h = pin->Inactive();
        if (FAILED(h) && SUCCEEDED(hr)) hr = h;
      }
    }
  }
  m_State = State_Stopped;
  return hr;
}

STDMETHODIMP CBaseFilter::Pause() {
  CAutoLock lock(m_pLock);
  if (m_State == State_Stopped) {
    for (int i = 0; i < GetPinCount(); ++i) {
      CBasePin* pin = GetPin(i);
      if (pin && pin->IsConnected()) {
        HRESULT hr = pin->Active();
        if (FAILED(hr)) return hr;
      }
    }
  }
  m_State = State_Paused;
  return S_OK;
}

STDMETHODIMP CBaseFilter::Run(REFERENCE_TIME start) {
  CAutoLock lock(m_pLock);
  m_tStart = start;
  if (m_State == State_Stopped) {
    HRESULT hr = Pause();
    if (FAILED(hr)) return hr;
  }
  m_State = State_Running;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
  if (!state) return E_POINTER;
  *state = m_State;
  return S_OK;
}

STDMETHODIMP CBaseFilter::SetSyncSource(IReferenceClock* clock) {
  CAutoLock lock(m_pLock);
  if (clock) clock->AddRef();
  if (m_pClock) m_pClock->Release();
  m_pClock = clock;
  return S_OK;
}

STDMETHODIMP CBaseFilter::GetSyncSource(IReferenceClock** clock) {
  if (!clock) return E_POINTER;
  CAutoLock lock(m_pLock);
  *clock = m_pClock;
  if (m_pClock) m_pClock->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::EnumPins(IEnumPins** e) {
  if (!e) return E_POINTER;
  *e = new (std::nothrow) CEnumPins(this, 0);
  return *e ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CBaseFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!pin || !id) return E_POINTER;
  CAutoLock lock(m_pLock);
  for (int i = 0; i < GetPinCount(); ++i) {
    CBasePin* p = GetPin(i);
    if (p && p->Name() && wcscmp(p->Name(), id) == 0) {
      *pin = p;
      p->AddRef();
      return S_OK;
    }
  }
  *pin = nullptr;
  return VFW_E_NOT_FOUND;
}

STDMETHODIMP CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  ZeroMemory(info, sizeof *info);
  if (m_pName) lstrcpynW(info->achName, m_pName, MAX_FILTER_NAME);
  info->pGraph = m_pGraph;
  if (m_pGraph) m_pGraph->AddRef();
  return S_OK;
}

STDMETHODIMP CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
  CAutoLock lock(m_pLock);
  m_pGraph = graph;
  m_pSink = nullptr;
  if (graph) {
    // Weak like the graph pointer: the graph outlives its filters' membership.
    if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&m_pSink)))) {
      m_pSink->Release();
    } else {
      m_pSink = nullptr;
    }
  }
  delete[] m_pName;
  m_pName = name ? CopyWideString(name) : nullptr;
  return S_OK;
}

STDMETHODIMP CBaseFilter::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }

HRESULT CBaseFilter::NotifyEvent(long code, LONG_PTR p1, LONG_PTR p2) {
  IMediaEventSink* sink = m_pSink;
  if (!sink) return E_NOTIMPL;
  if (code == EC_COMPLETE) p2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
  return sink->Notify(code, p1, p2);
}

// Registration belongs to the DLL's templates (AMovieDllRegisterServer2).
STDMETHODIMP CBaseFilter::Register() { return GetSetupData() ? AMovieDllRegisterServer2(TRUE) : S_FALSE; }
STDMETHODIMP CBaseFilter::Unregister() { return GetSetupData() ? AMovieDllRegisterServer2(FALSE) : S_FALSE; }
