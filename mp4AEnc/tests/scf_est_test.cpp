#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/scf_est.h"

namespace {

TEST(ScfEstimation, PerceptualEntropyCases) {
  struct Case {
    std::vector<float> lines;
    float thr;
    float want;
  } cases[] = {
      {{2.0f}, 1.0f, 2.0f},                      // e = 4: one line + log2(4)/2
      {{1.0f}, 1.0f, 0.0f},                      // e = 1 adds nothing
      {{1.0f, 0.5f, -1.0f}, 3.0f, 0.0f},         // every line at or below the threshold
      {{1e6f}, 1.0f, float(1 + 0.5 * std::log2(1e9))},  // e capped at 1e9
      {{2.0f, -2.0f}, 2.0f, float(2 + std::log2(4.0))},
  };
  for (const Case& c : cases) {
    float pe = -1.0f;
    ASSERT_EQ(pe_calc(c.lines.data(), c.thr, int(c.lines.size()), &pe), nullptr);
    EXPECT_NEAR(pe, c.want, 1e-4) << c.lines[0] << " / " << c.thr;
  }
  // Many lines at the cap: the running product is held at 1e290, no overflow.
  std::vector<float> loud(64, 1e6f);
  float pe = 0.0f;
  ASSERT_EQ(pe_calc(loud.data(), 1.0f, 64, &pe), nullptr);
  EXPECT_TRUE(std::isfinite(pe));
  EXPECT_LT(pe, 64 + 0.5 * std::log2(1e299));
  struct Bad {
    float thr;
    int width;
    const char* message;
  } bad[] = {{1e-39f, 1, " threshold <= FLT_MIN"}, {0.0f, 1, " threshold <= FLT_MIN"},
             {1.0f, 0, " zero sfb width"}};
  for (const Bad& b : bad) {
    float keep = 7.0f;
    ErrorRecord* err = pe_calc(loud.data(), b.thr, b.width, &keep);
    ASSERT_NE(err, nullptr);
    EXPECT_STREQ(err->message, b.message);
    EXPECT_EQ(keep, 7.0f);
    error_free(err);
  }
}

TEST(ScfEstimation, SilenceGivesZeroGainAndScalefactors) {
  const int widths[3] = {4, 4, 8};
  std::vector<float> values(16, 0.0f), thr(3, 1.0f), energy(3, 0.0f), peaks(3, 0.0f);
  EXPECT_EQ(global_gain_estimate(3, peaks.data(), 0), 0);
  EXPECT_EQ(global_gain_estimate(3, peaks.data(), 1), 0);
  int scf[3], flags[3], rounded[3];
  scf_estimate(3, thr.data(), energy.data(), widths, values.data(), 0, scf, flags, rounded);
  for (int b = 0; b < 3; ++b) {
    EXPECT_EQ(scf[b], 0);
    EXPECT_EQ(flags[b], 0);
  }
  // A loud peak: 16/3 log2(8192) - 69.33 = 0.0009, ceiling 1; with spread.
  peaks = {8192.0f, 0.0f, 0.0f};
  EXPECT_EQ(global_gain_estimate(3, peaks.data(), 0), 1);
  peaks = {8192.0f, 8192.0f, 0.0f};
  EXPECT_EQ(global_gain_estimate(3, peaks.data(), 1), 18);  // + (1 - 1/2) * 35
}

TEST(ScfEstimation, ScalefactorEstimateCapsAndRounds) {
  const int widths[2] = {2, 2};
  const float values[4] = {100, 100, 100, 100};  // sum of roots 20: h = log10(20)
  const float thr[2] = {1.0f, 1e9f}, energy[2] = {10.0f, 10.0f};
  int scf[2], flags[2], rounded[2];
  scf_estimate(2, thr, energy, widths, values, 100, scf, flags, rounded);
  const double o = (std::log10(1.00001) + 0.8293038 - std::log10(20.0)) * 8.8585 - 15.0;
  EXPECT_EQ(rounded[0], int(std::floor(100 - o + 0.5)));
  EXPECT_EQ(scf[0], 20);  // capped
  EXPECT_EQ(flags[0], 1);
  EXPECT_EQ(scf[1], 0);  // energy below the threshold: o = global gain
  EXPECT_EQ(rounded[1], 0);
}

TEST(ScfEstimation, JumpsBeyondSixtyFallBackToTheGlobalGain) {
  const float energy[3] = {1, 0, 1};  // the middle band carries nothing
  int scf[3] = {10, 90, 40};
  int gain = 120;
  const int steps[3] = {0, 0, 11};
  // 40 + 11 = 51 is 41 from 10: allowed; the silent band does not count.
  EXPECT_EQ(scf_amplify(3, energy, steps, 20, scf, &gain), 11);
  EXPECT_EQ(scf[2], 51);
  EXPECT_EQ(gain, 120);
  const int jump[3] = {0, 0, 20};
  scf[2] = 60;  // 60 + 20 = 80 is 70 from 10
  EXPECT_EQ(scf_amplify(3, energy, jump, 20, scf, &gain), 20);
  EXPECT_EQ(scf[2], 60);
  EXPECT_EQ(gain, 100);
  EXPECT_EQ(scf_difference_ok(3, energy, scf), 1);
  const float ratios[4] = {0.5f, 1.0f, 2.0f, 16.0f};
  int out[4];
  amplification_steps(4, ratios, 1.0f, out);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 2);
  EXPECT_EQ(out[3], 8);
}

