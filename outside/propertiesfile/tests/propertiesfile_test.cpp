// The properties-file stand-in, created by its ProgID after the DLL has
// registered itself, and its file format on its own.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "propertiesfile.h"

using namespace propertiesfile;

namespace {

std::wstring ExeDir() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring p(path);
  return p.substr(0, p.find_last_of(L"\\/") + 1);
}

std::wstring Scratch(const wchar_t* name) {
  std::wstring path = ExeDir() + L"pf_scratch\\";
  CreateDirectoryW(path.c_str(), nullptr);
  return path + name;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  DWORD written;
  WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(f);
}

std::string Utf16Bytes(const std::wstring& text) {
  return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

class PropertiesFileTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    HMODULE dll = LoadLibraryW((ExeDir() + PROPERTIESFILE_DLL_W).c_str());
    ASSERT_NE(dll, nullptr);
    auto registerServer = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(GetProcAddress(dll, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr) << "the export is undecorated";
    ASSERT_EQ(registerServer(), S_OK);
    FreeLibrary(dll);
  }
  void SetUp() override {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(kPropertiesFileProgId, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_KRPropertiesFile));
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKRPropertiesFile,
                               reinterpret_cast<void**>(&file_)),
              S_OK);
  }
  void TearDown() override {
    if (file_) file_->Release();
    CoUninitialize();
  }
  std::wstring Get(const wchar_t* key, HRESULT* hr) {
    wchar_t value[kPropertyValueChars];
    std::fill(std::begin(value), std::end(value), L'#');
    *hr = file_->Get(key, value);
    EXPECT_EQ(value[kPropertyValueChars - 1], L'\0') << "the buffer is filled to its end";
    return value;
  }
  IKRPropertiesFile* file_ = nullptr;
};

TEST_F(PropertiesFileTest, RoundTripThroughAFile) {
  std::wstring path = Scratch(L"round.krs");
  ASSERT_EQ(file_->Put(L"EncVideo_Width", L"176"), S_OK);
  ASSERT_EQ(file_->Put(L"Output_Title", L"A title = with\r\nbreaks \\ and slashes"), S_OK);
  ASSERT_EQ(file_->Put(L"EncVideo_Width", L"128"), S_OK) << "a second put replaces the value";
  ASSERT_EQ(file_->Put(L"Empty", L""), S_OK);
  ASSERT_EQ(file_->Save(path.c_str(), 1), S_OK);
  ASSERT_EQ(file_->Close(), S_OK);
  HRESULT hr;
  Get(L"EncVideo_Width", &hr);
  EXPECT_EQ(hr, KRM_E_MISSING_IDENTIFIER) << "close ends the set";

  ASSERT_EQ(file_->Load(path.c_str()), S_OK);
  EXPECT_EQ(Get(L"EncVideo_Width", &hr), L"128");
  EXPECT_EQ(hr, S_OK);
  EXPECT_EQ(Get(L"Output_Title", &hr), L"A title = with\r\nbreaks \\ and slashes");
  EXPECT_EQ(Get(L"Empty", &hr), L"");
  EXPECT_EQ(hr, S_OK);

  // The file is UTF-16 text, keys in the order they were first put.
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  EXPECT_EQ(bytes.str(), Utf16Bytes(std::wstring(1, wchar_t(0xFEFF)) +
                                    L"EncVideo_Width=128\r\n"
                                    L"Output_Title=A title = with\\r\\nbreaks \\\\ and slashes\r\n"
                                    L"Empty=\r\n"));
}

TEST_F(PropertiesFileTest, MissingKeyGivesItsOwnCodeAndAnEmptyValue) {
  HRESULT hr;
  EXPECT_EQ(Get(L"UserStatus_MaxSize", &hr), L"");
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800A044Cu));
}

TEST_F(PropertiesFileTest, ValuesHoldAtMost255Characters) {
  std::wstring longest(255, L'v');
  ASSERT_EQ(file_->Put(L"Long", longest.c_str()), S_OK);
  HRESULT hr;
  EXPECT_EQ(Get(L"Long", &hr), longest);
  std::wstring tooLong(256, L'w');
  EXPECT_EQ(file_->Put(L"Long", tooLong.c_str()), E_INVALIDARG);
  EXPECT_EQ(Get(L"Long", &hr), longest) << "a refused put changes nothing";
}

