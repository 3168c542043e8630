#include "download_source.h"

#include <chrono>
#include <cstring>
#include <string_view>

#include "engine/player_ids.h"
#include "platform/os.h"
#include "reader/mp4_file.h"
#include "streaming/client_services.h"

using streaming::DownloadClipInfo;

namespace {

constexpr uint32_t kDefaultOverheadPercent = 10;
constexpr uint32_t kIdleLimitSeconds = 30;
constexpr uint32_t kKnownPlaybackMs = 5000;

template <size_t N>
void PutBytes(char (&field)[N], std::string_view text) {
  const size_t n = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), n);
  field[n] = 0;
}

// A text of a fixed record, as far as it is terminated inside the record.
std::string_view Bounded(const char* text, size_t size) {
  size_t n = 0;
  while (n < size && text[n]) ++n;
  return std::string_view(text, n);
}

template <size_t N>
std::string_view Bounded(const char (&text)[N]) {
  return Bounded(text, N);
}

void PutWide(char16_t* out, uint32_t units, std::u16string_view text) {
  const size_t n = text.size() < units - 1 ? text.size() : units - 1;
  std::memcpy(out, text.data(), n * sizeof(char16_t));
  out[n] = 0;
}

bool IsAudio(std::u16string_view n) { return n == u"AMR" || n == u"EVRC" || n == u"AAC"; }
bool IsVideo(std::u16string_view n) { return n == u"MP4V-ES" || n == u"H263-2000" || n == u"H263-1998"; }

// What the two threads report alike; 0 where they differ.
uint32_t CommonMessage(int32_t rc) {
  switch (rc) {
    case 1: case 6: case 7: case 8: case 10: case 11: case 12: case 14: case 15: case 16: case 17: case 18:
    case 20:
      return ids::kMsgInvalidParameter;
    case 9: return ids::kMsgFileNotFound;
    case 13: return ids::kMsgUnsupported;
    case 22: return ids::kMsgNoMemoryToPlay;
    case 23: return ids::kMsgTimedOut;
    case 24: return ids::kMsgLowStorage;
    default: return 0;
  }
}

}  // namespace

uint32_t DownloadDescriptionMessage(int32_t rc) {
  const uint32_t message = CommonMessage(rc);
  return message ? message : ids::kMsgNetworkError;
}

uint32_t DownloadMediaMessage(int32_t rc) {
  const uint32_t message = CommonMessage(rc);
  if (message) return message;
  return (rc >= 2 && rc <= 5) || rc == 21 ? ids::kMsgNoRemoteConnection : 0;
}

DownloadSource::DownloadSource(PlayerContext* c, DownloadHost* h) : FileSource(c, h), dhost(h) {
  kind = kSourceDownload;
}

DownloadSource::~DownloadSource() {
  if (downloadState == kDownloading) Suspend();
  uint32_t saved = 0;
  const bool keep = dhost->ReadSettingDword(ids::kSetRestart, &saved) && saved != 0;
  if (downloadClient) {
    downloadClient->Abort();
    if (!keep) downloadClient->CloseAll();
  }
  JoinThreads();
  if (!keep && downloadState != kSuspended) {
    delete mp4;  // the partial file is closed before it goes
    mp4 = nullptr;
    DeleteFiles();
  }
  if (downloadClient) downloadClient->Shutdown();
  delete downloadClient;
  downloadClient = nullptr;
  dhost->EnableCommand(ids::kCmdSave, 0);
}

const char16_t* DownloadSource::Extension() const { return u".TMP"; }

uint32_t DownloadSource::RestartSetting() {
  uint32_t value = 0;
  dhost->ReadSettingDword(ids::kSetRestart, &value);
  return value;
}

void DownloadSource::JoinThreads() {
  if (downloadThread.joinable()) downloadThread.join();
  if (progressThread.joinable()) progressThread.join();
}

void DownloadSource::SetFileNames() {
  const std::u16string base(baseName);
  // A base that leaves no room for its ending gets no file at all.
  if (base.size() + 5 > kTextUnits) {
    resumeFileName[0] = tempFileName[0] = 0;
    return;
  }
  PutWide(resumeFileName, kTextUnits, base + u".dat");
  PutWide(tempFileName, kTextUnits, base + u".tmp");
}

void DownloadSource::DeleteFiles() {
  if (resumeFileName[0]) platform::deleteFile(resumeFileName);
  if (tempFileName[0]) platform::deleteFile(tempFileName);
}

