// Random audio through the whole psychoacoustic model (psymain_frame) at
// each of the eleven operating points, mono or stereo: no threshold, energy
// or spectrum value may become NaN or infinite, thresholds stay positive,
// a frame's groups cover its windows, and nothing ends the process.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/psymain.h"

namespace {

struct Point {
  int bitrate;
  float rate;
  int channels;
};
const Point kPoints[] = {{16000, 22050, 1}, {24000, 24000, 1},  {32000, 22050, 2},
                         {48000, 32000, 2}, {56000, 32000, 2},  {64000, 44100, 2},
                         {96000, 44100, 2}, {112000, 44100, 2}, {128000, 48000, 2},
                         {64000, 44100, 2}, {128000, 44100, 2}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Point& p = kPoints[data[0] % 11];
  const float gain = float(1 << (data[1] & 15)) / 64.0f;
  data += 2;
  size -= 2;
  AacChannelMap map{};
  if (aac_channel_map_build(&map, p.channels, 0)) __builtin_trap();
  PsyMain* psy = nullptr;
  if (psymain_create(&psy, p.channels, 1, 1024, p.rate, p.bitrate, 0.0f, &map, 2)) __builtin_trap();
  std::vector<float> pcm(size_t(p.channels) * 1024);
  const size_t perFrame = pcm.size() * 2;
  for (size_t off = 0; off + perFrame <= size || off == 0; off += perFrame) {
    for (size_t i = 0; i < pcm.size(); ++i) {
      int16_t v = 0;
      if (off + 2 * i + 1 < size) std::memcpy(&v, data + off + 2 * i, 2);
      pcm[i] = float(v) * gain;
    }
    psymain_frame(psy, pcm.data());
    for (int ch = 0; ch < p.channels; ++ch) {
      const PsyOut& o = psy->chan[ch].out;
      int windows = 0;
      for (int g = 0; g < o.groups; ++g) windows += o.groupLength[g];
      if (windows != (o.blockType == 2 ? 8 : 1)) __builtin_trap();
      for (int g = 0; g < o.groups; ++g)
        for (int b = 0; b < o.bandsPerWindow; ++b) {
          const float e = o.energy[g * kPsyMaxBands + b], t = o.threshold[g * kPsyMaxBands + b];
          if (!std::isfinite(e) || !std::isfinite(t) || !(t > 0.0f)) __builtin_trap();
        }
      for (float v : o.spectrum)
        if (!std::isfinite(v)) __builtin_trap();
    }
    if (off + perFrame > size) break;
  }
  psymain_delete(psy);
  return 0;
}
