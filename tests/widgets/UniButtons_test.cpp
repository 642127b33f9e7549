// Unicode bitmap button: glyph beside a wide caption; a paint waiting for glyph images ends.
#include <gtest/gtest.h>

#include "FakeTheme.h"
#include "RightToLeft.h"
#include "classlib/ActnList.h"
#include "classlib/Buttons.h"
#include "classlib/ImgList.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniButtons.h"
#include "widgets/UniForms.h"

namespace {
// The button's own pixels (top-down, 0x00RRGGBB).
std::vector<uint32_t> Pixels(TWinControl* C, int& W, int& H) {
  HWND h = static_cast<HWND>(C->Handle());
  RECT r;
  GetWindowRect(h, &r);
  W = r.right - r.left;
  H = r.bottom - r.top;
  HDC wdc = GetWindowDC(h), mem = CreateCompatibleDC(wdc);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(wdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(mem, dib);
  BitBlt(mem, 0, 0, W, H, wdc, 0, 0, SRCCOPY);
  GdiFlush();
  std::vector<uint32_t> px(static_cast<uint32_t*>(bits), static_cast<uint32_t*>(bits) + (size_t)W * H);
  SelectObject(mem, old);
  DeleteObject(dib);
  DeleteDC(mem);
  ReleaseDC(h, wdc);
  for (auto& p : px) p &= 0xFFFFFF;
  return px;
}

void FillGlyph(TBitmap* B, int W, int H) {
  B->SetSize(W, H);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, static_cast<HBITMAP>(B->Handle()));
  RECT all{0, 0, W, H}, inner{2, 2, W - 2, H - 2};
  HBRUSH white = CreateSolidBrush(RGB(255, 255, 255)), red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &all, white);
  FillRect(dc, &inner, red);
  DeleteObject(white);
  DeleteObject(red);
  SelectObject(dc, old);
  DeleteDC(dc);
}
}  // namespace

