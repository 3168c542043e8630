// Medlark.dll's four exports. They live outside the engine library so that
// programs linking the library (its tests) keep their own entry points.
#include "mediaengine/server.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return mediaengine::GetKRMediaClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return mediaengine::CanUnloadKRMediaServer(); }

STDAPI DllRegisterServer() { return mediaengine::RegisterKRMediaServer(); }

STDAPI DllUnregisterServer() { return mediaengine::UnregisterKRMediaServer(); }
