// The front: open, write, read and close over the readers and writers, the
// CD-image input and the live devices.
#include <cstring>
#include <new>

#include "audiofile_internal.h"

using namespace audiolib;

int audiofile_log_level = 0;

namespace audiolib {

int open_failure_code(const auError& e, bool writing) {
  if (!writing && e.code == 6) return 18;
  if (writing && e.code == 7) return 19;
  return 22;
}

}  // namespace audiolib

bool audiofile_stream_delete(std::unique_ptr<AudioObject> object) {
  if (!object) return true;
  try {
    object->finish();
  } catch (const auError& e) {
    fprintf(stderr, "audiofile: the file could not be completed (error %d)\n", e.code);
    return false;
  } catch (const std::exception&) {
    fprintf(stderr, "audiofile: the file could not be completed\n");
    return false;
  }
  return true;
}

int audiofile_type_from_extension(const char* name) {
  const char* ext = std::strrchr(name, '.');
  if (!ext) return 4;
  static const struct {
    const char* ext;
    int code;
  } kTable[] = {{".aifc", 1}, {".aif", 0}, {".wav", 2}, {".au", 3}, {".snd", 3},
                {".pcm", 4},  {".mp3", 5}, {".aac", 6}};
  for (const auto& e : kTable)
    if (std::strncmp(ext, e.ext, std::strlen(e.ext)) == 0) return e.code;
  return 4;
}

namespace {

// Reader types 0..6 are caller codes 1..7.
int read_open(AudioFileHandle* h, const char* path, unsigned mode) {
  FILE* f = mode == AUDIOFILE_READ_STDIN ? stdin : fopen(path, "rb");
  if (!f) return 1;
  h->file = f;
  AudioDescriptor d;
  if (h->format.valid) {
    d.bits = h->format.bitsPerSample;
    d.rate = h->format.sampleRate;
    d.channels = h->format.channels;
    d.length = h->format.length;
    d.littleEndian = h->format.littleEndian != 0;
  }
  d.scale = h->format.scale;
  try {
    h->object = audiofile_create_reader(std::make_unique<FileInStream>(f), d);
  } catch (const auError& e) {
    return open_failure_code(e, false);
  } catch (const std::bad_alloc&) {
    return 2;
  } catch (const std::exception&) {
    return 22;
  }
  if (d.type < kAiff || d.type > kWaveAac) return 4;
  h->type = d.type + 1;
  h->format.bitsPerSample = d.bits;
  h->format.sampleRate = d.rate;
  h->format.channels = d.channels;
  h->format.length = int32_t(std::min<int64_t>(d.length, INT32_MAX));
  h->format.littleEndian = d.littleEndian ? 1 : 0;
  h->format.valid = 1;
  return 0;
}

int write_open(AudioFileHandle* h, const char* path, unsigned mode, int* type) {
  if (!h->format.valid) return 5;
  static const int kWriterOfCode[] = {-1, kAiff, kAifc, kWavePcm, kSnd, kRawPcm, kWaveMpeg, kWaveAac, -1, kRaw8};
  AudioDescriptor d;
  if (*type == 0) {
    const int code = audiofile_type_from_extension(path ? path : "");
    if (code < 0 || code > 6) return 4;
    *type = code + 1;
    d.type = code;
  } else if (*type > 0 && *type < 10 && kWriterOfCode[*type] >= 0) {
    d.type = kWriterOfCode[*type];
  } else {
    return 6;
  }
  d.bits = *type == AUDIOFILE_ANY ? 8 : h->format.bitsPerSample;
  d.rate = h->format.sampleRate;
  d.channels = h->format.channels;
  d.littleEndian = h->format.littleEndian != 0;
  d.scale = h->format.scale;
  d.bitrate = h->format.bitrate;
  std::memcpy(d.codecWords, h->format.codecWords, sizeof d.codecWords);
  FILE* f = mode == AUDIOFILE_WRITE_STDOUT ? stdout : fopen(path, "wb");
  if (!f) return 19;
  h->file = f;
  try {
    h->object = audiofile_create_writer(std::make_unique<FileOutStream>(f), d);
  } catch (const auError& e) {
    return open_failure_code(e, true);
  } catch (const std::bad_alloc&) {
    return 2;
  } catch (const std::exception&) {
    return 22;
  }
  if (!h->object) return 6;
  h->format.bitsPerSample = d.bits;
  h->format.sampleRate = d.rate;
  h->format.channels = d.channels;
  h->format.littleEndian = d.littleEndian ? 1 : 0;
  return 0;
}

// The requested reading type against the detected one; 0 to go on.
int resolve_read_type(AudioFileHandle* h, int requested, bool callerFormat, AudioFileFormat* format) {
  const int detected = h->type;
  const bool headerless = detected == AUDIOFILE_RAW;
  if (requested == AUDIOFILE_DETECT) {
    if (headerless && !callerFormat) return 6;
    return 0;
  }
  if (requested == AUDIOFILE_ANY) return 0;
  if (requested == detected && (!headerless || callerFormat)) return 0;
  format->valid = 0;
  return 6;
}

int open_handle(AudioFileHandle* h, const char* path, unsigned mode, int* type, AudioFileFormat* format) {
  const bool callerFormat = format->valid != 0;
  if (mode == AUDIOFILE_WRITE || mode == AUDIOFILE_WRITE_STDOUT) {
    if (*type == AUDIOFILE_LIVE) {
      // A live write without the playback switch plays nothing: refused.
      if (format->codecWords[3] == 0) return 6;
      const int rc = audiofile_open_playback(h, mode, format);
      if (rc == 0) h->type = AUDIOFILE_LIVE;
      return rc;
    }
    const int rc = write_open(h, path, mode, type);
    if (rc == 0) h->type = *type;
    return rc;
  }
  if (mode > AUDIOFILE_READ_STDIN) return 4;
  if (*type == AUDIOFILE_LIVE) {
    const int rc = audiofile_open_capture(h, mode, format);
    if (rc == 0) h->type = AUDIOFILE_LIVE;
    return rc;
  }
  if (*type == AUDIOFILE_CD) {
    if (mode != AUDIOFILE_READ) return 4;
    format->littleEndian = 1;
    h->format.littleEndian = 1;
    const int rc = audiofile_open_ddp(h, path, format);
    if (rc == 0) h->type = AUDIOFILE_CD;
    return rc;
  }
  int rc = read_open(h, path, mode);
  if (rc != 0) return rc;
  rc = resolve_read_type(h, *type, callerFormat, format);
  if (rc != 0) return rc;
  if (*type != AUDIOFILE_DETECT) h->type = *type;
  return 0;
}

void release(AudioFileHandle* h) {
  if (h->live) audiofile_live_stop(h->live);
  audiofile_stream_delete(std::move(h->object));
  if (h->file) fclose(h->file);
  delete h;
}

}  // namespace

