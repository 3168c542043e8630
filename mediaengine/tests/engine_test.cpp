// The engine object, its companions and the configuration interface, created
// through the library's creation routines in this process.
#include <gtest/gtest.h>

#include <string>

#include <vfwmsgs.h>

#include "mediaengine/capmanager.h"
#include "mediaengine/config.h"
#include "mediaengine/errors.h"
#include "mediaengine/media.h"
#include "mediaengine/server.h"
#include "mediaengine/trace.h"
#include "test_util.h"

namespace mediaengine {
extern bool failConfigCreationForTesting;
}

using namespace mediaengine;

namespace {

template <class T>
T* Query(IUnknown* object, REFIID iid, HRESULT* result = nullptr) {
  T* out = nullptr;
  HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(&out));
  if (result) *result = hr;
  return out;
}

IUnknown* Identity(IUnknown* object) {
  IUnknown* identity = Query<IUnknown>(object, IID_IUnknown);
  if (identity) identity->Release();
  return identity;
}

class EngineTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(com_.Result(), S_OK);
    ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine_)), S_OK);
  }
  void TearDown() override {
    if (engine_) engine_->Release();
    EXPECT_EQ(ModuleObjectCount(), 0);
    EXPECT_EQ(COKRCapManager::Instances(), 0);
  }
  ComScope com_;
  IUnknown* engine_ = nullptr;
};

TEST_F(EngineTest, QueryInterfaceTable) {
  struct {
    const IID* iid;
    const char* name;
  } own[] = {{&IID_IUnknown, "IUnknown"},           {&IID_IGenFromFile, "IGenFromFile"},
             {&IID_IGenFromLive, "IGenFromLive"},   {&IID_IKRStats, "IKRStats"},
             {&IID_IKRMediaGraph, "IKRMediaGraph"}, {&IID_IGrantConnection, "IGrantConnection"},
             {&IID_IGenFromCustom, "IGenFromCustom"}, {&IID_IKRMediaConfig, "IKRMediaConfig"},
             {&IID_ICapManager, "ICapManager"}};
  for (const auto& row : own) {
    HRESULT hr;
    IUnknown* first = Query<IUnknown>(engine_, *row.iid, &hr);
    ASSERT_EQ(hr, S_OK) << row.name;
    IUnknown* again = Query<IUnknown>(first, *row.iid);
    EXPECT_EQ(first, again) << row.name << ": the same object each time";
    if (row.iid != &IID_ICapManager) {
      EXPECT_EQ(Identity(first), engine_) << row.name << " forwards to the engine";
    }
    again->Release();
    first->Release();
  }
  const IID others[] = {IID_IClassFactory, IID_IBaseFilter, IID_IKRPropertiesFile};
  for (const IID& iid : others) {
    HRESULT hr;
    EXPECT_EQ(Query<IUnknown>(engine_, iid, &hr), nullptr);
    EXPECT_EQ(hr, E_NOINTERFACE);
  }
}

TEST_F(EngineTest, ConfigurationInterfaceIsTheCompanionsOwn) {
  IKRMediaConfig* config = Query<IKRMediaConfig>(engine_, IID_IKRMediaConfig);
  ASSERT_NE(config, nullptr);
  KROutputConfig output;
  ASSERT_EQ(config->GetConfigOutput(&output), S_OK);
  EXPECT_EQ(std::u16string(output.title), u"Kestrune Corp.");
  EXPECT_EQ(output.bandwidth, 23040u);
  // The engine handed its version to the configuration object.
  const DWORD* version = static_cast<CImpIKRMediaConfig*>(config)->Version();
  DWORD major, minor, build;
  COKRMedia::ReadVersionInfo(&major, &minor, &build);
  EXPECT_EQ(version[0], major);
  EXPECT_EQ(version[1], minor);
  EXPECT_EQ(version[2], build);
  config->Release();
}

TEST_F(EngineTest, LiveSourceWithoutACamera) {
  // This prefix has no capture device: the live source says so.
  IGenFromLive* live = Query<IGenFromLive>(engine_, IID_IGenFromLive);
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(live->StartEncode(1), KRM_E_NO_VIDEO_CAPTURE_DEVICE);
  EXPECT_EQ(live->StartPreview(1, 0), KRM_E_NO_VIDEO_CAPTURE_DEVICE);
  live->Release();
}

TEST_F(EngineTest, GraphQueriesBeforeAnyGraph) {
  IKRMediaGraph* graph = Query<IKRMediaGraph>(engine_, IID_IKRMediaGraph);
  ASSERT_NE(graph, nullptr);
  LONG state = 99;
  EXPECT_EQ(graph->GetGraphState(&state), E_FAIL);
  EXPECT_EQ(state, 99) << "no state 0 is made up";
  EXPECT_EQ(LastTrace(), "COKRMedia::GetGraphState:No graph created !");
  void* wrapper = &state;
  EXPECT_EQ(graph->GetFilterGraph(&wrapper), E_FAIL);
  EXPECT_EQ(wrapper, nullptr);
  graph->Release();
}