TEST_F(PropertiesFileTest, ForbiddenKeys) {
  std::wstring longKey(256, L'k');
  for (const wchar_t* key : {L"", L"a=b", L"line\nbreak", longKey.c_str()})
    EXPECT_EQ(file_->Put(key, L"x"), static_cast<HRESULT>(0x800A044Du)) << "key of " << wcslen(key) << " chars";
  EXPECT_EQ(file_->Put(nullptr, L"x"), E_POINTER);
}

TEST_F(PropertiesFileTest, FilesThatCannotBeReadOrWritten) {
  ASSERT_EQ(file_->Put(L"Kept", L"1"), S_OK);
  struct {
    const wchar_t* name;
    std::string bytes;  // empty: the file is not made
    HRESULT result;
  } cases[] = {
      {L"absent.krs", "", static_cast<HRESULT>(0x800A044Fu)},
      {L"narrow.krs", "Kept=2\r\n", static_cast<HRESULT>(0x800A044Fu)},
      {L"odd.krs", "\xFF\xFE" "K", static_cast<HRESULT>(0x800A044Fu)},
      {L"noequals.krs", Utf16Bytes(L"\xFEFFKept\r\n"), static_cast<HRESULT>(0x800A044Fu)},
      {L"unended.krs", Utf16Bytes(L"\xFEFFKept=2"), static_cast<HRESULT>(0x800A044Fu)},
      {L"badescape.krs", Utf16Bytes(L"\xFEFFKept=\\q\r\n"), static_cast<HRESULT>(0x800A044Fu)},
      {L"twice.krs", Utf16Bytes(L"\xFEFFKept=2\r\nKept=3\r\n"), static_cast<HRESULT>(0x800A0450u)},
  };
  for (const auto& c : cases) {
    std::wstring path = Scratch(c.name);
    DeleteFileW(path.c_str());
    if (!c.bytes.empty()) WriteBytes(path, c.bytes);
    EXPECT_EQ(file_->Load(path.c_str()), c.result);
    HRESULT hr;
    EXPECT_EQ(Get(L"Kept", &hr), L"1") << "a failed load leaves the set as it was";
  }
  // Saving: a folder that does not exist, and flag 0 over an existing file.
  std::wstring noFolder = Scratch(L"no such folder\\x.krs");
  EXPECT_EQ(file_->Save(noFolder.c_str(), 1), static_cast<HRESULT>(0x800A044Eu));
  std::wstring existing = Scratch(L"existing.krs");
  WriteBytes(existing, "x");
  EXPECT_EQ(file_->Save(existing.c_str(), 0), static_cast<HRESULT>(0x800A044Eu));
  EXPECT_EQ(file_->Save(existing.c_str(), 1), S_OK);
}

TEST_F(PropertiesFileTest, LogsWhatItReceived) {
  std::wstring log = Scratch(L"calls.log");
  DeleteFileW(log.c_str());
  SetEnvironmentVariableW(L"KRPROPERTIESFILE_LOG", log.c_str());
  file_->Put(L"EncVideo_Height", L"96");
  HRESULT hr;
  Get(L"Nothing", &hr);
  SetEnvironmentVariableW(L"KRPROPERTIESFILE_LOG", nullptr);
  std::ifstream in(std::filesystem::path(log), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "KRPropertiesFile: Put \"EncVideo_Height\" = \"96\" -> 0x00000000\r\n"
            "KRPropertiesFile: Get \"Nothing\" -> 0x800A044C\r\n");
}

TEST(PropertiesFormat, ParsesWhatItFormats) {
  PropertySet set = {{L"a", L"\\\r\n"}, {L"b", L""}, {L"c", std::wstring(255, L'z')}};
  PropertySet back;
  ASSERT_EQ(ParseProperties(FormatProperties(set), &back), S_OK);
  EXPECT_EQ(back, set);
  EXPECT_EQ(ParseProperties(L"\xFEFF" L"c=" + std::wstring(256, L'z') + L"\r\n", &back),
            static_cast<HRESULT>(0x800A044Fu));
}

}  // namespace
