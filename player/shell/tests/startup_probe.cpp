// The player's start-up with a main window of the tests' own: it records
// what reaches it (the hand-over, commands, engine reports) in the file that
// PROBE_LOG names. PROBE_MODE "fail-window" makes the window fail;
// "dialog-f1" opens a modal dialog, presses F1 in it and quits when the help
// command arrives.
#include <windows.h>

#include <cstdio>
#include <string>

#include "engine_parts.h"
#include "player_controller.h"
#include "player_observer.h"
#include "shell/shell_services.h"
#include "shell/startup.h"
#include "shell/win_api_table.h"
#include "streaming/client_services.h"

namespace {

std::string Env(const char* name) {
  char value[512] = {};
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof(value));
  return n > 0 && n < sizeof(value) ? std::string(value, n) : std::string();
}

void Record(const std::wstring& line) {
  const std::string path = Env("PROBE_LOG");
  if (path.empty()) return;
  FILE* f = std::fopen(path.c_str(), "ab");
  if (!f) return;
  const int n = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, utf8.data(), n, nullptr, nullptr);
  std::fprintf(f, "%s\n", utf8.c_str());
  std::fclose(f);
}

class ProbeClock : public TickClock {
 public:
  uint32_t StartWallClock(uint32_t) override { return 0; }
  uint32_t SetTime(uint32_t ms) override {
    base = GetTickCount() - ms;
    return 0;
  }
  uint32_t GetTime() override { return GetTickCount() - base; }
  void CloseEvent() override {}
  DWORD base = 0;
};

// No media: the probe plays nothing.
class ProbeParts : public EngineParts {
 public:
  TickClock* NewClock() override { return new ProbeClock; }
  MediaSource* NewSource(uint32_t, PlayerContext*) override { return nullptr; }
  AudioDecoder* NewAudioDecoder(PlayerContext*, MediaSource*) override { return nullptr; }
  VideoThread* NewVideoThread(PlayerContext*, MediaSource*) override { return nullptr; }
  uint32_t TickCount() override { return GetTickCount(); }
};

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The key arrives through the dialog's own loop, as a user's would.
    PostMessageW(dialog, WM_KEYDOWN, VK_F1, 0);
    return TRUE;
  }
  return FALSE;
}

// A dialog template in memory: a caption and no controls.
INT_PTR RunDialog(HWND owner) {
  alignas(4) WORD buffer[64] = {};
  auto* t = reinterpret_cast<DLGTEMPLATE*>(buffer);
  t->style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
  t->cx = 100;
  t->cy = 40;
  WORD* p = reinterpret_cast<WORD*>(t + 1);
  *p++ = 0;  // no menu
  *p++ = 0;  // default class
  for (const wchar_t* s = L"Probe dialog"; *s; ++s) *p++ = *s;
  *p++ = 0;
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t, owner, DialogProc, 0);
}

class ProbeWindow : public ShellMainWindow, public PlayerObserver {
 public:
  ProbeWindow(HINSTANCE instance, bool* failed) {
    mode_ = Env("PROBE_MODE");
    if (mode_ == "fail-window") {
      *failed = true;
      return;
    }
    window_ = WinApi().CreateWindowExW(0, L"Orlomer", L"Orlomer probe", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                       300, 200, nullptr, nullptr, instance, nullptr);
    *failed = window_ == nullptr;
    Record(L"STARTED " + std::to_wstring(GetCurrentProcessId()));
    Record(IsWin9xMode() ? L"MODE 9x" : L"MODE unicode");
    if (mode_ == "dialog-f1") PostMessageW(window_, WM_APP, 0, 0);
  }

  LRESULT HandleMessage(HWND w, UINT message, WPARAM wParam, LPARAM lParam) override {
    switch (message) {
      case WM_COPYDATA: {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        std::wstring text(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
        if (!text.empty() && text.back() == 0) text.pop_back();
        Record(L"COPYDATA " + std::to_wstring(data->dwData) + L" " + std::to_wstring(data->cbData) + L" " + text);
        return 1;
      }
      case WM_COMMAND:
        Record(L"COMMAND " + std::to_wstring(LOWORD(wParam)));
        if (LOWORD(wParam) == kHelpCommand)
          if (HWND dialog = FindWindowW(L"#32770", L"Probe dialog")) EndDialog(dialog, 1);
        return 0;
      case WM_APP:
        Record(L"DIALOG " + std::to_wstring(RunDialog(w)));
        DestroyWindow(w);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(7);
        return 0;
      default:
        return WinApi().DefWindowProcW(w, message, wParam, lParam);
    }
  }
  PlayerObserver* Observer() override { return this; }

  void Attach(PlayerController*) override { Record(L"ATTACH"); }
  void SetRepeat(uint32_t) override {}
  void SetText(const char16_t*) override {}
  void ShowStatusText(uint32_t) override {}
  int ShowError(uint32_t id, const char16_t*, uint32_t) override {
    Record(L"ERROR " + std::to_wstring(id));
    return IDOK;
  }
  void SetVideoGeometry(uint32_t, uint32_t, uint32_t) override {}
  void SetPosition(uint32_t) override {}
  void SetProgress(uint32_t) override {}
  void SetBufferLevel(uint32_t) override {}
  void SetIndicator(uint32_t) override {}
  void SetPlayerState(uint32_t) override {}
  void ShowMessageText(uint32_t, const char16_t*) override {}
  void OnClipEnd() override {}
  void EnableCommand(uint32_t, uint32_t) override {}
  void SetProgressRecord(const ClipProperties*) override {}

 private:
  std::string mode_;
  HWND window_ = nullptr;
};

class ProbeStartup : public ShellStartupParts {
 public:
  ShellMainWindow* NewMainWindow(HINSTANCE instance, bool* failed) override {
    auto* w = new ProbeWindow(instance, failed);
    return w;
  }
  PlayerController* NewController() override { return new PlayerController(&services, &parts); }
  ShellServices services;
  ProbeParts parts;
};

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  ProbeStartup parts;
  const int code = PlayerWinMain(instance, commandLine, &parts);
  Record(L"EXIT " + std::to_wstring(code));
  return code;
}
