// KrAtlSample.dll as its users see it: regsvr32 and reg query, Wine's
// cscript, a C++ client late-bound by ProgID and early-bound through the
// vtable, the class factory and DllCanUnloadNow, aggregation, and eight
// threads on one object. The tests run in a Wine prefix of their own
// (see CMakeLists.txt), so the registry export compares only our changes.
#include <gtest/gtest.h>

#include <objsafe.h>
#include <olectl.h>

#include <atomic>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "atl/owners.h"
#include "com_client.h"
#include "command.h"
#include "sample.h"

namespace {

using atl::Bstr;
using atl::ComPtr;
using atl::Variant;

const std::string kClsid = "{DFBF389E-36A3-4F05-8869-1D3F61B36CA3}";
const std::string kLibId = "{95FA8031-17E5-4538-A854-DACAABBA33A0}";
const std::string kIid = "{20A50348-D91B-44A1-ACAA-134E4E5E7A53}";
const std::string kAppId = "{18D8D4F2-7195-4A49-97CB-76E180BF2DF0}";
const std::string kScripting = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const std::string kInitializing = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";

// The build tree's path as Wine shows it (drive Z: is the root).
std::string WinePath(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return "Z:" + path;
}

std::string SamplePath() { return WinePath(SAMPLE_DLL); }

DWORD Regsvr32(bool unregister) {
  return RunCommand(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + SamplePath() + "\"").exitCode;
}

std::string ExportClasses(const std::string& file) {
  std::string path = TestDir() + file;
  CommandResult r = RunCommand("reg.exe export HKCR \"" + path + "\" /y");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  DeleteFileA(path.c_str());
  return text;
}

// Registration keeps its own order: it starts and ends unregistered.
TEST(Registration, RegistersEveryKeyAndUnregistersToTheSameExport) {
  ASSERT_EQ(Regsvr32(true), 0u) << "unregistering what is not there succeeds";
  std::string before = ExportClasses("hkcr-before.reg");
  ASSERT_GT(before.size(), 1000u);

  ASSERT_EQ(Regsvr32(false), 0u);
  ASSERT_EQ(Regsvr32(false), 0u) << "registering twice succeeds";
  const std::string k = "CLSID\\" + kClsid;
  const std::string server = sizeof(void*) == 8 ? "win64" : "win32";
  const std::string tlb = "TypeLib\\" + kLibId + "\\1.0";
  struct Expected {
    std::string key;
    std::map<std::string, std::string> values;
  };
  const Expected expected[] = {
      {k, {{"(Default)", "SampleObject Class"}, {"AppID", kAppId}}},
      {k + "\\InprocServer32", {{"(Default)", SamplePath()}, {"ThreadingModel", "Both"}}},
      {k + "\\ProgID", {{"(Default)", "KrAtlSample.SampleObject.1"}}},
      {k + "\\VersionIndependentProgID", {{"(Default)", "KrAtlSample.SampleObject"}}},
      {k + "\\Programmable", {}},
      {k + "\\TypeLib", {{"(Default)", kLibId}}},
      {k + "\\Implemented Categories\\" + kScripting, {}},
      {k + "\\Implemented Categories\\" + kInitializing, {}},
      {"KrAtlSample.SampleObject.1\\CLSID", {{"(Default)", kClsid}}},
      {"KrAtlSample.SampleObject\\CLSID", {{"(Default)", kClsid}}},
      {"KrAtlSample.SampleObject\\CurVer", {{"(Default)", "KrAtlSample.SampleObject.1"}}},
      {"AppID\\" + kAppId, {{"(Default)", "KrAtlSample.dll"}}},
      {tlb, {{"(Default)", "KrAtlSample 1.0 Type Library"}}},
      {tlb + "\\0\\" + server, {{"(Default)", SamplePath()}}},
      {"Interface\\" + kIid + "\\TypeLib", {{"(Default)", kLibId}, {"Version", "1.0"}}},
      {"Component Categories\\" + kScripting, {{"409", "Controls safely scriptable!"}}},
      {"Component Categories\\" + kInitializing, {{"409", "Controls safely initializable from persistent data!"}}},
  };
  std::map<std::string, std::map<std::string, std::string>> found;
  for (const char* root : {"CLSID\\", "KrAtlSample.SampleObject.1", "KrAtlSample.SampleObject", "AppID\\",
                           "TypeLib\\", "Interface\\", "Component Categories\\"}) {
    std::string key = root;
    if (key == "CLSID\\") key += kClsid;
    if (key == "AppID\\") key += kAppId;
    if (key == "TypeLib\\") key += kLibId;
    if (key == "Interface\\") key += kIid;
    if (key == "Component Categories\\") {
      found.merge(RegTree("HKCR\\" + key + kScripting));
      key += kInitializing;
    }
    found.merge(RegTree("HKCR\\" + key));
  }
  for (const Expected& e : expected) {
    auto it = found.find(e.key);
    ASSERT_NE(it, found.end()) << e.key;
    EXPECT_EQ(it->second, e.values) << e.key;
  }

  ASSERT_EQ(Regsvr32(true), 0u);
  std::string after = ExportClasses("hkcr-after.reg");
  EXPECT_TRUE(before == after) << "HKCR differs after unregistering (" << before.size() << " and " << after.size()
                               << " bytes)";
}

// The other tests need the server registered, and leave the prefix as they
// found it.
class Client : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(Regsvr32(false), 0u); }
  static void TearDownTestSuite() { EXPECT_EQ(Regsvr32(true), 0u); }
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(com_)); }
  void TearDown() override {
    if (SUCCEEDED(com_)) CoUninitialize();
  }
  HRESULT com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
};

