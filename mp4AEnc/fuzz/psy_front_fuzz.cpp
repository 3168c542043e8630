// Random audio through the front of the psychoacoustic model at each of the
// eleven operating points: analysis windows, MDCT, block switching, window-
// shape adaptation and the synthesis filterbank. Nothing may become NaN or
// infinite, every decision must be a valid sequence with a grouping of
// eight windows, and nothing may end the process.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mp4aenc/common.h"
#include "mp4aenc/filterbank.h"
#include "mp4aenc/psy_conf.h"
#include "mp4aenc/sw_cont.h"
#include "mp4aenc/window.h"

namespace {

struct Point {
  int bitratePerChannel;
  float rate;
  int mode;
};
const Point kPoints[] = {{16000, 22050, 1}, {24000, 24000, 1}, {16000, 22050, 0},
                         {24000, 32000, 0}, {28000, 32000, 0}, {32000, 44100, 0},
                         {48000, 44100, 0}, {56000, 44100, 0}, {64000, 48000, 0},
                         {32000, 44100, 0}, {64000, 44100, 0}};

void check(const float* x, int n) {
  for (int i = 0; i < n; ++i)
    if (!std::isfinite(x[i])) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const Point& p = kPoints[data[0] % 11];
  const int shortShape = data[1] & 1, longShape = (data[1] >> 1) & 1;
  const float gain = float(1 << ((data[1] >> 2) & 15)) / 64.0f;  // -36 .. +48 dB
  data += 2;
  size -= 2;
  const int frames = 4;
  std::vector<float> pcm(size_t(1024) * (frames + 2), 0.0f);
  for (size_t i = 0; i + 1 < size && i / 2 < pcm.size(); i += 2) {
    int16_t v;
    std::memcpy(&v, data + i, 2);
    pcm[i / 2] = float(v) * gain;
  }

  // The configurations are built once: they depend on the point only.
  static PsyConf* confs[11];
  PsyConf*& conf = confs[data[-2] % 11];
  if (!conf && psy_conf_create(&conf, 1024, p.rate, p.bitratePerChannel, 0.0f, p.mode, 2))
    __builtin_trap();  // every point must build
  SwCont* sw = nullptr;
  WsAdapt* wsa = nullptr;
  WindowObject* adapted = nullptr;
  WindowObject* w[4] = {};
  FloatFifo* shortFifo = nullptr;
  if (sw_cont_create(&sw, conf, 8, 0) || ws_adapt_create(&wsa, &adapted, 2048, 0, 0, conf, 8, 1) ||
      fifo_create(&shortFifo, 24, 256))
    __builtin_trap();
  for (int i = 0; i < 24; ++i) fifo_push_zero(shortFifo);
  const int left[4] = {longShape, longShape, shortShape, shortShape};
  const int right[4] = {longShape, shortShape, shortShape, longShape};
  for (int s = 0; s < 4; ++s)
    if (window_create(&w[s], s == 2 ? 256 : 2048, s, left[s], right[s], 1, 8)) __builtin_trap();

  std::vector<float> block(2048), spectrum(1024), out(1024), overlap(1024, 0.0f), sb(256);
  for (int f = 0; f < frames; ++f) {
    const float* frame = pcm.data() + size_t(f) * 1024;
    for (int i = 0; i < 8; ++i) {
      std::memcpy(sb.data(), frame + 448 + 128 * i, sizeof(float) * 256);
      window_apply(w[2], sb.data());
      dft_mdct_phase(sb.data(), 256);
      check(sb.data(), 256);
      fifo_push(shortFifo, sb.data());
    }
    int seq = -1;
    lowPeRatioHist(sw, shortFifo, &seq, 8);
    if (seq < 0 || seq > 3) __builtin_trap();
    int sum = 0;
    for (int g = 0; g < sw->grouping.count; ++g) sum += sw->grouping.lengths[g];
    if (sum != 8) __builtin_trap();
    WindowObject* chosen = nullptr;
    if (ErrorRecord* err = winShapeHist(wsa, 0, shortFifo, &chosen, 8)) __builtin_trap();
    check(chosen->coefficients, 2048);
    if (seq == 2) {
      for (int k = 0; k < 8; ++k) {
        std::memcpy(sb.data(), frame + 448 + 128 * k, sizeof(float) * 256);
        window_apply(w[2], sb.data());
        dft_mdct_phase(sb.data(), 256);
        for (int j = 0; j < 128; ++j) spectrum[size_t(k * 128 + j)] = 2.0f * sb[size_t(2 * j)];
      }
    } else {
      std::memcpy(block.data(), frame, sizeof(float) * 2048);
      window_apply(w[seq], block.data());
      dft_mdct_phase(block.data(), 2048);
      for (int j = 0; j < 1024; ++j) spectrum[size_t(j)] = 2.0f * block[size_t(2 * j)];
    }
    check(spectrum.data(), 1024);
    filterbank_window_frame(spectrum.data(), out.data(), overlap.data(), unsigned(seq), 1024, 128, 8,
                            w[seq]->coefficients);
    check(out.data(), 1024);
    check(overlap.data(), 1024);
  }
  for (WindowObject* x : w) object_free(x);
  fifo_free(shortFifo);
  ws_adapt_free(wsa);
  sw_cont_free(sw);
  return 0;
}
