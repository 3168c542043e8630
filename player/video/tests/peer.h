// Test streams made by ffmpeg at test time, ffmpeg's own decode of them, and
// the decoder run over them, compared by PSNR-Y.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vdectest {

// True when ffmpeg can be run (native builds; not under Wine).
bool ffmpegAvailable();

struct Clip {
  std::vector<uint8_t> stream;  // raw elementary stream
  std::vector<uint8_t> yuv;     // ffmpeg's decode, yuv420p frames at display size
  int width = 0, height = 0;
  int frames() const { return width ? int(yuv.size() / (size_t(width) * height * 3 / 2)) : 0; }
};

// Encodes frames of a test pattern of the given size with the encoder
// options (e.g. "-c:v mpeg4 -g 1"), format "m4v" or "h263", and decodes the
// result with ffmpeg. Empty stream on failure.
Clip makeClip(const std::string& encoderArgs, int width, int height, int frames,
              const std::string& format, const std::string& source = "testsrc2");

// Splits an MPEG-4 stream into access units, each ending after one VOP, and
// returns the configuration headers in front of the first GOV or VOP.
std::vector<std::vector<uint8_t>> splitMpeg4(const std::vector<uint8_t>& stream,
                                             std::vector<uint8_t>* config);
// Splits an H.263 stream at its picture start codes.
std::vector<std::vector<uint8_t>> splitH263(const std::vector<uint8_t>& stream);

double psnrY(const uint8_t* a, const uint8_t* b, int width, int height);

struct Result {
  int decoded = 0;  // pictures output
  int calls = 0;
  std::vector<double> psnr;  // per output picture against the peer's frame
  double mean() const;
  double worst() const;
};

// Decodes a clip access unit by access unit (one vdec_decode_frame each,
// timestamps from the stream) and compares every output picture with the
// peer's frame of the same index.
Result decodeAndCompare(const Clip& clip, bool shortHeader);
// The same on access units the caller supplies (damaged streams).
Result decodeUnits(const Clip& clip, bool shortHeader, const std::vector<uint8_t>& config,
                   const std::vector<std::vector<uint8_t>>& units);

}  // namespace vdectest
