// The control's runs on the media engine: the run state and its lock,
// StartPlaying with its capture-device and file preparations, the start
// of an encoding when a client connects, the stops, the timers that run
// meanwhile, and the size and place of the display area.
#include <cstdlib>
#include <cwchar>

#include "control.h"
#include "ctlvane/events.h"
#include "text.h"

namespace {

using namespace ctlvane;

constexpr UINT kGraphNotify = 0x5F4;
constexpr HRESULT kBadSource = static_cast<HRESULT>(0x800A03EE);
constexpr HRESULT kMustBeStopped = static_cast<HRESULT>(0x800A0407);
constexpr HRESULT kMustBePlaying = static_cast<HRESULT>(0x800A0408);
constexpr HRESULT kCaptureSizeChanged = static_cast<HRESULT>(0x800A041E);
constexpr USHORT kStopAndFire = 0xFFFF;
// WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, as the engine's video window takes it.
constexpr LONG kVideoWindowStyle = 0x46000000;
constexpr UINT_PTR kStatisticsTimer = 1, kProgressTimer = 2, kStreamTimeTimer = 3;

bool StreamsLive(int32_t mediaOutputType) {
  return mediaOutputType == 4 || mediaOutputType == 5 || mediaOutputType == 12;
}

}  // namespace

void CKRActiveCtrl::StartRunTimer(UINT_PTR id, UINT ms) {
  // What a tick does (stream time, statistics sampling, limits, progress)
  // belongs to the timer handler; the run only starts and stops them.
  WindowHandlers().StartTimer(id, ms, [] {});
}

void CKRActiveCtrl::StartStreamTimer(bool statisticsStarted) {
  const bool limitsOff = maxDuration_ < 5.0f && maxSize_ < 5;
  if (!(statisticsStarted && limitsOff)) StartRunTimer(kStreamTimeTimer, 1000);
}

int CKRActiveCtrl::StartStatisticsTimer() {
  if (statRefreshRate_ <= 100) {
    ReportError(kBadStatRefreshRate);
    return 1;
  }
  const LONG entries = statWindowDuration_ / statRefreshRate_;
  if (statWindowDuration_ >= 1001 && statWindowDuration_ < 3600000 && entries >= 1) {
    if (sourceType_ == 1) statWindow_.assign(static_cast<size_t>(entries), {0, 0});
    StartRunTimer(kStatisticsTimer, static_cast<UINT>(statRefreshRate_));
    return 0;
  }
  ReportError(kBadStatWindowDuration);
  return 1;
}

HRESULT CKRActiveCtrl::StartEncoding() {
  Held held(runLock_);
  if (runState_ == 3) {
    ReportError(kMustBeStopped);
    return kMustBeStopped;
  }
  HRESULT hr = kBadSource;
  if (sourceType_ == 1) {
    atl::ComPtr<IGenFromLive> live;
    if (FAILED(hr = EngineInterface(IID_IGenFromLive, live.OutVoid()))) return hr;
    hr = live->StartEncode(1);
  } else if (sourceType_ == 0) {
    atl::ComPtr<IGenFromFile> file;
    if (FAILED(hr = EngineInterface(IID_IGenFromFile, file.OutVoid()))) return hr;
    hr = file->StartEncode(1);
  }
  if (FAILED(hr)) {
    ReportError(hr);
    return hr;
  }
  runState_ = 3;
  StartStreamTimer(statRefreshRate_ > 0 && StartStatisticsTimer() == 0);
  return hr;
}

