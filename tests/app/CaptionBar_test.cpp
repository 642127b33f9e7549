// The main window's chrome on a window laid out as the program's main window (794 x 471 client:
// caption bar and tip bar at the top, status bar at the bottom, tool box filling the rest), the
// form standing in as the application's main form and recording what the bus hands it. The real
// pointer hovers and clicks the tiles, the window buttons and the status link, and drags the
// boards; screenshots in both language tables are kept and checked.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ChromeWindow.h"
#include "ShellRecorder.h"
#include "app/CaptionBar.h"
#include "app/UrlHandlerU.h"
#include "toolkit/HostShots.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"

namespace {

using chrome::TSpyForm;
using shots::InkCount;
using shots::InkDifference;
using shots::InkMask;
using shots::Mismatches;
using shots::Over;

constexpr uint32_t Board = 0xE4EEF2;  // the shared background (TColor 0xF2EEE4) as 0xRRGGBB
constexpr int ToolBoxTop = 100;       // caption bar 70 + tip bar 30

// The tiles' places in the tool box (convert, split, cut, merge, record) and their hover texts.
struct TTileCase {
  const char* Name;
  int Left, Top;
  uint8_t HoverTextId;
  int ToolId;
  TImageId Image;
};
constexpr TTileCase TileCases[] = {
    {"convert", 20, 30, 12, 10, 23}, {"split", 296, 30, 13, 11, 27}, {"cut", 552, 30, 14, 12, 28},
    {"merge", 20, 198, 15, 13, 25},  {"record", 296, 198, 16, 14, 26},
};
// A tile's middle, in tool-box coordinates.
POINT TileMiddle(const TTileCase& T) { return POINT{T.Left + 116, T.Top + 60}; }

// The main window: the four boards as the program's main form lays them out, the tool box's
// hover shown in the status bar, every hover change recorded.
class SkinWindowMainChrome : public chrome::TPointerTest {
 protected:
  void SetUp() override {
    xinput::Park();
    CreateLanguageManager();
    LanguageManager->SetLanguage("en");
    form = std::make_unique<TSpyForm>(nullptr);
    chrome::SizeClient(form.get(), 40, 40, 794, 471);
    Application->SetMainForm(form.get());
    auto place = [&](TMainBoard* B, TAlign Align, int Top, int Height) {
      B->SetParent(form.get());
      B->SetAlign(Align);
      B->SetBounds(0, Top, 794, Height);
    };
    caption = new TCaptionBar(form.get());
    place(caption, alTop, 0, 70);
    tip = new TTipBar(form.get());
    place(tip, alTop, caption->Height(), 30);
    status = new TStatusBar(form.get());
    place(status, alBottom, form->Height(), 30);
    tools = new TToolBox(form.get());
    place(tools, alClient, caption->Height() + tip->Height(), 341);
    tools->OnHover = [this](TObject* Sender) {
      EXPECT_EQ(Sender, tools);
      hovers.push_back(tools->HoverTextId());
      status->SetText(LanguageManager->GetString(tools->HoverTextId()));
    };
    form->Show();
    xinput::PumpFor(200);
  }
  void TearDown() override {
    form.reset();
    FreeLanguageManager();
    xinput::PumpFor(20);
  }
  TSimpleButton* Tile(int I) { return tools->Tile(I); }
  // The commands the form got since the last call.
  std::vector<TSpyForm::TCall> TakeCalls() {
    auto calls = form->Calls;
    form->Calls.clear();
    return calls;
  }
  // The form's client area as drawn, kept as artefacts\File.
  capture::TCapture Shoot(const std::wstring& File) {
    for (TMainBoard* b : std::initializer_list<TMainBoard*>{caption, tip, tools, status}) b->Relayout();
    RedrawWindow(static_cast<HWND>(form->Handle()), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    xinput::PumpFor(100);
    capture::TCapture shot = capture::CaptureWindow(static_cast<HWND>(form->Handle()), true);
    shots::Keep(shot, File);
    return shot;
  }

  std::unique_ptr<TSpyForm> form;
  TCaptionBar* caption = nullptr;
  TTipBar* tip = nullptr;
  TToolBox* tools = nullptr;
  TStatusBar* status = nullptr;
  std::vector<int> hovers;
};

}  // namespace

// The layout the main form gives the boards, and where each board puts its elements.
TEST_F(SkinWindowMainChrome, BoardsAndElementsWhereTheyBelong) {
  RECT c;
  GetClientRect(static_cast<HWND>(form->Handle()), &c);
  ASSERT_EQ(c.right, 794);
  ASSERT_EQ(c.bottom, 471);
  struct {
    TMainBoard* Board;
    int Top, Height;
  } boards[] = {{caption, 0, 70}, {tip, 70, 30}, {tools, 100, 341}, {status, 441, 30}};
  for (auto& b : boards) {
    SCOPED_TRACE(b.Board->ClassName());
    EXPECT_EQ(b.Board->Top(), b.Top);
    EXPECT_EQ(b.Board->Height(), b.Height);
    EXPECT_EQ(b.Board->Width(), 794);
    EXPECT_EQ(b.Board->BackgroundStyle(), bsSharedBackground);
    EXPECT_EQ(b.Board->BackgroundTranslucency(), bt100Percent);
    EXPECT_EQ(b.Board->GetOwnerForm(), form.get());
    ASSERT_NE(b.Board->EventSource(), nullptr);
  }
  // Close 2 pixels in from the right edge, Minimize directly left of it, both one frame high.
  EXPECT_EQ(chrome::RectText(caption->Parts().Close()->BoundsRect()), "764,0,792,20");
  EXPECT_EQ(chrome::RectText(caption->Parts().Minimize()->BoundsRect()), "736,0,764,20");
  // The tiles: the places of the table, each the picture plus 8 pixels each way; they join the
  // root in the order convert, merge, split, cut, record.
  for (int i = 0; i < TToolBox::TileCount; ++i) {
    SCOPED_TRACE(TileCases[i].Name);
    const TRect& r = Tile(i)->BoundsRect();
    EXPECT_EQ(chrome::RectText(r), chrome::RectText(TRect{TileCases[i].Left, TileCases[i].Top, TileCases[i].Left + 232,
                                                          TileCases[i].Top + 136}));
    EXPECT_EQ(Tile(i)->ImageId(), TileCases[i].Image);
    EXPECT_EQ(Tile(i)->CaptionId(), 6 + i);
    EXPECT_EQ(TToolBox::ToolId(i), TileCases[i].ToolId);
  }
  std::vector<TBaseHyperlink*> order;
  for (TBaseHyperlink* l = tools->Root()->FirstChild(); l; l = l->Next()) order.push_back(l);
  EXPECT_EQ(order, (std::vector<TBaseHyperlink*>{Tile(0), Tile(3), Tile(1), Tile(2), Tile(4)}));
  // The status link: 15 pixels in, 4 down, up to 50 pixels before the right edge.
  const TRect& link = status->Link()->BoundsRect();
  EXPECT_EQ(link.Left, 15);
  EXPECT_EQ(link.Top, 4);
  EXPECT_EQ(link.Right, 744);
  EXPECT_EQ(status->Link()->Text(),
            L"<a href=\"kvplug?url:http://www.example.com/\">http://www.example.com/</a>");
  EXPECT_TRUE(status->Link()->IsVisible());
  EXPECT_EQ(tools->HoverTextId(), 0);
}

// Hovering each tile shows its description in the status bar and leaving it brings the link
// back; from one tile straight onto the next the text changes once per tile; leaving the tool box
// straight from a tile, into another board or out of the window, clears the description.
TEST_F(SkinWindowMainChrome, HoverDescriptionsFromTheRealMouse) {
  auto shows = [&](uint8_t Id) {
    return xinput::PumpUntil(
        [&] { return tools->HoverTextId() == Id && status->HintText() == LanguageManager->GetString(Id); }, 3000);
  };
  for (const TTileCase& t : TileCases) {
    SCOPED_TRACE(t.Name);
    hovers.clear();
    POINT m = TileMiddle(t);
    MoveTo(tools, m.x, m.y);
    ASSERT_TRUE(shows(t.HoverTextId)) << "hover id " << int(tools->HoverTextId());
    EXPECT_FALSE(status->HintText().empty());
    EXPECT_FALSE(status->Link()->IsVisible());
    // An empty place of the tool box, right of the lower row.
    MoveTo(tools, 700, 260);
    ASSERT_TRUE(shows(0));
    EXPECT_TRUE(status->Link()->IsVisible());
    EXPECT_EQ(hovers, (std::vector<int>{t.HoverTextId, 0}));
  }

  // Tile to tile, the pointer jumping from middle to middle.
  hovers.clear();
  for (const TTileCase& t : TileCases) {
    POINT m = TileMiddle(t);
    MoveTo(tools, m.x, m.y);
    ASSERT_TRUE(shows(t.HoverTextId)) << t.Name;
  }
  xinput::PumpFor(300);
  EXPECT_EQ(hovers, (std::vector<int>{12, 13, 14, 15, 16}));

  // Straight from a tile into the tip bar, and straight out of the window.
  struct {
    const char* Where;
    TWinControl* Target;
    int X, Y;
  } leaves[] = {{"into the tip bar", tip, 100, 15}, {"out of the window", form.get(), 794 + 150, 200}};
  for (auto& l : leaves) {
    SCOPED_TRACE(l.Where);
    POINT m = TileMiddle(TileCases[0]);
    MoveTo(tools, m.x, m.y);
    ASSERT_TRUE(shows(12));
    hovers.clear();
    MoveTo(l.Target, l.X, l.Y);
    EXPECT_TRUE(shows(0)) << "hover id " << int(tools->HoverTextId()) << ", status text "
                          << WideToUtf8(status->HintText());
    EXPECT_TRUE(status->Link()->IsVisible());
    EXPECT_EQ(hovers, std::vector<int>{0});
  }
}

// A click on each tile sends WM_OPEN_TASK with its tool id, Minimize and Close send
// WM_CAPTION_COMMAND, all through the bus to the main form; clicks on empty places send nothing.
TEST_F(SkinWindowMainChrome, ClicksReachTheMainFormThroughTheBus) {
  struct {
    const char* What;
    TWinControl* Board;
    int X, Y;
    std::vector<TSpyForm::TCall> Want;
  } cases[] = {
      {"convert", tools, 136, 90, {{WM_OPEN_TASK, 10, 0}}},
      {"split", tools, 412, 90, {{WM_OPEN_TASK, 11, 0}}},
      {"cut", tools, 668, 90, {{WM_OPEN_TASK, 12, 0}}},
      {"merge", tools, 136, 258, {{WM_OPEN_TASK, 13, 0}}},
      {"record", tools, 412, 258, {{WM_OPEN_TASK, 14, 0}}},
      {"empty tool box", tools, 700, 260, {}},
      {"Minimize", caption, 750, 10, {{WM_CAPTION_COMMAND, SC_MINIMIZE, 0}}},
      {"Close", caption, 778, 10, {{WM_CAPTION_COMMAND, SC_CLOSE, 0}}},
      {"empty caption bar", caption, 500, 40, {}},
      {"tip bar", tip, 400, 15, {}},
      {"status bar", status, 600, 15, {}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.What);
    ClickAt(c.Board, c.X, c.Y);
    xinput::PumpUntil([&] { return !c.Want.empty() && form->Calls.size() >= c.Want.size(); },
                      c.Want.empty() ? 300 : 2000);
    EXPECT_EQ(TakeCalls(), c.Want);
  }
  EXPECT_TRUE(IsWindowVisible(static_cast<HWND>(form->Handle())));
}

// A click on the status link reaches the link commands, which open the maker's address.
TEST_F(SkinWindowMainChrome, StatusLinkOpensTheAddress) {
  TUrlHandler handler;
  TShellRecorder shell;
  const TRect& r = status->Link()->BoundsRect();
  ClickAt(status, r.Left + 20, (r.Top + r.Bottom) / 2);
  const auto calls = shell.Wait(10000);
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0], "open|http://www.example.com/");
  EXPECT_TRUE(TakeCalls().empty());
}

