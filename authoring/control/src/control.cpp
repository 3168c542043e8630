#include "control.h"

#include <shellapi.h>

#include <string>

#include "atl/module.h"
#include "resource.h"
#include "text.h"
#include "window/gdi.h"

// {6B0C1D5E-2F47-4C39-9E0A-7D3A51C8B214}
const CLSID CLSID_KRActivePropPage = {0x6B0C1D5E, 0x2F47, 0x4C39, {0x9E, 0x0A, 0x7D, 0x3A, 0x51, 0xC8, 0xB2, 0x14}};

namespace {

using namespace ctlvane;

const CLSID kPages[] = {CLSID_KRActivePropPage};

POINT At(LPARAM l) { return POINT{static_cast<SHORT>(LOWORD(l)), static_cast<SHORT>(HIWORD(l))}; }

// 1 when the key state is the Shift key alone (no Ctrl, no Alt), else 0.
SHORT ShiftAlone(WPARAM keys) {
  return (keys & MK_SHIFT) && !(keys & MK_CONTROL) && GetKeyState(VK_MENU) >= 0 ? 1 : 0;
}

void SetLong(VARIANT* v, LONG value) {
  VariantClear(v);
  V_VT(v) = VT_I4;
  V_I4(v) = value;
}

// A method's HRESULT as its long (or SCODE) result.
HRESULT Answer(VARIANT* result, HRESULT hr, char type = 'l') {
  VariantClear(result);
  if (type == 'e') {
    V_VT(result) = VT_ERROR;
    V_ERROR(result) = hr;
  } else {
    SetLong(result, hr);
  }
  return S_OK;
}

bool TextOf(const atl::Bstr& member, std::u16string* text) {
  *text = U16(member.Get() ? member.Get() : L"", member.Length());
  return true;
}
bool TextOf(const atl::Variant& member, std::u16string* text) {
  atl::Variant copy(member);
  if (FAILED(copy.ChangeType(VT_BSTR))) return false;
  BSTR b = V_BSTR(&copy.Get());
  *text = U16(b ? b : L"", SysStringLen(b));
  return true;
}
void SetText(atl::Bstr* member, const std::u16string& text) {
  std::wstring w = Wide(text);
  *member = atl::Bstr(w.c_str(), static_cast<UINT>(w.size()));
}
void SetText(atl::Variant* member, const std::u16string& text) { *member = atl::Variant(Wide(text).c_str()); }

}  // namespace

const olectl::ControlClass& CKRActiveCtrl::Class() {
  static const olectl::ControlClass info = {
      .clsid = &CLSID_ScrivelControl,
      .dispatch = &DIID__DScrivelControl,
      .events = &DIID__DScrivelControlEvents,
      .windowClass = L"KRActiveCtrl",
      .miscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                    OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST,
      .size = {320, 240},
      .pages = kPages,
      .pageCount = 1,
  };
  return info;
}

template <class T>
void CKRActiveCtrl::BindNumber(DISPID id, T* member, std::function<void()> accepted) {
  BindProperty(id, member, [this, id, member, accepted] {
    const double value = static_cast<double>(*member);
    const PropertyVerdict verdict = CheckNumber(id, value);
    if (verdict.Accepted()) {
      if (!StoreNumber(id, value, records_)) accepted_[id] = value;
      if (accepted) accepted();
      return;
    }
    double back = verdict.replacement;
    if (!verdict.putBack) accepted_[id] = back;
    else if (!StoredNumber(id, records_, &back)) back = accepted_[id];
    *member = static_cast<T>(back);
    ReportError(verdict.refusal);
  });
}

template <class T>
void CKRActiveCtrl::BindText(DISPID id, T* member, std::function<HRESULT(std::u16string*)> check) {
  BindProperty(id, member, [this, id, member, check] {
    std::u16string text;
    PropertyVerdict verdict = TextOf(*member, &text) ? CheckText(id, text) : PropertyVerdict{kInvalidValue};
    if (verdict.Accepted() && check) {
      const std::u16string given = text;
      verdict.refusal = check(&text);
      if (verdict.Accepted() && text != given) SetText(member, text);
    }
    if (verdict.Accepted()) {
      StoreText(id, text, records_);
      return;
    }
    SetText(member, StoredText(id, records_));
    ReportError(verdict.refusal);
  });
}

