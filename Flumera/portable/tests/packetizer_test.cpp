#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "flumera/access_unit_list.h"
#include "flumera/connection_framing.h"
#include "flumera/rtp_packetizer.h"

using namespace flumera;

namespace {

std::vector<uint8_t> Bytes(const AccessUnitList& l) {
  std::vector<uint8_t> out;
  for (int i = 0; i < l.Count(); ++i) out.insert(out.end(), l.Get(i).data, l.Get(i).data + l.Get(i).length);
  return out;
}

std::vector<AccessUnitList*> Collect(RtpPacketizer& p) {
  std::vector<AccessUnitList*> v;
  for (AccessUnitList* l = p.TakePackets(); l; l = l->Next()) v.push_back(l);
  return v;
}

struct Packets {
  PacketAllocator& alloc;
  std::vector<AccessUnitList*> list;
  Packets(PacketAllocator& a, RtpPacketizer& p) : alloc(a), list(Collect(p)) {}
  ~Packets() {
    if (!list.empty()) alloc.FreeChain(list.front());
  }
  size_t size() const { return list.size(); }
  std::vector<uint8_t> operator[](size_t i) const { return Bytes(*list[i]); }
};

uint16_t Seq(const std::vector<uint8_t>& b) { return uint16_t(b[2] << 8 | b[3]); }
uint32_t Ts(const std::vector<uint8_t>& b) { return GetBe32(&b[4]); }
bool Marker(const std::vector<uint8_t>& b) { return b[1] & 0x80; }

// A unit: header piece, then payload fragments.
struct Unit {
  std::vector<uint8_t> header;
  std::vector<std::vector<uint8_t>> pieces;
  AccessUnitList list{AccessUnitList::kMaxFragments};
  Unit(std::vector<uint8_t> h, std::vector<std::vector<uint8_t>> p) : header(std::move(h)), pieces(std::move(p)) {
    if (!header.empty()) list.Append(header.data(), uint32_t(header.size()));
    for (auto& piece : pieces) list.Append(piece.data(), uint32_t(piece.size()));
  }
};

std::vector<uint8_t> Filled(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

TEST(RtpHeader, FieldsAreBigEndian) {
  uint8_t h[12];
  ASSERT_TRUE(WriteRtpHeader(h, 12, true, 96, 0x1234, 0xA1B2C3D4, 0x01020304));
  const uint8_t want[12] = {0x80, 0xE0, 0x12, 0x34, 0xA1, 0xB2, 0xC3, 0xD4, 1, 2, 3, 4};
  EXPECT_EQ(std::vector<uint8_t>(h, h + 12), std::vector<uint8_t>(want, want + 12));
  EXPECT_FALSE(WriteRtpHeader(h, 11, false, 96, 0, 0, 0));
}

TEST(VideoPacketizer, LargeUnitIsSplitWithMarkerOnTheLast) {
  PacketAllocator alloc;
  VideoRtpPacketizer v(alloc, 96, 7);
  Unit u({0x31}, {Filled(60000, 1), Filled(40000, 2)});
  ASSERT_EQ(v.Packetize(u.list, 5000), kPacketizeOk);
  Packets p(alloc, v);
  ASSERT_EQ(p.size(), 3u);
  const uint32_t pieces[3] = {49148, 49148, 100000 - 2 * 49148};
  std::vector<uint8_t> payload;
  for (size_t i = 0; i < 3; ++i) {
    auto b = p[i];
    ASSERT_EQ(b.size(), 12 + 8 + pieces[i]);
    EXPECT_EQ(Marker(b), i == 2) << i;
    EXPECT_EQ(Seq(b), i);
    EXPECT_EQ(Ts(b), 5000u);  // every packet of the unit carries its time
    EXPECT_EQ(b[12], 0x44);   // single entry: no follow bit
    EXPECT_EQ(GetBe32(&b[16]), pieces[i]);
    payload.insert(payload.end(), b.begin() + 20, b.end());
  }
  std::vector<uint8_t> want = u.pieces[0];
  want.insert(want.end(), u.pieces[1].begin(), u.pieces[1].end());
  EXPECT_EQ(payload, want);
}

TEST(VideoPacketizer, SmallUnitsShareAPacketBehindTheirTable) {
  PacketAllocator alloc;
  VideoRtpPacketizer v(alloc, 96, 7);
  Unit a({0x31}, {Filled(10, 1)}), b({0x20}, {Filled(20, 2)}), c({0x20}, {Filled(5, 3)});
  ASSERT_EQ(v.Packetize(a.list, 100), kPacketizeOk);
  ASSERT_EQ(v.Packetize(b.list, 140), kPacketizeOk);
  ASSERT_EQ(v.Packetize(c.list, 180), kPacketizeOk);
  EXPECT_EQ(v.TakePackets(), nullptr);  // still open
  v.Flush();
  Packets p(alloc, v);
  ASSERT_EQ(p.size(), 1u);
  auto bytes = p[0];
  EXPECT_TRUE(Marker(bytes));
  EXPECT_EQ(Ts(bytes), 100u);
  const std::vector<uint8_t> table = {0xC4, 0, 0, 0, 0, 0, 0, 10,                    // first: no time
                                      0x80, 0, 0, 0, 0, 0, 0, 140, 0, 0, 0, 20,      // 0x20 followed
                                      0x00, 0, 0, 0, 0, 0, 0, 180, 0, 0, 0, 5};      // 0x20 last
  ASSERT_EQ(bytes.size(), 12 + table.size() + 35);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 12, bytes.begin() + 12 + table.size()), table);
  EXPECT_EQ(std::vector<uint8_t>(bytes.end() - 5, bytes.end()), c.pieces[0]);
}

