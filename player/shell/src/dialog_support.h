// What the player's dialogs share: placement over the owner, fonts from the
// player's face list, string loading, and the announcement to the owner.
#pragma once

#include <windows.h>

#include <string>

// String 60250: the faces the dialogs' fonts are made from, in order.
constexpr UINT kDialogFacesId = 60250;

std::wstring LoadShellText(HINSTANCE instance, UINT id);

// A message box (through the seam of messages.h) of string textId formatted
// with the argument, under the caption of string captionId; the answer.
int AskWithStrings(HWND owner, HINSTANCE instance, UINT textId, const wchar_t* argument, UINT captionId,
                   UINT style);

// Centres the dialog over the owner in each direction where it is not
// larger, else aligns it with the owner's edge; size and Z order kept.
void CentreOverOwnerWindow(HWND dialog, HWND owner);

// A font of the face list at a point size for a control, mapped to one that
// covers the UI code page, and set on the control (without redraw).
// `created` is the font to delete; the mapped one may belong to MLang.
struct DialogFont {
  HFONT created = nullptr;
  HFONT used = nullptr;
};
DialogFont MakeDialogFont(HINSTANCE instance, HWND control, int points, bool bold);
void SetDialogFont(HWND control, HFONT font);
void DeleteDialogFont(DialogFont* font);

// Message 1293 to the owner: wParam the dialog.
void AnnounceDialog(HWND owner, HWND dialog);
