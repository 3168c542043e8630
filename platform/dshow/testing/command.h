// For Windows test programs: Wine's own command-line tools (regsvr32, reg)
// run with their output captured, and the folder the test program lives in.
#pragma once

#include <windows.h>

#include <string>

struct CommandResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;
};

// Runs a command line, capturing its standard output and error; the wait
// for its end is bounded at 30 s.
CommandResult RunCommand(const std::string& commandLine);
// The test program's folder, with its trailing separator.
std::string TestDir();
