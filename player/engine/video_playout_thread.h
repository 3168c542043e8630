// The video side of one opened clip: a worker thread that pulls access units
// from the source (one or two layers), decodes them, and shows each picture
// at its time against the player clock: more than 120 ms late it is decoded
// but not shown, 50 ms or more early it is held until due. It owns its run
// event, thread, renderer and decoder; the engine drives it through
// `VideoThread` (engine_parts.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "engine_parts.h"
#include "video/display_format.h"
#include "video/vdec.h"

class MediaSource;
class PlayerContext;
class PlayerShellServices;
class VideoRenderer;

class VideoPlayoutThread : public VideoThread {
 public:
  static constexpr uint32_t kMaxLayers = 4;
  static constexpr uint32_t kDefaultCapacity = 0xFFFFF;
  static constexpr int32_t kLateMs = -120;
  static constexpr int32_t kEarlyMs = 50;
  // Run's results.
  static constexpr uint32_t kNoRenderer = 29;
  // CreateRenderer's.
  static constexpr uint32_t kRendererNotReady = 31;

  // What the thread did, for the debug line and for tests.
  struct Counters {
    uint32_t iterations = 0;  // loop iterations, with or without a picture
    uint32_t skipped = 0;     // late: decoded, not shown
    uint32_t held = 0;        // early: shown when due
    uint32_t presented = 0;   // handed to the renderer
  };

  // shell gives the settings "Debug" and "PostProcessing" and the message
  // box of the renderer; it may be null (no settings, no message).
  VideoPlayoutThread(PlayerContext* context, MediaSource* source, PlayerShellServices* shell);
  ~VideoPlayoutThread() override;

  // The engine's control operations (its thread).
  uint32_t Start() override;
  uint32_t Pause() override;
  uint32_t Resume(int32_t positionMs) override;
  uint32_t Stop() override;
  void GetVideoSize(uint32_t* width, uint32_t* height) override;
  uint32_t Repaint(uint32_t contentFlags) override;
  void SetDisplayMode(uint32_t mode) override;

  uint32_t CreateRenderer();
  virtual uint32_t RenderFrame(const uint8_t* const planes[3], int32_t left, int32_t top,
                               const DisplayFormat& source, uint32_t mode);

  // The thread body's steps.
  uint32_t OpenDecoder();
  uint32_t DecodeFrame();
  virtual uint32_t Run();

  bool RendererReady() const { return rendererReady != 0; }
  VideoRenderer* CurrentRenderer() const { return currentRenderer; }
  const VideoDecoder& Decoder() const { return decoder; }
  // Read after the thread has ended.
  Counters GetCounters() const { return counters; }
  bool ThreadEnded() const;
  // Ends the thread however the engine stands; a subclass whose overrides
  // the thread calls must do this in its own destructor.
  void Join();
  // 1 while a late picture is shown anyway: only in the loop's first turn.
  static bool IsLate(int32_t lateness, uint32_t iteration) { return lateness < kLateMs && iteration != 1; }

 protected:
  // Every pause of the thread (held pictures, waiting for data) goes through
  // here, so a test can run it on its own clock.
  virtual void Wait(uint32_t ms) { Sleep(ms); }
  bool Stopping();

 private:
  static unsigned __stdcall ThreadMain(void* self);
  void FreeInputBuffers();
  // Reads units until one tells the H.263 picture size; the unit stays pending.
  bool ProbeShortHeaderSize(uint32_t layer, int* width, int* height);
  // Holds an early picture until due, in slices that watch the engine and the clock.
  void HoldUntil(int32_t timestamp);
  uint32_t ReadSetting(const char16_t* name, uint32_t id);
  void WriteDebug(uint32_t y, const char* text);

  PlayerContext* context;
  MediaSource* source;
  PlayerShellServices* shell;

  // VideoThread's part.
  uint32_t width = 0, height = 0;
  HANDLE runEvent = nullptr;
  HANDLE thread = nullptr;
  volatile uint8_t resyncRequested = 0;
  VideoRenderer* currentRenderer = nullptr;
  VideoRenderer* fullScreenRenderer = nullptr;
  VideoRenderer* windowRenderer = nullptr;
  uint32_t fullScreen = 0;
  uint32_t rendererReady = 0;
  int32_t drawLeft = 0, drawTop = 0;
  // Set by the destructor: the thread ends even when the engine forgot to stop it.
  std::atomic<bool> quit{false};

  // The playout's part.
  uint32_t layerCount = 0;
  VideoDecoder decoder = {};
  uint32_t configSize[kMaxLayers] = {};
  const uint8_t* configData[kMaxLayers] = {};
  int32_t inputSize[kMaxLayers] = {};
  uint32_t inputCapacity[kMaxLayers] = {};
  int32_t inputTime[kMaxLayers] = {};
  uint8_t* inputBuffer[kMaxLayers] = {};
  bool layerEnded[kMaxLayers] = {};
  uint8_t* outputPicture = nullptr;
  const uint8_t* planes[3] = {};
  uint32_t frameArea = 0;
  DisplayFormat sourceFormat = {};
  uint32_t waitForIntra = 0;
  uint32_t debugLevel = 0;
  Counters counters;
};
