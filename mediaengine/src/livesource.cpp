// The live source: capture devices through the process's capture manager,
// the capture format on the camera's capture pin, and the live encoding and
// preview graphs.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <strmif.h>
#include <control.h>
#include <amvideo.h>
#include <olectl.h>
#include <vfwmsgs.h>
#include <uuids.h>

#include <cstdlib>
#include <cstring>

#include "framegrabber/grabber.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "release.h"

namespace mediaengine {

namespace {

void FreeMediaType(AM_MEDIA_TYPE* mt) {
  if (!mt) return;
  if (mt->cbFormat) CoTaskMemFree(mt->pbFormat);
  if (mt->pUnk) mt->pUnk->Release();
  CoTaskMemFree(mt);
}

VIDEOINFOHEADER* Vih(AM_MEDIA_TYPE* mt) {
  if (!mt || !IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || mt->cbFormat < sizeof(VIDEOINFOHEADER) ||
      !mt->pbFormat)
    return nullptr;
  return reinterpret_cast<VIDEOINFOHEADER*>(mt->pbFormat);
}

AM_MEDIA_TYPE* CopyType(const AM_MEDIA_TYPE* from) {
  auto* to = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!to) return nullptr;
  *to = *from;
  if (from->cbFormat) {
    to->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from->cbFormat));
    if (!to->pbFormat) {
      CoTaskMemFree(to);
      return nullptr;
    }
    std::memcpy(to->pbFormat, from->pbFormat, from->cbFormat);
  }
  if (to->pUnk) to->pUnk->AddRef();
  return to;
}

bool SizeAllowed(LONG width, LONG height) { return width >= 80 && width <= 1280 && height >= 60 && height <= 1024; }

// Sizes tried on a device that lists none.
constexpr LONG kProbeSizes[9][2] = {{128, 96},  {160, 112}, {160, 120}, {176, 144}, {192, 144},
                                    {240, 180}, {320, 224}, {320, 240}, {352, 288}};
// Sizes a refused capture size falls back to, smallest first.
constexpr LONG kFallbackSizes[10][2] = {{80, 60},   {128, 96},  {160, 112}, {160, 120}, {176, 144},
                                        {192, 144}, {320, 224}, {320, 240}, {352, 288}, {640, 480}};

constexpr const wchar_t* kCaptureNames[2] = {L"Video capture", L"Audio capture"};

// Appends (width, height) to the caller's array unless it is there;
// false when the runtime has no room.
bool AppendSize(KRVideoCaptureCapabilities* caps, LONG width, LONG height) {
  for (int32_t i = 0; i < caps->count; ++i)
    if (caps->sizes[i][0] == width && caps->sizes[i][1] == height) return true;
  void* grown = std::realloc(caps->sizes, size_t(caps->count + 1) * sizeof caps->sizes[0]);
  if (!grown) return false;
  caps->sizes = static_cast<int32_t(*)[2]>(grown);
  caps->sizes[caps->count][0] = width;
  caps->sizes[caps->count][1] = height;
  ++caps->count;
  return true;
}

void TakeInterval(REFERENCE_TIME interval, REFERENCE_TIME* best) {
  if (interval > 0 && (*best == 0 || interval < *best)) *best = interval;
}

}  // namespace

CImpIGenFromLive::~CImpIGenFromLive() {
  SafeRelease(videoCapture_);
  SafeRelease(audioCapture_);
}

ICapManager* CImpIGenFromLive::CapManager() {
  ICapManager* manager = nullptr;
  if (!engine_ || FAILED(engine_->QueryInterface(IID_ICapManager, reinterpret_cast<void**>(&manager)))) return nullptr;
  return manager;
}

// ---- devices -----------------------------------------------------------------------

