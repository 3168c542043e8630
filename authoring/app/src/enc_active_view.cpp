#include "scrivel/enc_active_view.h"

#include <cstdio>

#include "scrivel/setting_items.h"

namespace scrivel {

// {20260E27-5CD1-11D4-8737-0050DA816754}
const IID kScrivelControlEvents = {0x20260E27, 0x5CD1, 0x11D4, {0x87, 0x37, 0x00, 0x50, 0xDA, 0x81, 0x67, 0x54}};

namespace {

constexpr wchar_t kRegistryKey[] = L"Software\\Apps\\Kestrune\\Scrivel\\";
constexpr int kScratchChars = 260;
constexpr int kAudioCodecs = 3;  // entries with codec 0, 1 or 2 are pushed

constexpr wchar_t kReadyText[] = L"Ready to Encode";
constexpr wchar_t kStartHint[] = L"Select Start to begin encoding.";
constexpr wchar_t kWritingText[] = L"Writing to File";
constexpr wchar_t kWritingHint[] = L"Writing to File.  Please Wait.";
constexpr wchar_t kStreamingText[] = L"Streaming . . .";
constexpr wchar_t kPausedText[] = L"Connection Pause";
constexpr wchar_t kPausingText[] = L"Pausing";
constexpr wchar_t kErrorCaption[] = L"Invalid Properties";

std::string Narrow(const std::u16string& text) {
  return appf::Narrow(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}
std::u16string Wide(const std::string& text) {
  std::wstring wide = appf::Widen(text);
  return std::u16string(wide.begin(), wide.end());
}
atl::Variant TextVariant(const std::u16string& text) {
  return atl::Variant(reinterpret_cast<const wchar_t*>(text.c_str()));
}
std::u16string VariantText(const atl::Variant& value) {
  atl::Variant text(value);
  if (FAILED(text.ChangeType(VT_BSTR)) || !V_BSTR(&text.Get())) return u"";
  const wchar_t* chars = V_BSTR(&text.Get());
  return std::u16string(chars, chars + SysStringLen(V_BSTR(&text.Get())));
}

std::wstring Format(const wchar_t* pattern, unsigned value) {
  wchar_t text[256];
  swprintf(text, 256, pattern, value);
  return text;
}

// How a KRError code is answered. After a message (or none) the summary view
// is refreshed and the stop step runs, unless the row says otherwise.
enum class ErrorAction {
  kMessage,          // the row's text
  kSilent,           // no message
  kNothing,          // nothing at all
  kOwnText,          // the event's own text
  kAudioDevice,      // once in a run, own caption
  kBadOutputName,    // message; the output name is marked invalid
  kBackToFirstKind,  // no message; states 2 and 3 go back to 1
  kNotRegistered,    // message, then the program ends
  kInternal,         // message with the low 16 bits; the frame closes
  kTempDiskFull,     // the run ends and the control stops, then the own text
  kDiskFull,         // the run ends, then the own text; no stop step
  kNoAudioDevice,    // message; no stop step
  kSizeLimits,       // message with the size limits
};

struct ErrorRow {
  uint32_t first;
  uint32_t last;
  ErrorAction action;
  const wchar_t* text;
};

constexpr wchar_t kSizeText[] =
    L"Incorrect input size.  Please select a file with dimensions greater than or equal to %d x %d and less than "
    L"or equal to %d x %d.";
constexpr wchar_t kImageSizeText[] =
    L"Incorrect image dimensions.  Please select a file with dimensions greater than or equal to %d x %d and less "
    L"than or equal to %d x %d.";

constexpr ErrorRow kErrorTable[] = {
    {0x800A03E9, 0x800A03E9, ErrorAction::kMessage, L"Scrivel cannot execute this method."},
    {0x800A03EA, 0x800A03EA, ErrorAction::kSilent, nullptr},
    {0x800A03EB, 0x800A03EB, ErrorAction::kAudioDevice, L"Audio capture device not detected. %s"},
    {0x800A03EC, 0x800A03EC, ErrorAction::kBadOutputName,
     L"Invalid file name.  Please change the file name and try again."},
    {0x800A03ED, 0x800A03ED, ErrorAction::kMessage, L"Unknown source."},
    {0x800A03EE, 0x800A03EE, ErrorAction::kMessage,
     L"The selected source cannot be used.  Please select a new source."},
    {0x800A03EF, 0x800A03EF, ErrorAction::kMessage, L"Invalid device ID.  Please specify new device ID."},
    {0x800A03F0, 0x800A03F0, ErrorAction::kMessage, L"Invalid dialog ID."},
    {0x800A03F1, 0x800A03F1, ErrorAction::kMessage, L"Interface not found."},
    {0x800A03F2, 0x800A03F2, ErrorAction::kMessage, L"Encoding not in process"},
    {0x800A03F3, 0x800A03F3, ErrorAction::kMessage, L"Invalid value"},
    {0x800A03F4, 0x800A03F4, ErrorAction::kMessage, L"Bad parameter."},
    {0x800A03F5, 0x800A03F5, ErrorAction::kMessage, L"The function has failed."},
    {0x800A03F6, 0x800A03F6, ErrorAction::kBackToFirstKind, nullptr},
    {0x800A03F7, 0x800A03F7, ErrorAction::kSilent, nullptr},
    {0x800A03F8, 0x800A03F8, ErrorAction::kMessage, L"Invalid capture format."},
    {0x800A03F9, 0x800A03F9, ErrorAction::kNotRegistered, L"The Medlark component is not registered."},
    {0x800A03FA, 0x800A03FA, ErrorAction::kMessage,
     L"Not enough memory.  You may want to try closing other applications and try again."},
    {0x800A03FB, 0x800A03FB, ErrorAction::kMessage, L"The given string is too long."},
    {0x800A03FC, 0x800A03FC, ErrorAction::kMessage,
     L"The connection to KRServer failed.  The selected port may be in use."},
    {0x800A03FD, 0x800A03FD, ErrorAction::kMessage, L"Live capture not configured."},
    {0x800A03FE, 0x800A03FE, ErrorAction::kMessage,
     L"Invalid minimum frame rate.  Please specify a minimum frame rate that is less than the source frame rate."},
    {0x800A03FF, 0x800A03FF, ErrorAction::kMessage,
     L"Invalid maximum frame rate.  Please specify a maximum frame rate that is less than the source frame rate."},
    {0x800A0400, 0x800A0400, ErrorAction::kMessage,
     L"Invalid stream type.  Please specify a different stream source."},
    {0x800A0401, 0x800A0401, ErrorAction::kMessage, L"Invalid source type.  Please specify a different source."},
    {0x800A0402, 0x800A0402, ErrorAction::kMessage, L"Invalid content version."},
    {0x800A0403, 0x800A0403, ErrorAction::kMessage, L"This file cannot be previewed."},
    {0x800A0404, 0x800A0404, ErrorAction::kMessage,
     L"Cannot process the source format.  Please select a different source."},
    {0x800A0405, 0x800A0405, ErrorAction::kMessage,
     L"Only BMP (.bmp) or JPEG (.jpg) files may be used.  Please choose another image file."},
    {0x800A0406, 0x800A0406, ErrorAction::kSizeLimits, kSizeText},
    {0x800A0407, 0x800A0408, ErrorAction::kNothing, nullptr},
    {0x800A0409, 0x800A0409, ErrorAction::kMessage, L"Incorrect video capture configuration."},
    {0x800A040E, 0x800A0415, ErrorAction::kInternal, L"Internal error 0x%X. Application will be closed. "},
    {0x800A0416, 0x800A0416, ErrorAction::kMessage, L"The YUV12 decompressor was not found."},
    {0x800A0417, 0x800A0417, ErrorAction::kMessage, L"The capture format is not supported."},
    {0x800A041D, 0x800A041D, ErrorAction::kMessage,
     L"The source width must be greater than source height.  Please specify a new source."},
    {0x800A042F, 0x800A042F, ErrorAction::kSizeLimits, kImageSizeText},
    {0x800A041F, 0x800A0420, ErrorAction::kOwnText, nullptr},
    {0x800A042D, 0x800A042E, ErrorAction::kOwnText, nullptr},
    {0x800A0432, 0x800A0433, ErrorAction::kOwnText, nullptr},
    {0x800A044C, 0x800A0450, ErrorAction::kOwnText, nullptr},
    {0x800A1771, 0x800A1771, ErrorAction::kOwnText, nullptr},
    {0x800A1389, 0x800A1389, ErrorAction::kTempDiskFull, nullptr},
    {0x800A138A, 0x800A138A, ErrorAction::kDiskFull, nullptr},
    {0x800A1772, 0x800A1772, ErrorAction::kMessage, L"Unable to open the input file."},
    {0x80004005, 0x80004005, ErrorAction::kNoAudioDevice, L"Audio device not available"},
};

const ErrorRow* FindError(uint32_t code) {
  for (const ErrorRow& row : kErrorTable)
    if (code >= row.first && code <= row.last) return &row;
  return nullptr;
}

}  // namespace

CEncActiveView::CEncActiveView(HINSTANCE module, EncoderFrame& frame, SummaryLink& summary)
    : appf::FormView(module, kEncoderViewTemplate),
      frame_(frame),
      summary_(summary),
      record_(std::make_unique<CSessionSettings>()) {}

CEncActiveView::~CEncActiveView() = default;

void CEncActiveView::OnInitialUpdate() {
  BindControl(kControlId, &control_.Driver());
  if (SUCCEEDED(AdviseEvents(kControlId, kScrivelControlEvents, &sink_))) ConnectEvents(*sink_.Get());
  dropTarget_ = appf::FileDropTarget::Create(this);
  dropTarget_->Register(Handle());
}

void CEncActiveView::OnDestroyView() {
  if (dropTarget_) dropTarget_->Revoke();
  dropTarget_.Reset();
}

DWORD CEncActiveView::OnDragFiles(const std::vector<std::wstring>& paths) {
  int effect = 0;
  for (const std::wstring& path : paths) effect = frame_.AcceptDroppedFile(path);
  return effect > 0 ? static_cast<DWORD>(effect) : DROPEFFECT_NONE;
}

void CEncActiveView::OnDropFiles(const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) frame_.OpenDroppedFile(path);
  if (frame_.OpenOnDrop()) {
    frame_.ClearOpenOnDrop();
    Post(kOpenAfterDrop);
  }
}

void CEncActiveView::ConnectEvents(appf::EventSink& sink) {
  sink.On(1, [this](const appf::EventArgs&) { OnStart(); });
  sink.On(2, [this](const appf::EventArgs&) { OnStop(); });
  sink.On(3, [this](const appf::EventArgs& a) { OnError(a.Long(0), a.Text(1)); });
  sink.On(4, [this](const appf::EventArgs&) {
    connected_ = true;
    streamingText_ = kStreamingText;
    RepaintStreamingArea();
  });
  sink.On(5, [this](const appf::EventArgs&) {
    connected_ = false;
    streamingText_ = kPausedText;
    RepaintStreamingArea();
  });
  sink.On(10, [this](const appf::EventArgs&) { OnLimit(false); });
  sink.On(11, [this](const appf::EventArgs&) { OnLimit(true); });
  sink.On(12, [this](const appf::EventArgs&) { OnCaptureDimChanged(); });
  sink.On(13, [this](const appf::EventArgs& a) { OnCustom(a.Long(0)); });
  // DropFiles and the mouse events are not the view's concern.
}

// ---- Settings snapshot ----

int CEncActiveView::LoadItem(int item) {
  CSessionSettings& r = *record_;
  CScrivelControl& c = control_;
  switch (item) {
    case 0: c.SetEncWidth(static_cast<SHORT>(r.encWidth)); break;
    case 1: c.SetEncHeight(static_cast<SHORT>(r.encHeight)); break;
    case 2: c.SetNLayers(static_cast<SHORT>(r.nLayers)); break;
    case 3: c.SetBaseBitRate(r.baseBitRate); break;
    case 4: c.SetEnBitRate(r.enBitRate); break;
    case 5: c.SetBaseFrameRate(r.baseFrameRate); break;
    case 6: c.SetEnFrameRate(r.enFrameRate); break;
    case 7: c.SetIFrameInterval(static_cast<SHORT>(r.iFrameInterval)); break;
    case 8: c.SetBandwidth(r.bandwidth); break;
    case 9:
      for (int i = 0; i < mediaengine::kAudioStreamEntries; ++i) {
        const mediaengine::KRAudioStreamEntry& e = r.audio.stream[i];
        if (e.codec < 0 || e.codec >= kAudioCodecs) continue;
        c.ConfigAudioCodec(static_cast<SHORT>(i), static_cast<SHORT>(e.codec), e.enabled != 0, e.samplingRate,
                           e.bitRate, static_cast<SHORT>(e.channels));
      }
      break;
    case 10: c.SetStreamOut(static_cast<SHORT>(r.streamOut)); break;
    case 11: c.SaveProfile(TextVariant(CSessionSettings::Text(r.profilePath)).Get()); break;
    case 14: c.SetEncoding(r.encoding != 0); break;
    case 15:
      if (r.liveCapture) {
        c.SetSourceType(1);
        c.SelectVideoDevice(static_cast<SHORT>(r.videoDeviceIndex));
        if (r.audioDeviceIndex < kNoAudioDevice) c.SelectAudioDevice(static_cast<SHORT>(r.audioDeviceIndex));
      } else {
        c.SetSourceType(0);
        c.SetSrcFileName(Narrow(CSessionSettings::Text(r.inputFile)));
      }
      c.SetStreamOut(static_cast<SHORT>(r.streamOut));
      if (r.streamOut == kStillImageStream) {
        SHORT flag = 0;
        atl::Variant header;
        c.SetStillImage(TextVariant(CSessionSettings::Text(r.stillImageFile)).Get(), &flag, header.Out(), false);
      }
      break;
    case 16:
      c.SetMediaOut(static_cast<SHORT>(r.mediaOut));
      if (state_ != kPreviewing) {
        if (r.mediaOut == kFileOutput) c.SetOutputFileName(Narrow(CSessionSettings::Text(r.outputFileName)));
        if (r.mediaOut == 4) c.SetPortNumber(r.portNumber[0], r.portNumber[1], r.portNumber[2]);
      }
      break;
    case 17: c.StartPlaying(); break;
    case 18: c.StopPlaying(); break;
    case 19: c.SetCapWidth(static_cast<SHORT>(r.capWidth)); break;
    case 20: c.SetCapHeight(static_cast<SHORT>(r.capHeight)); break;
    case 27: {
      atl::Variant texts[kClipTextCount];
      for (int i = 0; i < kClipTextCount; ++i) texts[i] = TextVariant(CSessionSettings::Text(r.clip[i]));
      c.SetMetaData(texts[0].Get(), texts[1].Get(), texts[2].Get(), texts[3].Get(), texts[4].Get());
      break;
    }
    case 28: c.SetContentVersion(static_cast<SHORT>(r.contentVersion)); break;
    case 29: c.SetMaxSize(r.maxSize); break;
    case 30: c.SetMaxDuration(r.maxDuration); break;
    case 31: c.SetUnitDuration(static_cast<SHORT>(r.unitDuration)); break;
    case 40: c.SetProfileName(TextVariant(CSessionSettings::Text(r.profileName)).Get()); break;
    case 41: c.SetBFullSearch(static_cast<SHORT>(r.bFullSearch)); break;
    case 45: c.SetBEncodeDownloadOnly(static_cast<SHORT>(r.bEncodeDownloadOnly)); break;
    case 46: c.SetBMultiplePass(static_cast<SHORT>(r.bMultiplePass)); break;
    case 47: c.SetBEnableFixedIFrame(static_cast<SHORT>(r.bEnableFixedIFrame)); break;
    case 48: c.SetBClientNoAudio(static_cast<SHORT>(r.bClientNoAudio)); break;
    case 49: c.SetBEnableVideoRandomPositioning(static_cast<SHORT>(r.bEnableVideoRandomPositioning)); break;
    case 50: c.SetBEnableRandomPositioning(static_cast<SHORT>(r.bEnableRandomPositioning)); break;
    default: break;
  }
  return 1;
}

int CEncActiveView::SaveItem(int item) {
  CSessionSettings& r = *record_;
  CScrivelControl& c = control_;
  switch (item) {
    case 0: r.encWidth = c.GetEncWidth(); break;
    case 1: r.encHeight = c.GetEncHeight(); break;
    case 2: r.nLayers = c.GetNLayers(); break;
    case 3: r.baseBitRate = c.GetBaseBitRate(); break;
    case 4: r.enBitRate = c.GetEnBitRate(); break;
    case 5: r.baseFrameRate = c.GetBaseFrameRate(); break;
    case 6: r.enFrameRate = c.GetEnFrameRate(); break;
    case 7: r.iFrameInterval = c.GetIFrameInterval(); break;
    case 8: r.bandwidth = c.GetBandwidth(); break;
    case 9:
      for (int i = 0; i < mediaengine::kAudioStreamEntries; ++i) {
        mediaengine::KRAudioStreamEntry& e = r.audio.stream[i];
        SHORT codec = 0, channels = 0;
        bool enabled = false;
        LONG rate = 0, bitRate = 0;
        c.GetConfigAudioCodec(static_cast<SHORT>(i), &codec, &enabled, &rate, &bitRate, &channels);
        e.codec = codec;
        e.enabled = enabled ? 1 : 0;
        e.samplingRate = rate;
        e.bitRate = bitRate;
        e.channels = static_cast<uint16_t>(channels);
      }
      break;
    case 10: r.streamOut = c.GetStreamOut(); break;
    case 11: c.LoadProfile(TextVariant(CSessionSettings::Text(r.profilePath)).Get()); break;
    case 15: {
      r.liveCapture = c.GetSourceType() == 1 ? 1 : 0;
      SHORT video = 0, audio = 0;
      c.GetCurrentDeviceID(0, &video);
      c.GetCurrentDeviceID(1, &audio);
      r.videoDeviceIndex = video;
      r.audioDeviceIndex = static_cast<uint16_t>(audio);  // 65535: none
      r.SetInputFile(Wide(c.GetSrcFileName()));
      std::string still;
      c.GetStillImageFileName(&still);
      r.SetStillImageFile(Wide(still));
      break;
    }
    case 16: {
      r.mediaOut = c.GetMediaOut();
      r.SetOutputFileName(Wide(c.GetOutputFileName()));
      LONG ports[3] = {};
      c.GetPortNumber(&ports[0], &ports[1], &ports[2]);
      for (int i = 0; i < 3; ++i) r.portNumber[i] = ports[i];
      break;
    }
    case 22:
    case 43: c.GetStreamTime(&streamTime_); break;
    case 27: {
      std::string texts[kClipTextCount];
      c.GetMetaData(&texts[0], &texts[1], &texts[2], &texts[3], &texts[4]);
      for (int i = 0; i < kClipTextCount; ++i) r.SetClipText(static_cast<ClipTextIndex>(i), Wide(texts[i]));
      break;
    }
    case 28: r.contentVersion = c.GetContentVersion(); break;
    case 29: r.maxSize = c.GetMaxSize(); break;
    case 30: r.maxDuration = c.GetMaxDuration(); break;
    case 31: r.unitDuration = c.GetUnitDuration(); break;
    case 32: {
      float frameRate = 0;
      LONG bitRate = 0, kbytes = 0;
      c.GetVideoEncStats(&frameRate, &bitRate, &kbytes);
      c.GetTotalVideoKBytes(&kbytes);
      break;
    }
    case 33: {
      SHORT codec = 0;
      LONG samples = 0, bitRate = 0, bytes = 0, kbytes = 0;
      c.GetAudioEncStats(0, &codec, &samples, &bitRate, &bytes);
      c.GetTotalAudioKBytes(&kbytes);
      break;
    }
    case 40: r.SetProfileName(VariantText(c.GetProfileName())); break;
    case 41: r.bFullSearch = c.GetBFullSearch(); break;
    case 45: r.bEncodeDownloadOnly = c.GetBEncodeDownloadOnly(); break;
    case 46: r.bMultiplePass = c.GetBMultiplePass(); break;
    case 47: r.bEnableFixedIFrame = c.GetBEnableFixedIFrame(); break;
    case 48: r.bClientNoAudio = c.GetBClientNoAudio(); break;
    case 49: r.bEnableVideoRandomPositioning = c.GetBEnableVideoRandomPositioning(); break;
    case 50: r.bEnableRandomPositioning = c.GetBEnableRandomPositioning(); break;
    default: break;
  }
  return 1;
}

void CEncActiveView::LoadAll(bool partial) {
  for (int item : LoadAllItems(*record_, partial)) LoadItem(item);
}

void CEncActiveView::SaveAll(bool partial) {
  for (int item : SaveAllItems(*record_, partial)) SaveItem(item);
}

// ---- Registry ----

LONG CEncActiveView::ApplyScratchDisk() {
  HKEY key = nullptr;
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRegistryKey, 0, KEY_ALL_ACCESS, &key);
  if (result != ERROR_SUCCESS) return result;
  wchar_t folder[kScratchChars + 2] = {};
  DWORD type = 0;
  DWORD bytes = kScratchChars * sizeof(wchar_t);
  result = RegQueryValueExW(key, L"ScratchDisk", nullptr, &type, reinterpret_cast<BYTE*>(folder), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return result;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  // A stored string need not carry its terminator: the length read counts.
  std::wstring text(folder, bytes / sizeof(wchar_t));
  text.resize(wcsnlen(text.c_str(), text.size()));
  if (text.size() < static_cast<size_t>(kScratchChars) && (text.empty() || text.back() != L'\\')) text += L'\\';
  control_.SetScratchDisk(appf::Narrow(text.c_str(), text.size()));
  return ERROR_SUCCESS;
}

LONG CEncActiveView::ApplyNetworkTimeOuts() {
  HKEY key = nullptr;
  std::wstring path = std::wstring(kRegistryKey) + L"Network\\";
  LONG result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (result != ERROR_SUCCESS) return result;
  auto read = [key](const wchar_t* name, DWORD fallback) {
    DWORD value = 0, type = 0, bytes = sizeof(value);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) != ERROR_SUCCESS ||
        type != REG_DWORD)
      return fallback;
    return value;
  };
  DWORD client = read(L"ClientTimeOut", 60);
  DWORD interval = read(L"IntervalTimeOut", 60);
  DWORD report = read(L"ReportTimeOut", 1);
  RegCloseKey(key);
  control_.SetClientTimeOut(static_cast<LONG>(interval), static_cast<LONG>(report), static_cast<LONG>(client));
  return ERROR_SUCCESS;
}

