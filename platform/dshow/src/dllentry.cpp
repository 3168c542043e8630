// The class factory, DllGetClassObject, DllCanUnloadNow and registration of
// a DLL's templates: COM class keys and the filter mapper entry.
#include <new>
#include <string>

#include "dshow/base.h"

namespace {

volatile LONG g_serverLocks = 0;

class CClassFactory : public CSingleInterface<IClassFactory, &IID_IClassFactory> {
 public:
  explicit CClassFactory(const CFactoryTemplate* t) : CSingleInterface("CClassFactory"), m_pTemplate(t) {}
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    // An aggregating caller may only ask for IUnknown.
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    CUnknown* obj = m_pTemplate->m_lpfnNew(outer, &hr);
    if (!obj) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
      delete obj;
      return hr;
    }
    obj->NonDelegatingAddRef();
    hr = obj->NonDelegatingQueryInterface(riid, ppv);
    obj->NonDelegatingRelease();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL lock) override {
    if (lock) InterlockedIncrement(&g_serverLocks); else InterlockedDecrement(&g_serverLocks);
    return S_OK;
  }

 private:
  const CFactoryTemplate* m_pTemplate;
};

std::wstring clsidText(const CLSID& clsid) {
  WCHAR buf[64] = {};
  StringFromGUID2(clsid, buf, 64);
  return buf;
}

std::wstring modulePath() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&modulePath), &module);
  WCHAR path[MAX_PATH] = {};
  GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

HRESULT setString(HKEY key, const WCHAR* name, const std::wstring& value) {
  LONG r = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  return HRESULT_FROM_WIN32(r);
}

HRESULT registerClass(const CFactoryTemplate& t, const std::wstring& path) {
  std::wstring keyName = L"CLSID\\" + clsidText(*t.m_ClsID);
  HKEY key, server;
  LONG r = RegCreateKeyExW(HKEY_CLASSES_ROOT, keyName.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
  if (r != ERROR_SUCCESS) return HRESULT_FROM_WIN32(r);
  HRESULT hr = setString(key, nullptr, t.m_Name);
  r = RegCreateKeyExW(key, L"InprocServer32", 0, nullptr, 0, KEY_WRITE, nullptr, &server, nullptr);
  if (r == ERROR_SUCCESS) {
    if (SUCCEEDED(hr)) hr = setString(server, nullptr, path);
    if (SUCCEEDED(hr)) hr = setString(server, L"ThreadingModel", L"Both");
    RegCloseKey(server);
  } else {
    hr = HRESULT_FROM_WIN32(r);
  }
  RegCloseKey(key);
  return hr;
}

HRESULT unregisterClass(const CFactoryTemplate& t) {
  std::wstring keyName = L"CLSID\\" + clsidText(*t.m_ClsID);
  RegDeleteKeyW(HKEY_CLASSES_ROOT, (keyName + L"\\InprocServer32").c_str());
  LONG r = RegDeleteKeyW(HKEY_CLASSES_ROOT, keyName.c_str());
  return r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(r);
}

HRESULT mapFilter(IFilterMapper2* mapper, const CFactoryTemplate& t, BOOL doRegister) {
  const AMOVIESETUP_FILTER* setup = t.m_pAMovieSetup_Filter;
  if (!doRegister) {
    HRESULT hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *t.m_ClsID);
    // Nothing to remove is not a failure of unregistration.
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : hr;
  }
  REGFILTER2 rf2 = {};
  rf2.dwVersion = 1;
  rf2.dwMerit = setup->dwMerit;
  rf2.cPins = setup->nPins;
  rf2.rgPins = setup->lpPin;
  return mapper->RegisterFilter(*t.m_ClsID, setup->strName, nullptr, &CLSID_LegacyAmFilterCategory, nullptr, &rf2);
}

}  // namespace

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  for (int i = 0; i < g_cTemplates; ++i) {
    if (IsEqualCLSID(clsid, *g_Templates[i].m_ClsID)) {
      auto* factory = new (std::nothrow) CClassFactory(&g_Templates[i]);
      if (!factory) return E_OUTOFMEMORY;
      HRESULT hr = factory->QueryInterface(riid, ppv);
      factory->Release();
      return hr;
    }
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return (g_serverLocks == 0 && CBaseObject::ObjectsActive() == 0) ? S_OK : S_FALSE; }

STDAPI AMovieDllRegisterServer2(BOOL doRegister) {
  std::wstring path = modulePath();
  HRESULT hr = S_OK;
  if (doRegister) {
    for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i) hr = registerClass(g_Templates[i], path);
    if (FAILED(hr)) return hr;
  }
  HRESULT init = CoInitialize(nullptr);
  IFilterMapper2* mapper = nullptr;
  HRESULT mh = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                reinterpret_cast<void**>(&mapper));
  for (int i = 0; i < g_cTemplates && SUCCEEDED(mh); ++i) {
    if (g_Templates[i].m_pAMovieSetup_Filter) {
      HRESULT r = mapFilter(mapper, g_Templates[i], doRegister);
      if (FAILED(r) && SUCCEEDED(hr)) hr = r;
    }
  }
  if (mapper) mapper->Release();
  if (SUCCEEDED(init)) CoUninitialize();
  if (FAILED(mh)) hr = mh;
  if (!doRegister) {
    for (int i = 0; i < g_cTemplates; ++i) {
      HRESULT r = unregisterClass(g_Templates[i]);
      if (FAILED(r) && SUCCEEDED(hr)) hr = r;
    }
  }
  return hr;
}
