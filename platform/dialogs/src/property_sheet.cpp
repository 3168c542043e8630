#include "dialogs/property_sheet.h"

#include <algorithm>

#include "window/gdi.h"

namespace dlg {

namespace {

const wchar_t kSheetClass[] = L"KrPropertySheet";
constexpr UINT kTabsId = 0x3020;
constexpr int kMargin = 7, kButtonWidth = 75, kButtonHeight = 23, kButtonGap = 6;

// What the sheet needs of a page's template before the page has a window:
// its size in dialog units and its caption.
struct TemplateFacts {
  bool found = false;
  int cx = 0, cy = 0;
  std::wstring caption;
};

TemplateFacts ReadTemplate(HINSTANCE module, UINT id) {
  TemplateFacts facts;
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(5));  // RT_DIALOG
  HGLOBAL loaded = resource ? LoadResource(module, resource) : nullptr;
  const auto* words = loaded ? static_cast<const WORD*>(LockResource(loaded)) : nullptr;
  const size_t count = resource ? SizeofResource(module, resource) / sizeof(WORD) : 0;
  if (!words || count < 13) return facts;
  // DLGTEMPLATEEX starts with version 1 and 0xFFFF; the old form has the
  // size at words 7 and 8 and its strings from word 9.
  const bool extended = words[0] == 1 && words[1] == 0xFFFF;
  size_t at = extended ? 11 : 7;
  facts.cx = static_cast<short>(words[at]);
  facts.cy = static_cast<short>(words[at + 1]);
  at += 2;
  for (int skip = 0; skip < 2 && at < count; ++skip) {  // menu, window class
    if (words[at] == 0xFFFF)
      at += 2;
    else
      while (at < count && words[at++] != 0) {}
  }
  while (at < count && words[at] != 0) facts.caption.push_back(static_cast<wchar_t>(words[at++]));
  facts.found = at < count;
  return facts;
}

void SetFontOn(HWND window, HFONT font) {
  if (window) SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
}

}  // namespace

PropertyPage::PropertyPage(HINSTANCE module, UINT templateId, UINT captionId)
    : DialogBase(module, templateId), captionId_(captionId) {}

std::wstring PropertyPage::Caption() const {
  if (captionId_) return win::LoadText(Module(), captionId_);
  return ReadTemplate(Module(), TemplateId()).caption;
}

void PropertyPage::PressSheetButton(int id) {
  HWND root = GetAncestor(Handle(), GA_ROOT);
  SendMessageW(root, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(root, id)));
}

PropSheet::PropSheet() : PropSheet(std::wstring()) {}

PropSheet::PropSheet(std::wstring caption) : caption_(std::move(caption)) {
  On(WM_ERASEBKGND, [this](WPARAM w, LPARAM) -> LRESULT {
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(reinterpret_cast<HDC>(w), &r, GetSysColorBrush(COLOR_3DFACE));
    return 1;
  });
  On(WM_NOTIFY, [this](WPARAM, LPARAM l) -> LRESULT {
    LRESULT result = 0;
    const auto* header = reinterpret_cast<const NMHDR*>(l);
    if (header->hwndFrom == tabs_) OnTabNotify(*header, &result);
    return result;
  });
  On(WM_COMMAND, [this](WPARAM w, LPARAM) -> LRESULT {
    if (embedded_) return 0;
    switch (LOWORD(w)) {
      case IDOK: OnOK(); break;
      case IDCANCEL: OnCancel(); break;
      case kHelpCommand: OnHelp(DialogBase::FocusedId()); break;
      default: break;
    }
    return 0;
  });
  On(WM_CLOSE, [this](WPARAM, LPARAM) -> LRESULT {
    if (!embedded_) OnCancel();
    return 0;
  });
  // Enter with no default button of a page's own presses OK.
  On(DM_GETDEFID, [this](WPARAM, LPARAM) -> LRESULT { return embedded_ ? 0 : MAKELONG(IDOK, DC_HASDEFID); });
  // The next opening starts where this one started.
  On(WM_DESTROY, [this](WPARAM, LPARAM) -> LRESULT {
    tabs_ = nullptr;
    active_ = start_;
    return 0;
  });
}

