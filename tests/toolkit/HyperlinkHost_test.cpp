// The host window under Xvfb: real mouse input through the X server (xdotool), layouts, scrolling,
// the animation timer, runs freed on the link-free thread, and a screenshot of bitmap buttons
// checked against pixels computed here.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "classlib/Forms.h"
#include "common/Peer.h"
#include "common/XInput.h"
#include "common/WindowCapture.h"
#include "HostShots.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/HyperlinkControl.h"
#include "toolkit/ImageCache.h"

namespace {

using shots::Mismatches;
using shots::Over;
using shots::Shoot;

int Freed = 0;

// A clickable block of one colour that counts its clicks and frees.
class TBlock : public THyperlink {
 public:
  explicit TBlock(TColor Color = 0x3366CC) : Color(Color) {
    SetClickable(true);
    SetCursor(crHandPoint);
  }
  ~TBlock() override { ++Freed; }
  void Paint(TCanvas* Canvas) override {
    HBRUSH b = CreateSolidBrush(static_cast<COLORREF>(Color));
    RECT r{BoundsRect().Left, BoundsRect().Top, BoundsRect().Right, BoundsRect().Bottom};
    FillRect(static_cast<HDC>(Canvas->Handle()), &r, b);
    DeleteObject(b);
  }
  void LinkClicked(THyperlink* Link) override {
    ++Bubbled;
    THyperlink::LinkClicked(Link);
  }
  TColor Color;
  int Bubbled = 0;
};

class TTestHost : public THyperlinkControl {
 public:
  using THyperlinkControl::THyperlinkControl;
};

// The host on a shown form; the pointer driven through the X server.
struct THostFixture : public shots::TWindowTest {
  void SetUp() override { host = Open<TTestHost>(300, 200); }
  TTestHost* host = nullptr;
};

bool Same(const TRect& A, const TRect& B) {
  return A.Left == B.Left && A.Top == B.Top && A.Right == B.Right && A.Bottom == B.Bottom;
}
std::string Str(const TRect& R) {
  return std::to_string(R.Left) + "," + std::to_string(R.Top) + "," + std::to_string(R.Right) + "," +
         std::to_string(R.Bottom);
}

}  // namespace

TEST_F(THostFixture, HoverCursorLeaveAndClicksFromTheMouse) {
  auto* a = new TBlock;
  a->SetBoundsRect(TRect{20, 20, 80, 60});
  a->SetHint(L"block a");
  auto* b = new TBlock;
  b->SetBoundsRect(TRect{120, 20, 180, 60});
  auto* off = new TBlock;
  off->SetBoundsRect(TRect{20, 100, 80, 140});
  off->SetEnabled(false);
  auto* box = new THyperlinkContainer(alTop, false, 200);
  host->Root()->InsertLink(box);
  box->AddLinks({a, b, off});
  host->Relayout();
  std::vector<THyperlink*> clicks;
  host->OnLinkClick = [&](TObject* Sender, THyperlink* Link) {
    EXPECT_EQ(Sender, host);
    EXPECT_TRUE(Link->Flag(lfInClick));
    clicks.push_back(Link);
  };
  // Hover: hot, the element's cursor and hint.
  MoveTo(30, 30);
  ASSERT_TRUE(xinput::PumpUntil([&] { return host->HotLink() == a; }, 2000));
  EXPECT_EQ(a->State(), hsHot);
  EXPECT_EQ(host->Cursor(), crHandPoint);
  EXPECT_EQ(host->Hint(), L"block a");
  EXPECT_TRUE(host->ShowHint());
  // A disabled element is hovered but never hot.
  MoveTo(30, 110);
  ASSERT_TRUE(xinput::PumpUntil([&] { return host->HotLink() == nullptr; }, 2000));
  EXPECT_EQ(host->HoverLink(), off);
  EXPECT_EQ(off->State(), hsNormal);
  EXPECT_EQ(host->Cursor(), crDefault);
  // Leaving the window clears the hot link.
  MoveTo(30, 30);
  ASSERT_TRUE(xinput::PumpUntil([&] { return host->HotLink() == a; }, 2000));
  POINT outside = Screen(600, 500);
  xinput::Xdo("mousemove --sync " + std::to_string(outside.x) + " " + std::to_string(outside.y));
  ASSERT_TRUE(xinput::PumpUntil([&] { return host->HotLink() == nullptr; }, 2000));
  EXPECT_EQ(a->State(), hsNormal);
  EXPECT_EQ(host->Cursor(), crDefault);
  // Two releases within the double-click time: one click, bubbled once to the parents. (Coming
  // back to the point the pointer left from would be no move at all.)
  MoveTo(35, 35);
  ASSERT_TRUE(xinput::PumpUntil([&] { return host->HotLink() == a; }, 2000));
  xinput::Xdo("click --repeat 2 --delay 60 1");
  xinput::PumpUntil([&] { return clicks.size() >= 1; }, 2000);
  xinput::PumpFor(200);
  EXPECT_EQ(clicks, std::vector<THyperlink*>{a});
  EXPECT_EQ(a->State(), hsHot);
  EXPECT_FALSE(a->Flag(lfInClick));
  // A release on another link within that time is a click of its own.
  MoveTo(130, 30);
  ASSERT_TRUE(xinput::PumpUntil([&] { return host->HotLink() == b; }, 2000));
  xinput::Xdo("click 1");
  xinput::PumpUntil([&] { return clicks.size() >= 2; }, 2000);
  EXPECT_EQ(clicks, (std::vector<THyperlink*>{a, b}));
  EXPECT_EQ(b->Bubbled, 0);  // the click bubbles from the link's parent upwards
  MoveTo(250, 150);
  xinput::PumpUntil([&] { return host->HotLink() == nullptr; }, 2000);
}

