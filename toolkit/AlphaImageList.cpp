#include "toolkit/AlphaImageList.h"

#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"

TAlphaImageList::TAlphaImageList(TComponent* AOwner) : TCustomImageList(AOwner), FStrip(std::make_unique<TBitmap>()) {
  FStrip->SetPixelFormat(pf32bit);
}

TAlphaImageList::~TAlphaImageList() = default;

void TAlphaImageList::SetSize(int AWidth, int AHeight) {
  TCustomImageList::SetSize(AWidth, AHeight);
  FCount = 0;
}

int TAlphaImageList::Add(TBitmap* Image, TBitmap* Mask) {
  Assert(Image != nullptr && !Image->Empty());
  if (FStrip->GetHeight() != Height()) FStrip->SetHeight(Height());
  if (FStrip->GetWidth() < (FCount + 1) * Width()) FStrip->SetWidth((FCount + AllocBy()) * Width());
  HDC strip = static_cast<HDC>(FStrip->Canvas()->Handle());
  HDC source = static_cast<HDC>(Image->Canvas()->Handle());
  CheckBool(BitBlt(strip, FCount * Width(), 0, Image->GetWidth(), Image->GetHeight(), source, 0, 0, SRCCOPY));
  ++FCount;
  return TCustomImageList::Add(Image, Mask);
}

void TAlphaImageList::DoDraw(int Index, TCanvas* Canvas, int X, int Y, uint32_t, bool Enabled) {
  if (Index < 0 || Index >= FCount) return;
  if (Canvas->Brush()->Color() == clMenuHighlight) {
    HBRUSH b = CreateSolidBrush(static_cast<COLORREF>(ColorToRGB(clHighlight)));
    RECT r{X - 1, Y - 1, X + Width() + 3, Y + Height() + 2};
    FillRect(static_cast<HDC>(Canvas->Handle()), &r, b);
    DeleteObject(b);
  }
  AlphaDraw(Canvas, X, Y, Enabled ? 255 : 90, Width(), Height(), Index * Width(), 0, FStrip->Canvas(), Width(),
            Height());
}
