#include "shell/ui_controller.h"

#include <shellapi.h>

#include <cwchar>
#include <string>

#include "shell/about_dialogs.h"
#include "shell/clip_info_dialog.h"
#include "shell/clip_lists.h"
#include "shell/clips_sheet.h"
#include "shell/location_dialog.h"
#include "shell/messages.h"
#include "shell/portable/message_text.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

constexpr UINT kClassNameId = 3;
constexpr UINT kResumeQuestionId = 51302;
constexpr UINT kResumeCaptionId = 51306;
constexpr UINT kClearCaptionId = 51308;
constexpr UINT kClearQuestionId = 51309;
constexpr UINT kSaveFailedId = 51311;
constexpr UINT kHelpFileId = 60173;
constexpr UINT kCmdSuspend = 41124;
constexpr UINT kCmdResume = 41125;
constexpr UINT kCmdClear = 41132;
constexpr DWORD kOpenFlags = 0x81824;  // explorer, file and path must exist, hook, no read-only box
constexpr DWORD kSaveFlags = 0x80806;  // explorer, path must exist, overwrite prompt, no read-only box
constexpr size_t kTitleProposalUnits = 100;
constexpr size_t kQuestionTitleUnits = 50;

std::wstring LoadText(HINSTANCE instance, UINT id) {
  wchar_t text[shell::kMessageCapacity] = {};
  return WinApi().LoadStringW(instance, id, text, shell::kMessageCapacity) > 0 ? std::wstring(text) : std::wstring();
}

std::wstring Format(const std::wstring& pattern, const wchar_t* argument) {
  char16_t out[shell::kMessageCapacity] = {};
  shell::FormatMessageText(reinterpret_cast<const char16_t*>(pattern.c_str()),
                           reinterpret_cast<const char16_t*>(argument), out, shell::kMessageCapacity);
  return std::wstring(reinterpret_cast<const wchar_t*>(out));
}

std::wstring ReadString(HINSTANCE instance, UINT id) {
  wchar_t value[kSettingStringCapacity] = {};
  return ReadSettingStringById(instance, id, value) ? std::wstring(value) : std::wstring();
}

wchar_t g_documentFolder[MAX_PATH] = {};

// The Open and Save As dialogs' common record, over a name buffer of
// kUiTextUnits.
OPENFILENAMEW FileDialogRecord(HWND owner, HINSTANCE instance, wchar_t* name, const wchar_t* title, DWORD flags) {
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.hInstance = instance;
  ofn.lpstrFilter = L"MP4 (*.mp4)\0*.mp4\0\0";
  ofn.lpstrFile = name;
  ofn.nMaxFile = kUiTextUnits;
  ofn.lpstrInitialDir = g_documentFolder;
  ofn.lpstrTitle = title;
  ofn.Flags = flags;
  ofn.lpstrDefExt = L"mp4";
  return ofn;
}

}  // namespace

// ---- UiController ----

UiController::UiController(HINSTANCE instance) : instance_(instance) {
  if (WinApi().LoadStringW(instance, kClassNameId, className_, kUiTextUnits) <= 0) CopyText(className_, L"Orlomer");
}

void UiController::CopyText(wchar_t* dst, const wchar_t* src) {
  size_t n = 0;
  while (src && src[n] && n + 1 < kUiTextUnits) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
}

int UiController::OpenLocation() {
  LocationDialog dialog(location_);
  if (dialog.DoModal(FindMainWindow(), instance_) != IDOK) return 0;
  const wchar_t* text = LocationDialog::Address();
  if (!text || !text[0]) return 0;
  CopyText(location_, text);
  return 1;
}

void UiController::ShowAbout() {
  HWND owner = FindMainWindow();
  AboutDialog dialog(owner);
  dialog.DoModal(owner, instance_);
}

int32_t UiController::ShowMediaBuffer() {
  MediaBufferDialog dialog;
  return dialog.DoModal(FindMainWindow(), instance_);
}

