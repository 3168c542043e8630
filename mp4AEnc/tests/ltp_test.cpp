// Long-term prediction: its settings and refusals, the lag search on a
// periodic signal, the per-frame bookkeeping, the history, the predictor
// stub and ltp_data in ics_info.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "mp4aenc/bitmux.h"
#include "mp4aenc/fft.h"
#include "mp4aenc/lt_pred.h"
#include "mp4aenc/param.h"
#include "mp4aenc/prediction.h"
#include "param_front_end.h"

namespace {

const double kPi = 3.14159265358979323846;
constexpr int kFrame = 1024, kBands = 49;

std::string Message(ErrorRecord* e) {
  if (!e) return "";
  std::string m = e->message;
  error_free(e);
  return m;
}

// 49 bands of 20 lines and one of 44: 1024 lines.
struct Bands {
  int width[kBands];
  Bands() {
    for (int b = 0; b < kBands; ++b) width[b] = b + 1 < kBands ? 21 : 1024 - 21 * (kBands - 1);
  }
};

// A signal of period 100 samples (harmonics 1 to 4), its history in the
// state, the block's input in a ring as the model leaves it, and the
// block's spectrum.
class LtpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window.resize(2 * kFrame);
    for (int i = 0; i < 2 * kFrame; ++i) window[size_t(i)] = float(std::sin(kPi * (i + 0.5) / (2 * kFrame)));
    ring = CreateFloatModuloBuffer(kFrame / 16 + 3 * kFrame);
    for (float& t : threshold) t = 1.0f;
  }
  void TearDown() override {
    LtpFree(state);
    FreeFloatModuloBuffer(ring);
    param_free_all();
  }
  void Open(int objectType = 4, std::initializer_list<std::string> params = {}) {
    configure_params(params);
    const AudioObject object = {1, objectType};
    ASSERT_EQ(Message(LtpInit(&state, kFrame, 1, 0, &object)), "");
  }
  static float Periodic(long t) {
    double x = 0.0;
    for (int h = 1; h <= 4; ++h) x += std::sin(2 * kPi * h * double(t) / 100.0) / h;
    return float(8000.0 * x);
  }
  // History from t0 over its first three frames; the block starts at
  // t0 + 2 frames, the analysis input of the model.
  void Prepare(long t0, bool noiseHistory = false) {
    unsigned seed = 7;
    for (int j = 0; j < 4 * kFrame; ++j) {
      seed = seed * 1103515245u + 12345u;
      const float noise = float(int(seed >> 16 & 0x7fff) - 16384);
      state->history[j] = j < 3 * kFrame ? int(std::lround(noiseHistory ? noise : Periodic(t0 + j))) : 0;
    }
    std::vector<float> input(kFrame / 16 + 3 * kFrame);
    for (size_t i = 0; i < input.size(); ++i) input[i] = Periodic(t0 + 2 * kFrame + long(i));
    FloatModuloBufferWrite(ring, input.data(), unsigned(input.size()));
    std::vector<float> block(2 * kFrame);
    for (int i = 0; i < 2 * kFrame; ++i) block[size_t(i)] = window[size_t(i)] * input[size_t(i)];
    dft_mdct_phase(block.data(), 2 * kFrame);
    for (int k = 0; k < kFrame; ++k) spectrum[k] = original[k] = 2.0f * block[size_t(2 * k)];
  }
  ErrorRecord* Frame(int blockType) {
    return LtpFrame(state, nullptr, ring, window.data(), kBands, bands.width, threshold, spectrum, pe,
                    blockType, kFrame, 8, nullptr);
  }

  LtpState* state = nullptr;
  FloatModuloBuffer* ring = nullptr;
  std::vector<float> window;
  Bands bands;
  float threshold[kBands], spectrum[kFrame], original[kFrame], pe[kBands];
};

TEST_F(LtpTest, RefusesMpeg2AndObjectTypesWithoutPrediction) {
  const struct {
    int mpeg4, objectType;
    const char* message;
  } cases[] = {{0, 4, "LTP selected with an MPEG-2 Profile"},
               {1, 2, "LTP selected with wrong object type"},
               {1, 1, "LTP selected with wrong object type"},
               {1, 4, ""},
               {1, 23, ""}};
  for (const auto& c : cases) {
    const AudioObject object = {c.mpeg4, c.objectType};
    LtpState* s = nullptr;
    EXPECT_EQ(Message(LtpInit(&s, kFrame, 1, 0, &object)), c.message) << c.objectType;
    EXPECT_EQ(s != nullptr, c.message[0] == 0);
    LtpFree(s);
  }
}

