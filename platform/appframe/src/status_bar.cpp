#include "appframe/status_bar.h"

#include <commctrl.h>

namespace appf {

bool StatusBar::Create(HWND parent, const std::vector<int>& widths, UINT id) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES};
  InitCommonControlsEx(&controls);
  hwnd_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_BOTTOM, 0, 0, 0, 0, parent,
                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  return hwnd_ && SetPanes(widths);
}

bool StatusBar::SetPanes(const std::vector<int>& widths) {
  if (!hwnd_ || widths.empty() || widths.size() > 255) return false;
  std::vector<int> edges;
  int right = 0;
  for (int w : widths) {
    right = w < 0 ? -1 : right + w;
    edges.push_back(right);
    if (right < 0) break;  // a stretching pane is the last
  }
  widths_.assign(widths.begin(), widths.begin() + static_cast<std::ptrdiff_t>(edges.size()));
  commands_.resize(edges.size());
  return SendMessageW(hwnd_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data())) != 0;
}

bool StatusBar::SetText(size_t pane, const std::wstring& text) {
  if (!hwnd_ || pane >= widths_.size()) return false;
  return SendMessageW(hwnd_, SB_SETTEXTW, pane, reinterpret_cast<LPARAM>(text.c_str())) != 0;
}

std::wstring StatusBar::Text(size_t pane) const {
  if (!hwnd_ || pane >= widths_.size()) return std::wstring();
  LRESULT info = SendMessageW(hwnd_, SB_GETTEXTLENGTHW, pane, 0);
  std::wstring text(LOWORD(info) + 1, L'\0');
  SendMessageW(hwnd_, SB_GETTEXTW, pane, reinterpret_cast<LPARAM>(text.data()));
  text.resize(LOWORD(info));
  return text;
}

void StatusBar::SetPaneCommand(size_t pane, UINT id) {
  if (pane < commands_.size()) commands_[pane] = id;
}

void StatusBar::Layout() {
  if (hwnd_) SendMessageW(hwnd_, WM_SIZE, 0, 0);
}

int StatusBar::Height() const {
  if (!hwnd_) return 0;
  RECT r;
  GetWindowRect(hwnd_, &r);
  return r.bottom - r.top;
}

}  // namespace appf
