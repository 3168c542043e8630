// Texts between the control's UTF-16 rules and the wide strings of Windows
// (the same 16-bit units on this platform), and the module's string table.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>
#include <string_view>

#include "atl/module.h"
#include "mediaengine/records.h"

inline std::u16string U16(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}
inline std::u16string U16(const wchar_t* text) { return U16(text, wcslen(text)); }

inline std::wstring Wide(std::u16string_view text) {
  return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string RecordText(const mediaengine::RecordText& text) {
  return std::u16string(text, static_cast<size_t>(mediaengine::BoundedTextLength(text)));
}

// A string of the module's table, empty when it cannot be loaded.
inline std::u16string LoadText(unsigned id) {
  const wchar_t* text = nullptr;
  int length = LoadStringW(atl::CurrentModule().Instance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return length > 0 && text ? U16(text, static_cast<size_t>(length)) : std::u16string();
}
