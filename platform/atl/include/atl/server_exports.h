// The DLL entry point and the four exports every in-process server of ours
// has: one place, so a server's own file holds only its class table.
#pragma once

#include <windows.h>

#include "atl/module.h"

// Expands, at namespace scope of one source file of the server, to DllMain
// (which hands `moduleInfo`, an atl::ModuleInfo, to the module at attach)
// and DllGetClassObject, DllCanUnloadNow, DllRegisterServer and
// DllUnregisterServer over atl::CurrentModule().
#define ATL_SERVER_EXPORTS(moduleInfo)                                               \
  extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {          \
    if (reason == DLL_PROCESS_ATTACH) {                                              \
      DisableThreadLibraryCalls(instance);                                           \
      atl::CurrentModule().Init(instance, &(moduleInfo));                            \
    }                                                                                \
    return TRUE;                                                                     \
  }                                                                                  \
  STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {                 \
    return atl::CurrentModule().GetClassObject(clsid, iid, out);                     \
  }                                                                                  \
  STDAPI DllCanUnloadNow() { return atl::CurrentModule().CanUnloadNow(); }           \
  STDAPI DllRegisterServer() { return atl::CurrentModule().RegisterServer(); }       \
  STDAPI DllUnregisterServer() { return atl::CurrentModule().UnregisterServer(); }
