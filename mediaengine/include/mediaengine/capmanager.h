// COKRCapManager: the process-wide capture device manager. One instance
// serves every engine of the process; engines reach it through ICapManager
// with their instance number as the caller. Devices are listed once, when
// the manager is made; each table keeps the first five of its class.
#pragma once

#include <windows.h>

#include "mediaengine/interfaces.h"

namespace mediaengine {

class COKRCapManager;

constexpr int kCaptureDevicesPerClass = 5;

struct CaptureDeviceEntry {
  IMoniker* moniker = nullptr;  // the device as listed: a selection binds this one
  IBaseFilter* filter = nullptr;
  WCHAR name[258] = {};
  LONG owner = 0;  // 0: free
};

class CImpICapManager : public ICapManager {
 public:
  CImpICapManager(COKRCapManager* manager, IUnknown* controlling);
  virtual ~CImpICapManager();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return controlling_->QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return controlling_->AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return controlling_->Release(); }

  // Up to five names (the table's, valid while the manager lives) and the
  // class's count, at most five.
  STDMETHODIMP GetDeviceList(LONG deviceClass, WCHAR** names, LONG* count) override;
  STDMETHODIMP SelectDevice(LONG caller, LONG index, LONG deviceClass, IBaseFilter** filter) override;
  STDMETHODIMP ReleaseDevice(LONG caller, LONG deviceClass, LONG index) override;
  STDMETHODIMP SelectAvailableDevice(LONG caller, LONG deviceClass, IBaseFilter** filter, LONG* index) override;

  // Lists the class's devices into its table (class 0 video, 1 audio).
  HRESULT GetDevices(LONG deviceClass);

 private:
  // Engines on other threads share the tables.
  CRITICAL_SECTION lock_;
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
