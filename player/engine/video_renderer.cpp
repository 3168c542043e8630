#include "video_renderer.h"

#include <cstdlib>
#include <cstring>

#include "engine/player_ids.h"
#include "shell/engine_services.h"

VideoRenderer::VideoRenderer(uint32_t* readyOut, DisplayFormat* format, HWND w) : window(w) {
  surfaceFormat = DisplayFormat{};
  surfaceFormat.height = kSurfaceSize;
  surfaceFormat.width = kSurfaceSize;
  surfaceFormat.kind = kDisplayKindPackedRgb;
  InitializeCriticalSection(&drawing);
  if (readyOut) *readyOut = 0;
  if (format) *format = surfaceFormat;
}

VideoRenderer::~VideoRenderer() { DeleteCriticalSection(&drawing); }

uint32_t VideoRenderer::Present(const uint8_t* const planes[3], int32_t left, int32_t top,
                                const DisplayFormat& source, uint32_t mode) {
  EnterCriticalSection(&drawing);
  if (uint8_t* surface = LockBuffer(source.width, source.height))
    DrawFrame(planes, surface, left, top, surfaceFormat, source, mode);
  UnlockBuffer();
  LeaveCriticalSection(&drawing);
  return 1;
}

uint32_t VideoRenderer::Open(int32_t left, int32_t top, int32_t width, int32_t height) {
  EnterCriticalSection(&drawing);
  if (uint8_t* surface = LockBuffer(width, height)) {
    // The planes only describe the surface; mode 0x10 copies it as it is.
    const size_t area = size_t(surfaceFormat.width) * size_t(surfaceFormat.height);
    const uint8_t* planes[3] = {surface, surface + area, surface + area + area / 4};
    DisplayFormat source = {};
    source.height = height;
    source.width = width;
    source.pitch = width;
    source.rows = height;
    DrawFrame(planes, surface, left, top, surfaceFormat, source, kModeNoConvert);
  }
  UnlockBuffer();
  LeaveCriticalSection(&drawing);
  return 0;
}

namespace {

// The display's depth as the surface takes it: above 8 bits a 24-bit DIB.
int32_t SurfaceDepth(int32_t displayDepth) { return displayDepth > 8 ? 24 : displayDepth; }

BITMAPINFO* NewInfo(uint32_t colours) {
  const size_t bytes = sizeof(BITMAPINFOHEADER) + size_t(colours) * sizeof(RGBQUAD);
  return static_cast<BITMAPINFO*>(std::calloc(1, bytes));
}

}  // namespace

GdiRenderer::GdiRenderer(uint32_t* readyOut, DisplayFormat* format, HWND w, PlayerShellServices* shell,
                         int32_t bitsPerPixel)
    : VideoRenderer(readyOut, format, w) {
  windowDc = GetDC(window);
  memoryDc = windowDc ? CreateCompatibleDC(windowDc) : nullptr;
  if (!memoryDc) return;  // not ready: the factory deletes us
  const int32_t depth = SurfaceDepth(bitsPerPixel ? bitsPerPixel : GetDeviceCaps(windowDc, BITSPIXEL));
  if (!MakeSurface(depth, shell)) return;
  if (section) Clear(RGB(0, 0, 0));
  ready = 1;
  if (readyOut) *readyOut = 1;
  if (format) *format = surfaceFormat;
}

bool GdiRenderer::MakeSurface(int32_t depth, PlayerShellServices* shell) {
  surfaceFormat.bitsPerPixel = depth;
  surfaceFormat.pitch = surfaceFormat.width;
  surfaceFormat.rows = surfaceFormat.height;
  uint32_t colours = 0;
  switch (depth) {
    case 4:
      colours = 16;
      break;
    case 8:
      paletteBuffer = static_cast<uint8_t*>(std::calloc(256, 4));
      if (!paletteBuffer) return false;
      surfaceFormat.palette = paletteBuffer;
      surfaceFormat.paletteSize = 256;
      surfaceFormat.redMask = 0xFF;
      surfaceFormat.greenMask = 0xFF00;
      surfaceFormat.blueMask = 0xFF0000;
      colours = 256;
      break;
    case 24:
      surfaceFormat.redMask = 0xFF;
      surfaceFormat.greenMask = 0xFF00;
      surfaceFormat.blueMask = 0xFF0000;
      break;
    default: {
      // Still ready, but without a surface nothing is ever drawn.
      surfaceFormat.bitsPerPixel = 0;
      if (shell) {
        auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
        shell->ShowMessage(instance, ids::kMsgUnsupportedColorDepth, nullptr, 0);
      }
      return true;
    }
  }
  converters.Select(surfaceFormat);

  info = NewInfo(colours);
  if (!info) return false;
  BITMAPINFOHEADER& h = info->bmiHeader;
  h.biSize = sizeof(BITMAPINFOHEADER);
  h.biWidth = surfaceFormat.width;
  h.biHeight = -surfaceFormat.height;  // top-down rows, as the converters write them
  h.biPlanes = 1;
  h.biBitCount = static_cast<WORD>(depth);
  h.biCompression = BI_RGB;
  if (depth == 4) {
    for (uint32_t n = 0; n < 16; ++n) {
      const BYTE level = static_cast<BYTE>(17 * n);
      info->bmiColors[n] = RGBQUAD{level, level, level, 0};
    }
  } else if (depth == 8) {
    // The converter's indices only mean its palette's colours: that palette
    // is the DIB's colour table (entries are red, green, blue, 0).
    for (uint32_t n = 0; n < 256; ++n) {
      const uint8_t* e = paletteBuffer + n * 4;
      info->bmiColors[n] = RGBQUAD{e[2], e[1], e[0], 0};
    }
  }
  void* bits = nullptr;
  section = CreateDIBSection(windowDc, info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!section || !bits) return false;
  pixels = static_cast<uint8_t*>(bits);
  replacedBitmap = SelectObject(memoryDc, section);
  return true;
}

