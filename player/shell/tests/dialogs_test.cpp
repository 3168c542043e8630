// The dialogs of the player's commands, run modally on this thread and
// driven from a second thread by messages, as a user's clicks and keys
// would arrive; each leaves a PNG of itself, grabbed from the X display,
// beside the test program.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "shell/about_dialogs.h"
#include "shell/clip_info_dialog.h"
#include "shell/clip_lists.h"
#include "shell/clips_sheet.h"
#include "shell/location_dialog.h"
#include "shell/messages.h"
#include "shell/portable/settings_values.h"
#include "shell/settings_store.h"
#include "shell_test_support.h"

namespace {

// The main window as the dialogs find it: class "Orlomer"; it keeps the
// window that the last dialog announced with message 1293.
std::atomic<HWND> g_announced{nullptr};

LRESULT CALLBACK OwnerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kMsgDialogShown) g_announced = reinterpret_cast<HWND>(wParam);
  return DefWindowProcW(window, message, wParam, lParam);
}

class OwnerWindow {
 public:
  OwnerWindow() {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = &OwnerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    wc.lpszClassName = L"Orlomer";
    RegisterClassW(&wc);
    window = CreateWindowExW(0, L"Orlomer", L"Orlomer", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 560, 520, nullptr,
                             nullptr, GetModuleHandleW(nullptr), nullptr);
    g_announced = nullptr;
  }
  ~OwnerWindow() { DestroyWindow(window); }
  HWND window;
};

struct Found {
  DWORD thread;
  std::vector<HWND> skip;
  HWND window;
  const wchar_t* className;
};

BOOL CALLBACK FindNew(HWND window, LPARAM data) {
  auto* f = reinterpret_cast<Found*>(data);
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  if (!IsWindowVisible(window) || wcscmp(name, f->className) != 0) return TRUE;
  for (HWND s : f->skip)
    if (s == window) return TRUE;
  f->window = window;
  return FALSE;
}

// A visible top-level window of the class on the thread, other than those
// in skip; null after the time limit.
HWND WaitForWindow(DWORD thread, std::vector<HWND> skip = {}, const wchar_t* className = L"#32770",
                   DWORD limitMs = 10000) {
  const DWORD start = GetTickCount();
  for (;;) {
    Found f = {thread, skip, nullptr, className};
    EnumThreadWindows(thread, &FindNew, reinterpret_cast<LPARAM>(&f));
    if (f.window) return f.window;
    if (GetTickCount() - start > limitMs) return nullptr;
    Sleep(20);
  }
}

// Runs modal() here while driver(dialog) acts from another thread on the
// first dialog that appears; a dialog still open after the driver is
// cancelled, so a failed check never hangs the test.
template <typename Modal>
auto RunDriven(Modal modal, std::function<void(HWND)> driver) {
  const DWORD ui = GetCurrentThreadId();
  std::thread t([&] {
    HWND dialog = WaitForWindow(ui);
    EXPECT_NE(dialog, nullptr) << "no dialog appeared";
    if (!dialog) return;
    driver(dialog);
    for (int i = 0; i < 100 && IsWindow(dialog); ++i) {
      if (i == 50) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      Sleep(20);
    }
  });
  auto result = modal();
  t.join();
  return result;
}

// A button's click as the button reports it (BM_CLICK's mouse capture
// costs Wine two seconds).
void Click(HWND dialog, int id) {
  SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// Saves the window as it shows on the X display, beside the test program.
void Screenshot(HWND window, const char* name) {
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Sleep(400);
  const char* display = std::getenv("DISPLAY");
  ASSERT_NE(display, nullptr) << "no X display";
  RECT r = {};
  GetWindowRect(window, &r);
  const std::wstring png = BesideTest(name);
  DeleteFileW(png.c_str());
  const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -video_size " +
                              std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top) + " -i " +
                              display + "+" + std::to_string(r.left) + "," + std::to_string(r.top) +
                              " -frames:v 1 '" + UnixPath(png) + "'";
  const ProcessResult result = RunHostCommand(BesideTest(""), command, 20000);
  EXPECT_EQ(result.exitCode, 0u) << result.output;
  EXPECT_GT(ReadFileBytes(png).size(), 1000u) << name;
}

