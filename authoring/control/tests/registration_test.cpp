// Ctlvane as its hosts find it: regsvr32 and reg query (and /u), the
// categories through the category manager, Wine's cscript creating the
// control by ProgID, the type library held to the dispatch contract row for
// row, and the module's start and end on apartment and fresh threads.
#include <gtest/gtest.h>

#include <comcat.h>
#include <objsafe.h>
#include <olectl.h>

#include <cctype>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app.h"
#include "atl/owners.h"
#include "com_client.h"
#include "command.h"
#include "ctlvane.h"
#include "ctlvane/contract.h"
#include "peers.h"

namespace {

using atl::Bstr;
using atl::ComPtr;

const std::string kClsid = "{20260E28-5CD1-11D4-8737-0050DA816754}";
const std::string kLibId = "{20260E25-5CD1-11D4-8737-0050DA816754}";
const std::string kPageClsid = "{6B0C1D5E-2F47-4C39-9E0A-7D3A51C8B214}";
const std::string kScripting = "{7DD95801-9882-11CF-9FA9-00AA006C42C4}";
const std::string kInitializing = "{7DD95802-9882-11CF-9FA9-00AA006C42C4}";

std::string DllPath() { return WindowsPath(CTLVANE_DLL); }

DWORD Regsvr32(bool unregister) { return ::Regsvr32(DllPath(), unregister); }

std::wstring CategoryDescription(ICatInformation* info, const CATID& id) {
  LPWSTR text = nullptr;
  if (FAILED(info->GetCategoryDesc(id, 0x409, &text))) return L"(none)";
  std::wstring s = text;
  CoTaskMemFree(text);
  return s;
}

bool ClassInCategory(ICatInformation* info, const CATID& id) {
  ComPtr<IEnumCLSID> classes;
  CATID ids[] = {id};
  if (FAILED(info->EnumClassesOfCategories(1, ids, static_cast<ULONG>(-1), nullptr, classes.Out()))) return false;
  CLSID c;
  ULONG n = 0;
  while (classes->Next(1, &c, &n) == S_OK && n == 1)
    if (IsEqualCLSID(c, CLSID_ScrivelControl)) return true;
  return false;
}

class Com {
 public:
  Com() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~Com() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }

 private:
  HRESULT hr_;
};

