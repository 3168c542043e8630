// The sample's one class: a dual object safe to share between threads.
#pragma once

#include "atl/dispatch.h"
#include "atl/object.h"
#include "sample.h"

class SampleObject : public atl::ObjectRoot<atl::MultiThreaded>,
                     public atl::Dual<ISampleObject>,
                     public atl::ProvideClassInfo<SampleObject>,
                     public atl::SupportErrorInfo<SampleObject> {
 public:
  static constexpr bool kAggregatable = true;
  static const atl::InterfaceEntry* Interfaces();
  static const CLSID* ClassId() { return &CLSID_SampleObject; }
  static const IID* SourceInterface() { return &DIID__ISampleObjectEvents; }
  static const IID* const* ErrorInterfaces();

  STDMETHODIMP get_Count(LONG* value) override;
  STDMETHODIMP put_Count(LONG value) override;
  STDMETHODIMP Add(LONG value, LONG* total) override;
  STDMETHODIMP Join(BSTR separator, VARIANT items, VARIANT* itemCount, BSTR* joined) override;
  STDMETHODIMP Split(BSTR text, BSTR separator, VARIANT* parts) override;

 private:
  HRESULT Fail(const wchar_t* why, HRESULT hr);
  volatile LONG count_ = 0;
};
