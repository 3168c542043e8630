// The player's one visible window tied to the engine. MainWindow owns the
// skin window that draws it and the desktop UI controller, drives the
// PlayerController, and is the engine's PlayerObserver. Its message handler
// takes every message of the "Orlomer" class: commands, the sliders'
// messages 2226-2229, the second start's WM_COPYDATA and dropped files.
// User-interface thread; observer calls that arrive on an engine thread are
// posted to it, so a worker never waits for the window.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "engine/media_types.h"
#include "player_observer.h"
#include "shell/startup.h"

class PlayerSkinWindow;
class DesktopController;

// Command ids of the main menu (279) and the accelerator table (4).
namespace cmd {
constexpr UINT kExit = 1;
constexpr UINT kAbout = 40017;
constexpr UINT kOpenLocation = 40034;
constexpr UINT kLoop = 40035;
constexpr UINT kOptions = 40036;
constexpr UINT kFindMainWindow = 41010;
constexpr UINT kOpen = 41100;
constexpr UINT kAddToFavorites = 41101;
constexpr UINT kClipInfo = 41102;
constexpr UINT kShowcase = 41103;
constexpr UINT kNoEffect41110 = 41110;
constexpr UINT kNoEffect41112 = 41112;
constexpr UINT kSave = 41123;
constexpr UINT kSuspend = 41124;
constexpr UINT kResume = 41125;
constexpr UINT kFavorites = 41126;
constexpr UINT kRecent = 41127;
constexpr UINT kNoEffect41130 = 41130;
constexpr UINT kHelp = 41131;
constexpr UINT kClearClip = 41132;
}  // namespace cmd

constexpr UINT kMsgIgnored = 52429;
// Observer calls from engine threads, carried to the window's thread.
constexpr UINT kMsgObserverCall = WM_APP + 0x2A0;
constexpr UINT_PTR kPressGuardTimer = 9;

class MainWindow : public ShellMainWindow, public PlayerObserver {
 public:
  // Creates the window; failed is set when the skin window could not.
  MainWindow(HINSTANCE instance, bool* failed);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // ShellMainWindow
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;
  PlayerObserver* Observer() override { return this; }

  // PlayerObserver
  void Attach(PlayerController* controller) override;
  void SetRepeat(uint32_t on) override;
  void SetText(const char16_t* title) override;
  void ShowStatusText(uint32_t statusId) override;
  int ShowError(uint32_t messageId, const char16_t* text, uint32_t style) override;
  void SetVideoGeometry(uint32_t width, uint32_t height, uint32_t hasVideo) override;
  void SetPosition(uint32_t ms) override;
  void SetProgress(uint32_t value) override;
  void SetBufferLevel(uint32_t percent) override;
  void SetIndicator(uint32_t value) override;  // the volume shown
  void SetPlayerState(uint32_t state) override;
  void ShowMessageText(uint32_t sourceType, const char16_t* address) override;  // the clip's source
  void OnClipEnd() override;
  void EnableCommand(uint32_t commandId, uint32_t enable) override;
  void SetProgressRecord(const ClipProperties* properties) override;  // the clip's properties

  LRESULT OnCommand(HWND window, WPARAM wParam, LPARAM lParam);
  // With a text: open it from the start; without: replay the open clip.
  void OpenClip(const wchar_t* text);
  void OpenChosenClip();
  void StopPlayback();
  void PausePlayback();
  void SuspendDownload();
  void ResumeDownload();
  void SetTime(int32_t positionMs, int32_t durationMs);
  void SeekTo(uint32_t offsetMs);
  void RepaintVideo();

  HWND Window() const { return window_; }
  HMENU Menu() const;
  PlayerSkinWindow* Skin() const { return skin_.get(); }
  DesktopController* Ui() const { return ui_.get(); }
  // Replaces the UI controller (tests record the commands' calls with it).
  void SetUi(std::unique_ptr<DesktopController> ui);
  PlayerController* Controller() const { return controller_; }
  uint32_t LoopFlag() const { return loop_; }
  uint32_t PlayerState() const { return playerState_; }
  uint32_t LastStatusId() const { return lastStatusId_; }
  int32_t LastShownSecond() const { return lastShownSecond_; }
  const ClipProperties& Properties() const { return properties_; }

 private:
  void ReleaseAction(int element);
  void ResetForOpen();
  void LoopOff();
  void AddToHistory(uint32_t kind);
  bool OnUiThread() const;
  // Carries a call to the window's thread; false when already on it.
  bool Forward(uint32_t kind, uint32_t a = 0, uint32_t b = 0, uint32_t c = 0, const char16_t* text = nullptr);
  void RunForwarded(LPARAM call);
  void InstrumentStatus(const wchar_t* what, uint32_t value);

  HINSTANCE instance_;
  std::unique_ptr<PlayerSkinWindow> skin_;
  std::unique_ptr<DesktopController> ui_;
  PlayerController* controller_ = nullptr;
  int32_t lastShownSecond_ = -1;
  int pressed_ = -1;
  uint32_t lastStatusId_ = 0;
  HWND window_ = nullptr;
  uint32_t loop_ = 0;
  uint32_t hasVideo_ = 0;
  uint32_t videoShown_ = 1;
  uint32_t clipEnded_ = 0;
  uint32_t videoAreaValid_ = 0;
  uint32_t live_ = 0;
  uint32_t openedByLocation_ = 0;
  uint32_t videoAreaDrawn_ = 0;
  uint32_t noVideo_ = 0;
  uint32_t downloadRunning_ = 0;
  uint32_t timer9Running_ = 0;
  uint32_t playerState_ = 7;
  ClipProperties properties_ = {};
  DWORD uiThread_ = 0;
};
