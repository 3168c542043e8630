// The GDI renderer on a real window: the surface it makes for each display
// depth, where a picture lands in the video control, repaints, and windows
// without the control.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "engine/player_ids.h"
#include "video_renderer.h"
#include "video_units.h"

namespace {

class MessageShell : public FakeShell {
 public:
  int ShowMessage(HINSTANCE, uint32_t id, const char16_t*, uint32_t) override {
    messages.push_back(id);
    return IDOK;
  }
  std::vector<uint32_t> messages;
};

// Showing a window under Wine without a window manager takes a moment, so
// the tests share one with a 320 x 240 video control.
HWND Shared() {
  static VideoWindow window(320, 240);
  return window.hwnd;
}
HWND SharedControl() { return GetDlgItem(Shared(), static_cast<int>(ids::kVideoControl)); }

// A renderer of the factory's kind on the shared window.
std::unique_ptr<VideoRenderer> SharedRenderer(uint32_t kind = 0) {
  uint32_t ready = 0;
  DisplayFormat format = {};
  std::unique_ptr<VideoRenderer> r(CreateVideoRenderer(&ready, &format, kind, Shared(), nullptr));
  if (r) {
    EXPECT_EQ(ready, 1u);
    EXPECT_EQ(format.bitsPerPixel, r->SurfaceFormat().bitsPerPixel);
  }
  return r;
}

int DisplayDepth() {
  HDC dc = GetDC(nullptr);
  const int depth = GetDeviceCaps(dc, BITSPIXEL);
  ReleaseDC(nullptr, dc);
  return depth;
}

// Largest difference of one channel between two BGR pixels.
int Distance(const uint8_t* a, const uint8_t* b) {
  int d = 0;
  for (int i = 0; i < 3; ++i) d = std::max(d, std::abs(int(a[i]) - int(b[i])));
  return d;
}

// On a 16-bit display the screen keeps 5 or 6 bits of each channel.
int ScreenTolerance() { return DisplayDepth() > 16 ? 0 : 8; }

}  // namespace

