#include "dialogs/controls.h"

#include <imm.h>

#include <algorithm>

namespace dlg {

bool Control::Attach(HWND dialog, int id) {
  hwnd_ = GetDlgItem(dialog, id);
  return hwnd_ != nullptr;
}

std::wstring Control::Text() const {
  int length = GetWindowTextLengthW(hwnd_);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  int got = GetWindowTextW(hwnd_, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void Spin::SetAccelerations(const std::vector<UDACCEL>& steps) const {
  Send(UDM_SETACCEL, steps.size(), reinterpret_cast<LPARAM>(steps.data()));
}

std::wstring Combo::ItemText(int index) const {
  LRESULT length = Send(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (length == CB_ERR) return std::wstring();
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  Send(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<size_t>(length));
  return text;
}

bool RichEdit::Load() {
  static const bool loaded = GetModuleHandleW(L"riched20.dll") || LoadLibraryW(L"riched20.dll");
  return loaded;
}

bool RichEdit::SetCharFormat(const CHARFORMAT2W& format, DWORD which) const {
  CHARFORMAT2W copy = format;
  copy.cbSize = sizeof(copy);
  return Send(EM_SETCHARFORMAT, which, reinterpret_cast<LPARAM>(&copy)) != 0;
}

CHARFORMAT2W RichEdit::CharFormat(DWORD which) const {
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  Send(EM_GETCHARFORMAT, which, reinterpret_cast<LPARAM>(&format));
  return format;
}

bool RichEdit::SetTextInCodePage(const std::string& bytes, UINT codePage) const {
  SETTEXTEX how = {ST_DEFAULT, codePage};
  return Send(EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(bytes.c_str())) != 0;
}

std::string RichEdit::TextInCodePage(UINT codePage) const {
  GETTEXTLENGTHEX measure = {GTL_NUMBYTES | GTL_PRECISE, codePage};
  LRESULT bytes = Send(EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&measure));
  if (bytes <= 0) return std::string();
  std::string text(static_cast<size_t>(bytes) + 2, '\0');
  GETTEXTEX how = {};
  how.cb = static_cast<DWORD>(text.size());
  how.flags = GT_DEFAULT;
  how.codepage = codePage;
  LRESULT got = Send(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return text;
}

std::wstring RichEdit::WideText(size_t maxChars) const {
  std::wstring text(maxChars + 1, L'\0');
  GETTEXTEX how = {};
  how.cb = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  how.flags = GT_DEFAULT;
  how.codepage = 1200;
  LRESULT got = Send(EM_GETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(text.data()));
  text.resize(got > 0 ? std::min(static_cast<size_t>(got), maxChars) : 0);
  return text;
}

void RichEdit::SetEditable(bool editable) const {
  SetEnabled(editable);
  SetBackground(GetSysColor(editable ? COLOR_WINDOW : COLOR_3DFACE));
}

void RichEdit::SetInputMethodEnabled(bool enabled) const {
  // A window without an input context types plain keys.
  if (enabled)
    ImmAssociateContextEx(hwnd_, nullptr, IACE_DEFAULT);
  else
    ImmAssociateContext(hwnd_, nullptr);
}

}  // namespace dlg
