// Intensity stereo: the analysis, the border, the block bookkeeping and the
// application on small records; the books the writer gives its bands.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "mp4aenc/bitmux.h"
#include "mp4aenc/intensity.h"
#include "mp4aenc/param.h"
#include "mp4aenc/tf_int_dec.h"
#include "param_front_end.h"

namespace {

// Eight bands of eight lines: a 64-line "long block" whose tables the
// state takes as its own (band offsets every eight lines).
const int kOffsets[9] = {0, 8, 16, 24, 32, 40, 48, 56, 64};
const int kWidths[8] = {8, 8, 8, 8, 8, 8, 8, 8};

std::unique_ptr<PsyOut> record(float line, float energy, float threshold) {
  auto o = std::make_unique<PsyOut>();
  std::memset(o.get(), 0, sizeof(PsyOut));
  o->groups = 1;
  o->groupLength[0] = 1;
  o->bandsPerWindow = 8;
  o->bandWidths = kWidths;
  o->maxSfb = 8;
  o->commonWindow = 1;
  for (int i = 0; i < 64; ++i) o->spectrum[i] = line;
  for (int b = 0; b < 8; ++b) o->energy[b] = energy, o->threshold[b] = threshold;
  return o;
}

// A complex spectrum of 64 lines, every line (re, im).
std::vector<float> complex_lines(float re, float im) {
  std::vector<float> v(128);
  for (int k = 0; k < 64; ++k) v[size_t(2 * k)] = re, v[size_t(2 * k + 1)] = im;
  return v;
}

class IntensityTest : public ::testing::Test {
 protected:
  // 64 kbit/s at 44.1 kHz: table row 5 (borders at 5000 and 8000 Hz, which
  // for these 64 lines are bands 2 and 3 of 8).
  void Make(std::initializer_list<std::string> params = {}) {
    param_free_all();
    configure_params(params);
    ASSERT_EQ(IntensityInit(&is, 44100.0f, 64000, 1024, kOffsets, 8, kOffsets, 8), nullptr);
  }
  void TearDown() override {
    IntensityFree(is);
    param_free_all();
  }
  void Analyse(const std::vector<float>& cl, const std::vector<float>& cr, const PsyOut* l, const PsyOut* r) {
    const float* ls[1] = {cl.data()};
    const float* rs[1] = {cr.data()};
    IntensityAnalyse(is, 64, ls, rs, l, r, IntensityBorderParams(is, 0));
  }
  IsState* is = nullptr;
};

TEST_F(IntensityTest, TableRowGivesTheBordersAndAMissingRowIsAnError) {
  Make();
  EXPECT_EQ(is->longBorder.minBorder, 2);
  EXPECT_EQ(is->longBorder.defBorder, 3);
  EXPECT_EQ(is->shortBorder.minBorder, 2);  // 7000 Hz lies midway between two bands: the lower
  EXPECT_EQ(is->shortBorder.defBorder, 3);
  // (64000 * 1024 / 44100 - 120) * 0.7 PE a frame; short blocks take set B.
  EXPECT_NEAR(is->longBorder.peAllowance, (64000.0f * 1024.0f / 44100.0f - 120.0f) * 0.7f, 0.01f);
  EXPECT_NEAR(is->shortBorder.peAllowance, (64000.0f * 1024.0f / 44100.0f - 200.0f) * 0.7f, 0.01f);
  EXPECT_EQ(is->longBorder.hysteresis, 4);
  IntensityFree(is);
  is = nullptr;
  // "isf" moves both borders of both block kinds.
  Make({"-isf 16000"});
  EXPECT_EQ(is->longBorder.minBorder, 6);
  EXPECT_EQ(is->shortBorder.defBorder, 6);
  IntensityFree(is);
  is = nullptr;
  param_free_all();
  ErrorRecord* err = IntensityInit(&is, 44100.0f, 300000, 1024, kOffsets, 8, kOffsets, 8);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "no Intensity parameter set for given bitrate/sampling rate combination");
  EXPECT_EQ(is, nullptr);
  error_free(err);
}

