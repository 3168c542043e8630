// The control's life in a container: site, in-place activation, its
// window, drawing, events, extents and reset.
#include "olecontrol/control.h"

#include <shellapi.h>

#include <cstdio>

#include "window/gdi.h"

namespace olectl {

void Trace(const char* call) {
  // Read from the process environment on each call (not the C runtime's
  // copy), so a host program may switch it on and off.
  char path[MAX_PATH] = {};
  DWORD n = GetEnvironmentVariableA("KR_OLECONTROL_TRACE", path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", call);
    std::fclose(f);
  }
}

SIZEL PixelsToHimetric(SIZE pixels) {
  win::ClientDC screen(nullptr);
  return {MulDiv(pixels.cx, 2540, GetDeviceCaps(screen.Get(), LOGPIXELSX)),
          MulDiv(pixels.cy, 2540, GetDeviceCaps(screen.Get(), LOGPIXELSY))};
}

SIZE HimetricToPixels(SIZEL himetric) {
  win::ClientDC screen(nullptr);
  return {MulDiv(himetric.cx, GetDeviceCaps(screen.Get(), LOGPIXELSX), 2540),
          MulDiv(himetric.cy, GetDeviceCaps(screen.Get(), LOGPIXELSY), 2540)};
}

EventArgs::~EventArgs() {
  for (VARIANT& v : values_) VariantClear(&v);
}

EventArgs& EventArgs::Add(SHORT value) {
  VARIANT v;
  V_VT(&v) = VT_I2;
  V_I2(&v) = value;
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::Add(LONG value) {
  VARIANT v;
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::Add(float value) {
  VARIANT v;
  V_VT(&v) = VT_R4;
  V_R4(&v) = value;
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::Add(const wchar_t* text) {
  VARIANT v;
  V_VT(&v) = VT_BSTR;
  V_BSTR(&v) = SysAllocString(text ? text : L"");
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::AddBool(bool value) {
  VARIANT v;
  V_VT(&v) = VT_BOOL;
  V_BOOL(&v) = value ? VARIANT_TRUE : VARIANT_FALSE;
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::AddError(SCODE value) {
  VARIANT v;
  V_VT(&v) = VT_ERROR;
  V_ERROR(&v) = value;
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::AddRef(BSTR* text) {
  VARIANT v;
  V_VT(&v) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&v) = text;  // the caller owns the string
  values_.push_back(v);
  return *this;
}
EventArgs& EventArgs::AddRef(VARIANT_BOOL* flag) {
  VARIANT v;
  V_VT(&v) = VT_BYREF | VT_BOOL;
  V_BOOLREF(&v) = flag;
  values_.push_back(v);
  return *this;
}

COleControl::COleControl(const ControlClass& info)
    : info_(info),
      typeInfo_(*info.dispatch),
      events_(Unknown(), *info.events),
      propertySinks_(Unknown(), IID_IPropertyNotifySink) {
  extent_ = PixelsToHimetric(info.size);
  BindMethod(kDispidAboutBox, [this](DispArgs&, VARIANT*) {
    AboutBox();
    return S_OK;
  });
  InstallHandlers();
}

COleControl::~COleControl() {
  window_.Destroy();
  events_.DisconnectAll();
  propertySinks_.DisconnectAll();
}

void COleControl::InstallHandlers() {
  window_.On(WM_PAINT, [this](WPARAM, LPARAM) { return Paint(); });
  window_.On(WM_ERASEBKGND, [](WPARAM, LPARAM) -> LRESULT { return 1; });  // OnDraw paints every pixel
  auto at = [](LPARAM l) { return POINT{static_cast<SHORT>(LOWORD(l)), static_cast<SHORT>(HIWORD(l))}; };
  const struct {
    UINT down, up;
    SHORT button;
  } buttons[] = {{WM_LBUTTONDOWN, WM_LBUTTONUP, 1}, {WM_RBUTTONDOWN, WM_RBUTTONUP, 2}, {WM_MBUTTONDOWN, WM_MBUTTONUP, 4}};
  for (const auto& b : buttons) {
    SHORT button = b.button;
    window_.On(b.down, [this, button, at](WPARAM w, LPARAM l) -> LRESULT {
      ButtonDown(button, w, at(l));
      return 0;
    });
    window_.On(b.up, [this, button, at](WPARAM w, LPARAM l) -> LRESULT {
      ButtonUp(button, w, at(l));
      return 0;
    });
  }
  window_.On(WM_MOUSEMOVE, [this, at](WPARAM w, LPARAM l) -> LRESULT {
    MouseMoved(w, at(l));
    return 0;
  });
  window_.On(WM_DROPFILES, [this](WPARAM w, LPARAM) -> LRESULT {
    HDROP drop = reinterpret_cast<HDROP>(w);
    std::vector<std::wstring> files;
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      wchar_t name[MAX_PATH + 1] = {};
      DragQueryFileW(drop, i, name, MAX_PATH + 1);
      files.emplace_back(name);
    }
    POINT point = {};
    DragQueryPoint(drop, &point);
    DragFinish(drop);
    OnDropFiles(files, point);
    return 0;
  });
}

LRESULT COleControl::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window_.Handle(), &ps);
  RECT bounds;
  GetClientRect(window_.Handle(), &bounds);
  OnDraw(dc, bounds, ps.rcPaint);
  EndPaint(window_.Handle(), &ps);
  return 0;
}

void COleControl::OnDraw(HDC dc, const RECT& bounds, const RECT&) { win::FillSolid(dc, bounds, GetSysColor(COLOR_WINDOW)); }

void COleControl::OnDropFiles(const std::vector<std::wstring>&, POINT) {}

SHORT COleControl::ShiftState(WPARAM keys) {
  SHORT shift = 0;
  if (keys & MK_SHIFT) shift |= 1;
  if (keys & MK_CONTROL) shift |= 2;
  if (GetKeyState(VK_MENU) < 0) shift |= 4;
  return shift;
}

void COleControl::ButtonDown(SHORT button, WPARAM keys, POINT p) {
  FireEvent(kEventMouseDown, EventArgs().Add(button).Add(ShiftState(keys)).Add(LONG{p.x}).Add(LONG{p.y}));
}

void COleControl::ButtonUp(SHORT button, WPARAM keys, POINT p) {
  FireEvent(kEventMouseUp, EventArgs().Add(button).Add(ShiftState(keys)).Add(LONG{p.x}).Add(LONG{p.y}));
}

void COleControl::MouseMoved(WPARAM keys, POINT p) {
  SHORT held = static_cast<SHORT>(((keys & MK_LBUTTON) ? 1 : 0) | ((keys & MK_RBUTTON) ? 2 : 0) |
                                  ((keys & MK_MBUTTON) ? 4 : 0));
  FireEvent(kEventMouseMove, EventArgs().Add(held).Add(ShiftState(keys)).Add(LONG{p.x}).Add(LONG{p.y}));
}

void COleControl::FireEvent(DISPID id, const EventArgs& args) {
  if (EventsFrozen()) return;
  std::vector<VARIANT> reversed = args.Reversed();
  DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  for (const auto& sink : events_.Sinks()) {
    VARIANT ignored;
    VariantInit(&ignored);
    static_cast<IDispatch*>(sink.Get())->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &ignored, nullptr, nullptr);
    VariantClear(&ignored);
  }
}

void COleControl::FireError(SCODE code, const wchar_t* description) {
  BSTR text = SysAllocString(description ? description : L"");
  VARIANT_BOOL cancelDisplay = VARIANT_FALSE;
  FireEvent(kEventError, EventArgs()
                             .Add(static_cast<SHORT>(HRESULT_CODE(code)))
                             .AddRef(&text)
                             .Add(LONG{code})
                             .Add(L"")
                             .Add(L"")
                             .Add(LONG{0})
                             .AddRef(&cancelDisplay));
  SysFreeString(text);
}

void COleControl::SetControlSize(int width, int height) {
  extent_ = PixelsToHimetric(SIZE{width, height});
  if (window_.Handle()) {
    RECT wanted = {position_.left, position_.top, position_.left + width, position_.top + height};
    // A site that takes the change calls SetObjectRects with it.
    if (!inPlaceSite_ || FAILED(inPlaceSite_->OnPosRectChange(&wanted)) ||
        (position_.right - position_.left != width || position_.bottom - position_.top != height)) {
      position_ = wanted;
      SetWindowPos(window_.Handle(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
  }
}

void COleControl::InvalidateControl() {
  if (window_.Handle()) InvalidateRect(window_.Handle(), nullptr, FALSE);
  if (viewSink_) viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
}

void COleControl::EnableFileDrops(bool enable) {
  if (window_.Handle()) DragAcceptFiles(window_.Handle(), enable);
}

bool COleControl::CreateControlWindow(HWND parent, const RECT& position) {
  position_ = position;
  return window_.Create(info_.windowClass, WS_CHILD | WS_CLIPSIBLINGS | WS_CLIPCHILDREN, 0, parent, position);
}

HRESULT COleControl::InPlaceActivate(LONG verb) {
  if (!site_) return E_UNEXPECTED;
  if (!inPlaceActive_) {
    if (FAILED(site_.As(&inPlaceSite_))) return OLEOBJ_E_INVALIDVERB;
    if (inPlaceSite_->CanInPlaceActivate() != S_OK) return E_FAIL;
    inPlaceSite_->OnInPlaceActivate();
    inPlaceActive_ = true;
  }
  if (!window_.Handle()) {
    HWND parent = nullptr;
    atl::ComPtr<IOleInPlaceFrame> frame;
    atl::ComPtr<IOleInPlaceUIWindow> document;
    RECT position = {}, clip = {};
    OLEINPLACEFRAMEINFO frameInfo = {};
    frameInfo.cb = sizeof(frameInfo);
    if (FAILED(inPlaceSite_->GetWindow(&parent)) ||
        FAILED(inPlaceSite_->GetWindowContext(frame.Out(), document.Out(), &position, &clip, &frameInfo)) ||
        !CreateControlWindow(parent, position)) {
      inPlaceSite_->OnInPlaceDeactivate();
      inPlaceActive_ = false;
      return E_FAIL;
    }
  }
  ShowWindow(window_.Handle(), SW_SHOW);
  if ((verb == OLEIVERB_UIACTIVATE || verb == OLEIVERB_PRIMARY) && !uiActive_) {
    uiActive_ = true;
    inPlaceSite_->OnUIActivate();
  }
  return S_OK;
}

// IOleObject

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* site) {
  Trace("IOleObject::SetClientSite");
  site_ = atl::ComPtr<IOleClientSite>(site);
  return S_OK;
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** out) {
  Trace("IOleObject::GetClientSite");
  if (!out) return E_POINTER;
  return site_.CopyTo(out);
}

STDMETHODIMP COleControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
  Trace("IOleObject::SetHostNames");
  return S_OK;
}

STDMETHODIMP COleControl::Close(DWORD) {
  Trace("IOleObject::Close");
  InPlaceDeactivate();
  if (adviseHolder_) adviseHolder_->SendOnClose();
  return S_OK;
}

STDMETHODIMP COleControl::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }
STDMETHODIMP COleControl::GetMoniker(DWORD, DWORD, IMoniker** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}
STDMETHODIMP COleControl::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }
STDMETHODIMP COleControl::GetClipboardData(DWORD, IDataObject** out) {
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
  char line[64];
  std::snprintf(line, sizeof line, "IOleObject::DoVerb %ld", static_cast<long>(verb));
  Trace(line);
  if (site && !site_) SetClientSite(site);
  switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
      return InPlaceActivate(verb);
    case OLEIVERB_HIDE:
      if (window_.Handle()) ShowWindow(window_.Handle(), SW_HIDE);
      return S_OK;
    case OLEIVERB_PROPERTIES: {
      if (!info_.pageCount) return OLEOBJ_E_INVALIDVERB;
      IUnknown* self = Unknown();
      return OleCreatePropertyFrame(window_.Handle(), 0, 0, L"", 1, &self, static_cast<ULONG>(info_.pageCount),
                                    const_cast<CLSID*>(info_.pages), 0, 0, nullptr);
    }
    default:
      return OLEOBJ_E_INVALIDVERB;
  }
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** out) {
  Trace("IOleObject::EnumVerbs");
  return OleRegEnumVerbs(*info_.clsid, out);
}

