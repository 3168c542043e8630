// vdec_speed FILE [PASSES]: decodes an MPEG-4 visual elementary stream
// (.m4v) PASSES times and prints pictures per second. A plain
// program, so the Windows builds can be timed under Wine beside ffmpeg.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "peer.h"
#include "video/vdec.h"

using namespace vdectest;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vdec_speed FILE.m4v [PASSES]\n");
    return 2;
  }
  const std::string path = argv[1];
  const int passes = argc > 2 ? std::atoi(argv[2]) : 10;
  std::ifstream f(path, std::ios::binary);
  const std::vector<uint8_t> stream((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (stream.empty() || passes < 1) {
    std::fprintf(stderr, "vdec_speed: cannot read %s\n", path.c_str());
    return 1;
  }
  std::vector<uint8_t> config;
  const auto units = splitMpeg4(stream, &config);

  int64_t pictures = 0;
  std::vector<uint8_t> buf;
  const auto start = std::chrono::steady_clock::now();
  for (int p = 0; p < passes; ++p) {
    VideoDecoder dec;
    const uint8_t* cfg[1] = {config.data()};
    const int32_t sizes[1] = {int32_t(config.size())};
    const int rc = vdec_create(&dec, cfg, sizes, 1);
    if (rc != 1) {
      std::fprintf(stderr, "vdec_speed: the decoder refused the stream (%d)\n", rc);
      return 1;
    }
    for (const auto& u : units) {
      buf.assign(u.begin(), u.end());
      uint8_t* in[1] = {buf.data()};
      int32_t ts[1] = {-1};
      int32_t size[1] = {int32_t(buf.size())};
      pictures += vdec_decode_frame(&dec, in, ts, size, nullptr);
    }
    vdec_destroy(&dec);
  }
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%lld pictures in %.3f s: %.0f pictures/s\n", (long long)pictures, s, double(pictures) / s);
  return 0;
}
