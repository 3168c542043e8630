#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/thr_chan.h"
#include "mp4aenc/window.h"

namespace {

// Feeds the spectra FIFOs as the driver does (sine windows, complex MDCT)
// and runs the threshold stage of one channel.
class Model {
 public:
  Model(int bitratePerChannel, float rate, int mode) {
    param_free_all();
    EXPECT_EQ(psy_conf_create(&conf, 1024, rate, bitratePerChannel, 0.0f, mode, 2), nullptr);
    EXPECT_EQ(thr_chan_create(&thr, conf, 8), nullptr);
    EXPECT_EQ(fifo_create(&longFifo, 3, 2048), nullptr);
    EXPECT_EQ(fifo_create(&shortFifo, 24, 256), nullptr);
    for (int i = 0; i < 3; ++i) fifo_push_zero(longFifo);
    for (int i = 0; i < 24; ++i) fifo_push_zero(shortFifo);
    EXPECT_EQ(window_create(&longWin, 2048, 0, 0, 0, 0, 8), nullptr);
    EXPECT_EQ(window_create(&shortWin, 256, 2, 0, 0, 0, 8), nullptr);
  }
  ~Model() {
    object_free(longWin);
    object_free(shortWin);
    fifo_free(longFifo);
    fifo_free(shortFifo);
    thr_chan_delete(thr);
    psy_conf_delete(conf);
  }
  // One frame: the 2048 samples from `block` (the frame's long block).
  void frame(const float* block) {
    std::vector<float> b(block, block + 2048);
    window_apply(longWin, b.data());
    dft_mdct_phase(b.data(), 2048);
    fifo_push(longFifo, b.data());
    for (int k = 0; k < 8; ++k) {
      std::vector<float> s(block + 448 + 128 * k, block + 448 + 128 * k + 256);
      window_apply(shortWin, s.data());
      dft_mdct_phase(s.data(), 256);
      fifo_push(shortFifo, s.data());
    }
    thr_chan_fft(thr, longFifo, shortFifo);
    thr_chan_threshold(thr, longFifo, shortFifo, nullptr, 0);
    thr_chan_after_tns(thr, nullptr, 0);
  }
  void run(const std::vector<float>& signal, int frames) {
    for (int f = 0; f < frames; ++f) frame(signal.data() + size_t(f) * 1024);
  }
  double ratioDb(int band) const {
    return 10.0 * std::log10(double(thr->bandEnergy[0][band]) / thr->bandThreshold[0][band]);
  }
  int bandOf(float hz) const {
    const SfbParamSet& s = *conf->longParam->sfb;
    const int line = int(hz / (conf->longParam->sampleRate / 2) * 1024);
    int b = 0;
    while (s.offsets[b + 1] <= line) ++b;
    return b;
  }
  PsyConf* conf = nullptr;
  ThrChan* thr = nullptr;
  FloatFifo* longFifo = nullptr;
  FloatFifo* shortFifo = nullptr;
  WindowObject* longWin = nullptr;
  WindowObject* shortWin = nullptr;
};

std::vector<float> tone(float hz, float rate, float amp, int frames) {
  std::vector<float> s(size_t(frames + 1) * 1024);
  for (size_t i = 0; i < s.size(); ++i) s[i] = amp * std::sin(2.0f * 3.14159265f * hz * float(i) / rate);
  return s;
}

std::vector<float> noise(float amp, int frames, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-amp, amp);
  std::vector<float> s(size_t(frames + 1) * 1024);
  for (float& v : s) v = u(rng);
  return s;
}

TEST(ThresholdStage, TonesAreMaskedFarBelowTheirEnergyNoiseNearIt) {
  Model tonal(32000, 44100, 0), noisy(32000, 44100, 0);
  tonal.run(tone(1000.0f, 44100, 10000.0f, 8), 8);
  noisy.run(noise(10000.0f, 8, 1), 8);
  const int b = tonal.bandOf(1000.0f);
  const double toneRatio = tonal.ratioDb(b), noiseRatio = noisy.ratioDb(b);
  EXPECT_GT(toneRatio, 15.0) << "band " << b;
  // tmn 17 dB against a minimum SNR of 11.5 dB there.
  EXPECT_GT(toneRatio, noiseRatio + 5.0);
  // Noise: the threshold sits a few to some 20 dB under the energy in every
  // coded band (the minimum SNR falls with frequency).
  const int coded = noisy.bandOf(12000.0f);
  for (int band = 2; band < coded; ++band) {
    EXPECT_GT(noisy.ratioDb(band), 2.0) << band;
    EXPECT_LT(noisy.ratioDb(band), 26.0) << band;
  }
}

TEST(ThresholdStage, HostileSignalsStayFiniteAtEveryPoint) {
  struct Point {
    int bitrate;
    float rate;
    int mode;
  } points[] = {{16000, 22050, 1}, {24000, 24000, 1}, {16000, 22050, 0}, {24000, 32000, 0},
                {28000, 32000, 0}, {32000, 44100, 0}, {48000, 44100, 0}, {56000, 44100, 0},
                {64000, 48000, 0}, {32000, 44100, 0}, {64000, 44100, 0}};
  std::vector<std::vector<float>> signals;
  signals.push_back(std::vector<float>(6 * 1024, 0.0f));             // silence
  signals.push_back(noise(32767.0f, 5, 2));                           // full-scale noise
  signals.push_back(std::vector<float>(6 * 1024, 32767.0f));         // DC
  std::vector<float> click(6 * 1024, 0.0f);
  click[2500] = 32767.0f;
  signals.push_back(click);
  for (const Point& p : points) {
    for (size_t s = 0; s < signals.size(); ++s) {
      Model m(p.bitrate, p.rate, p.mode);
      for (int f = 0; f < 5; ++f) {
        m.frame(signals[s].data() + size_t(f) * 1024);
        const CbParam& cb = *m.conf->longCb;
        for (int i = 0; i < cb.count; ++i) {
          ASSERT_TRUE(std::isfinite(m.thr->longBlock.threshold[i])) << p.rate << " signal " << s;
          ASSERT_GT(m.thr->longBlock.threshold[i], 0.0f);
          ASSERT_TRUE(std::isfinite(m.thr->longBlock.tonality[i]));
        }
        for (int w = 0; w < 8; ++w)
          for (int i = 0; i < m.conf->shortCb->count; ++i)
            ASSERT_TRUE(std::isfinite(m.thr->shortBlock[w].threshold[i]));
        for (int b = 0; b < m.conf->longParam->sfb->numBands; ++b) {
          ASSERT_TRUE(std::isfinite(m.thr->bandThreshold[0][b]));
          ASSERT_TRUE(std::isfinite(m.thr->bandEnergy[0][b]));
        }
      }
    }
  }
}

}  // namespace
