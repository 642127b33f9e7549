#include "toolkit/AlphaGraphics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "classlib/WinApi.h"

TAlphaBlendProc AlphaBlendProc = nullptr;

namespace {

// The fixed texts of this unit.
struct {
  const wchar_t* OutOfResources = L"Out of system resources";
  const wchar_t* Ellipsis = L"...";
  const wchar_t* LineHeightText = L"My";
  const wchar_t* CentreHeightText = L"Mg";
  const char* DefaultFace = "Tahoma";
} const Msg;

constexpr TColor HighlightColour = 0xF2DFCF;

HMODULE GMsimg32 = nullptr;
HMODULE GGdiplus = nullptr;
ULONG_PTR GGdiplusToken = 0;
using TGdiplusShutdown = void(__stdcall*)(ULONG_PTR);
TGdiplusShutdown GGdiplusShutdown = nullptr;

HDC DC(TCanvas* C) { return static_cast<HDC>(C->Handle()); }

// The 32-bit DIB section selected into a device context: rows top-down through Row().
struct TDib {
  uint8_t* Bits = nullptr;
  int Width = 0, Height = 0, Stride = 0;
  bool TopDown = false;
  bool Bind(HDC Dc) {
    HGDIOBJ Bmp = Dc ? GetCurrentObject(Dc, OBJ_BITMAP) : nullptr;
    DIBSECTION Ds;
    if (!Bmp || GetObjectW(Bmp, sizeof Ds, &Ds) != sizeof Ds || !BindSection(Ds)) return false;
    // Some systems report a top-down section with a positive height: ask the context where the
    // first stored row is drawn.
    if (!TopDown && Height > 1) {
      POINT Win, View;
      SetWindowOrgEx(Dc, 0, 0, &Win);
      SetViewportOrgEx(Dc, 0, 0, &View);
      GdiFlush();
      uint32_t* First = reinterpret_cast<uint32_t*>(Bits);
      uint32_t Saved = *First;
      *First = 0x00123456;
      TopDown = GetPixel(Dc, 0, 0) == RGB(0x12, 0x34, 0x56) && GetPixel(Dc, 0, Height - 1) != RGB(0x12, 0x34, 0x56);
      *First = Saved;
      SetWindowOrgEx(Dc, Win.x, Win.y, nullptr);
      SetViewportOrgEx(Dc, View.x, View.y, nullptr);
    }
    return true;
  }
  bool BindBitmap(HBITMAP Bmp) {
    DIBSECTION Ds;
    if (!Bmp || GetObjectW(Bmp, sizeof Ds, &Ds) != sizeof Ds) return false;
    return BindSection(Ds);
  }
  bool BindSection(const DIBSECTION& Ds) {
    if (Ds.dsBm.bmBitsPixel != 32 || !Ds.dsBm.bmBits) return false;
    Bits = static_cast<uint8_t*>(Ds.dsBm.bmBits);
    Width = Ds.dsBm.bmWidth;
    Height = Ds.dsBm.bmHeight;
    Stride = Ds.dsBm.bmWidthBytes;
    TopDown = Ds.dsBmih.biHeight < 0;
    return true;
  }
  uint32_t* Row(int Y) const {
    int R = TopDown ? Y : Height - 1 - Y;
    return reinterpret_cast<uint32_t*>(Bits + static_cast<ptrdiff_t>(R) * Stride);
  }
};

HBITMAP NewDib32(HDC Dc, int W, int H, void** Bits) {
  BITMAPINFO Bi{};
  Bi.bmiHeader.biSize = sizeof Bi.bmiHeader;
  Bi.bmiHeader.biWidth = W;
  Bi.bmiHeader.biHeight = -H;  // top-down
  Bi.bmiHeader.biPlanes = 1;
  Bi.bmiHeader.biBitCount = 32;
  Bi.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(Dc, &Bi, DIB_RGB_COLORS, Bits, nullptr, 0);
}

uint32_t Channel(uint32_t P, int Shift) { return P >> Shift & 0xFF; }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Result checks

void RaiseOutOfResources() {
  DWORD Code = GetLastError();
  if (Code != 0) {
    wchar_t Buffer[256];
    DWORD N = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, Code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), Buffer, 256, nullptr);
    while (N > 0 && (Buffer[N - 1] == L'\n' || Buffer[N - 1] == L'\r' || Buffer[N - 1] == L' ')) --N;
    if (N > 0) throw EOutOfResources(WideString(Buffer, N));
  }
  throw EOutOfResources(Msg.OutOfResources);
}

