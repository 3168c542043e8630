#include <gtest/gtest.h>

#include "engine/command_line.h"
#include "platform/os.h"

namespace {
std::string U8(const std::u16string& s) { return platform::utf16ToUtf8(s); }
}  // namespace

TEST(CommandLine, OptionsBoundsAndQuotes) {
  struct Case {
    std::u16string line;
    bool ok;
    std::u16string name;
    bool repeat;
    uint32_t playCount;
    bool exitWhenDone;
    int volume;
    std::u16string codec;
  };
  const Case cases[] = {
      {u"", true, u"", false, 0, false, -1, u""},
      {u"c:\\clips\\a.mp4 -L", true, u"c:\\clips\\a.mp4", true, 10100, false, -1, u""},
      {u"a.mp4 -N0", true, u"a.mp4", false, 0, false, -1, u""},
      {u"a.mp4 -N-3", true, u"a.mp4", false, 0, false, -1, u""},
      {u"a.mp4 -N250", true, u"a.mp4", true, 100, false, -1, u""},
      {u"a.mp4 -n7", true, u"a.mp4", true, 7, false, -1, u""},
      {u"a.mp4 -N99999999999999", true, u"a.mp4", true, 100, false, -1, u""},
      {u"a.mp4 -V150", true, u"a.mp4", false, 0, false, 100, u""},
      {u"a.mp4 -V-5", true, u"a.mp4", false, 0, false, 0, u""},
      {u"a.mp4 -v42 -x", true, u"a.mp4", false, 0, true, 42, u""},
      {u"a.mp4   -Aevrc", true, u"a.mp4", false, 0, false, -1, u"EVRC"},
      {u"a.mp4 -L -N5", true, u"a.mp4", true, 5, false, -1, u""},
      {u"\"C:\\My Clips\\Big Show.MP4\" -L", true, u"C:\\My Clips\\Big Show.MP4", true, 10100, false, -1, u""},
      {u"\"C:\\My Clips\\show.krc\" -X", true, u"C:\\My Clips\\show.krc", false, 0, true, -1, u""},
      {u"rtsp://host/live -V10", true, u"rtsp://host/live", false, 0, false, 10, u""},
      {u"a.mp4 -Q", false, u"", false, 0, false, -1, u""},
      {u"a.mp4 -L extra", false, u"", false, 0, false, -1, u""},
      {u"a.mp4 -LX", false, u"", false, 0, false, -1, u""},
      {u"a.mp4 -N", false, u"", false, 0, false, -1, u""},
      {u"a.mp4 -V1x", false, u"", false, 0, false, -1, u""},
      {u"a.mp4 -A", false, u"", false, 0, false, -1, u""},
      {u"a.mp4 -AABCDEFGHIJ", false, u"", false, 0, false, -1, u""},  // 10 letters do not fit
      {u"a.mp4 -AABCDEFGHI", true, u"a.mp4", false, 0, false, -1, u"ABCDEFGHI"},
      {u"a.mp4 -", false, u"", false, 0, false, -1, u""},
  };
  for (const Case& c : cases) {
    PlayerCommandLine p;
    const bool ok = ParseCommandLine(c.line, &p);
    EXPECT_EQ(ok, c.ok) << U8(c.line);
    if (!ok || !c.ok) continue;
    EXPECT_EQ(p.name, c.name) << U8(c.line);
    EXPECT_EQ(p.repeat, c.repeat) << U8(c.line);
    EXPECT_EQ(p.playCount, c.playCount) << U8(c.line);
    EXPECT_EQ(p.exitWhenDone, c.exitWhenDone) << U8(c.line);
    EXPECT_EQ(p.volume, c.volume) << U8(c.line);
    EXPECT_EQ(p.audioCodec, c.codec) << U8(c.line);
  }
}

TEST(CommandLine, OverlongNameIsRefusedNotTruncated) {
  const std::u16string name = u"c:\\" + std::u16string(260, u'x') + u".mp4";
  PlayerCommandLine p;
  EXPECT_FALSE(ParseCommandLine(name, &p));
  const std::u16string fits = std::u16string(251, u'y') + u".mp4";  // 255 units
  EXPECT_TRUE(ParseCommandLine(fits, &p));
  EXPECT_EQ(p.name, fits);
}

TEST(Address, KindByPrefixAndExtension) {
  struct Case {
    std::u16string address;
    AddressKind kind;
  };
  const Case cases[] = {
      {u"rtsp://server/clip", AddressKind::stream},
      {u"RTSP://server/clip.mp4", AddressKind::stream},
      {u"file://c:/a.mp4", AddressKind::file},
      {u"http://server/a.mp4", AddressKind::download},
      {u"c:\\clips\\a.Mp4", AddressKind::file},
      {u"c:\\clips\\a.mp4.bak", AddressKind::descriptor},  // only the first .MP4 counts
      {u"c:\\x.mp4\\a.mp4", AddressKind::descriptor},
      {u"c:\\clips\\show.krc", AddressKind::descriptor},
      {u"rtsp:/bad", AddressKind::descriptor},
  };
  for (const Case& c : cases) EXPECT_EQ(KindOfAddress(c.address), c.kind) << U8(c.address);
}

TEST(Address, PeelQuotes) {
  EXPECT_EQ(PeelQuotes(u"\"a b.mp4\""), u"a b.mp4");
  EXPECT_EQ(PeelQuotes(u"\"\"a.mp4\"\""), u"a.mp4");
  EXPECT_EQ(PeelQuotes(u"a.mp4"), u"a.mp4");
  EXPECT_EQ(PeelQuotes(u"\""), u"");
}
