#include "appframe/frame.h"

#include "appframe/app.h"
#include "window/gdi.h"

namespace appf {

namespace {

// A status bar pane as the item of its command id.
class PaneCmdUI : public CmdUI {
 public:
  PaneCmdUI(StatusBar* bar, size_t pane, UINT id) : CmdUI(id), bar_(bar), pane_(pane) {}
  void SetText(const std::wstring& text) override {
    CmdUI::SetText(text);
    if (bar_->Text(pane_) != text) bar_->SetText(pane_, text);
  }

 private:
  StatusBar* bar_;
  size_t pane_;
};

}  // namespace

FrameWindow::FrameWindow() { InstallHandlers(); }

FrameWindow::~FrameWindow() {
  Destroy();
  if (menu_ && !menuOwned_) DestroyMenu(menu_);
  if (icon_) DestroyIcon(icon_);
}

void FrameWindow::InstallHandlers() {
  On(WM_CREATE, [this](WPARAM, LPARAM) -> LRESULT {
    // The window owns its menu from here on and destroys it with itself.
    if (menu_ && SetMenu(Handle(), menu_)) menuOwned_ = true;
    if (icon_) {
      SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
      SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));
    }
    SetWindowTextW(Handle(), programName_.c_str());
    if (!OnCreateFrame()) return -1;
    if (context_ && !OnCreateClient(*context_)) return -1;
    RecalcLayout();
    return 0;
  });
  On(WM_COMMAND, [this](WPARAM w, LPARAM l) -> LRESULT {
    UINT id = LOWORD(w), code = HIWORD(w);
    if (l != 0 && code != 0) return 0;  // a control's notification, not a command
    RouteCommandId(id);
    return 0;
  });
  On(WM_INITMENUPOPUP, [this](WPARAM w, LPARAM l) -> LRESULT {
    if (!HIWORD(l)) UpdateMenuItems(Route(), reinterpret_cast<HMENU>(w));
    return 0;
  });
  On(WM_SIZE, [this](WPARAM w, LPARAM) -> LRESULT {
    if (w != SIZE_MINIMIZED) RecalcLayout();
    return 0;
  });
  On(WM_SETFOCUS, [this](WPARAM, LPARAM) -> LRESULT {
    if (activeView_ && activeView_->Handle()) SetFocus(activeView_->Handle());
    return 0;
  });
  On(WM_CLOSE, [this](WPARAM, LPARAM) -> LRESULT {
    if (OnCloseQuery()) DestroyWindow(Handle());
    return 0;
  });
  On(WM_QUERYENDSESSION, [this](WPARAM, LPARAM) -> LRESULT { return OnQueryEndSession() ? TRUE : FALSE; });
  On(WM_ENDSESSION, [this](WPARAM w, LPARAM) -> LRESULT {
    OnEndSession(w != FALSE);
    return 0;
  });
  On(WM_DESTROY, [this](WPARAM, LPARAM) -> LRESULT {
    Application* app = Application::Current();
    if (app && app->MainFrame() == this) PostQuitMessage(0);
    return 0;
  });
}

bool FrameWindow::LoadFrame(HINSTANCE module, UINT resourceId, CreateContext* context, const wchar_t* className,
                            DWORD style, const RECT* rect) {
  const wchar_t* name = MAKEINTRESOURCEW(resourceId);
  if (!menu_) menu_ = LoadMenuW(module, name);
  if (!accelerators_) accelerators_ = LoadAcceleratorsW(module, name);
  if (!icon_) icon_ = static_cast<HICON>(LoadImageW(module, name, IMAGE_ICON, 0, 0, LR_DEFAULTSIZE));
  std::wstring text = win::LoadText(module, resourceId);
  programName_ = text.substr(0, text.find(L'\n'));
  context_ = context;
  const RECT byDefault = {CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT + 640, CW_USEDEFAULT + 480};
  bool made = Create(className && *className ? className : kDefaultClass, style & ~WS_VISIBLE, 0, nullptr,
                     rect ? *rect : byDefault);
  context_ = nullptr;
  return made;
}

bool FrameWindow::OnCreateClient(CreateContext& context) {
  if (!context.newView) return true;
  std::unique_ptr<View> view = context.newView();
  if (!view) return false;
  RECT client;
  GetClientRect(Handle(), &client);
  if (!view->CreateView(Handle(), client, kIdPaneFirst, context.document, this)) return false;
  SetActiveView(AdoptView(std::move(view)));
  return true;
}

View* FrameWindow::AdoptView(std::unique_ptr<View> view) {
  views_.push_back(std::move(view));
  return views_.back().get();
}

void FrameWindow::ActivateFrame(int show) {
  ShowWindow(Handle(), show);
  UpdateWindow(Handle());
}

bool FrameWindow::PreTranslateMessage(MSG* message) {
  if (!accelerators_ || message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return false;
  return TranslateAcceleratorW(Handle(), accelerators_, message) != 0;
}

void FrameWindow::InitialUpdateFrame(Document* document, int show) {
  document_ = document;
  if (document) {
    std::vector<View*> views = document->Views();
    for (View* view : views) view->OnInitialUpdate();
    if (!activeView_ && !views.empty()) activeView_ = views.front();
  }
  UpdateTitle();
  ActivateFrame(show);
}

Document* FrameWindow::ActiveDocument() const {
  if (activeView_ && activeView_->GetDocument()) return activeView_->GetDocument();
  return document_;
}

std::vector<CommandTarget*> FrameWindow::Route() const {
  return {activeView_, ActiveDocument(), const_cast<FrameWindow*>(this), Application::Current()};
}

void FrameWindow::RecalcLayout() {
  if (!Handle()) return;
  RECT client;
  GetClientRect(Handle(), &client);
  int bottom = client.bottom;
  if (status_.Handle()) {
    status_.Layout();
    bottom -= status_.Height();
  }
  if (HWND pane = GetDlgItem(Handle(), static_cast<int>(kIdPaneFirst)))
    MoveWindow(pane, 0, 0, client.right, bottom > 0 ? bottom : 0, TRUE);
}

void FrameWindow::OnIdleUpdate() {
  if (!status_.Handle()) return;
  for (size_t i = 0; i < status_.PaneCount(); ++i) {
    UINT id = status_.PaneCommand(i);
    if (!id) continue;
    PaneCmdUI ui(&status_, i, id);
    RouteUpdate(Route(), ui);
  }
}

void FrameWindow::UpdateTitle() {
  if (!Handle()) return;
  Document* document = ActiveDocument();
  std::wstring title = programName_;
  if (document && !document->Title().empty())
    title = programName_.empty() ? document->Title() : document->Title() + L" - " + programName_;
  SetWindowTextW(Handle(), title.c_str());
}

}  // namespace appf