void PropSheet::AddPage(PropertyPage* page) {
  page->sheet_ = this;
  pages_.push_back(page);
  if (tabs_) {
    std::wstring caption = page->Caption();
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageW(tabs_, TCM_INSERTITEMW, pages_.size() - 1, reinterpret_cast<LPARAM>(&item));
  }
}

void PropSheet::SetControlFont(HFONT font) {
  font_ = font;
  if (!Handle()) return;
  HFONT use = font_ ? font_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
  SetFontOn(tabs_, use);
  SetFontOn(GetDlgItem(Handle(), IDOK), use);
  SetFontOn(GetDlgItem(Handle(), IDCANCEL), use);
}

RECT PropSheet::PageArea() const {
  RECT area = {0, 0, 0, 0};
  if (!tabs_) return area;
  GetClientRect(tabs_, &area);
  SendMessageW(tabs_, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
  MapWindowPoints(tabs_, Handle(), reinterpret_cast<POINT*>(&area), 2);
  return area;
}

bool PropSheet::Build(HWND parent, const RECT& rect, bool embedded, UINT id) {
  if (pages_.empty()) return false;
  INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
  embedded_ = embedded;
  active_ = std::clamp(active_, 0, static_cast<int>(pages_.size()) - 1);
  start_ = active_;
  const bool made =
      embedded ? Create(kSheetClass, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, parent,
                        rect, L"", id)
               : Create(kSheetClass, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                        WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT, parent, RECT{0, 0, 200, 200}, caption_.c_str());
  if (!made) return false;
  RECT client;
  GetClientRect(Handle(), &client);
  // Pages lie over the tab strip's display area; the strip must not paint
  // over them.
  tabs_ = CreateWindowExW(0, WC_TABCONTROLW, L"",
                          WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_CLIPSIBLINGS | TCS_SINGLELINE | (embedded ? TCS_BOTTOM : 0),
                          0, 0, client.right, client.bottom, Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(kTabsId)),
                          GetModuleHandleW(nullptr), nullptr);
  if (!tabs_) return false;
  if (!embedded) {
    CreateWindowExW(0, L"BUTTON", L"OK", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, kButtonWidth,
                    kButtonHeight, Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDOK)), GetModuleHandleW(nullptr), nullptr);
    CreateWindowExW(0, L"BUTTON", L"Cancel", WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 0, 0, kButtonWidth,
                    kButtonHeight, Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(IDCANCEL)), GetModuleHandleW(nullptr), nullptr);
  }
  SetControlFont(font_);
  for (size_t i = 0; i < pages_.size(); ++i) {
    std::wstring caption = pages_[i]->Caption();
    TCITEMW item = {};
    item.mask = TCIF_TEXT;
    item.pszText = caption.data();
    SendMessageW(tabs_, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
  }
  // The first page's window gives the dialog units of every template.
  PropertyPage* first = pages_[static_cast<size_t>(active_)];
  if (!first->CreateWindowFromTemplate(Handle())) return false;
  page_ = {0, 0};
  for (PropertyPage* page : pages_) {
    TemplateFacts facts = ReadTemplate(page->Module(), page->TemplateId());
    RECT size = {0, 0, facts.cx, facts.cy};
    MapDialogRect(first->Handle(), &size);
    page_.cx = std::max(page_.cx, size.right);
    page_.cy = std::max(page_.cy, size.bottom);
  }
  Layout();
  SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(active_), 0);
  return ShowPage(active_);
}

