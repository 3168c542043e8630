#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "shell/dialup_connection.h"
#include "shell/log_window.h"
#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/shell_services.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

struct Box {
  HWND owner;
  std::wstring text;
  bool hasCaption;
  std::wstring caption;
  UINT style;
};
std::vector<Box> g_boxes;

int WINAPI RecordingBox(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style) {
  g_boxes.push_back({owner, text ? text : L"", caption != nullptr, caption ? caption : L"", style});
  return IDYES;
}

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    DeletePlayerKeys();
    g_boxes.clear();
    SetMessageBoxForTesting(RecordingBox);
  }
  void TearDown() override {
    SetMessageBoxForTesting(nullptr);
    DeletePlayerKeys();
    DeleteFileW(logPath.c_str());
  }
  void LogTo(const std::wstring& path) {
    ASSERT_EQ(WriteSettingStringById(instance, shell::kInstrumentTesting, path.c_str()), 1);
  }
  HINSTANCE instance = GetModuleHandleW(nullptr);
  std::wstring logPath = TempPath(L"instrument.log");
};

TEST_F(Messages, CaptionsAndStylesByIdThroughTheMessageBox) {
  struct Case {
    UINT id;
    const wchar_t* argument;
    UINT style;
    std::wstring text;
    bool hasCaption;
    std::wstring caption;
    UINT shownStyle;
  };
  const std::wstring missing = L"Unknown Error - No String in RC File: id=59999";
  const Case cases[] = {
      {50051, nullptr, MB_YESNO, L"Clip not found.", false, L"", 0x30 | MB_SETFOREGROUND},
      {51181, nullptr, MB_ICONERROR, L"Clip size exceeds maximum height (144) or maximum width (192).", false, L"",
       MB_SETFOREGROUND},
      {50049, L"rtsp://host/a.mp4", MB_OK, L"Unable to play Clip: \"rtsp://host/a.mp4\"", false, L"",
       MB_SETFOREGROUND},
      {51301, L"old", MB_YESNO, L"You cannot download a clip while another clip is suspended.  Do you want to delete "
                                L"the currently suspended clip, \"old\"?",
       false, L"", MB_YESNO | MB_SETFOREGROUND},
      // A caption id without a string in the table: an empty caption.
      {51205, nullptr, MB_OK, L"These settings will take effect when playing the next clip.", true, L"",
       MB_OK | MB_SETFOREGROUND},
      {59999, nullptr, MB_YESNO, missing, true, L"!! Debug Message !!", MB_YESNO},
      {0, L"The whole text", MB_ICONINFORMATION, L"The whole text", false, L"", MB_ICONINFORMATION},
  };
  for (const Case& c : cases) {
    g_boxes.clear();
    EXPECT_EQ(ShowMessage(instance, c.id, c.argument, c.style), IDYES) << c.id;
    ASSERT_EQ(g_boxes.size(), 1u) << c.id;
    EXPECT_EQ(g_boxes[0].text, c.text) << c.id;
    EXPECT_EQ(g_boxes[0].hasCaption, c.hasCaption) << c.id;
    EXPECT_EQ(g_boxes[0].caption, c.caption) << c.id;
    EXPECT_EQ(g_boxes[0].style, c.shownStyle) << c.id;
    EXPECT_EQ(g_boxes[0].owner, nullptr) << c.id;  // no player window in this process
  }
}

TEST_F(Messages, ALongArgumentStaysInsideTheMessage) {
  const std::wstring argument(600, L'a');
  ShowMessage(instance, 50049, argument.c_str(), MB_OK);
  ASSERT_EQ(g_boxes.size(), 1u);
  EXPECT_EQ(g_boxes[0].text.size(), 255u);
  EXPECT_EQ(g_boxes[0].text.substr(0, 22), L"Unable to play Clip: \"");
}