CKRActiveCtrl::CKRActiveCtrl() : COleControl(Class()) {
  OnResetState();
  BindNumber(kEncWidth, &encWidth_);
  BindNumber(kNLayers, &nLayers_);
  BindNumber(kEncHeight, &encHeight_);
  BindNumber(kBaseBitRate, &baseBitRate_);
  BindNumber(kEnBitRate, &enBitRate_);
  BindNumber(kBaseFrameRate, &baseFrameRate_);
  BindNumber(kEnFrameRate, &enFrameRate_);
  BindNumber(kIFrameInterval, &iFrameInterval_);
  BindNumber(kMediaOut, &mediaOut_);
  BindNumber(kStreamOut, &streamOut_, [this] {
    if (streamOut_ != 5) customDisplay_ = false;
  });
  BindText(kOutputFileName, &outputFileName_,
           [this](std::u16string* name) { return CheckOutputFileName(name) ? S_OK : kInvalidFileName; });
  BindNumber(kSourceType, &sourceType_, [this] {
    if (displayShown_) InvalidateControl();
  });
  BindNumber(kEncPreviewType, &encPreviewType_, [this] { OnEncPreviewTypeChanged(); });
  BindBoolProperty(kEncoding, &encoding_);
  BindNumber(kCapWidth, &capWidth_);
  BindNumber(kCapHeight, &capHeight_);
  BindText(kSrcFileName, &srcFileName_, [this](std::u16string* name) { return CheckSourceFile(*name); });
  BindBoolProperty(kEnableSkin, &enableSkin_, [this] {
    guiMode_ = enableSkin_ ? 15 : 1;
    Layout();
  });
  BindNumber(kBandwidth, &bandwidth_);
  BindNumber(kContentVersion, &contentVersion_);
  BindNumber(kMaxDuration, &maxDuration_, [this] { settings_.SetDurationLimit(maxDuration_, unitDuration_); });
  BindNumber(kUnitDuration, &unitDuration_, [this] { settings_.SetDurationLimit(maxDuration_, unitDuration_); });
  BindNumber(kMaxSize, &maxSize_);
  BindText(kProfileName, &profileName_);
  BindNumber(kBFullSearch, &bFullSearch_);
  BindText(kProfileDescription, &profileDescription_);
  BindNumber(kBEnableFixedIFrame, &bEnableFixedIFrame_);
  BindNumber(kBEncodeDownloadOnly, &bEncodeDownloadOnly_);
  BindNumber(kBFileOut, &bFileOut_);
  BindNumber(kEnableSecurityCheck, &enableSecurityCheck_);
  BindBoolProperty(kEnableDragandDrop, &enableDragandDrop_,
                   [this] { EnableFileDrops(enableDragandDrop_ != VARIANT_FALSE); });
  BindNumber(kGuiMode, &guiMode_, [this] { OnGuiModeChanged(); });
  BindNumber(kContextMenuSettings, &contextMenuSettings_);
  BindNumber(kButtonMode, &buttonMode_, [this] { Layout(); });
  BindProperty(kBackColor, &backColor_, [this] { InvalidateControl(); });
  BindBoolProperty(kAllowSelfResize, &allowSelfResize_, [this] { Layout(); });
  BindNumber(kBMultiplePass, &bMultiplePass_);
  BindNumber(kBClientNoAudio, &bClientNoAudio_);
  BindNumber(kStatRefreshRate, &statRefreshRate_);
  BindNumber(kStatWindowDuration, &statWindowDuration_);
  BindNumber(kBEnableVideoRandomPositioning, &bEnableVideoRandomPositioning_);
  BindText(kScratchDisk, &scratchDisk_);
  BindNumber(kBEnableRandomPositioning, &bEnableRandomPositioning_);
  BindMethods();
  InitSettings();
  BindEngine();

  win::Window& w = WindowHandlers();
  w.On(WM_CREATE, [this](WPARAM, LPARAM) -> LRESULT {
    // A drop setting made before the window existed.
    if (ControlWindow()) DragAcceptFiles(ControlWindow(), enableDragandDrop_ != VARIANT_FALSE);
    // No window without an engine: every run would fail.
    return CreateMediaObject() ? 0 : -1;
  });
  w.On(WM_LBUTTONDOWN, [this](WPARAM k, LPARAM l) -> LRESULT {
    OnButtonDown(1, k, At(l));
    return 0;
  });
  w.On(WM_RBUTTONDOWN, [this](WPARAM k, LPARAM l) -> LRESULT {
    OnButtonDown(2, k, At(l));
    return 0;
  });
  const struct {
    UINT message;
    SHORT button;
  } doubles[] = {{WM_LBUTTONDBLCLK, 1}, {WM_RBUTTONDBLCLK, 2}};
  for (const auto& d : doubles) {
    SHORT button = d.button;
    w.On(d.message, [this, button](WPARAM k, LPARAM l) -> LRESULT {
      POINT p = At(l);
      FireEvent(olectl::kEventDblClick,
                olectl::EventArgs().Add(button).Add(ShiftAlone(k)).Add(LONG{p.x}).Add(LONG{p.y}));
      return 0;
    });
  }
}

