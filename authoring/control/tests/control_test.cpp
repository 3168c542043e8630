// The authoring control at work: hosted by Wine's AtlAxWin with an event
// sink (the property table, mouse buttons and the context menu, dropped
// files, ports and time-outs, the methods not built yet, AboutBox), and
// inside the test program (ReportError's table through KRError, the copies
// in the engine's records, the engine's interfaces). The tests run in a
// Wine prefix of their own (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <shlobj.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "atl/module.h"
#include "atl/object.h"
#include "com_client.h"
#include "command.h"
#include "control.h"
#include "control_testing.h"
#include "host_testing.h"
#include "peers.h"

namespace {

using atl::Bstr;
using atl::ComPtr;
using E = EventSink::Event;

struct ErrorRow {
  uint32_t code;
  const wchar_t* text;
};

// The ControlError table as the control's hosts read it.
const ErrorRow kControlErrors[] = {
    {0x800A03E9, L"Bad state to execute this method"},
    {0x800A03EA, L"Video capture device not detected"},
    {0x800A03EB, L"Audio capture device not detected"},
    {0x800A03EC, L"Invalid file name"},
    {0x800A03EE, L"Bad source selection"},
    {0x800A03EF, L"Invalid device ID"},
    {0x800A03F0, L"Invalid dialog id"},
    {0x800A03F1, L"Interface not found"},
    {0x800A03F2, L"Encoding must be selected"},
    {0x800A03F3, L"Invalid value"},
    {0x800A03F4, L"Bad parameter"},
    {0x800A03F5, L"The function failed"},
    {0x800A03F6, L"Video device not available"},
    {0x800A03F7, L"Audio device not available"},
    {0x800A03F8, L"Invalid capture format"},
    {0x800A03F9, L"The Medlark component is not registered"},
    {0x800A03FA, L"Not enough memory to allocate component"},
    {0x800A03FB, L"The given string is too long"},
    {0x800A03FC, L"Connection to KRServer failed, selected port number might be already in use"},
    {0x800A03FD, L"Live capture not configured"},
    {0x800A0404, L"Cannot process the media source format"},
    {0x800A0405, L"Wrong image format"},
    {0x800A0406, L"Wrong input dimensions"},
    {0x800A0407, L"The control must be stopped, it should not be playing"},
    {0x800A0408, L"The control must be playing, it should not be stopped"},
    {0x800A0409, L"Wrong video capture config"},
    {0x800A040A, L"Error passing the SECURITY CHECK event"},
    {0x800A040B, L"Error passing the CLIENT STATUS event"},
    {0x800A040C, L"Error passing the PORT ERROR event"},
    {0x800A040D, L"Obsolete method, this function has been replaced"},
    {0x800A040E, L"Cannot create video encoder"},
    {0x800A040F, L"Cannot create audio encoder"},
    {0x800A0410, L"Cannot create output filter"},
    {0x800A0411, L"Cannot create network filter"},
    {0x800A0412, L"Cannot create preprocessor"},
    {0x800A0413, L"Cannot create frame grabber"},
    {0x800A0414, L"Cannot create streamer filter"},
    {0x800A0415, L"Cannot create Mux filter"},
    {0x800A0416, L"The YUV12 decompressor was not found"},
    {0x800A0417, L"The capture format is not supported"},
    {0x800A041D, L"The source width must be greater than source height.  Please specify a new source."},
    {0x800A041F, L"Unable to find valid Capture Size for device.  Try making the Encoding Size smaller."},
    {0x800A0420, L"Unable to set Capture Size on Device."},
    {0x800A0421, L"Invalid audio codec"},
    {0x800A0422, L"Audio codec is already configure to GSM ARM"},
    {0x800A0423, L"Audio codec is already configure to EVRC"},
    {0x800A0424, L"Audio codec is already configure to AAC"},
    {0x800A0425, L"Cannot display properties pages"},
    {0x800A0426, L"Validate input source failed"},
    {0x800A0427, L"Wrong statistic refresh rate value"},
    {0x800A0428, L"Wrong statistics window duration"},
    {0x800A0429, L"Invalid connected client ID"},
    {0x800A042A, L"Invalid output statistic ID"},
    {0x800A042B, L"Invalid stream time"},
    {0x800A042C, L"No client connected"},
    {0x800A042D, L"Session file is invalid and cannot be loaded."},
    {0x800A042E, L"Profile file is invalid and cannot be loaded."},
    {0x800A042F, L"Invalid input image dimensions."},
    {0x800A0430, L"Invalid encoding width."},
    {0x800A0431, L"Invalid encoding height."},
    {0x800A0432, L"No audio capture device detected.  The encoding stream type will be changed to video only."},
    {0x800A0433, L"Since output is set to Stream, AAC has been disabled."},
    {0x800A044C, L"A requested identifier is not present in the file.  Possibly corrupt File."},
    {0x800A044D, L"An identifier contains forbidden characters"},
    {0x800A044E, L"The file cannot be created because of memory or an invalid path"},
    {0x800A044F, L"The file cannot be opened because of memory or an invalid path"},
    {0x800A0450, L"A duplicate Identifier was submitted"},
    {0x800A0BB9, L"Invalid codec ID"},
    {0x800A0BBA, L"Invalid instance number"},
    {0x800A0BBB, L"Invalid audio bitrate"},
    {0x800A0BDA, L"Invalid audio configuration"},
    {0x800A0BDB, L"Use default codec"},
    {0x800A0FA6, L"Invalid encoding dimensions"},
    {0x800A0FA7, L"Invalid still image dimension"},
    {0x800A0FA8, L"Still image cannot be enlarged"},
    {0x800A1389, L"Unable to write file.  Insufficient temporary disk space."},
    {0x800A138A, L"%s could not be written to %s.  The disk is full.  Try removing files from the destination, or choosing a different output destination."},
    {0x800A1771, L"Unable to open the still image: "},
    {0x800A1772, L"Unable to open the input file."},
};

DWORD Regsvr32(bool unregister) { return ::Regsvr32(WindowsPath(CTLVANE_DLL), unregister); }

const Bstr& Chars(size_t n, wchar_t c) {
  static std::vector<std::unique_ptr<Bstr>> kept;
  kept.push_back(std::make_unique<Bstr>(std::wstring(n, c).c_str()));
  return *kept.back();
}

class Hosted : public testing::Test {
 protected:
  // The control's window needs an engine: the double stands in for it.
  static void SetUpTestSuite() {
    ASSERT_EQ(Regsvr32(false), 0u);
    ASSERT_EQ(::Regsvr32(WindowsPath(ENGINE_DOUBLE_DLL), false), 0u);
  }
  static void TearDownTestSuite() {
    EXPECT_EQ(::Regsvr32(WindowsPath(ENGINE_DOUBLE_DLL), true), 0u);
    EXPECT_EQ(Regsvr32(true), 0u);
  }
  // Away from where other tests on a shared display take screenshots.
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(com_));
    container_ = std::make_unique<Container>(L"KRACTIVE.KRActiveCtrl.1", RECT{700, 560, 1060, 820},
                                             RECT{20, 20, 340, 240}, RGB(0xE0, 0xD0, 0x40));
    ASSERT_NE(container_->Dispatch(), nullptr);
    connection_ = std::make_unique<Connection>(container_->Control(), DIID__DScrivelControlEvents, &sink_);
    ASSERT_TRUE(connection_->Connected());
  }
  void TearDown() override {
    connection_.reset();
    container_.reset();
    if (SUCCEEDED(com_)) CoUninitialize();
  }
  IDispatch* D() { return container_->Dispatch(); }
  void Reset() {
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(container_->Control()->QueryInterface(IID_IPersistStreamInit, persist.OutVoid()), S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    sink_.events.clear();
  }
  bool Modified() {
    ComPtr<IPersistStreamInit> persist;
    container_->Control()->QueryInterface(IID_IPersistStreamInit, persist.OutVoid());
    return persist && persist->IsDirty() == S_OK;
  }

  HRESULT com_ = OleInitialize(nullptr);
  EventSink sink_{DIID__DScrivelControlEvents};
  std::unique_ptr<Container> container_;
  std::unique_ptr<Connection> connection_;
};

