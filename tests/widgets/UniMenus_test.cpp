// Shortcut texts and hot-key marks of wide captions.
#include <gtest/gtest.h>

#include <memory>

#include "classlib/WinApi.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"

TEST(HotKeys, PositionKeyAndStrippedCaption) {
  struct Case {
    const wchar_t* Caption;
    int Pos;
    const wchar_t* Key;
    const wchar_t* Stripped;
  } cases[] = {
      {L"a&&b&c", 6, L"c", L"a&bc"},
      {L"&a&b", 4, L"b", L"ab"},
      {L"A && B &Exit", 9, L"E", L"A & B Exit"},
      {L"abc&", 0, L"", L"abc"},
      {L"&", 0, L"", L""},
      {L"&&", 0, L"", L"&"},
      {L"", 0, L"", L""},
      {L"\u4fdd\u5b58&\u6587", 4, L"\u6587", L"\u4fdd\u5b58\u6587"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "caption #" << (&c - cases));
    EXPECT_EQ(HotKeyPosOfCaption(c.Caption), c.Pos);
    EXPECT_EQ(HotKeyOfCaption(c.Caption), c.Key);
    EXPECT_EQ(StripHotKeyMarks(c.Caption), c.Stripped);
  }
}

TEST(HotKeys, FarEastBracketedMarkGoesWithItsBrackets) {
  // The Chinese code page is the East Asian system of these runs.
  ASSERT_EQ(SysLocale().FarEast, TestConfig().CodePage == 936);
  const WideString caption = L"\u4fdd\u5b58(&S)";
  if (SysLocale().FarEast) EXPECT_EQ(StripHotKeyMarks(caption), L"\u4fdd\u5b58");
  else EXPECT_EQ(StripHotKeyMarks(caption), L"\u4fdd\u5b58(S)");
  // At the very start it is an ordinary mark.
  EXPECT_EQ(StripHotKeyMarks(L"(&S)"), L"(S)");
}

TEST(HotKeys, SameCaptionIgnoringMarks) {
  EXPECT_TRUE(SameCaptionIgnoringHotKeys(L"&File", L"fi&le"));
  EXPECT_FALSE(SameCaptionIgnoringHotKeysStr(L"&File", L"fi&le"));
  EXPECT_TRUE(SameCaptionIgnoringHotKeysStr(L"&File", L"Fil&e"));
  EXPECT_FALSE(SameCaptionIgnoringHotKeys(L"&File", L"Files"));
}

TEST(HotKeys, SyncHotKeyPosition) {
  struct Case {
    const wchar_t* Source;
    const wchar_t* Dest;
    const wchar_t* Expected;
  } cases[] = {
      {L"&Open", L"Open", L"&Open"},
      {L"O&pen", L"&Open", L"O&pen"},
      {L"a&&b&c", L"a&&bc", L"a&&b&c"},
      // A mark elsewhere in the same text moves to the source's place.
      {L"&Open", L"Op&en", L"&Open"},
      // Equal in 8 bits: nothing to do.
      {L"&Open", L"&Open", L"&Open"},
      // Different captions: left alone.
      {L"&Open", L"Close", L"Close"},
  };
  for (const Case& c : cases) {
    WideString dest = c.Dest;
    SyncHotKeyPosition(c.Source, dest);
    EXPECT_EQ(dest, c.Expected) << "source #" << (&c - cases);
  }
  // A wide caption gets the marks of its 8-bit twin; whatever the code page lacks stays wide.
  WideString wide = L"\u4e2d\u6587 caf\u00e9";
  SyncHotKeyPosition(AnsiToWide(WideToAnsi(L"\u4e2d\u6587 &caf\u00e9")), wide);
  EXPECT_EQ(wide, L"\u4e2d\u6587 &caf\u00e9");
}

TEST(ShortCutTexts, ModifiersInOrderAndKeyNames) {
  struct Case {
    TShortCut ShortCut;
    const wchar_t* Text;
  } cases[] = {
      {scCtrl | scShift | 'A', L"Shift+Ctrl+A"},
      {scAlt | VK_F5, L"Alt+F5"},
      {VK_F24, L"F24"},
      {scCtrl | VK_RETURN, L"Ctrl+Enter"},
      {VK_ESCAPE, L"Esc"},
      {VK_BACK, L"BkSp"},
      {VK_TAB, L"Tab"},
      {VK_SPACE, L"Space"},
      {VK_PRIOR, L"PgUp"},
      {VK_DOWN, L"Down"},
      {VK_INSERT, L"Ins"},
      {scShift | VK_DELETE, L"Shift+Del"},
      {scCtrl | '7', L"Ctrl+7"},
      {scAlt | 'Z', L"Alt+Z"},
      {0, L""},
  };
  for (const Case& c : cases) EXPECT_EQ(ShortCutToWideText(c.ShortCut), c.Text) << "shortcut " << c.ShortCut;
}

