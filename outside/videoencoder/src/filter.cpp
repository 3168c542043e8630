#include "filter.h"

#include <amvideo.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "dshow/helpers.h"
#include "dshow/log.h"
#include "videoenc/convert.h"

namespace {

constexpr const char* kLog = "video encoder";
constexpr long kVersionMajor = 1, kVersionMinor = 0;
constexpr DWORD kFourccMp4v = MAKEFOURCC('M', 'P', '4', 'V');

long rgbStride(long width) { return (width * 3 + 3) & ~3L; }

// The encoder codes even sizes from 16 up; the engine's sizes go to 1280 x 1024.
void roundSize(long* w, long* h) {
  *w = std::clamp(*w & ~1L, long(VENC_MIN_SIZE), 1280L);
  *h = std::clamp(*h & ~1L, long(VENC_MIN_SIZE), 1024L);
}

bool isI420(const GUID& g) { return IsEqualGUID(g, MEDIASUBTYPE_KRI420) || IsEqualGUID(g, MEDIASUBTYPE_KRIYUV); }

int32_t maxFrameBytes(long w, long h) {
  // As the encoder sizes its worst case.
  return int32_t(((w + 15) / 16) * ((h + 15) / 16) * 1500 + 64);
}

}  // namespace

// ---- preview pin ----

class CVidEncFilter::PreviewPin : public CBaseOutputPin {
 public:
  PreviewPin(CVidEncFilter* f, HRESULT* hr)
      : CBaseOutputPin("video preview pin", f, &f->m_csFilter, hr, L"Video preview"), owner_(f) {}
  HRESULT CheckMediaType(const CMediaType* mt) override {
    CMediaType mine;
    GetMediaType(0, &mine);
    const VIDEOINFOHEADER* a = VideoInfoOf(mt);
    const VIDEOINFOHEADER* b = VideoInfoOf(&mine);
    if (!a || !b || !IsEqualGUID(*mt->Type(), MEDIATYPE_Video) || !IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_RGB24))
      return VFW_E_TYPE_NOT_ACCEPTED;
    return a->bmiHeader.biWidth == b->bmiHeader.biWidth && a->bmiHeader.biHeight == b->bmiHeader.biHeight
               ? S_OK
               : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT GetMediaType(int position, CMediaType* mt) override {
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    long w, h;
    owner_->GetFrameSize(&w, &h);
    VIDEOINFOHEADER vih = {};
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = w;
    vih.bmiHeader.biHeight = h;  // bottom-up, as a DIB
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = BI_RGB;
    vih.bmiHeader.biSizeImage = DWORD(rgbStride(w) * h);
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&MEDIASUBTYPE_RGB24);
    mt->SetFormatType(&FORMAT_VideoInfo);
    mt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof vih);
    mt->SetSampleSize(vih.bmiHeader.biSizeImage);
    return S_OK;
  }
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override {
    long w, h;
    owner_->GetFrameSize(&w, &h);
    return RequestBuffers(allocator, request, 2, rgbStride(w) * h);
  }

 private:
  CVidEncFilter* owner_;
};

// ---- filter ----

CUnknown* WINAPI CVidEncFilter::CreateInstance(LPUNKNOWN outer, HRESULT* hr) {
  auto* f = new (std::nothrow) CVidEncFilter(outer, hr);
  if (!f && hr) *hr = E_OUTOFMEMORY;
  return f;
}

CVidEncFilter::CVidEncFilter(LPUNKNOWN outer, HRESULT* hr)
    : CTransformFilter("video encoder", outer, CLSID_KRVideoEncoder) {
  HRESULT h = S_OK;
  m_pInput = new (std::nothrow) CTransformInputPin("video encoder input", this, &h, L"Video in");
  m_pOutput = new (std::nothrow) CTransformOutputPin("video encoder output", this, &h, L"Video out");
  m_pPreview = new (std::nothrow) PreviewPin(this, &h);
  if (!m_pInput || !m_pOutput || !m_pPreview) h = E_OUTOFMEMORY;
  if (hr) *hr = h;
  FilterLog(kLog, "created");
}

