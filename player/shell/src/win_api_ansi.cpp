#include "win_api_ansi.h"

#include <cstring>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "shell/font_linking.h"
#include "shell/portable/dialog_geometry.h"

namespace {

UINT MaxCharSize() { return WinApiLayer().maxCharSize ? WinApiLayer().maxCharSize : 2; }

// An ANSI receive buffer for a capacity in characters.
std::vector<char> AnsiBuffer(size_t characters, UINT charSize, size_t extra = 0) {
  return std::vector<char>(characters * charSize + extra + 1, '\0');
}

UINT WindowTextCharSize() {
  CPINFO info = {};
  return GetCPInfo(WinApiLayer().windowTextCodePage, &info) ? info.MaxCharSize : 2;
}

// The fields WNDCLASS and WNDCLASSEX share, with the names converted.
template <typename Wide, typename Ansi>
void CopyClassFields(const Wide& w, Ansi* a, const AnsiArg& menu, const AnsiArg& name) {
  a->style = w.style;
  a->lpfnWndProc = w.lpfnWndProc;
  a->cbClsExtra = w.cbClsExtra;
  a->cbWndExtra = w.cbWndExtra;
  a->hInstance = w.hInstance;
  a->hIcon = w.hIcon;
  a->hCursor = w.hCursor;
  a->hbrBackground = w.hbrBackground;
  a->lpszMenuName = menu.get();
  a->lpszClassName = name.get();
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

INT_PTR WINAPI AnsiDialogBoxParam(HINSTANCE instance, LPCWSTR templateName, HWND parent,
                                  DLGPROC procedure, LPARAM parameter) {
  AnsiArg name(templateName, true);
  return DialogBoxParamA(instance, name.get(), parent, procedure, parameter);
}

ATOM WINAPI AnsiRegisterClassEx(const WNDCLASSEXW* wc) {
  if (!wc) return RegisterClassExA(nullptr);
  AnsiArg menu(wc->lpszMenuName, true), name(wc->lpszClassName, true);
  WNDCLASSEXA a = {};
  a.cbSize = sizeof(a);
  CopyClassFields(*wc, &a, menu, name);
  a.hIconSm = wc->hIconSm;
  return RegisterClassExA(&a);
}

UINT WINAPI AnsiDragQueryFile(HDROP drop, UINT index, LPWSTR buffer, UINT capacity) {
  if (!buffer || capacity == 0) return DragQueryFileA(drop, index, nullptr, 0);
  std::vector<char> a = AnsiBuffer(capacity, MaxCharSize());
  const UINT r = DragQueryFileA(drop, index, a.data(), static_cast<UINT>(a.size() - 1));
  if (r == 0) return 0;
  AnsiToWide(CP_ACP, a.data(), -1, buffer, static_cast<int>(capacity));
  return r;
}

int WINAPI AnsiGetTextFace(HDC dc, int capacity, LPWSTR buffer) {
  if (!buffer || capacity <= 0) return GetTextFaceA(dc, 0, nullptr);
  std::vector<char> a = AnsiBuffer(static_cast<size_t>(capacity), MaxCharSize());
  const int r = GetTextFaceA(dc, static_cast<int>(a.size() - 1), a.data());
  if (r < 1) return r;
  return AnsiToWide(CP_ACP, a.data(), -1, buffer, capacity) - 1;
}

int WINAPI AnsiGetWindowText(HWND window, LPWSTR buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  std::vector<char> a = AnsiBuffer(static_cast<size_t>(capacity), WindowTextCharSize(), 1);
  const int r = GetWindowTextA(window, a.data(), static_cast<int>(a.size()));
  if (r == 0) {
    buffer[0] = 0;
    return 0;
  }
  return AnsiToWide(WinApiLayer().windowTextCodePage, a.data(), -1, buffer, capacity) - 1;
}

ATOM WINAPI AnsiRegisterClass(const WNDCLASSW* wc) {
  if (!wc) return RegisterClassA(nullptr);
  AnsiArg menu(wc->lpszMenuName, true), name(wc->lpszClassName, true);
  WNDCLASSA a = {};
  CopyClassFields(*wc, &a, menu, name);
  return RegisterClassA(&a);
}

UINT WINAPI AnsiGetDlgItemText(HWND dialog, int item, LPWSTR buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  std::vector<char> a = AnsiBuffer(static_cast<size_t>(capacity), WindowTextCharSize(), 1);
  const UINT r = GetDlgItemTextA(dialog, item, a.data(), static_cast<int>(a.size()));
  if (r == 0) {
    buffer[0] = 0;
    return 0;
  }
  return static_cast<UINT>(AnsiToWide(WinApiLayer().windowTextCodePage, a.data(), -1, buffer, capacity) - 1);
}

HWND WINAPI AnsiCreateWindowEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                               int x, int y, int width, int height, HWND parent, HMENU menu,
                               HINSTANCE instance, LPVOID parameter) {
  AnsiArg cls(className, true), name(windowName);
  return CreateWindowExA(exStyle, cls.get(), name.get(), style, x, y, width, height, parent, menu,
                         instance, parameter);
}

HWND WINAPI AnsiFindWindow(LPCWSTR className, LPCWSTR windowName) {
  AnsiArg cls(className, true), name(windowName);
  return FindWindowA(cls.get(), name.get());
}

BOOL WINAPI AnsiInsertMenu(HMENU menu, UINT position, UINT flags, UINT_PTR id, LPCWSTR item) {
  // Only a string item carries text; a bitmap or owner-draw item carries a value.
  const bool text = (flags & (MF_BITMAP | MF_OWNERDRAW)) == 0;
  AnsiArg a(text ? item : nullptr);
  return InsertMenuA(menu, position, flags, id, text ? a.get() : reinterpret_cast<LPCSTR>(item));
}

BOOL WINAPI AnsiShellExecuteEx(SHELLEXECUTEINFOW* info) {
  if (!info) return ShellExecuteExA(nullptr);
  AnsiArg verb(info->lpVerb), file(info->lpFile), params(info->lpParameters), dir(info->lpDirectory);
  AnsiArg cls((info->fMask & SEE_MASK_CLASSNAME) ? info->lpClass : nullptr);
  SHELLEXECUTEINFOA a = {};
  a.cbSize = sizeof(a);
  a.fMask = info->fMask;
  a.hwnd = info->hwnd;
  a.lpVerb = verb.get();
  a.lpFile = file.get();
  a.lpParameters = params.get();
  a.lpDirectory = dir.get();
  a.nShow = info->nShow;
  a.lpIDList = info->lpIDList;
  a.lpClass = cls.get();
  a.hkeyClass = info->hkeyClass;
  a.dwHotKey = info->dwHotKey;
  a.hIcon = info->hIcon;
  const BOOL r = ShellExecuteExA(&a);
  info->hInstApp = a.hInstApp;
  info->hProcess = a.hProcess;
  return r;
}

HINSTANCE WINAPI AnsiShellExecute(HWND window, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                                  LPCWSTR directory, INT show) {
  AnsiArg op(operation), f(file), p(parameters), d(directory);
  return ShellExecuteA(window, op.get(), f.get(), p.get(), d.get(), show);
}

BOOL WINAPI AnsiCopyFile(LPCWSTR from, LPCWSTR to, BOOL failIfExists) {
  AnsiArg a(from), b(to);
  return CopyFileA(a.get(), b.get(), failIfExists);
}

BOOL WINAPI AnsiMoveFile(LPCWSTR from, LPCWSTR to) {
  AnsiArg a(from), b(to);
  return MoveFileA(a.get(), b.get());
}

namespace {

// Both file dialogs; the Save dialog takes the initial folder and the title
// as the Open dialog does.
BOOL RunFileDialog(LPOPENFILENAMEW w, bool open) {
  if (!w) return FALSE;
  const UINT charSize = MaxCharSize();
  OPENFILENAMEA a = {};
  a.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  a.hwndOwner = w->hwndOwner;
  a.hInstance = w->hInstance;

  const std::string filter =
      WideToAnsiBlock(CP_ACP, w->lpstrFilter, static_cast<int>(shell::FilterListLength(reinterpret_cast<const char16_t*>(w->lpstrFilter))));
  a.lpstrFilter = w->lpstrFilter ? filter.c_str() : nullptr;

  std::vector<char> custom;
  if (w->lpstrCustomFilter && w->nMaxCustFilter > 0) {
    custom.assign(static_cast<size_t>(w->nMaxCustFilter) * charSize, '\0');
    const std::string in = WideToAnsiBlock(
        CP_ACP, w->lpstrCustomFilter, static_cast<int>(shell::FilterListLength(reinterpret_cast<const char16_t*>(w->lpstrCustomFilter))));
    std::memcpy(custom.data(), in.data(), in.size() < custom.size() ? in.size() : custom.size() - 1);
    a.lpstrCustomFilter = custom.data();
    a.nMaxCustFilter = static_cast<DWORD>(custom.size());
  }
  a.nFilterIndex = w->nFilterIndex;

  // The file buffer holds exactly nMaxFile bytes, as the caller's holds
  // nMaxFile characters.
  std::vector<char> file(w->nMaxFile + 1, '\0');
  if (w->lpstrFile && w->nMaxFile > 0) {
    WideCharToMultiByte(CP_ACP, 0, w->lpstrFile, static_cast<int>(w->nMaxFile), file.data(),
                        static_cast<int>(w->nMaxFile), nullptr, nullptr);
    file[w->nMaxFile - 1] = 0;
    a.lpstrFile = file.data();
    a.nMaxFile = w->nMaxFile;
  }
  std::vector<char> title;
  if (w->lpstrFileTitle && w->nMaxFileTitle > 0) {
    title.assign(static_cast<size_t>(w->nMaxFileTitle) * charSize, '\0');
    a.lpstrFileTitle = title.data();
    a.nMaxFileTitle = static_cast<DWORD>(title.size());
  }
  AnsiArg initialDir(w->lpstrInitialDir), dialogTitle(w->lpstrTitle), defExt(w->lpstrDefExt);
  AnsiArg templateName(w->lpTemplateName, true);
  a.lpstrInitialDir = initialDir.get();
  a.lpstrTitle = dialogTitle.get();
  a.Flags = w->Flags;
  a.nFileOffset = w->nFileOffset;
  a.nFileExtension = w->nFileExtension;
  a.lpstrDefExt = defExt.get();
  a.lCustData = w->lCustData;
  a.lpfnHook = w->lpfnHook;
  a.lpTemplateName = templateName.get();

  const BOOL ok = open ? GetOpenFileNameA(&a) : GetSaveFileNameA(&a);
  if (!ok) return FALSE;
  w->nFilterIndex = a.nFilterIndex;
  if (w->lpstrFileTitle && !title.empty())
    AnsiToWide(CP_ACP, title.data(), -1, w->lpstrFileTitle, static_cast<int>(w->nMaxFileTitle));
  if (w->lpstrFile && w->nMaxFile > 0) {
    // A multiple selection is a block of terminated names closed by an empty one.
    size_t used = 0;
    if (w->Flags & OFN_ALLOWMULTISELECT) {
      while (used < file.size() - 1 && file[used]) used += std::strlen(file.data() + used) + 1;
      ++used;
    } else {
      used = std::strlen(file.data()) + 1;
    }
    if (used > file.size()) used = file.size();
    AnsiToWide(CP_ACP, file.data(), static_cast<int>(used), w->lpstrFile, static_cast<int>(w->nMaxFile));
    // Offsets point into the text; recompute them in characters.
    const int offset = MultiByteToWideChar(CP_ACP, 0, file.data(), a.nFileOffset, nullptr, 0);
    const int ext = MultiByteToWideChar(CP_ACP, 0, file.data(), a.nFileExtension, nullptr, 0);
    w->nFileOffset = static_cast<WORD>(a.nFileOffset ? offset : 0);
    w->nFileExtension = static_cast<WORD>(a.nFileExtension ? ext : 0);
  }
  return TRUE;
}

}  // namespace

BOOL WINAPI AnsiGetOpenFileName(LPOPENFILENAMEW w) { return RunFileDialog(w, true); }
BOOL WINAPI AnsiGetSaveFileName(LPOPENFILENAMEW w) { return RunFileDialog(w, false); }

BOOL WINAPI AnsiSetWindowText(HWND window, LPCWSTR text) {
  AnsiArg a(text, false, TextCodePage(text));
  return SetWindowTextA(window, a.get());
}

BOOL WINAPI AnsiDeleteFile(LPCWSTR name) {
  AnsiArg a(name);
  return DeleteFileA(a.get());
}

BOOL WINAPI AnsiSetDlgItemText(HWND dialog, int item, LPCWSTR text) {
  AnsiArg a(text, false, TextCodePage(text));
  return SetDlgItemTextA(dialog, item, a.get());
}

BOOL WINAPI AnsiCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                              LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                              LPPROCESS_INFORMATION info) {
  AnsiArg app(application), cmd(commandLine), dir(directory);
  STARTUPINFOA a = {};
  AnsiArg reserved(startup ? startup->lpReserved : nullptr), desktop(startup ? startup->lpDesktop : nullptr),
      title(startup ? startup->lpTitle : nullptr);
  if (startup) {
    a.cb = sizeof(a);
    a.lpReserved = reserved.mutable_get();
    a.lpDesktop = desktop.mutable_get();
    a.lpTitle = title.mutable_get();
    a.dwX = startup->dwX;
    a.dwY = startup->dwY;
    a.dwXSize = startup->dwXSize;
    a.dwYSize = startup->dwYSize;
    a.dwXCountChars = startup->dwXCountChars;
    a.dwYCountChars = startup->dwYCountChars;
    a.dwFillAttribute = startup->dwFillAttribute;
    a.dwFlags = startup->dwFlags;
    a.wShowWindow = startup->wShowWindow;
    a.hStdInput = startup->hStdInput;
    a.hStdOutput = startup->hStdOutput;
    a.hStdError = startup->hStdError;
  }
  return CreateProcessA(app.get(), cmd.mutable_get(), processAttributes, threadAttributes, inherit, flags,
                        environment, dir.get(), startup ? &a : nullptr, info)
             ? TRUE
             : FALSE;
}

