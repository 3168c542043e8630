// The window layer: handlers by message (private numbers too), commands
// with their enabling handlers and menus, timers, owner drawing, and the
// memory device context.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window/gdi.h"
#include "window/window.h"

namespace {

void Pump(DWORD ms) {
  DWORD end = GetTickCount() + ms;
  while (static_cast<LONG>(end - GetTickCount()) > 0) {
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    Sleep(5);
  }
}

class WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(w_.Create(L"KrWindowTest", WS_POPUP, 0, nullptr, RECT{0, 0, 100, 80}));
  }
  win::Window w_;
};

TEST_F(WindowTest, EachMessageGoesToItsOwnHandlerAndTheRestToTheDefault) {
  std::vector<std::string> calls;
  w_.On(0x5F4, [&](WPARAM w, LPARAM l) -> LRESULT {
    calls.push_back("graph " + std::to_string(w) + " " + std::to_string(l));
    return 11;
  });
  w_.On(0x658, [&](WPARAM, LPARAM l) -> LRESULT {
    const POINT* p = reinterpret_cast<const POINT*>(l);
    calls.push_back("left down " + std::to_string(p->x) + "," + std::to_string(p->y));
    return 0;
  });
  POINT p = {7, 9};
  EXPECT_EQ(SendMessageW(w_.Handle(), 0x5F4, 3, 4), 11);
  EXPECT_EQ(SendMessageW(w_.Handle(), 0x658, MK_LBUTTON, reinterpret_cast<LPARAM>(&p)), 0);
  // No handler: DefWindowProc answers (a window text round trip).
  EXPECT_TRUE(SetWindowTextW(w_.Handle(), L"title"));
  wchar_t text[16] = {};
  GetWindowTextW(w_.Handle(), text, 16);
  EXPECT_STREQ(text, L"title");
  // A later handler replaces the first.
  w_.On(0x5F4, [&](WPARAM, LPARAM) -> LRESULT { return 22; });
  EXPECT_EQ(SendMessageW(w_.Handle(), 0x5F4, 0, 0), 22);
  EXPECT_EQ(calls, (std::vector<std::string>{"graph 3 4", "left down 7,9"}));
}

TEST_F(WindowTest, CommandsRunOnlyWhileEnabledAndMenusFollowTheirEnablers) {
  int started = 0, stopped = 0;
  bool running = false;
  w_.OnCommand(32769, [&] { ++started, running = true; }, [&] { return !running; });
  w_.OnCommand(32770, [&] { ++stopped, running = false; }, [&] { return running; });
  w_.OnCommand(32768, [] {});  // no enabler: always enabled
  SendMessageW(w_.Handle(), WM_COMMAND, 32770, 0);  // stop while stopped
  SendMessageW(w_.Handle(), WM_COMMAND, 32769, 0);
  SendMessageW(w_.Handle(), WM_COMMAND, 32769, 0);  // start while running
  EXPECT_EQ(started, 1);
  EXPECT_EQ(stopped, 0);

  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, 32768, L"Properties...");
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, 32769, L"Start");
  AppendMenuW(menu, MF_STRING, 32770, L"Stop");
  AppendMenuW(menu, MF_STRING, 149, L"Unhandled");
  SendMessageW(w_.Handle(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  auto greyed = [&](UINT id) { return (GetMenuState(menu, id, MF_BYCOMMAND) & MF_GRAYED) != 0; };
  EXPECT_FALSE(greyed(32768));
  EXPECT_TRUE(greyed(32769)) << "running: Start is off";
  EXPECT_FALSE(greyed(32770));
  EXPECT_TRUE(greyed(149)) << "a command nobody handles is off";
  SendMessageW(w_.Handle(), WM_COMMAND, 32770, 0);
  w_.UpdateMenu(menu);
  EXPECT_FALSE(greyed(32769));
  EXPECT_TRUE(greyed(32770));
  EXPECT_EQ(stopped, 1);
  DestroyMenu(menu);
}

TEST_F(WindowTest, TimersRunByIdUntilStoppedAndEndWithTheWindow) {
  int ticks1 = 0, ticks3 = 0;
  ASSERT_TRUE(w_.StartTimer(1, 10, [&] {
    if (++ticks1 == 3) w_.StopTimer(1);  // a handler may stop its own timer
  }));
  ASSERT_TRUE(w_.StartTimer(3, 10, [&] { ++ticks3; }));
  for (int i = 0; i < 200 && (ticks1 < 3 || ticks3 < 5); ++i) Pump(10);
  EXPECT_EQ(ticks1, 3);
  EXPECT_GE(ticks3, 5);
  EXPECT_FALSE(w_.TimerRunning(1));
  EXPECT_TRUE(w_.TimerRunning(3));
  w_.Destroy();
  EXPECT_EQ(w_.Handle(), nullptr);
  EXPECT_FALSE(w_.TimerRunning(3));
  int before = ticks3;
  Pump(50);
  EXPECT_EQ(ticks3, before);
}

TEST_F(WindowTest, OwnerDrawingGoesToTheHandlerOfTheItemsControlId) {
  std::vector<UINT> drawn;
  w_.OnDrawItem(105, [&](const DRAWITEMSTRUCT& item) { drawn.push_back(item.CtlID); });
  DRAWITEMSTRUCT item = {};
  item.CtlID = 105;
  EXPECT_EQ(SendMessageW(w_.Handle(), WM_DRAWITEM, 105, reinterpret_cast<LPARAM>(&item)), TRUE);
  item.CtlID = 106;  // nobody draws it: the default answers
  EXPECT_EQ(SendMessageW(w_.Handle(), WM_DRAWITEM, 106, reinterpret_cast<LPARAM>(&item)), FALSE);
  EXPECT_EQ(drawn, std::vector<UINT>{105});
}

TEST(Gdi, MemoryContextKeepsWhatIsFilledIntoIt) {
  win::MemoryDC memory(nullptr, 20, 10);
  ASSERT_TRUE(memory.Valid());
  win::FillSolid(memory.Get(), RECT{0, 0, 20, 10}, RGB(10, 200, 30));
  win::FillSolid(memory.Get(), RECT{5, 2, 8, 4}, RGB(250, 0, 0));
  EXPECT_EQ(GetPixel(memory.Get(), 0, 0), RGB(10, 200, 30));
  EXPECT_EQ(GetPixel(memory.Get(), 19, 9), RGB(10, 200, 30));
  EXPECT_EQ(GetPixel(memory.Get(), 5, 2), RGB(250, 0, 0));
  EXPECT_EQ(GetPixel(memory.Get(), 8, 4), RGB(10, 200, 30)) << "the rectangle's right and bottom are outside";
}

}  // namespace