HRESULT CImpIGenFromLive::GetCaptureFilter(LONG kind) {
  IBaseFilter*& held = kind == 0 ? videoCapture_ : audioCapture_;
  if (held) return S_OK;
  ICapManager* manager = CapManager();
  if (!manager) {
    COKRMedia::TraceText("GetCaptureFilter", "Interface not found");
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  LONG& index = kind == 0 ? videoIndex_ : audioIndex_;
  IBaseFilter* filter = nullptr;
  HRESULT hr = manager->SelectDevice(engine_->InstanceNumber(), index, kind == 0 ? 0 : 1, &filter);
  manager->Release();
  if (SUCCEEDED(hr)) {
    held = filter;
    if (index == -1) index = 0;
  }
  return hr;
}

void CImpIGenFromLive::ReleaseDevices() {
  ICapManager* manager = CapManager();
  for (LONG kind : {0, 1}) {
    IBaseFilter*& held = kind == 0 ? videoCapture_ : audioCapture_;
    if (!held) continue;
    if (manager) manager->ReleaseDevice(engine_->InstanceNumber(), kind, kind == 0 ? videoIndex_ : audioIndex_);
    SafeRelease(held);
  }
  if (manager) manager->Release();
  captureChecked_ = 0;
}

HRESULT CImpIGenFromLive::RemoveCaptureDevice(LONG kind) {
  if (kind != 0 && kind != 1) return KRM_E_BAD_PARAMETER;
  CCustomGraph* graph = engine_->Graph();
  if (!graph || !graph->HasGraph()) return KRM_E_FUNCTION_FAILED;
  IBaseFilter* inGraph = nullptr;
  if (SUCCEEDED(graph->FindFilterByName(kCaptureNames[kind], &inGraph)) && inGraph) {
    graph->RemoveFilter(inGraph);
    inGraph->Release();
  }
  IBaseFilter*& held = kind == 0 ? videoCapture_ : audioCapture_;
  if (!held) return S_OK;
  ICapManager* manager = CapManager();
  if (!manager) return KRM_E_INTERFACE_NOT_FOUND;
  HRESULT hr = manager->ReleaseDevice(engine_->InstanceNumber(), kind, kind == 0 ? videoIndex_ : audioIndex_);
  manager->Release();
  SafeRelease(held);
  if (kind == 0) captureChecked_ = 0;
  return hr;
}

STDMETHODIMP CImpIGenFromLive::SelectDevice(LONG index, LONG kind) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  if (index < 0 || index > 4) {
    COKRMedia::TraceText("SelectDevice", "Invalid device ID");
    return KRM_E_INVALID_DEVICE_ID;
  }
  if (kind != 0 && kind != 1) return KRM_E_BAD_PARAMETER;
  if (index == (kind == 0 ? videoIndex_ : audioIndex_)) return S_OK;
  ICapManager* manager = CapManager();
  if (!manager) {
    COKRMedia::TraceText("SelectDevice", "Cannot find interface to capture manager");
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  IBaseFilter* filter = nullptr;
  HRESULT hr = manager->SelectDevice(engine_->InstanceNumber(), index, kind, &filter);
  manager->Release();
  if (FAILED(hr)) {
    COKRMedia::TraceText("SelectDevice", kind == 0 ? "Video device not available" : "Audio device not available");
    return hr;
  }
  CCustomGraph* graph = engine_->Graph();
  if (graph && graph->HasGraph()) {
    engine_->DestroyGraph();
    RemoveCaptureDevice(kind);
  }
  // The old device goes back to the manager even when no graph held it.
  IBaseFilter*& held = kind == 0 ? videoCapture_ : audioCapture_;
  if (held) {
    if ((manager = CapManager()) != nullptr) {
      manager->ReleaseDevice(engine_->InstanceNumber(), kind, kind == 0 ? videoIndex_ : audioIndex_);
      manager->Release();
    }
    SafeRelease(held);
  }
  held = filter;
  (kind == 0 ? videoIndex_ : audioIndex_) = index;
  if (kind == 0) {
    capturePrepared_ = 0;
    captureChecked_ = 0;
  }
  return hr;
}

STDMETHODIMP CImpIGenFromLive::GetDeviceNames(LONG kind, void* names, void* third) {
  if (!names || (kind != 0 && kind != 1)) return KRM_E_BAD_PARAMETER;
  ICapManager* manager = CapManager();
  if (!manager) return KRM_E_INTERFACE_NOT_FOUND;
  HRESULT hr = manager->GetDeviceList(kind, static_cast<WCHAR**>(names), static_cast<LONG*>(third));
  manager->Release();
  return hr;
}

// ---- the capture graph and format ------------------------------------------------------

HRESULT CImpIGenFromLive::AddCaptureFilter(LONG kind) {
  CCustomGraph* graph = engine_->Graph();
  IBaseFilter* found = nullptr;
  if (SUCCEEDED(graph->FindFilterByName(kCaptureNames[kind], &found)) && found) {
    found->Release();
    return S_OK;
  }
  return graph->AddFilter(kind == 0 ? videoCapture_ : audioCapture_, kCaptureNames[kind]);
}

HRESULT CImpIGenFromLive::CheckCaptureGraph() {
  if (captureChecked_) return S_OK;
  engine_->CreateGraph(1);
  HRESULT hr = S_OK;
  if (!videoCapture_) {
    hr = GetCaptureFilter(0);
    if (FAILED(hr) || !videoCapture_) {
      COKRMedia::TraceText("CheckCaptureGraph", "Video capture device not detected");
      return FAILED(hr) ? hr : KRM_E_VIDEO_DEVICE_NOT_AVAILABLE;
    }
  }
  if (!engine_->Graph() || !engine_->Graph()->HasGraph()) return KRM_E_FUNCTION_FAILED;
  hr = AddCaptureFilter(0);
  if (FAILED(hr)) {
    COKRMedia::TraceText("CheckCaptureGraph", "Video device not available");
    return KRM_E_VIDEO_DEVICE_NOT_AVAILABLE;
  }
  engine_->SetLive(true);
  captureChecked_ = 1;
  capturePrepared_ = 1;
  return hr;
}

HRESULT CImpIGenFromLive::ApplyCaptureFormat(IAMStreamConfig* config, AM_MEDIA_TYPE* format,
                                             const KRVideoCaptureConfig& capture) {
  VIDEOINFOHEADER* vih = Vih(format);
  if (!vih) return VFW_E_INVALIDMEDIATYPE;
  vih->AvgTimePerFrame = REFERENCE_TIME(10000000.0 / double(capture.frameRate));
  vih->bmiHeader.biWidth = capture.width;
  vih->bmiHeader.biHeight = capture.height;
  vih->bmiHeader.biBitCount = capture.bitsPerPixel;
  if (capture.bitsPerPixel == 8 || capture.bitsPerPixel == 16 || capture.bitsPerPixel == 24 ||
      capture.bitsPerPixel == 32)
    vih->bmiHeader.biCompression = BI_RGB;
  const DWORD image = DWORD(double(capture.bitsPerPixel) * 0.125 * capture.width * capture.height);
  vih->bmiHeader.biSizeImage = image;
  format->lSampleSize = image;
  return config->SetFormat(format);
}

HRESULT CImpIGenFromLive::CommitVideoCaptureSettings(KRVideoCaptureConfig* capture) {
  HRESULT hr = CheckCaptureGraph();
  if (FAILED(hr)) return hr;
  CCustomGraph* graph = engine_->Graph();
  IPin* pin = nullptr;
  if (FAILED(graph->FindPinByCategory(videoCapture_, PIN_CATEGORY_CAPTURE, &pin)))
    COKRMedia::TraceText("CommitVideoCaptureSettings", "No capture pin");
  IAMStreamConfig* config = nullptr;
  hr = graph->GetStreamConfig(videoCapture_, &config);
  if (FAILED(hr) || !config) {
    COKRMedia::TraceError("CommitVideoCaptureSettings", hr);
    SafeRelease(pin);
    return FAILED(hr) ? hr : KRM_E_INTERFACE_NOT_FOUND;
  }
  AM_MEDIA_TYPE* before = nullptr;
  AM_MEDIA_TYPE* working = nullptr;
  hr = config->GetFormat(&before);
  if (SUCCEEDED(hr)) hr = config->GetFormat(&working);
  if (FAILED(hr) || !before || !working) {
    FreeMediaType(before);
    FreeMediaType(working);
    config->Release();
    SafeRelease(pin);
    return FAILED(hr) ? hr : E_FAIL;
  }
  // A connected pin cannot change its format: the connection is taken apart
  // and made again at the end.
  IPin* peer = nullptr;
  if (pin && SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
    IGraphBuilder* builder = nullptr;
    if (SUCCEEDED(graph->QueryGraph(IID_IGraphBuilder, reinterpret_cast<void**>(&builder)))) {
      builder->Disconnect(peer);
      builder->Disconnect(pin);
      builder->Release();
    }
  }
  hr = ApplyCaptureFormat(config, working, *capture);
  if (FAILED(hr)) {
    KROutputConfig output = {};
    const bool search = sizeSearch_ != 0;
    if (search) engine_->ReadOutputConfig(&output);
    HRESULT result = search ? KRM_E_NO_VALID_CAPTURE_SIZE : KRM_E_SET_CAPTURE_SIZE;
    for (int step = 0; step < 10; ++step) {
      // Upward from the smallest size that holds the encoding size, or
      // downward from the largest.
      const LONG* size = kFallbackSizes[search ? step : 9 - step];
      if (search && (size[0] < output.width || size[1] < output.height)) continue;
      KRVideoCaptureConfig tried = *capture;
      tried.width = size[0];
      tried.height = size[1];
      if (SUCCEEDED(ApplyCaptureFormat(config, working, tried))) {
        *capture = tried;
        result = KRM_E_CAPTURE_SIZE_CHANGED;
        break;
      }
    }
    // An encoding size above every fallback size tries nothing: the device
    // keeps its format, which is no success.
    hr = result;
  }
  if (peer) {
    IGraphBuilder* builder = nullptr;
    if (SUCCEEDED(graph->QueryGraph(IID_IGraphBuilder, reinterpret_cast<void**>(&builder)))) {
      if (FAILED(builder->ConnectDirect(pin, peer, SUCCEEDED(hr) ? working : before)))
        builder->ConnectDirect(pin, peer, nullptr);
      builder->Release();
    }
    peer->Release();
  }
  FreeMediaType(before);
  FreeMediaType(working);
  config->Release();
  SafeRelease(pin);
  return hr;
}

HRESULT CImpIGenFromLive::GetActualVideoCaptureSettings(KRVideoCaptureConfig* capture) {
  *capture = {};
  if (!engine_->Graph()) return KRM_E_FUNCTION_FAILED;
  HRESULT hr = CheckCaptureGraph();
  if (FAILED(hr)) return hr;
  IAMStreamConfig* config = nullptr;
  hr = engine_->Graph()->GetStreamConfig(videoCapture_, &config);
  if (FAILED(hr) || !config) return FAILED(hr) ? hr : KRM_E_INTERFACE_NOT_FOUND;
  AM_MEDIA_TYPE* format = nullptr;
  hr = config->GetFormat(&format);
  config->Release();
  if (FAILED(hr)) return hr;
  if (const VIDEOINFOHEADER* vih = Vih(format)) {
    capture->width = vih->bmiHeader.biWidth;
    capture->height = vih->bmiHeader.biHeight;
    capture->bitsPerPixel = vih->bmiHeader.biBitCount;
    capture->frameRate = vih->AvgTimePerFrame > 0 ? float(10000000.0 / double(vih->AvgTimePerFrame)) : 0.0f;
  }
  FreeMediaType(format);
  return S_OK;
}

STDMETHODIMP CImpIGenFromLive::ConfigVideoCapture(void* record) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  if (engine_->GraphState() == 3) {
    COKRMedia::TraceText("ConfigVideoCapture", "Cannot execute while playing !");
    return E_FAIL;
  }
  if (!record) return E_INVALIDARG;
  const auto& in = *static_cast<const KRVideoCaptureConfig*>(record);
  // Each value is taken when it is valid, else the stored one stays (or
  // the default, when the stored one is itself invalid).
  if (in.frameRate > 0.0f && in.frameRate <= 35.0f)
    capture_.frameRate = in.frameRate;
  else if (!(capture_.frameRate > 0.0f && capture_.frameRate <= 35.0f))
    capture_.frameRate = 30.0f;
  if (SizeAllowed(in.width, in.height)) {
    capture_.width = in.width;
    capture_.height = in.height;
  } else if (!SizeAllowed(capture_.width, capture_.height)) {
    capture_.width = 160;
    capture_.height = 120;
  }
  if (in.bitsPerPixel >= 8 && in.bitsPerPixel <= 32)
    capture_.bitsPerPixel = in.bitsPerPixel;
  else if (!(capture_.bitsPerPixel >= 8 && capture_.bitsPerPixel <= 32))
    capture_.bitsPerPixel = 24;
  return S_OK;
}