LSTATUS WINAPI AnsiRegOpenKeyEx(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY out) {
  AnsiArg a(subKey);
  return RegOpenKeyExA(key, a.get(), options, access, out);
}

LSTATUS WINAPI AnsiRegQueryValueEx(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                   LPDWORD size) {
  AnsiArg a(name);
  DWORD valueType = 0;
  if (!data || !size) {
    // A size or type query: a text's UTF-16 size is at most twice its bytes.
    const LSTATUS r = RegQueryValueExA(key, a.get(), reserved, &valueType, nullptr, size);
    if (type) *type = valueType;
    if (r == ERROR_SUCCESS && size && IsStringType(valueType)) *size *= 2;
    return r;
  }
  const DWORD capacity = *size;
  std::vector<BYTE> ansi(static_cast<size_t>(capacity) * MaxCharSize() + 2, 0);
  DWORD got = capacity;
  const LSTATUS r = RegQueryValueExA(key, a.get(), reserved, &valueType, ansi.data(), &got);
  if (type) *type = valueType;
  if (r != ERROR_SUCCESS) return r;
  if (!IsStringType(valueType)) {
    std::memcpy(data, ansi.data(), got);
    *size = got;
    return ERROR_SUCCESS;
  }
  const int units = MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(ansi.data()),
                                        static_cast<int>(got), reinterpret_cast<wchar_t*>(data),
                                        static_cast<int>(capacity / 2));
  if (units == 0 && got != 0) return ERROR_MORE_DATA;
  *size = static_cast<DWORD>(units) * 2;
  return ERROR_SUCCESS;
}

