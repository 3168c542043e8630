// A loadable library that stands in for an outside audio decoder library,
// so that the engine's start-up probe finds one. It exports nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
