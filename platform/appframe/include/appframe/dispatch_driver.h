// Late-bound calls by dispatch id: property get and set and methods with a
// list of typed arguments (VT_I2, VT_I4, VT_R4, BSTR from 8-bit text,
// VT_BOOL, VARIANT, and references to each for outs). A call that fails
// throws DispatchError with the HRESULT and the callee's exception text.
//
//   appf::DispatchDriver d;  view.BindControl(1071, &d);
//   d.SetProperty(1, appf::DispArg::I2(176));
//   LONG length = 0; std::string upper;
//   LONG r = d.CallLong(8, {appf::DispArg::Text("ab"), appf::DispArg::I4Ref(&length), appf::DispArg::TextRef(&upper)});
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "atl/owners.h"

namespace appf {

// 8-bit text (the process's ANSI code page) and wide text.
std::wstring Widen(const std::string& text);
std::string Narrow(const wchar_t* text, size_t length);

class DispatchError : public std::runtime_error {
 public:
  DispatchError(HRESULT hr, const EXCEPINFO* exception, UINT argError, DISPID id);
  // What Invoke (or the conversion of its result) answered.
  HRESULT Result() const { return hr_; }
  // The callee's own code and texts, for DISP_E_EXCEPTION.
  SCODE Code() const { return code_; }
  const std::wstring& Description() const { return description_; }
  const std::wstring& Source() const { return source_; }
  UINT ArgError() const { return argError_; }
  DISPID Id() const { return id_; }

 private:
  HRESULT hr_;
  SCODE code_ = 0;
  std::wstring description_;
  std::wstring source_;
  UINT argError_;
  DISPID id_;
};

// One argument: its type code and value. A reference writes the callee's
// out value back to the caller's variable when the call returns.
class DispArg {
 public:
  static DispArg I2(SHORT value);
  static DispArg I4(LONG value);
  static DispArg R4(float value);
  static DispArg Bool(bool value);
  static DispArg Text(const std::string& value);  // BSTR from 8-bit text
  static DispArg Var(const VARIANT& value);  // copied
  static DispArg I2Ref(SHORT* out);
  static DispArg I4Ref(LONG* out);
  static DispArg R4Ref(float* out);
  static DispArg BoolRef(bool* out);
  static DispArg TextRef(std::string* out);
  static DispArg VarRef(VARIANT* out);  // the caller owns and clears it

  // VT_I2 ... or VT_BYREF with the type.
  VARTYPE Type() const;

 private:
  friend class DispatchDriver;
  static DispArg Ref(VARTYPE type, void* out);
  atl::Variant value_;  // by value, or the holder of a BSTR/VARIANT_BOOL reference
  VARTYPE type_ = VT_EMPTY;
  void* out_ = nullptr;  // the caller's variable of a reference
  SHORT shortHolder_ = 0;
  VARIANT_BOOL boolHolder_ = VARIANT_FALSE;
  BSTR textHolder_ = nullptr;
};

class DispatchDriver {
 public:
  DispatchDriver() = default;
  explicit DispatchDriver(IDispatch* object) : object_(object) {}
  void Attach(IDispatch* object) { object_ = atl::ComPtr<IDispatch>(object); }
  void Release() { object_.Reset(); }
  IDispatch* Get() const { return object_.Get(); }

  // Property get with the type asked for; strings come back as 8-bit text.
  SHORT GetShort(DISPID id) { return static_cast<SHORT>(Get(id, VT_I2).Get().iVal); }
  LONG GetLong(DISPID id) { return Get(id, VT_I4).Get().lVal; }
  float GetFloat(DISPID id) { return Get(id, VT_R4).Get().fltVal; }
  bool GetBool(DISPID id) { return Get(id, VT_BOOL).Get().boolVal != VARIANT_FALSE; }
  std::string GetText(DISPID id);
  atl::Variant GetVariant(DISPID id) { return Get(id, VT_VARIANT); }
  // Property set with the value's type.
  void SetProperty(DISPID id, const DispArg& value);

  // Methods: the result as VT_I4 (a void method gives 0), as a VARIANT, or
  // none.
  LONG CallLong(DISPID id, std::vector<DispArg> args = {});
  atl::Variant CallVariant(DISPID id, std::vector<DispArg> args = {});
  void Call(DISPID id, std::vector<DispArg> args = {}) { Invoke(id, DISPATCH_METHOD, VT_EMPTY, args); }

  // The general form: flags DISPATCH_*, the result converted to
  // `resultType` (VT_EMPTY: none, VT_VARIANT: as it came).
  atl::Variant Invoke(DISPID id, WORD flags, VARTYPE resultType, std::vector<DispArg>& args);

 private:
  atl::Variant Get(DISPID id, VARTYPE type);
  atl::ComPtr<IDispatch> object_;
};

}  // namespace appf
