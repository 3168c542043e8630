// The header rewrite on VOLs made by ffmpeg (the rewritten stream must decode
// to the same pictures) and on a few headers written here bit by bit.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "amr_fixture.h"
#include "volheader/vol_header.h"

using namespace volheader;
using Bytes = std::vector<uint8_t>;

namespace {

std::string Scratch(const std::string& name) {
  static const std::string dir = [] {
    std::string d = "/tmp/volheader_test_" + std::to_string(getpid());
    std::system(("mkdir -p " + d).c_str());
    return d;
  }();
  static const struct Cleanup {
    ~Cleanup() { std::system(("rm -rf '" + dir + "'").c_str()); }
  } cleanup;
  return dir + "/" + name;
}

std::string Sh(const std::string& cmd) {
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    if (pclose(p) != 0) out += "\n(failed: " + cmd + ")";
  }
  return out;
}

Bytes Encode(const std::string& name, const std::string& options) {
  std::string path = Scratch(name + ".m4v");
  std::string err = Sh("ffmpeg -v error -y -f lavfi -i testsrc=size=176x144:rate=15 -frames:v 8 -c:v mpeg4 -bf 0 " +
                       options + " -f m4v '" + path + "' 2>&1");
  EXPECT_EQ(err, "") << name;
  return convert_testing::ReadFile(path);
}

// Decoded pictures' checksums, one line per frame; "-xerror" makes any
// complaint of the decoder fail the run.
std::string Pictures(const Bytes& es, const std::string& name) {
  std::string path = Scratch(name + "-check.m4v");
  convert_testing::WriteFile(path, es);
  std::string out = Sh("ffmpeg -v error -xerror -f m4v -i '" + path + "' -f framemd5 - 2>&1 | grep -v '^#'");
  return out;
}

VolRewrite Rewrite(const Bytes& es, int layer, bool* ok) {
  VolRewrite r;
  r.data = es.data();
  r.length = es.size();
  *ok = RewriteVolHeader(&r, layer);
  return r;
}

size_t FirstVop(const Bytes& es) {
  for (size_t i = 0; i + 3 < es.size(); ++i)
    if (es[i] == 0 && es[i + 1] == 0 && es[i + 2] == 1 && (es[i + 3] == 0xB6 || es[i + 3] == 0xB3)) return i;
  return es.size();
}

TEST(VolHeader, FfmpegHeadersRewriteToStreamsThatDecodeTheSame) {
  struct Case {
    const char* name;
    const char* options;
    uint32_t resolution;
    int bits;
  } cases[] = {
      {"plain15", "-r 15", 15, 4},
      {"rate30", "-r 30", 30, 5},
      {"rate1", "-r 1", 1, 1},
      {"partitioned", "-r 15 -data_partitioning 1", 15, 4},
      {"gop", "-r 15 -g 3 -flags +cgop -sc_threshold 1000000000", 15, 4},
  };
  for (const Case& c : cases) {
    Bytes es = Encode(c.name, c.options);
    ASSERT_GT(es.size(), 100u) << c.name;
    bool ok;
    VolRewrite r = Rewrite(es, 0, &ok);
    ASSERT_TRUE(ok) << c.name;
    EXPECT_EQ(r.length, FirstVop(es)) << c.name << ": the header ends at the first VOP or GOV";
    ASSERT_GT(r.outLength, 20u);
    EXPECT_EQ(Bytes(r.out, r.out + 5), (Bytes{0, 0, 1, 0xB0, 0x02})) << c.name;

    BitReader in(r.out, r.outLength);
    VolHeaderInfo info;
    ASSERT_EQ(ParseVolHeader(in, &info, 0), 0) << c.name << ": the new header parses again";
    EXPECT_EQ(info.timeIncrementResolution, c.resolution) << c.name;
    EXPECT_EQ(info.timeIncrementBits, c.bits) << c.name;
    EXPECT_EQ(info.width, 176u);
    EXPECT_EQ(info.height, 144u);

    Bytes rewritten(r.out, r.out + r.outLength);
    rewritten.insert(rewritten.end(), es.begin() + long(r.length), es.end());
    std::string before = Pictures(es, c.name), after = Pictures(rewritten, std::string(c.name) + "-new");
    EXPECT_EQ(std::count(before.begin(), before.end(), '\n'), 8) << before;
    EXPECT_EQ(after, before) << c.name;
  }
}