// Identical channels: position 0 and gain sqrt(eR / eS) = 0.5, so the
// intensity spectrum L + R scaled by 0.5 is the channel itself. Left four
// times as strong as right: position round(2 log2 4) = 4.
TEST_F(IntensityTest, PositionAndGainFromTheEnergies) {
  Make();
  struct Case {
    float rightScale;
    int position;
    float gain;
  } cases[] = {{1.0f, 0, 0.5f}, {0.5f, 4, 2.0f / 3.0f}};
  for (const Case& c : cases) {
    auto l = record(2.0f, 32.0f, 2.0f), r = record(2.0f * c.rightScale, 32.0f * c.rightScale * c.rightScale, 2.0f);
    const auto cl = complex_lines(3.0f, 1.0f), cr = complex_lines(3.0f * c.rightScale, 1.0f * c.rightScale);
    Analyse(cl, cr, l.get(), r.get());
    for (int b = is->longBorder.minBorder; b < 8; ++b) {
      EXPECT_EQ(is->position[b], c.position) << b;
      EXPECT_EQ(is->outOfPhase[b], 0);
      EXPECT_NEAR(is->gain[b], c.gain, 1e-5f) << b;
      EXPECT_NEAR(is->spectrum[8 * b], c.gain * 2.0f * (1.0f + c.rightScale), 1e-5f);
    }
    // Below the first analysed band nothing is analysed or kept.
    EXPECT_EQ(is->position[0], kIsNoPosition);
    EXPECT_EQ(is->spectrum[0], 0.0f);
  }
}

// "iso": a right channel that is the left one negated is out of phase;
// the intensity spectrum is the left channel at its own level. Without the
// flag the band counts as in phase. "ict" marks four bands of five.
TEST_F(IntensityTest, OutOfPhaseDetectionAndTheConformanceCounter) {
  for (int iso = 0; iso < 2; ++iso) {
    Make(iso ? std::initializer_list<std::string>{"-iso"} : std::initializer_list<std::string>{});
    auto l = record(2.0f, 32.0f, 2.0f), r = record(-2.0f, 32.0f, 2.0f);
    Analyse(complex_lines(3.0f, 1.0f), complex_lines(-3.0f, -1.0f), l.get(), r.get());
    EXPECT_EQ(is->outOfPhase[4], iso);
    EXPECT_NEAR(is->spectrum[32], iso ? 2.0f : 0.0f, 1e-5f);
    IntensityFree(is);
    is = nullptr;
  }
  Make({"-ict"});
  auto l = record(2.0f, 32.0f, 2.0f), r = record(2.0f, 32.0f, 2.0f);
  int marked = 0;
  for (int frame = 0; frame < 5; ++frame) {
    Analyse(complex_lines(3.0f, 1.0f), complex_lines(3.0f, 1.0f), l.get(), r.get());
    for (int b = 1; b < 8; ++b) marked += is->outOfPhase[b];
  }
  EXPECT_EQ(marked, 24);  // 30 analysed bands, each fifth in phase
}

// A pair of equal channels (an intensity band costs 81 of entropy): when
// the demand comes from the low bands and each high band saves little, the
// border walks down to the lowest band intensity may take; when each band
// saves much, the walk stops at the top band and the border is the default
// one. With every band already M/S there is no intensity at all. Intensity
// bands lose long-term prediction in both channels.
// (Hysteresis is out of the way: the border has stood for five frames.)
TEST_F(IntensityTest, BorderByDemandAndNoneWhenAllBandsAreMidSide) {
  struct Case {
    float peLow, peHigh;  // per channel, of bands 0-1 and of the others
    int allMs, border;
  } cases[] = {{1000.0f, 46.0f, 0, 2}, {400.0f, 400.0f, 0, 3}, {400.0f, 400.0f, 1, 8}};
  for (const Case& c : cases) {
    Make();
    ASSERT_EQ(is->longBorder.minBorder, 2);
    ASSERT_EQ(is->longBorder.defBorder, 3);
    is->sameCount = 5;
    auto l = record(200.0f, 320000.0f, 1.0f), r = record(200.0f, 320000.0f, 1.0f);
    Analyse(complex_lines(300.0f, 0.0f), complex_lines(300.0f, 0.0f), l.get(), r.get());
    float peL[kIsBands], peR[kIsBands];
    for (int k = 0; k < kIsBands; ++k) peL[k] = peR[k] = k < 2 ? c.peLow : c.peHigh;
    for (int b = 0; b < 8; ++b) l->jsFlags[b] = r->jsFlags[b] = kJsLtp | (c.allMs ? kJsMs : 0);
    float saved = 0.0f;
    ASSERT_EQ(IntensityBorder(is, peL, peR, l.get(), IntensityBorderParams(is, 0), 0.5f, 0.0f, &saved), nullptr);
    for (int b = 0; b < 8; ++b) EXPECT_EQ(is->isOn[b], b >= c.border) << "pe " << c.peHigh << " band " << b;
    EXPECT_EQ(saved > 0.0f, c.border < 8);
    IntensityApply(is, l.get(), r.get(), nullptr);
    for (int b = 0; b < 8; ++b) {
      const bool on = b >= c.border;
      EXPECT_EQ(l->jsFlags[b] & kJsIntensity, on ? kJsIntensity : 0);
      EXPECT_EQ(r->jsFlags[b] & kJsIntensity, on ? kJsIntensity : 0);
      EXPECT_EQ(l->jsFlags[b] & kJsMs, on || !c.allMs ? 0 : kJsMs);
      EXPECT_EQ(l->jsFlags[b] & kJsLtp, on ? 0 : kJsLtp);
      EXPECT_EQ(r->jsFlags[b] & kJsLtp, on ? 0 : kJsLtp);
      EXPECT_EQ(r->spectrum[8 * b], on ? 0.0f : 200.0f);
      EXPECT_EQ(r->energy[b], on ? 0.0f : 320000.0f);
      EXPECT_FLOAT_EQ(l->spectrum[8 * b], 200.0f);  // 0.5 (L + R)
      EXPECT_EQ(is->position[b], on ? 0 : kIsNoPosition);
    }
    IntensityFree(is);
    is = nullptr;
  }
}

