#include "shell/win_api_table.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "ansi_text.h"
#include "shell/font_linking.h"
#include "shell/portable/dialog_geometry.h"
#include "shell/portable/string_block.h"
#include "win_api_ansi.h"

namespace {

void FillUnicodeTable(WinApiTable* t);

// Usable before StartWinApiLayer: the Unicode entries and the defaults.
WinApiState DefaultState() {
  WinApiState s = {};
  FillUnicodeTable(&s.table);
  s.uiLanguage = 1033;
  s.uiCodePage = 1252;
  s.maxCharSize = 2;
  return s;
}

WinApiState g_layer = DefaultState();

void FillUnicodeTable(WinApiTable* t) {
  t->DialogBoxParamW = ::DialogBoxParamW;
  t->RegisterClassExW = ::RegisterClassExW;
  t->DragQueryFileW = ::DragQueryFileW;
  t->PropertySheetW = ::PropertySheetW;
  t->LoadStringW = ::LoadStringW;
  t->GetTextFaceW = ::GetTextFaceW;
  t->GetWindowTextW = ::GetWindowTextW;
  t->RegisterClassW = ::RegisterClassW;
  t->GetDlgItemTextW = ::GetDlgItemTextW;
  t->CreateDialogParamCompat = ::CreateDialogParamCompat;
  t->CreateWindowExW = ::CreateWindowExW;
  t->FindWindowW = ::FindWindowW;
  t->InsertMenuW = ::InsertMenuW;
  t->ShellExecuteExW = ::ShellExecuteExW;
  t->ShellExecuteW = ::ShellExecuteW;
  t->CopyFileW = ::CopyFileW;
  t->MoveFileW = ::MoveFileW;
  t->GetOpenFileNameW = ::GetOpenFileNameW;
  t->GetSaveFileNameW = ::GetSaveFileNameW;
  t->SetWindowTextW = ::SetWindowTextW;
  t->DeleteFileW = ::DeleteFileW;
  t->SetDlgItemTextW = ::SetDlgItemTextW;
  t->CreateProcessW = ::CreateProcessW;
  t->RegOpenKeyExW = ::RegOpenKeyExW;
  t->RegQueryValueExW = ::RegQueryValueExW;
  t->RegSetValueExW = ::RegSetValueExW;
  t->RegQueryInfoKeyW = ::RegQueryInfoKeyW;
  t->RegCreateKeyExW = ::RegCreateKeyExW;
  t->RegDeleteKeyW = ::RegDeleteKeyW;
  t->LoadIconW = ::LoadIconW;
  t->LoadMenuW = ::LoadMenuW;
  t->CreateFontIndirectW = ::CreateFontIndirectW;
  t->GetModuleFileNameW = ::GetModuleFileNameW;
  t->GetModuleHandleW = ::GetModuleHandleW;
  t->LoadAcceleratorsW = ::LoadAcceleratorsW;
  t->CreateFileW = ::CreateFileW;
  t->LoadImageW = ::LoadImageW;
  t->CreateEventW = ::CreateEventW;
  t->CreateMutexW = ::CreateMutexW;
  t->LoadCursorW = ::LoadCursorW;
  t->LoadLibraryW = ::LoadLibraryW;
  t->GetProcAddressW = ::GetProcAddressW;
  t->TranslateAcceleratorW = ::TranslateAcceleratorW;
  t->IsDialogMessageW = ::IsDialogMessageW;
  t->GetMessageW = ::GetMessageW;
  t->PeekMessageW = ::PeekMessageW;
  t->PostMessageW = ::PostMessageW;
  t->SetWindowLongPtrW = ::SetWindowLongPtrW;
  t->DispatchMessageW = ::DispatchMessageW;
  t->SendMessageW = ::SendMessageW;
  t->CallWindowProcW = ::CallWindowProcW;
  t->DefWindowProcW = ::DefWindowProcW;
  t->GetWindowLongPtrW = ::GetWindowLongPtrW;
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR found) {
  *reinterpret_cast<LANGID*>(found) = language;
  return FALSE;
}

}  // namespace

