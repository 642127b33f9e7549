// The image cache against the skin pictures linked into this test: every picture drawn, stretched
// and framed matches a blend the test computes itself from the picture's decoded pixels (linked
// beside it as resource 20000 + id); broken pictures draw the marker, are logged once and never
// raise; ids of every kind name what they should.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/WinApi.h"
#include "toolkit/ImageCache.h"

#include "LogCapture.h"
#include "Surface.h"

namespace {

struct SkinImage {
  TImageId Id;
  const char* Name;
  int Width, Height;
};
// The skin pictures and their sizes: what the caption bars, the tool box, the status bar, the
// step captions and the dialogs draw them into needs these sizes.
const SkinImage Skin[] = {
    {10, "logo", 48, 48},           {20, "caption bar", 794, 70},     {21, "minimise strip", 28, 100},
    {22, "close strip", 28, 100},   {23, "tile convert", 216, 120},   {27, "tile split", 216, 120},
    {28, "tile cut", 216, 120},     {25, "tile mix", 216, 120},       {26, "tile record", 216, 120},
    {29, "status bar", 794, 30},    {5027, "step caption", 32, 157},  {8040, "hover frame", 16, 16},
    {8044, "question icon", 48, 48}, {8045, "warning icon", 48, 48}, {8046, "information icon", 48, 48},
};

std::vector<uint8_t> Resource(uint32_t Id, const wchar_t* Type = MAKEINTRESOURCEW(10) /* RT_RCDATA */) {
  HMODULE Self = GetModuleHandleW(nullptr);
  HRSRC R = FindResourceW(Self, MAKEINTRESOURCEW(Id), Type);
  if (!R) return {};
  auto* P = static_cast<const uint8_t*>(LockResource(LoadResource(Self, R)));
  return std::vector<uint8_t>(P, P + SizeofResource(Self, R));
}

uint32_t BE32(const uint8_t* P) { return uint32_t(P[0]) << 24 | uint32_t(P[1]) << 16 | uint32_t(P[2]) << 8 | P[3]; }

uint32_t Px(uint32_t A, uint32_t R, uint32_t G, uint32_t B) { return A << 24 | R << 16 | G << 8 | B; }

// The picture's straight RGBA pixels as the cache keeps them: each colour times alpha shr 8.
struct Reference {
  int W = 0, H = 0;
  std::vector<uint32_t> P;
  uint32_t At(int X, int Y) const { return P[static_cast<size_t>(Y * W + X)]; }
};
Reference Decoded(const SkinImage& S) {
  Reference R;
  std::vector<uint8_t> Raw = Resource(20000 + S.Id);
  EXPECT_EQ(Raw.size(), static_cast<size_t>(S.Width * S.Height * 4)) << S.Name;
  if (Raw.size() != static_cast<size_t>(S.Width * S.Height * 4)) return R;
  R.W = S.Width;
  R.H = S.Height;
  for (size_t I = 0; I < Raw.size(); I += 4) {
    uint32_t A = Raw[I + 3];
    R.P.push_back(Px(A, Raw[I] * A >> 8, Raw[I + 1] * A >> 8, Raw[I + 2] * A >> 8));
  }
  return R;
}

// Premultiplied source over destination with a constant alpha, each step rounded to the nearest.
uint32_t Over(uint32_t D, uint32_t S, uint32_t Alpha) {
  auto Div255 = [](uint32_t V) { return (V + 127) / 255; };
  if (Alpha != 255) {
    uint32_t Scaled = 0;
    for (int Shift = 0; Shift < 32; Shift += 8) Scaled |= Div255((S >> Shift & 255) * Alpha) << Shift;
    S = Scaled;
  }
  uint32_t SA = S >> 24, Out = 0;
  for (int Shift = 0; Shift < 32; Shift += 8)
    Out |= ((S >> Shift & 255) + Div255((D >> Shift & 255) * (255 - SA))) << Shift;
  return Out;
}

// An opaque background that differs from pixel to pixel, so that a misplaced piece shows.
uint32_t Background(int X, int Y) {
  return Px(255, static_cast<uint32_t>(X * 7) & 255, static_cast<uint32_t>(Y * 11) & 255,
            static_cast<uint32_t>((X + Y) * 3) & 255);
}
void Paint(Surface& S) {
  GdiFlush();
  for (int Y = 0; Y < S.Height(); ++Y)
    for (int X = 0; X < S.Width(); ++X) S.At(X, Y) = Background(X, Y);
}

// Compares the whole surface with Expected(X, Y); reports the count and the first difference.
template <class F>
::testing::AssertionResult Matches(Surface& S, F Expected) {
  GdiFlush();
  int Bad = 0;
  char First[160] = "";
  for (int Y = 0; Y < S.Height(); ++Y) {
    for (int X = 0; X < S.Width(); ++X) {
      uint32_t E = Expected(X, Y), A = S.At(X, Y);
      if (E != A && Bad++ == 0) std::snprintf(First, sizeof First, "first at (%d, %d): %08X, expected %08X", X, Y, A, E);
    }
  }
  if (Bad == 0) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << Bad << " pixels differ, " << First;
}

const uint8_t Alphas[] = {255, 221, 90};

TEST(SkinPictures, AreEightBitRgbaWithoutGammaAtTheirSizes) {
  for (const SkinImage& S : Skin) {
    SCOPED_TRACE(S.Name);
    std::vector<uint8_t> Png = Resource(S.Id);
    ASSERT_GT(Png.size(), 33u) << "no RCDATA resource " << S.Id;
    ASSERT_EQ(std::memcmp(Png.data(), "\x89PNG\r\n\x1a\n", 8), 0);
    std::vector<std::string> Chunks;
    for (size_t Pos = 8; Pos + 12 <= Png.size();) {
      uint32_t Len = BE32(&Png[Pos]);
      Chunks.emplace_back(reinterpret_cast<const char*>(&Png[Pos + 4]), 4);
      if (Chunks.back() == "IHDR") {
        EXPECT_EQ(BE32(&Png[Pos + 8]), static_cast<uint32_t>(S.Width));
        EXPECT_EQ(BE32(&Png[Pos + 12]), static_cast<uint32_t>(S.Height));
        EXPECT_EQ(Png[Pos + 16], 8) << "bit depth";
        EXPECT_EQ(Png[Pos + 17], 6) << "colour type (RGBA)";
      }
      Pos += 12 + Len;
    }
    // Nothing that changes how colours are read: only header, data and end.
    for (const std::string& C : Chunks) EXPECT_TRUE(C == "IHDR" || C == "IDAT" || C == "IEND") << C;
    EXPECT_EQ(Chunks.front(), "IHDR");
    EXPECT_EQ(Chunks.back(), "IEND");
    EXPECT_EQ(ImageCache->GetWidth(S.Id), S.Width);
    EXPECT_EQ(ImageCache->GetHeight(S.Id), S.Height);
  }
}

TEST(SkinPictures, DrawnWithPerPixelAlpha) {
  for (const SkinImage& S : Skin) {
    Reference R = Decoded(S);
    ASSERT_FALSE(R.P.empty());
    for (uint8_t Alpha : Alphas) {
      SCOPED_TRACE(std::string(S.Name) + " at alpha " + std::to_string(Alpha));
      Surface Dst(S.Width + 6, S.Height + 5);
      Paint(Dst);
      ImageCache->Draw(&Dst.Canvas, S.Id, 3, 2, -1, -1, 0, 0, -1, -1, Alpha);
      EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
        bool In = X >= 3 && Y >= 2 && X < 3 + S.Width && Y < 2 + S.Height;
        return In ? Over(Background(X, Y), R.At(X - 3, Y - 2), Alpha) : Background(X, Y);
      }));
    }
  }
  // One frame of a five-frame strip (the pressed close button) at its place, a piece cut from a
  // source that would reach past the picture, and DrawAt.
  const SkinImage& Close = Skin[3];
  Reference R = Decoded(Close);
  Surface Dst(40, 30);
  Paint(Dst);
  ImageCache->Draw(&Dst.Canvas, Close.Id, 5, 4, 28, 20, 0, 40, -1, -1, 255);
  EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
    bool In = X >= 5 && Y >= 4 && X < 33 && Y < 24;
    return In ? Over(Background(X, Y), R.At(X - 5, Y - 4 + 40), 255) : Background(X, Y);
  }));
  Paint(Dst);
  ImageCache->Draw(&Dst.Canvas, Close.Id, 5, 4, 28, 20, 0, 90, -1, -1, 221);
  EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
    bool In = X >= 5 && Y >= 4 && X < 33 && Y < 14;
    return In ? Over(Background(X, Y), R.At(X - 5, Y - 4 + 90), 221) : Background(X, Y);
  }));
  const SkinImage& Logo = Skin[0];
  Reference L = Decoded(Logo);
  Surface Big(60, 60);
  Paint(Big);
  ImageCache->DrawAt(&Big.Canvas, Logo.Id, 10, 10, 90);
  EXPECT_TRUE(Matches(Big, [&](int X, int Y) {
    bool In = X >= 10 && Y >= 10 && X < 58 && Y < 58;
    return In ? Over(Background(X, Y), L.At(X - 10, Y - 10), 90) : Background(X, Y);
  }));
}

