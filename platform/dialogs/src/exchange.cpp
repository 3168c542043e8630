#include "dialogs/exchange.h"

#include <cerrno>
#include <cstdlib>
#include <cwctype>
#include <vector>

#include "dialogs/dialog.h"

namespace dlg {

std::wstring ExchangeFailure::Message() const {
  switch (kind) {
    case Kind::kWholeNumber:
      return ranged ? FormatString(L"Please enter a whole number between %ld and %ld.", static_cast<long>(low),
                                   static_cast<long>(high))
                    : std::wstring(L"Please enter a whole number.");
    case Kind::kDecimal:
      return ranged ? FormatString(L"Please enter a number between %g and %g.", low, high)
                    : std::wstring(L"Please enter a number.");
    case Kind::kTooLong:
      return FormatString(L"Please enter no more than %ld characters.", static_cast<long>(high));
    case Kind::kNone:
      break;
  }
  return std::wstring();
}

std::wstring DataExchange::ControlText(int id) const {
  HWND control = Control(id);
  int length = control ? GetWindowTextLengthW(control) : 0;
  std::vector<wchar_t> text(static_cast<size_t>(length) + 1);
  if (control) GetWindowTextW(control, text.data(), length + 1);
  return std::wstring(text.data());
}

void DataExchange::Fail(ExchangeFailure::Kind kind, int id, double low, double high, bool ranged) {
  failure_ = ExchangeFailure{kind, id, low, high, ranged};
}

void DataExchange::Text(int id, std::wstring& value, size_t maxChars) {
  if (Failed()) return;
  if (!save_) {
    SetDlgItemTextW(dialog_, id, value.c_str());
    return;
  }
  std::wstring text = ControlText(id);
  if (maxChars && text.size() > maxChars) return Fail(ExchangeFailure::Kind::kTooLong, id, 0, double(maxChars), true);
  if (assign_) value = text;
}

namespace {

// Blanks around a number are what a user leaves by accident; anything
// else after it refuses the whole text.
std::wstring Trimmed(const std::wstring& text) {
  size_t first = 0, last = text.size();
  while (first < last && std::iswspace(text[first])) ++first;
  while (last > first && std::iswspace(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

void DataExchange::Number(int id, long& value, long low, long high) {
  if (Failed()) return;
  const bool ranged = low != LONG_MIN || high != LONG_MAX;
  if (!save_) {
    SetDlgItemTextW(dialog_, id, FormatString(L"%ld", value).c_str());
    return;
  }
  std::wstring text = Trimmed(ControlText(id));
  size_t digits = (!text.empty() && (text[0] == L'-' || text[0] == L'+')) ? 1 : 0;
  bool valid = text.size() > digits;
  for (size_t i = digits; valid && i < text.size(); ++i) valid = text[i] >= L'0' && text[i] <= L'9';
  long parsed = 0;
  if (valid) {
    errno = 0;
    parsed = std::wcstol(text.c_str(), nullptr, 10);
    valid = errno != ERANGE && parsed >= low && parsed <= high;
  }
  if (!valid) return Fail(ExchangeFailure::Kind::kWholeNumber, id, double(low), double(high), ranged);
  if (assign_) value = parsed;
}

void DataExchange::Decimal(int id, double& value, double low, double high, const wchar_t* format) {
  if (Failed()) return;
  if (!save_) {
    SetDlgItemTextW(dialog_, id, FormatString(format, value).c_str());
    return;
  }
  std::wstring text = Trimmed(ControlText(id));
  wchar_t* end = nullptr;
  errno = 0;
  double parsed = text.empty() ? 0 : std::wcstod(text.c_str(), &end);
  // wcstod also reads "inf" and "nan", which no field means.
  bool valid = !text.empty() && end && *end == L'\0' && errno != ERANGE && parsed == parsed &&
               parsed >= low && parsed <= high;
  if (!valid) return Fail(ExchangeFailure::Kind::kDecimal, id, low, high, true);
  if (assign_) value = parsed;
}

void DataExchange::Check(int id, int& state) {
  if (Failed()) return;
  if (save_) {
    if (assign_) state = static_cast<int>(IsDlgButtonChecked(dialog_, id));
  } else {
    CheckDlgButton(dialog_, id, static_cast<UINT>(state));
  }
}

void DataExchange::Radio(int firstId, int& index) {
  if (Failed()) return;
  if (save_ && !assign_) return;
  HWND button = Control(firstId);
  if (save_) index = -1;
  for (int i = 0; button; ++i) {
    if (save_) {
      if (index < 0 && SendMessageW(button, BM_GETCHECK, 0, 0) == BST_CHECKED) index = i;
    } else {
      SendMessageW(button, BM_SETCHECK, i == index ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    button = GetWindow(button, GW_HWNDNEXT);
    if (!button || (GetWindowLongPtrW(button, GWL_STYLE) & WS_GROUP)) break;
  }
}

void DataExchange::ComboIndex(int id, int& index) {
  if (Failed()) return;
  if (save_) {
    if (assign_) index = static_cast<int>(SendDlgItemMessageW(dialog_, id, CB_GETCURSEL, 0, 0));
  } else {
    SendDlgItemMessageW(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
}

}  // namespace dlg
