#include "appframe/drop_target.h"

#include <shellapi.h>

#include <new>

namespace appf {

atl::ComPtr<FileDropTarget> FileDropTarget::Create(DropOwner* owner) {
  atl::ComPtr<FileDropTarget> target;
  target.Attach(new (std::nothrow) FileDropTarget(owner));
  return target;
}

bool FileDropTarget::ReadPaths(IDataObject* data, std::vector<std::wstring>* paths) {
  paths->clear();
  if (!data) return false;
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium = {};
  if (FAILED(data->GetData(&format, &medium))) return false;
  if (medium.tymed != TYMED_HGLOBAL || !medium.hGlobal) {
    ReleaseStgMedium(&medium);
    return false;
  }
  auto drop = static_cast<HDROP>(GlobalLock(medium.hGlobal));
  if (drop) {
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
      wchar_t path[MAX_PATH] = {};
      if (DragQueryFileW(drop, i, path, MAX_PATH)) paths->push_back(path);
    }
    GlobalUnlock(medium.hGlobal);
  }
  ReleaseStgMedium(&medium);
  return !paths->empty();
}

HRESULT FileDropTarget::Register(HWND window) {
  Revoke();
  HRESULT hr = RegisterDragDrop(window, this);
  if (SUCCEEDED(hr)) window_ = window;
  return hr;
}

void FileDropTarget::Revoke() {
  if (window_) RevokeDragDrop(window_);
  window_ = nullptr;
}

STDMETHODIMP FileDropTarget::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDropTarget)) {
    *out = static_cast<IDropTarget*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FileDropTarget::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

STDMETHODIMP_(ULONG) FileDropTarget::Release() {
  LONG n = InterlockedDecrement(&refs_);
  if (n == 0) delete this;
  return static_cast<ULONG>(n);
}

STDMETHODIMP FileDropTarget::DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  std::vector<std::wstring> paths;
  effect_ = owner_ && ReadPaths(data, &paths) ? owner_->OnDragFiles(paths) : DROPEFFECT_NONE;
  *effect = effect_;
  return S_OK;
}

STDMETHODIMP FileDropTarget::DragOver(DWORD, POINTL, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  *effect = effect_;
  return S_OK;
}

STDMETHODIMP FileDropTarget::DragLeave() {
  effect_ = DROPEFFECT_NONE;
  return S_OK;
}

STDMETHODIMP FileDropTarget::Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) {
  if (!effect) return E_INVALIDARG;
  std::vector<std::wstring> paths;
  if (!owner_ || !ReadPaths(data, &paths)) {
    *effect = DROPEFFECT_NONE;
    effect_ = DROPEFFECT_NONE;
    return S_OK;
  }
  *effect = owner_->OnDragFiles(paths);
  effect_ = DROPEFFECT_NONE;
  if (*effect != DROPEFFECT_NONE) owner_->OnDropFiles(paths);
  return S_OK;
}

}  // namespace appf
