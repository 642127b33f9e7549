// The graphic object: empty images, bitmaps in and out, drawing in its three transparency modes,
// resizing, pixels and the picture class's registration.
#include <gtest/gtest.h>

#include <windows.h>

#include "PngTestUtil.h"

using namespace pngtest;

namespace {

// A 24-bit bitmap filled with Colour.
std::unique_ptr<TBitmap> Canvas24(int W, int H, TColor Colour) {
  auto b = std::make_unique<TBitmap>();
  b->SetPixelFormat(pf24bit);
  b->SetSize(W, H);
  HDC dc = static_cast<HDC>(b->Canvas()->Handle());
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) SetPixel(dc, x, y, Colour);
  return b;
}

TColor PixelOf(TBitmap& B, int X, int Y) { return TColor(GetPixel(static_cast<HDC>(B.Canvas()->Handle()), X, Y)); }

// A 2 × 2 RGBA image: red half transparent, green opaque / blue transparent, white opaque.
std::string RgbaFixture() {
  std::string raw = std::string(1, '\0') + std::string("\xff\x00\x00\x80\x00\xff\x00\xff", 8) + std::string(1, '\0') +
                    std::string("\x00\x00\xff\x00\xff\xff\xff\xff", 8);
  return Signature() + Ihdr(2, 2, 8, 6) + Chunk("IDAT", Zlib(raw)) + Chunk("IEND", "");
}

TEST(PngObject, NewImageIsEmpty) {
  TPNGObject png;
  EXPECT_TRUE(png.Empty());
  EXPECT_EQ(png.Width(), 0);
  EXPECT_EQ(png.Height(), 0);
  EXPECT_EQ(png.FilterSet(), pfSub);
  EXPECT_EQ(png.DeflateLevel(), 7);
  EXPECT_EQ(png.InterlaceMode(), 0);
  png.SetMaxIdatChunkSize(1000);
  EXPECT_EQ(png.MaxIdatChunkSize(), 65535);
  png.SetMaxIdatChunkSize(100000);
  EXPECT_EQ(png.MaxIdatChunkSize(), 100000);
  auto target = Canvas24(4, 4, Rgb(1, 2, 3));
  png.Draw(target->Canvas(), Rect(0, 0, 4, 4));
  EXPECT_EQ(PixelOf(*target, 1, 1), Rgb(1, 2, 3));
  try {
    png.Header();
    ADD_FAILURE() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(ErrorText(E), "EPNGHeaderNotPresent: This operation is not valid because the current image contains no valid header.");
  }
  try {
    png.LoadFromResourceID(GetModuleHandleW(nullptr), 4242);
    ADD_FAILURE() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(ErrorText(E), "EPNGCouldNotLoadResource: The png image could not be loaded from the resource ID.");
  }
}

TEST(PngObject, RegisteredWithThePictureClass) {
  TGraphicClass make = TPicture::GraphicClassOf("png");
  ASSERT_NE(make, nullptr);
  EXPECT_EQ(TPicture::DescriptionOf("PNG"), "Portable Network Graphics");
  std::unique_ptr<TGraphic> g(make());
  EXPECT_STREQ(g->ClassName(), "TPNGObject");
}

