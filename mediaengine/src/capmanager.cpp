#include "mediaengine/capmanager.h"

#include <uuids.h>

#include <cstdio>
#include <cwchar>
#include <new>

#include "mediaengine/errors.h"
#include "mediaengine/trace.h"
#include "release.h"

namespace mediaengine {

namespace {

// The shared instance and its count are changed together under one lock, so
// that an engine on another thread never picks up an instance whose last
// reference is being released.
SRWLOCK lock = SRWLOCK_INIT;
COKRCapManager* instance = nullptr;
LONG instances = 0;

void TraceText(const char* operation, const char* text) {
  Trace(FormatTextTrace("COKRCapManager", operation, text));
}

void TraceError(const char* operation, HRESULT code) {
  Trace(FormatCodeTrace("COKRCapManager", operation, CodeText(code).c_str()));
}

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION* section) : section_(section) { EnterCriticalSection(section_); }
  ~Locked() { LeaveCriticalSection(section_); }

 private:
  CRITICAL_SECTION* section_;
};

}  // namespace

// ---- CImpICapManager ------------------------------------------------------------

CImpICapManager::CImpICapManager(COKRCapManager* manager, IUnknown* controlling)
    : manager_(manager), controlling_(controlling) {
  InitializeCriticalSection(&lock_);
}

CImpICapManager::~CImpICapManager() {
  for (CaptureDeviceEntry* table : {video_, audio_})
    for (int i = 0; i < kCaptureDevicesPerClass; ++i) {
      SafeRelease(table[i].filter);
      SafeRelease(table[i].moniker);
    }
  DeleteCriticalSection(&lock_);
}

HRESULT CImpICapManager::GetDevices(LONG deviceClass) {
  if (deviceClass != 0 && deviceClass != 1) return E_UNEXPECTED;
  ICreateDevEnum* devices = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices));
  if (FAILED(hr)) {
    TraceError("GetDevices", hr);
    return hr;
  }
  IEnumMoniker* monikers = nullptr;
  hr = devices->CreateClassEnumerator(deviceClass == 0 ? CLSID_VideoInputDeviceCategory
                                                       : CLSID_AudioInputDeviceCategory,
                                      &monikers, 0);
  devices->Release();
  if (hr != S_OK || !monikers) {
    TraceText("GetDevices",
              deviceClass == 0 ? "Video capture device not detected" : "Audio capture device not detected");
    return S_OK;
  }
  CaptureDeviceEntry* table = deviceClass == 0 ? video_ : audio_;
  LONG count = 0;
  monikers->Reset();
  IMoniker* moniker = nullptr;
  // The table keeps the first five devices; the rest are not counted, so a
  // count never names entries that do not exist.
  while (count < kCaptureDevicesPerClass && monikers->Next(1, &moniker, nullptr) == S_OK) {
    CaptureDeviceEntry& entry = table[count];
    IPropertyBag* bag = nullptr;
    bool listed = false;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) {
      swprintf(entry.name, 258, L"Capture device %u", unsigned(count));
      listed = true;
    } else {
      VARIANT name;
      VariantInit(&name);
      if (SUCCEEDED(bag->Read(L"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR && name.bstrVal) {
        wcsncpy(entry.name, name.bstrVal, 257);
        entry.name[257] = 0;
        listed = true;
      }
      VariantClear(&name);
      bag->Release();
    }
    if (listed) {
      entry.moniker = moniker;
      ++count;
    } else {
      moniker->Release();  // no name to show: left out
    }
  }
  monikers->Release();
  (deviceClass == 0 ? videoCount_ : audioCount_) = count;
  return S_OK;
}

STDMETHODIMP CImpICapManager::GetDeviceList(LONG deviceClass, WCHAR** names, LONG* count) {
  if (deviceClass != 0 && deviceClass != 1) return KRM_E_BAD_PARAMETER;
  if (!names || !count) return KRM_E_BAD_PARAMETER;
  Locked locked(&lock_);
  CaptureDeviceEntry* table = deviceClass == 0 ? video_ : audio_;
  const LONG n = deviceClass == 0 ? videoCount_ : audioCount_;
  for (LONG i = 0; i < n; ++i) names[i] = table[i].name;
  *count = n;
  return S_OK;
}

