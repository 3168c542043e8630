// The in-process server's module state: its two counters and the three
// creation routines (engine, configuration object, capture manager).
#pragma once

#include <windows.h>
#include <objbase.h>

namespace mediaengine {

// Media objects alive and LockServer locks; DllCanUnloadNow reads both.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
LONG ModuleObjectCount();
LONG ModuleLockCount();

// Each takes an outer unknown, an interface id and an out pointer; with an
// outer unknown the interface must be IUnknown (else CLASS_E_NOAGGREGATION).
HRESULT CreateKRMediaObject(IUnknown* outer, REFIID iid, void** out);
HRESULT CreateKRMediaConfigObject(IUnknown* outer, REFIID iid, void** out);
HRESULT CreateCapManagerObject(IUnknown* outer, REFIID iid, void** out);

// What the four exports do.
HRESULT GetKRMediaClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT CanUnloadKRMediaServer();
HRESULT RegisterKRMediaServer();    // the keys, pointing at this module
HRESULT UnregisterKRMediaServer();  // stops at the first key that fails

}  // namespace mediaengine

extern "C" {
STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out);
STDAPI DllCanUnloadNow();
STDAPI DllRegisterServer();
STDAPI DllUnregisterServer();
}
