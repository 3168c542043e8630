// The engine's two window timers on the main window: the start-up logo
// with buffering progress (id 5) and the play-position and download watch
// (id 7). Both run on the user-interface thread.
#include <cstring>

#include "engine/player_ids.h"
#include "media_source.h"
#include "player_context.h"
#include "player_controller.h"
#include "player_engine.h"

namespace {
constexpr uint32_t kStartupLimitMs = 90000;
constexpr uint32_t kDefaultBufferMs = 7000;

uint32_t RowBytes(uint32_t width, uint32_t bitCount) { return (width * bitCount + 31) / 32 * 4; }
}  // namespace

void CALLBACK PlayerEngine::TimerProc(HWND hwnd, UINT, UINT_PTR id, DWORD) {
  auto* engine = reinterpret_cast<PlayerEngine*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (!engine) return;
  if (id == kStartupTimer)
    engine->OnStartupTick();
  else if (id == kWatchTimer)
    engine->OnWatchTick();
}

void PlayerEngine::LoadLogo() {
  HINSTANCE instance = notifier ? notifier->GetInstance() : nullptr;
  HRSRC res = FindResourceW(instance, MAKEINTRESOURCEW(ids::kLogoBitmap), reinterpret_cast<LPCWSTR>(RT_BITMAP));
  HGLOBAL loaded = res ? LoadResource(instance, res) : nullptr;
  const auto* header = loaded ? static_cast<const BITMAPINFOHEADER*>(LockResource(loaded)) : nullptr;
  if (!header) return;
  const DWORD size = SizeofResource(instance, res);
  if (size < sizeof(BITMAPINFOHEADER) || header->biSize < sizeof(BITMAPINFOHEADER) ||
      header->biWidth <= 0 || header->biWidth > 4096 || header->biHeight <= 0 ||
      header->biHeight > 4096 || header->biCompression != BI_RGB || header->biBitCount != 24)
    return;
  const uint32_t rowBytes = RowBytes(header->biWidth, 24);
  const uint64_t pixelsAt = header->biSize + static_cast<uint64_t>(header->biClrUsed) * 4;
  if (pixelsAt + static_cast<uint64_t>(rowBytes) * header->biHeight > size) return;

  logoWidth = header->biWidth;
  logoHeight = header->biHeight;
  logoBitCount = header->biBitCount;
  logoPixels = reinterpret_cast<const uint8_t*>(header) + pixelsAt;
  BITMAPINFO info = {};
  info.bmiHeader = *header;
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biClrUsed = 0;
  void* bits = nullptr;
  logoBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!logoBitmap) return;
  logoSection = static_cast<uint8_t*>(bits);
  std::memcpy(logoSection, logoPixels, static_cast<size_t>(rowBytes) * logoHeight);
}

void PlayerEngine::DrawLogo(uint32_t level) {
  if (logoBitCount != 24 || logoHeight == 0 || !logoSection) return;
  // The fade scales the resource's own rows into the section in place.
  const uint32_t factor = level * 256 / 100;
  const size_t bytes = static_cast<size_t>(RowBytes(logoWidth, 24)) * logoHeight;
  for (size_t i = 0; i < bytes; ++i) logoSection[i] = static_cast<uint8_t>((logoPixels[i] * factor) >> 8);
  HWND control = GetDlgItem(window, ids::kVideoControl);
  if (!control) return;
  RECT rc;
  GetClientRect(control, &rc);
  const int x = (rc.right - static_cast<int>(logoWidth)) / 2;
  const int y = (rc.bottom - static_cast<int>(logoHeight)) / 2;
  HDC dc = GetDC(control);
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, logoBitmap);
  BitBlt(dc, x, y, logoWidth, logoHeight, mem, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(control, dc);
}

void PlayerEngine::StartStartupTimer() {
  if (!logoEnabled) return;
  logoPhase = 1;
  waitingForBuffer = 1;
  if (window) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  context->NotifyVideoSize(logoWidth, logoHeight, 1);
  startupTimer = window ? SetTimer(window, kStartupTimer, 25, TimerProc) : 0;
  startTick = parts->TickCount();
}

void PlayerEngine::SetStartupTimerPeriod(UINT period) {
  if (startupTimer) SetTimer(window, kStartupTimer, period, TimerProc);
}

void PlayerEngine::StopStartupTimer() {
  if (startupTimer) KillTimer(window, kStartupTimer);
  startupTimer = 0;
}