STDMETHODIMP CImpIGenFromLive::GetConfigVideoCapture(void* record) {
  if (!record) return E_INVALIDARG;
  *static_cast<KRVideoCaptureConfig*>(record) = capture_;
  return S_OK;
}

STDMETHODIMP CImpIGenFromLive::GetVideoCaptureCapabilities(void* record) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  if (engine_->GraphState() == 3) {
    COKRMedia::TraceText("GetVideoCaptureCapabilities", "Cannot execute while playing !");
    return KRM_E_BAD_STATE;
  }
  if (!record) return KRM_E_BAD_PARAMETER;
  auto* caps = static_cast<KRVideoCaptureCapabilities*>(record);
  HRESULT hr = CheckCaptureGraph();
  if (FAILED(hr)) return hr;
  IAMStreamConfig* config = nullptr;
  if (FAILED(engine_->Graph()->GetStreamConfig(videoCapture_, &config)) || !config)
    return KRM_E_INTERFACE_NOT_FOUND;
  const int32_t probes = caps->count > 0 && caps->count < 9 ? caps->count : 9;
  caps->count = 0;
  caps->highestFrameRate = 0.0f;
  REFERENCE_TIME best = 0;
  bool roomy = true;
  int capabilities = 0, capsSize = 0;
  if (SUCCEEDED(config->GetNumberOfCapabilities(&capabilities, &capsSize)) &&
      capsSize >= int(sizeof(VIDEO_STREAM_CONFIG_CAPS))) {
    BYTE* scc = static_cast<BYTE*>(CoTaskMemAlloc(size_t(capsSize)));
    for (int i = 0; scc && i < capabilities && roomy; ++i) {
      AM_MEDIA_TYPE* mt = nullptr;
      if (config->GetStreamCaps(i, &mt, scc) != S_OK) continue;
      const auto* c = reinterpret_cast<const VIDEO_STREAM_CONFIG_CAPS*>(scc);
      if (SizeAllowed(c->InputSize.cx, c->InputSize.cy)) roomy = AppendSize(caps, c->InputSize.cx, c->InputSize.cy);
      // The highest rate is the one of the shortest interval.
      TakeInterval(c->MinFrameInterval, &best);
      FreeMediaType(mt);
    }
    CoTaskMemFree(scc);
  }
  if (caps->count == 0 && roomy) {
    AM_MEDIA_TYPE* before = nullptr;
    if (SUCCEEDED(config->GetFormat(&before)) && Vih(before)) {
      for (int32_t i = 0; i < probes && roomy; ++i) {
        AM_MEDIA_TYPE* tried = CopyType(before);
        VIDEOINFOHEADER* vih = Vih(tried);
        if (!vih) {
          FreeMediaType(tried);
          break;
        }
        vih->bmiHeader.biWidth = kProbeSizes[i][0];
        vih->bmiHeader.biHeight = kProbeSizes[i][1];
        vih->bmiHeader.biSizeImage =
            DWORD(double(vih->bmiHeader.biBitCount) * 0.125 * kProbeSizes[i][0] * kProbeSizes[i][1]);
        tried->lSampleSize = vih->bmiHeader.biSizeImage;
        if (SUCCEEDED(config->SetFormat(tried))) {
          roomy = AppendSize(caps, kProbeSizes[i][0], kProbeSizes[i][1]);
          TakeInterval(vih->AvgTimePerFrame, &best);
        }
        FreeMediaType(tried);
      }
      config->SetFormat(before);
    }
    FreeMediaType(before);
  }
  config->Release();
  if (!roomy) return KRM_E_OUT_OF_MEMORY;
  caps->highestFrameRate = best > 0 ? float(10000000.0 / double(best)) : 0.0f;
  return caps->count ? S_OK : KRM_E_FUNCTION_FAILED;
}

