// The encoder view against a recording dispatch double in place of the
// control, with doubles of the main frame and the summary view: the
// snapshot orders, the registry re-apply, the error table (its message
// boxes read and closed by a watcher thread), the events and the timer.
#include "scrivel/enc_active_view.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "recording_dispatch.h"
#include "view_doubles.h"

namespace {

using namespace scrivel;

// A view over the recording double, without a window: what it does is
// what the double, the frame and the summary see.
struct Fixture {
  Fixture() : view(GetModuleHandleW(nullptr), frame, summary) {
    view.Control().Driver().Attach(&control);
    sink = appf::EventSink::Create();
    view.ConnectEvents(*sink.Get());
  }
  ~Fixture() {
    sink->Unadvise();
    view.Control().Driver().Release();
  }
  // Fires an event as the control does (arguments in reverse order).
  void Fire(DISPID id, std::vector<atl::Variant> args = {}) {
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(it->Get());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    frame.Pump();
  }
  RecordingDispatch control;
  FrameDouble frame;
  SummaryDouble summary;
  CEncActiveView view;
  atl::ComPtr<appf::EventSink> sink;
};

atl::Variant Long(LONG value) { return atl::Variant(value); }
atl::Variant Text(const wchar_t* text) { return atl::Variant(text); }

// A file source sending audio and video in two layers to a file.
void FileSession(CSessionSettings& r) {
  r.streamOut = 3;
  r.nLayers = 2;
  r.liveCapture = 0;
  r.mediaOut = kFileOutput;
  for (auto& e : r.audio.stream) e.codec = -1;
  r.audio.stream[0] = {2, 1, 44100, 64000, 2};
  r.audio.stream[3] = {0, 1, 8000, 12200, 1};
  r.audio.stream[4] = {7, 1, 8000, 12200, 1};  // no codec of ours: not pushed
}

// ---- Snapshot ----

TEST(EncoderView, WholeSnapshotOrders) {
  struct Case {
    const char* name;
    int streamOut;
    int layers;
    bool load;
    bool partial;
    const char* sequence;
  };
  const Case cases[] = {
      {"load all", 3, 2, true, false,
       "P1 P3 P2 P4 P6 P5 P7 P8 P19 M80 M80 P28 P37 P27 P38 P10 P24 P41 P43 "
       "P20 P12 P17 P10 M62 P9 P11 P22 P21 P23 P25"},
      {"load partial", 3, 2, true, true, "P1 P3 P2 P4 P6 P5 P7 P8 P19 M80 M80 P28 P37 P27 P38 P10 P24 P41 P43"},
      {"load one layer", 2, 1, true, true, "P1 P3 P2 P4 P6 P8 P19 M80 M80 P28 P37 P27 P38 P10 P24 P41 P43"},
      {"load audio only", 1, 2, true, true, "P1 P3 P2 P8 P19 M80 M80 P28 P37 P27 P38 P10 P24 P41 P43"},
      {"save all", 3, 2, false, false,
       "G1 G3 G2 G4 G6 G5 G7 G8 G19 M81 M81 M81 M81 M81 G28 G37 G27 G38 G10 G24 G41 G43 "
       "G20 G12 M64 M64 G17 M68 M63 G9 G11 M73 G23 G21 G22 G25"},
      {"save partial, audio only, one layer", 1, 1, false, true,
       "G1 G3 G2 G4 G6 G8 G19 M81 M81 M81 M81 M81 G28 G37 G27 G38 G10 G24 G41 G43"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    FileSession(f.view.Record());
    f.view.Record().streamOut = c.streamOut;
    f.view.Record().nLayers = c.layers;
    if (c.load)
      f.view.LoadAll(c.partial);
    else
      f.view.SaveAll(c.partial);
    EXPECT_EQ(f.control.Sequence(), c.sequence);
  }
}

TEST(EncoderView, SingleItems) {
  struct Case {
    const char* name;
    int item;
    bool load;
    std::function<void(Fixture&)> setup;
    const char* sequence;
  };
  auto live = [](Fixture& f) {
    f.view.Record().liveCapture = 1;
    f.view.Record().videoDeviceIndex = 1;
    f.view.Record().audioDeviceIndex = 0;
  };
  const Case cases[] = {
      {"live source", 15, true, live, "P12 M51 M52 P10"},
      {"live source without audio device", 15, true,
       [&](Fixture& f) {
         live(f);
         f.view.Record().audioDeviceIndex = kNoAudioDevice;
       },
       "P12 M51 P10"},
      {"still image", 15, true, [](Fixture& f) { f.view.Record().streamOut = kStillImageStream; },
       "P12 P17 P10 M67"},
      {"file output", 16, true, nullptr, "P9 P11"},
      {"streaming output", 16, true, [](Fixture& f) { f.view.Record().mediaOut = 4; }, "P9 M72"},
      {"output while previewing", 16, true, [](Fixture& f) { f.view.SetState(kPreviewing); }, "P9"},
      {"profile load pushes by saving", 11, true, nullptr, "M55"},
      {"profile save pulls by loading", 11, false, nullptr, "M54"},
      {"start", 17, true, nullptr, "M44"},
      {"stop", 18, true, nullptr, "M45"},
      {"stream time", 43, false, nullptr, "M46"},
      {"video statistics", 32, false, nullptr, "M47 M85"},
      {"audio statistics", 33, false, nullptr, "M69 M84"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    FileSession(f.view.Record());
    if (c.setup) c.setup(f);
    EXPECT_EQ(c.load ? f.view.LoadItem(c.item) : f.view.SaveItem(c.item), 1);
    EXPECT_EQ(f.control.Sequence(), c.sequence);
  }
  // Items that load nothing, and items above 50 either way.
  Fixture f;
  FileSession(f.view.Record());
  for (int item : {12, 13, 21, 22, 23, 24, 25, 26, 32, 33, 34, 35, 36, 37, 38, 39, 42, 43, 44, 51, 52, 60, 1000})
    EXPECT_EQ(f.view.LoadItem(item), 1) << item;
  for (int item : {51, 52, 60, 1000}) EXPECT_EQ(f.view.SaveItem(item), 1) << item;
  EXPECT_EQ(f.control.Sequence(), "");
  f.view.LoadItem(40);
  f.view.LoadItem(41);
  EXPECT_EQ(f.control.Sequence(), "P24 P25");
}

TEST(EncoderView, SnapshotCarriesTheValues) {
  Fixture f;
  CSessionSettings& r = f.view.Record();
  FileSession(r);
  r.encWidth = 176;
  r.baseFrameRate = 12.5f;
  r.SetInputFile(u"C:\\clips\\in.avi");
  r.SetClipText(kClipAuthor, u"Kestrune");
  f.view.LoadAll(false);
  auto arg = [&](DISPID id, size_t index) {
    for (const RecordedCall& call : f.control.calls)
      if (call.id == id && call.form != 'G') return VariantString(call.args.at(index));
    return std::wstring(L"(no call)");
  };
  EXPECT_EQ(arg(1, 0), L"176");
  EXPECT_EQ(arg(6, 0), L"12.5");
  EXPECT_EQ(arg(17, 0), L"C:\\clips\\in.avi");
  EXPECT_EQ(arg(62, 1), L"Kestrune");
  // The first pushed audio entry: index, codec, enabled, rate, bit rate, channels.
  EXPECT_EQ(arg(80, 0) + L" " + arg(80, 1) + L" " + arg(80, 3) + L" " + arg(80, 4) + L" " + arg(80, 5),
            L"0 2 44100 64000 2");

  f.control.values[3] = Long(144);
  f.control.values[17] = Text(L"D:\\other.mp4");
  f.control.values[12] = Long(0);
  f.view.SaveAll(false);
  EXPECT_EQ(r.encHeight, 144);
  EXPECT_EQ(CSessionSettings::Text(r.inputFile), u"D:\\other.mp4");
}

// ---- Registry ----

class RegistryKey {
 public:
  RegistryKey() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Apps\\Kestrune\\Scrivel");
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Apps\\Kestrune\\Scrivel", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key_, nullptr);
  }
  ~RegistryKey() {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Apps\\Kestrune\\Scrivel");
  }
  // `bytes` 0: with the terminator.
  void SetText(const wchar_t* name, const std::wstring& text, DWORD bytes = 0) {
    if (!bytes) bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  }
  HKEY Network() {
    HKEY network = nullptr;
    RegCreateKeyExW(key_, L"Network", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &network, nullptr);
    return network;
  }

 private:
  HKEY key_ = nullptr;
};

TEST(EncoderView, RegistryScratchDisk) {
  struct Case {
    const char* name;
    std::wstring stored;
    DWORD bytes;
    const wchar_t* set;
  };
  const std::wstring full(260, L'x');
  const Case cases[] = {
      {"no backslash", L"C:\\scratch", 0, L"C:\\scratch\\"},
      {"with backslash", L"C:\\scratch\\", 0, L"C:\\scratch\\"},
      {"stored without terminator", L"E:\\temp", 7 * sizeof(wchar_t), L"E:\\temp\\"},
      {"260 characters", full, 0, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RegistryKey key;
    key.SetText(L"ScratchDisk", c.stored, c.bytes);
    Fixture f;
    LONG result = f.view.ApplyScratchDisk();
    if (!c.set) {
      // Longer than a folder may be: the value is not read.
      EXPECT_NE(result, ERROR_SUCCESS);
      EXPECT_EQ(f.control.Sequence(), "");
      continue;
    }
    EXPECT_EQ(result, ERROR_SUCCESS);
    ASSERT_EQ(f.control.Sequence(), "P42");
    EXPECT_EQ(VariantString(f.control.calls[0].args[0]), c.set);
  }
  RegistryKey empty;
  Fixture f;
  EXPECT_EQ(f.view.ApplyScratchDisk(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(f.control.Sequence(), "");
}

TEST(EncoderView, RegistryNetworkTimeOuts) {
  auto args = [](Fixture& f) {
    std::wstring text;
    for (const atl::Variant& a : f.control.calls.at(0).args) text += VariantString(a) + L" ";
    return text;
  };
  {
    RegistryKey key;
    Fixture f;
    EXPECT_EQ(f.view.ApplyNetworkTimeOuts(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(f.control.Sequence(), "");
  }
  {
    RegistryKey key;
    RegCloseKey(key.Network());
    Fixture f;
    EXPECT_EQ(f.view.ApplyNetworkTimeOuts(), ERROR_SUCCESS);
    ASSERT_EQ(f.control.Sequence(), "M74");
    EXPECT_EQ(args(f), L"60 1 60 ");
  }
  {
    RegistryKey key;
    HKEY network = key.Network();
    DWORD client = 30, interval = 20;
    RegSetValueExW(network, L"ClientTimeOut", 0, REG_DWORD, reinterpret_cast<BYTE*>(&client), 4);
    RegSetValueExW(network, L"IntervalTimeOut", 0, REG_DWORD, reinterpret_cast<BYTE*>(&interval), 4);
    RegCloseKey(network);
    Fixture f;
    EXPECT_EQ(f.view.ApplyNetworkTimeOuts(), ERROR_SUCCESS);
    EXPECT_EQ(args(f), L"20 1 30 ");  // interval, report (default), client
  }
}

// ---- Error table ----

TEST(EncoderView, ErrorTable) {
  struct Case {
    uint32_t code;
    const wchar_t* caption;  // nullptr: no box
    const wchar_t* text;
    int state;               // afterwards
    bool closesFrame;
  };
  const Case cases[] = {
      {0x800A0410, L"Invalid Properties", L"Internal error 0x410. Application will be closed. ", kStopped, true},
      {0x800A040E, L"Invalid Properties", L"Internal error 0x40E. Application will be closed. ", kStopped, true},
      {0x800A0499, L"Invalid Properties", L"Unknown error 0x800A", kStopped, false},
      {0x80070005, L"Invalid Properties", L"Unknown error 0x8007", kStopped, false},
      {0x800A0407, nullptr, nullptr, kRunning, false},
      {0x800A0408, nullptr, nullptr, kRunning, false},
      {0x800A03EA, nullptr, nullptr, kStopped, false},
      {0x800A03E9, L"Invalid Properties", L"Scrivel cannot execute this method.", kStopped, false},
      {0x800A0406, L"Invalid Properties",
       L"Incorrect input size.  Please select a file with dimensions greater than or equal to 128 x 96 and less than "
       L"or equal to 800 x 600.",
       kStopped, false},
      {0x800A0420, L"Invalid Properties", L"the control's own text", kStopped, false},
      {0x80004005, L"Invalid Properties", L"Audio device not available", kRunning, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    Fixture f;
    f.view.SetState(kRunning);
    {
      BoxWatcher watcher(GetCurrentThreadId());
      f.Fire(3, {Long(static_cast<LONG>(c.code)), Text(L"the control's own text"), Text(L"source"), Long(0)});
      std::vector<BoxWatcher::Box> boxes = watcher.Boxes();
      if (c.caption) {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, c.caption);
        EXPECT_EQ(boxes[0].text, c.text);
      } else {
        EXPECT_TRUE(boxes.empty());
      }
    }
    EXPECT_EQ(f.view.State(), c.state);
    bool closed = std::find(g_frameMessages.begin(), g_frameMessages.end(), kCloseProgram) != g_frameMessages.end();
    EXPECT_EQ(closed, c.closesFrame);
    if (c.code == 0x800A0407 || c.code == 0x800A0408) {
      // Nothing at all: not even the summary.
      EXPECT_EQ(f.summary.refreshes, 0);
      EXPECT_EQ(f.control.Sequence(), "");
    } else {
      EXPECT_EQ(f.summary.refreshes, 1);
    }
  }
}

TEST(EncoderView, NoAudioDeviceOnlyOnceInARun) {
  Fixture f;
  BoxWatcher watcher(GetCurrentThreadId());
  const LONG code = static_cast<LONG>(0x800A03EB);
  f.Fire(3, {Long(code), Text(L""), Text(L""), Long(0)});
  f.Fire(3, {Long(code), Text(L""), Text(L""), Long(0)});
  std::vector<BoxWatcher::Box> boxes = watcher.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"No Audio Capture Device");
  EXPECT_EQ(boxes[0].text, L"Audio capture device not detected. Audio device selection has been disabled.");
  // A new run warns again.
  f.Fire(2);
  f.Fire(3, {Long(code), Text(L""), Text(L""), Long(0)});
  EXPECT_EQ(watcher.Boxes().size(), 2u);
}

TEST(EncoderView, MissingEngineEndsTheProgram) {
  if (GetEnvironmentVariableW(L"SCRIVEL_VIEW_CHILD", nullptr, 0)) {
    Fixture f;
    f.Fire(3, {Long(static_cast<LONG>(0x800A03F9)), Text(L""), Text(L""), Long(0)});
    ADD_FAILURE() << "the program went on";
    return;
  }
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring line = std::wstring(L"\"") + self + L"\" --gtest_filter=EncoderView.MissingEngineEndsTheProgram";
  SetEnvironmentVariableW(L"SCRIVEL_VIEW_CHILD", L"1");
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableW(L"SCRIVEL_VIEW_CHILD", nullptr);
  ASSERT_TRUE(started);
  DWORD code = 0;
  {
    BoxWatcher watcher(0, pi.dwProcessId);
    EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
    GetExitCodeProcess(pi.hProcess, &code);
    std::vector<BoxWatcher::Box> boxes = watcher.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"The Medlark component is not registered.");
  }
  EXPECT_EQ(code, 0xFFFFFFFFu);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
}

// ---- Events ----

TEST(EncoderView, LimitEvents) {
  struct Case {
    DISPID event;
    int unit;
    const wchar_t* message;
  };
  const Case cases[] = {
      {11, kSeconds, L"The maximum duration 90 seconds was reached."},
      {11, kDays, L"The maximum duration 90 days was reached."},
      {11, 5, L"The maximum duration 90  was reached."},
      {11, 0, L"The maximum duration 90  was reached."},
      {10, kSeconds, L"The maximum size 2048 KB was reached."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.event << " unit " << c.unit);
    Fixture f;
    f.view.Record().maxDuration = 90.9f;
    f.view.Record().unitDuration = c.unit;
    f.view.Record().maxSize = 2048;
    f.view.SetState(kRunning);
    f.Fire(c.event);
    EXPECT_EQ(f.view.LimitMessage(), c.message);
    EXPECT_EQ(f.view.State(), kStopped);
    EXPECT_EQ(g_frameMessages, std::vector<UINT>{kLimitReached});
    EXPECT_EQ(f.control.Sequence(), "");  // no stop was asked of the Start handler
  }
}

TEST(EncoderView, CustomEvents) {
  struct Case {
    LONG kind;
    const wchar_t* streaming;
    bool help;
  };
  const Case cases[] = {{1, L"", true}, {2, L"Pausing", false}, {3, L"Streaming . . .", false}, {4, L"", false},
                        {0, L"", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    Fixture f;
    f.Fire(13, {Long(c.kind), Long(0), Text(L"")});
    EXPECT_EQ(f.view.StreamingText(), c.streaming);
    if (c.help) {
      EXPECT_EQ(g_frameMessages, std::vector<UINT>{WM_COMMAND});
      EXPECT_EQ(g_frameParams, std::vector<WPARAM>{kHelpCommand});
    } else {
      EXPECT_TRUE(g_frameMessages.empty());
    }
    EXPECT_EQ(f.view.State(), kReady);
  }
  Fixture f;
  f.Fire(4);
  EXPECT_EQ(f.view.StreamingText(), L"Streaming . . .");
  f.Fire(5);
  EXPECT_EQ(f.view.StreamingText(), L"Connection Pause");
}

TEST(EncoderView, StartEvent) {
  struct Case {
    int state;
    bool live;
    int after;
    bool stopRequested;
    int updates;
  };
  const Case cases[] = {
      {kRunFirstKind, false, kRunFirstKind, false, 0}, {kPreviewing, true, kReady, false, 0},
      {kPreviewing, false, kRunning, false, 0},       {kRunThirdKind, false, kRunning, true, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.state << (c.live ? " live" : " file"));
    Fixture f;
    f.view.Record().liveCapture = c.live;
    f.view.SetState(c.state);
    f.Fire(1);
    EXPECT_EQ(f.view.State(), c.after);
    EXPECT_EQ(f.view.Started(), c.state != kRunThirdKind);
    EXPECT_EQ(f.view.StopRequested(), c.stopRequested);
    EXPECT_EQ(f.summary.updates, c.updates);
    EXPECT_EQ(f.summary.refreshes, 1);
  }
}

TEST(EncoderView, CaptureSizeChange) {
  Fixture f;
  f.control.values[15] = Long(320);
  f.control.values[16] = Long(240);
  f.Fire(12);
  EXPECT_EQ(f.control.Sequence(), "G15 G16");
  EXPECT_EQ(f.view.Record().capWidth, 320);
  EXPECT_EQ(f.view.Record().capHeight, 240);
}

TEST(EncoderView, TimerByState) {
  {
    Fixture f;
    f.view.OnTimerTick();
    EXPECT_EQ(f.view.StateText(), L"Ready to Encode");
    EXPECT_EQ(f.frame.hints, std::vector<std::wstring>{L"Select Start to begin encoding."});
    f.view.OnTimerTick();  // said once
    EXPECT_EQ(f.frame.hints.size(), 1u);
  }
  {
    // State 1 after the Start event: one stop of the control, then ready.
    Fixture f;
    f.view.SetState(kRunFirstKind);
    f.Fire(1);
    f.view.OnTimerTick();
    EXPECT_EQ(f.control.Sequence(), "M45");
    EXPECT_EQ(f.view.State(), kReady);
    EXPECT_EQ(f.view.StateText(), L"Ready to Encode");
  }
  {
    Fixture f;
    f.view.SetState(kStopped);
    f.view.OnTimerTick();
    EXPECT_EQ(f.view.State(), kReady);
  }
  {
    Fixture f;
    f.view.SetState(kRunThirdKind);
    f.view.OnTimerTick();
    EXPECT_EQ(f.view.State(), kRunThirdKind);
    EXPECT_EQ(f.control.Sequence(), "");
  }
  {
    // State 5 reads the stream time (not for `mediaOut` 4) and updates the summary.
    Fixture f;
    f.view.Record().mediaOut = kFileOutput;
    f.view.SetState(kRunning);
    f.view.OnTimerTick();
    EXPECT_EQ(f.control.Sequence(), "M46");
    EXPECT_EQ(f.summary.updates, 1);
    f.control.Clear();
    f.view.Record().mediaOut = 4;
    f.view.OnTimerTick();
    EXPECT_EQ(f.control.Sequence(), "");
  }
}

TEST(EncoderView, DroppedFiles) {
  Fixture f;
  // The frame answers for each path; the effect is its answer for the last.
  EXPECT_EQ(f.view.OnDragFiles({L"C:\\a.avi", L"C:\\b.mp4"}), static_cast<DWORD>(DROPEFFECT_COPY));
  EXPECT_EQ(f.view.OnDragFiles({L"C:\\b.mp4", L"C:\\a.avi"}), static_cast<DWORD>(DROPEFFECT_NONE));
  EXPECT_EQ(f.frame.offered, (std::vector<std::wstring>{L"C:\\a.avi", L"C:\\b.mp4", L"C:\\b.mp4", L"C:\\a.avi"}));
  f.view.OnDropFiles({L"C:\\b.mp4", L"C:\\c.mp4"});
  f.frame.Pump();
  EXPECT_EQ(f.frame.opened, (std::vector<std::wstring>{L"C:\\b.mp4", L"C:\\c.mp4"}));
  EXPECT_TRUE(g_frameMessages.empty());
  // With the frame's open-on-drop flag: cleared, and the frame told.
  f.frame.openOnDrop = true;
  f.view.OnDropFiles({L"C:\\d.mp4"});
  f.frame.Pump();
  EXPECT_FALSE(f.frame.openOnDrop);
  EXPECT_EQ(g_frameMessages, std::vector<UINT>{kOpenAfterDrop});
}

TEST(EncoderView, DiskFullEndsTheRun) {
  struct Case {
    uint32_t code;
    const char* control;  // what the control is asked
  };
  for (const Case& c : {Case{0x800A1389, "M45"}, Case{0x800A138A, ""}}) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code);
    Fixture f;
    f.view.Record().SetStillImageFile(u"C:\\still.bmp");
    f.view.SetState(kRunFirstKind);
    f.Fire(1);  // the control started
    BoxWatcher watcher(GetCurrentThreadId());
    f.Fire(3, {Long(static_cast<LONG>(c.code)), Text(L"The disk is full."), Text(L""), Long(0)});
    ASSERT_EQ(watcher.Boxes().size(), 1u);
    EXPECT_EQ(watcher.Boxes()[0].text, L"The disk is full.");
    EXPECT_EQ(f.control.Sequence(), c.control);
    EXPECT_EQ(f.view.State(), kStopped);
    // The session keeps its still image.
    EXPECT_EQ(CSessionSettings::Text(f.view.Record().stillImageFile), u"C:\\still.bmp");
  }
}

}  // namespace
