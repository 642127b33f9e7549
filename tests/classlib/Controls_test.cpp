// Controls: alignment of sibling controls, and on a real window under the X server's mouse:
// mouse messages and capture, the wheel reaching the control under the mouse, cursors, painting
// on the canvas and the scroll bar.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "classlib/Forms.h"
#include "classlib/StdCtrls.h"
#include "common/XInput.h"

namespace {

struct Spec {
  TAlign Align;
  int Top, Width, Height;
  bool Visible = true;
};
struct Box {
  int L, T, W, H;
  bool operator==(const Box& O) const { return L == O.L && T == O.T && W == O.W && H == O.H; }
};
std::ostream& operator<<(std::ostream& S, const Box& B) {
  return S << "(" << B.L << "," << B.T << " " << B.W << "x" << B.H << ")";
}

TEST(Align, SiblingsAreLaidOutInTheParentsClientArea) {
  struct Case {
    const char* Name;
    std::vector<Spec> Children;
    std::vector<Box> Expected;  // in the order of Children
  } cases[] = {
      {"top, bottom, client",
       {{alTop, 0, 10, 30}, {alBottom, 0, 10, 20}, {alClient, 0, 10, 10}},
       {{0, 0, 300, 30}, {0, 180, 300, 20}, {0, 30, 300, 150}}},
      {"tops stand in the order they came, from the top down",
       {{alTop, 0, 10, 30}, {alTop, 0, 10, 40}, {alClient, 0, 1, 1}},
       {{0, 0, 300, 30}, {0, 30, 300, 40}, {0, 70, 300, 130}}},
      {"bottoms stand in the order they came, from the bottom up",
       {{alBottom, 0, 10, 20}, {alBottom, 0, 10, 10}},
       {{0, 180, 300, 20}, {0, 170, 300, 10}}},
      {"left and right in the height the top leaves",
       {{alTop, 0, 10, 30}, {alLeft, 0, 40, 10}, {alRight, 0, 50, 10}, {alClient, 0, 1, 1}},
       {{0, 0, 300, 30}, {0, 30, 40, 170}, {250, 30, 50, 170}, {40, 30, 210, 170}}},
      {"a hidden top leaves no gap",
       {{alTop, 0, 10, 30, false}, {alTop, 5, 10, 25}, {alClient, 0, 1, 1}},
       {{0, 0, 10, 30}, {0, 0, 300, 25}, {0, 25, 300, 175}}},
      {"unaligned controls stay where they are",
       {{alNone, 7, 11, 13}, {alTop, 0, 10, 30}},
       {{0, 7, 11, 13}, {0, 0, 300, 30}}},
      {"more than fits: the client area shrinks to nothing",
       {{alTop, 0, 10, 150}, {alBottom, 0, 10, 100}, {alClient, 0, 1, 1}},
       {{0, 0, 300, 150}, {0, 100, 300, 100}, {0, 150, 300, 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TCustomControl parent(nullptr);
    parent.SetBounds(0, 0, 300, 200);
    std::vector<std::unique_ptr<TCustomControl>> kids;
    for (const auto& s : c.Children) {
      auto k = std::make_unique<TCustomControl>(nullptr);
      k->SetBounds(0, s.Top, s.Width, s.Height);
      k->SetVisible(s.Visible);
      k->SetParent(&parent);
      k->SetAlign(s.Align);
      kids.push_back(std::move(k));
    }
    parent.AlignControls();
    for (size_t i = 0; i < kids.size(); ++i)
      EXPECT_EQ(c.Expected[i], (Box{kids[i]->Left(), kids[i]->Top(), kids[i]->Width(), kids[i]->Height()}))
          << "child " << i;
  }
}

TEST(Align, ResizingTheParentOrASiblingLaysOutAgain) {
  TForm form(nullptr);
  form.SetBounds(50, 50, 400, 300);
  auto* top = new TCustomControl(&form);
  top->SetBounds(0, 0, 10, 40);
  top->SetAlign(alTop);
  top->SetParent(&form);
  auto* bottom = new TCustomControl(&form);
  bottom->SetBounds(0, 0, 10, 45);
  bottom->SetAlign(alBottom);
  bottom->SetParent(&form);
  auto* client = new TCustomControl(&form);
  client->SetAlign(alClient);
  client->SetParent(&form);
  int resized = 0;
  client->OnResize = [&](TObject*) { ++resized; };
  form.HandleNeeded();
  RECT cr;
  GetClientRect(static_cast<HWND>(form.Handle()), &cr);
  EXPECT_EQ((Box{0, 40, (int)cr.right, (int)cr.bottom - 85}),
            (Box{client->Left(), client->Top(), client->Width(), client->Height()}));
  // The user (here: the system) makes the window larger.
  SetWindowPos(static_cast<HWND>(form.Handle()), nullptr, 0, 0, 500, 400, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(static_cast<HWND>(form.Handle()), &cr);
  EXPECT_EQ((int)cr.bottom - 45, bottom->Top());
  EXPECT_EQ((int)cr.right, client->Width());
  EXPECT_EQ((int)cr.bottom - 85, client->Height());
  RECT wr;
  GetWindowRect(static_cast<HWND>(client->Handle()), &wr);
  EXPECT_EQ((int)cr.bottom - 85, (int)(wr.bottom - wr.top)) << "the window follows the control";
  EXPECT_GT(resized, 0);
  // A second top panel comes below the first; moved above it, it stands above it.
  auto* top2 = new TCustomControl(&form);
  top2->SetBounds(0, 0, 10, 20);
  top2->SetAlign(alTop);
  top2->SetParent(&form);
  EXPECT_EQ(40, top2->Top());
  EXPECT_EQ(60, client->Top());
  top2->SetBounds(0, -1, 10, 20);
  EXPECT_EQ(0, top2->Top());
  EXPECT_EQ(20, top->Top());
  top2->SetVisible(false);
  EXPECT_EQ(0, top->Top());
  // A taller top panel pushes the client down; hiding it gives the room back.
  top->SetBounds(0, 0, 10, 60);
  EXPECT_EQ(60, client->Top());
  top->SetVisible(false);
  EXPECT_EQ(0, client->Top());
  EXPECT_EQ((int)cr.bottom - 45, client->Height());
}

TEST(Anchors, ChildrenKeepTheirDistancesToTheAnchoredEdges) {
  struct Case {
    TAnchors Anchors;
    Box Want;  // after the parent grows by 40 x 30 (from 200 x 100)
  };
  const Case cases[] = {
      {akLeft | akTop, {20, 10, 50, 20}},
      {akRight | akBottom, {60, 40, 50, 20}},
      {akLeft | akRight, {20, 10, 90, 20}},
      {akTop | akBottom, {20, 10, 50, 50}},
      {akLeft | akTop | akRight | akBottom, {20, 10, 90, 50}},
      {akRight | akTop, {60, 10, 50, 20}},
  };
  TForm form(nullptr);
  form.SetBounds(50, 50, 400, 300);
  form.HandleNeeded();
  auto* panel = new TCustomControl(&form);
  panel->SetParent(&form);
  panel->SetBounds(0, 0, 200, 100);
  std::vector<TCustomControl*> children;
  for (const Case& c : cases) {
    auto* child = new TCustomControl(&form);
    child->SetParent(panel);
    child->SetBounds(20, 10, 50, 20);
    child->SetAnchors(c.Anchors);
    children.push_back(child);
  }
  panel->SetBounds(0, 0, 240, 130);
  for (size_t i = 0; i < children.size(); ++i) {
    TCustomControl* c = children[i];
    EXPECT_EQ(cases[i].Want, (Box{c->Left(), c->Top(), c->Width(), c->Height()})) << "case " << i;
    RECT wr;
    GetWindowRect(static_cast<HWND>(c->Handle()), &wr);
    EXPECT_EQ(cases[i].Want.W, (int)(wr.right - wr.left)) << "the window follows, case " << i;
  }
  // Shrinking back gives the first places again; an aligned child is left to the alignment.
  panel->SetBounds(0, 0, 200, 100);
  for (TCustomControl* c : children) EXPECT_EQ((Box{20, 10, 50, 20}), (Box{c->Left(), c->Top(), c->Width(), c->Height()}));
}

TEST(FormFrame, ClientSizeFrameButtonsAndPlace) {
  struct Case {
    TFormBorderStyle Border;
    TBorderIcons Icons;
    DWORD Has, HasNot;
  };
  const Case cases[] = {
      {bsSingle, biSystemMenu, WS_CAPTION | WS_SYSMENU, WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX},
      {bsSizeable, biSystemMenu | biMinimize | biMaximize, WS_CAPTION | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX,
       WS_POPUP},
      {bsNone, biSystemMenu, WS_POPUP, WS_CAPTION | WS_SYSMENU},
      {bsDialog, biSystemMenu | biMinimize, WS_CAPTION | WS_SYSMENU, WS_MINIMIZEBOX},
  };
  RECT work;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.Border));
    TForm form(nullptr);
    form.SetBorderStyle(c.Border);
    form.SetBorderIcons(c.Icons);
    form.SetClientSize(347, 199);
    form.SetPosition(poScreenCenter);
    form.Show();
    HWND w = static_cast<HWND>(form.Handle());
    DWORD style = GetWindowLongW(w, GWL_STYLE);
    EXPECT_EQ(style & c.Has, c.Has);
    EXPECT_EQ(style & c.HasNot, 0u);
    RECT cr, wr;
    GetClientRect(w, &cr);
    EXPECT_EQ(cr.right, 347);
    EXPECT_EQ(cr.bottom, 199);
    EXPECT_EQ(form.ClientWidth(), 347);
    GetWindowRect(w, &wr);
    EXPECT_NEAR((wr.left + wr.right) / 2, (work.left + work.right) / 2, 1) << "centred on the screen";
    EXPECT_NEAR((wr.top + wr.bottom) / 2, (work.top + work.bottom) / 2, 1);
    // Resized around a new client area while it has its window.
    form.SetClientSize(400, 250);
    GetClientRect(w, &cr);
    EXPECT_EQ(cr.right, 400);
    EXPECT_EQ(cr.bottom, 250);
  }
}

TEST(WinControl, AChildWhoseWindowComesFirstMakesItsParentsAndOnlyOneOfItsOwn) {
  TForm form(nullptr);
  auto* child = new TCustomControl(&form);
  child->SetParent(&form);
  HWND h = static_cast<HWND>(child->Handle());  // the form's window is made on the way
  ASSERT_TRUE(form.HandleAllocated());
  int windows = 0;
  for (HWND w = GetWindow(static_cast<HWND>(form.Handle()), GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) ++windows;
  EXPECT_EQ(1, windows);
  EXPECT_EQ(h, GetWindow(static_cast<HWND>(form.Handle()), GW_CHILD));
}

// ---------------------------------------------------------------------------------------------

// A control that records its mouse messages and paints a colour through its canvas.
class TProbe : public TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  struct Event {
    char Kind;  // 'd' down, 'm' move, 'u' up
    TMouseButton Button;
    TShiftState Shift;
    int X, Y;
  };
  std::vector<Event> Events;
  bool CaptureOnDown = false;
  bool CapturedAtUp = false;
  std::vector<int> Wheel;
  bool TakeWheel = true;
  bool CanvasWasDC = false;
  int Paints = 0;
  HBRUSH Fill = nullptr;
  void MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) override {
    Events.push_back({'d', Button, Shift, X, Y});
    if (CaptureOnDown) SetMouseCapture(true);
  }
  void MouseMove(TShiftState Shift, int X, int Y) override { Events.push_back({'m', mbLeft, Shift, X, Y}); }
  void MouseUp(TMouseButton Button, TShiftState Shift, int X, int Y) override {
    Events.push_back({'u', Button, Shift, X, Y});
    CapturedAtUp = MouseCapture();
    SetMouseCapture(false);
  }
  bool DoMouseWheel(TShiftState Shift, int Delta, POINT) override {
    Wheel.push_back(Delta);
    return TakeWheel;
  }
  void Paint(HDC DC) override {
    ++Paints;
    CanvasWasDC = Canvas()->Handle() == DC;
    RECT r{0, 0, Width(), Height()};
    if (Fill) FillRect(static_cast<HDC>(Canvas()->Handle()), &r, Fill);
  }
  int Count(char Kind) const {
    int n = 0;
    for (const auto& e : Events) n += e.Kind == Kind;
    return n;
  }
};

struct ControlsInput : ::testing::Test {
  std::unique_ptr<TForm> Form;
  TProbe* Probe = nullptr;
  TEdit* Edit = nullptr;
  void SetUp() override {
    Form = std::make_unique<TForm>(nullptr);
    Form->SetBounds(200, 150, 420, 320);
    Probe = new TProbe(Form.get());
    Probe->SetBounds(20, 20, 200, 150);
    Probe->SetParent(Form.get());
    Edit = new TEdit(Form.get());
    Edit->SetBounds(240, 20, 120, 24);
    Edit->SetParent(Form.get());
    Form->Show();
    xinput::PumpFor(300);
  }
  static HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }
  POINT ScreenPt(TWinControl* C, int X, int Y) {
    POINT p{X, Y};
    ClientToScreen(H(C), &p);
    return p;
  }
  // Moves the mouse away, then to the point, and waits until the window saw it arrive.
  void MoveTo(POINT P, const std::function<bool()>& Arrived) {
    xinput::Run(Format("mousemove %d %d", (int)P.x, (int)P.y));
    ASSERT_TRUE(xinput::PumpUntil(Arrived));
  }
};

