// Trace lines of the engine's classes. They go to the debugger output; the
// last line of the calling thread is kept so that tests can read it.
#pragma once

#include <windows.h>

#include <string>

namespace mediaengine {

void Trace(const std::string& line);
const std::string& LastTrace();

// DirectShow's text for a code, at most 160 characters.
std::string DirectShowErrorText(HRESULT code);

// The engine's own text for its few described codes, else DirectShow's.
std::string CodeText(HRESULT code);

}  // namespace mediaengine
