// Owner-drawn Unicode menu items: measuring, the classic drawing around the library's face, and
// the visual-styles drawing (against the recording stand-in of the theme functions).
#include <gtest/gtest.h>

#include <vector>

#include "classlib/ImgList.h"
#include "FakeTheme.h"
#include "RightToLeft.h"
#include "classlib/Themes.h"
#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniGraphics.h"
#include "unicode/UniWindows.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"

namespace {
// Partly in the 1252 code page, so that the 8-bit paths draw some of it too.
const WideString kChinese = L"Men\u00fc \u4e2d\u6587\u83dc\u5355";
constexpr TShortCut kCtrlO = scCtrl | 'O';

// A 32-bit top-down bitmap selected into a memory context, with a canvas on it.
struct Surface {
  int W, H;
  HDC DC;
  HBITMAP Bmp;
  HGDIOBJ Old;
  uint32_t* Bits = nullptr;
  TCanvas Canvas;
  Surface(int AW, int AH) : W(AW), H(AH) {
    DC = CreateCompatibleDC(nullptr);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), W, -H, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    Bmp = CreateDIBSection(DC, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&Bits), nullptr, 0);
    Old = SelectObject(DC, Bmp);
    Canvas.SetHandle(DC);
    AssignMenuFont(Canvas.Font());
  }
  ~Surface() {
    Canvas.SetHandle(nullptr);
    SelectObject(DC, Old);
    DeleteObject(Bmp);
    DeleteDC(DC);
  }
  uint32_t At(int X, int Y) const { return Bits[(size_t)Y * W + X] & 0xFFFFFF; }
  // Left and right column holding a pixel of the colour (BGR as a DIB stores it), or -1.
  std::pair<int, int> Ink(COLORREF Color, int MaxX = -1) const {
    uint32_t want = (GetRValue(Color) << 16) | (GetGValue(Color) << 8) | GetBValue(Color);
    int l = -1, r = -1;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < (MaxX < 0 ? W : MaxX); ++x)
        if (At(x, y) == want) {
          if (l < 0 || x < l) l = x;
          if (x > r) r = x;
        }
    return {l, r};
  }
};

// What a text drawn the plain way covers: same font, colour and rectangle.
std::pair<int, int> ReferenceInk(const WideString& Text, RECT R, UINT Flags) {
  Surface s(400, 40);
  RECT all{0, 0, s.W, s.H};
  FillRect(s.DC, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  s.Canvas.RequiredState(csHandleValid | csFontValid);
  SetBkMode(s.DC, TRANSPARENT);
  SetTextColor(s.DC, RGB(0, 0, 0));
  if (TestConfig().NT()) {
    WideString t = Text;
    WideDrawText(s.DC, t.c_str(), (int)t.size(), R, Flags);
  } else {
    AnsiString t = WideToAnsi(Text);
    DrawTextA(s.DC, t.c_str(), (int)t.size(), &R, Flags);
  }
  return s.Ink(RGB(0, 0, 0));
}

struct MenuDrawing : ::testing::Test {
  FakeTheme theme;
  bool Themed() const { return TestConfig().NT(); }
  std::vector<ThemeCall> Backgrounds() const { return theme.Of(ThemeCall::Background); }
  std::vector<ThemeCall> Texts() const { return theme.Of(ThemeCall::DrawnText); }
};

// An item of a pop-up menu; the menu and the item are freed with the test.
struct PopupItem {
  TPopupMenu Menu{nullptr};
  TUniMenuItem* Item;
  PopupItem() {
    Item = new TUniMenuItem(&Menu);
    Menu.Items()->Add(Item);
  }
};

std::unique_ptr<TImageList> RedImages(int Size, int Count) {
  auto list = std::make_unique<TImageList>(nullptr);
  list->SetSize(Size, Size);
  TBitmap b;
  b.SetSize(Size * Count, Size);
  RECT all{0, 0, Size * Count, Size}, inner{1, 1, Size * Count - 1, Size - 1};
  HDC dc = static_cast<HDC>(b.Canvas()->Handle());
  FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
  FillRect(dc, &inner, red);
  DeleteObject(red);
  list->AddMasked(&b, clWhite);
  return list;
}
}  // namespace

