#include <gtest/gtest.h>

#include <string>

#include "streaming/range.h"

using namespace streaming;

namespace {
bool parse(const std::string& text, RangeValue& v) { return ParseRange(text.data(), uint32_t(text.size()), v); }

std::string compose(const RangeValue& v) {
  char buf[128];
  uint32_t n = 0;
  if (!ComposeRange(buf, sizeof buf, v, n)) return "<fail>";
  return std::string(buf, n);
}
}  // namespace

// The examples of RFC 2326 and the cases the dialect cares about.
TEST(Range, ParsesTheRfcExamples) {
  struct Case {
    const char* text;
    bool ok;
    int32_t format;
    bool hasStart, hasEnd;
    const char* recomposed;  // ComposeRange of the result, without CR LF
  } cases[] = {
      {"npt=0-", true, kRangeNpt, true, false, "npt=0-"},
      {"npt=-30.5", true, kRangeNpt, false, true, "npt=-30.500000"},
      {"npt=now-", true, kRangeNpt, true, false, "npt=now-"},
      {"npt=123.45-125", true, kRangeNpt, true, true, "npt=123.450000-125"},
      {"npt=12:05:35.3-", true, kRangeNpt, true, false, "npt=12:05:35.300000-"},
      {"npt = 1-2", true, kRangeNpt, true, true, "npt=1-2"},
      {"smpte=10:12:33:20-", true, kRangeSmpte, true, false, "smpte=10:12:33:20-"},
      {"smpte=10:07:33-", true, kRangeSmpte, true, false, "smpte=10:07:33-"},
      {"smpte=10:07:00-10:07:33:05.01", true, kRangeSmpte, true, true, "smpte=10:07:00-10:07:33:05.01"},
      {"smpte-25=10:07:00:26-", false, kRangeNotParsed, false, false, nullptr},
      {"smpte-25=10:07:00:25-", true, kRangeSmpte25, true, false, "smpte-25=10:07:00:25-"},
      {"smpte=10:07:00:30-", true, kRangeSmpte, true, false, "smpte=10:07:00:30-"},
      {"smpte-30-drop=00:00:01-", true, kRangeSmpte30Drop, true, false, "smpte-30-drop=00:00:01-"},
      {"=10:00:00-", true, kRangeSmpte, true, false, "smpte=10:00:00-"},
      {"clock=19961108T142300Z-19961108T143520Z", true, kRangeClock, true, true,
       "clock=19961108T142300Z-19961108T143520Z"},
      {"clock=19961108T142300.25Z-", true, kRangeClock, true, false, "clock=19961108T142300.250000Z-"},
      {"clock=19961108X142300Z-", false, kRangeNotParsed, false, false, nullptr},
      {"clock=19961308T142300Z-", false, kRangeNotParsed, false, false, nullptr},
      {"xyz=1-2", false, kRangeUnknownUnit, false, false, nullptr},
      {"npt=5", false, kRangeNotParsed, false, false, nullptr},
      {"npt=99999999999-", false, kRangeNotParsed, false, false, nullptr},
      {"npt=1:60:00-", false, kRangeNotParsed, false, false, nullptr},
      {"", false, kRangeNotParsed, false, false, nullptr},
  };
  for (const auto& c : cases) {
    RangeValue v;
    EXPECT_EQ(parse(c.text, v), c.ok) << c.text;
    EXPECT_EQ(v.format, c.format) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(v.hasStart, c.hasStart) << c.text;
    EXPECT_EQ(v.hasEnd, c.hasEnd) << c.text;
    EXPECT_EQ(compose(v), std::string(c.recomposed) + "\r\n") << c.text;
  }
}

TEST(Range, FieldsOfParsedTimes) {
  RangeValue v;
  ASSERT_TRUE(parse("npt=-30.5", v));
  EXPECT_EQ(v.end.npt.kind, 1);
  EXPECT_EQ(v.end.npt.value, 30u);
  EXPECT_FLOAT_EQ(v.end.npt.fraction, 0.5f);
  ASSERT_TRUE(parse("npt=now-", v));
  EXPECT_EQ(v.start.npt.kind, 0);
  ASSERT_TRUE(parse("clock=19961108T142300Z-", v));
  EXPECT_EQ(v.start.clock.year, 1996);
  EXPECT_EQ(v.start.clock.minute, 23);
}

TEST(Range, ToMilliseconds) {
  struct Case {
    const char* text;
    int32_t result;
    uint32_t start, end;
  } cases[] = {{"npt=12.5-", 0, 12500, 0}, {"npt=0-", 0, 0, 0}, {"npt=0.25-1:02:03.5", 0, 250, 3723500},
               {"npt=now-30", 0, 0, 30000}, {"smpte=00:01:02:15-", 0, 62000, 0},
               {"clock=19961108T142300Z-", 0, 0, 0}, {"npt=4294967-4294968", -1, 0, 0}};
  for (const auto& c : cases) {
    RangeValue v;
    ASSERT_TRUE(parse(c.text, v)) << c.text;
    uint32_t s = 1, e = 1;
    EXPECT_EQ(RangeToMilliseconds(v, s, e), c.result) << c.text;
    EXPECT_EQ(s, c.start) << c.text;
    EXPECT_EQ(e, c.end) << c.text;
  }
  RangeValue none;
  uint32_t s, e;
  EXPECT_EQ(RangeToMilliseconds(none, s, e), -1);
}

TEST(Range, ComposeHeadsLimitsAndLength) {
  RangeValue v;
  v.format = kRangeNpt;
  v.hasStart = true;
  v.start.npt.kind = 1;
  v.start.npt.value = 12;
  v.start.npt.fraction = 0.25f;
  EXPECT_EQ(compose(v), "npt=12.250000-\r\n");
  char buf[64];
  uint32_t n = 0;
  ASSERT_TRUE(ComposeRangeHeader(buf, sizeof buf, v, n));
  EXPECT_EQ(std::string(buf, n), "Range: npt=12.250000-\r\n");
  ASSERT_TRUE(ComposeSdpRange(buf, sizeof buf, v, n));
  EXPECT_EQ(std::string(buf, n), "a=range:npt=12.250000-\r\n");
  EXPECT_LE(n, GetRangeTextLength(v));
  EXPECT_FALSE(ComposeRangeHeader(buf, 10, v, n));  // too small
  v.start.npt.value = 1000000000;  // ten digits
  EXPECT_FALSE(ComposeRange(buf, sizeof buf, v, n));
  v.hasStart = false;
  EXPECT_FALSE(ComposeRange(buf, sizeof buf, v, n));
  EXPECT_EQ(GetRangeTextLength(v), 0u);
  v.format = kRangeNotParsed;
  ASSERT_TRUE(ComposeRangeHeader(buf, sizeof buf, v, n));
  EXPECT_EQ(n, 0u);
  // The a=range bound holds for every parsed example.
  for (const char* text : {"smpte-30-drop=10:07:33:05.01-10:07:33:05.01", "clock=19961108T142300.5Z-",
                           "npt=4000000:00:00.123-", "npt=now-"}) {
    RangeValue r;
    ASSERT_TRUE(parse(text, r)) << text;
    ASSERT_TRUE(ComposeSdpRange(buf, sizeof buf, r, n)) << text;
    EXPECT_LE(n, GetRangeTextLength(r)) << text;
  }
}

TEST(Range, HttpDateHasTheFixedForm) {
  char buf[40];
  uint32_t n = 0;
  ASSERT_TRUE(FormatHttpDate(buf, sizeof buf, n));
  EXPECT_EQ(n, 29u);
  EXPECT_EQ(std::string(buf + 25, 4), " GMT");
}