TEST(ShortCutTexts, OtherKeysTakeTheKeyboardsNames) {
  // Keys without a fixed name are named by the keyboard layout, wide on NT and 8-bit otherwise.
  char name[256];
  int n = GetKeyNameTextA((LONG)(MapVirtualKeyA(VK_OEM_COMMA, 0) << 16), name, sizeof name);
  ASSERT_GT(n, 0);
  EXPECT_EQ(ShortCutToWideText(scCtrl | VK_OEM_COMMA), L"Ctrl+" + AnsiToWide(AnsiString(name, n)));
}

namespace {
WideString MenuString(void* Menu, UINT Key, UINT Flags) {
  wchar_t buf[256];
  int n = GetMenuStringW(static_cast<HMENU>(Menu), Key, buf, 256, Flags);
  return WideString(buf, (size_t)std::max(n, 0));
}
WideString ExpectedText(const WideString& S) { return TestConfig().NT() ? S : AnsiToWide(WideToAnsi(S)); }
}  // namespace

TEST(UniMenuItems, WideCaptionsAndShortcutsInTheWindowsMenu) {
  TPopupMenu menu(nullptr);
  auto* open = new TUniMenuItem(&menu);
  auto* sub = new TUniMenuItem(&menu);
  auto* inner = new TUniMenuItem(&menu);
  open->SetCaption(L"\u6253\u5f00(&O)");
  open->SetShortCut(scCtrl | 'O');
  open->SetHint(L"\u6253\u5f00|\u6253\u5f00\u6587\u4ef6");
  menu.Items()->Add(open);
  sub->SetCaption(L"caf\u00e9 \u010ce\u0161tina");
  menu.Items()->Add(sub);
  sub->Add(inner);
  inner->SetCaption(L"\u4e2d");
  void* h = menu.Handle();
  EXPECT_EQ(MenuString(h, open->Command(), MF_BYCOMMAND),
            ExpectedText(L"\u6253\u5f00(&O)") + L"\t" + ShortCutToWideText(scCtrl | 'O'));
  EXPECT_EQ(MenuString(h, 1, MF_BYPOSITION), ExpectedText(L"caf\u00e9 \u010ce\u0161tina"));
  EXPECT_EQ(MenuString(sub->Handle(), inner->Command(), MF_BYCOMMAND), ExpectedText(L"\u4e2d"));
  // A later change of one caption keeps the others wide.
  open->SetCaption(L"\u4fdd\u5b58");
  EXPECT_EQ(MenuString(h, 1, MF_BYPOSITION), ExpectedText(L"caf\u00e9 \u010ce\u0161tina"));
  EXPECT_EQ(MenuString(h, 0, MF_BYPOSITION), ExpectedText(L"\u4fdd\u5b58") + L"\t" + ShortCutToWideText(scCtrl | 'O'));
  EXPECT_EQ(LongHintPart(GetMenuItemWideHint(open)), L"\u6253\u5f00\u6587\u4ef6");
  EXPECT_EQ(menu.FindItem(inner->Command(), false), inner);
}

namespace {
// The text of a menu entry through the wide item query.
WideString MenuItemText(void* Menu, UINT Pos) {
  wchar_t buf[256] = L"";
  MENUITEMINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = MIIM_STRING;
  info.dwTypeData = buf;
  info.cch = 256;
  if (!GetMenuItemInfoW(static_cast<HMENU>(Menu), Pos, TRUE, &info)) return L"<none>";
  return WideString(buf, info.cch);
}
}  // namespace

