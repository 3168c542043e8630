#include "shell/skin_window.h"

#include <algorithm>
#include <string>

#include "shell/font_linking.h"
#include "shell/portable/settings_values.h"
#include "shell/portable/skin_controls.h"
#include "shell/settings_store.h"
#include "shell/startup.h"
#include "shell/win_api_table.h"

namespace {

constexpr UINT kFaceListId = 60250;
constexpr UINT kSkinFileId = 60169;
constexpr UINT kLiveId = 60139;
constexpr UINT kBufferingId = 60130;
constexpr UINT kMenuId = 279;
constexpr UINT kLogoId = 429;
constexpr DWORD kMainStyle = WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

std::wstring LoadText(HINSTANCE instance, UINT id) {
  wchar_t text[256] = {};
  return WinApi().LoadStringW(instance, id, text, 256) > 0 ? std::wstring(text) : std::wstring();
}

RECT Moved(RECT r, int dx, int dy) {
  OffsetRect(&r, dx, dy);
  return r;
}

void Copy(HDC dc, HDC source, int x, int y, int w, int h, int sx, int sy) {
  if (w > 0 && h > 0) BitBlt(dc, x, y, w, h, source, sx, sy, SRCCOPY);
}

void Stretch(HDC dc, HDC source, int x, int y, int w, int h, int sx, int sy, int sw, int sh) {
  if (w > 0 && h > 0) StretchBlt(dc, x, y, w, h, source, sx, sy, sw, sh, SRCCOPY);
}

}  // namespace

// ---- base ----

SkinWindowBase::SkinWindowBase() : live_(L"Live"), black_(static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH))) {}

SkinWindowBase::~SkinWindowBase() {
  if (busyTimer_ && main_) KillTimer(main_, kBusyTimer);
  progress_.reset();
  if (baseFont_) DeleteObject(baseFont_);
  if (logo_) DeleteObject(logo_);
  if (volume_) {
    WriteSettingDwordById(instance_, shell::kCurrentVolume, static_cast<DWORD>(volume_->GetVolume()));
    if (volume_->Window()) SendMessageW(volume_->Window(), WM_CLOSE, 0, 0);
    volume_.reset();
  }
}

int SkinWindowBase::InitResources() {
  HDC dc = GetDC(main_);
  LOGFONTW lf = {};
  MakeDefaultLogFont(&lf, dc, 10);
  const std::wstring faces = LoadText(instance_, kFaceListId);
  baseFont_ = CreateFontFromFaceList(faces.c_str(), dc, &lf);
  displayFont_ = FontForCodePages(dc, baseFont_, CodePageSetOf(WinApiLayer().uiCodePage));
  ReleaseDC(main_, dc);
  if (menu_) {
    for (UINT id : {41101u, 41102u, 41125u, 41124u, 41123u, 40035u}) EnableMenuItem(menu_, id, MF_GRAYED);
    DWORD restart = 0;
    const bool suspended = ReadSettingDwordById(instance_, shell::kRestart, &restart) && restart != 0;
    EnableMenuItem(menu_, 41125, suspended ? MF_ENABLED : MF_GRAYED);
    EnableMenuItem(menu_, 41132, suspended ? MF_ENABLED : MF_GRAYED);
  }
  logo_ = static_cast<HBITMAP>(WinApi().LoadImageW(instance_, MAKEINTRESOURCEW(kLogoId), IMAGE_BITMAP, 0, 0, 0));
  BITMAP info = {};
  if (logo_ && GetObjectW(logo_, sizeof(info), &info)) {
    logoWidth_ = info.bmWidth;
    logoHeight_ = info.bmHeight;
  }
  return 1;
}

void SkinWindowBase::SetProgress(int32_t position, int32_t duration) {
  if (progress_) progress_->SetPosition(position, duration);
}
void SkinWindowBase::SetDownloadProgress(int32_t a, int32_t b) {
  if (progress_) progress_->SetDownload(a, b);
}
void SkinWindowBase::ResetProgress(int keep) {
  if (progress_) progress_->Reset(keep);
}
void SkinWindowBase::RelayoutProgress() {
  if (progress_) progress_->Relayout();
}
void SkinWindowBase::SetSeekable(bool seekable) {
  if (progress_) progress_->SetSeekable(seekable);
}
void SkinWindowBase::SetVolume(int value) {
  if (volume_) volume_->SetVolume(value);
}

