// The locale and text helpers that the authoring application and the
// authoring control share: one LocaleHelpers per module, started once and
// stopped at the end. The rules are in scrivel/locale_rules.h; this is the
// platform around them (MLang, charset translation, the locale's formats,
// font families, edit and Rich Edit windows). Text is UTF-16.
#pragma once

#include <windows.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "scrivel/locale_rules.h"

struct IMultiLanguage;
struct IMLangCodePages;

namespace scrivel {

class LocaleHelpers {
 public:
  LocaleHelpers() = default;
  LocaleHelpers(const LocaleHelpers&) = delete;
  LocaleHelpers& operator=(const LocaleHelpers&) = delete;
  ~LocaleHelpers() { Stop(); }

  // COM, MLang (absent when any step fails), the face choice among the
  // three table faces, the number and time formats of `locale`.
  void Start(const std::array<std::u16string, 3>& faces, LCID locale = LOCALE_USER_DEFAULT);
  // Releases MLang and undoes Start's COM initialisation.
  void Stop();

  // The full names of the screen's font families, every character set, in
  // the order the platform enumerates them.
  static std::vector<std::u16string> FontFamilies();

  bool HasCodePageService() const { return codePages_ != nullptr; }
  const FaceChoice& Face() const { return face_; }
  const NumberFormat& Format() const { return format_; }
  const std::u16string& TimeSeparator() const { return timeSeparator_; }

  // The default ANSI code page of the keyboard layout's locale.
  static UINT KeyboardCodePage();
  // GDI character set of a code page (0 when none) and back (1252 when none).
  static BYTE CharsetOfCodePage(UINT codePage);
  static UINT CodePageOfCharset(BYTE charset);
  static BYTE KeyboardCharset() { return CharsetOfCodePage(KeyboardCodePage()); }
  // The code page a text needs most; 1252 without MLang.
  UINT CodePageOfText(std::u16string_view text);

  // The locale's number formatting with no decimals: 0 and the text, or the
  // platform's error and the text untouched.
  DWORD FormatNumber(long value, std::u16string* text) const;
  std::u16string FormatTimeSpan(int64_t seconds, std::u16string_view prefix = {},
                                std::u16string_view suffix = {}) const;
  std::u16string FormatTimeSpanDays(int64_t seconds, std::u16string_view prefix = {},
                                    std::u16string_view suffix = {}) const;

  // Numbers typed in an edit control (see ReadWholeNumber and
  // ReadDecimalNumber in locale_rules.h).
  FieldRead ReadWholeNumber(HWND edit, int32_t* value) const;
  FieldRead ReadDecimalNumber(HWND edit, bool allowThousands, double* value) const;

  // Rich Edit 2.0: enabled with the window colour, disabled with the 3-D
  // face colour (call again on WM_SYSCOLORCHANGE).
  static void EnableRichEdit(HWND richEdit, bool enable);
  // Puts the text with the character set of its code page (answered) as the
  // default and, when not empty, on all text; notifications and drawing are
  // held meanwhile. The text goes in as UTF-16, so every script survives.
  UINT SetRichEditText(HWND richEdit, std::u16string_view text);
  // At most `limit` characters of the control's text.
  static std::u16string GetRichEditText(HWND richEdit, size_t limit);

  static void SetPlainText(HWND window, std::u16string_view text);
  static std::u16string GetPlainText(HWND window);

 private:
  bool comStarted_ = false;
  IMultiLanguage* multiLanguage_ = nullptr;
  IMLangCodePages* codePages_ = nullptr;
  FaceChoice face_;
  NumberFormat format_;
  std::u16string timeSeparator_ = u":";
};

}  // namespace scrivel
