// Medlark.dll as COM sees it: registration through regsvr32 (checked with
// reg query), creation by ProgID, the class factory and DllCanUnloadNow.
#include <gtest/gtest.h>

#include <olectl.h>
#include <uuids.h>

#include <map>
#include <sstream>
#include <string>

#include "mediaengine/interfaces.h"
#include "test_util.h"

namespace {

const std::string kClsid = "{07759AE6-4DF1-11D4-871F-0050DA816754}";

// Every subkey and value under a key, from reg query /s: a subkey as
// (subkey, ""), a value as (its key, "name|type|data").
std::multimap<std::string, std::string> RegValues(const std::string& key) {
  CommandResult r = RunCommand("reg.exe query \"" + key + "\" /s");
  std::multimap<std::string, std::string> values;
  std::istringstream lines(r.output);
  std::string line, current;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.rfind("HKEY_", 0) == 0) {
      current = line;
      if (current != key) values.emplace(current, "");  // a subkey
      continue;
    }
    size_t type = line.find("REG_");
    if (type == std::string::npos) continue;
    size_t typeEnd = line.find_first_of(" \t", type);
    std::string name = line.substr(0, type);
    name.erase(0, name.find_first_not_of(" \t"));
    while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.pop_back();
    std::string data = typeEnd == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", typeEnd));
    values.emplace(current, name + "|" + line.substr(type, typeEnd - type) + "|" + data);
  }
  return values;
}

using DllFunction = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

// The library as COM loads it, with its exports found by their plain names.
class MedlarkModule {
 public:
  MedlarkModule() : module_(LoadLibraryA(MedlarkPath().c_str())) {}
  ~MedlarkModule() {
    if (module_) FreeLibrary(module_);
  }
  template <class F>
  F Export(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  bool Loaded() const { return module_ != nullptr; }

 private:
  HMODULE module_;
};

class ServerTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(com_.Result(), S_OK);
    ASSERT_EQ(Regsvr32(false), 0u);
  }
  ComScope com_;
};

TEST_F(ServerTest, RegistersExactlyItsKeysOnce) {
  ASSERT_EQ(Regsvr32(false), 0u) << "registering twice succeeds";
  std::string classKey = "HKEY_CLASSES_ROOT\\CLSID\\" + kClsid;
  std::multimap<std::string, std::string> expected = {
      {"HKEY_CLASSES_ROOT\\KRMedia.KRMedia.1\\CLSID", ""},
      {"HKEY_CLASSES_ROOT\\KRMedia.KRMedia.1\\CLSID", "(Default)|REG_SZ|" + kClsid},
      {classKey + "\\InprocServer32", ""},
      {classKey + "\\InprocServer32", "(Default)|REG_SZ|" + MedlarkPath()},
      {classKey + "\\InprocServer32", "ThreadingModel|REG_SZ|Both"},
      {classKey + "\\ProgID", ""},
      {classKey + "\\ProgID", "(Default)|REG_SZ|KRMedia.KRMedia.1"},
  };
  std::multimap<std::string, std::string> found = RegValues("HKEY_CLASSES_ROOT\\KRMedia.KRMedia.1");
  found.merge(RegValues(classKey));
  EXPECT_EQ(found, expected);
}

TEST_F(ServerTest, CreatedByItsProgId) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(kKRMediaProgId, &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KRMedia));
  IKRMediaGraph* graph = nullptr;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKRMediaGraph,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  LONG state = 0;
  EXPECT_EQ(graph->GetGraphState(&state), E_FAIL);
  IKRMediaConfig* config = nullptr;
  ASSERT_EQ(graph->QueryInterface(IID_IKRMediaConfig, reinterpret_cast<void**>(&config)), S_OK);
  mediaengine::KRVideoEncoderConfig video;
  EXPECT_EQ(config->GetConfigVideoEncoder(&video), S_OK);
  EXPECT_EQ(video.frameSize, 18432);
  config->Release();
  graph->Release();
}

TEST_F(ServerTest, ClassFactoryAndUnloading) {
  MedlarkModule medlark;
  ASSERT_TRUE(medlark.Loaded());
  auto getClassObject = medlark.Export<GetClassObjectFunction>("DllGetClassObject");
  auto canUnloadNow = medlark.Export<DllFunction>("DllCanUnloadNow");
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(canUnloadNow, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK);

  void* out = &out;
  EXPECT_EQ(getClassObject(CLSID_FilterGraph, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  IClassFactory* factory = nullptr;
  ASSERT_EQ(getClassObject(CLSID_KRMedia, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
  EXPECT_EQ(factory->QueryInterface(IID_IKRMediaGraph, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  IUnknown* outer = factory;  // any unknown will do: it is refused
  out = &out;
  EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(canUnloadNow(), S_OK) << "a refused interface leaves no object behind";

  IUnknown* engine = nullptr;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&engine)), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  engine->Release();
  EXPECT_EQ(canUnloadNow(), S_OK);

  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK);
  factory->Release();
}

TEST_F(ServerTest, UnregisteringRemovesEveryKey) {
  ASSERT_EQ(Regsvr32(true), 0u);
  for (const std::string& key : {std::string("KRMedia.KRMedia.1"), "CLSID\\" + kClsid})
    EXPECT_FALSE(ClassesKeyExists(std::wstring(key.begin(), key.end()))) << key;
  ASSERT_EQ(Regsvr32(false), 0u);
}

TEST_F(ServerTest, UnregisteringStopsAtAHandDeletedKey) {
  CommandResult deleted = RunCommand("reg.exe delete \"HKEY_CLASSES_ROOT\\KRMedia.KRMedia.1\" /f");
  ASSERT_EQ(deleted.exitCode, 0u) << deleted.output;
  MedlarkModule medlark;
  auto unregisterServer = medlark.Export<DllFunction>("DllUnregisterServer");
  ASSERT_NE(unregisterServer, nullptr);
  EXPECT_EQ(unregisterServer(), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_FALSE(ClassesKeyExists(L"CLSID\\{07759AE6-4DF1-11D4-871F-0050DA816754}"))
      << "the class keys before it are gone";
  EXPECT_NE(Regsvr32(true), 0u) << "regsvr32 sees the failure";
  ASSERT_EQ(Regsvr32(false), 0u);
}

}  // namespace
