// The AMR codec object: storage layout, frame limits, buffering across
// blocks, mixing down and resampling; and ffmpeg's AMR-NB decoder on the
// frames repacked as an RFC 4867 file.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "amrenc/amrenc.h"
#include "audioencfilter/amr_codec.h"
#include "pcm_signal.h"

namespace {

struct Output {
  std::vector<uint8_t> area = std::vector<uint8_t>(5120);
  std::vector<uint32_t> lengths = std::vector<uint32_t>(kSpeechFrameListLength);
  EncodedFrames frames = {};
  Output() {
    frames.data = area.data();
    frames.frameLengths = lengths.data();
  }
};

AudioCodecConfig speechConfig(uint32_t rate, uint32_t channels, uint32_t mode, uint32_t layout = 0) {
  return AudioCodecConfig{16, rate, rate, channels, 0, mode, layout, 0, 0, 0, 0};
}

int encode(CAudEncoder& codec, std::vector<int16_t>& pcm, uint32_t mode, uint32_t start, uint32_t frames,
           Output& out) {
  PcmBlock block = {reinterpret_cast<uint8_t*>(pcm.data()), uint32_t(pcm.size() * 2), mode, start, start + frames};
  return codec.Encode(&block, &out.frames);
}

}  // namespace

TEST(AmrCodec, StorageFramesOfTheTwoRatesTheFilterUses) {
  struct Case {
    uint32_t mode;
    uint32_t layout;
    uint32_t bytes;
    uint8_t zeroMask;  // padding bits of the last byte
  };
  const Case cases[] = {{7, 0, 32, 0x0F}, {0, 0, 13, 0x01}, {7, 1, 31, 0x00}, {0, 1, 13, 0x00}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << c.mode << " layout " << c.layout);
    CAudEncAMR amr;
    AudioCodecConfig config = speechConfig(8000, 2, c.mode, c.layout);
    ASSERT_EQ(amr.Init(5120, &config), 0);
    EXPECT_EQ(config.codecSampleRate, 8000u);
    EXPECT_EQ(config.codecChannels, 1u);
    auto pcm = tone(8000, 2, 160);
    Output out;
    ASSERT_EQ(encode(amr, pcm, c.mode, 0, 160, out), 0);
    ASSERT_EQ(out.frames.frameCount, 1u);
    EXPECT_EQ(out.lengths[0], c.bytes);
    EXPECT_EQ(out.area[0] & 0x0F, c.mode);
    if (c.layout == 0) {
      EXPECT_EQ(out.area[0], c.mode);
    }
    EXPECT_EQ(out.area[c.bytes - 1] & c.zeroMask, 0);
    // Nothing beyond the frame is touched (the coder clears 244 bytes of its own).
    for (size_t i = c.bytes; i < out.area.size(); ++i) ASSERT_EQ(out.area[i], 0) << i;
    EXPECT_EQ(out.frames.startPosition, 0u);
    EXPECT_EQ(out.frames.endPosition, 160u);
    amr.Close();
  }
}

