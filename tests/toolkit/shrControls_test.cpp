// The tool tile and the caption-bar button: sizes, the frame animation, and on a real window the
// four states drawn as the pictures blended at their alphas (hot and pressed from the X server's
// pointer), the captions in both language tables. The confirmation body: its icons, its texts
// and a drag that moves its window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HostShots.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/shrControls.h"

namespace {

using shots::InkDifference;
using shots::InkMask;
using shots::Mismatches;
using shots::Over;

class SkinWindowButtons : public shots::TWindowTest {};

class TTileHost : public THyperlinkControl {
 public:
  explicit TTileHost(TComponent* AOwner) : THyperlinkControl(AOwner) { SetColor(clWhite); }
};

constexpr uint32_t White = 0xFFFFFF;

// The hover frame's fill over white: what lies under a hot or pressed tile's picture. The frame's
// fill is one colour from its top edge down (asserted), so it is the same under the whole picture.
uint32_t HoverFill(const shots::TSkinPicture& Frame) {
  EXPECT_EQ(Frame.Premultiplied(8, 2), Frame.Premultiplied(8, 8));
  EXPECT_EQ(Frame.Premultiplied(5, 8), Frame.Premultiplied(8, 8));
  return Over(Frame.Premultiplied(8, 8), White, 100);
}

// The tile picture Image (W x H) of Tile as drawn: shifted by D, at Alpha over Under.
int PictureMismatches(const capture::TCapture& Shot, TSimpleButton* Tile, const shots::TSkinPicture& Image, int W,
                      int H, int D, uint8_t Alpha, uint32_t Under, const std::string& What) {
  TRect r;
  Tile->GetControlRect(r);
  return Mismatches(
      Shot, r.Left + 8 + D, r.Top + 2 + D, W, H,
      [&](int x, int y) { return Over(Image.Premultiplied(x, y), Under, Alpha); }, What);
}

// The 4 x 4 corners of Tile: the hover frame's corners over white at alpha 100, or white.
int CornerMismatches(const capture::TCapture& Shot, TSimpleButton* Tile, const shots::TSkinPicture& Frame, bool Hovered,
                     const std::string& What) {
  TRect r;
  Tile->GetControlRect(r);
  auto corner = [&](int FX, int FY) {
    return [&, FX, FY](int x, int y) { return Hovered ? Over(Frame.Premultiplied(FX + x, FY + y), White, 100) : White; };
  };
  return Mismatches(Shot, r.Left, r.Top, 4, 4, corner(0, 0), What + " top left") +
         Mismatches(Shot, r.Right - 4, r.Bottom - 4, 4, 4, corner(12, 12), What + " bottom right");
}

}  // namespace

TEST(SkinButtons, SizesAndTheFrameAnimation) {
  TSimpleButton icon(6, QuestionIconImage);  // a 48 x 48 picture
  EXPECT_EQ(icon.GetWidth(), 64);
  EXPECT_EQ(icon.GetHeight(), 64);
  EXPECT_TRUE(icon.IsClickable());
  TSimpleButton tile(6, 23);  // 216 x 120
  EXPECT_EQ(tile.GetWidth(), 232);
  EXPECT_EQ(tile.GetHeight(), 136);

  // Without a frame count there is nothing to animate: the timer lets the tile go.
  tile.StartAnimation();
  EXPECT_FALSE(tile.AnimationStep());
  EXPECT_FALSE(tile.Animating());
  EXPECT_EQ(tile.FrameCounter(), 0u);
  // With one, the counter runs round three times the count.
  tile.SetFrameCount(2);
  std::vector<uint32_t> seen;
  for (int i = 0; i < 7; ++i) {
    EXPECT_TRUE(tile.DoAnimate());
    seen.push_back(tile.FrameCounter());
  }
  EXPECT_EQ(seen, (std::vector<uint32_t>{1, 2, 3, 4, 5, 0, 1}));

  // Caption-bar buttons on the 28 x 100 strips.
  struct {
    bool FiveFrames;
    int Height;
    int W, H;
  } cases[] = {{true, 0, 28, 20}, {true, 12, 28, 12}, {false, 0, 9, 100}};
  for (auto& c : cases) {
    TShrStaticBitmapButton b(22, c.FiveFrames, c.Height, 0, 5);
    EXPECT_EQ(b.GetWidth(), c.W) << c.FiveFrames << " " << c.Height;
    EXPECT_EQ(b.GetHeight(), c.H) << c.FiveFrames << " " << c.Height;
    b.MoveTo(TPoint{30, 4});  // moving keeps the size
    EXPECT_EQ(b.GetWidth(), c.W);
    EXPECT_EQ(b.GetHeight(), c.H);
    EXPECT_EQ(b.Tag(), 5);
    EXPECT_TRUE(b.IsClickable());
  }
}