// Each row starts from the reset control; `before` is written first when
// given, then `value`; `read` is read back (default: the same property).
struct PropertyCase {
  const char* what;
  DISPID id;
  std::function<VARIANT()> before;
  std::function<VARIANT()> value;
  std::wstring after;
  std::vector<E> errors;
  DISPID read = 0;
};

TEST_F(Hosted, PropertyTable) {
  auto none = [] { return None(); };
  const std::wstring profile = std::wstring(255, L'p');
  const PropertyCase cases[] = {
      {"encWidth 79 refused", 1, [] { return V(320); }, [] { return V(79); }, L"320",
       {KRError(0x800A0430, L"Invalid encoding width.")}},
      {"encWidth 80", 1, none, [] { return V(80); }, L"80", {}},
      {"encWidth 1280", 1, none, [] { return V(1280); }, L"1280", {}},
      {"encWidth 1281 refused", 1, [] { return V(320); }, [] { return V(1281); }, L"320",
       {KRError(0x800A0430, L"Invalid encoding width.")}},
      {"encHeight 59 refused", 3, [] { return V(240); }, [] { return V(59); }, L"240",
       {KRError(0x800A0431, L"Invalid encoding height.")}},
      {"nLayers 3 refused", 2, [] { return V(2); }, [] { return V(3); }, L"2", {KRError(0x800A03F3, L"Invalid value")}},
      {"baseBitRate 0 refused", 4, [] { return V(64000); }, [] { return V(0); }, L"64000",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"baseFrameRate 35.0", 6, none, [] { return VDouble(35.0); }, L"35", {}},
      {"baseFrameRate 35.01 refused", 6, [] { return VDouble(10); }, [] { return VDouble(35.01); }, L"10",
       {KRError(0x800A03FE, L"Error unknown")}},
      {"baseFrameRate 0.2", 6, none, [] { return VDouble(0.2); }, L"0.2", {}},
      {"enFrameRate 0.2 refused", 7, [] { return VDouble(10); }, [] { return VDouble(0.2); }, L"10",
       {KRError(0x800A03FF, L"Error unknown")}},
      {"iFrameInterval -2 refused", 8, [] { return V(-1); }, [] { return V(-2); }, L"-1",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"mediaOut 2 refused", 9, [] { return V(12); }, [] { return V(2); }, L"12",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"streamOut 4 refused", 10, [] { return V(5); }, [] { return V(4); }, L"5",
       {KRError(0x800A0400, L"Error unknown")}},
      {"OutputFileName of 256 characters refused", 11, [] { return VText(Chars(1, L'o')); },
       [] { return VText(Chars(256, L'o')); }, L"o", {KRError(0x800A03EC, L"Invalid file name")}},
      {"sourceType 2 refused", 12, [] { return V(1); }, [] { return V(2); }, L"1",
       {KRError(0x800A03EE, L"Bad source selection")}},
      {"encPreviewType 3 refused", 13, [] { return V(2); }, [] { return V(3); }, L"2",
       {KRError(0x800A0403, L"Error unknown")}},
      {"encPreviewType 0 clears guiMode's display bit", 13, [] { return V(2); }, [] { return V(0); }, L"14", {}, 32},
      {"encoding", 14, none, [] { return VBool(true); }, L"true", {}},
      {"capWidth 79 refused", 15, none, [] { return V(79); }, L"160", {KRError(0x800A03F3, L"Invalid value")}},
      {"capHeight 1025 refused", 16, [] { return V(480); }, [] { return V(1025); }, L"480",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"srcFileName of 256 characters refused", 17, [] { static const Bstr name(L"a.avi"); return VText(name); },
       [] { return VText(Chars(256, L's')); }, L"a.avi", {KRError(0x800A03F3, L"Invalid value")}},
      {"enableSkin FALSE sets guiMode 1", 18, none, [] { return VBool(false); }, L"1", {}, 32},
      {"bandwidth 1000001 refused", 19, [] { return V(56000); }, [] { return V(1000001); }, L"56000",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"contentVersion 22 refused", 20, [] { return V(30); }, [] { return V(22); }, L"30",
       {KRError(0x800A0402, L"Error unknown")}},
      {"maxDuration 999.99", 21, none, [] { return VDouble(999.99); }, L"999.99", {}},
      {"maxDuration 1000 refused", 21, [] { return VDouble(5); }, [] { return VDouble(1000); }, L"5",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"unitDuration 5 refused", 22, [] { return V(2); }, [] { return V(5); }, L"2",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"maxSize 65536 refused", 23, [] { return V(100); }, [] { return V(65536); }, L"100",
       {KRError(0x800A03F3, L"Invalid value")}},
      {"profileName of 255 characters", 24, none, [profile] { return VText(Chars(255, L'p')); }, profile, {}},
      {"profileName of 256 characters refused", 24, none, [] { return VText(Chars(256, L'p')); },
       L"Factory Defaults", {KRError(0x800A03EC, L"Invalid file name")}},
      {"profileDescription of 256 characters refused", 26, [] { return VText(Chars(2, L'd')); },
       [] { return VText(Chars(256, L'd')); }, L"dd", {KRError(0x800A03FB, L"The given string is too long")}},
      {"flags take any value", 28, none, [] { return V(-3); }, L"-3", {}},
      {"guiMode without the display sets encPreviewType 0", 32, [] { return V(15); }, [] { return V(14); }, L"0",
       {}, 13},
      {"backColor", 35, none, [] { return V(0xFF); }, L"255", {}},
      {"statRefreshRate 99 becomes 500", 39, [] { return V(1000); }, [] { return V(99); }, L"500",
       {KRError(0x800A0427, L"Wrong statistic refresh rate value")}},
      {"statRefreshRate 100", 39, none, [] { return V(100); }, L"100", {}},
      {"statWindowDuration 999 becomes 5000", 40, [] { return V(2000); }, [] { return V(999); }, L"5000",
       {KRError(0x800A0428, L"Wrong statistics window duration")}},
      {"statWindowDuration 3600001 becomes 5000", 40, [] { return V(2000); }, [] { return V(3600001); }, L"5000",
       {KRError(0x800A0428, L"Wrong statistics window duration")}},
      {"scratchDisk of 256 characters refused", 42, [] { return VText(Chars(4, L'k')); },
       [] { return VText(Chars(256, L'k')); }, L"kkkk", {KRError(0x800A03F3, L"Invalid value")}},
  };
  for (const PropertyCase& row : cases) {
    SCOPED_TRACE(row.what);
    Reset();
    VARIANT before = row.before();
    if (V_VT(&before) != VT_EMPTY) {
      ASSERT_EQ(Put(D(), row.id, before), S_OK);
      ASSERT_TRUE(sink_.events.empty());
    }
    EXPECT_EQ(Put(D(), row.id, row.value()), S_OK) << "a refusal never fails the call";
    EXPECT_TRUE(Modified());
    EXPECT_EQ(Get(D(), row.read ? row.read : row.id), row.after);
    EXPECT_EQ(sink_.events, row.errors);
  }
}

