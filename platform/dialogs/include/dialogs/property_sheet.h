// Property sheets without Apply: a tab strip over pages made from their
// dialog templates (WS_CHILD | DS_CONTROL), OK and Cancel. A page reads its
// values when it becomes active and may refuse to be left; OK leaves the
// active page first, Cancel checks nothing. A sheet may also sit inside a
// page (a child control parent with its tabs at the bottom). A modal sheet
// runs the layer's modal loop, so that pages see Enter, Escape and F1
// before the sheet does.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "dialogs/dialog.h"
#include "window/window.h"

namespace dlg {

class PropSheet;

class PropertyPage : public DialogBase {
 public:
  // The tab shows string `captionId`, or the template's caption when 0.
  PropertyPage(HINSTANCE module, UINT templateId, UINT captionId = 0);
  std::wstring Caption() const;
  PropSheet* Sheet() const { return sheet_; }

  // The page becomes active: loads the fields into the controls.
  virtual bool OnSetActive() { return UpdateData(false); }
  // The page is about to be left (another page, or OK): false keeps it.
  virtual bool OnKillActive() { return UpdateData(true); }
  // The sheet closed with OK or Cancel (pages that have a window).
  virtual void OnOK() {}
  virtual void OnCancel() {}

  // Presses a button of the outermost sheet (IDOK, IDCANCEL) as the
  // button itself would: what a page does with Enter and Escape.
  void PressSheetButton(int id);

 private:
  friend class PropSheet;
  UINT captionId_;
  PropSheet* sheet_ = nullptr;
};

// (commctrl.h makes "PropertySheet" a macro, hence the short name.)
class PropSheet : public win::Window {
 public:
  PropSheet();
  explicit PropSheet(std::wstring caption);

  void SetCaption(std::wstring caption) { caption_ = std::move(caption); }
  // Pages are the caller's; a page belongs to one sheet.
  void AddPage(PropertyPage* page);
  size_t PageCount() const { return pages_.size(); }
  PropertyPage* Page(size_t index) const { return index < pages_.size() ? pages_[index] : nullptr; }
  int ActiveIndex() const { return active_; }
  PropertyPage* ActivePage() const { return Page(static_cast<size_t>(active_)); }

  // Before the sheet runs: the page it opens on (later runs open there
  // too, whichever page a run ended on).
  // While it runs: leaves the active page (which may refuse) and shows
  // this one. False when the page stayed.
  bool SetActivePage(int index);
  // Asks the active page whether it may be left, as OK does.
  bool LeaveActivePage();

  // Runs the sheet modally over `owner`: IDOK or IDCANCEL, -1 when it
  // could not be made.
  INT_PTR DoModal(HWND owner);
  // The sheet as a child of a page: WS_CHILD, WS_TABSTOP and
  // WS_EX_CONTROLPARENT, its tabs in one row at the bottom, no buttons.
  bool CreateEmbedded(HWND parent, const RECT& rect, UINT id);

  // The font of the tab strip and the buttons; null is the system's.
  void SetControlFont(HFONT font);
  HWND Tabs() const { return tabs_; }
  // The rectangle pages take, in the sheet's client coordinates.
  RECT PageArea() const;

 protected:
  // F1 that no page took, with the focused control's id (0 if none).
  virtual void OnHelp(int /*focusedId*/) {}
  // OK after the active page let itself be left.
  virtual void OnOK();
  virtual void OnCancel();
  void EndSheet(INT_PTR result);

 private:
  bool Build(HWND parent, const RECT& rect, bool embedded, UINT id);
  void Layout();
  bool ShowPage(int index);
  void OnTabNotify(const NMHDR& header, LRESULT* result);

  std::wstring caption_;
  std::vector<PropertyPage*> pages_;
  int active_ = 0;
  int start_ = 0;
  bool embedded_ = false;
  bool running_ = false;
  bool ended_ = false;
  INT_PTR result_ = IDCANCEL;
  HFONT font_ = nullptr;
  HWND tabs_ = nullptr;
  SIZE page_ = {0, 0};
};

}  // namespace dlg
