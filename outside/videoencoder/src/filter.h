// The video encoder filter: input pictures (RGB24 or I420, scaled to the
// encoding size) coded by our MPEG-4 encoder, one VOP per output sample, and
// the reconstruction as RGB24 on the "Video preview" pin.
#pragma once

#include <vector>

#include "dshow/base.h"
#include <amvideo.h>
#include "videoenc/venc.h"
#include "videoencoder/interfaces.h"

class CVidEncFilter : public CTransformFilter, public IVidEncCfg, public IVidEncTool, public IVidEncStats {
 public:
  static CUnknown* WINAPI CreateInstance(LPUNKNOWN outer, HRESULT* hr);
  ~CVidEncFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  int GetPinCount() override { return 3; }
  CBasePin* GetPin(int n) override;
  STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override;
  STDMETHODIMP Stop() override;

  HRESULT CheckInputType(const CMediaType* in) override;
  HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
  HRESULT GetMediaType(int position, CMediaType* mt) override;
  HRESULT SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) override;
  HRESULT StartStreaming() override;
  HRESULT StopStreaming() override;
  HRESULT Receive(IMediaSample* sample) override;
  HRESULT EndOfStream() override;

  // IVidEncCfg
  STDMETHODIMP ResetEncoder(long* versionMajor, long* versionMinor) override;
  STDMETHODIMP Reserved2() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved3() override { return E_NOTIMPL; }
  STDMETHODIMP SetFrameSize(long* width, long* height) override;
  STDMETHODIMP GetFrameSize(long* width, long* height) override;
  STDMETHODIMP SetSourceFrameRate(float* rate) override;
  STDMETHODIMP Reserved7() override { return E_NOTIMPL; }
  STDMETHODIMP SetLayerFrameRate(long layer, float* rate) override;
  STDMETHODIMP Reserved9() override { return E_NOTIMPL; }
  STDMETHODIMP SetLayerBitRate(long layer, long* bitRate) override;
  STDMETHODIMP Reserved11() override { return E_NOTIMPL; }
  STDMETHODIMP SetLayerCount(long* count) override;
  STDMETHODIMP Reserved13() override { return E_NOTIMPL; }
  STDMETHODIMP SetIFrameInterval(long* interval) override;
  STDMETHODIMP Reserved15() override { return E_NOTIMPL; }
  STDMETHODIMP SetRateMode(long mode) override;
  STDMETHODIMP Reserved17() override { return E_NOTIMPL; }
  STDMETHODIMP SetPacketMode(long mode) override;
  STDMETHODIMP Reserved19() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved20() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved21() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved22() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved23() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved24() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved25() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved26() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved27() override { return E_NOTIMPL; }
  STDMETHODIMP SetFullSearch(long on) override;
  STDMETHODIMP Reserved29() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved30() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved31() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved32() override { return E_NOTIMPL; }
  STDMETHODIMP Reserved33() override { return E_NOTIMPL; }
  STDMETHODIMP GetDecodeBufferSize(long* bytes) override;
  STDMETHODIMP GetDecoderConfig(long layer, BYTE* buffer, long* size) override;

  // IVidEncTool
  STDMETHODIMP EncodeStill(long mode, const BYTE* picture, BYTE** frame, long* frameLength, BYTE** recon,
                           BYTE* config, long* configSize) override;

  // IVidEncStats
  STDMETHODIMP GetFrameCount(ULONG* count) override;
  STDMETHODIMP GetBitRates(long* actual, long* target) override;
  STDMETHODIMP GetQuantiser(long layer, long* quantiser) override;
  STDMETHODIMP Reserved4() override { return E_NOTIMPL; }
  STDMETHODIMP GetCounters(long layer, ULONG* kilobytes, ULONG* intraModulo1024) override;
  STDMETHODIMP Reserved6() override { return E_NOTIMPL; }
  STDMETHODIMP GetDroppedFrames(ULONG* count) override;

 private:
  class PreviewPin;
  CVidEncFilter(LPUNKNOWN outer, HRESULT* hr);
  VencSettings Settings() const;  // under m_csSettings
  int ConfigBytes(BYTE* out, int cap);
  bool PreviewConnected() const;
  void DeliverPreview(REFERENCE_TIME start, REFERENCE_TIME stop);

  CCritSec m_csSettings;  // settings and statistics: the engine reads them from its own thread
  PreviewPin* m_pPreview = nullptr;
  long m_width = 176, m_height = 144;
  float m_sourceRate = 15, m_layerRate = 15;
  long m_bitRate = 64000;
  long m_interval = -1;
  long m_fullSearch = 0;
  long m_rateMode = VIDENC_RATE_STREAMING;
  long m_packetMode = 0;

  // Input format (from the connection).
  bool m_inputRgb = false;
  long m_inWidth = 0, m_inHeight = 0;

  // Streaming state.
  VideoEncoder m_enc{};
  std::vector<BYTE> m_yuvIn, m_yuvScaled, m_out;
  bool m_haveDue = false;
  REFERENCE_TIME m_due = 0;

  // Statistics.
  ULONG m_frames = 0, m_intra = 0, m_dropped = 0;
  ULONGLONG m_bytes = 0;
  long m_lastQp = 0;
  REFERENCE_TIME m_firstTime = 0, m_lastTime = 0;

  // The still picture of EncodeStill.
  std::vector<BYTE> m_stillFrame, m_stillRecon;
};
