// Helpers the skin painting relies on: checks of drawing results, operations on premultiplied
// 32-bit BGRA pixels (blue in the low byte, alpha in the high byte, colours never above alpha),
// alpha-blended copies between device contexts with a software fallback, 32-bit bitmap loading,
// supersampled rendering, gradients and text fitting.
#pragma once
#include <cstdint>
#include <functional>

#include "classlib/Graphics.h"

// ---- Result checks: a failed drawing call raises EOutOfResources with the system's message.
[[noreturn]] void RaiseOutOfResources();
void* CheckHandle(void* H);
void CheckBool(bool B);

// ---- One pixel, in place.
void PremultiplyFast(uint32_t& P);
void PremultiplyExact(uint32_t& P);  // floor(c * a / 255)
void MakePixel(uint32_t& P, TColor Color, uint8_t Alpha);
// Color is a plain colour; Overlay a colour with its alpha in the top byte.
void BlendColor(TColor& Color, uint32_t Overlay);
void BlendPremultiplied(uint32_t& Dst, uint32_t Src);  // source over, alpha included
void BlendWithAlpha(uint32_t& Dst, uint32_t Src, uint8_t Alpha);
void SetPixelAlpha(uint32_t& P, uint8_t Alpha);
void PremultiplyFromStraight(uint32_t& Dst, uint32_t Src);

// ---- Pixel loops over the 32-bit DIB sections selected into device contexts.
using TPixelProc = void (*)(uint32_t& Dst, uint32_t Src, void* Data);
// Runs Proc over a W x H rectangle, clipped to both bitmaps on all four sides. False when a
// context holds no 32-bit DIB section (nothing is touched then). SrcDC may be null (Src = 0).
bool ForEachPixel(void* DC, int X, int Y, int W, int H, TPixelProc Proc, void* Data, void* SrcDC = nullptr,
                  int SrcX = 0, int SrcY = 0);
void PremultiplyBitmap(void* Bitmap, int W, int H);
void SetRectAlpha(TCanvas* Canvas, const TRect& Rect, uint8_t Alpha);

// ---- Blending between device contexts.
// The "AlphaBlend" entry of "msimg32.dll"; nullptr without it (the software path is used).
using TAlphaBlendProc = int(__stdcall*)(void*, int, int, int, int, void*, int, int, int, int, uint32_t);
extern TAlphaBlendProc AlphaBlendProc;
bool AlphaDraw(void* DstDC, int X, int Y, uint8_t Alpha, int W, int H, int SrcX, int SrcY, void* SrcDC, int SrcW,
               int SrcH);
bool AlphaDraw(TCanvas* Dst, int X, int Y, uint8_t Alpha, int W, int H, int SrcX, int SrcY, TCanvas* Src, int SrcW,
               int SrcH);
// AlphaDraw at full alpha when AlphaBlendProc exists; false otherwise (copy without blending then).
bool AlphaDrawOpaque(void* DstDC, int X, int Y, int W, int H, int SrcX, int SrcY, void* SrcDC, int SrcW, int SrcH);
// Repeats SrcRect over DstRect, each piece clipped to DstRect.
void TileBitmap(TCanvas* Dst, const TRect& DstRect, TCanvas* Src, bool Transparent, const TRect& SrcRect);

// ---- Loading and generated images (results are HBITMAPs of 32-bit DIB sections).
// 0 when the bitmap resource is missing or empty.
void* LoadBitmapResource32(const wchar_t* Name);
using TPaintProc = std::function<void(TCanvas* Canvas, const TRect& Rect, void* Data)>;
// Paints at Scale times the size, then averages each Scale x Scale block: a pixel whose four
// bytes are 0 counts as not painted; alpha is the painted share. Premultiplied.
void* RenderSupersampled(int Width, int Height, const TPaintProc& PaintProc, void* Data, int Scale);

// Solid bands from Color1 to Color2, top to bottom (or left to right); the last band ends exactly
// at the edge.
void GradientFill(TCanvas* Canvas, const TRect& Rect, TColor Color1, TColor Color2, bool Horizontal);

// ---- Text.
void SetDefaultFont(TFont* Font, int Size, bool ExactSize, TFontStyles Style, TColor Colour);
using TTextMeasure = std::function<int(const WideString& Text)>;
// The longest prefix that fits with "..." after it (or the whole text when it fits).
void FitTextWithEllipsis(const TTextMeasure& Measure, const WideString& Text, int MaxWidth, WideString& Result);
void FitTextWithEllipsis(TCanvas* Canvas, const WideString& Text, int MaxWidth, WideString& Result);
int WideTextWidth(TCanvas* Canvas, const WideString& Text);
int WideTextHeight(TCanvas* Canvas, const WideString& Text);
void DrawTextLine(TCanvas* Canvas, int X, int Y, const WideString& Text, int MaxWidth);
void DrawHighlightedText(TCanvas* Canvas, int X, int Y, int HighlightStart, int HighlightLength,
                         const WideString& Text, int MaxWidth);
void DrawShadowedText(TCanvas* Canvas, const WideString& Text, const TRect& Rect, int MinFontSize, TColor Colour,
                      TFontStyles FontStyle, int HighlightStart, int HighlightLength);

// Loads msimg32 ("AlphaBlend") and starts GDI+; the reverse at shutdown.
void AlphaGraphicsInitialize();
void AlphaGraphicsFinalize();