LSTATUS WINAPI AnsiRegSetValueEx(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                 DWORD size) {
  AnsiArg a(name);
  if (!IsStringType(type) || !data) return RegSetValueExA(key, a.get(), reserved, type, data, size);
  const std::string ansi =
      WideToAnsiBlock(CP_ACP, reinterpret_cast<const wchar_t*>(data), static_cast<int>(size / 2));
  if (ansi.empty() && size >= 2) return ERROR_INVALID_PARAMETER;
  return RegSetValueExA(key, a.get(), reserved, type, reinterpret_cast<const BYTE*>(ansi.data()),
                        static_cast<DWORD>(ansi.size()));
}

LSTATUS WINAPI AnsiRegQueryInfoKey(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved,
                                   LPDWORD subKeys, LPDWORD maxSubKeyLength, LPDWORD maxClassLength,
                                   LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
                                   LPDWORD securityDescriptor, PFILETIME lastWrite) {
  std::vector<char> cls;
  DWORD ansiLength = 0;
  if (className && classLength) {
    cls.assign(static_cast<size_t>(*classLength) * MaxCharSize() + 1, '\0');
    ansiLength = static_cast<DWORD>(cls.size());
  }
  const LSTATUS r = RegQueryInfoKeyA(key, cls.empty() ? nullptr : cls.data(), cls.empty() ? nullptr : &ansiLength,
                                     reserved, subKeys, maxSubKeyLength, maxClassLength, values,
                                     maxValueNameLength, maxValueLength, securityDescriptor, lastWrite);
  if (r != ERROR_SUCCESS) return r;
  if (!cls.empty()) {
    const int n = AnsiToWide(CP_ACP, cls.data(), -1, className, static_cast<int>(*classLength));
    *classLength = n > 0 ? static_cast<DWORD>(n - 1) : 0;
  }
  return ERROR_SUCCESS;
}