TEST(VideoPacketizer, PacketLimits) {
  struct Case { int units; size_t size; size_t packets; };
  const Case cases[] = {
      {10, 100, 1}, {11, 100, 2},          // ten units per packet
      {2, 30000, 2}, {2, 24000, 1},        // bytes plus 12 per unit within 49152
  };
  for (const Case& c : cases) {
    PacketAllocator alloc;
    VideoRtpPacketizer v(alloc, 96, 7);
    std::vector<std::unique_ptr<Unit>> units;
    for (int i = 0; i < c.units; ++i) {
      units.push_back(std::make_unique<Unit>(std::vector<uint8_t>{0x31}, std::vector<std::vector<uint8_t>>{Filled(c.size, 1)}));
      ASSERT_EQ(v.Packetize(units.back()->list, uint32_t(i * 40)), kPacketizeOk);
    }
    v.Flush();
    Packets p(alloc, v);
    EXPECT_EQ(p.size(), c.packets) << c.units << " x " << c.size;
  }
}

TEST(VideoPacketizer, RefusesUnitsWithoutHeaderByte) {
  PacketAllocator alloc;
  VideoRtpPacketizer v(alloc, 96, 7);
  AccessUnitList empty;
  EXPECT_EQ(v.Packetize(empty, 0), kNoHeaderByte);
}

TEST(VideoPacketizer, SequenceNumbersWrap) {
  PacketAllocator alloc;
  VideoRtpPacketizer v(alloc, 96, 7);
  v.set_sequence(65535);
  Unit u({0x31}, {Filled(10, 1)});
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(v.Packetize(u.list, uint32_t(i * 40)), kPacketizeOk);
    v.Flush();
  }
  Packets p(alloc, v);
  ASSERT_EQ(p.size(), 3u);
  EXPECT_EQ(Seq(p[0]), 65535);
  EXPECT_EQ(Seq(p[1]), 0);
  EXPECT_EQ(Seq(p[2]), 1);
}

TEST(Packetizer, RtpTimeFollowsMediaTime) {
  struct Case { uint32_t times[3]; uint32_t stamps[3]; bool audio; };
  const Case cases[] = {
      {{1000, 1040, 1030}, {1000, 1040, 1040}, false},                  // not later: adds nothing
      {{0x60000000u, 0xC0000000u, 0x10}, {0x60000000u, 0xC0000000u, 0x10}, false},  // wraps past 2^32
      {{0x10, 0x80000010u, 0x20}, {0x10, 0x10, 0x20}, false},  // 2^31 apart: not later
      {{0, 20, 60}, {0, 160, 480}, true},                                // 8000 Hz
  };
  for (const Case& c : cases) {
    PacketAllocator alloc;
    std::unique_ptr<RtpPacketizer> pk;
    if (c.audio) {
      pk = std::make_unique<AudioRtpPacketizer>(alloc, 98, 7);
    } else {
      pk = std::make_unique<VideoRtpPacketizer>(alloc, 96, 7);
    }
    std::vector<uint32_t> got;
    for (uint32_t t : c.times) {
      Unit u({0x07}, {Filled(10, 1)});
      ASSERT_EQ(pk->Packetize(u.list, t), kPacketizeOk);
      pk->Flush();
      Packets p(alloc, *pk);
      ASSERT_EQ(p.size(), 1u);
      got.push_back(Ts(p[0]));
    }
    EXPECT_EQ(got, std::vector<uint32_t>(c.stamps, c.stamps + 3)) << c.audio;
  }
}

