// Importane.dll: the class table and the four exports.
#include "atl/module.h"
#include "atl/object.h"
#include "mpeg4_file_v2_object.h"

namespace {

const atl::ClassEntry kClasses[] = {{
    .clsid = &CLSID_IMpeg4FileV2,
    .create = &atl::Creator<Mpeg4FileV2Object>::Create,
    .name = "IMpeg4FileV2 Class",
    .progId = "Importane.IMpeg4FileV2.1",
    .versionIndependentProgId = "Importane.IMpeg4FileV2",
    .threading = atl::ThreadingModel::Apartment,
    .programmable = true,
}};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 1,
    .typeLib = &LIBID_IMPORTANELib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
};

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*) {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
    atl::CurrentModule().Init(instance, &kModule);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  return atl::CurrentModule().GetClassObject(clsid, iid, out);
}
STDAPI DllCanUnloadNow() { return atl::CurrentModule().CanUnloadNow(); }
STDAPI DllRegisterServer() { return atl::CurrentModule().RegisterServer(); }
STDAPI DllUnregisterServer() { return atl::CurrentModule().UnregisterServer(); }
