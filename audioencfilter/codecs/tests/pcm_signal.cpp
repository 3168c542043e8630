#include "pcm_signal.h"

#include <cmath>
#include <numbers>

std::vector<int16_t> tone(int rate, int channels, int frames, double hz, double amplitude) {
  std::vector<int16_t> pcm(size_t(frames) * size_t(channels));
  for (int i = 0; i < frames; ++i) {
    const double t = double(i) / rate;
    const double v = amplitude * std::sin(2 * std::numbers::pi * hz * t) * (0.75 + 0.25 * std::sin(2 * std::numbers::pi * 3 * t));
    for (int c = 0; c < channels; ++c) pcm[size_t(i) * size_t(channels) + size_t(c)] = int16_t(std::lrint(v));
  }
  return pcm;
}
