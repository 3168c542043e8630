#include "mediaengine/config.h"

#include <string>

#include "mediaengine/errors.h"
#include "mediaengine/profile.h"

namespace mediaengine {

namespace {

// The properties-file object as the profile code's store.
class PropertiesFileStore : public PropertyStore {
 public:
  explicit PropertiesFileStore(IKRPropertiesFile* file) : file_(file) {}
  int32_t Put(const std::u16string& key, const std::u16string& value) override {
    return file_->Put(W(key), W(value));
  }
  int32_t Get(const std::u16string& key, std::u16string* value) override {
    wchar_t buffer[kPropertyValueChars] = {};
    const HRESULT hr = file_->Get(W(key), buffer);
    buffer[kPropertyValueChars - 1] = 0;
    if (SUCCEEDED(hr)) value->assign(reinterpret_cast<const char16_t*>(buffer));
    return hr;
  }
  int32_t Save(const std::u16string& fileName) override { return file_->Save(W(fileName), 1); }
  int32_t Load(const std::u16string& fileName) override { return file_->Load(W(fileName)); }
  int32_t Close() override { return file_->Close(); }

 private:
  static LPCWSTR W(const std::u16string& s) { return reinterpret_cast<LPCWSTR>(s.c_str()); }
  IKRPropertiesFile* file_;
};

bool CanOpenForReading(const std::u16string& name) {
  HANDLE f = CreateFileW(reinterpret_cast<LPCWSTR>(name.c_str()), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  CloseHandle(f);
  return true;
}

// The file name as the caller gave it, no more than a record text holds.
bool TakeName(LPCWSTR fileName, std::u16string* name) {
  if (!fileName) return false;
  const size_t n = wcsnlen(fileName, MAX_PATH + 1);
  if (n > MAX_PATH) return false;
  name->assign(reinterpret_cast<const char16_t*>(fileName), n);
  return true;
}

}  // namespace

// ---- CImpIKRMediaConfig -------------------------------------------------------

CImpIKRMediaConfig::CImpIKRMediaConfig(COKRMediaConfig* owner, IUnknown* controlling)
    : owner_(owner), controlling_(controlling) {
  mediaengine::ResetToDefaults(records_);
  // Without the properties-file object only sessions and profiles are lost;
  // the settings still work, so its absence is not an error here.
  CLSID clsid;
  if (SUCCEEDED(CLSIDFromProgID(kPropertiesFileProgId, &clsid)) &&
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKRPropertiesFile,
                              reinterpret_cast<void**>(&propertiesFile_))))
    propertiesFile_ = nullptr;
}

CImpIKRMediaConfig::~CImpIKRMediaConfig() {
  if (propertiesFile_) propertiesFile_->Release();
}

STDMETHODIMP CImpIKRMediaConfig::QueryInterface(REFIID iid, void** out) {
  return controlling_->QueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) CImpIKRMediaConfig::AddRef() {
  InterlockedIncrement(&refs_);
  return controlling_->AddRef();
}

STDMETHODIMP_(ULONG) CImpIKRMediaConfig::Release() {
  InterlockedDecrement(&refs_);
  return controlling_->Release();
}

STDMETHODIMP CImpIKRMediaConfig::ConfigVideoEncoder(KRVideoEncoderConfig* config) {
  if (!config) return KRM_E_BAD_PARAMETER;
  return TakeVideoEncoderConfig(records_.video, *config);
}

