// The main window's tiles in the real program: each opens its task window, the split and the cut
// tiles the same one.
#include <gtest/gtest.h>

#include "common/XInput.h"
#include "program/Tasks.h"

using namespace program;

namespace {

// Each tile opens its task window (the split and the cut tiles the same one, brought to the front
// again), the main window minimised while it is open and back when it closes.
TEST(MainWindowTiles, EachOpensItsWindowOnceAndTheSplitAndCutTilesShareOne) {
  xinput::Park();
  TProgram app(L"2052");
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  struct TTile {
    int X, Y, TitleId;
  };
  const TTile tiles[] = {{20, 130, 18}, {296, 130, 19}, {552, 130, 19}, {20, 298, 21}, {296, 298, 16}};
  for (const TTile& t : tiles) {
    ClickAt(main, t.X + 60, t.Y + 40);
    HWND task = app.TopWindow(L"TaskWindows");
    ASSERT_TRUE(task) << "tile at " << t.X << "," << t.Y;
    EXPECT_EQ(Text(task), Tr(L"2052", t.TitleId));
    // A window that opens minimises the main window (the split window, shown again by the cut
    // tile, is already open).
    if (t.X != 552) {
      EXPECT_TRUE(Eventually([&] { return IsIconic(main) != 0; }, 5000));
    }
    if (t.X == 296 && t.Y == 130) {
      // The cut tile next: the split window stays the one window and comes to the front.
      ShowWindow(main, SW_RESTORE);
      ASSERT_TRUE(Eventually([&] { return !IsIconic(main); }, 5000));
      continue;
    }
    EXPECT_EQ(app.TopWindowCount(L"TaskWindows"), 1);
    Shot(task, L"program_tile_" + std::to_wstring(t.X) + L"_" + std::to_wstring(t.Y));
    EXPECT_TRUE(Eventually([&] { return GetForegroundWindow() == task; }, 5000)) << "in front";
    ClickTaskClose(task);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(task) && !IsIconic(main); }, 5000)) << "the main window is back";
  }
  ClickAt(main, 794 - 16, 12);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

}  // namespace
