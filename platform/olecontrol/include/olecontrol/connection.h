// One connection point of a control: the sinks of one outgoing interface.
// It lives inside its control and counts its references there.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "atl/owners.h"

namespace olectl {

class ConnectionPoint : public IConnectionPoint {
 public:
  // `owner` is the control's IUnknown (and its IConnectionPointContainer).
  ConnectionPoint(IUnknown* owner, const IID& iid) : owner_(owner), iid_(iid) {}
  ConnectionPoint(const ConnectionPoint&) = delete;
  ConnectionPoint& operator=(const ConnectionPoint&) = delete;

  // The sinks connected now, each with a reference of the caller's, so a
  // sink may disconnect while it is being called.
  std::vector<atl::ComPtr<IUnknown>> Sinks() const;
  void DisconnectAll() { sinks_.clear(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return owner_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return owner_->Release(); }
  STDMETHODIMP GetConnectionInterface(IID* out) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override;
  // The sink is asked for the connection's interface; for an event
  // dispinterface plain IDispatch serves as well.
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections** out) override;

 private:
  IUnknown* owner_;
  const IID& iid_;
  std::vector<atl::ComPtr<IUnknown>> sinks_;  // cookie = index + 1; empty when unadvised
};

}  // namespace olectl