TEST(Loudness, FunctionsAndEdges) {
  EXPECT_EQ(threshold_in_quiet(30000.0f), threshold_in_quiet(24000.0f));
  // 1 kHz: 3.64 - 6.5 e^(-0.6 * 2.3^2) + 0.001 = 3.3690 dB.
  EXPECT_NEAR(10 * std::log10(threshold_in_quiet(1000.0f)), 3.3690, 1e-3);
  const float s = loudness_index(1000.0f);
  EXPECT_NEAR(s, std::pow(10.0, (-2 - 2.05 * std::atan(4.0) - 0.75 * std::atan(2.56)) / 10), 1e-7);
  const float tq = threshold_in_quiet(1000.0f);
  const float c = loudness_constant(tq, s);
  EXPECT_EQ(specific_loudness(tq, s, c, 0.0f), 0.0f);  // below the threshold: nothing heard
  EXPECT_GT(specific_loudness(tq, s, c, 1e6f * tq), specific_loudness(tq, s, c, 1e3f * tq));
  const float values[3] = {0.0f, 2.0f, 4.0f}, factors[3] = {3, 3, 3}, energies[3] = {5, 5, 5};
  for (int type = 0; type < 3; ++type) {
    float out[3];
    rel_band_weight(3, values, factors, energies, type, out);
    EXPECT_EQ(out[0], 1.0f) << type;
    const float want = type == 0 ? 6.0f : (type == 1 ? 5 * 9.876543e-6f * 0.253125f + 3.0f : 10.0f);
    EXPECT_FLOAT_EQ(out[1], want) << type;
  }
  const float spectrum[8] = {1, 9, 2, 9, 3, 9, 4, 9};
  const int widths[2] = {1, 3};
  float be[2];
  band_energy_strided(spectrum, 2, 2, widths, be);
  EXPECT_EQ(be[0], 1.0f);
  EXPECT_EQ(be[1], 4.0f + 9.0f + 16.0f);
  const float in[3] = {-8.0f, 0.0f, 1.0f};
  float a[3], p[3];
  int sg[3];
  quantise_prepare(in, a, sg, p, 3);
  EXPECT_EQ(a[0], 8.0f);
  EXPECT_EQ(sg[0], -1);
  EXPECT_EQ(sg[1], 0);
  EXPECT_NEAR(p[0], std::pow(8.0, 0.75), 1e-5);
  EXPECT_EQ(op_hook(), 1);
}

}  // namespace
