// The AAC codec object over a double of the AAC encoder library: its calls
// into the library, the AudioSpecificConfig, framing, limits, resampling, and
// the ADIF header reader.
#include <gtest/gtest.h>

#include <vector>

#include "aac_double.h"
#include "aac_output.h"
#include "audioencfilter/aac_codec.h"
#include "pcm_signal.h"

namespace {

using Output = AacOutput;

AudioCodecConfig aacConfig(uint32_t index, uint32_t channels = 2, uint32_t objectType = 2) {
  return AudioCodecConfig{16, 0, 0, channels, 0, index, 0, objectType, 0, 0, 0};
}

class AacCodec : public testing::Test {
 protected:
  void SetUp() override { AacDouble::current = &lib; }
  void TearDown() override { AacDouble::current = nullptr; }
  int encode(CAudEncAAC& aac, std::vector<int16_t>& pcm, uint32_t start, Output& out) {
    PcmBlock block = {reinterpret_cast<uint8_t*>(pcm.data()), uint32_t(pcm.size() * 2), 0, start, 0};
    return aac.Encode(&block, &out.frames);
  }
  AacDouble lib;
};

}  // namespace

TEST_F(AacCodec, RatesChannelsAndAudioSpecificConfigByBitrate) {
  struct Case {
    uint32_t index, channels;
    uint32_t rate, codecChannels;
    std::vector<uint8_t> asc;
  };
  const Case cases[] = {
      {0, 2, 22050, 1, {0x13, 0x88}},  // 16 kbit/s: mono
      {1, 2, 24000, 1, {0x13, 0x08}},  // 24 kbit/s: mono
      {3, 2, 32000, 2, {0x12, 0x90}},
      {5, 2, 44100, 2, {0x12, 0x10}},  // 64 kbit/s
      {6, 2, 44100, 2, {0x12, 0x10}},
      {7, 2, 44100, 2, {0x12, 0x10}},
      {8, 2, 48000, 2, {0x11, 0x90}},
      {5, 1, 48000, 1, {0x11, 0x88}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "index " << c.index << " channels " << c.channels);
    CAudEncAAC aac(&AacDouble::table);
    AudioCodecConfig config = aacConfig(c.index, c.channels);
    ASSERT_EQ(aac.Init(38400, &config), 0);
    EXPECT_EQ(config.codecSampleRate, c.rate);
    EXPECT_EQ(config.codecChannels, c.codecChannels);
    EXPECT_EQ(config.inputSampleRate, c.rate);  // 0 asked for the codec rate
    EXPECT_EQ(config.timeBaseRate, c.rate);
    EXPECT_EQ(config.spareRate, c.rate);
    EXPECT_EQ(lib.sampleRate, int(c.rate));
    EXPECT_EQ(lib.bitrate, int(CAudEncoder::BitrateFromIndex(c.index)));
    uint8_t asc[64] = {};
    uint32_t length = 0;
    ASSERT_EQ(aac.GetDecoderConfig(asc, &length), 0);
    EXPECT_EQ(std::vector<uint8_t>(asc, asc + length), c.asc);
    aac.Close();
  }
}

TEST_F(AacCodec, OpensTheLibraryAndSwitchesToolsInOrder) {
  struct Case {
    uint32_t objectType;
    std::vector<int> keys;
  };
  const Case cases[] = {{2, {0x100005, 0x100001, 0x100001}},
                        {4, {0x100003, 0x100003, 0x100005, 0x100001, 0x100001}}};
  for (const Case& c : cases) {
    lib = AacDouble{};
    CAudEncAAC aac(&AacDouble::table);
    AudioCodecConfig config = aacConfig(5, 2, c.objectType);
    ASSERT_EQ(aac.Init(38400, &config), 0);
    EXPECT_EQ(lib.objectType, int(c.objectType));
    EXPECT_EQ(lib.keys, c.keys);
    EXPECT_EQ(lib.coreName, "NO_CORE_CODEC");
    EXPECT_EQ(lib.offsets, (std::vector<int>{0, 1}));  // interleaved stereo
    EXPECT_EQ(lib.strides, (std::vector<int>{2, 2}));
    EXPECT_EQ(lib.bitstreamFormat, 0);
    EXPECT_TRUE(lib.optionSet);
    EXPECT_TRUE(lib.printed);
    EXPECT_EQ(aac.Close(), 0);
    EXPECT_TRUE(lib.closed);
    EXPECT_TRUE(lib.writerClosed);
  }
}

