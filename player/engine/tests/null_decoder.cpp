// A decoder library that has both exports but hands out no decoder object,
// as a library that cannot make one does.
#include <windows.h>

#include "engine/decoder_library.h"

extern "C" void GetInterface(CAIDecoder** decoder, AudioFrameSource*) {
  if (decoder) *decoder = nullptr;
}

extern "C" void FreeInterface(CAIDecoder** decoder) {
  if (decoder) *decoder = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