void CKRActiveCtrl::BindMethods() {
  BindMethod(72, [this](olectl::DispArgs& a, VARIANT* r) { return Answer(r, SetPortNumber(a)); });
  BindMethod(73, [this](olectl::DispArgs& a, VARIANT* r) { return Answer(r, GetPortNumber(a)); });
  BindMethod(74, [this](olectl::DispArgs& a, VARIANT* r) { return Answer(r, SetClientTimeOut(a)); });
  BindMethod(75, [this](olectl::DispArgs& a, VARIANT* r) { return Answer(r, GetClientTimeOut(a)); });
  BindMethod(71, [this](olectl::DispArgs& a, VARIANT* r) { return Answer(r, GrantConnection(a)); });
  // The methods whose bodies come with the engine binding, encoding,
  // statistics, sessions, still images and the property sheet: a long or
  // SCODE result says E_NOTIMPL, the others fail the call with it.
  for (size_t i = 0; i < kDispatchContractSize; ++i) {
    const ContractMember& m = kDispatchContract[i];
    if (m.kind != MemberKind::kMethod || (m.dispid >= 71 && m.dispid <= 75) || m.dispid == olectl::kDispidAboutBox)
      continue;
    const char type = m.type;
    BindMethod(m.dispid, [type](olectl::DispArgs&, VARIANT* r) {
      return type == 'l' || type == 'e' ? Answer(r, E_NOTIMPL, type) : E_NOTIMPL;
    });
  }
}

void CKRActiveCtrl::PropertiesFromRecords() {
  auto number = [this](DISPID id, auto* member) {
    double v = 0;
    if (StoredNumber(id, records_, &v)) *member = static_cast<std::remove_pointer_t<decltype(member)>>(v);
  };
  number(kEncWidth, &encWidth_);
  number(kNLayers, &nLayers_);
  number(kEncHeight, &encHeight_);
  number(kBaseBitRate, &baseBitRate_);
  number(kEnBitRate, &enBitRate_);
  number(kBaseFrameRate, &baseFrameRate_);
  number(kEnFrameRate, &enFrameRate_);
  number(kIFrameInterval, &iFrameInterval_);
  number(kMediaOut, &mediaOut_);
  number(kStreamOut, &streamOut_);
  number(kSourceType, &sourceType_);
  number(kEncPreviewType, &encPreviewType_);
  number(kBandwidth, &bandwidth_);
  number(kContentVersion, &contentVersion_);
  number(kMaxDuration, &maxDuration_);
  number(kUnitDuration, &unitDuration_);
  number(kMaxSize, &maxSize_);
  number(kBFullSearch, &bFullSearch_);
  number(kBEnableFixedIFrame, &bEnableFixedIFrame_);
  number(kBEncodeDownloadOnly, &bEncodeDownloadOnly_);
  number(kBFileOut, &bFileOut_);
  number(kEnableSecurityCheck, &enableSecurityCheck_);
  number(kBMultiplePass, &bMultiplePass_);
  number(kBClientNoAudio, &bClientNoAudio_);
  number(kBEnableVideoRandomPositioning, &bEnableVideoRandomPositioning_);
  number(kBEnableRandomPositioning, &bEnableRandomPositioning_);
  SetText(&outputFileName_, StoredText(kOutputFileName, records_));
  SetText(&srcFileName_, StoredText(kSrcFileName, records_));
  SetText(&profileName_, StoredText(kProfileName, records_));
  SetText(&profileDescription_, StoredText(kProfileDescription, records_));
  SetText(&scratchDisk_, StoredText(kScratchDisk, records_));
}

