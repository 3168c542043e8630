#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <vector>

#include "resamplelib/resample.h"
#include "signal.h"

namespace {

const double kPi = 3.14159265358979323846;

TEST(ResampleDesignTest, KaiserDesignValuesForTheRatePairs) {
  struct Case {
    int in, out;
    float fc;
    int taps;
  } cases[] = {{44100, 8000, 0.163265f, 343}, {16000, 8000, 0.45f, 124}, {8000, 16000, 0.9f, 62}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out);
    KaiserDesign d{};
    resample_kaiser(&d, c.in, c.out);
    EXPECT_NEAR(d.fc, c.fc, 1e-6);
    EXPECT_FLOAT_EQ(d.rollOff, 0.9f);
    EXPECT_EQ(d.attenuation, 90.0f);
    EXPECT_NEAR(d.beta, 9.0003f, 1e-4);
    EXPECT_EQ(d.zeroCrossings, 28);
    SincInterpolator* e = nullptr;
    ASSERT_EQ(sinc_create(&e, &d, c.in, c.out, 1), RESAMPLE_OK);
    EXPECT_EQ(e->taps, c.taps);
    EXPECT_EQ(e->tableSize, 28 * 512);
    EXPECT_EQ(e->centre, int(e->halfLength - 1));
    sinc_free(e);
  }
}

TEST(ResampleDesignTest, TableFollowsTheWindowedSinc) {
  KaiserDesign d{};
  resample_kaiser(&d, 44100, 8000);
  SincInterpolator* e = nullptr;
  ASSERT_EQ(sinc_create(&e, &d, 44100, 8000, 1), RESAMPLE_OK);
  const double gain = e->cutoff * 0.99, i0 = bessel_i0(d.beta);
  for (double x : {0.0, 0.37, 1.0, 2.5, 7.123, 15.0, 27.9}) {
    double c = kPi * x, r = x / d.zeroCrossings;
    double want = gain * (x == 0 ? 1.0 : std::sin(c) / c) * bessel_i0(d.beta * std::sqrt(1 - r * r)) / i0;
    EXPECT_NEAR(sinc_coefficient(e, x), want, 2e-6) << x;
  }
  // I0 by its series: I0(0) = 1, I0(1) = 1.2660658777520082.
  EXPECT_DOUBLE_EQ(bessel_i0(0.0), 1.0);
  EXPECT_NEAR(bessel_i0(1.0), 1.2660658777520082, 1e-15);
  sinc_free(e);
}

TEST(ResampleOpenTest, RefusesWhatItCannotBuildInsteadOfExiting) {
  ResamplerState* s = nullptr;
  KaiserDesign wide{0.9f, 90.0f, 1.5f, 0, 0};
  EXPECT_EQ(resample_open(&s, 8000, 16000, 1, 160, 160, 2, 2, &wide), RESAMPLE_CUTOFF_ABOVE_1);
  KaiserDesign tiny{0.9f, 90.0f, 1e-7f, 0, 0};
  EXPECT_EQ(resample_open(&s, 8000, 16000, 1, 160, 160, 2, 2, &tiny), RESAMPLE_ZERO_STEP);
  EXPECT_EQ(resample_open(&s, 8000, 16000, 1, 160, 160, 2, 2, nullptr), RESAMPLE_NO_DESIGN);
  EXPECT_EQ(resample_open(&s, 0, 16000, 1, 160, 160, 2, 1, nullptr), RESAMPLE_BAD_ARGUMENT);
  EXPECT_EQ(resample_open(&s, 8000, 16000, 2, 161, 160, 2, 1, nullptr), RESAMPLE_BAD_ARGUMENT);
  EXPECT_EQ(resample_open(&s, 8000, 16000, 1, 160, 160, 9, 1, nullptr), RESAMPLE_BAD_ARGUMENT);
  EXPECT_EQ(resample_open(&s, 8000, 16000, 1, 160, 160, 2, 5, nullptr), RESAMPLE_BAD_ARGUMENT);
  EXPECT_EQ(s, nullptr);
  // Kind 2 takes roll-off, attenuation and fc from the caller.
  KaiserDesign own{0.9f, 90.0f, 0.45f, 0, 0};
  ASSERT_EQ(resample_open(&s, 16000, 8000, 1, 160, 160, 2, 2, &own), RESAMPLE_OK);
  EXPECT_EQ(s->sinc->design.zeroCrossings, 28);
  EXPECT_EQ(s->sinc->taps, 124);
  resample_close(s);
  resample_close(nullptr);
}

