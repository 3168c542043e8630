// Small text tools of the application's portable code: the application's
// texts are UTF-16, and patterns come from the string table, so arguments
// are put in by position instead of through printf.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace scrivel {

// ASCII to UTF-16 (numbers and fixed words built with printf).
std::u16string Widen(std::string_view ascii);

// printf into an ASCII buffer, widened. Only for formats of our own with
// numbers: a pattern from the string table goes through FillText.
std::u16string FormatAscii(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The pattern with each "%s", "%d", "%ld" or "%u" replaced by the next
// argument in order ("%%" gives "%"). Missing arguments give empty text; a
// text never becomes a format, so a name holding "%s" is safe.
std::u16string FillText(std::u16string_view pattern, std::initializer_list<std::u16string_view> args);

// ASCII-only case folding compare, as the switches are matched.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace scrivel
