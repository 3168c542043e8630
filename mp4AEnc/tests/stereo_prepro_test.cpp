#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp4aenc/param.h"
#include "mp4aenc/stereo_prepro.h"
#include "param_front_end.h"

namespace {

class StereoPreproTest : public ::testing::Test {
 protected:
  void TearDown() override {
    stereo_prepro_free(state);
    param_free_all();
  }
  StereoPrepro* state = nullptr;
};

TEST_F(StereoPreproTest, OffByDefaultSoNoStateExists) {
  param_free_all();
  ASSERT_EQ(stereo_prepro_create(&state, 2, 64000, 44100.0f), nullptr);
  EXPECT_EQ(state, nullptr);
  std::vector<float> l = {1, 2}, r = {3, 4};
  stereo_prepro_frame(state, l.data(), r.data(), 2);  // a null state passes
  EXPECT_EQ(l[1], 2.0f);
}

TEST_F(StereoPreproTest, ConstantAttenuationDampsTheSideSignalByThatMuch) {
  configure_params({"-stPrePro", "-ConstAtt 6"});
  ASSERT_EQ(stereo_prepro_create(&state, 2, 128000, 48000.0f), nullptr);
  ASSERT_NE(state, nullptr);
  for (int frame = 0; frame < 3; ++frame) {
    std::vector<float> l(64), r(64);
    for (int i = 0; i < 64; ++i) l[i] = float(std::sin(i * 0.1)), r[i] = float(std::cos(i * 0.37));
    std::vector<float> l0 = l, r0 = r;
    stereo_prepro_post(state, 1e6f * frame, 1e3f, 5000.0f * frame);  // the signal does not matter
    stereo_prepro_frame(state, l.data(), r.data(), 64);
    EXPECT_EQ(state->attenuation, 6.0f);
    const double u = std::pow(10.0, -6.0 / 20.0);
    for (int i = 0; i < 64; ++i) {
      // Mid unchanged, side scaled by 10^(-6/20).
      EXPECT_NEAR(l[i] + r[i], l0[i] + r0[i], 1e-5);
      EXPECT_NEAR(l[i] - r[i], u * (l0[i] - r0[i]), 1e-5);
    }
  }
}

TEST_F(StereoPreproTest, AttenuationFollowsEntropyWithinItsSlewLimits) {
  configure_params({"-stPrePro"});
  ASSERT_EQ(stereo_prepro_create(&state, 2, 96000, 48000.0f), nullptr);
  EXPECT_EQ(state->attenuation, 0.0f);  // 96 kbit/s starts without attenuation
  EXPECT_EQ(state->tableSize, 25);
  std::vector<float> l(8, 1.0f), r(8, 1.0f);
  // Quiet, easy frame: stays 0 and leaves the pair unchanged.
  stereo_prepro_frame(state, l.data(), r.data(), 8);
  EXPECT_EQ(state->attenuation, 0.0f);
  EXPECT_EQ(l[0], 1.0f);
  // A hard, mid-dominated frame raises it by at most AttInc per frame.
  const float attInc = 48000.0f * 7.8125e-6f;
  stereo_prepro_post(state, 1e8f, 1.0f, 1e6f);
  float previous = 0.0f;
  for (int frame = 0; frame < 40; ++frame) {
    stereo_prepro_frame(state, l.data(), r.data(), 8);
    EXPECT_LE(state->attenuation - previous, attInc + 1e-6f);
    EXPECT_LE(state->attenuation, 12.0f);
    previous = state->attenuation;
  }
  EXPECT_FLOAT_EQ(state->attenuation, 12.0f);
  // Then an easy frame lets it fall by AttDec.
  stereo_prepro_post(state, 1e8f, 1.0f, 0.0f);
  stereo_prepro_frame(state, l.data(), r.data(), 8);
  EXPECT_FLOAT_EQ(state->attenuation, 12.0f - 48000.0f * 6.25e-7f);
}

}  // namespace
