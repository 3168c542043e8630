// A static splitter: a grid of panes, each a view, with bars between them
// that the user drags to change the row heights and column widths. A
// locked splitter ignores presses on its bars and shows no sizing cursor:
// its owner sizes the rows itself.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "appframe/view.h"
#include "window/window.h"

namespace appf {

class StaticSplitter : public win::Window {
 public:
  static constexpr UINT kFirstPane = kIdPaneFirst;
  static constexpr int kBar = 6;  // bar thickness in pixels

  StaticSplitter();
  ~StaticSplitter() override;

  bool CreateStatic(HWND parent, int rows, int columns, UINT id = kFirstPane);
  // The view of one pane, with its first size (the last row and column
  // take what is left). Its child id is kFirstPane + 16 * row + column.
  bool CreateView(int row, int column, std::unique_ptr<View> view, SIZE size, Document* document,
                  FrameWindow* frame);
  View* Pane(int row, int column) const;
  int Rows() const { return static_cast<int>(heights_.size()); }
  int Columns() const { return static_cast<int>(widths_.size()); }

  // A row's wanted height and smallest height; RecalcLayout applies it.
  void SetRowInfo(int row, int ideal, int minimum);
  void SetColumnInfo(int column, int ideal, int minimum);
  // The height a row has now.
  int RowHeight(int row) const;
  int ColumnWidth(int column) const;
  void RecalcLayout();

  void SetLocked(bool locked) { locked_ = locked; }
  bool Locked() const { return locked_; }

 private:
  struct Track {
    bool row = false;
    int index = -1;  // the bar after this row or column
    int start = 0;   // the mouse position when the press began
    int size = 0;    // the row's or column's size then
  };
  // The bar under a client point, as a track.
  bool HitBar(POINT p, Track* track) const;
  std::vector<int> Sizes(const std::vector<int>& wanted, const std::vector<int>& minimum, int total) const;

  std::vector<int> heights_, minHeights_, widths_, minWidths_;
  std::vector<std::unique_ptr<View>> panes_;  // row by row
  bool locked_ = false;
  Track track_;
};

}  // namespace appf
