#include "shell/location_dialog.h"

#include <cwchar>

#include "dialog_support.h"
#include "shell/font_linking.h"
#include "shell/win_api_table.h"

namespace {

constexpr int kAddressCapacity = 256;
wchar_t g_address[kAddressCapacity];
LocationDialog* g_dialog = nullptr;
HWND g_owner = nullptr;
HINSTANCE g_instance = nullptr;

}  // namespace

LocationDialog::LocationDialog(const wchar_t* initialText) {
  g_address[0] = 0;
  if (initialText) {
    wcsncpy(g_address, initialText, kAddressCapacity - 1);
    g_address[kAddressCapacity - 1] = 0;
  }
}

LocationDialog::~LocationDialog() {
  if (g_dialog == this) g_dialog = nullptr;
}

const wchar_t* LocationDialog::Address() { return g_address; }

INT_PTR LocationDialog::DoModal(HWND owner, HINSTANCE instance) {
  g_dialog = this;
  g_owner = owner;
  g_instance = instance;
  const INT_PTR result =
      WinApi().DialogBoxParamW(instance, MAKEINTRESOURCEW(kLocationTemplate), owner, &LocationDialog::DialogProc, 0);
  g_dialog = nullptr;
  return result;
}

INT_PTR CALLBACK LocationDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  HWND edit = GetDlgItem(dialog, kLocationEdit);
  switch (message) {
    case WM_INITDIALOG: {
      AttachFontLinking(edit, LoadShellText(g_instance, kDialogFacesId).c_str());
      WinApi().SetWindowTextW(edit, g_address);
      const int length = WinApi().GetWindowTextW(edit, g_address, kAddressCapacity);
      SetFocus(edit);
      WinApi().SendMessageW(edit, EM_SETSEL, 0, length > 0 ? length : 0);
      CentreOverOwnerWindow(dialog, g_owner);
      return FALSE;  // the focus is set
    }
    case WM_PAINT:
      SetFocus(edit);
      return FALSE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        // Cut to the buffer: at most 255 units come back.
        if (GetWindowTextCompat(edit, g_address, kAddressCapacity) <= 0) g_address[0] = 0;
        EndDialog(dialog, 1);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 2);
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}
