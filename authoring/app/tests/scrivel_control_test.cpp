// The wrapper against the control's dispatch contract (which the control's
// type library is tested against): every operation reaches the control by
// the contract's dispatch id, form and parameter types.
#include "scrivel/scrivel_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <type_traits>

#include "ctlvane/contract.h"
#include "recording_dispatch.h"

namespace {

using scrivel::CScrivelControl;

// The contract's letter of a wrapper's result type.
template <class T>
char ResultLetter() {
  if constexpr (std::is_same_v<T, SHORT>) return 's';
  if constexpr (std::is_same_v<T, LONG>) return 'l';
  if constexpr (std::is_same_v<T, float>) return 'f';
  if constexpr (std::is_same_v<T, bool>) return 'b';
  if constexpr (std::is_same_v<T, std::string>) return 't';
  if constexpr (std::is_same_v<T, atl::Variant>) return 'v';
  return '?';
}

struct Operation {
  DISPID id;
  char form;    // 'G', 'P' or 'M'
  char result;  // the wrapper's result letter for gets and methods
  std::function<void(CScrivelControl&)> call;
};

template <class R>
Operation Get(DISPID id, R (CScrivelControl::*get)()) {
  return {id, 'G', ResultLetter<R>(), [get](CScrivelControl& c) { (c.*get)(); }};
}
template <class A>
Operation Set(DISPID id, void (CScrivelControl::*set)(A)) {
  return {id, 'P', 0, [set](CScrivelControl& c) { (c.*set)(std::remove_cvref_t<A>{}); }};
}
template <class R>
Operation Method(DISPID id, std::function<R(CScrivelControl&)> call) {
  return {id, 'M', ResultLetter<R>(), [call](CScrivelControl& c) { call(c); }};
}

const ctlvane::ContractMember* Contract(DISPID id) {
  for (size_t i = 0; i < ctlvane::kDispatchContractSize; ++i)
    if (ctlvane::kDispatchContract[i].dispid == id) return &ctlvane::kDispatchContract[i];
  return nullptr;
}

std::vector<Operation> AllOperations() {
  using C = CScrivelControl;
  static VARIANT v = {};  // VT_EMPTY: a VARIANT parameter
  static SHORT s;
  static LONG l, l2, l3;
  static float f;
  static bool b;
  static std::string t1, t2, t3, t4, t5;
  static atl::Variant out;
  return {
      Get(1, &C::GetEncWidth), Set(1, &C::SetEncWidth), Get(2, &C::GetNLayers), Set(2, &C::SetNLayers),
      Get(3, &C::GetEncHeight), Set(3, &C::SetEncHeight), Get(4, &C::GetBaseBitRate), Set(4, &C::SetBaseBitRate),
      Get(5, &C::GetEnBitRate), Set(5, &C::SetEnBitRate), Get(6, &C::GetBaseFrameRate),
      Set(6, &C::SetBaseFrameRate), Get(7, &C::GetEnFrameRate), Set(7, &C::SetEnFrameRate),
      Get(8, &C::GetIFrameInterval), Set(8, &C::SetIFrameInterval), Get(9, &C::GetMediaOut),
      Set(9, &C::SetMediaOut), Get(10, &C::GetStreamOut), Set(10, &C::SetStreamOut),
      Get(11, &C::GetOutputFileName), Set(11, &C::SetOutputFileName), Get(12, &C::GetSourceType),
      Set(12, &C::SetSourceType), Set(14, &C::SetEncoding), Get(15, &C::GetCapWidth), Set(15, &C::SetCapWidth),
      Get(16, &C::GetCapHeight), Set(16, &C::SetCapHeight), Get(17, &C::GetSrcFileName),
      Set(17, &C::SetSrcFileName), Set(18, &C::SetEnableSkin), Get(19, &C::GetBandwidth),
      Set(19, &C::SetBandwidth), Get(20, &C::GetContentVersion), Set(20, &C::SetContentVersion),
      Get(21, &C::GetMaxDuration), Set(21, &C::SetMaxDuration), Get(22, &C::GetUnitDuration),
      Set(22, &C::SetUnitDuration), Get(23, &C::GetMaxSize), Set(23, &C::SetMaxSize),
      Get(24, &C::GetProfileName), Set(24, &C::SetProfileName), Get(25, &C::GetBFullSearch),
      Set(25, &C::SetBFullSearch), Get(27, &C::GetBEnableFixedIFrame), Set(27, &C::SetBEnableFixedIFrame),
      Get(28, &C::GetBEncodeDownloadOnly), Set(28, &C::SetBEncodeDownloadOnly), Get(37, &C::GetBMultiplePass),
      Set(37, &C::SetBMultiplePass), Get(38, &C::GetBClientNoAudio), Set(38, &C::SetBClientNoAudio),
      Get(41, &C::GetBEnableVideoRandomPositioning), Set(41, &C::SetBEnableVideoRandomPositioning),
      Set(42, &C::SetScratchDisk), Get(43, &C::GetBEnableRandomPositioning),
      Set(43, &C::SetBEnableRandomPositioning),
      Method<LONG>(44, [](C& c) { return c.StartPlaying(); }),
      Method<LONG>(45, [](C& c) { return c.StopPlaying(); }),
      Method<LONG>(46, [](C& c) { return c.GetStreamTime(&l); }),
      Method<LONG>(47, [](C& c) { return c.GetVideoEncStats(&f, &l, &l2); }),
      Method<LONG>(49, [](C& c) { return c.GetVideoDeviceNames(out.Out(), &s); }),
      Method<LONG>(50, [](C& c) { return c.GetAudioDeviceNames(out.Out(), &s); }),
      Method<LONG>(51, [](C& c) { return c.SelectVideoDevice(0); }),
      Method<LONG>(52, [](C& c) { return c.SelectAudioDevice(0); }),
      Method<LONG>(54, [](C& c) { return c.LoadProfile(v); }),
      Method<LONG>(55, [](C& c) { return c.SaveProfile(v); }),
      Method<LONG>(56, [](C& c) { return c.GetFileInfo(v, &s, &s, &s, &f, &l, &s, &s); }),
      Method<LONG>(57, [](C& c) { return c.SaveSession(v); }),
      Method<LONG>(58, [](C& c) { return c.LoadSession(v); }),
      Method<LONG>(59, [](C& c) { return c.GetConfigVideoCapture(&s, &s, &s, &f); }),
      Method<LONG>(62, [](C& c) { return c.SetMetaData(v, v, v, v, v); }),
      Method<LONG>(63, [](C& c) { return c.GetMetaData(&t1, &t2, &t3, &t4, &t5); }),
      Method<LONG>(64, [](C& c) { return c.GetCurrentDeviceID(0, &s); }),
      Method<LONG>(65, [](C& c) { return c.CaptureStillImage(&l, out.Out()); }),
      Method<LONG>(66, [](C& c) { return c.SaveImgFile(v, v); }),
      Method<LONG>(67, [](C& c) { return c.SetStillImage(v, &s, out.Out(), true); }),
      Method<LONG>(68, [](C& c) { return c.GetStillImageFileName(&t1); }),
      Method<LONG>(69, [](C& c) { return c.GetAudioEncStats(0, &s, &l, &l2, &l3); }),
      Method<LONG>(72, [](C& c) { return c.SetPortNumber(1, 2, 3); }),
      Method<LONG>(73, [](C& c) { return c.GetPortNumber(&l, &l2, &l3); }),
      Method<LONG>(74, [](C& c) { return c.SetClientTimeOut(1, 2, 3); }),
      Method<LONG>(76, [](C& c) { return c.ShowPropDlg(); }),
      Method<LONG>(77, [](C& c) { return c.ValidateInputSource(&t1); }),
      Method<LONG>(78, [](C& c) { return c.SetPropDlgPath(v, v, v, v); }),
      Method<atl::Variant>(79, [](C& c) { return c.GetPropDlgPath(); }),
      Method<LONG>(80, [](C& c) { return c.ConfigAudioCodec(0, 2, true, 44100, 64000, 2); }),
      Method<LONG>(81, [](C& c) { return c.GetConfigAudioCodec(0, &s, &b, &l, &l2, &s); }),
      Method<LONG>(82, [](C& c) { return c.ShowPropDlgEx(6, v); }),
      Method<LONG>(83, [](C& c) { return c.ResetToDefaults(); }),
      Method<LONG>(84, [](C& c) { return c.GetTotalAudioKBytes(&l); }),
      Method<LONG>(85, [](C& c) { return c.GetTotalVideoKBytes(&l); }),
      Method<LONG>(98, [](C& c) { return c.ValidateOutputFile(&t1); }),
  };
}

TEST(ScrivelControl, EveryOperationMatchesTheContract) {
  std::vector<Operation> operations = AllOperations();
  for (const Operation& op : operations) {
    SCOPED_TRACE(std::string(1, op.form) + std::to_string(op.id));
    const ctlvane::ContractMember* member = Contract(op.id);
    ASSERT_NE(member, nullptr);
    RecordingDispatch control;
    CScrivelControl wrapper;
    wrapper.Driver().Attach(&control);
    op.call(wrapper);
    wrapper.Driver().Release();
    ASSERT_EQ(control.calls.size(), 1u);
    const RecordedCall& call = control.calls[0];
    EXPECT_EQ(call.id, op.id);
    EXPECT_EQ(call.form, op.form);
    switch (op.form) {
      case 'G':
        EXPECT_EQ(member->kind, ctlvane::MemberKind::kProperty);
        EXPECT_EQ(call.types, "");
        EXPECT_EQ(op.result, member->type);
        break;
      case 'P':
        EXPECT_EQ(member->kind, ctlvane::MemberKind::kProperty);
        EXPECT_EQ(call.types, std::string(1, member->type));
        break;
      default:
        EXPECT_EQ(member->kind, ctlvane::MemberKind::kMethod);
        EXPECT_EQ(call.types, member->params);
        EXPECT_EQ(op.result, member->type);
    }
  }
}

template <class C>
concept ReadsEncoding = requires(C c) { c.GetEncoding(); };
template <class C>
concept ReadsEnableSkin = requires(C c) { c.GetEnableSkin(); };
template <class C>
concept ReadsScratchDisk = requires(C c) { c.GetScratchDisk(); };

TEST(ScrivelControl, WriteOnlyPropertiesHaveNoGetter) {
  static_assert(!ReadsEncoding<CScrivelControl>);
  static_assert(!ReadsEnableSkin<CScrivelControl>);
  static_assert(!ReadsScratchDisk<CScrivelControl>);
  // The setters go out as puts of the contract's types.
  RecordingDispatch control;
  CScrivelControl wrapper;
  wrapper.Driver().Attach(&control);
  wrapper.SetEncoding(true);
  wrapper.SetEnableSkin(false);
  wrapper.SetScratchDisk("D:\\tmp\\");
  wrapper.Driver().Release();
  EXPECT_EQ(control.Sequence(), "P14 P18 P42");
  EXPECT_EQ(V_VT(&control.calls[0].args[0].Get()), VT_BOOL);
  EXPECT_EQ(V_BOOL(&control.calls[0].args[0].Get()), VARIANT_TRUE);
  EXPECT_EQ(VariantString(control.calls[2].args[0]), L"D:\\tmp\\");
}

TEST(ScrivelControl, ResultsPassThroughAndFailuresThrow) {
  RecordingDispatch control;
  CScrivelControl wrapper;
  wrapper.Driver().Attach(&control);
  control.values[1] = atl::Variant(352L);
  control.values[17] = atl::Variant(L"C:\\clips\\a.avi");
  EXPECT_EQ(wrapper.GetEncWidth(), 352);
  EXPECT_EQ(wrapper.GetSrcFileName(), "C:\\clips\\a.avi");
  control.failures[44] = static_cast<HRESULT>(0x800A03F2);
  try {
    wrapper.StartPlaying();
    ADD_FAILURE() << "no exception";
  } catch (const appf::DispatchError& e) {
    EXPECT_EQ(e.Result(), DISP_E_EXCEPTION);
    EXPECT_EQ(static_cast<uint32_t>(e.Code()), 0x800A03F2u);
  }
  wrapper.Driver().Release();
}

}  // namespace
