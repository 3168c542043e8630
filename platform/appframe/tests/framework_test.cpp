// The framework's own parts: command routing, update handlers as a menu
// opens, accelerators through the real message loop and the application
// filter, frame hooks, the locked splitter, CF_HDROP drops, the file
// causes, settings, rich edit and help.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "appframe/app.h"
#include "appframe/drop_target.h"
#include "appframe/file.h"
#include "appframe/splitter.h"
#include "appframe/tooltip.h"
#include "command.h"
#include "helpers.h"
#include "peers.h"
#include "resource.h"
#include "sample_app.h"

namespace testing_appframe {

DWORD RegisterSampleControl(bool remove) {
  return RunCommand(std::string("regsvr32.exe /s ") + (remove ? "/u " : "") + "\"" + WindowsPath(SAMPLE_DLL) + "\"")
      .exitCode;
}

HRESULT ControlModuleCanUnload() {
  CoFreeUnusedLibraries();
  HMODULE dll = GetModuleHandleW(L"KrSampleControl.dll");
  if (!dll) return S_OK;
  auto canUnload =
      reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(reinterpret_cast<void*>(GetProcAddress(dll, "DllCanUnloadNow")));
  return canUnload ? canUnload() : E_FAIL;
}

}  // namespace testing_appframe

namespace {

using testing_appframe::Pump;

// The sample's menu and strings, with plain views and documents that log
// which target ran a command.
class Logged : public testing::Test {
 protected:
  struct Doc : appf::Document {};
  struct PlainView : appf::View {};
  // The application's filter, first in the chain, takes key presses when
  // asked to.
  struct TestApp : appf::Application {
    using Application::Application;
    bool takeKeys = false;
    bool ProcessMessageFilter(MSG* m) override { return takeKeys && m->message == WM_KEYDOWN; }
  };

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(ole_));
    app_ = std::make_unique<TestApp>(L"Routing");
    app_->SetShowCommand(SW_HIDE);  // a shown window costs seconds to take down under Wine
    app_->AddDocTemplate(std::make_unique<appf::SingleDocTemplate>(
        GetModuleHandleW(nullptr), IDR_MAINFRAME, [] { return std::make_unique<Doc>(); },
        [] { return std::make_unique<appf::FrameWindow>(); }, [] { return std::make_unique<PlainView>(); }));
    ASSERT_TRUE(app_->OnFileNew());
    frame_ = app_->MainFrame();
    ASSERT_NE(frame_, nullptr);
    view_ = frame_->ActiveView();
    doc_ = frame_->ActiveDocument();
    ASSERT_TRUE(view_ && doc_);
  }
  void TearDown() override {
    app_.reset();
    Pump(20);
    if (SUCCEEDED(ole_)) OleUninitialize();
  }

  HRESULT ole_ = OleInitialize(nullptr);
  std::unique_ptr<TestApp> app_;
  appf::FrameWindow* frame_ = nullptr;
  appf::View* view_ = nullptr;
  appf::Document* doc_ = nullptr;
};

TEST_F(Logged, ACommandRunsAtTheFirstOfViewDocumentFrameApplicationOnly) {
  // Every combination of the four targets handling one id.
  const char* names[] = {"view", "document", "frame", "application"};
  appf::CommandTarget* targets[] = {view_, doc_, frame_, app_.get()};
  for (UINT mask = 0; mask < 16; ++mask) {
    UINT id = 40000 + mask;
    std::vector<std::string> ran;
    for (int t = 0; t < 4; ++t)
      if (mask & (1u << t)) targets[t]->OnCommand(id, [&ran, &names, t] { ran.push_back(names[t]); });
    SendMessageW(frame_->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0);
    std::vector<std::string> expected;
    for (int t = 0; t < 4; ++t)
      if (mask & (1u << t)) {
        expected.push_back(names[t]);
        break;
      }
    EXPECT_EQ(ran, expected) << "handlers at mask " << mask;
  }
  // A button of a view sends its command from the view: the same route.
  std::vector<std::string> ran;
  doc_->OnCommand(40100, [&] { ran.push_back("document"); });
  frame_->OnCommand(40100, [&] { ran.push_back("frame"); });
  SendMessageW(view_->Handle(), WM_COMMAND, MAKEWPARAM(40100, BN_CLICKED), reinterpret_cast<LPARAM>(frame_->Handle()));
  EXPECT_EQ(ran, std::vector<std::string>{"document"});
}

