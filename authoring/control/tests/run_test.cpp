// The control on the media engine's test double: creation of the engine
// with the window, starts and stops with the engine's call log, the run
// state and timers, and the graph events the double posts. The control is
// the test program's own copy (its class handed to Wine's AtlAxWin host
// through the process's class table), so its run state, timers and display
// size can be read; the double is registered in this test's Wine prefix
// only.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "atl/module.h"
#include "atl/object.h"
#include "com_client.h"
#include "command.h"
#include "control.h"
#include "control_testing.h"
#include "engine_double.h"
#include "host_testing.h"
#include "peers.h"

namespace {

using E = EventSink::Event;
using Log = std::vector<std::string>;

DWORD RegisterDouble(bool unregister) {
  return ::Regsvr32(WindowsPath(ENGINE_DOUBLE_DLL), unregister);
}

// The double registered for the whole program: every control window needs
// an engine.
class DoubleRegistration : public testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(RegisterDouble(false), 0u); }
  void TearDown() override { EXPECT_EQ(RegisterDouble(true), 0u); }
};
const auto* const kRegistration = testing::AddGlobalTestEnvironment(new DoubleRegistration);

// The double's exports, in the module COM loads.
struct Double {
  HMODULE module = LoadLibraryA(WindowsPath(ENGINE_DOUBLE_DLL).c_str());
  template <class F>
  F Export(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  }
  EngineDoubleResetFn Reset = Export<EngineDoubleResetFn>("EngineDoubleReset");
  EngineDoubleSetFactsFn SetFacts = Export<EngineDoubleSetFactsFn>("EngineDoubleSetFacts");
  EngineDoubleAnswerFn Answer = Export<EngineDoubleAnswerFn>("EngineDoubleAnswer");
  EngineDoubleQueueEventFn QueueEvent = Export<EngineDoubleQueueEventFn>("EngineDoubleQueueEvent");
  EngineDoubleReadLogFn ReadLog = Export<EngineDoubleReadLogFn>("EngineDoubleReadLog");
  EngineDoubleReadSeenFn ReadSeen = Export<EngineDoubleReadSeenFn>("EngineDoubleReadSeen");

  bool Loaded() const { return module && Reset && SetFacts && Answer && QueueEvent && ReadLog && ReadSeen; }
  // The calls since the last read, without the empty event queue's answers.
  Log Calls() {
    std::string text(static_cast<size_t>(ReadLog(nullptr, 0, FALSE)), '\0');
    ReadLog(text.data(), static_cast<LONG>(text.size()), TRUE);
    Log lines;
    std::istringstream in(text.c_str());
    for (std::string line; std::getline(in, line);)
      if (line.find("GetDSEvent none") == std::string::npos) lines.push_back(line);
    return lines;
  }
  EngineDoubleSeen Seen() {
    auto seen = std::make_unique<EngineDoubleSeen>();
    ReadSeen(seen.get());
    return *seen;
  }
};