class Dialogs : public ::testing::Test {
 protected:
  void SetUp() override {
    DeletePlayerKeys();
    folder_ = BesideTest("dialogs_data\\");
    CreateDirectoryW(folder_.c_str(), nullptr);
    DeleteFileW((folder_ + L"Favorites.dat").c_str());
    DeleteFileW((folder_ + L"History.dat").c_str());
    ASSERT_TRUE(WriteSettingStringById(instance_, shell::kKRData, folder_.c_str()));
  }
  void TearDown() override {
    SetMessageBoxForTesting(nullptr);
    DeletePlayerKeys();
  }

  HINSTANCE instance_ = GetModuleHandleW(nullptr);
  std::wstring folder_;
  OwnerWindow owner_;
};

// ---- Media Buffer ----

struct MediaBufferCase {
  const char* name;
  bool stored;
  DWORD value;
  bool defaultShown;  // the default button checked, the slider disabled
  int position;       // where the slider starts
  std::function<void(HWND)> act;
  int32_t result;
};

TEST_F(Dialogs, MediaBufferShowsTheSettingAndReturnsTheChoice) {
  const auto ok = [](HWND d) { Click(d, IDOK); };
  const auto cancel = [](HWND d) { Click(d, IDCANCEL); };
  const auto slideTo = [](int p) {
    return [p](HWND d) {
      SendDlgItemMessageW(d, kMediaBufferSlider, TBM_SETPOS, TRUE, p);
      Click(d, IDOK);
    };
  };
  const MediaBufferCase cases[] = {
      {"custom 7500", true, 7500, false, 6, ok, 7000},
      {"missing", false, 0, true, 6, ok, 0},
      {"default 0", true, 0, true, 6, ok, 0},
      {"cancel", true, 4000, false, 3, cancel, -1},
      {"left end", true, 9000, false, 8, slideTo(0), 1000},
      {"right end", true, 9000, false, 8, slideTo(14), 15000},
      {"default to custom", true, 0, true, 6,
       [](HWND d) {
         Click(d, kMediaBufferCustomButton);
         EXPECT_TRUE(IsWindowEnabled(GetDlgItem(d, kMediaBufferSlider)));
         SendDlgItemMessageW(d, kMediaBufferSlider, TBM_SETPOS, TRUE, 2);
         Click(d, IDOK);
       },
       3000},
      {"custom to default", true, 5000, false, 4,
       [](HWND d) {
         Click(d, kMediaBufferDefaultButton);
         EXPECT_FALSE(IsWindowEnabled(GetDlgItem(d, kMediaBufferSlider)));
         Click(d, IDOK);
       },
       0},
  };
  for (const MediaBufferCase& c : cases) {
    SCOPED_TRACE(c.name);
    DeletePlayerKeys();
    if (c.stored) {
      ASSERT_TRUE(WriteSettingDwordById(instance_, shell::kMaximumBufferedData, c.value));
    }
    g_announced = nullptr;
    MediaBufferDialog dialog;
    const int32_t result = RunDriven([&] { return dialog.DoModal(owner_.window, instance_); },
                                     [&](HWND d) {
                                       EXPECT_EQ(g_announced.load(), d);
                                       EXPECT_EQ(IsDlgButtonChecked(d, kMediaBufferDefaultButton) == BST_CHECKED,
                                                 c.defaultShown);
                                       EXPECT_EQ(IsDlgButtonChecked(d, kMediaBufferCustomButton) == BST_CHECKED,
                                                 !c.defaultShown);
                                       HWND slider = GetDlgItem(d, kMediaBufferSlider);
                                       EXPECT_EQ(IsWindowEnabled(slider) != FALSE, !c.defaultShown);
                                       EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMIN, 0, 0), 0);
                                       EXPECT_EQ(SendMessageW(slider, TBM_GETRANGEMAX, 0, 0), 14);
                                       EXPECT_EQ(SendMessageW(slider, TBM_GETPOS, 0, 0), c.position);
                                       // The end labels are grey exactly while the default is chosen.
                                       HDC dc = CreateCompatibleDC(nullptr);
                                       SetTextColor(dc, RGB(1, 2, 3));
                                       const LRESULT brush = SendMessageW(d, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                                                          reinterpret_cast<LPARAM>(GetDlgItem(d, kMediaBufferSmaller)));
                                       if (c.defaultShown) {
                                         EXPECT_EQ(GetTextColor(dc), GetSysColor(COLOR_GRAYTEXT));
                                         EXPECT_EQ(brush, reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_MENU)));
                                       } else {
                                         EXPECT_NE(GetTextColor(dc), GetSysColor(COLOR_GRAYTEXT));
                                       }
                                       DeleteDC(dc);
                                       c.act(d);
                                     });
    EXPECT_EQ(result, c.result);
    // The dialog only answers; the command stores the value.
    DWORD after = 12345;
    EXPECT_EQ(ReadSettingDwordById(instance_, shell::kMaximumBufferedData, &after), c.stored ? 1 : 0);
    if (c.stored) {
      EXPECT_EQ(after, c.value);
    }
  }
}

