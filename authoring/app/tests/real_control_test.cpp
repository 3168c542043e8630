// The encoder view hosting the real authoring control from its template
// (the control and the media engine's double registered with regsvr32 in
// this test's prefix): the settings pushed in come back unchanged when they
// are pulled out again.
#include <gtest/gtest.h>

#include <string>

#include "appframe/app.h"
#include "scrivel/enc_active_view.h"
#include "view_doubles.h"

namespace {

using namespace scrivel;

DWORD RunCommand(std::wstring line) {
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 9999;
  WaitForSingleObject(pi.hProcess, 60000);
  DWORD code = 9999;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return code;
}

// The build's path as Wine shows it.
std::wstring WindowsPath(const char* unixPath) {
  std::wstring path = L"Z:";
  for (const char* p = unixPath; *p; ++p) path += *p == '/' ? L'\\' : static_cast<wchar_t>(*p);
  return path;
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

class RealControl : public testing::Test {
 protected:
  // The control's window needs a media engine: the control tests' double
  // stands in for it here.
  static void SetUpTestSuite() {
    ASSERT_EQ(RunCommand(L"regsvr32.exe /s \"" + WindowsPath(CTLVANE_DLL) + L"\""), 0u);
    ASSERT_EQ(RunCommand(L"regsvr32.exe /s \"" + WindowsPath(ENGINE_DOUBLE_DLL) + L"\""), 0u);
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(RunCommand(L"regsvr32.exe /s /u \"" + WindowsPath(ENGINE_DOUBLE_DLL) + L"\""), 0u);
    EXPECT_EQ(RunCommand(L"regsvr32.exe /s /u \"" + WindowsPath(CTLVANE_DLL) + L"\""), 0u);
  }
};

TEST_F(RealControl, LoadAllThenSaveAllGivesBackTheRecord) {
  ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
  {
    appf::Application app(L"ScrivelViewTest");
    ASSERT_TRUE(app.EnableControlContainer());
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ScrivelViewTestParent";
    RegisterClassW(&wc);
    HWND parent = CreateWindowW(L"ScrivelViewTestParent", L"", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                                nullptr, wc.hInstance, nullptr);
    ASSERT_NE(parent, nullptr);
    FrameDouble frame;
    SummaryDouble summary;
    BoxWatcher boxes(GetCurrentThreadId());
    {
      CEncActiveView view(GetModuleHandleW(nullptr), frame, summary);
      RECT rect = {0, 0, 640, 400};
      ASSERT_TRUE(view.CreateView(parent, rect, 0xE900, nullptr, nullptr));
      view.OnInitialUpdate();
      HWND host = view.Item(kControlId);
      wchar_t cls[32] = {}, text[64] = {};
      GetClassNameW(host, cls, 32);
      GetWindowTextW(host, text, 64);
      EXPECT_STREQ(cls, L"AtlAxWin");
      EXPECT_STREQ(text, L"KRACTIVE.KRActiveCtrl.1");
      ASSERT_NE(view.Control().Driver().Get(), nullptr) << "the control did not come up from the template";

      // A record away from the control's defaults, within its rules.
      CSessionSettings sent;
      sent.encWidth = 320;
      sent.encHeight = 240;
      sent.nLayers = 2;
      sent.streamOut = 3;
      sent.baseBitRate = 64000;
      sent.enBitRate = 128000;
      sent.baseFrameRate = 10.0f;
      sent.enFrameRate = 15.0f;
      sent.iFrameInterval = 5;
      sent.bMultiplePass = 1;
      sent.bClientNoAudio = 1;
      sent.bEnableRandomPositioning = 1;
      sent.SetProfileName(u"Round trip");
      // Every entry with a codec of ours (only those are pushed).
      sent.audio.stream[0] = {2, 1, 44100, 64000, 2};
      sent.audio.stream[1] = {0, 0, 8000, 12200, 1};
      sent.audio.stream[2] = {1, 0, 8000, 9200, 1};
      sent.audio.stream[3] = {2, 0, 22050, 16000, 1};
      sent.audio.stream[4] = {2, 0, 22050, 32000, 2};
      view.SetRecord(sent);
      view.LoadAll(true);

      view.SetRecord(CSessionSettings());
      view.Record().nLayers = 2;  // the save order follows the record's layers
      view.SaveAll(true);
      const CSessionSettings& back = view.Record();
      EXPECT_EQ(back.CompareCodecs(sent), 0);
      EXPECT_EQ(back.encWidth, 320);
      EXPECT_EQ(back.enBitRate, 128000);
      EXPECT_EQ(back.enFrameRate, 15.0f);
      EXPECT_EQ(back.bMultiplePass, 1);
      EXPECT_EQ(back.bClientNoAudio, 1);
      EXPECT_EQ(back.bEnableRandomPositioning, 1);
      EXPECT_EQ(CSessionSettings::Text(back.profileName), u"Round trip");
      for (int i = 0; i < mediaengine::kAudioStreamEntries; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back.audio.stream[i].codec, sent.audio.stream[i].codec);
        EXPECT_EQ(back.audio.stream[i].enabled, sent.audio.stream[i].enabled);
        EXPECT_EQ(back.audio.stream[i].samplingRate, sent.audio.stream[i].samplingRate);
        EXPECT_EQ(back.audio.stream[i].bitRate, sent.audio.stream[i].bitRate);
        EXPECT_EQ(back.audio.stream[i].channels, sent.audio.stream[i].channels);
      }
      DestroyWindow(view.Handle());
    }
    EXPECT_TRUE(boxes.Boxes().empty()) << "the control reported an error: " << boxes.Boxes().size();
    DestroyWindow(parent);
  }
  OleUninitialize();
}

}  // namespace