HRESULT CImpIGenFromLive::UpdateCaptureSrcFrameRate(float rate) {
  IKRMediaConfig* config = engine_->MediaConfig();
  if (!config) {
    COKRMedia::TraceText("UpdateCaptureSrcFrameRate", "Interface not found");
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  KROutputConfig output;
  KRVideoEncoderConfig video;
  config->GetConfigOutput(&output);
  config->GetConfigVideoEncoder(&video);
  savedFrameRate_ = capture_.frameRate;
  // A rate that is no rate keeps the one in force.
  if (rate > 0.0f) capture_.frameRate = rate <= 35.0f ? rate : 35.0f;
  video.sourceFrameRate = capture_.frameRate;
  output.frameRate = capture_.frameRate;
  config->ConfigVideoEncoder(&video);
  config->ConfigOutput(&output);
  config->Release();
  return S_OK;
}

HRESULT CImpIGenFromLive::ResetSrcFrameRate(const KROutputConfig& output) {
  if (output.streamType != 2 && output.streamType != 3) return S_OK;
  UpdateCaptureSrcFrameRate(savedFrameRate_);
  sizeSearch_ = previewOnly_ ? 0 : 1;
  HRESULT hr = CommitVideoCaptureSettings(&capture_);
  if (FAILED(hr) && hr != KRM_E_CAPTURE_SIZE_CHANGED)
    COKRMedia::TraceText("ResetSrcFrameRate", "Wrong video capture config");
  return hr;
}

// ---- dialogs ---------------------------------------------------------------------------

HRESULT CImpIGenFromLive::ShowPropertyPages(IUnknown* object, HWND parent) {
  ISpecifyPropertyPages* specify = nullptr;
  if (!object || FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify))))
    return KRM_E_INTERFACE_NOT_FOUND;
  CAUUID pages = {};
  HRESULT hr = specify->GetPages(&pages);
  specify->Release();
  if (FAILED(hr) || pages.cElems == 0) {
    CoTaskMemFree(pages.pElems);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  hr = OleCreatePropertyFrame(parent, 30, 30, nullptr, 1, &object, pages.cElems, pages.pElems, 0, 0, nullptr);
  CoTaskMemFree(pages.pElems);
  return FAILED(hr) ? KRM_E_FUNCTION_FAILED : S_OK;
}

