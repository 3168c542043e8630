// The streamer filter: hosts Flumera.dll through its exports. The engine's
// parameters fill the server's records; ApplyBatch primes it, Run plays,
// Stop stops (or pauses when the clients are to be kept); every sample of
// "KRStreamer Input" becomes a media buffer of the server's heaps; the
// server's messages become graph events.
#pragma once

#include <memory>
#include <vector>

#include "flumera/kr_flumera.h"  // winsock2.h before the base classes' windows.h
#include "dshow/base.h"
#include "streammux/mux_format.h"
#include "session_builder.h"
#include "streamer/streamer.h"

class CKRStreamer : public CBaseFilter, public IKRStreamerControl, public IAMFilterMiscFlags {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CKRStreamer() override;
  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override;
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;

  // IKRStreamerControl
  STDMETHODIMP Reserved1() override { return E_NOTIMPL; }
  STDMETHODIMP SetParam(ULONG id, LONG_PTR value, ULONG size) override;
  STDMETHODIMP OpenBatch() override;
  STDMETHODIMP ApplyBatch() override;
  STDMETHODIMP SetPauseState(long keepClients) override;
  STDMETHODIMP Grant(ULONG clientId, BYTE grant) override;

  // IAMFilterMiscFlags: a renderer, so that the graph counts its EC_COMPLETE.
  STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

 private:
  class InputPin;
  friend class InputPin;
  CKRStreamer(LPUNKNOWN outer, HRESULT* hr);

  HRESULT Deliver(IMediaSample* sample);
  void EndOfStream();
  // Sends a request and waits (bounded) for its reply; the reply code, -1 without one.
  long Request(KRStreamMsgTypes type, void* data = nullptr);
  HRESULT Prime();
  void ReleaseServer();
  static DWORD WINAPI PumpProc(void* self);
  void Pump();
  void Handle(MsgItem* item);
  LONG_PTR KeepBlock(const void* data, size_t length);

  CCritSec m_csFilter;
  CCritSec m_csControl;  // parameters, the server's lifetime, requests
  InputPin* m_pInput = nullptr;
  SessionBuilder m_builder;
  bool m_batchOpen = false;
  long m_keepClients = 0;
  std::unique_ptr<SessionRecords> m_records;  // what the primed server uses
  KRFlumera* m_server = nullptr;
  MsgDataList m_replies;
  HANDLE m_replyEvent = nullptr;  // set by the server after queuing a reply
  HANDLE m_stopEvent = nullptr;
  HANDLE m_pump = nullptr;
  HANDLE m_answered = nullptr;  // a reply to a request came in
  volatile long m_replyType = 0, m_replyCode = -1;
  CCritSec m_csBlocks;
  std::vector<std::unique_ptr<unsigned char[]>> m_blocks;  // event blocks, kept while the filter lives
  long m_videoCount = 0, m_audioCount = 0, m_refused = 0;
};