TEST(VideoPacketizer, AllocationFailureKeepsNothingOfTheUnit) {
  PacketAllocator alloc(2);  // a 100 000-byte unit needs three packets
  VideoRtpPacketizer v(alloc, 96, 7);
  Unit big({0x31}, {Filled(100000, 1)});
  EXPECT_EQ(v.Packetize(big.list, 40), kNoPacket);
  EXPECT_EQ(alloc.Outstanding(), 0u);
  EXPECT_EQ(v.TakePackets(), nullptr);
  EXPECT_EQ(v.sequence(), 0);
  EXPECT_EQ(v.rtpTime(), 0u);  // the unit's time was not taken either
}

TEST(AmrPacketizer, AllocationFailureKeepsNothingOfTheUnit) {
  PacketAllocator alloc(1);  // twelve frames need two packets
  AudioRtpPacketizer a(alloc, 98, 7);
  const uint8_t header = 7;
  auto frame = Filled(31, 1);
  AccessUnitList list(AccessUnitList::kMaxFragments);
  list.Append(&header, 1);
  for (int i = 0; i < 12; ++i) list.Append(frame.data(), 31);
  EXPECT_EQ(a.Packetize(list, 20), kNoPacket);
  EXPECT_EQ(alloc.Outstanding(), 0u);
  a.Flush();
  EXPECT_EQ(a.TakePackets(), nullptr);
  EXPECT_EQ(a.rtpTime(), 0u);
}

TEST(AmrPacketizer, TableOfContentsAndFrameTypes) {
  struct Case { std::vector<uint8_t> header; int result; uint8_t toc; };
  const Case cases[] = {
      {{7}, kPacketizeOk, 0xBC},
      {{15, 0, 0, 0}, kPacketizeOk, 0xFC},
      {{0}, kPacketizeOk, 0x84},
      {{8}, kBadFrameType, 0},
      {{14}, kBadFrameType, 0},
      {{7, 0}, kBadFrameType, 0},   // a header piece of 2 bytes
      {{}, kBadFrameType, 0},        // no header piece
  };
  for (const Case& c : cases) {
    PacketAllocator alloc;
    AudioRtpPacketizer a(alloc, 98, 7);
    AccessUnitList list(AccessUnitList::kMaxFragments);
    auto f1 = Filled(31, 1), f2 = Filled(31, 2), f3 = Filled(31, 3);
    // Without a header piece the first fragment (a 31-byte frame) stands in its place.
    if (c.header.empty()) {
      list.Append(f1.data(), 31);
    } else {
      list.Append(c.header.data(), uint32_t(c.header.size()));
    }
    list.Append(f1.data(), 31), list.Append(f2.data(), 31), list.Append(f3.data(), 31);
    ASSERT_EQ(a.Packetize(list, 0), c.result) << int(c.header.empty() ? -1 : c.header[0]);
    if (c.result != kPacketizeOk) continue;
    a.Flush();
    Packets p(alloc, a);
    ASSERT_EQ(p.size(), 1u);
    auto b = p[0];
    ASSERT_EQ(b.size(), 12 + 1 + 3 + 93u);
    EXPECT_EQ(b[12], 0xF0);
    EXPECT_EQ(b[13], c.toc);
    EXPECT_EQ(b[14], c.toc);
    EXPECT_EQ(b[15], c.toc & 0x7F);  // the last entry has no follow bit
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 16, b.begin() + 47), f1);
    EXPECT_FALSE(Marker(b));
  }
}

