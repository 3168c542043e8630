// The player program itself: `Orlomer.exe clip.mp4 -X` plays a clip our
// writer recorded (ffmpeg-made MPEG-4 video with AAC, or with speech coded
// by our AMR encoder) to its end and closes. Judged from outside, as a user
// would see it: the instrumentation log shows "Playing" and then the end
// state, the stand-in decoder's frame log holds exactly the audio packets
// ffmpeg's demuxer lists, and screenshots of the video area that ffmpeg
// grabs from the display each equal one picture of our decoder and
// converter, the one due at that moment. The clips are made before this
// runs by tests/make_program_clips.sh.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "expected_pictures.h"
#include "packet_list.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell_test_support.h"

using source_test::Adler32Combine;
using source_test::Packet;

namespace {

std::string ClipDir() { return PROGRAM_CLIPS; }

// "Z:\\..." for a path of the host.
std::wstring WindowsPath(const std::string& unixPath) {
  std::wstring out = L"Z:";
  for (char c : unixPath) out += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return out;
}

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

// The text of a log line after its "MM/DD hh:mm:ss:mmm " prefix.
std::string LogText(const std::string& line) { return line.size() > 19 ? line.substr(19) : std::string(); }

// Milliseconds of the day in a log line's prefix.
int64_t LogTimeOfDay(const std::string& line) {
  unsigned mo = 0, d = 0, h = 0, m = 0, s = 0, ms = 0;
  if (std::sscanf(line.c_str(), "%u/%u %u:%u:%u:%u", &mo, &d, &h, &m, &s, &ms) != 6) return -1;
  return ((int64_t(h) * 60 + m) * 60 + s) * 1000 + ms;
}

// Index of the first line at or after `from` whose text starts with text.
size_t Find(const std::vector<std::string>& lines, const std::string& text, size_t from = 0) {
  for (size_t i = from; i < lines.size(); ++i)
    if (LogText(lines[i]).rfind(text, 0) == 0) return i;
  return std::string::npos;
}

struct LogFrame {
  uint32_t t = 0, len = 0, n = 0, hash = 0;
};

// The stand-in decoder's groups must be the packets, in order, every one.
void CheckFramesEqualPackets(const std::string& log, const std::string& packetList) {
  std::ifstream in(packetList);
  ASSERT_TRUE(in) << packetList;
  const std::vector<Packet> packets = source_test::ParseFrameCrc(in);
  ASSERT_GT(packets.size(), 50u);
  size_t next = 0;
  int groups = 0;
  for (const std::string& line : Lines(log)) {
    if (line.rfind("frame ", 0) != 0) continue;
    LogFrame f;
    unsigned buffer = 0, status = 0;
    char head[32] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "frame buffer=%u status=%u t=%u len=%u n=%u head=%31s hash=%x", &buffer,
                          &status, &f.t, &f.len, &f.n, head, &f.hash),
              7)
        << line;
    ASSERT_LE(next + f.n, packets.size());
    EXPECT_EQ(int64_t(f.t), packets[next].pts - packets[0].pts) << "group at packet " << next;
    uint64_t bytes = 0;
    uint32_t hash = 1;
    for (uint32_t i = 0; i < f.n; ++i, ++next) {
      hash = Adler32Combine(hash, packets[next].adler, packets[next].size);
      bytes += packets[next].size;
    }
    EXPECT_EQ(f.len, 1 + f.n + bytes) << "group ending at packet " << next;
    EXPECT_EQ(f.hash, hash) << "group ending at packet " << next;
    ++groups;
  }
  EXPECT_EQ(next, packets.size()) << "packets the decoder never received";
  std::printf("decoder log: %d groups hold all %zu packets ffmpeg lists\n", groups, packets.size());
}

class Program {
 public:
  explicit Program(const std::wstring& arguments) {
    std::wstring line = L"\"" + BesideTest("Orlomer.exe") + L"\" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info) != 0;
  }
  ~Program() {
    if (!started) return;
    if (WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info.hProcess, 99);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
  }
  // The exit code, or -1 when it is still running after limitMs.
  long Wait(DWORD limitMs) {
    if (WaitForSingleObject(info.hProcess, limitMs) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    GetExitCodeProcess(info.hProcess, &code);
    return long(code);
  }
  bool started = false;
  PROCESS_INFORMATION info = {};
};

bool WaitFor(const std::function<bool()>& done, DWORD limitMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(20);
  }
  return true;
}