const WinApiTable& WinApi() { return g_layer.table; }
const WinApiState& WinApiLayer() { return g_layer; }

void StartWinApiLayer() {
  g_layer.instance = GetModuleHandleA(nullptr);
  g_layer.resourceModule = g_layer.instance;
  CPINFO info = {};
  g_layer.maxCharSize = GetCPInfo(CP_ACP, &info) ? info.MaxCharSize : 2;
  g_layer.windowTextCodePage = 0;
  DetectPlatform();
  InitWinApiTable();
  InitUiLanguage(g_layer.resourceModule);
  StartFontLinking();
  StartWindowTextTable();
}

void StopWinApiLayer() {
  StopWindowTextTable();
  StopFontLinking();
}

void DetectPlatform() {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  g_layer.win9x = GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
  char forced[4] = {};
  if (GetEnvironmentVariableA("ORLOMER_WIN9X_MODE", forced, sizeof(forced)) == 1)
    g_layer.win9x = forced[0] == '1';
}

void InitWinApiTable() {
  if (g_layer.win9x)
    FillAnsiTable(&g_layer.table);
  else
    FillUnicodeTable(&g_layer.table);
}

void InitUiLanguage(HMODULE module) {
  g_layer.uiLanguage = 1033;
  g_layer.uiCodePage = 1252;
  LANGID found = 0;
  EnumResourceLanguagesW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), FirstLanguage,
                         reinterpret_cast<LONG_PTR>(&found));
  if (found == 0) return;
  g_layer.uiLanguage = found;
  char number[7] = {};
  if (GetLocaleInfoA(MAKELCID(found, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE, number, 6) > 0) {
    const int cp = std::atoi(number);
    if (cp > 0) g_layer.uiCodePage = static_cast<UINT>(cp);
  }
}

int WINAPI LoadStringForLanguage(HINSTANCE module, UINT id, LPWSTR buffer, int capacity) {
  if (!module) module = g_layer.resourceModule ? g_layer.resourceModule : GetModuleHandleA(nullptr);
  HRSRC found = FindResourceExW(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW((id >> 4) + 1),
                                g_layer.uiLanguage ? g_layer.uiLanguage : 1033);
  if (!found) return -1;
  HGLOBAL loaded = LoadResource(module, found);
  if (!loaded) return -1;
  const void* block = LockResource(loaded);
  if (!block) return -1;
  return shell::CopyStringFromBlock(static_cast<const uint16_t*>(block), SizeofResource(module, found) / 2,
                                    id & 15, reinterpret_cast<char16_t*>(buffer), capacity);
}

FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name) {
  AnsiArg a(name, true);
  return GetProcAddress(module, a.get());
}

HWND WINAPI CreateDialogParamCompat(HINSTANCE instance, LPCWSTR templateName, HWND parent,
                                    DLGPROC procedure, LPARAM parameter) {
  if (!g_layer.win9x) return CreateDialogParamW(instance, templateName, parent, procedure, parameter);
  AnsiArg a(templateName, true);
  return CreateDialogParamA(instance, a.get(), parent, procedure, parameter);
}

const void* WinApiSlot(const WinApiTable& table, size_t index) {
  const void* slot = nullptr;
  if (index < kWinApiSlotCount)
    std::memcpy(&slot, reinterpret_cast<const char*>(&table) + index * sizeof(void*), sizeof(slot));
  return slot;
}

namespace {

// UTF-16 text in the UI code page, sized for that code page's widest character.
std::vector<char> UiText(const wchar_t* text) {
  CPINFO info = {};
  const UINT size = GetCPInfo(g_layer.uiCodePage, &info) ? info.MaxCharSize : 2;
  const size_t length = wcslen(text);
  std::vector<char> out(length * size + 1, '\0');
  WideCharToMultiByte(g_layer.uiCodePage, 0, text, static_cast<int>(length + 1), out.data(),
                      static_cast<int>(out.size()), nullptr, nullptr);
  out.back() = 0;
  return out;
}

}  // namespace