TEST_F(THostFixture, RootLayoutsWithEdgeBordersAndInsets) {
  auto* top1 = new THyperlinkContainer(alTop, false, 10);
  auto* top2 = new THyperlinkContainer(alTop, false, 15);
  top2->SetSortOrder(1);
  auto* client = new THyperlinkContainer(alClient, false, 0);
  auto* bottom = new THyperlinkContainer(alBottom, false, 20);
  host->Root()->AddLinks({top1, top2, client, bottom});
  struct {
    TEdgeBorders Edges;
    TRect Inset;
    TRect Root, Top1, Top2, Client, Bottom;
  } cases[] = {
      {0, {0, 0, 0, 0}, {0, 0, 300, 200}, {0, 0, 300, 10}, {0, 10, 300, 25}, {0, 25, 300, 180}, {0, 180, 300, 200}},
      {ebLeft | ebTop, {5, 5, 5, 5}, {6, 6, 295, 195}, {0, 0, 289, 10}, {0, 10, 289, 25}, {0, 25, 289, 169},
       {0, 169, 289, 189}},
      {ebLeft | ebTop | ebRight | ebBottom, {0, 3, 7, 0}, {1, 4, 292, 199}, {0, 0, 291, 10}, {0, 10, 291, 25},
       {0, 25, 291, 175}, {0, 175, 291, 195}},
  };
  for (auto& c : cases) {
    host->SetEdgeBorders(c.Edges);
    host->SetInset(c.Inset);
    host->Relayout();
    EXPECT_TRUE(Same(host->Root()->BoundsRect(), c.Root)) << Str(host->Root()->BoundsRect());
    EXPECT_TRUE(Same(top1->BoundsRect(), c.Top1)) << Str(top1->BoundsRect());
    EXPECT_TRUE(Same(top2->BoundsRect(), c.Top2)) << Str(top2->BoundsRect());
    EXPECT_TRUE(Same(client->BoundsRect(), c.Client)) << Str(client->BoundsRect());
    EXPECT_TRUE(Same(bottom->BoundsRect(), c.Bottom)) << Str(bottom->BoundsRect());
  }
  // A hidden top container leaves its room to the client.
  host->SetEdgeBorders(0);
  host->SetInset(TRect{});
  top1->SetVisible(false);
  host->Relayout();
  EXPECT_TRUE(Same(top2->BoundsRect(), TRect{0, 0, 300, 15})) << Str(top2->BoundsRect());
  EXPECT_TRUE(Same(client->BoundsRect(), TRect{0, 15, 300, 180})) << Str(client->BoundsRect());
}

