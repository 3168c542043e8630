// The two skinned controls of the player's face: the seek bar ("Progress",
// child 503 of the main window, drawn from skin element 5) and the volume
// slider ("Volume", a popup owned by the main window, element 4). They tell
// the main window (found by its class) about the user's input with the
// application messages 2226 to 2229. User-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>

#include "shell/portable/skin_controls.h"

class SkinManager;

constexpr UINT kMsgSeekRelease = 2226;   // posted: a drag ended (and right after 2229)
constexpr UINT kMsgVolumeChanged = 2227; // sent: lParam the volume 0-100
constexpr UINT kMsgSeekTo = 2228;        // posted: lParam the position in ms
constexpr UINT kMsgSeekStart = 2229;     // posted: a drag starts
constexpr int kSeekBarId = 503;

// What the seek bar tells its owner while the thumb moves.
class SeekOwner {
 public:
  virtual ~SeekOwner() = default;
  virtual void SetTime(uint32_t seconds, uint32_t durationSeconds) = 0;
};

class ProgressControl {
 public:
  ProgressControl(SkinManager* skin, SeekOwner* owner);
  ~ProgressControl();
  ProgressControl(const ProgressControl&) = delete;
  ProgressControl& operator=(const ProgressControl&) = delete;

  HWND Create(HINSTANCE instance);
  void SetPosition(int32_t position, int32_t duration);
  void SetDownload(int32_t a, int32_t b);
  void Reset(int keep);
  void Relayout();
  void Layout();
  void SetSeekable(bool seekable);
  void SetBarGrey(bool on);
  void SetBarFull(bool on);
  bool IsSeeking() const { return window_ && GetCapture() == window_; }

  HWND Window() const { return window_; }
  RECT ThumbRect() const { return thumb_; }
  RECT PlayedRect() const { return played_; }
  RECT BarRect() const { return bar_; }
  RECT DownloadRect() const { return download_; }

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // The window procedure's handlers.
  void OnButtonDown(int x, int y);
  void OnMouseMove(int x, int y);
  void OnButtonUp(int x);
  void Paint(HDC dc);

 private:
  void PaintNow();
  RECT Client() const;
  void PlaceThumbRight(int right);

  HBITMAP face_ = nullptr;
  int faceWidth_ = 0, faceHeight_ = 0;
  HBRUSH played_brush_, thumb_brush_, downloaded_brush_, empty_brush_;
  RECT bar_ = {}, played_ = {}, margins_ = {1, 8, 1, 8}, thumb_ = {}, barArea_ = {}, download_ = {};
  HWND mainWindow_ = nullptr;
  SkinManager* skin_;
  SeekOwner* owner_;
  int32_t duration_ = 0, position_ = 0, downloadA_ = 0, downloadB_ = 0;
  bool seekable_ = false, dragging_ = false, barGrey_ = false, barFull_ = false;
  int keep_ = 0;
  int dragOffset_ = 0;
  int32_t lastReported_ = -1;
  HWND window_ = nullptr;
};

class VolumeControl {
 public:
  explicit VolumeControl(SkinManager* skin);
  VolumeControl(const VolumeControl&) = delete;
  VolumeControl& operator=(const VolumeControl&) = delete;
  ~VolumeControl();

  HWND Create(HINSTANCE instance);
  void SetVolume(int value);
  int GetVolume() const { return value_; }
  bool Muted() const { return value_ == 0; }

  HWND Window() const { return window_; }
  RECT ThumbRect() const { return thumb_; }

  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  // The window procedure's handlers.
  void OnButtonDown(int x, int y);
  void OnMouseMove(int x, int y);
  void OnButtonUp(int x);
  void Paint(HDC dc);

 private:
  void MoveThumb(int top);

  HBITMAP track_ = nullptr, thumbImage_ = nullptr;
  int trackWidth_ = 0, trackHeight_ = 0, thumbWidth_ = 0, thumbHeight_ = 0;
  HWND mainWindow_ = nullptr;
  // Fixed, in the control's own coordinates.
  RECT thumb_ = {4, 76, 14, 84};
  RECT track_rect_ = {4, 15, 14, 84};
  RECT topZone_ = {6, 5, 13, 12};
  RECT bottomZone_ = {6, 88, 13, 92};
  int dragOffset_ = 0;
  int value_ = 0;
  SkinManager* skin_;
  HWND window_ = nullptr;
};
