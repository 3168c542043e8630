// Bounded appends into a fixed text area; once something does not fit the
// writer stays failed and writes nothing more.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace streaming {

class TextWriter {
 public:
  TextWriter(char* buffer, uint32_t size) : buf_(buffer), size_(size) {}

  bool Append(const char* text, uint32_t n) {
    if (!ok_ || n > size_ - len_) return ok_ = false;
    std::memcpy(buf_ + len_, text, n);
    len_ += n;
    return true;
  }
  bool Append(const char* text) { return Append(text, uint32_t(std::strlen(text))); }
  bool Format(const char* format, ...) __attribute__((format(printf, 2, 3))) {
    if (!ok_) return false;
    char tmp[128];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(tmp, sizeof tmp, format, args);
    va_end(args);
    if (n < 0 || n >= int(sizeof tmp)) return ok_ = false;
    return Append(tmp, uint32_t(n));
  }
  // Terminates behind the text when there is room; the NUL is not counted.
  void Terminate() {
    if (len_ < size_) buf_[len_] = 0;
  }

  bool ok() const { return ok_; }
  uint32_t length() const { return len_; }
  uint32_t room() const { return size_ - len_; }
  char* end() { return buf_ + len_; }
  void Advance(uint32_t n) { len_ += n; }

 private:
  char* buf_;
  uint32_t size_;
  uint32_t len_ = 0;
  bool ok_ = true;
};

}  // namespace streaming
