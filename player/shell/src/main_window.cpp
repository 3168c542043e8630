#include "shell/main_window.h"

#include <shellapi.h>

#include <string>

#include "engine/player_ids.h"
#include "player_controller.h"
#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell/skin_window.h"
#include "shell/ui_controller.h"
#include "shell/win_api_table.h"

namespace {

using ids::kStatusBuffering;
using ids::kStatusClear;
using ids::kStatusConnecting;
using ids::kStatusDownloading;
using ids::kStatusPaused;
using ids::kStatusPlaying;
using ids::kStatusPositioning;
using ids::kStatusReady;
constexpr uint32_t kResumeFailedId = 51303;
constexpr uint32_t kResumeCaptionId = 51306;
constexpr uint32_t kRepeatForever = 10100;
constexpr UINT kCopyDataUnits = 256;

// Button images the window asks the skin for.
constexpr int kPlayIdle = 0, kPlayDisabled = 1, kPlayPressed = 2, kPlayShowsPause = 3, kPlayWaiting = 4,
              kPlayPausePressed = 5;
constexpr int kStopEnabled = 0, kStopDisabled = 1, kStopPressed = 2;

enum class Call : uint32_t {
  kSetRepeat,
  kSetText,
  kShowStatusText,
  kSetVideoGeometry,
  kSetPosition,
  kSetProgress,
  kSetBufferLevel,
  kSetIndicator,
  kSetPlayerState,
  kShowMessageText,
  kOnClipEnd,
  kSetProgressRecord,
};

struct ForwardedCall {
  Call kind;
  uint32_t a, b, c;
  std::u16string text;
  bool hasText;
  ClipProperties properties;
};

const wchar_t* W(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

std::wstring LoadText(HINSTANCE instance, UINT id) {
  wchar_t text[256] = {};
  return WinApi().LoadStringW(instance, id, text, 256) > 0 ? std::wstring(text) : std::wstring();
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, bool* failed) : instance_(instance) {
  uiThread_ = GetCurrentThreadId();
  skin_ = std::make_unique<PlayerSkinWindow>();
  ui_ = std::make_unique<DesktopController>(instance);
  window_ = skin_->Create(0);
  if (!window_) {
    *failed = true;
    return;
  }
  *failed = false;
  ui_->EnableDragDrop();
  skin_->InitResources();
  ui_->Init();
  hasVideo_ = 0;
  lastShownSecond_ = -1;
}

MainWindow::~MainWindow() {
  skin_.reset();
  ui_.reset();
}

void MainWindow::SetUi(std::unique_ptr<DesktopController> ui) { ui_ = std::move(ui); }

HMENU MainWindow::Menu() const { return window_ ? GetMenu(window_) : nullptr; }

bool MainWindow::OnUiThread() const { return GetCurrentThreadId() == uiThread_; }

bool MainWindow::Forward(uint32_t kind, uint32_t a, uint32_t b, uint32_t c, const char16_t* text) {
  if (OnUiThread()) return false;
  auto* call = new ForwardedCall{static_cast<Call>(kind), a, b, c, text ? std::u16string(text) : std::u16string(),
                                 text != nullptr, ClipProperties{}};
  if (!window_ || !WinApi().PostMessageW(window_, kMsgObserverCall, 0, reinterpret_cast<LPARAM>(call))) delete call;
  return true;
}

void MainWindow::RunForwarded(LPARAM lParam) {
  std::unique_ptr<ForwardedCall> call(reinterpret_cast<ForwardedCall*>(lParam));
  const char16_t* text = call->hasText ? call->text.c_str() : nullptr;
  switch (call->kind) {
    case Call::kSetRepeat: SetRepeat(call->a); break;
    case Call::kSetText: SetText(text); break;
    case Call::kShowStatusText: ShowStatusText(call->a); break;
    case Call::kSetVideoGeometry: SetVideoGeometry(call->a, call->b, call->c); break;
    case Call::kSetPosition: SetPosition(call->a); break;
    case Call::kSetProgress: SetProgress(call->a); break;
    case Call::kSetBufferLevel: SetBufferLevel(call->a); break;
    case Call::kSetIndicator: SetIndicator(call->a); break;
    case Call::kSetPlayerState: SetPlayerState(call->a); break;
    case Call::kShowMessageText: ShowMessageText(call->a, text); break;
    case Call::kOnClipEnd: OnClipEnd(); break;
    case Call::kSetProgressRecord: SetProgressRecord(&call->properties); break;
  }
}

void MainWindow::InstrumentStatus(const wchar_t* what, uint32_t value) {
  if (!IsInstrumentLogOn(instance_)) return;
  InstrumentLog(instance_, L"%ls %ls\n", what, std::to_wstring(value).c_str());
}

// ---- PlayerObserver ----

void MainWindow::Attach(PlayerController* controller) {
  controller_ = controller;
  DWORD volume = 40;
  ReadSettingDwordById(instance_, shell::kCurrentVolume, &volume);
  if (controller_) controller_->SetVolume(volume);
}

void MainWindow::SetRepeat(uint32_t on) {
  if (Forward(static_cast<uint32_t>(Call::kSetRepeat), on)) return;
  loop_ = on ? 1 : 0;
  UiController::CheckMenuCommand(Menu(), cmd::kLoop, loop_ != 0);
  if (controller_) controller_->SetRepeatCount(loop_ ? kRepeatForever : 0);
}

void MainWindow::SetText(const char16_t* title) {
  if (Forward(static_cast<uint32_t>(Call::kSetText), 0, 0, 0, title ? title : u"")) return;
  skin_->SetTitle(W(title));
  ui_->SetTitle(W(title));
}

void MainWindow::ShowStatusText(uint32_t id) {
  if (Forward(static_cast<uint32_t>(Call::kShowStatusText), id)) return;
  lastStatusId_ = id;
  // The seek bar's own time display runs while the user drags it.
  if (skin_->IsSeeking()) return;
  switch (id) {
    case kStatusBuffering: skin_->StartBusy(); break;
    case kStatusConnecting:
      skin_->SetSeekable(false);
      skin_->SetTitle(L"");
      skin_->playState = kPlayWaiting;
      skin_->DrawButton(1, kPlayWaiting);
      break;
    case kStatusReady:
    case kStatusPaused: skin_->StopBusy(); break;
    case kStatusPlaying:
      if (noVideo_) {
        skin_->StopBusy();
        playerState_ = 2;
      } else {
        id = kStatusClear;
        lastStatusId_ = id;
      }
      break;
    case kStatusPositioning:
      id = kStatusClear;
      lastStatusId_ = id;
      skin_->StartBusy();
      break;
    case kStatusDownloading:
      if (skin_->Progress()) skin_->Progress()->SetBarGrey(false);
      break;
    default: break;
  }
  skin_->SetStatus(id);
  InstrumentLog(instance_, L"Status %ls\n", LoadText(instance_, id).c_str());
}

int MainWindow::ShowError(uint32_t messageId, const char16_t* text, uint32_t style) {
  return ShowMessage(instance_, messageId, W(text), style);
}

void MainWindow::SetVideoGeometry(uint32_t width, uint32_t height, uint32_t hasVideo) {
  if (Forward(static_cast<uint32_t>(Call::kSetVideoGeometry), width, height, hasVideo)) return;
  hasVideo_ = hasVideo;
  if (width && height) skin_->Resize(static_cast<int>(width), static_cast<int>(height), false);
  if (hasVideo == 0) {
    noVideo_ = 1;
    skin_->stopState = kStopEnabled;
    skin_->DrawButton(2, kStopEnabled);
    skin_->playState = kPlayShowsPause;
    skin_->DrawButton(1, kPlayShowsPause);
    skin_->SetSeekable(properties_.isLive == 0);
    ShowStatusText(kStatusPlaying);
    if (properties_.isLive) {
      skin_->playState = kPlayWaiting;
      skin_->DrawButton(1, kPlayWaiting);
    }
    if (properties_.contentFlags == kContentAudio) {
      videoAreaValid_ = 1;
      if (!videoAreaDrawn_) {
        videoAreaDrawn_ = 1;
        InvalidateRect(skin_->VideoWindow(), nullptr, TRUE);
      }
    }
    if (properties_.contentFlags < kContentStill) ui_->SetDownloadMenu(Menu(), 1);
  } else {
    skin_->SetSeekable(false);
    skin_->RelayoutProgress();
    skin_->ClearTime(true);
    if (lastStatusId_ != kStatusBuffering) skin_->SetStatus(kStatusClear);
  }
}

void MainWindow::SetPosition(uint32_t ms) {
  if (Forward(static_cast<uint32_t>(Call::kSetPosition), ms)) return;
  if (live_ || properties_.isLive) return;
  if (skin_->Progress() && !skin_->IsSeeking()) skin_->SetSeekable(true);
  const int32_t offset = static_cast<int32_t>(ms - properties_.startMs);
  const int32_t duration = static_cast<int32_t>(properties_.endMs - properties_.startMs);
  skin_->SetProgress(offset, duration);
  SetTime(offset, duration);
}

void MainWindow::SetTime(int32_t offsetMs, int32_t durationMs) {
  if (offsetMs > durationMs || offsetMs < 0) return;
  const int32_t second = offsetMs / 1000;
  // Forward only, once a second; a reset to -1 lets the next one through.
  if (second > lastShownSecond_) {
    skin_->SetTime(static_cast<uint32_t>(second), static_cast<uint32_t>(durationMs / 1000));
    lastShownSecond_ = second;
  }
}

void MainWindow::SetProgress(uint32_t value) {
  if (Forward(static_cast<uint32_t>(Call::kSetProgress), value)) return;
  downloadRunning_ = value != 0;
  skin_->SetDownloadProgress(static_cast<int32_t>(value), static_cast<int32_t>(properties_.downloadSize));
}

void MainWindow::SetBufferLevel(uint32_t percent) {
  if (Forward(static_cast<uint32_t>(Call::kSetBufferLevel), percent)) return;
  if (static_cast<int32_t>(percent) > 0) skin_->ShowBuffering(static_cast<int>(percent));
}

void MainWindow::SetIndicator(uint32_t value) {
  if (Forward(static_cast<uint32_t>(Call::kSetIndicator), value)) return;
  skin_->SetVolume(static_cast<int>(value));
}

void MainWindow::SetPlayerState(uint32_t state) {
  if (Forward(static_cast<uint32_t>(Call::kSetPlayerState), state)) return;
  playerState_ = state;
  HMENU menu = Menu();
  switch (state) {
    case 1:
      skin_->playState = kPlayWaiting;
      skin_->stopState = kStopEnabled;
      skin_->DrawButton(1, kPlayWaiting);
      skin_->DrawButton(2, kStopEnabled);
      break;
    case 2: {
      skin_->Restore();
      live_ = controller_ ? controller_->IsLive() : 0;
      ui_->savedFlag = 0;
      lastShownSecond_ = -1;
      clipEnded_ = 0;
      videoShown_ = 1;
      ProgressControl* bar = skin_->Progress();
      if (bar) {
        if (!live_) bar->SetBarFull(false);
        bar->SetBarGrey(properties_.sourceType != kSourceDownload);
      }
      if (properties_.sourceType != kSourceDownload) skin_->SetDownloadProgress(0, 0);
      if (live_) {
        skin_->playState = kPlayWaiting;
        skin_->ShowLive();
        if (bar) bar->SetBarFull(true);
      } else if (skin_->playState != kPlayPressed && skin_->playState != kPlayShowsPause) {
        skin_->playState = hasVideo_ ? kPlayWaiting : kPlayShowsPause;
      }
      skin_->stopState = kStopEnabled;
      skin_->DrawButton(1, skin_->playState);
      skin_->DrawButton(2, kStopEnabled);
      skin_->volumeState = properties_.contentFlags == kContentVideo ? 1 : 0;
      skin_->DrawVolumeButton(skin_->volumeState);
      UiController::EnableMenuCommand(menu, cmd::kClipInfo, true);
      UiController::EnableMenuCommand(menu, cmd::kLoop, properties_.sourceType == kSourceFile);
      AddToHistory(0);
      break;
    }
    case 4:
      if (!skin_->IsSeeking()) {
        skin_->playState = kPlayIdle;
        skin_->stopState = kStopEnabled;
        skin_->DrawButton(1, kPlayIdle);
        skin_->DrawButton(2, kStopEnabled);
      }
      break;
    case 6:
      SetTimer(window_, kPressGuardTimer, 100, nullptr);
      timer9Running_ = 1;
      skin_->playState = kPlayIdle;
      skin_->DrawButton(1, kPlayIdle);
      if (!clipEnded_) {
        skin_->stopState = kStopDisabled;
        skin_->DrawButton(2, kStopDisabled);
      }
      videoAreaValid_ = 0;
      noVideo_ = 0;
      break;
    case 7:
      skin_->playState = kPlayDisabled;
      skin_->stopState = kStopDisabled;
      skin_->DrawButton(1, kPlayDisabled);
      skin_->DrawButton(2, kStopDisabled);
      skin_->volumeState = 1;
      skin_->DrawVolumeButton(1);
      skin_->ResetProgress(0);
      skin_->SetDownloadProgress(0, 0);
      skin_->SetSeekable(false);
      skin_->StopBusy();
      skin_->SetStatus(kStatusClear);
      skin_->SetTitle(L"");
      videoShown_ = 0;
      skin_->ClearTime(true);
      InvalidateRect(skin_->VideoWindow(), nullptr, TRUE);
      UiController::EnableMenuCommand(menu, cmd::kClipInfo, false);
      UiController::EnableMenuCommand(menu, cmd::kAddToFavorites, false);
      loop_ = 0;
      SetRepeat(0);
      UiController::EnableMenuCommand(menu, cmd::kLoop, false);
      noVideo_ = 0;
      break;
    default: break;
  }
  InstrumentStatus(L"State", state);
}

void MainWindow::ShowMessageText(uint32_t sourceType, const char16_t* address) {
  if (Forward(static_cast<uint32_t>(Call::kShowMessageText), sourceType, 0, 0, address ? address : u"")) return;
  ui_->SetClipSource(sourceType, W(address));
}

void MainWindow::OnClipEnd() {
  if (Forward(static_cast<uint32_t>(Call::kOnClipEnd))) return;
  if (skin_->stopState != kStopPressed) {
    skin_->stopState = kStopEnabled;
    skin_->DrawButton(2, kStopEnabled);
  }
  clipEnded_ = 1;
  if (!live_) {
    const int32_t duration = static_cast<int32_t>(properties_.endMs - properties_.startMs);
    skin_->SetProgress(duration, duration);
    SetTime(duration, duration);
  }
  InstrumentStatus(L"Clip end", 1);
}

void MainWindow::EnableCommand(uint32_t commandId, uint32_t enable) {
  UiController::EnableMenuCommand(Menu(), commandId, enable != 0);
}

void MainWindow::SetProgressRecord(const ClipProperties* properties) {
  if (!properties) return;
  if (!OnUiThread()) {
    auto* call = new ForwardedCall{Call::kSetProgressRecord, 0, 0, 0, {}, false, *properties};
    if (!window_ || !WinApi().PostMessageW(window_, kMsgObserverCall, 0, reinterpret_cast<LPARAM>(call))) delete call;
    return;
  }
  properties_ = *properties;
  // The texts belong to the source; the window keeps the numbers only.
  properties_.title = properties_.author = properties_.copyright = properties_.rating = properties_.description =
      nullptr;
}

// ---- operations ----

void MainWindow::ResetForOpen() {
  if (controller_) controller_->Stop();
  skin_->ResetProgress(0);
  skin_->ClearTime(true);
  lastShownSecond_ = -1;
  videoAreaDrawn_ = 0;
  InvalidateRect(skin_->VideoWindow(), nullptr, TRUE);
}

void MainWindow::OpenClip(const wchar_t* text) {
  if (!controller_) return;
  if (text) {
    // The text may be the controller's own field: keep a copy first.
    const std::u16string address(reinterpret_cast<const char16_t*>(text));
    ResetForOpen();
    openedByLocation_ = 1;
    controller_->OpenUrl(address.c_str(), nullptr, 0, 0, kPlayToEnd);
  } else {
    openedByLocation_ = 0;
    controller_->Play(0, kPlayToEnd);
  }
}

void MainWindow::OpenChosenClip() {
  UpdateWindow(window_);
  UpdateWindow(skin_->VideoWindow());
  if (ui_->clipKind == kClipFromFile) {
    OpenClip(ui_->FilePath());
  } else if (ui_->clipKind == kClipFromLocation) {
    LoopOff();
    UiController::EnableMenuCommand(Menu(), cmd::kLoop, false);
    OpenClip(ui_->Location());
  }
}

void MainWindow::StopPlayback() {
  if (controller_) controller_->Stop();
}

void MainWindow::PausePlayback() {
  if (controller_ && playerState_ == 2) controller_->Pause();
}

void MainWindow::SuspendDownload() {
  if (!controller_) return;
  controller_->SuspendDownload();
  controller_->Stop();
}

void MainWindow::ResumeDownload() {
  if (!controller_) return;
  if (playerState_ <= 5) ResetForOpen();
  wchar_t address[kSettingStringCapacity] = {};
  ReadSettingStringById(instance_, shell::kLastDownload, address);
  if (controller_->Open(reinterpret_cast<const char16_t*>(address)) != 0) {
    wchar_t title[kSettingStringCapacity] = {};
    ReadSettingStringById(instance_, shell::kLastTitle, title);
    wchar_t pattern[256] = {};
    WinApi().LoadStringW(instance_, kResumeFailedId, pattern, 256);
    std::wstring text(pattern);
    const size_t at = text.find(L"%s");
    if (at != std::wstring::npos) text.replace(at, 2, title);
    const std::wstring caption = LoadText(instance_, kResumeCaptionId);
    ui_->messageBox(window_, text.c_str(), caption.c_str(), MB_OK);
    UiController::EnableMenuCommand(Menu(), cmd::kResume, false);
  }
}

void MainWindow::SeekTo(uint32_t offsetMs) {
  if (controller_) controller_->Seek(properties_.startMs + offsetMs);
}

void MainWindow::RepaintVideo() {
  if (controller_) controller_->RepaintVideo();
}

void MainWindow::LoopOff() {
  if (!loop_) return;
  loop_ = 0;
  SetRepeat(0);
}

void MainWindow::AddToHistory(uint32_t kind) { ui_->AddToHistory(kind); }

void MainWindow::ReleaseAction(int element) {
  switch (element) {
    case 1:
      if (skin_->playState == kPlayPressed) {
        videoShown_ = 1;
        if (ui_->savedFlag) {
          const std::wstring path = ui_->FilePath();
          OpenClip(path.c_str());
        } else {
          OpenClip(nullptr);
        }
      } else if (skin_->playState == kPlayPausePressed) {
        if (controller_) controller_->Pause();
      }
      break;
    case 2:
      if (skin_->stopState != kStopPressed) break;
      if (!live_) {
        lastShownSecond_ = -1;
        SetTime(0, static_cast<int32_t>(properties_.endMs - properties_.startMs));
      }
      if (controller_) controller_->Stop();
      if (downloadRunning_) {
        ui_->EnableDownloadCommands(Menu());
        downloadRunning_ = 0;
      }
      videoShown_ = 0;
      skin_->ResetProgress(0);
      InvalidateRect(skin_->VideoWindow(), nullptr, TRUE);
      break;
    case 8: {
      POINT p = {};
      GetCursorPos(&p);
      ScreenToClient(window_, &p);
      const RECT r = skin_->HitRect(8);
      if (PtInRect(&r, p) && playerState_ == 2 && !live_) {
        UpdateWindow(window_);
        if (controller_) controller_->Pause();
      }
      break;
    }
    default: break;
  }
}

LRESULT MainWindow::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const WinApiTable& api = WinApi();
  switch (message) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_MOVE: skin_->HideVolume(); return 0;
    case WM_SIZE:
    case WM_ACTIVATE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_HELP:
    case WM_RBUTTONDOWN:
    case WM_QUERYNEWPALETTE:
    case WM_PALETTECHANGED:
    case kMsgIgnored: return 0;
    case WM_PAINT: {
      if (!GetUpdateRect(window, nullptr, FALSE)) return 0;
      PAINTSTRUCT ps = {};
      HDC dc = BeginPaint(window, &ps);
      if (window == window_) skin_->DrawFace(dc);
      if (videoShown_ && controller_) controller_->RepaintVideo();
      if (videoAreaValid_) skin_->DrawLogo();
      EndPaint(window, &ps);
      return 0;
    }
    case WM_CLOSE:
      if (downloadRunning_) {
        StopPlayback();
        ui_->EnableDownloadCommands(Menu());
        downloadRunning_ = 0;
      }
      DestroyWindow(window);
      return 0;
    case WM_COPYDATA: {
      const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
      if (!data || !data->lpData) return 0;
      // At most 255 units of the other start's text, terminated.
      wchar_t text[kCopyDataUnits] = {};
      const size_t units = data->cbData / sizeof(wchar_t);
      const wchar_t* source = static_cast<const wchar_t*>(data->lpData);
      size_t n = 0;
      while (n < units && n + 1 < kCopyDataUnits && source[n]) {
        text[n] = source[n];
        ++n;
      }
      text[n] = 0;
      LoopOff();
      OpenClip(text);
      return 0;
    }
    case WM_COMMAND: return OnCommand(window, wParam, lParam);
    case WM_TIMER:
      if (wParam == kBusyTimer) {
        skin_->AnimateBusy();
      } else if (wParam == kPressGuardTimer) {
        timer9Running_ = 0;
        KillTimer(window_, kPressGuardTimer);
      }
      return 0;
    case WM_CTLCOLORSTATIC: return reinterpret_cast<LRESULT>(skin_->OnCtlColorStatic(reinterpret_cast<HDC>(wParam)));
    case WM_LBUTTONDOWN:
      if (GetCapture() == window_) ReleaseCapture();
      // A press in the 100 ms after a clip became ready is ignored.
      if (!timer9Running_) {
        const POINT p = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        pressed_ = skin_->OnLButtonDown(p);
      }
      return 0;
    case WM_LBUTTONUP:
      if (pressed_ != -1) ReleaseAction(pressed_);
      pressed_ = -1;
      skin_->OnLButtonUp();
      return 0;
    case WM_DROPFILES:
      if (ui_->OnDropFiles(reinterpret_cast<HDROP>(wParam))) {
        ui_->clipKind = kClipFromFile;
        LoopOff();
        const std::wstring path = ui_->FilePath();
        OpenClip(path.c_str());
      }
      return 0;
    case kMsgSeekRelease:
      skin_->HideVolume();
      return 0;
    case kMsgVolumeChanged:
      if (controller_) controller_->SetVolume(static_cast<uint32_t>(lParam));
      WriteSettingDwordById(instance_, shell::kCurrentVolume, static_cast<DWORD>(lParam));
      return 0;
    case kMsgSeekTo: SeekTo(static_cast<uint32_t>(lParam)); return 0;
    case kMsgSeekStart: PausePlayback(); return 0;
    case kMsgObserverCall: RunForwarded(lParam); return 0;
    default: return api.DefWindowProcW(window, message, wParam, lParam);
  }
}

