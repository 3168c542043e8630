#include "shell/skin_controls.h"

#include <windowsx.h>

#include <algorithm>

#include "shell/skin_manager.h"
#include "shell/startup.h"
#include "shell/win_api_table.h"

namespace {

constexpr wchar_t kProgressClass[] = L"Progress";
constexpr wchar_t kVolumeClass[] = L"Volume";
constexpr int kThumbWidth = 8;
constexpr int kHitMargin = 8;

bool RegisterControlClass(HINSTANCE instance, const wchar_t* name, UINT style, WNDPROC proc) {
  WNDCLASSW wc = {};
  wc.style = style;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = name;
  return WinApi().RegisterClassW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

template <typename T>
T* ObjectOf(HWND window) {
  return reinterpret_cast<T*>(WinApi().GetWindowLongPtrW(window, GWLP_USERDATA));
}

// Both controls take the left button and painting, then pass every message on.
template <typename T>
LRESULT ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (T* self = ObjectOf<T>(window)) {
    switch (message) {
      case WM_LBUTTONDOWN: self->OnButtonDown(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); break;
      case WM_MOUSEMOVE: self->OnMouseMove(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)); break;
      case WM_LBUTTONUP: self->OnButtonUp(GET_X_LPARAM(lParam)); break;
      case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        self->Paint(dc);
        EndPaint(window, &ps);
        break;
      }
      default: break;
    }
  }
  return WinApi().DefWindowProcW(window, message, wParam, lParam);
}

void Blit(HDC dc, HBITMAP bitmap, int x, int y, int w, int h, int sx, int sy) {
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap);
  BitBlt(dc, x, y, w, h, source, sx, sy, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

}  // namespace

// ---- seek bar ----

ProgressControl::ProgressControl(SkinManager* skin, SeekOwner* owner)
    : played_brush_(CreateSolidBrush(0x606060)),
      thumb_brush_(CreateSolidBrush(0x343434)),
      downloaded_brush_(CreateSolidBrush(0x989898)),
      empty_brush_(CreateSolidBrush(0xBBBBBB)),
      skin_(skin),
      owner_(owner) {
  face_ = skin_->ImageBitmap(5, 0);
  const SIZE size = skin_->ImageSize(5, 0);
  faceWidth_ = size.cx;
  faceHeight_ = size.cy;
}

ProgressControl::~ProgressControl() {
  if (window_ && IsWindow(window_)) WinApi().SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  DeleteObject(played_brush_);
  DeleteObject(thumb_brush_);
  DeleteObject(downloaded_brush_);
  DeleteObject(empty_brush_);
}

HWND ProgressControl::Create(HINSTANCE instance) {
  mainWindow_ = FindMainWindow(instance);
  if (!mainWindow_ || !face_ || !RegisterControlClass(instance, kProgressClass, CS_DBLCLKS, &WndProc)) return nullptr;
  const RECT r = skin_->ImageRect(5, 0);
  window_ = WinApi().CreateWindowExW(0, kProgressClass, L"", WS_CHILD | WS_VISIBLE, r.left, r.top,
                                     r.right - r.left, r.bottom - r.top, mainWindow_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(kSeekBarId)), instance, nullptr);
  if (!window_) return nullptr;
  WinApi().SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  Relayout();
  return window_;
}

RECT ProgressControl::Client() const {
  RECT c = {0, 0, faceWidth_, faceHeight_};
  if (window_) GetClientRect(window_, &c);
  return c;
}

void ProgressControl::Layout() {
  const RECT c = Client();
  bar_ = {c.left + margins_.left, c.top + margins_.top, c.right - margins_.right, c.bottom - margins_.bottom};
  barArea_ = {1, 8, c.right - 1, faceHeight_ - 8};
  SetPosition(position_, duration_);
  if (downloadB_ != 0) SetDownload(downloadA_, downloadB_);
}

void ProgressControl::SetSeekable(bool seekable) {
  seekable_ = seekable;
  margins_ = seekable ? RECT{5, 8, 5, 8} : RECT{1, 8, 1, 8};
  const RECT c = Client();
  bar_ = {c.left + margins_.left, c.top + margins_.top, c.right - margins_.right, c.bottom - margins_.bottom};
  barArea_.right = c.right - 1;
}

void ProgressControl::SetPosition(int32_t position, int32_t duration) {
  position_ = position;
  duration_ = duration;
  // No duration yet: an empty bar, not a division by zero.
  const int x = shell::SeekXOf(position, bar_.left, bar_.right - bar_.left, duration);
  played_ = {bar_.left, bar_.top, x, bar_.bottom};
  if (seekable_) {
    played_.left -= 4;
    thumb_ = {x - 4, bar_.top, x + 4, bar_.bottom};
  }
  if (window_) InvalidateRect(window_, &played_, FALSE);
}

