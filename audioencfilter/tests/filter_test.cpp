// The filter object under Wine: registration, creation by CLSID, pins,
// media-type negotiation and buffer sizing.
#include <windows.h>
#include <mmreg.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "audioencfilter/guids.h"
#include "dshow/base.h"
#include "test_filters.h"
#include "tonquill_fixture.h"

// The test program is a module of the base classes too, with no classes.
CFactoryTemplate g_Templates[1] = {};
int g_cTemplates = 0;

std::string tonquillPath() { return TestDir() + TONQUILL_DLL; }

DWORD regsvr32(bool unregister) {
  std::string cmd = std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + tonquillPath() + "\"";
  return RunCommand(cmd).exitCode;
}

namespace {

const char kClsidKey[] = "HKCR\\CLSID\\{96F593C1-669A-11D5-8847-0050DA816754}";
const char kMapperKey[] =
    "HKCR\\CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\{96F593C1-669A-11D5-8847-0050DA816754}";

bool keyExists(HKEY root, const char* path) {
  HKEY key;
  if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class FilterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(regsvr32(false), 0u); }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(CoCreateInstance(CLSID_KRAudEncFlt, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               reinterpret_cast<void**>(&filter_)),
              S_OK);
  }
  void TearDown() override {
    if (filter_) filter_->Release();
    CoUninitialize();
  }
  IPin* pin(const wchar_t* name) {
    IPin* p = nullptr;
    EXPECT_EQ(filter_->FindPin(name, &p), S_OK);
    return p;
  }
  IBaseFilter* filter_ = nullptr;
};

CMediaType pcmType(WORD tag, WORD channels, WORD bits, DWORD rate) {
  CMediaType mt;
  WAVEFORMATEX wf = {};
  wf.wFormatTag = tag;
  wf.nChannels = channels;
  wf.nSamplesPerSec = rate;
  wf.wBitsPerSample = bits;
  wf.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
  mt.SetType(&MEDIATYPE_Audio);
  mt.SetSubtype(&MEDIASUBTYPE_PCM);
  mt.SetFormatType(&FORMAT_WaveFormatEx);
  mt.SetFormat(reinterpret_cast<BYTE*>(&wf), sizeof wf);
  return mt;
}

}  // namespace

TEST(Registration, Regsvr32WritesAndRemovesClassAndMapperEntries) {
  ASSERT_EQ(regsvr32(false), 0u);
  CommandResult server = RunCommand(std::string("reg.exe query \"") + kClsidKey + "\\InprocServer32\"");
  ASSERT_EQ(server.exitCode, 0u) << server.output;
  EXPECT_NE(server.output.find("Tonquill.dll"), std::string::npos) << server.output;
  EXPECT_NE(server.output.find("ThreadingModel"), std::string::npos) << server.output;
  EXPECT_NE(server.output.find("Both"), std::string::npos) << server.output;

  CommandResult mapper = RunCommand(std::string("reg.exe query \"") + kMapperKey + "\"");
  ASSERT_EQ(mapper.exitCode, 0u) << mapper.output;
  EXPECT_NE(mapper.output.find("Kestrune GSM-AMR,EVRC and AAC Encoder - Tavistra"), std::string::npos);
  // The mapper's binary record: version, merit, pin count.
  HKEY key;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, kMapperKey + 5, 0, KEY_READ, &key), ERROR_SUCCESS);
  BYTE data[1024];
  DWORD size = sizeof data;
  ASSERT_EQ(RegQueryValueExA(key, "FilterData", nullptr, nullptr, data, &size), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_GE(size, 12u);
  DWORD merit, pins;
  memcpy(&merit, data + 4, 4);
  memcpy(&pins, data + 8, 4);
  EXPECT_EQ(merit, 0x200000u);
  EXPECT_EQ(pins, 2u);

  ASSERT_EQ(regsvr32(true), 0u);
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kClsidKey + 5));
  EXPECT_FALSE(keyExists(HKEY_CLASSES_ROOT, kMapperKey + 5));
  ASSERT_EQ(regsvr32(false), 0u);
}

TEST_F(FilterTest, PinsHaveRunTimeNamesAndDirections) {
  IEnumPins* e = nullptr;
  ASSERT_EQ(filter_->EnumPins(&e), S_OK);
  IPin* pins[3] = {};
  ULONG got = 0;
  EXPECT_EQ(e->Next(3, pins, &got), S_FALSE);
  e->Release();
  ASSERT_EQ(got, 2u);
  const struct { const wchar_t* name; PIN_DIRECTION dir; } expected[] = {{L"Audio in", PINDIR_INPUT},
                                                                         {L"Audio out", PINDIR_OUTPUT}};
  for (int i = 0; i < 2; ++i) {
    PIN_INFO info;
    ASSERT_EQ(pins[i]->QueryPinInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, expected[i].name);
    EXPECT_EQ(info.dir, expected[i].dir);
    EXPECT_EQ(info.pFilter, filter_);
    info.pFilter->Release();
    pins[i]->Release();
  }
  IPin* p = nullptr;
  // The registration name is not a run-time name.
  EXPECT_EQ(filter_->FindPin(L"Audio In", &p), VFW_E_NOT_FOUND);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(filter_->FindPin(L"Audio in", nullptr), E_POINTER);
  p = pin(L"Audio out");
  ASSERT_NE(p, nullptr);
  p->Release();

  CLSID clsid;
  EXPECT_EQ(filter_->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KRAudEncFlt));
}

