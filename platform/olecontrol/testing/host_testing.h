// For test programs that host a control as a container does: Wine's
// AtlAxWin host in a window of the test's own, an event sink that keeps
// every event with its arguments as text, connections to the control's
// connection points, and the message pump between steps.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "atl/owners.h"
#include "window/control_host.h"
#include "window/window.h"

// Runs the thread's messages for `ms` milliseconds.
void Pump(DWORD ms);

// A value as text (references followed; booleans "true"/"false").
std::wstring VariantText(const VARIANT& v);

// The event sink of a container for one event dispinterface.
class EventSink : public IDispatch {
 public:
  struct Event {
    DISPID id;
    std::vector<std::wstring> args;
    bool operator==(const Event&) const = default;
  };
  explicit EventSink(const IID& events) : events_(events) {}
  std::vector<Event> events;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* n) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override;

 private:
  IID events_;
  ULONG refs_ = 0;
};

// Connects a sink to one of the control's connection points for the life
// of the object.
class Connection {
 public:
  Connection(IUnknown* control, const IID& iid, IUnknown* sink);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  bool Connected() const { return cookie_ != 0; }

 private:
  atl::ComPtr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

// A container window painted in its own colour, with the window layer's
// host (Wine's AtlAxWin) as a child that creates the control by its ProgID.
class Container {
 public:
  Container(const wchar_t* progId, const RECT& frame, const RECT& host, COLORREF colour);
  ~Container();
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  IDispatch* Dispatch() const { return dispatch_.Get(); }
  IUnknown* Control() const { return host_.Control(); }
  HWND Frame() const { return frame_.Handle(); }
  HWND Host() const { return host_.Handle(); }
  HWND ControlWindow() const { return host_.ControlWindow(); }

 private:
  COLORREF colour_;
  win::Window frame_;
  win::ControlHost host_;
  atl::ComPtr<IDispatch> dispatch_;
};

// Waits on a thread of its own (for `ms` at most) for a window of this
// title, as a user would, and closes it with IDOK: for modal dialogs.
class DialogCloser {
 public:
  DialogCloser(const wchar_t* title, DWORD ms);
  ~DialogCloser() { Join(); }
  DialogCloser(const DialogCloser&) = delete;
  DialogCloser& operator=(const DialogCloser&) = delete;
  // Waits for the thread; true when the window was shown.
  bool Seen() {
    Join();
    return seen_;
  }

 private:
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::atomic<bool> seen_{false};
  std::thread thread_;
};