// The state of each item of a popup menu as the user would see it.
std::vector<std::string> States(HMENU menu) {
  std::vector<std::string> out;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    UINT id = GetMenuItemID(menu, i);
    if (id == 0) continue;
    UINT s = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
    out.push_back(std::string((s & MF_GRAYED) ? "grey" : "on") + ((s & MF_CHECKED) ? "+check" : ""));
  }
  return out;
}

TEST_F(Logged, UpdateHandlersSetTheMenuAsItOpens) {
  bool running = false;
  doc_->OnCommand(ID_RUN_START, [&] { running = true; });
  doc_->OnUpdate(ID_RUN_START, [&](appf::CmdUI& ui) { ui.Enable(!running); });
  frame_->OnCommand(ID_RUN_STOP, [&] { running = false; });
  frame_->OnUpdate(ID_RUN_STOP, [&](appf::CmdUI& ui) { ui.Enable(running); });
  view_->OnUpdate(ID_CONTROL_RUNNING, [&](appf::CmdUI& ui) { ui.SetCheck(running); });
  view_->OnCommand(ID_CONTROL_ANNOUNCE, [] {});
  // Measure has no handler anywhere: greyed.
  HMENU control = GetSubMenu(GetMenu(frame_->Handle()), 1);
  ASSERT_NE(control, nullptr);

  // The menu opened for real: the states are read while it is up, then it
  // is closed.
  std::vector<std::string> seen;
  frame_->On(WM_ENTERIDLE, [&](WPARAM w, LPARAM) -> LRESULT {
    if (w == MSGF_MENU && seen.empty()) {
      seen = States(control);
      EndMenu();
    }
    return 0;
  });
  auto open = [&] {
    seen.clear();
    SetForegroundWindow(frame_->Handle());
    PostMessageW(frame_->Handle(), WM_NULL, 0, 0);
    TrackPopupMenu(control, TPM_RETURNCMD, 50, 50, 0, frame_->Handle(), nullptr);
    return seen;
  };
  // Announce, Measure, Start, Stop, Running.
  EXPECT_EQ(open(), (std::vector<std::string>{"on", "grey", "on", "grey", "grey"}));
  SendMessageW(frame_->Handle(), WM_COMMAND, ID_RUN_START, 0);
  EXPECT_TRUE(running);
  EXPECT_EQ(open(), (std::vector<std::string>{"on", "grey", "grey", "on", "grey+check"}));
  // A disabled command does not run, whatever the menu showed last.
  SendMessageW(frame_->Handle(), WM_COMMAND, ID_RUN_START, 0);
  SendMessageW(frame_->Handle(), WM_COMMAND, ID_RUN_STOP, 0);
  EXPECT_FALSE(running);
}

TEST_F(Logged, CtrlNThroughTheMessageLoopReachesItsHandlerUnlessTheApplicationFilterTakesIt) {
  int news = 0;
  app_->OnCommand(appf::kIdFileNew, [&] { ++news; });
  BYTE keys[256] = {};
  GetKeyboardState(keys);
  auto press = [&](UINT key) {
    keys[VK_CONTROL] = 0x80;
    SetKeyboardState(keys);
    PostMessageW(view_->Handle(), WM_KEYDOWN, key, 1);
    PostMessageW(view_->Handle(), WM_KEYUP, key, 0xC0000001);
    PostQuitMessage(0);
    int code = app_->Run();
    keys[VK_CONTROL] = 0;
    SetKeyboardState(keys);
    return code;
  };
  EXPECT_EQ(press('N'), 0);
  EXPECT_EQ(news, 1);
  EXPECT_EQ(press('Q'), 0);  // no accelerator
  EXPECT_EQ(news, 1);
  app_->takeKeys = true;  // the frame never sees the key
  EXPECT_EQ(press('N'), 0);
  EXPECT_EQ(news, 1);
}

