// The bit buffer: writes of 1 to 32 bits across the wrap read back; the
// byte drain and the CRC engine against an independent python writer and
// python3-crcmod; the frame-length queue's limits.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mp4aenc/bitbuf.h"
#include "peer.h"

namespace {

struct BufferDeleter {
  void operator()(BitBuffer* b) const { bitbuf_free(b); }
};
using Buffer = std::unique_ptr<BitBuffer, BufferDeleter>;

std::string Hex(const uint8_t* p, uint32_t n) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint32_t i = 0; i < n; ++i) {
    s += digits[p[i] >> 4];
    s += digits[p[i] & 15];
  }
  return s;
}

uint32_t Mask(uint32_t v, int n) { return n == 32 ? v : v & ((1u << n) - 1); }

TEST(BitBuffer, RandomWritesAcrossTheWrapReadBack) {
  // 1000 bits: not a multiple of 32, so the wrap falls inside a word.
  Buffer b(bitbuf_create(1000));
  ASSERT_TRUE(b);
  std::mt19937 rng(31);
  std::vector<std::pair<int, uint32_t>> queued;
  size_t head = 0;
  long total = 0;
  for (int round = 0; round < 20000; ++round) {
    const int n = 1 + int(rng() % 32);
    const uint32_t v = Mask(rng(), n);
    if (bitbuf_bit_count(b.get()) + n <= 1000) {
      ASSERT_EQ(bitbuf_write_bits(b.get(), v, n), 0);
      queued.emplace_back(n, v);
      total += n;
    }
    // Read back whenever the buffer is more than half full.
    while (bitbuf_bit_count(b.get()) > 500) {
      uint32_t got = 0;
      ASSERT_EQ(bitbuf_read_bits(b.get(), queued[head].first, &got), 0);
      ASSERT_EQ(got, queued[head].second) << "write " << head << " of " << queued[head].first << " bits";
      ++head;
    }
  }
  EXPECT_GT(total, 100000);  // wrapped many times
  EXPECT_EQ(bitbuf_bit_position(b.get()), total);
}

TEST(BitBuffer, RefusesWhatDoesNotFitAndReadsOnlyWhatIsHeld) {
  Buffer b(bitbuf_create(40));
  ASSERT_EQ(bitbuf_write_bits(b.get(), 0xABCDEF12u, 32), 0);
  EXPECT_EQ(bitbuf_write_bits(b.get(), 0x1FF, 9), -1);
  EXPECT_TRUE(b->overflow);
  EXPECT_EQ(bitbuf_bit_count(b.get()), 32);
  EXPECT_EQ(bitbuf_write_bits(b.get(), 0, 33), -1);
  uint32_t v = 0;
  EXPECT_EQ(bitbuf_read_bits(b.get(), 33, &v), -1);
  ASSERT_EQ(bitbuf_read_bits(b.get(), 32, &v), 0);
  EXPECT_EQ(v, 0xABCDEF12u);
  EXPECT_EQ(bitbuf_read_bits(b.get(), 1, &v), -1);
}

TEST(BitBuffer, AdvanceAndCopyMoveBitsBetweenBuffers) {
  Buffer a(bitbuf_create(300)), c(bitbuf_create(300));
  for (int i = 0; i < 5; ++i) bitbuf_write_bits(a.get(), 0x12345678u + uint32_t(i), 32);
  ASSERT_EQ(bitbuf_advance_read(a.get(), 32), 0);  // skip the first word
  ASSERT_EQ(bitbuf_copy_from(c.get(), a.get(), 100), 0);
  EXPECT_EQ(bitbuf_bit_count(a.get()), 28);
  uint32_t v = 0;
  bitbuf_read_bits(c.get(), 32, &v);
  EXPECT_EQ(v, 0x12345679u);
  ASSERT_EQ(bitbuf_advance_write(c.get(), -4), 0);  // take back the last 4 bits
  EXPECT_EQ(bitbuf_bit_count(c.get()), 64);
  EXPECT_EQ(bitbuf_advance_read(c.get(), 65), -1);
  EXPECT_EQ(bitbuf_copy_from(c.get(), a.get(), 29), -1);
}

