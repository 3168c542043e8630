// The variant collection as its clients find it: registered with the
// control's module (regsvr32, reg query, /u), driven by cscript and by
// C++ through IVariantCol with arrays of each element type it takes and
// of those it refuses.
#include <gtest/gtest.h>

#include <string>

#include "atl/owners.h"
#include "com_client.h"
#include "command.h"
#include "ctlvane.h"
#include "peers.h"

namespace {

using atl::ComPtr;
using atl::SafeArray;
using atl::Variant;

const std::string kClsid = "{E7273DFF-903F-11D5-885D-0050DA816754}";
const std::string kAppId = "{E7273DF9-903F-11D5-885D-0050DA816754}";
const std::string kLibId = "{20260E25-5CD1-11D4-8737-0050DA816754}";

std::string DllPath() { return WindowsPath(CTLVANE_DLL); }

// Registered for the test's length, in an apartment of this thread.
class Registered {
 public:
  Registered() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)), registered_(Regsvr32(DllPath(), false)) {}
  ~Registered() {
    Regsvr32(DllPath(), true);
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  DWORD RegisterResult() const { return registered_; }

 private:
  HRESULT hr_;
  DWORD registered_;
};

TEST(VariantColRegistration, RegsvrWritesTheClassProgIdsAndAppIdAndUnregisteringRemovesThem) {
  {
    Registered reg;
    ASSERT_EQ(reg.RegisterResult(), 0u);
    const std::string k = "CLSID\\" + kClsid;
    const RegKeys expected = {
        {k, {{"(Default)", "VariantCol Class"}, {"AppID", kAppId}}},
        {k + "\\InprocServer32", {{"(Default)", DllPath()}, {"ThreadingModel", "Apartment"}}},
        {k + "\\ProgID", {{"(Default)", "KRActive.VariantCol.1"}}},
        {k + "\\VersionIndependentProgID", {{"(Default)", "KRActive.VariantCol"}}},
        {k + "\\Programmable", {}},
        {k + "\\TypeLib", {{"(Default)", kLibId}}},
    };
    EXPECT_EQ(RegTree("HKCR\\" + k), expected);
    EXPECT_EQ(RegTree("HKCR\\KRActive.VariantCol.1"),
              (RegKeys{{"KRActive.VariantCol.1", {{"(Default)", "VariantCol Class"}}},
                       {"KRActive.VariantCol.1\\CLSID", {{"(Default)", kClsid}}}}));
    EXPECT_EQ(RegTree("HKCR\\KRActive.VariantCol"),
              (RegKeys{{"KRActive.VariantCol", {{"(Default)", "VariantCol Class"}}},
                       {"KRActive.VariantCol\\CLSID", {{"(Default)", kClsid}}},
                       {"KRActive.VariantCol\\CurVer", {{"(Default)", "KRActive.VariantCol.1"}}}}));
    EXPECT_EQ(RegTree("HKCR\\AppID\\" + kAppId), (RegKeys{{"AppID\\" + kAppId, {{"(Default)", "Ctlvane.dll"}}}}));
    // The AppID is the collection's alone.
    auto control = RegTree("HKCR\\CLSID\\{20260E28-5CD1-11D4-8737-0050DA816754}");
    EXPECT_EQ(control["CLSID\\{20260E28-5CD1-11D4-8737-0050DA816754}"].count("AppID"), 0u);

    ComPtr<IVariantCol> col;
    EXPECT_EQ(CoCreateInstance(CLSID_VariantCol, nullptr, CLSCTX_INPROC_SERVER, IID_IVariantCol, col.OutVoid()), S_OK);
  }
  for (const std::string& key : {"CLSID\\" + kClsid, std::string("KRActive.VariantCol.1"),
                                 std::string("KRActive.VariantCol"), "AppID\\" + kAppId})
    EXPECT_FALSE(HkcrKeyExists(key)) << key << " left behind";
}

