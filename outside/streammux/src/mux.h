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
  HRESULT DeliverSample(uint8_t kind, IMediaSample* sample, REFERENCE_TIME start, REFERENCE_TIME stop, bool timed);
  HRESULT InputEnded(uint8_t kind);
  long OutputBufferSize();

  // Holds a sample until the other input shows a later one (or has ended,
  // or stalls for a second), so that the output runs in time order.
  void WaitForTurn(int kind, uint32_t startMs);
  void Done(int kind);

  CCritSec m_csFilter;
  CCritSec m_csDeliver;  // one delivery at a time from the two upstream threads
  CRITICAL_SECTION m_csOrder;
  CONDITION_VARIABLE m_turn;
  bool m_pending[2] = {}, m_ended[2] = {};
  uint32_t m_pendingMs[2] = {};
  bool m_stopping = false;
  InputPin* m_pVideo = nullptr;
  InputPin* m_pAudio = nullptr;
  OutputPin* m_pOutput = nullptr;
  bool m_eosSent = false;
  long m_videoCount = 0, m_audioCount = 0;
};
