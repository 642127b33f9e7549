// Wide text and hints of controls, Unicode windows and their subclassing.
#include <gtest/gtest.h>

#include <memory>

#include "RightToLeft.h"
#include "classlib/ActnList.h"
#include "classlib/Forms.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "unicode/UniSystem.h"
#include "widgets/UniControls.h"
#include "widgets/UniExtCtrls.h"
#include "widgets/UniForms.h"
#include "widgets/UniMenus.h"
#include "widgets/UniStdCtrls.h"

namespace {
// A windowed control over the system's edit class, as every Unicode control makes its window.
class TTestEdit : public TWinControl {
 public:
  explicit TTestEdit(TComponent* AOwner) : TWinControl(AOwner) { SetBounds(4, 4, 200, 24); }
  const char* ClassName() const override { return "TTestEdit"; }
  int TextChanges = 0;
  std::vector<uintptr_t> CharParams;
  std::function<void(TMessage&)> OnMessage;

  void WndProc(TMessage& M) override {
    if (M.Msg == CM_TEXTCHANGED) ++TextChanges;
    if (M.Msg == WM_CHAR) CharParams.push_back(M.WParam);
    if (OnMessage) OnMessage(M);
    TWinControl::WndProc(M);
  }

 protected:
  void CreateParams(TCreateParams& Params) override {
    TWinControl::CreateParams(Params);
    CreateSubClass(Params, "EDIT");
    Params.Style |= WS_BORDER | ES_AUTOHSCROLL;
  }
  void CreateWindowHandle(const TCreateParams& Params) override { CreateUnicodeWindowHandle(this, Params, L"EDIT"); }
};

// A top-level window with no system class behind it.
class TTestForm : public TCustomForm {
 public:
  explicit TTestForm(TComponent* AOwner) : TCustomForm(AOwner) {}
  const char* ClassName() const override { return "TTestForm"; }

 protected:
  void CreateWindowHandle(const TCreateParams& Params) override { CreateUnicodeWindowHandle(this, Params, L""); }
};

// Windowless.
class TTestLabel : public TControl {
 public:
  using TControl::TControl;
  const char* ClassName() const override { return "TTestLabel"; }
};

// What a text reads as after the platform's path: whole on NT, else through the code page.
WideString Expected(const WideString& S) { return TestConfig().NT() ? S : AnsiToWide(WideToAnsi(S)); }

WideString WindowText(TWinControl* C) {
  HWND h = static_cast<HWND>(C->Handle());
  wchar_t buf[256];
  int n = GetWindowTextW(h, buf, 256);
  return WideString(buf, n);
}

WideString WindowClassName(TWinControl* C) {
  wchar_t buf[256];
  int n = GetClassNameW(static_cast<HWND>(C->Handle()), buf, 256);
  return WideString(buf, n);
}

const WideString kChinese = L"\u4e2d\u6587";
const WideString kLatin1 = L"caf\u00e9 \u00c5ngstr\u00f6m";
}  // namespace

TEST(WideText, WindowIsUnicodeWithTheUnicodeClassName) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  ASSERT_TRUE(edit->HandleAllocated());
  EXPECT_EQ(IsWindowUnicode(static_cast<HWND>(form.Handle())) != 0, TestConfig().NT());
  EXPECT_EQ(IsWindowUnicode(static_cast<HWND>(edit->Handle())) != 0, TestConfig().NT());
  EXPECT_EQ(WindowClassName(&form), TestConfig().NT() ? L"TTestForm.UnicodeClass" : L"TTestForm");
  EXPECT_EQ(WindowClassName(edit), TestConfig().NT() ? L"TTestEdit.UnicodeClass" : L"TTestEdit");
  // The class library finds its control from the window, and a child's id is its handle.
  EXPECT_EQ(FindControl(static_cast<HWND>(edit->Handle())), edit);
  EXPECT_EQ((HWND)GetWindowLongPtrW(static_cast<HWND>(edit->Handle()), GWLP_ID), edit->Handle());
}

