// The custom source under Wine: the host's buffers reach the next filter
// with their bytes and times, in order, then the end of the stream; a full
// queue, a finished stream and bad calls are refused with the filter's codes.
#include <windows.h>
#include <control.h>
#include <mmreg.h>
#include <objbase.h>
#include <strmif.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "customsource/customsource.h"
#include "push_sources.h"

CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

CMediaType PcmType() {
  WAVEFORMATEX wf = {};
  wf.wFormatTag = WAVE_FORMAT_PCM;
  wf.nChannels = 2;
  wf.nSamplesPerSec = 8000;
  wf.wBitsPerSample = 16;
  wf.nBlockAlign = 4;
  wf.nAvgBytesPerSec = 32000;
  CMediaType mt;
  mt.SetType(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.SetFormat(reinterpret_cast<BYTE*>(&wf), sizeof wf);
  return mt;
}

struct Block {
  BYTE bytes[kCustomDescriptionBytes] = {};
  explicit Block(const wchar_t* name) { std::memcpy(bytes, name, (wcslen(name) + 1) * 2); }
};

class CustomSourceTest : public testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_EQ(CreateFromDll(SOURCE_DLL, CLSID_KRCustomSource, IID_IBaseFilter, reinterpret_cast<void**>(&filter_)),
              S_OK);
    ASSERT_EQ(filter_->QueryInterface(IID_IKRCustomSource, reinterpret_cast<void**>(&source_)), S_OK);
  }
  void TearDown() override {
    if (control_) control_->Release();
    if (graph_) graph_->Release();
    if (source_) source_->Release();
    if (filter_) filter_->Release();
    if (sink_) sink_->NonDelegatingRelease();
    CoUninitialize();
  }
  // The filter into a sink through a graph of its own.
  void Connect() {
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph_)),
              S_OK);
    sink_ = new TestCaptureSink(MEDIATYPE_Audio);
    sink_->NonDelegatingAddRef();
    graph_->AddFilter(filter_, L"Custom source filter");
    graph_->AddFilter(sink_, L"sink");
    IPin* out = nullptr;
    ASSERT_EQ(filter_->FindPin(L"Out", &out), S_OK);
    ASSERT_EQ(graph_->ConnectDirect(out, sink_->GetPin(0), nullptr), S_OK);
    out->Release();
    graph_->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control_));
  }
  // Offers a buffer until the queue takes it (bounded).
  HRESULT Offer(const std::vector<BYTE>& bytes, LONG start, LONG stop) {
    HRESULT hr = KRCS_E_QUEUE_FULL;
    for (int tries = 0; tries < 2000 && hr == KRCS_E_QUEUE_FULL; ++tries) {
      hr = source_->SetBuffer(reinterpret_cast<LONG_PTR>(bytes.data()), LONG(bytes.size()), start, stop);
      if (hr == KRCS_E_QUEUE_FULL) Sleep(5);
    }
    return hr;
  }
  IBaseFilter* filter_ = nullptr;
  IKRCustomSource* source_ = nullptr;
  IGraphBuilder* graph_ = nullptr;
  IMediaControl* control_ = nullptr;
  TestCaptureSink* sink_ = nullptr;
};

