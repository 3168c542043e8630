// For test programs that drive a COM server as its clients do: a late-bound
// call by dispatch id, and a registry tree read back through Wine's
// reg.exe.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <map>
#include <string>
#include <vector>

#include "atl/owners.h"

// One late-bound call's outcome; the exception's strings are freed with it.
struct Call {
  HRESULT hr = E_FAIL;
  atl::Variant result;
  EXCEPINFO exception = {};
  UINT argError = 0xFFFF;  // left so when the callee names no argument
  Call() = default;
  Call(const Call&) = delete;
  Call& operator=(const Call&) = delete;
  ~Call();
};

// Arguments in the order written (reversed for DISPPARAMS); a property put
// passes its value as the named argument DISPID_PROPERTYPUT.
void Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> args, Call* call);

// `reg query /s` of a key ("HKCR\\..."): {key below HKEY_CLASSES_ROOT:
// {value name: data}}; a key without values is there with an empty map.
using RegKeys = std::map<std::string, std::map<std::string, std::string>>;
RegKeys RegTree(const std::string& key);
// The same from reg.exe's printed output, for callers that run it their way.
RegKeys ParseRegQuery(const std::string& output);

// regsvr32 /s (with /u when `unregister`) of a DLL named by its Windows
// path; its exit code.
DWORD Regsvr32(const std::string& dll, bool unregister);
// A key below HKEY_CLASSES_ROOT as reg.exe finds it.
bool HkcrKeyExists(const std::string& key);
