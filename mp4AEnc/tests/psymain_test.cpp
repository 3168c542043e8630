#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/psymain.h"

namespace {

AacChannelMap map_for(int channels) {
  AacChannelMap map{};
  EXPECT_EQ(aac_channel_map_build(&map, channels, 0), nullptr);
  return map;
}

TEST(PsyMain, ChannelCountLimits) {
  param_free_all();
  AacChannelMap nine{};
  nine.header.elementCount = 9;
  for (int e = 0; e < 9; ++e) {
    nine.elements[e].kind = kAacSingle;
    nine.elements[e].first = e;
    nine.elements[e].channels = 1;
  }
  PsyMain* psy = nullptr;
  ErrorRecord* err = psymain_create(&psy, 10, 1, 1024, 48000, 640000, 0.0f, &nine, 2);
  ASSERT_NE(err, nullptr);
  EXPECT_STREQ(err->message, "number of channels too large");
  EXPECT_EQ(psy, nullptr);
  error_free(err);
  ASSERT_EQ(psymain_create(&psy, 9, 1, 1024, 48000, 9 * 64000, 0.0f, &nine, 2), nullptr);
  std::vector<float> pcm(9 * 1024, 0.0f);
  psymain_frame(psy, pcm.data());
  psymain_delete(psy);
}

struct Point {
  int bitrate;
  float rate;
  int channels;
};

// The whole model, frame by frame: hostile signals at every point, and the
// pair always agreeing on its block type and grouping.
TEST(PsyMain, HostileSignalsAtEveryPointStayFiniteAndPairsAgree) {
  const Point points[] = {{16000, 22050, 1}, {24000, 24000, 1}, {32000, 22050, 2},
                          {48000, 32000, 2}, {56000, 32000, 2}, {64000, 44100, 2},
                          {96000, 44100, 2}, {112000, 44100, 2}, {128000, 48000, 2},
                          {128000, 44100, 2}};
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-32767.0f, 32767.0f);
  for (const Point& p : points) {
    param_free_all();
    AacChannelMap map = map_for(p.channels);
    PsyMain* psy = nullptr;
    ASSERT_EQ(psymain_create(&psy, p.channels, 1, 1024, p.rate, p.bitrate, 0.0f, &map, 2), nullptr)
        << p.bitrate << " " << p.rate;
    std::vector<float> pcm(size_t(p.channels) * 1024);
    int shortFrames = 0;
    for (int f = 0; f < 16; ++f) {
      const int kind = f / 4;  // silence, full-scale noise, DC, a click
      for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = kind == 0 ? 0.0f : kind == 1 ? u(rng) : kind == 2 ? 32767.0f : 0.0f;
      if (kind == 3 && f == 13) pcm[300] = 32767.0f;
      psymain_frame(psy, pcm.data());
      for (int ch = 0; ch < p.channels; ++ch) {
        const PsyOut& o = psy->chan[ch].out;
        ASSERT_GE(o.blockType, 0);
        ASSERT_LE(o.blockType, 3);
        int windows = 0;
        for (int g = 0; g < o.groups; ++g) windows += o.groupLength[g];
        ASSERT_EQ(windows, o.blockType == 2 ? 8 : 1);
        shortFrames += o.blockType == 2;
        for (int g = 0; g < o.groups; ++g)
          for (int b = 0; b < o.bandsPerWindow; ++b) {
            ASSERT_TRUE(std::isfinite(o.energy[g * kPsyMaxBands + b]));
            ASSERT_TRUE(std::isfinite(o.threshold[g * kPsyMaxBands + b]));
            ASSERT_GT(o.threshold[g * kPsyMaxBands + b], 0.0f);
          }
        for (float v : o.spectrum) ASSERT_TRUE(std::isfinite(v));
      }
      if (p.channels == 2) {
        const PsyOut &l = psy->chan[0].out, &r = psy->chan[1].out;
        ASSERT_EQ(l.blockType, r.blockType);
        ASSERT_EQ(l.groups, r.groups);
        for (int g = 0; g < l.groups; ++g) ASSERT_EQ(l.groupLength[g], r.groupLength[g]);
        ASSERT_EQ(l.maxSfb, r.maxSfb);
      }
    }
    EXPECT_GT(shortFrames, 0) << "the noise onset switches";
    psymain_delete(psy);
  }
}

TEST(PsyMain, LfeIsLongAndZeroFromLine13) {
  param_free_all();
  AacChannelMap map = map_for(6);
  int lfe = -1;
  for (int e = 0; e < map.header.elementCount; ++e)
    if (map.elements[e].kind == kAacLfe) lfe = map.elements[e].first;
  ASSERT_GE(lfe, 0);
  PsyMain* psy = nullptr;
  ASSERT_EQ(psymain_create(&psy, 6, 1, 1024, 48000, 6 * 64000, 0.0f, &map, 2), nullptr);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> u(-20000.0f, 20000.0f);
  std::vector<float> pcm(6 * 1024);
  for (int f = 0; f < 6; ++f) {
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = f == 3 ? u(rng) : 0.0f;  // an onset
    psymain_frame(psy, pcm.data());
    const PsyChan& c = psy->chan[lfe];
    EXPECT_EQ(c.out.blockType, 0);
    for (int k = 13; k < 1024; ++k) ASSERT_EQ(c.mdct[k], 0.0f);
  }
  psymain_delete(psy);
}

TEST(PsyMain, ToneThresholdsBelowItsEnergy) {
  param_free_all();
  AacChannelMap map = map_for(1);
  PsyMain* psy = nullptr;
  ASSERT_EQ(psymain_create(&psy, 1, 1, 1024, 44100, 64000, 0.0f, &map, 2), nullptr);
  std::vector<float> pcm(1024);
  for (int f = 0; f < 8; ++f) {
    for (int i = 0; i < 1024; ++i)
      pcm[size_t(i)] = 10000.0f * std::sin(2.0f * 3.14159265f * 1000.0f * float(f * 1024 + i) / 44100.0f);
    psymain_frame(psy, pcm.data());
  }
  const PsyOut& o = psy->chan[0].out;
  ASSERT_EQ(o.blockType, 0);
  const int band = 10;  // 861-1033 Hz at 44.1 kHz
  EXPECT_GT(10 * std::log10(o.energy[band] / o.threshold[band]), 15.0);
  EXPECT_GT(o.maxSfb, band);
  psymain_delete(psy);
}

}  // namespace
