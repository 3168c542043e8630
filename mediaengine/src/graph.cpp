// The engine's graph: creation, emptying, start and stop, and the delivery
// of graph events to the control.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <control.h>
#include <evcode.h>

#include <cstring>
#include <new>

#include "mediaengine/errors.h"
#include "release.h"
#include "mediaengine/media.h"

namespace mediaengine {

namespace {

// Events whose first parameter points at a block of the second's length.
bool CarriesBlock(LONG code) { return code >= 32774 && code <= 32776; }

// No event block is larger than this; a larger length is not copied.
constexpr LONG_PTR kMostEventBlock = 16 << 20;

}  // namespace

bool COKRMedia::ReadOutputConfig(KROutputConfig* output) {
  IKRMediaConfig* config = nullptr;
  if (!config_ || FAILED(config_->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)))) return false;
  bool ok = SUCCEEDED(config->GetConfigOutput(output));
  config->Release();
  return ok;
}

void COKRMedia::SetStreamer(IBaseFilter* streamer) {
  if (streamer) streamer->AddRef();
  SafeRelease(streamer_);
  streamer_ = streamer;
}

void COKRMedia::ForgetFilters() {
  SafeRelease(videoEncoder_);
  SafeRelease(audioEncoder_);
  SafeRelease(grabber_);
  SafeRelease(multiplexer_);
  SafeRelease(streamer_);
}

HRESULT COKRMedia::CreateGraph(LONG mode) {
  if (!graph_) {
    live_ = 0;
    graph_ = new (std::nothrow) CCustomGraph();
    if (!graph_) return KRM_E_OUT_OF_MEMORY;
    if (mode != 0 && mode != 1) return S_OK;
    // The capture graph builder is made for every source.
    HRESULT hr = graph_->Create(1);
    if (FAILED(hr)) TraceError("CreateGraph", hr);
    return hr;
  }
  KROutputConfig output;
  if (!ReadOutputConfig(&output)) {
    TraceError("CreateGraph", KRM_E_INTERFACE_NOT_FOUND);
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  HRESULT emptied = DestroyGraph();
  if (mode == 0 && live_) {
    genFromLive_.RemoveCaptureDevice(1);
    genFromLive_.RemoveCaptureDevice(0);
  }
  if (mode == 0 || (mode == 1 && !live_)) {
    graph_->Destroy();
    HRESULT hr = graph_->Create(1);
    if (FAILED(hr)) TraceError("CreateGraph", hr);
    if (mode == 0) live_ = 0;
    return hr;
  }
  // A live graph keeps its capture filters and is used again.
  return emptied;
}

HRESULT COKRMedia::DestroyGraph() {
  if (!graph_) return E_FAIL;
  LONG flushed = 0;
  FlushEvent(&flushed);
  LONG count = 0;
  // The live source's devices stay in the graph: they are used again.
  IBaseFilter* camera = genFromLive_.VideoCapture();
  IBaseFilter* microphone = genFromLive_.AudioCapture();
  HRESULT hr = camera || microphone ? graph_->RemoveAllFilters(&count, camera, microphone)
                                    : graph_->RemoveAllFilters(&count, nullptr, nullptr);
  if (FAILED(hr)) TraceError("DestroyGraph", hr);
  graph_->ResetWindows();
  ForgetFilters();
  genFromLive_.ForgetGraph();
  return hr;
}

HRESULT COKRMedia::StartGraph() {
  if (!graph_ || graphState_ != 1) return S_OK;
  IMediaControl* control = nullptr;
  HRESULT hr = graph_->QueryGraph(IID_IMediaControl, reinterpret_cast<void**>(&control));
  if (FAILED(hr)) {
    TraceError("StartGraph", hr);
    return hr;
  }
  OAFilterState state;
  control->GetState(500, &state);
  IMediaPosition* position = nullptr;
  if (SUCCEEDED(graph_->QueryGraph(IID_IMediaPosition, reinterpret_cast<void**>(&position)))) {
    position->put_CurrentPosition(0.0);
    position->Release();
  }
  hr = control->Run();
  control->Release();
  if (SUCCEEDED(hr)) {
    graphState_ = 3;
    startTime_ = time(nullptr);
  } else {
    TraceError("StartGraph", hr);
  }
  return hr;
}

HRESULT COKRMedia::SetStreamerPauseState(LONG keepClients) {
  IKRStreamerControl* control = nullptr;
  if (FAILED(streamer_->QueryInterface(IID_IKRStreamerControl, reinterpret_cast<void**>(&control)))) {
    TraceText("StopGraph", "Interface not found");
    return KRM_E_INTERFACE_NOT_FOUND;
  }
  control->SetPauseState(keepClients);
  control->Release();
  return S_OK;
}

HRESULT COKRMedia::StopGraph(LONG mode) {
  HRESULT hr = S_OK;
  if (graph_ && mode != -1) {
    KROutputConfig output = {};
    output.mediaOutputType = 1;
    ReadOutputConfig(&output);
    LONG flushed = 0;
    FlushEvent(&flushed);
    if (mode == 1) {
      if (!streamer_) {
        TraceText("StopGraph", "Cannot create streamer filter");
        return KRM_E_CREATE_STREAMER;
      }
      // A file-only output has no clients to keep.
      if (output.mediaOutputType != 1) {
        hr = SetStreamerPauseState(1);
        if (FAILED(hr)) return hr;
      }
      runPending_ = 1;
    } else {
      if (streamer_ && output.mediaOutputType != 1) {
        hr = SetStreamerPauseState(0);
        if (FAILED(hr)) return hr;
      }
      runPending_ = 0;
    }
  }
  if (graph_ && graphState_ == 3) {
    hr = graph_->Stop();
    if (FAILED(hr)) TraceError("StopGraph", hr);
    graphState_ = 1;
  }
  return hr;
}

HRESULT COKRMedia::FlushEvent(LONG* count) {
  if (count) *count = 0;
  IMediaEventEx* events = nullptr;
  if (!graph_ || FAILED(graph_->QueryGraph(IID_IMediaEventEx, reinterpret_cast<void**>(&events)))) return S_OK;
  long code;
  LONG_PTR p1, p2;
  while (events->GetEvent(&code, &p1, &p2, 10) == S_OK) {
    if (count) ++*count;
    events->FreeEventParams(code, p1, p2);
  }
  events->Release();
  return S_OK;
}

HRESULT COKRMedia::GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) {
  if (!code || !param1 || !param2) return KRM_E_BAD_PARAMETER;
  if (!graph_ || !graph_->HasGraph()) {
    TraceText("GetDSEvent", "No graph created !");
    return KRM_E_FUNCTION_FAILED;
  }
  IMediaEventEx* events = nullptr;
  if (FAILED(graph_->QueryGraph(IID_IMediaEventEx, reinterpret_cast<void**>(&events))))
    return KRM_E_INTERFACE_NOT_FOUND;
  long got;
  LONG_PTR p1, p2;
  HRESULT hr = events->GetEvent(&got, &p1, &p2, 100);
  if (hr != S_OK) {
    events->Release();
    return E_ABORT;
  }
  *code = got;
  *param1 = p1;
  *param2 = p2;
  // The block is the filter's; the control keeps a copy past the graph's
  // own record. A null block is delivered as it came.
  if (CarriesBlock(got) && p1 && p2 > 0 && p2 <= kMostEventBlock) {
    BYTE* copy = new (std::nothrow) BYTE[size_t(p2)];
    if (copy) {
      std::memcpy(copy, reinterpret_cast<const void*>(p1), size_t(p2));
      *param1 = reinterpret_cast<LONG_PTR>(copy);
    } else {
      hr = KRM_E_OUT_OF_MEMORY;
      *param1 = 0;
      *param2 = 0;
    }
  }
  if (live_ && got == 32778 && genFromLive_.VideoCapture()) {
    // The capture rate goes back to the one before the encoding.
    KROutputConfig output;
    if (ReadOutputConfig(&output)) genFromLive_.ResetSrcFrameRate(output);
  }
  if (live_ && got == 32781) {
    // The drift in milliseconds rides in the second parameter.
    const HRESULT adjusted = AdjustCaptureClock(p2);
    if (FAILED(adjusted)) hr = adjusted;
  }
  events->FreeEventParams(got, p1, p2);
  events->Release();
  return hr;
}