CVidEncFilter::~CVidEncFilter() {
  venc_destroy(&m_enc);
  delete m_pPreview;
  FilterLog(kLog, "destroyed after %lu pictures", m_frames);
}

STDMETHODIMP CVidEncFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  if (IsEqualIID(riid, IID_IVidEncCfg)) return GetInterface(static_cast<IVidEncCfg*>(this), ppv);
  if (IsEqualIID(riid, IID_IVidEncTool)) return GetInterface(static_cast<IVidEncTool*>(this), ppv);
  if (IsEqualIID(riid, IID_IVidEncStats)) return GetInterface(static_cast<IVidEncStats*>(this), ppv);
  return CTransformFilter::NonDelegatingQueryInterface(riid, ppv);
}

CBasePin* CVidEncFilter::GetPin(int n) {
  if (n == 2) return m_pPreview;
  return CTransformFilter::GetPin(n);
}

STDMETHODIMP CVidEncFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  // The pins' names, beside the transform's own ids "In" and "Out".
  CBasePin* named = !lstrcmpW(id, L"Video preview") ? static_cast<CBasePin*>(m_pPreview)
                    : !lstrcmpW(id, L"Video in")    ? static_cast<CBasePin*>(m_pInput)
                    : !lstrcmpW(id, L"Video out")   ? static_cast<CBasePin*>(m_pOutput)
                                                    : nullptr;
  if (named) {
    *pin = named;
    named->AddRef();
    return S_OK;
  }
  return CTransformFilter::FindPin(id, pin);
}

STDMETHODIMP CVidEncFilter::Stop() {
  // Decommit the preview's allocator first, so that nothing waits on it.
  if (m_pPreview->IsConnected()) m_pPreview->Inactive();
  return CTransformFilter::Stop();
}

