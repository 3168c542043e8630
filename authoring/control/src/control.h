// The authoring control `CKRActiveCtrl`: the properties of `_DScrivelControl`
// with their rules and their copies in the media engine's four settings
// records, the methods built so far, failures reported through `KRError`,
// the mouse buttons with Click, DblClick and the context menu, and dropped
// files, and the settings methods (settings.cpp). Methods that belong to
// the engine binding, encoding, statistics, sessions and still images answer
// E_NOTIMPL for now; ShowPropDlg answers that it cannot show pages until a
// settings sheet is set.
#pragma once

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ctlvane.h"
#include "ctlvane/contract.h"
#include "ctlvane/rules.h"
#include "ctlvane/settings.h"
#include "mediaengine/interfaces.h"
#include "olecontrol/control.h"
#include "olecontrol/property_page.h"

// Event dispatch ids of `_DScrivelControlEvents`.
enum ControlEvent : DISPID {
  kEventStart = 1,
  kEventStop = 2,
  kEventKRError = 3,
  kEventConnected = 4,
  kEventConnectionPaused = 5,
  kEventSecurityCheck = 6,
  kEventClientStatus = 7,
  kEventPortError = 8,
  kEventDropFiles = 9,
  kEventCaptureDimChanged = 12,
  kEventCustom = 13,
};

extern const CLSID CLSID_KRActivePropPage;

// The engine's source information record as the settings model keeps it.
ctlvane::SourceInfo SourceInfoFrom(const KRSourceFileInfo& record);

class CKRActiveCtrl : public olectl::COleControl {
 public:
  static const olectl::ControlClass& Class();
  static const atl::InterfaceEntry* Interfaces() { return ControlInterfaces<CKRActiveCtrl>(); }

  CKRActiveCtrl();

  // Turns `code` into its message and fires KRError (sc, text, "", 0).
  void ReportError(HRESULT code);

  // The records as the engine will get them (video, audio, output,
  // application, back to back).
  mediaengine::KRSettingsRecords& Records() { return records_; }
  // 0, 1 stopped; 2 paused; 3 encoding.
  void SetRunState(int state) { runState_ = state; }
  // The engine once it is bound; null until then.
  void SetEngine(IUnknown* engine) { engine_ = engine; }