LRESULT MainWindow::OnCommand(HWND window, WPARAM wParam, LPARAM lParam) {
  const UINT id = LOWORD(wParam);
  HMENU menu = Menu();
  switch (id) {
    case cmd::kExit: WinApi().PostMessageW(window_, WM_CLOSE, 0, 0); return 0;
    case cmd::kAbout: ui_->ShowAbout(); return 0;
    case cmd::kOpenLocation:
      if (ui_->OpenLocation() == 1) {
        ui_->clipKind = kClipFromLocation;
        UpdateWindow(window_);
        UpdateWindow(skin_->VideoWindow());
        LoopOff();
        UiController::EnableMenuCommand(menu, cmd::kLoop, false);
        const std::wstring location = ui_->Location();
        OpenClip(location.c_str());
      }
      return 0;
    case cmd::kLoop: SetRepeat(loop_ ? 0 : 1); return 0;
    case cmd::kOptions: {
      const int32_t size = ui_->ShowMediaBuffer();
      if (size >= 0 && controller_) controller_->SetMaxBufferedData(static_cast<uint32_t>(size));
      return 0;
    }
    case cmd::kAddToFavorites: ui_->AddToFavorites(); return 0;
    case cmd::kClipInfo: {
      const wchar_t* texts[5] = {};
      for (uint32_t i = 0; i < 5; ++i)
        texts[i] = controller_ ? reinterpret_cast<const wchar_t*>(controller_->GetClipText(i)) : nullptr;
      ui_->ShowClipInfo(texts);
      return 0;
    }
    case cmd::kFavorites:
    case cmd::kRecent:
      if (id == cmd::kFavorites ? ui_->ShowFavoriteClips() : ui_->ShowRecentClips()) {
        LoopOff();
        OpenChosenClip();
      }
      return 0;
    case cmd::kFindMainWindow: ui_->FindMainWindow(); return 0;
    case cmd::kOpen:
      if (ui_->OpenFile()) {
        ui_->clipKind = kClipFromFile;
        UpdateWindow(window_);
        UpdateWindow(skin_->VideoWindow());
        LoopOff();
        const std::wstring path = ui_->FilePath();
        OpenClip(path.c_str());
      }
      return 0;
    case cmd::kShowcase: ui_->OpenShowcase(); return 0;
    case cmd::kNoEffect41110:
    case cmd::kNoEffect41112:
    case cmd::kNoEffect41130: return 0;
    case cmd::kSave:
      if (ui_->SaveAs(&properties_)) {
        UiController::EnableMenuCommand(menu, cmd::kSave, false);
        UiController::EnableMenuCommand(menu, cmd::kClearClip, false);
        UiController::EnableMenuCommand(menu, cmd::kAddToFavorites, true);
        ui_->clipKind = kClipFromFile;
        AddToHistory(1);
        if (controller_) controller_->ReleaseDownloadLock();
      }
      return 0;
    case cmd::kSuspend:
      SuspendDownload();
      ui_->EnableDownloadCommands(menu);
      InvalidateRect(skin_->VideoWindow(), nullptr, TRUE);
      return 0;
    case cmd::kResume:
      if (ui_->AskResumeDownload(menu)) ResumeDownload();
      return 0;
    case cmd::kHelp: ui_->OpenHelp(); return 0;
    case cmd::kClearClip:
      SuspendDownload();
      ui_->ClearSuspendedDownload(menu);
      downloadRunning_ = 0;
      return 0;
    default: return WinApi().DefWindowProcW(window, WM_COMMAND, wParam, lParam);
  }
}
