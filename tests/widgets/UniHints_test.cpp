// The application's hint timer: a control the mouse rests on shows its wide hint.
#include <gtest/gtest.h>

#include "classlib/Forms.h"
#include "unicode/TestConfig.h"
#include "unicode/UniSysUtils.h"
#include "widgets/UniControls.h"
#include "widgets/UniForms.h"
#include "widgets/UniStdCtrls.h"

namespace {
const WideString kShort = L"\u4e2d\u6587 caf\u00e9";
const WideString kHint = kShort + L"|\u957f long";

// What the hint window shows: the wide text on NT, else what the code page keeps of it.
WideString Shown(const WideString& Text) { return TestConfig().NT() ? Text : AnsiToWide(WideToAnsi(Text)); }

WideString WindowText(HWND H) {
  wchar_t buf[256];
  int n = GetWindowTextW(H, buf, 256);
  return WideString(buf, n > 0 ? n : 0);
}

// Serves messages (timers included) until Done holds or a guard timer of ten seconds fires.
template <class Pred>
bool PumpUntil(Pred Done) {
  DWORD start = GetTickCount();
  UINT_PTR guard = SetTimer(nullptr, 0, 10000, nullptr);
  while (!Done() && GetTickCount() - start < 10000) Application->HandleMessage();
  KillTimer(nullptr, guard);
  return Done();
}

POINT CentreOf(TWinControl* C) {
  RECT r;
  GetWindowRect(static_cast<HWND>(C->Handle()), &r);
  return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// A form with a button that has the wide hint and an edit without a hint; the mouse (the hint
// code's cursor) is put where a test moves it.
struct HintFixture : ::testing::Test {
  TUniForm form{nullptr};
  TUniButton* button = nullptr;
  TUniEdit* edit = nullptr;
  POINT cursor{0, 0};
  std::function<POINT()> savedCursor = HintCursorPos;

  void SetUp() override {
    form.SetBounds(60, 60, 320, 160);
    button = new TUniButton(&form);
    button->SetBounds(10, 10, 120, 30);
    button->SetCaption(L"OK");
    button->SetHint(kHint);
    button->SetShowHint(true);
    button->SetParent(&form);
    edit = new TUniEdit(&form);
    edit->SetBounds(10, 60, 120, 24);
    edit->SetParent(&form);
    form.Show();
    Application->ProcessMessages();
    Application->SetHintPause(20);
    Application->SetHintShortPause(10);
    Application->SetHintHidePause(60000);
    HintCursorPos = [this] { return cursor; };
  }
  void TearDown() override {
    Application->CancelHint();
    Application->SetMouseControl(nullptr);
    HintCursorPos = savedCursor;
    Application->SetHintPause(500);
    Application->SetHintShortPause(50);
    Application->SetHintHidePause(2500);
  }
  // The mouse comes to rest on the control.
  void MoveTo(TWinControl* C) {
    cursor = CentreOf(C);
    POINT client = cursor;
    ScreenToClient(static_cast<HWND>(C->Handle()), &client);
    PostMessageW(static_cast<HWND>(C->Handle()), WM_MOUSEMOVE, 0, MAKELPARAM(client.x, client.y));
  }
  bool HintShows() const {
    THintWindow* w = Application->HintWindow();
    return w && w->HandleAllocated() && IsWindowVisible(static_cast<HWND>(w->Handle()));
  }
};
}  // namespace

TEST_F(HintFixture, RestingMouseShowsTheShortPartOfTheWideHint) {
  MoveTo(button);
  ASSERT_TRUE(PumpUntil([&] { return HintShows(); })) << "no hint window after the pause";
  HWND h = static_cast<HWND>(Application->HintWindow()->Handle());
  EXPECT_EQ(WindowText(h), Shown(kShort));
  EXPECT_EQ(IsWindowUnicode(h) != 0, TestConfig().NT());
  EXPECT_EQ(Application->MouseControl(), button);
  // Below the mouse.
  RECT r;
  GetWindowRect(h, &r);
  EXPECT_GT(r.top, cursor.y);
  // The status hint is the long part.
  EXPECT_EQ(UniApplication->Hint(), Shown(L"\u957f long"));
}

TEST_F(HintFixture, HintHidesAfterItsPauseAndLeavingOrAKeyCancels) {
  Application->SetHintHidePause(30);
  MoveTo(button);
  ASSERT_TRUE(PumpUntil([&] { return HintShows(); }));
  // The hide pause ends it, and resting on the same control brings it back only after leaving.
  ASSERT_TRUE(PumpUntil([&] { return !Application->HintWindow(); }));
  EXPECT_EQ(Application->HintControl(), button);
  MoveTo(button);
  Application->ProcessMessages();
  EXPECT_EQ(Application->HintWindow(), nullptr);

  Application->SetHintHidePause(60000);
  MoveTo(edit);
  Application->ProcessMessages();
  EXPECT_EQ(Application->HintControl(), nullptr);
  EXPECT_EQ(Application->MouseControl(), edit);
  MoveTo(button);
  ASSERT_TRUE(PumpUntil([&] { return HintShows(); }));
  PostMessageW(static_cast<HWND>(button->Handle()), WM_KEYDOWN, VK_SHIFT, 0);
  Application->ProcessMessages();
  EXPECT_EQ(Application->HintWindow(), nullptr);
  EXPECT_EQ(Application->HintControl(), nullptr);
}

TEST_F(HintFixture, MouseGoneBeforeThePauseEndsShowsNothing) {
  MoveTo(button);
  Application->ProcessMessages();
  ASSERT_EQ(Application->HintControl(), button);
  // The mouse is elsewhere when the timer fires (no move message came).
  cursor = CentreOf(edit);
  ASSERT_TRUE(PumpUntil([&] { return !Application->HintControl(); }));
  EXPECT_EQ(Application->HintWindow(), nullptr);
}

TEST_F(HintFixture, ControlFreedWhileItsHintWaitsOrShows) {
  MoveTo(button);
  Application->ProcessMessages();
  ASSERT_EQ(Application->HintControl(), button);
  delete button;
  EXPECT_EQ(Application->HintControl(), nullptr);
  EXPECT_EQ(Application->MouseControl(), nullptr);
  auto* other = new TUniButton(&form);
  other->SetBounds(150, 10, 120, 30);
  other->SetHint(L"x");
  other->SetShowHint(true);
  other->SetParent(&form);
  MoveTo(other);
  ASSERT_TRUE(PumpUntil([&] { return HintShows(); }));
  delete other;
  EXPECT_EQ(Application->HintWindow(), nullptr);
  Application->ProcessMessages();
}

TEST_F(HintFixture, ExceptionWhileAskingTheControlReachesTheHandler) {
  auto* raising = new TUniButton(&form);
  raising->SetBounds(150, 10, 120, 30);
  raising->SetHint(L"x");
  raising->SetShowHint(true);
  raising->SetParent(&form);
  TWindowProcRef own = raising->WindowProc;
  raising->WindowProc.Method = [&](TMessage& M) {
    if (M.Msg == CM_HINTSHOW) throw Exception(L"hint failed");
    own.Method(M);
  };
  WideString reported;
  Application->OnException = [&](TObject*, const Exception& E) { reported = E.Message(); };
  MoveTo(raising);
  EXPECT_TRUE(PumpUntil([&] { return !reported.empty(); }));
  Application->OnException = nullptr;
  EXPECT_EQ(reported, L"hint failed");
  EXPECT_EQ(Application->HintWindow(), nullptr);
  raising->WindowProc = own;
}
