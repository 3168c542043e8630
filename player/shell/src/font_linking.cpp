#include "shell/font_linking.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ansi_text.h"
#include "shell/portable/code_pages.h"
#include "shell/win_api_table.h"

namespace {

const GUID kClsidMultiLanguage = {0x275C23E2, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
const GUID kIidMultiLanguage = {0x275C23E1, 0x3747, 0x11D0, {0x9F, 0xEA, 0x00, 0xAA, 0x00, 0x3F, 0x86, 0x46}};
const GUID kIidFontLink = {0x359F3441, 0xBD4A, 0x11D0, {0xB1, 0x88, 0x00, 0xAA, 0x00, 0x38, 0xC9, 0x69}};
const GUID kIidCodePages = {0x359F3443, 0xBD4A, 0x11D0, {0xB1, 0x88, 0x00, 0xAA, 0x00, 0x38, 0xC9, 0x69}};

IMultiLanguage* g_multiLanguage = nullptr;
IMLangFontLink* g_fontLink = nullptr;
IMLangCodePages* g_codePages = nullptr;
bool g_comStarted = false;
uint32_t g_installedCodePages = 1;
FontLinkRecord* g_records[kWindowTextSlots] = {};

FontLinkRecord* AddRecord(HWND window) {
  for (FontLinkRecord*& slot : g_records) {
    if (!slot) {
      slot = new FontLinkRecord{};
      slot->window = window;
      return slot;
    }
  }
  return nullptr;
}

FontLinkRecord* FindRecord(HWND window) {
  for (FontLinkRecord* r : g_records)
    if (r && r->window == window) return r;
  return nullptr;
}

void RemoveRecord(HWND window) {
  for (FontLinkRecord*& slot : g_records) {
    if (slot && slot->window == window) {
      if (slot->font && slot->font != slot->initialFont) DeleteObject(slot->font);
      delete slot;
      slot = nullptr;
      return;
    }
  }
}

template <typename T>
void ReleaseInterface(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

// Code page of the current keyboard layout's language, for the 9x mode's
// conversions of a window's text; 0 (the system ANSI code page) when unknown.
void KeyboardCharsetInfo(CHARSETINFO* info) {
  const LANGID language = LOWORD(reinterpret_cast<UINT_PTR>(GetKeyboardLayout(0)));
  const UINT codePage = LocaleAnsiCodePage(MAKELCID(language, SORT_DEFAULT));
  if (codePage == 0 ||
      !TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(codePage)), info, TCI_SRCCODEPAGE))
    *info = CHARSETINFO{};
}

struct FaceSearch {
  bool found;
  LOGFONTW font;
};

int CALLBACK FirstFontW(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM data) {
  auto* search = reinterpret_cast<FaceSearch*>(data);
  search->font = *font;
  search->found = true;
  return 0;
}

int CALLBACK FirstFontA(const LOGFONTA* font, const TEXTMETRICA*, DWORD, LPARAM data) {
  auto* search = reinterpret_cast<FaceSearch*>(data);
  LOGFONTW& w = search->font;
  std::memcpy(&w, font, offsetof(LOGFONTA, lfFaceName));
  AnsiToWide(WinApiLayer().uiCodePage, font->lfFaceName, -1, w.lfFaceName, LF_FACESIZE);
  search->found = true;
  return 0;
}

bool FindFace(HDC dc, const std::wstring& face, LOGFONTW* out) {
  FaceSearch search = {};
  if (IsWin9xMode()) {
    AnsiArg name(face.c_str(), false, WinApiLayer().uiCodePage);
    EnumFontsA(dc, name.get(), FirstFontA, reinterpret_cast<LPARAM>(&search));
  } else {
    EnumFontsW(dc, face.c_str(), FirstFontW, reinterpret_cast<LPARAM>(&search));
  }
  if (search.found) *out = search.font;
  return search.found;
}

}  // namespace