// Pressing on an empty place of any board and dragging moves the window with the pointer: one
// posted WM_NCLBUTTONDOWN / HTCAPTION at the first move's place. A press on a tile and the same
// drag, released on the tile, move nothing: it is the tile's click.
TEST_F(SkinWindowMainChrome, DraggingABoardMovesTheWindow) {
  HWND wnd = static_cast<HWND>(form->Handle());
  struct {
    const char* What;
    TMainBoard* Board;
    int X, Y;
    bool Moves;
    std::vector<TSpyForm::TCall> Want;
  } cases[] = {
      {"caption bar", caption, 450, 40, true, {}},
      {"tip bar", tip, 600, 15, true, {}},
      {"tool box", tools, 700, 260, true, {}},
      {"status bar", status, 600, 15, true, {}},
      {"a tile", tools, 136, 90, false, {{WM_OPEN_TASK, 10, 0}}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.What);
    POINT pressed = Screen(c.Board, c.X, c.Y);
    MoveTo(c.Board, c.X, c.Y);
    xinput::PumpFor(150);
    shots::TDrag drag = shots::DragFrom(wnd, pressed, c.Moves ? 5000 : 1200);
    if (c.Moves) {
      shots::ExpectWindowMoved(drag, wnd, pressed);
    } else {
      EXPECT_TRUE(drag.Posted.empty());
      EXPECT_EQ(drag.After.left, drag.Before.left);
      EXPECT_EQ(drag.After.top, drag.Before.top);
    }
    EXPECT_EQ(TakeCalls(), c.Want);
  }
}

