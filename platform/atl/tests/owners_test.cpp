// The owners of interface pointers, BSTRs, VARIANTs and SAFEARRAYs: what
// each holds, copies and hands over.
#include <gtest/gtest.h>

#include "atl/owners.h"

namespace {

using atl::Bstr;
using atl::ComPtr;
using atl::SafeArray;
using atl::Variant;

// Counts its references; never deleted by them.
class Counted : public IPersist {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist)) {
      *out = static_cast<IPersist*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
  STDMETHODIMP_(ULONG) Release() override { return --refs; }
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  ULONG refs = 0;
};

TEST(ComPtrOwner, CountsEveryReferenceItTakesAndGives) {
  Counted object;
  {
    ComPtr<IPersist> a(&object);
    EXPECT_EQ(object.refs, 1u);
    ComPtr<IPersist> b = a;
    EXPECT_EQ(object.refs, 2u);
    ComPtr<IPersist> c = std::move(b);
    EXPECT_EQ(object.refs, 2u) << "a move takes no reference";
    EXPECT_FALSE(b);
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(c.As(&unknown), S_OK);
    EXPECT_EQ(object.refs, 3u);
    ComPtr<IDispatch> dispatch;
    EXPECT_EQ(c.As(&dispatch), E_NOINTERFACE);
    IPersist* given = nullptr;
    EXPECT_EQ(c.CopyTo(&given), S_OK);
    EXPECT_EQ(object.refs, 4u);
    given->Release();
    IPersist* detached = c.Detach();
    EXPECT_EQ(object.refs, 3u);
    c.Attach(detached);
    EXPECT_EQ(object.refs, 3u) << "attach takes over the caller's reference";
    c.Reset();
    EXPECT_EQ(object.refs, 2u);
  }
  EXPECT_EQ(object.refs, 0u);
  ComPtr<IPersist> none;
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(none.As(&unknown), E_POINTER);
}

TEST(BstrOwner, KeepsLengthAndCopiesDeeply) {
  Bstr withNull(L"a\0b", 3);
  EXPECT_EQ(withNull.Length(), 3u) << "an embedded null is part of the string";
  Bstr copy = withNull;
  EXPECT_NE(copy.Get(), withNull.Get());
  EXPECT_TRUE(copy == withNull);
  EXPECT_FALSE(copy == Bstr(L"a"));
  EXPECT_TRUE(Bstr() == Bstr(L"")) << "a null BSTR is the empty string";
  EXPECT_STREQ(Bstr().Text(), L"");

  BSTR out = nullptr;
  EXPECT_EQ(withNull.CopyTo(&out), S_OK);
  EXPECT_EQ(SysStringLen(out), 3u);
  SysFreeString(out);
  EXPECT_EQ(withNull.CopyTo(nullptr), E_POINTER);

  BSTR taken = copy.Detach();
  EXPECT_EQ(copy.Get(), nullptr);
  copy.Attach(taken);
  EXPECT_EQ(copy.Get(), taken);
  *copy.Out() = SysAllocString(L"new");
  EXPECT_STREQ(copy.Text(), L"new");
}

TEST(VariantOwner, CopiesDeeplyAndReadsThroughReferences) {
  Variant text(L"five");
  Variant copy = text;
  EXPECT_EQ(copy.Type(), VT_BSTR);
  EXPECT_NE(V_BSTR(&copy.Get()), V_BSTR(&text.Get())) << "a copy owns its own string";

  // A script's variable arrives as a reference to a VARIANT.
  VARIANT target = text.Get();
  VARIANT ref;
  VariantInit(&ref);
  V_VT(&ref) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&ref) = &target;
  Variant read;
  ASSERT_EQ(read.CopyFrom(ref), S_OK);
  EXPECT_EQ(read.Type(), VT_BSTR);
  EXPECT_STREQ(V_BSTR(&read.Get()), L"five");

  EXPECT_EQ(read.ChangeType(VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(read.Type(), VT_BSTR) << "a failed conversion keeps the value";
  Variant number(L"42");
  ASSERT_EQ(number.ChangeType(VT_I4), S_OK);
  EXPECT_EQ(V_I4(&number.Get()), 42);

  VARIANT out;
  VariantInit(&out);
  ASSERT_EQ(text.CopyTo(&out), S_OK);
  EXPECT_STREQ(V_BSTR(&out), L"five");
  ASSERT_EQ(number.Detach(&out), S_OK) << "the old string in out is cleared, not leaked over";
  EXPECT_EQ(V_VT(&out), VT_I4);
  EXPECT_EQ(number.Type(), VT_EMPTY);
  Variant back;
  back.Attach(&out);
  EXPECT_EQ(V_VT(&out), VT_EMPTY);
  EXPECT_EQ(V_I4(&back.Get()), 42);
  EXPECT_EQ(text.CopyTo(nullptr), E_POINTER);
}

TEST(SafeArrayOwner, BoundsElementsAndCopies) {
  SafeArray empty;
  LONG lower = 0, upper = 0;
  EXPECT_EQ(empty.Bounds(&lower, &upper), E_INVALIDARG);
  EXPECT_EQ(empty.Dimensions(), 0u);

  SafeArray words;
  ASSERT_EQ(words.Create(VT_BSTR, 1, 3), S_OK);
  EXPECT_EQ(words.Dimensions(), 1u);
  EXPECT_EQ(words.ElementType(), VT_BSTR);
  ASSERT_EQ(words.Bounds(&lower, &upper), S_OK);
  EXPECT_EQ(lower, 1);
  EXPECT_EQ(upper, 3);
  Bstr word(L"two");
  ASSERT_EQ(words.Put(2, word.Get()), S_OK) << "the array keeps a copy";
  word = Bstr(L"changed");
  Bstr fetched;
  ASSERT_EQ(words.Fetch(2, fetched.Out()), S_OK);
  EXPECT_STREQ(fetched.Text(), L"two");
  EXPECT_EQ(words.Fetch(4, fetched.Out()), DISP_E_BADINDEX);
  EXPECT_EQ(words.Fetch(0, fetched.Out()), DISP_E_BADINDEX);

  SafeArray copy;
  ASSERT_EQ(copy.CopyFrom(words.Get()), S_OK);
  EXPECT_NE(copy.Get(), words.Get());
  SafeArray moved = std::move(words);
  EXPECT_EQ(words.Get(), nullptr);
  ASSERT_EQ(copy.Fetch(2, fetched.Out()), S_OK);
  EXPECT_STREQ(fetched.Text(), L"two");
  EXPECT_EQ(copy.CopyFrom(nullptr), E_POINTER);
}

}  // namespace
