#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "resamplelib/polyphase.h"
#include "resamplelib/resample.h"

namespace {

std::vector<float> noise(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> d(-1000.0f, 1000.0f);
  std::vector<float> v(n);
  for (float& x : v) x = d(gen);
  return v;
}

TEST(FilterDesignTest, ModeOneDesignFromTheRates) {
  struct Case {
    int in, out;
    double cutoff, transitionShare;
  } cases[] = {{16000, 8000, 0.25, 0.1}, {8000, 12000, 4000.0 / 24000, 0.1}, {48000, 44100, 22050.0 / 7056000, 0.07}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    FilterDesign d{};
    resample_design(&d, c.in, c.out);
    EXPECT_DOUBLE_EQ(d.cutoff, c.cutoff);
    EXPECT_NEAR(d.transition / d.cutoff, c.transitionShare, 0.003);
    EXPECT_EQ(d.attenuation, 80);
    EXPECT_NEAR(d.beta, 0.1102 * (80 - 8.7), 1e-12);
    EXPECT_EQ(d.taps, int((80 - 7.95) / (14.36 * 1.66 * d.transition)) + 1);
  }
  // Given taps, the transition follows from them; 40 dB uses the middle formula.
  FilterDesign d{};
  d.attenuation = 40;
  d.taps = 101;
  polyfilt_design(&d);
  EXPECT_NEAR(d.transition, (40 - 7.95) / (14.36 * 1.66 * 100), 1e-12);
  EXPECT_NEAR(d.beta, 0.5842 * std::pow(19.0, 0.4) + 0.07886 * 19, 1e-12);
}

TEST(FilterDesignTest, WindowAndSinc) {
  for (int taps : {31, 32}) {
    FilterDesign d{};
    std::vector<double> h(static_cast<size_t>(taps)), w(static_cast<size_t>(taps));
    d.gain = 2.0;
    d.attenuation = 60;
    d.cutoff = 0.2;
    d.taps = taps;
    polyfilt_design(&d);
    d.coefficients = h.data();
    polyfilt_window(&d, w.data());
    ASSERT_EQ(polyfilt_sinc(&d), nullptr);
    double sum = 0;
    for (int k = 0; k < taps; ++k) {
      EXPECT_NEAR(w[size_t(k)], w[size_t(taps - 1 - k)], 1e-12);  // symmetric
      EXPECT_NEAR(h[size_t(k)], h[size_t(taps - 1 - k)], 1e-12);
      sum += h[size_t(k)];
    }
    EXPECT_NEAR(sum, 2.0, 1e-12);  // taps sum to the gain
    EXPECT_NEAR(w[0], 1.0 / bessel_i0(d.beta), 1e-6);
    if (taps % 2) {
      EXPECT_NEAR(w[15], 1.0, 1e-12);
    }
  }
  FilterDesign none{};
  ErrorRecord* e = polyfilt_sinc(&none);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "Invalid input parameters");
  error_free(e);
}

TEST(FastConvTest, FiltersAndBuffers) {
  FastConvFilter* f = nullptr;
  const float one[1] = {1};
  ErrorRecord* e = fastconv_create(&f, one, 1, 1024);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "invalid number of filter coefficients");
  error_free(e);
  const float taps[3] = {1, 2, 3};
  ASSERT_EQ(fastconv_create(&f, taps, 3, 0), nullptr);  // direct form keeps the taps
  EXPECT_EQ(f->length, 3);
  EXPECT_EQ(f->data[2], 3.0f);
  fastconv_free(f);
  ASSERT_EQ(fastconv_create(&f, taps, 3, 1024), nullptr);
  EXPECT_FLOAT_EQ(f->data[0], 6.0f);  // X[0]: the sum
  EXPECT_FLOAT_EQ(f->data[1], 2.0f);  // X[512]: the alternating sum
  fastconv_free(f);
  FastConvBuffer* b = nullptr;
  ASSERT_EQ(fastconv_buffer_create(&b, 16), nullptr);
  EXPECT_EQ(b->data[15], 0.0f);
  fastconv_buffer_free(b);
}

