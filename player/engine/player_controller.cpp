#include "player_controller.h"

#include <string>

#include "engine/command_line.h"
#include "engine/player_ids.h"
#include "engine/track_choice.h"
#include "player_engine.h"
#include "player_observer.h"
#include "shell/engine_services.h"

namespace {
constexpr uint32_t kRefusalShown = 0xFFFFFFFF;
}  // namespace

PlayerController::PlayerController(PlayerShellServices* sh, EngineParts* p) : shell(sh), parts(p) {}

PlayerController::~PlayerController() { Shutdown(); }

uint32_t PlayerController::Init(HWND mainWindow, HINSTANCE instance, PlayerObserver* obs,
                                const char16_t* commandLine) {
  observer = obs;
  status = new PlayerStatus(observer, this);
  status->mainWindow = mainWindow;
  status->instance = instance;
  session = new PlayerSession(status, shell, parts);
  session->entryInfo.exitWhenDone = 0;
  if (observer) observer->Attach(this);
  return commandLine ? OpenCommandLine(commandLine) : 0;
}

void PlayerController::Shutdown() {
  if (session) {
    session->Teardown();
    delete session;
    session = nullptr;
  }
  delete status;
  status = nullptr;
}

void PlayerController::Log(const char16_t* line) {
  shell->InstrumentLog(status ? status->GetInstance() : nullptr, line);
}

void PlayerController::LogValue(const char16_t* label, const char16_t* value) {
  Log((std::u16string(label) + (value ? value : u"") + u"\n").c_str());
}

void PlayerController::LogNumber(const char16_t* label, int64_t value) {
  const std::string digits = std::to_string(value);
  LogValue(label, std::u16string(digits.begin(), digits.end()).c_str());
}

uint32_t PlayerController::OpenCommandLine(const char16_t* text) {
  if (!text || !*text) return 0;
  PlayerCommandLine line;
  if (!ParseCommandLine(text, &line)) {
    status->ShowError(ids::kMsgBadCommandLine, nullptr, 0);
    return kBadCommandLine;
  }
  if (line.repeat) {
    status->SetRepeat(1);
    session->entryInfo.playCount = line.playCount;
  }
  if (line.exitWhenDone) {
    session->entryInfo.exitWhenDone = 1;
    for (uint32_t id : {ids::kCmdOpen, ids::kCmdOpenLocation, ids::kCmdRecent, ids::kCmdFavorites})
      status->EnableCommand(id, 0);
  }
  if (line.volume >= 0) {
    SetVolume(static_cast<uint32_t>(line.volume));
    status->SetIndicator(static_cast<uint32_t>(line.volume));
  }
  if (!line.audioCodec.empty()) line.audioCodec.copy(preferredAudioCodec, 9);
  const uint32_t rc = OpenUrl(line.name.c_str(), nullptr, 0, 0, kPlayToEnd);
  if (rc == 0) status->EnableCommand(ids::kCmdClipInfo, 1);
  return rc;
}

uint32_t PlayerController::OpenUrl(const char16_t* text, const uint8_t* data, uint32_t size,
                                   uint32_t start, uint32_t end) {
  startMs = start;
  endMs = end;
  Log(u"\n");
  LogValue(u"URL: ", text);
  HINSTANCE instance = status->GetInstance();
  uint32_t restart = 0;
  shell->ReadSettingDwordById(instance, ids::kSetRestart, &restart);
  char16_t lastDownload[256] = {};
  shell->ReadSettingStringById(instance, ids::kSetLastDownload, lastDownload);
  const std::u16string upper = UpperAscii(text ? text : u"");
  if (upper.starts_with(u"HTTP://")) {
    // Only the suspended download may be resumed from an address.
    if (restart == 0 || upper != UpperAscii(lastDownload)) {
      status->ShowError(ids::kMsgUnsupported, nullptr, 0);
      return kUnsupported;
    }
  }
  return session->OpenMedia(text, data, size);
}

uint32_t PlayerController::OnOpenComplete(uint32_t code) {
  if (code != 0) {
    status->SetPlayerState(kPlayerStopped);
    switch (code) {
      case 14: status->ShowError(ids::kMsgLowStorage, nullptr, 0); break;
      case 15: status->ShowError(ids::kMsgUnableToPlayClip, address, 0); break;
      case 17: status->ShowError(ids::kMsgFileNotFound, nullptr, 0); break;
      case 18:
      case 35: status->ShowError(ids::kMsgInvalidParameter, nullptr, 0); break;
      case 19: status->ShowError(ids::kMsgTimedOut, nullptr, 0); break;
      case 25: status->ShowError(ids::kMsgNoConnection, nullptr, 0); break;
      default: break;
    }
    return code;
  }
  if (startMs == 0) session->GetPlayRange(&startMs, &endMs);
  const uint32_t rc = ChooseAndSelectTracks();
  switch (rc) {
    case 0: return Play(startMs, endMs);
    case kRefusalShown: return 1;
    case kFileNotOpened: status->ShowError(ids::kMsgUnsupported, nullptr, 0); break;
    case kVersionTooOld: status->ShowError(ids::kMsgVersionTooOld, nullptr, 0); break;
    case kTrackSetupFailed: break;
    default: status->ShowError(ids::kMsgClipNotFound, nullptr, 0); break;
  }
  return rc;
}