TEST(Registration, RegsvrWritesKeysCategoriesAndTypeLibraryAndUnregisteringRemovesThem) {
  Com com;
  ASSERT_EQ(Regsvr32(false), 0u);
  const std::string k = "CLSID\\" + kClsid;
  const std::string p = "CLSID\\" + kPageClsid;
  const std::string tlb = "TypeLib\\" + kLibId + "\\1.0";
  const std::string arch = sizeof(void*) == 8 ? "win64" : "win32";
  struct Expected {
    std::string root, key;
    std::map<std::string, std::string> values;
  } const expected[] = {
      {k, k, {{"(Default)", "KRActive Control"}}},
      {k, k + "\\InprocServer32", {{"(Default)", DllPath()}, {"ThreadingModel", "Apartment"}}},
      {k, k + "\\ProgID", {{"(Default)", "KRACTIVE.KRActiveCtrl.1"}}},
      {k, k + "\\VersionIndependentProgID", {{"(Default)", "KRACTIVE.KRActiveCtrl"}}},
      {k, k + "\\Control", {}},
      {k, k + "\\MiscStatus\\1", {{"(Default)", "131473"}}},
      {k, k + "\\TypeLib", {{"(Default)", kLibId}}},
      {k, k + "\\Implemented Categories\\" + kScripting, {}},
      {k, k + "\\Implemented Categories\\" + kInitializing, {}},
      {p, p, {{"(Default)", "KRActive Property Page"}}},
      {p, p + "\\InprocServer32", {{"(Default)", DllPath()}, {"ThreadingModel", "Apartment"}}},
      {p, p + "\\ProgID", {{"(Default)", "KRACTIVE.KRActivePropPage.1"}}},
      {"KRACTIVE.KRActiveCtrl.1", "KRACTIVE.KRActiveCtrl.1\\CLSID", {{"(Default)", kClsid}}},
      {"KRACTIVE.KRActiveCtrl", "KRACTIVE.KRActiveCtrl\\CurVer", {{"(Default)", "KRACTIVE.KRActiveCtrl.1"}}},
      {"KRACTIVE.KRActivePropPage.1", "KRACTIVE.KRActivePropPage.1\\CLSID", {{"(Default)", kPageClsid}}},
      {"TypeLib\\" + kLibId, tlb, {{"(Default)", "Scrivel Control Library 3.0"}}},
      {"TypeLib\\" + kLibId, tlb + "\\0\\" + arch, {{"(Default)", DllPath()}}},
      {"Component Categories\\" + kScripting, "Component Categories\\" + kScripting,
       {{"409", "Controls safely scriptable!"}}},
      {"Component Categories\\" + kInitializing, "Component Categories\\" + kInitializing,
       {{"409", "Controls safely initializable from persistent data!"}}},
  };
  for (const Expected& e : expected) {
    auto tree = RegTree("HKCR\\" + e.root);
    auto it = tree.find(e.key);
    ASSERT_NE(it, tree.end()) << e.key;
    EXPECT_EQ(it->second, e.values) << e.key;
  }

  // The category manager reads the same.
  ComPtr<ICatInformation> info;
  ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                             info.OutVoid()),
            S_OK);
  EXPECT_EQ(CategoryDescription(info.Get(), CATID_SafeForScripting), L"Controls safely scriptable!");
  EXPECT_EQ(CategoryDescription(info.Get(), CATID_SafeForInitializing),
            L"Controls safely initializable from persistent data!");
  EXPECT_TRUE(ClassInCategory(info.Get(), CATID_SafeForScripting));
  EXPECT_TRUE(ClassInCategory(info.Get(), CATID_SafeForInitializing));

  ASSERT_EQ(Regsvr32(true), 0u);
  for (const std::string& key : {k, p, std::string("KRACTIVE.KRActiveCtrl"), std::string("KRACTIVE.KRActiveCtrl.1"),
                                 std::string("KRACTIVE.KRActivePropPage.1"), "TypeLib\\" + kLibId,
                                 "Component Categories\\" + kScripting, "Component Categories\\" + kInitializing})
    EXPECT_FALSE(HkcrKeyExists(key)) << key << " left behind";
  EXPECT_FALSE(ClassInCategory(info.Get(), CATID_SafeForScripting));
  EXPECT_FALSE(ClassInCategory(info.Get(), CATID_SafeForInitializing));
}

TEST(Registration, ScriptHostCreatesTheControlByProgIdAndWritesAndReadsEncWidth) {
  ASSERT_EQ(Regsvr32(false), 0u);
  CommandResult r = RunCommand("cscript.exe //nologo \"" + WindowsPath(SUITE_TEST_DATA_DIR "/tests/ctlvane.vbs") + "\"");
  EXPECT_EQ(Regsvr32(true), 0u);
  EXPECT_EQ(r.exitCode, 0u) << r.output;
  std::string out;
  for (char ch : r.output)
    if (ch != '\r') out += ch;
  EXPECT_EQ(out,
            "encWidth=320\n"
            "refused=320\n"
            "baseFrameRate=35 Single\n"
            "SetPortNumber=800A03F3\n"
            "statRefreshRate=500\n");
}