void* CheckHandle(void* H) {
  if (!H) RaiseOutOfResources();
  return H;
}

void CheckBool(bool B) {
  if (!B) RaiseOutOfResources();
}

// ---------------------------------------------------------------------------------------------
// Pixels

void PremultiplyFast(uint32_t& P) {
  uint32_t A = P >> 24;
  P = A << 24 | (Channel(P, 16) * A >> 8) << 16 | (Channel(P, 8) * A >> 8) << 8 | (Channel(P, 0) * A >> 8);
}

void PremultiplyExact(uint32_t& P) {
  uint32_t A = P >> 24;
  if (A == 255) return;
  if (A == 0) {
    P = 0;
    return;
  }
  auto M = [A](uint32_t C) { return static_cast<uint32_t>(static_cast<uint64_t>(C) * A * 65794u >> 24); };
  P = A << 24 | M(Channel(P, 16)) << 16 | M(Channel(P, 8)) << 8 | M(Channel(P, 0));
}

void MakePixel(uint32_t& P, TColor Color, uint8_t Alpha) {
  uint32_t C = static_cast<uint32_t>(Color);
  // TColor is $00BBGGRR; the pixel keeps red in byte 2 and blue in byte 0.
  P = static_cast<uint32_t>(Alpha) << 24 | Channel(C, 0) << 16 | Channel(C, 8) << 8 | Channel(C, 16);
  if (Alpha < 255) PremultiplyFast(P);
}

void BlendColor(TColor& Color, uint32_t Overlay) {
  uint32_t A = Overlay >> 24, C = static_cast<uint32_t>(Color), R = 0;
  for (int Shift = 0; Shift <= 16; Shift += 8)
    R |= (((255 - A) * Channel(C, Shift) + Channel(Overlay, Shift) * A) >> 8) << Shift;
  Color = static_cast<TColor>(R);
}

void BlendPremultiplied(uint32_t& Dst, uint32_t Src) {
  uint32_t Inv = 255 - (Src >> 24), R = 0;
  for (int Shift = 0; Shift <= 24; Shift += 8) {
    uint32_t V = (Inv * Channel(Dst, Shift) >> 8) + Channel(Src, Shift);
    R |= std::min<uint32_t>(V, 255) << Shift;
  }
  Dst = R;
}

void BlendWithAlpha(uint32_t& Dst, uint32_t Src, uint8_t Alpha) {
  uint32_t S = 0;
  for (int Shift = 0; Shift <= 24; Shift += 8) S |= (Channel(Src, Shift) * Alpha >> 8) << Shift;
  BlendPremultiplied(Dst, S);
}

void SetPixelAlpha(uint32_t& P, uint8_t Alpha) {
  if (P >> 24 == Alpha) return;
  if (Alpha == 0) {
    P = 0;
    return;
  }
  P = (P & 0x00FFFFFF) | static_cast<uint32_t>(Alpha) << 24;
  PremultiplyFast(P);
}

void PremultiplyFromStraight(uint32_t& Dst, uint32_t Src) {
  uint32_t A = Src >> 24;
  if (A == 255) {
    Dst = Src;
  } else if (A == 0) {
    Dst = 0;
  } else {
    Dst = Src;
    PremultiplyExact(Dst);
  }
}

// ---------------------------------------------------------------------------------------------
// Pixel loops

