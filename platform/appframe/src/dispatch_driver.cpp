#include "appframe/dispatch_driver.h"

#include <cstdio>

namespace appf {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const wchar_t* text, size_t length) {
  if (!text || length == 0) return std::string();
  int n = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), narrow.data(), n, nullptr, nullptr);
  return narrow;
}

namespace {

std::string What(HRESULT hr, const std::wstring& description, DISPID id) {
  char head[64];
  std::snprintf(head, sizeof(head), "dispatch id %ld failed: 0x%08lX", static_cast<long>(id),
                static_cast<unsigned long>(hr));
  std::string text = head;
  if (!description.empty()) text += ": " + Narrow(description.data(), description.size());
  return text;
}

std::wstring Take(BSTR* b) {
  std::wstring text = *b ? std::wstring(*b, SysStringLen(*b)) : std::wstring();
  SysFreeString(*b);
  *b = nullptr;
  return text;
}

}  // namespace

DispatchError::DispatchError(HRESULT hr, const EXCEPINFO* e, UINT argError, DISPID id)
    : std::runtime_error(What(hr, e && e->bstrDescription ? e->bstrDescription : L"", id)),
      hr_(hr),
      argError_(argError),
      id_(id) {
  if (!e) return;
  code_ = e->scode ? e->scode : static_cast<SCODE>(e->wCode);
  description_ = e->bstrDescription ? e->bstrDescription : L"";
  source_ = e->bstrSource ? e->bstrSource : L"";
}

DispArg DispArg::I2(SHORT value) {
  DispArg a;
  a.type_ = VT_I2;
  VARIANT* v = a.value_.Out();
  V_VT(v) = VT_I2;
  V_I2(v) = value;
  return a;
}

DispArg DispArg::I4(LONG value) {
  DispArg a;
  a.type_ = VT_I4;
  a.value_ = atl::Variant(value);
  return a;
}

DispArg DispArg::R4(float value) {
  DispArg a;
  a.type_ = VT_R4;
  VARIANT* v = a.value_.Out();
  V_VT(v) = VT_R4;
  V_R4(v) = value;
  return a;
}

