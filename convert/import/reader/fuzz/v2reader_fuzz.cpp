// libFuzzer target: any bytes as a version-2 file; when it opens, every
// video and audio sample is read across layers and by layer, and the tracks
// are sought by time and by fraction.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/os.h"
#include "v2reader/mpeg4_file_v2_reader.h"

using v2reader::CMpeg4FileV2Reader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/v2reader_fuzz_" + std::to_string(getpid()) + ".mp4";
  static const struct Cleanup {
    ~Cleanup() { std::remove(path.c_str()); }
  } cleanup;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return 0;
  if (size) std::fwrite(data, 1, size, out);
  std::fclose(out);
  auto r = CMpeg4FileV2Reader::Open(platform::utf8ToUtf16(path));
  if (!r || !r->ok()) return 0;
  std::vector<uint8_t> buf(1 << 16);
  const int32_t n = int32_t(buf.size());
  for (int i = 0; i < 4096 && r->NextVideoSample(buf.data(), n) > 0; ++i) {
    uint8_t flags, layer;
    r->CurrentVideoHintRecord(&flags, &layer);
    r->CurrentVideoTimestamp();
  }
  for (int layer = 0; layer < 3; ++layer)
    for (int i = 0; i < 4096 && r->NextLayeredVideoSample(layer, buf.data(), n) > 0; ++i) {
    }
  for (int i = 0; i < 4096 && r->NextAudioSample(0, buf.data(), n) > 0; ++i) {
  }
  r->ResetPlayback();
  r->VideoSampleAtTime(1000, buf.data(), n);
  r->VideoSampleAt(0.5, buf.data(), n);
  r->AudioSampleAtTime(500, buf.data(), n, 0);
  r->AudioSampleAt(0.9, buf.data(), 8, 0);
  for (int k = -1; k < 3; ++k) {
    r->VolHeader(k);
    r->VideoBufferSize(k);
    r->AudioDuration(k);
  }
  return 0;
}