// A periodic signal: a lag of whole periods, a coefficient near 1, most
// bands predicted; their spectra become the residual, and adding the
// prediction back gives the block's spectrum again.
TEST_F(LtpTest, PeriodicSignalIsPredictedAndRestored) {
  Open();
  Prepare(5000);
  ASSERT_EQ(Message(Frame(0)), "");
  const LtpSideInfo& info = state->info;
  ASSERT_EQ(info.dataPresent, 1);
  EXPECT_EQ(info.lastLag % 100, 0) << info.lastLag;
  EXPECT_EQ(info.coefIndex, 4);  // 0.9849
  EXPECT_EQ(info.numBands, kLtpMaxBands);
  int used = 0;
  double before = 0.0, after = 0.0;
  for (int k = 0; k < kFrame; ++k)
    before += double(original[k]) * original[k], after += double(spectrum[k]) * spectrum[k];
  for (int b = 0; b < kLtpMaxBands; ++b) used += info.used[b];
  EXPECT_GE(used, 4);
  EXPECT_LT(after, before * 0.01);  // the harmonics' bands lose more than 20 dB
  LtpAddPrediction(state, spectrum, bands.width);
  for (int k = 0; k < kFrame; ++k)
    ASSERT_NEAR(spectrum[k], original[k], 1e-3 * std::fabs(original[k]) + 1.0) << k;
}

// Object type 4 sends the 11-bit lag and the coefficient with every frame
// that predicts: 14 bits besides one per band, also when the lag repeats.
TEST_F(LtpTest, ObjectType4PaysTheLagEveryFrame) {
  Open();
  Prepare(5000);
  ASSERT_EQ(Message(Frame(0)), "");
  const int lag = state->info.lastLag;
  Prepare(5000);
  ASSERT_EQ(Message(Frame(0)), "");
  ASSERT_EQ(state->info.dataPresent, 1);
  EXPECT_EQ(state->info.lastLag, lag);
  EXPECT_EQ(state->info.lagWritten, 1);
  EXPECT_EQ(state->info.sideBits, kLtpMaxBands + 14);
}

// A history that has nothing of the signal gives no positive net gain:
// no data, lag -1, no band used.
TEST_F(LtpTest, NoGainMeansNoDataAndNoLag) {
  Open();
  Prepare(5000);
  ASSERT_EQ(Message(Frame(0)), "");
  ASSERT_EQ(state->info.dataPresent, 1);
  Prepare(5000, true);
  ASSERT_EQ(Message(Frame(0)), "");
  EXPECT_EQ(state->info.dataPresent, 0);
  EXPECT_EQ(state->info.lastLag, -1);
  for (int b = 0; b < kLtpMaxBands; ++b) EXPECT_EQ(state->info.used[b], 0);
  for (int k = 0; k < kFrame; ++k) ASSERT_EQ(spectrum[k], original[k]);
}

// An eight-short frame sends nothing but moves the band-flag history, the
// pending resets and the counter on like any other.
TEST_F(LtpTest, EightShortFrameClearsItsDataButAdvances) {
  Open();
  Prepare(5000);
  ASSERT_EQ(Message(Frame(0)), "");
  ASSERT_EQ(state->info.dataPresent, 1);
  state->flagHistory[0][3] = 1;
  state->flagHistory[2][7] = 1;
  const long counter = state->frameCounter;
  Prepare(5000);
  ASSERT_EQ(Message(Frame(2)), "");
  EXPECT_EQ(state->info.dataPresent, 0);
  EXPECT_EQ(state->info.lastLag, -1);
  EXPECT_EQ(state->frameCounter, counter + 1);
  EXPECT_EQ(state->flagHistory[0][3], 0);
  EXPECT_EQ(state->flagHistory[1][3], 1);
  EXPECT_EQ(state->flagHistory[3][7], 1);
  for (int k = 0; k < kFrame; ++k) ASSERT_EQ(spectrum[k], original[k]);
}

// "ltpResetPeriod" 5: every band is kept from its source on frames 0, 5,
// 10 ... of the counter (short frames count too); in between prediction
// comes back once the marked frames have left the history.
TEST_F(LtpTest, ResetPeriodFiveMarksEveryFifthFrame) {
  Open(4, {"-ltpResetPeriod 5"});
  EXPECT_EQ(state->resetPeriod, 5);
  std::vector<int> resets, predicted;
  for (int f = 0; f < 12; ++f) {
    Prepare(5000);
    ASSERT_EQ(Message(Frame(f == 5 ? 2 : 0)), "") << f;
    if (state->pendingReset[1]) resets.push_back(f);  // set this frame, moved on by one
    if (state->info.dataPresent) predicted.push_back(f);
  }
  EXPECT_EQ(resets, (std::vector<int>{0, 5, 10}));
  // Frames 0 to 3 after a reset see it in every slot their lags reach.
  EXPECT_EQ(predicted, (std::vector<int>{4, 9}));
}

// Bands marked in the newest slot, and their neighbours, are not predicted.
TEST_F(LtpTest, MarkedSourceBandsAndNeighboursAreNotPredicted) {
  Open();
  Prepare(5000);
  ASSERT_EQ(Message(Frame(0)), "");
  std::vector<int> free;
  for (int b = 1; b + 1 < kLtpMaxBands; ++b)
    if (state->info.used[b]) free.push_back(b);
  ASSERT_FALSE(free.empty());
  const int marked = free[0];
  Prepare(5000);
  state->flagHistory[0][marked] = 1;
  ASSERT_EQ(Message(Frame(0)), "");
  ASSERT_EQ(state->info.dataPresent, 1);
  EXPECT_EQ(state->info.used[marked - 1], 0);
  EXPECT_EQ(state->info.used[marked], 0);
  EXPECT_EQ(state->info.used[marked + 1], 0);
}

