#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/thr_blocks.h"

namespace {

// Three spectra of a line whose phase turns by `step` per block and whose
// magnitude follows `mags` (oldest first), plus faint noise elsewhere.
struct Spectra {
  std::vector<float> s[3];
  Spectra(int n, int line, float step, const float mags[3]) {
    for (int b = 0; b < 3; ++b) {
      s[b].assign(size_t(2 * n), 0.0f);
      s[b][size_t(2 * line)] = mags[b] * std::cos(step * b);
      s[b][size_t(2 * line + 1)] = mags[b] * std::sin(step * b);
    }
  }
};

TEST(ChaosMeasure, PredictableToneIsZeroAndSilenceTakesTheDefault) {
  const int n = 16;
  const float linear[3] = {100, 200, 300}, geometric[3] = {100, 200, 400};
  struct Case {
    int method;
    const float* mags;
  } cases[] = {{0, linear}, {1, geometric}, {4, linear}};
  for (const Case& c : cases) {
    Spectra sp(n, 5, 0.7f, c.mags);
    std::vector<float> out(n, -1.0f);
    ASSERT_EQ(CalculateChaosMeasure(sp.s[0].data(), sp.s[1].data(), sp.s[2].data(), n, 0, 0.4f,
                                    c.method, out.data()),
              nullptr);
    EXPECT_NEAR(out[5], 0.0f, 1e-5) << "method " << c.method;
    for (int k = 0; k < n; ++k) {
      if (k != 5) {
        EXPECT_EQ(out[size_t(k)], 0.4f) << "method " << c.method << " line " << k;
      }
    }
  }
  // The wrong magnitude rule or a broken phase is not predictable.
  Spectra sp(n, 5, 0.7f, geometric);
  std::vector<float> out(n);
  CalculateChaosMeasure(sp.s[0].data(), sp.s[1].data(), sp.s[2].data(), n, 0, 0.4f, 0, out.data());
  EXPECT_NEAR(out[5], 100.0 / 700.0, 1e-5);  // |400 - 300| / (400 + 300)
  sp.s[2][10] = -sp.s[2][10];
  sp.s[2][11] = -sp.s[2][11];
  CalculateChaosMeasure(sp.s[0].data(), sp.s[1].data(), sp.s[2].data(), n, 0, 0.4f, 1, out.data());
  EXPECT_NEAR(out[5], 1.0f, 1e-5);  // opposite phase: |X - X'| = |X| + |X'|
}

TEST(ChaosMeasure, PeakinessAlongFrequency) {
  const int n = 32;
  std::vector<float> cur(2 * n, 0.0f), out(n, -1.0f);
  cur[2 * 10] = 1000.0f;  // a single peak line
  for (int method : {2, 3}) {
    ASSERT_EQ(CalculateChaosMeasure(nullptr, nullptr, cur.data(), n, 0, 0.4f, method, out.data()),
              nullptr);
    EXPECT_EQ(out[10], 0.0f) << method;
    EXPECT_EQ(out[12], 1.0f) << method;
    EXPECT_EQ(out[8], 1.0f) << method;
    EXPECT_EQ(out[0], out[2]);
    EXPECT_EQ(out[n - 1], (out[n - 6] + out[n - 5] + out[n - 4]) / 3.0f);
  }
  // Method 4 keeps the smaller of methods 2 and 0 below nLimit.
  std::vector<float> zero(2 * n, 0.0f);
  ASSERT_EQ(CalculateChaosMeasure(zero.data(), zero.data(), cur.data(), n, 12, 0.4f, 4, out.data()),
            nullptr);
  EXPECT_EQ(out[10], 0.0f);  // method 0 alone gives the default 0.4 here
  EXPECT_EQ(out[20], 0.4f);
}

TEST(ChaosMeasure, UnknownMethodAnswersARecord) {
  std::vector<float> cur(8, 1.0f), out(4, -1.0f);
  ErrorRecord* err = CalculateChaosMeasure(cur.data(), cur.data(), cur.data(), 4, 0, 0.4f, 5,
                                           out.data());
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "CalculateChaosMeasure() called with unknown chaos method");
  EXPECT_EQ(out[0], -1.0f);
  error_free(err);
}

class PartitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    param_free_all();
    ASSERT_EQ(psy_conf_create(&conf, 1024, 44100, 64000, 0.0f, 0, 2), nullptr);
    cb = conf->longCb;
  }
  void TearDown() override { psy_conf_delete(conf); }
  PsyConf* conf = nullptr;
  const CbParam* cb = nullptr;
};

