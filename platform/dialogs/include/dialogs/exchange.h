// Data exchange between a dialog's fields and its controls, one call per
// control in DoDataExchange: loading fills the controls, saving reads and
// checks them. A dialog saves in two passes: the first only checks (the
// first value refused stops it and is kept as the failure; the dialog then
// moves the focus to its control), the second assigns, so that a refused
// value leaves every field as it was.
#pragma once

#include <windows.h>

#include <string>

namespace dlg {

struct ExchangeFailure {
  enum class Kind { kNone, kWholeNumber, kDecimal, kTooLong };
  Kind kind = Kind::kNone;
  int controlId = 0;
  double low = 0, high = 0;  // the range asked for, when there is one
  bool ranged = false;
  // What the user is told, in English.
  std::wstring Message() const;
};

class DataExchange {
 public:
  DataExchange(HWND dialog, bool save, bool assign = true) : dialog_(dialog), save_(save), assign_(assign) {}
  bool Saving() const { return save_; }
  // False in the checking pass of a save: nothing is to be assigned.
  bool Assigning() const { return !save_ || assign_; }
  bool Failed() const { return failure_.kind != ExchangeFailure::Kind::kNone; }
  const ExchangeFailure& Failure() const { return failure_; }

  // Text; when saving, more than maxChars characters (0: any) is refused.
  void Text(int id, std::wstring& value, size_t maxChars = 0);
  // A whole number, optionally signed, within [low, high].
  void Number(int id, long& value, long low = LONG_MIN, long high = LONG_MAX);
  // A decimal number within [low, high], shown with `format` ("%.2f").
  void Decimal(int id, double& value, double low, double high, const wchar_t* format = L"%.2f");
  // A check box: BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE.
  void Check(int id, int& state);
  // A group of radio buttons from `firstId` to the next WS_GROUP: the
  // index of the checked one, -1 when none is.
  void Radio(int firstId, int& index);
  // The selected entry of a drop-down list, -1 when none is.
  void ComboIndex(int id, int& index);

 private:
  HWND Control(int id) const { return GetDlgItem(dialog_, id); }
  std::wstring ControlText(int id) const;
  void Fail(ExchangeFailure::Kind kind, int id, double low, double high, bool ranged);

  HWND dialog_;
  bool save_;
  bool assign_;
  ExchangeFailure failure_;
};

}  // namespace dlg