TEST(WideText, CaptionsBeforeAndAfterTheWindowReadBack) {
  for (const WideString& text : {kChinese, kLatin1}) {
    for (bool before : {true, false}) {
      SCOPED_TRACE(::testing::Message() << (before ? "before" : "after") << " the window, text " << WideToUtf8(text));
      TTestForm form(nullptr);
      auto* edit = new TTestEdit(&form);
      if (before) {
        SetControlWideText(&form, text);
        SetControlWideText(edit, text + L"!");
      }
      edit->SetParent(&form);
      form.HandleNeeded();
      if (!before) {
        SetControlWideText(&form, text);
        SetControlWideText(edit, text + L"!");
      }
      EXPECT_EQ(WindowText(&form), Expected(text));
      EXPECT_EQ(WindowText(edit), Expected(text + L"!"));
      EXPECT_EQ(GetControlWideText(edit), Expected(text + L"!"));
      // The 8-bit library sees the code page's form.
      EXPECT_EQ(edit->Text(), WideToAnsi(text + L"!"));
      // A new window of the same control shows the same text.
      edit->RecreateWnd();
      EXPECT_EQ(WindowText(edit), Expected(text + L"!"));
      form.RecreateWnd();
      EXPECT_EQ(WindowText(&form), Expected(text));
      EXPECT_EQ(WindowText(edit), Expected(text + L"!"));
    }
  }
}

TEST(WideText, SameTextTwiceChangesOnce) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  edit->TextChanges = 0;
  SetControlWideText(edit, kChinese);
  SetControlWideText(edit, kChinese);
  EXPECT_EQ(edit->TextChanges, 1);
  SetControlWideText(edit, kLatin1);
  EXPECT_EQ(edit->TextChanges, 2);
}

TEST(WideText, WindowlessControlKeepsItsWideShadow) {
  TTestLabel label(nullptr);
  const WideString cyrillic = L"\u0416 label";
  SetControlWideText(&label, cyrillic);
  EXPECT_EQ(GetControlWideText(&label), Expected(cyrillic));
  EXPECT_EQ(label.Caption(), WideToAnsi(cyrillic));
  // Changing the 8-bit caption behind the shadow: the wide caption follows it.
  label.SetCaption("plain");
  EXPECT_EQ(GetControlWideText(&label), L"plain");
}

TEST(WideText, HintsAndTheirParts) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  SetControlWideHint(&form, kChinese + L"|" + kLatin1);
  EXPECT_EQ(GetControlWideHint(&form), Expected(kChinese + L"|" + kLatin1));
  EXPECT_EQ(form.Hint(), WideToAnsi(kChinese + L"|" + kLatin1));
  // A control without a hint shows its parent's.
  EXPECT_EQ(GetWideHintOfControl(edit), Expected(kChinese + L"|" + kLatin1));
  struct Case {
    const wchar_t* Hint;
    const wchar_t* Short;
    const wchar_t* Long;
  } cases[] = {{L"a|b", L"a", L"b"}, {L"ab", L"ab", L"ab"}, {L"|b", L"", L"b"}, {L"a|", L"a", L""}, {L"a|b|c", L"a", L"b|c"}};
  for (const Case& c : cases) {
    EXPECT_EQ(ShortHintPart(c.Hint), c.Short) << WideToUtf8(c.Hint);
    EXPECT_EQ(LongHintPart(c.Hint), c.Long) << WideToUtf8(c.Hint);
  }
}

TEST(WideText, CharMessagePacking) {
  TMessage m{WM_CHAR, 0x4E2D, 0, 0};
  MakeWMCharMsgSafeForAnsi(m);
  EXPECT_EQ(m.WParam, 0x4E2D00FFu);
  EXPECT_EQ(GetWideCharOfCharMessage(m), L'\u4e2d');
  RestoreWMCharMsg(m);
  EXPECT_EQ(m.WParam, 0x4E2Du);
  TMessage latin{WM_CHAR, 0xE9, 0, 0};
  MakeWMCharMsgSafeForAnsi(latin);
  EXPECT_EQ(latin.WParam, 0xE9u);
  SetWideCharOfCharMessage(latin, L'\u00ff');
  EXPECT_EQ(GetWideCharOfCharMessage(latin), L'\u00ff');
  TMessage other{WM_KEYDOWN, 0, 0, 0};
  EXPECT_THROW(MakeWMCharMsgSafeForAnsi(other), EAssertionFailed);
  TMessage high{WM_CHAR, 0x10041, 0, 0};
  EXPECT_THROW(MakeWMCharMsgSafeForAnsi(high), EAssertionFailed);
}

TEST(WideText, WideCharacterThroughTheMessageLoop) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  HWND h = static_cast<HWND>(edit->Handle());
  PostMessageW(h, WM_CHAR, 0x4E2D, 1);
  PostMessageW(h, WM_CHAR, 0xE9, 1);
  Application->ProcessMessages();
  if (TestConfig().NT()) {
    // The 8-bit library sees the packed form; the edit gets the character itself.
    ASSERT_EQ(edit->CharParams.size(), 2u);
    EXPECT_EQ(edit->CharParams[0], 0x4E2D00FFu);
    EXPECT_EQ(WindowText(edit), L"\u4e2d\u00e9");
  } else {
    EXPECT_EQ(GetControlWideText(edit), AnsiToWide(edit->Text()));
    EXPECT_FALSE(edit->Text().empty());
  }
}