// Within a batch (as a host's paint opens one) the picture drawn last stays selected in the
// cache's DC, so that another DC cannot select it; drawings are the same as outside a batch, also
// when pictures take turns; nested batches end with the outermost, which lets the picture go.
TEST(SkinPictures, ABatchKeepsThePictureDrawnLastOnlyWhileOpen) {
  HDC Other = CreateCompatibleDC(nullptr);
  auto SelectableElsewhere = [Other](void* Image) {
    HGDIOBJ Old = SelectObject(Other, static_cast<HGDIOBJ>(Image));
    if (Old) SelectObject(Other, Old);
    return Old != nullptr;
  };
  const SkinImage& Logo = Skin[0];
  const SkinImage& Tile = Skin[4];
  void* LogoImage = ImageCache->GetImage(Logo.Id)->Image;
  {
    TImageBatch Outer;
    {
      TImageBatch Inner;
      for (int Round = 0; Round < 2; ++Round)
        for (const SkinImage* S : {&Logo, &Tile}) {
          SCOPED_TRACE(std::string(S->Name) + " round " + std::to_string(Round));
          Reference R = Decoded(*S);
          Surface Dst(S->Width + 4, S->Height + 4);
          Paint(Dst);
          ImageCache->Draw(&Dst.Canvas, S->Id, 2, 2, -1, -1, 0, 0, -1, -1, 221);
          EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
            bool In = X >= 2 && Y >= 2 && X < 2 + S->Width && Y < 2 + S->Height;
            return In ? Over(Background(X, Y), R.At(X - 2, Y - 2), 221) : Background(X, Y);
          }));
        }
      EXPECT_TRUE(SelectableElsewhere(LogoImage)) << "the tile was drawn last";
      Surface Dst(Logo.Width, Logo.Height);
      ImageCache->DrawAt(&Dst.Canvas, Logo.Id, 0, 0);
      EXPECT_FALSE(SelectableElsewhere(LogoImage)) << "kept for the next draw";
    }
    EXPECT_FALSE(SelectableElsewhere(LogoImage)) << "the outer batch is still open";
  }
  EXPECT_TRUE(SelectableElsewhere(LogoImage)) << "let go with the last batch";
  Surface Dst(Logo.Width, Logo.Height);
  ImageCache->DrawAt(&Dst.Canvas, Logo.Id, 0, 0);
  EXPECT_TRUE(SelectableElsewhere(LogoImage)) << "never kept outside a batch";
  DeleteDC(Other);
}