// However many moves come with the button held before the system's move loop takes over, a press
// posts one move of the window; the next press posts the next. Moves without the button, and
// moves after a press on a tile, post none. (Sent messages: the real pointer's moves are taken
// by the move loop at once and cannot pile up on cue.)
TEST_F(SkinWindowMainChrome, OneWindowMoveAPress) {
  HWND wnd = static_cast<HWND>(form->Handle());
  auto send = [](TWinControl* Board, UINT Msg, WPARAM Keys, int X, int Y) {
    SendMessageW(static_cast<HWND>(Board->Handle()), Msg, Keys, MAKELPARAM(X, Y));
  };
  // Takes the posted moves off the queue without running them.
  auto posted = [&] {
    int n = 0;
    MSG m;
    while (PeekMessageW(&m, wnd, WM_NCLBUTTONDOWN, WM_NCLBUTTONDOWN, PM_REMOVE)) {
      EXPECT_EQ(m.wParam, static_cast<WPARAM>(HTCAPTION));
      ++n;
    }
    return n;
  };
  struct {
    const char* What;
    TMainBoard* Board;
    int X, Y;
    WPARAM Keys;
    bool Press;
    int Want;
  } cases[] = {
      {"caption bar, button held", caption, 450, 40, MK_LBUTTON, true, 1},
      {"the next press", caption, 450, 40, MK_LBUTTON, true, 1},
      {"status bar, button held", status, 600, 15, MK_LBUTTON, true, 1},
      {"no button", tools, 700, 260, 0, false, 0},
      {"a tile pressed", tools, 136, 90, MK_LBUTTON, true, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.What);
    if (c.Press) send(c.Board, WM_LBUTTONDOWN, MK_LBUTTON, c.X, c.Y);
    for (int i = 1; i <= 3; ++i) send(c.Board, WM_MOUSEMOVE, c.Keys, c.X + 5 * i, c.Y + 2 * i);
    EXPECT_EQ(posted(), c.Want);
    if (c.Press) send(c.Board, WM_LBUTTONUP, 0, c.X + 15, c.Y + 6);
    EXPECT_EQ(posted(), 0);
  }
  TakeCalls();  // the tile's press and release may be its click
}

