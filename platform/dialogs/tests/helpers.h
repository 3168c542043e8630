// What the dialogs tests share: the test program's module, an owner
// window, and a log written on the dialog's thread and read by scripts.
#pragma once

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "window/window.h"

namespace dlgtests {

inline HINSTANCE TestModule() { return GetModuleHandleW(nullptr); }

inline POINT Centre(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

inline RECT WindowRect(HWND w) {
  RECT r = {};
  GetWindowRect(w, &r);
  return r;
}

// A shown top-level window that owns a test's dialogs.
class Owner {
 public:
  Owner() {
    window_.On(WM_ERASEBKGND, [this](WPARAM w, LPARAM) -> LRESULT {
      RECT r;
      GetClientRect(window_.Handle(), &r);
      FillRect(reinterpret_cast<HDC>(w), &r, GetSysColorBrush(COLOR_APPWORKSPACE));
      return 1;
    });
    window_.Create(L"KrDialogsTestOwner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, nullptr, RECT{100, 100, 740, 580},
                   L"Dialogs test owner");
  }
  HWND Handle() const { return window_.Handle(); }

 private:
  win::Window window_;
};

class Log {
 public:
  void Add(std::wstring line) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(std::move(line));
  }
  std::vector<std::wstring> Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
  }
  size_t Count(const std::wstring& line) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(lines_.begin(), lines_.end(), line));
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::wstring> lines_;
};

}  // namespace dlgtests