// The control's own defaults, and the engine's (encWidth, baseFrameRate) as
// its window's creation took them from the engine.
TEST_F(Hosted, DefaultsFromConstruction) {
  const struct {
    DISPID id;
    std::wstring value;
  } defaults[] = {{14, L"false"}, {15, L"160"},  {16, L"120"},   {18, L"true"},  {31, L"false"},
                  {32, L"15"},    {33, L"15"},   {34, L"7"},     {35, L"0"},     {36, L"true"},
                  {39, L"500"},   {40, L"5000"}, {24, L"Factory Defaults"}, {1, L"128"}, {6, L"5"}};
  for (const auto& d : defaults) EXPECT_EQ(Get(D(), d.id), d.value) << d.id;
  const std::wstring output = Get(D(), 11);
  EXPECT_GE(output.size(), std::wstring(L"\\Output_default.mp4").size());
  EXPECT_EQ(output.substr(output.size() - 19), L"\\Output_default.mp4");
}

// The menu of this process while it is shown: its entries, then closed.
struct MenuSeen {
  std::vector<UINT> ids;  // 0 for the separator
  bool shown = false;
};

std::thread WatchMenu(MenuSeen* seen, DWORD ms) {
  return std::thread([seen, ms] {
    for (DWORD waited = 0; waited < ms; waited += 20, Sleep(20)) {
      HWND menu = FindWindowW(L"#32768", nullptr);
      if (!menu || !IsWindowVisible(menu)) continue;
      seen->shown = true;
      HMENU handle = reinterpret_cast<HMENU>(SendMessageW(menu, MN_GETHMENU, 0, 0));
      for (int i = 0; handle && i < GetMenuItemCount(handle); ++i) seen->ids.push_back(GetMenuItemID(handle, i));
      for (int i = 0; i < 50 && IsWindowVisible(menu); ++i, Sleep(20)) PostMessageW(menu, WM_KEYDOWN, VK_ESCAPE, 0);
      return;
    }
  });
}

