// The main window started as the program starts it (InitInstance with the
// real MainWindow and PlayerController over parts that make no source):
// messages and commands reach the controller and the settings, the hand-over
// text is cut to 255 units, one dropped file is taken and two are not, and
// Save As moves, copies, or reports that it could not.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/media_types.h"
#include "engine_parts.h"
#include "player_controller.h"
#include "shell/main_window.h"
#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/skin_controls.h"
#include "shell/shell_services.h"
#include "shell/startup.h"
#include "shell/ui_controller.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"
#include "streaming/client_services.h"

namespace {

class StillClock : public TickClock {
 public:
  uint32_t StartWallClock(uint32_t) override { return 0; }
  uint32_t SetTime(uint32_t) override { return 0; }
  uint32_t GetTime() override { return 0; }
  void CloseEvent() override {}
};

class NoMediaParts : public EngineParts {
 public:
  TickClock* NewClock() override { return new StillClock; }
  MediaSource* NewSource(uint32_t, PlayerContext*) override { return nullptr; }
  AudioDecoder* NewAudioDecoder(PlayerContext*, MediaSource*) override { return nullptr; }
  VideoThread* NewVideoThread(PlayerContext*, MediaSource*) override { return nullptr; }
  uint32_t TickCount() override { return GetTickCount(); }
};

class Parts : public ShellStartupParts {
 public:
  ShellMainWindow* NewMainWindow(HINSTANCE instance, bool* failed) override {
    window = new MainWindow(instance, failed);
    return window;
  }
  PlayerController* NewController() override { return new PlayerController(&services, &parts); }
  MainWindow* window = nullptr;
  ShellServices services;
  NoMediaParts parts;
};

std::vector<std::string> LogLines(const std::wstring& path) {
  std::istringstream in(ReadFileBytes(path));
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line.size() > 19 ? line.substr(19) : line);
  }
  return out;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    instance = GetModuleHandleW(nullptr);
    DeletePlayerKeys();
    log = TempPath(L"main_window.log");
    DeleteFileW(log.c_str());
    wchar_t folder[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, folder, MAX_PATH);
    std::wstring data(folder);
    data.resize(data.rfind(L'\\') + 1);
    WriteSettingStringById(instance, shell::kKRData, data.c_str());
    WriteSettingStringById(instance, shell::kInstrumentTesting, log.c_str());
    RegisterMainWindowClass(instance);
    ASSERT_EQ(InitInstance(instance, L"", &parts), 1);
    window = parts.window;
    ASSERT_NE(window->Window(), nullptr);
  }
  void TearDown() override {
    if (window && window->Window()) DestroyWindow(window->Window());
    ExitInstance();
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    DeletePlayerKeys();
    DeleteFileW(log.c_str());
  }
  LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageW(window->Window(), message, wParam, lParam);
  }
  HINSTANCE instance = nullptr;
  std::wstring log;
  Parts parts;
  MainWindow* window = nullptr;
};

TEST_F(MainWindowTest, LoopTogglesTheFlagTheMenuCheckAndTheRepeatCount) {
  EXPECT_EQ(window->LoopFlag(), 0u);
  Send(WM_COMMAND, cmd::kLoop, 0);
  EXPECT_EQ(window->LoopFlag(), 1u);
  EXPECT_EQ(GetMenuState(window->Menu(), cmd::kLoop, MF_BYCOMMAND) & MF_CHECKED, UINT(MF_CHECKED));
  EXPECT_EQ(window->Controller()->Session()->entryInfo.playCount, 10100u);
  Send(WM_COMMAND, cmd::kLoop, 0);
  EXPECT_EQ(window->LoopFlag(), 0u);
  EXPECT_EQ(GetMenuState(window->Menu(), cmd::kLoop, MF_BYCOMMAND) & MF_CHECKED, 0u);
  EXPECT_EQ(window->Controller()->Session()->entryInfo.playCount, 0u);
}

TEST_F(MainWindowTest, SlidersMessagesReachTheControllerAndTheSettings) {
  Send(kMsgVolumeChanged, 0, 63);
  DWORD volume = 0;
  ASSERT_TRUE(ReadSettingDwordById(instance, shell::kCurrentVolume, &volume));
  EXPECT_EQ(volume, 63u);
  // A drag start pauses only while playing; the window is idle (7).
  EXPECT_EQ(window->PlayerState(), 7u);
  EXPECT_EQ(Send(kMsgSeekStart, 0, 0), 0);
  EXPECT_EQ(window->PlayerState(), 7u);
  EXPECT_EQ(Send(kMsgIgnored, 0, 0), 0);
}

