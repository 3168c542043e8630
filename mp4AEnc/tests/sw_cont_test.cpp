#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/sw_cont.h"
#include "mp4aenc/window.h"
#include "param_front_end.h"

namespace {

constexpr int kFrame = 1024, kShort = 256;

// Feeds the short-block FIFO as the driver does: per frame eight blocks of
// 256 samples, 128 apart, sine-windowed, through the complex MDCT.
class ShortFeed {
 public:
  ShortFeed() {
    EXPECT_EQ(fifo_create(&fifo, 24, kShort), nullptr);
    for (int i = 0; i < 24; ++i) fifo_push_zero(fifo);
    EXPECT_EQ(window_create(&window, kShort, 2, 0, 0, 0, 8), nullptr);
  }
  ~ShortFeed() {
    fifo_free(fifo);
    object_free(window);
  }
  // Pushes the eight blocks that end at sample `end` of `signal`.
  void push_frame(const std::vector<float>& signal, size_t end) {
    std::vector<float> block(kShort);
    for (int i = 0; i < 8; ++i) {
      const size_t start = end - kFrame - kShort / 2 + size_t(i) * 128;
      for (int k = 0; k < kShort; ++k) block[size_t(k)] = signal[start + size_t(k)];
      window_apply(window, block.data());
      dft_mdct_phase(block.data(), kShort);
      fifo_push(fifo, block.data());
    }
  }
  FloatFifo* fifo = nullptr;
  WindowObject* window = nullptr;
};

std::vector<float> noise(size_t n, float level, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> g(0.0f, level);
  std::vector<float> s(n);
  for (float& v : s) v = g(rng);
  return s;
}

class SwContTest : public ::testing::Test {
 protected:
  void SetUp() override {
    param_free_all();
    ASSERT_EQ(psy_conf_create(&conf, 1024, 44100, 64000, 0.0f, 0, 2), nullptr);
  }
  void TearDown() override {
    sw_cont_free(sw);
    psy_conf_delete(conf);
    param_free_all();
  }
  // Runs frames 1.. over the signal; the decision of each.
  std::vector<int> run(const std::vector<float>& signal, int frames) {
    ShortFeed feed;
    std::vector<int> seq;
    for (int f = 1; f <= frames; ++f) {
      int s = -1;
      feed.push_frame(signal, size_t(f) * kFrame + kShort);
      lowPeRatioHist(sw, feed.fifo, &s, 8);
      seq.push_back(s);
    }
    return seq;
  }
  PsyConf* conf = nullptr;
  SwCont* sw = nullptr;
};

TEST_F(SwContTest, SteadyNoiseStaysLong) {
  ASSERT_EQ(sw_cont_create(&sw, conf, 8, 0), nullptr);
  EXPECT_EQ(sw->preConst, 200.0f);
  const std::vector<int> seq = run(noise(20 * kFrame, 3000.0f, 1), 16);
  // The first frame rises from the silent history: an onset.
  EXPECT_EQ(seq[0], 1);
  for (size_t f = 4; f < seq.size(); ++f) EXPECT_EQ(seq[f], 0) << "frame " << f;
}

// A click of 64 samples in faint noise, placed in blocks 2 and 3 of the eight
// that call `frame` sees: the first half, which the next frame codes.
std::vector<float> click_signal(int frame) {
  std::vector<float> s = noise(20 * kFrame, 1.0f, 2);
  // Call f sees samples (f-1)*1024 + 128 .. f*1024 + 256 in its blocks; its
  // block 2 starts at (f-1)*1024 + 384.
  const size_t at = size_t(frame - 1) * kFrame + 384 + 200;
  for (size_t i = at; i < at + 64; ++i) s[i] = 20000.0f * std::sin(0.3f * float(i));
  return s;
}

TEST_F(SwContTest, AnAttackFromLongGivesStartShortStopLong) {
  ASSERT_EQ(sw_cont_create(&sw, conf, 8, 0), nullptr);
  const std::vector<int> seq = run(click_signal(5), 9);
  const std::vector<int> want = {0, 0, 0, 0, 1, 2, 3, 0, 0};
  EXPECT_EQ(seq, want);
}

TEST_F(SwContTest, GroupingOfAnEightShortFrameDescribesItsWindowsAndSumsToEight) {
  ASSERT_EQ(sw_cont_create(&sw, conf, 8, 0), nullptr);
  const std::vector<float> signal = click_signal(5);
  ShortFeed feed;
  for (int f = 1; f <= 7; ++f) {
    int s = -1;
    feed.push_frame(signal, size_t(f) * kFrame + kShort);
    lowPeRatioHist(sw, feed.fifo, &s, 8);
    int sum = 0;
    for (int g = 0; g < sw->grouping.count; ++g) sum += sw->grouping.lengths[g];
    EXPECT_EQ(sum, 8) << "frame " << f;
    if (s == 2) {
      // The onset (in block 3 of the frame) opens its own group.
      EXPECT_GT(sw->grouping.count, 1);
    }
  }
}

TEST_F(SwContTest, OneGroupInAnEightShortFrameBecomesThreeThreeTwo) {
  ASSERT_EQ(sw_cont_create(&sw, conf, 8, 0), nullptr);
  std::vector<float> quiet(20 * kFrame, 0.0f);
  ShortFeed feed;
  int s = -1;
  feed.push_frame(quiet, kFrame + kShort);
  sw->lastSequence = 1;  // a start window asks for eight short next
  sw->prevAttack = 1;
  lowPeRatioHist(sw, feed.fifo, &s, 8);
  ASSERT_EQ(s, 2);
  ASSERT_EQ(sw->grouping.count, 3);
  EXPECT_EQ(sw->grouping.lengths[0], 3);
  EXPECT_EQ(sw->grouping.lengths[1], 3);
  EXPECT_EQ(sw->grouping.lengths[2], 2);
}

TEST_F(SwContTest, PreConstZeroMakesEveryRiseAnAttackAndIsPerInstance) {
  configure_params({"-preConst 0"});
  ASSERT_EQ(sw_cont_create(&sw, conf, 8, 0), nullptr);
  param_free_all();
  SwCont* other = nullptr;
  ASSERT_EQ(sw_cont_create(&other, conf, 8, 0), nullptr);
  EXPECT_EQ(sw->preConst, 0.0f);
  EXPECT_EQ(other->preConst, 200.0f);
  sw_cont_free(other);
  const std::vector<int> seq = run(noise(20 * kFrame, 3000.0f, 1), 6);
  int shortFrames = 0;
  for (int s : seq) shortFrames += s == 2;
  EXPECT_GT(shortFrames, 2);
}

TEST(SwContRules, NextSequenceTables) {
  const int onAttack[4] = {1, 2, 2, 1}, quiet[4] = {0, 3, 3, 0};
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(sw_cont_next_on_attack(p), onAttack[p]);
    EXPECT_EQ(sw_cont_next_quiet(p), quiet[p]);
  }
}