TEST_F(Hosted, MouseButtonsFireClickAndDblClickAndTheRightButtonOpensTheMenu) {
  HWND w = container_->ControlWindow();
  ASSERT_NE(w, nullptr);
  struct Case {
    const char* what;
    UINT message;
    WPARAM keys;
    int menuSettings;
    std::vector<E> events;
    std::vector<UINT> menu;  // empty: no menu
  } const cases[] = {
      {"left", WM_LBUTTONDOWN, MK_LBUTTON, 15, {{-600, {L"1", L"0", L"10", L"20"}}}, {}},
      {"left with Shift", WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT, 15, {{-600, {L"1", L"1", L"10", L"20"}}}, {}},
      {"left with Shift and Ctrl", WM_LBUTTONDOWN, MK_LBUTTON | MK_SHIFT | MK_CONTROL, 15,
       {{-600, {L"1", L"0", L"10", L"20"}}}, {}},
      {"right with Shift: no menu", WM_RBUTTONDOWN, MK_RBUTTON | MK_SHIFT, 15, {{-600, {L"2", L"1", L"10", L"20"}}},
       {}},
      {"right: the menu while stopped", WM_RBUTTONDOWN, MK_RBUTTON, 15, {{-600, {L"2", L"0", L"10", L"20"}}},
       {32771, 0, 32772, 32773}},
      {"right: the menu with property sheet and Start", WM_RBUTTONDOWN, MK_RBUTTON, 1 | 4,
       {{-600, {L"2", L"0", L"10", L"20"}}}, {32771, 0, 32773}},
      {"right: nothing allowed, no menu", WM_RBUTTONDOWN, MK_RBUTTON, 0, {{-600, {L"2", L"0", L"10", L"20"}}}, {}},
      {"left double click", WM_LBUTTONDBLCLK, MK_LBUTTON, 15, {{-601, {L"1", L"0", L"10", L"20"}}}, {}},
      {"right double click with Shift", WM_RBUTTONDBLCLK, MK_RBUTTON | MK_SHIFT, 15,
       {{-601, {L"2", L"1", L"10", L"20"}}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(Put(D(), 33, V(c.menuSettings)), S_OK);
    sink_.events.clear();
    MenuSeen seen;
    std::thread watcher = WatchMenu(&seen, c.menu.empty() ? 300 : 5000);
    SendMessageW(w, c.message, c.keys, MAKELPARAM(10, 20));
    watcher.join();
    EXPECT_EQ(sink_.events, c.events);
    EXPECT_EQ(seen.shown, !c.menu.empty());
    EXPECT_EQ(seen.ids, c.menu);
  }
}

HGLOBAL Drop(const wchar_t* files, size_t bytes, POINT at) {
  HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + bytes);
  auto* header = static_cast<DROPFILES*>(GlobalLock(drop));
  header->pFiles = sizeof(DROPFILES);
  header->pt = at;
  header->fWide = TRUE;
  memcpy(header + 1, files, bytes);
  GlobalUnlock(drop);
  return drop;
}

TEST_F(Hosted, DroppedFilesFireDropFilesCountingDownOnlyWhenEnabled) {
  HWND w = container_->ControlWindow();
  ASSERT_NE(w, nullptr);
  const wchar_t files[] = L"C:\\clips\\a.mp4\0C:\\b c.avi\0D:\\still.bmp\0";
  PostMessageW(w, WM_DROPFILES, reinterpret_cast<WPARAM>(Drop(files, sizeof(files), {30, 40})), 0);
  Pump(100);
  EXPECT_TRUE(sink_.events.empty()) << "enableDragandDrop is FALSE";
  EXPECT_FALSE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);

  ASSERT_EQ(Put(D(), 31, VBool(true)), S_OK);
  EXPECT_TRUE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
  PostMessageW(w, WM_DROPFILES, reinterpret_cast<WPARAM>(Drop(files, sizeof(files), {30, 40})), 0);
  Pump(100);
  EXPECT_EQ(sink_.events, (std::vector<E>{{9, {L"2", L"C:\\clips\\a.mp4", L"30", L"40"}},
                                          {9, {L"1", L"C:\\b c.avi", L"30", L"40"}},
                                          {9, {L"0", L"D:\\still.bmp", L"30", L"40"}}}));

  ASSERT_EQ(Put(D(), 31, VBool(false)), S_OK);
  EXPECT_FALSE(GetWindowLongW(w, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(Hosted, PortsAndTimeOuts) {
  Call c;
  Invoke(D(), 72, DISPATCH_METHOD, {V(554), V(6970), V(6971)}, &c);
  EXPECT_EQ(Result(c), S_OK);
  for (LONG refused : {8000L, 0L, -1L}) {
    sink_.events.clear();
    Invoke(D(), 72, DISPATCH_METHOD, {V(refused), V(1), V(2)}, &c);
    EXPECT_EQ(c.hr, S_OK);
    EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03F3u) << refused;
    EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03F3, L"Invalid value")}));
  }
  Invoke(D(), 72, DISPATCH_METHOD, {V(7999), V(7000), V(7001)}, &c);
  EXPECT_EQ(Result(c), S_OK) << "7999 is the last port taken";
  Outs ports(3);
  Invoke(D(), 73, DISPATCH_METHOD, ports.refs, &c);
  EXPECT_EQ(Result(c), S_OK);
  EXPECT_EQ(ports.Text(), L"7999,7000,7001");

  Invoke(D(), 74, DISPATCH_METHOD, {V(5), V(3), V(60)}, &c);
  EXPECT_EQ(Result(c), S_OK);
}