TEST_F(MenuDrawing, OwnerDrawnEntriesAreMeasuredAndDrawnThroughTheirWindow) {
  FakeTheme::Active = false;
  PopupItem p;
  p.Item->SetCaption(kChinese);
  p.Item->SetShortCut(kCtrlO);
  int measured = 0;
  p.Item->OnMeasureItem = [&](TObject*, TCanvas*, int& W, int& H) {
    ++measured;
    H = 30;
  };
  p.Menu.SetOwnerDraw(true);
  HMENU h = static_cast<HMENU>(p.Menu.Handle());
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_FTYPE | MIIM_DATA;
  ASSERT_TRUE(GetMenuItemInfoW(h, 0, TRUE, &info));
  EXPECT_TRUE(info.fType & MFT_OWNERDRAW);
  ASSERT_EQ(info.dwItemData, p.Item->Command());

  // Measuring: room for the wide caption and the shortcut text; the handler runs once, last.
  MEASUREITEMSTRUCT m{ODT_MENU, 0, 0, 0, 0, info.dwItemData};
  SendMessageW(static_cast<HWND>(PopupList->Window()), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&m));
  EXPECT_EQ(measured, 1);
  EXPECT_EQ(m.itemHeight, 30u);
  Surface s(400, 30);
  s.Canvas.RequiredState(csHandleValid | csFontValid);
  TSize caption = WideDCTextExtent(s.DC, TestConfig().NT() ? kChinese : AnsiToWide(WideToAnsi(kChinese)));
  TSize shortcut = WideDCTextExtent(s.DC, ShortCutToWideText(kCtrlO));
  EXPECT_GE((int)m.itemWidth, caption.cx + shortcut.cx + 6);

  // Drawing: the wide caption lands where the plain wide text would, after the glyph column.
  RECT all{0, 0, s.W, s.H};
  FillRect(s.DC, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  DRAWITEMSTRUCT d{ODT_MENU, 0, 0, ODA_DRAWENTIRE, 0, nullptr, s.DC, {0, 0, 300, 30}, info.dwItemData};
  s.Canvas.SetHandle(nullptr);
  SendMessageW(static_cast<HWND>(PopupList->Window()), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&d));
  COLORREF text = GetSysColor(COLOR_MENUTEXT);
  auto ink = s.Ink(text);
  ASSERT_GE(ink.first, 0) << "nothing drawn";
  auto expected = ReferenceInk(kChinese, RECT{6, 0, 299, 30}, DT_LEFT | DT_SINGLELINE | DT_EXPANDTABS | DT_VCENTER);
  EXPECT_EQ(ink.first, expected.first);
  // The whole caption, wide where the system is.
  EXPECT_EQ(s.Ink(text, expected.second + 3).second, expected.second);
  // The shortcut text ends 10 pixels before the item's right edge (the wide text's area ends one
  // pixel before it).
  int end = TestConfig().NT() ? 289 : 290;
  auto shortcutInk = ReferenceInk(ShortCutToWideText(kCtrlO), RECT{0, 0, end, 30}, DT_RIGHT | DT_SINGLELINE);
  EXPECT_EQ(ink.second, shortcutInk.second);
}

TEST_F(MenuDrawing, ClassicDrawingLeavesTheWindowsEntryAndTheItemAsTheyWere) {
  FakeTheme::Active = false;
  PopupItem p;
  p.Item->SetCaption(kChinese);
  p.Item->SetShortCut(kCtrlO);
  p.Menu.SetOwnerDraw(true);
  HMENU h = static_cast<HMENU>(p.Menu.Handle());
  // A mark the library's rebuild of the menu would lose.
  MENUITEMINFOW mark{};
  mark.cbSize = sizeof mark;
  mark.fMask = MIIM_STATE;
  mark.fState = MFS_HILITE;
  ASSERT_TRUE(SetMenuItemInfoW(h, 0, TRUE, &mark));
  auto markKept = [&] {
    MENUITEMINFOW i{};
    i.cbSize = sizeof i;
    i.fMask = MIIM_STATE;
    return GetMenuItemInfoW(h, 0, TRUE, &i) && (i.fState & MFS_HILITE);
  };
  const WideString caption = p.Item->Caption();
  Surface s(300, 24);
  TRect r{0, 0, 300, 24};
  p.Item->AdvancedDrawItem(&s.Canvas, r, 0, false);
  EXPECT_TRUE(markKept());
  EXPECT_EQ(p.Item->Caption(), caption);
  EXPECT_EQ(p.Item->ShortCut(), kCtrlO);

  // The library's drawing fails (a canvas without a device context): caption and shortcut come
  // back, the failure passes on, and later changes reach the menu again.
  TCanvas none;
  TRect r2{0, 0, 300, 24};
  EXPECT_THROW(p.Item->AdvancedDrawItem(&none, r2, 0, false), EInvalidOperation);
  EXPECT_TRUE(markKept());
  EXPECT_EQ(p.Item->Caption(), caption);
  EXPECT_EQ(p.Item->ShortCut(), kCtrlO);
  p.Item->SetCaption(L"x");
  EXPECT_FALSE(markKept());
}

