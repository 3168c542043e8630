#include "dialogs/file_dialog.h"

#include <algorithm>
#include <vector>

#include "dialogs/dialog.h"

namespace dlg {

FileDialog::FileDialog(bool open, std::wstring defaultExtension, std::wstring fileName, DWORD flags, std::wstring filter)
    : open_(open), extension_(std::move(defaultExtension)), fileName_(std::move(fileName)), filter_(std::move(filter)),
      flags_(flags) {}

std::wstring FileDialog::FileName() const {
  size_t slash = path_.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path_ : path_.substr(slash + 1);
}

std::wstring FileDialog::FileTitle() const {
  std::wstring name = FileName();
  size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::wstring FileDialog::Extension() const {
  std::wstring name = FileName();
  size_t dot = name.find_last_of(L'.');
  return dot == std::wstring::npos ? std::wstring() : name.substr(dot + 1);
}

INT_PTR FileDialog::DoModal(HWND owner) {
  // The system wants the filter's parts separated by nulls.
  std::wstring filter = filter_;
  for (wchar_t& c : filter)
    if (c == L'|') c = L'\0';
  filter.push_back(L'\0');
  std::vector<wchar_t> file(32768, L'\0');
  fileName_.copy(file.data(), std::min(fileName_.size(), file.size() - 1));

  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = filter_.empty() ? nullptr : filter.c_str();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = folder_.empty() ? nullptr : folder_.c_str();
  ofn.lpstrTitle = title_.empty() ? nullptr : title_.c_str();
  ofn.lpstrDefExt = extension_.empty() ? nullptr : extension_.c_str();
  ofn.Flags = flags_ | OFN_EXPLORER | OFN_ENABLEHOOK | OFN_ENABLESIZING;
  ofn.lCustData = reinterpret_cast<LPARAM>(this);
  ofn.lpfnHook = &FileDialog::Hook;
  owner_ = owner;
  error_ = 0;
  BOOL ok = open_ ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn);
  window_ = nullptr;
  if (!ok) {
    error_ = CommDlgExtendedError();
    return IDCANCEL;
  }
  path_ = file.data();
  return IDOK;
}

UINT_PTR CALLBACK FileDialog::Hook(HWND hook, UINT message, WPARAM, LPARAM lParam) {
  // The hook is a child of the explorer dialog; the dialog is its parent.
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<FileDialog*>(reinterpret_cast<OPENFILENAMEW*>(lParam)->lCustData);
    SetWindowLongPtrW(hook, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->window_ = GetParent(hook);
    return 0;
  }
  auto* self = reinterpret_cast<FileDialog*>(GetWindowLongPtrW(hook, GWLP_USERDATA));
  if (!self || message != WM_NOTIFY) return 0;
  const auto* note = reinterpret_cast<const OFNOTIFYW*>(lParam);
  switch (note->hdr.code) {
    case CDN_INITDONE:
      CenterWindow(GetParent(hook), self->owner_ ? GetAncestor(self->owner_, GA_ROOT) : nullptr);
      return 0;
    case CDN_FILEOK:
      if (self->Accept(note->lpOFN->lpstrFile)) return 0;
      // Nonzero through the message result keeps the dialog open.
      SetWindowLongPtrW(hook, DWLP_MSGRESULT, 1);
      return 1;
    default:
      return 0;
  }
}

}  // namespace dlg
