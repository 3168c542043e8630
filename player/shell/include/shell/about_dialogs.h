// The About dialog (template 103, the version over a painted logo) and the
// Media Buffer dialog (template 420, the "MaximumBufferedData" setting).
// Both are centred over their owner and announce their window to it with
// message 1293 (wParam the dialog) when initialised. User-interface thread.
#pragma once

#include <windows.h>

#include <cstdint>

// wParam: a dialog or sheet of the player that has just been set up.
constexpr UINT kMsgDialogShown = 0x50D;

constexpr int kAboutTemplate = 103;
constexpr int kAboutBitmap = 184;
constexpr int kMediaBufferTemplate = 420;
constexpr int kMediaBufferDefaultButton = 1002;
constexpr int kMediaBufferCustomButton = 1003;
constexpr int kMediaBufferSlider = 1022;
constexpr int kMediaBufferSmaller = 1006;
constexpr int kMediaBufferLarger = 1007;

class AboutDialog {
 public:
  explicit AboutDialog(HWND owner);
  // Deletes the dialog's fonts.
  virtual ~AboutDialog();
  AboutDialog(const AboutDialog&) = delete;
  AboutDialog& operator=(const AboutDialog&) = delete;

  INT_PTR DoModal(HWND owner, HINSTANCE instance);

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  HWND owner_;
};

class MediaBufferDialog {
 public:
  MediaBufferDialog();
  virtual ~MediaBufferDialog();
  MediaBufferDialog(const MediaBufferDialog&) = delete;
  MediaBufferDialog& operator=(const MediaBufferDialog&) = delete;

  // The value chosen: 0 for the default setting, 1000 to 15000 for a custom
  // one; -1 when cancelled or when the dialog cannot be made. The caller
  // applies it; the dialog stores nothing.
  int32_t DoModal(HWND owner, HINSTANCE instance);

  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

 private:
  friend struct MediaBufferAccess;
  HWND owner_ = nullptr;
  HINSTANCE instance_ = nullptr;
  int32_t value_ = -1;
};