TEST(AmrCodec, StorageLayoutCarriesTheSameBitsAsTheRfc4867Form) {
  // The library's own IF2 -> RFC 4867 conversion is the reference: after the
  // header byte the two forms hold the same octets.
  auto pcm = tone(8000, 1, 160 * 6, 300.0, 9000.0);
  for (int mode = 0; mode <= 7; ++mode) {
    SCOPED_TRACE(mode);
    AmrEncState* ref = nullptr;
    ASSERT_EQ(amr_enc_init(&ref, 0, "ref"), 0);
    CAudEncAMR amr;
    AudioCodecConfig config = speechConfig(8000, 1, uint32_t(mode));
    ASSERT_EQ(amr.Init(5120, &config), 0);
    auto copy = pcm;
    Output out;
    ASSERT_EQ(encode(amr, copy, uint32_t(mode), 0, 960, out), 0);
    ASSERT_EQ(out.frames.frameCount, 6u);
    uint32_t offset = 0;
    for (int f = 0; f < 6; ++f) {
      std::vector<int16_t> frame(pcm.begin() + f * 160, pcm.begin() + (f + 1) * 160);
      uint8_t if2[AMR_OUT_BYTES], storage[64] = {};
      int type = -1;
      ASSERT_EQ(amr_enc_frame(ref, mode, frame.data(), if2, &type), 0);
      const int n = amr_if2_to_storage(if2, storage);
      ASSERT_EQ(uint32_t(n), out.lengths[f]);
      EXPECT_EQ(storage[0], uint8_t(mode << 3 | 4));
      EXPECT_EQ(0, std::memcmp(storage + 1, &out.area[offset + 1], size_t(n - 1))) << "frame " << f;
      offset += out.lengths[f];
    }
    amr_enc_exit(&ref);
    amr.Close();
  }
}

TEST(AmrCodec, OneCallGivesAtMostTheListLengthAndKeepsTheRest) {
  CAudEncAMR amr;
  AudioCodecConfig config = speechConfig(8000, 2, 7);
  ASSERT_EQ(amr.Init(1600, &config), 0);
  // At 12.2 kbit/s the area holds 50 frames: two blocks of 95 frames leave 90
  // buffered; a third makes 185.
  uint32_t position = 0, expected = 0;
  for (int block = 0; block < 3; ++block) {
    auto pcm = tone(8000, 2, 95 * 160);
    Output out;
    const uint32_t mode = block < 2 ? 7 : 0;
    // At 4.75 kbit/s the area would hold 123 frames: the list ends the call.
    EXPECT_EQ(encode(amr, pcm, mode, position, 95 * 160, out), 3);
    EXPECT_EQ(out.frames.frameCount, block < 2 ? 50u : 100u);
    EXPECT_EQ(out.frames.startPosition, expected);
    expected += out.frames.frameCount * 160;
    EXPECT_EQ(out.frames.endPosition, expected);
    position += 95 * 160;
  }
  // The next block (a few samples) releases the 85 frames kept.
  auto more = tone(8000, 2, 40);
  Output next;
  EXPECT_EQ(encode(amr, more, 0, position, 40, next), 0);
  EXPECT_EQ(next.frames.frameCount, 85u);
  EXPECT_EQ(next.frames.startPosition, 200u * 160u);
  EXPECT_EQ(next.frames.endPosition, 285u * 160u);
  amr.Close();
}

TEST(AmrCodec, ASmallAreaStopsWhileOneMoreFrameStillFits) {
  CAudEncAMR amr;
  AudioCodecConfig config = speechConfig(8000, 1, 0);
  ASSERT_EQ(amr.Init(64, &config), 0);  // room for four 13-byte frames, not five
  auto pcm = tone(8000, 1, 10 * 160);
  Output out;
  EXPECT_EQ(encode(amr, pcm, 0, 0, 1600, out), 3);
  EXPECT_EQ(out.frames.frameCount, 4u);
  CAudEncAMR tooSmall;
  config = speechConfig(8000, 1, 7);
  EXPECT_EQ(tooSmall.Init(31, &config), -9);
  amr.Close();
}

TEST(AmrCodec, PartialFramesWaitForTheNextBlock) {
  CAudEncAMR amr;
  AudioCodecConfig config = speechConfig(8000, 2, 7);
  ASSERT_EQ(amr.Init(5120, &config), 0);
  auto first = tone(8000, 2, 100);
  Output out;
  EXPECT_EQ(encode(amr, first, 7, 0, 100, out), 0);
  EXPECT_EQ(out.frames.frameCount, 0u);
  EXPECT_EQ(out.frames.startPosition, out.frames.endPosition);
  EncoderStatus status = {};
  amr.GetFormat(&status);
  EXPECT_EQ(status.frameLength, 160u);
  EXPECT_EQ(status.valuesInLastBlock, 100u);  // mixed down to mono
  EXPECT_EQ(status.framesBuffered, 0u);
  amr.GetFormat(nullptr);
  auto second = tone(8000, 2, 60);
  Output out2;
  EXPECT_EQ(encode(amr, second, 7, 100, 160, out2), 0);
  EXPECT_EQ(out2.frames.frameCount, 1u);
  EXPECT_EQ(out2.frames.startPosition, 0u);
  EXPECT_EQ(out2.frames.endPosition, 160u);
  amr.Close();
}

