// Description of a picture buffer or a display surface, shared by the video
// renderer and the colour converters.
#pragma once

#include <cstdint>

// Bits of DisplayFormat::kind.
constexpr uint32_t kDisplayKindPlanarYuv420 = 1;  // Y plane, then U and V of a quarter size
constexpr uint32_t kDisplayKindPackedRgb = 2;

struct DisplayFormat {
  int32_t bitsPerPixel;  // 12 for a YUV 4:2:0 picture
  int32_t height;
  int32_t width;
  int32_t left;
  int32_t top;
  uint32_t kind;
  int32_t pitch;  // pixels per row of the buffer
  int32_t rows;   // rows of the buffer
  uint32_t extraMask;
  uint32_t redMask;
  uint32_t greenMask;
  uint32_t blueMask;
  uint8_t* palette;  // paletteSize four-byte entries, or null
  uint32_t paletteSize;
};
// Fourteen 32-bit words on the 32-bit target, where the renderer shares it.
static_assert(sizeof(void*) != 4 || sizeof(DisplayFormat) == 56);
