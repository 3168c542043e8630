#include "atl/regplan.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace atl {
void PrintTo(const RegValue& v, std::ostream* os) { *os << v.name << "=" << v.data; }
void PrintTo(const RegKey& k, std::ostream* os) {
  *os << k.path << " {";
  for (const RegValue& v : k.values) *os << " " << v.name << "=" << v.data;
  *os << " }";
}
}  // namespace atl

namespace {

using atl::ClassKeys;
using atl::RegKey;
using atl::RegPlan;
using atl::ThreadingModel;

const std::string kClsid = "{6B2E4A10-1C3D-4E5F-8A9B-0C1D2E3F4A52}";
const std::string kLibId = "{6B2E4A10-1C3D-4E5F-8A9B-0C1D2E3F4A50}";
const std::string kAppId = "{6B2E4A10-1C3D-4E5F-8A9B-0C1D2E3F4A5F}";

ClassKeys FullClass() {
  ClassKeys c;
  c.clsid = kClsid;
  c.name = "Sample Class";
  c.progId = "Lib.Sample.1";
  c.versionIndependentProgId = "Lib.Sample";
  c.threading = ThreadingModel::Both;
  c.typeLib = kLibId;
  c.appId = kAppId;
  c.programmable = true;
  return c;
}

TEST(RegPlan, FullClassWritesEveryKeyParentFirst) {
  RegPlan plan;
  ASSERT_EQ(atl::PlanModule({FullClass()}, "C:\\dir\\Lib.dll", "Lib.dll", &plan), "");
  const std::string k = "CLSID\\" + kClsid;
  std::vector<RegKey> expected = {
      {k, {{"", "Sample Class"}, {"AppID", kAppId}}},
      {k + "\\InprocServer32", {{"", "C:\\dir\\Lib.dll"}, {"ThreadingModel", "Both"}}},
      {k + "\\ProgID", {{"", "Lib.Sample.1"}}},
      {k + "\\VersionIndependentProgID", {{"", "Lib.Sample"}}},
      {k + "\\Programmable", {}},
      {k + "\\TypeLib", {{"", kLibId}}},
      {"Lib.Sample.1", {{"", "Sample Class"}}},
      {"Lib.Sample.1\\CLSID", {{"", kClsid}}},
      {"Lib.Sample", {{"", "Sample Class"}}},
      {"Lib.Sample\\CLSID", {{"", kClsid}}},
      {"Lib.Sample\\CurVer", {{"", "Lib.Sample.1"}}},
      {"AppID\\" + kAppId, {{"", "Lib.dll"}}},
  };
  EXPECT_EQ(plan.writes, expected);
  EXPECT_EQ(plan.removals, (std::vector<std::string>{k, "Lib.Sample.1", "Lib.Sample", "AppID\\" + kAppId}));
}

TEST(RegPlan, RemovalsCoverEveryWrittenKeyAndNoSharedParent) {
  ClassKeys second = FullClass();
  second.clsid = "{6B2E4A10-1C3D-4E5F-8A9B-0C1D2E3F4A53}";
  second.progId = "Lib.Other.1";
  second.versionIndependentProgId = "";
  second.threading = ThreadingModel::Free;
  RegPlan plan;
  ASSERT_EQ(atl::PlanModule({FullClass(), second}, "C:\\Lib.dll", "Lib.dll", &plan), "");
  for (const RegKey& key : plan.writes) {
    bool covered = false;
    for (const std::string& root : plan.removals)
      covered = covered || key.path == root || key.path.rfind(root + "\\", 0) == 0;
    EXPECT_TRUE(covered) << key.path;
  }
  for (const std::string& root : plan.removals) {
    EXPECT_NE(root, "CLSID");
    EXPECT_NE(root, "AppID");
  }
  // The shared AppID is written and removed once.
  int appIdKeys = 0;
  for (const std::string& root : plan.removals) appIdKeys += root == "AppID\\" + kAppId;
  EXPECT_EQ(appIdKeys, 1);
  const std::string server = "CLSID\\" + second.clsid + "\\InprocServer32";
  bool found = false;
  for (const RegKey& key : plan.writes) {
    if (key.path != server) continue;
    found = true;
    EXPECT_EQ(key.values, (std::vector<atl::RegValue>{{"", "C:\\Lib.dll"}, {"ThreadingModel", "Free"}}));
  }
  EXPECT_TRUE(found);
}

TEST(RegPlan, BareClassWritesOnlyItsClassKey) {
  ClassKeys c;
  c.clsid = kClsid;
  c.name = "Bare";
  RegPlan plan;
  ASSERT_EQ(atl::PlanModule({c}, "C:\\Lib.dll", "Lib.dll", &plan), "");
  const std::string k = "CLSID\\" + kClsid;
  EXPECT_EQ(plan.writes, (std::vector<RegKey>{{k, {{"", "Bare"}}},
                                              {k + "\\InprocServer32",
                                               {{"", "C:\\Lib.dll"}, {"ThreadingModel", "Apartment"}}}}));
  EXPECT_EQ(plan.removals, std::vector<std::string>{k});
}

TEST(RegPlan, ControlClassAddsItsControlAndMiscStatusKeysUnderItsClassKey) {
  ClassKeys c;
  c.clsid = kClsid;
  c.name = "Ctl";
  c.control = true;
  c.miscStatus = 0x20181;
  RegPlan plan;
  ASSERT_EQ(atl::PlanModule({c}, "C:\\Lib.dll", "Lib.dll", &plan), "");
  const std::string k = "CLSID\\" + kClsid;
  EXPECT_EQ(plan.writes, (std::vector<RegKey>{{k, {{"", "Ctl"}}},
                                              {k + "\\InprocServer32",
                                               {{"", "C:\\Lib.dll"}, {"ThreadingModel", "Apartment"}}},
                                              {k + "\\Control", {}},
                                              {k + "\\MiscStatus", {{"", "0"}}},
                                              {k + "\\MiscStatus\\1", {{"", "131457"}}}}));
  // Removing the class key takes the control's keys with it.
  EXPECT_EQ(plan.removals, std::vector<std::string>{k});
}

struct BadTable {
  const char* what;
  void (*spoil)(std::vector<ClassKeys>&);
  const char* reasonPart;
};

TEST(RegPlan, RefusesMalformedTablesAndLeavesThePlanEmpty) {
  const BadTable cases[] = {
      {"clsid without braces", [](std::vector<ClassKeys>& t) { t[0].clsid = kClsid.substr(1, 36); }, "not a GUID"},
      {"clsid with a bad digit", [](std::vector<ClassKeys>& t) { t[0].clsid[5] = 'G'; }, "not a GUID"},
      {"progid starting with a digit", [](std::vector<ClassKeys>& t) { t[0].progId = "1Lib.Sample"; }, "not a valid ProgID"},
      {"progid with punctuation", [](std::vector<ClassKeys>& t) { t[0].progId = "Lib_Sample.1"; }, "not a valid ProgID"},
      {"progid of 40 characters", [](std::vector<ClassKeys>& t) { t[0].progId = std::string(40, 'A'); }, "not a valid ProgID"},
      {"key path separator in a progid", [](std::vector<ClassKeys>& t) { t[0].progId = "Lib\\Sample"; }, "not a valid ProgID"},
      {"version-independent equal to progid",
       [](std::vector<ClassKeys>& t) { t[0].versionIndependentProgId = t[0].progId; }, "equals its ProgID"},
      {"version-independent without progid", [](std::vector<ClassKeys>& t) { t[0].progId = ""; }, "no ProgID"},
      {"bad type library id", [](std::vector<ClassKeys>& t) { t[0].typeLib = "{}"; }, "type library"},
      {"bad appid", [](std::vector<ClassKeys>& t) { t[0].appId = "x"; }, "AppID"},
      {"control character in the name", [](std::vector<ClassKeys>& t) { t[0].name = "a\nb"; }, "control characters"},
      {"class listed twice", [](std::vector<ClassKeys>& t) { t.push_back(t[0]); t[1].progId = "Lib.B.1"; t[1].versionIndependentProgId = ""; }, "listed twice"},
      {"progid claimed twice",
       [](std::vector<ClassKeys>& t) { t.push_back(t[0]); t[1].clsid[1] = '7'; t[1].versionIndependentProgId = ""; }, "claimed twice"},
  };
  for (const BadTable& c : cases) {
    std::vector<ClassKeys> table = {FullClass()};
    c.spoil(table);
    RegPlan plan;
    plan.removals.push_back("stale");
    std::string why = atl::PlanModule(table, "C:\\Lib.dll", "Lib.dll", &plan);
    EXPECT_NE(why.find(c.reasonPart), std::string::npos) << c.what << ": " << why;
    EXPECT_TRUE(plan.writes.empty() && plan.removals.empty()) << c.what;
  }
  RegPlan plan;
  EXPECT_NE(atl::PlanModule({FullClass()}, "", "Lib.dll", &plan), "");
}

TEST(RegPlan, GuidAndProgIdTexts) {
  EXPECT_TRUE(atl::IsGuidText("{00000000-0000-0000-C000-000000000046}"));
  EXPECT_TRUE(atl::IsGuidText("{6b2e4a10-1c3d-4e5f-8a9b-0c1d2e3f4a52}"));
  EXPECT_FALSE(atl::IsGuidText("{00000000-0000-0000-C000-0000000000461}"));
  EXPECT_FALSE(atl::IsGuidText("{00000000+0000-0000-C000-000000000046}"));
  EXPECT_FALSE(atl::IsGuidText(""));
  EXPECT_TRUE(atl::IsProgId("A"));
  EXPECT_TRUE(atl::IsProgId(std::string(39, 'a')));
  EXPECT_FALSE(atl::IsProgId(""));
  EXPECT_FALSE(atl::IsProgId(".Lib"));
  EXPECT_FALSE(atl::IsProgId("Lib Sample"));
}

}  // namespace
