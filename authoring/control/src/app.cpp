#include "app.h"

#include <mlang.h>
#include <objbase.h>

namespace {
// Not in mingw's uuid library.
const IID kIID_IMultiLanguage2 = {0xDCCFC164, 0x2B38, 0x11D2, {0xB7, 0xEC, 0x00, 0xC0, 0x4F, 0x8F, 0x5D, 0x9A}};
}  // namespace

CKRActiveApp& CKRActiveApp::Instance() {
  static CKRActiveApp app;
  return app;
}

HRESULT CKRActiveApp::Start() {
  // A thread already in an apartment answers RPC_E_CHANGED_MODE: nothing to
  // undo then. A failed initialisation is not counted either.
  HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_SPEED_OVER_MEMORY);
  if (SUCCEEDED(hr)) {
    ++comInits_;
    comThread_ = GetCurrentThreadId();
  }
  if (!GetModuleHandleW(L"RICHED20.DLL")) richEdit_ = LoadLibraryW(L"riched20.dll");
  // Text code-page detection works without it (the locale helpers fall
  // back to the system's code page).
  if (!multiLanguage_)
    CoCreateInstance(CLSID_CMultiLanguage, nullptr, CLSCTX_INPROC_SERVER, kIID_IMultiLanguage2,
                     multiLanguage_.OutVoid());
  return S_OK;
}

void CKRActiveApp::End() {
  multiLanguage_.Reset();
  if (richEdit_) {
    FreeLibrary(richEdit_);
    richEdit_ = nullptr;
  }
  // COM's count belongs to the thread that made it: another thread's end
  // cannot undo it.
  if (comThread_ == GetCurrentThreadId()) {
    for (; comInits_ > 0; --comInits_) CoUninitialize();
  }
  comInits_ = 0;
  comThread_ = 0;
}
