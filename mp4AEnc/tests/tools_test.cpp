// The coding tools: mid/side decision and transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/param.h"
#include "param_front_end.h"

namespace {

const int kWidths[4] = {4, 4, 4, 4};

// A long-block record of four bands of four lines, every line `line`, every
// band's energy and threshold as given.
std::unique_ptr<PsyOut> record(float line, float energy, float threshold) {
  auto o = std::make_unique<PsyOut>();
  std::memset(o.get(), 0, sizeof(PsyOut));
  o->groups = 1;
  o->groupLength[0] = 1;
  o->bandsPerWindow = 4;
  o->bandWidths = kWidths;
  o->maxSfb = 4;
  o->commonWindow = 1;
  for (int i = 0; i < 16; ++i) o->spectrum[i] = line;
  for (int b = 0; b < 4; ++b) o->energy[b] = energy, o->threshold[b] = threshold;
  return o;
}

class MsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (ms) MsStereoFree(&ms);
    param_free_all();
  }
  MsState* ms = nullptr;
};

// Left and right alike (band entropy 6 each); the mid band's entropy 12.64
// against a threshold of 0.2: a loss of 0.64 per band, small against the
// mask feature's 0.75.
TEST_F(MsTest, TheMaskFeatureTurnsSmallLossesIntoAllBandsMidSide) {
  struct Case {
    int noMask;
    int expectMs;
  } cases[] = {{0, 1}, {1, 0}};
  for (const Case& c : cases) {
    param_free_all();
    ASSERT_EQ(MsStereoInit(&ms, 0, c.noMask), nullptr);
    auto l = record(1.0f, 4.0f, 2.0f), r = record(1.0f, 4.0f, 2.0f);
    auto m = record(1.0f, 4.0f, 0.2f), s = record(0.0f, 1.0f, 0.2f);
    ASSERT_EQ(MsStereoDecide(ms, l.get(), r.get(), m.get(), s.get(), 0), nullptr);
    EXPECT_GT(ms->sumLoss, 2.0f);
    EXPECT_LT(ms->sumLoss, 3.0f);
    for (int b = 0; b < 4; ++b) {
      EXPECT_EQ(l->jsFlags[b] & kJsMs, c.expectMs) << "mask off " << c.noMask << " band " << b;
      EXPECT_EQ(r->jsFlags[b] & kJsMs, c.expectMs);
      // An M/S band carries the mid and side records' values.
      EXPECT_EQ(l->threshold[b], c.expectMs ? 0.2f : 2.0f);
      EXPECT_EQ(r->spectrum[4 * b], c.expectMs ? 0.0f : 1.0f);
    }
    MsStereoFree(&ms);
  }
}

// "msFac" favours M/S; debug modes 1 and 2 decide without entropy.
TEST_F(MsTest, FactorAndDebugModesDecideTheBands) {
  struct Case {
    const char* params;
    int debug;
    int expect[4];
  } cases[] = {{"", 0, {0, 0, 0, 0}},
               {"-msFac 1.2", 0, {1, 1, 1, 1}},
               {"", 1, {1, 1, 1, 1}},
               {"", 2, {0, 1, 0, 1}}};
  for (const Case& c : cases) {
    param_free_all();
    if (*c.params) configure_params({c.params});
    ASSERT_EQ(MsStereoInit(&ms, c.debug, 1), nullptr);
    auto l = record(1.0f, 4.0f, 2.0f), r = record(1.0f, 4.0f, 2.0f);
    auto m = record(1.0f, 4.0f, 0.2f), s = record(0.0f, 1.0f, 0.2f);
    ASSERT_EQ(MsStereoDecide(ms, l.get(), r.get(), m.get(), s.get(), 0), nullptr);
    for (int b = 0; b < 4; ++b) EXPECT_EQ(l->jsFlags[b] & kJsMs, c.expect[b]) << c.params << " " << c.debug;
    MsStereoFree(&ms);
  }
}

// Left and right above their thresholds; mid above the common threshold,
// side below: M/S would code the mid alone and make the band mono, though
// the entropy says M/S.
TEST_F(MsTest, ABandWhoseSideWouldBeDroppedStaysLeftRight) {
  ASSERT_EQ(MsStereoInit(&ms, 0, 0), nullptr);
  auto l = record(0.3f, 0.36f, 0.3f), r = record(0.7f, 1.96f, 1.0f);
  auto m = record(0.5f, 1.0f, 0.9f), s = record(-0.2f, 0.16f, 0.9f);
  ASSERT_EQ(MsStereoDecide(ms, l.get(), r.get(), m.get(), s.get(), 0), nullptr);
  for (int b = 0; b < 4; ++b) {
    EXPECT_EQ(l->jsFlags[b] & kJsMs, 0);
    EXPECT_FLOAT_EQ(r->spectrum[4 * b], 0.7f);
  }
}

