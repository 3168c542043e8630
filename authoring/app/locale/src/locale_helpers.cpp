#include "scrivel/locale_helpers.h"

#include <mlang.h>
#include <objbase.h>
#include <richedit.h>

#include <cwchar>
#include <vector>

namespace scrivel {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

namespace {

const wchar_t* W(std::u16string_view text) { return reinterpret_cast<const wchar_t*>(text.data()); }

std::u16string U(const wchar_t* text, size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

// A locale value as text (at most `max` characters with the terminator).
std::u16string LocaleText(LCID locale, LCTYPE type, int max) {
  std::vector<wchar_t> buffer(static_cast<size_t>(max), L'\0');
  const int n = GetLocaleInfoW(locale, type, buffer.data(), max);
  return n > 1 ? U(buffer.data(), static_cast<size_t>(n - 1)) : std::u16string();
}

int LocaleNumber(LCID locale, LCTYPE type, int fallback) {
  const std::u16string text = LocaleText(locale, type, 16);
  if (text.empty()) return fallback;
  return static_cast<int>(std::wcstol(W(text), nullptr, 10));
}

// MLang's code-page service for the rules' walk.
class MLangService : public CodePageService {
 public:
  explicit MLangService(IMLangCodePages* codePages) : codePages_(codePages) {}
  bool RunCodePages(std::u16string_view rest, uint32_t* mask, size_t* runLength) override {
    DWORD pages = 0;
    LONG run = 0;
    const LONG count = rest.size() > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<LONG>(rest.size());
    if (FAILED(codePages_->GetStrCodePages(W(rest), count, 0, &pages, &run)) || run < 0) return false;
    *mask = pages;
    *runLength = static_cast<size_t>(run);
    return true;
  }
  bool MaskToCodePage(uint32_t mask, unsigned* codePage) override {
    UINT page = 0;
    if (FAILED(codePages_->CodePagesToCodePage(mask, 0, &page))) return false;
    *codePage = page;
    return true;
  }

 private:
  IMLangCodePages* codePages_;
};

struct FamilyList {
  std::vector<std::u16string> names;
};

int CALLBACK OnFamilyEx(const LOGFONTW* font, const TEXTMETRICW*, DWORD, LPARAM param) {
  const auto* ex = reinterpret_cast<const ENUMLOGFONTEXW*>(font);
  auto* list = reinterpret_cast<FamilyList*>(param);
  const wchar_t* full = ex->elfFullName;
  list->names.push_back(U(full, wcsnlen(full, LF_FULLFACESIZE)));
  return 1;
}

}  // namespace

std::vector<std::u16string> LocaleHelpers::FontFamilies() {
  FamilyList list;
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return list.names;
  LOGFONTW all{};
  all.lfCharSet = DEFAULT_CHARSET;  // every character set
  EnumFontFamiliesExW(screen, &all, reinterpret_cast<FONTENUMPROCW>(OnFamilyEx), reinterpret_cast<LPARAM>(&list), 0);
  ReleaseDC(nullptr, screen);
  return list.names;
}

namespace {

// Holds a rich edit's notifications and drawing for the length of a change.
class QuietRichEdit {
 public:
  explicit QuietRichEdit(HWND window)
      : window_(window), mask_(SendMessageW(window, EM_SETEVENTMASK, 0, 0)) {
    SendMessageW(window_, WM_SETREDRAW, FALSE, 0);
  }
  ~QuietRichEdit() {
    SendMessageW(window_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(window_, nullptr, TRUE);
    SendMessageW(window_, EM_SETEVENTMASK, 0, mask_);
  }

 private:
  HWND window_;
  LRESULT mask_;
};

}  // namespace

void LocaleHelpers::Start(const std::array<std::u16string, 3>& faces, LCID locale) {
  Stop();
  const HRESULT init = CoInitialize(nullptr);
  comStarted_ = SUCCEEDED(init);
  IID multiLanguageId{}, codePagesId{};
  CLSID classId{};
  if (SUCCEEDED(IIDFromString(L"{275C23E1-3747-11D0-9FEA-00AA003F8646}", &multiLanguageId)) &&
      SUCCEEDED(CLSIDFromString(L"{275C23E2-3747-11D0-9FEA-00AA003F8646}", &classId)) &&
      SUCCEEDED(CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, multiLanguageId,
                                 reinterpret_cast<void**>(&multiLanguage_))) &&
      SUCCEEDED(IIDFromString(L"{359F3443-BD4A-11D0-B188-00AA0038C969}", &codePagesId))) {
    if (FAILED(multiLanguage_->QueryInterface(codePagesId, reinterpret_cast<void**>(&codePages_)))) {
      codePages_ = nullptr;
    }
  }
  face_ = ChooseFace(faces, FontFamilies());

  format_.leadingZero = LocaleNumber(locale, LOCALE_ILZERO, 1) != 0;
  // The grouping text's leading number ("3;0" groups by three).
  format_.grouping = static_cast<unsigned>(LocaleNumber(locale, LOCALE_SGROUPING, 3));
  format_.decimalSeparator = LocaleText(locale, LOCALE_SDECIMAL, 4);
  format_.thousandsSeparator = LocaleText(locale, LOCALE_STHOUSAND, 4);
  format_.negativeOrder = LocaleNumber(locale, LOCALE_INEGNUMBER, 1);
  const std::u16string separator = LocaleText(locale, LOCALE_STIME, 4);
  timeSeparator_ = separator.empty() ? u":" : separator;
}

void LocaleHelpers::Stop() {
  if (codePages_) {
    codePages_->Release();
    codePages_ = nullptr;
  }
  if (multiLanguage_) {
    multiLanguage_->Release();
    multiLanguage_ = nullptr;
  }
  if (comStarted_) {
    CoUninitialize();
    comStarted_ = false;
  }
}

UINT LocaleHelpers::KeyboardCodePage() {
  const LANGID language = LOWORD(reinterpret_cast<UINT_PTR>(GetKeyboardLayout(0)));
  const int page = LocaleNumber(MAKELCID(language, SORT_DEFAULT), LOCALE_IDEFAULTANSICODEPAGE, 0);
  return page > 0 ? static_cast<UINT>(page) : GetACP();
}

BYTE LocaleHelpers::CharsetOfCodePage(UINT codePage) {
  CHARSETINFO info{};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(codePage)), &info, TCI_SRCCODEPAGE)) return 0;
  return static_cast<BYTE>(info.ciCharset);
}

