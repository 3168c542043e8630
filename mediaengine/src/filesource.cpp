// The file source: what a media file holds, its encoding and preview graphs,
// the stream time of a run, and the still-image operations.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <strmif.h>
#include <control.h>
#include <amvideo.h>
#include <dvdmedia.h>
#include <uuids.h>

#include <cstring>
#include <cwchar>

#include "audioencfilter/iaudenc.h"
#include "mediaengine/errors.h"
#include "mediaengine/imgfile.h"
#include "mediaengine/media.h"
#include "release.h"
#include "videoencoder/interfaces.h"

namespace mediaengine {

namespace {

void FreeMediaType(AM_MEDIA_TYPE* mt) {
  if (mt->cbFormat) CoTaskMemFree(mt->pbFormat);
  if (mt->pUnk) mt->pUnk->Release();
  CoTaskMemFree(mt);
}

// The first media type a pin offers, or null.
AM_MEDIA_TYPE* FirstType(IPin* pin) {
  IEnumMediaTypes* types = nullptr;
  if (FAILED(pin->EnumMediaTypes(&types)) || !types) return nullptr;
  AM_MEDIA_TYPE* mt = nullptr;
  if (types->Next(1, &mt, nullptr) != S_OK) mt = nullptr;
  types->Release();
  return mt;
}

// Counts one output pin's stream into the record; E_INVALIDARG for a video
// format it does not know.
HRESULT CountStream(IPin* pin, KRSourceFileInfo* info) {
  AM_MEDIA_TYPE* mt = FirstType(pin);
  if (!mt) return S_FALSE;
  HRESULT hr = S_OK;
  if (IsEqualGUID(mt->majortype, MEDIATYPE_Video)) {
    ++info->videoStreams;
    const BITMAPINFOHEADER* bih = nullptr;
    REFERENCE_TIME perFrame = 0;
    if ((IsEqualGUID(mt->formattype, FORMAT_VideoInfo) || IsEqualGUID(mt->formattype, FORMAT_MPEGVideo)) &&
        mt->cbFormat >= sizeof(VIDEOINFOHEADER) && mt->pbFormat) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt->pbFormat);
      bih = &vih->bmiHeader;
      perFrame = vih->AvgTimePerFrame;
    } else if ((IsEqualGUID(mt->formattype, FORMAT_VideoInfo2) || IsEqualGUID(mt->formattype, FORMAT_MPEG2Video)) &&
               mt->cbFormat >= sizeof(VIDEOINFOHEADER2) && mt->pbFormat) {
      const auto* vih = reinterpret_cast<const VIDEOINFOHEADER2*>(mt->pbFormat);
      bih = &vih->bmiHeader;
      perFrame = vih->AvgTimePerFrame;
    } else {
      hr = E_INVALIDARG;
    }
    if (bih) {
      info->width = bih->biWidth;
      info->height = bih->biHeight;
      info->bitsPerPixel = int16_t(bih->biBitCount);
      info->frameRate = perFrame > 0 ? float(10000000.0 / double(perFrame)) : 0.0f;
    }
  } else if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio)) {
    ++info->audioStreams;
  }
  FreeMediaType(mt);
  return hr;
}

// The streams of a filter's output pins. A byte-stream pin (a file reader)
// holds no stream itself: the parser behind it is asked instead.
HRESULT CountStreams(IBaseFilter* filter, KRSourceFileInfo* info, int depth) {
  IEnumPins* pins = nullptr;
  if (FAILED(filter->EnumPins(&pins)) || !pins) return KRM_E_SOURCE_FORMAT;
  HRESULT hr = S_OK;
  IPin* pin = nullptr;
  while (SUCCEEDED(hr) && pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION direction;
    if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) {
      AM_MEDIA_TYPE* mt = FirstType(pin);
      const bool byteStream = mt && IsEqualGUID(mt->majortype, MEDIATYPE_Stream);
      if (mt) FreeMediaType(mt);
      IPin* to = nullptr;
      if (byteStream && depth == 0 && SUCCEEDED(pin->ConnectedTo(&to)) && to) {
        PIN_INFO parser = {};
        if (SUCCEEDED(to->QueryPinInfo(&parser)) && parser.pFilter) {
          hr = CountStreams(parser.pFilter, info, depth + 1);
          parser.pFilter->Release();
        }
        to->Release();
      } else if (!byteStream) {
        hr = CountStream(pin, info);
        if (hr == S_FALSE) hr = S_OK;
      }
    }
    pin->Release();
  }
  pins->Release();
  return hr;
}

}  // namespace

