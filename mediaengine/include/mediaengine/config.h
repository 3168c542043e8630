// COKRMediaConfig: the configuration object that the engine aggregates and
// hands out as IKRMediaConfig. It keeps the four settings records, the video
// destination and event windows, the suite's version, and the
// properties-file object used for sessions and profiles.
#pragma once

#include <windows.h>

#include "mediaengine/interfaces.h"
#include "mediaengine/records.h"
#include "propertiesfile/propertiesfile.h"

namespace mediaengine {

class COKRMediaConfig;

class CImpIKRMediaConfig : public IKRMediaConfig {
 public:
  CImpIKRMediaConfig(COKRMediaConfig* owner, IUnknown* controlling);
  virtual ~CImpIKRMediaConfig();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP ConfigVideoEncoder(KRVideoEncoderConfig* config) override;
  STDMETHODIMP GetConfigVideoEncoder(KRVideoEncoderConfig* config) override;
  STDMETHODIMP ConfigAudioEncoder(KRAudioEncoderConfig* config) override;
  STDMETHODIMP GetConfigAudioEncoder(KRAudioEncoderConfig* config) override;
  STDMETHODIMP ConfigOutput(KROutputConfig* config) override;
  STDMETHODIMP GetConfigOutput(KROutputConfig* config) override;
  STDMETHODIMP ConfigApplication(KRApplicationConfig* config) override;
  STDMETHODIMP GetConfigApplication(KRApplicationConfig* config) override;
  STDMETHODIMP SetDestinationWindow(HWND owner, RECT* rect, LONG a, LONG b) override;
  STDMETHODIMP GetDestinationWindow(KRDestinationWindow* destination) override;
  STDMETHODIMP SetEventWindow(HWND window, LONG message) override;
  STDMETHODIMP GetEventWindow(KREventWindow* event) override;
  // Through the properties-file object (none: KRM_E_INTERFACE_NOT_FOUND).
  STDMETHODIMP SaveProfile(LPCWSTR fileName) override;
  STDMETHODIMP LoadProfile(LPCWSTR fileName) override;
  STDMETHODIMP SaveSession(LPCWSTR fileName) override;
  STDMETHODIMP LoadSession(LPCWSTR fileName) override;
  STDMETHODIMP ResetToDefaults() override;
  STDMETHODIMP SetVersionInfo(DWORD* version) override;

  IKRPropertiesFile* PropertiesFile() const { return propertiesFile_; }
  const DWORD* Version() const { return version_; }

 private:
  IKRPropertiesFile* propertiesFile_ = nullptr;
  volatile LONG refs_ = 0;
  COKRMediaConfig* owner_;
  IUnknown* controlling_;
  KRSettingsRecords records_{};
  KRDestinationWindow destination_{};
  HWND eventWindow_ = nullptr;
  LONG eventMessage_ = 0;
  DWORD version_[3] = {};
};

class COKRMediaConfig : public IUnknown {
 public:
  // Under the given controlling unknown (none: itself); count 0.
  explicit COKRMediaConfig(IUnknown* outer);
  virtual ~COKRMediaConfig() = default;

  // The non-delegating unknown.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

 private:
  CImpIKRMediaConfig impl_;
  volatile LONG refs_ = 0;
  IUnknown* controlling_;
};

}  // namespace mediaengine
