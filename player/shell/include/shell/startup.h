// The player program's start-up and main loop: the Windows API layer, one
// running player at a time (a second start hands its command line to the
// first with WM_COPYDATA), the main window object and the player
// controller, the F1 message-filter hook, the loop, and the shut-down order.
#pragma once

#include <windows.h>

class PlayerController;
class PlayerObserver;

// What start-up needs of the main window object; the main window implements
// it. Its constructor creates the window of class "Orlomer" (string 3).
class ShellMainWindow {
 public:
  virtual ~ShellMainWindow() = default;
  // Every message of the "Orlomer" class once the object exists.
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;
  virtual PlayerObserver* Observer() = 0;
};

// Makes the long-lived objects, so that the program (or a test) decides
// which main window and which engine parts run.
class ShellStartupParts {
 public:
  virtual ~ShellStartupParts() = default;
  // failed is set when the skinned window could not be made.
  virtual ShellMainWindow* NewMainWindow(HINSTANCE instance, bool* failed) = 0;
  virtual PlayerController* NewController() = 0;
};

constexpr UINT kHelpCommand = 41131;
constexpr ULONG_PTR kCommandLineCopyData = 1;

// The body of WinMain: the final WM_QUIT's wParam, or 0 when start-up stops
// early (another player took the command line, or an object failed).
int PlayerWinMain(HINSTANCE instance, const char* commandLine, ShellStartupParts* parts);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
ATOM RegisterMainWindowClass(HINSTANCE instance);
// 1 when this process must quit: a player already runs and got the command line.
int ActivateRunningInstance(HINSTANCE instance, const wchar_t* commandLine);
// 1 on success.
int InitInstance(HINSTANCE instance, const wchar_t* commandLine, ShellStartupParts* parts);
LRESULT CALLBACK MsgFilterHookProc(int code, WPARAM wParam, LPARAM lParam);
int ExitInstance();

// The main window found by its class name (string 3), or null.
HWND FindMainWindow(HINSTANCE instance);
PlayerController* ShellController();
ShellMainWindow* ShellMainWindowObject();
