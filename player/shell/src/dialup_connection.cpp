#include "shell/dialup_connection.h"

#include "shell/win_api_table.h"

ShellDialupConnection::ShellDialupConnection(HINSTANCE instance) : instance_(instance) {
  event_ = WinApi().CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

ShellDialupConnection::~ShellDialupConnection() { CloseHandle(); }

uint32_t ShellDialupConnection::CheckConnection(uint32_t mode) {
  switch (mode) {
    case 0: return 0;
    case 1: return 1;
    case 2: return 1;  // the first check gives 0, the second 1
    default: return 0;
  }
}

void ShellDialupConnection::CloseHandle() {
  if (event_) ::CloseHandle(event_);
  event_ = nullptr;
}
