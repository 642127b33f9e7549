// Unicode actions: wide captions and hints reach linked controls.
#include <gtest/gtest.h>

#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include <algorithm>

#include "classlib/WinApi.h"
#include "classlib/Buttons.h"
#include "classlib/ComCtrls.h"
#include "widgets/UniActnList.h"
#include "widgets/UniButtons.h"
#include "widgets/UniComCtrls.h"
#include "widgets/UniForms.h"
#include "widgets/UniStdCtrls.h"

namespace {
WideString Expected(const WideString& S) { return TestConfig().NT() ? S : AnsiToWide(WideToAnsi(S)); }

WideString WindowText(TWinControl* C) {
  wchar_t buf[256];
  int n = GetWindowTextW(static_cast<HWND>(C->Handle()), buf, 256);
  return WideString(buf, n);
}

// A windowless 8-bit client that reads the action's wide caption whenever its text changes.
class TWatchingLabel : public TControl {
 public:
  TWatchingLabel(TComponent* AOwner, TBasicAction* Action) : TControl(AOwner), FWatched(Action) {}
  std::vector<WideString> Seen;
  void WndProc(TMessage& M) override {
    TControl::WndProc(M);
    if (M.Msg == CM_TEXTCHANGED) Seen.push_back(GetActionWideCaption(FWatched));
  }

 private:
  TBasicAction* FWatched;
};
}  // namespace

TEST(UniActions, WideCaptionAndHintReachALinkedButton) {
  TUniForm form(nullptr);
  TUniAction action(nullptr);
  action.SetCaption(L"Old");
  auto* button = new TUniButton(&form);
  button->SetParent(&form);
  form.HandleNeeded();
  button->SetAction(&action);
  EXPECT_EQ(WindowText(button), L"Old");
  action.SetCaption(L"\u4e2d\u6587");
  action.SetHint(L"\u010ce\u0161tina|long");
  EXPECT_EQ(WindowText(button), Expected(L"\u4e2d\u6587"));
  EXPECT_EQ(action.Caption(), L"\u4e2d\u6587");
  EXPECT_EQ(action.TAction::Caption(), WideToAnsi(L"\u4e2d\u6587"));
  EXPECT_EQ(button->Hint(), Expected(L"\u010ce\u0161tina|long"));
  // Linked while the button holds the action's caption; on the 8-bit path a caption the code page
  // cannot hold no longer equals the action's wide caption.
  EXPECT_EQ(IsControlCaptionStored(button), Expected(L"\u4e2d\u6587") != L"\u4e2d\u6587");
  // A caption set on the button itself unlinks it.
  button->SetCaption(L"own");
  EXPECT_TRUE(IsControlCaptionStored(button));
  action.SetCaption(L"again");
  EXPECT_EQ(WindowText(button), L"own");
}

TEST(UniActions, ExplicitCaptionStaysWhenDefaultsAreChecked) {
  TUniForm form(nullptr);
  TUniAction action(nullptr);
  action.SetCaption(L"\u4e2d\u6587");
  action.SetHint(L"hint");
  auto* button = new TUniButton(&form);
  button->SetCaption(L"mine");
  ApplyActionWideTexts(button, &action, true);
  EXPECT_EQ(button->Caption(), L"mine");
  EXPECT_EQ(button->Hint(), L"hint");
  auto* empty = new TUniButton(&form);
  ApplyActionWideTexts(empty, &action, true);
  EXPECT_EQ(empty->Caption(), Expected(L"\u4e2d\u6587"));
}

TEST(UniActions, ClientsReadTheOldCaptionDuringAChange) {
  TUniAction action(nullptr);
  action.SetCaption(L"caf\u00e9 \u4e2d");
  TWatchingLabel label(nullptr, &action);
  label.SetAction(&action);
  label.Seen.clear();
  action.SetCaption(L"new \u6587");
  ASSERT_FALSE(label.Seen.empty());
  EXPECT_EQ(label.Seen.front(), L"caf\u00e9 \u4e2d");
  EXPECT_EQ(GetActionWideCaption(&action), L"new \u6587");
  // A copy takes the wide texts.
  TUniAction copy(nullptr);
  copy.Assign(&action);
  EXPECT_EQ(copy.Caption(), L"new \u6587");
}