// y[n] = L * sum_i h[nM - iL] x[i] over one channel of interleaved input.
double direct(const double* h, int taps, int up, int down, const std::vector<float>& x, int ch, int c, int n) {
  double sum = 0;
  for (int i = 0; i * ch < int(x.size()); ++i) {
    long k = long(n) * down - long(i) * up;
    if (k >= 0 && k < taps) sum += h[k] * x[size_t(i * ch + c)];
  }
  return up * sum;
}

TEST(PolyphaseTest, MatchesTheDirectPolyphaseFormulaAcrossBlocks) {
  struct Case {
    int in, out, channels;
  } cases[] = {{16000, 8000, 1}, {8000, 16000, 2}, {8000, 12000, 1}, {44100, 44100, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out);
    PolyphaseConverter* conv = nullptr;
    ASSERT_EQ(polyphase_create(&conv, c.in, c.out, c.channels), nullptr);
    const int inFrames = polyphase_input_frames(conv), outFrames = polyphase_output_frames(conv);
    std::vector<float> x = noise(size_t(3 * inFrames * c.channels), 3);
    std::vector<float> y(size_t(3 * outFrames * c.channels));
    for (int b = 0; b < 3; ++b)
      polyphase_process(conv, x.data() + size_t(b * inFrames * c.channels), y.data() + size_t(b * outFrames * c.channels));
    int taps, up, down;
    const double* h = polyphase_filter(conv, &taps, &up, &down);
    for (int n = 0; n < 3 * outFrames; n += 7)
      for (int ch = 0; ch < c.channels; ++ch)
        ASSERT_NEAR(y[size_t(n * c.channels + ch)], direct(h, taps, up, down, x, c.channels, ch, n), 0.05) << n;
    polyphase_free(conv);
  }
  PolyphaseConverter* conv = nullptr;
  ErrorRecord* e = polyphase_create(&conv, 44100, 8000, 1);  // 441 * 80 phases
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "Invalid input parameters");
  error_free(e);
}

TEST(PolyphaseTest, ReachableThroughTheInterfaceAsModeOne) {
  ResamplerState* s = nullptr;
  ASSERT_EQ(resample_open(&s, 16000, 8000, 1, 1, 1, 1, 1, nullptr), RESAMPLE_OK);
  int needed, block, produced;
  float *in, *out;
  resample_flush(s, 0, 0, &needed, &block, &in, &out);
  EXPECT_EQ(needed, 2 * block);
  for (int i = 0; i < needed; ++i) in[i] = 100.0f;
  EXPECT_EQ(resample_process(s, needed, &produced, &out), RESAMPLE_OUTPUT_READY);
  EXPECT_EQ(produced, block);
  EXPECT_NEAR(out[block - 1], 100.0f, 0.01f);  // DC passes with gain 1 once the filter is full
  resample_close(s);
  EXPECT_EQ(resample_open(&s, 44100, 8000, 1, 1, 1, 1, 1, nullptr), RESAMPLE_ENGINE_FAILED);
}

TEST(DownSamplerTest, MatchesDirectFormAcrossBlocks) {
  for (int factor : {2, 3}) {
    SCOPED_TRACE(factor);
    DownSampler* ds = nullptr;
    int delay = 0;
    ASSERT_EQ(downsamp_create(&ds, factor, 240, 0.45 / factor, &delay), nullptr);
    int taps;
    const double* h = downsamp_filter(ds, &taps);
    EXPECT_EQ((taps - 1) % (2 * factor), 0);
    EXPECT_EQ(delay, (taps - 1) / 2);
    std::vector<float> x = noise(240 * 4, 8), y(240 * 4 / size_t(factor));
    for (int b = 0; b < 4; ++b) ASSERT_EQ(downsamp_process(ds, x.data() + b * 240, 240, y.data() + b * 240 / factor), nullptr);
    for (size_t n = 0; n < y.size(); ++n) {
      double want = 0;
      for (int k = 0; k < taps; ++k) {
        long i = long(n) * factor - k;
        if (i >= 0) want += h[k] * x[size_t(i)];
      }
      ASSERT_NEAR(y[n], want, 0.01) << n;
    }
    ErrorRecord* e = downsamp_process(ds, x.data(), 241, y.data());
    ASSERT_NE(e, nullptr);
    error_free(e);
    downsamp_free(ds);
  }
}

