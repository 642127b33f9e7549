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
    POINT At;
    int TitleId;
  };
  const TTile tiles[] = {{kConvertTile, 18}, {kSplitTile, 19}, {kCutTile, 19}, {kMixTile, 21}, {kRecordTile, 16}};
  for (const TTile& t : tiles) {
    HWND task = OpenTask(app, main, t.At);
    ASSERT_TRUE(task) << "tile at " << t.At.x << "," << t.At.y;
    EXPECT_EQ(Text(task), Tr(L"2052", t.TitleId));
    // A window that opens minimises the main window (the split window, shown again by the cut
    // tile, is already open).
    if (t.At.x != kCutTile.x) {
      EXPECT_TRUE(Eventually([&] { return IsIconic(main) != 0; }, 5000));
    }
    if (t.At.x == kSplitTile.x && t.At.y == kSplitTile.y) {
      // The cut tile next: the split window stays the one window and comes to the front.
      ShowWindow(main, SW_RESTORE);
      ASSERT_TRUE(Eventually([&] { return !IsIconic(main); }, 5000));
      continue;
    }
    EXPECT_EQ(app.TopWindowCount(L"TaskWindows"), 1);
    Shot(task, L"program_tile_" + std::to_wstring(t.At.x - 60) + L"_" + std::to_wstring(t.At.y - 40));
    EXPECT_TRUE(Eventually([&] { return GetForegroundWindow() == task; }, 5000)) << "in front";
    ClickCaptionClose(task);
    EXPECT_TRUE(Eventually([&] { return !IsWindow(task) && !IsIconic(main); }, 5000)) << "the main window is back";
  }
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

}  // namespace