void StartFontLinking() {
  g_installedCodePages = 1;
  if (!g_multiLanguage && !g_fontLink && !g_codePages && SUCCEEDED(CoInitialize(nullptr))) {
    g_comStarted = true;
    void* unknown = nullptr;
    if (SUCCEEDED(CoCreateInstance(kClsidMultiLanguage, nullptr, CLSCTX_INPROC_SERVER, kIidMultiLanguage,
                                   &unknown))) {
      g_multiLanguage = static_cast<IMultiLanguage*>(unknown);
      void* p = nullptr;
      if (SUCCEEDED(g_multiLanguage->QueryInterface(kIidFontLink, &p))) g_fontLink = static_cast<IMLangFontLink*>(p);
      p = nullptr;
      if (SUCCEEDED(g_multiLanguage->QueryInterface(kIidCodePages, &p)))
        g_codePages = static_cast<IMLangCodePages*>(p);
    }
  }
  FindInstalledCodePages();
}

void StopFontLinking() {
  ReleaseInterface(g_codePages);
  if (g_fontLink) g_fontLink->ResetFontMapping();
  ReleaseInterface(g_fontLink);
  ReleaseInterface(g_multiLanguage);
  if (g_comStarted) CoUninitialize();
  g_comStarted = false;
}

void UseMLangForTesting(IMultiLanguage* multiLanguage, IMLangFontLink* fontLink, IMLangCodePages* codePages) {
  ReleaseInterface(g_codePages);
  ReleaseInterface(g_fontLink);
  ReleaseInterface(g_multiLanguage);
  if (multiLanguage) multiLanguage->AddRef();
  if (fontLink) fontLink->AddRef();
  if (codePages) codePages->AddRef();
  g_multiLanguage = multiLanguage;
  g_fontLink = fontLink;
  g_codePages = codePages;
}

void StartWindowTextTable() {
  for (FontLinkRecord*& slot : g_records) slot = nullptr;
}

void StopWindowTextTable() {
  for (FontLinkRecord*& slot : g_records) {
    if (slot && slot->font && slot->font != slot->initialFont) DeleteObject(slot->font);
    delete slot;
    slot = nullptr;
  }
}

int AttachFontLinking(HWND window, const wchar_t* faceList) {
  if (!window) return 0;
  FontLinkRecord* record = AddRecord(window);
  if (!record) return 0;
  const WinApiTable& api = WinApi();
  record->previousProc = reinterpret_cast<WNDPROC>(
      api.SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FontLinkWindowProc)));
  record->initialFont = reinterpret_cast<HFONT>(api.SendMessageW(window, WM_GETFONT, 0, 0));
  HFONT font = record->initialFont;
  if (!font) {
    HDC dc = GetDC(window);
    LOGFONTW lf = {};
    MakeDefaultLogFont(&lf, dc, 10);
    font = CreateFontFromFaceList(faceList, dc, &lf);
    ReleaseDC(window, dc);
  }
  record->font = font;
  record->currentFont = font;
  if (IsWin9xMode()) KeyboardCharsetInfo(&record->charsetInfo);

  HFONT linked = font;
  if (!IsWin9xMode()) {
    HDC dc = GetDC(window);
    linked = FontForCodePages(dc, font, g_installedCodePages);
    ReleaseDC(window, dc);
  }
  // The font is applied with the text emptied and put back, so what the
  // window already holds is redrawn in the new font, not lost.
  record->currentFont = linked;
  std::vector<wchar_t> text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
  api.SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L""));
  api.SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(linked), 1);
  if (text[0]) api.SetWindowTextW(window, text.data());
  return 1;
}

