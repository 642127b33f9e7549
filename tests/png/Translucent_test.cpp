// The translucent loader on RCDATA fixtures compiled into this executable (Resources.rc).
#include <gtest/gtest.h>

#include <windows.h>

#include "PngTestUtil.h"
#include "ResourceIds.h"
#include "png/TranslucentPng.h"

using namespace pngtest;

namespace {

struct TBits {
  int Width = 0, Height = 0, BitCount = 0;
  std::vector<uint8_t> Bytes;  // BGRA rows in memory order (the first is the top row of a top-down DIB)
};

TBits BitsOf(HBITMAP Bmp) {
  DIBSECTION ds{};
  TBits b;
  if (GetObjectW(Bmp, sizeof(ds), &ds) != sizeof(ds)) return b;
  b.Width = ds.dsBmih.biWidth;
  b.Height = ds.dsBm.bmHeight;
  b.BitCount = ds.dsBmih.biBitCount;
  const auto* p = static_cast<const uint8_t*>(ds.dsBm.bmBits);
  b.Bytes.assign(p, p + size_t(ds.dsBm.bmWidthBytes) * ds.dsBm.bmHeight);
  return b;
}

// The loaded resource's bytes, or the error's text.
std::string Load(const char* Name, TBits& Out) {
  try {
    HBITMAP bmp = static_cast<HBITMAP>(LoadTranslucentPng(Name));
    Out = BitsOf(bmp);
    DeleteObject(bmp);
    return "";
  } catch (const Exception& E) {
    return ErrorText(E);
  }
}

std::vector<uint8_t> Bgra(std::initializer_list<int> V) { return std::vector<uint8_t>(V.begin(), V.end()); }

TEST(TranslucentPng, PremultipliedTopDownBgra) {
  // The RGBA fixture: row 0 (255,128,0,128) (10,20,30,0) (255,255,255,255);
  // row 1 (0,0,255,255) (200,100,50,64) (1,2,3,4).
  const auto rgba = Bgra({0, 64, 127, 128, 0, 0, 0, 0, 254, 254, 254, 255,  //
                          254, 0, 0, 255, 12, 25, 50, 64, 0, 0, 0, 4});
  // Palette fixtures: pixels of index 1, 0, 1; entry 1 red, tRNS [0, 128].
  const auto palette = Bgra({0, 0, 128, 128, 0, 0, 0, 0, 0, 0, 128, 128});
  struct Case {
    const char* Name;
    int Id;
    int Width, Height;
    std::vector<uint8_t> Expected;
  } cases[] = {
      {"RGBA 8", ID_RGBA8, 3, 2, rgba},
      {"RGBA 16", ID_RGBA16, 3, 2, rgba},
      {"RGBA 8 interlaced", ID_RGBA8_ADAM7, 3, 2, rgba},
      {"grey + alpha 8", ID_GA8, 3, 1, Bgra({78, 78, 78, 100, 254, 254, 254, 255, 0, 0, 0, 0})},
      {"grey + alpha 16", ID_GA16, 3, 1, Bgra({78, 78, 78, 100, 254, 254, 254, 255, 0, 0, 0, 0})},
      {"palette 1-bit", ID_PAL1, 3, 1, palette},
      {"palette 2-bit", ID_PAL2, 3, 1, palette},
      {"palette 4-bit", ID_PAL4, 3, 1, palette},
      {"palette 8-bit", ID_PAL8, 3, 1, palette},
      // One partly transparent entry alone is graded alpha too.
      {"palette [255,128]", ID_PAL_SINGLE, 3, 1, Bgra({0, 0, 128, 128, 0, 0, 0, 255, 0, 0, 128, 128})},
  };
  for (const auto& c : cases) {
    TBits b;
    ASSERT_EQ(Load(MAKEINTRESOURCEA(c.Id), b), "") << c.Name;
    EXPECT_EQ(b.Width, c.Width) << c.Name;
    EXPECT_EQ(b.Height, c.Height) << c.Name;
    EXPECT_EQ(b.BitCount, 32) << c.Name;
    EXPECT_EQ(b.Bytes, c.Expected) << c.Name;
  }
  TBits named;
  ASSERT_EQ(Load("SKIN_RGBA", named), "");
  EXPECT_EQ(named.Bytes, rgba);
}

TEST(TranslucentPng, ImagesWithoutGradedAlphaAndMissingResources) {
  const std::string noAlpha = "Exception: LoadTranslucentPng: image has no transparency information";
  struct Case {
    const char* Name;
    int Id;
    std::string Expected;
  } cases[] = {
      {"RGB", ID_RGB, noAlpha},
      {"RGB + tRNS", ID_RGB_KEY, noAlpha},
      {"palette, one entry keyed out", ID_PAL_KEY, noAlpha},
      {"missing", 999, "EPNGCouldNotLoadResource: The png image could not be loaded from the resource ID."},
      {"damaged", ID_BROKEN, "EPngUnexpectedEnd: This \"Portable Network Graphics\" image is invalid because the "
                             "decoder found an unexpected end of the file."},
  };
  for (const auto& c : cases) {
    TBits b;
    EXPECT_EQ(Load(MAKEINTRESOURCEA(c.Id), b), c.Expected) << c.Name;
  }
}

}  // namespace