TEST(VolHeader, ProfileFollowsTheLayer) {
  Bytes es = Encode("layers", "-r 15");
  bool ok;
  VolRewrite enhancement = Rewrite(es, 1, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(enhancement.out[4], 0x12);
  VolRewrite still = Rewrite(es, 0, &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(still.out[4], 0x02);
}

TEST(VolHeader, ToolsTheNewHeaderCannotCarryAreRefused) {
  struct Case {
    const char* name;
    const char* options;
  } cases[] = {
      {"interlaced", "-flags +ildct"},
      {"mpegquant", "-mpeg_quant 1"},
      {"qpel", "-flags +qpel"},
  };
  for (const Case& c : cases) {
    Bytes es = Encode(c.name, c.options);
    ASSERT_GT(es.size(), 100u);
    bool ok;
    Rewrite(es, 0, &ok);
    EXPECT_FALSE(ok) << c.name;
  }
}

// A VOL written field by field, for what ffmpeg does not make.
struct VolFields {
  uint32_t layerId = 0;
  uint32_t resolution = 15;
  uint32_t fixedRate = 0, fixedIncrement = 0;
  uint32_t scalability = 0;
  uint32_t sprite = 0;
  uint32_t shape = 0;
};

Bytes MakeVol(const VolFields& f) {
  std::vector<int> bits;
  auto put = [&](uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bits.push_back(int(v >> i) & 1);
  };
  put(0x00000100, 32);
  put(0x00000120 | f.layerId, 32);
  put(0, 1);
  put(1, 8);
  put(0, 1);
  put(1, 4);
  put(0, 1);
  put(f.shape, 2);
  put(1, 1);
  put(f.resolution, 16);
  put(1, 1);
  put(f.fixedRate, 1);
  int n = 0;
  for (uint32_t v = f.resolution - 1; v; v >>= 1) ++n;
  if (f.fixedRate) put(f.fixedIncrement, n < 1 ? 1 : n);
  put(1, 1);
  put(176, 13);
  put(1, 1);
  put(144, 13);
  put(1, 1);
  put(0, 1);
  put(1, 1);
  put(f.sprite, 1);
  put(0, 1);
  put(0, 1);
  put(1, 1);
  put(1, 1);
  put(0, 1);
  put(f.scalability, 1);
  if (f.scalability) put(0x0421 << 11 | 0x3FF, 1 + 4 + 1 + 20 + 1);
  put(0, 1);
  while (bits.size() % 8) put(1, 1);
  Bytes out;
  for (size_t i = 0; i < bits.size(); i += 8) {
    uint8_t b = 0;
    for (int k = 0; k < 8; ++k) b = uint8_t(b << 1 | bits[i + size_t(k)]);
    out.push_back(b);
  }
  return out;
}

TEST(VolHeader, AFixedRateKeepsItsIncrementInTheResolutionsBits) {
  // ffmpeg's VOPs behind a header of ours with a fixed rate: ffmpeg reads
  // the rewritten header's later fields only if the increment took exactly
  // the right number of bits.
  for (uint32_t rate : {15u, 30u}) {
    Bytes es = Encode("fixed" + std::to_string(rate), "-r " + std::to_string(rate));
    VolFields f;
    f.resolution = rate;
    f.fixedRate = 1;
    f.fixedIncrement = rate == 30 ? 17 : 1;  // 17 needs all five bits
    Bytes input = MakeVol(f);
    size_t vop = FirstVop(es);
    input.insert(input.end(), es.begin() + long(vop), es.end());
    bool ok;
    VolRewrite r = Rewrite(input, 0, &ok);
    ASSERT_TRUE(ok) << rate;
    BitReader in(r.out, r.outLength);
    VolHeaderInfo info;
    ASSERT_EQ(ParseVolHeader(in, &info, 0), 0);
    EXPECT_EQ(info.fixedVopRate, 1u);
    EXPECT_EQ(info.fixedVopTimeIncrement, f.fixedIncrement);
    EXPECT_EQ(info.timeIncrementBits, rate == 30 ? 5 : 4);
    Bytes rewritten(r.out, r.out + r.outLength);
    rewritten.insert(rewritten.end(), input.begin() + long(r.length), input.end());
    EXPECT_EQ(Pictures(rewritten, "fixed-new"), Pictures(es, "fixed-old")) << rate;
  }
}

TEST(VolHeader, LayersScalabilityAndShapes) {
  struct Case {
    const char* name;
    VolFields fields;
    int layer;
    bool ok;
    uint32_t scalability;
  } cases[] = {
      {"enhancement without scalability", {.layerId = 1}, 1, true, 0},
      {"enhancement with scalability", {.layerId = 1, .scalability = 1}, 1, true, 1},
      {"base with scalability", {.scalability = 1}, 0, false, 0},
      {"sprite", {.sprite = 1}, 0, false, 0},
      {"binary shape", {.shape = 1}, 0, false, 0},
  };
  for (const Case& c : cases) {
    Bytes vol = MakeVol(c.fields);
    bool ok;
    VolRewrite r = Rewrite(vol, c.layer, &ok);
    EXPECT_EQ(ok, c.ok) << c.name;
    if (!ok) continue;
    EXPECT_EQ(r.length, vol.size()) << c.name << ": without a VOP the whole sample is header";
    BitReader in(r.out, r.outLength);
    VolHeaderInfo info;
    ASSERT_EQ(ParseVolHeader(in, &info, c.layer), 0) << c.name;
    EXPECT_EQ(info.scalability, c.scalability) << c.name;
    EXPECT_EQ(info.layerId, c.fields.layerId) << c.name;
    EXPECT_EQ(r.out[4], c.layer ? 0x12 : 0x02) << c.name;
  }
}

TEST(VolHeader, EdgesOfTheInput) {
  Bytes es = Encode("edges", "-r 15");
  size_t vop = FirstVop(es);
  bool ok;
  // A header cut short: the parse would read past its end.
  Bytes cut(es.begin(), es.begin() + long(vop / 2));
  Rewrite(cut, 0, &ok);
  EXPECT_FALSE(ok);
  // No start code at the front.
  Bytes junk = {0x12, 0x34, 0x56, 0x78, 0, 0, 1, 0xB6};
  Rewrite(junk, 0, &ok);
  EXPECT_FALSE(ok);
  // Short-header pictures pass whole, with an empty header.
  Bytes h263 = {0x00, 0x00, 0x80, 0x02, 0x08, 0x00, 0x00, 0x00};
  VolRewrite r = Rewrite(h263, 0, &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(r.length, 0u);
  EXPECT_EQ(r.outLength, 0u);
}

TEST(BitBuffer, StopsFourBytesBeforeItsEnd) {
  BitBuffer b(8);
  EXPECT_EQ(b.Put(0xDEADBEEF, 32), 0);
  EXPECT_EQ(b.Put(1, 1), 1);
  EXPECT_EQ(b.ByteCount(), 4u);
  EXPECT_EQ(Bytes(b.Data(), b.Data() + 4), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
  BitBuffer s(48);
  s.Put(1, 1);
  s.Stuffing();
  EXPECT_EQ(s.Data()[0], 0xBF);
  s.Stuffing();
  EXPECT_EQ(s.Data()[1], 0x7F) << "stuffing on a boundary is a whole byte";
}

}  // namespace
