#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "mp4aenc/fifo.h"
#include "mp4aenc/modulo_buffer.h"
#include "mp4aenc/numutil.h"
#include "mp4aenc/vecmath.h"

namespace {

std::vector<double> draw(int seed, int count) {
  random_seed(seed);
  std::vector<double> v(count);
  random_fill(count, v.data());
  return v;
}

// The first table value from the Marsaglia-Zaman initialisation, computed
// bit by bit for the given seeds.
double first_table_value(int s1, int s2) {
  int i = (s1 / 177) % 177 + 2, j = s1 % 177 + 2, k = (s2 / 169) % 178 + 1, l = s2 % 169;
  double v = 0.0;
  for (int b = 1; b <= 24; ++b) {
    int m = (((i * j) % 179) * k) % 179;
    i = j, j = k, k = m;
    l = (53 * l + 1) % 169;
    if ((l * m) % 64 >= 32) v += std::ldexp(1.0, -b);
  }
  return v;
}

TEST(RandomTest, SequenceFollowsTheLaggedFibonacciRecurrence) {
  std::vector<double> v = draw(1802, 3000);
  EXPECT_EQ(v[0], first_table_value(1802, 9373));
  for (double x : v) {
    EXPECT_GE(x, 0.0);
    EXPECT_LT(x, 1.0);
  }
  for (size_t n = 607; n < v.size(); ++n) {
    double want = v[n - 607] + v[n - 273];
    if (want >= 1.0) want -= 1.0;
    ASSERT_EQ(v[n], want) << n;
  }
  double mean = 0;
  for (double x : v) mean += x;
  EXPECT_NEAR(mean / v.size(), 0.5, 0.02);
}

TEST(RandomTest, SeedsAndRequestSizesGiveOneSequence) {
  std::vector<double> whole = draw(77, 2500);
  // Many small requests give the same values as one large request.
  random_seed(77);
  std::vector<double> parts(2500);
  for (int at = 0, k = 1; at < 2500; at += k, k = k * 3 % 700 + 1)
    random_fill(std::min(k, 2500 - at), parts.data() + at);
  EXPECT_EQ(parts, whole);
  // Seed 0 reuses the previous seed; another seed gives another sequence.
  EXPECT_EQ(draw(0, 10), std::vector<double>(whole.begin(), whole.begin() + 10));
  EXPECT_NE(draw(78, 10), std::vector<double>(whole.begin(), whole.begin() + 10));
  // The vector member reduces its seed mod 31328 and rounds to float in [0, 1).
  vec_random_seed(77 + 31328);
  std::vector<float> f(25);
  vec_random_fill(f.data(), 25);
  for (int i = 0; i < 25; ++i) EXPECT_EQ(f[i], float(whole[i]) < 1.0f ? float(whole[i]) : 0.99999994f);
  EXPECT_EQ(random_fill(0, nullptr), 0);
}

TEST(NumUtilTest, SortIndicesIsStable) {
  const float values[] = {3, 1, 2, 1, 0.5f};
  int order[5];
  sort_indices(values, order, 5);
  const int want[] = {4, 1, 3, 2, 0};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(order[i], want[i]);
}

TEST(NumUtilTest, FrequencyLineAndBandConversions) {
  const int offsets[] = {0, 4, 8, 16, 32, 64, 128, 256, 512, 1024};
  const int bands = 9;
  EXPECT_EQ(freq_to_band_nearest(0.0f, 48000.0f, bands, offsets), 0);
  EXPECT_EQ(freq_to_band_nearest(24000.0f, 48000.0f, bands, offsets), bands);
  // Line 12 lies between 8 and 16: a tie stays on the lower band.
  EXPECT_EQ(freq_to_band_nearest(12 * 24000.0f / 1024, 48000.0f, bands, offsets), 2);
  EXPECT_EQ(freq_to_band_nearest(13 * 24000.0f / 1024, 48000.0f, bands, offsets), 3);
  int line = -1;
  EXPECT_EQ(freq_to_band(12 * 24000.0f / 1024, 48000.0f, bands, offsets, &line), 2);
  EXPECT_EQ(line, 12);
  EXPECT_EQ(freq_to_band(16 * 24000.0f / 1024, 48000.0f, bands, offsets, nullptr), 3);
  EXPECT_EQ(line_to_freq(3, 48000.0f, 1024, offsets), 352);  // line 15 of 1024 at 48 kHz
}

TEST(FifoTest, NewestSlotFirstAndBoundedHistory) {
  FloatFifo* fifo = nullptr;
  ErrorRecord* e = fifo_create(&fifo, 0, 4);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->message, "invalid function parameters");
  EXPECT_STREQ(e->file, "fifo_buf");
  EXPECT_EQ(fifo, nullptr);
  error_free(e);
  ASSERT_EQ(fifo_create(&fifo, 2, 3), nullptr);
  for (int i = -1; i < 3; ++i) EXPECT_EQ(fifo_get(fifo, i), nullptr);
  const float blocks[3][3] = {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}};
  for (const auto& b : blocks) EXPECT_EQ(fifo_push(fifo, b), 1);
  ASSERT_NE(fifo_get(fifo, 0), nullptr);
  EXPECT_EQ(fifo_get(fifo, 0)[2], 3.0f);
  EXPECT_EQ(fifo_get(fifo, 1)[0], 2.0f);
  EXPECT_EQ(fifo_get(fifo, 2), nullptr);
  fifo_push_zero(fifo);
  EXPECT_EQ(fifo_get(fifo, 0)[1], 0.0f);
  EXPECT_EQ(fifo_get(fifo, 1)[1], 3.0f);
  fifo_free(fifo);
  fifo_free(nullptr);
}

TEST(ModuloBufferTest, WritesLookBacksAndReadsWrap) {
  FloatModuloBuffer* buf = CreateFloatModuloBuffer(5);
  ASSERT_NE(buf, nullptr);
  const float a[] = {1, 2, 3, 4, 5, 6, 7};
  EXPECT_EQ(FloatModuloBufferWrite(buf, a, 5), 1);
  EXPECT_EQ(buf->writePos, 0u);  // a write of exactly size wraps to where it began
  EXPECT_EQ(FloatModuloBufferWrite(buf, a + 5, 2), 1);  // ring: 6 7 3 4 5
  float out[5];
  FloatModuloBufferLookBack(buf, out, 2, 2);  // the newest two
  EXPECT_EQ(out[0], 6.0f);
  EXPECT_EQ(out[1], 7.0f);
  FloatModuloBufferLookBack(buf, out, 5, 5);
  const float oldestFirst[] = {3, 4, 5, 6, 7};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], oldestFirst[i]);
  EXPECT_EQ(buf->writePos, 2u);
  FloatModuloBufferRead(buf, out, 3);
  FloatModuloBufferRead(buf, out, 2);
  EXPECT_EQ(buf->readPos, 5u);  // ends exactly at the end
  FloatModuloBufferRead(buf, out, 2);
  EXPECT_EQ(out[0], 6.0f);
  EXPECT_EQ(buf->readPos, 2u);
  FloatModuloBufferWriteZeros(buf, 4);
  FloatModuloBufferLookBack(buf, out, 4, 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(out[i], 0.0f);
  // Lengths above the size are refused instead of running past the ring.
  EXPECT_EQ(FloatModuloBufferWrite(buf, a, 6), 0);
  EXPECT_EQ(FloatModuloBufferLookBack(buf, out, 1, 6), 0);
  FreeFloatModuloBuffer(buf);
  FreeFloatModuloBuffer(nullptr);
  EXPECT_EQ(CreateFloatModuloBuffer(0), nullptr);
}

}  // namespace