LSTATUS WINAPI AnsiRegCreateKeyEx(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR className, DWORD options,
                                  REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY out,
                                  LPDWORD disposition) {
  AnsiArg a(subKey), cls(className);
  return RegCreateKeyExA(key, a.get(), reserved, cls.mutable_get(), options, access, security, out, disposition);
}

LSTATUS WINAPI AnsiRegDeleteKey(HKEY key, LPCWSTR subKey) {
  AnsiArg a(subKey);
  return RegDeleteKeyA(key, a.get());
}

HICON WINAPI AnsiLoadIcon(HINSTANCE instance, LPCWSTR name) {
  AnsiArg a(name, true);
  return LoadIconA(instance, a.get());
}

HMENU WINAPI AnsiLoadMenu(HINSTANCE instance, LPCWSTR name) {
  AnsiArg a(name, true);
  return LoadMenuA(instance, a.get());
}

HFONT WINAPI AnsiCreateFontIndirect(const LOGFONTW* w) {
  if (!w) return CreateFontIndirectA(nullptr);
  LOGFONTA a = {};
  a.lfHeight = w->lfHeight;
  a.lfWidth = w->lfWidth;
  a.lfEscapement = w->lfEscapement;
  a.lfOrientation = w->lfOrientation;
  a.lfWeight = w->lfWeight;
  a.lfItalic = w->lfItalic;
  a.lfUnderline = w->lfUnderline;
  a.lfStrikeOut = w->lfStrikeOut;
  a.lfCharSet = w->lfCharSet;
  a.lfOutPrecision = w->lfOutPrecision;
  a.lfClipPrecision = w->lfClipPrecision;
  a.lfQuality = w->lfQuality;
  a.lfPitchAndFamily = w->lfPitchAndFamily;
  // The face name is cut to fit with its terminator.
  wchar_t face[LF_FACESIZE];
  std::memcpy(face, w->lfFaceName, sizeof(face));
  face[LF_FACESIZE - 1] = 0;
  const std::string name = AnsiArg(face).get();
  name.copy(a.lfFaceName, LF_FACESIZE - 1);
  return CreateFontIndirectA(&a);
}

