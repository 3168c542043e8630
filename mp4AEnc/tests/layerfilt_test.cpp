// The layer filter's FFT buffer and output buffer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "mp4aenc/fft_radix4.h"
#include "mp4aenc/layerfilt.h"

namespace {

TEST(FftBuffer, GathersBlocksPerChannelAndTransformsThem) {
  FftBuffer* b = nullptr;
  ASSERT_EQ(fft_buffer_create(&b, 256, 2), nullptr);
  std::vector<float> in(2 * 256);
  for (int i = 0; i < 256; ++i) {
    in[2 * i] = float(std::cos(2 * 3.14159265358979 * 8 * i / 1024.0));  // left: bin 8 of 1024
    in[2 * i + 1] = float(i);                               // right: a ramp
  }
  // 100 frames: no block yet; the fill is kept.
  int count = 100;
  EXPECT_FALSE(fft_buffer_feed(b, in.data(), &count));
  EXPECT_EQ(count, 100);
  EXPECT_EQ(b->fill[0], 100);
  EXPECT_EQ(b->fill[1], 100);
  // Offered 300 more frames: the channel takes up to its block (156 more),
  // transforms and empties.
  count = 300;
  EXPECT_TRUE(fft_buffer_feed(b, in.data() + 200, &count));
  EXPECT_EQ(count, 156);
  EXPECT_EQ(b->fill[0], 0);
  // The left channel's spectrum is the zero-padded block's transform.
  std::vector<float> want(1024, 0.0f);
  for (int i = 0; i < 256; ++i) want[size_t(i)] = in[2 * size_t(i)];
  fft_radix4_dif(want.data());
  const float* got = fft_buffer_spectrum(b, 0);
  for (int j = 0; j < 1024; ++j) ASSERT_NEAR(got[j], want[size_t(j)], 1e-3f) << j;
  EXPECT_EQ(fft_buffer_spectrum(b, 2), nullptr);
  fft_buffer_free(b);
}

TEST(FftBuffer, FullLengthBlocksAreTakenAsTheyAre) {
  FftBuffer* b = nullptr;
  ASSERT_EQ(fft_buffer_create(&b, 1024, 1), nullptr);
  std::vector<float> in(1024);
  for (int i = 0; i < 1024; ++i) in[size_t(i)] = float(std::sin(0.1 * i) + 0.01 * i);
  int count = 1024;
  EXPECT_TRUE(fft_buffer_feed(b, in.data(), &count));
  EXPECT_EQ(count, 1024);
  std::vector<float> want = in;
  fft_radix4_dif(want.data());
  EXPECT_EQ(std::memcmp(fft_buffer_spectrum(b, 0), want.data(), 1024 * sizeof(float)), 0);
  fft_buffer_free(b);
}

TEST(FftBuffer, CreationFailures) {
  FftBuffer* b = nullptr;
  ErrorRecord* e = fft_buffer_create(&b, 256, 7);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "number of channels too large");
  EXPECT_EQ(b, nullptr);
  error_free(e);
  e = fft_buffer_create(&b, 2048, 1);
  EXPECT_NE(e, nullptr);
  error_free(e);
  fft_buffer_free(nullptr);
}

TEST(OutBuffer, RegroupsIntoBlocks) {
  OutBuffer* b = nullptr;
  ASSERT_EQ(out_buffer_create(&b, 16), nullptr);
  float dest[8] = {};
  const float a[2] = {1, 2}, c[2] = {3, 4}, d[2] = {5, 6};
  EXPECT_EQ(out_buffer_put(b, a, 2, dest, 4, 2), 0);
  EXPECT_EQ(b->held, 2);
  EXPECT_EQ(out_buffer_put(b, c, 2, dest, 4, 2), 4);
  EXPECT_EQ(b->held, 0);
  const float want[8] = {1, 0, 2, 0, 3, 0, 4, 0};  // stride 2
  EXPECT_EQ(std::memcmp(dest, want, sizeof want), 0);
  EXPECT_EQ(out_buffer_put(b, d, 2, dest, 4, 2), 0);
  EXPECT_EQ(b->held, 2);
  // Six more with a block of 4: 5 6 7 8 out, 9 10 11 12 kept.
  const float e[6] = {7, 8, 9, 10, 11, 12};
  float one[4] = {};
  EXPECT_EQ(out_buffer_put(b, e, 6, one, 4, 1), 4);
  EXPECT_EQ(one[0], 5);
  EXPECT_EQ(one[3], 8);
  EXPECT_EQ(b->held, 4);
  EXPECT_EQ(b->values[3], 12);
  // What would not fit the capacity is refused, nothing changed.
  std::vector<float> big(40, 1.0f);
  EXPECT_EQ(out_buffer_put(b, big.data(), 40, one, 4, 1), -1);
  EXPECT_EQ(b->held, 4);
  out_buffer_free(b);
}

}  // namespace
