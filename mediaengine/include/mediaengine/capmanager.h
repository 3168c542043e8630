// COKRCapManager: the process-wide capture device manager. One instance
// serves every engine of the process; engines reach it through ICapManager
// with their instance number as the caller. Device listing and selection
// come with the live capture source; this is the object and its sharing.
#pragma once

#include <windows.h>

#include "mediaengine/interfaces.h"

namespace mediaengine {

class COKRCapManager;

constexpr int kCaptureDevicesPerClass = 5;

struct CaptureDeviceEntry {
  IBaseFilter* filter = nullptr;
  WCHAR name[258] = {};
  LONG owner = 0;  // 0: free
};

class CImpICapManager : public ICapManager {
 public:
  CImpICapManager(COKRCapManager* manager, IUnknown* controlling) : manager_(manager), controlling_(controlling) {}
  virtual ~CImpICapManager() = default;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return controlling_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return controlling_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return controlling_->Release(); }

  STDMETHODIMP GetDeviceList(LONG, WCHAR**, LONG*) override { return E_NOTIMPL; }
  STDMETHODIMP SelectDevice(LONG, LONG, LONG, IBaseFilter**) override { return E_NOTIMPL; }
  STDMETHODIMP ReleaseDevice(LONG, LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP SelectAvailableDevice(LONG, LONG, IBaseFilter**, LONG*) override { return E_NOTIMPL; }

 private:
  COKRCapManager* manager_;
  IUnknown* controlling_;
  LONG videoCount_ = 0;
  LONG audioCount_ = 0;
  CaptureDeviceEntry video_[kCaptureDevicesPerClass];
  CaptureDeviceEntry audio_[kCaptureDevicesPerClass];
};

class COKRCapManager : public IUnknown {
 public:
  // The process's instance with one more reference, created when there is
  // none. No memory: KRM_E_OUT_OF_MEMORY.
  static HRESULT Obtain(COKRCapManager** manager);
  // Instances alive in the process (0 or 1).
  static LONG Instances();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

 private:
  COKRCapManager();
  virtual ~COKRCapManager();

  CImpICapManager impl_;
  LONG refs_ = 0;  // changed only under the process-wide lock
};

}  // namespace mediaengine
