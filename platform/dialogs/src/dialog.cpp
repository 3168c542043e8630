#include "dialogs/dialog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "window/gdi.h"

namespace dlg {

namespace {

// The property that ties a window made by this layer to its object.
const wchar_t kObjectProperty[] = L"KrDialogObject";

std::wstring FormatList(const wchar_t* format, va_list args) {
  std::vector<wchar_t> text(256);
  for (;;) {
    va_list copy;
    va_copy(copy, args);
    // The runtime's own wide printf: %s takes wide text, as the string
    // table's formats expect.
    int n = _vsnwprintf(text.data(), text.size(), format, copy);
    va_end(copy);
    if (n >= 0 && static_cast<size_t>(n) < text.size()) return std::wstring(text.data(), static_cast<size_t>(n));
    if (text.size() >= (1u << 20)) return std::wstring();
    text.resize(text.size() * 4);
  }
}

}  // namespace

std::wstring FormatString(const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatList(format, args);
  va_end(args);
  return text;
}

std::wstring FormatText(HINSTANCE module, UINT id, ...) {
  std::wstring format = win::LoadText(module, id);
  va_list args;
  va_start(args, id);
  std::wstring text = FormatList(format.c_str(), args);
  va_end(args);
  return text;
}

int MessageBoxText(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type) {
  return MessageBoxW(owner, text.c_str(), caption.c_str(), type);
}

int MessageBoxId(HWND owner, HINSTANCE module, UINT textId, UINT captionId, UINT type) {
  return MessageBoxText(owner, win::LoadText(module, textId), win::LoadText(module, captionId), type);
}

void CenterWindow(HWND window, HWND over) {
  RECT mine;
  GetWindowRect(window, &mine);
  HMONITOR monitor = MonitorFromWindow(over ? over : window, MONITOR_DEFAULTTONEAREST);
  MONITORINFO info = {};
  info.cbSize = sizeof(info);
  GetMonitorInfoW(monitor, &info);
  RECT area = info.rcWork;
  RECT target = area;
  if (over && IsWindowVisible(over) && !IsIconic(over)) GetWindowRect(over, &target);
  int width = mine.right - mine.left, height = mine.bottom - mine.top;
  int x = (target.left + target.right) / 2 - width / 2;
  int y = (target.top + target.bottom) / 2 - height / 2;
  if (x + width > area.right) x = area.right - width;
  if (y + height > area.bottom) y = area.bottom - height;
  if (x < area.left) x = area.left;
  if (y < area.top) y = area.top;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

// Offers a key to the dialog objects from the window it is for outwards.
bool OfferKey(HWND root, const MSG& m) {
  if (m.message != WM_KEYDOWN || !(m.hwnd == root || IsChild(root, m.hwnd))) return false;
  for (HWND w = m.hwnd; w; w = GetParent(w)) {
    DialogBase* dialog = DialogBase::FromHandle(w);
    if (dialog && dialog->PreTranslateKey(static_cast<UINT>(m.wParam))) return true;
    if (w == root) break;
  }
  if (m.wParam == VK_F1) {
    SendMessageW(root, WM_COMMAND, MAKEWPARAM(kHelpCommand, 0), 0);
    return true;
  }
  return false;
}

}  // namespace

void RunModalLoop(HWND root, const bool* ended) {
  while (!*ended && IsWindow(root)) {
    MSG m;
    BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(m.wParam));
      return;
    }
    if (got < 0) return;
    if (OfferKey(root, m)) continue;
    if (IsDialogMessageW(root, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
}

DialogBase::DialogBase(HINSTANCE module, UINT templateId) : module_(module), templateId_(templateId) {
  On(WM_INITDIALOG, [this](WPARAM, LPARAM) -> LRESULT {
    SetPropW(Handle(), kObjectProperty, this);
    return OnInitDialog() ? TRUE : FALSE;
  });
  On(WM_NCDESTROY, [this](WPARAM, LPARAM) -> LRESULT {
    RemovePropW(Handle(), kObjectProperty);
    return 0;
  });
  On(WM_COMMAND, [this](WPARAM w, LPARAM l) { return OnCommandMessage(w, l); });
  On(WM_NOTIFY, [this](WPARAM, LPARAM l) { return OnNotifyMessage(l); });
}

DialogBase* DialogBase::FromHandle(HWND window) {
  return window ? static_cast<DialogBase*>(GetPropW(window, kObjectProperty)) : nullptr;
}

bool DialogBase::CreateWindowFromTemplate(HWND parent) {
  return CreateFromTemplate(module_, MAKEINTRESOURCEW(templateId_), parent);
}

bool DialogBase::OnInitDialog() {
  UpdateData(false);
  return true;
}

bool DialogBase::UpdateData(bool save) {
  if (save) {
    DataExchange check(Handle(), true, false);
    DoDataExchange(check);
    if (check.Failed()) {
      FocusItem(check.Failure().controlId);
      OnExchangeFailed(check.Failure());
      // The message box took the focus; the user goes back to the value.
      FocusItem(check.Failure().controlId);
      return false;
    }
  }
  DataExchange dx(Handle(), save);
  DoDataExchange(dx);
  return true;
}

void DialogBase::OnExchangeFailed(const ExchangeFailure& failure) {
  MessageBoxText(Handle(), failure.Message(), L"Invalid Value", MB_OK | MB_ICONWARNING);
}

void DialogBase::FocusItem(int id) {
  HWND control = Item(id);
  if (!control) return;
  SetFocus(control);
  // An edit shows its whole text selected, as after a tab into it.
  if (SendMessageW(control, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) SendMessageW(control, EM_SETSEL, 0, -1);
}

int DialogBase::FocusedId() {
  HWND focus = GetFocus();
  return focus ? GetDlgCtrlID(focus) : 0;
}

void DialogBase::OnDeltaPos(int id, std::function<bool(const NMUPDOWN&)> allow) {
  OnNotify(id, UDN_DELTAPOS, [allow = std::move(allow)](NMHDR* header) -> LRESULT {
    // Nonzero keeps the up-down's position.
    return allow(*reinterpret_cast<NMUPDOWN*>(header)) ? 0 : 1;
  });
}

LRESULT DialogBase::OnCommandMessage(WPARAM wParam, LPARAM) {
  const int id = LOWORD(wParam);
  const WORD code = HIWORD(wParam);
  auto it = commands_.find({id, code});
  if (it != commands_.end()) {
    auto run = it->second;  // a handler may replace itself
    run();
    return 0;
  }
  OnCommandId(static_cast<WORD>(id), code);
  return 0;
}

LRESULT DialogBase::OnNotifyMessage(LPARAM lParam) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  auto it = notifies_.find({static_cast<int>(header->idFrom), header->code});
  if (it == notifies_.end()) return 0;
  auto run = it->second;
  return run(header);
}

INT_PTR Dialog::DoModal(HWND owner) {
  HWND top = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
  const bool ownerWasEnabled = top && IsWindowEnabled(top);
  ended_ = false;
  result_ = IDCANCEL;
  if (ownerWasEnabled) EnableWindow(top, FALSE);
  if (!CreateWindowFromTemplate(top)) {
    if (ownerWasEnabled) EnableWindow(top, TRUE);
    return -1;
  }
  HWND self = Handle();
  CenterWindow(self, top);
  if (!ended_) {
    ShowWindow(self, SW_SHOW);
    RunModalLoop(self, &ended_);
  }
  // The owner is enabled before the dialog goes, so that it gets the
  // activation back.
  if (ownerWasEnabled) EnableWindow(top, TRUE);
  if (IsWindow(self)) {
    if (top && GetActiveWindow() == self) SetActiveWindow(top);
    DestroyWindow(self);
  }
  return result_;
}

void Dialog::EndDialog(INT_PTR result) {
  result_ = result;
  ended_ = true;
  // Wakes the loop when the call came from outside its messages.
  if (Handle()) PostMessageW(Handle(), WM_NULL, 0, 0);
}

void Dialog::OnOK() {
  if (UpdateData(true)) EndDialog(IDOK);
}

bool Dialog::OnCommandId(WORD id, WORD) {
  switch (id) {
    case IDOK:
      OnOK();
      return true;
    case IDCANCEL:
      OnCancel();
      return true;
    case kHelpCommand:
      OnHelp(FocusedId());
      return true;
    default:
      return false;
  }
}

}  // namespace dlg
