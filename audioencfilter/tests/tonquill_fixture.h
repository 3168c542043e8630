// Shared by the filter tests: registration through regsvr32, and running
// Wine's own command-line tools.
#pragma once

#include <windows.h>

#include <string>

#include "command.h"

std::string tonquillPath();
// regsvr32 (or regsvr32 /u) on Tonquill; answers regsvr32's exit code.
DWORD regsvr32(bool unregister);