TEST_F(THostFixture, ScrollBarFollowsTheContentAndTheWheelScrolls30ANotch) {
  auto* list = new THyperlinkContainer(alClient, true, 0);
  host->Root()->InsertLink(list);
  std::vector<TBlock*> rows;
  for (int i = 0; i < 20; ++i) {
    rows.push_back(new TBlock(i % 2 ? 0x3366CC : 0x88AA22));
    rows.back()->SetBoundsRect(TRect{0, i * 30, 200, i * 30 + 30});
    list->InsertLink(rows.back());
  }
  host->Relayout();
  int sbw = GetSystemMetrics(SM_CXVSCROLL);
  ASSERT_NE(list->ScrollBar(), nullptr);
  EXPECT_TRUE(list->ScrollBar()->Visible());
  EXPECT_EQ(list->ContentHeight(), 600);
  EXPECT_EQ(list->GetWidth(), 300 - sbw);  // the bar's width leaves the layout
  EXPECT_TRUE(IsWindowVisible(static_cast<HWND>(list->ScrollBar()->Handle())));
  // The wheel through the X server: one notch down moves 30, clamped at the ends.
  MoveTo(100, 100);
  xinput::PumpFor(50);
  xinput::Xdo("click 5");
  ASSERT_TRUE(xinput::PumpUntil([&] { return list->ScrollPos() == 30; }, 2000)) << list->ScrollPos();
  xinput::Xdo("click --repeat 3 --delay 30 5");
  ASSERT_TRUE(xinput::PumpUntil([&] { return list->ScrollPos() == 120; }, 2000)) << list->ScrollPos();
  xinput::Xdo("click --repeat 6 --delay 30 4");
  ASSERT_TRUE(xinput::PumpUntil([&] { return list->ScrollPos() == 0; }, 2000)) << list->ScrollPos();
  list->SetScrollPos(100000);
  EXPECT_EQ(list->ScrollPos(), 600 - 200);
  // The hover follows the content: the row under (100, 100) scrolled by 400 is row 16.
  TPoint o;
  list->GetClientOrigin(o);
  EXPECT_EQ(o.Y, -400);
  // Content shorter than the container: the bar hides and the position returns to 0.
  for (int i = 19; i >= 3; --i) list->RemoveLink(rows[i]);
  for (int i = 19; i >= 3; --i) delete rows[i];
  host->Relayout();
  EXPECT_FALSE(list->ScrollBar()->Visible());
  EXPECT_EQ(list->ScrollPos(), 0);
  EXPECT_EQ(list->GetWidth(), 300);
}

TEST_F(THostFixture, RunsFreedOnTheLinkFreeThreadKeepTheirNeighbour) {
  auto* box = new THyperlinkContainer(alClient, false, 0);
  host->Root()->InsertLink(box);
  host->Relayout();
  int spot = 3;
  for (int run : {1000, 1001}) {
    auto* before = new TBlock;
    box->InsertLink(before);
    std::vector<TBlock*> links;
    for (int i = 0; i < run; ++i) {
      links.push_back(new TBlock);
      box->InsertLink(links.back());
    }
    auto* after = new TBlock;
    box->InsertLink(after);
    // The hot link is in the run: the host forgets it.
    links.front()->SetBoundsRect(TRect{0, 0, 10, 10});
    MoveTo(spot, spot);
    ++spot;
    xinput::PumpUntil([&] { return host->HotLink() == links.front(); }, 2000);
    EXPECT_EQ(host->HotLink(), links.front());
    Freed = 0;
    box->FreeLinks(links.front(), links.back(), true);
    EXPECT_EQ(host->HotLink(), nullptr);
    if (run < 1001) {
      EXPECT_EQ(Freed, run);
      EXPECT_EQ(host->FreeThread(), nullptr);
    } else {
      ASSERT_NE(host->FreeThread(), nullptr);
      EXPECT_TRUE(xinput::PumpUntil([&] { return host->FreeThread() == nullptr; }, 5000));
      EXPECT_EQ(Freed, run);
    }
    EXPECT_EQ(before->Next(), after);
    EXPECT_EQ(after->Prev(), before);
    EXPECT_EQ(box->ChildCount(), 2);
    box->FreeLinks(before, after, true);
  }
}

