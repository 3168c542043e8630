// The SIMD dot products against the plain loop they replace, alone and
// inside the windowed-sinc engine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "../src/polyphase/dot.h"
#include "resamplelib/decimator.h"
#include "resamplelib/resample.h"
#include "signal.h"

namespace {

TEST(DotKernelTest, SimdSumsMatchThePlainLoop) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  for (int channels : {1, 2, 4}) {
    for (int frames = 0; frames <= 90; ++frames) {
      const int count = frames * channels;
      // One float of slack on both sides, and an odd start: the kernels
      // must take unaligned data and read nothing outside [x, x + count).
      std::vector<float> coef(size_t(count) + 1), x(size_t(count) + 2);
      for (float& v : coef) v = d(rng);
      for (float& v : x) v = d(rng) * 30000.0f;
      float want[4], got[4];
      dot_plain(coef.data() + 1, x.data() + 1, count, channels, want);
      double scale = 1.0;
      for (int k = 0; k < count; ++k) scale += std::fabs(double(coef[size_t(k) + 1]) * x[size_t(k) + 1]);
      for (ResampleKernel kernel : {RESAMPLE_KERNEL_SSE2, RESAMPLE_KERNEL_AVX2}) {
        if (dot_kernel_choose(channels, kernel) != kernel) continue;
        dot_kernel(kernel)(coef.data() + 1, x.data() + 1, count, channels, got);
        for (int c = 0; c < channels; ++c)
          ASSERT_NEAR(got[c], want[c], 2e-6 * scale) << "kernel " << kernel << " channels " << channels
                                                     << " frames " << frames << " channel " << c;
      }
    }
  }
  std::printf("fastest kernel here: %d (0 plain, 1 SSE2, 2 AVX2)\n", dot_kernel_choose(1, RESAMPLE_KERNEL_AVX2));
  // Three channels have no lane pattern: the plain loop serves them.
  EXPECT_EQ(dot_kernel_choose(3, RESAMPLE_KERNEL_AVX2), RESAMPLE_KERNEL_PLAIN);
  EXPECT_EQ(dot_kernel_choose(2, RESAMPLE_KERNEL_PLAIN), RESAMPLE_KERNEL_PLAIN);
#if defined(__SSE2__)
  EXPECT_GE(dot_kernel_choose(1, RESAMPLE_KERNEL_AVX2), RESAMPLE_KERNEL_SSE2);
#endif
}

// Whole conversions with every kernel this processor has, against the plain
// loop (one output at a time): the difference stays far below the
// converter's own stop band.
TEST(DotKernelTest, EngineOutputWithEachKernelMatchesThePlainLoop) {
  struct Case {
    int in, out, channels;
  } cases[] = {{44100, 8000, 1}, {11025, 8000, 1}, {44100, 48000, 2}, {48000, 44100, 4}, {8000, 7919, 2},
               {32000, 8000, 3}, {8000, 7919, 1}};
  for (const Case& c : cases) {
    std::vector<float> in(size_t(c.in / 2 * c.channels));
    for (size_t i = 0; i < in.size(); ++i)
      in[i] = float(20000.0 * std::sin(0.013 * double(i / size_t(c.channels)) * (1 + i % size_t(c.channels))));
    auto run = [&](int kernel, int* used) {
      ResamplerState* s = nullptr;
      EXPECT_EQ(resample_open(&s, c.in, c.out, c.channels, 1024 * c.channels, 1024 * c.channels, 2, 1, nullptr),
                RESAMPLE_OK);
      *used = sinc_set_kernel(s->sinc, kernel);
      // Mono with a SIMD kernel and whole groups of phases runs eight
      // outputs at a time (7919 phases do not make whole groups).
      const bool grouped = c.channels == 1 && *used != RESAMPLE_KERNEL_PLAIN && s->sinc->phaseCount % 8 == 0;
      EXPECT_EQ(s->sinc->dot8 != nullptr, grouped);
      std::vector<float> out = resample_all(s, in, true);
      resample_close(s);
      return out;
    };
    int used = 0;
    const std::vector<float> ref = run(RESAMPLE_KERNEL_PLAIN, &used);
    EXPECT_EQ(used, RESAMPLE_KERNEL_PLAIN);
    for (int kernel : {RESAMPLE_KERNEL_SSE2, RESAMPLE_KERNEL_AVX2}) {
      SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << " x" << c.channels << " kernel " << kernel);
      const std::vector<float> got = run(kernel, &used);
      if (c.channels == 3) {
        EXPECT_EQ(used, RESAMPLE_KERNEL_PLAIN);
      }
      ASSERT_EQ(got.size(), ref.size());
      double worst = 0;
      for (size_t i = 0; i < ref.size(); ++i) worst = std::max(worst, std::fabs(double(got[i]) - ref[i]));
      // 120 dB below full scale.
      EXPECT_LT(worst, 32768.0 * 1e-6);
    }
  }
}

