#include "mediaengine/customgraph.h"

#include <uuids.h>

#include <vector>

#include "mediaengine/errors.h"
#include "release.h"
#include "mediaengine/trace.h"

namespace mediaengine {

namespace {

void FreeMediaType(AM_MEDIA_TYPE* mt) {
  if (mt->cbFormat) CoTaskMemFree(mt->pbFormat);
  if (mt->pUnk) mt->pUnk->Release();
  CoTaskMemFree(mt);
}

// The filter's pins in enumeration order, each with a reference.
std::vector<IPin*> Pins(IBaseFilter* filter, size_t most, HRESULT* result) {
  std::vector<IPin*> pins;
  IEnumPins* pinEnum = nullptr;
  *result = filter->EnumPins(&pinEnum);
  if (FAILED(*result) || !pinEnum) {
    *result = E_FAIL;
    return pins;
  }
  IPin* pin = nullptr;
  while (pins.size() < most && pinEnum->Next(1, &pin, nullptr) == S_OK) pins.push_back(pin);
  pinEnum->Release();
  return pins;
}

void ReleasePins(std::vector<IPin*>& pins) {
  for (IPin* p : pins) p->Release();
  pins.clear();
}

}  // namespace

CCustomGraph::~CCustomGraph() {
  SafeRelease(builder_);
  SafeRelease(graph_);
}

void CCustomGraph::TraceFailure(HRESULT code) const {
  Trace("DBG:CCustomGraph ERROR: " + DirectShowErrorText(code));
}

HRESULT CCustomGraph::Create(LONG withBuilder) {
  Destroy();
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                reinterpret_cast<void**>(&graph_));
  if (FAILED(hr)) {
    TraceFailure(hr);
    graph_ = nullptr;
    return hr;
  }
  if (withBuilder != 1) return hr;
  hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC, IID_ICaptureGraphBuilder2,
                        reinterpret_cast<void**>(&builder_));
  if (FAILED(hr)) {
    TraceFailure(hr);
    builder_ = nullptr;
    return hr;
  }
  hr = builder_->SetFiltergraph(graph_);
  if (FAILED(hr)) TraceFailure(hr);
  return hr;
}

// Only our own reference goes: whoever queried the graph keeps theirs.
HRESULT CCustomGraph::Destroy() {
  SafeRelease(builder_);
  SafeRelease(graph_);
  notifyWindow_ = nullptr;
  notifyMessage_ = 0;
  videoOwner_ = nullptr;
  return S_OK;
}

HRESULT CCustomGraph::QueryGraph(REFIID iid, void** out) {
  if (!graph_) return -1;
  HRESULT hr = graph_->QueryInterface(iid, out);
  if (FAILED(hr)) TraceFailure(hr);
  return hr;
}

HRESULT CCustomGraph::AddFilter(IBaseFilter* filter, LPCWSTR name) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  return graph_->AddFilter(filter, name);
}

HRESULT CCustomGraph::RemoveFilter(IBaseFilter* filter) {
  if (!filter) return KRM_E_BAD_PARAMETER;
  if (!graph_) return S_OK;
  return graph_->RemoveFilter(filter);
}

HRESULT CCustomGraph::FindFilterByName(LPCWSTR name, IBaseFilter** filter) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  return graph_->FindFilterByName(name, filter);
}

HRESULT CCustomGraph::AddSourceFilter(LPCWSTR fileName, LPCWSTR name, IBaseFilter** filter) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  return graph_->AddSourceFilter(fileName, name, filter);
}

HRESULT CCustomGraph::Connect(IPin* outPin, IPin* inPin) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  return graph_->Connect(outPin, inPin);
}

HRESULT CCustomGraph::Render(IPin* pin) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  return graph_->Render(pin);
}

HRESULT CCustomGraph::FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid,
                                    void** out) {
  if (!builder_) return S_OK;
  return builder_->FindInterface(category, type, filter, iid, out);
}

HRESULT CCustomGraph::RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                   IBaseFilter* intermediate, IBaseFilter* sink) {
  if (!builder_) return KRM_E_FUNCTION_FAILED;
  return builder_->RenderStream(category, type, source, intermediate, sink);
}

HRESULT CCustomGraph::Stop() {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  IMediaControl* control = nullptr;
  HRESULT hr = graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  if (FAILED(hr)) return hr;
  hr = control->Pause();
  OAFilterState state;
  hr = control->GetState(500, &state);
  hr = control->Stop();
  control->Release();
  // The rewind is best effort: a graph that cannot seek (every live capture
  // graph) has still stopped.
  IMediaPosition* position = nullptr;
  if (SUCCEEDED(graph_->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)))) {
    position->put_CurrentPosition(0.0);
    position->Release();
  }
  return hr;
}

