// The player's face: a main window drawn entirely from the skin.
// SkinWindowBase owns the fonts, the logo, the seek bar and the volume
// slider and gives every skin operation a default; PlayerSkinWindow creates
// the main window, lays the skin out round the video picture, draws and
// hit-tests the buttons, keeps the title, status and time texts and runs the
// busy animation. User-interface thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "shell/skin_controls.h"
#include "shell/skin_manager.h"

constexpr UINT_PTR kBusyTimer = 6;
constexpr int kVideoChildId = 501;

class SkinWindowBase : public SeekOwner {
 public:
  SkinWindowBase();
  ~SkinWindowBase() override;
  SkinWindowBase(const SkinWindowBase&) = delete;
  SkinWindowBase& operator=(const SkinWindowBase&) = delete;

  virtual HWND Create(int flag) = 0;
  virtual void DrawButton(int element, int image) = 0;
  virtual void DrawVolumeButton(int image) = 0;
  virtual void DrawShowcaseButton(int image) = 0;
  virtual void DrawFace(HDC dc) = 0;
  virtual void Resize(int videoWidth, int videoHeight, bool recentreOnly) = 0;
  virtual void SetTitle(const wchar_t* text) = 0;
  virtual void SetStatus(UINT id) = 0;
  void SetTime(uint32_t positionSeconds, uint32_t durationSeconds) override = 0;
  virtual void ShowLive() = 0;
  virtual int InitResources();
  virtual int OnLButtonDown(POINT point) { (void)point; return 0; }
  virtual void OnLButtonUp() {}
  virtual void SetProgress(int32_t position, int32_t duration);
  virtual void SetDownloadProgress(int32_t a, int32_t b);
  virtual void ResetProgress(int keep);
  virtual void ShowBuffering(int percent) { (void)percent; }
  virtual void RelayoutProgress();
  virtual void SetSeekable(bool seekable);
  virtual void HideVolume() {}
  virtual void AnimateBusy();
  virtual void StartBusy();
  virtual void StopBusy();
  virtual void ClearTime(bool reset) { (void)reset; }
  virtual bool IsSeeking() const { return progress_ && progress_->IsSeeking(); }
  virtual void DrawLogo();
  virtual void Restore() {}

  void SetVolume(int value);
  HBRUSH OnCtlColorStatic(HDC dc);

  HWND MainWindow() const { return main_; }
  HWND VideoWindow() const { return video_; }
  HWND AnimationWindow() const { return animation_; }
  ProgressControl* Progress() const { return progress_.get(); }
  VolumeControl* Volume() const { return volume_.get(); }
  SkinManager* Skin() const { return skin_.get(); }
  const std::wstring& TimeText() const { return timeText_; }
  const std::wstring& StatusText() const { return status_; }
  bool BusyRunning() const { return busyTimer_ != 0; }
  int AnimationFrame() const { return frame_; }
  // The font of the status line and the time area.
  HFONT TextFont() const;

  // Button states (image numbers): the main window writes them.
  int playState = 1, stopState = 1, volumeState = 1;

 protected:
  HFONT baseFont_ = nullptr, displayFont_ = nullptr;
  HWND main_ = nullptr, video_ = nullptr, animation_ = nullptr;
  HMENU menu_ = nullptr;
  HINSTANCE instance_ = nullptr;
  UINT_PTR busyTimer_ = 0;
  int frame_ = 0;
  HBITMAP logo_ = nullptr;
  int logoWidth_ = 0, logoHeight_ = 0;
  std::unique_ptr<SkinManager> skin_;
  std::unique_ptr<ProgressControl> progress_;
  std::unique_ptr<VolumeControl> volume_;
  std::wstring title_, status_, timeText_, live_;
  bool liveMode_ = false;
  RECT hit_[4] = {};  // elements 1, 2, 3 and 8
  int videoWidth_ = 192, videoHeight_ = 144;
  int statusOffset_ = 0, timeOffsetX_ = 0, timeOffsetY_ = 0;
  RECT videoRect_ = {};
  HBRUSH black_ = nullptr;
};

class PlayerSkinWindow : public SkinWindowBase {
 public:
  PlayerSkinWindow();
  ~PlayerSkinWindow() override;

  HWND Create(int flag) override;
  int InitResources() override;
  void DrawButton(int element, int image) override;
  void DrawVolumeButton(int image) override;
  void DrawShowcaseButton(int image) override;
  void DrawFace(HDC dc) override;
  void Resize(int videoWidth, int videoHeight, bool recentreOnly) override;
  void SetTitle(const wchar_t* text) override;
  void SetStatus(UINT id) override;
  void SetTime(uint32_t positionSeconds, uint32_t durationSeconds) override;
  void ShowLive() override;
  int OnLButtonDown(POINT point) override;
  void OnLButtonUp() override;
  void ShowBuffering(int percent) override;
  void HideVolume() override;
  void ClearTime(bool reset) override;
  void Restore() override;

  RECT HitRect(int element) const;
  // Edge offsets: client size less the background's.
  int Dx() const;
  int Dy() const;

 private:
  void DrawImage(HDC dc, int element, int image, const RECT& at);
  // White text on black in an area of the face.
  void DrawTextArea(HDC dc, const RECT& r, const std::wstring& text, UINT align);
  void DrawStatusLine(HDC dc);
  void DrawTimeArea(HDC dc);
  void DrawTitle(HDC dc);
  RECT StatusRect() const;
  RECT TimeRect() const;
  void PlaceVolumePopup();
  void CloseVolume();
};
