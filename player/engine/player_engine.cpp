#include "player_engine.h"

#include <cstring>
#include <iterator>
#include <string_view>

#include "engine/player_ids.h"
#include "media_source.h"
#include "player_context.h"
#include "player_controller.h"
#include "shell/engine_services.h"
#include "streaming/client_services.h"

namespace {

const wchar_t kNotifyClass[] = L"OrlomerEngineNotify";

struct CodecRow {
  const char16_t* displayName;
  const char16_t* shortName;
  const char16_t* libraryFile;
};
const CodecRow kCodecRows[3] = {
    {u"KR GSM AMR Decoder", u"AMR", u"krgsmamr.dll"},
    {u"KR EVRC Decoder", u"EVRC", u"krevrc.dll"},
    {u"KR AAC Decoder", u"AAC", u"kraac.dll"},
};

template <size_t N>
void CopyText(char16_t (&dst)[N], const char16_t* src) {
  size_t n = 0;
  while (src && src[n] && n + 1 < N) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
}

size_t TextLength(const char16_t* s) {
  size_t n = 0;
  while (s && s[n]) ++n;
  return n;
}

}  // namespace

PlayerEngine::PlayerEngine(EngineNotifier* n, PlayerShellServices* sh, EngineParts* p)
    : notifier(n), shell(sh), parts(p) {
  HINSTANCE instance = notifier ? notifier->GetInstance() : nullptr;
  uint32_t debug = 0;
  if (shell->ReadSettingDword(instance, u"Debug", &debug)) {
    char16_t name[256] = {};
    if (shell->ReadSettingString(instance, u"DebugLogFile", name) && TextLength(name) < 30)
      CopyText(debugLogFile, name);
  }
  if (debug != 0) debugLog = shell->NewLogWindow(instance);

  clipProperties = ClipProperties{};
  state = kStateNotOpened;
  clock = parts->NewClock();
  context = new PlayerContext(this, notifier, clock);
  dialup = shell->NewDialupConnection(context);
  volume = 40;
  logoEnabled = 1;
  window = context->GetVideoWindow();

  // The end-of-clip step is posted here so that it runs on this thread.
  WNDCLASSW wc = {};
  wc.lpfnWndProc = NotifyWindowProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = kNotifyClass;
  RegisterClassW(&wc);  // fails harmlessly when already registered
  notifyWindow = CreateWindowExW(0, kNotifyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                 wc.hInstance, nullptr);
  if (notifyWindow) SetWindowLongPtrW(notifyWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

  LoadLogo();

  for (uint32_t i = 0; i < 3; ++i) {
    CodecEntry& e = codecs[i];
    e.type = i;
    CopyText(e.displayName, kCodecRows[i].displayName);
    CopyText(e.shortName, kCodecRows[i].shortName);
    CopyText(e.libraryFile, kCodecRows[i].libraryFile);
    // Only probed here; the decoder is bound when its track is selected.
    if (HMODULE lib = LoadLibraryW(reinterpret_cast<LPCWSTR>(e.libraryFile))) {
      FreeLibrary(lib);
      e.available = 1;
    }
  }
}

PlayerEngine::~PlayerEngine() {
  if (state < kStateStopping) Stop(true);
  state = kStateStopped;
  Close();
  StopStartupTimer();
  StopWatchTimer();
  ReleaseDownloadLock();
  if (notifyWindow) DestroyWindow(notifyWindow);
  delete context;
  if (clock) clock->CloseEvent();
  delete clock;
  if (dialup) dialup->CloseHandle();
  delete dialup;
  if (debugLog) debugLog->Close();
  delete debugLog;
  if (logoBitmap) DeleteObject(logoBitmap);
}

void PlayerEngine::Close() {
  if (state < kStateStopping) Stop(true);
  delete video;
  video = nullptr;
  delete audio;
  audio = nullptr;
  delete source;
  source = nullptr;
}

bool PlayerEngine::DownloadKeepsState() {
  if (sourceType != kSourceDownload || !notifier) return false;
  ClipEntryInfo info{};
  notifier->GetEntryInfo(&info);
  return (info.entryMode & 3) != 0;
}

uint32_t PlayerEngine::Open(const char16_t* text, uint32_t kind, const ClipAccessInfo* accessInfo) {
  running = 0;
  if (TextLength(text) >= std::size(address)) return kUnsupported;
  CopyText(address, text);
  Close();
  sourceType = kind;
  state = kStateOpened;
  InterlockedIncrement(&clipSerial);
  if (kind == kSourceDownload) downloadSuspended = 0;
  source = parts->NewSource(kind, context);
  if (!source) {
    state = kStateNotOpened;
    return kFileNotOpened;
  }
  audio = parts->NewAudioDecoder(context, source);
  video = parts->NewVideoThread(context, source);
  if (kind == kSourceStream) {
    if (!dialup || !dialup->EnsureConnected()) return kNoConnection;
    notifier->SetPlayerState(kPlayerConnecting);
    notifier->ShowStatusText(ids::kStatusConnecting);
  }
  return source->Open(address, accessInfo);
}

uint32_t PlayerEngine::PlayRange(uint32_t start, uint32_t end) {
  if (state == kStatePlaying) {
    uint32_t rc = Pause();
    if (rc != 0) {
      Close();
      return rc;
    }
    rc = ResumeAt(static_cast<int32_t>(start));
    startMs = start;
    endMs = end;
    return rc;
  }
  const uint32_t from = state;
  if (from != kStateOpened && from != kStatePaused && from != kStateStopped && from != kStateNotOpened)
    return 0;
  if (!source) return kFileNotOpened;
  downloadSuspended = 0;
  if (sourceType == kSourceStream || sourceType == kSourceDownload) running |= 4;
  if (from != kStateOpened) state = kStateOpened;
  const uint32_t rc = source->SetPlayRange(start, end);
  startMs = start;
  endMs = end;
  if (rc != 0) return rc;
  if (sourceType == kSourceDownload && from != kStateOpened) return 0;
  contentFlags = source->GetContentFlags();
  if (sourceType == kSourceDownload) {
    // Playback starts when the download source has enough data.
    StartWatchTimer();
    return 0;
  }
  if (from == kStateOpened && logoEnabled) {
    if (state == kStateStopping || state == kStateStopped) {
      notifier->SetPlayerState(kPlayerReady);
      notifier->ShowStatusText(ids::kStatusReady);
      return 1;
    }
    StartStartupTimer();
    return 0;
  }
  return Play(-1);
}

uint32_t PlayerEngine::ApplyVolume() {
  if (audio) audio->SetVolume(muted ? 0 : volume);
  stoppedBeforeData = 0;
  return 0;
}

uint32_t PlayerEngine::Play(int32_t positionMs) {
  if (sourceType == kSourceDownload) state = kStateOpened;
  if (contentFlags == 0) return 1;
  if (positionMs > 0) startMs = static_cast<uint32_t>(positionMs);
  const bool videoOnly = contentFlags == kContentVideo;
  const bool audioOnly = contentFlags == kContentAudio;
  auto fail = [this](uint32_t rc) {
    Stop(true);
    ApplyVolume();
    return rc;
  };
  uint32_t rc = 0;
  if (!videoOnly) {
    rc = audio ? audio->OpenDevice() : static_cast<uint32_t>(kCannotPlay);
    if (audio && sourceType != kSourceDownload) audio->SetPlayRange(startMs, endMs);
  }
  // Free-running exactly when there is no audio to drive it.
  context->DropClockHold();
  if (clock) {
    clock->StartWallClock(videoOnly ? 1 : 0);
    if (videoOnly) clock->SetTime(startMs);
  }
  if (rc != 0) return fail(rc);
  if (!videoOnly) {
    running |= 1;
    if ((rc = audio->Start()) != 0) return fail(rc);
  }
  if (!audioOnly) {
    running |= 2;
    if ((rc = video ? video->Start() : static_cast<uint32_t>(kThreadNotCreated)) != 0) return fail(rc);
  } else {
    context->NotifyVideoSize(0, 0, 0);
  }
  state = kStatePlaying;
  if (sourceType == kSourceStream || sourceType == kSourceDownload)
    notifier->ShowStatusText(ids::kStatusPlaying);
  StartWatchTimer();
  ApplyVolume();
  return 0;
}

uint32_t PlayerEngine::Pause() {
  if (contentFlags == 0) return 1;
  if (state != kStatePlaying && state != kStateOpened) return 0;
  if (contentFlags != kContentAudio && video) video->Pause();
  if (contentFlags != kContentVideo && audio) audio->Pause();
  if (source) {
    const uint32_t rc = source->Pause();
    if (rc != 0) return rc;
  }
  context->HoldClock();
  state = kStatePaused;
  userPaused = 1;
  return 0;
}

uint32_t PlayerEngine::ResumeAt(int32_t positionMs) {
  if (contentFlags == 0) return 1;
  if (positionMs >= 0 && static_cast<uint32_t>(positionMs) >= GetDuration()) {
    Stop(true);
    return 0;
  }
  if (state != kStatePaused || !source) return 0;
  uint32_t rc = source->Resume(positionMs);
  if (rc != 0) {
    Stop(true);
    state = kStateNotOpened;
    return rc;
  }
  // Media time goes on from the pause, or from the place sought.
  if (positionMs >= 0) context->SetPosition(static_cast<uint32_t>(positionMs));
  context->ReleaseClock();
  if (contentFlags != kContentAudio && video) rc = video->Resume(positionMs);
  if (contentFlags != kContentVideo && audio) {
    if (positionMs != -1) audio->SetPlayRange(static_cast<uint32_t>(positionMs), endMs);
    rc = audio->Resume(positionMs);
  }
  state = kStatePlaying;
  return rc;
}

uint32_t PlayerEngine::Stop(bool releaseSource) {
  stoppedBeforeData = 0;
  if (state >= kStateStopping) return 0;
  if (sourceType == kSourceStream && state == kStateOpened && source && source->GetBufferLevel() < 1) {
    // Stopped while still connecting: no "Ready" and no end-of-clip step.
    notifier->ShowStatusText(ids::kStatusClear);
    notifier->SetPlayerState(kPlayerStopped);
    stoppedBeforeData = 1;
  }
  state = kStateStopping;
  uint32_t rc = 0;
  if ((contentFlags & (kContentVideo | kContentStill)) && video) rc = video->Stop();
  if ((contentFlags & kContentAudio) && audio) rc = audio->Stop();
  if (releaseSource) {
    if (sourceType == kSourceDownload) SuspendDownload();
    if (source) source->Finish();
  }
  sourceReleased = 1;
  if (!(DownloadKeepsState() && !releaseSource)) state = kStateStopped;
  return rc;
}

uint32_t PlayerEngine::OnSourceEnd(uint32_t part) {
  if (running.fetch_and(~part) & ~part) return 0;
  if (!(part == 4 && DownloadKeepsState())) state = kStateStopped;
  const bool endStep = !stoppedBeforeData && !(part == 4 && sourceType == kSourceDownload);
  // Closing the source and the end-of-clip step may delete or join the very
  // worker reporting here, so both run on the user-interface thread.
  const WPARAM serial = static_cast<WPARAM>(clipSerial);
  if (!notifyWindow || !PostMessageW(notifyWindow, kMsgSourceEnded, serial, endStep ? 1 : 0))
    SourceEndedOnUiThread(static_cast<uint32_t>(serial) | (endStep ? 0x80000000u : 0));
  return part == 4 ? static_cast<uint32_t>(kNoConnection) : 0u;
}

void PlayerEngine::SourceEndedOnUiThread(uint32_t serialAndStep) {
  const LONG serial = static_cast<LONG>(serialAndStep & 0x7FFFFFFF);
  if (serial != clipSerial) return;  // a clip opened since; its source is not ours to close
  if (source) source->Close();
  StopWatchTimer();
  if (serialAndStep & 0x80000000u) notifier->OnClipEnd();
}

LRESULT CALLBACK PlayerEngine::NotifyWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == kMsgSourceEnded) {
    auto* engine = reinterpret_cast<PlayerEngine*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (engine) engine->SourceEndedOnUiThread((static_cast<uint32_t>(wp) & 0x7FFFFFFF) | (lp ? 0x80000000u : 0));
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wp, lp);
}