bool ForEachPixel(void* Dc, int X, int Y, int W, int H, TPixelProc Proc, void* Data, void* SrcDC, int SrcX,
                  int SrcY) {
  TDib Dst, Src;
  if (!Dst.Bind(static_cast<HDC>(Dc))) return false;
  bool HasSrc = SrcDC != nullptr;
  if (HasSrc && !Src.Bind(static_cast<HDC>(SrcDC))) return false;
  // Clip negative origins on both sides, then the far edges of both bitmaps.
  auto ClipStart = [&](int& D, int& S, int& Size) {
    int Shift = std::max({0, -D, HasSrc ? -S : 0});
    D += Shift;
    S += Shift;
    Size -= Shift;
  };
  ClipStart(X, SrcX, W);
  ClipStart(Y, SrcY, H);
  W = std::min(W, Dst.Width - X);
  H = std::min(H, Dst.Height - Y);
  if (HasSrc) {
    W = std::min(W, Src.Width - SrcX);
    H = std::min(H, Src.Height - SrcY);
  }
  GdiFlush();
  for (int Row = 0; Row < H; ++Row) {
    uint32_t* D = Dst.Row(Y + Row) + X;
    const uint32_t* S = HasSrc ? Src.Row(SrcY + Row) + SrcX : nullptr;
    for (int Col = 0; Col < W; ++Col) Proc(D[Col], S ? S[Col] : 0, Data);
  }
  return true;
}

void PremultiplyBitmap(void* Bitmap, int W, int H) {
  TDib Dib;
  if (!Dib.BindBitmap(static_cast<HBITMAP>(Bitmap))) return;
  GdiFlush();
  W = std::min(W, Dib.Width);
  H = std::min(H, Dib.Height);
  for (int Y = 0; Y < H; ++Y) {
    uint32_t* P = Dib.Row(Y);
    for (int X = 0; X < W; ++X) PremultiplyExact(P[X]);
  }
}

void SetRectAlpha(TCanvas* Canvas, const TRect& Rect, uint8_t Alpha) {
  uint8_t A = Alpha;
  ForEachPixel(
      Canvas->Handle(), Rect.Left, Rect.Top, Rect.Width(), Rect.Height(),
      [](uint32_t& D, uint32_t, void* Data) { SetPixelAlpha(D, *static_cast<uint8_t*>(Data)); }, &A);
}

// ---------------------------------------------------------------------------------------------
// Blending

bool AlphaDraw(void* DstDC, int X, int Y, uint8_t Alpha, int W, int H, int SrcX, int SrcY, void* SrcDC, int SrcW,
               int SrcH) {
  if (W <= 0 || H <= 0) return true;
  if (!AlphaBlendProc) {
    uint8_t A = Alpha;
    return ForEachPixel(
        DstDC, X, Y, W, H, [](uint32_t& D, uint32_t S, void* Data) { BlendWithAlpha(D, S, *static_cast<uint8_t*>(Data)); },
        &A, SrcDC, SrcX, SrcY);
  }
  uint32_t Blend = AC_SRC_OVER | 0 << 8 | static_cast<uint32_t>(Alpha) << 16 | AC_SRC_ALPHA << 24;
  POINT Origin{0, 0};
  GetWindowOrgEx(static_cast<HDC>(DstDC), &Origin);
  if (LOBYTE(LOWORD(GetVersion())) < 5 && (Origin.x || Origin.y || SrcX || SrcY)) {
    // Older systems blend only from the origin of the source: copy the piece there first.
    HDC Tmp = static_cast<HDC>(CheckHandle(CreateCompatibleDC(static_cast<HDC>(SrcDC))));
    void* Bits = nullptr;
    HBITMAP Bmp = NewDib32(Tmp, SrcW, SrcH, &Bits);
    if (!Bmp) {
      DeleteDC(Tmp);
      RaiseOutOfResources();
    }
    HGDIOBJ Old = SelectObject(Tmp, Bmp);
    BitBlt(Tmp, 0, 0, SrcW, SrcH, static_cast<HDC>(SrcDC), SrcX, SrcY, SRCCOPY);
    bool Ok = AlphaBlendProc(DstDC, X, Y, W, H, Tmp, 0, 0, SrcW, SrcH, Blend) != 0;
    SelectObject(Tmp, Old);
    DeleteObject(Bmp);
    DeleteDC(Tmp);
    return Ok;
  }
  return AlphaBlendProc(DstDC, X, Y, W, H, SrcDC, SrcX, SrcY, SrcW, SrcH, Blend) != 0;
}

