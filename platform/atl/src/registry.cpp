#include "atl/registry.h"

#include <objbase.h>

namespace atl {

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

std::string GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return Narrow(text);
}

HRESULT WriteRegPlan(const RegPlan& plan) {
  for (const RegKey& key : plan.writes) {
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, Widen(key.path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    for (const RegValue& value : key.values) {
      std::wstring data = Widen(value.data);
      DWORD bytes = static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t));
      rc = RegSetValueExW(handle, value.name.empty() ? nullptr : Widen(value.name).c_str(), 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(data.c_str()), bytes);
      if (rc != ERROR_SUCCESS) break;
    }
    RegCloseKey(handle);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  }
  return S_OK;
}

HRESULT RemoveRegPlan(const RegPlan& plan) {
  HRESULT first = S_OK;
  for (const std::string& root : plan.removals) {
    LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, Widen(root).c_str());
    if (rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND) continue;
    // Go on with the others, so one stuck key leaves as little as possible.
    if (first == S_OK) first = HRESULT_FROM_WIN32(rc);
  }
  return first;
}

bool ClassesKeyExists(const std::string& path) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, Widen(path).c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return false;
  RegCloseKey(handle);
  return true;
}

}  // namespace atl
