#include "atl/dispatch.h"

#include "atl/module.h"

namespace atl {

TypeInfoHolder::~TypeInfoHolder() {
  if (described_) described_->Release();
  if (callable_) callable_->Release();
}

HRESULT TypeInfoHolder::Load() {
  ComPtr<ITypeLib> library;
  HRESULT hr = CurrentModule().LoadTypeLib(library.Out());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> described;
  hr = library->GetTypeInfoOfGuid(iid_, described.Out());
  if (FAILED(hr)) return hr;
  ComPtr<ITypeInfo> callable = described;
  TYPEATTR* attr = nullptr;
  hr = described->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  bool dualDispatch = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
  described->ReleaseTypeAttr(attr);
  if (dualDispatch) {
    // ITypeInfo::Invoke on the dispatch side would call IDispatch::Invoke
    // again; the vtable side (implemented type -1) calls the method.
    HREFTYPE vtableSide = 0;
    hr = described->GetRefTypeOfImplType(static_cast<UINT>(-1), &vtableSide);
    if (SUCCEEDED(hr)) hr = described->GetRefTypeInfo(vtableSide, callable.Out());
    if (FAILED(hr)) return hr;
  }
  // Another thread may have loaded them meanwhile: the first one stays.
  ITypeInfo* mine = described.Get();
  if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&described_), mine, nullptr) == nullptr)
    described.Detach();
  mine = callable.Get();
  if (InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&callable_), mine, nullptr) == nullptr)
    callable.Detach();
  return S_OK;
}

HRESULT TypeInfoHolder::Give(ITypeInfo* volatile* slot, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!described_ || !callable_) {
    HRESULT hr = Load();
    if (FAILED(hr)) return hr;
  }
  ITypeInfo* info = *slot;
  info->AddRef();
  *out = info;
  return S_OK;
}

HRESULT TypeInfoHolder::Described(ITypeInfo** out) { return Give(&described_, out); }

HRESULT TypeInfoHolder::Callable(ITypeInfo** out) { return Give(&callable_, out); }

HRESULT ClassTypeInfo(const CLSID& clsid, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  ComPtr<ITypeLib> library;
  HRESULT hr = CurrentModule().LoadTypeLib(library.Out());
  if (FAILED(hr)) return hr;
  return library->GetTypeInfoOfGuid(clsid, out);
}

HRESULT ReportError(const CLSID& clsid, const IID& iid, const wchar_t* description, HRESULT hr) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Out()))) return hr;
  create->SetGUID(iid);
  LPOLESTR progId = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId))) {
    create->SetSource(progId);
    CoTaskMemFree(progId);
  }
  create->SetDescription(const_cast<LPOLESTR>(description));
  ComPtr<IErrorInfo> info;
  if (SUCCEEDED(create.As(&info))) SetErrorInfo(0, info.Get());
  return hr;
}

}  // namespace atl
