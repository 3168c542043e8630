#include "window/window.h"

namespace win {

Window::~Window() { Destroy(); }

HINSTANCE Window::ClassModule() {
  HINSTANCE instance = nullptr;
  // The class belongs to the module this code is linked into, so a DLL's
  // windows go with it.
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&Window::Procedure), &instance);
  return instance;
}

bool Window::Create(const wchar_t* className, DWORD style, DWORD exStyle, HWND parent, const RECT& rect,
                    const wchar_t* title, UINT_PTR id) {
  HINSTANCE instance = ClassModule();
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

bool Window::CreateFromTemplate(HINSTANCE module, const wchar_t* templateName, HWND parent) {
  return CreateDialogParamW(module, templateName, parent, &Window::DialogProcedure,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
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

bool Window::Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  bool handled = false;
  *result = Builtin(message, wParam, lParam, &handled);
  if (handled) return true;
  auto it = handlers_.find(message);
  if (it == handlers_.end()) return false;
  *result = it->second(wParam, lParam);
  return true;
}

LRESULT Window::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (Handle(message, wParam, lParam, &result)) return result;
  return DefWindowProcW(hwnd_, message, wParam, lParam);
}

// The window is going: its timers stop and the object lets go of it.
void Window::Forget() {
  for (const auto& timer : timers_) KillTimer(hwnd_, timer.first);
  timers_.clear();
  hwnd_ = nullptr;
  OnFinalMessage();
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
    self->Forget();
    return result;
  }
  return self->Dispatch(message, wParam, lParam);
}

INT_PTR CALLBACK Window::DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, DWLP_USER));
  if (!self && message == WM_INITDIALOG) {
    self = reinterpret_cast<Window*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
  }
  if (!self) return FALSE;
  LRESULT result = 0;
  bool handled = self->Handle(message, wParam, lParam, &result);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    self->Forget();
    return FALSE;
  }
  if (!handled) return message == WM_INITDIALOG;  // the dialog manager sets the focus
  switch (message) {
    // These answer through the procedure's own result.
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
      return static_cast<INT_PTR>(result);
    default:
      SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
      return TRUE;
  }
}

void ShowPopupMenu(HMENU menu, HWND owner, POINT screen) {
  // The owner must be foreground, or the menu does not close when the user
  // clicks elsewhere.
  SetForegroundWindow(owner);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, screen.x, screen.y, 0, owner, nullptr);
  PostMessageW(owner, WM_NULL, 0, 0);
}

}  // namespace win
