// The one object every worker of the player holds instead of the engine,
// the clock and the user interface: it reads the engine state and the play
// clock, carries reports to the observer, and builds the texts that
// identify the player to servers. Called from any thread; only the play
// clock's hold takes a lock.
#pragma once

#include <windows.h>

#include <cstdint>
#include <mutex>

class EngineNotifier;
class PlayerEngine;
class TickClock;
struct ClipEntryInfo;

class PlayerContext {
 public:
  PlayerContext(PlayerEngine* engine, EngineNotifier* notifier, TickClock* clock);
  ~PlayerContext();

  uint32_t GetEngineState();
  // The single path by which workers stop playback on errors.
  // argument is the message box style; the answer is returned.
  int ReportError(uint32_t messageId, const char16_t* text, uint32_t argument, bool releaseSource);
  // The same with an 8-bit UTF-8 text, such as a server's own message.
  int ReportError(uint32_t messageId, const char* utf8Text, uint32_t argument, bool releaseSource);
  void SetStatusText(uint32_t statusId);
  void SetPlayerState(uint32_t state, bool alsoEngine);
  uint32_t StreamFinished(uint32_t part);
  uint32_t CheckConnection(uint32_t value);
  void SetPosition(uint32_t ms);
  uint32_t GetPosition();
  // The media time stands still from HoldClock to ReleaseClock (a pause),
  // then runs on from where it stood; a position set meanwhile is where it
  // resumes. DropClockHold forgets a hold without touching the clock.
  void HoldClock();
  void ReleaseClock();
  void DropClockHold();
  void NotifyVideoSize(uint32_t width, uint32_t height, uint32_t flag);
  HWND GetVideoWindow();
  HINSTANCE GetInstance();
  void SetBufferLevel(uint32_t percent);
  void SetProgress(uint32_t value);
  void GetStatus(ClipEntryInfo* out);
  uint32_t Play(int32_t positionMs);
  void SetText(const char16_t* text);
  void EnableCommand(uint32_t commandId, uint32_t enable);
  uint32_t SelectCodec(const char16_t* codecName, uint32_t startMs, uint32_t endMs, uint32_t trackId);
  uint32_t OpenComplete(uint32_t code);
  void WriteDebugLine(uint32_t x, uint32_t y, const char16_t* text);
  uint32_t ReleaseDownloadLock();
  uint32_t GetClockInfo(void*, void*) { return 0; }

  // Newly allocated zero-terminated UTF-8 texts; the caller frees them with
  // delete[].
  char* BuildDeviceInfo();
  char* BuildUserAgent();
  char* BuildNetworkType();

 private:
  PlayerEngine* engine;
  EngineNotifier* notifier;
  TickClock* clock;
  std::mutex holdLock;
  bool held = false;
  uint32_t heldAt = 0;
};
