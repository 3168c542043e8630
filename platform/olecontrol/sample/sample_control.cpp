#include "sample_control.h"

#include <cwctype>
#include <string>

#include "resource.h"
#include "window/gdi.h"

const CLSID CLSID_SamplePage = {0x7C9C5CC8, 0xA3CE, 0x4E2A, {0x98, 0xFC, 0x69, 0x0D, 0xB6, 0xF8, 0x50, 0x6B}};

namespace {

const CLSID kPages[] = {CLSID_SamplePage};

constexpr SHORT kLevelMax = 100;
// The refusal the Error event reports (an automation error of facility 10,
// as the authoring control's are).
constexpr SCODE kLevelRefused = static_cast<SCODE>(0x800A03F3);

}  // namespace

const olectl::ControlClass& SampleControl::Class() {
  static const olectl::ControlClass info = {
      .clsid = &CLSID_SampleControl,
      .dispatch = &DIID__DSampleControl,
      .events = &DIID__DSampleControlEvents,
      .windowClass = L"KrSampleControl",
      .miscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE | OLEMISC_INSIDEOUT |
                    OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_SETCLIENTSITEFIRST,
      .size = {120, 80},
      .pages = kPages,
      .pageCount = 1,
  };
  return info;
}

SampleControl::SampleControl() : COleControl(Class()) {
  OnResetState();
  BindProperty(1, &level_, [this] { OnLevelChanged(); });
  BindProperty(2, &count_);
  BindProperty(3, &rate_);
  BindProperty(4, &caption_, [this] { InvalidateControl(); });
  BindBoolProperty(5, &enabled_);
  BindProperty(6, &backColor_, [this] { InvalidateControl(); });
  BindProperty(7, &note_, [this] {
    // The note is text: a number written to it is kept as its text.
    if (FAILED(note_.ChangeType(VT_BSTR))) note_ = atl::Variant(L"");
  });
  BindMethod(8, [this](olectl::DispArgs& a, VARIANT* r) { return Measure(a, r); });
  BindMethod(9, [this](olectl::DispArgs& a, VARIANT*) {
    FireEvent(1, olectl::EventArgs().Add(a.Long(0)).Add(a.Text(1)));
    return S_OK;
  });
  BindMethod(10, [this](olectl::DispArgs& a, VARIANT*) {
    if (a.Long(0) <= 0 || a.Long(1) <= 0) return E_INVALIDARG;
    SetControlSize(static_cast<int>(a.Long(0)), static_cast<int>(a.Long(1)));
    return S_OK;
  });
  BindMethod(11, [this](olectl::DispArgs& a, VARIANT*) {
    EnableFileDrops(a.Bool(0));
    return S_OK;
  });
  // The control's own Click: on the left button's press, after the stock
  // MouseDown.
  WindowHandlers().On(WM_LBUTTONDOWN, [this](WPARAM w, LPARAM l) -> LRESULT {
    POINT p = {static_cast<SHORT>(LOWORD(l)), static_cast<SHORT>(HIWORD(l))};
    ButtonDown(1, w, p);
    FireEvent(olectl::kEventClick, olectl::EventArgs().Add(SHORT{1}).Add(ShiftState(w)).Add(LONG{p.x}).Add(LONG{p.y}));
    return 0;
  });
}

void SampleControl::OnResetState() {
  level_ = acceptedLevel_ = 50;
  count_ = 0;
  rate_ = 1.0f;
  caption_ = atl::Bstr(L"Sample");
  enabled_ = VARIANT_TRUE;
  backColor_ = RGB(0x20, 0x60, 0xC0);
  note_ = atl::Variant(L"");
}

void SampleControl::OnLevelChanged() {
  if (level_ < 0 || level_ > kLevelMax) {
    level_ = acceptedLevel_;
    FireError(kLevelRefused, L"Level must lie between 0 and 100");
    return;
  }
  acceptedLevel_ = level_;
}

HRESULT SampleControl::Measure(olectl::DispArgs& a, VARIANT* result) {
  std::wstring text(a.Text(0), a.TextLength(0));
  std::wstring upper = text;
  LONG words = 0;
  bool inWord = false;
  for (wchar_t& c : upper) {
    c = static_cast<wchar_t>(std::towupper(c));
    bool space = std::iswspace(c) != 0;
    if (!space && !inWord) ++words;
    inWord = !space;
  }
  V_VT(a.Out(1)) = VT_I4;
  V_I4(a.Out(1)) = static_cast<LONG>(text.size());
  V_VT(a.Out(2)) = VT_BSTR;
  V_BSTR(a.Out(2)) = SysAllocStringLen(upper.data(), static_cast<UINT>(upper.size()));
  V_VT(a.Out(3)) = VT_I4;
  V_I4(a.Out(3)) = words;
  V_VT(result) = VT_I4;
  V_I4(result) = words;
  return S_OK;
}

void SampleControl::OnDraw(HDC dc, const RECT& bounds, const RECT&) {
  COLORREF fill = RGB(0, 0, 0);
  OleTranslateColor(backColor_, nullptr, &fill);
  win::FillSolid(dc, bounds, fill);
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

void SampleControl::AboutBox() {
  DialogBoxParamW(atl::CurrentModule().Instance(), MAKEINTRESOURCEW(IDD_SAMPLE_ABOUT), nullptr, &AboutProc, 0);
}

void SampleControl::OnDropFiles(const std::vector<std::wstring>& files, POINT client) {
  LONG remaining = static_cast<LONG>(files.size());
  for (const std::wstring& file : files)
    FireEvent(2, olectl::EventArgs().Add(--remaining).Add(file.c_str()).Add(LONG{client.x}).Add(LONG{client.y}));
}

SamplePage::SamplePage() : PropertyPage(IDD_SAMPLE_PAGE, L"Sample") {}

void SamplePage::OnRead(IDispatch* object) {
  atl::Variant caption, count;
  if (SUCCEEDED(GetProperty(object, 4, caption.Out())) && SUCCEEDED(caption.ChangeType(VT_BSTR)))
    SetDlgItemTextW(Dialog(), IDC_PAGE_CAPTION, V_BSTR(&caption.Get()) ? V_BSTR(&caption.Get()) : L"");
  if (SUCCEEDED(GetProperty(object, 2, count.Out())) && SUCCEEDED(count.ChangeType(VT_I4)))
    SetDlgItemInt(Dialog(), IDC_PAGE_COUNT, static_cast<UINT>(V_I4(&count.Get())), TRUE);
}

HRESULT SamplePage::OnApply(IDispatch* object) {
  wchar_t text[256] = {};
  GetDlgItemTextW(Dialog(), IDC_PAGE_CAPTION, text, 256);
  HRESULT hr = PutProperty(object, 4, atl::Variant(text).Get());
  if (FAILED(hr)) return hr;
  BOOL ok = FALSE;
  UINT count = GetDlgItemInt(Dialog(), IDC_PAGE_COUNT, &ok, TRUE);
  if (!ok) return E_INVALIDARG;
  return PutProperty(object, 2, atl::Variant(static_cast<LONG>(count)).Get());
}
