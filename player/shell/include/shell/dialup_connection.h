// The connection check the engine asks before it opens a stream. The player
// never dials: a connection is always reported, dialling never.
#pragma once

#include <windows.h>

#include "shell/engine_services.h"

class ShellDialupConnection : public DialupConnection {
 public:
  explicit ShellDialupConnection(HINSTANCE instance);
  ~ShellDialupConnection() override;
  ShellDialupConnection(const ShellDialupConnection&) = delete;
  ShellDialupConnection& operator=(const ShellDialupConnection&) = delete;

  uint32_t EnsureConnected() override { return 1; }
  // Mode 0 gives 0; 1 and 2 give 1; any other mode 0.
  uint32_t CheckConnection(uint32_t mode) override;
  uint32_t IsDialing() override { return 0; }
  void CloseHandle() override;

  HANDLE Event() const { return event_; }
  uint32_t Flags() const { return flags_; }

 private:
  wchar_t settings_[256] = {};  // connection names and texts: never filled here
  HINSTANCE instance_;
  uint32_t flags_ = 0x2001;
  uint32_t state_[4] = {};
  HANDLE event_ = nullptr;
};