// Tiles of a 48 x 48 picture in each state: the picture at (8, 2) from the tile's corner, one
// pixel further right and down while pressed; alpha 255, 221 pressed, 90 disabled; the hover
// frame (nine-slice, alpha 100) only when hot or pressed. Caption-bar buttons in each state: the
// frame of their state, 20 rows down the strip for each.
TEST_F(SkinWindowButtons, StatesMatchComputedPixels) {
  auto* host = Open<TTileHost>(400, 120);
  shots::TSkinPicture icon = shots::SkinPicture(InfoIconImage, 48, 48);
  shots::TSkinPicture frame = shots::SkinPicture(HoverFrameImage, 16, 16);
  shots::TSkinPicture strip = shots::SkinPicture(21, 28, 100);
  ASSERT_TRUE(icon.Rgba && frame.Rgba && strip.Rgba);
  struct {
    uint8_t State;
    bool Enabled;
    int D;
    uint8_t Alpha;
    bool Hovered;
    int StripY;
  } cases[] = {
      {hsNormal, true, 0, 255, false, 0},
      {hsHot, true, 0, 255, true, 20},
      {hsPressed, true, 1, 221, true, 40},
      {hsNormal, false, 0, 90, false, 0},
  };
  std::vector<TSimpleButton*> tiles;
  std::vector<TShrStaticBitmapButton*> buttons;
  for (int i = 0; i < 4; ++i) {
    tiles.push_back(new TSimpleButton(6, InfoIconImage));
    tiles[i]->MoveTo(TPoint{10 + 80 * i, 10});
    buttons.push_back(new TShrStaticBitmapButton(21, true, 0, 0, i));
    buttons[i]->MoveTo(TPoint{10 + 80 * i, 90});
    host->Root()->AddLinks({tiles[i], buttons[i]});
  }
  for (int i = 0; i < 4; ++i) {
    tiles[i]->SetState(cases[i].State);
    tiles[i]->SetEnabled(cases[i].Enabled);
    buttons[i]->SetState(cases[i].State);
    buttons[i]->SetEnabled(cases[i].Enabled);
  }
  capture::TCapture shot = shots::Shoot(host, L"skin_button_states.bmp");
  uint32_t fill = HoverFill(frame);
  for (int i = 0; i < 4; ++i) {
    auto& c = cases[i];
    std::string what = "state " + std::to_string(i);
    EXPECT_EQ(PictureMismatches(shot, tiles[i], icon, 48, 48, c.D, c.Alpha, c.Hovered ? fill : White, what), 0);
    EXPECT_EQ(CornerMismatches(shot, tiles[i], frame, c.Hovered, what), 0);
    TRect r;
    buttons[i]->GetControlRect(r);
    auto want = [&](int x, int y) { return Over(strip.Premultiplied(x, c.StripY + y), White, c.Enabled ? 255 : 90); };
    EXPECT_EQ(Mismatches(shot, r.Left, r.Top, 28, 20, want, "caption-bar button " + what), 0);
  }
}