TEST_F(Logged, FrameHooksKeepItHiddenRefuseToCloseAndAnswerTheEndOfSession) {
  struct Hidden : appf::FrameWindow {
    bool allowClose = false;
    bool ended = false;
    void ActivateFrame(int) override {}
    bool OnCloseQuery() override { return allowClose; }
    void OnEndSession(bool ending) override { ended = ending; }
  };
  appf::Application app(L"Hooks");
  app.AddDocTemplate(std::make_unique<appf::SingleDocTemplate>(
      GetModuleHandleW(nullptr), IDR_MAINFRAME, nullptr, [] { return std::make_unique<Hidden>(); }, nullptr));
  ASSERT_TRUE(app.OnFileNew());
  auto* frame = static_cast<Hidden*>(app.MainFrame());
  EXPECT_FALSE(IsWindowVisible(frame->Handle())) << "activated hidden";
  wchar_t title[64] = {};
  GetWindowTextW(frame->Handle(), title, 64);
  EXPECT_STREQ(title, L"AppFrame Sample") << "the program's name from the document string";
  app.DocTemplate()->CurrentDocument()->SetTitle(L"Untitled");
  GetWindowTextW(frame->Handle(), title, 64);
  EXPECT_STREQ(title, L"Untitled - AppFrame Sample");
  SendMessageW(frame->Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(frame->Handle())) << "the close hook said no";
  EXPECT_EQ(SendMessageW(frame->Handle(), WM_QUERYENDSESSION, 0, 0), FALSE);
  SendMessageW(frame->Handle(), WM_ENDSESSION, TRUE, 0);
  EXPECT_TRUE(frame->ended);
  frame->allowClose = true;
  SendMessageW(frame->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(frame->Handle(), nullptr);
  MSG quit;
  EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the main frame's end ends the loop";
}

// A splitter of two plain views in a frame of its own.
TEST(Splitter, ADragOnALockedBarChangesNothingAndOnAnUnlockedOneMovesIt) {
  struct PlainView : appf::View {};
  win::Window parent;
  ASSERT_TRUE(parent.Create(L"KrSplitterTest", WS_POPUP, 0, nullptr, RECT{0, 0, 300, 400}));
  appf::StaticSplitter splitter;
  ASSERT_TRUE(splitter.CreateStatic(parent.Handle(), 2, 1));
  ASSERT_TRUE(splitter.CreateView(0, 0, std::make_unique<PlainView>(), SIZE{300, 250}, nullptr, nullptr));
  ASSERT_TRUE(splitter.CreateView(1, 0, std::make_unique<PlainView>(), SIZE{300, 100}, nullptr, nullptr));
  EXPECT_EQ(splitter.RowHeight(0), 250);
  EXPECT_EQ(splitter.RowHeight(1), 400 - 250 - appf::StaticSplitter::kBar) << "the last row takes the rest";
  EXPECT_EQ(GetDlgCtrlID(splitter.Pane(1, 0)->Handle()), static_cast<int>(appf::kIdPaneFirst + 16));

  auto drag = [&](int dy) {
    int barY = splitter.RowHeight(0) + 2;
    HWND s = splitter.Handle();
    SendMessageW(s, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, barY));
    SendMessageW(s, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, barY + dy));
    SendMessageW(s, WM_LBUTTONUP, 0, MAKELPARAM(100, barY + dy));
    return std::make_pair(splitter.RowHeight(0), splitter.RowHeight(1));
  };
  splitter.SetLocked(true);
  EXPECT_EQ(drag(-60), std::make_pair(250, 144));
  EXPECT_EQ(GetCapture(), nullptr) << "a locked bar takes no capture";
  splitter.SetLocked(false);
  EXPECT_EQ(drag(-60), std::make_pair(190, 204));
  // The rows follow a new size: the last row takes the growth.
  MoveWindow(parent.Handle(), 0, 0, 300, 500, TRUE);
  MoveWindow(splitter.Handle(), 0, 0, 300, 500, TRUE);
  EXPECT_EQ(splitter.RowHeight(0), 190);
  EXPECT_EQ(splitter.RowHeight(1), 304);
}

// A data object holding one medium in one format.
class DataObject : public IDataObject {
 public:
  DataObject(CLIPFORMAT format, HGLOBAL data) : format_(format), data_(data) {}
  ~DataObject() { GlobalFree(data_); }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDataObject)) {
      *out = static_cast<IDataObject*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
  STDMETHODIMP_(ULONG) Release() override { return --refs_; }  // on the test's stack
  STDMETHODIMP GetData(FORMATETC* f, STGMEDIUM* m) override {
    if (f->cfFormat != format_ || !(f->tymed & TYMED_HGLOBAL)) return DV_E_FORMATETC;
    SIZE_T size = GlobalSize(data_);
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    memcpy(GlobalLock(copy), GlobalLock(data_), size);
    GlobalUnlock(copy);
    GlobalUnlock(data_);
    m->tymed = TYMED_HGLOBAL;
    m->hGlobal = copy;
    m->pUnkForRelease = nullptr;
    return S_OK;
  }
  STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  STDMETHODIMP QueryGetData(FORMATETC* f) override { return f->cfFormat == format_ ? S_OK : DV_E_FORMATETC; }
  STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
  STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  CLIPFORMAT format_;
  HGLOBAL data_;
  ULONG refs_ = 1;
};