TrackEntry* PlayerEngine::GetTrackList(int32_t* count) {
  if (!source) {
    *count = 0;
    return nullptr;
  }
  return source->GetTrackList(count);
}

uint32_t PlayerEngine::SelectTrack(uint32_t trackId) {
  if (!source) return kFileNotOpened;
  if (sourceType != kSourceDownload) {
    uint32_t start = 0, end = 0;
    source->GetPlayRange(&start, &end);
    const TrackEntry* row = source->FindTrack(trackId);
    if (row) {
      char16_t name[33] = {};
      std::memcpy(name, row->codecName, sizeof(row->codecName));
      const uint32_t rc = SelectCodec(name, start, end, trackId);
      if (rc != 0) return rc;
    }
  }
  return source->SelectTrack(trackId);
}

uint32_t PlayerEngine::SelectCodec(const char16_t* name, uint32_t start, uint32_t end, uint32_t trackId) {
  uint32_t rc = 0;
  const std::u16string_view wanted(name ? name : u"");
  for (const CodecEntry& e : codecs)
    if (wanted == e.shortName && audio) rc = audio->LoadCodec(e, start, end, trackId);
  return rc;
}

void PlayerEngine::SetVolume(uint32_t v) {
  if (v == 0) {
    muted = 1;
  } else {
    volume = v;
    muted = 0;
  }
  if (audio) audio->SetVolume(v);
}

