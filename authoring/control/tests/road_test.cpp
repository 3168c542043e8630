// The control on the real media engine: Medlark, Tonquill, the streamer
// with Flumera and the stand-in filters registered in this test's own
// prefix (copies beside the program), the control being the program's own
// copy in Wine's AtlAxWin host. A file of ffmpeg's is encoded to an MP4
// file that ffmpeg and our reader judge, and a streamed run waits for the
// server's python client. A capture run takes the engine's fake camera and
// microphone.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <strmif.h>
#include <uuids.h>

#include "command.h"
#include "control.h"
#include "control_testing.h"
#include "encode_host.h"  // first: it brings windows.h
#include "fakecapture.h"
#include "host_testing.h"
#include "peers.h"

namespace {

using E = EventSink::Event;

std::string Dir() {
  return TestDir() + "ctlroad\\";
}

// The engine's fake camera and microphone as the prefix's capture devices,
// registered afresh before any engine lists them.
void RegisterFakeDevices() {
  IFilterMapper2* mapper = nullptr;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                             reinterpret_cast<void**>(&mapper)),
            S_OK);
  REGFILTER2 data = {};
  data.dwVersion = 1;
  data.dwMerit = MERIT_DO_NOT_USE;
  const struct {
    const GUID* category;
    const GUID& clsid;
    const wchar_t* name;
  } devices[] = {{&CLSID_VideoInputDeviceCategory, CLSID_FakeVideoCapture, L"Kestrune fake camera 1"},
                 {&CLSID_AudioInputDeviceCategory, CLSID_FakeAudioCapture, L"Kestrune fake microphone 1"}};
  for (const auto& d : devices) {
    mapper->UnregisterFilter(d.category, d.name, d.clsid);
    EXPECT_EQ(mapper->RegisterFilter(d.clsid, d.name, nullptr, d.category, d.name, &data), S_OK);
  }
  mapper->Release();
}

// What keeps the road from running here (printed by each test), if anything.
std::string problem;

class Road : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    // COM stays initialised for the run: Wine's parsers and the graphs'
    // threads end after the graphs are gone.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const std::vector<std::string> failed =
        RegisterCompanions({"Medlark.dll", "KRVideoEncoder.dll", "KRStreamMux.dll", "KRStreamer.dll",
                            "KRFrameGrabber.dll", "Tonquill.dll", "KRPropertiesFile.dll", "KRFakeCapture.dll"});
    ASSERT_TRUE(failed.empty()) << failed[0] << " did not register";
    RegisterFakeDevices();
    CreateDirectoryA(Dir().c_str(), nullptr);
    // 176 x 144 raw video at 15 frames/s and 8 kHz 16-bit PCM, 4 s.
    const Ran made = RunUnix(
        "/usr/bin/ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=15 "
        "-f lavfi -i sine=frequency=440:sample_rate=8000 -ac 2 -c:a pcm_s16le -t 4 "
        "-c:v rawvideo -pix_fmt bgr24 " +
            UnixPath(Dir() + "clip.avi"),
        "ffmpeg-clip", 120000);
    if (made.exitCode != 0) problem = "ffmpeg could not make the input: " + made.output;
  }
  void SetUp() override {
    if (!problem.empty()) GTEST_SKIP() << problem;
    ASSERT_TRUE(program_.Registered());
    container_ = std::make_unique<Container>(kProgramControlClass, RECT{700, 560, 1060, 820},
                                             RECT{20, 20, 340, 240}, RGB(0x30, 0x60, 0x30));
    ASSERT_NE(container_->ControlWindow(), nullptr) << "no engine";
    ASSERT_TRUE(sink_.events.empty());
  }
  void TearDown() override {
    program_.connection.reset();
    container_.reset();
  }
  IDispatch* D() { return container_->Dispatch(); }
  CKRActiveCtrl* Control() { return program_.made; }
  HRESULT Method(DISPID id, std::vector<VARIANT> args = {}) {
    Call c;
    Invoke(D(), id, DISPATCH_METHOD, std::move(args), &c);
    EXPECT_EQ(c.hr, S_OK);
    return static_cast<HRESULT>(Result(c));
  }
  // An encoding of clip.avi as both streams, AMR 12200 alone for audio.
  void Encode(LONG mediaOut, const std::string& output) {
    const atl::Bstr source(std::wstring(WideOf(Dir() + "clip.avi")).c_str());
    const atl::Bstr out(std::wstring(WideOf(output)).c_str());
    ASSERT_EQ(Put(D(), 12, V(0)), S_OK);
    ASSERT_EQ(Put(D(), 17, VText(source)), S_OK);
    ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
    ASSERT_EQ(Put(D(), 9, V(mediaOut)), S_OK);
    ASSERT_EQ(Put(D(), 10, V(3)), S_OK);
    ASSERT_EQ(Put(D(), 1, V(176)), S_OK);
    ASSERT_EQ(Put(D(), 3, V(144)), S_OK);
    ASSERT_EQ(Put(D(), 6, VDouble(15)), S_OK);
    ASSERT_EQ(Put(D(), 11, VText(out)), S_OK);
    // AMR 12200 in the first audio entry, the only one enabled.
    ASSERT_EQ(Method(80, {V(0), V(0), VBool(true), V(8000), V(12200), V(1)}), S_OK);
    std::remove(output.c_str());
  }
  // Runs the thread's messages until the event `id` has been fired or the
  // time is up.
  bool PumpUntil(DISPID id, DWORD ms) {
    for (DWORD waited = 0; waited < ms; waited += 50) {
      for (const E& e : sink_.events)
        if (e.id == id) return true;
      Pump(50);
    }
    return false;
  }
  static std::wstring WideOf(const std::string& s) { return std::wstring(s.begin(), s.end()); }
  static std::vector<DISPID> Ids(const std::vector<E>& events) {
    std::vector<DISPID> ids;
    for (const E& e : events) ids.push_back(e.id);
    return ids;
  }

  EventSink sink_{DIID__DScrivelControlEvents};
  ProgramControl program_{&sink_};
  std::unique_ptr<Container> container_;
};