TEST(UniMenuItems, CaptionsSetBeforeTheMenuHasItsWindowAreWrittenWide) {
  const WideString texts[] = {L"\u6587\u4ef6", L"P\u0159\u00edli\u0161 \u05e9\u05dc\u05d5\u05dd", L"caf\u00e9 \u4e2d"};
  for (bool mainMenu : {true, false}) {
    for (bool captionsFirst : {true, false}) {
      SCOPED_TRACE(testing::Message() << (mainMenu ? "menu bar" : "pop-up")
                                      << (captionsFirst ? ", captions before the window" : ", window first"));
      TUniForm form(nullptr);
      std::unique_ptr<TMenu> menu;
      if (mainMenu) menu = std::make_unique<TMainMenu>(nullptr);
      else menu = std::make_unique<TPopupMenu>(nullptr);
      auto* top = new TUniMenuItem(menu.get());
      auto* second = new TUniMenuItem(menu.get());
      auto* inner = new TUniMenuItem(menu.get());
      auto setCaptions = [&] {
        top->SetCaption(texts[0]);
        second->SetCaption(texts[1]);
        inner->SetCaption(texts[2]);
      };
      if (captionsFirst) setCaptions();
      top->Add(inner);
      menu->Items()->Add(top);
      menu->Items()->Add(second);
      // The menu gets its window: the form's bar, or the pop-up's own menu.
      if (mainMenu) {
        form.HandleNeeded();
        form.SetMenu(static_cast<TMainMenu*>(menu.get()));
      } else {
        menu->Handle();
      }
      if (!captionsFirst) setCaptions();
      EXPECT_EQ(MenuItemText(menu->Handle(), 0), ExpectedText(texts[0]));
      EXPECT_EQ(MenuItemText(menu->Handle(), 1), ExpectedText(texts[1]));
      EXPECT_EQ(MenuItemText(top->Handle(), 0), ExpectedText(texts[2]));
      if (mainMenu) form.SetMenu(nullptr);
    }
  }
}

TEST(UniMenuItems, PopupMenuEntriesShowTheirWideHint) {
  ASSERT_NE(PopupList, nullptr);
  EXPECT_STREQ(PopupList->ClassName(), "TUniPopupList");
  TPopupMenu menu(nullptr);
  auto* a = new TUniMenuItem(&menu);
  a->SetCaption(L"A");
  a->SetHint(L"a|\u4e2d\u6587 A");
  menu.Items()->Add(a);
  bool clicked = false;
  a->OnClick = [&](TObject*) { clicked = true; };
  HWND list = static_cast<HWND>(PopupList->Window());
  SendMessageW(list, WM_MENUSELECT, MAKEWPARAM(a->Command(), 0), (LPARAM)menu.Handle());
  EXPECT_EQ(UniApplication->Hint(), L"\u4e2d\u6587 A");
  SendMessageW(list, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);
  EXPECT_EQ(UniApplication->Hint(), L"\u4e2d\u6587 A");
  SendMessageW(list, WM_COMMAND, MAKEWPARAM(a->Command(), 0), 0);
  EXPECT_TRUE(clicked);
  UniApplication->SetHint(L"");
}

TEST(UniMenuItems, KeyboardLayoutChangeRewritesShortcutTextsWhenTheMenuOpens) {
  TPopupMenu menu(nullptr);
  auto* sub = new TUniMenuItem(&menu);
  sub->SetCaption(L"Sub");
  menu.Items()->Add(sub);
  auto* item = new TUniMenuItem(&menu);
  item->SetCaption(L"\u00d6ffnen");
  item->SetShortCut(scCtrl | 'O');
  sub->Add(item);
  menu.Handle();
  HMENU h = static_cast<HMENU>(sub->Handle());
  auto makeStale = [&] {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_TYPE;
    info.fType = MFT_STRING;
    wchar_t stale[] = L"stale";
    info.dwTypeData = stale;
    ASSERT_TRUE(SetMenuItemInfoW(h, item->Command(), FALSE, &info));
  };
  HWND list = static_cast<HWND>(PopupList->Window());
  // The same layout: opening leaves the entry alone.
  makeStale();
  SendMessageW(list, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), 0);
  EXPECT_EQ(MenuString(h, item->Command(), MF_BYCOMMAND), L"stale");
  // Another layout: the entry is written again with the keyboard's names.
  // (The prefix's keyboard driver keeps one layout: the layout the menus see changes instead.)
  std::function<void*()> real = MenuKeyboardLayout;
  MenuKeyboardLayout = [] { return reinterpret_cast<void*>(0x04070407); };
  SendMessageW(list, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(h), 0);
  MenuKeyboardLayout = real;
  EXPECT_EQ(MenuString(h, item->Command(), MF_BYCOMMAND),
            ExpectedText(L"\u00d6ffnen") + L"\t" + ShortCutToWideText(scCtrl | 'O'));
}