TEST(ResampleSincTest, OutputIsDelayedByTheFilterAndKeepsDcGain) {
  ResamplerState* s = nullptr;
  ASSERT_EQ(resample_open(&s, 16000, 8000, 1, 160, 160, 2, 1, nullptr), RESAMPLE_OK);
  std::vector<float> impulse(1600, 0.0f);
  impulse[0] = 1000.0f;
  std::vector<float> out = resample_all(s, impulse, false);
  ASSERT_GE(out.size(), 700u);
  // The first outputs come from the silent history; the response peaks where
  // output time reaches the impulse: taps - centre input frames later.
  const int taps = s->sinc->taps, centre = s->sinc->centre;
  size_t peak = 0;
  for (size_t i = 0; i < out.size(); ++i)
    if (std::fabs(out[i]) > std::fabs(out[peak])) peak = i;
  EXPECT_NEAR(double(peak), (taps - centre) / 2.0, 1.0);
  EXPECT_EQ(out[0], 0.0f);
  resample_close(s);

  ASSERT_EQ(resample_open(&s, 44100, 8000, 2, 2048, 320, 2, 1, nullptr), RESAMPLE_OK);
  std::vector<float> dc(2 * 44100);
  for (size_t i = 0; i < dc.size(); ++i) dc[i] = i % 2 ? -3000.0f : 3000.0f;
  out = resample_all(s, dc, false);
  for (size_t i = 1000; i < out.size(); i += 2) {
    ASSERT_NEAR(out[i], 0.99 * 3000.0, 3.0) << i;  // gain 0.99 by design
    ASSERT_NEAR(out[i + 1], -0.99 * 3000.0, 3.0) << i;
  }
  resample_close(s);
}

TEST(ResampleSincTest, CountZeroContinuesPendingInputThenDrainsTheTail) {
  // Up-sampling: one input block gives two output blocks.
  ResamplerState* s = nullptr;
  ASSERT_EQ(resample_open(&s, 8000, 16000, 1, 160, 160, 2, 1, nullptr), RESAMPLE_OK);
  int needed, block, produced;
  float *inBuf, *outBuf;
  int blocks = 0;
  for (int call = 0; call < 20; ++call) {
    resample_flush(s, 0, 0, &needed, &block, &inBuf, &outBuf);
    EXPECT_EQ(block, 160);
    if (needed > 0)
      for (int i = 0; i < needed; ++i) inBuf[i] = float(std::sin(0.05 * (call * 160 + i)));
    int r = resample_process(s, needed, &produced, &outBuf);
    if (r == RESAMPLE_OUTPUT_READY) {
      EXPECT_EQ(produced, 160);
      ++blocks;
    } else {
      EXPECT_EQ(produced, 0);
    }
  }
  // 20 calls: every full input block is followed by a call with count 0
  // that yields the next block without new samples.
  EXPECT_GE(blocks, 16);
  // End of input: the tail comes out, then nothing more.
  resample_flush(s, 0, 0, &needed, &block, &inBuf, &outBuf);
  int tail = 0, r;
  do {
    r = resample_process(s, 0, &produced, &outBuf);
    tail += produced;
  } while (r == RESAMPLE_OUTPUT_READY);
  EXPECT_GT(tail, 0);
  EXPECT_EQ(s->endState, 2);
  EXPECT_EQ(resample_process(s, 0, &produced, &outBuf), RESAMPLE_NEED_INPUT);
  EXPECT_EQ(produced, 0);
  resample_close(s);
}

