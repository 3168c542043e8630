// The top of the playback side. PlayerController is the facade the main
// window drives; PlayerSession owns the engine and the clip descriptor and
// does the end-of-clip step; PlayerStatus forwards every report to the
// observer; EngineNotifier is the link the engine and context report through.
#pragma once

#include <windows.h>

#include <cstdint>

#include "engine/media_types.h"

class ClipFile;
class EngineParts;
class PlayerController;
class PlayerEngine;
class PlayerObserver;
class PlayerSession;
class PlayerShellServices;

// What the current clip descriptor entry says; all 0 without a descriptor
// except playCount and exitWhenDone.
struct ClipEntryInfo {
  uint32_t playCount;
  uint32_t exitWhenDone;
  uint32_t entryFlagBit2;
  uint32_t entryFlagBit5Clear;
  uint32_t entryStartMs;
  uint32_t entryEndMs;
  uint32_t entryMode;
};

class PlayerStatus {
 public:
  PlayerStatus(PlayerObserver* observer, PlayerController* controller);

  void SetIndicator(uint32_t v);
  void SetRepeat(uint32_t v);
  int ShowError(uint32_t id, const char16_t* text, uint32_t style);
  void SetText(const char16_t* text);
  void SetPlayerState(uint32_t state);
  void ShowStatusText(uint32_t id);
  void SetPosition(uint32_t ms);
  void SetProgress(uint32_t value);
  void SetBufferLevel(uint32_t percent);
  void SetVideoGeometry(uint32_t width, uint32_t height, uint32_t flag);
  void EnableCommand(uint32_t id, uint32_t enable);
  void ShowClipProperties(ClipProperties* properties);
  void ShowAddress(uint32_t type, const char16_t* address);
  void ClipEnded(bool reportReady);
  uint32_t OpenComplete(uint32_t code);
  HWND GetMainWindow() const { return mainWindow; }
  HINSTANCE GetInstance() const { return instance; }

  volatile uint32_t clipActive = 0;
  PlayerObserver* observer;
  PlayerController* controller;
  HWND mainWindow = nullptr;
  HINSTANCE instance = nullptr;
};

// Forwards to whichever of its two ends is present; an absent end does
// nothing and yields 0.
class EngineNotifier {
 public:
  EngineNotifier(PlayerSession* session, PlayerStatus* status) : session(session), status(status) {}

  int ShowError(uint32_t id, const char16_t* text, uint32_t style);
  void ShowStatusText(uint32_t id);
  void SetPosition(uint32_t ms);
  void SetProgress(uint32_t value);
  void SetBufferLevel(uint32_t percent);
  void SetVideoGeometry(uint32_t width, uint32_t height, uint32_t flag);
  HWND GetMainWindow();
  HINSTANCE GetInstance();
  void SetPlayerState(uint32_t state);
  void SetText(const char16_t* text);
  void EnableCommand(uint32_t id, uint32_t enable);
  uint32_t OpenComplete(uint32_t code);
  void OnClipEnd();
  void GetEntryInfo(ClipEntryInfo* out);

  PlayerSession* session;
  PlayerStatus* status;
};

class PlayerSession {
 public:
  PlayerSession(PlayerStatus* status, PlayerShellServices* shell, EngineParts* parts);
  ~PlayerSession();
  PlayerSession(const PlayerSession&) = delete;
  PlayerSession& operator=(const PlayerSession&) = delete;

  uint32_t OpenMedia(const char16_t* address, const uint8_t* data, uint32_t size);
  uint32_t PlayRange(uint32_t startMs, uint32_t endMs);
  uint32_t Seek(uint32_t ms, uint32_t endMs);
  uint32_t Pause();
  uint32_t Stop();
  void Suspend();
  // Repeat, next descriptor entry, close the program, or back to "Ready".
  void OnClipEnd();
  void GetPlayRange(uint32_t* startMs, uint32_t* endMs);
  void GetEntryInfo(ClipEntryInfo* out) const { *out = entryInfo; }
  // Forgets the status, deletes the descriptor, the engine and the notifier.
  void Teardown();

  PlayerEngine* Engine() const { return engine; }
  uint32_t SourceType() const { return sourceType; }
  uint32_t OpenKind() const { return openKind; }

  ClipEntryInfo entryInfo = {};

 private:
  void ReleaseClipFile();
  uint32_t AskToReplaceSuspendedDownload();
  void RequestClose();
  bool TakeEntry();
  void PlayEntry();

  PlayerShellServices* shell;
  ClipFile* clipFile = nullptr;
  PlayerEngine* engine = nullptr;
  PlayerStatus* status;
  EngineNotifier* notifier = nullptr;
  uint32_t stopRequested = 0;
  uint32_t openKind = 0;
  uint32_t sourceType = 0;
  ClipAccessInfo accessInfo = {};
  char16_t address[256] = {};
};

class PlayerController {
 public:
  PlayerController(PlayerShellServices* shell, EngineParts* parts);
  ~PlayerController();
  PlayerController(const PlayerController&) = delete;
  PlayerController& operator=(const PlayerController&) = delete;

  uint32_t Init(HWND mainWindow, HINSTANCE instance, PlayerObserver* observer,
                const char16_t* commandLine);
  uint32_t OpenCommandLine(const char16_t* text);
  uint32_t OpenUrl(const char16_t* address, const uint8_t* descriptorData, uint32_t descriptorSize,
                   uint32_t startMs, uint32_t endMs);
  uint32_t Open(const char16_t* address) { return OpenUrl(address, nullptr, 0, 0, kPlayToEnd); }
  uint32_t Play(uint32_t startMs, uint32_t endMs);
  uint32_t Pause();
  uint32_t Stop();
  uint32_t Seek(uint32_t ms);
  void SuspendDownload();
  uint32_t OnOpenComplete(uint32_t code);
  void Shutdown();

  void SetVolume(uint32_t v);
  void SetMaxBufferedData(uint32_t ms);
  uint32_t GetSourceType() const;
  uint32_t GetOpenKind() const;
  const char16_t* GetClipText(uint32_t i);
  ClipProperties* GetClipProperties();
  void SetRepeatCount(uint32_t n);
  uint32_t IsLive();
  uint32_t RepaintVideo();
  void SetDisplayMode(uint32_t mode);
  uint32_t ReleaseDownloadLock();

  PlayerSession* Session() const { return session; }
  PlayerStatus* Status() const { return status; }
  uint32_t StartMs() const { return startMs; }
  uint32_t EndMs() const { return endMs; }

  char16_t address[256] = {};
  char16_t preferredAudioCodec[10] = {};
  uint32_t startMs = 0;

  // A line of the player log (the shell's instrumentation log).
  void Log(const char16_t* line);

 private:
  void LogValue(const char16_t* label, const char16_t* value);
  void LogNumber(const char16_t* label, int64_t value);
  uint32_t ChooseAndSelectTracks();
  void ShowCodeMessage(uint32_t code);

  PlayerShellServices* shell;
  EngineParts* parts;
  PlayerSession* session = nullptr;
  PlayerStatus* status = nullptr;
  PlayerObserver* observer = nullptr;
  uint32_t endMs = kPlayToEnd;
};