STDMETHODIMP CImpIGenFromLive::DisplayVidCaptureDlg(LONG id, HWND parent) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  if (engine_->GraphState() == 3) {
    COKRMedia::TraceText("DisplayVidCaptureDlg", "Cannot execute while playing !");
    return KRM_E_BAD_STATE;
  }
  if (id < 1 || id > 9 || id == 3) return KRM_E_BAD_PARAMETER;
  HRESULT hr = CheckCaptureGraph();
  if (FAILED(hr)) return hr;
  CCustomGraph* graph = engine_->Graph();
  IUnknown* object = nullptr;
  switch (id) {
    case 1:
    case 2:
    case 4: {
      // The driver's own dialogs (a VfW capture driver's); none: not found.
      IAMVfwCaptureDialogs* dialogs = nullptr;
      if (FAILED(videoCapture_->QueryInterface(IID_IAMVfwCaptureDialogs, reinterpret_cast<void**>(&dialogs))))
        return KRM_E_INTERFACE_NOT_FOUND;
      const VfwCaptureDialogs which = id == 1 ? VfwCaptureDialog_Source
                                      : id == 2 ? VfwCaptureDialog_Format
                                                : VfwCaptureDialog_Display;
      hr = dialogs->HasDialog(which) == S_OK ? dialogs->ShowDialog(which, parent) : KRM_E_INTERFACE_NOT_FOUND;
      dialogs->Release();
      return FAILED(hr) && hr != KRM_E_INTERFACE_NOT_FOUND ? KRM_E_FUNCTION_FAILED : hr;
    }
    case 5:
      return ShowPropertyPages(videoCapture_, parent);
    case 6:
    case 8:
      graph->FindInterface(id == 6 ? &PIN_CATEGORY_CAPTURE : &PIN_CATEGORY_PREVIEW, nullptr, videoCapture_,
                           IID_IAMStreamConfig, reinterpret_cast<void**>(&object));
      break;
    case 7:
      graph->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, videoCapture_, IID_IAMTVTuner,
                           reinterpret_cast<void**>(&object));
      break;
    case 9:
      graph->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, videoCapture_, IID_IAMCrossbar,
                           reinterpret_cast<void**>(&object));
      break;
  }
  if (!object) return KRM_E_INTERFACE_NOT_FOUND;
  hr = ShowPropertyPages(object, parent);
  object->Release();
  return hr;
}