TEST(PngObject, FromBitmaps) {
  // 24-bit: an RGB image of depth 8.
  auto b24 = Canvas24(5, 3, Rgb(10, 20, 30));
  SetPixel(static_cast<HDC>(b24->Canvas()->Handle()), 4, 0, Rgb(200, 100, 50));
  TPNGObject png;
  png.Assign(b24.get());
  EXPECT_EQ(ChunkNames(png), "IHDR IDAT IEND");
  EXPECT_EQ(png.Header()->ColorType(), 2);
  EXPECT_EQ(png.Header()->BitDepth(), 8);
  auto again = Load(Save(png));
  EXPECT_EQ(again->GetPixelColor(4, 0), Rgb(200, 100, 50));
  EXPECT_EQ(again->GetPixelColor(0, 2), Rgb(10, 20, 30));

  // 8-bit with a transparent colour: a palette image keyed on that colour.
  TBitmap b8;
  b8.SetPixelFormat(pf8bit);
  b8.SetSize(4, 2);
  HDC dc = static_cast<HDC>(b8.Canvas()->Handle());
  RGBQUAD table[256] = {};
  table[1] = RGBQUAD{0, 0, 255, 0};
  table[2] = RGBQUAD{255, 0, 0, 0};
  SetDIBColorTable(dc, 0, 256, table);
  DIBSECTION ds{};
  GetObjectW(static_cast<HBITMAP>(b8.Handle()), sizeof(ds), &ds);
  auto* bits = static_cast<uint8_t*>(ds.dsBm.bmBits);
  bits[0] = 1;  // bottom row, first pixel: red
  bits[1] = 2;  // blue
  b8.SetTransparentColor(Rgb(0, 0, 255));
  b8.SetTransparent(true);
  png.Assign(&b8);
  EXPECT_EQ(ChunkNames(png), "IHDR PLTE tRNS IDAT IEND");
  EXPECT_EQ(png.Header()->ColorType(), 3);
  EXPECT_EQ(png.TransparencyMode(), ptBit);
  auto keyed = Load(Save(png));
  EXPECT_EQ(keyed->TransparentColor(), Rgb(0, 0, 255));
  EXPECT_EQ(keyed->GetPixelColor(0, 1), Rgb(255, 0, 0));
  EXPECT_EQ(keyed->GetPixelColor(1, 1), Rgb(0, 0, 255));

  // 32-bit: RGB, alpha dropped.
  TBitmap b32;
  b32.SetPixelFormat(pf32bit);
  b32.SetSize(2, 2);
  png.Assign(&b32);
  EXPECT_EQ(png.Header()->ColorType(), 2);

  // Nothing clears; another class is refused.
  png.Assign(nullptr);
  EXPECT_TRUE(png.Empty());
  TFont font;
  EXPECT_THROW(png.Assign(&font), EConvertError);
}

TEST(PngObject, ToBitmaps) {
  struct Case {
    const char* Name;
    std::string Bytes;
    TPixelFormat Format;
  } cases[] = {
      {"RGBA", RgbaFixture(), pf24bit},
      {"palette 1-bit", SimplePng(9, 4, 1, 3), pf1bit},
      {"grey 2-bit", SimplePng(9, 4, 2, 0), pf4bit},
      {"palette 4-bit", SimplePng(9, 4, 4, 3), pf4bit},
      {"palette 8-bit", SimplePng(9, 4, 8, 3), pf8bit},
      {"grey 16-bit", SimplePng(9, 4, 16, 0), pf24bit},
      {"RGB 8-bit", SimplePng(9, 4, 8, 2), pf24bit},
  };
  for (const auto& c : cases) {
    auto png = Load(c.Bytes);
    TBitmap bmp;
    bmp.Assign(png.get());
    EXPECT_EQ(bmp.PixelFormat(), c.Format) << c.Name;
    EXPECT_EQ(bmp.Width(), png->Width()) << c.Name;
    if (png->TransparencyMode() != ptNone) continue;
    for (int y = 0; y < png->Height(); ++y)
      for (int x = 0; x < png->Width(); ++x)
        ASSERT_EQ(PixelOf(bmp, x, y), png->GetPixelColor(x, y)) << c.Name << " " << x << "," << y;
  }
  // A keyed image hands its key on.
  auto keyed = Load(SimplePng(4, 2, 8, 2, Chunk("tRNS", std::string("\0\1\0\2\0\3", 6))));
  TBitmap bmp;
  bmp.Assign(keyed.get());
  EXPECT_EQ(bmp.TransparentColor(), Rgb(1, 2, 3));
  // And back again through the clipboard format.
  auto rgb = Load(SimplePng(6, 5, 8, 2));
  uint16_t format = 0;
  void *data = nullptr, *palette = nullptr;
  rgb->SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, CF_BITMAP);
  TPNGObject back;
  back.LoadFromClipboardFormat(format, data, palette);
  DeleteObject(static_cast<HBITMAP>(data));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) ASSERT_EQ(back.GetPixelColor(x, y), rgb->GetPixelColor(x, y));
}

