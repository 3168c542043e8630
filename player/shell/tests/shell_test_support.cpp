#include "shell_test_support.h"

#include <gtest/gtest.h>

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
