#include "appframe/view.h"

#include <algorithm>

#include "appframe/app.h"
#include "appframe/frame.h"
#include "window/control_host.h"

namespace appf {

void Document::SetTitle(const std::wstring& title) {
  title_ = title;
  std::vector<FrameWindow*> frames;
  for (View* view : views_)
    if (view->Frame() && std::find(frames.begin(), frames.end(), view->Frame()) == frames.end())
      frames.push_back(view->Frame());
  Application* app = Application::Current();
  if (app && app->MainFrame() && app->MainFrame()->ActiveDocument() == this &&
      std::find(frames.begin(), frames.end(), app->MainFrame()) == frames.end())
    frames.push_back(app->MainFrame());
  for (FrameWindow* frame : frames) frame->UpdateTitle();
}

void Document::AddView(View* view) {
  if (std::find(views_.begin(), views_.end(), view) == views_.end()) views_.push_back(view);
}

void Document::RemoveView(View* view) { views_.erase(std::remove(views_.begin(), views_.end(), view), views_.end()); }

View::View() {
  On(WM_COMMAND, [this](WPARAM w, LPARAM l) { return OnCommandMessage(w, l); });
  On(WM_NOTIFY, [this](WPARAM, LPARAM l) -> LRESULT {
    auto* header = reinterpret_cast<NMHDR*>(l);
    auto it = notifies_.find({static_cast<UINT>(header->idFrom), header->code});
    if (it == notifies_.end()) return 0;
    auto run = it->second;
    return run(header);
  });
  On(WM_DESTROY, [this](WPARAM, LPARAM) -> LRESULT {
    OnDestroyView();
    for (auto& sink : sinks_) sink->Unadvise();
    sinks_.clear();
    return 0;
  });
}

View::~View() {
  Destroy();
  Detach();
}

void View::Attach(Document* document, FrameWindow* frame) {
  Detach();
  document_ = document;
  frame_ = frame;
  if (document_) document_->AddView(this);
}

void View::Detach() {
  if (document_) document_->RemoveView(this);
  document_ = nullptr;
}

bool View::CreateView(HWND parent, const RECT& rect, UINT id, Document* document, FrameWindow* frame) {
  Attach(document, frame);
  On(WM_PAINT, [this](WPARAM, LPARAM) -> LRESULT {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(Handle(), &ps);
    RECT client;
    GetClientRect(Handle(), &client);
    OnDraw(dc, client);
    EndPaint(Handle(), &ps);
    return 0;
  });
  return Create(L"KrAppFrameView", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_CLIPSIBLINGS, 0, parent, rect, L"",
                id);
}

bool View::PreTranslateMessage(MSG*) { return false; }

void View::OnDraw(HDC dc, const RECT& client) { FillRect(dc, &client, GetSysColorBrush(COLOR_WINDOW)); }

bool View::Route(UINT id) {
  // A command that starts here (a button of the view) goes the view's way,
  // whichever view is active.
  return RouteEnabledCommand({this, document_, frame_, Application::Current()}, id);
}

LRESULT View::OnCommandMessage(WPARAM wParam, LPARAM lParam) {
  UINT id = LOWORD(wParam), code = HIWORD(wParam);
  auto it = controls_.find({id, code});
  if (lParam && it != controls_.end()) {
    auto run = it->second;
    run();
    return 0;
  }
  if (code == 0 || code == 1) Route(id);
  return 0;
}

bool FormView::CreateView(HWND parent, const RECT& rect, UINT id, Document* document, FrameWindow* frame) {
  Attach(document, frame);
  if (!CreateFromTemplate(module_, MAKEINTRESOURCEW(templateId_), parent)) return false;
  if (!(GetWindowLongPtrW(Handle(), GWL_STYLE) & WS_CHILD)) {
    // A pop-up dialog cannot be a pane.
    Destroy();
    SetLastError(ERROR_INVALID_WINDOW_STYLE);
    return false;
  }
  SetWindowLongPtrW(Handle(), GWLP_ID, static_cast<LONG_PTR>(id));
  SetWindowPos(Handle(), nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
               SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
  return true;
}

bool FormView::PreTranslateMessage(MSG* message) {
  if (!Handle() || message->message < WM_KEYFIRST || message->message > WM_KEYLAST) return false;
  return IsDialogMessageW(Handle(), message) != FALSE;
}

HRESULT FormView::HostedControl(UINT id, IUnknown** control) const { return win::HostedControl(Item(id), control); }

HRESULT FormView::BindControl(UINT id, DispatchDriver* driver) const {
  atl::ComPtr<IUnknown> control;
  HRESULT hr = HostedControl(id, control.Out());
  if (FAILED(hr)) return hr;
  atl::ComPtr<IDispatch> dispatch;
  hr = control->QueryInterface(IID_IDispatch, dispatch.OutVoid());
  if (SUCCEEDED(hr)) driver->Attach(dispatch.Get());
  return hr;
}

HRESULT FormView::AdviseEvents(UINT id, const IID& events, atl::ComPtr<EventSink>* sink) {
  atl::ComPtr<IUnknown> control;
  HRESULT hr = HostedControl(id, control.Out());
  if (FAILED(hr)) return hr;
  atl::ComPtr<EventSink> made = EventSink::Create();
  if (!made) return E_OUTOFMEMORY;
  hr = made->Advise(control.Get(), events);
  if (FAILED(hr)) return hr;
  KeepSink(made);
  *sink = made;
  return S_OK;
}

}  // namespace appf