TEST(WideText, NotifyFormatAnswersUnicodeForUnicodeChildren) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  HWND child = static_cast<HWND>(edit->Handle());
  EXPECT_EQ(SendMessageW(static_cast<HWND>(form.Handle()), WM_NOTIFYFORMAT, (WPARAM)child, NF_QUERY),
            TestConfig().NT() ? NFR_UNICODE : NFR_ANSI);
  HWND ansi = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, static_cast<HWND>(form.Handle()), nullptr, nullptr, nullptr);
  EXPECT_EQ(SendMessageW(static_cast<HWND>(form.Handle()), WM_NOTIFYFORMAT, (WPARAM)ansi, NF_QUERY), NFR_ANSI);
  DestroyWindow(ansi);
}

TEST(WideText, ExceptionInAWindowProcedureReachesTheApplication) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  edit->OnMessage = [](TMessage& M) {
    if (M.Msg == WM_USER + 7) throw EInvalidOperation("boom");
  };
  auto saved = Application->OnException;
  std::vector<WideString> reported;
  Application->OnException = [&](TObject*, const Exception& E) { reported.push_back(E.Message()); };
  SendMessageW(static_cast<HWND>(edit->Handle()), WM_USER + 7, 0, 0);
  PostMessageW(static_cast<HWND>(edit->Handle()), WM_USER + 7, 0, 0);
  Application->ProcessMessages();
  Application->OnException = saved;
  ASSERT_EQ(reported.size(), 2u);
  EXPECT_EQ(reported[0], L"boom");
  // The window and its text live on.
  SetControlWideText(edit, kLatin1);
  EXPECT_EQ(WindowText(edit), Expected(kLatin1));
}

TEST(WideText, ControlFreedBeforeItsParentLeavesNoTrapBehind) {
  TTestForm form(nullptr);
  for (int i = 0; i < 3; ++i) {
    auto edit = std::make_unique<TTestEdit>(nullptr);
    edit->SetParent(&form);
    form.HandleNeeded();
    SetControlWideText(edit.get(), kChinese);
    EXPECT_EQ(WindowText(edit.get()), Expected(kChinese));
  }
  SetControlWideText(&form, kLatin1);
  EXPECT_EQ(WindowText(&form), Expected(kLatin1));
}

