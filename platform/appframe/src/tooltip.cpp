#include "appframe/tooltip.h"

#include <commctrl.h>

namespace appf {

ToolTip::~ToolTip() {
  if (hwnd_) DestroyWindow(hwnd_);
}

void ToolTip::Fill(void* out) const {
  auto* info = static_cast<TOOLINFOW*>(out);
  *info = {};
  // The size common controls before version 6 know.
  info->cbSize = TTTOOLINFOW_V2_SIZE;
  info->uFlags = TTF_TRACK | TTF_ABSOLUTE;
  info->hwnd = owner_;
  info->uId = 1;
  info->lpszText = const_cast<wchar_t*>(text_.c_str());
}

bool ToolTip::Create(HWND owner) {
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  owner_ = owner;
  hwnd_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, 0, 0, 0,
                          0, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!hwnd_) return false;
  TOOLINFOW info;
  Fill(&info);
  return SendMessageW(hwnd_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info)) != FALSE;
}

void ToolTip::SetText(const std::wstring& text) {
  size_t end = text.find_last_not_of(L' ');
  text_ = end == std::wstring::npos ? std::wstring() : text.substr(0, end + 1);
  if (!hwnd_) return;
  TOOLINFOW info;
  Fill(&info);
  SendMessageW(hwnd_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void ToolTip::ShowAt(POINT screen) {
  if (!hwnd_) return;
  TOOLINFOW info;
  Fill(&info);
  SendMessageW(hwnd_, TTM_TRACKPOSITION, 0, MAKELPARAM(screen.x, screen.y));
  SendMessageW(hwnd_, TTM_TRACKACTIVATE, TRUE, reinterpret_cast<LPARAM>(&info));
}

void ToolTip::Hide() {
  if (!hwnd_) return;
  TOOLINFOW info;
  Fill(&info);
  SendMessageW(hwnd_, TTM_TRACKACTIVATE, FALSE, reinterpret_cast<LPARAM>(&info));
}

}  // namespace appf
