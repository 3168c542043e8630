#include "peers.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string UnixPath(const std::string& p) {
  std::string out = p.size() >= 2 && p[1] == ':' ? p.substr(2) : p;
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string WindowsPath(const std::string& unix) {
  std::string out = "Z:" + unix;
  for (char& c : out)
    if (c == '/') c = '\\';
  return out;
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

bool WaitForFile(const std::string& path, DWORD ms) {
  const DWORD until = GetTickCount() + ms;
  while (int(until - GetTickCount()) > 0) {
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      std::fclose(f);
      return true;
    }
    Sleep(50);
  }
  return false;
}

Ran RunUnix(const std::string& command, const std::string& tag, DWORD ms) {
  char here[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, here);
  const std::string dir = UnixPath(here);
  const std::string out = dir + "/" + tag + ".out", done = dir + "/" + tag + ".done";
  std::remove(WindowsPath(out).c_str());
  std::remove(WindowsPath(done).c_str());
  // Wine starts a host program given by its unix path.
  std::string cmd = "/bin/sh -c \"" + command + " >" + out + " 2>&1; echo $? >" + done + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  Ran r;
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return r;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (!WaitForFile(WindowsPath(done), ms)) return r;
  Sleep(100);
  r.exitCode = std::atoi(ReadWholeFile(WindowsPath(done)).c_str());
  r.output = ReadWholeFile(WindowsPath(out));
  return r;
}

Ran RunWindows(const std::string& exe, const std::string& args, const std::string& tag, DWORD ms) {
  const std::string outPath = tag + ".out";
  SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
  HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &sa, CREATE_ALWAYS, 0, nullptr);
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = out;
  PROCESS_INFORMATION pi = {};
  std::string cmd = "\"" + exe + "\" " + args;
  Ran r;
  if (CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
    if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    r.exitCode = int(code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  r.output = ReadWholeFile(outPath);
  return r;
}
