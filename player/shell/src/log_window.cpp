#include "shell/log_window.h"

#include "shell/portable/message_text.h"
#include "shell/win_api_table.h"

namespace {

constexpr wchar_t kClass[] = L"QLTLog";

size_t Length(const char16_t* s) {
  size_t n = 0;
  while (s && s[n]) ++n;
  return n;
}

}  // namespace

ShellLogWindow::ShellLogWindow(HINSTANCE instance) {
  const WinApiTable& api = WinApi();
  WNDCLASSW wc = {};
  wc.lpfnWndProc = &ShellLogWindow::WndProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = kClass;
  // A second window of the same process finds the class already there.
  if (!api.RegisterClassW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return;
  instance_ = instance;
  window_ = api.CreateWindowExW(0, kClass, L"QLTLogWindow", 0x10CA0000, 0, 0, 400, 126, nullptr, nullptr,
                                instance, nullptr);
  if (window_) api.SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

ShellLogWindow::~ShellLogWindow() { Close(); }

void ShellLogWindow::Draw(HDC dc, int x, int y, const char16_t* text) {
  SetTextColor(dc, RGB(0, 0, 0));
  SetBkColor(dc, RGB(255, 255, 255));
  ExtTextOutW(dc, x, y, ETO_OPAQUE, nullptr, reinterpret_cast<LPCWSTR>(text), static_cast<UINT>(Length(text)),
              nullptr);
}

void ShellLogWindow::WriteLine(uint32_t x, uint32_t y, const char16_t* text) {
  if (!window_ || !text) return;
  if (HDC dc = GetDC(window_)) {
    Draw(dc, static_cast<int>(x), static_cast<int>(y), text);
    ReleaseDC(window_, dc);
  }
  const int row = shell::LogWindowRow(y);
  if (row < 0) return;
  size_t n = 0;
  for (; text[n] && n + 1 < kLineUnits; ++n) lines_[row][n] = text[n];
  lines_[row][n] = 0;
}

void ShellLogWindow::Repaint(HDC dc) {
  for (int row = 0; row < kRows; ++row) Draw(dc, 5, row * 14, lines_[row]);
}

uint32_t ShellLogWindow::Update() {
  if (!window_) return 0;
  InvalidateRect(window_, nullptr, TRUE);
  UpdateWindow(window_);
  return 1;
}

void ShellLogWindow::Close() {
  if (window_) {
    WinApi().SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  window_ = nullptr;
  instance_ = nullptr;
}

LRESULT CALLBACK ShellLogWindow::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const WinApiTable& api = WinApi();
  auto* self = reinterpret_cast<ShellLogWindow*>(api.GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(window, &ps);
      if (self) self->Repaint(dc);
      EndPaint(window, &ps);
      return 0;
    }
    case WM_CLOSE:
      // The object forgets the window it can no longer draw into.
      if (self) self->window_ = nullptr;
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
    case WM_ACTIVATE:
    case WM_COMMAND:
      return 0;
    default:
      return api.DefWindowProcW(window, message, wParam, lParam);
  }
}
