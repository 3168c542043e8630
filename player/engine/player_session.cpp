#include <cstring>
#include <string>

#include "engine/command_line.h"
#include "engine/player_ids.h"
#include "player_controller.h"
#include "player_engine.h"
#include "shell/engine_services.h"

namespace {

// Copies a zero-terminated text into a fixed field; false when it does not fit.
bool CopyBounded(char16_t* dst, size_t units, const char16_t* src) {
  size_t n = 0;
  while (src && src[n]) ++n;
  if (n >= units) return false;
  std::memcpy(dst, src, n * sizeof(char16_t));
  dst[n] = 0;
  return true;
}

}  // namespace

PlayerSession::PlayerSession(PlayerStatus* st, PlayerShellServices* sh, EngineParts* parts)
    : shell(sh), status(st) {
  notifier = new EngineNotifier(this, status);
  engine = new PlayerEngine(notifier, shell, parts);
}

PlayerSession::~PlayerSession() { Teardown(); }

void PlayerSession::Teardown() {
  entryInfo.playCount = 1;
  status = nullptr;
  if (notifier) notifier->status = nullptr;
  ReleaseClipFile();
  delete engine;
  engine = nullptr;
  delete notifier;
  notifier = nullptr;
}

void PlayerSession::ReleaseClipFile() {
  if (!clipFile) return;
  clipFile->Release();
  delete clipFile;
  clipFile = nullptr;
}

uint32_t PlayerSession::OpenMedia(const char16_t* text, const uint8_t* data, uint32_t size) {
  sourceType = 0;
  const std::u16string peeled = PeelQuotes(text ? text : u"");
  if (!CopyBounded(address, std::size(address), peeled.c_str())) {
    if (status) {
      status->SetPlayerState(kPlayerStopped);
      status->ShowError(ids::kMsgUnableToPlayClip, peeled.c_str(), 0);
    }
    return kUnsupported;
  }

  ReleaseClipFile();
  entryInfo.entryMode = 0;
  const bool releasedLock = engine->ReleaseDownloadLock() != 0;

  switch (KindOfAddress(peeled)) {
    case AddressKind::stream: sourceType = kSourceStream; openKind = 0; break;
    case AddressKind::file: sourceType = kSourceFile; openKind = 1; break;
    case AddressKind::download: sourceType = kSourceDownload; openKind = 0; break;
    case AddressKind::descriptor: {
      clipFile = shell->NewClipFile();
      const uint32_t rc = !clipFile ? 17 : data ? clipFile->Read(data, size) : clipFile->Read(address);
      if (rc != 0 || !clipFile->IsValid() || !TakeEntry()) {
        ReleaseClipFile();
        if (status) {
          status->SetPlayerState(kPlayerStopped);
          status->ShowError(ids::kMsgUnableToPlayClip, peeled.c_str(), 0);
        }
        return kUnsupported;
      }
      openKind = 2;
      entryInfo.playCount = 0;
      if (status) {
        status->SetRepeat(0);
        status->ShowAddress(sourceType, address);
      }

      if (sourceType == kSourceDownload) {
        uint32_t restart = 0;
        shell->ReadSettingDwordById(status ? status->GetInstance() : nullptr, ids::kSetRestart, &restart);
        if ((!releasedLock && engine->IsDownloadLocked()) || restart != 0) {
          if (AskToReplaceSuspendedDownload() != 0) return kNotYet;
        }
        engine->CreateDownloadLock();
      }
      break;
    }
  }

  if (status) status->ShowAddress(sourceType, address);
  const uint32_t rc = engine->Open(address, sourceType, openKind == 2 ? &accessInfo : nullptr);
  if (rc != 0 && sourceType == kSourceDownload) engine->ReleaseDownloadLock();
  return rc;
}

// Another clip is suspended or downloading elsewhere: asks whether to
// delete the suspended one. 0 when the user agreed and it is gone.
uint32_t PlayerSession::AskToReplaceSuspendedDownload() {
  HINSTANCE instance = status ? status->GetInstance() : nullptr;
  char16_t title[256] = {};
  shell->ReadSettingStringById(instance, ids::kSetLastTitle, title);
  std::u16string shown(title);
  if (shown.size() > 100) shown = shown.substr(0, 100) + u"...";
  const int answer = status ? status->ShowError(ids::kMsgDeleteSuspended, shown.c_str(), MB_YESNO) : 0;
  if (answer != IDYES) return 1;
  char16_t folder[256] = {};
  shell->ReadSettingStringById(instance, ids::kSetFilePath, folder);
  for (const char16_t* name : {u"krdl.dat", u"krdl.tmp"}) {
    const std::u16string path = std::u16string(folder) + name;
    DeleteFileW(reinterpret_cast<LPCWSTR>(path.c_str()));
  }
  shell->WriteSettingDwordById(instance, ids::kSetRestart, 0);
  return 0;
}

uint32_t PlayerSession::PlayRange(uint32_t startMs, uint32_t endMs) {
  stopRequested = 0;
  if (engine->GetState() == kStatePaused) return engine->ResumeAt(-1);
  const uint32_t rc = engine->PlayRange(startMs, endMs);
  if (rc == 0 && status) {
    status->SetText(engine->GetClipText(0));
    if (sourceType != kSourceDownload) status->EnableCommand(ids::kCmdAddFavorite, 1);
  }
  return rc;
}

