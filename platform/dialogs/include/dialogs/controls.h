// Thin classes over a dialog's child controls: each holds the control's
// window (not owned) and sends it the messages its callers need.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <richedit.h>

#include <string>
#include <vector>

namespace dlg {

class Control {
 public:
  Control() = default;
  explicit Control(HWND window) : hwnd_(window) {}
  // The child `id` of `dialog`; false when there is none.
  bool Attach(HWND dialog, int id);
  HWND Handle() const { return hwnd_; }
  int Id() const { return hwnd_ ? GetDlgCtrlID(hwnd_) : 0; }
  void Enable() const { SetEnabled(true); }
  void Disable() const { SetEnabled(false); }
  void SetEnabled(bool enabled) const { EnableWindow(hwnd_, enabled ? TRUE : FALSE); }
  bool Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
  void Show(bool shown) const { ShowWindow(hwnd_, shown ? SW_SHOW : SW_HIDE); }
  void SetFont(HFONT font) const { Send(WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }
  std::wstring Text() const;
  void SetText(const std::wstring& text) const { SetWindowTextW(hwnd_, text.c_str()); }

 protected:
  LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageW(hwnd_, message, wParam, lParam);
  }
  HWND hwnd_ = nullptr;
};

class Static : public Control {
 public:
  using Control::Control;
};

// A push button, check box or radio button.
class Button : public Control {
 public:
  using Control::Control;
  int CheckState() const { return static_cast<int>(Send(BM_GETCHECK)); }
  void SetCheckState(int state) const { Send(BM_SETCHECK, static_cast<WPARAM>(state)); }
  bool Checked() const { return CheckState() == BST_CHECKED; }
};

// An up-down arrow control.
class Spin : public Control {
 public:
  using Control::Control;
  void SetRange(int low, int high) const { Send(UDM_SETRANGE32, static_cast<WPARAM>(low), high); }
  int Position() const { return static_cast<int>(Send(UDM_GETPOS32)); }
  void SetPosition(int position) const { Send(UDM_SETPOS32, 0, position); }
  // Steps that grow while an arrow is held: {seconds, step} pairs.
  void SetAccelerations(const std::vector<UDACCEL>& steps) const;
  HWND Buddy() const { return reinterpret_cast<HWND>(Send(UDM_GETBUDDY)); }
};

// A drop-down list (or combo box).
class Combo : public Control {
 public:
  using Control::Control;
  int Add(const std::wstring& text) const {
    return static_cast<int>(Send(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str())));
  }
  void Clear() const { Send(CB_RESETCONTENT); }
  int Count() const { return static_cast<int>(Send(CB_GETCOUNT)); }
  // -1 when nothing is selected.
  int Selection() const { return static_cast<int>(Send(CB_GETCURSEL)); }
  void Select(int index) const { Send(CB_SETCURSEL, static_cast<WPARAM>(index)); }
  std::wstring ItemText(int index) const;
  // The entry with exactly this text, -1 when none.
  int Find(const std::wstring& text) const {
    return static_cast<int>(Send(CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str())));
  }
};

// A Rich Edit 2.0 edit ("RichEdit20W").
class RichEdit : public Control {
 public:
  using Control::Control;
  // Loads riched20.dll for the process (its class must outlive every edit).
  static bool Load();

  bool SetCharFormat(const CHARFORMAT2W& format, DWORD which = SCF_ALL) const;
  CHARFORMAT2W CharFormat(DWORD which = SCF_DEFAULT) const;
  // Text as bytes of a code page (1200 for UTF-16 is not taken here).
  bool SetTextInCodePage(const std::string& bytes, UINT codePage) const;
  std::string TextInCodePage(UINT codePage) const;
  // At most `maxChars` characters of the text.
  std::wstring WideText(size_t maxChars) const;
  // Characters a user may type; more are refused.
  void SetLimit(long chars) const { Send(EM_EXLIMITTEXT, 0, chars); }
  long Limit() const { return static_cast<long>(Send(EM_GETLIMITTEXT)); }
  // Which notifications the edit sends its parent (ENM_CHANGE, ...).
  DWORD SetEventMask(DWORD mask) const { return static_cast<DWORD>(Send(EM_SETEVENTMASK, 0, static_cast<LPARAM>(mask))); }
  DWORD EventMask() const { return static_cast<DWORD>(Send(EM_GETEVENTMASK)); }
  // The background colour; returns the previous one.
  COLORREF SetBackground(COLORREF colour) const { return static_cast<COLORREF>(Send(EM_SETBKGNDCOLOR, 0, colour)); }
  COLORREF UseSystemBackground() const { return static_cast<COLORREF>(Send(EM_SETBKGNDCOLOR, TRUE, 0)); }
  void SetReadOnly(bool readOnly) const { Send(EM_SETREADONLY, readOnly ? TRUE : FALSE); }
  // Editable (enabled, window colour) or shown read-only (disabled, greyed
  // on the dialog's colour).
  void SetEditable(bool editable) const;
  // Numbers are typed without the input method editor.
  void SetInputMethodEnabled(bool enabled) const;
};

}  // namespace dlg
