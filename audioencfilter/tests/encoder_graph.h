// A real Wine filter graph around one audio encoder filter: our PCM source,
// the filter, our counting sink; the filter is configured before the
// connection, the graph runs until the source has pushed everything, and
// the graph's events are collected.
#pragma once

#include <windows.h>
#include <control.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "audioencfilter/iaudenc.h"
#include "test_filters.h"

struct GraphEvent {
  long code;
  LONG_PTR p1, p2;
};

// One EncodedAudioPacket read back from a sample.
struct Packet {
  int type = -1, streamId = -1;
  std::vector<std::vector<uint8_t>> frames;
};
// Splits a sample into its packets; false when the bytes do not parse.
bool ParsePackets(const std::vector<BYTE>& data, std::vector<Packet>* packets);

class EncoderGraph {
 public:
  // filter: an encoder object with a reference the graph takes over.
  EncoderGraph(IBaseFilter* filter, DWORD rate, WORD channels, int samples);
  ~EncoderGraph();
  IAudEncCfg* Config() const { return config_; }
  IAudEncStats* Stats() const { return stats_; }
  TestPcmSource* Source() const { return source_; }
  TestSink* Sink() const { return sink_; }
  IBaseFilter* Filter() const { return filter_; }
  HRESULT Connect();
  // Runs until the source has pushed every sample (bounded); the answer of Run.
  HRESULT RunToEnd(DWORD ms = 20000);
  HRESULT Stop();
  std::vector<GraphEvent> Events();

 private:
  IGraphBuilder* graph_ = nullptr;
  IMediaControl* control_ = nullptr;
  IMediaEvent* events_ = nullptr;
  IBaseFilter* filter_ = nullptr;
  IAudEncCfg* config_ = nullptr;
  IAudEncStats* stats_ = nullptr;
  TestPcmSource* source_ = nullptr;
  TestSink* sink_ = nullptr;
  std::vector<GraphEvent> seen_;
};

// The filter from the registered Tonquill.dll.
IBaseFilter* CreateRegisteredEncoder();