ClipProperties* PlayerEngine::GetClipProperties() {
  if (source) {
    clipProperties.isLive = source->IsLive();
    clipProperties.contentFlags = source->GetContentFlags();
    clipProperties.sourceType = source->GetSourceType();
    clipProperties.durationMs = source->GetDuration();
    clipProperties.downloadSize = source->GetDownloadInfo();
    clipProperties.title = source->GetClipText(MediaSource::kTitle);
    clipProperties.author = source->GetClipText(MediaSource::kAuthor);
    clipProperties.copyright = source->GetClipText(MediaSource::kCopyright);
    clipProperties.rating = source->GetClipText(MediaSource::kRating);
    clipProperties.description = source->GetClipText(MediaSource::kDescription);
  }
  if (video) video->GetVideoSize(&clipProperties.videoWidth, &clipProperties.videoHeight);
  return &clipProperties;
}

const char16_t* PlayerEngine::GetClipText(uint32_t i) {
  if (!source) return nullptr;
  static const MediaSource::ClipText kOrder[5] = {MediaSource::kTitle, MediaSource::kAuthor,
                                                  MediaSource::kCopyright, MediaSource::kRating,
                                                  MediaSource::kDescription};
  return i < 5 ? source->GetClipText(kOrder[i]) : nullptr;
}