DispArg DispArg::Bool(bool value) {
  DispArg a;
  a.type_ = VT_BOOL;
  VARIANT* v = a.value_.Out();
  V_VT(v) = VT_BOOL;
  V_BOOL(v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  return a;
}

DispArg DispArg::Text(const std::string& value) {
  DispArg a;
  a.type_ = VT_BSTR;
  a.value_ = atl::Variant(Widen(value).c_str());
  return a;
}

DispArg DispArg::Var(const VARIANT& value) {
  DispArg a;
  a.type_ = VT_VARIANT;
  a.value_.CopyFrom(value);
  return a;
}

DispArg DispArg::Ref(VARTYPE type, void* out) {
  DispArg a;
  a.type_ = type | VT_BYREF;
  a.out_ = out;
  return a;
}

DispArg DispArg::I2Ref(SHORT* out) { return Ref(VT_I2, out); }

DispArg DispArg::I4Ref(LONG* out) { return Ref(VT_I4, out); }

DispArg DispArg::R4Ref(float* out) { return Ref(VT_R4, out); }

DispArg DispArg::BoolRef(bool* out) { return Ref(VT_BOOL, out); }

DispArg DispArg::TextRef(std::string* out) { return Ref(VT_BSTR, out); }

DispArg DispArg::VarRef(VARIANT* out) { return Ref(VT_VARIANT, out); }

VARTYPE DispArg::Type() const { return type_; }

namespace {

// The VARIANT that goes into DISPPARAMS for one argument. A reference
// points at the caller's variable, or at a holder for the types whose
// automation form differs from the caller's (BSTR, VARIANT_BOOL).
// A value (a VARIANT argument too) goes as the value it holds, still owned
// by the argument.
VARIANT Slot(const atl::Variant& value, VARTYPE type, void* out, BSTR* text, VARIANT_BOOL* flag) {
  if (!(type & VT_BYREF)) return value.Get();
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = type;
  switch (type & ~VT_BYREF) {
    case VT_I2: V_I2REF(&v) = static_cast<SHORT*>(out); break;
    case VT_I4: V_I4REF(&v) = static_cast<LONG*>(out); break;
    case VT_R4: V_R4REF(&v) = static_cast<float*>(out); break;
    case VT_BOOL:
      *flag = *static_cast<bool*>(out) ? VARIANT_TRUE : VARIANT_FALSE;
      V_BOOLREF(&v) = flag;
      break;
    case VT_BSTR: {
      const std::string& in = *static_cast<std::string*>(out);
      *text = SysAllocString(Widen(in).c_str());
      V_BSTRREF(&v) = text;
      break;
    }
    default: V_VARIANTREF(&v) = static_cast<VARIANT*>(out); break;
  }
  return v;
}

// Writes the holders back into the caller's variables and frees them.
void WriteBack(VARTYPE type, void* out, BSTR* text, VARIANT_BOOL flag) {
  if (type == (VT_BOOL | VT_BYREF)) *static_cast<bool*>(out) = flag != VARIANT_FALSE;
  if (type == (VT_BSTR | VT_BYREF)) {
    std::wstring wide = Take(text);
    *static_cast<std::string*>(out) = Narrow(wide.data(), wide.size());
  }
}

}  // namespace

atl::Variant DispatchDriver::Invoke(DISPID id, WORD flags, VARTYPE resultType, std::vector<DispArg>& args) {
  if (!object_) throw DispatchError(E_POINTER, nullptr, 0, id);
  std::vector<VARIANT> slots(args.size());
  // DISPPARAMS holds the arguments last first.
  for (size_t i = 0; i < args.size(); ++i) {
    DispArg& a = args[i];
    slots[args.size() - 1 - i] = Slot(a.value_, a.type_, a.out_, &a.textHolder_, &a.boolHolder_);
  }
  DISPPARAMS params = {slots.empty() ? nullptr : slots.data(), nullptr, static_cast<UINT>(slots.size()), 0};
  DISPID named = DISPID_PROPERTYPUT;
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  atl::Variant result;
  EXCEPINFO exception = {};
  UINT argError = static_cast<UINT>(-1);
  HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags,
                               &params, resultType == VT_EMPTY ? nullptr : result.Out(), &exception, &argError);
  for (DispArg& a : args) WriteBack(a.type_, a.out_, &a.textHolder_, a.boolHolder_);
  if (FAILED(hr)) {
    if (hr == DISP_E_EXCEPTION && exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    DispatchError error(hr, &exception, argError, id);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    throw error;
  }
  if (resultType != VT_EMPTY && resultType != VT_VARIANT && result.Type() != resultType) {
    // A void method answers nothing: that is 0 for a VT_I4 result.
    if (result.Type() == VT_EMPTY && resultType == VT_I4) return atl::Variant(LONG{0});
    HRESULT converted = result.ChangeType(resultType);
    if (FAILED(converted)) throw DispatchError(converted, nullptr, 0, id);
  }
  return result;
}

atl::Variant DispatchDriver::Get(DISPID id, VARTYPE type) {
  std::vector<DispArg> none;
  return Invoke(id, DISPATCH_PROPERTYGET, type, none);
}

std::string DispatchDriver::GetText(DISPID id) {
  atl::Variant v = Get(id, VT_BSTR);
  BSTR b = V_BSTR(&v.Get());
  return Narrow(b, SysStringLen(b));
}

void DispatchDriver::SetProperty(DISPID id, const DispArg& value) {
  std::vector<DispArg> args = {value};
  VARTYPE t = value.Type();
  bool object = t == VT_DISPATCH || t == VT_UNKNOWN;
  Invoke(id, object ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, VT_EMPTY, args);
}

LONG DispatchDriver::CallLong(DISPID id, std::vector<DispArg> args) {
  return V_I4(&Invoke(id, DISPATCH_METHOD, VT_I4, args).Get());
}

atl::Variant DispatchDriver::CallVariant(DISPID id, std::vector<DispArg> args) {
  return Invoke(id, DISPATCH_METHOD, VT_VARIANT, args);
}

}  // namespace appf