TEST(SkinPictures, StretchedAndCutByCopy) {
  for (const SkinImage& S : Skin) {
    SCOPED_TRACE(S.Name);
    Reference R = Decoded(S);
    ASSERT_FALSE(R.P.empty());
    Surface Dst(2 * S.Width + 4, 2 * S.Height + 3);
    Paint(Dst);
    ImageCache->StretchDraw(&Dst.Canvas, S.Id, 2, 1, 2 * S.Width, 2 * S.Height);
    EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
      bool In = X >= 2 && Y >= 1 && X < 2 + 2 * S.Width && Y < 1 + 2 * S.Height;
      return In ? R.At((X - 2) / 2, (Y - 1) / 2) : Background(X, Y);
    }));
    // The lower right quarter, unscaled.
    int W = S.Width / 2, H = S.Height / 2, SX = S.Width - W, SY = S.Height - H;
    Paint(Dst);
    ImageCache->StretchDraw(&Dst.Canvas, S.Id, 1, 2, W, H, SX, SY, W, H);
    EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
      bool In = X >= 1 && Y >= 2 && X < 1 + W && Y < 2 + H;
      return In ? R.At(X - 1 + SX, Y - 2 + SY) : Background(X, Y);
    }));
  }
}

// Which source pixel a nine-slice destination pixel comes from along one axis: the first Lead
// pixels and the last Trail pixels at their place, the middle repeated from its start.
int SliceSource(int D, int DstLen, int SrcLen, int Lead, int Trail) {
  if (D < Lead) return D;
  if (D >= DstLen - Trail) return SrcLen - (DstLen - D);
  return Lead + (D - Lead) % (SrcLen - Lead - Trail);
}