HRESULT COKRMedia::FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  // Only the blocks GetDSEvent copied are freed.
  if (!CarriesBlock(code) || param2 <= 0 || param2 > kMostEventBlock) return S_OK;
  if (!param1) return E_FAIL;
  delete[] reinterpret_cast<BYTE*>(param1);
  return S_OK;
}

HRESULT COKRMedia::GetDSEventHandle(HANDLE* event) {
  if (!event) return KRM_E_BAD_PARAMETER;
  *event = nullptr;
  if (!graph_ || !graph_->HasGraph()) return KRM_E_FUNCTION_FAILED;
  IMediaEventEx* events = nullptr;
  if (FAILED(graph_->QueryGraph(IID_IMediaEventEx, reinterpret_cast<void**>(&events))))
    return KRM_E_INTERFACE_NOT_FOUND;
  OAEVENT handle = 0;
  HRESULT hr = events->GetEventHandle(&handle);
  events->Release();
  *event = reinterpret_cast<HANDLE>(handle);
  return hr;
}

HRESULT COKRMedia::GetCurrentMediaTime(double* seconds) {
  if (!seconds) return KRM_E_BAD_PARAMETER;
  *seconds = graphState_ == 3 ? double(time(nullptr) - startTime_) : 0.0;
  return S_OK;
}

// ---- the file source's event operations ---------------------------------------

STDMETHODIMP CImpIGenFromFile::GetDSEvent(LONG* code, LONG_PTR* param1, LONG_PTR* param2) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->Live() ? KRM_E_WRONG_MODE : engine_->GetDSEvent(code, param1, param2);
}

STDMETHODIMP CImpIGenFromFile::GetDSEventHandle(HANDLE* event) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->Live() ? KRM_E_WRONG_MODE : engine_->GetDSEventHandle(event);
}

STDMETHODIMP CImpIGenFromFile::FreeDSEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
  if (!engine_) return KRM_E_FUNCTION_FAILED;
  return engine_->Live() ? KRM_E_WRONG_MODE : engine_->FreeDSEvent(code, param1, param2);
}

}  // namespace mediaengine
