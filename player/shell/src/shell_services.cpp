#include "shell/shell_services.h"

#include <string>

#include "shell/clip_file.h"
#include "shell/dialup_connection.h"
#include "shell/log_window.h"
#include "shell/messages.h"
#include "shell/settings_store.h"
#include "shell/win_api_table.h"

namespace {

const wchar_t* Wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

}  // namespace

ClipFile* ShellServices::NewClipFile() { return new DescriptorClipFile; }

DialupConnection* ShellServices::NewDialupConnection(PlayerContext*) {
  return new ShellDialupConnection(WinApiLayer().instance);
}

QLTLogWindow* ShellServices::NewLogWindow(HINSTANCE instance) { return new ShellLogWindow(instance); }

uint32_t ShellServices::GetSettingsVersion() { return ::GetSettingsVersion(); }

bool ShellServices::ReadSettingDword(HINSTANCE instance, const char16_t* name, uint32_t* value) {
  DWORD v = 0;
  if (!::ReadSettingDword(instance, Wide(name), &v)) return false;
  *value = v;
  return true;
}

bool ShellServices::ReadSettingDwordById(HINSTANCE instance, uint32_t nameId, uint32_t* value) {
  DWORD v = 0;
  if (!::ReadSettingDwordById(instance, nameId, &v)) return false;
  *value = v;
  return true;
}

bool ShellServices::ReadSettingString(HINSTANCE instance, const char16_t* name, char16_t* buffer) {
  return ::ReadSettingString(instance, Wide(name), reinterpret_cast<wchar_t*>(buffer)) != 0;
}

bool ShellServices::ReadSettingStringById(HINSTANCE instance, uint32_t nameId, char16_t* buffer) {
  return ::ReadSettingStringById(instance, nameId, reinterpret_cast<wchar_t*>(buffer)) != 0;
}

void ShellServices::WriteSettingDwordById(HINSTANCE instance, uint32_t nameId, uint32_t value) {
  ::WriteSettingDwordById(instance, nameId, value);
}

void ShellServices::WriteSettingStringById(HINSTANCE instance, uint32_t nameId, const char16_t* text) {
  ::WriteSettingStringById(instance, nameId, Wide(text));
}

void ShellServices::InstrumentLog(HINSTANCE instance, const char16_t* line) {
  InstrumentLogText(instance, Wide(line));
}

int ShellServices::ShowMessage(HINSTANCE instance, uint32_t messageId, const char16_t* argument, uint32_t flags) {
  return ::ShowMessage(instance, messageId, Wide(argument), flags);
}

void ShellServices::DebugTrace(uint32_t level, const char* where, const char* what) {
  DWORD debug = 0;
  if (!::ReadSettingDword(nullptr, L"Debug", &debug) || debug == 0) return;
  const std::string line = std::to_string(level) + " " + (where ? where : "") + ": " + (what ? what : "") + "\n";
  const int units = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 1), L'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, wide.data(), units);
  InstrumentLogText(nullptr, wide.c_str());
}
