#include "shell/portable/skin_file.h"

#include <cstring>

namespace shell {
namespace {

// A little-endian byte reader over the block; a read past the end sets the
// sticky flag and yields zeros.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint16_t U16() {
    uint8_t b[2] = {};
    Bytes(b, 2);
    return static_cast<uint16_t>(b[0] | b[1] << 8);
  }
  uint32_t U32() {
    uint8_t b[4] = {};
    Bytes(b, 4);
    return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  }
  void Bytes(uint8_t* out, size_t n) {
    if (!Has(n)) {
      failed_ = true;
      at_ = size_;
      return;
    }
    if (n) std::memcpy(out, data_ + at_, n);
    at_ += n;
  }
  bool Has(uint64_t n) const { return n <= size_ - at_; }
  uint64_t Left() const { return size_ - at_; }
  bool Skip(uint64_t n) {
    if (!Has(n)) {
      failed_ = true;
      at_ = size_;
      return false;
    }
    at_ += static_cast<size_t>(n);
    return true;
  }
  bool Failed() const { return failed_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
  bool failed_ = false;
};

SkinResult ReadImage(Reader& r, SkinImage* image) {
  if (!r.Has(kSkinImageHeaderBytes)) return SkinResult::kTruncated;
  r.U32();  // skipped
  image->bitsPerPixel = r.U32();
  const uint32_t position = r.U32(), size = r.U32();
  image->x = position & 0xFFFF;
  image->y = position >> 16;
  image->width = size & 0xFFFF;
  image->height = size >> 16;
  if (image->width == 0 || image->height == 0) return SkinResult::kZeroSize;
  if (image->bitsPerPixel != 8 && image->bitsPerPixel != 24) return SkinResult::kBadDepth;
  if (image->bitsPerPixel == 8) {
    if (!r.Has(kSkinPaletteBytes)) return SkinResult::kTruncated;
    image->palette.resize(kSkinPaletteBytes);
    r.Bytes(image->palette.data(), kSkinPaletteBytes);
  }
  // In 64 bits: a 16-bit width and height cannot wrap it.
  const uint64_t n = uint64_t{image->bitsPerPixel} * image->height * image->width / 8;
  const uint64_t padding = n % 4 ? 4 - n % 4 : 0;
  if (!r.Has(n)) return SkinResult::kTruncated;
  image->pixels.resize(static_cast<size_t>(n));
  r.Bytes(image->pixels.data(), image->pixels.size());
  // The last record may end without its padding.
  r.Skip(padding < r.Left() ? padding : r.Left());
  return SkinResult::kOk;
}

SkinResult ReadElement(Reader& r, SkinElement* element) {
  if (!r.Has(kSkinElementBytes)) return SkinResult::kTruncated;
  element->type = r.U32();
  const uint32_t position = r.U32(), size = r.U32();
  element->x = position & 0xFFFF;
  element->y = position >> 16;
  element->width = size & 0xFFFF;
  element->height = size >> 16;
  const uint32_t imageCount = r.U32();
  element->parameter = r.U32();
  r.Bytes(element->text.data(), element->text.size());
  // Each image takes at least its header.
  if (uint64_t{imageCount} * kSkinImageHeaderBytes > r.Left()) return SkinResult::kBadCount;
  element->images.reserve(imageCount);
  for (uint32_t i = 0; i < imageCount; ++i) {
    element->images.emplace_back();
    const SkinResult result = ReadImage(r, &element->images.back());
    if (result != SkinResult::kOk) return result;
  }
  return SkinResult::kOk;
}

}  // namespace

const char* SkinResultName(SkinResult r) {
  switch (r) {
    case SkinResult::kOk: return "ok";
    case SkinResult::kTruncated: return "truncated";
    case SkinResult::kBadMagic: return "bad magic";
    case SkinResult::kBadVersion: return "bad version";
    case SkinResult::kBadCount: return "bad count";
    case SkinResult::kZeroSize: return "zero size";
    case SkinResult::kBadDepth: return "bad depth";
    case SkinResult::kMissingElement: return "missing element";
    case SkinResult::kBadSlider: return "bad slider";
  }
  return "?";
}

SkinResult ParseSkin(const uint8_t* data, size_t size, SkinFile* out) {
  *out = SkinFile{};
  Reader r(data, size);
  if (!r.Has(kSkinHeaderBytes)) return r.Has(2) && Reader(data, size).U16() != kSkinMagic ? SkinResult::kBadMagic
                                                                                          : SkinResult::kTruncated;
  out->magic = r.U16();
  out->second = r.U16();
  out->third = r.U16();
  out->version = r.U16();
  if (out->magic != kSkinMagic) return SkinResult::kBadMagic;
  if (out->version != kSkinVersion) return SkinResult::kBadVersion;
  out->elementCount = static_cast<int32_t>(r.U32());
  r.Bytes(out->name.data(), out->name.size());
  const uint32_t origin = r.U32(), extent = r.U32();
  out->videoLeft = static_cast<int32_t>(origin & 0xFFFF);
  out->videoTop = static_cast<int32_t>(origin >> 16);
  out->videoRight = out->videoLeft + static_cast<int32_t>(extent & 0xFFFF);
  out->videoBottom = out->videoTop + static_cast<int32_t>(extent >> 16);
  if (out->elementCount < 1) return SkinResult::kOk;
  if (uint64_t(out->elementCount) * kSkinElementBytes > r.Left()) return SkinResult::kBadCount;
  out->elements.reserve(static_cast<size_t>(out->elementCount));
  for (int32_t i = 0; i < out->elementCount; ++i) {
    out->elements.emplace_back();
    const SkinResult result = ReadElement(r, &out->elements.back());
    if (result != SkinResult::kOk) return result;
  }
  return r.Failed() ? SkinResult::kTruncated : SkinResult::kOk;
}

SkinResult CheckPlayerSkin(const SkinFile& skin, int* missingElement) {
  for (int e = 0; e < 11; ++e) {
    if (e >= static_cast<int>(skin.elements.size()) ||
        skin.elements[static_cast<size_t>(e)].images.size() < static_cast<size_t>(kPlayerSkinImages[e])) {
      if (missingElement) *missingElement = e;
      return SkinResult::kMissingElement;
    }
  }
  const std::vector<SkinImage>& slider = skin.elements[4].images;
  if (slider[0].height <= slider[1].height) return SkinResult::kBadSlider;
  return SkinResult::kOk;
}

}  // namespace shell

namespace shell {

void PrepareSkinColours(uint8_t* data, size_t entries, size_t step, bool greyDesktop) {
  for (size_t i = 0; i < entries; ++i) {
    uint8_t* c = data + i * step;
    if (greyDesktop && c[0] == 0xD4 && c[1] == 0xD0 && c[2] == 0xC8) c[0] = c[1] = c[2] = 0xC0;
    const uint8_t red = c[0];
    c[0] = c[2];
    c[2] = red;
  }
}

}  // namespace shell