TEST(LtpCoefficient, MidwayTakesTheLowerIndex) {
  int checked = 0;
  for (int i = 0; i + 1 < kLtpCoefficients; ++i) {
    const float lo = kLtpCoefficient[i], hi = kLtpCoefficient[i + 1], mid = 0.5f * (lo + hi);
    if (mid - lo != hi - mid) continue;  // not exactly midway in floats
    EXPECT_EQ(LtpCoefIndex(mid), i);
    ++checked;
  }
  EXPECT_GE(checked, 3);
  EXPECT_EQ(LtpCoefIndex(0.0f), 0);
  EXPECT_EQ(LtpCoefIndex(1.0f), 4);
  EXPECT_EQ(LtpCoefIndex(3.0f), 7);
}

// The history: the older frame moves down, the frame and the overlap go in
// rounded half away from zero and held to 16 bits, the last quarter is 0.
TEST(LtpHistory, UpdateShiftsRoundsAndClamps) {
  configure_params({});
  const AudioObject object = {1, 4};
  LtpState* s = nullptr;
  ASSERT_EQ(Message(LtpInit(&s, kFrame, 1, 0, &object)), "");
  for (int j = 0; j < 4 * kFrame; ++j) s->history[j] = 9;
  std::vector<float> full(kFrame, 0.0f), overlap(kFrame, 0.0f);
  const float values[] = {2.5f, -2.5f, 2.49f, 40000.0f, -40000.0f};
  for (int i = 0; i < 5; ++i) full[size_t(i)] = values[i], overlap[size_t(i)] = -values[i];
  s->history[kFrame + 1] = 77;
  LtpUpdateHistory(s, full.data(), overlap.data());
  EXPECT_EQ(s->history[1], 77);
  const int want[] = {3, -3, 2, 32767, -32768};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(s->history[kFrame + i], want[i]) << i;
    EXPECT_EQ(s->history[2 * kFrame + i], i == 3 ? -32768 : i == 4 ? 32767 : -want[i]) << i;
  }
  for (int j = 3 * kFrame; j < 4 * kFrame; ++j) ASSERT_EQ(s->history[j], 0);
  LtpFree(s);
  param_free_all();
}

TEST(Prediction, EveryCallSaysThereIsNone) {
  void* s = reinterpret_cast<void*>(1);
  EXPECT_EQ(Message(PredictionInit(&s, 4, 8)), "no prediction tool available");
  EXPECT_EQ(s, nullptr);
  EXPECT_EQ(Message(PredictionFrame(nullptr, nullptr)), "no prediction tool available");
  EXPECT_EQ(Message(PredictionFramePair(nullptr, nullptr, nullptr, nullptr)), "no prediction tool available");
  EXPECT_EQ(Message(PredictionReset(nullptr)), "no prediction tool available");
}

// ics_info of a long window: predictor_data_present, then ltp_data of the
// channel and, with a common window, of its partner; bits per case.
TEST(LtpWriter, IcsInfoCarriesTheChannelsPredictionData) {
  LtpSideInfo on{}, off{};
  on.dataPresent = 1, on.numBands = kLtpMaxBands, on.lastLag = 1203, on.coefIndex = 5;
  on.used[0] = on.used[2] = 1;
  off.numBands = kLtpMaxBands, off.lastLag = -1;
  AacChannelResult a{}, b{};
  a.maxSfb = b.maxSfb = 45;
  const struct {
    const LtpSideInfo *mine, *theirs;
    bool pair;
    long bits;
  } cases[] = {
      {nullptr, nullptr, false, 11},            // no prediction tool
      {&off, nullptr, false, 11},               // nothing predicted: the bit is 0
      {&on, nullptr, false, 11 + 1 + 14 + 40},  // one channel, 40 band bits at most
      {&on, &off, true, 11 + 1 + 14 + 40 + 1},  // partner without data
      {&off, &on, true, 11 + 1 + 1 + 14 + 40},
  };
  for (const auto& c : cases) {
    a.ltp = c.mine, b.ltp = c.theirs;
    BitBuffer* buf = bitbuf_create(1024);
    EXPECT_EQ(aac_write_ics_info(buf, &a, c.pair ? &b : nullptr), c.bits);
    EXPECT_EQ(long(bitbuf_bit_position(buf)), c.bits);
    if (c.mine == &on) {
      // reserved, window, shape, max_sfb; predictor and present bits, lag,
      // coefficient, the first used bits.
      const int widths[] = {10, 2, 11, 3, 3};
      const uint32_t want[] = {45, 3, 1203, 5, 5};
      for (int i = 0; i < 5; ++i) {
        uint32_t v = 0;
        bitbuf_read_bits(buf, widths[i], &v);
        EXPECT_EQ(v, want[i]) << i;
      }
    }
    bitbuf_free(buf);
  }
}

}  // namespace
