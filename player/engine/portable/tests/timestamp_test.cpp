#include <gtest/gtest.h>

#include "engine/buffer_fragment_group.h"
#include "engine/timestamp_converter.h"

TEST(TimestampConverter, AcceptsForwardAndWrapsRejectsBackAndFarJumps) {
  struct Case {
    uint32_t timescale, last, wraps, t;
    bool accepted;
    uint32_t lastAfter, wrapsAfter;
  };
  const Case cases[] = {
      {90000, 0xFFFFFF00u, 0, 0x100, true, 0x100, 1},          // wrap forward
      {90000, 1000, 0, 500, false, 1000, 0},                   // step back
      {90000, 0, 0, 0x80000000u, false, 0, 0},                 // jump of exactly 2^31
      {90000, 0, 0, 0x7FFFFFFFu, true, 0x7FFFFFFFu, 0},        // just under 2^31
      {90000, 1000, 0, 1000, true, 1000, 0},                   // same stamp
      {90000, 0x80000000u, 0, 0x7FFFFFFFu, false, 0x80000000u, 0},  // back by one across the middle
      {3, 0xFFFFFFF0u, 2, 5, true, 5, 0},                      // wrap count kept modulo timescale
  };
  for (const Case& c : cases) {
    TimestampConverter tc;
    tc.timescale = c.timescale;
    tc.last = c.last;
    tc.wraps = c.wraps;
    EXPECT_EQ(tc.Update(c.t), c.accepted) << c.last << " -> " << c.t;
    EXPECT_EQ(tc.last, c.lastAfter);
    EXPECT_EQ(tc.wraps, c.wrapsAfter);
  }
}

TEST(TimestampConverter, ToUnitsRescalesInSixtyFourBits) {
  TimestampConverter tc;
  tc.timescale = 90000;
  tc.last = 90000;
  EXPECT_EQ(static_cast<uint32_t>(tc.ToUnits(1000)), 1000u);
  tc.last = 0xFFFFFFFFu;  // the product needs more than 32 bits
  EXPECT_EQ(static_cast<uint32_t>(tc.ToUnits(1000)), static_cast<uint32_t>(0xFFFFFFFFull * 1000 / 90000));
  // A run of RTP stamps across the 32-bit wrap keeps going forward in ms.
  tc.last = 0xFFFF0000u;
  const uint32_t before = static_cast<uint32_t>(tc.ToUnits(1000));
  ASSERT_TRUE(tc.Update(0x00010000u));
  EXPECT_EQ(tc.wraps, 1u);
  EXPECT_EQ(tc.ToUnits(1000) >> 32, 1u);
  EXPECT_NE(static_cast<uint32_t>(tc.ToUnits(1000)), before);
}

namespace {
int g_released = 0;
void CountRelease(void* buffer) {
  ++g_released;
  delete[] static_cast<uint8_t*>(buffer);
}
}  // namespace

TEST(BufferFragmentGroup, HolderKeepsBufferUntilLastReference) {
  g_released = 0;
  FragmentHolder holder;
  holder.buffer = new uint8_t[16];
  holder.release = CountRelease;
  BufferFragmentGroup a, b;
  a.Init();
  b.Init();
  ASSERT_TRUE(a.AddPiece(static_cast<uint8_t*>(holder.buffer), 10, &holder));
  ASSERT_TRUE(b.AddPiece(static_cast<uint8_t*>(holder.buffer) + 10, 6, &holder));
  EXPECT_EQ(holder.references, 2u);
  a.Release();
  EXPECT_EQ(g_released, 0);
  EXPECT_NE(holder.buffer, nullptr);
  b.Release();
  EXPECT_EQ(g_released, 1);
  EXPECT_EQ(holder.buffer, nullptr);
}

TEST(BufferFragmentGroup, OwnedHoldersAreFreedCopiesShareAndCapacityIsBounded) {
  g_released = 0;
  BufferFragmentGroup g;
  g.Init();
  g.ownsHolders = 1;
  auto* h = new FragmentHolder;
  h->buffer = new uint8_t[4];
  h->release = CountRelease;
  ASSERT_TRUE(g.AddPiece(static_cast<uint8_t*>(h->buffer), 4, h));
  BufferFragmentGroup copy;
  copy.CopyFrom(g);
  EXPECT_EQ(h->references, 2u);
  EXPECT_EQ(copy.TotalLength(), 4u);
  g.Release();
  EXPECT_EQ(g_released, 0);
  EXPECT_EQ(g.holders[0], h);  // still referenced by the copy
  copy.Release();              // frees the holder (ASan checks the delete)
  EXPECT_EQ(g_released, 1);
  EXPECT_EQ(copy.holders[0], nullptr);

  BufferFragmentGroup full;
  full.Init();
  for (uint32_t i = 0; i < BufferFragmentGroup::kMaxHolders; ++i)
    ASSERT_TRUE(full.AddPiece(nullptr, 1, nullptr));
  EXPECT_FALSE(full.AddPiece(nullptr, 1, nullptr));
  EXPECT_EQ(full.TotalLength(), BufferFragmentGroup::kMaxHolders);
  full.Release();  // holders absent: nothing to do
}