// "isMode" 1 places the border between the default and the lowest band by
// the workload alone; "isMode" 2 codes the region of bands that save, up to
// the top band when the one below it is the highest that saves. Every
// band's entropy is that of its own case; an intensity band costs 81.
TEST_F(IntensityTest, WorkloadAndRegionModes) {
  struct Case {
    const char* mode;
    float workload;
    float pe[8];  // per channel
    int on[8];
  } cases[] = {
      {"-isMode 1", 0.0f, {400, 400, 400, 400, 400, 400, 400, 400}, {0, 0, 0, 1, 1, 1, 1, 1}},
      {"-isMode 1", 1.0f, {400, 400, 400, 400, 400, 400, 400, 400}, {0, 0, 1, 1, 1, 1, 1, 1}},
      {"-isMode 2", 0.0f, {40, 40, 40, 40, 40, 400, 400, 400}, {0, 0, 0, 0, 0, 1, 1, 1}},
      {"-isMode 2", 0.0f, {40, 40, 40, 40, 40, 40, 400, 40}, {0, 0, 0, 0, 0, 0, 1, 1}},
      {"-isMode 2", 0.0f, {40, 40, 40, 40, 40, 40, 40, 40}, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    Make({c.mode});
    auto l = record(200.0f, 320000.0f, 1.0f), r = record(200.0f, 320000.0f, 1.0f);
    Analyse(complex_lines(300.0f, 0.0f), complex_lines(300.0f, 0.0f), l.get(), r.get());
    float pe[kIsBands] = {};
    for (int b = 0; b < 8; ++b) pe[b] = c.pe[b];
    float saved = 0.0f;
    ASSERT_EQ(IntensityBorder(is, pe, pe, l.get(), IntensityBorderParams(is, 0), 0.5f, c.workload, &saved), nullptr);
    for (int b = 0; b < 8; ++b) EXPECT_EQ(is->isOn[b], c.on[b]) << c.mode << " workload " << c.workload << " band " << b;
    EXPECT_EQ(saved > 0.0f, c.on[7] == 1) << c.mode;
    IntensityFree(is);
    is = nullptr;
  }
}

// A band saving too little is not worth its positions: nothing is coded
// as intensity when left and right cost no more than the intensity band.
TEST_F(IntensityTest, NoIntensityWhenItSavesNothing) {
  Make();
  auto l = record(0.1f, 0.08f, 1.0f), r = record(0.1f, 0.08f, 1.0f);
  Analyse(complex_lines(0.1f, 0.0f), complex_lines(0.1f, 0.0f), l.get(), r.get());
  float peL[kIsBands] = {}, peR[kIsBands] = {};
  ASSERT_EQ(IntensityBorder(is, peL, peR, l.get(), IntensityBorderParams(is, 0), 0.5f, 0.0f, nullptr), nullptr);
  for (int b = 0; b < 8; ++b) EXPECT_EQ(is->isOn[b], 0) << b;
}

// Start, short, stop: the start block's successor resets every band and
// takes the short default border, the stop block resets again and takes
// the long one. A pair without a common window resets too.
TEST_F(IntensityTest, AStopBlockAfterShortOnesResetsTheBands) {
  Make({"-isf 16000"});
  is->shortBorder.defBorder = 3;
  auto mark = [&] {
    for (int k = 0; k < kIsBands; ++k) is->isOn[k] = 1, is->position[k] = 7, is->outOfPhase[k] = 1;
    is->sameCount = 3;
    is->lastBorder = 5;
  };
  auto reset = [&] {
    for (int k = 0; k < kIsBands; ++k)
      if (is->isOn[k] || is->position[k] != kIsNoPosition || is->outOfPhase[k]) return false;
    return is->sameCount == 0;
  };
  IntensityBlockSwitch(is, 1, 1);
  mark();
  IntensityBlockSwitch(is, 2, 1);
  EXPECT_TRUE(reset());
  EXPECT_EQ(is->lastBorder, 3);
  mark();
  IntensityBlockSwitch(is, 2, 1);
  EXPECT_FALSE(reset());
  IntensityBlockSwitch(is, 3, 1);
  EXPECT_TRUE(reset());
  EXPECT_EQ(is->lastBorder, is->longBorder.defBorder);
  mark();
  IntensityBlockSwitch(is, 0, 1);
  EXPECT_FALSE(reset());
  IntensityBlockSwitch(is, 0, 0);
  EXPECT_TRUE(reset());
}

// "isb" and "ism1": bit k marks band isb + k; a forced band is intensity
// even where the border would not reach it.
TEST_F(IntensityTest, ForcedBandsByMask) {
  Make({"-isb 2", "-ism1 5", "-isf 20000"});
  EXPECT_EQ(is->firstForced, 2);
  EXPECT_EQ(is->forced[2], 1);
  EXPECT_EQ(is->forced[3], 0);
  EXPECT_EQ(is->forced[4], 1);
  auto l = record(200.0f, 320000.0f, 1.0f), r = record(200.0f, 320000.0f, 1.0f);
  Analyse(complex_lines(300.0f, 0.0f), complex_lines(300.0f, 0.0f), l.get(), r.get());
  float pe[kIsBands] = {};
  ASSERT_EQ(IntensityBorder(is, pe, pe, l.get(), IntensityBorderParams(is, 0), 0.5f, 0.0f, nullptr), nullptr);
  for (int b = 0; b < 8; ++b) EXPECT_EQ(is->isOn[b], b == 2 || b == 4) << b;
}

// The writer's book decodes with the band's phase: book 15 in phase, 14 out
// of phase, each turned where ms_used is sent for the band; the internal
// decoder scales the first channel by 2^(-position / 4) with that sign.
TEST(IntensityBooks, BookFollowsPhaseAndMsUsedAndTheDecoderScales) {
  struct Case {
    int outOfPhase, jsFlags, book;
    float sign;
  } cases[] = {{0, kJsIntensity, 15, 1.0f},
               {1, kJsIntensity, 14, -1.0f},
               {0, kJsIntensity | kJsMsOnIntensity, 14, 1.0f},
               {1, kJsIntensity | kJsMsOnIntensity, 15, -1.0f}};
  for (const Case& c : cases) {
    AacChannelResult l = {}, r = {};
    for (AacChannelResult* x : {&l, &r}) {
      x->groups = 1, x->groupLength[0] = 1, x->maxSfb = 4, x->bandsPerWindow = 4, x->commonWindow = 1;
      for (int b = 0; b <= 4; ++b) x->bandOffset[b] = 4 * b;
      x->sectionCount[0] = 1;
      x->section[0][0] = {1, 0, 4};
      for (int b = 0; b < 4; ++b) x->book[b] = 1, x->sf[b] = 100;
    }
    l.jsFlags[2] = l.jsFlags[3] = c.jsFlags;
    r.book[2] = r.book[3] = 0;
    struct Arg {
      int outOfPhase;
    } arg = {c.outOfPhase};
    aac_mark_intensity_bands(&r, &l,
                             [](const void* a, int, int b, int* pos, int* phase) {
                               *pos = b == 2 ? 8 : -40;  // the second beyond reach: kept within -30..30
                               *phase = static_cast<const Arg*>(a)->outOfPhase;
                               return true;
                             },
                             &arg);
    EXPECT_EQ(r.book[2], c.book);
    EXPECT_EQ(r.sf[2], 8);
    EXPECT_EQ(r.sf[3], -30);
    ASSERT_EQ(r.sectionCount[0], 2);
    EXPECT_EQ(r.section[0][1].book, c.book);
    EXPECT_EQ(r.section[0][1].start, 2);
    EXPECT_EQ(r.section[0][1].length, 2);
    std::vector<float> first(1024, 0.0f), second(1024, 0.0f);
    for (int k = 0; k < 16; ++k) first[size_t(k)] = float(k + 1);
    tf_intensity(&l, &r, first.data(), second.data());
    EXPECT_EQ(second[4], 0.0f);
    EXPECT_FLOAT_EQ(second[8], c.sign * 9.0f / 4.0f);
    EXPECT_FLOAT_EQ(second[12], c.sign * 13.0f * std::exp2(7.5f));
  }
}

}  // namespace
