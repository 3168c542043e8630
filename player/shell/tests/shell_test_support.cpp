#include "shell_test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "shell/win_api_table.h"

namespace {

class ShellEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", nullptr);
    StartWinApiLayer();
  }
  void TearDown() override { StopWinApiLayer(); }
};

const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ShellEnvironment);

}  // namespace

ScopedApiMode::ScopedApiMode(bool win9x) : previous_(IsWin9xMode()) {
  SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", win9x ? "1" : "0");
  DetectPlatform();
  InitWinApiTable();
}

ScopedApiMode::~ScopedApiMode() {
  SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", previous_ ? "1" : "0");
  DetectPlatform();
  InitWinApiTable();
  SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", nullptr);
}

void DeletePlayerKeys() {
  RegDeleteTreeW(HKEY_CURRENT_USER, kPlayerKey);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPlayerKey);
}

ProcessResult RunProcess(const std::wstring& commandLine, DWORD timeoutMs) {
  ProcessResult result;
  SECURITY_ATTRIBUTES sa = {sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return result;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
  line.push_back(0);
  const BOOL started =
      CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    return result;
  }
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got > 0) result.output.append(buffer, got);
  if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &result.exitCode);
  CloseHandle(readEnd);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return result;
}

std::string RegQuery(const std::wstring& key) {
  return RunProcess(L"reg.exe query \"" + key + L"\"", 20000).output;
}

std::wstring TempPath(const wchar_t* name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return std::wstring(folder) + L"shell_" + std::to_wstring(GetCurrentProcessId()) + L"_" + name;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::string out;
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return out;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof(buffer), &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(file);
  return out;
}

std::wstring Widen(const std::string& utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring out(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), n);
  out.resize(wcslen(out.c_str()));
  return out;
}

std::wstring BesideTest(const char* name) {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  folder.resize(folder.rfind(L'\\') + 1);
  return folder + Widen(name);
}

std::string UnixPath(const std::wstring& path) {
  using ToUnix = char*(CDECL*)(const wchar_t*);
  static const auto toUnix =
      reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
          GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix) {
    if (char* unix = toUnix(path.c_str())) {
      std::string out(unix);
      HeapFree(GetProcessHeap(), 0, unix);
      return out;
    }
  }
  std::string out;
  for (wchar_t c : path.substr(path.size() > 2 && path[1] == L':' ? 2 : 0)) out += c == L'\\' ? '/' : char(c);
  return out;
}

ProcessResult RunHostCommand(const std::wstring& folder, const std::string& command, DWORD timeoutMs) {
  const std::wstring script = folder + L"host.sh", output = folder + L"host.out", done = folder + L"host.done";
  DeleteFileW(done.c_str());
  const std::string text = "PATH=/usr/local/bin:/usr/bin:/bin\n" + command + " > '" + UnixPath(output) +
                           "' 2>&1\necho $? > '" + UnixPath(done) + ".part' && mv '" + UnixPath(done) + ".part' '" +
                           UnixPath(done) + "'\n";
  FILE* f = _wfopen(script.c_str(), L"wb");
  if (!f) return {};
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  ProcessResult result;
  std::wstring line = L"/bin/sh " + Widen(UnixPath(script));
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return result;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  const DWORD start = GetTickCount();
  while (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (GetTickCount() - start > timeoutMs) return result;
    Sleep(10);
  }
  result.exitCode = static_cast<DWORD>(std::atoi(ReadFileBytes(done).c_str()));
  result.output = ReadFileBytes(output);
  DeleteFileW(script.c_str());
  DeleteFileW(output.c_str());
  DeleteFileW(done.c_str());
  return result;
}
