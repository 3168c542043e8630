// A child window hosting an ActiveX control created by its ProgID, through
// the system's atl.dll host (window class AtlAxWin): what a program's
// window does to show a control.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace win {

// Loads atl.dll for the process and registers its host class (AtlAxWin), so
// that a dialog template may name it with a ProgID as the control's text.
bool EnableControlHosting();
// The control inside an AtlAxWin window, with a reference for the caller.
HRESULT HostedControl(HWND host, IUnknown** control);

class ControlHost {
 public:
  ControlHost() = default;
  ControlHost(const ControlHost&) = delete;
  ControlHost& operator=(const ControlHost&) = delete;
  ~ControlHost() { Destroy(); }

  // Creates the host window (child of `parent`, visible) and the control in
  // it. False when atl.dll, its host class or the control is missing.
  bool Create(HWND parent, const RECT& rect, const wchar_t* progId, UINT_PTR id = 0);
  // Releases the control and destroys the host (which closes the control).
  void Destroy();
  HWND Handle() const { return hwnd_; }
  // The control's IUnknown, held by this object (no reference added).
  IUnknown* Control() const { return control_; }
  // The control's own window, the host's child.
  HWND ControlWindow() const { return hwnd_ ? GetWindow(hwnd_, GW_CHILD) : nullptr; }

 private:
  HWND hwnd_ = nullptr;
  IUnknown* control_ = nullptr;
};

}  // namespace win