TEST_F(ControlsInput, RealMouseButtonsReachTheControlAndCaptureFollowsItOutside) {
  Probe->CaptureOnDown = true;
  POINT in = ScreenPt(Probe, 30, 40), out = ScreenPt(Probe, 260, 200);  // right of and below the probe
  xinput::Run(Format("mousemove %d %d sleep 0.2 mousedown 1 sleep 0.2 mousemove %d %d sleep 0.2 mouseup 1",
                     (int)in.x, (int)in.y, (int)out.x, (int)out.y));
  ASSERT_TRUE(xinput::PumpUntil([&] { return Probe->Count('u') > 0; })) << Probe->Events.size() << " events";
  const auto& down = *std::find_if(Probe->Events.begin(), Probe->Events.end(), [](auto& e) { return e.Kind == 'd'; });
  EXPECT_EQ(mbLeft, down.Button);
  EXPECT_EQ(30, down.X);
  EXPECT_EQ(40, down.Y);
  EXPECT_TRUE(down.Shift & ssLeft);
  // Captured: the moves and the release outside the control still come to it, in its
  // coordinates.
  const auto& up = Probe->Events.back();
  EXPECT_EQ('u', up.Kind);
  EXPECT_EQ(260, up.X);
  EXPECT_EQ(200, up.Y);
  EXPECT_TRUE(Probe->CapturedAtUp);
  EXPECT_FALSE(Probe->MouseCapture());
  bool movedOutside = false;
  for (const auto& e : Probe->Events) movedOutside = movedOutside || (e.Kind == 'm' && e.X >= 200 && (e.Shift & ssLeft));
  EXPECT_TRUE(movedOutside);

  // Without capture a release outside does not reach it.
  Probe->CaptureOnDown = false;
  Probe->Events.clear();
  xinput::Run(Format("mousemove %d %d sleep 0.2 mousedown 1 sleep 0.2 mousemove %d %d sleep 0.2 mouseup 1 "
                     "sleep 0.2 mousemove %d %d",
                     (int)in.x, (int)in.y, (int)out.x, (int)out.y, (int)in.x + 5, (int)in.y));
  ASSERT_TRUE(xinput::PumpUntil([&] { return !Probe->Events.empty() && Probe->Events.back().X == 35; }));
  EXPECT_EQ(1, Probe->Count('d'));
  EXPECT_EQ(0, Probe->Count('u'));
}

