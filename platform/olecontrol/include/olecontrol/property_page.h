// A property page over a dialog template of the module, for
// OleCreatePropertyFrame: the page reads the object's values when it is
// activated and writes them on Apply, both through the object's IDispatch.
//
//   class DialPage : public olectl::PropertyPage {
//    public:
//     DialPage() : PropertyPage(IDD_DIAL_PAGE, L"Dial") {}
//     void OnRead(IDispatch* object) override;    // values into the dialog
//     HRESULT OnApply(IDispatch* object) override; // dialog into the values
//   };
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "atl/object.h"
#include "atl/owners.h"

namespace olectl {

class PropertyPage : public atl::ObjectRoot<atl::SingleThreaded>, public IPropertyPage {
 public:
  PropertyPage(UINT dialogId, const wchar_t* title) : dialogId_(dialogId), title_(title) {}
  virtual ~PropertyPage();

  template <class T>
  static const atl::InterfaceEntry* PageInterfaces() {
    static const atl::InterfaceEntry entries[] = {atl::Entry<T, IPropertyPage>(), {}};
    return entries;
  }

  virtual void OnRead(IDispatch* object) = 0;
  virtual HRESULT OnApply(IDispatch* object) = 0;
  // A command of a child (the base marks the page changed on EN_CHANGE,
  // BN_CLICKED and CBN_SELCHANGE).
  virtual void OnCommand(WORD id, WORD code);
  HWND Dialog() const { return dialog_; }
  // The page differs from the object: the frame enables Apply.
  void SetDirty(bool dirty = true);

  // Reads and writes a property of the object by dispatch id.
  static HRESULT GetProperty(IDispatch* object, DISPID id, VARIANT* value);
  static HRESULT PutProperty(IDispatch* object, DISPID id, const VARIANT& value);

  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
  STDMETHODIMP Show(UINT command) override;
  STDMETHODIMP Move(LPCRECT rect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR) override;
  STDMETHODIMP TranslateAccelerator(MSG* message) override;

 private:
  static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
  HWND CreatePage(HWND parent);

  UINT dialogId_;
  std::wstring title_;
  HWND dialog_ = nullptr;
  bool dirty_ = false;
  bool reading_ = false;  // the page fills its controls: no change of the user's
  atl::ComPtr<IPropertyPageSite> site_;
  std::vector<atl::ComPtr<IDispatch>> objects_;
};

}  // namespace olectl