void CKRActiveCtrl::OnResetState() {
  // The engine's values arrive when it is bound; until then they are zero.
  records_ = mediaengine::KRSettingsRecords{};
  settings_.sourceValid = false;
  settings_.ReloadWorkingSettings();
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, folder);
  StoreText(kOutputFileName, U16(folder, wcslen(folder)) + u"\\Output_default.mp4", records_);
  StoreText(kProfileName, LoadText(kDefaultProfileTextId), records_);
  PropertiesFromRecords();
  encoding_ = VARIANT_FALSE;
  capWidth_ = 160;
  capHeight_ = 120;
  enableSkin_ = VARIANT_TRUE;
  enableDragandDrop_ = VARIANT_FALSE;
  guiMode_ = 15;
  contextMenuSettings_ = 15;
  buttonMode_ = 7;
  backColor_ = 0;
  allowSelfResize_ = VARIANT_TRUE;
  statRefreshRate_ = 500;
  statWindowDuration_ = 5000;
  accepted_ = {{kCapWidth, capWidth_}, {kCapHeight, capHeight_}, {kStatRefreshRate, statRefreshRate_},
               {kStatWindowDuration, statWindowDuration_}};
  customDisplay_ = false;
  displayShown_ = false;
  runState_ = 0;
  EnableFileDrops(false);
}

void CKRActiveCtrl::OnEncPreviewTypeChanged() {
  if (encPreviewType_ != 0)
    guiMode_ = static_cast<SHORT>(guiMode_ | 1);
  else
    guiMode_ = static_cast<SHORT>(guiMode_ & ~1);
  // The display element shows again at the next layout.
  displayShown_ = false;
}

void CKRActiveCtrl::OnGuiModeChanged() {
  if (!(guiMode_ & 1) && encPreviewType_ != 0) {
    encPreviewType_ = 0;
    StoreNumber(kEncPreviewType, 0, records_);
    OnEncPreviewTypeChanged();
  }
  Layout();
}

void CKRActiveCtrl::Layout() {
  displayShown_ = (guiMode_ & 1) != 0;
  InvalidateControl();
}

void CKRActiveCtrl::OnDraw(HDC dc, const RECT& bounds, const RECT&) {
  COLORREF fill = RGB(0, 0, 0);
  OleTranslateColor(backColor_, nullptr, &fill);
  win::FillSolid(dc, bounds, fill);
}

void CKRActiveCtrl::ReportError(HRESULT code) {
  const std::wstring text = Wide(ErrorMessage(code, &LoadText, RecordText(records_.output.outputFileName),
                                              RecordText(records_.output.stillImageFileName)));
  FireEvent(kEventKRError, olectl::EventArgs().Add(LONG{code}).Add(text.c_str()).Add(L"").Add(LONG{0}));
}

void CKRActiveCtrl::OnButtonDown(SHORT button, WPARAM keys, POINT p) {
  const SHORT shift = ShiftAlone(keys);
  FireEvent(olectl::kEventClick, olectl::EventArgs().Add(button).Add(shift).Add(LONG{p.x}).Add(LONG{p.y}));
  if (button == 2 && !shift) ShowContextMenu();
}

void CKRActiveCtrl::ShowContextMenu() {
  const unsigned keep = ContextMenuEntries(runState_, contextMenuSettings_);
  if (!keep || !ControlWindow()) return;  // no entry: no empty menu
  HMENU bar = LoadMenuW(atl::CurrentModule().Instance(), MAKEINTRESOURCEW(IDR_CONTEXTMENU));
  if (!bar) return;
  HMENU popup = GetSubMenu(bar, 0);
  const unsigned order[] = {kMenuProperties, kMenuSeparator, kMenuPreview, kMenuStart, kMenuStop};
  for (int i = 4; i >= 0; --i)
    if (!(keep & order[i])) DeleteMenu(popup, static_cast<UINT>(i), MF_BYPOSITION);
  POINT cursor = {};
  GetCursorPos(&cursor);
  TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, ControlWindow(), nullptr);
  DestroyMenu(bar);
}

