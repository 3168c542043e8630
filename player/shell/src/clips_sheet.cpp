#include "shell/clips_sheet.h"

#include <cstddef>
#include <cwchar>
#include <string>
#include <vector>

#include "dialog_support.h"
#include "shell/about_dialogs.h"
#include "shell/font_linking.h"
#include "shell/messages.h"
#include "shell/portable/dialog_template.h"
#include "shell/win_api_table.h"

namespace {

constexpr UINT kFavoritesTitleId = 60007;
constexpr UINT kRecentTitleId = 60008;
constexpr UINT kClipsCaptionId = 40041;
constexpr UINT kLocationCaptionId = 60005;
constexpr UINT kDeleteQuestionId = 60114;
constexpr UINT kDeleteCaptionId = 59240;
constexpr int kHeaderBitmap = 221;
constexpr int kFileIcon = 105;
constexpr int kStreamIcon = 106;
// Posted by a page to itself: show its list where it belongs.
constexpr UINT kMsgShowList = 0x50E;
constexpr int kFavoritesPage = 0;
constexpr int kRecentPage = 1;

// One sheet at a time: the pages reach it, their lists and image lists here.
ClipsSheet* g_sheet = nullptr;
HWND g_lists[2] = {};
HIMAGELIST g_images[2] = {};
// Set once the sheet is being closed: the sheet's own cancel notifies the
// pages again, which must not close it a second time.
bool g_closing = false;

int CALLBACK CompareTitles(LPARAM a, LPARAM b, LPARAM) {
  return _wcsicmp(reinterpret_cast<const ClipRecord*>(a)->title, reinterpret_cast<const ClipRecord*>(b)->title);
}

int ListRowCount(HWND list) { return static_cast<int>(WinApi().SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)); }

ClipRecord* RowRecord(HWND list, int row) {
  LVITEMW item = {};
  item.mask = LVIF_PARAM;
  item.iItem = row;
  if (!ListViewGetItemCompat(list, &item)) return nullptr;
  return reinterpret_cast<ClipRecord*>(item.lParam);
}

void CloseSheet(HWND page) {
  if (g_closing) return;
  g_closing = true;
  WinApi().SendMessageW(GetParent(page), WM_CLOSE, 0, 0);
}

void SetResult(HWND dialog, LRESULT result) { WinApi().SetWindowLongPtrW(dialog, DWLP_MSGRESULT, result); }

COLORREF PlainTextColour() {
  const COLORREF c = GetSysColor(COLOR_WINDOWTEXT);
  return c == RGB(255, 255, 255) ? RGB(0, 0, 0) : c;
}

}  // namespace

// The page procedures' work, with the sheet's private fields.
struct ClipsSheetPages {
  static INT_PTR PageProc(int index, HWND page, UINT message, WPARAM wParam, LPARAM lParam);
  static void CentreSheet(HWND sheet);
  static void PlaceButtons(HWND sheet);
  static bool InitList(int index, HWND page);
  static bool TakeSelected(int index);
  static LRESULT CustomDraw(int index, NMLVCUSTOMDRAW* draw);
  static void DrawRow(int index, NMLVCUSTOMDRAW* draw);
  static void ContextMenu(HWND page);
  static void Rename(HWND list, int row, ClipRecord* record);
  static void Delete(HWND page, HWND list, int row, ClipRecord* record);
  static INT_PTR CALLBACK RenameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  static int CALLBACK SheetCallback(HWND sheet, UINT message, LPARAM lParam);
};

ClipsSheet::ClipsSheet(FavoritesStore* favorites, HistoryStore* history)
    : owner_(PlayerMainWindow(WinApi().GetModuleHandleW(nullptr))),
      favorites_(favorites),
      history_(history),
      instance_(WinApi().GetModuleHandleW(nullptr)) {}

ClipsSheet::~ClipsSheet() {
  if (g_sheet == this) g_sheet = nullptr;
}