namespace {
// Steps a set number of times, then stops.
class TCounter : public TAnimatedHyperlink {
 public:
  explicit TCounter(int Steps) : Left(Steps) { SetBoundsRect(TRect{0, 0, 10, 10}); }
  bool DoAnimate() override { return --Left > 0; }
  int Left;
};
}  // namespace

TEST_F(THostFixture, AnimationTimerAtTheCommonPeriod) {
  auto* a = new TCounter(3);
  a->SetInterval(100);
  auto* b = new TCounter(1000);
  b->SetInterval(250);
  auto* tiny = new TCounter(1000);
  tiny->SetInterval(5);  // shorter than the base tick: one tick
  auto* zero = new TCounter(1000);
  zero->SetInterval(0);  // not animated
  host->Root()->AddLinks({a, b, tiny, zero});
  a->StartAnimation();
  b->StartAnimation();
  EXPECT_EQ(host->BaseInterval(), 50);
  EXPECT_TRUE(host->TimerRunning());
  zero->StartAnimation();
  EXPECT_EQ(host->AnimatedCount(), 2);
  tiny->StartAnimation();
  EXPECT_EQ(host->BaseInterval(), 10);
  EXPECT_EQ(host->AnimatedCount(), 3);
  // a stops after its third step and leaves the list.
  ASSERT_TRUE(xinput::PumpUntil([&] { return a->Left == 0; }, 3000));
  xinput::PumpFor(50);
  EXPECT_FALSE(a->Animating());
  EXPECT_EQ(host->AnimatedCount(), 2);
  EXPECT_GT(1000 - tiny->Left, 1000 - b->Left);
  b->StopAnimation();
  tiny->StopAnimation();
  EXPECT_EQ(host->AnimatedCount(), 0);
  EXPECT_FALSE(host->TimerRunning());
  // Detached and attached again while animating: back on the timer.
  b->StartAnimation();
  host->Root()->RemoveLink(b);
  EXPECT_EQ(host->AnimatedCount(), 0);
  EXPECT_TRUE(b->Animating());
  host->Root()->InsertLink(b);
  EXPECT_EQ(host->AnimatedCount(), 1);
  EXPECT_EQ(host->BaseInterval(), 250);
}

namespace {
// The straight colour of a strip's frame (normal, hot, pressed) and the alpha of its row: 255 in
// the top half, 221 below.
uint32_t StripStraight(int Frame) {
  static const uint32_t c[3] = {0xC02040, 0x20C040, 0x2040C0};  // 0xRRGGBB
  return c[Frame];
}
uint8_t StripAlpha(int Y, int H) { return Y < H / 2 ? 255 : 221; }
// The premultiplied BGRA pixel of the strip at (X, Y), frames FW wide.
uint32_t StripPixel(int X, int Y, int FW, int H) {
  uint32_t c = StripStraight(std::min(X / FW, 2));
  uint32_t a = StripAlpha(Y, H);
  auto pm = [a](uint32_t v) { return v * a * 65794u >> 24; };
  uint32_t r = c >> 16 & 0xFF, g = c >> 8 & 0xFF, b = c & 0xFF;
  if (a == 255) return 0xFF000000 | c;
  return a << 24 | pm(r) << 16 | pm(g) << 8 | pm(b);
}
// Writes the strip into the 32-bit DIB section selected into DC.
void FillStrip(HDC DC, int W, int H) {
  DIBSECTION ds{};
  GetObjectW(GetCurrentObject(DC, OBJ_BITMAP), sizeof ds, &ds);
  auto* bits = static_cast<uint32_t*>(ds.dsBm.bmBits);
  GdiFlush();  // both kinds of image here are top-down DIB sections
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) bits[y * W + x] = StripPixel(x, y, W / 3, H);
}
TBitmap* MakeStripBitmap(int W, int H) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = W;
  bi.bmiHeader.biHeight = -H;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, dib);
  FillStrip(dc, W, H);
  SelectObject(dc, old);
  DeleteDC(dc);
  auto* bmp = new TBitmap;
  bmp->SetHandle(dib);
  return bmp;
}
constexpr uint32_t StripBase = 17;
constexpr TImageId StripId = GeneratedImageId(StripBase);
void RegisterStrip(int W, int H) {
  ImageCache->RegisterGeneratedImage(
      StripBase, W, H, [W, H](TCanvas* C, const TRect&, void*) { FillStrip(static_cast<HDC>(C->Handle()), W, H); });
}

}  // namespace