class Run : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_));
    ASSERT_TRUE(double_.Loaded());
    double_.Reset();
    ASSERT_TRUE(factory_.Registered());
  }
  void TearDown() override {
    factory_.connection.reset();
    container_.reset();
    double_.Reset();
    if (SUCCEEDED(com_)) CoUninitialize();
  }
  // The control in its host; its window made (or refused) on the way.
  void Host() {
    container_ = std::make_unique<Container>(kProgramControlClass, RECT{700, 560, 1060, 820},
                                             RECT{20, 20, 340, 240}, RGB(0x40, 0xA0, 0xD0));
  }
  // Hosted with the engine, the creation's calls and events put aside.
  void Start() {
    Host();
    ASSERT_NE(Control(), nullptr);
    ASSERT_NE(container_->ControlWindow(), nullptr);
    double_.Calls();
    sink_.events.clear();
  }
  CKRActiveCtrl* Control() { return factory_.made; }
  IDispatch* D() { return container_->Dispatch(); }
  HRESULT Method(DISPID id) {
    Call c;
    Invoke(D(), id, DISPATCH_METHOD, {}, &c);
    EXPECT_EQ(c.hr, S_OK);
    return static_cast<HRESULT>(Result(c));
  }
  // A media file source of this size (15 frames/s, 10 s, audio and video).
  void FileOf(int width, int height) {
    EngineDoubleFacts facts = {};
    facts.sourceInfo.width = width;
    facts.sourceInfo.height = height;
    facts.sourceInfo.bitsPerPixel = 24;
    facts.sourceInfo.frameRate = 15.0f;
    facts.sourceInfo.duration = 10;
    facts.sourceInfo.audioStreams = 1;
    facts.sourceInfo.videoStreams = 1;
    double_.SetFacts(&facts);
    ASSERT_EQ(Put(D(), 12, V(0)), S_OK);
    ASSERT_EQ(Put(D(), 17, VText(clip_)), S_OK);
  }
  void Capture(int width, int height, int movedWidth = 0, int movedHeight = 0) {
    EngineDoubleFacts facts = {};
    facts.capture = {width, height, 24, 15.0f};
    facts.movedCapture = {movedWidth, movedHeight, 24, 15.0f};
    double_.SetFacts(&facts);
    ASSERT_EQ(Put(D(), 12, V(1)), S_OK);
  }

  HRESULT com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Double double_;
  EventSink sink_{DIID__DScrivelControlEvents};
  ProgramControl factory_{&sink_};
  std::unique_ptr<Container> container_;
  atl::Bstr clip_{L"C:\\clips\\clip.avi"};
};

const E kStart{1, {}};
const E kStop{2, {}};

TEST_F(Run, WindowCreationMakesTheEngineAndTakesItsDefaults) {
  Host();
  ASSERT_NE(container_->ControlWindow(), nullptr);
  EXPECT_EQ(double_.Calls(), (Log{"Engine.Created", "Config.ResetToDefaults"}));
  EXPECT_TRUE(sink_.events.empty());
  EXPECT_EQ(Get(D(), 1), L"128") << "the engine's encoding width";
  EXPECT_EQ(Get(D(), 19), L"23040") << "the engine's bandwidth";
  EXPECT_EQ(Get(D(), 15), L"160");
  EXPECT_EQ(Get(D(), 24), L"Factory Defaults");
  const std::wstring output = Get(D(), 11);
  ASSERT_GE(output.size(), 19u);
  EXPECT_EQ(output.substr(output.size() - 19), L"\\Output_default.mp4");
  EXPECT_EQ(Method(83), S_OK) << "ResetToDefaults";
  EXPECT_EQ(double_.Calls(), (Log{"Config.ResetToDefaults"}));
}

// Without an engine the window is not made: the message (pressed away as
// a user would), KRError 0x800A03F9, and no control window.
TEST_F(Run, NoEngineNoWindow) {
  const struct {
    const char* what;
    bool progIdOnly;  // the ProgID names a class that no server serves
  } cases[] = {{"nothing under the ProgID", false}, {"a ProgID without a class factory", true}};
  ASSERT_EQ(RegisterDouble(true), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sink_.events.clear();
    if (c.progIdOnly) {
      ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"KRMedia.KRMedia.1\\CLSID", REG_SZ,
                             L"{5E1F0A22-7B39-4C55-9D61-2A8B4C0E9F31}", 0),
                ERROR_SUCCESS);
    }
    {
      DialogCloser user(L"Error occurred in KRActive", 10000);
      Host();
      EXPECT_TRUE(user.Seen()) << "no message box";
    }
    EXPECT_EQ(container_->ControlWindow(), nullptr);
    EXPECT_EQ(sink_.events,
              (std::vector<E>{KRError(0x800A03F9, L"The Medlark component is not registered")}));
    factory_.connection.reset();
    container_.reset();
    if (c.progIdOnly) RegDeleteTreeW(HKEY_CLASSES_ROOT, L"KRMedia.KRMedia.1");
  }
  EXPECT_EQ(double_.Calls(), Log{}) << "no engine was made";
  ASSERT_EQ(RegisterDouble(false), 0u);
}

