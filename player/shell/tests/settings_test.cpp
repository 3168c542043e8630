#include <gtest/gtest.h>

#include <string>

#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/shell_services.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

const std::wstring kUserKey = std::wstring(L"HKCU\\") + kPlayerKey;
const std::wstring kMachineKey = std::wstring(L"HKLM\\") + kPlayerKey;

void PutDword(HKEY hive, const wchar_t* name, DWORD value) {
  ASSERT_EQ(RegSetKeyValueW(hive, kPlayerKey, name, REG_DWORD, &value, sizeof(value)), ERROR_SUCCESS);
}

void PutString(HKEY hive, const wchar_t* name, const std::wstring& value, bool terminator = true) {
  const DWORD bytes = static_cast<DWORD>((value.size() + (terminator ? 1 : 0)) * sizeof(wchar_t));
  ASSERT_EQ(RegSetKeyValueW(hive, kPlayerKey, name, REG_SZ, value.c_str(), bytes), ERROR_SUCCESS);
}

int g_boxes = 0;
UINT g_lastBoxStyle = 0;
std::wstring g_lastBoxText;
int WINAPI CountingBox(HWND, LPCWSTR text, LPCWSTR, UINT style) {
  ++g_boxes;
  g_lastBoxText = text ? text : L"";
  g_lastBoxStyle = style;
  return IDOK;
}

// Every case runs in the Unicode and in the Windows 9x mode.
class Settings : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    DeletePlayerKeys();
    g_boxes = 0;
    SetMessageBoxForTesting(CountingBox);
  }
  void TearDown() override {
    SetMessageBoxForTesting(nullptr);
    DeletePlayerKeys();
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
};

TEST_P(Settings, ValueNamesComeFromTheStringTable) {
  ScopedApiMode mode(GetParam());
  wchar_t text[256] = {};
  ASSERT_GT(WinApi().LoadStringW(instance, shell::kSettingsKeyId, text, 256), 0);
  EXPECT_STREQ(text, kPlayerKey);
  for (const shell::SettingValue& v : shell::kSettingValues) {
    if (v.id == 0) continue;
    ASSERT_GT(WinApi().LoadStringW(instance, v.id, text, 256), 0) << v.id;
    EXPECT_STREQ(text, reinterpret_cast<const wchar_t*>(v.name)) << v.id;
  }
  EXPECT_EQ(GetSettingsVersion(), 0x300u);
}

TEST_P(Settings, MachineKeyOnly) {
  ScopedApiMode mode(GetParam());
  PutDword(HKEY_LOCAL_MACHINE, L"CurrentVolume", 55);
  PutString(HKEY_LOCAL_MACHINE, L"KRData", L"C:\\data\\");
  DWORD volume = 0;
  EXPECT_EQ(ReadSettingDwordById(instance, shell::kCurrentVolume, &volume), 1);
  EXPECT_EQ(volume, 55u);
  wchar_t folder[kSettingStringCapacity] = {};
  EXPECT_EQ(ReadSettingStringById(instance, shell::kKRData, folder), 1);
  EXPECT_STREQ(folder, L"C:\\data\\");
  const std::string shown = RegQuery(kMachineKey);
  EXPECT_NE(shown.find("CurrentVolume"), std::string::npos) << shown;
  EXPECT_NE(shown.find("0x37"), std::string::npos) << shown;
  EXPECT_NE(shown.find("C:\\data\\"), std::string::npos) << shown;
}

TEST_P(Settings, FirstWriteMakesTheUserKeyAndReadsFallBackValueByValue) {
  ScopedApiMode mode(GetParam());
  // No key anywhere: the write creates the user key.
  EXPECT_EQ(WriteSettingDwordById(instance, shell::kCurrentVolume, 70), 1);
  std::string shown = RegQuery(kUserKey);
  EXPECT_NE(shown.find("CurrentVolume"), std::string::npos) << shown;
  EXPECT_NE(shown.find("0x46"), std::string::npos) << shown;
  // A machine value the user key lacks is still read.
  PutDword(HKEY_LOCAL_MACHINE, L"MaximumBufferedData", 9000);
  PutDword(HKEY_LOCAL_MACHINE, L"CurrentVolume", 10);
  DWORD v = 0;
  EXPECT_EQ(ReadSettingDwordById(instance, shell::kMaximumBufferedData, &v), 1);
  EXPECT_EQ(v, 9000u);
  EXPECT_EQ(ReadSettingDwordById(instance, shell::kCurrentVolume, &v), 1);
  EXPECT_EQ(v, 70u);  // the user's value wins
  // With both keys present a write goes to the user key, and reads back.
  EXPECT_EQ(WriteSettingStringById(instance, shell::kLastTitle, L"Crème"), 1);
  EXPECT_EQ(WriteSettingDwordById(instance, shell::kCurrentVolume, 33), 1);
  wchar_t title[kSettingStringCapacity] = {};
  EXPECT_EQ(ReadSettingStringById(instance, shell::kLastTitle, title), 1);
  EXPECT_STREQ(title, L"Crème");
  EXPECT_EQ(ReadSettingDwordById(instance, shell::kCurrentVolume, &v), 1);
  EXPECT_EQ(v, 33u);
  shown = RegQuery(kUserKey);
  EXPECT_NE(shown.find("LastTitle"), std::string::npos) << shown;
  EXPECT_NE(shown.find("0x21"), std::string::npos) << shown;
  EXPECT_EQ(RegQuery(kMachineKey).find("LastTitle"), std::string::npos);
  EXPECT_EQ(g_boxes, 0);
}

