// A two-page sheet whose second page embeds a sheet of two pages, driven
// as a user would: leaving a page with a refused value is vetoed, Cancel
// checks nothing and the caller keeps its settings, Enter, Escape and F1
// reach the pages first (innermost first), the handlers see their
// notifications, and the embedded sheet is a child control parent with
// its tabs at the bottom (rectangles, and a screenshot kept as the test's
// artefact).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>

#include "dialog_driver.h"
#include "dialogs/controls.h"
#include "dialogs/property_sheet.h"
#include "helpers.h"
#include "peers.h"
#include "resource.h"

using namespace dlgtests;

namespace {

const wchar_t kSheetCaption[] = L"Encoding settings";
constexpr int kTabsId = 0x3020;
const COLORREF kNotesColour = RGB(250, 220, 120);

struct Settings {
  long port = 554;
  int enabled = BST_CHECKED;
  int format = 1;
  std::wstring profile = L"Default";
  long bandwidth = 32000;
  int twoPass = BST_UNCHECKED;
};

// A page that logs the keys offered to it and takes them when told to.
class LoggingPage : public dlg::PropertyPage {
 public:
  LoggingPage(UINT templateId, UINT captionId, Settings* work, Log* log, std::wstring name)
      : PropertyPage(TestModule(), templateId, captionId), work_(work), log_(log), name_(std::move(name)) {}
  std::atomic<bool> takeKeys{false};
  bool PreTranslateKey(UINT vk) override {
    log_->Add(name_ + L" key " + std::to_wstring(vk));
    return takeKeys;
  }
  // Reads on activation, writes when it may be left.
  bool OnSetActive() override {
    Read();
    return PropertyPage::OnSetActive();
  }
  bool OnKillActive() override {
    if (!PropertyPage::OnKillActive()) return false;
    Write();
    return true;
  }

 protected:
  virtual void Read() = 0;
  virtual void Write() = 0;
  Settings* work_;
  Log* log_;
  std::wstring name_;
};

class GeneralPage : public LoggingPage {
 public:
  GeneralPage(Settings* work, Log* log) : LoggingPage(IDD_PAGE_GENERAL, IDS_GENERAL, work, log, L"general") {
    OnChange(IDC_PORT, [this] { log_->Add(L"change"); });
    OnKillFocus(IDC_PORT, [this] { log_->Add(L"killfocus"); });
    OnClicked(IDC_ENABLED, [this] { log_->Add(L"clicked"); });
    OnSelChange(IDC_FORMAT, [this] { log_->Add(L"selchange " + std::to_wstring(dlg::Combo(Item(IDC_FORMAT)).Selection())); });
    OnDeltaPos(IDC_PORT_SPIN, [this](const NMUPDOWN& step) {
      log_->Add(L"delta " + std::to_wstring(step.iDelta));
      return step.iPos + step.iDelta <= 7999;
    });
    // Leaves nothing with the focus, for F1 without a focused control.
    OnClicked(IDC_DROP_FOCUS, [] { SetFocus(nullptr); });
  }

 protected:
  bool OnInitDialog() override {
    dlg::Combo formats;
    formats.Attach(Handle(), IDC_FORMAT);
    for (const wchar_t* text : {L"MP4 file", L"3GP file", L"Live stream"}) formats.Add(text);
    dlg::Spin spin;
    spin.Attach(Handle(), IDC_PORT_SPIN);
    spin.SetRange(1, 99999);
    return LoggingPage::OnInitDialog();
  }
  void DoDataExchange(dlg::DataExchange& dx) override {
    dx.Number(IDC_PORT, port_, 1, 7999);
    dx.Check(IDC_ENABLED, enabled_);
    dx.ComboIndex(IDC_FORMAT, format_);
  }
  void Read() override {
    port_ = work_->port;
    enabled_ = work_->enabled;
    format_ = work_->format;
  }
  void Write() override {
    work_->port = port_;
    work_->enabled = enabled_;
    work_->format = format_;
  }

