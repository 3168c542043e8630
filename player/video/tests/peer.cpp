#include "peer.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>

#include "video/vdec.h"

namespace vdectest {

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

fs::path scratchDir() {
  static int counter = 0;
  const fs::path dir = fs::temp_directory_path() /
                       ("vdec-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
  fs::create_directories(dir);
  return dir;
}

}  // namespace

bool ffmpegAvailable() {
#ifdef _WIN32
  return false;
#else
  static const int ok = std::system("ffmpeg -version >/dev/null 2>&1") == 0;
  return ok;
#endif
}

Clip makeClip(const std::string& encoderArgs, int width, int height, int frames,
              const std::string& format, const std::string& source) {
  Clip clip;
  const fs::path dir = scratchDir();
  const fs::path es = dir / ("clip." + format);
  const fs::path yuv = dir / "clip.yuv";
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  // One encoder thread unless the options name a count: ffmpeg cuts a slice
  // (a video packet) per thread, and the stream must not depend on how many
  // cores the machine has. In data-partitioned mode slices are the only
  // packets it writes, so those cases ask for four threads.
  const std::string enc = "ffmpeg -nostdin -v error -y -f lavfi -i " + source + "=size=" + size +
                          ":rate=25 -frames:v " + std::to_string(frames) + " -pix_fmt yuv420p -threads 1 " +
                          encoderArgs + " -f " + format + " " + es.string();
  const std::string dec = "ffmpeg -nostdin -v error -y -threads 1 -i " + es.string() +
                          " -f rawvideo -pix_fmt yuv420p " + yuv.string();
  if (std::system(enc.c_str()) == 0 && std::system(dec.c_str()) == 0) {
    clip.stream = readFile(es);
    clip.yuv = readFile(yuv);
    clip.width = width;
    clip.height = height;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return clip;
}

std::vector<std::vector<uint8_t>> splitMpeg4(const std::vector<uint8_t>& s,
                                             std::vector<uint8_t>* config) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 3 < s.size(); ++i)
    if (!s[i] && !s[i + 1] && s[i + 2] == 1) starts.push_back(i);
  std::vector<std::vector<uint8_t>> units;
  size_t begin = 0;
  bool seenVop = false;
  bool configDone = false;
  for (size_t k = 0; k < starts.size(); ++k) {
    const uint8_t code = s[starts[k] + 3];
    if (!configDone && (code == 0xB3 || code == 0xB6)) {
      if (config) config->assign(s.begin(), s.begin() + long(starts[k]));
      configDone = true;
    }
    if (seenVop) {  // the first start code after a VOP ends the unit
      units.emplace_back(s.begin() + long(begin), s.begin() + long(starts[k]));
      begin = starts[k];
      seenVop = false;
    }
    if (code == 0xB6) seenVop = true;
  }
  if (begin < s.size()) units.emplace_back(s.begin() + long(begin), s.end());
  return units;
}

std::vector<std::vector<uint8_t>> splitH263(const std::vector<uint8_t>& s) {
  std::vector<size_t> starts;
  for (size_t i = 0; i + 2 < s.size(); ++i)
    if (!s[i] && !s[i + 1] && (s[i + 2] & 0xFC) == 0x80) starts.push_back(i);
  std::vector<std::vector<uint8_t>> units;
  for (size_t k = 0; k < starts.size(); ++k) {
    const size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
    units.emplace_back(s.begin() + long(starts[k]), s.begin() + long(end));
  }
  return units;
}

double psnrY(const uint8_t* a, const uint8_t* b, int width, int height) {
  double se = 0;
  const size_t n = size_t(width) * height;
  for (size_t i = 0; i < n; ++i) {
    const double d = double(a[i]) - double(b[i]);
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * double(n) / se);
}

double Result::mean() const {
  if (psnr.empty()) return 0;
  double s = 0;
  for (double p : psnr) s += p;
  return s / double(psnr.size());
}

double Result::worst() const {
  double w = std::numeric_limits<double>::infinity();
  for (double p : psnr) w = std::min(w, p);
  return psnr.empty() ? 0 : w;
}

Result decodeUnits(const Clip& clip, bool shortHeader, const std::vector<uint8_t>& config,
                   const std::vector<std::vector<uint8_t>>& units) {
  Result res;
  VideoDecoder dec;
  int ok;
  if (shortHeader) {
    ok = vdec_create_single(&dec, (clip.width + 15) & ~15, (clip.height + 15) & ~15);
  } else {
    const uint8_t* cfg[1] = {config.data()};
    const int32_t sizes[1] = {int32_t(config.size())};
    ok = vdec_create(&dec, cfg, sizes, 1);
  }
  if (!ok) return res;
  const size_t frameBytes = size_t(clip.width) * clip.height * 3 / 2;
  std::vector<uint8_t> out(frameBytes);
  for (const auto& u : units) {
    std::vector<uint8_t> buf(u);
    uint8_t* in[1] = {buf.data()};
    int32_t ts[1] = {-1};
    int32_t size[1] = {int32_t(buf.size())};
    ++res.calls;
    // A unit may hold more than one picture; decode until it is used up.
    while (size[0] > 0) {
      ts[0] = -1;
      const int32_t before = size[0];
      dec.outputPicture = nullptr;
      const int r = vdec_decode_frame(&dec, in, ts, size, out.data());
      if (r == 1 && vdec_get_output_frame(&dec) != nullptr) {
        if (size_t(res.decoded) < clip.yuv.size() / frameBytes) {
          res.psnr.push_back(psnrY(out.data(), clip.yuv.data() + size_t(res.decoded) * frameBytes,
                                   clip.width, clip.height));
        }
        ++res.decoded;
      }
      if (r == 0 || size[0] >= before) break;
    }
  }
  vdec_destroy(&dec);
  return res;
}

Result decodeAndCompare(const Clip& clip, bool shortHeader) {
  std::vector<uint8_t> config;
  const auto units = shortHeader ? splitH263(clip.stream) : splitMpeg4(clip.stream, &config);
  return decodeUnits(clip, shortHeader, config, units);
}

}  // namespace vdectest