DWORD WINAPI AnsiGetModuleFileName(HMODULE module, LPWSTR buffer, DWORD capacity) {
  if (!buffer || capacity == 0) return 0;
  std::vector<char> a = AnsiBuffer(capacity, MaxCharSize());
  const DWORD r = GetModuleFileNameA(module, a.data(), static_cast<DWORD>(a.size() - 1));
  // A failing call gives 0, as the Unicode function does.
  if (r == 0) {
    buffer[0] = 0;
    return 0;
  }
  const int n = AnsiToWide(CP_ACP, a.data(), -1, buffer, static_cast<int>(capacity));
  return n > 0 ? static_cast<DWORD>(n - 1) : 0;
}

HMODULE WINAPI AnsiGetModuleHandle(LPCWSTR name) {
  AnsiArg a(name);
  return GetModuleHandleA(a.get());
}

HANDLE WINAPI AnsiCreateFile(LPCWSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                             DWORD disposition, DWORD flags, HANDLE templateFile) {
  AnsiArg a(name);
  return CreateFileA(a.get(), access, share, security, disposition, flags, templateFile);
}

HANDLE WINAPI AnsiLoadImage(HINSTANCE instance, LPCWSTR name, UINT type, int width, int height, UINT flags) {
  if (!(flags & LR_LOADFROMFILE))
    return LoadImageA(instance, reinterpret_cast<LPCSTR>(name), type, width, height, flags);
  AnsiArg a(name);
  return LoadImageA(instance, a.get(), type, width, height, flags);
}