HRESULT CKRActiveCtrl::StopEncoding(USHORT code) {
  if (runState_ != 3 && runState_ != 2) {
    ReportError(kMustBePlaying);
    return kMustBePlaying;
  }
  if (encoding_ && runState_ == 3) {
    WindowHandlers().StopTimer(kStatisticsTimer);
    statWindow_.clear();
  }
  HRESULT hr = kBadSource;
  if (sourceType_ == 1) {
    atl::ComPtr<IGenFromLive> live;
    if (FAILED(hr = EngineInterface(IID_IGenFromLive, live.OutVoid()))) return hr;
    hr = live->Stop(static_cast<SHORT>(code));
  } else if (sourceType_ == 0) {
    atl::ComPtr<IGenFromFile> file;
    if (FAILED(hr = EngineInterface(IID_IGenFromFile, file.OutVoid()))) return hr;
    hr = file->Stop();
  }
  if (FAILED(hr)) {
    ReportError(hr);
    return hr;
  }
  // The stream time has nothing to show once the run has stopped.
  WindowHandlers().StopTimer(kStreamTimeTimer);
  runState_ = 1;
  if (code == kStopAndFire) {
    FireStop();
  } else if (code != 0) {
    runState_ = 2;
  } else if (mediaOut_ != 1) {
    // A file output fires Stop when the engine says the file is written.
    FireStop();
  }
  if (!enableSkin_) InvalidateControl();
  return hr;
}

HRESULT CKRActiveCtrl::StopPlaying() {
  Held held(runLock_);
  return StopEncoding(encoding_ ? 0 : kStopAndFire);
}

void CKRActiveCtrl::FireStop() {
  FireEvent(kEventStop, olectl::EventArgs());
  if (enableSkin_) {
    WindowHandlers().StopTimer(kProgressTimer);
    Layout();
  }
}

void CKRActiveCtrl::SetDestination(IKRMediaConfig* config, LONG width, LONG height) {
  // The engine draws into the overlay over the display area; until the
  // control has one, it has no window to draw into.
  HWND overlay = nullptr;
  RECT rect = {0, 0, width, height};
  config->SetDestinationWindow(overlay, &rect, static_cast<LONG>(reinterpret_cast<LONG_PTR>(overlay)),
                               kVideoWindowStyle);
}

void CKRActiveCtrl::MarkResize(bool changed) {
  if (changed)
    resizePending_ = true;
  else
    displayRedraw_ = true;
}

HRESULT CKRActiveCtrl::AdoptMovedCapture(IGenFromLive* live, IKRMediaConfig* config) {
  KRVideoCaptureConfig capture{};
  const HRESULT hr = live->GetConfigVideoCapture(&capture);
  if (FAILED(hr)) return hr;
  capWidth_ = static_cast<SHORT>(capture.width);
  capHeight_ = static_cast<SHORT>(capture.height);
  accepted_[kCapWidth] = capWidth_;
  accepted_[kCapHeight] = capHeight_;
  SetDisplaySize(capWidth_, capHeight_);
  resizePending_ = true;
  SetDestination(config, capWidth_, capHeight_);
  return S_OK;
}

