// The players the engine drives besides its source: the audio decoder with
// its waveOut device, the video decode and playout thread, and the clock.
// Their own subsystems implement them; the engine creates them through
// EngineParts so that the program decides which implementations run.
#pragma once

#include <cstdint>

class MediaSource;
class PlayerContext;
class TickClock;

// One row of the audio codec table.
struct CodecEntry {
  uint32_t type;
  char16_t displayName[32];
  char16_t shortName[5];
  char16_t libraryFile[33];
  uint32_t available;  // 1 when the library could be loaded at start
};

class AudioDecoder {
 public:
  virtual ~AudioDecoder() = default;
  virtual uint32_t LoadCodec(const CodecEntry& codec, uint32_t startMs, uint32_t endMs,
                             uint32_t trackId) = 0;
  virtual uint32_t OpenDevice() = 0;
  virtual void SetPlayRange(uint32_t startMs, uint32_t endMs) = 0;
  virtual uint32_t Start() = 0;
  virtual uint32_t Pause() = 0;
  // positionMs >= 0: resumed at a new position (a resynchronisation).
  virtual uint32_t Resume(int32_t positionMs) = 0;
  virtual uint32_t Stop() = 0;
  virtual void SetVolume(uint32_t volume) = 0;
};

class VideoThread {
 public:
  virtual ~VideoThread() = default;
  virtual uint32_t Start() = 0;
  virtual uint32_t Pause() = 0;
  virtual uint32_t Resume(int32_t positionMs) = 0;
  virtual uint32_t Stop() = 0;
  virtual void GetVideoSize(uint32_t* width, uint32_t* height) = 0;
  virtual uint32_t Repaint(uint32_t contentFlags) = 0;
  virtual void SetDisplayMode(uint32_t mode) = 0;
};

class EngineParts {
 public:
  virtual ~EngineParts() = default;
  virtual TickClock* NewClock() = 0;
  // kind: 1 file, 2 stream, 3 download; null when the kind cannot be made.
  virtual MediaSource* NewSource(uint32_t kind, PlayerContext* context) = 0;
  virtual AudioDecoder* NewAudioDecoder(PlayerContext* context, MediaSource* source) = 0;
  virtual VideoThread* NewVideoThread(PlayerContext* context, MediaSource* source) = 0;
  // Milliseconds of the system tick count; the start-up time limit runs on it.
  virtual uint32_t TickCount() = 0;
};