// ---- engine steps the sources share ----------------------------------------------

bool COKRMedia::ReadSourceRecords(KROutputConfig* output, KRDestinationWindow* destination, KREventWindow* events,
                                  KRVideoEncoderConfig* video) {
  IKRMediaConfig* config = MediaConfig();
  if (!config) return false;
  config->GetConfigOutput(output);
  *destination = {};
  config->GetDestinationWindow(destination);
  *events = {};
  config->GetEventWindow(events);
  if (video) config->GetConfigVideoEncoder(video);
  config->Release();
  return true;
}

HRESULT COKRMedia::PreviewEncodedVideo(const KRDestinationWindow& destination, const char* operation,
                                       bool encoderRequired) {
  if (previewType_ == 0) {
    previewMode_ = 0;
    return S_OK;
  }
  if (previewType_ != 2) return S_OK;
  if (!videoEncoder_) {
    if (!encoderRequired) return S_OK;
    TraceText(operation, "Cannot create video encoder");
    return KRM_E_CREATE_VIDEO_ENCODER;
  }
  IPin* preview = nullptr;
  HRESULT hr = videoEncoder_->FindPin(L"Video preview", &preview);
  if (SUCCEEDED(hr)) hr = graph_->RenderStream(nullptr, &MEDIATYPE_Video, preview, nullptr, nullptr);
  SafeRelease(preview);
  if (FAILED(hr)) {
    TraceText(operation, "The YUV12 decompressor was not found");
    previewMode_ = 0;
    return hr;
  }
  previewMode_ = 2;
  graph_->SetVideoWindow(destination.window, &destination.rect, WS_CHILD | WS_CLIPSIBLINGS, nullptr, 0);
  return S_OK;
}

HRESULT COKRMedia::FinishBuild(const KROutputConfig& output, const KREventWindow& events, LONG run,
                               HRESULT pending) {
  graph_->SetNotifyWindow(events.window, UINT(events.message));
  graphState_ = 1;
  live_ = 0;
  // A stream waits for its first player; the next start runs the graph.
  if (output.mediaOutputType == 4 || output.mediaOutputType == 5 || output.mediaOutputType == 12) {
    runPending_ = 1;
    return pending;
  }
  return run ? StartGraph() : pending;
}

HRESULT COKRMedia::ConnectEncodersToOutput(LONG streamType, bool withAudio) {
  HRESULT hr;
  switch (streamType) {
    case 3:
      hr = ConnectToOutput(videoEncoder_, withAudio ? audioEncoder_ : nullptr);
      break;
    case 2:
      hr = ConnectToOutput(videoEncoder_, nullptr);
      break;
    case 1:
    case 5:
      hr = ConnectToOutput(nullptr, audioEncoder_);
      break;
    default:
      hr = E_FAIL;
  }
  if (FAILED(hr)) TraceError("ERROR! Connection Video/Audio Encoders-Output filters", hr);
  return hr;
}