TEST(UniBitBtn, GlyphBesideAWideCaption) {
  TUniForm form(nullptr);
  form.SetBounds(40, 40, 300, 120);
  auto* button = new TUniBitBtn(&form);
  button->SetBounds(10, 10, 200, 40);
  button->SetCaption(L"\u4e2d\u6587 caf\u00e9");
  FillGlyph(button->Glyph(), 16, 16);
  button->GlyphChanged();
  button->SetParent(&form);
  form.Show();
  RedrawWindow(static_cast<HWND>(form.Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Application->ProcessMessages();
  EXPECT_EQ(GetControlWideText(button), TestConfig().NT() ? L"\u4e2d\u6587 caf\u00e9" : AnsiToWide(WideToAnsi(L"\u4e2d\u6587 caf\u00e9")));
  int w, h;
  std::vector<uint32_t> px = Pixels(button, w, h);
  int redRight = -1, darkLeft = w;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint32_t p = px[(size_t)y * w + x];
      if (p == 0xFF0000) redRight = std::max(redRight, x);
      if (((p >> 16) & 0xFF) < 0x60 && ((p >> 8) & 0xFF) < 0x60 && (p & 0xFF) < 0x60 && x > 4 && x < w - 4 && y > 4 &&
          y < h - 4)
        darkLeft = std::min(darkLeft, x);
    }
  ASSERT_GE(redRight, 0) << "no glyph drawn";
  ASSERT_LT(darkLeft, w) << "no caption drawn";
  EXPECT_LT(redRight, darkLeft);
}

TEST(UniBitBtn, PaintWaitingForGlyphImagesThatNeverComeEnds) {
  TUniForm form(nullptr);
  auto* button = new TUniBitBtn(&form);
  button->SetCaption(L"\u4e2d");
  // Four images in two pixels: no image can be made of it.
  FillGlyph(button->Glyph(), 2, 16);
  button->SetNumGlyphs(4);
  button->SetParent(&form);
  form.Show();
  RedrawWindow(static_cast<HWND>(form.Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Application->ProcessMessages();
  if (TestConfig().NT()) {
    EXPECT_GE(button->PaintCount(), 1);
    EXPECT_LE(button->PaintCount(), 4);
  }
  EXPECT_FALSE(GetUpdateRect(static_cast<HWND>(button->Handle()), nullptr, FALSE));
}

TEST(UniBitBtn, ThemedFaceFollowsTheButtonsState) {
  FakeTheme theme;
  TUniForm form(nullptr);
  auto* button = new TUniBitBtn(&form);
  button->SetBounds(10, 10, 120, 40);
  button->SetCaption(L"\u4e2d\u6587");
  FillGlyph(button->Glyph(), 32, 16);
  button->SetNumGlyphs(2);
  button->SetParent(&form);
  form.HandleNeeded();
  // The images exist before the paint (a missing one would end it, as tested above).
  button->ButtonGlyph()->CreateButtonGlyph(bsUp);
  button->ButtonGlyph()->CreateButtonGlyph(bsDisabled);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(GetDC(nullptr), 120, 40);
  HGDIOBJ old = SelectObject(dc, bmp);
  struct Case {
    UINT ItemState;
    bool Enabled, MouseIn;
    int Detail, IconState;
  } cases[] = {
      {0, true, false, 1, 1},
      {ODS_SELECTED, true, false, 3, 3},
      {0, true, true, 2, 1},
      {ODS_FOCUS, true, false, 5, 1},
      {ODS_DISABLED, false, false, 4, 4},
  };
  int normalIconLeft = -1;
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case #" << (&c - cases));
    button->SetEnabled(c.Enabled);
    button->Perform(c.MouseIn ? CM_MOUSEENTER : CM_MOUSELEAVE, 0, 0);
    FakeTheme::Calls.clear();
    DRAWITEMSTRUCT d{ODT_BUTTON, 0, 0, ODA_DRAWENTIRE, c.ItemState, static_cast<HWND>(button->Handle()), dc,
                     {0, 0, 120, 40}, 0};
    button->Perform(CN_DRAWITEM, 0, reinterpret_cast<intptr_t>(&d));
    if (!TestConfig().NT()) {
      EXPECT_TRUE(FakeTheme::Calls.empty());
      continue;
    }
    ASSERT_GE(FakeTheme::Calls.size(), 3u);
    EXPECT_EQ(FakeTheme::Calls[0].What, ThemeCall::ParentBackground);
    EXPECT_EQ(FakeTheme::Calls[1].What, ThemeCall::Background);
    EXPECT_EQ(FakeTheme::Calls[1].Part, 1);
    EXPECT_EQ(FakeTheme::Calls[1].State, c.Detail);
    std::vector<ThemeCall> icons = theme.Of(ThemeCall::Icon);
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].State, c.IconState);
    // One image of the two across the bitmap, inside the content rectangle.
    EXPECT_EQ(icons[0].R.right - icons[0].R.left, 16);
    EXPECT_EQ(icons[0].R.bottom - icons[0].R.top, 16);
    EXPECT_GE(icons[0].R.left, 3);
    if (&c == cases) normalIconLeft = icons[0].R.left;
    // Pressed: one pixel to the right.
    if (c.ItemState == ODS_SELECTED) {
      EXPECT_EQ(icons[0].R.left, normalIconLeft + 1);
    }
  }
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

TEST(UniBitBtn, EmptyGlyphTakesTheActionsImage) {
  TImageList images(nullptr);
  images.SetSize(16, 16);
  TBitmap strip;
  strip.SetSize(32, 16);
  {
    HDC dc = static_cast<HDC>(strip.Canvas()->Handle());
    RECT first{0, 0, 16, 16}, second{16, 0, 32, 16};
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255)), red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &first, blue);
    FillRect(dc, &second, red);
    DeleteObject(blue);
    DeleteObject(red);
  }
  images.AddMasked(&strip, clWhite);
  ASSERT_EQ(images.Count(), 2);
  TActionList list(nullptr);
  list.SetImages(&images);
  TUniAction action(nullptr);
  action.SetActionList(&list);
  action.SetImageIndex(1);
  action.SetCaption(L"\u4e2d");

  TUniForm form(nullptr);
  auto* empty = new TUniBitBtn(&form);
  empty->SetAction(&action);
  ASSERT_EQ(empty->Glyph()->Width(), 16);
  HDC dc = static_cast<HDC>(empty->Glyph()->Canvas()->Handle());
  EXPECT_EQ(GetPixel(dc, 8, 8), RGB(255, 0, 0));
  EXPECT_EQ(empty->Caption(), TestConfig().NT() ? L"\u4e2d" : AnsiToWide(WideToAnsi(L"\u4e2d")));

  // A glyph of its own stays; an index beyond the list gives none.
  auto* own = new TUniBitBtn(&form);
  FillGlyph(own->Glyph(), 8, 8);
  own->SetAction(&action);
  EXPECT_EQ(own->Glyph()->Width(), 8);
  TUniAction beyond(nullptr);
  beyond.SetActionList(&list);
  beyond.SetImageIndex(2);
  auto* none = new TUniBitBtn(&form);
  none->SetAction(&beyond);
  EXPECT_TRUE(none->Glyph()->Empty());
  empty->SetAction(nullptr);
  own->SetAction(nullptr);
  none->SetAction(nullptr);
}

