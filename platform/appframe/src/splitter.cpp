#include "appframe/splitter.h"

#include <algorithm>

namespace appf {

StaticSplitter::StaticSplitter() {
  On(WM_SIZE, [this](WPARAM, LPARAM) -> LRESULT {
    RecalcLayout();
    return 0;
  });
  On(WM_PAINT, [this](WPARAM, LPARAM) -> LRESULT {
    // Only the bars show: the panes cover the rest.
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    FillRect(dc, &ps.rcPaint, GetSysColorBrush(COLOR_BTNFACE));
    EndPaint(Handle(), &ps);
    return 0;
  });
  On(WM_ERASEBKGND, [](WPARAM, LPARAM) -> LRESULT { return 1; });
  // A locked splitter leaves these to the default: no press, no drag, the
  // class's arrow.
  On(WM_SETCURSOR, [this](WPARAM w, LPARAM l) -> LRESULT {
    POINT p;
    GetCursorPos(&p);
    ScreenToClient(Handle(), &p);
    Track hit;
    if (locked_ || LOWORD(l) != HTCLIENT || !HitBar(p, &hit))
      return DefWindowProcW(Handle(), WM_SETCURSOR, w, l);
    SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(hit.row ? IDC_SIZENS : IDC_SIZEWE)));
    return TRUE;
  });
  On(WM_LBUTTONDOWN, [this](WPARAM w, LPARAM l) -> LRESULT {
    POINT p = {static_cast<SHORT>(LOWORD(l)), static_cast<SHORT>(HIWORD(l))};
    if (locked_ || !HitBar(p, &track_)) return DefWindowProcW(Handle(), WM_LBUTTONDOWN, w, l);
    SetCapture(Handle());
    return 0;
  });
  On(WM_MOUSEMOVE, [this](WPARAM w, LPARAM l) -> LRESULT {
    if (locked_ || track_.index < 0 || GetCapture() != Handle()) return DefWindowProcW(Handle(), WM_MOUSEMOVE, w, l);
    int at = track_.row ? static_cast<SHORT>(HIWORD(l)) : static_cast<SHORT>(LOWORD(l));
    int size = std::max(0, track_.size + at - track_.start);
    if (track_.row)
      heights_[static_cast<size_t>(track_.index)] = std::max(size, minHeights_[static_cast<size_t>(track_.index)]);
    else
      widths_[static_cast<size_t>(track_.index)] = std::max(size, minWidths_[static_cast<size_t>(track_.index)]);
    RecalcLayout();
    return 0;
  });
  On(WM_LBUTTONUP, [this](WPARAM w, LPARAM l) -> LRESULT {
    if (track_.index < 0) return DefWindowProcW(Handle(), WM_LBUTTONUP, w, l);
    track_ = Track();
    ReleaseCapture();
    return 0;
  });
  On(WM_CAPTURECHANGED, [this](WPARAM, LPARAM) -> LRESULT {
    track_ = Track();
    return 0;
  });
}

StaticSplitter::~StaticSplitter() {
  // The panes' windows go with the splitter's, while the views exist.
  Destroy();
}

bool StaticSplitter::CreateStatic(HWND parent, int rows, int columns, UINT id) {
  if (rows < 1 || columns < 1 || rows > 16 || columns > 16) return false;
  heights_.assign(static_cast<size_t>(rows), 0);
  minHeights_.assign(static_cast<size_t>(rows), 0);
  widths_.assign(static_cast<size_t>(columns), 0);
  minWidths_.assign(static_cast<size_t>(columns), 0);
  panes_.clear();
  panes_.resize(static_cast<size_t>(rows * columns));
  RECT r = {0, 0, 0, 0};
  if (parent) GetClientRect(parent, &r);
  return Create(L"KrAppFrameSplitter", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, parent, r, L"", id);
}

