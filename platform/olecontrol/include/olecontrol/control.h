// The base of an ActiveX control (`COleControl`): in-place activation in a
// container's site, IDispatch answered through the type library's
// dispinterface with handlers by dispatch id, notifying properties,
// events through connection points, drawing on screen and through
// IViewObject2 with one OnDraw, and IPersistStreamInit's reset.
//
// A control derives from it, describes its class once (ControlClass),
// binds its properties and methods in its constructor and is created by
// atl::Creator<T> from the module's class table:
//
//   class Dial : public olectl::COleControl {
//    public:
//     static const olectl::ControlClass& Class();
//     static const atl::InterfaceEntry* Interfaces() { return ControlInterfaces<Dial>(); }
//     Dial() : COleControl(Class()) {
//       BindProperty(1, &level_, [this] { OnLevelChanged(); });
//       BindMethod(2, [this](olectl::DispArgs& a, VARIANT* r) { return Turn(a, r); });
//     }
//     void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid) override;
//   };
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "atl/dispatch.h"
#include "atl/object.h"
#include "atl/owners.h"
#include "olecontrol/connection.h"
#include "window/window.h"

namespace olectl {

// What the framework needs to know of one control class.
struct ControlClass {
  const CLSID* clsid;
  const IID* dispatch;  // the control's dispinterface in the module's type library
  const IID* events;  // its event dispinterface
  const wchar_t* windowClass;  // the name its window class is registered under
  DWORD miscStatus;  // OLEMISC_* bits, as registered
  SIZE size;  // the size in pixels before a container sets one
  const CLSID* pages = nullptr;  // property pages (ISpecifyPropertyPages)
  size_t pageCount = 0;
};

// The arguments of one method call, in declared order: inputs coerced to
// their declared types, outputs as empty values the handler fills (the
// framework writes them through the caller's references afterwards).
class DispArgs {
 public:
  DispArgs() = default;
  DispArgs(const DispArgs&) = delete;
  DispArgs& operator=(const DispArgs&) = delete;
  ~DispArgs();
  size_t Count() const { return values_.size(); }
  const VARIANT& In(size_t i) const { return values_[i]; }
  SHORT Short(size_t i) const { return V_I2(&values_[i]); }
  LONG Long(size_t i) const { return V_I4(&values_[i]); }
  float Float(size_t i) const { return V_R4(&values_[i]); }
  bool Bool(size_t i) const { return V_BOOL(&values_[i]) != VARIANT_FALSE; }
  // A valid C string even for a null BSTR.
  const wchar_t* Text(size_t i) const { return V_BSTR(&values_[i]) ? V_BSTR(&values_[i]) : L""; }
  UINT TextLength(size_t i) const { return SysStringLen(V_BSTR(&values_[i])); }
  VARIANT* Out(size_t i) { return &values_[i]; }

 private:
  friend class COleControl;
  std::vector<VARIANT> values_;
};

using MethodHandler = std::function<HRESULT(DispArgs& args, VARIANT* result)>;

// Arguments of an event, in declared order; what it holds it frees.
class EventArgs {
 public:
  EventArgs() = default;
  EventArgs(const EventArgs&) = delete;
  EventArgs& operator=(const EventArgs&) = delete;
  ~EventArgs();
  EventArgs& Add(SHORT value);
  EventArgs& Add(LONG value);
  EventArgs& Add(float value);
  EventArgs& Add(const wchar_t* text);
  EventArgs& AddBool(bool value);
  // An SCODE parameter (VT_ERROR).
  EventArgs& AddError(SCODE value);
  // By reference: the sink may change the value.
  EventArgs& AddRef(BSTR* text);
  EventArgs& AddRef(VARIANT_BOOL* flag);
  // Reversed, as DISPPARAMS wants them.
  std::vector<VARIANT> Reversed() const { return std::vector<VARIANT>(values_.rbegin(), values_.rend()); }