TEST_F(ControlsInput, RealWheelReachesTheControlUnderTheMouseNotTheFocusedOne) {
  Edit->SetFocus();
  ASSERT_TRUE(Edit->Focused());
  POINT in = ScreenPt(Probe, 50, 50);
  xinput::Run(Format("mousemove %d %d sleep 0.2 click 5 sleep 0.1 click 4 sleep 0.1 click 4", (int)in.x, (int)in.y));
  ASSERT_TRUE(xinput::PumpUntil([&] { return Probe->Wheel.size() >= 3; }));
  EXPECT_EQ(-WHEEL_DELTA, Probe->Wheel[0]);
  EXPECT_EQ(WHEEL_DELTA, Probe->Wheel[1]);
  EXPECT_TRUE(Edit->Focused());
  // Windows before 10 (and Wine with some drivers) give the wheel to the focused window: it is
  // handed to the control under the mouse.
  Probe->Wheel.clear();
  SendMessageA(H(Edit), WM_MOUSEWHEEL, MAKEWPARAM(0, (WORD)(short)(-2 * WHEEL_DELTA)), MAKELPARAM(in.x, in.y));
  ASSERT_EQ(1u, Probe->Wheel.size());
  EXPECT_EQ(-2 * WHEEL_DELTA, Probe->Wheel[0]);
}