LRESULT CALLBACK FontLinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const WinApiTable& api = WinApi();
  FontLinkRecord* record = FindRecord(window);
  if (!record) return api.DefWindowProcW(window, message, wParam, lParam);
  const WNDPROC previous = record->previousProc;
  switch (message) {
    case WM_DESTROY:
      api.SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous));
      RemoveRecord(window);
      return api.CallWindowProcW(previous, window, message, wParam, lParam);
    case WM_INPUTLANGCHANGEREQUEST: {
      const uint32_t set = LocaleCodePageSet(MAKELCID(LOWORD(static_cast<UINT_PTR>(lParam)), SORT_DEFAULT));
      HDC dc = GetDC(window);
      const bool covers = FontCoversCodePages(dc, record->currentFont, set);
      ReleaseDC(window, dc);
      if (!covers) return 0;
      break;
    }
    case WM_INPUTLANGCHANGE:
      TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(wParam)), &record->charsetInfo,
                           TCI_SRCCHARSET);
      break;
    default:
      break;
  }
  return api.CallWindowProcW(previous, window, message, wParam, lParam);
}

int GetWindowTextCompat(HWND window, wchar_t* buffer, int capacity) {
  if (!buffer || capacity <= 0) return 0;
  if (!IsWin9xMode())
    return static_cast<int>(SendMessageW(window, WM_GETTEXT, static_cast<WPARAM>(capacity),
                                         reinterpret_cast<LPARAM>(buffer)));
  const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0) + 1;
  std::vector<char> ansi(static_cast<size_t>(length) + 1, '\0');
  SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(length), reinterpret_cast<LPARAM>(ansi.data()));
  // A window without a record reads in the system ANSI code page.
  const FontLinkRecord* record = FindRecord(window);
  const UINT codePage = record ? record->charsetInfo.ciACP : 0;
  return AnsiToWide(codePage, ansi.data(), -1, buffer, capacity) - 1;
}

const FontLinkRecord* FindFontLinkRecord(HWND window) { return FindRecord(window); }

int AttachedWindowCount() {
  int n = 0;
  for (FontLinkRecord* r : g_records) n += r ? 1 : 0;
  return n;
}

bool FontCoversCodePages(HDC dc, HFONT font, uint32_t set) {
  if (!IsWin9xMode()) {
    DWORD fontSet = 0;
    if (!g_fontLink || FAILED(g_fontLink->GetFontCodePages(dc, font, &fontSet))) return false;
    return (fontSet & set) == set;
  }
  HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
  TEXTMETRICA metrics = {};
  const bool ok = GetTextMetricsA(dc, &metrics);
  if (old) SelectObject(dc, old);
  return ok && metrics.tmCharSet == shell::CharsetOfCodePageBit(set);
}

HFONT FontForCodePages(HDC dc, HFONT font, uint32_t set) {
  if (FontCoversCodePages(dc, font, set)) return font;
  HFONT mapped = nullptr;
  // Mapped fonts belong to MLang and are released together at stop.
  if (g_fontLink && SUCCEEDED(g_fontLink->MapFont(dc, set, font, &mapped)) && mapped) return mapped;
  return font;
}

HFONT FontForText(HDC dc, HFONT font, const wchar_t* text) {
  if (!g_codePages || !text) return font;
  return FontForCodePages(dc, font, CodePageSetOf(TextCodePage(text)));
}

UINT TextCodePage(const wchar_t* text) {
  shell::CodePageCounter counter;
  if (g_codePages && text) {
    const long length = static_cast<long>(wcslen(text));
    long at = 0;
    while (at < length) {
      DWORD set = 0;
      long run = 0;
      if (FAILED(g_codePages->GetStrCodePages(text + at, length - at, 0, &set, &run))) break;
      // A run of nothing, or past the end, would never finish the walk.
      if (run <= 0 || run > length - at) break;
      counter.Add(static_cast<uint32_t>(run), set);
      at += run;
    }
  }
  return CodePageOfSet(counter.WinnerSet());
}