// Intensity bands lose M/S; with "isms" they keep it as 0x40.
TEST_F(MsTest, IsmsMarksIntensityBandsCodedWithMidSide) {
  for (int isms = 0; isms < 2; ++isms) {
    param_free_all();
    if (isms) configure_params({"-isms"});
    ASSERT_EQ(MsStereoInit(&ms, 1, 1), nullptr);
    auto l = record(1.0f, 4.0f, 2.0f), r = record(1.0f, 4.0f, 2.0f);
    auto m = record(1.0f, 4.0f, 0.2f), s = record(0.0f, 1.0f, 0.2f);
    l->jsFlags[2] = kJsIntensity;
    ASSERT_EQ(MsStereoDecide(ms, l.get(), r.get(), m.get(), s.get(), 0), nullptr);
    EXPECT_EQ(l->jsFlags[2] & kJsMs, 0);
    EXPECT_EQ(l->jsFlags[2] & kJsMsOnIntensity, isms ? kJsMsOnIntensity : 0);
    EXPECT_EQ(ms->mask[2] & kJsMsOnIntensity, isms ? kJsMsOnIntensity : 0);
    // Marked 0x40, the band keeps left and right as they are.
    EXPECT_EQ(l->spectrum[8], 1.0f);
    EXPECT_EQ(l->jsFlags[1] & kJsMs, kJsMs);
    MsStereoFree(&ms);
  }
}

TEST_F(MsTest, FreeingANullHandleIsAnError) {
  MsState* none = nullptr;
  for (MsState** handle : {&none, static_cast<MsState**>(nullptr)}) {
    ErrorRecord* err = MsStereoFree(handle);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->message, "tried to free a zero handle");
    error_free(err);
  }
}

// Eight short windows in groups of 3, 4 and 1: the flagged bands of each
// group are transformed over all the group's windows and nothing else.
TEST(MsTransform, ForwardThenInverseRestoresTheFlaggedBandsOfGroupedShortBlocks) {
  const int offsets[3] = {0, 4, 16};  // two bands of 4 and 12 lines
  const int lengths[3] = {3, 4, 1};
  int flags[8 * kPsyMaxBands] = {};
  flags[0 * kPsyMaxBands + 1] = kJsMs;
  flags[1 * kPsyMaxBands + 0] = kJsMs;
  flags[2 * kPsyMaxBands + 0] = kJsMs | kJsPns;
  float a[128], b[128], a0[128], b0[128];
  for (int i = 0; i < 128; ++i) a[i] = a0[i] = float(i), b[i] = b0[i] = float(3 * i % 7);
  MsForward(flags, 3, lengths, 2, 2, offsets, a, b);
  auto flagged = [](int i) {
    return (i >= 12 && i < 48) || (i >= 48 && i < 64) || (i >= 112 && i < 116);
  };
  for (int i = 0; i < 128; ++i) {
    if (flagged(i)) {
      EXPECT_FLOAT_EQ(a[i], (a0[i] + b0[i]) * 0.5f) << i;
      EXPECT_FLOAT_EQ(b[i], (a0[i] - b0[i]) * 0.5f) << i;
    } else {
      EXPECT_EQ(a[i], a0[i]) << i;
      EXPECT_EQ(b[i], b0[i]) << i;
    }
  }
  MsInverse(flags, 3, lengths, 2, 2, offsets, a, b);
  for (int i = 0; i < 128; ++i) {
    EXPECT_FLOAT_EQ(a[i], a0[i]);
    EXPECT_FLOAT_EQ(b[i], b0[i]);
  }
}

// Mid and side of the pair: half sum and half difference, energies on the
// model's scale (here twice the lines'), the common threshold lowered where
// both lie above it.
TEST(MsFill, MidAndSideTakeTheCommonThreshold) {
  auto l = record(2.0f, 32.0f, 1.0f), r = record(1.0f, 8.0f, 3.0f);
  auto m = record(0, 0, 0), s = record(0, 0, 0);
  MsFillMidSide(l.get(), r.get(), m.get(), s.get());
  EXPECT_EQ(m->spectrum[5], 1.5f);
  EXPECT_EQ(s->spectrum[5], 0.5f);
  EXPECT_FLOAT_EQ(m->energy[1], 2.0f * 4 * 2.25f);
  EXPECT_FLOAT_EQ(s->energy[1], 2.0f * 4 * 0.25f);
  EXPECT_FLOAT_EQ(m->threshold[1], 1.0f * std::sqrt(1.0f / (2.0f / 18.0f + 1.0f)));
  EXPECT_EQ(m->threshold[1], s->threshold[1]);
}

}  // namespace
