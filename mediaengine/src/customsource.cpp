// The custom source: the host's own video and audio buffers, through one
// custom source filter per stream, into the authoring chain; a stream may
// also come from the file named through the embedded file source.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <strmif.h>
#include <uuids.h>

#include <cstring>

#include "customsource/customsource.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "release.h"

namespace mediaengine {

namespace {

constexpr LONG kVideo = 0, kAudio = 1;
constexpr LONG kFromFile = 0, kFromCustom = 2;

void ClearType(AM_MEDIA_TYPE* mt) {
  if (mt->pbFormat) CoTaskMemFree(mt->pbFormat);
  if (mt->pUnk) mt->pUnk->Release();
  *mt = {};
}

// A whole copy: the format block in memory of its own, the object counted.
HRESULT CopyType(AM_MEDIA_TYPE* to, const AM_MEDIA_TYPE& from) {
  AM_MEDIA_TYPE copy = from;
  copy.pbFormat = nullptr;
  if (from.cbFormat && from.pbFormat) {
    copy.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(from.cbFormat));
    if (!copy.pbFormat) return KRM_E_OUT_OF_MEMORY;
    std::memcpy(copy.pbFormat, from.pbFormat, from.cbFormat);
  } else {
    copy.cbFormat = 0;
  }
  if (copy.pUnk) copy.pUnk->AddRef();
  ClearType(to);
  *to = copy;
  return S_OK;
}

}  // namespace

CImpIGenFromCustom::CImpIGenFromCustom(COKRMedia* engine, IUnknown* controlling)
    : CNestedInterface(engine, controlling), file_(engine, controlling) {}

CImpIGenFromCustom::~CImpIGenFromCustom() {
  for (Stream& s : streams_) {
    SafeRelease(s.filter);
    ClearType(&s.type);
  }
}

STDMETHODIMP CImpIGenFromCustom::SetSourceOption(LONG option, LONG value) {
  if (value < 0 || value > 2) return KRM_E_UNKNOWN_MEDIA_SOURCE;
  switch (option) {
    case 1:
      audioOption_ = value;
      return S_OK;
    case 2:
      videoOption_ = value;
      return S_OK;
    case 3:
      audioOption_ = videoOption_ = value;
      return S_OK;
    case 5:
      return S_OK;
    default:
      return KRM_E_UNKNOWN_SOURCE_OPTION;
  }
}

STDMETHODIMP CImpIGenFromCustom::ConfigMediaSource(LONG stream, void* description, AM_MEDIA_TYPE* type) {
  if ((stream != kVideo && stream != kAudio) || !description || !type) return KRM_E_BAD_PARAMETER;
  if (!IsEqualGUID(type->majortype, stream == kVideo ? MEDIATYPE_Video : MEDIATYPE_Audio)) {
    COKRMedia::TraceText("ConfigMediaSource", "Wrong custom source configuration");
    return KRM_E_WRONG_CUSTOM_CONFIG;
  }
  Stream& s = streams_[stream];
  HRESULT hr = CopyType(&s.type, *type);
  if (FAILED(hr)) return hr;
  std::memcpy(s.description, description, sizeof s.description);
  return S_OK;
}

STDMETHODIMP CImpIGenFromCustom::SetBuffer(LONG stream, LONG_PTR data, LONG length, LONG startMs, LONG stopMs) {
  if (stream != kVideo && stream != kAudio) return KRM_E_BAD_PARAMETER;
  // No filter until a build made one: nothing to hand the buffer to.
  IBaseFilter* filter = streams_[stream].filter;
  if (!filter) return KRM_E_WRONG_INITIALIZATION;
  IKRCustomSource* buffers = nullptr;
  HRESULT hr = filter->QueryInterface(IID_IKRCustomSource, reinterpret_cast<void**>(&buffers));
  if (FAILED(hr)) return hr;
  hr = buffers->SetBuffer(data, length, startMs, stopMs);
  buffers->Release();
  return hr == KRCS_E_QUEUE_FULL ? KRCS_E_TRY_AGAIN : hr;
}

STDMETHODIMP CImpIGenFromCustom::InitCustom(LONG stream, LONG bufferCount, LONG bufferSize) {
  if (engine_ && engine_->GraphState() == 3) {
    COKRMedia::TraceText("InitCustom", "The control must be stopped");
    return KRM_E_MUST_BE_STOPPED;
  }
  if (stream != kVideo && stream != kAudio) return KRM_E_BAD_PARAMETER;
  if (bufferCount < 1) return KRM_E_CUSTOM_BUFFER_COUNT;
  if (bufferSize <= 0) return KRM_E_CUSTOM_BUFFER_SIZE;
  streams_[stream].bufferCount = bufferCount;
  streams_[stream].bufferSize = bufferSize;
  return S_OK;
}

STDMETHODIMP CImpIGenFromCustom::SetPreviewType(LONG type) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  engine_->SetPreviewType(type == 1 ? 2 : type);
  // The capture picture is the live source's alone.
  return type == 1 ? KRM_E_WRONG_MODE : S_OK;
}