void PropSheet::Layout() {
  if (embedded_) {
    RECT client;
    GetClientRect(Handle(), &client);
    SetWindowPos(tabs_, nullptr, 0, 0, client.right, client.bottom, SWP_NOZORDER | SWP_NOACTIVATE);
    return;
  }
  RECT strip = {0, 0, page_.cx, page_.cy};
  SendMessageW(tabs_, TCM_ADJUSTRECT, TRUE, reinterpret_cast<LPARAM>(&strip));
  const int stripWidth = strip.right - strip.left, stripHeight = strip.bottom - strip.top;
  const int width = stripWidth + 2 * kMargin;
  const int buttonsTop = kMargin + stripHeight + kMargin;
  const int height = buttonsTop + kButtonHeight + kMargin;
  SetWindowPos(tabs_, nullptr, kMargin, kMargin, stripWidth, stripHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(GetDlgItem(Handle(), IDCANCEL), nullptr, width - kMargin - kButtonWidth, buttonsTop, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(GetDlgItem(Handle(), IDOK), nullptr, width - kMargin - 2 * kButtonWidth - kButtonGap, buttonsTop, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT frame = {0, 0, width, height};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
  SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool PropSheet::ShowPage(int index) {
  PropertyPage* page = Page(static_cast<size_t>(index));
  if (!page) return false;
  if (!page->Handle() && !page->CreateWindowFromTemplate(Handle())) return false;
  PropertyPage* previous = ActivePage();
  active_ = index;
  SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  RECT area = PageArea();
  SetWindowPos(page->Handle(), HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
               SWP_NOACTIVATE);
  page->OnSetActive();
  ShowWindow(page->Handle(), SW_SHOW);
  if (previous && previous != page && previous->Handle()) ShowWindow(previous->Handle(), SW_HIDE);
  return true;
}

bool PropSheet::LeaveActivePage() {
  PropertyPage* page = ActivePage();
  return !page || !page->Handle() || page->OnKillActive();
}

bool PropSheet::SetActivePage(int index) {
  if (index < 0 || static_cast<size_t>(index) >= pages_.size()) return false;
  if (!tabs_) {
    active_ = index;
    return true;
  }
  PropertyPage* page = ActivePage();
  if (index == active_ && page && page->Handle() && IsWindowVisible(page->Handle())) return true;
  if (!LeaveActivePage()) {
    SendMessageW(tabs_, TCM_SETCURSEL, static_cast<WPARAM>(active_), 0);
    return false;
  }
  return ShowPage(index);
}

void PropSheet::OnTabNotify(const NMHDR& header, LRESULT* result) {
  switch (header.code) {
    case TCN_SELCHANGING:
      *result = LeaveActivePage() ? FALSE : TRUE;  // TRUE keeps the tab
      break;
    case TCN_SELCHANGE:
      ShowPage(static_cast<int>(SendMessageW(tabs_, TCM_GETCURSEL, 0, 0)));
      break;
    default:
      break;
  }
}

bool PropSheet::CreateEmbedded(HWND parent, const RECT& rect, UINT id) { return Build(parent, rect, true, id); }

INT_PTR PropSheet::DoModal(HWND owner) {
  if (running_ || Handle()) return -1;
  HWND top = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
  const bool ownerWasEnabled = top && IsWindowEnabled(top);
  ended_ = false;
  result_ = IDCANCEL;
  running_ = true;
  if (ownerWasEnabled) EnableWindow(top, FALSE);
  if (Build(top, RECT{}, false, 0)) {
    CenterWindow(Handle(), top);
    ShowWindow(Handle(), SW_SHOW);
    // The first control of the page takes the focus, as in a dialog.
    HWND first = GetNextDlgTabItem(ActivePage()->Handle(), nullptr, FALSE);
    SetFocus(first ? first : tabs_);
    RunModalLoop(Handle(), &ended_);
  } else {
    result_ = -1;
  }
  if (ownerWasEnabled) EnableWindow(top, TRUE);
  if (Handle()) {
    if (top && GetActiveWindow() == Handle()) SetActiveWindow(top);
    Destroy();
  }
  running_ = false;
  return result_;
}

void PropSheet::OnOK() {
  if (!LeaveActivePage()) return;
  for (PropertyPage* page : pages_)
    if (page->Handle()) page->OnOK();
  EndSheet(IDOK);
}

void PropSheet::OnCancel() {
  for (PropertyPage* page : pages_)
    if (page->Handle()) page->OnCancel();
  EndSheet(IDCANCEL);
}

void PropSheet::EndSheet(INT_PTR result) {
  result_ = result;
  ended_ = true;
  if (Handle()) PostMessageW(Handle(), WM_NULL, 0, 0);
}

}  // namespace dlg
