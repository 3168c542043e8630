#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "resamplelib/pcm_frame_buffer.h"

namespace {

// 8000 Hz mono, time base = sample rate, speech frames of 160 samples.
constexpr int kRate = 8000;
constexpr int kFrame = 160;

// A block of `samples` whose values continue a running counter, so that
// every frame pulled can be checked for lost or repeated samples.
struct Source {
  int16_t next = 1;
  std::vector<int16_t> block(int samples) {
    std::vector<int16_t> v(static_cast<size_t>(samples));
    for (int16_t& s : v) {
      s = next;
      next = int16_t(next == 30000 ? 1 : next + 1);
    }
    return v;
  }
};

PcmBlock describe(std::vector<int16_t>& v, uint32_t start) {
  return PcmBlock{reinterpret_cast<uint8_t*>(v.data()), uint32_t(2 * v.size()), 0, start, 0};
}

TEST(PcmFrameBufferTest, TimeStampCases) {
  struct Case {
    const char* name;
    int startOffset;  // from the expected time, in samples
    int samples;
    int result;
    int gap;          // silence inserted, samples
    bool discarded;   // buffered audio thrown away
  } cases[] = {
      {"contiguous", 0, 800, 0, 0, false},
      {"half a second late", 4000, 800, 0, 4000, false},
      {"1.5 s late", 12000, 800, 2, 0, true},
      {"1.5 s early, ends after", -12000, 12800, 2, 0, true},
      {"1.5 s early, ends before", -12000, 800, CODEC_E_STALE_BLOCK, 0, false},
      {"ends exactly at expected", -800, 800, CODEC_E_STALE_BLOCK, 0, false},
      {"overlaps, ends later", -400, 800, 0, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CPcmFrameBuffer buffer;
    ASSERT_EQ(buffer.Open(16, kRate, kFrame, 0, 1), 0);
    Source source;
    std::vector<int16_t> first = source.block(1000);
    PcmBlock b = describe(first, 100000);
    ASSERT_EQ(buffer.Push(&b, 1.0), 0);  // after Open: takes its time as is
    EXPECT_EQ(buffer.expectedTime, 101000u);
    const uint32_t before = buffer.available;
    std::vector<int16_t> next = source.block(c.samples);
    PcmBlock n = describe(next, uint32_t(101000 + c.startOffset));
    EXPECT_EQ(buffer.Push(&n, 1.0), c.result);
    EncoderStatus status{};
    buffer.GetGapInfo(&status);
    EXPECT_EQ(status.gapSamples, uint32_t(c.gap));
    EXPECT_EQ(status.gapTime, uint32_t(c.gap));
    EXPECT_EQ(status.valuesInLastBlock, uint32_t(c.samples));
    uint32_t want = c.result < 0 ? before
                    : c.discarded ? uint32_t(2 * c.samples)
                                  : before + uint32_t(2 * (c.gap + c.samples));
    EXPECT_EQ(buffer.available, want);
    if (c.gap) {
      // The silence sits between the two blocks.
      const uint8_t* frames = buffer.PullFrames(6);
      ASSERT_NE(frames, nullptr);
      int16_t s;
      std::memcpy(&s, frames + 2 * 1000, 2);
      EXPECT_EQ(s, 0);
      std::memcpy(&s, frames + 2 * 999, 2);
      EXPECT_EQ(s, 1000);
    }
    buffer.Close();
  }
}

TEST(PcmFrameBufferTest, WholeFramesCarryTheirOutputTime) {
  CPcmFrameBuffer buffer;
  ASSERT_EQ(buffer.Open(16, 44100, 1024, 0, 2), 0);
  EXPECT_EQ(buffer.frameDuration, 1024u);
  std::vector<int16_t> v(2 * 3000, 5);
  PcmBlock b = describe(v, 441000);
  ASSERT_EQ(buffer.Push(&b, 44100.0 / 48000.0), 0);
  uint32_t start, end;
  buffer.GetOutputTime(&start, &end);
  EXPECT_EQ(start, 480000u);  // ceil(441000 / ratio): the codec's clock
  EXPECT_EQ(buffer.GetBufferedFrames(), 2);
  EXPECT_NE(buffer.PullFrames(1), nullptr);
  EXPECT_NE(buffer.PullFrames(1), nullptr);
  EXPECT_EQ(buffer.PullFrames(1), nullptr);  // 952 frames left: compacted
  EXPECT_EQ(buffer.readPos, 0u);
  EXPECT_EQ(buffer.available, uint32_t(2 * 2 * 952));
  EXPECT_EQ(buffer.leftoverTime, uint32_t(0.9296875 * 1024));
  EXPECT_EQ(buffer.AdvanceOutputTime(2, &end), 2048u);
  EXPECT_EQ(end, 482048u);
  EncoderStatus status{};
  buffer.GetTimeInfo(&status);
  EXPECT_EQ(status.framesBuffered, 2u);
  EXPECT_EQ(status.bufferedStart, 441000u);
  EXPECT_EQ(status.bufferedEnd, 444000u);
  // The next block continues after the remainder.
  std::vector<int16_t> more(2 * 200, 6);
  PcmBlock m = describe(more, 444000);
  ASSERT_EQ(buffer.Push(&m, 44100.0 / 48000.0), 0);
  const uint8_t* frame = buffer.PullFrames(1);
  ASSERT_NE(frame, nullptr);
  int16_t s;
  std::memcpy(&s, frame + 2 * 2 * 951, 2);
  EXPECT_EQ(s, 5);
  std::memcpy(&s, frame + 2 * 2 * 952, 2);
  EXPECT_EQ(s, 6);
  buffer.Close();
}

TEST(PcmFrameBufferTest, LongBlocksWithCallersThatStopEarlyKeepEverySampleInOrder) {
  // Speech objects take at most 100 frames per call, AAC at most 50. A
  // caller that stops early leaves unread frames before the write position;
  // pushes must neither write past the buffer nor lose or repeat samples.
  struct Case {
    int frame, channels, rate, maxFrames, blockSamples;
  } cases[] = {{160, 1, 8000, 100, 8000 * 3}, {1024, 2, 48000, 50, 48000 * 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxFrames);
    CPcmFrameBuffer buffer;
    ASSERT_EQ(buffer.Open(16, c.rate, c.frame, 0, c.channels), 0);
    Source source;
    int16_t expect = 1;
    uint32_t time = 0;
    int refused = 0;
    for (int call = 0; call < 30; ++call) {
      std::vector<int16_t> v = source.block(c.blockSamples * c.channels);
      PcmBlock b = describe(v, time);
      int r = buffer.Push(&b, 1.0);
      ASSERT_TRUE(r == 0 || r == CODEC_E_BUFFER_FULL) << r;
      if (r == 0) time += uint32_t(c.blockSamples);
      else {
        ++refused;
        source.next = v[0];  // the refused block is offered again
      }
      ASSERT_LE(buffer.writePos, buffer.capacity);
      ASSERT_EQ(buffer.available, buffer.writePos - buffer.readPos);
      for (int f = 0; f < c.maxFrames; ++f) {
        const uint8_t* frame = buffer.PullFrames(1);
        if (!frame) break;
        for (int i = 0; i < c.frame * c.channels; ++i) {
          int16_t s;
          std::memcpy(&s, frame + 2 * i, 2);
          ASSERT_EQ(s, expect) << "call " << call << " frame " << f;
          expect = int16_t(expect == 30000 ? 1 : expect + 1);
        }
      }
    }
    EXPECT_GT(refused, 0);  // the callers are slower than the input
    buffer.Close();
  }
}

TEST(PcmFrameBufferTest, GapSilenceCountsInTheRoomCheck) {
  CPcmFrameBuffer buffer;
  ASSERT_EQ(buffer.Open(16, kRate, kFrame, 0, 1), 0);
  std::vector<int16_t> v(kRate * 4, 1);  // 4 of the 5 seconds
  PcmBlock b = describe(v, 0);
  ASSERT_EQ(buffer.Push(&b, 1.0), 0);
  std::vector<int16_t> w(kRate / 2, 2);
  PcmBlock late = describe(w, uint32_t(kRate * 4 + kRate * 3 / 4));  // 0.75 s gap
  EXPECT_EQ(buffer.Push(&late, 1.0), CODEC_E_BUFFER_FULL);
  EXPECT_EQ(buffer.available, uint32_t(2 * kRate * 4));
  PcmBlock onTime = describe(w, uint32_t(kRate * 4));
  EXPECT_EQ(buffer.Push(&onTime, 1.0), 0);
  buffer.Close();
}

TEST(FormatConverterTest, CopyReorderAndDownmix) {
  CFormatConverter conv;
  ASSERT_EQ(conv.Open(2, 1, 1, 16, 8000), 0);
  EXPECT_EQ(conv.capacity, 2u * 2 * 8000 * 2);
  EXPECT_EQ(conv.downmix, 1);
  EXPECT_EQ(conv.reorder, 0);
  std::vector<int16_t> stereo = {100, -101, 32767, 32767, -32768, -32768};
  PcmBlock in = describe(stereo, 7), out{};
  ASSERT_EQ(conv.Copy(&in, &out), 0);
  EXPECT_EQ(out.startTime, 7u);
  ASSERT_EQ(conv.Downmix(&out), 0);
  ASSERT_EQ(out.length, 6u);
  const int16_t* m = reinterpret_cast<const int16_t*>(out.data);
  EXPECT_EQ(m[0], -1);  // the arithmetic shift rounds toward minus infinity
  EXPECT_EQ(m[1], 32767);
  EXPECT_EQ(m[2], -32768);
  EXPECT_EQ(stereo[0], 100);  // the caller's block is untouched

  PcmBlock empty{conv.buffer, 0, 0, 0, 0};
  EXPECT_EQ(conv.Downmix(&empty), CODEC_E_REFUSED);
  std::vector<int16_t> big(2 * 8000 * 2 + 2);
  PcmBlock tooLong = describe(big, 0);
  EXPECT_EQ(conv.Copy(&tooLong, &out), CODEC_E_BUFFER_FULL);
  int16_t eight[4] = {};
  EXPECT_EQ(downmix_stereo16(eight, 2, 8, 1), -3);
  conv.Close();

  // Planar stereo is interleaved in place.
  ASSERT_EQ(conv.Open(2, 2, 0, 16, 8000), 0);
  std::vector<int16_t> planar = {1, 2, 3, 10, 20, 30};
  PcmBlock p = describe(planar, 0), q{};
  conv.Copy(&p, &q);
  ASSERT_EQ(conv.Reorder(&q), 0);
  const int16_t* r = reinterpret_cast<const int16_t*>(q.data);
  const int16_t want[] = {1, 10, 2, 20, 3, 30};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(r[i], want[i]);
  conv.Close();
}

TEST(RateConverterTest, TruncatesTowardZeroAndSaturates) {
  CRateConverter conv;
  ASSERT_EQ(conv.Open(16000, 8000, 1, 16, 160, 8000, 1), 0);
  // A full-scale square wave overshoots after filtering (Gibbs); the float
  // output of the same engine says what each 16-bit value must be.
  ResamplerState* ref = nullptr;
  KaiserDesign design{};
  CRateConverter::Design(&design, 16000, 8000);
  ASSERT_EQ(resample_open(&ref, 16000, 8000, 1, 160, 160, 2, 2, &design), 0);
  std::vector<int16_t> frame(160);
  int overshoots = 0;
  for (int call = 0; call < 40; ++call) {
    int needed = 0, refNeeded, block;
    conv.Needed(&needed);
    float *refIn, *refOut;
    resample_flush(ref, 0, 0, &refNeeded, &block, &refIn, &refOut);
    ASSERT_EQ(needed, refNeeded);
    std::vector<int16_t> in(static_cast<size_t>(needed));
    for (int i = 0; i < needed; ++i) {
      in[size_t(i)] = ((call * needed + i) / 40) % 2 ? 32767 : -32768;
      refIn[i] = in[size_t(i)];
    }
    PcmBlock inBlock = describe(in, 0);
    PcmBlock outBlock{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
    ASSERT_EQ(conv.Process(&inBlock, &outBlock, 2 * 160), 0);
    int produced;
    resample_process(ref, needed, &produced, &refOut);
    ASSERT_EQ(outBlock.length, uint32_t(2 * produced));
    for (int i = 0; i < produced; ++i) {
      float v = refOut[i];
      int16_t want = v >= 32767.0f ? 32767 : v <= -32768.0f ? -32768 : int16_t(v);
      overshoots += std::fabs(v) > 32768.0f;
      ASSERT_EQ(frame[size_t(i)], want) << v;
    }
  }
  EXPECT_GT(overshoots, 0);
  resample_close(ref);
  conv.Close();
}

TEST(FactoriesTest, NoRateConverterForEqualRates) {
  AudioCodecConfig config{16, 8000, 8000, 2, 0, 7, 0, 0, 8000, 1, 8000};
  CRateConverter* none = CreateRateConverter(config, 160, 1);
  EXPECT_EQ(none, nullptr);
  config.inputSampleRate = 44100;
  config.timeBaseRate = 44100;
  CRateConverter* rate = CreateRateConverter(config, 160, 1);
  ASSERT_NE(rate, nullptr);
  CPcmFrameBuffer* buffer = CreatePcmBuffer(config, 160);
  ASSERT_NE(buffer, nullptr);
  EXPECT_EQ(buffer->capacity, 1u * 2 * 44100 * 5);
  CFormatConverter* format = CreateFormatConverter(config);
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format->downmix, 1);
  config.bitsPerSample = 12;
  EXPECT_EQ(CreatePcmBuffer(config, 160), nullptr);
  rate->Close();
  buffer->Close();
  format->Close();
  delete rate;
  delete buffer;
  delete format;
}

}  // namespace

namespace {

// The road a speech codec object takes: copy and mix down each 44.1 kHz
// stereo block, push it, then pull what the rate converter needs and convert
// it into 160-sample frames at 8 kHz.
TEST(CodecPathTest, StereoBlocksBecomeWholeFramesAtTheCodecRate) {
  AudioCodecConfig config{16, 44100, 44100, 2, 0, 7, 0, 0, 8000, 1, 8000};
  CFormatConverter* format = CreateFormatConverter(config);
  CPcmFrameBuffer* buffer = CreatePcmBuffer(config, 160);
  CRateConverter* rate = CreateRateConverter(config, 160, 1);
  ASSERT_TRUE(format && buffer && rate);
  std::vector<int16_t> frame(160), all;
  uint32_t time = 0;
  for (int block = 0; block < 20; ++block) {
    // 100 ms blocks of a 1 kHz tone on both channels.
    std::vector<int16_t> in(2 * 4410);
    for (int i = 0; i < 4410; ++i)
      in[size_t(2 * i)] = in[size_t(2 * i + 1)] = int16_t(8000 * std::sin(2 * 3.14159265358979 * 1000 * (time + i) / 44100.0));
    PcmBlock b = describe(in, time), copy{};
    time += 4410;
    ASSERT_EQ(format->Copy(&b, &copy), 0);
    ASSERT_EQ(format->Downmix(&copy), 0);
    ASSERT_EQ(buffer->Push(&copy, 44100.0 / 8000.0), 0);
    for (;;) {
      int needed = 0;
      rate->Needed(&needed);
      uint32_t got = 0;
      const uint8_t* samples = buffer->PullSamples(needed, &got);
      if (needed > 0 && !samples) break;
      PcmBlock input{const_cast<uint8_t*>(samples), got, 0, 0, 0};
      PcmBlock output{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
      ASSERT_EQ(rate->Process(&input, &output, 2 * 160), 0);
      if (output.length == 0) continue;
      ASSERT_EQ(output.length, 320u);
      all.insert(all.end(), frame.begin(), frame.end());
    }
  }
  // Two seconds in: all but the last partial block and the filter's delay
  // come out, as whole frames.
  EXPECT_GE(all.size(), size_t(8000 * 2 - 2 * 1024));
  EXPECT_EQ(all.size() % 160, 0u);
  // The tone survives at 1 kHz: eight samples per period at 8 kHz.
  double corr = 0, energy = 0;
  for (size_t n = 400; n + 8 < all.size(); ++n) {
    corr += double(all[n]) * all[n + 8];
    energy += double(all[n]) * all[n];
  }
  EXPECT_GT(corr / energy, 0.99);
  format->Close();
  buffer->Close();
  rate->Close();
  delete format;
  delete buffer;
  delete rate;
}

}  // namespace
