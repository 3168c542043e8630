// The frame's status bar (the common control): panes of given widths, the
// last one may stretch, each with its text; a pane may follow a command id
// whose update handler sets its text while the program is idle.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace appf {

class StatusBar {
 public:
  static constexpr UINT kId = 0xE801;

  StatusBar() = default;
  StatusBar(const StatusBar&) = delete;
  StatusBar& operator=(const StatusBar&) = delete;

  // A visible child at the bottom of `parent`; `widths` in pixels, -1 for
  // a pane that takes the rest (the last one only).
  bool Create(HWND parent, const std::vector<int>& widths, UINT id = kId);
  HWND Handle() const { return hwnd_; }
  bool SetPanes(const std::vector<int>& widths);
  size_t PaneCount() const { return widths_.size(); }
  bool SetText(size_t pane, const std::wstring& text);
  std::wstring Text(size_t pane) const;
  // Binds a pane to a command id for idle updates (0: none).
  void SetPaneCommand(size_t pane, UINT id);
  UINT PaneCommand(size_t pane) const { return pane < commands_.size() ? commands_[pane] : 0; }
  // Follows the parent's new size; its height.
  void Layout();
  int Height() const;

 private:
  HWND hwnd_ = nullptr;
  std::vector<int> widths_;
  std::vector<UINT> commands_;
};

}  // namespace appf
