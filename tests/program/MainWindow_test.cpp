// The main window of the real program: as it starts in each language table, its taskbar button,
// its tiles' hints on the status bar, its caption bar's Close ending the program, and the bus's
// messages it answers.
#include <gtest/gtest.h>

#include <algorithm>

#include "common/XInput.h"
#include "program/Tasks.h"

using namespace program;

namespace {

// Pixels that differ between the same area of two shots.
int Differ(const capture::TCapture& A, const capture::TCapture& B, const RECT& Area) {
  int n = 0;
  for (int y = Area.top; y < Area.bottom; ++y)
    for (int x = Area.left; x < Area.right; ++x) n += A.At(x, y) != B.At(x, y);
  return n;
}

// Dark pixels (text) in an area of a shot, and whether its left and right thirds differ (two
// different characters missing from the font would be two equal boxes).
struct TInk {
  int Ink = 0, ThirdsDiffer = 0;
};
TInk Ink(const capture::TCapture& Shot, const RECT& Area) {
  auto dark = [&](int X, int Y) {
    uint32_t p = Shot.At(X, Y);
    return ((p >> 16 & 0xFF) * 30 + (p >> 8 & 0xFF) * 59 + (p & 0xFF) * 11) < 150 * 100;
  };
  TInk r;
  int x0 = Area.right, x1 = Area.left - 1;
  for (int y = Area.top; y < Area.bottom; ++y)
    for (int x = Area.left; x < Area.right; ++x)
      if (dark(x, y)) ++r.Ink, x0 = std::min(x0, x), x1 = std::max(x1, x);
  const int third = (x1 - x0 + 1) / 3;
  for (int y = Area.top; y < Area.bottom; ++y)
    for (int x = 0; x < third; ++x) r.ThirdsDiffer += dark(x0 + x, y) != dark(x1 - third + 1 + x, y);
  return r;
}

const RECT kStatusHint{10, 441, 744, 471};  // the status bar without its version
const RECT kTitle{75, 10, 560, 60};         // the caption bar's title

class MainWindow : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(MainWindow, ShowsItsFrameHintsItsTilesAndClosesFromItsCaptionBar) {
  xinput::Park();
  TProgram app(GetParam());
  HWND main = app.MainWindow();
  ASSERT_TRUE(main) << "the main window shows";
  EXPECT_EQ(Text(main), L"SampleMorph");
  RECT client, frame;
  GetClientRect(main, &client);
  GetWindowRect(main, &frame);
  EXPECT_EQ(client.right, 794);
  EXPECT_EQ(client.bottom, 471);
  EXPECT_EQ(frame.right - frame.left, 794) << "no frame and no caption";
  EXPECT_EQ(GetWindowLongW(main, GWL_STYLE) & WS_CAPTION, 0);
  HRGN rgn = CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(GetWindowRgn(main, rgn), ERROR) << "rounded corners";
  RECT box;
  GetRgnBox(rgn, &box);
  EXPECT_EQ(box.right, 793);
  DeleteObject(rgn);
  // On the taskbar of its own: owned by the application's hidden window, it needs the
  // application-window style for a button (the X server here runs no taskbar to ask).
  const LONG ex = GetWindowLongW(main, GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_APPWINDOW);
  EXPECT_FALSE(ex & WS_EX_TOOLWINDOW);
  // Centred on the 1280 x 1024 screen.
  EXPECT_NEAR(frame.left, (1280 - 794) / 2, 1);
  EXPECT_NEAR(frame.top, (1024 - 471) / 2, 1);

  const std::wstring lang = GetParam();
  capture::TCapture idle = Shot(main, L"program_main_" + lang);
  TInk title = Ink(idle, kTitle);
  EXPECT_GT(title.Ink, 100) << "the title is drawn";
  EXPECT_GT(title.ThirdsDiffer, 20) << "its characters are glyphs, not boxes";

  // Hovering a tile puts its description on the status bar; leaving it brings the link back.
  MoveTo(main, kConvertTile.x, kConvertTile.y);
  ASSERT_TRUE(Eventually([&] { return Differ(Shot(main, L"program_main_hover_" + lang), idle, kStatusHint) > 50; }, 5000))
      << "the convert tile's description shows";
  capture::TCapture hover = Shot(main, L"program_main_hover_" + lang);
  EXPECT_GT(Ink(hover, kStatusHint).ThirdsDiffer, 10);
  MoveTo(main, 400, 112);  // the tool box, on no tile
  EXPECT_TRUE(Eventually([&] { return Differ(Shot(main, L"program_main_left_" + lang), idle, kStatusHint) == 0; }, 5000))
      << "the link is back";

  // The caption bar's Close ends the program.
  ClickCaptionClose(main);
  EXPECT_TRUE(Eventually([&] { return !IsWindow(main); }, 10000)) << "the main window goes";
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

// The bus's two messages as the main window gets them: a task window opened minimises it, one
// closed brings it back; other arguments, other commands and unknown tool ids change nothing.
TEST(MainWindowMessages, TaskWindowNewsAndToolIdsAsTheBusHandsThem) {
  constexpr UINT WM_CAPTION_COMMAND = 1034, WM_OPEN_TASK = 1036;
  constexpr WPARAM CC_TASK_WINDOW = 16;
  xinput::Park();
  TProgram app(L"2052");
  HWND main = app.MainWindow();
  ASSERT_TRUE(main);
  auto send = [&](UINT Msg, WPARAM W, LPARAM L) {
    DWORD_PTR r = 0;
    ASSERT_NE(SendMessageTimeoutW(main, Msg, W, L, SMTO_NORMAL, 10000, &r), 0) << Msg << " " << W << " " << L;
  };
  struct TCase {
    UINT Msg;
    WPARAM W;
    LPARAM L;
    bool Iconic;
  } cases[] = {
      {WM_CAPTION_COMMAND, CC_TASK_WINDOW, SC_MINIMIZE, false}, {WM_CAPTION_COMMAND, CC_TASK_WINDOW, 7, false},
      {WM_CAPTION_COMMAND, 7, 5, false},                         {WM_OPEN_TASK, 99, 0, false},
      {WM_CAPTION_COMMAND, CC_TASK_WINDOW, 5, true},             {WM_CAPTION_COMMAND, CC_TASK_WINDOW, SC_MINIMIZE, true},
      {WM_CAPTION_COMMAND, CC_TASK_WINDOW, SC_CLOSE, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Msg) + " " + std::to_string(c.W) + " " + std::to_string(c.L));
    send(c.Msg, c.W, c.L);
    EXPECT_TRUE(Eventually([&] { return (IsIconic(main) != 0) == c.Iconic; }, 3000));
  }
  EXPECT_EQ(app.TopWindowOfClass(L"TaskWindows.UnicodeClass", 500), nullptr) << "no window for an unknown tool";
  ClickCaptionClose(main);
  EXPECT_EQ(app.WaitForExit(10000), 0u);
}

INSTANTIATE_TEST_SUITE_P(Languages, MainWindow, ::testing::Values(L"2052", L"1033"),
                         [](const auto& i) { return std::string(i.param == std::wstring(L"2052") ? "Chinese" : "English"); });

}  // namespace
