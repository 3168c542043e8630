#include "appframe/event_sink.h"

#include <new>

namespace appf {

namespace {

volatile LONG g_alive = 0;

VARIANT Converted(const VARIANT& from, VARTYPE type) {
  VARIANT v;
  VariantInit(&v);
  VariantChangeType(&v, const_cast<VARIANT*>(&from), 0, type);
  return v;
}

}  // namespace

const VARIANT& EventArgs::At(UINT index) const {
  static const VARIANT kEmpty = {};
  if (index >= params_.cArgs) return kEmpty;
  const VARIANT& v = params_.rgvarg[params_.cArgs - 1 - index];
  if (V_VT(&v) == (VT_VARIANT | VT_BYREF) && V_VARIANTREF(&v)) return *V_VARIANTREF(&v);
  return v;
}

SHORT EventArgs::Short(UINT index) const {
  VARIANT v = Converted(At(index), VT_I2);
  return V_I2(&v);
}
LONG EventArgs::Long(UINT index) const {
  VARIANT v = Converted(At(index), VT_I4);
  return V_I4(&v);
}
float EventArgs::Float(UINT index) const {
  VARIANT v = Converted(At(index), VT_R4);
  return V_R4(&v);
}
bool EventArgs::Bool(UINT index) const {
  VARIANT v = Converted(At(index), VT_BOOL);
  return V_BOOL(&v) != VARIANT_FALSE;
}

std::wstring EventArgs::Text(UINT index) const {
  VARIANT v = Converted(At(index), VT_BSTR);
  std::wstring text = V_VT(&v) == VT_BSTR && V_BSTR(&v) ? std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v))) : L"";
  VariantClear(&v);
  return text;
}

EventSink::EventSink() : thread_(GetCurrentThreadId()) { InterlockedIncrement(&g_alive); }
EventSink::~EventSink() { InterlockedDecrement(&g_alive); }

atl::ComPtr<EventSink> EventSink::Create() {
  atl::ComPtr<EventSink> sink;
  sink.Attach(new (std::nothrow) EventSink());
  return sink;
}

LONG EventSink::Alive() { return g_alive; }

HRESULT EventSink::Advise(IUnknown* source, const IID& events) {
  Disconnect();
  if (!source) return E_POINTER;
  atl::ComPtr<IConnectionPointContainer> container;
  HRESULT hr = source->QueryInterface(IID_IConnectionPointContainer, container.OutVoid());
  if (FAILED(hr)) return hr;
  hr = container->FindConnectionPoint(events, point_.Out());
  if (FAILED(hr)) return hr;
  events_ = events;
  hr = point_->Advise(static_cast<IDispatch*>(this), &cookie_);
  if (FAILED(hr)) {
    point_.Reset();
    cookie_ = 0;
  }
  return hr;
}

void EventSink::Disconnect() {
  if (point_ && cookie_) point_->Unadvise(cookie_);
  point_.Reset();
  cookie_ = 0;
}

void EventSink::Unadvise() {
  Disconnect();
  handlers_.clear();
}

STDMETHODIMP EventSink::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      (!IsEqualIID(events_, IID_NULL) && IsEqualIID(iid, events_))) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) EventSink::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) EventSink::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                               UINT*) {
  if (GetCurrentThreadId() != thread_) return RPC_E_WRONG_THREAD;
  if (result) VariantInit(result);
  auto it = handlers_.find(id);
  if (it == handlers_.end()) return S_OK;  // an event nobody listens to
  static const DISPPARAMS kNone = {nullptr, nullptr, 0, 0};
  Handler handler = it->second;  // the handler may unadvise this sink
  AddRef();
  handler(EventArgs(params ? *params : kNone));
  Release();
  return S_OK;
}

}  // namespace appf
