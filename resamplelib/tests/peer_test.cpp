// 44.1 kHz stereo to 8 kHz mono through the codec objects' chain, judged
// against ffmpeg's soxr resampler (the same stereo-to-mono average first).
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "signal.h"

namespace {

const double kPi = 3.14159265358979323846;
const std::vector<double> kTones = {250.0, 1000.0, 2200.0, 3300.0};

double db(double ratio) { return 20.0 * std::log10(ratio); }

TEST(ResamplePeerTest, InBandTonesMatchSoxrAndTheResidualIsSmall) {
  const std::vector<int16_t> input = stereo_tones(44100, 3.0, kTones, 6000.0);
  std::vector<int16_t> peer;
  if (!ffmpeg_convert(input, 44100, "pan=mono|c0=0.5*c0+0.5*c1,aresample=8000:resampler=soxr", &peer))
    GTEST_SKIP() << "ffmpeg not reachable";
  const std::vector<double> ours = to_double(convert_chain(input, 44100, 8000, 160));
  const std::vector<double> ref = to_double(peer);
  ASSERT_GT(ours.size(), 20000u);
  ASSERT_GT(ref.size(), 20000u);
  const size_t from = 2000, to = 20000;

  std::vector<std::complex<double>> a, b;
  for (double f : kTones) {
    a.push_back(tone_amplitude(ours, 8000, f, from, to));
    b.push_back(tone_amplitude(ref, 8000, f, from, to));
    EXPECT_NEAR(db(std::abs(a.back()) / std::abs(b.back())), 0.0, 0.2) << f << " Hz";
  }
  // Align: the delay (in output samples) that best maps the peer's tones
  // onto ours, coarse then fine.
  auto mismatch = [&](double tau) {
    double e = 0;
    for (size_t k = 0; k < kTones.size(); ++k)
      e += std::norm(a[k] - b[k] * std::polar(1.0, -2 * kPi * kTones[k] * tau / 8000));
    return e;
  };
  double best = 0;
  for (double tau = -100.0; tau <= 100.0; tau += 0.01)
    if (mismatch(tau) < mismatch(best)) best = tau;
  const double coarse = best;
  for (double tau = coarse - 0.01; tau <= coarse + 0.01; tau += 0.0001)
    if (mismatch(tau) < mismatch(best)) best = tau;
  // The design's pass-band gain is 0.99 (-0.09 dB); alignment takes one
  // common level as well as the delay.
  std::complex<double> num = 0;
  double den = 0;
  for (size_t k = 0; k < kTones.size(); ++k) {
    std::complex<double> bk = b[k] * std::polar(1.0, -2 * kPi * kTones[k] * best / 8000);
    num += std::conj(bk) * a[k];
    den += std::norm(bk);
  }
  const double gain = num.real() / den;
  EXPECT_NEAR(gain, 0.99, 0.01);
  // Residual: ours minus the aligned peer, over the steady part.
  double signal = 0, residual = 0;
  for (size_t n = from; n < to; ++n) {
    double model = 0;
    for (size_t k = 0; k < kTones.size(); ++k)
      model += gain * (b[k] * std::polar(1.0, 2 * kPi * kTones[k] * (double(n) - best) / 8000)).real();
    signal += ours[n] * ours[n];
    residual += (ours[n] - model) * (ours[n] - model);
  }
  const double residualDb = 10 * std::log10(residual / signal);
  std::printf("residual against soxr after alignment: %.1f dB (delay %.4f samples, gain %.4f)\n",
              residualDb, best, gain);
  EXPECT_LT(residualDb, -40.0);
}

TEST(ResamplePeerTest, ToneAboveTheNewNyquistIsRejected) {
  // Measured on the converter's float output: the 16-bit chain truncates
  // everything that small to zero. 6 kHz folds to 2 kHz at 8 kHz; 4.5 kHz,
  // just past the transition band, folds to 3.5 kHz.
  for (double f : {6000.0, 4500.0}) {
    const double rejection = alias_rejection_db(f);
    std::printf("alias rejection at %.0f Hz: %.1f dB\n", f, rejection);
    EXPECT_GE(rejection, f == 6000.0 ? 80.0 : 60.0) << f << " Hz";
  }
  // Through the 16-bit chain nothing of it is left above one step, away
  // from the tone's abrupt start and end (whose splatter reaches the band).
  const std::vector<int16_t> chain = convert_chain(stereo_tones(44100, 1.0, {6000.0}, 16000.0), 44100, 8000, 160);
  ASSERT_GE(chain.size(), 8000u);
  for (size_t n = 500; n < 7900; ++n) ASSERT_LE(std::abs(chain[n]), 1) << n;
}

}  // namespace