void CKRActiveCtrl::OnDropFiles(const std::vector<std::wstring>& files, POINT client) {
  if (enableDragandDrop_ == VARIANT_FALSE) return;
  LONG remaining = static_cast<LONG>(files.size());
  for (const std::wstring& file : files)
    FireEvent(kEventDropFiles,
              olectl::EventArgs().Add(--remaining).Add(file.c_str()).Add(LONG{client.x}).Add(LONG{client.y}));
}

HRESULT CKRActiveCtrl::SetPortNumber(olectl::DispArgs& a) {
  const LONG rtsp = a.Long(0);
  if (rtsp < 1 || rtsp > 7999) {
    ReportError(kInvalidValue);
    return kInvalidValue;
  }
  records_.output.rtspPort = rtsp;
  records_.output.rtpPort = static_cast<uint32_t>(a.Long(1));
  records_.output.rtcpPort = static_cast<uint32_t>(a.Long(2));
  return S_OK;
}

HRESULT CKRActiveCtrl::GetPortNumber(olectl::DispArgs& a) {
  SetLong(a.Out(0), records_.output.rtspPort);
  SetLong(a.Out(1), static_cast<LONG>(records_.output.rtpPort));
  SetLong(a.Out(2), static_cast<LONG>(records_.output.rtcpPort));
  return S_OK;
}

HRESULT CKRActiveCtrl::SetClientTimeOut(olectl::DispArgs& a) {
  records_.output.clientInterval = a.Long(0);
  records_.output.clientReportCount = a.Long(1);
  records_.output.clientIdleTime = a.Long(2);
  return S_OK;
}

HRESULT CKRActiveCtrl::GetClientTimeOut(olectl::DispArgs& a) {
  atl::ComPtr<IKRMediaConfig> config;
  if (!engine_ || FAILED(engine_->QueryInterface(IID_IKRMediaConfig, config.OutVoid()))) {
    ReportError(kInterfaceNotFound);
    return kInterfaceNotFound;
  }
  const HRESULT hr = config->GetConfigOutput(&records_.output);
  SetLong(a.Out(0), records_.output.clientInterval);
  SetLong(a.Out(1), records_.output.clientReportCount);
  SetLong(a.Out(2), records_.output.clientIdleTime);
  return hr;
}

HRESULT CKRActiveCtrl::GrantConnection(olectl::DispArgs& a) {
  atl::ComPtr<IGrantConnection> grant;
  if (!engine_ || FAILED(engine_->QueryInterface(IID_IGrantConnection, grant.OutVoid()))) {
    ReportError(kInterfaceNotFound);
    return kInterfaceNotFound;
  }
  return grant->GrantConnection(a.Long(0), a.Bool(1) ? TRUE : FALSE);
}

// A named procedure: a lambda does not convert to the stdcall DLGPROC of
// the 32-bit target.
INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

void CKRActiveCtrl::AboutBox() {
  DialogBoxParamW(atl::CurrentModule().Instance(), MAKEINTRESOURCEW(IDD_ABOUTBOX), ControlWindow(), &AboutProc, 0);
}

CKRActivePropPage::CKRActivePropPage() : PropertyPage(IDD_PROPPAGE, L"General") {}

namespace {
const struct {
  int control;
  DISPID id;
} kPageFields[] = {{IDC_PAGE_WIDTH, kEncWidth}, {IDC_PAGE_HEIGHT, kEncHeight}, {IDC_PAGE_BITRATE, kBaseBitRate}};
}  // namespace

void CKRActivePropPage::OnRead(IDispatch* object) {
  for (const auto& f : kPageFields) {
    atl::Variant v;
    if (SUCCEEDED(GetProperty(object, f.id, v.Out())) && SUCCEEDED(v.ChangeType(VT_I4)))
      SetDlgItemInt(Dialog(), f.control, static_cast<UINT>(V_I4(&v.Get())), TRUE);
  }
}

HRESULT CKRActivePropPage::OnApply(IDispatch* object) {
  for (const auto& f : kPageFields) {
    BOOL ok = FALSE;
    const UINT value = GetDlgItemInt(Dialog(), f.control, &ok, TRUE);
    if (!ok) return E_INVALIDARG;
    HRESULT hr = PutProperty(object, f.id, atl::Variant(static_cast<LONG>(value)).Get());
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}