TEST(BitBuffer, ThirteenBitsDrainAsTwoBytes) {
  Buffer b(bitbuf_create(64));
  bitbuf_write_bits(b.get(), 0x1ABC, 13);  // 1101010111100
  ASSERT_EQ(bitbuf_push_count(b.get(), 13), nullptr);
  uint8_t out[4] = {0xFF, 0xFF, 0xFF, 0xFF};
  uint32_t n = 0;
  ASSERT_EQ(bitbuf_copy_bytes(b.get(), &n, out), nullptr);
  ASSERT_EQ(n, 2u);
  EXPECT_EQ(out[0], 0xD5);
  EXPECT_EQ(out[1], 0xE0);
  EXPECT_EQ(out[2], 0xFF);
  // Nothing pending: no bytes and no failure.
  EXPECT_EQ(bitbuf_copy_bytes(b.get(), &n, out), nullptr);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(bitbuf_copy_bytes(nullptr, &n, out), nullptr);
}

TEST(BitBuffer, TheTwentiethQueuedFrameFailsAndAnEmptyQueueCannotPop) {
  Buffer b(bitbuf_create(64));
  for (int i = 0; i < kBitBufferFrameQueue; ++i) ASSERT_EQ(bitbuf_push_count(b.get(), i), nullptr);
  ErrorRecord* full = bitbuf_push_count(b.get(), 99);
  ASSERT_NE(full, nullptr);
  EXPECT_NE(std::string(full->message).find("queue full"), std::string::npos);
  error_free(full);
  EXPECT_EQ(bitbuf_pending_frames(b.get()), kBitBufferFrameQueue);
  for (int i = 0; i < kBitBufferFrameQueue; ++i) {
    long v = -1;
    ASSERT_EQ(bitbuf_pop_count(b.get(), &v), nullptr);
    EXPECT_EQ(v, i);
  }
  long v = 0;
  ErrorRecord* empty = bitbuf_pop_count(b.get(), &v);
  ASSERT_NE(empty, nullptr);
  EXPECT_NE(std::string(empty->message).find("queue empty"), std::string::npos);
  error_free(empty);
  // A queued length longer than what is held is refused, not read past.
  bitbuf_write_bits(b.get(), 1, 4);
  bitbuf_push_count(b.get(), 40);
  uint8_t out[8];
  uint32_t n = 9;
  ErrorRecord* longer = bitbuf_copy_bytes(b.get(), &n, out);
  ASSERT_NE(longer, nullptr);
  EXPECT_EQ(n, 0u);
  error_free(longer);
}

// Writes a random stream in frames with a CRC over a header, two regions
// (one closed early) and unprotected bits between, and records every step
// for the python peer.
struct CrcRun {
  Buffer b{bitbuf_create(4096)};
  std::ostringstream ops;
  std::mt19937 rng{1031};

  void Bits(int n, bool protectedBits) {
    const uint32_t v = Mask(rng(), n);
    bitbuf_write_bits(b.get(), v, n);
    ops << "bits " << n << " " << v << " " << (protectedBits ? 1 : 0) << "\n";
  }
  // Random pieces of 1-32 bits, `total` bits in all.
  void Run(long total, bool protectedBits) {
    while (total > 0) {
      const int n = int(std::min<long>(total, 1 + long(rng() % 32)));
      Bits(n, protectedBits);
      total -= n;
    }
  }
};