TEST_F(Client, ScriptHostPrintsTheObjectsAnswers) {
  std::string script = WinePath(SUITE_TEST_DATA_DIR "/sample.vbs");
  CommandResult r = RunCommand("cscript.exe //nologo \"" + script + "\"");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  std::string out;
  for (char c : r.output)
    if (c != '\r') out += c;
  EXPECT_EQ(out,
            "Count=7\n"
            "Add=12\n"
            "Join=a-b-3 n=3\n"
            "Split=2 z\n"
            "Error=80070057 Join needs an array of items\n");
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << name;
  return id;
}

VARIANT Borrow(const Variant& v) { return v.Get(); }  // the owner keeps it

VARIANT ByRef(VARIANT* target) {
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&ref) = target;
  return ref;
}

// Array("a", "b", 3) as a script builds it.
Variant ScriptArray() {
  atl::SafeArray array;
  EXPECT_EQ(array.Create(VT_VARIANT, 0, 3), S_OK);
  Variant items[] = {Variant(L"a"), Variant(L"b"), Variant(3L)};
  for (LONG i = 0; i < 3; ++i) EXPECT_EQ(array.Put(i, const_cast<VARIANT*>(&items[i].Get())), S_OK);
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&v) = array.Detach();
  Variant owner;
  owner.Attach(&v);
  return owner;
}

std::wstring TextOf(const Variant& v) {
  Variant copy = v;
  EXPECT_EQ(copy.ChangeType(VT_BSTR), S_OK);
  return copy.Type() == VT_BSTR ? std::wstring(V_BSTR(&copy.Get()), SysStringLen(V_BSTR(&copy.Get()))) : L"?";
}