// Refusals change nothing and call no engine operation.
TEST_F(Run, RefusedStartsAndStops) {
  Start();
  EXPECT_EQ(static_cast<uint32_t>(Method(45)), 0x800A0408u) << "StopPlaying first";
  EXPECT_EQ(sink_.events,
            (std::vector<E>{KRError(0x800A0408, L"The control must be playing, it should not be stopped")}));
  EXPECT_EQ(double_.Calls(), Log{});

  sink_.events.clear();
  EXPECT_EQ(static_cast<uint32_t>(Method(44)), 0x800A03EEu) << "a file source without a name";
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03EE, L"Bad source selection")}));
  EXPECT_EQ(Control()->RunState(), 1);
  EXPECT_EQ(double_.Calls(), Log{});

  FileOf(176, 144);
  ASSERT_EQ(Method(44), S_OK);
  ASSERT_EQ(Control()->RunState(), 3);
  const bool progress = Control()->TimerRunning(2), stream = Control()->TimerRunning(3);
  double_.Calls();
  sink_.events.clear();
  EXPECT_EQ(static_cast<uint32_t>(Method(44)), 0x800A0407u) << "StartPlaying while running";
  EXPECT_EQ(sink_.events,
            (std::vector<E>{KRError(0x800A0407, L"The control must be stopped, it should not be playing")}));
  EXPECT_EQ(double_.Calls(), Log{});
  EXPECT_EQ(Control()->RunState(), 3);
  EXPECT_EQ(Control()->TimerRunning(2), progress);
  EXPECT_EQ(Control()->TimerRunning(3), stream);
}

