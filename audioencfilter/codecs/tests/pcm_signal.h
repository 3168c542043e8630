// Test signals for the codec objects: interleaved 16-bit PCM.
#pragma once

#include <cstdint>
#include <vector>

// A tone (plus a slower second one, so that speech coders see some
// movement) at `rate`, `channels` interleaved, `frames` sample frames.
std::vector<int16_t> tone(int rate, int channels, int frames, double hz = 440.0, double amplitude = 8000.0);