// The methods whose bodies come with later work: a long or SCODE result
// says E_NOTIMPL; an object or VARIANT result fails the call with it.
TEST_F(Hosted, MethodsNotBuiltYetAnswerNotImplemented) {
  const DISPID longResults[] = {46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, 64,
                                65, 66, 67, 68, 69, 70, 84, 85, 90, 93, 94, 95};
  const DISPID failing[] = {86, 87, 88, 89, 91, 92, 96, 97};
  auto args = [](DISPID id, Outs* outs, std::vector<Bstr>* texts) {
    std::vector<VARIANT> list;
    for (size_t i = 0; i < ctlvane::kDispatchContractSize; ++i) {
      const auto& m = ctlvane::kDispatchContract[i];
      if (m.dispid != id) continue;
      size_t out = 0;
      for (const char* p = m.params; *p; ++p) {
        if (*p == '*') {
          list.push_back(outs->refs[out++]);
          ++p;
        } else if (*p == 'v' || *p == 't') {
          texts->emplace_back(L"C:\\x.mp4");
          list.push_back(VText(texts->back()));
        } else {
          list.push_back(V(1));
        }
      }
    }
    return list;
  };
  for (DISPID id : longResults) {
    Outs outs(8);
    std::vector<Bstr> texts;
    texts.reserve(8);
    Call c;
    Invoke(D(), id, DISPATCH_METHOD, args(id, &outs, &texts), &c);
    EXPECT_EQ(c.hr, S_OK) << id;
    LONG value = V_VT(&c.result.Get()) == VT_ERROR ? V_ERROR(&c.result.Get()) : Result(c);
    EXPECT_EQ(value, E_NOTIMPL) << id;
  }
  for (DISPID id : failing) {
    Outs outs(8);
    std::vector<Bstr> texts;
    texts.reserve(8);
    Call c;
    Invoke(D(), id, DISPATCH_METHOD, args(id, &outs, &texts), &c);
    EXPECT_EQ(c.hr, DISP_E_EXCEPTION) << id;
    EXPECT_EQ(c.exception.scode, E_NOTIMPL) << id;
  }
  EXPECT_TRUE(sink_.events.empty());
}

