// The locale helpers' rules: time spans, number fields and formats under
// English and German separators, the code page of a text, the face choice.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "scrivel/locale_rules.h"

namespace scrivel {
namespace {

std::string Narrow(std::u16string_view s) { return std::string(s.begin(), s.end()); }

const NumberFormat kEnglish{3, u".", u",", 1, true};
const NumberFormat kGerman{3, u",", u".", 1, true};
const NumberFormat kFrench{3, u",", u"\u00a0", 1, true};  // no-break space groups

TEST(LocaleRules, TimeSpansChangePatternAtOneDay) {
  EXPECT_EQ(HoursPattern(u":"), u"%H:%M:%S");
  EXPECT_EQ(DaysPattern(u"."), u"%D.%H.%M.%S");
  struct Case {
    int64_t seconds;
    std::u16string separator, text;
  } const cases[] = {
      {0, u":", u"00:00:00"},
      {90, u":", u"00:01:30"},
      {3661, u":", u"01:01:01"},
      {86399, u":", u"23:59:59"},
      {86400, u":", u"1:00:00:00"},
      {90061, u":", u"1:01:01:01"},
      {20 * 86400 + 5, u".", u"20.00.00.05"},
      {-5, u":", u"00:00:00"},
  };
  for (const Case& c : cases) EXPECT_EQ(FormatTimeSpan(c.seconds, c.separator), c.text) << c.seconds;
  EXPECT_EQ(FormatTimeSpan(59, u":", u"time remaining ", u"!"), u"time remaining 00:00:59!");
  EXPECT_EQ(FormatTimeSpanDays(59, u":"), u"0:00:00:59");
}

TEST(LocaleRules, WholeNumberFields) {
  struct Case {
    std::u16string text;
    FieldRead read;
    int32_t value;  // what the caller holds afterwards (it starts at 77)
  } const cases[] = {
      {u"12", FieldRead::kValue, 12},
      {u"0", FieldRead::kValue, 0},
      {u"007", FieldRead::kValue, 7},
      {u"2147483647", FieldRead::kValue, 2147483647},
      {u"12a", FieldRead::kRefused, 77},
      {u"", FieldRead::kEmpty, 77},
      {u"-3", FieldRead::kRefused, 77},
      {u" 5", FieldRead::kRefused, 77},
      {u"1.5", FieldRead::kRefused, 77},
      {u"2147483648", FieldRead::kRefused, 77},
      {u"99999999999999999999", FieldRead::kRefused, 77},
  };
  for (const Case& c : cases) {
    int32_t value = 77;
    EXPECT_EQ(ReadWholeNumber(c.text, &value), c.read) << Narrow(c.text);
    EXPECT_EQ(value, c.value) << Narrow(c.text);
  }
}

TEST(LocaleRules, DecimalFieldsUnderTheLocalesSeparators) {
  struct Case {
    const char* locale;
    const NumberFormat* format;
    bool thousands;
    std::u16string text;
    FieldRead read;
    double value;  // starts at -1
  } const cases[] = {
      {"en", &kEnglish, false, u"12.5", FieldRead::kValue, 12.5},
      {"en", &kEnglish, true, u"1,234.5", FieldRead::kValue, 1234.5},
      {"en", &kEnglish, false, u"1,234.5", FieldRead::kRefused, -1},
      {"de", &kGerman, true, u"1.234,5", FieldRead::kValue, 1234.5},
      {"de", &kGerman, true, u"1.234.567", FieldRead::kValue, 1234567},
      {"de", &kGerman, false, u"12,25", FieldRead::kValue, 12.25},
      {"de", &kGerman, false, u"1.234", FieldRead::kRefused, -1},
      {"de", &kGerman, true, u"1,2,3", FieldRead::kRefused, -1},
      {"fr", &kFrench, true, u"1\u00a0000,5", FieldRead::kValue, 1000.5},
      {"en", &kEnglish, false, u".5", FieldRead::kValue, 0.5},
      {"en", &kEnglish, false, u"7.", FieldRead::kValue, 7},
      {"en", &kEnglish, false, u".", FieldRead::kRefused, -1},
      {"en", &kEnglish, false, u"1e5", FieldRead::kRefused, -1},
      {"en", &kEnglish, false, u"", FieldRead::kEmpty, -1},
  };
  for (const Case& c : cases) {
    double value = -1;
    EXPECT_EQ(ReadDecimalNumber(c.text, *c.format, c.thousands, &value), c.read) << c.locale << " " << Narrow(c.text);
    EXPECT_DOUBLE_EQ(value, c.value) << c.locale << " " << Narrow(c.text);
  }
  // Equal separators are not dropped: the one separator is the decimal one.
  const NumberFormat same{3, u",", u",", 1, true};
  double value = 0;
  EXPECT_EQ(ReadDecimalNumber(u"3,5", same, true, &value), FieldRead::kValue);
  EXPECT_DOUBLE_EQ(value, 3.5);
}

TEST(LocaleRules, NumberFormats) {
  struct Case {
    int64_t value;
    const NumberFormat* format;
    int negativeOrder;
    std::u16string text;
  } const cases[] = {
      {0, &kEnglish, 1, u"0"},
      {999, &kEnglish, 1, u"999"},
      {1000, &kEnglish, 1, u"1,000"},
      {1234567, &kGerman, 1, u"1.234.567"},
      {-1234, &kEnglish, 1, u"-1,234"},
      {-1234, &kEnglish, 0, u"(1,234)"},
      {-5, &kEnglish, 2, u"- 5"},
      {-5, &kEnglish, 3, u"5-"},
      {-5, &kEnglish, 4, u"5 -"},
      {INT64_MIN, &kEnglish, 1, u"-9,223,372,036,854,775,808"},
  };
  for (const Case& c : cases) {
    NumberFormat f = *c.format;
    f.negativeOrder = c.negativeOrder;
    EXPECT_EQ(FormatNumber(c.value, f), c.text) << c.value;
  }
  NumberFormat ungrouped = kEnglish;
  ungrouped.grouping = 0;
  EXPECT_EQ(FormatNumber(1234567, ungrouped), u"1234567");
}

// A code-page service from a script of runs: each call answers the next
// (mask, length) pair, and the mask-to-code-page table of MLang's bits.
class ScriptedCodePages : public CodePageService {
 public:
  std::vector<std::pair<uint32_t, size_t>> runs;
  size_t next = 0;
  bool convertFails = false;
  std::vector<uint32_t> askedMasks;
  bool RunCodePages(std::u16string_view, uint32_t* mask, size_t* length) override {
    if (next == runs.size()) return false;
    *mask = runs[next].first;
    *length = runs[next].second;
    ++next;
    return true;
  }
  bool MaskToCodePage(uint32_t mask, unsigned* codePage) override {
    askedMasks.push_back(mask);
    static const std::map<uint32_t, unsigned> table = {
        {1u << 0, 1252}, {1u << 1, 1250}, {1u << 2, 1251}, {1u << 3, 1253}, {1u << 17, 932}};
    auto it = table.find(mask);
    if (convertFails || it == table.end()) return false;
    *codePage = it->second;
    return true;
  }
};

TEST(LocaleRules, CodePageOfText) {
  std::array<int32_t, 32> tallies{};
  tallies[3] = 5;
  tallies[17] = 5;
  EXPECT_EQ(WinningCodePageBit(tallies), 3);
  tallies[17] = 6;
  EXPECT_EQ(WinningCodePageBit(tallies), 17);

  constexpr uint32_t kLatin1 = 1u << 0, kGreek = 1u << 3, kJapanese = 1u << 17;
  struct Case {
    const char* what;
    std::u16string text;
    std::vector<std::pair<uint32_t, size_t>> runs;
    bool convertFails;
    unsigned codePage;
  } const cases[] = {
      {"Greek run outweighs", u"abc\u03b1\u03b2\u03b3\u03b4", {{kLatin1 | kGreek, 3}, {kGreek, 4}}, false, 1253},
      // 4 characters each: Greek (bit 3) and Japanese (bit 17) tie, the lower bit wins.
      {"tie takes the lower bit", u"\u03b1\u03b2\u03b3\u03b4\u3042\u3044\u3046\u3048", {{kJapanese, 4}, {kGreek, 4}}, false, 1253},
      {"service stops early", u"\u3042\u3044abc", {{kJapanese, 2}}, false, 932},
      {"conversion fails", u"\u03b1", {{kGreek, 1}}, true, 1252},
      {"run of zero length", u"\u3042\u3044", {{kJapanese, 0}, {kGreek, 1}}, false, 1252},
      {"run past the end", u"\u3042", {{kJapanese, 5}}, false, 1252},
  };
  for (const Case& c : cases) {
    ScriptedCodePages service;
    service.runs = c.runs;
    service.convertFails = c.convertFails;
    EXPECT_EQ(CodePageOfText(c.text, &service), c.codePage) << c.what;
    EXPECT_EQ(service.askedMasks.size(), 1u) << c.what;
  }
  EXPECT_EQ(CodePageOfText(u"\u03b1", nullptr), 1252u);
}

TEST(LocaleRules, FaceChoice) {
  const std::array<std::u16string, 3> table = {u"Tahoma", u"MS Sans Serif", u"Arial"};
  struct Case {
    std::vector<std::u16string> families;
    std::u16string face;
    int index;
  } const cases[] = {
      {{u"Courier", u"Arial", u"Tahoma"}, u"Tahoma", 0},
      {{u"Courier", u"Arial", u"MS Sans Serif"}, u"MS Sans Serif", 1},
      {{u"Arial"}, u"Arial", 2},
      {{u"tahoma", u"Courier"}, u"tahoma", -1},  // names match case-sensitively
      {{}, u"", -1},
  };
  for (const Case& c : cases) {
    const FaceChoice choice = ChooseFace(table, c.families);
    EXPECT_EQ(choice.face, c.face) << Narrow(c.face);
    EXPECT_EQ(choice.index, c.index) << Narrow(c.face);
  }
}

}  // namespace
}  // namespace scrivel