STDMETHODIMP COleControl::Update() { return S_OK; }
STDMETHODIMP COleControl::IsUpToDate() { return S_OK; }

STDMETHODIMP COleControl::GetUserClassID(CLSID* out) {
  Trace("IOleObject::GetUserClassID");
  if (!out) return E_POINTER;
  *out = *info_.clsid;
  return S_OK;
}

STDMETHODIMP COleControl::GetUserType(DWORD form, LPOLESTR* out) {
  Trace("IOleObject::GetUserType");
  return OleRegGetUserType(*info_.clsid, form, out);
}

STDMETHODIMP COleControl::SetExtent(DWORD aspect, SIZEL* size) {
  Trace("IOleObject::SetExtent");
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  extent_ = *size;
  return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, SIZEL* size) {
  Trace("IOleObject::GetExtent");
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!size) return E_POINTER;
  *size = extent_;
  return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* sink, DWORD* cookie) {
  Trace("IOleObject::Advise");
  if (!adviseHolder_) {
    HRESULT hr = CreateOleAdviseHolder(adviseHolder_.Out());
    if (FAILED(hr)) return hr;
  }
  return adviseHolder_->Advise(sink, cookie);
}

STDMETHODIMP COleControl::Unadvise(DWORD cookie) {
  Trace("IOleObject::Unadvise");
  if (!adviseHolder_) return OLE_E_NOCONNECTION;
  return adviseHolder_->Unadvise(cookie);
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** out) {
  if (!adviseHolder_) {
    if (out) *out = nullptr;
    return E_FAIL;
  }
  return adviseHolder_->EnumAdvise(out);
}

