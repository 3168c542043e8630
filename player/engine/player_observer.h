// How the engine side reports to the user interface. The main window
// implements it; every operation may be called from a worker thread as well
// as from the user-interface thread. Ids are string-table ids of the player.
#pragma once

#include <cstdint>

class PlayerController;
struct ClipProperties;

class PlayerObserver {
 public:
  virtual ~PlayerObserver() = default;
  virtual void Attach(PlayerController* controller) = 0;
  virtual void SetRepeat(uint32_t on) = 0;
  virtual void SetText(const char16_t* title) = 0;
  virtual void ShowStatusText(uint32_t statusId) = 0;
  // style is the message box style (4 = yes/no); the answer (6 = yes).
  virtual int ShowError(uint32_t messageId, const char16_t* text, uint32_t style) = 0;
  virtual void SetVideoGeometry(uint32_t width, uint32_t height, uint32_t flag) = 0;
  virtual void SetPosition(uint32_t ms) = 0;
  virtual void SetProgress(uint32_t value) = 0;
  virtual void SetBufferLevel(uint32_t percent) = 0;
  virtual void SetIndicator(uint32_t value) = 0;
  virtual void SetPlayerState(uint32_t state) = 0;
  virtual void ShowMessageText(uint32_t sourceType, const char16_t* address) = 0;
  virtual void OnClipEnd() = 0;
  virtual void EnableCommand(uint32_t commandId, uint32_t enable) = 0;
  virtual void SetProgressRecord(const ClipProperties* properties) = 0;
};
