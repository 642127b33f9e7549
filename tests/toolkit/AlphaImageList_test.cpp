// The alpha image list: images kept side by side in a 32-bit strip that grows by AllocBy cells,
// drawn from it with their own alpha (90 more when disabled), on a menu's highlight with the
// highlight colour behind.
#include <gtest/gtest.h>

#include "HostShots.h"
#include "Surface.h"
#include "toolkit/AlphaImageList.h"

namespace {

// A 16 x 16 premultiplied image: the left half opaque Colour, the right half Colour at alpha 128.
TBitmap* MakeImage(uint32_t Colour) {
  auto* b = new TBitmap;
  b->SetPixelFormat(pf32bit);
  b->SetSize(16, 16);
  HDC dc = static_cast<HDC>(b->Canvas()->Handle());
  GdiFlush();
  DIBSECTION ds{};
  GetObjectW(GetCurrentObject(dc, OBJ_BITMAP), sizeof ds, &ds);
  auto* bits = static_cast<uint8_t*>(ds.dsBm.bmBits);
  for (int y = 0; y < 16; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(bits + y * ds.dsBm.bmWidthBytes);
    for (int x = 0; x < 16; ++x) {
      uint32_t a = x < 8 ? 255 : 128;
      auto pm = [a](uint32_t c) { return c * a / 255; };
      row[x] = a << 24 | pm(Colour >> 16 & 0xFF) << 16 | pm(Colour >> 8 & 0xFF) << 8 | pm(Colour & 0xFF);
    }
  }
  return b;
}
uint32_t ImagePixel(uint32_t Colour, int X) {
  uint32_t a = X < 8 ? 255 : 128;
  auto pm = [a](uint32_t c) { return c * a / 255; };
  return a << 24 | pm(Colour >> 16 & 0xFF) << 16 | pm(Colour >> 8 & 0xFF) << 8 | pm(Colour & 0xFF);
}
// The W x H area at (X0, Y0) of Surface off Want(X, Y) (0xRRGGBB) by more than 2 in a channel.
template <class F>
int Off(Surface& S, int X0, int Y0, int W, int H, F Want) {
  GdiFlush();
  int bad = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      uint32_t got = S.At(X0 + x, Y0 + y) & 0xFFFFFF, want = Want(x, y);
      for (int s = 0; s < 24; s += 8)
        if (std::abs(static_cast<int>(got >> s & 0xFF) - static_cast<int>(want >> s & 0xFF)) > 2) {
          if (bad++ < 3) ADD_FAILURE() << x << "," << y << ": " << std::hex << got << " want " << want;
          break;
        }
    }
  return bad;
}

}  // namespace

TEST(AlphaImageList, StripGrowsByAllocByAndImagesDrawWithTheirAlpha) {
  TAlphaImageList list(nullptr);
  list.SetAllocBy(2);
  const uint32_t colours[3] = {0xC02040, 0x20C040, 0x2040C0};
  int widths[3];
  for (int i = 0; i < 3; ++i) {
    std::unique_ptr<TBitmap> image(MakeImage(colours[i]));
    EXPECT_EQ(list.Add(image.get(), nullptr), i);
    widths[i] = list.Strip()->GetWidth();
  }
  EXPECT_EQ(widths[0], 32);  // room for AllocBy images
  EXPECT_EQ(widths[1], 32);
  EXPECT_EQ(widths[2], 64);  // full: (count + AllocBy) images
  EXPECT_EQ(list.Strip()->GetHeight(), 16);
  EXPECT_EQ(list.ImageCount(), 3);
  EXPECT_EQ(list.Count(), 3);  // the system list has them too

  // Each image from its own cell, over white: at 255, and at 90 disabled.
  Surface s(60, 30);
  for (bool enabled : {true, false}) {
    s.Fill(0xFFFFFFFF);
    s.Canvas.Brush()->SetColor(clWhite);
    for (int i = 0; i < 3; ++i) list.Draw(&s.Canvas, 2 + 20 * i, 5, i, enabled);
    for (int i = 0; i < 3; ++i)
      EXPECT_EQ(Off(s, 2 + 20 * i, 5, 16, 16,
                    [&](int x, int) { return shots::Over(ImagePixel(colours[i], x), 0xFFFFFF, enabled ? 255 : 90); }),
                0)
          << "image " << i << (enabled ? "" : " disabled");
  }
  // An index past the images draws nothing.
  s.Fill(0xFFFFFFFF);
  list.Draw(&s.Canvas, 2, 5, 3);
  EXPECT_EQ(Off(s, 0, 0, 60, 30, [](int, int) { return 0xFFFFFFu; }), 0);

  // On a menu's highlight: one pixel around, three to the right and two below in the highlight
  // colour, the image blended over it.
  s.Fill(0xFFFFFFFF);
  s.Canvas.Brush()->SetColor(clMenuHighlight);
  list.Draw(&s.Canvas, 20, 5, 1);
  COLORREF h = static_cast<COLORREF>(ColorToRGB(clHighlight));
  uint32_t hl = GetRValue(h) << 16 | GetGValue(h) << 8 | GetBValue(h);
  EXPECT_EQ(Off(s, 19, 4, 20, 19,
                [&](int x, int y) {
                  bool image = x >= 1 && x < 17 && y >= 1 && y < 17;
                  return image ? shots::Over(ImagePixel(colours[1], x - 1), hl, 255) : hl;
                }),
            0);
  EXPECT_EQ(s.At(18, 10) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(s.At(39, 10) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(s.At(25, 23) & 0xFFFFFF, 0xFFFFFFu);

  // A new size empties the list; a missing image is refused.
  list.SetSize(24, 24);
  EXPECT_EQ(list.ImageCount(), 0);
  EXPECT_THROW(list.Add(nullptr, nullptr), EAssertionFailed);
  TBitmap empty;
  EXPECT_THROW(list.Add(&empty, nullptr), EAssertionFailed);
}