TEST(UniActions, EachControlKindGetsItsUnicodeLink) {
  TUniForm form(nullptr);
  TUniAction action(nullptr);
  action.SetCaption(L"Open");
  auto* listView = new TUniListView(&form);
  auto* bitBtn = new TUniBitBtn(&form);
  auto* button = new TUniButton(&form);
  auto* edit = new TUniEdit(&form);
  auto* label = new TUniLabel(&form);
  struct Case {
    TControl* Control;
    const char* Link;
  } cases[] = {
      {listView, "TUniListViewActionLink"}, {bitBtn, "TUniBitBtnActionLink"}, {button, "TUniButtonActionLink"},
      {edit, "TUniWinControlActionLink"},   {label, "TUniControlActionLink"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Link);
    c.Control->SetAction(&action);
    ASSERT_NE(c.Control->ActionLink(), nullptr);
    EXPECT_STREQ(c.Control->ActionLink()->ClassName(), c.Link);
    EXPECT_EQ(GetControlWideText(c.Control), L"Open");
  }
  action.SetCaption(L"\u010ce\u0161tina \u6587");
  action.SetHint(L"\u4e2d");
  for (const Case& c : cases) {
    // A list view shows no text of its own; its hint is linked as the others' texts.
    if (c.Control == listView) EXPECT_EQ(listView->Hint(), Expected(L"\u4e2d"));
    else EXPECT_EQ(GetControlWideText(c.Control), Expected(L"\u010ce\u0161tina \u6587")) << c.Link;
  }
  EXPECT_TRUE(bitBtn->ActionLink()->IsImageIndexLinked());
  EXPECT_FALSE(button->ActionLink()->IsImageIndexLinked());
}

namespace {
// Library controls that take the Unicode links, as a Unicode control class would make them.
class TWideSpeedButton : public TSpeedButton {
 public:
  using TSpeedButton::TSpeedButton;

 protected:
  std::unique_ptr<TControlActionLink> CreateActionLink() override {
    return SelectWideActionLinkClass(this, TSpeedButton::CreateActionLink().get());
  }
};

class TWideToolButton : public TToolButton {
 public:
  using TToolButton::TToolButton;

 protected:
  std::unique_ptr<TControlActionLink> CreateActionLink() override {
    return SelectWideActionLinkClass(this, TToolButton::CreateActionLink().get());
  }
};

WideString ToolButtonText(TToolBar* Bar, TToolButton* Button) {
  wchar_t buf[256] = {};
  LRESULT n = SendMessageW(static_cast<HWND>(Bar->Handle()), TB_GETBUTTONTEXTW, Button->CommandId(),
                           reinterpret_cast<LPARAM>(buf));
  return n > 0 ? WideString(buf, (size_t)n) : WideString();
}
}  // namespace

