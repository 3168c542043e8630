// The frame grabber under Wine: pictures pass through unchanged and the
// latest one is handed out with its header; none before the first.
#include <windows.h>
#include <control.h>
#include <objbase.h>
#include <strmif.h>

#include <gtest/gtest.h>

#include <cstring>

#include "framegrabber/grabber.h"
#include "push_sources.h"

CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

namespace {

TEST(FrameGrabber, PassesPicturesThroughAndKeepsTheLatest) {
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  IBaseFilter* grabber = nullptr;
  ASSERT_EQ(CreateFromDll(GRABBER_DLL, CLSID_KRFrameGrabber, IID_IBaseFilter, reinterpret_cast<void**>(&grabber)),
            S_OK);
  IKRFrameGrabber* itf = nullptr;
  ASSERT_EQ(grabber->QueryInterface(IID_IKRFrameGrabber, reinterpret_cast<void**>(&itf)), S_OK);
  BITMAPINFOHEADER bih = {};
  long size = 0;
  BYTE* bytes = nullptr;
  EXPECT_EQ(itf->GetCurrentImage(&bih, &size, &bytes), VFW_E_WRONG_STATE);

  auto* source = new TestVideoSource(64, 48, MEDIASUBTYPE_RGB24, 12, 25.0);
  auto* sink = new TestCaptureSink(MEDIATYPE_Video);
  source->NonDelegatingAddRef();
  sink->NonDelegatingAddRef();
  graph->AddFilter(source, L"source");
  graph->AddFilter(grabber, L"Grabber filter");
  graph->AddFilter(sink, L"sink");
  IPin *in = nullptr, *out = nullptr;
  ASSERT_EQ(grabber->FindPin(L"In", &in), S_OK);
  ASSERT_EQ(grabber->FindPin(L"Out", &out), S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(out, sink->GetPin(0), nullptr), S_OK);
  IMediaControl* control = nullptr;
  graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
  EXPECT_TRUE(SUCCEEDED(control->Run()));
  EXPECT_TRUE(source->WaitFinished(10000));
  EXPECT_TRUE(sink->WaitEndOfStream(10000));
  control->Stop();

  const auto samples = sink->Samples();
  ASSERT_EQ(samples.size(), 12u);
  ASSERT_EQ(itf->GetCurrentImage(&bih, &size, &bytes), S_OK);
  EXPECT_EQ(bih.biWidth, 64);
  EXPECT_EQ(bih.biHeight, 48);
  EXPECT_EQ(bih.biBitCount, 24);
  ASSERT_EQ(size_t(size), samples.back().bytes.size());
  EXPECT_EQ(std::memcmp(bytes, samples.back().bytes.data(), size_t(size)), 0);
  // The first and last pictures differ: the grabber kept the latest.
  EXPECT_NE(std::memcmp(bytes, samples.front().bytes.data(), size_t(size)), 0);
  CoTaskMemFree(bytes);

  in->Release();
  out->Release();
  control->Release();
  itf->Release();
  graph->Release();
  grabber->Release();
  source->NonDelegatingRelease();
  sink->NonDelegatingRelease();
  CoUninitialize();
}

}  // namespace
