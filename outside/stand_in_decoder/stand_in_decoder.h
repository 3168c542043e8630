// The decoder object of the stand-in audio decoder libraries. It does not
// decode: it pulls every frame the player offers, logs it, and plays for each
// frame a tone derived from the frame's bytes, for the frame's nominal
// duration (20 ms for AMR and EVRC, 1024 samples at the AudioSpecificConfig's
// rate for AAC), so that timing, buffering and the clock can be exercised.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "engine/decoder_library.h"

class StandInDecoder final : public CAIDecoder {
 public:
  enum Kind : uint32_t { kAmr = 0, kEvrc = 1, kAac = 2 };

  // log may be null; the decoder closes it.
  StandInDecoder(Kind kind, const char* name, AudioFrameSource* source, std::FILE* log);

  void Destroy(uint32_t flags) override;
  int32_t InitializeDecoder(AudioDecoderSettings* settings, uint32_t start, uint32_t end,
                            AudioCodecConfig* config) override;
  int32_t GetOutputFormat(AudioOutputFormat* format) override;
  int32_t Decode(uint32_t position, uint32_t* ignored, WaveBufferDesc* buffer) override;
  void Reset(uint32_t start, uint32_t end) override;
  void Stop() override;
  void SetSyncWindows(uint32_t first, uint32_t second) override;
  void GetStatistics(AudioDecoderStatistics* statistics) override;

  static uint32_t Adler32(const uint8_t* data, size_t n);

 private:
  ~StandInDecoder();
  void Log(const char* format, ...);
  // Turns one frame group into PCM; false when it is malformed.
  bool TakeFrame(const uint8_t* frame, uint32_t length, uint32_t timestamp, uint32_t status);
  void Tone(uint32_t hash, uint32_t sampleFrames);

  Kind kind;
  const char* name;
  AudioFrameSource* source;
  std::FILE* log;
  uint32_t rate = 8000, channels = 1;
  uint32_t start = 0, end = 0x7FFFFFFF;
  uint32_t buffers = 0;        // Decode calls that filled a buffer
  uint32_t framesThisBuffer = 0, msThisBuffer = 0;
  bool ended = false;
  double phase = 0;
  std::vector<uint8_t> frame;
  std::vector<int16_t> pcm;   // interleaved, waiting to be handed out
  size_t pcmRead = 0;
};
