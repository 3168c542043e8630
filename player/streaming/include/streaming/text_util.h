// Scanning of bounded byte texts, UTF-16/UTF-8 conversion with output
// bounds, and opening a file by a UTF-16 path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace streaming {

// Bounded texts are [start, end); nothing at or beyond end is read.
const char* SkipBlanks(const char* start, const char* end);
const char* SkipWhiteSpace(const char* start, const char* end);
const char* FindTokenEnd(const char* start, const char* end);
const char* FindLineEnd(const char* start, const char* end);
const char* SkipBlanksText(const char* text);

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }
inline bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// base 'x' hexadecimal, anything else decimal. Every byte must be a digit of
// the base; any overflow of 32 bits fails. Length 0 gives true and 0.
bool ParseUnsigned(const char* text, int base, uint32_t length, uint32_t& value);
bool ParseUnsignedText(const char* text, int base, uint32_t& value);
// Reads the decimal digits at text (at least one, up to end or a non-digit)
// into value; returns the position behind them, or null on no digit or
// overflow.
const char* ReadDecimal(const char* text, const char* end, uint32_t& value);

// Copies the token after the blanks at start into out (cut and terminated
// when it does not fit); returns the token's full length.
uint32_t CopyToken(const char* start, const char* end, char* out, uint32_t size);
uint32_t CopyTokenText(const char* text, char* out, uint32_t size);

// "a=rtpmap:<pt> <name>/...": the payload type and the encoding name.
bool ParseRtpmapHead(const char* start, const char* end, uint32_t& payloadType,
                     const char*& name, uint32_t& nameLength);

struct StringList {
  uint32_t count = 0;
  char** texts = nullptr;
  uint32_t count2 = 0;
  char** texts2 = nullptr;
};

// Holds a list; when owned (mode 1) releasing frees every text of both
// arrays, the arrays and the record (all from malloc).
class StringListHolder {
 public:
  explicit StringListHolder(StringList* list) : list_(list) {}
  ~StringListHolder() { Release(); }
  StringListHolder(const StringListHolder&) = delete;
  StringListHolder& operator=(const StringListHolder&) = delete;

  void SetOwned(bool owned) { mode_ = owned ? 1 : 0; }
  StringList* list() const { return list_; }
  void Release();

 private:
  StringList* list_;
  int mode_ = 0;
};

// Both return the count written without the terminator, or 0 when the input
// is malformed or the output and its terminator do not fit. Surrogate pairs
// are combined into four-byte sequences and back.
uint32_t Utf16ToUtf8(const char16_t* source, uint32_t units, char* out, uint32_t size);
uint32_t Utf8ToUtf16(const char* source, uint32_t bytes, char16_t* out, uint32_t sizeInUnits);

// Opens a file by a NUL-terminated UTF-16 path and mode (as for fopen).
std::FILE* OpenFileW(const char16_t* path, const char16_t* mode);

size_t FileRead(void* buffer, size_t size, size_t count, std::FILE* f);
size_t FileWrite(const void* buffer, size_t size, size_t count, std::FILE* f);
int FileSeek(std::FILE* f, long offset, int origin);
long FileTell(std::FILE* f);
int FileClose(std::FILE* f);
int FileFlush(std::FILE* f);
bool FileAtEnd(std::FILE* f);
bool FileHasError(std::FILE* f);

}  // namespace streaming
