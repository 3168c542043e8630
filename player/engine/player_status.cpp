#include <algorithm>
#include <iterator>

#include "engine/player_ids.h"
#include "player_controller.h"
#include "player_observer.h"

PlayerStatus::PlayerStatus(PlayerObserver* obs, PlayerController* ctl)
    : observer(obs), controller(ctl) {}

void PlayerStatus::SetIndicator(uint32_t v) {
  if (observer) observer->SetIndicator(v);
}

void PlayerStatus::SetRepeat(uint32_t v) {
  if (observer) observer->SetRepeat(v > 0 ? 1 : 0);
}

int PlayerStatus::ShowError(uint32_t id, const char16_t* text, uint32_t style) {
  if (!observer) return 0;
  if (id != ids::kMsgVideoOnly) clipActive = 0;
  return observer->ShowError(id, text, style);
}

void PlayerStatus::SetText(const char16_t* text) {
  if (observer) observer->SetText(text);
}

void PlayerStatus::SetPlayerState(uint32_t state) {
  if (observer) observer->SetPlayerState(state);
}

void PlayerStatus::ShowStatusText(uint32_t id) {
  if (observer) observer->ShowStatusText(id);
}

void PlayerStatus::SetPosition(uint32_t ms) {
  if (observer) observer->SetPosition(ms);
}

void PlayerStatus::SetProgress(uint32_t value) {
  if (observer) observer->SetProgress(value);
}

void PlayerStatus::SetBufferLevel(uint32_t percent) {
  if (observer) observer->SetBufferLevel(percent);
}

void PlayerStatus::SetVideoGeometry(uint32_t width, uint32_t height, uint32_t flag) {
  if (observer) observer->SetVideoGeometry(width, height, flag);
}

void PlayerStatus::EnableCommand(uint32_t id, uint32_t enable) {
  if (observer) observer->EnableCommand(id, enable);
}

void PlayerStatus::ShowClipProperties(ClipProperties* properties) {
  if (!observer || !properties) return;
  properties->endMs = std::min(properties->endMs, properties->durationMs);
  observer->SetProgressRecord(properties);
}

void PlayerStatus::ShowAddress(uint32_t type, const char16_t* text) {
  if (!observer) return;
  if (controller) {
    size_t n = 0;
    while (text && text[n] && n + 1 < std::size(controller->address)) {
      controller->address[n] = text[n];
      ++n;
    }
    controller->address[n] = 0;
  }
  observer->ShowMessageText(type, text);
}

void PlayerStatus::ClipEnded(bool reportReady) {
  if (observer && clipActive) {
    observer->OnClipEnd();
    if (reportReady) {
      observer->SetPlayerState(kPlayerReady);
      observer->ShowStatusText(ids::kStatusReady);
    }
  }
  if (controller) {
    controller->startMs = 0;
    controller->preferredAudioCodec[0] = 0;
    controller->Log(u"CLIP END\n");
  }
  clipActive = 0;
}

uint32_t PlayerStatus::OpenComplete(uint32_t code) {
  return controller ? controller->OnOpenComplete(code) : 0;
}

int EngineNotifier::ShowError(uint32_t id, const char16_t* text, uint32_t style) {
  return status ? status->ShowError(id, text, style) : 0;
}
void EngineNotifier::ShowStatusText(uint32_t id) {
  if (status) status->ShowStatusText(id);
}
void EngineNotifier::SetPosition(uint32_t ms) {
  if (status) status->SetPosition(ms);
}
void EngineNotifier::SetProgress(uint32_t value) {
  if (status) status->SetProgress(value);
}
void EngineNotifier::SetBufferLevel(uint32_t percent) {
  if (status) status->SetBufferLevel(percent);
}
void EngineNotifier::SetVideoGeometry(uint32_t width, uint32_t height, uint32_t flag) {
  if (status) status->SetVideoGeometry(width, height, flag);
}
HWND EngineNotifier::GetMainWindow() { return status ? status->GetMainWindow() : nullptr; }
HINSTANCE EngineNotifier::GetInstance() { return status ? status->GetInstance() : nullptr; }
void EngineNotifier::SetPlayerState(uint32_t state) {
  if (status) status->SetPlayerState(state);
}
void EngineNotifier::SetText(const char16_t* text) {
  if (status) status->SetText(text);
}
void EngineNotifier::EnableCommand(uint32_t id, uint32_t enable) {
  if (status) status->EnableCommand(id, enable);
}
uint32_t EngineNotifier::OpenComplete(uint32_t code) { return status ? status->OpenComplete(code) : 0; }
void EngineNotifier::OnClipEnd() {
  if (session) session->OnClipEnd();
}
void EngineNotifier::GetEntryInfo(ClipEntryInfo* out) {
  if (session)
    session->GetEntryInfo(out);
  else
    *out = ClipEntryInfo{};
}
