#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/tool_params.h"
#include "table_file.h"

namespace {

TEST(IntensityParams, LookupCases) {
  struct Case {
    int mode;
    unsigned bitrate;
    float rate;
    bool found;
    float f0;  // third word of the set taken
  } cases[] = {
      {0, 16000, 15999.5f, false, 0},  // the float ranges leave a gap
      {0, 16000, 32000, true, 3000},   // row 2
      {2, 16000, 32000, true, 3000},
      {2, 40000, 44100, true, 6500},   // set B of row 4
      {3, 40000, 44100, true, 4500},
      {4, 40000, 44100, false, 0},
      {0, 256001, 48000, false, 0},
      {1, 256000, 48000, true, 10000},
  };
  for (const Case& c : cases) {
    IsParam p{};
    ErrorRecord* err = is_param_lookup(&p, c.mode, c.bitrate, c.rate);
    EXPECT_EQ(err == nullptr, c.found) << c.bitrate << " " << c.rate;
    if (err) {
      EXPECT_STREQ(err->message,
                   "no Intensity parameter set for given bitrate/sampling rate combination");
      EXPECT_EQ(err->line, 98);
      error_free(err);
      continue;
    }
    EXPECT_EQ(p.f0, c.f0);
    EXPECT_EQ(p.w0, c.mode == 2 ? 200 : 120);
  }
}

TEST(TnsParams, LookupCases) {
  const AudioObject lc{1, 2}, t19{1, 19};
  TnsParam p{};
  p.order = -7;
  EXPECT_EQ(tns_param_lookup(0, 320001, &p, lc), 6);  // no row: the row count, nothing copied
  EXPECT_EQ(p.order, -7);
  EXPECT_EQ(tns_param_lookup(0, 12000, &p, t19), 3);
  EXPECT_EQ(p.order, -7);
  EXPECT_EQ(tns_param_lookup(2, 64000, &p, lc), 5);  // mode 2 copies nothing
  EXPECT_EQ(p.order, -7);
  EXPECT_EQ(tns_param_lookup(0, 12000, &p, lc), 0);
  EXPECT_EQ(p.order, 12);
  EXPECT_EQ(p.lpcStartLong, 1800);
  EXPECT_EQ(p.lpcStopShort, 16000);
  EXPECT_EQ(tns_param_lookup(1, 12000, &p, lc), 0);
  EXPECT_EQ(p.order, 15);
  EXPECT_EQ(tns_param_lookup(5, 30000, &p, lc), 3);
  EXPECT_EQ(p.order, 20);
  EXPECT_EQ(p.maxTimeLong, 0.5f);
  EXPECT_EQ(p.maskOptions, 3);
  EXPECT_EQ(tns_param_lookup(0, 30000, &p, t19), 1);
  EXPECT_EQ(p.maskOptions, 1);
  EXPECT_EQ(tns_param_lookup(0, 30000, nullptr, lc), 3);
}

TEST(TnsParams, MaxBandsFollowTheSharedTables) {
  const std::vector<double> rates = table_column("tns_max_bands", 1);
  const std::vector<double> longs = table_column("tns_max_bands", 2);
  const std::vector<double> shorts = table_column("tns_max_bands", 3);
  ASSERT_EQ(rates.size(), 13u);
  for (size_t i = 0; i < rates.size(); ++i) {
    int l = 0, s = 0;
    tns_max_bands(int(rates[i]), AudioObject{1, 2}, 1024, &l, &s);
    EXPECT_EQ(l, int(longs[i]));
    EXPECT_EQ(s, int(shorts[i]));
  }
  int l = 0, s = 0;
  tns_max_bands(44100, AudioObject{1, 3}, 1024, &l, &s);  // SSR: no columns
  EXPECT_EQ(l, -1);
  EXPECT_EQ(s, -1);
  tns_max_bands(44100, AudioObject{0, 2}, 1024, &l, &s);  // MPEG-2 SSR profile
  EXPECT_EQ(l, -1);
  tns_max_bands(44000, AudioObject{1, 2}, 1024, &l, &s);  // unlisted rate
  EXPECT_EQ(l, -1);
  const std::vector<double> ldRates = table_column("tns_max_bands_ld", 1);
  const std::vector<double> ld512 = table_column("tns_max_bands_ld", 3);
  for (size_t i = 0; i < ldRates.size(); ++i) {
    tns_max_bands(int(ldRates[i]), AudioObject{1, 19}, 512, &l, &s);
    EXPECT_EQ(l, int(ld512[i]));
    EXPECT_EQ(s, -1);
  }
  int lo = 0, so = 0;
  tns_max_order(AudioObject{1, 2}, &lo, &so);
  EXPECT_EQ(lo, 12);
  EXPECT_EQ(so, 7);
  tns_max_order(AudioObject{1, 4}, &lo, &so);
  EXPECT_EQ(lo, 12);
  tns_max_order(AudioObject{1, 1}, &lo, &so);
  EXPECT_EQ(lo, 20);
}

}  // namespace