int audiofile_open(AudioFileHandle** handle, const char* path, unsigned mode, int* type, AudioFileFormat* format) {
  if (handle) *handle = nullptr;
  if (!handle || !type || !format) return 4;
  auto* h = new (std::nothrow) AudioFileHandle;
  if (!h) return 2;
  h->mode = mode;
  if (format->valid)
    h->format = *format;
  else
    h->format.scale = 1.0;
  const int rc = open_handle(h, path, mode, type, format);
  if (rc != 0) {
    h->object.reset();  // a writer that failed to open leaves its file as it is
    release(h);
    return rc;
  }
  *type = h->type;
  *format = h->format;
  *handle = h;
  return 0;
}

int audiofile_write(AudioFileHandle* h, const float* samples, int count, int* written) {
  if (!h) return 0;
  if (h->mode != AUDIOFILE_WRITE && h->mode != AUDIOFILE_WRITE_STDOUT) return 19;
  int64_t done = 0;
  try {
    done = h->object->writeFloat(samples, count);
  } catch (const std::exception&) {
    done = 0;
  } catch (const auError&) {
    done = 0;
  }
  if (written) *written = int(done);
  return done < count ? 19 : 0;
}

template <typename T>
static int read_any(AudioFileHandle* h, T* samples, int count, int* got) {
  if (got) *got = 0;
  if (!h || (h->mode != AUDIOFILE_READ && h->mode != AUDIOFILE_READ_STDIN) || !h->object) return 18;
  int64_t n = 0;
  try {
    if constexpr (sizeof(T) == 2)
      n = h->object->readShort(samples, count);
    else
      n = h->object->readFloat(samples, count);
  } catch (const auError&) {
    return 18;
  } catch (const std::exception&) {
    return 18;
  }
  if (got) *got = int(n);
  return 0;
}

int audiofile_read(AudioFileHandle* h, float* samples, int count, int* got) { return read_any(h, samples, count, got); }
int audiofile_read_short(AudioFileHandle* h, int16_t* samples, int count, int* got) {
  return read_any(h, samples, count, got);
}

void audiofile_close(AudioFileHandle* h) {
  if (h) release(h);
}
