#include "doubles.h"

#include <cstdio>

STDMETHODIMP StreamerDouble::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IKRStreamerControl)) {
    *out = static_cast<IKRStreamerControl*>(this);
    AddRef();
    return S_OK;
  }
  return CBaseFilter::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP StreamerDouble::SetParam(ULONG id, LONG_PTR value, ULONG size) {
  Call call{id, value, size, {}, {}};
  if (size && value) {
    const BYTE* p = reinterpret_cast<const BYTE*>(value);
    call.block.assign(p, p + size);
    call.text.assign(reinterpret_cast<const char16_t*>(p), size / 2);
  }
  if (id == 40 && value) {
    const auto* record = reinterpret_cast<const KRDecoderConfigRecord*>(value);
    layerConfigs.clear();
    for (ULONG layer = 0; layer < record->layerCount && layer < 2; ++layer)
      layerConfigs.emplace_back(record->data[layer], record->data[layer] + record->size[layer]);
  }
  calls.push_back(call);
  return S_OK;
}

STDMETHODIMP StreamerDouble::OpenBatch() {
  calls.push_back({0, 0, 0, {}, {}});
  return S_OK;
}

STDMETHODIMP StreamerDouble::ApplyBatch() {
  calls.push_back({1000, 0, 0, {}, {}});
  return S_OK;
}

const StreamerDouble::Call* StreamerDouble::Find(ULONG id) const {
  for (const Call& c : calls)
    if (c.id == id) return &c;
  return nullptr;
}

std::vector<ULONG> StreamerDouble::Ids() const {
  std::vector<ULONG> ids;
  for (const Call& c : calls) ids.push_back(c.id);
  return ids;
}

// ---- audio encoder double ----

const BYTE AudioEncoderDouble::kAacConfig[2] = {0x14, 0x10};

AudioEncoderDouble::AudioEncoderDouble() : CBaseFilter("audio encoder double", nullptr, &lock_, CLSID_KRAudEncFlt) {}

STDMETHODIMP AudioEncoderDouble::NonDelegatingQueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IAudEncCfg)) {
    *out = static_cast<IAudEncCfg*>(this);
    AddRef();
    return S_OK;
  }
  return CBaseFilter::NonDelegatingQueryInterface(iid, out);
}

STDMETHODIMP AudioEncoderDouble::Reset() {
  calls.push_back("reset");
  return S_OK;
}

STDMETHODIMP AudioEncoderDouble::SetAMR(short, BOOL, short streamId, int, int bitrate) {
  calls.push_back("AMR id " + std::to_string(streamId) + " " + std::to_string(bitrate));
  return S_OK;
}

STDMETHODIMP AudioEncoderDouble::SetEVRC(short, BOOL, short streamId, int, int bitrate) {
  calls.push_back("EVRC id " + std::to_string(streamId) + " " + std::to_string(bitrate));
  return S_OK;
}

STDMETHODIMP AudioEncoderDouble::SetAAC(short, BOOL, short streamId, int* sampleRate, int* bitrate, short* channels) {
  calls.push_back("AAC id " + std::to_string(streamId) + " " + std::to_string(*bitrate));
  if (FAILED(aacAnswer)) return aacAnswer;
  // As the filter does at 24000 bit/s: mono at its own rate.
  *sampleRate = 16000;
  *channels = 1;
  return S_OK;
}

STDMETHODIMP AudioEncoderDouble::GetAACConfig(short index, BYTE* buffer, int* length) {
  if (!buffer || !length || index != 0) return E_INVALIDARG;
  *length = sizeof kAacConfig;
  memcpy(buffer, kAacConfig, sizeof kAacConfig);
  return S_OK;
}

// ---- class override ----

class ClassOverride::Factory : public IClassFactory {
 public:
  explicit Factory(Maker make) : make_(std::move(make)) {}
  virtual ~Factory() = default;
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() override {
    LONG left = InterlockedDecrement(&refs_);
    if (left == 0) delete this;
    return ULONG(left);
  }
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    IUnknown* object = nullptr;
    HRESULT hr = make_(&object);
    if (FAILED(hr)) return hr;
    hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }
  STDMETHODIMP LockServer(BOOL) override { return S_OK; }

 private:
  Maker make_;
  volatile LONG refs_ = 1;
};

ClassOverride::ClassOverride(REFCLSID clsid, Maker make) : factory_(new Factory(std::move(make))) {
  result_ = CoRegisterClassObject(clsid, factory_, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie_);
}

ClassOverride::~ClassOverride() {
  if (SUCCEEDED(result_)) CoRevokeClassObject(cookie_);
  factory_->Release();
}
