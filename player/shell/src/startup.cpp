#include "shell/startup.h"

#include <string>
#include <vector>

#include "player_controller.h"
#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

ShellMainWindow* g_mainWindow = nullptr;
PlayerController* g_controller = nullptr;
HWND g_mainWindowHandle = nullptr;
HHOOK g_hook = nullptr;

constexpr UINT kClassNameId = 3;
constexpr UINT kAcceleratorTable = 4;
constexpr UINT kIconId = 101;

std::wstring ClassName(HINSTANCE instance) {
  wchar_t name[64] = {};
  if (WinApi().LoadStringW(instance, kClassNameId, name, 64) <= 0) return L"Orlomer";
  return name;
}

std::vector<wchar_t> WideCommandLine(const char* commandLine) {
  const char* text = commandLine ? commandLine : "";
  const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  std::vector<wchar_t> out(static_cast<size_t>(units > 0 ? units : 1), L'\0');
  if (units > 0) MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), units);
  return out;
}

// A missing or empty folder setting becomes the program's folder, with its
// trailing backslash, and is written back.
void DefaultFolderSetting(HINSTANCE instance, UINT id) {
  wchar_t value[kSettingStringCapacity] = {};
  if (ReadSettingStringById(instance, id, value) && value[0]) return;
  wchar_t path[MAX_PATH + 1] = {};
  const DWORD n = WinApi().GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  std::wstring folder(path, n);
  const size_t slash = folder.rfind(L'\\');
  if (slash != std::wstring::npos) folder.resize(slash + 1);
  WriteSettingStringById(instance, id, folder.c_str());
}

}  // namespace

HWND FindMainWindow(HINSTANCE instance) { return WinApi().FindWindowW(ClassName(instance).c_str(), nullptr); }
PlayerController* ShellController() { return g_controller; }
ShellMainWindow* ShellMainWindowObject() { return g_mainWindow; }

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_mainWindow) return g_mainWindow->HandleMessage(window, message, wParam, lParam);
  return WinApi().DefWindowProcW(window, message, wParam, lParam);
}

ATOM RegisterMainWindowClass(HINSTANCE instance) {
  const WinApiTable& api = WinApi();
  const std::wstring name = ClassName(instance);
  WNDCLASSW wc = {};
  wc.style = 0;
  wc.lpfnWndProc = MainWndProc;
  wc.hInstance = instance;
  wc.hIcon = api.LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  wc.hCursor = api.LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  wc.lpszClassName = name.c_str();
  return api.RegisterClassW(&wc);
}

int ActivateRunningInstance(HINSTANCE instance, const wchar_t* commandLine) {
  DWORD multiple = 0;
  if (ReadSettingDwordById(instance, shell::kMultipleInstances, &multiple) && multiple != 0) return 0;
  HWND running = FindMainWindow(instance);
  if (!running) return 0;
  if (commandLine && commandLine[0]) {
    COPYDATASTRUCT data = {};
    data.dwData = kCommandLineCopyData;
    data.cbData = static_cast<DWORD>((wcslen(commandLine) + 1) * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(commandLine);
    WinApi().SendMessageW(running, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  }
  SetForegroundWindow(running);
  return 1;
}

int InitInstance(HINSTANCE instance, const wchar_t* commandLine, ShellStartupParts* parts) {
  DefaultFolderSetting(instance, shell::kKRData);
  DefaultFolderSetting(instance, shell::kFilePath);

  bool failed = false;
  g_mainWindow = parts->NewMainWindow(instance, &failed);
  if (!g_mainWindow || failed) {
    ShowMessage(instance, 50043, nullptr, MB_OK);
    return 0;
  }
  g_controller = parts->NewController();
  if (!g_controller) return 0;
  g_mainWindowHandle = FindMainWindow(instance);
  g_controller->Init(g_mainWindowHandle, instance, g_mainWindow->Observer(),
                     reinterpret_cast<const char16_t*>(commandLine));
  // This thread's menus and dialogs: F1 there reaches the main window too.
  g_hook = SetWindowsHookExW(WH_MSGFILTER, MsgFilterHookProc, instance, GetCurrentThreadId());
  return 1;
}

LRESULT CALLBACK MsgFilterHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code >= 0) {
    const MSG* msg = reinterpret_cast<const MSG*>(lParam);
    if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_F1)
      WinApi().PostMessageW(FindMainWindow(WinApiLayer().instance), WM_COMMAND, kHelpCommand, 0);
  }
  return CallNextHookEx(g_hook, code, wParam, lParam);
}

int ExitInstance() {
  if (g_hook) UnhookWindowsHookEx(g_hook);
  g_hook = nullptr;
  if (g_controller) {
    g_controller->Shutdown();
    delete g_controller;
    g_controller = nullptr;
  }
  if (g_mainWindow) {
    ShellMainWindow* window = g_mainWindow;
    g_mainWindow = nullptr;
    delete window;
  }
  g_mainWindowHandle = nullptr;
  return 1;
}

int PlayerWinMain(HINSTANCE instance, const char* commandLine, ShellStartupParts* parts) {
  g_mainWindow = nullptr;
  StartWinApiLayer();
  RegisterMainWindowClass(instance);
  {
    const std::vector<wchar_t> line = WideCommandLine(commandLine);
    if (ActivateRunningInstance(instance, line.data())) {
      StopWinApiLayer();
      return 0;
    }
  }
  const std::vector<wchar_t> line = WideCommandLine(commandLine);
  if (!InitInstance(instance, line.data(), parts)) {
    ExitInstance();
    StopWinApiLayer();
    return 0;
  }
  const WinApiTable& api = WinApi();
  HACCEL accelerators = api.LoadAcceleratorsW(instance, MAKEINTRESOURCEW(kAcceleratorTable));
  MSG msg = {};
  while (api.GetMessageW(&msg, nullptr, 0, 0) > 0) {
    // Thread messages have no window to go to.
    if (!msg.hwnd) continue;
    if (accelerators && api.TranslateAcceleratorW(msg.hwnd, accelerators, &msg)) continue;
    TranslateMessage(&msg);
    api.DispatchMessageW(&msg);
  }
  ExitInstance();
  StopWinApiLayer();
  return static_cast<int>(msg.wParam);
}
