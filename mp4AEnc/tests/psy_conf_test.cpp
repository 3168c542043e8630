#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/psy_conf.h"
#include "param_front_end.h"
#include "table_file.h"

namespace {

// The filter's nine operating points and the two where the bit stream is
// compared with ffmpeg: total bit/s, sample rate, channels.
struct Point {
  int bitrate;
  float rate;
  int channels;
};
const Point kPoints[] = {{16000, 22050, 1}, {24000, 24000, 1},  {32000, 22050, 2},
                         {48000, 32000, 2}, {56000, 32000, 2},  {64000, 44100, 2},
                         {96000, 44100, 2}, {112000, 44100, 2}, {128000, 48000, 2},
                         {64000, 44100, 2}, {128000, 44100, 2}};

class PsyConfTest : public ::testing::Test {
 protected:
  void SetUp() override { param_free_all(); }
  void TearDown() override {
    psy_conf_delete(conf);
    param_free_all();
  }
  PsyConf* conf = nullptr;
};

TEST_F(PsyConfTest, EveryOperatingPointBuildsAConfiguration) {
  std::printf("%-8s %-6s %-3s %-7s %-8s %-5s %-5s %-6s %-6s %-6s %-5s %-5s\n", "bit/s", "fs", "ch",
              "bw Hz", "coded", "partL", "partS", "tmn", "nmt", "minSnr", "rpel", "low");
  for (const Point& p : kPoints) {
    const int perChannel = p.bitrate / p.channels;
    const int mode = p.channels == 2 ? kModePair : kModeSingle;
    ErrorRecord* err = psy_conf_create(&conf, 1024, p.rate, perChannel, 0.0f, mode, 2);
    ASSERT_EQ(err, nullptr) << p.bitrate << " " << p.rate << ": " << err->message;
    const PsyParam* lp = conf->longParam;
    // About 1.2 to 2.2 bits per coded line, and never past the Nyquist rate.
    const double bitsPerLine = perChannel / (2.0 * lp->bandwidth);
    EXPECT_GT(bitsPerLine, 1.2) << p.bitrate << " " << p.rate;
    EXPECT_LT(bitsPerLine, 2.2) << p.bitrate << " " << p.rate;
    EXPECT_LT(lp->bandwidth, p.rate / 2);
    EXPECT_EQ(conf->shortParam->bandwidth, lp->bandwidth);
    EXPECT_EQ(lp->codedLines, lp->bandwidthLine + 1);
    EXPECT_EQ(lp->thr->chaosLimit, -1.0f);  // the complex MDCT is on by default
    EXPECT_GT(conf->longCb->count, 40);
    EXPECT_LE(conf->longCb->count, kMaxPartitions);
    EXPECT_GT(conf->shortCb->count, 10);
    EXPECT_EQ(conf->longAd->partOffset[conf->longCb->count], 1024);
    EXPECT_EQ(conf->shortAd->partOffset[conf->shortCb->count], 128);
    EXPECT_EQ(conf->srClass, p.rate > 24000 ? 0 : 1);
    std::printf("%-8d %-6.0f %-3d %-7.0f %-8d %-5d %-5d %-6.1f %-6.1f %-6.1f %-5.1f %-5.2f\n",
                p.bitrate, double(p.rate), p.channels, double(lp->bandwidth), lp->codedLines,
                conf->longCb->count, conf->shortCb->count,
                double(lp->thr->snrPerPartition ? -1.0f : lp->thr->tmnScalar),
                double(lp->thr->nmtScalar), double(lp->thr->minSnrBase),
                double(lp->thr->preEchoFactor), double(lp->thr->preEchoLowFactor));
    psy_conf_delete(conf);
    conf = nullptr;
  }
}

TEST_F(PsyConfTest, BandwidthLookupCases) {
  struct Case {
    int blockType, bitrate;
    float rate;
    int mode, highBw;
    float fac, want;
  } cases[] = {
      {0, 28000, 32000, 0, 0, 0, 7500},     // the design's edge case
      {0, 200000, 48000, 0, 0, 0, 0},       // no row
      {0, 5000, 8000, 0, 0, 0, 3437.5f},    // first fixed row
      {2, 15999, 8000, 0, 0, 0, 3437.5f},   // inclusive bound, short column
      {0, 16000, 8000, 0, 0, 0, 0},
      {0, 70000, 48000, 0, 0, 0, 15000},
      {0, 70000, 48000, 0, 1, 0, 16000},    // high-bandwidth column
      {0, 70000, 48000, 0, 1, 50, 24000},   // times 1 + 0.01 * 50
      {0, 70000, 88200, 1, 0, 0, 15000},
      {4, 70000, 48000, 0, 0, 0, 0},        // block type above 3
      {0, 16000, 22050, 1, 0, 0, 5250},
      {0, 24000, 24000, 1, 0, 0, 8000},
      {0, 16000, 22050, 0, 0, 0, 5250},
  };
  for (const Case& c : cases)
    EXPECT_EQ(bandwidth_lookup(c.blockType, c.bitrate, c.rate, c.mode, c.highBw, c.fac), c.want)
        << c.bitrate << " " << c.rate << " mode " << c.mode;
  EXPECT_EQ(bandwidth_lookup_low_delay(0, 64000, 48000, 0), 0.0f);
}

TEST_F(PsyConfTest, ThresholdSetLookupKeepsTheFixedWordPositions) {
  ThrParamSet* plain = thr_param_lookup(0, 64000, 0, 0, 0);
  ThrParamSet* cmdct = thr_param_lookup(0, 64000, 0, 1, 0);
  ThrParamSet* pair = thr_param_lookup(0, 64000, 0, 0, 1);
  ThrParamSet* single = thr_param_lookup(0, 64000, 1, 0, 1);
  ThrParamSet* shortSet = thr_param_lookup(2, 64000, 0, 0, 0);
  ASSERT_TRUE(plain && cmdct && pair && single && shortSet);
  float words[123];
  std::memcpy(words, cmdct, sizeof words);
  EXPECT_EQ(words[59], -1.0f);
  std::memcpy(words, plain, sizeof words);
  EXPECT_EQ(words[59], 1.0f);
  // The table at word 60 holds the per-Bark percentages.
  int pct[25];
  std::memcpy(pct, reinterpret_cast<const char*>(plain) + 60 * 4, sizeof pct);
  EXPECT_EQ(pct[0], plain->chaosDefaultPct[0]);
  EXPECT_EQ(std::memcmp(plain, cmdct, 59 * 4), 0);
  EXPECT_EQ(pair->tmnScalar, plain->tmnScalar - 2);
  EXPECT_EQ(single->tmnScalar, plain->tmnScalar - 1);
  EXPECT_GT(shortSet->quietOffsetDb, plain->quietOffsetDb);
  for (ThrParamSet* s : {plain, cmdct, pair, single, shortSet}) std::free(s);
  EXPECT_EQ(thr_param_lookup(4, 64000, 0, 0, 0), nullptr);
  EXPECT_EQ(thr_param_lookup(0, 4999, 0, 0, 0), nullptr);
  EXPECT_EQ(thr_param_lookup_low_delay(0, 64000, 0, 0), nullptr);
}

// The quiet table is the minimum of Terhardt's curve within each Bark.
TEST_F(PsyConfTest, QuietTableFollowsItsFormula) {
  ThrParamSet* set = thr_param_lookup(0, 64000, 0, 0, 0);
  ASSERT_NE(set, nullptr);
  auto barkOf = [](double f) {
    const double a = std::atan(f / 7500.0);
    return 13.3 * std::atan(0.00076 * f) + 3.5 * a * a;
  };
  for (int z = 0; z < 25; ++z) {
    double best = 1e9;
    for (double f = 1.0; f < 24000.0; f += 1.0) {
      const double b = barkOf(f);
      if (b < z || b >= z + 1) continue;
      const double k = f / 1000.0;
      const double tq = 3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) +
                        1e-3 * k * k * k * k;
      best = std::min(best, tq);
    }
    EXPECT_NEAR(set->quietDb[z], best, 0.06) << "Bark " << z;
  }
  std::free(set);
}

