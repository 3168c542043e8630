// The custom source filter: a queue of the host's buffers that a thread of
// its own delivers on the pin "Out" while the filter streams.
#pragma once

#include <deque>
#include <vector>

#include "customsource/customsource.h"
#include "dshow/base.h"

class CKRCustomSource : public CBaseFilter, public IKRCustomSource {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CKRCustomSource() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;

  STDMETHODIMP SetOutputType(const BYTE* description, const AM_MEDIA_TYPE* type) override;
  STDMETHODIMP SetBuffer(LONG_PTR data, LONG length, LONG startMs, LONG stopMs) override;
  STDMETHODIMP SetPool(LONG count, LONG size) override;

 private:
  class Pin;
  friend class Pin;
  struct Buffer {
    std::vector<BYTE> bytes;
    REFERENCE_TIME start, stop;
    bool end;  // the end of the stream
  };
  CKRCustomSource(LPUNKNOWN outer, HRESULT* hr);
  static DWORD WINAPI ThreadProc(void* self);
  void Deliver();
  void StartThread();
  void StopThread();
  bool Configured() const { return poolCount_ > 0 && typeSet_; }

  CCritSec lock_;       // the filter's state and its pin
  CCritSec queueLock_;  // the queue and the stream's end
  Pin* pin_ = nullptr;
  CMediaType type_;
  bool typeSet_ = false;
  BYTE description_[kCustomDescriptionBytes] = {};
  LONG poolCount_ = 0, poolSize_ = 0;
  std::deque<Buffer> queue_;  // the front one stays until it is delivered
  bool endQueued_ = false;
  HRESULT downstream_ = S_OK;  // the first delivery downstream refused
  long delivered_ = 0;
  HANDLE thread_ = nullptr;
  HANDLE wake_ = nullptr;  // a buffer was queued
  HANDLE stop_ = nullptr;
};
