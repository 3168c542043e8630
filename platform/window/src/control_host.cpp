#include "window/control_host.h"

namespace win {

namespace {

using AtlAxWinInitFn = BOOL(WINAPI*)();
using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);

// atl.dll stays loaded for the process: its window class must outlive
// every host window.
AtlAxGetControlFn HostLibrary() {
  static AtlAxGetControlFn getControl = [] () -> AtlAxGetControlFn {
    HMODULE atl = LoadLibraryW(L"atl.dll");
    if (!atl) return nullptr;
    auto init = reinterpret_cast<AtlAxWinInitFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    auto get = reinterpret_cast<AtlAxGetControlFn>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxGetControl")));
    if (!init || !get || !init()) return nullptr;
    return get;
  }();
  return getControl;
}

}  // namespace

bool EnableControlHosting() { return HostLibrary() != nullptr; }

HRESULT HostedControl(HWND host, IUnknown** control) {
  if (!control) return E_POINTER;
  *control = nullptr;
  AtlAxGetControlFn getControl = HostLibrary();
  if (!getControl) return REGDB_E_CLASSNOTREG;
  if (!host) return E_INVALIDARG;
  HRESULT hr = getControl(host, control);
  if (SUCCEEDED(hr) && !*control) hr = E_NOINTERFACE;
  return hr;
}

bool ControlHost::Create(HWND parent, const RECT& rect, const wchar_t* progId, UINT_PTR id) {
  Destroy();
  AtlAxGetControlFn getControl = HostLibrary();
  if (!getControl) return false;
  hwnd_ = CreateWindowExW(0, L"AtlAxWin", progId, WS_CHILD | WS_VISIBLE, rect.left, rect.top,
                          rect.right - rect.left, rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(id),
                          GetModuleHandleW(nullptr), nullptr);
  if (!hwnd_) return false;
  if (FAILED(getControl(hwnd_, &control_)) || !control_) {
    Destroy();
    return false;
  }
  return true;
}

void ControlHost::Destroy() {
  if (control_) control_->Release();
  control_ = nullptr;
  if (hwnd_) DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

}  // namespace win