TEST(SkinPictures, FramedNineSliceWithTiledCentre) {
  for (const SkinImage& S : Skin) {
    Reference R = Decoded(S);
    ASSERT_FALSE(R.P.empty());
    // Margins of four different sizes, so that a margin taken for another shows.
    int Left = std::min(8, S.Width / 4), Top = std::min(6, S.Height / 4);
    int Right = std::min(5, S.Width / 4), Bottom = std::min(7, S.Height / 4);
    int DW = 2 * S.Width + 7, DH = 2 * S.Height + 3;
    for (uint8_t Alpha : Alphas) {
      SCOPED_TRACE(std::string(S.Name) + " at alpha " + std::to_string(Alpha));
      Surface Dst(DW + 5, DH + 4);
      Paint(Dst);
      ImageCache->DrawFrame(&Dst.Canvas, Rect(3, 1, 3 + DW, 1 + DH), S.Id, Left, Top, Right, Bottom, 0, 0,
                            FrameCenterTiled, true, Alpha);
      EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
        if (X < 3 || Y < 1 || X >= 3 + DW || Y >= 1 + DH) return Background(X, Y);
        int SX = SliceSource(X - 3, DW, S.Width, Left, Right), SY = SliceSource(Y - 1, DH, S.Height, Top, Bottom);
        return Over(Background(X, Y), R.At(SX, SY), Alpha);
      }));
    }
  }
}

TEST(SkinPictures, FramedAsTheirUsersFrameThem) {
  // The step caption: rows 120 to the bottom, ends of 8 pixels, none above and below, a 37-pixel band.
  const SkinImage& Band = Skin[10];
  ASSERT_EQ(Band.Id, 5027u);
  Reference R = Decoded(Band);
  Surface Dst(300, 50);
  Paint(Dst);
  ImageCache->DrawFrame(&Dst.Canvas, Rect(0, 8, 292, 45), Band.Id, 8, 0, 8, 0, 120, 0, FrameCenterTiled, true, 255);
  EXPECT_TRUE(Matches(Dst, [&](int X, int Y) {
    if (X >= 292 || Y < 8 || Y >= 45) return Background(X, Y);
    return Over(Background(X, Y), R.At(SliceSource(X, 292, Band.Width, 8, 8), 120 + Y - 8), 255);
  }));

  // The tiles' hover frame with margins of 4 and alpha 100; then its centre left alone, and filled
  // with a colour that is made opaque when copying.
  const SkinImage& Hover = Skin[11];
  ASSERT_EQ(Hover.Id, 8040u);
  Reference H = Decoded(Hover);
  auto Frame = [&](int X, int Y, uint32_t Centre, bool Copy) {
    if (X < 2 || Y < 2 || X >= 2 + 232 || Y >= 2 + 136) return Background(X, Y);
    int SX = SliceSource(X - 2, 232, 16, 4, 4), SY = SliceSource(Y - 2, 136, 16, 4, 4);
    bool Mid = SX >= 4 && SX < 12 && SY >= 4 && SY < 12;
    if (Mid && Centre != 0) return Centre;
    if (Mid && Centre == 0) return Background(X, Y);
    return Copy ? H.At(SX, SY) : Over(Background(X, Y), H.At(SX, SY), 100);
  };
  Surface Tile(240, 140);
  Paint(Tile);
  ImageCache->DrawFrame(&Tile.Canvas, Rect(2, 2, 234, 138), Hover.Id, 4, 4, 4, 4, 0, 0, FrameCenterTiled, true, 100);
  EXPECT_TRUE(Matches(Tile, [&](int X, int Y) {
    if (X < 2 || Y < 2 || X >= 234 || Y >= 138) return Background(X, Y);
    return Over(Background(X, Y), H.At(SliceSource(X - 2, 232, 16, 4, 4), SliceSource(Y - 2, 136, 16, 4, 4)), 100);
  }));
  Paint(Tile);
  ImageCache->DrawFrame(&Tile.Canvas, Rect(2, 2, 234, 138), Hover.Id, 4, 4, 4, 4, 0, 0, FrameCenterNone, true, 100);
  EXPECT_TRUE(Matches(Tile, [&](int X, int Y) { return Frame(X, Y, 0, false); }));
  Paint(Tile);
  ImageCache->DrawFrame(&Tile.Canvas, Rect(2, 2, 234, 138), Hover.Id, 4, 4, 4, 4, 0, 0, 0x00FF0000 /* blue */, false);
  // Made opaque the way every pixel is given an alpha: colours times alpha shr 8.
  EXPECT_TRUE(Matches(Tile, [&](int X, int Y) { return Frame(X, Y, Px(255, 0, 0, 254), true); }));
}

