// The module of an in-process COM server: its class table, its object and
// lock counts, and what its four exports do. A DLL calls
// CurrentModule().Init from DllMain (it only stores its arguments, so
// nothing runs under the loader lock) and forwards its exports:
//   STDAPI DllGetClassObject(REFCLSID c, REFIID i, void** o) { return atl::CurrentModule().GetClassObject(c, i, o); }
//   STDAPI DllCanUnloadNow() { return atl::CurrentModule().CanUnloadNow(); }
//   STDAPI DllRegisterServer() { return atl::CurrentModule().RegisterServer(); }
//   STDAPI DllUnregisterServer() { return atl::CurrentModule().UnregisterServer(); }
#pragma once

#include <windows.h>
#include <comcat.h>
#include <oaidl.h>

#include <cstddef>
#include <string>

#include "atl/regplan.h"

namespace atl {

// Creates an object of one class: outer is null or the aggregating unknown.
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

// A component category the class implements, created with this
// description (locale 0x409) when it does not exist yet.
struct Category {
  const CATID* id;
  const wchar_t* description;
};

struct ClassEntry {
  const CLSID* clsid;
  CreateFunction create;
  const char* name;  // friendly name
  const char* progId = nullptr;  // "Library.Class.1"
  const char* versionIndependentProgId = nullptr;  // "Library.Class"
  ThreadingModel threading = ThreadingModel::Apartment;
  bool programmable = false;
  const Category* categories = nullptr;
  size_t categoryCount = 0;
  bool control = false;  // an ActiveX control (Control and MiscStatus keys)
  unsigned long miscStatus = 0;  // its OLEMISC_* bits
  const GUID* appId = nullptr;  // null: the module's
};

struct ModuleInfo {
  const ClassEntry* classes;
  size_t classCount;
  // The type library in the DLL's resource TYPELIB 1; null when none.
  const GUID* typeLib = nullptr;
  WORD typeLibMajor = 1;
  WORD typeLibMinor = 0;
  const GUID* appId = nullptr;  // null: no AppID
};

class Module {
 public:
  void Init(HINSTANCE instance, const ModuleInfo* info) {
    instance_ = instance;
    info_ = info;
  }
  HINSTANCE Instance() const { return instance_; }
  const ModuleInfo* Info() const { return info_; }
  // The DLL's full path.
  std::wstring Path() const;

  // Objects alive and LockServer locks held; either keeps the DLL loaded.
  LONG AddObject() { return InterlockedIncrement(&objects_); }
  LONG RemoveObject() { return InterlockedDecrement(&objects_); }
  LONG AddLock() { return InterlockedIncrement(&locks_); }
  LONG RemoveLock() { return InterlockedDecrement(&locks_); }
  LONG Objects() const { return objects_; }
  LONG Locks() const { return locks_; }

  // A new class factory of a class in the table, else CLASS_E_CLASSNOTAVAILABLE.
  HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
  // S_OK when no object lives and no lock is held, else S_FALSE.
  HRESULT CanUnloadNow() const { return objects_ == 0 && locks_ == 0 ? S_OK : S_FALSE; }
  // Writes every class's keys, registers the type library and the
  // categories. A failure undoes what was written and answers
  // SELFREG_E_CLASS (keys, categories) or SELFREG_E_TYPELIB.
  HRESULT RegisterServer();
  // Removes what RegisterServer wrote; what is already gone is no failure.
  HRESULT UnregisterServer();
  // The module's type library: registered (LoadRegTypeLib), else read from
  // the DLL's resource.
  HRESULT LoadTypeLib(ITypeLib** out) const;
  // The keys RegisterServer writes (empty text) or why it cannot.
  std::string Plan(RegPlan* plan) const;

 private:
  HRESULT RegisterCategories(bool add) const;
  HRESULT RegisterTypeLibrary() const;
  HRESULT UnregisterTypeLibrary() const;

  HINSTANCE instance_ = nullptr;
  const ModuleInfo* info_ = nullptr;
  volatile LONG objects_ = 0;
  volatile LONG locks_ = 0;
};

// The one module of this DLL (or program).
Module& CurrentModule();

}  // namespace atl
