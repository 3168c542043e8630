#include "scrivel/text.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace scrivel {

std::u16string Widen(std::string_view ascii) {
  std::u16string out;
  out.reserve(ascii.size());
  for (char c : ascii) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::u16string FormatAscii(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::u16string out;
  if (n > 0) {
    std::vector<char> buffer(static_cast<size_t>(n) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, again);
    out = Widen(std::string_view(buffer.data(), static_cast<size_t>(n)));
  }
  va_end(again);
  return out;
}

std::u16string FillText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args) {
  std::u16string out;
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != u'%' || i + 1 == pattern.size()) {
      out.push_back(pattern[i]);
      continue;
    }
    std::u16string_view rest = pattern.substr(i + 1);
    size_t used = 0;
    if (rest[0] == u'%') {
      out.push_back(u'%');
      used = 1;
    } else if (rest[0] == u's' || rest[0] == u'd' || rest[0] == u'u') {
      used = 1;
    } else if (rest.substr(0, 2) == u"ld") {
      used = 2;
    }
    if (used == 0) {
      out.push_back(u'%');
      continue;
    }
    if (rest[0] != u'%' && next != args.end()) out.append(*next++);
    i += used;
  }
  return out;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

}  // namespace scrivel