  void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid) override;
  void OnResetState() override;
  void AboutBox() override;
  void OnDropFiles(const std::vector<std::wstring>& files, POINT client) override;

  // ---- settings model (settings.cpp) ----------------------------------------
  // The working and committed settings; `Records()` is the committed set.
  ctlvane::SettingsModel& Settings() { return settings_; }
  ctlvane::SettingsHost& SettingsHostFor() { return *settingsHost_; }
  // The settings sheet (page, display text; true for OK), which edits
  // `Settings().working`; until it is set ShowPropDlg cannot show pages.
  using SettingsSheet = std::function<bool(int page, std::u16string_view text)>;
  void SetSettingsSheet(SettingsSheet sheet) { settingsSheet_ = std::move(sheet); }
  // Runs the sheet on the working settings; OK commits them. False for
  // Cancel or a sheet that could not be shown.
  bool ShowSettingsSheet(int page, std::u16string_view text);
  // The properties and the capture size after a commit.
  void AfterCommit();
  // A message of the settings model in the module's words.
  static std::u16string SettingsText(const ctlvane::Message& message);
  // ---- end of settings model --------------------------------------------------

 private:
  // ---- settings model (settings.cpp) ----------------------------------------
  class SettingsHostImpl;
  void InitSettings();
  HRESULT ShowPropDlg(int page, std::u16string_view text);
  // The file checks of `srcFileName` (its refusal, or S_OK) and of
  // `OutputFileName` (the extension fixed in `name`).
  HRESULT CheckSourceFile(const std::u16string& name);
  bool CheckOutputFileName(std::u16string* name);
  ctlvane::SettingsModel settings_;
  std::unique_ptr<ctlvane::SettingsHost> settingsHost_;  // a SettingsHostImpl
  SettingsSheet settingsSheet_;
  // ---- end of settings model --------------------------------------------------

  template <class T>
  void BindNumber(DISPID id, T* member, std::function<void()> accepted = {});
  // `check` may refuse an accepted length with its code, or mend the text.
  template <class T>
  void BindText(DISPID id, T* member, std::function<HRESULT(std::u16string*)> check = {});
  void BindMethods();
  // The "set by reset" properties from the records.
  void PropertiesFromRecords();
  void OnEncPreviewTypeChanged();
  void OnGuiModeChanged();
  void Layout();

  void OnButtonDown(SHORT button, WPARAM keys, POINT point);
  void ShowContextMenu();
  HRESULT SetPortNumber(olectl::DispArgs& args);
  HRESULT GetPortNumber(olectl::DispArgs& args);
  HRESULT SetClientTimeOut(olectl::DispArgs& args);
  HRESULT GetClientTimeOut(olectl::DispArgs& args);
  HRESULT GrantConnection(olectl::DispArgs& args);

  // The committed settings, which the properties edit and the engine gets.
  mediaengine::KRSettingsRecords& records_ = settings_.committed;
  atl::ComPtr<IUnknown> engine_;
  int runState_ = 0;
  // Values of the control's own numeric properties last accepted (what a
  // refused write puts back where no record holds the value).
  std::map<DISPID, double> accepted_;
  bool customDisplay_ = false;
  bool displayShown_ = false;

  // Properties, by dispatch id.
  SHORT encWidth_ = 0, nLayers_ = 0, encHeight_ = 0;
  LONG baseBitRate_ = 0, enBitRate_ = 0;
  float baseFrameRate_ = 0, enFrameRate_ = 0;
  SHORT iFrameInterval_ = 0, mediaOut_ = 0, streamOut_ = 0;
  atl::Bstr outputFileName_;
  SHORT sourceType_ = 0, encPreviewType_ = 0;
  VARIANT_BOOL encoding_ = VARIANT_FALSE;
  SHORT capWidth_ = 0, capHeight_ = 0;
  atl::Bstr srcFileName_;
  VARIANT_BOOL enableSkin_ = VARIANT_TRUE;
  LONG bandwidth_ = 0;
  SHORT contentVersion_ = 0;
  float maxDuration_ = 0;
  SHORT unitDuration_ = 0;
  LONG maxSize_ = 0;
  atl::Variant profileName_;
  SHORT bFullSearch_ = 0;
  atl::Variant profileDescription_;
  SHORT bEnableFixedIFrame_ = 0, bEncodeDownloadOnly_ = 0, bFileOut_ = 0, enableSecurityCheck_ = 0;
  VARIANT_BOOL enableDragandDrop_ = VARIANT_FALSE;
  SHORT guiMode_ = 0, contextMenuSettings_ = 0, buttonMode_ = 0;
  OLE_COLOR backColor_ = 0;
  VARIANT_BOOL allowSelfResize_ = VARIANT_TRUE;
  SHORT bMultiplePass_ = 0, bClientNoAudio_ = 0;
  LONG statRefreshRate_ = 0, statWindowDuration_ = 0;
  SHORT bEnableVideoRandomPositioning_ = 0;
  atl::Bstr scratchDisk_;
  SHORT bEnableRandomPositioning_ = 0;

  // ---- engine binding, graph events and runs (engine.cpp, run.cpp) ----
 public:
  // Makes the media engine of "KRMedia.KRMedia.1" (any held one is
  // released first) and takes its defaults; false, after the message and
  // the report, when there is none. The window's creation fails then.
  bool CreateMediaObject();
  // The engine's defaults into the records and properties (method 83).
  HRESULT ResetToDefaults();
  // WM_KR_GRAPHNOTIFY: every pending event of the source interface.
  void OnGraphNotify();
  void FireStop();
  HRESULT StartEncoding();
  // 0 when timer 1 started, 1 when refused.
  int StartStatisticsTimer();
  HRESULT StopEncoding(USHORT code);
  HRESULT StopPlaying();
  HRESULT StartPlaying();
  void SetDisplaySize(LONG width, LONG height);

  // 0, 1 stopped; 2 paused; 3 encoding.
  int RunState() const { return runState_; }
  size_t StatisticsWindowEntries() const { return statWindow_.size(); }
  bool TimerRunning(UINT_PTR id) { return WindowHandlers().TimerRunning(id); }
  SIZE DisplaySize() const { return SIZE{displayWidth_, displayHeight_}; }

 private:
  // A critical section held for a whole start or stop (entered again by
  // the same thread: a stop from a graph event inside a start is fine).
  class RunLock {
   public:
    RunLock() { InitializeCriticalSection(&section_); }
    ~RunLock() { DeleteCriticalSection(&section_); }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

   private:
    CRITICAL_SECTION section_;
  };
  struct Held {
    explicit Held(RunLock& lock) : lock_(lock) { lock_.Enter(); }
    ~Held() { lock_.Leave(); }
    RunLock& lock_;
  };

  void BindEngine();
  // The engine's interface `iid`; a missing one is reported as 0x800A03F1.
  HRESULT EngineInterface(const IID& iid, void** out);
  void HandleGraphEvent(LONG code, LONG_PTR p1, LONG_PTR p2);
  HRESULT PrepareCaptureStart();
  HRESULT PrepareFileStart();
  HRESULT AdoptMovedCapture(IGenFromLive* live, IKRMediaConfig* config);
  void SetDestination(IKRMediaConfig* config, LONG width, LONG height);
  void MarkResize(bool changed);
  void StartStreamTimer(bool statisticsStarted);
  void StartRunTimer(UINT_PTR id, UINT ms);
  // The records handed to the engine before a start.
  mediaengine::KRSettingsRecords& RecordsForEngine() { return records_; }

  RunLock runLock_;
  // (bytes, frames) per statistics sample of a capture run.
  std::vector<std::array<uint32_t, 2>> statWindow_;
  LONG displayWidth_ = 0, displayHeight_ = 0;
  POINT displayOffset_{};
  RECT displayRect_{};
  float scaleX_ = 1, scaleY_ = 1;
  bool resizePending_ = false, displayRedraw_ = false;
  bool stillShown_ = false;
  // ---- end of engine binding, graph events and runs ----
};

// The default property page: encoding size and base bit rate.
class CKRActivePropPage : public olectl::PropertyPage {
 public:
  static const atl::InterfaceEntry* Interfaces() { return PageInterfaces<CKRActivePropPage>(); }
  CKRActivePropPage();
  void OnRead(IDispatch* object) override;
  HRESULT OnApply(IDispatch* object) override;
};
