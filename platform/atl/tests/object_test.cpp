// The layer inside one program: object wrappers and their interface tables,
// final construct and release, aggregation built on the layer itself, the
// module's counts and a registration that fails and leaves nothing.
#include <gtest/gtest.h>

#include <olectl.h>

#include <string>

#include "atl/module.h"
#include "atl/object.h"
#include "atl/owners.h"
#include "atl/registry.h"

struct IAlpha : IUnknown {
  virtual int STDMETHODCALLTYPE Alpha() = 0;
};
struct IBeta : IUnknown {
  virtual int STDMETHODCALLTYPE Beta() = 0;
};
__CRT_UUID_DECL(IAlpha, 0x6c1d7a40, 0x2b1e, 0x4f0a, 0x9d, 0x11, 0x3e, 0x5a, 0x70, 0x01, 0x00, 0x01)
__CRT_UUID_DECL(IBeta, 0x6c1d7a40, 0x2b1e, 0x4f0a, 0x9d, 0x11, 0x3e, 0x5a, 0x70, 0x01, 0x00, 0x02)

namespace {

using atl::ComPtr;

struct Tally {
  int constructed = 0;
  int released = 0;
};

// One interface of its own, single-threaded counting, may be aggregated.
class BetaObject : public atl::ObjectRoot<atl::SingleThreaded>, public IBeta {
 public:
  static constexpr bool kAggregatable = true;
  static const atl::InterfaceEntry* Interfaces() {
    static const atl::InterfaceEntry entries[] = {atl::Entry<BetaObject, IBeta>(), {}};
    return entries;
  }
  static Tally tally;
  HRESULT FinalConstruct() {
    ++tally.constructed;
    return S_OK;
  }
  void FinalRelease() { ++tally.released; }
  int STDMETHODCALLTYPE Beta() override { return 2; }
};
Tally BetaObject::tally;

// Two interfaces of its own and a third from an inner BetaObject it aggregates;
// a flag makes FinalConstruct fail.
class AlphaObject : public atl::ObjectRoot<atl::MultiThreaded>, public IAlpha, public IPersist {
 public:
  static const atl::InterfaceEntry* Interfaces() {
    static const atl::InterfaceEntry entries[] = {
        atl::Entry<AlphaObject, IAlpha>(), atl::Entry<AlphaObject, IPersist>(),
        atl::InnerEntry<AlphaObject, &AlphaObject::inner_>(__uuidof(IBeta)), {}};
    return entries;
  }
  static Tally tally;
  static bool failConstruct;
  HRESULT FinalConstruct() {
    ++tally.constructed;
    if (failConstruct) return E_ABORT;
    // The controlling unknown is this object's own.
    return atl::Creator<BetaObject>::Create(static_cast<IAlpha*>(this), IID_IUnknown, reinterpret_cast<void**>(&inner_));
  }
  void FinalRelease() {
    ++tally.released;
    if (inner_) inner_->Release();
  }
  int STDMETHODCALLTYPE Alpha() override { return 1; }
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    *clsid = CLSID_NULL;
    return S_OK;
  }

 private:
  IUnknown* inner_ = nullptr;
};
Tally AlphaObject::tally;
bool AlphaObject::failConstruct = false;

class ObjectTest : public testing::Test {
 protected:
  void SetUp() override {
    AlphaObject::tally = {};
    BetaObject::tally = {};
    AlphaObject::failConstruct = false;
    ASSERT_EQ(atl::CurrentModule().Objects(), 0);
  }
  void TearDown() override { EXPECT_EQ(atl::CurrentModule().Objects(), 0) << "every object went"; }
};

