#include "expected_pictures.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "elementary_streams.h"
#include "video/colour.h"
#include "video/vdec.h"

namespace e2e {

namespace {
int g_serial = 0;
}  // namespace

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

HostCommand::HostCommand(const std::string& command, const std::string& folder) {
  const std::string base =
      folder + "/e2e-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++g_serial);
  script = base + ".sh";
  done = base + ".done";
  std::remove(done.c_str());
  // Wine hands its own PATH on; the host's tools are in the usual places.
  std::ofstream(script, std::ios::binary) << "PATH=/usr/local/bin:/usr/bin:/bin\n"
                                          << command << "\necho $? > '" << done << ".part' && mv '" << done
                                          << ".part' '" << done << "'\n";
  std::wstring line = L"/bin/sh " + std::wstring(script.begin(), script.end());
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  PROCESS_INFORMATION pi = {};
  started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi);
  if (started) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

HostCommand::~HostCommand() {
  std::remove(script.c_str());
  std::remove(done.c_str());
}

bool HostCommand::Finished() const { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; }

int HostCommand::Wait(unsigned limitMs) const {
  const DWORD start = GetTickCount();
  while (started && !Finished()) {
    if (GetTickCount() - start > limitMs) return -1;
    Sleep(20);
  }
  return started ? std::atoi(ReadText(done).c_str()) : -1;
}

std::vector<Picture> ExpectedPictures(const std::string& m4v, double fps) {
  Bytes config;
  const auto samples = fileformat::tools::splitVideo(fileformat::tools::readAll(m4v), fps, &config);
  std::vector<Picture> out;
  VideoDecoder dec = {};
  const uint8_t* cfg[1] = {config.data()};
  const int32_t sizes[1] = {int32_t(config.size())};
  if (vdec_create(&dec, cfg, sizes, 1) != 1) return out;
  const int w = vdec_get_width(&dec), h = vdec_get_height(&dec);
  DisplayFormat source = {};
  source.bitsPerPixel = 12;
  source.width = w;
  source.height = h;
  source.kind = kDisplayKindPlanarYuv420;
  source.pitch = (w + 15) & ~15;
  source.rows = (h + 15) & ~15;
  DisplayFormat dest = {};
  dest.bitsPerPixel = 24;
  dest.width = dest.pitch = w;
  dest.height = dest.rows = h;
  dest.kind = kDisplayKindPackedRgb;
  ColorConverter24 converter(dest);
  const size_t area = size_t(source.pitch) * source.rows;
  for (const auto& s : samples) {
    Bytes unit = s.data;
    uint8_t* in[1] = {unit.data()};
    int32_t ts[1] = {int32_t(s.time)}, n[1] = {int32_t(unit.size())};
    if (vdec_decode_frame(&dec, in, ts, n, nullptr) != 1) continue;
    const uint8_t* y = vdec_get_output_frame(&dec);
    const uint8_t* planes[3] = {y, y + area, y + area + area / 4};
    Picture p{s.time, Bytes(size_t(w) * h * 3)};
    converter.Convert(planes, p.bgr.data(), 0, 0, dest, source, kConvertModePacked4);
    out.push_back(std::move(p));
  }
  vdec_destroy(&dec);
  return out;
}

}  // namespace e2e
