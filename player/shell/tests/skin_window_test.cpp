#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/skin_window.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

// The skin builder's background height.
constexpr int kSkinHeight = 264;

PlayerSkinWindow* g_face = nullptr;

// The main window class as the main window will route to the face; the
// video child, of the same class, paints only its black background.
LRESULT CALLBACK FaceMain(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (g_face && w != g_face->MainWindow()) return DefWindowProcW(w, m, wp, lp);
  if (g_face && m == WM_PAINT) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    g_face->DrawFace(dc);
    EndPaint(w, &ps);
    return 0;
  }
  if (g_face && m == WM_TIMER && wp == kBusyTimer) {
    g_face->AnimateBusy();
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

void Pump(DWORD ms) {
  const DWORD end = GetTickCount() + ms;
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  } while (GetTickCount() < end);
}

// The client area as RGB rows, read back from the window.
struct Shot {
  int width = 0, height = 0;
  std::vector<uint8_t> bgra;
  uint32_t At(int x, int y) const {
    const uint8_t* p = &bgra[(static_cast<size_t>(y) * width + x) * 4];
    return uint32_t{p[2]} << 16 | uint32_t{p[1]} << 8 | p[0];
  }
};

Shot Grab(HWND w) {
  Shot s;
  RECT c = {};
  GetClientRect(w, &c);
  s.width = c.right;
  s.height = c.bottom;
  HDC dc = GetDC(w);
  HDC mem = CreateCompatibleDC(dc);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), s.width, -s.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, s.width, s.height, dc, 0, 0, SRCCOPY);
  GdiFlush();
  s.bgra.assign(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + static_cast<size_t>(s.width) * s.height * 4);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(w, dc);
  return s;
}

class SkinWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    DeletePlayerKeys();
    std::wstring folder = BesideTest("");
    ASSERT_EQ(WriteSettingStringById(nullptr, shell::kKRData, folder.c_str()), 1);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = FaceMain;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = L"Orlomer";
    RegisterClassW(&wc);
  }
  void TearDown() override {
    g_face = nullptr;
    if (face) {
      HWND w = face->MainWindow();
      face.reset();
      if (w) DestroyWindow(w);
    }
    UnregisterClassW(L"Orlomer", GetModuleHandleW(nullptr));
    DeletePlayerKeys();
  }
  HWND Make() {
    face = std::make_unique<PlayerSkinWindow>();
    HWND w = face->Create(0);
    if (w) {
      face->InitResources();
      g_face = face.get();
      InvalidateRect(w, nullptr, TRUE);
      UpdateWindow(w);
      Pump(200);
    }
    return w;
  }
  RECT Client() const {
    RECT c = {};
    GetClientRect(face->MainWindow(), &c);
    return c;
  }
  std::unique_ptr<PlayerSkinWindow> face;
};

TEST_F(SkinWindow, BuildsTheWindowsFromTheSkin) {
  HWND w = Make();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(Client().right, 240);
  EXPECT_EQ(Client().bottom, kSkinHeight);
  HWND video = GetDlgItem(w, kVideoChildId);
  ASSERT_EQ(video, face->VideoWindow());
  EXPECT_FALSE(IsWindowEnabled(video));
  RECT v = {};
  GetWindowRect(video, &v);
  MapWindowPoints(nullptr, w, reinterpret_cast<POINT*>(&v), 2);
  EXPECT_EQ(v.left, 24);
  EXPECT_EQ(v.top, 36);
  EXPECT_EQ(v.right - v.left, 192);
  ASSERT_NE(GetDlgItem(w, kSeekBarId), nullptr);
  // 40 without "CurrentVolume"; the slider reads its value back from the
  // thumb's pixel, which gives 41.
  EXPECT_EQ(face->Volume()->GetVolume(), 41);
  EXPECT_NE(GetMenu(w), nullptr);
  EXPECT_EQ(GetMenuState(GetMenu(w), 41125, MF_BYCOMMAND) & MF_GRAYED, static_cast<UINT>(MF_GRAYED));
}

