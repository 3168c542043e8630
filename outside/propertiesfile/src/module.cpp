// KRPropertiesFile.dll: the in-process server of the properties-file
// stand-in, registered under its ProgID.
#include <olectl.h>

#include <new>
#include <string>

#include "propertiesfile.h"

using propertiesfile::CKRPropertiesFile;

namespace {

volatile LONG lockCount = 0;

class ClassFactory : public IClassFactory {
 public:
  virtual ~ClassFactory() = default;
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
    CKRPropertiesFile* object = new (std::nothrow) CKRPropertiesFile();
    if (!object) return E_OUTOFMEMORY;
    HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
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

std::wstring ClsidText() {
  wchar_t text[40] = {};
  StringFromGUID2(CLSID_KRPropertiesFile, text, 40);
  return text;
}

std::wstring ClassKey() { return L"CLSID\\" + ClsidText(); }

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

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_KRPropertiesFile)) return CLASS_E_CLASSNOTAVAILABLE;
  ClassFactory* factory = new (std::nothrow) ClassFactory();
  if (!factory) return E_OUTOFMEMORY;
  HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return CKRPropertiesFile::Objects() == 0 && lockCount == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  std::wstring path = ModulePath();
  std::wstring server = ClassKey() + L"\\InprocServer32";
  if (path.empty() || SetKey(std::wstring(kPropertiesFileProgId) + L"\\CLSID", nullptr, ClsidText()) ||
      SetKey(server, nullptr, path) || SetKey(server, L"ThreadingModel", L"Both") ||
      SetKey(ClassKey() + L"\\ProgID", nullptr, kPropertiesFileProgId))
    return SELFREG_E_CLASS;
  return S_OK;
}

STDAPI DllUnregisterServer() {
  const std::wstring keys[] = {ClassKey() + L"\\InprocServer32", ClassKey() + L"\\ProgID", ClassKey(),
                               std::wstring(kPropertiesFileProgId) + L"\\CLSID", kPropertiesFileProgId};
  HRESULT result = S_OK;
  for (const std::wstring& key : keys) {
    LONG rc = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = HRESULT_FROM_WIN32(rc);
  }
  return result;
}
