// Wide text on a canvas, always through the wide GDI calls.
#pragma once
#include "classlib/Graphics.h"

void WideCanvasTextOut(TCanvas* Canvas, int X, int Y, const WideString& Text);
TSize WideCanvasTextExtent(TCanvas* Canvas, const WideString& Text);
int WideCanvasTextWidth(TCanvas* Canvas, const WideString& Text);
int WideCanvasTextHeight(TCanvas* Canvas, const WideString& Text);
// The size of Text in the font selected into DC; (0, 0) when the call fails.
TSize WideDCTextExtent(void* DC, const WideString& Text);
