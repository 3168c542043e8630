// Document and views. A view is a child window of a frame (or of a
// splitter pane) showing one document; a form view is a view made from a
// dialog template, whose controls may include hosted ActiveX controls
// (class AtlAxWin with the ProgID as text).
//
// A view keeps WM_COMMAND, WM_NOTIFY, WM_PAINT and WM_DESTROY for itself:
// use OnControl, OnNotify, OnDraw and OnDestroyView.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "appframe/command.h"
#include "appframe/dispatch_driver.h"
#include "appframe/event_sink.h"
#include "atl/owners.h"
#include "window/window.h"

namespace appf {

class FrameWindow;
class View;

class Document : public CommandTarget {
 public:
  // A new document is accepted as it is unless a subclass says otherwise.
  virtual bool OnNewDocument() { return true; }
  const std::wstring& Title() const { return title_; }
  // Also shown in the caption of every frame showing the document.
  void SetTitle(const std::wstring& title);
  const std::vector<View*>& Views() const { return views_; }
  void AddView(View* view);
  void RemoveView(View* view);

 private:
  std::wstring title_;
  std::vector<View*> views_;
};

class View : public CommandTarget, public win::Window {
 public:
  // Commands go by the route, not by the window's own table.
  using CommandTarget::OnCommand;

  View();
  ~View() override;

  // Creates the view's window as a child of `parent` with the child id
  // `id`, showing `document` inside `frame` (either may be null).
  virtual bool CreateView(HWND parent, const RECT& rect, UINT id, Document* document, FrameWindow* frame);
  Document* GetDocument() const { return document_; }
  FrameWindow* Frame() const { return frame_; }

  // Once, after the frame and all its views exist, before it is shown.
  virtual void OnInitialUpdate() {}
  // A message on its way to this view or a child of it, before it is
  // dispatched; true when the view took it.
  virtual bool PreTranslateMessage(MSG* message);
  // Painting of a plain view; a form view paints its controls.
  virtual void OnDraw(HDC dc, const RECT& client);
  // The window is being destroyed (its children still exist).
  virtual void OnDestroyView() {}

  // A notification of a child control (EN_CHANGE, ...) by id and code.
  // Clicks (code 0) and accelerators (1) travel as commands: view,
  // document, frame, application.
  void OnControl(UINT id, UINT code, std::function<void()> run) { controls_[{id, code}] = std::move(run); }
  void OnNotify(UINT id, UINT code, std::function<LRESULT(NMHDR*)> run) { notifies_[{id, code}] = std::move(run); }

  // Sinks advised here are unadvised when the view's window goes.
  void KeepSink(const atl::ComPtr<EventSink>& sink) { sinks_.push_back(sink); }

 protected:
  void Attach(Document* document, FrameWindow* frame);
  bool Route(UINT id);

 private:
  LRESULT OnCommandMessage(WPARAM wParam, LPARAM lParam);
  void Detach();

  Document* document_ = nullptr;
  FrameWindow* frame_ = nullptr;
  std::map<std::pair<UINT, UINT>, std::function<void()>> controls_;
  std::map<std::pair<UINT, UINT>, std::function<LRESULT(NMHDR*)>> notifies_;
  std::vector<atl::ComPtr<EventSink>> sinks_;
};

class FormView : public View {
 public:
  // The template of `module` must be a child (WS_CHILD | DS_CONTROL).
  FormView(HINSTANCE module, UINT templateId) : module_(module), templateId_(templateId) {}

  bool CreateView(HWND parent, const RECT& rect, UINT id, Document* document, FrameWindow* frame) override;
  // Dialog navigation (tab, arrows) among the form's controls.
  bool PreTranslateMessage(MSG* message) override;
  HWND Item(UINT id) const { return GetDlgItem(Handle(), static_cast<int>(id)); }

  // The control hosted by the AtlAxWin child `id` (with a reference).
  HRESULT HostedControl(UINT id, IUnknown** control) const;
  // Binds a dispatch driver to that control.
  HRESULT BindControl(UINT id, DispatchDriver* driver) const;
  // A sink for the control's events on the interface `events`, advised
  // now and unadvised when the view goes; handlers are added with On.
  HRESULT AdviseEvents(UINT id, const IID& events, atl::ComPtr<EventSink>* sink);

 private:
  HINSTANCE module_;
  UINT templateId_;
};

}  // namespace appf
