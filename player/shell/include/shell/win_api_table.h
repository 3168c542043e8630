// The process-wide table of the 53 system functions that have an ANSI and a
// Unicode form. Every part of the player calls them through this table: on
// Windows NT it holds the Unicode functions, on Windows 9x the ANSI ones or
// converting wrappers that take the same UTF-16 arguments. It is written once
// by StartWinApiLayer, before the first window, and read without a lock.
#pragma once

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstddef>

FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name);
HWND WINAPI CreateDialogParamCompat(HINSTANCE instance, LPCWSTR templateName, HWND parent,
                                    DLGPROC procedure, LPARAM parameter);

// Members carry the names of the Unicode functions; slot numbers in order.
struct WinApiTable {
  decltype(&::DialogBoxParamW) DialogBoxParamW;          // 1
  decltype(&::RegisterClassExW) RegisterClassExW;        // 2
  decltype(&::DragQueryFileW) DragQueryFileW;            // 3
  decltype(&::PropertySheetW) PropertySheetW;            // 4
  decltype(&::LoadStringW) LoadStringW;                  // 5
  decltype(&::GetTextFaceW) GetTextFaceW;                // 6
  decltype(&::GetWindowTextW) GetWindowTextW;            // 7
  decltype(&::RegisterClassW) RegisterClassW;            // 8
  decltype(&::GetDlgItemTextW) GetDlgItemTextW;          // 9
  decltype(&::CreateDialogParamCompat) CreateDialogParamCompat;  // 10
  decltype(&::CreateWindowExW) CreateWindowExW;          // 11
  decltype(&::FindWindowW) FindWindowW;                  // 12
  decltype(&::InsertMenuW) InsertMenuW;                  // 13
  decltype(&::ShellExecuteExW) ShellExecuteExW;          // 14
  decltype(&::ShellExecuteW) ShellExecuteW;              // 15
  decltype(&::CopyFileW) CopyFileW;                      // 16
  decltype(&::MoveFileW) MoveFileW;                      // 17
  decltype(&::GetOpenFileNameW) GetOpenFileNameW;        // 18
  decltype(&::GetSaveFileNameW) GetSaveFileNameW;        // 19
  decltype(&::SetWindowTextW) SetWindowTextW;            // 20
  decltype(&::DeleteFileW) DeleteFileW;                  // 21
  decltype(&::SetDlgItemTextW) SetDlgItemTextW;          // 22
  decltype(&::CreateProcessW) CreateProcessW;            // 23
  decltype(&::RegOpenKeyExW) RegOpenKeyExW;              // 24
  decltype(&::RegQueryValueExW) RegQueryValueExW;        // 25
  decltype(&::RegSetValueExW) RegSetValueExW;            // 26
  decltype(&::RegQueryInfoKeyW) RegQueryInfoKeyW;        // 27
  decltype(&::RegCreateKeyExW) RegCreateKeyExW;          // 28
  decltype(&::RegDeleteKeyW) RegDeleteKeyW;              // 29
  decltype(&::LoadIconW) LoadIconW;                      // 30
  decltype(&::LoadMenuW) LoadMenuW;                      // 31
  decltype(&::CreateFontIndirectW) CreateFontIndirectW;  // 32
  decltype(&::GetModuleFileNameW) GetModuleFileNameW;    // 33
  decltype(&::GetModuleHandleW) GetModuleHandleW;        // 34
  decltype(&::LoadAcceleratorsW) LoadAcceleratorsW;      // 35
  decltype(&::CreateFileW) CreateFileW;                  // 36
  decltype(&::LoadImageW) LoadImageW;                    // 37
  decltype(&::CreateEventW) CreateEventW;                // 38
  decltype(&::CreateMutexW) CreateMutexW;                // 39
  decltype(&::LoadCursorW) LoadCursorW;                  // 40
  decltype(&::LoadLibraryW) LoadLibraryW;                // 41
  decltype(&::GetProcAddressW) GetProcAddressW;          // 42
  decltype(&::TranslateAcceleratorW) TranslateAcceleratorW;  // 43
  decltype(&::IsDialogMessageW) IsDialogMessageW;        // 44
  decltype(&::GetMessageW) GetMessageW;                  // 45
  decltype(&::PeekMessageW) PeekMessageW;                // 46
  decltype(&::PostMessageW) PostMessageW;                // 47
  decltype(&::SetWindowLongPtrW) SetWindowLongPtrW;      // 48
  decltype(&::DispatchMessageW) DispatchMessageW;        // 49
  decltype(&::SendMessageW) SendMessageW;                // 50
  decltype(&::CallWindowProcW) CallWindowProcW;          // 51
  decltype(&::DefWindowProcW) DefWindowProcW;            // 52
  decltype(&::GetWindowLongPtrW) GetWindowLongPtrW;      // 53
};

constexpr size_t kWinApiSlotCount = 53;
static_assert(sizeof(WinApiTable) == kWinApiSlotCount * sizeof(void*));

// The process-wide state of the layer.
struct WinApiState {
  WinApiTable table;
  bool win9x;              // the ANSI (Windows 9x) mode
  HINSTANCE instance;      // the program's own module
  HINSTANCE resourceModule;
  LANGID uiLanguage;       // the language of the version resource, default 1033
  UINT uiCodePage;         // its ANSI code page, default 1252
  UINT windowTextCodePage; // 0: the system ANSI code page
  UINT maxCharSize;        // of the system ANSI code page
};

const WinApiTable& WinApi();
const WinApiState& WinApiLayer();
inline bool IsWin9xMode() { return WinApiLayer().win9x; }

// Start-up of the whole layer (platform, table, UI language, font linking);
// called once before any window, and stopped once at exit.
void StartWinApiLayer();
void StopWinApiLayer();

// Sets the ANSI mode when GetVersionExA reports platform id 1. The
// environment variable ORLOMER_WIN9X_MODE=1 forces the ANSI mode and =0 the
// Unicode mode, so that both paths run on any system.
void DetectPlatform();
void InitWinApiTable();
// Reads the language of the module's version resource (type 16, name 1).
void InitUiLanguage(HMODULE module);

// The ANSI mode's slot 5: the string of the UI language's table; -1 when its
// block is missing.
int WINAPI LoadStringForLanguage(HINSTANCE module, UINT id, LPWSTR buffer, int capacity);

// Slot i (0-based) of a table, for checks.
const void* WinApiSlot(const WinApiTable& table, size_t index);

// The list-view messages with UTF-16 records in both modes.
LRESULT ListViewInsertColumnCompat(HWND listView, int index, const LVCOLUMNW* column);
LRESULT ListViewInsertItemCompat(HWND listView, const LVITEMW* item);
BOOL ListViewGetItemCompat(HWND listView, LVITEMW* item);

// Hook of the Open and Save dialogs: links the file-name edit's font and
// centres the dialog over its owner.
UINT_PTR CALLBACK FileDialogHookProc(HWND hook, UINT message, WPARAM wParam, LPARAM lParam);
