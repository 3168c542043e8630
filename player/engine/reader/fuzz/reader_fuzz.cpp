// libFuzzer target: any bytes as an MP4 file; when it opens, every sample of
// every track is read, in single reads and runs, and the tracks are sought.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"
#include "reader/mp4_file.h"

using namespace reader;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/mp4reader_fuzz_" + std::to_string(getpid()) + ".mp4";
  static const struct Cleanup {
    ~Cleanup() { std::remove(path.c_str()); }
  } cleanup;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return 0;
  if (size) std::fwrite(data, 1, size, out);
  std::fclose(out);
  SharedWideString* wide = SharedWideString::Create(platform::utf8ToUtf16(path));
  std::unique_ptr<Mp4File> f(Mp4File::OpenFile(wide));
  wide->Release();
  if (!f || !f->ok()) return 0;
  uint32_t ids[16];
  const uint32_t n = f->GetTrackIds(ids, 16);
  std::vector<uint8_t> buf(1 << 16);
  for (uint32_t i = 0; i < n; ++i) {
    for (int k = 0; k < 4096 && f->ReadSample(ids[i], buf.data(), uint32_t(buf.size()), nullptr) != 0; ++k) {
    }
    f->ResetTracks();
    SampleRequest r;
    r.bufferCount = 2;
    r.buffers[0] = {100, buf.data()};
    r.buffers[1] = {uint32_t(buf.size() - 100), buf.data() + 100};
    uint32_t count = 10;
    f->PeekSamples(ids[i], &count, &r);
    count = 10;
    f->ReadSamples(ids[i], &count, &r);
    f->GetTrackCodecName(ids[i])->Release();
  }
  f->SeekTracks(1000, n, ids);
  f->SeekTracks(0xFFFFFFFF, n, ids);
  return 0;
}
