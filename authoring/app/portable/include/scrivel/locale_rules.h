// The locale and text helpers' rules that need no platform: time spans,
// number fields and number formatting from the locale's separators, the
// code page that a text needs (given a code-page service), and the dialog
// face choice. The Windows module feeds them the locale's values, MLang
// and the enumerated font families.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scrivel {

// Time spans. The two patterns are built from the locale's time separator:
// "%H:%M:%S" below one day, "%D:%H:%M:%S" from one day (86400 s) on.
constexpr int64_t kSecondsPerDay = 86400;
std::u16string HoursPattern(std::u16string_view separator);
std::u16string DaysPattern(std::u16string_view separator);
// A span's text by a pattern: %D whole days, %H hours of the day, %M and %S
// (two digits each), "%%" a percent sign. A negative span counts as 0.
std::u16string FormatSpan(std::u16string_view pattern, int64_t seconds);
// The hours pattern below one day, else the days pattern, between the
// caller's prefix and suffix.
std::u16string FormatTimeSpan(int64_t seconds, std::u16string_view separator, std::u16string_view prefix = {},
                              std::u16string_view suffix = {});
// The application's variant that always uses the days pattern.
std::u16string FormatTimeSpanDays(int64_t seconds, std::u16string_view separator,
                                  std::u16string_view prefix = {}, std::u16string_view suffix = {});

// The cached number format: no decimal digits, the locale's grouping,
// separators, leading zero and negative-number order.
struct NumberFormat {
  unsigned grouping = 3;  // digits per group, 0 none
  std::u16string decimalSeparator = u".";
  std::u16string thousandsSeparator = u",";
  int negativeOrder = 1;  // 0 "(1)", 1 "-1", 2 "- 1", 3 "1-", 4 "1 -"
  bool leadingZero = true;
};
std::u16string FormatNumber(int64_t value, const NumberFormat& format);

// Number fields typed by the user. kEmpty: nothing typed, the caller keeps
// its value; kRefused: a character outside the allowed ones (or a value
// that cannot be held), the caller's value untouched.
enum class FieldRead { kValue, kEmpty, kRefused };
// The characters a whole number may hold (string 61546).
constexpr std::u16string_view kDigitText = u"1234567890";
FieldRead ReadWholeNumber(std::u16string_view text, int32_t* value);
// Digits, the decimal separator and, when `allowThousands`, the thousands
// separator; thousands separators are dropped first when the two differ.
FieldRead ReadDecimalNumber(std::u16string_view text, const NumberFormat& format, bool allowThousands,
                            double* value);

// Code pages. The service answers, for the text from a position, the
// code-page mask of its longest run and the run's length, and turns a
// single-bit mask into a code page (MLang's IMLangCodePages).
class CodePageService {
 public:
  virtual ~CodePageService() = default;
  virtual bool RunCodePages(std::u16string_view rest, uint32_t* mask, size_t* runLength) = 0;
  virtual bool MaskToCodePage(uint32_t mask, unsigned* codePage) = 0;
};
constexpr unsigned kFallbackCodePage = 1252;
// The bit with the largest tally; the lowest bit wins a tie.
int WinningCodePageBit(const std::array<int32_t, 32>& tallies);
// The code page that `text` needs most; 1252 without a service or when it
// fails.
unsigned CodePageOfText(std::u16string_view text, CodePageService* service);

// Dialog face choice: the first enumerated family stands in until a table
// face is found; the first found table entry in table order wins.
struct FaceChoice {
  std::u16string face;
  int index = -1;  // the table entry, -1 when none was found
};
FaceChoice ChooseFace(const std::array<std::u16string, 3>& table, const std::vector<std::u16string>& families);

}  // namespace scrivel
