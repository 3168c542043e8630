// The audio file library's front: one handle over sound files, standard
// input and output, CD images and the live sound devices. Plain functions
// answering integer codes (0 = success).
#pragma once

#include <cstddef>
#include <cstdint>

// The format record a caller passes and gets back: sixteen 32-bit words.
struct AudioFileFormat {
  int32_t valid;          // nonzero: the caller gives the format
  int32_t bitsPerSample;
  int32_t sampleRate;     // per channel
  int32_t channels;
  int32_t length;         // samples over all channels (set by readers)
  int16_t littleEndian;   // numbers in the file: 1 little-endian, 0 big-endian
  int16_t spare;
  double scale;           // full-scale value of float samples
  int32_t bitrate;        // MP3/AAC WAVE on writing; track number for CD images
  // Extension words of compressed WAVE formats (file offsets 36..63). For the
  // live devices: [2] (offset 44) the capture source, [3] (offset 48) the
  // playback switch.
  int32_t codecWords[7];
};
static_assert(sizeof(AudioFileFormat) == 64, "the format record is sixteen words");
static_assert(offsetof(AudioFileFormat, scale) == 24 && offsetof(AudioFileFormat, bitrate) == 32 &&
              offsetof(AudioFileFormat, codecWords) == 36, "format record layout");

// The caller's type codes (in/out of audiofile_open).
enum AudioFileType {
  AUDIOFILE_DETECT = 0,     // reading: detect; writing: by extension
  AUDIOFILE_AIFF = 1,       // written as AIFC
  AUDIOFILE_AIFC = 2,
  AUDIOFILE_WAVE = 3,       // RIFF or RIFX on reading, RIFF PCM on writing
  AUDIOFILE_SND = 4,
  AUDIOFILE_RAW = 5,        // headerless PCM
  AUDIOFILE_WAVE_MPEG = 6,  // format tag 85
  AUDIOFILE_WAVE_AAC = 7,   // format tag 384, writing only
  AUDIOFILE_CD = 8,         // a track of a DDP 2.00 image, reading only
  AUDIOFILE_ANY = 9,        // reading: accept whatever is detected; writing: raw 8-bit
  AUDIOFILE_LIVE = 10,      // the capture or playback device
};

// Open modes.
enum : unsigned {
  AUDIOFILE_READ = 0,
  AUDIOFILE_READ_STDIN = 1,
  AUDIOFILE_WRITE = 2,
  AUDIOFILE_WRITE_STDOUT = 3,
};

struct AudioFileHandle;

// Opens `path` (or standard input/output) in `mode`; `type` and `format` are
// in/out. On failure nothing stays open, *handle is left null and the code
// (1..22) is returned.
int audiofile_open(AudioFileHandle** handle, const char* path, unsigned mode, int* type,
                   AudioFileFormat* format);
// Writes `count` interleaved float samples; 19 when the handle is not open
// for writing or fewer were written. A null handle does nothing.
int audiofile_write(AudioFileHandle* handle, const float* samples, int count, int* written);
// Reads up to `count` interleaved float samples into `samples`; *got receives
// how many arrived (0 at the end). 18 when the handle is not open for reading.
int audiofile_read(AudioFileHandle* handle, float* samples, int count, int* got);
// The same on the 16-bit scale.
int audiofile_read_short(AudioFileHandle* handle, int16_t* samples, int count, int* got);
// Stops live devices, completes a written file, closes and frees. Null is fine.
void audiofile_close(AudioFileHandle* handle);

// Writer choice by a file name's extension: 0 AIFF, 1 AIFC, 2 WAVE, 3 SND,
// 4 raw, 5 WAVE MPEG, 6 WAVE AAC.
int audiofile_type_from_extension(const char* name);

// Diagnostics to standard error above level 1 (the readers' header dumps).
extern int audiofile_log_level;