TEST(AmrCodec, RefusedConfigurationsAndModes) {
  struct Case {
    const char* what;
    AudioCodecConfig config;
    int result;
  };
  const Case cases[] = {
      {"mode 9", {16, 8000, 8000, 2, 0, 9, 0, 0, 0, 0, 0}, -9},
      {"no bits", {0, 8000, 8000, 2, 0, 7, 0, 0, 0, 0, 0}, -9},
      {"no time base", {16, 8000, 0, 2, 0, 7, 0, 0, 0, 0, 0}, -9},
      {"no rate", {16, 0, 8000, 2, 0, 7, 0, 0, 0, 0, 0}, -9},
      {"no channels", {16, 8000, 8000, 0, 0, 7, 0, 0, 0, 0, 0}, -9},
  };
  for (const Case& c : cases) {
    CAudEncAMR amr;
    AudioCodecConfig config = c.config;
    EXPECT_EQ(amr.Init(5120, &config), c.result) << c.what;
    amr.Close();
  }
  CAudEncAMR amr;
  AudioCodecConfig config = speechConfig(8000, 2, 7);
  ASSERT_EQ(amr.Init(5120, &config), 0);
  auto pcm = tone(8000, 2, 160);
  Output out;
  EXPECT_EQ(encode(amr, pcm, 9, 0, 160, out), -6);
  // A mode word may change the mode between calls without a new Init.
  EXPECT_EQ(encode(amr, pcm, 0, 0, 160, out), 0);
  ASSERT_EQ(out.frames.frameCount, 1u);
  EXPECT_EQ(out.lengths[0], 13u);
  amr.Close();
}

TEST(AmrCodec, ResamplesFortyFourKilohertzStereoToEightKilohertz) {
  CAudEncAMR amr;
  AudioCodecConfig config = speechConfig(44100, 2, 7);
  ASSERT_EQ(amr.Init(5120, &config), 0);
  uint32_t frames = 0, position = 0;
  uint32_t lastEnd = 0;
  for (int block = 0; block < 50; ++block) {  // 1 s in 20 ms blocks
    auto pcm = tone(44100, 2, 882);
    Output out;
    ASSERT_EQ(encode(amr, pcm, 7, position, 882, out), 0);
    if (out.frames.frameCount) {
      EXPECT_EQ(out.frames.startPosition, lastEnd);
    }
    frames += out.frames.frameCount;
    lastEnd = out.frames.endPosition;
    position += 882;
  }
  // One second of 8 kHz is 50 frames; the converter keeps back its filter
  // length at most.
  EXPECT_GE(frames, 48u);
  EXPECT_LE(frames, 50u);
  EXPECT_EQ(lastEnd, frames * 160u);
  amr.Close();
}