// A language change reaches every board through the bus: three repaint, the status bar sets its
// link again. The window in both language tables: the logo, the caption background and buttons,
// the tiles and the status background are the skin pictures where they belong; the title, the
// tip lines, the tile captions and the version are ink, the captions real glyphs.
TEST_F(SkinWindowMainChrome, ScreenshotsInBothLanguages) {
  shots::TSkinPicture logo = shots::SkinPicture(10, 48, 48);
  shots::TSkinPicture back = shots::SkinPicture(20, 794, 70);
  shots::TSkinPicture minimize = shots::SkinPicture(21, 28, 100);
  shots::TSkinPicture close = shots::SkinPicture(22, 28, 100);
  shots::TSkinPicture statusBack = shots::SkinPicture(29, 794, 30);
  ASSERT_TRUE(logo.Rgba && back.Rgba && minimize.Rgba && close.Rgba && statusBack.Rgba);
  auto caption_under = [&](int X, int Y) { return Over(back.Premultiplied(X, Y), Board, 255); };

  for (const char* code : {"en", "cz"}) {
    SCOPED_TRACE(code);
    LanguageManager->SetLanguage(code);
    status->Link()->SetText(L"x");
    for (TWinControl* b : std::initializer_list<TWinControl*>{caption, tip, tools, status})
      ValidateRect(static_cast<HWND>(b->Handle()), nullptr);
    SendMessageW(static_cast<HWND>(EventManager->Handle()), WM_LANGUAGE_CHANGED, 0, 0);
    for (TWinControl* b : std::initializer_list<TWinControl*>{caption, tip, tools})
      EXPECT_TRUE(GetUpdateRect(static_cast<HWND>(b->Handle()), nullptr, FALSE)) << b->ClassName() << " not repainted";
    EXPECT_EQ(status->Link()->Text(),
              L"<a href=\"kvplug?url:http://www.example.com/\">http://www.example.com/</a>");

    capture::TCapture shot = Shoot(L"main_window_" + std::wstring(code, code + 2) + L".bmp");
    ASSERT_EQ(shot.Width, 794);
    ASSERT_EQ(shot.Height, 471);
    // Caption bar: the logo at (10, 10) over the background picture; the picture right of the
    // title; Minimize and Close in their normal frames.
    EXPECT_EQ(chrome::PictureMismatches(shot, logo, 10, 10, 48, 48, caption_under, "logo"), 0);
    EXPECT_EQ(Mismatches(shot, 420, 0, 300, 70, [&](int x, int y) { return caption_under(420 + x, y); }, "caption"), 0);
    EXPECT_EQ(chrome::PictureMismatches(shot, minimize, 736, 0, 28, 20, caption_under, "Minimize"), 0);
    EXPECT_EQ(chrome::PictureMismatches(shot, close, 764, 0, 28, 20, caption_under, "Close"), 0);
    auto beside = [&](int x, int y) { return caption_under(792 + x, y); };
    EXPECT_EQ(Mismatches(shot, 792, 0, 2, 70, beside, "beside Close"), 0);
    // Tiles: each picture 8 pixels in and 2 down from its place, over the board's colour.
    for (const TTileCase& t : TileCases) {
      shots::TSkinPicture p = shots::SkinPicture(t.Image, 216, 120);
      ASSERT_TRUE(p.Rgba);
      EXPECT_EQ(chrome::PictureMismatches(shot, p, t.Left + 8, ToolBoxTop + t.Top + 2, 216, 116,
                                          [](int, int) { return Board; }, t.Name),
                0);
    }
    // Status bar: its picture where no text is drawn.
    auto status_back = [&](int x, int y) { return Over(statusBack.Premultiplied(300 + x, y), Board, 255); };
    EXPECT_EQ(Mismatches(shot, 300, 441, 400, 30, status_back, "status"), 0);

    // Texts: the title, both tip lines, the tile captions, the link and the version.
    EXPECT_GT(InkCount(InkMask(shot, 75, 20, 330, 35)), 100) << "title";
    EXPECT_GT(InkCount(InkMask(shot, 20, 70, 125, 30)), 50) << "tip title";
    EXPECT_EQ(InkCount(InkMask(shot, 148, 70, 2, 30)), 0) << "the tip title runs into the second line";
    EXPECT_GT(InkCount(InkMask(shot, 150, 70, 400, 30)), 50) << "tip line";
    std::vector<bool> captions[TToolBox::TileCount];
    for (int i = 0; i < TToolBox::TileCount; ++i) {
      captions[i] = InkMask(shot, TileCases[i].Left, ToolBoxTop + TileCases[i].Top + 123, 232, 13);
      EXPECT_GT(InkCount(captions[i]), 20) << TileCases[i].Name << " caption";
    }
    // "convert" and "split": two different two-character captions, centred alike; boxes would
    // leave the same ink.
    EXPECT_GT(InkDifference(captions[0], captions[1]), 20);
    EXPECT_GT(InkCount(InkMask(shot, 15, 441, 250, 30)), 30) << "link";
    EXPECT_GT(InkCount(InkMask(shot, 744, 441, 50, 30)), 10) << "version";
  }
}

// A hint replaces the link and shows as ink; an empty hint brings the link back.
TEST_F(SkinWindowMainChrome, StatusHintReplacesTheLink) {
  status->SetText(LanguageManager->GetString(13));
  EXPECT_FALSE(status->Link()->IsVisible());
  capture::TCapture hinted = Shoot(L"main_window_hint.bmp");
  status->SetText(L"");
  EXPECT_TRUE(status->Link()->IsVisible());
  capture::TCapture plain = Shoot(L"main_window_link.bmp");
  std::vector<bool> a = InkMask(hinted, 10, 441, 700, 30), b = InkMask(plain, 10, 441, 700, 30);
  EXPECT_GT(InkCount(a), 50);
  EXPECT_GT(InkDifference(a, b), 50) << "the hint and the link look the same";
  // The version stays.
  EXPECT_EQ(InkDifference(InkMask(hinted, 744, 441, 50, 30), InkMask(plain, 744, 441, 50, 30)), 0);
}
