// Builds without the waveform-audio devices (the portable one): type 10
// says so instead of pretending to play or record.
#include "../audiofile_internal.h"

int audiofile_open_capture(AudioFileHandle*, unsigned mode, AudioFileFormat*) {
  if (mode != AUDIOFILE_READ) return 4;
  fprintf(stderr, "audiofile: no live capture device in this build\n");
  return 18;
}

int audiofile_open_playback(AudioFileHandle*, unsigned mode, const AudioFileFormat* format) {
  if (mode != AUDIOFILE_WRITE) return 4;
  if (!format->valid) return 5;
  fprintf(stderr, "audiofile: no live playback device in this build\n");
  return 6;
}

void audiofile_live_stop(int) {}