TEST(VariantColScript, ScriptArraysGiveCountsItemsAndRefusals) {
  Registered reg;
  ASSERT_EQ(reg.RegisterResult(), 0u);
  CommandResult r =
      RunCommand("cscript.exe //nologo \"" + WindowsPath(SUITE_TEST_DATA_DIR "/tests/variantcol.vbs") + "\"");
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  std::string out;
  for (char ch : r.output)
    if (ch != '\r') out += ch;
  // A script's items keep their own types; VBScript shows E_INVALIDARG as
  // its error 5.
  EXPECT_EQ(out,
            "NumItems=3 Integer\n"
            "ItemVar(2)=three String\n"
            "ItemVar(5) empty=True\n"
            "numbers=2 7 Integer 8 Long\n"
            "text=5\n"
            "two dimensions=5 kept=2\n");
}

// A one-dimensional array of `type` from `lower`, items put as given.
SafeArray MakeArray(VARTYPE type, LONG lower, std::initializer_list<Variant> items) {
  SafeArray a;
  EXPECT_EQ(a.Create(type, lower, static_cast<ULONG>(items.size())), S_OK);
  LONG i = lower;
  for (const Variant& item : items) {
    const VARIANT& v = item.Get();
    void* value = type == VT_VARIANT ? const_cast<VARIANT*>(&v)
                  : type == VT_BSTR  ? static_cast<void*>(V_BSTR(&v))
                                     : const_cast<LONG*>(&V_I4(&v));
    EXPECT_EQ(a.Put(i++, value), S_OK);
  }
  return a;
}

Variant ArrayVariant(VARTYPE type, SafeArray array) {
  Variant v;
  VARIANT* out = v.Out();
  V_VT(out) = VT_ARRAY | type;
  V_ARRAY(out) = array.Detach();
  return v;
}

class VariantColObject : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(reg_.RegisterResult(), 0u);
    ASSERT_EQ(CoCreateInstance(CLSID_VariantCol, nullptr, CLSCTX_INPROC_SERVER, IID_IVariantCol, col_.OutVoid()),
              S_OK);
  }
  short Count() {
    short n = -1;
    EXPECT_EQ(col_->get_NumItems(&n), S_OK);
    return n;
  }
  Registered reg_;
  ComPtr<IVariantCol> col_;
};

