#include "dialog_driver.h"

#include <commctrl.h>

#include <vector>

namespace dlgtest {

namespace {

constexpr DWORD kSendMs = 5000;

std::wstring WindowText(HWND window) {
  // No message: the window's thread may be busy in a modal loop of its own.
  wchar_t text[512] = L"";
  InternalGetWindowText(window, text, 512);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128] = L"";
  GetClassNameW(window, name, 128);
  return name;
}

bool Ours(HWND window) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  return process == GetCurrentProcessId();
}

BOOL CALLBACK AddShownOfOurs(HWND w, LPARAM list) {
  if (Ours(w) && IsWindowVisible(w)) reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

BOOL CALLBACK AddWindow(HWND w, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(w);
  return TRUE;
}

std::vector<HWND> TopWindows() {
  std::vector<HWND> found;
  EnumWindows(&AddShownOfOurs, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::vector<HWND> Descendants(HWND window) {
  std::vector<HWND> found;
  EnumChildWindows(window, &AddWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

void PostClick(HWND window, POINT at) {
  LPARAM where = MAKELPARAM(at.x, at.y);
  PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, where);
  PostMessageW(window, WM_LBUTTONUP, 0, where);
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD ms) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= ms) return false;
    Sleep(10);
  }
}

HWND WaitForWindow(const std::wstring& caption, DWORD ms) {
  HWND found = nullptr;
  WaitFor(
      [&] {
        for (HWND w : TopWindows())
          if (WindowText(w) == caption) found = w;
        return found != nullptr;
      },
      ms);
  return found;
}

bool WaitUntilGone(HWND window, DWORD ms) {
  return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, ms);
}

HWND Find(HWND window, int id) {
  // The window's own control first: deeper windows (a list view inside a
  // file dialog, say) may reuse its ids.
  HWND own = GetDlgItem(window, id);
  if (own && IsWindowVisible(own)) return own;
  HWND hidden = nullptr;
  for (HWND w : Descendants(window)) {
    if (GetDlgCtrlID(w) != id) continue;
    // A control on a page that is not shown counts only when no shown
    // one has the id.
    if (IsWindowVisible(w)) return w;
    if (!hidden) hidden = w;
  }
  return hidden;
}

std::wstring Text(HWND control) {
  if (!control) return L"";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, kSendMs, &length)) return L"";
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, kSendMs, &got);
  text.resize(static_cast<size_t>(got));
  return text;
}

std::wstring Text(HWND window, int id) { return Text(Find(window, id)); }

