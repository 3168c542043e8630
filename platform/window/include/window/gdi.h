// Device-context, bitmap and string-table helpers: each owner gives back
// what it holds when it goes.
#pragma once

#include <windows.h>

#include <string>

namespace win {

// A memory device context compatible with `reference` (the screen when
// null) holding a bitmap of its own of the given size.
class MemoryDC {
 public:
  MemoryDC(HDC reference, int width, int height);
  ~MemoryDC();
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC Get() const { return dc_; }
  HBITMAP Bitmap() const { return bitmap_; }
  bool Valid() const { return dc_ && bitmap_; }

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

// Selects an object into a device context and puts the previous one back.
class Selected {
 public:
  Selected(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~Selected() { SelectObject(dc_, previous_); }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A window's client-area device context for painting outside WM_PAINT.
class ClientDC {
 public:
  explicit ClientDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~ClientDC() { ReleaseDC(window_, dc_); }
  ClientDC(const ClientDC&) = delete;
  ClientDC& operator=(const ClientDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Fills a rectangle with one colour (no brush left behind).
void FillSolid(HDC dc, const RECT& rect, COLORREF colour);
// The string `id` of the module's string table; empty when it has none.
std::wstring LoadText(HINSTANCE module, UINT id);

}  // namespace win