TEST_F(Messages, TheLogTakesEveryMessageWithATimePrefix) {
  EXPECT_EQ(IsInstrumentLogOn(instance), 0);
  LogTo(logPath);
  EXPECT_EQ(IsInstrumentLogOn(instance), 1);
  EXPECT_EQ(ShowMessage(instance, 50051, nullptr, MB_OK), 0);
  EXPECT_EQ(ShowMessage(instance, 50049, L"Grüße.mp4", MB_OK), 0);
  EXPECT_EQ(ShowMessage(instance, 59999, nullptr, MB_OK), 0);
  EXPECT_EQ(ShowMessage(instance, 0, L"plain", MB_OK), 0);
  InstrumentLog(instance, L"PLAY %ls %d\n", L"clip", 42);
  InstrumentLog(instance, L"\n");
  ShellServices().InstrumentLog(instance, u"STOP\n");
  EXPECT_TRUE(g_boxes.empty());

  std::istringstream lines(ReadFileBytes(logPath));
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    got.push_back(line);
  }
  const std::vector<std::string> texts = {"Clip not found.",
                                          "Unable to play Clip: \"Gr\xC3\xBC\xC3\x9F" "e.mp4\"",
                                          "Unknown Error - No String in RC File: id=59999",
                                          "plain",
                                          "PLAY clip 42",
                                          "",
                                          "STOP"};
  ASSERT_EQ(got.size(), texts.size());
  const std::regex prefix(R"(^\d\d/\d\d \d\d:\d\d:\d\d:\d\d\d (.*)$)");
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].empty()) {
      EXPECT_EQ(got[i], "");  // the bare newline has no prefix
      continue;
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(got[i], m, prefix)) << got[i];
    EXPECT_EQ(m[1].str(), texts[i]);
  }
  // Switched off while running: nothing more is written.
  ASSERT_EQ(WriteSettingStringById(instance, shell::kInstrumentTesting, L""), 1);
  ShowMessage(instance, 50051, nullptr, MB_OK);
  EXPECT_EQ(g_boxes.size(), 1u);
}

TEST_F(Messages, LogWindowKeepsItsSevenRows) {
  ShellLogWindow log(instance);
  ASSERT_NE(log.Window(), nullptr);
  wchar_t className[32] = {}, title[32] = {};
  GetClassNameW(log.Window(), className, 32);
  GetWindowTextW(log.Window(), title, 32);
  EXPECT_STREQ(className, L"QLTLog");
  EXPECT_STREQ(title, L"QLTLogWindow");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(log.Window(), GWL_STYLE)) & 0x10CA0000u, 0x10CA0000u);
  RECT r = {};
  GetWindowRect(log.Window(), &r);
  EXPECT_EQ(r.right - r.left, 400);
  EXPECT_EQ(r.bottom - r.top, 126);

  log.WriteLine(5, 0, u"first row");
  log.WriteLine(5, 84, u"row at 84");
  log.WriteLine(5, 90, u"row at 90");
  EXPECT_EQ(std::u16string(log.Line(0)), u"first row");
  EXPECT_EQ(std::u16string(log.Line(6)), u"row at 84");
  for (int row = 0; row < ShellLogWindow::kRows; ++row) EXPECT_NE(std::u16string(log.Line(row)), u"row at 90");

  // After a repaint the kept row is drawn again: dark text pixels on white.
  EXPECT_EQ(log.Update(), 1u);
  HDC dc = GetDC(log.Window());
  int dark = 0;
  for (int x = 5; x < 60; ++x)
    for (int y = 1; y < 12; ++y) dark += GetPixel(dc, x, y) == RGB(0, 0, 0) ? 1 : 0;
  ReleaseDC(log.Window(), dc);
  EXPECT_GT(dark, 10);

  // Closing by the user leaves an object that draws nothing.
  SendMessageW(log.Window(), WM_CLOSE, 0, 0);
  EXPECT_EQ(log.Window(), nullptr);
  log.WriteLine(5, 14, u"after close");
  EXPECT_EQ(std::u16string(log.Line(1)), u"");
  EXPECT_EQ(log.Update(), 0u);
}

TEST(Dialup, ConnectionAlwaysThereNeverDialling) {
  ShellDialupConnection connection(GetModuleHandleW(nullptr));
  const uint32_t table[][2] = {{0, 0}, {1, 1}, {2, 1}, {3, 0}, {0xFFFFFFFF, 0}};
  for (const auto& row : table) EXPECT_EQ(connection.CheckConnection(row[0]), row[1]) << row[0];
  EXPECT_EQ(connection.EnsureConnected(), 1u);
  EXPECT_EQ(connection.IsDialing(), 0u);
  EXPECT_EQ(connection.Flags(), 0x2001u);
  ASSERT_NE(connection.Event(), nullptr);
  EXPECT_EQ(WaitForSingleObject(connection.Event(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
  connection.CloseHandle();
  EXPECT_EQ(connection.Event(), nullptr);
  connection.CloseHandle();  // twice is harmless
}

}  // namespace
