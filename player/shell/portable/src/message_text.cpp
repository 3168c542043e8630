#include "shell/portable/message_text.h"

namespace shell {
namespace {

class BoundedWriter {
 public:
  BoundedWriter(char16_t* out, size_t capacity) : out_(out), capacity_(capacity) {}
  void Put(char16_t c) {
    if (capacity_ != 0 && length_ + 1 < capacity_) out_[length_++] = c;
  }
  void Put(const char16_t* s) {
    while (s && *s) Put(*s++);
  }
  size_t Finish() {
    if (capacity_ != 0) out_[length_] = 0;
    return length_;
  }

 private:
  char16_t* out_;
  size_t capacity_;
  size_t length_ = 0;
};

}  // namespace

size_t FormatMessageText(const char16_t* pattern, const char16_t* arg, char16_t* out,
                         size_t capacity) {
  BoundedWriter w(out, capacity);
  bool argUsed = false;
  for (const char16_t* p = pattern; p && *p; ++p) {
    if (p[0] == u'%' && p[1] == u'%') {
      w.Put(u'%');
      ++p;
    } else if (p[0] == u'%' && p[1] == u's' && !argUsed) {
      w.Put(arg);
      argUsed = true;
      ++p;
    } else {
      w.Put(*p);
    }
  }
  return w.Finish();
}

size_t FormatMissingStringText(uint32_t id, char16_t* out, size_t capacity) {
  BoundedWriter w(out, capacity);
  w.Put(u"Unknown Error - No String in RC File: id=");
  char16_t digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + id % 10);
    id /= 10;
  } while (id != 0);
  while (n > 0) w.Put(digits[--n]);
  return w.Finish();
}

MessageLook MessageLookFor(uint32_t id, uint32_t callerStyle) {
  constexpr uint32_t kExclamation = 0x30;
  if (id == 50051) return {0, kExclamation};
  if (id > 51180 && id < 51189) return {0, 0};
  const uint32_t unit = id % 10;
  const uint32_t decade = id - unit;
  if (unit >= 1 && unit <= 8) {
    if (decade == 51200 || decade == 51210 || decade == 51220) return {decade + 8000, callerStyle};
    if (decade == 51230) return {decade + 8000, kExclamation};
  }
  return {0, callerStyle};
}

void FormatLogTimePrefix(unsigned month, unsigned day, unsigned hour, unsigned minute,
                         unsigned second, unsigned millisecond, char* out) {
  auto two = [&](unsigned v, char* at) {
    at[0] = static_cast<char>('0' + v / 10 % 10);
    at[1] = static_cast<char>('0' + v % 10);
  };
  two(month, out);
  out[2] = '/';
  two(day, out + 3);
  out[5] = ' ';
  two(hour, out + 6);
  out[8] = ':';
  two(minute, out + 9);
  out[11] = ':';
  two(second, out + 12);
  out[14] = ':';
  out[15] = static_cast<char>('0' + millisecond / 100 % 10);
  two(millisecond % 100, out + 16);
  out[18] = ' ';
  out[19] = 0;
}

int LogWindowRow(uint32_t y) {
  if (y > 84 || y % 14 != 0) return -1;
  return static_cast<int>(y / 14);
}

}  // namespace shell
