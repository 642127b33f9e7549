#include "toolkit/shrControls.h"

#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/LanguageManager.h"
#include "toolkit/RichText.h"
#include "toolkit/TextStyles.h"

namespace {

// The fixed texts of this unit.
struct {
  const wchar_t* RegularSpan = L"<span class=\"Regular\">%s</span>";
} const Msg;

constexpr int TileMargin = 8;           // room around a tile's picture, each side
constexpr int TileImageTop = 2;         // the picture's top inside the tile
constexpr int TileCaptionTop = 120;     // the caption's top inside the tile
constexpr int TileCaptionFontSize = 6;  // minimum size of the caption's font
constexpr TColor TileCaptionColour = 0x333333;
constexpr int HoverFrameMargin = 4;
constexpr uint8_t HoverFrameAlpha = 100;
constexpr uint8_t PressedAlpha = 221, DisabledAlpha = 90;
constexpr int StripFrames = 5;

// The confirmation body's layout.
constexpr TPoint IconPlace{11, 18};
constexpr int TitleLeft = 70, TitleTop = 20, TitleRightGap = 10;
constexpr int MessageGap = 5;
constexpr int CheckLeft = 40, CheckTop = 176, CheckRightGap = 60;
constexpr int TitlePoints = 10, TextPoints = 8;

WideString Text(uint8_t Id) { return LanguageManager ? LanguageManager->GetString(Id) : WideString(); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// TSimpleButton

TSimpleButton::TSimpleButton(uint8_t CaptionId, TImageId ImageId) : fImageId(ImageId), fCaptionId(CaptionId) {
  SetClickable(true);
  fBoundsRect = TRect{0, 0, ImageCache->GetWidth(ImageId) + 2 * TileMargin,
                      ImageCache->GetHeight(ImageId) + 2 * TileMargin};
}

void TSimpleButton::Paint(TCanvas* Canvas) {
  THyperlink::Paint(Canvas);
  const TRect& r = fBoundsRect;
  if (fState == hsHot || fState == hsPressed)
    ImageCache->DrawFrame(Canvas, r, HoverFrameImage, HoverFrameMargin, HoverFrameMargin, HoverFrameMargin,
                          HoverFrameMargin, 0, 0, FrameCenterTiled, true, HoverFrameAlpha);
  int d = fState == hsPressed ? 1 : 0;
  uint8_t alpha = !IsEnabled() ? DisabledAlpha : fState == hsPressed ? PressedAlpha : 255;
  ImageCache->DrawAt(Canvas, fImageId, r.Left + TileMargin + d, r.Top + TileImageTop + d, alpha);
  DrawFocusRect(Canvas);
  WideString caption = Text(fCaptionId);
  // Measured in the font the shadowed text is drawn in.
  SetDefaultFont(Canvas->Font(), TileCaptionFontSize, false, 0, clWhite);
  int w = WideTextWidth(Canvas, caption);
  TRect place{r.Left + GetWidth() / 2 - w / 2, r.Top + TileCaptionTop, r.Right, r.Bottom};
  DrawShadowedText(Canvas, caption, place, TileCaptionFontSize, TileCaptionColour, 0, -1, 0);
}

bool TSimpleButton::DoAnimate() {
  if (fFrameCount == 0) return false;
  fFrameCounter = static_cast<uint32_t>((uint64_t{fFrameCounter} + 1) % (uint64_t{3} * fFrameCount));
  return true;
}

void TSimpleButton::ApplyTexts() {
  TAnimatedHyperlink::ApplyTexts();
  Invalidate();
}

// ---------------------------------------------------------------------------------------------
// TShrStaticBitmapButton

TShrStaticBitmapButton::TShrStaticBitmapButton(TImageId ImageId, bool FiveFrames, int Height, int SrcOffset, int Tag)
    : TBitmapHyperlink(ImageId, Height, SrcOffset, Tag), fFiveFrames(FiveFrames) {
  TPoint s;
  GetImageSize(s);
  fBoundsRect = TRect{0, 0, s.X, s.Y};
}

void TShrStaticBitmapButton::GetImageSize(TPoint& Size) {
  if (!fFiveFrames) {
    TBitmapHyperlink::GetImageSize(Size);
    return;
  }
  Size = TPoint{ImageCache->GetWidth(fImageId),
                fFrameHeight >= 1 ? fFrameHeight : ImageCache->GetHeight(fImageId) / StripFrames};
}

void TShrStaticBitmapButton::Paint(TCanvas* Canvas) {
  if (!fFiveFrames) {
    TBitmapHyperlink::Paint(Canvas);
    return;
  }
  int h = ImageCache->GetHeight(fImageId) / StripFrames;
  int y = fState == hsHot ? h : fState == hsPressed ? 2 * h : 0;
  int w = ImageCache->GetWidth(fImageId);
  ImageCache->Draw(Canvas, fImageId, fBoundsRect.Left, fBoundsRect.Top, w, GetHeight(), 0, y, w, GetHeight(),
                   FrameAlpha());
  DrawFocusRect(Canvas);
}

// ---------------------------------------------------------------------------------------------
// Moving a form by dragging a control on it

bool PostFormMove(TWinControl* Control, TCustomForm* Form, int X, int Y) {
  if (!Form || !Form->HandleAllocated()) return false;
  POINT p{X, Y};
  ClientToScreen(static_cast<HWND>(Control->Handle()), &p);
  ReleaseCapture();
  PostMessageW(static_cast<HWND>(Form->Handle()), WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(p.x, p.y));
  return true;
}

// ---------------------------------------------------------------------------------------------
// TConfirmControl

namespace {

// A rich-text part on a private copy of its default style, Points high, bold or not.
TRichText* MakePart(int Points, TFontStyles Style) {
  auto* part = new TRichText(false, true, false);
  TTextStyle* s = part->DefaultStyle();
  MakePrivate(s);
  HDC screen = GetDC(nullptr);
  int ppi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  s->Own().Size = MulDiv(Points, ppi > 0 ? ppi : 96, 72);
  s->Own().FontStyle = Style;
  s->Own().Mask |= tsmSize | tsmFontStyle;
  s->Update();
  part->SetDefaultStyle(s);
  return part;
}

}  // namespace

TConfirmControl::TConfirmControl(TComponent* AOwner) : THyperlinkControl(AOwner) {
  SetBackgroundStyle(bsSolidColor);
  SetColor(clWhite);
  fTitle = MakePart(TitlePoints, fsBold);
  fMessage = MakePart(TextPoints, 0);
  fCheck = MakePart(TextPoints, 0);
  Root()->AddLinks({fTitle, fMessage, fCheck});
  ApplyTexts();
}

TConfirmControl::~TConfirmControl() = default;

TImageId TConfirmControl::IconImage(uint8_t Kind) {
  switch (Kind) {
    case 0: return InfoIconImage;
    case 1: return WarningIconImage;
    case 2: return QuestionIconImage;
    default: return 0;
  }
}

void TConfirmControl::PaintCopy(TCanvas* Canvas, const TRect& Rect) {
  THyperlinkControl::PaintCopy(Canvas, Rect);
  if (TImageId icon = IconImage(fIconKind)) ImageCache->DrawAt(Canvas, icon, IconPlace.X, IconPlace.Y, 255);
}

void TConfirmControl::RealignRoot() {
  RECT c;
  GetClientRect(static_cast<HWND>(Handle()), &c);
  int left = c.left + TitleLeft, right = c.right - TitleRightGap;
  int top = c.top + TitleTop;
  fTitle->SetBoundsRect(TRect{left, top, right, top + fTitle->GetHeight()});
  top = fTitle->BoundsRect().Bottom + MessageGap;
  fMessage->SetBoundsRect(TRect{left, top, right, top + fMessage->GetHeight()});
  top = c.top + CheckTop;
  fCheck->SetBoundsRect(TRect{c.left + CheckLeft, top, Width() - CheckRightGap, top + fCheck->GetHeight()});
  THyperlinkControl::RealignRoot();
}

// A part's new text may take another height: the parts under it move.
void TConfirmControl::SetTitle(const WideString& Text) {
  fTitle->SetText(WideFormat(Msg.RegularSpan, Text.c_str()));
  if (WindowReady()) Relayout();
}

void TConfirmControl::SetMessage(const WideString& Text) {
  fMessage->SetText(WideFormat(Msg.RegularSpan, Text.c_str()));
  if (WindowReady()) Relayout();
}

void TConfirmControl::SetCheckText(const WideString& MarkUp) {
  fCheck->SetText(MarkUp);
  if (WindowReady()) Relayout();
}

void TConfirmControl::SetIconKind(uint8_t Kind) {
  if (Kind == fIconKind) return;
  fIconKind = Kind;
  if (HandleAllocated()) InvalidateRect(static_cast<HWND>(Handle()), nullptr, FALSE);
}

void TConfirmControl::MouseMove(TShiftState Shift, int X, int Y) {
  THyperlinkControl::MouseMove(Shift, X, Y);
  if (!(Shift & ssLeft) || fMovePosted) return;
  // One move per press: the system's move loop takes the mouse from here on.
  fMovePosted = PostFormMove(this, GetParentForm(this), X, Y);
}

void TConfirmControl::MouseDown(TMouseButton Button, TShiftState Shift, int X, int Y) {
  fMovePosted = false;
  THyperlinkControl::MouseDown(Button, Shift, X, Y);
}