TEST_F(EngineTest, TwoEnginesShareOneCaptureManager) {
  IUnknown* second = nullptr;
  ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&second)), S_OK);
  ICapManager* a = Query<ICapManager>(engine_, IID_ICapManager);
  ICapManager* b = Query<ICapManager>(second, IID_ICapManager);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a, b);
  EXPECT_EQ(COKRCapManager::Instances(), 1);
  a->Release();
  b->Release();
  EXPECT_EQ(static_cast<COKRMedia*>(engine_)->InstanceNumber() == static_cast<COKRMedia*>(second)->InstanceNumber(),
            false);

  engine_->Release();
  engine_ = nullptr;
  EXPECT_EQ(COKRCapManager::Instances(), 1) << "the second engine still uses it";
  // A third engine made now is numbered apart from the second, which still
  // lives: the numbers name owners of capture devices.
  IUnknown* third = nullptr;
  ASSERT_EQ(CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&third)), S_OK);
  EXPECT_NE(static_cast<COKRMedia*>(third)->InstanceNumber(), static_cast<COKRMedia*>(second)->InstanceNumber());
  third->Release();
  second->Release();
  EXPECT_EQ(COKRCapManager::Instances(), 0) << "released with the last engine";
}

TEST_F(EngineTest, CompanionThatCouldNotBeCreated) {
  failConfigCreationForTesting = true;
  IUnknown* lonely = nullptr;
  HRESULT hr = CreateKRMediaObject(nullptr, IID_IUnknown, reinterpret_cast<void**>(&lonely));
  failConfigCreationForTesting = false;
  EXPECT_EQ(hr, KRM_E_OUT_OF_MEMORY);
  ASSERT_NE(lonely, nullptr) << "the object exists and answers for its own interfaces";
  EXPECT_EQ(Query<IKRMediaConfig>(lonely, IID_IKRMediaConfig, &hr), nullptr);
  EXPECT_EQ(hr, E_NOINTERFACE);
  EXPECT_EQ(Query<ICapManager>(lonely, IID_ICapManager, &hr), nullptr);
  EXPECT_EQ(hr, E_NOINTERFACE);
  IKRStats* stats = Query<IKRStats>(lonely, IID_IKRStats, &hr);
  EXPECT_EQ(hr, S_OK);
  if (stats) stats->Release();
  lonely->Release();
}

// An outer object that aggregates an engine and passes on what it lacks.
class Outer : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown)) {
      *out = this;
      AddRef();
      return S_OK;
    }
    return inner ? inner->QueryInterface(iid, out) : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  IUnknown* inner = nullptr;
  ULONG refs = 1;
};

TEST_F(EngineTest, AggregatedEngineForwardsToItsOuterObject) {
  Outer outer;
  void* out = &outer;
  EXPECT_EQ(CreateKRMediaObject(&outer, IID_IGenFromFile, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  ASSERT_EQ(CreateKRMediaObject(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
  IKRMediaConfig* config = Query<IKRMediaConfig>(&outer, IID_IKRMediaConfig);
  ASSERT_NE(config, nullptr);
  EXPECT_EQ(outer.refs, 2u) << "the configuration interface counts on the outer object";
  EXPECT_EQ(Identity(config), &outer);
  config->Release();
  IGenFromLive* live = Query<IGenFromLive>(&outer, IID_IGenFromLive);
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(Identity(live), &outer);
  live->Release();
  EXPECT_EQ(outer.refs, 1u);
  outer.inner->Release();
}

TEST_F(EngineTest, VersionFromTheRegistry) {
  const wchar_t* key = L"Software\\Apps\\Kestrune\\Scrivel\\Version";
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
  DWORD v[3];
  EXPECT_EQ(COKRMedia::ReadVersionInfo(&v[0], &v[1], &v[2]), S_OK);
  EXPECT_EQ(v[0], 300u);
  EXPECT_EQ(v[1], 0u);
  EXPECT_EQ(v[2], 113u);

  HKEY k;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  DWORD major = 301;
  RegSetValueExW(k, L"majorVersion", 0, REG_DWORD, reinterpret_cast<BYTE*>(&major), sizeof major);
  RegSetValueExW(k, L"Build", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"7"), 4);  // not a number
  RegCloseKey(k);
  EXPECT_EQ(COKRMedia::ReadVersionInfo(&v[0], &v[1], &v[2]), S_OK);
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, key);
  EXPECT_EQ(v[0], 301u);
  EXPECT_EQ(v[1], 0u) << "a missing value keeps its default";
  EXPECT_EQ(v[2], 113u) << "so does one of the wrong type";
}

TEST_F(EngineTest, TraceTexts) {
  COKRMedia::TraceError("StartGraph", KRM_E_INVALID_FILE_NAME);
  EXPECT_EQ(LastTrace(), "COKRMedia::StartGraph: Invalid file name");
  COKRMedia::TraceError("StartGraph", VFW_E_NOT_CONNECTED);
  EXPECT_EQ(LastTrace().rfind("COKRMedia::StartGraph: ", 0), 0u);
  EXPECT_GT(LastTrace().size(), std::string("COKRMedia::StartGraph: ").size()) << "DirectShow's text follows";
}

class ConfigInterfaceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    config_ = Query<IKRMediaConfig>(engine_, IID_IKRMediaConfig);
    ASSERT_NE(config_, nullptr);
  }
  void TearDown() override {
    config_->Release();
    EngineTest::TearDown();
  }
  IKRMediaConfig* config_ = nullptr;
};