bool StaticSplitter::CreateView(int row, int column, std::unique_ptr<View> view, SIZE size, Document* document,
                                FrameWindow* frame) {
  if (!view || row < 0 || row >= Rows() || column < 0 || column >= Columns()) return false;
  heights_[static_cast<size_t>(row)] = size.cy;
  widths_[static_cast<size_t>(column)] = size.cx;
  RECT r = {0, 0, size.cx, size.cy};
  UINT id = kFirstPane + 16 * static_cast<UINT>(row) + static_cast<UINT>(column);
  if (!view->CreateView(Handle(), r, id, document, frame)) return false;
  panes_[static_cast<size_t>(row * Columns() + column)] = std::move(view);
  RecalcLayout();
  return true;
}

View* StaticSplitter::Pane(int row, int column) const {
  if (row < 0 || row >= Rows() || column < 0 || column >= Columns()) return nullptr;
  return panes_[static_cast<size_t>(row * Columns() + column)].get();
}

void StaticSplitter::SetRowInfo(int row, int ideal, int minimum) {
  if (row < 0 || row >= Rows()) return;
  heights_[static_cast<size_t>(row)] = std::max(ideal, 0);
  minHeights_[static_cast<size_t>(row)] = std::max(minimum, 0);
}

void StaticSplitter::SetColumnInfo(int column, int ideal, int minimum) {
  if (column < 0 || column >= Columns()) return;
  widths_[static_cast<size_t>(column)] = std::max(ideal, 0);
  minWidths_[static_cast<size_t>(column)] = std::max(minimum, 0);
}

// Every row but the last gets its wanted size while room is left; the last
// takes the rest.
std::vector<int> StaticSplitter::Sizes(const std::vector<int>& wanted, const std::vector<int>& minimum,
                                       int total) const {
  std::vector<int> sizes(wanted.size(), 0);
  int left = std::max(total - kBar * static_cast<int>(wanted.size() - 1), 0);
  for (size_t i = 0; i + 1 < wanted.size(); ++i) {
    sizes[i] = std::min(std::max(wanted[i], minimum[i]), left);
    left -= sizes[i];
  }
  sizes.back() = left;
  return sizes;
}

int StaticSplitter::RowHeight(int row) const {
  View* pane = Pane(row, 0);
  if (!pane || !pane->Handle()) return 0;
  RECT r;
  GetWindowRect(pane->Handle(), &r);
  return r.bottom - r.top;
}

int StaticSplitter::ColumnWidth(int column) const {
  View* pane = Pane(0, column);
  if (!pane || !pane->Handle()) return 0;
  RECT r;
  GetWindowRect(pane->Handle(), &r);
  return r.right - r.left;
}

void StaticSplitter::RecalcLayout() {
  if (!Handle() || heights_.empty()) return;
  RECT client;
  GetClientRect(Handle(), &client);
  std::vector<int> rows = Sizes(heights_, minHeights_, client.bottom);
  std::vector<int> columns = Sizes(widths_, minWidths_, client.right);
  int y = 0;
  for (int r = 0; r < Rows(); ++r) {
    int x = 0;
    for (int c = 0; c < Columns(); ++c) {
      if (View* pane = Pane(r, c); pane && pane->Handle())
        MoveWindow(pane->Handle(), x, y, columns[static_cast<size_t>(c)], rows[static_cast<size_t>(r)], TRUE);
      x += columns[static_cast<size_t>(c)] + kBar;
    }
    y += rows[static_cast<size_t>(r)] + kBar;
  }
  InvalidateRect(Handle(), nullptr, TRUE);
}

bool StaticSplitter::HitBar(POINT p, Track* track) const {
  // A bar lies after each row (and column) but the last.
  int y = 0;
  for (int r = 0; r + 1 < Rows(); ++r) {
    int h = RowHeight(r);
    y += h;
    if (p.y >= y && p.y < y + kBar) {
      *track = Track{true, r, p.y, h};
      return true;
    }
    y += kBar;
  }
  int x = 0;
  for (int c = 0; c + 1 < Columns(); ++c) {
    int w = ColumnWidth(c);
    x += w;
    if (p.x >= x && p.x < x + kBar) {
      *track = Track{false, c, p.x, w};
      return true;
    }
    x += kBar;
  }
  return false;
}

}  // namespace appf