TEST_F(CustomSourceTest, RefusesWhatItCannotCarry) {
  const CMediaType pcm = PcmType();
  CMediaType stream;
  stream.SetType(&MEDIATYPE_Stream);
  CMediaType noFormat;
  noFormat.SetType(&MEDIATYPE_Video);
  noFormat.SetFormatType(&FORMAT_VideoInfo);
  const Block block(L"speech");
  BYTE data[64] = {};
  const LONG_PTR p = reinterpret_cast<LONG_PTR>(data);
  // In order: each row runs on the state the rows before it left.
  struct {
    const char* what;
    HRESULT (*call)(IKRCustomSource*, const void*);
    const void* arg;
    HRESULT expected;
  } rows[] = {
      {"a buffer before any pool", [](IKRCustomSource* s, const void* d) {
         return s->SetBuffer(reinterpret_cast<LONG_PTR>(d), 4, 0, 1); }, data, KRCS_E_NOT_CONFIGURED},
      {"count 0", [](IKRCustomSource* s, const void*) { return s->SetPool(0, 64); }, nullptr, KRCS_E_BAD_BUFFER_COUNT},
      {"count 1025", [](IKRCustomSource* s, const void*) { return s->SetPool(1025, 64); }, nullptr,
       KRCS_E_BAD_BUFFER_COUNT},
      {"size 0", [](IKRCustomSource* s, const void*) { return s->SetPool(2, 0); }, nullptr, KRCS_E_BAD_BUFFER_SIZE},
      {"size -5", [](IKRCustomSource* s, const void*) { return s->SetPool(2, -5); }, nullptr, KRCS_E_BAD_BUFFER_SIZE},
      {"pool 2 of 64", [](IKRCustomSource* s, const void*) { return s->SetPool(2, 64); }, nullptr, S_OK},
      {"a buffer before the type", [](IKRCustomSource* s, const void* d) {
         return s->SetBuffer(reinterpret_cast<LONG_PTR>(d), 4, 0, 1); }, data, KRCS_E_NOT_CONFIGURED},
      {"no block", [](IKRCustomSource* s, const void* t) {
         return s->SetOutputType(nullptr, static_cast<const AM_MEDIA_TYPE*>(t)); }, &pcm, KRCS_E_NULL_ARGUMENT},
      {"a byte stream", [](IKRCustomSource* s, const void* t) {
         BYTE b[kCustomDescriptionBytes] = {};
         return s->SetOutputType(b, static_cast<const AM_MEDIA_TYPE*>(t)); }, &stream, KRCS_E_TYPE_NOT_SUPPORTED},
      {"video without its header", [](IKRCustomSource* s, const void* t) {
         BYTE b[kCustomDescriptionBytes] = {};
         return s->SetOutputType(b, static_cast<const AM_MEDIA_TYPE*>(t)); }, &noFormat, KRCS_E_TYPE_NOT_SUPPORTED},
  };
  for (const auto& r : rows) EXPECT_EQ(r.call(source_, r.arg), r.expected) << r.what;

  ASSERT_EQ(source_->SetOutputType(block.bytes, &pcm), S_OK);
  struct {
    const char* what;
    LONG_PTR data;
    LONG length, start, stop;
    HRESULT expected;
  } buffers[] = {
      {"negative length", p, -1, 0, 1, KRCS_E_BAD_LENGTH},
      {"length 0 with bytes", p, 0, 0, 1, KRCS_E_BAD_LENGTH},
      {"a length without bytes", 0, 4, 0, 1, KRCS_E_NULL_BUFFER},
      {"above the pool's size", p, 65, 0, 1, KRCS_E_BUFFER_TOO_LARGE},
      {"negative start", p, 4, -1, 1, KRCS_E_BAD_TIMES},
      {"stop before start", p, 4, 10, 9, KRCS_E_BAD_TIMES},
      {"first", p, 64, 0, 2, S_OK},
      {"second", p, 4, 2, 3, S_OK},
      {"a third into a pool of two", p, 4, 3, 4, KRCS_E_QUEUE_FULL},
      {"the end still goes in", 0, 0, 0, 0, S_OK},
      {"after the end", p, 4, 4, 5, KRCS_E_STREAM_OVER},
  };
  for (const auto& b : buffers)
    EXPECT_EQ(source_->SetBuffer(b.data, b.length, b.start, b.stop), b.expected) << b.what;
  // A new pool starts the stream afresh.
  EXPECT_EQ(source_->SetPool(1, 16), S_OK);
  EXPECT_EQ(source_->SetBuffer(p, 16, 0, 1), S_OK);
}

TEST_F(CustomSourceTest, DeliversTheHostsBuffersInOrderThenTheEnd) {
  const CMediaType pcm = PcmType();
  const Block block(L"speech");
  ASSERT_EQ(source_->SetPool(3, 640), S_OK);
  ASSERT_EQ(source_->SetOutputType(block.bytes, &pcm), S_OK);
  Connect();
  EXPECT_EQ(sink_->ConnectedType() == pcm, true);
  // Another type cannot replace the connected one; the same one can.
  CMediaType mono = pcm;
  reinterpret_cast<WAVEFORMATEX*>(mono.Format())->nChannels = 1;
  EXPECT_EQ(source_->SetOutputType(block.bytes, &mono), KRCS_E_TYPE_CONNECTED);
  EXPECT_EQ(source_->SetOutputType(block.bytes, &pcm), S_OK);

  // Buffers of different lengths, each 20 ms, filled by their number.
  std::vector<std::vector<BYTE>> sent;
  for (int i = 0; i < 12; ++i) sent.emplace_back(size_t(160 + 40 * (i % 3)), BYTE(i + 1));
  // Queued while stopped: the queue fills and then refuses.
  for (int i = 0; i < 3; ++i) ASSERT_EQ(Offer(sent[size_t(i)], 20 * i, 20 * i + 20), S_OK);
  EXPECT_EQ(source_->SetBuffer(reinterpret_cast<LONG_PTR>(sent[3].data()), 160, 60, 80), KRCS_E_QUEUE_FULL);
  ASSERT_TRUE(SUCCEEDED(control_->Run()));
  EXPECT_EQ(source_->SetPool(4, 640), KRCS_E_ACTIVE);
  for (int i = 3; i < 12; ++i) ASSERT_EQ(Offer(sent[size_t(i)], 20 * i, 20 * i + 20), S_OK) << i;
  ASSERT_EQ(source_->SetBuffer(0, 0, 0, 0), S_OK);
  EXPECT_TRUE(sink_->WaitEndOfStream(10000));
  control_->Stop();

  const auto got = sink_->Samples();
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].bytes, sent[i]) << i;
    EXPECT_TRUE(got[i].timed) << i;
    EXPECT_EQ(got[i].start, REFERENCE_TIME(i) * 200000) << i;
    EXPECT_EQ(got[i].stop, REFERENCE_TIME(i + 1) * 200000) << i;
  }
  EXPECT_EQ(sink_->EndOfStreams(), 1);

  // A second run after a new pool: the stream starts afresh; a stop with
  // buffers still queued ends cleanly and drops them.
  ASSERT_EQ(source_->SetPool(3, 640), S_OK);
  ASSERT_TRUE(SUCCEEDED(control_->Pause()));
  ASSERT_EQ(Offer(sent[0], 0, 20), S_OK);
  control_->Stop();
  EXPECT_EQ(source_->SetPool(3, 640), S_OK);
}

}  // namespace
