#include "shell/about_dialogs.h"

#include <cwchar>

#include "dialog_support.h"
#include "shell/portable/clip_list.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

constexpr int kBodySizeText = 1057;
constexpr int kTitleSizeText = 1058;
constexpr int kAboutTitle = 1052;
constexpr int kAboutLast = 1056;
constexpr int kMediaBufferTitle = 1000;
constexpr int kMediaBufferText = 1001;

// The About dialog's process-wide state while it exists.
AboutDialog* g_about = nullptr;
HINSTANCE g_aboutInstance = nullptr;
DialogFont g_aboutTitleFont;
DialogFont g_aboutBodyFont;

int ControlNumber(HWND dialog, int id) {
  wchar_t text[16] = {};
  GetDlgItemTextW(dialog, id, text, 16);
  return _wtoi(text);
}

// The logo: the bitmap's pixel (1, 1) stretched over the whole client
// area, its top-left 165 x 74 pixels at the top, and a rule in the colour
// of pixel (0, 75) across at 28 % of the height; drawn off screen first.
void PaintAboutBackground(HWND dialog, HDC dc) {
  RECT client = {};
  GetClientRect(dialog, &client);
  const int w = client.right, h = client.bottom;
  HBITMAP logo = static_cast<HBITMAP>(
      WinApi().LoadImageW(g_aboutInstance, MAKEINTRESOURCEW(kAboutBitmap), IMAGE_BITMAP, 0, 0, 0));
  HDC screen = CreateCompatibleDC(dc);
  HBITMAP surface = CreateCompatibleBitmap(dc, w, h);
  HGDIOBJ oldSurface = SelectObject(screen, surface);
  if (logo) {
    HDC art = CreateCompatibleDC(dc);
    HGDIOBJ oldArt = SelectObject(art, logo);
    StretchBlt(screen, 0, 0, w, h, art, 1, 1, 1, 1, SRCCOPY);
    BitBlt(screen, 0, 0, 165, 74, art, 0, 0, SRCCOPY);
    StretchBlt(screen, 0, h * 28 / 100, w - 1, 1, art, 0, 75, 1, 1, SRCCOPY);
    SelectObject(art, oldArt);
    DeleteDC(art);
    DeleteObject(logo);
  } else {
    FillRect(screen, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  BitBlt(dc, 0, 0, w, h, screen, 0, 0, SRCCOPY);
  SelectObject(screen, oldSurface);
  DeleteObject(surface);
  DeleteDC(screen);
}

// The Media Buffer dialog's object while it runs.
MediaBufferDialog* g_mediaBuffer = nullptr;
DialogFont g_mediaTitleFont;
DialogFont g_mediaBodyFont;

}  // namespace

// ---- About ----

AboutDialog::AboutDialog(HWND owner) : owner_(owner) {
  g_about = this;
  g_aboutTitleFont = DialogFont();
  g_aboutBodyFont = DialogFont();
}

AboutDialog::~AboutDialog() {
  DeleteDialogFont(&g_aboutTitleFont);
  DeleteDialogFont(&g_aboutBodyFont);
  if (g_about == this) g_about = nullptr;
}

INT_PTR AboutDialog::DoModal(HWND owner, HINSTANCE instance) {
  g_about = this;
  owner_ = owner;
  g_aboutInstance = instance;
  return WinApi().DialogBoxParamW(instance, MAKEINTRESOURCEW(kAboutTemplate), owner, &AboutDialog::DialogProc, 0);
}

INT_PTR CALLBACK AboutDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      CentreOverOwnerWindow(dialog, g_about ? g_about->owner_ : nullptr);
      DeleteDialogFont(&g_aboutTitleFont);
      DeleteDialogFont(&g_aboutBodyFont);
      g_aboutTitleFont = MakeDialogFont(g_aboutInstance, GetDlgItem(dialog, kAboutTitle),
                                        ControlNumber(dialog, kTitleSizeText), true);
      g_aboutBodyFont = MakeDialogFont(g_aboutInstance, GetDlgItem(dialog, kAboutTitle + 1),
                                       ControlNumber(dialog, kBodySizeText), false);
      for (int id = kAboutTitle + 2; id <= kAboutLast; ++id) SetDialogFont(GetDlgItem(dialog, id), g_aboutBodyFont.used);
      AnnounceDialog(g_about ? g_about->owner_ : nullptr, dialog);
      return TRUE;
    }
    case WM_ERASEBKGND:
      SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 1);
      return TRUE;
    case WM_PAINT: {
      // The statics stay hidden while the background goes down, then draw
      // themselves over it.
      for (int id = kAboutTitle; id <= kAboutLast; ++id) ShowWindow(GetDlgItem(dialog, id), SW_HIDE);
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(dialog, &paint);
      PaintAboutBackground(dialog, dc);
      EndPaint(dialog, &paint);
      for (int id = kAboutTitle; id <= kAboutLast; ++id) ShowWindow(GetDlgItem(dialog, id), SW_SHOWNA);
      SetFocus(dialog);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkMode(dc, TRANSPARENT);
      (void)lParam;
      return reinterpret_cast<INT_PTR>(GetStockObject(HOLLOW_BRUSH));
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 1);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

