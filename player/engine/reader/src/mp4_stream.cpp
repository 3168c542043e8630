#include "reader/mp4_stream.h"

#include <string>

#include "platform/os.h"

namespace reader {

namespace {

int SeekFile(std::FILE* f, uint64_t pos) {
#ifdef _WIN32
  return _fseeki64(f, static_cast<int64_t>(pos), SEEK_SET);
#else
  return fseeko(f, static_cast<off_t>(pos), SEEK_SET);
#endif
}

uint64_t FileSize(std::FILE* f) {
#ifdef _WIN32
  if (_fseeki64(f, 0, SEEK_END) != 0) return 0;
  int64_t n = _ftelli64(f);
#else
  if (fseeko(f, 0, SEEK_END) != 0) return 0;
  int64_t n = ftello(f);
#endif
  return n > 0 ? static_cast<uint64_t>(n) : 0;
}

}  // namespace

Mp4Stream::Mp4Stream(std::FILE* file) : file_(file) {
  if (!file_) return;
  size_ = FileSize(file_);
  SeekFile(file_, 0);
}

bool Mp4Stream::Seek(uint64_t pos) {
  if (!file_ || pos > size_) return false;
  if (pos == pos_) return true;
  if (SeekFile(file_, pos) != 0) return false;
  pos_ = pos;
  return true;
}

bool Mp4Stream::Raw(uint8_t* out, uint32_t n) {
  if (!file_) return false;
  size_t got = std::fread(out, 1, n, file_);
  pos_ += got;
  return got == n;
}

bool Mp4Stream::ReadByte(uint8_t& v) {
  v = 0;
  uint8_t b;
  if (!Raw(&b, 1)) return false;
  v = b;
  return true;
}

bool Mp4Stream::ReadTwoBytes(uint8_t& a, uint8_t& b) {
  a = b = 0;
  uint8_t x[2];
  if (!Raw(x, 2)) return false;
  a = x[0];
  b = x[1];
  return true;
}

bool Mp4Stream::ReadU16(uint16_t& v) {
  v = 0;
  uint8_t x[2];
  if (!Raw(x, 2)) return false;
  v = static_cast<uint16_t>((x[0] << 8) | x[1]);
  return true;
}

bool Mp4Stream::ReadTwoU16(uint16_t& a, uint16_t& b) {
  a = b = 0;
  uint8_t x[4];
  if (!Raw(x, 4)) return false;
  a = static_cast<uint16_t>((x[0] << 8) | x[1]);
  b = static_cast<uint16_t>((x[2] << 8) | x[3]);
  return true;
}

bool Mp4Stream::ReadU24(uint32_t& v) {
  v = 0;
  uint8_t x[3];
  if (!Raw(x, 3)) return false;
  v = (uint32_t(x[0]) << 16) | (uint32_t(x[1]) << 8) | x[2];
  return true;
}

bool Mp4Stream::ReadU32(uint32_t& v) {
  v = 0;
  uint8_t x[4];
  if (!Raw(x, 4)) return false;
  v = (uint32_t(x[0]) << 24) | (uint32_t(x[1]) << 16) | (uint32_t(x[2]) << 8) | x[3];
  return true;
}

bool Mp4Stream::ReadAtomHeader(uint32_t& size, uint32_t& type) {
  size = type = 0;
  uint32_t s, t;
  if (!ReadU32(s) || !ReadU32(t)) return false;
  size = s;
  type = t;
  return true;
}

bool Mp4Stream::ReadU64(uint32_t& high, uint32_t& low) {
  high = low = 0;
  uint32_t h, l;
  if (!ReadU32(h) || !ReadU32(l)) return false;
  high = h;
  low = l;
  return true;
}

bool Mp4Stream::ReadBytes(void* out, uint32_t n) {
  return n == 0 || Raw(static_cast<uint8_t*>(out), n);
}

SharedWideString* Mp4Stream::ReadUtf8Text(uint64_t limit) {
  std::string bytes;
  uint8_t b;
  while (bytes.size() < 257 && pos_ < limit && ReadByte(b)) {
    if (b == 0) break;
    bytes.push_back(static_cast<char>(b));
  }
  if (bytes.size() > 256) bytes.resize(256);
  std::u16string text = platform::utf8ToUtf16(bytes);
  if (text.size() > 256) text.resize(256);
  return SharedWideString::Create(text);
}

SharedWideString* Mp4Stream::ReadUtf16Text(uint64_t limit, uint32_t maxUnits) {
  std::u16string text;
  uint16_t u;
  for (uint32_t i = 0; i < maxUnits; ++i) {
    if (pos_ + 2 > limit || !ReadU16(u)) return nullptr;
    if (u == 0) break;
    text.push_back(static_cast<char16_t>(u));
  }
  return SharedWideString::Create(text);
}

bool Mp4Stream::PeekByte(uint8_t& v) {
  uint64_t at = pos_;
  bool ok = ReadByte(v);
  SeekFile(file_, at);
  pos_ = at;
  return ok;
}

bool Mp4Stream::PeekU32(uint32_t& v) {
  uint64_t at = pos_;
  bool ok = ReadU32(v);
  SeekFile(file_, at);
  pos_ = at;
  return ok;
}

uint32_t Mp4Stream::PeekNthU32(uint32_t n) {
  if (n == 0) return 0;
  uint64_t at = pos_;
  uint32_t v = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (!ReadU32(v)) break;
  SeekFile(file_, at);
  pos_ = at;
  return v;
}

uint32_t Mp4Stream::PeekAtomType(uint64_t limit) {
  if (pos_ + 8 > limit || pos_ + 8 > size_) return 0;
  uint64_t at = pos_;
  uint32_t size, type;
  bool ok = ReadAtomHeader(size, type);
  SeekFile(file_, at);
  pos_ = at;
  return ok && IsKnownAtomType(type) ? type : 0;
}

bool IsKnownAtomType(uint32_t type) {
  static const uint32_t kKnown[] = {
      FourCC("moov"), FourCC("mvhd"), FourCC("trak"), FourCC("tkhd"), FourCC("tref"),
      FourCC("mdia"), FourCC("edts"), FourCC("elst"), FourCC("mdhd"), FourCC("hdlr"),
      FourCC("minf"), FourCC("vmhd"), FourCC("smhd"), FourCC("hmhd"), FourCC("nmhd"),
      FourCC("dinf"), FourCC("dref"), FourCC("url "), FourCC("urn "), FourCC("stbl"),
      FourCC("stts"), FourCC("ctts"), FourCC("stsd"), FourCC("esds"), FourCC("stsz"),
      FourCC("stsc"), FourCC("stco"), FourCC("stss"), FourCC("stsh"), FourCC("stdp"),
      FourCC("iods"), FourCC("mdat"), FourCC("free"), FourCC("skip"), FourCC("udta"),
      FourCC("wmfm"), FourCC("cver"), FourCC("vinf"), FourCC("rand"), FourCC("wmfs"),
      FourCC("ftyp"), FourCC("krmm"), FourCC("hnti"), FourCC("krti"), FourCC("krsy"),
      FourCC("rqmt"), FourCC("dnld"), FourCC("krsi"), FourCC("krmi"), FourCC("samr"),
      FourCC("s263"), FourCC("mp4a"), FourCC("mp4v"), FourCC("mp4s"), FourCC("uuid"),
  };
  for (uint32_t k : kKnown)
    if (k == type) return true;
  return false;
}

uint32_t CheckHandlerType(uint32_t type) {
  static const uint32_t kHandlers[] = {
      FourCC("soun"), FourCC("vide"), FourCC("hint"), FourCC("odsm"), FourCC("crsm"),
      FourCC("sdsm"), FourCC("m7sm"), FourCC("ocsm"), FourCC("ipsm"), FourCC("mjsm"),
  };
  for (uint32_t k : kHandlers)
    if (k == type) return type;
  return 10;
}

uint32_t DescriptorSizeFieldLength(uint64_t n) {
  if (n <= 126) return 1;
  if (n <= 16381) return 2;
  if (n <= 0x1FFFFC) return 3;
  if (n <= 0xFFFFFFFBull) return 4;
  return 0;
}

}  // namespace reader
