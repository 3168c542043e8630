// The stream multiplexer: "Video in" (our encoder's MP4V) and "Audio in"
// (encoded-audio packets) forwarded one by one to "Output", each tagged with
// its kind, times and flags (mux_format.h).
#pragma once

#include "dshow/base.h"
#include "streammux/mux_format.h"

class CKRStreamMux : public CBaseFilter {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CKRStreamMux() override;
  int GetPinCount() override { return 3; }
  CBasePin* GetPin(int n) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;

 private:
  class InputPin;
  class OutputPin;
  friend class InputPin;
  friend class OutputPin;
  CKRStreamMux(LPUNKNOWN outer, HRESULT* hr);
  HRESULT Forward(uint8_t kind, IMediaSample* sample);
  HRESULT InputEnded(uint8_t kind);
  long OutputBufferSize();

  CCritSec m_csFilter;
  CCritSec m_csDeliver;  // one delivery at a time from the two upstream threads
  InputPin* m_pVideo = nullptr;
  InputPin* m_pAudio = nullptr;
  OutputPin* m_pOutput = nullptr;
  bool m_videoEnded = false, m_audioEnded = false, m_eosSent = false;
  long m_videoCount = 0, m_audioCount = 0;
};