TEST_F(ControlsInput, RealCursorIsTheControlsOwnOrTheScreens) {
  HCURSOR hand = LoadCursorA(nullptr, IDC_HAND), wait = LoadCursorA(nullptr, IDC_WAIT),
          arrow = LoadCursorA(nullptr, IDC_ARROW);
  EXPECT_EQ(hand, Screen->Cursors(crHandPoint));
  EXPECT_EQ(arrow, Screen->Cursors(crDefault));
  auto shown = [] {
    CURSORINFO ci{};
    ci.cbSize = sizeof ci;
    GetCursorInfo(&ci);
    return ci.hCursor;
  };
  Probe->SetCursor(crHandPoint);
  POINT in = ScreenPt(Probe, 60, 60), edit = ScreenPt(Edit, 5, 5);
  MoveTo(in, [&] { return shown() == hand; });
  // Changed while the mouse rests on it: shown at once.
  Probe->SetCursor(crCross);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_CROSS), shown());
  Probe->SetCursor(crHandPoint);
  EXPECT_EQ(hand, shown());
  // The screen's cursor wins everywhere until it is crDefault again.
  Screen->SetCursor(crHourGlass);
  EXPECT_EQ(wait, shown());
  MoveTo(edit, [&] {
    POINT p;
    return GetCursorPos(&p) && WindowFromPoint(p) == H(Edit);
  });
  xinput::PumpFor(200);
  EXPECT_EQ(wait, shown());
  // Back to each window's own: the edit's I-beam under the mouse.
  Screen->SetCursor(crDefault);
  EXPECT_EQ(LoadCursorA(nullptr, IDC_IBEAM), shown());
  MoveTo(ScreenPt(Probe, 70, 70), [&] { return shown() == hand; });
  Screen->SetCursor(crDefault);
}

