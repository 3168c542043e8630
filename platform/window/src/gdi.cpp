#include "window/gdi.h"

namespace win {

MemoryDC::MemoryDC(HDC reference, int width, int height) {
  HDC screen = reference ? nullptr : GetDC(nullptr);
  HDC like = reference ? reference : screen;
  dc_ = CreateCompatibleDC(like);
  bitmap_ = CreateCompatibleBitmap(like, width, height);
  if (screen) ReleaseDC(nullptr, screen);
  if (dc_ && bitmap_) previous_ = SelectObject(dc_, bitmap_);
}

MemoryDC::~MemoryDC() {
  if (dc_ && previous_) SelectObject(dc_, previous_);
  if (bitmap_) DeleteObject(bitmap_);
  if (dc_) DeleteDC(dc_);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF colour) {
  // ExtTextOut with an opaque rectangle fills without a brush object.
  COLORREF previous = SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  SetBkColor(dc, previous);
}

std::wstring LoadText(HINSTANCE module, UINT id) {
  const wchar_t* text = nullptr;
  // A length of 0 asks for a pointer into the resource itself.
  int length = LoadStringW(module, id, reinterpret_cast<LPWSTR>(&text), 0);
  if (length <= 0 || !text) return std::wstring();
  return std::wstring(text, static_cast<size_t>(length));
}

}  // namespace win
