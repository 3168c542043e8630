#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/tns.h"
#include "param_front_end.h"

namespace {

const AudioObject kLc{1, 2};

TEST(TnsQuantiser, CoefficientCases) {
  struct Case {
    float k;
    int res;
    int index;
    float value;
  } cases[] = {
      {-0.3f, 4, -2, -0.3612f},  // asin(-0.3) * 5.4113 = -1.649
      {0.3f, 4, 1, 0.2079f},
      {0.9f, 3, 2, 0.7818f},
      {-0.9f, 3, -3, -0.8660f},
      {0.0f, 4, 0, 0.0f},
  };
  for (const Case& c : cases) {
    int16_t index = 99;
    EXPECT_NEAR(tns_quantise_coefficient(c.k, c.res, &index), c.value, 1e-4) << c.k;
    EXPECT_EQ(index, c.index) << c.k;
  }
  // Coefficients that all dequantise to at most 0.1 leave order 0.
  TnsFilter f{};
  f.order = 3;
  f.resolution = 4;
  f.reflection[1] = 0.05f;
  f.reflection[2] = -0.08f;
  f.reflection[3] = 0.02f;
  tns_quantise_filter(&f, 0.0f);
  EXPECT_EQ(f.order, 0);
  EXPECT_EQ(f.quantGain, 1.0f);
}

class TnsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    param_free_all();
    sfbLong = sfbOffsetFreq(0, 44100, 1024);
    sfbShort = sfbOffsetFreq(2, 44100, 1024);
  }
  void TearDown() override {
    tns_delete(tns);
    std::free(sfbLong);
    std::free(sfbShort);
    param_free_all();
  }
  // A spectrum with a strong temporal envelope: a click in time is a cosine
  // along frequency.
  std::vector<float> clicky(unsigned seed, int windows) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> g(0.0f, 1.0f);
    std::vector<float> s(1024);
    for (int k = 0; k < 1024; ++k) {
      const int line = k / windows;
      s[size_t(k)] = 1000.0f * std::cos(0.37f * line + float(k % windows)) + 30.0f * g(rng);
    }
    return s;
  }
  TnsInfo* tns = nullptr;
  SfbParamSet* sfbLong = nullptr;
  SfbParamSet* sfbShort = nullptr;
};

TEST_F(TnsTest, InverseFilterUndoesTheFilterLongAndShortBothDirections) {
  for (const char* direction : {"-tnd 0", "-tnd 1"}) {
    for (int blockType : {0, 2}) {
      configure_params({direction});
      ASSERT_EQ(tns_create(&tns, 44100, 64000, 0, 0, kLc, 1024, 8), nullptr);
      const SfbParamSet* sfb = blockType == 2 ? sfbShort : sfbLong;
      std::vector<float> spectrum = clicky(blockType + 1, blockType == 2 ? 8 : 1);
      const std::vector<float> original = spectrum;
      tns_analyse(tns, spectrum.data(), sfb->offsets, sfb->numBands, blockType, 4, sfb->numBands, 0);
      ASSERT_EQ(tns->active, 1) << direction << " " << blockType;
      tns_filter(tns, spectrum.data(), sfb->offsets, sfb->numBands, blockType);
      ASSERT_GT(tns->window[0].nFilters, 0);
      EXPECT_EQ(tns->window[0].filter[0].direction, direction[5] - '0');
      double changed = 0.0, worst = 0.0;
      tns_inverse_filter(tns, spectrum.data(), sfb->offsets, sfb->numBands, blockType);
      for (size_t k = 0; k < original.size(); ++k)
        worst = std::max(worst, std::fabs(double(spectrum[k]) - original[k]));
      EXPECT_LT(worst, 0.05) << direction << " " << blockType;
      std::vector<float> again = original;
      tns_filter(tns, again.data(), sfb->offsets, sfb->numBands, blockType);
      for (size_t k = 0; k < original.size(); ++k) changed += std::fabs(again[k] - original[k]);
      EXPECT_GT(changed, 1000.0);
      tns_delete(tns);
      tns = nullptr;
    }
  }
}

TEST_F(TnsTest, GainEqualToTheThresholdSwitchesTnsOnAndZeroSpectrumGivesOne) {
  ASSERT_EQ(tns_create(&tns, 44100, 64000, 0, 0, kLc, 1024, 8), nullptr);
  std::vector<float> spectrum = clicky(3, 1);
  tns->param.gainThresholdLong = 1.0f;
  tns_analyse(tns, spectrum.data(), sfbLong->offsets, sfbLong->numBands, 0, 4, 49, 0);
  const float gain = tns->window[0].predictionGain;
  ASSERT_GT(gain, 1.5f);
  tns->param.gainThresholdLong = gain;
  tns_analyse(tns, spectrum.data(), sfbLong->offsets, sfbLong->numBands, 0, 4, 49, 0);
  EXPECT_EQ(tns->active, 1);
  tns->param.gainThresholdLong = std::nextafter(gain, 100.0f);
  tns_analyse(tns, spectrum.data(), sfbLong->offsets, sfbLong->numBands, 0, 4, 49, 0);
  EXPECT_EQ(tns->active, 0);
  std::vector<float> zero(1024, 0.0f);
  tns_analyse(tns, zero.data(), sfbLong->offsets, sfbLong->numBands, 0, 4, 49, 0);
  EXPECT_EQ(tns->window[0].predictionGain, 1.0f);
  EXPECT_EQ(tns->active, 0);
}

