// VariantCol: the list a collection method hands a script host, read by
// count and index. It owns copies of everything it was given.
#pragma once

#include "atl/dispatch.h"
#include "atl/object.h"
#include "atl/owners.h"
#include "ctlvane.h"

class VariantCol : public atl::ObjectRoot<atl::SingleThreaded>, public atl::Dual<IVariantCol> {
 public:
  static const atl::InterfaceEntry* Interfaces();

  // A one-dimensional array of 32-bit integers, of strings or of VARIANTs
  // (what a script builds); anything else is E_INVALIDARG and keeps the
  // items held before.
  STDMETHODIMP Init(VARIANT* items) override;
  // Writes a copy of item `index` into `item` (an out parameter: its old
  // content is not freed); an index outside the items leaves it as it was.
  STDMETHODIMP get_ItemVar(int index, VARIANT* item) override;
  STDMETHODIMP get_NumItems(short* count) override;

 private:
  atl::SafeArray items_;  // VARIANTs from index 0; none before Init
};