// Right-aligned reading order swaps the glyph's side; reading order alone does not.
TEST(UniBitBtn, RightToLeftSwapsTheGlyphsSide) {
  TRightToLeftSystem rtl;
  FakeTheme theme;
  TUniForm form(nullptr);
  auto* button = new TUniBitBtn(&form);
  button->SetBounds(10, 10, 160, 40);
  button->SetCaption(L"\u4e2d\u6587");
  FillGlyph(button->Glyph(), 16, 16);
  button->SetParent(&form);
  form.HandleNeeded();
  button->ButtonGlyph()->CreateButtonGlyph(bsUp);
  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP bmp = CreateCompatibleBitmap(GetDC(nullptr), 160, 40);
  HGDIOBJ old = SelectObject(dc, bmp);
  struct Case {
    TBiDiMode Mode;
    TButtonLayout Layout;
    bool GlyphOnTheRight;
  } cases[] = {
      {bdLeftToRight, blGlyphLeft, false},           {bdRightToLeft, blGlyphLeft, true},
      {bdRightToLeft, blGlyphRight, false},          {bdLeftToRight, blGlyphRight, true},
      {bdRightToLeftReadingOnly, blGlyphLeft, false}, {bdRightToLeftNoAlign, blGlyphLeft, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case #" << (&c - cases));
    button->SetBiDiMode(c.Mode);
    button->SetLayout(c.Layout);
    FakeTheme::Calls.clear();
    DRAWITEMSTRUCT d{ODT_BUTTON, 0, 0, ODA_DRAWENTIRE, 0, static_cast<HWND>(button->Handle()), dc, {0, 0, 160, 40}, 0};
    button->Perform(CN_DRAWITEM, 0, reinterpret_cast<intptr_t>(&d));
    if (!TestConfig().NT()) continue;  // the library's own drawing
    std::vector<ThemeCall> icons = theme.Of(ThemeCall::Icon);
    ASSERT_EQ(icons.size(), 1u);
    EXPECT_EQ(icons[0].R.left > 80, c.GlyphOnTheRight) << icons[0].R.left;
  }
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}

// Speed buttons paint into their parent: a face, the glyph of the state and the caption beside it;
// down, the content moves one pixel; flat, the face has no edge until the mouse is over it.
TEST(SpeedButton, PaintsFaceGlyphAndCaption) {
  TForm form(nullptr);
  auto* button = new TSpeedButton(&form);
  button->SetParent(&form);
  button->SetBounds(0, 0, 80, 24);
  button->SetGroupIndex(1);
  button->SetCaption("Open");
  FillGlyph(button->Glyph(), 16, 16);
  button->GlyphChanged();
  HDC dc = CreateCompatibleDC(nullptr);
  BITMAPINFO bi{};
  bi.bmiHeader = {sizeof(BITMAPINFOHEADER), 80, -24, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  uint32_t* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
  HGDIOBJ old = SelectObject(dc, bmp);
  struct Painted {
    int RedLeft = -1, RedTop = -1, TextLeft = -1;
    uint32_t Corner = 0;
  };
  auto paint = [&] {
    button->Paint(dc);
    GdiFlush();
    Painted p;
    uint32_t face = ((GetSysColor(COLOR_BTNFACE) & 0xFF) << 16) | (GetSysColor(COLOR_BTNFACE) & 0xFF00) |
                    ((GetSysColor(COLOR_BTNFACE) >> 16) & 0xFF);
    for (int y = 3; y < 21; ++y)
      for (int x = 3; x < 77; ++x) {
        uint32_t c = bits[y * 80 + x] & 0xFFFFFF;
        if (c == 0xFF0000 && (p.RedLeft < 0 || x < p.RedLeft)) p.RedLeft = x;
        if (c == 0xFF0000 && p.RedTop < 0) p.RedTop = y;
        if (c != face && c != 0xFF0000 && c != 0xFFFFFF && x > p.RedLeft + 16 && p.RedLeft >= 0 &&
            (p.TextLeft < 0 || x < p.TextLeft))
          p.TextLeft = x;
      }
    p.Corner = bits[0] & 0xFFFFFF;
    return p;
  };
  Painted up = paint();
  ASSERT_GE(up.RedLeft, 0) << "no glyph";
  EXPECT_GT(up.TextLeft, up.RedLeft + 12) << "the caption follows the glyph";
  button->Click();
  ASSERT_TRUE(button->Down());
  Painted down = paint();
  EXPECT_EQ(down.RedLeft, up.RedLeft + 1);
  EXPECT_EQ(down.RedTop, up.RedTop + 1);
  button->SetDown(false);
  button->SetFlat(true);
  uint32_t face = ((GetSysColor(COLOR_BTNFACE) & 0xFF) << 16) | (GetSysColor(COLOR_BTNFACE) & 0xFF00) |
                  ((GetSysColor(COLOR_BTNFACE) >> 16) & 0xFF);
  EXPECT_EQ(paint().Corner, face);
  button->Perform(CM_MOUSEENTER, 0, 0);
  EXPECT_TRUE(button->MouseInControl());
  EXPECT_NE(paint().Corner, face);
  SelectObject(dc, old);
  DeleteObject(bmp);
  DeleteDC(dc);
}
