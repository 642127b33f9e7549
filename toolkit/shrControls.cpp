#include "toolkit/shrControls.h"

#include "classlib/Forms.h"
#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/LanguageManager.h"

namespace {

constexpr int TileMargin = 8;           // room around a tile's picture, each side
constexpr int TileImageTop = 2;         // the picture's top inside the tile
constexpr int TileCaptionTop = 120;     // the caption's top inside the tile
constexpr int TileCaptionFontSize = 6;  // minimum size of the caption's font
constexpr TColor TileCaptionColour = 0x333333;
constexpr int HoverFrameMargin = 4;
constexpr uint8_t HoverFrameAlpha = 100;
constexpr uint8_t PressedAlpha = 221, DisabledAlpha = 90;
constexpr int StripFrames = 5;

HDC DC(TCanvas* C) { return static_cast<HDC>(C->Handle()); }

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