HANDLE WINAPI AnsiCreateEvent(LPSECURITY_ATTRIBUTES security, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  AnsiArg a(name);
  return CreateEventA(security, manualReset, initialState, a.get());
}

HANDLE WINAPI AnsiCreateMutex(LPSECURITY_ATTRIBUTES security, BOOL initialOwner, LPCWSTR name) {
  AnsiArg a(name);
  return CreateMutexA(security, initialOwner, a.get());
}

HCURSOR WINAPI AnsiLoadCursor(HINSTANCE instance, LPCWSTR name) {
  AnsiArg a(name, true);
  return LoadCursorA(instance, a.get());
}

HMODULE WINAPI AnsiLoadLibrary(LPCWSTR name) {
  AnsiArg a(name);
  return LoadLibraryA(a.get());
}

void FillAnsiTable(WinApiTable* t) {
  t->DialogBoxParamW = AnsiDialogBoxParam;
  t->RegisterClassExW = AnsiRegisterClassEx;
  t->DragQueryFileW = AnsiDragQueryFile;
  // The sheet's pages come from resources by identifier; the record goes as it is.
  t->PropertySheetW = reinterpret_cast<decltype(t->PropertySheetW)>(&PropertySheetA);
  t->LoadStringW = LoadStringForLanguage;
  t->GetTextFaceW = AnsiGetTextFace;
  t->GetWindowTextW = AnsiGetWindowText;
  t->RegisterClassW = AnsiRegisterClass;
  t->GetDlgItemTextW = AnsiGetDlgItemText;
  t->CreateDialogParamCompat = CreateDialogParamCompat;
  t->CreateWindowExW = AnsiCreateWindowEx;
  t->FindWindowW = AnsiFindWindow;
  t->InsertMenuW = AnsiInsertMenu;
  t->ShellExecuteExW = AnsiShellExecuteEx;
  t->ShellExecuteW = AnsiShellExecute;
  t->CopyFileW = AnsiCopyFile;
  t->MoveFileW = AnsiMoveFile;
  t->GetOpenFileNameW = AnsiGetOpenFileName;
  t->GetSaveFileNameW = AnsiGetSaveFileName;
  t->SetWindowTextW = AnsiSetWindowText;
  t->DeleteFileW = AnsiDeleteFile;
  t->SetDlgItemTextW = AnsiSetDlgItemText;
  t->CreateProcessW = AnsiCreateProcess;
  t->RegOpenKeyExW = AnsiRegOpenKeyEx;
  t->RegQueryValueExW = AnsiRegQueryValueEx;
  t->RegSetValueExW = AnsiRegSetValueEx;
  t->RegQueryInfoKeyW = AnsiRegQueryInfoKey;
  t->RegCreateKeyExW = AnsiRegCreateKeyEx;
  t->RegDeleteKeyW = AnsiRegDeleteKey;
  t->LoadIconW = AnsiLoadIcon;
  t->LoadMenuW = AnsiLoadMenu;
  t->CreateFontIndirectW = AnsiCreateFontIndirect;
  t->GetModuleFileNameW = AnsiGetModuleFileName;
  t->GetModuleHandleW = AnsiGetModuleHandle;
  // Accelerator tables are loaded by identifier only.
  t->LoadAcceleratorsW = reinterpret_cast<decltype(t->LoadAcceleratorsW)>(&LoadAcceleratorsA);
  t->CreateFileW = AnsiCreateFile;
  t->LoadImageW = AnsiLoadImage;
  t->CreateEventW = AnsiCreateEvent;
  t->CreateMutexW = AnsiCreateMutex;
  t->LoadCursorW = AnsiLoadCursor;
  t->LoadLibraryW = AnsiLoadLibrary;
  t->GetProcAddressW = GetProcAddressW;
  t->TranslateAcceleratorW = TranslateAcceleratorA;
  t->IsDialogMessageW = IsDialogMessageA;
  t->GetMessageW = GetMessageA;
  t->PeekMessageW = PeekMessageA;
  t->PostMessageW = PostMessageA;
  t->SetWindowLongPtrW = SetWindowLongPtrA;
  t->DispatchMessageW = DispatchMessageA;
  t->SendMessageW = SendMessageA;
  t->CallWindowProcW = CallWindowProcA;
  t->DefWindowProcW = DefWindowProcA;
  t->GetWindowLongPtrW = GetWindowLongPtrA;
}
