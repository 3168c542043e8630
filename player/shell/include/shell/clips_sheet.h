// The Clips sheet: a modal property sheet with the pages "Favorites"
// (template 329, list 1028) and "Recent" (template 328, list 1052), one row
// per clip with its icon (105 for kind 1, 106 otherwise) and title. Double
// click, Enter or OK take the showing page's clip; the Favorites rows have a
// menu (260) with Rename, Show Location and Delete. User-interface thread;
// one sheet at a time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "shell/clip_lists.h"

constexpr int kFavoritesPageTemplate = 329;
constexpr int kRecentPageTemplate = 328;
constexpr int kFavoritesList = 1028;
constexpr int kRecentList = 1052;
constexpr int kRenameTemplate = 327;
constexpr int kRenameEdit = 1005;
constexpr int kClipsMenu = 260;
constexpr int kClipsRename = 40049;
constexpr int kClipsShowLocation = 40048;
constexpr int kClipsDelete = 40046;

class ClipsSheet {
 public:
  // The stores stay the caller's.
  ClipsSheet(FavoritesStore* favorites, HistoryStore* history);
  virtual ~ClipsSheet();
  ClipsSheet(const ClipsSheet&) = delete;
  ClipsSheet& operator=(const ClipsSheet&) = delete;

  // Shows the sheet on the Favorites page (favoritesFirst non-zero) or the
  // Recent page. When a clip was taken: its address goes to destination
  // (256 units), its kind (1 for a record of kind 1, else 2) to *kind, and
  // the result is 1; else 0 and both are untouched.
  int Run(wchar_t* destination, uint32_t* kind, int favoritesFirst);

  static INT_PTR CALLBACK FavoritesPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK RecentPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  friend struct ClipsSheetPages;
  HFONT recentFont_ = nullptr;
  HFONT favoritesFont_ = nullptr;
  HWND owner_ = nullptr;
  FavoritesStore* favorites_;
  HistoryStore* history_;
  HINSTANCE instance_ = nullptr;
  int chosen_ = 0;
  wchar_t name_[256] = {};
  int currentPage_ = 0;
  wchar_t resultAddress_[256] = {};
  uint32_t resultKind_ = 0;
};
