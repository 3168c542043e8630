// The waveOut output of the audio path: PCM through the wave mapper, a ring
// of a few large buffers, a callback thread that receives the device's
// completions, the milliseconds queued and not yet heard, and a completion
// callback with each played buffer's sequence number. It knows nothing of
// clocks or codecs.
//
// Threads: the audio thread calls everything but the completion handling,
// which runs on the callback thread; the counters change through
// interlocked operations and freeEvent wakes the audio thread.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

class PlayerContext;

// The waveOut calls the device makes; tests put their own in.
class WaveOutApi {
 public:
  virtual ~WaveOutApi() = default;
  virtual UINT GetNumDevs() { return waveOutGetNumDevs(); }
  virtual MMRESULT Open(HWAVEOUT* out, UINT device, const WAVEFORMATEX* format, DWORD_PTR callback,
                        DWORD_PTR instance, DWORD flags) {
    return waveOutOpen(out, device, format, callback, instance, flags);
  }
  virtual MMRESULT Prepare(HWAVEOUT h, WAVEHDR* w) { return waveOutPrepareHeader(h, w, sizeof(WAVEHDR)); }
  virtual MMRESULT Unprepare(HWAVEOUT h, WAVEHDR* w) { return waveOutUnprepareHeader(h, w, sizeof(WAVEHDR)); }
  virtual MMRESULT Write(HWAVEOUT h, WAVEHDR* w) { return waveOutWrite(h, w, sizeof(WAVEHDR)); }
  virtual MMRESULT Pause(HWAVEOUT h) { return waveOutPause(h); }
  virtual MMRESULT Restart(HWAVEOUT h) { return waveOutRestart(h); }
  virtual MMRESULT Reset(HWAVEOUT h) { return waveOutReset(h); }
  virtual MMRESULT Close(HWAVEOUT h) { return waveOutClose(h); }
  virtual MMRESULT SetVolume(HWAVEOUT h, DWORD v) { return waveOutSetVolume(h, v); }
  virtual MMRESULT Position(HWAVEOUT h, MMTIME* t) { return waveOutGetPosition(h, t, sizeof(MMTIME)); }
  // The pause between two attempts on a busy device.
  virtual void Sleep(DWORD ms) { ::Sleep(ms); }

  static WaveOutApi* System();
};

class WaveOutDevice {
 public:
  typedef void (*Completion)(void* context, uint32_t sequence);
  static constexpr int kOpenAttempts = 5;
  static constexpr DWORD kBusyPauseMs = 250;

  // ok is 1 when the format is acceptable (mono or stereo, 8000 Hz or more,
  // whole bytes per sample). api null: the system's waveOut.
  WaveOutDevice(uint32_t* ok, uint32_t channels, uint32_t samplesPerSecond, uint32_t bitsPerSample,
                PlayerContext* context, uint32_t bufferCount, WaveOutApi* api = nullptr);
  ~WaveOutDevice();
  WaveOutDevice(const WaveOutDevice&) = delete;
  WaveOutDevice& operator=(const WaveOutDevice&) = delete;

  void SetCallback(Completion completion, void* context);
  // 1 opened; 0 not (also when already open, which clears the counters).
  uint32_t Open();
  // One data block per ring slot, kept for the device's life.
  bool AllocateBuffers(uint32_t bytesPerBuffer);
  // The next slot's data, or null while every buffer is written.
  uint8_t* GetFreeBuffer();
  // 1 written, 0 refused (nothing advances).
  uint32_t QueueBuffer(uint32_t sequence);
  void Pause();
  void Restart();
  // Every written buffer comes back through the callback thread.
  void Flush();
  void CloseDevice();
  void SetVolume(uint32_t percent);
  uint32_t GetVolume() const;
  // Waits up to ms for a free buffer; true when one is free.
  bool WaitFree(DWORD ms);

  bool IsOpen() const { return handle != nullptr; }
  // Bytes the device has played since it opened or was last reset.
  uint32_t PlayedBytes();
  uint32_t QueuedMs() const { return static_cast<uint32_t>(queuedMs); }
  uint32_t Outstanding() const { return static_cast<uint32_t>(buffersOutstanding); }
  uint32_t VolumeWord() const { return volumeWord; }
  uint32_t BytesPerSecond() const { return bytesPerSecond; }
  uint32_t BufferBytes() const { return bufferBytes; }
  DWORD CallbackThreadId() const { return callbackThreadId; }

 private:
  struct WaveBuffer {
    uint32_t capacity = 0;
    uint8_t* data = nullptr;
    WAVEHDR header = {};
    bool prepared = false;
  };
  static DWORD WINAPI CallbackThread(LPVOID self);
  void OnDone(WAVEHDR* header);
  bool StartCallbackThread();
  void EndCallbackThread();
  // Waits (bounded) for every written buffer to come back.
  void AwaitReturns(DWORD limitMs);
  void FreeBuffers();
  void ClearCounters();

  WaveOutApi* api;
  PlayerContext* context;
  HANDLE freeEvent = nullptr;
  HANDLE callbackThread = nullptr;
  HANDLE queueReady = nullptr;
  volatile DWORD callbackThreadId = 0;
  HWAVEOUT handle = nullptr;
  WAVEFORMATEX format = {};
  volatile LONG buffersOutstanding = 0;
  volatile LONG queuedMs = 0;
  uint32_t bufferCount;
  Completion completion = nullptr;
  void* completionContext = nullptr;
  uint32_t volumeWord = 50;
  uint32_t bytesPerSecond = 0;
  uint32_t bufferBytes = 0;
  uint32_t ringIndex = 0;
  WaveBuffer* buffers = nullptr;
};