TEST_F(PsyConfTest, BandSetsComeFromTheSharedTables) {
  SfbParamSet* lng = sfbOffsetFreq(0, 44100, 1024);
  SfbParamSet* shrt = sfbOffsetFreq(2, 44100, 1024);
  ASSERT_TRUE(lng && shrt);
  const std::vector<double> want = table_column("swb_offset_long_48k", 1);
  ASSERT_EQ(lng->numBands + 1, int(want.size()));
  for (int i = 0; i <= lng->numBands; ++i) EXPECT_EQ(lng->offsets[i], int(want[size_t(i)]));
  EXPECT_EQ(shrt->numBands, 14);
  EXPECT_EQ(shrt->lines, 128);
  std::free(lng);
  std::free(shrt);
  EXPECT_EQ(sfbOffsetFreq(0, 44100, 960), nullptr);
  EXPECT_EQ(sfbOffsetFreq(0, 44000, 1024), nullptr);
  EXPECT_EQ(sfbOffsetFreq(4, 44100, 1024), nullptr);
  // Every rate of the standard's list has its tables.
  const std::vector<double> rates = table_column("swb_table_by_rate", 1);
  const std::vector<double> longCount = table_column("swb_table_by_rate", 2);
  for (size_t i = 0; i < rates.size(); ++i) {
    SfbParamSet* s = sfbOffsetFreq(0, float(rates[i]), 1024);
    ASSERT_NE(s, nullptr) << rates[i];
    EXPECT_EQ(s->numBands, int(longCount[i]));
    EXPECT_EQ(s->offsets[s->numBands], 1024);
    std::free(s);
  }
}