// The program's tiles on a window: hot and pressed come from the X server's pointer, a release
// clicks; the captions are the language strings, real glyphs, and a language change shows on the
// tiles without anything else repainting them.
TEST_F(SkinWindowButtons, TilesFromTheRealMouseInBothLanguages) {
  CreateLanguageManager();
  LanguageManager->SetLanguage("en");
  auto* host = Open<TTileHost>(500, 300);
  shots::TSkinPicture picture = shots::SkinPicture(23, 216, 120);
  shots::TSkinPicture frame = shots::SkinPicture(HoverFrameImage, 16, 16);
  ASSERT_TRUE(picture.Rgba && frame.Rgba);
  // Captions: "convert", "split", a window title that differs between the tables, "merge".
  auto* convert = new TSimpleButton(6, 23);
  convert->MoveTo(TPoint{10, 10});
  auto* split = new TSimpleButton(7, 27);
  split->MoveTo(TPoint{260, 10});
  auto* titled = new TSimpleButton(18, 28);
  titled->MoveTo(TPoint{10, 156});
  auto* off = new TSimpleButton(9, 25);
  off->MoveTo(TPoint{260, 156});
  off->SetEnabled(false);
  host->Root()->AddLinks({convert, split, titled, off});
  host->ApplyTexts();
  std::vector<THyperlink*> clicks;
  host->OnLinkClick = [&](TObject*, THyperlink* Link) { clicks.push_back(Link); };

  // The caption band below each picture, where only the caption draws.
  auto caption = [&](const capture::TCapture& Shot, TSimpleButton* Tile) {
    TRect r;
    Tile->GetControlRect(r);
    return InkMask(Shot, r.Left, r.Top + 123, Tile->GetWidth(), 13);
  };
  capture::TCapture en = shots::Shoot(host, L"skin_tiles_en.bmp");
  for (TSimpleButton* t : {convert, split, titled, off})
    EXPECT_GT(shots::InkCount(caption(en, t)), 20) << "caption " << static_cast<int>(t->CaptionId());
  // Two different two-character captions, centred alike: boxes would leave the same ink.
  EXPECT_GT(InkDifference(caption(en, convert), caption(en, split)), 20);

  // Hot, then pressed, under the pointer.
  MoveTo(100, 60);
  ASSERT_TRUE(xinput::PumpUntil([&] { return convert->State() == hsHot; }, 2000));
  capture::TCapture hot = shots::Shoot(host, L"skin_tiles_hot.bmp");
  uint32_t fill = HoverFill(frame);
  EXPECT_EQ(PictureMismatches(hot, convert, picture, 216, 116, 0, 255, fill, "hot"), 0);
  EXPECT_EQ(CornerMismatches(hot, convert, frame, true, "hot"), 0);
  EXPECT_EQ(CornerMismatches(hot, split, frame, false, "beside the hot tile"), 0);
  xinput::Xdo("mousedown 1");
  ASSERT_TRUE(xinput::PumpUntil([&] { return convert->State() == hsPressed; }, 2000));
  capture::TCapture pressed = shots::Shoot(host, L"skin_tiles_pressed.bmp");
  EXPECT_EQ(PictureMismatches(pressed, convert, picture, 216, 116, 1, 221, fill, "pressed"), 0);
  EXPECT_TRUE(clicks.empty());
  xinput::Xdo("mouseup 1");
  ASSERT_TRUE(xinput::PumpUntil([&] { return !clicks.empty(); }, 2000));
  EXPECT_EQ(clicks, std::vector<THyperlink*>{convert});
  // The disabled tile is never hot.
  MoveTo(350, 200);
  ASSERT_TRUE(xinput::PumpUntil([&] { return convert->State() == hsNormal; }, 2000));
  xinput::PumpFor(100);
  EXPECT_EQ(off->State(), hsNormal);
  MoveTo(495, 295);
  xinput::PumpFor(100);

  // The other table: applying the texts repaints the tiles by itself.
  LanguageManager->SetLanguage("cz");
  host->ApplyTexts();
  xinput::PumpFor(200);
  capture::TCapture cz = capture::CaptureWindow(static_cast<HWND>(host->Handle()), true);
  shots::Keep(cz, L"skin_tiles_cz.bmp");
  EXPECT_GT(InkDifference(caption(en, titled), caption(cz, titled)), 20) << "the title caption did not change";
  EXPECT_EQ(InkDifference(caption(en, convert), caption(cz, convert)), 0) << "the same text in both tables";
  FreeLanguageManager();
}