TEST(AmrCodec, EndOfStreamDrainsTheBufferAndTheConverter) {
  struct Case {
    uint32_t rate;
    int blocks, blockFrames;
    uint32_t totalFrames;  // 8 kHz frames in all, the last completed with silence
  };
  const Case cases[] = {
      {44100, 100, 882, 101},  // 2 s plus the converter's delay, rounded up to a frame
      {8000, 3, 100, 2},       // 300 samples: one whole frame and a partial one
      {8000, 10, 160, 10},     // nothing left over
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    CAudEncAMR amr;
    AudioCodecConfig config = speechConfig(c.rate, 2, 7);
    ASSERT_EQ(amr.Init(5120, &config), 0);
    uint32_t frames = 0, end = 0;
    for (int b = 0; b < c.blocks; ++b) {
      auto pcm = tone(int(c.rate), 2, c.blockFrames);
      Output out;
      ASSERT_EQ(encode(amr, pcm, 7, uint32_t(b * c.blockFrames), uint32_t(c.blockFrames), out), 0);
      frames += out.frames.frameCount;
      if (out.frames.frameCount) end = out.frames.endPosition;
    }
    Output tail;
    ASSERT_EQ(amr.Drain(&tail.frames), 0);
    if (tail.frames.frameCount) {
      EXPECT_EQ(tail.frames.startPosition, end);
    }
    frames += tail.frames.frameCount;
    EXPECT_EQ(frames, c.totalFrames);
    EXPECT_EQ(tail.frames.endPosition, c.totalFrames * 160);
    Output again;
    EXPECT_EQ(amr.Drain(&again.frames), 0);
    EXPECT_EQ(again.frames.frameCount, 0u);
    amr.Close();
  }
}

// ffmpeg as the judge: 2 s of a 44.1 kHz stereo tone through the codec object,
// repacked as RFC 4867 storage, decode to 8 kHz speech with the tone's pitch.
TEST(AmrCodecPeer, FfmpegDecodesTheRepackedFrames) {
  if (std::system("ffmpeg -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
  CAudEncAMR amr;
  AudioCodecConfig config = speechConfig(44100, 2, 7);
  ASSERT_EQ(amr.Init(5120, &config), 0);
  std::string file = "#!AMR\n";
  uint32_t frames = 0;
  auto pcm = tone(44100, 2, 88200, 500.0, 9000.0);
  for (int block = 0; block < 100; ++block) {
    std::vector<int16_t> part(pcm.begin() + block * 1764, pcm.begin() + (block + 1) * 1764);
    Output out;
    ASSERT_EQ(encode(amr, part, 7, uint32_t(block * 882), 882, out), 0);
    uint32_t offset = 0;
    for (uint32_t f = 0; f < out.frames.frameCount; ++f) {
      const uint8_t* frame = &out.area[offset];
      ASSERT_EQ(frame[0], 7);
      file += char((frame[0] << 3) | 4);
      file.append(reinterpret_cast<const char*>(frame + 1), out.lengths[f] - 1);
      offset += out.lengths[f];
      ++frames;
    }
  }
  amr.Close();
  const std::string in = testing::TempDir() + "tonquill_amr_codec.amr";
  const std::string raw = testing::TempDir() + "tonquill_amr_codec.s16";
  FILE* f = std::fopen(in.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(file.data(), 1, file.size(), f);
  std::fclose(f);
  const std::string cmd =
      "ffmpeg -v error -xerror -y -f amr -i " + in + " -f s16le -ac 1 -ar 8000 " + raw + " 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  f = std::fopen(raw.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::vector<int16_t> decoded(size_t(frames) * 160 + 1000);
  decoded.resize(std::fread(decoded.data(), 2, decoded.size(), f));
  std::fclose(f);
  EXPECT_EQ(decoded.size(), size_t(frames) * 160);
  EXPECT_GE(frames, 98u);
  // Energy at 500 Hz against 1 kHz and 250 Hz (Goertzel), past the start-up.
  auto power = [&](double hz) {
    double s1 = 0, s2 = 0;
    const double k = 2 * std::cos(2 * std::numbers::pi * hz / 8000);
    for (size_t i = 4000; i < decoded.size(); ++i) {
      const double s = decoded[i] + k * s1 - s2;
      s2 = s1;
      s1 = s;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
  };
  EXPECT_GT(power(500), 100 * power(1000));
  EXPECT_GT(power(500), 100 * power(250));
}