UINT LocaleHelpers::CodePageOfCharset(BYTE charset) {
  CHARSETINFO info{};
  if (!TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(charset)), &info, TCI_SRCCHARSET)) {
    return kFallbackCodePage;
  }
  return info.ciACP;
}

UINT LocaleHelpers::CodePageOfText(std::u16string_view text) {
  if (!codePages_) return kFallbackCodePage;
  MLangService service(codePages_);
  return scrivel::CodePageOfText(text, &service);
}

DWORD LocaleHelpers::FormatNumber(long value, std::u16string* text) const {
  wchar_t digits[24];
  std::swprintf(digits, 24, L"%ld", value);
  std::u16string decimal = format_.decimalSeparator, thousands = format_.thousandsSeparator;
  NUMBERFMTW format{};
  format.NumDigits = 0;
  format.LeadingZero = format_.leadingZero ? 1 : 0;
  format.Grouping = format_.grouping;
  format.lpDecimalSep = const_cast<wchar_t*>(W(decimal.c_str()));
  format.lpThousandSep = const_cast<wchar_t*>(W(thousands.c_str()));
  format.NegativeOrder = static_cast<UINT>(format_.negativeOrder);
  wchar_t out[50];
  const int n = GetNumberFormatW(LOCALE_USER_DEFAULT, 0, digits, &format, out, 50);
  if (n <= 0) return GetLastError();
  *text = U(out, static_cast<size_t>(n - 1));
  return 0;
}

std::u16string LocaleHelpers::FormatTimeSpan(int64_t seconds, std::u16string_view prefix,
                                             std::u16string_view suffix) const {
  return scrivel::FormatTimeSpan(seconds, timeSeparator_, prefix, suffix);
}

std::u16string LocaleHelpers::FormatTimeSpanDays(int64_t seconds, std::u16string_view prefix,
                                                 std::u16string_view suffix) const {
  return scrivel::FormatTimeSpanDays(seconds, timeSeparator_, prefix, suffix);
}

FieldRead LocaleHelpers::ReadWholeNumber(HWND edit, int32_t* value) const {
  return scrivel::ReadWholeNumber(GetPlainText(edit), value);
}

FieldRead LocaleHelpers::ReadDecimalNumber(HWND edit, bool allowThousands, double* value) const {
  return scrivel::ReadDecimalNumber(GetPlainText(edit), format_, allowThousands, value);
}

void LocaleHelpers::EnableRichEdit(HWND richEdit, bool enable) {
  EnableWindow(richEdit, enable ? TRUE : FALSE);
  SendMessageW(richEdit, EM_SETBKGNDCOLOR, 0, GetSysColor(enable ? COLOR_WINDOW : COLOR_3DFACE));
}

UINT LocaleHelpers::SetRichEditText(HWND richEdit, std::u16string_view text) {
  const UINT codePage = CodePageOfText(text);
  const std::u16string terminated(text);
  QuietRichEdit quiet(richEdit);
  CHARFORMAT2W format{};
  format.cbSize = sizeof format;
  format.dwMask = CFM_CHARSET;
  format.bCharSet = CharsetOfCodePage(codePage);
  SendMessageW(richEdit, EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&format));
  // UTF-16 in: a text of several scripts loses nothing to one code page.
  SETTEXTEX how{ST_DEFAULT, 1200};
  if (!SendMessageW(richEdit, EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how), reinterpret_cast<LPARAM>(terminated.c_str()))) {
    SetWindowTextW(richEdit, W(terminated));
  }
  if (!text.empty()) SendMessageW(richEdit, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
  return codePage;
}

std::u16string LocaleHelpers::GetRichEditText(HWND richEdit, size_t limit) {
  GETTEXTLENGTHEX length{GTL_NUMCHARS | GTL_PRECISE, 1200};
  const LRESULT n = SendMessageW(richEdit, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
  if (n <= 0 || limit == 0) return std::u16string();
  const size_t wanted = static_cast<size_t>(n) < limit ? static_cast<size_t>(n) : limit;
  std::vector<wchar_t> buffer(wanted + 1, L'\0');
  GETTEXTEX get{};
  get.cb = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  get.flags = GT_DEFAULT;
  get.codepage = 1200;
  const LRESULT got = SendMessageW(richEdit, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                                   reinterpret_cast<LPARAM>(buffer.data()));
  if (got <= 0) return std::u16string();
  return U(buffer.data(), wcsnlen(buffer.data(), wanted));
}

void LocaleHelpers::SetPlainText(HWND window, std::u16string_view text) {
  SetWindowTextW(window, W(std::u16string(text)));
}

std::u16string LocaleHelpers::GetPlainText(HWND window) {
  const int n = GetWindowTextLengthW(window);
  if (n <= 0) return std::u16string();
  std::vector<wchar_t> buffer(static_cast<size_t>(n) + 1, L'\0');
  const int got = GetWindowTextW(window, buffer.data(), n + 1);
  return U(buffer.data(), got > 0 ? static_cast<size_t>(got) : 0);
}

}  // namespace scrivel