TEST_F(AacCodec, RefusalsAndFailuresOfInit) {
  struct Case {
    const char* what;
    AudioCodecConfig config;
    const AacLibrary* library;
    int result;
  };
  const Case cases[] = {
      {"bitrate index 9", aacConfig(9), &AacDouble::table, -9},
      {"no channels", aacConfig(3, 0), &AacDouble::table, -9},
      {"three channels", aacConfig(3, 3), &AacDouble::table, -9},
      {"planar flag 2", AudioCodecConfig{16, 0, 0, 2, 2, 3, 0, 2, 0, 0, 0}, &AacDouble::table, -9},
      {"object type 5", aacConfig(3, 2, 5), &AacDouble::table, -9},
      {"object type 1: the library refuses it", aacConfig(3, 2, 1), &AacDouble::table, -2},
      {"no library in the product", aacConfig(3), nullptr, -2},
  };
  for (const Case& c : cases) {
    CAudEncAAC aac(c.library);
    AudioCodecConfig config = c.config;
    EXPECT_EQ(aac.Init(38400, &config), c.result) << c.what;
    uint32_t length = 99;
    EXPECT_EQ(aac.GetDecoderConfig(nullptr, &length), -8) << c.what;
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(aac.Close(), 0);
  }
  CAudEncAAC aac(&AacDouble::table);
  EXPECT_EQ(aac.Init(38400, nullptr), -9);
}

TEST_F(AacCodec, WholeFramesOfIntegerSamplesAndTheirTimes) {
  CAudEncAAC aac(&AacDouble::table);
  AudioCodecConfig config = aacConfig(5);  // 44100 stereo
  ASSERT_EQ(aac.Init(38400, &config), 0);
  auto pcm = tone(44100, 2, 1000);
  Output out(38400);
  EXPECT_EQ(encode(aac, pcm, 0, out), 0);  // less than one frame
  EXPECT_EQ(out.frames.frameCount, 0u);
  EXPECT_EQ(out.frames.startPosition, out.frames.endPosition);
  EXPECT_EQ(lib.encodeCalls, 0);
  auto more = tone(44100, 2, 2000);
  EXPECT_EQ(encode(aac, more, 1000, out), 0);
  ASSERT_EQ(out.frames.frameCount, 2u);
  EXPECT_EQ(out.lengths[0], 200u);
  EXPECT_EQ(out.frames.startPosition, 0u);
  EXPECT_EQ(out.frames.endPosition, 2048u);
  EXPECT_EQ(out.area[0], 1);  // frame 1, then frame 2, back to back
  EXPECT_EQ(out.area[200], 2);
  ASSERT_EQ(lib.firstFrame.size(), 2048u);
  for (size_t i = 0; i < 2000; ++i) ASSERT_EQ(lib.firstFrame[i], float(pcm[i])) << i;
  aac.Close();
}

TEST_F(AacCodec, TheFrameCrossingTheCapacityIsKeptCountedAndTimed) {
  CAudEncAAC aac(&AacDouble::table);
  AudioCodecConfig config = aacConfig(5);
  ASSERT_EQ(aac.Init(500, &config), 0);
  lib.frameBytes = 200;
  auto pcm = tone(44100, 2, 5 * 1024);
  Output out(500);
  EXPECT_EQ(encode(aac, pcm, 0, out), 3);
  ASSERT_EQ(out.frames.frameCount, 3u);  // 200, 400, then 600 crosses 500
  EXPECT_EQ(out.frames.endPosition, 3u * 1024u);
  EXPECT_EQ(out.area[599], 3);
  // The rest waits in the buffer.
  auto more = tone(44100, 2, 10);
  Output next(500);
  EXPECT_EQ(encode(aac, more, 5 * 1024, next), 0);
  EXPECT_EQ(next.frames.frameCount, 2u);
  EXPECT_EQ(next.frames.startPosition, 3u * 1024u);
  aac.Close();
}