STDMETHODIMP CImpICapManager::SelectDevice(LONG caller, LONG index, LONG deviceClass, IBaseFilter** filter) {
  if (!filter) return KRM_E_BAD_PARAMETER;
  *filter = nullptr;
  Locked locked(&lock_);
  if (deviceClass == 1 && audioCount_ == 0) return KRM_E_NO_AUDIO_CAPTURE_DEVICE;
  if (deviceClass == 0 && videoCount_ == 0) return KRM_E_NO_VIDEO_CAPTURE_DEVICE;
  if (index < 0) index = 0;
  const bool video = deviceClass == 0;
  const HRESULT unavailable = video ? KRM_E_VIDEO_DEVICE_NOT_AVAILABLE : KRM_E_AUDIO_DEVICE_NOT_AVAILABLE;
  if (index >= (video ? videoCount_ : audioCount_)) return KRM_E_INVALID_DEVICE_ID;
  CaptureDeviceEntry& entry = (video ? video_ : audio_)[index];
  if (entry.owner != 0) {
    // A camera its owner asks for again is already its own.
    if (video && entry.owner == caller) return S_OK;
    return unavailable;
  }
  // The moniker listed at this entry: a device left out of the list never
  // shifts the others.
  IBaseFilter* bound = nullptr;
  HRESULT hr = entry.moniker ? entry.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                           reinterpret_cast<void**>(&bound))
                             : E_FAIL;
  if (FAILED(hr) || !bound) {
    if (FAILED(hr)) TraceError("SelectDevice", hr);
    return unavailable;
  }
  bound->AddRef();
  entry.filter = bound;
  entry.owner = caller;
  *filter = bound;
  return hr;
}

STDMETHODIMP CImpICapManager::ReleaseDevice(LONG caller, LONG deviceClass, LONG index) {
  if (index < 0 || index >= kCaptureDevicesPerClass) return KRM_E_INVALID_DEVICE_ID;
  Locked locked(&lock_);
  CaptureDeviceEntry& entry = (deviceClass == 0 ? video_ : audio_)[index];
  if (entry.owner == 0 || entry.owner != caller) {
    TraceText("ReleaseDevice", "The caller object doesn't own the specified device");
    return E_FAIL;
  }
  // Only the table's own reference: the engine releases the one it was given.
  SafeRelease(entry.filter);
  entry.owner = 0;
  return S_OK;
}

STDMETHODIMP CImpICapManager::SelectAvailableDevice(LONG caller, LONG deviceClass, IBaseFilter** filter,
                                                    LONG* index) {
  if (!filter || !index) return KRM_E_BAD_PARAMETER;
  *filter = nullptr;
  *index = -1;
  LONG count;
  {
    Locked locked(&lock_);
    if (videoCount_ == 0) return KRM_E_NO_VIDEO_CAPTURE_DEVICE;
    if (deviceClass != 0 && deviceClass != 1) return KRM_E_AUDIO_DEVICE_NOT_AVAILABLE;
    if (deviceClass == 1 && audioCount_ == 0) return KRM_E_NO_AUDIO_CAPTURE_DEVICE;
    count = deviceClass == 0 ? videoCount_ : audioCount_;
  }
  for (LONG i = 0; i < count; ++i) {
    IBaseFilter* found = nullptr;
    const HRESULT hr = SelectDevice(caller, i, deviceClass, &found);
    if (FAILED(hr)) continue;
    if (!found) break;
    *filter = found;
    *index = i;
    return hr;
  }
  return deviceClass == 0 ? KRM_E_VIDEO_DEVICE_NOT_AVAILABLE : KRM_E_AUDIO_DEVICE_NOT_AVAILABLE;
}

// ---- COKRCapManager ---------------------------------------------------------------

COKRCapManager::COKRCapManager() : impl_(this, this) {
  ++instances;
  impl_.GetDevices(0);
  impl_.GetDevices(1);
}

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