uint32_t DownloadSource::Open(const char16_t* address, const ClipAccessInfo* access) {
  JoinThreads();
  tempOpened = 0;
  downloadState = kIdle;
  dhost->SetPlayerState(kPlayerConnecting, true);
  host->SetStatusText(ids::kStatusConnecting);
  if (address != url) PutWide(url, kTextUnits, address ? address : u"");
  if (!StoreLocation(url, access)) return kFileNotOpened;
  std::memset(clipTexts, 0, sizeof(clipTexts));

  restart = RestartSetting();
  uint32_t stateFlags = 0;
  dhost->GetEntryInfo(&playWhenReady, &stateFlags);
  pendingNotice = 1;

  descriptionRequest = streaming::DownloadRequest{};
  descriptionRequest.resume = restart;
  PutWide(descriptionRequest.url, 256, url);
  if (restart) {
    baseName[0] = 0;
    dhost->ReadSettingString(ids::kSetInstance, baseName);
    SetFileNames();
  } else {
    char16_t folder[kTextUnits] = {};
    dhost->ReadSettingString(ids::kSetFilePath, folder);
    PutWide(baseName, kTextUnits, std::u16string(folder) + u"krdl");
    SetFileNames();
    DeleteFiles();
    uint64_t free = 0;
    if (!dhost->FreeStorage(folder, &free) || free > 0xFFFFFFFFull) free = 0x7FFFFFFF;
    descriptionRequest.storageSize = uint32_t(free % 0x80000000ull);
    char16_t version[16] = {};
    host->LoadText(ids::kStrVersion, version, 16);
    PutBytes(descriptionRequest.version, platform::utf16ToUtf8(version));
    PutBytes(descriptionRequest.userAgent, dhost->UserAgent());
    PutBytes(descriptionRequest.userNetwork, dhost->UserNetwork());
    PutBytes(descriptionRequest.deviceInfo, dhost->DeviceInfo());
    if (accessInfo.flag == 0) {
      // The access record's texts are bounded by their own fields and cut to
      // the request's.
      PutBytes(descriptionRequest.user, Bounded(accessInfo.user));
      PutBytes(descriptionRequest.authentication, Bounded(accessInfo.authentication));
      PutBytes(descriptionRequest.expiration, Bounded(accessInfo.expiration));
      PutBytes(descriptionRequest.application, Bounded(accessInfo.application));
      PutBytes(descriptionRequest.filler, Bounded(accessInfo.extra));
      PutBytes(descriptionRequest.signature, Bounded(accessInfo.signature));
    }
  }
  PutWide(descriptionRequest.basePath, 256, baseName);
  descriptionRequest.idleLimit = kIdleLimitSeconds;
  descriptionRequest.startMs = 0;
  descriptionRequest.stateFlags = stateFlags;

  if (downloadClient) downloadClient->Shutdown();
  delete downloadClient;
  downloadClient = dhost->NewHttpDownload();
  if (!downloadClient) return kThreadNotCreated;
  downloadRunning = true;
  downloadThread = std::thread([this] { DownloadThread(); });
  return kOk;
}

void DownloadSource::DownloadThread() {
  const int32_t rc = downloadClient->FetchDescription(descriptionRequest);
  if (rc == 0) {
    host->OpenResult(kOk);
    downloadRunning = false;
    return;
  }
  if (resumeFileName[0]) platform::deleteFile(resumeFileName);
  const uint32_t message = DownloadDescriptionMessage(rc);
  if (rc == 23 || rc == 10 || host->GetEngineState() < kStateStopping) ReportDownloadError(message, nullptr);
  downloadRunning = false;
}