// A DROPFILES block: the paths one after the other, each ended, then an
// empty one; wide or 8-bit.
HGLOBAL DropFiles(const std::vector<std::wstring>& paths, bool wide) {
  std::string bytes;
  for (const std::wstring& p : paths) {
    if (wide) {
      bytes.append(reinterpret_cast<const char*>(p.c_str()), (p.size() + 1) * sizeof(wchar_t));
    } else {
      for (wchar_t c : p) bytes += static_cast<char>(c);
      bytes += '\0';
    }
  }
  bytes.append(wide ? sizeof(wchar_t) : 1, '\0');
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DROPFILES) + bytes.size());
  auto* header = static_cast<DROPFILES*>(GlobalLock(g));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = wide;
  memcpy(header + 1, bytes.data(), bytes.size());
  GlobalUnlock(g);
  return g;
}

struct Owner : appf::DropOwner {
  DWORD answer = DROPEFFECT_COPY;
  std::vector<std::vector<std::wstring>> dragged, dropped;
  DWORD OnDragFiles(const std::vector<std::wstring>& paths) override {
    dragged.push_back(paths);
    return answer;
  }
  void OnDropFiles(const std::vector<std::wstring>& paths) override { dropped.push_back(paths); }
};

TEST(FileDrop, ThreePathsReachTheOwnerInOrderAndDataWithoutAFileListIsRefused) {
  HRESULT ole = OleInitialize(nullptr);
  const std::vector<std::wstring> paths = {L"C:\\clips\\a.mp4", L"C:\\clip s\\b c.bmp", L"D:\\x.krs"};
  struct Case {
    const char* what;
    CLIPFORMAT format;
    bool wide;
    DWORD answer;
    DWORD effect;
    size_t drops;
  } const cases[] = {
      {"wide file list", CF_HDROP, true, DROPEFFECT_COPY, DROPEFFECT_COPY, 1},
      {"8-bit file list", CF_HDROP, false, DROPEFFECT_COPY, DROPEFFECT_COPY, 1},
      {"the owner refuses the paths", CF_HDROP, true, DROPEFFECT_NONE, DROPEFFECT_NONE, 0},
      {"text, no file list", CF_UNICODETEXT, true, DROPEFFECT_COPY, DROPEFFECT_NONE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Owner owner;
    owner.answer = c.answer;
    auto target = appf::FileDropTarget::Create(&owner);
    DataObject data(c.format, DropFiles(paths, c.wide));
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    ASSERT_EQ(target->DragEnter(&data, MK_LBUTTON, POINTL{5, 5}, &effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->DragOver(MK_LBUTTON, POINTL{6, 6}, &effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    effect = DROPEFFECT_COPY;
    ASSERT_EQ(target->Drop(&data, MK_LBUTTON, POINTL{6, 6}, &effect), S_OK);
    EXPECT_EQ(effect, c.effect);
    ASSERT_EQ(owner.dropped.size(), c.drops);
    if (c.drops) {
      EXPECT_EQ(owner.dropped[0], paths);
    }
    if (c.format != CF_HDROP) {
      EXPECT_TRUE(owner.dragged.empty()) << "the owner is not asked without a file list";
    }
  }
  // Registered on a window as a view does.
  Owner owner;
  auto target = appf::FileDropTarget::Create(&owner);
  win::Window w;
  ASSERT_TRUE(w.Create(L"KrDropTest", WS_POPUP, 0, nullptr, RECT{0, 0, 50, 50}));
  EXPECT_EQ(target->Register(w.Handle()), S_OK);
  target->Revoke();
  if (SUCCEEDED(ole)) OleUninitialize();
}

class Files : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"appframe-files-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(dir_.c_str(), nullptr);
    file_ = dir_ + L"\\data.bin";
    appf::File f;
    ASSERT_TRUE(f.Open(file_, appf::File::kWrite | appf::File::kCreate, nullptr));
    ASSERT_TRUE(f.Write("0123456789", 10, nullptr));
  }
  void TearDown() override {
    DeleteFileW(file_.c_str());
    RemoveDirectoryW(dir_.c_str());
  }
  std::wstring dir_, file_;
};

TEST_F(Files, EachFailureGivesItsCause) {
  appf::File holder;  // keeps the data file open with sharing denied
  struct Case {
    const char* what;
    std::function<bool(appf::FileError*)> provoke;
    appf::FileCause cause;
  } const cases[] = {
      {"missing file",
       [&](appf::FileError* e) { return appf::File().Open(dir_ + L"\\none.bin", appf::File::kRead, e); },
       appf::FileCause::kFileNotFound},
      {"missing folder",
       [&](appf::FileError* e) { return appf::File().Open(dir_ + L"\\no\\none.bin", appf::File::kRead, e); },
       appf::FileCause::kBadPath},
      {"a folder opened as a file",
       [&](appf::FileError* e) { return appf::File().Open(dir_, appf::File::kRead, e); }, appf::FileCause::kAccessDenied},
      {"a name the system refuses",
       [&](appf::FileError* e) { return appf::File().Open(dir_ + L"\\a<b>.bin", appf::File::kRead, e); },
       appf::FileCause::kBadPath},
      {"sharing violation",
       [&](appf::FileError* e) {
         if (!holder.Open(file_, appf::File::kReadWrite | appf::File::kShareExclusive, nullptr)) return true;
         bool opened = appf::File().Open(file_, appf::File::kRead | appf::File::kShareDenyNone, e);
         holder.Close();
         return opened;
       },
       appf::FileCause::kSharingViolation},
      {"a region locked twice",
       [&](appf::FileError* e) {
         appf::File a, b;
         if (!a.Open(file_, appf::File::kReadWrite | appf::File::kShareDenyNone, nullptr) ||
             !b.Open(file_, appf::File::kReadWrite | appf::File::kShareDenyNone, nullptr) || !a.Lock(0, 4, nullptr))
           return true;
         return b.Lock(2, 4, e);
       },
       appf::FileCause::kLockViolation},
      {"a seek before the start",
       [&](appf::FileError* e) {
         appf::File f;
         if (!f.Open(file_, appf::File::kRead, nullptr)) return true;
         return f.Seek(-5, FILE_BEGIN, nullptr, e);
       },
       appf::FileCause::kBadSeek},
      {"reading past the end",
       [&](appf::FileError* e) {
         appf::File f;
         char buffer[16];
         if (!f.Open(file_, appf::File::kRead, nullptr) || !f.Seek(6, FILE_BEGIN, nullptr, nullptr)) return true;
         return f.ReadExactly(buffer, 8, e);
       },
       appf::FileCause::kEndOfFile},
      {"a handle that is not a file",
       [&](appf::FileError* e) {
         appf::File f(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x7FF0)));
         char buffer[4];
         DWORD read = 0;
         bool ok = f.Read(buffer, 4, &read, e);
         f.Close();
         return ok;
       },
       appf::FileCause::kInvalidFile},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    appf::FileError e;
    EXPECT_FALSE(c.provoke(&e));
    EXPECT_EQ(static_cast<int>(e.cause), static_cast<int>(c.cause)) << "system error " << e.osError;
  }
}