TEST_F(PartitionTest, EnergySpreadAndTonality) {
  std::mt19937 rng(4);
  std::uniform_real_distribution<float> u(-100.0f, 100.0f), c(0.0f, 1.0f);
  std::vector<float> spectrum(2048), chaos(1024);
  for (float& v : spectrum) v = u(rng);
  for (float& v : chaos) v = c(rng);
  const int n = cb->count;
  std::vector<float> e(static_cast<size_t>(n)), w(static_cast<size_t>(n)), se(static_cast<size_t>(n)), sw(static_cast<size_t>(n)), t(static_cast<size_t>(n));
  partition_energy(spectrum.data(), chaos.data(), n, cb->countChaos, cb->width, cb->chaosDefault,
                   e.data(), w.data());
  int line = 0;
  for (int p = 0; p < n; ++p) {
    double want = 0.0, weighted = 0.0;
    for (int k = 0; k < cb->width[p]; ++k, ++line) {
      const double x = double(spectrum[size_t(2 * line)]) * spectrum[size_t(2 * line)] +
                       double(spectrum[size_t(2 * line + 1)]) * spectrum[size_t(2 * line + 1)];
      want += x;
      weighted += x * chaos[size_t(line)];
    }
    ASSERT_NEAR(e[size_t(p)], want, 1e-4 * want);
    const double wantW = p < cb->countChaos ? weighted : want * 0.4;
    ASSERT_NEAR(w[size_t(p)], wantW, 1e-4 * wantW) << p;
  }
  partition_spread(e.data(), w.data(), n, cb, se.data(), sw.data());
  for (int i = 0; i < n; i += 7) {
    double want = 0.0;
    for (int j = 0; j < n; ++j) {
      const float s = cb_spreading(j, i, cb->centre, 0, 0, 3.0f, 1.5f);
      if (s >= 0.00001f) want += double(s) * e[size_t(j)];
    }
    EXPECT_NEAR(se[size_t(i)], want, 1e-4 * want) << i;
  }
  partition_log_ratio(se.data(), sw.data(), n, t.data());
  for (float v : t) {
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1.0f);
  }
  // The clamps: a ratio of 1 is noise (0), of 0 tonal (1), no energy noise.
  const float en[3] = {10, 10, 0}, we[3] = {10, 0, 0};
  float out[3];
  partition_log_ratio(en, we, 3, out);
  EXPECT_NEAR(out[0], 0.0f, 1e-6);
  EXPECT_NEAR(out[1], 1.0f, 1e-6);
  EXPECT_NEAR(out[2], 0.0f, 1e-6);
}

TEST_F(PartitionTest, SignalToMaskForms) {
  const int n = cb->count;
  std::vector<float> energy(static_cast<size_t>(n), 1e9f), quiet(static_cast<size_t>(n), 0.0f), thr(static_cast<size_t>(n));
  std::vector<float> tonal(static_cast<size_t>(n), 1.0f), noisy(static_cast<size_t>(n), 0.0f);
  ThrParamSet set = *conf->longParam->thr;
  set.snrPerPartition = 0;  // scalar tmn and nmt first
  SmrState st{cb, &set, quiet.data()};
  smr_from_tonality(&st, tonal.data(), energy.data(), set.nmtScalar, thr.data());
  for (int i = 0; i < cb->countSnr; ++i) {
    const double snr = std::max(double(cb->minSnr[i]), double(set.tmnScalar));
    EXPECT_NEAR(thr[size_t(i)], 1e9 * cb->norm[i] * std::pow(10.0, -snr / 10), 1e-3 * thr[size_t(i)])
        << i;
  }
  for (int i = cb->countSnr; i < n; ++i) EXPECT_NEAR(thr[size_t(i)], 1e9f * cb->norm[i], 1e3f);
  smr_from_tonality(&st, noisy.data(), energy.data(), 6.0f, thr.data());
  const int low = 20;  // well below the counted partitions, minimum SNR above 6
  EXPECT_NEAR(thr[low], 1e9 * cb->norm[low] * std::pow(10.0, -cb->minSnr[low] / 10),
              1e-3 * thr[low]);
  std::vector<float> fixed(static_cast<size_t>(n));
  smr_fixed(&st, energy.data(), 6.0f, fixed.data());
  EXPECT_EQ(fixed[low], thr[low]);
  // Per-partition values when the set asks for them.
  set.snrPerPartition = 1;
  smr_from_tonality(&st, tonal.data(), energy.data(), 0.0f, thr.data());
  const int high = cb->countSnr - 1;
  EXPECT_NEAR(thr[size_t(high)],
              1e9 * cb->norm[high] * std::pow(10.0, -std::max(double(cb->minSnr[high]),
                                                              double(cb->tmn[high])) / 10),
              1e-3 * thr[size_t(high)]);
  // The quiet threshold is a floor.
  std::fill(quiet.begin(), quiet.end(), 1e12f);
  smr_fixed(&st, energy.data(), 6.0f, thr.data());
  for (float v : thr) EXPECT_EQ(v, 1e12f);
}