TrackEntry* DownloadSource::GetTrackList(int32_t* count) {
  std::memset(selectionOrder, 0, sizeof(selectionOrder));
  audioTrackId = -1;
  videoTrackId[0] = videoTrackId[1] = -1;
  audioTrackCount = videoLayerCount = 0;
  contentFlags = 0;
  trackCount = 0;
  *count = 0;
  if (!downloadClient) return tracks;
  DownloadClipInfo info{};
  downloadClient->GetClipInfo(&info);
  durationMs = info.rangeEndMs > info.rangeStartMs ? info.rangeEndMs - info.rangeStartMs : 0;
  if (RestartSetting()) {
    // The tracks were chosen before the suspension.
    uint32_t flags = 0;
    downloadClient->GetStoredValue(&flags);
    contentFlags = flags;
    return tracks;
  }
  const uint32_t n = info.mediaCount < kMaxTracks ? info.mediaCount : kMaxTracks;
  PutWide(clipTexts[kTitle], kTextUnits,
          platform::utf8ToUtf16(Bounded(info.sessionName, sizeof info.sessionName)));
  PutBytes(mediaRequest.date, Bounded(info.creationDate, sizeof info.creationDate));
  for (uint32_t i = 0; i < n; ++i) {
    const streaming::DownloadMediaRecord& m = info.media[i];
    TrackEntry& t = tracks[i];
    t = TrackEntry{};
    t.trackId = m.trackNumber;
    const std::u16string codec = platform::utf8ToUtf16(Bounded(m.encodingName, sizeof m.encodingName));
    PutWide(t.codecName, 32, codec);
    t.bitrate = m.bandwidth;
    t.flags = m.bandwidth | kTrackPlayableVersion | (codec == u"AAC" ? kTrackAac : 0);
  }
  trackCount = n;
  *count = int32_t(n);
  return tracks;
}

uint32_t DownloadSource::SelectTrack(uint32_t id) {
  if (RestartSetting()) return kOk;
  TrackEntry* t = FindTrack(id);
  if (!t) return kOk;
  t->selected = 1;
  const std::u16string_view codec(t->codecName);
  const uint32_t slot = audioTrackCount + videoLayerCount;
  if (slot >= kMaxTracks || mediaRequest.trackCount >= streaming::TrackRequest::kMaxTracks) return kOk;
  auto append = [&] {
    selectionOrder[slot] = id;
    mediaRequest.trackIds[mediaRequest.trackCount++] = id;
  };
  if (IsAudio(codec)) {
    append();
    contentFlags |= kContentAudio;
    audioTrackId = int32_t(id);
    audioTrackCount += 1;
  } else if (IsVideo(codec)) {
    if (videoLayerCount >= 2) return kOk;
    append();
    contentFlags |= kContentVideo;
    videoLayerCount += 1;
  } else if (codec == u"X-MP4V-IMAGE") {
    append();
    contentFlags |= kContentStill;
    videoLayerCount = 1;
  }
  return kOk;
}

uint32_t DownloadSource::SetPlayRange(uint32_t start, uint32_t end) {
  if (downloadState == kSuspended) return Open(url, &accessInfo);
  restart = RestartSetting();
  if (!restart && mediaRequest.trackCount == 0) {
    ReportDownloadError(ids::kMsgUnsupported, nullptr);
    return kNotYet;
  }
  playStartMs = start;
  // The player asks before the clip's duration is known: an end of 0 means
  // the whole clip, as for a stream, or playback would end at once.
  playEndMs = end == 0 ? kPlayToEnd : end;
  playbackStarted = 0;
  resumedComplete = 0;
  highestTimeMs = 0;
  videoOnly = contentFlags == kContentVideo;
  if (contentFlags == kContentStill) {
    ReportDownloadError(ids::kMsgCannotPlayAudio, nullptr);
    return kCannotPlay;
  }
  const uint32_t state = downloadState;
  if (state == kDownloading) {
    playbackStarted = 1;
    return StartPlayback();
  }
  if (state == kComplete || state == kHandedOver) {
    dhost->Notify(4);
    resumedComplete = 1;
    playbackStarted = 1;
    return StartPlayback();
  }
  if (!restart) {
    mediaRequest.carried = 0;
    mediaRequest.storedValue = contentFlags;
    PutWide(mediaRequest.clip, 256, clipTexts[kTitle]);
    dhost->WriteSettingString(ids::kSetInstance, baseName);
  }
  SetFileNames();
  if (progressThread.joinable()) progressThread.join();
  progressRunning = true;
  progressThread = std::thread([this] { ProgressThread(); });
  dhost->WriteSettingDword(ids::kSetRestart, 1);
  dhost->EnableCommand(ids::kCmdSuspendClip, 1);
  dhost->EnableCommand(ids::kCmdClearClip, 0);
  dhost->EnableCommand(ids::kCmdResumeClip, 0);
  dhost->EnableCommand(ids::kCmdAddFavorite, 0);
  if (!restart) {
    restart = 1;
    dhost->WriteSettingString(ids::kSetLastDownload, url);
    dhost->WriteSettingString(ids::kSetLastTitle, clipTexts[kTitle]);
  }
  return kOk;
}

