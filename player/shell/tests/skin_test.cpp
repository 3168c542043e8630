#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/skin_manager.h"
#include "shell_test_support.h"

namespace {

// Sets the menu colour for the life of the object (the grey fix-up reads it).
class ScopedMenuColour {
 public:
  explicit ScopedMenuColour(COLORREF colour) : old_(GetSysColor(COLOR_MENU)) { Set(colour); }
  ~ScopedMenuColour() { Set(old_); }

 private:
  static void Set(COLORREF c) {
    const INT element = COLOR_MENU;
    SetSysColors(1, &element, &c);
  }
  COLORREF old_;
};

// The image as 24-bit RGB rows, top to bottom, read back from Windows.
std::string ReadBack(HBITMAP bitmap, int width, int height) {
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  std::vector<uint8_t> bgra(static_cast<size_t>(width) * height * 4);
  HDC dc = GetDC(nullptr);
  const int lines = GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), bgra.data(), &info, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  if (lines != height) return std::string();
  std::string rgb;
  for (size_t i = 0; i < bgra.size(); i += 4) {
    rgb += static_cast<char>(bgra[i + 2]);
    rgb += static_cast<char>(bgra[i + 1]);
    rgb += static_cast<char>(bgra[i]);
  }
  return rgb;
}

TEST(Skin, EveryImageShowsTheBuildersPixels) {
  const std::string art = ReadFileBytes(BesideTest("Orlomer.ksk.rgb"));
  ASSERT_FALSE(art.empty());
  for (COLORREF menu : {RGB(0xC0, 0xC0, 0xC0), RGB(0xD4, 0xD0, 0xC8)}) {
    ScopedMenuColour colour(menu);
    const bool grey = menu == RGB(0xC0, 0xC0, 0xC0);
    SkinManager skin;
    ASSERT_EQ(skin.LoadSkinFromPath(BesideTest("Orlomer.ksk").c_str()), 1);
    size_t at = 0, greyPixels = 0;
    for (int i = 0; i < 11; ++i) {
      for (int j = 0; j < skin.ElementImageCount(i); ++j) {
        const SIZE size = skin.ImageSize(i, j);
        const size_t bytes = static_cast<size_t>(size.cx) * size.cy * 3;
        ASSERT_LE(at + bytes, art.size());
        std::string want = art.substr(at, bytes);
        at += bytes;
        for (size_t p = 0; p < want.size(); p += 3) {
          if (want.compare(p, 3, "\xD4\xD0\xC8") == 0) {
            ++greyPixels;
            if (grey) want.replace(p, 3, "\xC0\xC0\xC0");
          }
        }
        const std::string got = ReadBack(skin.ImageBitmap(i, j), size.cx, size.cy);
        EXPECT_TRUE(got == want) << "element " << i << " image " << j << (grey ? " grey desktop" : "");
      }
    }
    EXPECT_EQ(at, art.size());
    EXPECT_GT(greyPixels, 1000u);  // the face colour is there to be fixed up
  }
}

TEST(Skin, GeometryLookups) {
  SkinManager skin;
  ASSERT_EQ(skin.LoadSkinFromPath(BesideTest("Orlomer.ksk").c_str()), 1);
  const RECT face = skin.ImageRect(0, 0);
  EXPECT_EQ(face.right - face.left, 240);
  const RECT video = skin.VideoRect();
  EXPECT_EQ(video.right - video.left, 192);
  EXPECT_EQ(video.bottom - video.top, 144);
  EXPECT_EQ(skin.ElementImageCount(6), 8);
  const RECT seek = skin.ElementRect(5);
  EXPECT_EQ(seek.left, 20);
  EXPECT_EQ(seek.right, 220);
  // Out of range: nothing, never a read past the arrays.
  EXPECT_EQ(skin.ImageBitmap(11, 0), nullptr);
  EXPECT_EQ(skin.ImageBitmap(1, 6), nullptr);
  EXPECT_EQ(skin.ImageBitmap(-1, 0), nullptr);
  EXPECT_EQ(skin.ImageSize(4, 2).cx, 0);
  EXPECT_EQ(skin.ElementImageCount(40), 0);
  EXPECT_EQ(skin.Element(11), nullptr);
}

TEST(Skin, DamagedFilesDoNotLoad) {
  const std::string good = ReadFileBytes(BesideTest("Orlomer.ksk"));
  ASSERT_GT(good.size(), 2000u);
  struct Case {
    const char* what;
    std::string bytes;
  };
  std::string badMagic = good;
  badMagic[0] = 0;
  std::string zeroWidth = good;
  // Element 0's first image: its size word at 276 + 276 + 12.
  zeroWidth[276 + 276 + 12] = 0;
  zeroWidth[276 + 276 + 13] = 0;
  const Case cases[] = {{"cut", good.substr(0, good.size() / 2)}, {"bad magic", badMagic},
                        {"width 0", zeroWidth}, {"empty", ""}};
  for (const Case& c : cases) {
    const std::wstring path = TempPath(L"damaged.ksk");
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(f, c.bytes.data(), static_cast<DWORD>(c.bytes.size()), &written, nullptr);
    CloseHandle(f);
    SkinManager skin;
    EXPECT_EQ(skin.LoadSkinFromPath(path.c_str()), 0) << c.what;
    EXPECT_EQ(skin.ImageBitmap(0, 0), nullptr) << c.what;
    DeleteFileW(path.c_str());
  }
  SkinManager none;
  EXPECT_EQ(none.LoadSkinFromPath(TempPath(L"no_such.ksk").c_str()), 0);
}

TEST(Skin, DibSizes) {
  DibBitmap dib;
  std::vector<uint8_t> pixels(18, 0x55);
  ASSERT_NE(dib.Create(pixels, {}, 3, 2, 24), nullptr);
  EXPECT_EQ(dib.Stride(), 12u);
  EXPECT_EQ(dib.ImageSize(), 24u);
  EXPECT_EQ(dib.PackedSize(), 18u);
  DibBitmap small;
  EXPECT_EQ(small.Create(std::vector<uint8_t>(5), {}, 3, 2, 24), nullptr);  // fewer bytes than the size says
  DibBitmap indexed;
  EXPECT_EQ(indexed.Create(std::vector<uint8_t>(4), std::vector<uint8_t>(100), 2, 2, 8), nullptr);  // short palette
}

}  // namespace
