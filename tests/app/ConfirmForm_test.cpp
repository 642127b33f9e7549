// The confirmation dialog as a user meets it: the buttons each set shows, their order and focus,
// the answer of each button and of Return, Escape and the window's close, the countdown ticking
// on OK and answering OK when it runs out, the "do not remind me again" tick kept per asking
// place, the dialog coming to the front over other windows, and no handle left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/ConfirmForm.h"
#include "classlib/ExtCtrls.h"
#include "common/WindowCapture.h"
#include "tests/app/AppWindows.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"
#include "unicode/UniSystem.h"
#include "widgets/UniStdCtrls.h"

using appwin::Later;

namespace {

TConfirmForm* Dialog() { return appwin::FindForm<TConfirmForm>(L"lorvuDialogsForm"); }

std::wstring WindowText(TWinControl* Control) {
  HWND w = static_cast<HWND>(Control->Handle());
  wchar_t buf[256] = {};
  GetWindowTextW(w, buf, 256);
  return buf;
}

bool Shown(TWinControl* Control) { return IsWindowVisible(static_cast<HWND>(Control->Handle())) != 0; }

TUniButton* ButtonNamed(TConfirmForm* F, const std::string& Name) {
  if (Name == "OK") return F->BtnOk;
  if (Name == "Yes") return F->BtnYes;
  if (Name == "No") return F->BtnNo;
  return F->BtnCancel;
}

// Does what the user does: clicks a button by name, or presses keys ("key ...").
void Answer(TConfirmForm* F, const std::string& How) {
  if (How.rfind("key ", 0) == 0) {
    SetForegroundWindow(static_cast<HWND>(F->Handle()));
    xinput::Xdo(How);
  } else {
    appwin::Click(ButtonNamed(F, How));
  }
}

class ConfirmDialogWindow : public ::testing::Test {
 protected:
  void SetUp() override { xinput::Park(); }
};

struct TButtonCase {
  uint8_t Set;
  std::vector<std::string> Shown;  // left to right
  std::string Focused;             // empty: none of the four
  std::string Press;               // a button's name or "key ..."
  TModalResult Want;
};

// The lefts the layout table gives for a window W pixels wide.
std::map<std::string, int> WantedLefts(uint8_t Set, int W) {
  auto r = [](double V) { return static_cast<int>(std::lrint(V)); };
  int half = r(W / 2.0);
  switch (Set) {
    case cbsOk: return {{"OK", half - r(75 / 2.0)}};
    case cbsOkCancel: return {{"OK", half - 75 - 5}, {"Cancel", half + 5}};
    case cbsYes: return {{"Yes", half - r(75 / 2.0)}};
    case cbsYesNo: return {{"Yes", half - 75 - 5}, {"No", half + 5}};
    default: {
      int yes = r(W / 3.0) - 75 + 5;
      return {{"Yes", yes}, {"No", yes + 75 + 15}, {"Cancel", yes + 75 + 15 + 75 + 15}};
    }
  }
}

TEST_F(ConfirmDialogWindow, EachButtonSetShowsItsButtonsInOrderAndAnswers) {
  const TButtonCase cases[] = {
      {cbsOk, {"OK"}, "", "OK", mrOk},
      {cbsOk, {"OK"}, "", "key Escape", mrCancel},
      {cbsOkCancel, {"OK", "Cancel"}, "Cancel", "OK", mrOk},
      {cbsOkCancel, {"OK", "Cancel"}, "Cancel", "Cancel", mrCancel},
      {cbsOkCancel, {"OK", "Cancel"}, "Cancel", "key Return", mrCancel},
      {cbsOkCancel, {"OK", "Cancel"}, "Cancel", "key Tab Return", mrOk},
      {cbsYes, {"Yes"}, "", "Yes", mrYes},
      {cbsYesNo, {"Yes", "No"}, "No", "Yes", mrYes},
      {cbsYesNo, {"Yes", "No"}, "No", "No", mrNo},
      {cbsYesNo, {"Yes", "No"}, "No", "key alt+F4", mrCancel},
      {cbsYesNoCancel, {"Yes", "No", "Cancel"}, "Cancel", "Yes", mrYes},
      {cbsYesNoCancel, {"Yes", "No", "Cancel"}, "Cancel", "No", mrNo},
      {cbsYesNoCancel, {"Yes", "No", "Cancel"}, "Cancel", "Cancel", mrCancel},
      {cbsYesNoCancel, {"Yes", "No", "Cancel"}, "Cancel", "key Escape", mrCancel},
  };
  for (const TButtonCase& c : cases) {
    SCOPED_TRACE("set " + std::to_string(c.Set) + ", " + c.Press);
    bool seen = false;
    Later(400, [&] {
      TConfirmForm* f = Dialog();
      ASSERT_NE(f, nullptr);
      seen = true;
      EXPECT_EQ(WindowText(f), L"Tonvale");
      std::map<std::string, int> lefts = WantedLefts(c.Set, f->Width());
      std::vector<std::pair<int, std::string>> shown;
      for (const char* name : {"OK", "Yes", "No", "Cancel"}) {
        TUniButton* b = ButtonNamed(f, name);
        bool want = lefts.count(name) != 0;
        EXPECT_EQ(Shown(b), want) << name;
        if (!want) continue;
        EXPECT_EQ(b->Left(), lefts[name]) << name;
        RECT r;
        GetWindowRect(static_cast<HWND>(b->Handle()), &r);
        POINT p{r.left, r.top};
        ScreenToClient(static_cast<HWND>(f->Handle()), &p);
        EXPECT_EQ(p.x, lefts[name]) << name << " where the window shows it";
        EXPECT_EQ(p.y, 144) << name;
        shown.push_back({p.x, name});
      }
      std::sort(shown.begin(), shown.end());
      std::vector<std::string> order;
      for (auto& s : shown) order.push_back(s.second);
      EXPECT_EQ(order, c.Shown);
      HWND focus = GetFocus();
      if (!c.Focused.empty()) {
        EXPECT_EQ(focus, ButtonNamed(f, c.Focused)->Handle()) << "focused";
      }
      EXPECT_EQ(WindowText(f->BtnOk), L"确定");
      EXPECT_EQ(WindowText(f->BtnYes), L"是");
      EXPECT_EQ(WindowText(f->BtnNo), L"否");
      EXPECT_EQ(WindowText(f->BtnCancel), L"取消");
      EXPECT_FALSE(Shown(f->cbAgain));
      Answer(f, c.Press);
    });
    TModalResult got = ShowQuestionDialog(nullptr, c.Set, L"Tonvale", L"标题", L"消息", -1);
    EXPECT_TRUE(seen);
    EXPECT_EQ(got, c.Want);
    EXPECT_EQ(Dialog(), nullptr) << "the dialog is gone when the call returns";
  }
}

TEST_F(ConfirmDialogWindow, EachEntryPointShowsItsIconKind) {
  using TShow = std::function<TModalResult()>;
  const std::pair<uint8_t, TShow> cases[] = {
      {0, [] { return ShowConfirmDialog(nullptr, 0, cbsOk, L"Tonvale", L"标题", L"消息", -1, false); }},
      {1, [] { return ShowWarningDialog(nullptr, cbsOk, L"Tonvale", L"标题", L"消息", -1); }},
      {2, [] { return ShowQuestionDialog(nullptr, cbsOk, L"Tonvale", L"标题", L"消息", -1); }},
  };
  for (const auto& [kind, show] : cases) {
    uint8_t seen = 255;
    Later(300, [&, kind = kind] {
      TConfirmForm* f = Dialog();
      ASSERT_NE(f, nullptr);
      seen = f->Body->IconKind();
      HWND w = static_cast<HWND>(f->Handle());
      RedrawWindow(w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      xinput::PumpFor(100);
      capture::TCapture shot = capture::CaptureWindow(w, true);
      CreateDirectoryW(L"artefacts", nullptr);
      EXPECT_TRUE(capture::SaveBmp(shot, L"artefacts\\confirm_dialog_kind" + std::to_wstring(kind) + L".bmp"));
      // The message shows under the title, and "确定" is drawn in glyphs, not boxes.
      EXPECT_GT(f->Body->MessagePart()->GetHeight(), 0);
      EXPECT_GE(f->Body->MessagePart()->BoundsRect().Top, f->Body->TitlePart()->BoundsRect().Bottom);
      appwin::TTextInk ok = appwin::TextInk(shot, appwin::InsideOf(w, static_cast<HWND>(f->BtnOk->Handle())));
      EXPECT_GT(ok.Ink, 20);
      EXPECT_GT(ok.ThirdsDiffer, 8);
      appwin::Click(f->BtnOk);
    });
    EXPECT_EQ(show(), mrOk);
    EXPECT_EQ(seen, kind);
  }
}

TEST_F(ConfirmDialogWindow, TheCountdownTicksOnOkAndAnswersOkWhateverButtonsShow) {
  for (uint8_t set : {cbsOkCancel, cbsYesNo}) {
    std::vector<std::wstring> captions;
    Later(300, [&] {
      TConfirmForm* f = Dialog();
      ASSERT_NE(f, nullptr);
      EXPECT_EQ(WindowText(f->BtnOk), L"确定") << "no count before the first tick";
      // A faster clock: ticks of 40 ms instead of a second.
      auto tick = f->Timer1->OnTimer;
      f->Timer1->OnTimer = [&captions, f, tick](TObject* Sender) {
        tick(Sender);
        captions.push_back(WindowText(f->BtnOk));
      };
      f->Timer1->SetInterval(40);
    });
    TModalResult got = ShowQuestionDialog(nullptr, set, L"Tonvale", L"标题", L"", 3);
    EXPECT_EQ(got, mrOk) << "set " << int(set);
    EXPECT_EQ(captions, (std::vector<std::wstring>{L"确定(3)", L"确定(2)", L"确定(1)"}));
  }
}

TEST_F(ConfirmDialogWindow, NoCountdownWithoutATimeout) {
  for (int timeout : {0, -1}) {
    bool stillUp = false;
    Later(300, [&] {
      TConfirmForm* f = Dialog();
      ASSERT_NE(f, nullptr);
      EXPECT_FALSE(f->Timer1->Enabled());
      f->Timer1->SetInterval(20);
      xinput::PumpFor(300);
      stillUp = Dialog() == f && f->ModalResult() == mrNone;
      EXPECT_EQ(WindowText(f->BtnOk), L"确定");
      appwin::Click(f->BtnCancel);
    });
    EXPECT_EQ(ShowQuestionDialog(nullptr, cbsOkCancel, L"Tonvale", L"标题", L"", timeout), mrCancel) << timeout;
    EXPECT_TRUE(stillUp) << timeout;
  }
}

TEST_F(ConfirmDialogWindow, ADoNotRemindTickIsKeptForItsAskingPlaceOnly) {
  TConfirmReminder placeA, placeB;
  Later(300, [&] {
    TConfirmForm* f = Dialog();
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(Shown(f->cbAgain));
    EXPECT_TRUE(f->Body->CheckPart()->IsVisible());
    appwin::Click(f->cbAgain);
    xinput::PumpUntil([&] { return f->cbAgain->Checked(); }, 3000);
    appwin::Click(f->BtnNo);
  });
  EXPECT_EQ(ShowQuestionDialog(nullptr, cbsYesNo, L"Tonvale", L"标题", L"", -1, true, &placeA), mrNo);
  EXPECT_TRUE(placeA.DoNotRemind);

  // Place A is not asked again; its answer stands.
  bool shown = false;
  Later(300, [&] {
    if (TConfirmForm* f = Dialog()) {
      shown = true;
      appwin::Click(f->BtnYes);
    }
  });
  EXPECT_EQ(ShowQuestionDialog(nullptr, cbsYesNo, L"Tonvale", L"标题", L"", -1, true, &placeA), mrNo);
  xinput::PumpFor(500);
  EXPECT_FALSE(shown);

  // Place B still asks, and without a tick keeps asking.
  for (int i = 0; i < 2; ++i) {
    Later(300, [&] {
      TConfirmForm* f = Dialog();
      ASSERT_NE(f, nullptr);
      appwin::Click(f->BtnYes);
    });
    EXPECT_EQ(ShowQuestionDialog(nullptr, cbsYesNo, L"Tonvale", L"标题", L"", -1, true, &placeB), mrYes);
    EXPECT_FALSE(placeB.DoNotRemind);
  }

  // Without the check box the body hides its text.
  Later(300, [&] {
    TConfirmForm* f = Dialog();
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(Shown(f->cbAgain));
    EXPECT_FALSE(f->Body->CheckPart()->IsVisible());
    appwin::Click(f->BtnOk);
  });
  EXPECT_EQ(ShowQuestionDialog(nullptr, cbsOk, L"Tonvale", L"标题", L"", -1), mrOk);
}

HWND other = nullptr;
// Another thread's window, made the foreground window; serves its messages until WM_QUIT.
DWORD WINAPI OtherWindowThread(void* Ready) {
  other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 900, 700, nullptr, nullptr,
                          nullptr, nullptr);
  SetForegroundWindow(other);
  SetEvent(static_cast<HANDLE>(Ready));
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0) > 0) DispatchMessageW(&m);
  return 0;
}

