// A sink for a control's events: an IDispatch advised on the control's
// connection point for its event interface, with one handler per dispatch
// id. Handlers run on the thread that made the sink (the user-interface
// thread); a call from any other thread is refused. Unadvise drops the
// handlers, so a late event after the owner went runs nothing.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <functional>
#include <map>
#include <string>

#include "atl/owners.h"

namespace appf {

// The arguments of one event in the order the event declares them.
class EventArgs {
 public:
  explicit EventArgs(const DISPPARAMS& params) : params_(params) {}
  UINT Count() const { return params_.cArgs; }
  // The argument itself (a reference is followed).
  const VARIANT& At(UINT index) const;
  SHORT Short(UINT index) const;
  LONG Long(UINT index) const;
  float Float(UINT index) const;
  bool Bool(UINT index) const;
  std::wstring Text(UINT index) const;

 private:
  const DISPPARAMS& params_;
};

class EventSink : public IDispatch {
 public:
  using Handler = std::function<void(const EventArgs&)>;

  // A new sink with one reference, the caller's.
  static atl::ComPtr<EventSink> Create();
  // Sinks alive in the process.
  static LONG Alive();

  void On(DISPID id, Handler handler) { handlers_[id] = std::move(handler); }
  // Connects to `source`'s connection point for `events` (handlers may be
  // added before or after).
  HRESULT Advise(IUnknown* source, const IID& events);
  void Unadvise();
  bool Advised() const { return cookie_ != 0; }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT*) override;

 private:
  EventSink();
  virtual ~EventSink();
  void Disconnect();

  volatile LONG refs_ = 1;
  DWORD thread_;
  IID events_ = IID_NULL;
  atl::ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
  std::map<DISPID, Handler> handlers_;
};

}  // namespace appf