// ---- Location ----

TEST_F(Dialogs, LocationTakesAnyTextCutTo255) {
  const std::wstring initial = L"rtsp://127.0.0.1/clip.mp4";
  struct Case {
    const char* name;
    std::wstring typed;  // set into the edit before the button
    int button;
    INT_PTR result;
    std::wstring address;
  } cases[] = {
      {"empty", L"", IDOK, 1, L""},
      {"300 units", std::wstring(300, L'a'), IDOK, 1, std::wstring(255, L'a')},
      {"non-Latin", L"rtsp://127.0.0.1/\u00e9t\u00e9 \u6771\u4eac.mp4", IDOK, 1,
       L"rtsp://127.0.0.1/\u00e9t\u00e9 \u6771\u4eac.mp4"},
      {"cancel", L"typed", IDCANCEL, 2, initial},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LocationDialog dialog(initial.c_str());
    const INT_PTR result = RunDriven([&] { return dialog.DoModal(owner_.window, instance_); },
                                     [&](HWND d) {
                                       HWND edit = GetDlgItem(d, kLocationEdit);
                                       DWORD from = 99, to = 99;
                                       SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&from),
                                                    reinterpret_cast<LPARAM>(&to));
                                       EXPECT_EQ(from, 0u);
                                       EXPECT_EQ(to, initial.size());
                                       // Centred over the owner in both directions.
                                       RECT o = {}, m = {};
                                       GetWindowRect(owner_.window, &o);
                                       GetWindowRect(d, &m);
                                       EXPECT_EQ(m.left, o.left + ((o.right - o.left) - (m.right - m.left)) / 2);
                                       EXPECT_EQ(m.top, o.top + ((o.bottom - o.top) - (m.bottom - m.top)) / 2);
                                       SetWindowTextW(edit, c.typed.c_str());
                                       Click(d, c.button);
                                     });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(std::wstring(LocationDialog::Address()), c.address);
  }
}

// The Windows 9x mode's dialog and edit are ANSI: a Western text comes back
// through the edit's code page.
TEST_F(Dialogs, LocationInTheWindows9xMode) {
  ScopedApiMode mode(true);
  LocationDialog dialog(L"http://127.0.0.1/caf\u00e9.mp4");
  const INT_PTR result = RunDriven([&] { return dialog.DoModal(owner_.window, instance_); },
                                   [&](HWND d) {
                                     HWND edit = GetDlgItem(d, kLocationEdit);
                                     char text[64] = {};
                                     GetWindowTextA(edit, text, 64);
                                     EXPECT_STREQ(text, "http://127.0.0.1/caf\xe9.mp4");
                                     SetWindowTextA(edit, "rtsp://127.0.0.1/\xe9t\xe9.mp4");
                                     Click(d, IDOK);
                                   });
  EXPECT_EQ(result, 1);
  EXPECT_EQ(std::wstring(LocationDialog::Address()), L"rtsp://127.0.0.1/\u00e9t\u00e9.mp4");
}

// ---- Clip Info ----

// Pixels of a window's client area that are not white, read back at once.
int InkedPixels(HWND window) {
  RECT r = {};
  GetClientRect(window, &r);
  HDC dc = GetDC(window);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, r.right, r.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, r.right, r.bottom, dc, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = r.right;
  info.bmiHeader.biHeight = -r.bottom;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> pixels(static_cast<size_t>(r.right) * static_cast<size_t>(r.bottom > 0 ? r.bottom : 0));
  GetDIBits(memory, bitmap, 0, static_cast<UINT>(r.bottom), pixels.data(), &info, DIB_RGB_COLORS);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(window, dc);
  int inked = 0;
  for (uint32_t p : pixels) inked += (p & 0xFFFFFF) != 0xFFFFFF;
  return inked;
}

