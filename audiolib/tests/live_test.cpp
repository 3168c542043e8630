// The live devices under Wine: playback through waveOut (PulseAudio's null
// sink) and capture through waveIn (its monitor), and their error paths.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>
#include <vector>

#include "helpers.h"

namespace {

AudioFileFormat live_format(int channels, int rate) {
  AudioFileFormat f = make_format(16, rate, channels, 32768.0);
  f.codecWords[3] = 1;  // playback switch
  return f;
}

// Power of `freq` in `x` relative to the signal's power (Goertzel).
double tone_share(const std::vector<int16_t>& x, double freq, int rate) {
  const double w = 2 * 3.14159265358979 * freq / rate, c = 2 * std::cos(w);
  double s1 = 0, s2 = 0, energy = 0;
  for (int16_t v : x) {
    const double s = v + c * s1 - s2;
    s2 = s1;
    s1 = s;
    energy += double(v) * v;
  }
  const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
  return energy > 0 ? 2 * power / (double(x.size()) * energy) : 0.0;
}

TEST(LiveDevices, PlaybackOpensOnceAndRefusesWhatItCannotPlay) {
  AudioFileHandle* a = nullptr;
  AudioFileHandle* b = nullptr;
  int type = AUDIOFILE_LIVE;
  AudioFileFormat f = live_format(1, 8000);
  ASSERT_EQ(audiofile_open(&a, "", AUDIOFILE_WRITE, &type, &f), 0) << "waveOut did not open";
  EXPECT_EQ(type, AUDIOFILE_LIVE);
  type = AUDIOFILE_LIVE;
  AudioFileFormat g = live_format(1, 8000);
  EXPECT_EQ(audiofile_open(&b, "", AUDIOFILE_WRITE, &type, &g), 6);  // one player at a time
  EXPECT_EQ(b, nullptr);
  // 1500 mono samples: one block of 1024 goes out, 476 wait; close plays them.
  std::vector<float> v(1500, 1000.0f);
  int written = 0;
  EXPECT_EQ(audiofile_write(a, v.data(), 1500, &written), 0);
  EXPECT_EQ(written, 1500);
  audiofile_close(a);
  // After close a new player may start; 8-bit playback is refused.
  type = AUDIOFILE_LIVE;
  g = live_format(1, 8000);
  g.bitsPerSample = 8;
  EXPECT_EQ(audiofile_open(&b, "", AUDIOFILE_WRITE, &type, &g), 6);
  type = AUDIOFILE_LIVE;
  g = live_format(2, 44100);
  ASSERT_EQ(audiofile_open(&b, "", AUDIOFILE_WRITE, &type, &g), 0);
  audiofile_close(b);
}

TEST(LiveDevices, ManyChannelPlaybackNeedsADeviceWithThem) {
  AudioFileHandle* h = nullptr;
  int type = AUDIOFILE_LIVE;
  AudioFileFormat f = live_format(64, 8000);
  EXPECT_EQ(audiofile_open(&h, "", AUDIOFILE_WRITE, &type, &f), 6);
  EXPECT_EQ(h, nullptr);
}

TEST(LiveDevices, CaptureErrorPaths) {
  AudioFileHandle* h = nullptr;
  int type = AUDIOFILE_LIVE;
  AudioFileFormat f = live_format(1, 8000);
  f.bitsPerSample = 24;
  EXPECT_EQ(audiofile_open(&h, "", AUDIOFILE_READ, &type, &f), 18);
  type = AUDIOFILE_LIVE;
  f = live_format(99, 8000);  // more channels than the device has
  EXPECT_EQ(audiofile_open(&h, "", AUDIOFILE_READ, &type, &f), 18);
  EXPECT_EQ(h, nullptr);
}

TEST(LiveDevices, ToneThroughPlaybackIsFoundInCapture) {
  constexpr int kRate = 8000;
  AudioFileHandle* in = nullptr;
  int type = AUDIOFILE_LIVE;
  AudioFileFormat f = live_format(1, kRate);
  ASSERT_EQ(audiofile_open(&in, "", AUDIOFILE_READ, &type, &f), 0) << "waveIn did not open";
  EXPECT_EQ(f.sampleRate, kRate);
  // Play three seconds of 1 kHz while capturing.
  std::thread player([] {
    AudioFileHandle* out = nullptr;
    int t = AUDIOFILE_LIVE;
    AudioFileFormat g = live_format(1, kRate);
    if (audiofile_open(&out, "", AUDIOFILE_WRITE, &t, &g) != 0) return;
    std::vector<float> tone(kRate * 3);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(16000.0 * std::sin(2 * 3.14159265358979 * 1000.0 * double(i) / kRate));
    audiofile_write(out, tone.data(), int(tone.size()), nullptr);
    audiofile_close(out);
  });
  std::vector<int16_t> got(size_t(kRate) * 4);
  int n = 0;
  // The first 4000 bytes arrive once a whole 32768-byte buffer is filled.
  ASSERT_EQ(audiofile_read_short(in, got.data(), int(got.size()), &n), 0);
  player.join();
  audiofile_close(in);
  EXPECT_EQ(n, int(got.size()));
  // Somewhere in what came back the tone dominates.
  double best = 0, other = 0;
  for (size_t at = 0; at + 1024 <= got.size(); at += 512) {
    const std::vector<int16_t> win(got.begin() + long(at), got.begin() + long(at) + 1024);
    best = std::max(best, tone_share(win, 1000.0, kRate));
    other = std::max(other, tone_share(win, 1375.0, kRate));
  }
  EXPECT_GT(best, 0.5) << "the tone was not captured";
  EXPECT_LT(other, 0.1);
}

}  // namespace