// Every kind of library control: the link the library makes for it, and the Unicode link chosen
// for it, which derives from exactly that class. A speed button is chosen before the bitmap
// button and a tool button before the button controls.
TEST(UniActions, SelectionTableOverEveryControlKind) {
  TForm form(nullptr);
  TAction action(nullptr);
  struct Case {
    TControl* Control;
    const char* LibraryLink;
    const char* WideLink;
  } cases[] = {
      {new TCustomListView(&form), "TListViewActionLink", "TUniListViewActionLink"},
      {new TSpeedButton(&form), "TSpeedButtonActionLink", "TUniSpeedButtonActionLink"},
      {new TBitBtn(&form), "TBitBtnActionLink", "TUniBitBtnActionLink"},
      {new TToolButton(&form), "TToolButtonActionLink", "TUniToolButtonActionLink"},
      {new TButton(&form), "TButtonActionLink", "TUniButtonActionLink"},
      {new TCustomCheckBox(&form), "TButtonActionLink", "TUniButtonActionLink"},
      {new TEdit(&form), "TWinControlActionLink", "TUniWinControlActionLink"},
      {new TToolBar(&form), "TWinControlActionLink", "TUniWinControlActionLink"},
      {new TCustomLabel(&form), "TControlActionLink", "TUniControlActionLink"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.WideLink);
    c.Control->SetAction(&action);
    ASSERT_NE(c.Control->ActionLink(), nullptr);
    EXPECT_STREQ(c.Control->ActionLink()->ClassName(), c.LibraryLink);
    EXPECT_STREQ(SelectWideActionLinkClass(c.Control, c.Control->ActionLink())->ClassName(), c.WideLink);
    EXPECT_STREQ(SelectWideActionLinkClass(c.Control)->ClassName(), c.WideLink);
  }
  // A speed button's link, given for a bitmap button or a tool button, is not the parent class.
  TControlActionLink* speedLink = cases[1].Control->ActionLink();
  EXPECT_THROW(SelectWideActionLinkClass(cases[2].Control, speedLink), EAssertionFailed);
  EXPECT_THROW(SelectWideActionLinkClass(cases[3].Control, speedLink), EAssertionFailed);
}

TEST(UniActions, WideCaptionAndHintReachSpeedAndToolButtons) {
  TUniForm form(nullptr);
  TUniAction action(nullptr);
  action.SetCaption(L"Open");
  auto* speed = new TWideSpeedButton(&form);
  speed->SetParent(&form);
  auto* bar = new TToolBar(&form);
  bar->SetParent(&form);
  auto* tool = new TWideToolButton(&form);
  tool->SetParent(bar);
  form.HandleNeeded();
  speed->SetAction(&action);
  tool->SetAction(&action);
  EXPECT_STREQ(speed->ActionLink()->ClassName(), "TUniSpeedButtonActionLink");
  EXPECT_STREQ(tool->ActionLink()->ClassName(), "TUniToolButtonActionLink");
  EXPECT_EQ(ToolButtonText(bar, tool), L"Open");

  const WideString caption = L"\u6253\u5f00 caf\u00e9 \u010ce\u0161tina";
  action.SetCaption(caption);
  action.SetHint(L"\u4e2d|\u6253\u5f00\u6587\u4ef6");
  for (TControl* c : {(TControl*)speed, (TControl*)tool}) {
    SCOPED_TRACE(c->ClassName());
    EXPECT_EQ(GetControlWideText(c), Expected(caption));
    EXPECT_EQ(GetControlWideHint(c), Expected(L"\u4e2d|\u6253\u5f00\u6587\u4ef6"));
    // Linked while the control holds the action's caption (lost on the 8-bit path).
    EXPECT_EQ(IsControlCaptionStored(c), Expected(caption) != caption);
  }
  // The tool bar's window shows the 8-bit form of the caption.
  EXPECT_EQ(ToolButtonText(bar, tool), AnsiToWide(WideToAnsi(caption)));
  // Images: speed buttons count the index as linked and take none; tool buttons do not link it.
  action.SetImageIndex(3);
  EXPECT_TRUE(speed->ActionLink()->IsImageIndexLinked());
  EXPECT_FALSE(tool->ActionLink()->IsImageIndexLinked());
}

