// Plays one clip at a time: creates the media source of the address's kind
// with the audio decoder and video thread over it, keeps the engine state
// and the clock, and runs two timers on the main window: the start-up logo
// with buffering progress, and the play-position and download watch.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "engine/media_types.h"
#include "engine_parts.h"

class DialupConnection;
class EngineNotifier;
class MediaSource;
class PlayerContext;
class PlayerShellServices;
class QLTLogWindow;
class TickClock;

class PlayerEngine {
 public:
  static constexpr UINT_PTR kStartupTimer = 5;
  static constexpr UINT_PTR kWatchTimer = 7;
  // Posted to the engine's own message window so that the end-of-clip step
  // runs on the user-interface thread.
  static constexpr UINT kMsgSourceEnded = WM_APP + 0x31;

  PlayerEngine(EngineNotifier* notifier, PlayerShellServices* shell, EngineParts* parts);
  ~PlayerEngine();
  PlayerEngine(const PlayerEngine&) = delete;
  PlayerEngine& operator=(const PlayerEngine&) = delete;

  uint32_t Open(const char16_t* address, uint32_t sourceType, const ClipAccessInfo* accessInfo);
  void Close();
  uint32_t PlayRange(uint32_t startMs, uint32_t endMs);
  uint32_t Play(int32_t positionMs);
  uint32_t Pause();
  uint32_t ResumeAt(int32_t positionMs);
  uint32_t Stop(bool releaseSource);
  // part: 1 audio, 2 video, 4 stream or download source.
  uint32_t OnSourceEnd(uint32_t part);

  TrackEntry* GetTrackList(int32_t* count);
  uint32_t SelectTrack(uint32_t trackId);
  uint32_t SelectCodec(const char16_t* codecName, uint32_t startMs, uint32_t endMs, uint32_t trackId);
  const CodecEntry& GetCodecEntry(uint32_t i) const { return codecs[i < 3 ? i : 0]; }

  void SetVolume(uint32_t v);
  uint32_t GetState() const { return state; }
  void SetState(uint32_t s) { state = s; }
  uint32_t GetSourceType() const { return sourceType; }
  ClipProperties* GetClipProperties();
  const char16_t* GetClipText(uint32_t i);
  uint32_t GetDuration();
  int32_t GetHighestTime();
  int32_t GetDownloadProgress();
  uint32_t IsLiveStream();
  uint32_t Repaint();
  void SetDisplayMode(uint32_t mode);
  void SetMaxBufferedData(uint32_t ms);
  void SuspendDownload();

  uint32_t CreateDownloadLock();
  uint32_t ReleaseDownloadLock();
  uint32_t IsDownloadLocked();
  bool HoldsDownloadLock() const { return downloadLock != nullptr; }

  void WriteDebugLine(uint32_t x, uint32_t y, const char16_t* text);
  uint32_t CheckConnection(uint32_t mode);

  // Timer ticks; the window timers call them, tests may too.
  void OnStartupTick();
  void OnWatchTick();
  void StartStartupTimer();
  void StartWatchTimer();
  void StopWatchTimer();

  // The logo and its state, for drawing checks.
  const uint8_t* LogoBits() const { return logoSection; }
  uint32_t LogoLevel() const { return logoLevel; }
  uint32_t LogoPhase() const { return logoPhase; }
  bool StartupTimerRunning() const { return startupTimer != 0; }
  bool WatchTimerRunning() const { return watchTimer != 0; }
  uint32_t Running() const { return running; }
  uint32_t ContentFlags() const { return contentFlags; }
  MediaSource* Source() const { return source; }
  PlayerContext* Context() const { return context; }
  HWND Window() const { return window; }

 private:
  void LoadLogo();
  void DrawLogo(uint32_t level);
  void StartupDone();
  void StopStartupTimer();
  void SetStartupTimerPeriod(UINT period);
  void StartupTimedOut();
  bool DownloadLockPath(char16_t* path);
  void SourceEndedOnUiThread(uint32_t serial);
  static LRESULT CALLBACK NotifyWindowProc(HWND, UINT, WPARAM, LPARAM);
  static void CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD);
  uint32_t ApplyVolume();
  // A download whose descriptor entry has a mode stays in state 5.
  bool DownloadKeepsState();

  EngineNotifier* notifier;
  PlayerShellServices* shell;
  EngineParts* parts;

  // Logo.
  HBITMAP logoBitmap = nullptr;
  uint8_t* logoSection = nullptr;     // the section's pixel rows
  const uint8_t* logoPixels = nullptr;  // the resource's pixel rows
  uint32_t logoWidth = 0, logoHeight = 0, logoBitCount = 0;
  uint32_t logoLevel = 0, logoPhase = 1;
  UINT_PTR startupTimer = 0;
  uint32_t startTick = 0;
  uint32_t logoEnabled = 1;
  uint32_t waitingForBuffer = 0;
  uint32_t lastPercent = 0;

  UINT_PTR watchTimer = 0;

  AudioDecoder* audio = nullptr;
  VideoThread* video = nullptr;
  DialupConnection* dialup = nullptr;
  MediaSource* source = nullptr;
  PlayerContext* context = nullptr;
  TickClock* clock = nullptr;
  QLTLogWindow* debugLog = nullptr;
  char16_t debugLogFile[30] = u"c:\\player.log";

  HWND window = nullptr;
  HWND notifyWindow = nullptr;
  volatile LONG clipSerial = 0;
  char16_t address[256] = {};
  uint32_t sourceReleased = 0;
  std::atomic<uint32_t> running{0};
  uint32_t volume = 40, muted = 0;
  uint32_t startMs = 0, endMs = kPlayToEnd;
  uint32_t downloadSuspended = 0, userPaused = 0, stoppedBeforeData = 0;
  uint32_t contentFlags = 0, sourceType = 0;
  volatile uint32_t state = kStateNotOpened;
  ClipProperties clipProperties = {};
  CodecEntry codecs[3] = {};
  HANDLE downloadLock = nullptr;
};