STDMETHODIMP CImpIGenFromLive::DisplayVideoCaptureDlg(LONG id, HWND parent) {
  if (id != 1 && id != 2 && id != 4) return KRM_E_BAD_PARAMETER;
  HRESULT hr = DisplayVidCaptureDlg(id, parent);
  // Without driver dialogs the capture pin's format pages stand in.
  if (hr == KRM_E_INTERFACE_NOT_FOUND) hr = DisplayVidCaptureDlg(6, parent);
  if (FAILED(hr)) return hr;
  RemoveCaptureDevice(0);
  KRVideoCaptureConfig actual;
  hr = GetActualVideoCaptureSettings(&actual);
  if (SUCCEEDED(hr)) hr = ConfigVideoCapture(&actual);
  return hr;
}

// ---- the graphs ----------------------------------------------------------------------------

HRESULT CImpIGenFromLive::SetCaptureClock() {
  IReferenceClock* clock = nullptr;
  for (IBaseFilter* filter : {audioCapture_, videoCapture_})
    if (!clock && filter && FAILED(filter->GetSyncSource(&clock))) clock = nullptr;
  if (!clock && FAILED(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                        reinterpret_cast<void**>(&clock))))
    clock = nullptr;
  if (!clock) return S_FALSE;
  for (IBaseFilter* filter : {audioCapture_, videoCapture_})
    if (filter) filter->SetSyncSource(clock);
  clock->Release();
  return S_OK;
}

HRESULT CImpIGenFromLive::PreviewCapture(const KRDestinationWindow& destination) {
  CCustomGraph* graph = engine_->Graph();
  IPin* preview = nullptr;
  if (!videoCapture_ || FAILED(graph->FindPinByCategory(videoCapture_, PIN_CATEGORY_PREVIEW, &preview))) {
    engine_->SetPreviewMode(0);
    return S_OK;
  }
  HRESULT hr = graph->Render(preview);
  preview->Release();
  if (FAILED(hr)) {
    COKRMedia::TraceText("StartEncode", "The capture format is not supported");
    engine_->SetPreviewMode(0);
    return S_OK;
  }
  engine_->SetPreviewMode(1);
  graph->SetVideoWindow(destination.window, &destination.rect, WS_CHILD | WS_CLIPSIBLINGS, nullptr, 0);
  return S_OK;
}

