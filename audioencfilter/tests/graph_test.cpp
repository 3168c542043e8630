// The filter in a real Wine filter graph: a PCM source of ours feeds it, a
// sink of ours takes its output; the graph runs, pauses and stops without a
// hang, and every object is released.
#include <windows.h>
#include <control.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "audioencfilter/guids.h"
#include "test_filters.h"
#include "tonquill_fixture.h"

namespace {

FILTER_STATE stateOf(IBaseFilter* f) {
  FILTER_STATE s = State_Paused;
  f->GetState(0, &s);
  return s;
}

}  // namespace

TEST(Graph, RunsPausesAndStopsWithoutHangOrLeak) {
  ASSERT_EQ(regsvr32(false), 0u);
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                               reinterpret_cast<void**>(&graph)),
              S_OK);
    IBaseFilter* encoder = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_KRAudEncFlt, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&encoder)),
              S_OK);
    auto* source = new TestPcmSource(8000, 2, 50);
    auto* sink = new TestSink(MEDIATYPE_Audio);
    source->NonDelegatingAddRef();
    sink->NonDelegatingAddRef();
    ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
    ASSERT_EQ(graph->AddFilter(encoder, L"encoder"), S_OK);
    ASSERT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
    IPin *in = nullptr, *out = nullptr;
    ASSERT_EQ(encoder->FindPin(L"Audio in", &in), S_OK);
    ASSERT_EQ(encoder->FindPin(L"Audio out", &out), S_OK);
    ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(out, sink->GetPin(0), nullptr), S_OK);

    IMediaControl* control = nullptr;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control)), S_OK);
    HRESULT hr = control->Run();
    EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    OAFilterState gs;
    EXPECT_TRUE(SUCCEEDED(control->GetState(2000, &gs)));
    EXPECT_EQ(stateOf(encoder), State_Running);
    // The source pushes until its samples end or the encoder refuses one.
    EXPECT_TRUE(source->WaitFinished(5000));
    EXPECT_EQ(sink->EndOfStreams(), 1);

    EXPECT_TRUE(SUCCEEDED(control->Pause()));
    EXPECT_EQ(stateOf(encoder), State_Paused);
    EXPECT_TRUE(SUCCEEDED(control->Run()));
    EXPECT_EQ(stateOf(encoder), State_Running);
    // Wine's graph pauses every filter before it stops them.
    EXPECT_TRUE(SUCCEEDED(control->Stop()));
    EXPECT_EQ(stateOf(encoder), State_Stopped);
    EXPECT_EQ(stateOf(source), State_Stopped);

    // A caller that stops a running filter directly must stop it too.
    IMediaFilter* mf = nullptr;
    ASSERT_EQ(encoder->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&mf)), S_OK);
    EXPECT_EQ(mf->Run(0), S_OK);
    EXPECT_EQ(stateOf(encoder), State_Running);
    EXPECT_EQ(mf->Stop(), S_OK);
    EXPECT_EQ(stateOf(encoder), State_Stopped);
    mf->Release();

    control->Release();
    in->Release();
    out->Release();
    encoder->Release();
    graph->Release();
    source->NonDelegatingRelease();
    sink->NonDelegatingRelease();
  }
  // Every object of the filter's module is gone.
  HMODULE module = GetModuleHandleA("Tonquill.dll");
  ASSERT_NE(module, nullptr);
  auto canUnload = reinterpret_cast<HRESULT(WINAPI*)()>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(canUnload, nullptr);
  EXPECT_EQ(canUnload(), S_OK);
  CoUninitialize();
}
