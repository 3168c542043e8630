// The exports of a control's DLL over the COM layer's module (class table,
// registration, counts), with start and end hooks that run outside
// DllMain: the start before the first class object is handed out, the end
// when DllCanUnloadNow lets the DLL go (and a later class object starts it
// again). So no library is loaded and COM is not started under the loader
// lock.
//
//   DllMain:            atl::CurrentModule().Init(instance, &kModule); olectl::SetModuleHooks(&kHooks);
//   DllGetClassObject:  return olectl::ModuleGetClassObject(clsid, iid, out);
//   DllCanUnloadNow:    return olectl::ModuleCanUnloadNow();
//   DllRegisterServer:  return atl::CurrentModule().RegisterServer();
// (OLECTL_CONTROL_EXPORTS below writes exactly these.)
#pragma once

#include <windows.h>

#include <cstddef>

#include "atl/module.h"

namespace olectl {

struct ModuleHooks {
  HRESULT (*start)() = nullptr;  // a failure refuses the class object
  void (*end)() = nullptr;
  // Window classes of the module's controls, unregistered at the end so
  // that no class outlives the DLL's code.
  const wchar_t* const* windowClasses = nullptr;
  size_t windowClassCount = 0;
};

// Only stores (DllMain may call it).
void SetModuleHooks(const ModuleHooks* hooks);
HRESULT ModuleGetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT ModuleCanUnloadNow();
bool ModuleStarted();

}  // namespace olectl

// Expands, at namespace scope of one source file of a control's DLL, to
// DllMain (the module's class table and the hooks are stored at attach)
// and the four exports over olectl's module functions.
#define OLECTL_CONTROL_EXPORTS(moduleInfo, hooks)                                    \
  extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {          \
    if (reason == DLL_PROCESS_ATTACH) {                                              \
      DisableThreadLibraryCalls(instance);                                           \
      atl::CurrentModule().Init(instance, &(moduleInfo));                            \
      olectl::SetModuleHooks(&(hooks));                                              \
    }                                                                                \
    return TRUE;                                                                     \
  }                                                                                  \
  STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {                 \
    return olectl::ModuleGetClassObject(clsid, iid, out);                            \
  }                                                                                  \
  STDAPI DllCanUnloadNow() { return olectl::ModuleCanUnloadNow(); }                  \
  STDAPI DllRegisterServer() { return atl::CurrentModule().RegisterServer(); }       \
  STDAPI DllUnregisterServer() { return atl::CurrentModule().UnregisterServer(); }
