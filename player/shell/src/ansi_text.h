// Conversions between the player's UTF-16 texts and a system ANSI code page,
// used by the Windows 9x entries of the function table and the text helpers.
#pragma once

#include <windows.h>

#include <string>

// A UTF-16 argument as ANSI text for the duration of one call. Null stays
// null; with idAware, a resource identifier below 0x10000 passes unchanged.
class AnsiArg {
 public:
  explicit AnsiArg(LPCWSTR text, bool idAware = false, UINT codePage = CP_ACP);
  LPCSTR get() const { return ptr_; }
  LPSTR mutable_get() { return ptr_ ? text_.data() : nullptr; }
  int bytes() const { return static_cast<int>(text_.size()); }  // with the terminator

 private:
  std::string text_;
  LPCSTR ptr_ = nullptr;
};

// Converts ANSI text (ansiBytes, or -1 for up to its terminator) into out, at
// most capacity units; longer text is cut and terminated. Returns the units
// written including the terminator, 0 on failure or when capacity is 0.
int AnsiToWide(UINT codePage, const char* ansi, int ansiBytes, wchar_t* out, int capacity);

// ANSI text of a UTF-16 block of units (terminators included).
std::string WideToAnsiBlock(UINT codePage, const wchar_t* text, int units);
