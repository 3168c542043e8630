#include <gtest/gtest.h>

#include <string>

#include "shell/portable/code_pages.h"
#include "shell/portable/dialog_geometry.h"
#include "shell/portable/message_text.h"
#include "shell/portable/string_block.h"

namespace shell {
namespace {

TEST(MessageText, FormatTable) {
  struct Case {
    const char16_t* pattern;
    const char16_t* arg;
    size_t capacity;
    std::u16string want;
  };
  const Case cases[] = {
      {u"Unable to play Clip: \"%s\"", u"a.mp4", 256, u"Unable to play Clip: \"a.mp4\""},
      {u"Clip not found.", nullptr, 256, u"Clip not found."},
      {u"%s and %s", u"x", 256, u"x and %s"},  // one argument only: a second %s stays text
      {u"100%% %d %n", u"x", 256, u"100% %d %n"},
      {u"abc%s", u"defgh", 5, u"abcd"},  // cut to capacity - 1
      {u"", u"x", 1, u""},
  };
  for (const Case& c : cases) {
    char16_t out[300];
    const size_t n = FormatMessageText(c.pattern, c.arg, out, c.capacity);
    EXPECT_EQ(std::u16string(out), c.want);
    EXPECT_EQ(n, c.want.size());
  }
}

TEST(MessageText, LongArgumentStaysInside256) {
  std::u16string arg(1000, u'x');
  char16_t out[kMessageCapacity + 8];
  for (auto& c : out) c = u'#';
  const size_t n = FormatMessageText(u"Unable to play Clip: \"%s\"", arg.c_str(), out, kMessageCapacity);
  EXPECT_EQ(n, kMessageCapacity - 1);
  EXPECT_EQ(out[kMessageCapacity - 1], 0);
  EXPECT_EQ(out[kMessageCapacity], u'#');
}

TEST(MessageText, MissingString) {
  char16_t out[80];
  FormatMissingStringText(59999, out, 80);
  EXPECT_EQ(std::u16string(out), u"Unknown Error - No String in RC File: id=59999");
  FormatMissingStringText(0, out, 80);
  EXPECT_EQ(std::u16string(out), u"Unknown Error - No String in RC File: id=0");
}

TEST(MessageText, CaptionAndStyleTable) {
  struct Case {
    uint32_t id, style, caption, wantStyle;
  };
  const Case cases[] = {
      {50051, 4, 0, 0x30},     {51180, 4, 0, 4},        {51181, 4, 0, 0},        {51188, 4, 0, 0},
      {51189, 4, 0, 4},        {51201, 4, 59200, 4},    {51208, 1, 59200, 1},    {51209, 4, 0, 4},
      {51210, 4, 0, 4},        {51211, 4, 59210, 4},    {51225, 0, 59220, 0},    {51231, 4, 59230, 0x30},
      {51238, 0, 59230, 0x30}, {51239, 4, 0, 4},        {50043, 0x10, 0, 0x10},  {51241, 4, 0, 4},
  };
  for (const Case& c : cases) {
    const MessageLook look = MessageLookFor(c.id, c.style);
    EXPECT_EQ(look.captionId, c.caption) << c.id;
    EXPECT_EQ(look.style, c.wantStyle) << c.id;
  }
}

TEST(MessageText, TimePrefix) {
  char out[20];
  FormatLogTimePrefix(3, 7, 9, 5, 2, 45, out);
  EXPECT_STREQ(out, "03/07 09:05:02:045 ");
  FormatLogTimePrefix(12, 31, 23, 59, 59, 999, out);
  EXPECT_STREQ(out, "12/31 23:59:59:999 ");
}

TEST(MessageText, LogWindowRows) {
  for (uint32_t row = 0; row < 7; ++row) EXPECT_EQ(LogWindowRow(row * 14), static_cast<int>(row));
  EXPECT_EQ(LogWindowRow(90), -1);
  EXPECT_EQ(LogWindowRow(98), -1);
  EXPECT_EQ(LogWindowRow(15), -1);
}

TEST(CodePages, AsciiTiesGoToTheLowestBit) {
  CodePageCounter c;
  c.Add(12, 0xFFFFFFFF);  // ASCII is in every set
  EXPECT_EQ(c.WinnerSet(), 1u);
  EXPECT_EQ(CodePageCounter().WinnerSet(), 1u);
}

TEST(CodePages, LongestCoverageWins) {
  // 10 characters in {Latin-1, Cyrillic}, 3 in {Cyrillic}.
  CodePageCounter c;
  c.Add(10, 0x1 | 0x4);
  c.Add(3, 0x4);
  EXPECT_EQ(c.Count(0), 10u);
  EXPECT_EQ(c.Count(2), 13u);
  EXPECT_EQ(c.WinnerSet(), 0x4u);
}

TEST(CodePages, CharsetTable) {
  const uint32_t table[][2] = {{1, 0},     {2, 238},    {4, 204},    {8, 162},    {16, 177},
                               {32, 178},  {64, 186},   {256, 222},  {512, 128},  {1024, 134},
                               {2048, 129}, {4096, 136}, {8192, 130}, {128, 1},   {3, 1}};
  for (const auto& row : table) EXPECT_EQ(CharsetOfCodePageBit(row[0]), row[1]) << row[0];
}

TEST(CodePages, DefaultFontHeights) {
  EXPECT_EQ(DefaultLogFontHeight(96, 8, true), -11);
  EXPECT_EQ(DefaultLogFontHeight(120, 8, true), -11);
  EXPECT_EQ(DefaultLogFontHeight(0, 8, false), -11);
  EXPECT_EQ(DefaultLogFontHeight(96, 10, true), -13);
  EXPECT_EQ(DefaultLogFontHeight(120, 10, true), -16);
  EXPECT_EQ(DefaultLogFontHeight(96, 10, false), 0);
}

TEST(StringBlock, CopyRules) {
  // Strings 0 "ab", 1 "", 2 "123456789", the rest empty.
  std::u16string block;
  block += char16_t(2);
  block += u"ab";
  block += char16_t(0);
  block += char16_t(9);
  block += u"123456789";
  block.append(13, char16_t(0));
  const auto* units = reinterpret_cast<const uint16_t*>(block.data());
  char16_t out[16];
  EXPECT_EQ(CopyStringFromBlock(units, block.size(), 2, out, 5), 4);
  EXPECT_EQ(std::u16string(out), u"1234");
  EXPECT_EQ(CopyStringFromBlock(units, block.size(), 2, out, 10), 9);
  EXPECT_EQ(std::u16string(out), u"123456789");
  EXPECT_EQ(CopyStringFromBlock(units, block.size(), 2, out, 9), 8);
  EXPECT_EQ(CopyStringFromBlock(units, block.size(), 0, out, 16), 2);
  EXPECT_EQ(CopyStringFromBlock(units, block.size(), 1, out, 16), 0);
  EXPECT_EQ(std::u16string(out), u"");
  EXPECT_EQ(CopyStringFromBlock(units, block.size(), 15, out, 16), 0);
  // A block cut inside a string, or before the wanted one.
  EXPECT_EQ(CopyStringFromBlock(units, 6, 2, out, 16), -1);
  EXPECT_EQ(CopyStringFromBlock(units, 3, 2, out, 16), -1);
}

TEST(DialogGeometry, CentreOverOwner) {
  int32_t x = 0, y = 0;
  EXPECT_TRUE(CentreOverOwner({100, 100, 501, 401}, 200, 100, 1024, 768, &x, &y));
  EXPECT_EQ(x, 100 + 401 / 2 - 100);
  EXPECT_EQ(y, 100 + 301 / 2 - 50);
  // Off the left or top edge, or touching the screen's right or bottom: left alone.
  EXPECT_FALSE(CentreOverOwner({0, 0, 100, 100}, 200, 50, 1024, 768, &x, &y));
  EXPECT_FALSE(CentreOverOwner({0, 0, 200, 100}, 200, 50, 1024, 768, &x, &y));  // x == 0
  EXPECT_TRUE(CentreOverOwner({0, 0, 202, 100}, 200, 50, 1024, 768, &x, &y));   // x == 1
  EXPECT_TRUE(CentreOverOwner({2, 2, 202, 102}, 200, 98, 1024, 768, &x, &y));
  EXPECT_EQ(x, 2);
  EXPECT_EQ(y, 3);
  EXPECT_FALSE(CentreOverOwner({800, 600, 1024, 768}, 300, 200, 1024, 768, &x, &y));
}

TEST(DialogGeometry, FilterListLength) {
  const char16_t filter[] = u"Clips\0*.mp4\0All\0*.*\0";
  EXPECT_EQ(FilterListLength(filter), 6u + 6 + 4 + 4 + 1);
  EXPECT_EQ(FilterListLength(u""), 1u);
  EXPECT_EQ(FilterListLength(nullptr), 0u);
}

}  // namespace
}  // namespace shell