// Chooses the tracks and has the engine select them: 0, kRefusalShown when
// a refusal was already reported, else the code of the first failure.
uint32_t PlayerController::ChooseAndSelectTracks() {
  PlayerEngine* engine = session->Engine();
  int32_t count = 0;
  const TrackEntry* list = engine->GetTrackList(&count);
  TrackEntry rows[kMaxTracks] = {};
  const uint32_t n = count > 0 ? std::min<uint32_t>(static_cast<uint32_t>(count), kMaxTracks) : 0;
  for (uint32_t i = 0; list && i < n; ++i) rows[i] = list[i];
  CodecAvailability codecs[3];
  for (uint32_t i = 0; i < 3; ++i) {
    const CodecEntry& e = engine->GetCodecEntry(i);
    codecs[i] = {std::u16string_view(e.shortName), e.available != 0};
  }
  const TrackChoice choice = ChooseTracks(rows, n, codecs, 3, preferredAudioCodec);
  if (choice.mpeg4Layers > 2) {
    status->SetPlayerState(kPlayerStopped);
    status->ShowError(ids::kMsgUnsupported, nullptr, 0);
    return kRefusalShown;
  }
  if (preferredAudioCodec[0] && !choice.preferredFound) {
    status->SetPlayerState(kPlayerStopped);
    status->ShowError(ids::kMsgCannotPlayAudio, nullptr, 0);
    return kRefusalShown;
  }
  auto select = [&](const TrackEntry& row) {
    const uint32_t rc = engine->SelectTrack(row.trackId);
    LogValue(u"Select track: ", std::u16string(CodecName(row)).c_str());
    LogNumber(u"Bitrate: ", row.bitrate);
    return rc;
  };
  uint32_t rc = 0;
  // Both bits are tested: compared as a number, the preferred bit alone
  // would pass for a track without a decoder.
  constexpr uint32_t kPlayableAudio = kTrackDecoderPresent | kTrackPlayableVersion;
  if (choice.audio >= 0 && (rows[choice.audio].flags & kPlayableAudio) == kPlayableAudio) {
    rc = select(rows[choice.audio]);
    if (rc == 34) rc = 0;
  }
  for (size_t i = 0; rc == 0 && i < choice.layers.size(); ++i) {
    const TrackEntry& row = rows[choice.layers[i]];
    if (row.flags & kTrackPlayableVersion) rc = select(row);
  }
  if (count < 0) rc = count == -2 ? kFileNotOpened : kVersionTooOld;
  return rc;
}

uint32_t PlayerController::Play(uint32_t start, uint32_t end) {
  if (session->OpenKind() == 2) {
    if (startMs == 0) session->GetPlayRange(&startMs, &endMs);
  } else {
    startMs = start;
    endMs = end;
  }
  PlayerEngine* engine = session->Engine();
  status->clipActive = 1;
  ClipProperties* props = engine->GetClipProperties();
  Log(u"PLAY\n");
  LogValue(u"Title: ", engine->GetClipText(0));
  LogValue(u"Description: ", engine->GetClipText(4));
  LogValue(u"Copyright: ", engine->GetClipText(2));
  LogValue(u"Rating: ", engine->GetClipText(3));
  LogValue(u"Author: ", engine->GetClipText(1));
  LogNumber(u"Type: ", props->contentFlags);
  LogNumber(u"Duration: ", props->durationMs);
  LogNumber(u"Zoom: ", 1);
  if (props->contentFlags == 0) {
    status->SetPlayerState(kPlayerStopped);
    status->ShowError(ids::kMsgCannotPlayAudio, nullptr, 0);
    return 1;
  }
  const uint32_t rc = session->PlayRange(startMs, endMs);
  if (startMs == 0) {
    uint32_t s = 0, e = 0;
    session->GetPlayRange(&s, &e);
  }
  status->ShowClipProperties(engine->GetClipProperties());
  if (rc == 0 && session->SourceType() != kSourceDownload) status->SetPlayerState(kPlayerPlaying);
  return rc;
}

uint32_t PlayerController::Pause() {
  Log(u"PAUSE\n");
  const uint32_t rc = session->Pause();
  if (rc == 0) {
    status->SetPlayerState(kPlayerPaused);
    status->ShowStatusText(ids::kStatusPaused);
  }
  return rc;
}

uint32_t PlayerController::Stop() {
  Log(u"STOP\n");
  return session->Stop();
}

uint32_t PlayerController::Seek(uint32_t ms) {
  const uint32_t rc = session->Seek(ms, kPlayToEnd);
  startMs = ms;
  return rc;
}

void PlayerController::SuspendDownload() {
  if (observer) observer->SetPlayerState(kPlayerStopped);
  session->Suspend();
}

void PlayerController::SetVolume(uint32_t v) { session->Engine()->SetVolume(v); }
void PlayerController::SetMaxBufferedData(uint32_t ms) { session->Engine()->SetMaxBufferedData(ms); }
uint32_t PlayerController::GetSourceType() const { return session->SourceType(); }
uint32_t PlayerController::GetOpenKind() const { return session->OpenKind(); }
const char16_t* PlayerController::GetClipText(uint32_t i) { return session->Engine()->GetClipText(i); }
ClipProperties* PlayerController::GetClipProperties() { return session->Engine()->GetClipProperties(); }
void PlayerController::SetRepeatCount(uint32_t n) { session->entryInfo.playCount = n; }
uint32_t PlayerController::IsLive() { return GetClipProperties()->isLive; }
uint32_t PlayerController::RepaintVideo() { return session->Engine()->Repaint(); }
void PlayerController::SetDisplayMode(uint32_t mode) { session->Engine()->SetDisplayMode(mode); }
uint32_t PlayerController::ReleaseDownloadLock() { return session->Engine()->ReleaseDownloadLock(); }