 private:
  long port_ = 0;
  int enabled_ = 0, format_ = 0;
};

class RatePage : public LoggingPage {
 public:
  RatePage(Settings* work, Log* log) : LoggingPage(IDD_INNER_RATE, 0, work, log, L"rate") {}

 protected:
  bool OnInitDialog() override {
    dlg::RichEdit notes;
    notes.Attach(Handle(), IDC_NOTES);
    notes.SetBackground(kNotesColour);
    notes.SetText(L"Notes");
    return LoggingPage::OnInitDialog();
  }
  void DoDataExchange(dlg::DataExchange& dx) override { dx.Number(IDC_BANDWIDTH, bandwidth_, 7700, 1000000); }
  void Read() override { bandwidth_ = work_->bandwidth; }
  void Write() override { work_->bandwidth = bandwidth_; }

 private:
  long bandwidth_ = 0;
};

class OptionsPage : public LoggingPage {
 public:
  OptionsPage(Settings* work, Log* log) : LoggingPage(IDD_INNER_OPTIONS, 0, work, log, L"options") {}

 protected:
  void DoDataExchange(dlg::DataExchange& dx) override { dx.Check(IDC_TWO_PASS, twoPass_); }
  void Read() override { twoPass_ = work_->twoPass; }
  void Write() override { work_->twoPass = twoPass_; }

 private:
  int twoPass_ = 0;
};

// The second page holds a sheet of two pages of its own, placed in code
// as the authoring control's profile page places it.
class ProfilePage : public LoggingPage {
 public:
  ProfilePage(Settings* work, Log* log) : LoggingPage(IDD_PAGE_PROFILE, 0, work, log, L"profile"), rate(work, log), options(work, log) {
    inner.AddPage(&rate);
    inner.AddPage(&options);
  }
  RatePage rate;
  OptionsPage options;
  dlg::PropSheet inner;

  bool OnKillActive() override { return inner.LeaveActivePage() && LoggingPage::OnKillActive(); }

 protected:
  bool OnInitDialog() override {
    RECT client;
    GetClientRect(Handle(), &client);
    inner.CreateEmbedded(Handle(), RECT{10, 40, client.right - 10, client.bottom - 10}, IDC_EMBEDDED);
    return LoggingPage::OnInitDialog();
  }
  void DoDataExchange(dlg::DataExchange& dx) override { dx.Text(IDC_PROFILE_NAME, name_, 64); }
  void Read() override { name_ = work_->profile; }
  void Write() override { work_->profile = name_; }

 private:
  std::wstring name_;
};

class TestSheet : public dlg::PropSheet {
 public:
  TestSheet(Settings* work, Log* log) : PropSheet(kSheetCaption), general(work, log), profile(work, log), log_(log) {
    AddPage(&general);
    AddPage(&profile);
  }
  GeneralPage general;
  ProfilePage profile;

 protected:
  void OnHelp(int focusedId) override { log_->Add(L"help " + std::to_wstring(focusedId)); }