STDMETHODIMP CImpIGenFromCustom::GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) {
  return engine_ ? engine_->GetDSEvent(code, param1, param2) : KRM_E_FUNCTION_FAILED;
}

STDMETHODIMP CImpIGenFromCustom::GetDSEventHandle(HANDLE* event) {
  return engine_ ? engine_->GetDSEventHandle(event) : KRM_E_FUNCTION_FAILED;
}

STDMETHODIMP CImpIGenFromCustom::SetSourceFileName(LPCWSTR fileName) { return file_.SetSourceFileName(fileName); }

STDMETHODIMP CImpIGenFromCustom::GetSourceFileInfo(LPCWSTR fileName, KRSourceFileInfo* info) {
  return file_.GetSourceFileInfo(fileName, info);
}

STDMETHODIMP CImpIGenFromCustom::Stop(SHORT mode) {
  COKRMedia* e = engine_;
  if (!e || !e->Graph()) return KRM_E_BAD_STATE;
  return e->StopGraph(previewOnly_ ? -1 : LONG(mode));
}

HRESULT CImpIGenFromCustom::CommitCustomSourceSettings(LONG stream) {
  if (stream != kVideo && stream != kAudio) return KRM_E_BAD_PARAMETER;
  Stream& s = streams_[stream];
  if (!s.filter) {
    HRESULT hr = CoCreateInstance(CLSID_KRCustomSource, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                  reinterpret_cast<void**>(&s.filter));
    if (FAILED(hr)) {
      s.filter = nullptr;
      COKRMedia::TraceText("CommitCustomSourceSettings", "Cannot create custom source filter");
      return KRM_E_CREATE_CUSTOM_SOURCE;
    }
  }
  HRESULT hr = engine_->Graph()->AddFilter(s.filter, L"Custom source filter");
  if (FAILED(hr)) {
    COKRMedia::TraceError("CommitCustomSourceSettings", hr);
    return KRM_E_CREATE_CUSTOM_SOURCE;
  }
  IKRCustomSource* buffers = nullptr;
  hr = s.filter->QueryInterface(IID_IKRCustomSource, reinterpret_cast<void**>(&buffers));
  if (FAILED(hr)) return hr;
  // A pool the filter refuses is no success: its buffers would all fail.
  hr = buffers->SetPool(s.bufferCount, s.bufferSize);
  if (SUCCEEDED(hr)) hr = buffers->SetOutputType(s.description, &s.type);
  buffers->Release();
  return hr;
}

HRESULT CImpIGenFromCustom::AddCustomStream(LONG stream, const char* operation) {
  if (FAILED(CommitCustomSourceSettings(stream))) {
    COKRMedia::TraceText(operation, "Wrong custom source configuration");
    return KRM_E_WRONG_CUSTOM_CONFIG;
  }
  if (!engine_->Graph() || !streams_[stream].filter) {
    COKRMedia::TraceText(operation, "Wrong initialization");
    return KRM_E_WRONG_INITIALIZATION;
  }
  return S_OK;
}

HRESULT CImpIGenFromCustom::ConnectSourceToEncoder(LONG streamType) {
  COKRMedia* e = engine_;
  CCustomGraph* graph = e->Graph();
  HRESULT hr = S_OK;
  if (streamType == 3 && (audioOption_ == kFromFile || videoOption_ == kFromFile)) {
    IBaseFilter* source = nullptr;
    hr = graph->AddSourceFilter(file_.SourceFileName(), L"Media file filter", &source);
    if (FAILED(hr)) return hr;
    const bool video = videoOption_ == kFromFile;
    hr = graph->ConnectPinsByIndex(source, video ? e->VideoEncoder() : e->AudioEncoder(), 1, 1);
    source->Release();
    if (FAILED(hr)) {
      COKRMedia::TraceError(video ? "ConnectSourceToEncoder: Source-Video Encoder"
                                  : "ConnectSourceToEncoder: Source-Audio Encoder",
                            hr);
      return KRM_E_SOURCE_FORMAT;
    }
    // The file's pictures take the user's video settings as a custom
    // stream's do; uncommitted, the encoder would code at its own defaults.
    if (video) {
      hr = e->CommitVideoEncoderSettings();
      if (FAILED(hr)) return hr;
    }
  }
  if ((streamType == 2 || streamType == 3) && videoOption_ == kFromCustom) {
    if (!e->VideoEncoder() || !streams_[kVideo].filter) {
      COKRMedia::TraceText("ConnectSourceToEncoder", "Cannot create video encoder");
      return KRM_E_CREATE_VIDEO_ENCODER;
    }
    hr = graph->ConnectPinsByIndex(streams_[kVideo].filter, e->VideoEncoder(), 1, 1);
    if (FAILED(hr)) {
      COKRMedia::TraceError("ConnectSourceToEncoder: Custom source-Video Encoder", hr);
      return KRM_E_SOURCE_FORMAT;
    }
    hr = e->CommitVideoEncoderSettings();
    if (FAILED(hr)) return hr;
  }
  if ((streamType == 1 || streamType == 3 || streamType == 5) && audioOption_ == kFromCustom) {
    if (!e->AudioEncoder() || !streams_[kAudio].filter) {
      COKRMedia::TraceText("ConnectSourceToEncoder", "Cannot create audio encoder");
      return KRM_E_CREATE_AUDIO_ENCODER;
    }
    hr = graph->ConnectPinsByIndex(streams_[kAudio].filter, e->AudioEncoder(), 1, 1);
    if (FAILED(hr)) {
      COKRMedia::TraceError("ConnectSourceToEncoder: Custom source-Audio Encoder", hr);
      return KRM_E_SOURCE_FORMAT;
    }
  }
  return hr;
}

