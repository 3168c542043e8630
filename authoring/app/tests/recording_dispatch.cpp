#include "recording_dispatch.h"

namespace {

char Letter(VARTYPE type) {
  switch (type & VT_TYPEMASK) {
    case VT_I2: return 's';
    case VT_I4: return 'l';
    case VT_R4: return 'f';
    case VT_BOOL: return 'b';
    case VT_BSTR: return 't';
    case VT_EMPTY:
    case VT_VARIANT: return 'v';
    default: return '?';
  }
}

}  // namespace

std::string RecordingDispatch::Sequence() const {
  std::string text;
  for (const RecordedCall& call : calls) {
    if (!text.empty()) text += ' ';
    text += call.form + std::to_string(call.id);
  }
  return text;
}

STDMETHODIMP RecordingDispatch::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_IDispatch) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP RecordingDispatch::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

STDMETHODIMP RecordingDispatch::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                       EXCEPINFO* exception, UINT*) {
  RecordedCall call;
  call.form = (flags & DISPATCH_PROPERTYPUT) ? 'P' : (flags & DISPATCH_PROPERTYGET) && !(flags & DISPATCH_METHOD) ? 'G' : 'M';
  call.id = id;
  for (UINT i = params->cArgs; i-- > 0;) {
    const VARIANT& arg = params->rgvarg[i];
    if (V_VT(&arg) & VT_BYREF) call.types += '*';
    call.types += Letter(V_VT(&arg));
    atl::Variant copy;
    if (!(V_VT(&arg) & VT_BYREF)) copy.CopyFrom(arg);
    call.args.push_back(copy);
  }
  calls.push_back(call);
  auto failure = failures.find(id);
  if (failure != failures.end()) {
    if (exception) {
      *exception = {};
      exception->scode = failure->second;
      exception->bstrDescription = SysAllocString(L"refused by the double");
    }
    return DISP_E_EXCEPTION;
  }
  if (result) {
    VariantInit(result);
    auto value = values.find(id);
    if (call.form == 'G' && value != values.end()) {
      value->second.CopyTo(result);
    } else {
      V_VT(result) = VT_I4;
      V_I4(result) = 0;
    }
  }
  return S_OK;
}

std::wstring VariantString(const atl::Variant& value) {
  atl::Variant text(value);
  if (FAILED(text.ChangeType(VT_BSTR)) || !V_BSTR(&text.Get())) return L"";
  return std::wstring(V_BSTR(&text.Get()), SysStringLen(V_BSTR(&text.Get())));
}