// ---- Media Buffer ----

MediaBufferDialog::MediaBufferDialog() { g_mediaBuffer = this; }

MediaBufferDialog::~MediaBufferDialog() {
  if (g_mediaBuffer == this) g_mediaBuffer = nullptr;
}

int32_t MediaBufferDialog::DoModal(HWND owner, HINSTANCE instance) {
  g_mediaBuffer = this;
  owner_ = owner;
  instance_ = instance;
  value_ = -1;
  const INT_PTR result = WinApi().DialogBoxParamW(instance, MAKEINTRESOURCEW(kMediaBufferTemplate), owner,
                                                  &MediaBufferDialog::DialogProc, 0);
  DeleteDialogFont(&g_mediaTitleFont);
  DeleteDialogFont(&g_mediaBodyFont);
  if (result <= 0) return -1;
  return value_;
}

INT_PTR CALLBACK MediaBufferDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  MediaBufferDialog* self = g_mediaBuffer;
  if (!self) return FALSE;
  HWND slider = GetDlgItem(dialog, kMediaBufferSlider);
  auto repaintLabels = [dialog] {
    InvalidateRect(GetDlgItem(dialog, kMediaBufferSmaller), nullptr, TRUE);
    InvalidateRect(GetDlgItem(dialog, kMediaBufferLarger), nullptr, TRUE);
  };
  switch (message) {
    case WM_INITDIALOG: {
      CentreOverOwnerWindow(dialog, self->owner_);
      DeleteDialogFont(&g_mediaTitleFont);
      DeleteDialogFont(&g_mediaBodyFont);
      g_mediaTitleFont = MakeDialogFont(self->instance_, GetDlgItem(dialog, kMediaBufferTitle), 8, true);
      g_mediaBodyFont = MakeDialogFont(self->instance_, GetDlgItem(dialog, kMediaBufferText), 8, false);
      for (int id : {kMediaBufferSmaller, kMediaBufferLarger, kMediaBufferDefaultButton, kMediaBufferCustomButton})
        SetDialogFont(GetDlgItem(dialog, id), g_mediaBodyFont.used);
      DWORD stored = 0;
      if (!ReadSettingDwordById(self->instance_, shell::kMaximumBufferedData, &stored)) stored = 0;
      const int32_t value = static_cast<int32_t>(stored);
      CheckRadioButton(dialog, kMediaBufferDefaultButton, kMediaBufferCustomButton,
                       value == 0 ? kMediaBufferDefaultButton : kMediaBufferCustomButton);
      EnableWindow(slider, value != 0);
      WinApi().SendMessageW(slider, TBM_SETRANGE, TRUE, MAKELPARAM(0, shell::kMediaBufferPositions));
      WinApi().SendMessageW(slider, TBM_SETPOS, TRUE, shell::MediaBufferPosition(value));
      AnnounceDialog(self->owner_, dialog);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kMediaBufferDefaultButton:
        case kMediaBufferCustomButton:
          if (HIWORD(wParam) != BN_CLICKED) return FALSE;
          CheckRadioButton(dialog, kMediaBufferDefaultButton, kMediaBufferCustomButton, LOWORD(wParam));
          EnableWindow(slider, LOWORD(wParam) == kMediaBufferCustomButton);
          repaintLabels();
          return TRUE;
        case IDOK:
          self->value_ = shell::MediaBufferValue(IsDlgButtonChecked(dialog, kMediaBufferDefaultButton) == BST_CHECKED,
                                                 static_cast<int32_t>(WinApi().SendMessageW(slider, TBM_GETPOS, 0, 0)));
          EndDialog(dialog, 1);
          return TRUE;
        case IDCANCEL:
          self->value_ = -1;
          EndDialog(dialog, 1);
          return TRUE;
        default:
          return FALSE;
      }
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if ((id != kMediaBufferSmaller && id != kMediaBufferLarger) ||
          IsDlgButtonChecked(dialog, kMediaBufferDefaultButton) != BST_CHECKED)
        return FALSE;
      HDC dc = reinterpret_cast<HDC>(wParam);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, GetSysColor(COLOR_GRAYTEXT));
      return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_MENU));
    }
    case WM_PAINT:
      SetFocus(dialog);
      return FALSE;
    default:
      return FALSE;
  }
}
