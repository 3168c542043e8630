// Dialogs from templates on the window layer: notification handlers by
// control id and code, data exchange, and our own modal loop, in which the
// dialog objects from the focused control outwards see each key (Enter,
// Escape, F1) before the dialog manager does.
//
//   class NameDialog : public dlg::Dialog {
//    public:
//     NameDialog() : Dialog(module, IDD_NAME) { OnClicked(IDC_CLEAR, [this] { Clear(); }); }
//     std::wstring name;
//    protected:
//     void DoDataExchange(dlg::DataExchange& dx) override { dx.Text(IDC_NAME, name, 255); }
//   };
//   if (NameDialog d; d.DoModal(owner) == IDOK) Use(d.name);
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <string>
#include <utility>

#include "dialogs/exchange.h"
#include "window/window.h"

namespace dlg {

// The command the loop sends the outermost window when no dialog object
// took F1 (the framework's help command).
inline constexpr UINT kHelpCommand = 57670;

// A window made from a dialog template of `module`, with handlers for its
// controls' notifications.
class DialogBase : public win::Window {
 public:
  DialogBase(HINSTANCE module, UINT templateId);
  HINSTANCE Module() const { return module_; }
  UINT TemplateId() const { return templateId_; }
  HWND Item(int id) const { return GetDlgItem(Handle(), id); }

  // Moves values between the fields and the controls (DoDataExchange).
  // Saving assigns nothing when a value is refused: the focus goes to its
  // control, OnExchangeFailed tells the user, and the result is false.
  bool UpdateData(bool save);
  // Gives a control of this dialog the keyboard focus, as the dialog
  // manager does (an edit's text is selected).
  void FocusItem(int id);
  // The id of the control with the keyboard focus, 0 when none has it.
  static int FocusedId();

  // Control notifications by id (WM_COMMAND codes).
  void OnNotification(int id, WORD code, std::function<void()> run) { commands_[{id, code}] = std::move(run); }
  void OnClicked(int id, std::function<void()> run) { OnNotification(id, BN_CLICKED, std::move(run)); }
  void OnChange(int id, std::function<void()> run) { OnNotification(id, EN_CHANGE, std::move(run)); }
  void OnKillFocus(int id, std::function<void()> run) { OnNotification(id, EN_KILLFOCUS, std::move(run)); }
  void OnSelChange(int id, std::function<void()> run) { OnNotification(id, CBN_SELCHANGE, std::move(run)); }
  // WM_NOTIFY by id and code; the handler's answer goes back to the sender.
  void OnNotify(int id, UINT code, std::function<LRESULT(NMHDR*)> run) { notifies_[{id, code}] = std::move(run); }
  // An arrow step of an up-down control: the handler says whether the
  // control may change its position.
  void OnDeltaPos(int id, std::function<bool(const NMUPDOWN&)> allow);

  // A key the modal loop offers this dialog before the dialog manager
  // (Enter, Escape, F1 and the others); true when it was taken.
  virtual bool PreTranslateKey(UINT /*vk*/) { return false; }
  // The dialog object of a window made by this layer, or null.
  static DialogBase* FromHandle(HWND window);

 protected:
  // WM_INITDIALOG: loads the fields into the controls; true lets the
  // dialog manager set the focus.
  virtual bool OnInitDialog();
  virtual void DoDataExchange(DataExchange& /*dx*/) {}
  // Tells the user why a value was refused (a warning box over the dialog).
  virtual void OnExchangeFailed(const ExchangeFailure& failure);
  // A command no notification handler took (IDOK, IDCANCEL, menus).
  virtual bool OnCommandId(WORD /*id*/, WORD /*code*/) { return false; }
  // Makes the window from the template as a modeless window of `parent`.
  bool CreateWindowFromTemplate(HWND parent);

 private:
  LRESULT OnCommandMessage(WPARAM wParam, LPARAM lParam);
  LRESULT OnNotifyMessage(LPARAM lParam);

  HINSTANCE module_;
  UINT templateId_;
  std::map<std::pair<int, WORD>, std::function<void()>> commands_;
  std::map<std::pair<int, UINT>, std::function<LRESULT(NMHDR*)>> notifies_;
};

// A modal dialog: centred on its owner, which is disabled while it runs.
class Dialog : public DialogBase {
 public:
  using DialogBase::DialogBase;
  // Runs the dialog; the result given to EndDialog, or -1 when the
  // template could not be made.
  INT_PTR DoModal(HWND owner);
  void EndDialog(INT_PTR result);

 protected:
  // OK saves the fields and closes only when every value was accepted.
  virtual void OnOK();
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // F1 that no control took, with the focused control's id (0 if none).
  virtual void OnHelp(int /*focusedId*/) {}
  bool OnCommandId(WORD id, WORD code) override;

 private:
  bool ended_ = false;
  INT_PTR result_ = IDCANCEL;
};

// Runs the thread's messages until `*ended` turns true. Keys for windows
// inside `root` go first to the dialog objects from the focused window
// outwards, then to the dialog manager of `root`; F1 that none took
// becomes kHelpCommand at `root`. A WM_QUIT ends the loop and is posted
// again for the caller's loop.
void RunModalLoop(HWND root, const bool* ended);

// Places a top-level window in the middle of `over` (or of the work area
// when there is none or it is hidden), kept inside the work area.
void CenterWindow(HWND window, HWND over);

// Text `id` of the module's string table, filled printf-style (%s takes
// wide text).
std::wstring FormatText(HINSTANCE module, UINT id, ...);
std::wstring FormatString(const wchar_t* format, ...);
// Message boxes with texts from the string table or given.
int MessageBoxText(HWND owner, const std::wstring& text, const std::wstring& caption, UINT type);
int MessageBoxId(HWND owner, HINSTANCE module, UINT textId, UINT captionId, UINT type);

}  // namespace dlg