TEST_F(Files, CreateWithoutTruncateKeepsTheContentsAndPlainCreateEmptiesTheFile) {
  uint64_t length = 0;
  {
    appf::File f;
    ASSERT_TRUE(f.Open(file_, appf::File::kWrite | appf::File::kCreate | appf::File::kNoTruncate, nullptr));
    ASSERT_TRUE(f.Length(&length, nullptr));
    EXPECT_EQ(length, 10u);
  }
  {
    appf::File f;
    // Others may read while it is open for writing with writing denied.
    ASSERT_TRUE(f.Open(file_, appf::File::kWrite | appf::File::kCreate | appf::File::kShareDenyWrite, nullptr));
    appf::File reader;
    EXPECT_TRUE(reader.Open(file_, appf::File::kRead | appf::File::kShareDenyNone, nullptr));
    appf::FileError e;
    EXPECT_FALSE(appf::File().Open(file_, appf::File::kWrite | appf::File::kShareDenyNone, &e));
    EXPECT_EQ(e.cause, appf::FileCause::kSharingViolation);
    EXPECT_EQ(e.file, file_);
    ASSERT_TRUE(f.Length(&length, nullptr));
    EXPECT_EQ(length, 0u);
  }
}

TEST(Settings, ValuesAndTheRecentFileListGoToTheRegistryAndBack) {
  appf::Application app(L"Settings Test");
  app.SetRegistryKey(L"Kestrune Tests");
  RegDeleteTreeW(HKEY_CURRENT_USER, app.Profile().Key().c_str());
  EXPECT_EQ(app.Profile().GetInt(L"Config", L"Count", 7), 7);
  EXPECT_TRUE(app.Profile().WriteInt(L"Config", L"Count", 3));
  EXPECT_EQ(app.Profile().GetInt(L"Config", L"Count", 7), 3);
  EXPECT_TRUE(app.Profile().WriteString(L"Paths", L"Input", L"C:\\in"));
  EXPECT_EQ(app.Profile().GetString(L"Paths", L"Input", L"-"), L"C:\\in");

  app.LoadStdProfileSettings(4);
  for (const wchar_t* p : {L"C:\\a.krs", L"C:\\b.krs", L"C:\\c.krs", L"C:\\d.krs", L"C:\\e.krs", L"c:\\B.KRS"})
    app.Recent().Add(p);
  const std::vector<std::wstring> expected = {L"c:\\B.KRS", L"C:\\e.krs", L"C:\\d.krs", L"C:\\c.krs"};
  EXPECT_EQ(app.Recent().Items(), expected);
  app.ExitInstance();  // saves the list
  appf::Application again(L"Settings Test");
  again.SetRegistryKey(L"Kestrune Tests");
  again.LoadStdProfileSettings(4);
  EXPECT_EQ(again.Recent().Items(), expected);
  EXPECT_EQ(again.Profile().GetString(L"Recent File List", L"File5", L"none"), L"none");
  RegDeleteTreeW(HKEY_CURRENT_USER, again.Profile().Key().c_str());
}

