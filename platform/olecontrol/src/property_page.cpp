#include "olecontrol/property_page.h"

#include <olectl.h>

#include "atl/module.h"
#include "olecontrol/control.h"

namespace olectl {

PropertyPage::~PropertyPage() {
  if (dialog_) DestroyWindow(dialog_);
}

HWND PropertyPage::CreatePage(HWND parent) {
  return CreateDialogParamW(atl::CurrentModule().Instance(), MAKEINTRESOURCEW(dialogId_), parent,
                            &PropertyPage::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK PropertyPage::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* self = reinterpret_cast<PropertyPage*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (self && message == WM_COMMAND && !self->reading_) {
    self->OnCommand(LOWORD(wParam), HIWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

void PropertyPage::OnCommand(WORD, WORD code) {
  if (code == EN_CHANGE || code == BN_CLICKED || code == CBN_SELCHANGE) SetDirty();
}

void PropertyPage::SetDirty(bool dirty) {
  dirty_ = dirty;
  if (site_) site_->OnStatusChange(dirty ? PROPPAGESTATUS_DIRTY | PROPPAGESTATUS_VALIDATE : PROPPAGESTATUS_CLEAN);
}

HRESULT PropertyPage::GetProperty(IDispatch* object, DISPID id, VARIANT* value) {
  DISPPARAMS none = {};
  VariantInit(value);
  return object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

HRESULT PropertyPage::PutProperty(IDispatch* object, DISPID id, const VARIANT& value) {
  DISPID named = DISPID_PROPERTYPUT;
  VARIANT arg = value;  // DISPPARAMS wants a mutable array; the callee does not keep it
  DISPPARAMS params = {&arg, &named, 1, 1};
  return object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}

STDMETHODIMP PropertyPage::SetPageSite(IPropertyPageSite* site) {
  Trace("IPropertyPage::SetPageSite");
  site_ = atl::ComPtr<IPropertyPageSite>(site);
  return S_OK;
}

STDMETHODIMP PropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  Trace("IPropertyPage::Activate");
  if (!rect) return E_POINTER;
  if (dialog_) return E_UNEXPECTED;
  dialog_ = CreatePage(parent);
  if (!dialog_) return E_FAIL;
  SetWindowPos(dialog_, nullptr, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top,
               SWP_NOZORDER | SWP_NOACTIVATE);
  if (!objects_.empty()) {
    reading_ = true;
    OnRead(objects_.front().Get());
    reading_ = false;
  }
  dirty_ = false;
  return S_OK;
}

STDMETHODIMP PropertyPage::Deactivate() {
  Trace("IPropertyPage::Deactivate");
  if (dialog_) DestroyWindow(dialog_);
  dialog_ = nullptr;
  return S_OK;
}

STDMETHODIMP PropertyPage::GetPageInfo(PROPPAGEINFO* info) {
  Trace("IPropertyPage::GetPageInfo");
  if (!info) return E_POINTER;
  // The template's size in pixels depends on its font: a hidden instance
  // measures it.
  HWND measure = CreatePage(GetDesktopWindow());
  if (!measure) return E_FAIL;
  RECT r = {};
  GetWindowRect(measure, &r);
  DestroyWindow(measure);
  const size_t bytes = (title_.size() + 1) * sizeof(wchar_t);
  auto* title = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
  if (!title) return E_OUTOFMEMORY;
  memcpy(title, title_.c_str(), bytes);
  info->cb = sizeof(*info);
  info->pszTitle = title;
  info->size = {r.right - r.left, r.bottom - r.top};
  info->pszDocString = nullptr;
  info->pszHelpFile = nullptr;
  info->dwHelpContext = 0;
  return S_OK;
}

STDMETHODIMP PropertyPage::SetObjects(ULONG count, IUnknown** objects) {
  Trace("IPropertyPage::SetObjects");
  objects_.clear();
  if (count && !objects) return E_POINTER;
  for (ULONG i = 0; i < count; ++i) {
    atl::ComPtr<IDispatch> object;
    if (objects[i] && SUCCEEDED(objects[i]->QueryInterface(IID_IDispatch, object.OutVoid())))
      objects_.push_back(object);
  }
  return S_OK;
}

STDMETHODIMP PropertyPage::Show(UINT command) {
  Trace("IPropertyPage::Show");
  if (!dialog_) return E_UNEXPECTED;
  ShowWindow(dialog_, static_cast<int>(command));
  return S_OK;
}

STDMETHODIMP PropertyPage::Move(LPCRECT rect) {
  if (!rect) return E_POINTER;
  if (!dialog_) return E_UNEXPECTED;
  MoveWindow(dialog_, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, TRUE);
  return S_OK;
}

STDMETHODIMP PropertyPage::IsPageDirty() { return dirty_ ? S_OK : S_FALSE; }

STDMETHODIMP PropertyPage::Apply() {
  Trace("IPropertyPage::Apply");
  if (!dirty_) return S_OK;
  for (const auto& object : objects_) {
    HRESULT hr = OnApply(object.Get());
    if (FAILED(hr)) return hr;
  }
  SetDirty(false);
  return S_OK;
}

STDMETHODIMP PropertyPage::Help(LPCOLESTR) { return E_NOTIMPL; }

STDMETHODIMP PropertyPage::TranslateAccelerator(MSG* message) {
  if (!message || !dialog_) return S_FALSE;
  return IsDialogMessageW(dialog_, message) ? S_OK : S_FALSE;
}

}  // namespace olectl