std::wstring MessageText(HWND box) {
  std::wstring text;
  for (HWND w : Descendants(box)) {
    if (ClassOf(w) != L"Static" || (GetWindowLongPtrW(w, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) continue;
    std::wstring part = WindowText(w);
    if (part.empty()) continue;
    if (!text.empty()) text += L"\n";
    text += part;
  }
  return text;
}

int CheckState(HWND window, int id) {
  DWORD_PTR state = 0;
  SendMessageTimeoutW(Find(window, id), BM_GETCHECK, 0, 0, SMTO_NORMAL, kSendMs, &state);
  return static_cast<int>(state);
}

int Selection(HWND window, int id) {
  DWORD_PTR index = static_cast<DWORD_PTR>(CB_ERR);
  SendMessageTimeoutW(Find(window, id), CB_GETCURSEL, 0, 0, SMTO_NORMAL, kSendMs, &index);
  return static_cast<int>(static_cast<LRESULT>(index));
}

bool Enabled(HWND window, int id) {
  HWND control = Find(window, id);
  return control && IsWindowEnabled(control);
}

HWND Focused(HWND window) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

int FocusedId(HWND window) {
  HWND focus = Focused(window);
  return focus ? GetDlgCtrlID(focus) : 0;
}

bool Focus(HWND window, int id) {
  HWND control = Find(window, id);
  if (!control || !IsWindowEnabled(control)) return false;
  // The dialog the control sits in moves the focus, as a click would.
  HWND dialog = GetParent(control);
  while (dialog && ClassOf(dialog) != L"#32770") dialog = GetParent(dialog);
  if (dialog)
    PostMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
  else
    PostClick(control, POINT{2, 2});
  return WaitFor([&] {
    HWND focus = Focused(window);
    return focus == control || (focus && IsChild(control, focus));
  });
}

bool Type(HWND window, int id, const std::wstring& text) {
  if (!Focus(window, id)) return false;
  HWND target = Focused(window);
  PostMessageW(target, EM_SETSEL, 0, -1);
  PostMessageW(target, WM_KEYDOWN, VK_DELETE, 1);
  PostMessageW(target, WM_KEYUP, VK_DELETE, 0xC0000001);
  for (wchar_t c : text) PostMessageW(target, WM_CHAR, c, 1);
  return WaitFor([&] { return Text(target) == text; });
}

bool Press(HWND window, int id) {
  HWND control = Find(window, id);
  if (!control || !IsWindowEnabled(control)) return false;
  PostMessageW(control, BM_CLICK, 0, 0);
  return true;
}

void Key(HWND window, UINT vk) {
  GUITHREADINFO info = {};
  info.cbSize = sizeof(info);
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  HWND target = info.hwndFocus ? info.hwndFocus : info.hwndActive ? info.hwndActive : window;
  UINT scan = MapVirtualKeyW(vk, MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, vk, static_cast<LPARAM>(1 | (scan << 16)));
  PostMessageW(target, WM_KEYUP, vk, static_cast<LPARAM>(1 | (scan << 16) | 0xC0000000u));
}

bool Choose(HWND window, int id, int index) {
  if (!Focus(window, id)) return false;
  HWND combo = Find(window, id);
  PostMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  PostMessageW(GetParent(combo), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
  return true;
}

bool SpinClick(HWND window, int id, bool up) {
  HWND spin = Find(window, id);
  if (!spin || !IsWindowEnabled(spin)) return false;
  RECT r;
  GetClientRect(spin, &r);
  const bool horizontal = (GetWindowLongPtrW(spin, GWL_STYLE) & UDS_HORZ) != 0;
  POINT at = horizontal ? POINT{up ? r.right * 3 / 4 : r.right / 4, r.bottom / 2}
                        : POINT{r.right / 2, up ? r.bottom / 4 : r.bottom * 3 / 4};
  PostClick(spin, at);
  return true;
}

bool ClickTab(HWND tabs, int index) {
  RECT item = {};
  DWORD_PTR ok = 0;
  // One process: the tab strip's thread fills the rectangle in place.
  if (!SendMessageTimeoutW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item),
                           SMTO_NORMAL, kSendMs, &ok) ||
      !ok)
    return false;
  PostClick(tabs, POINT{(item.left + item.right) / 2, (item.top + item.bottom) / 2});
  return true;
}

namespace {

// Message boxes, dialogs, file dialogs and sheets: what a script opens.
std::vector<HWND> ModalWindows() {
  std::vector<HWND> found;
  for (HWND w : TopWindows())
    if (ClassOf(w) == L"#32770" || ClassOf(w) == L"KrPropertySheet") found.push_back(w);
  return found;
}

}  // namespace

void CloseLeftovers(DWORD ms) {
  // What the script's last step closes goes by itself first.
  if (WaitFor([] { return ModalWindows().empty(); }, 1000)) return;
  DWORD start = GetTickCount();
  for (;;) {
    std::vector<HWND> shown = ModalWindows();
    if (shown.empty() || GetTickCount() - start >= ms) return;
    // Only the enabled ones take input: a box first, then what it blocked.
    for (HWND w : shown)
      if (IsWindowEnabled(w)) PostMessageW(w, WM_CLOSE, 0, 0);
    Sleep(100);
  }
}

}  // namespace dlgtest
