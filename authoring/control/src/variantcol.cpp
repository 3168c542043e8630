#include "variantcol.h"

const atl::InterfaceEntry* VariantCol::Interfaces() {
  static const atl::InterfaceEntry entries[] = {
      atl::Entry<VariantCol, IVariantCol>(), atl::Entry<VariantCol, IDispatch>(), {}};
  return entries;
}

STDMETHODIMP VariantCol::Init(VARIANT* items) {
  if (!items) return E_POINTER;
  // A script passes its array by reference: read through, and copy it so
  // no string or item stays the caller's.
  atl::Variant given;
  HRESULT hr = given.CopyFrom(*items);
  if (FAILED(hr)) return hr;
  const VARTYPE type = given.Type();
  if (type != (VT_ARRAY | VT_I4) && type != (VT_ARRAY | VT_BSTR) && type != (VT_ARRAY | VT_VARIANT))
    return E_INVALIDARG;
  SAFEARRAY* source = V_ARRAY(&given.Get());
  if (!source || SafeArrayGetDim(source) != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  if (FAILED(hr = SafeArrayGetLBound(source, 1, &lower)) || FAILED(hr = SafeArrayGetUBound(source, 1, &upper)))
    return hr;
  const LONGLONG count = static_cast<LONGLONG>(upper) - lower + 1;
  // NumItems answers in 16 bits.
  if (count > 0x7FFF) return E_INVALIDARG;

  atl::SafeArray built;
  if (FAILED(built.Create(VT_VARIANT, 0, static_cast<ULONG>(count)))) return E_OUTOFMEMORY;
  for (LONG i = 0; i < count; ++i) {
    LONG at = lower + i;
    atl::Variant item;
    VARIANT* out = item.Out();
    if (type == (VT_ARRAY | VT_VARIANT)) {
      atl::Variant element;
      hr = SafeArrayGetElement(source, &at, element.Out());
      if (SUCCEEDED(hr)) hr = item.CopyFrom(element.Get());
    } else {
      V_VT(out) = static_cast<VARTYPE>(type & VT_TYPEMASK);
      hr = type == (VT_ARRAY | VT_BSTR) ? SafeArrayGetElement(source, &at, &V_BSTR(out))
                                        : SafeArrayGetElement(source, &at, &V_I4(out));
      if (FAILED(hr)) V_VT(out) = VT_EMPTY;
    }
    if (SUCCEEDED(hr)) hr = built.Put(i, out);
    if (FAILED(hr)) return hr;
  }
  items_ = std::move(built);
  return S_OK;
}

STDMETHODIMP VariantCol::get_ItemVar(int index, VARIANT* item) {
  if (!item) return E_POINTER;
  if (!items_.Get()) return S_OK;
  if (items_.Dimensions() != 1) return E_INVALIDARG;
  LONG lower = 0, upper = -1;
  HRESULT hr = items_.Bounds(&lower, &upper);
  if (FAILED(hr)) return hr;
  if (index < lower || index > upper) return S_OK;
  VARIANT found;
  VariantInit(&found);
  hr = items_.Fetch(index, &found);
  if (FAILED(hr)) return hr;
  // An out parameter: what the caller had in it is not ours to free.
  *item = found;
  return S_OK;
}

STDMETHODIMP VariantCol::get_NumItems(short* count) {
  if (!count) return E_POINTER;
  *count = 0;
  if (!items_.Get()) return S_OK;
  LONG lower = 0, upper = -1;
  HRESULT hr = items_.Bounds(&lower, &upper);
  if (FAILED(hr)) return hr;
  *count = static_cast<short>(upper + 1);
  return S_OK;
}