// The rows are drawn into the controls on white, in both modes (the
// Windows 9x mode through the ANSI code page); an empty value stays blank.
TEST_F(Dialogs, ClipInfoDrawsItsRowsInBothModes) {
  for (bool win9x : {false, true}) {
    SCOPED_TRACE(win9x ? "9x" : "NT");
    ScopedApiMode mode(win9x);
    ClipInfoDialog dialog(L"Caf\u00e9 news", L"", L"(C) Kestrune", L"G", L"Short.");
    RunDriven([&] { return dialog.DoModal(owner_.window); },
              [&](HWND d) {
                RedrawWindow(d, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
                Sleep(300);
                EXPECT_GT(InkedPixels(GetDlgItem(d, kClipInfoFirstLabel)), 10);
                EXPECT_GT(InkedPixels(GetDlgItem(d, kClipInfoFirstValue)), 10);
                EXPECT_EQ(InkedPixels(GetDlgItem(d, kClipInfoFirstValue + 1)), 0);
                SendMessageW(d, WM_COMMAND, IDOK, 0);
              });
  }
}

std::wstring Words(int count) {
  std::wstring out;
  for (int i = 0; i < count; ++i) out += (i ? L" " : L"") + std::wstring(L"word") + std::to_wstring(i % 10);
  return out;
}

TEST_F(Dialogs, ClipInfoShortTextsNeedNoScrollBar) {
  ClipInfoDialog dialog(L"Morning news", L"", L"(C) Kestrune", nullptr, L"A short clip.");
  EXPECT_EQ(std::wstring(dialog.Text(1)), L" ");
  EXPECT_EQ(std::wstring(dialog.Text(3)), L" ");
  const INT_PTR result = RunDriven([&] { return dialog.DoModal(owner_.window); },
                                   [&](HWND d) {
                                     EXPECT_EQ(g_announced.load(), d);
                                     EXPECT_FALSE(dialog.ScrollBarShown());
                                     EXPECT_FALSE(IsWindowVisible(GetDlgItem(d, kClipInfoScrollBar)));
                                     // At the top of the owner's client area, centred across it.
                                     POINT origin = {0, 0};
                                     ClientToScreen(owner_.window, &origin);
                                     RECT o = {}, m = {};
                                     GetWindowRect(owner_.window, &o);
                                     GetWindowRect(d, &m);
                                     EXPECT_EQ(m.top, origin.y);
                                     EXPECT_EQ(m.left, origin.x + ((o.right - o.left) - (m.right - m.left)) / 2);
                                     // Every row's label and value are shown where they were laid out.
                                     for (int i = 0; i < kClipInfoRows; ++i) {
                                       EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, kClipInfoFirstLabel + i))) << i;
                                       EXPECT_TRUE(IsWindowVisible(GetDlgItem(d, kClipInfoFirstValue + i))) << i;
                                     }
                                     Screenshot(d, "dialog_clip_info.png");
                                     SendMessageW(d, WM_COMMAND, IDOK, 0);
                                   });
  EXPECT_EQ(result, 1);
}

