// Ctlvane's module start and end (`CKRActiveApp`): COM for the thread that
// first asks for a class object, counted so that the end undoes only what
// the start did; the rich edit library; the multi-language text support.
#pragma once

#include <windows.h>

#include "atl/owners.h"

class CKRActiveApp {
 public:
  HRESULT Start();
  void End();
  // COM initialisations the start made and the end will undo.
  int ComInitCount() const { return comInits_; }
  // Multi-language support (IMultiLanguage2), null where the system has none.
  IUnknown* MultiLanguage() const { return multiLanguage_.Get(); }

  static CKRActiveApp& Instance();

 private:
  int comInits_ = 0;
  DWORD comThread_ = 0;
  HMODULE richEdit_ = nullptr;
  atl::ComPtr<IUnknown> multiLanguage_;
};
