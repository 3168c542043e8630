#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <string>
#include <thread>

#include "shell/font_linking.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"
#include "win_api_ansi.h"

namespace {

struct SlotRow {
  const char* name;
  const void* unicode;
  const void* ansi;
};

template <typename F>
const void* Address(F f) {
  return reinterpret_cast<const void*>(f);
}

#define SLOT(name, ansi) {#name, Address(&::name), Address(ansi)}

const SlotRow kSlots[kWinApiSlotCount] = {
    SLOT(DialogBoxParamW, &AnsiDialogBoxParam),
    SLOT(RegisterClassExW, &AnsiRegisterClassEx),
    SLOT(DragQueryFileW, &AnsiDragQueryFile),
    SLOT(PropertySheetW, &::PropertySheetA),
    SLOT(LoadStringW, &LoadStringForLanguage),
    SLOT(GetTextFaceW, &AnsiGetTextFace),
    SLOT(GetWindowTextW, &AnsiGetWindowText),
    SLOT(RegisterClassW, &AnsiRegisterClass),
    SLOT(GetDlgItemTextW, &AnsiGetDlgItemText),
    SLOT(CreateDialogParamCompat, &CreateDialogParamCompat),
    SLOT(CreateWindowExW, &AnsiCreateWindowEx),
    SLOT(FindWindowW, &AnsiFindWindow),
    SLOT(InsertMenuW, &AnsiInsertMenu),
    SLOT(ShellExecuteExW, &AnsiShellExecuteEx),
    SLOT(ShellExecuteW, &AnsiShellExecute),
    SLOT(CopyFileW, &AnsiCopyFile),
    SLOT(MoveFileW, &AnsiMoveFile),
    SLOT(GetOpenFileNameW, &AnsiGetOpenFileName),
    SLOT(GetSaveFileNameW, &AnsiGetSaveFileName),
    SLOT(SetWindowTextW, &AnsiSetWindowText),
    SLOT(DeleteFileW, &AnsiDeleteFile),
    SLOT(SetDlgItemTextW, &AnsiSetDlgItemText),
    SLOT(CreateProcessW, &AnsiCreateProcess),
    SLOT(RegOpenKeyExW, &AnsiRegOpenKeyEx),
    SLOT(RegQueryValueExW, &AnsiRegQueryValueEx),
    SLOT(RegSetValueExW, &AnsiRegSetValueEx),
    SLOT(RegQueryInfoKeyW, &AnsiRegQueryInfoKey),
    SLOT(RegCreateKeyExW, &AnsiRegCreateKeyEx),
    SLOT(RegDeleteKeyW, &AnsiRegDeleteKey),
    SLOT(LoadIconW, &AnsiLoadIcon),
    SLOT(LoadMenuW, &AnsiLoadMenu),
    SLOT(CreateFontIndirectW, &AnsiCreateFontIndirect),
    SLOT(GetModuleFileNameW, &AnsiGetModuleFileName),
    SLOT(GetModuleHandleW, &AnsiGetModuleHandle),
    SLOT(LoadAcceleratorsW, &::LoadAcceleratorsA),
    SLOT(CreateFileW, &AnsiCreateFile),
    SLOT(LoadImageW, &AnsiLoadImage),
    SLOT(CreateEventW, &AnsiCreateEvent),
    SLOT(CreateMutexW, &AnsiCreateMutex),
    SLOT(LoadCursorW, &AnsiLoadCursor),
    SLOT(LoadLibraryW, &AnsiLoadLibrary),
    SLOT(GetProcAddressW, &GetProcAddressW),
    SLOT(TranslateAcceleratorW, &::TranslateAcceleratorA),
    SLOT(IsDialogMessageW, &::IsDialogMessageA),
    SLOT(GetMessageW, &::GetMessageA),
    SLOT(PeekMessageW, &::PeekMessageA),
    SLOT(PostMessageW, &::PostMessageA),
    SLOT(SetWindowLongPtrW, &::SetWindowLongPtrA),
    SLOT(DispatchMessageW, &::DispatchMessageA),
    SLOT(SendMessageW, &::SendMessageA),
    SLOT(CallWindowProcW, &::CallWindowProcA),
    SLOT(DefWindowProcW, &::DefWindowProcA),
    SLOT(GetWindowLongPtrW, &::GetWindowLongPtrA),
};

TEST(WinApiTable, EverySlotInBothModes) {
  for (bool win9x : {false, true}) {
    ScopedApiMode mode(win9x);
    ASSERT_EQ(IsWin9xMode(), win9x);
    for (size_t i = 0; i < kWinApiSlotCount; ++i) {
      const void* want = win9x ? kSlots[i].ansi : kSlots[i].unicode;
      EXPECT_NE(WinApiSlot(WinApi(), i), nullptr) << "slot " << i + 1;
      EXPECT_EQ(WinApiSlot(WinApi(), i), want) << "slot " << i + 1 << " " << kSlots[i].name << " 9x=" << win9x;
    }
  }
}

TEST(WinApiTable, PlatformFromTheSystemVersion) {
  // Without the switch the mode is the system's: Wine reports NT unless it
  // is told to be Windows 98.
  SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", nullptr);
  DetectPlatform();
  OSVERSIONINFOA v = {};
  v.dwOSVersionInfoSize = sizeof(v);
  ASSERT_TRUE(GetVersionExA(&v));
  EXPECT_EQ(IsWin9xMode(), v.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS);
}

class ApiModes : public ::testing::TestWithParam<bool> {};

TEST_P(ApiModes, RegistryStringRoundTripCountsUtf16Bytes) {
  ScopedApiMode mode(GetParam());
  const WinApiTable& api = WinApi();
  const wchar_t* keyName = L"Software\\Apps\\Kestrune\\ShellApiTest";
  HKEY key = nullptr;
  ASSERT_EQ(api.RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const wchar_t text[] = L"Clip-é 12";  // 9 characters
  ASSERT_EQ(api.RegSetValueExW(key, L"Name", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text)),
            ERROR_SUCCESS);
  const DWORD number = 0x12345678;
  ASSERT_EQ(api.RegSetValueExW(key, L"Number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
            ERROR_SUCCESS);

  wchar_t back[256] = {};
  DWORD size = sizeof(back), type = 0;
  ASSERT_EQ(api.RegQueryValueExW(key, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(size, sizeof(text));  // 10 UTF-16 units with the terminator
  EXPECT_STREQ(back, text);

  DWORD n = 0;
  size = sizeof(n);
  ASSERT_EQ(api.RegQueryValueExW(key, L"Number", nullptr, &type, reinterpret_cast<BYTE*>(&n), &size), ERROR_SUCCESS);
  EXPECT_EQ(n, number);
  EXPECT_EQ(size, 4u);

  size = sizeof(back);
  EXPECT_NE(api.RegQueryValueExW(key, L"Missing", nullptr, &type, reinterpret_cast<BYTE*>(back), &size), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(api.RegDeleteKeyW(HKEY_CURRENT_USER, keyName), ERROR_SUCCESS);
}

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) { return WinApi().DefWindowProcW(w, m, wp, lp); }

TEST_P(ApiModes, WindowTextsInAndOut) {
  ScopedApiMode mode(GetParam());
  const WinApiTable& api = WinApi();
  HINSTANCE instance = GetModuleHandleW(nullptr);
  const std::wstring cls = GetParam() ? L"ShellTextA" : L"ShellTextW";
  WNDCLASSW wc = {};
  wc.lpfnWndProc = PlainProc;
  wc.hInstance = instance;
  wc.hIcon = api.LoadIconW(instance, MAKEINTRESOURCEW(101));  // identifier passed unchanged
  wc.hCursor = api.LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.lpszClassName = cls.c_str();
  EXPECT_NE(wc.hIcon, nullptr);
  EXPECT_NE(wc.hCursor, nullptr);
  ASSERT_NE(api.RegisterClassW(&wc), 0);
  HWND w = api.CreateWindowExW(0, cls.c_str(), L"Café title", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                               instance, nullptr);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(api.FindWindowW(cls.c_str(), nullptr), w);  // a null title reaches the system as null
  wchar_t text[64] = {};
  EXPECT_EQ(api.GetWindowTextW(w, text, 64), 10);
  EXPECT_STREQ(text, L"Café title");
  // A short buffer is cut and terminated.
  EXPECT_EQ(api.GetWindowTextW(w, text, 5), 4);
  EXPECT_STREQ(text, L"Café");
  EXPECT_TRUE(api.SetWindowTextW(w, L"Ünïcode"));
  EXPECT_EQ(api.GetWindowTextW(w, text, 64), 7);
  EXPECT_STREQ(text, L"Ünïcode");
  DestroyWindow(w);
  UnregisterClassW(cls.c_str(), instance);
}

TEST_P(ApiModes, ModulesFilesAndProcedures) {
  ScopedApiMode mode(GetParam());
  const WinApiTable& api = WinApi();
  wchar_t path[MAX_PATH] = {}, direct[MAX_PATH] = {};
  const DWORD n = api.GetModuleFileNameW(nullptr, path, MAX_PATH);
  GetModuleFileNameW(nullptr, direct, MAX_PATH);
  EXPECT_EQ(n, wcslen(direct));
  EXPECT_STREQ(path, direct);
  // A failing call gives 0, not a huge length.
  EXPECT_EQ(api.GetModuleFileNameW(reinterpret_cast<HMODULE>(static_cast<UINT_PTR>(0x1230)), path, MAX_PATH), 0u);

  HMODULE kernel = api.GetModuleHandleW(L"kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(reinterpret_cast<const void*>(api.GetProcAddressW(kernel, L"GetTickCount")),
            reinterpret_cast<const void*>(GetProcAddress(kernel, "GetTickCount")));
  EXPECT_EQ(api.GetProcAddressW(kernel, L"NoSuchExport"), nullptr);

  const std::wstring a = TempPath(L"copy_ä.txt"), b = TempPath(L"copy_ö.txt"), c = TempPath(L"moved.txt");
  HANDLE f = api.CreateFileW(a.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(f, "abc", 3, &written, nullptr);
  CloseHandle(f);
  EXPECT_TRUE(api.CopyFileW(a.c_str(), b.c_str(), TRUE));
  EXPECT_FALSE(api.CopyFileW(a.c_str(), b.c_str(), TRUE));  // exists
  EXPECT_TRUE(api.MoveFileW(b.c_str(), c.c_str()));
  EXPECT_EQ(ReadFileBytes(c), "abc");
  EXPECT_TRUE(api.DeleteFileW(a.c_str()));
  EXPECT_TRUE(api.DeleteFileW(c.c_str()));
  EXPECT_FALSE(api.DeleteFileW(c.c_str()));

  HANDLE e = api.CreateEventW(nullptr, TRUE, FALSE, nullptr);
  EXPECT_NE(e, nullptr);
  CloseHandle(e);
}

// The Unicode entry is the system's own; the ANSI one copies the face.
TEST(WinApiTable, Win9xFontRecordFaceIsCutToFit) {
  ScopedApiMode mode(true);
  LOGFONTW lf = {};
  lf.lfHeight = -13;
  for (int i = 0; i < LF_FACESIZE; ++i) lf.lfFaceName[i] = L'F';  // no terminator
  HFONT font = WinApi().CreateFontIndirectW(&lf);
  ASSERT_NE(font, nullptr);
  LOGFONTW back = {};
  ASSERT_GT(GetObjectW(font, sizeof(back), &back), 0);
  EXPECT_EQ(back.lfHeight, -13);
  EXPECT_EQ(wcslen(back.lfFaceName), static_cast<size_t>(LF_FACESIZE - 1));
  DeleteObject(font);
}

TEST_P(ApiModes, ListViewTextsRoundTrip) {
  ScopedApiMode mode(GetParam());
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_LISTVIEW_CLASSES};
  InitCommonControlsEx(&icc);
  HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | LVS_REPORT, 0, 0, 200, 100, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(list, nullptr);
  wchar_t title[] = L"Title";
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = 100;
  column.pszText = title;
  EXPECT_EQ(ListViewInsertColumnCompat(list, 0, &column), 0);
  wchar_t clip[] = L"Crème brûlée";
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_PARAM;
  item.pszText = clip;
  item.lParam = 77;
  EXPECT_EQ(ListViewInsertItemCompat(list, &item), 0);

  wchar_t back[64] = {L'#'};
  LVITEMW get = {};
  get.mask = LVIF_TEXT | LVIF_PARAM;
  get.pszText = back;
  get.cchTextMax = 64;
  EXPECT_TRUE(ListViewGetItemCompat(list, &get));
  EXPECT_STREQ(back, clip);
  EXPECT_EQ(get.lParam, 77);
  EXPECT_EQ(get.pszText, back);
  // Cut to a short buffer.
  get.cchTextMax = 6;
  EXPECT_TRUE(ListViewGetItemCompat(list, &get));
  EXPECT_STREQ(back, L"Crème");
  DestroyWindow(list);
}

INSTANTIATE_TEST_SUITE_P(Modes, ApiModes, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Win9x" : "Unicode"; });

TEST(WinApiTable, LoadStringForLanguageCopyRules) {
  wchar_t out[16] = {};
  // "Buffering" is 9 characters: capacity 5 copies 4 and the terminator.
  EXPECT_EQ(LoadStringForLanguage(nullptr, 60130, out, 5), 4);
  EXPECT_STREQ(out, L"Buff");
  EXPECT_EQ(LoadStringForLanguage(nullptr, 60130, out, 16), 9);
  EXPECT_STREQ(out, L"Buffering");
  EXPECT_EQ(LoadStringForLanguage(nullptr, 60131, out, 16), 13);  // "Connecting..."
  // A string missing from a block that exists; a block that does not exist.
  EXPECT_EQ(LoadStringForLanguage(nullptr, 60132, out, 16), 0);
  EXPECT_EQ(LoadStringForLanguage(nullptr, 12345, out, 16), -1);
}

TEST(WinApiTable, UiLanguageFollowsTheVersionResource) {
  HMODULE japanese = LoadLibraryW(BesideTest(UI_LANGUAGE_1041_DLL).c_str());
  ASSERT_NE(japanese, nullptr);
  InitUiLanguage(japanese);
  EXPECT_EQ(WinApiLayer().uiLanguage, 1041);
  EXPECT_EQ(WinApiLayer().uiCodePage, 932u);
  wchar_t out[64] = {};
  EXPECT_EQ(LoadStringForLanguage(japanese, 60130, out, 64), 21);
  EXPECT_STREQ(out, L"Buffering in Japanese");
  // The program's own strings are English: not found in the Japanese table.
  EXPECT_EQ(LoadStringForLanguage(nullptr, 60130, out, 64), -1);

  InitUiLanguage(GetModuleHandleW(nullptr));
  EXPECT_EQ(WinApiLayer().uiLanguage, 1033);
  EXPECT_EQ(WinApiLayer().uiCodePage, 1252u);
  FreeLibrary(japanese);
}

// Runs a file dialog on this thread while a helper thread plays the user:
// it waits for the dialog, records where it stands, then types a name and
// presses Open, or presses Cancel.
struct DialogUser {
  std::wstring typed;  // empty: cancel
  RECT dialogRect = {};
  bool sawDialog = false;
  HWND dialog = nullptr;
  int boxId = 0;
};

void PlayUser(DialogUser* user, const wchar_t* title) {
  for (int i = 0; i < 400 && !user->dialog; ++i) {
    Sleep(25);
    user->dialog = FindWindowW(L"#32770", title);
  }
  if (!user->dialog) return;
  Sleep(300);  // past the dialog's initialisation and the hook's move
  user->sawDialog = true;
  GetWindowRect(user->dialog, &user->dialogRect);
  if (user->typed.empty()) {
    PostMessageW(user->dialog, WM_COMMAND, IDCANCEL, 0);
    return;
  }
  // Typed into the file-name box, whichever of the two boxes the dialog has.
  HWND box = GetDlgItem(user->dialog, 1148);
  if (HWND edit = box ? FindWindowExW(box, nullptr, L"Edit", nullptr) : nullptr) box = edit;
  if (!box) box = GetDlgItem(user->dialog, 1152);
  user->boxId = box ? GetDlgCtrlID(box) : 0;
  SetWindowTextW(box, user->typed.c_str());
  PostMessageW(user->dialog, WM_COMMAND, IDOK, 0);
}

TEST_P(ApiModes, FileDialogCancelAndOpen) {
  ScopedApiMode mode(GetParam());
  HWND owner = CreateWindowExW(0, L"STATIC", L"owner", WS_POPUP | WS_VISIBLE, 200, 150, 600, 500, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(owner, nullptr);
  const wchar_t* title = GetParam() ? L"Open 9x" : L"Open W";
  for (bool cancel : {true, false}) {
    wchar_t file[260] = L"initial.mp4";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof(ofn);
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = L"Clips\0*.mp4\0All files\0*.*\0";
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = 260;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK;
    ofn.lpfnHook = FileDialogHookProc;
    DialogUser user;
    const std::wstring chosen = TempPath(L"chosen_é.mp4");
    if (!cancel) user.typed = chosen;
    std::thread helper(PlayUser, &user, title);
    const BOOL result = WinApi().GetOpenFileNameW(&ofn);
    helper.join();
    ASSERT_TRUE(user.sawDialog);
    if (cancel) {
      EXPECT_FALSE(result);
      EXPECT_STREQ(file, L"initial.mp4");
    } else {
      EXPECT_TRUE(result) << user.boxId;
      EXPECT_STREQ(file, chosen.c_str()) << user.boxId;
      EXPECT_EQ(std::wstring(file + ofn.nFileOffset), chosen.substr(chosen.rfind(L'\\') + 1));
    }
    // The hook centred the dialog over its owner.
    const int cx = (user.dialogRect.left + user.dialogRect.right) / 2;
    const int cy = (user.dialogRect.top + user.dialogRect.bottom) / 2;
    EXPECT_NEAR(cx, 500, 2);
    EXPECT_NEAR(cy, 400, 2);
  }
  DestroyWindow(owner);
}

}  // namespace