TEST_F(Hosted, AboutBoxIsModalUntilClosed) {
  DialogCloser user(L"About Scrivel Control", 10000);
  Call c;
  Invoke(D(), -552, DISPATCH_METHOD, {}, &c);
  EXPECT_TRUE(user.Seen()) << "no About dialog";
  EXPECT_EQ(c.hr, S_OK);
}

using InProcess = InProcessControl;

TEST_F(InProcess, ReportErrorFiresKRErrorWithEveryTextOfTheTable) {
  ASSERT_EQ(std::size(kControlErrors), 79u);
  for (const ErrorRow& row : kControlErrors) {
    if (row.code == 0x800A138A || row.code == 0x800A1771) continue;  // formatted below
    sink_.events.clear();
    control_->ReportError(static_cast<HRESULT>(row.code));
    EXPECT_EQ(sink_.events, (std::vector<E>{KRError(row.code, row.text)})) << std::hex << row.code;
  }
  const struct {
    uint32_t code;
    const wchar_t* text;
  } others[] = {{0x80004004, L"Error occurred in KRActive"}, {0, L"Error unknown"},
                {1, L"Error unknown"},                       {0x800A03ED, L"Error unknown"},
                {0x800A03FE, L"Error unknown"},              {0x800A041E, L"Error unknown"},
                {0x800A0434, L"Error unknown"},              {0x80004005, L"Error unknown"}};
  for (const auto& o : others) {
    sink_.events.clear();
    control_->ReportError(static_cast<HRESULT>(o.code));
    EXPECT_EQ(sink_.events, (std::vector<E>{KRError(o.code, o.text)})) << std::hex << o.code;
  }
}