TEST_F(AacCodec, OneCallGivesAtMostFiftyFrames) {
  CAudEncAAC aac(&AacDouble::table);
  AudioCodecConfig config = aacConfig(1);  // 24000 mono
  ASSERT_EQ(aac.Init(500, &config), 0);
  // Two blocks of 35 frames leave 64 buffered behind a small area ...
  lib.frameBytes = 200;
  for (uint32_t block = 0; block < 2; ++block) {
    auto pcm = tone(24000, 2, 35 * 1024);
    Output out(500);
    EXPECT_EQ(encode(aac, pcm, block * 35 * 1024, out), 3);
    EXPECT_EQ(out.frames.frameCount, 3u);
  }
  // ... then small frames: the list, not the area, ends the call.
  lib.frameBytes = 5;
  auto pcm = tone(24000, 2, 10);
  Output out(500);
  EXPECT_EQ(encode(aac, pcm, 70 * 1024, out), 3);
  EXPECT_EQ(out.frames.frameCount, 50u);
  EXPECT_EQ(lib.encodeCalls, 56);
  aac.Close();
}

TEST_F(AacCodec, EncoderFailureAndEmptyBlocks) {
  CAudEncAAC aac(&AacDouble::table);
  AudioCodecConfig config = aacConfig(1);  // mono: the converter mixes down
  ASSERT_EQ(aac.Init(38400, &config), 0);
  Output out(38400);
  std::vector<int16_t> none;
  EXPECT_EQ(encode(aac, none, 0, out), -10);
  lib.failEncode = true;
  auto pcm = tone(44100, 2, 1024);
  EXPECT_EQ(encode(aac, pcm, 0, out), -3);
  aac.Close();
}

TEST_F(AacCodec, InputAtAnotherRateIsResampledToTheCodecRate) {
  CAudEncAAC aac(&AacDouble::table);
  AudioCodecConfig config = aacConfig(1);  // 24000 mono
  config.inputSampleRate = 44100;
  config.timeBaseRate = 44100;
  ASSERT_EQ(aac.Init(38400, &config), 0);
  EXPECT_EQ(config.inputSampleRate, 44100u);  // kept: only 0 means the codec rate
  uint32_t frames = 0;
  for (int block = 0; block < 100; ++block) {  // 2 s
    auto pcm = tone(44100, 2, 882);
    Output out(38400);
    ASSERT_EQ(encode(aac, pcm, uint32_t(block * 882), out), 0);
    frames += out.frames.frameCount;
  }
  // 2 s at 24 kHz is 46.9 frames of 1024.
  EXPECT_GE(frames, 45u);
  EXPECT_LE(frames, 47u);
  aac.Close();
}

TEST_F(AacCodec, EndOfStreamDrainsThePartialFrameAndTheConverterTail) {
  struct Case {
    uint32_t index, inputRate;
    uint32_t totalFrames;
  };
  // 2 s in: 44100 Hz stereo at 64 kbit/s is 86.1 frames; 44100 Hz input
  // to the 24 kHz mono coder is 46.9 frames plus the converter's delay.
  const Case cases[] = {{5, 0, 87}, {1, 44100, 47}};
  for (const Case& c : cases) {
    lib = AacDouble{};
    lib.frameBytes = 10;
    CAudEncAAC aac(&AacDouble::table);
    AudioCodecConfig config = aacConfig(c.index);
    config.inputSampleRate = config.timeBaseRate = c.inputRate;
    ASSERT_EQ(aac.Init(38400, &config), 0);
    uint32_t frames = 0;
    for (int block = 0; block < 100; ++block) {
      auto pcm = tone(44100, 2, 882);
      Output out(38400);
      ASSERT_EQ(encode(aac, pcm, uint32_t(block * 882), out), 0);
      frames += out.frames.frameCount;
    }
    Output tail(38400);
    ASSERT_EQ(aac.Drain(&tail.frames), 0);
    frames += tail.frames.frameCount;
    EXPECT_EQ(frames, c.totalFrames) << c.index;
    EXPECT_EQ(tail.frames.endPosition, c.totalFrames * 1024);
    aac.Close();
  }
}

