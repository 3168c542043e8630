#include "sequences.h"

#include <unistd.h>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace venctest {

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> readFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

fs::path scratchDir() {
  static int counter = 0;
  const fs::path dir = fs::temp_directory_path() /
                       ("venc-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
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

Sequence makeSequence(const std::string& source, int width, int height, int frames,
                      const std::string& filter) {
  Sequence seq;
  const fs::path dir = scratchDir();
  const fs::path yuv = dir / "seq.yuv";
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i " + source + "=size=" + size +
                          ":rate=25 " + (filter.empty() ? "" : "-vf " + filter + " ") +
                          "-frames:v " + std::to_string(frames) +
                          " -pix_fmt yuv420p -f rawvideo " + yuv.string();
  if (std::system(cmd.c_str()) == 0) {
    seq.yuv = readFile(yuv);
    seq.width = width;
    seq.height = height;
  }
  std::error_code ec;
  fs::remove_all(dir, ec);
  return seq;
}

Encoded encode(const Sequence& seq, const VencSettings& settings) {
  Encoded e;
  VideoEncoder enc;
  if (!venc_create(&enc, &settings)) return e;
  uint8_t cfg[VENC_MAX_CONFIG];
  const int n = venc_config(&enc, cfg, sizeof cfg);
  e.config.assign(cfg, cfg + n);
  std::vector<uint8_t> out(size_t(venc_max_frame_bytes(&enc)));
  const int w = seq.width, h = seq.height;
  e.ok = n > 0;
  for (int i = 0; i < seq.frames() && e.ok; ++i) {
    const uint8_t* f = seq.frame(i);
    const VencPicture pic{f, f + size_t(w) * h, f + size_t(w) * h * 5 / 4, w, w / 2};
    VencFrameInfo info{};
    const int bytes = venc_encode(&enc, &pic, uint32_t(i * 40), 0, out.data(), int32_t(out.size()), &info);
    if (bytes <= 0) {
      e.ok = false;
      break;
    }
    e.units.emplace_back(out.begin(), out.begin() + bytes);
    e.info.push_back(info);
    int cw, ch;
    const uint8_t* r = venc_reconstruction(&enc, &cw, &ch);
    std::vector<uint8_t> rec(seq.frameBytes());
    uint8_t* d = rec.data();
    for (int y = 0; y < h; ++y, d += w) std::memcpy(d, r + size_t(y) * cw, size_t(w));
    const uint8_t* u = r + size_t(cw) * ch;
    const uint8_t* v = u + size_t(cw) * ch / 4;
    for (const uint8_t* p : {u, v})
      for (int y = 0; y < h / 2; ++y, d += w / 2) std::memcpy(d, p + size_t(y) * (cw / 2), size_t(w / 2));
    e.recon.push_back(std::move(rec));
  }
  venc_destroy(&enc);
  return e;
}

PeerDecode ffmpegDecode(const Encoded& e, int width, int height) {
  PeerDecode p;
  const fs::path dir = scratchDir();
  const fs::path es = dir / "enc.m4v", yuv = dir / "dec.yuv", err = dir / "err.txt";
  {
    std::ofstream f(es, std::ios::binary);
    f.write(reinterpret_cast<const char*>(e.config.data()), std::streamsize(e.config.size()));
    for (const auto& u : e.units) f.write(reinterpret_cast<const char*>(u.data()), std::streamsize(u.size()));
  }
  char size[32];
  std::snprintf(size, sizeof size, "%dx%d", width, height);
  const std::string cmd = "ffmpeg -nostdin -v error -xerror -y -threads 1 -f m4v -i " + es.string() +
                          " -f rawvideo -pix_fmt yuv420p -s " + size + " " + yuv.string() + " 2>" +
                          err.string();
  const int r = std::system(cmd.c_str());
#ifdef _WIN32
  p.exitCode = r;
#else
  p.exitCode = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
#endif
  const auto errs = readFile(err);
  p.errors.assign(errs.begin(), errs.end());
  p.yuv = readFile(yuv);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return p;
}

double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = double(a[i]) - double(b[i]);
    se += d * d;
  }
  if (se == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 * double(n) / se);
}

}  // namespace venctest
