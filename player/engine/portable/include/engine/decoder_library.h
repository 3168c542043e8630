// The interface between the player and its outside audio decoder libraries
// ("krgsmamr.dll", "krevrc.dll", "kraac.dll"): the two exports, the decoder
// object they hand out, the frame source the player lends it, and the records
// both sides fill. Layouts are fixed; pointer fields are pointer-sized, so
// the 64-bit player needs 64-bit libraries.
#pragma once

#include <cstddef>
#include <cstdint>

struct AudioDecoderSettings {
  uint32_t sampleRate;      // 8000 for AMR and EVRC, 0 for AAC; the library may set it
  uint8_t channels;         // 1 for AMR and EVRC, 2 for AAC
  uint8_t reserved[3];
  uint32_t unitsPerSecond;  // the audio track's time scale
  uint32_t zero1;
  uint32_t zero2;
  uint32_t flag;            // 0 for AMR, 1 for EVRC and AAC
};
static_assert(sizeof(AudioDecoderSettings) == 24);
static_assert(offsetof(AudioDecoderSettings, unitsPerSecond) == 8);
static_assert(offsetof(AudioDecoderSettings, flag) == 20);

// AAC only: the track's AudioSpecificConfig.
struct AudioCodecConfig {
  const uint8_t* data;
  uint32_t length;
};
static_assert(sizeof(void*) != 4 || sizeof(AudioCodecConfig) == 8);

struct AudioOutputFormat {
  uint32_t sampleRate;
  uint8_t channels;
  uint8_t reserved[3];
  uint32_t bitsPerSample;
};
static_assert(sizeof(AudioOutputFormat) == 12);

// One PCM buffer to fill. hasAudio is 1 on entry; a library that leaves no
// audio in the buffer sets it to 0 and the player plays silence.
struct WaveBufferDesc {
  uint8_t* data;
  uint32_t capacity;
  uint32_t reserved;
  uint32_t hasAudio;
};
static_assert(sizeof(void*) != 4 || sizeof(WaveBufferDesc) == 16);

// The player reads the words at 4 ("D") and 12 ("A").
struct AudioDecoderStatistics {
  uint32_t words[12];
};
static_assert(sizeof(AudioDecoderStatistics) == 48);

// Results of Decode.
enum DecodeResult : int32_t {
  kDecodeFilled = 0,
  kDecodeEnd = 3,
  kDecodeEndToo = 4,
  kDecodeWarning = 5,
  kDecodeNoMemory = -1,
  kDecodeCorrupt = -4,
};

// What ReadFrame answers the library.
enum ReadFrameStatus : uint32_t {
  kReadDelivered = 0,
  kReadResync = 1,
  kReadEnd = 3,
  kReadNotNow = 4,
};

// The decoder object; the slots are in this order on both sides. Slot 0 is
// the deleting destructor, which takes a flag (1: free the object); it is a
// plain virtual here because a C++ destructor takes two slots in g++.
class CAIDecoder {
 public:
  virtual void Destroy(uint32_t flags) = 0;
  // 0 success, -1 out of memory, other values failure. start and end are in
  // track units; end 0x7FFFFFFF is open.
  virtual int32_t InitializeDecoder(AudioDecoderSettings* settings, uint32_t start, uint32_t end,
                                    AudioCodecConfig* config) = 0;
  virtual int32_t GetOutputFormat(AudioOutputFormat* format) = 0;
  // Fills the buffer with the PCM to be heard from position (track units).
  virtual int32_t Decode(uint32_t position, uint32_t* ignored, WaveBufferDesc* buffer) = 0;
  virtual void Reset(uint32_t start, uint32_t end) = 0;
  virtual void Stop() = 0;
  virtual void SetSyncWindows(uint32_t first, uint32_t second) = 0;
  virtual void GetStatistics(AudioDecoderStatistics* statistics) = 0;

 protected:
  ~CAIDecoder() = default;
};

// What the player lends the library: its only slot hands out the next
// compressed frame (a group of samples) with its time stamp in track units.
class AudioFrameSource {
 public:
  virtual uint32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t* timestamp, uint32_t* length) = 0;

 protected:
  ~AudioFrameSource() = default;
};

// The two exports, undecorated on both targets.
extern "C" {
typedef void GetInterfaceFn(CAIDecoder** decoder, AudioFrameSource* source);
typedef void FreeInterfaceFn(CAIDecoder** decoder);
}