TEST_F(FilterTest, InputTypesAcceptedAndRefusedWithTheirCodes) {
  const struct {
    WORD tag, channels, bits;
    DWORD rate;
    HRESULT expected;
  } cases[] = {
      {WAVE_FORMAT_PCM, 2, 16, 8000, S_OK},
      {WAVE_FORMAT_KRENCODED, 2, 16, 8000, S_OK},
      {WAVE_FORMAT_PCM, 1, 16, 8000, VFW_E_TYPE_NOT_ACCEPTED},   // the filter needs two channels
      {WAVE_FORMAT_PCM, 2, 8, 8000, VFW_E_TYPE_NOT_ACCEPTED},
      {WAVE_FORMAT_PCM, 2, 16, 44100, VFW_E_TYPE_NOT_ACCEPTED},  // not the configured rate
      {2, 2, 16, 8000, E_INVALIDARG},                            // ADPCM tag
  };
  TestPcmSource* source = new TestPcmSource(8000, 2, 0);
  source->NonDelegatingAddRef();
  IPin* connector = source->GetPin(0);
  IPin* in = pin(L"Audio in");
  for (const auto& c : cases) {
    CMediaType mt = pcmType(c.tag, c.channels, c.bits, c.rate);
    EXPECT_EQ(in->ReceiveConnection(connector, &mt), c.expected)
        << "tag " << c.tag << " channels " << c.channels << " bits " << c.bits << " rate " << c.rate;
    if (c.expected == S_OK) {
      EXPECT_EQ(in->Disconnect(), S_OK);
    }
  }
  CMediaType video;
  video.SetType(&MEDIATYPE_Video);
  EXPECT_EQ(in->ReceiveConnection(connector, &video), E_INVALIDARG);
  in->Release();
  source->NonDelegatingRelease();
}

TEST_F(FilterTest, OutputTypeFollowsInputAndBuffersFollowTheGroups) {
  IGraphBuilder* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  auto* source = new TestPcmSource(8000, 2, 0);
  auto* sink = new TestSink(MEDIATYPE_Audio);
  ASSERT_EQ(graph->AddFilter(source, L"source"), S_OK);
  ASSERT_EQ(graph->AddFilter(filter_, L"encoder"), S_OK);
  ASSERT_EQ(graph->AddFilter(sink, L"sink"), S_OK);
  IPin* in = pin(L"Audio in");
  IPin* out = pin(L"Audio out");

  // No output type before the input is connected.
  IEnumMediaTypes* types = nullptr;
  ASSERT_EQ(out->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* t = nullptr;
  ULONG got = 0;
  EXPECT_NE(types->Next(1, &t, &got), S_OK);
  EXPECT_EQ(got, 0u);
  types->Release();

  ASSERT_EQ(graph->ConnectDirect(source->GetPin(0), in, nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(out, sink->GetPin(0), nullptr), S_OK);

  AM_MEDIA_TYPE mt;
  ASSERT_EQ(out->ConnectionMediaType(&mt), S_OK);
  EXPECT_TRUE(IsEqualGUID(mt.majortype, MEDIATYPE_Audio));
  EXPECT_TRUE(IsEqualGUID(mt.subtype, MEDIASUBTYPE_KREncodedAudio));
  EXPECT_TRUE(IsEqualGUID(mt.formattype, FORMAT_WaveFormatEx));
  ASSERT_EQ(mt.cbFormat, sizeof(WAVEFORMATEX));
  const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
  EXPECT_EQ(wf->wFormatTag, WAVE_FORMAT_KRENCODED);
  EXPECT_EQ(wf->nChannels, 2);
  EXPECT_EQ(wf->nSamplesPerSec, 8000u);
  EXPECT_EQ(wf->wBitsPerSample, 16);
  EXPECT_EQ(wf->cbSize, 0);
  EXPECT_TRUE(mt.bFixedSizeSamples);
  EXPECT_EQ(mt.lSampleSize, 20480u);
  FreeMediaType(mt);

  // Only one output type: position 1 has no more items.
  ASSERT_EQ(out->EnumMediaTypes(&types), S_OK);
  AM_MEDIA_TYPE* two[2] = {};
  EXPECT_EQ(types->Next(2, two, &got), S_FALSE);
  EXPECT_EQ(got, 1u);
  DeleteMediaType(two[0]);
  types->Release();

  // No stream configured: two buffers of the output type's sample size.
  IMemInputPin* mem = nullptr;
  ASSERT_EQ(sink->GetPin(0)->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&mem)), S_OK);
  IMemAllocator* allocator = nullptr;
  ASSERT_EQ(mem->GetAllocator(&allocator), S_OK);
  ALLOCATOR_PROPERTIES props;
  ASSERT_EQ(allocator->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cBuffers, 2);
  EXPECT_EQ(props.cbBuffer, 20480);
  allocator->Release();
  mem->Release();

  in->Release();
  out->Release();
  graph->Release();
}
