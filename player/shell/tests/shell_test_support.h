// What the shell's tests share: the layer started once, a switch between
// the Unicode and the Windows 9x mode, the player's registry key, and
// programs run with their output captured (Wine's reg.exe, the probe).
#pragma once

#include <windows.h>

#include <string>

constexpr wchar_t kPlayerKey[] = L"Software\\Apps\\Kestrune\\Orlomer";

// Switches the function table to a mode for the life of the object.
class ScopedApiMode {
 public:
  explicit ScopedApiMode(bool win9x);
  ~ScopedApiMode();

 private:
  bool previous_;
};

// Removes the player's key from both hives.
void DeletePlayerKeys();
// "reg query" of a key ("HKCU\\..." or "HKLM\\..."), as the registry tool prints it.
std::string RegQuery(const std::wstring& key);

struct ProcessResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};
// Runs a command line, waits at most timeoutMs, and returns its exit code
// and standard output.
ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs);

std::wstring TempPath(const wchar_t* name);
std::string ReadFileBytes(const std::wstring& path);
std::wstring Widen(const std::string& utf8);
// A file beside the test program.
std::wstring BesideTest(const char* name);

// The host's path of a file of ours.
std::string UnixPath(const std::wstring& path);
// Runs a command of the host's shell in a script written to folder (Wine
// does not wait for a host program, so the script tells its end by a file);
// its exit code and output, exit code 0xFFFFFFFF when it did not end in time.
ProcessResult RunHostCommand(const std::wstring& folder, const std::string& command, DWORD timeoutMs = 30000);