 private:
  Log* log_;
};

// The caller's side: the pages edit a working copy, committed on OK only.
struct Editor {
  Settings committed, work;
  Log log;
  TestSheet sheet{&work, &log};
  INT_PTR Open(HWND owner) {
    work = committed;
    INT_PTR result = sheet.DoModal(owner);
    if (result == IDOK) committed = work;
    return result;
  }
};

int CurrentTab(HWND tabs) {
  DWORD_PTR index = static_cast<DWORD_PTR>(-1);
  SendMessageTimeoutW(tabs, TCM_GETCURSEL, 0, 0, SMTO_NORMAL, 5000, &index);
  return static_cast<int>(static_cast<LRESULT>(index));
}

bool Shown(HWND window, int id) {
  HWND control = dlgtest::Find(window, id);
  return control && IsWindowVisible(control);
}

// Closes the box the page's refusal shows; its text.
std::wstring Dismiss(const wchar_t* caption) {
  HWND box = dlgtest::WaitForWindow(caption);
  if (!box) return L"(no box)";
  std::wstring text = dlgtest::MessageText(box);
  dlgtest::Press(box, IDOK);
  dlgtest::WaitUntilGone(box);
  return text;
}

TEST(PropSheet, LeavingAPageWithARefusedValueIsVetoedAndOKCommitsWhatThePagesWrote) {
  Owner owner;
  Editor editor;
  std::wstring message;
  int tabAfterVeto = -1, focusAfterVeto = 0;
  bool profileShownAfterVeto = true;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kSheetCaption);
    if (!w) return;
    HWND tabs = GetDlgItem(w, kTabsId);
    EXPECT_TRUE(dlgtest::Type(w, IDC_PORT, L"80000"));
    EXPECT_TRUE(dlgtest::ClickTab(tabs, 1));
    message = Dismiss(L"Invalid Value");
    dlgtest::WaitFor([&] { return dlgtest::FocusedId(w) == IDC_PORT; });
    tabAfterVeto = CurrentTab(tabs);
    focusAfterVeto = dlgtest::FocusedId(w);
    profileShownAfterVeto = Shown(w, IDC_PROFILE_NAME);
    EXPECT_TRUE(dlgtest::Type(w, IDC_PORT, L"7554"));
    EXPECT_TRUE(dlgtest::ClickTab(tabs, 1));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return Shown(w, IDC_PROFILE_NAME); }));
    EXPECT_FALSE(Shown(w, IDC_PORT));
    EXPECT_TRUE(dlgtest::Type(w, IDC_PROFILE_NAME, L"Night"));
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(editor.Open(owner.Handle()), IDOK);
  script.Join();
  EXPECT_EQ(message, L"Please enter a whole number between 1 and 7999.");
  EXPECT_EQ(tabAfterVeto, 0);
  EXPECT_EQ(focusAfterVeto, IDC_PORT);
  EXPECT_FALSE(profileShownAfterVeto);
  EXPECT_EQ(editor.committed.port, 7554);
  EXPECT_EQ(editor.committed.profile, L"Night");
  EXPECT_TRUE(IsWindowEnabled(owner.Handle()));
}

TEST(PropSheet, CancelChecksNothingAndTheCallerKeepsItsSettings) {
  Owner owner;
  Editor editor;
  bool refusalShown = true;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kSheetCaption);
    if (!w) return;
    HWND tabs = GetDlgItem(w, kTabsId);
    EXPECT_TRUE(dlgtest::Type(w, IDC_PORT, L"7554"));
    EXPECT_TRUE(dlgtest::ClickTab(tabs, 1));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return Shown(w, IDC_PROFILE_NAME); }));
    EXPECT_TRUE(dlgtest::Type(w, IDC_PROFILE_NAME, L"Night"));
    EXPECT_TRUE(dlgtest::ClickTab(tabs, 0));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return Shown(w, IDC_PORT); }));
    EXPECT_TRUE(dlgtest::Type(w, IDC_PORT, L"12a"));
    EXPECT_TRUE(dlgtest::Press(w, IDCANCEL));
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
    refusalShown = dlgtest::WaitForWindow(L"Invalid Value", 300) != nullptr;
  });
  EXPECT_EQ(editor.Open(owner.Handle()), IDCANCEL);
  script.Join();
  EXPECT_FALSE(refusalShown);
  // The pages did write their working copy; none of it reached the caller.
  EXPECT_EQ(editor.work.port, 7554);
  EXPECT_EQ(editor.work.profile, L"Night");
  EXPECT_EQ(editor.committed.port, 554);
  EXPECT_EQ(editor.committed.profile, L"Default");
}

