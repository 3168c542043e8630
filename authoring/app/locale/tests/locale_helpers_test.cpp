// The locale helpers over Wine: MLang's code pages, the charset
// translation, the face choice among the fonts Wine has, German number
// formats from the platform against our own rules, and Rich Edit round trips.
#include <windows.h>
#include <richedit.h>

#include <gtest/gtest.h>

#include "scrivel/locale_helpers.h"

namespace scrivel {
namespace {

const std::array<std::u16string, 3> kFaces = {u"Tahoma", u"MS Sans Serif", u"Arial"};
constexpr LCID kGerman = MAKELCID(MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN), SORT_DEFAULT);
constexpr LCID kEnglishUS = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);

std::string Narrow(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

class Window {
 public:
  Window(const wchar_t* windowClass, const wchar_t* text = L"")
      : window_(CreateWindowExW(0, windowClass, text, WS_POPUP | ES_MULTILINE, 0, 0, 300, 40, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr)) {}
  ~Window() {
    if (window_) DestroyWindow(window_);
  }
  HWND get() const { return window_; }

 private:
  HWND window_;
};

class LocaleHelpersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { richEdit_ = LoadLibraryW(L"riched20.dll"); }
  static void TearDownTestSuite() { FreeLibrary(richEdit_); }
  static HMODULE richEdit_;
};
HMODULE LocaleHelpersTest::richEdit_ = nullptr;

TEST_F(LocaleHelpersTest, CodePagesThroughMLang) {
  LocaleHelpers helpers;
  helpers.Start(kFaces, kEnglishUS);
  ASSERT_TRUE(helpers.HasCodePageService()) << "Wine's mlang.dll";
  struct Case {
    const char* what;
    std::u16string text;
    UINT codePage;
  } const cases[] = {
      {"Latin", u"Scrivel clip", 1252},
      {"Greek", u"\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1", 1253},
      {"Cyrillic", u"\u041f\u0440\u0438\u0432\u0435\u0442", 1251},
      {"Japanese kana", u"\u3053\u3093\u306b\u3061\u306f", 932},
      // Wine's GetStrCodePages answers one run for the whole text with the
      // mask of its last character, so mixed scripts are left to the rules'
      // own tests (ties, runs) with a scripted service.
      {"empty", u"", 1252},
  };
  for (const Case& c : cases) EXPECT_EQ(helpers.CodePageOfText(c.text), c.codePage) << c.what;
  helpers.Stop();
  EXPECT_FALSE(helpers.HasCodePageService());
  EXPECT_EQ(helpers.CodePageOfText(u"\u03b1\u03b2"), 1252u);  // no service: 1252
}

TEST_F(LocaleHelpersTest, CharsetTranslation) {
  const std::pair<UINT, BYTE> pairs[] = {{1252, ANSI_CHARSET},   {1253, GREEK_CHARSET},
                                         {1251, RUSSIAN_CHARSET}, {932, SHIFTJIS_CHARSET},
                                         {1250, EASTEUROPE_CHARSET}};
  for (const auto& [page, charset] : pairs) {
    EXPECT_EQ(LocaleHelpers::CharsetOfCodePage(page), charset) << page;
    EXPECT_EQ(LocaleHelpers::CodePageOfCharset(charset), page) << page;
  }
  EXPECT_EQ(LocaleHelpers::CharsetOfCodePage(12345), 0);
  EXPECT_EQ(LocaleHelpers::CodePageOfCharset(77), 1252u);
  EXPECT_GT(LocaleHelpers::KeyboardCodePage(), 0u);
  EXPECT_EQ(LocaleHelpers::KeyboardCharset(), LocaleHelpers::CharsetOfCodePage(LocaleHelpers::KeyboardCodePage()));
}

TEST_F(LocaleHelpersTest, FaceChosenFromTheTable) {
  // The table's order wins over the enumeration's: of two installed
  // families, the one enumerated later is put first in the table.
  const std::vector<std::u16string> families = LocaleHelpers::FontFamilies();
  ASSERT_FALSE(families.empty());
  const std::u16string first = families.front();
  std::u16string later;
  for (const std::u16string& name : families) {
    if (name != first) later = name;
  }
  ASSERT_FALSE(later.empty()) << "two font families";
  LocaleHelpers helpers;
  helpers.Start({u"No Such Face", later, first}, kEnglishUS);
  EXPECT_EQ(helpers.Face().face, later);
  EXPECT_EQ(helpers.Face().index, 1);
  helpers.Start({u"No Such Face", u"Nor This", u"Nor That"}, kEnglishUS);
  EXPECT_EQ(helpers.Face().index, -1);
  EXPECT_EQ(helpers.Face().face, first);  // the first family stands in
}

