#include "dialog_support.h"

#include "shell/about_dialogs.h"
#include "shell/font_linking.h"
#include "shell/messages.h"
#include "shell/portable/message_text.h"
#include "shell/portable/dialog_geometry.h"
#include "shell/win_api_table.h"

std::wstring LoadShellText(HINSTANCE instance, UINT id) {
  wchar_t text[256] = {};
  if (WinApi().LoadStringW(instance, id, text, 256) <= 0) return std::wstring();
  return text;
}

int AskWithStrings(HWND owner, HINSTANCE instance, UINT textId, const wchar_t* argument, UINT captionId,
                   UINT style) {
  const std::wstring pattern = LoadShellText(instance, textId);
  wchar_t text[shell::kMessageCapacity] = {};
  shell::FormatMessageText(reinterpret_cast<const char16_t*>(pattern.c_str()),
                           reinterpret_cast<const char16_t*>(argument), reinterpret_cast<char16_t*>(text),
                           shell::kMessageCapacity);
  return ShowMessageBox(owner, text, LoadShellText(instance, captionId).c_str(), style);
}

void CentreOverOwnerWindow(HWND dialog, HWND owner) {
  RECT own = {}, mine = {};
  if (!GetWindowRect(owner ? owner : GetDesktopWindow(), &own) || !GetWindowRect(dialog, &mine)) return;
  const int x = shell::CentreOrAlign(own.left, own.right - own.left, mine.right - mine.left);
  const int y = shell::CentreOrAlign(own.top, own.bottom - own.top, mine.bottom - mine.top);
  SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE);
}

DialogFont MakeDialogFont(HINSTANCE instance, HWND control, int points, bool bold) {
  DialogFont font;
  if (!control) return font;
  const std::wstring faces = LoadShellText(instance, kDialogFacesId);
  HDC dc = GetDC(control);
  LOGFONTW record = {};
  MakeDefaultLogFont(&record, dc, points);
  record.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  font.created = CreateFontFromFaceList(faces.c_str(), dc, &record);
  font.used = font.created ? FontForCodePages(dc, font.created, CodePageSetOf(WinApiLayer().uiCodePage)) : nullptr;
  ReleaseDC(control, dc);
  SetDialogFont(control, font.used);
  return font;
}

void SetDialogFont(HWND control, HFONT font) {
  if (control && font) WinApi().SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void DeleteDialogFont(DialogFont* font) {
  if (font->created) DeleteObject(font->created);
  *font = DialogFont();
}

void AnnounceDialog(HWND owner, HWND dialog) {
  if (owner) WinApi().SendMessageW(owner, kMsgDialogShown, reinterpret_cast<WPARAM>(dialog), 0);
}