namespace {

class SkinWindowConfirm : public shots::TWindowTest {};

}  // namespace

// The confirmation body on a 347 x 199 window: white, the icon of each kind at (11, 18) and none
// for another kind, the three texts where they belong in both language tables, and a drag on the
// body from the X server's pointer moves the window.
TEST_F(SkinWindowConfirm, IconsTextsAndDraggingFromTheRealMouse) {
  CreateLanguageManager();
  LanguageManager->SetLanguage("en");
  auto* body = Open<TConfirmControl>(347, 199);
  EXPECT_EQ(body->BackgroundStyle(), bsSolidColor);
  EXPECT_EQ(body->Color(), clWhite);
  body->SetTitle(L"x");
  EXPECT_EQ(body->TitlePart()->Text(), L"<span class=\"Regular\">x</span>");
  body->SetCheckText(L"<b>y</b>");
  EXPECT_EQ(body->CheckPart()->Text(), L"<b>y</b>");

  struct {
    uint8_t Kind;
    TImageId Image;
  } kinds[] = {{0, InfoIconImage}, {1, WarningIconImage}, {2, QuestionIconImage}, {3, 0}};
  for (auto& k : kinds) {
    body->SetIconKind(k.Kind);
    capture::TCapture shot = shots::Shoot(body, L"confirm_icon_" + std::to_wstring(k.Kind) + L".bmp");
    shots::TSkinPicture icon;
    if (k.Image) icon = shots::SkinPicture(k.Image, 48, 48);
    auto want = [&](int x, int y) { return k.Image ? Over(icon.Premultiplied(x, y), White, 255) : White; };
    EXPECT_EQ(Mismatches(shot, 11, 18, 48, 48, want, "icon kind " + std::to_string(k.Kind)), 0);
    EXPECT_EQ(Mismatches(shot, 0, 0, 11, 199, [](int, int) { return White; }, "left of the icon"), 0);
  }

  // The dialog's texts: a window title that differs between the tables, a message, the check box.
  std::vector<bool> titles[2];
  int row = 0;
  for (const char* code : {"en", "cz"}) {
    LanguageManager->SetLanguage(code);
    body->SetTitle(LanguageManager->GetString(18));
    body->SetMessage(LanguageManager->GetString(48));
    body->SetCheckText(LanguageManager->GetString(43));
    body->ApplyTexts();
    capture::TCapture shot = shots::Shoot(body, L"confirm_" + std::wstring(code, code + 2) + L".bmp");
    TRect t = body->TitlePart()->BoundsRect(), m = body->MessagePart()->BoundsRect(), c = body->CheckPart()->BoundsRect();
    EXPECT_EQ(t.Left, 70);
    EXPECT_EQ(t.Top, 20);
    EXPECT_EQ(t.Right, 337);
    EXPECT_GT(t.Height(), 8);
    EXPECT_EQ(m.Left, 70);
    EXPECT_EQ(m.Top, t.Bottom + 5);
    EXPECT_EQ(m.Right, 337);
    EXPECT_EQ(c.Left, 40);
    EXPECT_EQ(c.Top, 176);
    EXPECT_EQ(c.Right, 347 - 60);
    for (const TRect& r : {t, m, c}) EXPECT_GT(shots::InkCount(InkMask(shot, r.Left, r.Top, r.Width(), r.Height())), 20);
    titles[row++] = InkMask(shot, 70, 20, 267, t.Height());
  }
  EXPECT_GT(InkDifference(titles[0], titles[1]), 20) << "the title is the same in both tables";

  // Press on the body, move, release: one posted WM_NCLBUTTONDOWN / HTCAPTION to the form, whose
  // window follows the pointer from where the message was posted: the first move's place.
  HWND form = static_cast<HWND>(this->form->Handle());
  POINT pressed = Screen(200, 130);
  MoveTo(200, 130);
  xinput::PumpFor(100);
  shots::TDrag drag = shots::DragFrom(form, pressed, 5000);
  shots::ExpectWindowMoved(drag, form, pressed);
  FreeLanguageManager();
}