TEST(PropSheet, EnterEscapeAndF1ReachThePagesFirstInnermostFirst) {
  Owner owner;
  Editor editor;
  TestSheet& sheet = editor.sheet;
  bool openWhilePageTookKeys = false, openWhileOuterPageTookEnter = false;
  std::vector<std::wstring> takenLog, nestedLog;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kSheetCaption);
    if (!w) return;
    EXPECT_TRUE(dlgtest::Focus(w, IDC_PORT));
    editor.log.Clear();
    sheet.general.takeKeys = true;
    for (UINT vk : {VK_RETURN, VK_ESCAPE, VK_F1}) dlgtest::Key(w, vk);
    dlgtest::WaitFor([&] { return editor.log.Count(L"general key 112") == 1; });
    Sleep(100);
    openWhilePageTookKeys = IsWindowVisible(w);
    takenLog = editor.log.Lines();
    sheet.general.takeKeys = false;
    dlgtest::Key(w, VK_F1);
    EXPECT_TRUE(dlgtest::WaitFor([&] { return editor.log.Count(L"help 2001") == 1; }));
    EXPECT_TRUE(dlgtest::Press(w, IDC_DROP_FOCUS));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return dlgtest::Focused(w) == nullptr; }));
    dlgtest::Key(w, VK_F1);
    EXPECT_TRUE(dlgtest::WaitFor([&] { return editor.log.Count(L"help 0") == 1; }));

    // In the embedded sheet: the inner page, then the page around it.
    EXPECT_TRUE(dlgtest::ClickTab(GetDlgItem(w, kTabsId), 1));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return Shown(w, IDC_BANDWIDTH); }));
    EXPECT_TRUE(dlgtest::Focus(w, IDC_BANDWIDTH));
    editor.log.Clear();
    sheet.profile.takeKeys = true;
    dlgtest::Key(w, VK_RETURN);
    dlgtest::WaitFor([&] { return editor.log.Count(L"profile key 13") == 1; });
    Sleep(100);
    openWhileOuterPageTookEnter = IsWindowVisible(w);
    nestedLog = editor.log.Lines();
    sheet.profile.takeKeys = false;
    dlgtest::Key(w, VK_RETURN);  // nobody takes it: OK
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(editor.Open(owner.Handle()), IDOK);
  script.Join();
  EXPECT_TRUE(openWhilePageTookKeys);
  EXPECT_EQ(takenLog, (std::vector<std::wstring>{L"general key 13", L"general key 27", L"general key 112"}));
  EXPECT_TRUE(openWhileOuterPageTookEnter);
  EXPECT_EQ(nestedLog, (std::vector<std::wstring>{L"rate key 13", L"profile key 13"}));

  // Escape that no page takes cancels; the sheet opens again where the
  // last run opened (the first page), not where it ended.
  int tabAtOpening = -1;
  dlgtest::Script again([&] {
    HWND w = dlgtest::WaitForWindow(kSheetCaption);
    if (!w) return;
    tabAtOpening = CurrentTab(GetDlgItem(w, kTabsId));
    dlgtest::Key(w, VK_ESCAPE);
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(editor.Open(owner.Handle()), IDCANCEL);
  again.Join();
  EXPECT_EQ(tabAtOpening, 0);
}

TEST(PropSheet, ControlNotificationsReachTheirHandlers) {
  Owner owner;
  Editor editor;
  Log& log = editor.log;
  std::wstring afterStep, afterVeto;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kSheetCaption);
    if (!w) return;
    EXPECT_TRUE(dlgtest::Type(w, IDC_PORT, L"100"));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return log.Count(L"change") >= 3; }));
    EXPECT_TRUE(dlgtest::SpinClick(w, IDC_PORT_SPIN, true));
    dlgtest::WaitFor([&] { return dlgtest::Text(w, IDC_PORT) == L"101"; });
    afterStep = dlgtest::Text(w, IDC_PORT);
    EXPECT_TRUE(dlgtest::Focus(w, IDC_PORT));
    EXPECT_TRUE(dlgtest::Focus(w, IDC_FORMAT));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return log.Count(L"killfocus") >= 1; }));
    EXPECT_TRUE(dlgtest::Press(w, IDC_ENABLED));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return log.Count(L"clicked") == 1; }));
    EXPECT_TRUE(dlgtest::Choose(w, IDC_FORMAT, 2));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return log.Count(L"selchange 2") == 1; }));
    // The handler refuses a step past 7999: the position stays.
    EXPECT_TRUE(dlgtest::Type(w, IDC_PORT, L"7999"));
    EXPECT_TRUE(dlgtest::SpinClick(w, IDC_PORT_SPIN, true));
    dlgtest::WaitFor([&] { return log.Count(L"delta 1") == 2; });
    Sleep(100);
    afterVeto = dlgtest::Text(w, IDC_PORT);
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(editor.Open(owner.Handle()), IDOK);
  script.Join();
  EXPECT_EQ(afterStep, L"101");
  EXPECT_EQ(log.Count(L"delta 1"), 2u);
  EXPECT_EQ(afterVeto, L"7999");
  EXPECT_EQ(editor.committed.port, 7999);
  EXPECT_EQ(editor.committed.enabled, BST_UNCHECKED);
  EXPECT_EQ(editor.committed.format, 2);
}

