// The handle and the steps shared by the front, the CD-image input and the
// live devices.
#pragma once

#include <cstdio>
#include <memory>

#include "audioobject.h"
#include "audiolib/audiofile.h"

struct AudioFileHandle {
  unsigned mode = 0;
  int type = 0;
  AudioFileFormat format{};
  std::unique_ptr<audiolib::AudioObject> object;
  int live = 0;  // kLiveCapture or kLivePlayback once a device was started
  FILE* file = nullptr;
};

namespace audiolib {

// An auError while opening, as a front code: 6 (short input) reading gives
// 18, 7 (short write) writing gives 19, anything else 22.
int open_failure_code(const auError& e, bool writing);

}  // namespace audiolib

// CD-image track (type 8); the format's bitrate word names the track.
int audiofile_open_ddp(AudioFileHandle* handle, const char* prefix, AudioFileFormat* format);
// Live devices (type 10): capture in mode 0, playback in mode 2.
int audiofile_open_capture(AudioFileHandle* handle, unsigned mode, AudioFileFormat* format);
int audiofile_open_playback(AudioFileHandle* handle, unsigned mode, const AudioFileFormat* format);
// Stops the capture thread and device (kLiveCapture) or drains and closes
// the player (kLivePlayback).
enum { kLiveCapture = 1, kLivePlayback = 2 };
void audiofile_live_stop(int which);
// Destroys an audio object; a writer completes its file first. Answers
// false when completing it failed.
bool audiofile_stream_delete(std::unique_ptr<audiolib::AudioObject> object);
