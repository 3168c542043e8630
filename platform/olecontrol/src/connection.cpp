#include "olecontrol/connection.h"

#include "olecontrol/control.h"

namespace olectl {

std::vector<atl::ComPtr<IUnknown>> ConnectionPoint::Sinks() const {
  std::vector<atl::ComPtr<IUnknown>> live;
  for (const auto& sink : sinks_)
    if (sink) live.push_back(sink);
  return live;
}

STDMETHODIMP ConnectionPoint::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IConnectionPoint)) {
    *out = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP ConnectionPoint::GetConnectionInterface(IID* out) {
  Trace("IConnectionPoint::GetConnectionInterface");
  if (!out) return E_POINTER;
  *out = iid_;
  return S_OK;
}

STDMETHODIMP ConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** out) {
  if (!out) return E_POINTER;
  return owner_->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(out));
}

STDMETHODIMP ConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
  Trace("IConnectionPoint::Advise");
  if (!sink || !cookie) return E_POINTER;
  *cookie = 0;
  atl::ComPtr<IUnknown> held;
  if (FAILED(sink->QueryInterface(iid_, held.OutVoid())) &&
      (IsEqualIID(iid_, IID_IPropertyNotifySink) || FAILED(sink->QueryInterface(IID_IDispatch, held.OutVoid()))))
    return CONNECT_E_CANNOTCONNECT;
  for (size_t i = 0; i < sinks_.size(); ++i)
    if (!sinks_[i]) {
      sinks_[i] = held;
      *cookie = static_cast<DWORD>(i + 1);
      return S_OK;
    }
  sinks_.push_back(held);
  *cookie = static_cast<DWORD>(sinks_.size());
  return S_OK;
}

STDMETHODIMP ConnectionPoint::Unadvise(DWORD cookie) {
  Trace("IConnectionPoint::Unadvise");
  if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return CONNECT_E_NOCONNECTION;
  sinks_[cookie - 1].Reset();
  return S_OK;
}

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  Trace("IConnectionPoint::EnumConnections");
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

}  // namespace olectl