GdiRenderer::~GdiRenderer() {
  if (palette) {
    SelectPalette(memoryDc, replacedPalette, FALSE);
    DeleteObject(palette);
  }
  if (memoryDc) {
    if (replacedBitmap) SelectObject(memoryDc, replacedBitmap);
    DeleteDC(memoryDc);
  }
  if (windowDc) ReleaseDC(window, windowDc);
  if (section) DeleteObject(section);
  std::free(info);
  std::free(paletteBuffer);
}

uint32_t GdiRenderer::DrawFrame(const uint8_t* const planes[3], uint8_t* surface, int32_t, int32_t,
                                const DisplayFormat& dest, const DisplayFormat& source, uint32_t mode) {
  if (!(mode & kModeNoConvert)) converters.Convert(planes, surface, 0, 0, dest, source, mode | kConvertModePacked4);
  HWND control = GetDlgItem(window, static_cast<int>(ids::kVideoControl));
  if (!control) return 0;
  RECT client;
  GetClientRect(control, &client);
  HDC dc = GetDC(control);
  if (!dc) return 0;
  // The surface ends at 512 x 512; a larger control shows black beyond it.
  const LONG w = client.right < surfaceFormat.width ? client.right : surfaceFormat.width;
  const LONG h = client.bottom < surfaceFormat.height ? client.bottom : surfaceFormat.height;
  BitBlt(dc, 0, 0, w, h, memoryDc, 0, 0, SRCCOPY);
  if (client.right > w || client.bottom > h) {
    HBRUSH black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    RECT right = {w, 0, client.right, client.bottom};
    RECT below = {0, h, w, client.bottom};
    FillRect(dc, &right, black);
    FillRect(dc, &below, black);
  }
  ReleaseDC(control, dc);
  return 1;
}

uint8_t* GdiRenderer::LockBuffer(int32_t width, int32_t height) {
  locked = 1;
  // A picture larger than the surface would be written past it.
  if (!pixels || width < 0 || height < 0 || width > surfaceFormat.width || height > surfaceFormat.height)
    return nullptr;
  return pixels;
}

uint32_t GdiRenderer::UnlockBuffer() {
  locked = 0;
  return 1;
}

void GdiRenderer::FillSurface(COLORREF colour) {
  if (!section) return;
  HBRUSH brush = CreateSolidBrush(colour);
  RECT all = {0, 0, surfaceFormat.width, surfaceFormat.height};
  FillRect(memoryDc, &all, brush);
  DeleteObject(brush);
  GdiFlush();
}

uint32_t GdiRenderer::Clear(COLORREF colour) {
  LockBuffer(0, 0);
  FillSurface(colour);
  return 0;
}

uint32_t GdiRenderer::ClearRect(int32_t left, int32_t top, int32_t right, int32_t bottom, COLORREF colour) {
  LockBuffer(0, 0);
  FillSurface(colour);
  HBRUSH brush = CreateSolidBrush(colour);
  RECT r = {left, top, right, bottom};
  FillRect(windowDc, &r, brush);
  DeleteObject(brush);
  return 0;
}

VideoRenderer* CreateVideoRenderer(uint32_t* ready, DisplayFormat* format, uint32_t kind, HWND window,
                                   PlayerShellServices* shell) {
  uint32_t isReady = 0;
  VideoRenderer* renderer = nullptr;
  if (kind == 0 || kind == 1) {
    renderer = new GdiRenderer(&isReady, format, window, shell);
    if (!isReady && kind == 0) {
      delete renderer;
      renderer = new GdiRenderer(&isReady, format, window, shell);
    }
  }
  if (renderer && format) *format = renderer->SurfaceFormat();
  if (ready) *ready = isReady;
  if (!isReady) {
    delete renderer;
    return nullptr;
  }
  return renderer;
}