TEST_F(MenuDrawing, AnItemWithItsOwnHandlerIsDrawnByIt) {
  PopupItem p;
  p.Item->SetCaption(kChinese);
  p.Menu.SetOwnerDraw(true);
  TOwnerDrawState seen = 0;
  p.Item->OnAdvancedDrawItem = [&](TObject*, TCanvas*, TRect, TOwnerDrawState State) { seen = State | 0x10000; };
  Surface s(200, 24);
  TRect r{0, 0, 200, 24};
  p.Item->AdvancedDrawItem(&s.Canvas, r, odSelected, false);
  EXPECT_EQ(seen, odSelected | 0x10000);
  EXPECT_TRUE(FakeTheme::Calls.empty());
}

TEST_F(MenuDrawing, ThemedCheckMarksNeedAnImageList) {
  struct Case {
    bool Images, Radio, Enabled;
    int CheckBack, Check, TextState;  // 0: not drawn
  } cases[] = {
      {false, false, true, 0, 0, 1},
      {true, false, true, 2, 1, 1},
      {true, true, true, 2, 3, 1},
      {true, true, false, 1, 4, 3},
      {true, false, false, 1, 2, 3},
  };
  auto images = RedImages(16, 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case #" << (&c - cases));
    FakeTheme::Calls.clear();
    PopupItem p;
    p.Item->SetCaption(L"Item");
    p.Item->SetChecked(true);
    p.Item->SetRadioItem(c.Radio);
    p.Item->SetEnabled(c.Enabled);
    if (c.Images) p.Menu.SetImages(images.get());
    Surface s(300, 30);
    TRect r{0, 0, 300, 30};
    p.Item->AdvancedDrawItem(&s.Canvas, r, 0, false);
    if (!Themed()) {
      EXPECT_TRUE(FakeTheme::Calls.empty());
      continue;
    }
    std::vector<ThemeCall> bg = Backgrounds();
    ASSERT_GE(bg.size(), 2u);
    EXPECT_EQ(bg[0].Part, 9);
    EXPECT_EQ(bg[1].Part, 13);
    int back = 0, check = 0;
    RECT checkRect{};
    for (auto& b : bg) {
      if (b.Part == 12) back = b.State;
      if (b.Part == 11) {
        check = b.State;
        checkRect = b.R;
      }
    }
    EXPECT_EQ(back, c.CheckBack);
    EXPECT_EQ(check, c.Check);
    if (c.Check) {
      // The check area: 16 + 2 x 2 wide and 15 + 2 x 3 high at the item's start.
      EXPECT_EQ(checkRect.left, 0);
      EXPECT_EQ(checkRect.right - checkRect.left, 20);
      EXPECT_EQ(checkRect.bottom - checkRect.top, 21);
    }
    std::vector<ThemeCall> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].State, c.TextState);
    EXPECT_EQ(texts[1].Options.crText, c.Enabled ? RGB(10, 20, 30) : RGB(1, 2, 3));
  }
}

