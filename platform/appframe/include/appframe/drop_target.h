// A drop target for files (CF_HDROP): while files are dragged over its
// window the owner says what a drop would do, and on the drop the owner
// gets the paths in order. Data without a file list is refused.
#pragma once

#include <windows.h>
#include <ole2.h>

#include <string>
#include <vector>

#include "atl/owners.h"

namespace appf {

class DropOwner {
 public:
  virtual ~DropOwner() = default;
  // The drop effect for these paths (DROPEFFECT_NONE refuses them).
  virtual DWORD OnDragFiles(const std::vector<std::wstring>& paths) {
    (void)paths;
    return DROPEFFECT_COPY;
  }
  virtual void OnDropFiles(const std::vector<std::wstring>& paths) = 0;
};

class FileDropTarget : public IDropTarget {
 public:
  // A new target with one reference, the caller's.
  static atl::ComPtr<FileDropTarget> Create(DropOwner* owner);
  // The paths of a data object's file list (each at most MAX_PATH - 1
  // characters); false when it holds none.
  static bool ReadPaths(IDataObject* data, std::vector<std::wstring>* paths);

  // RegisterDragDrop on the window (OLE must be started); Revoke undoes
  // it (the owner must outlive the registration).
  HRESULT Register(HWND window);
  void Revoke();

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP DragEnter(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;
  STDMETHODIMP DragOver(DWORD keys, POINTL point, DWORD* effect) override;
  STDMETHODIMP DragLeave() override;
  STDMETHODIMP Drop(IDataObject* data, DWORD keys, POINTL point, DWORD* effect) override;

 private:
  explicit FileDropTarget(DropOwner* owner) : owner_(owner) {}
  virtual ~FileDropTarget() = default;

  volatile LONG refs_ = 1;
  DropOwner* owner_;
  HWND window_ = nullptr;
  DWORD effect_ = DROPEFFECT_NONE;  // the owner's answer for the data being dragged
};

}  // namespace appf
