// CImgFile under Wine: BMP through the portable codec, JPEG through the
// system's imaging codecs, with the file-name and format errors.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "mediaengine/errors.h"
#include "mediaengine/imgfile.h"
#include "test_util.h"

using namespace mediaengine;

namespace {

std::wstring Scratch(const std::wstring& name) {
  std::string dir = TestDir() + "img_scratch\\";
  CreateDirectoryA(dir.c_str(), nullptr);
  return std::wstring(dir.begin(), dir.end()) + name;
}

// A smooth picture (bottom-up padded rows), easy on a lossy codec.
struct Picture {
  BITMAPINFOHEADER header = {};
  std::vector<BYTE> pixels;
  Picture(int width, int height) {
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biSizeImage = DWORD(RowSize24(width) * size_t(height));
    pixels.assign(header.biSizeImage, 0);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        BYTE* p = &pixels[size_t(y) * RowSize24(width) + size_t(x) * 3];
        p[0] = BYTE(40 + x * 150 / width);
        p[1] = BYTE(60 + y * 120 / height);
        p[2] = 128;
      }
  }
};

class ImgFileTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(com_.Result(), S_OK); }
  ComScope com_;
};

TEST_F(ImgFileTest, BmpRoundTrip) {
  Picture picture(33, 17);
  CImgFile img;
  std::wstring path = Scratch(L"still.bmp");
  ASSERT_EQ(img.Save(path.c_str(), 1, &picture.header, picture.pixels.data()), S_OK);
  BITMAPINFOHEADER header;
  const BYTE* pixels = nullptr;
  ASSERT_EQ(img.Load(Scratch(L"still.BMP").c_str(), &header, &pixels), S_OK);
  EXPECT_EQ(header.biWidth, 33);
  EXPECT_EQ(header.biHeight, 17);
  EXPECT_EQ(header.biBitCount, 24);
  EXPECT_EQ(std::vector<BYTE>(pixels, pixels + header.biSizeImage), picture.pixels);
}

TEST_F(ImgFileTest, JpegWrittenAndReadBack) {
  Picture picture(160, 120);
  std::vector<BYTE> before = picture.pixels;
  CImgFile img;
  std::wstring path = Scratch(L"still.jpg");
  ASSERT_EQ(img.Save(path.c_str(), 2, &picture.header, picture.pixels.data()), S_OK) << img.LastError();
  EXPECT_EQ(picture.pixels, before) << "the caller's picture is not turned over";
  BITMAPINFOHEADER header;
  const BYTE* pixels = nullptr;
  ASSERT_EQ(img.Load(Scratch(L"still.JPG").c_str(), &header, &pixels), S_OK) << img.LastError();
  EXPECT_EQ(header.biWidth, 160);
  EXPECT_EQ(header.biHeight, 120);
  ASSERT_EQ(header.biSizeImage, picture.header.biSizeImage);
  // Lossy, but the same picture the same way up.
  long worst = 0, total = 0;
  for (size_t i = 0; i < before.size(); ++i) {
    long d = std::labs(long(pixels[i]) - long(before[i]));
    worst = std::max(worst, d);
    total += d;
  }
  EXPECT_LT(total / long(before.size()), 4);
  EXPECT_LT(worst, 40);
}

TEST_F(ImgFileTest, LargeJpegIsScaledDown) {
  Picture picture(1400, 40);
  CImgFile img;
  std::wstring path = Scratch(L"wide.jpeg");
  ASSERT_EQ(img.Save(path.c_str(), 2, &picture.header, picture.pixels.data()), S_OK) << img.LastError();
  BITMAPINFOHEADER header;
  const BYTE* pixels = nullptr;
  ASSERT_EQ(img.Load(path.c_str(), &header, &pixels), S_OK) << img.LastError();
  EXPECT_EQ(header.biWidth, 1280);
  EXPECT_EQ(header.biHeight, 40);
}

TEST_F(ImgFileTest, Failures) {
  Picture picture(8, 8);
  CImgFile img;
  std::wstring bmp = Scratch(L"f.bmp"), bmpNamedJpeg = Scratch(L"f.jpg"), gif = Scratch(L"f.gif"),
               broken = Scratch(L"broken.bmp");
  ASSERT_EQ(img.Save(bmp.c_str(), 1, &picture.header, picture.pixels.data()), S_OK);
  CopyFileW(bmp.c_str(), bmpNamedJpeg.c_str(), FALSE);
  CopyFileW(bmp.c_str(), gif.c_str(), FALSE);
  HANDLE f = CreateFileW(broken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  DWORD written;
  WriteFile(f, "BMxx", 4, &written, nullptr);
  CloseHandle(f);

  struct {
    std::wstring path;
    HRESULT result;
    const char* error;
  } loads[] = {
      {gif, KRM_E_INVALID_FILE_NAME, "Invalid file name"},
      {Scratch(L"absent.bmp"), KRM_E_INVALID_FILE_NAME, "Invalid file name"},
      {bmpNamedJpeg, KRM_E_WRONG_IMAGE_FORMAT, "Not a JPEG file"},
      {broken, KRM_E_WRONG_IMAGE_FORMAT, "Read Error"},
  };
  for (const auto& c : loads) {
    BITMAPINFOHEADER header;
    const BYTE* pixels = &picture.pixels[0];
    EXPECT_EQ(img.Load(c.path.c_str(), &header, &pixels), c.result);
    EXPECT_EQ(pixels, nullptr);
    EXPECT_EQ(img.LastError(), c.error);
  }
  EXPECT_EQ(img.Save(bmp.c_str(), 3, &picture.header, picture.pixels.data()), KRM_E_WRONG_IMAGE_FORMAT);
  BITMAPINFOHEADER eightBit = picture.header;
  eightBit.biBitCount = 8;
  EXPECT_EQ(img.Save(bmp.c_str(), 1, &eightBit, picture.pixels.data()), KRM_E_WRONG_IMAGE_FORMAT);
  EXPECT_EQ(img.Save(Scratch(L"no such folder\\x.jpg").c_str(), 2, &picture.header, picture.pixels.data()),
            KRM_E_WRONG_IMAGE_FORMAT);
  EXPECT_EQ(img.LastError(), "Can't open file for writing");
  EXPECT_EQ(img.Save(nullptr, 1, &picture.header, picture.pixels.data()), KRM_E_BAD_PARAMETER);
}

}  // namespace
