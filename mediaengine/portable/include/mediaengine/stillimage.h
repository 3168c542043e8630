// Still images in the engine's picture form: a 24-bit bottom-up bitmap whose
// rows are B G R bytes padded to 4, behind a 40-byte bitmap information
// header. The BMP reader and writer and the row and pixel routines work on
// bytes in memory; the Windows side reads and writes the files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace mediaengine {

// The 40-byte bitmap information header, field for field.
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t colorsUsed = 0;
  uint32_t colorsImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

// The largest picture the engine keeps; larger ones are scaled down.
constexpr int kStillMaxWidth = 1280;
constexpr int kStillMaxHeight = 1024;
// The largest picture the BMP reader accepts at all: per side, and in all
// (64 Mpixel, 192 MiB of rows).
constexpr int kBmpMaxSide = 16384;
constexpr int64_t kBmpMaxPixels = int64_t(1) << 26;

// Bytes in one 24-bit row padded to 4.
constexpr size_t RowSize24(int width) { return (static_cast<size_t>(width) * 24 + 31) / 32 * 4; }

struct StillPicture {
  BitmapInfoHeader header;
  std::vector<uint8_t> pixels;  // bottom-up, rows of RowSize24(width)
};

enum class ImageKind { Invalid, Bmp, Jpeg };
// By the text after the last "." of the name, in lower case.
ImageKind ImageKindFromName(const std::string& name);

// Reads a BMP file's bytes into rows of width x 3 bytes, top row first.
// Sets the error text and answers false for anything it cannot read.
struct BmpImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rows;
};
bool ReadBmp(const uint8_t* data, size_t size, BmpImage* image, std::string* error);

// The BMP file of a picture given as bottom-up padded rows.
std::vector<uint8_t> WriteBmp(const uint8_t* pixels, int width, int height);

// A BMP file's bytes as the engine's picture: read, padded, flipped to
// bottom-up, scaled down to 1280 x 1024 at most.
bool LoadBmpPicture(const uint8_t* data, size_t size, StillPicture* picture, std::string* error);

// The engine's picture from padded top-down rows (a decoded JPEG): flipped
// to bottom-up and scaled down to 1280 x 1024 at most.
void MakeStillPicture(std::vector<uint8_t> rows, int width, int height, StillPicture* picture);

// Packs rows of width x 3 bytes into rows padded to 4.
void PadRows(const uint8_t* packed, int width, int height, uint8_t* padded);
// Reverses the order of the padded rows in place.
void FlipRows(uint8_t* pixels, int width, int height);
// Area averaging of padded 24-bit rows, for reducing only (dw <= sw, dh <= sh).
void ScaleDown(const uint8_t* source, int sw, int sh, uint8_t* destination, int dw, int dh);
// Planar YUV 4:2:0 to unpadded B G R rows.
void Yuv420ToRgb24(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int width, int height);

}  // namespace mediaengine