// The texts hold 255 units, as the engine's clip texts do: a description
// of 200 words keeps its first 255 units, which wrap to fewer lines than
// the dialog shows. A description of many short lines needs the scroll bar.
TEST_F(Dialogs, ClipInfoScrollsALongDescriptionLineByLine) {
  const std::wstring words = Words(200);
  EXPECT_EQ(std::wstring(ClipInfoDialog(L"", L"", L"", L"", words.c_str()).Text(4)), words.substr(0, 255));
  std::wstring description;
  for (int i = 1; i <= 24; ++i) description += L"Scene " + std::to_wstring(i) + L"\r\n";
  ClipInfoDialog dialog(L"\u6771\u4eac\u306e\u591c", L"An author", L"(C) Kestrune", L"G", description.c_str());
  EXPECT_EQ(std::wstring(dialog.Text(4)), description);
  RunDriven([&] { return dialog.DoModal(owner_.window); },
            [&](HWND d) {
              HWND bar = GetDlgItem(d, kClipInfoScrollBar);
              ASSERT_TRUE(dialog.ScrollBarShown());
              EXPECT_TRUE(IsWindowVisible(bar));
              const int last = dialog.TotalLines() - dialog.VisibleLines();
              ASSERT_GT(last, 0);
              SCROLLINFO info = {};
              info.cbSize = sizeof(info);
              info.fMask = SIF_ALL;
              GetScrollInfo(bar, SB_CTL, &info);
              EXPECT_EQ(info.nMin, 0);
              EXPECT_EQ(info.nMax, dialog.TotalLines() - 1);
              EXPECT_EQ(int(info.nPage), dialog.VisibleLines());
              RECT before = {}, after = {};
              GetWindowRect(GetDlgItem(d, kClipInfoFirstValue), &before);
              SendMessageW(d, WM_VSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(bar));
              EXPECT_EQ(dialog.ScrollPosition(), 1);
              EXPECT_EQ(GetScrollPos(bar, SB_CTL), 1);
              UpdateWindow(d);
              Sleep(100);
              GetWindowRect(GetDlgItem(d, kClipInfoFirstValue), &after);
              EXPECT_LT(after.top, before.top);  // the rows moved up
              SendMessageW(d, WM_VSCROLL, SB_LINEUP, reinterpret_cast<LPARAM>(bar));
              SendMessageW(d, WM_VSCROLL, SB_LINEUP, reinterpret_cast<LPARAM>(bar));
              EXPECT_EQ(dialog.ScrollPosition(), 0);
              Screenshot(d, "dialog_clip_info_long.png");
              SendMessageW(d, WM_VSCROLL, SB_PAGEDOWN, reinterpret_cast<LPARAM>(bar));
              EXPECT_EQ(dialog.ScrollPosition(), std::min(last, dialog.VisibleLines()));
              SendMessageW(d, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, last), reinterpret_cast<LPARAM>(bar));
              EXPECT_EQ(dialog.ScrollPosition(), last);
              // Line down at the end keeps the position; the thumb stays there.
              SetScrollPos(bar, SB_CTL, 0, FALSE);
              SendMessageW(d, WM_VSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(bar));
              EXPECT_EQ(dialog.ScrollPosition(), last);
              EXPECT_EQ(GetScrollPos(bar, SB_CTL), last);
              SendMessageW(d, WM_COMMAND, IDCANCEL, 0);
            });
}

// ---- About ----

TEST_F(Dialogs, AboutShowsTheVersionOverTheLogo) {
  AboutDialog dialog(owner_.window);
  const INT_PTR result = RunDriven([&] { return dialog.DoModal(owner_.window, instance_); },
                                   [&](HWND d) {
                                     EXPECT_EQ(g_announced.load(), d);
                                     wchar_t text[64] = {};
                                     GetDlgItemTextW(d, 1052, text, 64);
                                     EXPECT_STREQ(text, L"Version 3.0");
                                     // Title font bold, body regular, both at the hidden sizes (8 points).
                                     LOGFONTW title = {}, body = {};
                                     GetObjectW(reinterpret_cast<HFONT>(SendDlgItemMessageW(d, 1052, WM_GETFONT, 0, 0)),
                                                sizeof(title), &title);
                                     GetObjectW(reinterpret_cast<HFONT>(SendDlgItemMessageW(d, 1055, WM_GETFONT, 0, 0)),
                                                sizeof(body), &body);
                                     EXPECT_EQ(title.lfWeight, FW_BOLD);
                                     EXPECT_EQ(body.lfWeight, FW_NORMAL);
                                     EXPECT_EQ(title.lfHeight, body.lfHeight);
                                     Screenshot(d, "dialog_about.png");
                                     // The background as painted: the logo's top-left, the rule in
                                     // the colour of pixel (0, 75) at 28 % of the height, the fill of
                                     // pixel (1, 1) below it.
                                     RECT client = {};
                                     GetClientRect(d, &client);
                                     HDC dc = GetDC(d);
                                     const int rule = client.bottom * 28 / 100;
                                     EXPECT_EQ(GetPixel(dc, 50, rule), RGB(30, 70, 150));
                                     EXPECT_EQ(GetPixel(dc, client.right - 2, rule), RGB(30, 70, 150));
                                     EXPECT_EQ(GetPixel(dc, client.right - 1, rule), RGB(255, 255, 255));
                                     // (the logo's 74 rows may reach below the rule)
                                     EXPECT_EQ(GetPixel(dc, 50, std::max(rule, 74) + 3), RGB(255, 255, 255));
                                     EXPECT_EQ(GetPixel(dc, 38, 37), RGB(255, 255, 255));  // the play mark
                                     EXPECT_EQ(GetPixel(dc, 38, 20), RGB(62, 146, 200));   // the disc
                                     ReleaseDC(d, dc);
                                     Click(d, IDOK);
                                   });
  EXPECT_EQ(result, 1);
}