TEST_F(MenuDrawing, ThemedTextPlacesAndOptions) {
  if (!Themed()) {
    // The 8-bit systems keep the library's drawing, visual styles or not.
    PopupItem p;
    p.Item->SetCaption(L"Open");
    Surface s(300, 30);
    TRect r{0, 0, 300, 30};
    p.Item->AdvancedDrawItem(&s.Canvas, r, odSelected, false);
    EXPECT_TRUE(FakeTheme::Calls.empty());
    return;
  }
  {
    // Pop-up item: text after the gutter and the item's margin, the sub-menu arrow's width off
    // its right; measured then drawn with the composited colour options.
    PopupItem p;
    p.Item->SetCaption(L"Open");
    Surface s(300, 30);
    TRect r{0, 0, 300, 30};
    p.Item->AdvancedDrawItem(&s.Canvas, r, odSelected, false);
    std::vector<ThemeCall> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    // Check area 20 wide, gutter 3 + check margin 1 + gutter margin 4, item margin 6.
    EXPECT_EQ(texts[0].R.left, 20 + 3 + 1 + 4 + 6);
    EXPECT_TRUE(texts[0].Flags & DT_CALCRECT);
    EXPECT_EQ(texts[0].Options.dwSize, sizeof(void*) == 8 ? 72u : 64u);  // the system's record size
    EXPECT_EQ(texts[0].Options.dwFlags, 0x2001u | 0x200u);
    EXPECT_EQ(texts[1].Options.dwFlags, 0x2001u);
    EXPECT_EQ(texts[1].Flags, (DWORD)(DT_LEFT | DT_EXPANDTABS | DT_SINGLELINE));
    EXPECT_EQ(texts[1].R.left, 34);
    EXPECT_EQ(texts[1].R.top, (30 - 13) / 2);
    EXPECT_EQ(texts[1].Text, L"Open");
    // Selected: the hot item part over the whole item.
    bool hot = false;
    for (auto& b : Backgrounds())
      if (b.Part == 14 && b.State == 2 && b.R.left == 0 && b.R.right == 300) hot = true;
    EXPECT_TRUE(hot);
  }
  {
    // A top-level item of a main menu starts its caption after the check area, without an image.
    FakeTheme::Calls.clear();
    TMainMenu menu(nullptr);
    auto* item = new TUniMenuItem(&menu);
    menu.Items()->Add(item);
    item->SetCaption(L"&File");
    Surface s(100, 20);
    TRect r{0, 0, 100, 20};
    item->AdvancedDrawItem(&s.Canvas, r, 0, true);
    std::vector<ThemeCall> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].R.left, 20);
    EXPECT_EQ(texts[1].Flags & (DT_RIGHT | DT_CENTER), 0u);
    for (auto& b : Backgrounds()) EXPECT_NE(b.Part, 13) << "no gutter on the bar";
  }
  {
    // Pop-up menus align their captions as the menu says.
    for (TPopupAlignment a : {paRight, paCenter}) {
      FakeTheme::Calls.clear();
      PopupItem p;
      p.Menu.SetAlignment(a);
      p.Item->SetCaption(L"Close");
      Surface s(300, 30);
      TRect r{0, 0, 300, 30};
      p.Item->AdvancedDrawItem(&s.Canvas, r, odNoAccel, false);
      std::vector<ThemeCall> texts = Texts();
      ASSERT_EQ(texts.size(), 2u);
      EXPECT_EQ(texts[1].Flags & (DT_RIGHT | DT_CENTER), (DWORD)(a == paRight ? DT_RIGHT : DT_CENTER));
      EXPECT_TRUE(texts[1].Flags & DT_HIDEPREFIX);
    }
  }
}

TEST_F(MenuDrawing, ThemedPathFallsBackWhenTheThemeIsOff) {
  FakeTheme::Active = false;
  PopupItem p;
  p.Item->SetCaption(L"Open");
  p.Item->SetChecked(true);
  Surface s(300, 30);
  TRect r{0, 0, 300, 30};
  p.Item->AdvancedDrawItem(&s.Canvas, r, 0, false);
  EXPECT_TRUE(FakeTheme::Calls.empty());
  EXPECT_GE(s.Ink(GetSysColor(COLOR_MENUTEXT)).first, 6);
}

