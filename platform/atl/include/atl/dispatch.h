// Dual interfaces: IDispatch answered through the ITypeInfo of the module's
// type library, so names, argument coercion and the DISP_E_* codes are
// oleaut32's own. Also IProvideClassInfo2, ISupportErrorInfo and the
// error-info helper.
//
//   class Thing : public atl::ObjectRoot<atl::MultiThreaded>,
//                 public atl::Dual<IThing>, ... { ... };
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "atl/owners.h"

namespace atl {

// The type information of one interface of the module's type library,
// loaded on first use (from any thread) and kept until the holder goes.
class TypeInfoHolder {
 public:
  explicit TypeInfoHolder(const IID& iid) : iid_(iid) {}
  ~TypeInfoHolder();
  TypeInfoHolder(const TypeInfoHolder&) = delete;
  TypeInfoHolder& operator=(const TypeInfoHolder&) = delete;

  // What clients see (GetTypeInfo): the interface as the library describes
  // it, for a dual interface its dispatch side.
  HRESULT Described(ITypeInfo** out);
  // What calls go through: for a dual interface its vtable side, which
  // ITypeInfo::Invoke calls directly.
  HRESULT Callable(ITypeInfo** out);

 private:
  HRESULT Load();
  HRESULT Give(ITypeInfo* volatile* slot, ITypeInfo** out);
  const IID& iid_;
  ITypeInfo* volatile described_ = nullptr;
  ITypeInfo* volatile callable_ = nullptr;
};

// IDispatch of the dual interface I, which the class derives from through
// this template.
template <class I>
class Dual : public I {
 public:
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    if (!count) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return typeInfo_.Described(out);
  }
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = typeInfo_.Callable(info.Out());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.Get(), names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    ComPtr<ITypeInfo> info;
    HRESULT hr = typeInfo_.Callable(info.Out());
    if (FAILED(hr)) return hr;
    // The vtable is this object's own I: the type information says which
    // slot each dispatch id calls.
    return info->Invoke(static_cast<I*>(this), id, flags, params, result, exception, argError);
  }

 private:
  TypeInfoHolder typeInfo_{__uuidof(I)};
};

// IProvideClassInfo2 for the class T: T::ClassId() names the coclass of the
// module's type library, T::SourceInterface() its default event interface
// (null when it has none).
template <class T>
class ProvideClassInfo : public IProvideClassInfo2 {
 public:
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* out) override {
    if (!out) return E_POINTER;
    *out = GUID_NULL;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID || !T::SourceInterface()) return E_INVALIDARG;
    *out = *T::SourceInterface();
    return S_OK;
  }
};

HRESULT ClassTypeInfo(const CLSID& clsid, ITypeInfo** out);

template <class T>
STDMETHODIMP ProvideClassInfo<T>::GetClassInfo(ITypeInfo** out) {
  return ClassTypeInfo(*T::ClassId(), out);
}

// ISupportErrorInfo for the class T: T::ErrorInterfaces() lists the
// interfaces whose failures carry error info, ending with null.
template <class T>
class SupportErrorInfo : public ISupportErrorInfo {
 public:
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) override {
    for (const IID* const* i = T::ErrorInterfaces(); *i; ++i)
      if (IsEqualIID(iid, **i)) return S_OK;
    return S_FALSE;
  }
};

// Sets the thread's error info (source: the class's ProgID, description,
// the failing interface) and answers `hr`, so a method can
// `return ReportError(...)`. Through IDispatch the caller receives it as
// DISP_E_EXCEPTION with an EXCEPINFO; through the vtable by GetErrorInfo.
HRESULT ReportError(const CLSID& clsid, const IID& iid, const wchar_t* description, HRESULT hr);

}  // namespace atl