HFONT CreateFontFromFaceList(const wchar_t* faceList, HDC dc, LOGFONTW* record) {
  HDC screen = nullptr;
  if (!dc) dc = screen = GetDC(nullptr);
  LOGFONTW found = {};
  bool have = false;
  const std::wstring list = faceList ? faceList : L"";
  size_t start = 0;
  while (!have && start < list.size()) {
    size_t comma = list.find(L',', start);
    if (comma == std::wstring::npos) comma = list.size();
    const std::wstring face = list.substr(start, comma - start);
    if (!face.empty()) have = FindFace(dc, face, &found);
    start = comma + 1;
  }
  if (!have) {
    found = LOGFONTW{};
    WinApi().GetTextFaceW(dc, LF_FACESIZE, found.lfFaceName);
    found.lfFaceName[LF_FACESIZE - 1] = 0;
  }
  if (screen) ReleaseDC(nullptr, screen);
  found.lfHeight = record->lfHeight;
  found.lfWeight = record->lfWeight;
  found.lfWidth = 0;
  *record = found;
  return WinApi().CreateFontIndirectW(record);
}

void MakeDefaultLogFont(LOGFONTW* record, HDC dc, int points) {
  const int pixelsPerInch = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
  record->lfHeight = shell::DefaultLogFontHeight(pixelsPerInch, points, dc != nullptr);
  record->lfWidth = 0;
  record->lfEscapement = 0;
  record->lfOrientation = 0;
  record->lfWeight = FW_NORMAL;
  record->lfItalic = 0;
  record->lfUnderline = 0;
  record->lfStrikeOut = 0;
  record->lfCharSet = DEFAULT_CHARSET;
  record->lfOutPrecision = 0;
  record->lfClipPrecision = 0;
  record->lfQuality = 0;
  record->lfPitchAndFamily = 16;
}

void FindInstalledCodePages() {
  if (!g_multiLanguage) return;
  IEnumCodePage* list = nullptr;
  if (FAILED(g_multiLanguage->EnumCodePages(0x10020303, &list)) || !list) return;
  constexpr ULONG kBatch = 32;
  auto* records = static_cast<MIMECPINFO*>(CoTaskMemAlloc(sizeof(MIMECPINFO) * kBatch));
  if (records) {
    ULONG fetched = 0;
    do {
      fetched = 0;
      if (FAILED(list->Next(kBatch, records, &fetched))) break;
      for (ULONG i = 0; i < fetched && i < kBatch; ++i) {
        DWORD set = 0;
        if (g_codePages && SUCCEEDED(g_codePages->CodePageToCodePages(records[i].uiCodePage, &set)))
          g_installedCodePages |= set;
      }
    } while (fetched == kBatch);
    CoTaskMemFree(records);
  }
  list->Release();
}

uint32_t InstalledCodePages() { return g_installedCodePages; }

UINT LocaleAnsiCodePage(LCID locale) {
  if (IsWin9xMode()) {
    char number[7] = {};
    if (GetLocaleInfoA(locale, LOCALE_IDEFAULTANSICODEPAGE, number, 7) <= 0) return 0;
    return static_cast<UINT>(std::atoi(number));
  }
  wchar_t number[7] = {};
  if (GetLocaleInfoW(locale, LOCALE_IDEFAULTANSICODEPAGE, number, 7) <= 0) return 0;
  return static_cast<UINT>(std::wcstol(number, nullptr, 10));
}

uint32_t LocaleCodePageSet(LCID locale) { return CodePageSetOf(LocaleAnsiCodePage(locale)); }

uint32_t CodePageSetOf(UINT codePage) {
  DWORD set = 0;
  if (!g_codePages || FAILED(g_codePages->CodePageToCodePages(codePage, &set))) return 1;
  return set;
}

UINT CodePageOfSet(uint32_t set) {
  UINT codePage = 0;
  if (!g_codePages || FAILED(g_codePages->CodePagesToCodePage(set, 0, &codePage))) return 1252;
  return codePage;
}