// The marker: the hatch only inside its rectangle, the id in its text.
TEST(MissingPictures, DrawTheMarkerWithTheirId) {
  Surface A(160, 60), B(160, 60);
  A.Fill(0xFFFFFFFF);
  B.Fill(0xFFFFFFFF);
  ImageCache->Draw(&A.Canvas, 1014, 20, 10);
  ImageCache->Draw(&B.Canvas, 1015, 20, 10);
  EXPECT_EQ(ImageCache->GetWidth(1014), 0);
  EXPECT_EQ(ImageCache->GetHeight(1014), 0);
  GdiFlush();
  int Inside = 0, Outside = 0, TextDiffers = 0, HatchDiffers = 0, RowsReachingRight = 0, RowsReachingBottom = 0;
  for (int Y = 0; Y < 60; ++Y) {
    bool Right = false;
    for (int X = 0; X < 160; ++X) {
      bool In = X >= 20 && X < 120 && Y >= 10 && Y < 30;
      bool Black = (A.At(X, Y) & 0xFFFFFF) == 0;
      (In ? Inside : Outside) += Black;
      Right |= Black && X >= 112;
      RowsReachingBottom += Black && Y >= 22 && X < 30;
      if (A.At(X, Y) != B.At(X, Y)) (X < 90 ? TextDiffers : HatchDiffers)++;
    }
    RowsReachingRight += Right;
  }
  EXPECT_EQ(RowsReachingRight, 20) << "100 pixels wide: every row of the hatch has a crossing near its end";
  EXPECT_GT(RowsReachingBottom, 0) << "20 pixels high";
  EXPECT_GT(Inside, 100 * 20 / 8) << "the diagonal cross hatch";
  EXPECT_EQ(Outside, 0);
  EXPECT_GT(TextDiffers, 0) << "\"MI: 1014\" and \"MI: 1015\" look alike";
  EXPECT_EQ(HatchDiffers, 0);

  // Sizes given: the marker fills them (stretched draws and frames alike).
  A.Fill(0xFFFFFFFF);
  ImageCache->StretchDraw(&A.Canvas, 1014, 0, 0, 150, 50);
  ImageCache->DrawFrame(&A.Canvas, Rect(0, 52, 160, 60), 1014, 4, 4, 4, 4);
  GdiFlush();
  bool BlackRight = false, BlackBottom = false;
  for (int Y = 0; Y < 50; ++Y) BlackRight |= (A.At(149, Y) & 0xFFFFFF) == 0 || (A.At(148, Y) & 0xFFFFFF) == 0;
  for (int X = 0; X < 160; ++X) BlackBottom |= (A.At(X, 59) & 0xFFFFFF) == 0;
  EXPECT_TRUE(BlackRight);
  EXPECT_TRUE(BlackBottom);
  for (int Y = 0; Y < 50; ++Y) EXPECT_EQ(A.At(150, Y), 0xFFFFFFFFu);
}