void ProgressControl::SetDownload(int32_t a, int32_t b) {
  downloadA_ = a;
  downloadB_ = b;
  const int width = bar_.right - bar_.left;
  const int right = b > 0 ? bar_.left + static_cast<int>(static_cast<double>(width) * (b - a) / b) : bar_.left;
  download_ = {bar_.left, bar_.top, right, bar_.bottom};
  if (window_) InvalidateRect(window_, &download_, FALSE);
}

void ProgressControl::Reset(int keep) {
  keep_ = keep;
  if (keep == 0) {
    download_ = {};
    downloadA_ = downloadB_ = 0;
    if (window_) InvalidateRect(window_, nullptr, TRUE);
  }
}

void ProgressControl::Relayout() {
  const RECT c = Client();
  played_ = {};
  thumb_ = {c.left + 1, c.top + 8, c.left + 1 + kThumbWidth, c.bottom - 8};
  bar_ = {c.left + margins_.left, c.top + margins_.top, c.right - margins_.right, c.bottom - margins_.bottom};
  barArea_ = {1, 8, c.right - 1, faceHeight_ - 8};
  if (window_) InvalidateRect(window_, nullptr, TRUE);
}

void ProgressControl::SetBarGrey(bool on) {
  barGrey_ = on;
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void ProgressControl::SetBarFull(bool on) {
  barFull_ = on;
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

void ProgressControl::PlaceThumbRight(int right) {
  right = std::clamp(right, static_cast<int>(barArea_.left) + kThumbWidth, static_cast<int>(barArea_.right));
  thumb_.right = right;
  thumb_.left = right - kThumbWidth;
  played_ = {barArea_.left, bar_.top, right, bar_.bottom};
}

void ProgressControl::OnButtonDown(int x, int y) {
  if (!seekable_) return;
  const POINT p = {x, y};
  if (PtInRect(&thumb_, p)) {
    SetCapture(window_);
    dragOffset_ = thumb_.right - x;
  } else if (x >= barArea_.left && x < barArea_.right && y >= barArea_.top - kHitMargin &&
             y < barArea_.bottom + kHitMargin) {
    dragging_ = true;
    SetCapture(window_);
    PlaceThumbRight(x + kThumbWidth / 2);
    position_ = shell::SeekPositionAt(x, bar_.left, bar_.right - bar_.left, duration_);
    PaintNow();
  } else {
    return;
  }
  WinApi().PostMessageW(mainWindow_, kMsgSeekStart, 0, 0);
  WinApi().PostMessageW(mainWindow_, kMsgSeekRelease, 0, 0);
}

void ProgressControl::OnMouseMove(int x, int) {
  if (GetCapture() != window_) return;
  if (x >= barArea_.left && x < barArea_.right)
    PlaceThumbRight(x + dragOffset_);
  else if (x >= barArea_.right)
    PlaceThumbRight(barArea_.right);
  else
    PlaceThumbRight(barArea_.left + kThumbWidth);
  const int32_t position = shell::SeekPositionAt(x, bar_.left, bar_.right - bar_.left, duration_);
  if (position != lastReported_) {
    if (owner_) owner_->SetTime(static_cast<uint32_t>(position / 1000), static_cast<uint32_t>(duration_ / 1000));
    lastReported_ = position;
  }
  PaintNow();
  InvalidateRect(window_, &thumb_, FALSE);
}

void ProgressControl::OnButtonUp(int x) {
  if (GetCapture() != window_) return;
  lastReported_ = -1;
  dragging_ = false;
  ReleaseCapture();
  if (x < 0) x = bar_.left;
  const int32_t position = shell::SeekPositionAt(x, bar_.left, bar_.right - bar_.left, duration_);
  if (owner_) owner_->SetTime(static_cast<uint32_t>(position / 1000), static_cast<uint32_t>(duration_ / 1000));
  WinApi().PostMessageW(mainWindow_, kMsgSeekTo, 0, position);
}

void ProgressControl::Paint(HDC target) {
  const RECT c = Client();
  const int w = c.right - c.left, h = c.bottom - c.top;
  HDC dc = CreateCompatibleDC(target);
  HBITMAP canvas = CreateCompatibleBitmap(target, w, h);
  HGDIOBJ oldCanvas = SelectObject(dc, canvas);
  HDC face = CreateCompatibleDC(target);
  HGDIOBJ oldFace = SelectObject(face, face_);
  // The face's ends as they are, its middle strip stretched between them.
  BitBlt(dc, 0, 0, 2, h, face, 0, 0, SRCCOPY);
  BitBlt(dc, w - 3, 0, 3, h, face, faceWidth_ - 3, 0, SRCCOPY);
  StretchBlt(dc, 1, 0, w - 4, h, face, faceWidth_ / 2 - 1, 0, 4, faceHeight_, SRCCOPY);
  SelectObject(face, oldFace);
  DeleteDC(face);
  if (barFull_) {
    FillRect(dc, &barArea_, played_brush_);
  } else {
    FillRect(dc, &barArea_, barGrey_ ? downloaded_brush_ : empty_brush_);
    if (download_.right > download_.left) FillRect(dc, &download_, downloaded_brush_);
    if (played_.right > played_.left) FillRect(dc, &played_, played_brush_);
    if (seekable_) FillRect(dc, &thumb_, thumb_brush_);
  }
  BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  SelectObject(dc, oldCanvas);
  DeleteObject(canvas);
  DeleteDC(dc);
}

void ProgressControl::PaintNow() {
  if (HDC dc = GetDC(window_)) {
    Paint(dc);
    ReleaseDC(window_, dc);
  }
}

LRESULT CALLBACK ProgressControl::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ControlProc<ProgressControl>(window, message, wParam, lParam);
}

// ---- volume slider ----

VolumeControl::VolumeControl(SkinManager* skin) : skin_(skin) {
  track_ = skin_->ImageBitmap(4, 0);
  thumbImage_ = skin_->ImageBitmap(4, 1);
  const SIZE t = skin_->ImageSize(4, 0), b = skin_->ImageSize(4, 1);
  trackWidth_ = t.cx;
  trackHeight_ = t.cy;
  thumbWidth_ = b.cx;
  thumbHeight_ = b.cy;
}

VolumeControl::~VolumeControl() {
  if (window_ && IsWindow(window_)) WinApi().SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
}

HWND VolumeControl::Create(HINSTANCE instance) {
  mainWindow_ = FindMainWindow(instance);
  if (!mainWindow_ || !track_ || !thumbImage_ ||
      !RegisterControlClass(instance, kVolumeClass, CS_HREDRAW | CS_VREDRAW, &WndProc))
    return nullptr;
  POINT origin = {0, 0};
  ClientToScreen(mainWindow_, &origin);
  const POINT at = skin_->ImagePosition(4, 0);
  window_ = WinApi().CreateWindowExW(0, kVolumeClass, L"", WS_POPUP, origin.x + at.x, origin.y + at.y, trackWidth_,
                                     trackHeight_, mainWindow_, nullptr, instance, nullptr);
  if (!window_) return nullptr;
  WinApi().SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return window_;
}

void VolumeControl::MoveThumb(int top) {
  thumb_.top = top;
  thumb_.bottom = top + thumbHeight_;
  if (window_) InvalidateRect(window_, nullptr, FALSE);
  value_ = shell::VolumeTrack{track_rect_.top, track_rect_.bottom, thumbHeight_}.ValueAt(top);
}

void VolumeControl::SetVolume(int value) {
  value = std::clamp(value, 0, 100);
  MoveThumb(shell::VolumeTrack{track_rect_.top, track_rect_.bottom, thumbHeight_}.ThumbTopFor(value));
}

void VolumeControl::OnButtonDown(int x, int y) {
  const POINT p = {x, y};
  const int lowest = track_rect_.bottom - thumbHeight_;
  if (PtInRect(&thumb_, p)) {
    SetCapture(window_);
    dragOffset_ = y - thumb_.top;
    return;
  }
  if (!PtInRect(&track_rect_, p)) {
    if (PtInRect(&topZone_, p)) {
      SetCapture(window_);
      MoveThumb(track_rect_.top);
    } else if (PtInRect(&bottomZone_, p)) {
      SetCapture(window_);
      MoveThumb(lowest);
    } else {
      return;
    }
  } else {
    SetCapture(window_);
    MoveThumb(std::clamp(y - thumbHeight_ / 2, static_cast<int>(track_rect_.top), lowest));
  }
  WinApi().SendMessageW(mainWindow_, kMsgVolumeChanged, 0, value_);
}

void VolumeControl::OnMouseMove(int, int y) {
  if (GetCapture() != window_) return;
  const int lowest = track_rect_.bottom - thumbHeight_;
  if (y >= track_rect_.top && y < track_rect_.bottom)
    MoveThumb(std::clamp(y - dragOffset_, static_cast<int>(track_rect_.top), lowest));
  else if (y >= track_rect_.bottom)
    MoveThumb(lowest);
  else
    MoveThumb(track_rect_.top);
  WinApi().SendMessageW(mainWindow_, kMsgVolumeChanged, 0, value_);
}

void VolumeControl::OnButtonUp(int) {
  if (GetCapture() != window_) return;
  ReleaseCapture();
  WinApi().PostMessageW(mainWindow_, kMsgSeekRelease, 0, 0);
}

void VolumeControl::Paint(HDC dc) {
  Blit(dc, track_, 0, 0, trackWidth_, trackHeight_, 0, 0);
  Blit(dc, thumbImage_, thumb_.left, thumb_.top, thumbWidth_, thumbHeight_, 0, 0);
}

LRESULT CALLBACK VolumeControl::WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return ControlProc<VolumeControl>(window, message, wParam, lParam);
}