// A host command started without waiting, its output in TAG.out of the
// current folder; answers the file that holds its exit code once it ends.
std::string StartUnix(const std::string& command, const std::string& tag) {
  const std::string done = tag + ".done";
  std::remove(done.c_str());
  char here[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, here);
  const std::string dir = UnixPath(here) + "/";
  std::string cmd = "/bin/sh -c \"" + command + " >" + dir + tag + ".out 2>&1; echo $? >" + dir + done + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return "";
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return done;
}

// Frames of stream 0 in ffmpeg's frame checksums; -1 when ffmpeg failed.
int Frames(const Ran& ff) {
  EXPECT_EQ(ff.exitCode, 0) << ff.output;
  if (ff.exitCode != 0) return -1;
  int frames = 0;
  for (size_t p = ff.output.find("\n0,"); p != std::string::npos; p = ff.output.find("\n0,", p + 1)) ++frames;
  return frames;
}

// The MPEG-4 video of a file as ffmpeg's own decoder takes it, strictly (it
// does not open the suite's AMR object type, hence the map).
int VideoFrames(const std::string& file, const char* tag) {
  return Frames(RunUnix(
      "/usr/bin/ffmpeg -nostdin -v error -xerror -i " + UnixPath(file) + " -map 0:v -f framecrc -", tag));
}

// The AMR frames our reader finds, written as an AMR file and decoded by
// ffmpeg's own decoder.
int AmrFrames(const std::string& file, const char* tag) {
  const std::string amr = file + ".amr";
  const Ran dump = RunWindows(TestDir() + "mp4_amr_dump.exe", "\"" + file + "\" \"" + amr + "\"",
                              std::string(tag) + "-dump");
  EXPECT_EQ(dump.exitCode, 0) << dump.output;
  return Frames(RunUnix(
      "/usr/bin/ffmpeg -nostdin -v error -xerror -f amr -i " + UnixPath(amr) + " -f framecrc -", tag));
}

// The sample count mp4info gives for the track of this codec; -1 when none.
int SamplesOf(const std::string& info, const std::string& codec) {
  const size_t track = info.find(": " + codec + ",");
  if (track == std::string::npos) return -1;
  const size_t end = info.find(" samples", track);
  const size_t start = info.rfind(", ", end);
  if (end == std::string::npos || start == std::string::npos || start < track) return -1;
  return std::atoi(info.c_str() + start + 2);
}

TEST_F(Road, AFileEncodedToAnMp4FileFiresStartThenStopWhenWritten) {
  const std::string out = Dir() + "clip.mp4";
  Encode(1, out);
  ASSERT_GE(Method(44), 0) << "StartPlaying (S_FALSE while the graph gets going)";
  EXPECT_EQ(Control()->RunState(), 3);
  EXPECT_TRUE(PumpUntil(2, 120000)) << "Stop after the file is written";
  EXPECT_EQ(Ids(sink_.events), (std::vector<DISPID>{1, 2})) << "Start, then Stop, nothing else";
  EXPECT_EQ(Control()->RunState(), 1);

  const Ran info = RunWindows(TestDir() + "mp4info.exe", "\"" + out + "\"", "ctlroad-mp4info");
  std::printf("%s\n", info.output.c_str());
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_GT(SamplesOf(info.output, "AMR"), 0) << "an AMR track with frames";
  const int video = VideoFrames(out, "ctlroad-video");
  EXPECT_GE(video, 57) << "4 s at 15 frames/s";
  EXPECT_LE(video, 60);
  EXPECT_EQ(SamplesOf(info.output, "MP4V-ES"), video) << "every video sample decodes";
  const int amr = AmrFrames(out, "ctlroad-amr");
  EXPECT_GE(amr, 195) << "4 s of 20 ms frames";
  EXPECT_LE(amr, 201);
}