void DownloadSource::MenuAfterStop() {
  dhost->EnableCommand(ids::kCmdSuspendClip, 0);
  dhost->EnableCommand(ids::kCmdClearClip, 0);
  dhost->EnableCommand(ids::kCmdResumeClip, 0);
  dhost->EnableCommand(ids::kCmdAddFavorite, 0);
}

void DownloadSource::ProgressThread() {
  downloadState = kDownloading;
  host->SetStatusText(ids::kStatusDownloading);
  const int32_t rc = downloadClient->DownloadMedia(mediaRequest);
  uint32_t flags = 0;
  switch (rc) {
    case 0:
      downloadState = kComplete;
      downloadClient->GetStateFlags(&flags);
      if (!playbackStarted && (contentFlags & kContentVideo)) StartPlayback();
      dhost->Notify(4);
      break;
    case 19:
      downloadState = kComplete;
      downloadClient->GetStateFlags(&flags);
      dhost->DownloadFinished();
      dhost->WriteSettingDword(ids::kSetRestart, 0);
      MenuAfterStop();
      if (resumeFileName[0]) platform::deleteFile(resumeFileName);
      if (playbackStarted) {
        dhost->Notify(4);
      } else {
        host->SetStatusText(ids::kStatusReady);
        if (contentFlags & (kContentAudio | kContentVideo)) {
          playbackStarted = 1;
          StartPlayback();
        } else {
          dhost->EnableCommand(ids::kCmdSave, 1);
          dhost->SetPlayerState(kPlayerReady, true);
          dhost->Notify(4);
        }
      }
      break;
    case 23:
    case 25:
      // Resumable: both files stay.
      if (rc == 23) host->ReportError(ids::kMsgTimedOut, nullptr);
      downloadState = kSuspended;
      downloadClient->CloseAll();
      dhost->EnableCommand(ids::kCmdSuspendClip, 0);
      dhost->EnableCommand(ids::kCmdClearClip, 1);
      dhost->EnableCommand(ids::kCmdResumeClip, 1);
      dhost->EnableCommand(ids::kCmdAddFavorite, 0);
      dhost->SetPlayerState(kPlayerReady, true);
      host->SetStatusText(ids::kStatusReady);
      dhost->Notify(4);
      break;
    default: {
      const uint32_t message = DownloadMediaMessage(rc);
      if (message == 0) {
        dhost->Notify(4);
        break;
      }
      if (rc != 24) downloadState = kFailed;
      ReportDownloadError(message, nullptr);
      dhost->Notify(4);
      break;
    }
  }
  progressRunning = false;
}

uint32_t DownloadSource::StartPlayback() {
  if (!tempFileName[0]) return kNotYet;
  const uint32_t start = playStartMs, end = playEndMs;
  if (tempOpened || (start != 0 && mp4)) {
    const uint32_t rc = FileSource::SetPlayRange(start, end >= kPlayToEnd || end == 0 ? durationMs : end);
    dhost->EnableCommand(ids::kCmdSave, 0);
    return rc;
  }
  const uint32_t rc = FileSource::Open(tempFileName, &accessInfo);
  playStartMs = start;
  playEndMs = end;
  if (rc != kOk) return rc;
  tempOpened = 1;
  int32_t count = 0;
  FileSource::GetTrackList(&count);
  for (int32_t i = 0; i < count; ++i)
    if (tracks[i].flags & kTrackPlayableVersion) FileSource::SelectTrack(tracks[i].trackId);
  if (contentFlags == 0) {
    ReportDownloadError(ids::kMsgCannotPlayAudio, nullptr);
    return kNotYet;
  }
  if (contentFlags != kContentVideo && contentFlags != kContentStill && audioTrackId >= 0) {
    const TrackEntry* audio = FindTrack(uint32_t(audioTrackId));
    if (audio) dhost->SelectCodec(audio->codecName, start, durationMs, uint32_t(audioTrackId));
  }
  FileSource::SetPlayRange(start, end >= kPlayToEnd || end == 0 ? durationMs : end);
  dhost->EnableCommand(ids::kCmdSave, 0);
  playbackStarted = 1;
  dhost->SetPlayerState(kPlayerPlaying, false);
  dhost->SetText(clipTexts[kTitle]);
  if (start >= 1) host->SetStatusText(ids::kStatusPositioning);
  return dhost->Play(int32_t(start));
}

