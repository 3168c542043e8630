#include "shell/clip_info_dialog.h"

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "dialog_support.h"
#include "shell/font_linking.h"
#include "shell/portable/clip_list.h"
#include "shell/win_api_table.h"

namespace {

constexpr UINT kFirstLabelText = 60221;
constexpr UINT kMeasure = DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK | DT_WORD_ELLIPSIS;
constexpr UINT kDraw = DT_NOPREFIX | DT_WORDBREAK | DT_WORD_ELLIPSIS;
// Pixels around the rows, between the label column and the values, and
// between rows.
constexpr int kMargin = 6;
constexpr int kColumnGap = 6;
constexpr int kRowGap = 4;

ClipInfoDialog* g_clipInfo = nullptr;

COLORREF TextColour() {
  const COLORREF c = GetSysColor(COLOR_WINDOWTEXT);
  return c == RGB(255, 255, 255) ? RGB(0, 0, 0) : c;
}

void OffsetRows(RECT* rects, int count, int dy) {
  for (int i = 0; i < count; ++i) OffsetRect(&rects[i], 0, dy);
}

// Draws a text the way the dialog paints it: UTF-16 on NT, the ANSI code
// page in the Windows 9x mode.
void DrawTextCompat(HDC dc, const wchar_t* text, RECT* rect, UINT flags) {
  if (!IsWin9xMode()) {
    DrawTextW(dc, text, -1, rect, flags);
    return;
  }
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::vector<char> ansi(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
  if (bytes > 0) WideCharToMultiByte(CP_ACP, 0, text, -1, ansi.data(), bytes, nullptr, nullptr);
  DrawTextA(dc, ansi.data(), -1, rect, flags);
}

}  // namespace

ClipInfoDialog::ClipInfoDialog(const wchar_t* title, const wchar_t* author, const wchar_t* copyright,
                               const wchar_t* rating, const wchar_t* description) {
  const wchar_t* sources[kClipInfoRows] = {title, author, copyright, rating, description};
  for (int i = 0; i < kClipInfoRows; ++i) {
    const wchar_t* s = sources[i];
    if (!s || !s[0]) s = L" ";
    const size_t kept = shell::KeptClipUnits(reinterpret_cast<const char16_t*>(s), wcslen(s));
    wmemcpy(texts_[i], s, kept);
    texts_[i][kept] = 0;
  }
}

ClipInfoDialog::~ClipInfoDialog() {
  if (labelFont_) DeleteObject(labelFont_);
  if (g_clipInfo == this) g_clipInfo = nullptr;
}

INT_PTR ClipInfoDialog::DoModal(HWND owner) {
  owner_ = owner;
  position_ = 0;
  scrollBarShown_ = false;
  g_clipInfo = this;
  const INT_PTR result = WinApi().DialogBoxParamW(WinApi().GetModuleHandleW(nullptr),
                                                  MAKEINTRESOURCEW(kClipInfoTemplate), owner,
                                                  &ClipInfoDialog::DialogProc, 0);
  g_clipInfo = nullptr;
  dialog_ = nullptr;
  return result;
}

void ClipInfoDialog::Layout() {
  HINSTANCE instance = WinApi().GetModuleHandleW(nullptr);
  HDC dc = GetDC(dialog_);
  LOGFONTW record = {};
  MakeDefaultLogFont(&record, dc, 8);
  if (labelFont_) DeleteObject(labelFont_);
  labelFont_ = CreateFontFromFaceList(LoadShellText(instance, kDialogFacesId).c_str(), dc, &record);
  for (int i = 0; i < kClipInfoRows; ++i) valueFonts_[i] = FontForText(dc, labelFont_, texts_[i]);
  scrollBarWidth_ = GetSystemMetrics(SM_CXVSCROLL);

  RECT client = {};
  GetClientRect(dialog_, &client);
  HGDIOBJ old = SelectObject(dc, labelFont_);
  std::wstring labels[kClipInfoRows];
  int labelWidth = 0;
  for (int i = 0; i < kClipInfoRows; ++i) {
    labels[i] = LoadShellText(instance, kFirstLabelText + i);
    RECT r = {0, 0, client.right, 0};
    DrawTextW(dc, labels[i].c_str(), -1, &r, kMeasure);
    labelWidth = std::max(labelWidth, static_cast<int>(r.right));
  }
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  // Values wrap in the room left of the scroll bar's place, so showing it
  // never changes the wrapping.
  const int valueLeft = kMargin + labelWidth + kColumnGap;
  const int valueRight = std::max(valueLeft + 1, static_cast<int>(client.right) - kMargin - scrollBarWidth_);
  int top = kMargin;
  for (int i = 0; i < kClipInfoRows; ++i) {
    RECT label = {kMargin, top, kMargin + labelWidth, top};
    DrawTextW(dc, labels[i].c_str(), -1, &label, kMeasure);
    label.right = kMargin + labelWidth;
    SelectObject(dc, valueFonts_[i]);
    RECT value = {valueLeft, top, valueRight, top};
    DrawTextW(dc, texts_[i], -1, &value, kMeasure);
    value.right = valueRight;
    SelectObject(dc, labelFont_);
    labels_[i] = label;
    values_[i] = value;
    top = std::max(label.bottom, value.bottom) + kRowGap;
  }
  SelectObject(dc, old);
  ReleaseDC(dialog_, dc);
  lineHeight_ = std::max<int32_t>(1, metrics.tmHeight);
  if (std::max(labels_[kClipInfoRows - 1].bottom, values_[kClipInfoRows - 1].bottom) > client.bottom)
    ShowScrollBar();
}

void ClipInfoDialog::ShowScrollBar() {
  RECT client = {};
  GetClientRect(dialog_, &client);
  HWND bar = GetDlgItem(dialog_, kClipInfoScrollBar);
  SetWindowPos(bar, nullptr, client.right - scrollBarWidth_, 0, scrollBarWidth_, client.bottom,
               SWP_NOZORDER | SWP_NOACTIVATE);
  const int rowsHeight =
      std::max(labels_[kClipInfoRows - 1].bottom, values_[kClipInfoRows - 1].bottom) + kMargin - labels_[0].top +
      kMargin;
  visibleLines_ = std::max<int32_t>(1, client.bottom / lineHeight_);
  totalLines_ = (rowsHeight + lineHeight_ - 1) / lineHeight_;
  SCROLLINFO info = {};
  info.cbSize = sizeof(info);
  info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  info.nMin = 0;
  info.nMax = totalLines_ - 1;
  info.nPage = static_cast<UINT>(visibleLines_);
  info.nPos = 0;
  SetScrollInfo(bar, SB_CTL, &info, TRUE);
  ShowWindow(bar, SW_SHOWNA);
  scrollBarShown_ = true;
}

void ClipInfoDialog::Scroll(WPARAM request) {
  if (!scrollBarShown_) return;
  HWND bar = GetDlgItem(dialog_, kClipInfoScrollBar);
  shell::ScrollRequest kind;
  int32_t thumb = 0;
  switch (LOWORD(request)) {
    case SB_LINEUP: kind = shell::ScrollRequest::kLineUp; break;
    case SB_LINEDOWN: kind = shell::ScrollRequest::kLineDown; break;
    case SB_PAGEUP: kind = shell::ScrollRequest::kPageUp; break;
    case SB_PAGEDOWN: kind = shell::ScrollRequest::kPageDown; break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
      kind = shell::ScrollRequest::kThumb;
      thumb = static_cast<int16_t>(HIWORD(request));
      break;
    default:
      return;
  }
  const int32_t next = shell::ClipInfoScroll(kind, position_, thumb, visibleLines_, totalLines_);
  const int dy = (position_ - next) * lineHeight_;
  position_ = next;
  OffsetRows(labels_, kClipInfoRows, dy);
  OffsetRows(values_, kClipInfoRows, dy);
  SetScrollPos(bar, SB_CTL, position_, TRUE);
  RedrawWindow(dialog_, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void ClipInfoDialog::DrawControl(HWND control, const wchar_t* text, HFONT font) {
  RECT r = {};
  GetClientRect(control, &r);
  HDC dc = GetDC(control);
  FillRect(dc, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, TextColour());
  HGDIOBJ old = SelectObject(dc, font);
  DrawTextCompat(dc, text, &r, kDraw);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
}

void ClipInfoDialog::Paint(HDC dc) {
  RECT client = {};
  GetClientRect(dialog_, &client);
  if (scrollBarShown_) client.right -= scrollBarWidth_;
  FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HINSTANCE instance = WinApi().GetModuleHandleW(nullptr);
  for (int i = 0; i < kClipInfoRows; ++i) {
    HWND label = GetDlgItem(dialog_, kClipInfoFirstLabel + i);
    HWND value = GetDlgItem(dialog_, kClipInfoFirstValue + i);
    const RECT& l = labels_[i];
    const RECT& v = values_[i];
    SetWindowPos(label, nullptr, l.left, l.top, l.right - l.left, l.bottom - l.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOREDRAW);
    SetWindowPos(value, nullptr, v.left, v.top, v.right - v.left, v.bottom - v.top,
                 SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW | SWP_NOREDRAW);
    DrawControl(label, LoadShellText(instance, kFirstLabelText + i).c_str(), labelFont_);
    DrawControl(value, texts_[i], valueFonts_[i]);
  }
  SetFocus(dialog_);
}

void ClipInfoDialog::Place() {
  RECT mine = {}, own = {}, ownClient = {};
  if (!owner_ || !GetWindowRect(dialog_, &mine) || !GetWindowRect(owner_, &own) ||
      !GetClientRect(owner_, &ownClient))
    return;
  POINT origin = {0, 0};
  ClientToScreen(owner_, &origin);
  const int width = mine.right - mine.left;
  const int ownerWidth = own.right - own.left;
  const int x = width <= ownerWidth ? origin.x + (ownerWidth - width) / 2 : origin.x;
  SetWindowPos(dialog_, nullptr, x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK ClipInfoDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  ClipInfoDialog* self = g_clipInfo;
  if (!self) return FALSE;
  switch (message) {
    case WM_INITDIALOG:
      self->dialog_ = dialog;
      self->Layout();
      self->Place();
      AnnounceDialog(GetParent(dialog), dialog);
      return FALSE;
    case WM_SETFOCUS:
      return TRUE;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(dialog, &paint);
      self->Paint(dc);
      EndPaint(dialog, &paint);
      return TRUE;
    }
    case WM_ERASEBKGND:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 1);
        return TRUE;
      }
      return FALSE;
    case WM_VSCROLL:
      self->Scroll(wParam);
      return TRUE;
    case WM_CTLCOLORSTATIC:
      return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
    default:
      return FALSE;
  }
}