// A declared type as the contract's letters: '*' and the pointee for a
// reference, aliases by name.
std::string Letters(ITypeInfo* info, const TYPEDESC& t) {
  switch (t.vt) {
    case VT_I2: return "s";
    case VT_I4: return "l";
    case VT_R4: return "f";
    case VT_BOOL: return "b";
    case VT_BSTR: return "t";
    case VT_VARIANT: return "v";
    case VT_UNKNOWN: return "u";
    case VT_ERROR: return "e";
    case VT_UI4: return "c";  // widl writes OLE_COLOR as its base type
    case VT_VOID: return "0";
    case VT_PTR: return "*" + Letters(info, *t.lptdesc);
    case VT_USERDEFINED: {
      ComPtr<ITypeInfo> ref;
      Bstr name;
      if (FAILED(info->GetRefTypeInfo(t.hreftype, ref.Out())) ||
          FAILED(ref->GetDocumentation(MEMBERID_NIL, name.Out(), nullptr, nullptr, nullptr)))
        return "?";
      std::wstring n = name.Get() ? name.Get() : L"";
      if (n == L"OLE_COLOR") return "c";
      if (n == L"SCODE") return "e";
      return "?" + std::string(n.begin(), n.end());
    }
    default: return "?" + std::to_string(t.vt);
  }
}

std::string Name(ITypeInfo* info, MEMBERID id) {
  Bstr name;
  if (FAILED(info->GetDocumentation(id, name.Out(), nullptr, nullptr, nullptr)) || !name.Get()) return "?";
  std::wstring w = name.Get();
  return std::string(w.begin(), w.end());
}

// The members of a dispinterface in declared order, as contract rows.
std::vector<std::string> Rows(ITypeInfo* info, ctlvane::MemberKind methods) {
  std::vector<std::string> rows;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return rows;
  for (UINT i = 0; i < attr->cVars; ++i) {
    VARDESC* v = nullptr;
    if (FAILED(info->GetVarDesc(i, &v))) continue;
    rows.push_back(std::to_string(v->memid) + " " + Name(info, v->memid) + " property " +
                   Letters(info, v->elemdescVar.tdesc));
    info->ReleaseVarDesc(v);
  }
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f))) continue;
    if (f->memid < 0x60000000 || f->memid > 0x6002FFFF) {
      std::string params;
      for (SHORT p = 0; p < f->cParams; ++p) params += Letters(info, f->lprgelemdescParam[p].tdesc);
      rows.push_back(std::to_string(f->memid) + " " + Name(info, f->memid) +
                     (methods == ctlvane::MemberKind::kEvent ? " event " : " method ") +
                     Letters(info, f->elemdescFunc.tdesc) + "(" + params + ")");
    }
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
  return rows;
}

std::vector<std::string> ContractRows(const ctlvane::ContractMember* members, size_t count) {
  std::vector<std::string> rows;
  for (size_t i = 0; i < count; ++i) {
    const auto& m = members[i];
    std::string kind = m.kind == ctlvane::MemberKind::kProperty ? "property"
                       : m.kind == ctlvane::MemberKind::kMethod ? "method"
                                                                : "event";
    std::string row = std::to_string(m.dispid) + " " + m.name + " " + kind + " " + std::string(1, m.type);
    if (m.kind != ctlvane::MemberKind::kProperty) row += "(" + std::string(m.params) + ")";
    rows.push_back(row);
  }
  return rows;
}

std::wstring Doc(ITypeLib* lib, INT index, std::wstring* helpFile = nullptr) {
  Bstr doc, file;
  if (FAILED(lib->GetDocumentation(index, nullptr, doc.Out(), nullptr, file.Out()))) return L"?";
  if (helpFile) *helpFile = file.Get() ? file.Get() : L"";
  return doc.Get() ? doc.Get() : L"";
}

