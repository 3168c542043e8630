#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "shell/skin_controls.h"
#include "shell/skin_manager.h"
#include "shell/win_api_table.h"
#include "shell_test_support.h"

namespace {

// A main window of the tests' own that records the controls' messages.
std::vector<std::pair<UINT, LPARAM>> g_messages;

LRESULT CALLBACK RecordingMain(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m >= kMsgSeekRelease && m <= kMsgSeekStart) g_messages.push_back({m, lp});
  return DefWindowProcW(w, m, wp, lp);
}

class Owner : public SeekOwner {
 public:
  void SetTime(uint32_t seconds, uint32_t durationSeconds) override { times.push_back({seconds, durationSeconds}); }
  std::vector<std::pair<uint32_t, uint32_t>> times;
};

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(skin.LoadSkinFromPath(BesideTest("Orlomer.ksk").c_str()), 1);
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordingMain;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"Orlomer";
    RegisterClassW(&wc);
    main = CreateWindowExW(0, L"Orlomer", L"test main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 300, 300, nullptr,
                           nullptr, wc.hInstance, nullptr);
    ASSERT_NE(main, nullptr);
    g_messages.clear();
  }
  void TearDown() override {
    DestroyWindow(main);
    UnregisterClassW(L"Orlomer", GetModuleHandleW(nullptr));
  }
  // Delivers what the controls posted.
  static void Pump() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
  static void Mouse(HWND w, UINT message, int x, int y) {
    SendMessageW(w, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON,
                 MAKELPARAM(static_cast<WORD>(static_cast<int16_t>(x)), static_cast<WORD>(static_cast<int16_t>(y))));
  }
  SkinManager skin;
  HWND main = nullptr;
};

TEST_F(Controls, VolumeThumbPositionsAndValues) {
  VolumeControl volume(&skin);
  HWND w = volume.Create(GetModuleHandleW(nullptr));
  ASSERT_NE(w, nullptr);
  wchar_t cls[16] = {};
  GetClassNameW(w, cls, 16);
  EXPECT_STREQ(cls, L"Volume");
  EXPECT_FALSE(IsWindowVisible(w));
  EXPECT_EQ(GetWindow(w, GW_OWNER), main);
  struct Case {
    int set, top, value;
  };
  // The skin's thumb is 8 pixels high: usable height 84 - 8 - 15 = 61.
  for (const Case& c : {Case{100, 15, 100}, Case{50, 45, 51}, Case{0, 76, 0}}) {
    volume.SetVolume(c.set);
    EXPECT_EQ(volume.ThumbRect().top, c.top) << c.set;
    EXPECT_EQ(volume.ThumbRect().bottom, c.top + 8) << c.set;
    EXPECT_EQ(volume.GetVolume(), c.value) << c.set;
  }
  EXPECT_TRUE(volume.Muted());
  EXPECT_TRUE(g_messages.empty());  // setting is not a user's change
}

TEST_F(Controls, VolumeClicksAndDrags) {
  VolumeControl volume(&skin);
  HWND w = volume.Create(GetModuleHandleW(nullptr));
  ASSERT_NE(w, nullptr);
  volume.SetVolume(50);
  // The top end zone sets 100 at once, the bottom one 0; each change is sent.
  Mouse(w, WM_LBUTTONDOWN, 9, 8);
  Mouse(w, WM_LBUTTONUP, 9, 8);
  EXPECT_EQ(volume.GetVolume(), 100);
  Mouse(w, WM_LBUTTONDOWN, 9, 90);
  Mouse(w, WM_LBUTTONUP, 9, 90);
  EXPECT_EQ(volume.GetVolume(), 0);
  Pump();
  ASSERT_EQ(g_messages.size(), 4u);
  EXPECT_EQ(g_messages[0], std::make_pair(kMsgVolumeChanged, LPARAM{100}));
  EXPECT_EQ(g_messages[1], std::make_pair(kMsgVolumeChanged, LPARAM{0}));
  EXPECT_EQ(g_messages[2].first, kMsgSeekRelease);
  EXPECT_EQ(g_messages[3].first, kMsgSeekRelease);
  // Dragging the thumb past either end stops at the end.
  g_messages.clear();
  Mouse(w, WM_LBUTTONDOWN, 9, 78);  // on the thumb at 76-84
  Mouse(w, WM_MOUSEMOVE, 9, -40);
  EXPECT_EQ(volume.GetVolume(), 100);
  Mouse(w, WM_MOUSEMOVE, 9, 200);
  EXPECT_EQ(volume.GetVolume(), 0);
  Mouse(w, WM_LBUTTONUP, 9, 200);
  Pump();
  ASSERT_EQ(g_messages.size(), 3u);
  EXPECT_EQ(g_messages[0].second, 100);
  EXPECT_EQ(g_messages[1].second, 0);
  EXPECT_EQ(g_messages[2].first, kMsgSeekRelease);
  // A click outside the track and the end zones does nothing.
  g_messages.clear();
  Mouse(w, WM_LBUTTONDOWN, 1, 50);
  Mouse(w, WM_LBUTTONUP, 1, 50);
  Pump();
  EXPECT_TRUE(g_messages.empty());
}

