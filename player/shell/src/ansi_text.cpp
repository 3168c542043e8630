#include "ansi_text.h"

AnsiArg::AnsiArg(LPCWSTR text, bool idAware, UINT codePage) {
  if (!text) return;
  if (idAware && IS_INTRESOURCE(text)) {
    ptr_ = reinterpret_cast<LPCSTR>(text);
    return;
  }
  // Sized by a first pass: a code page may need more than two bytes a unit.
  const int bytes = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
  text_.assign(bytes > 0 ? static_cast<size_t>(bytes) : 1, '\0');
  if (bytes > 0) WideCharToMultiByte(codePage, 0, text, -1, text_.data(), bytes, nullptr, nullptr);
  ptr_ = text_.c_str();
}

int AnsiToWide(UINT codePage, const char* ansi, int ansiBytes, wchar_t* out, int capacity) {
  if (!ansi || !out || capacity <= 0) return 0;
  int n = MultiByteToWideChar(codePage, 0, ansi, ansiBytes, out, capacity);
  if (n > 0) {
    if (ansiBytes >= 0 && out[n - 1] != 0) {
      // A counted text without its terminator: add one inside the buffer.
      if (n == capacity) --n;
      out[n++] = 0;
    }
    return n;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return 0;
  const int full = MultiByteToWideChar(codePage, 0, ansi, ansiBytes, nullptr, 0);
  if (full <= 0) return 0;
  std::wstring all(static_cast<size_t>(full), L'\0');
  MultiByteToWideChar(codePage, 0, ansi, ansiBytes, all.data(), full);
  all.copy(out, static_cast<size_t>(capacity - 1));
  out[capacity - 1] = 0;
  return capacity;
}

std::string WideToAnsiBlock(UINT codePage, const wchar_t* text, int units) {
  if (!text || units <= 0) return std::string();
  const int bytes = WideCharToMultiByte(codePage, 0, text, units, nullptr, 0, nullptr, nullptr);
  std::string out(bytes > 0 ? static_cast<size_t>(bytes) : 0, '\0');
  if (bytes > 0) WideCharToMultiByte(codePage, 0, text, units, out.data(), bytes, nullptr, nullptr);
  return out;
}
