// The Clip Info dialog (template 318): the clip's title, author, copyright,
// rating and description, one label and one wrapped value per row on a
// white background, scrolled line by line with scroll bar 1061 when the rows
// are taller than the dialog. Placed at the top of the owner's client area.
// User-interface thread; one at a time.
#pragma once

#include <windows.h>

#include <cstdint>

constexpr int kClipInfoTemplate = 318;
constexpr int kClipInfoFirstLabel = 1029;
constexpr int kClipInfoFirstValue = 1034;
constexpr int kClipInfoScrollBar = 1061;
constexpr int kClipInfoRows = 5;

class ClipInfoDialog {
 public:
  // Copies the texts (at most 255 units each); an empty or missing one is
  // kept as " ".
  ClipInfoDialog(const wchar_t* title, const wchar_t* author, const wchar_t* copyright,
                 const wchar_t* rating, const wchar_t* description);
  virtual ~ClipInfoDialog();
  ClipInfoDialog(const ClipInfoDialog&) = delete;
  ClipInfoDialog& operator=(const ClipInfoDialog&) = delete;

  INT_PTR DoModal(HWND owner);

  const wchar_t* Text(int row) const { return texts_[row]; }
  // Scroll state, in lines.
  int32_t ScrollPosition() const { return position_; }
  int32_t VisibleLines() const { return visibleLines_; }
  int32_t TotalLines() const { return totalLines_; }
  bool ScrollBarShown() const { return scrollBarShown_; }

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void Layout();
  void ShowScrollBar();
  void Scroll(WPARAM request);
  void Paint(HDC dc);
  void Place();
  void DrawControl(HWND control, const wchar_t* text, HFONT font);

  wchar_t texts_[kClipInfoRows][256];
  HWND dialog_ = nullptr;
  HWND owner_ = nullptr;
  RECT labels_[kClipInfoRows] = {};
  RECT values_[kClipInfoRows] = {};
  HFONT labelFont_ = nullptr;
  HFONT valueFonts_[kClipInfoRows] = {};
  int32_t lineHeight_ = 0;
  int32_t visibleLines_ = 0;
  int32_t totalLines_ = 0;
  int32_t position_ = 0;
  int32_t scrollBarWidth_ = 0;
  bool scrollBarShown_ = false;
};
