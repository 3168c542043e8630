// A progressive download through the real player: controller, session,
// engine and the program's parts (the download source over the HTTP client,
// the audio binding with the stand-in decoders, waveOut, the video thread).
// The clip comes from the download peer of the streaming tests, throttled,
// so it plays while it downloads; it is suspended, and a second run of this
// program (the player started again) resumes it from the state file and
// plays it to its end. The settings pass between the runs in a file, as the
// registry would keep them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "fakes.h"
#include "platform/os.h"
#include "player_context.h"
#include "player_controller.h"
#include "player_engine.h"
#include "standard_parts.h"

namespace {

const std::filesystem::path kPeer = DOWNLOAD_PEER_DIR;
const std::filesystem::path kWork = std::filesystem::absolute("download_playback");

std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// About 3 s of the 20 s clip a second: playback starts well before the end.
std::u16string ClipUrl() {
  const std::string port = ReadFile(kPeer / "http.port");
  const std::string url = "http://127.0.0.1:" + port + "/throttle30000/e2e.mp4";
  return std::u16string(url.begin(), url.end());
}




void SaveSettings(FakeShell& shell) {
  std::ofstream out(kWork / "settings.txt", std::ios::binary);
  std::lock_guard<std::mutex> g(shell.lock);
  for (const auto& [name, value] : shell.dwords) out << "d " << Narrow(name.c_str()) << " " << value << "\n";
  for (const auto& [name, value] : shell.strings)
    out << "s " << Narrow(name.c_str()) << " " << platform::utf16ToUtf8(value) << "\n";
}

void LoadSettings(FakeShell& shell) {
  std::ifstream in(kWork / "settings.txt", std::ios::binary);
  std::string kind, name;
  while (in >> kind >> name) {
    std::string value;
    std::getline(in, value);
    value.erase(0, 1);
    const std::u16string wide(name.begin(), name.end());
    if (kind == "d") {
      shell.dwords[wide] = uint32_t(std::stoul(value));
    } else {
      shell.strings[wide] = platform::utf8ToUtf16(value);
    }
  }
}

// Runs one test of this program in a process of its own: the player
// started again.
int RunChild(const std::string& filter) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_also_run_disabled_tests --gtest_filter=" +
                         std::wstring(filter.begin(), filter.end());
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  const DWORD waited = WaitForSingleObject(pi.hProcess, 90000);
  DWORD code = 1;
  if (waited == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
  else TerminateProcess(pi.hProcess, 1);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return int(code);
}

}  // namespace

TEST(DownloadPlayback, PlaysWhileDownloadingThenResumesAfterARestart) {
  ASSERT_FALSE(ReadFile(kPeer / "http.port").empty()) << "the download peer is not running (a CTest fixture)";
  std::filesystem::remove_all(kWork);
  std::filesystem::create_directories(kWork);
  const std::string clip = ReadFile(kPeer / "clip.mp4");
  ASSERT_GT(clip.size(), 100000u);
  SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", (kWork / "decoder_first.log").wstring().c_str());
  {
    TestWindow window;
    FakeShell shell;
    shell.strings[u"FilePath"] = (kWork / "").u16string();
    StandardEngineParts parts(&shell);
    RecordingObserver observer;
    auto* descriptor = new FakeClipFile;
    descriptor->entries.push_back({ClipUrl(), 3});
    shell.nextClipFile = descriptor;
    PlayerController controller(&shell, &parts);
    controller.Init(window.hwnd, GetModuleHandleW(nullptr), &observer, nullptr);
    ASSERT_EQ(controller.OpenCommandLine(u"e2e.krc"), 0u);
    PlayerEngine* engine = controller.Session()->Engine();
    // Playing from the partial file while bytes are still to come.
    int32_t remainingWhilePlaying = 0;
    const bool playing = PumpUntil(
        [&] {
          if (engine->GetState() != kStatePlaying || engine->GetHighestTime() < 1000) return false;
          remainingWhilePlaying = engine->GetDownloadProgress();
          return true;
        },
        30000);
    ASSERT_TRUE(playing) << "no playback during the download";
    EXPECT_GT(remainingWhilePlaying, 0) << "the download had ended before playback began";
    std::printf("playing at %d ms of the clip with %d bytes still to come\n", engine->GetHighestTime(),
                remainingWhilePlaying);
    // The main window's Suspend Clip.
    controller.SuspendDownload();
    controller.Stop();
    PumpUntil([] { return false; }, 300);
    EXPECT_TRUE(observer.Has("EnableCommand 41125 1")) << "Resume Clip not enabled";
    EXPECT_TRUE(std::filesystem::exists(kWork / "krdl.dat"));
    EXPECT_TRUE(std::filesystem::exists(kWork / "krdl.tmp"));
    uint32_t restart = 0;
    shell.ReadSettingDword(nullptr, u"Restart", &restart);
    EXPECT_EQ(restart, 1u);
    SaveSettings(shell);
  }
  EXPECT_EQ(RunChild("DownloadPlayback.DISABLED_ResumedRun"), 0) << "the resumed run failed";
}

// The second run, started by the test above.
TEST(DownloadPlayback, DISABLED_ResumedRun) {
  SetEnvironmentVariableW(L"STAND_IN_DECODER_LOG", (kWork / "decoder_resumed.log").wstring().c_str());
  const std::string clip = ReadFile(kPeer / "clip.mp4");
  TestWindow window;
  FakeShell shell;
  LoadSettings(shell);
  StandardEngineParts parts(&shell);
  RecordingObserver observer;
  PlayerController controller(&shell, &parts);
  controller.Init(window.hwnd, GetModuleHandleW(nullptr), &observer, nullptr);
  char16_t last[256] = {};
  ASSERT_TRUE(shell.ReadSettingString(nullptr, u"LastDownload", last));
  // As the main window's Resume Clip: the last download's address.
  ASSERT_EQ(controller.OpenCommandLine(last), 0u);
  PlayerEngine* engine = controller.Session()->Engine();
  const bool ended = PumpUntil([&] { return observer.Has("OnClipEnd"); }, 60000);
  EXPECT_TRUE(ended) << "the resumed clip did not play to its end";
  EXPECT_GE(engine->GetHighestTime(), 19000);
  EXPECT_TRUE(ReadFile(kWork / "krdl.tmp") == clip) << "the finished file differs from the clip";
  EXPECT_FALSE(std::filesystem::exists(kWork / "krdl.dat"));
  uint32_t restart = 1;
  shell.ReadSettingDword(nullptr, u"Restart", &restart);
  EXPECT_EQ(restart, 0u);
  for (const std::string& c : observer.Calls("ShowError")) ADD_FAILURE() << c;
}