TEST_F(ControlsInput, PaintDrawsOnTheCanvasBoundToThePaintContext) {
  Probe->Fill = CreateSolidBrush(RGB(10, 200, 30));
  Probe->Paints = 0;
  Probe->Invalidate();
  ASSERT_TRUE(xinput::PumpUntil([&] { return Probe->Paints > 0; }));
  EXPECT_TRUE(Probe->CanvasWasDC);
  EXPECT_FALSE(Probe->Canvas()->HandleAllocated()) << "the paint context was let go";
  HDC dc = GetDC(H(Probe));
  EXPECT_EQ(RGB(10, 200, 30), GetPixel(dc, 100, 75));
  ReleaseDC(H(Probe), dc);
  DeleteObject(Probe->Fill);
  Probe->Fill = nullptr;
}

TEST_F(ControlsInput, RealClicksOnAScrollBarScrollItThroughItsParent) {
  auto* bar = new TScrollBar(Form.get());
  bar->SetKind(sbVertical);
  bar->SetBounds(180, 0, GetSystemMetrics(SM_CXVSCROLL), 150);
  bar->SetParent(Probe);
  bar->SetSmallChange(10);
  bar->SetLargeChange(50);
  bar->SetParams(0, 0, 300);
  bar->SetPageSize(150);
  std::vector<std::pair<TScrollCode, int>> scrolls;
  int changes = 0;
  bar->OnScroll = [&](TObject*, TScrollCode Code, int& Pos) { scrolls.push_back({Code, Pos}); };
  bar->OnChange = [&](TObject*) { ++changes; };
  xinput::PumpFor(200);
  // The lower arrow: one line down.
  POINT arrow = ScreenPt(bar, GetSystemMetrics(SM_CXVSCROLL) / 2, 150 - GetSystemMetrics(SM_CYVSCROLL) / 2);
  xinput::Run(Format("mousemove %d %d sleep 0.2 click 1", (int)arrow.x, (int)arrow.y));
  ASSERT_TRUE(xinput::PumpUntil([&] { return bar->Position() == 10; })) << bar->Position();
  ASSERT_FALSE(scrolls.empty());
  EXPECT_EQ(scLineDown, scrolls.front().first);
  EXPECT_EQ(10, scrolls.front().second);
  EXPECT_EQ(1, changes);
  EXPECT_EQ(10, GetScrollPos(H(bar), SB_CTL));
  // A handler may change the position asked for.
  bar->OnScroll = [&](TObject*, TScrollCode, int& Pos) { Pos = 42; };
  SendMessageA(H(Probe), WM_VSCROLL, SB_PAGEDOWN, reinterpret_cast<LPARAM>(H(bar)));
  EXPECT_EQ(42, bar->Position());
  // The range holds the position.
  bar->OnScroll = nullptr;
  bar->SetPosition(1000);
  EXPECT_EQ(300, bar->Position());
  bar->SetParams(0, 0, -5);
  EXPECT_EQ(0, bar->Max());
}

}  // namespace
