// COM objects: a class derives from ObjectRoot and its interfaces, lists
// them in a static Interfaces() table, and is created through one of the
// wrappers below, which supply IUnknown:
//   Object<T>        a plain object; counts in the module's object count
//   NoLockObject<T>  the same without the module count (class factories)
//   AggObject<T>     aggregated in an outer unknown: its interfaces answer
//                    QueryInterface, AddRef and Release through the outer one
// Creator<T>::Create picks Object or AggObject and runs FinalConstruct.
//
//   class Thing : public atl::ObjectRoot<atl::MultiThreaded>, public IThing {
//    public:
//     static const atl::InterfaceEntry* Interfaces() {
//       static const atl::InterfaceEntry entries[] = {
//           atl::Entry<Thing, IThing>(), atl::Entry<Thing, IDispatch>(), {}};
//       return entries;
//     }
//   };
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <new>
#include <utility>

#include "atl/module.h"

namespace atl {

// Reference counting of one thread or of many.
struct SingleThreaded {
  static LONG Increment(volatile LONG* v) {
    LONG n = *v + 1;
    *v = n;
    return n;
  }
  static LONG Decrement(volatile LONG* v) {
    LONG n = *v - 1;
    *v = n;
    return n;
  }
};
struct MultiThreaded {
  static LONG Increment(volatile LONG* v) { return InterlockedIncrement(v); }
  static LONG Decrement(volatile LONG* v) { return InterlockedDecrement(v); }
};

// One row of an object's interface table: an interface of the object itself
// (cast), or one answered by another object (query, e.g. an aggregated
// inner object). The table ends with an empty row; its first row answers
// IID_IUnknown.
struct InterfaceEntry {
  const IID* iid = nullptr;
  void* (*cast)(void* self) = nullptr;
  HRESULT (*query)(void* self, REFIID iid, void** out) = nullptr;
};

template <class T, class I>
void* CastTo(void* self) {
  return static_cast<I*>(static_cast<T*>(self));
}

template <class T, class I>
constexpr InterfaceEntry Entry(const IID& iid = __uuidof(I)) {
  return {&iid, &CastTo<T, I>, nullptr};
}

template <class T, IUnknown* T::*inner>
HRESULT QueryInner(void* self, REFIID iid, void** out) {
  IUnknown* unknown = static_cast<T*>(self)->*inner;
  return unknown ? unknown->QueryInterface(iid, out) : E_NOINTERFACE;
}

// `iid` answered by the inner unknown held in the member `inner`.
template <class T, IUnknown* T::*inner>
constexpr InterfaceEntry InnerEntry(const IID& iid) {
  return {&iid, nullptr, &QueryInner<T, inner>};
}

// Walks a table for QueryInterface; the found interface gets a reference
// through its own AddRef (so an aggregated object counts on its outer one).
HRESULT QueryTable(void* self, const InterfaceEntry* table, REFIID iid, void** out);

template <class ThreadModel>
class ObjectRoot {
 public:
  using ThreadModelType = ThreadModel;
  // Set up and taken down around the object's life; FinalConstruct may
  // fail the creation. A class that may be aggregated says so.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() {}
  static constexpr bool kAggregatable = false;

  ObjectRoot() = default;
  ObjectRoot(const ObjectRoot&) = delete;
  ObjectRoot& operator=(const ObjectRoot&) = delete;

  // The controlling unknown: the outer object when aggregated.
  IUnknown* Outer() const { return outer_; }

 protected:
  ULONG InternalAddRef() { return static_cast<ULONG>(ThreadModel::Increment(&refs_)); }
  ULONG InternalRelease() { return static_cast<ULONG>(ThreadModel::Decrement(&refs_)); }
  // A destroyed object's count stays high, so a reference taken and
  // dropped while its destructor runs cannot destroy it twice.
  void Stabilize() { refs_ = 0x3FFFFFFF; }

  volatile LONG refs_ = 0;
  IUnknown* outer_ = nullptr;
};

// A plain object; `kCounts` adds it to the module's object count for its
// whole life, FinalRelease included.
template <class T, bool kCounts>
class BasicObject : public T {
 public:
  template <class... Args>
  explicit BasicObject(Args&&... args) : T(std::forward<Args>(args)...) {
    if (kCounts) CurrentModule().AddObject();
  }
  virtual ~BasicObject() {
    this->FinalRelease();
    if (kCounts) CurrentModule().RemoveObject();
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    return QueryTable(static_cast<T*>(this), T::Interfaces(), iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return this->InternalAddRef(); }
  STDMETHODIMP_(ULONG) Release() override {
    ULONG n = this->InternalRelease();
    if (n == 0) {
      this->Stabilize();
      delete this;
    }
    return n;
  }
};

template <class T>
using Object = BasicObject<T, true>;
template <class T>
using NoLockObject = BasicObject<T, false>;

// T inside an aggregate: its interfaces delegate IUnknown to the outer one.
template <class T>
class Contained : public T {
 public:
  explicit Contained(IUnknown* outer) { this->outer_ = outer; }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return this->outer_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return this->outer_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return this->outer_->Release(); }
};

// The inner (non-delegating) unknown an outer object holds.
template <class T>
class AggObject : public IUnknown {
 public:
  explicit AggObject(IUnknown* outer) : contained_(outer) { CurrentModule().AddObject(); }
  virtual ~AggObject() {
    contained_.FinalRelease();
    CurrentModule().RemoveObject();
  }
  AggObject(const AggObject&) = delete;
  AggObject& operator=(const AggObject&) = delete;

  HRESULT FinalConstruct() { return contained_.FinalConstruct(); }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    return QueryTable(static_cast<T*>(&contained_), T::Interfaces(), iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(Model::Increment(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG n = Model::Decrement(&refs_);
    if (n == 0) {
      refs_ = 0x3FFFFFFF;
      delete this;
    }
    return static_cast<ULONG>(n);
  }

 private:
  using Model = typename T::ThreadModelType;
  volatile LONG refs_ = 0;
  Contained<T> contained_;
};

// Creation for a class table (ClassEntry::create): with an outer unknown
// only IID_IUnknown may be asked for, and only of an aggregatable class.
template <class T>
struct Creator {
  template <class W>
  static HRESULT Finish(W* object, REFIID iid, void** out) {
    // FinalConstruct runs with a reference held, so an inner object it
    // creates and releases through this one cannot destroy it.
    object->AddRef();
    HRESULT hr = object->FinalConstruct();
    if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
    object->Release();  // destroys the object when nothing else holds it
    return hr;
  }

  static HRESULT Create(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (outer) {
      if (!T::kAggregatable || !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
      auto* object = new (std::nothrow) AggObject<T>(outer);
      if (!object) return E_OUTOFMEMORY;
      return Finish(object, iid, out);
    }
    auto* object = new (std::nothrow) Object<T>();
    if (!object) return E_OUTOFMEMORY;
    return Finish(object, iid, out);
  }
};

}  // namespace atl