TEST_F(Controls, SeekBarDragsAndReleases) {
  Owner owner;
  ProgressControl seek(&skin, &owner);
  HWND w = seek.Create(GetModuleHandleW(nullptr));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(GetDlgCtrlID(w), kSeekBarId);
  EXPECT_EQ(GetParent(w), main);
  // Not seekable yet: clicks do nothing.
  Mouse(w, WM_LBUTTONDOWN, 100, 12);
  Pump();
  EXPECT_TRUE(g_messages.empty());

  seek.SetSeekable(true);
  seek.SetPosition(0, 60000);
  EXPECT_EQ(seek.BarRect().left, 5);
  EXPECT_EQ(seek.BarRect().right, 195);
  EXPECT_EQ(seek.ThumbRect().left, 1);
  // Drag the thumb past the right end: the duration.
  Mouse(w, WM_LBUTTONDOWN, 5, 12);
  EXPECT_TRUE(seek.IsSeeking());
  Mouse(w, WM_MOUSEMOVE, 500, 12);
  EXPECT_EQ(seek.ThumbRect().right, 199);
  Mouse(w, WM_LBUTTONUP, 500, 12);
  EXPECT_FALSE(seek.IsSeeking());
  Pump();
  ASSERT_EQ(g_messages.size(), 3u);
  EXPECT_EQ(g_messages[0].first, kMsgSeekStart);
  EXPECT_EQ(g_messages[1].first, kMsgSeekRelease);
  EXPECT_EQ(g_messages[2], std::make_pair(kMsgSeekTo, LPARAM{60000}));
  ASSERT_FALSE(owner.times.empty());
  EXPECT_EQ(owner.times.back(), std::make_pair(60u, 60u));

  // A click on the bar, released left of the window: 0.
  g_messages.clear();
  Mouse(w, WM_LBUTTONDOWN, 100, 12);
  Mouse(w, WM_MOUSEMOVE, -30, 12);
  EXPECT_EQ(seek.ThumbRect().left, 1);
  Mouse(w, WM_LBUTTONUP, -30, 12);
  Pump();
  ASSERT_EQ(g_messages.size(), 3u);
  EXPECT_EQ(g_messages[2], std::make_pair(kMsgSeekTo, LPARAM{0}));
  EXPECT_EQ(owner.times.back(), std::make_pair(0u, 60u));

  // Half way along the bar.
  g_messages.clear();
  Mouse(w, WM_LBUTTONDOWN, 100, 12);
  Mouse(w, WM_LBUTTONUP, 100, 12);
  Pump();
  ASSERT_EQ(g_messages.size(), 3u);
  EXPECT_EQ(g_messages[2], std::make_pair(kMsgSeekTo, LPARAM{30000}));
}

TEST_F(Controls, SeekBarWithoutDurationIsEmpty) {
  ProgressControl seek(&skin, nullptr);
  ASSERT_NE(seek.Create(GetModuleHandleW(nullptr)), nullptr);
  seek.SetSeekable(false);
  seek.SetPosition(5000, 0);
  EXPECT_EQ(seek.PlayedRect().right, seek.PlayedRect().left);
  seek.SetPosition(30000, 60000);
  EXPECT_EQ(seek.PlayedRect().right, 1 + 198 / 2);
  seek.SetDownload(0, 100);
  EXPECT_EQ(seek.DownloadRect().right, seek.BarRect().right);
  seek.Reset(0);
  EXPECT_EQ(seek.DownloadRect().right, 0);
}

}  // namespace
