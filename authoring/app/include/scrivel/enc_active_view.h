// The encoder view: a form view (template 150) hosting the authoring control
// (AtlAxWin child 1071, "KRACTIVE.KRActiveCtrl.1") through CScrivelControl.
// It pushes the session's settings into the control and pulls them back by
// setting items, re-applies the machine's scratch folder and network
// time-outs, and turns the control's events into view states, texts and
// notifications to the main frame and the summary view.
//
// Everything runs on the user-interface thread.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "appframe/drop_target.h"
#include "appframe/event_sink.h"
#include "appframe/view.h"
#include "scrivel/scrivel_control.h"
#include "scrivel/session_settings.h"

namespace scrivel {

constexpr UINT kEncoderViewTemplate = 150;
constexpr UINT kControlId = 1071;
constexpr UINT_PTR kViewTimer = 100;
constexpr UINT kViewTimerPeriod = 500;
// Notifications posted to the main frame.
constexpr UINT kLimitReached = WM_USER + 14;
constexpr UINT kOpenAfterDrop = WM_USER + 17;
constexpr UINT kCloseProgram = WM_USER + 26;
constexpr WPARAM kHelpCommand = 57670;

// The event interface `_DScrivelControlEvents`.
extern const IID kScrivelControlEvents;

// What the view needs of the main frame.
class EncoderFrame {
 public:
  virtual ~EncoderFrame() = default;
  virtual HWND FrameHandle() const = 0;  // notifications are posted here
  virtual void SetHint(const std::wstring& text) = 0;  // the status bar's hint
  virtual bool EncodingStatus() const = 0;
  virtual bool QuitAfterRun() const = 0;
  // A dropped file: the drop effect the frame would give it (0 or less:
  // none), and its opening.
  virtual int AcceptDroppedFile(const std::wstring& path) = 0;
  virtual void OpenDroppedFile(const std::wstring& path) = 0;
  // Set when a drop is to open what it brought once the drop is over.
  virtual bool OpenOnDrop() const = 0;
  virtual void ClearOpenOnDrop() = 0;
};

// What the view needs of the summary view.
class SummaryLink {
 public:
  virtual ~SummaryLink() = default;
  virtual void Refresh() = 0;        // redraw the summary view
  virtual void UpdateRecord() = 0;   // take the view's summary values
};

// View states.
enum ViewState : int { kReady, kRunFirstKind, kPreviewing, kRunThirdKind, kStopped, kRunning };

class CEncActiveView : public appf::FormView, public appf::DropOwner {
 public:
  CEncActiveView(HINSTANCE module, EncoderFrame& frame, SummaryLink& summary);
  ~CEncActiveView() override;

  CScrivelControl& Control() { return control_; }
  CSessionSettings& Record() { return *record_; }
  void SetRecord(const CSessionSettings& record) { record_->Copy(record); }

  // Binds the control of the template, advises the event sink and
  // registers the view as a drop target.
  void OnInitialUpdate() override;
  void OnDestroyView() override;
  // The event table on `sink` (the view's own, or a test's).
  void ConnectEvents(appf::EventSink& sink);

  // Setting items 0 to 50 (above 50 nothing); each reports 1.
  int LoadItem(int item);
  int SaveItem(int item);
  void LoadAll(bool partial);
  void SaveAll(bool partial);

  // The machine's scratch folder and network time-outs; the registry error
  // when the key (or the scratch value) cannot be read, else 0.
  LONG ApplyScratchDisk();
  LONG ApplyNetworkTimeOuts();

  // Files dragged over the view and dropped on it (at most 260 characters
  // each, the framework's target reads them).
  DWORD OnDragFiles(const std::vector<std::wstring>& paths) override;
  void OnDropFiles(const std::vector<std::wstring>& paths) override;

  // What the timer does on each tick (by the view state).
  void OnTimerTick();
  // The step common to stops and limits.
  void StopStep();

  int State() const { return state_; }
  void SetState(int state) { state_ = state; }
  bool Started() const { return started_; }
  bool StopRequested() const { return stopRequested_; }
  bool OutputNameInvalid() const { return outputNameInvalid_; }
  const std::wstring& StateText() const { return stateText_; }
  const std::wstring& StreamingText() const { return streamingText_; }
  const std::wstring& LimitMessage() const { return limitMessage_; }
  LONG StreamTime() const { return streamTime_; }

 private:
  void OnStart();
  void OnStop();
  void OnError(LONG code, const std::wstring& text);
  void OnLimit(bool duration);
  void OnCaptureDimChanged();
  void OnCustom(LONG kind);
  void Post(UINT message);
  void ShowMessage(const std::wstring& text, const wchar_t* caption, UINT icon);
  void RepaintStreamingArea();
  void Repaint(bool erase);

  CScrivelControl control_;
  EncoderFrame& frame_;
  SummaryLink& summary_;
  std::unique_ptr<CSessionSettings> record_;
  atl::ComPtr<appf::EventSink> sink_;
  atl::ComPtr<appf::FileDropTarget> dropTarget_;

  int state_ = kReady;
  int runKind_ = 0;  // 1, 2 (preview) or 3 while a run goes on
  bool started_ = false;        // the Start event arrived
  bool stopRequested_ = false;  // the one-shot stop of the timer
  bool stopPending_ = false;    // the user asked for a stop
  bool sizeLimit_ = false;
  bool durationLimit_ = false;
  bool connected_ = false;
  bool audioDeviceWarned_ = false;  // "No Audio Capture Device" shown in this run
  bool outputNameInvalid_ = false;
  bool endedByError_ = false;
  bool stillImageShown_ = false;  // the panel shows the still image of the run
  LONG streamTime_ = 0;
  std::wstring stateText_;
  std::wstring streamingText_;
  std::wstring limitMessage_;
};

}  // namespace scrivel
