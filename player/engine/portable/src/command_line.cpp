#include "engine/command_line.h"

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// A decimal number (with an optional sign) that runs to a blank or the end;
// saturates instead of overflowing.
bool ReadNumber(std::u16string_view s, size_t* pos, long long* value) {
  size_t i = *pos;
  bool negative = false;
  if (i < s.size() && (s[i] == u'-' || s[i] == u'+')) negative = s[i++] == u'-';
  const size_t digits = i;
  long long v = 0;
  while (i < s.size() && s[i] >= u'0' && s[i] <= u'9') {
    if (v < 1000000000LL) v = v * 10 + (s[i] - u'0');
    ++i;
  }
  if (i == digits || (i < s.size() && !IsBlank(s[i]))) return false;
  *value = negative ? -v : v;
  *pos = i;
  return true;
}

}  // namespace

std::u16string UpperAscii(std::u16string_view text) {
  std::u16string up(text);
  for (char16_t& c : up)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return up;
}

bool ParseCommandLine(std::u16string_view text, PlayerCommandLine* out) {
  *out = PlayerCommandLine{};
  if (text.empty()) return true;
  const std::u16string up = UpperAscii(text);

  // The name ends right after the first ".MP4", else at the closing quote of
  // a quoted name, else at the first blank.
  size_t end = up.find(u".MP4");
  if (end != std::u16string::npos) {
    end += 4;
  } else if (up[0] == u'"') {
    end = up.find(u'"', 1);
    if (end == std::u16string::npos) end = up.size();
  } else {
    end = 0;
    while (end < up.size() && !IsBlank(up[end])) ++end;
  }
  size_t begin = 0;
  size_t rest = end;
  if (end < up.size() && up[end] == u'"') {
    if (up[0] == u'"') begin = 1;
    rest = end + 1;
  }
  if (end - begin >= kAddressUnits) return false;
  out->name.assign(text.substr(begin, end - begin));

  size_t i = rest;
  for (;;) {
    while (i < up.size() && IsBlank(up[i])) ++i;
    if (i >= up.size()) return true;
    if (up[i] != u'-' || i + 1 >= up.size()) return false;
    const char16_t option = up[i + 1];
    i += 2;
    long long n = 0;
    switch (option) {
      case u'L':
        out->repeat = true;
        out->playCount = kLoopPlayCount;
        break;
      case u'X':
        out->exitWhenDone = true;
        break;
      case u'N':
        if (!ReadNumber(up, &i, &n)) return false;
        if (n > 0) {
          out->repeat = true;
          out->playCount = static_cast<uint32_t>(n > kMaxPlayCount ? kMaxPlayCount : n);
        }
        break;
      case u'V':
        if (!ReadNumber(up, &i, &n)) return false;
        out->volume = static_cast<int>(n > 100 ? 100 : n < 0 ? 0 : n);
        break;
      case u'A': {
        const size_t start = i;
        while (i < up.size() && !IsBlank(up[i])) ++i;
        if (i == start || i - start >= kAudioCodecUnits) return false;
        out->audioCodec = up.substr(start, i - start);
        continue;
      }
      default:
        return false;
    }
    if (i < up.size() && !IsBlank(up[i])) return false;
  }
}

std::u16string PeelQuotes(std::u16string_view address) {
  while (!address.empty() && address.front() == u'"') {
    address.remove_prefix(1);
    if (!address.empty()) address.remove_suffix(1);
  }
  return std::u16string(address);
}

AddressKind KindOfAddress(std::u16string_view address) {
  const std::u16string up = UpperAscii(address);
  if (up.starts_with(u"RTSP://")) return AddressKind::stream;
  if (up.starts_with(u"FILE://")) return AddressKind::file;
  if (up.starts_with(u"HTTP://")) return AddressKind::download;
  const size_t mp4 = up.find(u".MP4");
  if (mp4 != std::u16string::npos && mp4 + 4 == up.size()) return AddressKind::file;
  return AddressKind::descriptor;
}