HRESULT CCustomGraph::SetNotifyWindow(HWND window, UINT message) {
  if (message == 0) return S_OK;
  if (!window) return KRM_E_BAD_PARAMETER;
  notifyWindow_ = window;
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  IMediaEventEx* events = nullptr;
  HRESULT hr = graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
  if (FAILED(hr)) return hr;
  hr = events->SetNotifyWindow(reinterpret_cast<OAHWND>(window), message, 0);
  events->Release();
  notifyMessage_ = message;
  return hr;
}

HRESULT CCustomGraph::SetVideoWindow(HWND owner, const RECT* rect, LONG style, HWND messageDrain, UINT message) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  if (!rect) return KRM_E_BAD_PARAMETER;
  videoOwner_ = owner;
  IVideoWindow* video = nullptr;
  HRESULT hr = graph_->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&video));
  if (FAILED(hr)) return hr;
  hr = video->put_Owner(reinterpret_cast<OAHWND>(owner));
  if (SUCCEEDED(hr)) hr = video->put_MessageDrain(reinterpret_cast<OAHWND>(messageDrain));
  if (SUCCEEDED(hr)) hr = video->put_WindowStyle(style);
  if (SUCCEEDED(hr)) hr = video->SetWindowPosition(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top);
  video->Release();
  if (SUCCEEDED(hr) && message != 0) hr = SetNotifyWindow(owner, message);
  return hr;
}

HRESULT CCustomGraph::ResetWindows() {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  IVideoWindow* video = nullptr;
  // A graph without a video renderer has no window to detach.
  if (SUCCEEDED(graph_->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&video)))) {
    video->put_Owner(0);
    video->put_Visible(0)  /* OAFALSE */;
    video->Release();
  }
  videoOwner_ = nullptr;
  HRESULT hr = S_OK;
  if (notifyWindow_) {
    IMediaEventEx* events = nullptr;
    hr = graph_->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
    if (SUCCEEDED(hr)) {
      hr = events->SetNotifyWindow(0, notifyMessage_, 0);
      events->Release();
    }
    notifyWindow_ = nullptr;
  }
  return hr;
}

namespace {

// Whether one of the filter's output pins is connected.
bool FeedsAnother(IBaseFilter* filter) {
  HRESULT hr;
  std::vector<IPin*> pins = Pins(filter, SIZE_MAX, &hr);
  bool feeds = false;
  for (IPin* pin : pins) {
    PIN_DIRECTION direction;
    IPin* other = nullptr;
    if (!feeds && SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
        SUCCEEDED(pin->ConnectedTo(&other)) && other) {
      other->Release();
      feeds = true;
    }
  }
  ReleasePins(pins);
  return feeds;
}

}  // namespace

HRESULT CCustomGraph::RemoveAllFilters(LONG* count, IBaseFilter* keep1, IBaseFilter* keep2) {
  if (count) *count = 0;
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  IEnumFilters* filterEnum = nullptr;
  HRESULT hr = graph_->EnumFilters(&filterEnum);
  if (FAILED(hr)) return hr;
  // Every filter is collected first: removing while enumerating would put
  // the enumerator out of step with the graph.
  std::vector<IBaseFilter*> filters;
  IBaseFilter* filter = nullptr;
  while (filterEnum->Next(1, &filter, nullptr) == S_OK) filters.push_back(filter);
  filterEnum->Release();
  if (count) *count = static_cast<LONG>(filters.size());
  std::vector<IBaseFilter*> remaining;
  for (IBaseFilter* f : filters)
    if (f != keep1 && f != keep2) remaining.push_back(f);
  // Downstream filters go first: a parser whose input is cut while its
  // outputs are still connected (Wine's) pulls its pins from under them. The
  // graph's RemoveFilter disconnects both ends of each connection.
  hr = S_OK;
  while (!remaining.empty()) {
    size_t pick = 0;
    while (pick < remaining.size() && FeedsAnother(remaining[pick])) ++pick;
    if (pick == remaining.size()) pick = 0;
    HRESULT removed = graph_->RemoveFilter(remaining[pick]);
    if (FAILED(removed)) hr = removed;
    remaining.erase(remaining.begin() + static_cast<std::ptrdiff_t>(pick));
  }
  // The kept filters stay, disconnected.
  for (IBaseFilter* kept : {keep1, keep2}) {
    if (!kept) continue;
    HRESULT pinsResult;
    std::vector<IPin*> pins = Pins(kept, SIZE_MAX, &pinsResult);
    for (IPin* pin : pins) {
      IPin* other = nullptr;
      if (SUCCEEDED(pin->ConnectedTo(&other)) && other) {
        graph_->Disconnect(other);
        graph_->Disconnect(pin);
        other->Release();
      }
    }
    ReleasePins(pins);
  }
  for (IBaseFilter* f : filters) f->Release();
  return hr;
}