TEST_F(PsyConfTest, BuildFailuresNameTheMissingSet) {
  struct Case {
    int frameLength;
    float rate;
    int bitrate, mode, aot;
    const char* message;
  } cases[] = {
      {960, 48000, 64000, 0, 2, "error initializing sfbParam"},
      {1024, 48000, 4000, 0, 2, "error initializing thrParam"},
      {1024, 48000, 64000, 0, 23, "error initializing thrParam"},  // low delay: no tables
      {1024, 48000, 200000, 0, 2,
       "error initializing codParam: no parameter set found for this combination of bit rate "
       "(200000) , sample rate (48000) and channel mode (0)"},
  };
  for (const Case& c : cases) {
    ErrorRecord* err = psy_conf_create(&conf, c.frameLength, c.rate, c.bitrate, 0.0f, c.mode, c.aot);
    ASSERT_NE(err, nullptr) << c.message;
    EXPECT_STREQ(err->message, c.message);
    EXPECT_STREQ(err->file, "psyparam");
    EXPECT_EQ(error_trace_count(err), 1);  // psy_conf adds its line
    EXPECT_EQ(conf, nullptr);
    error_free(err);
  }
}

TEST_F(PsyConfTest, CallerBandwidthAndBwParameterWin) {
  ASSERT_EQ(psy_conf_create(&conf, 1024, 48000, 200000, 12000.0f, 0, 2), nullptr);
  EXPECT_EQ(conf->longParam->bandwidth, 12000.0f);
  EXPECT_EQ(conf->longParam->bandwidthLine, 512);
  psy_conf_delete(conf);
  conf = nullptr;
  configure_params({"-bw 6000", "-noCmdct", "-cst 2"});
  ASSERT_EQ(psy_conf_create(&conf, 1024, 48000, 64000, 0.0f, 0, 2), nullptr);
  EXPECT_EQ(conf->longParam->bandwidth, 6000.0f);
  EXPECT_EQ(conf->longParam->codedLines, 257);
  EXPECT_EQ(conf->shortParam->codedLines, 33);
  EXPECT_EQ(conf->complexMdct, 0);
  EXPECT_EQ(conf->longParam->thr->chaosLimit, 1.0f);
  EXPECT_EQ(conf->cst, 2);
}

