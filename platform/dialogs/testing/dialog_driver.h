// Drives dialogs, sheets and message boxes from another thread of the
// test program while their modal loop runs, as a user would: it finds a
// window by its caption, reads its controls, and queues clicks, keys and
// typing to the window's thread. Actions return once queued; what the
// dialog did is read back afterwards (WaitFor).
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

namespace dlgtest {

// A visible top-level window of this process with this caption (a dialog,
// a sheet, a message box or a file dialog); null after `ms`.
HWND WaitForWindow(const std::wstring& caption, DWORD ms = 5000);
// True once `window` is gone, false after `ms`.
bool WaitUntilGone(HWND window, DWORD ms = 5000);
// True once `condition` holds, false after `ms`.
bool WaitFor(const std::function<bool()>& condition, DWORD ms = 3000);

// The control with this id inside `window`: its own shown child, else
// the first shown one met through its pages and embedded sheets, else a
// hidden one; null when none is.
HWND Find(HWND window, int id);
std::wstring Text(HWND window, int id);
std::wstring Text(HWND control);
// The message of a message box (its static texts).
std::wstring MessageText(HWND box);
int CheckState(HWND window, int id);
// A combo's selected entry, -1 when none is.
int Selection(HWND window, int id);
bool Enabled(HWND window, int id);
// The window with the keyboard focus in `window`'s thread, and its id
// (0 when nothing has the focus).
HWND Focused(HWND window);
int FocusedId(HWND window);

// Puts the focus on the control (as a click into it would) and waits
// until it is there.
bool Focus(HWND window, int id);
// Focus, then the control's text replaced by typing `text`.
bool Type(HWND window, int id, const std::wstring& text);
// A click on a button, check box or radio button; false when disabled.
bool Press(HWND window, int id);
// A key pressed and released where the focus is (or at the active window
// when nothing has the focus).
void Key(HWND window, UINT vk);
// An entry of a drop-down chosen, as a user picks it.
bool Choose(HWND window, int id, int index);
// A click on the upper or lower arrow of an up-down control.
bool SpinClick(HWND window, int id, bool up);
// A click on a tab of a tab strip.
bool ClickTab(HWND tabs, int index);

// Closes the message boxes, dialogs and sheets of this process that are
// still shown (as their close box would), so that a script that failed
// half-way does not leave a modal loop running.
void CloseLeftovers(DWORD ms = 3000);

// Runs a script of driver steps on a thread of its own while the test's
// thread runs a modal loop, then closes what the script left open; the
// destructor waits for it.
class Script {
 public:
  explicit Script(std::function<void()> steps)
      : thread_([steps = std::move(steps)] {
          steps();
          CloseLeftovers();
        }) {}
  ~Script() { Join(); }
  Script(const Script&) = delete;
  Script& operator=(const Script&) = delete;
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace dlgtest