TEST_F(Dialogs, MediaBufferScreenshot) {
  ASSERT_TRUE(WriteSettingDwordById(instance_, shell::kMaximumBufferedData, 0));
  MediaBufferDialog dialog;
  RunDriven([&] { return dialog.DoModal(owner_.window, instance_); },
            [&](HWND d) {
              Screenshot(d, "dialog_media_buffer.png");
              Click(d, IDCANCEL);
            });
  LocationDialog location(L"rtsp://127.0.0.1/clip.mp4");
  RunDriven([&] { return location.DoModal(owner_.window, instance_); },
            [&](HWND d) {
              Screenshot(d, "dialog_location.png");
              Click(d, IDCANCEL);
            });
}


// ---- Clips sheet ----

struct SheetBox {
  std::wstring text, caption;
};
std::vector<SheetBox> g_sheetBoxes;
int WINAPI AnswerYes(HWND, LPCWSTR text, LPCWSTR caption, UINT) {
  g_sheetBoxes.push_back({text ? text : L"", caption ? caption : L""});
  return IDYES;
}

HWND CurrentPage(HWND sheet) { return reinterpret_cast<HWND>(SendMessageW(sheet, PSM_GETCURRENTPAGEHWND, 0, 0)); }

HWND PageList(HWND sheet) {
  HWND page = CurrentPage(sheet);
  HWND list = GetDlgItem(page, kFavoritesList);
  return list ? list : GetDlgItem(page, kRecentList);
}

std::vector<std::wstring> Rows(HWND list) {
  std::vector<std::wstring> out;
  const int n = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
  for (int i = 0; i < n; ++i) {
    wchar_t text[256] = {};
    LVITEMW item = {};
    item.iSubItem = 0;
    item.pszText = text;
    item.cchTextMax = 256;
    SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
    out.push_back(text);
  }
  return out;
}