int ClipsSheet::Run(wchar_t* destination, uint32_t* kind, int favoritesFirst) {
  currentPage_ = favoritesFirst ? kFavoritesPage : kRecentPage;
  chosen_ = 0;
  g_sheet = this;
  g_closing = false;
  const std::wstring favoritesTitle = LoadShellText(instance_, kFavoritesTitleId);
  const std::wstring recentTitle = LoadShellText(instance_, kRecentTitleId);
  const std::wstring caption = LoadShellText(instance_, kClipsCaptionId);

  // The system walks the page records by their size: the array's stride
  // must be the size each record gives.
  PROPSHEETPAGEW_V2 pages[2] = {};
  const struct {
    int templateId;
    const std::wstring* title;
    DLGPROC procedure;
  } specs[2] = {{kFavoritesPageTemplate, &favoritesTitle, &ClipsSheet::FavoritesPageProc},
                {kRecentPageTemplate, &recentTitle, &ClipsSheet::RecentPageProc}};
  for (int i = 0; i < 2; ++i) {
    pages[i].dwSize = sizeof(PROPSHEETPAGEW_V2);
    pages[i].dwFlags = PSP_USETITLE;
    pages[i].hInstance = instance_;
    pages[i].pszTemplate = MAKEINTRESOURCEW(specs[i].templateId);
    pages[i].pszTitle = specs[i].title->c_str();
    pages[i].pfnDlgProc = specs[i].procedure;
    pages[i].lParam = reinterpret_cast<LPARAM>(owner_);
  }
  PROPSHEETHEADERW header = {};
  // Through the header bitmap: the system's second header version.
  header.dwSize = static_cast<DWORD>(offsetof(PROPSHEETHEADERW, pszbmHeader) + sizeof(header.pszbmHeader));
  header.dwFlags = PSH_USEICONID | PSH_PROPSHEETPAGE | PSH_NOAPPLYNOW | PSH_USECALLBACK | PSH_HEADER;
  header.hwndParent = owner_;
  header.hInstance = instance_;
  header.pszCaption = caption.c_str();
  header.nPages = 2;
  header.nStartPage = static_cast<UINT>(currentPage_);
  header.ppsp = reinterpret_cast<LPCPROPSHEETPAGEW>(pages);
  header.pfnCallback = &ClipsSheetPages::SheetCallback;
  header.pszbmHeader = MAKEINTRESOURCEW(kHeaderBitmap);
  WinApi().PropertySheetW(&header);
  g_sheet = nullptr;

  if (!chosen_) return 0;
  if (kind) *kind = resultKind_;
  if (destination) wcscpy(destination, resultAddress_);
  return chosen_;
}

INT_PTR CALLBACK ClipsSheet::FavoritesPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  return ClipsSheetPages::PageProc(kFavoritesPage, page, message, wParam, lParam);
}

INT_PTR CALLBACK ClipsSheet::RecentPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  return ClipsSheetPages::PageProc(kRecentPage, page, message, wParam, lParam);
}

int CALLBACK ClipsSheetPages::SheetCallback(HWND sheet, UINT message, LPARAM lParam) {
  if (message == PSCB_PRECREATE) {
    // The system's own template: its walk is bounded by the item count.
    shell::FitClipsSheetTemplate(reinterpret_cast<uint8_t*>(lParam), SIZE_MAX);
  } else if (message == PSCB_INITIALIZED) {
    AnnounceDialog(GetParent(sheet), sheet);
    const LONG_PTR ex = WinApi().GetWindowLongPtrW(sheet, GWL_EXSTYLE);
    WinApi().SetWindowLongPtrW(sheet, GWL_EXSTYLE, ex & ~static_cast<LONG_PTR>(WS_EX_CONTEXTHELP));
  }
  return 0;
}

void ClipsSheetPages::CentreSheet(HWND sheet) {
  if (g_sheet && g_sheet->owner_) CentreOverOwnerWindow(sheet, g_sheet->owner_);
}