TEST_F(PsyConfTest, PartitionsAt48kHzSpanAThirdOfABarkUpTo24) {
  ASSERT_EQ(psy_conf_create(&conf, 1024, 48000, 64000, 0.0f, 0, 2), nullptr);
  for (const CbParam* cb : {conf->longCb, conf->shortCb}) {
    const int n = cb == conf->longCb ? 1024 : 128;
    int line = 0;
    for (int i = 0; i < cb->count; ++i) {
      ASSERT_EQ(cb->first[i], line);
      const float span = bark(n, line + cb->width[i], 48000) - bark(n, line, 48000);
      if (i + 1 < cb->count) {
        EXPECT_GT(span, 1.0f / 3.0f) << i;
      }
      EXPECT_LE(cb->centre[i], 24.0f);
      if (i) {
        EXPECT_GE(cb->centre[i], cb->centre[i - 1]);
      }
      EXPECT_GT(cb->quiet[i], 0.0f);
      EXPECT_GT(cb->norm[i], 0.0f);
      line += cb->width[i];
    }
    EXPECT_EQ(line, n);
    EXPECT_EQ(cb->endLine, n);
    EXPECT_EQ(cb->centre[cb->count - 1], 24.0f);
    // The fixed range and the Bark-linear limit.
    EXPECT_EQ(cb->minSnr[0], 0.0f);
    EXPECT_GE(cb->minSnr[cb->count - 1], 0.0f);
  }
  // Chaos measured up to 4800 Hz: 4800 / 23.4375 = 204.8 lines.
  int end = 0;
  for (int i = 0; i < conf->longCb->countChaos; ++i) end += conf->longCb->width[i];
  EXPECT_LE(end, 205);
  EXPECT_GT(end + conf->longCb->width[conf->longCb->countChaos], 205);
  EXPECT_EQ(conf->longParam->limitLine[0], 205);
  // Each short partition maps onto the long partition at its frequency.
  for (int i = 0; i < conf->shortCb->count; ++i)
    EXPECT_GE(conf->longAd->partOffset[conf->shortToLong[i]], 8 * conf->shortCb->first[i]);
}

TEST_F(PsyConfTest, BandPartitionsRefuseMoreThanMaxCb) {
  ThrParamSet* thr = thr_param_lookup(0, 64000, 0, 0, 0);
  auto* sfb = static_cast<SfbParamSet*>(std::calloc(1, sizeof(SfbParamSet)));
  PsyParam p{};
  p.sampleRate = 48000;
  p.lines = 1024;
  p.sfb = sfb;
  p.thr = thr;
  p.limitLine[0] = p.limitLine[1] = 1024;
  // The standard's bands at 48 kHz split into fewer than 115 partitions.
  SfbParamSet* real = sfbOffsetFreq(0, 48000, 1024);
  *sfb = *real;
  CbParam* cb = nullptr;
  ASSERT_EQ(cb_param_create(&cb, &p, 1, 0), nullptr);
  int line = 0;
  for (int i = 0; i < cb->count; ++i) line += cb->width[i];
  EXPECT_EQ(line, 1024);
  cb_param_free(cb);
  // Bands of 37 lines: a prime width wider than a third of a Bark can only
  // split into single lines, so four bands already make 148 partitions.
  sfb->numBands = 28;
  for (int i = 0; i <= 28; ++i) sfb->offsets[i] = i == 28 ? 1024 : 37 * i;
  sfb->lines = 1024;
  ErrorRecord* err = cb_param_create(&cb, &p, 1, 0);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "MAX_CB too small");
  EXPECT_EQ(cb, nullptr);
  error_free(err);
  err = cb_param_create(&cb, nullptr, 0, 0);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "invalid function parameters");
  error_free(err);
  AdParam* ad = nullptr;
  err = ad_param_create(&ad, &p, nullptr);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "invalid function parameters");
  error_free(err);
  std::free(real);
  std::free(sfb);
  std::free(thr);
}

TEST_F(PsyConfTest, SpreadingFunctionShape) {
  const float barks[3] = {10.0f, 10.0f, 11.0f};
  // At the masker: 15.811 + 7.5 * 0.474 - 17.5 * sqrt(1 + 0.474^2) = -0.0006 dB.
  EXPECT_NEAR(cb_spreading(0, 1, barks, 0, 0, 3.0f, 1.5f), 1.0, 1e-3);
  // One Bark up, scaled by 1.5, with the masking term 8 * (1 - 2) = -8 dB.
  const double dz = 1.5, v = dz + 0.474;
  const double y = 15.811 + 7.5 * v - 17.5 * std::sqrt(1.0 + v * v);
  EXPECT_NEAR(cb_spreading(0, 2, barks, 0, 0, 3.0f, 1.5f), std::pow(10.0, (y - 8.0) / 10.0), 1e-6);
  EXPECT_NEAR(cb_spreading(0, 2, barks, 0, 1, 3.0f, 1.5f), std::pow(10.0, y / 10.0), 1e-6);
  // Downwards: noLower gives 0; else the steep side.
  EXPECT_EQ(cb_spreading(2, 0, barks, 1, 0, 3.0f, 1.5f), 0.0f);
  EXPECT_LT(cb_spreading(2, 0, barks, 0, 0, 3.0f, 1.5f), 1e-3f);
}

}  // namespace
