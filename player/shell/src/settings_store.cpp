#include "shell/settings_store.h"

#include <initializer_list>

#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/win_api_table.h"

namespace {

constexpr REGSAM kRead = KEY_READ;    // 0x20019
constexpr REGSAM kWrite = KEY_WRITE;  // 0x20006

bool LoadKeyText(HINSTANCE instance, wchar_t (&key)[kSettingStringCapacity]) {
  return WinApi().LoadStringW(instance, shell::kSettingsKeyId, key, kSettingStringCapacity) > 0;
}

// Reads name from one hive into data (at most *size bytes); true when the
// value is there with the wanted type.
bool QueryHive(HKEY hive, const wchar_t* keyText, const wchar_t* name, DWORD wantType, BYTE* data, DWORD* size) {
  const WinApiTable& api = WinApi();
  HKEY key = nullptr;
  if (api.RegOpenKeyExW(hive, keyText, 0, kRead, &key) != ERROR_SUCCESS) return false;
  DWORD type = 0;
  const bool ok = api.RegQueryValueExW(key, name, nullptr, &type, data, size) == ERROR_SUCCESS && type == wantType;
  RegCloseKey(key);
  return ok;
}

// The user's value first and then the machine's, value by value: a user key
// that lacks a value does not hide the machine's.
bool QuerySetting(HINSTANCE instance, const wchar_t* name, DWORD wantType, BYTE* data, DWORD capacity,
                  DWORD* size) {
  if (!name) return false;
  wchar_t keyText[kSettingStringCapacity];
  if (!LoadKeyText(instance, keyText)) return false;
  for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
    *size = capacity;
    if (QueryHive(hive, keyText, name, wantType, data, size)) return true;
  }
  return false;
}

bool LoadName(HINSTANCE instance, UINT id, wchar_t (&name)[kSettingStringCapacity]) {
  return WinApi().LoadStringW(instance, id, name, kSettingStringCapacity) > 0;
}

// Opens the key for writing: the user's key once it exists (so that what is
// written is what is read), else the machine's when this process may write
// there, else a new user key.
HKEY OpenForWrite(HINSTANCE instance) {
  const WinApiTable& api = WinApi();
  wchar_t keyText[kSettingStringCapacity];
  HKEY key = nullptr;
  if (LoadKeyText(instance, keyText)) {
    if (api.RegOpenKeyExW(HKEY_CURRENT_USER, keyText, 0, kWrite, &key) == ERROR_SUCCESS) return key;
    const LSTATUS machine = api.RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyText, 0, kWrite, &key);
    if (machine == ERROR_SUCCESS) return key;
    if ((machine == ERROR_ACCESS_DENIED || machine == ERROR_FILE_NOT_FOUND) &&
        api.RegCreateKeyExW(HKEY_CURRENT_USER, keyText, 0, nullptr, 0, kWrite, nullptr, &key, nullptr) ==
            ERROR_SUCCESS)
      return key;
  }
  ShowMessage(instance, 50047, nullptr, MB_OK);
  return nullptr;
}

int WriteValue(HINSTANCE instance, UINT id, DWORD type, const BYTE* data, DWORD size) {
  HKEY key = OpenForWrite(instance);
  if (!key) return 0;
  wchar_t name[kSettingStringCapacity];
  const bool ok = LoadName(instance, id, name) &&
                  WinApi().RegSetValueExW(key, name, 0, type, data, size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok ? 1 : 0;
}

}  // namespace

uint32_t GetSettingsVersion() { return shell::kSettingsVersion; }

int ReadSettingDword(HINSTANCE instance, const wchar_t* name, DWORD* value) {
  DWORD data = 0, size = 0;
  if (!QuerySetting(instance, name, REG_DWORD, reinterpret_cast<BYTE*>(&data), sizeof(data), &size) ||
      size != sizeof(DWORD))
    return 0;
  *value = data;
  return 1;
}

int ReadSettingDwordById(HINSTANCE instance, UINT id, DWORD* value) {
  wchar_t name[kSettingStringCapacity];
  return LoadName(instance, id, name) ? ReadSettingDword(instance, name, value) : 0;
}

int ReadSettingString(HINSTANCE instance, const wchar_t* name, wchar_t* buffer) {
  wchar_t data[kSettingStringCapacity] = {};
  DWORD size = 0;
  if (!QuerySetting(instance, name, REG_SZ, reinterpret_cast<BYTE*>(data), sizeof(data), &size)) return 0;
  // A value stored without its terminator ends where its bytes end; one
  // that fills the whole buffer without one is too long.
  DWORD units = size / sizeof(wchar_t);
  if (units > 0 && data[units - 1] == 0) --units;
  if (units >= kSettingStringCapacity) return 0;
  data[units] = 0;
  for (DWORD i = 0; i <= units; ++i) buffer[i] = data[i];
  return 1;
}

int ReadSettingStringById(HINSTANCE instance, UINT id, wchar_t* buffer) {
  wchar_t name[kSettingStringCapacity];
  return LoadName(instance, id, name) ? ReadSettingString(instance, name, buffer) : 0;
}

int WriteSettingDwordById(HINSTANCE instance, UINT id, DWORD value) {
  return WriteValue(instance, id, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

int WriteSettingStringById(HINSTANCE instance, UINT id, const wchar_t* text) {
  if (!text) text = L"";
  const DWORD size = static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t));
  return WriteValue(instance, id, REG_SZ, reinterpret_cast<const BYTE*>(text), size);
}