HRESULT CCustomGraph::FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin) {
  if (!filter || !pin) return KRM_E_BAD_PARAMETER;
  *pin = nullptr;
  HRESULT hr;
  std::vector<IPin*> pins = Pins(filter, SIZE_MAX, &hr);
  if (FAILED(hr)) return hr;
  for (IPin* p : pins) {
    PIN_INFO info;
    if (!*pin && SUCCEEDED(p->QueryPinInfo(&info))) {
      if (info.pFilter) info.pFilter->Release();
      if (info.dir == direction) {
        *pin = p;
        p->AddRef();
      }
    }
  }
  ReleasePins(pins);
  return *pin ? S_OK : E_FAIL;
}

HRESULT CCustomGraph::FindPinByCategory(IBaseFilter* filter, REFGUID category, IPin** pin) {
  if (!filter || !pin) return KRM_E_BAD_PARAMETER;
  *pin = nullptr;
  HRESULT hr;
  std::vector<IPin*> pins = Pins(filter, SIZE_MAX, &hr);
  if (FAILED(hr)) return hr;
  for (IPin* p : pins) {
    IKsPropertySet* properties = nullptr;
    if (*pin || FAILED(p->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties)))) continue;
    GUID pinCategory = {};
    DWORD returned = 0;
    if (SUCCEEDED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &pinCategory,
                                  sizeof pinCategory, &returned)) &&
        returned == sizeof pinCategory && IsEqualGUID(pinCategory, category)) {
      *pin = p;
      p->AddRef();
    }
    properties->Release();
  }
  ReleasePins(pins);
  return *pin ? S_OK : E_FAIL;
}

HRESULT CCustomGraph::GetPinMajorType(IBaseFilter* filter, LPCWSTR pinId, LONG* kind) {
  if (!filter) return KRM_E_BAD_PARAMETER;
  if (!kind) return E_POINTER;
  *kind = 0;
  IPin* pin = nullptr;
  if (FAILED(filter->FindPin(pinId, &pin)) || !pin) return E_FAIL;
  IEnumMediaTypes* types = nullptr;
  HRESULT hr = pin->EnumMediaTypes(&types);
  pin->Release();
  if (FAILED(hr) || !types) return E_FAIL;
  AM_MEDIA_TYPE* mt = nullptr;
  hr = types->Next(1, &mt, nullptr);
  types->Release();
  if (hr != S_OK || !mt) return E_FAIL;
  if (IsEqualGUID(mt->majortype, MEDIATYPE_Video))
    *kind = 1;
  else if (IsEqualGUID(mt->majortype, MEDIATYPE_Audio))
    *kind = 2;
  FreeMediaType(mt);
  return S_OK;
}

HRESULT CCustomGraph::ConnectByPinIds(IBaseFilter* filterA, IBaseFilter* filterB, LPCWSTR idA, LPCWSTR idB) {
  if (!filterA || !filterB) return KRM_E_BAD_PARAMETER;
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  IPin* a = nullptr;
  IPin* b = nullptr;
  HRESULT hr = filterA->FindPin(idA, &a);
  if (SUCCEEDED(hr)) hr = filterB->FindPin(idB, &b);
  if (SUCCEEDED(hr)) hr = graph_->Connect(a, b);
  if (a) a->Release();
  if (b) b->Release();
  return hr;
}

HRESULT CCustomGraph::ConnectPinsByIndex(IBaseFilter* filterA, IBaseFilter* filterB, int indexA, int indexB) {
  if (!graph_) return KRM_E_FUNCTION_FAILED;
  if (!filterA || !filterB) return KRM_E_BAD_PARAMETER;
  HRESULT hrA, hrB;
  std::vector<IPin*> pinsA = Pins(filterA, 3, &hrA);
  std::vector<IPin*> pinsB = Pins(filterB, 3, &hrB);
  HRESULT hr = E_INVALIDARG;
  if (FAILED(hrA) || FAILED(hrB))
    hr = E_FAIL;
  else if (indexA >= 1 && size_t(indexA) <= pinsA.size() && indexB >= 1 && size_t(indexB) <= pinsB.size())
    hr = graph_->Connect(pinsA[size_t(indexA) - 1], pinsB[size_t(indexB) - 1]);
  ReleasePins(pinsA);
  ReleasePins(pinsB);
  return hr;
}

HRESULT CCustomGraph::GetStreamConfig(IBaseFilter* filter, IAMStreamConfig** config) {
  if (!builder_ || !filter) return KRM_E_FUNCTION_FAILED;
  HRESULT hr = builder_->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, filter, IID_IAMStreamConfig,
                                       reinterpret_cast<void**>(config));
  if (FAILED(hr)) {
    TraceFailure(hr);
    return KRM_E_VIDEO_DEVICE_NOT_AVAILABLE;
  }
  return hr;
}

void CCustomGraph::ReleaseArray(int count, IUnknown** items) {
  for (int i = 0; i < count; ++i)
    if (items[i]) items[i]->Release();
}

}  // namespace mediaengine
