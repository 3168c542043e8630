// Shared by the media engine's tests: Wine's command-line tools, the
// library's path, and COM set up for one test.
#pragma once

#include <windows.h>

#include <string>

#include "command.h"

std::string MedlarkPath();
// regsvr32 /s (and /u) on Medlark; answers its exit code.
DWORD Regsvr32(bool unregister);
bool ClassesKeyExists(const std::wstring& path);

class ComScope {
 public:
  ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(result_)) CoUninitialize();
  }
  HRESULT Result() const { return result_; }

 private:
  HRESULT result_;
};