TEST_F(MenuDrawing, MainMenuBarItemsAreMeasuredAndDrawnThroughTheForm) {
  TUniForm form(nullptr);
  TMainMenu menu(nullptr);
  auto* file = new TUniMenuItem(&menu);
  file->SetCaption(L"&Datei \u4e2d");
  auto* open = new TUniMenuItem(&menu);
  open->SetCaption(L"\u00d6ffnen");
  file->Add(open);
  menu.Items()->Add(file);
  menu.SetOwnerDraw(true);
  form.SetMenu(&menu);
  HWND h = static_cast<HWND>(form.Handle());
  int measured = 0;
  file->OnMeasureItem = [&](TObject*, TCanvas*, int&, int&) { ++measured; };
  MEASUREITEMSTRUCT m{ODT_MENU, 0, 0, 0, 0, file->Command()};
  SendMessageW(h, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&m));
  EXPECT_EQ(measured, 1);
  EXPECT_GT(m.itemWidth, 0u);
  Surface s(120, 20);
  DRAWITEMSTRUCT d{ODT_MENU, 0, 0, ODA_DRAWENTIRE, 0, nullptr, s.DC, {0, 0, 120, 20}, file->Command()};
  s.Canvas.SetHandle(nullptr);
  FakeTheme::Calls.clear();
  SendMessageW(h, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&d));
  if (Themed()) {
    // Drawn as an item of the bar: no gutter, the caption after the check area.
    std::vector<ThemeCall> texts = Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].Text, L"&Datei \u4e2d");
    EXPECT_EQ(texts[1].R.left, 20);
    for (auto& b : Backgrounds()) EXPECT_NE(b.Part, 13);
  } else {
    EXPECT_TRUE(FakeTheme::Calls.empty());
  }
  form.SetMenu(nullptr);
}

