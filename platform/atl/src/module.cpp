#include "atl/module.h"

#include <objbase.h>
#include <olectl.h>
#include <oleauto.h>

#include <vector>

#include "atl/object.h"
#include "atl/owners.h"
#include "atl/registry.h"

namespace atl {

HRESULT QueryTable(void* self, const InterfaceEntry* table, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown) && table[0].cast) {
    auto* unknown = static_cast<IUnknown*>(table[0].cast(self));
    unknown->AddRef();
    *out = unknown;
    return S_OK;
  }
  for (const InterfaceEntry* e = table; e->iid; ++e) {
    if (!IsEqualIID(iid, *e->iid)) continue;
    if (e->query) return e->query(self, iid, out);
    auto* unknown = static_cast<IUnknown*>(e->cast(self));
    unknown->AddRef();
    *out = unknown;
    return S_OK;
  }
  return E_NOINTERFACE;
}

namespace {

// One per DllGetClassObject call; it does not keep the DLL loaded (a client
// that keeps a factory calls LockServer, as COM asks).
class ClassFactory : public ObjectRoot<MultiThreaded>, public IClassFactory {
 public:
  explicit ClassFactory(CreateFunction create) : create_(create) {}
  static const InterfaceEntry* Interfaces() {
    static const InterfaceEntry entries[] = {Entry<ClassFactory, IClassFactory>(), {}};
    return entries;
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    return create_(outer, iid, out);
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      CurrentModule().AddLock();
    else
      CurrentModule().RemoveLock();
    return S_OK;
  }