TEST_F(Client, LateBoundByProgIdGivesTheScriptsAnswers) {
  CLSID clsid;
  ASSERT_EQ(CLSIDFromProgID(L"KrAtlSample.SampleObject", &clsid), S_OK);
  EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_SampleObject));
  ComPtr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()), S_OK);
  const DISPID count = IdOf(object.Get(), L"Count"), add = IdOf(object.Get(), L"add"),
               join = IdOf(object.Get(), L"Join"), split = IdOf(object.Get(), L"Split");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(add, 2) << "names are matched without regard to case";

  Call put, get, added, joined, splitted;
  Invoke(object.Get(), count, DISPATCH_PROPERTYPUT, {Borrow(Variant(7L))}, &put);
  EXPECT_EQ(put.hr, S_OK);
  Invoke(object.Get(), count, DISPATCH_PROPERTYGET, {}, &get);
  EXPECT_EQ(get.hr, S_OK);
  EXPECT_EQ(TextOf(get.result), L"7");
  Variant five(L"5");  // coerced by oleaut32 to the declared long
  Invoke(object.Get(), add, DISPATCH_METHOD, {Borrow(five)}, &added);
  EXPECT_EQ(added.hr, S_OK);
  EXPECT_EQ(added.result.Type(), VT_I4);
  EXPECT_EQ(TextOf(added.result), L"12");

  Variant separator(L"-"), items = ScriptArray(), n;
  Invoke(object.Get(), join, DISPATCH_METHOD, {Borrow(separator), Borrow(items), ByRef(n.Out())}, &joined);
  EXPECT_EQ(joined.hr, S_OK);
  EXPECT_EQ(TextOf(joined.result), L"a-b-3");
  EXPECT_EQ(TextOf(n), L"3");

  Variant text(L"x,y,z"), comma(L",");
  Invoke(object.Get(), split, DISPATCH_METHOD, {Borrow(text), Borrow(comma)}, &splitted);
  ASSERT_EQ(splitted.hr, S_OK);
  ASSERT_EQ(splitted.result.Type(), VT_ARRAY | VT_VARIANT);
  atl::SafeArray parts;
  ASSERT_EQ(parts.CopyFrom(V_ARRAY(&splitted.result.Get())), S_OK);
  LONG lower = -1, upper = -1;
  ASSERT_EQ(parts.Bounds(&lower, &upper), S_OK);
  EXPECT_EQ(lower, 0);
  EXPECT_EQ(upper, 2);
  Variant third;
  ASSERT_EQ(parts.Fetch(2, third.Out()), S_OK);
  EXPECT_EQ(TextOf(third), L"z");
}

