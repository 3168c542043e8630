// A tip that its owner shows next to a point with a text of its own and
// hides again (a tracking tip of the common controls), for hover texts
// such as a remaining time.
#pragma once

#include <windows.h>

#include <string>

namespace appf {

class ToolTip {
 public:
  ToolTip() = default;
  ToolTip(const ToolTip&) = delete;
  ToolTip& operator=(const ToolTip&) = delete;
  ~ToolTip();

  // An invisible tip window owned by `owner`.
  bool Create(HWND owner);
  HWND Handle() const { return hwnd_; }
  // Trailing blanks are dropped.
  void SetText(const std::wstring& text);
  const std::wstring& Text() const { return text_; }
  // Shown with its top left at a screen point, without activation.
  void ShowAt(POINT screen);
  void Hide();
  bool Visible() const { return hwnd_ && IsWindowVisible(hwnd_); }

 private:
  void Fill(void* info) const;

  HWND hwnd_ = nullptr;
  HWND owner_ = nullptr;
  std::wstring text_;
};

}  // namespace appf