uint32_t PlayerSession::Seek(uint32_t ms, uint32_t endMs) {
  if (engine->GetState() != kStatePaused) {
    const uint32_t rc = engine->PlayRange(ms, endMs);
    if (rc == 0 && status) status->SetText(engine->GetClipText(0));
    return rc;
  }
  const uint32_t rc = engine->ResumeAt(static_cast<int32_t>(ms));
  if (rc == 0 && status) status->SetPlayerState(kPlayerPlaying);
  return rc;
}

uint32_t PlayerSession::Pause() { return engine->Pause(); }

uint32_t PlayerSession::Stop() {
  stopRequested = 1;
  return engine->Stop(true);
}

void PlayerSession::Suspend() { engine->SuspendDownload(); }

void PlayerSession::GetPlayRange(uint32_t* startMs, uint32_t* endMs) {
  uint32_t start = 0;
  uint32_t end = engine->GetDuration();
  if (openKind == 2) {
    start = entryInfo.entryStartMs;
    const uint32_t entryEnd = entryInfo.entryEndMs & 0x7FFFFFFF;
    if (entryEnd < kPlayToEnd) end = entryEnd;
  }
  *startMs = start;
  *endMs = end;
  ClipProperties* p = engine->GetClipProperties();
  p->startMs = start;
  p->endMs = end;
}

void PlayerSession::RequestClose() {
  if (status && status->GetMainWindow()) PostMessageW(status->GetMainWindow(), WM_CLOSE, 0, 0);
}

// Takes the current descriptor entry: its address, access record and
// values. false when the entry cannot be played.
bool PlayerSession::TakeEntry() {
  const uint32_t kind = clipFile->GetEntryKind(-1);
  ClipAccessInfo record{};
  if (kind < kSourceFile || kind > kSourceDownload || !clipFile->GetEntryRecord(-1, &record) ||
      !CopyBounded(address, std::size(address), clipFile->GetEntryUrl(-1)))
    return false;
  accessInfo = record;
  accessInfo.present = 1;
  sourceType = kind;
  entryInfo.exitWhenDone = clipFile->GetHeaderFlagBit0();
  entryInfo.entryMode = clipFile->GetEntryMode(-1);
  entryInfo.entryFlagBit2 = clipFile->GetEntryFlagBit2(-1);
  clipFile->GetEntryValues(-1, &entryInfo.entryStartMs, &entryInfo.entryEndMs);
  entryInfo.entryFlagBit5Clear = clipFile->GetEntryFlagBit5(-1) ? 0 : 1;
  return true;
}

void PlayerSession::PlayEntry() {
  if (!TakeEntry()) return;
  if (status) status->ShowAddress(sourceType, address);
  if (engine->Open(address, sourceType, &accessInfo) != 0) return;
  // A source that opens at once has had its tracks chosen and its play
  // started by the controller; a second range would restart it.
  if (engine->GetState() == kStateOpened && !engine->StartupTimerRunning())
    engine->PlayRange(0, kPlayToEnd);
}

void PlayerSession::OnClipEnd() {
  if (!status) return;
  const bool reportReady = (entryInfo.entryMode & 1) == 0;
  // Counts a play off (never wrapping into endless repeats) and tells
  // whether another one is due.
  auto playAgain = [this] {
    if (entryInfo.playCount > 0) --entryInfo.playCount;
    return entryInfo.playCount > 0 && !stopRequested && sourceType == kSourceFile;
  };

  if (!clipFile) {
    if (playAgain()) {
      engine->PlayRange(0, kPlayToEnd);
    } else if (entryInfo.exitWhenDone) {
      status->SetPlayerState(kPlayerReady);
      status->ShowStatusText(ids::kStatusReady);
      RequestClose();
    } else {
      status->ClipEnded(reportReady);
    }
    return;
  }

  const int32_t next = clipFile->GetCurrentEntry() + 1;
  if (next < clipFile->GetEntryCount()) {
    clipFile->SetCurrentEntry(next);
    PlayEntry();
    return;
  }
  if (const char16_t* trailer = clipFile->GetTrailerText()) {
    ShellExecuteW(nullptr, L"Open", reinterpret_cast<LPCWSTR>(trailer), nullptr, nullptr, SW_HIDE);
    status->SetPlayerState(kPlayerReady);
    status->ShowStatusText(ids::kStatusReady);
    RequestClose();
  } else if (playAgain()) {
    clipFile->SetCurrentEntry(0);
    PlayEntry();
    return;
  } else {
    ReleaseClipFile();
    status->ShowStatusText(ids::kStatusReady);
    status->ClipEnded(reportReady);
  }
  if (entryInfo.playCount == 0) {
    if (entryInfo.exitWhenDone) {
      status->SetPlayerState(kPlayerReady);
      status->ShowStatusText(ids::kStatusReady);
      RequestClose();
    }
    if (!stopRequested) {
      status->SetRepeat(0);
      status->ClipEnded(true);
    }
  }
}
