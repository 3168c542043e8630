#include "mediaengine/capmanager.h"

#include <new>

#include "mediaengine/errors.h"

namespace mediaengine {

namespace {

// The shared instance and its count are changed together under one lock, so
// that an engine on another thread never picks up an instance whose last
// reference is being released.
SRWLOCK lock = SRWLOCK_INIT;
COKRCapManager* instance = nullptr;
LONG instances = 0;

}  // namespace

COKRCapManager::COKRCapManager() : impl_(this, this) { ++instances; }

COKRCapManager::~COKRCapManager() {
  AcquireSRWLockExclusive(&lock);
  --instances;
  ReleaseSRWLockExclusive(&lock);
}

HRESULT COKRCapManager::Obtain(COKRCapManager** manager) {
  AcquireSRWLockExclusive(&lock);
  if (!instance) instance = new (std::nothrow) COKRCapManager();
  if (instance) ++instance->refs_;
  *manager = instance;
  ReleaseSRWLockExclusive(&lock);
  return *manager ? S_OK : KRM_E_OUT_OF_MEMORY;
}

LONG COKRCapManager::Instances() {
  AcquireSRWLockShared(&lock);
  LONG n = instances;
  ReleaseSRWLockShared(&lock);
  return n;
}

STDMETHODIMP COKRCapManager::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown))
    *out = static_cast<IUnknown*>(this);
  else if (IsEqualIID(iid, IID_ICapManager))
    *out = static_cast<ICapManager*>(&impl_);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

STDMETHODIMP_(ULONG) COKRCapManager::AddRef() {
  AcquireSRWLockExclusive(&lock);
  LONG n = ++refs_;
  ReleaseSRWLockExclusive(&lock);
  return static_cast<ULONG>(n);
}

STDMETHODIMP_(ULONG) COKRCapManager::Release() {
  AcquireSRWLockExclusive(&lock);
  LONG n = --refs_;
  if (n == 0 && instance == this) instance = nullptr;
  ReleaseSRWLockExclusive(&lock);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

}  // namespace mediaengine
