// The frame window: the program's main window with its menu, accelerators,
// icon and caption from one resource id, a status bar, a client area that
// holds one view or a splitter, and the command route view, document,
// frame, application.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "appframe/command.h"
#include "appframe/status_bar.h"
#include "appframe/view.h"
#include "window/window.h"

namespace appf {

class Application;

// What the frame's client creation needs: the document and the view class
// of the template.
struct CreateContext {
  Document* document = nullptr;
  std::function<std::unique_ptr<View>()> newView;
};

class FrameWindow : public CommandTarget, public win::Window {
 public:
  // Commands go by the route, not by the window's own table.
  using CommandTarget::OnCommand;

  static constexpr const wchar_t* kDefaultClass = L"KrAppFrame";

  FrameWindow();
  ~FrameWindow() override;

  // Creates the (hidden) frame: menu, accelerators and icon of `resourceId`
  // (each optional), the caption's program name from the first line of
  // string `resourceId`, the window class `className` (one the caller
  // registered with win::Window::ClassProcedure, or the default), then
  // OnCreateFrame and OnCreateClient.
  bool LoadFrame(HINSTANCE module, UINT resourceId, CreateContext* context, const wchar_t* className = kDefaultClass,
                 DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, const RECT* rect = nullptr);

  // Hooks. OnCreateFrame runs while the window is created (status bar
  // here); false fails the creation. OnCreateClient makes the client
  // window (by default one view of the context's class).
  virtual bool OnCreateFrame() { return true; }
  virtual bool OnCreateClient(CreateContext& context);
  // The framework's request to show the frame; a frame that stays hidden
  // until the application shows it overrides this.
  virtual void ActivateFrame(int show);
  // WM_CLOSE: false keeps the window.
  virtual bool OnCloseQuery() { return true; }
  virtual bool OnQueryEndSession() { return OnCloseQuery(); }
  virtual void OnEndSession(bool ending) { (void)ending; }
  // Messages on their way to the frame or its children: accelerators.
  virtual bool PreTranslateMessage(MSG* message);

  // Initial update of the document's views, caption, then ActivateFrame.
  void InitialUpdateFrame(Document* document, int show);

  void SetActiveView(View* view) { activeView_ = view; }
  View* ActiveView() const { return activeView_; }
  Document* ActiveDocument() const;
  // View, its document, frame, application.
  std::vector<CommandTarget*> Route() const;
  // A command from the menu, an accelerator or a child: only while its
  // update handler (if any) says it is enabled.
  bool RouteCommandId(UINT id) { return RouteEnabledCommand(Route(), id); }

  StatusBar& Status() { return status_; }
  bool CreateStatusBar(const std::vector<int>& widths) { return status_.Create(Handle(), widths); }
  // Pane 0's text.
  void SetMessageText(const std::wstring& text) { status_.SetText(0, text); }
  // The status bar at the bottom and the client child (id 0xE900) in the
  // rest.
  void RecalcLayout();
  // Status bar panes bound to command ids take their update handlers.
  void OnIdleUpdate();
  // "document title - program name", or the program name alone.
  void UpdateTitle();
  const std::wstring& ProgramName() const { return programName_; }
  HACCEL Accelerators() const { return accelerators_; }

  // Views made by the default client creation live as long as the frame.
  View* AdoptView(std::unique_ptr<View> view);

 private:
  void InstallHandlers();

  StatusBar status_;
  View* activeView_ = nullptr;
  Document* document_ = nullptr;
  std::wstring programName_;
  HMENU menu_ = nullptr;
  bool menuOwned_ = false;
  HACCEL accelerators_ = nullptr;
  HICON icon_ = nullptr;
  CreateContext* context_ = nullptr;
  bool clientFailed_ = false;
  std::vector<std::unique_ptr<View>> views_;
};

}  // namespace appf