TEST(TypeLibrary, MatchesTheDispatchContractRowForRow) {
  Com com;
  const std::string dll = DllPath();
  std::wstring path(dll.begin(), dll.end());
  ComPtr<ITypeLib> lib;
  ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Out()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_KRACTIVELib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  lib->ReleaseTLibAttr(attr);
  std::wstring helpFile;
  EXPECT_EQ(Doc(lib.Get(), -1, &helpFile), L"Scrivel Control Library 3.0");
  EXPECT_EQ(helpFile, L"KRActive.hlp");
  Bstr libName;
  ASSERT_EQ(lib->GetDocumentation(-1, libName.Out(), nullptr, nullptr, nullptr), S_OK);
  EXPECT_STREQ(libName.Get(), L"KRACTIVELib");

  ComPtr<ITypeInfo> dispatch, events, coclass;
  ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__DScrivelControl, dispatch.Out()), S_OK);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(DIID__DScrivelControlEvents, events.Out()), S_OK);
  ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_ScrivelControl, coclass.Out()), S_OK);
  Bstr doc;
  dispatch->GetDocumentation(MEMBERID_NIL, nullptr, doc.Out(), nullptr, nullptr);
  EXPECT_STREQ(doc.Get(), L"Dispatch interface for Scrivel Control Library 3.0");
  events->GetDocumentation(MEMBERID_NIL, nullptr, doc.Out(), nullptr, nullptr);
  EXPECT_STREQ(doc.Get(), L"Event interface for Scrivel Control Library 3.0");
  EXPECT_EQ(Name(coclass.Get(), MEMBERID_NIL), "ScrivelControl");

  // The coclass: the dispatch interface as default, the events as default source.
  TYPEATTR* ca = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&ca), S_OK);
  EXPECT_TRUE(ca->wTypeFlags & TYPEFLAG_FCONTROL);
  ASSERT_EQ(ca->cImplTypes, 2);
  coclass->ReleaseTypeAttr(ca);
  for (UINT i = 0; i < 2; ++i) {
    INT flags = 0;
    HREFTYPE ref;
    ComPtr<ITypeInfo> implemented;
    ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &ref), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, implemented.Out()), S_OK);
    TYPEATTR* ia = nullptr;
    ASSERT_EQ(implemented->GetTypeAttr(&ia), S_OK);
    EXPECT_TRUE(IsEqualGUID(ia->guid, i == 0 ? DIID__DScrivelControl : DIID__DScrivelControlEvents));
    implemented->ReleaseTypeAttr(ia);
    EXPECT_EQ(flags, i == 0 ? IMPLTYPEFLAG_FDEFAULT : IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  }

  // A library keeps one spelling of a name: the properties maxSize and
  // maxDuration name the events MaxSize and MaxDuration too (names are
  // matched without case by GetIDsOfNames). Only those compare without case.
  auto same = [](std::string a, std::string b) {
    if (a == b) return true;
    for (const char* shared : {" maxsize ", " maxduration "}) {
      std::string la = a, lb = b;
      for (char& c : la) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      for (char& c : lb) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (la == lb && la.find(shared) != std::string::npos) return true;
    }
    return false;
  };
  const auto expected = ContractRows(ctlvane::kDispatchContract, ctlvane::kDispatchContractSize);
  const auto actual = Rows(dispatch.Get(), ctlvane::MemberKind::kMethod);
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_PRED2(same, actual[i], expected[i]) << "row " << i;
  const auto expectedEvents = ContractRows(ctlvane::kEventContract, ctlvane::kEventContractSize);
  const auto actualEvents = Rows(events.Get(), ctlvane::MemberKind::kEvent);
  ASSERT_EQ(actualEvents.size(), expectedEvents.size());
  for (size_t i = 0; i < expectedEvents.size(); ++i)
    EXPECT_PRED2(same, actualEvents[i], expectedEvents[i]) << "event " << i;
}

TEST(ModuleStart, CountsOnlyTheInitialisationsItMadeAndTheEndUndoesThem) {
  // A thread already in an apartment: no initialisation counted, and the
  // end leaves the thread's apartment alone.
  std::thread([] {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CKRActiveApp app;
    EXPECT_EQ(app.Start(), S_OK);
    EXPECT_EQ(app.ComInitCount(), 0);
    EXPECT_NE(GetModuleHandleW(L"riched20.dll"), nullptr);
    app.End();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE) << "still the thread's apartment";
    CoUninitialize();
    CoUninitialize();
  }).join();
  // A fresh thread: one initialisation, undone by the end.
  std::thread([] {
    CKRActiveApp app;
    EXPECT_EQ(app.Start(), S_OK);
    EXPECT_EQ(app.ComInitCount(), 1);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE) << "in the free-threaded one";
    app.End();
    EXPECT_EQ(app.ComInitCount(), 0);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << "the start's initialisation undone";
    CoUninitialize();
  }).join();
}

}  // namespace