void ClipsSheetPages::PlaceButtons(HWND sheet) {
  HWND tab = reinterpret_cast<HWND>(WinApi().SendMessageW(sheet, PSM_GETTABCONTROL, 0, 0));
  HWND ok = GetDlgItem(sheet, IDOK);
  HWND cancel = GetDlgItem(sheet, IDCANCEL);
  if (!tab || !ok || !cancel) return;
  RECT units = {0, 0, 0, 14};
  MapDialogRect(sheet, &units);
  const int h = units.bottom;
  RECT tabRect = {}, sheetRect = {}, okRect = {};
  GetWindowRect(tab, &tabRect);
  GetWindowRect(sheet, &sheetRect);
  GetWindowRect(ok, &okRect);
  const int w = okRect.right - okRect.left;
  POINT at = {tabRect.right - w, tabRect.bottom + (sheetRect.bottom - tabRect.bottom - h) / 2};
  ScreenToClient(sheet, &at);
  const int okHeight = okRect.bottom - okRect.top;
  SetWindowPos(cancel, nullptr, at.x, at.y, w, okHeight, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
  SetWindowPos(ok, nullptr, at.x - w - 8, at.y, w, okHeight, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOSIZE);
}

bool ClipsSheetPages::InitList(int index, HWND page) {
  ClipsSheet* sheet = g_sheet;
  InitCommonControls();
  HWND list = GetDlgItem(page, index == kFavoritesPage ? kFavoritesList : kRecentList);
  g_lists[index] = list;
  if (!list || !sheet) return false;
  const WinApiTable& api = WinApi();
  api.SendMessageW(list, LVM_SETBKCOLOR, 0, RGB(255, 255, 255));
  api.SendMessageW(list, CCM_SETUNICODEFORMAT, 1, 0);

  ClipRecord* records = nullptr;
  int count = 0;
  if (index == kFavoritesPage) {
    count = sheet->favorites_ ? sheet->favorites_->Read() : 0;
    records = sheet->favorites_ ? sheet->favorites_->Records() : nullptr;
  } else {
    count = sheet->history_ ? sheet->history_->Count() : 0;
    records = sheet->history_ ? sheet->history_->Records() : nullptr;
    if (count == 0) return true;
  }

  HIMAGELIST images = ImageList_Create(16, 16, 0xFF, count > 0 ? count : 1, 0);
  if (!images) return false;
  g_images[index] = images;
  for (int i = 0; i < count; ++i) {
    HICON icon = static_cast<HICON>(api.LoadImageW(sheet->instance_,
                                                   MAKEINTRESOURCEW(records[i].kind == 1 ? kFileIcon : kStreamIcon),
                                                   IMAGE_ICON, 16, 16, 0));
    if (!icon) return false;
    const int added = ImageList_AddIcon(images, icon);
    DestroyIcon(icon);
    if (added < 0) return false;
  }
  if (ImageList_GetImageCount(images) != count) return false;
  api.SendMessageW(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));

  RECT client = {};
  GetClientRect(list, &client);
  LVCOLUMNW column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH;
  column.fmt = LVCFMT_LEFT;
  column.cx = client.right - 1;
  if (ListViewInsertColumnCompat(list, 0, &column) < 0) return false;
  for (int i = 0; i < count; ++i) {
    LVITEMW item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
    item.iItem = i;
    item.pszText = LPSTR_TEXTCALLBACKW;
    item.cchTextMax = 64;
    item.iImage = i;
    item.lParam = reinterpret_cast<LPARAM>(&records[i]);
    if (ListViewInsertItemCompat(list, &item) < 0) return false;
  }

  HDC dc = GetDC(list);
  LOGFONTW record = {};
  MakeDefaultLogFont(&record, dc, 10);
  HFONT font = CreateFontFromFaceList(LoadShellText(sheet->instance_, kDialogFacesId).c_str(), dc, &record);
  ReleaseDC(list, dc);
  api.SendMessageW(list, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  (index == kFavoritesPage ? sheet->favoritesFont_ : sheet->recentFont_) = font;
  return true;
}

bool ClipsSheetPages::TakeSelected(int index) {
  ClipsSheet* sheet = g_sheet;
  HWND list = g_lists[index];
  if (!sheet || !list) return false;
  const int row = static_cast<int>(WinApi().SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  if (row < 0 || row >= ListRowCount(list)) return false;
  WinApi().SendMessageW(list, LVM_UPDATE, static_cast<WPARAM>(row), 0);
  const ClipRecord* record = RowRecord(list, row);
  if (!record) return false;
  wcsncpy(sheet->resultAddress_, record->address, 255);
  sheet->resultAddress_[255] = 0;
  sheet->resultKind_ = record->kind == 1 ? 1 : 2;
  return true;
}

void ClipsSheetPages::DrawRow(int index, NMLVCUSTOMDRAW* draw) {
  HWND list = g_lists[index];
  HDC dc = draw->nmcd.hdc;
  const int row = static_cast<int>(draw->nmcd.dwItemSpec);
  HFONT listFont = index == kFavoritesPage ? g_sheet->favoritesFont_ : g_sheet->recentFont_;
  LVITEMW item = {};
  item.mask = LVIF_IMAGE | LVIF_STATE | LVIF_PARAM;
  item.iItem = row;
  item.stateMask = LVIS_SELECTED | LVIS_DROPHILITED | LVIS_FOCUSED;
  if (!ListViewGetItemCompat(list, &item) || !item.lParam) return;
  const ClipRecord* record = reinterpret_cast<const ClipRecord*>(item.lParam);
  const bool listFocused = GetFocus() == list;
  const bool showAlways = (WinApi().GetWindowLongPtrW(list, GWL_STYLE) & LVS_SHOWSELALWAYS) != 0;
  const bool highlighted =
      (item.state & LVIS_DROPHILITED) || ((item.state & LVIS_SELECTED) && (listFocused || showAlways));

  HGDIOBJ oldFont = SelectObject(dc, FontForText(dc, listFont, record->title));
  RECT bounds = {}, icon = {}, label = {};
  bounds.left = LVIR_BOUNDS;
  icon.left = LVIR_ICON;
  label.left = LVIR_LABEL;
  WinApi().SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&bounds));
  WinApi().SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&icon));
  WinApi().SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label));
  SIZE title = {}, space = {};
  GetTextExtentPoint32W(dc, record->title, static_cast<int>(wcslen(record->title)), &title);
  GetTextExtentPoint32W(dc, L" ", 1, &space);
  if (label.right - label.left < title.cx + 2 * space.cx)
    WinApi().SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, LVSCW_AUTOSIZE);

  COLORREF background = RGB(255, 255, 255);
  COLORREF text = PlainTextColour();
  if (highlighted) {
    background = GetSysColor(COLOR_HIGHLIGHT);
    if (background == RGB(255, 255, 255)) background = RGB(0, 0x80, 0x80);
    const COLORREF highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    text = background == highlightText ? RGB(255, 255, 255) : highlightText;
  }
  HBRUSH fill = highlighted ? CreateSolidBrush(background) : static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  FillRect(dc, &bounds, fill);
  if (g_images[index])
    ImageList_Draw(g_images[index], item.iImage, dc, icon.left, icon.top,
                   ILD_TRANSPARENT | (highlighted ? ILD_BLEND50 : 0));
  RECT textRect = label;
  InflateRect(&textRect, -space.cx, 0);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, background);
  SetTextColor(dc, text);
  FillRect(dc, &label, fill);
  DrawTextW(dc, record->title, -1, &textRect, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  if ((item.state & LVIS_FOCUSED) && listFocused) DrawFocusRect(dc, &label);
  if (highlighted) DeleteObject(fill);
  SelectObject(dc, oldFont);
}

