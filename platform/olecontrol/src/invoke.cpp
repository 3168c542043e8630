// IDispatch of the control: names and types from the type library's
// dispinterface, handlers by dispatch id.
#include <cstring>

#include "olecontrol/control.h"

namespace olectl {

namespace {

// A declared type with aliases (OLE_COLOR) followed to their base type.
VARTYPE Resolve(ITypeInfo* info, const TYPEDESC& desc) {
  if (desc.vt != VT_USERDEFINED) return desc.vt;
  atl::ComPtr<ITypeInfo> ref;
  if (FAILED(info->GetRefTypeInfo(desc.hreftype, ref.Out()))) return VT_EMPTY;
  TYPEATTR* attr = nullptr;
  if (FAILED(ref->GetTypeAttr(&attr))) return VT_EMPTY;
  VARTYPE vt = VT_EMPTY;
  switch (attr->typekind) {
    case TKIND_ALIAS: vt = Resolve(ref.Get(), attr->tdescAlias); break;
    case TKIND_ENUM: vt = VT_I4; break;
    case TKIND_DISPATCH: vt = VT_DISPATCH; break;
    default: vt = VT_UNKNOWN; break;
  }
  ref->ReleaseTypeAttr(attr);
  return vt;
}

// `from` (a reference is followed) as `type`; VT_VARIANT takes any value.
HRESULT Coerce(const VARIANT& from, VARTYPE type, VARIANT* to) {
  VariantInit(to);
  HRESULT hr = VariantCopyInd(to, const_cast<VARIANT*>(&from));
  if (FAILED(hr) || type == VT_VARIANT) return hr;
  hr = VariantChangeType(to, to, 0, type);
  if (FAILED(hr)) {
    VariantClear(to);
    return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

// Writes `value` through the caller's reference `ref` (VT_BYREF), in the
// referenced type: a script passes a VARIANT, a typed client its own type.
HRESULT WriteThrough(VARIANT& ref, const VARIANT& value) {
  if (!(V_VT(&ref) & VT_BYREF) || !V_BYREF(&ref)) return DISP_E_TYPEMISMATCH;
  const VARTYPE target = V_VT(&ref) & ~VT_BYREF;
  if (target == VT_VARIANT) {
    VARIANT* to = V_VARIANTREF(&ref);
    VariantClear(to);
    return VariantCopy(to, const_cast<VARIANT*>(&value));
  }
  VARIANT converted;
  HRESULT hr = Coerce(value, target, &converted);
  if (FAILED(hr)) return hr;
  switch (target) {
    case VT_I2: *V_I2REF(&ref) = V_I2(&converted); break;
    case VT_I4: *V_I4REF(&ref) = V_I4(&converted); break;
    case VT_UI4: *V_UI4REF(&ref) = V_UI4(&converted); break;
    case VT_R4: *V_R4REF(&ref) = V_R4(&converted); break;
    case VT_R8: *V_R8REF(&ref) = V_R8(&converted); break;
    case VT_BOOL: *V_BOOLREF(&ref) = V_BOOL(&converted); break;
    case VT_BSTR:
      SysFreeString(*V_BSTRREF(&ref));
      *V_BSTRREF(&ref) = V_BSTR(&converted);  // moves the string
      return S_OK;
    default:
      VariantClear(&converted);
      return DISP_E_TYPEMISMATCH;
  }
  return S_OK;
}

}  // namespace

DispArgs::~DispArgs() {
  for (VARIANT& v : values_) VariantClear(&v);
}

void COleControl::Bind(DISPID id, VARTYPE type, void* member, std::function<void()> changed) {
  properties_[id] = Property{type, member, std::move(changed)};
}
void COleControl::BindProperty(DISPID id, SHORT* m, std::function<void()> c) { Bind(id, VT_I2, m, std::move(c)); }
void COleControl::BindProperty(DISPID id, LONG* m, std::function<void()> c) { Bind(id, VT_I4, m, std::move(c)); }
void COleControl::BindProperty(DISPID id, float* m, std::function<void()> c) { Bind(id, VT_R4, m, std::move(c)); }
void COleControl::BindProperty(DISPID id, atl::Bstr* m, std::function<void()> c) {
  Bind(id, VT_BSTR, m, std::move(c));
}
void COleControl::BindBoolProperty(DISPID id, VARIANT_BOOL* m, std::function<void()> c) {
  Bind(id, VT_BOOL, m, std::move(c));
}
void COleControl::BindProperty(DISPID id, OLE_COLOR* m, std::function<void()> c) {
  Bind(id, VT_UI4, m, std::move(c));
}
void COleControl::BindProperty(DISPID id, atl::Variant* m, std::function<void()> c) {
  Bind(id, VT_VARIANT, m, std::move(c));
}
void COleControl::BindMethod(DISPID id, MethodHandler handler) { methods_[id] = std::move(handler); }

HRESULT COleControl::LoadMembers() {
  if (membersLoaded_) return S_OK;
  atl::ComPtr<ITypeInfo> info;
  HRESULT hr = typeInfo_.Described(info.Out());
  if (FAILED(hr)) return hr;
  TYPEATTR* attr = nullptr;
  hr = info->GetTypeAttr(&attr);
  if (FAILED(hr)) return hr;
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* var = nullptr;
    if (FAILED(info->GetVarDesc(i, &var))) continue;
    Member& m = members_[var->memid];
    m.property = true;
    m.readOnly = (var->wVarFlags & VARFLAG_FREADONLY) != 0;
    m.type = Resolve(info.Get(), var->elemdescVar.tdesc);
    info->ReleaseVarDesc(var);
  }
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* func = nullptr;
    if (FAILED(info->GetFuncDesc(i, &func))) continue;
    // The IDispatch methods a dispinterface inherits are not the control's.
    if (func->memid < 0x60000000 || func->memid > 0x6002FFFF) {
      Member& m = members_[func->memid];
      if (func->invkind == INVOKE_FUNC) {
        m.type = Resolve(info.Get(), func->elemdescFunc.tdesc);
        for (SHORT p = 0; p < func->cParams; ++p) {
          const ELEMDESC& e = func->lprgelemdescParam[p];
          bool out = e.tdesc.vt == VT_PTR;
          m.params.push_back({out ? Resolve(info.Get(), *e.tdesc.lptdesc) : Resolve(info.Get(), e.tdesc), out});
        }
      } else {  // a property declared as accessor methods
        m.property = true;
        if (func->invkind == INVOKE_PROPERTYGET) m.type = Resolve(info.Get(), func->elemdescFunc.tdesc);
        else if (func->cParams == 1) m.type = Resolve(info.Get(), func->lprgelemdescParam[0].tdesc);
      }
    }
    info->ReleaseFuncDesc(func);
  }
  info->ReleaseTypeAttr(attr);
  membersLoaded_ = true;
  return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP COleControl::GetTypeInfo(UINT index, LCID, ITypeInfo** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return typeInfo_.Described(out);
}

STDMETHODIMP COleControl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  atl::ComPtr<ITypeInfo> info;
  HRESULT hr = typeInfo_.Described(info.Out());
  if (FAILED(hr)) return hr;
  return DispGetIDsOfNames(info.Get(), names, count, ids);
}

STDMETHODIMP COleControl::Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                 EXCEPINFO* exception, UINT* argError) {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  if (!params) return E_INVALIDARG;
  HRESULT hr = LoadMembers();
  if (FAILED(hr)) return hr;
  auto it = members_.find(id);
  if (it == members_.end()) return DISP_E_MEMBERNOTFOUND;
  if (it->second.property) return InvokeProperty(id, it->second, flags, params, result, argError);
  if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
  return InvokeMethod(id, it->second, params, result, exception, argError);
}