TEST_F(ObjectTest, QueryInterfaceFollowsTheTable) {
  ComPtr<IAlpha> alpha;
  ASSERT_EQ(atl::Creator<AlphaObject>::Create(nullptr, __uuidof(IAlpha), alpha.OutVoid()), S_OK);
  EXPECT_EQ(alpha->Alpha(), 1);
  EXPECT_EQ(atl::CurrentModule().Objects(), 2) << "AlphaObject and its inner BetaObject";

  ComPtr<IUnknown> fromAlpha, fromPersist;
  ComPtr<IPersist> persist;
  ASSERT_EQ(alpha.As(&fromAlpha), S_OK);
  ASSERT_EQ(alpha.As(&persist), S_OK);
  ASSERT_EQ(persist.As(&fromPersist), S_OK);
  EXPECT_EQ(fromAlpha.Get(), fromPersist.Get()) << "one identity";
  EXPECT_EQ(fromAlpha.Get(), static_cast<IUnknown*>(alpha.Get())) << "the first row answers IUnknown";

  void* out = &out;
  EXPECT_EQ(alpha->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(alpha->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

  // The inner object's interface, reached through the outer one, answers
  // with the outer identity and counts on it.
  ComPtr<IBeta> beta;
  ASSERT_EQ(alpha.As(&beta), S_OK);
  EXPECT_EQ(beta->Beta(), 2);
  ComPtr<IUnknown> fromBeta;
  ASSERT_EQ(beta.As(&fromBeta), S_OK);
  EXPECT_EQ(fromBeta.Get(), fromAlpha.Get());
  ComPtr<IPersist> persistFromBeta;
  EXPECT_EQ(beta.As(&persistFromBeta), S_OK) << "the outer object's interfaces through the inner one";
  ULONG before = alpha->AddRef();
  alpha->Release();
  beta->AddRef();
  EXPECT_EQ(alpha->AddRef(), before + 1) << "a reference on the inner interface is the outer's";
  alpha->Release();
  beta->Release();
}

TEST_F(ObjectTest, FinalConstructAndReleaseFrameTheLife) {
  {
    ComPtr<IAlpha> alpha;
    ASSERT_EQ(atl::Creator<AlphaObject>::Create(nullptr, __uuidof(IAlpha), alpha.OutVoid()), S_OK);
    EXPECT_EQ(AlphaObject::tally.constructed, 1);
    EXPECT_EQ(BetaObject::tally.constructed, 1);
    EXPECT_EQ(AlphaObject::tally.released, 0);
  }
  EXPECT_EQ(AlphaObject::tally.released, 1);
  EXPECT_EQ(BetaObject::tally.released, 1) << "the outer object's FinalRelease released its inner one";

  AlphaObject::failConstruct = true;
  void* out = &out;
  EXPECT_EQ(atl::Creator<AlphaObject>::Create(nullptr, __uuidof(IAlpha), &out), E_ABORT);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(AlphaObject::tally.released, 2) << "a failed object is destroyed at once";

  AlphaObject::failConstruct = false;
  EXPECT_EQ(atl::Creator<AlphaObject>::Create(nullptr, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(AlphaObject::tally.released, 3) << "an object nobody took is destroyed";
}

TEST_F(ObjectTest, CreationRules) {
  ComPtr<IAlpha> outer;
  ASSERT_EQ(atl::Creator<AlphaObject>::Create(nullptr, __uuidof(IAlpha), outer.OutVoid()), S_OK);
  void* out = &out;
  EXPECT_EQ(atl::Creator<AlphaObject>::Create(outer.Get(), IID_IUnknown, &out), CLASS_E_NOAGGREGATION)
      << "a class that does not say it may be aggregated";
  EXPECT_EQ(atl::Creator<BetaObject>::Create(outer.Get(), __uuidof(IBeta), &out), CLASS_E_NOAGGREGATION)
      << "an aggregate is asked for IUnknown only";
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(atl::Creator<BetaObject>::Create(nullptr, __uuidof(IBeta), nullptr), E_POINTER);

  // A no-lock object does not count in the module.
  LONG objects = atl::CurrentModule().Objects();
  auto* loose = new atl::NoLockObject<BetaObject>();
  loose->AddRef();
  EXPECT_EQ(atl::CurrentModule().Objects(), objects);
  EXPECT_EQ(loose->Release(), 0u);
}

// A module of the test program itself, with a class of its own.
const CLSID kTestClass = {0x6c1d7a40, 0x2b1e, 0x4f0a, {0x9d, 0x11, 0x3e, 0x5a, 0x70, 0x01, 0x00, 0x10}};
const GUID kMissingLibrary = {0x6c1d7a40, 0x2b1e, 0x4f0a, {0x9d, 0x11, 0x3e, 0x5a, 0x70, 0x01, 0x00, 0x11}};
const std::string kTestClassKey = "CLSID\\{6C1D7A40-2B1E-4F0A-9D11-3E5A70010010}";

class ModuleTest : public ObjectTest {
 protected:
  void TearDown() override {
    atl::CurrentModule().Init(nullptr, nullptr);
    ObjectTest::TearDown();
  }
  void Use(const atl::ModuleInfo* info) { atl::CurrentModule().Init(GetModuleHandleW(nullptr), info); }
};

TEST_F(ModuleTest, RegistersAndRemovesItsKeys) {
  const atl::ClassEntry classes[] = {{.clsid = &kTestClass, .create = &atl::Creator<BetaObject>::Create,
                                      .name = "Test Class", .progId = "KrAtlTest.Beta.1"}};
  const atl::ModuleInfo info = {.classes = classes, .classCount = 1};
  Use(&info);
  ASSERT_EQ(atl::CurrentModule().RegisterServer(), S_OK);
  EXPECT_TRUE(atl::ClassesKeyExists(kTestClassKey + "\\InprocServer32"));
  EXPECT_TRUE(atl::ClassesKeyExists("KrAtlTest.Beta.1\\CLSID"));
  EXPECT_EQ(atl::CurrentModule().UnregisterServer(), S_OK);
  EXPECT_FALSE(atl::ClassesKeyExists(kTestClassKey));
  EXPECT_FALSE(atl::ClassesKeyExists("KrAtlTest.Beta.1"));
  EXPECT_EQ(atl::CurrentModule().UnregisterServer(), S_OK) << "what is already gone is no failure";
}

TEST_F(ModuleTest, FailedRegistrationLeavesNothing) {
  // The program has no TYPELIB resource: the type library step fails after
  // the class keys were written, and they are taken back.
  const atl::ClassEntry classes[] = {{.clsid = &kTestClass, .create = &atl::Creator<BetaObject>::Create,
                                      .name = "Test Class", .progId = "KrAtlTest.Beta.1"}};
  const atl::ModuleInfo noLibrary = {.classes = classes, .classCount = 1, .typeLib = &kMissingLibrary};
  Use(&noLibrary);
  EXPECT_EQ(atl::CurrentModule().RegisterServer(), SELFREG_E_TYPELIB);
  EXPECT_FALSE(atl::ClassesKeyExists(kTestClassKey));
  EXPECT_FALSE(atl::ClassesKeyExists("KrAtlTest.Beta.1"));

  const atl::ClassEntry badProgId[] = {{.clsid = &kTestClass, .create = &atl::Creator<BetaObject>::Create,
                                        .name = "Test Class", .progId = "Kr Atl Test"}};
  const atl::ModuleInfo badTable = {.classes = badProgId, .classCount = 1};
  Use(&badTable);
  EXPECT_EQ(atl::CurrentModule().RegisterServer(), SELFREG_E_CLASS);
  EXPECT_FALSE(atl::ClassesKeyExists(kTestClassKey));
}

TEST_F(ModuleTest, ClassObjectsAndLocks) {
  const atl::ClassEntry classes[] = {{.clsid = &kTestClass, .create = &atl::Creator<BetaObject>::Create, .name = "Test"}};
  const atl::ModuleInfo info = {.classes = classes, .classCount = 1};
  Use(&info);
  atl::Module& module = atl::CurrentModule();
  void* out = &out;
  EXPECT_EQ(module.GetClassObject(kMissingLibrary, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(module.GetClassObject(kTestClass, IID_IClassFactory, factory.OutVoid()), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
  ComPtr<IBeta> beta;
  ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IBeta), beta.OutVoid()), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  beta.Reset();
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(module.Locks(), 1);
  EXPECT_EQ(module.CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(module.CanUnloadNow(), S_OK);
}

}  // namespace
