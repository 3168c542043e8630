// The authoring chain every source ends in: encoders, multiplexer, streamer,
// and the frame grabber; created by class id and connected by pin ids.
#include "streamer/streamer.h"  // first: it wants winsock2 before windows.h

#include <uuids.h>
#include <vfwmsgs.h>

#include "audioencfilter/guids.h"
#include "framegrabber/grabber.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "release.h"
#include "streammux/mux_format.h"
#include "videoencoder/interfaces.h"

namespace mediaengine {

namespace {

HRESULT CreateFilter(REFCLSID clsid, IBaseFilter** filter) {
  *filter = nullptr;
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

// The first pin of the given direction, with a reference.
HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** found) {
  *found = nullptr;
  IEnumPins* pins = nullptr;
  HRESULT hr = filter->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction) {
      *found = pin;
      break;
    }
    pin->Release();
  }
  pins->Release();
  return *found ? S_OK : VFW_E_NOT_FOUND;
}

}  // namespace

void COKRMedia::DropFilter(IBaseFilter*& filter) {
  if (!filter) return;
  if (graph_) graph_->RemoveFilter(filter);
  SafeRelease(filter);
}

HRESULT COKRMedia::AddNewFilter(REFCLSID clsid, LPCWSTR name, const char* createFailure, HRESULT failure,
                                IBaseFilter** slot) {
  HRESULT hr = CreateFilter(clsid, slot);
  if (FAILED(hr)) {
    TraceText("CreateKRFilters", createFailure);
    return failure;
  }
  hr = graph_->AddFilter(*slot, name);
  if (FAILED(hr)) {
    TraceError("CreateKRFilters", hr);
    SafeRelease(*slot);
    return failure;
  }
  return S_OK;
}

HRESULT COKRMedia::CreateKRFilters(LONG media, LONG /*ignored*/) {
  if (!graph_ || !graph_->HasGraph()) {
    TraceText("CreateKRFilters", "No graph created !");
    return KRM_E_FUNCTION_FAILED;
  }
  HRESULT hr = S_OK;
  if (media == 2 || media == 3 || media == 5) {
    hr = AddNewFilter(CLSID_KRVideoEncoder, L"Video encoder", "Cannot create video encoder",
                      KRM_E_CREATE_VIDEO_ENCODER, &videoEncoder_);
    if (SUCCEEDED(hr)) {
      IPin* input = nullptr;
      if (FAILED(FirstPin(videoEncoder_, PINDIR_INPUT, &input))) {
        TraceText("CreateKRFilters", "Cannot create video encoder");
        hr = KRM_E_CREATE_VIDEO_ENCODER;
      }
      SafeRelease(input);
    }
  }
  if (SUCCEEDED(hr) && (media == 1 || media == 3 || media == 5)) {
    hr = AddNewFilter(CLSID_KRAudEncFlt, L"Audio encoder", "Cannot create audio encoder",
                      KRM_E_CREATE_AUDIO_ENCODER, &audioEncoder_);
    if (SUCCEEDED(hr)) hr = CommitAudioEncoderSettings();
  }
  if (SUCCEEDED(hr))
    hr = AddNewFilter(CLSID_KRStreamer, L"KRStreamer filter", "Cannot create streamer filter",
                      KRM_E_CREATE_STREAMER, &streamer_);
  if (SUCCEEDED(hr))
    hr = AddNewFilter(CLSID_KRStreamMux, L"KRStreamMux filter", "Cannot create Mux filter", KRM_E_CREATE_MUX,
                      &multiplexer_);
  if (SUCCEEDED(hr)) hr = CommitOutputSettings();
  if (FAILED(hr)) {
    // No half-built chain stays behind.
    DropFilter(videoEncoder_);
    DropFilter(audioEncoder_);
    DropFilter(streamer_);
    DropFilter(multiplexer_);
  }
  return hr;
}