HRESULT COKRMedia::GetFileStreamTime(bool previewOnly, double* seconds) {
  if (!seconds) return KRM_E_BAD_PARAMETER;
  *seconds = 0.0;
  if (live_) {
    TraceText("GetStreamTime", "The graph is live !");
    return E_FAIL;
  }
  if (graphState_ != 3) {
    TraceText("GetStreamTime", "The graph is stopped !");
    return E_FAIL;
  }
  if (previewOnly) return GetCurrentMediaTime(seconds);
  if (videoEncoder_) {
    IVidEncStats* stats = nullptr;
    HRESULT hr = videoEncoder_->QueryInterface(IID_IVidEncStats, reinterpret_cast<void**>(&stats));
    if (FAILED(hr)) {
      TraceError("GetStreamTime", hr);
      return hr;
    }
    ULONG frames = 0;
    hr = stats->GetFrameCount(&frames);
    stats->Release();
    if (FAILED(hr)) return hr;
    // Whole numbers, as the control shows them.
    const ULONG rate = ULONG(sourceFrameRate_ + 1.0f);
    *seconds = rate ? double(frames / rate) : 0.0;
    return S_OK;
  }
  if (audioEncoder_) {
    IAudEncStats* stats = nullptr;
    HRESULT hr = audioEncoder_->QueryInterface(IID_IAudEncStats, reinterpret_cast<void**>(&stats));
    if (FAILED(hr)) {
      TraceError("GetStreamTime", hr);
      return hr;
    }
    short index = 0, codec = 0;
    int ms = 0;
    hr = stats->GetActiveStream(&index, &codec);
    if (SUCCEEDED(hr)) hr = stats->GetStreamTime(codec, index, &ms);
    stats->Release();
    if (FAILED(hr)) {
      TraceError("GetStreamTime", hr);
      return hr;
    }
    *seconds = double(ms / 1000);
  }
  return S_OK;
}

// ---- IGenFromFile -------------------------------------------------------------------

STDMETHODIMP CImpIGenFromFile::SetSourceFileName(LPCWSTR fileName) {
  if (!fileName) return KRM_E_BAD_PARAMETER;
  const size_t length = wcsnlen(fileName, 256);
  if (length > 255) return KRM_E_STRING_TOO_LONG;
  std::memcpy(sourceFileName_, fileName, length * sizeof(wchar_t));
  sourceFileName_[length] = 0;
  return S_OK;
}

STDMETHODIMP CImpIGenFromFile::GetSourceFileInfo(LPCWSTR fileName, KRSourceFileInfo* info) {
  if (!fileName || !info) {
    COKRMedia::TraceText("GetSourceFileInfo", "Bad parameter");
    return E_INVALIDARG;
  }
  *info = {};
  const size_t length = wcsnlen(fileName, 256);
  if (length > 255) return KRM_E_STRING_TOO_LONG;
  // A probe graph of its own: the engine's graph is not touched.
  CCustomGraph probe;
  HRESULT hr = probe.Create(0);
  IBaseFilter* source = nullptr;
  IPin* out = nullptr;
  if (SUCCEEDED(hr)) hr = probe.AddSourceFilter(fileName, L"Source file", &source);
  if (SUCCEEDED(hr)) hr = probe.FindPinByDirection(source, PINDIR_OUTPUT, &out);
  if (SUCCEEDED(hr)) hr = probe.Render(out);
  SafeRelease(out);
  if (FAILED(hr)) {
    SafeRelease(source);
    probe.Destroy();
    COKRMedia::TraceError("GetSourceFileInfo", hr);
    return KRM_E_SOURCE_FORMAT;
  }
  IMediaPosition* position = nullptr;
  if (SUCCEEDED(probe.QueryGraph(IID_IMediaPosition, reinterpret_cast<void**>(&position)))) {
    REFTIME duration = 0;
    if (SUCCEEDED(position->get_Duration(&duration))) info->duration = int32_t(duration);
    position->Release();
  }
  hr = CountStreams(source, info, 0);
  SafeRelease(source);
  probe.RemoveAllFilters(nullptr, nullptr, nullptr);
  probe.Destroy();
  if (FAILED(hr)) return hr;
  std::memcpy(info->fileName, fileName, length * sizeof(wchar_t));
  info->fileName[length] = 0;
  return S_OK;
}

