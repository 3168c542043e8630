#include "shell/portable/clip_descriptor.h"

#include <cstring>

namespace shell {

namespace {

// Reads fields in order; a read past the end fails and moves nothing.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool U16(uint16_t* v) {
    if (!Has(2)) return false;
    *v = static_cast<uint16_t>(data_[at_] | data_[at_ + 1] << 8);
    at_ += 2;
    return true;
  }
  bool U32(uint32_t* v) {
    if (!Has(4)) return false;
    *v = static_cast<uint32_t>(data_[at_]) | static_cast<uint32_t>(data_[at_ + 1]) << 8 |
         static_cast<uint32_t>(data_[at_ + 2]) << 16 | static_cast<uint32_t>(data_[at_ + 3]) << 24;
    at_ += 4;
    return true;
  }
  bool U8(uint8_t* v) {
    if (!Has(1)) return false;
    *v = data_[at_++];
    return true;
  }
  bool Text(size_t n, std::string* out) {
    if (!Has(n)) return false;
    out->assign(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return true;
  }
  // A text with a 16-bit length before it, at most limit bytes.
  bool CountedText(size_t limit, std::string* out) {
    uint16_t n = 0;
    return U16(&n) && n <= limit && Text(n, out);
  }
  template <size_t N>
  bool Fixed(char (&field)[N]) {
    if (!Has(N - 1)) return false;
    std::memcpy(field, data_ + at_, N - 1);
    field[N - 1] = 0;
    at_ += N - 1;
    return true;
  }

 private:
  bool Has(size_t n) const { return n <= size_ - at_; }
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

bool StartsWithUpper(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool Consistent(const ClipDescriptor& d) {
  if (d.entryFlags & kEntryBit1) {
    // Bit 1 of the flag word only counts when there is a trailing text.
    const bool trailerOffered = (d.flagWord & kHeaderBit1) && !d.trailer.empty();
    return d.value1 == 0 && d.value2 == 0xFFFFFFFFu && !(d.flagWord & kHeaderBit0) && !trailerOffered &&
           (d.entryFlags & kEntryBit0);
  }
  return !(d.entryFlags & (kEntryBit2 | kEntryModeBits | kEntryBit5)) && d.urlKind != kUrlHttp;
}

}  // namespace

uint32_t UrlKindOf(std::string_view url) {
  if (StartsWithUpper(url, "RTSP://")) return kUrlRtsp;
  if (StartsWithUpper(url, "HTTP://")) return kUrlHttp;
  if (StartsWithUpper(url, "FILE://")) return kUrlFile;
  return kUrlOther;
}

uint32_t ParseClipDescriptor(const uint8_t* body, size_t size, uint32_t dataVersion, ClipDescriptor* out) {
  *out = ClipDescriptor{};
  if (!body || size == 0) return kDescriptorBad;
  Reader r(body, size);
  if (!r.U16(&out->version)) return kDescriptorBad;
  if ((out->version >> 8) != ((dataVersion >> 8) & 0xFF)) return kDescriptorBad;
  uint16_t urlLength = 0, trailerLength = 0;
  if (!r.U16(&out->headerWord) || !r.CountedText(kDescriptorTextBytes, &out->title) ||
      !r.CountedText(kDescriptorTextBytes, &out->secondText) || !r.U8(&out->clipFlag) || !r.Fixed(out->text36) ||
      !r.Fixed(out->text20) || !r.Fixed(out->text16) || !r.Fixed(out->name) || !r.U16(&urlLength) ||
      !r.Text(urlLength, &out->url) || !r.U32(&out->value1) || !r.U32(&out->value2) || !r.U32(&out->entryFlags) ||
      !r.U16(&out->flagWord) || !r.U16(&trailerLength) || !r.Text(trailerLength, &out->trailer))
    return kDescriptorBad;
  out->urlKind = UrlKindOf(out->url);
  if (out->urlKind == kUrlFile) out->url.erase(0, 7);
  return Consistent(*out) ? kDescriptorOk : kDescriptorBad;
}

}  // namespace shell