HRESULT CKRActiveCtrl::PrepareCaptureStart() {
  atl::ComPtr<IGenFromLive> live;
  HRESULT hr = EngineInterface(IID_IGenFromLive, live.OutVoid());
  if (FAILED(hr)) return hr;
  mediaengine::KRSettingsRecords& records = RecordsForEngine();
  KRVideoCaptureConfig capture{};
  if (FAILED(hr = live->GetConfigVideoCapture(&capture))) {
    ReportError(hr);
    return hr;
  }
  records.video.sourceFrameRate = capture.frameRate;
  records.output.frameRate = capture.frameRate;
  bool changed = false;
  if (capture.width != capWidth_ || capture.height != capHeight_) {
    KRVideoCaptureConfig old = capture;
    capture.width = capWidth_;
    capture.height = capHeight_;
    if (FAILED(live->ConfigVideoCapture(&capture))) {
      // A size the device refuses: the engine's size stays, and so do the properties.
      live->ConfigVideoCapture(&old);
      capWidth_ = static_cast<SHORT>(old.width);
      capHeight_ = static_cast<SHORT>(old.height);
      accepted_[kCapWidth] = capWidth_;
      accepted_[kCapHeight] = capHeight_;
    }
    changed = true;
  }
  atl::ComPtr<IKRMediaConfig> config;
  if (FAILED(hr = EngineInterface(IID_IKRMediaConfig, config.OutVoid()))) return hr;

  LONG width = capWidth_, height = capHeight_;
  if (encoding_ && streamOut_ == 5) {
    changed = true;
  } else if (encoding_ && encPreviewType_ == 1) {
    if (changed) SetDisplaySize(capWidth_, capHeight_);
  } else if (encoding_) {
    changed = false;
    // Only the properties: the engine fits its capture to the records.
    if (encWidth_ > capWidth_ || encHeight_ > capHeight_) {
      encWidth_ = capWidth_;
      encHeight_ = capHeight_;
    }
    if (encWidth_ != displayWidth_ || encHeight_ != displayHeight_) {
      SetDisplaySize(encWidth_, encHeight_);
      changed = true;
    }
    width = encWidth_;
    height = encHeight_;
  } else if (capWidth_ != displayWidth_ || capHeight_ != displayHeight_) {
    SetDisplaySize(capWidth_, capHeight_);
    changed = true;
  }
  if (encoding_) config->SetEventWindow(ControlWindow(), kGraphNotify);
  MarkResize(changed);
  if (streamOut_ == 2 || streamOut_ == 3) SetDestination(config.Get(), width, height);

  if (encoding_) {
    live->SetPreviewType(encPreviewType_);
    if (streamOut_ != 1) config->ConfigVideoEncoder(&records.video);
    if (streamOut_ != 2) config->ConfigAudioEncoder(&records.audio);
    config->ConfigOutput(&records.output);
  }
  auto start = [&] { return encoding_ ? live->StartEncode(1) : live->StartPreview(1, 1); };
  hr = start();
  if (hr == kCaptureSizeChanged) {
    // The engine moved the capture to a size it could set: take it and
    // start once more.
    const HRESULT read = AdoptMovedCapture(live.Get(), config.Get());
    hr = SUCCEEDED(read) ? start() : read;
    if (SUCCEEDED(hr)) FireEvent(kEventCaptureDimChanged, olectl::EventArgs());
  }
  if (FAILED(hr)) {
    ReportError(hr);
    return hr;
  }
  runState_ = 3;
  return hr;
}

HRESULT CKRActiveCtrl::PrepareFileStart() {
  if (srcFileName_.Length() == 0) {
    ReportError(kBadSource);
    return kBadSource;
  }
  atl::ComPtr<IGenFromFile> file;
  HRESULT hr = EngineInterface(IID_IGenFromFile, file.OutVoid());
  if (FAILED(hr)) return hr;
  const wchar_t* name = srcFileName_.Get();
  // The facts are those of the file named now (the srcFileName check keeps
  // them; a name given before the engine existed gets them here).
  ctlvane::SourceInfo& source = settings_.source;
  if (!settings_.sourceValid || source.fileName != U16(name)) {
    settings_.sourceValid = false;
    KRSourceFileInfo record = {};
    if (FAILED(hr = file->GetSourceFileInfo(name, &record))) {
      ReportError(hr);
      return hr;
    }
    source = SourceInfoFrom(record);
    source.fileName = U16(name);
    settings_.sourceValid = true;
  }
  mediaengine::KRSettingsRecords& records = RecordsForEngine();
  records.video.sourceFrameRate = source.frameRate;
  records.output.frameRate = source.frameRate;
  file->SetSourceFileName(name);
  atl::ComPtr<IKRMediaConfig> config;
  if (FAILED(hr = EngineInterface(IID_IKRMediaConfig, config.OutVoid()))) return hr;
  config->SetEventWindow(ControlWindow(), kGraphNotify);
  if (encPreviewType_ == 1) {
    encPreviewType_ = 2;
    StoreNumber(kEncPreviewType, 2, records_);
  }
  file->SetPreviewType(encPreviewType_);

  bool changed = false;
  if (encoding_) {
    if (streamOut_ == 5) {
      changed = true;
    } else if (streamOut_ != 1 && (encWidth_ > source.width || encHeight_ > source.height)) {
      encWidth_ = static_cast<SHORT>(source.width);
      encHeight_ = static_cast<SHORT>(source.height);
      StoreNumber(kEncWidth, encWidth_, records);
      StoreNumber(kEncHeight, encHeight_, records);
    }
    if (encWidth_ != displayWidth_ || encHeight_ != displayHeight_) {
      SetDisplaySize(encWidth_, encHeight_);
      changed = true;
    }
    if (streamOut_ != 1) config->ConfigVideoEncoder(&records.video);
    if (streamOut_ != 2) config->ConfigAudioEncoder(&records.audio);
    config->ConfigOutput(&records.output);
    SetDestination(config.Get(), encWidth_, encHeight_);
    MarkResize(changed);
    hr = file->StartEncode(1);
  } else {
    // Not scaled in proportion: a larger source is shown at 352 x 288.
    LONG width = source.width, height = source.height;
    if (width > 352 || height > 288) {
      width = 352;
      height = 288;
    }
    if (width != displayWidth_ || height != displayHeight_) {
      SetDisplaySize(width, height);
      changed = true;
    }
    SetDestination(config.Get(), width, height);
    MarkResize(changed);
    hr = file->StartPreview(1);
  }
  if (FAILED(hr)) {
    ReportError(hr);
    return hr;
  }
  runState_ = 3;
  return hr;
}

