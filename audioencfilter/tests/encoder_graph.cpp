#include "encoder_graph.h"

#include <objbase.h>

#include "audioencfilter/guids.h"

bool ParsePackets(const std::vector<BYTE>& data, std::vector<Packet>* packets) {
  size_t p = 0;
  while (p < data.size()) {
    if (p + 3 > data.size()) return false;
    Packet packet;
    packet.type = data[p];
    packet.streamId = data[p + 1];
    const int n = data[p + 2];
    p += 3;
    for (int k = 0; k < n; ++k) {
      if (p + 2 > data.size()) return false;
      const size_t length = size_t(data[p]) | size_t(data[p + 1]) << 8;
      p += 2;
      if (p + length > data.size()) return false;
      packet.frames.emplace_back(data.begin() + long(p), data.begin() + long(p + length));
      p += length;
    }
    packets->push_back(std::move(packet));
  }
  return true;
}

IBaseFilter* CreateRegisteredEncoder() {
  IBaseFilter* filter = nullptr;
  CoCreateInstance(CLSID_KRAudEncFlt, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                   reinterpret_cast<void**>(&filter));
  return filter;
}

EncoderGraph::EncoderGraph(IBaseFilter* filter, DWORD rate, WORD channels, int samples) : filter_(filter) {
  CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                   reinterpret_cast<void**>(&graph_));
  source_ = new TestPcmSource(rate, channels, samples);
  sink_ = new TestSink(MEDIATYPE_Audio);
  source_->NonDelegatingAddRef();
  sink_->NonDelegatingAddRef();
  if (!graph_ || !filter_) return;
  filter_->QueryInterface(IID_IAudEncCfg, reinterpret_cast<void**>(&config_));
  filter_->QueryInterface(IID_IAudEncStats, reinterpret_cast<void**>(&stats_));
  graph_->AddFilter(source_, L"source");
  graph_->AddFilter(filter_, L"Audio encoder");
  graph_->AddFilter(sink_, L"sink");
  graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_));
  graph_->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events_));
}

EncoderGraph::~EncoderGraph() {
  if (control_) {
    control_->Stop();
    control_->Release();
  }
  if (events_) events_->Release();
  if (config_) config_->Release();
  if (stats_) stats_->Release();
  if (filter_) filter_->Release();
  if (graph_) graph_->Release();
  source_->NonDelegatingRelease();
  sink_->NonDelegatingRelease();
}

HRESULT EncoderGraph::Connect() {
  if (!graph_ || !filter_) return E_FAIL;
  IPin *in = nullptr, *out = nullptr;
  HRESULT hr = filter_->FindPin(L"Audio in", &in);
  if (SUCCEEDED(hr)) hr = filter_->FindPin(L"Audio out", &out);
  if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(source_->GetPin(0), in, nullptr);
  if (SUCCEEDED(hr)) hr = graph_->ConnectDirect(out, sink_->GetPin(0), nullptr);
  if (in) in->Release();
  if (out) out->Release();
  return hr;
}

HRESULT EncoderGraph::RunToEnd(DWORD ms) {
  HRESULT hr = control_->Run();
  if (FAILED(hr)) return hr;
  OAFilterState state;
  control_->GetState(2000, &state);
  source_->WaitFinished(ms);
  return hr;
}

HRESULT EncoderGraph::Stop() { return control_->Stop(); }

std::vector<GraphEvent> EncoderGraph::Events() {
  long code;
  LONG_PTR p1, p2;
  while (events_ && events_->GetEvent(&code, &p1, &p2, 0) == S_OK) {
    seen_.push_back({code, p1, p2});
    events_->FreeEventParams(code, p1, p2);
  }
  return seen_;
}