TEST(PngObject, PaletteEntries) {
  auto png = Load(SimplePng(3, 2, 2, 3));
  auto* plte = png->Chunks().ItemFromClass<TChunkPLTE>();
  ASSERT_NE(plte, nullptr);
  EXPECT_EQ(plte->Count(), 4);
  TPngRGBQuad c = plte->Item(3);
  EXPECT_EQ(Rgb(c.Red, c.Green, c.Blue), Rgb(3 * 37 + 5, 255 - 33, uint8_t(3 * 91)));
  try {
    plte->Item(4);
    ADD_FAILURE() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(ErrorText(E), "EPngError: There is no such palette entry.");
  }
  // Assigning a chunk of another kind is refused.
  try {
    png->Header()->Assign(plte);
    ADD_FAILURE() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(ErrorText(E), "EPngError: The chunks must be compatible to be assigned.");
  }
  // A copy of the image has its own chunks and the same pixels.
  TPNGObject copy;
  copy.Assign(png.get());
  EXPECT_EQ(ChunkNames(copy), ChunkNames(*png));
  EXPECT_NE(copy.Header(), png->Header());
  for (int x = 0; x < 3; ++x) EXPECT_EQ(copy.GetPixelColor(x, 1), png->GetPixelColor(x, 1));
  EXPECT_EQ(Save(copy), Save(*png));
}

TEST(PngObject, BitmapFilesRoundTrip) {
  for (TPixelFormat f : {pf8bit, pf24bit, pf32bit}) {
    TBitmap b;
    b.SetPixelFormat(f);
    b.SetSize(5, 3);
    HDC dc = static_cast<HDC>(b.Canvas()->Handle());
    SetPixel(dc, 1, 0, Rgb(255, 255, 255));
    SetPixel(dc, 4, 2, Rgb(0, 0, 0));
    TMemoryStream s;
    b.SaveToStream(&s);
    s.SetPosition(0);
    TBitmap back;
    back.LoadFromStream(&s);
    EXPECT_EQ(back.Width(), 5);
    EXPECT_EQ(back.Height(), 3);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) EXPECT_EQ(PixelOf(back, x, y), PixelOf(b, x, y)) << f << " " << x << "," << y;
  }
  TMemoryStream junk;
  junk.Write("BM not a bitmap at all, just words", 34);
  junk.SetPosition(0);
  TBitmap b;
  EXPECT_THROW(b.LoadFromStream(&junk), EInvalidGraphic);
}