HRESULT CKRActiveCtrl::StartPlaying() {
  Held held(runLock_);
  if (runState_ == 3) {
    ReportError(kMustBeStopped);
    return kMustBeStopped;
  }
  const HRESULT r = sourceType_ == 1 ? PrepareCaptureStart() : PrepareFileStart();
  const mediaengine::KROutputConfig& output = RecordsForEngine().output;
  if (SUCCEEDED(r)) {
    stillShown_ = false;
    if (encoding_ && output.streamType == 5) {
      atl::ComPtr<IGenFromFile> file;
      BITMAPINFOHEADER header = {};
      BYTE* bytes = nullptr;
      if (engine_ && SUCCEEDED(engine_->QueryInterface(IID_IGenFromFile, file.OutVoid())) &&
          SUCCEEDED(file->GetDecodedImg(&header, &bytes)))
        SetDisplaySize(header.biWidth, std::labs(header.biHeight));
    }
    FireEvent(kEventStart, olectl::EventArgs());
    if (enableSkin_) StartRunTimer(kProgressTimer, 500);
    if (encoding_ && output.mediaOutputType == 1) StartStreamTimer(StartStatisticsTimer() == 0);
    // A stream runs when its first player connects (EC_KR_CONNECTED).
    if (StreamsLive(output.mediaOutputType)) runState_ = 2;
  } else {
    runState_ = 1;
    if (enableSkin_) WindowHandlers().StopTimer(kProgressTimer);
  }
  InvalidateControl();
  return r;
}

void CKRActiveCtrl::SetDisplaySize(LONG width, LONG height) {
  if (displayWidth_ && displayHeight_) {
    scaleX_ = static_cast<float>(width) / static_cast<float>(displayWidth_);
    scaleY_ = static_cast<float>(height) / static_cast<float>(displayHeight_);
  }
  displayWidth_ = width;
  displayHeight_ = height;
  Layout();
  // Centred in the control until the status panel gives its own area.
  RECT reference = {};
  if (ControlWindow()) GetClientRect(ControlWindow(), &reference);
  const POINT origin = {(reference.left + reference.right) / 2 - width / 2,
                        (reference.top + reference.bottom) / 2 - height / 2};
  displayOffset_ = enableSkin_ ? origin : POINT{0, 0};
  displayRect_ = {displayOffset_.x, displayOffset_.y, displayOffset_.x + width, displayOffset_.y + height};
}
