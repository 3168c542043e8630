// The player's settings: registry values under the key of string 60121
// ("Software\Apps\Kestrune\Orlomer") in HKEY_CURRENT_USER and
// HKEY_LOCAL_MACHINE. Value names come from the string table by id (see
// shell/portable/settings_values.h). Safe from any thread: every call opens
// and closes the key.
#pragma once

#include <windows.h>

#include <cstdint>

// Characters of a string setting's buffer, terminator included.
constexpr int kSettingStringCapacity = 256;

uint32_t GetSettingsVersion();
// 1 when found with the right type (and for a DWORD 4 bytes), else 0 with the
// output untouched.
int ReadSettingDword(HINSTANCE instance, const wchar_t* name, DWORD* value);
int ReadSettingDwordById(HINSTANCE instance, UINT id, DWORD* value);
// buffer holds kSettingStringCapacity characters and is always terminated on
// success; a longer value counts as absent.
int ReadSettingString(HINSTANCE instance, const wchar_t* name, wchar_t* buffer);
int ReadSettingStringById(HINSTANCE instance, UINT id, wchar_t* buffer);
// 1 written, 0 failed (message 50047 shown).
int WriteSettingDwordById(HINSTANCE instance, UINT id, DWORD value);
int WriteSettingStringById(HINSTANCE instance, UINT id, const wchar_t* text);