STDMETHODIMP CImpIGenFromCustom::StartEncode(LONG run) {
  COKRMedia* e = engine_;
  if (!e) return KRM_E_FUNCTION_FAILED;
  if (e->GraphState() == 3) {
    COKRMedia::TraceText("StartEncode", "The control must be stopped");
    return KRM_E_MUST_BE_STOPPED;
  }
  if (e->RunPending()) {
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
  if ((audioOption_ == kFromFile && videoOption_ == kFromFile) || audioOption_ == 1 || videoOption_ == 1)
    return KRM_E_WRONG_INITIALIZATION;
  HRESULT hr = e->CreateGraph(1);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartEncode", hr);
    return hr;
  }
  if (videoOption_ == kFromCustom && FAILED(hr = AddCustomStream(kVideo, "StartEncode"))) return hr;
  if (audioOption_ == kFromCustom && FAILED(hr = AddCustomStream(kAudio, "StartEncode"))) return hr;
  const LONG streamType = output.streamType;
  hr = e->CreateKRFilters(streamType, 0);
  if (FAILED(hr)) return hr;
  hr = ConnectSourceToEncoder(streamType);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartEncode", hr);
    return hr;
  }
  HRESULT pending = hr;
  hr = e->ConnectEncodersToOutput(streamType, true);
  if (FAILED(hr)) return hr;
  pending = hr;
  if (streamType == 2 || streamType == 3) {
    hr = e->CommitEncodingParamToOutput();
    if (FAILED(hr)) {
      COKRMedia::TraceError("StartEncode", hr);
      return hr;
    }
    pending = e->PreviewEncodedVideo(destination, "StartEncode", true);
    if (pending == KRM_E_CREATE_VIDEO_ENCODER) return pending;
  }
  previewOnly_ = 0;
  return e->FinishBuild(output, events, run, pending);
}

HRESULT CImpIGenFromCustom::RenderCustomStream(LONG stream) {
  HRESULT hr = AddCustomStream(stream, "StartPreview");
  if (FAILED(hr)) return hr;
  IPin* out = nullptr;
  hr = streams_[stream].filter->FindPin(L"Out", &out);
  if (SUCCEEDED(hr)) hr = engine_->Graph()->Render(out);
  SafeRelease(out);
  if (FAILED(hr)) {
    COKRMedia::TraceError("StartPreview", hr);
    return KRM_E_SOURCE_FORMAT;
  }
  return S_OK;
}

STDMETHODIMP CImpIGenFromCustom::StartPreview(LONG build, LONG run) {
  COKRMedia* e = engine_;
  if (e && e->GraphState() == 3) {
    COKRMedia::TraceText("StartPreview", "The control must be stopped");
    return KRM_E_MUST_BE_STOPPED;
  }
  if (!e) {
    COKRMedia::TraceText("StartPreview", "The function failed");
    return KRM_E_FUNCTION_FAILED;
  }
  HRESULT result = S_OK;
  if (build) {
    KROutputConfig output;
    KRDestinationWindow destination;
    KREventWindow events;
    if (!e->ReadSourceRecords(&output, &destination, &events, nullptr)) {
      COKRMedia::TraceError("StartPreview", KRM_E_INTERFACE_NOT_FOUND);
      return KRM_E_INTERFACE_NOT_FOUND;
    }
    e->CreateGraph(0);
    if (!e->Graph()) return KRM_E_WRONG_INITIALIZATION;
    HRESULT hr;
    if (videoOption_ == kFromCustom) {
      if (FAILED(hr = RenderCustomStream(kVideo))) return hr;
      e->Graph()->SetVideoWindow(destination.window, &destination.rect, WS_CHILD | WS_CLIPSIBLINGS, nullptr, 0);
    }
    if (audioOption_ == kFromCustom && FAILED(hr = RenderCustomStream(kAudio))) return hr;
    // Neither stream custom: an empty preview that still reports its events.
    result = e->Graph()->SetNotifyWindow(events.window, UINT(events.message));
  }
  e->SetLive(false);
  e->SetGraphState(1);
  previewOnly_ = 1;
  if (run) e->StartGraph();
  return result;
}

}  // namespace mediaengine