STDMETHODIMP CImpIGenFromFile::StartEncode(LONG run) {
  COKRMedia* e = engine_;
  if (!e) return KRM_E_FUNCTION_FAILED;
  if (e->GraphState() == 3) {
    COKRMedia::TraceText("StartEncode", "The control must be stopped");
    return KRM_E_MUST_BE_STOPPED;
  }
  if (e->RunPending()) {
    e->SetLive(false);
    previewOnly_ = 0;
    // The start's own result: a start that failed is not reported as done.
    return e->StartGraph();
  }
  KROutputConfig output;
  KRDestinationWindow destination;
  KREventWindow events;
  if (!e->ReadSourceRecords(&output, &destination, &events, nullptr)) {
    COKRMedia::TraceError("StartEncode", KRM_E_INTERFACE_NOT_FOUND);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  HRESULT hr = e->CreateGraph(0);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartEncode", hr);
    return hr;
  }
  const LONG streamType = output.streamType;
  hr = e->CreateKRFilters(streamType, 0);
  if (FAILED(hr)) return hr;
  if (streamType == 5) e->ConfigStillImage();
  return BuildFromFile(output, destination, events, run);
}

HRESULT CImpIGenFromFile::BuildFromFile(const KROutputConfig& output, const KRDestinationWindow& destination,
                                        const KREventWindow& events, LONG run) {
  COKRMedia* e = engine_;
  CCustomGraph* graph = e->Graph();
  const LONG streamType = output.streamType;
  IBaseFilter* source = nullptr;
  HRESULT hr = graph->AddSourceFilter(sourceFileName_, L"Media file filter", &source);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartEncode", hr);
    return hr;
  }
  HRESULT pending = S_OK;
  bool withAudio = true;
  if (streamType == 2 || streamType == 3) {
    if (!e->VideoEncoder()) {
      COKRMedia::TraceText("StartEncode", "No video encoder was created");
      source->Release();
      return E_FAIL;
    }
    hr = graph->ConnectPinsByIndex(source, e->VideoEncoder(), 1, 1);
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode: Source-Video Encoder", hr);
      source->Release();
      return KRM_E_SOURCE_FORMAT;
    }
    hr = e->CommitVideoEncoderSettings();
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode", hr);
      source->Release();
      return hr;
    }
  }
  if (streamType == 3) {
    hr = e->ConnectSourceToAudioEnc(source);
    if (hr == -2) {
      // A file without sound: the video encoder alone goes to the output.
      withAudio = false;
      e->LeaveOutAudioStreams();
      hr = S_OK;
    } else if (FAILED(hr)) {
      COKRMedia::TraceError("AVI Audio decompressor-AudioEncoder", hr);
      source->Release();
      return hr;
    }
  } else if (streamType == 1 || streamType == 5) {
    hr = graph->ConnectPinsByIndex(source, e->AudioEncoder(), 1, 1);
    if (FAILED(hr)) {
      COKRMedia::TraceError("Source-Audio Encoder", hr);
      source->Release();
      return hr;
    }
  }
  source->Release();
  hr = e->ConnectEncodersToOutput(streamType, withAudio);
  if (FAILED(hr)) return hr;
  if (streamType == 2 || streamType == 3) {
    hr = e->CommitEncodingParamToOutput();
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode", hr);
      return hr;
    }
    pending = e->PreviewEncodedVideo(destination, "StartEncode", false);
  }
  previewOnly_ = 0;
  return e->FinishBuild(output, events, run, pending);
}

