#include "window/window.h"

namespace win {

Window::~Window() { Destroy(); }

bool Window::Create(const wchar_t* className, DWORD style, DWORD exStyle, HWND parent, const RECT& rect,
                    const wchar_t* title, UINT_PTR id) {
  HINSTANCE instance = nullptr;
  // The class belongs to the module this code is linked into, so a DLL's
  // windows go with it.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&Window::Procedure), &instance);
  WNDCLASSEXW known = {};
  known.cbSize = sizeof(known);
  if (!GetClassInfoExW(instance, className, &known)) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof(wc);
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = &Window::Procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = className;
    if (!RegisterClassExW(&wc)) return false;
  }
  HMENU menuOrId = (style & WS_CHILD) ? reinterpret_cast<HMENU>(id) : nullptr;
  return CreateWindowExW(exStyle, className, title, style, rect.left, rect.top, rect.right - rect.left,
                         rect.bottom - rect.top, parent, menuOrId, instance, this) != nullptr;
}

void Window::Destroy() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void Window::OnCommand(UINT id, std::function<void()> run, std::function<bool()> enabled) {
  commands_[id] = Command{std::move(run), std::move(enabled)};
}

bool Window::CommandEnabled(UINT id) const {
  auto it = commands_.find(id);
  if (it == commands_.end()) return false;
  return !it->second.enabled || it->second.enabled();
}

void Window::UpdateMenu(HMENU menu) const {
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    UINT id = GetMenuItemID(menu, i);
    if (id == static_cast<UINT>(-1) || id == 0) continue;  // a submenu or a separator
    EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | (CommandEnabled(id) ? MF_ENABLED : MF_GRAYED));
  }
}

bool Window::StartTimer(UINT_PTR id, UINT ms, std::function<void()> run) {
  if (!hwnd_ || !SetTimer(hwnd_, id, ms, nullptr)) return false;
  timers_[id] = std::move(run);
  return true;
}

void Window::StopTimer(UINT_PTR id) {
  if (hwnd_) KillTimer(hwnd_, id);
  timers_.erase(id);
}

// Commands, timers, owner drawing and menu enabling go to their own tables
// before the message handlers are asked.
LRESULT Window::Builtin(UINT message, WPARAM wParam, LPARAM lParam, bool* handled) {
  *handled = false;
  switch (message) {
    case WM_COMMAND: {
      auto it = commands_.find(LOWORD(wParam));
      if (it == commands_.end()) return 0;
      *handled = true;
      if (CommandEnabled(LOWORD(wParam))) it->second.run();
      return 0;
    }
    case WM_TIMER: {
      auto it = timers_.find(wParam);
      if (it == timers_.end()) return 0;
      *handled = true;
      auto run = it->second;  // the handler may stop its own timer
      run();
      return 0;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      auto it = item ? drawers_.find(item->CtlID) : drawers_.end();
      if (it == drawers_.end()) return 0;
      *handled = true;
      it->second(*item);
      return TRUE;
    }
    case WM_INITMENUPOPUP:
      UpdateMenu(reinterpret_cast<HMENU>(wParam));
      return 0;  // the handler table may still want it
    default:
      return 0;
  }
}

LRESULT Window::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  bool handled = false;
  LRESULT result = Builtin(message, wParam, lParam, &handled);
  if (handled) return result;
  auto it = handlers_.find(message);
  if (it != handlers_.end()) return it->second(wParam, lParam);
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT CALLBACK Window::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!self && message == WM_NCCREATE) {
    self = static_cast<Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    LRESULT result = self->Dispatch(message, wParam, lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    for (const auto& timer : self->timers_) KillTimer(hwnd, timer.first);
    self->timers_.clear();
    self->hwnd_ = nullptr;
    self->OnFinalMessage();
    return result;
  }
  return self->Dispatch(message, wParam, lParam);
}

void ShowPopupMenu(HMENU menu, HWND owner, POINT screen) {
  // The owner must be foreground, or the menu does not close when the user
  // clicks elsewhere.
  SetForegroundWindow(owner);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, owner, nullptr);
  PostMessageW(owner, WM_NULL, 0, 0);
}

}  // namespace win
