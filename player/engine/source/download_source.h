// The media source of an HTTP progressive download (kind 3): it asks the
// server for the clip's description, lets the engine choose tracks, fetches
// them into the hidden partial file "%s.tmp" and plays that file through the
// FileSource machinery while it grows, as soon as the measured rate makes it
// safe. A download can be suspended and resumed later, also by another run
// of the player, from the state file "%s.dat".
//
// Threads: the download thread (description), the progress thread (media),
// the engine's thread for the control calls and the audio and video threads
// once playback runs. They share plain words; the client's getters are
// atomic. The destructor ends both threads.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "file_source.h"
#include "source_host.h"
#include "streaming/download_files.h"

class HttpDownload;

// The messages of the client's results: of FetchDescription, and of
// DownloadMedia (0: none, the engine is only told the download ended).
uint32_t DownloadDescriptionMessage(int32_t result);
uint32_t DownloadMediaMessage(int32_t result);

// What a download source needs of the player beyond a file source's.
class DownloadHost : public SourceHost {
 public:
  // Settings by string id; a missing value gives false and leaves the output.
  virtual bool ReadSettingDword(uint32_t id, uint32_t* value) = 0;
  virtual bool ReadSettingString(uint32_t id, char16_t* buffer /* 256 units */) = 0;
  virtual void WriteSettingDword(uint32_t id, uint32_t value) = 0;
  virtual void WriteSettingString(uint32_t id, const char16_t* text) = 0;
  virtual void EnableCommand(uint32_t commandId, uint32_t enable) = 0;
  virtual void SetPlayerState(uint32_t state, bool alsoEngine) = 0;
  // The engine's end-of-part notice (4: the download's part).
  virtual uint32_t Notify(uint32_t part) = 0;
  // Prepares the audio decoder for the track.
  virtual uint32_t SelectCodec(const char16_t* codec, uint32_t startMs, uint32_t endMs, uint32_t trackId) = 0;
  virtual uint32_t Play(int32_t positionMs) = 0;
  virtual void SetText(const char16_t* text) = 0;
  // The download is complete: its lock is released.
  virtual void DownloadFinished() = 0;
  // From the clip descriptor entry: whether the early notice is allowed, and
  // the word the request carries (its state flags).
  virtual void GetEntryInfo(uint32_t* playWhenReady, uint32_t* stateFlags) = 0;
  virtual std::string UserAgent() = 0;
  virtual std::string UserNetwork() = 0;
  virtual std::string DeviceInfo() = 0;
  // Free bytes of the folder's disk; false when they cannot be found.
  virtual bool FreeStorage(const char16_t* folder, uint64_t* bytes) = 0;
  virtual HttpDownload* NewHttpDownload() = 0;
};

class DownloadSource : public FileSource {
 public:
  enum State : uint32_t { kIdle = 0, kDownloading = 1, kComplete = 2, kHandedOver = 3, kSuspended = 4, kFailed = 5 };

  DownloadSource(PlayerContext* context, DownloadHost* host);
  ~DownloadSource() override;

  uint32_t Open(const char16_t* location, const ClipAccessInfo* access) override;
  uint32_t Close() override;
  uint32_t SetPlayRange(uint32_t startMs, uint32_t endMs) override;
  TrackEntry* GetTrackList(int32_t* count) override;
  uint32_t SelectTrack(uint32_t trackId) override;
  uint32_t GetBufferLevel() override { return 0; }
  uint32_t Suspend() override;
  const ClipAccessInfo* GetAccessInfo() override { return &accessInfo; }
  uint32_t GetDownloadInfo() override;
  uint32_t GetDownloadProgress(int32_t* out) override;

  uint32_t DownloadState() const { return downloadState; }
  const char16_t* TempFileName() const { return tempFileName; }
  const char16_t* ResumeFileName() const { return resumeFileName; }
  const streaming::DownloadRequest& DescriptionRequest() const { return descriptionRequest; }
  const streaming::TrackRequest& MediaRequest() const { return mediaRequest; }
  // Both threads have ended (tests wait on it).
  bool Idle() const { return !downloadRunning && !progressRunning; }

 protected:
  const char16_t* Extension() const override;

 private:
  void DownloadThread();
  void ProgressThread();
  uint32_t StartPlayback();
  void ReportDownloadError(uint32_t messageId, const char16_t* argument);
  void SetFileNames();
  void DeleteFiles();
  void JoinThreads();
  uint32_t RestartSetting();
  void MenuAfterStop();

  DownloadHost* dhost;
  HttpDownload* downloadClient = nullptr;
  std::atomic<uint32_t> downloadState{kIdle};
  volatile uint32_t playbackStarted = 0;
  volatile uint32_t resumedComplete = 0;
  volatile uint32_t tempOpened = 0;
  uint32_t playWhenReady = 0;
  uint32_t pendingNotice = 1;
  uint32_t restart = 0;
  std::thread downloadThread;
  std::thread progressThread;
  std::atomic<bool> downloadRunning{false};
  std::atomic<bool> progressRunning{false};
  char16_t url[kTextUnits] = {};
  char16_t baseName[kTextUnits] = {};
  char16_t resumeFileName[kTextUnits] = {};
  char16_t tempFileName[kTextUnits] = {};
  streaming::DownloadRequest descriptionRequest{};
  streaming::TrackRequest mediaRequest{};
};