TEST(AacConfig, WriterEdges) {
  uint8_t buffer[64] = {};
  uint32_t length = 0;
  // A rate outside the table is written out in 24 bits: 5 bytes.
  EXPECT_EQ(write_audio_specific_config({2, 7350, 1, 0, 0, 0}, buffer, &length), 0);
  EXPECT_EQ(length, 5u);
  EXPECT_EQ(buffer[0], 0x17);  // 00010 1111
  EXPECT_EQ(buffer[1], 0x80);
  const AacConfigRequest refused[] = {
      {3, 44100, 2, 0, 0, 0},        // object type
      {2, 44100, 0, 0, 0, 0},        // would need a program config element
      {2, 44100, 3, 0, 0, 0},        // channel configuration 3
      {2, 0x1000000, 2, 0, 0, 0},    // rate beyond 24 bits
      {2, 44100, 2, 0, 1, 0},        // depends on a core coder
      {2, 44100, 2, 0, 0, 1},        // extension flag
  };
  for (const AacConfigRequest& r : refused) EXPECT_EQ(write_audio_specific_config(r, buffer, &length), -2);
  EXPECT_EQ(write_audio_specific_config({4, 22050, 1, 1, 0, 0}, buffer, &length), 0);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(buffer[0], 0x23);  // LTP, index 7, mono, 960-sample frames
  EXPECT_EQ(buffer[1], 0x8C);
}

namespace {
struct Bits {
  std::vector<uint8_t> bytes;
  uint32_t n = 0;
  void put(uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) {
      if (n % 8 == 0) bytes.push_back(0);
      bytes.back() = uint8_t(bytes.back() | (i < 32 ? (v >> i) & 1 : 0) << (7 - n % 8));
      ++n;
    }
  }
};
}  // namespace

TEST(AacConfig, AdifHeaderBecomesTheConfigurationAndLeavesTheFrame) {
  for (bool copyright : {false, true}) {
    Bits b;
    for (char c : std::string("ADIF")) b.put(uint8_t(c), 8);
    b.put(copyright, 1);
    if (copyright) b.put(0, 72);
    b.put(0, 2);
    b.put(0, 1);       // bitstream_type constant: buffer fullness follows
    b.put(128000, 23);
    b.put(0, 4);
    b.put(0, 20);
    b.put(0, 4);       // element tag
    b.put(1, 2);       // profile LC
    b.put(4, 4);       // 44100
    b.put(1, 4);       // one front element
    b.put(0, 4);
    b.put(0, 4);
    b.put(0, 2);
    b.put(0, 3);
    b.put(0, 4);
    b.put(0, 3);       // no mixdowns
    b.put(1, 1);       // front: a channel pair
    b.put(0, 4);
    while (b.n % 8) b.put(0, 1);
    b.put(2, 8);  // comment of two bytes
    b.put(0x4142, 16);
    const size_t header = b.bytes.size();
    for (uint8_t v : {0xDE, 0xAD, 0xBE, 0xEF}) b.put(v, 8);
    std::vector<uint8_t> frame = b.bytes;
    uint32_t length = uint32_t(frame.size());
    uint8_t config[64] = {};
    uint32_t configLength = 0;
    ASSERT_EQ(adif_header_to_config(frame.data(), &length, config, &configLength), 0) << copyright;
    EXPECT_EQ(configLength, 2u);
    EXPECT_EQ(config[0], 0x12);
    EXPECT_EQ(config[1], 0x10);
    ASSERT_EQ(length, uint32_t(b.bytes.size() - header));
    EXPECT_EQ(frame[0], 0xDE);
    EXPECT_EQ(frame[3], 0xEF);
    // Cut short, the header does not fit: no change.
    std::vector<uint8_t> cut(b.bytes.begin(), b.bytes.begin() + long(header) - 2);
    length = uint32_t(cut.size());
    EXPECT_EQ(adif_header_to_config(cut.data(), &length, config, &configLength), 1);
    EXPECT_EQ(length, uint32_t(cut.size()));
  }
  uint8_t raw[20] = {0x21, 0x10};
  uint32_t length = 20, configLength = 0;
  uint8_t config[64];
  EXPECT_EQ(adif_header_to_config(raw, &length, config, &configLength), 1);
}