 private:
  std::vector<VARIANT> values_;
};

// Stock dispatch ids of the framework.
constexpr DISPID kDispidAboutBox = -552;
constexpr DISPID kEventClick = -600;
constexpr DISPID kEventDblClick = -601;
constexpr DISPID kEventMouseDown = -605;
constexpr DISPID kEventMouseMove = -606;
constexpr DISPID kEventMouseUp = -607;
constexpr DISPID kEventError = -608;

// Which container calls a control has answered; for tests and the trace
// (environment variable KR_OLECONTROL_TRACE names a file the names are
// appended to).
void Trace(const char* call);

class COleControl : public atl::ObjectRoot<atl::SingleThreaded>,
                    public IDispatch,
                    public IOleObject,
                    public IOleInPlaceObject,
                    public IOleInPlaceActiveObject,
                    public IOleControl,
                    public IPersistStreamInit,
                    public IViewObject2,
                    public IConnectionPointContainer,
                    public IProvideClassInfo2,
                    public ISpecifyPropertyPages {
 public:
  explicit COleControl(const ControlClass& info);
  virtual ~COleControl();

  template <class T>
  static const atl::InterfaceEntry* ControlInterfaces() {
    static const atl::InterfaceEntry entries[] = {
        atl::Entry<T, IDispatch>(),
        atl::Entry<T, IDispatch>(*T::Class().dispatch),
        atl::Entry<T, IOleObject>(),
        atl::Entry<T, IOleInPlaceObject>(),
        atl::Entry<T, IOleInPlaceObject>(IID_IOleWindow),  // its IOleWindow
        atl::Entry<T, IOleInPlaceActiveObject>(),
        atl::Entry<T, IOleControl>(),
        atl::Entry<T, IPersistStreamInit>(),
        atl::Entry<T, IViewObject2>(),
        atl::Entry<T, IViewObject>(IID_IViewObject),
        atl::Entry<T, IConnectionPointContainer>(),
        atl::Entry<T, IProvideClassInfo2>(),
        atl::Entry<T, IProvideClassInfo>(IID_IProvideClassInfo),
        atl::Entry<T, ISpecifyPropertyPages>(),
        {}};
    return entries;
  }

  // What the control looks like: the same call paints its window and
  // answers IViewObject2::Draw into any device context.
  virtual void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid);
  // The control's state back to its defaults (IPersistStreamInit::InitNew).
  virtual void OnResetState() {}
  virtual void AboutBox() {}
  // Files dropped on the window (when EnableFileDrops is on); the base
  // finishes the drop.
  virtual void OnDropFiles(const std::vector<std::wstring>& files, POINT client);

  // Binding of properties: the value is stored, then `changed` runs (it
  // may put the old value back), the modified flag is set and the sinks of
  // IPropertyNotifySink hear OnChanged.
  void BindProperty(DISPID id, SHORT* member, std::function<void()> changed = {});
  void BindProperty(DISPID id, LONG* member, std::function<void()> changed = {});
  void BindProperty(DISPID id, float* member, std::function<void()> changed = {});
  void BindProperty(DISPID id, atl::Bstr* member, std::function<void()> changed = {});
  // VARIANT_BOOL is a short: a BOOL property has a name of its own.
  void BindBoolProperty(DISPID id, VARIANT_BOOL* member, std::function<void()> changed = {});
  void BindProperty(DISPID id, OLE_COLOR* member, std::function<void()> changed = {});
  void BindProperty(DISPID id, atl::Variant* member, std::function<void()> changed = {});
  void BindMethod(DISPID id, MethodHandler handler);

  // Events to every connected sink; none while the container froze them.
  void FireEvent(DISPID id, const EventArgs& args);
  // The stock Error event (-608).
  void FireError(SCODE code, const wchar_t* description);
  bool EventsFrozen() const { return freezeCount_ > 0; }

  void SetModifiedFlag(bool modified = true) { modified_ = modified; }
  bool IsModified() const { return modified_; }
  // Asks the site for the new size; when it does not take it, the control
  // resizes its own window. The extent follows either way.
  void SetControlSize(int width, int height);
  // Redraws the window (when there is one) and tells view advise sinks.
  void InvalidateControl();
  void EnableFileDrops(bool enable);
  HWND ControlWindow() const { return window_.Handle(); }
  win::Window& WindowHandlers() { return window_; }
  IOleClientSite* ClientSite() const { return site_.Get(); }

