// The records a progressive download is asked with, and its two files under
// one base path: the state file "%s.dat" (the request, the chosen tracks, the
// clip information and the progress, so that a later run resumes) and the
// data file "%s.tmp" (the media bytes at their final offsets). Both are
// hidden. The records go to the state file byte for byte, little-endian, so
// their layout is a file format.
#pragma once

#include <cstdint>
#include <cstdio>

#include "streaming/sdp.h"

namespace streaming {

// What FetchDescription is asked with (2320 bytes).
struct DownloadRequest {
  static constexpr uint32_t kSize = 2320;
  uint32_t resume;             // non-zero: continue from the state file
  char16_t url[256];           // NUL-terminated
  char16_t host[50];           // written by the client from the URL
  char16_t port[25];           // "9300" when the URL names none
  char16_t basePath[256];      // of the state and data files
  char version[8];             // carried unchanged
  char userAgent[50];
  char userNetwork[50];
  char deviceInfo[256];
  char user[50];               // "ID: user=..."
  char authentication[256];
  char expiration[50];
  char application[50];        // "Application-Specific-String"
  char filler[100];            // "Verification: filler=..."
  char signature[256];
  int32_t idleLimit;           // 1-second waits without data that end a read
  int32_t startMs;             // "Range: milliseconds"
  uint32_t storageSize;        // "storageSize" and the bound of the answer
  uint32_t stateFlags;         // returned by GetStateFlags
};
static_assert(sizeof(DownloadRequest) == DownloadRequest::kSize);

// What DownloadMedia is asked with (616 bytes).
struct TrackRequest {
  static constexpr uint32_t kSize = 616;
  static constexpr uint32_t kMaxTracks = 10;
  char16_t clip[256];          // carried unchanged
  char date[52];               // yyyymmddThhmmss, sent as "If-Unmodified-Since"
  uint32_t trackIds[kMaxTracks];
  uint32_t trackCount;
  uint32_t carried;
  uint32_t storedValue;        // returned by GetStoredValue
};
static_assert(sizeof(TrackRequest) == TrackRequest::kSize);

void WriteDownloadRequest(const DownloadRequest& r, uint8_t out[DownloadRequest::kSize]);
void ReadDownloadRequest(const uint8_t in[DownloadRequest::kSize], DownloadRequest& r);
void WriteTrackRequest(const TrackRequest& r, uint8_t out[TrackRequest::kSize]);
void ReadTrackRequest(const uint8_t in[TrackRequest::kSize], TrackRequest& r);
void ReadDownloadClipInfo(const uint8_t in[DownloadClipInfo::kSize], DownloadClipInfo& info);

// Offsets of the state file.
struct DownloadStateLayout {
  static constexpr uint32_t kPlaybackTime = 0;
  static constexpr uint32_t kReceived = 4;
  static constexpr uint32_t kRequest = 8;
  static constexpr uint32_t kTracks = kRequest + DownloadRequest::kSize;            // 2328
  static constexpr uint32_t kClipInfo = kTracks + TrackRequest::kSize;              // 2944
  static constexpr uint32_t kTotalLength = kClipInfo + DownloadClipInfo::kSize;     // 6152
  static constexpr uint32_t kEnd = kTotalLength + 4;                                // 6156
};

// What a resumed state file held; fields beyond a short file keep what the
// caller put in them.
struct DownloadSavedState {
  int32_t playbackTimeMs = 0;
  int32_t received = 0;
  DownloadRequest request{};
  TrackRequest tracks{};
  DownloadClipInfo clipInfo{};
  int32_t totalLength = 0;
  bool haveTracks = false;
  bool haveClipInfo = false;
};

// Marks a file hidden; false when the system refuses (natively: nothing to do).
bool MarkFileHidden(const char16_t* path);

// The two files of one download. Every failure is false (the client's 22).
class DownloadFiles {
 public:
  static constexpr uint32_t kNameUnits = 256;

  DownloadFiles() = default;
  ~DownloadFiles() { Close(); }
  DownloadFiles(const DownloadFiles&) = delete;
  DownloadFiles& operator=(const DownloadFiles&) = delete;

  // The names from the base path; false when base + extension does not fit
  // (terminated) in 256 units.
  bool SetBasePath(const char16_t* basePath);
  const char16_t* StateName() const { return stateName; }
  const char16_t* DataName() const { return dataName; }

  // Fresh: creates the state file hidden and writes its first 2328 bytes.
  bool CreateState(const DownloadRequest& request);
  // Resuming: opens the state file and reads it into saved.
  bool OpenState(DownloadSavedState& saved);
  // The second step (tracks and clip information) and the third (total).
  bool AppendTracks(const TrackRequest& tracks, const DownloadClipInfo& clipInfo);
  bool AppendTotalLength(int32_t total);
  // Rewrites the first two words before a part's data is written.
  bool WriteProgress(int32_t playbackTimeMs, int32_t received);

  // fresh: created and sized to size bytes; else opened, created when lost.
  bool OpenData(bool fresh, int32_t size);
  bool WriteData(uint32_t offset, const uint8_t* data, uint32_t length);

  bool StateOpen() const { return state != nullptr; }
  bool DataOpen() const { return data != nullptr; }
  void Close();

 private:
  bool WriteAt(std::FILE* f, long offset, const void* bytes, size_t length);

  std::FILE* state = nullptr;
  std::FILE* data = nullptr;
  char16_t stateName[kNameUnits] = {};
  char16_t dataName[kNameUnits] = {};
};

}  // namespace streaming
