// Doubles of what the encoder view talks to: the main frame (a message-only
// window that records what reaches it) and the summary view, and a watcher
// that reads and closes message boxes.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scrivel/enc_active_view.h"

inline std::vector<UINT> g_frameMessages;  // what reached the frame's window
inline std::vector<WPARAM> g_frameParams;

inline LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message >= WM_USER || message == WM_COMMAND) {
    g_frameMessages.push_back(message);
    g_frameParams.push_back(wParam);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class FrameDouble : public scrivel::EncoderFrame {
 public:
  FrameDouble() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ScrivelViewTestFrame";
    RegisterClassW(&wc);
    window_ = CreateWindowW(L"ScrivelViewTestFrame", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    g_frameMessages.clear();
    g_frameParams.clear();
  }
  ~FrameDouble() override { DestroyWindow(window_); }
  HWND FrameHandle() const override { return window_; }
  void SetHint(const std::wstring& text) override { hints.push_back(text); }
  bool EncodingStatus() const override { return false; }
  bool QuitAfterRun() const override { return quitAfterRun; }
  int AcceptDroppedFile(const std::wstring& path) override {
    offered.push_back(path);
    return path.ends_with(L".mp4") ? DROPEFFECT_COPY : 0;
  }
  void OpenDroppedFile(const std::wstring& path) override { opened.push_back(path); }
  bool OpenOnDrop() const override { return openOnDrop; }
  void ClearOpenOnDrop() override { openOnDrop = false; }

  // Delivers what was posted to the frame.
  void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, window_, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }

  std::vector<std::wstring> hints;
  bool quitAfterRun = false;
  bool openOnDrop = false;
  std::vector<std::wstring> offered;
  std::vector<std::wstring> opened;

 private:
  HWND window_;
};

class SummaryDouble : public scrivel::SummaryLink {
 public:
  void Refresh() override { ++refreshes; }
  void UpdateRecord() override { ++updates; }
  int refreshes = 0;
  int updates = 0;
};

// Reads and closes the message boxes of one thread (or, with a process id,
// of that process): caption and text of each, in order.
class BoxWatcher {
 public:
  struct Box {
    std::wstring caption;
    std::wstring text;
  };
  explicit BoxWatcher(DWORD thread, DWORD process = 0) : thread_(thread), process_(process) {
    worker_ = std::thread([this] { Run(); });
  }
  ~BoxWatcher() {
    stop_ = true;
    worker_.join();
  }
  std::vector<Box> Boxes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return boxes_;
  }

 private:
  static BOOL CALLBACK FindText(HWND child, LPARAM param) {
    wchar_t cls[32] = {}, text[1024] = {};
    GetClassNameW(child, cls, 32);
    GetWindowTextW(child, text, 1024);
    if (lstrcmpiW(cls, L"Static") == 0 && text[0]) *reinterpret_cast<std::wstring*>(param) = text;
    return TRUE;
  }
  static BOOL CALLBACK Visit(HWND window, LPARAM param) {
    auto* self = reinterpret_cast<BoxWatcher*>(param);
    if (self->process_) {
      DWORD pid = 0;
      GetWindowThreadProcessId(window, &pid);
      if (pid != self->process_) return TRUE;
    }
    wchar_t cls[32] = {};
    GetClassNameW(window, cls, 32);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    Box box;
    wchar_t caption[256] = {};
    GetWindowTextW(window, caption, 256);
    box.caption = caption;
    EnumChildWindows(window, FindText, reinterpret_cast<LPARAM>(&box.text));
    {
      std::lock_guard<std::mutex> lock(self->mutex_);
      self->boxes_.push_back(box);
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    // Wait for it to go, so that one box is read once.
    for (int i = 0; i < 200 && IsWindow(window) && IsWindowVisible(window); ++i) Sleep(10);
    return TRUE;
  }
  void Run() {
    while (!stop_) {
      if (process_)
        EnumWindows(Visit, reinterpret_cast<LPARAM>(this));
      else
        EnumThreadWindows(thread_, Visit, reinterpret_cast<LPARAM>(this));
      Sleep(20);
    }
  }
  DWORD thread_;
  DWORD process_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::vector<Box> boxes_;
  std::thread worker_;
};
