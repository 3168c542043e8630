// The sample control: a notifying property of each type the authoring
// control uses (Level refuses values outside 0..100), a method with outs,
// two custom events, drawing in its back colour and a property page.
#pragma once

#include "olecontrol/control.h"
#include "olecontrol/property_page.h"
#include "sample.h"

// The property page's class (not in the type library: hosts find it
// through ISpecifyPropertyPages).
extern const CLSID CLSID_SamplePage;

class SampleControl : public olectl::COleControl {
 public:
  static const olectl::ControlClass& Class();
  static const atl::InterfaceEntry* Interfaces() { return ControlInterfaces<SampleControl>(); }

  SampleControl();
  void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid) override;
  void OnResetState() override;
  void AboutBox() override;
  void OnDropFiles(const std::vector<std::wstring>& files, POINT client) override;

 private:
  void OnLevelChanged();
  HRESULT Measure(olectl::DispArgs& args, VARIANT* result);

  SHORT level_ = 0;
  SHORT acceptedLevel_ = 0;  // what a refused write puts back
  LONG count_ = 0;
  float rate_ = 0;
  atl::Bstr caption_;
  VARIANT_BOOL enabled_ = VARIANT_TRUE;
  OLE_COLOR backColor_ = 0;
  atl::Variant note_;
};

// The page edits Caption and Count.
class SamplePage : public olectl::PropertyPage {
 public:
  static const atl::InterfaceEntry* Interfaces() { return PageInterfaces<SamplePage>(); }
  SamplePage();
  void OnRead(IDispatch* object) override;
  HRESULT OnApply(IDispatch* object) override;
};