TEST_F(TnsTest, BlockTypeModeGatesLongAndShort) {
  struct Case {
    const char* tnb;
    int blockType;
    int active;
  } cases[] = {{"-tnb 1", 2, 0}, {"-tnb 1", 0, 1}, {"-tnb 0", 0, 0},
               {"-tnb 0", 2, 0}, {"-tnb 2", 2, 1}, {"-tnb 3", 2, 1}};
  for (const Case& c : cases) {
    configure_params({c.tnb});
    ASSERT_EQ(tns_create(&tns, 44100, 64000, 0, 0, kLc, 1024, 8), nullptr);
    const SfbParamSet* sfb = c.blockType == 2 ? sfbShort : sfbLong;
    std::vector<float> spectrum = clicky(5, c.blockType == 2 ? 8 : 1);
    tns_analyse(tns, spectrum.data(), sfb->offsets, sfb->numBands, c.blockType, 4, sfb->numBands, 0);
    EXPECT_EQ(tns->active, c.active) << c.tnb << " block " << c.blockType;
    tns_delete(tns);
    tns = nullptr;
  }
}

TEST_F(TnsTest, OrderStaysWithinTheObjectTypesTable) {
  struct Case {
    AudioObject object;
    float rate;
    int wantLong;
  } cases[] = {{{1, 2}, 32000, 12}, {{1, 4}, 22050, 12}, {{1, 2}, 48000, 12}, {{1, 1}, 32000, 20},
               {{1, 1}, 48000, 12}};
  for (const Case& c : cases) {
    configure_params({"-tno 31"});
    ASSERT_EQ(tns_create(&tns, c.rate, 64000, 0, 0, c.object, 1024, 8), nullptr);
    EXPECT_EQ(tns->orderLimitLong, c.wantLong) << c.object.objectType << " " << c.rate;
    EXPECT_EQ(tns->orderLimitShort, 7);
    if (c.rate == 32000.0f) {
      SfbParamSet* sfb = sfbOffsetFreq(0, 32000, 1024);
      std::vector<float> spectrum = clicky(9, 1);
      tns->param.gainThresholdLong = 1.0f;
      tns_analyse(tns, spectrum.data(), sfb->offsets, sfb->numBands, 0, 4, sfb->numBands, 0);
      ASSERT_EQ(tns->active, 1);
      EXPECT_LE(tns->window[0].filter[0].order, c.wantLong);
      std::free(sfb);
    }
    tns_delete(tns);
    tns = nullptr;
  }
  ErrorRecord* err = tns_create(&tns, 44100, 64000, 0, 0, AudioObject{2, 2}, 1024, 8);
  ASSERT_NE(err, nullptr);
  EXPECT_EQ(tns, nullptr);
  error_free(err);
  TnsInfo one{};
  err = tns_duplicate(&one, nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "one INVALID HANDLE");
  error_free(err);
  EXPECT_EQ(tns_duplicate(nullptr, nullptr), nullptr);
}

TEST_F(TnsTest, SyncCopiesTheLouderChannelsDecision) {
  TnsInfo* right = nullptr;
  ASSERT_EQ(tns_create(&tns, 44100, 64000, 0, 0, kLc, 1024, 8), nullptr);
  ASSERT_EQ(tns_create(&right, 44100, 64000, 0, 0, kLc, 1024, 8), nullptr);
  std::vector<float> loud = clicky(1, 1), quiet(1024, 0.5f);
  tns_analyse(tns, quiet.data(), sfbLong->offsets, 49, 0, 4, 49, 0);
  tns_analyse(right, loud.data(), sfbLong->offsets, 49, 0, 4, 49, 0);
  ASSERT_EQ(right->active, 1);
  tns_sync(tns, right, quiet.data(), loud.data(), 1024);
  EXPECT_EQ(tns->active, 1);
  EXPECT_EQ(tns->window[0].filter[0].reflection[1], right->window[0].filter[0].reflection[1]);
  tns_delete(right);
}

TEST_F(TnsTest, ThresholdFactorsFollowTheMaskOptions) {
  configure_params({"-tnm 7"});
  ASSERT_EQ(tns_create(&tns, 44100, 64000, 0, 0, kLc, 1024, 8), nullptr);
  std::vector<float> spectrum = clicky(2, 1);
  tns_analyse(tns, spectrum.data(), sfbLong->offsets, 49, 0, 4, 49, 0);
  ASSERT_EQ(tns->active, 1);
  tns_filter(tns, spectrum.data(), sfbLong->offsets, 49, 0);
  const TnsWindow& w = tns->window[0];
  const TnsFilter& f = w.filter[w.nFilters - 1];
  EXPECT_EQ(w.factors[0], 1.0f);                            // below 380 Hz
  EXPECT_EQ(w.factors[f.startBand - 1], 0.25f);             // below the filter
  EXPECT_NEAR(w.factors[f.stopBand - 1], 1.67f / f.quantGain, 1e-5);
  std::vector<float> thr(49, 2.0f);
  tns_apply_to_thresholds(tns, 0, 49, thr.data());
  EXPECT_EQ(thr[f.startBand - 1], 0.5f);
}

}  // namespace