void PlayAndCheck(const std::string& name) {
  const char* display = std::getenv("DISPLAY");
  ASSERT_NE(display, nullptr) << "no X display";
  const std::string dir = ClipDir();
  const std::string clip = dir + "/" + name + ".mp4";
  ASSERT_NE(GetFileAttributesA(clip.c_str()), INVALID_FILE_ATTRIBUTES) << clip << " (made by make_program_clips.sh)";
  const std::string decoderLog = dir + "/" + name + ".decoder.log";
  const std::string playerLog = dir + "/" + name + ".player.log";
  std::remove(decoderLog.c_str());
  std::remove(playerLog.c_str());
  const std::vector<e2e::Picture> expected = e2e::ExpectedPictures(dir + "/video.m4v", 15);
  ASSERT_EQ(expected.size(), 75u);

  // A fresh player key: the data folder defaults to the program's, and the
  // instrumentation log takes the place of message boxes.
  DeletePlayerKeys();
  ASSERT_TRUE(WriteSettingStringById(GetModuleHandleW(nullptr), shell::kInstrumentTesting,
                                     WindowsPath(playerLog).c_str()));
  SetEnvironmentVariableA("STAND_IN_DECODER_LOG", decoderLog.c_str());
  Program program(L"\"" + WindowsPath(clip) + L"\" -X");
  SetEnvironmentVariableA("STAND_IN_DECODER_LOG", nullptr);
  ASSERT_TRUE(program.started);

  HWND window = nullptr;
  ASSERT_TRUE(WaitFor([&] { return (window = FindWindowW(L"Orlomer", nullptr)) != nullptr; }, 15000));
  ASSERT_TRUE(WaitFor([&] { return Find(Lines(playerLog), "Status Playing") != std::string::npos; }, 15000))
      << "no \"Playing\" in the player's log";
  // Past the start, where the clock may still be re-anchored to the audio.
  Sleep(1500);
  HWND video = GetDlgItem(window, 501);
  ASSERT_NE(video, nullptr);
  POINT origin = {0, 0};
  ClientToScreen(video, &origin);
  const int grabs = 6;
  const std::string grab = dir + "/" + name + ".grab";
  const std::string grabLog = grab + ".log";
  char args[640];
  std::snprintf(args, sizeof(args),
                "ffmpeg -nostdin -hide_banner -y -f x11grab -draw_mouse 0 -framerate 4 -video_size 176x144 -i %s+%ld,%ld "
                "-frames:v %d -copyts -vf showinfo -f rawvideo -pix_fmt bgr24 '%s' 2> '%s'",
                display, long(origin.x), long(origin.y), grabs, grab.c_str(), grabLog.c_str());
  e2e::HostCommand grabber(args, dir);
  ASSERT_EQ(grabber.Wait(20000), 0) << e2e::ReadText(grabLog);
  EXPECT_EQ(program.Wait(30000), 0) << "the program did not close at the clip's end";

  // The player's own account: playing, then the end.
  const std::vector<std::string> log = Lines(playerLog);
  const size_t playing = Find(log, "Status Playing");
  const size_t firstVideo = Find(log, "First video[0] timestamp: 0");
  const size_t ended = Find(log, "State 6", playing == std::string::npos ? 0 : playing);
  ASSERT_NE(playing, std::string::npos);
  ASSERT_NE(firstVideo, std::string::npos);
  ASSERT_NE(ended, std::string::npos) << "no end state after \"Playing\"";
  EXPECT_NE(Find(log, "Status Ready", ended), std::string::npos);
  EXPECT_NE(Find(log, "Last audio timestamp"), std::string::npos);
  for (const std::string& line : log) {
    EXPECT_EQ(line.find("Unable"), std::string::npos) << line;
    EXPECT_EQ(line.find("corrupted"), std::string::npos) << line;
  }

  CheckFramesEqualPackets(decoderLog, dir + "/" + name + ".packets");

  // Each screenshot is exactly one picture, the one due then: pictures
  // follow the wall clock at the clip's pace, behind the first picture's
  // read by no more than the start-up (buffering and the audio device).
  const e2e::Bytes shots = [&] {
    std::ifstream in(grab, std::ios::binary);
    return e2e::Bytes(std::istreambuf_iterator<char>(in), {});
  }();
  const std::string info = e2e::ReadText(grabLog);
  ASSERT_EQ(shots.size(), size_t(grabs) * 176 * 144 * 3) << info;
  std::vector<int64_t> stamps;
  for (size_t at = info.find(" pts:"); at != std::string::npos; at = info.find(" pts:", at + 1))
    stamps.push_back(std::atoll(info.c_str() + at + 5));
  ASSERT_EQ(int(stamps.size()), grabs) << info;
  const int64_t startOfDay = LogTimeOfDay(log[firstVideo]);
  std::vector<int64_t> lags;
  for (int g = 0; g < grabs; ++g) {
    SCOPED_TRACE(g);
    const e2e::Bytes shot(shots.begin() + ptrdiff_t(g) * 176 * 144 * 3,
                          shots.begin() + ptrdiff_t(g + 1) * 176 * 144 * 3);
    std::vector<size_t> same;
    for (size_t k = 0; k < expected.size(); ++k)
      if (expected[k].bgr == shot) same.push_back(k);
    ASSERT_EQ(same.size(), 1u) << "a screenshot equal to " << same.size() << " pictures";
    const int32_t t = int32_t(expected[same[0]].timeMs);
    // The log's clock is the local time of day, ffmpeg's the UTC epoch:
    // compare them modulo a quarter hour.
    int64_t since = (stamps[g] / 1000 - startOfDay) % 900000;
    if (since < 0) since += 900000;
    if (since > 450000) since -= 900000;
    lags.push_back(since - t);
    std::printf("%s screenshot %d: %lld ms after the first picture was read, picture %zu of %d ms (%lld ms behind)\n",
                name.c_str(), g, (long long)since, same[0], t, (long long)(since - t));
  }
  // The pace: a picture is late by at most 120 ms and shown at most 50 ms
  // early, and one stays until the next (1000 / 15 ms); a loaded machine
  // adds the audio device's stalls, which the clock follows.
  const auto [low, high] = std::minmax_element(lags.begin(), lags.end());
  EXPECT_LE(*high - *low, 400) << "pictures kept no pace with the wall clock";
  // On a quiet machine the lag is small, and a picture held before its time
  // (up to 50 ms early) shows as a negative lag.
  EXPECT_GE(*low, -50);
  EXPECT_LE(*high, 1500);
  std::remove(grab.c_str());
  DeletePlayerKeys();
}