uint32_t PlayerEngine::GetDuration() { return source ? source->GetDuration() : 0; }

int32_t PlayerEngine::GetHighestTime() {
  return source ? static_cast<int32_t>(source->GetHighestTime()) : -1;
}

int32_t PlayerEngine::GetDownloadProgress() {
  int32_t remaining = 0;
  if (source && sourceType == kSourceDownload) source->GetDownloadProgress(&remaining);
  return remaining;
}

uint32_t PlayerEngine::IsLiveStream() {
  if (!source || sourceType == kSourceFile || sourceType == kSourceDownload) return 0;
  return source->IsLive();
}

uint32_t PlayerEngine::Repaint() {
  if (!video) return kNoVideoThread;
  if (state == kStatePaused || state >= kStateStopping || (source && source->IsBuffering()) ||
      contentFlags >= kContentStill)
    video->Repaint(contentFlags);
  return 0;
}

void PlayerEngine::SetDisplayMode(uint32_t mode) {
  if (video) video->SetDisplayMode(mode);
}

void PlayerEngine::SetMaxBufferedData(uint32_t ms) {
  shell->WriteSettingDwordById(notifier ? notifier->GetInstance() : nullptr, ids::kSetMaximumBufferedData, ms);
  if (source) source->SetMaxBufferedData(ms);
}

void PlayerEngine::SuspendDownload() {
  downloadSuspended = 1;
  if (source && sourceType == kSourceDownload) source->Suspend();
}

void PlayerEngine::WriteDebugLine(uint32_t x, uint32_t y, const char16_t* text) {
  if (debugLog) debugLog->WriteLine(x, y, text);
}

uint32_t PlayerEngine::CheckConnection(uint32_t mode) { return dialup ? dialup->CheckConnection(mode) : 0; }

// Download lock: "krdl.lck" in the download folder, held open without
// sharing by the player that downloads.
bool PlayerEngine::DownloadLockPath(char16_t* path) {
  char16_t folder[256] = {};
  shell->ReadSettingStringById(notifier ? notifier->GetInstance() : nullptr, ids::kSetFilePath, folder);
  const size_t n = TextLength(folder);
  static const char16_t kName[] = u"krdl.lck";
  if (n + std::size(kName) > 256) return false;
  std::memcpy(path, folder, n * sizeof(char16_t));
  std::memcpy(path + n, kName, sizeof(kName));
  return true;
}

static HANDLE OpenLockFile(const char16_t* path) {
  return CreateFileW(reinterpret_cast<LPCWSTR>(path), GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

uint32_t PlayerEngine::IsDownloadLocked() {
  char16_t path[256];
  if (!DownloadLockPath(path)) return 1;
  HANDLE h = OpenLockFile(path);
  if (h == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(h);
  return 0;
}

uint32_t PlayerEngine::CreateDownloadLock() {
  if (IsDownloadLocked()) return 0;
  char16_t path[256];
  if (!DownloadLockPath(path)) return 0;
  HANDLE h = OpenLockFile(path);
  if (h == INVALID_HANDLE_VALUE) return 0;
  downloadLock = h;
  return 1;
}

uint32_t PlayerEngine::ReleaseDownloadLock() {
  if (!downloadLock || !CloseHandle(downloadLock)) return 0;
  downloadLock = nullptr;
  char16_t path[256];
  if (DownloadLockPath(path)) DeleteFileW(reinterpret_cast<LPCWSTR>(path));
  return 1;
}