TEST_F(InProcess, DiskFullAndStillImageTextsTakeTheNamesAsArguments) {
  const struct {
    const wchar_t* output;
    std::wstring text;
  } cases[] = {
      {L"C:\\out\\clip.mp4",
       L"clip.mp4 could not be written to C:\\out\\.  The disk is full.  Try removing files from the destination, "
       L"or choosing a different output destination."},
      {L"C:\\100%\\%s%d.mp4",
       L"%s%d.mp4 could not be written to C:\\100%\\.  The disk is full.  Try removing files from the destination, "
       L"or choosing a different output destination."},
  };
  for (const auto& c : cases) {
    Bstr name(c.output);
    ASSERT_EQ(Put(dispatch_.Get(), 11, VText(name)), S_OK);
    sink_.events.clear();
    control_->ReportError(static_cast<HRESULT>(0x800A138A));
    EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A138A, c.text)}));
  }
  const wchar_t still[] = L"D:\\images\\logo 5%s.bmp";
  memcpy(control_->Records().output.stillImageFileName, still, sizeof(still));
  sink_.events.clear();
  control_->ReportError(static_cast<HRESULT>(0x800A1771));
  EXPECT_EQ(sink_.events,
            (std::vector<E>{KRError(0x800A1771, L"Unable to open the still image: D:\\images\\logo 5%s.bmp")}));
}

TEST_F(InProcess, AcceptedValuesReachTheEngineRecordsAndRefusedOnesDoNot) {
  IDispatch* d = dispatch_.Get();
  ASSERT_EQ(Put(d, 1, V(352)), S_OK);
  ASSERT_EQ(Put(d, 3, V(288)), S_OK);
  ASSERT_EQ(Put(d, 2, V(2)), S_OK);
  ASSERT_EQ(Put(d, 6, VDouble(7.5)), S_OK);
  ASSERT_EQ(Put(d, 9, V(4)), S_OK);
  ASSERT_EQ(Put(d, 12, V(1)), S_OK);
  Bstr scratch(L"D:\\scratch\\"), profile(L"Clip profile");
  ASSERT_EQ(Put(d, 42, VText(scratch)), S_OK);
  ASSERT_EQ(Put(d, 24, VText(profile)), S_OK);
  const mediaengine::KRSettingsRecords& r = control_->Records();
  EXPECT_EQ(r.video.width, 352);
  EXPECT_EQ(r.output.width, 352);
  EXPECT_EQ(r.video.height, 288);
  EXPECT_EQ(r.output.height, 288);
  EXPECT_EQ(r.video.layers, 2);
  EXPECT_EQ(r.output.enhancementLayers, 1u);
  EXPECT_EQ(r.video.frameRate[0], 7.5f);
  EXPECT_EQ(r.output.layerFrameRate[0], 7.5f);
  EXPECT_EQ(r.output.mediaOutputType, 4);
  EXPECT_EQ(r.application.liveSource, 1);
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(r.output.outputText), L"D:\\scratch\\");
  EXPECT_STREQ(reinterpret_cast<const wchar_t*>(r.application.profileName), L"Clip profile");

  const auto before = r;
  ASSERT_EQ(Put(d, 1, V(1281)), S_OK);
  ASSERT_EQ(Put(d, 6, VDouble(36)), S_OK);
  ASSERT_EQ(Put(d, 42, VText(Chars(256, L'z'))), S_OK);
  EXPECT_EQ(memcmp(&before, &r, sizeof(r)), 0) << "a refused value changes no record";
}