// ---- Events ----

void CEncActiveView::OnStart() {
  switch (state_) {
    case kRunFirstKind: started_ = true; break;
    case kPreviewing:
      started_ = true;
      state_ = record_->liveCapture ? kReady : kRunning;
      break;
    case kRunThirdKind:
      stopRequested_ = true;
      state_ = kRunning;
      summary_.UpdateRecord();
      break;
    default: break;
  }
  summary_.Refresh();
}

void CEncActiveView::OnStop() {
  if (runKind_ == 1 || runKind_ == 3) {
    if (runKind_ == 3) summary_.UpdateRecord();
    StopStep();
    runKind_ = 0;
    started_ = false;
  }
  Repaint(false);
  summary_.Refresh();
  state_ = kStopped;
  if (frame_.QuitAfterRun() && !record_->liveCapture && record_->mediaOut == kFileOutput) Post(kCloseProgram);
  audioDeviceWarned_ = false;
  endedByError_ = false;
}

void CEncActiveView::OnError(LONG code, const std::wstring& text) {
  uint32_t value = static_cast<uint32_t>(code);
  const ErrorRow* row = FindError(value);
  bool stopStep = true;
  if (!row) {
    ShowMessage(Format(L"Unknown error 0x%X", value >> 16), kErrorCaption, MB_ICONEXCLAMATION);
  } else {
    switch (row->action) {
      case ErrorAction::kNothing: return;
      case ErrorAction::kMessage: ShowMessage(row->text, kErrorCaption, MB_ICONEXCLAMATION); break;
      case ErrorAction::kSilent: break;
      case ErrorAction::kOwnText: ShowMessage(text, kErrorCaption, MB_ICONEXCLAMATION); break;
      case ErrorAction::kAudioDevice:
        if (!audioDeviceWarned_) {
          audioDeviceWarned_ = true;
          std::wstring message = row->text;
          message.replace(message.find(L"%s"), 2, L"Audio device selection has been disabled.");
          ShowMessage(message, L"No Audio Capture Device", MB_ICONEXCLAMATION);
        }
        break;
      case ErrorAction::kBadOutputName:
        outputNameInvalid_ = true;
        ShowMessage(row->text, kErrorCaption, MB_ICONEXCLAMATION);
        break;
      case ErrorAction::kBackToFirstKind:
        if (state_ == kPreviewing || state_ == kRunThirdKind) {
          summary_.Refresh();
          state_ = kRunFirstKind;
        }
        break;
      case ErrorAction::kNotRegistered:
        ShowMessage(row->text, kErrorCaption, MB_ICONEXCLAMATION);
        Post(kCloseProgram);
        ExitProcess(static_cast<UINT>(-1));
      case ErrorAction::kInternal:
        ShowMessage(Format(row->text, value & 0xFFFF), kErrorCaption, MB_ICONEXCLAMATION);
        Post(kCloseProgram);
        break;
      case ErrorAction::kSizeLimits: {
        wchar_t message[256];
        swprintf(message, 256, row->text, 128, 96, 800, 600);
        ShowMessage(message, kErrorCaption, MB_ICONEXCLAMATION);
        break;
      }
      case ErrorAction::kTempDiskFull:
      case ErrorAction::kDiskFull:
        runKind_ = 0;
        if (record_->streamOut != kStillImageStream) stillImageShown_ = false;
        if (row->action == ErrorAction::kTempDiskFull && started_) LoadItem(18);
        state_ = kStopped;
        ShowMessage(text, kErrorCaption, MB_ICONEXCLAMATION);
        stopStep = row->action == ErrorAction::kTempDiskFull;
        break;
      case ErrorAction::kNoAudioDevice:
        ShowMessage(row->text, kErrorCaption, MB_ICONEXCLAMATION);
        stopStep = false;
        break;
    }
  }
  endedByError_ = true;
  summary_.Refresh();
  if (stopStep) {
    StopStep();
    state_ = kStopped;
  }
}

