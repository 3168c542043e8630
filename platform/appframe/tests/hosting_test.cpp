// The sample program's frame in this process: the control from the form
// view's template, driven by dispatch id through the helper, its events at
// the view in order, and the sink unadvised when the view goes.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "appframe/app.h"
#include "appframe/event_sink.h"
#include "helpers.h"
#include "resource.h"
#include "sample.h"
#include "sample_app.h"

namespace {

using testing_appframe::Pump;

int Connections(IUnknown* control) {
  atl::ComPtr<IConnectionPointContainer> container;
  atl::ComPtr<IConnectionPoint> point;
  atl::ComPtr<IEnumConnections> connections;
  if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, container.OutVoid())) ||
      FAILED(container->FindConnectionPoint(DIID__DSampleControlEvents, point.Out())) ||
      FAILED(point->EnumConnections(connections.Out())))
    return -1;
  int n = 0;
  CONNECTDATA data;
  while (connections->Next(1, &data, nullptr) == S_OK) {
    data.pUnk->Release();
    ++n;
  }
  return n;
}

class Hosting : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(testing_appframe::RegisterSampleControl(false), 0u); }
  static void TearDownTestSuite() { EXPECT_EQ(testing_appframe::RegisterSampleControl(true), 0u); }

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(ole_));
    app_ = std::make_unique<appf::Application>(L"Hosting");
    app_->SetShowCommand(SW_HIDE);  // a shown window costs seconds to take down under Wine
    ASSERT_TRUE(app_->EnableControlContainer());
    app_->AddDocTemplate(sample::MakeTemplate(GetModuleHandleW(nullptr)));
    ASSERT_TRUE(app_->OnFileNew());
    frame_ = static_cast<sample::SampleFrame*>(app_->MainFrame());
    top_ = frame_->Top();
    ASSERT_NE(top_, nullptr);
    ASSERT_NE(top_->Control().Get(), nullptr) << "the control did not come up from the template";
    Pump(50);
  }
  void TearDown() override {
    app_.reset();
    Pump(20);
    if (SUCCEEDED(ole_)) OleUninitialize();
  }

  HRESULT ole_ = OleInitialize(nullptr);
  std::unique_ptr<appf::Application> app_;
  sample::SampleFrame* frame_ = nullptr;
  sample::ControlView* top_ = nullptr;
};

TEST_F(Hosting, TheControlComesUpFromTheTemplateAndTakesCallsByDispatchId) {
  HWND host = top_->Item(IDC_CONTROL);
  wchar_t cls[32] = {};
  GetClassNameW(host, cls, 32);
  EXPECT_STREQ(cls, L"AtlAxWin");
  EXPECT_NE(GetWindow(host, GW_CHILD), nullptr) << "the control's own window";
  // What the view set in its first update, read back.
  EXPECT_EQ(top_->Results(), std::vector<std::string>{"Caption=Sample program Level=30 Rate=2.5 Enabled=true"});

  appf::DispatchDriver& d = top_->Control();
  d.SetProperty(1, appf::DispArg::I2(70));
  EXPECT_EQ(d.GetShort(1), 70);
  d.SetProperty(2, appf::DispArg::I4(123456));
  EXPECT_EQ(d.GetLong(2), 123456);
  d.SetProperty(3, appf::DispArg::R4(0.25f));
  EXPECT_EQ(d.GetFloat(3), 0.25f);
  d.SetProperty(4, appf::DispArg::Text("caf\xe9"));  // 8-bit text in, 8-bit text out
  EXPECT_EQ(d.GetText(4), "caf\xe9");
  EXPECT_EQ(d.GetVariant(4).Type(), VT_BSTR);
  d.SetProperty(5, appf::DispArg::Bool(false));
  EXPECT_FALSE(d.GetBool(5));
  VARIANT note;
  VariantInit(&note);
  V_VT(&note) = VT_I4;
  V_I4(&note) = 12;
  d.SetProperty(7, appf::DispArg::Var(note));
  EXPECT_EQ(d.GetText(7), "12");

  // A method with outs: the count of words, the length, the upper case and
  // the words again through a VARIANT.
  LONG length = 0;
  std::string upper;
  VARIANT words;
  VariantInit(&words);
  LONG result = d.CallLong(8, {appf::DispArg::Text("ab  cd e"), appf::DispArg::I4Ref(&length),
                               appf::DispArg::TextRef(&upper), appf::DispArg::VarRef(&words)});
  EXPECT_EQ(result, 3);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(upper, "AB  CD E");
  EXPECT_EQ(V_VT(&words), VT_I4);
  EXPECT_EQ(V_I4(&words), 3);
  VariantClear(&words);
  EXPECT_EQ(d.CallLong(11, {appf::DispArg::Bool(true)}), 0) << "a void method answers 0";
}

