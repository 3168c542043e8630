#include "dshow/log.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

void FilterLog(const char* component, const char* format, ...) {
  char line[1024];
  int n = std::snprintf(line, sizeof line, "%s: ", component);
  va_list args;
  va_start(args, format);
  std::vsnprintf(line + n, sizeof line - size_t(n) - 2, format, args);
  va_end(args);
  n = int(std::strlen(line));
  line[n++] = '\n';
  line[n] = 0;
  OutputDebugStringA(line);
  char path[MAX_PATH];
  const DWORD len = GetEnvironmentVariableA("KR_FILTER_LOG", path, sizeof path);
  if (!len || len >= sizeof path) return;
  // One append per line; lines of several threads do not interleave inside.
  HANDLE f = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, line, DWORD(n), &written, nullptr);
  CloseHandle(f);
}
