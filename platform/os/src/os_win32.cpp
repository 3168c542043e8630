// Win32 implementation of the platform interface.
#include <windows.h>

#include <cwchar>

#include "platform/os.h"

namespace platform {

namespace {
std::wstring wide(std::u16string_view s) { return std::wstring(s.begin(), s.end()); }
}  // namespace

std::u16string ansiToUtf16(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return std::u16string(w.begin(), w.end());
}

std::string utf16ToAnsi(std::u16string_view s) {
  if (s.empty()) return {};
  std::wstring w = wide(s);
  int n = WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, "?", nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, w.data(), static_cast<int>(w.size()), out.data(), n, "?", nullptr);
  return out;
}

std::FILE* openFile(std::u16string_view path, const char* mode) {
  std::wstring wmode;
  for (const char* m = mode; *m; ++m) wmode.push_back(static_cast<wchar_t>(*m));
  return _wfopen(wide(path).c_str(), wmode.c_str());
}

bool deleteFile(std::u16string_view path) { return DeleteFileW(wide(path).c_str()) != 0; }

bool fileExists(std::u16string_view path) {
  return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

LocalTime localTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint64_t localFileTime() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  FILETIME ft;
  SystemTimeToFileTime(&st, &ft);
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// QueryPerformanceCounter: GetTickCount64 moves in 16 ms steps under Wine.
uint64_t monotonicMs() {
  LARGE_INTEGER freq, now;
  QueryPerformanceFrequency(&freq);
  QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / (freq.QuadPart / 1000));
}

void sleepMs(uint32_t ms) { Sleep(ms); }

std::string hostName() {
  char buf[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD n = sizeof buf;
  if (!GetComputerNameA(buf, &n)) return "localhost";
  return std::string(buf, n);
}

}  // namespace platform