// A second start's command line: Loop off, at most 255 units, opened.
TEST_F(MainWindowTest, TheHandOverTextIsCutTo255UnitsAndOpenedWithLoopOff) {
  Send(WM_COMMAND, cmd::kLoop, 0);
  ASSERT_EQ(window->LoopFlag(), 1u);
  const std::wstring text = std::wstring(300, L'a') + L".mp4";
  COPYDATASTRUCT data = {};
  data.dwData = kCommandLineCopyData;
  data.cbData = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  data.lpData = const_cast<wchar_t*>(text.c_str());
  Send(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
  EXPECT_EQ(window->LoopFlag(), 0u);
  bool opened = false;
  for (const std::string& line : LogLines(log))
    if (line.rfind("URL: ", 0) == 0) {
      EXPECT_EQ(line.substr(5), std::string(255, 'a'));
      opened = true;
    }
  EXPECT_TRUE(opened);
}

// A drop handle as the shell makes it: DROPFILES and the names.
HGLOBAL MakeDrop(const std::vector<std::wstring>& files) {
  std::wstring names;
  for (const auto& f : files) names += f + L'\0';
  names += L'\0';
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + names.size() * sizeof(wchar_t));
  auto* drop = static_cast<DROPFILES*>(GlobalLock(memory));
  drop->pFiles = sizeof(DROPFILES);
  drop->fWide = TRUE;
  memcpy(reinterpret_cast<char*>(drop) + sizeof(DROPFILES), names.data(), names.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  return memory;
}

TEST_F(MainWindowTest, OneDroppedFileOpensAndTwoDoNot) {
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({L"C:\\a.mp4", L"C:\\b.mp4"})), 0);
  for (const std::string& line : LogLines(log)) EXPECT_NE(line.rfind("URL: ", 0), 0u) << line;
  Send(WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({L"C:\\one.mp4"})), 0);
  EXPECT_STREQ(window->Ui()->FilePath(), L"C:\\one.mp4");
  EXPECT_EQ(window->Ui()->clipKind, kClipFromFile);
  bool opened = false;
  for (const std::string& line : LogLines(log)) opened |= line == "URL: C:\\one.mp4";
  EXPECT_TRUE(opened);
}

bool Enabled(HMENU menu, UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED)) == 0; }

// Menu items each player state leaves enabled, by the clip's source type.
TEST_F(MainWindowTest, MenuStatesFollowThePlayerState) {
  struct Row {
    uint32_t sourceType, state;
    bool clipInfo, loop;
  };
  const Row rows[] = {
      {kSourceFile, 2, true, true},      {kSourceDownload, 2, true, false}, {kSourceStream, 2, true, false},
      {kSourceFile, 7, false, false},    {kSourceDownload, 7, false, false},
  };
  HMENU menu = window->Menu();
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.sourceType) + "/" + std::to_string(r.state));
    ClipProperties p = {};
    p.sourceType = r.sourceType;
    p.contentFlags = kContentAudio | kContentVideo;
    p.endMs = p.durationMs = 5000;
    window->SetProgressRecord(&p);
    window->SetPlayerState(r.state);
    EXPECT_EQ(window->PlayerState(), r.state);
    EXPECT_EQ(Enabled(menu, cmd::kClipInfo), r.clipInfo);
    EXPECT_EQ(Enabled(menu, cmd::kLoop), r.loop);
    if (r.state == 7) {
      EXPECT_FALSE(Enabled(menu, cmd::kAddToFavorites));
      EXPECT_EQ(window->LoopFlag(), 0u);
    }
  }
}

// Accelerator table 4: Alt+/, Ctrl+A, Ctrl+L, Ctrl+O, F1, and no Ctrl+S.
TEST_F(MainWindowTest, TheAcceleratorTableHasNoCtrlS) {
  HACCEL table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(4));
  ASSERT_NE(table, nullptr);
  ACCEL entries[16] = {};
  const int n = CopyAcceleratorTableW(table, entries, 16);
  ASSERT_EQ(n, 5);
  std::vector<std::string> got;
  for (int i = 0; i < n; ++i)
    got.push_back(std::to_string(entries[i].fVirt & ~0x80) + " " + std::to_string(entries[i].key) + " " +
                  std::to_string(entries[i].cmd));
  const std::vector<std::string> want = {
      std::to_string(FALT | FNOINVERT) + " 47 40017",
      std::to_string(FVIRTKEY | FCONTROL | FNOINVERT) + " 65 41101",
      std::to_string(FVIRTKEY | FCONTROL | FNOINVERT) + " 76 40034",
      std::to_string(FVIRTKEY | FCONTROL | FNOINVERT) + " 79 41100",
      std::to_string(FVIRTKEY | FNOINVERT) + " 112 41131",
  };
  EXPECT_EQ(got, want);
  DestroyAcceleratorTable(table);
}

