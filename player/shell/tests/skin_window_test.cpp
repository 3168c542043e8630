#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/skin_window.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

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

// The art of one skin image, as the builder drew it, with the grey fix-up
// of this desktop.
class Art {
 public:
  Art() : bytes_(ReadFileBytes(BesideTest("Orlomer.ksk.rgb"))) {}
  // Offset of element e image j in the art file (images in file order).
  uint32_t Pixel(const SkinManager& skin, int element, int image, int x, int y) const {
    size_t at = 0;
    for (int i = 0; i <= element; ++i)
      for (int j = 0; j < skin.ElementImageCount(i); ++j) {
        const SIZE s = skin.ImageSize(i, j);
        if (i == element && j == image) {
          const size_t p = at + (static_cast<size_t>(y) * s.cx + x) * 3;
          uint32_t rgb = uint32_t(uint8_t(bytes_[p])) << 16 | uint32_t(uint8_t(bytes_[p + 1])) << 8 |
                         uint8_t(bytes_[p + 2]);
          if (rgb == 0xD4D0C8 && GetSysColor(COLOR_MENU) == RGB(0xC0, 0xC0, 0xC0)) rgb = 0xC0C0C0;
          return rgb;
        }
        at += static_cast<size_t>(s.cx) * s.cy * 3;
      }
    return 0xFFFFFFFF;
  }

 private:
  std::string bytes_;
};

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
  EXPECT_EQ(Client().bottom, 260);
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
  for (const Case& c : {Case{192, 144, 240, 260}, Case{193, 144, 241, 260}, Case{320, 240, 368, 356},
                        Case{160, 120, 240, 260}}) {
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

TEST_F(SkinWindow, FaceMatchesTheArtAtBothSizes) {
  ASSERT_NE(Make(), nullptr);
  Art art;
  const SkinManager& skin = *face->Skin();
  for (bool grown : {false, true}) {
    if (grown) face->Resize(320, 240, false);
    InvalidateRect(face->MainWindow(), nullptr, TRUE);
    UpdateWindow(face->MainWindow());
    Pump(300);
    const Shot shot = Grab(face->MainWindow());
    const int dx = shot.width - 240, dy = shot.height - 260;
    int wrong = 0, checked = 0;
    auto expect = [&](int x, int y, uint32_t want) {
      ++checked;
      if (shot.At(x, y) != want && ++wrong < 5)
        ADD_FAILURE() << "at " << x << "," << y << " got " << std::hex << shot.At(x, y) << " want " << want;
    };
    // The title band left and right of the middle, and the middle column repeated.
    for (int y = 0; y < 34; ++y) {
      for (int x = 0; x < 24; ++x) expect(x, y, art.Pixel(skin, 0, 0, x, y));
      for (int x = 237; x < 240; ++x) expect(x + dx, y, art.Pixel(skin, 0, 0, x, y));
      for (int x = 120; x < 120 + dx; ++x) expect(x, y, art.Pixel(skin, 0, 0, 120, y));
    }
    // The buttons in their states, moved with the bottom and right edges.
    for (int y = 0; y < 24; ++y) {
      for (int x = 0; x < 32; ++x) expect(20 + x, 214 + dy + y, art.Pixel(skin, 1, face->playState, x, y));
      for (int x = 0; x < 24; ++x) expect(92 + dx + x, 214 + dy + y, art.Pixel(skin, 3, face->volumeState, x, y));
      for (int x = 0; x < 24; ++x) expect(212 + dx + x, 6 + y, art.Pixel(skin, 8, 0, x, y));
    }
    // The video child is black over the whole video rectangle.
    for (int y = 36; y < 36 + 144 + dy; y += 7) expect(24 + (y % 150), y, 0);
    // The status line and the time area are black before any text.
    for (int x = 0; x < 40; ++x) expect(20 + 30 + x, 246 + dy, 0);
    EXPECT_EQ(wrong, 0) << (grown ? "grown" : "skin size") << ", " << checked << " pixels checked";
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
