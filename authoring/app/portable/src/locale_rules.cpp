#include "scrivel/locale_rules.h"

#include <cstdlib>
#include <limits>

#include "scrivel/text.h"

namespace scrivel {

std::u16string HoursPattern(std::u16string_view sep) {
  return FillText(u"%%H%s%%M%s%%S", {sep, sep});
}

std::u16string DaysPattern(std::u16string_view sep) {
  return FillText(u"%%D%s%%H%s%%M%s%%S", {sep, sep, sep});
}

std::u16string FormatSpan(std::u16string_view pattern, int64_t seconds) {
  if (seconds < 0) seconds = 0;
  std::u16string out;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != u'%' || i + 1 == pattern.size()) {
      out.push_back(pattern[i]);
      continue;
    }
    switch (pattern[++i]) {
      case u'D': out += FormatAscii("%lld", static_cast<long long>(seconds / kSecondsPerDay)); break;
      case u'H': out += FormatAscii("%02d", static_cast<int>(seconds / 3600 % 24)); break;
      case u'M': out += FormatAscii("%02d", static_cast<int>(seconds / 60 % 60)); break;
      case u'S': out += FormatAscii("%02d", static_cast<int>(seconds % 60)); break;
      case u'%': out.push_back(u'%'); break;
      default:
        out.push_back(u'%');
        out.push_back(pattern[i]);
    }
  }
  return out;
}

std::u16string FormatTimeSpan(int64_t seconds, std::u16string_view sep, std::u16string_view prefix,
                              std::u16string_view suffix) {
  const std::u16string pattern = seconds >= kSecondsPerDay ? DaysPattern(sep) : HoursPattern(sep);
  std::u16string out(prefix);
  out += FormatSpan(pattern, seconds);
  out += suffix;
  return out;
}

std::u16string FormatTimeSpanDays(int64_t seconds, std::u16string_view sep, std::u16string_view prefix,
                                  std::u16string_view suffix) {
  std::u16string out(prefix);
  out += FormatSpan(DaysPattern(sep), seconds);
  out += suffix;
  return out;
}

std::u16string FormatNumber(int64_t value, const NumberFormat& f) {
  // Magnitude as text without a sign (the lowest value has no positive twin).
  const uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const std::u16string digits = FormatAscii("%llu", static_cast<unsigned long long>(magnitude));
  std::u16string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    const size_t left = digits.size() - i;
    grouped.push_back(digits[i]);
    if (f.grouping > 0 && left > 1 && (left - 1) % f.grouping == 0) grouped += f.thousandsSeparator;
  }
  if (value >= 0) return grouped;
  switch (f.negativeOrder) {
    case 0: return u"(" + grouped + u")";
    case 2: return u"- " + grouped;
    case 3: return grouped + u"-";
    case 4: return grouped + u" -";
    default: return u"-" + grouped;
  }
}

FieldRead ReadWholeNumber(std::u16string_view text, int32_t* value) {
  if (text.empty()) return FieldRead::kEmpty;
  int64_t v = 0;
  for (char16_t c : text) {
    if (kDigitText.find(c) == std::u16string_view::npos) return FieldRead::kRefused;
    v = v * 10 + (c - u'0');
    // A value the caller's long cannot hold is refused, not wrapped.
    if (v > std::numeric_limits<int32_t>::max()) return FieldRead::kRefused;
  }
  *value = static_cast<int32_t>(v);
  return FieldRead::kValue;
}

namespace {

// Removes every occurrence of `what` from `text`.
std::u16string Without(std::u16string_view text, std::u16string_view what) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    if (!what.empty() && text.substr(i, what.size()) == what) {
      i += what.size();
    } else {
      out.push_back(text[i++]);
    }
  }
  return out;
}

}  // namespace

FieldRead ReadDecimalNumber(std::u16string_view text, const NumberFormat& f, bool allowThousands, double* value) {
  if (text.empty()) return FieldRead::kEmpty;
  std::u16string_view dec = f.decimalSeparator;
  std::u16string_view thou = f.thousandsSeparator;
  for (char16_t c : text) {
    const bool allowed = kDigitText.find(c) != std::u16string_view::npos ||
                         dec.find(c) != std::u16string_view::npos ||
                         (allowThousands && thou.find(c) != std::u16string_view::npos);
    if (!allowed) return FieldRead::kRefused;
  }
  std::u16string work(text);
  if (allowThousands && thou != dec) work = Without(work, thou);
  // The scan is done in the C locale: the locale's decimal separator
  // becomes a point, so "1,5" under a German locale reads 1.5, not 1.
  std::string ascii;
  int points = 0, digits = 0;
  for (size_t i = 0; i < work.size();) {
    if (!dec.empty() && std::u16string_view(work).substr(i, dec.size()) == dec) {
      ascii.push_back('.');
      ++points;
      i += dec.size();
    } else if (work[i] >= u'0' && work[i] <= u'9') {
      ascii.push_back(static_cast<char>(work[i++]));
      ++digits;
    } else {
      return FieldRead::kRefused;  // a stray separator character
    }
  }
  // Two decimal separators or no digit at all is no number.
  if (points > 1 || digits == 0) return FieldRead::kRefused;
  *value = std::strtod(ascii.c_str(), nullptr);
  return FieldRead::kValue;
}

int WinningCodePageBit(const std::array<int32_t, 32>& tallies) {
  int best = 0;
  for (int bit = 1; bit < 32; ++bit) {
    if (tallies[bit] > tallies[best]) best = bit;
  }
  return best;
}

unsigned CodePageOfText(std::u16string_view text, CodePageService* service) {
  if (service == nullptr) return kFallbackCodePage;
  std::array<int32_t, 32> tallies{};
  for (size_t pos = 0; pos < text.size();) {
    uint32_t mask = 0;
    size_t run = 0;
    if (!service->RunCodePages(text.substr(pos), &mask, &run)) break;
    // A run that does not advance, or runs past the text, ends the walk
    // instead of looping or reading beyond it.
    if (run == 0 || run > text.size() - pos) break;
    for (int bit = 0; bit < 32; ++bit) {
      if (mask & (1u << bit)) tallies[bit] += static_cast<int32_t>(run);
    }
    pos += run;
  }
  unsigned codePage = 0;
  if (!service->MaskToCodePage(1u << WinningCodePageBit(tallies), &codePage)) return kFallbackCodePage;
  return codePage;
}

FaceChoice ChooseFace(const std::array<std::u16string, 3>& table, const std::vector<std::u16string>& families) {
  FaceChoice choice;
  std::array<bool, 3> found{};
  for (const std::u16string& family : families) {
    if (choice.face.empty()) choice.face = family;
    for (size_t i = 0; i < table.size(); ++i) {
      if (table[i] == family) found[i] = true;
    }
  }
  for (size_t i = 0; i < table.size(); ++i) {
    if (found[i]) {
      choice.face = table[i];
      choice.index = static_cast<int>(i);
      break;
    }
  }
  return choice;
}

}  // namespace scrivel
