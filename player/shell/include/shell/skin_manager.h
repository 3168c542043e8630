// The skin: its images as top-down DIB sections (DibBitmap) and the
// geometry lookups of the skin windows and controls. User-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "shell/portable/skin_file.h"

// One skin image as a DIB section; owns the bitmap.
class DibBitmap {
 public:
  DibBitmap() = default;
  ~DibBitmap();
  DibBitmap(const DibBitmap&) = delete;
  DibBitmap& operator=(const DibBitmap&) = delete;

  // Takes the packed rows (skin byte order) and, for 8-bit images, the
  // palette; null when the bitmap cannot be made.
  HBITMAP Create(std::vector<uint8_t> pixels, std::vector<uint8_t> palette, uint32_t width, uint32_t height,
                 uint32_t bitsPerPixel);
  HBITMAP Handle() const { return bitmap_; }
  uint32_t Stride() const { return stride_; }
  uint32_t ImageSize() const { return imageSize_; }
  uint32_t PackedSize() const { return packedSize_; }

 private:
  uint32_t flags_ = 0;  // bit 0: owns the bitmap
  void* bits_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  uint32_t width_ = 0, height_ = 0, bitsPerPixel_ = 0;
  uint32_t stride_ = 0, imageSize_ = 0, packedSize_ = 0;
};

class SkinManager {
 public:
  SkinManager() = default;
  SkinManager(const SkinManager&) = delete;
  SkinManager& operator=(const SkinManager&) = delete;

  // 1 when the file is a complete skin and every image became a bitmap.
  int LoadSkinFromPath(const wchar_t* path);
  shell::SkinResult LastResult() const { return last_; }
  const shell::SkinFile& Skin() const { return skin_; }

  // Lookups by element i and image j; out of range gives null or zeros.
  HBITMAP ImageBitmap(int i, int j) const;
  SIZE ImageSize(int i, int j) const;
  POINT ImagePosition(int i, int j) const;
  RECT ImageRect(int i, int j) const;
  POINT ElementPosition(int i) const;
  SIZE ElementSize(int i) const;
  RECT ElementRect(int i) const;
  int ElementImageCount(int i) const;
  uint32_t ElementParameter(int i) const;
  uint32_t ElementType(int i) const;
  const shell::SkinElement* Element(int i) const;
  RECT VideoRect() const;

 private:
  const shell::SkinImage* Image(int i, int j) const;

  shell::SkinFile skin_;
  shell::SkinResult last_ = shell::SkinResult::kOk;
  std::vector<std::vector<std::unique_ptr<DibBitmap>>> bitmaps_;
};