HFONT SkinWindowBase::TextFont() const {
  return displayFont_ ? displayFont_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

HBRUSH SkinWindowBase::OnCtlColorStatic(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

void SkinWindowBase::AnimateBusy() {
  if (!animation_ || !skin_) return;
  const SIZE size = skin_->ElementSize(6);
  if (HBITMAP frame = skin_->ImageBitmap(6, frame_)) {
    HDC dc = GetDC(animation_);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(source, frame);
    BitBlt(dc, 0, 0, size.cx, size.cy, source, 0, 0, SRCCOPY);
    SelectObject(source, old);
    DeleteDC(source);
    ReleaseDC(animation_, dc);
  }
  frame_ = (frame_ + 1) % 8;
}

void SkinWindowBase::StartBusy() {
  if (busyTimer_) return;
  if (animation_) ShowWindow(animation_, SW_SHOWNA);
  HWND main = FindMainWindow(instance_);
  if (main) busyTimer_ = SetTimer(main, kBusyTimer, 100, nullptr);
}

void SkinWindowBase::StopBusy() {
  if (busyTimer_) {
    KillTimer(FindMainWindow(instance_), kBusyTimer);
    busyTimer_ = 0;
  }
  if (animation_) ShowWindow(animation_, SW_HIDE);
}

void SkinWindowBase::DrawLogo() {
  if (!video_ || !logo_) return;
  RECT r = {};
  GetClientRect(video_, &r);
  HDC dc = GetDC(video_);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, logo_);
  BitBlt(dc, (r.right - logoWidth_) / 2, (r.bottom - logoHeight_) / 2, logoWidth_, logoHeight_, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
  ReleaseDC(video_, dc);
}

// ---- the player's skin window ----

PlayerSkinWindow::PlayerSkinWindow() = default;

PlayerSkinWindow::~PlayerSkinWindow() {
  // The controls read the skin's bitmaps: they go before it.
  progress_.reset();
  if (volume_) {
    WriteSettingDwordById(instance_, shell::kCurrentVolume, static_cast<DWORD>(volume_->GetVolume()));
    if (volume_->Window()) SendMessageW(volume_->Window(), WM_CLOSE, 0, 0);
    volume_.reset();
  }
  skin_.reset();
  if (menu_ && !(main_ && IsWindow(main_))) DestroyMenu(menu_);
}

HWND PlayerSkinWindow::Create(int flag) {
  instance_ = WinApiLayer().instance;
  wchar_t folder[kSettingStringCapacity] = {};
  if (!ReadSettingStringById(instance_, shell::kKRData, folder)) return nullptr;
  const std::wstring path = std::wstring(folder) + LoadText(instance_, kSkinFileId);
  skin_ = std::make_unique<SkinManager>();
  // A skin that lacks what the face draws is no skin for the player.
  if (!skin_->LoadSkinFromPath(path.c_str()) || shell::CheckPlayerSkin(skin_->Skin()) != shell::SkinResult::kOk) {
    skin_.reset();
    return nullptr;
  }
  const std::wstring title = LoadText(instance_, 3);
  const SIZE face = skin_->ImageSize(0, 0);
  RECT frame = {0, 0, face.cx, face.cy};
  AdjustWindowRect(&frame, kMainStyle, TRUE);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2, y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  menu_ = WinApi().LoadMenuW(instance_, MAKEINTRESOURCEW(kMenuId));
  main_ = WinApi().CreateWindowExW(0, title.c_str(), title.c_str(), kMainStyle, x, y, width, height, nullptr, menu_,
                                   instance_, nullptr);
  if (!main_) return nullptr;
  if (flag && menu_)
    for (UINT id : {41100u, 40034u, 40027u}) EnableMenuItem(menu_, id, MF_GRAYED);

  RECT client = {};
  GetClientRect(main_, &client);
  statusOffset_ = client.bottom - skin_->ImageRect(9, 0).top;
  timeOffsetX_ = client.right - skin_->ImageRect(10, 0).left;
  timeOffsetY_ = client.bottom - skin_->ImageRect(10, 0).top;

  videoRect_ = skin_->VideoRect();
  video_ = WinApi().CreateWindowExW(0, title.c_str(), L"", WS_CHILD | WS_VISIBLE,
                                    (videoRect_.left + videoRect_.right - 192) / 2,
                                    (videoRect_.top + videoRect_.bottom - 144) / 2, 192, 144, main_,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(kVideoChildId)), instance_, nullptr);
  if (video_) EnableWindow(video_, FALSE);

  progress_ = std::make_unique<ProgressControl>(skin_.get(), this);
  progress_->Create(instance_);
  progress_->SetSeekable(false);
  volume_ = std::make_unique<VolumeControl>(skin_.get());
  volume_->Create(instance_);
  DWORD volume = 40;
  ReadSettingDwordById(instance_, shell::kCurrentVolume, &volume);
  volume_->SetVolume(static_cast<int>(volume));
  return main_;
}

int PlayerSkinWindow::InitResources() {
  SkinWindowBase::InitResources();
  for (int i = 0; i < 4; ++i) hit_[i] = skin_->ElementRect(i < 3 ? i + 1 : 8);
  const RECT a = skin_->ElementRect(6);
  animation_ = WinApi().CreateWindowExW(0, L"Static", L"", WS_CHILD, a.left, a.top, a.right - a.left,
                                        a.bottom - a.top, main_, nullptr, instance_, nullptr);
  return 1;
}

int PlayerSkinWindow::Dx() const {
  RECT c = {};
  GetClientRect(main_, &c);
  return c.right - skin_->ElementSize(0).cx;
}

int PlayerSkinWindow::Dy() const {
  RECT c = {};
  GetClientRect(main_, &c);
  return c.bottom - skin_->ElementSize(0).cy;
}

RECT PlayerSkinWindow::HitRect(int element) const {
  switch (element) {
    case 1: return hit_[0];
    case 2: return hit_[1];
    case 3: return hit_[2];
    case 8: return hit_[3];
    default: return RECT{};
  }
}

void PlayerSkinWindow::DrawImage(HDC dc, int element, int image, const RECT& at) {
  HBITMAP bitmap = skin_->ImageBitmap(element, image);
  if (!bitmap) return;
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, bitmap);
  BitBlt(dc, at.left, at.top, at.right - at.left, at.bottom - at.top, source, 0, 0, SRCCOPY);
  SelectObject(source, old);
  DeleteDC(source);
}

