// The coding tools: mid/side decision and transforms.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mp4aenc/band_reduce.h"
#include "mp4aenc/ms_stereo.h"
#include "mp4aenc/pns.h"
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
    if (*c.params) configure_params_line(c.params);
    ASSERT_EQ(MsStereoInit(&ms, c.debug, 1), nullptr);
    auto l = record(1.0f, 4.0f, 2.0f), r = record(1.0f, 4.0f, 2.0f);
    auto m = record(1.0f, 4.0f, 0.2f), s = record(0.0f, 1.0f, 0.2f);
    ASSERT_EQ(MsStereoDecide(ms, l.get(), r.get(), m.get(), s.get(), 0), nullptr);
    for (int b = 0; b < 4; ++b) EXPECT_EQ(l->jsFlags[b] & kJsMs, c.expect[b]) << c.params << " " << c.debug;
    MsStereoFree(&ms);
  }
}

// Identical channels: the side is silent and the mid carries what left and
// right carried, so every band saves the side's entropy and goes M/S, with
// and without the mask feature; the side band is coded as silence.
TEST_F(MsTest, IdenticalChannelsAreMidSideInEveryBand) {
  for (int noMask = 0; noMask < 2; ++noMask) {
    param_free_all();
    ASSERT_EQ(MsStereoInit(&ms, 0, noMask), nullptr);
    auto l = record(3.0f, 36.0f, 2.0f), r = record(3.0f, 36.0f, 2.0f);
    for (int b = 0; b < 4; ++b) l->threshold[b] = 1.0f + float(b);  // the pair's thresholds need not agree
    auto m = record(0.0f, 0.0f, 0.0f), s = record(0.0f, 0.0f, 0.0f);
    MsFillMidSide(l.get(), r.get(), m.get(), s.get());
    ASSERT_EQ(MsStereoDecide(ms, l.get(), r.get(), m.get(), s.get(), 0), nullptr);
    for (int b = 0; b < 4; ++b) {
      EXPECT_EQ(l->jsFlags[b] & kJsMs, kJsMs) << "mask off " << noMask << " band " << b;
      EXPECT_EQ(r->jsFlags[b] & kJsMs, kJsMs);
      EXPECT_EQ(ms->mask[b] & kJsMs, kJsMs);
      EXPECT_FLOAT_EQ(l->spectrum[4 * b], 3.0f);
      EXPECT_EQ(r->spectrum[4 * b], 0.0f);
      EXPECT_EQ(r->energy[b], 0.0f);
    }
    MsStereoFree(&ms);
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

namespace {

// Eight bands of 4 lines, loudness 1..8 (band 0 quietest); sum 36, average
// 4.5, ldnsAvg 0.4 allows bands below 1.8.
std::unique_ptr<PsyOut> eight_bands(int blockType = 0) {
  static const int widths[8] = {4, 4, 4, 4, 4, 4, 4, 4};
  auto o = std::make_unique<PsyOut>();
  std::memset(o.get(), 0, sizeof(PsyOut));
  o->blockType = blockType;
  o->groups = 1;
  o->groupLength[0] = 1;
  o->bandsPerWindow = 8;
  o->bandWidths = widths;
  o->maxSfb = 8;
  for (int i = 0; i < 32; ++i) o->spectrum[i] = 1.0f;
  for (int b = 0; b < 8; ++b) o->energy[b] = 4.0f;
  return o;
}

TEST(LdnsCut, TheWorkloadBoundsTheCutShare) {
  float loud[kPsyMaxBands] = {1, 2, 3, 4, 5, 6, 7, 8};
  // Everything below the average may go (ldnsAvg 1): workload 0 allows 2 %
  // of 36 (nothing: band 0 alone is 2.8 %), workload 1 allows 8 % = 2.88
  // (band 0 and no more: bands 0 and 1 would be 8.3 %), a wider share 3;
  // half the workload 5 % = 1.8, band 0.
  struct Case {
    float min, max, workload;
    int cut;
  } cases[] = {{0.02f, 0.08f, 0.0f, 0}, {0.02f, 0.08f, 1.0f, 1}, {0.02f, 0.2f, 1.0f, 3}, {0.02f, 0.08f, 0.5f, 1}};
  for (const Case& c : cases) {
    LdnsCutState* s = nullptr;
    ASSERT_EQ(LdnsCutInit(&s, c.min, c.max, 1.0f), nullptr);
    auto o = eight_bands();
    float pe[kPsyMaxBands];
    for (float& p : pe) p = 9.0f;
    EXPECT_EQ(LdnsCutFrame(o.get(), loud, pe, c.workload, s), c.cut) << c.max << " " << c.workload;
    float cutLoudness = 0.0f;
    for (int b = 0; b < 8; ++b)
      if (s->mask[b]) {
        cutLoudness += loud[b];
        EXPECT_EQ(o->energy[b], 0.0f);
        EXPECT_EQ(pe[b], 0.0f);
        EXPECT_EQ(o->spectrum[4 * b], 0.0f);
      } else {
        EXPECT_EQ(o->spectrum[4 * b], 1.0f);
      }
    EXPECT_LE(cutLoudness, 36.0f * (c.min + (c.max - c.min) * c.workload));
    LdnsCutFree(s);
  }
}

// Band 3 was cut: it sorts first while its key (4 - 0.2 * 4.5) stays the
// lowest, and a stop block forgets it.
TEST(LdnsCut, TheCutSetIsStableAndAStopBlockForgetsIt) {
  float first[kPsyMaxBands] = {3.1f, 3.2f, 3.3f, 1.0f, 5, 6, 7, 8};
  float second[kPsyMaxBands] = {3.1f, 3.2f, 3.3f, 3.4f, 5, 6, 7, 4.9f};
  LdnsCutState* s = nullptr;
  ASSERT_EQ(LdnsCutInit(&s, 0.1f, 0.1f, 1.0f), nullptr);
  auto o = eight_bands();
  EXPECT_EQ(LdnsCutFrame(o.get(), first, nullptr, 0.0f, s), 1);
  EXPECT_EQ(s->mask[3], 1);
  o = eight_bands();
  EXPECT_EQ(LdnsCutFrame(o.get(), second, nullptr, 0.0f, s), 1);
  EXPECT_EQ(s->mask[3], 1) << "the band cut last frame is kept";
  EXPECT_EQ(s->mask[0], 0);
  o = eight_bands(3);
  EXPECT_EQ(LdnsCutFrame(o.get(), second, nullptr, 0.0f, s), 1);
  EXPECT_EQ(s->mask[0], 1) << "after a stop block the quietest band";
  EXPECT_EQ(s->mask[3], 0);
  // Nothing quieter than avg * ldnsAvg: nothing is cut.
  LdnsCutState* none = nullptr;
  ASSERT_EQ(LdnsCutInit(&none, 0.5f, 0.5f, 0.1f), nullptr);
  o = eight_bands();
  EXPECT_EQ(LdnsCutFrame(o.get(), first, nullptr, 1.0f, none), 0);
  LdnsCutFree(none);
  LdnsCutFree(s);
}

TEST(SuperStarv, PicksPairsOfTheStrongestLines) {
  float x[16];
  for (int i = 0; i < 16; ++i) x[i] = float(i % 5);
  unsigned char chosen[16] = {0};
  // 32 lines asked of a band of 16: min(32, 15) lines, 8 picks.
  EXPECT_EQ(superstarv_band(x, 16, 32, 0.0f, 0, chosen), 8);
  // 4 lines: two picks, the pairs (3, 4) and (8, 9) (3 + 4 and 3 + 4, the
  // first found wins over (13, 14)).
  unsigned char four[16] = {0};
  EXPECT_EQ(superstarv_band(x, 16, 4, 0.0f, 0, four), 2);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(four[i], i == 3 || i == 4 || i == 8 || i == 9) << i;
  // Below the threshold a picked line is not kept.
  unsigned char loud[16] = {0};
  superstarv_band(x, 16, 4, 10.0f, 1, loud);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(loud[i], i == 4 || i == 9) << i;
  // Six lines, five wanted: (3, 4), (1, 2), then no free pair: line 0.
  unsigned char six[6] = {0};
  EXPECT_EQ(superstarv_band(x, 6, 8, 0.0f, 0, six), 3);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(six[i], i < 5) << i;
}

TEST(SuperStarv, SettingsAndTheOddLineCount) {
  const int offsets[9] = {0, 4, 8, 12, 16, 20, 24, 28, 32};
  struct Case {
    const char* params;
    int enabled, minSfb, numLin;
    const char* error;
  } cases[] = {{"", 0, 200, 32, nullptr},
               {"-sst-minSfb 3", 1, 3, 32, nullptr},
               {"-sst-minFreqLong 0", 0, 200, 32, nullptr},
               {"-sst-minSfb 3 -sst-numLin 7", 0, 200, 32,
                "wrong parameter for sst-numLin or sst-numLinSh: Disabling superstarving !!!"}};
  for (const Case& c : cases) {
    param_free_all();
    if (*c.params) configure_params_line(c.params);
    SuperStarvState s;
    ErrorRecord* err = SuperStarvInit(&s, 48000.0f, 8, offsets, 8, offsets);
    if (c.error) {
      ASSERT_NE(err, nullptr);
      EXPECT_STREQ(err->message, c.error);
      error_free(err);
    } else {
      EXPECT_EQ(err, nullptr);
    }
    EXPECT_EQ(s.enabled, c.enabled) << c.params;
    EXPECT_EQ(s.minSfb, c.minSfb) << c.params;
    EXPECT_EQ(s.numLin, c.numLin) << c.params;
  }
  param_free_all();
}

// Starving from band 1 with 2 lines a band: each record keeps one pair per
// band, the second the first's lines when shared; energies follow.
TEST(SuperStarv, SharedLinesAndEnergies) {
  const int offsets[9] = {0, 4, 8, 12, 16, 20, 24, 28, 32};
  configure_params_line("-sst-minSfb 1 -sst-numLin 2");
  SuperStarvState s;
  ASSERT_EQ(SuperStarvInit(&s, 48000.0f, 8, offsets, 8, offsets), nullptr);
  auto a = eight_bands(), b = eight_bands();
  a->spectrum[6] = a->spectrum[7] = 3.0f;  // band 1: lines 6 and 7 are the strongest
  SuperStarvFrame(&s, a.get(), b.get(), 1);
  EXPECT_EQ(a->spectrum[0], 1.0f) << "below the start band";
  EXPECT_EQ(a->spectrum[4], 0.0f);
  EXPECT_EQ(a->spectrum[6], 3.0f);
  EXPECT_EQ(b->spectrum[4], 0.0f);
  EXPECT_EQ(b->spectrum[6], 1.0f) << "the second keeps the first's lines";
  EXPECT_FLOAT_EQ(a->energy[1], 4.0f * 18.0f / 20.0f);
  EXPECT_FLOAT_EQ(b->energy[2], 4.0f * 2.0f / 4.0f);
  param_free_all();
}

TEST(DiffCtrl, TableRowsAndTheUnsupportedRate) {
  struct Case {
    long rate;
    int coreType, units, v2, v3;
  } cases[] = {{96000, 0, 4, 8, 2},   {44100, 0, 5, 18, 5},  {44100, 6, 7, 36, 7},
               {16000, 6, 10, 120, 15}, {8000, 0, 9, 104, 14}, {32000, 6, 8, 60, 9}};
  for (const Case& c : cases) {
    int units = 0, v2 = 0, v3 = 0;
    ASSERT_TRUE(diff_ctrl_table(c.rate, c.coreType, &units, &v2, &v3)) << c.rate;
    EXPECT_EQ(units, c.units);
    EXPECT_EQ(v2, c.v2);
    EXPECT_EQ(v3, c.v3);
  }
  int u, a, b;
  EXPECT_FALSE(diff_ctrl_table(12000, 6, &u, &a, &b));
  for (long rate : {22000L, 12000L}) {
    DiffCtrlState* s = nullptr;
    ErrorRecord* err = DiffCtrlInit(&s, 0, 6, rate, 1024, 0);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->message, "unsupported diff control sample rate");
    EXPECT_EQ(s, nullptr);
    error_free(err);
  }
  DiffCtrlState* mono = nullptr;
  ASSERT_EQ(DiffCtrlInit(&mono, 0, 0, 44100, 1024, 1), nullptr);
  EXPECT_EQ(mono->units, 20);
  EXPECT_EQ(mono->unitMark[1], 1);
  EXPECT_EQ(mono->flags[119], 1);
  DiffCtrlFree(mono);
  param_free_all();
}

// Long blocks: the lower layer close to the spectrum in bands 0-3 (the
// difference is cheaper: flag 0, the band codes the difference and the
// mono-layer spectrum takes the lower layer), far from it in bands 4-7
// (flag 1, the full spectrum). "DiffCtrlLo" 1 and 2 set every flag; bands
// below the start band are coded in full.
TEST(DiffCtrl, DecisionByEntropyAndTheModes) {
  struct Case {
    const char* params;
    int startBand;
    int flags[8];
  } cases[] = {{"", 0, {0, 0, 0, 0, 1, 1, 1, 1}},
               {"-DiffCtrlLo 1", 0, {1, 1, 1, 1, 1, 1, 1, 1}},
               {"-DiffCtrlLo 2", 0, {0, 0, 0, 0, 0, 0, 0, 0}},
               {"", 2, {1, 1, 0, 0, 1, 1, 1, 1}}};
  for (const Case& c : cases) {
    param_free_all();
    configure_params_line(c.params);
    DiffCtrlState* s = nullptr;
    ASSERT_EQ(DiffCtrlInit(&s, 0, 0, 44100, 1024, 0), nullptr);
    auto o = eight_bands();
    for (int b = 0; b < 8; ++b) o->threshold[b] = 0.01f;
    std::vector<float> lower(1024, 0.0f);
    for (int k = 0; k < 32; ++k) lower[size_t(k)] = k < 16 ? 0.9f : -1.0f;
    DiffCtrlAddCore(s, lower.data(), o.get());
    std::vector<float> mono(1024, 5.0f);
    DiffCtrlDecide(s, o.get(), mono.data(), c.startBand, 0);
    for (int b = 0; b < 8; ++b) {
      EXPECT_EQ(s->flags[b] == 0 ? 0 : 1, c.flags[b]) << c.params << " band " << b;
      EXPECT_EQ(s->bandMark[2 * b], c.flags[b]);
      EXPECT_EQ(s->bandMark[2 * b + 1], 1);
      EXPECT_FLOAT_EQ(o->spectrum[4 * b], c.flags[b] ? 1.0f : 1.0f - lower[size_t(4 * b)]) << b;
      EXPECT_FLOAT_EQ(mono[size_t(4 * b)], c.flags[b] ? 0.0f : lower[size_t(4 * b)]);
    }
    DiffCtrlFree(s);
  }
  param_free_all();
}

// Short blocks decide per window group by the group's summed entropies; a
// layer above the first keeps the short flags as they were.
TEST(DiffCtrl, ShortBlocksDecidePerGroup) {
  for (int notFirst = 0; notFirst < 2; ++notFirst) {
    DiffCtrlState* s = nullptr;
    ASSERT_EQ(DiffCtrlInit(&s, 0, 0, 44100, 1024, 0), nullptr);
    auto o = eight_bands(2);
    o->groups = 2;
    o->groupLength[0] = o->groupLength[1] = 4;
    for (int i = 0; i < 256; ++i) o->spectrum[i] = 1.0f;
    for (int g = 0; g < 2; ++g)
      for (int b = 0; b < 8; ++b) o->threshold[g * kPsyMaxBands + b] = 0.01f;
    std::vector<float> lower(1024, 0.0f);
    for (int k = 0; k < 256; ++k) lower[size_t(k)] = k < 128 ? 0.9f : -1.0f;
    DiffCtrlAddCore(s, lower.data(), o.get());
    DiffCtrlDecide(s, o.get(), nullptr, 0, notFirst);
    for (int b = 0; b < 8; ++b) {
      EXPECT_EQ(s->flags[b], notFirst ? 1 : 0) << b;
      EXPECT_EQ(s->flags[8 + b], 1) << b;
    }
    EXPECT_FLOAT_EQ(o->spectrum[0], notFirst ? 1.0f : 1.0f - 0.9f);
    DiffCtrlFree(s);
  }
  param_free_all();
}

// Prepare subtracts the lower layer from the bands below its limit, or
// clears the lower layer; the mono-layer form codes every band in full
// without a core.
TEST(DiffCtrl, PrepareAndTheMonoLayerForm) {
  DiffCtrlState* s = nullptr;
  ASSERT_EQ(DiffCtrlInit(&s, 0, 0, 44100, 1024, 1), nullptr);
  auto o = eight_bands();
  for (int b = 0; b < 8; ++b) o->threshold[b] = 0.01f;
  std::vector<float> lower(1024, 0.25f);
  DiffCtrlAddCore(s, lower.data(), o.get());
  DiffCtrlAddCore(s, lower.data(), o.get());
  EXPECT_FLOAT_EQ(s->core[31], 0.5f);
  EXPECT_EQ(s->core[32], 0.0f) << "beyond the coded bands";
  DiffCtrlPrepare(s, o.get(), 0, 2, 1024);
  EXPECT_FLOAT_EQ(o->spectrum[7], 0.5f);
  EXPECT_FLOAT_EQ(o->spectrum[8], 1.0f);
  DiffCtrlPrepare(s, o.get(), 1, 8, 1024);
  EXPECT_EQ(s->core[0], 0.0f);
  DiffCtrlAddCore(s, lower.data(), o.get());
  DiffCtrlDecideMono(s, o.get(), 8, 0);
  for (int b = 0; b < 8; ++b) EXPECT_EQ(s->flags[b], 1) << b;
  DiffCtrlFree(s);
  param_free_all();
}

}  // namespace

namespace {

// A long band table of 49 bands over 1024 lines (a rough 44.1 kHz shape).
struct LongBands {
  int offsets[50];
  LongBands() {
    offsets[0] = 0;
    for (int b = 0; b < 49; ++b) offsets[b + 1] = offsets[b] + (b < 11 ? 4 : b < 40 ? 20 : 40);
    offsets[49] = 1024;
  }
};

TEST(PnsParam, RowsByBitrateAndBandwidth) {
  static LongBands lb;
  const int shortOffsets[15] = {0, 4, 8, 12, 16, 20, 28, 36, 44, 56, 68, 80, 96, 112, 128};
  struct Case {
    const char* params;
    long bitrate;
    float bandwidth;
    int aot;
    bool found;
    int startLong;
    float refHomogen, refSfm;
    int minSfbWidth;
  } cases[] = {
      {"", 32000, 20000.0f, 2, true, 24, 7.0f, 0.3f, 16},          // table 1 row 4 only
      {"", 20000, 12999.5f, 2, false, 0, 0, 0, 0},                // the gap between the rows
      {"-pns-infoTabNr 2", 40000, 10000.0f, 2, true, 24, 6.0f, 0.4f, 16},
      {"-pns-infoTabNr 4", 20000, 15000.0f, 2, true, 35, 9.0f, 0.1f, 16},
      {"-pns-infoTabNr 5", 40000, 10000.0f, 2, true, 34, 25.0f, 0.3f, 16},
      {"-pns-infoTabNr 6", 20000, 10000.0f, 2, true, 35, 14.0f, 0.3f, 16},
      {"", 45000, 20000.0f, 23, true, 4, 7.0f, 0.3f, 8},           // low delay, the third row
      {"-pns-startFreq 0", 64000, 16000.0f, 2, true, 0, 7.0f, 0.3f, 16},
      {"-pns-refHomogen 3 -pns-minSfbWidth 8", 64000, 16000.0f, 2, true, 24, 3.0f, 0.3f, 8},
  };
  for (const Case& c : cases) {
    param_free_all();
    if (*c.params) configure_params_line(c.params);
    const PnsBands l = {44100.0f, c.bandwidth, c.bitrate, 49, lb.offsets};
    const PnsBands s = {44100.0f, c.bandwidth, c.bitrate, 14, shortOffsets};
    PnsParam p;
    ErrorRecord* err = pns_param_create(&p, &l, &s, 0, 0, c.aot);
    if (!c.found) {
      ASSERT_NE(err, nullptr);
      EXPECT_STREQ(err->message, "no PNS parameter set for given bitrate/bandwidth combination");
      error_free(err);
      continue;
    }
    ASSERT_EQ(err, nullptr) << c.params;
    EXPECT_EQ(p.startSfbLong, c.startLong) << c.params << " " << c.bitrate;
    EXPECT_FLOAT_EQ(p.refHomogen, c.refHomogen) << c.params;
    EXPECT_FLOAT_EQ(p.refSfm, c.refSfm) << c.params;
    EXPECT_EQ(p.minSfbWidth, c.minSfbWidth) << c.params;
    EXPECT_EQ(p.refGlobTon, c.aot == 23 ? 0.0f : p.refGlobTon);
    EXPECT_EQ(p.sampleRate, 44100);
  }
  param_free_all();
  configure_params_line("-pns-startSfb 3 -pns-startFreq 1000");
  const PnsBands l = {44100.0f, 16000.0f, 64000, 49, lb.offsets};
  PnsParam p;
  ErrorRecord* err = pns_param_create(&p, &l, &l, 0, 0, 2);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "The pns-startSfb and pns-startFreq switches must not be used together!");
  error_free(err);
  param_free_all();
}

TEST(PnsParam, RampAndFlatness) {
  EXPECT_EQ(ramp(5.0f, 0.0f, 0.9f, 1.1f), 1.0f);
  EXPECT_EQ(ramp(0.8f, 1.0f, 0.9f, 1.1f), 1.0f);
  EXPECT_FLOAT_EQ(ramp(1.0f, 1.0f, 0.9f, 1.1f), 0.5f);
  EXPECT_EQ(ramp(1.2f, 1.0f, 0.9f, 1.1f), 0.0f);
  const float zero[4] = {0, 0, 0, 0}, flat[4] = {3, 3, 3, 3}, peaked[4] = {1, 0.001f, 0.001f, 0.001f};
  EXPECT_EQ(pns_flatness(zero, 4), 0.0);
  EXPECT_NEAR(pns_flatness(flat, 4), 1.0, 1e-9);
  EXPECT_LT(pns_flatness(peaked, 4), 0.1);
}

std::unique_ptr<PnsState> pns_state(int mode) {
  auto s = std::make_unique<PnsState>();
  std::memset(s.get(), 0, sizeof(PnsState));
  s->pnsMode = mode;
  s->blocktypeMode = 1;
  s->corrThreshold = 0.6f;
  return s;
}

// Measures 0.8 except bands 3 (0.4) and 6 (0.2); band 5's energy is exactly
// 1.5 times its threshold, which is not above it.
TEST(Pns, DetectionByMeasureAndEnergy) {
  const float measure[8] = {0.8f, 0.8f, 0.8f, 0.4f, 0.8f, 0.8f, 0.2f, 0.8f};
  struct Case {
    int mode;
    const char* marks;
  } cases[] = {{0, "NNNNNNNN"}, {1, "NNN.NN.."}, {2, "NNN.N..N"}, {3, "NNN....."}};
  for (const Case& c : cases) {
    auto s = pns_state(c.mode);
    auto o = eight_bands();
    for (int b = 0; b < 8; ++b) s->measure[b] = measure[b], o->threshold[b] = 1.0f;
    o->energy[5] = 1.5f;
    o->jsFlags[7] = c.mode == 1 ? kJsLtp : 0;  // a predicted band is no noise band
    PnsDetect(s.get(), o.get(), nullptr);
    std::string marks;
    for (int b = 0; b < 8; ++b) marks += (o->jsFlags[b] & kJsPns) ? 'N' : '.';
    EXPECT_EQ(marks, c.marks) << "mode " << c.mode;
  }
}

// Uniform bands of 32 lines over 1024: a scale-factor band takes the
// smallest measure of the uniform bands its lines fall in; one without
// lines takes 1.
TEST(Pns, UniformBandsGiveEachBandTheSmallestOverlappingMeasure) {
  int edges[kPnsUniformBands + 1];
  pns_uniform_edges(1024, edges);
  EXPECT_EQ(edges[1], 32);
  EXPECT_EQ(edges[32], 1024);
  float uniform[kPnsUniformBands];
  for (int u = 0; u < kPnsUniformBands; ++u) uniform[u] = 0.9f - 0.02f * float(u);
  uniform[2] = 0.1f;
  const int offsets[] = {0, 4, 32, 33, 64, 100, 100, 1024};
  float measure[7];
  pns_measure_from_uniform(uniform, 7, offsets, 1024, measure);
  const float expected[7] = {0.9f, 0.9f, 0.88f, 0.88f, 0.1f, 1.0f, 0.9f - 0.02f * 31.0f};
  for (int b = 0; b < 7; ++b) EXPECT_FLOAT_EQ(measure[b], expected[b]) << b;
}

TEST(Pns, ModeThreeFillsAHoleAndRemovesAnIsolatedBand) {
  auto s = pns_state(3);
  auto o = eight_bands();
  const float measure[8] = {0.8f, 0.8f, 0.6f, 0.8f, 0.1f, 0.1f, 0.8f, 0.1f};
  for (int b = 0; b < 8; ++b) {
    s->measure[b] = measure[b];
    o->threshold[b] = 1.0f;
  }
  o->energy[2] = 1.0f;  // noise-like but below 1.5 times its threshold: a hole
  PnsDetect(s.get(), o.get(), nullptr);
  std::string marks;
  for (int b = 0; b < 8; ++b) marks += (o->jsFlags[b] & kJsPns) ? 'N' : '.';
  EXPECT_EQ(marks, "NNNN....");
}

TEST(Pns, SubstitutionLimitsNeighbouringValues) {
  auto s = pns_state(2);
  auto o = eight_bands();
  o->jsFlags[2] = o->jsFlags[3] = o->jsFlags[5] = kJsPns;
  s->energyPerWindow[2] = std::exp2(5.0f);   // 2 log2 E = 10
  s->energyPerWindow[3] = std::exp2(45.0f);  // 90, written 70
  s->energyPerWindow[5] = 0.0f;              // 0
  PnsSubstitute(s.get(), o.get(), nullptr, 0);
  EXPECT_EQ(s->value[2], 10);
  EXPECT_EQ(s->value[3], 70);
  EXPECT_EQ(s->value[5], 10);
  EXPECT_EQ(o->spectrum[8], 0.0f);
  EXPECT_EQ(o->energy[3], 0.0f);
  EXPECT_EQ(o->spectrum[16], 1.0f);
}

TEST(Pns, PairCorrelationDecidesTheCorrelatedFlag) {
  for (float corr : {0.7f, 0.5f}) {
    auto sl = pns_state(2), sr = pns_state(2);
    auto l = eight_bands(), r = eight_bands();
    int mask[8 * kPsyMaxBands] = {};
    l->jsFlags[1] = r->jsFlags[1] = kJsMs | kJsPns;
    mask[1] = kJsMs;
    sl->correlation[1] = sr->correlation[1] = corr;
    PnsPair(l.get(), r.get(), sl.get(), sr.get(), mask);
    EXPECT_EQ(l->jsFlags[1] & kJsMs, 0) << corr;
    EXPECT_EQ(r->jsFlags[1] & kJsMs, 0);
    EXPECT_EQ(l->jsFlags[1] & kJsPnsCorrelated, corr > 0.6f ? kJsPnsCorrelated : 0);
    EXPECT_EQ(mask[1] & kJsPnsCorrelated, corr > 0.6f ? kJsPnsCorrelated : 0);
    EXPECT_EQ(r->jsFlags[1] & kJsPns, kJsPns);
  }
  // M/S band with noise in one channel only: both lose the noise flag.
  auto sl = pns_state(2), sr = pns_state(2);
  auto l = eight_bands(), r = eight_bands();
  l->jsFlags[0] = kJsMs | kJsPns;
  r->jsFlags[0] = kJsMs;
  PnsPair(l.get(), r.get(), sl.get(), sr.get(), nullptr);
  EXPECT_EQ(l->jsFlags[0], kJsMs);
}

}  // namespace