TEST_F(Client, LateBoundFailuresAreOleautsOwnCodes) {
  ComPtr<IDispatch> object;
  ASSERT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()),
            S_OK);
  DISPID id = 0;
  LPOLESTR nope[] = {const_cast<LPOLESTR>(L"Nope")};
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, nope, 1, 0, &id), DISP_E_UNKNOWNNAME);

  Variant one(1L), two(2L), word(L"five"), five(L"-"), n;
  struct Case {
    const char* what;
    DISPID id;
    WORD flags;
    std::vector<VARIANT> args;
    HRESULT hr;
  };
  const Case cases[] = {
      {"no argument for Add", 2, DISPATCH_METHOD, {}, DISP_E_BADPARAMCOUNT},
      {"two arguments for Add", 2, DISPATCH_METHOD, {Borrow(one), Borrow(two)}, DISP_E_BADPARAMCOUNT},
      {"a word for a long", 2, DISPATCH_METHOD, {Borrow(word)}, DISP_E_TYPEMISMATCH},
      {"an unknown dispatch id", 99, DISPATCH_METHOD, {}, DISP_E_MEMBERNOTFOUND},
      {"a number where Join needs an array", 3, DISPATCH_METHOD, {Borrow(five), Borrow(one), ByRef(n.Out())},
       DISP_E_EXCEPTION},
  };
  for (const Case& c : cases) {
    Call call;
    Invoke(object.Get(), c.id, c.flags, c.args, &call);
    EXPECT_EQ(call.hr, c.hr) << c.what;
    if (c.hr == DISP_E_EXCEPTION) {
      EXPECT_EQ(call.exception.scode, E_INVALIDARG);
      EXPECT_STREQ(call.exception.bstrDescription, L"Join needs an array of items");
      EXPECT_STREQ(call.exception.bstrSource, L"KrAtlSample.SampleObject.1");
    }
  }
  Call wrongInterface;
  DISPPARAMS none = {};
  EXPECT_EQ(object->Invoke(1, IID_IUnknown, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Client, EarlyBoundGivesTheSameAnswers) {
  ComPtr<ISampleObject> object;
  ASSERT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleObject, object.OutVoid()),
            S_OK);
  LONG value = 0;
  EXPECT_EQ(object->put_Count(7), S_OK);
  EXPECT_EQ(object->get_Count(&value), S_OK);
  EXPECT_EQ(value, 7);
  EXPECT_EQ(object->Add(5, &value), S_OK);
  EXPECT_EQ(value, 12);

  Bstr separator(L"-"), joined;
  Variant items = ScriptArray(), n;
  EXPECT_EQ(object->Join(separator.Get(), items.Get(), n.Out(), joined.Out()), S_OK);
  EXPECT_STREQ(joined.Text(), L"a-b-3");
  EXPECT_EQ(TextOf(n), L"3");

  Bstr text(L"x,y,z"), comma(L",");
  Variant parts;
  ASSERT_EQ(object->Split(text.Get(), comma.Get(), parts.Out()), S_OK);
  ASSERT_EQ(parts.Type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(SafeArrayGetDim(V_ARRAY(&parts.Get())), 1u);

  // The failing call leaves its description for GetErrorInfo.
  Variant notAnArray(5L);
  EXPECT_EQ(object->Join(separator.Get(), notAnArray.Get(), n.Out(), joined.Out()), E_INVALIDARG);
  ComPtr<IErrorInfo> error;
  ASSERT_EQ(GetErrorInfo(0, error.Out()), S_OK);
  Bstr description;
  EXPECT_EQ(error->GetDescription(description.Out()), S_OK);
  EXPECT_STREQ(description.Text(), L"Join needs an array of items");
  EXPECT_EQ(object->Add(0x7FFFFFFF, &value), DISP_E_OVERFLOW);

  ComPtr<ISupportErrorInfo> support;
  ASSERT_EQ(object.As(&support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_ISampleObject), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(Client, ClassAndTypeInformation) {
  ComPtr<ISampleObject> object;
  ASSERT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleObject, object.OutVoid()),
            S_OK);
  ComPtr<IProvideClassInfo2> info;
  ASSERT_EQ(object.As(&info), S_OK);
  GUID source = GUID_NULL;
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source), S_OK);
  EXPECT_TRUE(IsEqualIID(source, DIID__ISampleObjectEvents));
  EXPECT_EQ(info->GetGUID(2, &source), E_INVALIDARG);
  ComPtr<ITypeInfo> coclass;
  ASSERT_EQ(info->GetClassInfo(coclass.Out()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  EXPECT_TRUE(IsEqualCLSID(attr->guid, CLSID_SampleObject));
  coclass->ReleaseTypeAttr(attr);

  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  ComPtr<ITypeInfo> described;
  ASSERT_EQ(object->GetTypeInfo(0, 0, described.Out()), S_OK);
  ASSERT_EQ(described->GetTypeAttr(&attr), S_OK);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
  described->ReleaseTypeAttr(attr);
  EXPECT_EQ(object->GetTypeInfo(1, 0, described.Out()), DISP_E_BADINDEX);
}

using DllFunction = HRESULT(STDAPICALLTYPE*)();
using GetClassObjectFunction = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

class Library {
 public:
  Library() : module_(LoadLibraryA(SamplePath().c_str())) {}
  ~Library() {
    if (module_) FreeLibrary(module_);
  }
  template <class F>
  F Export(const char* name) const {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }

 private:
  HMODULE module_;
};

// A controlling unknown of the test's own: it counts its references and
// answers IPersist itself, everything else through the inner object.
class TestOuter : public IPersist {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist)) {
      *out = static_cast<IPersist*>(this);
      AddRef();
      return S_OK;
    }
    if (!inner) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    return inner->QueryInterface(iid, out);
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs)); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&refs)); }
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  volatile LONG refs = 1;  // the test's own reference; never deleted
  IUnknown* inner = nullptr;
};

