#include "mediaengine/trace.h"

#include <errors.h>

#include <cstdio>

#include "mediaengine/errors.h"

namespace mediaengine {

namespace {
thread_local std::string lastTrace;
}

void Trace(const std::string& line) {
  lastTrace = line;
  OutputDebugStringA((line + "\n").c_str());
}

const std::string& LastTrace() { return lastTrace; }

std::string DirectShowErrorText(HRESULT code) {
  char text[161] = {};
  if (AMGetErrorTextA(code, text, 160) == 0) std::snprintf(text, sizeof text, "Error 0x%08lX", (unsigned long)code);
  return text;
}

std::string CodeText(HRESULT code) {
  if (const char* own = MediaEngineTraceText(code)) return own;
  return DirectShowErrorText(code);
}

}  // namespace mediaengine
