// Colour converters: a decoded planar YUV 4:2:0 picture into the pixel format
// of a display surface (4-bit grey, 8-bit palette, 12/16-bit masks, 24/32-bit
// RGB). All arithmetic is table look-up; tables are built once per converter.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "video/display_format.h"

// Mode bit of Convert: the 4-bit converter packs two pixels per byte.
constexpr uint32_t kConvertModePacked4 = 0x20;

class ColorConverter {
 public:
  virtual ~ColorConverter() = default;
  // Converts the picture described by `source` (planes Y, U, V) into `pixels`,
  // a surface described by `dest`, starting at (x, y). 1 after converting, 0
  // when the source or the destination cannot be used (nothing is written).
  virtual int Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
                      const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) = 0;

  // The palette this converter filled (empty without one).
  const std::vector<uint8_t>& palette() const { return palette_; }
  // Plain loops only, without the vector paths (they give the same bytes).
  void UsePlainPath(bool plain) { plain_ = plain; }
  // Vector code of the baseline set (SSE2) only, even where the processor
  // has more; the same bytes either way.
  void UseBaselineVectors(bool baseline) { baseline_ = baseline; }

 protected:
  explicit ColorConverter(const DisplayFormat& dest);

  // Source rows: the source `pitch` is the row length of the buffer the planes
  // lie in (the decoder's frames are wider than the picture when its width is
  // not a multiple of 16); a pitch below the width means packed rows.
  static int SourceStride(const DisplayFormat& source) {
    return source.pitch >= source.width ? source.pitch : source.width;
  }
  // The picture must fit the surface from (x, y) on.
  static bool Fits(const DisplayFormat& dest, const DisplayFormat& source, int x, int y);
  static bool IsYuv(const DisplayFormat& source) {
    return (source.kind & kDisplayKindPlanarYuv420) != 0;
  }
  uint8_t Clip(int v) const { return clip_[v + kClipOffset]; }
  // The YUV-to-RGB walk of the 12- to 32-bit converters; store(pixel, r, g, b)
  // writes one pixel of bytesPerPixel bytes.
  // fast(Y, U, V, pixels, width) converts a leading part of a row with vector
  // code and returns how many pixels it did (an even count); the plain loop
  // does the rest.
  template <class Store, class Fast>
  int ConvertYuvToRgb(const uint8_t* const planes[3], uint8_t* pixels, int x, int y, const DisplayFormat& dest,
                      const DisplayFormat& source, int bytesPerPixel, Store store, Fast fast) const;
  bool plain_ = false;
  bool baseline_ = false;

  static constexpr int kClipOffset = 384;
  DisplayFormat format_;
  int coefficientRow_ = 5;
  uint8_t clip_[1024];
  int Ytab_[256], UBtab_[256], VRtab_[256], UGtab_[256], VGtab_[256];
  std::vector<uint8_t> palette_;
};

class ColorConverter4 : public ColorConverter {
 public:
  explicit ColorConverter4(const DisplayFormat& dest) : ColorConverter(dest) {}
  int Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
              const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) override;

 private:
  void Diffuse(int width, int height);
  std::vector<uint8_t> grey_;  // work copy of the Y plane, kept between calls
};

class ColorConverter8 : public ColorConverter {
 public:
  explicit ColorConverter8(const DisplayFormat& dest);
  int Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
              const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) override;

 private:
  uint8_t LY_[272];  // luma level for Y + dither - 8, indices -8..263
  uint8_t LU_[144], LV_[144];
  uint8_t M_[256];
};

// 12 and 16 bits per pixel: one 16-bit pixel assembled from three mask tables.
class ColorConverter16 : public ColorConverter {
 public:
  explicit ColorConverter16(const DisplayFormat& dest);
  int Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
              const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) override;
  // The 16-bit pixel of a colour.
  uint16_t Pixel(uint8_t r, uint8_t g, uint8_t b) const { return red_[r] | green_[g] | blue_[b]; }

 private:
  uint16_t red_[256], green_[256], blue_[256];
  // The same packing as shifts: channel >> right << left, within the mask.
  struct Packing { int right, left; uint16_t mask; };
  Packing packing_[3];
};

class ColorConverter12 : public ColorConverter16 {
 public:
  using ColorConverter16::ColorConverter16;
};

// 24 and 32 bits per pixel: bytes blue, green, red (and 0).
class ColorConverter24 : public ColorConverter {
 public:
  explicit ColorConverter24(const DisplayFormat& dest) : ColorConverter(dest) {}
  int Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
              const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) override;
};

class ColorConverter32 : public ColorConverter24 {
 public:
  using ColorConverter24::ColorConverter24;
};

class ColorConverterHolder {
 public:
  // Replaces the converter by the one for dest.bitsPerPixel; 1 when one was
  // made, 0 for an unsupported depth (the holder is then empty).
  int Select(const DisplayFormat& dest);
  // 1 after converting, 0 without a converter or when it refused.
  int Convert(const uint8_t* const planes[3], uint8_t* pixels, int x, int y,
              const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode);
  ColorConverter* converter() const { return converter_.get(); }

 private:
  std::unique_ptr<ColorConverter> converter_;
};