HRESULT CVidEncFilter::CheckInputType(const CMediaType* in) {
  const VIDEOINFOHEADER* vih = VideoInfoOf(in);
  if (!IsEqualGUID(*in->Type(), MEDIATYPE_Video) || !vih) return VFW_E_TYPE_NOT_ACCEPTED;
  if (!IsEqualGUID(*in->Subtype(), MEDIASUBTYPE_RGB24) && !isI420(*in->Subtype())) return VFW_E_TYPE_NOT_ACCEPTED;
  const long w = vih->bmiHeader.biWidth, h = vih->bmiHeader.biHeight;
  // I420 is top-down only; both need even sizes for 4:2:0.
  if (w < VENC_MIN_SIZE || w > 4096 || (w & 1)) return VFW_E_TYPE_NOT_ACCEPTED;
  const long ah = h < 0 ? -h : h;
  if (ah < VENC_MIN_SIZE || ah > 4096 || (ah & 1) || (h < 0 && isI420(*in->Subtype()))) return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CVidEncFilter::CheckTransform(const CMediaType* in, const CMediaType* out) {
  if (CheckInputType(in) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
  const VIDEOINFOHEADER* vih = VideoInfoOf(out);
  if (!vih || !IsEqualGUID(*out->Type(), MEDIATYPE_Video) || !IsEqualGUID(*out->Subtype(), MEDIASUBTYPE_KRMP4V))
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT CVidEncFilter::SetMediaType(PIN_DIRECTION dir, const CMediaType* mt) {
  if (dir != PINDIR_INPUT) return S_OK;
  const VIDEOINFOHEADER* vih = VideoInfoOf(mt);
  CAutoLock lock(&m_csSettings);
  m_inputRgb = IsEqualGUID(*mt->Subtype(), MEDIASUBTYPE_RGB24);
  m_inWidth = vih->bmiHeader.biWidth;
  m_inHeight = vih->bmiHeader.biHeight;
  FilterLog(kLog, "input %s %ldx%ld", m_inputRgb ? "RGB24" : "I420", m_inWidth, m_inHeight);
  return S_OK;
}

HRESULT CVidEncFilter::GetMediaType(int position, CMediaType* mt) {
  if (position < 0) return E_INVALIDARG;
  if (position > 0) return VFW_S_NO_MORE_ITEMS;
  if (!m_pInput->IsConnected()) return E_UNEXPECTED;
  long w, h;
  GetFrameSize(&w, &h);
  BYTE config[VENC_MAX_CONFIG];
  const int n = ConfigBytes(config, sizeof config);
  if (n <= 0) return E_FAIL;
  BYTE* fmt = mt->AllocFormatBuffer(ULONG(sizeof(VIDEOINFOHEADER) + n));
  if (!fmt) return E_OUTOFMEMORY;
  VIDEOINFOHEADER vih = {};
  {
    CAutoLock lock(&m_csSettings);
    vih.dwBitRate = DWORD(m_bitRate);
    vih.AvgTimePerFrame = REFERENCE_TIME(10000000.0 / m_layerRate);
  }
  vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  vih.bmiHeader.biWidth = w;
  vih.bmiHeader.biHeight = h;
  vih.bmiHeader.biPlanes = 1;
  vih.bmiHeader.biBitCount = 24;
  vih.bmiHeader.biCompression = kFourccMp4v;
  vih.bmiHeader.biSizeImage = DWORD(maxFrameBytes(w, h));
  // The decoder configuration follows the header.
  std::memcpy(fmt, &vih, sizeof vih);
  std::memcpy(fmt + sizeof vih, config, size_t(n));
  mt->SetType(&MEDIATYPE_Video);
  mt->SetSubtype(&MEDIASUBTYPE_KRMP4V);
  mt->SetFormatType(&FORMAT_VideoInfo);
  mt->SetVariableSize();
  mt->SetTemporalCompression(TRUE);
  return S_OK;
}

HRESULT CVidEncFilter::DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
  long w, h;
  GetFrameSize(&w, &h);
  return RequestBuffers(allocator, request, 4, long(maxFrameBytes(w, h)));
}

VencSettings CVidEncFilter::Settings() const {
  VencSettings s{};
  s.width = m_width;
  s.height = m_height;
  s.bitRate = m_bitRate;
  s.frameRate = m_layerRate;
  s.intraInterval = m_interval;
  s.quantiser = 10;
  s.searchRange = 15;
  s.fullSearch = m_fullSearch;
  // Download-only output may vary its rate over seconds.
  s.bufferMs = m_rateMode == VIDENC_RATE_DOWNLOAD ? 4000 : 500;
  return s;
}

int CVidEncFilter::ConfigBytes(BYTE* out, int cap) {
  VencSettings s;
  {
    CAutoLock lock(&m_csSettings);
    s = Settings();
  }
  VideoEncoder e{};
  if (!venc_create(&e, &s)) return 0;
  const int n = venc_config(&e, out, cap);
  venc_destroy(&e);
  return n;
}

HRESULT CVidEncFilter::StartStreaming() {
  CAutoLock lock(&m_csSettings);
  venc_destroy(&m_enc);
  VencSettings s = Settings();
  if (!venc_create(&m_enc, &s)) {
    FilterLog(kLog, "cannot start: encoder error %d", int(m_enc.error));
    return E_FAIL;
  }
  if (m_rateMode == VIDENC_RATE_DOWNLOAD) FilterLog(kLog, "download-only rate mode");
  m_yuvIn.assign(size_t(m_inWidth) * std::abs(m_inHeight) * 3 / 2, 0);
  m_yuvScaled.assign(size_t(m_width) * m_height * 3 / 2, 0);
  m_out.assign(size_t(venc_max_frame_bytes(&m_enc)), 0);
  m_haveDue = false;
  m_frames = m_intra = m_dropped = 0;
  m_bytes = 0;
  FilterLog(kLog, "start: %ldx%ld, %ld bit/s, %.2f pictures/s of %.2f, I-frame interval %ld, full search %ld",
            m_width, m_height, m_bitRate, double(m_layerRate), double(m_sourceRate), m_interval, m_fullSearch);
  return S_OK;
}

HRESULT CVidEncFilter::StopStreaming() {
  CAutoLock lock(&m_csSettings);
  venc_destroy(&m_enc);
  FilterLog(kLog, "stop: %lu pictures (%lu intra), %llu bytes, %lu dropped", m_frames, m_intra,
            static_cast<unsigned long long>(m_bytes), m_dropped);
  return S_OK;
}

bool CVidEncFilter::PreviewConnected() const { return m_pPreview->IsConnected(); }

HRESULT CVidEncFilter::Receive(IMediaSample* sample) {
  REFERENCE_TIME start = 0, stop = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &stop));
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  const long length = sample->GetActualDataLength();

  long w, h, inW, inH;
  float rate;
  bool rgb;
  {
    CAutoLock lock(&m_csSettings);
    if (!m_enc.state) return E_UNEXPECTED;
    w = m_width;
    h = m_height;
    inW = m_inWidth;
    inH = m_inHeight;
    rgb = m_inputRgb;
    rate = m_layerRate;
  }
  const REFERENCE_TIME period = REFERENCE_TIME(10000000.0 / rate);
  if (!timed) {
    start = REFERENCE_TIME(m_frames + m_dropped) * period;
    stop = start + period;
  }
  // Pictures faster than the layer's rate are dropped: a picture is taken
  // when it comes no more than a quarter period before the time due; the
  // schedule restarts after a gap.
  if (m_haveDue && start + period / 4 < m_due) {
    CAutoLock lock(&m_csSettings);
    ++m_dropped;
    return S_OK;
  }
  m_due = m_haveDue && start < m_due + period ? m_due + period : start + period;
  if (!m_haveDue) m_firstTime = start;
  m_haveDue = true;

  const long ah = inH < 0 ? -inH : inH;
  const size_t need = rgb ? size_t(rgbStride(inW)) * ah : size_t(inW) * ah * 3 / 2;
  if (!data || size_t(length) < need) {
    FilterLog(kLog, "picture of %ld bytes, %lu needed: dropped", length, static_cast<unsigned long>(need));
    return S_OK;
  }
  const size_t inY = size_t(inW) * ah;
  YuvPlanes in{m_yuvIn.data(), m_yuvIn.data() + inY, m_yuvIn.data() + inY * 5 / 4, int32_t(inW), int32_t(inW / 2),
               int32_t(inW), int32_t(ah)};
  if (rgb) {
    venc_bgr24_to_yuv420(data, rgbStride(inW), inH > 0, in);
  } else {
    in.y = data;
    in.u = data + inY;
    in.v = data + inY * 5 / 4;
  }
  const size_t outY = size_t(w) * h;
  const uint8_t* py = in.y;
  const uint8_t* pu = in.u;
  const uint8_t* pv = in.v;
  if (inW != w || ah != h) {
    YuvPlanes scaled{m_yuvScaled.data(), m_yuvScaled.data() + outY, m_yuvScaled.data() + outY * 5 / 4,
                     int32_t(w), int32_t(w / 2), int32_t(w), int32_t(h)};
    venc_scale_yuv420(ConstYuvPlanes{in.y, in.u, in.v, in.strideY, in.strideC, in.width, in.height}, scaled);
    py = scaled.y;
    pu = scaled.u;
    pv = scaled.v;
  }
  const VencPicture pic{py, pu, pv, int32_t(py == in.y ? in.strideY : w), int32_t(py == in.y ? in.strideC : w / 2)};
  VencFrameInfo info{};
  const int bytes = venc_encode(&m_enc, &pic, uint32_t(start / 10000), 0, m_out.data(), int32_t(m_out.size()), &info);
  if (bytes <= 0) {
    FilterLog(kLog, "picture at %lld ms not coded: error %d", static_cast<long long>(start / 10000), int(m_enc.error));
    return E_FAIL;
  }
  {
    CAutoLock lock(&m_csSettings);
    ++m_frames;
    if (info.intra) ++m_intra;
    m_bytes += ULONGLONG(bytes);
    m_lastQp = info.quantiser;
    m_lastTime = start;
  }
  if (m_frames == 1) FilterLog(kLog, "first picture: %d bytes, quantiser %d", bytes, info.quantiser);

  IMediaSample* out = nullptr;
  HRESULT hr = m_pOutput->GetDeliveryBuffer(&out, nullptr, nullptr, 0);
  if (FAILED(hr)) return hr;
  BYTE* dst = nullptr;
  out->GetPointer(&dst);
  if (out->GetSize() < bytes) {
    out->Release();
    return E_FAIL;
  }
  std::memcpy(dst, m_out.data(), size_t(bytes));
  out->SetActualDataLength(bytes);
  REFERENCE_TIME outStop = start + period;
  out->SetTime(&start, &outStop);
  out->SetSyncPoint(info.intra ? TRUE : FALSE);
  out->SetDiscontinuity(FALSE);
  hr = m_pOutput->Deliver(out);
  out->Release();
  if (PreviewConnected()) DeliverPreview(start, outStop);
  return hr;
}