// Speed buttons of a group stay down when clicked and raise the others; tool buttons report the
// tool bar's commands as clicks.
TEST(UniActions, SpeedButtonGroupsAndToolBarClicks) {
  TForm form(nullptr);
  auto* a = new TSpeedButton(&form);
  auto* b = new TSpeedButton(&form);
  auto* single = new TSpeedButton(&form);
  for (TSpeedButton* s : {a, b}) {
    s->SetParent(&form);
    s->SetGroupIndex(1);
  }
  single->SetParent(&form);
  a->Click();
  EXPECT_TRUE(a->Down());
  b->Click();
  EXPECT_TRUE(b->Down());
  EXPECT_FALSE(a->Down());
  b->Click();
  EXPECT_TRUE(b->Down()) << "without AllowAllUp one button of the group stays down";
  b->SetAllowAllUp(true);
  b->Click();
  EXPECT_FALSE(b->Down());
  single->SetDown(true);
  EXPECT_FALSE(single->Down()) << "a button outside a group cannot be down";

  auto* bar = new TToolBar(&form);
  bar->SetParent(&form);
  auto* first = new TToolButton(&form);
  first->SetCaption("One");
  first->SetParent(bar);
  form.HandleNeeded();
  auto* second = new TToolButton(&form);
  second->SetParent(bar);
  second->SetCaption("Two");
  int clicks = 0;
  second->OnClick = [&](TObject* Sender) { clicks += Sender == second; };
  HWND barWnd = static_cast<HWND>(bar->Handle());
  EXPECT_EQ(SendMessageA(barWnd, TB_BUTTONCOUNT, 0, 0), 2);
  EXPECT_EQ(ToolButtonText(bar, first), L"One");
  EXPECT_EQ(ToolButtonText(bar, second), L"Two");
  SendMessageA(static_cast<HWND>(form.Handle()), WM_COMMAND, MAKEWPARAM(second->CommandId(), 0), (LPARAM)barWnd);
  EXPECT_EQ(clicks, 1);
  delete first;
  EXPECT_EQ(SendMessageA(barWnd, TB_BUTTONCOUNT, 0, 0), 1);
  EXPECT_EQ(second->Index(), 0);
}

TEST(UniActions, UnicodeLinkMustDeriveFromTheLibrarysLink) {
  TUniButton button(nullptr);
  TButtonActionLink buttonLink(&button);
  TWinControlActionLink winLink(&button);
  EXPECT_STREQ(SelectWideActionLinkClass(&button, &buttonLink)->ClassName(), "TUniButtonActionLink");
  EXPECT_THROW(SelectWideActionLinkClass(&button, &winLink), EAssertionFailed);
}

TEST(UniActions, MenuItemTakesTheWideCaptionAndRunsTheAction) {
  TPopupMenu menu(nullptr);
  TUniAction action(nullptr);
  action.SetCaption(L"\u6253\u5f00");
  action.SetHint(L"\u4e2d|\u6253\u5f00\u6587\u4ef6");
  action.SetShortCut(scCtrl | 'O');
  int runs = 0;
  action.OnExecute = [&](TObject*) { ++runs; };
  auto* item = new TUniMenuItem(&menu);
  menu.Items()->Add(item);
  item->SetAction(&action);
  ASSERT_NE(item->ActionLink(), nullptr);
  EXPECT_STREQ(item->ActionLink()->ClassName(), "TUniMenuActionLink");
  EXPECT_EQ(item->Caption(), L"\u6253\u5f00");
  EXPECT_EQ(item->Hint(), L"\u4e2d|\u6253\u5f00\u6587\u4ef6");
  EXPECT_EQ(item->ShortCut(), scCtrl | 'O');
  wchar_t buf[256];
  int n = GetMenuStringW(static_cast<HMENU>(menu.Handle()), item->Command(), buf, 256, MF_BYCOMMAND);
  EXPECT_EQ(WideString(buf, (size_t)std::max(n, 0)), Expected(L"\u6253\u5f00") + L"\t" + ShortCutToWideText(scCtrl | 'O'));
  // A hot-key mark of the item's own does not unlink the caption.
  item->SetCaption(L"\u6253&\u5f00");
  action.SetCaption(L"caf\u00e9 \u010ce\u0161tina");
  EXPECT_EQ(item->Caption(), L"caf\u00e9 \u010ce\u0161tina");
  item->SetCaption(L"other");
  action.SetCaption(L"again");
  EXPECT_EQ(item->Caption(), L"other");
  SendMessageW(static_cast<HWND>(PopupList->Window()), WM_COMMAND, MAKEWPARAM(item->Command(), 0), 0);
  EXPECT_EQ(runs, 1);
}