bool AlphaDraw(TCanvas* Dst, int X, int Y, uint8_t Alpha, int W, int H, int SrcX, int SrcY, TCanvas* Src, int SrcW,
               int SrcH) {
  return AlphaDraw(Dst->Handle(), X, Y, Alpha, W, H, SrcX, SrcY, Src->Handle(), SrcW, SrcH);
}

bool AlphaDrawOpaque(void* DstDC, int X, int Y, int W, int H, int SrcX, int SrcY, void* SrcDC, int SrcW, int SrcH) {
  if (!AlphaBlendProc) return false;
  return AlphaDraw(DstDC, X, Y, 255, W, H, SrcX, SrcY, SrcDC, SrcW, SrcH);
}

void TileBitmap(TCanvas* Dst, const TRect& DstRect, TCanvas* Src, bool Transparent, const TRect& SrcRect) {
  int SW = SrcRect.Width(), SH = SrcRect.Height();
  if (SW <= 0 || SH <= 0) return;
  for (int Y = DstRect.Top; Y < DstRect.Bottom; Y += SH) {
    int H = std::min(SH, DstRect.Bottom - Y);
    for (int X = DstRect.Left; X < DstRect.Right; X += SW) {
      int W = std::min(SW, DstRect.Right - X);
      if (!Transparent ||
          !AlphaDrawOpaque(Dst->Handle(), X, Y, W, H, SrcRect.Left, SrcRect.Top, Src->Handle(), W, H))
        BitBlt(DC(Dst), X, Y, W, H, DC(Src), SrcRect.Left, SrcRect.Top, SRCCOPY);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Loading and generated images

void* LoadBitmapResource32(const wchar_t* Name) {
  HINSTANCE Module = GetModuleHandleW(nullptr);
  if (!FindResourceW(Module, Name, MAKEINTRESOURCEW(2) /* RT_BITMAP */)) return nullptr;
  HBITMAP Source = static_cast<HBITMAP>(LoadImageW(Module, Name, IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!Source) return nullptr;
  BITMAP Bm;
  if (!GetObjectW(Source, sizeof Bm, &Bm) || Bm.bmWidth <= 0 || Bm.bmHeight <= 0) {
    DeleteObject(Source);
    return nullptr;
  }
  HDC SrcDc = CreateCompatibleDC(nullptr), DstDc = CreateCompatibleDC(nullptr);
  void* Bits = nullptr;
  HBITMAP Result = NewDib32(DstDc, Bm.bmWidth, Bm.bmHeight, &Bits);
  if (Result && SrcDc && DstDc) {
    HGDIOBJ OldS = SelectObject(SrcDc, Source), OldD = SelectObject(DstDc, Result);
    BitBlt(DstDc, 0, 0, Bm.bmWidth, Bm.bmHeight, SrcDc, 0, 0, SRCCOPY);
    SelectObject(SrcDc, OldS);
    SelectObject(DstDc, OldD);
  }
  if (SrcDc) DeleteDC(SrcDc);
  if (DstDc) DeleteDC(DstDc);
  DeleteObject(Source);
  return CheckHandle(Result);
}

void* RenderSupersampled(int Width, int Height, const TPaintProc& PaintProc, void* Data, int Scale) {
  if (Width <= 0 || Height <= 0 || Scale <= 0) return nullptr;
  int BW = Width * Scale, BH = Height * Scale;
  HDC Dc = static_cast<HDC>(CheckHandle(CreateCompatibleDC(nullptr)));
  void* BigBits = nullptr;
  HBITMAP Big = NewDib32(Dc, BW, BH, &BigBits);
  if (!Big) {
    DeleteDC(Dc);
    RaiseOutOfResources();
  }
  std::fill_n(static_cast<uint32_t*>(BigBits), static_cast<size_t>(BW) * BH, 0u);
  HGDIOBJ Old = SelectObject(Dc, Big);
  {
    TCanvas Canvas;
    Canvas.SetHandle(Dc);
    try {
      PaintProc(&Canvas, TRect{0, 0, BW, BH}, Data);
    } catch (...) {
      Canvas.SetHandle(nullptr);
      SelectObject(Dc, Old);
      DeleteObject(Big);
      DeleteDC(Dc);
      throw;
    }
    Canvas.SetHandle(nullptr);
  }
  GdiFlush();
  SelectObject(Dc, Old);
  if (Scale == 1) {
    DeleteDC(Dc);
    return Big;
  }
  void* SmallBits = nullptr;
  HBITMAP Small = NewDib32(Dc, Width, Height, &SmallBits);
  if (!Small) {
    DeleteObject(Big);
    DeleteDC(Dc);
    RaiseOutOfResources();
  }
  const auto* BigP = static_cast<const uint32_t*>(BigBits);
  auto* SmallP = static_cast<uint32_t*>(SmallBits);
  const uint32_t Cells = static_cast<uint32_t>(Scale * Scale);
  for (int Y = 0; Y < Height; ++Y) {
    for (int X = 0; X < Width; ++X) {
      uint32_t Painted = 0, R = 0, G = 0, B = 0;
      for (int SY = 0; SY < Scale; ++SY) {
        const uint32_t* Row = BigP + static_cast<size_t>(Y * Scale + SY) * BW + X * Scale;
        for (int SX = 0; SX < Scale; ++SX) {
          uint32_t P = Row[SX];
          if (P == 0) continue;
          ++Painted;
          R += Channel(P, 16);
          G += Channel(P, 8);
          B += Channel(P, 0);
        }
      }
      uint32_t Straight = 0;
      if (Painted) Straight = (255 * Painted / Cells) << 24 | (R / Painted) << 16 | (G / Painted) << 8 | (B / Painted);
      PremultiplyFromStraight(SmallP[static_cast<size_t>(Y) * Width + X], Straight);
    }
  }
  DeleteObject(Big);
  DeleteDC(Dc);
  return Small;
}

void GradientFill(TCanvas* Canvas, const TRect& Rect, TColor Color1, TColor Color2, bool Horizontal) {
  HDC Dc = DC(Canvas);
  int C1[3] = {Color1 & 0xFF, Color1 >> 8 & 0xFF, Color1 >> 16 & 0xFF};
  int C2[3] = {Color2 & 0xFF, Color2 >> 8 & 0xFF, Color2 >> 16 & 0xFF};
  int N = 1;
  for (int I = 0; I < 3; ++I) N = std::max(N, std::abs(C2[I] - C1[I]));
  double Step[3], Cur[3];
  for (int I = 0; I < 3; ++I) {
    Step[I] = static_cast<double>(C2[I] - C1[I]) / N;
    Cur[I] = C1[I];
  }
  int Start = Horizontal ? Rect.Left : Rect.Top;
  int End = Horizontal ? Rect.Right : Rect.Bottom;
  double Share = static_cast<double>(End - Start) / N;
  int From = Start;
  for (int Band = 0; Band < N; ++Band) {
    int To = End - static_cast<int>(Round(Share * (N - 1 - Band)));
    if (To > From) {
      COLORREF C = RGB(Round(Cur[0]), Round(Cur[1]), Round(Cur[2]));
      HBRUSH Brush = CreateSolidBrush(C);
      RECT R = Horizontal ? RECT{From, Rect.Top, To, Rect.Bottom} : RECT{Rect.Left, From, Rect.Right, To};
      FillRect(Dc, &R, Brush);
      DeleteObject(Brush);
      From = To;
    }
    for (int I = 0; I < 3; ++I) Cur[I] += Step[I];
  }
}

// ---------------------------------------------------------------------------------------------
// Text

void SetDefaultFont(TFont* Font, int Size, bool ExactSize, TFontStyles Style, TColor Colour) {
  LOGFONTW Lf{};
  int DefaultSize = 8;
  TFontCharset Charset = DEFAULT_CHARSET;
  if (GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof Lf, &Lf)) {
    Charset = Lf.lfCharSet;
    HDC Screen = GetDC(nullptr);
    int Ppi = Screen ? GetDeviceCaps(Screen, LOGPIXELSY) : 96;
    if (Screen) ReleaseDC(nullptr, Screen);
    DefaultSize = std::abs(MulDiv(Lf.lfHeight, 72, Ppi > 0 ? Ppi : 96));
  }
  Font->SetName(Msg.DefaultFace);
  Font->SetCharset(Charset);
  Font->SetSize(ExactSize ? Size : std::max(Size, DefaultSize));
  Font->SetStyle(Style);
  Font->SetColor(Colour);
}

void FitTextWithEllipsis(const TTextMeasure& Measure, const WideString& Text, int MaxWidth, WideString& Result) {
  if (Text.empty() || Measure(Text) <= MaxWidth) {
    Result = Text;
    return;
  }
  const WideString Ellipsis = Msg.Ellipsis;
  // Never end a prefix inside a surrogate pair.
  auto Prefix = [&](size_t N) {
    if (N > 0 && N < Text.size() && Text[N - 1] >= 0xD800 && Text[N - 1] <= 0xDBFF) --N;
    return Text.substr(0, N);
  };
  size_t Len = Text.size();
  while (Len >= 2 && Measure(Prefix(Len) + Ellipsis) > MaxWidth) Len /= 2;
  if (Measure(Prefix(Len) + Ellipsis) > MaxWidth) Len = 0;
  while (Len < Text.size() && Measure(Prefix(Len + 1) + Ellipsis) <= MaxWidth) ++Len;
  Result = Prefix(Len) + Ellipsis;
}

int WideTextWidth(TCanvas* Canvas, const WideString& Text) {
  Canvas->RequiredState(csHandleValid | csFontValid);
  SIZE S{0, 0};
  GetTextExtentPoint32W(DC(Canvas), Text.c_str(), static_cast<int>(Text.size()), &S);
  return S.cx;
}

int WideTextHeight(TCanvas* Canvas, const WideString& Text) {
  Canvas->RequiredState(csHandleValid | csFontValid);
  SIZE S{0, 0};
  GetTextExtentPoint32W(DC(Canvas), Text.c_str(), static_cast<int>(Text.size()), &S);
  return S.cy;
}

void FitTextWithEllipsis(TCanvas* Canvas, const WideString& Text, int MaxWidth, WideString& Result) {
  FitTextWithEllipsis([Canvas](const WideString& T) { return WideTextWidth(Canvas, T); }, Text, MaxWidth, Result);
}

void DrawTextLine(TCanvas* Canvas, int X, int Y, const WideString& Text, int MaxWidth) {
  Canvas->RequiredState(csHandleValid | csFontValid);
  int H = WideTextHeight(Canvas, Msg.LineHeightText);
  RECT R{X, Y, MaxWidth == INT32_MAX ? INT32_MAX / 2 : X + MaxWidth, Y + H};
  UINT Flags = DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS | (MaxWidth == INT32_MAX ? DT_NOCLIP : 0);
  DrawTextW(DC(Canvas), Text.c_str(), static_cast<int>(Text.size()), &R, Flags);
}

void DrawHighlightedText(TCanvas* Canvas, int X, int Y, int HighlightStart, int HighlightLength,
                         const WideString& Text, int MaxWidth) {
  HDC Dc = DC(Canvas);
  if (HighlightStart >= 0 && HighlightLength > 0 &&
      static_cast<size_t>(HighlightStart) + static_cast<size_t>(HighlightLength) <= Text.size()) {
    int Before = WideTextWidth(Canvas, Text.substr(0, static_cast<size_t>(HighlightStart)));
    int Width = WideTextWidth(Canvas, Text.substr(static_cast<size_t>(HighlightStart), static_cast<size_t>(HighlightLength)));
    int H = WideTextHeight(Canvas, Msg.LineHeightText);
    HBRUSH Brush = CreateSolidBrush(HighlightColour);
    RECT R{X + Before, Y, X + Before + Width, Y + H};
    FillRect(Dc, &R, Brush);
    DeleteObject(Brush);
  }
  int OldMode = SetBkMode(Dc, TRANSPARENT);
  DrawTextLine(Canvas, X, Y, Text, MaxWidth);
  SetBkMode(Dc, OldMode);
}

void DrawShadowedText(TCanvas* Canvas, const WideString& Text, const TRect& Rect, int MinFontSize, TColor Colour,
                      TFontStyles FontStyle, int HighlightStart, int HighlightLength) {
  SetDefaultFont(Canvas->Font(), MinFontSize, false, FontStyle, clWhite);
  WideString Fitted;
  FitTextWithEllipsis(Canvas, Text, Rect.Width(), Fitted);
  int Free = Rect.Height() - WideTextHeight(Canvas, Msg.CentreHeightText);
  int Y = Rect.Top + Free / 2;
  DrawHighlightedText(Canvas, Rect.Left + 1, Y + 1, -1, 0, Fitted, Rect.Width());
  Canvas->Font()->SetColor(Colour);
  Canvas->RequiredState(csHandleValid | csFontValid);
  SetTextColor(DC(Canvas), static_cast<COLORREF>(Colour));
  DrawHighlightedText(Canvas, Rect.Left, Y, HighlightStart, HighlightLength, Fitted, Rect.Width());
}

// ---------------------------------------------------------------------------------------------
// Start-up and shutdown

void AlphaGraphicsInitialize() {
  GMsimg32 = LoadLibraryW(L"msimg32.dll");
  if (GMsimg32) {
    AlphaBlendProc = reinterpret_cast<TAlphaBlendProc>(reinterpret_cast<void*>(GetProcAddress(GMsimg32, "AlphaBlend")));
    if (!AlphaBlendProc) {
      FreeLibrary(GMsimg32);
      GMsimg32 = nullptr;
    }
  }
  GGdiplus = LoadLibraryW(L"gdiplus.dll");
  if (GGdiplus) {
    struct TStartupInput {
      UINT32 GdiplusVersion;
      void* DebugEventCallback;
      BOOL SuppressBackgroundThread;
      BOOL SuppressExternalCodecs;
    } Input{1, nullptr, FALSE, FALSE};
    using TStartup = int(__stdcall*)(ULONG_PTR*, const TStartupInput*, void*);
    auto Startup = reinterpret_cast<TStartup>(reinterpret_cast<void*>(GetProcAddress(GGdiplus, "GdiplusStartup")));
    GGdiplusShutdown =
        reinterpret_cast<TGdiplusShutdown>(reinterpret_cast<void*>(GetProcAddress(GGdiplus, "GdiplusShutdown")));
    if (!Startup || !GGdiplusShutdown || Startup(&GGdiplusToken, &Input, nullptr) != 0) {
      GGdiplusToken = 0;
      FreeLibrary(GGdiplus);
      GGdiplus = nullptr;
    }
  }
}

void AlphaGraphicsFinalize() {
  AlphaBlendProc = nullptr;
  if (GMsimg32) FreeLibrary(GMsimg32);
  GMsimg32 = nullptr;
  if (GGdiplus) {
    if (GGdiplusToken) GGdiplusShutdown(GGdiplusToken);
    FreeLibrary(GGdiplus);
  }
  GGdiplus = nullptr;
  GGdiplusToken = 0;
}