// Full-level tones above 4.4 kHz fold into the 8 kHz band; what is left of
// them lies at least 100 dB down (fine steps near the band edge, where the
// side lobes are). The fastest kernel is measured: the test above ties the
// others to it far below that level.
TEST(DotKernelTest, AliasRejectionAboveTheBandIsAtLeast100Db) {
  double at = 0;
  const double nearEdge = worst_alias_rejection_db(4400.0, 5400.0, 20.0, RESAMPLE_KERNEL_AVX2, &at);
  EXPECT_GE(nearEdge, 100.0) << "at " << at << " Hz";
  const double above = worst_alias_rejection_db(5400.0, 22000.0, 610.0, RESAMPLE_KERNEL_AVX2, &at);
  EXPECT_GE(above, 100.0) << "at " << at << " Hz";
  std::printf("alias rejection above 4.4 kHz: at least %.1f dB\n", std::min(nearEdge, above));
}

}  // namespace

// The halving stages ahead of the engine: planned only for large ratios,
// each kernel equal to the plain loop, unity gain.
TEST(DecimatorTest, StagesKernelsAndResponse) {
  struct Plan {
    int in, out, factor;
  } plans[] = {{44100, 8000, 4}, {48000, 8000, 4}, {32000, 8000, 2}, {44100, 22050, 1}, {44100, 48000, 1},
               {24000, 8000, 1}, {16000, 8000, 1}, {11025, 8000, 1}};
  for (const Plan& p : plans) {
    DecimatorChain chain;
    const double lowerNyquist = std::min(p.in, p.out) / 2.0;
    ASSERT_TRUE(chain.Open(p.in, p.out, 2, 0.9 * lowerNyquist, 1.1 * lowerNyquist, 100.0, 160));
    EXPECT_EQ(chain.Factor(), p.factor) << p.in << " -> " << p.out;
  }

  DecimatorChain chain;
  ASSERT_TRUE(chain.Open(44100, 8000, 2, 3600, 4400, 100.0, 160));
  const int frames = 640 * 3;
  std::vector<float> in(size_t(2 * frames));
  uint32_t seed = 7;
  for (float& v : in) {
    seed = seed * 1664525u + 1013904223u;
    v = float(int32_t(seed) >> 16);
  }
  std::vector<float> reference(size_t(2 * frames / 4));
  chain.SetKernel(DecimatorChain::kPlain);
  for (int at = 0; at < frames; at += 640) chain.Process(in.data() + 2 * at, 640, reference.data() + 2 * at / 4);
  for (DecimatorChain::Kernel k : {DecimatorChain::kSse2, DecimatorChain::kAvx2}) {
    chain.Reset();
    const DecimatorChain::Kernel used = chain.SetKernel(k);
    std::vector<float> out(reference.size());
    for (int at = 0; at < frames; at += 640) chain.Process(in.data() + 2 * at, 640, out.data() + 2 * at / 4);
    for (size_t n = 0; n < out.size(); ++n)
      ASSERT_NEAR(out[n], reference[n], 1e-3 * 32768) << "kernel " << used << " sample " << n;
  }

  // DC passes at unity (the delay of a click is checked through the rate
  // converter, which reports the stages' delay with its own).
  chain.Reset();
  std::vector<float> dc(2 * 640, 1000.0f), out(2 * 160);
  for (int i = 0; i < 4; ++i) chain.Process(dc.data(), 640, out.data());
  EXPECT_NEAR(out[0], 1000.0f, 0.01f);
  EXPECT_NEAR(out[2 * 159 + 1], 1000.0f, 0.01f);
  EXPECT_EQ(chain.TailFrames() % chain.Factor(), 0);
}