TEST(AmrPacketizer, PacketsEndAtTenFramesOrTheSizeLimit) {
  struct Case { int frames; uint32_t size; std::vector<size_t> perPacket; int result; };
  const Case cases[] = {
      {12, 31, {10, 2}, kPacketizeOk},
      {3, 500, {2, 1}, kPacketizeOk},     // 12 + 1 + 10 + 1000 fits, a third does not
      {1, 1010, {1}, kPacketizeOk},       // 12 + 1 + 1 + 1010 = 1024
      {1, 1011, {}, kFrameTooLarge},
  };
  for (const Case& c : cases) {
    PacketAllocator alloc;
    AudioRtpPacketizer a(alloc, 98, 7);
    const uint8_t header = 7;
    auto frame = Filled(c.size, 9);
    AccessUnitList list(AccessUnitList::kMaxFragments);
    list.Append(&header, 1);
    for (int i = 0; i < c.frames; ++i) list.Append(frame.data(), c.size);
    ASSERT_EQ(a.Packetize(list, 1000), c.result);
    a.Flush();
    Packets p(alloc, a);
    ASSERT_EQ(p.size(), c.perPacket.size());
    size_t before = 0;  // frames in earlier packets, 160 ticks each
    for (size_t i = 0; i < p.size(); ++i) {
      auto b = p[i];
      EXPECT_LE(b.size(), 1024u);
      EXPECT_EQ(b.size(), 12 + 1 + c.perPacket[i] * (1 + c.size)) << i;
      EXPECT_EQ(Ts(b), 8000 + 160 * before) << i;
      before += c.perPacket[i];
    }
  }
}

TEST(EvrcPacketizer, RateTableAndLimits) {
  PacketAllocator alloc;
  AudioRtpPacketizer2 e(alloc, 99, 7);
  auto f1 = Filled(22, 0), f2 = Filled(22, 0), f3 = Filled(10, 0);
  f1[0] = 4, f2[0] = 14, f3[0] = 1;
  AccessUnitList list(AccessUnitList::kMaxFragments);
  const uint8_t config = 0;
  list.Append(&config, 1);
  list.Append(f1.data(), 22), list.Append(f2.data(), 22), list.Append(f3.data(), 10);
  ASSERT_EQ(e.Packetize(list, 0), kPacketizeOk);
  e.Flush();
  {
    Packets p(alloc, e);
    ASSERT_EQ(p.size(), 1u);
    auto b = p[0];
    ASSERT_EQ(b.size(), 12 + 3 + 54u);
    EXPECT_EQ(b[12], 0xA4);
    EXPECT_EQ(b[13], 0xAE);
    EXPECT_EQ(b[14], 0x81);
  }
  auto bad = Filled(10, 0);
  bad[0] = 5;
  AccessUnitList refused(AccessUnitList::kMaxFragments);
  refused.Append(&config, 1);
  refused.Append(bad.data(), 10);
  EXPECT_EQ(e.Packetize(refused, 20), kBadFrameType);
  // Eleven frames: ten in the first packet.
  AccessUnitList many(AccessUnitList::kMaxFragments);
  many.Append(&config, 1);
  for (int i = 0; i < 11; ++i) many.Append(f1.data(), 22);
  ASSERT_EQ(e.Packetize(many, 40), kPacketizeOk);
  e.Flush();
  Packets p(alloc, e);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_EQ(p[0].size(), 12 + 10 * 23u);
  EXPECT_EQ(p[1].size(), 12 + 23u);
}

TEST(Framing, DollarHeaderAndGatherList) {
  PacketAllocator alloc;
  VideoRtpPacketizer v(alloc, 96, 7);
  Unit u({0x31}, {Filled(300, 1)});
  ASSERT_EQ(v.Packetize(u.list, 0), kPacketizeOk);
  v.Flush();
  Packets p(alloc, v);
  FramedPacket f;
  ASSERT_EQ(f.Frame(p.list[0], 0), kFramingOk);
  const uint32_t len = 12 + 8 + 300;
  EXPECT_EQ(std::vector<uint8_t>(f.Header(), f.Header() + 4), (std::vector<uint8_t>{'$', 0, uint8_t(len >> 8), uint8_t(len)}));
  std::vector<uint8_t> wire;
  for (int i = 0; i < f.Count(); ++i) wire.insert(wire.end(), f.Get(i).data, f.Get(i).data + f.Get(i).length);
  std::vector<uint8_t> want(f.Header(), f.Header() + 4);
  auto body = p[0];
  want.insert(want.end(), body.begin(), body.end());
  EXPECT_EQ(wire, want);
  // A partial send leaves the rest for the next one.
  f.Advance(10);
  EXPECT_EQ(f.Remaining(), len + 4 - 10);
  std::vector<uint8_t> rest;
  for (int i = 0; i < f.Count(); ++i) rest.insert(rest.end(), f.Get(i).data, f.Get(i).data + f.Get(i).length);
  EXPECT_EQ(rest, std::vector<uint8_t>(want.begin() + 10, want.end()));
  f.Advance(len + 4);
  EXPECT_TRUE(f.Done());
}

