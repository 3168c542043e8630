// The operating-system services that portable libraries use: files with
// wide (UTF-16) paths, clocks, host name, text conversions and sleep.
// Implemented once for Win32 and once for POSIX; no Windows header here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// Text. UTF-8 <-> UTF-16 never fails: malformed input becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view s);
std::string utf16ToUtf8(std::u16string_view s);
// The ANSI code page of the system (Windows-1252 on POSIX); characters it
// cannot hold become '?'.
std::u16string ansiToUtf16(std::string_view s);
std::string utf16ToAnsi(std::u16string_view s);

// Files. Paths are UTF-16 as on Windows; mode is as for fopen.
std::FILE* openFile(std::u16string_view path, const char* mode);
bool deleteFile(std::u16string_view path);
bool fileExists(std::u16string_view path);

// Clocks.
struct LocalTime {
  int year, month, day, hour, minute, second, millisecond;
};
LocalTime localTime();
// Local wall-clock time in 100 ns units since 1601-01-01 (a Windows file time
// of the local clock).
uint64_t localFileTime();
// Milliseconds from an arbitrary start; never goes back.
uint64_t monotonicMs();
void sleepMs(uint32_t ms);

std::string hostName();

}  // namespace platform