STDMETHODIMP CImpIGenFromLive::StartEncode(LONG run) {
  COKRMedia* e = engine_;
  if (!e) return KRM_E_FUNCTION_FAILED;
  sizeSearch_ = 1;
  if (e->GraphState() == 3) {
    COKRMedia::TraceText("StartEncode", "The control must be stopped");
    return KRM_E_MUST_BE_STOPPED;
  }
  if (e->RunPending()) {
    e->SetLive(true);
    previewOnly_ = 0;
    // The start's own result: a start that failed is not reported as done.
    return e->StartGraph();
  }
  KROutputConfig output;
  KRDestinationWindow destination;
  KREventWindow events;
  KRVideoEncoderConfig video;
  if (!e->ReadSourceRecords(&output, &destination, &events, &video)) {
    COKRMedia::TraceError("StartEncode", KRM_E_INTERFACE_NOT_FOUND);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  const LONG type = output.streamType;
  const bool withVideo = type == 2 || type == 3;
  const bool withAudio = type == 1 || type == 3 || type == 5;
  HRESULT hr = type == 1 || type == 5 ? e->CreateGraph(1) : CheckCaptureGraph();
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartEncode", hr);
    return hr;
  }
  CCustomGraph* graph = e->Graph();
  if (!graph || !graph->HasGraph()) return KRM_E_FUNCTION_FAILED;
  if (type == 2) {
    IBaseFilter* audio = nullptr;
    if (SUCCEEDED(graph->FindFilterByName(kCaptureNames[1], &audio)) && audio) {
      audio->Release();
      RemoveCaptureDevice(1);
    }
  }
  if (withVideo) {
    UpdateCaptureSrcFrameRate(video.frameRate[video.layers == 2 ? 1 : 0]);
    hr = CommitVideoCaptureSettings(&capture_);
    if (FAILED(hr)) {
      if (hr != KRM_E_CAPTURE_SIZE_CHANGED) COKRMedia::TraceText("StartEncode", "Wrong video capture config");
      UpdateCaptureSrcFrameRate(savedFrameRate_);
      return hr;
    }
  }
  if (type == 1 || type == 5) {
    IBaseFilter* camera = nullptr;
    if (SUCCEEDED(graph->FindFilterByName(kCaptureNames[0], &camera)) && camera) {
      camera->Release();
      RemoveCaptureDevice(0);
    }
  }
  if (withAudio) {
    if (!audioCapture_) {
      hr = GetCaptureFilter(1);
      if (FAILED(hr) || !audioCapture_) {
        COKRMedia::TraceText("StartEncode", "Audio capture device not detected");
        return FAILED(hr) ? hr : KRM_E_AUDIO_DEVICE_NOT_AVAILABLE;
      }
    }
    hr = AddCaptureFilter(1);
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode", hr);
      return hr;
    }
  }
  SetCaptureClock();
  hr = e->CreateKRFilters(type, 0);
  if (FAILED(hr)) return hr;
  if (type == 5) e->ConfigStillImage();
  if (withVideo) {
    if (!videoCapture_ || !e->VideoEncoder()) {
      COKRMedia::TraceText("StartEncode", "No video capture filter created");
      return E_FAIL;
    }
    if (FAILED(graph->ConnectPinsByIndex(videoCapture_, e->VideoEncoder(), 1, 1))) {
      COKRMedia::TraceError("StartEncode: Video Capture-Video Encoder", KRM_E_VIDEO_DEVICE_NOT_AVAILABLE);
      return KRM_E_VIDEO_DEVICE_NOT_AVAILABLE;
    }
    hr = e->CommitVideoEncoderSettings();
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode: ERROR configuring Video Encoder", hr);
      return hr;
    }
  }
  if (withAudio) {
    if (!audioCapture_ || !e->AudioEncoder()) {
      COKRMedia::TraceText("StartEncode", "No audio capture filter created");
      return E_FAIL;
    }
    if (FAILED(graph->ConnectPinsByIndex(audioCapture_, e->AudioEncoder(), 1, 1))) {
      COKRMedia::TraceError("StartEncode: AudioCapture-AudioEncoder", KRM_E_AUDIO_DEVICE_NOT_AVAILABLE);
      return KRM_E_AUDIO_DEVICE_NOT_AVAILABLE;
    }
  }
  hr = e->ConnectEncodersToOutput(type, true);
  if (FAILED(hr)) return hr;
  if (withVideo) {
    hr = e->CommitEncodingParamToOutput();
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode", hr);
      return hr;
    }
    const LONG preview = e->PreviewType();
    if (preview == 1)
      PreviewCapture(destination);
    else if (preview == 0 || preview == 2)
      e->PreviewEncodedVideo(destination, "StartEncode", false);
    else
      COKRMedia::TraceError("StartEncode", E_FAIL);
  }
  hr = graph->SetNotifyWindow(events.window, UINT(events.message));
  e->SetGraphState(1);
  e->SetLive(true);
  previewOnly_ = 0;
  capturePrepared_ = withVideo ? 1 : 0;
  captureChecked_ = 0;
  // A stream waits for its first player; the next start runs the graph.
  if (output.mediaOutputType == 4 || output.mediaOutputType == 5 || output.mediaOutputType == 12) {
    e->SetRunPending(true);
    return hr;
  }
  return run ? e->StartGraph() : hr;
}

STDMETHODIMP CImpIGenFromLive::StartPreview(LONG build, LONG run) {
  COKRMedia* e = engine_;
  if (!e) return KRM_E_FUNCTION_FAILED;
  sizeSearch_ = 0;
  HRESULT hr = S_OK;
  if (build) {
    KROutputConfig output;
    KRDestinationWindow destination;
    KREventWindow events;
    if (!e->ReadSourceRecords(&output, &destination, &events, nullptr)) {
      COKRMedia::TraceError("StartPreview", KRM_E_INTERFACE_NOT_FOUND);
      return KRM_E_INTERFACE_NOT_FOUND;
    }
    hr = CommitVideoCaptureSettings(&capture_);
    if (FAILED(hr)) {
      if (hr != KRM_E_CAPTURE_SIZE_CHANGED) COKRMedia::TraceText("StartPreview", "Wrong video capture config");
      return hr;
    }
    IBaseFilter* grabber = nullptr;
    hr = e->CreateGrabFilter(&grabber);
    if (FAILED(hr)) return hr;
    if (FAILED(e->Graph()->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, videoCapture_, grabber, nullptr)))
      return KRM_E_VIDEO_DEVICE_NOT_AVAILABLE;
    hr = e->Graph()->SetVideoWindow(destination.window, &destination.rect, WS_CHILD | WS_CLIPSIBLINGS, nullptr, 0);
  }
  e->SetLive(true);
  e->SetGraphState(e->GraphState() == 3 ? 3 : 1);
  previewOnly_ = 1;
  capturePrepared_ = 1;
  captureChecked_ = 0;
  if (run) {
    // A start that failed is reported, not hidden behind the build's result.
    const HRESULT started = e->StartGraph();
    if (FAILED(started)) return started;
  }
  return hr;
}