TEST(BitBuffer, DrainAndCrcEqualAnIndependentWriterAndCrcmod) {
  if (!PeerAvailable()) GTEST_SKIP() << "python peer runs on the Linux host only";
  CrcRun r;
  BitBuffer* b = r.b.get();
  bitbuf_crc_set_polynomial(b, 0x8005, 0x8000);
  bitbuf_crc_set_register(b, 0xFFFFFFFFu);
  bitbuf_crc_enable(b, 1);
  int64_t frameStart = 0;
  auto frame = [&] {
    ASSERT_EQ(bitbuf_push_count(b, long(bitbuf_bit_position(b) - frameStart)), nullptr);
    frameStart = bitbuf_bit_position(b);
    r.ops << "frame\n";
  };
  // Frame 1: a 56-bit header in all-bits mode, the reserved CRC field, a
  // region of 192 bits of which 150 are written, 21 unprotected bits, a
  // region of 64 bits written in full, then 5 unprotected bits.
  bitbuf_crc_all_bits(b, 1);
  r.Run(56, true);
  bitbuf_crc_all_bits(b, 0);
  ASSERT_EQ(bitbuf_crc_reserve(b, 16), 0);
  r.ops << "reserve 16\n";
  bitbuf_crc_set_region(b, 192);
  r.Run(150, true);
  bitbuf_crc_close_region(b);
  r.ops << "zeros 42\n";
  r.Run(21, false);
  bitbuf_crc_set_region(b, 64);
  r.Run(64, true);
  r.Run(5, false);
  ASSERT_EQ(bitbuf_crc_store(b), 0);
  frame();
  // Frame 2: 13 unprotected bits (drains as two bytes), frame 3: 77 bits.
  r.Run(13, false);
  frame();
  r.Run(77, false);
  frame();

  std::vector<std::string> ours;
  while (bitbuf_pending_frames(b)) {
    uint8_t out[512];
    uint32_t n = 0;
    ASSERT_EQ(bitbuf_copy_bytes(b, &n, out), nullptr);
    ours.push_back(Hex(out, n));
  }
  EXPECT_EQ(bitbuf_bit_count(b), 0);

  const std::string opsPath = ScratchPath("crc_ops.txt");
  std::ofstream(opsPath) << r.ops.str();
  int status = 0;
  const std::string peer =
      RunPeer("/usr/bin/python3 " SUITE_TEST_DATA_DIR "/tests/bitbuf_peer.py " + opsPath, &status);
  ASSERT_EQ(status, 0) << peer;
  std::istringstream lines(peer);
  std::string line;
  for (const std::string& mine : ours) {
    ASSERT_TRUE(std::getline(lines, line));
    EXPECT_EQ(mine, line);
  }
  ASSERT_TRUE(std::getline(lines, line));
  char expected[16];
  std::snprintf(expected, sizeof expected, "crc %04x", unsigned(bitbuf_crc_register(b)));
  EXPECT_EQ(line, expected);
  EXPECT_EQ(ours.size(), 3u);
  EXPECT_EQ(ours[1].size(), 4u);  // 13 bits: two bytes
}

// Regions marked in a scratch buffer travel with their bits: copied behind
// a header into a buffer that wraps, then fed, they give the register the
// region mode gives when the same bits are written there directly.
TEST(BitBuffer, RegionsTravelWithTheirBits) {
  std::mt19937 rng(5);
  struct Piece {
    int n;
    uint32_t v;
    long region;  // > 0: open a region of this length first; -1: close one after
  };
  std::vector<Piece> frame;
  size_t lastId = 0;
  for (int e = 0; e < 6; ++e) {
    lastId = frame.size();
    frame.push_back({3, Mask(rng(), 3), 0});  // outside: an element id
    const long limit = e % 2 ? 128 : 192;
    // Elements shorter and longer than their region.
    const int pieces = 2 + int(rng() % (e < 3 ? 4 : 14));
    for (int k = 0; k < pieces; ++k) {
      const int n = 1 + int(rng() % 32);
      frame.push_back({n, Mask(rng(), n), k == 0 ? limit : 0});
    }
    frame.back().region = frame.back().region ? frame.back().region : -1;
  }
  auto write = [&](BitBuffer* b) {
    for (const Piece& p : frame) {
      if (p.region > 0) bitbuf_crc_set_region(b, p.region);
      bitbuf_write_bits(b, p.v, p.n);
      if (p.region < 0) bitbuf_crc_close_region(b);
    }
  };
  auto start = [](BitBuffer* b) {
    bitbuf_crc_set_register(b, 0xFFFF);
    bitbuf_crc_enable(b, 1);
    bitbuf_crc_all_bits(b, 1);
    bitbuf_write_bits(b, 0xFFF1, 16);
    bitbuf_write_bits(b, 0x2345, 14);
    bitbuf_crc_all_bits(b, 0);
  };
  // Directly, in region mode.
  Buffer direct(bitbuf_create(4096));
  start(direct.get());
  write(direct.get());
  // Through a scratch buffer, into a buffer of 4000 bits whose write
  // position starts near its end.
  Buffer scratch(bitbuf_create(4096)), out(bitbuf_create(4000));
  write(scratch.get());
  EXPECT_EQ(bitbuf_region_count(scratch.get()), 6);
  ASSERT_EQ(bitbuf_advance_write(out.get(), 3900), 0);
  ASSERT_EQ(bitbuf_advance_read(out.get(), 3900), 0);
  start(out.get());
  bitbuf_crc_enable(out.get(), 0);  // nothing enters the CRC while copying
  ASSERT_EQ(bitbuf_copy_from(out.get(), scratch.get(), bitbuf_bit_count(scratch.get())), 0);
  EXPECT_EQ(bitbuf_region_count(scratch.get()), 0);
  EXPECT_EQ(bitbuf_crc_feed_regions(out.get()), 6);
  EXPECT_EQ(bitbuf_crc_register(out.get()), bitbuf_crc_register(direct.get()));
  // Regions leave with their bits: read into the first (past the header
  // and an id), take back the whole last element after its id.
  uint32_t v = 0;
  ASSERT_EQ(bitbuf_read_bits(out.get(), 30, &v), 0);
  ASSERT_EQ(bitbuf_read_bits(out.get(), 3 + 1, &v), 0);
  EXPECT_EQ(bitbuf_region_count(out.get()), 5);
  long last = 0;
  for (size_t i = lastId + 1; i < frame.size(); ++i) last += frame[i].n;
  ASSERT_EQ(bitbuf_advance_write(out.get(), -(last - 1)), 0);
  EXPECT_EQ(bitbuf_region_count(out.get()), 5);  // its first bit is still there
  ASSERT_EQ(bitbuf_advance_write(out.get(), -1), 0);
  EXPECT_EQ(bitbuf_region_count(out.get()), 4);
}

