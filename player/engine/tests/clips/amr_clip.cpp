// amr_clip IN.raw OUT.amr: codes 8 kHz 16-bit mono PCM with our AMR encoder
// at 12.2 kbit/s into an RFC 4867 storage file (".amr").
#include <cstdio>
#include <vector>

#include "amrenc/amrenc.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: amr_clip IN.raw OUT.amr\n");
    return 2;
  }
  std::FILE* in = std::fopen(argv[1], "rb");
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!in || !out) {
    std::fprintf(stderr, "amr_clip: cannot open the files\n");
    return 1;
  }
  AmrEncState* enc = nullptr;
  if (amr_enc_init(&enc, 0, "amr_clip") != 0) return 1;
  std::fwrite("#!AMR\n", 1, 6, out);
  int16_t speech[AMR_FRAME_SAMPLES];
  uint8_t if2[AMR_OUT_BYTES], stored[40];
  int frames = 0;
  while (std::fread(speech, sizeof(int16_t), AMR_FRAME_SAMPLES, in) == AMR_FRAME_SAMPLES) {
    int used = -1;
    if (amr_enc_frame(enc, AMR_MR122, speech, if2, &used) != 0) return 1;
    const int n = amr_if2_to_storage(if2, stored);
    if (n <= 0 || std::fwrite(stored, 1, static_cast<size_t>(n), out) != static_cast<size_t>(n)) return 1;
    ++frames;
  }
  amr_enc_exit(&enc);
  std::fclose(in);
  std::fclose(out);
  std::printf("amr_clip: %d frames\n", frames);
  return 0;
}