class WsAdaptTest : public SwContTest {};

TEST_F(WsAdaptTest, ZeroPaddedAroundAttacksSineOtherwiseAndWsaWsForces) {
  for (int mode : {0, 1, 2}) {
    param_free_all();
    if (mode) configure_params({"-wsa_ws " + std::to_string(mode)});
    WsAdapt* wsa = nullptr;
    WindowObject* first = nullptr;
    ASSERT_EQ(ws_adapt_create(&wsa, &first, 2048, 0, 0, conf, 8, 1), nullptr);
    ASSERT_EQ(first, wsa->windows[0][0]);
    const std::vector<float> signal = click_signal(5);
    ShortFeed feed;
    std::vector<int> rights;
    for (int f = 1; f <= 8; ++f) {
      feed.push_frame(signal, size_t(f) * kFrame + kShort);
      WindowObject* w = nullptr;
      ASSERT_EQ(winShapeHist(wsa, 0, feed.fifo, &w, 8), nullptr);
      ASSERT_EQ(w, wsa->windows[wsa->left][wsa->right]);
      rights.push_back(wsa->right);
    }
    int zpw = 0;
    for (int r : rights) zpw += r == 2;
    if (mode == 0) {
      EXPECT_GE(zpw, 1);
      EXPECT_LE(zpw, 2);
    }
    if (mode == 1) {
      EXPECT_EQ(zpw, 8);
    }
    if (mode == 2) {
      EXPECT_EQ(zpw, 0);
    }
    WindowObject* w = nullptr;
    ErrorRecord* err = winShapeHist(wsa, 2, feed.fifo, &w, 8);
    ASSERT_NE(err, nullptr);  // an eight-short frame is refused
    error_free(err);
    ws_adapt_free(wsa);
  }
  WsAdapt* none = reinterpret_cast<WsAdapt*>(this);
  ASSERT_EQ(ws_adapt_create(&none, nullptr, 2048, 0, 0, conf, 8, 0), nullptr);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