TEST_F(SkinWindow, NoDataFolderOrABadSkinGivesNoWindow) {
  DeletePlayerKeys();
  face = std::make_unique<PlayerSkinWindow>();
  EXPECT_EQ(face->Create(0), nullptr);
  const std::wstring folder = TempPath(L"skin_folder\\");
  CreateDirectoryW(folder.c_str(), nullptr);
  // A skin of ten elements: the face cannot be drawn from it.
  std::string bytes = ReadFileBytes(BesideTest("Orlomer.ksk"));
  bytes[8] = 10;
  HANDLE f = CreateFileW((folder + L"Orlomer.ksk").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written = 0;
  WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(f);
  ASSERT_EQ(WriteSettingStringById(nullptr, shell::kKRData, folder.c_str()), 1);
  EXPECT_EQ(face->Create(0), nullptr);
  EXPECT_EQ(FindWindowW(L"Orlomer", nullptr), nullptr);
  DeleteFileW((folder + L"Orlomer.ksk").c_str());
  RemoveDirectoryW(folder.c_str());
}

TEST_F(SkinWindow, VideoSizeGrowsTheWindow) {
  ASSERT_NE(Make(), nullptr);
  struct Case {
    int videoWidth, videoHeight, clientWidth, clientHeight;
  };
  for (const Case& c : {Case{192, 144, 240, kSkinHeight}, Case{193, 144, 241, kSkinHeight},
                        Case{320, 240, 368, kSkinHeight + 96}, Case{160, 120, 240, kSkinHeight}}) {
    face->Resize(c.videoWidth, c.videoHeight, false);
    EXPECT_EQ(Client().right, c.clientWidth) << c.videoWidth;
    EXPECT_EQ(Client().bottom, c.clientHeight) << c.videoHeight;
  }
  // Smaller than the skin's area: centred in it.
  RECT v = {};
  GetWindowRect(face->VideoWindow(), &v);
  MapWindowPoints(nullptr, face->MainWindow(), reinterpret_cast<POINT*>(&v), 2);
  EXPECT_EQ(v.left, 24 + 16);
  EXPECT_EQ(v.top, 36 + 12);
}

// The client area as the X display shows it (ffmpeg's x11grab), against
// the composite that face_composite.py builds from the builder's art: equal
// pixel for pixel at the skin's size, one pixel wider than the video
// rectangle, and grown for a 320 x 240 video. No text is set, so nothing is
// masked.
TEST_F(SkinWindow, ScreenshotEqualsThePythonComposite) {
  const char* display = std::getenv("DISPLAY");
  ASSERT_NE(display, nullptr) << "no X display";
  ASSERT_NE(Make(), nullptr);
  HWND w = face->MainWindow();
  const bool grey = GetSysColor(COLOR_MENU) == RGB(0xC0, 0xC0, 0xC0);
  struct Case {
    int videoWidth, videoHeight, clientWidth, clientHeight;
  };
  for (const Case& c : {Case{192, 144, 240, kSkinHeight}, Case{193, 144, 241, kSkinHeight},
                        Case{320, 240, 368, kSkinHeight + 96}}) {
    SCOPED_TRACE(c.videoWidth);
    face->Resize(c.videoWidth, c.videoHeight, false);
    ASSERT_EQ(Client().right, c.clientWidth);
    ASSERT_EQ(Client().bottom, c.clientHeight);
    // Away from the middle of the screen, where other tests' windows open.
    SetWindowPos(w, HWND_TOP, GetSystemMetrics(SM_CXSCREEN) - 420, GetSystemMetrics(SM_CYSCREEN) - 460, 0, 0,
                 SWP_NOSIZE);
    RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Pump(300);
    POINT origin = {0, 0};
    ClientToScreen(w, &origin);
    const std::string size = std::to_string(c.clientWidth) + "x" + std::to_string(c.clientHeight);
    const std::string shot = "face_" + size + ".rgb", want = "face_" + size + "_composite.rgb";
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -draw_mouse 0 -video_size " + size + " -i " +
        display + "+" + std::to_string(origin.x) + "," + std::to_string(origin.y) +
        " -frames:v 1 -f rawvideo -pix_fmt rgb24 " + shot + " && python3 '" FACE_COMPOSITE_PY "' " +
        std::to_string(c.clientWidth) + " " + std::to_string(c.clientHeight) + " " + (grey ? "1" : "0") + " " +
        std::to_string(face->playState) + "," + std::to_string(face->stopState) + "," +
        std::to_string(face->volumeState) + " " + want;
    const ProcessResult run = RunHostCommand(BesideTest(""), "cd '" + UnixPath(BesideTest("")) + "' && " + command);
    ASSERT_EQ(run.exitCode, 0u) << run.output;
    const std::string got = ReadFileBytes(BesideTest(shot.c_str())), expected = ReadFileBytes(BesideTest(want.c_str()));
    ASSERT_EQ(got.size(), static_cast<size_t>(c.clientWidth) * c.clientHeight * 3);
    ASSERT_EQ(expected.size(), got.size());
    int wrong = 0;
    for (size_t i = 0; i < got.size(); i += 3) {
      if (got.compare(i, 3, expected, i, 3) == 0) continue;
      if (++wrong <= 5) {
        const size_t p = i / 3;
        auto hex = [](const std::string& s, size_t at) {
          char text[8];
          std::snprintf(text, sizeof(text), "%02x%02x%02x", uint8_t(s[at]), uint8_t(s[at + 1]), uint8_t(s[at + 2]));
          return std::string(text);
        };
        ADD_FAILURE() << "at " << p % c.clientWidth << "," << p / c.clientWidth << " shown " << hex(got, i)
                      << " composite " << hex(expected, i);
      }
    }
    EXPECT_EQ(wrong, 0) << "pixels differ of " << got.size() / 3 << " (files " << shot << ", " << want << ")";
  }
}

// Every pixel of a status or time text drawn unclipped is also lit in its
// area of the face: nothing is cut at the bottom or the side.
TEST_F(SkinWindow, StatusAndTimeTextsAreWhole) {
  ASSERT_NE(Make(), nullptr);
  auto lit = [](const Shot& s, const RECT& r) {
    int n = 0;
    for (int y = std::max<int>(r.top, 0); y < std::min<int>(r.bottom, s.height); ++y)
      for (int x = std::max<int>(r.left, 0); x < std::min<int>(r.right, s.width); ++x) n += s.At(x, y) != 0;
    return n;
  };
  // The same text in the same font on a large black canvas.
  auto unclipped = [&](const std::wstring& text) {
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    Shot s;
    s.width = 400;
    s.height = 80;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), s.width, -s.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = SelectObject(mem, dib);
    RECT all = {0, 0, s.width, s.height};
    FillRect(mem, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HGDIOBJ oldFont = SelectObject(mem, face->TextFont());
    SetBkMode(mem, TRANSPARENT);
    SetTextColor(mem, RGB(255, 255, 255));
    RECT at = {20, 20, s.width, s.height};
    DrawTextW(mem, text.c_str(), -1, &at, DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    GdiFlush();
    s.bgra.assign(static_cast<uint8_t*>(bits), static_cast<uint8_t*>(bits) + s.width * s.height * 4);
    SelectObject(mem, oldFont);
    SelectObject(mem, oldBitmap);
    DeleteObject(dib);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return lit(s, all);
  };
  for (bool grown : {false, true}) {
    if (grown) face->Resize(320, 240, false);
    struct Case {
      const char* what;
      std::function<void()> show;
      const std::wstring* text;
      RECT area;
    };
    const int dx = Client().right - 240, dy = Client().bottom - kSkinHeight;
    const RECT status = face->Skin()->ImageRect(9, 0), time = face->Skin()->ImageRect(10, 0);
    const RECT statusArea = {face->Skin()->ElementPosition(6).x, status.top + dy, status.right, status.bottom + dy};
    const RECT timeArea = {time.left + dx, time.top + dy, time.right + dx, time.bottom + dy};
    for (const Case& c : {
             Case{"Playing", [&] { face->SetStatus(60136); }, &face->StatusText(), statusArea},
             Case{"Buffering 100%", [&] { face->ShowBuffering(100); }, &face->StatusText(), statusArea},
             Case{"long time", [&] { face->SetTime(3900, 3900); }, &face->TimeText(), timeArea},
         }) {
      c.show();
      GdiFlush();
      const int want = unclipped(*c.text);
      EXPECT_GT(want, 20) << c.what;
      EXPECT_EQ(lit(Grab(face->MainWindow()), c.area), want) << c.what << (grown ? ", grown" : "");
    }
  }
}

TEST_F(SkinWindow, ButtonsHitAndDisabledButtonsDoNot) {
  ASSERT_NE(Make(), nullptr);
  const POINT play = {30, 220}, stop = {60, 220}, volume = {100, 220}, elsewhere = {5, 100};
  // All disabled at first.
  EXPECT_EQ(face->OnLButtonDown(play), -1);
  EXPECT_EQ(face->playState, 1);
  EXPECT_EQ(face->OnLButtonDown(volume), -1);
  face->playState = 0;
  face->stopState = 1;
  face->volumeState = 0;
  EXPECT_EQ(face->OnLButtonDown(play), 1);
  EXPECT_EQ(face->playState, 2);
  face->OnLButtonUp();
  EXPECT_EQ(face->playState, 3);
  EXPECT_EQ(face->stopState, 0);
  EXPECT_EQ(face->OnLButtonDown(stop), 2);
  face->OnLButtonUp();
  EXPECT_EQ(face->stopState, 1);
  EXPECT_EQ(face->playState, 0);
  // The volume button opens the slider; a click anywhere else closes it.
  EXPECT_EQ(face->OnLButtonDown(volume), 3);
  EXPECT_EQ(face->volumeState, 2);
  EXPECT_TRUE(IsWindowVisible(face->Volume()->Window()));
  EXPECT_EQ(face->OnLButtonDown(elsewhere), -1);
  EXPECT_EQ(face->volumeState, 0);
  EXPECT_FALSE(IsWindowVisible(face->Volume()->Window()));
}

TEST_F(SkinWindow, TimeTextAndBusyAnimation) {
  ASSERT_NE(Make(), nullptr);
  face->SetTime(65, 300);
  EXPECT_EQ(face->TimeText(), L"1:05/5:00");
  face->SetTime(0, 0);
  EXPECT_EQ(face->TimeText(), L"0:00/0:00");
  face->SetStatus(60136);
  EXPECT_EQ(face->StatusText(), L"Playing");
  face->StartBusy();
  EXPECT_TRUE(face->BusyRunning());
  EXPECT_TRUE(IsWindowVisible(face->AnimationWindow()));
  Pump(450);
  EXPECT_GE(face->AnimationFrame(), 2);
  face->StopBusy();
  EXPECT_FALSE(face->BusyRunning());
  EXPECT_FALSE(IsWindowVisible(face->AnimationWindow()));
}

}  // namespace
