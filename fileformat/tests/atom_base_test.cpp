// Big-endian rendering, the atom headers and size upkeep through the tree.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "fileformat/atom.h"
#include "fileformat/render.h"
#include "fileformat/user_data_atom.h"
#include "test_util.h"

namespace fileformat {
namespace {

using test::Bytes;
using test::hexBytes;

Bytes capture(void (*fn)(std::ostream&)) {
  std::ostringstream out;
  fn(out);
  std::string s = out.str();
  return Bytes(s.begin(), s.end());
}

TEST(Render, IntegersAndStringsAreBigEndian) {
  struct Case {
    void (*fn)(std::ostream&);
    const char* hex;
  } cases[] = {
      {[](std::ostream& o) { writeU32(o, 0x01020304); }, "01020304"},
      {[](std::ostream& o) { writeU24(o, 0xAA010203); }, "010203"},
      {[](std::ostream& o) { writeU16(o, 0x12345678); }, "5678"},
      {[](std::ostream& o) { writeU8(o, 0x1FF); }, "ff"},
      {[](std::ostream& o) { writeString(o, "ab"); }, "6162"},
      {[](std::ostream& o) { writeStringZ(o, ""); }, "00"},
      {[](std::ostream& o) { writeStringZ(o, "ab"); }, "616200"},
      {[](std::ostream& o) { writeWideString(o, u"A\u20ac"); }, "004120ac"},
      {[](std::ostream& o) { writeWideStringZ(o, u""); }, "0000"},
      {[](std::ostream& o) { writeWideStringZ(o, u"A"); }, "00410000"},
  };
  for (const auto& c : cases) EXPECT_EQ(capture(c.fn), hexBytes(c.hex)) << c.hex;
}

TEST(Render, HexByteLeavesStreamDecimal) {
  std::ostringstream out;
  writeHexByte(out, 0x1f);
  out << ' ' << 26;
  EXPECT_EQ(out.str(), "0x1f 26");
}

TEST(Render, ReadBytesZeroFillsPastTheEnd) {
  std::istringstream in(std::string("\x07\x08", 2));
  uint8_t buf[4] = {9, 9, 9, 9};
  EXPECT_FALSE(readBytes(in, 4, buf));
  EXPECT_EQ(Bytes(buf, buf + 4), hexBytes("07080000"));
  std::istringstream full(std::string("\x01\x02", 2));
  EXPECT_TRUE(readBytes(full, 2, buf));
  EXPECT_EQ(buf[1], 2);
}

TEST(Render, SizeFieldLengthBoundaries) {
  const std::pair<uint32_t, uint32_t> cases[] = {{0, 1},       {127, 1},     {128, 2},
                                                 {16383, 2},   {16384, 3},   {2097151, 3},
                                                 {2097152, 4}, {0xFFFFFFFF, 4}};
  for (auto [payload, len] : cases) EXPECT_EQ(sizeFieldLength(payload), len) << payload;
}

// A small leaf table for the tree tests: one 32-bit entry count and entries.
class TableAtom : public FullAtom {
 public:
  TableAtom(uint32_t flags = 0) : FullAtom(fourcc("tabl"), 0, flags) { recomputeSize(); }
  void add(uint32_t v) {
    entries_.push_back(v);
    recomputeSize();
  }

 protected:
  uint64_t bodySize() const override { return 4 + 4 * entries_.size(); }
  void renderBody(std::ostream& out) const override {
    writeU32(out, static_cast<uint32_t>(entries_.size()));
    for (uint32_t v : entries_) writeU32(out, v);
  }

 private:
  std::vector<uint32_t> entries_;
};

TEST(AtomHeader, FullAtomWritesOnlyLow24FlagBits) {
  TableAtom t(0x01000001);
  EXPECT_EQ(test::render(t), hexBytes("00000010 7461626c 00 000001 00000000"));
  EXPECT_EQ(t.headerSize(), 12u);
  ContainerAtom plain(fourcc("moov"));
  plain.recomputeSize();
  EXPECT_EQ(test::render(plain), hexBytes("00000008 6d6f6f76"));
}

TEST(AtomSize, DeepTableEntryGrowsEveryAncestorEqually) {
  auto root = std::make_unique<ContainerAtom>(fourcc("moov"));
  root->recomputeSize();
  std::vector<Atom*> path{root.get()};
  ContainerAtom* at = root.get();
  for (const char* t : {"trak", "mdia", "minf", "stbl"}) {
    auto c = std::make_unique<ContainerAtom>(fourcc(t));
    c->recomputeSize();
    at = at->adopt(std::move(c));
    path.push_back(at);
  }
  TableAtom* table = at->adopt(std::make_unique<TableAtom>());
  path.push_back(table);
  std::vector<uint32_t> before;
  for (Atom* a : path) before.push_back(a->size());
  table->add(7);
  table->add(8);
  for (size_t i = 0; i < path.size(); ++i) EXPECT_EQ(path[i]->size(), before[i] + 8) << i;
  test::expectSizesCurrent(*root);
}

TEST(AtomSize, RandomEditsKeepEverySizeCurrent) {
  std::mt19937 rng(1234);
  auto root = std::make_unique<ContainerAtom>(fourcc("moov"));
  root->recomputeSize();
  std::vector<ContainerAtom*> containers{root.get()};
  std::vector<TableAtom*> tables;
  std::vector<UserDataAtom*> udtas;
  for (int step = 0; step < 300; ++step) {
    switch (rng() % 4) {
      case 0: {
        auto c = std::make_unique<ContainerAtom>(fourcc("trak"));
        c->recomputeSize();
        containers.push_back(containers[rng() % containers.size()]->adopt(std::move(c)));
        break;
      }
      case 1:
        tables.push_back(
            containers[rng() % containers.size()]->adopt(std::make_unique<TableAtom>()));
        break;
      case 2:
        if (!tables.empty()) tables[rng() % tables.size()]->add(static_cast<uint32_t>(step));
        break;
      case 3:
        if (udtas.empty() || rng() % 2) {
          udtas.push_back(
              containers[rng() % containers.size()]->adopt(std::make_unique<UserDataAtom>()));
        } else {
          // A udta filled after it joined the tree.
          udtas[rng() % udtas.size()]->AddAtom(std::make_unique<TableAtom>());
        }
        break;
    }
    ASSERT_NO_FATAL_FAILURE(test::expectSizesCurrent(*root)) << "step " << step;
  }
}

// Fails every write after a fixed number of bytes, like a full disk.
class LimitedBuf : public std::streambuf {
 public:
  explicit LimitedBuf(size_t limit) : limit_(limit) {}
  std::string data;

 protected:
  int_type overflow(int_type c) override {
    if (data.size() >= limit_ || traits_type::eq_int_type(c, traits_type::eof()))
      return traits_type::eof();
    data.push_back(traits_type::to_char_type(c));
    return c;
  }

 private:
  size_t limit_;
};

TEST(Render, FailedStreamStopsOutputSilently) {
  TableAtom t;
  for (uint32_t i = 0; i < 10; ++i) t.add(i);
  LimitedBuf buf(10);
  std::ostream out(&buf);
  t.render(out);
  EXPECT_TRUE(out.bad());
  EXPECT_EQ(buf.data.size(), 10u);
  t.render(out);
  writeWideStringZ(out, u"abc");
  EXPECT_EQ(buf.data.size(), 10u);
}

}  // namespace
}  // namespace fileformat
