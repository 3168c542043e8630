// mp4info FILE: opens an MP4 content file the way the player does and lists
// what the player would see: content version, duration, clip texts, and per
// track its codec, time scale and samples (every sample is read). Exit code 0
// when the file opens and every sample reads; else the reader's error code.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"
#include "reader/mp4_error.h"
#include "reader/mp4_file.h"

using namespace reader;

namespace {

std::string text(SharedWideString* s) {
  if (!s) return "";
  std::string out = platform::utf16ToUtf8(s->view());
  s->Release();
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mp4info FILE\n");
    return 2;
  }
  SharedWideString* path = SharedWideString::Create(platform::utf8ToUtf16(argv[1]));
  std::unique_ptr<Mp4File> f(Mp4File::OpenFile(path));
  path->Release();
  if (!f) {
    std::fprintf(stderr, "mp4info: cannot open %s\n", argv[1]);
    return 1;
  }
  if (!f->ok()) {
    std::fprintf(stderr, "mp4info: %s: %s (%d)\n", argv[1], MP4FileErrorName(f->error()), f->error());
    return f->error() > 0 ? f->error() : 1;
  }
  const uint16_t version = f->GetContentVersion();
  std::printf("content version %u.%u%s, duration %u ms\n", version >> 8, version & 0xFF,
              Mp4File::LastOpenHadKrmm() ? " (maker content)" : "", f->GetDuration());
  std::printf("version text \"%s\", title \"%s\"\n", text(f->GetKrmmText1()).c_str(),
              text(f->GetKrmmText2()).c_str());

  uint32_t ids[16];
  const uint32_t n = f->GetTrackIds(ids, 16);
  int status = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t id = ids[i];
    std::vector<uint8_t> buf(f->GetMaxSampleSize(id) ? f->GetMaxSampleSize(id) : 1);
    uint32_t samples = 0;
    uint64_t bytes = 0;
    int32_t got;
    while ((got = f->ReadSample(id, buf.data(), uint32_t(buf.size()), nullptr)) > 0) {
      ++samples;
      bytes += uint32_t(got);
    }
    if (got < 0) status = 1;
    std::printf("track %u: %s, time scale %lld, media duration %u, %u samples, %llu bytes%s\n", id,
                text(f->GetTrackCodecName(id)).c_str(), static_cast<long long>(f->GetMediaTimescale(id)),
                f->GetMediaDuration(id), samples, static_cast<unsigned long long>(bytes),
                got < 0 ? " (a sample failed to read)" : "");
  }
  return status;
}