// Previews and encodings of a media file, each from a fresh control.
TEST_F(Run, FileStartsWithTheEngineLog) {
  const struct {
    const char* what;
    bool encoding;
    int fileWidth, fileHeight;
    int encWidth, encHeight;
    Log calls;
    SIZE display;
  } cases[] = {
      {"640 x 480 preview",
       false,
       640,
       480,
       176,
       144,
       {"File.GetSourceFileInfo C:\\clips\\clip.avi", "File.SetSourceFileName C:\\clips\\clip.avi",
        "Config.SetEventWindow window 0x5F4", "File.SetPreviewType 2",
        "Config.SetDestinationWindow null 0,0,352,288 0 0x46000000", "File.StartPreview 1"},
       {352, 288}},
      {"176 x 144 preview",
       false,
       176,
       144,
       128,
       96,
       {"File.GetSourceFileInfo C:\\clips\\clip.avi", "File.SetSourceFileName C:\\clips\\clip.avi",
        "Config.SetEventWindow window 0x5F4", "File.SetPreviewType 2",
        "Config.SetDestinationWindow null 0,0,176,144 0 0x46000000", "File.StartPreview 1"},
       {176, 144}},
      {"176 x 144 file encoded at 320 x 240",
       true,
       176,
       144,
       320,
       240,
       {"File.GetSourceFileInfo C:\\clips\\clip.avi", "File.SetSourceFileName C:\\clips\\clip.avi",
        "Config.SetEventWindow window 0x5F4", "File.SetPreviewType 2", "Config.ConfigVideoEncoder 176x144",
        "Config.ConfigAudioEncoder", "Config.ConfigOutput 1 176x144",
        "Config.SetDestinationWindow null 0,0,176,144 0 0x46000000", "File.StartEncode 1"},
       {176, 144}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start();
    ASSERT_EQ(Put(D(), 1, V(c.encWidth)), S_OK);
    ASSERT_EQ(Put(D(), 3, V(c.encHeight)), S_OK);
    ASSERT_EQ(Put(D(), 14, VBool(c.encoding)), S_OK);
    FileOf(c.fileWidth, c.fileHeight);
    EXPECT_EQ(Method(44), S_OK);
    EXPECT_EQ(double_.Calls(), c.calls);
    EXPECT_EQ(sink_.events, std::vector<E>{kStart});
    EXPECT_EQ(Control()->RunState(), 3);
    EXPECT_EQ(Control()->DisplaySize().cx, c.display.cx);
    EXPECT_EQ(Control()->DisplaySize().cy, c.display.cy);
    if (c.encoding) {
      EXPECT_EQ(Get(D(), 1), L"176");
      EXPECT_EQ(Get(D(), 3), L"144");
      const EngineDoubleSeen seen = double_.Seen();
      EXPECT_EQ(seen.records.video.width, 176);
      EXPECT_EQ(seen.records.video.height, 144);
      EXPECT_EQ(seen.records.output.width, 176);
      EXPECT_EQ(seen.records.output.height, 144);
      EXPECT_EQ(seen.records.video.sourceFrameRate, 15.0f) << "the file's frame rate";
    }
    factory_.connection.reset();
    container_.reset();
    double_.Reset();
  }
}

// The timers and the statistics window an encoding starts with, by source,
// output and statistics settings.
TEST_F(Run, EncodingTimersAndStatisticsWindow) {
  const struct {
    const char* what;
    bool capture;
    LONG mediaOut, refresh, window;
    int state;
    bool statistics, streamTime;
    size_t entries;
    std::vector<E> errors;
  } cases[] = {
      {"capture, 500 of 5000 ms", true, 1, 500, 5000, 3, true, false, 10, {}},
      {"file, 500 of 5000 ms: no window", false, 1, 500, 5000, 3, true, false, 0, {}},
      {"refresh 100 refused",
       true,
       1,
       100,
       5000,
       3,
       false,
       true,
       0,
       {KRError(0x800A0427, L"Wrong statistic refresh rate value")}},
      {"window 1000 ms refused",
       true,
       1,
       500,
       1000,
       3,
       false,
       true,
       0,
       {KRError(0x800A0428, L"Wrong statistics window duration")}},
      {"stream output waits for a player", true, 4, 500, 5000, 2, false, false, 0, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Start();
    ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
    ASSERT_EQ(Put(D(), 9, V(c.mediaOut)), S_OK);
    ASSERT_EQ(Put(D(), 39, V(c.refresh)), S_OK);
    ASSERT_EQ(Put(D(), 40, V(c.window)), S_OK);
    if (c.capture)
      Capture(160, 120);
    else
      FileOf(176, 144);
    sink_.events.clear();
    EXPECT_EQ(Method(44), S_OK);
    std::vector<E> expected = c.errors;
    expected.insert(expected.begin(), kStart);
    EXPECT_EQ(sink_.events, expected);
    EXPECT_EQ(Control()->RunState(), c.state);
    EXPECT_EQ(Control()->TimerRunning(1), c.statistics);
    EXPECT_EQ(Control()->TimerRunning(3), c.streamTime);
    EXPECT_TRUE(Control()->TimerRunning(2)) << "the skin's progress";
    EXPECT_EQ(Control()->StatisticsWindowEntries(), c.entries);
    factory_.connection.reset();
    container_.reset();
    double_.Reset();
  }
}

TEST_F(Run, CaptureSizeTheEngineMovedIsAdoptedBeforeStart) {
  Start();
  ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
  ASSERT_EQ(Put(D(), 13, V(1)), S_OK);  // the capture is shown
  ASSERT_EQ(Put(D(), 10, V(3)), S_OK);
  Capture(160, 120, 176, 144);
  double_.Answer("Live.StartEncode", static_cast<HRESULT>(0x800A041E));
  double_.Calls();
  sink_.events.clear();
  EXPECT_EQ(Method(44), S_OK);
  EXPECT_EQ(sink_.events, (std::vector<E>{{12, {}}, kStart})) << "CaptureDimChanged, then Start";
  EXPECT_EQ(Get(D(), 15), L"176");
  EXPECT_EQ(Get(D(), 16), L"144");
  EXPECT_EQ(Control()->DisplaySize().cx, 176);
  EXPECT_EQ(double_.Calls(),
            (Log{"Live.GetConfigVideoCapture", "Config.SetEventWindow window 0x5F4",
                 "Config.SetDestinationWindow null 0,0,160,120 0 0x46000000", "Live.SetPreviewType 1",
                 "Config.ConfigVideoEncoder 128x96", "Config.ConfigAudioEncoder",
                 "Config.ConfigOutput 1 128x96", "Live.StartEncode 1", "Live.GetConfigVideoCapture",
                 "Config.SetDestinationWindow null 0,0,176,144 0 0x46000000", "Live.StartEncode 1"}));
  EXPECT_EQ(Control()->RunState(), 3);
}

// A streamed run: Start leaves state 2; a connected player starts the
// encoding; a pause stops it with the clients kept; StopPlaying fires Stop.
TEST_F(Run, StreamedRunFollowsItsPlayers) {
  Start();
  ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
  ASSERT_EQ(Put(D(), 9, V(4)), S_OK);
  FileOf(176, 144);
  ASSERT_EQ(Method(44), S_OK);
  EXPECT_EQ(Control()->RunState(), 2);
  double_.Calls();
  sink_.events.clear();

  double_.QueueEvent(32773, 0, 0, nullptr, 0);
  Pump(100);
  EXPECT_EQ(sink_.events, (std::vector<E>{{4, {}}}));
  EXPECT_EQ(Control()->RunState(), 3);
  EXPECT_TRUE(Control()->TimerRunning(1));
  EXPECT_EQ(double_.Calls(), (Log{"File.GetDSEvent 32773", "File.StartEncode 1", "File.FreeDSEvent 32773"}));

  sink_.events.clear();
  double_.QueueEvent(32772, 0, 0, nullptr, 0);
  Pump(100);
  EXPECT_EQ(sink_.events, (std::vector<E>{{5, {}}}));
  EXPECT_EQ(Control()->RunState(), 2);
  EXPECT_FALSE(Control()->TimerRunning(1));
  EXPECT_EQ(double_.Calls(), (Log{"File.GetDSEvent 32772", "File.Stop", "File.FreeDSEvent 32772"}));

  sink_.events.clear();
  EXPECT_EQ(Method(45), S_OK);
  EXPECT_EQ(sink_.events, std::vector<E>{kStop});
  EXPECT_EQ(Control()->RunState(), 1);
  EXPECT_EQ(double_.Calls(), Log{"File.Stop"});
}

// A file output: StopPlaying stops the graph, Stop comes with the
// engine's word that the file is written (32778).
TEST_F(Run, FileOutputStopsWhenTheFileIsWritten) {
  Start();
  ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
  FileOf(176, 144);
  ASSERT_EQ(Method(44), S_OK);
  sink_.events.clear();
  double_.Calls();
  EXPECT_EQ(Method(45), S_OK);
  EXPECT_EQ(double_.Calls(), Log{"File.Stop"});
  EXPECT_TRUE(sink_.events.empty());
  EXPECT_EQ(Control()->RunState(), 1);
  EXPECT_FALSE(Control()->TimerRunning(1));
  double_.QueueEvent(32778, 0, 0, nullptr, 0);
  Pump(100);
  EXPECT_EQ(sink_.events, std::vector<E>{kStop});
  EXPECT_FALSE(Control()->TimerRunning(2));
}

std::vector<unsigned char> ClientRecord(uint32_t word, const char* address, const char* text,
                                        size_t bytes = 292) {
  std::vector<unsigned char> r(292, 0);
  std::memcpy(r.data(), &word, 4);
  std::memcpy(r.data() + 4, address, std::min<size_t>(std::strlen(address), 32));
  std::memcpy(r.data() + 36, text, std::min<size_t>(std::strlen(text), 256));
  r.resize(bytes);
  return r;
}

// Events the double posts during a file encoding, one row at a time.
TEST_F(Run, GraphEventsBecomeTheControlsEvents) {
  const std::string address32(32, '9');
  // An output file in a folder that exists (the name is checked by a trial
  // create).
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  const std::wstring disk = L"clip.mp4 could not be written to " + std::wstring(folder) +
                            L"\\.  The disk is full.  Try removing files from the destination, or choosing a "
                            L"different output destination.";
  struct Row {
    const char* what;
    LONG code;
    LONG_PTR p1, p2;
    std::vector<unsigned char> block;
    std::vector<E> events;
  };
  const Row rows[] = {
      {"none pending", 0, 0, 0, {}, {}},
      {"security check",
       32774,
       0,
       292,
       ClientRecord(12, "127.0.0.1", "ID: pw=secret\n"),
       {{6, {L"12", L"ID: pw=secret\n", L"127.0.0.1"}}}},
      {"security check, empty record",
       32774,
       0,
       0,
       {},
       {KRError(0x800A040A, L"Error passing the SECURITY CHECK event")}},
      {"security check cut by its length",
       32774,
       0,
       20,
       ClientRecord(3, address32.c_str(), "", 20),
       {{6, {L"3", L"", L"9999999999999999"}}}},
      {"client status", 32775, 0, 292, ClientRecord(2, "10.1.2.3", ""), {{7, {L"2", L"10.1.2.3"}}}},
      {"client status, empty record",
       32775,
       0,
       0,
       {},
       {KRError(0x800A040B, L"Error passing the CLIENT STATUS event")}},
      {"port error", 32776, 0, 5, {'7', '0', '7', '0', 0}, {{8, {L"7070"}}}},
      {"port error without terminator", 32776, 0, 3, {'5', '5', '4'}, {{8, {L"554"}}}},
      {"port error, empty", 32776, 0, 0, {}, {KRError(0x800A040C, L"Error passing the PORT ERROR event")}},
      {"custom 2", 32789, 1, 0, {}, {{13, {L"2", L"1", L""}}}},
      {"custom 3 with 7", 32790, 7, 0, {}, {{13, {L"3", L"7", L""}}}},
      {"disk space low",
       32788,
       4,
       static_cast<LONG>(0x800A1389),
       {},
       {KRError(0x800A1389, L"Unable to write file.  Insufficient temporary disk space.")}},
      {"disk full", 32788, 4, static_cast<LONG>(0x800A138A), {}, {KRError(0x800A138A, disk), kStop}},
      {"another error kind", 32788, 2, static_cast<LONG>(0x800A138A), {}, {}},
      {"a code the control does not take", 2, 0, 0, {}, {}},
  };
  Start();
  ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
  atl::Bstr output((std::wstring(folder) + L"\\clip.mp4").c_str());
  ASSERT_EQ(Put(D(), 11, VText(output)), S_OK);
  FileOf(176, 144);
  ASSERT_EQ(Method(44), S_OK);
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    sink_.events.clear();
    double_.Calls();
    if (r.code)
      double_.QueueEvent(r.code, r.p1, r.p2, r.block.empty() ? nullptr : r.block.data(),
                         static_cast<LONG>(r.block.size()));
    else
      PostMessageW(container_->ControlWindow(), 0x5F4, 0, 0);
    Pump(100);
    EXPECT_EQ(sink_.events, r.events);
    const Log taken = r.code ? Log{"File.GetDSEvent " + std::to_string(r.code),
                                   "File.FreeDSEvent " + std::to_string(r.code)}
                             : Log{};
    EXPECT_EQ(double_.Calls(), taken) << "every event taken is handed back";
  }
  EXPECT_EQ(double_.Seen().blocksHeld, 0) << "every block freed";

  // The source's end stops the run; the file's Stop comes with 32778.
  sink_.events.clear();
  double_.QueueEvent(1, 0, 0, nullptr, 0);
  Pump(100);
  EXPECT_TRUE(sink_.events.empty());
  EXPECT_EQ(double_.Calls(), (Log{"File.GetDSEvent 1", "File.Stop", "File.FreeDSEvent 1"}));
  EXPECT_EQ(Control()->RunState(), 1);
}

}  // namespace