// A window of another thread in front: the dialog still comes to the front.
TEST_F(ConfirmDialogWindow, ComesToTheFrontOverAnotherWindow) {
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD tid = 0;
  HANDLE thread = CreateThread(nullptr, 0, OtherWindowThread, ready, 0, &tid);
  WaitForSingleObject(ready, 5000);
  xinput::PumpFor(300);
  ASSERT_EQ(GetForegroundWindow(), other);
  HWND front = nullptr;
  bool visible = false;
  Later(500, [&] {
    TConfirmForm* f = Dialog();
    ASSERT_NE(f, nullptr);
    front = GetForegroundWindow();
    visible = IsWindowVisible(static_cast<HWND>(f->Handle())) && !IsIconic(static_cast<HWND>(f->Handle()));
    EXPECT_EQ(front, f->Handle());
    appwin::Click(f->BtnOk);
  });
  EXPECT_EQ(ShowQuestionDialog(nullptr, cbsOk, L"Tonvale", L"标题", L"", 60), mrOk);
  EXPECT_TRUE(visible);
  PostThreadMessageW(tid, WM_QUIT, 0, 0);
  PostMessageW(other, WM_CLOSE, 0, 0);
  WaitForSingleObject(thread, 5000);
  CloseHandle(thread);
  CloseHandle(ready);
}