int UiController::ShowClips(int favoritesFirst) {
  FavoritesStore favorites;
  HistoryStore history;
  ClipsSheet sheet(&favorites, &history);
  wchar_t text[kUiTextUnits] = {};
  uint32_t kind = 0;
  if (!sheet.Run(text, &kind, favoritesFirst)) return 0;
  clipKind = kind;
  if (kind == kClipFromFile) CopyText(filePath_, text);
  else if (kind == kClipFromLocation) CopyText(location_, text);
  else return 0;
  return 1;
}

int UiController::ShowFavoriteClips() { return ShowClips(1); }
int UiController::ShowRecentClips() { return ShowClips(0); }

void UiController::ShowClipInfo(const wchar_t* const texts[5]) {
  ClipInfoDialog dialog(texts[0], texts[1], texts[2], texts[3], texts[4]);
  dialog.DoModal(FindMainWindow());
}

void UiController::AddToFavorites() {
  FavoritesStore favorites;
  if (clipKind == kClipFromFile) favorites.Add(1, filePath_, title_);
  else if (clipKind == kClipFromLocation) favorites.Add(0, location_, title_);
}

void UiController::AddToHistory(uint32_t kind) {
  HistoryStore history;
  const uint32_t which = kind ? kind : clipKind;
  if (which == kClipFromFile) history.Add(1, filePath_, title_);
  else if (which == kClipFromLocation) history.Add(2, location_, title_);
}

HWND UiController::FindMainWindow() { return WinApi().FindWindowW(className_, nullptr); }

void UiController::SetClipSource(uint32_t kind, const wchar_t* text) {
  clipKind = kind;
  if (kind == kClipFromFile) CopyText(filePath_, text);
  if (kind == kClipFromLocation) CopyText(location_, text);
}

void UiController::SetTitle(const wchar_t* text) { CopyText(title_, text); }

void UiController::CheckMenuCommand(HMENU menu, UINT id, bool on) {
  if (menu) CheckMenuItem(menu, id, on ? MF_CHECKED : MF_UNCHECKED);
}

void UiController::EnableMenuCommand(HMENU menu, UINT id, bool on) {
  if (menu) EnableMenuItem(menu, id, on ? MF_ENABLED : MF_GRAYED);
}

int UiController::EnableDownloadCommands(HMENU menu) {
  EnableMenuCommand(menu, kCmdSuspend, false);
  EnableMenuCommand(menu, kCmdResume, true);
  return 1;
}

int UiController::AskResumeDownload(HMENU) {
  std::wstring title = ReadString(instance_, shell::kLastTitle);
  if (title.size() > kQuestionTitleUnits) title = title.substr(0, kQuestionTitleUnits) + L"...";
  const std::wstring text = Format(LoadText(instance_, kResumeQuestionId), title.c_str());
  const std::wstring caption = LoadText(instance_, kResumeCaptionId);
  return messageBox(FindMainWindow(), text.c_str(), caption.c_str(), MB_YESNO) != IDNO;
}

void UiController::ClearSuspendedDownload(HMENU menu) {
  const std::wstring text = LoadText(instance_, kClearQuestionId);
  const std::wstring caption = LoadText(instance_, kClearCaptionId);
  if (messageBox(FindMainWindow(), text.c_str(), caption.c_str(), MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) !=
      IDYES)
    return;
  const std::wstring base = ReadString(instance_, shell::kInstance);
  if (!base.empty()) {
    WinApi().DeleteFileW((base + L".dat").c_str());
    WinApi().DeleteFileW((base + L".tmp").c_str());
  }
  WriteSettingDwordById(instance_, shell::kRestart, 0);
  EnableMenuCommand(menu, kCmdClear, false);
  EnableMenuCommand(menu, kCmdResume, false);
}

// ---- DesktopController ----

DesktopController::DesktopController(HINSTANCE instance) : UiController(instance) {
  CopyText(desktopClassName_, className_);
  openDialog = WinApi().GetOpenFileNameW;
  saveDialog = WinApi().GetSaveFileNameW;
  shellExecute = WinApi().ShellExecuteW;
  shellExecuteEx = WinApi().ShellExecuteExW;
}