// A damaged, opaque or absent skin picture, or an id no resource can have, never raises out of
// painting: it is logged once and draws the marker; the pictures around it still draw.
TEST(MissingPictures, BrokenOnesAreLoggedOnceAndPaintingGoesOn) {
  struct Case {
    TImageId Id;
    const char* Logged;
  } Cases[] = {
      {31, "no transparency information"},
      {32, "image 32: "},
      {33, "image 33: "},
      {1014, "no bitmap or PNG resource"},
      {0x1000A, "not an image id"},  // the low 16 bits name the logo
      {0, "not an image id"},
  };
  TImageCache Cache;
  LogCapture Logs;
  Surface Dst(120, 40);
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Id);
    for (int Round = 0; Round < 2; ++Round) {
      Dst.Fill(0xFFFFFFFF);
      EXPECT_NO_THROW(Cache.Draw(&Dst.Canvas, C.Id, 0, 0));
      EXPECT_NO_THROW(Cache.DrawFrame(&Dst.Canvas, Rect(0, 0, 50, 30), C.Id, 4, 4, 4, 4));
      GdiFlush();
      EXPECT_EQ(Dst.At(0, 0) & 0xFFFFFF, 0u) << "the hatch starts at the corner";
      EXPECT_EQ(Cache.GetWidth(C.Id), 0);
      EXPECT_EQ(Cache.GetImage(C.Id)->Image, nullptr);
    }
    int Count = 0;
    std::string Id = Format("image %u:", static_cast<unsigned>(C.Id));
    for (const std::string& L : Logs.Lines()) {
      if (L.find(Id) == std::string::npos) continue;
      ++Count;
      EXPECT_NE(L.find(C.Logged), std::string::npos) << L;
    }
    EXPECT_EQ(Count, 1);
  }
  EXPECT_EQ(Cache.GetWidth(10), 48);
  Dst.Fill(0);
  Cache.Draw(&Dst.Canvas, 10, 0, 0);
  GdiFlush();
  EXPECT_EQ(Dst.At(24, 24) >> 24, 255u) << "the logo is drawn after the broken ones";
}

TEST(ImageIds, Table) {
  struct Case {
    TImageId Id;
    TImageIdKind Kind;
  } Cases[] = {
      {10, ikResource},
      {0xFFFF, ikResource},
      {0, ikInvalid},
      {0x10000, ikInvalid},
      {0x1000A, ikInvalid},
      {0x1FFFFFFF, ikInvalid},
      {0x20000000, ikGenerated},
      {GeneratedImageId(5, 1023, 1023), ikGenerated},
      {0x40000000, ikDynamic},
      {0x7FFFFFFF, ikDynamic},
      {0x80000010, ikInvalid},
  };
  for (const Case& C : Cases) EXPECT_EQ(ImageIdKind(C.Id), C.Kind) << std::hex << C.Id;
  TImageId G = GeneratedImageId(7, 300, 200);
  EXPECT_EQ(G, 0x20000000u | 7u | 200u << 8 | 300u << 19);
  EXPECT_EQ(GeneratedBase(G), 7u);
  EXPECT_EQ(GeneratedWidth(G), 300);
  EXPECT_EQ(GeneratedHeight(G), 200);
}

