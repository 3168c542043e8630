#include "sample_object.h"

#include <string>
#include <vector>

const atl::InterfaceEntry* SampleObject::Interfaces() {
  static const atl::InterfaceEntry entries[] = {
      atl::Entry<SampleObject, ISampleObject>(),
      atl::Entry<SampleObject, IDispatch>(),
      atl::Entry<SampleObject, IProvideClassInfo2>(),
      atl::Entry<SampleObject, IProvideClassInfo>(),
      atl::Entry<SampleObject, ISupportErrorInfo>(),
      {}};
  return entries;
}

const IID* const* SampleObject::ErrorInterfaces() {
  static const IID* const interfaces[] = {&IID_ISampleObject, nullptr};
  return interfaces;
}

HRESULT SampleObject::Fail(const wchar_t* why, HRESULT hr) {
  return atl::ReportError(CLSID_SampleObject, IID_ISampleObject, why, hr);
}

STDMETHODIMP SampleObject::get_Count(LONG* value) {
  if (!value) return E_POINTER;
  *value = InterlockedCompareExchange(&count_, 0, 0);
  return S_OK;
}

STDMETHODIMP SampleObject::put_Count(LONG value) {
  InterlockedExchange(&count_, value);
  return S_OK;
}

STDMETHODIMP SampleObject::Add(LONG value, LONG* total) {
  if (!total) return E_POINTER;
  for (;;) {
    LONG old = InterlockedCompareExchange(&count_, 0, 0);
    LONGLONG sum = static_cast<LONGLONG>(old) + value;
    if (sum > 0x7FFFFFFF || sum < -0x7FFFFFFF - 1) return Fail(L"Count would overflow", DISP_E_OVERFLOW);
    if (InterlockedCompareExchange(&count_, static_cast<LONG>(sum), old) == old) {
      *total = static_cast<LONG>(sum);
      return S_OK;
    }
  }
}

STDMETHODIMP SampleObject::Join(BSTR separator, VARIANT items, VARIANT* itemCount, BSTR* joined) {
  if (!itemCount || !joined) return E_POINTER;
  *joined = nullptr;
  // A script passes its array by reference; read through to the value.
  atl::Variant list;
  HRESULT hr = list.CopyFrom(items);
  if (FAILED(hr)) return hr;
  if (!(list.Type() & VT_ARRAY) || !V_ARRAY(&list.Get())) return Fail(L"Join needs an array of items", E_INVALIDARG);
  SAFEARRAY* array = V_ARRAY(&list.Get());
  if (SafeArrayGetDim(array) != 1) return Fail(L"Join needs a one-dimensional array", E_INVALIDARG);
  VARTYPE type = static_cast<VARTYPE>(list.Type() & VT_TYPEMASK);
  LONG lower = 0, upper = -1;
  SafeArrayGetLBound(array, 1, &lower);
  SafeArrayGetUBound(array, 1, &upper);

  std::wstring text;
  const wchar_t* sep = separator ? separator : L"";
  for (LONG i = lower; i <= upper; ++i) {
    // Each element read into a VARIANT of the array's element type, then
    // coerced to text as a script would.
    VARIANT element;
    VariantInit(&element);
    if (type == VT_VARIANT) {
      hr = SafeArrayGetElement(array, &i, &element);
    } else {
      V_VT(&element) = type;
      hr = SafeArrayGetElement(array, &i, &V_I4(&element));
    }
    atl::Variant item;
    item.Attach(&element);
    if (SUCCEEDED(hr)) hr = item.ChangeType(VT_BSTR);
    if (FAILED(hr)) return Fail(L"an item cannot be read as text", hr);
    if (i > lower) text += sep;
    text.append(V_BSTR(&item.Get()), SysStringLen(V_BSTR(&item.Get())));
  }
  atl::Bstr result(text.data(), static_cast<UINT>(text.size()));
  if (!result.Get()) return E_OUTOFMEMORY;
  VariantClear(itemCount);
  V_VT(itemCount) = VT_I4;
  V_I4(itemCount) = upper - lower + 1;
  *joined = result.Detach();
  return S_OK;
}

STDMETHODIMP SampleObject::Split(BSTR text, BSTR separator, VARIANT* parts) {
  if (!parts) return E_POINTER;
  VariantInit(parts);
  UINT sepLength = SysStringLen(separator);
  if (sepLength == 0) return Fail(L"Split needs a separator", E_INVALIDARG);
  std::wstring whole(text ? text : L"", SysStringLen(text));
  std::wstring sep(separator, sepLength);
  std::vector<std::wstring> pieces;
  for (size_t start = 0;;) {
    size_t at = whole.find(sep, start);
    pieces.push_back(whole.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
    if (at == std::wstring::npos) break;
    start = at + sep.size();
  }
  // An array of VARIANTs, as scripts index it.
  atl::SafeArray array;
  HRESULT hr = array.Create(VT_VARIANT, 0, static_cast<ULONG>(pieces.size()));
  for (size_t i = 0; SUCCEEDED(hr) && i < pieces.size(); ++i) {
    atl::Variant piece(pieces[i].c_str());
    hr = array.Put(static_cast<LONG>(i), const_cast<VARIANT*>(&piece.Get()));
  }
  if (FAILED(hr)) return hr;
  V_VT(parts) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(parts) = array.Detach();
  return S_OK;
}