TEST(InterpolationTest, KernelsAndTheSteppingObject) {
  const float s[4] = {1, 3, 7, 15};
  EXPECT_EQ(interp_kernel(1, 0, 0.7, s, 1), 1.0f);
  EXPECT_FLOAT_EQ(interp_kernel(1, 1, 0.25, s, 1), 1.5f);
  EXPECT_FLOAT_EQ(interp_kernel(0, 2, 0.0, s, 1), 2.0f);   // (s0 + s1) / 2
  EXPECT_FLOAT_EQ(interp_kernel(0, 3, 0.0, s, 1), float(1.0 / 6 + 3 * 2.0 / 3 + 7.0 / 6));
  EXPECT_EQ(interp_kernel(1, 3, 0.5, s, 1), 0.0f);  // no kernel for that pair
  // Weights of each kernel sum to 1: a constant stays constant.
  const float c[4] = {5, 5, 5, 5};
  for (double x : {0.0, 0.3, 0.99}) {
    EXPECT_FLOAT_EQ(interp_kernel(0, 2, x, c, 1), 5.0f);
    EXPECT_FLOAT_EQ(interp_kernel(0, 3, x, c, 1), 5.0f);
  }
  // Linear interpolation of a ramp at 3/2 the rate, over two calls.
  Interpolator* ip = nullptr;
  ASSERT_EQ(interp_create(&ip, 1, 1, 1, 2, 3), nullptr);
  std::vector<float> ramp(40), out(100);
  for (int i = 0; i < 40; ++i) ramp[size_t(i)] = float(i);
  int n = interp_process(ip, ramp.data(), 20, out.data(), 100);
  n += interp_process(ip, ramp.data() + 20, 20, out.data() + n, 100 - n);
  EXPECT_GE(n, 54);
  for (int k = 0; k < n; ++k) ASSERT_NEAR(out[size_t(k)], k * 2.0 / 3.0, 1e-4) << k;
  interp_free(ip);

  // Through the interface as mode 4 (kernel type 1 from the design record),
  // with new rates taken at the query before a call.
  ResamplerState* state = nullptr;
  const KaiserDesign linear{1.0f, 0, 0, 0, 0};
  ASSERT_EQ(resample_open(&state, 2, 3, 1, 20, 64, 4, 4, &linear), RESAMPLE_OK);
  int needed, block, produced;
  float *in, *outBuf;
  resample_flush(state, 2, 3, &needed, &block, &in, &outBuf);
  for (int i = 0; i < needed; ++i) in[i] = float(i);
  EXPECT_EQ(resample_process(state, needed, &produced, &outBuf), RESAMPLE_OUTPUT_READY);
  EXPECT_GE(produced, 25);
  EXPECT_NEAR(outBuf[3], 2.0f, 1e-5f);
  resample_flush(state, 1, 1, &needed, &block, &in, &outBuf);  // now one to one
  for (int i = 0; i < needed; ++i) in[i] = float(20 + i);
  resample_process(state, needed, &produced, &outBuf);
  EXPECT_EQ(produced, 20);
  for (int k = 1; k < produced; ++k) EXPECT_NEAR(outBuf[k] - outBuf[k - 1], 1.0f, 1e-5f) << k;
  resample_close(state);
  EXPECT_EQ(resample_open(&state, 2, 3, 1, 20, 64, 3, 1, nullptr), RESAMPLE_BAD_ARGUMENT);
}

}  // namespace
