// CCustomGraph: the engine's thin layer over a DirectShow filter graph
// manager and capture graph builder. Every graph operation of the engine goes
// through it, and every failing DirectShow call gets one trace.
#pragma once

#include <windows.h>
#include <strmif.h>
#include <control.h>

namespace mediaengine {

class CCustomGraph {
 public:
  CCustomGraph() = default;
  virtual ~CCustomGraph();
  CCustomGraph(const CCustomGraph&) = delete;
  CCustomGraph& operator=(const CCustomGraph&) = delete;

  // withBuilder 1 also creates the capture graph builder over the graph.
  HRESULT Create(LONG withBuilder);
  // Releases the graph manager and the capture graph builder.
  HRESULT Destroy();
  // QueryInterface on the graph manager; no graph: -1.
  HRESULT QueryGraph(REFIID iid, void** out);
  HRESULT AddFilter(IBaseFilter* filter, LPCWSTR name);
  HRESULT RemoveFilter(IBaseFilter* filter);
  HRESULT FindFilterByName(LPCWSTR name, IBaseFilter** filter);
  HRESULT AddSourceFilter(LPCWSTR fileName, LPCWSTR name, IBaseFilter** filter);
  HRESULT Connect(IPin* outPin, IPin* inPin);
  HRESULT Render(IPin* pin);
  HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID iid, void** out);
  HRESULT RenderStream(const GUID* category, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                       IBaseFilter* sink);
  HRESULT Stop();
  HRESULT SetNotifyWindow(HWND window, UINT message);
  HRESULT SetVideoWindow(HWND owner, const RECT* rect, LONG style, HWND messageDrain, UINT message);
  HRESULT ResetWindows();
  // Disconnects every filter of the graph and removes all but the two kept
  // ones; delivers the number of filters found.
  HRESULT RemoveAllFilters(LONG* count, IBaseFilter* keep1, IBaseFilter* keep2);
  HRESULT FindPinByDirection(IBaseFilter* filter, PIN_DIRECTION direction, IPin** pin);
  HRESULT FindPinByCategory(IBaseFilter* filter, REFGUID category, IPin** pin);
  // 1 video, 2 audio, 0 anything else: the kind of the pin's first media type.
  HRESULT GetPinMajorType(IBaseFilter* filter, LPCWSTR pinId, LONG* kind);
  HRESULT ConnectByPinIds(IBaseFilter* filterA, IBaseFilter* filterB, LPCWSTR idA, LPCWSTR idB);
  // Pin numbers count from 1 among the first three pins of each filter.
  HRESULT ConnectPinsByIndex(IBaseFilter* filterA, IBaseFilter* filterB, int indexA, int indexB);
  HRESULT GetStreamConfig(IBaseFilter* filter, IAMStreamConfig** config);
  static void ReleaseArray(int count, IUnknown** items);

  bool HasGraph() const { return graph_ != nullptr; }
  HWND NotifyWindow() const { return notifyWindow_; }
  UINT NotifyMessage() const { return notifyMessage_; }

 private:
  void TraceFailure(HRESULT code) const;

  IGraphBuilder* graph_ = nullptr;
  ICaptureGraphBuilder2* builder_ = nullptr;
  HWND videoOwner_ = nullptr;
  HWND notifyWindow_ = nullptr;
  UINT notifyMessage_ = 0;
};

}  // namespace mediaengine