void CVidEncFilter::DeliverPreview(REFERENCE_TIME start, REFERENCE_TIME stop) {
  int cw, ch;
  const uint8_t* r = venc_reconstruction(&m_enc, &cw, &ch);
  IMediaSample* out = nullptr;
  if (!r || FAILED(m_pPreview->GetDeliveryBuffer(&out, nullptr, nullptr, 0))) return;
  long w, h;
  GetFrameSize(&w, &h);
  BYTE* dst = nullptr;
  out->GetPointer(&dst);
  if (out->GetSize() >= rgbStride(w) * h) {
    const uint8_t* u = r + size_t(cw) * ch;
    venc_yuv420_to_bgr24(ConstYuvPlanes{r, u, u + size_t(cw) * ch / 4, cw, cw / 2, int32_t(w), int32_t(h)}, dst,
                         rgbStride(w), true);
    out->SetActualDataLength(rgbStride(w) * h);
    out->SetTime(&start, &stop);
    out->SetSyncPoint(TRUE);
    m_pPreview->Deliver(out);
  }
  out->Release();
}

HRESULT CVidEncFilter::EndOfStream() {
  FilterLog(kLog, "end of stream after %lu pictures", m_frames);
  if (PreviewConnected()) m_pPreview->DeliverEndOfStream();
  return CTransformFilter::EndOfStream();
}

