// The skin file (.ksk): little-endian, a 276-byte header (magic 0xE0E0,
// version 0x0201), 276-byte element records each followed by its image
// records (16-byte header, a 1024-byte RGBx palette for 8-bit images, packed
// top-down RGB or index pixels, padded to 4 bytes). Parsed from a byte block:
// every count and size is checked against the bytes that are there before
// anything is allocated.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace shell {

constexpr uint16_t kSkinMagic = 0xE0E0;
constexpr uint16_t kSkinVersion = 0x0201;
constexpr size_t kSkinHeaderBytes = 276;
constexpr size_t kSkinElementBytes = 276;
constexpr size_t kSkinImageHeaderBytes = 16;
constexpr size_t kSkinPaletteBytes = 1024;

enum class SkinResult {
  kOk = 0,
  kTruncated,     // the data ends inside a record
  kBadMagic,
  kBadVersion,
  kBadCount,      // more elements or images than the bytes could hold
  kZeroSize,      // an image of width or height 0
  kBadDepth,      // bits per pixel other than 8 or 24
  kMissingElement,  // the player's elements or images are not all there
  kBadSlider,     // the slider's track is not taller than its thumb
};
const char* SkinResultName(SkinResult r);

struct SkinImage {
  uint32_t width = 0, height = 0, x = 0, y = 0, bitsPerPixel = 0;
  std::vector<uint8_t> palette;  // 1024 bytes (R, G, B, unused) for 8-bit images
  std::vector<uint8_t> pixels;   // packed rows, top to bottom
};

struct SkinElement {
  uint32_t type = 0, x = 0, y = 0, width = 0, height = 0, parameter = 0;
  std::array<uint8_t, 256> text = {};
  std::vector<SkinImage> images;
};

struct SkinFile {
  uint16_t magic = 0, second = 0, third = 0, version = 0;
  std::array<uint8_t, 256> name = {};
  int32_t elementCount = 0;
  int32_t videoLeft = 0, videoTop = 0, videoRight = 0, videoBottom = 0;
  std::vector<SkinElement> elements;
};

// Parses a whole skin; on failure out holds what was read before the fault.
SkinResult ParseSkin(const uint8_t* data, size_t size, SkinFile* out);

// The elements and images the player draws: 0 image 0; 1 images 0-5; 2 and
// 3 images 0-2; 4 images 0-1 with a track taller than the thumb; 5 image 0;
// 6 images 0-7; 7 to 10 image 0. missingElement is set on kMissingElement.
SkinResult CheckPlayerSkin(const SkinFile& skin, int* missingElement = nullptr);

// Images each element of the player's skin must have.
constexpr int kPlayerSkinImages[11] = {1, 6, 3, 3, 2, 1, 8, 1, 1, 1, 1};

}  // namespace shell

namespace shell {

// Bytes between row starts of a DIB: rows padded to 32 bits.
constexpr uint64_t DibStride(uint32_t width, uint32_t bitsPerPixel) {
  return (uint64_t{width} * bitsPerPixel + 31) / 32 * 4;
}

// Turns skin-order colour entries (R, G, B[, unused]) at the given step into
// the bitmap's order (B, G, R): on a grey desktop (menu colour 0xC0C0C0) the
// classic face (212, 208, 200) first becomes (192, 192, 192).
void PrepareSkinColours(uint8_t* data, size_t entries, size_t step, bool greyDesktop);

}  // namespace shell
