#include "shell/skin_manager.h"

#include <cstring>

#include "shell/win_api_table.h"

namespace {

// A skin is a few hundred kilobytes; anything past this is not one.
constexpr LONGLONG kMaxSkinBytes = 64ll << 20;

bool GreyDesktop() { return GetSysColor(COLOR_MENU) == RGB(0xC0, 0xC0, 0xC0); }

bool ReadWholeFile(const wchar_t* path, std::vector<uint8_t>* out) {
  HANDLE file = WinApi().CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size = {};
  bool ok = GetFileSizeEx(file, &size) && size.QuadPart <= kMaxSkinBytes;
  if (ok) {
    out->resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    ok = out->empty() || (ReadFile(file, out->data(), static_cast<DWORD>(out->size()), &got, nullptr) &&
                          got == out->size());
  }
  CloseHandle(file);
  return ok;
}

}  // namespace

DibBitmap::~DibBitmap() {
  if ((flags_ & 1) && bitmap_) DeleteObject(bitmap_);
  flags_ &= ~1u;
}

HBITMAP DibBitmap::Create(std::vector<uint8_t> pixels, std::vector<uint8_t> palette, uint32_t width,
                          uint32_t height, uint32_t bitsPerPixel) {
  if (bitmap_ || width == 0 || height == 0 || (bitsPerPixel != 8 && bitsPerPixel != 24)) return nullptr;
  const uint64_t stride = shell::DibStride(width, bitsPerPixel);
  const uint64_t packedRow = uint64_t{width} * bitsPerPixel / 8;
  if (stride * height > 0x7FFFFFFF || pixels.size() < packedRow * height) return nullptr;
  width_ = width;
  height_ = height;
  bitsPerPixel_ = bitsPerPixel;
  stride_ = static_cast<uint32_t>(stride);
  imageSize_ = static_cast<uint32_t>(stride * height);
  packedSize_ = static_cast<uint32_t>(packedRow * height);

  struct {
    BITMAPINFOHEADER header;
    RGBQUAD colours[256];
  } info = {};
  const bool grey = GreyDesktop();
  if (bitsPerPixel == 8) {
    if (palette.size() < 1024) return nullptr;
    shell::PrepareSkinColours(palette.data(), 256, 4, grey);
    std::memcpy(info.colours, palette.data(), sizeof(info.colours));
  } else {
    shell::PrepareSkinColours(pixels.data(), packedSize_ / 3, bitsPerPixel / 8, grey);
  }
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = static_cast<LONG>(width);
  info.header.biHeight = -static_cast<LONG>(height);  // rows top to bottom
  info.header.biPlanes = 1;
  info.header.biBitCount = static_cast<WORD>(bitsPerPixel);
  info.header.biCompression = BI_RGB;
  info.header.biSizeImage = imageSize_;
  info.header.biClrUsed = bitsPerPixel == 8 ? 256 : 0;

  bitmap_ = CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits_, nullptr, 0);
  if (!bitmap_ || !bits_) {
    bitmap_ = nullptr;
    return nullptr;
  }
  flags_ |= 1;
  auto* out = static_cast<uint8_t*>(bits_);
  std::memset(out, 0, imageSize_);
  for (uint32_t y = 0; y < height; ++y) std::memcpy(out + y * stride, pixels.data() + y * packedRow, packedRow);
  GdiFlush();
  return bitmap_;
}

int SkinManager::LoadSkinFromPath(const wchar_t* path) {
  skin_ = shell::SkinFile{};
  bitmaps_.clear();
  std::vector<uint8_t> bytes;
  if (!path || !ReadWholeFile(path, &bytes)) {
    last_ = shell::SkinResult::kTruncated;
    return 0;
  }
  last_ = shell::ParseSkin(bytes.data(), bytes.size(), &skin_);
  if (last_ != shell::SkinResult::kOk) return 0;
  bitmaps_.resize(skin_.elements.size());
  for (size_t i = 0; i < skin_.elements.size(); ++i) {
    for (shell::SkinImage& image : skin_.elements[i].images) {
      auto dib = std::make_unique<DibBitmap>();
      // The skin keeps its own pixels for drawing checks; the bitmap gets copies.
      if (!dib->Create(image.pixels, image.palette, image.width, image.height, image.bitsPerPixel)) {
        last_ = shell::SkinResult::kTruncated;
        bitmaps_.clear();
        return 0;
      }
      bitmaps_[i].push_back(std::move(dib));
    }
  }
  return 1;
}

const shell::SkinElement* SkinManager::Element(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= skin_.elements.size()) return nullptr;
  return &skin_.elements[static_cast<size_t>(i)];
}

const shell::SkinImage* SkinManager::Image(int i, int j) const {
  const shell::SkinElement* e = Element(i);
  if (!e || j < 0 || static_cast<size_t>(j) >= e->images.size()) return nullptr;
  return &e->images[static_cast<size_t>(j)];
}

HBITMAP SkinManager::ImageBitmap(int i, int j) const {
  if (!Image(i, j) || static_cast<size_t>(i) >= bitmaps_.size() || static_cast<size_t>(j) >= bitmaps_[i].size())
    return nullptr;
  return bitmaps_[static_cast<size_t>(i)][static_cast<size_t>(j)]->Handle();
}

SIZE SkinManager::ImageSize(int i, int j) const {
  const shell::SkinImage* m = Image(i, j);
  return m ? SIZE{static_cast<LONG>(m->width), static_cast<LONG>(m->height)} : SIZE{0, 0};
}

POINT SkinManager::ImagePosition(int i, int j) const {
  const shell::SkinImage* m = Image(i, j);
  return m ? POINT{static_cast<LONG>(m->x), static_cast<LONG>(m->y)} : POINT{0, 0};
}

RECT SkinManager::ImageRect(int i, int j) const {
  const POINT p = ImagePosition(i, j);
  const SIZE s = ImageSize(i, j);
  return RECT{p.x, p.y, p.x + s.cx, p.y + s.cy};
}

POINT SkinManager::ElementPosition(int i) const {
  const shell::SkinElement* e = Element(i);
  return e ? POINT{static_cast<LONG>(e->x), static_cast<LONG>(e->y)} : POINT{0, 0};
}

SIZE SkinManager::ElementSize(int i) const {
  const shell::SkinElement* e = Element(i);
  return e ? SIZE{static_cast<LONG>(e->width), static_cast<LONG>(e->height)} : SIZE{0, 0};
}

RECT SkinManager::ElementRect(int i) const {
  const POINT p = ElementPosition(i);
  const SIZE s = ElementSize(i);
  return RECT{p.x, p.y, p.x + s.cx, p.y + s.cy};
}

int SkinManager::ElementImageCount(int i) const {
  const shell::SkinElement* e = Element(i);
  return e ? static_cast<int>(e->images.size()) : 0;
}

uint32_t SkinManager::ElementParameter(int i) const {
  const shell::SkinElement* e = Element(i);
  return e ? e->parameter : 0;
}

uint32_t SkinManager::ElementType(int i) const {
  const shell::SkinElement* e = Element(i);
  return e ? e->type : 0;
}

RECT SkinManager::VideoRect() const { return RECT{skin_.videoLeft, skin_.videoTop, skin_.videoRight, skin_.videoBottom}; }
