// The internal decoder's output file, through the audio file library.
#include <cstdlib>
#include <cstring>

#include "audiolib/audiofile.h"
#include "mp4aenc/param.h"
#include "mp4aenc/scalable.h"

namespace {
const char kModule[] = "mp4AEnc/mp4AACScalable/src/tfdec_file";
}

struct TfdecFile {
  AudioFileHandle* file;
};

ErrorRecord* tfdec_file_open(TfdecFile** out, int channels, long sampleRate) {
  *out = nullptr;
  char name[256] = "";
  char kind[32] = "";
  param_get_string("decOf", "decoder output file (tfdec.pcm)", nullptr, name, sizeof name);
  param_get_string("decFf", "decoder output file format: WAV or RIFF, else raw 16-bit PCM", nullptr, kind,
                   sizeof kind);
  if (!name[0]) return nullptr;  // no file configured: none kept
  AudioFileFormat f{};
  f.valid = 1;
  f.bitsPerSample = 16;
  f.sampleRate = int32_t(sampleRate);
  f.channels = channels;
  f.littleEndian = 1;
  f.scale = 32768.0;
  int type = std::strcmp(kind, "WAV") == 0 || std::strcmp(kind, "RIFF") == 0 ? AUDIOFILE_WAVE : AUDIOFILE_RAW;
  AudioFileHandle* h = nullptr;
  // A file that cannot be made is a failure of the encoder's creation, not
  // the end of the process.
  const int rc = audiofile_open(&h, name, AUDIOFILE_WRITE, &type, &f);
  if (rc != 0)
    return error_create(kModule, __LINE__, nullptr, "cannot create the decoder output file %s (code %d)", name, rc);
  *out = static_cast<TfdecFile*>(std::calloc(1, sizeof(TfdecFile)));
  if (!*out) {
    audiofile_close(h);
    return error_create(kModule, __LINE__, nullptr, "out of memory");
  }
  (*out)->file = h;
  return nullptr;
}

ErrorRecord* tfdec_file_write(TfdecFile* t, const float* samples, int count) {
  if (!t) return nullptr;
  int written = 0;
  if (audiofile_write(t->file, samples, count, &written) != 0)
    return error_create(kModule, __LINE__, nullptr, "error in internal decoder: %d of %d samples written", written,
                        count);
  return nullptr;
}

void tfdec_file_close(TfdecFile* t) {
  if (!t) return;
  audiofile_close(t->file);
  std::free(t);
}
