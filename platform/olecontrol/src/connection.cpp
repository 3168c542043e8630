#include "olecontrol/connection.h"

#include "olecontrol/control.h"

#include <new>
#include <utility>

#include "atl/module.h"

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

namespace {

// A snapshot of the connections when it was made, each sink with its
// reference; it keeps the module loaded while it lives.
class ConnectionList : public IEnumConnections {
 public:
  ConnectionList(std::vector<CONNECTDATA> items, size_t at) : items_(std::move(items)), at_(at) {
    for (CONNECTDATA& c : items_) c.pUnk->AddRef();
    atl::CurrentModule().AddObject();
  }
  virtual ~ConnectionList() {
    for (CONNECTDATA& c : items_) c.pUnk->Release();
    atl::CurrentModule().RemoveObject();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumConnections)) {
      *out = static_cast<IEnumConnections*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return static_cast<ULONG>(n);
  }
  STDMETHODIMP Next(ULONG count, CONNECTDATA* out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    for (; n < count && at_ < items_.size(); ++n, ++at_) {
      out[n] = items_[at_];
      out[n].pUnk->AddRef();  // the caller's
    }
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) override {
    size_t left = items_.size() - at_;
    at_ += count < left ? count : left;
    return count <= left ? S_OK : S_FALSE;
  }
  STDMETHODIMP Reset() override {
    at_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnumConnections** out) override {
    if (!out) return E_POINTER;
    *out = new (std::nothrow) ConnectionList(items_, at_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  volatile LONG refs_ = 1;
  std::vector<CONNECTDATA> items_;
  size_t at_;
};

}  // namespace

STDMETHODIMP ConnectionPoint::EnumConnections(IEnumConnections** out) {
  Trace("IConnectionPoint::EnumConnections");
  if (!out) return E_POINTER;
  std::vector<CONNECTDATA> items;
  for (size_t i = 0; i < sinks_.size(); ++i)
    if (sinks_[i]) items.push_back(CONNECTDATA{sinks_[i].Get(), static_cast<DWORD>(i + 1)});
  *out = new (std::nothrow) ConnectionList(std::move(items), 0);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace olectl