// The program with a damaged skin in its data folder: message 50043 (to
// the instrumentation log in place of its box), no window, a clean exit.
TEST(OrlomerProgram, ADamagedSkinGivesMessage50043AndNoWindow) {
  const std::string good = ReadFileBytes(BesideTest("Orlomer.ksk"));
  ASSERT_GT(good.size(), 1000u);
  std::string badMagic = good, shortSkin = good;
  badMagic[0] = 0x0E;
  shortSkin[8] = 10;  // ten elements: the time area's is missing
  const std::wstring folder = TempPath(L"orlomer_damaged_skin\\");
  CreateDirectoryW(folder.c_str(), nullptr);
  const std::wstring skin = folder + L"Orlomer.ksk", log = folder + L"player.log";
  struct Case {
    const char* what;
    std::string bytes;
  };
  for (const Case& c : {Case{"cut", good.substr(0, good.size() / 2)}, Case{"bad magic", badMagic},
                        Case{"an element short", shortSkin}}) {
    SCOPED_TRACE(c.what);
    std::ofstream(skin.c_str(), std::ios::binary | std::ios::trunc) << c.bytes;
    DeleteFileW(log.c_str());
    DeletePlayerKeys();
    ASSERT_TRUE(WriteSettingStringById(GetModuleHandleW(nullptr), shell::kKRData, folder.c_str()));
    ASSERT_TRUE(WriteSettingStringById(GetModuleHandleW(nullptr), shell::kInstrumentTesting, log.c_str()));
    Program program(L"");
    ASSERT_TRUE(program.started);
    EXPECT_EQ(program.Wait(20000), 0) << "the program did not end cleanly";
    EXPECT_NE(ReadFileBytes(log).find("Missing \"Skin\" file.  Please reinstall Orlomer."), std::string::npos)
        << ReadFileBytes(log);
    EXPECT_EQ(FindWindowW(L"Orlomer", nullptr), nullptr);
  }
  DeletePlayerKeys();
  DeleteFileW(skin.c_str());
  DeleteFileW(log.c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST(OrlomerProgram, PlaysAClipWithAacToItsEnd) { PlayAndCheck("aac_clip"); }

TEST(OrlomerProgram, PlaysAClipWithAmrToItsEnd) { PlayAndCheck("amr_clip"); }

}  // namespace