uint32_t DownloadSource::GetDownloadProgress(int32_t* out) {
  int32_t bytes = 0;
  switch (downloadState.load()) {
    case kIdle:
      bytes = int32_t(descriptionRequest.storageSize & 0x7FFFFFFF);
      *out = bytes;
      return kOk;
    case kDownloading:
      if (!downloadClient || downloadClient->GetRemainingBytes(&bytes) != 0) return kOk;
      break;
    case kComplete:
      dhost->DownloadFinished();
      MenuAfterStop();
      if (!playbackStarted) dhost->EnableCommand(ids::kCmdSave, 1);
      if (resumeFileName[0]) platform::deleteFile(resumeFileName);
      bytes = 0;
      break;
    case kFailed:
      *out = 0;
      return kOk;
    default:
      break;
  }
  *out = bytes;
  if (!playbackStarted && downloadClient) {
    uint32_t overhead = kDefaultOverheadPercent;
    dhost->ReadSettingDword(ids::kSetMinimumOverhead, &overhead);
    float rate = 0.0f;
    int32_t known = 0;
    downloadClient->GetDownloadRate(&rate);
    downloadClient->GetPlaybackTime(&known);
    // The rest arrives in less time than playing the clip takes, with the
    // overhead as margin.
    const double threshold = (1.0 - overhead * 0.01) * double(durationMs) * double(rate);
    if (double(bytes) < threshold && known > int32_t(kKnownPlaybackMs)) {
      const bool complete = downloadState == kComplete || downloadState == kHandedOver;
      if ((contentFlags & kContentVideo) || (complete && (contentFlags & kContentAudio))) {
        playbackStarted = 1;
        StartPlayback();
      } else if (pendingNotice) {
        pendingNotice = 0;
        if (playWhenReady) {
          dhost->SetPlayerState(kPlayerPlaying, false);
          dhost->SetPlayerState(kPlayerPaused, false);
          host->SetStatusText(ids::kStatusReady);
        }
      }
    }
  }
  if (downloadState == kComplete) {
    dhost->Notify(4);
    if (host->GetEngineState() != kStatePlaying) {
      dhost->SetPlayerState(kPlayerReady, true);
      host->SetStatusText(ids::kStatusReady);
    }
    downloadState = kHandedOver;
  }
  return kOk;
}

uint32_t DownloadSource::Suspend() {
  if (downloadState == kDownloading) {
    downloadState = kSuspended;
    if (downloadClient) {
      downloadClient->Abort();
      downloadClient->CloseAll();
    }
    dhost->EnableCommand(ids::kCmdSuspendClip, 0);
    dhost->EnableCommand(ids::kCmdClearClip, 1);
    dhost->EnableCommand(ids::kCmdResumeClip, 1);
    dhost->EnableCommand(ids::kCmdAddFavorite, 0);
    dhost->SetPlayerState(kPlayerReady, true);
    host->SetStatusText(ids::kStatusReady);
    dhost->Notify(4);
  } else if (downloadState == kHandedOver && mp4) {
    delete mp4;
    mp4 = nullptr;
    host->SetStatusText(ids::kStatusReady);
  }
  return kOk;
}

uint32_t DownloadSource::Close() {
  if (downloadState == kSuspended) return kOk;
  if (Suspend() == kOk && downloadState == kHandedOver) {
    if (playbackStarted) playing = 0;
    dhost->EnableCommand(ids::kCmdSave, 1);
    MenuAfterStop();
  }
  return kOk;
}

uint32_t DownloadSource::GetDownloadInfo() {
  int32_t length = 0;
  if (downloadClient) downloadClient->GetContentLength(&length);
  return length > 0 ? uint32_t(length) : 0;
}

void DownloadSource::ReportDownloadError(uint32_t messageId, const char16_t* argument) {
  std::u16string server;
  if ((messageId == ids::kMsgInvalidParameter || messageId == ids::kMsgUnableToPlayClip) && downloadClient) {
    const char* text = nullptr;
    downloadClient->GetServerMessage(&text);
    if (text && std::string_view(text) != "OK") {
      server = platform::utf8ToUtf16(Bounded(text, 200));
      argument = server.c_str();
    }
  }
  if (messageId != ids::kMsgTimedOut) {
    // Only a time-out can be resumed.
    dhost->WriteSettingDword(ids::kSetRestart, 0);
    DeleteFiles();
  }
  host->ReportError(messageId, argument);
}
