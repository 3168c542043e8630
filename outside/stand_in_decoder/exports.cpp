// The two exports of a stand-in decoder library. STAND_IN_KIND and
// STAND_IN_NAME come from the build; the log goes to the file named by the
// environment variable STAND_IN_DECODER_LOG.
#include <windows.h>

#include <cstdio>
#include <new>

#include "stand_in_decoder.h"

extern "C" void GetInterface(CAIDecoder** decoder, AudioFrameSource* source) {
  if (!decoder) return;
  *decoder = nullptr;
  if (!source) return;
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", path, MAX_PATH);
  std::FILE* log = n > 0 && n < MAX_PATH ? _wfopen(path, L"a") : nullptr;
  *decoder = new (std::nothrow) StandInDecoder(static_cast<StandInDecoder::Kind>(STAND_IN_KIND), STAND_IN_NAME,
                                               source, log);
}

extern "C" void FreeInterface(CAIDecoder** decoder) {
  if (!decoder || !*decoder) return;
  (*decoder)->Destroy(1);
  *decoder = nullptr;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
