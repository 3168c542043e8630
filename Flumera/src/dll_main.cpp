// Flumera.dll entry: nothing to do per process or thread; the controller
// starts Winsock through CreateKRStreamInstance.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