STDMETHODIMP COleControl::GetMiscStatus(DWORD aspect, DWORD* status) {
  Trace("IOleObject::GetMiscStatus");
  if (!status) return E_POINTER;
  *status = aspect == DVASPECT_CONTENT ? info_.miscStatus : 0;
  return S_OK;
}

STDMETHODIMP COleControl::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// IOleWindow, IOleInPlaceObject

STDMETHODIMP COleControl::GetWindow(HWND* out) {
  Trace("IOleWindow::GetWindow");
  if (!out) return E_POINTER;
  *out = window_.Handle();
  return *out ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

STDMETHODIMP COleControl::InPlaceDeactivate() {
  Trace("IOleInPlaceObject::InPlaceDeactivate");
  if (!inPlaceActive_) return S_OK;
  UIDeactivate();
  window_.Destroy();
  inPlaceActive_ = false;
  if (inPlaceSite_) inPlaceSite_->OnInPlaceDeactivate();
  inPlaceSite_.Reset();
  return S_OK;
}

STDMETHODIMP COleControl::UIDeactivate() {
  Trace("IOleInPlaceObject::UIDeactivate");
  if (!uiActive_) return S_OK;
  uiActive_ = false;
  if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
  return S_OK;
}

STDMETHODIMP COleControl::SetObjectRects(LPCRECT position, LPCRECT) {
  Trace("IOleInPlaceObject::SetObjectRects");
  if (!position) return E_POINTER;
  position_ = *position;
  extent_ = PixelsToHimetric(SIZE{position->right - position->left, position->bottom - position->top});
  if (window_.Handle())
    SetWindowPos(window_.Handle(), nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  return S_OK;
}

STDMETHODIMP COleControl::ReactivateAndUndo() { return E_NOTIMPL; }

// IOleInPlaceActiveObject

STDMETHODIMP COleControl::TranslateAccelerator(LPMSG) { return S_FALSE; }
STDMETHODIMP COleControl::OnFrameWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP COleControl::OnDocWindowActivate(BOOL) { return S_OK; }
STDMETHODIMP COleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
STDMETHODIMP COleControl::EnableModeless(BOOL) { return S_OK; }

// IOleControl

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO* info) {
  Trace("IOleControl::GetControlInfo");
  if (!info) return E_POINTER;
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

STDMETHODIMP COleControl::OnMnemonic(MSG*) { return S_OK; }

STDMETHODIMP COleControl::OnAmbientPropertyChange(DISPID) {
  Trace("IOleControl::OnAmbientPropertyChange");
  return S_OK;
}

STDMETHODIMP COleControl::FreezeEvents(BOOL freeze) {
  Trace(freeze ? "IOleControl::FreezeEvents TRUE" : "IOleControl::FreezeEvents FALSE");
  if (freeze) ++freezeCount_;
  else if (freezeCount_ > 0) --freezeCount_;
  return S_OK;
}

// IPersistStreamInit: the control keeps no state a stream would restore.

STDMETHODIMP COleControl::GetClassID(CLSID* out) {
  Trace("IPersist::GetClassID");
  if (!out) return E_POINTER;
  *out = *info_.clsid;
  return S_OK;
}

STDMETHODIMP COleControl::IsDirty() {
  Trace("IPersistStreamInit::IsDirty");
  return modified_ ? S_OK : S_FALSE;
}

STDMETHODIMP COleControl::Load(LPSTREAM) {
  Trace("IPersistStreamInit::Load");
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::Save(LPSTREAM, BOOL) {
  Trace("IPersistStreamInit::Save");
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER*) { return E_NOTIMPL; }

STDMETHODIMP COleControl::InitNew() {
  Trace("IPersistStreamInit::InitNew");
  OnResetState();
  modified_ = false;
  InvalidateControl();
  return S_OK;
}

// IViewObject2

STDMETHODIMP COleControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                               BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
  Trace("IViewObject::Draw");
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!dc) return E_INVALIDARG;
  RECT r;
  if (bounds) {
    r = {bounds->left, bounds->top, bounds->right, bounds->bottom};
  } else if (window_.Handle()) {
    GetClientRect(window_.Handle(), &r);  // in place, a null bounds means the window's own
  } else {
    return E_INVALIDARG;
  }
  OnDraw(dc, r, r);
  return S_OK;
}

STDMETHODIMP COleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** out) {
  if (out) *out = nullptr;
  return S_FALSE;
}