TEST(BitBuffer, RegionsNobodyTakesKeepTheNewest) {
  Buffer b(bitbuf_create(1 << 16));
  for (int i = 0; i < 3 * kBitBufferRegions; ++i) {
    bitbuf_crc_set_region(b.get(), 8);
    bitbuf_write_bits(b.get(), uint32_t(i), 8);
    bitbuf_crc_close_region(b.get());
  }
  EXPECT_EQ(bitbuf_region_count(b.get()), kBitBufferRegions);
  // The newest: the last 64 bytes, fed as they are.
  Buffer direct(bitbuf_create(1024));
  bitbuf_crc_set_register(direct.get(), 0xFFFF);
  bitbuf_crc_enable(direct.get(), 1);
  bitbuf_crc_all_bits(direct.get(), 1);
  for (int i = 2 * kBitBufferRegions; i < 3 * kBitBufferRegions; ++i) bitbuf_write_bits(direct.get(), uint32_t(i), 8);
  bitbuf_crc_set_register(b.get(), 0xFFFF);
  bitbuf_crc_feed_regions(b.get());
  EXPECT_EQ(bitbuf_crc_register(b.get()), bitbuf_crc_register(direct.get()));
}

TEST(BitBuffer, CrcOfAKnownMessage) {
  // "123456789" through CRC-16 with polynomial 0x8005, initial 0xFFFF, no
  // reflection: the published check value of this variant is 0xAEE7.
  Buffer b(bitbuf_create(128));
  bitbuf_crc_set_polynomial(b.get(), 0x8005, 0x8000);
  bitbuf_crc_set_register(b.get(), 0xFFFFFFFFu);
  bitbuf_crc_enable(b.get(), 1);
  bitbuf_crc_all_bits(b.get(), 1);
  for (char c : std::string("123456789")) bitbuf_write_bits(b.get(), uint8_t(c), 8);
  EXPECT_EQ(bitbuf_crc_register(b.get()), 0xAEE7u);
  // Switching off clears the region; bits then leave the register alone.
  bitbuf_crc_all_bits(b.get(), 0);
  bitbuf_crc_set_region(b.get(), 8);
  bitbuf_crc_enable(b.get(), 0);
  bitbuf_write_bits(b.get(), 0x55, 8);
  EXPECT_EQ(bitbuf_crc_register(b.get()), 0xAEE7u);
}

}  // namespace