 private:
  CreateFunction create_;
};

// COM for the registration calls (category manager); regsvr32 may or may
// not have started it on this thread.
class ComForThisCall {
 public:
  ComForThisCall() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComForThisCall() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

SYSKIND OwnSysKind() { return sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32; }

}  // namespace

Module& CurrentModule() {
  static Module module;
  return module;
}

std::wstring Module::Path() const {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(instance_, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

HRESULT Module::GetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (size_t i = 0; info_ && i < info_->classCount; ++i) {
    const ClassEntry& entry = info_->classes[i];
    if (!IsEqualCLSID(clsid, *entry.clsid)) continue;
    auto* factory = new (std::nothrow) NoLockObject<ClassFactory>(entry.create);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    HRESULT hr = factory->QueryInterface(iid, out);
    factory->Release();
    return hr;
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

std::string Module::Plan(RegPlan* plan) const {
  *plan = RegPlan();
  if (!info_) return "the module has no class table";
  std::vector<ClassKeys> classes;
  for (size_t i = 0; i < info_->classCount; ++i) {
    const ClassEntry& e = info_->classes[i];
    ClassKeys c;
    c.clsid = GuidText(*e.clsid);
    c.name = e.name ? e.name : "";
    c.progId = e.progId ? e.progId : "";
    c.versionIndependentProgId = e.versionIndependentProgId ? e.versionIndependentProgId : "";
    c.threading = e.threading;
    c.programmable = e.programmable;
    c.control = e.control;
    c.miscStatus = e.miscStatus;
    if (info_->typeLib) c.typeLib = GuidText(*info_->typeLib);
    if (const GUID* appId = e.appId ? e.appId : info_->appId) c.appId = GuidText(*appId);
    classes.push_back(c);
  }
  std::wstring path = Path();
  std::wstring file = path.substr(path.find_last_of(L"\\/") + 1);
  return PlanModule(classes, Narrow(path), Narrow(file), plan);
}

HRESULT Module::RegisterTypeLibrary() const {
  if (!info_->typeLib) return S_OK;
  std::wstring path = Path();
  ComPtr<ITypeLib> library;
  if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Out()))) return SELFREG_E_TYPELIB;
  TLIBATTR* attr = nullptr;
  if (FAILED(library->GetLibAttr(&attr))) return SELFREG_E_TYPELIB;
  // The resource must be the library the class keys name.
  bool same = IsEqualGUID(attr->guid, *info_->typeLib) && attr->wMajorVerNum == info_->typeLibMajor &&
              attr->wMinorVerNum == info_->typeLibMinor;
  library->ReleaseTLibAttr(attr);
  if (!same) return SELFREG_E_TYPELIB;
  return SUCCEEDED(RegisterTypeLib(library.Get(), const_cast<LPOLESTR>(path.c_str()), nullptr)) ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT Module::UnregisterTypeLibrary() const {
  if (!info_->typeLib) return S_OK;
  Bstr registered;
  // Not registered (any more): nothing to remove.
  if (FAILED(QueryPathOfRegTypeLib(*info_->typeLib, info_->typeLibMajor, info_->typeLibMinor, 0, registered.Out())))
    return S_OK;
  HRESULT hr = UnRegisterTypeLib(*info_->typeLib, info_->typeLibMajor, info_->typeLibMinor, 0, OwnSysKind());
  return SUCCEEDED(hr) ? S_OK : SELFREG_E_TYPELIB;
}

HRESULT Module::RegisterCategories(bool add) const {
  ComPtr<ICatRegister> manager;
  bool any = false;
  for (size_t i = 0; i < info_->classCount; ++i) any = any || info_->classes[i].categoryCount > 0;
  if (!any) return S_OK;
  HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                                manager.OutVoid());
  if (FAILED(hr)) return hr;
  HRESULT first = S_OK;
  for (size_t i = 0; i < info_->classCount; ++i) {
    const ClassEntry& e = info_->classes[i];
    for (size_t c = 0; c < e.categoryCount; ++c) {
      CATID id = *e.categories[c].id;
      if (add) {
        CATEGORYINFO info = {};
        info.catid = id;
        info.lcid = 0x409;
        lstrcpynW(info.szDescription, e.categories[c].description, 128);
        hr = manager->RegisterCategories(1, &info);
        if (SUCCEEDED(hr)) hr = manager->RegisterClassImplCategories(*e.clsid, 1, &id);
        if (FAILED(hr)) return hr;
      } else {
        // Already gone with its class key: nothing to take away.
        if (!ClassesKeyExists("CLSID\\" + GuidText(*e.clsid) + "\\Implemented Categories")) continue;
        hr = manager->UnRegisterClassImplCategories(*e.clsid, 1, &id);
        if (FAILED(hr) && first == S_OK) first = hr;
      }
    }
  }
  if (add) return S_OK;
  // A category this module described and no class implements any more goes
  // too, so unregistering leaves the categories as they were found.
  ComPtr<ICatInformation> information;
  if (FAILED(manager.As(&information))) return first;
  for (size_t i = 0; i < info_->classCount; ++i) {
    const ClassEntry& e = info_->classes[i];
    for (size_t c = 0; c < e.categoryCount; ++c) {
      CATID id = *e.categories[c].id;
      LPWSTR description = nullptr;
      if (FAILED(information->GetCategoryDesc(id, 0x409, &description))) continue;
      bool ours = lstrcmpW(description, e.categories[c].description) == 0;
      CoTaskMemFree(description);
      if (!ours) continue;
      ComPtr<IEnumCLSID> users;
      if (FAILED(information->EnumClassesOfCategories(1, &id, static_cast<ULONG>(-1), nullptr, users.Out())))
        continue;
      CLSID user;
      ULONG fetched = 0;
      if (users->Next(1, &user, &fetched) == S_OK && fetched == 1) continue;
      hr = manager->UnRegisterCategories(1, &id);
      if (FAILED(hr) && first == S_OK) first = hr;
    }
  }
  return first;
}

HRESULT Module::RegisterServer() {
  RegPlan plan;
  if (!Plan(&plan).empty()) return SELFREG_E_CLASS;
  ComForThisCall com;
  if (FAILED(WriteRegPlan(plan))) {
    RemoveRegPlan(plan);
    return SELFREG_E_CLASS;
  }
  if (RegisterTypeLibrary() != S_OK) {
    RemoveRegPlan(plan);
    return SELFREG_E_TYPELIB;
  }
  if (FAILED(RegisterCategories(true))) {
    UnregisterServer();
    return SELFREG_E_CLASS;
  }
  return S_OK;
}

HRESULT Module::UnregisterServer() {
  RegPlan plan;
  if (!Plan(&plan).empty()) return SELFREG_E_CLASS;
  ComForThisCall com;
  // Categories first: they live under the class keys removed last.
  HRESULT categories = RegisterCategories(false);
  HRESULT library = UnregisterTypeLibrary();
  HRESULT keys = RemoveRegPlan(plan);
  if (library != S_OK) return SELFREG_E_TYPELIB;
  if (FAILED(keys) || FAILED(categories)) return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT Module::LoadTypeLib(ITypeLib** out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!info_ || !info_->typeLib) return TYPE_E_LIBNOTREGISTERED;
  if (SUCCEEDED(LoadRegTypeLib(*info_->typeLib, info_->typeLibMajor, info_->typeLibMinor, 0, out))) return S_OK;
  return LoadTypeLibEx(Path().c_str(), REGKIND_NONE, out);
}

}  // namespace atl