// ---- IVidEncCfg ----

STDMETHODIMP CVidEncFilter::ResetEncoder(long* versionMajor, long* versionMinor) {
  if (!versionMajor || !versionMinor) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  *versionMajor = kVersionMajor;
  *versionMinor = kVersionMinor;
  m_stillFrame.clear();
  m_stillRecon.clear();
  FilterLog(kLog, "reset");
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetFrameSize(long* width, long* height) {
  if (!width || !height) return E_POINTER;
  if (!IsStopped()) return VFW_E_NOT_STOPPED;
  CAutoLock lock(&m_csSettings);
  const long w = *width, h = *height;
  roundSize(width, height);
  m_width = *width;
  m_height = *height;
  FilterLog(kLog, "frame size %ldx%ld -> %ldx%ld", w, h, m_width, m_height);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetFrameSize(long* width, long* height) {
  if (!width || !height) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  *width = m_width;
  *height = m_height;
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetSourceFrameRate(float* rate) {
  if (!rate) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  const float asked = *rate;
  if (!(*rate >= 1.0f)) *rate = 1.0f;
  if (*rate > 60.0f) *rate = 60.0f;
  m_sourceRate = *rate;
  FilterLog(kLog, "source frame rate %.3f -> %.3f", double(asked), double(*rate));
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetLayerFrameRate(long layer, float* rate) {
  if (!rate) return E_POINTER;
  if (layer != 0) {
    FilterLog(kLog, "frame rate of layer %ld refused: one layer only", layer);
    return VIDENC_E_ONE_LAYER;
  }
  CAutoLock lock(&m_csSettings);
  if (!(*rate > 0.0f)) *rate = m_sourceRate;
  if (*rate > 60.0f) *rate = 60.0f;
  m_layerRate = *rate;
  FilterLog(kLog, "layer 0 frame rate %.3f", double(*rate));
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetLayerBitRate(long layer, long* bitRate) {
  if (!bitRate) return E_POINTER;
  if (layer != 0) {
    FilterLog(kLog, "bit rate of layer %ld refused: one layer only", layer);
    return VIDENC_E_ONE_LAYER;
  }
  CAutoLock lock(&m_csSettings);
  *bitRate = std::clamp(*bitRate, 1000L, 4000000L);
  m_bitRate = *bitRate;
  FilterLog(kLog, "layer 0 bit rate %ld", m_bitRate);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetLayerCount(long* count) {
  if (!count) return E_POINTER;
  if (*count != 1) {
    FilterLog(kLog, "layer count %ld refused: one layer only", *count);
    *count = 1;
    return VIDENC_E_ONE_LAYER;
  }
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetIFrameInterval(long* interval) {
  if (!interval) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  if (*interval < -1) *interval = -1;
  m_interval = *interval;
  if (m_enc.state) venc_set_intra_interval(&m_enc, m_interval);
  FilterLog(kLog, "I-frame interval %ld", m_interval);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetRateMode(long mode) {
  if (mode != VIDENC_RATE_STREAMING && mode != VIDENC_RATE_DOWNLOAD) return E_INVALIDARG;
  CAutoLock lock(&m_csSettings);
  m_rateMode = mode;
  FilterLog(kLog, "rate mode %ld", mode);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetPacketMode(long mode) {
  CAutoLock lock(&m_csSettings);
  m_packetMode = mode;
  FilterLog(kLog, "packet mode %ld kept (every picture is one packet)", mode);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::SetFullSearch(long on) {
  CAutoLock lock(&m_csSettings);
  m_fullSearch = on ? 1 : 0;
  FilterLog(kLog, "full search %ld", m_fullSearch);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetDecodeBufferSize(long* bytes) {
  if (!bytes) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  // Room for the largest picture the rate control lets through: an intra
  // picture of about half a second's bits, never less than 16 KB.
  *bytes = std::max(16384L, m_bitRate / 16);
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetDecoderConfig(long layer, BYTE* buffer, long* size) {
  if (!buffer || !size) return E_POINTER;
  if (layer != 0) {
    FilterLog(kLog, "configuration of layer %ld refused: one layer only", layer);
    return VIDENC_E_ONE_LAYER;
  }
  BYTE config[VENC_MAX_CONFIG];
  const int n = ConfigBytes(config, sizeof config);
  if (n <= 0) return E_FAIL;
  if (*size < n) return VIDENC_E_BUFFER_TOO_SMALL;
  std::memcpy(buffer, config, size_t(n));
  *size = n;
  FilterLog(kLog, "decoder configuration of %d bytes", n);
  return S_OK;
}

// ---- IVidEncTool ----

STDMETHODIMP CVidEncFilter::EncodeStill(long mode, const BYTE* picture, BYTE** frame, long* frameLength,
                                        BYTE** recon, BYTE* config, long* configSize) {
  if (!picture || !frame || !frameLength || !recon || !config || !configSize) return E_POINTER;
  if (mode != VIDENC_STILL_I420 && mode != VIDENC_STILL_BGR24) return E_INVALIDARG;
  CAutoLock lock(&m_csSettings);
  VencSettings s = Settings();
  s.intraInterval = 1;
  VideoEncoder e{};
  if (!venc_create(&e, &s)) return E_FAIL;
  const size_t ySize = size_t(s.width) * s.height;
  std::vector<BYTE> yuv;
  const BYTE* py = picture;
  if (mode == VIDENC_STILL_BGR24) {
    yuv.resize(ySize * 3 / 2);
    venc_bgr24_to_yuv420(picture, s.width * 3, true,
                         YuvPlanes{yuv.data(), yuv.data() + ySize, yuv.data() + ySize * 5 / 4, s.width, s.width / 2,
                                   s.width, s.height});
    py = yuv.data();
  }
  const VencPicture pic{py, py + ySize, py + ySize * 5 / 4, s.width, s.width / 2};
  m_stillFrame.assign(size_t(venc_max_frame_bytes(&e)), 0);
  const int n = venc_encode(&e, &pic, 0, 1, m_stillFrame.data(), int32_t(m_stillFrame.size()), nullptr);
  BYTE cfg[VENC_MAX_CONFIG];
  const int c = venc_config(&e, cfg, sizeof cfg);
  HRESULT hr = S_OK;
  if (n <= 0 || c <= 0) {
    hr = E_FAIL;
  } else if (*configSize < c) {
    hr = VIDENC_E_BUFFER_TOO_SMALL;
  } else {
    m_stillFrame.resize(size_t(n));
    // The reconstruction at the encoding size, planes packed.
    int cw, ch;
    const uint8_t* r = venc_reconstruction(&e, &cw, &ch);
    m_stillRecon.resize(ySize * 3 / 2);
    BYTE* d = m_stillRecon.data();
    for (int y = 0; y < s.height; ++y, d += s.width) std::memcpy(d, r + size_t(y) * cw, size_t(s.width));
    const uint8_t* u = r + size_t(cw) * ch;
    for (const uint8_t* p : {u, u + size_t(cw) * ch / 4})
      for (int y = 0; y < s.height / 2; ++y, d += s.width / 2)
        std::memcpy(d, p + size_t(y) * (cw / 2), size_t(s.width / 2));
    std::memcpy(config, cfg, size_t(c));
    *configSize = c;
    *frame = m_stillFrame.data();
    *frameLength = n;
    *recon = m_stillRecon.data();
  }
  venc_destroy(&e);
  FilterLog(kLog, "still picture %dx%d: %d bytes, result 0x%08lx", s.width, s.height, n, static_cast<unsigned long>(hr));
  return hr;
}

// ---- IVidEncStats ----

STDMETHODIMP CVidEncFilter::GetFrameCount(ULONG* count) {
  if (!count) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  *count = m_frames;
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetBitRates(long* actual, long* target) {
  if (!actual || !target) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  // Over the run so far, the last picture's period included.
  const double seconds = double(m_lastTime - m_firstTime) / 1e7 + (m_frames ? 1.0 / m_layerRate : 0);
  *actual = seconds > 0 ? long(double(m_bytes) * 8 / seconds) : 0;
  *target = m_bitRate;
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetQuantiser(long layer, long* quantiser) {
  if (!quantiser) return E_POINTER;
  if (layer != 0 && layer != -1) return VIDENC_E_ONE_LAYER;
  CAutoLock lock(&m_csSettings);
  *quantiser = m_lastQp;
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetCounters(long layer, ULONG* kilobytes, ULONG* intraModulo1024) {
  if (!kilobytes || !intraModulo1024) return E_POINTER;
  if (layer != 0 && layer != -1) return VIDENC_E_ONE_LAYER;
  CAutoLock lock(&m_csSettings);
  *kilobytes = ULONG(m_bytes / 1024);
  *intraModulo1024 = m_intra % 1024;
  return S_OK;
}

STDMETHODIMP CVidEncFilter::GetDroppedFrames(ULONG* count) {
  if (!count) return E_POINTER;
  CAutoLock lock(&m_csSettings);
  *count = m_dropped;
  return S_OK;
}