TEST(ResampleSincTest, TotalOutputFollowsTheRateRatio) {
  // 8000 -> 7919 has too many phases to keep their coefficients: every
  // output evaluates the table afresh.
  for (auto rates : {std::pair{44100, 8000}, std::pair{8000, 16000}, std::pair{48000, 44100},
                     std::pair{8000, 7919}}) {
    ResamplerState* s = nullptr;
    ASSERT_EQ(resample_open(&s, rates.first, rates.second, 1, 1024, 1024, 2, 1, nullptr), RESAMPLE_OK);
    EXPECT_EQ(s->sinc->phaseCoefficients == nullptr, rates.second == 7919);
    std::vector<float> in(size_t(rates.first), 1.0f);
    std::vector<float> out = resample_all(s, in, true);
    for (size_t i = 400; i < out.size() / 2; ++i) ASSERT_NEAR(out[i], 0.99f, 2e-3f) << i;
    // Whole blocks of input plus the drained tail of taps frames, in output
    // blocks of 1024.
    const double consumed = double(in.size() - in.size() % 1024 + size_t(s->sinc->taps));
    EXPECT_NEAR(double(out.size()), consumed * rates.second / rates.first, 1024.0)
        << rates.first << " -> " << rates.second;
    resample_close(s);
  }
}

TEST(ResamplePassThroughTest, ModeZeroHandsTheInputBack) {
  ResamplerState* s = nullptr;
  ASSERT_EQ(resample_open(&s, 8000, 8000, 2, 320, 320, 0, 0, nullptr), RESAMPLE_OK);
  int needed, block, produced;
  float *inBuf, *outBuf;
  resample_flush(s, 0, 0, &needed, &block, &inBuf, &outBuf);
  EXPECT_EQ(inBuf, outBuf);
  inBuf[5] = 7.0f;
  resample_process(s, 320, &produced, &outBuf);
  EXPECT_EQ(produced, 320);
  EXPECT_EQ(outBuf[5], 7.0f);
  resample_close(s);
}

}  // namespace

namespace {

// The reported delay is where an impulse comes out, for every mode that
// converts: the input frame i reappears at output frame i * out / in + delay.
TEST(ResampleDelayTest, AnImpulseComesOutAtTheReportedDelay) {
  struct Case {
    int in, out, mode;
  } cases[] = {{44100, 8000, 2}, {8000, 16000, 2}, {16000, 8000, 1}, {48000, 32000, 1}, {8000, 8000, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << " mode " << c.mode);
    ResamplerState* s = nullptr;
    ASSERT_EQ(resample_open(&s, c.in, c.out, 1, 1024, 1024, c.mode, c.mode == 0 ? 0 : 1, nullptr), RESAMPLE_OK);
    const double delay = resample_delay(s);
    if (c.mode == 0) {
      EXPECT_EQ(delay, 0.0);
    }
    // At an input frame that maps onto a whole output frame.
    const int at = 3 * c.in / std::gcd(c.in, c.out) * 10;
    std::vector<float> in(size_t(c.in), 0.0f);
    in[size_t(at)] = 1000.0f;
    std::vector<float> out = resample_all(s, in, false);
    const double expect = double(at) * c.out / c.in + delay;
    ASSERT_GT(out.size(), size_t(expect) + 50);
    size_t peak = 0;
    for (size_t i = 0; i < out.size(); ++i)
      if (std::fabs(out[i]) > std::fabs(out[peak])) peak = i;
    EXPECT_NEAR(double(peak), expect, 0.5);
    // Linear phase: the neighbours of a centred peak match.
    if (delay == std::floor(delay) && c.mode != 0) {
      EXPECT_NEAR(out[peak - 1], out[peak + 1], 1e-3 * out[peak]);
    }
    resample_close(s);
  }
}

}  // namespace
