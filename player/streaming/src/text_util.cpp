#include "streaming/text_util.h"

#include <cstdlib>
#include <string>

#include "platform/os.h"

namespace streaming {

const char* SkipBlanks(const char* start, const char* end) {
  if (!start) return nullptr;
  while (start < end && IsBlank(*start)) ++start;
  return start;
}

const char* SkipWhiteSpace(const char* start, const char* end) {
  if (!start) return nullptr;
  while (start < end && IsWhiteSpace(*start)) ++start;
  return start;
}

const char* FindTokenEnd(const char* start, const char* end) {
  if (!start) return nullptr;
  while (start < end && !IsWhiteSpace(*start)) ++start;
  return start;
}

const char* FindLineEnd(const char* start, const char* end) {
  if (!start) return nullptr;
  while (start < end && *start != '\r' && *start != '\n') ++start;
  return start;
}

const char* SkipBlanksText(const char* text) {
  if (!text) return nullptr;
  while (IsBlank(*text)) ++text;
  return text;
}

namespace {
int digitValue(char c, bool hex) {
  if (c >= '0' && c <= '9') return c - '0';
  if (hex && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (hex && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

bool ParseUnsigned(const char* text, int base, uint32_t length, uint32_t& value) {
  const bool hex = base == 'x';
  const uint64_t radix = hex ? 16 : 10;
  uint64_t v = 0;
  value = 0;
  for (uint32_t i = 0; i < length; ++i) {
    int d = digitValue(text[i], hex);
    if (d < 0) return false;
    // Checked in 64 bits: a wrap need not make the value smaller.
    v = v * radix + uint64_t(d);
    if (v > 0xFFFFFFFFu) return false;
  }
  value = uint32_t(v);
  return true;
}

bool ParseUnsignedText(const char* text, int base, uint32_t& value) {
  uint32_t n = 0;
  while (text[n]) ++n;
  return ParseUnsigned(text, base, n, value);
}

const char* ReadDecimal(const char* text, const char* end, uint32_t& value) {
  const char* p = text;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  if (p == text || !ParseUnsigned(text, 'd', uint32_t(p - text), value)) return nullptr;
  return p;
}

uint32_t CopyToken(const char* start, const char* end, char* out, uint32_t size) {
  const char* t = SkipBlanks(start, end);
  const char* e = FindTokenEnd(t, end);
  auto length = uint32_t(e - t);
  if (size == 0) return length;
  uint32_t n = length < size ? length : size - 1;
  for (uint32_t i = 0; i < n; ++i) out[i] = t[i];
  out[n] = 0;
  return length;
}

uint32_t CopyTokenText(const char* text, char* out, uint32_t size) {
  const char* end = text;
  while (*end) ++end;
  return CopyToken(text, end, out, size);
}

bool ParseRtpmapHead(const char* start, const char* end, uint32_t& payloadType,
                     const char*& name, uint32_t& nameLength) {
  static const char kHead[] = "a=rtpmap:";
  if (end - start < 9) return false;
  for (int i = 0; i < 9; ++i) {
    if (start[i] != kHead[i]) return false;
  }
  const char* p = start + 9;
  const char* e = FindTokenEnd(p, end);
  if (e == p || !ParseUnsigned(p, 'd', uint32_t(e - p), payloadType)) return false;
  p = SkipBlanks(e, end);
  const char* n = p;
  while (n < end && !IsBlank(*n) && *n != '/') ++n;
  if (n == end || n == p) return false;
  name = p;
  nameLength = uint32_t(n - p);
  return true;
}

void StringListHolder::Release() {
  if (mode_ != 1 || !list_) return;
  for (uint32_t i = 0; i < list_->count; ++i) std::free(list_->texts[i]);
  for (uint32_t i = 0; i < list_->count2; ++i) std::free(list_->texts2[i]);
  std::free(list_->texts);
  std::free(list_->texts2);
  list_->count = list_->count2 = 0;
  std::free(list_);
  list_ = nullptr;
  mode_ = 0;
}

uint32_t Utf16ToUtf8(const char16_t* source, uint32_t units, char* out, uint32_t size) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < units; ++i) {
    uint32_t c = source[i];
    uint32_t need;
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 1 >= units || source[i + 1] < 0xDC00 || source[i + 1] > 0xDFFF) return 0;
      c = 0x10000 + ((c - 0xD800) << 10) + (source[i + 1] - 0xDC00u);
      ++i;
      need = 4;
    } else if (c >= 0xDC00 && c <= 0xDFFF) {
      return 0;  // a lone low surrogate
    } else {
      need = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
    if (n + need + 1 > size) return 0;
    switch (need) {
      case 1:
        out[n++] = char(c);
        break;
      case 2:
        out[n++] = char(0xC0 | (c >> 6));
        out[n++] = char(0x80 | (c & 0x3F));
        break;
      case 3:
        out[n++] = char(0xE0 | (c >> 12));
        out[n++] = char(0x80 | ((c >> 6) & 0x3F));
        out[n++] = char(0x80 | (c & 0x3F));
        break;
      default:
        out[n++] = char(0xF0 | (c >> 18));
        out[n++] = char(0x80 | ((c >> 12) & 0x3F));
        out[n++] = char(0x80 | ((c >> 6) & 0x3F));
        out[n++] = char(0x80 | (c & 0x3F));
        break;
    }
  }
  if (n + 1 > size) return 0;
  out[n] = 0;
  return n;
}

uint32_t Utf8ToUtf16(const char* source, uint32_t bytes, char16_t* out, uint32_t sizeInUnits) {
  auto s = reinterpret_cast<const uint8_t*>(source);
  auto cont = [&](uint32_t at) { return (s[at] & 0xC0) == 0x80; };
  uint32_t n = 0;
  for (uint32_t i = 0; i < bytes;) {
    uint8_t b = s[i];
    uint32_t c;
    if (b >= 0xF0) {
      if (i + 3 >= bytes || !cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return 0;
      c = (uint32_t(b & 0x07) << 18) | (uint32_t(s[i + 1] & 0x3F) << 12) |
          (uint32_t(s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
      if (c < 0x10000 || c > 0x10FFFF) return 0;
      if (n + 3 > sizeInUnits) return 0;
      c -= 0x10000;
      out[n++] = char16_t(0xD800 + (c >> 10));
      out[n++] = char16_t(0xDC00 + (c & 0x3FF));
      i += 4;
      continue;
    }
    if (b >= 0xE0) {
      if (i + 2 >= bytes || !cont(i + 1) || !cont(i + 2)) return 0;
      c = (uint32_t(b & 0x0F) << 12) | (uint32_t(s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      i += 3;
    } else if (b >= 0xC0) {
      if (i + 1 >= bytes || !cont(i + 1)) return 0;
      c = (uint32_t(b & 0x1F) << 6) | (s[i + 1] & 0x3F);
      i += 2;
    } else {
      // Lone bytes below 0xC0 keep their value, as texts from older peers
      // may be Latin-1.
      c = b;
      i += 1;
    }
    if (n + 2 > sizeInUnits) return 0;
    out[n++] = char16_t(c);
  }
  if (n + 1 > sizeInUnits) return 0;
  out[n] = 0;
  return n;
}

std::FILE* OpenFileW(const char16_t* path, const char16_t* mode) {
  if (!path || !mode) return nullptr;
  std::string m;
  for (const char16_t* p = mode; *p; ++p) {
    if (*p > 0x7F) return nullptr;
    m.push_back(char(*p));
  }
  return platform::openFile(std::u16string_view(path), m.c_str());
}

size_t FileRead(void* buffer, size_t size, size_t count, std::FILE* f) {
  return std::fread(buffer, size, count, f);
}
size_t FileWrite(const void* buffer, size_t size, size_t count, std::FILE* f) {
  return std::fwrite(buffer, size, count, f);
}
int FileSeek(std::FILE* f, long offset, int origin) { return std::fseek(f, offset, origin); }
long FileTell(std::FILE* f) { return std::ftell(f); }
int FileClose(std::FILE* f) { return std::fclose(f); }
int FileFlush(std::FILE* f) { return std::fflush(f); }
bool FileAtEnd(std::FILE* f) { return std::feof(f) != 0; }
bool FileHasError(std::FILE* f) { return std::ferror(f) != 0; }

}  // namespace streaming