TEST(WideText, HintWindowShowsTheShortPartOfTheWideHint) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  edit->SetParent(&form);
  form.HandleNeeded();
  SetControlWideHint(edit, kChinese + L" caf\u00e9|" + kLatin1);
  THintInfo info;
  info.HintControl = edit;
  info.HintWindowClass = &THintWindow::Class;
  info.HintStr = edit->Hint();
  edit->Perform(CM_HINTSHOW, 0, reinterpret_cast<intptr_t>(&info));
  if (!TestConfig().NT()) {
    // The 8-bit path shows the library's own hint window.
    EXPECT_EQ(info.HintWindowClass, &THintWindow::Class);
    return;
  }
  ASSERT_EQ(info.HintWindowClass, &TUniCustomHintWindow::Class);
  EXPECT_TRUE(IsWideHintData(info.HintData));
  EXPECT_EQ(info.HintStr, WideToAnsi(kChinese + L" caf\u00e9"));
  EXPECT_EQ(GetWideHintText(info), kChinese + L" caf\u00e9");
  std::unique_ptr<THintWindow> window(info.HintWindowClass->Create(nullptr));
  RECT r = window->CalcHintRect(300, info.HintStr, info.HintData);
  RECT expected{0, 0, 300, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  WideString text = kChinese + L" caf\u00e9";
  DrawTextW(dc, text.c_str(), (int)text.size(), &expected, DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  EXPECT_EQ(r.right, expected.right + 6);
  EXPECT_EQ(r.bottom, expected.bottom + 2);
  OffsetRect(&r, 100, 100);
  window->ActivateHintData(r, info.HintStr, info.HintData);
  EXPECT_EQ(WindowText(window.get()), text);
  // A hint an application handler changed shows as that handler left it.
  info.HintStr = "changed";
  EXPECT_EQ(GetWideHintText(info), L"changed");
}

TEST(WideText, HintWithTheActionsShortcutKeepsItsWideText) {
  TTestForm form(nullptr);
  auto* edit = new TTestEdit(&form);
  TAction action(nullptr);
  action.SetShortCut(scCtrl | 'O');
  edit->SetAction(&action);
  SetControlWideHint(edit, kChinese + L" " + kLatin1 + L"|long");
  THintInfo info;
  info.HintControl = edit;
  // The library's hint string for an action with a shortcut.
  info.HintStr = Format("%s (%s)", WideToAnsi(kChinese + L" " + kLatin1).c_str(), ShortCutToText(scCtrl | 'O').c_str());
  const WideString wide = kChinese + L" " + kLatin1 + L" (" + ShortCutToWideText(scCtrl | 'O') + L")";
  EXPECT_EQ(GetWideHintText(info), TestConfig().NT() ? wide : AnsiToWide(info.HintStr));
  ASSERT_NE(Application, nullptr);
  Application->SetHintShortCuts(false);
  EXPECT_EQ(GetWideHintText(info), AnsiToWide(info.HintStr));
  Application->SetHintShortCuts(true);
  // Another shortcut than the action's is not the library's form.
  info.HintStr = Format("%s (%s)", WideToAnsi(kChinese + L" " + kLatin1).c_str(), ShortCutToText(scCtrl | 'P').c_str());
  EXPECT_EQ(GetWideHintText(info), AnsiToWide(info.HintStr));
}

// Reading order: children follow their parent's mode until they get one of their own, and the
// mode gives the drawing flags only on a system that reads right to left.
TEST(ReadingOrder, ChildrenFollowTheParentsMode) {
  TUniForm form(nullptr);
  auto* panel = new TUniPanel(&form);
  panel->SetParent(&form);
  auto* label = new TUniLabel(&form);
  label->SetParent(panel);
  int changes = 0;
  TWindowProcRef own = label->WindowProc;
  label->WindowProc.Method = [&](TMessage& M) {
    changes += M.Msg == CM_BIDIMODECHANGED;
    own.Method(M);
  };
  form.HandleNeeded();
  form.SetBiDiMode(bdRightToLeft);
  EXPECT_EQ(panel->BiDiMode(), bdRightToLeft);
  EXPECT_EQ(label->BiDiMode(), bdRightToLeft);
  EXPECT_EQ(changes, 1);
  // A mode of its own ends following.
  label->SetBiDiMode(bdLeftToRight);
  EXPECT_FALSE(label->ParentBiDiMode());
  form.SetBiDiMode(bdRightToLeftReadingOnly);
  EXPECT_EQ(panel->BiDiMode(), bdRightToLeftReadingOnly);
  EXPECT_EQ(label->BiDiMode(), bdLeftToRight);
  label->SetParentBiDiMode(true);
  EXPECT_EQ(label->BiDiMode(), bdRightToLeftReadingOnly);
  // A control placed later takes its new parent's mode.
  auto* edit = new TUniEdit(&form);
  edit->SetParent(panel);
  EXPECT_EQ(edit->BiDiMode(), bdRightToLeftReadingOnly);
  label->WindowProc = own;
}

TEST(ReadingOrder, DrawFlagsOfEachMode) {
  TUniLabel label(nullptr);
  struct Case {
    bool RightToLeftSystem;
    TBiDiMode Mode;
    UINT Flags, Expected;
    bool Reading, Alignment;
  } cases[] = {
      {true, bdLeftToRight, DT_SINGLELINE, DT_SINGLELINE, false, false},
      {true, bdRightToLeft, 0, DT_RIGHT | DT_RTLREADING, true, true},
      {true, bdRightToLeft, DT_RIGHT, DT_RTLREADING, true, true},
      {true, bdRightToLeft, DT_CENTER, DT_CENTER | DT_RTLREADING, true, true},
      {true, bdRightToLeftNoAlign, 0, DT_RTLREADING, true, false},
      {true, bdRightToLeftReadingOnly, DT_RIGHT, DT_RIGHT | DT_RTLREADING, true, false},
      {false, bdRightToLeft, 0, 0, false, false},
      {false, bdRightToLeftReadingOnly, DT_RIGHT, DT_RIGHT, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "case #" << (&c - cases));
    std::unique_ptr<TRightToLeftSystem> rtl;
    if (c.RightToLeftSystem) rtl = std::make_unique<TRightToLeftSystem>();
    label.SetBiDiMode(c.Mode);
    EXPECT_EQ(label.DrawTextBiDiModeFlags(c.Flags), c.Expected);
    EXPECT_EQ(label.UseRightToLeftReading(), c.Reading);
    EXPECT_EQ(label.UseRightToLeftAlignment(), c.Alignment);
  }
}