STDMETHODIMP COleControl::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
STDMETHODIMP COleControl::Unfreeze(DWORD) { return E_NOTIMPL; }

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  Trace("IViewObject::SetAdvise");
  viewAspects_ = aspects;
  viewFlags_ = flags;
  viewSink_ = atl::ComPtr<IAdviseSink>(sink);
  return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects) *aspects = viewAspects_;
  if (flags) *flags = viewFlags_;
  if (sink) viewSink_.CopyTo(sink);
  return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  Trace("IViewObject2::GetExtent");
  return GetExtent(aspect, size);
}

// IConnectionPointContainer

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** out) {
  Trace("IConnectionPointContainer::EnumConnectionPoints");
  if (out) *out = nullptr;
  return E_NOTIMPL;
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  Trace("IConnectionPointContainer::FindConnectionPoint");
  if (!out) return E_POINTER;
  *out = nullptr;
  ConnectionPoint* point = IsEqualIID(iid, *info_.events)               ? &events_
                           : IsEqualIID(iid, IID_IPropertyNotifySink) ? &propertySinks_
                                                                       : nullptr;
  if (!point) return CONNECT_E_NOCONNECTION;
  point->AddRef();
  *out = point;
  return S_OK;
}

// IProvideClassInfo2

STDMETHODIMP COleControl::GetClassInfo(ITypeInfo** out) {
  Trace("IProvideClassInfo::GetClassInfo");
  return atl::ClassTypeInfo(*info_.clsid, out);
}

STDMETHODIMP COleControl::GetGUID(DWORD kind, GUID* out) {
  if (!out) return E_POINTER;
  *out = GUID_NULL;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) return E_INVALIDARG;
  *out = *info_.events;
  return S_OK;
}

// ISpecifyPropertyPages

STDMETHODIMP COleControl::GetPages(CAUUID* pages) {
  Trace("ISpecifyPropertyPages::GetPages");
  if (!pages) return E_POINTER;
  pages->cElems = 0;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID) * (info_.pageCount ? info_.pageCount : 1)));
  if (!pages->pElems) return E_OUTOFMEMORY;
  for (size_t i = 0; i < info_.pageCount; ++i) pages->pElems[i] = info_.pages[i];
  pages->cElems = static_cast<ULONG>(info_.pageCount);
  return S_OK;
}

}  // namespace olectl
