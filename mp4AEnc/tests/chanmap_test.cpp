// The channel element map and the sampling frequency index.
#include <gtest/gtest.h>

#include <string>

#include "mp4aenc/chanmap.h"

namespace {

struct MapCase {
  int channels;
  int configuration;
  std::string elements;  // kind and tag per element: S0 = single 0, P1 = pair 1, L0 = LFE 0
};

std::string Describe(const AacChannelMap& map) {
  std::string s;
  int channel = 0;
  for (int e = 0; e < map.header.elementCount; ++e) {
    const AacChannelElement& el = map.header.elements[e];
    s += "SPCL"[el.kind];
    s += char('0' + el.tag);
    // Channels are numbered in element order.
    EXPECT_EQ(el.first, channel++);
    if (el.kind == kAacPair) {
      EXPECT_EQ(el.second, channel++);
    }
  }
  EXPECT_EQ(channel, map.header.channels);
  return s;
}

TEST(ChannelMap, LayoutsByChannelCount) {
  const MapCase cases[] = {{1, 1, "S0"},         {2, 2, "P0"},         {3, 3, "S0P0"},
                           {4, 4, "S0P0S1"},     {5, 5, "S0P0P1"},     {6, 6, "S0P0P1L0"},
                           {8, 7, "S0P0P1P2L0"}};
  for (const MapCase& c : cases) {
    AacChannelMap map;
    ASSERT_EQ(aac_channel_map_build(&map, c.channels, 0), nullptr) << c.channels;
    EXPECT_EQ(Describe(map), c.elements) << c.channels;
    EXPECT_EQ(map.header.configuration, c.configuration);
    EXPECT_EQ(map.header.firstIsPair, c.channels == 2);
  }
}

TEST(ChannelMap, RefusesSevenOrMoreThanEightChannelsAndNoMap) {
  for (int channels : {0, 7, 9, -1}) {
    AacChannelMap map;
    ErrorRecord* e = aac_channel_map_build(&map, channels, 0);
    ASSERT_NE(e, nullptr) << channels;
    EXPECT_STREQ(e->message, "this number of channels is not supported");
    error_free(e);
  }
  ErrorRecord* e = aac_channel_map_build(nullptr, 2, 0);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "null pointer");
  error_free(e);
}

TEST(ChannelMap, DefaultSwitches) {
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, 3, 1), nullptr);
  const AacChannelElement& single = map.elements[0];
  const AacChannelElement& pair = map.elements[1];
  EXPECT_EQ(single.left.tns, 1);
  EXPECT_EQ(single.left.ltp, 1);
  EXPECT_EQ(single.left.pns, 0);
  EXPECT_EQ(single.left.prediction, 0);
  EXPECT_EQ(pair.ms, 1);
  EXPECT_EQ(pair.intensity, 0);
  EXPECT_EQ(pair.right.ltp, 1);
  ASSERT_EQ(aac_channel_map_build(&map, 1, 0), nullptr);
  EXPECT_EQ(map.elements[0].left.ltp, 0);
}

TEST(ChannelMap, CouplingOnlyToSingleOrPairElements) {
  AacChannelMap map;
  ASSERT_EQ(aac_channel_map_build(&map, 6, 0), nullptr);
  const int lfe[] = {3};
  ErrorRecord* e = aac_channel_map_add_coupling(&map, 6, lfe, 1, nullptr);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "coupling to wrong element type");
  error_free(e);
  // Without its own switches the single-channel target takes over the
  // coupling element's.
  const int targets[] = {0, 1};
  const AacToolSwitches own = {0, 0, 1, 0};
  ASSERT_EQ(aac_channel_map_add_coupling(&map, 6, targets, 2, &own), nullptr);
  EXPECT_EQ(map.header.elementCount, 5);
  EXPECT_EQ(map.elements[4].kind, kAacCoupling);
  EXPECT_EQ(map.elements[0].left.pns, 0);
  ASSERT_EQ(aac_channel_map_add_coupling(&map, 7, targets, 2, nullptr), nullptr);
  EXPECT_EQ(map.elements[5].tag, 1);
  EXPECT_EQ(map.elements[0].left.tns, 1);
}

TEST(SamplingIndex, TableAndRefusals) {
  EXPECT_EQ(aac_sampling_index(44100), 4);
  EXPECT_EQ(aac_sampling_index(22050), 7);
  EXPECT_EQ(aac_sampling_index(96000), 0);
  EXPECT_EQ(aac_sampling_index(8000), 11);
  EXPECT_EQ(aac_sampling_index(47999), -1);
  EXPECT_EQ(aac_sampling_index(7350), -1);
  EXPECT_EQ(aac_sampling_rate(3), 48000);
  EXPECT_EQ(aac_sampling_rate(12), 0);
}

}  // namespace
