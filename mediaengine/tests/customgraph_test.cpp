// CCustomGraph on Wine's filter graph manager with the platform's test
// filters and a source that offers one media type of a given major type.
#include <gtest/gtest.h>

#include <vector>

#include "dshow/base.h"
#include "mediaengine/customgraph.h"
#include "mediaengine/errors.h"
#include "test_filters.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

// {5C1A0D10-2F6B-4E39-9A57-6B1D0C6E1A01}
const GUID CLSID_TypedSource = {0x5C1A0D10, 0x2F6B, 0x4E39, {0x9A, 0x57, 0x6B, 0x1D, 0x0C, 0x6E, 0x1A, 0x01}};

// A source whose only pin "Out" offers one media type of the given major type.
class TypedSource : public CBaseFilter {
 public:
  explicit TypedSource(const GUID& major) : CBaseFilter("typed source", nullptr, &lock_, CLSID_TypedSource) {
    HRESULT hr = S_OK;
    pin_ = new Pin(this, &hr, major);
  }
  ~TypedSource() override { delete pin_; }
  int GetPinCount() override { return 1; }
  CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }

 private:
  class Pin : public CBaseOutputPin {
   public:
    Pin(TypedSource* f, HRESULT* hr, const GUID& major)
        : CBaseOutputPin("typed source pin", f, &f->lock_, hr, L"Out"), major_(major) {}
    HRESULT CheckMediaType(const CMediaType* mt) override {
      return IsEqualGUID(mt->majortype, major_) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int position, CMediaType* mt) override {
      if (position != 0) return position < 0 ? E_INVALIDARG : VFW_S_NO_MORE_ITEMS;
      mt->SetType(&major_);
      mt->SetSubtype(&GUID_NULL);
      mt->SetFormatType(&GUID_NULL);
      return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return S_OK; }

   private:
    GUID major_;
  };
  CCritSec lock_;
  Pin* pin_;
};

// Owns one reference on each filter made for a test.
class Filters {
 public:
  ~Filters() {
    for (CBaseFilter* f : filters_) f->NonDelegatingRelease();
  }
  template <class T>
  T* Add(T* filter) {
    filter->NonDelegatingAddRef();
    filters_.push_back(filter);
    return filter;
  }

 private:
  std::vector<CBaseFilter*> filters_;
};

bool Connected(IBaseFilter* filter, LPCWSTR pinId) {
  IPin* pin = nullptr;
  if (FAILED(filter->FindPin(pinId, &pin))) return false;
  IPin* other = nullptr;
  bool connected = SUCCEEDED(pin->ConnectedTo(&other)) && other;
  if (other) other->Release();
  pin->Release();
  return connected;
}

bool InGraph(CCustomGraph& graph, LPCWSTR name) {
  IBaseFilter* found = nullptr;
  HRESULT hr = graph.FindFilterByName(name, &found);
  if (found) found->Release();
  return SUCCEEDED(hr);
}

class CustomGraphTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(com_.Result(), S_OK); }
  ComScope com_;
};