TEST_F(ConfigInterfaceTest, NullPointers) {
  EXPECT_EQ(config_->ConfigVideoEncoder(nullptr), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(config_->ConfigApplication(nullptr), KRM_E_BAD_PARAMETER);
  EXPECT_EQ(config_->ConfigAudioEncoder(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->ConfigOutput(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->GetConfigVideoEncoder(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->GetConfigAudioEncoder(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->GetConfigOutput(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->GetConfigApplication(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->GetDestinationWindow(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->GetEventWindow(nullptr), E_INVALIDARG);
  EXPECT_EQ(config_->SetVersionInfo(nullptr), E_INVALIDARG);
  RECT rect = {};
  EXPECT_EQ(config_->SetDestinationWindow(nullptr, &rect, 1, 2), E_INVALIDARG);
  EXPECT_EQ(config_->SetDestinationWindow(GetDesktopWindow(), nullptr, 1, 2), E_INVALIDARG);
  EXPECT_EQ(config_->SetEventWindow(nullptr, 0x5F4), E_INVALIDARG);
}

TEST_F(ConfigInterfaceTest, WindowsAreKept) {
  HWND window = GetDesktopWindow();
  RECT rect = {1, 2, 177, 146};
  ASSERT_EQ(config_->SetDestinationWindow(window, &rect, 10, 20), S_OK);
  KRDestinationWindow destination = {};
  ASSERT_EQ(config_->GetDestinationWindow(&destination), S_OK);
  EXPECT_EQ(destination.window, window);
  EXPECT_EQ(destination.rect.right, 177);
  EXPECT_EQ(destination.b, 20) << "stored in reverse order of the arguments";
  EXPECT_EQ(destination.a, 10);
  ASSERT_EQ(config_->SetEventWindow(window, 0x5F4), S_OK);
  KREventWindow event = {};
  ASSERT_EQ(config_->GetEventWindow(&event), S_OK);
  EXPECT_EQ(event.window, window);
  EXPECT_EQ(event.message, 0x5F4);
}

TEST_F(ConfigInterfaceTest, RecordsAreCheckedAndReset) {
  KRVideoEncoderConfig video;
  ASSERT_EQ(config_->GetConfigVideoEncoder(&video), S_OK);
  video.sourceFrameRate = 15.0f;
  video.frameRate[0] = 16.5f;
  EXPECT_EQ(config_->ConfigVideoEncoder(&video), KRM_E_INVALID_BASE_FRAMERATE);
  KRVideoEncoderConfig stored;
  ASSERT_EQ(config_->GetConfigVideoEncoder(&stored), S_OK);
  EXPECT_EQ(stored.frameRate[0], 16.5f);

  KRApplicationConfig application;
  ASSERT_EQ(config_->GetConfigApplication(&application), S_OK);
  application.maxSize = 70000;
  application.durationUnit = 3;
  ASSERT_EQ(config_->ConfigApplication(&application), S_OK);
  ASSERT_EQ(config_->GetConfigApplication(&application), S_OK);
  EXPECT_EQ(application.maxSize, 0u);
  EXPECT_EQ(application.durationUnit, 3);

  KRAudioEncoderConfig audio = {};
  audio.stream[0] = {2, 1, 11025, 16000, 2};
  ASSERT_EQ(config_->ConfigAudioEncoder(&audio), S_OK);

  ASSERT_EQ(config_->ResetToDefaults(), S_OK);
  ASSERT_EQ(config_->GetConfigVideoEncoder(&stored), S_OK);
  EXPECT_EQ(stored.frameRate[0], 5.0f);
  ASSERT_EQ(config_->GetConfigApplication(&application), S_OK);
  EXPECT_EQ(application.durationUnit, 1);
  ASSERT_EQ(config_->GetConfigAudioEncoder(&audio), S_OK);
  EXPECT_EQ(audio.stream[0].codec, 0);
}

}  // namespace