TEST(GdiRenderer, SurfaceForEachDisplayDepth) {
  struct Case {
    int32_t depth;
    int32_t surfaceBits;  // 0: no surface
    uint32_t colours;     // colour table entries
    bool message;
  };
  const Case cases[] = {
      {4, 4, 16, false}, {8, 8, 256, false}, {16, 24, 0, false}, {24, 24, 0, false},
      {32, 24, 0, false}, {1, 0, 0, true},  {2, 0, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    MessageShell shell;
    uint32_t ready = 9;
    DisplayFormat format = {};
    GdiRenderer r(&ready, &format, Shared(), &shell, c.depth);
    EXPECT_EQ(ready, 1u);  // an unsupported depth still reports ready
    EXPECT_EQ(format.bitsPerPixel, c.surfaceBits);
    EXPECT_EQ(format.width, 512);
    EXPECT_EQ(format.height, 512);
    EXPECT_EQ(format.kind, kDisplayKindPackedRgb);
    EXPECT_EQ(shell.messages, c.message ? std::vector<uint32_t>{ids::kMsgUnsupportedColorDepth}
                                        : std::vector<uint32_t>{});
    if (!c.surfaceBits) {
      EXPECT_EQ(r.Section(), nullptr);
      EXPECT_EQ(r.LockBuffer(176, 144), nullptr);
      continue;
    }
    ASSERT_NE(r.Section(), nullptr);
    DIBSECTION ds = {};
    ASSERT_EQ(GetObjectW(r.Section(), sizeof(ds), &ds), int(sizeof(ds)));
    EXPECT_EQ(ds.dsBmih.biBitCount, c.surfaceBits);
    EXPECT_EQ(ds.dsBm.bmWidth, 512);
    EXPECT_EQ(ds.dsBm.bmHeight, 512);
    EXPECT_EQ(format.pitch, 512);
    EXPECT_EQ(format.rows, 512);
    ASSERT_NE(r.Converters().converter(), nullptr);
    if (c.surfaceBits == 24) {
      EXPECT_EQ(format.redMask, 0xFFu);
      EXPECT_EQ(format.blueMask, 0xFF0000u);
    }
    // The colour table the DIB was made with.
    const BITMAPINFO* info = r.Info();
    if (c.depth == 4) {
      for (uint32_t n = 0; n < 16; ++n) EXPECT_EQ(info->bmiColors[n].rgbGreen, 17 * n);
    }
    if (c.depth == 8) {
      // The converter's palette is the table: index 0x55 is its colour, not black.
      const std::vector<uint8_t>& pal = r.Converters().converter()->palette();
      ASSERT_EQ(pal.size(), 1024u);
      for (uint32_t n : {0u, 0x55u, 0xA6u, 239u, 255u}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(info->bmiColors[n].rgbRed, pal[n * 4]);
        EXPECT_EQ(info->bmiColors[n].rgbGreen, pal[n * 4 + 1]);
        EXPECT_EQ(info->bmiColors[n].rgbBlue, pal[n * 4 + 2]);
      }
      EXPECT_NE(pal[0x55 * 4] | pal[0x55 * 4 + 1] | pal[0x55 * 4 + 2], 0);
    }
    if (c.surfaceBits == 24) continue;
    // What reaches the screen is the colour table's colour of each index the
    // converter wrote.
    const YuvPicture picture = MakePicture(176, 144);
    r.Present(picture.planes, 0, 0, picture.format, 2);
    GdiFlush();
    const Pixels shown = ReadWindow(SharedControl(), 176, 144);
    const uint8_t* bits = r.LockBuffer(176, 144);
    r.UnlockBuffer();
    int worst = 0;
    for (int y = 0; y < 144; ++y)
      for (int x = 0; x < 176; ++x) {
        const uint8_t byte = bits[y * format.pitch * c.depth / 8 + x * c.depth / 8];
        const uint8_t index = c.depth == 8 ? byte : (x & 1 ? byte & 15 : byte >> 4);
        const RGBQUAD q = info->bmiColors[index];
        const uint8_t want[3] = {q.rgbBlue, q.rgbGreen, q.rgbRed};
        worst = std::max(worst, Distance(shown.At(x, y), want));
      }
    EXPECT_LE(worst, ScreenTolerance());
  }
}

// The display this test runs on: above 8 bits the surface is 24 bits and
// the 24-bit converter is used. VIDEO_TEST_DEPTH names the depth the run's
// X server was started with.
TEST(GdiRenderer, DisplayDepthAboveEightGivesTwentyFourBits) {
  const int depth = DisplayDepth();
  if (const char* want = std::getenv("VIDEO_TEST_DEPTH")) {
    const int expected = std::atoi(want);
    // Wine reports a 24-bit X visual as 32 bits per pixel.
    EXPECT_TRUE(depth == expected || (expected == 24 && depth == 32)) << "display depth " << depth;
  }
  ASSERT_GT(depth, 8);
  std::unique_ptr<VideoRenderer> r = SharedRenderer();
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->SurfaceFormat().bitsPerPixel, 24);
  EXPECT_NE(dynamic_cast<ColorConverter24*>(r->Converters().converter()), nullptr);
  EXPECT_EQ(dynamic_cast<ColorConverter32*>(r->Converters().converter()), nullptr);
}

TEST(GdiRenderer, PictureAtTheControlsTopLeftWithBlackAround) {
  std::unique_ptr<VideoRenderer> r = SharedRenderer();
  ASSERT_NE(r, nullptr);
  const YuvPicture picture = MakePicture(176, 144);
  const Bytes expected = Convert24(picture);
  EXPECT_EQ(r->Present(picture.planes, 30, 40, picture.format, 2), 1u);  // left, top are not used
  GdiFlush();

  const Pixels shown = ReadWindow(SharedControl(), 320, 240);
  const int tolerance = ScreenTolerance();
  int worst = 0, notBlack = 0;
  for (int y = 0; y < 240; ++y)
    for (int x = 0; x < 320; ++x) {
      if (x < 176 && y < 144)
        worst = std::max(worst, Distance(shown.At(x, y), &expected[(size_t(y) * 176 + x) * 3]));
      else if (shown.At(x, y)[0] | shown.At(x, y)[1] | shown.At(x, y)[2])
        ++notBlack;
    }
  EXPECT_LE(worst, tolerance);
  EXPECT_EQ(notBlack, 0);
}

