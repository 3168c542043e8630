// Mpeg4FileV3.dll: the class table and the four exports.
#include "atl/module.h"
#include "atl/object.h"
#include "mpeg4_file_v3_object.h"

namespace {

const atl::ClassEntry kClasses[] = {{
    .clsid = &CLSID_IMpeg4FileV3,
    .create = &atl::Creator<Mpeg4FileV3Object>::Create,
    .name = "IMpeg4FileV3 Class",
    .progId = "Mpeg4FileV3.IMpeg4FileV3.1",
    .versionIndependentProgId = "Mpeg4FileV3.IMpeg4FileV3",
    .threading = atl::ThreadingModel::Apartment,
    .programmable = true,
}};

const atl::ModuleInfo kModule = {
    .classes = kClasses,
    .classCount = 1,
    .typeLib = &LIBID_MPEG4FILEV3Lib,
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
