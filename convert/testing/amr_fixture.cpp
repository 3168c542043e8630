#include "amr_fixture.h"

#include <cmath>
#include <cstdio>

#include "amrenc/amrenc.h"

namespace convert_testing {

std::vector<uint8_t> MakeAmr(int frames, int mode) {
  std::vector<uint8_t> out = {'#', '!', 'A', 'M', 'R', '\n'};
  AmrEncState* st = nullptr;
  if (amr_enc_init(&st, 0, "fixture") != 0) return {};
  for (int f = 0; f < frames; ++f) {
    int16_t pcm[AMR_FRAME_SAMPLES];
    for (int i = 0; i < AMR_FRAME_SAMPLES; ++i) {
      double t = (f * AMR_FRAME_SAMPLES + i) / 8000.0;
      pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * 3.14159265358979 * 440 * t));
    }
    uint8_t if2[AMR_OUT_BYTES];
    int used = -1;
    if (amr_enc_frame(st, mode, pcm, if2, &used) != 0) break;
    uint8_t storage[40];
    int n = used >= 0 ? amr_if2_to_storage(if2, storage) : 0;
    out.insert(out.end(), storage, storage + n);
  }
  amr_enc_exit(&st);
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
  std::fclose(f);
  return out;
}

}  // namespace convert_testing