TEST(GdiRenderer, OpenCopiesTheSurfaceAgainWithoutConverting) {
  std::unique_ptr<VideoRenderer> r = SharedRenderer();
  ASSERT_NE(r, nullptr);
  const YuvPicture picture = MakePicture(176, 144);
  r->Present(picture.planes, 0, 0, picture.format, 2);
  GdiFlush();
  const Pixels before = ReadWindow(SharedControl(), 320, 240);

  // Something else covers the control; a repaint brings the same pixels
  // back. Converting would read the surface's own bytes as YUV and differ.
  HDC dc = GetDC(SharedControl());
  RECT all = {0, 0, 320, 240};
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  ReleaseDC(SharedControl(), dc);
  GdiFlush();
  ASSERT_NE(ReadWindow(SharedControl(), 320, 240).bgr, before.bgr);

  EXPECT_EQ(r->Open(0, 0, 176, 144), 0u);
  GdiFlush();
  EXPECT_EQ(ReadWindow(SharedControl(), 320, 240).bgr, before.bgr);
}

TEST(GdiRenderer, WindowWithoutTheVideoControlDrawsNothing) {
  VideoWindow window(320, 240, false);
  uint32_t ready = 0;
  DisplayFormat format = {};
  std::unique_ptr<VideoRenderer> r(CreateVideoRenderer(&ready, &format, 1, window.hwnd, nullptr));
  ASSERT_NE(r, nullptr);
  const Pixels before = ReadWindow(window.hwnd, 200, 160);
  const YuvPicture picture = MakePicture(176, 144);
  uint8_t* surface = r->LockBuffer(176, 144);
  ASSERT_NE(surface, nullptr);
  EXPECT_EQ(r->DrawFrame(picture.planes, surface, 0, 0, r->SurfaceFormat(), picture.format, 2), 0u);
  r->UnlockBuffer();
  EXPECT_EQ(r->Present(picture.planes, 0, 0, picture.format, 2), 1u);
  GdiFlush();
  EXPECT_EQ(ReadWindow(window.hwnd, 200, 160).bgr, before.bgr);
}

TEST(GdiRenderer, PicturesLargerThanTheSurfaceAreRefused) {
  std::unique_ptr<VideoRenderer> r = SharedRenderer();
  ASSERT_NE(r, nullptr);
  EXPECT_NE(r->LockBuffer(512, 512), nullptr);
  EXPECT_EQ(r->LockBuffer(513, 16), nullptr);
  EXPECT_EQ(r->LockBuffer(16, 513), nullptr);
  // Presenting one writes nothing: the control stays black.
  const YuvPicture big = MakePicture(528, 144);
  r->Present(big.planes, 0, 0, big.format, 2);
  r->Open(0, 0, 176, 144);
  GdiFlush();
  const Pixels shown = ReadWindow(SharedControl(), 320, 240);
  EXPECT_EQ(shown.bgr, Bytes(shown.bgr.size(), 0));
}

TEST(GdiRenderer, FactoryKinds) {
  for (uint32_t kind : {0u, 1u, 2u, 7u}) {
    SCOPED_TRACE(kind);
    uint32_t ready = 5;
    DisplayFormat format = {};
    std::unique_ptr<VideoRenderer> r(CreateVideoRenderer(&ready, &format, kind, Shared(), nullptr));
    EXPECT_EQ(r != nullptr, kind <= 1);
    EXPECT_EQ(ready, kind <= 1 ? 1u : 0u);
    if (r) {
      EXPECT_EQ(format.bitsPerPixel, r->SurfaceFormat().bitsPerPixel);
    }
  }
}