TEST(PngObject, DrawsInEachTransparencyMode) {
  // Partial: each channel (source × a + 255 + (255 − a) × destination) >> 8, over white.
  auto rgba = Load(RgbaFixture());
  auto target = Canvas24(4, 4, Rgb(255, 255, 255));
  rgba->Draw(target->Canvas(), Rect(0, 0, 4, 4));  // twice the size: each pixel covers 2 × 2
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) {
      EXPECT_EQ(PixelOf(*target, x, y), Rgb(255, 127, 127)) << x << "," << y;
      EXPECT_EQ(PixelOf(*target, 2 + x, y), Rgb(0, 255, 0));
      EXPECT_EQ(PixelOf(*target, x, 2 + y), Rgb(255, 255, 255));  // transparent blue leaves the white
      EXPECT_EQ(PixelOf(*target, 2 + x, 2 + y), Rgb(255, 255, 255));
    }

  // Bit: the key colour shows the background.
  std::string raw = std::string(1, '\0') + std::string("\x01\x02\x03\xc8\x64\x32", 6);
  auto keyed = Load(Signature() + Ihdr(2, 1, 8, 2) + Chunk("tRNS", std::string("\0\1\0\2\0\3", 6)) +
                    Chunk("IDAT", Zlib(raw)) + Chunk("IEND", ""));
  ASSERT_EQ(keyed->TransparencyMode(), ptBit);
  target = Canvas24(6, 3, Rgb(9, 9, 9));
  keyed->Draw(target->Canvas(), Rect(1, 1, 5, 2));
  EXPECT_EQ(PixelOf(*target, 1, 1), Rgb(9, 9, 9));
  EXPECT_EQ(PixelOf(*target, 2, 1), Rgb(9, 9, 9));
  EXPECT_EQ(PixelOf(*target, 3, 1), Rgb(200, 100, 50));
  EXPECT_EQ(PixelOf(*target, 4, 1), Rgb(200, 100, 50));
  EXPECT_EQ(PixelOf(*target, 0, 0), Rgb(9, 9, 9));

  // None: the picture stretched over the rectangle.
  auto plain = Load(Signature() + Ihdr(2, 1, 8, 2) + Chunk("IDAT", Zlib(raw)) + Chunk("IEND", ""));
  plain->Draw(target->Canvas(), Rect(0, 0, 6, 3));
  EXPECT_EQ(PixelOf(*target, 0, 0), Rgb(1, 2, 3));
  EXPECT_EQ(PixelOf(*target, 5, 2), Rgb(200, 100, 50));

  // Palette with graded alpha blends the palette colour.
  auto pal = Load(Signature() + Ihdr(1, 1, 8, 3) + Chunk("PLTE", std::string("\xff\x00\x00\x00\x00\xff", 6)) +
                  Chunk("tRNS", std::string("\x80\x00", 2)) + Chunk("IDAT", Zlib(std::string(2, '\0'))) + Chunk("IEND", ""));
  target = Canvas24(1, 1, Rgb(0, 0, 0));
  pal->Draw(target->Canvas(), Rect(0, 0, 1, 1));
  EXPECT_EQ(PixelOf(*target, 0, 0), Rgb(128, 0, 0));
}

TEST(PngObject, ResizeAndPixels) {
  auto png = Load(RgbaFixture());
  try {
    png->SetWidth(0);
    ADD_FAILURE() << "no error";
  } catch (const Exception& E) {
    EXPECT_EQ(ErrorText(E), "EPNGInvalidNewSize: The new size provided for image resizing is invalid.");
  }
  png->Resize(3, 4);
  EXPECT_EQ(png->Width(), 3);
  EXPECT_EQ(png->Height(), 4);
  uint8_t px[4];
  PixelRGBA(*png, 0, 0, px);
  EXPECT_EQ(Rgb(px[0], px[1], px[2]), Rgb(255, 0, 0));
  EXPECT_EQ(px[3], 128);
  PixelRGBA(*png, 1, 1, px);
  EXPECT_EQ(px[3], 255);
  PixelRGBA(*png, 2, 3, px);
  EXPECT_EQ(Rgb(px[0], px[1], px[2]), 0);
  EXPECT_EQ(px[3], 0);
  auto again = Load(Save(*png));
  EXPECT_EQ(again->GetPixelColor(1, 1), Rgb(255, 255, 255));
  png->SetHeight(1);
  EXPECT_EQ(png->GetPixelColor(0, 0), Rgb(255, 0, 0));

  // Pixels set and read back in each storage.
  for (const auto& bytes : {SimplePng(9, 3, 8, 2), SimplePng(9, 3, 4, 0), SimplePng(9, 3, 1, 0), SimplePng(9, 3, 8, 3)}) {
    auto p = Load(bytes);
    TColor c = p->Header()->ColorType() == 3 ? p->GetPixelColor(2, 2) : Rgb(255, 255, 255);
    p->SetPixelColor(7, 1, c);
    EXPECT_EQ(p->GetPixelColor(7, 1), c);
    EXPECT_EQ(Load(Save(*p))->GetPixelColor(7, 1), c);
  }
  // Growing a sub-byte image keeps its pixels; shrinking clears what falls outside.
  auto g1 = Load(SimplePng(11, 2, 1, 0));
  TColor keep = g1->GetPixelColor(2, 1);
  g1->Resize(3, 2);
  g1->Resize(20, 2);
  EXPECT_EQ(g1->GetPixelColor(2, 1), keep);
  EXPECT_EQ(g1->GetPixelColor(3, 1), 0);
}

}  // namespace