TEST_P(Settings, MachineKeyTakesWritesWhileNoUserKeyExists) {
  ScopedApiMode mode(GetParam());
  PutDword(HKEY_LOCAL_MACHINE, L"CurrentVolume", 1);
  EXPECT_EQ(WriteSettingDwordById(instance, shell::kRestart, 1), 1);
  EXPECT_NE(RegQuery(kMachineKey).find("Restart"), std::string::npos);
  HKEY user = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, kPlayerKey, 0, KEY_READ, &user), ERROR_SUCCESS);
  DWORD v = 0;
  EXPECT_EQ(ReadSettingDwordById(instance, shell::kRestart, &v), 1);
  EXPECT_EQ(v, 1u);
}

TEST_P(Settings, WrongTypesAndLongStringsReadAsAbsent) {
  ScopedApiMode mode(GetParam());
  struct Case {
    const wchar_t* name;
    bool asString;
    std::wstring text;
    DWORD number;
    bool readDword;
    int want;
  };
  const Case cases[] = {
      {L"CurrentVolume", true, L"40", 0, true, 0},          // a string where a DWORD is expected
      {L"KRData", false, L"", 7, false, 0},                 // a DWORD where a string is expected
      {L"LastTitle", true, std::wstring(300, L'x'), 0, false, 0},  // 300 characters
      {L"LastDownload", true, std::wstring(255, L'y'), 0, false, 1},  // 255 fit
      {L"Instance", true, std::wstring(256, L'z'), 0, false, 0},   // 256 leave no room for the terminator
      {L"Restart", false, L"", 5, true, 1},
  };
  for (const Case& c : cases) {
    if (c.asString)
      PutString(HKEY_CURRENT_USER, c.name, c.text);
    else
      PutDword(HKEY_CURRENT_USER, c.name, c.number);
  }
  for (const Case& c : cases) {
    if (c.readDword) {
      DWORD v = 12345;
      EXPECT_EQ(ReadSettingDword(instance, c.name, &v), c.want) << c.name;
      EXPECT_EQ(v, c.want ? c.number : 12345u) << c.name;
    } else {
      wchar_t text[kSettingStringCapacity];
      text[0] = L'#';
      text[1] = 0;
      EXPECT_EQ(ReadSettingString(instance, c.name, text), c.want) << c.name;
      EXPECT_EQ(std::wstring(text), c.want ? c.text : L"#") << c.name;
    }
  }
  const std::string shown = RegQuery(kUserKey);
  EXPECT_NE(shown.find(std::string(300, 'x')), std::string::npos);
  EXPECT_EQ(ReadSettingDword(instance, nullptr, nullptr), 0);
}

TEST_P(Settings, AStringWithoutTerminatorIsReadTerminated) {
  ScopedApiMode mode(GetParam());
  PutString(HKEY_CURRENT_USER, L"FilePath", L"C:\\clips", false);
  wchar_t text[kSettingStringCapacity];
  for (auto& c : text) c = L'#';
  EXPECT_EQ(ReadSettingStringById(instance, shell::kFilePath, text), 1);
  EXPECT_STREQ(text, L"C:\\clips");
}

TEST_P(Settings, ServicesForTheEngine) {
  ScopedApiMode mode(GetParam());
  ShellServices services;
  services.WriteSettingDwordById(instance, shell::kMaximumBufferedData, 4321);
  services.WriteSettingStringById(instance, shell::kInstance, u"clip01");
  uint32_t v = 0;
  EXPECT_TRUE(services.ReadSettingDwordById(instance, shell::kMaximumBufferedData, &v));
  EXPECT_EQ(v, 4321u);
  EXPECT_TRUE(services.ReadSettingDword(instance, u"MaximumBufferedData", &v));
  char16_t text[256] = {};
  EXPECT_TRUE(services.ReadSettingStringById(instance, shell::kInstance, text));
  EXPECT_EQ(std::u16string(text), u"clip01");
  EXPECT_FALSE(services.ReadSettingString(instance, u"Nothing", text));
  EXPECT_EQ(services.GetSettingsVersion(), 0x300u);
}

INSTANTIATE_TEST_SUITE_P(Modes, Settings, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Win9x" : "Unicode"; });

}  // namespace
