#include "unicode/UniGraphics.h"

#include "classlib/WinApi.h"

TSize WideDCTextExtent(void* DC, const WideString& Text) {
  SIZE s{0, 0};
  if (!GetTextExtentPoint32W(static_cast<HDC>(DC), Text.c_str(), (int)Text.size(), &s)) s = SIZE{0, 0};
  return TSize{s.cx, s.cy};
}

TSize WideCanvasTextExtent(TCanvas* Canvas, const WideString& Text) {
  Canvas->RequiredState(csHandleValid | csFontValid);
  return WideDCTextExtent(Canvas->Handle(), Text);
}

int WideCanvasTextWidth(TCanvas* Canvas, const WideString& Text) { return WideCanvasTextExtent(Canvas, Text).cx; }

int WideCanvasTextHeight(TCanvas* Canvas, const WideString& Text) { return WideCanvasTextExtent(Canvas, Text).cy; }

void WideCanvasTextOut(TCanvas* Canvas, int X, int Y, const WideString& Text) {
  Canvas->Changing();
  Canvas->RequiredState(csHandleValid | csFontValid | csBrushValid);
  if (Canvas->CanvasOrientation() == coRightToLeft) X += WideCanvasTextWidth(Canvas, Text) + 1;
  ExtTextOutW(static_cast<HDC>(Canvas->Handle()), X, Y, (UINT)Canvas->TextFlags(), nullptr, Text.c_str(),
              (UINT)Text.size(), nullptr);
  Canvas->MoveTo(X + WideCanvasTextWidth(Canvas, Text), Y);
  Canvas->Changed();
}