void PlayerSkinWindow::DrawButton(int element, int image) {
  if (element != 1 && element != 2) return;
  hit_[element - 1] = Moved(skin_->ElementRect(element), 0, Dy());
  HDC dc = GetDC(main_);
  DrawImage(dc, element, image, hit_[element - 1]);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::DrawVolumeButton(int image) {
  hit_[2] = Moved(skin_->ElementRect(3), Dx(), Dy());
  HDC dc = GetDC(main_);
  DrawImage(dc, 3, image, hit_[2]);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::DrawShowcaseButton(int image) {
  hit_[3] = Moved(skin_->ElementRect(8), Dx(), 0);
  HDC dc = GetDC(main_);
  DrawImage(dc, 8, image, hit_[3]);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::DrawFace(HDC dc) {
  RECT client = {};
  GetClientRect(main_, &client);
  const SIZE face = skin_->ImageSize(0, 0);
  const int W = face.cx, H = face.cy, CW = client.right, CH = client.bottom;
  // The background is cut at its middle; a larger window repeats the
  // middle column and row in the gap, so at the skin's own size the face is
  // the background unchanged.
  const int half = W / 2, mid = H / 2, gx = std::max(CW - W, 0), gy = std::max(CH - H, 0);
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(source, skin_->ImageBitmap(0, 0));
  Copy(dc, source, 0, 0, half, mid, 0, 0);
  Copy(dc, source, half + gx, 0, W - half, mid, half, 0);
  Copy(dc, source, 0, mid + gy, half, H - mid, 0, mid);
  Copy(dc, source, half + gx, mid + gy, W - half, H - mid, half, mid);
  Stretch(dc, source, half, 0, gx, mid, half, 0, 1, mid);
  Stretch(dc, source, half, mid + gy, gx, H - mid, half, mid, 1, H - mid);
  Stretch(dc, source, 0, mid, half, gy, 0, mid, half, 1);
  Stretch(dc, source, half + gx, mid, W - half, gy, half, mid, W - half, 1);
  Stretch(dc, source, half, mid, gx, gy, half, mid, 1, 1);
  SelectObject(source, old);
  DeleteDC(source);

  const int dx = Dx(), dy = Dy();
  hit_[0] = Moved(skin_->ElementRect(1), 0, dy);
  hit_[1] = Moved(skin_->ElementRect(2), 0, dy);
  hit_[2] = Moved(skin_->ElementRect(3), dx, dy);
  hit_[3] = Moved(skin_->ElementRect(8), dx, 0);
  DrawImage(dc, 1, playState, hit_[0]);
  DrawImage(dc, 2, stopState, hit_[1]);
  DrawImage(dc, 3, volumeState, hit_[2]);
  DrawImage(dc, 8, 0, hit_[3]);
  if (progress_ && progress_->Window()) InvalidateRect(progress_->Window(), nullptr, FALSE);
  DrawTitle(dc);
  DrawStatusLine(dc);
  DrawTimeArea(dc);
  if (volumeState == 2 && volume_ && volume_->Window()) InvalidateRect(volume_->Window(), nullptr, FALSE);
}

RECT PlayerSkinWindow::StatusRect() const {
  RECT c = {};
  GetClientRect(main_, &c);
  RECT r = skin_->ImageRect(9, 0);
  const int height = r.bottom - r.top;
  r.top = c.bottom - statusOffset_;
  r.bottom = r.top + height;
  r.left = skin_->ElementPosition(6).x;
  return r;
}

RECT PlayerSkinWindow::TimeRect() const {
  RECT c = {};
  GetClientRect(main_, &c);
  const RECT image = skin_->ImageRect(10, 0);
  const int left = c.right - timeOffsetX_, top = c.bottom - timeOffsetY_;
  return RECT{left, top, left + (image.right - image.left), top + (image.bottom - image.top)};
}

void PlayerSkinWindow::DrawTextArea(HDC dc, const RECT& r, const std::wstring& text, UINT align) {
  FillRect(dc, &r, black_);
  if (text.empty()) return;
  HGDIOBJ old = SelectObject(dc, TextFont());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(255, 255, 255));
  // A sixth of the height down, but never so low that the line's descent
  // falls below the area: a skin's area only just taller than the font
  // would cut "g" and "y".
  TEXTMETRICW metrics = {};
  GetTextMetricsW(dc, &metrics);
  RECT at = r;
  at.top += std::max(0, std::min<int>((r.bottom - r.top) / 6, r.bottom - r.top - metrics.tmHeight));
  DrawTextW(dc, text.c_str(), -1, &at, align | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
}

void PlayerSkinWindow::DrawStatusLine(HDC dc) { DrawTextArea(dc, StatusRect(), status_, DT_LEFT); }

void PlayerSkinWindow::DrawTimeArea(HDC dc) { DrawTextArea(dc, TimeRect(), liveMode_ ? live_ : timeText_, DT_RIGHT); }

void PlayerSkinWindow::DrawTitle(HDC dc) {
  if (title_.empty()) return;
  const RECT r = skin_->ImageRect(7, 0);
  HFONT font = FontForText(dc, baseFont_ ? baseFont_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)),
                           title_.c_str());
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, RGB(0, 0, 0));
  // Cut from the end until the text and "..." fit.
  std::wstring text = title_;
  SIZE size = {};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  if (size.cx > r.right - r.left) {
    while (!text.empty()) {
      text.pop_back();
      const std::wstring trial = text + L"...";
      GetTextExtentPoint32W(dc, trial.c_str(), static_cast<int>(trial.size()), &size);
      if (size.cx <= r.right - r.left) break;
    }
    text += L"...";
  }
  RECT at = r;
  DrawTextW(dc, text.c_str(), -1, &at, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  SelectObject(dc, old);
}

void PlayerSkinWindow::SetTitle(const wchar_t* text) {
  title_ = text ? std::wstring(text).substr(0, 255) : std::wstring();
  const RECT r = skin_->ImageRect(7, 0);
  InvalidateRect(main_, &r, TRUE);
}

void PlayerSkinWindow::SetStatus(UINT id) {
  status_ = LoadText(instance_, id);
  HDC dc = GetDC(main_);
  DrawStatusLine(dc);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::ShowBuffering(int percent) {
  status_ = LoadText(instance_, kBufferingId) + L" " + std::to_wstring(percent) + L"%";
  HDC dc = GetDC(main_);
  DrawStatusLine(dc);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::SetTime(uint32_t positionSeconds, uint32_t durationSeconds) {
  const std::u16string text = shell::FormatTimeText(positionSeconds, durationSeconds);
  timeText_.assign(text.begin(), text.end());
  liveMode_ = false;
  HDC dc = GetDC(main_);
  DrawTimeArea(dc);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::ShowLive() {
  live_ = LoadText(instance_, kLiveId);
  liveMode_ = true;
  HDC dc = GetDC(main_);
  DrawTimeArea(dc);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::ClearTime(bool reset) {
  if (reset) {
    timeText_.clear();
    live_.clear();
  }
  const RECT r = TimeRect();
  HDC dc = GetDC(main_);
  FillRect(dc, &r, black_);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::Resize(int videoWidth, int videoHeight, bool recentreOnly) {
  videoWidth_ = videoWidth;
  videoHeight_ = videoHeight;
  if (recentreOnly) {
    MoveWindow(video_, (videoRect_.left + videoRect_.right - videoWidth) / 2,
               (videoRect_.top + videoRect_.bottom - videoHeight) / 2, videoWidth, videoHeight, TRUE);
  } else {
    const RECT skinVideo = skin_->VideoRect();
    const SIZE face = skin_->ImageSize(0, 0);
    int clientWidth = face.cx, clientHeight = face.cy;
    videoRect_ = skinVideo;
    if (videoWidth >= skinVideo.right - skinVideo.left) {
      videoRect_.right = skinVideo.left + videoWidth;
      clientWidth += videoWidth - (skinVideo.right - skinVideo.left);
    }
    if (videoHeight >= skinVideo.bottom - skinVideo.top) {
      videoRect_.bottom = skinVideo.top + videoHeight;
      clientHeight += videoHeight - (skinVideo.bottom - skinVideo.top);
    }
    RECT frame = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&frame, kMainStyle, TRUE);
    SetWindowPos(main_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    MoveWindow(video_, (videoRect_.left + videoRect_.right - videoWidth) / 2,
               (videoRect_.top + videoRect_.bottom - videoHeight) / 2, videoWidth, videoHeight, TRUE);
    const int dx = Dx(), dy = Dy();
    if (progress_ && progress_->Window()) {
      const POINT p = skin_->ImagePosition(5, 0);
      const SIZE s = skin_->ElementSize(5);
      MoveWindow(progress_->Window(), p.x, p.y + dy, s.cx + dx, s.cy, TRUE);
      progress_->Layout();
    }
    if (volumeState == 2) PlaceVolumePopup();
    if (animation_) {
      const POINT a = skin_->ElementPosition(6);
      SetWindowPos(animation_, nullptr, a.x, a.y + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    InvalidateRect(main_, nullptr, TRUE);
  }
  HDC dc = GetDC(main_);
  DrawStatusLine(dc);
  ReleaseDC(main_, dc);
}

void PlayerSkinWindow::PlaceVolumePopup() {
  if (!volume_ || !volume_->Window()) return;
  POINT origin = {0, 0};
  ClientToScreen(main_, &origin);
  const POINT at = skin_->ImagePosition(4, 0);
  SetWindowPos(volume_->Window(), nullptr, origin.x + at.x + Dx(), origin.y + at.y + Dy(), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void PlayerSkinWindow::CloseVolume() {
  volumeState = 0;
  if (volume_ && volume_->Window()) ShowWindow(volume_->Window(), SW_HIDE);
  DrawVolumeButton(volumeState);
}

void PlayerSkinWindow::HideVolume() {
  if (volume_ && volume_->Window() && IsWindowVisible(volume_->Window())) CloseVolume();
}

int PlayerSkinWindow::OnLButtonDown(POINT p) {
  int result = -1;
  if (PtInRect(&hit_[0], p)) {
    if (playState != 1 && playState != 4) {
      SetCapture(main_);
      if (playState == 3) playState = 5;
      else if (playState == 0) playState = 2;
      DrawButton(1, playState);
      result = 1;
    }
  } else if (PtInRect(&hit_[1], p)) {
    if (stopState != 1) {
      SetCapture(main_);
      stopState = 2;
      DrawButton(2, stopState);
      result = 2;
    }
  } else if (PtInRect(&hit_[2], p)) {
    if (volumeState == 1) return -1;
    if (volumeState != 2) {
      PlaceVolumePopup();
      if (volume_ && volume_->Window()) ShowWindow(volume_->Window(), SW_SHOWNA);
      volumeState = 2;
      SetFocus(main_);
    } else {
      volumeState = 0;
      if (volume_ && volume_->Window()) ShowWindow(volume_->Window(), SW_HIDE);
    }
    DrawVolumeButton(volumeState);
    return 3;
  } else if (PtInRect(&hit_[3], p)) {
    wchar_t page[kSettingStringCapacity] = {};
    if (ReadSettingStringById(instance_, shell::kShowcaseLocation, page))
      WinApi().ShellExecuteW(main_, L"Open", page, nullptr, nullptr, 0);
    result = 8;
  }
  // Any click but on the volume button closes an open slider.
  if (volumeState == 2) CloseVolume();
  return result;
}

void PlayerSkinWindow::OnLButtonUp() {
  if (playState == 2) {
    playState = 3;
    stopState = 0;
    DrawButton(1, playState);
    DrawButton(2, stopState);
  } else if (playState == 5) {
    playState = 0;
    DrawButton(1, playState);
  } else if (stopState == 2) {
    stopState = 1;
    playState = 0;
    DrawButton(1, playState);
    DrawButton(2, stopState);
  }
  if (GetCapture() == main_) ReleaseCapture();
}

void PlayerSkinWindow::Restore() {
  if (main_ && IsIconic(main_)) ShowWindow(main_, SW_RESTORE);
}
