// Test sequences made by ffmpeg at test time, the encoder run over them, and
// ffmpeg's decode of the result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "videoenc/venc.h"

namespace venctest {

// True when ffmpeg can be run (native builds; not under Wine).
bool ffmpegAvailable();

struct Sequence {
  int width = 0, height = 0;
  std::vector<uint8_t> yuv;  // yuv420p frames
  size_t frameBytes() const { return size_t(width) * height * 3 / 2; }
  int frames() const { return width ? int(yuv.size() / frameBytes()) : 0; }
  const uint8_t* frame(int i) const { return yuv.data() + size_t(i) * frameBytes(); }
};

// frames pictures of a lavfi source ("testsrc2", "mandelbrot", ...) at 25
// pictures per second, with an optional filter chain (e.g. "scroll=h=0.01").
Sequence makeSequence(const std::string& source, int width, int height, int frames,
                      const std::string& filter = "");

struct Encoded {
  std::vector<uint8_t> config;
  std::vector<std::vector<uint8_t>> units;  // one VOP each
  std::vector<VencFrameInfo> info;
  std::vector<std::vector<uint8_t>> recon;  // display-size reconstruction per picture
  bool ok = false;
};

// Encodes every picture (times at the sequence's 25 pictures per second).
Encoded encode(const Sequence& seq, const VencSettings& settings);

struct PeerDecode {
  int exitCode = -1;
  std::string errors;
  std::vector<uint8_t> yuv;
};
// ffmpeg -xerror over config + units as a raw stream, decoded to yuv420p.
PeerDecode ffmpegDecode(const Encoded& e, int width, int height);

double psnr(const uint8_t* a, const uint8_t* b, size_t n);

}  // namespace venctest