// The sheet's window as the X display shows it, as RGB, with a PNG kept.
struct Grab {
  int width = 0, height = 0;
  std::string rgb;
  COLORREF At(int x, int y) const {
    size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    if (x < 0 || y < 0 || x >= width || i + 2 >= rgb.size()) return CLR_INVALID;
    return RGB(static_cast<BYTE>(rgb[i]), static_cast<BYTE>(rgb[i + 1]), static_cast<BYTE>(rgb[i + 2]));
  }
};

Grab ScreenShot(const RECT& r, const std::string& png) {
  Grab g;
  const char* display = std::getenv("DISPLAY");
  if (!display) return g;
  g.width = r.right - r.left;
  g.height = r.bottom - r.top;
  std::string grab = "ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -video_size " + std::to_string(g.width) +
                     "x" + std::to_string(g.height) + " -i " + display + "+" + std::to_string(r.left) + "," +
                     std::to_string(r.top) + " -frames:v 1 ";
  const std::string raw = png + ".rgb";
  Ran a = RunUnix(grab + "'" + png + "'", "grab-png", 20000);
  Ran b = RunUnix(grab + "-f rawvideo -pix_fmt rgb24 '" + raw + "'", "grab-rgb", 20000);
  EXPECT_EQ(a.exitCode, 0) << a.output;
  EXPECT_EQ(b.exitCode, 0) << b.output;
  g.rgb = ReadWholeFile(WindowsPath(raw));
  DeleteFileA(WindowsPath(raw).c_str());
  return g;
}

std::string TestFolder() {
  char here[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, here);
  return UnixPath(here) + "/";
}

bool Near(COLORREF a, COLORREF b) {
  auto d = [](int x, int y) { return x > y ? x - y : y - x; };
  return d(GetRValue(a), GetRValue(b)) <= 3 && d(GetGValue(a), GetGValue(b)) <= 3 && d(GetBValue(a), GetBValue(b)) <= 3;
}

RECT ItemRectOnScreen(HWND tabs, int index) {
  RECT item = {};
  SendMessageTimeoutW(tabs, TCM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item), SMTO_NORMAL,
                      5000, nullptr);
  MapWindowPoints(tabs, nullptr, reinterpret_cast<POINT*>(&item), 2);
  return item;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right && inner.bottom <= outer.bottom;
}