HRESULT COKRMedia::CreateGrabFilter(IBaseFilter** grabber) {
  if (!grabber) {
    TraceText("CreateGrabFilter", "Bad parameter");
    return KRM_E_BAD_PARAMETER;
  }
  if (!graph_ || !graph_->HasGraph()) return KRM_E_FUNCTION_FAILED;
  SafeRelease(grabber_);
  HRESULT hr = CreateFilter(CLSID_KRFrameGrabber, &grabber_);
  if (FAILED(hr)) {
    TraceText("CreateGrabFilter", "Cannot create frame grabber");
    return hr;
  }
  hr = graph_->AddFilter(grabber_, L"Grabber filter");
  if (FAILED(hr)) {
    TraceError("CreateGrabFilter", hr);
    SafeRelease(grabber_);
    return hr;
  }
  *grabber = grabber_;
  return S_OK;
}

HRESULT COKRMedia::ConnectSourceToAudioEnc(IBaseFilter* source) {
  if (!source || !audioEncoder_ || !graph_) return KRM_E_BAD_PARAMETER;
  IPin* first = nullptr;
  IEnumPins* pins = nullptr;
  HRESULT hr = source->EnumPins(&pins);
  if (FAILED(hr)) return hr;
  hr = pins->Next(1, &first, nullptr);
  pins->Release();
  if (hr != S_OK) return hr == S_FALSE ? VFW_E_NOT_FOUND : hr;
  IPin* downstreamPin = nullptr;
  hr = first->ConnectedTo(&downstreamPin);
  first->Release();
  if (FAILED(hr)) return hr;
  PIN_INFO info = {};
  hr = downstreamPin->QueryPinInfo(&info);
  downstreamPin->Release();
  if (FAILED(hr) || !info.pFilter) return E_FAIL;
  IBaseFilter* downstream = info.pFilter;

  // The first audio pin of the filter behind the source goes to the encoder.
  hr = downstream->EnumPins(&pins);
  if (FAILED(hr)) {
    downstream->Release();
    return E_FAIL;
  }
  HRESULT result = -2;
  IPin* pin = nullptr;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    LPWSTR id = nullptr;
    LONG kind = 0;
    if (SUCCEEDED(pin->QueryId(&id)) && SUCCEEDED(graph_->GetPinMajorType(downstream, id, &kind)) && kind == 2) {
      result = graph_->ConnectByPinIds(downstream, audioEncoder_, id, L"Audio in");
      CoTaskMemFree(id);
      pin->Release();
      break;
    }
    CoTaskMemFree(id);
    pin->Release();
  }
  pins->Release();
  downstream->Release();
  return result;
}

HRESULT COKRMedia::ConnectOutputPin(IBaseFilter* from, IBaseFilter* to, LPCWSTR inputId, const char* traceName) {
  IPin* out = nullptr;
  IPin* in = nullptr;
  HRESULT hr = FirstPin(from, PINDIR_OUTPUT, &out);
  if (SUCCEEDED(hr)) hr = to->FindPin(inputId, &in);
  if (SUCCEEDED(hr)) {
    hr = graph_->Connect(out, in);
    if (FAILED(hr)) TraceError(traceName, hr);
  }
  SafeRelease(out);
  SafeRelease(in);
  return hr;
}

HRESULT COKRMedia::ConnectToOutput(IBaseFilter* videoEncoder, IBaseFilter* audioEncoder) {
  if (!graph_ || !multiplexer_ || !streamer_) {
    TraceText("ConnectToOutput", "KRStreamer filter not instantiated");
    return KRM_E_FUNCTION_FAILED;
  }
  HRESULT hr = S_OK;
  if (videoEncoder) {
    hr = ConnectOutputPin(videoEncoder, multiplexer_, L"Video in", "VideoEnc-Output(stream or file)");
    if (FAILED(hr)) return hr;
  }
  if (audioEncoder) {
    hr = ConnectOutputPin(audioEncoder, multiplexer_, L"Audio in", "AudioEnc-Output(stream or file)");
    if (FAILED(hr)) return hr;
  }
  return ConnectOutputPin(multiplexer_, streamer_, L"KRStreamer Input", "ConnectToOutput");
}

HRESULT COKRMedia::RemoveVideoEncoder() {
  if (!videoEncoder_) return S_OK;
  HRESULT hr = graph_ ? graph_->RemoveFilter(videoEncoder_) : S_OK;
  SafeRelease(videoEncoder_);
  return hr;
}

}  // namespace mediaengine