TEST(Framing, RefusesMissingAndOverlongFragmentLists) {
  FramedPacket f;
  EXPECT_EQ(f.Frame(nullptr, 0), kFramingNoPacket);
  const uint8_t byte = 1;
  AccessUnitList list(AccessUnitList::kMaxFragments);
  for (int i = 0; i < 31; ++i) ASSERT_EQ(list.Append(&byte, 1), kFragmentOk);
  EXPECT_EQ(f.Frame(&list, 0), kFramingOk);
  list.Append(&byte, 1);
  EXPECT_EQ(f.Frame(&list, 0), kFramingTooManyFragments);
}

TEST(AccessUnitList, AddingResults) {
  AccessUnitList p;  // a packet: 31 fragments
  const uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_EQ(p.Append(nullptr, 4), kFragmentEmpty);
  EXPECT_EQ(p.Append(b, 0), kFragmentEmpty);
  for (int i = 0; i < 31; ++i) ASSERT_EQ(p.Append(b, 4), kFragmentOk);
  EXPECT_EQ(p.Append(b, 4), kFragmentTooMany);
  EXPECT_EQ(p.TotalLength(), 124u);
  AccessUnitList q;
  std::vector<uint8_t> big(AccessUnitList::kInlineRoom + 1, 0);
  EXPECT_EQ(q.AppendCopy(big.data(), uint32_t(big.size())), kFragmentNoRoom);
  EXPECT_EQ(q.AppendCopy(b, 4), kFragmentOk);
  q.SetFinished(true);
  EXPECT_EQ(q.Append(b, 4), kFragmentFinished);
  // Cursor by byte offset.
  ASSERT_TRUE(p.Seek(9));
  EXPECT_EQ(p.CursorFragment(), 2);
  EXPECT_EQ(p.CursorOffset(), 1u);
  EXPECT_FALSE(p.Seek(124));
}

TEST(AccessUnitList, TakeOverCopiesInlinePieces) {
  const uint8_t external[3] = {7, 8, 9};
  const uint8_t small[2] = {1, 2};
  AccessUnitList from, to;
  ASSERT_EQ(from.AppendCopy(small, 2), kFragmentOk);
  ASSERT_EQ(from.Append(external, 3), kFragmentOk);
  ASSERT_EQ(to.Append(external, 1), kFragmentOk);
  ASSERT_EQ(to.TakeOver(from), kFragmentOk);
  EXPECT_EQ(from.Count(), 0);
  // The inline piece now lives in `to`: reusing `from` does not change it.
  const uint8_t other[2] = {5, 5};
  from.AppendCopy(other, 2);
  EXPECT_EQ(Bytes(to), (std::vector<uint8_t>{7, 1, 2, 7, 8, 9}));
  EXPECT_EQ(to.Get(2).data, external);  // outside pieces are pointed at, not copied
  // All or nothing when the target is full.
  AccessUnitList full;
  for (int i = 0; i < 31; ++i) full.Append(external, 1);
  EXPECT_EQ(full.TakeOver(from), kFragmentTooMany);
  EXPECT_EQ(from.Count(), 1);
}

TEST(AccessUnitList, BitFieldsAndPacketTable) {
  uint8_t bytes[4] = {};
  WriteBits(bytes, 3, 7, 0x5B);
  EXPECT_EQ(ReadBits(bytes, 3, 7), 0x5Bu);
  EXPECT_EQ(bytes[0], 0x16);
  EXPECT_EQ(bytes[1], 0xC0);
  const uint8_t d[3] = {1, 2, 3};
  const PacketTableEntry table[4] = {{d, 1, 1}, {d + 1, 2, 1}, {d, 3, 0}, {d, 1, 1}};
  AccessUnitList out;
  EXPECT_EQ(BuildPacketList(table, 4, out), 2);
  EXPECT_EQ(out.Count(), 2);
  EXPECT_EQ(out.TotalLength(), 3u);
}

}  // namespace
