#include <gtest/gtest.h>

#include <vector>

#include "classlib/WinApi.h"
#include "toolkit/AlphaGraphics.h"

#include "Surface.h"

namespace {

uint32_t Px(uint32_t A, uint32_t R, uint32_t G, uint32_t B) { return A << 24 | R << 16 | G << 8 | B; }

TEST(Pixels, ExactPremultiplicationIsTheFloorOfTheDivision) {
  for (uint32_t A = 0; A <= 255; ++A) {
    for (uint32_t C = 0; C <= 255; ++C) {
      uint32_t P = Px(A, C, C, C);
      PremultiplyExact(P);
      uint32_t Expected = A == 0 ? 0 : (A == 255 ? C : C * A / 255);
      ASSERT_EQ(P & 0xFF, Expected) << A << " " << C;
      ASSERT_EQ(P >> 24, A == 0 ? 0 : A);
    }
  }
  uint32_t P = Px(128, 255, 255, 255);
  PremultiplyExact(P);
  EXPECT_EQ(P, Px(128, 128, 128, 128));
}

TEST(Pixels, Operations) {
  uint32_t P = Px(255, 255, 255, 255);
  PremultiplyFast(P);
  EXPECT_EQ(P, Px(255, 254, 254, 254));

  TColor White = 0xFFFFFF;
  BlendColor(White, 0x00000000);
  EXPECT_EQ(White, 0xFEFEFE);  // 255 x 255 shr 8
  TColor C = 0xF2EEE4;
  BlendColor(C, 0x5AFFFFFF);
  EXPECT_EQ(C, 0xF5F3EC);
  C = 0xF2EEE4;
  BlendColor(C, 0xCBFFFFFF);
  EXPECT_EQ(C, 0xFBFAF8);

  MakePixel(P, 0x0000FF /* red */, 255);
  EXPECT_EQ(P, Px(255, 255, 0, 0));
  MakePixel(P, 0xFF0000 /* blue */, 128);
  EXPECT_EQ(P, Px(128, 0, 0, 127));

  uint32_t Dst = Px(255, 100, 100, 100);
  BlendPremultiplied(Dst, Px(0, 0, 0, 0));
  EXPECT_EQ(Dst, Px(254, 99, 99, 99));
  Dst = Px(255, 0, 0, 0);
  BlendPremultiplied(Dst, Px(128, 128, 0, 0));
  EXPECT_EQ(Dst, Px(254, 128, 0, 0));  // (127 x 255 shr 8) + 128
  Dst = 0;
  BlendWithAlpha(Dst, Px(255, 255, 255, 255), 128);
  EXPECT_EQ(Dst, Px(127, 127, 127, 127));

  P = Px(255, 200, 100, 50);
  SetPixelAlpha(P, 0);
  EXPECT_EQ(P, 0u);
  P = Px(255, 200, 100, 50);
  SetPixelAlpha(P, 255);
  EXPECT_EQ(P, Px(255, 200, 100, 50));

  PremultiplyFromStraight(P, Px(0, 9, 9, 9));
  EXPECT_EQ(P, 0u);
  PremultiplyFromStraight(P, Px(255, 9, 8, 7));
  EXPECT_EQ(P, Px(255, 9, 8, 7));
  PremultiplyFromStraight(P, Px(51, 255, 100, 0));
  EXPECT_EQ(P, Px(51, 51, 20, 0));
}

// The software blend and the system's agree, also for rectangles that hang past either bitmap:
// nothing is written outside them (the rows around the destination are guarded).
TEST(Blending, SoftwarePathMatchesTheSystemAndClipsOnAllSides) {
  ASSERT_NE(AlphaBlendProc, nullptr) << "msimg32 AlphaBlend is expected under this system";
  struct Case {
    int X, Y, W, H, SX, SY;
  } Cases[] = {{2, 2, 4, 4, 0, 0}, {6, 5, 8, 8, 0, 0}, {-2, -3, 6, 6, 1, 1}, {0, 0, 10, 10, 4, 4}, {3, 3, 2, 2, 7, 7}};
  TAlphaBlendProc System = AlphaBlendProc;
  for (const Case& C : Cases) {
    Surface Src(8, 8), A(8, 8), B(8, 8);
    Src.Fill(0);
    GdiFlush();
    for (int Y = 0; Y < 8; ++Y) {
      for (int X = 0; X < 8; ++X) {
        uint32_t A = static_cast<uint32_t>(X * 30 + 20);  // valid premultiplied pixels only
        Src.At(X, Y) = Px(A, A, 0, std::min<uint32_t>(static_cast<uint32_t>(Y * 20), A));
      }
    }
    A.Fill(Px(255, 10, 200, 30));
    B.Fill(Px(255, 10, 200, 30));
    // The system blends only what lies inside both bitmaps; give it the clipped rectangle.
    int X = C.X, Y = C.Y, W = C.W, H = C.H, SX = C.SX, SY = C.SY;
    int DX = std::max({0, -X, -SX}), DY = std::max({0, -Y, -SY});
    X += DX, SX += DX, W -= DX, Y += DY, SY += DY, H -= DY;
    W = std::min({W, 8 - X, 8 - SX});
    H = std::min({H, 8 - Y, 8 - SY});
    if (W > 0 && H > 0) {
      ASSERT_TRUE(AlphaDraw(A.Dc(), X, Y, 200, W, H, SX, SY, Src.Dc(), W, H));
    }
    AlphaBlendProc = nullptr;
    EXPECT_TRUE(AlphaDraw(B.Dc(), C.X, C.Y, 200, C.W, C.H, C.SX, C.SY, Src.Dc(), C.W, C.H));
    AlphaBlendProc = System;
    GdiFlush();
    for (int PY = 0; PY < 8; ++PY) {
      for (int PX = 0; PX < 8; ++PX) {
        uint32_t P = A.At(PX, PY), Q = B.At(PX, PY);
        for (int Shift = 0; Shift < 32; Shift += 8)
          ASSERT_NEAR(static_cast<int>(P >> Shift & 0xFF), static_cast<int>(Q >> Shift & 0xFF), 2)
              << "case " << C.X << "," << C.Y << " pixel " << PX << "," << PY;
      }
    }
  }
}

TEST(Blending, ContextsWithoutADibSectionAreLeftAlone) {
  HDC Plain = CreateCompatibleDC(nullptr);  // holds a 1x1 monochrome bitmap
  EXPECT_FALSE(ForEachPixel(Plain, 0, 0, 4, 4, [](uint32_t& D, uint32_t, void*) { D = 1; }, nullptr));
  DeleteDC(Plain);
}

TEST(Rendering, SupersampledPixelsAverageThePaintedOnes) {
  void* Bmp = RenderSupersampled(
      2, 1,
      [](TCanvas* C, const TRect&, void*) {
        HDC Dc = static_cast<HDC>(C->Handle());
        // Left 2x2 block: two painted pixels (red, blue) and two untouched; GDI black counts as unpainted.
        SetPixelV(Dc, 0, 0, RGB(255, 0, 0));
        SetPixelV(Dc, 1, 0, RGB(0, 0, 255));
        // Right block: all four white.
        for (int Y = 0; Y < 2; ++Y)
          for (int X = 2; X < 4; ++X) SetPixelV(Dc, X, Y, RGB(255, 255, 255));
        SetPixelV(Dc, 0, 1, RGB(0, 0, 0));
      },
      nullptr, 2);
  ASSERT_NE(Bmp, nullptr);
  DIBSECTION Ds;
  ASSERT_EQ(GetObjectW(Bmp, sizeof Ds, &Ds), static_cast<int>(sizeof Ds));
  const auto* P = static_cast<const uint32_t*>(Ds.dsBm.bmBits);
  // 2 of 4 painted: alpha 255 x 2 div 4 = 127, colour (127, 0, 127) straight, then premultiplied.
  uint32_t Expected = 0;
  PremultiplyFromStraight(Expected, Px(127, 127, 0, 127));
  EXPECT_EQ(P[0], Expected);
  EXPECT_EQ(P[1], Px(255, 255, 255, 255));
  DeleteObject(Bmp);
}

TEST(Rendering, GradientBandsEndAtTheEdge) {
  // Fewer bands than rows: 5 bands of 2 rows, each its own rounded colour.
  Surface S(4, 10);
  S.Fill(0);
  GradientFill(&S.Canvas, TRect{0, 0, 4, 10}, 0x000000, 0x050000, false);
  GdiFlush();
  for (int Y = 0; Y < 10; ++Y) EXPECT_EQ(S.At(1, Y) & 0xFFFFFF, static_cast<uint32_t>(Y / 2)) << Y;
  // More bands than rows (red to blue: 255 bands over 10 rows): every row is filled, red falls
  // and blue rises from top to bottom, and the last row is filled to the edge.
  S.Fill(0);
  GradientFill(&S.Canvas, TRect{0, 0, 4, 10}, 0x0000FF, 0xFF0000, false);
  GdiFlush();
  for (int Y = 0; Y < 10; ++Y) {
    uint32_t P = S.At(3, Y), Red = P >> 16 & 0xFF, Blue = P & 0xFF;
    EXPECT_EQ(Red + Blue, 255u) << Y;
    if (Y > 0) {
      EXPECT_LT(Red, S.At(3, Y - 1) >> 16 & 0xFF) << Y;
    }
  }
  EXPECT_GT(S.At(0, 0) >> 16 & 0xFF, 200u);
  EXPECT_GT(S.At(0, 9) & 0xFF, 200u);
  // Left to right, equal colours: one plain fill.
  S.Fill(0);
  GradientFill(&S.Canvas, TRect{0, 0, 4, 10}, 0x123456, 0x123456, true);
  GdiFlush();
  for (int Y = 0; Y < 10; ++Y)
    for (int X = 0; X < 4; ++X) ASSERT_EQ(S.At(X, Y) & 0xFFFFFF, 0x563412u);
}

TEST(Text, FittingWithAnEllipsis) {
  auto Measure = [](const WideString& T) { return static_cast<int>(T.size()) * 7; };
  struct Case {
    const wchar_t* Text;
    int Width;
    const wchar_t* Expected;
  } Cases[] = {
      {L"short", 35, L"short"}, {L"", 0, L""}, {L"abcdef", 20, L"..."}, {L"abcdefghij", 49, L"abcd..."},
      {L"abcdefghij", 56, L"abcde..."}, {L"ab\xD83D\xDE00" L"cdef", 35, L"ab..."},  // no half surrogate pair
  };
  for (const Case& C : Cases) {
    WideString R;
    FitTextWithEllipsis(Measure, C.Text, C.Width, R);
    EXPECT_EQ(R, C.Expected) << C.Width;
  }
  // On a real font: the result fits, and a text that fits stays whole.
  Surface S(200, 40);
  SetDefaultFont(S.Canvas.Font(), 9, true, 0, clBlack);
  WideString R;
  FitTextWithEllipsis(&S.Canvas, L"A fairly long caption that cannot fit", 80, R);
  EXPECT_LE(WideTextWidth(&S.Canvas, R), 80);
  EXPECT_EQ(R.substr(R.size() - 3), L"...");
  FitTextWithEllipsis(&S.Canvas, L"Fits", 80, R);
  EXPECT_EQ(R, L"Fits");
}

TEST(Text, ShadowedTextPaintsInsideItsRectangle) {
  Surface S(120, 30);
  S.Fill(0);
  DrawShadowedText(&S.Canvas, L"\x5BF9\x97F3\x9891 Hello", TRect{10, 5, 110, 25}, 8, 0x333333, 0, 1, 2);
  GdiFlush();
  int Inside = 0;
  for (int Y = 0; Y < 30; ++Y) {
    for (int X = 0; X < 120; ++X) {
      bool Touched = (S.At(X, Y) & 0xFFFFFF) != 0;
      bool In = X >= 10 && X < 112 && Y >= 5 && Y < 27;  // the shadow is one pixel right and down
      if (Touched && !In) ADD_FAILURE() << "painted outside at " << X << "," << Y;
      Inside += Touched;
    }
  }
  EXPECT_GT(Inside, 50);
}

TEST(Checks, OutOfResourcesCarriesTheSystemText) {
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  try {
    CheckHandle(nullptr);
    ADD_FAILURE();
  } catch (const EOutOfResources& E) {
    EXPECT_FALSE(E.Message().empty());
    EXPECT_NE(E.Message(), L"Out of system resources");
  }
  SetLastError(0);
  try {
    CheckBool(false);
    ADD_FAILURE();
  } catch (const EOutOfResources& E) {
    EXPECT_EQ(E.Message(), L"Out of system resources");
  }
  EXPECT_NO_THROW(CheckBool(true));
}

}  // namespace
