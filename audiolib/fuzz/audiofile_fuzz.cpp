// libFuzzer target of the readers: the first byte picks the path.
//  0..127: detection, the chunk engine (RIFF/RIFX, AIFF/AIFC), ".snd" and
//          raw readers over the bytes, every sample read through both paths;
//  128..255: a DDP image: the bytes are cut into the identification file,
//          the map stream, the subcode file and the image, and track 1..4
//          opened and read.
#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "audioobject.h"
#include "audiolib/audiofile.h"

using namespace audiolib;

namespace {

void fuzz_reader(const uint8_t* data, size_t size) {
  FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (!f) return;
  AudioDescriptor d;
  d.bits = 8 + (size % 4) * 8;
  try {
    auto reader = audiofile_create_reader(std::make_unique<FileInStream>(f), d);
    std::vector<float> fl(4096);
    std::vector<int16_t> sh(4096);
    for (int pass = 0; pass < 2; ++pass) {
      for (int64_t total = 0; total < (1 << 22);) {
        const int64_t got = pass ? reader->readShort(sh.data(), 4095) : reader->readFloat(fl.data(), 4095);
        if (got <= 0) break;
        total += got;
      }
      reader->restart();
    }
  } catch (const auError&) {
  }
  fclose(f);
}

void put(const std::string& path, const uint8_t* p, size_t n) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) return;
  fwrite(p, 1, n, f);
  fclose(f);
}

void fuzz_ddp(const uint8_t* data, size_t size) {
  static const std::string dir = "/tmp/audiolib_ddp_fuzz_" + std::to_string(getpid()) + "/";
  static bool made = false;
  if (!made) {
    made = true;
    std::string cmd = "mkdir -p " + dir;
    if (system(cmd.c_str()) != 0) return;
  }
  // Lengths of the first three pieces from the first bytes; the rest is the image.
  if (size < 4) return;
  const int track = 1 + data[0] % 4;
  size_t lens[3] = {128, size_t(data[1]) * 2, size_t(data[2]) * 2};
  const uint8_t* p = data + 3;
  size_t left = size - 3;
  const char* names[3] = {"DDPID", "DDPMS", "PQDESCR"};
  for (int i = 0; i < 3; ++i) {
    const size_t n = std::min(lens[i], left);
    put(dir + names[i], p, n);
    p += n;
    left -= n;
  }
  put(dir + "IMG", p, left);
  AudioFileFormat fmt{};
  fmt.bitrate = track;
  int type = AUDIOFILE_CD;
  AudioFileHandle* h = nullptr;
  if (audiofile_open(&h, dir.c_str(), AUDIOFILE_READ, &type, &fmt) == 0) {
    int16_t b[2048];
    for (int got = 0, total = 0; total < (1 << 20) && audiofile_read_short(h, b, 2048, &got) == 0 && got > 0;)
      total += got;
    audiofile_close(h);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  if (data[0] < 128)
    fuzz_reader(data + 1, size - 1);
  else
    fuzz_ddp(data + 1, size - 1);
  return 0;
}