TEST_F(LocaleHelpersTest, NumbersUnderAGermanLocale) {
  LocaleHelpers helpers;
  helpers.Start(kFaces, kGerman);
  EXPECT_EQ(helpers.Format().decimalSeparator, u",");
  EXPECT_EQ(helpers.Format().thousandsSeparator, u".");
  for (long value : {0L, 999L, 1000L, 1234567L, -98765L}) {
    std::u16string text = u"untouched";
    ASSERT_EQ(helpers.FormatNumber(value, &text), 0u) << value;
    // The platform's formatting and our rules agree.
    EXPECT_EQ(text, scrivel::FormatNumber(value, helpers.Format())) << value;
  }
  std::u16string text;
  helpers.FormatNumber(1234567, &text);
  EXPECT_EQ(text, u"1.234.567");

  Window edit(L"EDIT");
  ASSERT_NE(edit.get(), nullptr);
  struct Case {
    std::u16string typed;
    bool thousands;
    FieldRead read;
    double value;  // starts at -1
  } const cases[] = {
      {u"1.234,5", true, FieldRead::kValue, 1234.5},
      {u"12,25", false, FieldRead::kValue, 12.25},
      {u"1.234", false, FieldRead::kRefused, -1},
      {u"", false, FieldRead::kEmpty, -1},
  };
  for (const Case& c : cases) {
    LocaleHelpers::SetPlainText(edit.get(), c.typed);
    double value = -1;
    EXPECT_EQ(helpers.ReadDecimalNumber(edit.get(), c.thousands, &value), c.read) << Narrow(c.typed);
    EXPECT_DOUBLE_EQ(value, c.value) << Narrow(c.typed);
  }
  int32_t whole = 5;
  LocaleHelpers::SetPlainText(edit.get(), u"12a");
  EXPECT_EQ(helpers.ReadWholeNumber(edit.get(), &whole), FieldRead::kRefused);
  LocaleHelpers::SetPlainText(edit.get(), u"");
  EXPECT_EQ(helpers.ReadWholeNumber(edit.get(), &whole), FieldRead::kEmpty);
  EXPECT_EQ(whole, 5);
  LocaleHelpers::SetPlainText(edit.get(), u"640");
  EXPECT_EQ(helpers.ReadWholeNumber(edit.get(), &whole), FieldRead::kValue);
  EXPECT_EQ(whole, 640);

  EXPECT_EQ(helpers.FormatTimeSpan(86399), u"23" + helpers.TimeSeparator() + u"59" + helpers.TimeSeparator() + u"59");
  EXPECT_EQ(helpers.FormatTimeSpan(86400, u"[", u"]"),
            u"[1" + helpers.TimeSeparator() + u"00" + helpers.TimeSeparator() + u"00" + helpers.TimeSeparator() + u"00]");
}

TEST_F(LocaleHelpersTest, RichEditRoundTrips) {
  ASSERT_NE(richEdit_, nullptr);
  LocaleHelpers helpers;
  helpers.Start(kFaces, kEnglishUS);
  Window rich(RICHEDIT_CLASSW);
  ASSERT_NE(rich.get(), nullptr);
  struct Case {
    const char* what;
    std::u16string text;
    UINT codePage;  // 0: whichever the service picks
  } const cases[] = {
      {"Greek", u"\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5", 1253},
      {"Japanese", u"\u6620\u50cf\u306e\u30bf\u30a4\u30c8\u30eb", 932},
      // No one code page holds Greek and Hebrew, yet both survive.
      {"Greek and Hebrew together", u"\u03b1\u03b2\u03b3\u03b4\u05d0\u05d1", 0},
      {"Latin", u"Copyright 2026", 1252},
      {"empty", u"", 1252},
  };
  for (const Case& c : cases) {
    const UINT codePage = helpers.SetRichEditText(rich.get(), c.text);
    if (c.codePage != 0) {
      EXPECT_EQ(codePage, c.codePage) << c.what;
    }
    EXPECT_EQ(LocaleHelpers::GetRichEditText(rich.get(), 256), c.text) << c.what;
    CHARFORMAT2W format{};
    format.cbSize = sizeof format;
    SendMessageW(rich.get(), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
    EXPECT_EQ(format.bCharSet, LocaleHelpers::CharsetOfCodePage(codePage)) << c.what;
  }
  helpers.SetRichEditText(rich.get(), u"abcdef");
  EXPECT_EQ(LocaleHelpers::GetRichEditText(rich.get(), 4), u"abcd");
  EXPECT_EQ(LocaleHelpers::GetRichEditText(rich.get(), 0), u"");

  LocaleHelpers::EnableRichEdit(rich.get(), false);
  EXPECT_FALSE(IsWindowEnabled(rich.get()));
  LocaleHelpers::EnableRichEdit(rich.get(), true);
  EXPECT_TRUE(IsWindowEnabled(rich.get()));
}

}  // namespace
}  // namespace scrivel