TEST_F(CustomGraphTest, WithoutAGraph) {
  CCustomGraph graph;
  Filters filters;
  TestSink* sink = filters.Add(new TestSink(MEDIATYPE_Audio));
  RECT rect = {0, 0, 10, 10};
  LONG count = -1;
  void* out = nullptr;
  EXPECT_EQ(graph.AddFilter(sink, L"Sink"), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(graph.Connect(nullptr, nullptr), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(graph.Stop(), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(graph.SetVideoWindow(nullptr, &rect, 0, nullptr, 0), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(graph.RemoveAllFilters(&count, nullptr, nullptr), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(graph.ConnectPinsByIndex(sink, sink, 1, 1), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(graph.GetStreamConfig(sink, nullptr), KRM_E_FUNCTION_FAILED);
  EXPECT_EQ(graph.QueryGraph(IID_IMediaControl, &out), -1);
  EXPECT_EQ(graph.RemoveFilter(nullptr), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(graph.RemoveFilter(sink), S_OK);
  EXPECT_EQ(graph.FindInterface(nullptr, nullptr, sink, IID_IAMStreamConfig, &out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST_F(CustomGraphTest, NotifyWindowRegistration) {
  CCustomGraph graph;
  HWND window = CreateWindowExW(0, L"STATIC", L"events", 0, 0, 0, 10, 10, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(graph.SetNotifyWindow(window, 0), S_OK);
  EXPECT_EQ(graph.NotifyWindow(), nullptr) << "message 0 registers nothing";
  EXPECT_EQ(graph.SetNotifyWindow(nullptr, 0x5F4), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(graph.SetNotifyWindow(window, 0x5F4), KRM_E_FUNCTION_FAILED) << "no graph yet";

  ASSERT_EQ(graph.Create(1), S_OK);
  EXPECT_EQ(graph.SetNotifyWindow(window, 0x5F4), S_OK);
  EXPECT_EQ(graph.NotifyWindow(), window);
  EXPECT_EQ(graph.NotifyMessage(), 0x5F4u);
  EXPECT_EQ(graph.ResetWindows(), S_OK);
  EXPECT_EQ(graph.NotifyWindow(), nullptr);
  DestroyWindow(window);
}

TEST_F(CustomGraphTest, RemoveAllFiltersKeepsTwoDisconnected) {
  CCustomGraph graph;
  ASSERT_EQ(graph.Create(1), S_OK);
  Filters filters;
  TestPcmSource* source = filters.Add(new TestPcmSource(8000, 1, 0));
  TestSink* sink = filters.Add(new TestSink(MEDIATYPE_Audio));
  TestSink* other = filters.Add(new TestSink(MEDIATYPE_Audio));
  ASSERT_EQ(graph.AddFilter(source, L"Source"), S_OK);
  ASSERT_EQ(graph.AddFilter(sink, L"Sink"), S_OK);
  ASSERT_EQ(graph.AddFilter(other, L"Other"), S_OK);
  ASSERT_EQ(graph.ConnectByPinIds(source, sink, L"Out", L"In"), S_OK);
  ASSERT_TRUE(Connected(source, L"Out"));

  LONG count = 0;
  EXPECT_EQ(graph.RemoveAllFilters(&count, source, sink), S_OK);
  EXPECT_EQ(count, 3);
  EXPECT_TRUE(InGraph(graph, L"Source"));
  EXPECT_TRUE(InGraph(graph, L"Sink"));
  EXPECT_FALSE(InGraph(graph, L"Other"));
  EXPECT_FALSE(Connected(source, L"Out"));
  EXPECT_FALSE(Connected(sink, L"In"));
}

TEST_F(CustomGraphTest, RemoveAllFiltersTakesMoreThanTen) {
  CCustomGraph graph;
  ASSERT_EQ(graph.Create(0), S_OK);
  Filters filters;
  for (int i = 0; i < 12; ++i) {
    wchar_t name[16];
    swprintf(name, 16, L"Sink %d", i);
    ASSERT_EQ(graph.AddFilter(filters.Add(new TestSink(MEDIATYPE_Audio)), name), S_OK);
  }
  LONG count = 0;
  EXPECT_EQ(graph.RemoveAllFilters(&count, nullptr, nullptr), S_OK);
  EXPECT_EQ(count, 12);
  for (const wchar_t* name : {L"Sink 0", L"Sink 10", L"Sink 11"}) EXPECT_FALSE(InGraph(graph, name)) << name;
}

TEST_F(CustomGraphTest, PinMajorTypes) {
  CCustomGraph graph;
  Filters filters;
  struct {
    IBaseFilter* filter;
    LPCWSTR pin;
    HRESULT result;
    LONG kind;
  } cases[] = {
      {filters.Add(new TypedSource(MEDIATYPE_Video)), L"Out", S_OK, 1},
      {filters.Add(new TestPcmSource(8000, 2, 0)), L"Out", S_OK, 2},
      {filters.Add(new TypedSource(MEDIATYPE_Text)), L"Out", S_OK, 0},
      {filters.Add(new TypedSource(MEDIATYPE_Video)), L"Nope", E_FAIL, 0},
      {filters.Add(new TestSink(MEDIATYPE_Audio)), L"In", E_FAIL, 0},  // offers no type
      {nullptr, L"Out", KRM_E_BAD_PARAMETER, -1},
  };
  for (const auto& c : cases) {
    LONG kind = -1;
    EXPECT_EQ(graph.GetPinMajorType(c.filter, c.pin, &kind), c.result);
    EXPECT_EQ(kind, c.kind);
  }
}

TEST_F(CustomGraphTest, PinsByDirectionAndConnectionByIndex) {
  CCustomGraph graph;
  ASSERT_EQ(graph.Create(1), S_OK);
  Filters filters;
  TestPcmSource* source = filters.Add(new TestPcmSource(8000, 2, 0));
  TestSink* sink = filters.Add(new TestSink(MEDIATYPE_Audio));
  ASSERT_EQ(graph.AddFilter(source, L"Source"), S_OK);
  ASSERT_EQ(graph.AddFilter(sink, L"Sink"), S_OK);

  IPin* pin = nullptr;
  EXPECT_EQ(graph.FindPinByDirection(sink, PINDIR_OUTPUT, &pin), E_FAIL);
  EXPECT_EQ(pin, nullptr);
  ASSERT_EQ(graph.FindPinByDirection(source, PINDIR_OUTPUT, &pin), S_OK);
  LPWSTR id = nullptr;
  ASSERT_EQ(pin->QueryId(&id), S_OK);
  EXPECT_STREQ(id, L"Out");
  CoTaskMemFree(id);
  pin->Release();
  EXPECT_EQ(graph.FindPinByCategory(source, PIN_CATEGORY_CAPTURE, &pin), E_FAIL) << "the pin has no category";

  EXPECT_EQ(graph.ConnectPinsByIndex(source, sink, 2, 1), E_INVALIDARG);
  EXPECT_EQ(graph.ConnectPinsByIndex(source, sink, 1, 1), S_OK);
  EXPECT_TRUE(Connected(sink, L"In"));

  // A stopped graph stops again and rewinds.
  EXPECT_EQ(graph.Stop(), S_OK);
  EXPECT_EQ(graph.Destroy(), S_OK);
  EXPECT_FALSE(graph.HasGraph());
  EXPECT_EQ(graph.Create(0), S_OK) << "the wrapper can be created again";
}

}  // namespace
