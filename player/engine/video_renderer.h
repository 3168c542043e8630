// Puts decoded pictures on the screen: a 512 x 512 surface in the display's
// pixel format, filled by a colour converter and copied with one BitBlt to
// the top-left of the player window's video control (item 501), unscaled.
#pragma once

#include <windows.h>

#include <cstdint>

#include "video/colour.h"
#include "video/display_format.h"

class PlayerShellServices;

class VideoRenderer {
 public:
  static constexpr int32_t kSurfaceSize = 512;
  // Mode bit of DrawFrame: the surface already holds the picture.
  static constexpr uint32_t kModeNoConvert = 0x10;

  VideoRenderer(uint32_t* ready, DisplayFormat* format, HWND window);
  virtual ~VideoRenderer();
  VideoRenderer(const VideoRenderer&) = delete;
  VideoRenderer& operator=(const VideoRenderer&) = delete;

  // 1 drawn, 0 no video control.
  virtual uint32_t DrawFrame(const uint8_t* const planes[3], uint8_t* pixels, int32_t left, int32_t top,
                             const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) = 0;
  // The surface's pixels, or null when a picture of that size does not fit.
  virtual uint8_t* LockBuffer(int32_t width, int32_t height) = 0;
  virtual uint32_t UnlockBuffer() = 0;
  virtual uint32_t Clear(COLORREF colour) = 0;
  virtual uint32_t ClearRect(int32_t left, int32_t top, int32_t right, int32_t bottom, COLORREF colour) = 0;
  virtual uint32_t SetMode(uint32_t) { return 0; }

  // Converts and shows one picture; 1.
  uint32_t Present(const uint8_t* const planes[3], int32_t left, int32_t top, const DisplayFormat& source,
                   uint32_t mode);
  // Shows the last picture again without converting; 0.
  uint32_t Open(int32_t left, int32_t top, int32_t width, int32_t height);

  const DisplayFormat& SurfaceFormat() const { return surfaceFormat; }
  ColorConverterHolder& Converters() { return converters; }

 protected:
  uint32_t ready = 0;
  DisplayFormat surfaceFormat;
  ColorConverterHolder converters;
  HWND window;

 private:
  // Present runs on the video thread and Open on the engine's; one picture
  // at a time goes through the surface.
  CRITICAL_SECTION drawing;
};

class GdiRenderer : public VideoRenderer {
 public:
  // bitsPerPixel 0 asks the display; a test may name a depth.
  GdiRenderer(uint32_t* ready, DisplayFormat* format, HWND window, PlayerShellServices* shell,
              int32_t bitsPerPixel = 0);
  ~GdiRenderer() override;

  uint32_t DrawFrame(const uint8_t* const planes[3], uint8_t* pixels, int32_t left, int32_t top,
                     const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) override;
  uint8_t* LockBuffer(int32_t width, int32_t height) override;
  uint32_t UnlockBuffer() override;
  uint32_t Clear(COLORREF colour) override;
  uint32_t ClearRect(int32_t left, int32_t top, int32_t right, int32_t bottom, COLORREF colour) override;

  HBITMAP Section() const { return section; }
  const BITMAPINFO* Info() const { return info; }

 private:
  bool MakeSurface(int32_t depth, PlayerShellServices* shell);
  void FillSurface(COLORREF colour);

  HDC windowDc = nullptr;
  HDC memoryDc = nullptr;
  HBITMAP section = nullptr;
  HGDIOBJ replacedBitmap = nullptr;
  BITMAPINFO* info = nullptr;
  uint8_t* pixels = nullptr;
  uint32_t locked = 0;
  HPALETTE palette = nullptr;
  HPALETTE replacedPalette = nullptr;
  uint8_t* paletteBuffer = nullptr;
};

// kind 0: a GDI renderer, a second one when the first is not ready; kind 1:
// one GDI renderer; others: none. Null whenever *ready is 0.
VideoRenderer* CreateVideoRenderer(uint32_t* ready, DisplayFormat* format, uint32_t kind, HWND window,
                                   PlayerShellServices* shell);
