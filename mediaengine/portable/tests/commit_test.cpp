// The pure parts of the settings commit: content version texts, the
// streamer's output code and stream table, and the audio streams' ids.
#include <gtest/gtest.h>

#include <cstring>

#include "mediaengine/commit.h"

using namespace mediaengine;

namespace {

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

TEST(CommitTexts, ContentVersionAndVersionWord) {
  struct {
    int32_t version;
    uint32_t build;
    const char16_t* text;
  } cases[] = {
      {30, 113, u"Content V3.0 Scrivel V3.0 Build 113"},
      {21, 7, u"Content V2.1 Scrivel V2.1 Build 007"},
      {20, 113, u"Content V2.0 Scrivel V2.0 Build 113"},
      {10, 1234, u"Content V1.0 Scrivel V2.0 Build 1234"},
  };
  for (const auto& c : cases) {
    std::u16string text;
    ASSERT_TRUE(ContentVersionText(c.version, c.build, &text)) << c.version;
    EXPECT_EQ(text, c.text);
  }
  std::u16string text = u"kept";
  EXPECT_FALSE(ContentVersionText(25, 113, &text));
  EXPECT_EQ(VersionWord(300, 0), 0x300);
  EXPECT_EQ(VersionWord(310, 2), 0x302);
}

TEST(CommitTexts, StreamerOutputType) {
  const int32_t types[] = {1, 4, 5, 12, 3};
  const int32_t codes[] = {4, 1, 3, 2, 0};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(StreamerOutputType(types[i], 0), codes[i]) << types[i];
    EXPECT_EQ(StreamerOutputType(types[i], 1), codes[i] + 4) << types[i];
  }
}

KRAudioEncoderConfig NoAudio() {
  KRAudioEncoderConfig audio{};
  for (KRAudioStreamEntry& e : audio.stream) e.codec = -1;
  return audio;
}

TEST(StreamTable, VideoLayersThenAudioInRecordOrder) {
  KROutputConfig output{};
  output.streamType = 3;
  output.enhancementLayers = 1;
  output.layerBitRate[0] = 18290;
  output.layerBitRate[1] = 40000;
  KRAudioEncoderConfig audio = NoAudio();
  audio.stream[0] = {2, 1, 16000, 24000, 1};
  audio.stream[1] = {0, 0, 8000, 4750, 1};  // disabled
  audio.stream[2] = {0, 1, 8000, 12200, 1};
  const uint8_t asc[2] = {0x14, 0x08};
  uint8_t table[kStreamTableEntries * kStreamEntryBytes];
  std::memset(table, 0xAB, sizeof table);
  int n = BuildStreamTable(output, audio, 0x300, [&](uint8_t* config, uint32_t* length) {
    std::memcpy(config, asc, 2);
    *length = 2;
    return true;
  }, table);
  ASSERT_EQ(n, 4);
  struct {
    uint32_t kind, bitRate, sampling, id;
    uint16_t configLength;
  } expected[] = {{1, 18290, 0xABABABAB, 120, 0}, {2, 40000, 0xABABABAB, 121, 0}, {5, 24000, 16000, 1, 2},
                  {3, 12200, 8000, 2, 1}};
  for (int i = 0; i < n; ++i) {
    const uint8_t* e = table + i * kStreamEntryBytes;
    EXPECT_EQ(U32(e), expected[i].kind) << i;
    EXPECT_EQ(e[4], 0);
    EXPECT_EQ(e[5], 0xAB) << "bytes 5-7 are not written";
    EXPECT_EQ(U32(e + 8), expected[i].bitRate) << i;
    EXPECT_EQ(U32(e + 12), expected[i].sampling) << i;
    EXPECT_EQ(U16(e + 16), 0x300);
    EXPECT_EQ(U16(e + 18), expected[i].configLength) << i;
    EXPECT_EQ(U32(e + 84), expected[i].id) << i;
    EXPECT_EQ(e[88], 0xAB) << "bytes 88-95 are not written";
  }
  EXPECT_EQ(table[2 * kStreamEntryBytes + 20], 0x14);
  EXPECT_EQ(table[2 * kStreamEntryBytes + 21], 0x08);
  EXPECT_EQ(table[3 * kStreamEntryBytes + 20], 7) << "AMR at 12200 bit/s is mode 7";
}

TEST(StreamTable, WhatEachStreamTypeCarries) {
  KRAudioEncoderConfig audio = NoAudio();
  audio.stream[0] = {1, 1, 8000, 9200, 1};
  audio.stream[1] = {0, 1, 8000, 5900, 1};  // a rate with no mode written
  audio.stream[2] = {2, 1, 16000, 24000, 1};
  uint8_t table[kStreamTableEntries * kStreamEntryBytes] = {};
  KROutputConfig output{};
  output.streamType = 2;
  EXPECT_EQ(BuildStreamTable(output, audio, 0x300, nullptr, table), 1) << "video only";
  output.streamType = 1;
  // An AAC configuration too long for the entry is left out.
  int n = BuildStreamTable(output, audio, 0x300, [](uint8_t*, uint32_t* length) {
    *length = 70;
    return true;
  }, table);
  ASSERT_EQ(n, 3) << "audio only";
  EXPECT_EQ(U32(table), 4u);
  EXPECT_EQ(table[20], 4) << "EVRC's one configuration byte";
  EXPECT_EQ(U16(table + kStreamEntryBytes + 18), 0) << "5900 bit/s: no AMR mode";
  EXPECT_EQ(U16(table + 2 * kStreamEntryBytes + 18), 0);
  EXPECT_EQ(U32(table + 2 * kStreamEntryBytes + 84), 3u);
}

TEST(AudioCommit, StreamIdsFollowTheEnabledEntries) {
  KRAudioEncoderConfig audio = NoAudio();
  audio.stream[0] = {2, 1, 16000, 24000, 1};
  audio.stream[1] = {0, 0, 8000, 4750, 1};
  audio.stream[2] = {1, 1, 8000, 9200, 1};
  std::vector<AudioStreamCommit> order = AudioCommitOrder(audio);
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0].codec, 2);
  EXPECT_EQ(order[0].streamId, 0);
  EXPECT_EQ(order[1].codec, 1);
  EXPECT_EQ(order[1].entry, 2);
  EXPECT_EQ(order[1].streamId, 1);
}

}  // namespace
