#include "atl/owners.h"

#include <cstring>

namespace atl {

HRESULT Bstr::CopyTo(BSTR* out) const {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (!b_) return S_OK;
  *out = SysAllocStringLen(b_, SysStringLen(b_));
  return *out ? S_OK : E_OUTOFMEMORY;
}

bool Bstr::operator==(const Bstr& o) const {
  UINT n = Length();
  return n == o.Length() && (n == 0 || std::memcmp(b_, o.b_, n * sizeof(wchar_t)) == 0);
}

Variant::Variant(LONG value) {
  VariantInit(&v_);
  V_VT(&v_) = VT_I4;
  V_I4(&v_) = value;
}

Variant::Variant(const wchar_t* text) {
  VariantInit(&v_);
  V_VT(&v_) = VT_BSTR;
  V_BSTR(&v_) = SysAllocString(text ? text : L"");
}

Variant::Variant(const Variant& o) {
  VariantInit(&v_);
  VariantCopy(&v_, const_cast<VARIANT*>(&o.v_));
}

Variant::Variant(Variant&& o) noexcept {
  v_ = o.v_;  // a bitwise move: the source gives up what it held
  VariantInit(&o.v_);
}

Variant& Variant::operator=(Variant o) noexcept {
  std::swap(v_, o.v_);
  return *this;
}

VARIANT* Variant::Out() {
  VariantClear(&v_);
  return &v_;
}

HRESULT Variant::CopyFrom(const VARIANT& from) {
  VARIANT copy;
  VariantInit(&copy);
  HRESULT hr = VariantCopyInd(&copy, const_cast<VARIANT*>(&from));
  if (FAILED(hr)) return hr;
  VariantClear(&v_);
  v_ = copy;
  return S_OK;
}

HRESULT Variant::ChangeType(VARTYPE type) {
  VARIANT converted;
  VariantInit(&converted);
  HRESULT hr = VariantChangeType(&converted, &v_, 0, type);
  if (FAILED(hr)) return hr;
  VariantClear(&v_);
  v_ = converted;
  return S_OK;
}

HRESULT Variant::CopyTo(VARIANT* out) const {
  if (!out) return E_POINTER;
  VariantClear(out);
  return VariantCopy(out, const_cast<VARIANT*>(&v_));
}

HRESULT Variant::Detach(VARIANT* out) {
  if (!out) return E_POINTER;
  VariantClear(out);
  *out = v_;
  VariantInit(&v_);
  return S_OK;
}

void Variant::Attach(VARIANT* from) {
  VariantClear(&v_);
  v_ = *from;
  VariantInit(from);
}

HRESULT SafeArray::Create(VARTYPE type, LONG lowerBound, ULONG count) {
  SAFEARRAYBOUND bound = {count, lowerBound};
  SAFEARRAY* a = SafeArrayCreate(type, 1, &bound);
  if (!a) return E_OUTOFMEMORY;
  Attach(a);
  return S_OK;
}

HRESULT SafeArray::CopyFrom(const SAFEARRAY* from) {
  if (!from) return E_POINTER;
  SAFEARRAY* copy = nullptr;
  HRESULT hr = SafeArrayCopy(const_cast<SAFEARRAY*>(from), &copy);
  if (FAILED(hr)) return hr;
  Attach(copy);
  return S_OK;
}

VARTYPE SafeArray::ElementType() const {
  VARTYPE type = VT_EMPTY;
  if (a_ && FAILED(SafeArrayGetVartype(a_, &type))) type = VT_EMPTY;
  return type;
}

HRESULT SafeArray::Bounds(LONG* lower, LONG* upper) const {
  if (!a_) return E_INVALIDARG;
  HRESULT hr = SafeArrayGetLBound(a_, 1, lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(a_, 1, upper);
  return hr;
}

HRESULT SafeArray::Put(LONG index, void* value) {
  if (!a_) return E_INVALIDARG;
  return SafeArrayPutElement(a_, &index, value);
}

HRESULT SafeArray::Fetch(LONG index, void* value) const {
  if (!a_) return E_INVALIDARG;
  return SafeArrayGetElement(a_, &index, value);
}

}  // namespace atl