std::wstring g_saveName;
BOOL WINAPI ChooseSaveName(LPOPENFILENAMEW ofn) {
  wcsncpy(ofn->lpstrFile, g_saveName.c_str(), ofn->nMaxFile - 1);
  return TRUE;
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST_F(MainWindowTest, SaveAsMovesCopiesWhenTheMoveFailsAndReportsADoubleFailure) {
  DesktopController* ui = window->Ui();
  ui->saveDialog = ChooseSaveName;
  const std::wstring base = TempPath(L"download");
  const std::wstring source = base + L".tmp";
  WriteSettingStringById(instance, shell::kInstance, base.c_str());
  WriteSettingStringById(instance, shell::kLastTitle, L"Saved title");
  auto makeSource = [&] {
    HANDLE file = CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, "clip", 4, &written, nullptr);
    CloseHandle(file);
  };

  // Moved.
  makeSource();
  g_saveName = TempPath(L"moved.mp4");
  DeleteFileW(g_saveName.c_str());
  EXPECT_EQ(ui->SaveAs(nullptr), 1);
  EXPECT_TRUE(Exists(g_saveName));
  EXPECT_FALSE(Exists(source));
  EXPECT_STREQ(ui->FilePath(), g_saveName.c_str());
  EXPECT_EQ(ui->savedFlag, 1u);
  EXPECT_STREQ(ui->Title(), L"Saved title");
  DeleteFileW(g_saveName.c_str());

  // Held open without delete sharing: the move fails, the copy works.
  makeSource();
  g_saveName = TempPath(L"copied.mp4");
  DeleteFileW(g_saveName.c_str());
  {
    HANDLE holder = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    ui->savedFlag = 0;
    EXPECT_EQ(ui->SaveAs(nullptr), 1);
    CloseHandle(holder);
  }
  EXPECT_EQ(ReadFileBytes(g_saveName), "clip");
  EXPECT_EQ(ui->savedFlag, 1u);
  DeleteFileW(g_saveName.c_str());
  DeleteFileW(source.c_str());

  // Neither: no source. Failure, said in the log, and the fields unchanged.
  ui->savedFlag = 0;
  g_saveName = TempPath(L"never.mp4");
  EXPECT_EQ(ui->SaveAs(nullptr), 0);
  EXPECT_FALSE(Exists(g_saveName));
  EXPECT_EQ(ui->savedFlag, 0u);
  bool reported = false;
  for (const std::string& line : LogLines(log)) reported |= line.find("could not be saved") != std::string::npos;
  EXPECT_TRUE(reported);
}

// The UI controller's calls, recorded, with the answers a user would give:
// every dialog chooses something.
std::vector<std::wstring> g_boxes;
int WINAPI RecordBox(HWND, LPCWSTR text, LPCWSTR, UINT) {
  g_boxes.push_back(text);
  return IDOK;
}

class RecordingUi : public DesktopController {
 public:
  explicit RecordingUi(HINSTANCE instance) : DesktopController(instance) { messageBox = RecordBox; }
  int OpenFile() override {
    calls.push_back("OpenFile");
    SetClipSource(kClipFromFile, L"C:\\chosen.mp4");
    return 1;
  }
  int SaveAs(const ClipProperties*) override {
    calls.push_back("SaveAs");
    SetClipSource(kClipFromFile, L"C:\\saved.mp4");
    SetTitle(L"Saved clip");
    return 1;
  }
  void OpenShowcase() override { calls.push_back("OpenShowcase"); }
  int OpenLocation() override {
    calls.push_back("OpenLocation");
    SetClipSource(kClipFromLocation, L"rtsp://127.0.0.1/live");
    return 1;
  }
  void ShowAbout() override { calls.push_back("ShowAbout"); }
  int32_t ShowMediaBuffer() override {
    calls.push_back("ShowMediaBuffer");
    return 7000;
  }
  HWND FindMainWindow() override {
    calls.push_back("FindMainWindow");
    return nullptr;
  }
  void OpenHelp() override { calls.push_back("OpenHelp"); }
  int EnableDownloadCommands(HMENU menu) override {
    calls.push_back("EnableDownloadCommands");
    return DesktopController::EnableDownloadCommands(menu);
  }
  int AskResumeDownload(HMENU) override {
    calls.push_back("AskResumeDownload");
    return 1;
  }
  void ClearSuspendedDownload(HMENU) override { calls.push_back("ClearSuspendedDownload"); }
  int ShowFavoriteClips() override {
    calls.push_back("ShowFavoriteClips");
    SetClipSource(kClipFromFile, L"C:\\favourite.mp4");
    return 1;
  }
  int ShowRecentClips() override {
    calls.push_back("ShowRecentClips");
    SetClipSource(kClipFromLocation, L"http://127.0.0.1/recent.mp4");
    return 1;
  }
  void ShowClipInfo(const wchar_t* const[5]) override { calls.push_back("ShowClipInfo"); }
  std::vector<std::string> calls;
};