LRESULT ListViewInsertColumnCompat(HWND listView, int index, const LVCOLUMNW* column) {
  if (!g_layer.win9x)
    return SendMessageW(listView, LVM_INSERTCOLUMNW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(column));
  LVCOLUMNA a = {};
  a.mask = column->mask;
  a.fmt = column->fmt;
  a.cx = column->cx;
  a.cchTextMax = column->cchTextMax;
  a.iSubItem = column->iSubItem;
  a.iImage = column->iImage;
  a.iOrder = column->iOrder;
  std::vector<char> text;
  if ((column->mask & LVCF_TEXT) && column->pszText) {
    text = UiText(column->pszText);
    a.pszText = text.data();
  } else {
    a.pszText = reinterpret_cast<LPSTR>(column->pszText);
  }
  return WinApi().SendMessageW(listView, LVM_INSERTCOLUMNA, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&a));
}

namespace {

void CopyItem(const LVITEMW& w, LVITEMA* a) {
  a->mask = w.mask;
  a->iItem = w.iItem;
  a->iSubItem = w.iSubItem;
  a->state = w.state;
  a->stateMask = w.stateMask;
  a->cchTextMax = w.cchTextMax;
  a->iImage = w.iImage;
  a->lParam = w.lParam;
  a->iIndent = w.iIndent;
}

bool ItemHasText(const LVITEMW& w) {
  return (w.mask & LVIF_TEXT) && w.pszText && w.pszText != LPSTR_TEXTCALLBACKW;
}

}  // namespace

LRESULT ListViewInsertItemCompat(HWND listView, const LVITEMW* item) {
  if (!g_layer.win9x) return SendMessageW(listView, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(item));
  LVITEMA a = {};
  CopyItem(*item, &a);
  std::vector<char> text;
  if (ItemHasText(*item)) {
    text = UiText(item->pszText);
    a.pszText = text.data();
  } else {
    a.pszText = reinterpret_cast<LPSTR>(item->pszText);
  }
  return WinApi().SendMessageW(listView, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&a));
}

BOOL ListViewGetItemCompat(HWND listView, LVITEMW* item) {
  if (!g_layer.win9x)
    return SendMessageW(listView, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(item)) ? TRUE : FALSE;
  LVITEMA a = {};
  CopyItem(*item, &a);
  const bool text = ItemHasText(*item) && item->cchTextMax > 0;
  CPINFO info = {};
  const UINT size = GetCPInfo(g_layer.uiCodePage, &info) ? info.MaxCharSize : 2;
  std::vector<char> buffer(text ? static_cast<size_t>(item->cchTextMax) * size + 1 : 1, '\0');
  a.pszText = text ? buffer.data() : reinterpret_cast<LPSTR>(item->pszText);
  if (text) a.cchTextMax = static_cast<int>(buffer.size() - 1);
  const BOOL ok = WinApi().SendMessageW(listView, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&a)) ? TRUE : FALSE;
  LPWSTR callerText = item->pszText;
  const int callerCapacity = item->cchTextMax;
  item->mask = a.mask;
  item->iItem = a.iItem;
  item->iSubItem = a.iSubItem;
  item->state = a.state;
  item->stateMask = a.stateMask;
  item->iImage = a.iImage;
  item->lParam = a.lParam;
  item->iIndent = a.iIndent;
  item->pszText = callerText;
  item->cchTextMax = callerCapacity;
  if (ok && text && a.pszText) AnsiToWide(g_layer.uiCodePage, a.pszText, -1, callerText, callerCapacity);
  return ok;
}

UINT_PTR CALLBACK FileDialogHookProc(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    AttachFontLinking(GetDlgItem(GetParent(hook), 1152), L"");
  } else if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(lParam)->code == CDN_INITDONE) {
    HWND dialog = GetParent(hook);
    HWND owner = GetParent(dialog);
    RECT d = {}, o = {};
    if (owner && GetWindowRect(dialog, &d) && GetWindowRect(owner, &o)) {
      int32_t x = 0, y = 0;
      const int32_t width = d.right - d.left, height = d.bottom - d.top;
      if (shell::CentreOverOwner({o.left, o.top, o.right, o.bottom}, width, height,
                                 GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), &x, &y))
        SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
  }
  return 0;
}
