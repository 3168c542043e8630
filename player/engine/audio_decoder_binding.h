// The player's audio path for one clip: binds the outside decoder library of
// the track's codec by file name, configures it, runs the audio thread that
// has the library fill PCM buffers for the time they will be heard and
// queues them on the waveOut device, and sets the player clock each time a
// buffer has played. The library pulls compressed frames through ReadFrame.
//
// Threads: control calls on the engine's thread; the decode/sync loop,
// ReadFrame and the library's work on the audio thread (above normal
// priority); OnWaveDone on the device's callback thread. The words shared
// between them are single 32-bit values; runEvent gates the loop.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/decoder_library.h"
#include "engine_parts.h"

class MediaSource;
class PlayerContext;
class PlayerShellServices;
class WaveOutApi;
class WaveOutDevice;

class AudioDecoderBinding final : public AudioFrameSource, public AudioDecoder {
 public:
  static constexpr uint32_t kNoCodec = 3;
  static constexpr uint32_t kBufferCount = 3;

  // shell may be null (settings then read as absent); api null: waveOut.
  AudioDecoderBinding(PlayerContext* context, MediaSource* source, PlayerShellServices* shell,
                      WaveOutApi* api = nullptr);
  ~AudioDecoderBinding() override;

  uint32_t LoadCodec(const CodecEntry& codec, uint32_t startMs, uint32_t endMs, uint32_t trackId) override;
  uint32_t SelectTrack(uint32_t trackId);
  uint32_t OpenDevice() override;
  void SetPlayRange(uint32_t startMs, uint32_t endMs) override;
  uint32_t Start() override;
  uint32_t Pause() override;
  uint32_t Resume(int32_t positionMs) override;
  uint32_t Stop() override;
  void SetVolume(uint32_t volume) override;
  uint32_t GetVolume() const;

  uint32_t ReadFrame(uint8_t* buffer, uint32_t capacity, uint32_t* timestamp, uint32_t* length) override;
  static void OnWaveDone(void* self, uint32_t sequence);

  // The result of SetPlayRange, as the engine-facing call has none.
  uint32_t LastRangeResult() const { return lastRangeResult; }
  uint32_t CodecType() const { return codecType; }
  HMODULE Library() const { return library; }
  CAIDecoder* Decoder() const { return decoder; }
  WaveOutDevice* Device() const { return device; }
  uint32_t Configured() const { return configured; }
  uint32_t BufferMs() const { return bufferMs; }
  uint32_t BufferBytes() const { return bufferBytes; }
  uint32_t UnitsPerSecond() const { return settings.unitsPerSecond; }
  const AudioDecoderSettings& Settings() const { return settings; }
  const AudioOutputFormat& OutputFormat() const { return outputFormat; }
  uint32_t RangeStart() const { return rangeStart; }
  uint32_t RangeEnd() const { return rangeEnd; }
  uint32_t BuffersQueued() const { return buffersQueued; }
  uint32_t ResyncSequence() const { return resyncSequence; }
  uint32_t BaseTimeMs() const { return baseTimeMs; }
  uint32_t DecodePosition() const { return decodePosition; }
  uint32_t LoadCount() const { return loadCount; }
  HANDLE Thread() const { return thread; }

  // One buffer through the library: 0 go on, 1 end of stream (also after a
  // reported failure). Used by the loop; tests call it directly.
  uint32_t DecodeBuffer(WaveBufferDesc* buffer);
  // Sets the state a resynchronisation leaves, for tests of the clock.
  void SetResyncState(uint32_t buffersQueuedNow, uint32_t resyncAt, uint32_t baseMs);

 private:
  static DWORD WINAPI ThreadMain(LPVOID self);
  uint32_t SyncLoop();
  void ReleaseBinding();
  void ShowDebugBox(const char16_t* text, const char16_t* title);
  void WriteDebugLine(uint32_t line, const char* text);
  bool ReadDword(const char16_t* name, uint32_t* value);

  PlayerContext* context;
  MediaSource* source;
  PlayerShellServices* shell;
  WaveOutApi* api;
  HANDLE runEvent = nullptr;
  HANDLE thread = nullptr;
  DWORD threadId = 0;
  HMODULE library = nullptr;
  GetInterfaceFn* getInterface = nullptr;
  FreeInterfaceFn* freeInterface = nullptr;
  CAIDecoder* decoder = nullptr;
  uint32_t codecType = kNoCodec;
  WaveOutDevice* device = nullptr;
  AudioDecoderSettings settings = {};
  AudioCodecConfig codecConfig = {};
  AudioOutputFormat outputFormat = {};
  AudioDecoderStatistics statistics = {};
  uint32_t bufferMs = 200;
  uint32_t bufferBytes = 0;
  uint32_t volume = 40;
  uint32_t startTime = 0, endTime = 0;
  volatile uint32_t rangeStart = 0, rangeEnd = 0x7FFFFFFF;
  volatile uint32_t decodePosition = 0;
  volatile uint32_t baseTimeMs = 0;
  volatile uint32_t buffersQueued = 0;
  volatile uint32_t resyncSequence = 0;
  volatile uint32_t resyncPending = 0;
  volatile uint32_t configured = 0;
  volatile uint32_t rangePending = 0;
  uint32_t debugLevel = 0;
  uint32_t lipSync = 1;
  uint32_t syncWindowFirstMs = 350, syncWindowSecondMs = 250;
  uint32_t debugClockStarted = 0;
  uint32_t lastRangeResult = 0;
  uint32_t loadCount = 0;
};
