// The sample single-document program: a locked two-row splitter with a
// form view hosting the sample control on top and a form view with a tab
// strip and buttons below, a menu whose update handlers follow the
// document's state, accelerators, and a status bar showing the control's
// last event. Properties and methods go through the dispatch helper.
#pragma once

#include <string>
#include <vector>

#include "appframe/app.h"
#include "appframe/dispatch_driver.h"
#include "appframe/drop_target.h"
#include "appframe/frame.h"
#include "appframe/splitter.h"
#include "appframe/view.h"

namespace sample {

class SampleDoc : public appf::Document {
 public:
  SampleDoc();
  bool OnNewDocument() override;
  bool Running() const { return running_; }
  int NewCount() const { return newCount_; }
  int Starts() const { return starts_; }

 private:
  bool running_ = false;
  int newCount_ = 0;
  int starts_ = 0;
};

// The upper pane: the sample control from the template, driven by dispatch
// id, its events logged in order.
class ControlView : public appf::FormView, public appf::DropOwner {
 public:
  ControlView();
  void OnInitialUpdate() override;
  void OnDestroyView() override;
  void OnDropFiles(const std::vector<std::wstring>& paths) override;

  appf::DispatchDriver& Control() { return control_; }
  const std::vector<std::wstring>& Events() const { return events_; }
  // What the dispatch calls gave, one line each.
  const std::vector<std::string>& Results() const { return results_; }
  void Announce();
  void Measure();

 private:
  void Record(const std::wstring& event);

  appf::DispatchDriver control_;
  atl::ComPtr<appf::FileDropTarget> drop_;
  std::vector<std::wstring> events_;
  std::vector<std::string> results_;
  LONG announced_ = 0;
};

// The lower pane: four tabs and four buttons along the bottom edge.
class TabsView : public appf::FormView {
 public:
  TabsView();
  void OnInitialUpdate() override;
  void Layout(int width, int height);
};

class SampleFrame : public appf::FrameWindow {
 public:
  bool OnCreateFrame() override;
  bool OnCreateClient(appf::CreateContext& context) override;
  appf::StaticSplitter& Splitter() { return splitter_; }
  ControlView* Top() const { return static_cast<ControlView*>(splitter_.Pane(0, 0)); }
  TabsView* Bottom() const { return static_cast<TabsView*>(splitter_.Pane(1, 0)); }

 private:
  appf::StaticSplitter splitter_;
};

// The template of the program (resource ids from this module).
std::unique_ptr<appf::SingleDocTemplate> MakeTemplate(HINSTANCE module);

class SampleApp : public appf::Application {
 public:
  SampleApp();
  bool InitInstance() override;
  int ExitInstance() override;

 private:
  // "/selftest report": drives the program as a user would, then writes
  // what happened to the report and signals the named event
  // "KrAppFrameSampleReady".
  void Step();
  void Report(const std::string& line);
  void WriteReport() const;

  std::wstring reportPath_;
  std::string report_;
  int step_ = 0;
  bool failed_ = false;
};

}  // namespace sample
