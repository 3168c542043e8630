#include "mediaengine/stillimage.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace mediaengine {

namespace {

// Little-endian reads with a sticky short-read flag: the reader checks once
// per header or row.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return Have(1) ? data_[pos_++] : 0; }
  uint16_t U16() {
    uint16_t lo = U8();
    return static_cast<uint16_t>(lo | (U8() << 8));
  }
  uint32_t U32() {
    uint32_t lo = U16();
    return lo | (static_cast<uint32_t>(U16()) << 16);
  }
  const uint8_t* Take(size_t n) {
    if (!Have(n)) return nullptr;
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  bool Seek(size_t pos) {
    if (pos > size_) return Fail();
    pos_ = pos;
    return true;
  }
  size_t Pos() const { return pos_; }
  size_t Size() const { return size_; }
  bool Short() const { return short_; }

 private:
  bool Have(size_t n) {
    if (n <= size_ - pos_) return true;
    return Fail();
  }
  bool Fail() {
    short_ = true;
    pos_ = size_;
    return false;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool short_ = false;
};

struct PaletteEntry {
  uint8_t b, g, r;
};

bool Fail(std::string* error, const char* text) {
  *error = text;
  return false;
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

ImageKind ImageKindFromName(const std::string& name) {
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos) return ImageKind::Invalid;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (ext == "bmp") return ImageKind::Bmp;
  if (ext == "jpg" || ext == "jpeg") return ImageKind::Jpeg;
  return ImageKind::Invalid;
}

bool ReadBmp(const uint8_t* data, size_t size, BmpImage* image, std::string* error) {
  *image = BmpImage{};
  error->clear();
  ByteReader in(data, size);
  if (in.U8() != 'B' || in.U8() != 'M') return Fail(error, "Not a valid BMP File");
  in.U32();  // file size: not trusted, the data's own size counts
  in.U16();
  in.U16();
  uint32_t pixelOffset = in.U32();
  BitmapInfoHeader h;
  h.size = in.U32();
  h.width = static_cast<int32_t>(in.U32());
  h.height = static_cast<int32_t>(in.U32());
  h.planes = in.U16();
  h.bitCount = in.U16();
  h.compression = in.U32();
  h.imageSize = in.U32();
  h.xPelsPerMeter = static_cast<int32_t>(in.U32());
  h.yPelsPerMeter = static_cast<int32_t>(in.U32());
  h.colorsUsed = in.U32();
  h.colorsImportant = in.U32();
  if (in.Short()) return Fail(error, "Read Error");
  if (h.size < 40) return Fail(error, "Not a valid BMP File");
  // Later header versions carry more fields before the palette.
  if (!in.Seek(14 + size_t(h.size))) return Fail(error, "Read Error");
  if (h.compression != 0) return Fail(error, "This is a compressed file.");
  if (h.width <= 0 || h.height <= 0 || h.width > kBmpMaxSide || h.height > kBmpMaxSide ||
      int64_t(h.width) * h.height > kBmpMaxPixels)
    return Fail(error, "Unsupported image size");

  const int bits = h.bitCount;
  std::vector<PaletteEntry> palette;
  if (bits == 1 || bits == 4 || bits == 8) {
    uint32_t most = 1u << bits;
    if (h.colorsUsed > most) return Fail(error, "Corrupt palette");
    uint32_t count = h.colorsUsed ? h.colorsUsed : most;
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = in.Take(4);
      if (!e) return Fail(error, "Read Error!");
      palette.push_back({e[0], e[1], e[2]});
    }
  } else if (bits != 16 && bits != 24) {
    return Fail(error, "Unsupported bit count");
  }
  if (in.Pos() > pixelOffset) return Fail(error, "Corrupt palette");
  if (!in.Seek(pixelOffset)) return Fail(error, "Read Error");

  const size_t width = size_t(h.width), height = size_t(h.height);
  const size_t rowBytes = (width * size_t(bits) + 7) / 8;
  const size_t fileRow = (rowBytes + 3) / 4 * 4;
  // Every row must be there before anything is allocated for them.
  if ((height - 1) * fileRow + rowBytes > size - pixelOffset) return Fail(error, "Read Error");

  image->width = h.width;
  image->height = h.height;
  image->rows.assign(width * 3 * height, 0);
  for (size_t r = 0; r < height; ++r) {
    // The file's rows are bottom-up; the buffer's top-down.
    uint8_t* out = image->rows.data() + (height - 1 - r) * width * 3;
    const uint8_t* row = data + pixelOffset + r * fileRow;
    if (bits == 24) {
      std::memcpy(out, row, width * 3);
    } else if (bits != 16) {  // 16-bit pixels stay black
      const int perByte = 8 / bits;
      const unsigned mask = (1u << bits) - 1;
      for (size_t x = 0; x < width; ++x) {
        unsigned shift = unsigned(8 - bits - bits * int(x % size_t(perByte)));
        unsigned index = (row[x / size_t(perByte)] >> shift) & mask;
        // An index beyond the palette stays black.
        if (index < palette.size()) {
          out[3 * x] = palette[index].b;
          out[3 * x + 1] = palette[index].g;
          out[3 * x + 2] = palette[index].r;
        }
      }
    }
  }
  return true;
}

std::vector<uint8_t> WriteBmp(const uint8_t* pixels, int width, int height) {
  const size_t row = RowSize24(width);
  std::vector<uint8_t> out;
  out.reserve(54 + row * size_t(height));
  out.push_back('B');
  out.push_back('M');
  Put32(out, static_cast<uint32_t>(row * size_t(height) + 54));
  Put16(out, 0);
  Put16(out, 0);
  Put32(out, 54);
  Put32(out, 40);
  Put32(out, static_cast<uint32_t>(width));
  Put32(out, static_cast<uint32_t>(height));
  Put16(out, 1);
  Put16(out, 24);
  for (int i = 0; i < 6; ++i) Put32(out, 0);  // compression, image size, resolutions, colours
  out.insert(out.end(), pixels, pixels + row * size_t(height));
  return out;
}

bool LoadBmpPicture(const uint8_t* data, size_t size, StillPicture* picture, std::string* error) {
  BmpImage image;
  if (!ReadBmp(data, size, &image, error)) return false;
  const size_t row = RowSize24(image.width);
  std::vector<uint8_t> padded(row * size_t(image.height));
  PadRows(image.rows.data(), image.width, image.height, padded.data());
  // The padding makes the picture one column wider where it holds a whole pixel.
  MakeStillPicture(std::move(padded), static_cast<int>(row / 3), image.height, picture);
  return true;
}

void MakeStillPicture(std::vector<uint8_t> rows, int width, int height, StillPicture* picture) {
  FlipRows(rows.data(), width, height);
  if (width > kStillMaxWidth || height > kStillMaxHeight) {
    int dw = std::min(width, kStillMaxWidth), dh = std::min(height, kStillMaxHeight);
    std::vector<uint8_t> scaled(RowSize24(dw) * size_t(dh));
    ScaleDown(rows.data(), width, height, scaled.data(), dw, dh);
    rows.swap(scaled);
    width = dw;
    height = dh;
  }
  picture->header = BitmapInfoHeader{};
  picture->header.width = width;
  picture->header.height = height;
  picture->header.imageSize = static_cast<uint32_t>(rows.size());
  picture->pixels = std::move(rows);
}

void PadRows(const uint8_t* packed, int width, int height, uint8_t* padded) {
  const size_t in = size_t(width) * 3, out = RowSize24(width);
  for (int y = 0; y < height; ++y) {
    std::memcpy(padded + size_t(y) * out, packed + size_t(y) * in, in);
    std::memset(padded + size_t(y) * out + in, 0, out - in);
  }
}

void FlipRows(uint8_t* pixels, int width, int height) {
  if (height <= 0) return;
  const size_t row = RowSize24(width);
  std::vector<uint8_t> temp(row);
  for (int i = 0; i < height / 2; ++i) {
    uint8_t* a = pixels + size_t(i) * row;
    uint8_t* b = pixels + size_t(height - 1 - i) * row;
    std::memcpy(temp.data(), a, row);
    std::memcpy(a, b, row);
    std::memcpy(b, temp.data(), row);
  }
}

void ScaleDown(const uint8_t* source, int sw, int sh, uint8_t* destination, int dw, int dh) {
  const size_t srcRow = RowSize24(sw), dstRow = RowSize24(dw);
  for (int y = 0; y < dh; ++y) {
    const int64_t y0 = int64_t(y) * sh / dh, y1 = int64_t(y + 1) * sh / dh;
    uint8_t* out = destination + size_t(y) * dstRow;
    std::memset(out + size_t(dw) * 3, 0, dstRow - size_t(dw) * 3);
    for (int x = 0; x < dw; ++x) {
      const int64_t x0 = int64_t(x) * sw / dw, x1 = int64_t(x + 1) * sw / dw;
      uint64_t sum[3] = {0, 0, 0};
      for (int64_t sy = y0; sy < y1; ++sy) {
        const uint8_t* p = source + size_t(sy) * srcRow + size_t(x0) * 3;
        for (int64_t sx = x0; sx < x1; ++sx, p += 3)
          for (int c = 0; c < 3; ++c) sum[c] += p[c];
      }
      const uint64_t n = uint64_t((y1 - y0) * (x1 - x0));
      for (int c = 0; c < 3; ++c) out[size_t(x) * 3 + size_t(c)] = static_cast<uint8_t>(n ? sum[c] / n : 0);
    }
  }
}

void Yuv420ToRgb24(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int width, int height) {
  const size_t chromaWidth = (size_t(width) + 1) / 2;
  auto clamp = [](int value) { return static_cast<uint8_t>(std::clamp(value, 0, 255)); };
  for (int row = 0; row < height; ++row) {
    const uint8_t* yRow = y + size_t(row) * size_t(width);
    const uint8_t* uRow = u + size_t(row / 2) * chromaWidth;
    const uint8_t* vRow = v + size_t(row / 2) * chromaWidth;
    uint8_t* o = out + size_t(row) * size_t(width) * 3;
    for (int x = 0; x < width; ++x) {
      const int cu = uRow[x / 2] - 128, cv = vRow[x / 2] - 128;
      const int luma = (149 * yRow[x] - 2384) >> 7;
      o[3 * x] = clamp(luma + (258 * cu) / 128);
      o[3 * x + 1] = clamp(luma - (13 * cv) / 16 - (50 * cu) / 128);
      o[3 * x + 2] = clamp(luma + (204 * cv) / 128);
    }
  }
}

}  // namespace mediaengine
