// The control's media engine: made from its ProgID when the window is
// created, reset to the engine's defaults, and the graph events it passes
// on (WM_KR_GRAPHNOTIFY) turned into the control's events.
#include <string>

#include "atl/module.h"
#include "control.h"
#include "ctlvane/events.h"
#include "text.h"

namespace {

using namespace ctlvane;

constexpr UINT kGraphNotify = 0x5F4;
constexpr HRESULT kEngineNotRegistered = static_cast<HRESULT>(0x800A03F9);
constexpr HRESULT kSecurityCheckEvent = static_cast<HRESULT>(0x800A040A);
constexpr HRESULT kClientStatusEvent = static_cast<HRESULT>(0x800A040B);
constexpr HRESULT kPortErrorEvent = static_cast<HRESULT>(0x800A040C);

// Texts of the streamer's records are the system's code page.
std::wstring FromAnsi(const std::string& text) {
  if (text.empty()) return std::wstring();
  const int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

void CopyRecordText(mediaengine::RecordText& to, const std::wstring& text) {
  const size_t n = text.size() < static_cast<size_t>(mediaengine::kRecordTextMax)
                       ? text.size()
                       : static_cast<size_t>(mediaengine::kRecordTextMax);
  for (size_t i = 0; i < mediaengine::kRecordTextChars; ++i)
    to[i] = i < n ? static_cast<char16_t>(text[i]) : u'\0';
}

}  // namespace

void CKRActiveCtrl::BindEngine() {
  WindowHandlers().On(kGraphNotify, [this](WPARAM, LPARAM) -> LRESULT {
    OnGraphNotify();
    return 0;
  });
  BindMethod(44, [this](olectl::DispArgs&, VARIANT* r) {
    VariantClear(r);
    V_VT(r) = VT_I4;
    V_I4(r) = StartPlaying();
    return S_OK;
  });
  BindMethod(45, [this](olectl::DispArgs&, VARIANT* r) {
    VariantClear(r);
    V_VT(r) = VT_I4;
    V_I4(r) = StopPlaying();
    return S_OK;
  });
  BindMethod(83, [this](olectl::DispArgs&, VARIANT* r) {
    VariantClear(r);
    V_VT(r) = VT_I4;
    V_I4(r) = ResetToDefaults();
    return S_OK;
  });
}

HRESULT CKRActiveCtrl::EngineInterface(const IID& iid, void** out) {
  *out = nullptr;
  if (!engine_ || FAILED(engine_->QueryInterface(iid, out)) || !*out) {
    *out = nullptr;
    ReportError(kInterfaceNotFound);
    return kInterfaceNotFound;
  }
  return S_OK;
}

bool CKRActiveCtrl::CreateMediaObject() {
  if (engine_) {
    engine_.Reset();
    CoFreeUnusedLibraries();
  }
  const std::wstring caption = Wide(LoadText(kCaptionTextId));
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(kKRMediaProgId, &clsid))) {
    MessageBoxW(ControlWindow(), L"KRMedia.KRMedia.1 is not registered", caption.c_str(),
                MB_OK | MB_ICONEXCLAMATION);
    ReportError(kEngineNotRegistered);
    return false;
  }
  atl::ComPtr<IClassFactory> factory;
  HRESULT hr = CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, factory.OutVoid());
  if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_IUnknown, engine_.OutVoid());
  if (FAILED(hr) || !engine_) {
    // Going on without an engine would leave every later call failing.
    engine_.Reset();
    MessageBoxW(ControlWindow(), L"Cannot create class factory", caption.c_str(), MB_OK | MB_ICONEXCLAMATION);
    ReportError(kEngineNotRegistered);
    return false;
  }
  ResetToDefaults();
  Layout();
  return true;
}

