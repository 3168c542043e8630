// Test doubles of the engine's tests: a streamer that records its control
// calls, an audio encoder filter that records its configuration, and a class
// registration of the process that the engine's creation by class id finds
// before the registry's.
#pragma once

#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <functional>
#include <string>
#include <vector>

#include "audioencfilter/iaudenc.h"
#include "dshow/base.h"

// {5C1A0D11-2F6B-4E39-9A57-6B1D0C6E1A01}
inline const GUID CLSID_StreamerDouble = {0x5C1A0D11, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};

class StreamerDouble : public CBaseFilter, public IKRStreamerControl {
 public:
  StreamerDouble() : CBaseFilter("streamer double", nullptr, &lock_, CLSID_StreamerDouble) {}
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID iid, void** out) override;
  int GetPinCount() override { return 0; }
  CBasePin* GetPin(int) override { return nullptr; }
  STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
  // Every call in order: the parameter id (0 open, 1000 apply) and its value;
  // texts and blocks are copied as the streamer would.
  struct Call {
    ULONG id;
    LONG_PTR value;
    ULONG size;
    std::u16string text;
    std::vector<BYTE> block;
  };
  STDMETHODIMP SetParam(ULONG id, LONG_PTR value, ULONG size) override;
  STDMETHODIMP OpenBatch() override;
  STDMETHODIMP ApplyBatch() override;
  STDMETHODIMP SetPauseState(long keep) override {
    pauseStates.push_back(keep);
    return S_OK;
  }
  STDMETHODIMP Grant(ULONG, BYTE) override { return S_OK; }
  const Call* Find(ULONG id) const;
  std::vector<ULONG> Ids() const;

  std::vector<Call> calls;
  std::vector<long> pauseStates;
  // The decoder configuration record of parameter 40, copied at the call.
  std::vector<std::vector<BYTE>> layerConfigs;

 private:
  CCritSec lock_;
};

// An audio encoder filter without pins: records the Set calls, answers AAC
// with a fixed configuration and the rates it chooses.
class AudioEncoderDouble : public CBaseFilter, public IAudEncCfg {
 public:
  AudioEncoderDouble();
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID iid, void** out) override;
  int GetPinCount() override { return 0; }
  CBasePin* GetPin(int) override { return nullptr; }
  STDMETHODIMP Reset() override;
  STDMETHODIMP SetAMR(short index, BOOL enable, short streamId, int, int bitrate) override;
  STDMETHODIMP GetAMR(short, BOOL*, short*, int*, int*) override { return E_NOTIMPL; }
  STDMETHODIMP SetEVRC(short index, BOOL enable, short streamId, int, int bitrate) override;
  STDMETHODIMP GetEVRC(short, BOOL*, short*, int*, int*) override { return E_NOTIMPL; }
  STDMETHODIMP SetAAC(short index, BOOL enable, short streamId, int* sampleRate, int* bitrate,
                      short* channels) override;
  STDMETHODIMP Unused() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved(int, void*) override { return E_NOTIMPL; }
  STDMETHODIMP GetAACConfig(short index, BYTE* buffer, int* length) override;

  // "reset", "AMR id 0 12200", "EVRC id 1", "AAC id 0 16000" ...
  std::vector<std::string> calls;
  HRESULT aacAnswer = S_OK;
  static const BYTE kAacConfig[2];

 private:
  CCritSec lock_;
};

// While it lives, the process creates the class through `make` (which
// answers an object with one reference, or a failure).
class ClassOverride {
 public:
  using Maker = std::function<HRESULT(IUnknown** object)>;
  ClassOverride(REFCLSID clsid, Maker make);
  ~ClassOverride();
  ClassOverride(const ClassOverride&) = delete;
  ClassOverride& operator=(const ClassOverride&) = delete;
  HRESULT Result() const { return result_; }

 private:
  class Factory;
  Factory* factory_;
  DWORD cookie_ = 0;
  HRESULT result_;
};

// A CBaseFilter made with one reference, as a Maker hands it out.
template <class Filter>
HRESULT MakeFilter(Filter** keep, IUnknown** object) {
  Filter* f = new Filter();
  f->NonDelegatingAddRef();
  if (keep) {
    f->NonDelegatingAddRef();
    *keep = f;
  }
  *object = static_cast<IBaseFilter*>(f);
  return S_OK;
}