wchar_t* DesktopController::DocumentFolder() { return g_documentFolder; }

void DesktopController::FillDocumentFolder() {
  if (g_documentFolder[0]) return;
  const std::wstring folder = ReadString(instance_, shell::kDefaultDocuments);
  wcsncpy(g_documentFolder, folder.c_str(), MAX_PATH - 1);
  g_documentFolder[MAX_PATH - 1] = 0;
}

int DesktopController::OpenFile() {
  FillDocumentFolder();
  wchar_t name[kUiTextUnits] = {};
  OPENFILENAMEW ofn = FileDialogRecord(FindMainWindow(), instance_, name, L"Open File", kOpenFlags);
  ofn.lpfnHook = FileDialogHookProc;
  if (!openDialog || !openDialog(&ofn)) return 0;
  name[kUiTextUnits - 1] = 0;
  CopyText(filePath_, name);
  wchar_t drive[_MAX_DRIVE] = {}, dir[_MAX_DIR] = {};
  _wsplitpath(name, drive, dir, nullptr, nullptr);
  swprintf(g_documentFolder, MAX_PATH, L"%ls%ls", drive, dir);
  return 1;
}

int DesktopController::SaveAs(const ClipProperties*) {
  FillDocumentFolder();
  std::wstring lastTitle = ReadString(instance_, shell::kLastTitle);
  wchar_t name[kUiTextUnits] = {};
  const std::wstring proposal = lastTitle.substr(0, kTitleProposalUnits) + L".mp4";
  CopyText(name, proposal.c_str());
  OPENFILENAMEW ofn = FileDialogRecord(FindMainWindow(), instance_, name, L"Save As", kSaveFlags);
  if (!saveDialog) return 0;
  BOOL chosen = saveDialog(&ofn);
  if (!chosen && dialogError && dialogError() == FNERR_INVALIDFILENAME) {
    CopyText(name, L"Untitled");
    chosen = saveDialog(&ofn);
  }
  if (!chosen) return 0;
  name[kUiTextUnits - 1] = 0;

  const std::wstring source = ReadString(instance_, shell::kInstance) + L".tmp";
  bool saved = false;
  if (WinApi().MoveFileW(source.c_str(), name)) {
    SetFileAttributesW(name, FILE_ATTRIBUTE_NORMAL);
    saved = true;
  } else if (WinApi().CopyFileW(source.c_str(), name, FALSE)) {
    WinApi().DeleteFileW(source.c_str());
    saved = true;
  }
  if (!saved) {
    // Neither worked: the download stays where it was, and the user is told.
    ShowMessage(instance_, kSaveFailedId, name, MB_OK);
    return 0;
  }
  CopyText(filePath_, name);
  savedFlag = 1;
  CopyText(title_, lastTitle.c_str());
  return 1;
}

void DesktopController::OpenShowcase() {
  const std::wstring page = ReadString(instance_, shell::kShowcaseLocation);
  if (!page.empty() && shellExecute) shellExecute(nullptr, L"Open", page.c_str(), nullptr, nullptr, 0);
}

void DesktopController::EnableDragDrop() {
  if (HWND main = FindMainWindow()) DragAcceptFiles(main, TRUE);
}

void DesktopController::OpenHelp() {
  const std::wstring file = ReadString(instance_, shell::kKRData) + LoadText(instance_, kHelpFileId);
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.hwnd = FindMainWindow();
  info.lpVerb = L"Open";
  info.lpFile = file.c_str();
  info.nShow = SW_SHOW;
  if (shellExecuteEx) shellExecuteEx(&info);
}

int DesktopController::OnDropFiles(HDROP drop) {
  int taken = 0;
  if (WinApi().DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 1) {
    wchar_t path[kUiTextUnits] = {};
    if (WinApi().DragQueryFileW(drop, 0, path, kUiTextUnits) > 0) {
      CopyText(filePath_, path);
      taken = 1;
    }
  }
  DragFinish(drop);
  return taken;
}
