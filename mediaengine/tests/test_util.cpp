#include "test_util.h"

// The test program links the DirectShow base classes for the test filters;
// it registers no classes of its own with them.
#include "dshow/base.h"
CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

std::string MedlarkPath() { return TestDir() + MEDLARK_DLL; }

DWORD Regsvr32(bool unregister) {
  return RunCommand(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + MedlarkPath() + "\"")
      .exitCode;
}

bool ClassesKeyExists(const std::wstring& path) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}
