#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell_test_support.h"

namespace {

// A probe process started with its own log file and environment.
class Probe {
 public:
  Probe(const std::wstring& arguments, const char* mode = "", const wchar_t* logName = L"probe.log")
      : log_(TempPath(logName)) {
    const std::wstring exe = BesideTest(STARTUP_PROBE_EXE);
    std::string logUtf8(log_.begin(), log_.end());
    SetEnvironmentVariableA("PROBE_LOG", logUtf8.c_str());
    SetEnvironmentVariableA("PROBE_MODE", mode);
    std::wstring line = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    started_ = CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info_);
    SetEnvironmentVariableA("PROBE_LOG", nullptr);
    SetEnvironmentVariableA("PROBE_MODE", nullptr);
  }
  ~Probe() {
    if (started_) {
      if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
    }
    DeleteFileW(log_.c_str());
  }
  bool Started() const { return started_ != FALSE; }
  // Exit code, or 0xFFFFFFFF when it did not end in time.
  DWORD Wait(DWORD ms) {
    if (WaitForSingleObject(info_.hProcess, ms) != WAIT_OBJECT_0) return 0xFFFFFFFF;
    DWORD code = 0;
    GetExitCodeProcess(info_.hProcess, &code);
    return code;
  }
  std::string Log() const { return ReadFileBytes(log_); }
  // Its main window, once it has one.
  HWND Window(DWORD ms) const {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      HWND found = nullptr;
      for (HWND w = FindWindowW(L"Orlomer", nullptr); w; w = FindWindowExW(nullptr, w, L"Orlomer", nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == info_.dwProcessId) found = w;
      }
      if (found) return found;
      Sleep(50);
    }
    return nullptr;
  }

 private:
  std::wstring log_;
  PROCESS_INFORMATION info_ = {};
  BOOL started_ = FALSE;
};

class Startup : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    DeletePlayerKeys();
    SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", GetParam() ? "1" : "0");
  }
  void TearDown() override {
    SetEnvironmentVariableA("ORLOMER_WIN9X_MODE", nullptr);
    DeletePlayerKeys();
  }
};

TEST_P(Startup, SecondStartHandsItsCommandLineOver) {
  Probe first(L"", "", L"first.log");
  ASSERT_TRUE(first.Started());
  HWND window = first.Window(15000);
  ASSERT_NE(window, nullptr);

  // The data folder settings default to the program's folder, written back.
  const std::wstring exe = BesideTest(STARTUP_PROBE_EXE);
  const std::wstring folder = exe.substr(0, exe.rfind(L'\\') + 1);
  wchar_t value[kSettingStringCapacity] = {};
  ASSERT_EQ(ReadSettingStringById(nullptr, shell::kKRData, value), 1);
  EXPECT_EQ(std::wstring(value), folder);
  ASSERT_EQ(ReadSettingStringById(nullptr, shell::kFilePath, value), 1);
  EXPECT_EQ(std::wstring(value), folder);
  const std::string shown = RegQuery(std::wstring(L"HKCU\\") + kPlayerKey);
  EXPECT_NE(shown.find("KRData"), std::string::npos) << shown;

  {
    Probe second(L"clip \xE9t\xE9.mp4", "", L"second.log");
    EXPECT_EQ(second.Wait(15000), 0u);
    EXPECT_EQ(second.Log(), "EXIT 0\n");  // no window of its own
  }
  // 12 characters and the terminator, as UTF-16.
  EXPECT_NE(first.Log().find("COPYDATA 1 26 clip \xC3\xA9t\xC3\xA9.mp4\n"), std::string::npos) << first.Log();

  {
    Probe third(L"", "", L"third.log");
    EXPECT_EQ(third.Wait(15000), 0u);
  }
  EXPECT_EQ(first.Log().find("COPYDATA", first.Log().find("COPYDATA") + 1), std::string::npos) << first.Log();

  // With "MultipleInstances" set a second player runs.
  ASSERT_EQ(WriteSettingDwordById(nullptr, shell::kMultipleInstances, 1), 1);
  {
    Probe another(L"", "", L"another.log");
    HWND second = another.Window(15000);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, window);
    PostMessageW(second, WM_CLOSE, 0, 0);
    EXPECT_EQ(another.Wait(15000), 7u);
    EXPECT_NE(another.Log().find("STARTED"), std::string::npos);
  }

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.Wait(15000), 7u);  // the quit message's code
  const std::string log = first.Log();
  EXPECT_EQ(log.find("STARTED"), 0u) << log;
  EXPECT_NE(log.find("ATTACH"), std::string::npos) << log;
  EXPECT_NE(log.find("EXIT 7"), std::string::npos) << log;
}

TEST_P(Startup, F1InADialogPostsHelpToTheMainWindow) {
  Probe probe(L"", "dialog-f1");
  ASSERT_TRUE(probe.Started());
  EXPECT_EQ(probe.Wait(20000), 7u);
  const std::string log = probe.Log();
  EXPECT_NE(log.find("COMMAND 41131\nDIALOG 1\n"), std::string::npos) << log;
}

TEST_P(Startup, AWindowThatFailsGivesMessage50043) {
  const std::wstring logPath = TempPath(L"startup_instrument.log");
  ASSERT_EQ(WriteSettingStringById(nullptr, shell::kInstrumentTesting, logPath.c_str()), 1);
  Probe probe(L"", "fail-window");
  EXPECT_EQ(probe.Wait(15000), 0u);
  EXPECT_EQ(probe.Log(), "EXIT 0\n");
  EXPECT_NE(ReadFileBytes(logPath).find("Missing \"Skin\" file.  Please reinstall Orlomer."), std::string::npos);
  DeleteFileW(logPath.c_str());
}

// Wine told to be Windows 98 for the probe reports platform 1: the player
// runs in the ANSI mode without the test switch.
TEST(StartupPlatform, WineAsWindows98GivesTheAnsiMode) {
  DeletePlayerKeys();
  const std::wstring appKey = std::wstring(L"Software\\Wine\\AppDefaults\\") + Widen(STARTUP_PROBE_EXE);
  for (bool win98 : {true, false}) {
    if (win98) {
      ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, appKey.c_str(), L"Version", REG_SZ, L"win98", 12), ERROR_SUCCESS);
    }
    Probe probe(L"", "", win98 ? L"win98.log" : L"nt.log");
    HWND window = probe.Window(15000);
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(probe.Wait(15000), 7u);
    EXPECT_NE(probe.Log().find(win98 ? "MODE 9x\n" : "MODE unicode\n"), std::string::npos) << probe.Log();
    RegDeleteTreeW(HKEY_CURRENT_USER, appKey.c_str());
  }
  DeletePlayerKeys();
}

INSTANTIATE_TEST_SUITE_P(Modes, Startup, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Win9x" : "Unicode"; });

}  // namespace