TEST_F(VariantColObject, ArraysOfEachTakenTypeGiveItemsOfTheirOwnTypesFromIndexZero) {
  struct Case {
    const char* name;
    VARTYPE elementType;
    LONG lower;
    bool byReference;
    std::initializer_list<Variant> items;
    VARTYPE itemType[3];
  };
  const Case cases[] = {
      {"strings", VT_BSTR, 0, false, {Variant(L"one"), Variant(L"two"), Variant(L"three")}, {VT_BSTR, VT_BSTR, VT_BSTR}},
      {"numbers", VT_I4, 0, false, {Variant(10L), Variant(-20L), Variant(30L)}, {VT_I4, VT_I4, VT_I4}},
      {"script's mixed items", VT_VARIANT, 0, false, {Variant(L"a"), Variant(5L), Variant(L"c")},
       {VT_BSTR, VT_I4, VT_BSTR}},
      {"strings from index 1", VT_BSTR, 1, false, {Variant(L"x"), Variant(L"y"), Variant(L"z")},
       {VT_BSTR, VT_BSTR, VT_BSTR}},
      {"numbers by reference", VT_I4, 0, true, {Variant(1L), Variant(2L), Variant(3L)}, {VT_I4, VT_I4, VT_I4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Variant given = ArrayVariant(c.elementType, MakeArray(c.elementType, c.lower, c.items));
    VARIANT byRef;
    V_VT(&byRef) = VT_BYREF | V_VT(&given.Get());
    V_ARRAYREF(&byRef) = const_cast<SAFEARRAY**>(&V_ARRAY(&given.Get()));
    ASSERT_EQ(col_->Init(c.byReference ? &byRef : const_cast<VARIANT*>(&given.Get())), S_OK);
    // The caller's array is gone: the collection keeps its own copies.
    given = Variant();
    ASSERT_EQ(Count(), 3);
    int index = 0;
    for (const Variant& expected : c.items) {
      Variant item;
      ASSERT_EQ(col_->get_ItemVar(index, item.Out()), S_OK);
      EXPECT_EQ(item.Type(), c.itemType[index]) << index;
      EXPECT_EQ(VarCmp(const_cast<VARIANT*>(&item.Get()), const_cast<VARIANT*>(&expected.Get()), 0, 0),
                static_cast<HRESULT>(VARCMP_EQ))
          << index;
      ++index;
    }
  }
}

TEST_F(VariantColObject, AnIndexOutsideTheItemsLeavesTheOutAsItWas) {
  Variant none;
  EXPECT_EQ(col_->get_ItemVar(0, none.Out()), S_OK) << "before Init";
  EXPECT_EQ(none.Type(), VT_EMPTY);
  EXPECT_EQ(Count(), 0);
  Variant given = ArrayVariant(VT_BSTR, MakeArray(VT_BSTR, 0, {Variant(L"a"), Variant(L"b"), Variant(L"c")}));
  ASSERT_EQ(col_->Init(const_cast<VARIANT*>(&given.Get())), S_OK);
  for (int index : {5, 3, -1}) {
    VARIANT out;
    V_VT(&out) = VT_I4;
    V_I4(&out) = 77;
    EXPECT_EQ(col_->get_ItemVar(index, &out), S_OK) << index;
    EXPECT_EQ(V_VT(&out), VT_I4) << index;
    EXPECT_EQ(V_I4(&out), 77) << index;
  }
  EXPECT_EQ(col_->get_ItemVar(0, nullptr), E_POINTER);
  EXPECT_EQ(col_->get_NumItems(nullptr), E_POINTER);
}

TEST_F(VariantColObject, OtherElementTypesAndShapesAreRefusedAndKeepTheItemsHeld) {
  Variant held = ArrayVariant(VT_I4, MakeArray(VT_I4, 0, {Variant(1L), Variant(2L)}));
  ASSERT_EQ(col_->Init(const_cast<VARIANT*>(&held.Get())), S_OK);

  SafeArray doubles;
  ASSERT_EQ(doubles.Create(VT_R8, 0, 3), S_OK);
  SafeArray shorts;
  ASSERT_EQ(shorts.Create(VT_I2, 0, 3), S_OK);
  SafeArray unsignedLongs;
  ASSERT_EQ(unsignedLongs.Create(VT_UI4, 0, 3), S_OK);
  SafeArray tooMany;
  ASSERT_EQ(tooMany.Create(VT_I4, 0, 0x8000), S_OK);
  SAFEARRAYBOUND grid[2] = {{2, 0}, {2, 0}};
  SafeArray twoDimensions;
  twoDimensions.Attach(SafeArrayCreate(VT_I4, 2, grid));
  ASSERT_TRUE(twoDimensions.Get());
  struct Case {
    const char* name;
    Variant given;
  } cases[] = {
      {"doubles", ArrayVariant(VT_R8, std::move(doubles))},
      {"16-bit integers", ArrayVariant(VT_I2, std::move(shorts))},
      {"unsigned integers", ArrayVariant(VT_UI4, std::move(unsignedLongs))},
      {"two dimensions", ArrayVariant(VT_I4, std::move(twoDimensions))},
      {"more items than a 16-bit count", ArrayVariant(VT_I4, std::move(tooMany))},
      {"a string", Variant(L"one")},
      {"a number", Variant(5L)},
      {"nothing", Variant()},
  };
  for (Case& c : cases) {
    EXPECT_EQ(col_->Init(const_cast<VARIANT*>(&c.given.Get())), E_INVALIDARG) << c.name;
    EXPECT_EQ(Count(), 2) << c.name;
  }
  EXPECT_EQ(col_->Init(nullptr), E_POINTER);

  // An empty array is a list of none.
  Variant empty = ArrayVariant(VT_BSTR, MakeArray(VT_BSTR, 0, {}));
  EXPECT_EQ(col_->Init(const_cast<VARIANT*>(&empty.Get())), S_OK);
  EXPECT_EQ(Count(), 0);
}

}  // namespace