TEST_F(ConfirmDialogWindow, AHundredDialogsLeaveNoHandleBehind) {
  auto once = [] {
    Later(10, [] {
      if (TConfirmForm* f = Dialog()) f->SetModalResult(mrOk);
    });
    ShowQuestionDialog(nullptr, cbsYesNoCancel, L"Tonvale", L"标题", L"消息", 60, true);
  };
  once();  // the first dialog loads the pictures and fonts every later one shares
  xinput::PumpFor(200);
  appwin::TGuiObjects before = appwin::GuiObjects();
  for (int i = 0; i < 100; ++i) once();
  xinput::PumpFor(200);
  appwin::TGuiObjects after = appwin::GuiObjects();
  ASSERT_GT(before.Gdi, 0) << "the GDI objects are counted";
  ASSERT_GT(before.User, 0) << "the windows are counted";
  EXPECT_EQ(after.Gdi, before.Gdi);
  EXPECT_EQ(after.User, before.User);
}

}  // namespace

namespace {
// The counting the handle tests stand on sees objects come and go.
TEST(GuiObjectCount, SeesBrushesAndWindowsComeAndGo) {
  appwin::TGuiObjects before = appwin::GuiObjects();
  std::vector<HBRUSH> brushes;
  for (int i = 0; i < 10; ++i) brushes.push_back(CreateSolidBrush(RGB(i, 2, 3)));
  HWND w = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  appwin::TGuiObjects during = appwin::GuiObjects();
  EXPECT_EQ(during.Gdi, before.Gdi + 10);
  EXPECT_EQ(during.User, before.User + 1);
  for (HBRUSH b : brushes) DeleteObject(b);
  DestroyWindow(w);
  appwin::TGuiObjects after = appwin::GuiObjects();
  EXPECT_EQ(after.Gdi, before.Gdi);
  EXPECT_EQ(after.User, before.User);
}
}  // namespace