void CEncActiveView::OnLimit(bool duration) {
  wchar_t message[256];
  if (duration) {
    durationLimit_ = true;
    static const wchar_t* const kUnits[] = {L"", L"seconds", L"minutes", L"hours", L"days"};
    int unit = record_->unitDuration;
    const wchar_t* word = unit >= kSeconds && unit <= kDays ? kUnits[unit] : L"";
    swprintf(message, 256, L"The maximum duration %d %ls was reached.", static_cast<int>(record_->maxDuration), word);
  } else {
    sizeLimit_ = true;
    swprintf(message, 256, L"The maximum size %d KB was reached.", record_->maxSize);
  }
  limitMessage_ = message;
  summary_.UpdateRecord();
  Repaint(false);
  if (stopRequested_) LoadItem(18);
  Post(kLimitReached);
  state_ = kStopped;
}

void CEncActiveView::OnCaptureDimChanged() {
  if (!record_) return;
  record_->capWidth = control_.GetCapWidth();
  record_->capHeight = control_.GetCapHeight();
}

void CEncActiveView::OnCustom(LONG kind) {
  switch (kind) {
    case 1: SendMessageW(frame_.FrameHandle(), WM_COMMAND, kHelpCommand, 0); return;
    case 2: streamingText_ = kPausingText; break;
    case 3: streamingText_ = kStreamingText; break;
    default: return;
  }
  RepaintStreamingArea();
}