void Select(HWND list, int row) {
  LVITEMW item = {};
  item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  item.state = LVIS_SELECTED | LVIS_FOCUSED;
  SendMessageW(list, LVM_SETITEMSTATE, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

POINT RowCentre(HWND list, int row) {
  RECT r = {};
  r.left = LVIR_LABEL;
  SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
  POINT p = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  return p;
}

// Opens the Favorites row menu over a row as a right click would and picks
// its item-th entry with the keyboard.
void PickMenuItem(HWND sheet, HWND list, int row, int item) {
  POINT p = RowCentre(list, row);
  ClientToScreen(list, &p);
  SetCursorPos(p.x, p.y);
  PostMessageW(CurrentPage(sheet), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(p.x, p.y));
  HWND menu = WaitForWindow(GetWindowThreadProcessId(sheet, nullptr), {}, L"#32768", 5000);
  ASSERT_NE(menu, nullptr) << "no menu";
  for (int i = 0; i <= item; ++i) PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
}

class ClipsSheetTest : public Dialogs {
 protected:
  void SetUp() override {
    Dialogs::SetUp();
    FavoritesStore store;
    ASSERT_EQ(store.Add(2, L"rtsp://127.0.0.1/zeta", L"Zeta"), 1);
    ASSERT_EQ(store.Add(1, L"C:\\clips\\alpha.mp4", L"alpha"), 1);
    ASSERT_EQ(store.Add(0, L"http://127.0.0.1/beta.mp4", L"Beta \u00e9t\u00e9"), 1);
    g_sheetBoxes.clear();
  }
  std::string FavoritesBytes() { return ReadFileBytes(folder_ + L"Favorites.dat"); }

  // Runs the sheet; the result, the address and the kind it gave.
  struct Taken {
    int result;
    std::wstring address;
    uint32_t kind;
  };
  Taken RunSheet(HistoryStore* history, int favoritesFirst, std::function<void(HWND)> driver) {
    FavoritesStore favorites;
    ClipsSheet sheet(&favorites, history);
    wchar_t address[256] = L"untouched";
    uint32_t kind = 99;
    const int result = RunDriven([&] { return sheet.Run(address, &kind, favoritesFirst); }, driver);
    return {result, address, kind};
  }
};

TEST_F(ClipsSheetTest, FavoritesAreSortedAndOkTakesTheSelection) {
  HistoryStore history;
  const Taken t = RunSheet(&history, 1, [&](HWND sheet) {
    EXPECT_EQ(g_announced.load(), sheet);
    HWND list = PageList(sheet);
    ASSERT_EQ(GetDlgCtrlID(list), kFavoritesList);
    EXPECT_EQ(Rows(list), (std::vector<std::wstring>{L"alpha", L"Beta \u00e9t\u00e9", L"Zeta"}));
    EXPECT_TRUE(IsWindowVisible(list));
    Select(list, 0);
    Screenshot(sheet, "dialog_clips_favorites.png");
    SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
  });
  EXPECT_EQ(t.result, 1);
  EXPECT_EQ(t.address, L"C:\\clips\\alpha.mp4");
  EXPECT_EQ(t.kind, 1u);
}

TEST_F(ClipsSheetTest, ATitleWiderThanTheColumnWidensIt) {
  {
    FavoritesStore store;
    ASSERT_EQ(store.Add(1, L"C:\\w.mp4", std::wstring(80, L'W').c_str()), 1);
  }
  HistoryStore history;
  RunSheet(&history, 1, [&](HWND sheet) {
    HWND list = PageList(sheet);
    RECT client = {};
    GetClientRect(list, &client);
    RedrawWindow(list, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    Sleep(100);
    EXPECT_GT(SendMessageW(list, LVM_GETCOLUMNWIDTH, 0, 0), client.right);
    SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  });
}

TEST_F(ClipsSheetTest, AnEmptyHistoryTakesNothing) {
  HistoryStore history;
  ASSERT_EQ(history.Count(), 0);
  for (bool doubleClick : {false, true}) {
    const Taken t = RunSheet(&history, 0, [&](HWND sheet) {
      HWND list = PageList(sheet);
      ASSERT_EQ(GetDlgCtrlID(list), kRecentList);
      EXPECT_EQ(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
      if (doubleClick) {
        PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(20, 10));
        Sleep(200);
        EXPECT_TRUE(IsWindow(sheet));  // nothing taken, nothing closed
      }
      SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    });
    EXPECT_EQ(t.result, 0) << doubleClick;
    EXPECT_EQ(t.address, L"untouched");
    EXPECT_EQ(t.kind, 99u);
  }
}

TEST_F(ClipsSheetTest, OkTakesTheShowingPagesClipOnly) {
  HistoryStore history;
  history.Add(2, L"rtsp://127.0.0.1/recent-a", L"recent a");
  history.Add(1, L"C:\\clips\\recent-b.mp4", L"recent b");
  struct Case {
    int startPage;  // 1: Favorites first
    int finalPage;  // the page showing at OK: 0 Favorites, 1 Recent
    std::wstring address;
    uint32_t kind;
  } cases[] = {
      {1, 1, L"C:\\clips\\recent-b.mp4", 1},  // recent b is the history's first row
      {0, 0, L"rtsp://127.0.0.1/zeta", 2},    // Zeta is the third favourite
  };
  for (const Case& c : cases) {
    const Taken t = RunSheet(&history, c.startPage, [&](HWND sheet) {
      for (int page : {1 - c.finalPage, c.finalPage}) {
        SendMessageW(sheet, PSM_SETCURSEL, static_cast<WPARAM>(page), 0);
        HWND list = PageList(sheet);
        Select(list, page == 0 ? 2 : 0);
        if (page == 1) {
          EXPECT_EQ(Rows(list), (std::vector<std::wstring>{L"recent b", L"recent a"}));
          Screenshot(sheet, "dialog_clips_recent.png");
        }
      }
      SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
    });
    EXPECT_EQ(t.result, 1);
    EXPECT_EQ(t.address, c.address);
    EXPECT_EQ(t.kind, c.kind);
  }
}

TEST_F(ClipsSheetTest, EscapeAndDoubleClick) {
  HistoryStore history;
  history.Add(2, L"rtsp://127.0.0.1/recent-a", L"recent a");
  for (int favoritesFirst : {1, 0}) {
    const Taken t = RunSheet(&history, favoritesFirst, [&](HWND sheet) {
      HWND list = PageList(sheet);
      Select(list, 0);
      PostMessageW(list, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(t.result, 0) << favoritesFirst;
    EXPECT_EQ(t.address, L"untouched");
  }
  const Taken t = RunSheet(&history, 1, [&](HWND sheet) {
    HWND list = PageList(sheet);
    Select(list, 1);
    const POINT p = RowCentre(list, 1);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
    PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(p.x, p.y));
    PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  });
  EXPECT_EQ(t.result, 1);
  EXPECT_EQ(t.address, L"http://127.0.0.1/beta.mp4");
  EXPECT_EQ(t.kind, 2u);
}

TEST_F(ClipsSheetTest, RowMenuRenamesShowsAndDeletes) {
  SetMessageBoxForTesting(&AnswerYes);
  HistoryStore history;
  const std::string before = FavoritesBytes();
  const DWORD ui = GetCurrentThreadId();
  const Taken t = RunSheet(&history, 1, [&](HWND sheet) {
    HWND list = PageList(sheet);
    // Rename on the first row: the name the dialog offered, then the text typed.
    const auto renameFirstRow = [&](const wchar_t* typed, const char* screenshot) {
      PickMenuItem(sheet, list, 0, 0);
      HWND rename = WaitForWindow(ui, {sheet});
      wchar_t offered[64] = {};
      if (!rename) {
        ADD_FAILURE() << "no Rename dialog";
        return std::wstring();
      }
      GetDlgItemTextW(rename, kRenameEdit, offered, 64);
      if (screenshot) Screenshot(rename, screenshot);
      SetDlgItemTextW(rename, kRenameEdit, typed);
      Click(rename, IDOK);
      for (int i = 0; i < 100 && IsWindow(rename); ++i) Sleep(20);
      return std::wstring(offered);
    };
    // Renaming to an empty text changes nothing.
    EXPECT_EQ(renameFirstRow(L"", "dialog_clips_rename.png"), L"alpha");
    EXPECT_EQ(Rows(list)[0], L"alpha");
    EXPECT_EQ(FavoritesBytes(), before);
    // A new name goes to the store and the row.
    EXPECT_EQ(renameFirstRow(L"Omega", nullptr), L"alpha");
    EXPECT_EQ(Rows(list)[0], L"Omega");
    // A name another favourite has is refused by the store: the row keeps its own.
    EXPECT_EQ(renameFirstRow(L"Zeta", nullptr), L"Omega");
    EXPECT_EQ(Rows(list)[0], L"Omega");
    ASSERT_EQ(g_sheetBoxes.size(), 1u);
    EXPECT_EQ(g_sheetBoxes[0].text, L"A clip with this name already exists.  Please try a different name.");
    g_sheetBoxes.clear();

    // Show Location, then Delete (answered Yes) of the second row.
    PickMenuItem(sheet, list, 1, 1);
    for (int i = 0; i < 100 && g_sheetBoxes.empty(); ++i) Sleep(20);
    PickMenuItem(sheet, list, 1, 2);
    for (int i = 0; i < 100 && g_sheetBoxes.size() < 2; ++i) Sleep(20);
    Sleep(100);
    EXPECT_EQ(Rows(list), (std::vector<std::wstring>{L"Omega", L"Zeta"}));

    // A right click below the rows opens no menu.
    RECT r = {};
    GetWindowRect(list, &r);
    SetCursorPos(r.left + 10, r.bottom - 5);
    PostMessageW(CurrentPage(sheet), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(list), MAKELPARAM(r.left + 10, r.bottom - 5));
    EXPECT_EQ(WaitForWindow(ui, {}, L"#32768", 500), nullptr);
    SendMessageW(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
  });
  EXPECT_EQ(t.result, 0);
  ASSERT_EQ(g_sheetBoxes.size(), 2u);
  EXPECT_EQ(g_sheetBoxes[0].text, L"http://127.0.0.1/beta.mp4");
  EXPECT_EQ(g_sheetBoxes[0].caption, L"Location");
  EXPECT_EQ(g_sheetBoxes[1].text, L"Are you sure you want to delete \"Beta \u00e9t\u00e9\"?");
  EXPECT_EQ(g_sheetBoxes[1].caption, L"Delete");
  FavoritesStore store;
  const int n = store.Read();
  ASSERT_EQ(n, 2);
  EXPECT_EQ(std::wstring(store.Records()[0].title), L"Zeta");
  EXPECT_EQ(std::wstring(store.Records()[1].title), L"Omega");
  EXPECT_EQ(std::wstring(store.Records()[1].address), L"C:\\clips\\alpha.mp4");
}

}  // namespace
