// A dispatch double for the control: records each call (form, dispatch id,
// the argument types as the contract writes them, and the arguments) and
// answers with zeros or the value set for a property.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <string>
#include <vector>

#include "atl/owners.h"

struct RecordedCall {
  char form;  // 'G' property get, 'P' property put, 'M' method
  DISPID id;
  std::string types;  // "s", "*l*l", ... in the declared order
  std::vector<atl::Variant> args;  // by-value arguments in the declared order (empty for outs)
};

class RecordingDispatch : public IDispatch {
 public:
  std::vector<RecordedCall> calls;
  std::map<DISPID, atl::Variant> values;  // property gets answer these, else zero
  std::map<DISPID, HRESULT> failures;     // these ids fail with DISP_E_EXCEPTION and this code

  // "P1 G3 M80 ..." for comparing sequences.
  std::string Sequence() const;
  void Clear() { calls.clear(); }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // lives on the test's stack
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                      UINT*) override;

 private:
  ULONG refs_ = 1;
};

// The text of a variant (for argument checks).
std::wstring VariantString(const atl::Variant& value);