// How each kind of id is served by the cache: a resource (PNG or bitmap) once, a generated picture
// per size with its base left as it is, a named picture through the supplier.
TEST(ImageIds, ServedByKind) {
  TImageCache Cache;
  TCachedImage* Logo = Cache.GetImage(10);
  void* Handle = Logo->Image;
  EXPECT_EQ(Cache.GetImage(10), Logo);
  EXPECT_EQ(Logo->Image, Handle) << "loaded once";
  EXPECT_EQ(Cache.GetWidth(0x1000A), 0);

  // The plain bitmap resource, as a 32-bit DIB of its colours.
  ASSERT_EQ(Cache.GetWidth(35), 4);
  EXPECT_EQ(Cache.GetHeight(35), 3);
  Surface Bmp(4, 3);
  Bmp.Fill(0);
  Cache.StretchDraw(&Bmp.Canvas, 35, 0, 0);
  GdiFlush();
  EXPECT_EQ(Bmp.At(3, 2) & 0xFFFFFF, Px(0, 180, 160, 200));

  // Generated: unknown bases draw the marker; a registered base at its size and at another.
  EXPECT_EQ(Cache.GetWidth(GeneratedImageId(4)), 0);
  int Painted = 0;
  Cache.RegisterGeneratedImage(3, 12, 8, [&](TCanvas* C, const TRect& R, void* Data) {
    ++Painted;
    EXPECT_EQ(GeneratedBase(static_cast<TImageId>(reinterpret_cast<uintptr_t>(Data))), 3u);
    HBRUSH Brush = CreateSolidBrush(0x0000FF);
    RECT W{R.Left, R.Top, R.Right, R.Bottom};
    FillRect(static_cast<HDC>(C->Handle()), &W, Brush);
    DeleteObject(Brush);
  }, 2);
  EXPECT_EQ(Cache.GetWidth(GeneratedImageId(3)), 12);
  EXPECT_EQ(Cache.GetHeight(GeneratedImageId(3, 12, 8)), 8);
  TImageId Sized = GeneratedImageId(3, 20, 10);
  EXPECT_EQ(Cache.GetWidth(Sized), 20);
  EXPECT_EQ(Cache.GetHeight(Sized), 10);
  EXPECT_EQ(Cache.GetWidth(GeneratedImageId(3)), 12) << "the base keeps its size";
  EXPECT_EQ(Cache.GetWidth(GeneratedImageId(3, 0, 10)), 12);
  EXPECT_EQ(Painted, 3);
  Surface Gen(20, 10);
  Gen.Fill(0);
  Cache.DrawAt(&Gen.Canvas, Sized, 0, 0);
  GdiFlush();
  EXPECT_EQ(Gen.At(19, 9), Px(255, 255, 0, 0));

  // Dynamic: without a supplier the default; with one, numbered in order of first use.
  EXPECT_EQ(Cache.GetDynamicImageId("cover", 77, 20, 20), 77u);
  bool Ready = false;
  int Changes = 0;
  Cache.OnChange = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Cache);
    ++Changes;
  };
  Cache.OnSupplyImage = [&](TObject*, TDynConImage* Entry, TBitmap* B) {
    if (!Ready && CompareText(Entry->Name(), "cover") == 0) return;
    B->SetPixelFormat(pf32bit);
    B->SetSize(Entry->RequestedWidth(), Entry->RequestedHeight());
  };
  EXPECT_EQ(Cache.GetDynamicImageId("Cover", 77, 120, 5), 77u) << "pending: the default";
  EXPECT_TRUE(Cache.RetryTimerEnabled());
  TCachedImage* Placeholder = Cache.GetImage(0x40000000);
  EXPECT_EQ(Placeholder->Width, 96) << "clamped to 10..96";
  EXPECT_EQ(Placeholder->Height, 10);
  EXPECT_EQ(Cache.GetDynamicImageId("artist", 0, 30, 20), 0x40000001u);
  EXPECT_EQ(Cache.GetDynamicImageId("COVER", 0, 1, 1), 0x40000000u) << "names are compared without case";
  EXPECT_EQ(Cache.GetWidth(0x40000001), 30);
  EXPECT_EQ(Cache.GetWidth(0x40000009), 0);
  Cache.RetryPending();
  EXPECT_EQ(Changes, 0);
  EXPECT_TRUE(Cache.RetryTimerEnabled());
  Ready = true;
  Cache.RetryPending();
  EXPECT_EQ(Changes, 1);
  EXPECT_FALSE(Cache.RetryTimerEnabled());
  EXPECT_EQ(Cache.GetDynamicImageId("cover", 77, 0, 0), 0x40000000u);
  EXPECT_EQ(Cache.GetWidth(0x40000000), 120);

  // Names.
  Cache.RegisterImageName("Logo", 10);
  EXPECT_EQ(Cache.IdFromString("25"), 25u);
  EXPECT_EQ(Cache.IdFromString("logo"), 10u);
  EXPECT_EQ(Cache.IdFromString("nothing"), 0u);
}