TEST_F(Hosting, AFailedCallThrowsWithTheHresult) {
  appf::DispatchDriver& d = top_->Control();
  struct Case {
    const char* what;
    std::function<void()> call;
    HRESULT hr;
  } const cases[] = {
      {"unknown dispatch id", [&] { d.GetLong(99); }, DISP_E_MEMBERNOTFOUND},
      {"a method named by an unknown id", [&] { d.Call(77); }, DISP_E_MEMBERNOTFOUND},
      {"a long from words", [&] { d.SetProperty(2, appf::DispArg::Text("words")); }, DISP_E_TYPEMISMATCH},
      {"too few arguments", [&] { d.Call(9, {appf::DispArg::I4(1)}); }, DISP_E_BADPARAMCOUNT},
      {"the control refuses", [&] { d.Call(10, {appf::DispArg::I4(0), appf::DispArg::I4(5)}); }, DISP_E_EXCEPTION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      c.call();
      ADD_FAILURE() << "no exception";
    } catch (const appf::DispatchError& e) {
      EXPECT_EQ(e.Result(), c.hr) << e.what();
      if (c.hr == DISP_E_EXCEPTION) {
        EXPECT_EQ(e.Code(), E_INVALIDARG) << "the control's own code";
      }
    }
  }
  appf::DispatchDriver empty;
  EXPECT_THROW(empty.GetLong(1), appf::DispatchError);
}

TEST_F(Hosting, TheControlsCustomAndMouseEventsReachTheViewInOrder) {
  top_->Announce();
  top_->Announce();
  HWND w = GetWindow(top_->Item(IDC_CONTROL), GW_CHILD);
  ASSERT_NE(w, nullptr);
  PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, MAKELPARAM(12, 9));
  PostMessageW(w, WM_LBUTTONUP, MK_SHIFT, MAKELPARAM(12, 9));
  Pump(100);
  top_->Announce();
  EXPECT_EQ(top_->Events(), (std::vector<std::wstring>{L"Announced 1 hello", L"Announced 2 hello",
                                                       L"MouseDown 1 1 12 9", L"Click 1 1 12 9", L"MouseUp 1 1 12 9",
                                                       L"Announced 3 hello"}));
  EXPECT_EQ(frame_->Status().Text(0), L"Last event: Announced 3 hello") << "the status bar shows the last event";
}

TEST_F(Hosting, ClosingTheViewUnadvisesItsSinkAndTheControlModuleMayUnload) {
  atl::ComPtr<IUnknown> control;
  ASSERT_EQ(top_->HostedControl(IDC_CONTROL, control.Out()), S_OK);
  EXPECT_EQ(Connections(control.Get()), 1);
  EXPECT_EQ(appf::EventSink::Alive(), 1);
  SendMessageW(frame_->Handle(), WM_CLOSE, 0, 0);
  Pump(50);
  EXPECT_EQ(frame_->Handle(), nullptr);
  EXPECT_EQ(Connections(control.Get()), 0) << "the view's sink is still connected";
  EXPECT_EQ(appf::EventSink::Alive(), 0);
  EXPECT_EQ(top_->Control().Get(), nullptr);
  control.Reset();
  app_.reset();
  EXPECT_EQ(testing_appframe::ControlModuleCanUnload(), S_OK);
}

TEST_F(Hosting, TheLowerPanesButtonsAndTheMenuFollowTheDocumentsState) {
  auto* doc = static_cast<sample::SampleDoc*>(frame_->ActiveDocument());
  HWND start = frame_->Bottom()->Item(ID_RUN_START);
  SendMessageW(start, BM_CLICK, 0, 0);
  EXPECT_TRUE(doc->Running()) << "the button's command reached the document";
  app_->OnIdle(0);
  EXPECT_EQ(frame_->Status().Text(1), L"Running") << "the state pane follows on idle";
  SendMessageW(start, BM_CLICK, 0, 0);  // Start again: disabled, nothing happens
  EXPECT_EQ(doc->Starts(), 1);
  SendMessageW(frame_->Handle(), WM_COMMAND, ID_RUN_STOP, 0);
  EXPECT_FALSE(doc->Running());
  app_->OnIdle(0);
  EXPECT_EQ(frame_->Status().Text(1), L"Stopped");
  // The splitter is locked: a drag on its bar moves nothing.
  appf::StaticSplitter& s = frame_->Splitter();
  int top = s.RowHeight(0), bottom = s.RowHeight(1);
  SendMessageW(s.Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(50, top + 2));
  SendMessageW(s.Handle(), WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(50, top + 60));
  SendMessageW(s.Handle(), WM_LBUTTONUP, 0, MAKELPARAM(50, top + 60));
  EXPECT_EQ(s.RowHeight(0), top);
  EXPECT_EQ(s.RowHeight(1), bottom);
}

}  // namespace
