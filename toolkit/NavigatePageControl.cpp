#include "toolkit/NavigatePageControl.h"

#include <algorithm>

#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"
#include "toolkit/LanguageManager.h"

namespace {

// The fixed texts of this unit.
struct {
  const wchar_t* TitleEnd = L":";
} const Msg;

constexpr int BandTop = 8;         // the band starts this far below the element's top
constexpr int BandHeight = 37;     // the band's height (to the strip's bottom)
constexpr int BandRightGap = 8;    // the band ends this far left of the element's right edge
constexpr int BandSourceTop = 120; // the band's first row in the picture
constexpr int BandEdge = 8;        // left and right margins of the nine-slice
constexpr int TextLeft = 10;       // the title's distance from the left edge
constexpr int TextGap = 10;        // between the title and the step text
constexpr int TextRightGap = 10;   // the step text ends this far left of the right edge
constexpr TColor TextColour = 0x666666;

WideString Text(uint8_t Id) { return LanguageManager ? LanguageManager->GetString(Id) : WideString(); }

}  // namespace

void TNavigateTabCaption::Paint(TCanvas* Canvas) {
  const TRect& r = fBoundsRect;
  ImageCache->DrawFrame(Canvas, TRect{r.Left, r.Top + BandTop, r.Left + GetWidth() - BandRightGap, r.Top + BandTop + BandHeight},
                        StepCaptionImage, BandEdge, 0, BandEdge, 0, BandSourceTop, 0, FrameCenterTiled, true, 255);
  HDC dc = static_cast<HDC>(Canvas->Handle());
  int oldMode = SetBkMode(dc, TRANSPARENT);
  SetDefaultFont(Canvas->Font(), StepCaptionFontSize, false, fsBold, TextColour);
  Canvas->RequiredState(csHandleValid | csFontValid);
  SetTextColor(dc, static_cast<COLORREF>(TextColour));
  WideString title = Text(fTitleId) + Msg.TitleEnd;
  int y = r.Top + BandTop + (BandHeight - WideTextHeight(Canvas, title)) / 2;
  int x = r.Left + TextLeft;
  DrawTextLine(Canvas, x, y, title, INT32_MAX);
  x += WideTextWidth(Canvas, title) + TextGap;
  Canvas->Font()->SetStyle(0);
  Canvas->RequiredState(csHandleValid | csFontValid);
  int room = r.Right - TextRightGap - x;
  if (room > 0) DrawTextLine(Canvas, x, y, Text(fStepId), room);
  SetBkMode(dc, oldMode);
}

void TNavigateTabCaption::ApplyTexts() {
  THyperlink::ApplyTexts();
  Invalidate();
}

TNavigateTabCaptionControl::TNavigateTabCaptionControl(TComponent* AOwner) : THyperlinkControl(AOwner) {
  fCaption = new TNavigateTabCaption;
  fCaption->SetClickable(false);
  fCaption->SetEnabled(false);
  SetBackgroundStyle(bsSharedBackground);
  SetBackgroundTranslucency(bt100Percent);
  Root()->InsertLink(fCaption);
  SetBounds(Left(), Top(), Width(), StepStripHeight);
}

void TNavigateTabCaptionControl::SetCaptionIds(uint8_t TitleId, uint8_t StepId) {
  fCaption->SetIds(TitleId, StepId);
  fCaption->Invalidate();
}

void TNavigateTabCaptionControl::RealignRoot() {
  THyperlinkControl::RealignRoot();
  RECT c;
  GetClientRect(static_cast<HWND>(Handle()), &c);
  fCaption->SetBoundsRect(TRect{c.left, c.top, c.right, c.bottom});
}

void TNavigateTabCaptionControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  THyperlinkControl::SetBounds(ALeft, ATop, AWidth, std::max(AHeight, fMinHeight));
}
