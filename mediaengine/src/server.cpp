// The in-process server's module: its counters, the class factory, the
// registry keys and the three creation routines, written by hand (no type
// library is registered). The four exports that use them are in exports.cpp.
#include "mediaengine/server.h"

#include <olectl.h>

#include <new>
#include <string>

#include "mediaengine/capmanager.h"
#include "mediaengine/config.h"
#include "mediaengine/errors.h"
#include "mediaengine/interfaces.h"
#include "mediaengine/media.h"

namespace mediaengine {

namespace {

// The class is registered "Both": objects come and go on any thread.
volatile LONG objectCount = 0;
volatile LONG lockCount = 0;

class CKRMediaClassFactory : public IClassFactory {
 public:
  CKRMediaClassFactory() = default;
  virtual ~CKRMediaClassFactory() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory)) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* engine = nullptr;
    HRESULT hr = CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine));
    if (FAILED(hr)) {
      // An engine without its companions is not handed out.
      if (engine) engine->Release();
      return hr;
    }
    hr = engine->QueryInterface(iid, out);
    engine->Release();
    return hr;
  }

  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock)
      InterlockedIncrement(&lockCount);
    else
      InterlockedDecrement(&lockCount);
    return S_OK;
  }

 private:
  volatile LONG refs_ = 1;
};

// ---- registration ---------------------------------------------------------

constexpr wchar_t kClsidText[] = L"{07759AE6-4DF1-11D4-871F-0050DA816754}";

std::wstring ClassKey() { return std::wstring(L"CLSID\\") + kClsidText; }

LONG SetKey(const std::wstring& path, const wchar_t* valueName, const std::wstring& value) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  rc = RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return rc;
}

std::wstring ModulePath() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModulePath), &module);
  wchar_t path[MAX_PATH] = {};
  DWORD n = GetModuleFileNameW(module, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::wstring(path, n) : std::wstring();
}

}  // namespace

HRESULT GetKRMediaClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_KRMedia)) return CLASS_E_CLASSNOTAVAILABLE;
  CKRMediaClassFactory* factory = new (std::nothrow) CKRMediaClassFactory();
  if (!factory) return KRM_E_OUT_OF_MEMORY;
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

HRESULT CanUnloadKRMediaServer() { return objectCount == 0 && lockCount == 0 ? S_OK : S_FALSE; }

HRESULT RegisterKRMediaServer() {
  std::wstring path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  std::wstring progIdKey = std::wstring(kKRMediaProgId) + L"\\CLSID";
  std::wstring server = ClassKey() + L"\\InprocServer32";
  if (SetKey(progIdKey, nullptr, kClsidText) != ERROR_SUCCESS || SetKey(server, nullptr, path) != ERROR_SUCCESS ||
      SetKey(server, L"ThreadingModel", L"Both") != ERROR_SUCCESS ||
      SetKey(ClassKey() + L"\\ProgID", nullptr, kKRMediaProgId) != ERROR_SUCCESS)
    return SELFREG_E_CLASS;
  return S_OK;
}

HRESULT UnregisterKRMediaServer() {
  const std::wstring keys[] = {ClassKey() + L"\\InprocServer32", ClassKey() + L"\\ProgID", ClassKey(),
                               std::wstring(kKRMediaProgId) + L"\\CLSID", kKRMediaProgId};
  for (const std::wstring& key : keys) {
    LONG rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    // Reported as a failure: a plain registry code would read as success.
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  }
  return S_OK;
}

// Test switch: makes the configuration object's creation fail as it would
// without memory, to show how the engine behaves without its companion.
bool failConfigCreationForTesting = false;

void ModuleObjectCreated() { InterlockedIncrement(&objectCount); }
void ModuleObjectDestroyed() { InterlockedDecrement(&objectCount); }
LONG ModuleObjectCount() { return objectCount; }
LONG ModuleLockCount() { return lockCount; }

HRESULT CreateKRMediaObject(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  COKRMedia* engine = nullptr;
  HRESULT initResult = S_OK;
  HRESULT hr = COKRMedia::Create(outer, &engine, &initResult);
  if (FAILED(hr)) return hr;
  engine->AddRef();
  *out = static_cast<IUnknown*>(engine);
  return initResult;
}

HRESULT CreateKRMediaConfigObject(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  if (failConfigCreationForTesting) return KRM_E_OUT_OF_MEMORY;
  COKRMediaConfig* config = new (std::nothrow) COKRMediaConfig(outer);
  if (!config) return KRM_E_OUT_OF_MEMORY;
  config->AddRef();
  HRESULT hr = config->QueryInterface(iid, out);
  config->Release();
  return hr;
}

HRESULT CreateCapManagerObject(IUnknown* outer, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (outer && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  COKRCapManager* manager = nullptr;
  HRESULT hr = COKRCapManager::Obtain(&manager);
  if (FAILED(hr)) return hr;
  hr = manager->QueryInterface(iid, out);
  manager->Release();
  return hr;
}

}  // namespace mediaengine
