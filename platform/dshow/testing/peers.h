// For Windows test programs that check their output with programs of the
// host: paths between Wine's Z: drive and the host, a host program run
// through the shell, and one of our Windows programs, each bounded in time.
#pragma once

#include <windows.h>

#include <string>

bool UnderWine();
// "Z:\a\b" <-> "/a/b".
std::string UnixPath(const std::string& windows);
std::string WindowsPath(const std::string& unix);
std::string ReadWholeFile(const std::string& path);
bool WaitForFile(const std::string& path, DWORD ms);

struct Ran {
  int exitCode = -1;
  std::string output;
};
// A host command line through /bin/sh, its output and exit code; the tag
// names its files in the current folder.
Ran RunUnix(const std::string& command, const std::string& tag, DWORD ms = 60000);
// A Windows program with its standard output and error captured.
Ran RunWindows(const std::string& exe, const std::string& args, const std::string& tag, DWORD ms = 60000);