void PlayerEngine::StartupTimedOut() {
  logoLevel = 0;
  StopStartupTimer();
  context->ReportError(ids::kMsgInsufficientBandwidth, static_cast<const char16_t*>(nullptr), 0, true);
}

void PlayerEngine::OnStartupTick() {
  if (parts->TickCount() - startTick > kStartupLimitMs) {
    StartupTimedOut();
    return;
  }
  uint32_t percent = 100;
  if (sourceType == kSourceStream && source) {
    if (state >= kStateStopping) {
      logoLevel = 0;
      // Stopped while still connecting: the stop already cleared the status.
      if (stoppedBeforeData)
        StopStartupTimer();
      else
        StartupDone();
      return;
    }
    const uint32_t buffered = source->GetBufferLevel();
    int64_t target = static_cast<int32_t>(source->GetMaxBufferedData());
    if (target <= 0) target = kDefaultBufferMs;
    percent = static_cast<uint32_t>(static_cast<double>(buffered) / static_cast<double>(target) * 100.0);
    if (static_cast<int64_t>(buffered) > target - 2000) {
      if (source->GetTrackStatistic() >= 30) {
        StartupTimedOut();
        return;
      }
      waitingForBuffer = 0;
    }
    if (percent > 100) percent = 100;
    notifier->SetBufferLevel(percent);
  } else {
    waitingForBuffer = 0;
  }
  if (waitingForBuffer) return;
  switch (logoPhase) {
    case 1:  // fade in
      logoLevel += 5;
      if (logoLevel > 100) {
        logoLevel = 0;
        logoPhase = 2;
        SetStartupTimerPeriod(1500);
      } else {
        DrawLogo(logoLevel);
      }
      break;
    case 2:  // hold
      logoPhase = 3;
      logoLevel = 100;
      SetStartupTimerPeriod(30);
      break;
    case 3:
      logoLevel = 100;
      logoPhase = 4;
      DrawLogo(100);
      notifier->SetPosition(0);
      break;
    default:
      SetStartupTimerPeriod(1500);
      if (percent >= 100) {
        logoLevel = 0;
        logoPhase = 1;
        StartupDone();
      }
      break;
  }
}

void PlayerEngine::StartupDone() {
  notifier->ShowStatusText(ids::kStatusClear);
  notifier->ShowStatusText(ids::kStatusReady);
  StopStartupTimer();
  if (state >= kStateStopping) {
    if (sourceType != kSourceDownload || downloadSuspended) return;
    state = kStatePlaying;
    notifier->SetPlayerState(kPlayerPlaying);
  }
  Play(-1);
}

void PlayerEngine::StartWatchTimer() {
  if (watchTimer || IsLiveStream() || !window) return;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  userPaused = 0;
  watchTimer = SetTimer(window, kWatchTimer, 200, TimerProc);
}

void PlayerEngine::StopWatchTimer() {
  if (watchTimer) KillTimer(window, kWatchTimer);
  watchTimer = 0;
}

void PlayerEngine::OnWatchTick() {
  if (state == kStatePlaying) notifier->SetPosition(static_cast<uint32_t>(GetHighestTime()));
  if (state >= kStateStopping || sourceType != kSourceDownload) return;
  const int32_t remaining = GetDownloadProgress();
  if (remaining > 0) {
    notifier->SetProgress(static_cast<uint32_t>(remaining));
    const uint32_t total = source ? source->GetDownloadInfo() : 0;
    const int32_t position = GetHighestTime();
    const uint32_t duration = GetDuration();
    if (static_cast<uint32_t>(remaining) >= total || position <= 0 || duration == 0) return;
    const float played = static_cast<float>(position) / static_cast<float>(duration);
    const float have = static_cast<float>(total - static_cast<uint32_t>(remaining)) / static_cast<float>(total);
    if (have - 0.04f < played && state == kStatePlaying) {
      // Playback caught up with the data: the engine pauses on its own.
      Pause();
      userPaused = 0;
      state = kStatePaused;
      notifier->SetPlayerState(kPlayerPaused);
      notifier->ShowStatusText(ids::kStatusPaused);
      return;
    }
    if (!(played + 0.2f < have)) return;
  }
  if (state == kStatePaused && !userPaused) {
    ResumeAt(-1);
    state = kStatePlaying;
    notifier->SetPlayerState(kPlayerPlaying);
    notifier->ShowStatusText(ids::kStatusPlaying);
  }
}