  // The stock mouse processing: MouseDown, MouseUp and MouseMove with the
  // button, the Shift/Ctrl/Alt state and the point.
  void ButtonDown(SHORT button, WPARAM keys, POINT point);
  void ButtonUp(SHORT button, WPARAM keys, POINT point);
  void MouseMoved(WPARAM keys, POINT point);
  static SHORT ShiftState(WPARAM keys);

  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argError) override;
  // IOleObject
  STDMETHODIMP SetClientSite(IOleClientSite* site) override;
  STDMETHODIMP GetClientSite(IOleClientSite** out) override;
  STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override;
  STDMETHODIMP Close(DWORD saveOption) override;
  STDMETHODIMP SetMoniker(DWORD, IMoniker*) override;
  STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override;
  STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override;
  STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override;
  STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override;
  STDMETHODIMP EnumVerbs(IEnumOLEVERB** out) override;
  STDMETHODIMP Update() override;
  STDMETHODIMP IsUpToDate() override;
  STDMETHODIMP GetUserClassID(CLSID* out) override;
  STDMETHODIMP GetUserType(DWORD form, LPOLESTR* out) override;
  STDMETHODIMP SetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP GetExtent(DWORD aspect, SIZEL* size) override;
  STDMETHODIMP Advise(IAdviseSink* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumAdvise(IEnumSTATDATA** out) override;
  STDMETHODIMP GetMiscStatus(DWORD aspect, DWORD* status) override;
  STDMETHODIMP SetColorScheme(LOGPALETTE*) override;
  // IOleWindow, IOleInPlaceObject
  STDMETHODIMP GetWindow(HWND* out) override;
  STDMETHODIMP ContextSensitiveHelp(BOOL) override;
  STDMETHODIMP InPlaceDeactivate() override;
  STDMETHODIMP UIDeactivate() override;
  STDMETHODIMP SetObjectRects(LPCRECT position, LPCRECT clip) override;
  STDMETHODIMP ReactivateAndUndo() override;
  // IOleInPlaceActiveObject
  STDMETHODIMP TranslateAccelerator(LPMSG) override;
  STDMETHODIMP OnFrameWindowActivate(BOOL) override;
  STDMETHODIMP OnDocWindowActivate(BOOL) override;
  STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
  STDMETHODIMP EnableModeless(BOOL) override;
  // IOleControl
  STDMETHODIMP GetControlInfo(CONTROLINFO* info) override;
  STDMETHODIMP OnMnemonic(MSG*) override;
  STDMETHODIMP OnAmbientPropertyChange(DISPID) override;
  STDMETHODIMP FreezeEvents(BOOL freeze) override;
  // IPersist, IPersistStreamInit
  STDMETHODIMP GetClassID(CLSID* out) override;
  STDMETHODIMP IsDirty() override;
  STDMETHODIMP Load(LPSTREAM) override;
  STDMETHODIMP Save(LPSTREAM, BOOL) override;
  STDMETHODIMP GetSizeMax(ULARGE_INTEGER*) override;
  STDMETHODIMP InitNew() override;
  // IViewObject, IViewObject2
  STDMETHODIMP Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                    BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override;
  STDMETHODIMP GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) override;
  STDMETHODIMP Freeze(DWORD, LONG, void*, DWORD*) override;
  STDMETHODIMP Unfreeze(DWORD) override;
  STDMETHODIMP SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  STDMETHODIMP GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  STDMETHODIMP GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;
  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** out) override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
  // IProvideClassInfo2
  STDMETHODIMP GetClassInfo(ITypeInfo** out) override;
  STDMETHODIMP GetGUID(DWORD kind, GUID* out) override;
  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;

 private:
  struct Property {
    VARTYPE type;  // of the member
    void* member;
    std::function<void()> changed;
  };
  struct Param {
    VARTYPE type;
    bool out;
  };
  // A member of the dispinterface as the type library declares it.
  struct Member {
    bool property = false;
    bool readOnly = false;
    VARTYPE type = VT_EMPTY;  // a property's type or a method's result (VT_VOID: none)
    std::vector<Param> params;
  };

  void Bind(DISPID id, VARTYPE type, void* member, std::function<void()> changed);
  HRESULT LoadMembers();
  HRESULT InvokeProperty(DISPID id, const Member& m, WORD flags, DISPPARAMS* params, VARIANT* result,
                         UINT* argError);
  HRESULT InvokeMethod(DISPID id, const Member& m, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argError);
  void ReadProperty(const Property& p, VARIANT* out) const;
  HRESULT WriteProperty(DISPID id, Property& p, const VARIANT& value);
  HRESULT InPlaceActivate(LONG verb);
  bool CreateControlWindow(HWND parent, const RECT& position);
  void InstallHandlers();
  LRESULT Paint();
  IUnknown* Unknown() { return static_cast<IDispatch*>(this); }

  const ControlClass& info_;
  atl::TypeInfoHolder typeInfo_;
  std::map<DISPID, Member> members_;
  bool membersLoaded_ = false;
  std::map<DISPID, Property> properties_;
  std::map<DISPID, MethodHandler> methods_;

  ConnectionPoint events_;
  ConnectionPoint propertySinks_;
  LONG freezeCount_ = 0;
  bool modified_ = false;

  win::Window window_;
  atl::ComPtr<IOleClientSite> site_;
  atl::ComPtr<IOleInPlaceSite> inPlaceSite_;
  atl::ComPtr<IOleAdviseHolder> adviseHolder_;
  atl::ComPtr<IAdviseSink> viewSink_;
  DWORD viewAspects_ = 0;
  DWORD viewFlags_ = 0;
  bool inPlaceActive_ = false;
  bool uiActive_ = false;
  SIZEL extent_ = {};  // HIMETRIC
  RECT position_ = {};
};

// Pixels and HIMETRIC (0.01 mm) at the screen's resolution.
SIZEL PixelsToHimetric(SIZE pixels);
SIZE HimetricToPixels(SIZEL himetric);

}  // namespace olectl
