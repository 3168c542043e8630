// KrAppFrameSample.exe run as a user would: it drives itself (/selftest),
// then the test takes a screenshot of its main frame with the X display's
// own grabber, checks the regions, closes it and reads its report and
// exit code.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "appframe/command.h"
#include "appframe/status_bar.h"
#include "command.h"
#include "helpers.h"
#include "peers.h"
#include "resource.h"

namespace {

// The frame's client area as the X display shows it, as RGB.
struct Grab {
  int width = 0, height = 0;
  std::string rgb;
  COLORREF At(int x, int y) const {
    size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    if (x < 0 || y < 0 || i + 2 >= rgb.size()) return CLR_INVALID;
    return RGB(static_cast<BYTE>(rgb[i]), static_cast<BYTE>(rgb[i + 1]), static_cast<BYTE>(rgb[i + 2]));
  }
};

Grab ClientShot(HWND window, const std::string& png) {
  Grab g;
  const char* display = std::getenv("DISPLAY");
  EXPECT_NE(display, nullptr) << "no X display";
  if (!display) return g;
  RECT r;
  GetClientRect(window, &r);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  g.width = r.right;
  g.height = r.bottom;
  std::string grab = "ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -video_size " +
                     std::to_string(g.width) + "x" + std::to_string(g.height) + " -i " + display + "+" +
                     std::to_string(origin.x) + "," + std::to_string(origin.y) + " -frames:v 1 ";
  const std::string raw = png + ".rgb";
  Ran a = RunUnix(grab + "'" + png + "'", "grab-png", 20000);
  Ran b = RunUnix(grab + "-f rawvideo -pix_fmt rgb24 '" + raw + "'", "grab-rgb", 20000);
  EXPECT_EQ(a.exitCode, 0) << a.output;
  EXPECT_EQ(b.exitCode, 0) << b.output;
  g.rgb = ReadWholeFile(WindowsPath(raw));
  DeleteFileA(WindowsPath(raw).c_str());
  return g;
}

bool Near(COLORREF a, COLORREF b) {
  auto d = [](int x, int y) { return x > y ? x - y : y - x; };
  return d(GetRValue(a), GetRValue(b)) <= 3 && d(GetGValue(a), GetGValue(b)) <= 3 && d(GetBValue(a), GetBValue(b)) <= 3;
}

RECT RectIn(HWND w, HWND frame) {
  RECT r;
  GetWindowRect(w, &r);
  MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

HWND FrameOf(DWORD process) {
  for (int i = 0; i < 200; ++i, Sleep(50)) {
    HWND w = nullptr;
    while ((w = FindWindowExW(nullptr, w, L"KrAppFrame", nullptr)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(w, &pid);
      if (pid == process) return w;
    }
  }
  return nullptr;
}

TEST(SampleProgram, RunsDrivenAsAUserWouldAndEndsWithCodeZeroLeavingNoObjectBehind) {
  ASSERT_EQ(testing_appframe::RegisterSampleControl(false), 0u);
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"KrAppFrameSampleReady");
  ASSERT_NE(ready, nullptr);
  const std::string report = TestDir() + "sample-report.txt";
  DeleteFileA(report.c_str());
  std::string line = "\"" + WindowsPath(SAMPLE_EXE) + "\" /selftest \"" + report + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(ready, 30000), WAIT_OBJECT_0) << "the program did not finish its run";
  HWND frame = FrameOf(pi.dwProcessId);
  ASSERT_NE(frame, nullptr);

  // The regions: the control's back colour inside the upper pane, the tab
  // strip inside the lower pane, the status bar along the bottom.
  HWND splitter = GetDlgItem(frame, static_cast<int>(appf::kIdPaneFirst));
  HWND upper = GetDlgItem(splitter, static_cast<int>(appf::kIdPaneFirst));
  HWND lower = GetDlgItem(splitter, static_cast<int>(appf::kIdPaneFirst + 16));
  HWND status = GetDlgItem(frame, static_cast<int>(appf::StatusBar::kId));
  ASSERT_TRUE(splitter && upper && lower && status);
  RECT client;
  GetClientRect(frame, &client);
  RECT upperRect = RectIn(upper, frame), lowerRect = RectIn(lower, frame), statusRect = RectIn(status, frame);
  RECT control = RectIn(GetDlgItem(upper, IDC_CONTROL), frame), tabs = RectIn(GetDlgItem(lower, IDC_TABS), frame);
  Grab g = ClientShot(frame, UnixPath(TestDir()) + "appframe-sample.png");  // kept as the test's artefact
  ASSERT_EQ(g.rgb.size(), static_cast<size_t>(g.width) * static_cast<size_t>(g.height) * 3);

  const COLORREF back = RGB(0x20, 0x60, 0xC0);
  EXPECT_TRUE(Inside(control, upperRect));
  EXPECT_TRUE(Near(g.At((control.left + control.right) / 2, (control.top + control.bottom) / 2), back));
  EXPECT_TRUE(Near(g.At(control.left + 3, control.top + 3), back));
  EXPECT_TRUE(Near(g.At(control.right - 4, control.bottom - 4), back));
  EXPECT_FALSE(Near(g.At(control.right + 5, control.top + 3), back)) << "the control's colour ends with it";

  EXPECT_LT(upperRect.bottom, lowerRect.top) << "the upper pane is above the lower";
  EXPECT_TRUE(Inside(tabs, lowerRect));
  COLORREF pane = g.At(lowerRect.left + 3, lowerRect.top + 2);
  COLORREF body = g.At((tabs.left + tabs.right) / 2, (tabs.top + tabs.bottom) / 2);
  EXPECT_TRUE(Near(pane, GetSysColor(COLOR_BTNFACE))) << std::hex << pane;
  EXPECT_FALSE(Near(body, pane)) << "the tab strip's body is drawn inside the pane";

  EXPECT_EQ(statusRect.bottom, client.bottom);
  EXPECT_EQ(statusRect.left, 0);
  EXPECT_EQ(statusRect.right, client.right);
  EXPECT_EQ(lowerRect.bottom, statusRect.top) << "the splitter ends where the status bar begins";
  EXPECT_FALSE(Near(g.At(client.right / 2, (statusRect.top + statusRect.bottom) / 2), back));

  PostMessageW(frame, WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
  DWORD code = 0xFFFF;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(ready);

  std::string text;
  for (char c : ReadWholeFile(report))
    if (c != '\r') text += c;
  EXPECT_EQ(text,
            "Caption=Sample program Level=30 Rate=2.5 Enabled=true\n"
            "Measure=3 13 ONE TWO THREE 3\n"
            "event Announced 1 hello\n"
            "event MouseDown 1 0 30 20\n"
            "event Click 1 0 30 20\n"
            "event MouseUp 1 0 30 20\n"
            "new documents 2, running yes\n"
            "status Last event: MouseUp 1 0 30 20 | Running\n"
            "title Untitled 2 - AppFrame Sample\n"
            "top 200 bottom " + std::to_string(lowerRect.bottom - lowerRect.top) + "\n"
            "at exit: sinks 0, control module may unload\n");
  EXPECT_EQ(testing_appframe::RegisterSampleControl(true), 0u);
}

}  // namespace