TEST_F(Client, CanUnloadOnlyWithNoObjectAndNoLock) {
  Library library;
  auto getClassObject = library.Export<GetClassObjectFunction>("DllGetClassObject");
  auto canUnloadNow = library.Export<DllFunction>("DllCanUnloadNow");
  ASSERT_NE(getClassObject, nullptr);
  ASSERT_NE(canUnloadNow, nullptr);
  ASSERT_EQ(canUnloadNow(), S_OK);

  void* out = &out;
  EXPECT_EQ(getClassObject(IID_IDispatch, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(CLSID_SampleObject, IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(canUnloadNow(), S_OK) << "a factory alone does not hold the library (LockServer does)";
  TestOuter outer;
  out = &out;
  EXPECT_EQ(factory->CreateInstance(&outer, IID_ISampleObject, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(canUnloadNow(), S_OK) << "a refused interface leaves no object behind";

  struct Case {
    const char* what;
    int objects;
    int aggregated;
    int locks;
  };
  const Case cases[] = {
      {"nothing held", 0, 0, 0},  {"one object", 1, 0, 0},  {"one lock", 0, 0, 1},
      {"an aggregated object", 0, 1, 0}, {"objects and locks", 2, 1, 2},
  };
  for (const Case& c : cases) {
    std::vector<ComPtr<IUnknown>> held;
    for (int i = 0; i < c.objects + c.aggregated; ++i) {
      ComPtr<IUnknown> object;
      ASSERT_EQ(factory->CreateInstance(i < c.objects ? nullptr : &outer, IID_IUnknown, object.OutVoid()), S_OK);
      held.push_back(object);
    }
    for (int i = 0; i < c.locks; ++i) EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow(), c.objects + c.aggregated + c.locks ? S_FALSE : S_OK) << c.what;
    held.clear();
    EXPECT_EQ(canUnloadNow(), c.locks ? S_FALSE : S_OK) << c.what << ", objects released";
    for (int i = 0; i < c.locks; ++i) EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow(), S_OK) << c.what << ", all released";
  }
  EXPECT_EQ(outer.refs, 1);
}

TEST_F(Client, AggregatedObjectAnswersThroughItsOuter) {
  TestOuter outer;
  ComPtr<IUnknown> inner;
  void* out = &out;
  EXPECT_EQ(CoCreateInstance(CLSID_SampleObject, &outer, CLSCTX_INPROC_SERVER, IID_IDispatch, &out),
            CLASS_E_NOAGGREGATION);
  ASSERT_EQ(CoCreateInstance(CLSID_SampleObject, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.OutVoid()), S_OK);
  outer.inner = inner.Get();
  EXPECT_EQ(outer.refs, 1) << "creating the inner object leaves the outer count alone";

  ComPtr<ISampleObject> sample;
  ASSERT_EQ(outer.QueryInterface(IID_ISampleObject, sample.OutVoid()), S_OK);
  EXPECT_EQ(outer.refs, 2) << "the sample interface counts on the outer object";
  ComPtr<IUnknown> identity;
  ASSERT_EQ(sample->QueryInterface(IID_IUnknown, identity.OutVoid()), S_OK);
  EXPECT_EQ(identity.Get(), static_cast<IUnknown*>(&outer)) << "identity is the outer object's";
  ComPtr<IPersist> persist;
  EXPECT_EQ(sample->QueryInterface(IID_IPersist, persist.OutVoid()), S_OK) << "asked through the outer object";
  EXPECT_EQ(outer.refs, 4);
  LONG total = 0;
  EXPECT_EQ(sample->Add(3, &total), S_OK);
  EXPECT_EQ(total, 3);
  identity.Reset();
  persist.Reset();
  sample.Reset();
  EXPECT_EQ(outer.refs, 1) << "every reference taken through the inner object came back";
  outer.inner = nullptr;
  EXPECT_EQ(inner->Release(), 0u);
  inner.Detach();
}

TEST_F(Client, EightThreadsShareOneObject) {
  ComPtr<ISampleObject> object;
  ASSERT_EQ(CoCreateInstance(CLSID_SampleObject, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleObject, object.OutVoid()),
            S_OK);
  constexpr int kThreads = 8, kRounds = 200000, kAddEvery = 16;
  std::vector<std::thread> threads;
  ISampleObject* shared = object.Get();
  std::atomic<int> ready{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([shared, &ready] {
      // All start together, so the counts are changed side by side.
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kRounds; ++i) {
        shared->AddRef();
        shared->AddRef();
        shared->Release();
        shared->Release();
        LONG total = 0;
        if (i % kAddEvery == 0) shared->Add(1, &total);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  LONG count = 0;
  EXPECT_EQ(object->get_Count(&count), S_OK);
  EXPECT_EQ(count, kThreads * kRounds / kAddEvery);
  EXPECT_EQ(object->AddRef(), 2u) << "every reference from the threads came back";
  EXPECT_EQ(object->Release(), 1u);
}

}  // namespace
