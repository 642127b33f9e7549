// A memory device context with a top-down 32-bit DIB section and a canvas over it, for the
// drawing tests of the toolkit.
#pragma once
#include <algorithm>
#include <cstdint>

#include "classlib/Graphics.h"
#include "classlib/WinApi.h"

class Surface {
 public:
  Surface(int W, int H) : FW(W), FH(H) {
    FDc = CreateCompatibleDC(nullptr);
    BITMAPINFO Bi{};
    Bi.bmiHeader.biSize = sizeof Bi.bmiHeader;
    Bi.bmiHeader.biWidth = W;
    Bi.bmiHeader.biHeight = -H;
    Bi.bmiHeader.biPlanes = 1;
    Bi.bmiHeader.biBitCount = 32;
    FBmp = CreateDIBSection(FDc, &Bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&FBits), nullptr, 0);
    FOld = SelectObject(FDc, FBmp);
    Canvas.SetHandle(FDc);
  }
  ~Surface() {
    Canvas.SetHandle(nullptr);
    SelectObject(FDc, FOld);
    DeleteObject(FBmp);
    DeleteDC(FDc);
  }
  uint32_t& At(int X, int Y) { return FBits[Y * FW + X]; }
  void Fill(uint32_t P) {
    GdiFlush();
    std::fill_n(FBits, FW * FH, P);
  }
  HDC Dc() const { return FDc; }
  int Width() const { return FW; }
  int Height() const { return FH; }
  const uint32_t* Bits() const { return FBits; }
  TCanvas Canvas;

 private:
  int FW, FH;
  HDC FDc;
  HBITMAP FBmp;
  HGDIOBJ FOld;
  uint32_t* FBits = nullptr;
};
