// mp4_amr_dump IN.mp4 OUT.amr: the GSM-AMR track of an MP4 content file, read
// with the player's reader, as an AMR storage file ("#!AMR\n" and the frames)
// that another decoder can judge. Prints the frame count. A sample holds one
// frame's speech bytes without a header; its length gives the frame type.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/os.h"
#include "reader/mp4_file.h"

using namespace reader;

namespace {

// Speech bytes of frame types 0 to 7 and of a silence descriptor (8).
const unsigned kSpeechBytes[9] = {12, 13, 15, 17, 19, 20, 26, 31, 5};

int FrameType(int32_t bytes) {
  for (int ft = 0; ft < 9; ++ft)
    if (kSpeechBytes[ft] == unsigned(bytes)) return ft;
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: mp4_amr_dump IN.mp4 OUT.amr\n");
    return 2;
  }
  SharedWideString* path = SharedWideString::Create(platform::utf8ToUtf16(argv[1]));
  std::unique_ptr<Mp4File> f(Mp4File::OpenFile(path));
  path->Release();
  if (!f || !f->ok()) {
    std::fprintf(stderr, "mp4_amr_dump: cannot read %s\n", argv[1]);
    return 1;
  }
  uint32_t ids[16];
  const uint32_t n = f->GetTrackIds(ids, 16);
  for (uint32_t i = 0; i < n; ++i) {
    SharedWideString* name = f->GetTrackCodecName(ids[i]);
    const std::string codec = name ? platform::utf16ToUtf8(name->view()) : "";
    if (name) name->Release();
    if (codec != "AMR") continue;
    FILE* out = std::fopen(argv[2], "wb");
    if (!out) return 1;
    std::fputs("#!AMR\n", out);
    std::vector<uint8_t> buf(f->GetMaxSampleSize(ids[i]) ? f->GetMaxSampleSize(ids[i]) : 1);
    int32_t got;
    unsigned frames = 0;
    while ((got = f->ReadSample(ids[i], buf.data(), uint32_t(buf.size()), nullptr)) > 0) {
      const int ft = FrameType(got);
      if (ft < 0) {
        std::fprintf(stderr, "mp4_amr_dump: a sample of %d bytes is no AMR frame\n", got);
        got = -1;
        break;
      }
      std::fputc(ft << 3 | 4, out);
      std::fwrite(buf.data(), 1, size_t(got), out);
      ++frames;
    }
    std::fclose(out);
    std::printf("%u AMR frames\n", frames);
    return got < 0 ? 1 : 0;
  }
  std::fprintf(stderr, "mp4_amr_dump: %s has no AMR track\n", argv[1]);
  return 1;
}