LRESULT ClipsSheetPages::CustomDraw(int index, NMLVCUSTOMDRAW* draw) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT: {
      // Without the list's font the list draws its rows itself.
      const HFONT font = index == kFavoritesPage ? g_sheet->favoritesFont_ : g_sheet->recentFont_;
      if (!font) return CDRF_DODEFAULT;
      DrawRow(index, draw);
      return CDRF_SKIPDEFAULT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

INT_PTR CALLBACK ClipsSheetPages::RenameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  ClipsSheet* sheet = g_sheet;
  if (!sheet) return FALSE;
  HWND edit = GetDlgItem(dialog, kRenameEdit);
  switch (message) {
    case WM_INITDIALOG:
      CentreOverOwnerWindow(dialog, sheet->owner_);
      ShowWindow(dialog, SW_SHOW);
      AttachFontLinking(edit, LoadShellText(sheet->instance_, kDialogFacesId).c_str());
      WinApi().SetDlgItemTextW(dialog, kRenameEdit, sheet->name_);
      SetFocus(edit);
      if (sheet->name_[0]) WinApi().SendMessageW(edit, EM_SETSEL, 0, -1);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        wchar_t text[256] = {};
        const int n = GetWindowTextCompat(edit, text, 256);
        if (n > 0 && text[0]) {
          wcscpy(sheet->name_, text);
          EndDialog(dialog, 1);
        } else {
          EndDialog(dialog, 0);
        }
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void ClipsSheetPages::Rename(HWND list, int row, ClipRecord* record) {
  ClipsSheet* sheet = g_sheet;
  wcsncpy(sheet->name_, record->title, 255);
  sheet->name_[255] = 0;
  if (WinApi().DialogBoxParamW(sheet->instance_, MAKEINTRESOURCEW(kRenameTemplate), list,
                               &ClipsSheetPages::RenameProc, 0) != 1)
    return;
  if (!sheet->favorites_ || sheet->favorites_->Rename(record->title, sheet->name_) != 1) return;
  wcscpy(record->title, sheet->name_);
  WinApi().SendMessageW(list, LVM_UPDATE, static_cast<WPARAM>(row), 0);
}

void ClipsSheetPages::Delete(HWND page, HWND list, int row, ClipRecord* record) {
  ClipsSheet* sheet = g_sheet;
  if (AskWithStrings(page, sheet->instance_, kDeleteQuestionId, record->title, kDeleteCaptionId,
                     MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) != IDYES)
    return;
  if (sheet->favorites_) sheet->favorites_->Delete(record->title);
  WinApi().SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(row), 0);
  RECT client = {};
  GetClientRect(list, &client);
  WinApi().SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, client.right);
}