TEST(ToolTip, ShowsItsTextAtThePointAndHides) {
  win::Window owner;
  ASSERT_TRUE(owner.Create(L"KrTipOwner", WS_POPUP, 0, nullptr, RECT{0, 0, 100, 100}));
  appf::ToolTip tip;
  ASSERT_TRUE(tip.Create(owner.Handle()));
  EXPECT_FALSE(tip.Visible());
  tip.SetText(L"time remaining 0:01:02   ");
  EXPECT_EQ(tip.Text(), L"time remaining 0:01:02");
  tip.ShowAt(POINT{200, 150});
  EXPECT_TRUE(tip.Visible());
  RECT r;
  GetWindowRect(tip.Handle(), &r);
  EXPECT_NEAR(r.left, 200, 1) << "at the point, within its border";
  EXPECT_NEAR(r.top, 150, 1);
  EXPECT_GT(r.right - r.left, 40) << "sized to its text";
  wchar_t shown[64] = {};
  TOOLINFOW info = {};
  info.cbSize = TTTOOLINFOW_V2_SIZE;
  info.hwnd = owner.Handle();
  info.uId = 1;
  info.lpszText = shown;
  SendMessageW(tip.Handle(), TTM_GETTEXTW, 64, reinterpret_cast<LPARAM>(&info));
  EXPECT_STREQ(shown, L"time remaining 0:01:02");
  tip.Hide();
  EXPECT_FALSE(tip.Visible());
}

TEST(Services, RichEditClassesAndHtmlHelpAreThere) {
  appf::Application app(L"Services");
  ASSERT_TRUE(app.EnableRichEdit());
  for (const wchar_t* cls : {L"RICHEDIT", L"RichEdit20W"}) {
    HWND w = CreateWindowExW(0, cls, L"", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(w, nullptr) << "class " << std::string(cls, cls + wcslen(cls));
    if (w) DestroyWindow(w);
  }
  // Help of a file that is not there: the call is made and answers no
  // window.
  EXPECT_EQ(app.HtmlHelp(nullptr, L"Z:\\nowhere\\missing.chm", 0 /* HH_DISPLAY_TOPIC */, 0), nullptr);
}

}  // namespace