TEST(HyperlinkButtons, ThreeFrameSourceOffsetsAndDisabledAlpha) {
  RegisterStrip(90, 20);
  TBitmapHyperlink b(StripId, 0, 0, 7);
  EXPECT_EQ(b.GetWidth(), 30);
  EXPECT_EQ(b.GetHeight(), 20);
  EXPECT_TRUE(b.IsClickable());
  EXPECT_EQ(b.Tag(), 7);
  struct {
    uint8_t State;
    bool Enabled;
    int X;
    uint8_t Alpha;
  } cases[] = {
      {hsNormal, true, 0, 255}, {hsHot, true, 30, 255}, {hsPressed, true, 60, 255}, {hsNormal, false, 0, 90},
  };
  for (auto& c : cases) {
    b.SetState(c.State);
    b.SetEnabled(c.Enabled);
    EXPECT_EQ(b.FrameSourceX(), c.X);
    EXPECT_EQ(b.FrameAlpha(), c.Alpha);
  }
  // The size is always the image's; a frame height of its own overrides the image's height.
  b.SetBoundsRect(TRect{5, 6, 500, 500});
  EXPECT_TRUE(Same(b.BoundsRect(), TRect{5, 6, 35, 26})) << Str(b.BoundsRect());
  TBitmapHyperlink tall(StripId, 12, 4, 0);
  EXPECT_EQ(tall.GetHeight(), 12);
  TBitmapHyperlink single(StripId, 0);
  EXPECT_EQ(single.GetWidth(), 90);
  EXPECT_FALSE(single.IsClickable());
}

