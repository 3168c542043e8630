// Values, out arguments and the KRError event as the control's test
// programs pass and read them.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "atl/module.h"
#include "atl/object.h"
#include "atl/owners.h"
#include "com_client.h"
#include "control.h"
#include "host_testing.h"

inline VARIANT V(LONG v) {
  VARIANT x;
  V_VT(&x) = VT_I4;
  V_I4(&x) = v;
  return x;
}
inline VARIANT VDouble(double v) {
  VARIANT x;
  V_VT(&x) = VT_R8;
  V_R8(&x) = v;
  return x;
}
inline VARIANT VBool(bool v) {
  VARIANT x;
  V_VT(&x) = VT_BOOL;
  V_BOOL(&x) = v ? VARIANT_TRUE : VARIANT_FALSE;
  return x;
}
// Borrowed: the Bstr keeps the text.
inline VARIANT VText(const atl::Bstr& s) {
  VARIANT x;
  V_VT(&x) = VT_BSTR;
  V_BSTR(&x) = s.Get();
  return x;
}
inline VARIANT None() {
  VARIANT x;
  VariantInit(&x);
  return x;
}

inline std::wstring Hex(uint32_t code) {
  wchar_t text[16];
  swprintf(text, 16, L"%ld", static_cast<long>(static_cast<int32_t>(code)));
  return text;
}

// KRError as the sink records it.
inline EventSink::Event KRError(uint32_t code, const std::wstring& text) {
  return EventSink::Event{3, {Hex(code), text, L"", L"0"}};
}

// Out arguments as a script passes them.
struct Outs {
  std::vector<atl::Variant> held;
  std::vector<VARIANT> refs;
  explicit Outs(size_t n) : held(n), refs(n) {
    for (size_t i = 0; i < n; ++i) {
      V_VT(&refs[i]) = VT_BYREF | VT_VARIANT;
      V_VARIANTREF(&refs[i]) = held[i].Out();
    }
  }
  std::wstring Text() const {
    std::wstring t;
    for (const auto& v : held) t += (t.empty() ? L"" : L",") + VariantText(v.Get());
    return t;
  }
};

// A method's long result, -1 when it is none.
inline LONG Result(const Call& c) { return V_VT(&c.result.Get()) == VT_I4 ? V_I4(&c.result.Get()) : -1; }

// The control inside the test program: its strings and type library are
// the program's own resources.
inline const atl::ModuleInfo kTestModule = {
    .classes = nullptr,
    .classCount = 0,
    .typeLib = &LIBID_KRACTIVELib,
    .typeLibMajor = 1,
    .typeLibMinor = 0,
};

class InProcessControl : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_));
    atl::CurrentModule().Init(GetModuleHandleW(nullptr), &kTestModule);
    ASSERT_EQ(atl::Creator<CKRActiveCtrl>::Create(nullptr, IID_IDispatch, dispatch_.OutVoid()), S_OK);
    control_ = static_cast<CKRActiveCtrl*>(dispatch_.Get());
    connection_ = std::make_unique<Connection>(dispatch_.Get(), DIID__DScrivelControlEvents, &sink_);
    ASSERT_TRUE(connection_->Connected());
  }
  void TearDown() override {
    connection_.reset();
    dispatch_.Reset();
    if (SUCCEEDED(com_)) CoUninitialize();
  }

  HRESULT com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EventSink sink_{DIID__DScrivelControlEvents};
  atl::ComPtr<IDispatch> dispatch_;
  CKRActiveCtrl* control_ = nullptr;
  std::unique_ptr<Connection> connection_;
};

// A property by dispatch id, read as text or written.
inline std::wstring Get(IDispatch* object, DISPID id) {
  Call c;
  Invoke(object, id, DISPATCH_PROPERTYGET, {}, &c);
  EXPECT_EQ(c.hr, S_OK) << "get " << id;
  return VariantText(c.result.Get());
}
inline HRESULT Put(IDispatch* object, DISPID id, VARIANT value) {
  Call c;
  Invoke(object, id, DISPATCH_PROPERTYPUT, {value}, &c);
  return c.hr;
}

// The control's class for this process while the object lives: the test
// program's own copy of the control (its strings and type library are the
// program's resources), handed to a host through the process's class
// table, with the sink connected before the host activates it (so what
// its window's creation fires is seen).
class ProgramControl : public IClassFactory {
 public:
  explicit ProgramControl(EventSink* sink) : sink_(sink) {
    atl::CurrentModule().Init(GetModuleHandleW(nullptr), &kTestModule);
    registered_ =
        CoRegisterClassObject(CLSID_ScrivelControl, this, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
  }
  ~ProgramControl() {
    connection.reset();
    if (SUCCEEDED(registered_)) CoRevokeClassObject(cookie_);
  }
  ProgramControl(const ProgramControl&) = delete;
  ProgramControl& operator=(const ProgramControl&) = delete;
  bool Registered() const { return SUCCEEDED(registered_); }

  CKRActiveCtrl* made = nullptr;  // the last control made
  std::unique_ptr<Connection> connection;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }  // lives with its owner
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    atl::ComPtr<IDispatch> control;
    const HRESULT hr = atl::Creator<CKRActiveCtrl>::Create(nullptr, IID_IDispatch, control.OutVoid());
    if (FAILED(hr)) return hr;
    made = static_cast<CKRActiveCtrl*>(control.Get());
    connection = std::make_unique<Connection>(control.Get(), DIID__DScrivelControlEvents, sink_);
    return control->QueryInterface(iid, out);
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  EventSink* sink_;
  HRESULT registered_ = E_FAIL;
  DWORD cookie_ = 0;
};

// The control's class as a host's window text names it.
inline constexpr wchar_t kProgramControlClass[] = L"{20260E28-5CD1-11D4-8737-0050DA816754}";