HRESULT COleControl::InvokeProperty(DISPID id, const Member& m, WORD flags, DISPPARAMS* params, VARIANT* result,
                                    UINT* argError) {
  auto it = properties_.find(id);
  if (it == properties_.end()) return DISP_E_MEMBERNOTFOUND;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    if (m.readOnly) return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs != 1) return DISP_E_BADPARAMCOUNT;
    if (params->cNamedArgs != 1 || params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT) return DISP_E_PARAMNOTFOUND;
    // The declared type first (what the host was promised), then the
    // member's own.
    VARIANT declared, value;
    HRESULT hr = Coerce(params->rgvarg[0], m.type, &declared);
    if (SUCCEEDED(hr)) {
      hr = Coerce(declared, it->second.type, &value);
      VariantClear(&declared);
    }
    if (FAILED(hr)) {
      if (argError) *argError = 0;
      return DISP_E_TYPEMISMATCH;
    }
    hr = WriteProperty(id, it->second, value);
    VariantClear(&value);
    return hr;
  }
  if (!(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
  if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
  if (result) {
    VariantClear(result);
    ReadProperty(it->second, result);
  }
  return S_OK;
}

HRESULT COleControl::InvokeMethod(DISPID id, const Member& m, DISPPARAMS* params, VARIANT* result,
                                  EXCEPINFO* exception, UINT* argError) {
  auto handler = methods_.find(id);
  if (handler == methods_.end()) return DISP_E_MEMBERNOTFOUND;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const size_t n = m.params.size();
  if (params->cArgs != n) return DISP_E_BADPARAMCOUNT;
  DispArgs args;
  args.values_.resize(n);
  for (VARIANT& v : args.values_) VariantInit(&v);
  for (size_t i = 0; i < n; ++i) {
    const UINT position = static_cast<UINT>(n - 1 - i);  // DISPPARAMS holds them last first
    VARIANT& given = params->rgvarg[position];
    bool bad = m.params[i].out ? !(V_VT(&given) & VT_BYREF) || !V_BYREF(&given)
                               : FAILED(Coerce(given, m.params[i].type, &args.values_[i]));
    if (bad) {
      if (argError) *argError = position;
      return DISP_E_TYPEMISMATCH;
    }
  }
  atl::Variant returned;
  HRESULT hr = handler->second(args, returned.Out());
  if (FAILED(hr)) {
    if (exception) {
      *exception = EXCEPINFO{};
      exception->scode = hr;
      atl::ComPtr<IErrorInfo> error;
      if (GetErrorInfo(0, error.Out()) == S_OK) {
        error->GetSource(&exception->bstrSource);
        error->GetDescription(&exception->bstrDescription);
      }
    }
    return DISP_E_EXCEPTION;
  }
  for (size_t i = 0; i < n; ++i) {
    if (!m.params[i].out || V_VT(&args.values_[i]) == VT_EMPTY) continue;
    const UINT position = static_cast<UINT>(n - 1 - i);
    VARIANT declared;
    hr = Coerce(args.values_[i], m.params[i].type, &declared);
    if (SUCCEEDED(hr)) hr = WriteThrough(params->rgvarg[position], declared);
    VariantClear(&declared);
    if (FAILED(hr)) {
      if (argError) *argError = position;
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (result && m.type != VT_VOID && m.type != VT_HRESULT && returned.Type() != VT_EMPTY) {
    VariantClear(result);
    hr = Coerce(returned.Get(), m.type, result);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void COleControl::ReadProperty(const Property& p, VARIANT* out) const {
  VariantInit(out);
  switch (p.type) {
    case VT_I2: V_VT(out) = VT_I2; V_I2(out) = *static_cast<SHORT*>(p.member); break;
    case VT_I4: V_VT(out) = VT_I4; V_I4(out) = *static_cast<LONG*>(p.member); break;
    case VT_R4: V_VT(out) = VT_R4; V_R4(out) = *static_cast<float*>(p.member); break;
    case VT_BOOL: V_VT(out) = VT_BOOL; V_BOOL(out) = *static_cast<VARIANT_BOOL*>(p.member); break;
    case VT_UI4: V_VT(out) = VT_UI4; V_UI4(out) = *static_cast<OLE_COLOR*>(p.member); break;
    case VT_BSTR: {
      const atl::Bstr& text = *static_cast<atl::Bstr*>(p.member);
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = SysAllocStringLen(text.Text(), text.Length());
      break;
    }
    case VT_VARIANT: static_cast<atl::Variant*>(p.member)->CopyTo(out); break;
    default: break;
  }
}

HRESULT COleControl::WriteProperty(DISPID id, Property& p, const VARIANT& value) {
  switch (p.type) {
    case VT_I2: *static_cast<SHORT*>(p.member) = V_I2(&value); break;
    case VT_I4: *static_cast<LONG*>(p.member) = V_I4(&value); break;
    case VT_R4: *static_cast<float*>(p.member) = V_R4(&value); break;
    case VT_BOOL: *static_cast<VARIANT_BOOL*>(p.member) = V_BOOL(&value); break;
    case VT_UI4: *static_cast<OLE_COLOR*>(p.member) = V_UI4(&value); break;
    case VT_BSTR: *static_cast<atl::Bstr*>(p.member) = atl::Bstr(V_BSTR(&value), SysStringLen(V_BSTR(&value))); break;
    case VT_VARIANT: {
      HRESULT hr = static_cast<atl::Variant*>(p.member)->CopyFrom(value);
      if (FAILED(hr)) return hr;
      break;
    }
    default: return DISP_E_TYPEMISMATCH;
  }
  if (p.changed) p.changed();
  SetModifiedFlag();
  for (const auto& sink : propertySinks_.Sinks())
    static_cast<IPropertyNotifySink*>(sink.Get())->OnChanged(id);
  return S_OK;
}

}  // namespace olectl