STDMETHODIMP CImpIGenFromLive::Stop(SHORT mode) {
  COKRMedia* e = engine_;
  if (!e || !e->Graph()) return KRM_E_BAD_STATE;
  HRESULT hr = e->StopGraph(previewOnly_ ? -1 : LONG(mode));
  if (previewOnly_ || mode == 1) return hr;
  KROutputConfig output;
  if (!e->ReadOutputConfig(&output)) return FAILED(hr) ? hr : KRM_E_INTERFACE_NOT_FOUND;
  // The capture rate goes back to the one before the encoding. Restoring it
  // commits the capture format on an emptied graph, so an output that writes
  // a file waits for the file's event (32778): emptying the graph now would
  // take the streamer away before its file is written.
  if (output.fileOutput == 0 && output.mediaOutputType != 1) ResetSrcFrameRate(output);
  return hr;
}

// ---- events, time and the picture ------------------------------------------------------

STDMETHODIMP CImpIGenFromLive::GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->Live() ? engine_->GetDSEvent(code, param1, param2) : KRM_E_WRONG_MODE;
}

STDMETHODIMP CImpIGenFromLive::GetDSEventHandle(HANDLE* event) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->Live() ? engine_->GetDSEventHandle(event) : KRM_E_WRONG_MODE;
}

STDMETHODIMP CImpIGenFromLive::FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->Live() ? engine_->FreeDSEvent(code, param1, param2) : KRM_E_WRONG_MODE;
}

STDMETHODIMP CImpIGenFromLive::SetPreviewType(LONG type) {
  if (engine_) engine_->SetPreviewType(type);
  return S_OK;
}

STDMETHODIMP CImpIGenFromLive::GetCurrentMediaTime(double* seconds) {
  return engine_ ? engine_->GetCurrentMediaTime(seconds) : KRM_E_FUNCTION_FAILED;
}

STDMETHODIMP CImpIGenFromLive::GetCurrentImage(LONG* size, BYTE** block) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  if (!size || !block) return KRM_E_BAD_PARAMETER;
  *size = 0;
  *block = nullptr;
  if (!engine_->Live() || !capturePrepared_ || !previewOnly_) {
    COKRMedia::TraceText("GetCurrentImage", "Live capture not configured");
    return KRM_E_LIVE_NOT_CONFIGURED;
  }
  if (engine_->GraphState() != 3) {
    COKRMedia::TraceText("GetCurrentImage", "Bad state to execute this method");
    return KRM_E_BAD_STATE;
  }
  if (!engine_->Grabber()) return KRM_E_FUNCTION_FAILED;
  IKRFrameGrabber* grabber = nullptr;
  HRESULT hr = engine_->Grabber()->QueryInterface(IID_IKRFrameGrabber, reinterpret_cast<void**>(&grabber));
  if (FAILED(hr)) return KRM_E_INTERFACE_NOT_FOUND;
  BITMAPINFOHEADER header = {};
  long bytes = 0;
  BYTE* picture = nullptr;
  hr = grabber->GetCurrentImage(&header, &bytes, &picture);
  grabber->Release();
  if (FAILED(hr)) return hr;
  if (bytes < 0 || !picture) {
    CoTaskMemFree(picture);
    return KRM_E_FUNCTION_FAILED;
  }
  BYTE* copy = static_cast<BYTE*>(CoTaskMemAlloc(sizeof header + size_t(bytes)));
  if (!copy) {
    CoTaskMemFree(picture);
    return KRM_E_OUT_OF_MEMORY;
  }
  std::memcpy(copy, &header, sizeof header);
  std::memcpy(copy + sizeof header, picture, size_t(bytes));
  CoTaskMemFree(picture);
  *size = LONG(sizeof header + size_t(bytes));
  *block = copy;
  return S_OK;
}

STDMETHODIMP CImpIGenFromLive::InitLive() {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  if (!engine_->Live()) {
    COKRMedia::TraceText("InitLive", "Live capture not configured");
    return KRM_E_LIVE_NOT_CONFIGURED;
  }
  engine_->DestroyGraph();
  RemoveCaptureDevice(1);
  const HRESULT hr = RemoveCaptureDevice(0);
  engine_->SetLive(false);
  capturePrepared_ = 0;
  captureChecked_ = 0;
  return hr;
}

// ---- the engine's live parts ------------------------------------------------------------

HRESULT COKRMedia::AdjustCaptureClock(LONG_PTR driftMs) {
  IReferenceClock* clock = nullptr;
  for (IBaseFilter* filter : {genFromLive_.AudioCapture(), genFromLive_.VideoCapture()})
    if (!clock && filter && FAILED(filter->GetSyncSource(&clock))) clock = nullptr;
  HRESULT hr = S_OK;
  if (!clock)
    hr = CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                          reinterpret_cast<void**>(&clock));
  if (FAILED(hr) || !clock) return FAILED(hr) ? hr : E_FAIL;
  IAMClockAdjust* adjust = nullptr;
  hr = clock->QueryInterface(IID_IAMClockAdjust, reinterpret_cast<void**>(&adjust));
  clock->Release();
  if (FAILED(hr)) {
    TraceError("GetDSEvent", hr);
    return hr;
  }
  // Milliseconds to 100-ns units.
  hr = adjust->SetClockDelta(REFERENCE_TIME(driftMs) * 10000);
  adjust->Release();
  return hr;
}

}  // namespace mediaengine