STDMETHODIMP CImpIKRMediaConfig::GetConfigVideoEncoder(KRVideoEncoderConfig* config) {
  if (!config) return E_INVALIDARG;
  *config = records_.video;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::ConfigAudioEncoder(KRAudioEncoderConfig* config) {
  if (!config) return E_INVALIDARG;
  TakeAudioEncoderConfig(records_.audio, *config);
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::GetConfigAudioEncoder(KRAudioEncoderConfig* config) {
  if (!config) return E_INVALIDARG;
  *config = records_.audio;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::ConfigOutput(KROutputConfig* config) {
  if (!config) return E_INVALIDARG;
  TakeOutputConfig(records_.output, *config);
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::GetConfigOutput(KROutputConfig* config) {
  if (!config) return E_INVALIDARG;
  *config = records_.output;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::ConfigApplication(KRApplicationConfig* config) {
  if (!config) return KRM_E_BAD_PARAMETER;
  TakeApplicationConfig(records_.application, *config);
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::GetConfigApplication(KRApplicationConfig* config) {
  if (!config) return E_INVALIDARG;
  *config = records_.application;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::SetDestinationWindow(HWND owner, RECT* rect, LONG a, LONG b) {
  if (!owner || !rect) return E_INVALIDARG;
  destination_.window = owner;
  destination_.rect = *rect;
  destination_.b = b;
  destination_.a = a;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::GetDestinationWindow(KRDestinationWindow* destination) {
  if (!destination) return E_INVALIDARG;
  *destination = destination_;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::SetEventWindow(HWND window, LONG message) {
  if (!window) return E_INVALIDARG;
  eventWindow_ = window;
  eventMessage_ = message;
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::GetEventWindow(KREventWindow* event) {
  if (!event) return E_INVALIDARG;
  event->window = eventWindow_;
  event->message = eventMessage_;
  return S_OK;
}

// ---- sessions and profiles ------------------------------------------------------

STDMETHODIMP CImpIKRMediaConfig::SaveProfile(LPCWSTR fileName) {
  std::u16string name;
  if (!TakeName(fileName, &name)) return KRM_E_INVALID_FILE_NAME;
  if (!propertiesFile_) return KRM_E_INTERFACE_NOT_FOUND;
  PropertiesFileStore store(propertiesFile_);
  const uint32_t version[3] = {version_[0], version_[1], version_[2]};
  return mediaengine::SaveProfile(store, records_, version, name);
}

STDMETHODIMP CImpIKRMediaConfig::LoadProfile(LPCWSTR fileName) {
  std::u16string name;
  if (!TakeName(fileName, &name)) return KRM_E_INVALID_FILE_NAME;
  if (!propertiesFile_) return KRM_E_INTERFACE_NOT_FOUND;
  PropertiesFileStore store(propertiesFile_);
  return mediaengine::LoadProfile(store, records_, name);
}

STDMETHODIMP CImpIKRMediaConfig::SaveSession(LPCWSTR fileName) {
  std::u16string name;
  if (!TakeName(fileName, &name)) return KRM_E_INVALID_FILE_NAME;
  if (!propertiesFile_) return KRM_E_INTERFACE_NOT_FOUND;
  PropertiesFileStore store(propertiesFile_);
  const uint32_t version[3] = {version_[0], version_[1], version_[2]};
  return mediaengine::SaveSession(store, records_, version, name);
}

STDMETHODIMP CImpIKRMediaConfig::LoadSession(LPCWSTR fileName) {
  std::u16string name;
  if (!TakeName(fileName, &name)) return KRM_E_INVALID_FILE_NAME;
  if (!propertiesFile_) return KRM_E_INTERFACE_NOT_FOUND;
  PropertiesFileStore store(propertiesFile_);
  return mediaengine::LoadSession(store, records_, name, CanOpenForReading);
}

STDMETHODIMP CImpIKRMediaConfig::ResetToDefaults() {
  mediaengine::ResetToDefaults(records_);
  return S_OK;
}

STDMETHODIMP CImpIKRMediaConfig::SetVersionInfo(DWORD* version) {
  if (!version) return E_INVALIDARG;
  for (int i = 0; i < 3; ++i) version_[i] = version[i];
  return S_OK;
}

// ---- COKRMediaConfig ----------------------------------------------------------

COKRMediaConfig::COKRMediaConfig(IUnknown* outer) : impl_(this, outer ? outer : this), controlling_(outer ? outer : this) {}

STDMETHODIMP COKRMediaConfig::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  if (IsEqualIID(iid, IID_IKRMediaConfig)) {
    *out = static_cast<IKRMediaConfig*>(&impl_);
    impl_.AddRef();
    return S_OK;
  }
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) COKRMediaConfig::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) COKRMediaConfig::Release() {
  LONG left = InterlockedDecrement(&refs_);
  if (left == 0) {
    refs_ = 1;
    delete this;
  }
  return static_cast<ULONG>(left);
}

}  // namespace mediaengine
