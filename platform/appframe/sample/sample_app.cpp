#include "sample_app.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <fstream>

#include "appframe/event_sink.h"
#include "resource.h"
#include "sample.h"

namespace sample {

namespace {

std::string Utf8(const std::wstring& text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace

SampleDoc::SampleDoc() {
  OnCommand(ID_RUN_START, [this] {
    running_ = true;
    ++starts_;
  });
  OnCommand(ID_RUN_STOP, [this] { running_ = false; });
  OnUpdate(ID_RUN_START, [this](appf::CmdUI& ui) { ui.Enable(!running_); });
  OnUpdate(ID_RUN_STOP, [this](appf::CmdUI& ui) { ui.Enable(running_); });
  OnUpdate(ID_CONTROL_RUNNING, [this](appf::CmdUI& ui) {
    ui.Enable(true);
    ui.SetCheck(running_);
  });
  OnUpdate(ID_INDICATOR_STATE, [this](appf::CmdUI& ui) { ui.SetText(running_ ? L"Running" : L"Stopped"); });
}

bool SampleDoc::OnNewDocument() {
  ++newCount_;
  running_ = false;
  SetTitle(newCount_ == 1 ? L"Untitled" : L"Untitled " + std::to_wstring(newCount_));
  return true;
}

ControlView::ControlView() : FormView(GetModuleHandleW(nullptr), IDD_CONTROL_FORM) {
  OnCommand(ID_CONTROL_ANNOUNCE, [this] { Announce(); });
  OnCommand(ID_CONTROL_MEASURE, [this] { Measure(); });
}

void ControlView::Record(const std::wstring& event) {
  events_.push_back(event);
  if (Frame()) Frame()->SetMessageText(L"Last event: " + event);
}

void ControlView::OnInitialUpdate() {
  if (control_.Get()) return;  // a second new document keeps the control
  if (FAILED(BindControl(IDC_CONTROL, &control_))) {
    if (Frame()) Frame()->SetMessageText(L"The sample control is not registered");
    return;
  }
  atl::ComPtr<appf::EventSink> sink;
  if (SUCCEEDED(AdviseEvents(IDC_CONTROL, DIID__DSampleControlEvents, &sink))) {
    sink->On(1, [this](const appf::EventArgs& a) {
      Record(L"Announced " + std::to_wstring(a.Long(0)) + L" " + a.Text(1));
    });
    auto mouse = [this](const wchar_t* name) {
      return [this, name](const appf::EventArgs& a) {
        Record(std::wstring(name) + L" " + std::to_wstring(a.Short(0)) + L" " + std::to_wstring(a.Short(1)) + L" " +
               std::to_wstring(a.Long(2)) + L" " + std::to_wstring(a.Long(3)));
      };
    };
    sink->On(-605, mouse(L"MouseDown"));
    sink->On(-600, mouse(L"Click"));
    sink->On(-607, mouse(L"MouseUp"));
    sink->On(-601, mouse(L"DblClick"));
  }
  drop_ = appf::FileDropTarget::Create(this);
  if (drop_) drop_->Register(Handle());
  try {
    control_.SetProperty(4, appf::DispArg::Text("Sample program"));
    control_.SetProperty(1, appf::DispArg::I2(30));
    control_.SetProperty(3, appf::DispArg::R4(2.5f));
    control_.SetProperty(5, appf::DispArg::Bool(true));
    results_.push_back("Caption=" + control_.GetText(4) + " Level=" + std::to_string(control_.GetShort(1)) +
                       " Rate=" + std::to_string(control_.GetFloat(3)).substr(0, 3) +
                       " Enabled=" + (control_.GetBool(5) ? "true" : "false"));
  } catch (const appf::DispatchError& e) {
    results_.push_back(std::string("error ") + e.what());
  }
}

void ControlView::OnDestroyView() {
  if (drop_) drop_->Revoke();
  drop_.Reset();
  control_.Release();
}

void ControlView::OnDropFiles(const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) Record(L"Dropped " + path);
}

void ControlView::Announce() {
  try {
    control_.Call(9, {appf::DispArg::I4(++announced_), appf::DispArg::Text("hello")});
  } catch (const appf::DispatchError& e) {
    results_.push_back(std::string("error ") + e.what());
  }
}

void ControlView::Measure() {
  LONG length = 0;
  std::string upper;
  VARIANT words;
  VariantInit(&words);
  try {
    LONG r = control_.CallLong(8, {appf::DispArg::Text("one two three"), appf::DispArg::I4Ref(&length),
                                   appf::DispArg::TextRef(&upper), appf::DispArg::VarRef(&words)});
    VariantChangeType(&words, &words, 0, VT_I4);
    results_.push_back("Measure=" + std::to_string(r) + " " + std::to_string(length) + " " + upper + " " +
                       std::to_string(V_VT(&words) == VT_I4 ? V_I4(&words) : -1));
    if (Frame()) Frame()->SetMessageText(L"Measured " + std::to_wstring(r) + L" words");
  } catch (const appf::DispatchError& e) {
    results_.push_back(std::string("error ") + e.what());
  }
  VariantClear(&words);
}

TabsView::TabsView() : FormView(GetModuleHandleW(nullptr), IDD_TABS_FORM) {
  On(WM_SIZE, [this](WPARAM, LPARAM l) -> LRESULT {
    Layout(LOWORD(l), HIWORD(l));
    return 0;
  });
  OnNotify(IDC_TABS, TCN_SELCHANGE, [this](NMHDR*) -> LRESULT {
    LRESULT tab = SendMessageW(Item(IDC_TABS), TCM_GETCURSEL, 0, 0);
    if (Frame()) Frame()->SetMessageText(L"Tab " + std::to_wstring(tab));
    return 0;
  });
}

void TabsView::OnInitialUpdate() {
  HWND tabs = Item(IDC_TABS);
  if (SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0) == 0) {
    const wchar_t* names[] = {L"Input", L"Clip Info", L"Encoding", L"Output"};
    for (int i = 0; i < 4; ++i) {
      TCITEMW item = {};
      item.mask = TCIF_TEXT;
      item.pszText = const_cast<wchar_t*>(names[i]);
      SendMessageW(tabs, TCM_INSERTITEMW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    }
  }
  SendMessageW(tabs, TCM_SETCURSEL, 2, 0);
  RECT r;
  GetClientRect(Handle(), &r);
  Layout(r.right, r.bottom);
}

void TabsView::Layout(int width, int height) {
  // The tab strip fills the pane above a row of buttons along the bottom.
  MoveWindow(Item(IDC_TABS), 12, 5, width > 24 ? width - 24 : 0, height > 40 ? height - 40 : 0, TRUE);
  const UINT buttons[] = {IDC_PROPERTIES, IDC_PREVIEW, ID_RUN_START, ID_RUN_STOP};
  for (int i = 0; i < 4; ++i) MoveWindow(Item(buttons[i]), 12 + i * 110, height - 30, 100, 25, TRUE);
}

bool SampleFrame::OnCreateFrame() {
  if (!CreateStatusBar({400, -1})) return false;
  Status().SetPaneCommand(1, ID_INDICATOR_STATE);
  SetMessageText(L"Ready");
  return true;
}

bool SampleFrame::OnCreateClient(appf::CreateContext& context) {
  if (!splitter_.CreateStatic(Handle(), 2, 1)) return false;
  RECT client;
  GetClientRect(Handle(), &client);
  if (!splitter_.CreateView(0, 0, std::make_unique<ControlView>(), SIZE{client.right, 200}, context.document, this) ||
      !splitter_.CreateView(1, 0, std::make_unique<TabsView>(), SIZE{client.right, 150}, context.document, this))
    return false;
  // The rows are the program's to size, not the user's.
  splitter_.SetLocked(true);
  SetActiveView(splitter_.Pane(0, 0));
  return true;
}

std::unique_ptr<appf::SingleDocTemplate> MakeTemplate(HINSTANCE module) {
  return std::make_unique<appf::SingleDocTemplate>(
      module, IDR_MAINFRAME, [] { return std::make_unique<SampleDoc>(); },
      [] { return std::make_unique<SampleFrame>(); }, nullptr);
}

SampleApp::SampleApp() : Application(L"AppFrame Sample") {}

bool SampleApp::InitInstance() {
  if (!EnableControlContainer()) return false;
  EnableRichEdit();
  SetRegistryKey(L"Kestrune");
  LoadStdProfileSettings(4);
  AddDocTemplate(MakeTemplate(Instance()));
  int count = 0;
  // The program's name first, as CommandLineToArgvW expects.
  std::wstring line = L"x " + CommandLine();
  if (wchar_t** args = CommandLineToArgvW(line.c_str(), &count)) {
    if (count == 3 && std::wstring(args[1]) == L"/selftest") reportPath_ = args[2];
    LocalFree(args);
  }
  if (!OnFileNew()) {
    SetExitCode(2);
    return false;
  }
  if (!reportPath_.empty()) MainFrame()->StartTimer(1, 150, [this] { Step(); });
  return true;
}

void SampleApp::Report(const std::string& line) { report_ += line + "\n"; }

void SampleApp::WriteReport() const {
  if (reportPath_.empty()) return;
  std::ofstream out(reportPath_.c_str(), std::ios::binary);
  out << report_;
}

void SampleApp::Step() {
  auto* frame = static_cast<SampleFrame*>(MainFrame());
  ControlView* top = frame->Top();
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  auto control = [&](bool down) {
    keys[VK_CONTROL] = down ? 0x80 : 0;
    SetKeyboardState(keys);
  };
  switch (step_++) {
    case 0:  // Ctrl+A through the message loop's accelerators
      control(true);
      PostMessageW(frame->Handle(), WM_KEYDOWN, 'A', 1);
      break;
    case 1:
      control(false);
      PostMessageW(frame->Handle(), WM_COMMAND, ID_CONTROL_MEASURE, 0);
      break;
    case 2: {  // a click on the control
      HWND w = GetWindow(top->Item(IDC_CONTROL), GW_CHILD);
      PostMessageW(w, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(30, 20));
      PostMessageW(w, WM_LBUTTONUP, 0, MAKELPARAM(30, 20));
      break;
    }
    case 3:  // Ctrl+N: a new document
      control(true);
      PostMessageW(frame->Handle(), WM_KEYDOWN, 'N', 1);
      break;
    case 4:  // the lower pane's Start button, a command for the document
      control(false);
      SendMessageW(frame->Bottom()->Item(ID_RUN_START), BM_CLICK, 0, 0);
      break;
    case 5:  // an idle turn passes: the state pane follows
      break;
    default: {
      control(false);
      frame->StopTimer(1);
      for (const std::string& r : top->Results()) Report(r);
      for (const std::wstring& e : top->Events()) Report("event " + Utf8(e));
      auto* doc = static_cast<SampleDoc*>(frame->ActiveDocument());
      Report("new documents " + std::to_string(doc->NewCount()) + ", running " + (doc->Running() ? "yes" : "no"));
      Report("status " + Utf8(frame->Status().Text(0)) + " | " + Utf8(frame->Status().Text(1)));
      wchar_t title[128] = {};
      GetWindowTextW(frame->Handle(), title, 128);
      Report("title " + Utf8(title));
      Report("top " + std::to_string(frame->Splitter().RowHeight(0)) + " bottom " +
             std::to_string(frame->Splitter().RowHeight(1)));
      WriteReport();
      if (HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"KrAppFrameSampleReady")) {
        SetEvent(ready);
        CloseHandle(ready);
      }
    }
  }
}

int SampleApp::ExitInstance() {
  // Everything the control's module made must be gone with the windows.
  CoFreeUnusedLibraries();
  HMODULE dll = GetModuleHandleW(L"KrSampleControl.dll");
  HRESULT canUnload = S_OK;
  if (dll) {
    auto fn = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
    canUnload = fn ? fn() : E_FAIL;
  }
  Report(std::string("at exit: sinks ") + std::to_string(appf::EventSink::Alive()) + ", control module " +
         (canUnload == S_OK ? "may unload" : "still in use"));
  if (canUnload != S_OK || appf::EventSink::Alive() != 0) SetExitCode(3);
  WriteReport();
  return Application::ExitInstance();
}

}  // namespace sample
