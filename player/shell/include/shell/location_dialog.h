// The Open Location dialog (template 263): asks for the address of a clip,
// with the address now open as the initial text, fully selected. It checks
// nothing: any text, an empty one too, comes back on OK. Only one runs at a
// time: its text lives in one process-wide buffer of 256 units, which the
// caller reads after DoModal. User-interface thread.
#pragma once

#include <windows.h>

constexpr int kLocationTemplate = 263;
constexpr int kLocationEdit = 1020;

class LocationDialog {
 public:
  explicit LocationDialog(const wchar_t* initialText);
  virtual ~LocationDialog();

  // 1 for OK, 2 for Cancel (what the system returns when the dialog cannot
  // be made).
  INT_PTR DoModal(HWND owner, HINSTANCE instance);
  // The address buffer: the text taken on OK (at most 255 units), else the
  // initial text.
  static const wchar_t* Address();

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
};
