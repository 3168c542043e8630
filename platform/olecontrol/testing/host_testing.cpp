#include "host_testing.h"

#include "window/gdi.h"

void Pump(DWORD ms) {
  DWORD end = GetTickCount() + ms;
  do {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&m);
      DispatchMessageW(&m);
    }
    Sleep(5);
  } while (static_cast<LONG>(end - GetTickCount()) > 0);
}

std::wstring VariantText(const VARIANT& v) {
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantCopyInd(&copy, const_cast<VARIANT*>(&v)))) return L"?";
  if (V_VT(&copy) == VT_BOOL) {
    std::wstring b = V_BOOL(&copy) ? L"true" : L"false";
    VariantClear(&copy);
    return b;
  }
  // An SCODE as its signed number (VariantChangeType has no text for it).
  if (V_VT(&copy) == VT_ERROR) return std::to_wstring(static_cast<long>(V_ERROR(&copy)));
  if (FAILED(VariantChangeType(&copy, &copy, 0, VT_BSTR))) return L"?";
  std::wstring text = V_BSTR(&copy) ? V_BSTR(&copy) : L"";
  VariantClear(&copy);
  return text;
}

STDMETHODIMP EventSink::QueryInterface(REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)) {
    *out = static_cast<IDispatch*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT* n) {
  *n = 0;
  return S_OK;
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) {
  Event e{id, {}};
  for (UINT i = p->cArgs; i-- > 0;) e.args.push_back(VariantText(p->rgvarg[i]));
  events.push_back(e);
  return S_OK;
}

Connection::Connection(IUnknown* control, const IID& iid, IUnknown* sink) {
  atl::ComPtr<IConnectionPointContainer> container;
  if (!control || FAILED(control->QueryInterface(IID_IConnectionPointContainer, container.OutVoid()))) return;
  if (FAILED(container->FindConnectionPoint(iid, point_.Out()))) return;
  if (FAILED(point_->Advise(sink, &cookie_))) cookie_ = 0;
}

Connection::~Connection() {
  if (point_ && cookie_) point_->Unadvise(cookie_);
}

Container::Container(const wchar_t* progId, const RECT& frame, const RECT& host, COLORREF colour)
    : colour_(colour) {
  frame_.On(WM_PAINT, [this](WPARAM, LPARAM) -> LRESULT {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(frame_.Handle(), &ps);
    RECT r;
    GetClientRect(frame_.Handle(), &r);
    win::FillSolid(dc, r, colour_);
    EndPaint(frame_.Handle(), &ps);
    return 0;
  });
  frame_.On(WM_ERASEBKGND, [](WPARAM, LPARAM) -> LRESULT { return 1; });
  if (frame_.Create(L"KrTestContainer", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, nullptr, frame) &&
      host_.Create(frame_.Handle(), host, progId) && host_.Control())
    host_.Control()->QueryInterface(IID_IDispatch, dispatch_.OutVoid());
  Pump(100);
}

Container::~Container() {
  dispatch_.Reset();
  host_.Destroy();
  frame_.Destroy();
  Pump(50);
}

DialogCloser::DialogCloser(const wchar_t* title, DWORD ms)
    : thread_([this, name = std::wstring(title), ms] {
        HWND window = nullptr;
        for (DWORD waited = 0; waited < ms && !window; waited += 20, Sleep(20))
          window = FindWindowW(nullptr, name.c_str());
        if (!window) return;
        seen_ = true;
        PostMessageW(window, WM_COMMAND, IDOK, 0);
      }) {}