// A streamed run (media output 4: RTP to players):
// Start leaves the run waiting in state 2 until the server's python client
// plays; then Connected and state 3; the file's end stops the run.
TEST_F(Road, AStreamWaitsForItsPlayerThenRuns) {
  Encode(4, Dir() + "stream.mp4");
  // The record takes ports up to 7999; one of this process's own.
  const LONG port = LONG(7100 + GetCurrentProcessId() % 800);
  ASSERT_EQ(Method(72, {V(port), V(0), V(0)}), S_OK);
  ASSERT_GE(Method(44), 0) << "StartPlaying";
  EXPECT_EQ(Ids(sink_.events), std::vector<DISPID>{1});
  EXPECT_EQ(Control()->RunState(), 2) << "waiting for a player";

  const std::string out = Dir() + "stream";
  const std::string url = "rtsp://127.0.0.1:" + std::to_string(port) + "/live";
  // The listener opens on the server's thread: a moment first.
  const std::string done = StartUnix("sleep 1; /usr/bin/python3 " + std::string(SUITE_SOURCE_DIR) +
                                         "/Flumera/tests/rtsp_client.py receive " + url + " --out " +
                                         UnixPath(out) + " --timeout 30 --ffmpeg",
                                     "ctlroad-client");
  ASSERT_FALSE(done.empty());
  ASSERT_TRUE(PumpUntil(4, 20000)) << "Connected";
  EXPECT_EQ(Control()->RunState(), 3);
  EXPECT_TRUE(PumpUntil(2, 60000)) << "Stop at the file's end";
  EXPECT_EQ(Control()->RunState(), 1);
  EXPECT_TRUE(WaitForFile(done, 40000)) << "the client ends";
  const std::string result = ReadWholeFile(out + "\\result.json");
  std::printf("client: %s\n%s\n", result.c_str(), ReadWholeFile("ctlroad-client.out").c_str());
  EXPECT_NE(result.find("\"play\": 200"), std::string::npos);
  EXPECT_NE(result.find("\"video_decodes\": true"), std::string::npos);
  EXPECT_NE(result.find("\"amr_decodes\": true"), std::string::npos);
}

// A capture run from the fake devices (the engine takes the first of each
// class), encoded to a file without preview: Start, then Stop once
// StopPlaying's file is written, its video whole for ffmpeg.
TEST_F(Road, ACaptureFromTheFakeDevicesFiresStartAndWritesAFile) {
  const std::string out = Dir() + "capture.mp4";
  std::remove(out.c_str());
  const atl::Bstr name(std::wstring(WideOf(out)).c_str());
  ASSERT_EQ(Put(D(), 12, V(1)), S_OK);
  ASSERT_EQ(Put(D(), 13, V(0)), S_OK);
  ASSERT_EQ(Put(D(), 14, VBool(true)), S_OK);
  ASSERT_EQ(Put(D(), 9, V(1)), S_OK);
  ASSERT_EQ(Put(D(), 10, V(3)), S_OK);
  ASSERT_EQ(Put(D(), 15, V(176)), S_OK);
  ASSERT_EQ(Put(D(), 16, V(144)), S_OK);
  ASSERT_EQ(Put(D(), 1, V(176)), S_OK);
  ASSERT_EQ(Put(D(), 3, V(144)), S_OK);
  ASSERT_EQ(Put(D(), 11, VText(name)), S_OK);
  ASSERT_EQ(Method(80, {V(0), V(0), VBool(true), V(8000), V(12200), V(1)}), S_OK);

  ASSERT_GE(Method(44), 0) << "StartPlaying";
  EXPECT_EQ(Ids(sink_.events), std::vector<DISPID>{1}) << "Start";
  EXPECT_EQ(Control()->RunState(), 3);
  Pump(3000);
  EXPECT_EQ(Method(45), S_OK) << "StopPlaying";
  EXPECT_TRUE(PumpUntil(2, 20000)) << "Stop once the file is written";
  EXPECT_EQ(Ids(sink_.events), (std::vector<DISPID>{1, 2}));
  EXPECT_EQ(Control()->RunState(), 1);

  const Ran info = RunWindows(TestDir() + "mp4info.exe", "\"" + out + "\"", "ctlroad-capture-mp4info");
  std::printf("%s\n", info.output.c_str());
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_GT(SamplesOf(info.output, "AMR"), 0) << "an AMR track with frames";
  // How many pictures reach the file depends on the load (a quiet machine
  // writes 7 in this run).
  const int video = VideoFrames(out, "ctlroad-capture-video");
  EXPECT_GE(video, 3);
  EXPECT_EQ(SamplesOf(info.output, "MP4V-ES"), video) << "every video sample decodes";
}

}  // namespace
