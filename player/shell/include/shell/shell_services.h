// The shell's services as the player engine uses them (engine_services.h),
// over the settings store, the messages, the log window and the connection
// object, and the clip descriptor reader.
#pragma once

#include "shell/engine_services.h"

class ShellServices : public PlayerShellServices {
 public:
  ClipFile* NewClipFile() override;
  DialupConnection* NewDialupConnection(PlayerContext* context) override;
  QLTLogWindow* NewLogWindow(HINSTANCE instance) override;

  uint32_t GetSettingsVersion() override;
  bool ReadSettingDword(HINSTANCE instance, const char16_t* name, uint32_t* value) override;
  bool ReadSettingDwordById(HINSTANCE instance, uint32_t nameId, uint32_t* value) override;
  bool ReadSettingString(HINSTANCE instance, const char16_t* name, char16_t* buffer) override;
  bool ReadSettingStringById(HINSTANCE instance, uint32_t nameId, char16_t* buffer) override;
  void WriteSettingDwordById(HINSTANCE instance, uint32_t nameId, uint32_t value) override;
  void WriteSettingStringById(HINSTANCE instance, uint32_t nameId, const char16_t* text) override;

  void InstrumentLog(HINSTANCE instance, const char16_t* line) override;
  int ShowMessage(HINSTANCE instance, uint32_t messageId, const char16_t* argument, uint32_t flags) override;
  // "where: what" into the instrumentation log while "Debug" is non-zero.
  void DebugTrace(uint32_t level, const char* where, const char* what) override;
};
