// A DLL of ours, loaded by name by the smoke test.
#include <windows.h>

extern "C" __declspec(dllexport) int __stdcall ProbeAdd(int a, int b) { return a + b; }

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
