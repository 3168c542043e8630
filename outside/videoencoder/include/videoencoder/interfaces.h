// The video encoder filter's identities and interfaces, as the media engine
// calls them. Methods are numbered after the three of IUnknown; the slots
// the engine does not call answer E_NOTIMPL.
#pragma once

#include <windows.h>
#include <objbase.h>

// {DE38EF42-E6A4-11D4-87E3-0050DA816754}
static const GUID CLSID_KRVideoEncoder = {0xDE38EF42, 0xE6A4, 0x11D4, {0x87, 0xE3, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
// {533F6A31-021C-11D5-87F9-0050DA816754}
static const GUID IID_IVidEncCfg = {0x533F6A31, 0x021C, 0x11D5, {0x87, 0xF9, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
// {89558690-0F73-11D5-8806-0050DA816754}
static const GUID IID_IVidEncTool = {0x89558690, 0x0F73, 0x11D5, {0x88, 0x06, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
// {EB4B9E91-0481-11D5-87FC-0050DA816754}
static const GUID IID_IVidEncStats = {0xEB4B9E91, 0x0481, 0x11D5, {0x87, 0xFC, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};
// The output's subtype: FOURCC "MP4V" in the FOURCC GUID form.
static const GUID MEDIASUBTYPE_KRMP4V = {0x5634504D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
// Planar 4:2:0 input: FOURCC "I420" and its twin "IYUV".
static const GUID MEDIASUBTYPE_KRI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
static const GUID MEDIASUBTYPE_KRIYUV = {0x56555949, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// The one layer this encoder codes; a second is refused with this code.
constexpr HRESULT VIDENC_E_ONE_LAYER = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0201);
// A decoder configuration buffer smaller than the configuration.
constexpr HRESULT VIDENC_E_BUFFER_TOO_SMALL = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0202);

// Values of IVidEncCfg::SetRateMode: 3 lets the rate vary over seconds
// (download-only output) instead of half a second.
constexpr long VIDENC_RATE_STREAMING = 0;
constexpr long VIDENC_RATE_DOWNLOAD = 3;
// Input picture layouts of IVidEncTool::EncodeStill.
constexpr long VIDENC_STILL_I420 = 1;
constexpr long VIDENC_STILL_BGR24 = 2;  // bottom-up rows of width x 3 bytes

#define VIDENC_RESERVED(n) virtual HRESULT STDMETHODCALLTYPE Reserved##n() = 0

struct IVidEncCfg : public IUnknown {
  // 1: drops the encoder's state and any still picture; gives the encoder's version.
  virtual HRESULT STDMETHODCALLTYPE ResetEncoder(long* versionMajor, long* versionMinor) = 0;
  VIDENC_RESERVED(2);
  VIDENC_RESERVED(3);
  // 4: the encoding size; rounded to what the encoder codes and written back.
  virtual HRESULT STDMETHODCALLTYPE SetFrameSize(long* width, long* height) = 0;
  // 5: the encoding size in use.
  virtual HRESULT STDMETHODCALLTYPE GetFrameSize(long* width, long* height) = 0;
  // 6: the source's pictures per second (kept within 1..60, written back).
  virtual HRESULT STDMETHODCALLTYPE SetSourceFrameRate(float* rate) = 0;
  VIDENC_RESERVED(7);
  // 8: a layer's pictures per second; pictures above it are dropped.
  virtual HRESULT STDMETHODCALLTYPE SetLayerFrameRate(long layer, float* rate) = 0;
  VIDENC_RESERVED(9);
  // 10: a layer's bit rate (bit/s).
  virtual HRESULT STDMETHODCALLTYPE SetLayerBitRate(long layer, long* bitRate) = 0;
  VIDENC_RESERVED(11);
  // 12: the layer count; more than one is refused (VIDENC_E_ONE_LAYER) and 1 written back.
  virtual HRESULT STDMETHODCALLTYPE SetLayerCount(long* count) = 0;
  VIDENC_RESERVED(13);
  // 14: pictures from one intra picture to the next; -1 the first only.
  virtual HRESULT STDMETHODCALLTYPE SetIFrameInterval(long* interval) = 0;
  VIDENC_RESERVED(15);
  // 16: VIDENC_RATE_STREAMING or VIDENC_RATE_DOWNLOAD.
  virtual HRESULT STDMETHODCALLTYPE SetRateMode(long mode) = 0;
  VIDENC_RESERVED(17);
  // 18: the packet mode of download-only output; kept and logged (every
  // picture is one packet here whatever it says).
  virtual HRESULT STDMETHODCALLTYPE SetPacketMode(long mode) = 0;
  VIDENC_RESERVED(19);
  VIDENC_RESERVED(20);
  VIDENC_RESERVED(21);
  VIDENC_RESERVED(22);
  VIDENC_RESERVED(23);
  VIDENC_RESERVED(24);
  VIDENC_RESERVED(25);
  VIDENC_RESERVED(26);
  VIDENC_RESERVED(27);
  // 28: nonzero searches every position of the range.
  virtual HRESULT STDMETHODCALLTYPE SetFullSearch(long on) = 0;
  VIDENC_RESERVED(29);
  VIDENC_RESERVED(30);
  VIDENC_RESERVED(31);
  VIDENC_RESERVED(32);
  VIDENC_RESERVED(33);
  // 34: the decode buffer a player needs, in bytes.
  virtual HRESULT STDMETHODCALLTYPE GetDecodeBufferSize(long* bytes) = 0;
  // 35: a layer's decoder configuration (at most 50 bytes); size in: the
  // buffer's, out: the length written.
  virtual HRESULT STDMETHODCALLTYPE GetDecoderConfig(long layer, BYTE* buffer, long* size) = 0;
};

struct IVidEncTool : public IUnknown {
  // 1: codes one intra picture of the encoding size from picture (layout by
  // mode). frame and recon point at the encoder's copies (the coded picture
  // and its YUV 4:2:0 reconstruction at the encoding size), valid until the
  // next call or ResetEncoder; config receives the decoder configuration
  // (size in: the buffer's, out: the length).
  virtual HRESULT STDMETHODCALLTYPE EncodeStill(long mode, const BYTE* picture, BYTE** frame, long* frameLength,
                                                BYTE** recon, BYTE* config, long* configSize) = 0;
};

struct IVidEncStats : public IUnknown {
  // 1: pictures coded since the run began.
  virtual HRESULT STDMETHODCALLTYPE GetFrameCount(ULONG* count) = 0;
  // 2: the bit rate reached over the last second and the target (bit/s).
  virtual HRESULT STDMETHODCALLTYPE GetBitRates(long* actual, long* target) = 0;
  // 3: the quantiser of the last picture of a layer (-1: any).
  virtual HRESULT STDMETHODCALLTYPE GetQuantiser(long layer, long* quantiser) = 0;
  VIDENC_RESERVED(4);
  // 5: running counters of a layer (-1: all): kilobytes coded, and intra
  // pictures coded modulo 1024.
  virtual HRESULT STDMETHODCALLTYPE GetCounters(long layer, ULONG* kilobytes, ULONG* intraModulo1024) = 0;
  VIDENC_RESERVED(6);
  VIDENC_RESERVED(7);
  // 8: source pictures dropped to keep the layer's frame rate.
  virtual HRESULT STDMETHODCALLTYPE GetDroppedFrames(ULONG* count) = 0;
};

#undef VIDENC_RESERVED