// A supplier that raises leaves the named picture pending; nothing leaves the cache.
TEST(ImageIds, FailingSupplierKeepsThePlaceholder) {
  TImageCache Cache;
  LogCapture Logs;
  Cache.OnSupplyImage = [](TObject*, TDynConImage*, TBitmap*) { throw Exception(L"no cover"); };
  TImageId Id = 0;
  EXPECT_NO_THROW(Id = Cache.GetDynamicImageId("cover", 5, 40, 40));
  EXPECT_EQ(Id, 5u);
  EXPECT_EQ(Cache.GetWidth(0x40000000), 40);
  EXPECT_NO_THROW(Cache.RetryPending());
  EXPECT_TRUE(Cache.RetryTimerEnabled());
  EXPECT_EQ(Logs.Lines().size(), 2u);
}

// All skin pictures laid out as the program shows them, kept as a test artefact.
TEST(SkinPictures, ContactSheet) {
  Surface Sheet(830, 560);
  GdiFlush();
  std::fill_n(&Sheet.At(0, 0), 830 * 560, 0xFFE4EEF2u);  // the caption colour 0xF2EEE4
  TCanvas* C = &Sheet.Canvas;
  ImageCache->DrawAt(C, 20, 0, 0);
  ImageCache->DrawAt(C, 10, 10, 10);
  for (int Frame = 0; Frame < 5; ++Frame) {
    ImageCache->Draw(C, 21, 794 - 2 - 28 - 30 - 34 * Frame, 100, 28, 20, 0, 20 * Frame);
    ImageCache->Draw(C, 22, 794 - 2 - 28 - 34 * Frame, 130, 28, 20, 0, 20 * Frame);
  }
  ImageCache->Draw(C, 21, 794 - 2 - 28 - 30, 0, 28, 20, 0, 0);
  ImageCache->Draw(C, 22, 794 - 2 - 28, 0, 28, 20, 0, 0);
  const TImageId Tiles[] = {23, 27, 28, 25, 26};
  for (int I = 0; I < 5; ++I) {
    int X = 20 + (I % 3) * 276 - (I % 3 == 2 ? 20 : 0), Y = 170 + (I / 3) * 168;
    if (I == 1) ImageCache->DrawFrame(C, Rect(X, Y, X + 232, Y + 136), 8040, 4, 4, 4, 4, 0, 0, FrameCenterTiled, true, 100);
    ImageCache->DrawAt(C, Tiles[I], X + 8 + (I == 4), Y + 2 + (I == 4), I == 4 ? 221 : 255);
  }
  ImageCache->DrawFrame(C, Rect(560, 350, 820, 387), 5027, 8, 0, 8, 0, 120);
  for (int I = 0; I < 3; ++I) ImageCache->DrawAt(C, 8044 + I, 580 + 70 * I, 420);
  ImageCache->DrawAt(C, 29, 0, 530);

  CreateDirectoryW(L"artefacts", nullptr);
  const wchar_t* Path = L"artefacts\\toolkit_test_skin.bmp";
  GdiFlush();
  BITMAPINFOHEADER Info{};
  Info.biSize = sizeof Info;
  Info.biWidth = Sheet.Width();
  Info.biHeight = -Sheet.Height();
  Info.biPlanes = 1;
  Info.biBitCount = 32;
  DWORD Bytes = static_cast<DWORD>(Sheet.Width() * Sheet.Height() * 4);
  BITMAPFILEHEADER File{};
  File.bfType = 0x4D42;
  File.bfOffBits = sizeof File + sizeof Info;
  File.bfSize = File.bfOffBits + Bytes;
  FILE* F = _wfopen(Path, L"wb");
  ASSERT_NE(F, nullptr);
  std::fwrite(&File, sizeof File, 1, F);
  std::fwrite(&Info, sizeof Info, 1, F);
  std::fwrite(Sheet.Bits(), 1, Bytes, F);
  std::fclose(F);
  // Every picture left its mark: the sheet holds no marker (no black) and the tiles' colours.
  int Black = 0;
  for (int Y = 0; Y < 560; ++Y)
    for (int X = 0; X < 830; ++X) Black += (Sheet.At(X, Y) & 0xFFFFFF) == 0;
  EXPECT_EQ(Black, 0);
}

}  // namespace