TEST_F(MenuDrawing, ClassicCaptionStartsAfterTheGlyphColumn) {
  FakeTheme::Active = false;
  auto images = RedImages(24, 1);
  struct Case {
    bool Images, Bitmap;
    int ImageIndex;
    int Column;
  } cases[] = {
      {false, false, -1, 0},
      {true, false, -1, 24},
      {true, false, 0, 24},
      {false, true, -1, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case #" << (&c - cases));
    PopupItem p;
    p.Item->SetCaption(kChinese);
    if (c.Images) p.Menu.SetImages(images.get());
    p.Item->SetImageIndex(c.ImageIndex);
    if (c.Bitmap) {
      p.Item->Bitmap()->SetSize(16, 16);
      RECT all{0, 0, 16, 16};
      FillRect(static_cast<HDC>(p.Item->Bitmap()->Canvas()->Handle()), &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    }
    Surface s(300, 30);
    TRect r{0, 0, 300, 30};
    p.Item->AdvancedDrawItem(&s.Canvas, r, 0, false);
    auto expected = ReferenceInk(kChinese, RECT{c.Column + 6, 0, 299, 30}, DT_LEFT | DT_SINGLELINE | DT_VCENTER);
    auto ink = s.Ink(GetSysColor(COLOR_MENUTEXT));
    EXPECT_EQ(ink.first, expected.first);
    EXPECT_EQ(ink.second, expected.second);
  }
}

TEST_F(MenuDrawing, DisabledCaptionIsEmbossedUnlessSelected) {
  FakeTheme::Active = false;
  PopupItem p;
  p.Item->SetCaption(kChinese);
  p.Item->SetEnabled(false);
  // The plain way: the menu's background, the text once moved by (1, 1) in the highlight colour
  // unless selected, then in place in the shadow colour; centred by its measured height (the
  // 8-bit systems keep the library's drawing, which centres it by DT_VCENTER).
  auto reference = [](bool Selected) {
    auto s = std::make_unique<Surface>(300, 30);
    RECT all{0, 0, 300, 30};
    FillRect(s->DC, &all, GetSysColorBrush(Selected ? COLOR_HIGHLIGHT : COLOR_MENU));
    s->Canvas.RequiredState(csHandleValid | csFontValid);
    SetBkMode(s->DC, TRANSPARENT);
    auto text = [&](RECT& R, UINT Flags) {
      if (TestConfig().NT()) {
        WideString t = kChinese;
        WideDrawText(s->DC, t.c_str(), (int)t.size(), R, Flags);
      } else {
        AnsiString t = WideToAnsi(kChinese);
        DrawTextA(s->DC, t.c_str(), (int)t.size(), &R, Flags);
      }
    };
    RECT measured{0, 0, 0, 0};
    text(measured, DT_CALCRECT | DT_SINGLELINE);
    int top = (30 - (measured.bottom - measured.top)) / 2;
    auto draw = [&](int D, int Color) {
      SetTextColor(s->DC, GetSysColor(Color));
      RECT r{6 + D, top + D, 299 + D, top + (measured.bottom - measured.top) + D};
      if (!TestConfig().NT()) r = RECT{6 + D, D, 299 + D, 30 + D};
      text(r, DT_LEFT | DT_SINGLELINE | (TestConfig().NT() ? 0 : DT_VCENTER));
    };
    if (!Selected) draw(1, COLOR_BTNHIGHLIGHT);
    draw(0, COLOR_BTNSHADOW);
    return s;
  };
  for (bool selected : {false, true}) {
    SCOPED_TRACE(selected ? "selected" : "not selected");
    Surface s(300, 30);
    TRect r{0, 0, 300, 30};
    p.Item->AdvancedDrawItem(&s.Canvas, r, selected ? odSelected : 0, false);
    auto expected = reference(selected);
    int differ = 0;
    for (int y = 0; y < 30; ++y)
      for (int x = 0; x < 300; ++x) differ += s.At(x, y) != expected->At(x, y);
    EXPECT_EQ(differ, 0);
    EXPECT_GE(s.Ink(GetSysColor(COLOR_BTNSHADOW)).first, 6);
  }
}

// Read right to left, a classic pop-up item puts its caption against the right edge and its
// shortcut text in a box as wide as the text, 10 pixels from the left edge.
TEST_F(MenuDrawing, RightToLeftItemsMirrorCaptionAndShortcut) {
  FakeTheme::Active = false;
  TRightToLeftSystem rtl;
  PopupItem p;
  p.Item->SetCaption(kChinese);
  p.Item->SetShortCut(kCtrlO);
  p.Menu.SetOwnerDraw(true);
  HMENU h = static_cast<HMENU>(p.Menu.Handle());
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_DATA;
  ASSERT_TRUE(GetMenuItemInfoW(h, 0, TRUE, &info));
  COLORREF text = GetSysColor(COLOR_MENUTEXT);
  auto draw = [&](TBiDiMode Mode) {
    p.Menu.SetBiDiMode(Mode);
    Surface s(400, 30);
    RECT all{0, 0, s.W, s.H};
    FillRect(s.DC, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DRAWITEMSTRUCT d{ODT_MENU, 0, 0, ODA_DRAWENTIRE, 0, nullptr, s.DC, {0, 0, 300, 30}, info.dwItemData};
    s.Canvas.SetHandle(nullptr);
    SendMessageW(static_cast<HWND>(PopupList->Window()), WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&d));
    return s.Ink(text);
  };
  auto ltr = draw(bdLeftToRight);
  auto rtlInk = draw(bdRightToLeft);
  ASSERT_GE(ltr.first, 0);
  ASSERT_GE(rtlInk.first, 0);
  // Left to right the caption starts after the glyph column and the shortcut ends 10 pixels
  // before the right edge; right to left the shortcut starts 10 pixels in and the caption ends
  // near the right edge.
  EXPECT_GT(ltr.first, 5);
  EXPECT_LE(ltr.second, 290);
  EXPECT_GE(rtlInk.first, 10);
  EXPECT_LE(rtlInk.first, 12);
  EXPECT_GT(rtlInk.second, 280);
  EXPECT_LT(rtlInk.second, 300);
}

// With visual styles, a right-to-left item has its check area at the right end and its caption,
// right-aligned and read right to left, before it.
TEST_F(MenuDrawing, ThemedRightToLeftItemMirrorsCheckAndCaption) {
  TRightToLeftSystem rtl;
  auto images = RedImages(16, 1);
  PopupItem p;
  p.Item->SetCaption(L"\u4e2d\u6587");
  p.Item->SetChecked(true);
  p.Menu.SetImages(images.get());
  p.Menu.SetBiDiMode(bdRightToLeft);
  Surface s(300, 30);
  TRect r{0, 0, 300, 30};
  p.Item->AdvancedDrawItem(&s.Canvas, r, 0, false);
  if (!Themed()) {
    EXPECT_TRUE(FakeTheme::Calls.empty());
    return;
  }
  RECT checkRect{};
  for (auto& b : Backgrounds())
    if (b.Part == 11) checkRect = b.R;
  EXPECT_EQ(checkRect.right, 300);
  EXPECT_EQ(checkRect.right - checkRect.left, 20);
  std::vector<ThemeCall> texts = Texts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[1].Flags & (DT_RIGHT | DT_RTLREADING), (DWORD)(DT_RIGHT | DT_RTLREADING));
  EXPECT_LT(texts[1].R.right, checkRect.left);
  EXPECT_GT(texts[1].R.right, checkRect.left - 30);
}
