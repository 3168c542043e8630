// Sessions and profiles through the engine's configuration interface and the
// properties-file stand-in, into real files (UTF-16 key=value lines).
#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "encode_host.h"
#include "mediaengine/errors.h"
#include "mediaengine/interfaces.h"
#include "mediaengine/server.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

std::wstring Path(const char* name) {
  const std::string p = TestDir() + name;
  return std::wstring(p.begin(), p.end());
}

// The file's text without its byte-order mark.
std::u16string FileText(const std::wstring& path) {
  FILE* f = _wfopen(path.c_str(), L"rb");
  if (!f) return u"";
  std::u16string text;
  char16_t c;
  while (std::fread(&c, 2, 1, f) == 1) text += c;
  std::fclose(f);
  return text.empty() ? text : text.substr(1);
}

void SetText(RecordText& field, const wchar_t* text) {
  size_t n = wcslen(text);
  std::memcpy(field, text, (n + 1) * 2);
}

class SessionTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    ComScope com;
    ASSERT_TRUE(RegisterCompanions({"Medlark.dll", "KRPropertiesFile.dll"}).empty());
  }
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_.Result()));
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"KRMedia.KRMedia.1", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IKRMediaConfig,
                               reinterpret_cast<void**>(&config_)),
              S_OK);
  }
  void TearDown() override {
    if (config_) config_->Release();
  }
  ComScope com_;
  IKRMediaConfig* config_ = nullptr;
};

TEST_F(SessionTest, ASessionGoesThroughAFileAndBack) {
  KRVideoEncoderConfig video;
  KRAudioEncoderConfig audio;
  KROutputConfig output;
  KRApplicationConfig app;
  config_->GetConfigVideoEncoder(&video);
  config_->GetConfigAudioEncoder(&audio);
  config_->GetConfigOutput(&output);
  config_->GetConfigApplication(&app);
  video.width = 176;
  video.height = 144;
  video.sourceFrameRate = 25.0f;
  video.frameRate[0] = 12.5f;
  video.bitRate[0] = 48000;
  audio.stream[0] = {0, 1, 8000, 12200, 1};
  output.mediaOutputType = 4;
  output.fileOutput = 1;
  output.rtspPort = 5544;
  SetText(output.title, L"Zwölf Komma fünf");
  SetText(output.outputFileName, L"archive.mp4");
  app.maxSize = 40000;
  app.maxDuration = 2.5f;
  ASSERT_EQ(config_->ConfigVideoEncoder(&video), S_OK);
  config_->ConfigAudioEncoder(&audio);
  config_->ConfigOutput(&output);
  config_->ConfigApplication(&app);

  // A host whose numbers are German: "12,5" in its own printing.
  const std::string before = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "German_Germany.1252"), nullptr) << "the CRT knows no German locale";
  char shown[16];
  std::snprintf(shown, sizeof shown, "%.1f", 12.5);
  ASSERT_STREQ(shown, "12,5");
  const std::string german = std::setlocale(LC_NUMERIC, nullptr);
  const std::wstring file = Path("session.krs");
  DeleteFileW(file.c_str());
  ASSERT_EQ(config_->SaveSession(file.c_str()), S_OK);
  EXPECT_EQ(std::string(std::setlocale(LC_NUMERIC, nullptr)), german) << "the host's locale is left alone";
  const std::u16string text = FileText(file);
  EXPECT_NE(text.find(u"\r\nEncVideo_FramerateLayer0=12.500000\r\n"), std::u16string::npos);
  EXPECT_NE(text.find(u"\r\nUserStatus_MaxSize=-25536\r\n"), std::u16string::npos);
  EXPECT_NE(text.find(u"\r\nOutput_Title=Zwölf Komma fünf\r\n"), std::u16string::npos);
  EXPECT_EQ(text.find(u"EncVideo_BitrateLayer1"), std::u16string::npos) << "one layer";
  EXPECT_EQ(text.rfind(u"FileInfo_Version=300.0\r\n", 0), 0u);

  ASSERT_EQ(config_->ResetToDefaults(), S_OK);
  EXPECT_EQ(config_->LoadSession(file.c_str()), S_OK);
  std::setlocale(LC_NUMERIC, before.c_str());
  KRVideoEncoderConfig v2;
  KROutputConfig o2;
  KRApplicationConfig a2;
  KRAudioEncoderConfig au2;
  config_->GetConfigVideoEncoder(&v2);
  config_->GetConfigOutput(&o2);
  config_->GetConfigApplication(&a2);
  config_->GetConfigAudioEncoder(&au2);
  EXPECT_EQ(v2.width, 176);
  EXPECT_EQ(v2.frameRate[0], 12.5f);
  EXPECT_EQ(v2.bitRate[0], 48000);
  EXPECT_EQ(o2.mediaOutputType, 4);
  EXPECT_EQ(o2.rtspPort, 5544);
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(o2.title)), L"Zwölf Komma fünf");
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(o2.outputFileName)), L"archive.mp4");
  EXPECT_EQ(a2.maxSize, 40000u);
  EXPECT_EQ(a2.maxDuration, 2.5f);
  EXPECT_EQ(au2.stream[0].codec, 0);
  EXPECT_EQ(au2.stream[0].bitRate, 12200);
}

TEST_F(SessionTest, FilesThatDoNotLoad) {
  KROutputConfig output;
  config_->GetConfigOutput(&output);
  SetText(output.stillImageFileName, L"Z:\\no\\such\\still.bmp");
  config_->ConfigOutput(&output);
  const std::wstring session = Path("gone.krs"), profile = Path("gone.krp");
  ASSERT_EQ(config_->SaveSession(session.c_str()), S_OK);
  EXPECT_EQ(config_->LoadSession(session.c_str()), KRM_E_OPEN_STILL_IMAGE);
  ASSERT_EQ(config_->SaveProfile(profile.c_str()), S_OK);
  EXPECT_EQ(config_->LoadProfile(profile.c_str()), S_OK);
  EXPECT_EQ(config_->LoadSession(Path("none.krs").c_str()), KRM_E_INVALID_FILE_NAME);
  EXPECT_EQ(config_->LoadProfile(Path("none.krp").c_str()), static_cast<HRESULT>(0x800A044F))
      << "the properties file's own code";
  // A file without its version line.
  FILE* f = _wfopen(Path("bare.krp").c_str(), L"wb");
  std::fwrite(u"\xFEFF" u"EncVideo_Width=176\r\n", 2, 21, f);
  std::fclose(f);
  EXPECT_EQ(config_->LoadProfile(Path("bare.krp").c_str()), KRM_E_INVALID_PROFILE_FILE);
  EXPECT_EQ(config_->LoadSession(Path("bare.krp").c_str()), KRM_E_INVALID_SESSION_FILE);
  EXPECT_EQ(config_->SaveProfile(Path("no\\such\\folder\\p.krp").c_str()), static_cast<HRESULT>(0x800A044E));
  EXPECT_EQ(config_->SaveSession(Path("no\\such\\folder\\s.krs").c_str()), KRM_E_FUNCTION_FAILED);
}

}  // namespace