// A list file holds the text in UTF-16.
bool Holds(const std::string& bytes, const std::wstring& text) {
  return bytes.find(std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t))) !=
         std::string::npos;
}

class CommandTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    auto recording = std::make_unique<RecordingUi>(instance);
    ui = recording.get();
    window->SetUi(std::move(recording));
    // The stores write into a folder of their own from here on.
    folder = TempPath(L"commands\\");
    CreateDirectoryW(folder.c_str(), nullptr);
    DeleteFileW((folder + L"Favorites.dat").c_str());
    DeleteFileW((folder + L"History.dat").c_str());
    WriteSettingStringById(instance, shell::kKRData, folder.c_str());
  }
  void TearDown() override {
    DeleteFileW((folder + L"Favorites.dat").c_str());
    DeleteFileW((folder + L"History.dat").c_str());
    RemoveDirectoryW(folder.c_str());
    MainWindowTest::TearDown();
  }
  // The addresses the controller was asked to open, in order.
  std::vector<std::string> Opened() {
    std::vector<std::string> out;
    for (const std::string& line : LogLines(log))
      if (line.rfind("URL: ", 0) == 0) out.push_back(line.substr(5));
    return out;
  }
  RecordingUi* ui = nullptr;
  std::wstring folder;
};

TEST_F(CommandTest, EveryCommandReachesItsCall) {
  WriteSettingStringById(instance, shell::kLastDownload, L"http://127.0.0.1/suspended.mp4");
  struct Row {
    UINT id;
    std::vector<std::string> calls;
    const char* opened;  // the address then opened, or null
  };
  const Row rows[] = {
      {cmd::kAbout, {"ShowAbout"}, nullptr},
      {cmd::kOpenLocation, {"OpenLocation"}, "rtsp://127.0.0.1/live"},
      {cmd::kOpen, {"OpenFile"}, "C:\\chosen.mp4"},
      {cmd::kOptions, {"ShowMediaBuffer"}, nullptr},
      {cmd::kFindMainWindow, {"FindMainWindow"}, nullptr},
      {cmd::kAddToFavorites, {}, nullptr},
      {cmd::kClipInfo, {"ShowClipInfo"}, nullptr},
      {cmd::kShowcase, {"OpenShowcase"}, nullptr},
      {cmd::kNoEffect41110, {}, nullptr},
      {cmd::kNoEffect41112, {}, nullptr},
      {cmd::kNoEffect41130, {}, nullptr},
      {cmd::kSave, {"SaveAs"}, nullptr},
      {cmd::kSuspend, {"EnableDownloadCommands"}, nullptr},
      {cmd::kResume, {"AskResumeDownload"}, "http://127.0.0.1/suspended.mp4"},
      {cmd::kFavorites, {"ShowFavoriteClips"}, "C:\\favourite.mp4"},
      {cmd::kRecent, {"ShowRecentClips"}, "http://127.0.0.1/recent.mp4"},
      {cmd::kHelp, {"OpenHelp"}, nullptr},
      {cmd::kClearClip, {"ClearSuspendedDownload"}, nullptr},
      {12345, {}, nullptr},
  };
  HMENU menu = window->Menu();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.id);
    ui->calls.clear();
    window->SetPlayerState(2);
    const size_t before = Opened().size();
    EXPECT_EQ(Send(WM_COMMAND, r.id, 0), 0);
    EXPECT_EQ(ui->calls, r.calls);
    const std::vector<std::string> opened = Opened();
    if (r.opened) {
      ASSERT_EQ(opened.size(), before + 1);
      EXPECT_EQ(opened.back(), r.opened);
    } else {
      EXPECT_EQ(opened.size(), before);
    }
    // Suspend and Clear stop the player through the controller.
    if (r.id == cmd::kSuspend || r.id == cmd::kClearClip) {
      EXPECT_EQ(window->PlayerState(), kPlayerStopped);
    }
  }
  // Save greys itself and Clear Clip, enables Add to Favorites and takes the
  // saved file as a file clip.
  UiController::EnableMenuCommand(menu, cmd::kSave, true);
  UiController::EnableMenuCommand(menu, cmd::kClearClip, true);
  UiController::EnableMenuCommand(menu, cmd::kAddToFavorites, false);
  ui->clipKind = kClipFromLocation;
  Send(WM_COMMAND, cmd::kSave, 0);
  EXPECT_FALSE(Enabled(menu, cmd::kSave));
  EXPECT_FALSE(Enabled(menu, cmd::kClearClip));
  EXPECT_TRUE(Enabled(menu, cmd::kAddToFavorites));
  EXPECT_EQ(ui->clipKind, kClipFromFile);
  // Add to Favorites took the file opened before it; Save put the saved
  // file into the history.
  EXPECT_TRUE(Holds(ReadFileBytes(folder + L"Favorites.dat"), L"C:\\chosen.mp4"));
  EXPECT_TRUE(Holds(ReadFileBytes(folder + L"History.dat"), L"C:\\saved.mp4"));
  // Exit posts WM_CLOSE to the window.
  Send(WM_COMMAND, cmd::kExit, 0);
  MSG msg = {};
  ASSERT_TRUE(PeekMessageW(&msg, window->Window(), WM_CLOSE, WM_CLOSE, PM_REMOVE));
  EXPECT_EQ(msg.message, UINT(WM_CLOSE));
}