HRESULT CKRActiveCtrl::ResetToDefaults() {
  atl::ComPtr<IKRMediaConfig> config;
  HRESULT result = EngineInterface(IID_IKRMediaConfig, config.OutVoid());
  if (SUCCEEDED(result)) {
    result = config->ResetToDefaults();
    config->GetConfigOutput(&records_.output);
    config->GetConfigVideoEncoder(&records_.video);
    config->GetConfigAudioEncoder(&records_.audio);
    config->GetConfigApplication(&records_.application);
  }
  StoreText(kProfileName, LoadText(kDefaultProfileTextId), records_);
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, folder);
  CopyRecordText(records_.output.outputFileName, std::wstring(folder) + L"\\Output_default.mp4");
  CopyRecordText(records_.output.stillImageFileName, std::wstring(folder) + L"\\KRlogo.bmp");
  PropertiesFromRecords();
  capWidth_ = 160;
  capHeight_ = 120;
  accepted_[kCapWidth] = capWidth_;
  accepted_[kCapHeight] = capHeight_;
  return result;
}

void CKRActiveCtrl::OnGraphNotify() {
  if (sourceType_ != 0 && sourceType_ != 1) {
    ReportError(E_UNEXPECTED);
    return;
  }
  atl::ComPtr<IGenFromLive> live;
  atl::ComPtr<IGenFromFile> file;
  if (FAILED(sourceType_ == 1 ? EngineInterface(IID_IGenFromLive, live.OutVoid())
                              : EngineInterface(IID_IGenFromFile, file.OutVoid())))
    return;
  LONG code = 0;
  LONG_PTR p1 = 0, p2 = 0;
  while (SUCCEEDED(live ? live->GetDSEvent(&code, &p1, &p2) : file->GetDSEvent(&code, &p1, &p2))) {
    if (IsHandledEvent(code)) HandleGraphEvent(code, p1, p2);
    if (live)
      live->FreeDSEvent(code, p1, p2);
    else
      file->FreeDSEvent(code, p1, p2);
  }
}

void CKRActiveCtrl::HandleGraphEvent(LONG code, LONG_PTR p1, LONG_PTR p2) {
  const void* block = reinterpret_cast<const void*>(p1);
  const size_t length = p2 > 0 ? static_cast<size_t>(p2) : 0;
  switch (code) {
    case kEcComplete:
      // The source has ended and nothing more comes: the run stops as the
      // host's StopPlaying stops it (a file output fires Stop once the
      // engine has written the file, 32778).
      if (runState_ == 3) StopPlaying();
      break;
    case kEcConnectionPaused:
      if (runState_ == 3) {
        StopEncoding(1);
        FireEvent(kEventConnectionPaused, olectl::EventArgs());
      }
      break;
    case kEcConnected:
      StartEncoding();
      FireEvent(kEventConnected, olectl::EventArgs());
      break;
    case kEcSecurityCheck: {
      ClientRecord r;
      if (!ReadClientRecord(block, length, &r)) {
        ReportError(kSecurityCheckEvent);
        break;
      }
      FireEvent(kEventSecurityCheck, olectl::EventArgs()
                                         .Add(static_cast<LONG>(r.word))
                                         .Add(FromAnsi(r.text).c_str())
                                         .Add(FromAnsi(r.address).c_str()));
      break;
    }
    case kEcClientStatus: {
      ClientRecord r;
      if (!ReadClientRecord(block, length, &r)) {
        ReportError(kClientStatusEvent);
        break;
      }
      FireEvent(kEventClientStatus,
                olectl::EventArgs().AddError(static_cast<SCODE>(r.word)).Add(FromAnsi(r.address).c_str()));
      break;
    }
    case kEcPortError: {
      int32_t port = 0;
      if (!ReadPortText(block, length, &port)) {
        ReportError(kPortErrorEvent);
        break;
      }
      FireEvent(kEventPortError, olectl::EventArgs().AddError(port));
      break;
    }
    case kEcStopped:
      FireStop();
      break;
    case kEcError: {
      // The code is a 32-bit HRESULT in a pointer-sized parameter.
      const int32_t error = static_cast<int32_t>(p2);
      if (p1 == kErrorKindDisk && (error == kDiskSpaceLow || error == kDiskFullCode)) {
        ReportError(error);
        if (error == kDiskFullCode) FireStop();
      }
      break;
    }
    case kEcCustom2:
    case kEcCustom3:
      FireEvent(
          kEventCustom,
          olectl::EventArgs().Add(LONG{code == kEcCustom2 ? 2 : 3}).Add(static_cast<LONG>(p1)).Add(L""));
      break;
    default:
      break;  // accepted; their parameters are freed all the same
  }
}
