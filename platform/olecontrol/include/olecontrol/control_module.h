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
#pragma once

#include <windows.h>

#include <cstddef>

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