TEST(PropSheet, TheEmbeddedSheetIsAChildControlParentWithItsTabsAtTheBottom) {
  Owner owner;
  Editor editor;
  editor.sheet.SetActivePage(1);
  LONG_PTR style = 0, exStyle = 0, innerTabStyle = 0, outerTabStyle = 0;
  RECT embedded = {}, innerPage = {}, innerTab = {}, outerPage = {}, outerTab = {}, notes = {}, sheetRect = {};
  int tabbedInto = 0, innerTabAfterVeto = -1;
  std::wstring message;
  Grab shot;
  dlgtest::Script script([&] {
    HWND w = dlgtest::WaitForWindow(kSheetCaption);
    if (!w) return;
    HWND sheet = dlgtest::Find(w, IDC_EMBEDDED);
    if (!sheet) return;
    HWND tabs = GetDlgItem(sheet, kTabsId);
    style = GetWindowLongPtrW(sheet, GWL_STYLE);
    exStyle = GetWindowLongPtrW(sheet, GWL_EXSTYLE);
    innerTabStyle = GetWindowLongPtrW(tabs, GWL_STYLE);
    outerTabStyle = GetWindowLongPtrW(GetDlgItem(w, kTabsId), GWL_STYLE);
    embedded = WindowRect(sheet);
    innerPage = WindowRect(GetParent(dlgtest::Find(w, IDC_BANDWIDTH)));
    innerTab = ItemRectOnScreen(tabs, 1);
    outerPage = WindowRect(GetParent(dlgtest::Find(w, IDC_PROFILE_NAME)));
    outerTab = ItemRectOnScreen(GetDlgItem(w, kTabsId), 1);
    notes = WindowRect(dlgtest::Find(w, IDC_NOTES));
    sheetRect = WindowRect(w);
    shot = ScreenShot(sheetRect, TestFolder() + "dialogs-sheet.png");  // kept as the test's artefact

    // Tab goes from the page's own field into the embedded sheet's page.
    EXPECT_TRUE(dlgtest::Focus(w, IDC_PROFILE_NAME));
    dlgtest::Key(w, VK_TAB);
    dlgtest::WaitFor([&] { return dlgtest::FocusedId(w) == IDC_BANDWIDTH; });
    tabbedInto = dlgtest::FocusedId(w);

    // The inner page's veto keeps it; then the second inner page is edited.
    EXPECT_TRUE(dlgtest::Type(w, IDC_BANDWIDTH, L"7699"));
    EXPECT_TRUE(dlgtest::ClickTab(tabs, 1));
    message = Dismiss(L"Invalid Value");
    innerTabAfterVeto = CurrentTab(tabs);
    EXPECT_TRUE(dlgtest::Type(w, IDC_BANDWIDTH, L"64000"));
    EXPECT_TRUE(dlgtest::ClickTab(tabs, 1));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return Shown(w, IDC_TWO_PASS); }));
    EXPECT_TRUE(dlgtest::Press(w, IDC_TWO_PASS));
    EXPECT_TRUE(dlgtest::WaitFor([&] { return dlgtest::CheckState(w, IDC_TWO_PASS) == BST_CHECKED; }));
    EXPECT_TRUE(dlgtest::Press(w, IDOK));
    EXPECT_TRUE(dlgtest::WaitUntilGone(w));
  });
  EXPECT_EQ(editor.Open(owner.Handle()), IDOK);
  script.Join();

  EXPECT_TRUE(style & WS_CHILD);
  EXPECT_TRUE(style & WS_TABSTOP);
  EXPECT_TRUE(exStyle & WS_EX_CONTROLPARENT);
  EXPECT_TRUE(innerTabStyle & TCS_BOTTOM);
  EXPECT_FALSE(outerTabStyle & TCS_BOTTOM);
  // Inner: the page above its tabs, both inside the embedded sheet.
  EXPECT_TRUE(Inside(innerPage, embedded));
  EXPECT_TRUE(Inside(innerTab, embedded));
  EXPECT_GE(innerTab.top, innerPage.bottom);
  // Outer: the tabs above the page.
  EXPECT_LE(outerTab.bottom, outerPage.top);
  EXPECT_TRUE(Inside(embedded, outerPage));

  // What a person sees: the inner page's notes in their colour.
  ASSERT_EQ(shot.rgb.size(), static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height) * 3);
  POINT n = Centre(notes);
  EXPECT_TRUE(Near(shot.At(n.x - sheetRect.left, n.y - sheetRect.top), kNotesColour));
  EXPECT_TRUE(Near(shot.At(notes.right - 6 - sheetRect.left, notes.bottom - 6 - sheetRect.top), kNotesColour));

  EXPECT_EQ(tabbedInto, IDC_BANDWIDTH);
  EXPECT_EQ(message, L"Please enter a whole number between 7700 and 1000000.");
  EXPECT_EQ(innerTabAfterVeto, 0);
  EXPECT_EQ(editor.committed.bandwidth, 64000);
  EXPECT_EQ(editor.committed.twoPass, BST_CHECKED);
}

}  // namespace
