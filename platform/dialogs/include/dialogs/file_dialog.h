// The system's open and save file dialogs (explorer style), centred on
// their owner, with a hook that may refuse the name the user accepted and
// keep the dialog open.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <string>

namespace dlg {

class FileDialog {
 public:
  // `filter` in the form "Text (*.x)|*.x|Other|*.y|"; `defaultExtension`
  // without the point.
  FileDialog(bool open, std::wstring defaultExtension, std::wstring fileName, DWORD flags, std::wstring filter);
  virtual ~FileDialog() = default;
  FileDialog(const FileDialog&) = delete;
  FileDialog& operator=(const FileDialog&) = delete;

  void SetTitle(std::wstring title) { title_ = std::move(title); }
  void SetInitialFolder(std::wstring folder) { folder_ = std::move(folder); }
  // IDOK with the chosen path, or IDCANCEL (also when the system's dialog
  // failed: Error() then has its code).
  INT_PTR DoModal(HWND owner);

  const std::wstring& Path() const { return path_; }
  // The name after the last backslash, its title (no extension) and its
  // extension (no point).
  std::wstring FileName() const;
  std::wstring FileTitle() const;
  std::wstring Extension() const;
  DWORD Error() const { return error_; }
  // The dialog window while it runs (owner for messages), else null.
  HWND Window() const { return window_; }

 protected:
  // A name the user accepted; false keeps the dialog open (the caller
  // tells the user why).
  virtual bool Accept(const std::wstring& /*path*/) { return true; }

 private:
  static UINT_PTR CALLBACK Hook(HWND hook, UINT message, WPARAM wParam, LPARAM lParam);

  bool open_;
  std::wstring extension_, fileName_, filter_, title_, folder_, path_;
  DWORD flags_;
  DWORD error_ = 0;
  HWND owner_ = nullptr;
  HWND window_ = nullptr;
};

}  // namespace dlg
