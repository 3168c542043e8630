// Owners of automation values: each frees what it holds when it goes, and
// says in its name when ownership moves (Attach, Detach, Out, CopyTo).
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <utility>

namespace atl {

// An interface pointer: one reference, released on destruction.
template <class I>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(I* p) : p_(p) {  // adds a reference of its own
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  I* Get() const { return p_; }
  I* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  void Reset() {
    if (I* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a reference the caller owned.
  void Attach(I* p) {
    Reset();
    p_ = p;
  }
  // Hands the reference to the caller.
  I* Detach() { return std::exchange(p_, nullptr); }
  // For out parameters: releases what is held first.
  I** Out() {
    Reset();
    return &p_;
  }
  void** OutVoid() { return reinterpret_cast<void**>(Out()); }
  // Stores an added reference in *out (which may be null: then nothing).
  HRESULT CopyTo(I** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }
  template <class J>
  HRESULT As(ComPtr<J>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(J), out->OutVoid());
  }

 private:
  I* p_ = nullptr;
};

// A BSTR: a length-prefixed string from SysAllocString, which may hold
// embedded nulls. A null BSTR is the empty string, as automation treats it.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(const wchar_t* text) : b_(text ? SysAllocString(text) : nullptr) {}
  Bstr(const wchar_t* text, UINT length) : b_(SysAllocStringLen(text, length)) {}
  Bstr(const Bstr& o) : b_(o.b_ ? SysAllocStringLen(o.b_, SysStringLen(o.b_)) : nullptr) {}
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  Bstr& operator=(Bstr o) noexcept {
    std::swap(b_, o.b_);
    return *this;
  }
  ~Bstr() { SysFreeString(b_); }

  BSTR Get() const { return b_; }
  UINT Length() const { return SysStringLen(b_); }
  // A valid C string even when null.
  const wchar_t* Text() const { return b_ ? b_ : L""; }
  void Attach(BSTR b) {
    SysFreeString(b_);
    b_ = b;
  }
  BSTR Detach() { return std::exchange(b_, nullptr); }
  BSTR* Out() {
    Attach(nullptr);
    return &b_;
  }
  // A copy for an [out] BSTR*; the caller frees it.
  HRESULT CopyTo(BSTR* out) const;
  bool operator==(const Bstr& o) const;

 private:
  BSTR b_ = nullptr;
};

// A VARIANT, cleared (its BSTR, array or interface freed) on destruction.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  explicit Variant(LONG value);
  explicit Variant(const wchar_t* text);
  Variant(const Variant& o);
  Variant(Variant&& o) noexcept;
  Variant& operator=(Variant o) noexcept;
  ~Variant() { VariantClear(&v_); }

  const VARIANT& Get() const { return v_; }
  VARTYPE Type() const { return V_VT(&v_); }
  // For out parameters: cleared first.
  VARIANT* Out();
  // A deep copy of `from`, following VT_BYREF to the value (a script passes
  // its variables by reference).
  HRESULT CopyFrom(const VARIANT& from);
  // Converts in place; on failure the value is unchanged.
  HRESULT ChangeType(VARTYPE type);
  // A deep copy for an [out] VARIANT*, which is cleared first.
  HRESULT CopyTo(VARIANT* out) const;
  // Moves the value into *out (cleared first); this one is left empty.
  HRESULT Detach(VARIANT* out);
  // Takes over a value the caller owned; the caller's VARIANT is left empty.
  void Attach(VARIANT* from);

 private:
  VARIANT v_;
};

// A SAFEARRAY, destroyed (with every element) on destruction.
class SafeArray {
 public:
  SafeArray() = default;
  SafeArray(const SafeArray&) = delete;
  SafeArray& operator=(const SafeArray&) = delete;
  SafeArray(SafeArray&& o) noexcept : a_(std::exchange(o.a_, nullptr)) {}
  SafeArray& operator=(SafeArray&& o) noexcept {
    Attach(o.Detach());
    return *this;
  }
  ~SafeArray() { Attach(nullptr); }

  // A one-dimensional array of `count` elements from `lowerBound`.
  HRESULT Create(VARTYPE type, LONG lowerBound, ULONG count);
  // A deep copy of `from`.
  HRESULT CopyFrom(const SAFEARRAY* from);

  SAFEARRAY* Get() const { return a_; }
  UINT Dimensions() const { return a_ ? SafeArrayGetDim(a_) : 0; }
  VARTYPE ElementType() const;
  // Bounds of the first dimension; E_INVALIDARG without an array.
  HRESULT Bounds(LONG* lower, LONG* upper) const;
  // Element access copies in and out (a BSTR, VARIANT or interface is
  // duplicated), as SafeArrayPutElement and SafeArrayGetElement do.
  HRESULT Put(LONG index, void* value);
  HRESULT Fetch(LONG index, void* value) const;

  void Attach(SAFEARRAY* a) {
    if (a_) SafeArrayDestroy(a_);
    a_ = a;
  }
  SAFEARRAY* Detach() { return std::exchange(a_, nullptr); }

 private:
  SAFEARRAY* a_ = nullptr;
};

}  // namespace atl
