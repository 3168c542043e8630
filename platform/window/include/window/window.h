// A window with one named handler per message, as a message map would
// have it: message handlers (private message numbers too), command ids
// with enabling handlers, timers by id and owner drawing by control id.
// The window procedure finds the Window through GWLP_USERDATA.
//
//   win::Window w;
//   w.On(WM_SIZE, [&](WPARAM, LPARAM l) { return OnSize(LOWORD(l), HIWORD(l)); });
//   w.OnCommand(32769, [&] { Start(); }, [&] { return CanStart(); });
//   w.Create(L"KrThing", WS_CHILD | WS_VISIBLE, 0, parent, rect);
#pragma once

#include <windows.h>

#include <functional>
#include <map>

namespace win {

class Window {
 public:
  using Handler = std::function<LRESULT(WPARAM, LPARAM)>;
  using DrawHandler = std::function<void(const DRAWITEMSTRUCT&)>;

  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  // Destroys the window when it still exists.
  virtual ~Window();

  // Registers the class on first use (CS_DBLCLKS, so double clicks arrive;
  // no background brush: the owner paints) and creates the window.
  bool Create(const wchar_t* className, DWORD style, DWORD exStyle, HWND parent, const RECT& rect,
              const wchar_t* title = L"", UINT_PTR id = 0);
  // Creates the window as a modeless dialog from a template of `module`
  // (a form on a parent says WS_CHILD | DS_CONTROL in its template). Its
  // messages go to the same tables; what no handler takes goes to the
  // dialog manager.
  bool CreateFromTemplate(HINSTANCE module, const wchar_t* templateName, HWND parent);
  void Destroy();
  HWND Handle() const { return hwnd_; }

  // The handler of one message; a later one replaces it. Messages without
  // a handler go to DefWindowProc.
  void On(UINT message, Handler handler) { handlers_[message] = std::move(handler); }
  // A command (WM_COMMAND from a menu, an accelerator or a button), run only
  // while its enabling handler, if any, says yes.
  void OnCommand(UINT id, std::function<void()> run, std::function<bool()> enabled = {});
  bool CommandEnabled(UINT id) const;
  // Greys every item of the menu whose command is disabled (and runs when a
  // popup opens, WM_INITMENUPOPUP).
  void UpdateMenu(HMENU menu) const;
  // WM_DRAWITEM of the child with this control id.
  void OnDrawItem(UINT controlId, DrawHandler draw) { drawers_[controlId] = std::move(draw); }
  // Timers by id; a timer's handler runs on WM_TIMER with that id.
  bool StartTimer(UINT_PTR id, UINT ms, std::function<void()> run);
  void StopTimer(UINT_PTR id);
  bool TimerRunning(UINT_PTR id) const { return timers_.count(id) != 0; }

  // What the window does with a message: its handler, else the default.
  LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  // For a window class of the caller's own (its name, icon, brush): the
  // procedure and module to register it with, so that Create finds it.
  static WNDPROC ClassProcedure() { return &Procedure; }
  static HINSTANCE ClassModule();

 protected:
  // The window is gone (WM_NCDESTROY): the handle is cleared.
  virtual void OnFinalMessage() {}

 private:
  struct Command {
    std::function<void()> run;
    std::function<bool()> enabled;
  };
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK DialogProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Builtin(UINT message, WPARAM wParam, LPARAM lParam, bool* handled);
  // A handler's answer, or false when no table takes the message.
  bool Handle(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  void Forget();

  HWND hwnd_ = nullptr;
  std::map<UINT, Handler> handlers_;
  std::map<UINT, Command> commands_;
  std::map<UINT, DrawHandler> drawers_;
  std::map<UINT_PTR, std::function<void()>> timers_;
};

// A popup menu shown at a screen point, tracking the right button; its
// commands go to `owner`. Returns once the menu closes.
void ShowPopupMenu(HMENU menu, HWND owner, POINT screen);

}  // namespace win