TEST(ThresholdLimits, PreEchoClampAndShortCaps) {
  struct Case {
    float nb, prev, quiet, want;
  } cases[] = {
      {100, 1000, 1e9f, 100},  // no limit reached
      {100, 10, 1e9f, 20},     // at most twice the previous block
      {100, 1, 1e9f, 10},      // never below a tenth of itself
      {100, 1000, 5, 50},      // ten times the quiet threshold caps it
  };
  for (const Case& c : cases) {
    float out;
    pre_echo_limit(&c.nb, &c.prev, 2.0f, 10.0f, &c.quiet, 0.1f, 1, &out);
    EXPECT_EQ(out, c.want) << c.nb << " " << c.prev;
  }
  float v[4] = {0.2f, 0.9f, 0.95f, 0.5f};
  clamp_to_one(v, 2, 2, 0.1f);
  EXPECT_EQ(v[2], 0.95f);
  clamp_to_one(v, 0, 4, 0.8f);
  EXPECT_EQ(v[0], 0.2f);
  EXPECT_EQ(v[1], 1.0f);
  EXPECT_EQ(v[2], 1.0f);
  EXPECT_EQ(v[3], 0.5f);
  // Long values over two short lines, capped by the mean of 8 windows.
  std::vector<std::vector<float>> w(8, std::vector<float>{0.5f, 0.1f});
  w[0][0] = 0.9f;  // mean of line 0: (0.9 + 7 * 0.5) / 8 = 0.55
  const float* rows[8];
  for (int i = 0; i < 8; ++i) rows[i] = w[size_t(i)].data();
  std::vector<float> lng(16, 0.7f);
  short_threshold_cap(lng.data(), rows, 16, 8, 0, 8);
  EXPECT_NEAR(lng[0], 0.55f, 1e-6);
  EXPECT_NEAR(lng[15], 0.1f, 1e-6);
  // A short window's ratio above the long one is brought down to it.
  std::vector<float> thr(8, 50.0f), ref(8, 100.0f);
  thr[3] = 10.0f;
  float* tw[8];
  const float* rw[8];
  for (int i = 0; i < 8; ++i) tw[i] = &thr[size_t(i)], rw[i] = &ref[size_t(i)];
  short_window_limit(0, 20.0f, 100.0f, tw, rw);
  EXPECT_NEAR(thr[0], 20.0f, 1e-3);
  EXPECT_EQ(thr[3], 10.0f);
}

TEST_F(PartitionTest, PartitionValuesOntoBands) {
  const int n = cb->count;
  std::vector<float> energy(static_cast<size_t>(n));
  for (int p = 0; p < n; ++p) energy[size_t(p)] = float(cb->width[p]);  // one per line
  const SfbParamSet* sfb = conf->longParam->sfb;
  std::vector<float> bands(static_cast<size_t>(sfb->numBands)), ratio(static_cast<size_t>(sfb->numBands));
  band_from_partitions(energy.data(), cb, sfb->offsets, sfb->numBands, 1.0f, bands.data());
  for (int b = 0; b < sfb->numBands; ++b)
    EXPECT_NEAR(bands[size_t(b)], sfb->widths[b] + 1e-7, 1e-3) << b;
  band_min_ratio(energy.data(), cb, sfb->offsets, sfb->numBands, 1.0f, ratio.data());
  for (float r : ratio) EXPECT_FLOAT_EQ(r, 1.0f);
}

TEST(ThresholdLimits, BandStationarity) {
  FloatFifo* fifo = nullptr;
  ASSERT_EQ(fifo_create(&fifo, 24, 256), nullptr);
  std::vector<float> slot(256, 10.0f);
  for (int i = 0; i < 24; ++i) fifo_push(fifo, slot.data());
  const int widths[2] = {512, 512};
  float out[2];
  band_stationarity(fifo, 2, widths, 100.0f, 1024, out);
  EXPECT_FLOAT_EQ(out[0], 1.0f);  // steady: smallest equals the mean
  // One loud window among the eight lowers the weight of both bands.
  float* loud = fifo_get(fifo, 15);
  for (int i = 0; i < 256; ++i) loud[i] = 1000.0f;
  band_stationarity(fifo, 2, widths, 100.0f, 1024, out);
  EXPECT_LT(out[0], 0.5f);
  EXPECT_GE(out[0], 0.1f);
  fifo_free(fifo);
}

}  // namespace