// Accelerator table 4 through TranslateAccelerator, as the message loop
// runs it: each key reaches its command's call, Ctrl+S none.
TEST_F(CommandTest, AcceleratorsReachTheirCalls) {
  HACCEL table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(4));
  ASSERT_NE(table, nullptr);
  struct Row {
    UINT message;
    WPARAM key;
    BYTE held;  // the modifier key held down, or 0
    LPARAM flags;
    std::vector<std::string> calls;
  };
  const Row rows[] = {
      {WM_KEYDOWN, 'O', VK_CONTROL, 0, {"OpenFile"}},
      {WM_KEYDOWN, 'L', VK_CONTROL, 0, {"OpenLocation"}},
      {WM_KEYDOWN, VK_F1, 0, 0, {"OpenHelp"}},
      {WM_SYSCHAR, '/', VK_MENU, 0x20000000, {"ShowAbout"}},  // Alt held: the context bit
      {WM_KEYDOWN, 'S', VK_CONTROL, 0, {}},
      {WM_KEYDOWN, 'O', 0, 0, {}},
      {WM_SYSCHAR, '/', 0, 0, {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::to_string(r.key) + " with " + std::to_string(r.held));
    BYTE keys[256] = {};
    if (r.held) keys[r.held] = 0x80;
    ASSERT_TRUE(SetKeyboardState(keys));
    ui->calls.clear();
    window->SetPlayerState(2);
    MSG msg = {window->Window(), r.message, r.key, 1 | r.flags, 0, {0, 0}};
    const int translated = TranslateAcceleratorW(window->Window(), table, &msg);
    EXPECT_EQ(translated != 0, !r.calls.empty());
    EXPECT_EQ(ui->calls, r.calls);
  }
  BYTE keys[256] = {};
  SetKeyboardState(keys);
  DestroyAcceleratorTable(table);
  // Ctrl+A adds the open clip to the favourites (the item enabled, as while
  // a clip plays; a grey item's key is swallowed).
  UiController::EnableMenuCommand(window->Menu(), cmd::kAddToFavorites, true);
  ui->SetClipSource(kClipFromFile, L"C:\\accelerated.mp4");
  BYTE control[256] = {};
  control[VK_CONTROL] = 0x80;
  SetKeyboardState(control);
  table = LoadAcceleratorsW(instance, MAKEINTRESOURCEW(4));
  MSG msg = {window->Window(), WM_KEYDOWN, 'A', 1, 0, {0, 0}};
  EXPECT_NE(TranslateAcceleratorW(window->Window(), table, &msg), 0);
  SetKeyboardState(keys);
  DestroyAcceleratorTable(table);
  EXPECT_TRUE(Holds(ReadFileBytes(folder + L"Favorites.dat"), L"C:\\accelerated.mp4"));
}

}  // namespace