// ---- Timer and stop step ----

void CEncActiveView::OnTimerTick() {
  switch (state_) {
    case kReady:
      if (stateText_ != kReadyText && !started_ && !stopPending_) {
        frame_.SetHint(kStartHint);
        stateText_ = kReadyText;
      }
      break;
    case kRunFirstKind:
      if (started_ && !stopRequested_) {
        stopRequested_ = true;
        Sleep(100);  // the control finishes its start before it is stopped
        LoadItem(18);
      }
      stateText_ = kReadyText;
      frame_.SetHint(kStartHint);
      state_ = kReady;
      break;
    case kPreviewing: Repaint(false); break;
    case kRunThirdKind: break;
    case kStopped: state_ = kReady; break;
    case kRunning:
      if (record_->mediaOut != 4) SaveItem(43);
      summary_.UpdateRecord();
      summary_.Refresh();
      Repaint(false);
      break;
    default: break;
  }
  if (Handle()) UpdateWindow(Handle());
}

void CEncActiveView::StopStep() {
  if (!stopPending_ || record_->mediaOut != kFileOutput) return;
  stateText_ = kWritingText;
  frame_.SetHint(kWritingHint);
  Repaint(true);
  summary_.Refresh();
}

void CEncActiveView::Post(UINT message) { PostMessageW(frame_.FrameHandle(), message, 0, 0); }

void CEncActiveView::ShowMessage(const std::wstring& text, const wchar_t* caption, UINT icon) {
  MessageBoxW(Handle(), text.c_str(), caption, MB_OK | icon);
}

void CEncActiveView::RepaintStreamingArea() { Repaint(false); }

void CEncActiveView::Repaint(bool erase) {
  if (Handle()) InvalidateRect(Handle(), nullptr, erase ? TRUE : FALSE);
}

}  // namespace scrivel