void ClipsSheetPages::ContextMenu(HWND page) {
  ClipsSheet* sheet = g_sheet;
  HWND list = g_lists[kFavoritesPage];
  if (!sheet || !list) return;
  POINT cursor = {};
  GetCursorPos(&cursor);
  LVHITTESTINFO hit = {};
  hit.pt = cursor;
  ScreenToClient(list, &hit.pt);
  const int row = static_cast<int>(WinApi().SendMessageW(list, LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
  if (row < 0 || !(hit.flags & LVHT_ONITEM)) return;
  ClipRecord* record = RowRecord(list, row);
  if (!record) return;
  HMENU menu = WinApi().LoadMenuW(sheet->instance_, MAKEINTRESOURCEW(kClipsMenu));
  if (!menu) return;
  const int command = TrackPopupMenu(GetSubMenu(menu, 0), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, cursor.x,
                                     cursor.y, 0, page, nullptr);
  DestroyMenu(menu);
  switch (command) {
    case kClipsRename:
      Rename(list, row, record);
      break;
    case kClipsShowLocation:
      ShowMessageBox(page, record->address, LoadShellText(sheet->instance_, kLocationCaptionId).c_str(), MB_OK);
      break;
    case kClipsDelete:
      Delete(page, list, row, record);
      break;
    default:
      break;
  }
}

INT_PTR ClipsSheetPages::PageProc(int index, HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  ClipsSheet* sheet = g_sheet;
  if (!sheet) return FALSE;
  switch (message) {
    case WM_INITDIALOG: {
      HWND frame = GetParent(page);
      if (index == sheet->currentPage_) CentreSheet(frame);
      PlaceButtons(frame);
      WinApi().PostMessageW(page, kMsgShowList, 0, 0);
      if (!InitList(index, page)) {
        ShowMessage(sheet->instance_, 50002, nullptr, MB_ICONEXCLAMATION);
        return TRUE;
      }
      if (index == kFavoritesPage &&
          !WinApi().SendMessageW(g_lists[index], LVM_SORTITEMS, 0, reinterpret_cast<LPARAM>(&CompareTitles)))
        ShowMessage(sheet->instance_, 50007, nullptr, MB_ICONEXCLAMATION);
      SetFocus(g_lists[index]);
      sheet->currentPage_ = index;
      return FALSE;
    }
    case kMsgShowList: {
      RECT r = {};
      GetWindowRect(page, &r);
      if (g_lists[index]) {
        MoveWindow(g_lists[index], 0, 5, r.right - r.left, r.bottom - r.top - 5, TRUE);
        ShowWindow(g_lists[index], SW_SHOW);
      }
      return TRUE;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(page, &paint);
      RECT r = {};
      GetClientRect(page, &r);
      FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      EndPaint(page, &paint);
      return TRUE;
    }
    case WM_ERASEBKGND:
      SetResult(page, 1);
      return TRUE;
    case WM_DESTROY: {
      HFONT& font = index == kFavoritesPage ? sheet->favoritesFont_ : sheet->recentFont_;
      if (font) DeleteObject(font);
      font = nullptr;
      if (g_images[index]) ImageList_Destroy(g_images[index]);
      g_images[index] = nullptr;
      g_lists[index] = nullptr;
      return FALSE;
    }
    case WM_CHAR:
      if (wParam == VK_ESCAPE) CloseSheet(page);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        CloseSheet(page);
        return TRUE;
      }
      return FALSE;
    case WM_CONTEXTMENU:
      if (index == kFavoritesPage) ContextMenu(page);
      return TRUE;
    case WM_NOTIFY:
      break;
    default:
      return FALSE;
  }

  const NMHDR* note = reinterpret_cast<const NMHDR*>(lParam);
  if (!note || (note->hwndFrom != g_lists[index] && note->idFrom != 0)) return FALSE;
  switch (note->code) {
    case PSN_SETACTIVE:
      sheet->currentPage_ = index;
      SetResult(page, 0);
      return TRUE;
    case PSN_KILLACTIVE:
      SetResult(page, FALSE);
      return TRUE;
    case PSN_RESET:
      CloseSheet(page);
      return TRUE;
    case PSN_APPLY:
      if (index == sheet->currentPage_ && TakeSelected(index)) sheet->chosen_ = 1;
      CloseSheet(page);
      SetResult(page, PSNRET_NOERROR);
      return TRUE;
    case LVN_KEYDOWN:
      if (reinterpret_cast<const NMLVKEYDOWN*>(note)->wVKey == VK_ESCAPE) CloseSheet(page);
      return FALSE;
    case LVN_GETDISPINFOW: {
      auto* info = reinterpret_cast<NMLVDISPINFOW*>(lParam);
      const auto* record = reinterpret_cast<const ClipRecord*>(info->item.lParam);
      if (info->item.iSubItem == 0 && (info->item.mask & LVIF_TEXT) && record && info->item.pszText &&
          info->item.cchTextMax > 0) {
        wcsncpy(info->item.pszText, record->title, static_cast<size_t>(info->item.cchTextMax) - 1);
        info->item.pszText[info->item.cchTextMax - 1] = 0;
      }
      return TRUE;
    }
    case LVN_GETDISPINFOA: {
      auto* info = reinterpret_cast<NMLVDISPINFOA*>(lParam);
      const auto* record = reinterpret_cast<const ClipRecord*>(info->item.lParam);
      if (info->item.iSubItem == 0 && (info->item.mask & LVIF_TEXT) && record && info->item.pszText &&
          info->item.cchTextMax > 0) {
        const int n = WideCharToMultiByte(CP_ACP, 0, record->title, -1, info->item.pszText, info->item.cchTextMax,
                                          nullptr, nullptr);
        if (n <= 0) info->item.pszText[0] = 0;
        info->item.pszText[info->item.cchTextMax - 1] = 0;
      }
      return TRUE;
    }
    case NM_RETURN:
      if (TakeSelected(index)) sheet->chosen_ = 1;
      CloseSheet(page);
      return TRUE;
    case NM_DBLCLK:
      if (!TakeSelected(index)) return TRUE;
      sheet->chosen_ = 1;
      CloseSheet(page);
      return TRUE;
    case NM_CUSTOMDRAW:
      if (note->hwndFrom != g_lists[index]) return FALSE;
      SetResult(page, CustomDraw(index, reinterpret_cast<NMLVCUSTOMDRAW*>(lParam)));
      return TRUE;
    case NM_RCLICK:
      if (index == kFavoritesPage && note->hwndFrom == g_lists[index]) ContextMenu(page);
      return TRUE;
    default:
      return FALSE;
  }
}
