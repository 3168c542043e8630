// The commands that need dialogs, files or the shell. UiController holds the
// current clip's path, location, title and kind and the dialogs common to
// every variant; DesktopController adds the file dialogs, drag and drop,
// Save As, help and the showcase page. The main window owns one
// DesktopController. User-interface thread.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstdint>

struct ClipProperties;

constexpr int kUiTextUnits = 256;

// Clip kinds: where the current clip came from.
constexpr uint32_t kClipFromFile = 1;
constexpr uint32_t kClipFromLocation = 2;

class UiController {
 public:
  explicit UiController(HINSTANCE instance);
  virtual ~UiController() = default;
  UiController(const UiController&) = delete;
  UiController& operator=(const UiController&) = delete;

  virtual void Init() {}
  virtual int OpenFile() { return 0; }
  virtual int SaveAs(const ClipProperties* properties) {
    (void)properties;
    return 0;
  }
  virtual void OpenShowcase() {}
  // Location dialog: 1 when a non-empty location was entered.
  virtual int OpenLocation();
  virtual void ShowAbout();
  // The Media Buffer dialog's choice, negative when cancelled.
  virtual int32_t ShowMediaBuffer();
  virtual HWND FindMainWindow();
  virtual void SetDownloadMenu(HMENU menu, int enable) {
    (void)menu;
    (void)enable;
  }
  virtual void EnableDragDrop() {}
  virtual void OpenHelp() {}
  virtual int OnDropFiles(HDROP drop) {
    (void)drop;
    return 0;
  }
  // Greys Suspend Clip and enables Resume Clip.
  virtual int EnableDownloadCommands(HMENU menu);
  // Non-zero unless the user answers No.
  virtual int AskResumeDownload(HMENU menu);
  // Asks, then deletes the suspended download's files.
  virtual void ClearSuspendedDownload(HMENU menu);
  // The Clips sheet on its Favorites or Recent page: 1 when a clip was
  // chosen (its text in the path or location field by its kind).
  virtual int ShowFavoriteClips();
  virtual int ShowRecentClips();
  virtual void ShowClipInfo(const wchar_t* const texts[5]);

  void AddToFavorites();
  // kind 1: the file, 2: the location, 3 only when non-zero (nothing here).
  void AddToHistory(uint32_t kind);

  void SetClipSource(uint32_t kind, const wchar_t* text);
  void SetTitle(const wchar_t* text);
  static void CheckMenuCommand(HMENU menu, UINT id, bool on);
  static void EnableMenuCommand(HMENU menu, UINT id, bool on);

  const wchar_t* Location() const { return location_; }
  const wchar_t* FilePath() const { return filePath_; }
  const wchar_t* Title() const { return title_; }

  uint32_t clipKind = 0;
  uint32_t savedFlag = 0;

  // Seam over the question boxes (MessageBoxW).
  int(WINAPI* messageBox)(HWND, LPCWSTR, LPCWSTR, UINT) = ::MessageBoxW;

 protected:
  static void CopyText(wchar_t* dst, const wchar_t* src);
  int ShowClips(int favoritesFirst);
  HINSTANCE instance_;
  wchar_t location_[kUiTextUnits] = {};
  wchar_t className_[kUiTextUnits] = {};
  wchar_t filePath_[kUiTextUnits] = {};
  wchar_t title_[kUiTextUnits] = {};
};

class DesktopController : public UiController {
 public:
  explicit DesktopController(HINSTANCE instance);

  // Filter "MP4 (*.mp4)", the dialog hook; the path goes to the file path.
  int OpenFile() override;
  // Moves the download's data file to the chosen name, else copies it.
  // 1 when a file was saved, 0 when cancelled or both failed.
  int SaveAs(const ClipProperties* properties) override;
  void OpenShowcase() override;
  void EnableDragDrop() override;
  void OpenHelp() override;
  // 1 when exactly one file was dropped; its path becomes the file path.
  int OnDropFiles(HDROP drop) override;

  // Seams over the file dialogs and the shell (tests replace them).
  BOOL(WINAPI* openDialog)(LPOPENFILENAMEW) = nullptr;
  BOOL(WINAPI* saveDialog)(LPOPENFILENAMEW) = nullptr;
  DWORD(WINAPI* dialogError)() = ::CommDlgExtendedError;
  HINSTANCE(WINAPI* shellExecute)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) = nullptr;
  BOOL(WINAPI* shellExecuteEx)(SHELLEXECUTEINFOW*) = nullptr;

  // The folder of the Open and Save As dialogs, shared by the process.
  static wchar_t* DocumentFolder();

 private:
  void FillDocumentFolder();
  wchar_t desktopClassName_[kUiTextUnits] = {};
};
