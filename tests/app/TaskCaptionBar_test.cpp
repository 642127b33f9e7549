// The task windows' caption bar on a 673-pixel-wide form that is its command window: Minimize and
// Close from the real pointer go straight to that window (not through the bus), and nowhere while
// the bus does not exist; the title is painted and repainted only when it changes; the logo and
// the buttons are the skin pictures where they belong, in both language tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChromeWindow.h"
#include "app/TaskCaptionBar.h"
#include "toolkit/HostShots.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/shrControls.h"

namespace {

using chrome::TSpyForm;

class SkinWindowTaskCaption : public chrome::TPointerTest {
 protected:
  void SetUp() override {
    xinput::Park();
    CreateLanguageManager();
    LanguageManager->SetLanguage("en");
    mainForm = std::make_unique<TSpyForm>(nullptr);
    Application->SetMainForm(mainForm.get());
    form = std::make_unique<TSpyForm>(nullptr);
    chrome::SizeClient(form.get(), 60, 60, 673, 509);
    bar = new TTaskCaptionBar(form.get(), form->Handle());
    bar->SetParent(form.get());
    bar->SetAlign(alTop);
    bar->SetBounds(0, 0, 673, 70);
    form->Show();
    xinput::PumpFor(200);
  }
  void TearDown() override {
    form.reset();
    mainForm.reset();
    FreeLanguageManager();
    xinput::PumpFor(20);
  }
  HWND BarWnd() { return static_cast<HWND>(bar->Handle()); }
  capture::TCapture Shoot(const std::wstring& File) {
    bar->Relayout();
    RedrawWindow(BarWnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    xinput::PumpFor(100);
    capture::TCapture shot = capture::CaptureWindow(BarWnd(), true);
    shots::Keep(shot, File);
    return shot;
  }

  std::unique_ptr<TSpyForm> mainForm;
  std::unique_ptr<TSpyForm> form;
  TTaskCaptionBar* bar = nullptr;
};

}  // namespace

TEST_F(SkinWindowTaskCaption, ButtonsSendToTheCommandWindow) {
  EXPECT_EQ(bar->CommandWindow(), form->Handle());
  EXPECT_EQ(bar->BackgroundStyle(), bsSharedBackground);
  EXPECT_EQ(bar->GetOwnerForm(), form.get());
  EXPECT_EQ(chrome::RectText(bar->Parts().Close()->BoundsRect()), "643,0,671,20");
  EXPECT_EQ(chrome::RectText(bar->Parts().Minimize()->BoundsRect()), "615,0,643,20");
  struct {
    const char* What;
    int X, Y;
    bool BusGone;
    std::vector<TSpyForm::TCall> Want;
  } cases[] = {
      {"Minimize", 629, 10, false, {{WM_CAPTION_COMMAND, SC_MINIMIZE, 0}}},
      {"Close", 657, 10, false, {{WM_CAPTION_COMMAND, SC_CLOSE, 0}}},
      {"the title", 200, 35, false, {}},
      {"Close without the bus", 657, 10, true, {}},
      {"Minimize without the bus", 629, 10, true, {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.What);
    TEventManager* bus = EventManager;
    if (c.BusGone) EventManager = nullptr;
    ClickAt(bar, c.X, c.Y);
    xinput::PumpUntil([&] { return !c.Want.empty() && form->Calls.size() >= c.Want.size(); },
                      c.Want.empty() ? 300 : 2000);
    EventManager = bus;
    EXPECT_EQ(form->Calls, c.Want);
    form->Calls.clear();
    EXPECT_TRUE(mainForm->Calls.empty()) << "a command went through the bus";
  }
}

// SetCaption repaints only a new title; a language change repaints; the title is drawn from 75
// pixels in, in glyphs that differ between the tables' window titles; the logo and the buttons
// are the skin pictures over the background picture.
TEST_F(SkinWindowTaskCaption, TitleLogoAndButtonsInBothLanguages) {
  shots::TSkinPicture logo = shots::SkinPicture(10, 48, 48);
  shots::TSkinPicture back = shots::SkinPicture(20, 794, 70);
  shots::TSkinPicture minimize = shots::SkinPicture(21, 28, 100);
  shots::TSkinPicture close = shots::SkinPicture(22, 28, 100);
  ASSERT_TRUE(logo.Rgba && back.Rgba && minimize.Rgba && close.Rgba);
  auto under = [&](int X, int Y) { return shots::Over(back.Premultiplied(X, Y), 0xE4EEF2, 255); };

  capture::TCapture untitled = Shoot(L"task_caption_untitled.bmp");
  std::vector<bool> titles[2];
  int row = 0;
  for (const char* code : {"en", "cz"}) {
    SCOPED_TRACE(code);
    LanguageManager->SetLanguage(code);
    ValidateRect(BarWnd(), nullptr);
    SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_LANGUAGE_CHANGED, 0, 0);
    EXPECT_TRUE(GetUpdateRect(BarWnd(), nullptr, FALSE)) << "no repaint on a language change";

    WideString title = LanguageManager->GetString(18);
    ValidateRect(BarWnd(), nullptr);
    bar->SetCaption(title);
    EXPECT_EQ(bar->Caption(), title);
    EXPECT_TRUE(GetUpdateRect(BarWnd(), nullptr, FALSE)) << "a new title is not repainted";
    ValidateRect(BarWnd(), nullptr);
    bar->SetCaption(title);
    EXPECT_FALSE(GetUpdateRect(BarWnd(), nullptr, FALSE)) << "the same title is repainted";

    capture::TCapture shot = Shoot(L"task_caption_" + std::wstring(code, code + 2) + L".bmp");
    ASSERT_EQ(shot.Width, 673);
    ASSERT_EQ(shot.Height, 70);
    EXPECT_EQ(chrome::PictureMismatches(shot, logo, 10, 10, 48, 48, under, "logo"), 0);
    EXPECT_EQ(chrome::PictureMismatches(shot, minimize, 615, 0, 28, 20, under, "Minimize"), 0);
    EXPECT_EQ(chrome::PictureMismatches(shot, close, 643, 0, 28, 20, under, "Close"), 0);
    // Nothing is drawn between the logo and the title.
    auto before = [&](int x, int y) { return under(58 + x, y); };
    EXPECT_EQ(shots::Mismatches(shot, 58, 0, 17, 70, before, "before the title"), 0);
    titles[row] = shots::InkMask(shot, 75, 15, 400, 40);
    EXPECT_GT(shots::InkCount(titles[row]), 100);
    EXPECT_GT(shots::InkDifference(titles[row], shots::InkMask(untitled, 75, 15, 400, 40)), 100);
    ++row;
  }
  EXPECT_GT(shots::InkDifference(titles[0], titles[1]), 50) << "the two tables' titles look the same";
}
