// Shared by the filter tests: registration through regsvr32, and running
// Wine's own command-line tools.
#pragma once

#include <windows.h>

#include <string>

struct CommandResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};

// Runs a command line, capturing its standard output; bounded at 30 s.
CommandResult runCommand(const std::string& commandLine);
std::string testDir();
std::string tonquillPath();
// regsvr32 (or regsvr32 /u) on Tonquill; answers regsvr32's exit code.
DWORD regsvr32(bool unregister);