TEST_F(THostFixture, ScreenshotOfContainersAndButtonsMatchesComputedPixels) {
  RegisterStrip(90, 20);
  host->SetColor(clWhite);
  host->SetEdgeBorders(ebLeft | ebTop | ebRight | ebBottom);
  auto* top = new THyperlinkContainer(alTop, false, 40);
  auto* client = new THyperlinkContainer(alClient, false, 0);
  auto* bottom = new THyperlinkContainer(alBottom, false, 30);
  host->Root()->AddLinks({top, client, bottom});
  auto* normal = new TBitmapHyperlink(StripId, 0, 0, 1);
  normal->MoveTo(TPoint{10, 10});
  auto* disabled = new TBitmapHyperlink(StripId, 0, 0, 2);
  disabled->MoveTo(TPoint{60, 10});
  disabled->SetEnabled(false);
  auto* own = new TBitmapHyperlink(StripId, 0, 0, 3);
  own->SetBitmap(MakeStripBitmap(90, 20));
  own->MoveTo(TPoint{110, 10});
  own->SetState(hsPressed);
  top->AddLinks({normal, disabled, own});
  auto* block = new TBlock(0x2080F0);
  block->SetBoundsRect(TRect{10, 10, 100, 50});
  client->InsertLink(block);
  auto* hot = new TBitmapHyperlink(StripId, 0, 0, 4);
  hot->MoveTo(TPoint{10, 5});
  hot->SetState(hsHot);
  bottom->InsertLink(hot);
  capture::TCapture shot = Shoot(host, L"hyperlink_host.bmp");
  ASSERT_EQ(shot.Width, 300);
  ASSERT_EQ(shot.Height, 200);
  // Buttons: each pixel the strip's frame over white, at alpha 255 or 90 (rows at 255 and 221).
  struct {
    TBitmapHyperlink* Button;
    int Frame;
    uint8_t Alpha;
  } buttons[] = {{normal, 0, 255}, {disabled, 0, 90}, {own, 2, 255}, {hot, 1, 255}};
  for (auto& b : buttons) {
    TRect r;
    b.Button->GetControlRect(r);
    auto want = [&](int x, int y) { return Over(StripPixel(b.Frame * 30 + x, y, 30, 20), 0xFFFFFF, b.Alpha); };
    EXPECT_EQ(Mismatches(shot, r.Left, r.Top, 30, 20, want, "tag " + std::to_string(b.Button->Tag())), 0);
  }
  // Borders on the edges (last column and row), separators under the top and over the bottom container.
  const uint32_t border = 0xAEB9BD;  // the default BorderColor, $00BBGGRR
  uint32_t borderPixel = (border & 0xFF) << 16 | (border & 0xFF00) | (border >> 16 & 0xFF);
  EXPECT_EQ(shot.At(0, 100) & 0xFFFFFF, borderPixel);
  EXPECT_EQ(shot.At(299, 100) & 0xFFFFFF, borderPixel);
  EXPECT_EQ(shot.At(150, 0) & 0xFFFFFF, borderPixel);
  EXPECT_EQ(shot.At(150, 199) & 0xFFFFFF, borderPixel);
  TRect t, b;
  top->GetControlRect(t);
  bottom->GetControlRect(b);
  EXPECT_EQ(shot.At(250, t.Bottom) & 0xFFFFFF, borderPixel);
  EXPECT_EQ(shot.At(250, b.Top - 1) & 0xFFFFFF, borderPixel);
  EXPECT_EQ(shot.At(250, t.Bottom + 5) & 0xFFFFFF, 0xFFFFFFu);
  // The block in the client container.
  TRect k;
  block->GetControlRect(k);
  EXPECT_EQ(shot.At(k.Left + 5, k.Top + 5) & 0xFFFFFF, 0xF08020u);
}

// The program's own skin pictures as buttons of a host: the logo, a tile and a dialog icon, one of
// them disabled, each pixel the picture's (decoded from the test's copy of its straight RGBA
// pixels) over white at the button's alpha, 255 or 90; the pictures' own alphas run from 0 to 255
// (221 among them), so every kind of blend is on the screen.
TEST_F(THostFixture, ScreenshotOfSkinPicturesMatchesComputedPixels) {
  host->SetColor(clWhite);
  struct {
    uint32_t Id;
    int X, Y, W, H;
    bool Enabled;
  } pictures[] = {{10, 8, 8, 48, 48, true}, {8045, 64, 8, 48, 48, false}, {23, 8, 64, 216, 120, true}};
  for (auto& p : pictures) {
    auto* b = new TBitmapHyperlink(p.Id, 0);
    b->MoveTo(TPoint{p.X, p.Y});
    b->SetEnabled(p.Enabled);
    host->Root()->InsertLink(b);
  }
  capture::TCapture shot = Shoot(host, L"hyperlink_host_skin.bmp");
  bool seen221 = false;
  for (auto& p : pictures) {
    shots::TSkinPicture ref = shots::SkinPicture(p.Id, p.W, p.H);
    ASSERT_NE(ref.Rgba, nullptr) << p.Id;
    auto want = [&](int x, int y) {
      seen221 |= ref.Alpha(x, y) == 221;
      return Over(ref.Premultiplied(x, y), 0xFFFFFF, p.Enabled ? 255 : 90);
    };
    EXPECT_EQ(Mismatches(shot, p.X, p.Y, p.W, p.H, want, "picture " + std::to_string(p.Id)), 0);
  }
  EXPECT_TRUE(seen221) << "no pixel of alpha 221 among the pictures";
}