STDMETHODIMP CImpIGenFromFile::StartPreview(LONG run) {
  COKRMedia* e = engine_;
  if (!e) return KRM_E_FUNCTION_FAILED;
  KROutputConfig output;
  KRDestinationWindow destination;
  KREventWindow events;
  if (!e->ReadSourceRecords(&output, &destination, &events, nullptr)) {
    COKRMedia::TraceError("StartPreview", KRM_E_INTERFACE_NOT_FOUND);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  HRESULT hr = e->CreateGraph(0);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartPreview", hr);
    return hr;
  }
  CCustomGraph* graph = e->Graph();
  IBaseFilter* source = nullptr;
  IPin* out = nullptr;
  hr = graph->AddSourceFilter(sourceFileName_, L"Media file filter", &source);
  if (SUCCEEDED(hr)) hr = graph->FindPinByDirection(source, PINDIR_OUTPUT, &out);
  if (SUCCEEDED(hr)) hr = graph->Render(out);
  SafeRelease(out);
  SafeRelease(source);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartPreview", hr);
    return hr;
  }
  if (destination.window && destination.window == events.window) {
    hr = graph->SetVideoWindow(destination.window, &destination.rect, WS_CHILD | WS_CLIPSIBLINGS, nullptr,
                               UINT(events.message));
  } else {
    if (destination.window)
      graph->SetVideoWindow(destination.window, &destination.rect, WS_CHILD | WS_CLIPSIBLINGS, nullptr, 0);
    hr = graph->SetNotifyWindow(events.window, UINT(events.message));
  }
  e->SetLive(false);
  e->SetGraphState(1);
  previewOnly_ = 1;
  if (run) e->StartGraph();
  return hr;
}

STDMETHODIMP CImpIGenFromFile::Stop() {
  COKRMedia* e = engine_;
  if (!e || !e->Graph()) return KRM_E_BAD_STATE;
  return e->StopGraph(previewOnly_ ? -1 : 0);
}

STDMETHODIMP CImpIGenFromFile::SetPreviewType(LONG type) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  engine_->SetPreviewType(type == 1 ? 2 : type);
  return S_OK;
}

STDMETHODIMP CImpIGenFromFile::GetStreamTime(double* seconds) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->GetFileStreamTime(previewOnly_ != 0, seconds);
}

STDMETHODIMP CImpIGenFromFile::GetImgInfo(LPCWSTR fileName, LONG* flag, BITMAPINFOHEADER** header, LONG* size) {
  if (!flag || !header) return KRM_E_BAD_PARAMETER;
  if (!fileName) return KRM_E_INVALID_FILE_NAME;
  CImgFile image;
  BITMAPINFOHEADER read;
  const BYTE* pixels = nullptr;
  HRESULT hr = image.Load(fileName, &read, &pixels);
  if (FAILED(hr)) return hr;
  auto* copy = static_cast<BITMAPINFOHEADER*>(CoTaskMemAlloc(sizeof(BITMAPINFOHEADER)));
  if (!copy) return KRM_E_OUT_OF_MEMORY;
  *copy = read;
  *flag = 1;
  *header = copy;
  if (size) *size = LONG(read.biSizeImage);
  return S_OK;
}

STDMETHODIMP CImpIGenFromFile::GetDecodedImg(BITMAPINFOHEADER* header, BYTE** data) {
  if (!header || !data) return KRM_E_BAD_PARAMETER;
  if (!engine_ || engine_->StillPixels().empty()) return S_OK;
  *header = engine_->StillHeader();
  *data = const_cast<BYTE*>(engine_->StillPixels().data());
  return S_OK;
}

STDMETHODIMP CImpIGenFromFile::SaveImgFile(LPCWSTR fileName, LONG type, BYTE* image) {
  if (type != 1 && type != 2) return KRM_E_WRONG_IMAGE_FORMAT;
  if (!fileName || !image) return KRM_E_BAD_PARAMETER;
  // The buffer is a 40-byte header followed by its pixels.
  const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image);
  CImgFile file;
  return file.Save(fileName, type, header, image + sizeof(BITMAPINFOHEADER));
}

}  // namespace mediaengine
