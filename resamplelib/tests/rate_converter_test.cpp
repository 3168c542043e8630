// The rate converter at the end of a stream: its drain and its delay, on the
// road a codec object takes (PCM frame buffer, then the converter).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "resamplelib/pcm_frame_buffer.h"

namespace {

struct PathResult {
  std::vector<int16_t> out;  // whole codec frames, drained tail included
  double delay = 0;          // the converter's Delay(), output frames
  int drainFrames = 0;       // frames the drain gave
};

// Input in blocks of `blockFrames` through the frame buffer and the rate
// converter, as a codec object's Encode does, then the end of the stream:
// what the buffer still holds goes into Drain, and Drain runs until empty.
PathResult run_path(CRateConverter& rate, const std::vector<int16_t>& in, int inRate, int channels,
                    int frameLength, int blockFrames) {
  CPcmFrameBuffer buffer;
  EXPECT_EQ(buffer.Open(16, inRate, frameLength, 0, channels), 0);
  PathResult r;
  r.delay = rate.Delay();
  std::vector<int16_t> frame(size_t(frameLength * channels));
  const uint32_t capacity = uint32_t(2 * frame.size());
  auto keep = [&](const PcmBlock& b) {
    EXPECT_TRUE(b.length == 0 || b.length == capacity) << b.length;
    r.out.insert(r.out.end(), frame.begin(), frame.begin() + b.length / 2);
  };
  uint32_t time = 0;
  const size_t step = size_t(blockFrames * channels);
  for (size_t at = 0; at < in.size(); at += step) {
    std::vector<int16_t> block(in.begin() + long(at), in.begin() + long(std::min(in.size(), at + step)));
    PcmBlock b{reinterpret_cast<uint8_t*>(block.data()), uint32_t(2 * block.size()), 0, time, 0};
    time += uint32_t(block.size()) / uint32_t(channels);
    EXPECT_EQ(buffer.Push(&b, 1.0), 0);
    for (;;) {
      int needed = 0;
      rate.Needed(&needed);
      uint32_t got = 0;
      const uint8_t* samples = buffer.PullSamples(needed, &got);
      if (needed > 0 && !samples) break;
      PcmBlock input{const_cast<uint8_t*>(samples), got, 0, 0, 0};
      PcmBlock output{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
      EXPECT_EQ(rate.Process(&input, &output, capacity), 0);
      keep(output);
    }
  }
  uint32_t got = 0;
  const uint8_t* rest = buffer.PullSamples(int(buffer.available / 2), &got);
  PcmBlock input{const_cast<uint8_t*>(rest), got, 0, 0, 0};
  for (PcmBlock* feed = &input;; feed = nullptr) {
    PcmBlock output{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
    EXPECT_EQ(rate.Drain(feed, &output, capacity), 0);
    if (output.length == 0) break;
    keep(output);
    ++r.drainFrames;
    if (r.drainFrames > 100) break;
  }
  buffer.Close();
  return r;
}

// Position (in output frames, channel 0) of the largest magnitude in [from, to).
size_t peak_at(const std::vector<int16_t>& v, int channels, size_t from, size_t to) {
  size_t best = from;
  for (size_t n = from; n < to && n * size_t(channels) < v.size(); ++n)
    if (std::abs(v[n * size_t(channels)]) > std::abs(v[best * size_t(channels)])) best = n;
  return best;
}

// Two seconds of silence with three clicks: one early, one in the middle and
// one on the very last input frame, which only the drain brings out.
TEST(RateConverterDrainTest, TwoSecondsInGiveTwoSecondsOutWithTheLastClick) {
  struct Case {
    int in, out, channels, frame, block;
  } cases[] = {
      {44100, 8000, 1, 160, 4410},   // the speech codecs
      {48000, 8000, 1, 160, 1000},
      {8000, 16000, 1, 160, 333},    // up: Needed() answers 0 between blocks
      {44100, 48000, 2, 1024, 4410}, // an AAC stream
      {32000, 22050, 2, 1024, 777},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << " x" << c.channels);
    const size_t frames = size_t(2 * c.in);
    const size_t clicks[] = {size_t(c.in / 10), frames / 2 + 7, frames - 1};
    std::vector<int16_t> in(frames * size_t(c.channels), 0);
    for (size_t at : clicks)
      for (int ch = 0; ch < c.channels; ++ch) in[at * size_t(c.channels) + size_t(ch)] = 20000;
    CRateConverter rate;
    ASSERT_EQ(rate.Open(c.in, c.out, c.channels, 16, c.frame, c.out, 1), 0);
    const PathResult r = run_path(rate, in, c.in, c.channels, c.frame, c.block);
    const double ratio = double(c.out) / c.in;

    // The delay is that of the filter (taps - centre input frames at its
    // rate) and of the halving stages ahead of it, if any.
    const SincInterpolator* e = rate.resampler->sinc;
    EXPECT_DOUBLE_EQ(r.delay, (e->taps - e->centre) * e->factor + rate.chain.DelaySeconds() * c.out);
    EXPECT_LT(r.delay / c.out, 0.0065);  // a few milliseconds

    // 2 s plus the delay, rounded up to whole frames: within one frame of 2 s.
    const size_t outFrames = r.out.size() / size_t(c.channels);
    const size_t want = size_t(std::ceil(2.0 * c.out + r.delay));
    EXPECT_EQ(outFrames, (want + size_t(c.frame) - 1) / size_t(c.frame) * size_t(c.frame));
    EXPECT_GE(outFrames, size_t(2 * c.out));
    EXPECT_LE(outFrames, size_t(2 * c.out + c.frame));
    EXPECT_GE(r.drainFrames, 1);

    // Every click, the last one too, sits at its input time plus the delay,
    // at the same level.
    const double level = std::abs(r.out[peak_at(r.out, c.channels, 0, outFrames / 4) * size_t(c.channels)]);
    EXPECT_GT(level, 1000.0);
    for (size_t at : clicks) {
      const double expect = double(at) * ratio + r.delay;
      const size_t from = size_t(std::max(0.0, expect - 20)), to = size_t(expect + 20);
      const size_t p = peak_at(r.out, c.channels, from, to);
      EXPECT_NEAR(double(p), expect, 1.0) << "click at " << at;
      EXPECT_NEAR(std::abs(r.out[p * size_t(c.channels)]) / level, 1.0, 0.3) << "click at " << at;
      // Both channels alike.
      if (c.channels == 2) {
        EXPECT_EQ(r.out[2 * p], r.out[2 * p + 1]);
      }
    }
    rate.Close();
  }
}

TEST(RateConverterDrainTest, TheConverterServesTheNextStreamAfterADrain) {
  std::vector<int16_t> in(44100);
  for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(8000 * std::sin(0.07 * double(i)));
  CRateConverter rate;
  ASSERT_EQ(rate.Open(44100, 8000, 1, 16, 160, 8000, 1), 0);
  const PathResult first = run_path(rate, in, 44100, 1, 160, 2000);
  const PathResult second = run_path(rate, in, 44100, 1, 160, 2000);
  EXPECT_EQ(first.out.size(), second.out.size());
  EXPECT_TRUE(first.out == second.out);
  rate.Close();
}

TEST(RateConverterDrainTest, OnlyDrainEndsTheStream) {
  CRateConverter rate;
  ASSERT_EQ(rate.Open(16000, 8000, 1, 16, 160, 8000, 1), 0);
  std::vector<int16_t> frame(160), block(160, 1000);
  PcmBlock out{reinterpret_cast<uint8_t*>(frame.data()), 0, 0, 0, 0};
  PcmBlock empty{nullptr, 0, 0, 0, 0};
  PcmBlock full{reinterpret_cast<uint8_t*>(block.data()), 320, 0, 0, 0};
  // An empty block with nothing pending converts nothing and ends nothing.
  EXPECT_EQ(rate.Process(&empty, &out, 320), 0);
  EXPECT_EQ(out.length, 0u);
  EXPECT_EQ(rate.resampler->endState, 0);
  EXPECT_EQ(rate.Process(&full, &out, 320), 0);
  EXPECT_EQ(rate.inputFrames, 160u);

  // Drain refuses a whole block (that is Process's work); once draining, more
  // input and Process are refused.
  EXPECT_EQ(rate.Drain(&full, &out, 320), CODEC_E_REFUSED);
  PcmBlock rest{reinterpret_cast<uint8_t*>(block.data()), 2 * 37, 0, 0, 0};
  EXPECT_EQ(rate.Drain(&rest, &out, 320), 0);
  EXPECT_EQ(out.length, 320u);
  EXPECT_EQ(rate.Drain(&rest, &out, 320), CODEC_E_REFUSED);
  EXPECT_EQ(rate.Process(&full, &out, 320), CODEC_E_REFUSED);
  // Too small an output area is refused, not overrun.
  EXPECT_EQ(rate.Drain(nullptr, &out, 100), CODEC_E_REFUSED);
  int calls = 0;
  do {
    ASSERT_EQ(rate.Drain(nullptr, &out, 320), 0);
  } while (out.length && ++calls < 10);
  EXPECT_EQ(out.length, 0u);
  EXPECT_EQ(rate.draining, 0);
  EXPECT_EQ(rate.inputFrames, 0u);
  rate.Close();
}

}  // namespace
