#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/os.h"

using namespace platform;

TEST(Text, Utf8RoundTrip) {
  struct Case { std::string utf8; std::u16string utf16; };
  const Case cases[] = {
      {"", u""},
      {"plain", u"plain"},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xE2\x82\xAC", u"\u20AC"},
      {"\xF0\x9F\x8E\xB5", u"\U0001F3B5"},  // needs a surrogate pair
  };
  for (const Case& c : cases) {
    EXPECT_EQ(utf8ToUtf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(utf16ToUtf8(c.utf16), c.utf8);
  }
}

TEST(Text, MalformedUtf8BecomesReplacement) {
  EXPECT_EQ(utf8ToUtf16("a\xC3"), u"a\uFFFD");            // truncated
  EXPECT_EQ(utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");     // overlong
  EXPECT_EQ(utf8ToUtf16("\xFF" "b"), u"\uFFFD" "b");
  EXPECT_EQ(utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");  // lone surrogate
}

TEST(Text, AnsiCodePage) {
  EXPECT_EQ(ansiToUtf16("A\xE9\x80"), u"A\u00E9\u20AC");
  EXPECT_EQ(utf16ToAnsi(u"A\u00E9\u20AC"), "A\xE9\x80");
  EXPECT_EQ(utf16ToAnsi(u"\u4E2D"), "?");
}

TEST(Files, WidePathWriteReadDelete) {
  std::u16string path = u"os_test_\u00E9\u4E2D.tmp";
  std::FILE* f = openFile(path, "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("abc", f);
  std::fclose(f);
  EXPECT_TRUE(fileExists(path));
  f = openFile(path, "rb");
  ASSERT_NE(f, nullptr);
  char buf[4] = {};
  EXPECT_EQ(std::fread(buf, 1, 3, f), 3u);
  std::fclose(f);
  EXPECT_STREQ(buf, "abc");
  EXPECT_TRUE(deleteFile(path));
  EXPECT_FALSE(fileExists(path));
  EXPECT_FALSE(deleteFile(path));
}

TEST(Clock, LocalTimeAgreesWithFileTime) {
  LocalTime t = localTime();
  EXPECT_GE(t.year, 2020);
  EXPECT_TRUE(t.month >= 1 && t.month <= 12);
  // Seconds since 1601 of the local clock, reduced to the time of day.
  uint64_t secs = localFileTime() / 10000000ULL;
  int daySecs = static_cast<int>(secs % 86400);
  int fromFields = t.hour * 3600 + t.minute * 60 + t.second;
  int diff = (daySecs - fromFields + 86400) % 86400;
  EXPECT_TRUE(diff <= 2 || diff >= 86398) << daySecs << " vs " << fromFields;
}

TEST(Clock, SleepAdvancesMonotonicClock) {
  uint64_t a = monotonicMs();
  sleepMs(30);
  uint64_t b = monotonicMs();
  EXPECT_GE(b - a, 25u);
  EXPECT_FALSE(hostName().empty());
}