// The engine's configuration and grant interfaces, as far as these
// methods use them.
class FakeEngine : public IKRMediaConfig, public IGrantConnection {
 public:
  LONG grantedClient = 0, grantedVerdict = -1;
  HRESULT grantAnswer = S_OK;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IKRMediaConfig)) {
      *out = static_cast<IKRMediaConfig*>(this);
    } else if (IsEqualIID(iid, IID_IGrantConnection)) {
      *out = static_cast<IGrantConnection*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetConfigOutput(mediaengine::KROutputConfig* config) override {
    config->clientInterval = 11;
    config->clientReportCount = 12;
    config->clientIdleTime = 13;
    return S_FALSE;
  }
  STDMETHODIMP GrantConnection(LONG client, LONG verdict) override {
    grantedClient = client;
    grantedVerdict = verdict;
    return grantAnswer;
  }
  STDMETHODIMP ConfigVideoEncoder(mediaengine::KRVideoEncoderConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP GetConfigVideoEncoder(mediaengine::KRVideoEncoderConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP ConfigAudioEncoder(mediaengine::KRAudioEncoderConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP GetConfigAudioEncoder(mediaengine::KRAudioEncoderConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP ConfigOutput(mediaengine::KROutputConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP ConfigApplication(mediaengine::KRApplicationConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP GetConfigApplication(mediaengine::KRApplicationConfig*) override { return E_NOTIMPL; }
  STDMETHODIMP SetDestinationWindow(HWND, RECT*, LONG, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetDestinationWindow(KRDestinationWindow*) override { return E_NOTIMPL; }
  STDMETHODIMP SetEventWindow(HWND, LONG) override { return E_NOTIMPL; }
  STDMETHODIMP GetEventWindow(KREventWindow*) override { return E_NOTIMPL; }
  STDMETHODIMP SaveProfile(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP LoadProfile(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP SaveSession(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP LoadSession(LPCWSTR) override { return E_NOTIMPL; }
  STDMETHODIMP ResetToDefaults() override { return E_NOTIMPL; }
  STDMETHODIMP SetVersionInfo(DWORD*) override { return E_NOTIMPL; }
};

TEST_F(InProcess, TimeOutAndGrantGoThroughTheEngine) {
  Outs none(3);
  Call c;
  Invoke(dispatch_.Get(), 75, DISPATCH_METHOD, none.refs, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03F1u) << "no engine";
  Invoke(dispatch_.Get(), 71, DISPATCH_METHOD, {V(12), VBool(true)}, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A03F1u);
  EXPECT_EQ(sink_.events, (std::vector<E>{KRError(0x800A03F1, L"Interface not found"),
                                          KRError(0x800A03F1, L"Interface not found")}));
  sink_.events.clear();

  FakeEngine engine;
  control_->SetEngine(static_cast<IKRMediaConfig*>(&engine));
  Outs timeOut(3);
  Invoke(dispatch_.Get(), 75, DISPATCH_METHOD, timeOut.refs, &c);
  EXPECT_EQ(Result(c), S_FALSE) << "the engine's result";
  EXPECT_EQ(timeOut.Text(), L"11,12,13") << "the output record as the engine refreshed it";
  engine.grantAnswer = static_cast<HRESULT>(0x800A0429);
  Invoke(dispatch_.Get(), 71, DISPATCH_METHOD, {V(42), VBool(true)}, &c);
  EXPECT_EQ(static_cast<uint32_t>(Result(c)), 0x800A0429u);
  EXPECT_EQ(engine.grantedClient, 42);
  EXPECT_EQ(engine.grantedVerdict, TRUE);
  EXPECT_TRUE(sink_.events.empty());
  control_->SetEngine(nullptr);
}

}  // namespace
